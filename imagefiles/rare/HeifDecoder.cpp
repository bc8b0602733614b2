// HEIC and AVIF through libheif: the primary picture, turned as its transformations say, at 8 bits
// a sample (deeper pictures are reduced). The size of the primary picture is read from its header
// boxes and checked before anything is decoded. Alpha comes out straight.
#include <algorithm>
#include <cstring>
#include <memory>

#include <libheif/heif.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

[[noreturn]] void Invalid(const std::string& reason) { Refuse(reason, Format(kInvalidImageFormat, "HEIF")); }

void Check(const heif_error& error, const char* what) {
  if (error.code == heif_error_Ok) return;
  std::string reason = what;
  if (error.message != nullptr && *error.message != '\0') reason += std::string(": ") + error.message;
  Invalid(reason);
}

template <class T, void (*Release)(T*)>
struct THeifDeleter {
  void operator()(T* p) const { Release(p); }
};
using TContext = std::unique_ptr<heif_context, THeifDeleter<heif_context, heif_context_free>>;
using THandle = std::unique_ptr<heif_image_handle, THeifDeleter<const heif_image_handle, heif_image_handle_release>>;
using TImage = std::unique_ptr<heif_image, THeifDeleter<const heif_image, heif_image_release>>;
using TOptions = std::unique_ptr<heif_decoding_options, THeifDeleter<heif_decoding_options, heif_decoding_options_free>>;

// libheif reference-counts its start-up; once for the process is enough.
void InitialiseHeif() {
  static const bool ready = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)ready;
}

}  // namespace

TGraphic DecodeHeif(std::span<const std::uint8_t> Data) {
  InitialiseHeif();
  if (Data.size() < 12) Invalid("the file ends inside the header");
  const TContext context(heif_context_alloc());
  if (!context) Invalid("the decoder cannot be set up");
  // libheif's own bound, at our side limit: it then refuses larger pictures while it parses.
  heif_context_set_maximum_image_size_limit(context.get(), kMaxPictureSide);
  Check(heif_context_read_from_memory_without_copy(context.get(), Data.data(), Data.size(), nullptr),
        "the file's boxes cannot be read");
  heif_image_handle* rawHandle = nullptr;
  Check(heif_context_get_primary_image_handle(context.get(), &rawHandle), "the file has no primary picture");
  const THandle handle(rawHandle);
  const int width = heif_image_handle_get_width(handle.get());
  const int height = heif_image_handle_get_height(handle.get());
  if (width <= 0 || height <= 0) Invalid("the width or height is 0");
  CheckPictureSize(width, height);
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;

  const TOptions options(heif_decoding_options_alloc());
  if (!options) Invalid("the decoder cannot be set up");
  options->convert_hdr_to_8bit = 1;
  heif_image* rawImage = nullptr;
  Check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get()),
        "the picture cannot be decoded");
  const TImage image(rawImage);
  const int outWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int outHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const std::uint8_t* plane = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr || outWidth != width || outHeight != height || stride < width * 4)
    Invalid("the decoded picture does not have the size its header gives");

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = width;
  g.Height = height;
  g.PixelFormat = alpha ? pf32bit : pf24bit;
  g.Pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  const bool premultiplied = alpha && heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = plane + static_cast<std::ptrdiff_t>(y) * stride;
    TColor32* out = g.Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    for (int x = 0; x < width; ++x, in += 4) {
      unsigned r = in[0], gr = in[1], b = in[2];
      const unsigned a = in[3];
      if (premultiplied && a != 0 && a != 255) {
        r = std::min(255u, (r * 255 + a / 2) / a);
        gr = std::min(255u, (gr * 255 + a / 2) / a);
        b = std::min(255u, (b * 255 + a / 2) / a);
      }
      out[x] = (TColor32{a} << 24) | (r << 16) | (gr << 8) | b;
    }
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
