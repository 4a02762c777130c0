// QelPointerMap against std::unordered_map over random operations: keys
// that are aligned addresses, small integers (which cluster under a poor
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

TEST(PointerMap, AgreesWithAReferenceMapOverRandomOperations) {
  std::mt19937 rng(7);
  std::vector<const void*> universe;
  universe.push_back(nullptr);
  for (uintptr_t i = 1; i <= 300; ++i) universe.push_back(asPointer(i));
  for (uintptr_t i = 1; i <= 300; ++i) universe.push_back(asPointer(0x10000 + 64 * i));
  QelPointerMap map;
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

// Large arrays fill to 3/4 before they grow: 30,000 keys take the array
// through two such growths, and removals at that load shift longer runs.
TEST(PointerMap, LargeArraysKeepEveryEntryThroughDenseGrowthAndRemoval) {
  std::mt19937 rng(11);
  std::vector<const void*> keys;
  for (uintptr_t i = 1; i <= 15000; ++i) keys.push_back(asPointer(i));
  for (uintptr_t i = 1; i <= 15000; ++i) keys.push_back(asPointer(0x100000 + 48 * i));
  std::shuffle(keys.begin(), keys.end(), rng);
  QelPointerMap map;
  std::unordered_map<const void*, void*> model;
  for (const void* key : keys) {
    void* value = asPointer(rng() % 1000 + 1);
    map.insert(key, value);
    model[key] = value;
  }
  expectSame(map, model, keys);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    EXPECT_EQ(map.remove(keys[i]), model[keys[i]]);
    model.erase(keys[i]);
  }
  expectSame(map, model, keys);
  for (std::size_t i = 0; i < keys.size(); i += 3) {
    map.findOrInsert(keys[i]) = asPointer(7);
    model[keys[i]] = asPointer(7);
  }
  expectSame(map, model, keys);
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
