#include "raster/FilteredWarp.h"

#include <algorithm>
#include <cmath>

#include "raster/Blend.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

// One texel of a 2 x 2 box: the alpha-weighted mean, back to straight alpha.
TColor32 BoxAverage(TColor32 c0, TColor32 c1, TColor32 c2, TColor32 c3) {
  const TColor32 px[4] = {c0, c1, c2, c3};
  if ((c0 & c1 & c2 & c3) >> 24 == 255) {
    TColor32 out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
      std::uint32_t s = 2;
      for (const TColor32 p : px) s += (p >> shift) & 0xFF;
      out |= (s >> 2) << shift;
    }
    return out;
  }
  std::uint32_t alphaSum = 0;
  for (const TColor32 p : px) alphaSum += p >> 24;
  if (alphaSum == 0) return 0;
  TColor32 out = static_cast<TColor32>((alphaSum + 2) >> 2) << 24;
  for (int shift = 0; shift < 24; shift += 8) {
    std::uint32_t s = 0;
    for (const TColor32 p : px) s += ((p >> shift) & 0xFF) * (p >> 24);
    out |= static_cast<TColor32>((s + alphaSum / 2) / alphaSum) << shift;
  }
  return out;
}

inline void AddWeighted(TColor32 c, float w, float acc[4]) {
  const float a = static_cast<float>(c >> 24) * (1.0f / 255.0f) * w;
  acc[0] += static_cast<float>((c >> 16) & 0xFF) * a;
  acc[1] += static_cast<float>((c >> 8) & 0xFF) * a;
  acc[2] += static_cast<float>(c & 0xFF) * a;
  acc[3] += a;
}

inline std::uint32_t ToByte(float v) { return static_cast<std::uint32_t>(std::clamp(v + 0.5f, 0.0f, 255.0f)); }

// Alpha-weighted channels back to a straight-alpha colour.
inline TColor32 FromWeighted(const float acc[4]) {
  const std::uint32_t a = ToByte(acc[3] * 255.0f);
  if (a == 0) return 0;
  const float unweight = 1.0f / acc[3];
  return (a << 24) | (ToByte(acc[0] * unweight) << 16) | (ToByte(acc[1] * unweight) << 8) | ToByte(acc[2] * unweight);
}

// The four opaque neighbours mixed by 8-bit fractions, two channels per 32-bit lane.
inline TColor32 MixOpaqueFour(TColor32 c00, TColor32 c10, TColor32 c01, TColor32 c11, std::uint32_t fx,
                              std::uint32_t fy) {
  const auto lerp = [](TColor32 a, TColor32 b, std::uint32_t f) {
    const std::uint32_t rbA = a & 0x00FF00FFu, rbB = b & 0x00FF00FFu;
    const std::uint32_t gA = (a >> 8) & 0x00FF00FFu, gB = (b >> 8) & 0x00FF00FFu;
    const std::uint32_t rb = ((rbA * (256 - f) + rbB * f + 0x00800080u) >> 8) & 0x00FF00FFu;
    const std::uint32_t g = (gA * (256 - f) + gB * f + 0x00800080u) & 0xFF00FF00u;
    return rb | g;
  };
  return lerp(lerp(c00, c10, fx), lerp(c01, c11, fx), fy) | 0xFF000000u;
}

}  // namespace

TSourcePyramid::TSourcePyramid(const TBitmap32& Src, double MaxFootprint) {
  const TRect clip = IntersectRect(Src.ClipRect(), Src.BoundsRect());
  if (clip.Right <= clip.Left || clip.Bottom <= clip.Top) return;
  TLevel base;
  base.Bits = Src.ScanLine(clip.Top) + clip.Left;
  base.Width = clip.Right - clip.Left;
  base.Height = clip.Bottom - clip.Top;
  base.Stride = Src.Width();
  fLevels.push_back(base);
  double span = 1;
  while (span < MaxFootprint && (fLevels.back().Width > 1 || fLevels.back().Height > 1)) {
    const TLevel& from = fLevels.back();
    TLevel to;
    to.Width = (from.Width + 1) / 2;
    to.Height = (from.Height + 1) / 2;
    to.Stride = to.Width;
    std::vector<TColor32>& store = fStore.emplace_back(static_cast<std::size_t>(to.Width) * to.Height);
    for (std::int32_t y = 0; y < to.Height; ++y) {
      const TColor32* r0 = from.Bits + static_cast<std::size_t>(2 * y) * from.Stride;
      const TColor32* r1 = from.Bits + static_cast<std::size_t>(std::min(2 * y + 1, from.Height - 1)) * from.Stride;
      TColor32* out = store.data() + static_cast<std::size_t>(y) * to.Stride;
      for (std::int32_t x = 0; x < to.Width; ++x) {
        const std::int32_t x0 = 2 * x, x1 = std::min(2 * x + 1, from.Width - 1);
        out[x] = BoxAverage(r0[x0], r0[x1], r1[x0], r1[x1]);
      }
    }
    to.Bits = store.data();
    fLevels.push_back(to);
    span *= 2;
  }
}

