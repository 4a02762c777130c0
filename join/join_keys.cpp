#include "join/join_keys.h"

#include <algorithm>

#include "join/join_mem.h"
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

bool QelJoinKeys::inChain(const QelClassNode* cls) const {
  for (; cls != nullptr; cls = cls->superClass) {
    for (const QelClassNode* chain : chainClasses) {
      if (chain == cls) return true;
    }
  }
  return false;
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
    void* key = join->leftKeyOf(parent);
    if (key == entry->key) continue;
    left.rekey(entry, key);
    if (tracksStale && !stale.contains(parent)) stale.insert(parent);
  }
}
