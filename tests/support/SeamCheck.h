#pragma once
// Where faces of a template meet, the background must not show. The template is rendered through
// the real driver with grey faces, effects off, once on white and once on black: where the
// background shows through a seam the two renders differ. Well inside the product's outline (the
// union of its face layers) they must agree, and well outside nothing of a face may show.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Effects.h"
#include "core/Render.h"
#include "core/Template.h"

namespace quirlon::testing {

struct TSeamPoint {
  double X = 0, Y = 0;
};

struct TSeamReport {
  int Checked = 0;       // pixels well inside the outline
  int Worst = 0;         // the largest channel difference among them
  int NearOutline = 0;   // the largest channel difference close inside the outline
  int OutsideMarks = 0;  // pixels well outside the outline that are not background
  TSeamPoint WorstAt, NearAt, MarkAt;
};

// The template's layers as the seam check needs them: which are underlays is known to whoever
// made the template.
struct TSeamLayers {
  core::TTemplateImageSize Size;
  std::vector<core::TTemplateLayer> Layers;
  std::vector<bool> Underlay;
};

namespace seams {

inline std::unique_ptr<raster::TBitmap32> RenderGrey(const std::string& TemplatesFolder, int Number,
                                                     const std::string& CustomFolder, int Width, int Height,
                                                     raster::TColor Background) {
  core::TRenderRequest request;
  for (int slot = 2; slot <= 9; ++slot) request.Sources[slot - 1] = core::TSlotSource::OfColour(0x808080);
  request.Sources[0] = core::TSlotSource::OfColour(Background);
  request.Settings.ShadingStrength = 0;
  request.Settings.HighlightStrength = 0;
  request.Settings.ShowShadow = false;
  request.Settings.ShowReflection = false;
  request.Template.File = TemplatesFolder + core::TemplateEntry(core::ListTemplates(TemplatesFolder), Number);
  request.CustomFolder = CustomFolder;
  request.Width = Width;
  request.Height = Height;
  return core::Flatten(core::ApplyTemplate(request));
}

inline bool InsideQuad(const std::array<TSeamPoint, 4>& q, TSeamPoint p) {
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const auto a = q[i], b = q[(i + 1) % 4];
    const double c = (b.X - a.X) * (p.Y - a.Y) - (b.Y - a.Y) * (p.X - a.X);
    if (std::fabs(c) < 1e-9) continue;
    const int sd = c > 0 ? 1 : -1;
    if (sign != 0 && sd != sign) return false;
    sign = sd;
  }
  return true;
}

// The product's outline: the face layers as finally drawn, in canvas pixels, underlays (copies of
// a face reaching under its neighbours) left out. Round things are kept apart: their square
// corners are no outline.
struct TFaceQuads {
  std::vector<std::array<TSeamPoint, 4>> Faces;
  std::vector<std::array<TSeamPoint, 4>> Discs;
  double FitScale = 1;
};

inline TFaceQuads FaceQuads(const TSeamLayers& Template, int w, int h) {
  TFaceQuads out;
  const double s =
      std::min(static_cast<double>(w) / Template.Size.Width, static_cast<double>(h) / Template.Size.Height);
  out.FitScale = s;
  const double ox = std::nearbyint((w - Template.Size.Width * s) / 2),
               oy = std::nearbyint((h - Template.Size.Height * s) / 2);
  for (std::size_t i = 0; i < Template.Layers.size(); ++i) {
    const auto& l = Template.Layers[i];
    std::array<TSeamPoint, 4> q;
    const std::array<raster::TPoint, 4> c = {l.A, l.B, l.C, l.D};
    for (int k = 0; k < 4; ++k) q[k] = {ox + std::nearbyint(c[k].X * s), oy + std::nearbyint(c[k].Y * s)};
    if (l.Type == "disc" || l.Type == "roundrect") out.Discs.push_back(q);
    if ((l.Type == "normal" || l.Type == "customcolor") && !Template.Underlay[i]) out.Faces.push_back(q);
  }
  return out;
}

// 0 inside the convex quadrilateral, else the distance to its outline.
inline double QuadDistance(const std::array<TSeamPoint, 4>& q, TSeamPoint p) {
  if (InsideQuad(q, p)) return 0;
  double best = 1e300;
  for (int i = 0; i < 4; ++i) {
    const auto a = q[i], b = q[(i + 1) % 4];
    const double dx = b.X - a.X, dy = b.Y - a.Y, n = dx * dx + dy * dy;
    const double t = n == 0 ? 0 : std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / n, 0.0, 1.0);
    best = std::min(best, std::hypot(p.X - a.X - t * dx, p.Y - a.Y - t * dy));
  }
  return best;
}