void TSourcePyramid::SampleLevel(int L, double X, double Y, float Out[4]) const {
  const TLevel& level = fLevels[static_cast<std::size_t>(L)];
  // Texel centres of level L lie at (i + 0.5) x 2^L - 0.5 in level-0 coordinates.
  const double scale = std::ldexp(1.0, -L);
  const double lx = std::clamp((X + 0.5) * scale - 0.5, 0.0, static_cast<double>(level.Width - 1));
  const double ly = std::clamp((Y + 0.5) * scale - 0.5, 0.0, static_cast<double>(level.Height - 1));
  const auto x0 = static_cast<std::int32_t>(lx), y0 = static_cast<std::int32_t>(ly);
  const std::int32_t x1 = std::min(x0 + 1, level.Width - 1), y1 = std::min(y0 + 1, level.Height - 1);
  const auto fx = static_cast<float>(lx - x0), fy = static_cast<float>(ly - y0);
  const TColor32* r0 = level.Bits + static_cast<std::size_t>(y0) * level.Stride;
  const TColor32* r1 = level.Bits + static_cast<std::size_t>(y1) * level.Stride;
  Out[0] = Out[1] = Out[2] = Out[3] = 0;
  AddWeighted(r0[x0], (1 - fx) * (1 - fy), Out);
  AddWeighted(r0[x1], fx * (1 - fy), Out);
  AddWeighted(r1[x0], (1 - fx) * fy, Out);
  AddWeighted(r1[x1], fx * fy, Out);
}

bool FootprintAxes(const TSingleMatrix& R, double X, double Y, double& Major, double& Minor) {
  const double w = R[0][2] * X + R[1][2] * Y + R[2][2];
  if (w == 0) return false;
  const double sx = (R[0][0] * X + R[1][0] * Y + R[2][0]) / w;
  const double sy = (R[0][1] * X + R[1][1] * Y + R[2][1]) / w;
  // The derivatives of (u / w, v / w) along the destination's x and y.
  const double ax = (R[0][0] - sx * R[0][2]) / w, ay = (R[0][1] - sy * R[0][2]) / w;
  const double bx = (R[1][0] - sx * R[1][2]) / w, by = (R[1][1] - sy * R[1][2]) / w;
  const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  Major = std::max(la, lb);
  Minor = std::min(la, lb);
  return true;
}

