#include "memory/bucket_array.h"
#include "qel_table.h"
#include "util/block_cache.h"

namespace {

QelSetBucket* newSetBuckets(int n) {
  return QelNewBucketArray<QelSetBucket>(n);
}

void freeSetNodes(QelSetNode* node) {
  while (node != nullptr) {
    QelSetNode* older = node->older;
    delete node;
    node = older;
  }
}

}  // namespace

void* QelSetNode::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelSetNode::operator delete(void* node, std::size_t size) {
  QelFreeBlock(node, size);
}
void* QelOrderedSet::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelOrderedSet::operator delete(void* set, std::size_t size) {
  QelFreeBlock(set, size);
}

QelOrderedSet::QelOrderedSet()
    : first(nullptr), buckets(nullptr), bucketCount(kMinBuckets), count(0) {}

QelOrderedSet::~QelOrderedSet() {
  freeSetNodes(first);
  freeBuckets();
}

void QelOrderedSet::freeBuckets() {
  if (buckets != nullptr) QelFreeArray(buckets, bucketCount);
  buckets = nullptr;
}

// Gives a listed set its array of bucketCount buckets. Nodes go in oldest
// first, so that each chain starts with its newest node as if the array
// had been there from the start: of two equal keys, remove takes the newer.
void QelOrderedSet::makeBuckets() {
  buckets = newSetBuckets(bucketCount);
  QelSetNode* oldest = first;
  while (oldest != nullptr && oldest->older != nullptr) oldest = oldest->older;
  for (QelSetNode* node = oldest; node != nullptr; node = node->newer) {
    QelSetBucket& bucket = buckets[bucketOf(node->key)];
    node->nextInBucket = bucket.chain;
    bucket.chain = node;
    ++bucket.nodeCount;
  }
}

unsigned QelOrderedSet::bucketOf(const void* key) const {
  return QelBucketIndex(key, bucketCount);
}

QelSetNode* QelOrderedSet::findNode(const void* key) const {
  QelSetNode* node;
  if (buckets == nullptr) {
    for (node = first; node != nullptr && node->key != key;) node = node->older;
    return node;
  }
  node = buckets[bucketOf(key)].chain;
  while (node != nullptr && node->key != key) node = node->nextInBucket;
  return node;
}

bool QelOrderedSet::contains(const void* key) const {
  return findNode(key) != nullptr;
}

void QelOrderedSet::insert(void* key) {
  QelSetNode* node = new QelSetNode{key, nullptr, first, nullptr};
  if (first != nullptr) first->newer = node;
  first = node;
  ++count;
  if (buckets == nullptr) {
    if (count > kListedMembers) makeBuckets();
    return;
  }
  QelSetBucket& bucket = buckets[bucketOf(key)];
  node->nextInBucket = bucket.chain;
  bucket.chain = node;
  ++bucket.nodeCount;
  const int newSize = QelGrownSize(bucketCount, count, bucket.nodeCount);
  if (newSize != 0) rehash(newSize);
}

void QelOrderedSet::unlinkFromOrder(QelSetNode* node) {
  if (node->newer != nullptr) {
    node->newer->older = node->older;
  } else {
    first = node->older;
  }
  if (node->older != nullptr) node->older->newer = node->newer;
}

bool QelOrderedSet::remove(const void* key) {
  if (buckets == nullptr) {
    QelSetNode* node = findNode(key);
    if (node == nullptr) return false;
    unlinkFromOrder(node);
    delete node;
    --count;
    return true;
  }
  QelSetBucket& bucket = buckets[bucketOf(key)];
  for (QelSetNode** link = &bucket.chain; *link != nullptr;
       link = &(*link)->nextInBucket) {
    QelSetNode* node = *link;
    if (node->key != key) continue;
    *link = node->nextInBucket;
    --bucket.nodeCount;
    unlinkFromOrder(node);
    delete node;
    --count;
    const int newSize = QelShrunkSize(bucketCount, count);
    if (newSize != 0) rehash(newSize);
    return true;
  }
  return false;
}

void QelOrderedSet::clear() {
  freeSetNodes(first);
  first = nullptr;
  freeBuckets();
  bucketCount = kMinBuckets;
  count = 0;
}

// The order list is untouched, so walks survive every resize.
void QelOrderedSet::rehash(int newCount) {
  if (buckets == nullptr) makeBuckets();  // then relinked like any array
  QelSetBucket* old = buckets;
  const int oldCount = bucketCount;
  bucketCount = newCount;
  buckets = newSetBuckets(newCount);
  QelRelinkChains(old, oldCount, buckets,
                  [this](const void* key) { return bucketOf(key); });
  QelFreeArray(old, oldCount);
}
