// Resolution, extension rule, BMP bytes and the failure rules of the save flow.
#include "imagefiles/OutputWriters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <random>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "imagefiles/SafeFile.h"
#include "raster/Bitmap32.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::imagefiles {
namespace {

using raster::TBitmap32;
using raster::TColor32;
using testing::ScratchFolder;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

const TSaveOptions kAt96{};

std::uint32_t LittleEndian32(const Bytes& f, std::size_t at) {
  return f[at] | (std::uint32_t(f[at + 1]) << 8) | (std::uint32_t(f[at + 2]) << 16) | (std::uint32_t(f[at + 3]) << 24);
}

std::string CreateErrorOf(const std::function<void()>& save) {
  try {
    save();
  } catch (const EFCreateError& e) {
    return e.Message();
  }
  return "no error";
}

TEST(OutputWritersTest, DpiToPixelsPerMeter) {
  const struct {
    int dpi, ppm;
  } table[] = {{60, 2363}, {72, 2835}, {96, 3780}, {150, 5906}, {300, 11812}, {600, 23623}};
  for (const auto& t : table) EXPECT_EQ(DpiToPixelsPerMeter(t.dpi), t.ppm) << t.dpi;
  // Exact rational reference: the smallest integer not below dpi x 393700787 / 10^7 (the
  // product is never an integer in this range, so the ceiling always rounds up).
  for (std::int64_t dpi = 60; dpi <= 600; ++dpi)
    EXPECT_EQ(DpiToPixelsPerMeter(static_cast<std::int32_t>(dpi)), (dpi * 393700787 + 9999999) / 10000000) << dpi;
}

TEST(OutputWritersTest, ExtensionChoosesTheWriter) {
  using F = TOutputFormat;
  const std::optional<F> none;
  const struct {
    const char* name;
    std::optional<F> format;
  } cases[] = {
      {"/p/box.png", F::Png},     {"/p/box.PNG", F::Png},    {"/p/box.Png", F::Png},   {"/p/box.jpg", F::Jpeg},
      {"/p/box.JPG", F::Jpeg},    {"/p/box.jpeg", F::Jpeg},  {"/p/box.JPE", F::Jpeg},  {"/p/box.jfif", F::Jpeg},
      {"/p/box.bmp", F::Bmp},     {"/p/box.DIB", F::Bmp},    {"/p/box.webp", F::WebP}, {"/p/box.WebP", F::WebP},
      {"/p/box.tif", F::Tiff},    {"/p/box.TIFF", F::Tiff},  {"/p/box", none},         {"/p.png/box", none},
      {"/p/.png", F::Png},        {"box.png.bmp", F::Bmp},   {"box.bmp.png", F::Png},  {"box.", none},
      {"box.png ", none},         {"box.gif", none},         {"box.jpgx", none},       {"box.pn", none},
  };
  for (const auto& c : cases) EXPECT_EQ(OutputFormatOf(c.name), c.format) << c.name;
  EXPECT_EQ(OutputExtension("/a.b/C.TxT"), ".txt");
  EXPECT_EQ(OutputExtension("/a.b/c"), "");
  EXPECT_EQ(OutputExtensionList(), ".png, .jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .webp, .tif, .tiff");
}

TEST(OutputWritersTest, BmpBytes) {
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(3, 2);
  const TColor32 pixels[2][3] = {{0x11223344, 0x00000000, 0xFFFFFFFF}, {0x80A0B0C0, 0x01020304, 0x00FF0000}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) b.PixelRef(x, y) = pixels[y][x];
  SaveBmp(b, dir.PathOf("p.bmp"), 96);
  const Bytes f = ScratchFolder::ReadBytes(dir.PathOf("p.bmp"));
  ASSERT_EQ(f.size(), 54u + 4 * 3 * 2);
  EXPECT_EQ(f[0], 'B');
  EXPECT_EQ(f[1], 'M');
  EXPECT_EQ(LittleEndian32(f, 2), 78u);
  EXPECT_EQ(LittleEndian32(f, 6), 0u);
  EXPECT_EQ(LittleEndian32(f, 10), 54u);
  EXPECT_EQ(LittleEndian32(f, 14), 40u);
  EXPECT_EQ(LittleEndian32(f, 18), 3u);
  EXPECT_EQ(LittleEndian32(f, 22), 2u);
  EXPECT_EQ(f[26] | f[27] << 8, 1);
  EXPECT_EQ(f[28] | f[29] << 8, 32);
  EXPECT_EQ(LittleEndian32(f, 30), 0u);
  EXPECT_EQ(LittleEndian32(f, 34), 24u);
  EXPECT_EQ(Bytes(f.begin() + 38, f.begin() + 46), (Bytes{0xC4, 0x0E, 0, 0, 0xC4, 0x0E, 0, 0}));
  EXPECT_EQ(LittleEndian32(f, 46), 0u);
  EXPECT_EQ(LittleEndian32(f, 50), 0u);
  // Bottom row first, each pixel B, G, R, A.
  EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{0xC0, 0xB0, 0xA0, 0x80, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0xFF, 0x00,
                                                  0x44, 0x33, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));

