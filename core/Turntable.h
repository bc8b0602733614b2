#pragma once
// The product turning on its floor: the camera goes round it (TTurntableJob in Job.h), every
// frame a scene of its own with the reflection, shadow and shading of its angle, all frames fitted
// to the bounds of the whole turn so the product keeps its size and place. Frames are rendered on
// several threads and handed on in order, never more than a few at a time, so the memory a turn
// takes does not grow with its length.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Job.h"
#include "core/JobRunner.h"
#include "core/LayerCache.h"
#include "core/ProductScene.h"
#include "imagefiles/AnimationWriters.h"
#include "raster/Parallel.h"

namespace quirlon::core {

// What every frame of a turn shares.
struct TTurntablePlan {
  TProductScene Base;       // the product at its own view
  TFrameBounds Bounds;      // of the whole turn in the image plane
  TTurntableJob Turn;
  TRenderRequest Request;   // canvas, settings and sources; the template is each frame's own
  bool Flip = false;
  // The faces' pictures prepared once for every frame and worker.
  std::shared_ptr<TPreparedPictures> Prepared = std::make_shared<TPreparedPictures>();
};

// Checks the values of a turntable job that need no file: -o's extension names an animation
// format (or --frames is given), no --yaw, --save-template or --format beside it, and the
// turntable's own keys only with --turntable. Throws EJobValue naming the key.
void CheckTurntableJob(const TJob& Job);

// The plan of Job's turn: its product (--product), or the [Product] section of TemplateFile.
// Throws EBadProductValue when there is no product to turn, and the loaders' errors.
TTurntablePlan PlanTurntable(const TJob& Job, const std::string& TemplateFile, imagefiles::TPictureCache& Pictures);

// The scene and the template of frame Index.
TProductScene TurntableFrameScene(const TTurntablePlan& Plan, std::int32_t Index);
std::shared_ptr<const TTemplate> TurntableFrameTemplate(const TTurntablePlan& Plan, std::int32_t Index);
// Frame Index rendered and flattened.
std::unique_ptr<raster::TBitmap32> RenderTurntableFrame(const TTurntablePlan& Plan, std::int32_t Index);

// Renders the frames of Plan on Threads threads. Prepare(frame, index) runs on those threads as
// each frame is rendered (to encode it there), and owns the frame, so it can let it go as soon as
// the encoder has its own copy; Consume(index, prepared) runs on the calling thread, in frame
// order. One frame is rendered at a time while the other workers encode theirs: a render's working
// canvases exist once, not once a worker, and with encoding about as slow as rendering the cores
// still stay busy. No worker starts a frame more than Threads frames ahead of the one consumed, so at most
// Threads frames wait at any time. The first error stops the others and is thrown again.
template <class TPrepared>
void RunTurntable(const TTurntablePlan& Plan, std::int32_t Threads,
                  const std::function<TPrepared(std::unique_ptr<raster::TBitmap32>, std::int32_t)>& Prepare,
                  const std::function<void(std::int32_t, TPrepared&&)>& Consume);

// Renders Job's turn into Job.Output.File (an animation by its extension) or numbered PNG files
// in Job.Turntable.FramesFolder, on Threads threads (0: one a core).
TJobOutcome RenderTurntableJob(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources,
                               std::int32_t Threads = 0);

// ---- RunTurntable ----------------------------------------------------------------------------

template <class TPrepared>
void RunTurntable(const TTurntablePlan& Plan, std::int32_t Threads,
                  const std::function<TPrepared(std::unique_ptr<raster::TBitmap32>, std::int32_t)>& Prepare,
                  const std::function<void(std::int32_t, TPrepared&&)>& Consume) {
  const std::int32_t frames = Plan.Turn.Frames;
  const std::int32_t window = std::max(Threads, 1);
  std::mutex mutex;
  std::condition_variable changed;
  std::int32_t nextToStart = 0, nextToConsume = 0;
  bool stop = false;
  std::exception_ptr failure;
  std::map<std::int32_t, TPrepared> ready;
  std::mutex rendering;  // held while a frame is rendered, its canvas made under it

  auto work = [&] {
    // The workers keep the cores busy between them: handing pixel loops to the one helper thread
    // would only make them queue for it.
    std::optional<raster::TSerialLoops> serial;
    if (window > 1) serial.emplace();
    for (;;) {
      std::int32_t index = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || nextToStart >= frames || nextToStart < nextToConsume + window; });
        if (stop || nextToStart >= frames) return;
        index = nextToStart++;
      }
      try {
        std::unique_ptr<raster::TBitmap32> frame;
        {
          std::lock_guard turn(rendering);
          frame = RenderTurntableFrame(Plan, index);
        }
        TPrepared prepared = Prepare(std::move(frame), index);
        std::lock_guard lock(mutex);
        ready.emplace(index, std::move(prepared));
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
      changed.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (std::int32_t i = 0; i < std::min(window, frames); ++i) workers.emplace_back(work);

  for (std::int32_t index = 0; index < frames; ++index) {
    TPrepared prepared;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return stop || ready.count(index) > 0; });
      if (stop) break;
      auto found = ready.find(index);
      prepared = std::move(found->second);
      ready.erase(found);
      nextToConsume = index + 1;
    }
    changed.notify_all();
    try {
      Consume(index, std::move(prepared));
    } catch (...) {
      std::lock_guard lock(mutex);
      if (!failure) failure = std::current_exception();
      stop = true;
      break;
    }
  }
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  changed.notify_all();
  for (std::thread& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quirlon::core
