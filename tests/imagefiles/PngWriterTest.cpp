// The PNG writer checked with readers of our own making (chunk walk, zlib) and with libpng.
#include <gtest/gtest.h>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/OutputWriters.h"
#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::imagefiles {
namespace {

using raster::TBitmap32;
using raster::TColor32;
using testing::ScratchFolder;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

struct Chunk {
  std::string type;
  Bytes data;
};

// Splits a PNG file into chunks, checking the signature, every length and every CRC.
std::vector<Chunk> WalkChunks(const Bytes& file) {
  static const std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
  std::vector<Chunk> chunks;
  EXPECT_GE(file.size(), 8u);
  EXPECT_EQ(std::memcmp(file.data(), kSignature, 8), 0);
  std::size_t pos = 8;
  while (pos < file.size()) {
    if (file.size() - pos < 12) {
      ADD_FAILURE() << "truncated chunk at " << pos;
      break;
    }
    const std::uint32_t length = BigEndian32(&file[pos]);
    if (file.size() - pos - 12 < length) {
      ADD_FAILURE() << "chunk runs past the end at " << pos;
      break;
    }
    Chunk c{std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4),
            Bytes(file.begin() + static_cast<long>(pos) + 8, file.begin() + static_cast<long>(pos + 8 + length))};
    const uLong crc = crc32(0L, &file[pos + 4], 4 + length);
    EXPECT_EQ(BigEndian32(&file[pos + 8 + length]), crc) << c.type << " at " << pos;
    chunks.push_back(std::move(c));
    pos += 12 + length;
  }
  return chunks;
}

Bytes Inflate(const Bytes& compressed) {
  z_stream s{};
  EXPECT_EQ(inflateInit(&s), Z_OK);
  Bytes out(1 << 16);
  std::size_t produced = 0;
  s.next_in = const_cast<Bytef*>(compressed.data());
  s.avail_in = static_cast<uInt>(compressed.size());
  int result = Z_OK;
  while (result == Z_OK) {
    if (produced == out.size()) out.resize(out.size() * 2);
    s.next_out = out.data() + produced;
    s.avail_out = static_cast<uInt>(out.size() - produced);
    result = inflate(&s, Z_NO_FLUSH);
    produced = out.size() - s.avail_out;
  }
  EXPECT_EQ(result, Z_STREAM_END);
  EXPECT_EQ(s.avail_in, 0u) << "bytes after the end of the zlib stream";
  inflateEnd(&s);
  out.resize(produced);
  return out;
}

// The rows as the file must carry them: filter byte 1, then R, G, B, A minus the bytes of the
// pixel to the left.
Bytes SubFilteredRows(const TBitmap32& b) {
  Bytes rows;
  for (int y = 0; y < b.Height(); ++y) {
    rows.push_back(1);
    int left[4] = {0, 0, 0, 0};
    for (int x = 0; x < b.Width(); ++x) {
      const TColor32 c = b.PixelAt(x, y);
      const int rgba[4] = {int(c >> 16 & 255), int(c >> 8 & 255), int(c & 255), int(c >> 24)};
      for (int k = 0; k < 4; ++k) {
        rows.push_back(static_cast<std::uint8_t>((rgba[k] - left[k] + 256) % 256));
        left[k] = rgba[k];
      }
    }
  }
  return rows;
}

// zlib at level 9 with the default window, memory level and strategy, all in one go.
Bytes DeflateLevel9(const Bytes& data) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&s, data.size()));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - s.avail_out);
  deflateEnd(&s);
  return out;
}

// libdeflate's own zlib stream at Level over Data, in one call.
Bytes LibdeflateZlib(const Bytes& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  Bytes out(libdeflate_zlib_compress_bound(c, data.size()));
  out.resize(libdeflate_zlib_compress(c, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

// Decodes with libpng into R, G, B, A bytes.
Bytes DecodeWithLibpng(const Bytes& file, std::uint32_t& width, std::uint32_t& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) {
    ADD_FAILURE() << image.message;
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  Bytes pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) ADD_FAILURE() << image.message;
  width = image.width;
  height = image.height;
  return pixels;
}

Bytes RgbaOf(const TBitmap32& b) {
  Bytes out;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      const TColor32 c = b.PixelAt(x, y);
      out.insert(out.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), std::uint8_t(c >> 24)});
    }
  return out;
}

