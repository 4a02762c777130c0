#include "join/join_plain.h"

#include <vector>

#include "join/join_keys.h"
#include "memory/disc_mem.h"

QelJoinMemPlain::QelJoinMemPlain(QelContext* owner) : QelJoinMem(owner) {}

void QelJoinMemPlain::makeChild(QelPartial* parent, QelInfo* record,
                                int depth) {
  QelPartial* child = parent->extend(record, this);
  if (child == nullptr) return;
  emit(child, depth + 1, 0);
  parent->addChild(this, child);
  addPartial(child);
}

// One pair of a re-match: `child` is the existing child of (parent,
// record), or null.
void QelJoinMemPlain::rematch(QelPartial* parent, QelInfo* record,
                              QelPartial* child, int depth, int mode) {
  const bool passes = test(record, parent);
  if (passes && child == nullptr) {
    makeChild(parent, record, depth);
  } else if (passes) {
    if (mode == 2 && noUpdate(depth)) return;
    emit(child, depth + 1, mode);
  } else if (child != nullptr) {
    dropChild(child);
  }
}

void QelJoinMemPlain::leftActivate(QelPartial* parent, int depth, int mode) {
  void* const key = keys != nullptr ? keyParent(parent, mode) : nullptr;
  if (mode == 0) {
    const QelPairTest passes(*this);
    if (keys != nullptr) {
      QelKeyEntry* entry = keys->right->newest(key);
      while (entry != nullptr) {
        QelKeyEntry* older = entry->older;
        QelInfo* record = static_cast<QelInfo*>(entry->item);
        if (passes(record, parent)) makeChild(parent, record, depth);
        entry = older;
      }
      return;
    }
    QelSetWalker walker(rightInput());
    while (void* key = walker.next()) {
      QelInfo* record = static_cast<QelInfo*>(key);
      if (passes(record, parent)) makeChild(parent, record, depth);
    }
    return;
  }
  QelOrderedSet* children = parent->childSet(this);
  if (independent(depth)) {
    if (mode == 2 && noUpdate(depth)) return;
    QelSetWalker walker(*children);
    while (void* child = walker.next()) {
      emit(static_cast<QelPartial*>(child), depth + 1, mode);
    }
    return;
  }
  rematchLeft(parent, depth, mode);
}

// The records a left re-match visits: every record of the right input, or,
// keyed, those of the parent's key and those of its existing children
// (which may sit under other keys), in full-walk order.
void QelJoinMemPlain::rematchLeft(QelPartial* parent, int depth, int mode) {
  QelOrderedSet* children = parent->childSet(this);
  std::vector<QelKeyEntry*> keyed;
  if (keys != nullptr) {
    for (QelKeyEntry* e = keys->right->newest(parentKey(parent)); e;
         e = e->older) {
      keyed.push_back(e);
    }
  }
  QelSetWalker childWalker(*children);
  while (void* key = childWalker.next()) {
    QelPartial* child = static_cast<QelPartial*>(key);
    child->record->mark = child;
    if (keys == nullptr) continue;
    QelKeyEntry* entry = keys->right->find(child->record);
    if (entry != nullptr) keyed.push_back(entry);
  }
  // Every mark is read and cleared before anything is propagated.
  std::vector<QelMatchPair> pairs;
  if (keys != nullptr) {
    QelMergeByAge(keyed);
    pairs.reserve(keyed.size());
    for (QelKeyEntry* entry : keyed) {
      QelInfo* record = static_cast<QelInfo*>(entry->item);
      pairs.push_back(QelMatchPair{record, record->mark});
      record->mark = nullptr;
    }
  } else {
    pairs.reserve(rightInput().count);
    QelSetWalker walker(rightInput());
    while (void* key = walker.next()) {
      QelInfo* record = static_cast<QelInfo*>(key);
      pairs.push_back(QelMatchPair{record, record->mark});
      record->mark = nullptr;
    }
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(parent, static_cast<QelInfo*>(pair.first), pair.second, depth,
            mode);
  }
}

