#include "join/join_keys.h"

#include <algorithm>

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
