#include "core/DiscArtwork.h"

#include <algorithm>
#include <vector>

#include "raster/Errors.h"

// AGG's path reader leaves its vertex outputs to the vertex source, which GCC cannot see through.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "agg_basics.h"
#include "agg_color_rgba.h"
#include "agg_conv_stroke.h"
#include "agg_conv_transform.h"
#include "agg_ellipse.h"
#include "agg_image_accessors.h"
#include "agg_path_storage.h"
#include "agg_pixfmt_rgba.h"
#include "agg_rasterizer_scanline_aa.h"
#include "agg_renderer_base.h"
#include "agg_renderer_scanline.h"
#include "agg_rendering_buffer.h"
#include "agg_scanline_u.h"
#include "agg_span_allocator.h"
#include "agg_span_image_filter_rgba.h"
#include "agg_span_interpolator_linear.h"
#include "agg_trans_affine.h"
#pragma GCC diagnostic pop

namespace quirlon::core {

using raster::TBitmap32;
using raster::TColor32;

namespace {

// TColor32 is stored as bytes B, G, R, A. While drawing the buffer holds premultiplied colours, as
// AGG's composition operations expect; the finished picture is turned back into straight alpha.
using TOrder = agg::order_bgra;
using TPixFmt = agg::pixfmt_custom_blend_rgba<agg::comp_op_adaptor_rgba_pre<agg::rgba8, TOrder>, agg::rendering_buffer>;
using TImagePixFmt = agg::pixfmt_alpha_blend_rgba<agg::blender_rgba_pre<agg::rgba8, TOrder>, agg::rendering_buffer>;
using TRendererBase = agg::renderer_base<TPixFmt>;

// Lengths are doubles; the expressions that make them are evaluated in extended precision.
inline double Dbl(long double v) { return static_cast<double>(v); }

enum TBlendMode : unsigned {
  BlendAlpha = agg::comp_op_src_over,
  BlendSrcIn = agg::comp_op_src_in,
  BlendSrcOut = agg::comp_op_src_out,
  BlendDstOut = agg::comp_op_dst_out,
  BlendDarken = agg::comp_op_darken,
};

static_assert(sizeof(TColor32) == 4, "pixels are four bytes");

// The handful of canvas operations the disc needs, on AGG's rasterizer, scanline renderer, rgba
// composition operations and bilinear image filter. Starts with line width 1, non-zero filling,
// plain alpha blending, no line and no fill, identity world transformation and no gamma.
class TDiscCanvas {
public:
  explicit TDiscCanvas(TBitmap32& bitmap)
      : fBuffer(reinterpret_cast<agg::int8u*>(bitmap.Bits()), static_cast<unsigned>(bitmap.Width()),
                static_cast<unsigned>(bitmap.Height()), bitmap.Width() * 4),
        fPixFmt(fBuffer, BlendAlpha),
        fRenderer(fPixFmt) {
    fRasterizer.filling_rule(agg::fill_non_zero);
  }

  void ClearAll(int r, int g, int b, int a) { fRenderer.clear(Premultiplied(r, g, b, a)); }
  void Scale(double sx, double sy) { fWorld *= agg::trans_affine_scaling(sx, sy); }
  void NoLine() { fLineOn = false; }
  void NoFill() { fFillOn = false; }
  void FillColor(int r, int g, int b, int a) {
    fFill = Premultiplied(r, g, b, a);
    fFillOn = true;
  }
  void LineColor(int r, int g, int b, int a) {
    fLine = Premultiplied(r, g, b, a);
    fLineOn = true;
  }
  void LineWidth(double w) { fLineWidth = w; }
  double LineWidth() const { return fLineWidth; }
  void SetBlendMode(TBlendMode mode) { fPixFmt.comp_op(mode); }

