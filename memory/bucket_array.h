// The bucket arrays that QelHashTable and QelOrderedSet share: the hash of
// a pointer key, the growth and shrinking rules, and the walks that visit
// or relink every node of an array.
#ifndef QEL_MEMORY_BUCKET_ARRAY_H
#define QEL_MEMORY_BUCKET_ARRAY_H

#include <cstdint>
#include <type_traits>

#include "qel_table.h"
#include "util/block_cache.h"

inline unsigned QelFoldPointer(const void* key) {
  const uint32_t k = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key));
  return (k >> 16) ^ (k & 0xFFFFu);
}

// The bucket of `key` in an array of `bucketCount` buckets. Up to
// kMaxFoldedBuckets it is the 16-bit fold of the address: the sizes and
// orders every container has always had. The fold has too few values for
// larger arrays, which take the address in 8-byte granules instead: keys
// are pointers to blocks at least that aligned, and blocks made one after
// another land in neighbouring buckets.
inline unsigned QelBucketIndex(const void* key, int bucketCount) {
  const unsigned n = static_cast<unsigned>(bucketCount);
  if (bucketCount <= QelHashTable::kMaxFoldedBuckets) return QelFoldPointer(key) % n;
  return static_cast<unsigned>((reinterpret_cast<uintptr_t>(key) >> 3) % n);
}

template <typename Bucket>
Bucket* QelNewBucketArray(int n) {
  Bucket* buckets = QelAllocArray<Bucket>(n);
  for (int i = 0; i < n; ++i) buckets[i] = Bucket{0, nullptr};
  return buckets;
}

// Makes `buckets` an empty array of the smallest size, reusing it when it
// has that size already.
template <typename Bucket>
void QelResetBuckets(Bucket*& buckets, int& bucketCount) {
  if (bucketCount == QelHashTable::kMinBuckets) {
    for (int i = 0; i < bucketCount; ++i) buckets[i] = Bucket{0, nullptr};
    return;
  }
  QelFreeArray(buckets, bucketCount);
  bucketCount = QelHashTable::kMinBuckets;
  buckets = QelNewBucketArray<Bucket>(bucketCount);
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
constexpr int kQelChainsInStep = 8;
constexpr int kQelListedNodes = 128;

template <typename Bucket, typename Visit>
void QelForEachNode(Bucket* buckets, int bucketCount, Visit visit) {
  using Node = typename std::remove_pointer<decltype(buckets->chain)>::type;
  Node* listed[kQelListedNodes];
  for (int i = 0; i < bucketCount;) {
    int end = i;
    int total = 0;
    while (end < bucketCount && end - i < kQelChainsInStep &&
           total + buckets[end].nodeCount <= kQelListedNodes) {
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
    Node* at[kQelChainsInStep];
    int place[kQelChainsInStep];
    int limit[kQelChainsInStep];
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
void QelRelinkChains(Bucket* old, int oldCount, Bucket* fresh,
                     IndexOf indexOf) {
  QelForEachNode(old, oldCount, [&](auto* node) {
    Bucket& bucket = fresh[indexOf(node->key)];
    node->nextInBucket = bucket.chain;
    bucket.chain = node;
    ++bucket.nodeCount;
  });
}

// Growth after an insertion into a chain that now has `chainLength` nodes.
inline int QelGrownSize(int bucketCount, int count, int chainLength) {
  // load = count / bucketCount, truncated; compared without dividing.
  const bool longChain =
      chainLength > QelHashTable::kLongChain && count >= 3 * bucketCount;
  if (!longChain && count < (QelHashTable::kMaxLoad + 1) * bucketCount) {
    return 0;
  }
  return QelNextTableSize(
      static_cast<int>(static_cast<float>(bucketCount) *
                       QelHashTable::kGrowthFactor));
}

// Shrinking after a successful removal.
inline int QelShrunkSize(int bucketCount, int count) {
  if (count >= QelHashTable::kMinLoad * bucketCount ||
      bucketCount <= QelHashTable::kMinBuckets) {
    return 0;
  }
  return QelNextTableSize(static_cast<int>(
      static_cast<float>(bucketCount) / QelHashTable::kShrinkDivisor));
}

#endif  // QEL_MEMORY_BUCKET_ARRAY_H