namespace {

struct TWarpContext {
  TSingleMatrix R;
  const TSourcePyramid* Pyramid;
  const TColor32* Base;  // level 0 at the clip rectangle's corner
  std::int32_t Stride, Width, Height;
  TRect Clip;
  double Reach;  // source pixels beyond the clip rectangle that still count as inside
  TColor32 Outer;
  bool MayShrink;
  bool Uniform;  // every pixel of the clip rectangle has one colour
};

bool UniformColour(const TBitmap32& Src, const TRect& Clip) {
  const TColor32 first = Src.ScanLine(Clip.Top)[Clip.Left];
  for (std::int32_t y = Clip.Top; y < Clip.Bottom; ++y) {
    const TColor32* row = Src.ScanLine(y);
    for (std::int32_t x = Clip.Left; x < Clip.Right; ++x)
      if (row[x] != first) return false;
  }
  return true;
}

// The sample of one mapped point (sx, sy) in source pixels, relative to the clip corner, with the
// footprint's axes a and b (destination x and y steps in the source).
TColor32 FilteredSample(const TWarpContext& c, double sx, double sy, double ax, double ay, double bx, double by) {
  const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
  if (!c.MayShrink || std::max(la, lb) <= 1.0) {
    // Bilinear between the four nearest pixels, edge pixels repeated.
    const double px = std::clamp(sx, 0.0, static_cast<double>(c.Width - 1));
    const double py = std::clamp(sy, 0.0, static_cast<double>(c.Height - 1));
    const auto x0 = static_cast<std::int32_t>(px), y0 = static_cast<std::int32_t>(py);
    const std::int32_t x1 = std::min(x0 + 1, c.Width - 1), y1 = std::min(y0 + 1, c.Height - 1);
    const TColor32* r0 = c.Base + static_cast<std::size_t>(y0) * c.Stride;
    const TColor32* r1 = c.Base + static_cast<std::size_t>(y1) * c.Stride;
    const TColor32 c00 = r0[x0], c10 = r0[x1], c01 = r1[x0], c11 = r1[x1];
    if ((c00 & c10 & c01 & c11) >> 24 == 255) {
      const auto fx = static_cast<std::uint32_t>((px - x0) * 256 + 0.5);
      const auto fy = static_cast<std::uint32_t>((py - y0) * 256 + 0.5);
      return MixOpaqueFour(c00, c10, c01, c11, fx, fy);
    }
    float acc[4];
    c.Pyramid->SampleLevel(0, sx, sy, acc);
    return FromWeighted(acc);
  }
  // A grid of bilinear samples over the footprint's parallelogram, about one per source pixel, on
  // the finest pyramid level where the grid stays within kMaxFootprintSamples.
  int level = 0;
  double ua = la, ub = lb;
  while (level + 1 < c.Pyramid->LevelCount() && std::ceil(ua) * std::ceil(ub) > kMaxFootprintSamples) {
    ++level;
    ua *= 0.5;
    ub *= 0.5;
  }
  const int na = std::max(1, static_cast<int>(std::ceil(ua - 1e-6)));
  const int nb = std::max(1, static_cast<int>(std::ceil(ub - 1e-6)));
  float acc[4] = {0, 0, 0, 0};
  for (int j = 0; j < nb; ++j) {
    const double tb = (j + 0.5) / nb - 0.5;
    for (int i = 0; i < na; ++i) {
      const double ta = (i + 0.5) / na - 0.5;
      float one[4];
      c.Pyramid->SampleLevel(level, sx + ta * ax + tb * bx, sy + ta * ay + tb * by, one);
      for (int n = 0; n < 4; ++n) acc[n] += one[n];
    }
  }
  const float inverse = 1.0f / static_cast<float>(na * nb);
  for (float& v : acc) v *= inverse;
  return FromWeighted(acc);
}

void FilteredRow(const TWarpContext& c, const TRowCombiner& Combiner, TColor32* Row, std::int32_t Left,
                 std::int32_t Right, std::int32_t J) {
  const TSingleMatrix& R = c.R;
  // Pixels are areas: a destination pixel is sampled at its centre, and source pixel k spans
  // [k, k + 1), so the picture lands where the edge cut (an area coverage) expects it.
  const double y = J + 0.5;
  const double u0 = R[1][0] * y + R[2][0], v0 = R[1][1] * y + R[2][1], w0 = R[1][2] * y + R[2][2];
  constexpr std::int32_t kRun = 64;
  TColor32 colors[kRun];
  for (std::int32_t runStart = Left; runStart < Right; runStart += kRun) {
    const std::int32_t n = std::min(kRun, Right - runStart);
    for (std::int32_t k = 0; k < n; ++k) {
      const double x = runStart + k + 0.5;
      const double w = R[0][2] * x + w0;
      TColor32 color = c.Outer;
      if (w != 0) {
        const double sx = (R[0][0] * x + u0) / w, sy = (R[0][1] * x + v0) / w;
        const double X = std::floor(sx), Y = std::floor(sy);
        if (X >= c.Clip.Left - c.Reach && X < c.Clip.Right + c.Reach && Y >= c.Clip.Top - c.Reach &&
            Y < c.Clip.Bottom + c.Reach) {
          double ax = 0, ay = 0, bx = 0, by = 0;
          if (c.Uniform) {
            colors[k] = *c.Base;
            continue;
          }
          if (c.MayShrink) {
            ax = (R[0][0] - sx * R[0][2]) / w;
            ay = (R[0][1] - sy * R[0][2]) / w;
            bx = (R[1][0] - sx * R[1][2]) / w;
            by = (R[1][1] - sy * R[1][2]) / w;
          }
          color = FilteredSample(c, sx - 0.5 - c.Clip.Left, sy - 0.5 - c.Clip.Top, ax, ay, bx, by);
        }
      }
      colors[k] = color;
    }
    Combiner.Put(colors, Row + runStart, n);
  }
}

}  // namespace

