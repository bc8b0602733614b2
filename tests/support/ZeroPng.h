#pragma once
// Picture bombs for the limit tests: an 8-bit grey PNG declaring Width x Height whose pixel stream
// holds Rows rows of zeros (all of them for a true bomb: a few kilobytes that inflate to Width x
// Rows bytes), compressed as far as zlib goes.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quirlon::testing {

inline void PutBigEndian32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift);
}

inline void PutPngChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  PutBigEndian32(out, static_cast<std::uint32_t>(
                          crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

inline std::string ZeroGreyPng(std::uint32_t Width, std::uint32_t Height, std::uint32_t Rows) {
  z_stream z{};
  deflateInit(&z, 9);
  const std::vector<Bytef> row(Width + 1, 0);
  std::string idat;
  std::vector<Bytef> buffer(1 << 16);
  for (std::uint32_t y = 0; y <= Rows; ++y) {
    z.next_in = const_cast<Bytef*>(row.data());
    z.avail_in = y < Rows ? static_cast<uInt>(row.size()) : 0;
    const int flush = y < Rows ? Z_NO_FLUSH : Z_FINISH;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, flush);
      idat.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  std::string header;
  PutBigEndian32(header, Width);
  PutBigEndian32(header, Height);
  header += std::string("\x08\0\0\0\0", 5);  // 8-bit grey, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  PutPngChunk(png, "IHDR", header);
  PutPngChunk(png, "IDAT", idat);
  PutPngChunk(png, "IEND", "");
  return png;
}

}  // namespace quirlon::testing
