#include "raster/PixelStore.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace quirlon::raster {

namespace {

// From this size on blocks are mapped directly and kept for reuse when freed. Unmapping is costly
// once worker threads have run (every core must drop the pages), and the heap would hand back the
// same memory after trimming and faulting it in again; a render frees and takes canvas-sized
// blocks over and over, so up to 64 are kept (a render has up to 30 layers, and the window's
// worker makes the next while the window holds the last) and cleared by writing when taken again.
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kKeptBlocks = 64;
constexpr std::size_t kKeptBytes = std::size_t{256} << 20;

struct TBlock {
  void* Address = nullptr;
  std::size_t Bytes = 0;  // as mapped
};

class TBlockCache {
public:
  // A kept block of exactly Bytes (as mapped): a render asks for the canvas size again and again.
  bool Take(std::size_t Bytes, TBlock& Out) {
    std::lock_guard<std::mutex> lock(fMutex);
    for (std::size_t i = fCount; i-- > 0;) {
      if (fBlocks[i].Bytes != Bytes) continue;
      Out = fBlocks[i];
      fKeptBytes -= Out.Bytes;
      for (std::size_t j = i + 1; j < fCount; ++j) fBlocks[j - 1] = fBlocks[j];
      --fCount;
      return true;
    }
    return false;
  }

  // Keeps Block, giving back the oldest kept ones beyond the limits.
  void Keep(TBlock Block) {
    TBlock spill[kKeptBlocks + 1];
    std::size_t spilled = 0;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      if (Block.Bytes > kKeptBytes) {
        spill[spilled++] = Block;
      } else {
        while (fCount > 0 && (fCount == kKeptBlocks || fKeptBytes + Block.Bytes > kKeptBytes)) {
          spill[spilled++] = fBlocks[0];
          fKeptBytes -= fBlocks[0].Bytes;
          for (std::size_t i = 1; i < fCount; ++i) fBlocks[i - 1] = fBlocks[i];
          --fCount;
        }
        fBlocks[fCount++] = Block;
        fKeptBytes += Block.Bytes;
      }
    }
    for (std::size_t i = 0; i < spilled; ++i) Unmap(spill[i]);
  }

  static void Unmap(const TBlock& Block) {
#if defined(__unix__)
    munmap(Block.Address, Block.Bytes);
#else
    std::free(Block.Address);
#endif
  }

private:
  std::mutex fMutex;
  TBlock fBlocks[kKeptBlocks];
  std::size_t fCount = 0;
  std::size_t fKeptBytes = 0;
};

TBlockCache& Cache() {
  // Never destroyed: bitmaps with static storage may be freed after it at exit.
  static TBlockCache& cache = *new TBlockCache;
  return cache;
}

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The size a large block is mapped with: whole huge pages. Faulting small pages costs more than
// clearing the rest of a huge page: touching a 2.6 MB file's worth of memory took 1.1-1.3 ms as one
// 2 MiB page and 150 small ones, 0.10-0.13 ms as two huge pages, on our virtual machines. A block
// of 1 MiB takes twice its size at most.
std::size_t MappedSize(std::size_t Bytes) { return (Bytes + kHugePage - 1) / kHugePage * kHugePage; }

#if defined(__unix__)
// Blocks of a huge page or more start on a 2 MiB boundary and ask for huge pages: a canvas is then
// faulted in a few large pages rather than hundreds of small ones (a first touch of a small page
// took 10 microseconds on our virtual machines, fifty times the clearing of it). A tail short of a
// whole huge page gets small pages. Where huge pages are off the advice is ignored. Only Bytes from the returned address
// stay mapped, so the block is unmapped as any other.
void* MapBlock(std::size_t Bytes) {
#if defined(MADV_HUGEPAGE)
  if (Bytes >= kHugePage) {
    const std::size_t span = Bytes + kHugePage;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) throw std::bad_alloc();
    char* const first = static_cast<char*>(raw);
    char* const aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(first) + kHugePage - 1) &
                                                  ~(std::uintptr_t{kHugePage} - 1));
    if (aligned > first) munmap(first, static_cast<std::size_t>(aligned - first));
    char* const end = aligned + Bytes;
    if (end < first + span) munmap(end, static_cast<std::size_t>(first + span - end));
    madvise(aligned, Bytes, MADV_HUGEPAGE);
    return aligned;
  }