TRect WarpFiltered(TBitmap32& Dst, const TBitmap32& Src, TProjectiveTransformation& Mapping, const TRect& DstClip,
                   std::int32_t EdgeReach) {
  TRect bounds = Mapping.GetTransformedBounds();
  if (EdgeReach > 0) bounds = TRect{bounds.Left - EdgeReach, bounds.Top - EdgeReach, bounds.Right + EdgeReach, bounds.Bottom + EdgeReach};
  TRect area = IntersectRect(IntersectRect(bounds, Dst.ClipRect()), DstClip);
  if (area.Right < area.Left || area.Bottom < area.Top) return TRect{};
  if (!Mapping.MatricesValid()) Mapping.UpdateMatrices();
  const TRect rows = IntersectRect(area, Dst.BoundsRect());
  const TRect clip = IntersectRect(Src.ClipRect(), Src.BoundsRect());
  if (rows.Right > rows.Left && rows.Bottom > rows.Top) {
    TWarpContext c{};
    c.R = Mapping.ReverseMatrix();
    c.Clip = clip;
    c.Outer = Src.OuterColor();
    // The deepest level any pixel of the face needs: footprints are largest at the corners.
    double deepest = 1, widest = 1;
    bool shrinks = false;
    const float corners[4][2] = {{Mapping.X0(), Mapping.Y0()},
                                 {Mapping.X1(), Mapping.Y1()},
                                 {Mapping.X2(), Mapping.Y2()},
                                 {Mapping.X3(), Mapping.Y3()}};
    for (const auto& p : corners) {
      double major = 0, minor = 0;
      if (!FootprintAxes(c.R, p[0], p[1], major, minor) || !std::isfinite(major)) continue;
      deepest = std::max(deepest, std::sqrt(major * minor / kMaxFootprintSamples));
      shrinks = shrinks || major > 1;
      widest = std::max(widest, major);
    }
    c.Reach = EdgeReach > 0 ? std::ceil(EdgeReach * std::min(widest, 1e6)) : 0;
    const bool empty = clip.Right <= clip.Left || clip.Bottom <= clip.Top;
    // A picture of one colour (a shadow, a colour slot) looks the same however it is filtered: its
    // colour is put straight, without a pyramid.
    c.Uniform = !empty && UniformColour(Src, clip);
    if (c.Uniform) deepest = 1;
    const TSourcePyramid pyramid(Src, empty ? 1 : std::min(deepest, 1e6));
    c.Pyramid = &pyramid;
    c.MayShrink = shrinks;
    if (!empty) {
      c.Base = Src.ScanLine(clip.Top) + clip.Left;
      c.Stride = Src.Width();
      c.Width = clip.Right - clip.Left;
      c.Height = clip.Bottom - clip.Top;
    } else {
      c.Clip = TRect{};  // nothing is inside: every pixel takes the outer colour
    }
    const TRowCombiner combiner(Src, Src.DrawMode(), Src.OnPixelCombine, TBlendRule::Pixel);
    auto band = [&](std::int32_t from, std::int32_t to) noexcept {
      for (std::int32_t j = from; j < to; ++j) FilteredRow(c, combiner, Dst.ScanLine(j), rows.Left, rows.Right, j);
    };
    if (combiner.RowsIndependent() && &Src != &Dst)
      ParallelFor(rows.Top, rows.Bottom, 32, band);
    else
      band(rows.Top, rows.Bottom);
  }
  Dst.AreaChanged(area);
  return area;
}

}  // namespace quirlon::raster
