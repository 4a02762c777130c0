// Object-unique joins: the join node's key function names, for each parent,
// the one application object that may extend it, so the left side finds
// its partner with one lookup and each parent has at most one child.
// With equality keys (initJoinKeys) the right side visits only the parents
// of the record's key, in the order the walk of every parent meets them.
#ifndef QEL_JOIN_JOIN_OBJ_UNIQUE_H
#define QEL_JOIN_JOIN_OBJ_UNIQUE_H

#include <vector>

#include "join/join_single.h"
#include "util/pointer_map.h"

class QelJoinMemPlainObjUnique : public QelJoinMemSingle {
 public:
  // A pointer map, not a chained table: no node per entry, and no resizing
  // as records come and go.
  QelPointerMap rightIndex;  // application object -> its right record

  explicit QelJoinMemPlainObjUnique(QelContext* context);

  void rightRetract(QelInfo* record) override;
  void rightActivate(QelInfo* record, int depth, int mode) override;
  void leftActivate(QelPartial* parent, int depth, int mode) override;
  void leftRetract(QelPartial* parent) override;
  void populate() override;
  void clear() override;

 private:
  void rematchRight(QelInfo* record, int mode);
  void pairsToRematch(QelInfo* record, std::vector<QelMatchPair>& pairs);
  QelInfo* partnerOf(QelPartial* parent, void** key);
};

#endif  // QEL_JOIN_JOIN_OBJ_UNIQUE_H
