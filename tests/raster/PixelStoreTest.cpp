// Large zero-filled blocks: mapped in whole huge pages, kept and handed out again cleared, also to a
// request of another size that the same mapping fits.
#include "raster/PixelStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace quirlon::raster {
namespace {

bool AllZero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(PixelStoreTest, BlocksOfEverySizeStartZeroAndComeBackZero) {
  constexpr std::size_t MiB = std::size_t{1} << 20;
  // Below the large-block size; then sizes on and around huge-page multiples (1.92 MB: an 800 x 600
  // canvas; 12.6 MB), and sizes that share one mapping size taken one after the other, largest
  // first, so that a kept block comes back with the last user's bytes in it.
  const std::size_t sizes[] = {4096, MiB - 1, MiB, 800 * 600 * 4, 2 * MiB, 2 * MiB + 1, 3 * MiB,
                               2048 * 1536 * 4, 1536 * (2048 * 4 + 1), 5 * MiB / 2 + 4096,
                               4 * MiB - 1, 3 * MiB + 7, 2 * MiB + 4096};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    for (int round = 0; round < 3; ++round) {  // fresh, then from the kept blocks
      auto* p = static_cast<std::uint8_t*>(AllocateZeroed(size));
      ASSERT_NE(p, nullptr);
      EXPECT_TRUE(AllZero(p, size));
      std::memset(p, 0xA5, size);  // every byte is writable
      ReleaseZeroed(p, size);
    }
  }
}

// Two blocks of the same size alive at once are distinct and do not overlap.
TEST(PixelStoreTest, LiveBlocksDoNotOverlap) {
  const std::size_t size = 800 * 600 * 4;
  auto* a = static_cast<std::uint8_t*>(AllocateZeroed(size));
  auto* b = static_cast<std::uint8_t*>(AllocateZeroed(size));
  EXPECT_TRUE(a + size <= b || b + size <= a);
  std::memset(a, 1, size);
  EXPECT_TRUE(AllZero(b, size));
  ReleaseZeroed(a, size);
  ReleaseZeroed(b, size);
}

// Blocks below the large-block size share pages: many of them alive at once, freed out of order and
// taken again, on two threads. Each comes zero however its pages were used before, and keeps its
// own bytes while the others are written (no overlap).
TEST(PixelStoreTest, SmallBlocksTakenAndFreedOutOfOrderStayZeroAndApart) {
  struct TLive {
    std::uint8_t* Block;
    std::size_t Bytes;
    std::uint8_t Mark;
    bool Scratch;
  };
  auto churn = [](unsigned Seed, bool& Ok) {
    std::vector<TLive> live;
    std::uint32_t state = Seed;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    const std::size_t pick[] = {16384, 16385, 20000, 4096 * 7 - 1, 65536, 200000, 330000, 600001, (1u << 20) - 1};
    for (int step = 0; step < 400 && Ok; ++step) {
      if (live.size() < 12 && (next() >> 8) % 3 != 0) {
        const std::size_t bytes = pick[(next() >> 8) % std::size(pick)];
        // Scratch blocks (content unspecified) on the same pages; zeroed ones must still come zero.
        const bool scratch = (next() >> 8) % 4 == 0;
        auto* p = static_cast<std::uint8_t*>(scratch ? AllocateScratch(bytes) : AllocateZeroed(bytes));
        if (!scratch) Ok = AllZero(p, bytes);
        const auto mark = static_cast<std::uint8_t>(1 + step % 250);
        std::memset(p, mark, bytes);
        live.push_back({p, bytes, mark, scratch});
      } else if (!live.empty()) {
        const std::size_t at = (next() >> 8) % live.size();
        if (live[at].Scratch) ReleaseScratch(live[at].Block, live[at].Bytes);
        else ReleaseZeroed(live[at].Block, live[at].Bytes);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
      }
      for (const TLive& l : live)
        for (std::size_t i = 0; i < l.Bytes && Ok; i += 509) Ok = l.Block[i] == l.Mark && l.Block[l.Bytes - 1] == l.Mark;
    }
    for (const TLive& l : live) l.Scratch ? ReleaseScratch(l.Block, l.Bytes) : ReleaseZeroed(l.Block, l.Bytes);
  };
  bool first = true, second = true;
  std::thread other(churn, 7u, std::ref(second));
  churn(1u, first);
  other.join();
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
}

}  // namespace
}  // namespace quirlon::raster
