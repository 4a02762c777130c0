#include "util/block_cache.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QEL_BLOCK_CACHE_BYPASS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEL_BLOCK_CACHE_BYPASS 1
#endif
#endif

#ifdef QEL_BLOCK_CACHE_BYPASS

void* QelAllocBlock(std::size_t size) { return ::operator new(size); }
void QelFreeBlock(void* block, std::size_t) { ::operator delete(block); }
std::size_t QelBlockCacheSlabCount() { return 0; }
std::size_t QelBlockCacheRegionCount() { return 0; }

#else

namespace {

constexpr std::size_t kGranule = 8;
constexpr int kClassCount = static_cast<int>(kMaxCachedSize / kGranule);
// Slabs are aligned to their size: a block's slab is its address with the
// low bits cleared.
constexpr std::size_t kSlabSize = 32 * 1024;
constexpr std::align_val_t kSlabAlign{kSlabSize};

struct FreeBlock {
  FreeBlock* next;
};

class Heap;
struct Region;

// Where a slab sits: its heap's current slab for the class, on its list of
// slabs with room, on its list of full slabs, or abandoned by an ended
// thread.
enum class Place : unsigned char { kCurrent, kRoom, kFull, kAbandoned };

// The header at the start of every slab; its blocks follow.
//
// Invariants: only the owner touches the plain fields (an abandoned slab is
// touched under gAbandonedMutex). `used` counts the blocks handed out and
// not yet on `free`; blocks freed by other threads wait on `remote` and
// still count in `used` until the owner collects them. The bytes from
// `bump` to the end of the slab were never handed out.
struct Slab {
  Region* region;  // the memory it was carved from; kept across reuse
  std::atomic<Heap*> owner;
  std::atomic<FreeBlock*> remote;
  Slab* prev;
  Slab* next;
  FreeBlock* free;
  char* bump;
  unsigned used;
  unsigned short blockSize;
  unsigned char cls;
  Place place;

  char* end() { return reinterpret_cast<char*>(this) + kSlabSize; }
  bool canBump() { return static_cast<std::size_t>(end() - bump) >= blockSize; }
  bool hasRoom() { return free != nullptr || canBump(); }
  // A block from the free list, else a fresh one, else null.
  void* take() {
    if (free != nullptr) {
      FreeBlock* block = free;
      free = block->next;
      ++used;
      return block;
    }
    if (!canBump()) return nullptr;
    void* block = bump;
    bump += blockSize;
    ++used;
    return block;
  }
};

constexpr std::size_t kHeaderSize = (sizeof(Slab) + 15) & ~std::size_t{15};

Slab* slabOf(void* block) {
  return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) &
                                 ~(kSlabSize - 1));
}

int classOf(std::size_t size) {
  return static_cast<int>((size + kGranule - 1) / kGranule) - 1;
}

// A doubly linked list through its elements' prev and next fields.
template <typename T>
struct LinkedList {
  T* head = nullptr;

  void push(T* item) {
    item->prev = nullptr;
    item->next = head;
    if (head != nullptr) head->prev = item;
    head = item;
  }
  void unlink(T* item) {
    if (item->prev != nullptr) {
      item->prev->next = item->next;
    } else {
      head = item->next;
    }
    if (item->next != nullptr) item->next->prev = item->prev;
  }
  T* pop() {
    T* item = head;
    if (item != nullptr) unlink(item);
    return item;
  }
};
using SlabList = LinkedList<Slab>;

// Slabs are carved from regions of kSlabsPerRegion slabs, taken from the
// system in one aligned allocation: aligning each slab by itself would
// cost the system allocator up to a slab's size of padding per slab, and a
// page fault or more for the padding's bookkeeping. A released slab goes
// back to its region, to be handed out again; a region whose slabs are all
// back is returned to the system.
//
// Invariants, under gRegionMutex: `carved` slabs of a region have been
// handed out at least once, and `free` of them are back, on `freeSlabs`;
// the regions with free slabs are on gRoomy; gCarving is the region new
// slabs are carved from once no region has a free one.
constexpr int kSlabsPerRegion = 32;
constexpr std::size_t kRegionSize = kSlabsPerRegion * kSlabSize;