void QelJoinMemPlain::rightActivate(QelInfo* record, int depth, int mode) {
  if (mode == 0) {
    const bool always = independent(0);
    const QelPairTest passes(*this);
    if (keys != nullptr && !always) {
      void* key = rightKeyOf(record);
      if (parentsIndexed()) {
        QelKeyEntry* entry = keys->left.newest(key);
        while (entry != nullptr) {
          QelKeyEntry* older = entry->older;
          QelPartial* parent = static_cast<QelPartial*>(entry->item);
          if (passes(record, parent)) makeChild(parent, record, depth);
          entry = older;
        }
        return;
      }
      QelPartial* parent = leftMem->partials;
      while (parent != nullptr) {
        QelPartial* next = parent->nextInMemory;
        if (leftKeyOf(parent) == key && passes(record, parent)) {
          makeChild(parent, record, depth);
        }
        parent = next;
      }
      return;
    }
    QelPartial* parent = leftMem->partials;
    while (parent != nullptr) {
      QelPartial* next = parent->nextInMemory;
      if (always || passes(record, parent)) makeChild(parent, record, depth);
      parent = next;
    }
    return;
  }
  if (independent(0)) {
    if (mode == 2 && noUpdate(0)) return;
    QelPartial* child = partials;
    while (child != nullptr) {
      QelPartial* next = child->nextInMemory;
      if (child->record == record) emit(child, depth + 1, mode);
      child = next;
    }
    return;
  }
  rematchRight(record, mode);
}

// The parents a right re-match visits: every parent, or, keyed, those of
// the record's key and those of its existing children, in full-walk order.
void QelJoinMemPlain::rematchRight(QelInfo* record, int mode) {
  const bool byKey = keys != nullptr && keyedRightUpdate(record);
  const bool indexed = byKey && parentsIndexed();
  void* const key = byKey ? keys->right->find(record)->key : nullptr;
  std::vector<QelKeyEntry*> keyed;
  if (indexed) {
    for (QelKeyEntry* e = keys->left.newest(key); e; e = e->older) {
      keyed.push_back(e);
    }
  }
  for (QelPartial* child = partials; child; child = child->nextInMemory) {
    if (child->record != record) continue;
    child->parent->mark = child;
    if (!indexed) continue;
    QelKeyEntry* entry = keys->left.find(child->parent);
    if (entry != nullptr) keyed.push_back(entry);
  }
  std::vector<QelMatchPair> pairs;
  if (indexed) {
    QelMergeByAge(keyed);
    for (QelKeyEntry* entry : keyed) {
      QelPartial* parent = static_cast<QelPartial*>(entry->item);
      pairs.push_back(QelMatchPair{parent, parent->mark});
      parent->mark = nullptr;
    }
  } else {
    for (QelPartial* parent = leftMem->partials; parent;
         parent = parent->nextInMemory) {
      if (!byKey || parent->mark != nullptr || leftKeyOf(parent) == key) {
        pairs.push_back(QelMatchPair{parent, parent->mark});
      }
      parent->mark = nullptr;
    }
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(static_cast<QelPartial*>(pair.first), record, pair.second, 0, mode);
  }
}

void QelJoinMemPlain::rightRetract(QelInfo* record) { dropChildrenOf(record); }

void QelJoinMemPlain::leftRetract(QelPartial* parent) {
  if (keys != nullptr) unkeyParent(parent);
  QelOrderedSet* children = parent->findChildSet(this);
  if (children == nullptr) return;
  QelSetWalker walker(*children);
  while (void* child = walker.next()) {
    removePartial(static_cast<QelPartial*>(child));
  }
  children->clear();
}

void QelJoinMemPlain::dropChild(QelPartial* child) {
  child->parent->removeChild(this, child);
  removePartial(child);
}

void QelJoinMemPlain::expireChildren(QelPartial* parent) {
  QelOrderedSet* children = parent->findChildSet(this);
  if (children == nullptr) return;
  QelSetWalker walker(*children);
  while (void* key = walker.next()) {
    QelPartial* child = static_cast<QelPartial*>(key);
    expireSuccessors(child);
    static_cast<QelRefCountedPartial*>(child)->markRemoved();
  }
}

void QelJoinMemPlain::clear() {
  clearPartials();
  if (keys != nullptr) {
    keys->dropLeftIndex();
    keys->right->clear();
  }
}

void QelJoinMemPlain::populate() {
  QelSetWalker walker(rightInput());
  while (void* record = walker.next()) {
    rightActivate(static_cast<QelInfo*>(record), 0, 0);
  }
}
