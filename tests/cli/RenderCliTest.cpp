// quirlon-render end to end: the real executable in a scratch folder, its pictures decoded with
// libpng directly.
#include <png.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Run.h"
#include "core/RenderSettings.h"
#include "tests/ScratchFolder.h"
#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

using testing::ScratchFolder;
namespace fs = std::filesystem;

// A template folder of its own with one layer of a custom colour on (100, 100)-(300, 300).
std::string SquareTemplate(const ScratchFolder& dir, const std::string& layerType = "customcolor",
                           const std::string& source = "clRed", const std::string& image = "width=400\nheight=400\n") {
  fs::create_directories(dir.PathOf("tpl"));
  dir.Write("tpl/square.ini", "[Image]\n" + image + "[Layer1]\ntype=" + layerType + "\nsource=" + source +
                                  "\nA.X=100\nA.Y=100\nB.X=300\nB.Y=100\nC.X=300\nC.Y=300\nD.X=100\nD.Y=300\n");
  return "--templates tpl";
}

TEST(RenderCliTest, PngOverWhiteIsOpaqueEverywhere) {
  ScratchFolder dir;
  const TResult r = RunRender(dir, "-t 1 -o box.png --width 320 --height 200 --source background=#FFFFFF --quiet");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(r.Err, "");
  const TRgbaPicture p = DecodePng(dir.PathOf("box.png"));
  ASSERT_EQ(p.Width, 320u);
  ASSERT_EQ(p.Height, 200u);
  std::size_t notWhite = 0;
  for (std::uint32_t y = 0; y < p.Height; ++y)
    for (std::uint32_t x = 0; x < p.Width; ++x) {
      ASSERT_EQ(p.At(x, y)[3], 255) << x << "," << y;
      notWhite += p.At(x, y)[0] != 255 || p.At(x, y)[1] != 255 || p.At(x, y)[2] != 255;
    }
  EXPECT_GT(notWhite, 1000u);  // the box is there
  EXPECT_EQ(p.At(0, 0)[0], 255);
}

TEST(RenderCliTest, TransparentLeavesAlphaZeroOutsideTheLayers) {
  ScratchFolder dir;
  const std::string tpl = SquareTemplate(dir);
  ASSERT_EQ(RunRender(dir, tpl + " -t square -o t.png --width 400 --height 400 --transparent").Status, 0);
  TRgbaPicture p = DecodePng(dir.PathOf("t.png"));
  ASSERT_EQ(p.Width, 400u);
  for (std::uint32_t y = 0; y < 400; ++y)
    for (std::uint32_t x = 0; x < 400; ++x)
      if (x < 98 || x > 301 || y < 98 || y > 301) {
        ASSERT_EQ(p.At(x, y)[3], 0) << x << "," << y;
      }
  // Inside: the face's red, opaque (smooth sampling puts the picture's pixels as they are).
  EXPECT_EQ(p.At(200, 200)[0], 255);
  EXPECT_EQ(p.At(200, 200)[1], 0);
  EXPECT_EQ(p.At(200, 200)[3], 255);
  // Exact sampling: red blended onto transparent black with weight 255, (255 x 255 + 128) shr 8 = 254.
  ASSERT_EQ(RunRender(dir, tpl + " -t square -o e.png --width 400 --height 400 --transparent --sampling exact").Status, 0);
  p = DecodePng(dir.PathOf("e.png"));
  EXPECT_EQ(p.At(200, 200)[0], 254);
  EXPECT_EQ(p.At(200, 200)[1], 0);
  EXPECT_EQ(p.At(200, 200)[3], 254);

  // Without --transparent the white background shows and the square is red, opaque.
  ASSERT_EQ(RunRender(dir, tpl + " -t 1 -o w.png --width 400 --height 400").Status, 0);
  p = DecodePng(dir.PathOf("w.png"));
  EXPECT_EQ(p.At(10, 10)[0], 255);
  EXPECT_EQ(p.At(10, 10)[2], 255);
  EXPECT_EQ(p.At(10, 10)[3], 255);
  EXPECT_EQ(p.At(200, 200)[3], 255);
  EXPECT_GE(p.At(200, 200)[0], 252);
  EXPECT_LE(p.At(200, 200)[1], 3);
}

