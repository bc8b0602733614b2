#include "cli/Run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <climits>
#include <stdexcept>

#include "core/Platform.h"
#include "core/Render.h"
#include "core/Slots.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"

namespace quirlon::cli {
namespace {

bool IsHexColour(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (std::size_t i = 1; i < 7; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

raster::TColor HexToTColor(const std::string& text) {
  const unsigned long rgb = std::stoul(text.substr(1), nullptr, 16);
  const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
  return static_cast<raster::TColor>(r | (g << 8) | (b << 16));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

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

// Template number as the window counts, or a display name. FolderText names the folder in the
// message for a number beyond the list.
std::int32_t ResolveTemplate(const std::string& ref, const std::vector<std::string>& templates,
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
    return static_cast<std::int32_t>(number);
  }
  for (std::size_t i = 0; i < templates.size(); ++i)
    if (core::TemplateDisplayName(templates[i]) == ref) return static_cast<std::int32_t>(i + 1);
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

}  // namespace

raster::TColor ParseColourOption(const std::string& option, const std::string& text) {
  if (IsHexColour(text)) return HexToTColor(text);
  try {
    return core::StringToColor(text);
  } catch (const std::exception& e) {
    throw UsageError(option + ": " + e.what());
  }
}

void ApplyOptions(const Options& o, core::TRenderRequest& request) {
  core::TRenderSettings& s = request.Settings;
  for (const auto& [slotName, value] : o.Sources) {
    const int slot = core::SourceSlotIndex(slotName);
    if (slot < 0) {
      std::string known;
      for (const core::TSlotInfo& info : core::kSlots) known += (known.empty() ? "" : ", ") + std::string(info.Option);
      throw UsageError("unknown slot '" + slotName + "' (" + known + ")");
    }
    // An existing file wins; otherwise a colour; otherwise it is taken as a file, so the loader
    // names what is wrong with it.
    if (!FileExists(value) && (IsHexColour(value) || [&] {
          try {
            core::StringToColor(value);
            return true;
          } catch (const std::exception&) {
            return false;
          }
        }())) {
      request.Sources[static_cast<std::size_t>(slot - 1)] =
          core::TSlotSource::OfColour(ParseColourOption("--source", value));
    } else {
      request.Sources[static_cast<std::size_t>(slot - 1)] = core::TSlotSource::OfFile(value);
    }
  }
  request.MaxPicturePixels = std::int64_t{o.MaxMegapixels} * 1000000;
  request.TransparentBackground = o.Transparent;
  request.LargeDiscArea = o.LargeDisc;
  if (o.ReflectionOpacity) s.ReflectionOpacity = static_cast<std::uint8_t>(*o.ReflectionOpacity);
  if (o.ReflectionLength) s.ReflectionLength = static_cast<std::uint8_t>(*o.ReflectionLength);
  if (o.ReflectionBlur) s.ReflectionBlur = static_cast<std::uint8_t>(*o.ReflectionBlur);
  if (o.ReflectionBrightness) s.ReflectionBrightness = *o.ReflectionBrightness;
  if (o.NoFade) s.FadeReflection = false;
  if (o.HideReflections) s.ShowReflection = false;
  if (o.ShadowDensity) s.ShadowDensity = static_cast<std::uint8_t>(*o.ShadowDensity);
  if (o.ShadowColor) s.ShadowColor = ParseColourOption("--shadow-color", *o.ShadowColor);
  if (o.ShadowBlur) s.ShadowBlur = static_cast<std::uint8_t>(*o.ShadowBlur);
  if (o.HideShadows) s.ShowShadow = false;
  if (o.Shading) s.ShadingStrength = static_cast<std::uint8_t>(*o.Shading);
  if (o.ShadingColor) s.ShadingColor = ParseColourOption("--shading-color", *o.ShadingColor);
  if (o.Highlights) s.HighlightStrength = static_cast<std::uint8_t>(*o.Highlights);
  if (o.HighlightColor) s.HighlightColor = ParseColourOption("--highlight-color", *o.HighlightColor);
}

int Run(const Options& o, std::ostream& out, std::ostream& err) {
  (void)err;
  if (o.Help) {
    out << HelpText();
    return 0;
  }
  if (o.Version) {
    out << "quirlon-render 1.0\n";
    return 0;
  }

  std::string templatesFolder = core::ExecutableFolder() + core::kTemplatesFolder;
  std::string customFolder = core::ExecutableFolder() + core::kCustomFolder;
  if (!o.TemplatesDir.empty()) {
    templatesFolder = EnsureSeparator(o.TemplatesDir);
    customFolder = ParentFolder(templatesFolder) + core::kCustomFolder;
  }
  const std::vector<std::string> templates = core::ListTemplates(templatesFolder);
  const std::string folderText = o.TemplatesDir.empty() ? templatesFolder : o.TemplatesDir;
  RequireTemplates(templates, templatesFolder, folderText, !o.TemplatesDir.empty());

  if (o.List) {
    for (std::size_t i = 0; i < templates.size(); ++i)
      out << (i + 1) << '\t' << core::TemplateDisplayName(templates[i]) << '\n';
    return 0;
  }

  core::TRenderRequest request;
  ApplyOptions(o, request);
  request.Template.File =
      templatesFolder + core::TemplateEntry(templates, ResolveTemplate(o.TemplateRef, templates, folderText));
  request.CustomFolder = customFolder;
  request.Width = o.Width;
  request.Height = o.Height;
  if (o.MemoryLimit) request.MemoryBudget = std::min(request.MemoryBudget, *o.MemoryLimit);

  std::unique_ptr<raster::TBitmap32> flat;
  {
    // The layers go before the picture is encoded.
    const core::TRenderResult result = core::ApplyTemplate(request);
    flat = core::Flatten(result, core::TFlattenOptions{.Flip = o.Flip});
  }
  imagefiles::SavePicture(*flat, o.Output, o.Dpi, false);

  if (o.Verbose) {
    static const char* kNames[] = {"BMP", "JPEG", "PNG"};
    out << "wrote " << o.Output << " (" << flat->Width() << " x " << flat->Height() << ", "
        << kNames[imagefiles::OutputFormatOf(o.Output)] << ", " << o.Dpi << " dpi)\n";
  }
  return 0;
}

}  // namespace quirlon::cli
