// Products from dimensions through the real quirlon-render: the commands a book author types, the
// values it refuses, a saved template that renders as the product did, the front fitted to its
// picture's proportions, and a full cover wrap cut into its faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/Camera.h"
#include "core/IniFile.h"
#include "core/ProductScene.h"
#include "core/ProductSection.h"
#include "tests/cli/RunRender.h"
#include "tests/support/WritePng.h"

namespace quirlon::cli {
namespace {

namespace fs = std::filesystem;

const std::string kExamples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";
const std::string kBookArt =
    " --source front=" + Quote(kExamples + "book-front.jpg") + " --source side=" + Quote(kExamples + "book-spine.jpg");

using testing::TRgb;
using testing::WritePng;

std::size_t CountPixels(const TRgbaPicture& p, const std::function<bool(int, int, int)>& test) {
  std::size_t n = 0;
  for (std::uint32_t y = 0; y < p.Height; ++y)
    for (std::uint32_t x = 0; x < p.Width; ++x) n += test(p.At(x, y)[0], p.At(x, y)[1], p.At(x, y)[2]);
  return n;
}

std::size_t NotWhite(const TRgbaPicture& p) {
  return CountPixels(p, [](int r, int g, int b) { return r < 250 || g < 250 || b < 250; });
}

core::TProductScene SavedScene(const std::string& file) {
  const auto scene = core::ReadProductSection(core::TIniFile::FromText(file, ReadText(file)));
  EXPECT_TRUE(scene.has_value()) << file << " has no [Product] section";
  return scene.value_or(core::TProductScene{});
}

// The acceptance commands: each renders a book and saves its template, whose [Product] section
// holds the size and view the command asked for.
TEST(ProductCliTest, BookCommandsRenderTheBookTheyDescribe) {
  ScratchFolder dir;
  // A wrap in the proportions of trim 127 x 203 mm, a 320-page cream spine (20.32 mm) and 3.175 mm
  // bleed: 280.67 x 209.35 mm, drawn at 2 pixels a millimetre.
  WritePng(dir.PathOf("wrap.png"), 561, 419, [](std::uint32_t x, std::uint32_t) {
    return x < 260 ? TRgb{200, 40, 40} : x < 300 ? TRgb{40, 160, 40} : TRgb{40, 40, 200};
  });
  struct TCase {
    std::string Args;
    double Width, Height, Depth, Yaw, Pitch;
  };
  // Spines from page counts: 320 x 0.0635 = 20.32 mm; 200 x 0.0572 = 11.44 mm. The usual view of a
  // book is yaw 30, pitch 14 (the left side showing, as template 1 does).
  const TCase cases[] = {
      {"--size 127x203x15mm" + kBookArt, 127, 203, 15, 30, 14},
      {"--size 127x203mm --pages 320 --paper cream" + kBookArt, 127, 203, 20.32, 30, 14},
      {"--size 5x8in --pages 200" + kBookArt, 127, 203.2, 11.44, 30, 14},
      {"--size 127x203x15mm --yaw -35 --pitch 12" + kBookArt, 127, 203, 15, -35, 12},
      {"--wrap wrap.png --trim 127x203mm --pages 320 --paper cream", 127, 203, 20.32, 30, 14},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    fs::remove(dir.PathOf("book.png"));
    const TResult r = RunRender(dir, "--product paperback " + c.Args + " -o book.png --save-template book.ini --quiet");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    const TRgbaPicture picture = DecodePng(dir.PathOf("book.png"));
    EXPECT_EQ(picture.Width, 800u);
    EXPECT_EQ(picture.Height, 600u);
    EXPECT_GT(NotWhite(picture), 20000u);
    const core::TProductScene scene = SavedScene(dir.PathOf("book.ini"));
    ASSERT_EQ(scene.Products.size(), 1u);
    EXPECT_EQ(scene.Products[0].Kind, "paperback");
    EXPECT_NEAR(scene.Products[0].Width, c.Width, 1e-9);
    EXPECT_NEAR(scene.Products[0].Height, c.Height, 1e-9);
    EXPECT_NEAR(scene.Products[0].Depth, c.Depth, 1e-9);
    EXPECT_EQ(scene.Camera.Yaw, c.Yaw);
    EXPECT_EQ(scene.Camera.Pitch, c.Pitch);
  }
}

TEST(ProductCliTest, SavedTemplateRendersTheSamePixels) {
  ScratchFolder dir;
  const std::string product = "--product hardcover --size 6x9in --pages 500 --yaw -40 --pitch 20" + kBookArt;
  ASSERT_EQ(RunRender(dir, product + " -o direct.png --save-template book.ini").Status, 0);
  // Without -o only the template is written.
  const TResult alone = RunRender(dir, product + " --save-template alone.ini");
  ASSERT_EQ(alone.Status, 0) << alone.Err;
  EXPECT_EQ(ReadText(dir.PathOf("alone.ini")), ReadText(dir.PathOf("book.ini")));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Folder()), fs::directory_iterator()), 3);

  const TResult again = RunRender(dir, "-t ./book.ini" + kBookArt + " -o again.png");
  ASSERT_EQ(again.Status, 0) << again.Err;
  const TRgbaPicture direct = DecodePng(dir.PathOf("direct.png")), fromFile = DecodePng(dir.PathOf("again.png"));
  ASSERT_EQ(direct.Width, fromFile.Width);
  EXPECT_TRUE(direct.Rgba == fromFile.Rgba);
  EXPECT_GT(NotWhite(direct), 20000u);

  // The saved template turns like a bundled one.
  const TResult turned = RunRender(dir, "-t ./book.ini --yaw 150" + kBookArt + " -o turned.png");
  ASSERT_EQ(turned.Status, 0) << turned.Err;
  EXPECT_FALSE(DecodePng(dir.PathOf("turned.png")).Rgba == direct.Rgba);
}

