#pragma once
// Splits a loop over [Begin, End) between at most two threads: the caller runs the first part, one
// kept helper thread the second. Two, because the renderer shares small machines with the window's
// own work; the caller stays the caller, so a handler thread keeps waiting in its own stack.
// Body(from, to) must not throw and must touch disjoint data for disjoint ranges.
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

// Runs Body over [Begin, End) in one or two contiguous parts. Ranges shorter than MinPerThread per
// thread stay on the caller, where handing work over would cost more than it saves.
template <class TBody>
void ParallelFor(std::int32_t Begin, std::int32_t End, std::int32_t MinPerThread, const TBody& Body) {
  const std::int32_t count = End - Begin;
  if (count <= 0) return;
  if (PixelThreadCount() < 2 || count < 2 * MinPerThread) {
    Body(Begin, End);
    return;
  }
  const std::int32_t middle = Begin + count / 2;
  const std::function<void()> second = [&] { Body(middle, End); };
  if (!StartOnHelper(second)) {
    Body(Begin, End);
    return;
  }
  Body(Begin, middle);
  WaitForHelper();
}

}  // namespace quirlon::raster
