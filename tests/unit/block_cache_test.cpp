// The block cache: freed blocks come back for the same size class, empty
// slabs go back, blocks may be freed on another thread than the one that
// made them, and what a thread leaves when it ends is released (a leak
// checker run over this test would see any block left behind).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "qel_list.h"
#include "qel_partial.h"
#include "util/block_cache.h"

namespace {

TEST(BlockCache, FreedBlocksComeBackForTheirSizeClass) {
  void* a = QelAllocBlock(40);
  void* b = QelAllocBlock(40);
  QelFreeBlock(a, 40);
  QelFreeBlock(b, 40);
  // Newest freed first; a size of the same 8-byte class shares the list.
  EXPECT_EQ(QelAllocBlock(37), b);
  EXPECT_EQ(QelAllocBlock(40), a);
  void* c = QelAllocBlock(48);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
  QelFreeBlock(a, 40);
  QelFreeBlock(b, 37);
  QelFreeBlock(c, 48);
}

TEST(BlockCache, BlocksAreWholeAndDistinct) {
  std::vector<void*> blocks;
  std::set<void*> seen;
  for (std::size_t size = 1; size <= kMaxCachedSize + 64; size += 7) {
    void* block = QelAllocBlock(size);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, size);  // every byte asked for is usable
    EXPECT_TRUE(seen.insert(block).second);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(void*), 0u);
    blocks.push_back(block);
  }
  std::size_t size = 1;
  for (void* block : blocks) {
    QelFreeBlock(block, size);
    size += 7;
  }
}

// Room for this many 64-byte blocks spans a few hundred slabs.
constexpr int kManyBlocks = 100000;

std::vector<void*> allocateMany(std::size_t size) {
  std::vector<void*> blocks;
  for (int i = 0; i < kManyBlocks; ++i) blocks.push_back(QelAllocBlock(size));
  return blocks;
}

void freeAll(const std::vector<void*>& blocks, std::size_t size) {
  for (void* block : blocks) QelFreeBlock(block, size);
}

TEST(BlockCache, EmptySlabsAreReleased) {
  const std::size_t before = QelBlockCacheSlabCount();
  std::vector<void*> blocks = allocateMany(64);
  const std::size_t grown = QelBlockCacheSlabCount();
  EXPECT_GE(grown, before + kManyBlocks * 64 / (32 * 1024));
  freeAll(blocks, 64);
  // A few empty slabs are kept for reuse, not hundreds.
  EXPECT_LE(QelBlockCacheSlabCount(), before + 40);
  // Freed in any order, too.
  blocks = allocateMany(64);
  for (std::size_t i = 0; i < blocks.size(); i += 2) QelFreeBlock(blocks[i], 64);
  for (std::size_t i = 1; i < blocks.size(); i += 2) QelFreeBlock(blocks[i], 64);
  EXPECT_LE(QelBlockCacheSlabCount(), before + 40);
}

// Slabs come from regions of 32; once every block is back, the regions go
// back to the system, however the blocks were freed, but for one kept for
// reuse and those of the slabs the thread allocates from (one per class).
TEST(BlockCache, EmptyRegionsAreReleased) {
  const std::size_t before = QelBlockCacheRegionCount();
  std::vector<void*> blocks = allocateMany(64);
  EXPECT_GE(QelBlockCacheRegionCount(), kManyBlocks * 64 / (1024 * 1024));
  freeAll(blocks, 64);
  EXPECT_LE(QelBlockCacheRegionCount(), before + 2);
  blocks = allocateMany(200);  // another size class over the same regions
  for (std::size_t i = 0; i < blocks.size(); i += 3) QelFreeBlock(blocks[i], 200);
  const std::size_t partly = QelBlockCacheRegionCount();
  EXPECT_GE(partly, kManyBlocks * 200 / (1024 * 1024));
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i % 3 != 0) QelFreeBlock(blocks[i], 200);
  }
  EXPECT_LE(QelBlockCacheRegionCount(), before + 3);
}

// Frees `every` other block of `blocks` and allocates as many again: all
// but the room left in the slab being carved must be the freed blocks, so
// that a slab filled once gets its room back. Returns the blocks still out.
std::vector<void*> refill(std::vector<void*> blocks, std::size_t size,
                          const std::function<void(const std::vector<void*>&)>& free) {
  std::vector<void*> freed;
  std::vector<void*> kept;
  for (std::size_t i = 0; i < blocks.size(); ++i) (i % 2 ? kept : freed).push_back(blocks[i]);
  free(freed);
  const std::set<void*> room(freed.begin(), freed.end());
  std::size_t fresh = 0;
  for (std::size_t i = 0; i < freed.size(); ++i) {
    void* block = QelAllocBlock(size);
    if (room.count(block) == 0) ++fresh;
    kept.push_back(block);
  }
  EXPECT_LE(fresh, 32 * 1024 / size) << "of " << freed.size() << " blocks";
  return kept;
}

TEST(BlockCache, FullSlabsGetRoomBack) {
  std::vector<void*> blocks = refill(allocateMany(64), 64, [](const std::vector<void*>& b) {
    freeAll(b, 64);
  });
  freeAll(blocks, 64);
}

