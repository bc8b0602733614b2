#include "core/CoverWrap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/ProductError.h"
#include "core/ProductValues.h"

namespace quirlon::core {

namespace {

std::string Millimetres(double Value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g mm", Value);
  return text;
}

// The first and one past the last pixel lying wholly between From and To (in pixels).
void InsidePixels(double From, double To, std::int32_t& First, std::int32_t& End) {
  constexpr double kSlack = 1e-6;  // boundaries that fall on a pixel edge keep that pixel
  First = static_cast<std::int32_t>(std::ceil(From - kSlack));
  End = static_cast<std::int32_t>(std::floor(To + kSlack));
}

void CopyPart(const raster::TBitmap32& Wrap, std::int32_t Left, std::int32_t Right, std::int32_t Top,
              std::int32_t Bottom, raster::TBitmap32& Part) {
  Part.SetSize(Right - Left, Bottom - Top);
  for (std::int32_t y = Top; y < Bottom; ++y)
    std::copy(Wrap.ScanLine(y) + Left, Wrap.ScanLine(y) + Right, Part.ScanLine(y - Top));
}

}  // namespace

void SplitCoverWrap(const raster::TBitmap32& Wrap, const std::string& Name, const TCoverWrap& Layout,
                    raster::TBitmap32& Back, raster::TBitmap32& Spine, raster::TBitmap32& Front) {
  const std::string wrapName = "Cover wrap \"" + Name + "\"";
  auto check = [&](const char* what, double value, double min, double max) {
    if (!(value >= min && value <= max))
      throw EBadProductValue(wrapName + ": " + what + " " + Millimetres(value) + " is out of range (" +
                             Millimetres(min) + " to " + Millimetres(max) + ")");
  };
  check("trim width", Layout.TrimWidth, kMinSide, kMaxSide);
  check("trim height", Layout.TrimHeight, kMinSide, kMaxSide);
  check("spine", Layout.Spine, kMinDepth, kMaxDepth);
  check("bleed", Layout.Bleed, 0, kMaxBleed);
  if (Wrap.Width() <= 0 || Wrap.Height() <= 0) throw EBadProductValue(wrapName + " has no pixels");

  const double width = 2 * Layout.Bleed + 2 * Layout.TrimWidth + Layout.Spine;
  const double height = 2 * Layout.Bleed + Layout.TrimHeight;
  const double wrapRatio = static_cast<double>(Wrap.Width()) / Wrap.Height(), layoutRatio = width / height;
  if (std::fabs(wrapRatio / layoutRatio - 1) > kWrapTolerance) {
    const double fittingSpine = wrapRatio * height - 2 * Layout.Bleed - 2 * Layout.TrimWidth;
    char message[512];
    std::snprintf(message, sizeof message,
                  "%s is %d x %d pixels, %.4g:1, but trim %.4g x %.4g mm, spine %.4g mm and bleed %.4g mm make "
                  "%.4g:1 (%.1f %% off, more than %g %%); at %d pixels high it would be %.0f pixels wide",
                  wrapName.c_str(), Wrap.Width(), Wrap.Height(), wrapRatio, Layout.TrimWidth, Layout.TrimHeight,
                  Layout.Spine, Layout.Bleed, layoutRatio, std::fabs(wrapRatio / layoutRatio - 1) * 100,
                  kWrapTolerance * 100, Wrap.Height(), layoutRatio * Wrap.Height());
    std::string text = message;
    if (fittingSpine > 0) text += "; a spine of " + Millimetres(fittingSpine) + " would fit";
    throw EBadProductValue(text);
  }

  const double across = Wrap.Width() / width, down = Wrap.Height() / height;
  std::int32_t top, bottom;
  InsidePixels(Layout.Bleed * down, (Layout.Bleed + Layout.TrimHeight) * down, top, bottom);
  const double edges[] = {Layout.Bleed, Layout.Bleed + Layout.TrimWidth, Layout.Bleed + Layout.TrimWidth + Layout.Spine,
                          Layout.Bleed + 2 * Layout.TrimWidth + Layout.Spine};
  raster::TBitmap32* parts[] = {&Back, &Spine, &Front};
  static const char* const kPartNames[] = {"back cover", "spine", "front cover"};
  for (int i = 0; i < 3; ++i) {
    std::int32_t left, right;
    InsidePixels(edges[i] * across, edges[i + 1] * across, left, right);
    if (right <= left || bottom <= top)
      throw EBadProductValue(wrapName + ": its " + kPartNames[i] + " is less than a pixel wide at " +
                             std::to_string(Wrap.Width()) + " x " + std::to_string(Wrap.Height()) + " pixels");
    CopyPart(Wrap, left, right, top, bottom, *parts[i]);
  }
}

}  // namespace quirlon::core
