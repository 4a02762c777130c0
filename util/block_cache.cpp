#include "util/block_cache.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>

// The memory checkers see every block (see the header): valgrind through
// its client requests, when its headers were found at configure time (they
// cost a predictable branch when the program does not run under valgrind),
// AddressSanitizer through poisoning, in builds made with it.
#ifdef QEL_HAVE_VALGRIND
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEL_ASAN 1
#endif
#endif
#ifdef QEL_ASAN
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#endif

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

int classOf(std::size_t size) {
  return static_cast<int>((size + kGranule - 1) / kGranule) - 1;
}

// ---- What the memory checkers are told ---------------------------------
//
// A block handed out is a heap block of the size asked for; a freed one,
// and the part of a slab never handed out, may not be touched. The
// allocator itself reads and writes the link at the start of a free block
// through link() and next(), which unhide it for the access.

#ifdef QEL_HAVE_VALGRIND
// Set when the first slab is carved (under gRegionMutex), so before any
// block exists, and never changed: a plain bool, which the compiler may
// keep in a register.
bool gValgrind = false;

// The requests, out of line so that the fast paths need no stack frame for
// their arguments.
__attribute__((noinline)) void valgrindNoAccess(void* p, std::size_t n) {
  VALGRIND_MAKE_MEM_NOACCESS(p, n);
}
__attribute__((noinline)) void valgrindMalloc(void* p, std::size_t n) {
  VALGRIND_MALLOCLIKE_BLOCK(p, n, 0, 0);
}
__attribute__((noinline)) void valgrindFree(void* p) { VALGRIND_FREELIKE_BLOCK(p, 0); }
__attribute__((noinline)) void valgrindLink(FreeBlock* block, FreeBlock* next) {
  VALGRIND_MAKE_MEM_UNDEFINED(block, sizeof(FreeBlock));
  block->next = next;
  VALGRIND_MAKE_MEM_NOACCESS(block, sizeof(FreeBlock));
}
__attribute__((noinline)) FreeBlock* valgrindNext(FreeBlock* block) {
  VALGRIND_MAKE_MEM_DEFINED(block, sizeof(FreeBlock));
  FreeBlock* next = block->next;
  VALGRIND_MAKE_MEM_NOACCESS(block, sizeof(FreeBlock));
  return next;
}
#endif

#ifdef QEL_ASAN
// LeakSanitizer finds leaks among its own heap blocks, and a block of a
// slab is not one: it lies inside a region, which the library still
// holds. So builds with AddressSanitizer count the blocks out, per size
// class, and at the very end of the program (after every static
// destructor, contexts at namespace scope included) report those never
// freed as LeakSanitizer reports its leaks, and fail the same way. This
// is "never freed", not "unreachable": a block still held at exit by a
// thread that is still running counts too. detect_leaks=0 turns it off.
std::atomic<long> gBlocksOut[kClassCount];

void reportBlocksOut() {
  const char* options = std::getenv("ASAN_OPTIONS");
  if (options != nullptr && std::strstr(options, "detect_leaks=0") != nullptr) return;
  long blocks = 0;
  for (const std::atomic<long>& n : gBlocksOut) blocks += n.load();
  if (blocks == 0) return;
  // LeakSanitizer's own findings first, since failing here skips its check.
  __lsan_do_recoverable_leak_check();
  std::fprintf(stderr,
               "==%d==ERROR: qel block cache: %ld block(s) never freed at exit\n",
               static_cast<int>(getpid()), blocks);
  for (int cls = 0; cls < kClassCount; ++cls) {
    if (long n = gBlocksOut[cls].load()) {
      std::fprintf(stderr, "    %ld block(s) of up to %zu bytes\n", n,
                   (static_cast<std::size_t>(cls) + 1) * kGranule);
    }
  }
  std::fprintf(stderr,
               "SUMMARY: qel block cache: %ld block(s) leaked (run under valgrind "
               "for where they were allocated)\n", blocks);
  std::fflush(stderr);
  _exit(23);  // LeakSanitizer's exit code
}

// Registered before any constructor of default priority runs, so that it
// runs after their objects are destroyed.
__attribute__((constructor(101))) void watchBlocksOut() { std::atexit(reportBlocksOut); }
#endif

