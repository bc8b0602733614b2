// TIFF through libtiff's RGBA interface: the first directory, top row first. libtiff hands back
// premultiplied colour wherever there is alpha; we return it to straight alpha. Sample layouts the
// RGBA interface does not take go to ImageMagick's TIFF reader.
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr tmsize_t kMaxLibraryAllocation = 256 * 1024 * 1024;  // strips, tiles, tables

struct TSource {
  const std::uint8_t* Data;
  toff_t Size;
  toff_t Position;
};

extern "C" tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t size) {
  auto* s = static_cast<TSource*>(h);
  if (size <= 0 || s->Position >= s->Size || !s->Data) return 0;
  const toff_t n = std::min<toff_t>(static_cast<toff_t>(size), s->Size - s->Position);
  std::memcpy(buf, s->Data + s->Position, n);
  s->Position += n;
  return static_cast<tmsize_t>(n);
}
extern "C" tmsize_t TiffWrite(thandle_t, void*, tmsize_t) { return 0; }
extern "C" toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
  auto* s = static_cast<TSource*>(h);
  toff_t base = 0;
  if (whence == SEEK_CUR) base = s->Position;
  else if (whence == SEEK_END) base = s->Size;
  const toff_t target = base + off;  // negative offsets arrive wrapped; reads past the end get 0 bytes
  s->Position = target;
  return target;
}
extern "C" int TiffClose(thandle_t) { return 0; }
extern "C" toff_t TiffSize(thandle_t h) { return static_cast<TSource*>(h)->Size; }
extern "C" int TiffMap(thandle_t, void**, toff_t*) { return 0; }
extern "C" void TiffUnmap(thandle_t, void*, toff_t) {}
// libtiff's first error, in its words ("module: text").
struct TErrorText {
  char Text[256];
};

extern "C" int TiffError(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
  auto* error = static_cast<TErrorText*>(user);
  if (error->Text[0] != '\0') return 1;
  int used = module && *module ? std::snprintf(error->Text, sizeof error->Text, "%s: ", module) : 0;
  if (used < 0 || static_cast<std::size_t>(used) >= sizeof error->Text) used = 0;
  std::vsnprintf(error->Text + used, sizeof error->Text - static_cast<std::size_t>(used), fmt, args);
  return 1;
}
extern "C" int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

[[noreturn]] void Invalid(const char* reason) { Refuse(reason, Format(kInvalidImageFormat, "TIFF")); }

bool IsTiff(std::span<const std::uint8_t> d) {
  if (d.size() < 4) return false;
  const bool ii = d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0;
  const bool mm = d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43);
  return ii || mm;
}

}  // namespace

TGraphic DecodeTiff(std::span<const std::uint8_t> Data) {
  if (!IsTiff(Data)) Invalid("the file does not start with a TIFF header");
  TErrorText error{};
  auto invalid = [&error](const char* fallback) { Invalid(error.Text[0] != '\0' ? error.Text : fallback); };
  TSource src{Data.data(), Data.size(), 0};
  const std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                             &TIFFOpenOptionsFree);
  if (!options) Invalid("out of memory");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &TiffError, &error);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &TiffQuiet, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxLibraryAllocation);
  const std::unique_ptr<TIFF, void (*)(TIFF*)> tif(
      TIFFClientOpenExt("picture", "rm", &src, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                        TiffUnmap, options.get()),
      &TIFFClose);
  if (!tif) invalid("libtiff cannot read the first directory");

  char message[1024] = {};
  // Sample layouts the RGBA interface does not take (12-bit and the like) go to ImageMagick,
  // which reads them through libtiff's scanline interface.
  if (!TIFFRGBAImageOK(tif.get(), message)) return DecodeMagick(Data, "TIFF", "TIFF images", pkBitmap);
  std::uint32_t width = 0, height = 0;
  if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height))
    invalid("the picture has no width or height");
  if (width == 0 || height == 0) Invalid("the picture has no width or height");
  CheckPictureSize(width, height);
  std::uint16_t extraCount = 0;
  std::uint16_t* extraTypes = nullptr;
  bool hasAlpha = false;
  if (TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraTypes)
    for (std::uint16_t i = 0; i < extraCount; ++i)
      hasAlpha |= extraTypes[i] == EXTRASAMPLE_ASSOCALPHA || extraTypes[i] == EXTRASAMPLE_UNASSALPHA;

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = static_cast<std::int32_t>(width);
  g.Height = static_cast<std::int32_t>(height);
  g.PixelFormat = hasAlpha ? pf32bit : pf24bit;
  g.Pixels.resize(static_cast<std::size_t>(width) * height);
  static_assert(sizeof(std::uint32_t) == sizeof(TColor32));
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, reinterpret_cast<std::uint32_t*>(g.Pixels.data()),
                                 ORIENTATION_TOPLEFT, 1))
    invalid("libtiff cannot read the pixels");
  // libtiff packs A, B, G, R from the high byte down; ours is A, R, G, B.
  for (TColor32& p : g.Pixels) {
    const std::uint32_t r = TIFFGetR(p), gr = TIFFGetG(p), b = TIFFGetB(p), a = TIFFGetA(p);
    if (a == 255 || !hasAlpha) {
      p = raster::Color32(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(gr), static_cast<std::uint8_t>(b));
    } else if (a == 0) {
      p = 0;
    } else {
      auto straight = [a](std::uint32_t c) { return static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a)); };
      p = raster::Color32(straight(r), straight(gr), straight(b), static_cast<std::uint8_t>(a));
    }
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
