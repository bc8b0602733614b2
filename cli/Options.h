#pragma once
// Command-line options of quirlon-render. Parsing only: no file is touched here.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quirlon::cli {

struct Options {
  bool help = false;
  bool version = false;
  bool list = false;
  bool verbose = false;
  std::string output;
  std::string templateRef = "1";  // number as the window counts, or display name
  std::string templatesDir;       // empty: "Templates" beside the executable
  int width = 800;
  int height = 600;
  int dpi = 96;
  bool flip = false;
  std::vector<std::pair<std::string, std::string>> sources;  // slot name as given, value
  bool transparent = false;
  bool largeDisc = false;
  std::optional<int> reflectionOpacity, reflectionLength, reflectionBlur, reflectionBrightness;
  bool noFade = false;
  bool hideReflections = false;
  std::optional<int> shadowDensity, shadowBlur;
  std::optional<std::string> shadowColor;
  bool hideShadows = false;
  std::optional<int> shading, highlights;
  std::optional<std::string> shadingColor, highlightColor;
  int maxMegapixels = 50;  // largest source picture, in millions of pixels
  std::optional<std::int64_t> memoryLimit;  // bytes; lowers the machine's budget, never raises it
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
