// Smooth sampling against the exact path on whole renders: a small render must look like a large
// render of the same scene reduced, and switching the sampling must leave the exact pixels alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "../ScratchFolder.h"
#include "core/Render.h"
#include "core/Template.h"
#include "imagefiles/OutputWriters.h"

namespace quirlon::core {
namespace {

using raster::TBitmap32;
using raster::TColor32;

const std::string kSource = QUIRLON_SOURCE_DIR;

// Box-filter reduction by Factor in both directions, each channel weighted by alpha (the mean of
// what the pixels show, as an area filter over straight-alpha pixels means it).
std::unique_ptr<TBitmap32> AreaReduce(const TBitmap32& Big, int Factor) {
  auto reduced = std::make_unique<TBitmap32>();
  TBitmap32& small = *reduced;
  small.SetSize(Big.Width() / Factor, Big.Height() / Factor);
  for (std::int32_t y = 0; y < small.Height(); ++y)
    for (std::int32_t x = 0; x < small.Width(); ++x) {
      double sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < Factor; ++j)
        for (int i = 0; i < Factor; ++i) {
          const TColor32 c = Big.ScanLine(y * Factor + j)[x * Factor + i];
          const double a = (c >> 24) / 255.0;
          sum[0] += ((c >> 16) & 0xFF) * a;
          sum[1] += ((c >> 8) & 0xFF) * a;
          sum[2] += (c & 0xFF) * a;
          sum[3] += a;
        }
      const double n = Factor * Factor;
      TColor32 out = 0;
      if (sum[3] > 0)
        out = static_cast<TColor32>(std::lround(sum[3] / n * 255)) << 24 |
              static_cast<TColor32>(std::lround(sum[0] / sum[3])) << 16 |
              static_cast<TColor32>(std::lround(sum[1] / sum[3])) << 8 | static_cast<TColor32>(std::lround(sum[2] / sum[3]));
      small.ScanLine(y)[x] = out;
    }
  return reduced;
}

// Mean absolute difference per channel (R, G, B) over two opaque pictures of one size.
double MeanAbsoluteError(const TBitmap32& A, const TBitmap32& B) {
  EXPECT_EQ(A.Width(), B.Width());
  EXPECT_EQ(A.Height(), B.Height());
  double sum = 0;
  for (std::int32_t y = 0; y < A.Height(); ++y)
    for (std::int32_t x = 0; x < A.Width(); ++x) {
      const TColor32 a = A.ScanLine(y)[x], b = B.ScanLine(y)[x];
      for (int shift = 0; shift < 24; shift += 8)
        sum += std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    }
  return sum / (3.0 * A.Width() * A.Height());
}

// Black 1-pixel lines every Pitch pixels on white, saved as a PNG.
std::string WriteGridPicture(const testing::ScratchFolder& Scratch, std::int32_t W, std::int32_t H, int Pitch) {
  TBitmap32 grid;
  grid.SetSize(W, H);
  for (std::int32_t y = 0; y < H; ++y)
    for (std::int32_t x = 0; x < W; ++x)
      grid.ScanLine(y)[x] = (x % Pitch == 0 || y % Pitch == 0) ? 0xFF000000u : 0xFFFFFFFFu;
  const std::string path = Scratch.PathOf("grid.png");
  imagefiles::SavePng(grid, path, 96);
  return path;
}

struct TScene {
  const char* Name;
  const char* Template;
  bool Grid;  // the grid picture on every face instead of the sample artwork
};

std::unique_ptr<TBitmap32> RenderScene(const TScene& Scene, const std::string& GridFile, TSampling Sampling,
                                       std::int32_t W, std::int32_t H) {
  TRenderRequest request;
  request.Template.File = kSource + "/data/Templates/" + Scene.Template + ".ini";
  request.CustomFolder = kSource + "/data/custom/";
  // Shadows and reflections are blurred by radii in canvas pixels, which do not scale with the
  // canvas; they are left out so only the sampled faces are compared.
  request.Settings.ShowShadow = false;
  request.Settings.ShowReflection = false;
  request.Settings.Sampling = Sampling;
  request.Width = W;
  request.Height = H;
  auto file = [&](const char* name) {
    return TSlotSource::OfFile(Scene.Grid ? GridFile : kSource + "/examples/" + name);
  };
  request.Sources[SlotIndex(TSlot::Front)] = file("box-front.jpg");
  request.Sources[SlotIndex(TSlot::Side)] = file("box-side.jpg");
  request.Sources[SlotIndex(TSlot::Top)] = file("box-top.jpg");
  return Flatten(ApplyTemplate(request));
}

// The thumbnail against the large render reduced 4 x, for one sampling.
double ThumbnailError(const TScene& Scene, const std::string& GridFile, TSampling Sampling) {
  const auto thumbnail = RenderScene(Scene, GridFile, Sampling, 400, 300);
  const auto large = RenderScene(Scene, GridFile, Sampling, 1600, 1200);
  auto reduced = AreaReduce(*large, 4);
  return MeanAbsoluteError(*thumbnail, *reduced);
}

TEST(SmoothSampling, ThumbnailIsCloserToTheReducedLargeRender) {
  testing::ScratchFolder scratch;
  const std::string grid = WriteGridPicture(scratch, 600, 800, 3);
  const TScene scenes[] = {
      {"sample art", "01 Software box left", false},
      {"1-px grid", "01 Software box left", true},
      {"1-px grid, tall box", "03 Tall DVD box", true},
  };
  for (const TScene& scene : scenes) {
    const double exact = ThumbnailError(scene, grid, TSampling::Exact);
    const double smooth = ThumbnailError(scene, grid, TSampling::Smooth);
    RecordProperty(std::string(scene.Name) + " exact", std::to_string(exact));
    RecordProperty(std::string(scene.Name) + " smooth", std::to_string(smooth));
    std::printf("%s: mean absolute error exact %.3f, smooth %.3f (ratio %.3f)\n", scene.Name, exact, smooth,
                smooth / exact);
    EXPECT_LE(smooth, exact / 3) << scene.Name;
  }
}

// Every face of a template in one red, nothing else drawn, on a transparent background.
// The template's faces without their materials, which draw colours of their own along the edges.
std::unique_ptr<TBitmap32> RenderRedCutOut(const char* Template, TSampling Sampling) {
  auto faces = std::make_shared<TTemplate>(ReadTemplateFile(kSource + "/data/Templates/" + Template + ".ini"));
  std::erase_if(faces->Layers, [](const TTemplateLayer& layer) { return layer.Type == "customfile"; });
  TRenderRequest request;
  request.Template.Parsed = faces;
  request.CustomFolder = kSource + "/data/custom/";
  request.Settings.ShowShadow = false;
  request.Settings.ShowReflection = false;
  request.Settings.ShadingStrength = 0;
  request.Settings.HighlightStrength = 0;
  request.Settings.Sampling = Sampling;
  request.TransparentBackground = true;
  for (TSlot slot : {TSlot::Front, TSlot::Side, TSlot::Top, TSlot::Front2, TSlot::Side2, TSlot::Top2})
    request.Sources[SlotIndex(slot)] = TSlotSource::OfColour(0x0000FF);  // red, as 0x00BBGGRR
  return Flatten(ApplyTemplate(request));
}

struct TCutOutFaults {
  int WorstEdgeError = 0;     // levels, over white or black, against red composited at the alpha
  int TranslucentInside = 0;  // pixels two or more pixels inside the silhouette with alpha below 255
};

TCutOutFaults CheckCutOut(const TBitmap32& Picture) {
  TCutOutFaults faults;
  const int face[3] = {255, 0, 0};
  auto alphaAt = [&](std::int32_t x, std::int32_t y) {
    if (x < 0 || y < 0 || x >= Picture.Width() || y >= Picture.Height()) return 0;
    return static_cast<int>(Picture.ScanLine(y)[x] >> 24);
  };
  for (std::int32_t y = 0; y < Picture.Height(); ++y)
    for (std::int32_t x = 0; x < Picture.Width(); ++x) {
      const TColor32 c = Picture.ScanLine(y)[x];
      const int a = static_cast<int>(c >> 24);
      if (a == 0) continue;
      const int channel[3] = {static_cast<int>((c >> 16) & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                              static_cast<int>(c & 0xFF)};
      for (const int page : {255, 0})
        for (int n = 0; n < 3; ++n) {
          // Straight alpha composited over the page, against the face colour at the same alpha.
          const long shown = std::lround((channel[n] * a + page * (255 - a)) / 255.0);
          const long expected = std::lround((face[n] * a + page * (255 - a)) / 255.0);
          faults.WorstEdgeError = std::max(faults.WorstEdgeError, static_cast<int>(std::labs(shown - expected)));
        }
      bool deepInside = true;
      for (int dy = -2; dy <= 2 && deepInside; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
          if (alphaAt(x + dx, y + dy) == 0) {
            deepInside = false;
            break;
          }
      if (deepInside && a < 255) ++faults.TranslucentInside;
    }
  return faults;
}

TEST(SmoothSampling, TransparentCutOutHasNoHaloAndOpaqueFaces) {
  // Templates whose every face shows a slot (the others add drawn overlays in colours of their own).
  for (const char* name : {"01 Software box left", "02 Software box right", "03 Tall DVD box", "04 Two boxes"}) {
    SCOPED_TRACE(name);
    const TCutOutFaults smooth = CheckCutOut(*RenderRedCutOut(name, TSampling::Smooth));
    const TCutOutFaults exact = CheckCutOut(*RenderRedCutOut(name, TSampling::Exact));
    std::printf("%s: worst edge error smooth %d (exact %d), translucent inside smooth %d (exact %d)\n", name,
                smooth.WorstEdgeError, exact.WorstEdgeError, smooth.TranslucentInside, exact.TranslucentInside);
    EXPECT_LE(smooth.WorstEdgeError, 8);
    // Where three faces meet at a corner, a few pixels are still covered only in part by each (the
    // faces' underlays stop short of the corner); everywhere else the faces are opaque.
    EXPECT_LE(smooth.TranslucentInside, 40);
    EXPECT_GT(exact.TranslucentInside, 50 * std::max(smooth.TranslucentInside, 1));
  }
}

}  // namespace
}  // namespace quirlon::core