  const struct {
    int dpi;
    std::uint32_t ppm;
  } dpis[] = {{60, 2363}, {96, 3780}, {300, 11812}, {600, 23623}};
  for (const auto& d : dpis) {
    const Bytes g = EncodeBmp(b, d.dpi);
    EXPECT_EQ(LittleEndian32(g, 38), d.ppm);
    EXPECT_EQ(LittleEndian32(g, 42), d.ppm);
  }

  TBitmap32 empty;
  const Bytes e = EncodeBmp(empty, 96);
  EXPECT_EQ(e.size(), 54u);
  EXPECT_EQ(LittleEndian32(e, 2), 54u);
}

TEST(OutputWritersTest, SavePictureMirrorsAndPicksTheWriter) {
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(3, 1);
  b.PixelRef(0, 0) = 0xFF000001;
  b.PixelRef(1, 0) = 0xFF000002;
  b.PixelRef(2, 0) = 0xFF000003;
  SavePicture(b, dir.PathOf("flip.bmp"), kAt96, true);
  const Bytes f = ScratchFolder::ReadBytes(dir.PathOf("flip.bmp"));
  ASSERT_EQ(f.size(), 66u);
  EXPECT_EQ(f[54], 3);
  EXPECT_EQ(f[58], 2);
  EXPECT_EQ(f[62], 1);
  EXPECT_EQ(b.PixelAt(0, 0), 0xFF000003u);  // mirrored in place, as the flattened copy is

  SavePicture(b, dir.PathOf("same.bmp"), kAt96, false);
  EXPECT_EQ(ScratchFolder::ReadBytes(dir.PathOf("same.bmp")), f);

  SavePicture(b, dir.PathOf("caps.PNG"), kAt96, false);
  SavePicture(b, dir.PathOf("photo.jpg"), kAt96, false);
  SavePicture(b, dir.PathOf("photo.jpeg"), kAt96, false);
  SavePicture(b, dir.PathOf("photo.webp"), kAt96, false);
  SavePicture(b, dir.PathOf("photo.tif"), kAt96, false);
  auto head = [&](const char* name) {
    const Bytes g = ScratchFolder::ReadBytes(dir.PathOf(name));
    return std::string(g.begin(), g.begin() + 4);
  };
  EXPECT_EQ(head("caps.PNG"), "\x89PNG");
  EXPECT_EQ(head("photo.jpg"), "\xFF\xD8\xFF\xE0");
  EXPECT_EQ(head("photo.jpeg"), "\xFF\xD8\xFF\xE0");
  EXPECT_EQ(head("photo.webp"), "RIFF");
  EXPECT_EQ(head(("photo.tif")), std::string("II*\0", 4));
}

// A name that names no format is refused before anything is written, with the list of the names
// that would do.
TEST(OutputWritersTest, UnknownExtensionIsRefusedUnwritten) {
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(2, 2);
  const std::string list = "; use one of .png, .jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .webp, .tif, .tiff";
  for (const std::string name : {"noext", "cover.gif", "box.", "box.png.txt"}) {
    const std::string target = dir.PathOf(name);
    const std::string ext = OutputExtension(target);
    EXPECT_EQ(CreateErrorOf([&] { SavePicture(b, target, kAt96, false); }),
              "Cannot create file \"" + target + "\". " +
                  (ext.empty() ? std::string("The name has no picture extension") : "Unknown picture extension \"" + ext + "\"") +
                  list);
  }
  EXPECT_TRUE(dir.Entries().empty());
}


TEST(OutputWritersTest, FailedSaveLeavesNothingBehind) {
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(4, 4);
  b.Clear(0xFF336699);
  using Saver = void (*)(const TBitmap32&, const std::string&, std::int32_t);
  const Saver savePng = [](const TBitmap32& b, const std::string& f, std::int32_t d) { SavePng(b, f, d); };
  for (Saver save : {Saver(&SaveBmp), Saver(&SaveJpg), savePng}) {
    const std::string missing = dir.PathOf("no such folder/out.png");
    EXPECT_EQ(CreateErrorOf([&] { save(b, missing, 96); }),
              "Cannot create file \"" + missing + "\". No such file or directory");
    fs::create_directory(dir.PathOf("taken"));
    const std::string folder = dir.PathOf("taken");
    EXPECT_EQ(CreateErrorOf([&] { save(b, folder, 96); }), "Cannot create file \"" + folder + "\". Is a directory");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"taken"});
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