// A red box cut out on a transparent background, read back by libpng: with the default (smooth)
// sampling its faces are opaque and only the outline is translucent; exact sampling, as earlier
// versions drew it, leaves parts of the faces at alpha 253 to 254.
TEST(RenderCliTest, SamplingChoosesTheDefaultSmoothOrTheExactPixels) {
  ScratchFolder dir;
  const std::string templates = Quote(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates");
  const std::string common = "--templates " + templates +
                             " -t 1 --transparent --front clRed --side clRed --top clRed --hide-shadows"
                             " --hide-reflections --shading 0 --highlights 0 --width 400 --height 300";
  ASSERT_EQ(RunRender(dir, common + " -o default.png").Status, 0);
  ASSERT_EQ(RunRender(dir, common + " --sampling smooth -o smooth.png").Status, 0);
  ASSERT_EQ(RunRender(dir, common + " --sampling exact -o exact.png").Status, 0);
  EXPECT_EQ(ReadText(dir.PathOf("default.png")), ReadText(dir.PathOf("smooth.png")));
  auto translucent = [](const TRgbaPicture& p) {
    std::int64_t n = 0;
    for (std::uint32_t y = 0; y < p.Height; ++y)
      for (std::uint32_t x = 0; x < p.Width; ++x) n += p.At(x, y)[3] > 0 && p.At(x, y)[3] < 255;
    return n;
  };
  auto opaque = [](const TRgbaPicture& p) {
    std::int64_t n = 0;
    for (std::uint32_t y = 0; y < p.Height; ++y)
      for (std::uint32_t x = 0; x < p.Width; ++x) n += p.At(x, y)[3] == 255;
    return n;
  };
  const TRgbaPicture smooth = DecodePng(dir.PathOf("smooth.png"));
  const TRgbaPicture exact = DecodePng(dir.PathOf("exact.png"));
  // The box is about 140 x 200 pixels: an outline of about 700 pixels, a face area above 20000.
  EXPECT_LT(translucent(smooth), 1500) << translucent(smooth);
  EXPECT_GT(opaque(smooth), 20000);
  EXPECT_GT(translucent(exact), 2 * translucent(smooth)) << translucent(exact);
}

TEST(RenderCliTest, FlipGivesTheExactMirrorImage) {
  ScratchFolder dir;
  ASSERT_EQ(RunRender(dir, "-t 1 -o plain.png --width 251 --height 160").Status, 0);
  ASSERT_EQ(RunRender(dir, "-t 1 -o flipped.png --width 251 --height 160 --flip").Status, 0);
  const TRgbaPicture a = DecodePng(dir.PathOf("plain.png"));
  const TRgbaPicture b = DecodePng(dir.PathOf("flipped.png"));
  ASSERT_EQ(a.Width, 251u);
  ASSERT_EQ(b.Width, 251u);
  ASSERT_EQ(a.Height, b.Height);
  bool symmetric = true;
  for (std::uint32_t y = 0; y < a.Height; ++y)
    for (std::uint32_t x = 0; x < a.Width; ++x) {
      for (int c = 0; c < 4; ++c) ASSERT_EQ(b.At(x, y)[c], a.At(a.Width - 1 - x, y)[c]) << x << "," << y;
      for (int c = 0; c < 4; ++c) symmetric = symmetric && a.At(x, y)[c] == a.At(a.Width - 1 - x, y)[c];
    }
  EXPECT_FALSE(symmetric);  // otherwise the test proves nothing
}

TEST(RenderCliTest, FailingSaveLeavesTheOldFile) {
  ScratchFolder dir;
  const std::string old = dir.Write("keep.png", std::string(3000, 'x'));
  // (A write that fails: HostileUseTest.) A render that fails never reaches the file.
  TResult r = RunRender(dir, "-o keep.png --source front=missing.png");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(ReadText(old), std::string(3000, 'x'));
  // A folder that does not exist.
  r = RunRender(dir, "-o nowhere/x.bmp");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("Cannot create file \"nowhere/x.bmp\". ", 0), 0u) << r.Err;
}

