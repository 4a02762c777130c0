#include "util/block_cache.h"

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

#else

namespace {

constexpr std::size_t kGranule = 8;
constexpr int kClassCount = static_cast<int>(kMaxCachedSize / kGranule);
// Cached blocks per class: enough for the partials of one large retraction.
constexpr unsigned kMaxCachedBlocks = 65536;

struct FreeBlock {
  FreeBlock* next;
};

struct FreeList {
  FreeBlock* head;
  unsigned count;
};

// Plain data, so that reaching it costs no initialisation check, in the
// static TLS block, so that reaching it costs no call either.
thread_local __attribute__((tls_model("initial-exec"))) FreeList tLists[kClassCount];
// The releaser is registered.
thread_local __attribute__((tls_model("initial-exec"))) bool tOpen;
// The thread is ending: cache no more.
thread_local __attribute__((tls_model("initial-exec"))) bool tClosed;

void releaseAll() {
  tClosed = true;
  tOpen = false;
  for (FreeList& list : tLists) {
    while (list.head != nullptr) {
      FreeBlock* block = list.head;
      list.head = block->next;
      ::operator delete(block);
    }
    list.count = 0;
  }
}

struct Releaser {
  ~Releaser() { releaseAll(); }
};

// Registers the thread's releaser on its first cached free.
bool open() {
  if (tClosed) return false;
  static thread_local Releaser releaser;
  (void)releaser;
  tOpen = true;
  return true;
}

int classOf(std::size_t size) {
  return static_cast<int>((size + kGranule - 1) / kGranule) - 1;
}

// The paths that leave the cache, out of line so that the common ones stay
// short.
__attribute__((noinline)) void* allocateNew(std::size_t size) {
  if (size == 0 || size > kMaxCachedSize) return ::operator new(size);
  return ::operator new(static_cast<std::size_t>(classOf(size) + 1) * kGranule);
}

__attribute__((noinline)) void freeUncached(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (size != 0 && size <= kMaxCachedSize && !tOpen && open()) {
    QelFreeBlock(block, size);
    return;
  }
  ::operator delete(block);
}

}  // namespace

void* QelAllocBlock(std::size_t size) {
  if (size - 1 < kMaxCachedSize) {
    FreeList& list = tLists[classOf(size)];
    FreeBlock* block = list.head;
    if (block != nullptr) {
      list.head = block->next;
      --list.count;
      return block;
    }
  }
  return allocateNew(size);
}

void QelFreeBlock(void* block, std::size_t size) {
  if (size - 1 < kMaxCachedSize && tOpen && block != nullptr) {
    FreeList& list = tLists[classOf(size)];
    if (list.count < kMaxCachedBlocks) {
      FreeBlock* freed = static_cast<FreeBlock*>(block);
      freed->next = list.head;
      list.head = freed;
      ++list.count;
      return;
    }
  }
  freeUncached(block, size);
}

#endif
