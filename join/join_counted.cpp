#include "join/join_counted.h"

#include "memory/disc_mem.h"

QelJoinMemCounted::QelJoinMemCounted(QelContext* owner) : QelJoinMem(owner) {}

void QelJoinMemCounted::makeChild(QelPartial* parent, QelInfo* record) {
  QelPartial* child = parent->extend(record, this);
  if (child == nullptr) return;
  emit(child, 1, 0);
  childTable.insert(parent, child);
  addPartial(child);
}

QelPartial* QelJoinMemCounted::follow(bool holds, QelPartial* parent) {
  QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
  if (child != nullptr) {
    if (holds) return child;
    removePartial(child);
    childTable.remove(parent);
    return nullptr;
  }
  if (holds) makeChild(parent, nullptr);
  return nullptr;
}

int QelJoinMemCounted::recount(QelPartial* parent, QelOrderedSet* set) {
  int count = 0;
  QelSetWalker walker(rightInput());
  while (void* key = walker.next()) {
    QelInfo* record = static_cast<QelInfo*>(key);
    if (!test(record, parent)) continue;
    set->insert(record);
    ++count;
  }
  return count;
}

void QelJoinMemCounted::rightActivate(QelInfo* record, int depth, int mode) {
  if (mode != 0 && independent(0)) {
    if (mode == 2 && noUpdate(0)) return;
    QelPartial* child = partials;
    while (child != nullptr) {
      QelPartial* next = child->nextInMemory;
      emit(child, depth + 1, mode);
      child = next;
    }
    return;
  }
  const bool always = mode == 0 && independent(0);
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    QelOrderedSet* set = matchSet(parent);
    if (mode == 0) {
      if (always || test(record, parent)) {
        if (!set->contains(record)) set->insert(record);
        countChanged(set->count, parent);
      }
    } else {
      const bool held = set->contains(record);
      const bool passes = test(record, parent);
      if (held && !passes) {
        set->remove(record);
        countChanged(set->count, parent);
      } else if (!held && passes) {
        set->insert(record);
        countChanged(set->count, parent);
      }
    }
    parent = next;
  }
}

// Every parent is recounted, also those whose set did not hold the record.
void QelJoinMemCounted::rightRetract(QelInfo* record) {
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    QelOrderedSet* set = matchSet(parent);
    set->remove(record);
    countChanged(set->count, parent);
    parent = next;
  }
}

void QelJoinMemCounted::leftActivate(QelPartial* parent, int depth, int mode) {
  QelOrderedSet* set = matchSet(parent);
  if (mode == 0) {
    countChanged(recount(parent, set), parent);
    return;
  }
  if (independent(depth)) {
    if (mode == 2 && noUpdate(depth)) return;
    QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
    if (child != nullptr) emit(child, depth + 1, mode);
    return;
  }
  set->clear();
  QelPartial* child = countChanged(recount(parent, set), parent);
  if (child == nullptr) return;
  if (mode == 2 && noUpdate(depth)) return;
  emit(child, depth + 1, 2);
}

void QelJoinMemCounted::leftRetract(QelPartial* parent) {
  QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
  if (child != nullptr) dropChild(child);
}

void QelJoinMemCounted::dropChild(QelPartial* child) {
  childTable.remove(child->parent);
  removePartial(child);
}

void QelJoinMemCounted::expireChildren(QelPartial* parent) {
  QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
  if (child == nullptr) return;
  expireSuccessors(child);
  static_cast<QelRefCountedPartial*>(child)->markRemoved();
}

void QelJoinMemCounted::clear() {
  childTable.clear();
  clearPartials();
}

void QelJoinMemCounted::populate() {
  QelPartial* parent = leftMem->partials;
  while (parent != nullptr) {
    QelPartial* next = parent->nextInMemory;
    leftActivate(parent, 0, 0);
    parent = next;
  }
}

void QelJoinMemCounted::retractContents() {
  childTable.clear();
  QelJoinMem::retractContents();
}

QelPartial* QelJoinMemExists::countChanged(int count, QelPartial* parent) {
  return follow(count != 0, parent);
}

QelPartial* QelJoinMemNot::countChanged(int count, QelPartial* parent) {
  return follow(count <= 0, parent);
}

QelPartial* QelJoinMemCount::countChanged(int count, QelPartial* parent) {
  return follow(joinNode()->testCount(context, count, parent) != 0, parent);
}

// ---------------------------------------------------------------- collect

// The child's record stands for the parent's live match set; the join owns
// it and frees it with the child.
QelPartial* QelJoinMemCollect::countChanged(int, QelPartial* parent) {
  QelOrderedSet* set = matchSet(parent);
  const bool holds = joinNode()->testCollect(context, parent, set) != 0;
  QelPartial* child = static_cast<QelPartial*>(childTable.find(parent));
  if (child != nullptr) {
    if (holds) return child;
    dropChild(child);
    return nullptr;
  }
  if (holds) {
    QelInfo* record = new QelInfo(set, nullptr);
    makeChild(parent, record);
    if (childTable.find(parent) == nullptr) delete record;
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

void QelJoinMemCollect::retractContents() {
  freeCollectRecords();
  QelJoinMemCounted::retractContents();
}
