// QelHashTable and QelOrderedSet: hashing, duplicates, the growth and
// shrinking between 17 and 9239 buckets, and walking sets newest first.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "qel_table.h"

namespace {

void* key(uintptr_t k) { return reinterpret_cast<void*>(k); }

// Expected bucket of a key: the two 16-bit halves folded by XOR.
unsigned expectedBucket(uintptr_t k, int bucketCount) {
  const uint32_t low = static_cast<uint32_t>(k);
  return ((low >> 16) ^ (low & 0xFFFFu)) % static_cast<uint32_t>(bucketCount);
}

// Keys i and j with i != j (mod 17) land in different buckets of a fresh
// container, and no chain gets long while the load stays below 7.
uintptr_t spreadKey(int i) { return static_cast<uintptr_t>(i); }
// All land in bucket 0 of a 17-bucket container.
uintptr_t collidingKey(int i) { return static_cast<uintptr_t>(17 * i); }

// The keys of every chain, bucket by bucket, each from its head.
template <typename Container>
std::vector<std::vector<void*>> chainsOf(const Container& c) {
  std::vector<std::vector<void*>> out(c.bucketCount);
  for (int b = 0; b < c.bucketCount; ++b) {
    for (auto* node = c.buckets[b].chain; node; node = node->nextInBucket) {
      out[b].push_back(node->key);
    }
  }
  return out;
}

// Uniform access to both containers for the sizing tests.
struct TableAdapter {
  QelHashTable c;
  void insert(uintptr_t k) { c.insert(key(k), key(k + 1)); }
  bool remove(uintptr_t k) { return c.remove(key(k)) != nullptr; }
  bool contains(uintptr_t k) const { return c.find(key(k)) == key(k + 1); }
  int buckets() const { return c.bucketCount; }
  int count() const { return c.count; }
  void clear() { c.clear(); }
  void rehash(int n) { c.rehash(n); }
  std::vector<std::vector<void*>> chains() const { return chainsOf(c); }
  // Every node is on the chain of its bucket and every nodeCount is right.
  bool chainsConsistent() const {
    int total = 0;
    for (int b = 0; b < c.bucketCount; ++b) {
      int n = 0;
      for (QelHashNode* node = c.buckets[b].chain; node; node = node->nextInBucket) {
        if (expectedBucket(reinterpret_cast<uintptr_t>(node->key), c.bucketCount) !=
            static_cast<unsigned>(b))
          return false;
        ++n;
      }
      if (n != c.buckets[b].nodeCount) return false;
      total += n;
    }
    return total == c.count;
  }
};

struct SetAdapter {
  QelOrderedSet c;
  void insert(uintptr_t k) { c.insert(key(k)); }
  bool remove(uintptr_t k) { return c.remove(key(k)); }
  bool contains(uintptr_t k) const { return c.contains(key(k)); }
  int buckets() const { return c.bucketCount; }
  int count() const { return c.count; }
  void clear() { c.clear(); }
  void rehash(int n) { c.rehash(n); }
  std::vector<std::vector<void*>> chains() const { return chainsOf(c); }
  bool chainsConsistent() const {
    int total = 0;
    for (int b = 0; b < c.bucketCount; ++b) {
      int n = 0;
      for (QelSetNode* node = c.buckets[b].chain; node; node = node->nextInBucket) {
        if (expectedBucket(reinterpret_cast<uintptr_t>(node->key), c.bucketCount) !=
            static_cast<unsigned>(b))
          return false;
        ++n;
      }
      if (n != c.buckets[b].nodeCount) return false;
      total += n;
    }
    // The order list holds exactly the same nodes, linked both ways.
    int listed = 0;
    QelSetNode* newer = nullptr;
    for (QelSetNode* node = c.first; node; node = node->older) {
      if (node->newer != newer) return false;
      newer = node;
      ++listed;
    }
    return total == c.count && listed == c.count;
  }
};

template <typename T>
class HashContainer : public ::testing::Test {
 protected:
  T t;
};

using ContainerTypes = ::testing::Types<TableAdapter, SetAdapter>;
class ContainerNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    return std::is_same<T, TableAdapter>::value ? "Table" : "Set";
  }
};
TYPED_TEST_SUITE(HashContainer, ContainerTypes, ContainerNames);

