// --batch FILE: reads the rows, turns each into a job with the command line's values under it,
// checks them all, and hands the ones of this shard to core::RunBatch; here only what is printed.
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "cli/Run.h"
#include "core/BatchFile.h"
#include "core/JobRunner.h"

namespace quirlon::cli {
namespace {

namespace fs = std::filesystem;

std::string ReadBatchText(const std::string& file) {
  if (file == "-") return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  std::error_code ec;
  if (fs::is_directory(file, ec)) throw std::runtime_error("Cannot read batch file \"" + file + "\": it is a folder");
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read batch file \"" + file + "\"");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("Cannot read batch file \"" + file + "\"");
  return text;
}

std::string RowError(std::int64_t row, const std::string& column, const std::string& message) {
  return "row " + std::to_string(row) + ", column " + column + ": " + message;
}

// The job of Row: the command line's values, then the row's own (an empty cell keeps the value).
core::TBatchJob JobOfRow(const core::TBatchRow& row, const Options& o, const std::string& baseFolder,
                         std::map<std::string, TTemplateLibrary>& libraries) {
  core::TBatchJob batchJob;
  batchJob.Row = row.Number;
  if (!row.Error.empty()) {
    batchJob.Error = row.Error;
    return batchJob;
  }
  core::TJob& job = batchJob.Job;
  std::string column;
  try {
    for (const auto& [key, value] : o.JobValues) core::ApplyJobValue(job, key, value);
    for (const core::TBatchCell& cell : row.Cells) {
      column = cell.Key;
      if (!cell.Value.empty() || core::FindJobKey(cell.Key) == nullptr)
        core::ApplyJobValue(job, cell.Key, cell.Value, baseFolder);
    }
  } catch (const core::EJobValue& e) {
    batchJob.Error = RowError(row.Number, column, e.what());
    return batchJob;
  }
  if (job.Output.File.empty() && job.Product.SaveTemplate.empty()) {
    batchJob.Error = RowError(row.Number, "output", "no output file named");
    return batchJob;
  }
  try {
    auto found = libraries.find(job.TemplatesFolder);
    if (found == libraries.end())
      found = libraries.emplace(job.TemplatesFolder, FindTemplateLibrary(job.TemplatesFolder)).first;
    job.Request.CustomFolder = found->second.CustomFolder;
    if (job.Product.Kind.empty()) batchJob.TemplateFile = ResolveTemplate(job.Template, found->second);
  } catch (const std::exception& e) {
    batchJob.Error = RowError(row.Number, "template", e.what());
  }
  return batchJob;
}

std::string OutputKey(const std::string& file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(file, ec);
  return (ec ? fs::path(file) : absolute).lexically_normal().string();
}

// A second row naming an output already named fails, and so does the first: which of them would
// be left in the file is not for the order of the threads to decide.
void FailDuplicateOutputs(std::vector<core::TBatchJob>& jobs) {
  std::map<std::string, std::size_t> firstOf;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    core::TBatchJob& job = jobs[i];
    if (job.Job.Output.File.empty()) continue;
    const auto [at, isNew] = firstOf.emplace(OutputKey(job.Job.Output.File), i);
    if (isNew) continue;
    core::TBatchJob& first = jobs[at->second];
    auto message = [](const core::TBatchJob& named, const core::TBatchJob& other) {
      return RowError(named.Row, "output",
                      "'" + named.Job.Output.File + "' is also the output of row " + std::to_string(other.Row));
    };
    if (job.Error.empty()) job.Error = message(job, first);
    if (first.Error.empty()) first.Error = message(first, job);
  }
}

std::string DurationText(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// "[#######.............]  12/30  3.4 jobs/s  0:05 left", drawn over itself.
std::string ProgressLine(std::size_t done, std::size_t total, double seconds) {
  constexpr int kBarWidth = 24;
  const int filled = total == 0 ? kBarWidth : static_cast<int>(kBarWidth * done / total);
  std::string line = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                     std::to_string(done) + "/" + std::to_string(total);
  const double rate = seconds > 0 ? done / seconds : 0;
  char tail[64];
  std::snprintf(tail, sizeof tail, "  %.1f jobs/s", rate);
  line += tail;
  if (rate > 0) line += "  " + DurationText((total - done) / rate) + " left";
  return line + "\033[K";
}

}  // namespace

int RunBatchFile(const Options& o, std::ostream& out, std::ostream& err) {
  (void)out;
  const std::string baseFolder = o.BatchFile == "-" ? std::string() : fs::path(o.BatchFile).parent_path().string();
  // Only the jobs of this shard outlive this block: the text, its rows and the other shards' jobs
  // would otherwise hold memory in proportion to the rows for the whole run.
  std::vector<core::TBatchJob> jobs;
  {
    const std::vector<core::TBatchRow> rows = core::ParseBatchText(ReadBatchText(o.BatchFile));
    // Every row is checked, those of other shards too, so that every shard sees the same duplicates.
    std::map<std::string, TTemplateLibrary> libraries;
    std::vector<core::TBatchJob> all;
    all.reserve(rows.size());
    for (const core::TBatchRow& row : rows) all.push_back(JobOfRow(row, o, baseFolder, libraries));
    FailDuplicateOutputs(all);
    for (std::size_t i = 0; i < all.size(); ++i)
      if (static_cast<std::int64_t>(all[i].Row - 1) % o.ShardCount == o.ShardIndex - 1)
        jobs.push_back(std::move(all[i]));
  }
  // Freed blocks go back to the system rather than stay with the allocator for the run.
  ::malloc_trim(0);

  if (o.Strict) {
    std::size_t bad = 0;
    for (const core::TBatchJob& job : jobs)
      if (!job.Error.empty()) {
        err << "quirlon-render: " << job.Error << '\n';
        ++bad;
      }
    if (bad > 0) {
      err << "quirlon-render: " << bad << (bad == 1 ? " row has" : " rows have")
          << " errors; nothing was rendered (--strict)\n";
      return 1;
    }
  }

  const bool showProgress = ::isatty(STDERR_FILENO) == 1;
  const auto start = std::chrono::steady_clock::now();
  core::TBatchOptions options;
  options.Threads = o.Jobs > 0 ? o.Jobs : static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  options.SkipExisting = o.SkipExisting;
  const core::TBatchSummary summary = core::RunBatch(jobs, options, [&](const core::TBatchReport& report) {
    if (report.Outcome == core::TBatchOutcome::Failed) {
      if (showProgress) err << "\r\033[K";
      const std::string& output = report.Job->Job.Output.File;
      // Checking messages already name the row and column.
      if (report.Message.rfind("row ", 0) == 0) err << "quirlon-render: " << report.Message << '\n';
      else
        err << "quirlon-render: row " << report.Job->Row << " (" << (output.empty() ? "no output" : output)
            << "): " << report.Message << '\n';
    }
    if (showProgress) {
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      err << ProgressLine(report.Finished, report.Total, seconds) << std::flush;
    }
  });
  if (showProgress) err << "\r\033[K";
  if (summary.Failed > 0 || showProgress) {
    err << "quirlon-render: " << jobs.size() << (jobs.size() == 1 ? " job: " : " jobs: ") << summary.Written
        << " written, " << summary.Skipped << " skipped, " << summary.Failed << " failed\n";
  }
  return summary.Failed > 0 ? 1 : 0;
}

}  // namespace quirlon::cli
