#pragma once
// Command-line options of quirlon-render. Parsing only: no file is touched here.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quirlon::cli {

struct Options {
  bool Help = false;
  bool Version = false;
  bool List = false;
  bool Verbose = false;
  std::string Output;
  std::string TemplateRef = "1";  // number as the window counts, or display name
  std::string TemplatesDir;       // empty: "Templates" beside the executable
  int Width = 800;
  int Height = 600;
  int Dpi = 96;
  bool Flip = false;
  std::vector<std::pair<std::string, std::string>> Sources;  // slot name as given, value
  bool Transparent = false;
  bool LargeDisc = false;
  std::optional<int> ReflectionOpacity, ReflectionLength, ReflectionBlur, ReflectionBrightness;
  bool NoFade = false;
  bool HideReflections = false;
  std::optional<int> ShadowDensity, ShadowBlur;
  std::optional<std::string> ShadowColor;
  bool HideShadows = false;
  std::optional<int> Shading, Highlights;
  std::optional<std::string> ShadingColor, HighlightColor;
  int MaxMegapixels = 50;  // largest source picture, in millions of pixels
  std::optional<std::int64_t> MemoryLimit;  // bytes; lowers the machine's budget, never raises it
};

// Thrown for a usage error (exit status 2); the message is one line.
class UsageError : public std::exception {
public:
  explicit UsageError(std::string message) : fMessage(std::move(message)) {}
  const char* what() const noexcept override { return fMessage.c_str(); }

private:
  std::string fMessage;
};

Options ParseOptions(const std::vector<std::string>& args);  // args without the program name
// A size in bytes: digits, optionally followed by K, M, G or T (powers of 1024, either case).
// UsageError naming Option for anything else, for 0 and for sizes beyond int64.
std::int64_t ParseByteSize(const std::string& option, const std::string& text);
std::string HelpText();

}  // namespace quirlon::cli