TEST(QelNextTableSize, Bounds) {
  EXPECT_EQ(QelNextTableSize(-5), 17);
  EXPECT_EQ(QelNextTableSize(0), 17);
  EXPECT_EQ(QelNextTableSize(14), 17);
  EXPECT_EQ(QelNextTableSize(17), 17);
  EXPECT_EQ(QelNextTableSize(9239), 9239);
  EXPECT_EQ(QelNextTableSize(20000), 9239);
  // 9237 = 3 x 3079, and nothing below 9239 is tried after it.
  EXPECT_EQ(QelNextTableSize(9237), 9239);
  EXPECT_EQ(QelNextTableSize(9238), 9239);
}

TEST(QelNextTableSize, SkipsSmallDivisorsOnly) {
  EXPECT_EQ(QelNextTableSize(18), 19);
  EXPECT_EQ(QelNextTableSize(23), 23);
  EXPECT_EQ(QelNextTableSize(27), 29);  // 27 = 3 x 9
  EXPECT_EQ(QelNextTableSize(39), 41);  // 39 = 3 x 13
  EXPECT_EQ(QelNextTableSize(46), 47);  // even: tried from 47
  EXPECT_EQ(QelNextTableSize(75), 79);  // 75 and 77 = 7 x 11 skipped
  EXPECT_EQ(QelNextTableSize(14), 17);
  // 289 = 17 x 17 has none of the five divisors and is accepted.
  EXPECT_EQ(QelNextTableSize(288), 289);
  EXPECT_EQ(QelNextTableSize(289), 289);
  // 169 = 13 x 13 is rejected, 171 = 3 x 57 too.
  EXPECT_EQ(QelNextTableSize(169), 173);
}

TEST(QelNextTableSize, GrowthAndShrinkSteps) {
  // Growth takes the truncated product with 1.6f.
  const int sequence[] = {17,   29,   47,   79,   127,  211,  337,
                          541,  877,  1403, 2251, 3607, 5771, 9239};
  for (size_t i = 0; i + 1 < sizeof(sequence) / sizeof(sequence[0]); ++i) {
    EXPECT_EQ(QelNextTableSize(static_cast<int>(
                  static_cast<float>(sequence[i]) * 1.6f)),
              sequence[i + 1])
        << "from " << sequence[i];
  }
  EXPECT_EQ(QelNextTableSize(static_cast<int>(29 / 2.0f)), 17);
  EXPECT_EQ(QelNextTableSize(static_cast<int>(47 / 2.0f)), 23);
  EXPECT_EQ(QelNextTableSize(static_cast<int>(79 / 2.0f)), 41);
}

TYPED_TEST(HashContainer, StartsWith17EmptyBuckets) {
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_EQ(this->t.count(), 0);
  EXPECT_FALSE(this->t.contains(5));
  EXPECT_TRUE(this->t.chainsConsistent());
}

TYPED_TEST(HashContainer, GrowsOnThe119thSpreadInsertion) {
  for (int i = 1; i <= 118; ++i) {
    this->t.insert(spreadKey(i));
    ASSERT_EQ(this->t.buckets(), 17) << "after insertion " << i;
  }
  this->t.insert(spreadKey(119));
  EXPECT_EQ(this->t.buckets(), 29);
  EXPECT_EQ(this->t.count(), 119);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int i = 1; i <= 119; ++i) EXPECT_TRUE(this->t.contains(spreadKey(i)));
}

TYPED_TEST(HashContainer, GrowsOnThe51stCollidingInsertion) {
  // From the 13th on the chain is long, but the load stays at 2 or less
  // until the 51st.
  for (int i = 1; i <= 50; ++i) {
    this->t.insert(collidingKey(i));
    ASSERT_EQ(this->t.buckets(), 17) << "after insertion " << i;
  }
  this->t.insert(collidingKey(51));
  EXPECT_EQ(this->t.buckets(), 29);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int i = 1; i <= 51; ++i) EXPECT_TRUE(this->t.contains(collidingKey(i)));
}