  // Fills with the fill colour, then strokes with the line colour, each unless switched off.
  void Ellipse(double cx, double cy, double rx, double ry) {
    agg::ellipse shape(cx, cy, rx, ry);
    shape.approximation_scale(WorldScale());
    if (fFillOn) {
      agg::conv_transform<agg::ellipse> device(shape, fWorld);
      fRasterizer.reset();
      fRasterizer.add_path(device);
      agg::render_scanlines_aa_solid(fRasterizer, fScanline, fRenderer, fFill);
    }
    if (fLineOn) {
      agg::conv_stroke<agg::ellipse> stroke(shape);
      stroke.width(fLineWidth);
      stroke.approximation_scale(WorldScale());
      agg::conv_transform<agg::conv_stroke<agg::ellipse>> device(stroke, fWorld);
      fRasterizer.reset();
      fRasterizer.add_path(device);
      agg::render_scanlines_aa_solid(fRasterizer, fScanline, fRenderer, fLine);
    }
  }

  // A stroke of the current width lying just inside radius r.
  void StrokeCircleInside(double cx, double cy, double r) {
    const double radius = Dbl(static_cast<long double>(r) - static_cast<long double>(fLineWidth) / 2);
    Ellipse(cx, cy, radius, radius);
  }

  // Draws all of image stretched onto the world rectangle (x1, y1)-(x2, y2), bilinear filtered.
  // The image is premultiplied here; its edge pixels repeat outwards for the filter.
  void TransformImage(const TBitmap32& image, double x1, double y1, double x2, double y2) {
    const std::int32_t iw = image.Width();
    const std::int32_t ih = image.Height();
    if (iw <= 0 || ih <= 0 || image.Bits() == nullptr) return;
    std::vector<TColor32> copy(image.Bits(), image.Bits() + image.PixelCount());
    agg::rendering_buffer imageBuffer(reinterpret_cast<agg::int8u*>(copy.data()), static_cast<unsigned>(iw),
                                      static_cast<unsigned>(ih), iw * 4);
    for (auto& p : copy) agg::multiplier_rgba<agg::rgba8, TOrder>::premultiply(reinterpret_cast<agg::int8u*>(&p));

    agg::trans_affine imageToDevice = agg::trans_affine_scaling((x2 - x1) / iw, (y2 - y1) / ih);
    imageToDevice *= agg::trans_affine_translation(x1, y1);
    imageToDevice *= fWorld;
    agg::trans_affine deviceToImage = imageToDevice;
    deviceToImage.invert();

    agg::path_storage rectangle;
    rectangle.move_to(x1, y1);
    rectangle.line_to(x2, y1);
    rectangle.line_to(x2, y2);
    rectangle.line_to(x1, y2);
    rectangle.close_polygon();
    agg::conv_transform<agg::path_storage> device(rectangle, fWorld);

    TImagePixFmt imagePixels(imageBuffer);
    agg::image_accessor_clone<TImagePixFmt> source(imagePixels);
    agg::span_interpolator_linear<> interpolator(deviceToImage);
    agg::span_image_filter_rgba_bilinear<agg::image_accessor_clone<TImagePixFmt>, agg::span_interpolator_linear<>>
        filter(source, interpolator);
    agg::span_allocator<agg::rgba8> allocator;

    fRasterizer.reset();
    fRasterizer.add_path(device);
    agg::render_scanlines_aa(fRasterizer, fScanline, fRenderer, allocator, filter);
  }

private:
  static agg::rgba8 Premultiplied(int r, int g, int b, int a) {
    agg::rgba8 c(static_cast<agg::int8u>(r), static_cast<agg::int8u>(g), static_cast<agg::int8u>(b),
                 static_cast<agg::int8u>(a));
    return c.premultiply();
  }
  double WorldScale() const { return std::max(1.0, fWorld.scale()); }