// Distance of every cell to the nearest cell outside the set (0 outside), by two chamfer passes.
inline std::vector<float> ChamferDistance(const std::vector<std::uint8_t>& set, int w, int h) {
  const float inf = 1e9f, diag = std::sqrt(2.0f);
  std::vector<float> d(set.size());
  for (std::size_t i = 0; i < set.size(); ++i) d[i] = set[i] ? inf : 0;
  auto at = [&](int x, int y) { return (x < 0 || y < 0 || x >= w || y >= h) ? 0.0f : d[std::size_t(y) * w + x]; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float& v = d[std::size_t(y) * w + x];
      v = std::min({v, at(x - 1, y) + 1, at(x, y - 1) + 1, at(x - 1, y - 1) + diag, at(x + 1, y - 1) + diag});
    }
  for (int y = h - 1; y >= 0; --y)
    for (int x = w - 1; x >= 0; --x) {
      float& v = d[std::size_t(y) * w + x];
      v = std::min({v, at(x + 1, y) + 1, at(x, y + 1) + 1, at(x + 1, y + 1) + diag, at(x - 1, y + 1) + diag});
    }
  return d;
}

}  // namespace seams

// The seam figures of template Number of TemplatesFolder, whose layers are Template, rendered at
// Width x Height. Interior
// pixels are those at least max(6, 12 x the template's scale) pixels inside the outline; pixels
// more than 2 from every face and round thing must be pure background.
inline TSeamReport CheckSeams(const std::string& TemplatesFolder, int Number, const std::string& CustomFolder,
                              int Width, int Height, const TSeamLayers& Template) {
  using namespace seams;
  const auto onWhite = RenderGrey(TemplatesFolder, Number, CustomFolder, Width, Height, 0xFFFFFF);
  const auto onBlack = RenderGrey(TemplatesFolder, Number, CustomFolder, Width, Height, 0x000000);
  const auto quads = FaceQuads(Template, Width, Height);
  const int w = Width, h = Height;
  std::vector<std::uint8_t> inside(std::size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const TSeamPoint c{x + 0.5, y + 0.5};
      bool in = false;
      for (const auto& q : quads.Faces) in = in || InsideQuad(q, c);
      inside[std::size_t(y) * w + x] = in;
    }
  const auto depth = ChamferDistance(inside, w, h);
  const double margin = std::max(6.0, 12 * quads.FitScale);
  TSeamReport report;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::size_t i = std::size_t(y) * w + x;
      const auto a = onWhite->ScanLine(y)[x], b = onBlack->ScanLine(y)[x];
      if (!inside[i]) {
        // Outside: more than 2 pixels from every face and round thing (measured to the
        // quadrilaterals themselves, so the sharp tips of thin faces count as theirs), nothing
        // but background.
        if ((a & 0xFFFFFFu) == 0xFFFFFFu && (b & 0xFFFFFFu) == 0) continue;
        const TSeamPoint c{x + 0.5, y + 0.5};
        bool near = false;
        for (const auto* list : {&quads.Faces, &quads.Discs})
          for (const auto& q : *list) near = near || QuadDistance(q, c) <= 2;
        if (!near && report.OutsideMarks++ == 0) report.MarkAt = c;
        continue;
      }
      if (depth[i] < 2) continue;
      int v = 0;  // how much of the background shows: the two renders' largest channel difference
      for (int sh = 0; sh < 24; sh += 8) v = std::max(v, std::abs(int(a >> sh & 0xFF) - int(b >> sh & 0xFF)));
      if (depth[i] < margin) {
        if (v > report.NearOutline) {
          report.NearOutline = v;
          report.NearAt = {x + 0.5, y + 0.5};
        }
        continue;
      }
      ++report.Checked;
      if (v > report.Worst) {
        report.Worst = v;
        report.WorstAt = {x + 0.5, y + 0.5};
      }
    }
  return report;
}

}  // namespace quirlon::testing
