// A product built from a job's values: where the sizes come from, where a cover wrap's parts go,
// and what each rendered face layer of a wrapped book holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "core/ProductError.h"
#include "core/ProductJob.h"
#include "core/ProductKind.h"
#include "core/Render.h"
#include "tests/ScratchFolder.h"
#include "tests/support/WritePng.h"

namespace quirlon::core {
namespace {

using testing::ScratchFolder;
using testing::TRgb;
using testing::WritePng;

TProductTemplate Build(const TProductJob& job, const TSlotSources& sources = DefaultSlotSources(),
                       const TProductScene* templateScene = nullptr) {
  imagefiles::TPictureCache pictures;
  return BuildProductTemplate(job, templateScene, sources, pictures, imagefiles::kDefaultPicturePixels);
}

TEST(ProductJobTest, SizesComeFromSizePagesSpineOrTheKind) {
  TProductJob job;
  job.Kind = "hardcover";
  job.Size = TProductSize{152.4, 228.6, 0};
  job.Pages = 400;  // white: 400 x 0.0572 = 22.88 mm
  TProduct book = Build(job).Scene.Products.at(0);
  EXPECT_DOUBLE_EQ(book.Depth, 22.88);
  EXPECT_DOUBLE_EQ(book.Width, 152.4);

  job.Spine = 30;  // a spine given as such wins over the page count
  EXPECT_DOUBLE_EQ(Build(job).Scene.Products.at(0).Depth, 30);

  // No size at all: the kind's usual one, and its usual view.
  TProductJob plain;
  plain.Kind = "box";
  const TProductScene box = Build(plain).Scene;
  const TProductKind& kind = *FindProductKind("box");
  EXPECT_EQ(box.Products.at(0).Width, kind.Width);
  EXPECT_EQ(box.Products.at(0).Depth, kind.Depth);
  EXPECT_EQ(box.Camera.Yaw, kind.Yaw);
  EXPECT_EQ(box.Camera.Pitch, kind.Pitch);

  TProductJob disc;
  disc.Kind = "disc";
  disc.Size = TProductSize{80, 80, 0};
  EXPECT_EQ(Build(disc).Scene.Products.at(0).Height, 80);
}

TEST(ProductJobTest, TemplateSceneTurnsAndKeepsItsProduct) {
  TProductJob job;
  job.Yaw = -20;
  TProductScene scene = MakeProductScene("paperback");
  scene.SeamRules = 1;
  const TProductTemplate built = Build(job, DefaultSlotSources(), &scene);
  EXPECT_EQ(built.Scene.Camera.Yaw, -20);
  EXPECT_EQ(built.Scene.Camera.Pitch, scene.Camera.Pitch);
  EXPECT_EQ(built.Scene.Products, scene.Products);
  EXPECT_EQ(built.Scene.SeamRules, kSeamRules);
  EXPECT_EQ(built.Template->Layers.size(), built.Generated.Layers.size());
  // Turned from the left (the usual yaw 30) to the right, the light moves to the side away from
  // the camera with it; turned within one side, it stays where it was.
  EXPECT_EQ(scene.LightAzimuth, -40);
  EXPECT_EQ(built.Scene.LightAzimuth, 40);
  EXPECT_EQ(built.Scene.LightElevation, scene.LightElevation);
  job.Yaw = 10;
  EXPECT_EQ(Build(job, DefaultSlotSources(), &scene).Scene.LightAzimuth, -40);
  job.Yaw = -20;

  job.Size = TProductSize{100, 150, 10};
  EXPECT_THROW(Build(job, DefaultSlotSources(), &scene), EBadProductValue);
  EXPECT_THROW(Build(TProductJob{.Yaw = 10}), EBadProductValue);  // neither a kind nor a template
}

// Back red, spine green, front blue, yellow bleed, and magenta on every pixel a fold or trim line
// crosses; 2 pixels a millimetre. Each face layer of the render, its reflection and its underlay
// may show only its own part's colour.
TEST(ProductJobTest, WrapPartsFillTheirFacesAndNothingElse) {
  ScratchFolder dir;
  const double bleed = 3.175, trimW = 127, trimH = 203, spine = 17.6;
  const double edges[] = {bleed, bleed + trimW, bleed + trimW + spine, bleed + 2 * trimW + spine};
  const double widthMm = 2 * bleed + 2 * trimW + spine, heightMm = 2 * bleed + trimH;
  const std::uint32_t width = 556, height = 419;  // 2 px/mm: 555.9 x 418.7
  const double sx = width / widthMm, sy = height / heightMm;
  WritePng(dir.PathOf("wrap.png"), width, height, [&](std::uint32_t x, std::uint32_t y) {
    const double x0 = x / sx, x1 = (x + 1) / sx, y0 = y / sy, y1 = (y + 1) / sy;
    auto crosses = [](double from, double to, double edge) { return from < edge && edge < to; };
    for (double edge : edges)
      if (crosses(x0, x1, edge)) return TRgb{255, 0, 255};
    if (crosses(y0, y1, bleed) || crosses(y0, y1, bleed + trimH)) return TRgb{255, 0, 255};
    if (x1 <= edges[0] || x0 >= edges[3] || y1 <= bleed || y0 >= bleed + trimH) return TRgb{255, 255, 0};
    return x1 <= edges[1] ? TRgb{255, 0, 0} : x1 <= edges[2] ? TRgb{0, 255, 0} : TRgb{0, 0, 255};
  });

  // Which colour channels each slot's part may show (red, green, blue).
  const std::map<std::string, std::array<bool, 3>> allowed = {
      {"FRONT2", {true, false, false}}, {"SIDE", {false, true, false}}, {"FRONT", {false, false, true}}};
  for (const double yaw : {30.0, 150.0, -150.0}) {
    SCOPED_TRACE(yaw);
    TProductJob job;
    job.Kind = "paperback";
    job.Wrap = dir.PathOf("wrap.png");
    job.Trim = TProductSize{trimW, trimH, 0};
    job.Spine = spine;
    job.Yaw = yaw;
    const TProductTemplate built = Build(job);
    EXPECT_EQ(BackCoverSlot(built.Scene), "FRONT2");

    TRenderRequest request;
    request.Template.Parsed = built.Template;
    request.Sources = built.Sources;
    request.Width = 800;
    request.Height = 600;
    request.CustomFolder = std::string(QUIRLON_SOURCE_DIR) + "/data/custom/";  // the materials' pictures
    const TRenderResult result = ApplyTemplate(request);
    std::map<std::string, std::string> sourceOf;
    for (const TTemplateLayer& layer : built.Template->Layers) sourceOf[layer.Section] = layer.Source;
    int checked = 0;
    for (const TRenderedLayer& layer : result.Layers) {
      const auto it = allowed.find(sourceOf[layer.Role.Section]);
      if (it == allowed.end() || layer.Role.Type == ltCustomFile) continue;
      ++checked;
      const raster::TBitmap32& bitmap = *layer.Bitmap;
      std::size_t shown = 0, foreign = 0;
      for (std::int32_t y = 0; y < bitmap.Height(); ++y)
        for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
          const raster::TColor32 c = bitmap.ScanLine(y)[x];
          if (raster::AlphaComponent(c) < 16) continue;
          ++shown;
          const int channels[] = {raster::RedComponent(c), raster::GreenComponent(c), raster::BlueComponent(c)};
          const int own = *std::max_element(channels, channels + 3);
          for (int i = 0; i < 3; ++i) foreign += !it->second[i] && channels[i] > 24 && channels[i] * 8 > own;
        }
      EXPECT_GT(shown, 100u) << layer.Role.Section;
      EXPECT_EQ(foreign, 0u) << layer.Role.Section << " " << layer.Role.TypeText << " " << it->first;
    }
    EXPECT_GE(checked, 2);  // a face at least, and its reflection
  }
}

}  // namespace
}  // namespace quirlon::core
