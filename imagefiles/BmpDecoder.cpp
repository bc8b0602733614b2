// Windows bitmaps: 1, 4, 8, 16, 24 and 32 bits per pixel, RLE4 and RLE8, bit fields, the old
// 12-byte header and the 40-byte and later ones, bottom-up and top-down rows. Every offset and
// length is checked against the file before pixels are allocated.
#include <array>
#include <bit>
#include <algorithm>
#include <cstring>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

enum : std::uint32_t { kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6 };

[[noreturn]] void Invalid(const char* reason) { Refuse(reason, kInvalidBitmap); }

std::uint32_t U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// One colour channel of a bit-field layout, widened to 8 bits by rounding.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint32_t Max = 0;

  explicit TChannel(std::uint32_t mask = 0) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Max = mask >> Shift;
    if ((Max & (Max + 1)) != 0) Invalid("a bit-field mask is not one run of bits");
  }
  std::uint32_t Get(std::uint32_t v) const {
    if (Max == 0) return 0;
    const std::uint64_t x = (v & Mask) >> Shift;
    return static_cast<std::uint32_t>((x * 510 + Max) / (2 * static_cast<std::uint64_t>(Max)));
  }
};

struct TDibHeader {
  std::uint32_t HeaderSize = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;  // already made positive
  bool TopDown = false;
  std::uint32_t BitCount = 0;
  std::uint32_t Compression = kBiRgb;
  std::uint32_t ImageSize = 0;
  std::uint32_t ColorsUsed = 0;
  std::array<std::uint32_t, 4> Masks{};  // R, G, B, A
  bool HasMasks = false;
  bool HasAlphaMask = false;
};

// Reads the info header at `at` (and masks stored after a 40-byte header); returns the offset
// just after header and masks, where the palette starts.
std::size_t ReadDibHeader(std::span<const std::uint8_t> d, std::size_t at, TDibHeader& h) {
  if (d.size() < at + 4) Invalid("the file ends inside the bitmap header");
  h.HeaderSize = U32(&d[at]);
  if (h.HeaderSize < 12 || h.HeaderSize > d.size() - at) Invalid("the bitmap header size is not valid");
  const std::uint8_t* p = &d[at];
  if (h.HeaderSize == 12) {
    h.Width = U16(p + 4);
    h.Height = static_cast<std::int16_t>(U16(p + 6));
    h.BitCount = U16(p + 10);
  } else {
    if (h.HeaderSize < 16) Invalid("the bitmap header size is not valid");
    h.Width = static_cast<std::int32_t>(U32(p + 4));
    h.Height = static_cast<std::int32_t>(U32(p + 8));
    h.BitCount = U16(p + 14);
    // OS/2 2.x headers may stop before the later fields; missing ones count as 0.
    if (h.HeaderSize >= 20) h.Compression = U32(p + 16);
    if (h.HeaderSize >= 24) h.ImageSize = U32(p + 20);
    if (h.HeaderSize >= 36) h.ColorsUsed = U32(p + 32);
  }
  if (h.Height < 0) {
    h.TopDown = true;
    h.Height = -h.Height;
  }
  std::size_t next = at + h.HeaderSize;
  const bool bitfields = h.Compression == kBiBitfields || h.Compression == kBiAlphaBitfields;
  if (bitfields && h.HeaderSize >= 16 && h.HeaderSize != 64) {
    const std::size_t count = h.Compression == kBiAlphaBitfields ? 4 : 3;
    if (h.HeaderSize >= 52) {
      for (std::size_t i = 0; i < 3; ++i) h.Masks[i] = U32(p + 40 + 4 * i);
    } else {
      if (d.size() - next < 4 * count) Invalid("the file ends inside the bit-field masks");
      for (std::size_t i = 0; i < count; ++i) h.Masks[i] = U32(&d[next + 4 * i]);
      next += 4 * count;
    }
    if (h.HeaderSize >= 56) h.Masks[3] = U32(p + 52);
    h.HasMasks = true;
    h.HasAlphaMask = h.Masks[3] != 0;
  } else if (h.HeaderSize == 64 && h.Compression == kBiBitfields) {
    // OS/2 2.x uses 3 for Huffman 1D, which nobody reads.
    Invalid("OS/2 Huffman-compressed bitmaps cannot be read");
  }
  if (h.Width <= 0 || h.Height <= 0) Invalid("the width or height is not positive");
  return next;
}

TPixelFormat FormatOf(const TDibHeader& h) {
  switch (h.BitCount) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return (!h.HasMasks || (h.Masks[0] == 0x7C00 && h.Masks[1] == 0x03E0 && h.Masks[2] == 0x001F)) ? pf15bit : pf16bit;
    case 24: return pf24bit;
    default: return pf32bit;
  }
}

