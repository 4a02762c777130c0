#include "join/join_mem.h"

#include <vector>

#include "join/join_keys.h"
#include "memory/alpha_mem.h"
#include "memory/class_mem.h"
#include "memory/disc_mem.h"

// ---------------------------------------------------------------- base

QelJoinMem::QelJoinMem(QelContext* owner)
    : QelLeftMem(owner),
      leftMem(nullptr),
      rightMem(nullptr),
      disableRuleMems(nullptr),
      disableRuleMemCount(0),
      keys(nullptr) {}

QelJoinMem::~QelJoinMem() {
  delete[] disableRuleMems;
  delete keys;
}

namespace {

// The classes of the patterns on a join's left chain.
void collectChainClasses(QelLeftNode* node,
                         std::vector<const QelClassNode*>& classes) {
  while (node->level() > 0) {
    QelJoinNode* join = static_cast<QelJoinNode*>(node);
    if (join->right != nullptr && join->right->discNode != nullptr) {
      classes.push_back(join->right->discNode->classNode);
    }
    node = join->left;
  }
  QelAlphaNode* alpha = static_cast<QelAlphaNode*>(node);
  if (alpha->discNode != nullptr) classes.push_back(alpha->discNode->classNode);
}

}  // namespace

void QelJoinMem::bindNode(QelJoinNode* join) {
  QelLeftMem::bindNode(join);
  delete[] disableRuleMems;
  QelLeftNode* left = join->left;
  if (left->level() != 0) {
    leftMem = context->joinMems[left->index];
  } else {
    leftMem = context->alphaMems[left->index];
  }
  if (join->right != nullptr) rightMem = context->rightMems[join->right->index];
  disableRuleMemCount = join->disablingRules.length();
  disableRuleMems = new QelRuleMem*[disableRuleMemCount + 1];
  int i = 0;
  for (QelListCell* cell = join->disablingRules.head; cell; cell = cell->next) {
    disableRuleMems[i++] =
        context->ruleMems[static_cast<QelRuleNode*>(cell->item)->index];
  }
  disableRuleMems[i] = nullptr;
  delete keys;
  keys = nullptr;
  if (join->isKeyed() && rightMem != nullptr) {
    keys = new QelJoinKeys();
    keys->tracksStale = join->patternType != QelPatternPlain;
    collectChainClasses(join->left, keys->chainClasses);
    for (int c = 0; c < context->classMemCount; ++c) {
      QelClassMem* mem = context->classMems[c];
      if (keys->inChain(mem->classNode)) mem->keyedJoinMems.append(this);
    }
  }
  groupByRecord(false);
}

void QelJoinMem::rekeyParentsOf(const QelInfo* record) {
  for (QelPartial* parent = leftMem->partials; parent;
       parent = parent->nextInMemory) {
    bool holds = false;
    for (const QelPartial* p = parent; p != nullptr && !holds; p = p->parent) {
      holds = p->record == record;
    }
    if (!holds) continue;
    if (!keys->leftIndexed) {
      // The old key is not known: the parent may have moved.
      if (keys->tracksStale && !keys->stale.contains(parent)) {
        keys->stale.insert(parent);
      }
      continue;
    }
    QelKeyEntry* entry = keys->left.find(parent);
    if (entry == nullptr) continue;
    void* key = leftKeyOf(parent);
    if (key == entry->key) continue;
    keys->left.rekey(entry, key);
    if (keys->tracksStale && !keys->stale.contains(parent)) {
      keys->stale.insert(parent);
    }
  }
}

void QelJoinMem::dropChildrenOf(QelInfo* record) {
  if (byRecord != nullptr) {
    while (QelPartial* child = byRecord->newest(record)) dropChild(child);
    return;
  }
  int walked = 0;
  QelPartial* child = partials;
  while (child != nullptr) {
    QelPartial* next = child->nextInMemory;
    if (child->record == record) dropChild(child);
    child = next;
    ++walked;
  }
  if (walked > kLongRetractWalk) groupByRecord(true);
}

void* QelJoinMem::keyParent(QelPartial* parent, int mode) {
  void* key = leftKeyOf(parent);
  if (!keys->leftIndexed) return key;
  QelKeyEntry* entry = mode == 0 ? nullptr : keys->left.find(parent);
  if (entry == nullptr) {
    keys->left.add(parent, key);
  } else {
    keys->left.rekey(entry, key);
  }
  return key;
}

