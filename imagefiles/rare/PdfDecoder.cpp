// PDF through poppler: the first page on white paper, at kPdfDpi, turned as the page says. The page
// size comes from its crop box and is checked before anything is drawn: a page too large for the
// picture limits at kPdfDpi is drawn at the highest resolution that fits, down to its own size in
// points (72 dpi); a page beyond the limits even then is refused. Password-protected and unreadable
// documents are refused with a message that says so; poppler's own complaints are not printed.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr double kPdfDpi = 300;

[[noreturn]] void Invalid(const std::string& reason) { Refuse(reason, Format(kInvalidImageFormat, "PDF")); }

void Quiet(const std::string&, void*) {}

void SilencePoppler() {
  static const bool silenced = [] {
    poppler::set_debug_error_function(&Quiet, nullptr);
    return true;
  }();
  (void)silenced;
}

std::int64_t Pixels(double points, double dpi) { return static_cast<std::int64_t>(std::ceil(points * dpi / 72 - 1e-9)); }

}  // namespace

TGraphic DecodePdf(std::span<const std::uint8_t> Data) {
  SilencePoppler();
  if (Data.size() > static_cast<std::size_t>(INT32_MAX)) Invalid("the document is too large");
  const std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(reinterpret_cast<const char*>(Data.data()), static_cast<int>(Data.size())));
  if (!document) Invalid("the document is damaged or protected by a password");
  if (document->is_locked()) Invalid("the document is protected by a password");
  if (document->pages() < 1) Invalid("the document has no pages");
  const std::unique_ptr<poppler::page> page(document->create_page(0));
  if (!page) Invalid("the first page cannot be read");

  const poppler::rectf box = page->page_rect(poppler::crop_box);
  double width = std::abs(box.width()), height = std::abs(box.height());
  if (!(width >= 1) || !(height >= 1) || !std::isfinite(width) || !std::isfinite(height))
    Invalid("the first page has no size");
  const poppler::page::orientation_enum turn = page->orientation();
  if (turn == poppler::page::landscape || turn == poppler::page::seascape) std::swap(width, height);

  // The page at its own size in points must fit; the resolution then comes down from kPdfDpi to fit.
  CheckPictureSize(Pixels(width, 72), Pixels(height, 72));
  double dpi = kPdfDpi;
  dpi = std::min(dpi, kMaxPictureSide * 72.0 / std::max(width, height));
  dpi = std::min(dpi, 72.0 * std::sqrt(static_cast<double>(DecodePixelLimit()) / (width * height)));
  dpi = std::max(72.0, std::floor(dpi * 100) / 100);
  // Rounding up to whole pixels may still pass the limit by a row.
  for (int i = 0; i < 100 && dpi > 72 && Pixels(width, dpi) * Pixels(height, dpi) > DecodePixelLimit(); ++i)
    dpi = std::max(72.0, dpi - 0.01);
  const std::int64_t pixelWidth = Pixels(width, dpi), pixelHeight = Pixels(height, dpi);
  CheckPictureSize(pixelWidth, pixelHeight);

  poppler::page_renderer renderer;
  renderer.set_render_hints(poppler::page_renderer::antialiasing | poppler::page_renderer::text_antialiasing);
  renderer.set_image_format(poppler::image::format_argb32);
  renderer.set_paper_color(0xFFFFFFFFu);
  const poppler::image image = renderer.render_page(page.get(), dpi, dpi);
  if (!image.is_valid() || image.width() <= 0 || image.height() <= 0) Invalid("the first page cannot be drawn");
  if (image.width() > pixelWidth + 1 || image.height() > pixelHeight + 1)
    Invalid("the drawn page is larger than its size says");

  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = image.width();
  g.Height = image.height();
  g.PixelFormat = pf24bit;
  g.Pixels.resize(static_cast<std::size_t>(g.Width) * static_cast<std::size_t>(g.Height));
  // B, G, R, A bytes in memory, as a TColor32; the paper is opaque.
  for (int y = 0; y < g.Height; ++y)
    std::memcpy(g.Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(g.Width),
                image.const_data() + static_cast<std::ptrdiff_t>(y) * image.bytes_per_row(),
                static_cast<std::size_t>(g.Width) * sizeof(TColor32));
  return g;
}

}  // namespace quirlon::imagefiles::detail
