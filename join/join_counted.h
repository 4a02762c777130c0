// Counted joins: exists, not, count and collect conditions after the first
// pattern.
//
// A counted join keeps, per parent, the set of right records that pass the
// test with it (the parent's child set for this join, which holds records
// here, not partials), and derives at most one child per parent, whose
// existence follows the condition on that set. The child adds no object to
// the tuple, except for collect, whose child's record stands for the set.
#ifndef QEL_JOIN_JOIN_COUNTED_H
#define QEL_JOIN_JOIN_COUNTED_H

#include <vector>

#include "join/join_single.h"

class QelJoinMemCounted : public QelJoinMemSingle {
 public:
  explicit QelJoinMemCounted(QelContext* context);

  void rightRetract(QelInfo* record) override;
  void leftRetract(QelPartial* parent) override;
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void clear() override;
  // Applies the condition to the parent's match set after a change or a
  // recount; `child` is the parent's child, or null when it has none.
  // Returns the child when it existed before and stays, else null.
  virtual QelPartial* countChanged(int count, QelPartial* parent,
                                   QelPartial* child) = 0;

 protected:
  // A parent's match set is made when the first record joins it, so the
  // parents that match nothing (most of a not-join's) carry no set.
  QelOrderedSet* matchSet(QelPartial* parent) { return parent->childSet(this); }
  // The shared decision of exists, not and count.
  QelPartial* follow(bool holds, QelPartial* parent, QelPartial* child);
  // `key`: the parent's left key, when the join is keyed.
  int recount(QelPartial* parent, void* key);
  void forget(QelInfo* record, QelPartial* parent);

 private:
  void rightActivateParent(QelInfo* record, QelPartial* parent, int mode,
                           bool always);
  void rightActivateByKey(QelInfo* record, int mode);
};

class QelJoinMemExists : public QelJoinMemCounted {
 public:
  explicit QelJoinMemExists(QelContext* context) : QelJoinMemCounted(context) {}
  QelPartial* countChanged(int count, QelPartial* parent,
                           QelPartial* child) override;
};

class QelJoinMemNot : public QelJoinMemCounted {
 public:
  explicit QelJoinMemNot(QelContext* context) : QelJoinMemCounted(context) {}
  QelPartial* countChanged(int count, QelPartial* parent,
                           QelPartial* child) override;
};

class QelJoinMemCount : public QelJoinMemCounted {
 public:
  explicit QelJoinMemCount(QelContext* context) : QelJoinMemCounted(context) {}
  QelPartial* countChanged(int count, QelPartial* parent,
                           QelPartial* child) override;
};

class QelJoinMemCollect : public QelJoinMemCounted {
 public:
  explicit QelJoinMemCollect(QelContext* context)
      : QelJoinMemCounted(context) {}
  void retractContents() override;
  void clear() override;
  void dropChild(QelPartial* child) override;
  QelPartial* countChanged(int count, QelPartial* parent,
                           QelPartial* child) override;

 private:
  void freeCollectRecords();
};

#endif  // QEL_JOIN_JOIN_COUNTED_H
