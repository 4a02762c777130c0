#ifndef QEL_UTIL_BLOCK_CACHE_H
#define QEL_UTIL_BLOCK_CACHE_H

#include <cstddef>

// Recycles the small blocks that memories free and allocate again in
// bursts: retracting an object frees every partial, list cell and set node
// built on it, and asserting the next one builds them again.
//
// Each thread keeps, per 8-byte size class up to kMaxCachedSize bytes, a
// bounded list of freed blocks. Every block comes from ::operator new and
// finally goes back to ::operator delete on its own, so a block may be
// freed on another thread than the one that made it, and the cache holds
// no memory that a live object owns. A thread's cached blocks are released
// when the thread ends; frees after that go straight to ::operator delete.
//
// Builds under AddressSanitizer bypass the cache so that every use after
// free is still reported.

constexpr std::size_t kMaxCachedSize = 512;

void* QelAllocBlock(std::size_t size);
// `size` must be the size given to QelAllocBlock.
void QelFreeBlock(void* block, std::size_t size);

// Arrays of trivially destructible elements, through the same cache.
template <typename T>
T* QelAllocArray(int n) {
  return static_cast<T*>(QelAllocBlock(sizeof(T) * static_cast<std::size_t>(n)));
}
template <typename T>
void QelFreeArray(T* array, int n) {
  QelFreeBlock(array, sizeof(T) * static_cast<std::size_t>(n));
}

#endif  // QEL_UTIL_BLOCK_CACHE_H