TEST(RenderCliTest, ErrorsAndExitCodes) {
  ScratchFolder dir;
  dir.Write("notes.txt", "not a picture");
  struct TCase {
    std::string Args;
    int Status;
    std::string Err;  // exact; empty: only the status is checked
  };
  const std::string tpl = SquareTemplate(dir, "customcolor", "clNotAColour");
  fs::create_directories(dir.PathOf("zero"));
  dir.Write("zero/z.ini", "[Image]\nwidth=0\n[Layer1]\ntype=shadow\n");
  const std::vector<TCase> cases = {
      {"-o a.png -t nosuch", 2, "quirlon-render: no template named 'nosuch' (see --list)\n"},
      {"-o a.png --templates zero", 1, "Floating point division by zero.\n"},
      {"-o a.png " + tpl, 1, "'clNotAColour' is not a valid integer value.\n"},
      {"-o a.png --shadow-color bluish", 2, "quirlon-render: --shadow-color: 'bluish' is not a valid integer value\n"},
      {"-o a.png --source front=missing.png", 1,
       "Cannot open file \"missing.png\". No such file or directory.\n"},
      {"-o a.png --source front=notes.txt", 1, "Picture \"notes.txt\": Unknown picture file extension (.txt)\n"},
      {"-o a.png --bogus", 2, "quirlon-render: unknown option '--bogus' (see --help)\n"},
      {"-o a.png --width 31", 2, "quirlon-render: --width takes a whole number from 32 to 8192, not '31'\n"},
      {"-o a.png --dpi=601", 2, "quirlon-render: --dpi takes a whole number from 60 to 600, not '601'\n"},
      {"-o a.png --source middle=#FF0000", 2,
       "quirlon-render: unknown slot 'middle' (background, front, side, top, disc, front2, side2, top2, disc2)\n"},
      {"--width 100", 2, "quirlon-render: -o FILE or --save-template FILE is required (see --help)\n"},
      {"-o a.png stray", 2, "quirlon-render: unexpected argument 'stray' (see --help)\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const TResult r = RunRender(dir, c.Args);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Err, c.Err);
    EXPECT_EQ(r.Out, "");
  }
  EXPECT_FALSE(fs::exists(dir.PathOf("a.png")));
}

TEST(RenderCliTest, ListHelpVersionAndVerbose) {
  ScratchFolder dir;
  // The bundled templates, numbered in byte order of their file names.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates"))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  // Each with the slots its "source=" lines name, found here by scanning the text.
  auto slotsIn = [](const std::string& file) {
    const std::string text = ReadText(file);
    const char* slots[] = {"FRONT", "SIDE", "TOP", "DISC", "FRONT2", "SIDE2", "TOP2", "DISC2"};
    std::string list;
    for (const char* slot : slots) {
      const std::string line = std::string("\nsource=") + slot;
      bool named = false;
      for (std::size_t at = text.find(line); at != std::string::npos && !named; at = text.find(line, at + 1)) {
        const char after = at + line.size() < text.size() ? text[at + line.size()] : '\n';
        named = after == '\n' || after == '\r';
      }
      if (!named) continue;
      std::string lower(slot);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      list += (list.empty() ? "" : ",") + lower;
    }
    return list;
  };
  std::string expected;
  for (std::size_t i = 0; i < names.size(); ++i)
    expected += std::to_string(i + 1) + "\t" + names[i].substr(0, names[i].size() - 4) + "\t" +
                slotsIn(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates/" + names[i]) + "\n";
  TResult r = RunRender(dir, "--list");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, expected);
  EXPECT_NE(expected.find("\t01 Software box left\tfront,side,top\n"), std::string::npos);
  EXPECT_NE(expected.find("\t10 Disc\tdisc\n"), std::string::npos);

  fs::create_directories(dir.PathOf("tpl"));
  for (const char* name : {"b.ini", "a.ini", "readme", "x"}) dir.Write(std::string("tpl/") + name, "");
  r = RunRender(dir, "--list --templates tpl/");
  EXPECT_EQ(r.Out, "1\ta\t\n2\tb\t\n3\tre\t\n4\t\t\n");  // empty files show no slots

  r = RunRender(dir, "--help");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, HelpText());
  EXPECT_EQ(RunRender(dir, "-h").Out, HelpText());
  r = RunRender(dir, "--version");
  EXPECT_EQ(r.Out, "quirlon-render 1.0\n");

  r = RunRender(dir, "-o v.jpg --verbose --width 64 --height 48 --dpi 300 -t \"10 Disc\"");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "wrote v.jpg (64 x 48, JPEG, 300 dpi)\n");
  const std::vector<unsigned char> jpg = ScratchFolder::ReadBytes(dir.PathOf("v.jpg"));
  ASSERT_GT(jpg.size(), 18u);
  EXPECT_EQ(jpg[13], 1);  // dots per inch
  EXPECT_EQ(jpg[14] * 256 + jpg[15], 300);
}

