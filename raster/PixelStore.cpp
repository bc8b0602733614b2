#include "raster/PixelStore.h"

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
// blocks over and over, so a few are kept and cleared by writing when taken again.
constexpr std::size_t kLargeBlock = std::size_t{1} << 20;
constexpr std::size_t kKeptBlocks = 16;
constexpr std::size_t kKeptBytes = std::size_t{256} << 20;

struct TBlock {
  void* Address = nullptr;
  std::size_t Bytes = 0;  // as mapped
};

class TBlockCache {
public:
  // A kept block of exactly Bytes (page-rounded): a render asks for the canvas size again and again.
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

std::size_t PageRounded(std::size_t Bytes) {
  constexpr std::size_t page = 4096;
  return (Bytes + page - 1) / page * page;
}

}  // namespace

void* AllocateZeroed(std::size_t Bytes) {
  if (Bytes == 0) Bytes = 1;
  if (Bytes < kLargeBlock) {
    void* p = std::calloc(Bytes, 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  TBlock block;
  if (Cache().Take(PageRounded(Bytes), block)) {
    std::memset(block.Address, 0, Bytes);  // the tail past Bytes is never handed out
    return block.Address;
  }
  const std::size_t mapped = PageRounded(Bytes);
#if defined(__unix__)
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#else
  void* p = std::calloc(mapped, 1);
  if (p == nullptr) throw std::bad_alloc();
#endif
  return p;
}

void ReleaseZeroed(void* Block, std::size_t Bytes) noexcept {
  if (Block == nullptr) return;
  if (Bytes == 0) Bytes = 1;
  if (Bytes < kLargeBlock) {
    std::free(Block);
    return;
  }
  Cache().Keep(TBlock{Block, PageRounded(Bytes)});
}

}  // namespace quirlon::raster
