#include "cli/Options.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>

#include "imagefiles/Picture.h"

namespace quirlon::cli {
namespace {

int ParseRanged(const std::string& option, const std::string& text, int lo, int hi) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < lo || v > hi)
    throw UsageError(option + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not '" + text + "'");
  return static_cast<int>(v);
}

}  // namespace

std::int64_t ParseByteSize(const std::string& option, const std::string& text) {
  auto refuse = [&]() -> std::int64_t {
    throw UsageError(option + " takes a size in bytes, or with K, M, G or T (1024-based) such as 512M or 2G, not '" +
                     text + "'");
  };
  std::size_t i = 0;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const int digit = text[i] - '0';
    if (value > (INT64_MAX - digit) / 10) return refuse();
    value = value * 10 + digit;
  }
  if (i == 0) return refuse();
  int shift = 0;
  if (i + 1 == text.size()) {
    switch (text[i]) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      case 't': case 'T': shift = 40; break;
      default: return refuse();
    }
  } else if (i != text.size()) {
    return refuse();
  }
  if (value == 0 || value > (INT64_MAX >> shift)) return refuse();
  return value << shift;
}

namespace {

struct Spec {
  bool takesValue;
  std::function<void(Options&, const std::string& name, const std::string& value)> apply;
};

const std::map<std::string, Spec>& Table() {
  static const std::map<std::string, Spec> table = {
      {"--help", {false, [](Options& o, auto&, auto&) { o.Help = true; }}},
      {"--version", {false, [](Options& o, auto&, auto&) { o.Version = true; }}},
      {"--list", {false, [](Options& o, auto&, auto&) { o.List = true; }}},
      {"--verbose", {false, [](Options& o, auto&, auto&) { o.Verbose = true; }}},
      {"--output", {true, [](Options& o, auto&, auto& v) { o.Output = v; }}},
      {"--template", {true, [](Options& o, auto&, auto& v) { o.TemplateRef = v; }}},
      {"--templates", {true, [](Options& o, auto&, auto& v) { o.TemplatesDir = v; }}},
      {"--width", {true, [](Options& o, auto& n, auto& v) { o.Width = ParseRanged(n, v, 32, 2048); }}},
      {"--height", {true, [](Options& o, auto& n, auto& v) { o.Height = ParseRanged(n, v, 32, 2048); }}},
      {"--dpi", {true, [](Options& o, auto& n, auto& v) { o.Dpi = ParseRanged(n, v, 60, 600); }}},
      {"--flip", {false, [](Options& o, auto&, auto&) { o.Flip = true; }}},
      {"--source",
       {true,
        [](Options& o, auto& n, auto& v) {
          const auto eq = v.find('=');
          if (eq == std::string::npos || eq == 0 || eq + 1 == v.size())
            throw UsageError(n + " takes SLOT=VALUE, not '" + v + "'");
          o.Sources.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        }}},
      {"--transparent", {false, [](Options& o, auto&, auto&) { o.Transparent = true; }}},
      {"--large-disc", {false, [](Options& o, auto&, auto&) { o.LargeDisc = true; }}},
      {"--max-megapixels",
       {true, [](Options& o, auto& n, auto& v) { o.MaxMegapixels = ParseRanged(n, v, 1, 128); }}},
      {"--reflection-opacity",
       {true, [](Options& o, auto& n, auto& v) { o.ReflectionOpacity = ParseRanged(n, v, 0, 255); }}},
      {"--reflection-length",
       {true, [](Options& o, auto& n, auto& v) { o.ReflectionLength = ParseRanged(n, v, 1, 100); }}},
      {"--reflection-blur", {true, [](Options& o, auto& n, auto& v) { o.ReflectionBlur = ParseRanged(n, v, 0, 100); }}},
      {"--reflection-brightness",
       {true, [](Options& o, auto& n, auto& v) { o.ReflectionBrightness = ParseRanged(n, v, -50, 50); }}},
      {"--no-fade", {false, [](Options& o, auto&, auto&) { o.NoFade = true; }}},
      {"--hide-reflections", {false, [](Options& o, auto&, auto&) { o.HideReflections = true; }}},
      {"--shadow-density", {true, [](Options& o, auto& n, auto& v) { o.ShadowDensity = ParseRanged(n, v, 0, 255); }}},
      {"--shadow-color", {true, [](Options& o, auto&, auto& v) { o.ShadowColor = v; }}},
      {"--shadow-blur", {true, [](Options& o, auto& n, auto& v) { o.ShadowBlur = ParseRanged(n, v, 0, 100); }}},
      {"--hide-shadows", {false, [](Options& o, auto&, auto&) { o.HideShadows = true; }}},
      {"--shading", {true, [](Options& o, auto& n, auto& v) { o.Shading = ParseRanged(n, v, 0, 255); }}},
      {"--shading-color", {true, [](Options& o, auto&, auto& v) { o.ShadingColor = v; }}},
      {"--highlights", {true, [](Options& o, auto& n, auto& v) { o.Highlights = ParseRanged(n, v, 0, 255); }}},
      {"--highlight-color", {true, [](Options& o, auto&, auto& v) { o.HighlightColor = v; }}},
      {"--memory-limit", {true, [](Options& o, auto& n, auto& v) { o.MemoryLimit = ParseByteSize(n, v); }}},
  };
  return table;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  bool sawOutput = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (name == "-o") name = "--output";
    else if (name == "-t") name = "--template";
    else if (name == "-h") name = "--help";
    else if (name.rfind("--", 0) == 0) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    } else {
      throw UsageError("unexpected argument '" + name + "' (see --help)");
    }
    const auto it = Table().find(name);
    if (it == Table().end()) throw UsageError("unknown option '" + name + "' (see --help)");
    if (it->second.takesValue && !inlineValue) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    } else if (!it->second.takesValue && inlineValue) {
      throw UsageError(name + " takes no value");
    }
    it->second.apply(o, name, value);
    if (name == "--output") sawOutput = true;
  }
  if (!o.Help && !o.Version && !o.List && !sawOutput) throw UsageError("-o FILE is required (see --help)");
  if (sawOutput && o.Output.empty()) throw UsageError("--output needs a file name");
  return o;
}