TYPED_TEST(HashContainer, GrowthSequenceUpTo9239AndNoFurther) {
  // Spread keys grow the container only by load: at 7 x buckets entries.
  std::vector<std::pair<int, int>> changes;  // (count, new bucket count)
  int previous = this->t.buckets();
  const int total = 9239 * 8;
  for (int i = 1; i <= total; ++i) {
    this->t.insert(spreadKey(i));
    if (this->t.buckets() != previous) {
      changes.emplace_back(i, this->t.buckets());
      previous = this->t.buckets();
    }
  }
  const int sequence[] = {17,   29,   47,   79,   127,  211,  337,
                          541,  877,  1403, 2251, 3607, 5771, 9239};
  const size_t steps = sizeof(sequence) / sizeof(sequence[0]) - 1;
  ASSERT_EQ(changes.size(), steps);
  for (size_t s = 0; s < steps; ++s) {
    EXPECT_EQ(changes[s].first, 7 * sequence[s]) << "step " << s;
    EXPECT_EQ(changes[s].second, sequence[s + 1]) << "step " << s;
  }
  EXPECT_EQ(this->t.buckets(), 9239);
  EXPECT_EQ(this->t.count(), total);
  EXPECT_TRUE(this->t.chainsConsistent());
  EXPECT_TRUE(this->t.contains(spreadKey(1)));
  EXPECT_TRUE(this->t.contains(spreadKey(total)));
}

TYPED_TEST(HashContainer, NoGrowthAtMaximumEvenForLongChains) {
  this->t.rehash(9239);
  for (int i = 1; i <= 3 * 9239 + 40; ++i) this->t.insert(spreadKey(i));
  // Keys whose two halves are equal fold to 0: a long chain in bucket 0
  // while the load is above 2.
  for (uintptr_t x = 1; x <= 20; ++x) this->t.insert((x << 16) | x);
  EXPECT_EQ(this->t.buckets(), 9239);
  EXPECT_TRUE(this->t.chainsConsistent());
}

TYPED_TEST(HashContainer, ShrinksFrom29To17WhenLoadFallsBelow2) {
  for (int i = 1; i <= 119; ++i) this->t.insert(spreadKey(i));
  ASSERT_EQ(this->t.buckets(), 29);
  int i = 119;
  for (; this->t.count() > 58; --i) {
    ASSERT_TRUE(this->t.remove(spreadKey(i)));
    ASSERT_EQ(this->t.buckets(), 29) << "count " << this->t.count();
  }
  ASSERT_TRUE(this->t.remove(spreadKey(i)));
  EXPECT_EQ(this->t.count(), 57);
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int k = 1; k <= 57; ++k) EXPECT_TRUE(this->t.contains(spreadKey(k)));
  EXPECT_FALSE(this->t.contains(spreadKey(58)));
}

TYPED_TEST(HashContainer, ShrinksFrom47To23ThenTo17) {
  for (int i = 1; i <= 203; ++i) this->t.insert(spreadKey(i));
  ASSERT_EQ(this->t.buckets(), 47);
  int i = 203;
  while (this->t.count() > 94) ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 47);
  ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 23);
  // 23 buckets: below a load of 2 at 45 entries.
  while (this->t.count() > 46) ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 23);
  ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 17);
  // Never below 17.
  while (this->t.count() > 0) ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_TRUE(this->t.chainsConsistent());
}

TYPED_TEST(HashContainer, ShrinksFrom79To41) {
  for (int i = 1; i <= 329; ++i) this->t.insert(spreadKey(i));
  ASSERT_EQ(this->t.buckets(), 79);
  int i = 329;
  while (this->t.count() > 158) ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 79);
  ASSERT_TRUE(this->t.remove(spreadKey(i--)));
  EXPECT_EQ(this->t.buckets(), 41);
  EXPECT_TRUE(this->t.chainsConsistent());
}

