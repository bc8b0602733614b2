// Truevision Targa: colour-mapped (8-bit indices into 15-, 16-, 24- or 32-bit entries), true colour
// (15, 16, 24 or 32 bits) and grey (8 bits, or 16 with alpha), each raw or run-length encoded, with
// any of the four origins. Run-length packets may run on from one row into the next.
//
// Alpha: a 32-bit pixel's fourth byte is its alpha, unless the header declares no alpha bits and
// every fourth byte is 0 (writers that leave it unset); a 16-bit pixel's top bit only when the header
// declares one alpha bit; grey with alpha keeps its alpha. Five-bit channels are widened by rounding.
#include <array>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

[[noreturn]] void Invalid(const char* reason) { Refuse(reason, Format(kInvalidImageFormat, "TGA")); }

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

std::uint8_t Widen5(std::uint32_t v) { return static_cast<std::uint8_t>((v * 510 + 31) / 62); }

// A 15/16-bit value (x R5 G5 B5), the top bit as alpha when asked.
TColor32 From16(std::uint32_t v, bool alphaBit) {
  return raster::Color32(Widen5((v >> 10) & 31), Widen5((v >> 5) & 31), Widen5(v & 31),
                         alphaBit && (v & 0x8000) == 0 ? 0 : 255);
}

struct THeader {
  std::uint32_t IdLength, MapType, ImageType, MapFirst, MapLength, MapEntryBits;
  std::uint32_t Width, Height, PixelBits, Descriptor;
  std::uint32_t AlphaBits() const { return Descriptor & 15; }
  bool RightToLeft() const { return (Descriptor & 0x10) != 0; }
  bool TopDown() const { return (Descriptor & 0x20) != 0; }
  bool Encoded() const { return ImageType >= 9; }
  std::uint32_t Kind() const { return ImageType & 7; }  // 1 mapped, 2 true colour, 3 grey
};

}  // namespace

TGraphic DecodeTga(std::span<const std::uint8_t> Data) {
  if (Data.size() < 18) Invalid("the file ends inside the Targa header");
  const std::uint8_t* p = Data.data();
  const THeader h{p[0], p[1], p[2], U16(p + 3), U16(p + 5), p[7], U16(p + 12), U16(p + 14), p[16], p[17]};
  const std::uint32_t kind = h.Kind();
  if ((h.ImageType & ~8u) < 1 || (h.ImageType & ~8u) > 3 || h.MapType > 1)
    Invalid("the image type is not colour-mapped, true colour or grey");
  const bool depthOk = kind == 1   ? h.PixelBits == 8
                       : kind == 2 ? (h.PixelBits == 15 || h.PixelBits == 16 || h.PixelBits == 24 || h.PixelBits == 32)
                                   : (h.PixelBits == 8 || h.PixelBits == 16);
  if (!depthOk) Invalid("the number of bits per pixel does not fit the image type");
  if (kind == 1 && h.MapType != 1) Invalid("a colour-mapped picture has no colour map");
  if (h.Width == 0 || h.Height == 0) Invalid("the width or height is 0");
  CheckPictureSize(h.Width, h.Height);

  std::size_t at = 18 + h.IdLength;
  std::array<TColor32, 256> palette{};
  bool paletteAlpha = false;
  if (h.MapType == 1) {
    const std::uint32_t entryBytes = (h.MapEntryBits + 7) / 8;
    if (h.MapEntryBits != 15 && h.MapEntryBits != 16 && h.MapEntryBits != 24 && h.MapEntryBits != 32)
      Invalid("the colour map entries are not 15, 16, 24 or 32 bits");
    const std::size_t mapBytes = std::size_t{h.MapLength} * entryBytes;
    if (at > Data.size() || Data.size() - at < mapBytes) Invalid("the file ends inside the colour map");
    for (std::uint32_t i = 0; i < h.MapLength; ++i) {
      const std::uint32_t index = h.MapFirst + i;
      const std::uint8_t* e = p + at + std::size_t{i} * entryBytes;
      if (index > 255) break;
      if (entryBytes == 2) palette[index] = From16(U16(e), false);
      else palette[index] = raster::Color32(e[2], e[1], e[0], entryBytes == 4 ? e[3] : 255);
      paletteAlpha |= entryBytes == 4 && e[3] != 255;
    }
    at += mapBytes;
  }
  if (at > Data.size()) Invalid("the file ends inside the picture's identification field");

  const std::uint32_t pixelBytes = (h.PixelBits + 7) / 8;
  const std::size_t count = std::size_t{h.Width} * h.Height;
  // A packet covers at most 128 pixels: that much data must be there before anything is allocated.
  const std::size_t available = Data.size() - at;
  if (h.Encoded() ? available / (1 + pixelBytes) < (count + 127) / 128 : available / pixelBytes < count)
    Invalid("the file ends before the pixel data does");

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = static_cast<std::int32_t>(h.Width);
  g.Height = static_cast<std::int32_t>(h.Height);
  g.Pixels.resize(count);

  const bool alphaBit = h.PixelBits == 16 && h.AlphaBits() == 1;
  bool anyAlphaByte = false;
  auto decodePixel = [&](const std::uint8_t* s) -> TColor32 {
    switch (kind) {
      case 1: return palette[s[0]];
      case 3: return h.PixelBits == 8 ? raster::Color32(s[0], s[0], s[0]) : raster::Color32(s[0], s[0], s[0], s[1]);
      default:
        if (pixelBytes == 2) return From16(U16(s), alphaBit);
        if (pixelBytes == 3) return raster::Color32(s[2], s[1], s[0]);
        anyAlphaByte |= s[3] != 0;
        return raster::Color32(s[2], s[1], s[0], s[3]);
    }
  };

  // Pixels in file order: rows from the origin's side, each from the origin's end.
  std::size_t done = 0;
  auto store = [&](TColor32 c) {
    const std::size_t fileRow = done / h.Width, fileColumn = done % h.Width;
    const std::size_t y = h.TopDown() ? fileRow : h.Height - 1 - fileRow;
    const std::size_t x = h.RightToLeft() ? h.Width - 1 - fileColumn : fileColumn;
    g.Pixels[y * h.Width + x] = c;
    ++done;
  };
  if (!h.Encoded()) {
    for (const std::uint8_t* s = p + at; done < count; s += pixelBytes) store(decodePixel(s));
  } else {
    while (done < count) {
      if (at >= Data.size()) Invalid("the run-length data ends before the last pixel");
      const std::uint32_t packet = p[at++];
      const std::size_t run = std::min<std::size_t>((packet & 0x7F) + 1, count - done);
      if (packet & 0x80) {
        if (Data.size() - at < pixelBytes) Invalid("the run-length data ends before the last pixel");
        const TColor32 c = decodePixel(p + at);
        at += pixelBytes;
        for (std::size_t i = 0; i < run; ++i) store(c);
      } else {
        if ((Data.size() - at) / pixelBytes < run) Invalid("the run-length data ends before the last pixel");
        for (std::size_t i = 0; i < run; ++i, at += pixelBytes) store(decodePixel(p + at));
      }
    }
  }

  if (kind == 1) {
    g.PixelFormat = paletteAlpha ? pf32bit : pf8bit;
  } else if (kind == 3) {
    g.PixelFormat = h.PixelBits == 16 ? pf32bit : pf8bit;
  } else if (pixelBytes == 4) {
    // A fourth byte that is 0 everywhere, where the header promises no alpha, was never set.
    g.PixelFormat = (h.AlphaBits() != 0 || anyAlphaByte) ? pf32bit : pf24bit;
  } else {
    g.PixelFormat = alphaBit ? pf32bit : pf15bit;
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
