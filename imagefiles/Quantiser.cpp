#include "imagefiles/Quantiser.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace quirlon::imagefiles {

namespace {

constexpr int kBins = 32 * 32 * 32;

int BinOf(int R, int G, int B) { return (R >> 3) << 10 | (G >> 3) << 5 | (B >> 3); }

// The colour sums are taken per box after the cut, in a second pass over the picture: a table of
// counts is an eighth of one that carries sums, which matters with a turntable's workers each
// quantising a frame.
struct TBin {
  std::uint8_t Axis[3];  // the bin's 5-bit R, G, B
  std::uint32_t Count;
  std::uint16_t Id;  // BinOf
};

struct TBox {
  std::size_t Begin, End;  // bins [Begin, End) of the sorted bin list
  std::uint64_t Count;
  int Longest;  // axis of the largest extent
  int Extent;   // that extent in bins
};

TBox MakeBox(const std::vector<TBin>& Bins, std::size_t Begin, std::size_t End) {
  TBox box{Begin, End, 0, 0, 0};
  int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
  for (std::size_t i = Begin; i < End; ++i) {
    box.Count += Bins[i].Count;
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min<int>(lo[a], Bins[i].Axis[a]);
      hi[a] = std::max<int>(hi[a], Bins[i].Axis[a]);
    }
  }
  for (int a = 0; a < 3; ++a)
    if (hi[a] - lo[a] > box.Extent) {
      box.Extent = hi[a] - lo[a];
      box.Longest = a;
    }
  return box;
}

// Boxes of the median cut: always the box with the most pixels times extent is split at the
// median of its longest axis, so busy and wide ranges of colour get the most entries.
std::vector<TBox> MedianCut(std::vector<TBin>& Bins, int Colours) {
  std::vector<TBox> boxes{MakeBox(Bins, 0, Bins.size())};
  while (static_cast<int>(boxes.size()) < Colours) {
    std::size_t best = boxes.size();
    double bestScore = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const double score = static_cast<double>(boxes[i].Count) * boxes[i].Extent;
      if (boxes[i].End - boxes[i].Begin > 1 && score > bestScore) {
        best = i;
        bestScore = score;
      }
    }
    if (best == boxes.size()) break;  // every box is one bin
    const TBox box = boxes[best];
    const int axis = box.Longest;
    std::sort(Bins.begin() + static_cast<std::ptrdiff_t>(box.Begin), Bins.begin() + static_cast<std::ptrdiff_t>(box.End),
              [axis](const TBin& a, const TBin& b) { return a.Axis[axis] < b.Axis[axis]; });
    std::uint64_t seen = 0;
    std::size_t cut = box.Begin + 1;
    for (std::size_t i = box.Begin; i + 1 < box.End; ++i) {
      seen += Bins[i].Count;
      cut = i + 1;
      if (2 * seen >= box.Count) break;
    }
    boxes[best] = MakeBox(Bins, box.Begin, cut);
    boxes.push_back(MakeBox(Bins, cut, box.End));
  }
  return boxes;
}

int Clamp8(int V) { return V < 0 ? 0 : V > 255 ? 255 : V; }

class TNearest {
public:
  explicit TNearest(const std::vector<std::array<std::uint8_t, 3>>& Palette, int Entries)
      : fPalette(Palette), fEntries(Entries), fCache(kBins, -1) {}
  // The entry nearest to the middle of the colour's bin (kept per bin).
  int operator()(int R, int G, int B) {
    const int bin = BinOf(R, G, B);
    std::int16_t& cached = fCache[static_cast<std::size_t>(bin)];
    if (cached < 0) {
      const int r = (R & ~7) | 4, g = (G & ~7) | 4, b = (B & ~7) | 4;
      int best = 0, bestDistance = 1 << 30;
      for (int i = 0; i < fEntries; ++i) {
        const int dr = r - fPalette[i][0], dg = g - fPalette[i][1], db = b - fPalette[i][2];
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
          bestDistance = d;
          best = i;
        }
      }
      cached = static_cast<std::int16_t>(best);
    }
    return cached;
  }

private:
  const std::vector<std::array<std::uint8_t, 3>>& fPalette;
  int fEntries;
  std::vector<std::int16_t> fCache;
};

constexpr int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
constexpr int kOrderedSpread = 24;  // about one step between neighbouring entries of 256 colours

}  // namespace