TEST(RenderCliTest, SourcesTakeFilesAndColours) {
  ScratchFolder dir;
  const std::string tpl = SquareTemplate(dir, "normal", "FRONT");
  // A colour by name, "#RRGGBB" and the template integer syntax.
  for (const char* colour : {"clLime", "#00FF00", "$00FF00"}) {
    SCOPED_TRACE(colour);
    ASSERT_EQ(RunRender(dir, tpl + " -o c.png --width 400 --height 400 --source FRONT=" + Quote(colour)).Status, 0);
    const TRgbaPicture p = DecodePng(dir.PathOf("c.png"));
    // Weight 254 merged over the opaque white background.
    EXPECT_LE(p.At(200, 200)[0], 3);
    EXPECT_GE(p.At(200, 200)[1], 252);
    EXPECT_LE(p.At(200, 200)[2], 3);
    EXPECT_EQ(p.At(200, 200)[3], 255);
  }
  // A picture file (the PNG just written: green square on white).
  ASSERT_EQ(RunRender(dir, tpl + " -o d.png --width 400 --height 400 --source front=c.png --source background=clBlack")
                .Status,
            0);
  const TRgbaPicture p = DecodePng(dir.PathOf("d.png"));
  EXPECT_EQ(p.At(10, 10)[0], 0);  // black background
  EXPECT_GE(p.At(200, 200)[1], 250);
  EXPECT_LE(p.At(200, 200)[0], 6);  // the middle of the green square
  EXPECT_GT(p.At(103, 103)[0], 200);  // its white surround, squeezed onto the layer's corner
}

// ---- Option parsing ------------------------------------------------------------------------

Options Parse(std::vector<std::string> args) { return ParseOptions(args); }

void ExpectUsageError(std::vector<std::string> args, const std::string& message) {
  try {
    ParseOptions(args);
    ADD_FAILURE() << "no usage error, expected: " << message;
  } catch (const UsageError& e) {
    EXPECT_EQ(std::string(e.what()), message);
  }
}