// RLE4/RLE8 straight into pixels; file row r is picture row height - 1 - r. Skipped pixels keep
// palette entry 0. Runs past the right edge are clipped; data that ends before the end-of-bitmap
// mark with rows still missing is damage.
void DecodeRle(std::span<const std::uint8_t> src, bool four, std::int64_t width, std::int64_t height,
               const std::array<TColor32, 256>& palette, raster::TPixelStore& pixels) {
  std::size_t i = 0;
  std::int64_t x = 0, y = 0;
  auto put = [&](std::uint8_t v) {
    if (x < width && y < height) pixels[static_cast<std::size_t>((height - 1 - y) * width + x)] = palette[v];
    ++x;
  };
  while (y < height) {
    if (src.size() - i < 2) Invalid("the run-length data ends before the end-of-bitmap mark");
    const std::uint8_t count = src[i], value = src[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count && x < width; ++k)
        put(four ? static_cast<std::uint8_t>((k & 1) ? value & 0x0F : value >> 4) : value);
    } else if (value == 0) {
      x = 0;
      ++y;
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (src.size() - i < 2) Invalid("the run-length data ends before the end-of-bitmap mark");
      x += src[i];
      y += src[i + 1];
      i += 2;
    } else {
      const std::size_t bytes = four ? (value + 1u) / 2 : value;
      const std::size_t padded = bytes + (bytes & 1);
      if (src.size() - i < bytes) Invalid("the run-length data ends before the end-of-bitmap mark");
      for (int k = 0; k < value && x < width; ++k) {
        const std::uint8_t b = src[i + (four ? k / 2 : k)];
        put(four ? static_cast<std::uint8_t>((k & 1) ? b & 0x0F : b >> 4) : b);
      }
      i += std::min(padded, src.size() - i);
    }
  }
}

}  // namespace

namespace {

// Decodes the DIB whose info header starts at `at`; pixels at `bitsOffset` (0: right after the
// palette). Icon images have a doubled height and an AND mask after the colours.
TGraphic DecodeDibAt(std::span<const std::uint8_t> d, std::size_t at, std::size_t bitsOffset, bool icon) {
  TDibHeader h;
  const std::size_t paletteAt = ReadDibHeader(d, at, h);
  if (icon) {
    h.Height /= 2;
    if (h.Height <= 0 || h.TopDown) Invalid("the icon image has no height or is stored top-down");
  }
  const std::uint32_t bpp = h.BitCount;
  const bool rle = h.Compression == kBiRle8 || h.Compression == kBiRle4;
  switch (h.Compression) {
    case kBiRgb:
      if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) Invalid("the number of bits per pixel is not 1, 4, 8, 16, 24 or 32");
      break;
    case kBiRle8:
      if (bpp != 8 || h.TopDown || icon) Invalid("run-length encoding with 8 bits needs an 8-bit bottom-up bitmap");
      break;
    case kBiRle4:
      if (bpp != 4 || h.TopDown || icon) Invalid("run-length encoding with 4 bits needs a 4-bit bottom-up bitmap");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (bpp != 16 && bpp != 32) Invalid("bit fields need 16 or 32 bits per pixel");
      break;
    default: Invalid("the compression method is not one of the known ones");
  }
  CheckPictureSize(h.Width, h.Height);

