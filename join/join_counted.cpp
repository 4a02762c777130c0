#include "join/join_counted.h"

#include <vector>

#include "join/join_keys.h"
#include "memory/disc_mem.h"

QelJoinMemCounted::QelJoinMemCounted(QelContext* owner)
    : QelJoinMemSingle(owner) {}

QelPartial* QelJoinMemCounted::follow(bool holds, QelPartial* parent,
                                      QelPartial* child) {
  if (child != nullptr) {
    if (holds) return child;
    dropChild(child);
    return nullptr;
  }
  if (holds) makeChild(parent, nullptr, 1);
  return nullptr;
}

// Fills the parent's (empty or missing) match set; the set is made with the
// first record that passes.
int QelJoinMemCounted::recount(QelPartial* parent, void* key) {
  QelOrderedSet* set = parent->findChildSet(this);
  int count = 0;
  const QelPairTest passes(*this);
  auto take = [&](QelInfo* record) {
    if (!passes(record, parent)) return;
    if (set == nullptr) set = matchSet(parent);
    set->insert(record);
    ++count;
  };
  if (keys != nullptr) {
    keys->forEachRecordOfKey(key, take);
    return count;
  }
  QelSetWalker walker(rightInput());
  while (void* key = walker.next()) take(static_cast<QelInfo*>(key));
  return count;
}

// One parent's part of a right activation.
void QelJoinMemCounted::rightActivateParent(QelInfo* record, QelPartial* parent,
                                            int mode, bool always) {
  if (mode == QelModeNew) {
    if (always || test(record, parent)) {
      QelOrderedSet* set = matchSet(parent);
      if (!set->contains(record)) set->insert(record);
      countChanged(set->count, parent, childOf(parent));
    }
    return;
  }
  QelOrderedSet* set = parent->findChildSet(this);
  const bool held = set != nullptr && set->contains(record);
  const bool passes = test(record, parent);
  if (held && !passes) {
    set->remove(record);
    countChanged(set->count, parent, childOf(parent));
  } else if (!held && passes) {
    set = matchSet(parent);
    set->insert(record);
    countChanged(set->count, parent, childOf(parent));
  }
}

void QelJoinMemCounted::rightActivate(QelInfo* record, int depth, int mode) {
  if (mode != QelModeNew && independent(0)) {
    if (mode == QelModeUpdate && noUpdate(0)) return;
    QelPartial* child = partials;
    while (child != nullptr) {
      QelPartial* next = child->nextInMemory;
      emit(child, depth + 1, mode);
      child = next;
    }
    return;
  }
  const bool always = mode == QelModeNew && independent(0);
  if (keys != nullptr && !always &&
      (mode == QelModeNew || keys->keyedRightUpdate(record))) {
    rightActivateByKey(record, mode);
    return;
  }
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    rightActivateParent(record, parent, mode, always);
    parent = next;
  }
}

// A new record can only match parents of its key, visited where they are,
// as a plain join does; an updated one, parents of its new key and those
// of its key before the update, whose sets may hold it.
void QelJoinMemCounted::rightActivateByKey(QelInfo* record, int mode) {
  if (mode == QelModeNew) {
    void* const key = keys->rightKeyOf(record);
    keys->forEachParentOfKey(key, [&](QelPartial* parent) {
      rightActivateParent(record, parent, QelModeNew, false);
    });
    return;
  }
  std::vector<QelPartial*> parents;
  keys->parentsToRecount(record, parents);
  for (QelPartial* parent : parents) {
    rightActivateParent(record, parent, mode, false);
  }
}

// Every parent is recounted, also those whose set did not hold the record.
// A keyed join recounts only the parents of the record's key and those
// whose set holds it: count and collect tests are then called fewer times,
// with the same arguments as before.
void QelJoinMemCounted::rightRetract(QelInfo* record) {
  if (keys != nullptr) {
    std::vector<QelPartial*> parents;
    keys->parentsToRecount(record, parents);
    for (QelPartial* parent : parents) forget(record, parent);
    return;
  }
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    forget(record, parent);
    parent = next;
  }
}

// A retracted record leaves the parent's set; the condition is applied
// again whether the set held it or not.
void QelJoinMemCounted::forget(QelInfo* record, QelPartial* parent) {
  QelOrderedSet* set = parent->findChildSet(this);
  if (set != nullptr) set->remove(record);
  countChanged(set != nullptr ? set->count : 0, parent, childOf(parent));
}

void QelJoinMemCounted::leftActivate(QelPartial* parent, int depth, int mode) {
  void* const key = keys != nullptr ? keys->keyParent(parent, mode) : nullptr;
  if (mode == QelModeNew) {
    // A new parent has no child yet.
    countChanged(recount(parent, key), parent, nullptr);
    return;
  }
  if (independent(depth)) {
    passUpdate(parent, depth, mode);
    return;
  }
  if (QelOrderedSet* set = parent->findChildSet(this)) set->clear();
  if (keys != nullptr) keys->parentRecounted(parent);
  QelPartial* child = countChanged(recount(parent, key), parent, childOf(parent));
  if (child == nullptr) return;
  if (mode == QelModeUpdate && noUpdate(depth)) return;
  emit(child, depth + 1, QelModeUpdate);
}

void QelJoinMemCounted::leftRetract(QelPartial* parent) {
  if (keys != nullptr) keys->unkeyParent(parent);
  QelJoinMemSingle::leftRetract(parent);
}

void QelJoinMemCounted::clear() {
  QelJoinMemSingle::clear();
  if (keys != nullptr) keys->clear();
}

QelPartial* QelJoinMemExists::countChanged(int count, QelPartial* parent,
                                           QelPartial* child) {
  return follow(count != 0, parent, child);
}

QelPartial* QelJoinMemNot::countChanged(int count, QelPartial* parent,
                                        QelPartial* child) {
  return follow(count <= 0, parent, child);
}

QelPartial* QelJoinMemCount::countChanged(int count, QelPartial* parent,
                                          QelPartial* child) {
  return follow(joinNode()->testCount(context, count, parent) != 0, parent,
                child);
}

// ---------------------------------------------------------------- collect

// The child's record stands for the parent's live match set; the join owns
// it and frees it with the child.
QelPartial* QelJoinMemCollect::countChanged(int, QelPartial* parent,
                                            QelPartial* child) {
  QelOrderedSet* set = matchSet(parent);
  const bool holds = joinNode()->testCollect(context, parent, set) != 0;
  if (child != nullptr) {
    if (holds) return child;
    dropChild(child);
    return nullptr;
  }
  if (holds) {
    QelInfo* record = new QelInfo(set, nullptr);
    makeChild(parent, record, 1);
    if (childOf(parent) == nullptr) delete record;
  }
  return nullptr;
}

// The record is freed once the child and what depends on it are gone.
void QelJoinMemCollect::dropChild(QelPartial* child) {
  QelInfo* record = child->record;
  QelJoinMemCounted::dropChild(child);
  delete record;
}

void QelJoinMemCollect::freeCollectRecords() {
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    delete child->record;
    child->record = nullptr;
  }
}

void QelJoinMemCollect::clear() {
  freeCollectRecords();
  QelJoinMemCounted::clear();
}

// The records are freed only after the children are gone, so that the
// cascade (removed instances, successors' retractions) still sees them.
void QelJoinMemCollect::retractContents() {
  std::vector<QelInfo*> records;
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    records.push_back(child->record);
  }
  QelJoinMemCounted::retractContents();
  for (QelInfo* record : records) delete record;
}
