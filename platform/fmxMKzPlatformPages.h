// Large buffers (pictures, stream buffers of many frames) live in pages
// mapped for them alone and go straight back to the system when freed.
// Left to malloc, glibc's sliding mmap threshold moves such blocks into its
// per-thread arenas after the first one is freed; an arena keeps the free
// top of its heap resident and malloc_trim never returns it, so a process
// that moves frames between threads grows by megabytes as its arenas take
// turns holding the largest bursts. Smaller blocks stay with malloc.
#pragma once
#include <cstddef>
#include <new>

namespace kz {

// Blocks of at least this many bytes are mapped (malloc's own default
// threshold, so that malloc never maps, frees and then raises it for us).
constexpr size_t KZ_PAGES_MIN_BYTES = 128 * 1024;

// Null when the system refuses. Bytes >= KZ_PAGES_MIN_BYTES; zero-filled.
void* PlatformPagesAlloc(size_t Bytes);
// Moves the block to NewBytes (contents kept up to the smaller size; the
// block may move); null, with the old block untouched, when refused.
void* PlatformPagesResize(void* Block, size_t OldBytes, size_t NewBytes);
void PlatformPagesFree(void* Block, size_t Bytes);

// A standard allocator: blocks of KZ_PAGES_MIN_BYTES and more are mapped,
// smaller ones come from operator new.
template <typename T>
struct TKzPagesAllocator {
  using value_type = T;
  TKzPagesAllocator() = default;
  template <typename U>
  TKzPagesAllocator(const TKzPagesAllocator<U>&) noexcept {}

  T* allocate(size_t N) {
    const size_t bytes = N * sizeof(T);
    if (bytes < KZ_PAGES_MIN_BYTES) return static_cast<T*>(::operator new(bytes));
    void* p = PlatformPagesAlloc(bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* P, size_t N) noexcept {
    const size_t bytes = N * sizeof(T);
    if (bytes < KZ_PAGES_MIN_BYTES)
      ::operator delete(P);
    else
      PlatformPagesFree(P, bytes);
  }
  template <typename U>
  bool operator==(const TKzPagesAllocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace kz
