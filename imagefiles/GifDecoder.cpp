// GIF through giflib: the first frame on the logical screen. The transparent index of the frame's
// graphic control block keeps its colour with alpha 0; the screen outside the frame is transparent
// black. Reading stops
// after the first frame, so long animations cost nothing.
#include <cstring>
#include <memory>

#include <gif_lib.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

struct TSource {
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Position;
};

extern "C" int GifRead(GifFileType* gif, GifByteType* out, int length) {
  auto* src = static_cast<TSource*>(gif->UserData);
  if (length <= 0) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(length), src->Size - src->Position);
  if (n == 0) return 0;
  std::memcpy(out, src->Data + src->Position, n);
  src->Position += n;
  return static_cast<int>(n);
}

[[noreturn]] void Invalid(const char* reason) { Refuse(reason, Format(kInvalidImageFormat, "GIF")); }

// giflib's words for its error code.
[[noreturn]] void InvalidByCode(int code) {
  const char* text = GifErrorString(code);
  Invalid(text ? text : "giflib cannot read the file");
}

void CloseGif(GifFileType* gif) {
  int error = 0;
  DGifCloseFile(gif, &error);
}

}  // namespace

TGraphic DecodeGif(std::span<const std::uint8_t> Data) {
  if (Data.size() < 6 || std::memcmp(Data.data(), "GIF8", 4) != 0) Invalid("the file does not start with a GIF header");
  if (Data.size() < 13) Invalid("the file ends inside the GIF header");
  TSource src{Data.data(), Data.size(), 0};
  int error = 0;
  const std::unique_ptr<GifFileType, void (*)(GifFileType*)> gif(DGifOpen(&src, GifRead, &error), &CloseGif);
  if (!gif) InvalidByCode(error);

  int transparent = -1;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) != GIF_OK) InvalidByCode(gif->Error);
    if (type == TERMINATE_RECORD_TYPE) Invalid("the file holds no picture");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) InvalidByCode(gif->Error);
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
        transparent = (block[1] & 1) ? block[4] : -1;
      while (block) {
        if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) InvalidByCode(gif->Error);
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) Invalid("a record of unknown type comes before the picture");
    if (DGifGetImageDesc(gif.get()) != GIF_OK) InvalidByCode(gif->Error);
    break;
  }

  const GifImageDesc& frame = gif->Image;
  if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0)
    Invalid("the first frame has no pixels or lies outside the screen");
  CheckPictureSize(frame.Width, frame.Height);
  // The logical screen decides the size; a screen without size takes the frame's.
  std::int64_t width = gif->SWidth, height = gif->SHeight;
  if (width <= 0 || height <= 0) {
    width = std::int64_t{frame.Left} + frame.Width;
    height = std::int64_t{frame.Top} + frame.Height;
  }
  CheckPictureSize(width, height);

  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  TColor32 palette[256];
  for (int i = 0; i < 256; ++i) {
    if (map) {
      palette[i] = i < map->ColorCount ? raster::Color32(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue)
                                       : raster::Color32(0, 0, 0);
    } else {
      palette[i] = raster::Color32(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i));
    }
  }
  if (transparent >= 0 && transparent < 256) palette[transparent] &= 0x00FFFFFFu;  // keeps its colour

  // Decode the frame's indices, de-interlacing as we go.
  std::vector<GifPixelType> indices(static_cast<std::size_t>(frame.Width) * frame.Height);
  auto readRow = [&](int y) {
    if (DGifGetLine(gif.get(), &indices[static_cast<std::size_t>(y) * frame.Width], frame.Width) != GIF_OK)
      InvalidByCode(gif->Error);
  };
  if (frame.Interlace) {
    static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < frame.Height; y += kStep[pass]) readRow(y);
  } else {
    for (int y = 0; y < frame.Height; ++y) readRow(y);
  }

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = static_cast<std::int32_t>(width);
  g.Height = static_cast<std::int32_t>(height);
  const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width >= width && frame.Height >= height;
  g.PixelFormat = (transparent >= 0 || !covers) ? pf32bit : pf8bit;
  g.Pixels.assign(static_cast<std::size_t>(width * height), 0);
  for (std::int64_t y = frame.Top; y < std::min<std::int64_t>(height, std::int64_t{frame.Top} + frame.Height); ++y) {
    const GifPixelType* in = &indices[static_cast<std::size_t>(y - frame.Top) * frame.Width];
    TColor32* out = &g.Pixels[static_cast<std::size_t>(y * width)];
    for (std::int64_t x = frame.Left; x < std::min<std::int64_t>(width, std::int64_t{frame.Left} + frame.Width); ++x)
      out[x] = palette[in[x - frame.Left]];
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
