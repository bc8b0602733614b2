#pragma once
// Splits a loop over [Begin, End) between at most two threads: the caller and one kept helper
// thread. Two, because the renderer shares small machines with the window's own work; the caller
// stays the caller, so a handler thread keeps waiting in its own stack.
// Body(from, to) must not throw and must touch disjoint data for disjoint ranges.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

namespace quirlon::raster {

// The number of threads the pixel loops use: 2 on a machine with more than one core, else 1.
std::int32_t PixelThreadCount();

// Runs Task on the kept helper thread and returns true, or returns false at once when the helper is
// taken (by another loop, or because this call comes from inside one): the caller then does all the
// work itself, so loops inside loops never wait for each other. After true, WaitForHelper must
// follow before anything Task uses goes away.
bool StartOnHelper(const std::function<void()>& Task);
void WaitForHelper();

// Runs Body over [Begin, End) on up to two threads. The range is dealt out in about sixteen pieces
// that each thread takes as it becomes free, so that uneven rows (a face in one half of the canvas)
// keep both busy. Ranges shorter than MinPerThread per thread stay on the caller, where handing work
// over would cost more than it saves.
template <class TBody>
void ParallelFor(std::int32_t Begin, std::int32_t End, std::int32_t MinPerThread, const TBody& Body) {
  const std::int32_t count = End - Begin;
  if (count <= 0) return;
  if (PixelThreadCount() < 2 || count < 2 * MinPerThread) {
    Body(Begin, End);
    return;
  }
  const std::int32_t piece = std::max<std::int32_t>(std::max<std::int32_t>(MinPerThread, 1), count / 16);
  std::atomic<std::int32_t> next{Begin};
  auto take = [&] {
    for (;;) {
      const std::int32_t from = next.fetch_add(piece);
      if (from >= End) return;
      Body(from, std::min(End, from + piece));
    }
  };
  const std::function<void()> second = take;
  if (!StartOnHelper(second)) {
    Body(Begin, End);
    return;
  }
  take();
  WaitForHelper();
}

}  // namespace quirlon::raster
