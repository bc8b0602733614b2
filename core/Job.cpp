#include "core/Job.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/ProductError.h"
#include "core/CoverWrap.h"
#include "core/ProductKind.h"
#include "core/Template.h"

namespace quirlon::core {

namespace {

std::int32_t NumberValue(const TJobKey& key, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < key.Min || v > key.Max)
    throw EJobValue(std::string(key.Name), " takes a whole number from " + std::to_string(key.Min) + " to " +
                                               std::to_string(key.Max) + ", not '" + text + "'");
  return static_cast<std::int32_t>(v);
}

bool SwitchValue(std::string_view key, const std::string& text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.empty() || lower == "1" || lower == "true" || lower == "yes" || lower == "on") return true;
  if (lower == "0" || lower == "false" || lower == "no" || lower == "off") return false;
  throw EJobValue(std::string(key), " is a switch: on (1, true, yes) or off (0, false, no), not '" + text + "'");
}

bool IsHexColour(const std::string& text) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (std::size_t i = 1; i < 7; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

std::string InFolder(const std::string& file, const std::string& baseFolder) {
  if (baseFolder.empty() || file.empty() || file.front() == '/') return file;
  return baseFolder.back() == '/' ? baseFolder + file : baseFolder + "/" + file;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

const TJobKey& KeyNamed(std::string_view name);

// A product value read by its parser; its complaint is the key's.
template <typename TRead>
auto ProductValue(std::string_view key, TRead read) {
  try {
    return read();
  } catch (const EBadProductValue& e) {
    throw EJobValue(std::string(key), std::string(": ") + e.what());
  }
}

double AngleValue(std::string_view key, const std::string& text) {
  double value = 0;
  if (!ParseNumber(text, value))
    throw EJobValue(std::string(key), " takes an angle in degrees such as -35 or 12.5, not '" + text + "'");
  return value;
}

// Something that exists, links followed, and is neither a regular file nor a folder.
bool IsSpecialFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

// The table's appliers: each finds its own row for the range and the name in messages.
#define QUIRLON_NUMBER(field, key)                                                         \
  [](TJob& j, const std::string& v, const std::string&) {                                  \
    j.field = static_cast<decltype(j.field)>(NumberValue(KeyNamed(key), v));               \
  }
#define QUIRLON_SWITCH(field, key, on) \
  [](TJob& j, const std::string& v, const std::string&) { j.field = SwitchValue(key, v) == on; }
#define QUIRLON_COLOUR(field, key) \
  [](TJob& j, const std::string& v, const std::string&) { j.field = ParseColourValue(key, v); }
#define QUIRLON_SLOT(slot)                                                                \
  [](TJob& j, const std::string& v, const std::string& base) {                            \
    j.Request.Sources[SlotIndex(slot)] = SlotSourceValue(v, base);                        \
  }

const std::string& PresetHelp() {
  static const std::string help = [] {
    std::string text = "a canvas size by name (later --width or --height override it):";
    for (const TCanvasPreset& preset : CanvasPresets()) {
      const std::string size = std::to_string(preset.Width) + " x " + std::to_string(preset.Height);
      text += "\n  " + std::string(preset.Name) + std::string(13 - preset.Name.size(), ' ') + size +
              std::string(12 - size.size(), ' ') + std::string(preset.Use);
    }
    return text;
  }();
  return help;
}

const std::vector<TJobKey>& Table() {
  using K = TJobKeyKind;
  static const std::string kProductHelp =
      "build a product from its dimensions instead of a template:\n" + ProductKindNames();
  static const std::vector<TJobKey> keys = {
      {"output", K::File, "FILE", "", "picture to write", 0, 0,
       [](TJob& j, const std::string& v, const std::string& base) {
         if (v.empty()) throw EJobValue("output", " needs a file name");
         j.Output.File = v == "-" ? v : InFolder(v, base);
       }},
      {"template", K::Text, "N|NAME|FILE", "",
       "template number (as the window counts), display name or a\ntemplate file (default 1)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) { j.Template = v; }},
      {"templates", K::Folder, "DIR", "",
       "template folder (default: Templates beside the executable);\n\"custom\" is looked up beside that folder", 0, 0,
       [](TJob& j, const std::string& v, const std::string& base) { j.TemplatesFolder = InFolder(v, base); }},
      {"width", K::Number, "N", "", "canvas width, 32..8192 (default 800; with only --height given,\nfrom the template's proportions)", 32, kMaxJobCanvasSide,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Request.Width = NumberValue(KeyNamed("width"), v);
         j.WidthGiven = true;
       }},
      {"height", K::Number, "N", "", "canvas height, 32..8192 (default 600; with only --width given,\nfrom the template's proportions)", 32, kMaxJobCanvasSide,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Request.Height = NumberValue(KeyNamed("height"), v);
         j.HeightGiven = true;
       }},
      {"preset", K::Text, "NAME", "", PresetHelp(), 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         for (const TCanvasPreset& preset : CanvasPresets())
           if (preset.Name == v) {
             j.Request.Width = preset.Width;
             j.Request.Height = preset.Height;
             j.WidthGiven = j.HeightGiven = true;
             return;
           }
         std::string names;
         for (const TCanvasPreset& preset : CanvasPresets()) names += (names.empty() ? "" : ", ") + std::string(preset.Name);
         throw EJobValue("preset", " takes one of " + names + ", not '" + v + "'");
       }},
      {"format", K::Text, "FORMAT", "", "png, jpeg, webp, bmp or tiff: the format for -o - (default png);\nwith a file name it must match the name's extension", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         const imagefiles::TOutputFormatInfo* format = imagefiles::FindOutputFormatNamed(v);
         if (format == nullptr)
           throw EJobValue("format", " takes " + imagefiles::OutputFormatNameList() + ", not '" + v + "'");
         j.Output.Format = format->Format;
       }},
      {"dpi", K::Number, "N", "", "resolution stored in the file, 60..600 (default 96)", 60, 600,
       QUIRLON_NUMBER(Output.Dpi, "dpi")},
      {"quality", K::Number, "N", "", "JPEG and WebP quality, 1..100 (default 90)", 1, 100,
       QUIRLON_NUMBER(Output.Quality, "quality")},
      {"png-effort", K::Text, "EFFORT", "",
       "PNG compression: fast (about a tenth larger), default (never\nlarger than zlib's best) or small (smallest, slowest)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         if (v == "fast") j.Output.PngEffort = imagefiles::TPngEffort::Fast;
         else if (v == "default") j.Output.PngEffort = imagefiles::TPngEffort::Default;
         else if (v == "small") j.Output.PngEffort = imagefiles::TPngEffort::Small;
         else throw EJobValue("png-effort", " takes fast, default or small, not '" + v + "'");
       }},
      {"lossless", K::Switch, "", "", "WebP without loss (every pixel exact)", 0, 0,
       QUIRLON_SWITCH(Output.Lossless, "lossless", true)},
      {"flip", K::Switch, "", "", "mirror the picture left to right", 0, 0, QUIRLON_SWITCH(Output.Flip, "flip", true)},
      {"transparent", K::Switch, "", "", "no background: transparent where no layer draws", 0, 0,
       QUIRLON_SWITCH(Request.TransparentBackground, "transparent", true)},
      {"large-disc", K::Switch, "", "", "the large-area disc artwork", 0, 0,
       QUIRLON_SWITCH(Request.LargeDiscArea, "large-disc", true)},
      {"max-megapixels", K::Number, "N",
       "", "largest source picture loaded, in millions of pixels, 1..128\n(default 50); larger pictures are refused", 1,
       128,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Request.MaxPicturePixels = std::int64_t{NumberValue(KeyNamed("max-megapixels"), v)} * 1000000;
       }},
      {"memory-limit", K::Size, "SIZE", "",
       "the most memory the render's layers may take, in bytes or with\nK, M, G or T (1024-based), e.g. 2G; at most, "
       "and by default,\nhalf of the machine's memory",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Request.MemoryBudget = std::min(MachineMemoryBudget(), ParseByteSize("memory-limit", v));
       }},
      {"sampling", K::Text, "smooth|exact", "",
       "how face pictures are sampled: smooth (filtered, the default) or\nexact (nearest pixel, as earlier versions drew them)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         if (!TextToSampling(v, j.Request.Settings.Sampling))
           throw EJobValue("sampling", " takes smooth or exact, not '" + v + "'");
       }},
      {"fit", K::Text, "crop|stretch|pad", "",
       "how a picture of other proportions than its face fits it: crop\n(a centred part of the face's shape), stretch "
       "(all of it, distorted)\nor pad (all of it, bordered in its edge colour); default crop,\nstretch with --sampling exact",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         if (v == "auto" || !TextToFitMode(v, j.Request.Settings.Fit))
           throw EJobValue("fit", " takes crop, stretch or pad, not '" + v + "'");
       }},
      {"safe-margin", K::Percent, "PERCENT", "",
       "how far each picture reaches past every edge of its face, in percent\nof the face, 0..10 (default 2.5): the edge "
       "cut takes that much away,\nso titles belong inside it",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         double margin = 0;
         if (!ParseNumber(v, margin) || !(margin >= 0) || margin > kMaxSafeMargin)
           throw EJobValue("safe-margin", " takes a percentage from 0 to 10 such as 2.5, not '" + v + "'");
         j.Request.Settings.SafeMargin = margin;
       }},
      {"background", K::Source, "FILE|COLOUR", "Sources", "the picture or colour behind the product", 0, 0,
       QUIRLON_SLOT(TSlot::Background)},
      {"front", K::Source, "FILE|COLOUR", "Sources", "front of the (first) product", 0, 0, QUIRLON_SLOT(TSlot::Front)},
      {"side", K::Source, "FILE|COLOUR", "Sources", "side or spine of the (first) product", 0, 0,
       QUIRLON_SLOT(TSlot::Side)},
      {"top", K::Source, "FILE|COLOUR", "Sources", "top of the (first) product", 0, 0, QUIRLON_SLOT(TSlot::Top)},
      {"disc", K::Source, "FILE|COLOUR", "Sources", "label of the (first) disc", 0, 0, QUIRLON_SLOT(TSlot::Disc)},
      {"front2", K::Source, "FILE|COLOUR", "Sources", "front of the second product", 0, 0, QUIRLON_SLOT(TSlot::Front2)},
      {"side2", K::Source, "FILE|COLOUR", "Sources", "side of the second product", 0, 0, QUIRLON_SLOT(TSlot::Side2)},
      {"top2", K::Source, "FILE|COLOUR", "Sources", "top of the second product", 0, 0, QUIRLON_SLOT(TSlot::Top2)},
      {"disc2", K::Source, "FILE|COLOUR", "Sources", "label of the second disc", 0, 0, QUIRLON_SLOT(TSlot::Disc2)},
      {"reflection-opacity", K::Number, "N", "Reflection", "0..255 (default 255)", 0, 255,
       QUIRLON_NUMBER(Request.Settings.ReflectionOpacity, "reflection-opacity")},
      {"reflection-length", K::Number, "N", "Reflection", "1..100 (default 50)", 1, 100,
       QUIRLON_NUMBER(Request.Settings.ReflectionLength, "reflection-length")},
      {"reflection-blur", K::Number, "N", "Reflection", "0..100 (default 15)", 0, 100,
       QUIRLON_NUMBER(Request.Settings.ReflectionBlur, "reflection-blur")},
      {"reflection-brightness", K::Number, "N", "Reflection", "-50..50 (default 0)", -50, 50,
       QUIRLON_NUMBER(Request.Settings.ReflectionBrightness, "reflection-brightness")},
      {"no-fade", K::Switch, "", "Reflection", "do not fade reflections", 0, 0,
       QUIRLON_SWITCH(Request.Settings.FadeReflection, "no-fade", false)},
      {"hide-reflections", K::Switch, "", "Reflection", "leave the reflections out", 0, 0,
       QUIRLON_SWITCH(Request.Settings.ShowReflection, "hide-reflections", false)},
      {"shadow-density", K::Number, "N", "Shadow", "0..255 (default 255)", 0, 255,
       QUIRLON_NUMBER(Request.Settings.ShadowDensity, "shadow-density")},
      {"shadow-color", K::Colour, "COLOUR", "Shadow", "(default black)", 0, 0,
       QUIRLON_COLOUR(Request.Settings.ShadowColor, "shadow-color")},
      {"shadow-blur", K::Number, "N", "Shadow", "0..100 (default 25)", 0, 100,
       QUIRLON_NUMBER(Request.Settings.ShadowBlur, "shadow-blur")},
      {"hide-shadows", K::Switch, "", "Shadow", "leave the shadows out", 0, 0,
       QUIRLON_SWITCH(Request.Settings.ShowShadow, "hide-shadows", false)},
      {"shading", K::Number, "N", "Object", "shading strength 0..255 (default 255)", 0, 255,
       QUIRLON_NUMBER(Request.Settings.ShadingStrength, "shading")},
      {"shading-color", K::Colour, "COLOUR", "Object", "(default black)", 0, 0,
       QUIRLON_COLOUR(Request.Settings.ShadingColor, "shading-color")},
      {"highlights", K::Number, "N", "Object", "highlight strength 0..255 (default 255)", 0, 255,
       QUIRLON_NUMBER(Request.Settings.HighlightStrength, "highlights")},
      {"highlight-color", K::Colour, "COLOUR", "Object", "(default white)", 0, 0,
       QUIRLON_COLOUR(Request.Settings.HighlightColor, "highlight-color")},
      {"product", K::Text, "KIND", "Product", kProductHelp, 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         if (FindProductKind(v) == nullptr)
           throw EJobValue("product", " takes one of " + ProductKindNames() + ", not '" + v + "'");
         j.Product.Kind = v;
       }},
      {"size", K::Size, "WxHxD[mm|in]", "Product",
       "front width x height x depth (spine), or WxH with --pages or --spine;\nmillimetres unless \"in\" follows",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Product.Size = ProductValue("size", [&] { return ParseProductSize(v); });
       }},
      {"pages", K::Number, "N", "Product", "a book's page count, 2..2000: gives its spine", kMinPages, kMaxPages,
       QUIRLON_NUMBER(Product.Pages, "pages")},
      {"paper", K::Text, "white|cream", "Product", "the paper of --pages: 0.0572 or 0.0635 mm a page (default white)",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Product.Paper = ProductValue("paper", [&] { return ParsePaper(v); });
       }},
      {"spine", K::Length, "LEN", "Product", "the spine (depth) in mm or in, 0.5..1000 mm", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Product.Spine = ProductValue("spine", [&] { return ParseLength(v, "Spine", kMinDepth, kMaxDepth); });
       }},
      {"yaw", K::Angle, "DEG", "Product",
       "turn the camera round the product; positive shows its left side\n(default: the product's usual view); also "
       "on a template with a\n[Product] section",
       0, 0, [](TJob& j, const std::string& v, const std::string&) { j.Product.Yaw = AngleValue("yaw", v); }},
      {"pitch", K::Angle, "DEG", "Product", "look down on the product, 0..40 degrees; also on a template\nwith a "
       "[Product] section", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) { j.Product.Pitch = AngleValue("pitch", v); }},
      {"fit-art", K::Switch, "", "Product",
       "the front takes the FRONT picture's proportions, the spine the\nSIDE picture's (the default with --product "
       "and no --size)", 0, 0, QUIRLON_SWITCH(Product.FitArt, "fit-art", true)},
      {"wrap", K::File, "FILE", "Product",
       "a full cover wrap (back | spine | front with bleed) split into\nthe back cover, SIDE and FRONT", 0, 0,
       [](TJob& j, const std::string& v, const std::string& base) {
         if (v.empty()) throw EJobValue("wrap", " needs a file name");
         j.Product.Wrap = InFolder(v, base);
       }},
      {"trim", K::Size, "WxH[mm|in]", "Product", "one cover of the wrap as trimmed (default: --size)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Product.Trim = ProductValue("trim", [&] {
           const TProductSize trim = ParseProductSize(v);
           if (trim.Depth != 0) throw EBadProductValue("Trim \"" + v + "\" has a depth: give WxH");
           return trim;
         });
       }},
      {"bleed", K::Length, "LEN", "Product", "the wrap's bleed all round, 0..25 mm (default 0.125in)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         j.Product.Bleed = ProductValue("bleed", [&] { return ParseLength(v, "Bleed", 0, kMaxBleed); });
       }},
      {"save-template", K::File, "FILE", "Product",
       "write the product as a template file (with its [Product] section);\n-o is then optional", 0, 0,
       [](TJob& j, const std::string& v, const std::string& base) {
         if (v.empty()) throw EJobValue("save-template", " needs a file name");
         j.Product.SaveTemplate = InFolder(v, base);
       }},
      {"turntable", K::Number, "N", "Turntable",
       "render N frames of the camera going once round the product (a\n--product or a template with a [Product] "
       "section) into an animated\n.webp, .png (APNG) or .gif by -o's extension, or --frames DIR",
       1, kMaxTurntableFrames, QUIRLON_NUMBER(Turntable.Frames, "turntable")},
      {"yaw-range", K::Text, "A:B", "Turntable",
       "the turn's yaw from A to B degrees (default -180:180, a whole turn;\nless is a swing that shows both ends)",
       0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         ParseYawRange(v, j.Turntable.YawFrom, j.Turntable.YawTo);
         j.Turntable.YawRangeGiven = true;
       }},
      {"dither", K::Text, "none|ordered|fs", "Turntable",
       "how a GIF animation's 256 colours a frame mix: none (default),\nordered (a steady pattern) or fs "
       "(Floyd-Steinberg error diffusion)", 0, 0,
       [](TJob& j, const std::string& v, const std::string&) {
         if (v == "none") j.Output.Dither = imagefiles::TDither::None;
         else if (v == "ordered") j.Output.Dither = imagefiles::TDither::Ordered;
         else if (v == "fs") j.Output.Dither = imagefiles::TDither::FloydSteinberg;
         else throw EJobValue("dither", " takes none, ordered or fs, not '" + v + "'");
       }},
      {"fps", K::Number, "N", "Turntable", "frames a second, 1..100 (default 24)", 1, 100,
       QUIRLON_NUMBER(Turntable.Fps, "fps")},
      {"loop", K::Number, "N", "Turntable", "times the animation plays, 0..65535 (default 0: for ever)", 0, 65535,
       QUIRLON_NUMBER(Turntable.Loop, "loop")},
      {"frames", K::Folder, "DIR", "Turntable",
       "write the frames as DIR/frame-000.png, frame-001.png, ... instead\nof one animation (-o is then optional)",
       0, 0,
       [](TJob& j, const std::string& v, const std::string& base) {
         if (v.empty()) throw EJobValue("frames", " needs a folder name");
         j.Turntable.FramesFolder = InFolder(v, base);
       }},
  };
  return keys;
}

