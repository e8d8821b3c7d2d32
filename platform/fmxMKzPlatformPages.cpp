#include "platform/fmxMKzPlatformPages.h"

#include <sys/mman.h>

namespace kz {

void* PlatformPagesAlloc(size_t Bytes) {
  void* p = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void* PlatformPagesResize(void* Block, size_t OldBytes, size_t NewBytes) {
  void* p = mremap(Block, OldBytes, NewBytes, MREMAP_MAYMOVE);
  return p == MAP_FAILED ? nullptr : p;
}

void PlatformPagesFree(void* Block, size_t Bytes) {
  if (Block) munmap(Block, Bytes);
}

}  // namespace kz
