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
    : first(nullptr), buckets(smallest_), bucketCount(kMinBuckets), count(0) {
  emptySmallest();
}

void QelOrderedSet::emptySmallest() {
  for (QelSetBucket& bucket : smallest_) bucket = QelSetBucket{0, nullptr};
}

QelOrderedSet::~QelOrderedSet() {
  freeSetNodes(first);
  freeBuckets();
}

void QelOrderedSet::freeBuckets() {
  if (buckets != smallest_) QelFreeArray(buckets, bucketCount);
}

void QelOrderedSet::resetBuckets() {
  freeBuckets();
  buckets = smallest_;
  bucketCount = kMinBuckets;
  emptySmallest();
}

unsigned QelOrderedSet::bucketOf(const void* key) const {
  return QelBucketIndex(key, bucketCount);
}

QelSetNode* QelOrderedSet::findNode(const void* key) const {
  QelSetNode* node = buckets[bucketOf(key)].chain;
  while (node != nullptr && node->key != key) node = node->nextInBucket;
  return node;
}

bool QelOrderedSet::contains(const void* key) const {
  return findNode(key) != nullptr;
}

void QelOrderedSet::insert(void* key) {
  QelSetBucket& bucket = buckets[bucketOf(key)];
  QelSetNode* node = new QelSetNode{key, bucket.chain, first, nullptr};
  bucket.chain = node;
  ++bucket.nodeCount;
  if (first != nullptr) first->newer = node;
  first = node;
  ++count;
  const int newSize = QelGrownSize(bucketCount, count, bucket.nodeCount);
  if (newSize != 0) rehash(newSize);
}

bool QelOrderedSet::remove(const void* key) {
  QelSetBucket& bucket = buckets[bucketOf(key)];
  for (QelSetNode** link = &bucket.chain; *link != nullptr;
       link = &(*link)->nextInBucket) {
    QelSetNode* node = *link;
    if (node->key != key) continue;
    *link = node->nextInBucket;
    --bucket.nodeCount;
    if (node->newer != nullptr) {
      node->newer->older = node->older;
    } else {
      first = node->older;
    }
    if (node->older != nullptr) node->older->newer = node->newer;
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
  resetBuckets();
  count = 0;
}

// The order list is untouched, so walks survive every resize.
void QelOrderedSet::rehash(int newCount) {
  QelSetBucket copy[kMinBuckets];
  QelSetBucket* old = buckets;
  const int oldCount = bucketCount;
  if (old == smallest_ && newCount == kMinBuckets) {  // same array both ways
    for (int i = 0; i < kMinBuckets; ++i) copy[i] = smallest_[i];
    old = copy;
  }
  bucketCount = newCount;
  if (newCount == kMinBuckets) {
    buckets = smallest_;
    emptySmallest();
  } else {
    buckets = newSetBuckets(newCount);
  }
  QelRelinkChains(old, oldCount, buckets,
               [this](const void* key) { return bucketOf(key); });
  if (old != smallest_ && old != copy) QelFreeArray(old, oldCount);
}