void FillRandom(TBitmap32& b, int w, int h, std::uint32_t seed) {
  b.SetSize(w, h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.PixelRef(x, y) = rng();
}

TEST(PngWriterTest, ChunkLayoutAndPixels) {
  ScratchFolder dir;
  TBitmap32 b;
  FillRandom(b, 37, 23, 1);
  b.PixelRef(0, 0) = 0;           // transparent black stays alpha 0
  b.PixelRef(1, 0) = 0x00FF8040;  // colour kept under alpha 0: no un-premultiplying
  b.PixelRef(2, 0) = 0x80FF8040;
  const std::string path = dir.PathOf("out.png");
  SavePng(b, path, 96);
  const Bytes file = ScratchFolder::ReadBytes(path);

  const std::vector<Chunk> chunks = WalkChunks(file);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[0].data, (Bytes{0, 0, 0, 37, 0, 0, 0, 23, 8, 6, 0, 0, 0}));
  EXPECT_EQ(chunks[1].type, "pHYs");
  EXPECT_EQ(chunks[1].data, (Bytes{0x00, 0x00, 0x0E, 0xC4, 0x00, 0x00, 0x0E, 0xC4, 0x01}));
  EXPECT_EQ(chunks[2].type, "IDAT");
  EXPECT_EQ(chunks[3].type, "IEND");
  EXPECT_TRUE(chunks[3].data.empty());

  // zlib header: 32 KiB window, deflate, "slowest" level class.
  ASSERT_GE(chunks[2].data.size(), 2u);
  EXPECT_EQ(chunks[2].data[0], 0x78);
  EXPECT_EQ(chunks[2].data[1], 0xDA);
  const Bytes expectedRows = SubFilteredRows(b);
  EXPECT_EQ(Inflate(chunks[2].data), expectedRows);
  EXPECT_LE(chunks[2].data.size(), DeflateLevel9(expectedRows).size());

  std::uint32_t w = 0, h = 0;
  EXPECT_EQ(DecodeWithLibpng(file, w, h), RgbaOf(b));
  EXPECT_EQ(w, 37u);
  EXPECT_EQ(h, 23u);

  // Saving again writes the same bytes.
  SavePng(b, path, 96);
  EXPECT_EQ(ScratchFolder::ReadBytes(path), file);
}

TEST(PngWriterTest, PhysCarriesPixelsPerMetre) {
  ScratchFolder dir;
  TBitmap32 b;
  FillRandom(b, 4, 4, 2);
  const struct {
    int dpi;
    std::uint32_t ppm;
  } cases[] = {{60, 2363}, {96, 3780}, {300, 11812}, {600, 23623}};
  for (const auto& c : cases) {
    SavePng(b, dir.PathOf("d.png"), c.dpi);
    const std::vector<Chunk> chunks = WalkChunks(ScratchFolder::ReadBytes(dir.PathOf("d.png")));
    ASSERT_GE(chunks.size(), 2u);
    ASSERT_EQ(chunks[1].type, "pHYs");
    EXPECT_EQ(BigEndian32(&chunks[1].data[0]), c.ppm) << c.dpi;
    EXPECT_EQ(BigEndian32(&chunks[1].data[4]), c.ppm) << c.dpi;
    EXPECT_EQ(chunks[1].data[8], 1);
  }
}

TEST(PngWriterTest, SmallPictureHasOneIdat) {
  ScratchFolder dir;
  TBitmap32 b;
  FillRandom(b, 32, 32, 3);
  SavePng(b, dir.PathOf("s.png"), 96);
  int idats = 0;
  for (const Chunk& c : WalkChunks(ScratchFolder::ReadBytes(dir.PathOf("s.png")))) idats += c.type == "IDAT";
  EXPECT_EQ(idats, 1);
}