#undef QUIRLON_NUMBER
#undef QUIRLON_SWITCH
#undef QUIRLON_COLOUR
#undef QUIRLON_SLOT

const TJobKey& KeyNamed(std::string_view name) { return *FindJobKey(name); }

}  // namespace

double TTurntableJob::YawOf(std::int32_t Index) const {
  if (Frames <= 1) return YawFrom;
  const double steps = WholeTurn() ? Frames : Frames - 1;
  return YawFrom + (YawTo - YawFrom) * Index / steps;
}

void ParseYawRange(const std::string& Text, double& From, double& To) {
  const auto bad = [&](const std::string& why) {
    return EJobValue("yaw-range", " takes A:B in degrees, " + why + ", not '" + Text + "'");
  };
  const std::size_t colon = Text.find(':');
  double a = 0, b = 0;
  if (colon == std::string::npos || !ParseNumber(Text.substr(0, colon), a) || !ParseNumber(Text.substr(colon + 1), b))
    throw bad("such as -180:180 or -40:40");
  if (!(a >= -360 && b <= 360)) throw bad("each from -360 to 360");
  if (!(b > a)) throw bad("B greater than A");
  if (b - a > 360) throw bad("at most one turn (B - A <= 360)");
  From = a;
  To = b;
}

const std::vector<TCanvasPreset>& CanvasPresets() {
  static const std::vector<TCanvasPreset> presets = {
      {"square-post", 1080, 1080, "square social post"},
      {"story", 1080, 1920, "portrait story or reel"},
      {"link-preview", 1200, 630, "link preview card"},
      {"store", 2000, 2000, "store product image"},
      {"print", 4800, 3600, "print, 16 x 12 in at 300 dpi"},
  };
  return presets;
}

