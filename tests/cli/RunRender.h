#pragma once
// Running the real quirlon-render in a scratch folder, and reading its PNG pictures with libpng
// directly (not with our loaders).
#include <png.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/ScratchFolder.h"

namespace quirlon::cli {

using testing::ScratchFolder;

struct TResult {
  int Status = -1;
  std::string Out;
  std::string Err;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs quirlon-render with Args (already quoted where needed) inside Dir; Prefix runs first in the
// same shell (limits, traps).
inline TResult RunRender(const ScratchFolder& dir, const std::string& args, const std::string& prefix = "") {
  const std::string out = dir.PathOf(".stdout"), err = dir.PathOf(".stderr");
  const std::string command = "cd " + Quote(dir.Folder()) + " && " + prefix + " exec " + Quote(QUIRLON_RENDER) + " " +
                              args + " >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  TResult r;
  r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.Out = ReadText(out);
  r.Err = ReadText(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

struct TRgbaPicture {
  std::uint32_t Width = 0, Height = 0;
  std::vector<std::uint8_t> Rgba;
  const std::uint8_t* At(std::uint32_t x, std::uint32_t y) const { return &Rgba[(std::size_t(y) * Width + x) * 4]; }
};

inline TRgbaPicture DecodePng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  TRgbaPicture p;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << "libpng cannot read " << path << ": " << image.message;
    return p;
  }
  image.format = PNG_FORMAT_RGBA;
  p.Width = image.width;
  p.Height = image.height;
  p.Rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, p.Rgba.data(), 0, nullptr)) ADD_FAILURE() << image.message;
  png_image_free(&image);
  return p;
}

}  // namespace quirlon::cli
