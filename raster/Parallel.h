#pragma once
// Splits a loop over [Begin, End) between at most two threads: the caller runs the first part, one
// helper thread the second. Two, because the renderer shares small machines with the window's own
// work; the caller stays the caller, so a handler thread keeps waiting in its own stack.
// Body(from, to) must not throw and must touch disjoint data for disjoint ranges.
#include <cstdint>
#include <thread>

namespace quirlon::raster {

// The number of threads the pixel loops use: 2 on a machine with more than one core, else 1.
std::int32_t PixelThreadCount();

// Runs Body over [Begin, End) in one or two contiguous parts. Ranges shorter than MinPerThread per
// thread stay on the caller, where a thread start would cost more than it saves.
template <class TBody>
void ParallelFor(std::int32_t Begin, std::int32_t End, std::int32_t MinPerThread, const TBody& Body) {
  const std::int32_t count = End - Begin;
  if (count <= 0) return;
  if (PixelThreadCount() < 2 || count < 2 * MinPerThread) {
    Body(Begin, End);
    return;
  }
  const std::int32_t middle = Begin + count / 2;
  std::thread helper([&] { Body(middle, End); });
  Body(Begin, middle);
  helper.join();
}

}  // namespace quirlon::raster
