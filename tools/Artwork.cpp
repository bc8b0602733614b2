// quirlon-artwork: draws the sample artwork, the "customfile" pictures, the about box logo and the
// labelled gallery with our raster engine and AGG's vector font, so everything shipped is our own.
//
//   quirlon-artwork samples EXAMPLES_DIR CUSTOM_DIR
//   quirlon-artwork logo FILE.jpg
//   quirlon-artwork gallery OUT.png COLUMNS PICTURE LABEL [PICTURE LABEL ...]
#include <agg_conv_curve.h>
#include <agg_conv_stroke.h>
#include <agg_conv_transform.h>
#include <agg_ellipse.h>
#include <agg_gsv_text.h>
#include <agg_path_storage.h>
#include <agg_pixfmt_rgba.h>
#include <agg_rasterizer_scanline_aa.h>
#include <agg_renderer_base.h>
#include <agg_renderer_scanline.h>
#include <agg_rounded_rect.h>
#include <agg_scanline_u.h>
#include <agg_trans_affine.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "imagefiles/OutputWriters.h"
#include "imagefiles/Picture.h"
#include "raster/Bitmap32.h"

namespace {

using quirlon::raster::TBitmap32;
using quirlon::raster::TColor32;

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

TColor32 Pack(Rgb c, double a = 255) {
  auto ch = [](double v) { return static_cast<std::uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return (ch(a) << 24) | (ch(c.r) << 16) | (ch(c.g) << 8) | ch(c.b);
}

agg::rgba8 Agg(Rgb c, double a = 255) {
  return agg::rgba8(static_cast<unsigned>(std::clamp(c.r, 0.0, 255.0)), static_cast<unsigned>(std::clamp(c.g, 0.0, 255.0)),
                    static_cast<unsigned>(std::clamp(c.b, 0.0, 255.0)), static_cast<unsigned>(std::clamp(a, 0.0, 255.0)));
}

// A bitmap with an AGG renderer over its pixels (bytes B, G, R, A: AGG's bgra order, plain alpha).
// Drawing is in units of w x h; the bitmap has Scale pixels to a unit, so a layout drawn once
// comes out at any resolution.
class Canvas {
public:
  Canvas(int w, int h, double scale = 1) : fScale(scale) {
    const int pw = static_cast<int>(std::lround(w * scale)), ph = static_cast<int>(std::lround(h * scale));
    fBitmap.SetSize(pw, ph);
    fBitmap.Clear(0);
    fBuffer.attach(reinterpret_cast<agg::int8u*>(fBitmap.Bits()), pw, ph, pw * 4);
    fPixels.attach(fBuffer);
    fBase.attach(fPixels);
  }
  int W() const { return fBitmap.Width(); }
  int H() const { return fBitmap.Height(); }
  TBitmap32& Bitmap() { return fBitmap; }

  // Every pixel from a function of its centre (x, y in 0..1).
  void Shade(const std::function<TColor32(double, double)>& f) {
    for (int y = 0; y < H(); ++y) {
      TColor32* row = fBitmap.ScanLine(y);
      for (int x = 0; x < W(); ++x) row[x] = f((x + 0.5) / W(), (y + 0.5) / H());
    }
  }

  template <class Path>
  void Fill(Path& path, agg::rgba8 colour, agg::trans_affine m = agg::trans_affine()) {
    agg::trans_affine scaled = m;
    scaled *= agg::trans_affine_scaling(fScale);
    agg::conv_transform<Path> t(path, scaled);
    fRas.reset();
    fRas.add_path(t);
    agg::render_scanlines_aa_solid(fRas, fLine, fBase, colour);
  }

  void Ellipse(double cx, double cy, double rx, double ry, agg::rgba8 c) {
    agg::ellipse e(cx, cy, rx, ry, 128);
    Fill(e, c);
  }
  void Rect(double x1, double y1, double x2, double y2, agg::rgba8 c) {
    agg::path_storage p;
    p.move_to(x1, y1);
    p.line_to(x2, y1);
    p.line_to(x2, y2);
    p.line_to(x1, y2);
    p.close_polygon();
    Fill(p, c);
  }
  void RoundRect(double x1, double y1, double x2, double y2, double r, agg::rgba8 c) {
    agg::rounded_rect rr(x1, y1, x2, y2, r);
    rr.normalize_radius();
    Fill(rr, c);
  }
  void Polygon(const std::vector<std::pair<double, double>>& pts, agg::rgba8 c) {
    agg::path_storage p;
    p.move_to(pts[0].first, pts[0].second);
    for (std::size_t i = 1; i < pts.size(); ++i) p.line_to(pts[i].first, pts[i].second);
    p.close_polygon();
    Fill(p, c);
  }

  // Stroke-font text. align: 0 left, 0.5 centre, 1 right at x; y is the baseline; angle in
  // degrees, counter-clockwise on screen, about (x, y).
  double Text(const std::string& s, double x, double y, double size, agg::rgba8 c, double align = 0,
              double angle = 0, double weight = 0.12) {
    agg::gsv_text t;
    t.flip(true);
    t.size(size);
    t.text(s.c_str());
    const double width = t.text_width();
    t.start_point(-width * align, 0);
    agg::conv_stroke<agg::gsv_text> stroke(t);
    stroke.width(size * weight);
    stroke.line_cap(agg::round_cap);
    stroke.line_join(agg::round_join);
    agg::trans_affine m = agg::trans_affine_rotation(-angle * agg::pi / 180.0) * agg::trans_affine_translation(x, y);
    Fill(stroke, c, m);
    return width;
  }
  // The largest size at which s fits maxWidth, capped at size.
  static double Fit(const std::string& s, double size, double maxWidth) {
    agg::gsv_text t;
    t.size(size);
    t.text(s.c_str());
    const double w = t.text_width() + size * 0.12;
    return w > maxWidth ? size * maxWidth / w : size;
  }

private:
  double fScale;
  TBitmap32 fBitmap;
  agg::rendering_buffer fBuffer;
  agg::pixfmt_bgra32_plain fPixels;
  agg::renderer_base<agg::pixfmt_bgra32_plain> fBase;
  agg::rasterizer_scanline_aa<> fRas;
  agg::scanline_u8 fLine;
};

// Sample artwork is drawn at twice its layout size: the largest face of a 2048-pixel render is
// about 1000 pixels wide, and a picture should be shrunk onto it, not enlarged.
constexpr double kSampleScale = 2;

const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};

// Soft pseudo-random grain so flat gradients do not band in JPEG.
double Grain(double x, double y) {
  const double v = std::sin(x * 12.9898e3 + y * 78.233e3) * 43758.5453;
  return (v - std::floor(v)) - 0.5;
}

std::function<TColor32(double, double)> Vertical(Rgb top, Rgb bottom) {
  return [=](double x, double y) {
    Rgb c = Mix(top, bottom, y);
    const double g = Grain(x, y) * 3;
    return Pack({c.r + g, c.g + g, c.b + g});
  };
}

// ---- the software box (blue) and the second box (orange) ----------------------------------

struct BoxTheme {
  Rgb dark, light, accent;
  std::string brand, title, subtitle, tagline;
};

void BoxFront(const BoxTheme& t, const std::string& file) {
  Canvas c(570, 705, kSampleScale);
  c.Shade([&](double x, double y) {
    const double d = std::hypot(x - 0.75, y - 0.28);
    Rgb col = Mix(t.light, t.dark, d * 1.35);
    const double g = Grain(x, y) * 3;
    return Pack({col.r + g, col.g + g, col.b + g});
  });
  // Swooshes: wide translucent bands.
  for (int i = 0; i < 5; ++i) {
    agg::path_storage p;
    const double y0 = 430 + i * 26;
    p.move_to(0, y0);
    p.curve3(300, y0 - 170 + i * 10, 570, y0 - 60);
    p.line_to(570, y0 - 40);
    p.curve3(300, y0 - 140 + i * 10, 0, y0 + 22);
    p.close_polygon();
    agg::conv_curve<agg::path_storage> curve(p);
    c.Fill(curve, Agg(Mix(t.accent, kWhite, i * 0.15), 70 - i * 10));
  }
  // Emblem: rings.
  c.Ellipse(420, 200, 95, 95, Agg(kWhite, 40));
  c.Ellipse(420, 200, 70, 70, Agg(t.accent, 220));
  c.Ellipse(420, 200, 44, 44, Agg(kWhite, 230));
  c.Ellipse(420, 200, 26, 26, Agg(t.dark, 255));
  c.Text(t.brand, 40, 80, 26, Agg(kWhite, 200));
  const double ts = Canvas::Fit(t.title, 84, 490);
  c.Text(t.title, 40, 360, ts, Agg(kWhite), 0, 0, 0.16);
  c.Text(t.subtitle, 42, 410, 30, Agg(Mix(t.accent, kWhite, 0.5)));
  c.Rect(0, 620, 570, 705, Agg(kBlack, 110));
  c.Text(t.tagline, 40, 672, 22, Agg(kWhite, 220));
  c.Text("1.0", 530, 672, 26, Agg(t.accent), 1, 0, 0.16);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void BoxSide(const BoxTheme& t, const std::string& file) {
  Canvas c(180, 705, kSampleScale);
  c.Shade(Vertical(t.light, t.dark));
  c.Ellipse(90, 90, 50, 50, Agg(t.accent, 220));
  c.Ellipse(90, 90, 31, 31, Agg(kWhite, 230));
  c.Ellipse(90, 90, 18, 18, Agg(t.dark));
  const std::string s = t.title + " " + t.subtitle;
  c.Text(s, 110, 660, Canvas::Fit(s, 56, 480), Agg(kWhite), 0, 90, 0.16);
  c.Rect(0, 620, 180, 705, Agg(kBlack, 110));
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void BoxTop(const BoxTheme& t, const std::string& file) {
  Canvas c(570, 180, kSampleScale);
  c.Shade(Vertical(t.dark, t.light));
  c.Text(t.title, 285, 112, Canvas::Fit(t.title, 56, 480), Agg(kWhite), 0.5, 0, 0.16);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- the novel --------------------------------------------------------------------------

void BookFront(const std::string& file) {
  Canvas c(480, 720, kSampleScale);
  const Rgb skyTop{38, 52, 110}, skyLow{240, 150, 90}, sea{24, 60, 96};
  c.Shade([&](double x, double y) {
    Rgb col = y < 0.62 ? Mix(skyTop, skyLow, y / 0.62) : Mix(Mix(skyLow, sea, 0.55), Rgb{10, 24, 48}, (y - 0.62) / 0.38);
    const double g = Grain(x, y) * 3;
    return Pack({col.r + g, col.g + g, col.b + g});
  });
  c.Ellipse(300, 446, 70, 70, Agg({255, 220, 150}, 240));
  c.Rect(0, 446, 480, 720, Agg({20, 45, 80}, 255));
  for (int i = 0; i < 14; ++i) {  // glints on the water
    const double y = 462 + i * i * 1.6, w = 70 - i * 3.5;
    c.Rect(300 - w, y, 300 + w, y + 2 + i * 0.3, Agg({255, 200, 140}, 150 - i * 9));
  }
  // A lighthouse on the rocks at the left.
  c.Polygon({{0, 470}, {40, 430}, {120, 440}, {160, 470}}, Agg({12, 16, 30}));
  c.Polygon({{62, 436}, {70, 330}, {90, 330}, {98, 436}}, Agg({230, 230, 235}));
  c.Rect(66, 360, 94, 372, Agg({200, 40, 40}));
  c.Rect(64, 395, 96, 407, Agg({200, 40, 40}));
  c.Rect(68, 315, 92, 330, Agg({255, 230, 140}));
  c.Polygon({{64, 315}, {80, 298}, {96, 315}}, Agg({200, 40, 40}));
  c.Text("THE QUIET", 240, 110, Canvas::Fit("THE QUIET", 58, 380), Agg(kWhite), 0.5, 0, 0.14);
  c.Text("HARBOUR", 240, 185, Canvas::Fit("HARBOUR", 64, 380), Agg(kWhite), 0.5, 0, 0.16);
  c.Rect(170, 210, 310, 213, Agg({255, 220, 150}));
  c.Text("a novel", 240, 250, 24, Agg({255, 230, 190}), 0.5);
  c.Text("MARA ELLISON", 240, 680, 32, Agg(kWhite), 0.5, 0, 0.14);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// Lettering read from the foot of a spine up, centred across it: Lines from Foot towards Head,
// each fitted into what is left, a gold dot between them.
void SpineLettering(Canvas& c, double across, double foot, double head,
                    const std::vector<std::pair<std::string, double>>& lines, const std::vector<Rgb>& colours) {
  double at = foot;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const double size = Canvas::Fit(lines[i].first, lines[i].second, at - head);
    // Rotated text's capitals stand to the left of its baseline: about 0.5 of the size off the middle.
    at -= c.Text(lines[i].first, across + size * 0.5, at, size, Agg(colours[i % colours.size()]), 0, 90, 0.15);
    if (i + 1 < lines.size()) {
      const double gap = lines[i].second * 0.9;
      c.Ellipse(across, at - gap / 2, 2.5, 2.5, Agg({255, 220, 150}));
      at -= gap;
    }
  }
}

// The hardcover's spine, 38 x 240 mm.
void BookSpine(const std::string& file) {
  Canvas c(114, 720, kSampleScale);
  c.Shade(Vertical({38, 52, 110}, {16, 34, 64}));
  SpineLettering(c, 57, 676, 86, {{"ELLISON", 22}, {"THE QUIET HARBOUR", 30}}, {{255, 220, 150}, kWhite});
  c.Rect(26, 48, 88, 51, Agg({255, 220, 150}));
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- discs --------------------------------------------------------------------------------

void DiscLabel(Rgb inner, Rgb outer, const std::string& title, const std::string& sub, const std::string& file) {
  Canvas c(600, 600, kSampleScale);
  c.Shade([&](double x, double y) {
    const double r = std::hypot(x - 0.5, y - 0.5) * 2;
    const double a = std::atan2(y - 0.5, x - 0.5);
    Rgb col = Mix(inner, outer, r);
    const double rays = 12 * std::pow(std::max(0.0, std::sin(a * 9)), 8) * r;
    return Pack({col.r + rays, col.g + rays, col.b + rays});
  });
  for (int i = 0; i < 4; ++i) {
    agg::ellipse e(300, 300, 250 - i * 18, 250 - i * 18, 128);
    agg::conv_stroke<agg::ellipse> s(e);
    s.width(2);
    c.Fill(s, Agg(kWhite, 60));
  }
  c.Text(title, 300, 150, Canvas::Fit(title, 52, 360), Agg(kWhite), 0.5, 0, 0.16);
  c.Text(sub, 300, 480, Canvas::Fit(sub, 26, 330), Agg(kWhite, 220), 0.5);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- CD insert, DVD sleeve ------------------------------------------------------------------

void CdFront(const std::string& file) {
  Canvas c(568, 500, kSampleScale);
  c.Shade(Vertical({20, 22, 30}, {50, 30, 60}));
  for (int i = 0; i < 18; ++i) {  // concentric arcs of light
    agg::ellipse e(420, 380, 40 + i * 22, 40 + i * 22, 160);
    agg::conv_stroke<agg::ellipse> s(e);
    s.width(3 + (i % 3));
    c.Fill(s, Agg(Mix({80, 200, 230}, {240, 90, 160}, i / 17.0), 200 - i * 9));
  }
  c.Text("AMBIENT", 36, 90, 62, Agg(kWhite), 0, 0, 0.15);
  c.Text("LINES", 36, 160, 62, Agg({80, 200, 230}), 0, 0, 0.15);
  c.Text("THE NORTH ROOM ORCHESTRA", 36, 460, 20, Agg(kWhite, 200));
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void CdSpine(const std::string& file) {
  Canvas c(40, 500, kSampleScale);
  c.Shade(Vertical({20, 22, 30}, {50, 30, 60}));
  SpineLettering(c, 20, 460, 40, {{"THE NORTH ROOM", 14}, {"AMBIENT LINES", 20}}, {{80, 200, 230}, kWhite});
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// The sleeve of a DVD, 135 x 190 mm.
void DvdFront(const std::string& file) {
  Canvas c(483, 680, kSampleScale);
  c.Shade([&](double x, double y) {
    const double band = std::exp(-std::pow((y - 0.3 - 0.1 * std::sin(x * 6)) * 7, 2));
    Rgb col = Mix({6, 14, 34}, {10, 30, 50}, y);
    col = Mix(col, {60, 230, 150}, band * 0.8);
    const double g = Grain(x, y) * 3;
    return Pack({col.r + g, col.g + g, col.b + g});
  });
  for (int i = 0; i < 60; ++i) {  // stars
    // Scattered without a pattern: the same hash as the grain.
    const auto hash = [](double v) { return v - std::floor(v); };
    const double x = hash(std::sin(i * 12.9898) * 43758.5453) * 483, y = hash(std::sin(i * 78.233) * 43758.5453) * 300;
    c.Ellipse(x, y, 1.4, 1.4, Agg(kWhite, 200));
  }
  c.Polygon({{0, 560}, {90, 470}, {160, 520}, {260, 430}, {360, 510}, {483, 450}, {483, 680}, {0, 680}},
            Agg({4, 8, 16}));
  c.Text("NORTHERN", 241.5, 380, Canvas::Fit("NORTHERN", 64, 400), Agg(kWhite), 0.5, 0, 0.15);
  c.Text("LIGHTS", 241.5, 462, 64, Agg({120, 250, 190}), 0.5, 0, 0.15);
  c.Text("A FILM BY JONAS VIK", 241.5, 628, 22, Agg(kWhite, 210), 0.5);
  // The format band runs off the top (bleed); its lettering keeps clear of the edges.
  c.Rect(0, 0, 483, 72, Agg({20, 60, 160}));
  c.Text("DVD", 36, 52, 26, Agg(kWhite), 0, 0, 0.16);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void DvdSpine(const std::string& file) {
  Canvas c(50, 680, kSampleScale);
  c.Shade(Vertical({6, 14, 34}, {4, 8, 16}));
  c.Rect(0, 0, 50, 72, Agg({20, 60, 160}));
  SpineLettering(c, 25, 640, 100, {{"JONAS VIK", 16}, {"NORTHERN LIGHTS", 24}}, {{120, 250, 190}, kWhite});
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// The tall DVD box (135 x 190 x 20 mm): its side and its top, in the sleeve's colours.
void DvdBoxSide(const std::string& file) {
  Canvas c(72, 680, kSampleScale);
  c.Shade(Vertical({6, 14, 34}, {4, 8, 16}));
  c.Rect(0, 0, 72, 72, Agg({20, 60, 160}));
  c.Text("DVD", 36, 46, 20, Agg(kWhite), 0.5, 0, 0.16);
  SpineLettering(c, 36, 640, 100, {{"JONAS VIK", 20}, {"NORTHERN LIGHTS", 30}}, {{120, 250, 190}, kWhite});
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void DvdBoxTop(const std::string& file) {
  Canvas c(483, 72, kSampleScale);
  c.Shade(Vertical({20, 60, 160}, {6, 14, 34}));
  c.Text("NORTHERN LIGHTS", 241.5, 46, Canvas::Fit("NORTHERN LIGHTS", 26, 380), Agg(kWhite), 0.5, 0, 0.15);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- app tile, magazine -------------------------------------------------------------------------

void AppTile(const std::string& file) {
  Canvas c(512, 512, kSampleScale);
  c.Shade([&](double x, double y) {
    Rgb col = Mix({255, 120, 60}, {220, 40, 110}, (x + y) / 2);
    return Pack(col);
  });
  // A stylised camera aperture: six blades round a hole.
  for (int i = 0; i < 6; ++i) {
    const double a = i * agg::pi / 3;
    auto pt = [&](double r, double da) {
      return std::pair<double, double>{256 + r * std::cos(a + da), 256 + r * std::sin(a + da)};
    };
    c.Polygon({pt(60, 0), pt(170, -0.35), pt(170, 0.55), pt(60, 1.05)}, Agg(kWhite, 120 + i * 20));
  }
  c.Ellipse(256, 256, 52, 52, Agg({40, 20, 50}));
  c.Text("SNAP", 256, 470, 48, Agg(kWhite), 0.5, 0, 0.16);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

void MagazineFront(const std::string& file) {
  Canvas c(500, 667, kSampleScale);
  c.Shade(Vertical({235, 232, 225}, {205, 200, 190}));
  // A big abstract "photo": overlapping discs.
  c.Rect(0, 176, 500, 606, Agg({40, 90, 120}));
  c.Ellipse(330, 390, 150, 150, Agg({240, 180, 60}, 230));
  c.Ellipse(200, 450, 120, 120, Agg({220, 70, 60}, 200));
  c.Ellipse(380, 520, 70, 70, Agg({250, 240, 230}, 220));
  // The masthead stands clear of the top edge, where a cover is trimmed.
  c.Text("PIXEL", 250, 128, 84, Agg({200, 30, 40}), 0.5, 0, 0.17);
  c.Text("DESIGN  ART  TECHNOLOGY", 250, 158, 18, Agg({40, 40, 40}), 0.5);
  c.Text("COLOUR", 36, 270, 44, Agg(kWhite), 0, 0, 0.16);
  c.Text("ISSUE", 36, 328, 44, Agg(kWhite), 0, 0, 0.16);
  c.Text("No. 12   2026", 250, 638, 22, Agg({40, 40, 40}), 0.5);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// A studio backdrop: light falling on a seamless paper sweep.
void Backdrop(const std::string& file) {
  Canvas c(800, 600, kSampleScale);
  c.Shade([&](double x, double y) {
    const double spot = std::exp(-(std::pow((x - 0.5) * 1.6, 2) + std::pow((y - 0.45) * 1.8, 2)));
    Rgb col = Mix({150, 160, 178}, {246, 247, 250}, spot);
    const double g = Grain(x, y) * 2.5;
    return Pack({col.r + g, col.g + g, col.b + g});
  });
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- "customfile" pictures: PNG with alpha ------------------------------------------------------

// The clear plastic lid of a jewel case: a faint diagonal sheen, a bright band and hinge ribs on
// the left.
void JewelGloss(const std::string& file) {
  Canvas c(568, 500);
  c.Shade([&](double x, double y) {
    const double d = x * 0.8 + y * 0.6;
    // The layer's warp blends these pixels onto a transparent target, which squares their
    // alpha, so the values are high for a sheen that shows.
    double a = 90 * (1 - d) + 110 * std::exp(-std::pow((d - 0.42) * 11, 2)) + 60 * std::exp(-std::pow((d - 0.55) * 25, 2));
    if (x < 0.06) a = 140 + 80 * std::fabs(std::sin(x * 160));  // the hinge ribs
    return Pack(kWhite, std::clamp(a, 0.0, 225.0));
  });
  quirlon::imagefiles::SavePng(c.Bitmap(), file, 96);
}

// The clear sleeve of a keep case: a soft sheen and the rounded frame of the case showing at
// the edges.
void KeepcaseSleeve(const std::string& file) {
  Canvas c(480, 680);
  c.Shade([&](double x, double y) {
    const double d = x * 0.7 + y * 0.3;
    const double a = 50 + 110 * std::exp(-std::pow((d - 0.35) * 9, 2));
    return Pack(kWhite, a);
  });
  // The case frame: a dark border with rounded inner corners, under the sleeve.
  agg::path_storage p;
  p.move_to(0, 0);
  p.line_to(480, 0);
  p.line_to(480, 680);
  p.line_to(0, 680);
  p.close_polygon();
  agg::rounded_rect inner(10, 10, 470, 670, 18);
  inner.normalize_radius();
  p.concat_path(inner);
  agg::rasterizer_scanline_aa<> ras;
  ras.filling_rule(agg::fill_even_odd);
  agg::rendering_buffer buf(reinterpret_cast<agg::int8u*>(c.Bitmap().Bits()), 480, 680, 480 * 4);
  agg::pixfmt_bgra32_plain pf(buf);
  agg::renderer_base<agg::pixfmt_bgra32_plain> base(pf);
  agg::scanline_u8 sl;
  ras.add_path(p);
  agg::render_scanlines_aa_solid(ras, sl, base, agg::rgba8(20, 20, 24, 255));
  quirlon::imagefiles::SavePng(c.Bitmap(), file, 96);
}

// ---- materials: overlays in a face's own millimetres ---------------------------------------------
// Each is drawn for the usual size of its product's face and stretched over the face's corners,
// so it follows the face at any size and view. They are neutral (greys and white): the scene's
// shading is laid over them, so the light falls on them as on the face.

// A colour with straight alpha in 0..1.
struct Paint {
  Rgb c;
  double a;
};
const Paint kClear{kBlack, 0};

Paint Over(Paint below, Paint above) {
  const double a = above.a + below.a * (1 - above.a);
  if (a <= 0) return kClear;
  auto ch = [&](double b, double t) { return (t * above.a + b * below.a * (1 - above.a)) / a; };
  return {{ch(below.c.r, above.c.r), ch(below.c.g, above.c.g), ch(below.c.b, above.c.b)}, a};
}

// x, y in millimetres from the picture's top-left.
using Material = std::function<Paint(double x, double y)>;

// The renderer draws every layer's picture over its quad enlarged by this much about the quad's
// centre and then cuts it back to the quad (its safe margin at the usual setting): a material
// covers that larger area, its face in the middle, so that what is left is the face, edge to edge.
constexpr double kOverscan = 1.05;

// Draws Material over w x h millimetres at PerMm pixels to the millimetre, 4 x 4 samples a pixel
// (hard edges come out antialiased), and saves it as a PNG. Beyond the face (in the margin the
// renderer cuts away) the face's edge continues.
void SaveMaterial(const std::string& file, double w, double h, double perMm, const Material& m) {
  constexpr int kSamples = 4;
  const double fw = w * kOverscan, fh = h * kOverscan, x0 = (w - fw) / 2, y0 = (h - fh) / 2;
  const int pw = static_cast<int>(std::lround(fw * perMm)), ph = static_cast<int>(std::lround(fh * perMm));
  TBitmap32 bitmap;
  bitmap.SetSize(pw, ph);
  for (int py = 0; py < ph; ++py) {
    TColor32* row = bitmap.ScanLine(py);
    for (int px = 0; px < pw; ++px) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = x0 + (px + (sx + 0.5) / kSamples) * fw / pw, y = y0 + (py + (sy + 0.5) / kSamples) * fh / ph;
          const Paint p = m(std::clamp(x, 0.0, w), std::clamp(y, 0.0, h));
          r += p.c.r * p.a;
          g += p.c.g * p.a;
          b += p.c.b * p.a;
          a += p.a;
        }
      row[px] = a > 0 ? Pack({r / a, g / a, b / a}, 255 * a / (kSamples * kSamples)) : 0;
    }
  }
  quirlon::imagefiles::SavePng(bitmap, file, 96);
}

bool Within(double v, double lo, double hi) { return v >= lo && v < hi; }
// 1 at the centre of a line of half-width Half around At, falling to 0 at its sides.
double Line(double v, double at, double half) { return std::max(0.0, 1 - std::fabs(v - at) / half); }
// A repeatable value in 0..1 for an integer (the page stripes' irregularity).
double Hash(int i) {
  const double v = std::sin(i * 127.1 + 311.7) * 43758.5453;
  return v - std::floor(v);
}
// Distance inside a rounded rectangle (negative outside).
double InsideRoundRect(double x, double y, double x1, double y1, double x2, double y2, double r) {
  const double cx = std::clamp(x, x1 + r, x2 - r), cy = std::clamp(y, y1 + r, y2 - r);
  if (cx == x && cy == y) return std::min({x - x1, x2 - x, y - y1, y2 - y});
  return r - std::hypot(x - cx, y - cy);
}

const Rgb kBoard{58, 56, 54};       // the cloth-covered board edges of a hardcover
const Rgb kGap{26, 24, 22};         // the shadow between boards where the page block stops short
const Rgb kPaperLine{150, 140, 120};  // the darker page edges among the lighter ones

// Page edges: thin stripes across Across (millimetres) with a little irregularity, darker
// within a millimetre of Lo and Hi where the block meets its covers.
Paint PageStripes(double across, double lo, double hi) {
  const int stripe = static_cast<int>(std::floor(across * 3));
  double a = 0.10 + 0.22 * Hash(stripe) * Hash(stripe / 7);
  const double edge = std::min(across - lo, hi - across);
  if (edge < 1.2) a += 0.35 * (1 - edge / 1.2);
  return {kPaperLine, std::clamp(a, 0.0, 0.7)};
}

// A hardcover of 160 x 240 x 38 mm: boards 2.5 mm thick standing 3 mm proud of the page block at
// the head, the foot and the fore-edge, a groove 8 mm in from the spine on both covers.
constexpr double kBookW = 160, kBookH = 240, kBookD = 38, kBoardT = 2.5, kOverhang = 3, kGroove = 8;

Paint BoardEdge(double across, double lo, double hi) {
  // The board's cloth is rounded over its edge: lighter along the middle of its thickness.
  const double t = (across - lo) / (hi - lo);
  return {Mix(kBoard, {120, 116, 110}, 0.5 * std::sin(t * agg::pi)), 1};
}

Paint HardcoverForeEdge(double x, double y) {
  // x from the front cover to the back one, y from head to foot.
  if (x < kBoardT) return BoardEdge(x, 0, kBoardT);
  if (x > kBookD - kBoardT) return BoardEdge(x, kBookD - kBoardT, kBookD);
  if (y < kOverhang || y > kBookH - kOverhang) return {kGap, 1};
  Paint p = PageStripes(x, kBoardT, kBookD - kBoardT);
  // The block's own edge just inside the boards' overhang catches a little shadow.
  const double fromGap = std::min(y - kOverhang, kBookH - kOverhang - y);
  if (fromGap < 1.5) p = Over(p, {kGap, 0.5 * (1 - fromGap / 1.5)});
  return p;
}

Paint HardcoverHead(double x, double y) {
  // x from the spine to the fore-edge, y from the back cover to the front one.
  if (y < kBoardT) return BoardEdge(y, 0, kBoardT);
  if (y > kBookD - kBoardT) return BoardEdge(y, kBookD - kBoardT, kBookD);
  if (x < 1.2) return BoardEdge(x, 0, 1.2);  // the spine's cloth
  if (x > kBookW - kOverhang) return {kGap, 1};
  // The headband where the block is sewn to the spine: a striped bead.
  if (x < 3.2) return {Mix({150, 40, 40}, {230, 220, 200}, 0.5 + 0.5 * std::sin(y * 4)), 1};
  Paint p = PageStripes(kBookD - y, kBoardT, kBookD - kBoardT);
  const double fromGap = kBookW - kOverhang - x;
  if (fromGap < 1.5) p = Over(p, {kGap, 0.5 * (1 - fromGap / 1.5)});
  return p;
}

// A cover board seen from the front, its spine side at SpineX: the groove (a shadowed dip with a
// lit shoulder on its far side) and the rounded board edges.
Paint HardcoverCover(double x, double y, double spineX) {
  const double fromSpine = std::fabs(x - spineX);
  Paint p = kClear;
  p = Over(p, {kBlack, 0.38 * Line(fromSpine, kGroove - 0.5, 1.1)});
  p = Over(p, {kWhite, 0.22 * Line(fromSpine, kGroove + 1.0, 0.8)});
  const double edge = std::min({x, kBookW - x, y, kBookH - y});
  if (edge < 1.0) p = Over(p, {kWhite, 0.18 * (1 - edge)});
  return p;
}

Paint HardcoverSpine(double x, double y) {
  // x from the back cover to the front one: the joints beside both boards and a rounded back.
  (void)y;
  Paint p = {kWhite, 0.14 * std::sin(x / kBookD * agg::pi)};
  p = Over(p, {kBlack, 0.35 * Line(x, 1.2, 0.9)});
  p = Over(p, {kBlack, 0.35 * Line(x, kBookD - 1.2, 0.9)});
  return p;
}

// A paperback of 127 x 203 x 16 mm: a thin card cover, a flat block of pages.
constexpr double kPbW = 127, kPbD = 16, kCoverT = 0.35;
const Rgb kCoverEdge{236, 234, 228};

Paint PaperbackForeEdge(double x, double) {
  if (x < kCoverT || x > kPbD - kCoverT) return {kCoverEdge, 1};
  return PageStripes(x, kCoverT, kPbD - kCoverT);
}

Paint PaperbackHead(double x, double y) {
  if (y < kCoverT || y > kPbD - kCoverT || x < kCoverT) return {kCoverEdge, 1};
  // The glued spine: a faint line where the block meets it.
  Paint p = PageStripes(kPbD - y, kCoverT, kPbD - kCoverT);
  p = Over(p, {kPaperLine, 0.5 * Line(x, kCoverT + 0.6, 0.6)});
  (void)kPbW;
  return p;
}

// A magazine of 210 x 280 x 4 mm: a glossy cover (a broad neutral sheen and the fold at the
// spine), and thin page edges.
Paint MagazineGloss(double x, double y) {
  const double d = (x / 210) * 0.7 + (y / 280) * 0.5;
  Paint p = {kWhite, 0.20 * std::exp(-std::pow((d - 0.38) * 7, 2)) + 0.07 * std::exp(-std::pow((d - 0.62) * 18, 2))};
  p = Over(p, {kBlack, 0.30 * Line(x, 0.5, 0.5)});
  p = Over(p, {kWhite, 0.25 * Line(x, 1.4, 0.7)});
  return p;
}
Paint MagazineForeEdge(double x, double) { return PageStripes(x * 3, 0, 12); }
Paint MagazineHead(double, double y) { return PageStripes((4 - y) * 3, 0, 12); }

// A jewel case of 142 x 125 x 10 mm: a clear lid (4 mm) over a tray (6 mm), the hinge on the left.
constexpr double kJcW = 142, kJcH = 125, kJcD = 10, kLid = 4;
const Rgb kClearPlastic{226, 232, 236};

// The clear lid seen from the front: a raised frame round the insert, the hinge strip with its
// ribs and two knuckles on the left, and a diagonal sheen.
Paint JewelLid(double x, double y) {
  const double d = (x / kJcW) * 0.8 + (y / kJcH) * 0.6;
  Paint p = {kWhite, 0.16 * (1 - d) + 0.28 * std::exp(-std::pow((d - 0.42) * 11, 2))};
  const double edge = std::min({x, kJcW - x, y, kJcH - y});
  if (edge < 2.2) p = Over(p, {kClearPlastic, 0.30 + 0.25 * (edge / 2.2)});
  p = Over(p, {kBlack, 0.45 * Line(edge, 0.15, 0.3)});
  p = Over(p, {kWhite, 0.55 * Line(edge, 2.2, 0.35)});
  if (x < 5.5) {
    // The hinge strip: fine upright ribs, and a knuckle at either end.
    p = Over(p, {kClearPlastic, 0.35 + 0.25 * (0.5 + 0.5 * std::sin(x * 9))});
    p = Over(p, {kBlack, 0.35 * Line(x, 5.5, 0.3)});
    for (const double top : {2.5, kJcH - 14.5}) {
      const double in = InsideRoundRect(x, y, 0.2, top, 5.2, top + 12, 1.6);
      if (in > 0) p = Over(p, {Mix({150, 156, 162}, {245, 248, 250}, 0.5 + 0.5 * std::sin(y - top)), std::min(1.0, 0.7 + in)});
      else if (in > -0.4) p = Over(p, {kBlack, 0.5});
    }
  }
  return p;
}

// The case's edge across its depth Z from the front: the clear lid's edge, the seam, the tray.
Paint JewelEdge(double z, double along, double length) {
  Paint p;
  if (z < kLid) p = {Mix({235, 240, 244}, {190, 196, 202}, z / kLid), 0.85};
  else p = {Mix({60, 62, 66}, {40, 42, 46}, (z - kLid) / (kJcD - kLid)), 0.9};
  p = Over(p, {kWhite, 0.6 * Line(z, 0.4, 0.4)});
  p = Over(p, {kBlack, 0.8 * Line(z, kLid, 0.25)});
  // The tray's moulded ridges.
  if (z > kLid + 1) p = Over(p, {kWhite, 0.12 * Line(std::fmod(z - kLid, 1.2), 0.6, 0.3)});
  // The case's rounded ends.
  const double end = std::min(along, length - along);
  if (end < 1.5) p = Over(p, {kBlack, 0.4 * (1 - end / 1.5)});
  return p;
}
Paint JewelSide(double x, double y) { return JewelEdge(x, y, kJcH); }
Paint JewelTop(double x, double y) { return JewelEdge(kJcD - y, x, kJcW); }

// The left side: the spine insert behind the tray's clear wall; the lid's knuckles at the front.
Paint JewelSpine(double x, double y) {
  const double z = kJcD - x;  // from the front
  Paint p = {kWhite, 0.10 + 0.20 * std::exp(-std::pow((y / kJcH - 0.3) * 5, 2))};
  for (const double top : {2.5, kJcH - 14.5}) {
    const double in = InsideRoundRect(z, y, 0, top, kLid, top + 12, 1.5);
    if (in > 0) p = Over(p, {Mix({170, 176, 182}, {245, 248, 250}, std::sin(z / kLid * agg::pi)), 0.9});
  }
  p = Over(p, {kBlack, 0.5 * Line(z, kLid, 0.25)});
  const double edge = std::min(y, kJcH - y);
  if (edge < 1.2) p = Over(p, {kBlack, 0.35 * (1 - edge / 1.2)});
  return p;
}

// The back: the tray's clear floor over the back insert, with its frame.
Paint JewelTray(double x, double y) {
  const double d = (x / kJcW) * 0.7 + (y / kJcH) * 0.5;
  Paint p = {kWhite, 0.12 * std::exp(-std::pow((d - 0.5) * 6, 2))};
  const double edge = std::min({x, kJcW - x, y, kJcH - y});
  if (edge < 3) p = Over(p, {kClearPlastic, 0.35});
  p = Over(p, {kBlack, 0.45 * Line(edge, 0.15, 0.3)});
  p = Over(p, {kWhite, 0.4 * Line(edge, 3, 0.35)});
  return p;
}

// A keep case of 135 x 190 x 14 mm: black plastic with rounded corners and a rolled rim, the
// sleeve under a clear film with a soft sheen.
constexpr double kKcW = 135, kKcH = 190, kKcD = 14, kKcCorner = 6, kKcRim = 2.2;
const Rgb kBlackPlastic{22, 22, 25};

Paint KeepFront(double x, double y) {
  const double d = (x / kKcW) * 0.7 + (y / kKcH) * 0.3;
  Paint p = {kWhite, 0.10 + 0.26 * std::exp(-std::pow((d - 0.35) * 9, 2))};
  // The rim round the sleeve, rounded at the corners: outside the rounded outline the corner is
  // the darker plastic turning away.
  const double in = InsideRoundRect(x, y, 0, 0, kKcW, kKcH, kKcCorner);
  if (in < 0) return {Mix(kBlackPlastic, kBlack, 0.6), 1};
  if (in < kKcRim) {
    p = {kBlackPlastic, 1};
    p = Over(p, {kWhite, 0.30 * Line(in, 0.5, 0.45)});  // the rim's rolled top catches the light
    p = Over(p, {kBlack, 0.6 * Line(in, kKcRim, 0.3)});
  }
  return p;
}

// Its sides: the sleeve's spine in a clear pocket between the plastic lips at both ends, rounded
// at the edges, ridged on the lips.
Paint KeepSide(double x, double y) {
  const double end = std::min(y, kKcH - y);
  Paint p = {kWhite, 0.10 + 0.18 * std::exp(-std::pow((y / kKcH - 0.35) * 6, 2))};
  if (end < 5) {
    p = {kBlackPlastic, 1};
    if (end > 1) p = Over(p, {kWhite, 0.14 * Line(std::fmod(end, 0.8), 0.4, 0.25)});
  }
  const double side = std::min(x, kKcD - x);
  if (side < 1.2) p = Over(p, {kBlackPlastic, 0.85 * (1 - side / 1.2) + 0.15});
  return p;
}

// Its top: black plastic with lengthwise ridges, rounded at both long edges and at the corners.
Paint KeepTop(double x, double y) {
  Paint p = {kBlackPlastic, 0};
  if (y > 2.5 && y < kKcD - 2.5) p = Over(p, {kWhite, 0.16 * Line(std::fmod(y - 2.5, 1.0), 0.5, 0.22)});
  const double across = std::min(y, kKcD - y);
  p = Over(p, {kWhite, 0.22 * Line(across, 0.9, 0.7)});
  const double end = std::min(x, kKcW - x);
  if (end < kKcCorner) p = Over(p, {kBlack, 0.5 * (1 - end / kKcCorner)});
  return p;
}

// A disc of 120 mm: the spindle hole (15 mm) stays open. Beneath the disc's fill, whose hub is a
// translucent black (0.27 of the way) from the hole out to the label: the hub's clear plastic, with
// its stacking ring, then the mirror band up to the label (0.4 of the radius), all opaque, so that
// no page shows through; where the artwork reaches further in (the large-area disc) it covers them.
// Over the fill: a thin rim and a neutral sheen.
constexpr double kDiscR = 60, kHole = 7.5, kLabel = 24.2;
// Lightened so that they come out right under the fill's translucent black.
Rgb UnderHubBlack(Rgb c) {
  constexpr double kLeft = 1 - 70.0 / 255;
  return {c.r / kLeft, c.g / kLeft, c.b / kLeft};
}
Paint DiscHub(double x, double y) {
  const double dx = x - kDiscR, dy = y - kDiscR, r = std::hypot(dx, dy);
  if (r < kHole || r > kLabel) return kClear;
  Paint p;
  if (r < 16.5) {
    p = {Mix({150, 155, 162}, {178, 182, 188}, (r - kHole) / (16.5 - kHole)), 1};
    p = Over(p, {kWhite, 0.55 * Line(r, 10.8, 0.35)});  // the stacking ring
    p = Over(p, {kBlack, 0.25 * Line(r, 11.3, 0.3)});
    p = Over(p, {kBlack, 0.3 * Line(r, kHole + 0.2, 0.3)});
  } else {
    // The mirror band: bright where it faces the light's usual quarter, darker across.
    const double t = 0.5 + 0.5 * std::cos(2 * (std::atan2(dy, dx) + 0.8));
    p = {Mix({100, 106, 114}, {186, 188, 192}, t), 1};
    p = Over(p, {kBlack, 0.35 * Line(r, 16.5, 0.35)});
  }
  return {UnderHubBlack(p.c), p.a};
}
Paint DiscSheen(double x, double y) {
  const double dx = x - kDiscR, dy = y - kDiscR, r = std::hypot(dx, dy);
  if (r < kHole || r > kDiscR) return kClear;
  // A soft band across the face, kept well inside full white.
  const double d = (dx + dy) / (2 * kDiscR);
  Paint p = {kWhite, 0.18 * std::exp(-std::pow((d + 0.25) * 4, 2))};
  // The rim: the disc's moulded edge, a light line with a dark one inside it.
  p = Over(p, {kWhite, 0.45 * Line(r, kDiscR - 0.35, 0.35)});
  return Over(p, {kBlack, 0.25 * Line(r, kDiscR - 1.0, 0.4)});
}

// A software box of 190 x 235 x 60 mm: the card is folded over every edge, which rounds it a
// little: a lit bevel along each edge with a darker crease right at it.
Paint BoxBevel(double x, double y, double w, double h) {
  const double edge = std::min({x, w - x, y, h - y});
  Paint p = {kWhite, 0.28 * Line(edge, 1.3, 1.3)};
  return Over(p, {kBlack, 0.35 * Line(edge, 0, 0.35)});
}

// An app tile of 150 x 150 mm: a glassy rim just inside the rounded outline that the renderer cuts
// it to (its built-in rounded rectangle's, stretched over the face enlarged by the overscan),
// nothing outside.
Paint TileEdge(double x, double y) {
  constexpr double kW = 150, kH = 150;
  auto across = [](double share, double size) { return size * (0.5 + kOverscan * (share - 0.5)); };
  const double l = across(13.0 / 326, kW), r = across(313.8 / 326, kW), t = across(10.0 / 257, kH),
               b = across(247.0 / 257, kH);
  const double rx = kOverscan * 11.0 / 326 * kW, ry = kOverscan * 11.0 / 257 * kH;
  const double cx = std::clamp(x, l + rx, r - rx), cy = std::clamp(y, t + ry, b - ry);
  double d = std::min({x - l, r - x, y - t, b - y});
  if (cx != x && cy != y) d = (1 - std::hypot((x - cx) / rx, (y - cy) / ry)) * std::min(rx, ry);
  if (d < 0) return kClear;
  Paint p = {kWhite, 0.40 * Line(d, 0.55, 0.45)};
  return Over(p, {kBlack, 0.18 * Line(d, 1.3, 0.5)});
}

void Materials(const std::string& dir) {
  constexpr double kPerMm = 4;
  SaveMaterial(dir + "/box-bevel-front.png", 190, 235, kPerMm, [](double x, double y) { return BoxBevel(x, y, 190, 235); });
  SaveMaterial(dir + "/box-bevel-side.png", 60, 235, kPerMm, [](double x, double y) { return BoxBevel(x, y, 60, 235); });
  SaveMaterial(dir + "/box-bevel-top.png", 190, 60, kPerMm, [](double x, double y) { return BoxBevel(x, y, 190, 60); });
  SaveMaterial(dir + "/hardcover-front.png", kBookW, kBookH, kPerMm, [](double x, double y) { return HardcoverCover(x, y, 0); });
  SaveMaterial(dir + "/hardcover-back.png", kBookW, kBookH, kPerMm,
               [](double x, double y) { return HardcoverCover(x, y, kBookW); });
  SaveMaterial(dir + "/hardcover-fore-edge.png", kBookD, kBookH, kPerMm * 2, HardcoverForeEdge);
  SaveMaterial(dir + "/hardcover-head.png", kBookW, kBookD, kPerMm * 2, HardcoverHead);
  SaveMaterial(dir + "/hardcover-spine.png", kBookD, kBookH, kPerMm, HardcoverSpine);
  SaveMaterial(dir + "/paperback-fore-edge.png", kPbD, 203, kPerMm * 2, PaperbackForeEdge);
  SaveMaterial(dir + "/paperback-head.png", kPbW, kPbD, kPerMm * 2, PaperbackHead);
  SaveMaterial(dir + "/magazine-gloss.png", 210, 280, kPerMm, MagazineGloss);
  SaveMaterial(dir + "/magazine-fore-edge.png", 4, 280, kPerMm * 4, MagazineForeEdge);
  SaveMaterial(dir + "/magazine-head.png", 210, 4, kPerMm * 4, MagazineHead);
  SaveMaterial(dir + "/jewelcase-lid.png", kJcW, kJcH, kPerMm * 1.5, JewelLid);
  SaveMaterial(dir + "/jewelcase-side.png", kJcD, kJcH, kPerMm * 2, JewelSide);
  SaveMaterial(dir + "/jewelcase-top.png", kJcW, kJcD, kPerMm * 2, JewelTop);
  SaveMaterial(dir + "/jewelcase-spine.png", kJcD, kJcH, kPerMm * 2, JewelSpine);
  SaveMaterial(dir + "/jewelcase-tray.png", kJcW, kJcH, kPerMm, JewelTray);
  SaveMaterial(dir + "/keepcase-front.png", kKcW, kKcH, kPerMm, KeepFront);
  SaveMaterial(dir + "/keepcase-side.png", kKcD, kKcH, kPerMm * 2, KeepSide);
  SaveMaterial(dir + "/keepcase-top.png", kKcW, kKcD, kPerMm * 2, KeepTop);
  SaveMaterial(dir + "/disc-hub.png", 2 * kDiscR, 2 * kDiscR, kPerMm * 2, DiscHub);
  SaveMaterial(dir + "/disc-sheen.png", 2 * kDiscR, 2 * kDiscR, kPerMm * 2, DiscSheen);
  SaveMaterial(dir + "/tile-edge.png", 150, 150, kPerMm * 2, TileEdge);
}

// ---- about box logo ---------------------------------------------------------------------------

void Logo(const std::string& file) {
  Canvas c(300, 75);
  c.Shade(Vertical({34, 58, 120}, {14, 24, 60}));
  // A small box in three faces.
  const Rgb front{90, 170, 240}, side{40, 100, 180}, top{160, 210, 250};
  c.Polygon({{20, 22}, {50, 18}, {50, 62}, {20, 58}}, Agg(front));
  c.Polygon({{50, 18}, {62, 16}, {62, 56}, {50, 62}}, Agg(side));
  c.Polygon({{20, 22}, {34, 14}, {62, 16}, {50, 18}}, Agg(top));
  c.Text("Quirlon", 80, 46, 30, Agg(kWhite), 0, 0, 0.15);
  c.Text("BOX SHOTS FROM FLAT ARTWORK", 82, 64, Canvas::Fit("BOX SHOTS FROM FLAT ARTWORK", 10, 200), Agg({170, 200, 240}));
  c.Text("1.0", 282, 46, 16, Agg({120, 200, 250}), 1, 0, 0.15);
  quirlon::imagefiles::SaveJpg(c.Bitmap(), file, 96);
}

// ---- gallery ----------------------------------------------------------------------------------

int Gallery(const std::vector<std::string>& args) {
  const std::string out = args[0];
  const int cols = std::stoi(args[1]);
  std::vector<std::unique_ptr<TBitmap32>> pics;
  std::vector<std::string> labels;
  for (std::size_t i = 2; i + 1 < args.size(); i += 2) {
    pics.push_back(std::make_unique<TBitmap32>());
    quirlon::imagefiles::LoadFromFile(*pics.back(), args[i]);
    labels.push_back(args[i + 1]);
  }
  if (pics.empty()) throw std::runtime_error("gallery: no pictures");
  const int cw = pics[0]->Width(), ch = pics[0]->Height(), label = 26, gap = 8;
  const int rows = (static_cast<int>(pics.size()) + cols - 1) / cols;
  Canvas c(cols * (cw + gap) + gap, rows * (ch + label + gap) + gap);
  c.Shade([](double, double) { return Pack({236, 238, 242}); });
  for (std::size_t i = 0; i < pics.size(); ++i) {
    const int x0 = gap + static_cast<int>(i % cols) * (cw + gap);
    const int y0 = gap + static_cast<int>(i / cols) * (ch + label + gap);
    const TBitmap32& p = *pics[i];
    for (int y = 0; y < std::min(ch, p.Height()); ++y) {
      const TColor32* src = p.ScanLine(y);
      TColor32* dst = c.Bitmap().ScanLine(y0 + y) + x0;
      for (int x = 0; x < std::min(cw, p.Width()); ++x) dst[x] = src[x] | 0xFF000000u;
    }
    c.Rect(x0, y0 + ch, x0 + cw, y0 + ch + label, Agg({40, 48, 64}));
    c.Text(labels[i], x0 + 8, y0 + ch + 18, 12, Agg(kWhite), 0, 0, 0.13);
  }
  quirlon::imagefiles::SavePng(c.Bitmap(), out, 96);
  return 0;
}

int Samples(const std::string& ex, const std::string& custom) {
  const BoxTheme blue{{10, 30, 80}, {40, 130, 220}, {90, 220, 255}, "QUIRLON SOFTWARE", "LUMEN", "PHOTO STUDIO",
                      "EDIT  ORGANISE  SHARE"};
  const BoxTheme orange{{110, 30, 10}, {250, 140, 40}, {255, 230, 120}, "QUIRLON SOFTWARE", "NIMBUS", "BACKUP PRO",
                        "SAFE  FAST  SIMPLE"};
  BoxFront(blue, ex + "/box-front.jpg");
  BoxSide(blue, ex + "/box-side.jpg");
  BoxTop(blue, ex + "/box-top.jpg");
  BoxFront(orange, ex + "/box2-front.jpg");
  BoxSide(orange, ex + "/box2-side.jpg");
  BoxTop(orange, ex + "/box2-top.jpg");
  BookFront(ex + "/book-front.jpg");
  BookSpine(ex + "/book-spine.jpg");
  DiscLabel({250, 190, 90}, {200, 60, 40}, "THE QUIET HARBOUR", "AUDIOBOOK  CD 1", ex + "/disc-label.jpg");
  DiscLabel({90, 200, 240}, {30, 40, 120}, "LUMEN", "INSTALL DISC", ex + "/disc2-label.jpg");
  DiscLabel({60, 40, 80}, {20, 22, 30}, "AMBIENT LINES", "THE NORTH ROOM ORCHESTRA", ex + "/cd-disc.jpg");
  CdFront(ex + "/cd-front.jpg");
  CdSpine(ex + "/cd-spine.jpg");
  DvdFront(ex + "/dvd-front.jpg");
  DvdSpine(ex + "/dvd-spine.jpg");
  DvdBoxSide(ex + "/dvdbox-side.jpg");
  DvdBoxTop(ex + "/dvdbox-top.jpg");
  AppTile(ex + "/app-tile.jpg");
  MagazineFront(ex + "/magazine-front.jpg");
  Backdrop(ex + "/backdrop.jpg");
  JewelGloss(custom + "/jewelcase-gloss.png");
  KeepcaseSleeve(custom + "/keepcase-sleeve.png");
  Materials(custom);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 3 && args[0] == "samples") return Samples(args[1], args[2]);
    if (args.size() == 2 && args[0] == "logo") {
      Logo(args[1]);
      return 0;
    }
    if (args.size() >= 5 && args[0] == "gallery") return Gallery(std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const std::exception& e) {
    std::cerr << "quirlon-artwork: " << e.what() << '\n';
    return 1;
  }
  std::cerr << "usage: quirlon-artwork samples EXAMPLES_DIR CUSTOM_DIR | logo FILE.jpg |\n"
               "       gallery OUT.png COLUMNS PICTURE LABEL [PICTURE LABEL ...]\n";
  return 2;
}
