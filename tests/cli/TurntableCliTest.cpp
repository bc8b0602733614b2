// Turntables through the real quirlon-render: each animation read back with its own library (the
// WebP demuxer and animation decoder, libpng, giflib) or taken apart chunk by chunk here, every
// frame compared with the frames the same command writes as separate PNG files, the turn's outline
// followed frame to frame, and the values it refuses.
#include <gif_lib.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/RunRender.h"

namespace quirlon::cli {
namespace {

namespace fs = std::filesystem;

const std::string kExamples = std::string(QUIRLON_SOURCE_DIR) + "/examples/";
const std::string kBook = "--product paperback --source front=" + Quote(kExamples + "book-front.jpg") +
                          " --source side=" + Quote(kExamples + "book-spine.jpg") + " --width 200 --height 150";

std::uint32_t Big32(const std::string& s, std::size_t at) {
  return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
         std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint8_t(s[at + 3]);
}

std::uint32_t Little32(const std::string& s, std::size_t at) {
  return std::uint8_t(s[at]) | std::uint32_t(std::uint8_t(s[at + 1])) << 8 |
         std::uint32_t(std::uint8_t(s[at + 2])) << 16 | std::uint32_t(std::uint8_t(s[at + 3])) << 24;
}

std::string FramePath(const ScratchFolder& dir, int index) {
  char name[32];
  std::snprintf(name, sizeof name, "frames/frame-%03d.png", index);
  return dir.PathOf(name);
}

// Renders the same turn as separate PNG frames: the stills every animated frame must match.
std::vector<TRgbaPicture> StillFrames(const ScratchFolder& dir, const std::string& args, int frames) {
  const TResult r = RunRender(dir, args + " --frames frames");
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<TRgbaPicture> stills;
  for (int i = 0; i < frames; ++i) stills.push_back(DecodePng(FramePath(dir, i)));
  EXPECT_FALSE(fs::exists(FramePath(dir, frames))) << "one frame too many";
  return stills;
}

double MeanError(const TRgbaPicture& a, const TRgbaPicture& b) {
  if (a.Width != b.Width || a.Height != b.Height || a.Rgba.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.Rgba.size(); ++i) sum += std::abs(int(a.Rgba[i]) - int(b.Rgba[i]));
  return sum / static_cast<double>(a.Rgba.size());
}

// ---- WebP -------------------------------------------------------------------------------------

struct TRiffChunks {
  std::vector<std::string> Names;  // top-level chunks after "WEBP"
};

TRiffChunks ParseRiff(const std::string& file) {
  TRiffChunks out;
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 4), "WEBP");
  EXPECT_EQ(Little32(file, 4) + 8, file.size()) << "RIFF size";
  for (std::size_t at = 12; at + 8 <= file.size();) {
    out.Names.push_back(file.substr(at, 4));
    const std::uint32_t size = Little32(file, at + 4);
    at += 8 + size + (size & 1);
  }
  return out;
}

std::vector<TRgbaPicture> DecodeWebPAnimation(const std::string& file, int& loops) {
  WebPData data{reinterpret_cast<const std::uint8_t*>(file.data()), file.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  std::vector<TRgbaPicture> frames;
  if (decoder == nullptr) {
    ADD_FAILURE() << "libwebp cannot read the animation";
    return frames;
  }
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(decoder, &info);
  loops = static_cast<int>(info.loop_count);
  while (WebPAnimDecoderHasMoreFrames(decoder)) {
    std::uint8_t* rgba = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder, &rgba, &timestamp)) break;
    TRgbaPicture p;
    p.Width = info.canvas_width;
    p.Height = info.canvas_height;
    p.Rgba.assign(rgba, rgba + std::size_t(p.Width) * p.Height * 4);
    frames.push_back(std::move(p));
  }
  WebPAnimDecoderDelete(decoder);
  return frames;
}