TYPED_TEST(HashContainer, RemovingAnAbsentKeyChangesNothing) {
  // An empty container of 29 buckets would shrink on any removal.
  this->t.rehash(29);
  EXPECT_FALSE(this->t.remove(spreadKey(3)));
  EXPECT_EQ(this->t.buckets(), 29);

  this->t.insert(collidingKey(1));
  this->t.insert(collidingKey(2));
  EXPECT_FALSE(this->t.remove(collidingKey(3)));
  EXPECT_FALSE(this->t.remove(spreadKey(0)));
  EXPECT_EQ(this->t.count(), 2);
  EXPECT_EQ(this->t.buckets(), 29);
  EXPECT_TRUE(this->t.contains(collidingKey(1)));
  EXPECT_TRUE(this->t.contains(collidingKey(2)));

  // A successful removal does shrink it.
  EXPECT_TRUE(this->t.remove(collidingKey(1)));
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_TRUE(this->t.contains(collidingKey(2)));
}

TYPED_TEST(HashContainer, RemoveFromTheMiddleOfAChain) {
  for (int i = 1; i <= 5; ++i) this->t.insert(collidingKey(i));
  EXPECT_TRUE(this->t.remove(collidingKey(3)));
  EXPECT_TRUE(this->t.remove(collidingKey(5)));  // chain head
  EXPECT_TRUE(this->t.remove(collidingKey(1)));  // chain tail
  EXPECT_FALSE(this->t.contains(collidingKey(3)));
  EXPECT_TRUE(this->t.contains(collidingKey(2)));
  EXPECT_TRUE(this->t.contains(collidingKey(4)));
  EXPECT_EQ(this->t.count(), 2);
  EXPECT_TRUE(this->t.chainsConsistent());
}

TYPED_TEST(HashContainer, ClearReturnsTo17) {
  for (int i = 1; i <= 400; ++i) this->t.insert(spreadKey(i));
  ASSERT_GT(this->t.buckets(), 17);
  this->t.clear();
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_EQ(this->t.count(), 0);
  EXPECT_FALSE(this->t.contains(spreadKey(1)));
  EXPECT_TRUE(this->t.chainsConsistent());
  // Usable afterwards.
  this->t.insert(spreadKey(7));
  EXPECT_TRUE(this->t.contains(spreadKey(7)));
  EXPECT_EQ(this->t.count(), 1);
}

TYPED_TEST(HashContainer, ExplicitRehashKeepsEveryEntry) {
  for (int i = 1; i <= 60; ++i) this->t.insert(collidingKey(i));
  this->t.rehash(101);
  EXPECT_EQ(this->t.buckets(), 101);
  EXPECT_EQ(this->t.count(), 60);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int i = 1; i <= 60; ++i) EXPECT_TRUE(this->t.contains(collidingKey(i)));
}

// A resize takes the old buckets in turn and each chain from its head, and
// puts every node at the head of its new chain. Checked on a large
// container whose chains are short, long and, in one bucket, longer than
// a hundred nodes.
TYPED_TEST(HashContainer, RehashTakesChainsInOrderFromTheirHeads) {
  for (int i = 1; i <= 2000; ++i) this->t.insert(0x10000u + 8u * i);
  this->t.rehash(877);
  // Both halves of a * 65537 are a: they fold to 0, bucket 0 at any size.
  for (uintptr_t a = 1; a <= 300; ++a) this->t.insert(a * 65537u);
  ASSERT_EQ(this->t.buckets(), 877);
  const std::vector<std::vector<void*>> before = this->t.chains();
  ASSERT_GT(before[0].size(), 128u);
  // Down to few buckets, so that each new chain mixes many old ones.
  std::vector<std::vector<void*>> expected(29);
  for (const std::vector<void*>& chain : before) {
    for (void* k : chain) {
      auto& to = expected[expectedBucket(reinterpret_cast<uintptr_t>(k), 29)];
      to.insert(to.begin(), k);
    }
  }
  this->t.rehash(29);
  EXPECT_EQ(this->t.chains(), expected);
  EXPECT_TRUE(this->t.chainsConsistent());
}