TEST(OptionsTest, DefaultsAndValues) {
  Options o = Parse({"-o", "x.png"});
  const core::TJob fresh;
  EXPECT_EQ(o.Job.Output.File, "x.png");
  EXPECT_EQ(o.Job.Template, "1");
  EXPECT_EQ(o.Job.Request.Width, 800);
  EXPECT_EQ(o.Job.Request.Height, 600);
  EXPECT_EQ(o.Job.Output.Dpi, 96);
  EXPECT_FALSE(o.Job.Output.Flip || o.Job.Request.TransparentBackground || o.Job.Request.LargeDiscArea);
  EXPECT_EQ(o.Job.Request.Settings, fresh.Request.Settings);
  EXPECT_EQ(o.Job.Request.Sources, core::DefaultSlotSources());

  o = Parse({"--output=y.bmp", "-t", "disc", "--width=32", "--height", "2048", "--dpi", "600", "--flip",
             "--source", "front=#0000FF", "--source=Disc=#123456", "--transparent", "--large-disc",
             "--reflection-opacity", "0", "--reflection-length", "100", "--reflection-blur", "0",
             "--reflection-brightness", "-50", "--no-fade", "--hide-reflections", "--shadow-density=255",
             "--shadow-color", "clRed", "--shadow-blur", "100", "--hide-shadows", "--shading", "7",
             "--shading-color", "#010203", "--highlights", "255", "--highlight-color", "clWhite", "--verbose",
             "--top", "clLime"});
  const core::TJob& j = o.Job;
  const core::TRenderSettings& s = j.Request.Settings;
  EXPECT_EQ(j.Output.File, "y.bmp");
  EXPECT_EQ(j.Template, "disc");
  EXPECT_EQ(j.Request.Width, 32);
  EXPECT_EQ(j.Request.Height, 2048);
  EXPECT_EQ(j.Output.Dpi, 600);
  EXPECT_TRUE(j.Output.Flip && j.Request.TransparentBackground && j.Request.LargeDiscArea && o.Verbose);
  EXPECT_FALSE(s.FadeReflection || s.ShowReflection || s.ShowShadow);
  // --source SLOT=VALUE (the first "=" splits, the slot in any case) and --SLOT VALUE are one key.
  EXPECT_EQ(j.Request.Sources[core::SlotIndex(core::TSlot::Front)], core::TSlotSource::OfColour(0xFF0000));
  EXPECT_EQ(j.Request.Sources[core::SlotIndex(core::TSlot::Disc)], core::TSlotSource::OfColour(0x563412));
  EXPECT_EQ(j.Request.Sources[core::SlotIndex(core::TSlot::Top)], core::TSlotSource::OfColour(0x00FF00));
  EXPECT_EQ(o.JobValues[6], (std::pair<std::string, std::string>{"front", "#0000FF"}));
  EXPECT_EQ(s.ReflectionOpacity, 0);
  EXPECT_EQ(s.ReflectionLength, 100);
  EXPECT_EQ(s.ReflectionBlur, 0);
  EXPECT_EQ(s.ReflectionBrightness, -50);
  EXPECT_EQ(s.ShadowDensity, 255);
  EXPECT_EQ(s.ShadowColor, 0x0000FF);
  EXPECT_EQ(s.ShadowBlur, 100);
  EXPECT_EQ(s.ShadingStrength, 7);
  EXPECT_EQ(s.ShadingColor, 0x030201);
  EXPECT_EQ(s.HighlightStrength, 255);
  EXPECT_EQ(s.HighlightColor, 0xFFFFFF);

  // The last of a repeated option wins; --list, --help and --version need no output.
  EXPECT_EQ(Parse({"-o", "a.png", "-o", "b.bmp"}).Job.Output.File, "b.bmp");
  EXPECT_TRUE(Parse({"--list"}).List);
  EXPECT_TRUE(Parse({"--help", "--width", "100"}).Help);
  EXPECT_TRUE(Parse({"--version"}).Version);
}

TEST(OptionsTest, UsageErrors) {
  ExpectUsageError({}, "-o FILE or --save-template FILE is required (see --help)");
  ExpectUsageError({"-o"}, "--output needs a value");
  ExpectUsageError({"--output="}, "--output needs a file name");
  ExpectUsageError({"-o", "a.png", "--width"}, "--width needs a value");
  ExpectUsageError({"-o", "a.png", "--flip=yes"}, "--flip takes no value");
  ExpectUsageError({"-o", "a.png", "--Width", "100"}, "unknown option '--Width' (see --help)");
  ExpectUsageError({"-o", "a.png", "-x"}, "unexpected argument '-x' (see --help)");
  ExpectUsageError({"-o", "a.png", "box"}, "unexpected argument 'box' (see --help)");
  for (const char* bad : {"31", "8193", "", "abc", "100px", "1e3", "99999999999999999999"}) {
    SCOPED_TRACE(bad);
    ExpectUsageError({"-o", "a.png", "--width", bad},
                     std::string("--width takes a whole number from 32 to 8192, not '") + bad + "'");
  }
  ExpectUsageError({"-o", "a.png", "--dpi", "59"}, "--dpi takes a whole number from 60 to 600, not '59'");
  ExpectUsageError({"-o", "a.png", "--reflection-length", "0"},
                   "--reflection-length takes a whole number from 1 to 100, not '0'");
  ExpectUsageError({"-o", "a.png", "--reflection-brightness", "51"},
                   "--reflection-brightness takes a whole number from -50 to 50, not '51'");
  ExpectUsageError({"-o", "a.png", "--shadow-density", "256"},
                   "--shadow-density takes a whole number from 0 to 255, not '256'");
  for (const char* bad : {"front", "=a.png", "front="}) {
    SCOPED_TRACE(bad);
    ExpectUsageError({"-o", "a.png", "--source", bad}, std::string("--source takes SLOT=VALUE, not '") + bad + "'");
  }
  ExpectUsageError({"-o", "a.png", "--source", "back=clRed"},
                   "unknown slot 'back' (background, front, side, top, disc, front2, side2, top2, disc2)");
  ExpectUsageError({"-o", "a.png", "--shadow-color", "#GG0000"}, "--shadow-color: '#GG0000' is not a valid integer value");
}