struct Region {
  char* base;
  int carved;
  int free;
  Slab* freeSlabs;  // through their `next`
  Region* prev;     // on gRoomy
  Region* next;
};

std::mutex gRegionMutex;
Region* gCarving = nullptr;
LinkedList<Region> gRoomy;
// One whole region kept for reuse, so that a burst of frees followed by a
// burst of allocations does not go to the system allocator.
Region* gSpare = nullptr;
std::size_t gRegionCount = 0;

void freeRegion(Region* region);

// A slab of no heap yet, with its region set: a free one of a region, else
// a new one carved.
Slab* takeSlab() {
  std::lock_guard<std::mutex> lock(gRegionMutex);
  if (Region* region = gRoomy.head) {
    Slab* slab = region->freeSlabs;
    region->freeSlabs = slab->next;
    if (--region->free == 0) gRoomy.unlink(region);
    return slab;
  }
  if (gCarving == nullptr || gCarving->carved == kSlabsPerRegion) {
    if (gSpare != nullptr) {
      gCarving = gSpare;
      gSpare = nullptr;
    } else {
      char* base = static_cast<char*>(::operator new(kRegionSize, kSlabAlign));
      gCarving = new Region{base, 0, 0, nullptr, nullptr, nullptr};
      ++gRegionCount;
    }
  }
  Slab* slab = new (gCarving->base + gCarving->carved * kSlabSize) Slab;
  ++gCarving->carved;
  slab->region = gCarving;
  return slab;
}

void releaseSlab(Slab* slab) {
  std::lock_guard<std::mutex> lock(gRegionMutex);
  Region* region = slab->region;
  slab->next = region->freeSlabs;
  region->freeSlabs = slab;
  ++region->free;
  if (region->free < region->carved) {
    if (region->free == 1) gRoomy.push(region);
    return;
  }
  if (region->free > 1) gRoomy.unlink(region);
  if (region == gCarving) gCarving = nullptr;
  region->carved = region->free = 0;
  region->freeSlabs = nullptr;
  if (gSpare == nullptr) {
    gSpare = region;
    return;
  }
  freeRegion(region);
}

void freeRegion(Region* region) {
  ::operator delete(region->base, kSlabAlign);
  delete region;
  --gRegionCount;
}

// Counts every block freed on a thread other than its slab's owner, so
// that an owner only looks for such blocks when there may be some.
std::atomic<unsigned long> gRemoteFrees{0};

// Slabs of ended threads that still held live blocks, per class; adopted
// by the next heap that needs a slab of the class.
std::mutex gAbandonedMutex;
SlabList gAbandoned[kClassCount];
std::atomic<int> gAbandonedCount{0};

// The slabs of one thread (or, under gSharedMutex, of the threads that
// allocate while they end).
class Heap {
 public:
  // Invariant: `current[c]`, when set, is a slab of class c placed
  // kCurrent; every other slab of the heap is on `room[c]` (it has room)
  // or on `full[c]`, placed accordingly.
  Slab* current[kClassCount] = {};
  SlabList room[kClassCount];
  SlabList full[kClassCount];
  // gRemoteFrees when full[c] was last searched for returned blocks.
  unsigned long searched[kClassCount] = {};

  void* allocate(int cls);
  // The owner freed a block of `slab` and it is placed kFull or has no
  // block out any more.
  void settle(Slab* slab);
  // Gives every slab away: empty ones to the system, the others to the
  // abandoned lists.
  void abandonAll();
  // Releases every slab, in use or not (the library is being unloaded).
  void releaseAll();
  std::size_t slabCount() const;

 private:
  Slab* nextSlab(int cls);
  Slab* newSlab(int cls);
  Slab* adopt(int cls);
  void searchFull(int cls);
  void retire(Slab* slab);
};

// Moves the blocks other threads returned to `slab` onto its free list.
unsigned collect(Slab* slab) {
  if (slab->remote.load(std::memory_order_relaxed) == nullptr) return 0;
  FreeBlock* block = slab->remote.exchange(nullptr, std::memory_order_acquire);
  unsigned n = 0;
  while (block != nullptr) {
    FreeBlock* next = block->next;
    block->next = slab->free;
    slab->free = block;
    block = next;
    ++n;
  }
  slab->used -= n;
  return n;
}

