// Pointer-keyed hash containers.
//
// QelHashTable maps a pointer key to a pointer value; QelOrderedSet is a set
// of pointers that also remembers insertion order and is walked newest
// first. Both are separate-chaining tables that grow when their load passes
// 6 and shrink when it falls below 2, from 17 buckets up, so that lookups
// stay short at any size. Keys are compared by identity. Neither checks for
// duplicate keys on insertion: callers that need uniqueness test first.
// Neither owns its keys or values.
#ifndef QEL_TABLE_H
#define QEL_TABLE_H

#include <cstddef>

#include "qel_export.h"

class QelPresenceCounts;

struct QelHashNode {
  void* key;
  void* value;
  QelHashNode* nextInBucket;

  // Nodes are recycled by the library's block cache.
  static void* operator new(std::size_t size);
  static void operator delete(void* node, std::size_t size);
};

struct QelHashBucket {
  int nodeCount;  // number of nodes on `chain`
  QelHashNode* chain;
};

class QelHashTable final {
 public:
  static constexpr int kMinBuckets = 17;
  // Arrays up to this size hash a key by a 16-bit fold of its address;
  // larger ones by the whole address.
  static constexpr int kMaxFoldedBuckets = 9239;
  static constexpr int kLongChain = 12;
  static constexpr int kMaxLoad = 6;
  static constexpr int kMinLoad = 2;
  static constexpr float kGrowthFactor = 1.6f;
  static constexpr float kShrinkDivisor = 2.0f;

  QelHashBucket* buckets;
  int bucketCount;
  int count;  // number of entries

  explicit QelHashTable(int bucketCount = kMinBuckets);
  virtual ~QelHashTable();
  QelHashTable(const QelHashTable&) = delete;
  QelHashTable& operator=(const QelHashTable&) = delete;

  virtual bool equal(const void* a, const void* b) const { return a == b; }
  virtual unsigned hash(const void* key) const;

  // Value of the most recently inserted entry for `key`, or null.
  void* find(const void* key) const;
  // Adds an entry at the head of the key's chain, then may grow.
  void insert(void* key, void* value);
  // Removes the most recent entry for `key` and returns its value (null if
  // none), then may shrink.
  void* remove(const void* key);
  // Frees every node and returns to 17 empty buckets.
  void clear();
  // Moves every node into a new array of `newCount` buckets.
  void rehash(int newCount);

 private:
  void freeChains();
  void countPresence();

  // A large table has long chains (up to 6 nodes on average, more at the
  // largest bucket count), and a lookup of an absent key (an object is
  // looked up before it is asserted) walks one whole chain of scattered
  // nodes. A table of a thousand entries or more therefore also counts its
  // keys apart, which often proves a key absent without the walk. Null
  // while the table is small.
  QelPresenceCounts* presence_ = nullptr;
};

struct QelSetNode {
  void* key;
  QelSetNode* nextInBucket;
  QelSetNode* older;  // inserted before this one, toward the end of the order
  QelSetNode* newer;  // inserted after this one, toward `first`

  static void* operator new(std::size_t size);
  static void operator delete(void* node, std::size_t size);
};

struct QelSetBucket {
  int nodeCount;
  QelSetNode* chain;
};

class QelOrderedSet {
 public:
  static constexpr int kMinBuckets = 17;
  // Arrays up to this size hash a key by a 16-bit fold of its address;
  // larger ones by the whole address.
  static constexpr int kMaxFoldedBuckets = 9239;
  static constexpr int kLongChain = 12;
  static constexpr int kMaxLoad = 6;
  static constexpr int kMinLoad = 2;
  static constexpr float kGrowthFactor = 1.6f;
  static constexpr float kShrinkDivisor = 2.0f;
  // Most sets (the per-partial child and match sets) hold a few members or
  // none. A set of 17 buckets makes its bucket array only when it comes to
  // hold more than this many; until then lookups walk the order list.
  static constexpr int kListedMembers = 16;

  QelSetNode* first;  // most recently inserted node; start of every walk
  // Null from construction or clear() until the set first holds more than
  // kListedMembers or is rehashed; bucketCount is then 17 and the nodes'
  // nextInBucket links are unused.
  QelSetBucket* buckets;
  int bucketCount;
  int count;

  QelOrderedSet();
  ~QelOrderedSet();
  QelOrderedSet(const QelOrderedSet&) = delete;
  // Sets made on the heap are recycled by the library's block cache.
  static void* operator new(std::size_t size);
  static void operator delete(void* set, std::size_t size);
  QelOrderedSet& operator=(const QelOrderedSet&) = delete;

  bool contains(const void* key) const;
  // Adds `key` as the newest member, then may grow.
  void insert(void* key);
  // Removes `key`; false (and no change) when absent. May shrink.
  bool remove(const void* key);
  // Frees every node and starts again empty with 17 buckets.
  void clear();
  void rehash(int newCount);
  bool isEmpty() const { return count == 0; }

 private:
  unsigned bucketOf(const void* key) const;
  QelSetNode* findNode(const void* key) const;
  void makeBuckets();
  void freeBuckets();
  void unlinkFromOrder(QelSetNode* node);
};

// Walks an ordered set newest first. The walker holds the next node before
// it returns the current one, so the member just returned may be removed
// from the set before the next step.
class QelSetWalker {
 public:
  QelSetNode* const* first;  // the walked set's `first` field
  QelSetNode* last;          // node returned last
  QelSetNode* upcoming;      // node returned next

  QelSetWalker() : first(nullptr), last(nullptr), upcoming(nullptr) {}
  explicit QelSetWalker(const QelOrderedSet& set) { init(set); }

  void init(const QelOrderedSet& set) {
    first = &set.first;
    last = nullptr;
    upcoming = set.first;
  }
  void restart() {
    last = nullptr;
    upcoming = first ? *first : nullptr;
  }
  void* next() {
    if (upcoming == nullptr) return nullptr;
    last = upcoming;
    upcoming = upcoming->older;
    return last->key;
  }
};

// The bucket-count sequence shared by both containers: the smallest size
// >= n and >= 17, divisible by none of 2, 3, 5, 7, 11 and 13.
int QelNextTableSize(int n);

#endif  // QEL_TABLE_H
