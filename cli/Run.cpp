#include "cli/Run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "core/JobRunner.h"
#include "core/Platform.h"
#include "core/ProductError.h"
#include "core/ProductJob.h"
#include "core/ProductSection.h"
#include "core/Render.h"
#include "core/Slots.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/SafeFile.h"

namespace quirlon::cli {
namespace {

std::string EnsureSeparator(std::string folder) {
  if (folder.empty()) return std::string(".") + core::kPathSeparator;
  if (folder.back() != core::kPathSeparator) folder.push_back(core::kPathSeparator);
  return folder;
}

// The folder that holds DIR: "custom" is looked up there.
std::string ParentFolder(const std::string& folderWithSeparator) {
  std::string f = folderWithSeparator.substr(0, folderWithSeparator.size() - 1);
  const auto slash = f.find_last_of(core::kPathSeparator);
  if (slash == std::string::npos) return "./";
  return f.substr(0, slash + 1);
}

std::string TemplateCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " template" : " templates");
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind(core::kPathSeparator) + 1); }

bool LooksLikeTemplateFile(const std::string& ref) {
  struct stat info {};
  return ref.find(core::kPathSeparator) != std::string::npos ||
         (::stat(ref.c_str(), &info) == 0 && S_ISREG(info.st_mode));
}

// The file of a template number as the window counts, a display name or a template file.
// FolderText names the folder in the message for a number beyond the list.
std::string ResolveTemplate(const std::string& ref, const std::vector<std::string>& templates,
                            const std::string& folderText) {
  bool digits = !ref.empty();
  for (char c : ref) digits = digits && std::isdigit(static_cast<unsigned char>(c));
  if (digits) {
    const std::size_t first = std::min(ref.find_first_not_of('0'), ref.size());
    const std::string significant = ref.substr(first);
    const long long number = significant.size() > 9 ? LLONG_MAX : (significant.empty() ? 0 : std::stoll(significant));
    if (number < 1 || number > static_cast<long long>(templates.size()))
      throw UsageError("there is no template " + ref + ": the folder \"" + folderText + "\" holds " +
                       TemplateCount(templates.size()) + ", numbered from 1 (see --list)");
    return templates[static_cast<std::size_t>(number - 1)];
  }
  for (const std::string& path : templates)
    if (core::TemplateDisplayName(FileNameOf(path)) == ref) return path;
  if (LooksLikeTemplateFile(ref)) return ref;
  throw UsageError("no template named '" + ref + "' (see --list)");
}

// An empty or missing template folder stops everything, --list included: a usage error for a
// folder given with --templates, an error of the installation (exit status 1) for the one beside
// the executable.
void RequireTemplates(const std::vector<std::string>& templates, const std::string& folder,
                      const std::string& folderText, bool givenByUser) {
  if (!templates.empty()) return;
  struct stat info {};
  std::string what;
  if (::stat(folder.c_str(), &info) != 0) {
    if (errno == ENOTDIR) what = "is not a folder";
    else if (errno == ENOENT) what = "does not exist";
    else what = std::string("cannot be read: ") + std::strerror(errno);
  } else if (::access(folder.c_str(), R_OK | X_OK) != 0) {
    what = std::string("cannot be read: ") + std::strerror(errno);
  } else {
    what = "holds no templates";
  }
  const std::string folderAndWhat = "folder \"" + folderText + "\" " + what;
  if (givenByUser) throw UsageError("template " + folderAndWhat);
  throw std::runtime_error("Template " + folderAndWhat);
}

// The slots' option names ("front,side,top"); a template that cannot be read shows none.
std::vector<std::string> SlotNamesOf(const std::string& file) {
  std::vector<std::string> names;
  try {
    for (int slot : core::TemplateSlots(core::ReadTemplateFile(file))) names.emplace_back(core::FindSlot(slot)->Option);
  } catch (const std::exception&) {
  }
  return names;
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') json += std::string("\\") + c;
    else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      json += escaped;
    } else json += c;
  }
  return json + "\"";
}

void PrintTemplateList(const std::vector<std::string>& templates, bool json, std::ostream& out) {
  if (json) out << "[";
  for (std::size_t i = 0; i < templates.size(); ++i) {
    const std::string name = core::TemplateDisplayName(FileNameOf(templates[i]));
    const std::vector<std::string> slots = SlotNamesOf(templates[i]);
    if (json) {
      out << (i == 0 ? "\n" : ",\n") << "  {\"number\": " << (i + 1) << ", \"name\": " << JsonString(name)
          << ", \"slots\": [";
      for (std::size_t s = 0; s < slots.size(); ++s) out << (s == 0 ? "" : ", ") << JsonString(slots[s]);
      out << "]}";
      continue;
    }
    out << (i + 1) << '\t' << name << '\t';
    for (std::size_t s = 0; s < slots.size(); ++s) out << (s == 0 ? "" : ",") << slots[s];
    out << '\n';
  }
  if (json) out << (templates.empty() ? "]\n" : "\n]\n");
}

