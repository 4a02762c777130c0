// Object-unique joins: the join node's key function names, for each parent,
// the one application object that may extend it, so the left side finds
// its partner with one lookup and each parent has at most one child.
#ifndef QEL_JOIN_JOIN_OBJ_UNIQUE_H
#define QEL_JOIN_JOIN_OBJ_UNIQUE_H

#include "join/join_mem.h"
#include "util/pointer_map.h"

class QelJoinMemPlainObjUnique : public QelJoinMem {
 public:
  // Pointer maps, not chained tables: no node per entry, and no resizing
  // as parents and records come and go.
  QelPointerMap childTable{QelKeyKind::kAddresses};  // parent -> its one child
  QelPointerMap rightIndex;  // application object -> its right record

  explicit QelJoinMemPlainObjUnique(QelContext* context);

  void retractContents() override;
  void rightRetract(QelInfo* record) override;
  void leftRetract(QelPartial* parent) override;
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void populate() override;
  void clear() override;
  void expireChildren(QelPartial* parent) override;
  void dropChild(QelPartial* child) override;

 private:
  void recordChild(QelPartial* child);
  void makeChild(QelPartial* parent, QelInfo* record, int depth);
  void rematchRight(QelInfo* record, int mode);
  QelInfo* partnerOf(QelPartial* parent, void** key);
};

#endif  // QEL_JOIN_JOIN_OBJ_UNIQUE_H
