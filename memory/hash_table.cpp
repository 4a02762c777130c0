#include <cstdint>
#include <type_traits>

#include "qel_table.h"

#include "util/block_cache.h"
#include "util/presence.h"

namespace {

unsigned foldPointer(const void* key) {
  const uint32_t k = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  return (k >> 16) ^ (k & 0xFFFFu);
}

template <typename Bucket>
Bucket* newBucketArray(int n) {
  Bucket* buckets = QelAllocArray<Bucket>(n);
  for (int i = 0; i < n; ++i) buckets[i] = Bucket{0, nullptr};
  return buckets;
}

QelHashBucket* newBuckets(int n) { return newBucketArray<QelHashBucket>(n); }

// Makes `buckets` an empty array of the smallest size, reusing it when it
// has that size already.
template <typename Bucket>
void resetBuckets(Bucket*& buckets, int& bucketCount) {
  if (bucketCount == QelHashTable::kMinBuckets) {
    for (int i = 0; i < bucketCount; ++i) buckets[i] = Bucket{0, nullptr};
    return;
  }
  QelFreeArray(buckets, bucketCount);
  bucketCount = QelHashTable::kMinBuckets;
  buckets = newBucketArray<Bucket>(bucketCount);
}

// Visits every node of a bucket array, bucket by bucket and each chain
// from its head; `visit` may relink or free the node it is given.
//
// In a large container the nodes are scattered beyond the caches and each
// step along a chain waits for a load. So the chains are taken a few at a
// time: their nodes are first listed in visiting order, walking the chains
// in step so that their loads overlap (a chain's place in the list follows
// from the node counts before it), then visited. A chain too long for the
// list is visited as it is walked.
//
// Relies on the invariant that a bucket's nodeCount is its chain's length.
constexpr int kChainsInStep = 8;
constexpr int kListedNodes = 128;

template <typename Bucket, typename Visit>
void forEachNode(Bucket* buckets, int bucketCount, Visit visit) {
  using Node = typename std::remove_pointer<decltype(buckets->chain)>::type;
  Node* listed[kListedNodes];
  for (int i = 0; i < bucketCount;) {
    int end = i;
    int total = 0;
    while (end < bucketCount && end - i < kChainsInStep &&
           total + buckets[end].nodeCount <= kListedNodes) {
      total += buckets[end++].nodeCount;
    }
    if (end == i) {  // one long chain
      for (Node* node = buckets[i++].chain; node != nullptr;) {
        Node* next = node->nextInBucket;
        visit(node);
        node = next;
      }
      continue;
    }
    Node* at[kChainsInStep];
    int place[kChainsInStep];
    int limit[kChainsInStep];
    for (int g = 0, start = 0; g < end - i; ++g) {
      at[g] = buckets[i + g].chain;
      place[g] = start;
      start += buckets[i + g].nodeCount;
      limit[g] = start;
    }
    for (bool more = true; more;) {
      more = false;
      for (int g = 0; g < end - i; ++g) {
        if (at[g] == nullptr || place[g] == limit[g]) continue;
        listed[place[g]++] = at[g];
        at[g] = at[g]->nextInBucket;
        more = true;
      }
    }
    for (int k = 0; k < total; ++k) visit(listed[k]);
    i = end;
  }
}

// Moves every node, in the order above, to the head of its new bucket's
// chain. Nodes are not reallocated.
template <typename Bucket, typename IndexOf>
void relinkChains(Bucket* old, int oldCount, Bucket* fresh, IndexOf indexOf) {
  forEachNode(old, oldCount, [&](auto* node) {
    Bucket& bucket = fresh[indexOf(node->key)];
    node->nextInBucket = bucket.chain;
    bucket.chain = node;
    ++bucket.nodeCount;
  });
}

// Growth after an insertion into a chain that now has `chainLength` nodes.
int grownSize(int bucketCount, int count, int chainLength) {
  if (bucketCount >= QelHashTable::kMaxBuckets) return 0;
  // load = count / bucketCount, truncated; compared without dividing.
  const bool longChain =
      chainLength > QelHashTable::kLongChain && count >= 3 * bucketCount;
  if (!longChain && count < (QelHashTable::kMaxLoad + 1) * bucketCount) return 0;
  return QelNextTableSize(
      static_cast<int>(static_cast<float>(bucketCount) *
                       QelHashTable::kGrowthFactor));
}

// Shrinking after a successful removal.
int shrunkSize(int bucketCount, int count) {
  if (count >= QelHashTable::kMinLoad * bucketCount ||
      bucketCount <= QelHashTable::kMinBuckets) {
    return 0;
  }
  return QelNextTableSize(static_cast<int>(
      static_cast<float>(bucketCount) / QelHashTable::kShrinkDivisor));
}

}  // namespace

int QelNextTableSize(int n) {
  if (n <= QelHashTable::kMinBuckets) return QelHashTable::kMinBuckets;
  if (n >= QelHashTable::kMaxBuckets) return QelHashTable::kMaxBuckets;
  if (n % 2 == 0) ++n;
  for (; n < QelHashTable::kMaxBuckets; n += 2) {
    if (n % 3 != 0 && n % 5 != 0 && n % 7 != 0 && n % 11 != 0 &&
        n % 13 != 0) {
      return n;
    }
  }
  return QelHashTable::kMaxBuckets;
}

// ---------------------------------------------------------------- table

void* QelHashNode::operator new(std::size_t size) { return QelAllocBlock(size); }
void QelHashNode::operator delete(void* node, std::size_t size) {
  QelFreeBlock(node, size);
}

QelHashTable::QelHashTable(int n)
    : buckets(newBuckets(n)), bucketCount(n), count(0) {}

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
  return foldPointer(key) % static_cast<unsigned>(bucketCount);
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
  const int newSize = grownSize(bucketCount, count, bucket.nodeCount);
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
    const int newSize = shrunkSize(bucketCount, count);
    if (newSize != 0) rehash(newSize);
    return value;
  }
  return nullptr;
}

void QelHashTable::freeChains() {
  if (count == 0) return;
  forEachNode(buckets, bucketCount, [](QelHashNode* node) { delete node; });
  count = 0;
}

void QelHashTable::clear() {
  freeChains();
  delete presence_;
  presence_ = nullptr;
  resetBuckets(buckets, bucketCount);
  count = 0;
}

void QelHashTable::rehash(int newCount) {
  QelHashBucket* old = buckets;
  const int oldCount = bucketCount;
  bucketCount = newCount;
  buckets = newBuckets(newCount);
  relinkChains(old, oldCount, buckets,
               [this](const void* key) { return hash(key); });
  QelFreeArray(old, oldCount);
}

// ---------------------------------------------------------------- set

namespace {

QelSetBucket* newSetBuckets(int n) { return newBucketArray<QelSetBucket>(n); }

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
  return foldPointer(key) % static_cast<unsigned>(bucketCount);
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
  const int newSize = grownSize(bucketCount, count, bucket.nodeCount);
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
    const int newSize = shrunkSize(bucketCount, count);
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
  relinkChains(old, oldCount, buckets,
               [this](const void* key) { return bucketOf(key); });
  if (old != smallest_ && old != copy) QelFreeArray(old, oldCount);
}