void* Heap::allocate(int cls) {
  for (;;) {
    Slab* slab = current[cls];
    if (slab != nullptr) {
      if (void* block = slab->take()) return block;
      if (collect(slab) > 0) continue;
      slab->place = Place::kFull;
      full[cls].push(slab);
    }
    current[cls] = nextSlab(cls);
  }
}

Slab* Heap::nextSlab(int cls) {
  Slab* slab = room[cls].pop();
  if (slab == nullptr && gRemoteFrees.load(std::memory_order_relaxed) != searched[cls]) {
    searchFull(cls);
    slab = room[cls].pop();
  }
  if (slab == nullptr && gAbandonedCount.load(std::memory_order_relaxed) > 0) {
    slab = adopt(cls);
  }
  if (slab == nullptr) slab = newSlab(cls);
  slab->place = Place::kCurrent;
  return slab;
}

// Full slabs whose blocks came back from other threads get room again.
void Heap::searchFull(int cls) {
  searched[cls] = gRemoteFrees.load(std::memory_order_relaxed);
  Slab* slab = full[cls].head;
  while (slab != nullptr) {
    Slab* next = slab->next;
    if (collect(slab) > 0) {
      full[cls].unlink(slab);
      if (slab->used == 0) {
        retire(slab);
      } else {
        slab->place = Place::kRoom;
        room[cls].push(slab);
      }
    }
    slab = next;
  }
}

Slab* Heap::adopt(int cls) {
  Slab* slab;
  {
    std::lock_guard<std::mutex> lock(gAbandonedMutex);
    slab = gAbandoned[cls].pop();
    if (slab == nullptr) return nullptr;
    gAbandonedCount.fetch_sub(1, std::memory_order_relaxed);
    slab->owner.store(this, std::memory_order_relaxed);
  }
  collect(slab);
  if (!slab->hasRoom()) {
    slab->place = Place::kFull;
    full[cls].push(slab);
    return nullptr;
  }
  return slab;
}

Slab* Heap::newSlab(int cls) {
  Slab* slab = takeSlab();
  slab->owner.store(this, std::memory_order_relaxed);
  slab->remote.store(nullptr, std::memory_order_relaxed);
  slab->free = nullptr;
  slab->bump = reinterpret_cast<char*>(slab) + kHeaderSize;
  slab->used = 0;
  slab->blockSize = static_cast<unsigned short>((cls + 1) * kGranule);
  slab->cls = static_cast<unsigned char>(cls);
  return slab;
}

// An empty slab leaves its class and goes back to its region.
void Heap::retire(Slab* slab) { releaseSlab(slab); }

void Heap::settle(Slab* slab) {
  if (slab->place == Place::kCurrent) return;
  SlabList& list = slab->place == Place::kFull ? full[slab->cls] : room[slab->cls];
  if (slab->used == 0) {
    list.unlink(slab);
    retire(slab);
  } else if (slab->place == Place::kFull) {
    list.unlink(slab);
    slab->place = Place::kRoom;
    room[slab->cls].push(slab);
  }
}