  // Palette.
  std::array<TColor32, 256> palette{};
  std::size_t paletteEnd = paletteAt;
  if (bpp <= 8) {
    const std::size_t entry = h.HeaderSize == 12 ? 3 : 4;
    std::size_t count = h.ColorsUsed == 0 ? (std::size_t{1} << bpp) : h.ColorsUsed;
    if (count > 256) Invalid("the colour table has more than 256 entries");
    // A palette that runs into the pixel data is read only as far as it goes.
    if (bitsOffset > paletteAt) count = std::min(count, (bitsOffset - paletteAt) / entry);
    if ((d.size() - paletteAt) / entry < count) Invalid("the file ends inside the colour table");
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* e = &d[paletteAt + i * entry];
      palette[i] = raster::Color32(e[2], e[1], e[0]);
    }
    paletteEnd = paletteAt + count * entry;
  } else if (h.ColorsUsed != 0 && h.ColorsUsed <= 256 && bitsOffset == 0) {
    paletteEnd = paletteAt + 4 * static_cast<std::size_t>(h.ColorsUsed);  // optimisation palette, unused
  }
  if (bitsOffset == 0) bitsOffset = paletteEnd;
  if (bitsOffset >= d.size()) Invalid("the pixel data lies beyond the end of the file");

  const std::int64_t w = h.Width, ht = h.Height;
  const std::uint64_t stride = ((static_cast<std::uint64_t>(w) * bpp + 31) / 32) * 4;
  const std::span<const std::uint8_t> bits = d.subspan(bitsOffset);
  if (!rle && bits.size() / stride < static_cast<std::uint64_t>(ht)) Invalid("the file ends before the last row of pixels");

  TGraphic g;
  g.Kind = icon ? pkIcon : pkBitmap;
  g.Width = static_cast<std::int32_t>(w);
  g.Height = static_cast<std::int32_t>(ht);
  g.PixelFormat = FormatOf(h);
  g.Pixels.resize(static_cast<std::size_t>(w * ht));

  // Row r of the file is picture row (TopDown ? r : height - 1 - r).
  auto rowOf = [&](std::int64_t r) { return static_cast<std::size_t>(h.TopDown ? r : ht - 1 - r); };

  if (rle) {
    std::span<const std::uint8_t> src = bits;
    if (h.ImageSize != 0 && h.ImageSize < src.size()) src = src.first(h.ImageSize);
    std::fill(g.Pixels.begin(), g.Pixels.end(), palette[0]);
    DecodeRle(src, h.Compression == kBiRle4, w, ht, palette, g.Pixels);
    return g;
  }

  TChannel red, green, blue, alpha;
  bool useFourthByte = false;
  if (bpp == 16 || bpp == 32) {
    if (h.HasMasks) {
      red = TChannel(h.Masks[0]);
      green = TChannel(h.Masks[1]);
      blue = TChannel(h.Masks[2]);
      if (h.HasAlphaMask) alpha = TChannel(h.Masks[3]);
      else useFourthByte = bpp == 32 && ((h.Masks[0] | h.Masks[1] | h.Masks[2]) & 0xFF000000u) == 0;
    } else if (bpp == 16) {
      red = TChannel(0x7C00);
      green = TChannel(0x03E0);
      blue = TChannel(0x001F);
    } else {
      red = TChannel(0xFF0000);
      green = TChannel(0xFF00);
      blue = TChannel(0xFF);
      useFourthByte = true;
    }
  }

  bool anyAlpha = false;
  for (std::int64_t r = 0; r < ht; ++r) {
    const std::uint8_t* in = bits.data() + static_cast<std::size_t>(r) * stride;
    TColor32* out = &g.Pixels[rowOf(r) * static_cast<std::size_t>(w)];
    switch (bpp) {
      case 1:
        for (std::int64_t x = 0; x < w; ++x) out[x] = palette[(in[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (std::int64_t x = 0; x < w; ++x) out[x] = palette[(in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
        break;
      case 8:
        for (std::int64_t x = 0; x < w; ++x) out[x] = palette[in[x]];
        break;
      case 24:
        for (std::int64_t x = 0; x < w; ++x, in += 3) out[x] = raster::Color32(in[2], in[1], in[0]);
        break;
      case 16:
        for (std::int64_t x = 0; x < w; ++x, in += 2) {
          const std::uint32_t v = U16(in);
          out[x] = raster::Color32(static_cast<std::uint8_t>(red.Get(v)), static_cast<std::uint8_t>(green.Get(v)),
                                   static_cast<std::uint8_t>(blue.Get(v)));
        }
        break;
      default:  // 32
        for (std::int64_t x = 0; x < w; ++x, in += 4) {
          const std::uint32_t v = U32(in);
          const std::uint32_t a = useFourthByte ? v >> 24 : (alpha.Mask ? alpha.Get(v) : 255);
          anyAlpha |= a != 0;
          out[x] = raster::Color32(static_cast<std::uint8_t>(red.Get(v)), static_cast<std::uint8_t>(green.Get(v)),
                                   static_cast<std::uint8_t>(blue.Get(v)), static_cast<std::uint8_t>(a));
        }
        break;
    }
  }

  if (icon) {
    // 32-bit icons with any alpha are drawn by it; all others (and 32-bit ones whose alpha is
    // all zero) by the AND mask that follows the colours.
    g.UsesAlpha = bpp == 32 && anyAlpha;
    if (!g.UsesAlpha) {
      const std::uint64_t maskStride = ((static_cast<std::uint64_t>(w) + 31) / 32) * 4;
      const std::size_t maskAt = static_cast<std::size_t>(stride * ht);
      if ((bits.size() - maskAt) / maskStride < static_cast<std::uint64_t>(ht)) Invalid("the file ends inside the icon's transparency mask");
      g.Mask.resize(g.Pixels.size());
      for (std::int64_t r = 0; r < ht; ++r) {
        const std::uint8_t* in = bits.data() + maskAt + static_cast<std::size_t>(r * maskStride);
        std::uint8_t* out = &g.Mask[rowOf(r) * static_cast<std::size_t>(w)];
        for (std::int64_t x = 0; x < w; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
      }
      for (TColor32& p : g.Pixels) p |= 0xFF000000u;
    }
  }
  return g;
}

}  // namespace

TGraphic DecodeBmp(std::span<const std::uint8_t> Data) {
  // Clipboard-style DIB files start right at the info header.
  if (Data.size() >= 4 && !(Data[0] == 'B' && Data[1] == 'M')) {
    const std::uint32_t headerSize = U32(&Data[0]);
    if (headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
        headerSize == 108 || headerSize == 124)
      return DecodeDibAt(Data, 0, 0, false);
  }
  if (Data.size() < 14 + 12 || Data[0] != 'B' || Data[1] != 'M') Invalid("the file does not start with a bitmap header");
  const std::uint32_t offBits = U32(&Data[10]);
  // An offset inside the headers cannot be right: fall back to "right after the palette".
  return DecodeDibAt(Data, 14, offBits < 14 + 12 ? 0 : offBits, false);
}

TGraphic DecodeDib(std::span<const std::uint8_t> Data, bool IconImage) {
  return DecodeDibAt(Data, 0, 0, IconImage);
}

}  // namespace quirlon::imagefiles::detail
