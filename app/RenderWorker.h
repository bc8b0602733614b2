#pragma once
// Renders off the window's thread. The window posts requests; one worker thread renders the
// newest of them and hands the result back on the window's thread. A request still waiting when
// a newer one arrives is dropped unrendered, so a drag never queues up work: the worker is at most
// one render behind the newest value. Each result comes with its preview painted there too (see
// PreviewFrame.h), and what the window lets go of is freed on a thread of the worker's at once:
// the window's thread handles no canvas-sized memory.
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QObject>

#include "app/PreviewFrame.h"
#include "core/Render.h"

namespace quirlon::app {

// One finished render: the result, or the error that ended it.
struct TRenderOutcome {
  std::uint64_t Generation = 0;  // as Post returned it
  std::int32_t Width = 0;        // the size that was asked for
  std::int32_t Height = 0;
  std::shared_ptr<core::TRenderResult> Result;  // null when the render failed
  std::shared_ptr<TPreviewFrame> Preview;       // with Result
  std::exception_ptr Error;
};

class TRenderWorker : public QObject {
  Q_OBJECT
public:
  explicit TRenderWorker(QObject* Parent = nullptr);
  // Waits for a render in progress to end; its result is not delivered.
  ~TRenderWorker() override;

  // Queues Request as the newest one, its preview to be painted for Look, and returns its
  // generation (1, 2, ...). A request that waits unrendered is replaced.
  std::uint64_t Post(core::TRenderRequest Request, TPreviewLook Look);
  // Frees Garbage on a thread of the worker's.
  void Dispose(std::shared_ptr<void> Garbage);
  // Pixels the next preview frame's canvas copy reuses.
  void Recycle(std::unique_ptr<raster::TBitmap32> Canvas);
  // The generation of the newest request posted; 0 before the first.
  std::uint64_t LastPosted() const { return fLastPosted; }
  // The generation of the newest outcome delivered by Finished; 0 before the first.
  std::uint64_t LastDelivered() const { return fLastDelivered; }
  // Whether the newest request has not been answered yet.
  bool Pending() const { return fLastDelivered < fLastPosted; }

signals:
  // On the thread that made the worker, in generation order; a request dropped unrendered has
  // no outcome.
  void Finished(const TRenderOutcome& Outcome);

private:
  void Run();
  void Deliver(TRenderOutcome Outcome);
  // Frees what Dispose queues until the worker stops.
  void RunBin();

  std::mutex fMutex;
  std::condition_variable fWake;
  std::optional<core::TRenderRequest> fWaiting;
  TPreviewLook fWaitingLook;
  std::unique_ptr<raster::TBitmap32> fSpareCanvas;
  std::mutex fBinMutex;
  std::condition_variable fBinWake;
  std::vector<std::shared_ptr<void>> fBin;
  bool fBinStopping = false;
  std::uint64_t fWaitingGeneration = 0;
  bool fStopping = false;
  std::uint64_t fLastPosted = 0;     // the window's thread only
  std::uint64_t fLastDelivered = 0;  // the window's thread only
  std::thread fThread;
  std::thread fBinThread;
};

}  // namespace quirlon::app