// Random bytes at the start of an otherwise black 160 x 128 picture; the number of random bytes
// moves the compressed size nearly byte by byte.
void PartlyRandom(TBitmap32& b, std::size_t randomBytes, std::uint32_t seed = 7) {
  b.SetSize(160, 128);
  b.Clear(0);
  std::mt19937 rng(seed);
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(b.Bits());
  for (std::size_t i = 0; i < randomBytes; ++i) bytes[i] = static_cast<std::uint8_t>(rng());
}

std::size_t CompressedSize(std::size_t randomBytes, std::uint32_t seed = 7) {
  TBitmap32 b;
  PartlyRandom(b, randomBytes, seed);
  const Bytes rows = SubFilteredRows(b);
  return LibdeflateZlib(rows, DeflateLevelOf(TPngEffort::Default, rows.size())).size();
}

// The smallest number of random bytes whose stream is at least Target bytes long, found with
// libdeflate called here (the size grows nearly byte by byte, not strictly).
std::size_t FirstReaching(std::size_t target) {
  std::size_t lo = 0, hi = 160 * 128 * 4;
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (CompressedSize(mid) < target) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

std::vector<std::size_t> IdatSizes(const Bytes& file) {
  std::vector<std::size_t> sizes;
  for (const Chunk& c : WalkChunks(file))
    if (c.type == "IDAT") sizes.push_back(c.data.size());
  return sizes;
}

TEST(PngWriterTest, IdatChunksAreCutAt65535Bytes) {
  ScratchFolder dir;
  TBitmap32 b;
  // A stream of exactly 65535 bytes: one full chunk and no empty one after it. The size grows in
  // steps of one pixel, so some seeds step over 65535; the first seed that lands on it is used.
  std::size_t exact = FirstReaching(65535);
  std::uint32_t seed = 7;
  const std::size_t around = exact;
  for (bool found = false; !found && seed < 40; found || ++seed)
    for (std::size_t n = around - 16; !found && n < around + 16; ++n)
      if (CompressedSize(n, seed) == 65535) {
        exact = n;
        found = true;
      }
  ASSERT_EQ(CompressedSize(exact, seed), 65535u);
  PartlyRandom(b, exact, seed);
  SavePng(b, dir.PathOf("edge.png"), 96);
  EXPECT_EQ(IdatSizes(ScratchFolder::ReadBytes(dir.PathOf("edge.png"))), std::vector<std::size_t>{65535});

  // Just over: a full chunk and a short one.
  const std::size_t over = FirstReaching(65536);
  const std::size_t total = CompressedSize(over);
  PartlyRandom(b, over);
  SavePng(b, dir.PathOf("over.png"), 96);
  EXPECT_EQ(IdatSizes(ScratchFolder::ReadBytes(dir.PathOf("over.png"))), (std::vector<std::size_t>{65535, total - 65535}));

  // Noise: several full chunks, then the rest; the pieces join to one stream.
  TBitmap32 noise;
  FillRandom(noise, 300, 200, 4);
  SavePng(noise, dir.PathOf("noise.png"), 72);
  const Bytes file = ScratchFolder::ReadBytes(dir.PathOf("noise.png"));
  Bytes stream;
  std::vector<std::size_t> sizes;
  std::vector<std::string> order;
  for (const Chunk& c : WalkChunks(file)) {
    if (order.empty() || order.back() != c.type) order.push_back(c.type);
    if (c.type != "IDAT") continue;
    sizes.push_back(c.data.size());
    stream.insert(stream.end(), c.data.begin(), c.data.end());
  }
  EXPECT_EQ(order, (std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}));
  ASSERT_GE(sizes.size(), 4u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  EXPECT_GE(sizes.back(), 1u);
  EXPECT_LE(sizes.back(), 65535u);
  EXPECT_EQ(Inflate(stream), SubFilteredRows(noise));
  EXPECT_EQ(stream, LibdeflateZlib(SubFilteredRows(noise), 10));
  std::uint32_t w = 0, h = 0;
  EXPECT_EQ(DecodeWithLibpng(file, w, h), RgbaOf(noise));
}

TEST(PngWriterTest, InterlacedImageDecodes) {
  for (const auto& [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{9, 17}, std::pair{64, 33}}) {
    TBitmap32 b;
    FillRandom(b, w, h, 5);
    const TPngImage png = Bitmap32ToPng(b, TPngEffort::Fast, true);
    EXPECT_EQ(png.InterlaceMethod, 1);
    Bytes file;
    png.Write([&](const std::uint8_t* p, std::size_t n) { file.insert(file.end(), p, p + n); });
    std::uint32_t dw = 0, dh = 0;
    EXPECT_EQ(DecodeWithLibpng(file, dw, dh), RgbaOf(b)) << w << "x" << h;
  }
}

TEST(PngWriterTest, EmptyPictureIsRefusedAndNothingIsWritten) {
  ScratchFolder dir;
  TBitmap32 empty;
  try {
    SavePng(empty, dir.PathOf("e.png"), 96);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Image width is zero in IHDR");
  }
  EXPECT_TRUE(dir.Entries().empty());
}

}  // namespace