TEST(ProductCliTest, BundledTemplateTurnsWithYawAndPitch) {
  ScratchFolder dir;
  ASSERT_EQ(RunRender(dir, "-t 5 -o plain.png").Status, 0);
  const TResult turned = RunRender(dir, "-t 5 --yaw -30 --pitch 25 -o turned.png --save-template turned.ini");
  ASSERT_EQ(turned.Status, 0) << turned.Err;
  EXPECT_FALSE(DecodePng(dir.PathOf("plain.png")).Rgba == DecodePng(dir.PathOf("turned.png")).Rgba);
  const core::TProductScene scene = SavedScene(dir.PathOf("turned.ini"));
  ASSERT_EQ(scene.Products.size(), 1u);
  EXPECT_EQ(scene.Products[0].Kind, "hardcover");
  EXPECT_EQ(scene.Products[0].Width, 160);  // template 5's book, as its [Product] section has it
  EXPECT_EQ(scene.Camera.Yaw, -30);
  EXPECT_EQ(scene.Camera.Pitch, 25);
  EXPECT_EQ(scene.Camera.Distance, 2160);
}

TEST(ProductCliTest, BadValuesAreUsageErrorsNamingValueAndRange) {
  ScratchFolder dir;
  // 10 x 10 pixels cannot be trim 127 x 203 with any spine.
  WritePng(dir.PathOf("square.png"), 100, 100, [](std::uint32_t, std::uint32_t) { return TRgb{9, 9, 9}; });
  fs::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/flat.ini", "[Image]\nwidth=400\nheight=400\n[Layer1]\ntype=customcolor\nsource=clRed\n"
                            "A.X=1\nA.Y=1\nB.X=300\nB.Y=1\nC.X=300\nC.Y=300\nD.X=1\nD.Y=300\n");
  const struct {
    std::string Args, Message;
  } cases[] = {
      {"--product paperback --size 0x203x15", "--size: Width 0 mm in size \"0x203x15\" is out of range: 10 to 1000 mm"},
      {"--product paperback --size -127x203x15", "Width -127 mm"},
      {"--product paperback --size 127x-203x15mm", "Height -203 mm"},
      {"--product paperback --size 5x8x0in", "Depth 0 in (0 mm) in size \"5x8x0in\" is out of range: 0.5 to 1000 mm"},
      {"--product paperback --size 127x203", "A paperback needs a depth"},
      {"--product paperback --size 127x900x15", "out of proportion"},
      {"--product paperback --size 127 --pages 100", "--size: Size \"127\" is not WxH or WxHxD"},
      {"--product crate", "--product takes one of box, hardcover"},
      {"--product paperback --yaw 200", "Yaw 200 is out of range (-180 to -102, -78 to 78 or 102 to 180 degrees)"},
      {"--product paperback --yaw -90", "Yaw -90 is out of range"},
      {"--product disc --yaw 80", "Yaw 80 is out of range (-75 to 75 degrees)"},
      {"--product paperback --pitch -5", "Pitch -5 is out of range (0 to 40 degrees)"},
      {"--product box --pitch 41", "Pitch 41 is out of range (0 to 40 degrees)"},
      {"--product box --yaw east", "--yaw takes an angle in degrees"},
      {"--product paperback --size 127x203 --pages 1", "--pages takes a whole number from 2 to 2000, not '1'"},
      {"--product paperback --size 127x203 --pages 100 --paper grey", "Paper \"grey\" is not white or cream"},
      {"--product paperback --size 127x203 --spine 0", "Spine 0 mm is out of range: 0.5 to 1000 mm"},
      {"--product paperback --wrap square.png --trim 127x203 --spine 10 --bleed 1in",
       "Bleed 1 in (25.4 mm) is out of range: 0 to 25 mm"},
      {"--product paperback --wrap square.png --trim 127x203 --spine 10",
       "Cover wrap \"square.png\" is 100 x 100 pixels"},
      {"--product paperback --wrap square.png --spine 10", "--trim"},
      {"-t 1 --size 127x203x15", "needs a product kind"},
      {"--templates tpl -t flat --yaw 10", "has no [Product] section"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args);
    fs::remove(dir.PathOf("out.png"));
    const TResult r = RunRender(dir, c.Args + " -o out.png");
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir.PathOf("out.png")));
  }
}