TEST(TurntableCliTest, WebPHasAnAnimChunkAndOneFrameChunkAFrameThatMatchTheStills) {
  ScratchFolder dir;
  const std::vector<TRgbaPicture> stills = StillFrames(dir, kBook + " --turntable 12", 12);
  for (const bool lossless : {true, false}) {
    SCOPED_TRACE(lossless ? "lossless" : "lossy");
    const TResult r = RunRender(dir, kBook + " --turntable 12 --loop 3 -o t.webp" + (lossless ? " --lossless" : ""));
    ASSERT_EQ(r.Status, 0) << r.Err;
    const std::string file = ReadText(dir.PathOf("t.webp"));
    const TRiffChunks riff = ParseRiff(file);
    ASSERT_GE(riff.Names.size(), 2u);
    EXPECT_EQ(riff.Names[0], "VP8X");
    EXPECT_EQ(std::count(riff.Names.begin(), riff.Names.end(), "ANIM"), 1);
    EXPECT_EQ(std::count(riff.Names.begin(), riff.Names.end(), "ANMF"), 12);
    int loops = -1;
    const std::vector<TRgbaPicture> frames = DecodeWebPAnimation(file, loops);
    EXPECT_EQ(loops, 3);
    ASSERT_EQ(frames.size(), 12u);
    for (int i = 0; i < 12; ++i) {
      if (lossless) EXPECT_EQ(frames[i].Rgba, stills[i].Rgba) << "frame " << i;
      else EXPECT_LT(MeanError(frames[i], stills[i]), 2.5) << "frame " << i;
    }
  }
}

// ---- APNG -------------------------------------------------------------------------------------

struct TPngChunkRef {
  std::string Type, Data;
};

std::vector<TPngChunkRef> PngChunks(const std::string& file) {
  std::vector<TPngChunkRef> chunks;
  EXPECT_EQ(file.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t size = Big32(file, at);
    chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, size)});
    at += 12 + size;
  }
  return chunks;
}

std::string Chunk(const std::string& type, const std::string& data) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = char(data.size() >> (24 - 8 * i));
  const std::string body = type + data;
  std::uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : body) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  crc ^= 0xFFFFFFFF;
  std::string tail(4, '\0');
  for (int i = 0; i < 4; ++i) tail[i] = char(crc >> (24 - 8 * i));
  return out + body + tail;
}

TEST(TurntableCliTest, ApngCountsItsFramesShowsTheFirstToPlainReadersAndHoldsEveryFrameExactly) {
  ScratchFolder dir;
  const std::vector<TRgbaPicture> stills = StillFrames(dir, kBook + " --turntable 12", 12);
  const TResult r = RunRender(dir, kBook + " --turntable 12 --fps 12 -o t.png");
  ASSERT_EQ(r.Status, 0) << r.Err;

  // libpng's reader knows nothing of animation: it shows the default image, frame 0.
  EXPECT_EQ(DecodePng(dir.PathOf("t.png")).Rgba, stills[0].Rgba);

  const std::string file = ReadText(dir.PathOf("t.png"));
  const std::vector<TPngChunkRef> chunks = PngChunks(file);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].Type, "IHDR");
  ASSERT_EQ(chunks[1].Type, "acTL");
  EXPECT_EQ(Big32(chunks[1].Data, 0), 12u) << "frames";
  EXPECT_EQ(Big32(chunks[1].Data, 4), 0u) << "loops";
  EXPECT_EQ(chunks.back().Type, "IEND");

  // Each frame taken out on its own: its fdAT data (the sequence number removed) as the IDAT of a
  // plain PNG with the same header. Sequence numbers run on over fcTL and fdAT alike.
  std::vector<std::string> frameData;
  std::uint32_t sequence = 0;
  for (const TPngChunkRef& chunk : chunks) {
    if (chunk.Type == "fcTL") {
      EXPECT_EQ(Big32(chunk.Data, 0), sequence++);
      EXPECT_EQ(Big32(chunk.Data, 4), 200u);
      EXPECT_EQ(Big32(chunk.Data, 8), 150u);
      EXPECT_EQ(chunk.Data.substr(20, 4), std::string("\0\x01\0\x0c", 4)) << "a delay of 1/12 s";
      frameData.emplace_back();
    } else if (chunk.Type == "IDAT") {
      ASSERT_EQ(frameData.size(), 1u) << "the default image is the first frame";
      frameData.back() += chunk.Data;
    } else if (chunk.Type == "fdAT") {
      EXPECT_EQ(Big32(chunk.Data, 0), sequence++);
      frameData.back() += chunk.Data.substr(4);
    }
  }
  ASSERT_EQ(frameData.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    const std::string single = std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", chunks[0].Data) +
                               Chunk("IDAT", frameData[i]) + Chunk("IEND", "");
    const std::string path = dir.PathOf("single.png");
    FILE* out = std::fopen(path.c_str(), "wb");
    std::fwrite(single.data(), 1, single.size(), out);
    std::fclose(out);
    EXPECT_EQ(DecodePng(path).Rgba, stills[i].Rgba) << "frame " << i;
  }
}