  agg::rendering_buffer fBuffer;
  TPixFmt fPixFmt;
  TRendererBase fRenderer;
  agg::rasterizer_scanline_aa<> fRasterizer;
  agg::scanline_u8 fScanline;
  agg::trans_affine fWorld;
  agg::rgba8 fFill{0, 0, 0, 0};
  agg::rgba8 fLine{0, 0, 0, 0};
  bool fFillOn = false;
  bool fLineOn = false;
  double fLineWidth = 1.0;
};

// The straight-alpha form of the finished premultiplied picture.
void Demultiply(TBitmap32& bitmap) {
  auto* p = reinterpret_cast<agg::int8u*>(bitmap.Bits());
  for (std::size_t i = 0; i < bitmap.PixelCount(); ++i, p += 4)
    agg::multiplier_rgba<agg::rgba8, TOrder>::demultiply(p);
}

enum class TDiscKind { Normal, LargeArea };

std::unique_ptr<TBitmap32> DrawDisc(TDiscKind kind, const TBitmap32& source, std::int32_t width,
                                    std::int32_t height) {
  CheckDiscArtworkSize(width, height);
  auto artwork = std::make_unique<TBitmap32>();
  artwork->SetSize(width, height);
  if (width <= 0 || height <= 0 || artwork->Bits() == nullptr) return artwork;

  const double c = std::max(width, height);
  TDiscCanvas canvas(*artwork);
  canvas.ClearAll(0, 0, 0, 0);
  canvas.Scale(Dbl(static_cast<long double>(width) / c), Dbl(static_cast<long double>(height) / c));
  const double e = c / 2;

  // An opaque disc, a hole punched for the hub, and the picture kept only where the ring is.
  canvas.NoLine();
  canvas.FillColor(0, 0, 0, 255);
  canvas.Ellipse(e, e, e, e);
  canvas.SetBlendMode(BlendSrcOut);
  const double h = kind == TDiscKind::Normal
                       ? static_cast<double>(0.4L * e)
                       : static_cast<double>(0.4L * e * 3 / 8);
  const long double H = h;
  canvas.Ellipse(e, e, h, h);
  canvas.SetBlendMode(BlendSrcIn);
  canvas.TransformImage(source, 0, 0, c, c);

  if (kind == TDiscKind::Normal) {
    // Translucent hub with its rings, then the spindle hole.
    canvas.SetBlendMode(BlendAlpha);
    canvas.FillColor(0, 0, 0, 70);
    canvas.Ellipse(e, e, h, h);
    canvas.LineColor(0, 0, 0, 70);
    canvas.LineWidth(Dbl(H / 8));
    canvas.NoFill();
    canvas.StrokeCircleInside(e, e, h);
    canvas.LineWidth(Dbl(H / 24));
    canvas.StrokeCircleInside(e, e, Dbl(5 * H / 6));
    canvas.StrokeCircleInside(e, e, Dbl(3 * H / 5));
    canvas.StrokeCircleInside(e, e, Dbl(3 * H / 8));
    canvas.NoLine();
    canvas.SetBlendMode(BlendDstOut);
    canvas.FillColor(0, 0, 0, 255);
    canvas.Ellipse(e, e, Dbl(5 * H / 16), Dbl(5 * H / 16));
  } else {
    // Only a thin dark edge around the open centre.
    canvas.SetBlendMode(BlendAlpha);
    canvas.LineColor(0, 0, 0, 150);
    canvas.NoFill();
    canvas.StrokeCircleInside(e, e, h);
  }

  // The darkened rim along the outer edge.
  canvas.SetBlendMode(BlendDarken);
  canvas.NoFill();
  canvas.LineColor(0, 0, 0, 50);
  canvas.LineWidth(Dbl(static_cast<long double>(e) / 40));
  canvas.StrokeCircleInside(e, e, e);

  Demultiply(*artwork);
  artwork->Changed();
  return artwork;
}

}  // namespace

void CheckDiscArtworkSize(std::int32_t Width, std::int32_t Height) {
  if (Width > kMaxDiscSide || Height > kMaxDiscSide)
    throw EOutOfResources(Format(kDiscTooLarge, Width, Height, kMaxDiscSide));
}

std::unique_ptr<TBitmap32> DrawDiscArtwork(const TBitmap32& Source, std::int32_t Width, std::int32_t Height) {
  return DrawDisc(TDiscKind::Normal, Source, Width, Height);
}

std::unique_ptr<TBitmap32> DrawLargeDiscArtwork(const TBitmap32& Source, std::int32_t Width, std::int32_t Height) {
  return DrawDisc(TDiscKind::LargeArea, Source, Width, Height);
}

}  // namespace quirlon::core
