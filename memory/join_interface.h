// A join memory as the memories below the joins see it.
//
// Alpha and right memories pass partials and records on to the join
// memories they feed, and a reference-counted partial hands itself back to
// the join that owns it; they all do it through this interface, declared
// here so that memory/ needs nothing of join/. QelJoinMem (join/join_mem.h)
// implements it; the slots keep the order of the join memory's virtual
// operations.
#ifndef QEL_MEMORY_JOIN_INTERFACE_H
#define QEL_MEMORY_JOIN_INTERFACE_H

#include "memory/node_mem.h"

class QelJoinInterface : public QelLeftMem {
 public:
  explicit QelJoinInterface(QelContext* context) : QelLeftMem(context) {}

  virtual void bindNode(QelJoinNode* node) = 0;
  // Takes back everything the join derived, telling its successors.
  virtual void retractContents() = 0;
  // A record left the right input.
  virtual void rightRetract(QelInfo* record) = 0;
  // A parent left the left input.
  virtual void leftRetract(QelPartial* parent) = 0;
  // A record entered the right input (mode 0) or was changed (1, 2).
  virtual void rightActivate(QelInfo* record, int depth, int mode) = 0;
  // A parent entered the left input (mode 0) or was changed (1, 2).
  virtual void leftActivate(QelPartial* parent, int depth, int mode) = 0;
  // Derives everything from the inputs as they stand.
  virtual void populate() = 0;
  // Empties the memory, telling nobody (context reset).
  virtual void clear() = 0;
  // A wait above expired: what was derived from `parent` is marked removed.
  virtual void expireChildren(QelPartial* parent) = 0;
  // Takes one child out of the memory's indexes and list, and deletes it.
  virtual void dropChild(QelPartial* child) = 0;
};

#endif  // QEL_MEMORY_JOIN_INTERFACE_H
