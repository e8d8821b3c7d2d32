#include "platform/fmxMKzPlatformPages.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KZ_PAGES_FROM_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KZ_PAGES_FROM_MALLOC 1
#endif
#endif

namespace kz {

#ifdef KZ_PAGES_FROM_MALLOC
// Under AddressSanitizer the blocks come from its malloc, so that a read or
// write past a picture's last byte is reported instead of landing in the
// rest of a mapped page. Under ThreadSanitizer too: it does not follow
// mremap, so a block moved by it would keep the accesses of whatever was
// mapped there before and report races between unrelated pictures.
void* PlatformPagesAlloc(size_t Bytes) { return calloc(1, Bytes); }

void* PlatformPagesResize(void* Block, size_t OldBytes, size_t NewBytes) {
  void* p = realloc(Block, NewBytes);
  if (p && NewBytes > OldBytes) memset(static_cast<char*>(p) + OldBytes, 0, NewBytes - OldBytes);
  return p;
}

void PlatformPagesFree(void* Block, size_t) { free(Block); }
#else
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
#endif

}  // namespace kz
