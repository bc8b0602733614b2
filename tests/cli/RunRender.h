#pragma once
// Running the real quirlon-render in a scratch folder, and reading its PNG pictures with libpng
// directly (not with our loaders).
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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

struct TMeasuredRun {
  TResult Result;
  double Seconds = 0;       // wall clock, start to exit
  long PeakKilobytes = 0;   // the largest resident size quirlon-render reached
};

// RunRender from a child process of its own, so that the peak memory measured (getrusage of its
// children) is this run's alone. KillAfter (seconds, 0: never) wraps the run in `timeout -s KILL`,
// so a hang fails the test instead of stopping it.
inline TMeasuredRun RunRenderMeasured(const ScratchFolder& dir, const std::string& args, const std::string& prefix = "",
                                      int KillAfter = 0) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  const auto start = std::chrono::steady_clock::now();
  const std::string out = dir.PathOf(".stdout"), err = dir.PathOf(".stderr");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const std::string limit = KillAfter > 0 ? "timeout -s KILL " + std::to_string(KillAfter) + " " : "";
    const std::string command = "cd " + Quote(dir.Folder()) + " && " + prefix + " exec " + limit +
                                Quote(QUIRLON_RENDER) + " " + args + " >" + Quote(out) + " 2>" + Quote(err);
    const int raw = std::system(command.c_str());
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const long report[2] = {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, usage.ru_maxrss};
    if (::write(fds[1], report, sizeof report) != sizeof report) ::_exit(1);
    ::_exit(0);
  }
  ::close(fds[1]);
  long report[2] = {-1, 0};
  EXPECT_EQ(::read(fds[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  TMeasuredRun r;
  r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.Result.Status = static_cast<int>(report[0]);
  r.PeakKilobytes = report[1];
  r.Result.Out = ReadText(out);
  r.Result.Err = ReadText(err);
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
