#pragma once
// Splits a loop over [Begin, End) between at most two threads: the caller and one kept helper
// thread. Two, because the renderer shares small machines with the window's own work; the caller
// stays the caller, so a handler thread keeps waiting in its own stack.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace quirlon::raster {

// The number of threads the pixel loops use: 2 on a machine with more than one core, else 1.
std::int32_t PixelThreadCount();

// While one lives, the loops and helper tasks started on this thread run on it alone. For callers
// that already keep every core busy with threads of their own (the jobs of a batch): there, handing
// work to the one helper thread only makes the job threads queue for it and spin while waiting.
// What a loop computes does not depend on it, only which thread computes it.
class TSerialLoops {
public:
  TSerialLoops() noexcept;
  ~TSerialLoops();
  TSerialLoops(const TSerialLoops&) = delete;
  TSerialLoops& operator=(const TSerialLoops&) = delete;

private:
  bool fWasSerial;
};

// While one lives, each loop and helper task started on this thread runs on it alone when Crowded
// is true as it starts. For callers whose threads fill the cores at some moments and leave one idle
// at others (a service's renders, which come and go): a render that has the machine to itself lends
// rows to the helper, and stops as soon as another starts beside it, without waiting for its end.
class TSerialLoopsWhile {
public:
  explicit TSerialLoopsWhile(const std::atomic<bool>& Crowded) noexcept;
  ~TSerialLoopsWhile();
  TSerialLoopsWhile(const TSerialLoopsWhile&) = delete;
  TSerialLoopsWhile& operator=(const TSerialLoopsWhile&) = delete;

private:
  const std::atomic<bool>* fWasCrowded;
};

// Whether this thread runs its loops alone now (a TSerialLoops lives on it, or the flag of a
// TSerialLoopsWhile is set).
bool LoopsAreSerial() noexcept;

// A reference to a callable taking no arguments, neither owned nor copied: handing work over
// allocates nothing. The callable must outlive the reference.
class TTaskRef {
public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TTaskRef>>>
  TTaskRef(F& Callable) noexcept  // NOLINT: implicit on purpose, like a function reference
      : fObject(static_cast<void*>(&Callable)), fCall([](void* o) { (*static_cast<F*>(o))(); }) {}
  void operator()() const { fCall(fObject); }

private:
  void* fObject;
  void (*fCall)(void*);
};

// Work for the kept helper thread, for as long as this object lives. When the helper is free the
// task starts on it at once; when it is taken (by another loop, or because this comes from inside
// one) Started() is false and nothing runs: the caller then does the work itself, so loops inside
// loops never wait for each other. The destructor waits for a started task, so nothing the task
// uses can go away under it.
class THelperTask {
public:
  explicit THelperTask(TTaskRef Task) noexcept;
  ~THelperTask();
  THelperTask(const THelperTask&) = delete;
  THelperTask& operator=(const THelperTask&) = delete;

  bool Started() const noexcept { return fStarted; }
  // Waits for a started task and rethrows what it threw; does nothing when it did not start or was
  // waited for already.
  void Wait();

private:
  std::exception_ptr Finish() noexcept;
  std::optional<TTaskRef> fTask;
  bool fStarted = false;
};

// Runs Body(from, to) over [Begin, End) on up to two threads. The range is dealt out in about
// sixteen pieces that each thread takes as it becomes free, so that uneven rows (a face in one half
// of the canvas) keep both busy. Ranges shorter than MinPerThread per thread stay on the caller,
// where handing work over would cost more than it saves. Body must be noexcept and allocate
// nothing (a pixel loop has nothing to report; scratch memory is taken before the loop), and must
// touch disjoint data for disjoint ranges. A body taking a third argument is told which thread runs
// it (0 the caller, 1 the helper), to pick its own scratch memory; at most kMaxWorkers exist.
inline constexpr std::int32_t kMaxWorkers = 2;

template <class TBody>
void ParallelFor(std::int32_t Begin, std::int32_t End, std::int32_t MinPerThread, const TBody& Body) {
  constexpr bool kTellsWorker = std::is_invocable_v<const TBody&, std::int32_t, std::int32_t, std::int32_t>;
  if constexpr (kTellsWorker)
    static_assert(std::is_nothrow_invocable_v<const TBody&, std::int32_t, std::int32_t, std::int32_t>,
                  "pixel loop bodies are noexcept");
  else
    static_assert(std::is_nothrow_invocable_v<const TBody&, std::int32_t, std::int32_t>,
                  "pixel loop bodies are noexcept");
  const auto run = [&Body](std::int32_t from, std::int32_t to, std::int32_t worker) noexcept {
    if constexpr (kTellsWorker)
      Body(from, to, worker);
    else
      (void)worker, Body(from, to);
  };
  const std::int32_t count = End - Begin;
  if (count <= 0) return;
  if (PixelThreadCount() < 2 || count < 2 * MinPerThread || LoopsAreSerial()) {
    run(Begin, End, 0);
    return;
  }
  const std::int32_t piece = std::max<std::int32_t>(std::max<std::int32_t>(MinPerThread, 1), count / 16);
  std::atomic<std::int32_t> next{Begin};
  auto take = [&](std::int32_t worker) noexcept {
    for (;;) {
      const std::int32_t from = next.fetch_add(piece);
      if (from >= End) return;
      run(from, std::min(End, from + piece), worker);
    }
  };
  auto onHelper = [&take]() noexcept { take(1); };
  THelperTask second(onHelper);
  if (!second.Started()) {
    run(Begin, End, 0);
    return;
  }
  take(0);
}

}  // namespace quirlon::raster