TEST(OutputWritersTest, WriteFailureKeepsTheOldFile) {
  ScratchFolder dir;
  const std::string path = dir.Write("old.bmp", "the user's old picture");
  const Bytes before = ScratchFolder::ReadBytes(path);
  TBitmap32 b;
  b.SetSize(100, 100);  // noise: well beyond the file size limit set below in every format
  std::mt19937 rng(9);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) b.PixelRef(x, y) = rng();

  // A real short write: the file size limit makes write() fail with EFBIG half-way.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit low = old;
  low.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  std::vector<std::string> messages;
  for (const char* name : {"old.bmp", "old.png", "old.jpg"}) {
    const std::string target = dir.PathOf(name);
    if (std::string(name) != "old.bmp") fs::copy_file(path, target);
    messages.push_back(CreateErrorOf([&] { SavePicture(b, target, kAt96, false); }));
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  for (std::size_t i = 0; i < messages.size(); ++i) {
    const std::string name = i == 0 ? "old.bmp" : i == 1 ? "old.png" : "old.jpg";
    EXPECT_EQ(messages[i], "Cannot create file \"" + dir.PathOf(name) + "\". File too large");
    EXPECT_EQ(ScratchFolder::ReadBytes(dir.PathOf(name)), before) << name;
  }
  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"old.bmp", "old.jpg", "old.png"}));  // no temporary file
}