struct Checker {
  static void carved(char* blocks, std::size_t size) {
#ifdef QEL_HAVE_VALGRIND
    if (__builtin_expect(gValgrind, false)) valgrindNoAccess(blocks, size);
#endif
#ifdef QEL_ASAN
    ASAN_POISON_MEMORY_REGION(blocks, size);
#endif
    (void)blocks;
    (void)size;
  }
  static void handedOut(void* block, std::size_t size) {
#ifdef QEL_HAVE_VALGRIND
    if (__builtin_expect(gValgrind, false)) valgrindMalloc(block, size);
#endif
#ifdef QEL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, size);
    gBlocksOut[classOf(size)].fetch_add(1, std::memory_order_relaxed);
#endif
    (void)block;
    (void)size;
  }
  static void freed(void* block, std::size_t blockSize) {
#ifdef QEL_HAVE_VALGRIND
    if (__builtin_expect(gValgrind, false)) valgrindFree(block);
#endif
#ifdef QEL_ASAN
    ASAN_POISON_MEMORY_REGION(block, blockSize);
    gBlocksOut[classOf(blockSize)].fetch_sub(1, std::memory_order_relaxed);
#endif
    (void)block;
    (void)blockSize;
  }
  // Writes and reads the link of a free block, which is hidden from the
  // program.
  static void link(FreeBlock* block, FreeBlock* next) {
#ifdef QEL_HAVE_VALGRIND
    if (__builtin_expect(gValgrind, false)) return valgrindLink(block, next);
#endif
#ifdef QEL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, sizeof(FreeBlock));
    block->next = next;
    ASAN_POISON_MEMORY_REGION(block, sizeof(FreeBlock));
#else
    block->next = next;
#endif
  }
  static FreeBlock* next(FreeBlock* block) {
#ifdef QEL_HAVE_VALGRIND
    if (__builtin_expect(gValgrind, false)) return valgrindNext(block);
#endif
#ifdef QEL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, sizeof(FreeBlock));
    FreeBlock* next = block->next;
    ASAN_POISON_MEMORY_REGION(block, sizeof(FreeBlock));
    return next;
#else
    return block->next;
#endif
  }
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
// touched under gAbandonedMutex, a slab of gShared under gSharedMutex).
// `used` counts the blocks handed out and not yet on `free`; blocks freed
// by other threads wait on `remote` and still count in `used` until the
// owner collects them. The bytes from `bump` to the end of the slab were
// never handed out. A slab goes back to its region only when `used` is 0.
struct Slab {
  Region* region;  // the memory it was carved from; kept across reuse
  std::atomic<Heap*> owner;
  // The thread pointer of the owner's thread (see threadPointer()); 0 when
  // abandoned or owned by gShared.
  std::atomic<std::uintptr_t> ownerThread;
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
      free = Checker::next(block);
      ++used;
      return block;
    }
    if (!canBump()) return nullptr;
    void* block = bump;
    bump += blockSize;
    ++used;
    return block;
  }
  // The owner takes back one of its blocks.
  void put(void* block) {
    FreeBlock* freed = static_cast<FreeBlock*>(block);
    Checker::link(freed, free);
    free = freed;
    --used;
  }
};

constexpr std::size_t kHeaderSize = (sizeof(Slab) + 15) & ~std::size_t{15};

Slab* slabOf(void* block) {
  return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) &
                                 ~(kSlabSize - 1));
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
// slabs are carved from once no region has a free one. A region is
// returned to the system only when every slab it has handed out is back,
// so never while one of its blocks is live.
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

// Every global below is constant-initialized and trivially destructible
// (std::mutex is, in libstdc++), so that no order of static construction or
// destruction can find them unusable: contexts at namespace scope are
// destroyed after the library's end-of-program work or before it, as the
// linker happens to order them.
std::mutex gRegionMutex;
Region* gCarving = nullptr;
LinkedList<Region> gRoomy;
// One whole region kept for reuse, so that a burst of frees followed by a
// burst of allocations does not go to the system allocator.
Region* gSpare = nullptr;
std::size_t gRegionCount = 0;
// The library's end-of-program work has run: from then on a region whose
// slabs are all back goes to the system at once, none is kept for reuse.
std::atomic<bool> gEnded{false};

