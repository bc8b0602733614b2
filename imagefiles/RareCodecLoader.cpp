// The program's side of the codec module (see rare/RareCodecs.h): finds and loads it on the first
// picture that needs it, and turns its outcomes back into the errors every decoder throws.
#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/Decoders.h"
#include "imagefiles/rare/RareCodecs.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

namespace fs = std::filesystem;

// Installed, the module sits beside the programs; in the build tree, where the programs and the
// tests live in several folders, the build says where it made it.
std::vector<fs::path> ModuleCandidates() {
  std::vector<fs::path> list;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) list.push_back(self.parent_path() / kRareCodecModuleFile);
#ifdef QUIRLON_RARE_CODECS_BUILT
  list.emplace_back(QUIRLON_RARE_CODECS_BUILT);
#endif
  return list;
}

struct TLoadedModule {
  const TRareCodecModule* Module = nullptr;
  std::string Failure;  // why it could not be loaded
};

TLoadedModule LoadModule() {
  TLoadedModule loaded;
  std::string tried;
  for (const fs::path& path : ModuleCandidates()) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) continue;
    // Never unloaded: the libraries it starts keep process-long state of their own.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      tried += std::string(tried.empty() ? "" : "; ") + (why ? why : path.string());
      continue;
    }
    const auto entry = reinterpret_cast<TRareCodecModuleEntry>(::dlsym(handle, kRareCodecModuleEntry));
    const TRareCodecModule* module = entry ? entry(RoutedMagickCoders()) : nullptr;
    if (!module || module->Version != kRareCodecModuleVersion) {
      tried += std::string(tried.empty() ? "" : "; ") + path.string() + " is from another build";
      continue;
    }
    loaded.Module = module;
    return loaded;
  }
  loaded.Failure = Format("The codec module %s could not be loaded (%s)", kRareCodecModuleFile,
                          tried.empty() ? "it is not installed beside the program" : tried.c_str());
  return loaded;
}

const TLoadedModule& Module() {
  static const TLoadedModule loaded = LoadModule();
  return loaded;
}

TGraphic Run(TRareDecode& Call, const std::string& FormatName) {
  const TLoadedModule& loaded = Module();
  if (!loaded.Module) Refuse(loaded.Failure, Format(kInvalidImageFormat, FormatName.c_str()));
  Call.MaxPixels = DecodePixelLimit();
  loaded.Module->Decode(Call);
  switch (Call.Outcome) {
    case TRareDecode::TOutcome::Decoded: return std::move(Call.Result);
    case TRareDecode::TOutcome::Invalid: throw EInvalidGraphic(Call.Message);
    case TRareDecode::TOutcome::OutOfMemory: throw std::bad_alloc();
    case TRareDecode::TOutcome::Failed: break;
  }
  Refuse(Call.Message, Format(kInvalidImageFormat, FormatName.c_str()));
}

TGraphic RunCodec(TRareCodec Codec, std::span<const std::uint8_t> Data, const std::string& FormatName) {
  TRareDecode call;
  call.Codec = Codec;
  call.Data = Data;
  return Run(call, FormatName);
}

}  // namespace

TGraphic DecodeHeif(std::span<const std::uint8_t> Data) { return RunCodec(TRareCodec::Heif, Data, "HEIF"); }
TGraphic DecodeSvg(std::span<const std::uint8_t> Data) { return RunCodec(TRareCodec::Svg, Data, "SVG"); }
TGraphic DecodePdf(std::span<const std::uint8_t> Data) { return RunCodec(TRareCodec::Pdf, Data, "PDF"); }

TGraphic DecodeMagick(std::span<const std::uint8_t> Data, const std::string& Format, const std::string& Description,
                      TPictureKind Kind) {
  TRareDecode call;
  call.Codec = TRareCodec::Magick;
  call.Data = Data;
  call.MagickFormat = Format;
  call.Description = Description;
  call.Kind = Kind;
  return Run(call, Format);
}

bool MagickMayRead(const std::string& Coder) {
  const TLoadedModule& loaded = Module();
  return loaded.Module && loaded.Module->MagickMayRead(Coder);
}

bool MagickMayRunDelegate(const std::string& Delegate) {
  const TLoadedModule& loaded = Module();
  return !loaded.Module || loaded.Module->MagickMayRunDelegate(Delegate);
}

}  // namespace quirlon::imagefiles::detail

// fontconfig, which librsvg and poppler start for text, keeps its configuration until the process
// ends, and cairo its font caches; both free them only on request. x265, libheif's HEVC encoder
// (which the tests write HEIC files with), keeps a few buffers likewise, and dav1d, its AV1
// decoder, drops 40 bytes when a damaged AVIF stops it part-way (found by the fuzzer). LeakSanitizer would report
// them at every exit of a sanitizer build. They start in the codec module, but LeakSanitizer takes
// its exceptions from the program, which links this file.
#if defined(__SANITIZE_ADDRESS__)
#define QUIRLON_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUIRLON_LEAK_CHECKED 1
#endif
#endif
#ifdef QUIRLON_LEAK_CHECKED
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libcairo.so\nleak:libx265.so\nleak:libdav1d.so\n";
}
#endif