// A source given for a slot the template does not show, and a slot it shows left at its default
// colour: both are usually mistakes in the call.
void WarnAboutSlots(const Options& o, const core::TTemplate& shown, std::ostream& err) {
  const std::vector<int> used = core::TemplateSlots(shown);
  const std::string name = core::TemplateDisplayName(FileNameOf(shown.Name));
  std::string defaulted;
  for (const core::TSlotInfo& info : core::kSlots) {
    if (info.Slot == core::TSlot::Background) continue;  // every template has a background
    const bool given = std::any_of(o.JobValues.begin(), o.JobValues.end(),
                                   [&](const auto& value) { return value.first == info.Option; });
    const bool shows = std::find(used.begin(), used.end(), core::SlotNumber(info.Slot)) != used.end();
    if (given && !shows)
      err << "quirlon-render: warning: template \"" << name << "\" does not show " << info.Name << "; --source "
          << info.Option << " is not used\n";
    else if (!given && shows && o.Job.Product.Wrap.empty())
      defaulted += (defaulted.empty() ? "" : ", ") + std::string(info.Option);
  }
  if (!defaulted.empty())
    err << "quirlon-render: warning: template \"" << name << "\" shows " << defaulted
        << " in the default colour (give --source SLOT=FILE|COLOUR)\n";
}

}  // namespace

TTemplateLibrary FindTemplateLibrary(const std::string& givenFolder) {
  TTemplateLibrary library;
  std::string templatesFolder = core::ExecutableFolder() + core::kTemplatesFolder;
  library.CustomFolder = core::ExecutableFolder() + core::kCustomFolder;
  if (!givenFolder.empty()) {
    templatesFolder = EnsureSeparator(givenFolder);
    library.CustomFolder = ParentFolder(templatesFolder) + core::kCustomFolder;
  }
  const std::vector<std::string> bundled = core::ListTemplates(templatesFolder);
  library.FolderText = givenFolder.empty() ? templatesFolder : givenFolder;
  RequireTemplates(bundled, templatesFolder, library.FolderText, !givenFolder.empty());
  // The user's own templates follow the bundled ones, numbered on; a folder given with
  // --templates stands alone.
  library.Templates = core::ListTemplateLibrary(
      templatesFolder, givenFolder.empty() ? core::UserTemplatesFolder() : std::string());
  return library;
}

std::string ResolveTemplate(const std::string& ref, const TTemplateLibrary& library) {
  return ResolveTemplate(ref, library.Templates, library.FolderText);
}

int Run(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.Help) {
    out << HelpText();
    return 0;
  }
  if (o.Version) {
    out << "quirlon-render 1.0\n";
    return 0;
  }
  if (!o.BatchFile.empty()) return RunBatchFile(o, out, err);

  const core::TJob& job = o.Job;
  const TTemplateLibrary library = FindTemplateLibrary(job.TemplatesFolder);
  const std::vector<std::string>& templates = library.Templates;

  if (o.List) {
    PrintTemplateList(templates, o.Json, out);
    return 0;
  }

  core::TJob resolved = job;
  resolved.Request.CustomFolder = library.CustomFolder;
  const std::string templateFile =
      job.Product.Kind.empty() ? ResolveTemplate(job.Template, library) : std::string();
  if (job.Output.ToStandardOutput() && ::isatty(STDOUT_FILENO))
    throw UsageError("-o - writes picture data to standard output, which is a terminal; redirect or pipe it");
  // The picture itself may be on standard output.
  std::ostream& report = job.Output.ToStandardOutput() ? err : out;
  core::TJobOutcome outcome;
  try {
    core::TJobResources resources;
    outcome = core::RenderJob(resolved, templateFile, resources);
  } catch (const core::EBadProductValue& e) {
    throw UsageError(e.what());
  }
  if (!o.Quiet && outcome.Template) WarnAboutSlots(o, *outcome.Template, err);
  if (!o.Quiet)
    for (const core::TArtFit& fit : outcome.MismatchedArt) err << "quirlon-render: warning: " << core::ArtFitWarning(fit) << " (--fit crop|stretch|pad)\n";
  if (o.Verbose && outcome.WroteTemplate) report << "wrote " << job.Product.SaveTemplate << " (template)\n";
  if (o.Verbose && job.Turntable.Frames > 0) {
    report << "wrote " << job.Turntable.Frames << " frames of " << outcome.Width << " x " << outcome.Height << " to "
           << (job.Turntable.FramesFolder.empty() ? job.Output.File : job.Turntable.FramesFolder) << "\n";
    return 0;
  }
  if (o.Verbose && outcome.Width > 0)
    report << "wrote " << (job.Output.ToStandardOutput() ? "standard output" : job.Output.File) << " ("
           << outcome.Width << " x " << outcome.Height << ", "
           << imagefiles::OutputFormatInfo(core::OutputFormatOfJob(job.Output)).Description << ", "
           << job.Output.Dpi << " dpi)\n";
  return 0;
}

}  // namespace quirlon::cli