TEST(OptionsTest, HelpNamesEveryOptionAndEveryOptionParses) {
  const std::string help = HelpText();
  // Option as the help shows it, and a value for those that take one.
  const std::vector<std::pair<std::string, std::string>> options = {
      {"-o, --output", "x.png"}, {"-t, --template", "2"}, {"--templates", "dir"}, {"--width", "64"},
      {"--height", "64"}, {"--dpi", "72"}, {"--flip", ""}, {"--source", "front=clRed"}, {"--transparent", ""},
      {"--large-disc", ""}, {"--reflection-opacity", "1"}, {"--reflection-length", "1"}, {"--reflection-blur", "1"},
      {"--reflection-brightness", "1"}, {"--no-fade", ""}, {"--hide-reflections", ""}, {"--shadow-density", "1"},
      {"--shadow-color", "clRed"}, {"--shadow-blur", "1"}, {"--hide-shadows", ""}, {"--shading", "1"},
      {"--shading-color", "clRed"}, {"--highlights", "1"}, {"--highlight-color", "clRed"}, {"--list", ""},
      {"--verbose", ""}, {"--version", ""}, {"-h, --help", ""}, {"--memory-limit", "2G"},
      {"--max-megapixels", "9"}, {"--front", "clRed"}, {"--disc2", "#102030"}, {"--format", "png"},
      {"--quality", "1"}, {"--png-effort", "small"}, {"--lossless", ""},
  };
  for (const auto& [shown, value] : options) {
    SCOPED_TRACE(shown);
    EXPECT_NE(help.find("  " + shown + " "), std::string::npos);
    const std::string name = shown.substr(shown.rfind(' ') + 1);
    std::vector<std::string> args{"-o", "a.png", name};
    if (!value.empty()) args.push_back(value);
    EXPECT_NO_THROW(ParseOptions(args));
    if (!value.empty()) ExpectUsageError({"-o", "a.png", name}, name + " needs a value");
  }
}

TEST(OptionsTest, ByteSizes) {
  const std::pair<const char*, std::int64_t> good[] = {
      {"1", 1}, {"512", 512}, {"4k", 4096}, {"4K", 4096}, {"3M", 3 << 20}, {"2G", 2LL << 30}, {"1t", 1LL << 40},
      {"0001M", 1 << 20}, {"8388607T", 8388607LL << 40}, {"9223372036854775807", INT64_MAX},
  };
  for (const auto& [text, bytes] : good) EXPECT_EQ(core::ParseByteSize("m", text), bytes) << text;
  for (const char* bad : {"", "0", "0G", "G", "2GB", "2 G", "-1", "+1", "1.5G", "8388608T", "9223372036854775808", "2P"}) {
    SCOPED_TRACE(bad);
    ExpectUsageError({"-o", "a.png", "--memory-limit", bad},
                     std::string("--memory-limit takes a size in bytes, or with K, M, G or T (1024-based) such as 512M "
                                 "or 2G, not '") + bad + "'");
  }
}