// A front picture of 1 : 1.6 gives a front face of 1 : 1.6: checked on the model's front face,
// projected by the camera and by a pinhole of our own, not on the rendered picture.
TEST(ProductCliTest, FitArtGivesTheFrontThePictureProportions) {
  ScratchFolder dir;
  WritePng(dir.PathOf("front.png"), 250, 400, [](std::uint32_t, std::uint32_t) { return TRgb{30, 60, 90}; });
  WritePng(dir.PathOf("spine.png"), 40, 400, [](std::uint32_t, std::uint32_t) { return TRgb{90, 60, 30}; });
  for (const char* view : {"--yaw 0 --pitch 0", "--yaw 0 --pitch 30", "--yaw -35 --pitch 12", "--yaw 60 --pitch 5"}) {
    SCOPED_TRACE(view);
    const TResult r = RunRender(dir, std::string("--product box --size 100x240x50 --fit-art ") + view +
                                         " --source front=front.png --source side=spine.png --save-template fit.ini");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const core::TProductScene scene = SavedScene(dir.PathOf("fit.ini"));
    ASSERT_EQ(scene.Products.size(), 1u);
    // The height stays, the width and depth follow the pictures: 240 / 1.6 and 240 / 10.
    EXPECT_NEAR(scene.Products[0].Width, 150, 1e-9);
    EXPECT_NEAR(scene.Products[0].Depth, 24, 1e-9);

    const auto faces = core::SceneFaces(scene);
    const core::TProductFace* front = nullptr;
    for (const core::TProductFace& face : faces[0])
      if (face.Name == "front") front = &face;
    ASSERT_NE(front, nullptr);

    // Our pinhole: the camera stands Distance from Target, turned by yaw to the viewer's left and
    // raised by pitch; its image plane is upright, so a point maps by its offset across and up
    // over its horizontal depth.
    const core::TCameraSetup& setup = scene.Camera;
    const long double yaw = setup.Yaw * M_PIl / 180, pitch = setup.Pitch * M_PIl / 180;
    const long double cx = setup.Target.X - setup.Distance * std::cos(pitch) * std::sin(yaw);
    const long double cy = setup.Target.Y + setup.Distance * std::sin(pitch);
    const long double cz = setup.Target.Z - setup.Distance * std::cos(pitch) * std::cos(yaw);
    const long double scale = setup.Focal / 36.0L * 800;
    auto project = [&](const core::TVec3& p) {
      const long double dx = p.X - cx, dy = p.Y - cy, dz = p.Z - cz;
      const long double depth = dx * std::sin(yaw) + dz * std::cos(yaw);
      const long double across = dx * std::cos(yaw) - dz * std::sin(yaw);
      return std::array<long double, 2>{scale * across / depth, -scale * dy / depth};
    };
    const core::TCamera camera(setup);
    std::array<std::array<long double, 2>, 4> corners;
    for (int i = 0; i < 4; ++i) {
      corners[i] = project(front->Corners[i]);
      const core::TPlanePoint theirs = camera.Project(front->Corners[i], 800);
      // The model's camera differs from ours by a shift of the whole picture at most.
      const core::TPlanePoint origin = camera.Project(front->Corners[0], 800);
      EXPECT_NEAR(theirs.X - origin.X, double(corners[i][0] - corners[0][0]), 1e-6);
      EXPECT_NEAR(theirs.Y - origin.Y, double(corners[i][1] - corners[0][1]), 1e-6);
    }
    auto length = [&](int a, int b) { return std::hypot(corners[a][0] - corners[b][0], corners[a][1] - corners[b][1]); };
    // Vertical edges stay vertical; each is as long as the front's height seen at its depth, and
    // the top edge as long as the width seen across: the mean heights against the top edge are
    // 1.6 : 1 but for the turn (cos yaw) and the two edges' depths.
    const long double top = length(0, 1), left = length(0, 3), right = length(1, 2);
    EXPECT_NEAR(double(corners[0][0] - corners[3][0]), 0, 1e-9);
    if (setup.Yaw == 0) {
      EXPECT_NEAR(double(left / top), 1.6, 1e-9);
      EXPECT_NEAR(double(right / top), 1.6, 1e-9);
    } else {
      const long double across = top / std::sqrt(left * right) * 1.6L;
      // The top edge is foreshortened by about cos(yaw); the perspective spreads it a little.
      EXPECT_NEAR(double(across), double(std::cos(yaw)), 0.06) << double(across);
    }
  }
}

