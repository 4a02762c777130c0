// QelHashTable and QelOrderedSet: what callers see of them (lookups,
// duplicates, counts, walks newest first) through every resize.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "qel_table.h"

namespace {

void* key(uintptr_t k) { return reinterpret_cast<void*>(k); }

// Small consecutive keys spread over the buckets; multiples of 17 share
// one chain at the smallest size; keys whose 16-bit halves are equal share
// one chain at every size.
uintptr_t spreadKey(int i) { return static_cast<uintptr_t>(i); }
uintptr_t collidingKey(int i) { return static_cast<uintptr_t>(17 * i); }
uintptr_t foldedKey(int i) { return static_cast<uintptr_t>(i) * 65537u; }

// Uniform access to both containers.
struct TableAdapter {
  QelHashTable c;
  void insert(uintptr_t k) { c.insert(key(k), key(k + 1)); }
  bool remove(uintptr_t k) { return c.remove(key(k)) != nullptr; }
  bool contains(uintptr_t k) const { return c.find(key(k)) == key(k + 1); }
  int count() const { return c.count; }
  void clear() { c.clear(); }
  void rehash(int n) { c.rehash(n); }
};

struct SetAdapter {
  QelOrderedSet c;
  void insert(uintptr_t k) { c.insert(key(k)); }
  bool remove(uintptr_t k) { return c.remove(key(k)); }
  bool contains(uintptr_t k) const { return c.contains(key(k)); }
  int count() const { return c.count; }
  void clear() { c.clear(); }
  void rehash(int n) { c.rehash(n); }
};

template <typename T>
class HashContainer : public ::testing::Test {
 protected:
  T t;
  // Exactly the keys key(0..n) with `present(i)` are found.
  template <typename Key, typename Present>
  void expectExactly(Key k, int n, Present present) {
    int expected = 0;
    for (int i = 0; i <= n; ++i) {
      ASSERT_EQ(t.contains(k(i)), present(i)) << "key " << i;
      expected += present(i) ? 1 : 0;
    }
    EXPECT_EQ(t.count(), expected);
  }
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

// Growth, shrinking and long chains, for counts below the first resize and
// far beyond the largest size: every entry stays found, no other key is.
TYPED_TEST(HashContainer, FindsExactlyItsEntriesThroughGrowthAndShrinking) {
  struct Case {
    uintptr_t (*k)(int);
    int n;
  };
  const Case cases[] = {{spreadKey, 1},      {spreadKey, 118},
                        {spreadKey, 119},    {collidingKey, 51},
                        {foldedKey, 300},    {spreadKey, 9239 * 8},
                        {collidingKey, 3000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    for (int i = 1; i <= c.n; ++i) this->t.insert(c.k(i));
    this->expectExactly(c.k, c.n + 10, [&](int i) { return i >= 1 && i <= c.n; });
    // Every other one out, then the rest, newest first.
    for (int i = 1; i <= c.n; i += 2) ASSERT_TRUE(this->t.remove(c.k(i)));
    this->expectExactly(c.k, c.n, [](int i) { return i % 2 == 0 && i > 0; });
    for (int i = c.n; i >= 1; --i) {
      ASSERT_EQ(this->t.remove(c.k(i)), i % 2 == 0) << i;
    }
    EXPECT_EQ(this->t.count(), 0);
  }
}

TYPED_TEST(HashContainer, RemovingAnAbsentKeyChangesNothing) {
  EXPECT_FALSE(this->t.remove(spreadKey(3)));
  this->t.insert(collidingKey(1));
  this->t.insert(collidingKey(2));
  EXPECT_FALSE(this->t.remove(collidingKey(3)));
  EXPECT_FALSE(this->t.remove(spreadKey(0)));
  this->expectExactly(collidingKey, 4, [](int i) { return i == 1 || i == 2; });
}

TYPED_TEST(HashContainer, RemoveFromTheMiddleOfAChain) {
  for (int i = 1; i <= 5; ++i) this->t.insert(collidingKey(i));
  EXPECT_TRUE(this->t.remove(collidingKey(3)));
  EXPECT_TRUE(this->t.remove(collidingKey(5)));  // chain head
  EXPECT_TRUE(this->t.remove(collidingKey(1)));  // chain tail
  this->expectExactly(collidingKey, 6, [](int i) { return i == 2 || i == 4; });
}

TYPED_TEST(HashContainer, ClearEmptiesAndStaysUsable) {
  for (int i = 1; i <= 400; ++i) this->t.insert(spreadKey(i));
  this->t.clear();
  this->expectExactly(spreadKey, 400, [](int) { return false; });
  this->t.insert(spreadKey(7));
  this->expectExactly(spreadKey, 10, [](int i) { return i == 7; });
}

// Explicit resizes, to the smallest size and back, keep every entry.
TYPED_TEST(HashContainer, RehashKeepsEveryEntry) {
  for (int i = 1; i <= 60; ++i) this->t.insert(collidingKey(i));
  for (int size : {101, 17, 17, 29, 17}) {
    this->t.rehash(size);
    this->expectExactly(collidingKey, 70, [](int i) { return i >= 1 && i <= 60; });
  }
}

// ------------------------------------------------------------ table only

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

// Small sets keep no bucket array until they pass a few members; a random
// run of inserts, removals and clears checked against a plain list at
// every step covers both forms and the change between them.
TEST(QelOrderedSet, SmallAndLargeFormsAgreeWithAList) {
  QelOrderedSet set;
  std::vector<void*> model;  // newest first
  unsigned seed = 7;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int step = 0; step < 6000; ++step) {
    const unsigned r = next() % 100;
    const uintptr_t k = (r % 2 ? collidingKey(1 + next() % 30) : spreadKey(1 + next() % 30));
    const bool held = std::find(model.begin(), model.end(), key(k)) != model.end();
    if (r < 55 && !held) {
      set.insert(key(k));
      model.insert(model.begin(), key(k));
    } else if (r < 99) {
      const auto at = std::find(model.begin(), model.end(), key(k));
      EXPECT_EQ(set.remove(key(k)), at != model.end());
      if (at != model.end()) model.erase(at);
    } else {
      set.clear();
      model.clear();
    }
    ASSERT_EQ(walk(set), model) << "step " << step;
    ASSERT_EQ(set.count, static_cast<int>(model.size()));
    ASSERT_EQ(set.contains(key(k)),
              std::find(model.begin(), model.end(), key(k)) != model.end());
  }
  // Of two equal members, removal takes the newer one, before the set
  // makes its buckets and after (while it has not resized).
  for (int extra : {0, 20}) {
    QelOrderedSet dup;
    dup.insert(key(1));
    dup.insert(key(2));
    dup.insert(key(1));
    for (int i = 0; i < extra; ++i) dup.insert(key(100 + i));
    EXPECT_TRUE(dup.remove(key(1)));
    EXPECT_EQ(walk(dup).back(), key(1));
    EXPECT_EQ(dup.bucketCount, 17);
  }
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
