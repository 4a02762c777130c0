#include "join/join_plain.h"

#include <vector>

#include "join/join_keys.h"
#include "memory/disc_mem.h"

QelJoinMemPlain::QelJoinMemPlain(QelContext* owner) : QelJoinMem(owner) {}

void QelJoinMemPlain::makeChild(QelPartial* parent, QelInfo* record,
                                int depth) {
  QelPartial* child = parent->extend(record, this);
  if (child == nullptr) return;
  emit(child, depth + 1, QelModeNew);
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
    if (mode == QelModeUpdate && noUpdate(depth)) return;
    emit(child, depth + 1, mode);
  } else if (child != nullptr) {
    dropChild(child);
  }
}

void QelJoinMemPlain::leftActivate(QelPartial* parent, int depth, int mode) {
  void* const key = keys != nullptr ? keys->keyParent(parent, mode) : nullptr;
  if (mode == QelModeNew) {
    const QelPairTest passes(*this);
    if (keys != nullptr) {
      keys->forEachRecordOfKey(key, [&](QelInfo* record) {
        if (passes(record, parent)) makeChild(parent, record, depth);
      });
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
    if (mode == QelModeUpdate && noUpdate(depth)) return;
    QelSetWalker walker(*children);
    while (void* child = walker.next()) {
      emit(static_cast<QelPartial*>(child), depth + 1, mode);
    }
    return;
  }
  rematchLeft(parent, depth, mode);
}

// The records a left re-match visits: every record of the right input, or,
// keyed, those of the parent's key and those of its existing children, in
// full-walk order. Every mark is read and cleared before anything is
// propagated.
void QelJoinMemPlain::rematchLeft(QelPartial* parent, int depth, int mode) {
  QelOrderedSet* children = parent->childSet(this);
  std::vector<QelMatchPair> pairs;
  auto pairWith = [&pairs](QelInfo* record) {
    pairs.push_back(QelMatchPair{record, record->mark});
    record->mark = nullptr;
  };
  if (keys != nullptr) {
    keys->forEachRecordToRematch(parent, *children, pairWith);
  } else {
    QelSetWalker childWalker(*children);
    while (void* item = childWalker.next()) {
      QelPartial* child = static_cast<QelPartial*>(item);
      child->record->mark = child;
    }
    pairs.reserve(rightInput().count);
    QelSetWalker walker(rightInput());
    while (void* record = walker.next()) {
      pairWith(static_cast<QelInfo*>(record));
    }
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(parent, static_cast<QelInfo*>(pair.first), pair.second, depth,
            mode);
  }
}

void QelJoinMemPlain::rightActivate(QelInfo* record, int depth, int mode) {
  if (mode == QelModeNew) {
    const bool always = independent(0);
    const QelPairTest passes(*this);
    if (keys != nullptr && !always) {
      void* const key = keys->rightKeyOf(record);
      keys->forEachParentOfKey(key, [&](QelPartial* parent) {
        if (passes(record, parent)) makeChild(parent, record, depth);
      });
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
    if (mode == QelModeUpdate && noUpdate(0)) return;
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
  std::vector<QelMatchPair> pairs;
  auto pairWith = [&pairs](QelPartial* parent) {
    pairs.push_back(QelMatchPair{parent, parent->mark});
    parent->mark = nullptr;
  };
  if (keys != nullptr) {
    keys->forEachParentToRematch(record, pairWith);
  } else {
    for (QelPartial* child = partials; child; child = child->nextInMemory) {
      if (child->record == record) child->parent->mark = child;
    }
    for (QelPartial* parent = leftMem->partials; parent;
         parent = parent->nextInMemory) {
      pairWith(parent);
    }
  }
  for (const QelMatchPair& pair : pairs) {
    rematch(static_cast<QelPartial*>(pair.first), record, pair.second, 0, mode);
  }
}

void QelJoinMemPlain::rightRetract(QelInfo* record) { dropChildrenOf(record); }

void QelJoinMemPlain::leftRetract(QelPartial* parent) {
  if (keys != nullptr) keys->unkeyParent(parent);
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
  if (keys != nullptr) keys->clear();
}

void QelJoinMemPlain::populate() {
  QelSetWalker walker(rightInput());
  while (void* record = walker.next()) {
    rightActivate(static_cast<QelInfo*>(record), 0, QelModeNew);
  }
}
