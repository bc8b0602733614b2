// SVG through librsvg, drawn by cairo. The picture is drawn at its own size (CSS pixels at 96 dpi,
// or its view box where it gives no size), scaled up so that its long side has at least
// kSvgLongSide pixels: the layer then shrinks a sharp picture instead of enlarging a soft one. The
// scale-up stops at the picture limits; a picture whose own size is beyond them is refused, before
// anything is drawn.
//
// The document is read from memory with no base file, so librsvg resolves no reference outside it:
// no other file, no URL, no XInclude is ever read (pictures inlined as data: URLs still draw). Its
// XML limits stay on.
#include <algorithm>
#include <cmath>
#include <memory>

#include <librsvg/rsvg.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr double kSvgLongSide = 2048;

[[noreturn]] void Invalid(const std::string& reason) { Refuse(reason, Format(kInvalidImageFormat, "SVG")); }

struct TGObjectUnref {
  void operator()(void* p) const { g_object_unref(p); }
};
struct TSurfaceDestroy {
  void operator()(cairo_surface_t* p) const { cairo_surface_destroy(p); }
};
struct TCairoDestroy {
  void operator()(cairo_t* p) const { cairo_destroy(p); }
};

std::string Words(GError* error, const char* fallback) {
  std::string text = error != nullptr && error->message != nullptr ? error->message : fallback;
  if (error != nullptr) g_error_free(error);
  return text;
}

// The picture's own size in pixels; refuses a picture that gives neither a size nor a view box.
void OwnSize(RsvgHandle* handle, double& width, double& height) {
  if (rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height) && width > 0 && height > 0) return;
  gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
  RsvgLength w{}, h{};
  RsvgRectangle viewBox{};
  rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &w, &hasHeight, &h, &hasViewBox, &viewBox);
  if (!hasViewBox || !(viewBox.width > 0) || !(viewBox.height > 0))
    Invalid("the picture gives neither its size nor a view box");
  width = viewBox.width;
  height = viewBox.height;
}

}  // namespace

TGraphic DecodeSvg(std::span<const std::uint8_t> Data) {
  if (Data.empty()) Invalid("the file is empty");
  const std::unique_ptr<GInputStream, TGObjectUnref> stream(
      g_memory_input_stream_new_from_data(Data.data(), static_cast<gssize>(Data.size()), nullptr));
  GError* error = nullptr;
  const std::unique_ptr<RsvgHandle, TGObjectUnref> handle(
      rsvg_handle_new_from_stream_sync(stream.get(), nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &error));
  if (!handle) Invalid(Words(error, "the document cannot be read"));
  rsvg_handle_set_dpi(handle.get(), 96);

  double width = 0, height = 0;
  OwnSize(handle.get(), width, height);
  if (!std::isfinite(width) || !std::isfinite(height)) Invalid("the picture's size is not a number");
  const double ownWidth = std::max(1.0, std::ceil(width - 1e-6)), ownHeight = std::max(1.0, std::ceil(height - 1e-6));
  CheckPictureSize(static_cast<std::int64_t>(std::min(ownWidth, 1e9)), static_cast<std::int64_t>(std::min(ownHeight, 1e9)));

  // Scaled up toward the long side, as far as the side and pixel limits allow.
  const double longSide = std::max(width, height);
  double scale = std::max(1.0, kSvgLongSide / longSide);
  scale = std::min(scale, kMaxPictureSide / longSide);
  scale = std::min(scale, std::sqrt(static_cast<double>(DecodePixelLimit()) / (width * height)));
  scale = std::max(scale, 1.0);
  const int pixelWidth = std::max(1, static_cast<int>(std::floor(width * scale + 0.5)));
  const int pixelHeight = std::max(1, static_cast<int>(std::floor(height * scale + 0.5)));
  if (static_cast<std::int64_t>(pixelWidth) * pixelHeight > DecodePixelLimit() || pixelWidth > kMaxPictureSide ||
      pixelHeight > kMaxPictureSide)
    CheckPictureSize(static_cast<std::int64_t>(ownWidth), static_cast<std::int64_t>(ownHeight));

  const std::unique_ptr<cairo_surface_t, TSurfaceDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) Invalid("there is no memory to draw the picture");
  {
    const std::unique_ptr<cairo_t, TCairoDestroy> cr(cairo_create(surface.get()));
    const RsvgRectangle viewport{0, 0, static_cast<double>(pixelWidth), static_cast<double>(pixelHeight)};
    if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error))
      Invalid(Words(error, "the picture cannot be drawn"));
  }
  cairo_surface_flush(surface.get());

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = pixelWidth;
  g.Height = pixelHeight;
  g.PixelFormat = pf32bit;
  g.Pixels.resize(static_cast<std::size_t>(pixelWidth) * static_cast<std::size_t>(pixelHeight));
  const unsigned char* rows = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  // Cairo keeps colour premultiplied by coverage; bitmaps keep it straight.
  for (int y = 0; y < pixelHeight; ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(rows + static_cast<std::ptrdiff_t>(y) * stride);
    TColor32* out = g.Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pixelWidth);
    for (int x = 0; x < pixelWidth; ++x) out[x] = StraightFromPremultiplied(in[x]);
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
