// Plain joins: every pair of a parent and a right record that passes the
// node's test makes a child. Which parent a child came from is kept in the
// parent's child set for this join.
#ifndef QEL_JOIN_JOIN_PLAIN_H
#define QEL_JOIN_JOIN_PLAIN_H

#include "join/join_mem.h"

class QelJoinMemPlain : public QelJoinMem {
 public:
  explicit QelJoinMemPlain(QelContext* context);

  void rightRetract(QelInfo* record) override;
  void leftRetract(QelPartial* parent) override;
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void populate() override;
  void clear() override;
  void expireChildren(QelPartial* parent) override;
  void dropChild(QelPartial* child) override;

 private:
  void makeChild(QelPartial* parent, QelInfo* record, int depth);
  void rematch(QelPartial* parent, QelInfo* record, QelPartial* child,
               int depth, int mode);
  void rematchLeft(QelPartial* parent, int depth, int mode);
  void rematchRight(QelInfo* record, int mode);
};

#endif  // QEL_JOIN_JOIN_PLAIN_H