std::string HelpText() {
  return R"(Usage: quirlon-render -o FILE [options]
Renders a box shot from a template and saves it as PNG, JPEG or BMP.

  -o, --output FILE            picture to write; .png gives PNG, .jpg JPEG, anything else BMP;
                               a device, a FIFO or /dev/stdout is written to, never replaced
  -t, --template N|NAME        template number (as the window counts) or display name (default 1)
      --templates DIR          template folder (default: Templates beside the executable);
                               "custom" is looked up beside that folder
      --width N                canvas width, 32..2048 (default 800)
      --height N               canvas height, 32..2048 (default 600)
      --dpi N                  resolution stored in the file, 60..600 (default 96)
      --flip                   mirror the picture left to right
      --source SLOT=VALUE      picture file or colour for a slot (repeatable); SLOT is one of
                               background, front, side, top, disc, front2, side2, top2, disc2;
                               VALUE is a file, "#RRGGBB" or a colour text such as clRed or $0000FF
      --transparent            no background: transparent where no layer draws
      --large-disc             the large-area disc artwork
      --max-megapixels N       largest source picture loaded, in millions of pixels, 1..128
                               (default 50); larger pictures are refused

Reflection:
      --reflection-opacity N   0..255 (default 255)
      --reflection-length N    1..100 (default 50)
      --reflection-blur N      0..100 (default 15)
      --reflection-brightness N  -50..50 (default 0)
      --no-fade                do not fade reflections
      --hide-reflections       leave the reflections out
Shadow:
      --shadow-density N       0..255 (default 255)
      --shadow-color COLOUR    (default black)
      --shadow-blur N          0..100 (default 25)
      --hide-shadows           leave the shadows out
Object:
      --shading N              shading strength 0..255 (default 255)
      --shading-color COLOUR   (default black)
      --highlights N           highlight strength 0..255 (default 255)
      --highlight-color COLOUR (default white)

      --memory-limit SIZE      the most memory the render's layers may take, in bytes or with
                               K, M, G or T (1024-based), e.g. 2G; at most, and by default,
                               half of the machine's memory
      --list                   print "N<TAB>display name" for every template and exit
      --verbose                say what was written
      --version                print the version and exit
  -h, --help                   print this help and exit

Exit status: 0 success, 1 rendering, loading or saving failed, 2 usage error.
)";
}

}  // namespace quirlon::cli
