// QelPointerMap against std::unordered_map over random operations, with
// either hash: keys that are aligned addresses, blocks a partial's size
// apart, blocks at one offset of many slabs (which all share a home slot
// under the address hash), small integers (which cluster under a poor
// hash) and the null key; removals that wrap around the slot array; growth
// and emptying.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "util/pointer_map.h"

namespace {

void* asPointer(uintptr_t v) { return reinterpret_cast<void*>(v); }

void expectSame(const QelPointerMap& map,
                const std::unordered_map<const void*, void*>& model,
                const std::vector<const void*>& universe) {
  ASSERT_EQ(map.size(), model.size());
  for (const void* key : universe) {
    auto it = model.find(key);
    EXPECT_EQ(map.find(key), it == model.end() ? nullptr : it->second);
  }
  std::size_t visited = 0;
  map.forEachValue([&visited](void*) { ++visited; });
  EXPECT_EQ(visited, model.size());
}

const QelKeyKind kKinds[] = {QelKeyKind::kValues, QelKeyKind::kAddresses};

// Keys shaped like the library's blocks: 72-byte partials carved one after
// another from a 32 KiB slab, and blocks at one offset of many slabs.
constexpr uintptr_t kSlab = 32 * 1024;
void addBlockKeys(std::vector<const void*>& keys, int count) {
  for (int i = 0; i < count; ++i) keys.push_back(asPointer(0x4000000 + 16 + 72 * i));
  for (int i = 1; i <= count; ++i) keys.push_back(asPointer(0x8000000 + kSlab * i + 40));
}

TEST(PointerMap, AgreesWithAReferenceMapOverRandomOperations) {
  for (QelKeyKind kind : kKinds) {
    SCOPED_TRACE(kind == QelKeyKind::kAddresses ? "address keys" : "value keys");
    std::mt19937 rng(7);
    std::vector<const void*> universe;
    universe.push_back(nullptr);
    for (uintptr_t i = 1; i <= 300; ++i) universe.push_back(asPointer(i));
    for (uintptr_t i = 1; i <= 300; ++i) universe.push_back(asPointer(0x10000 + 64 * i));
    addBlockKeys(universe, 200);
    QelPointerMap map(kind);
    std::unordered_map<const void*, void*> model;
    for (int step = 0; step < 40000; ++step) {
      const void* key = universe[rng() % universe.size()];
      void* value = asPointer(rng() % 1000 + 1);
      // Phases of mostly inserting and mostly removing, to grow and empty.
      const bool filling = (step / 5000) % 2 == 0;
      if (rng() % 4 != 0 ? filling : !filling) {
        auto it = model.find(key);
        if (rng() % 2 == 0) {
          // findOrInsert gives the present value, or a new null one.
          void*& slot = map.findOrInsert(key);
          EXPECT_EQ(slot, it == model.end() ? nullptr : it->second);
          slot = value;
        } else if (it != model.end()) {
          map.replace(key, value);
        } else {
          map.insert(key, value);
        }
        model[key] = value;
      } else {
        auto it = model.find(key);
        void* expected = it == model.end() ? nullptr : it->second;
        EXPECT_EQ(map.remove(key), expected);
        if (it != model.end()) model.erase(it);
      }
      if (step % 997 == 0) expectSame(map, model, universe);
    }
    expectSame(map, model, universe);
  }
}

// Under the address hash, blocks at one offset of different slabs share a
// home slot: one long run, here starting at the last slot so that it wraps
// around to the first. Every removal order must keep the rest reachable.
TEST(PointerMap, AddressKeysSharingAHomeSlotStayReachable) {
  const int n = 20;  // 64 slots: the run is a third of the array
  const uintptr_t lastSlot = 63 * 8;
  std::vector<const void*> keys;
  for (int i = 1; i <= n; ++i) keys.push_back(asPointer(0x8000000 + kSlab * i + lastSlot));
  std::mt19937 rng(5);
  for (int round = 0; round < 30; ++round) {
    QelPointerMap map(QelKeyKind::kAddresses);
    std::unordered_map<const void*, void*> model;
    for (const void* key : keys) {
      map.insert(key, const_cast<void*>(key));
      model[key] = const_cast<void*>(key);
    }
    // Keys that are absent but hash to the same home slot, or next to it.
    std::vector<const void*> universe = keys;
    universe.push_back(asPointer(0x8000000 + lastSlot));
    universe.push_back(asPointer(0x8000000 + kSlab * (n + 1)));
    std::vector<const void*> order = keys;
    std::shuffle(order.begin(), order.end(), rng);
    for (std::size_t i = 0; i < order.size(); ++i) {
      EXPECT_EQ(map.remove(order[i]), order[i]);
      model.erase(order[i]);
      if (i % 4 == 0) {  // refill some, so runs form again behind the holes
        const void* back = order[i / 2];
        if (model.count(back) == 0) {
          map.findOrInsert(back) = const_cast<void*>(back);
          model[back] = const_cast<void*>(back);
        }
      }
      expectSame(map, model, universe);
    }
  }
}

// Large arrays fill to 3/4 before they grow: 30,000 keys take the array
// through two such growths, and removals at that load shift longer runs.
TEST(PointerMap, LargeArraysKeepEveryEntryThroughDenseGrowthAndRemoval) {
  std::mt19937 rng(11);
  std::vector<const void*> keys;
  for (uintptr_t i = 1; i <= 15000; ++i) keys.push_back(asPointer(i));
  for (uintptr_t i = 1; i <= 15000; ++i) keys.push_back(asPointer(0x100000 + 48 * i));
  addBlockKeys(keys, 2000);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (QelKeyKind kind : kKinds) {
    SCOPED_TRACE(kind == QelKeyKind::kAddresses ? "address keys" : "value keys");
    QelPointerMap map(kind);
    std::unordered_map<const void*, void*> model;
    for (const void* key : keys) {
      void* value = asPointer(rng() % 1000 + 1);
      map.insert(key, value);
      model[key] = value;
    }
    expectSame(map, model, keys);
    std::vector<const void*> order = keys;
    std::shuffle(order.begin(), order.end(), rng);
    for (std::size_t i = 0; i < order.size(); i += 3) {
      EXPECT_EQ(map.remove(order[i]), model[order[i]]);
      model.erase(order[i]);
    }
    expectSame(map, model, keys);
    for (std::size_t i = 0; i < order.size(); i += 3) {
      map.findOrInsert(order[i]) = asPointer(7);
      model[order[i]] = asPointer(7);
    }
    expectSame(map, model, keys);
  }
}

TEST(PointerMap, RemovalKeepsTheRestOfAProbeRunReachable) {
  // Consecutive integers fill neighbouring runs; remove them in every order
  // position and check the others each time.
  for (int victim = 1; victim <= 12; ++victim) {
    QelPointerMap map;
    for (uintptr_t k = 1; k <= 12; ++k) map.insert(asPointer(k), asPointer(k * 10));
    EXPECT_EQ(map.remove(asPointer(victim)), asPointer(victim * 10));
    EXPECT_EQ(map.remove(asPointer(victim)), nullptr);
    for (uintptr_t k = 1; k <= 12; ++k) {
      EXPECT_EQ(map.find(asPointer(k)),
                static_cast<int>(k) == victim ? nullptr : asPointer(k * 10));
    }
  }
}

TEST(PointerMap, NullKeyEmptiesAndClear) {
  QelPointerMap map;
  EXPECT_EQ(map.find(nullptr), nullptr);
  EXPECT_EQ(map.remove(asPointer(5)), nullptr);
  map.insert(nullptr, asPointer(1));
  map.insert(asPointer(8), asPointer(2));
  EXPECT_EQ(map.remove(nullptr), asPointer(1));
  map.insert(nullptr, asPointer(3));
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.find(nullptr), asPointer(3));
  map.clear();
  EXPECT_EQ(map.size(), 0u);
  EXPECT_EQ(map.find(nullptr), nullptr);
  EXPECT_EQ(map.find(asPointer(8)), nullptr);
  map.insert(asPointer(8), asPointer(4));  // usable after clear
  EXPECT_EQ(map.find(asPointer(8)), asPointer(4));
}

}  // namespace
