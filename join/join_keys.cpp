#include "join/join_keys.h"

#include <algorithm>

#include "qel_class.h"

QelKeyEntry* QelKeyIndex::add(void* item, void* key) {
  QelKeyEntry* entry = find(item);
  if (entry != nullptr) return entry;
  entry = new QelKeyEntry{item, key, key, nextSeq_++, nullptr, nullptr};
  entries_.insert(item, entry);
  link(entry);
  return entry;
}

void QelKeyIndex::remove(void* item) {
  QelKeyEntry* entry = static_cast<QelKeyEntry*>(entries_.remove(item));
  if (entry == nullptr) return;
  unlink(entry);
  delete entry;
}

void QelKeyIndex::rekey(QelKeyEntry* entry, void* key) {
  entry->prevKey = entry->key;
  if (key == entry->key) return;
  unlink(entry);
  entry->key = key;
  link(entry);
}

// Inserts the entry into its key's group at its place by sequence number.
// New entries are the newest and go first; moved ones walk to their place.
void QelKeyIndex::link(QelKeyEntry* entry) {
  QelKeyGroup* group = static_cast<QelKeyGroup*>(groups_.find(entry->key));
  if (group == nullptr) {
    group = new QelKeyGroup{nullptr, 0};
    groups_.insert(entry->key, group);
  }
  ++group->count;
  QelKeyEntry* newer = nullptr;
  QelKeyEntry* older = group->newest;
  while (older != nullptr && older->seq > entry->seq) {
    newer = older;
    older = older->older;
  }
  entry->newer = newer;
  entry->older = older;
  if (newer != nullptr) {
    newer->older = entry;
  } else {
    group->newest = entry;
  }
  if (older != nullptr) older->newer = entry;
}

void QelKeyIndex::unlink(QelKeyEntry* entry) {
  QelKeyGroup* group = static_cast<QelKeyGroup*>(groups_.find(entry->key));
  if (entry->newer != nullptr) {
    entry->newer->older = entry->older;
  } else {
    group->newest = entry->older;
  }
  if (entry->older != nullptr) entry->older->newer = entry->newer;
  entry->newer = nullptr;
  entry->older = nullptr;
  if (--group->count == 0) {
    groups_.remove(entry->key);
    delete group;
  }
}

void QelKeyIndex::clear() {
  // Every entry is on exactly one group; free groups and entries by walking
  // the entry table's buckets.
  for (int i = 0; i < entries_.bucketCount; ++i) {
    for (QelHashNode* node = entries_.buckets[i].chain; node;
         node = node->nextInBucket) {
      delete static_cast<QelKeyEntry*>(node->value);
    }
  }
  for (int i = 0; i < groups_.bucketCount; ++i) {
    for (QelHashNode* node = groups_.buckets[i].chain; node;
         node = node->nextInBucket) {
      delete static_cast<QelKeyGroup*>(node->value);
    }
  }
  entries_.clear();
  groups_.clear();
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
