// The qel run-time library: everything generated ruleset code needs.
#ifndef QEL_H
#define QEL_H

#include "qel_export.h"
#include "qel_list.h"
#include "qel_table.h"
#include "qel_partial.h"
#include "qel_network.h"
#include "qel_class.h"
#include "qel_context.h"
#include "qel_iterator.h"

#endif  // QEL_H