void FitCanvasToTemplate(TJob& Job, std::int32_t TemplateWidth, std::int32_t TemplateHeight) {
  if (Job.WidthGiven == Job.HeightGiven || TemplateWidth <= 0 || TemplateHeight <= 0) return;
  auto scaled = [](std::int32_t side, std::int32_t to, std::int32_t from) {
    const std::int64_t v = (std::int64_t{side} * to * 2 + from) / (std::int64_t{from} * 2);  // nearest, half up
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 32, kMaxJobCanvasSide));
  };
  if (Job.WidthGiven) Job.Request.Height = scaled(Job.Request.Width, TemplateHeight, TemplateWidth);
  else Job.Request.Width = scaled(Job.Request.Height, TemplateWidth, TemplateHeight);
}

const std::vector<TJobKey>& JobKeys() { return Table(); }

const TJobKey* FindJobKey(std::string_view Name) {
  for (const TJobKey& key : Table())
    if (key.Name == Name) return &key;
  return nullptr;
}

void ApplyJobValue(TJob& Job, std::string_view Key, const std::string& Value, const std::string& BaseFolder) {
  const TJobKey* key = FindJobKey(Key);
  if (key == nullptr) throw EJobValue(std::string(Key), " is not a known key");
  key->Apply(Job, Value, BaseFolder);
}