void freeRegion(Region* region);

// A slab of no heap yet, with its region set: a free one of a region, else
// a new one carved.
Slab* takeSlab() {
  std::lock_guard<std::mutex> lock(gRegionMutex);
#ifdef QEL_HAVE_VALGRIND
  static bool valgrindChecked = false;
  if (!valgrindChecked) {
    valgrindChecked = true;
    gValgrind = RUNNING_ON_VALGRIND != 0;
  }
#endif
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

// `slab` has no block out.
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
  if (gSpare == nullptr && !gEnded.load(std::memory_order_relaxed)) {
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
// by the next heap that needs a slab of the class or that frees one of
// their blocks.
std::mutex gAbandonedMutex;
SlabList gAbandoned[kClassCount];
std::atomic<int> gAbandonedCount{0};

// Moves the blocks other threads returned to `slab` onto its free list.
unsigned collect(Slab* slab) {
  if (slab->remote.load(std::memory_order_relaxed) == nullptr) return 0;
  FreeBlock* block = slab->remote.exchange(nullptr, std::memory_order_acquire);
  unsigned n = 0;
  while (block != nullptr) {
    FreeBlock* next = Checker::next(block);
    Checker::link(block, slab->free);
    slab->free = block;
    block = next;
    ++n;
  }
  slab->used -= n;
  return n;
}

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
  // The thread pointer of its thread; 0 for gShared.
  std::uintptr_t thread = 0;

  void* allocate(int cls);
  // The owner freed a block of `slab` and it is placed kFull or has no
  // block out any more.
  void settle(Slab* slab);
  // Takes `slab`, abandoned, as its own (under gAbandonedMutex).
  void take(Slab* slab);
  // Gives every slab away: empty ones to their regions, the others to the
  // abandoned lists.
  void abandonAll();
  // Gives its empty slabs back to their regions.
  void releaseEmpty();
  std::size_t slabCount() const;

 private:
  Slab* nextSlab(int cls);
  Slab* newSlab(int cls);
  Slab* adopt(int cls);
  void searchFull(int cls);
};

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
        releaseSlab(slab);
      } else {
        slab->place = Place::kRoom;
        room[cls].push(slab);
      }
    }
    slab = next;
  }
}

void Heap::take(Slab* slab) {
  gAbandoned[slab->cls].unlink(slab);
  gAbandonedCount.fetch_sub(1, std::memory_order_relaxed);
  slab->owner.store(this, std::memory_order_relaxed);
  slab->ownerThread.store(thread, std::memory_order_relaxed);
}

