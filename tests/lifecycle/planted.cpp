// Planted faults that the memory checkers must report in the allocator that
// ships (scripts/valgrind.sh runs it under valgrind and AddressSanitizer and
// fails unless each fault is reported):
//   qel_planted use-after-free   reads a block after freeing it, between
//                                live blocks of the same slab
//   qel_planted leak             drops the last pointer to a block
//   qel_planted clean            neither (must be reported clean)
#include <cstdio>
#include <cstring>

#include "util/block_cache.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "clean";
  void* before = QelAllocBlock(40);
  void* block = QelAllocBlock(40);
  void* after = QelAllocBlock(40);
  std::memset(block, 1, 40);
  int status = 0;
  if (std::strcmp(mode, "use-after-free") == 0) {
    QelFreeBlock(block, 40);
    status = static_cast<volatile char*>(block)[16];  // the fault
    block = nullptr;
  } else if (std::strcmp(mode, "leak") == 0) {
    block = nullptr;  // the fault
  } else if (std::strcmp(mode, "clean") != 0) {
    std::printf("unknown mode %s\n", mode);
    return 2;
  }
  QelFreeBlock(block, 40);
  QelFreeBlock(before, 40);
  QelFreeBlock(after, 40);
  std::printf("%s: done\n", mode);
  (void)status;
  return 0;
}
