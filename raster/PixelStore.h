#pragma once
// Storage for pixels that starts as zeros without writing them. Large blocks come straight from the
// system's zero-filled pages, which cost nothing until touched: a canvas-sized layer that is drawn
// only where its face lies pays only for those pages, and a fresh canvas needs no clearing pass.
#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "raster/Color.h"

namespace quirlon::raster {

// Zero-filled memory of Bytes bytes (never null; throws std::bad_alloc), and its release with the
// same Bytes. Blocks from 16 KiB up to a megabyte share huge pages with each other.
void* AllocateZeroed(std::size_t Bytes);
void ReleaseZeroed(void* Block, std::size_t Bytes) noexcept;
// The same in whole huge pages whatever the size, for blocks below a megabyte that are touched
// through: a small page faulted in costs about 11 microseconds on our virtual machines, the
// clearing of a whole huge page about 50.
void* AllocateZeroedHuge(std::size_t Bytes);
void ReleaseZeroedHuge(void* Block, std::size_t Bytes) noexcept;

template <class T>
struct TZeroedAllocator {
  using value_type = T;
  TZeroedAllocator() = default;
  template <class U>
  TZeroedAllocator(const TZeroedAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateZeroed(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { ReleaseZeroed(p, n * sizeof(T)); }
  // Value-initialising an element of fresh storage writes nothing: it is zero already. Only valid
  // for element types whose zero bytes are their value-initialised state.
  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const TZeroedAllocator<U>&) const noexcept { return true; }
};

// Working memory of unspecified content from the same places (a fill's scanline lists, a
// compressor's output room): what is written before it is read needs no clearing, which for
// blocks handed out again would be a pass over all of them. Released with the same Bytes.
void* AllocateScratch(std::size_t Bytes);
void ReleaseScratch(void* Block, std::size_t Bytes) noexcept;
// Uncleared pages of the shared huge page for Bytes (16 KiB up to a megabyte), or null when it has
// no room (or there is none here), for callers with a fallback of their own. Released with
// ReleaseScratch.
void* AllocateScratchInArena(std::size_t Bytes) noexcept;

// Working arrays in that memory, whose elements are constructed as usual.
template <class T>
struct TScratchAllocator {
  using value_type = T;
  TScratchAllocator() = default;
  template <class U>
  TScratchAllocator(const TScratchAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(AllocateScratch(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { ReleaseScratch(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const TScratchAllocator<U>&) const noexcept { return true; }
};

// Pixels of a bitmap. Grow it only from empty (resize of an empty store): elements added to a store
// that held pixels before are not guaranteed to be zero.
using TPixelStore = std::vector<TColor32, TZeroedAllocator<TColor32>>;

}  // namespace quirlon::raster
