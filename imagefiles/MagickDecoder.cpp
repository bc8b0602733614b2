// The side formats through GraphicsMagick. The format always comes from our registry (the file
// name's extension), never from GraphicsMagick's own guess, so a file cannot pick a different
// reader by its contents. The library is initialised once, without signal handlers, and its
// resource limits match ours.
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <memory>
#include <mutex>

#include <magick/api.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

extern "C" void MagickQuiet(const ExceptionType, const char*, const char*) {}

void InitialiseMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
    DestroyExceptionInfo(&exception);
    // Reports go into the exception records we check; nothing is printed and nothing exits.
    SetErrorHandler(&MagickQuiet);
    SetWarningHandler(&MagickQuiet);
    SetFatalErrorHandler(&MagickQuiet);
    SetMagickResourceLimit(WidthResource, kMaxPictureSide);
    SetMagickResourceLimit(HeightResource, kMaxPictureSide);
    SetMagickResourceLimit(PixelsResource, kMaxPicturePixels);
    SetMagickResourceLimit(MemoryResource, 2048LL * 1024 * 1024);
    SetMagickResourceLimit(MapResource, 2048LL * 1024 * 1024);
    SetMagickResourceLimit(DiskResource, 0);  // no pixel cache in temporary files
  });
}

struct TExceptionGuard {
  ExceptionInfo Info;
  TExceptionGuard() { GetExceptionInfo(&Info); }
  ~TExceptionGuard() { DestroyExceptionInfo(&Info); }
  TExceptionGuard(const TExceptionGuard&) = delete;
  TExceptionGuard& operator=(const TExceptionGuard&) = delete;
  // Errors, and warnings that say the picture is damaged (GraphicsMagick then returns what it got).
  bool Failed() const { return Info.severity >= ErrorException || Info.severity == CorruptImageWarning; }
};

// PostScript is rendered by Ghostscript, which GraphicsMagick runs as a separate program.
bool HaveDelegateFor(const std::string& format) {
  if (format != "EPS") return true;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  for (std::size_t start = 0; start <= dirs.size();) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty() && access((dir + "/gs").c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

using TImagePtr = std::unique_ptr<Image, void (*)(Image*)>;
using TImageInfoPtr = std::unique_ptr<ImageInfo, void (*)(ImageInfo*)>;

}  // namespace

TGraphic DecodeMagick(std::span<const std::uint8_t> Data, const std::string& Format,
                      const std::string& Description, TPictureKind Kind) {
  InitialiseMagick();
  const std::string noDecoder = quirlon::Format(kNoDecoder, Description.c_str());
  if (Format.empty()) throw EInvalidGraphic(noDecoder);
  {
    TExceptionGuard exception;
    const MagickInfo* info = GetMagickInfo(Format.c_str(), &exception.Info);
    if (!info || !info->decoder || !HaveDelegateFor(Format)) throw EInvalidGraphic(noDecoder);
  }
  auto invalid = [&]() -> TGraphic { throw EInvalidGraphic(quirlon::Format(kInvalidImageFormat, Format.c_str())); };
  if (Data.empty()) return invalid();

  TImageInfoPtr info(CloneImageInfo(nullptr), &DestroyImageInfo);
  if (!info) return invalid();
  // "TGA:" fixes the reader; only the first frame is read.
  const std::string name = Format + ":picture";
  std::strncpy(info->filename, name.c_str(), MaxTextExtent - 1);
  std::strncpy(info->magick, Format.c_str(), MaxTextExtent - 1);
  info->subimage = 0;
  info->subrange = 1;

  {
    TExceptionGuard exception;
    TImagePtr ping(PingBlob(info.get(), Data.data(), Data.size(), &exception.Info), &DestroyImageList);
    if (!ping) {
      if (exception.Info.severity == ResourceLimitError) CheckPictureSize(kMaxPictureSide + 1, kMaxPictureSide + 1);
      return invalid();
    }
    CheckPictureSize(ping->columns, ping->rows);
  }

  TExceptionGuard exception;
  TImagePtr image(BlobToImage(info.get(), Data.data(), Data.size(), &exception.Info), &DestroyImageList);
  if (!image || exception.Failed()) return invalid();
  if (image->columns == 0 || image->rows == 0) return invalid();
  CheckPictureSize(image->columns, image->rows);

  TGraphic g;
  g.Kind = Kind;
  g.Width = static_cast<std::int32_t>(image->columns);
  g.Height = static_cast<std::int32_t>(image->rows);
  g.PixelFormat = image->matte ? pf32bit : pf24bit;
  g.UsesAlpha = Kind != pkBitmap;
  g.Pixels.resize(static_cast<std::size_t>(g.Width) * g.Height);
  TExceptionGuard dispatch;
  if (DispatchImage(image.get(), 0, 0, image->columns, image->rows, "RGBA", CharPixel, g.Pixels.data(),
                    &dispatch.Info) != MagickPass)
    return invalid();
  for (TColor32& p : g.Pixels) {
    std::uint8_t b[4];
    std::memcpy(b, &p, 4);
    p = raster::Color32(b[0], b[1], b[2], image->matte ? b[3] : 255);
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
