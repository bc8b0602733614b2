#include "core/FaceAspect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/ProductScene.h"
#include "core/Template.h"

namespace quirlon::core {

using raster::TBitmap32;
using raster::TColor32;

namespace {

double Length(const TVec3& V) { return std::sqrt(Dot(V, V)); }

// How far an estimate may move when a corner moves by half a pixel.
constexpr double kReliableAspect = 0.02;

// Slot aspects that agree within Tolerance (relative) are kept; a slot told two shapes is unknown.
struct TAspectVotes {
  TSlotAspects Sum{};
  std::array<int, kSlotCount> Count{};
  std::array<bool, kSlotCount> Conflict{};
  void Add(int Slot, double Aspect, double Tolerance) {
    if (Slot < 1 || Slot > kSlotCount) return;
    const std::size_t i = static_cast<std::size_t>(Slot - 1);
    if (!(Aspect > 0) || !std::isfinite(Aspect)) {
      Conflict[i] = true;
      return;
    }
    if (Count[i] > 0 && std::fabs(std::log(Aspect / (Sum[i] / Count[i]))) > Tolerance) Conflict[i] = true;
    Sum[i] += Aspect;
    ++Count[i];
  }
  TSlotAspects Result() const {
    TSlotAspects r{};
    for (std::size_t i = 0; i < r.size(); ++i)
      if (Count[i] > 0 && !Conflict[i]) r[i] = Sum[i] / Count[i];
    return r;
  }
};

}  // namespace

TSlotAspects SceneSlotAspects(const TProductScene& Scene) {
  TAspectVotes votes;
  for (const std::vector<TProductFace>& product : SceneFaces(Scene))
    for (const TProductFace& face : product) {
      if (face.Type != "normal" && face.Type != "disc" && face.Type != "roundrect") continue;
      const int slot = SourceSlotIndex(face.Source);
      if (slot < 0) continue;
      const double width = Length(Sub(face.Corners[1], face.Corners[0]));
      const double height = Length(Sub(face.Corners[3], face.Corners[0]));
      votes.Add(slot, height > 0 ? width / height : 0, 1e-6);
    }
  return votes.Result();
}

namespace {

double AspectOfQuad(const std::array<TPlanePoint, 4>& Q, const TPlanePoint& Principal, double FrameSize) {
  // A rectangle's picture is convex, its corners turning one way.
  int turns = 0;
  for (int i = 0; i < 4; ++i) {
    const TPlanePoint& p = Q[i];
    const TPlanePoint& q = Q[(i + 1) % 4];
    const TPlanePoint& r = Q[(i + 2) % 4];
    const double cross = (q.X - p.X) * (r.Y - q.Y) - (q.Y - p.Y) * (r.X - q.X);
    turns += cross > 0 ? 1 : (cross < 0 ? -1 : 0);
  }
  if (std::abs(turns) != 4 || !(FrameSize > 0)) return 0;

  // The homography from the unit square: (u, v) -> (a u + b v + c, d u + e v + f) / (g u + h v + 1).
  const double dx1 = Q[1].X - Q[2].X, dx2 = Q[3].X - Q[2].X, dx3 = Q[0].X - Q[1].X + Q[2].X - Q[3].X;
  const double dy1 = Q[1].Y - Q[2].Y, dy2 = Q[3].Y - Q[2].Y, dy3 = Q[0].Y - Q[1].Y + Q[2].Y - Q[3].Y;
  double g = 0, h = 0;
  if (dx3 != 0 || dy3 != 0) {
    const double det = dx1 * dy2 - dx2 * dy1;
    if (det == 0) return 0;
    g = (dx3 * dy2 - dx2 * dy3) / det;
    h = (dx1 * dy3 - dx3 * dy1) / det;
  }
  const double a = Q[1].X - Q[0].X + g * Q[1].X, b = Q[3].X - Q[0].X + h * Q[3].X;
  const double d = Q[1].Y - Q[0].Y + g * Q[1].Y, e = Q[3].Y - Q[0].Y + h * Q[3].Y;
  // The image-plane parts of the two edge directions, seen from the principal point.
  const double ux = a - Principal.X * g, uy = d - Principal.Y * g;
  const double vx = b - Principal.X * h, vy = e - Principal.Y * h;
  const double uLength = std::hypot(ux, uy), vLength = std::hypot(vx, vy);
  if (uLength == 0 || vLength == 0) return 0;
  // A vanishing point this far out is taken as none: the edges are parallel within the rounding
  // of whole-pixel corners.
  const double far = 50 * FrameSize;
  const bool uMeets = std::fabs(g) * far > uLength, vMeets = std::fabs(h) * far > vLength;
  const double dot = ux * vx + uy * vy;
  if (!uMeets && !vMeets) {
    // Square to the camera: the picture is a rectangle itself.
    if (std::fabs(dot) > 0.01 * uLength * vLength) return 0;
    return uLength / vLength;
  }
  if (uMeets != vMeets) return 0;
  // The two directions are at right angles in space: (u . v) / f^2 + g h = 0.
  const double focal2 = -dot / (g * h);
  if (!(focal2 > 0)) return 0;
  const double focal = std::sqrt(focal2);
  if (focal < 0.3 * FrameSize || focal > 20 * FrameSize) return 0;
  const double width = std::sqrt(uLength * uLength / focal2 + g * g);
  const double height = std::sqrt(vLength * vLength / focal2 + h * h);
  return width / height;
}

}  // namespace

double RectangleAspect(const std::array<TPlanePoint, 4>& Q, const TPlanePoint& Principal, double FrameSize) {
  const double aspect = AspectOfQuad(Q, Principal, FrameSize);
  if (aspect == 0) return 0;
  // Corners are whole pixels, so each may be half a pixel off: an answer that moves by more than
  // a few percent when one of them does is no answer (a narrow face seen steeply is the rule).
  for (int corner = 0; corner < 4; ++corner)
    for (const TPlanePoint step : {TPlanePoint{0.5, 0}, TPlanePoint{-0.5, 0}, TPlanePoint{0, 0.5}, TPlanePoint{0, -0.5}}) {
      std::array<TPlanePoint, 4> moved = Q;
      moved[corner].X += step.X;
      moved[corner].Y += step.Y;
      const double other = AspectOfQuad(moved, Principal, FrameSize);
      if (other == 0 || std::fabs(other / aspect - 1) > kReliableAspect) return 0;
    }
  return aspect;
}

TSlotAspects EstimatedSlotAspects(const TTemplate& Template) {
  TAspectVotes votes;
  const TPlanePoint centre{Template.Size.Width / 2.0, Template.Size.Height / 2.0};
  const double frame = std::max(Template.Size.Width, Template.Size.Height);
  for (const TTemplateLayer& layer : Template.Layers) {
    const TLayerType type = LayerTypeFromText(layer.Type);
    if (!LayerTypeInfo(type).DrawsFromSlot) continue;
    const int slot = SourceSlotIndex(layer.Source);
    if (slot < 0) continue;
    const std::array<TPlanePoint, 4> quad{{{double(layer.A.X), double(layer.A.Y)},
                                           {double(layer.B.X), double(layer.B.Y)},
                                           {double(layer.C.X), double(layer.C.Y)},
                                           {double(layer.D.X), double(layer.D.Y)}}};
    votes.Add(slot, RectangleAspect(quad, centre, frame), 0.02);
  }
  return votes.Result();
}

bool TArtFit::Mismatched() const {
  if (!(ArtAspect > 0) || !(FaceAspect > 0)) return false;
  const double ratio = ArtAspect > FaceAspect ? ArtAspect / FaceAspect : FaceAspect / ArtAspect;
  return ratio > kFitWarningRatio;
}

std::string ArtFitWarning(const TArtFit& Fit) {
  const char* done = Fit.Mode == TFitMode::Crop      ? "cropped to the face"
                     : Fit.Mode == TFitMode::Pad     ? "padded to the face"
                                                     : "stretched onto the face";
  char text[256];
  std::snprintf(text, sizeof text, "%s picture is %.2f:1 (width:height) but its face is %.2f:1; %s",
                SourceSlotName(Fit.Slot), Fit.ArtAspect, Fit.FaceAspect, done);
  return text;
}

namespace {

// The mean straight colour (alpha the mean alpha) of the pixels of Rect.
TColor32 MeanColour(const TBitmap32& Picture, const raster::TRect& Rect) {
  double sum[4] = {0, 0, 0, 0};
  double count = 0;
  for (std::int32_t y = Rect.Top; y < Rect.Bottom; ++y) {
    const TColor32* row = Picture.ScanLine(y);
    for (std::int32_t x = Rect.Left; x < Rect.Right; ++x) {
      const double alpha = (row[x] >> 24) / 255.0;
      sum[0] += ((row[x] >> 16) & 0xFF) * alpha;
      sum[1] += ((row[x] >> 8) & 0xFF) * alpha;
      sum[2] += (row[x] & 0xFF) * alpha;
      sum[3] += alpha;
      ++count;
    }
  }
  if (count == 0 || sum[3] <= 0) return 0;
  const auto byte = [](double v) { return static_cast<TColor32>(std::clamp(std::lround(v), 0L, 255L)); };
  return byte(sum[3] / count * 255) << 24 | byte(sum[0] / sum[3]) << 16 | byte(sum[1] / sum[3]) << 8 |
         byte(sum[2] / sum[3]);
}

// Picture at half its size, each pixel the alpha-weighted mean of a 2 x 2 block (a last odd row or
// column averaged with itself).
void Halve(TBitmap32& Picture) {
  const std::int32_t w = Picture.Width(), h = Picture.Height();
  const std::int32_t nw = std::max(1, (w + 1) / 2), nh = std::max(1, (h + 1) / 2);
  TBitmap32 half;
  half.SetSize(nw, nh);
  for (std::int32_t y = 0; y < nh; ++y)
    for (std::int32_t x = 0; x < nw; ++x) {
      const std::int32_t x0 = 2 * x, y0 = 2 * y;
      half.PixelRef(x, y) = MeanColour(Picture, {x0, y0, std::min(x0 + 2, w), std::min(y0 + 2, h)});
    }
  Picture.SetSize(nw, nh);
  std::copy(half.Bits(), half.Bits() + half.PixelCount(), Picture.Bits());
}

// Padding grows a picture by the ratio of the two shapes; beyond this many pixels it is halved
// first, so that a wide picture on a spine cannot take gigabytes.
constexpr double kMaxPaddedPixels = 16.0 * 1024 * 1024;

}  // namespace

void FitPictureToAspect(TBitmap32& Picture, TFitMode Mode, double Aspect) {
  if ((Mode != TFitMode::Crop && Mode != TFitMode::Pad) || Picture.Width() <= 0 || Picture.Height() <= 0 ||
      !(Aspect > 0) || !std::isfinite(Aspect))
    return;
  if (Mode == TFitMode::Pad) {
    const auto padded = [&] {
      const double w = Picture.Width(), h = Picture.Height();
      return w > h * Aspect ? w * (w / Aspect) : h * (h * Aspect);
    };
    while (padded() > std::max(kMaxPaddedPixels, 2.0 * Picture.PixelCount()) && Picture.Width() * Picture.Height() > 1)
      Halve(Picture);
  }
  const std::int32_t w = Picture.Width(), h = Picture.Height();
  const bool wide = static_cast<double>(w) > h * Aspect;  // wider than the face
  std::int32_t nw = w, nh = h;
  const auto rounded = [](double v) {
    return static_cast<std::int32_t>(std::clamp(std::lround(v), 1L, 1L << 24));
  };
  if (Mode == TFitMode::Crop) {
    if (wide) nw = std::min(w, rounded(h * Aspect));
    else nh = std::min(h, rounded(w / Aspect));
  } else {
    if (wide) nh = std::max(h, rounded(w / Aspect));
    else nw = std::max(w, rounded(h * Aspect));
  }
  if (nw == w && nh == h) return;

  TBitmap32 old;
  old.SetSize(w, h);
  std::copy(Picture.Bits(), Picture.Bits() + Picture.PixelCount(), old.Bits());
  Picture.SetSize(nw, nh);
  if (Mode == TFitMode::Crop) {
    const std::int32_t x0 = (w - nw) / 2, y0 = (h - nh) / 2;
    for (std::int32_t y = 0; y < nh; ++y) std::copy_n(old.ScanLine(y0 + y) + x0, nw, Picture.ScanLine(y));
  } else {
    const std::int32_t x0 = (nw - w) / 2, y0 = (nh - h) / 2;
    // The border takes the colour of the edges it continues.
    const TColor32 border = wide ? MeanColour(old, {0, 0, w, 1}) : MeanColour(old, {0, 0, 1, h});
    const TColor32 other = wide ? MeanColour(old, {0, h - 1, w, h}) : MeanColour(old, {w - 1, 0, w, h});
    for (std::int32_t y = 0; y < nh; ++y) {
      TColor32* row = Picture.ScanLine(y);
      if (wide) {
        if (y < y0 || y >= y0 + h) std::fill_n(row, nw, y < y0 ? border : other);
        else std::copy_n(old.ScanLine(y - y0), w, row);
      } else {
        std::fill_n(row, x0, border);
        std::copy_n(old.ScanLine(y), w, row + x0);
        std::fill_n(row + x0 + w, nw - x0 - w, other);
      }
    }
  }
  Picture.Changed();
}

}  // namespace quirlon::core