Slab* Heap::adopt(int cls) {
  Slab* slab;
  {
    std::lock_guard<std::mutex> lock(gAbandonedMutex);
    slab = gAbandoned[cls].head;
    if (slab == nullptr) return nullptr;
    take(slab);
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
  slab->ownerThread.store(thread, std::memory_order_relaxed);
  slab->remote.store(nullptr, std::memory_order_relaxed);
  slab->free = nullptr;
  slab->bump = reinterpret_cast<char*>(slab) + kHeaderSize;
  slab->used = 0;
  slab->blockSize = static_cast<unsigned short>((cls + 1) * kGranule);
  slab->cls = static_cast<unsigned char>(cls);
  Checker::carved(slab->bump, kSlabSize - kHeaderSize);
  return slab;
}

void Heap::settle(Slab* slab) {
  if (slab->place == Place::kCurrent) return;
  SlabList& list = slab->place == Place::kFull ? full[slab->cls] : room[slab->cls];
  if (slab->used == 0) {
    list.unlink(slab);
    releaseSlab(slab);
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
      slab->ownerThread.store(0, std::memory_order_relaxed);
      slab->place = Place::kAbandoned;
      gAbandoned[cls].push(slab);
      gAbandonedCount.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

void Heap::releaseEmpty() {
  for (int cls = 0; cls < kClassCount; ++cls) {
    Slab* slab = current[cls];
    if (slab != nullptr) {
      collect(slab);
      if (slab->used == 0) {
        current[cls] = nullptr;
        releaseSlab(slab);
      }
    }
    for (SlabList* list : {&room[cls], &full[cls]}) {
      slab = list->head;
      while (slab != nullptr) {
        Slab* next = slab->next;
        collect(slab);
        if (slab->used == 0) {
          list->unlink(slab);
          releaseSlab(slab);
        }
        slab = next;
      }
    }
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

// The library's end-of-program work (at exit, or when it is unloaded):
// empty slabs and the spare region go back to the system, and from then on
// every region goes back as soon as its last block does. Slabs that still
// hold live blocks stay: contexts at namespace scope may be destroyed after
// this runs, and a thread may still be running.
struct Ender {
  ~Ender() {
    gEnded.store(true, std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> lock(gAbandonedMutex);
      for (SlabList& list : gAbandoned) {
        Slab* slab = list.head;
        while (slab != nullptr) {
          Slab* next = slab->next;
          collect(slab);
          if (slab->used == 0) {
            list.unlink(slab);
            gAbandonedCount.fetch_sub(1, std::memory_order_relaxed);
            releaseSlab(slab);
          }
          slab = next;
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(gSharedMutex);
      gShared.releaseEmpty();
    }
    std::lock_guard<std::mutex> lock(gRegionMutex);
    if (gSpare != nullptr) freeRegion(gSpare);
    gSpare = nullptr;
  }
} gEnder;

// Plain data, so that reaching it costs no initialisation check. The
// default TLS model of position-independent code (with TLS descriptors,
// see CMakeLists.txt): `initial-exec` would need room in the static TLS
// block, which a dlopen'ed library may not find. Reaching it costs a call,
// which the fast paths avoid through gHeapSlots below.
thread_local Heap* tHeap;
// The thread is ending and its heap is gone.
thread_local bool tClosed;

// The thread pointer: distinct for every running thread, and read with one
// instruction whatever the TLS model.
inline std::uintptr_t threadPointer() {
#if defined(__x86_64__)
  std::uintptr_t tp;
  asm("mov %%fs:0, %0" : "=r"(tp));
  return tp;
#elif defined(__aarch64__)
  return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer());
#else
  return reinterpret_cast<std::uintptr_t>(&tHeap);
#endif
}

// The heaps of running threads by their thread pointer, one per slot: a
// thread whose slot another thread holds reaches its heap through tHeap.
//
// Invariant: a slot whose `thread` is T holds T's heap; only T writes a
// slot holding T, and T clears it before it ends, so before another thread
// can have its thread pointer.
struct HeapSlot {
  std::atomic<std::uintptr_t> thread;
  std::atomic<Heap*> heap;
};
constexpr int kHeapSlotBits = 8;
HeapSlot gHeapSlots[1 << kHeapSlotBits];

inline HeapSlot& slotOf(std::uintptr_t tp) {
  // Thread pointers sit at the top of the threads' stacks, pages apart.
  return gHeapSlots[(tp >> 12) & ((1u << kHeapSlotBits) - 1)];
}

// The calling thread's heap, or null.
inline Heap* currentHeap() {
  const std::uintptr_t tp = threadPointer();
  HeapSlot& slot = slotOf(tp);
  if (slot.thread.load(std::memory_order_relaxed) == tp) {
    return slot.heap.load(std::memory_order_relaxed);
  }
  return tHeap;
}

struct HeapCloser {
  ~HeapCloser() {
    Heap* heap = tHeap;
    tHeap = nullptr;
    tClosed = true;
    const std::uintptr_t tp = threadPointer();
    HeapSlot& slot = slotOf(tp);
    if (slot.thread.load(std::memory_order_relaxed) == tp) {
      slot.heap.store(nullptr, std::memory_order_relaxed);
      slot.thread.store(0, std::memory_order_release);
    }
    if (heap == nullptr) return;
    heap->abandonAll();
    delete heap;
  }
};

Heap* openHeap() {
  static thread_local HeapCloser closer;
  (void)closer;
  Heap* heap = new Heap;
  tHeap = heap;
  const std::uintptr_t tp = threadPointer();
  heap->thread = tp;
  HeapSlot& slot = slotOf(tp);
  std::uintptr_t empty = 0;
  if (slot.thread.compare_exchange_strong(empty, tp, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
    slot.heap.store(heap, std::memory_order_relaxed);
  }
  return heap;
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
void freeRemote(Slab* slab, void* block) {
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  FreeBlock* head = slab->remote.load(std::memory_order_relaxed);
  do {
    Checker::link(freed, head);
  } while (!slab->remote.compare_exchange_weak(head, freed, std::memory_order_release,
                                               std::memory_order_relaxed));
  // The slab may be gone from here on: its owner may collect the block.
  gRemoteFrees.fetch_add(1, std::memory_order_relaxed);
}

// Frees a block of an abandoned slab, under gAbandonedMutex: the freeing
// thread's heap takes the slab over, or, on a thread without a heap, the
// block goes straight back into the slab, which returns to its region
// when it is empty.
bool freeAbandoned(Slab* slab, void* block) {
  std::unique_lock<std::mutex> lock(gAbandonedMutex);
  if (slab->owner.load(std::memory_order_relaxed) != nullptr) return false;
  Heap* heap = tHeap;
  if (heap != nullptr) {
    heap->take(slab);
    lock.unlock();
    collect(slab);
    slab->put(block);
    if (slab->used == 0) {
      releaseSlab(slab);
    } else {
      slab->place = slab->hasRoom() ? Place::kRoom : Place::kFull;
      (slab->place == Place::kRoom ? heap->room : heap->full)[slab->cls].push(slab);
    }
    return true;
  }
  collect(slab);
  slab->put(block);
  if (slab->used == 0) {
    gAbandoned[slab->cls].unlink(slab);
    gAbandonedCount.fetch_sub(1, std::memory_order_relaxed);
    releaseSlab(slab);
  }
  return true;
}

// Frees a block of gShared's, on a thread without a heap.
bool freeShared(Slab* slab, void* block) {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (slab->owner.load(std::memory_order_relaxed) != &gShared) return false;
  slab->put(block);
  gShared.settle(slab);
  if (slab->used == 0 && slab->place == Place::kCurrent &&
      gEnded.load(std::memory_order_relaxed)) {
    gShared.current[slab->cls] = nullptr;
    releaseSlab(slab);
  }
  return true;
}

// A block that is not the calling thread's.
__attribute__((noinline)) void freeElsewhere(Slab* slab, void* block) {
  for (;;) {
    Heap* owner = slab->owner.load(std::memory_order_relaxed);
    if (owner == nullptr) {
      if (freeAbandoned(slab, block)) return;
    } else if (owner == &gShared && tHeap == nullptr) {
      if (freeShared(slab, block)) return;
    } else {
      freeRemote(slab, block);
      return;
    }
  }
}

}  // namespace

void* QelAllocBlock(std::size_t size) {
  if (size - 1 >= kMaxCachedSize) return ::operator new(size);
  const int cls = classOf(size);
  Heap* heap = currentHeap();
  void* block = nullptr;
  if (heap != nullptr) {
    Slab* slab = heap->current[cls];
    if (slab != nullptr) block = slab->take();
  }
  if (block == nullptr) block = allocateSlow(cls);
  Checker::handedOut(block, size);
  return block;
}

void QelFreeBlock(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size - 1 >= kMaxCachedSize) {
    ::operator delete(block);
    return;
  }
  Slab* slab = slabOf(block);
  Checker::freed(block, slab->blockSize);
  if (slab->ownerThread.load(std::memory_order_relaxed) != threadPointer()) {
    freeElsewhere(slab, block);
    return;
  }
  Heap* heap = slab->owner.load(std::memory_order_relaxed);
  slab->put(block);
  if (slab->used == 0 || slab->place == Place::kFull) settleSlab(heap, slab);
}

std::size_t QelBlockCacheSlabCount() {
  return tHeap != nullptr ? tHeap->slabCount() : 0;
}

std::size_t QelBlockCacheRegionCount() {
  std::lock_guard<std::mutex> lock(gRegionMutex);
  return gRegionCount;
}
