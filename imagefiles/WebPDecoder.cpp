// WebP through libwebp: still pictures (lossy, lossless, with or without alpha) and the first frame
// of an animation, composed on its canvas by libwebp's animation decoder. Alpha comes out straight
// (not premultiplied), as every other decoder gives it. The header's canvas size is checked before
// any pixel memory is taken, animations included.
#include <bit>
#include <cstring>
#include <memory>

#include <webp/decode.h>
#include <webp/demux.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

[[noreturn]] void Invalid(const std::string& reason) { Refuse(reason, Format(kInvalidImageFormat, "WebP")); }

const char* StatusWords(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_OUT_OF_MEMORY: return "the decoder ran out of memory";
    case VP8_STATUS_INVALID_PARAM: return "the decoder was called with invalid parameters";
    case VP8_STATUS_BITSTREAM_ERROR: return "the compressed data is damaged";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "the file uses a feature this decoder does not support";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends before the picture does";
    default: return "the file cannot be decoded";
  }
}

TGraphic NewPicture(int width, int height, bool alpha) {
  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = width;
  g.Height = height;
  g.PixelFormat = alpha ? pf32bit : pf24bit;
  g.Pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  return g;
}

TGraphic FirstFrame(std::span<const std::uint8_t> Data, const WebPBitstreamFeatures& features) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) Invalid("the animation decoder cannot be set up");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data{Data.data(), Data.size()};
  const std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(WebPAnimDecoderNew(&data, &options),
                                                                             &WebPAnimDecoderDelete);
  if (!decoder) Invalid("the animation's frames cannot be read");
  WebPAnimInfo info{};
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) Invalid("the animation's frames cannot be read");
  CheckPictureSize(info.canvas_width, info.canvas_height);
  std::uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (info.frame_count == 0 || !WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr)
    Invalid("the first frame of the animation cannot be decoded");
  TGraphic g = NewPicture(static_cast<int>(info.canvas_width), static_cast<int>(info.canvas_height), features.has_alpha);
  // The canvas is B, G, R, A bytes, tightly packed: a TColor32 each.
  static_assert(std::endian::native == std::endian::little);
  std::memcpy(g.Pixels.data(), canvas, g.Pixels.size() * sizeof(TColor32));
  return g;
}

}  // namespace

TGraphic DecodeWebP(std::span<const std::uint8_t> Data) {
  WebPBitstreamFeatures features{};
  const VP8StatusCode status = WebPGetFeatures(Data.data(), Data.size(), &features);
  if (status != VP8_STATUS_OK) Invalid(StatusWords(status));
  if (features.width <= 0 || features.height <= 0) Invalid("the width or height is 0");
  CheckPictureSize(features.width, features.height);
  if (features.has_animation) return FirstFrame(Data, features);

  TGraphic g = NewPicture(features.width, features.height, features.has_alpha);
  const std::size_t stride = static_cast<std::size_t>(features.width) * sizeof(TColor32);
  static_assert(std::endian::native == std::endian::little);
  if (!WebPDecodeBGRAInto(Data.data(), Data.size(), reinterpret_cast<std::uint8_t*>(g.Pixels.data()),
                          g.Pixels.size() * sizeof(TColor32), static_cast<int>(stride)))
    Invalid("the compressed data is damaged or ends early");
  return g;
}

}  // namespace quirlon::imagefiles::detail