// The chains a rehash to `size` must give, from the current ones.
template <typename C>
std::vector<std::vector<void*>> rehashedChains(const C& container, int size) {
  std::vector<std::vector<void*>> expected(size);
  for (const std::vector<void*>& chain : container.chains()) {
    for (void* k : chain) {
      auto& to = expected[expectedBucket(reinterpret_cast<uintptr_t>(k), size)];
      to.insert(to.begin(), k);
    }
  }
  return expected;
}

// The smallest array may be the container's own storage: a rehash from 17
// buckets to 17 reads and writes the same size, and rehashes back and
// forth between 17 and larger sizes must not lose or mix up chains.
TYPED_TEST(HashContainer, RehashesToAndFromTheSmallestSize) {
  for (int i = 1; i <= 40; ++i) this->t.insert(spreadKey(i));
  for (int i = 1; i <= 10; ++i) this->t.insert(collidingKey(i));
  ASSERT_EQ(this->t.buckets(), 17);
  auto expected = rehashedChains(this->t, 17);
  this->t.rehash(17);
  EXPECT_EQ(this->t.chains(), expected);
  expected = rehashedChains(this->t, 29);
  this->t.rehash(29);
  EXPECT_EQ(this->t.chains(), expected);
  expected = rehashedChains(this->t, 17);
  this->t.rehash(17);
  EXPECT_EQ(this->t.chains(), expected);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int i = 41; i <= 400; ++i) this->t.insert(spreadKey(i));
  EXPECT_GT(this->t.buckets(), 17);
  EXPECT_EQ(this->t.count(), 410);
  EXPECT_TRUE(this->t.chainsConsistent());
  // Every removal shrinks one step at most: the last ones reach 17.
  for (int i = 1; i <= 400; ++i) ASSERT_TRUE(this->t.remove(spreadKey(i)));
  for (int i = 1; i <= 5; ++i) ASSERT_TRUE(this->t.remove(collidingKey(i)));
  EXPECT_EQ(this->t.buckets(), 17);
  EXPECT_TRUE(this->t.chainsConsistent());
  for (int i = 6; i <= 10; ++i) EXPECT_TRUE(this->t.contains(collidingKey(i)));
}

// ------------------------------------------------------------ table only

TEST(QelHashTable, HashFoldsTheTwoHalves) {
  QelHashTable table;
  EXPECT_EQ(table.hash(key(0x12345678u)), (0x1234u ^ 0x5678u) % 17u);
  EXPECT_EQ(table.hash(key(0xFFFF0000u)), 0xFFFFu % 17u);
  EXPECT_EQ(table.hash(key(5)), 5u);
  if (sizeof(void*) == 8) {
    // Only the low 32 bits of a pointer count.
    const uint64_t wide = (uint64_t{0xABCD} << 32) | 0x12345678u;
    EXPECT_EQ(table.hash(key(static_cast<uintptr_t>(wide))),
              table.hash(key(0x12345678u)));
  }
  QelHashTable wider(29);
  EXPECT_EQ(wider.bucketCount, 29);
  EXPECT_EQ(wider.hash(key(0x12345678u)), (0x1234u ^ 0x5678u) % 29u);
}

TEST(QelHashTable, EqualIsIdentity) {
  QelHashTable table;
  int a = 0;
  int b = 0;
  EXPECT_TRUE(table.equal(&a, &a));
  EXPECT_FALSE(table.equal(&a, &b));
}

TEST(QelHashTable, FindReturnsTheValue) {
  QelHashTable table;
  int v1 = 0;
  int v2 = 0;
  table.insert(key(3), &v1);
  table.insert(key(20), &v2);  // same bucket as 3
  EXPECT_EQ(table.find(key(3)), &v1);
  EXPECT_EQ(table.find(key(20)), &v2);
  EXPECT_EQ(table.find(key(37)), nullptr);
  EXPECT_EQ(table.find(key(4)), nullptr);
}

