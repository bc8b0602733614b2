#include "cli/Run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

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

// All of File to descriptor 1, past interruptions and short writes (a pipe takes it in pieces).
void WriteToStandardOutput(const std::vector<std::uint8_t>& File) {
  std::size_t done = 0;
  while (done < File.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, File.data() + done, File.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("Cannot write to standard output. ") + std::strerror(n < 0 ? errno : EIO));
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int Run(const Options& o, std::ostream& out, std::ostream& err) {
  if (o.Help) {
    out << HelpText();
    return 0;
  }
  if (o.Version) {
    out << "quirlon-render 1.0\n";
    return 0;
  }

  const core::TJob& job = o.Job;
  std::string templatesFolder = core::ExecutableFolder() + core::kTemplatesFolder;
  std::string customFolder = core::ExecutableFolder() + core::kCustomFolder;
  if (!job.TemplatesFolder.empty()) {
    templatesFolder = EnsureSeparator(job.TemplatesFolder);
    customFolder = ParentFolder(templatesFolder) + core::kCustomFolder;
  }
  const std::vector<std::string> bundled = core::ListTemplates(templatesFolder);
  const std::string folderText = job.TemplatesFolder.empty() ? templatesFolder : job.TemplatesFolder;
  RequireTemplates(bundled, templatesFolder, folderText, !job.TemplatesFolder.empty());
  // The user's own templates follow the bundled ones, numbered on; a folder given with
  // --templates stands alone.
  const std::vector<std::string> templates = core::ListTemplateLibrary(
      templatesFolder, job.TemplatesFolder.empty() ? core::UserTemplatesFolder() : std::string());

  if (o.List) {
    for (std::size_t i = 0; i < templates.size(); ++i)
      out << (i + 1) << '\t' << core::TemplateDisplayName(FileNameOf(templates[i])) << '\n';
    return 0;
  }

  core::TRenderRequest request = job.Request;
  request.CustomFolder = customFolder;
  imagefiles::TPictureCache pictures;
  request.Pictures = &pictures;
  const core::TProductJob& product = job.Product;
  if (!product.UsesModel()) {
    request.Template.File = ResolveTemplate(job.Template, templates, folderText);
  } else {
    std::optional<core::TProductScene> templateScene;
    if (product.Kind.empty()) {
      request.Template.File = ResolveTemplate(job.Template, templates, folderText);
      const core::TIniFile ini = core::ReadTemplateIni(request.Template.File);
      try {
        templateScene = core::ReadProductSection(ini);
      } catch (const core::EBadProductValue& e) {
        throw std::runtime_error(e.what());  // the file is at fault, not the command
      }
      if (!templateScene)
        throw UsageError("template \"" + request.Template.File +
                         "\" has no [Product] section to turn or resize; name a kind with --product KIND");
    }
    core::TProductTemplate built;
    try {
      built = core::BuildProductTemplate(product, templateScene ? &*templateScene : nullptr, request.Sources,
                                         pictures, request.MaxPicturePixels);
    } catch (const core::EBadProductValue& e) {
      throw UsageError(e.what());
    }
    request.Template.Parsed = built.Template;
    request.Sources = built.Sources;
    if (!product.SaveTemplate.empty()) {
      const std::string text = core::ProductTemplateText(built);
      imagefiles::WriteFileSafely(product.SaveTemplate, text.data(), text.size());
      if (o.Verbose) (job.Output.ToStandardOutput() ? err : out) << "wrote " << product.SaveTemplate << " (template)\n";
    }
    if (job.Output.File.empty()) return 0;
  }

  const imagefiles::TOutputFormat format = OutputFormatOfJob(job.Output);
  if (job.Output.ToStandardOutput() && ::isatty(STDOUT_FILENO))
    throw UsageError("-o - writes picture data to standard output, which is a terminal; redirect or pipe it");

  std::unique_ptr<raster::TBitmap32> flat;
  {
    // The layers go before the picture is encoded.
    const core::TRenderResult result = core::ApplyTemplate(request);
    flat = core::Flatten(result, core::TFlattenOptions{.Flip = job.Output.Flip});
  }
  if (job.Output.ToStandardOutput()) {
    out.flush();
    const std::vector<std::uint8_t> file = imagefiles::EncodePicture(*flat, format, job.Output.SaveOptions());
    WriteToStandardOutput(file);
  } else {
    imagefiles::SavePicture(*flat, job.Output.File, format, job.Output.SaveOptions(), false);
  }

  if (o.Verbose) {
    // The picture itself may be on standard output.
    std::ostream& report = job.Output.ToStandardOutput() ? err : out;
    report << "wrote " << (job.Output.ToStandardOutput() ? "standard output" : job.Output.File) << " ("
           << flat->Width() << " x " << flat->Height() << ", " << imagefiles::OutputFormatInfo(format).Description
           << ", " << job.Output.Dpi << " dpi)\n";
  }
  return 0;
}

}  // namespace quirlon::cli
