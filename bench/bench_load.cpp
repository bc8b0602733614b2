// Loading a 4000 x 3000 JPEG and PNG into a TBitmap32. The files are written once, at start-up,
// with libjpeg (quality 90) and libpng (RGB, default compression) into a temporary folder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include "imagefiles/Picture.h"

namespace {

namespace fs = std::filesystem;
using quirlon::imagefiles::TBitmap32;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photo-like test card: smooth gradients, a few hard edges and mild noise.
std::vector<unsigned char> MakeRgb() {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      unsigned char* p = &rgb[(static_cast<std::size_t>(y) * kWidth + x) * 3];
      const int noise = static_cast<int>(rng() % 9) - 4;
      const bool stripe = ((x / 250) + (y / 250)) % 2 == 0;
      p[0] = static_cast<unsigned char>(std::clamp(x * 255 / kWidth + noise, 0, 255));
      p[1] = static_cast<unsigned char>(std::clamp(y * 255 / kHeight + noise, 0, 255));
      p[2] = static_cast<unsigned char>(stripe ? 200 : 40);
    }
  return rgb;
}

void WriteJpeg(const std::string& file, const std::vector<unsigned char>& rgb) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(file.c_str(), "wb"), &std::fclose);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, out.get());
  c.image_width = kWidth;
  c.image_height = kHeight;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&rgb[static_cast<std::size_t>(c.next_scanline) * kWidth * 3]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
}

void WritePng(const std::string& file, const std::vector<unsigned char>& rgb) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(file.c_str(), "wb"), &std::fclose);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return;
  }
  png_init_io(png, out.get());
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < kHeight; ++y) png_write_row(png, &rgb[static_cast<std::size_t>(y) * kWidth * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
}

// Written once; removed when the program ends.
const fs::path& Folder() {
  struct TFolder {
    fs::path Dir = fs::temp_directory_path() / ("quirlon-bench-load-" + std::to_string(::getpid()));
    TFolder() {
      fs::create_directories(Dir);
      const auto rgb = MakeRgb();
      WriteJpeg((Dir / "card.jpg").string(), rgb);
      WritePng((Dir / "card.png").string(), rgb);
    }
    ~TFolder() {
      std::error_code ec;
      fs::remove_all(Dir, ec);
    }
  };
  static const TFolder folder;
  return folder.Dir;
}

void Load(benchmark::State& state, const char* name) {
  const std::string file = (Folder() / name).string();
  TBitmap32 bitmap;
  for (auto _ : state) {
    quirlon::imagefiles::LoadFromFile(bitmap, file);
    benchmark::DoNotOptimize(bitmap.Bits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.counters["file_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
}

void BM_LoadJpeg4000x3000(benchmark::State& state) { Load(state, "card.jpg"); }
void BM_LoadPng4000x3000(benchmark::State& state) { Load(state, "card.png"); }

BENCHMARK(BM_LoadJpeg4000x3000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadPng4000x3000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