#endif
  void* p = mmap(nullptr, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return p;
}
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(QUIRLON_SMALL_BLOCKS_FROM_HEAP)
constexpr bool kArenas = false;  // the sanitizers watch the heap's blocks, not ours
#elif defined(__unix__) && defined(MADV_HUGEPAGE)
constexpr bool kArenas = true;
#else
constexpr bool kArenas = false;
#endif

// Blocks from 16 KiB to 1 MiB (a face's warped picture, a small mip pyramid, a fill's scanline
// table) share huge pages: from the heap each of their small pages was faulted in on its own, and
// together they were most of a box shot's system time. A 2 MiB arena hands out whole 4 KiB pages,
// first fit; pages handed out before are cleared when handed out again, untouched ones are zero.
constexpr std::size_t kArenaMin = std::size_t{16} << 10;
constexpr std::size_t kArenaPage = 4096;
constexpr std::size_t kArenaPages = kHugePage / kArenaPage;
constexpr std::size_t kArenaWords = kArenaPages / 64;
// One arena: its huge page is resident whole once touched, where the heap's pages are resident only
// where written. A box shot's small blocks fit in it; more arenas spared a box shot another 40 faults
// but kept 3 MiB more resident in a turntable, whose two workers hold more small blocks at once.
// Blocks that do not fit come from the heap.
constexpr std::size_t kMaxArenas = 1;

struct TArena {
  char* Base = nullptr;
  std::uint64_t Used[kArenaWords] = {};
  std::uint64_t Dirty[kArenaWords] = {};  // handed out at some time, so no longer zero
  std::size_t UsedPages = 0;

  bool Test(const std::uint64_t* Bits, std::size_t Page) const { return (Bits[Page / 64] >> (Page % 64)) & 1u; }
  static void Set(std::uint64_t* Bits, std::size_t Page, bool On) {
    const std::uint64_t bit = std::uint64_t{1} << (Page % 64);
    if (On) Bits[Page / 64] |= bit;
    else Bits[Page / 64] &= ~bit;
  }
  // The first run of Pages free pages, or kArenaPages.
  std::size_t FindRun(std::size_t Pages) const {
    std::size_t run = 0;
    for (std::size_t page = 0; page < kArenaPages; ++page) {
      if (Test(Used, page)) {
        run = 0;
        continue;
      }
      if (++run == Pages) return page + 1 - Pages;
    }
    return kArenaPages;
  }
};

class TArenas {
public:
  // Pages for Bytes, cleared when Clear is set, or null when every arena is taken.
  void* Take(std::size_t Bytes, bool Clear) {
    const std::size_t pages = (Bytes + kArenaPage - 1) / kArenaPage;
    char* block = nullptr;
    std::size_t dirtyFirst = 0, dirtyPages = 0;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      TArena* arena = nullptr;
      std::size_t first = kArenaPages;
      for (std::size_t i = 0; i < fCount && arena == nullptr; ++i) {
        if (kArenaPages - fArenas[i].UsedPages < pages) continue;
        first = fArenas[i].FindRun(pages);
        if (first < kArenaPages) arena = &fArenas[i];
      }
      if (arena == nullptr) {
        if (fCount == kMaxArenas) return nullptr;
        arena = &fArenas[fCount];
        *arena = TArena{};
        arena->Base = static_cast<char*>(MapBlock(kHugePage));
        ++fCount;
        first = 0;
      }
      for (std::size_t page = first; page < first + pages; ++page) {
        if (arena->Test(arena->Dirty, page)) {
          if (dirtyPages == 0) dirtyFirst = page;
          dirtyPages = page + 1 - dirtyFirst;
        }
        TArena::Set(arena->Used, page, true);
        TArena::Set(arena->Dirty, page, true);
      }
      arena->UsedPages += pages;
      block = arena->Base + first * kArenaPage;
      dirtyFirst -= first;
    }
    // Outside the lock: the pages are this caller's now.
    if (Clear && dirtyPages > 0) std::memset(block + dirtyFirst * kArenaPage, 0, dirtyPages * kArenaPage);
    return block;
  }

  // Gives back a block Take handed out; false when Block is not from an arena. Arenas stay mapped
  // for the next blocks.
  bool Give(void* Block, std::size_t Bytes) {
    char* const at = static_cast<char*>(Block);
    const std::size_t pages = (Bytes + kArenaPage - 1) / kArenaPage;
    std::lock_guard<std::mutex> lock(fMutex);
    std::size_t i = 0;
    while (i < fCount && !(at >= fArenas[i].Base && at < fArenas[i].Base + kHugePage)) ++i;
    if (i == fCount) return false;
    TArena& arena = fArenas[i];
    const std::size_t first = static_cast<std::size_t>(at - arena.Base) / kArenaPage;
    for (std::size_t page = first; page < first + pages; ++page) TArena::Set(arena.Used, page, false);
    arena.UsedPages -= pages;
    return true;
  }

