// The base of the joins that derive at most one child per parent: counted,
// object-unique, packet, inline and wait joins. The child is found through
// `childTable`; everything these joins do alike with it is here.
#ifndef QEL_JOIN_JOIN_SINGLE_H
#define QEL_JOIN_JOIN_SINGLE_H

#include "join/join_mem.h"
#include "util/pointer_map.h"

class QelJoinMemSingle : public QelJoinMem {
 public:
  // Parent -> its one child; a parent without a child is absent. A pointer
  // map, not a chained table: parents come and go by the hundred with every
  // change of the objects at the head of a rule, and a chained table would
  // allocate a node per child and resize as they come and go.
  QelPointerMap childTable{QelKeyKind::kAddresses};

  explicit QelJoinMemSingle(QelContext* context) : QelJoinMem(context) {}

  void retractContents() override;
  void leftRetract(QelPartial* parent) override;
  // Left-activates every parent as new.
  void populate() override;
  void clear() override;
  void expireChildren(QelPartial* parent) override;
  void dropChild(QelPartial* child) override;

 protected:
  QelPartial* childOf(const QelPartial* parent) const {
    return static_cast<QelPartial*>(childTable.find(parent));
  }
  // Extends `parent` by `record`, emits the child as new with `depth` and
  // records it; a removed, still referenced parent gives no child.
  void makeChild(QelPartial* parent, QelInfo* record, int depth);
  void recordChild(QelPartial* child);
  // A parent's update reaches its child, unless the mask stops it.
  void passUpdate(QelPartial* parent, int depth, int mode);
  // Visits the parents newest first; `visit` may remove the one it is given.
  template <typename Visit>
  void forEachParent(Visit visit) {
    QelPartial* parent = leftMem->partials;
    while (parent != nullptr) {
      QelPartial* next = parent->nextInMemory;
      visit(parent);
      parent = next;
    }
  }
};

#endif  // QEL_JOIN_JOIN_SINGLE_H
