#include "raster/Polygon32.h"

#include <algorithm>
#include <exception>
#include <cmath>
#include <limits>
#include <utility>

#include "raster/Blend.h"
#include "raster/Numeric.h"
#include "raster/Parallel.h"

namespace quirlon::raster {

namespace {

// Per sub-sampling level: sub-lines per pixel L, s = log2 L, and the coverage scale M chosen so that
// a fully covered pixel (L x (L - 1) units) lands on alpha 255 (251 at 32 sub-lines).
struct TSubsampleLevel {
  std::int32_t L;
  std::int32_t s;
  std::uint32_t M;
};
constexpr TSubsampleLevel kSubsampleLevels[5] = {{32, 5, 65}, {16, 4, 273}, {8, 3, 1167}, {4, 2, 5460}, {2, 1, 32662}};

constexpr std::int32_t kFarPositive = 2130706432;
constexpr std::int32_t kFarNegative = -2130706432;
constexpr std::uint32_t kUpward = 0x80000000u;
constexpr std::uint32_t kPositionMask = 0x7FFFFFFFu;

// Vertex offsets wrap like the 32-bit registers they were designed for instead of being undefined.
std::int32_t AddWrap(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

TFixedPoint Offset(const TFixedPoint& P, std::int32_t dx, std::int32_t dy) {
  return TFixedPoint{AddWrap(P.X, dx), AddWrap(P.Y, dy)};
}

std::int32_t ShiftDown(std::int64_t v, int shift) { return static_cast<std::int32_t>(v >> shift); }

int Sign(std::int64_t v) { return (v > 0) - (v < 0); }

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {  // b > 0
  std::int64_t q = a / b;
  if ((a % b) != 0 && a < 0) --q;
  return q;
}

// One list of crossing records per scanline (sub-scanline for the smooth fill), BaseY first.
// A record is the clamped column with kUpward set for edges that run up the screen.
// The crossings of one sub-scanline. A convex outline crosses each twice and a band four times, so
// a few are kept in place; only longer lists take memory of their own (one allocation per
// sub-scanline made filling a tall shape mostly a matter of the allocator).
class TCrossingList {
public:
  std::size_t size() const { return fCount; }
  const std::uint32_t* begin() const { return fCount <= kInline ? fInline : fMore.data(); }
  const std::uint32_t* end() const { return begin() + fCount; }
  std::uint32_t* begin() { return fCount <= kInline ? fInline : fMore.data(); }
  std::uint32_t* end() { return begin() + fCount; }
  std::uint32_t operator[](std::size_t i) const { return begin()[i]; }
  std::uint32_t front() const { return *begin(); }
  std::uint32_t back() const { return begin()[fCount - 1]; }
  void push_back(std::uint32_t v) {
    if (fCount < kInline) {
      fInline[fCount++] = v;
      return;
    }
    if (fCount == kInline) fMore.assign(fInline, fInline + kInline);
    fMore.push_back(v);
    ++fCount;
  }

private:
  static constexpr std::size_t kInline = 6;
  std::uint32_t fInline[kInline];
  std::size_t fCount = 0;
  std::vector<std::uint32_t> fMore;
};

class TScanlineTable {
public:
  // Lists for scanlines baseY .. maxY; crossings outside them are dropped, columns clamped into
  // baseX .. maxX.
  TScanlineTable(std::int32_t baseX, std::int32_t baseY, std::int32_t maxY, std::int32_t maxX)
      : fBaseX(baseX), fBaseY(baseY), fMaxY(maxY), fMaxX(maxX),
        fLists(static_cast<std::size_t>(static_cast<std::int64_t>(maxY) - baseY + 1)) {}

  std::int32_t BaseY() const { return fBaseY; }
  std::size_t Count() const { return fLists.size(); }
  const TCrossingList& List(std::size_t i) const { return fLists[i]; }

  void AddCrossing(std::int32_t X, std::int32_t Y, int D) {
    if (Y < fBaseY || Y > fMaxY) return;
    X = std::clamp(X, fBaseX, fMaxX);
    fLists[static_cast<std::size_t>(Y - fBaseY)].push_back(static_cast<std::uint32_t>(X) | (D < 0 ? kUpward : 0u));
  }

  // Bresenham-like walk over the sub-scanlines from Y1 towards Y2 (Y2 itself excluded).
  int TraceEdge(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2) {
    if (Y1 == Y2) return 0;
    const std::int64_t dy = std::llabs(static_cast<std::int64_t>(Y2) - Y1);
    const int sy = Y2 > Y1 ? 1 : -1;
    const std::int64_t dx = std::llabs(static_cast<std::int64_t>(X2) - X1);
    const int sx = X2 > X1 ? 1 : -1;
    std::int64_t e = (dx % dy) >> 1;
    std::int64_t x = X1;
    std::int64_t y = Y1;
    for (std::int64_t i = 0; i < dy; ++i) {
      AddCrossing(static_cast<std::int32_t>(std::clamp<std::int64_t>(x, INT32_MIN, INT32_MAX)),
                  static_cast<std::int32_t>(y), sy);
      y += sy;
      e += dx;
      if (e > dy) {
        x += sx;
        e -= dy;
        if (e > dy) {
          x += sx;
          e -= dy;
          if (e > dy) {
            const std::int64_t k = (e + dy - 1) / dy;
            x += sx * k;
            e -= dy * k;
          }
        }
      }
    }
    return sy;
  }

  // Traces a closed contour of 3+ points. Where the vertical direction reverses, an extra crossing
  // cancels the lone crossing the next edge leaves on the vertex's sub-scanline, keeping every list even.
  void AddContourEdges(const std::vector<TPoint>& points) {
    const std::size_t n = points.size();
    std::int32_t x1 = points[0].X;
    std::int32_t y1 = points[0].Y;
    int d0 = 0;
    for (std::size_t i = n - 1; i >= 1; --i) {
      d0 = Sign(static_cast<std::int64_t>(y1) - points[i].Y);
      if (d0 != 0) break;
    }
    auto edgeTo = [&](std::int32_t x2, std::int32_t y2) {
      if (y2 != y1) {
        const int d = TraceEdge(x1, y1, x2, y2);
        if (d != d0) {
          AddCrossing(x1, y1, -d);
          d0 = d;
        }
      }
      x1 = x2;
      y1 = y2;
    };
    for (std::size_t j = 1; j < n; ++j) edgeTo(points[j].X, points[j].Y);
    edgeTo(points[0].X, points[0].Y);
  }

  void Sort() {
    const auto before = [](std::uint32_t a, std::uint32_t b) { return (a & kPositionMask) < (b & kPositionMask); };
    for (auto& list : fLists) {
      // Most lists hold one pair: order it as the sort would (equal positions stay as they are).
      if (list.size() == 2) {
        std::uint32_t* p = list.begin();
        if (before(p[1], p[0])) std::swap(p[0], p[1]);
      } else if (list.size() > 2) {
        std::sort(list.begin(), list.end(), before);
      }
    }
  }

  // The hard fill's edge: one crossing per pixel row whose centre lies between the end points, at
  // the edge's column through that centre, floored to 1/256 pixel. Columns are in 1/256 pixel.
  void AddPixelEdge(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2) {
    if (Y1 == Y2) return;
    const int d = Y2 > Y1 ? 1 : -1;
    const std::int64_t top = std::max<std::int64_t>(std::min(Y1, Y2), fBaseY);
    const std::int64_t bottom = std::min<std::int64_t>(std::max(Y1, Y2), static_cast<std::int64_t>(fMaxY) + 1);
    const std::int64_t ddx = static_cast<std::int64_t>(X2) - X1;
    const std::int64_t ddy = static_cast<std::int64_t>(Y2) - Y1;
    for (std::int64_t r = top; r < bottom; ++r) {
      // x at row centre r + 1/2: X1 + ddx (2 (r - Y1) + 1) / (2 ddy), times 256.
      std::int64_t num = ddx * 256 * (2 * (r - Y1) + 1);
      std::int64_t den = 2 * ddy;
      if (den < 0) {
        num = -num;
        den = -den;
      }
      const std::int64_t x = static_cast<std::int64_t>(X1) * 256 + FloorDiv(num, den);
      const std::int32_t clamped = static_cast<std::int32_t>(std::clamp<std::int64_t>(x, fBaseX, fMaxX));
      fLists[static_cast<std::size_t>(r - fBaseY)].push_back(static_cast<std::uint32_t>(clamped) |
                                                              (d < 0 ? kUpward : 0u));
    }
  }

private:
  std::int32_t fBaseX, fBaseY, fMaxY, fMaxX;
  std::vector<TCrossingList, TScratchAllocator<TCrossingList>> fLists;
};

// Walks the sorted records of one list by the fill rule, calling start(x) where a filled stretch
// begins and stop(x) where it ends. An unmatched last start gets no stop.
template <typename Start, typename Stop>
void ForEachSpan(const TCrossingList& list, TFillRule rule, Start&& start, Stop&& stop) {
  if (rule == frEvenOdd) {
    for (std::size_t i = 0; i < list.size(); i += 2) {
      start(static_cast<std::int32_t>(list[i] & kPositionMask));
      if (i + 1 < list.size()) stop(static_cast<std::int32_t>(list[i + 1] & kPositionMask));
    }
  } else {
    int w = 0;
    for (const std::uint32_t r : list) {
      const int d = (r & kUpward) ? 1 : -1;
      if (w == 0) start(static_cast<std::int32_t>(r & kPositionMask));
      w += d;
      if (w == 0) stop(static_cast<std::int32_t>(r & kPositionMask));
    }
  }
}

// The bounding rectangle of the untransformed vertices, rounded outward to whole pixels.
bool VertexBounds(const TArrayOfArrayOfFixedPoint& contours, TRect& bounds) {
  std::int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
  bool any = false;
  for (const auto& contour : contours)
    for (const auto& p : contour) {
      any = true;
      minX = std::min(minX, p.X);
      minY = std::min(minY, p.Y);
      maxX = std::max(maxX, p.X);
      maxY = std::max(maxY, p.Y);
    }
  if (!any) return false;
  bounds = TRect{ShiftDown(minX, 16), ShiftDown(minY, 16), ShiftDown(static_cast<std::int64_t>(maxX) + 65535, 16),
                 ShiftDown(static_cast<std::int64_t>(maxY) + 65535, 16)};
  return true;
}

TFixedPoint MapVertex(const TFixedPointMapping& transformation, const TFixedPoint& p) {
  return transformation ? transformation(p) : p;
}

// BeginUpdate / EndUpdate that also balances when an error passes.
class TUpdateScope {
public:
  explicit TUpdateScope(TBitmap32& bitmap) : fBitmap(bitmap) { fBitmap.BeginUpdate(); }
  ~TUpdateScope() { fBitmap.EndUpdate(); }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
  TBitmap32& fBitmap;
};

struct TFillTarget {
  TBitmap32& Bitmap;
  TColor32 Color;
  const TFillLineEvent* Filler;  // when set, rows go to it instead of the bitmap
};

void SmoothFill(const TFillTarget& target, const TArrayOfArrayOfFixedPoint& contours, TFillRule rule,
                TSubsampleMode mode, const TFixedPointMapping& transformation) {
  TBitmap32& bitmap = target.Bitmap;
  const TSubsampleLevel level = kSubsampleLevels[mode <= ss2x ? mode : ss8x];
  const std::int32_t L = level.L;
  const std::int32_t s = level.s;

  std::vector<std::vector<TPoint>> converted;
  std::int32_t minY = kFarPositive, maxY = kFarNegative;
  for (const auto& contour : contours) {
    if (contour.size() < 3) continue;
    auto& points = converted.emplace_back();
    points.reserve(contour.size());
    for (const auto& v : contour) {
      const TFixedPoint p = MapVertex(transformation, v);
      const TPoint q{ShiftDown(static_cast<std::int64_t>(p.X) + 2047, 16 - s),
                     ShiftDown(static_cast<std::int64_t>(p.Y) + 2047, 16 - s)};
      minY = std::min(minY, q.Y);
      maxY = std::max(maxY, q.Y);
      points.push_back(q);
    }
  }

  const TRect clip = bitmap.ClipRect();
  if (clip.IsEmpty() || bitmap.Empty()) return;
  const std::int32_t vertexMinY = minY, vertexMaxY = maxY;
  const TUpdateScope update(bitmap);
  // Rows [bandTop, bandBottom) of the clip. A pixel row's coverage depends only on the crossings
  // of its own sub-scanlines, so bands of rows can be filled apart, each with its own table.
  auto fillBand = [&](std::int32_t bandTop, std::int32_t bandBottom) {
    const std::int32_t lowest = bandTop << s;
    const std::int32_t highest = (bandBottom << s) - 1;
    const std::int32_t minY = std::clamp(vertexMinY, lowest, highest);
    const std::int32_t maxY = std::clamp(vertexMaxY, lowest, highest);
    if (minY >= maxY) return;

    // Crossings never lie below the lowest vertex, so the table ends at maxY: the same lists as
    // accepting everything up to the band's last sub-scanline.
    TScanlineTable table(clip.Left << s, minY, maxY, (clip.Right << s) - 1);
    for (const auto& points : converted) table.AddContourEdges(points);
    table.Sort();

    // Coverage rows: every list of the pixel row adds its spans into cov (start and stop ramps
    // split over two cells), a running sum turns them into per-pixel units, and one row blend
    // draws them.
    const TColor32 rgb = target.Filler ? 0u : (target.Color & 0x00FFFFFFu);
    const std::uint32_t masterAlpha = target.Color >> 24;
    const TBlendRowMasterProc blendRow = BlendRowMasterProc(bitmap.CombineMode());
    const std::int32_t rightLimit = std::min(clip.Right, bitmap.Width());
    std::vector<std::int32_t> cov;
    std::vector<TColor32> colors;
    const std::int64_t baseY = table.BaseY();
    const std::int64_t count = static_cast<std::int64_t>(table.Count());
    const std::int32_t firstRow = static_cast<std::int32_t>(baseY >> s);
    const std::int32_t endRow = static_cast<std::int32_t>((baseY + count + L - 1) >> s);
    for (std::int32_t y = firstRow; y < endRow; ++y) {
      const std::int64_t top = std::max<std::int64_t>((static_cast<std::int64_t>(y) << s) - baseY, 0);
      const std::int64_t bottom =
          std::min<std::int64_t>((static_cast<std::int64_t>(y) << s) - baseY + L - 1, count - 1);
      std::int32_t minX = kFarPositive, maxX = kFarNegative;
      for (std::int64_t i = top; i <= bottom; ++i) {
        const auto& list = table.List(static_cast<std::size_t>(i));
        if (list.size() < 2) continue;
        minX = std::min(minX, static_cast<std::int32_t>(list.front() & kPositionMask));
        maxX = std::max(maxX, static_cast<std::int32_t>(list.back() & kPositionMask) + L - 1);
      }
      if (maxX < minX) continue;
      const std::int32_t x0 = minX >> s;
      const std::int32_t w = (maxX >> s) - x0 + 2;
      if (static_cast<std::int32_t>(cov.size()) < w) {
        cov.resize(static_cast<std::size_t>(w) + 64);
        colors.resize(static_cast<std::size_t>(w) + 64);
      }
      std::fill_n(cov.begin(), w, 0);
      auto start = [&](std::int32_t x) {
        const std::int32_t f = x & (L - 1);
        const std::int32_t i = (x >> s) - x0;
        cov[i] += (L - 1) - f;
        cov[i + 1] += f;
      };
      auto stop = [&](std::int32_t x) {
        const std::int32_t f = x & (L - 1);
        const std::int32_t i = (x >> s) - x0;
        cov[i] -= (L - 1) - f;
        cov[i + 1] -= f;
      };
      for (std::int64_t i = top; i <= bottom; ++i) {
        const auto& list = table.List(static_cast<std::size_t>(i));
        if (list.size() >= 2) ForEachSpan(list, rule, start, stop);  // the lists that set minX, maxX
      }

      std::int32_t a = 0;
      for (std::int32_t i = 0; i < w; ++i) {
        a += cov[i];
        colors[i] = (((static_cast<std::uint32_t>(a) * level.M) & 0xFF00u) << 16) | rgb;
      }
      const std::int32_t n = std::min(w, rightLimit - x0);
      if (n <= 0) continue;
      if (target.Filler)
        (*target.Filler)(x0, y, n, colors.data());
      else
        blendRow(colors.data(), bitmap.ScanLine(y) + x0, n, masterAlpha);
    }
  };
  // Two bands on two threads when the rows go to the bitmap (a filler is told rows in order).
  const std::int32_t rowsTop = std::max(clip.Top, static_cast<std::int32_t>(ShiftDown(vertexMinY, s)));
  const std::int32_t rowsBottom =
      std::min(clip.Bottom, static_cast<std::int32_t>(ShiftDown(vertexMaxY, s)) + 1);
  if (target.Filler == nullptr && rowsBottom - rowsTop >= 128) {
    const std::int32_t middle = rowsTop + (rowsBottom - rowsTop) / 2;
    // The lower band on the helper; its failure comes back through Wait, after the upper band.
    auto lower = [&] { fillBand(middle, clip.Bottom); };
    THelperTask second(lower);
    fillBand(clip.Top, middle);
    if (second.Started())
      second.Wait();
    else
      lower();
  } else {
    fillBand(clip.Top, clip.Bottom);
  }

  TRect bounds;
  if (VertexBounds(contours, bounds)) bitmap.AreaChanged(bounds);
}

// Hard-edged fill: vertices rounded to whole pixels ((v + 32767) >> 16), each pixel row sampled at
// its centre, crossings in 1/256 pixel (floored), and a pixel filled when its centre lies in a span:
// span [xa, xb) in 1/256 units fills columns (xa + 127) >> 8 up to, not including, (xb + 127) >> 8.
// Shapes sharing an edge therefore neither overlap nor leave a gap.
void HardFill(const TFillTarget& target, const TArrayOfArrayOfFixedPoint& contours, TFillRule rule,
              const TFixedPointMapping& transformation) {
  TBitmap32& bitmap = target.Bitmap;
  std::vector<std::vector<TPoint>> converted;
  std::int32_t minY = kFarPositive, maxY = kFarNegative;
  for (const auto& contour : contours) {
    if (contour.size() < 3) continue;
    auto& points = converted.emplace_back();
    points.reserve(contour.size());
    for (const auto& v : contour) {
      const TFixedPoint p = MapVertex(transformation, v);
      const TPoint q{ShiftDown(static_cast<std::int64_t>(p.X) + 32767, 16), ShiftDown(static_cast<std::int64_t>(p.Y) + 32767, 16)};
      minY = std::min(minY, q.Y);
      maxY = std::max(maxY, q.Y);
      points.push_back(q);
    }
  }
  const TRect clip = bitmap.ClipRect();
  if (clip.IsEmpty() || bitmap.Empty()) return;
  // Rows whose centres lie inside the vertical extent: minY .. maxY - 1.
  minY = std::max(minY, clip.Top);
  maxY = std::min(maxY, clip.Bottom);
  if (minY >= maxY) return;

  const std::int32_t rightLimit = std::min(clip.Right, bitmap.Width());
  TScanlineTable table(clip.Left * 256, minY, maxY - 1, rightLimit * 256);
  for (const auto& points : converted) {
    const std::size_t n = points.size();
    for (std::size_t j = 0; j < n; ++j) {
      const TPoint& a = points[j];
      const TPoint& b = points[(j + 1) % n];
      table.AddPixelEdge(a.X, a.Y, b.X, b.Y);
    }
  }
  table.Sort();

  const TUpdateScope update(bitmap);
  const bool opaque = (target.Color >> 24) == 255;
  const TBlendRowProc blendRow = BlendRowProc(bitmap.CombineMode());
  const TColor32 bufferColor = target.Filler ? 0xFF000000u : target.Color;
  std::vector<TColor32> buffer;
  for (std::size_t i = 0; i < table.Count(); ++i) {
    const std::int32_t y = table.BaseY() + static_cast<std::int32_t>(i);
    std::int32_t spanStart = 0;
    auto start = [&](std::int32_t x) { spanStart = x; };
    auto stop = [&](std::int32_t x) {
      const std::int32_t first = std::max((spanStart + 127) >> 8, clip.Left);
      const std::int32_t end = std::min((x + 127) >> 8, rightLimit);
      const std::int32_t n = end - first;
      if (n <= 0) return;
      if (!target.Filler && opaque) {
        std::fill_n(bitmap.ScanLine(y) + first, n, target.Color);
        return;
      }
      if (static_cast<std::int32_t>(buffer.size()) < n) buffer.assign(static_cast<std::size_t>(n) + 64, bufferColor);
      if (target.Filler)
        (*target.Filler)(first, y, n, buffer.data());
      else
        blendRow(buffer.data(), bitmap.ScanLine(y) + first, n);
    };
    ForEachSpan(table.List(i), rule, start, stop);
  }

  TRect bounds;
  if (VertexBounds(contours, bounds)) bitmap.AreaChanged(bounds);
}

}  // namespace

TPolygon32::TPolygon32() { fContours.emplace_back(); }

TPolygon32::~TPolygon32() = default;

void TPolygon32::CopySettingsTo(TPolygon32& Dst) const {
  Dst.fSmooth = fSmooth;
  Dst.fSubsampleMode = fSubsampleMode;
  Dst.fClosedContours = fClosedContours;
  Dst.fFillRule = fFillRule;
}

void TPolygon32::Assign(const TPolygon32& Source) {
  if (&Source == this) return;
  Source.CopySettingsTo(*this);
  fEdgeNormals = Source.fEdgeNormals;
  fContours = Source.fContours;
}

void TPolygon32::AddPoint(const TFixedPoint& P) {
  if (fContours.empty()) fContours.emplace_back();
  fContours.back().push_back(P);
  fEdgeNormals.clear();
}

void TPolygon32::StartContour() {
  fContours.emplace_back();
  fEdgeNormals.clear();
}

void TPolygon32::ClearContours() {
  fContours.clear();
  fEdgeNormals.clear();
  fContours.emplace_back();
}

void TPolygon32::SetContours(TArrayOfArrayOfFixedPoint Value) {
  fContours = std::move(Value);
  fEdgeNormals.clear();
}

void TPolygon32::ComputeNormals() {
  if (!fEdgeNormals.empty()) return;
  TArrayOfArrayOfFixedPoint normals(fContours.size());
  for (std::size_t c = 0; c < fContours.size(); ++c) {
    const TArrayOfFixedPoint& p = fContours[c];
    const std::size_t n = p.size();
    TArrayOfFixedPoint& out = normals[c];
    if (n == 0) continue;
    if (n == 1) {
      out.push_back(TFixedPoint{0, 0});
      continue;
    }
    out.resize(n);
    float dx = 0, dy = 0;
    for (std::size_t k = 0; k < n; ++k) {
      std::size_t j = k + 1;
      if (j == n && fClosedContours) j = 0;
      if (j < n) {
        dx = StoreSingle(static_cast<Extended>(static_cast<std::int64_t>(p[j].X) - p[k].X) / 65536.0L);
        dy = StoreSingle(static_cast<Extended>(static_cast<std::int64_t>(p[j].Y) - p[k].Y) / 65536.0L);
      }
      if (dx != 0 || dy != 0) {
        const Extended len = std::sqrt(static_cast<Extended>(dx) * dx + static_cast<Extended>(dy) * dy);
        const float f = StoreSingle(1.0L / len);
        dx = StoreSingle(static_cast<Extended>(dx) * f);
        dy = StoreSingle(static_cast<Extended>(dy) * f);
      }
      out[k] = TFixedPoint{ToFixed(dy), ToFixed(-static_cast<Extended>(dx))};
    }
  }
  fEdgeNormals = std::move(normals);
}

std::unique_ptr<TPolygon32> TPolygon32::MakeOutline() {
  ComputeNormals();
  auto result = std::make_unique<TPolygon32>();
  CopySettingsTo(*result);
  result->fContours.clear();
  for (const auto& contour : fContours) {
    if (contour.size() <= 1) continue;
    if (fClosedContours) {
      result->fContours.push_back(contour);
      result->fContours.emplace_back(contour.rbegin(), contour.rend());
    } else {
      TArrayOfFixedPoint both(contour);
      both.insert(both.end(), contour.rbegin(), contour.rend());
      result->fContours.push_back(std::move(both));
    }
  }
  return result;
}

std::unique_ptr<TPolygon32> TPolygon32::GrowAlongNormals(TFixed16 Delta, float Sharpness) {
  ComputeNormals();
  if (static_cast<Extended>(Sharpness) > 0.99L)
    Sharpness = StoreSingle(0.99L);
  else if (Sharpness < 0)
    Sharpness = 0;
  const std::int32_t limit = Round((1.0L - static_cast<Extended>(Sharpness)) * Delta);

  auto result = std::make_unique<TPolygon32>();
  CopySettingsTo(*result);
  if (Delta == 0) {
    result->fContours = fContours;
    return result;
  }
  result->fContours.clear();
  auto scaled = [Delta](const TFixedPoint& normal) {
    return TFixedPoint{MulDivRounded(normal.X, Delta, 65536), MulDivRounded(normal.Y, Delta, 65536)};
  };
  for (std::size_t c = 0; c < fContours.size(); ++c) {
    const TArrayOfFixedPoint& points = fContours[c];
    if (points.size() <= 1) continue;
    const TArrayOfFixedPoint& normals = fEdgeNormals[c];
    const std::size_t h = points.size() - 1;
    TArrayOfFixedPoint grown;
    grown.reserve(points.size() + 4);
    for (std::size_t i = 0; i <= h; ++i) {
      const TFixedPoint& p = points[i];
      const TFixedPoint nrm = scaled(normals[i]);
      if (i > 0 || fClosedContours) {
        const TFixedPoint prev = scaled(normals[i > 0 ? i - 1 : h]);
        if (i < h || fClosedContours) {
          const std::int32_t lx = AddWrap(prev.X, nrm.X);
          const std::int32_t ly = AddWrap(prev.Y, nrm.Y);
          const std::int32_t r = AddWrap(MulDivRounded(prev.X, lx, Delta), MulDivRounded(prev.Y, ly, Delta));
          if (r > limit) {
            grown.push_back(Offset(p, MulDivRounded(lx, Delta, r), MulDivRounded(ly, Delta, r)));
          } else {
            grown.push_back(Offset(p, prev.X, prev.Y));
            grown.push_back(Offset(p, nrm.X, nrm.Y));
          }
        } else {
          grown.push_back(Offset(p, prev.X, prev.Y));
        }
      } else {
        grown.push_back(Offset(p, nrm.X, nrm.Y));
      }
    }
    result->fContours.push_back(std::move(grown));
  }
  return result;
}

void TPolygon32::Fill(TBitmap32& Bitmap, TColor32 Color, const TFillLineEvent* Filler,
                      const TFixedPointMapping& Transformation) const {
  const TFillTarget target{Bitmap, Color, Filler};
  {
    const TUpdateScope update(Bitmap);
    if (fSmooth)
      SmoothFill(target, fContours, fFillRule, fSubsampleMode, Transformation);
    else
      HardFill(target, fContours, fFillRule, Transformation);
  }
  Bitmap.Changed();
}

void TPolygon32::FillInto(TBitmap32& Bitmap, TColor32 Color, const TFixedPointMapping& Transformation) const {
  Fill(Bitmap, Color, nullptr, Transformation);
}

void TPolygon32::FillInto(TBitmap32& Bitmap, const TFillLineEvent& Filler,
                          const TFixedPointMapping& Transformation) const {
  Fill(Bitmap, 0, Filler ? &Filler : nullptr, Transformation);
}

}  // namespace quirlon::raster
