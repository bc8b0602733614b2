// The two-thread loop and the helper task: every index visited exactly once, worker numbers that
// keep scratch memory apart, failures carried back to the caller, and no waiting on oneself.
#include "raster/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quirlon::raster {
namespace {

TEST(ParallelTest, EveryIndexOnceWithAWorkerOfItsOwn) {
  struct TCase {
    std::int32_t Begin, End, MinPerThread;
  };
  const TCase cases[] = {{0, 0, 1}, {5, 3, 1}, {0, 1, 1}, {0, 7, 4}, {-50, 50, 1}, {0, 10000, 16}, {3, 1003, 500}};
  for (const TCase& c : cases) {
    std::vector<std::atomic<int>> visits(static_cast<std::size_t>(std::max(0, c.End - c.Begin)));
    std::atomic<int> workerOfPiece[kMaxWorkers] = {};
    std::atomic<bool> badWorker{false};
    ParallelFor(c.Begin, c.End, c.MinPerThread, [&](std::int32_t from, std::int32_t to, std::int32_t worker) noexcept {
      if (worker < 0 || worker >= kMaxWorkers) badWorker = true;
      else ++workerOfPiece[worker];
      for (std::int32_t i = from; i < to; ++i) ++visits[static_cast<std::size_t>(i - c.Begin)];
    });
    EXPECT_FALSE(badWorker);
    for (std::size_t i = 0; i < visits.size(); ++i) ASSERT_EQ(visits[i].load(), 1) << c.Begin << ".." << c.End << " at " << i;
  }
}

TEST(ParallelTest, NestedLoopsRunInsideWithoutWaitingForThemselves) {
  std::atomic<long> sum{0};
  ParallelFor(0, 64, 1, [&](std::int32_t from, std::int32_t to) noexcept {
    for (std::int32_t i = from; i < to; ++i)
      ParallelFor(0, 100, 1, [&](std::int32_t a, std::int32_t b) noexcept {
        for (std::int32_t j = a; j < b; ++j) sum += j;
      });
  });
  EXPECT_EQ(sum.load(), 64L * 4950);
}

TEST(ParallelTest, HelperTaskCarriesItsFailureBackAndWaitsInItsDestructor) {
  if (PixelThreadCount() < 2) GTEST_SKIP() << "one core: the helper thread is never used";
  auto fail = [] { throw std::runtime_error("band failed"); };
  {
    THelperTask task(fail);
    ASSERT_TRUE(task.Started());
    EXPECT_THROW(
        {
          try {
            task.Wait();
          } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "band failed");
            throw;
          }
        },
        std::runtime_error);
    task.Wait();  // a second wait has nothing left to report
  }
  // The destructor waits: what the task writes is there once the scope ends.
  std::atomic<bool> done{false};
  {
    auto slow = [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      done = true;
    };
    THelperTask task(slow);
    EXPECT_TRUE(task.Started());
  }
  EXPECT_TRUE(done);
  // While one task holds the helper, another is not started and the caller does the work itself.
  std::atomic<bool> release{false};
  auto hold = [&] {
    while (!release) std::this_thread::yield();
  };
  THelperTask holder(hold);
  ASSERT_TRUE(holder.Started());
  auto nothing = [] {};
  {
    THelperTask second(nothing);
    EXPECT_FALSE(second.Started());
    second.Wait();  // not started: returns at once
  }
  release = true;
}

TEST(ParallelTest, SerialLoopsStayOnTheirThreadAndEndWithTheirScope) {
  if (PixelThreadCount() < 2) GTEST_SKIP() << "one core: loops are serial anyway";
  const std::thread::id caller = std::this_thread::get_id();
  auto onlyCaller = [&] {
    std::atomic<int> elsewhere{0}, visits{0};
    ParallelFor(0, 4096, 1, [&](std::int32_t from, std::int32_t to, std::int32_t worker) noexcept {
      if (std::this_thread::get_id() != caller || worker != 0) ++elsewhere;
      visits += to - from;
    });
    EXPECT_EQ(visits.load(), 4096);
    return elsewhere.load() == 0;
  };
  {
    const TSerialLoops serial;
    EXPECT_TRUE(LoopsAreSerial());
    {
      const TSerialLoops nested;
    }
    EXPECT_TRUE(LoopsAreSerial()) << "an inner scope ends without ending the outer one";
    EXPECT_TRUE(onlyCaller());
    auto nothing = [] {};
    THelperTask task(nothing);
    EXPECT_FALSE(task.Started());
    // Another thread is not affected by this thread's scope.
    bool otherSerial = true;
    std::thread([&] { otherSerial = LoopsAreSerial(); }).join();
    EXPECT_FALSE(otherSerial);
  }
  EXPECT_FALSE(LoopsAreSerial());
  auto nothing = [] {};
  THelperTask task(nothing);
  EXPECT_TRUE(task.Started()) << "after the scope the helper takes work again";
}

// The flag is read as each loop starts: a thread goes serial and back while one scope lives.
TEST(ParallelTest, LoopsFollowTheCrowdedFlagLoopByLoop) {
  if (PixelThreadCount() < 2) GTEST_SKIP() << "one core: loops are serial anyway";
  const std::thread::id caller = std::this_thread::get_id();
  auto helperRan = [&] {
    std::atomic<int> elsewhere{0}, visits{0};
    ParallelFor(0, 4096, 1, [&](std::int32_t from, std::int32_t to, std::int32_t) noexcept {
      if (std::this_thread::get_id() != caller) ++elsewhere;
      visits += to - from;
    });
    EXPECT_EQ(visits.load(), 4096);
    auto nothing = [] {};
    THelperTask task(nothing);
    return elsewhere.load() > 0 || task.Started();
  };
  std::atomic<bool> crowded{false};
  {
    const TSerialLoopsWhile whileCrowded(crowded);
    EXPECT_FALSE(LoopsAreSerial());
    EXPECT_TRUE(helperRan());
    struct TStep {
      bool Crowded;
      bool Serial;
    };
    for (const TStep step : {TStep{true, true}, TStep{false, false}, TStep{true, true}, TStep{false, false}}) {
      crowded = step.Crowded;
      EXPECT_EQ(LoopsAreSerial(), step.Serial);
      EXPECT_EQ(helperRan(), !step.Serial) << "crowded " << step.Crowded;
    }
    // A plain serial scope inside holds whatever the flag says.
    {
      const TSerialLoops serial;
      EXPECT_TRUE(LoopsAreSerial());
      EXPECT_FALSE(helperRan());
    }
    crowded = true;
    // Another thread is not steered by this thread's flag.
    bool otherSerial = true;
    std::thread([&] { otherSerial = LoopsAreSerial(); }).join();
    EXPECT_FALSE(otherSerial);
  }
  EXPECT_FALSE(LoopsAreSerial()) << "the flag steers nothing after its scope, though still set";
  EXPECT_TRUE(helperRan());
}

}  // namespace
}  // namespace quirlon::raster
