// The shared picture corpus through the real decoders: what must load loads at the expected size,
// what must be rejected is, hostile files fail cleanly, and lossless pictures match the manifest's
// RGBA8 checksums wherever our conversion rules are the same as the reference decoder's.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/Sha256.h"

namespace quirlon::imagefiles {
namespace {

namespace fs = std::filesystem;

// A hang is judged by the CPU time of the decoding process, so a busy machine cannot fail the
// test; sanitizer builds run several times slower and get a wider limit.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kHangSeconds = 40.0;
#else
constexpr double kHangSeconds = 10.0;
#endif

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct TRow {
  std::string Path, Expect, PilStatus, PilMode, PilHash;
  int PilWidth = -1, PilHeight = -1;
};

std::vector<TRow> ReadManifest() {
  std::vector<TRow> rows;
  std::ifstream in(fs::path(QUIRLON_TESTDATA) / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    f.resize(14);
    TRow r;
    r.Path = f[0];
    r.Expect = f[3];
    r.PilStatus = f[4];
    if (!f[5].empty()) r.PilWidth = std::stoi(f[5]);
    if (!f[6].empty()) r.PilHeight = std::stoi(f[6]);
    r.PilMode = f[7];
    r.PilHash = f[9];
    // Sizes from the second reference where the first one failed.
    if (r.PilWidth < 0 && !f[11].empty()) r.PilWidth = std::stoi(f[11]);
    if (r.PilHeight < 0 && !f[12].empty()) r.PilHeight = std::stoi(f[12]);
    rows.push_back(r);
  }
  return rows;
}

std::string RgbaHash(const TBitmap32& b) {
  testing::TSha256 h;
  for (std::size_t i = 0; i < b.PixelCount(); ++i) {
    const TColor32 c = b.Bits()[i];
    const std::uint8_t px[4] = {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 24)};
    h.Update(px, 4);
  }
  return h.HexDigest();
}

struct TOutcome {
  bool Loaded = false;
  std::string Error;
  int Width = 0, Height = 0;
  std::string Hash;
  double Seconds = 0;
  std::string Crash;  // how the loading process died, when it did not finish
};

// Loads one file in a child process, so that a crash, a hang or a sanitizer report is pinned on
// that file and the other files still run. The child sends its outcome through a pipe.
TOutcome Failed(const std::string& why) {
  TOutcome o;
  o.Crash = why;
  return o;
}

TOutcome LoadInChild(const std::string& path) {
  int fds[2];
  if (::pipe(fds) != 0) return Failed("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) return Failed("fork failed");
  if (pid == 0) {
    ::close(fds[0]);
    // Stopped by SIGXCPU past the CPU limit, and by SIGALRM when it waits far longer than that.
    const rlim_t cpu = static_cast<rlim_t>(kHangSeconds) + 1;
    const rlimit limit{cpu, cpu + 1};
    ::setrlimit(RLIMIT_CPU, &limit);
    ::alarm(static_cast<unsigned>(kHangSeconds) * 10);
    const double start = ProcessCpuSeconds();
    std::string message;
    try {
      TBitmap32 b;
      LoadFromFile(b, path);
      message = "L " + std::to_string(b.Width()) + " " + std::to_string(b.Height()) + " " + RgbaHash(b);
    } catch (const Exception& e) {
      message = std::string("E ") + e.what();
    }
    message = std::to_string(ProcessCpuSeconds() - start) + " " + message;
    for (std::size_t done = 0; done < message.size();) {
      const ssize_t n = ::write(fds[1], message.data() + done, message.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string message;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    message.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  TOutcome o;
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    o.Crash = sig == SIGXCPU || sig == SIGALRM ? "hung (more than " + std::to_string(static_cast<int>(kHangSeconds)) + " s of CPU)"
                                               : std::string("killed by signal ") + strsignal(sig);
    return o;
  }
  if (WEXITSTATUS(status) != 0) {
    o.Crash = "exit status " + std::to_string(WEXITSTATUS(status)) + " (a sanitizer report?)";
    return o;
  }
  // The child's CPU seconds come first.
  if (const std::size_t blank = message.find(' '); blank != std::string::npos) {
    o.Seconds = std::atof(message.substr(0, blank).c_str());
    message.erase(0, blank + 1);
  }
  if (message.rfind("L ", 0) == 0) {
    std::istringstream in(message.substr(2));
    o.Loaded = true;
    in >> o.Width >> o.Height >> o.Hash;
  } else if (message.rfind("E ", 0) == 0) {
    o.Error = message.substr(2);
  } else {
    o.Crash = "no outcome reported";
  }
  return o;
}

const std::map<std::string, TOutcome>& Outcomes() {
  static const std::map<std::string, TOutcome> outcomes = [] {
    std::map<std::string, TOutcome> m;
    for (const TRow& r : ReadManifest()) m[r.Path] = LoadInChild((fs::path(QUIRLON_TESTDATA) / r.Path).string());
    return m;
  }();
  return outcomes;
}

bool HaveCorpus() { return fs::exists(fs::path(QUIRLON_TESTDATA) / "MANIFEST.tsv"); }

// Files the reference decoders load that we refuse on purpose, with the end of the message that
// says why (the message starts with the file's name).
const std::vector<std::pair<std::string, std::string>> kRefused = {
    {".cur", "Unknown picture file extension (.cur)"},  // cursors are not a registered format
    {".pnm", "Unknown picture file extension (.pnm)"},
};

// Lossless files whose checksum differs for a known difference in conversion rules.
const std::vector<std::string> kOtherRules = {
    "bmpsuite/g/rgb16",        // 5- and 6-bit channels rounded to 8 bits; the reference truncates
    "bmpsuite/g/rgb32",        // a 32-bit bitmap keeps its fourth byte as alpha; the reference drops it
    "pillow/bmp/clipboard.dib",
    "bmpsuite/g/pal4rle.bmp",  // the reference decodes RLE4 differently; ours equals pal4.bmp (tested)
    "16b", "16bit", "12bit", "16_bit", "hopper16",  // 16-bit samples rounded, not cut to the high byte
    "libtiff/32bpp-None.tiff", // unassociated alpha passes through libtiff's premultiplied RGBA
    "RGBa.tiff",
    "pillow/ico/",             // icons: partly covered pixels become transparent (drawn twice)
    "pillow/gif/first_frame_transparency.gif",   // screen outside the first frame is transparent
    "pillow/gif/dispose_bgnd_transparency.gif",
    "pillow/pcx/p_4_planes.pcx",
    "pillow/tga/rgba16.tga",   // five-bit channels widened as for bitmaps; the reference differs
    // ImageMagick 6 draws this 1-bit file with black and white the other way round than its palette.
    "pillow/pcx/pil184.pcx",
};

bool Matches(const std::string& path, const std::string& pattern) {
  return path.find(pattern) != std::string::npos;
}

const std::string* RefusalFor(const std::string& path) {
  for (const auto& [pattern, message] : kRefused)
    if (Matches(path, pattern)) return &message;
  return nullptr;
}

bool Lossless(const std::string& path) {
  const std::string ext = PictureExtension(path);
  return ext != "jpg" && ext != "jpeg" && path.find("jpeg") == std::string::npos &&
         path.find("jpg") == std::string::npos && path.find("ojpeg") == std::string::npos;
}

TEST(CorpusTest, PngSuiteLoadsOrRejectsAsNamed) {
  if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  int checked = 0;
  for (const TRow& r : ReadManifest()) {
    if (r.Path.rfind("pngsuite/", 0) != 0) continue;
    const TOutcome& o = Outcomes().at(r.Path);
    const bool bad = fs::path(r.Path).filename().string()[0] == 'x';
    if (bad) {
      // The file, what is wrong in libpng's or our words, then the fixed message.
      EXPECT_FALSE(o.Loaded) << r.Path;
      const std::string lead = "Picture \"" + (fs::path(QUIRLON_TESTDATA) / r.Path).string() + "\": ";
      const std::string fixed = ". Cannot load image. Invalid or unexpected PNG image format.";
      EXPECT_TRUE(o.Error.rfind(lead, 0) == 0 && o.Error.ends_with(fixed) &&
                  o.Error.size() > lead.size() + fixed.size() + 5)
          << o.Error;
      continue;
    }
    ASSERT_TRUE(o.Loaded) << r.Path << ": " << o.Error;
    EXPECT_EQ(o.Width, r.PilWidth) << r.Path;
    EXPECT_EQ(o.Height, r.PilHeight) << r.Path;
    // The reference clips 16-bit greys instead of scaling them, and compares a low-depth grey tRNS
    // value unscaled; elsewhere the pixels must be the same to the bit.
    if (r.PilMode == "I" || Matches(r.Path, "tbbn0g04")) continue;
    EXPECT_EQ(o.Hash, r.PilHash) << r.Path;
    ++checked;
  }
  EXPECT_GT(checked, 140);
}

TEST(CorpusTest, EveryLoadableSampleLoadsAtItsSize) {
  if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  for (const TRow& r : ReadManifest()) {
    if (r.Expect != "load") continue;
    const TOutcome& o = Outcomes().at(r.Path);
    if (const std::string* why = RefusalFor(r.Path)) {
      EXPECT_TRUE(o.Error.rfind("Picture \"" + (fs::path(QUIRLON_TESTDATA) / r.Path).string() + "\": ", 0) == 0) << o.Error;
      EXPECT_TRUE(o.Error.ends_with(*why)) << r.Path << ": " << o.Error;
      continue;
    }
    ASSERT_TRUE(o.Loaded) << r.Path << ": " << o.Error;
    EXPECT_EQ(o.Width, r.PilWidth) << r.Path;
    EXPECT_EQ(o.Height, r.PilHeight) << r.Path;
  }
}

TEST(CorpusTest, LosslessSamplesMatchTheChecksums) {
  if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  int checked = 0;
  for (const TRow& r : ReadManifest()) {
    if (r.Expect != "load" || r.PilHash.empty() || !Lossless(r.Path) || r.Path.rfind("pngsuite/", 0) == 0) continue;
    const TOutcome& o = Outcomes().at(r.Path);
    if (!o.Loaded) continue;  // refusals are checked above
    bool other = false;
    for (const std::string& p : kOtherRules) other |= Matches(r.Path, p);
    if (other) continue;
    EXPECT_EQ(o.Hash, r.PilHash) << r.Path;
    ++checked;
  }
  EXPECT_GT(checked, 100);

  // Where the checksum is not comparable, RLE4 must at least agree with the same picture unpacked.
  TBitmap32 plain, rle;
  LoadFromFile(plain, (fs::path(QUIRLON_TESTDATA) / "bmpsuite/g/pal4.bmp").string());
  LoadFromFile(rle, (fs::path(QUIRLON_TESTDATA) / "bmpsuite/g/pal4rle.bmp").string());
  ASSERT_EQ(plain.PixelCount(), rle.PixelCount());
  EXPECT_TRUE(std::equal(plain.Bits(), plain.Bits() + plain.PixelCount(), rle.Bits()));
}

TEST(CorpusTest, HostileFilesFailCleanlyAndQuickly) {
  if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  int loaded = 0, refused = 0;
  std::map<std::string, std::pair<int, int>> byExpect;  // expect -> (loaded, refused)
  for (const TRow& r : ReadManifest()) {
    const TOutcome& o = Outcomes().at(r.Path);
    // Every file, whatever the manifest expects: no crash, no hang, no sanitizer report.
    EXPECT_EQ(o.Crash, "") << r.Path;
    if (!o.Crash.empty()) continue;
    if (r.Expect == "reject") {
      EXPECT_FALSE(o.Loaded) << r.Path;
    }
    if (o.Loaded) {
      EXPECT_LE(o.Width, kMaxPictureSide) << r.Path;
      EXPECT_LE(o.Height, kMaxPictureSide) << r.Path;
      EXPECT_LE(std::int64_t(o.Width) * o.Height, kMaxPicturePixels) << r.Path;
    } else {
      EXPECT_FALSE(o.Error.empty()) << r.Path;
    }
    EXPECT_LT(o.Seconds, kHangSeconds) << r.Path;
    // Where we differ from the manifest, say so with our reason (the refusals are checked above).
    if (r.Expect == "load" && !o.Loaded)
      std::cout << "[ corpus   ] refused " << r.Path << ": " << o.Error << "\n";
    (o.Loaded ? loaded : refused)++;
    (o.Loaded ? byExpect[r.Expect].first : byExpect[r.Expect].second)++;
  }
  for (const auto& [expect, counts] : byExpect)
    std::cout << "[ corpus   ] " << expect << ": " << counts.first << " load, " << counts.second << " refused\n";
  std::cout << "[ corpus   ] all: " << loaded << " load, " << refused << " refused\n";
}

}  // namespace
}  // namespace quirlon::imagefiles
