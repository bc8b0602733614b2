#pragma once
// Test pictures written with libpng itself, so that what our loaders read comes from the
// reference encoder.
#include <png.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quirlon::testing {

struct TRgb {
  std::uint8_t R, G, B;
};

// A Width x Height RGB picture, each pixel coloured by Paint(x, y).
inline void WritePng(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::function<TRgb(std::uint32_t, std::uint32_t)>& paint) {
  std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const TRgb c = paint(x, y);
      std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
      p[0] = c.R;
      p[1] = c.G;
      p[2] = c.B;
    }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) << image.message;
}

}  // namespace quirlon::testing