// The same keys in a batch file or a scene: values as text, files relative to the file's folder,
// switches both ways, and errors that name the key without dashes.
TEST(JobKeysTest, ValuesAsBatchFilesAndScenesGiveThem) {
  EXPECT_EQ(core::ParseColourValue("x", "#FF8000"), 0x0080FF);  // 0x00BBGGRR
  EXPECT_EQ(core::ParseColourValue("x", "#ff8000"), 0x0080FF);
  EXPECT_EQ(core::ParseColourValue("x", "CLRED"), 0x0000FF);
  EXPECT_EQ(core::ParseColourValue("x", "$FF"), 0xFF);
  EXPECT_EQ(core::ParseColourValue("x", "255"), 255);
  for (const char* bad : {"#GG0000", "#FF00", "red", ""}) {
    SCOPED_TRACE(bad);
    try {
      core::ParseColourValue("x", bad);
      ADD_FAILURE();
    } catch (const core::EJobValue& e) {
      EXPECT_EQ(e.Key(), "x");
      EXPECT_EQ(e.Detail(), std::string(": '") + bad + "' is not a valid integer value");
    }
  }

  ScratchFolder dir;
  const std::string picture = dir.Write("clRed", "a file named like a colour");
  core::TJob job;
  struct TValue {
    const char* Key;
    std::string Value;
  };
  for (const TValue& v : {TValue{"side", "clRed"}, TValue{"top", "missing.png"}, TValue{"front", "clLime"},
                          TValue{"output", "out/box.png"}, TValue{"transparent", "YES"}, TValue{"flip", "0"},
                          TValue{"no-fade", "true"}, TValue{"hide-shadows", ""}, TValue{"width", "1200"}})
    core::ApplyJobValue(job, v.Key, v.Value, dir.Folder());
  auto slot = [&](core::TSlot s) -> const core::TSlotSource& { return job.Request.Sources[core::SlotIndex(s)]; };
  EXPECT_EQ(slot(core::TSlot::Side), core::TSlotSource::OfFile(dir.PathOf("clRed")));  // an existing file wins
  // Neither a file nor a colour: a file, so that the loader names what is wrong.
  EXPECT_EQ(slot(core::TSlot::Top), core::TSlotSource::OfFile(dir.PathOf("missing.png")));
  EXPECT_EQ(slot(core::TSlot::Front), core::TSlotSource::OfColour(0x00FF00));
  EXPECT_EQ(job.Output.File, dir.PathOf("out/box.png"));
  EXPECT_TRUE(job.Request.TransparentBackground);
  EXPECT_FALSE(job.Output.Flip);
  EXPECT_FALSE(job.Request.Settings.FadeReflection);
  EXPECT_FALSE(job.Request.Settings.ShowShadow);
  EXPECT_EQ(job.Request.Width, 1200);
  // An absolute file stays as it is.
  core::ApplyJobValue(job, "front", picture, "/elsewhere");
  EXPECT_EQ(slot(core::TSlot::Front), core::TSlotSource::OfFile(picture));

  struct TBad {
    const char* Key;
    const char* Value;
    const char* Detail;
  };
  for (const TBad& b : {TBad{"widht", "100", " is not a known key"},
                        TBad{"width", "8193", " takes a whole number from 32 to 8192, not '8193'"},
                        TBad{"flip", "maybe", " is a switch: on (1, true, yes) or off (0, false, no), not 'maybe'"},
                        TBad{"output", "", " needs a file name"}}) {
    SCOPED_TRACE(b.Key);
    try {
      core::ApplyJobValue(job, b.Key, b.Value);
      ADD_FAILURE();
    } catch (const core::EJobValue& e) {
      EXPECT_EQ(e.Key(), b.Key);
      EXPECT_EQ(e.Detail(), b.Detail);
    }
  }
  // Every key of the table is a long option the help names.
  const std::string help = HelpText();
  for (const core::TJobKey& key : core::JobKeys())
    EXPECT_NE(help.find("--" + std::string(key.Name) + (key.Argument.empty() ? "" : " ")), std::string::npos) << key.Name;
}

}  // namespace
}  // namespace quirlon::cli