// Pictures of several MiB are deflated in slices on two threads: still one zlib stream (level 9
// header, one Adler-32) cut into 65535-byte chunks, decoding to the same rows, and hardly larger
// than one stream over everything.
TEST(PngWriterTest, LargePictureIsOneStreamOfJoinedSlices) {
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(1200, 700);  // 3.2 MiB of filtered rows: several slices
  std::uint32_t s = 12345;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) {
      s = s * 1103515245u + 12345u;
      // Smooth areas and noisy ones, so the slices compress differently.
      const std::uint32_t noise = (y / 100) % 2 ? (s >> 16) & 0x3F : 0;
      b.PixelRef(x, y) = 0xFF000000u | ((x + noise) & 0xFF) << 16 | (y & 0xFF) << 8 | ((x ^ y) & 0xFF);
    }
  SavePng(b, dir.PathOf("large.png"), 96);
  const Bytes file = ScratchFolder::ReadBytes(dir.PathOf("large.png"));
  Bytes stream;
  std::vector<std::size_t> sizes;
  for (const Chunk& c : WalkChunks(file))
    if (c.type == "IDAT") {
      sizes.push_back(c.data.size());
      stream.insert(stream.end(), c.data.begin(), c.data.end());
    }
  ASSERT_GE(sizes.size(), 2u);
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 65535u);
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0xDA);
  const Bytes rows = SubFilteredRows(b);
  EXPECT_EQ(Inflate(stream), rows);
  EXPECT_LE(stream.size(), DeflateLevel9(rows).size());
  std::uint32_t w = 0, h = 0;
  EXPECT_EQ(DecodeWithLibpng(file, w, h), RgbaOf(b));
}

// The joins between slices end wherever the compressor's bits end; pictures of different widths
// and contents move that end through every bit of a byte. Each must still inflate to its rows, and
// zlib's own checks (block types, lengths, Adler-32) must pass.
TEST(PngWriterTest, SlicedStreamsJoinAtEveryBitPosition) {
  for (int variant = 0; variant < 12; ++variant) {
    TBitmap32 b;
    b.SetSize(700 + variant * 13, 500 + variant);
    std::mt19937 rng(100 + variant);
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < b.Width(); ++x)
        b.PixelRef(x, y) = (x / (3 + variant)) % 7 == 0 ? rng() : 0xFF000000u | std::uint32_t(x * y + variant);
    for (TPngEffort effort : {TPngEffort::Fast, TPngEffort::Default}) {
      if (effort == TPngEffort::Default && variant % 4 != 0) continue;  // the slow level on a few only
      const TPngImage png = Bitmap32ToPng(b, effort, false);
      Bytes file;
      png.Write([&](const std::uint8_t* p, std::size_t n) { file.insert(file.end(), p, p + n); });
      Bytes stream;
      for (const Chunk& c : WalkChunks(file))
        if (c.type == "IDAT") stream.insert(stream.end(), c.data.begin(), c.data.end());
      EXPECT_EQ(Inflate(stream), SubFilteredRows(b)) << variant;
    }
  }
}

