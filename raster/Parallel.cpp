#include "raster/Parallel.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quirlon::raster {

std::int32_t PixelThreadCount() {
  static const std::int32_t count = std::thread::hardware_concurrency() > 1 ? 2 : 1;
  return count;
}

namespace {

thread_local bool tSerial = false;
thread_local const std::atomic<bool>* tCrowded = nullptr;

}  // namespace

TSerialLoops::TSerialLoops() noexcept : fWasSerial(tSerial) { tSerial = true; }

TSerialLoops::~TSerialLoops() { tSerial = fWasSerial; }

TSerialLoopsWhile::TSerialLoopsWhile(const std::atomic<bool>& Crowded) noexcept : fWasCrowded(tCrowded) {
  tCrowded = &Crowded;
}

TSerialLoopsWhile::~TSerialLoopsWhile() { tCrowded = fWasCrowded; }

// Relaxed: the flag only steers where work runs, never what it computes.
bool LoopsAreSerial() noexcept { return tSerial || (tCrowded != nullptr && tCrowded->load(std::memory_order_relaxed)); }

namespace {

// One helper thread, started on first use and kept: a render hands it dozens of loops, and starting
// a thread for each cost more than many of the loops themselves.
class THelper {
public:
  THelper() : fThread([this] { Run(); }) { fThread.detach(); }

  bool Start(const TTaskRef& Task) {
    bool expected = false;
    if (!fTaken.compare_exchange_strong(expected, true)) return false;
    fDone.store(false);
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fTask.store(&Task);
    }
    fWake.notify_one();
    return true;
  }

  // Waits for the task and hands back what it threw.
  std::exception_ptr Wait() noexcept {
    // A render hands over loop after loop: a short spin catches the helper's end without the cost
    // of sleeping and being woken.
    for (int i = 0; i < kSpins && !fDone.load(); ++i) Pause();
    if (!fDone.load()) {
      std::unique_lock<std::mutex> lock(fMutex);
      fFinished.wait(lock, [this] { return fDone.load(); });
    }
    std::exception_ptr failure = std::move(fFailure);
    fFailure = nullptr;
    fTaken.store(false);
    return failure;
  }

private:
  static constexpr int kSpins = 20000;  // some tens of microseconds

  static void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }

  void Run() {
    for (;;) {
      const TTaskRef* task = nullptr;
      for (int i = 0; i < kSpins && (task = fTask.load()) == nullptr; ++i) Pause();
      if (task == nullptr) {
        std::unique_lock<std::mutex> lock(fMutex);
        fWake.wait(lock, [this] { return fTask.load() != nullptr; });
        task = fTask.load();
      }
      try {
        (*task)();
      } catch (...) {
        fFailure = std::current_exception();  // read by Wait after fDone
      }
      {
        std::lock_guard<std::mutex> lock(fMutex);
        fTask.store(nullptr);
        fDone.store(true);
      }
      fFinished.notify_one();
    }
  }

  std::mutex fMutex;
  std::condition_variable fWake, fFinished;
  std::atomic<const TTaskRef*> fTask{nullptr};
  std::exception_ptr fFailure;
  std::atomic<bool> fDone{true};
  std::atomic<bool> fTaken{false};
  std::thread fThread;  // last: starts once the rest is set up
};

THelper& Helper() {
  // Never destroyed: loops may still run while other objects with static storage are destroyed.
  static THelper& helper = *new THelper;
  return helper;
}

}  // namespace

THelperTask::THelperTask(TTaskRef Task) noexcept {
  // The helper keeps a pointer to the reference until the task ends; this object outlives that.
  fTask.emplace(Task);
  fStarted = !LoopsAreSerial() && Helper().Start(*fTask);
}

THelperTask::~THelperTask() { (void)Finish(); }

std::exception_ptr THelperTask::Finish() noexcept {
  if (!fStarted) return nullptr;
  fStarted = false;
  return Helper().Wait();
}

void THelperTask::Wait() {
  if (std::exception_ptr failure = Finish()) std::rethrow_exception(failure);
}

}  // namespace quirlon::raster