// ---- GIF --------------------------------------------------------------------------------------

TEST(TurntableCliTest, GifDecodesToEveryFrameWithItsOwnPaletteAndOneClearIndex) {
  ScratchFolder dir;
  const std::string args = kBook + " --turntable 12 --transparent";
  const std::vector<TRgbaPicture> stills = StillFrames(dir, args, 12);
  for (const std::string dither : {"none", "ordered", "fs"}) {
    SCOPED_TRACE(dither);
    const TResult r = RunRender(dir, args + " --dither " + dither + " -o t.gif");
    ASSERT_EQ(r.Status, 0) << r.Err;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(dir.PathOf("t.gif").c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    EXPECT_EQ(gif->ImageCount, 12);
    EXPECT_EQ(gif->SWidth, 200);
    EXPECT_EQ(gif->SHeight, 150);
    int delays = 0;
    for (int i = 0; i < std::min(gif->ImageCount, 12); ++i) {
      const SavedImage& image = gif->SavedImages[i];
      ASSERT_NE(image.ImageDesc.ColorMap, nullptr) << "frame " << i << " has its own palette";
      GraphicsControlBlock control{};
      ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
      EXPECT_TRUE(control.DelayTime == 4 || control.DelayTime == 5) << "24 frames a second in hundredths";
      delays += control.DelayTime;
      ASSERT_GE(control.TransparentColor, 0);
      const TRgbaPicture& still = stills[i];
      double colourError = 0;
      std::size_t opaque = 0, wrongClear = 0;
      for (std::uint32_t y = 0; y < still.Height; ++y)
        for (std::uint32_t x = 0; x < still.Width; ++x) {
          const int index = image.RasterBits[y * still.Width + x];
          const std::uint8_t* want = still.At(x, y);
          const bool clear = want[3] < 128;
          wrongClear += clear != (index == control.TransparentColor);
          if (clear || index == control.TransparentColor) continue;
          const GifColorType c = image.ImageDesc.ColorMap->Colors[index];
          colourError += std::abs(c.Red - want[0]) + std::abs(c.Green - want[1]) + std::abs(c.Blue - want[2]);
          ++opaque;
        }
      EXPECT_EQ(wrongClear, 0u) << "frame " << i;
      ASSERT_GT(opaque, 0u);
      // Per channel; dithering trades a pixel's error for the area's. The floor's soft shadows and
      // the graded shading leave a 256-colour palette a few levels off on average.
      EXPECT_LT(colourError / (3.0 * opaque), dither == "none" ? 4.0 : 6.0) << "frame " << i;
    }
    EXPECT_EQ(delays, 50) << "12 frames at 24 a second take half a second";
    DGifCloseFile(gif, &error);
  }
}

// ---- The turn ---------------------------------------------------------------------------------

struct TSpan {
  int Left = 0, Right = -1;
};

// The columns where the product itself stands (opaque pixels; the shadow and the reflection are
// translucent).
TSpan OpaqueColumns(const TRgbaPicture& p) {
  TSpan span{int(p.Width), -1};
  for (std::uint32_t y = 0; y < p.Height; ++y)
    for (std::uint32_t x = 0; x < p.Width; ++x)
      if (p.At(x, y)[3] >= 250) {
        span.Left = std::min(span.Left, int(x));
        span.Right = std::max(span.Right, int(x));
      }
  return span;
}

class TurntableSmoothness : public ::testing::TestWithParam<const char*> {};

// A point on the rim of the turn travels a turn's width times pi per turn, so an outline edge
// moves at most that over N between neighbouring frames (plus a pixel of rounding). A frame out of
// order, a frame fitted on its own (the product changing size) or a face missing jumps further.
TEST_P(TurntableSmoothness, OutlineMovesAtMostItsShareOfTheTurnBetweenFrames) {
  ScratchFolder dir;
  constexpr int kFrames = 24;
  const std::vector<TRgbaPicture> stills =
      StillFrames(dir, std::string(GetParam()) + " --width 240 --height 180 --transparent --turntable 24", kFrames);
  const bool flat = std::string(GetParam()).find("disc") != std::string::npos ||
                    std::string(GetParam()).find("tile") != std::string::npos;
  std::vector<TSpan> spans;
  TSpan all{1 << 20, -1};
  for (const TRgbaPicture& still : stills) {
    spans.push_back(OpaqueColumns(still));
    const int index = int(spans.size()) - 1;
    // Only a flat product seen edge-on (yaw -90 and 90: frames 6 and 18) vanishes.
    if (spans.back().Left > spans.back().Right) {
      EXPECT_TRUE(flat && (index == 6 || index == 18)) << "frame " << index << " shows nothing";
      continue;
    }
    all.Left = std::min(all.Left, spans.back().Left);
    all.Right = std::max(all.Right, spans.back().Right);
  }
  const double width = all.Right - all.Left + 1;
  // Plus a pixel of rounding at each of the two frames' edges.
  const double step = std::numbers::pi * width / kFrames + 2;
  double worst = 0;
  for (int i = 0; i < kFrames; ++i) {
    const TSpan& a = spans[i];
    const TSpan& b = spans[(i + 1) % kFrames];  // a whole turn closes on itself
    if (a.Left > a.Right || b.Left > b.Right) continue;
    worst = std::max({worst, double(std::abs(a.Left - b.Left)), double(std::abs(a.Right - b.Right))});
  }
  EXPECT_LE(worst, step) << "turn width " << width;
  // It does not stand still either.
  EXPECT_GT(worst, 2);
}

INSTANTIATE_TEST_SUITE_P(Kinds, TurntableSmoothness,
                         ::testing::Values("--product box", "--product hardcover --pitch 0", "--product keep-case",
                                           "--product disc", "--product tile", "-t 4"));

// Each frame shows the product at its own angle: its outline has the proportions of a still taken
// with --yaw at that angle (the still is framed for itself, the turn for the whole turn, so only
// the scale differs).
TEST(TurntableCliTest, EachFrameShowsTheAngleAStillAtItsYawShows) {
  ScratchFolder dir;
  const std::string args = "--product box --width 320 --height 240 --transparent";
  const std::vector<TRgbaPicture> frames = StillFrames(dir, args + " --turntable 12", 12);
  auto rows = [](const TRgbaPicture& p) {
    TSpan span{int(p.Height), -1};
    for (std::uint32_t y = 0; y < p.Height; ++y)
      for (std::uint32_t x = 0; x < p.Width; ++x)
        if (p.At(x, y)[3] >= 250) {
          span.Left = std::min(span.Left, int(y));
          span.Right = std::max(span.Right, int(y));
        }
    return span;
  };
  for (int i = 0; i < 12; ++i) {
    const int yaw = -180 + 30 * i;
    if (yaw == -90 || yaw == 90) continue;  // a still refuses edge-on views
    const TResult r = RunRender(dir, args + " --yaw " + std::to_string(yaw) + " -o still.png");
    ASSERT_EQ(r.Status, 0) << r.Err;
    const TRgbaPicture still = DecodePng(dir.PathOf("still.png"));
    const TSpan frameX = OpaqueColumns(frames[i]), frameY = rows(frames[i]);
    const TSpan stillX = OpaqueColumns(still), stillY = rows(still);
    const double frameShape = double(frameX.Right - frameX.Left + 1) / (frameY.Right - frameY.Left + 1);
    const double stillShape = double(stillX.Right - stillX.Left + 1) / (stillY.Right - stillY.Left + 1);
    EXPECT_NEAR(frameShape / stillShape, 1.0, 0.04) << "yaw " << yaw;
  }
}

// ---- Refusals ---------------------------------------------------------------------------------

// A turn takes 3 canvases plus one frame a worker, whatever its length and format: one worker
// renders (its frame, the layer being built and that layer's picture) while the others encode the
// frames they rendered. The base is the same command's still at 32 x 32 saved as BMP, which decodes
// and prepares the same art and holds no canvas to speak of (a PNG would add the thumbnail's
// near-optimal compressor). Half a canvas is left for the allocators' noise between runs. Four times
// the frames may take at most two canvases more (the encoded WebP frames are kept for the mux, and
// a busy machine moves the peak by about a canvas): a turn that kept its frames, or their layers,
// would grow by a canvas or more a frame.
TEST(TurntableCliTest, PeakMemoryOfALongTurnIsThreeCanvasesPlusOneFrameAWorker) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers hold freed memory back: peaks grow with the work done";
#endif
  ScratchFolder dir;
  const std::string book = "--product paperback --source front=" + Quote(kExamples + "book-front.jpg") +
                           " --source side=" + Quote(kExamples + "book-spine.jpg");
  const TMeasuredRun base = RunRenderMeasured(dir, book + " --width 32 --height 32 -o base.bmp");
  ASSERT_EQ(base.Result.Status, 0) << base.Result.Err;
  const std::string turn = book + " --width 800 --height 600 --turntable ";
  const struct {
    std::string Name, Args;
  } runs[] = {
      {"12 frames to WebP", turn + "12 --quality 90 -o short.webp"},
      {"48 frames to WebP", turn + "48 --quality 90 -o long.webp"},
      {"12 frames to APNG", turn + "12 -o turn.png"},
      {"12 frames to GIF", turn + "12 -o turn.gif"},
      {"12 frames to PNG files", turn + "12 --frames frames"},
  };
  const double canvasKilobytes = 800.0 * 600 * 4 / 1024;
  const long workers = std::max(1u, std::thread::hardware_concurrency());
  std::vector<double> canvases;
  for (const auto& run : runs) {
    const TMeasuredRun measured = RunRenderMeasured(dir, run.Args);
    ASSERT_EQ(measured.Result.Status, 0) << run.Name << "\n" << measured.Result.Err;
    canvases.push_back(double(measured.PeakKilobytes - base.PeakKilobytes) / canvasKilobytes);
    EXPECT_LE(canvases.back(), 3.0 + double(workers) + 0.5)
        << run.Name << ", " << workers << " workers: base " << base.PeakKilobytes << " KiB, turn "
        << measured.PeakKilobytes << " KiB";
  }
  EXPECT_LE(canvases[1], canvases[0] + 2.0) << "48 frames " << canvases[1] << " canvases above the base, 12 frames "
                                            << canvases[0];
}