// A wrap of three colours, yellow bleed round it and magenta lines on the folds and trim lines: each
// view shows the colours of the faces it sees and nothing of the bleed. (Where the back and the
// spine meet, their edges mix into a yellowish seam; the views that show both are checked face by
// face in ProductJobTest.)
TEST(ProductCliTest, CoverWrapPutsEachPartOnItsFace) {
  ScratchFolder dir;
  // Trim 127 x 203 mm, spine 20 mm, bleed 3.175 mm, at one pixel a millimetre: 280.35 x 209.35,
  // written as 280 x 209 (0.1 % off). A pixel that any boundary crosses is magenta.
  const double edges[] = {3.175, 130.175, 150.175, 277.175};
  const double scaleX = 280 / 280.35, scaleY = 209 / 209.35;
  WritePng(dir.PathOf("wrap.png"), 280, 209, [&](std::uint32_t x, std::uint32_t y) {
    auto crosses = [](double from, double to, double edge) { return from < edge && edge < to; };
    const double x0 = x / scaleX, x1 = (x + 1) / scaleX, y0 = y / scaleY, y1 = (y + 1) / scaleY;
    for (double edge : edges)
      if (crosses(x0, x1, edge)) return TRgb{255, 0, 255};
    if (crosses(y0, y1, 3.175) || crosses(y0, y1, 206.175)) return TRgb{255, 0, 255};
    if (x1 <= edges[0] || x0 >= edges[3] || y1 <= 3.175 || y0 >= 206.175) return TRgb{255, 255, 0};
    if (x1 <= edges[1]) return TRgb{255, 0, 0};  // back
    if (x1 <= edges[2]) return TRgb{0, 255, 0};  // spine
    return TRgb{0, 0, 255};                      // front
  });
  auto red = [](int r, int g, int b) { return r > std::max(g, b) + 40; };
  auto green = [](int r, int g, int b) { return g > std::max(r, b) + 40; };
  auto blue = [](int r, int g, int b) { return b > std::max(r, g) + 40; };
  auto yellowOrMagenta = [](int r, int g, int b) {
    return (r > 100 && g > 100 && b < std::min(r, g) - 40) || (r > 100 && b > 100 && g < std::min(r, b) - 40);
  };
  const struct {
    const char* View;
    bool Back, Spine, Front;
  } views[] = {{"--yaw 30 --pitch 10", false, true, true}, {"--yaw 150 --pitch 10", true, true, false},
               {"--yaw -150 --pitch 0", true, false, false}};
  for (const auto& view : views) {
    SCOPED_TRACE(view.View);
    const TResult r = RunRender(dir, std::string("--product paperback --wrap wrap.png --trim 127x203mm --spine 20 ") +
                                         view.View + " --shading 0 --highlights 0 -o book.png");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const TRgbaPicture p = DecodePng(dir.PathOf("book.png"));
    EXPECT_EQ(CountPixels(p, red) > 1000, view.Back);
    EXPECT_EQ(CountPixels(p, green) > 300, view.Spine);
    EXPECT_EQ(CountPixels(p, blue) > 1000, view.Front);
    if (!view.Back) {
      EXPECT_EQ(CountPixels(p, red), 0u);
    }
    if (!view.Spine) {
      EXPECT_EQ(CountPixels(p, green), 0u);
    }
    if (!view.Front) {
      EXPECT_EQ(CountPixels(p, blue), 0u);
    }
    if (!(view.Back && (view.Spine || view.Front))) {
      EXPECT_EQ(CountPixels(p, yellowOrMagenta), 0u);
    }
  }
}

