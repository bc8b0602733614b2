#pragma once
// A PNG image held in memory, ready to be written: the header values, the ordered chunk list and
// the RGBA rows. Writing filters every row with Sub, compresses the rows into one zlib-format
// stream with libdeflate at the level the effort names, and cuts the stream into IDAT chunks of
// exactly kIdatChunkSize bytes, the last chunk carrying the rest.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::imagefiles {

inline constexpr std::size_t kIdatChunkSize = 65535;

// How hard the compressor works. Default is never larger than zlib's level 9 on our renders, in
// far less time; Fast trades about a tenth more bytes for speed; Small takes the smallest file
// libdeflate can make, at several times the time.
enum class TPngEffort : std::uint8_t { Fast, Default, Small };

// libdeflate's compression level for Effort over FilteredSize bytes of filtered rows: 4, 9 or 10
// (9 from 4 MiB up), and 12.
int DeflateLevelOf(TPngEffort Effort, std::size_t FilteredSize);

struct TPngChunk {
  std::array<char, 4> Type{};
  // The data of an ancillary chunk. IHDR, IDAT and IEND entries stand for the header, the image
  // data and the end; their bytes are made when the image is written.
  std::vector<std::uint8_t> Data;
  std::string_view TypeName() const { return std::string_view(Type.data(), Type.size()); }
};

TPngChunk MakePngChunk(std::string_view Type, std::vector<std::uint8_t> Data = {});

class TPngImage {
public:
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint8_t BitDepth = 8;
  std::uint8_t ColorType = 6;  // RGB with alpha
  std::uint8_t CompressionMethod = 0;
  std::uint8_t FilterMethod = 0;
  std::uint8_t InterlaceMethod = 0;  // 0 none, 1 Adam7
  TPngEffort Effort = TPngEffort::Default;
  // The rows are compressed a band of about 512 KiB at a time on one thread, without the level probe:
  // far less memory than the whole image's filtered rows and output room, for a fraction of a
  // percent more bytes (an animation's frames, which several workers compress at once).
  bool InBands = false;
  std::vector<TPngChunk> Chunks;     // in file order
  std::vector<std::uint8_t> Pixels;  // Height rows of 4 x Width bytes R, G, B, A, top row first
  // Or the rows are read from this bitmap while writing (Pixels then stays empty); the image must
  // not be written after the bitmap is gone or changed in size.
  const raster::TBitmap32* Bitmap = nullptr;

  // Puts Chunk directly after the first chunk of type After (at the end when there is none).
  void InsertChunkAfter(std::string_view After, TPngChunk Chunk);

  // Raises EInvalidGraphic when the image cannot be written: a zero width or height (a PNG cannot
  // hold an empty picture) or pixel data that does not match the size.
  void Validate() const;

  // Sends the whole PNG stream, signature first, to Sink in pieces; IDAT chunks are sent as soon
  // as they are full. Exceptions from Sink pass through; Validate runs first.
  using TSink = std::function<void(const std::uint8_t* Data, std::size_t Size)>;
  void Write(const TSink& Sink) const;
};

// Header (Source's size, 8 bits, colour type 6, methods 0, interlace 0 or 1 for Adam7), chunk
// list IHDR, IDAT, IEND, and for each pixel the R, G, B of the stored TColor32 unchanged with its
// alpha. The result reads Source's pixels when written (no copy is made): write it while Source
// lives.
TPngImage Bitmap32ToPng(const raster::TBitmap32& Source, TPngEffort Effort, bool Interlaced);

// What the IDAT chunks of Source's image carry: its rows filtered with Sub (no interlace) in one
// zlib stream, compressed at Effort's level in bands (InBands). Animation frames are made of this.
std::vector<std::uint8_t> CompressedPngRows(const raster::TBitmap32& Source, TPngEffort Effort);

// One chunk to Sink: length, Type, Data, CRC.
void WritePngChunk(const TPngImage::TSink& Sink, std::string_view Type, const std::uint8_t* Data, std::size_t Size);

}  // namespace quirlon::imagefiles