void Heap::abandonAll() {
  for (int cls = 0; cls < kClassCount; ++cls) {
    if (current[cls] != nullptr) full[cls].push(current[cls]);
    current[cls] = nullptr;
    while (Slab* slab = room[cls].pop()) full[cls].push(slab);
    while (Slab* slab = full[cls].pop()) {
      collect(slab);
      if (slab->used == 0) {
        releaseSlab(slab);
        continue;
      }
      std::lock_guard<std::mutex> lock(gAbandonedMutex);
      slab->owner.store(nullptr, std::memory_order_relaxed);
      slab->place = Place::kAbandoned;
      gAbandoned[cls].push(slab);
      gAbandonedCount.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

void Heap::releaseAll() {
  for (int cls = 0; cls < kClassCount; ++cls) {
    if (current[cls] != nullptr) releaseSlab(current[cls]);
    current[cls] = nullptr;
    while (Slab* slab = room[cls].pop()) releaseSlab(slab);
    while (Slab* slab = full[cls].pop()) releaseSlab(slab);
  }
}

std::size_t Heap::slabCount() const {
  std::size_t n = 0;
  for (int cls = 0; cls < kClassCount; ++cls) {
    if (current[cls] != nullptr) ++n;
    for (Slab* s = room[cls].head; s != nullptr; s = s->next) ++n;
    for (Slab* s = full[cls].head; s != nullptr; s = s->next) ++n;
  }
  return n;
}

// The heap of the threads that allocate while they end, after their own
// heap is gone.
std::mutex gSharedMutex;
Heap gShared;

// At unload, what ended threads left behind and the shared heap go back to
// the system.
struct Unloader {
  ~Unloader() {
    std::lock_guard<std::mutex> lock(gAbandonedMutex);
    for (SlabList& list : gAbandoned) {
      while (Slab* slab = list.pop()) releaseSlab(slab);
    }
    gAbandonedCount.store(0, std::memory_order_relaxed);
    std::lock_guard<std::mutex> shared(gSharedMutex);
    gShared.releaseAll();
    std::lock_guard<std::mutex> regions(gRegionMutex);
    if (gSpare != nullptr) freeRegion(gSpare);
    gSpare = nullptr;
  }
} gUnloader;

// Plain data in the static TLS block, so that reaching it costs neither an
// initialisation check nor a call.
thread_local __attribute__((tls_model("initial-exec"))) Heap* tHeap;
// The thread is ending and its heap is gone.
thread_local __attribute__((tls_model("initial-exec"))) bool tClosed;

struct HeapCloser {
  ~HeapCloser() {
    Heap* heap = tHeap;
    tHeap = nullptr;
    tClosed = true;
    if (heap == nullptr) return;
    heap->abandonAll();
    delete heap;
  }
};

Heap* openHeap() {
  static thread_local HeapCloser closer;
  (void)closer;
  tHeap = new Heap;
  return tHeap;
}

__attribute__((noinline)) void* allocateSlow(int cls) {
  if (tClosed) {
    std::lock_guard<std::mutex> lock(gSharedMutex);
    return gShared.allocate(cls);
  }
  Heap* heap = tHeap != nullptr ? tHeap : openHeap();
  return heap->allocate(cls);
}

__attribute__((noinline)) void settleSlab(Heap* heap, Slab* slab) { heap->settle(slab); }

// Hands a block back to the owner of its slab, which collects it later.
__attribute__((noinline)) void freeRemote(Slab* slab, void* block) {
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  FreeBlock* head = slab->remote.load(std::memory_order_relaxed);
  do {
    freed->next = head;
  } while (!slab->remote.compare_exchange_weak(head, freed, std::memory_order_release,
                                               std::memory_order_relaxed));
  // The slab may be gone from here on: its owner may collect the block.
  gRemoteFrees.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void* QelAllocBlock(std::size_t size) {
  if (size - 1 >= kMaxCachedSize) return ::operator new(size);
  const int cls = classOf(size);
  Heap* heap = tHeap;
  if (heap != nullptr) {
    Slab* slab = heap->current[cls];
    if (slab != nullptr) {
      if (void* block = slab->take()) return block;
    }
  }
  return allocateSlow(cls);
}

void QelFreeBlock(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size - 1 >= kMaxCachedSize) {
    ::operator delete(block);
    return;
  }
  Slab* slab = slabOf(block);
  Heap* heap = tHeap;
  if (heap == nullptr || slab->owner.load(std::memory_order_relaxed) != heap) {
    freeRemote(slab, block);
    return;
  }
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  freed->next = slab->free;
  slab->free = freed;
  if (--slab->used == 0 || slab->place == Place::kFull) settleSlab(heap, slab);
}

std::size_t QelBlockCacheSlabCount() {
  return tHeap != nullptr ? tHeap->slabCount() : 0;
}

std::size_t QelBlockCacheRegionCount() {
  std::lock_guard<std::mutex> lock(gRegionMutex);
  return gRegionCount;
}

#endif
