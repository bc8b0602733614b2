#include "app/RenderWorker.h"

#include <utility>

namespace quirlon::app {

TRenderWorker::TRenderWorker(QObject* Parent) : QObject(Parent), fThread([this] { Run(); }) {}

TRenderWorker::~TRenderWorker() {
  {
    const std::lock_guard<std::mutex> lock(fMutex);
    fStopping = true;
    fWaiting.reset();
  }
  fWake.notify_all();
  fThread.join();
}

std::uint64_t TRenderWorker::Post(core::TRenderRequest Request) {
  const std::uint64_t generation = ++fLastPosted;
  {
    const std::lock_guard<std::mutex> lock(fMutex);
    fWaiting = std::move(Request);
    fWaitingGeneration = generation;
  }
  fWake.notify_one();
  return generation;
}

void TRenderWorker::Run() {
  for (;;) {
    core::TRenderRequest request;
    TRenderOutcome outcome;
    {
      std::unique_lock<std::mutex> lock(fMutex);
      fWake.wait(lock, [this] { return fStopping || fWaiting.has_value(); });
      if (fStopping) return;
      request = std::move(*fWaiting);
      fWaiting.reset();
      outcome.Generation = fWaitingGeneration;
    }
    outcome.Width = request.Width;
    outcome.Height = request.Height;
    try {
      outcome.Result = std::make_shared<core::TRenderResult>(core::ApplyTemplate(request));
    } catch (...) {
      outcome.Error = std::current_exception();
    }
    // Handed to the window's thread; Qt drops the call when the worker is gone by then.
    QMetaObject::invokeMethod(
        this, [this, done = std::move(outcome)]() mutable { Deliver(std::move(done)); }, Qt::QueuedConnection);
  }
}

void TRenderWorker::Deliver(TRenderOutcome Outcome) {
  if (Outcome.Generation <= fLastDelivered) return;
  fLastDelivered = Outcome.Generation;
  emit Finished(Outcome);
}

}  // namespace quirlon::app