TEST(OutputWritersTest, ReplacingKeepsPermissionsAndLinks) {
  ScratchFolder dir;
  const std::string path = dir.Write("keep.bmp", "old");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(path, dir.PathOf("link.bmp"));
  TBitmap32 b;
  b.SetSize(2, 2);
  SaveBmp(b, dir.PathOf("link.bmp"), 96);
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("link.bmp")));
  EXPECT_EQ(ScratchFolder::ReadBytes(path).size(), 54u + 16);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  std::vector<std::string> entries = dir.Entries();
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, (std::vector<std::string>{"keep.bmp", "link.bmp"}));

  // A new file gets the usual permissions: 0666 less the umask.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  SaveBmp(b, dir.PathOf("new.bmp"), 96);
  struct stat info {};
  ASSERT_EQ(::stat(dir.PathOf("new.bmp").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
}

TEST(OutputWritersTest, PermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ScratchFolder dir;
  TBitmap32 b;
  b.SetSize(2, 2);
  const std::string readOnly = dir.Write("readonly.bmp", "keep me");
  fs::permissions(readOnly, fs::perms::owner_read);
  EXPECT_EQ(CreateErrorOf([&] { SaveBmp(b, readOnly, 96); }), "Cannot create file \"" + readOnly + "\". Permission denied");
  EXPECT_EQ(ScratchFolder::ReadBytes(readOnly), (Bytes{'k', 'e', 'e', 'p', ' ', 'm', 'e'}));

  fs::create_directory(dir.PathOf("locked"));
  const std::string inLocked = dir.Write("locked/old.png", "old");
  fs::permissions(dir.PathOf("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(CreateErrorOf([&] { SavePng(b, inLocked, 96); }), "Cannot create file \"" + inLocked + "\". Permission denied");
  EXPECT_EQ(ScratchFolder::ReadBytes(inLocked), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(fs::directory_iterator(dir.PathOf("locked"))->path().filename(), "old.png");
}

// Runs Body in a child process and returns what it returned; a child that dies says how. The
// child may change what the test process must not: its user, its mounts.
std::string InChild(const std::function<std::string()>& Body) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    std::string result;
    try {
      result = Body();
    } catch (const std::exception& e) {
      result = std::string("exception: ") + e.what();
    }
    if (::write(fds[1], result.data(), result.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string result;
  char buffer[1024];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + std::to_string(status);
  return result;
}

void Noise(TBitmap32& b, int size) {
  b.SetSize(size, size);
  std::mt19937 rng(17);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) b.PixelRef(x, y) = rng();
}

TEST(OutputWritersTest, FullDiskKeepsTheOldFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs the superuser";
  ScratchFolder dir;
  const std::string disk = dir.PathOf("disk");
  fs::create_directory(disk);
  // A 64 KiB file system of the child's own: writes fail with ENOSPC, as on a full disk.
  const std::string result = InChild([&]() -> std::string {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
      return std::string("SKIP ") + std::strerror(errno);
    TBitmap32 b;
    Noise(b, 300);  // well over 64 KiB in every format
    std::string out;
    for (const char* name : {"old.bmp", "old.png", "old.jpg"}) {
      const std::string target = disk + "/" + name;
      { std::ofstream(target, std::ios::binary) << "the user's old picture " << name; }
      std::string message = "no error";
      try {
        SavePicture(b, target, kAt96, false);
      } catch (const EFCreateError& e) {
        message = e.what();
      }
      const Bytes now = ScratchFolder::ReadBytes(target);
      const std::string expected = std::string("the user's old picture ") + name;
      out += message + "|" + (now == Bytes(expected.begin(), expected.end()) ? "same" : "changed") + "\n";
    }
    std::vector<std::string> entries;
    for (const auto& e : fs::directory_iterator(disk)) entries.push_back(e.path().filename().string());
    std::sort(entries.begin(), entries.end());
    for (const std::string& e : entries) out += e + ";";
    ::umount(disk.c_str());
    return out;
  });
  if (result.rfind("SKIP ", 0) == 0) GTEST_SKIP() << "cannot mount a file system here: " << result.substr(5);
  std::string expected;
  for (const char* name : {"old.bmp", "old.png", "old.jpg"})
    expected += "Cannot create file \"" + disk + "/" + name + "\". No space left on device|same\n";
  expected += "old.bmp;old.jpg;old.png;";  // no temporary file left
  EXPECT_EQ(result, expected);
}

TEST(OutputWritersTest, PermissionDeniedForAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "PermissionDenied covers this without the superuser";
  ScratchFolder dir;
  const uid_t nobody = 65534;
  fs::permissions(dir.Folder(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  // A folder the user may write in, holding a file they may not write; and a folder they may not
  // write in, holding a file of theirs.
  fs::create_directory(dir.PathOf("mine"));
  ASSERT_EQ(::chown(dir.PathOf("mine").c_str(), nobody, nobody), 0);
  const std::string foreign = dir.Write("mine/foreign.bmp", "root's picture");
  fs::permissions(foreign, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directory(dir.PathOf("locked"));
  fs::permissions(dir.PathOf("locked"), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  const std::string own = dir.Write("locked/own.png", "their picture");
  ASSERT_EQ(::chown(own.c_str(), nobody, nobody), 0);

  const std::string result = InChild([&]() -> std::string {
    if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) return std::string("SKIP ") + std::strerror(errno);
    TBitmap32 b;
    Noise(b, 8);
    std::string out;
    for (const std::string& target : {foreign, own}) {
      try {
        SavePicture(b, target, kAt96, false);
        out += "saved\n";
      } catch (const EFCreateError& e) {
        out += std::string(e.what()) + "\n";
      }
    }
    return out;
  });
  if (result.rfind("SKIP ", 0) == 0) GTEST_SKIP() << "cannot change user: " << result.substr(5);
  EXPECT_EQ(result, "Cannot create file \"" + foreign + "\". Permission denied\n" +
                        "Cannot create file \"" + own + "\". Permission denied\n");
  EXPECT_EQ(ScratchFolder::ReadBytes(foreign), (Bytes{'r', 'o', 'o', 't', '\'', 's', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}));
  const std::string theirs = "their picture";
  EXPECT_EQ(ScratchFolder::ReadBytes(own), Bytes(theirs.begin(), theirs.end()));
  auto names = [&](const std::string& folder) {
    std::vector<std::string> list;
    for (const auto& e : fs::directory_iterator(dir.PathOf(folder))) list.push_back(e.path().filename().string());
    return list;
  };
  EXPECT_EQ(names("mine"), std::vector<std::string>{"foreign.bmp"});
  EXPECT_EQ(names("locked"), std::vector<std::string>{"own.png"});
}

TEST(OutputWritersTest, FolderAsTargetKeepsTheFolderAndItsContent) {
  ScratchFolder dir;
  fs::create_directory(dir.PathOf("pictures.png"));
  const std::string inside = dir.Write("pictures.png/keep.txt", "inside");
  TBitmap32 b;
  Noise(b, 4);
  EXPECT_EQ(CreateErrorOf([&] { SavePicture(b, dir.PathOf("pictures.png"), kAt96, true); }),
            "Cannot create file \"" + dir.PathOf("pictures.png") + "\". Is a directory");
  EXPECT_TRUE(fs::is_directory(dir.PathOf("pictures.png")));
  EXPECT_EQ(ScratchFolder::ReadBytes(inside), (Bytes{'i', 'n', 's', 'i', 'd', 'e'}));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"pictures.png"});
}

}  // namespace
}  // namespace quirlon::imagefiles