void QelJoinMem::unkeyParent(QelPartial* parent) {
  if (keys->leftIndexed) keys->left.remove(parent);
  if (leftMem->partials == nullptr) keys->dropLeftIndex();
}

void* QelJoinMem::parentKey(QelPartial* parent) const {
  return keys->leftIndexed ? keys->left.find(parent)->key : leftKeyOf(parent);
}

// Oldest first, so that sequence numbers follow the memory's order.
bool QelJoinMem::parentsIndexed() {
  if (keys->leftIndexed) return true;
  // A walk over no parent costs nothing and does not count.
  if (leftMem->partials == nullptr) return false;
  if (++keys->leftWalks <= QelJoinKeys::kUnindexedWalks) return false;
  for (QelPartial* p = leftMem->oldestPartial(); p != nullptr;
       p = p->prevInMemory) {
    keys->left.add(p, leftKeyOf(p));
  }
  keys->leftIndexed = true;
  return true;
}

bool QelJoinMem::keyedRightUpdate(const QelInfo* record) const {
  return record->classMem == nullptr ||
         !keys->inChain(record->classMem->classNode);
}

QelOrderedSet& QelJoinMem::rightInput() const {
  return rightMem->discMem->matches;
}

void QelJoinMem::emit(QelPartial* child, int depth, int mode) {
  propagate(child, depth, mode);
  for (QelRuleMem** rule = disableRuleMems; *rule != nullptr; ++rule) {
    (*rule)->disableWatchdog(child);
  }
}

void QelJoinMem::expireSuccessors(QelPartial* partial) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->expireChildren(partial);
  }
}

void QelJoinMem::retractContents() {
  for (QelPartial* parent = leftMem->partials; parent != nullptr;
       parent = parent->nextInMemory) {
    parent->clearChildren(this);
  }
  QelPartial* partial = detachPartials();
  while (partial != nullptr) {
    QelPartial* next = partial->nextInMemory;
    partial->prevInMemory = nullptr;
    partial->nextInMemory = nullptr;
    removeFromSuccessors(partial);
    // Most partials end no rule and support nothing.
    if (!partial->instances.isEmpty()) {
      context->agenda->removeInstancesOf(partial);
    }
    if (!partial->supported.isEmpty()) partial->dropSupports();
    delete partial;
    partial = next;
  }
}

// ---------------------------------------------------------------- plain

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

// ---------------------------------------------------------------- right

QelRightMem::QelRightMem(QelContext* owner)
    : QelNodeMem(owner), node(nullptr), discMem(nullptr) {}

QelRightMem::~QelRightMem() { freeKeyIndexes(); }

void QelRightMem::freeKeyIndexes() {
  for (QelRightKeyIndex* index : keyIndexes) delete index;
  keyIndexes.clear();
}

// Join memories are bound before right memories, so their keys exist.
void QelRightMem::bindNode(QelRightNode* right) {
  node = right;
  discMem = context->discMems[right->discNode->index];
  bindSuccessors(right->successors);
  freeKeyIndexes();
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    if ((*join)->keys == nullptr) continue;
    const QelRecordKeyFunction key = (*join)->joinNode()->rightKey;
    QelRightKeyIndex* shared = nullptr;
    for (QelRightKeyIndex* index : keyIndexes) {
      if (index->key == key) shared = index;
    }
    if (shared == nullptr) {
      shared = new QelRightKeyIndex{key, 0, {}};
      keyIndexes.push_back(shared);
    }
    (*join)->keys->right = shared;
  }
}

void QelRightMem::recordEntered(QelInfo* record) {
  for (QelRightKeyIndex* index : keyIndexes) {
    index->add(record, (context->*index->key)(record));
  }
}

void QelRightMem::recordLeft(QelInfo* record) {
  for (QelRightKeyIndex* index : keyIndexes) index->remove(record);
}

void QelRightMem::rekeyRecord(QelInfo* record) {
  for (QelRightKeyIndex* index : keyIndexes) {
    QelKeyEntry* entry = index->find(record);
    if (entry != nullptr) {
      index->index.rekey(entry, (context->*index->key)(record));
    }
  }
}

void QelRightMem::retractSuccessors(QelInfo* record) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->rightRetract(record);
  }
}

void QelRightMem::activateSuccessors(QelInfo* record, int mode) {
  for (QelJoinMem** join = successors; *join != nullptr; ++join) {
    (*join)->rightActivate(record, 0, mode);
  }
}
