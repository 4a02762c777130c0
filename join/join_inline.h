// Inline joins: a test on the parent partial alone. A parent that passes
// has one child, with a null record that keeps tuple positions aligned.
#ifndef QEL_JOIN_JOIN_INLINE_H
#define QEL_JOIN_JOIN_INLINE_H

#include "join/join_single.h"

class QelJoinMemInline : public QelJoinMemSingle {
 public:
  explicit QelJoinMemInline(QelContext* context) : QelJoinMemSingle(context) {}

  void rightRetract(QelInfo*) override {}
  void rightActivate(QelInfo*, int, int) override {}
  void leftActivate(QelPartial* parent, int depth, int mode) override;

 private:
  bool passes(QelPartial* parent) const {
    return joinNode()->testJoin(context, nullptr, parent) != 0;
  }
};

#endif  // QEL_JOIN_JOIN_INLINE_H