TEST(BlockCache, FullSlabsGetRoomBackFromOtherThreads) {
  std::vector<void*> blocks = refill(allocateMany(72), 72, [](const std::vector<void*>& b) {
    std::thread freer([&b] { freeAll(b, 72); });
    freer.join();
  });
  freeAll(blocks, 72);
}

// One thread allocates and stamps blocks while another, at the same time,
// checks the stamps and frees them: no block is handed out twice, whichever
// thread frees it.
TEST(BlockCache, BlocksFreedConcurrentlyOnAnotherThread) {
  constexpr long kBlocks = 200000;
  std::mutex mutex;
  std::deque<long*> queue;
  bool done = false;
  long bad = 0;
  std::thread consumer([&] {
    long expected = 0;
    for (;;) {
      long* block = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (!queue.empty()) {
          block = queue.front();
          queue.pop_front();
        } else if (done) {
          break;
        }
      }
      if (block == nullptr) {
        std::this_thread::yield();
        continue;
      }
      if (block[0] != expected || block[2] != ~expected) ++bad;
      expected += 2;
      QelFreeBlock(block, 3 * sizeof(long));
    }
  });
  std::vector<long*> own;
  for (long i = 0; i < kBlocks; ++i) {
    long* block = static_cast<long*>(QelAllocBlock(3 * sizeof(long)));
    block[0] = i;
    block[2] = ~i;
    if (i % 2 == 0) {
      std::lock_guard<std::mutex> lock(mutex);
      queue.push_back(block);
    } else {
      own.push_back(block);
      if (own.size() == 64) {
        for (long* b : own) {
          if (b[2] != ~b[0]) ++bad;
          QelFreeBlock(b, 3 * sizeof(long));
        }
        own.clear();
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  consumer.join();
  for (long* b : own) QelFreeBlock(b, 3 * sizeof(long));
  EXPECT_EQ(bad, 0);
}

// Many threads at once, more than the cache has slots for their heaps:
// each thread's blocks stay its own, and its neighbour frees half of them.
TEST(BlockCache, ManyThreadsAtOnce) {
  constexpr int kThreads = 300;
  constexpr long kEach = 500;
  std::vector<std::vector<long*>> made(kThreads);
  std::vector<std::thread> threads;
  std::atomic<long> bad{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &made, &bad] {
      for (long i = 0; i < kEach; ++i) {
        long* block = static_cast<long*>(QelAllocBlock(2 * sizeof(long)));
        block[0] = t;
        block[1] = i;
        made[t].push_back(block);
      }
      for (long i = 0; i < kEach; ++i) {
        if (made[t][i][0] != t || made[t][i][1] != i) ++bad;
      }
      for (long i = 0; i < kEach; i += 2) QelFreeBlock(made[t][i], 2 * sizeof(long));
    });
  }
  for (std::thread& t : threads) t.join();
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &made] {
      const std::vector<long*>& theirs = made[(t + 1) % kThreads];
      for (std::size_t i = 1; i < theirs.size(); i += 2) QelFreeBlock(theirs[i], 2 * sizeof(long));
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
}

// A thread that allocates what another frees reuses the returned blocks
// instead of taking ever more slabs.
TEST(BlockCache, BlocksFreedElsewhereAreReused) {
  std::vector<std::size_t> counts;
  std::thread producer([&counts] {
    for (int round = 0; round < 10; ++round) {
      std::vector<void*> blocks = allocateMany(48);
      std::thread consumer([&blocks] { freeAll(blocks, 48); });
      consumer.join();
      counts.push_back(QelBlockCacheSlabCount());
    }
  });
  producer.join();
  ASSERT_EQ(counts.size(), 10u);
  EXPECT_LE(counts.back(), counts.front() + 40);
}

TEST(BlockCache, BlocksMayBeFreedOnAnotherThread) {
  std::vector<QelListCell*> cells;
  std::thread maker([&cells] {
    for (int i = 0; i < 1000; ++i) cells.push_back(new QelListCell{nullptr, nullptr});
  });
  maker.join();  // the maker's cache is gone; its blocks live on
  QelList list;
  for (QelListCell* cell : cells) {
    cell->next = list.head;
    list.head = cell;
  }
  EXPECT_EQ(list.length(), 1000);
  list.clear();  // freed here, into this thread's cache
  // And the other way: this thread's blocks freed by a worker that ends.
  std::vector<QelPartial*> partials;
  for (int i = 0; i < 1000; ++i) partials.push_back(new QelPartial(nullptr));
  std::thread freer([&partials] {
    for (QelPartial* p : partials) delete p;
  });
  freer.join();  // a double free or a leak here shows under the sanitizers
  // Blocks of a thread that ended, freed here, then taken up by a thread
  // that allocates after it.
  std::vector<void*> orphans;
  std::thread ender([&orphans] { orphans = allocateMany(24); });
  ender.join();
  freeAll(orphans, 24);
  std::thread adopter([] {
    std::vector<void*> blocks = allocateMany(24);
    std::set<void*> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), blocks.size());
    freeAll(blocks, 24);
  });
  adopter.join();
}

}  // namespace