TQuantised QuantisePicture(const raster::TBitmap32& Picture, int MaxColours, bool Transparent, TDither Dither) {
  if (MaxColours < 2 || MaxColours > 256) throw std::invalid_argument("A palette has 2 to 256 colours");
  TQuantised out;
  out.Width = Picture.Width();
  out.Height = Picture.Height();
  const std::size_t width = static_cast<std::size_t>(std::max(out.Width, 0));
  const std::size_t height = static_cast<std::size_t>(std::max(out.Height, 0));
  auto clear = [&](raster::TColor32 c) { return Transparent && (c >> 24) < 128; };

  std::vector<std::uint32_t> counts(kBins);
  auto eachColour = [&](auto&& Use) {
    for (std::size_t y = 0; y < height; ++y) {
      const raster::TColor32* row = Picture.ScanLine(static_cast<std::int32_t>(y));
      for (std::size_t x = 0; x < width; ++x) {
        const raster::TColor32 c = row[x];
        if (!clear(c)) Use(static_cast<int>(c >> 16 & 0xFF), static_cast<int>(c >> 8 & 0xFF), static_cast<int>(c & 0xFF));
      }
    }
  };
  eachColour([&](int r, int g, int b) { ++counts[static_cast<std::size_t>(BinOf(r, g, b))]; });
  std::vector<TBin> bins;
  for (int i = 0; i < kBins; ++i)
    if (counts[static_cast<std::size_t>(i)] > 0)
      bins.push_back(TBin{{static_cast<std::uint8_t>(i >> 10), static_cast<std::uint8_t>(i >> 5 & 31),
                           static_cast<std::uint8_t>(i & 31)},
                          counts[static_cast<std::size_t>(i)],
                          static_cast<std::uint16_t>(i)});
  counts = {};

  const int colours = Transparent ? MaxColours - 1 : MaxColours;
  if (!bins.empty()) {
    const std::vector<TBox> boxes = MedianCut(bins, colours);
    std::vector<std::uint16_t> boxOf(kBins);
    for (std::size_t k = 0; k < boxes.size(); ++k)
      for (std::size_t i = boxes[k].Begin; i < boxes[k].End; ++i) boxOf[bins[i].Id] = static_cast<std::uint16_t>(k);
    bins = {};
    std::vector<std::array<std::uint64_t, 3>> sums(boxes.size(), {0, 0, 0});
    eachColour([&](int r, int g, int b) {
      std::array<std::uint64_t, 3>& sum = sums[boxOf[static_cast<std::size_t>(BinOf(r, g, b))]];
      sum[0] += static_cast<std::uint64_t>(r);
      sum[1] += static_cast<std::uint64_t>(g);
      sum[2] += static_cast<std::uint64_t>(b);
    });
    for (std::size_t k = 0; k < boxes.size(); ++k) {
      std::array<std::uint8_t, 3> entry{};
      for (int a = 0; a < 3; ++a)
        entry[a] = static_cast<std::uint8_t>((sums[k][a] + boxes[k].Count / 2) / boxes[k].Count);
      out.Palette.push_back(entry);
    }
  }
  const int opaqueEntries = static_cast<int>(out.Palette.size());
  if (Transparent) {
    out.TransparentIndex = opaqueEntries;
    out.Palette.push_back({0, 0, 0});
  }
  if (out.Palette.empty()) out.Palette.push_back({0, 0, 0});

  out.Indices.resize(width * height);
  TNearest nearest(out.Palette, std::max(opaqueEntries, 1));
  // Floyd-Steinberg: the error still to spread, this row's and the next's, with a margin each side.
  std::vector<int> errorHere, errorNext;
  if (Dither == TDither::FloydSteinberg) {
    errorHere.assign((width + 2) * 3, 0);
    errorNext.assign((width + 2) * 3, 0);
  }
  for (std::size_t y = 0; y < height; ++y) {
    const raster::TColor32* row = Picture.ScanLine(static_cast<std::int32_t>(y));
    std::uint8_t* indices = out.Indices.data() + y * width;
    for (std::size_t x = 0; x < width; ++x) {
      const raster::TColor32 c = row[x];
      if (clear(c)) {
        indices[x] = static_cast<std::uint8_t>(out.TransparentIndex);
        continue;
      }
      int rgb[3] = {static_cast<int>(c >> 16 & 0xFF), static_cast<int>(c >> 8 & 0xFF), static_cast<int>(c & 0xFF)};
      if (Dither == TDither::Ordered) {
        const int offset = (2 * kBayer4[y & 3][x & 3] - 15) * kOrderedSpread / 32;
        for (int& v : rgb) v = Clamp8(v + offset);
      } else if (Dither == TDither::FloydSteinberg) {
        for (int a = 0; a < 3; ++a) rgb[a] = Clamp8(rgb[a] + errorHere[(x + 1) * 3 + a] / 16);
      }
      const int index = nearest(rgb[0], rgb[1], rgb[2]);
      indices[x] = static_cast<std::uint8_t>(index);
      if (Dither == TDither::FloydSteinberg)
        for (int a = 0; a < 3; ++a) {
          const int error = rgb[a] - out.Palette[static_cast<std::size_t>(index)][a];
          errorHere[(x + 2) * 3 + a] += error * 7;
          errorNext[x * 3 + a] += error * 3;
          errorNext[(x + 1) * 3 + a] += error * 5;
          errorNext[(x + 2) * 3 + a] += error;
        }
    }
    if (Dither == TDither::FloydSteinberg) {
      errorHere.swap(errorNext);
      std::fill(errorNext.begin(), errorNext.end(), 0);
    }
  }
  return out;
}

}  // namespace quirlon::imagefiles
