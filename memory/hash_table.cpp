#include "memory/bucket_array.h"
#include "qel_table.h"
#include "util/block_cache.h"
#include "util/presence.h"

int QelNextTableSize(int n) {
  if (n <= QelHashTable::kMinBuckets) return QelHashTable::kMinBuckets;
  if (n % 2 == 0) ++n;
  while (n % 3 == 0 || n % 5 == 0 || n % 7 == 0 || n % 11 == 0 || n % 13 == 0) {
    n += 2;
  }
  return n;
}

// ---------------------------------------------------------------- table

void* QelHashNode::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelHashNode::operator delete(void* node, std::size_t size) {
  QelFreeBlock(node, size);
}

QelHashTable::QelHashTable(int n)
    : buckets(QelNewBucketArray<QelHashBucket>(n)), bucketCount(n), count(0) {}

QelHashTable::~QelHashTable() {
  freeChains();
  QelFreeArray(buckets, bucketCount);
  delete presence_;
}

// Counts the keys already held; later insertions and removals keep the
// counts in step.
void QelHashTable::countPresence() {
  presence_ = new QelPresenceCounts;
  for (int i = 0; i < bucketCount; ++i) {
    for (const QelHashNode* node = buckets[i].chain; node != nullptr;
         node = node->nextInBucket) {
      presence_->add(node->key);
    }
  }
}

unsigned QelHashTable::hash(const void* key) const {
  return QelBucketIndex(key, bucketCount);
}

void* QelHashTable::find(const void* key) const {
  if (presence_ != nullptr && !presence_->mayHold(key)) return nullptr;
  for (const QelHashNode* node = buckets[hash(key)].chain; node != nullptr;
       node = node->nextInBucket) {
    if (equal(key, node->key)) return node->value;
  }
  return nullptr;
}

void QelHashTable::insert(void* key, void* value) {
  QelHashBucket& bucket = buckets[hash(key)];
  bucket.chain = new QelHashNode{key, value, bucket.chain};
  ++bucket.nodeCount;
  ++count;
  if (presence_ != nullptr) {
    presence_->add(key);
  } else if (static_cast<std::size_t>(count) >= QelPresenceCounts::kFrom) {
    countPresence();
  }
  const int newSize = QelGrownSize(bucketCount, count, bucket.nodeCount);
  if (newSize != 0) rehash(newSize);
}

void* QelHashTable::remove(const void* key) {
  QelHashBucket& bucket = buckets[hash(key)];
  for (QelHashNode** link = &bucket.chain; *link != nullptr;
       link = &(*link)->nextInBucket) {
    QelHashNode* node = *link;
    if (!equal(key, node->key)) continue;
    void* value = node->value;
    *link = node->nextInBucket;
    if (presence_ != nullptr) presence_->remove(node->key);
    delete node;
    --bucket.nodeCount;
    --count;
    if (presence_ != nullptr &&
        static_cast<std::size_t>(count) <= QelPresenceCounts::kUntil) {
      delete presence_;
      presence_ = nullptr;
    }
    const int newSize = QelShrunkSize(bucketCount, count);
    if (newSize != 0) rehash(newSize);
    return value;
  }
  return nullptr;
}

void QelHashTable::freeChains() {
  if (count == 0) return;
  QelForEachNode(buckets, bucketCount, [](QelHashNode* node) { delete node; });
  count = 0;
}

void QelHashTable::clear() {
  freeChains();
  delete presence_;
  presence_ = nullptr;
  QelResetBuckets(buckets, bucketCount);
  count = 0;
}

void QelHashTable::rehash(int newCount) {
  QelHashBucket* old = buckets;
  const int oldCount = bucketCount;
  bucketCount = newCount;
  buckets = QelNewBucketArray<QelHashBucket>(newCount);
  QelRelinkChains(old, oldCount, buckets,
               [this](const void* key) { return hash(key); });
  QelFreeArray(old, oldCount);
}