imagefiles::TOutputFormat OutputFormatOfJob(const TJobOutput& Output) {
  using imagefiles::OutputFormatInfo;
  if (Output.ToStandardOutput()) return Output.Format.value_or(imagefiles::TOutputFormat::Png);
  const std::optional<imagefiles::TOutputFormat> byName = imagefiles::OutputFormatOf(Output.File);
  const std::string ext = imagefiles::OutputExtension(Output.File);
  // A name without an extension cannot be mislabelled by a named format, nor can a device or a FIFO
  // (/dev/stdout, a pipe), which is written through and has no name to speak of.
  if (ext.empty() && (Output.Format || IsSpecialFile(Output.File)))
    return Output.Format.value_or(imagefiles::TOutputFormat::Png);
  if (!byName) {
    throw EJobValue("output", std::string(": cannot tell the picture format from '") + Output.File + "' (" +
                                  (ext.empty() ? std::string("no extension") : "unknown extension " + ext) +
                                  "); use one of " + imagefiles::OutputExtensionList() + ", or - for standard output");
  }
  if (Output.Format && *Output.Format != *byName)
    throw EJobValue("format", " " + std::string(OutputFormatInfo(*Output.Format).Name) + " does not match '" +
                                  Output.File + "', which names " +
                                  std::string(OutputFormatInfo(*byName).Description));
  return *byName;
}