// The user's own templates: listed after the fourteen bundled ones, numbered on, chosen by number,
// name or path; XDG_DATA_HOME names their base folder, ~/.local/share stands in without it.
TEST(ProductCliTest, UserTemplatesFollowTheBundledOnes) {
  ScratchFolder dir;
  fs::create_directories(dir.PathOf("data/quirlon/Templates"));
  fs::create_directories(dir.PathOf("home/.local/share/quirlon/Templates"));
  ASSERT_EQ(RunRender(dir, "--product magazine --size 200x270x3 --save-template 'data/quirlon/Templates/My magazine.ini'")
                .Status,
            0);
  fs::copy_file(dir.PathOf("data/quirlon/Templates/My magazine.ini"),
                dir.PathOf("home/.local/share/quirlon/Templates/Home magazine.ini"));
  const std::string xdg = "XDG_DATA_HOME=" + Quote(dir.PathOf("data"));
  const std::string home = "XDG_DATA_HOME= HOME=" + Quote(dir.PathOf("home"));
  const std::string bundled = RunRender(dir, "--list", "XDG_DATA_HOME=" + Quote(dir.PathOf("none"))).Out;
  ASSERT_EQ(std::count(bundled.begin(), bundled.end(), '\n'), 14);

  for (const auto& [prefix, name] : {std::pair{xdg, std::string("My magazine")}, {home, "Home magazine"}}) {
    SCOPED_TRACE(prefix);
    const std::string listed = RunRender(dir, "--list", prefix).Out;
    EXPECT_EQ(listed.substr(0, bundled.size()), bundled);
    EXPECT_EQ(listed.substr(bundled.size(), 4 + name.size()), "15\t" + name + "\t");
    ASSERT_EQ(RunRender(dir, "-t 15 -o by-number.png", prefix).Status, 0);
    ASSERT_EQ(RunRender(dir, "-t " + Quote(name) + " -o by-name.png", prefix).Status, 0);
    EXPECT_TRUE(DecodePng(dir.PathOf("by-number.png")).Rgba == DecodePng(dir.PathOf("by-name.png")).Rgba);
    const TResult beyond = RunRender(dir, "-t 16 -o x.png", prefix);
    EXPECT_EQ(beyond.Status, 2);
    EXPECT_NE(beyond.Err.find("holds 15 templates"), std::string::npos) << beyond.Err;
    // A folder given with --templates stands alone.
    EXPECT_EQ(RunRender(dir, "--templates " + Quote(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates") + " --list",
                        prefix)
                  .Out,
              bundled);
  }
  const TResult byPath = RunRender(dir, "-t 'data/quirlon/Templates/My magazine.ini' -o by-path.png");
  ASSERT_EQ(byPath.Status, 0) << byPath.Err;
  EXPECT_TRUE(DecodePng(dir.PathOf("by-path.png")).Rgba == DecodePng(dir.PathOf("by-name.png")).Rgba);
  EXPECT_EQ(RunRender(dir, "-t ./missing.ini -o x.png").Status, 1);
}

}  // namespace
}  // namespace quirlon::cli