TEST(QelHashTable, DuplicateKeysGiveTwoEntries) {
  QelHashTable table;
  int first = 0;
  int second = 0;
  table.insert(key(9), &first);
  table.insert(key(9), &second);
  EXPECT_EQ(table.count, 2);
  EXPECT_EQ(table.find(key(9)), &second);
  EXPECT_EQ(table.remove(key(9)), &second);
  EXPECT_EQ(table.count, 1);
  EXPECT_EQ(table.find(key(9)), &first);
  EXPECT_EQ(table.remove(key(9)), &first);
  EXPECT_EQ(table.remove(key(9)), nullptr);
  EXPECT_EQ(table.count, 0);
}

TEST(QelHashTable, RehashMovesNodesWithoutReallocating) {
  QelHashTable table;
  int v = 0;
  table.insert(key(40), &v);
  QelHashNode* node = table.buckets[table.hash(key(40))].chain;
  ASSERT_NE(node, nullptr);
  table.rehash(47);
  EXPECT_EQ(table.buckets[40 % 47].chain, node);
  EXPECT_EQ(table.find(key(40)), &v);
}

// Large tables answer lookups of absent keys from counts kept beside the
// chains. The answers must stay those of the chains: through the size at
// which counting starts and stops, with keys inserted before it started,
// and with one key entered so often that its count saturates.
TEST(QelHashTable, LargeTablesFindExactlyTheirEntries) {
  QelHashTable table;
  int v = 0;
  auto k = [](int i) { return key(0x10000u + 24u * static_cast<uintptr_t>(i)); };
  for (int i = 0; i < 6000; ++i) table.insert(k(i), &v);
  for (int i = 0; i < 12000; ++i) {
    ASSERT_EQ(table.find(k(i)), i < 6000 ? &v : nullptr) << i;
  }
  for (int i = 0; i < 6000; i += 2) ASSERT_EQ(table.remove(k(i)), &v);
  for (int i = 0; i < 6000; ++i) ASSERT_EQ(table.find(k(i)), i % 2 ? &v : nullptr) << i;
  for (int i = 1; i < 6000; i += 2) ASSERT_EQ(table.remove(k(i)), &v);  // below any threshold
  EXPECT_EQ(table.count, 0);
  for (int i = 0; i < 6000; ++i) ASSERT_EQ(table.find(k(i)), nullptr) << i;
  for (int i = 0; i < 5000; ++i) table.insert(k(i), &v);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(table.find(k(i)), &v) << i;
  table.clear();
  EXPECT_EQ(table.find(k(1)), nullptr);
  table.insert(k(1), &v);
  EXPECT_EQ(table.find(k(1)), &v);
}

TEST(QelHashTable, AKeyEnteredHundredsOfTimesInALargeTable) {
  QelHashTable table;
  int v = 0;
  int dup = 0;
  for (int i = 0; i < 5000; ++i) table.insert(key(0x10000u + 16u * i), &v);
  for (int i = 0; i < 300; ++i) table.insert(key(8), &dup);
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(table.find(key(8)), &dup) << i;
    ASSERT_EQ(table.remove(key(8)), &dup) << i;
  }
  EXPECT_EQ(table.find(key(8)), nullptr);
  EXPECT_EQ(table.find(key(0x10000u)), &v);
}

// ------------------------------------------------------------ set only

std::vector<void*> walk(const QelOrderedSet& set) {
  std::vector<void*> out;
  QelSetWalker w(set);
  while (void* k = w.next()) out.push_back(k);
  return out;
}

TEST(QelOrderedSet, EmptySet) {
  QelOrderedSet set;
  EXPECT_EQ(set.first, nullptr);
  EXPECT_TRUE(set.isEmpty());
  EXPECT_TRUE(walk(set).empty());
  EXPECT_FALSE(set.remove(key(1)));
}

TEST(QelOrderedSet, WalksNewestFirst) {
  QelOrderedSet set;
  set.insert(key(1));
  set.insert(key(2));
  set.insert(key(3));
  EXPECT_EQ(walk(set), std::vector<void*>({key(3), key(2), key(1)}));
  EXPECT_EQ(set.first->key, key(3));
  EXPECT_FALSE(set.isEmpty());
}