raster::TColor ParseColourValue(std::string_view Key, const std::string& Text) {
  if (IsHexColour(Text)) {
    const unsigned long rgb = std::stoul(Text.substr(1), nullptr, 16);
    const unsigned r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    return static_cast<raster::TColor>(r | (g << 8) | (b << 16));
  }
  try {
    return StringToColor(Text);
  } catch (const std::exception& e) {
    throw EJobValue(std::string(Key), std::string(": ") + e.what());
  }
}

TSlotSource SlotSourceValue(const std::string& Value, const std::string& BaseFolder) {
  const std::string file = InFolder(Value, BaseFolder);
  if (!Exists(file)) {
    if (IsHexColour(Value)) return TSlotSource::OfColour(ParseColourValue("", Value));
    try {
      return TSlotSource::OfColour(StringToColor(Value));
    } catch (const std::exception&) {
      // Neither: a file after all, whose loader says what is wrong.
    }
  }
  return TSlotSource::OfFile(file);
}

std::int32_t ParseWholeNumber(std::string_view Key, const std::string& Text, std::int32_t Min, std::int32_t Max) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(Text.c_str(), &end, 10);
  if (Text.empty() || *end != '\0' || errno == ERANGE || v < Min || v > Max)
    throw EJobValue(std::string(Key), " takes a whole number from " + std::to_string(Min) + " to " +
                                          std::to_string(Max) + ", not '" + Text + "'");
  return static_cast<std::int32_t>(v);
}

std::int64_t ParseByteSize(std::string_view Key, const std::string& Text) {
  auto refuse = [&]() -> std::int64_t {
    throw EJobValue(std::string(Key),
                    " takes a size in bytes, or with K, M, G or T (1024-based) such as 512M or 2G, not '" + Text + "'");
  };
  std::size_t i = 0;
  std::int64_t value = 0;
  for (; i < Text.size() && Text[i] >= '0' && Text[i] <= '9'; ++i) {
    const int digit = Text[i] - '0';
    if (value > (INT64_MAX - digit) / 10) return refuse();
    value = value * 10 + digit;
  }
  if (i == 0) return refuse();
  int shift = 0;
  if (i + 1 == Text.size()) {
    switch (Text[i]) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      case 't': case 'T': shift = 40; break;
      default: return refuse();
    }
  } else if (i != Text.size()) {
    return refuse();
  }
  if (value == 0 || value > (INT64_MAX >> shift)) return refuse();
  return value << shift;
}

}  // namespace quirlon::core