// Each effort gives the pixels back exactly; more effort never makes the file larger, and the
// zlib header names the level class libdeflate writes for its level (4: fast, 10 and 12: slowest).
TEST(PngWriterTest, EffortsDecodeExactlyAndShrinkInOrder) {
  TBitmap32 b;
  b.SetSize(400, 300);
  std::mt19937 rng(9);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 400; ++x)
      b.PixelRef(x, y) = (x * x + y * 3) % 97 < 5 ? rng() : 0xFF000000u | std::uint32_t((x / 8) * 0x010203 + y);
  const struct {
    TPngEffort effort;
    std::uint8_t flags;
  } cases[] = {{TPngEffort::Fast, 0x5E}, {TPngEffort::Default, 0xDA}, {TPngEffort::Small, 0xDA}};
  std::size_t previous = SIZE_MAX;
  for (const auto& c : cases) {
    Bytes file;
    Bitmap32ToPng(b, c.effort, false).Write([&](const std::uint8_t* p, std::size_t n) { file.insert(file.end(), p, p + n); });
    std::uint32_t w = 0, h = 0;
    EXPECT_EQ(DecodeWithLibpng(file, w, h), RgbaOf(b));
    const std::vector<Chunk> chunks = WalkChunks(file);
    ASSERT_GE(chunks.size(), 2u);
    ASSERT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[1].data[1], c.flags);
    EXPECT_LE(file.size(), previous);
    previous = file.size();
  }
}

// Animation frames are compressed a band of rows at a time, the bands joined into one stream as
// the slices are. Whatever the bands' cuts (one band, many, rows longer than a band, interlaced
// passes), zlib must inflate the stream to the filtered rows with its Adler-32 checked, libpng must
// read the picture back, and the cuts may cost only a little against the whole-image stream.
TEST(PngWriterTest, BandedStreamsInflateToTheRowsAndCostLittle) {
  struct TCase {
    int Width, Height;
    bool Interlaced;
  } cases[] = {{1, 1, false}, {3, 700, false}, {70000, 3, false}, {800, 600, false}, {513, 517, false}, {301, 211, true}};
  for (const TCase& c : cases) {
    TBitmap32 b;
    b.SetSize(c.Width, c.Height);
    std::mt19937 rng(c.Width * 31 + c.Height);
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x)
        b.PixelRef(x, y) = (x / 9 + y / 7) % 5 == 0 ? rng() : 0xFF000000u | std::uint32_t((x / 4) * 0x010307 + y * 0x0301);
    for (TPngEffort effort : {TPngEffort::Fast, TPngEffort::Default}) {
      TPngImage whole = Bitmap32ToPng(b, effort, c.Interlaced);
      TPngImage banded = whole;
      banded.InBands = true;
      Bytes wholeFile, bandedFile;
      whole.Write([&](const std::uint8_t* p, std::size_t n) { wholeFile.insert(wholeFile.end(), p, p + n); });
      banded.Write([&](const std::uint8_t* p, std::size_t n) { bandedFile.insert(bandedFile.end(), p, p + n); });
      const std::string what = std::to_string(c.Width) + " x " + std::to_string(c.Height) +
                               (effort == TPngEffort::Fast ? " fast" : " default");
      Bytes stream;
      for (const Chunk& chunk : WalkChunks(bandedFile))
        if (chunk.type == "IDAT") stream.insert(stream.end(), chunk.data.begin(), chunk.data.end());
      if (!c.Interlaced) EXPECT_EQ(Inflate(stream), SubFilteredRows(b)) << what;
      std::uint32_t w = 0, h = 0;
      EXPECT_EQ(DecodeWithLibpng(bandedFile, w, h), RgbaOf(b)) << what;
      if (wholeFile.size() > 100000)
        EXPECT_LE(double(bandedFile.size()), 1.02 * double(wholeFile.size())) << what;
    }
  }
}

}  // namespace quirlon::imagefiles