TEST(TurntableCliTest, BadValuesAreUsageErrorsNamingTheValueAndWriteNothing) {
  ScratchFolder dir;
  // A template of layers without a [Product] section: nothing to turn.
  std::string flat = ReadText(std::string(QUIRLON_SOURCE_DIR) + "/data/Templates/01 Software box left.ini");
  const std::size_t product = flat.find("[Product]");
  ASSERT_NE(product, std::string::npos);
  flat.erase(product, flat.find("\n[", product + 1) - product + 1);
  {
    FILE* out = std::fopen(dir.PathOf("flat.ini").c_str(), "wb");
    std::fwrite(flat.data(), 1, flat.size(), out);
    std::fclose(out);
  }
  struct TCase {
    std::string Args, Named;
  } cases[] = {
      {"--product box --turntable 0 -o a.webp", "'0'"},
      {"--product box --turntable 100000 -o a.webp", "'100000'"},
      {"--product box --turntable -3 -o a.webp", "'-3'"},
      {"--product box --turntable 12 --yaw-range 40:10 -o a.webp", "'40:10'"},
      {"--product box --turntable 12 --yaw-range -200:200 -o a.webp", "'-200:200'"},
      {"--product box --turntable 12 --yaw-range 10 -o a.webp", "'10'"},
      {"--product box --turntable 12 -o a.jpg", "'a.jpg'"},
      {"--product box --turntable 12 -o a.tiff", ".webp"},
      {"--product box --turntable 12 --fps 0 -o a.webp", "'0'"},
      {"--product box --turntable 12 --loop 70000 -o a.webp", "'70000'"},
      {"--product box --turntable 12 --dither noise -o a.gif", "'noise'"},
      {"--product box --turntable 12 --yaw 30 -o a.webp", "--yaw"},
      {"--product box --yaw-range 0:90 -o a.png", "--turntable"},
      {"--product box --turntable 12 -o -", "must be a file"},
      {"-t flat.ini --turntable 12 -o a.webp", "[Product]"},
  };
  for (const TCase& c : cases) {
    const TResult r = RunRender(dir, c.Args);
    EXPECT_EQ(r.Status, 2) << c.Args << "\n" << r.Err;
    EXPECT_NE(r.Err.find(c.Named), std::string::npos) << c.Args << "\n" << r.Err;
    for (const auto& entry : fs::directory_iterator(dir.Folder()))
      EXPECT_TRUE(entry.path().filename() == "flat.ini") << c.Args << " left " << entry.path();
  }
}

}  // namespace
}  // namespace quirlon::cli