private:
  std::mutex fMutex;
  TArena fArenas[kMaxArenas];
  std::size_t fCount = 0;
};

TArenas& Arenas() {
  static TArenas& arenas = *new TArenas;  // never destroyed, as the block cache
  return arenas;
}

}  // namespace

void* AllocateZeroedHuge(std::size_t Bytes) {
  if (Bytes == 0) Bytes = 1;
  TBlock block;
  if (Cache().Take(MappedSize(Bytes), block)) {
    std::memset(block.Address, 0, Bytes);  // the tail past Bytes is never handed out
    return block.Address;
  }
  const std::size_t mapped = MappedSize(Bytes);
#if defined(__unix__)
  void* p = MapBlock(mapped);
#else
  void* p = std::calloc(mapped, 1);
  if (p == nullptr) throw std::bad_alloc();
#endif
  return p;
}

void ReleaseZeroedHuge(void* Block, std::size_t Bytes) noexcept {
  if (Block == nullptr) return;
  if (Bytes == 0) Bytes = 1;
  Cache().Keep(TBlock{Block, MappedSize(Bytes)});
}

void* AllocateZeroed(std::size_t Bytes) {
  if (Bytes == 0) Bytes = 1;
  if (Bytes >= kLargeBlock) return AllocateZeroedHuge(Bytes);
  if (kArenas && Bytes >= kArenaMin) {
    if (void* block = Arenas().Take(Bytes, true)) return block;
  }
  void* p = std::calloc(Bytes, 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void ReleaseZeroed(void* Block, std::size_t Bytes) noexcept {
  if (Block == nullptr) return;
  if (Bytes == 0) Bytes = 1;
  if (Bytes >= kLargeBlock) ReleaseZeroedHuge(Block, Bytes);
  else if (!(kArenas && Bytes >= kArenaMin && Arenas().Give(Block, Bytes))) std::free(Block);
}

void* AllocateScratch(std::size_t Bytes) {
  if (Bytes == 0) Bytes = 1;
  if (Bytes >= kLargeBlock) return AllocateZeroedHuge(Bytes);
  if (kArenas && Bytes >= kArenaMin) {
    if (void* block = Arenas().Take(Bytes, false)) return block;
  }
  void* p = std::malloc(Bytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void ReleaseScratch(void* Block, std::size_t Bytes) noexcept { ReleaseZeroed(Block, Bytes); }

void* AllocateScratchInArena(std::size_t Bytes) noexcept {
  if (!kArenas || Bytes < kArenaMin || Bytes >= kLargeBlock) return nullptr;
  try {
    return Arenas().Take(Bytes, false);
  } catch (const std::bad_alloc&) {
    return nullptr;  // the arena's huge page could not be mapped
  }
}

}  // namespace quirlon::raster
