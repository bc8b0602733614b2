#include "app/RenderWorker.h"

#include <map>
#include <utility>

#include "core/LayerCache.h"

namespace quirlon::app {

TRenderWorker::TRenderWorker(QObject* Parent)
    : QObject(Parent), fThread([this] { Run(); }), fBinThread([this] { RunBin(); }) {}

TRenderWorker::~TRenderWorker() {
  {
    const std::lock_guard<std::mutex> lock(fMutex);
    fStopping = true;
    fWaiting.reset();
  }
  fWake.notify_all();
  fThread.join();
  {
    const std::lock_guard<std::mutex> lock(fBinMutex);
    fBinStopping = true;
  }
  fBinWake.notify_all();
  fBinThread.join();
}

std::uint64_t TRenderWorker::Post(core::TRenderRequest Request, TPreviewLook Look) {
  const std::uint64_t generation = ++fLastPosted;
  {
    const std::lock_guard<std::mutex> lock(fMutex);
    fWaiting = std::move(Request);
    fWaitingLook = std::move(Look);
    fWaitingGeneration = generation;
  }
  fWake.notify_one();
  return generation;
}

void TRenderWorker::Dispose(std::shared_ptr<void> Garbage) {
  if (Garbage == nullptr) return;
  {
    const std::lock_guard<std::mutex> lock(fBinMutex);
    fBin.push_back(std::move(Garbage));
  }
  fBinWake.notify_one();
}

void TRenderWorker::Recycle(std::unique_ptr<raster::TBitmap32> Canvas) {
  // One spare is enough; one not taken yet goes to the bin.
  std::unique_ptr<raster::TBitmap32> unused;
  {
    const std::lock_guard<std::mutex> lock(fMutex);
    unused = std::exchange(fSpareCanvas, std::move(Canvas));
  }
  Dispose(std::move(unused));
}

void TRenderWorker::RunBin() {
  for (;;) {
    std::vector<std::shared_ptr<void>> bin;
    std::unique_lock<std::mutex> lock(fBinMutex);
    fBinWake.wait(lock, [this] { return fBinStopping || !fBin.empty(); });
    bin.swap(fBin);
    if (bin.empty() && fBinStopping) return;
    lock.unlock();
    bin.clear();
  }
}

namespace {

// Templates parsed once while their files stay as they were: the layer cache knows a template by
// its parsed copy, so each render of the same file must get the same one.
class TParsedTemplates {
public:
  std::shared_ptr<const core::TTemplate> Load(const std::string& File) {
    const auto identity = core::FileIdentityOf(File);
    auto& kept = fKept[File];
    if (kept.second == nullptr || kept.first != identity)
      kept = {identity, std::make_shared<const core::TTemplate>(core::ReadTemplateFile(File))};
    return kept.second;
  }

private:
  std::map<std::string, std::pair<std::array<std::int64_t, 7>, std::shared_ptr<const core::TTemplate>>> fKept;
};

// One render's layers at 2048 x 2048 take about 400 MB; this keeps most of them, and all at the
// usual sizes.
constexpr std::size_t kKeptLayerBytes = std::size_t{384} << 20;

}  // namespace

void TRenderWorker::Run() {
  // Configured as the window configures its preview, so that its frames look the same.
  view::TImgView32 composer;
  view::ConfigurePreviewView(composer);
  // Layers from render to render, so that a moved slider rebuilds only the layers it shapes. As
  // copies: the window and the preview set the resamplers of the layers they are given.
  core::TLayerCache layers(kKeptLayerBytes, core::TLayerCache::TSharing::Copies);
  TParsedTemplates templates;
  for (;;) {
    core::TRenderRequest request;
    TRenderOutcome outcome;
    auto frame = std::make_shared<TPreviewFrame>();
    {
      std::unique_lock<std::mutex> lock(fMutex);
      fWake.wait(lock, [this] { return fStopping || fWaiting.has_value(); });
      if (fStopping) return;
      request = std::move(*fWaiting);
      fWaiting.reset();
      outcome.Generation = fWaitingGeneration;
      frame->Look = std::move(fWaitingLook);
      if (fSpareCanvas != nullptr) frame->Canvas.AssignMoving(*fSpareCanvas);
      fSpareCanvas.reset();
    }
    outcome.Width = request.Width;
    outcome.Height = request.Height;
    try {
      if (request.Template.Parsed == nullptr && !request.Template.File.empty())
        request.Template.Parsed = templates.Load(request.Template.File);
      request.Layers = &layers;
      outcome.Result = std::make_shared<core::TRenderResult>(core::ApplyTemplate(request));
    } catch (...) {
      outcome.Error = std::current_exception();
    }
    if (outcome.Result != nullptr) {
      try {
        PaintPreviewFrame(composer, *outcome.Result, *frame);
        outcome.Preview = std::move(frame);
      } catch (...) {
        // The window paints the preview itself then, and reports what fails there.
        composer.Layers().Clear();
      }
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
