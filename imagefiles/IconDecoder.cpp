// Windows icons: of the images in the file, the largest (then the deepest) one is taken. Its
// images are DIBs with an AND mask, or PNG files; both come out as pictures that can only be
// drawn, so Assign decides transparency the way it does for every icon.
#include <cstring>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint32_t U32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

[[noreturn]] void Invalid(const char* reason) { Refuse(reason, kInvalidBitmap); }

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TCandidate {
  std::span<const std::uint8_t> Image;
  std::uint64_t Area = 0;
  std::uint32_t Depth = 0;
};

// Size and depth from the image itself; the directory's own fields are often wrong.
bool Measure(std::span<const std::uint8_t> img, TCandidate& c) {
  if (img.size() >= 33 && std::memcmp(img.data(), kPngSignature, 8) == 0) {
    const std::uint8_t channels[7] = {1, 0, 3, 1, 2, 0, 4};
    const std::uint8_t colorType = img[25];
    c.Area = std::uint64_t{U32BE(&img[16])} * U32BE(&img[20]);
    c.Depth = img[24] * (colorType < 7 ? channels[colorType] : 1);
    return true;
  }
  if (img.size() < 16) return false;
  const std::uint32_t headerSize = U32(&img[0]);
  if (headerSize == 12) {
    c.Area = std::uint64_t{U16(&img[4])} * (U16(&img[6]) / 2);
    c.Depth = U16(&img[10]);
  } else {
    const auto w = static_cast<std::int32_t>(U32(&img[4])), h = static_cast<std::int32_t>(U32(&img[8]));
    if (w <= 0 || h <= 0) return false;
    c.Area = std::uint64_t(w) * std::uint64_t(h / 2);
    c.Depth = U16(&img[14]);
  }
  return true;
}

}  // namespace

TGraphic DecodeIcon(std::span<const std::uint8_t> Data) {
  if (Data.size() < 6 || U16(&Data[0]) != 0 || (U16(&Data[2]) != 1 && U16(&Data[2]) != 2))
    Invalid("the file does not start with an icon directory");
  const std::uint32_t count = U16(&Data[4]);
  if (count == 0 || (Data.size() - 6) / 16 < count) Invalid("the icon directory is empty or longer than the file");
  TCandidate best;
  bool found = false;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = &Data[6 + 16 * i];
    const std::uint32_t size = U32(entry + 8), offset = U32(entry + 12);
    if (offset >= Data.size() || size > Data.size() - offset || size == 0) continue;
    TCandidate c;
    c.Image = Data.subspan(offset, size);
    if (!Measure(c.Image, c)) continue;
    if (!found || c.Area > best.Area || (c.Area == best.Area && c.Depth > best.Depth)) {
      best = c;
      found = true;
    }
  }
  if (!found) Invalid("no image of the icon lies inside the file");

  if (std::memcmp(best.Image.data(), kPngSignature, 8) == 0) {
    TGraphic g = DecodePng(best.Image);
    if (g.PixelFormat != pf32bit)
      for (TColor32& p : g.Pixels) p |= 0xFF000000u;
    g.Kind = pkIcon;
    g.UsesAlpha = true;
    return g;
  }
  return DecodeDib(best.Image, true);
}

}  // namespace quirlon::imagefiles::detail
