#pragma once
// Carrying out jobs (core/Job.h): one job into its picture file, and a list of jobs on several
// threads at once, sharing the decoded pictures and the parsed templates. The command line and a
// render service call these and only print or answer.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/Job.h"
#include "core/LayerCache.h"

namespace quirlon::core {

// Templates parsed once for many jobs; safe to share between threads.
class TTemplateCache {
public:
  // The parsed template of File, with ReadTemplateFile's errors (which are not kept).
  std::shared_ptr<const TTemplate> Load(const std::string& File);

private:
  std::mutex fMutex;
  std::map<std::string, std::shared_ptr<const TTemplate>> fTemplates;
};

// What jobs share while they run.
struct TJobResources {
  imagefiles::TPictureCache* Pictures = nullptr;  // nullptr: the job decodes its own
  TTemplateCache* Templates = nullptr;            // nullptr: the job reads its template itself
  TLayerCache* Layers = nullptr;                  // nullptr: every layer is built for its job
};

struct TJobOutcome {
  std::int32_t Width = 0, Height = 0;  // of the written picture; 0 when only a template was written
  bool WroteTemplate = false;
  std::shared_ptr<const TTemplate> Template;  // what was rendered (or written)
  std::vector<TArtFit> MismatchedArt;         // as the render found it (TRenderResult)
};

// Renders Job with its template file TemplateFile (already resolved from Job.Template; unused for
// a product built from a kind) and writes Job.Output.File atomically, and the product's template
// when Job.Product.SaveTemplate asks for it. Throws EBadProductValue for product values that make
// no product (the template's own faults are std::runtime_error) and the render's, loaders' and
// writers' errors.
TJobOutcome RenderJob(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources);

// Job's flattened picture, rendered as RenderJob renders it, but neither written nor encoded and
// no product template saved (Job.Output.File and Job.Product.SaveTemplate are not looked at): for
// callers that answer with the picture instead of writing a file.
struct TJobPicture {
  std::unique_ptr<raster::TBitmap32> Picture;
  TJobOutcome Outcome;
};
TJobPicture RenderJobPicture(const TJob& Job, const std::string& TemplateFile, TJobResources& Resources);

// Whether Job's output exists and is newer than its template file and every picture it reads.
bool OutputIsCurrent(const TJob& Job, const std::string& TemplateFile);

// One job of a batch: where it came from and, when it cannot run, why.
struct TBatchJob {
  std::int64_t Row = 0;  // as messages count it
  TJob Job;
  std::string TemplateFile;
  std::string Error;  // set: the job fails with this message and is not rendered
};

enum class TBatchOutcome : std::uint8_t { Written, Skipped, Failed };

struct TBatchReport {
  const TBatchJob* Job = nullptr;
  TBatchOutcome Outcome = TBatchOutcome::Written;
  std::string Message;  // why it failed
  std::size_t Finished = 0, Total = 0;  // jobs finished so far, this one included
};

struct TBatchOptions {
  std::int32_t Threads = 1;  // jobs at once, at least 1
  bool SkipExisting = false;  // skip a job whose output is current (OutputIsCurrent)
  std::size_t PictureCacheBytes = std::size_t{256} << 20;
  // Finished layers that later jobs with the same inputs take as they are (TLayerCache). Room for
  // a 25-layer template's shared layers at 800 x 600 (48 MB) and the cover layers of a dozen
  // products beside them; at 64 MiB a catalogue of ten covers evicted its own layers job by job
  // and built each twice as often.
  std::size_t LayerCacheBytes = std::size_t{128} << 20;
};

struct TBatchSummary {
  std::size_t Written = 0, Skipped = 0, Failed = 0;
};

// Runs Jobs on Options.Threads threads, each job once, and calls OnJob (never two calls at once)
// as each one finishes. A job's failure is reported and the others go on; nothing is thrown for
// it. Memory stays at what Threads renders at once take, plus the picture cache.
TBatchSummary RunBatch(const std::vector<TBatchJob>& Jobs, const TBatchOptions& Options,
                       const std::function<void(const TBatchReport&)>& OnJob);

}  // namespace quirlon::core
