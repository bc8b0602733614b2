// quirlon-pixeldiff: how far two pictures of one size differ, for checking that a change to the
// renderer leaves its output alone (or by how much it moves it).
//
//   quirlon-pixeldiff A B [A B ...]
// prints per pair the largest difference of any channel (alpha included), the number of pixels
// that differ and the mean absolute channel difference; exits 1 when a pair cannot be compared.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "imagefiles/Picture.h"
#include "raster/Bitmap32.h"

int main(int argc, char** argv) {
  if (argc < 3 || (argc - 1) % 2 != 0) {
    std::cerr << "usage: quirlon-pixeldiff A B [A B ...]\n";
    return 2;
  }
  int status = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    try {
      quirlon::raster::TBitmap32 a, b;
      quirlon::imagefiles::LoadFromFile(a, argv[i]);
      quirlon::imagefiles::LoadFromFile(b, argv[i + 1]);
      if (a.Width() != b.Width() || a.Height() != b.Height()) {
        std::cerr << argv[i] << " is " << a.Width() << " x " << a.Height() << ", " << argv[i + 1] << " is "
                  << b.Width() << " x " << b.Height() << '\n';
        status = 1;
        continue;
      }
      int largest = 0;
      std::int64_t differing = 0, total = 0;
      for (std::size_t p = 0; p < a.PixelCount(); ++p) {
        const std::uint32_t x = a.Bits()[p], y = b.Bits()[p];
        if (x != y) ++differing;
        for (int shift = 0; shift < 32; shift += 8) {
          const int d = std::abs(static_cast<int>((x >> shift) & 0xFF) - static_cast<int>((y >> shift) & 0xFF));
          largest = std::max(largest, d);
          total += d;
        }
      }
      std::printf("%s: largest %d, %lld of %zu pixels differ, mean %.4f\n", argv[i + 1], largest,
                  static_cast<long long>(differing), a.PixelCount(),
                  a.PixelCount() ? static_cast<double>(total) / (4.0 * a.PixelCount()) : 0.0);
    } catch (const std::exception& e) {
      std::cerr << "quirlon-pixeldiff: " << e.what() << '\n';
      status = 1;
    }
  }
  return status;
}
