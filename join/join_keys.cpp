#include "join/join_keys.h"

#include <algorithm>

#include "memory/class_mem.h"
#include "memory/right_mem.h"
#include "qel_class.h"

QelKeyEntry* QelKeyIndex::add(void* item, void* key) {
  void*& slot = entries_.findOrInsert(item);
  if (slot != nullptr) return static_cast<QelKeyEntry*>(slot);
  QelKeyEntry* entry = new QelKeyEntry{item, key, key, nextSeq_++, nullptr, nullptr};
  slot = entry;
  link(entry);
  return entry;
}

void QelKeyIndex::remove(void* item) {
  QelKeyEntry* entry = static_cast<QelKeyEntry*>(entries_.remove(item));
  if (entry == nullptr) return;
  unlink(entry);
  delete entry;
}

void QelKeyIndex::attach(QelKeyEntry* entry, void* item, void* key) {
  *entry = QelKeyEntry{item, key, key, nextSeq_++, nullptr, nullptr};
  link(entry);
}

void QelKeyIndex::detach(QelKeyEntry* entry) {
  unlink(entry);
  entry->item = nullptr;
}

void QelKeyIndex::rekey(QelKeyEntry* entry, void* key) {
  entry->prevKey = entry->key;
  if (key == entry->key) return;
  unlink(entry);
  entry->key = key;
  link(entry);
}

// Inserts the entry into its key's list at its place by sequence number.
// New entries are the newest and go first; moved ones walk to their place.
void QelKeyIndex::link(QelKeyEntry* entry) {
  void*& newestOfKey = newest_.findOrInsert(entry->key);
  QelKeyEntry* const head = static_cast<QelKeyEntry*>(newestOfKey);
  QelKeyEntry* newer = nullptr;
  QelKeyEntry* older = head;
  while (older != nullptr && older->seq > entry->seq) {
    newer = older;
    older = older->older;
  }
  entry->newer = newer;
  entry->older = older;
  if (older != nullptr) older->newer = entry;
  if (newer != nullptr) {
    newer->older = entry;
  } else {
    newestOfKey = entry;
  }
}

void QelKeyIndex::unlink(QelKeyEntry* entry) {
  if (entry->older != nullptr) entry->older->newer = entry->newer;
  if (entry->newer != nullptr) {
    entry->newer->older = entry->older;
  } else if (entry->older != nullptr) {
    newest_.replace(entry->key, entry->older);
  } else {
    newest_.remove(entry->key);
  }
  entry->newer = nullptr;
  entry->older = nullptr;
}

void QelKeyIndex::clear() {
  entries_.forEachValue([](void* entry) { delete static_cast<QelKeyEntry*>(entry); });
  entries_.clear();
  newest_.clear();
}

void QelMergeByAge(std::vector<QelKeyEntry*>& entries) {
  std::sort(entries.begin(), entries.end(),
            [](const QelKeyEntry* a, const QelKeyEntry* b) {
              return a->seq > b->seq;
            });
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
}

// ---------------------------------------------------------------- right input

QelRightKeys::~QelRightKeys() {
  for (QelRightKeyIndex* index : indexes_) delete index;
}

QelRightKeyIndex* QelRightKeys::indexFor(QelRecordKeyFunction key) {
  for (QelRightKeyIndex* index : indexes_) {
    if (index->key == key) return index;
  }
  QelRightKeyIndex* index = new QelRightKeyIndex{key, 0, {}};
  indexes_.push_back(index);
  return index;
}

std::size_t QelRightKeys::layOut(std::size_t offset) {
  for (QelRightKeyIndex* index : indexes_) {
    index->offset = offset;
    offset += sizeof(QelKeyEntry);
  }
  return offset;
}

void QelRightKeys::entered(QelInfo* record) {
  for (QelRightKeyIndex* index : indexes_) {
    index->add(record, (context_->*index->key)(record));
  }
}

void QelRightKeys::left(QelInfo* record) {
  for (QelRightKeyIndex* index : indexes_) index->remove(record);
}

void QelRightKeys::rekey(QelInfo* record) {
  for (QelRightKeyIndex* index : indexes_) {
    QelKeyEntry* entry = index->find(record);
    if (entry != nullptr) {
      index->index.rekey(entry, (context_->*index->key)(record));
    }
  }
}

void QelBindRightKeys(QelRightMem* mem) {
  QelRightKeys* keys = nullptr;
  for (QelJoinInterface** successor = mem->successors; *successor != nullptr;
       ++successor) {
    QelJoinMem* join = static_cast<QelJoinMem*>(*successor);
    if (join->keys == nullptr) continue;
    if (keys == nullptr) keys = new QelRightKeys(mem->context);
    join->keys->right = keys->indexFor(join->joinNode()->rightKey);
  }
  mem->setKeys(keys);
}

// ---------------------------------------------------------------- joins

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

QelJoinKeys::QelJoinKeys(QelJoinMem* owner)
    : join(owner),
      right(nullptr),
      context_(owner->context),
      leftKey_(owner->joinNode()->leftKey),
      rightKey_(owner->joinNode()->rightKey) {}

