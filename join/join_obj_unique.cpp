#include "join/join_obj_unique.h"

#include "join/join_keys.h"
#include "memory/disc_mem.h"

QelJoinMemPlainObjUnique::QelJoinMemPlainObjUnique(QelContext* owner)
    : QelJoinMemSingle(owner) {}

// The record the parent's key names in the right input, or null.
QelInfo* QelJoinMemPlainObjUnique::partnerOf(QelPartial* parent, void** key) {
  *key = joinNode()->key(context, parent);
  if (*key == nullptr) return nullptr;
  return static_cast<QelInfo*>(rightIndex.find(*key));
}

// A new record pairs with every parent whose test passes, without
// consulting the node's key function; a parent that already has its one
// child gets no second one, which the child table could not hold. With
// equality keys only the parents of the record's key can pass.
void QelJoinMemPlainObjUnique::rightActivate(QelInfo* record, int depth,
                                             int mode) {
  if (mode != QelModeNew) {
    rematchRight(record, mode);
    return;
  }
  rightIndex.findOrInsert(record->object) = record;
  const QelPairTest passes(*this);
  auto pair = [&](QelPartial* parent) {
    if (childOf(parent) == nullptr && passes(record, parent)) {
      makeChild(parent, record, depth + 1);
    }
  };
  if (keys != nullptr) {
    keys->forEachParentOfKey(keys->rightKeyOf(record), pair);
    return;
  }
  forEachParent(pair);
}

// Every mark is read and cleared before anything is propagated.
void QelJoinMemPlainObjUnique::rematchRight(QelInfo* record, int mode) {
  std::vector<QelMatchPair> pairs;
  pairsToRematch(record, pairs);
  for (const QelMatchPair& pair : pairs) {
    QelPartial* parent = static_cast<QelPartial*>(pair.first);
    QelPartial* child = pair.second;
    const bool passes = test(record, parent);
    if (passes && child == nullptr) {
      makeChild(parent, record, 1);
    } else if (passes) {
      if (mode == QelModeUpdate && noUpdate(0)) continue;
      emit(child, 1, mode);
    } else if (child != nullptr) {
      dropChild(child);
    }
  }
}

// The parents a right re-match visits, each with its child of `record` or
// null: every parent but those whose child is bound to another object or,
// keyed, those of the record's key and of its children, in full-walk order.
void QelJoinMemPlainObjUnique::pairsToRematch(QelInfo* record,
                                              std::vector<QelMatchPair>& pairs) {
  if (keys != nullptr) {
    keys->forEachParentToRematch(record, [&](QelPartial* parent) {
      QelPartial* child = parent->mark;
      parent->mark = nullptr;
      if (child == nullptr && childOf(parent) != nullptr) return;
      pairs.push_back(QelMatchPair{parent, child});
    });
    return;
  }
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    child->parent->mark = child->record == record ? child : child->parent;
  }
  for (QelPartial* parent = leftMem->partials; parent;
       parent = parent->nextInMemory) {
    if (parent->mark != parent) {
      pairs.push_back(QelMatchPair{parent, parent->mark});
    }
    parent->mark = nullptr;
  }
}

void QelJoinMemPlainObjUnique::leftActivate(QelPartial* parent, int depth,
                                            int mode) {
  if (keys != nullptr) keys->keyParent(parent, mode);
  void* key = nullptr;
  if (mode == QelModeNew) {
    QelInfo* partner = partnerOf(parent, &key);
    if (partner == nullptr) return;
    if (test(partner, parent)) {
      makeChild(parent, partner, depth + 1);
      return;
    }
  }
  if (independent(depth)) {
    passUpdate(parent, depth, mode);
    return;
  }
  QelPartial* child = childOf(parent);
  key = joinNode()->key(context, parent);
  if (child != nullptr) {
    if (child->record->object == key && test(child->record, parent)) {
      if (mode == QelModeUpdate && noUpdate(depth)) return;
      emit(child, depth + 1, mode);
      return;
    }
    dropChild(child);
  }
  if (key == nullptr) return;
  QelInfo* partner = static_cast<QelInfo*>(rightIndex.find(key));
  if (partner == nullptr || !test(partner, parent)) return;
  makeChild(parent, partner, depth + 1);
}

void QelJoinMemPlainObjUnique::rightRetract(QelInfo* record) {
  rightIndex.remove(record->object);
  dropChildrenOf(record);
}

void QelJoinMemPlainObjUnique::leftRetract(QelPartial* parent) {
  if (keys != nullptr) keys->unkeyParent(parent);
  QelJoinMemSingle::leftRetract(parent);
}

void QelJoinMemPlainObjUnique::clear() {
  QelJoinMemSingle::clear();
  rightIndex.clear();
  if (keys != nullptr) keys->clear();
}

void QelJoinMemPlainObjUnique::populate() {
  QelSetWalker walker(rightInput());
  while (void* key = walker.next()) {
    QelInfo* record = static_cast<QelInfo*>(key);
    // Records still indexed (after retractContents) keep their one entry.
    rightIndex.findOrInsert(record->object) = record;
  }
  QelJoinMemSingle::populate();
}
