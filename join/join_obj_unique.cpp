#include "join/join_obj_unique.h"

#include <vector>

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
// consulting the key; a parent that already has its one child gets no
// second one, which the child table could not hold.
void QelJoinMemPlainObjUnique::rightActivate(QelInfo* record, int depth,
                                             int mode) {
  if (mode != QelModeNew) {
    rematchRight(record, mode);
    return;
  }
  rightIndex.findOrInsert(record->object) = record;
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    if (childOf(parent) == nullptr && test(record, parent)) {
      makeChild(parent, record, depth + 1);
    }
    parent = next;
  }
}

// Parents whose child is bound to another object are left alone.
void QelJoinMemPlainObjUnique::rematchRight(QelInfo* record, int mode) {
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    child->parent->mark = child->record == record ? child : child->parent;
  }
  std::vector<QelMatchPair> pairs;
  for (QelPartial* parent = leftMem->partials; parent;
       parent = parent->nextInMemory) {
    if (parent->mark != parent) {
      pairs.push_back(QelMatchPair{parent, parent->mark});
    }
    parent->mark = nullptr;
  }
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

void QelJoinMemPlainObjUnique::leftActivate(QelPartial* parent, int depth,
                                            int mode) {
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

void QelJoinMemPlainObjUnique::clear() {
  QelJoinMemSingle::clear();
  rightIndex.clear();
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
