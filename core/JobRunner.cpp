#include "core/JobRunner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "core/ProductError.h"
#include "core/ProductSection.h"
#include "core/Render.h"
#include "core/Turntable.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/SafeFile.h"
#include "raster/Parallel.h"

namespace quirlon::core {

std::shared_ptr<const TTemplate> TTemplateCache::Load(const std::string& File) {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    const auto found = fTemplates.find(File);
    if (found != fTemplates.end()) return found->second;
  }
  // Parsed outside the lock: two threads may both parse a template the first time, one wins.
  auto parsed = std::make_shared<const TTemplate>(ReadTemplateFile(File));
  std::lock_guard<std::mutex> lock(fMutex);
  return fTemplates.emplace(File, std::move(parsed)).first->second;
}

namespace {

// All of File to descriptor 1, past interruptions and short writes (a pipe takes it in pieces).
void WriteToStandardOutput(const std::vector<std::uint8_t>& File) {
  std::size_t done = 0;
  while (done < File.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, File.data() + done, File.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw std::runtime_error(std::string("Cannot write to standard output. ") + std::strerror(n < 0 ? errno : EIO));
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

namespace {

// A job turned into the render request it makes: the template parsed or the product built.
struct TPreparedJob {
  TRenderRequest Request;
  TJobOutcome Outcome;
  std::optional<TProductTemplate> Built;
};

TPreparedJob PrepareJob(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources,
                        imagefiles::TPictureCache& pictures) {
  TPreparedJob prepared;
  TRenderRequest& request = prepared.Request;
  request = Job.Request;
  request.Pictures = &pictures;
  request.Layers = Resources.Layers;
  const TProductJob& product = Job.Product;
  if (!product.UsesModel()) {
    request.Template.Parsed = Resources.Templates != nullptr
                                  ? Resources.Templates->Load(TemplateFile)
                                  : std::make_shared<const TTemplate>(ReadTemplateFile(TemplateFile));
  } else {
    std::optional<TProductScene> templateScene;
    if (product.Kind.empty()) templateScene = ReadTemplateProductScene(TemplateFile, " to turn or resize");
    prepared.Built = BuildProductTemplate(product, templateScene ? &*templateScene : nullptr, request.Sources,
                                          pictures, request.MaxPicturePixels);
    request.Template.Parsed = prepared.Built->Template;
    request.Sources = prepared.Built->Sources;
  }
  prepared.Outcome.Template = request.Template.Parsed;
  return prepared;
}

// The flattened picture of a prepared job at the canvas size the job asks for.
std::unique_ptr<raster::TBitmap32> RenderPrepared(const TJob& Job, TPreparedJob& Prepared) {
  TRenderRequest& request = Prepared.Request;
  if (request.Template.Parsed) {
    TJob fitted = Job;  // only its canvas is changed
    FitCanvasToTemplate(fitted, request.Template.Parsed->Size.Width, request.Template.Parsed->Size.Height);
    request.Width = fitted.Request.Width;
    request.Height = fitted.Request.Height;
  }
  // Each layer is drawn and let go as it is made: the layers are gone before the picture is
  // encoded, and a render touches a few canvases of fresh memory rather than one a layer.
  auto flat = RenderFlattened(request, TFlattenOptions{.Flip = Job.Output.Flip}, &Prepared.Outcome.MismatchedArt);
  Prepared.Outcome.Width = flat->Width();
  Prepared.Outcome.Height = flat->Height();
  return flat;
}

}  // namespace

TJobOutcome RenderJob(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources) {
  if (Job.Turntable.Frames > 0) return RenderTurntableJob(Job, TemplateFile, Resources);
  imagefiles::TPictureCache ownPictures;
  imagefiles::TPictureCache& pictures = Resources.Pictures != nullptr ? *Resources.Pictures : ownPictures;
  TPreparedJob prepared = PrepareJob(Job, TemplateFile, Resources, pictures);
  if (prepared.Built && !Job.Product.SaveTemplate.empty()) {
    const std::string text = ProductTemplateText(*prepared.Built);
    imagefiles::WriteFileSafely(Job.Product.SaveTemplate, text.data(), text.size());
    prepared.Outcome.WroteTemplate = true;
  }
  if (prepared.Built && Job.Output.File.empty()) return prepared.Outcome;
  const std::unique_ptr<raster::TBitmap32> flat = RenderPrepared(Job, prepared);
  const imagefiles::TOutputFormat format = OutputFormatOfJob(Job.Output);
  if (Job.Output.ToStandardOutput())
    WriteToStandardOutput(imagefiles::EncodePicture(*flat, format, Job.Output.SaveOptions()));
  else
    imagefiles::SavePicture(*flat, Job.Output.File, format, Job.Output.SaveOptions(), false);
  return prepared.Outcome;
}

TJobPicture RenderJobPicture(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources) {
  imagefiles::TPictureCache ownPictures;
  imagefiles::TPictureCache& pictures = Resources.Pictures != nullptr ? *Resources.Pictures : ownPictures;
  TPreparedJob prepared = PrepareJob(Job, TemplateFile, Resources, pictures);
  TJobPicture picture;
  picture.Picture = RenderPrepared(Job, prepared);
  picture.Outcome = prepared.Outcome;
  return picture;
}

namespace {

// The file's modification time in nanoseconds, or nothing when it cannot be read.
std::optional<std::int64_t> ModifiedAt(const std::string& file) {
  struct stat info {};
  if (file.empty() || ::stat(file.c_str(), &info) != 0) return std::nullopt;
  return std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

// The picture files Job reads through the picture cache, each once.
std::set<std::string> PictureFilesOf(const TJob& Job) {
  std::set<std::string> files;
  for (const TSlotSource& source : Job.Request.Sources)
    if (source.Kind == TSlotSource::TKind::File) files.insert(source.File);
  return files;
}

}  // namespace

bool OutputIsCurrent(const TJob& Job, const std::string& TemplateFile) {
  const auto output = ModifiedAt(Job.Output.File);
  if (!output) return false;
  std::vector<std::string> inputs;
  if (Job.Product.Kind.empty()) inputs.push_back(TemplateFile);
  if (!Job.Product.Wrap.empty()) inputs.push_back(Job.Product.Wrap);
  for (const TSlotSource& source : Job.Request.Sources)
    if (source.Kind == TSlotSource::TKind::File) inputs.push_back(source.File);
  for (const std::string& input : inputs) {
    const auto at = ModifiedAt(input);
    // An input that is not there makes the job run, so that it fails as it should.
    if (!at || *at >= *output) return false;
  }
  return true;
}

TBatchSummary RunBatch(const std::vector<TBatchJob>& Jobs, const TBatchOptions& Options,
                       const std::function<void(const TBatchReport&)>& OnJob) {
  imagefiles::TPictureCache pictures(Options.PictureCacheBytes);
  TTemplateCache templates;
  TLayerCache layers(Options.LayerCacheBytes);
  TJobResources resources{&pictures, &templates, &layers};
  std::atomic<std::size_t> next{0};
  std::mutex reportMutex;
  TBatchSummary summary;
  std::size_t finished = 0;

  auto report = [&](const TBatchJob& job, TBatchOutcome outcome, std::string message) {
    std::lock_guard<std::mutex> lock(reportMutex);
    ++finished;
    (outcome == TBatchOutcome::Written   ? summary.Written
     : outcome == TBatchOutcome::Skipped ? summary.Skipped
                                         : summary.Failed)++;
    if (OnJob) OnJob(TBatchReport{&job, outcome, std::move(message), finished, Jobs.size()});
  };
  // A picture leaves the cache with the last job that reads it, so that a catalogue of different
  // covers holds only the pictures of the jobs under way, not the cache's whole budget.
  std::map<std::string, std::size_t> usesLeft;
  for (const TBatchJob& job : Jobs)
    if (job.Error.empty())
      for (const std::string& file : PictureFilesOf(job.Job)) ++usesLeft[file];
  std::mutex usesMutex;
  auto done = [&](const TBatchJob& job) {
    std::lock_guard<std::mutex> lock(usesMutex);
    for (const std::string& file : PictureFilesOf(job.Job))
      if (--usesLeft[file] == 0) pictures.Forget(file);
  };

  const std::size_t threads =
      std::min<std::size_t>(static_cast<std::size_t>(std::max<std::int32_t>(1, Options.Threads)), Jobs.size());
  auto work = [&] {
    // Several job threads already fill the cores: each render then stays on its own thread. One job
    // thread alone still lends rows to the helper.
    std::optional<raster::TSerialLoops> serial;
    if (threads > 1) serial.emplace();
    for (std::size_t i = next++; i < Jobs.size(); i = next++) {
      const TBatchJob& job = Jobs[i];
      if (!job.Error.empty()) {
        report(job, TBatchOutcome::Failed, job.Error);
        continue;
      }
      TBatchOutcome outcome = TBatchOutcome::Written;
      std::string message;
      try {
        if (Options.SkipExisting && OutputIsCurrent(job.Job, job.TemplateFile)) outcome = TBatchOutcome::Skipped;
        else RenderJob(job.Job, job.TemplateFile, resources);
      } catch (const std::exception& e) {
        outcome = TBatchOutcome::Failed;
        message = e.what();
      } catch (...) {
        outcome = TBatchOutcome::Failed;
        message = "unknown error";
      }
      done(job);
      report(job, outcome, std::move(message));
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  return summary;
}

}  // namespace quirlon::core