QelJoinKeys* QelJoinKeys::forJoin(QelJoinMem* join) {
  QelJoinNode* node = join->joinNode();
  if (!node->isKeyed() || join->rightMem == nullptr) return nullptr;
  QelJoinKeys* keys = new QelJoinKeys(join);
  keys->tracksStale = node->patternType >= QelPatternExists &&
                     node->patternType <= QelPatternCollect;
  collectChainClasses(node->left, keys->chainClasses);
  QelContext* context = join->context;
  for (int c = 0; c < context->classMemCount; ++c) {
    QelClassMem* mem = context->classMems[c];
    if (keys->inChain(mem->classNode)) mem->keyedParents.append(keys);
  }
  return keys;
}

bool QelJoinKeys::inChain(const QelClassNode* cls) const {
  for (; cls != nullptr; cls = cls->superClass) {
    for (const QelClassNode* chain : chainClasses) {
      if (chain == cls) return true;
    }
  }
  return false;
}

void* QelJoinKeys::keyParent(QelPartial* parent, int mode) {
  void* key = leftKeyOf(parent);
  if (!leftIndexed) return key;
  QelKeyEntry* entry = mode == QelModeNew ? nullptr : left.find(parent);
  if (entry == nullptr) {
    left.add(parent, key);
  } else {
    left.rekey(entry, key);
  }
  return key;
}

void QelJoinKeys::forgetParent(QelPartial* parent) {
  if (leftIndexed) left.remove(parent);
  if (join->leftMem->partials == nullptr) dropLeftIndex();
  if (tracksStale) stale.remove(parent);
}

void* QelJoinKeys::parentKey(QelPartial* parent) const {
  return leftIndexed ? left.find(parent)->key : leftKeyOf(parent);
}

// Oldest first, so that sequence numbers follow the memory's order.
bool QelJoinKeys::parentsIndexed() {
  if (leftIndexed) return true;
  // A walk over no parent costs nothing and does not count.
  if (join->leftMem->partials == nullptr) return false;
  if (++leftWalks <= kUnindexedWalks) return false;
  for (QelPartial* p = join->leftMem->oldestPartial(); p != nullptr;
       p = p->prevInMemory) {
    left.add(p, leftKeyOf(p));
  }
  leftIndexed = true;
  return true;
}

void QelJoinKeys::dropLeftIndex() {
  if (left.size() != 0) left.clear();
  leftIndexed = false;
  leftWalks = 0;
}

bool QelJoinKeys::keyedRightUpdate(const QelInfo* record) const {
  return record->classMem == nullptr || !inChain(record->classMem->classNode);
}

void QelJoinKeys::clear() {
  dropLeftIndex();
  right->clear();
  if (tracksStale) stale.clear();
}

// The parents of the record's key and of its key before the update in
// progress (an update that makes the record leave has already rekeyed it,
// and the sets that hold it are those of its old key), and the stale
// parents whose set holds it. A record not listed is looked for in the
// stale parents only.
void QelJoinKeys::parentsToRecount(QelInfo* record,
                                   std::vector<QelPartial*>& parents) {
  const QelKeyEntry* entry = right->find(record);
  const bool byKey = entry != nullptr;
  void* const key = byKey ? entry->key : nullptr;
  void* const prevKey = byKey ? entry->prevKey : nullptr;
  if (!parentsIndexed()) {
    for (QelPartial* p = join->leftMem->partials; p != nullptr;
         p = p->nextInMemory) {
      bool visit = isStaleHolder(p, record);
      if (!visit && byKey) {
        void* k = leftKeyOf(p);
        visit = k == key || k == prevKey;
      }
      if (visit) parents.push_back(p);
    }
    return;
  }
  std::vector<QelKeyEntry*> entries;
  if (byKey) {
    for (QelKeyEntry* e = left.newest(key); e; e = e->older) {
      entries.push_back(e);
    }
    if (prevKey != key) {
      for (QelKeyEntry* e = left.newest(prevKey); e; e = e->older) {
        entries.push_back(e);
      }
    }
  }
  QelSetWalker walker(stale);
  while (void* held = walker.next()) {
    QelPartial* parent = static_cast<QelPartial*>(held);
    if (isStaleHolder(parent, record)) entries.push_back(left.find(parent));
  }
  QelMergeByAge(entries);
  for (QelKeyEntry* e : entries) {
    parents.push_back(static_cast<QelPartial*>(e->item));
  }
}

// A stale parent whose set holds the record: its key no longer tells that
// the record may be among its matches.
bool QelJoinKeys::isStaleHolder(QelPartial* parent,
                                const QelInfo* record) const {
  if (!stale.contains(parent)) return false;
  const QelOrderedSet* set = parent->findChildSet(join);
  return set != nullptr && set->contains(record);
}

// ---------------------------------------------------------------- parents

void QelJoinKeys::rekeyParentsOf(const QelInfo* record) {
  for (QelPartial* parent = join->leftMem->partials; parent;
       parent = parent->nextInMemory) {
    bool holds = false;
    for (const QelPartial* p = parent; p != nullptr && !holds; p = p->parent) {
      holds = p->record == record;
    }
    if (!holds) continue;
    if (!leftIndexed) {
      // The old key is not known: the parent may have moved.
      if (tracksStale && !stale.contains(parent)) stale.insert(parent);
      continue;
    }
    QelKeyEntry* entry = left.find(parent);
    if (entry == nullptr) continue;
    void* key = leftKeyOf(parent);
    if (key == entry->key) continue;
    left.rekey(entry, key);
    if (tracksStale && !stale.contains(parent)) stale.insert(parent);
  }
}
