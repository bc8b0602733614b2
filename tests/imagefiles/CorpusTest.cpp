// The shared picture corpus through the real decoders: what must load loads at the expected size,
// what must be rejected is, hostile files fail cleanly, and lossless pictures match the manifest's
// RGBA8 checksums wherever our conversion rules are the same as the reference decoder's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/imagefiles/Sha256.h"

namespace quirlon::imagefiles {
namespace {

namespace fs = std::filesystem;

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
};

const std::map<std::string, TOutcome>& Outcomes() {
  static const std::map<std::string, TOutcome> outcomes = [] {
    std::map<std::string, TOutcome> m;
    for (const TRow& r : ReadManifest()) {
      TOutcome o;
      TBitmap32 b;
      const auto start = std::chrono::steady_clock::now();
      try {
        LoadFromFile(b, (fs::path(QUIRLON_TESTDATA) / r.Path).string());
        o.Loaded = true;
        o.Width = b.Width();
        o.Height = b.Height();
        o.Hash = RgbaHash(b);
      } catch (const Exception& e) {
        o.Error = e.what();
      }
      o.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      m[r.Path] = o;
    }
    return m;
  }();
  return outcomes;
}

bool HaveCorpus() { return fs::exists(fs::path(QUIRLON_TESTDATA) / "MANIFEST.tsv"); }

TEST(CorpusTest, Dump) {
  if (!HaveCorpus()) GTEST_SKIP() << "no corpus at " << QUIRLON_TESTDATA;
  if (!std::getenv("QUIRLON_CORPUS_DUMP")) GTEST_SKIP() << "set QUIRLON_CORPUS_DUMP to list every outcome";
  for (const TRow& r : ReadManifest()) {
    const TOutcome& o = Outcomes().at(r.Path);
    std::printf("%-70s %-8s %s %dx%d (pil %dx%d %s) %s %.2fs %s\n", r.Path.c_str(), r.Expect.c_str(),
                o.Loaded ? "OK  " : "FAIL", o.Width, o.Height, r.PilWidth, r.PilHeight, r.PilMode.c_str(),
                o.Loaded ? (o.Hash == r.PilHash ? "hash=" : "hash!") : "", o.Seconds, o.Error.c_str());
  }
}

}  // namespace
}  // namespace quirlon::imagefiles
