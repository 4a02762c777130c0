#ifndef QEL_UTIL_BLOCK_CACHE_H
#define QEL_UTIL_BLOCK_CACHE_H

#include <cstddef>

// Allocates the small blocks that memories make and free in bursts:
// retracting an object frees every partial, list cell and set node built
// on it, and asserting the next one builds them again.
//
// Blocks of up to kMaxCachedSize bytes come from slabs: 32 KiB runs of
// blocks of one 8-byte size class, which each thread carves for itself, so
// that allocating and freeing on the thread is a list operation and blocks
// made together sit together in memory. A block freed on another thread is
// handed back to its slab's owner, which takes it up when it next needs
// room. Slabs are carved from 1 MiB regions; a slab whose blocks have all
// come back returns to its region, and a region whose slabs have all come
// back is released (one is kept for reuse), so destroying a context
// returns its memory. When a thread ends, its slabs that still hold live
// blocks pass to the threads that allocate after it or free their blocks.
// Nothing goes back to the system while one of its blocks is live: at the
// end of the program (or when the library is unloaded) the empty slabs and
// the spare region go back, and what still holds blocks, such as the
// memories of a context at namespace scope destroyed after that, goes back
// as its last block does. Larger blocks come from ::operator new.
//
// Memory checkers see every block: under valgrind (when its headers were
// there at build time) each block is a heap block of its own, and under
// AddressSanitizer free blocks are poisoned, so a use after free or a leak
// of a block is reported in the allocator that ships.

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

// For tests: the number of slabs the calling thread owns, and the number
// of regions taken from the system and not yet released.
std::size_t QelBlockCacheSlabCount();
std::size_t QelBlockCacheRegionCount();

#endif  // QEL_UTIL_BLOCK_CACHE_H
