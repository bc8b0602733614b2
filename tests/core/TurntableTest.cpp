// The turn's angles, and the frame pipeline: frames handed on in order, never more than a
// thread's worth waiting, and the first error stopping the rest.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <stdexcept>
#include <vector>

#include "core/Turntable.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

struct TYawCase {
  double From, To;
  std::int32_t Frames;
  std::vector<double> Yaws;
};

class TurntableYaws : public ::testing::TestWithParam<TYawCase> {};

TEST_P(TurntableYaws, FramesSpreadEvenlyAndAWholeTurnStopsOneStepShort) {
  const TYawCase& c = GetParam();
  TTurntableJob turn;
  turn.YawFrom = c.From;
  turn.YawTo = c.To;
  turn.Frames = c.Frames;
  for (std::int32_t i = 0; i < c.Frames; ++i) EXPECT_DOUBLE_EQ(turn.YawOf(i), c.Yaws[std::size_t(i)]) << i;
}

INSTANTIATE_TEST_SUITE_P(Ranges, TurntableYaws,
                         ::testing::Values(TYawCase{-180, 180, 4, {-180, -90, 0, 90}},
                                           TYawCase{0, 360, 3, {0, 120, 240}},
                                           TYawCase{-40, 40, 5, {-40, -20, 0, 20, 40}},
                                           TYawCase{10, 20, 2, {10, 20}}));

TEST(TurntableYawRange, ReadsAToBAndRefusesTheRest) {
  double from = 0, to = 0;
  ParseYawRange("-40:12.5", from, to);
  EXPECT_EQ(from, -40);
  EXPECT_EQ(to, 12.5);
  for (const char* bad : {"", "10", "10:", ":10", "a:b", "20:10", "5:5", "-361:0", "0:361", "-200:200"})
    EXPECT_THROW(ParseYawRange(bad, from, to), EJobValue) << bad;
}

TTurntablePlan SmallPlan(std::int32_t Frames) {
  TJob job;
  job.Product.Kind = "box";
  job.Turntable.Frames = Frames;
  job.Request.Width = 64;
  job.Request.Height = 48;
  job.Request.CustomFolder = std::string(QUIRLON_SOURCE_DIR) + "/data/custom/";  // the materials' pictures
  job.WidthGiven = job.HeightGiven = true;
  imagefiles::TPictureCache pictures;
  TTurntablePlan plan = PlanTurntable(job, {}, pictures);
  plan.Request.Pictures = nullptr;  // the cache above goes
  return plan;
}

TEST(TurntablePipeline, FramesArriveInOrderWithAtMostAThreadsWorthWaiting) {
  const TTurntablePlan plan = SmallPlan(24);
  for (const std::int32_t threads : {1, 2, 3}) {
    std::atomic<int> alive{0}, most{0};
    std::vector<std::int32_t> order;
    struct TToken {
      std::atomic<int>* Alive = nullptr;
      std::int32_t Index = -1;
    };
    RunTurntable<std::shared_ptr<TToken>>(
        plan, threads,
        [&](std::unique_ptr<raster::TBitmap32> frame, std::int32_t index) {
          EXPECT_EQ(frame->Width(), 64);
          const int now = ++alive;
          for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
          }
          return std::shared_ptr<TToken>(new TToken{&alive, index}, [](TToken* t) {
            --*t->Alive;
            delete t;
          });
        },
        [&](std::int32_t index, std::shared_ptr<TToken>&& token) {
          EXPECT_EQ(token->Index, index);
          order.push_back(index);
          // A slow encoder: the workers would run ahead if nothing held them.
          std::this_thread::sleep_for(std::chrono::milliseconds(3));
        });
    std::vector<std::int32_t> expected(24);
    for (std::int32_t i = 0; i < 24; ++i) expected[std::size_t(i)] = i;
    EXPECT_EQ(order, expected) << threads << " threads";
    // Waiting frames plus the one being handed on.
    EXPECT_LE(most.load(), threads + 1) << threads << " threads";
    EXPECT_EQ(alive.load(), 0);
  }
}

// The faces' pictures are prepared once for the whole turn and shared by the workers: every frame
// comes out as a render of that frame alone, which prepares its own.
TEST(TurntablePipeline, SharedPreparedPicturesGiveEachFrameAsAloneItWould) {
  TJob job;
  job.Product.Kind = "paperback";
  const std::string examples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";
  job.Request.Sources[SlotIndex(TSlot::Front)] = TSlotSource::OfFile(examples + "book-front.jpg");
  job.Request.Sources[SlotIndex(TSlot::Side)] = TSlotSource::OfFile(examples + "book-spine.jpg");
  job.Request.CustomFolder = std::string(QUIRLON_SOURCE_DIR) + "/data/custom/";
  job.Turntable.Frames = 8;
  job.Request.Width = 120;
  job.Request.Height = 90;
  job.WidthGiven = job.HeightGiven = true;
  imagefiles::TPictureCache pictures;
  const TTurntablePlan plan = PlanTurntable(job, {}, pictures);
  std::vector<std::vector<raster::TColor32>> frames(8);
  RunTurntable<std::vector<raster::TColor32>>(
      plan, 2,
      [](std::unique_ptr<raster::TBitmap32> frame, std::int32_t) {
        return std::vector<raster::TColor32>(frame->Bits(), frame->Bits() + frame->PixelCount());
      },
      [&](std::int32_t index, std::vector<raster::TColor32>&& pixels) { frames[std::size_t(index)] = pixels; });
  EXPECT_GE(plan.Prepared->Count(), 4u);  // front and spine, each with its reflection
  for (std::int32_t i = 0; i < 8; ++i) {
    TRenderRequest alone = plan.Request;
    alone.Template.Parsed = TurntableFrameTemplate(plan, i);
    alone.Prepared = nullptr;
    const auto frame = RenderFlattened(alone, TFlattenOptions{});
    EXPECT_EQ(frames[std::size_t(i)], std::vector<raster::TColor32>(frame->Bits(), frame->Bits() + frame->PixelCount()))
        << "frame " << i;
  }

  // A picture that fails while it is prepared fails the turn on every worker; none waits for it.
  testing::ScratchFolder dir;
  std::ifstream art(examples + "book-front.jpg", std::ios::binary);
  job.Request.Sources[SlotIndex(TSlot::Front)] =
      TSlotSource::OfFile(dir.Write("front.jpg", std::string(std::istreambuf_iterator<char>(art), {})));
  imagefiles::TPictureCache others;
  const TTurntablePlan broken = PlanTurntable(job, {}, others);
  dir.Write("front.jpg", "not a picture any more");
  EXPECT_THROW(RunTurntable<int>(
                   broken, 2, [](std::unique_ptr<raster::TBitmap32>, std::int32_t) { return 0; }, [](std::int32_t, int&&) {}),
               EInvalidGraphic);
}

TEST(TurntablePipeline, TheFirstErrorStopsTheTurnAndIsThrownAgain) {
  const TTurntablePlan plan = SmallPlan(16);
  std::vector<std::int32_t> consumed;
  EXPECT_THROW((RunTurntable<int>(
                   plan, 2,
                   [](std::unique_ptr<raster::TBitmap32>, std::int32_t index) {
                     if (index == 5) throw std::runtime_error("frame 5");
                     return int(index);
                   },
                   [&](std::int32_t index, int&&) { consumed.push_back(index); })),
               std::runtime_error);
  EXPECT_LE(consumed.size(), 5u);
  for (std::size_t i = 0; i < consumed.size(); ++i) EXPECT_EQ(consumed[i], std::int32_t(i));
}

}  // namespace
}  // namespace quirlon::core