TEST(QelOrderedSet, RemovingTheMemberJustReturnedDuringAWalk) {
  QelOrderedSet set;
  set.insert(key(1));
  set.insert(key(2));
  set.insert(key(3));
  QelSetWalker w(set);
  EXPECT_EQ(w.next(), key(3));
  EXPECT_EQ(w.next(), key(2));
  EXPECT_TRUE(set.remove(key(2)));
  EXPECT_EQ(w.next(), key(1));
  EXPECT_EQ(w.next(), nullptr);
  EXPECT_EQ(w.next(), nullptr);
  EXPECT_EQ(walk(set), std::vector<void*>({key(3), key(1)}));
}

TEST(QelOrderedSet, DrainingDuringAWalk) {
  QelOrderedSet set;
  for (int i = 1; i <= 200; ++i) set.insert(key(i));
  ASSERT_GT(set.bucketCount, 17);
  QelSetWalker w(set);
  int expected = 200;
  // Removal shrinks the set on the way; the walk must not notice.
  while (void* k = w.next()) {
    EXPECT_EQ(k, key(expected--));
    EXPECT_TRUE(set.remove(k));
  }
  EXPECT_EQ(expected, 0);
  EXPECT_EQ(set.first, nullptr);
  EXPECT_EQ(set.count, 0);
  EXPECT_EQ(set.bucketCount, 17);
}

TEST(QelOrderedSet, RemovingNewestAndOldestRelinksTheOrder) {
  QelOrderedSet set;
  for (int i = 1; i <= 4; ++i) set.insert(key(i));
  EXPECT_TRUE(set.remove(key(4)));
  EXPECT_EQ(set.first->key, key(3));
  EXPECT_EQ(set.first->newer, nullptr);
  EXPECT_TRUE(set.remove(key(1)));
  EXPECT_EQ(walk(set), std::vector<void*>({key(3), key(2)}));
  set.insert(key(5));
  EXPECT_EQ(walk(set), std::vector<void*>({key(5), key(3), key(2)}));
}

TEST(QelOrderedSet, WalkOrderSurvivesResizing) {
  QelOrderedSet set;
  std::vector<void*> expected;
  // Colliding and spread keys mixed, enough to grow twice.
  for (int i = 1; i <= 250; ++i) {
    const uintptr_t k = (i % 3 == 0) ? collidingKey(i) : spreadKey(i);
    set.insert(key(k));
    expected.insert(expected.begin(), key(k));
  }
  ASSERT_GE(set.bucketCount, 47);
  EXPECT_EQ(walk(set), expected);
  set.rehash(17);
  EXPECT_EQ(walk(set), expected);
}

TEST(QelOrderedSet, DuplicatesAreNotChecked) {
  QelOrderedSet set;
  set.insert(key(6));
  set.insert(key(7));
  set.insert(key(6));
  EXPECT_EQ(set.count, 3);
  EXPECT_EQ(walk(set), std::vector<void*>({key(6), key(7), key(6)}));
  EXPECT_TRUE(set.remove(key(6)));
  EXPECT_TRUE(set.contains(key(6)));
  EXPECT_EQ(set.count, 2);
}

TEST(QelOrderedSet, ClearEmptiesTheOrder) {
  QelOrderedSet set;
  for (int i = 1; i <= 150; ++i) set.insert(key(i));
  set.clear();
  EXPECT_EQ(set.first, nullptr);
  EXPECT_TRUE(walk(set).empty());
  set.insert(key(2));
  EXPECT_EQ(walk(set), std::vector<void*>({key(2)}));
}

TEST(QelSetWalker, RestartAndDefault) {
  QelSetWalker idle;
  EXPECT_EQ(idle.next(), nullptr);
  idle.restart();
  EXPECT_EQ(idle.next(), nullptr);

  QelOrderedSet set;
  set.insert(key(1));
  QelSetWalker w(set);
  // restart() starts again from the set's current newest member.
  set.insert(key(2));
  w.restart();
  EXPECT_EQ(w.next(), key(2));
  EXPECT_EQ(w.next(), key(1));
  EXPECT_EQ(w.next(), nullptr);
  w.restart();
  EXPECT_EQ(w.next(), key(2));
}

}  // namespace
