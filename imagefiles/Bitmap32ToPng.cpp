#include "imagefiles/Bitmap32ToPng.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include <zlib.h>

#include "raster/Errors.h"
#include "raster/Parallel.h"

namespace quirlon::imagefiles {

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kFilterSub = 1;

void PutBigEndian32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void WriteChunk(const TPngImage::TSink& Sink, const std::array<char, 4>& Type, const std::uint8_t* Data, std::size_t Size) {
  std::uint8_t head[8];
  PutBigEndian32(head, static_cast<std::uint32_t>(Size));
  std::memcpy(head + 4, Type.data(), 4);
  uLong crc = crc32(0L, head + 4, 4);
  if (Size > 0) crc = crc32(crc, Data, static_cast<uInt>(Size));
  std::uint8_t tail[4];
  PutBigEndian32(tail, static_cast<std::uint32_t>(crc));
  Sink(head, sizeof head);
  if (Size > 0) Sink(Data, Size);
  Sink(tail, sizeof tail);
}

struct TDeflateEnd {
  void operator()(z_stream* s) const { deflateEnd(s); }
};

// One interlace pass: the pixels (XStart + i * XStep, YStart + j * YStep).
struct TPass {
  std::uint32_t XStart, YStart, XStep, YStep;
};
constexpr TPass kWholeImage[] = {{0, 0, 1, 1}};
constexpr TPass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// Every filtered row of the image in writing order: per interlace pass, per row, the filter byte
// and the Sub differences. Calls Row(bytes, size) for each.
template <class TRowSink>
void FilterRows(const TPngImage& Png, std::vector<std::uint8_t>& Scratch, const TRowSink& Row) {
  const std::size_t stride = static_cast<std::size_t>(Png.Width) * 4;
  Scratch.resize(1 + stride);
  Scratch[0] = kFilterSub;
  const bool interlaced = Png.InterlaceMethod == 1;
  const auto passes = interlaced ? std::begin(kAdam7) : std::begin(kWholeImage);
  const auto passesEnd = interlaced ? std::end(kAdam7) : std::end(kWholeImage);
  for (auto pass = passes; pass != passesEnd; ++pass) {
    if (pass->XStart >= Png.Width || pass->YStart >= Png.Height) continue;  // an empty pass has no rows
    const std::uint32_t passWidth = (Png.Width - pass->XStart + pass->XStep - 1) / pass->XStep;
    const std::size_t rowBytes = static_cast<std::size_t>(passWidth) * 4;
    for (std::uint32_t y = pass->YStart; y < Png.Height; y += pass->YStep) {
      const std::uint8_t* src = Png.Pixels.data() + y * stride;
      std::uint8_t* dst = Scratch.data() + 1;
      // Sub: each byte minus the byte one pixel to its left; the first pixel keeps its bytes.
      std::uint8_t left[4] = {0, 0, 0, 0};
      for (std::uint32_t x = pass->XStart; x < Png.Width; x += pass->XStep) {
        const std::uint8_t* p = src + static_cast<std::size_t>(x) * 4;
        for (int c = 0; c < 4; ++c) {
          *dst++ = static_cast<std::uint8_t>(p[c] - left[c]);
          left[c] = p[c];
        }
      }
      Row(Scratch.data(), 1 + rowBytes);
    }
  }
}

// Collects the zlib stream and sends it as IDAT chunks of exactly kIdatChunkSize bytes.
class TIdatWriter {
public:
  explicit TIdatWriter(const TPngImage::TSink& Sink) : fSink(Sink) { fChunk.reserve(kIdatChunkSize); }
  void Add(const std::uint8_t* Data, std::size_t Size) {
    while (Size > 0) {
      const std::size_t n = std::min(Size, kIdatChunkSize - fChunk.size());
      fChunk.insert(fChunk.end(), Data, Data + n);
      Data += n;
      Size -= n;
      if (fChunk.size() == kIdatChunkSize) Flush();
    }
  }
  void Finish() {
    if (!fChunk.empty()) Flush();
  }

private:
  void Flush() {
    WriteChunk(fSink, {'I', 'D', 'A', 'T'}, fChunk.data(), fChunk.size());
    fChunk.clear();
  }
  const TPngImage::TSink& fSink;
  std::vector<std::uint8_t> fChunk;
};

// The plain writer: every row through one deflate stream.
void WriteImageDataOneStream(const TPngImage& Png, const TPngImage::TSink& Sink) {
  z_stream stream{};
  if (deflateInit2(&stream, Png.CompressionLevel, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw EInvalidGraphic("Cannot start the PNG compressor");
  const std::unique_ptr<z_stream, TDeflateEnd> guard(&stream);
  const std::array<char, 4> idat{'I', 'D', 'A', 'T'};
  std::vector<std::uint8_t> out(kIdatChunkSize);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());

  auto feed = [&](const std::uint8_t* data, std::size_t size, int flush) {
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int result;
    do {
      result = deflate(&stream, flush);
      if (result == Z_STREAM_ERROR) throw EInvalidGraphic("PNG compression failed");
      if (stream.avail_out == 0) {
        WriteChunk(Sink, idat, out.data(), out.size());
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
      }
    } while (stream.avail_in > 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  };

  std::vector<std::uint8_t> row;
  FilterRows(Png, row, [&](const std::uint8_t* data, std::size_t size) { feed(data, size, Z_NO_FLUSH); });
  feed(nullptr, 0, Z_FINISH);
  const std::size_t rest = out.size() - stream.avail_out;
  if (rest > 0) WriteChunk(Sink, idat, out.data(), rest);
}

// Large images: the filtered rows cut into slices that two threads deflate at once. Each slice is a
// raw deflate stream primed with the 32 KiB before it as its dictionary and ended with a full
// flush (the last one with the final block), so the slices join into one zlib stream at the same
// level, window, memory level and strategy, with one Adler-32 over everything.
constexpr std::size_t kSliceSize = 512 << 10;  // a 800 x 600 picture makes four
constexpr std::size_t kWindow = 32768;

std::vector<std::uint8_t> DeflateSlice(const std::uint8_t* Data, std::size_t Begin, std::size_t End, bool Last,
                                       int Level, bool& Failed) {
  std::vector<std::uint8_t> out;
  z_stream s{};
  if (deflateInit2(&s, Level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    Failed = true;
    return out;
  }
  const std::unique_ptr<z_stream, TDeflateEnd> guard(&s);
  const std::size_t dictionary = std::min(Begin, kWindow);
  if (dictionary > 0 && deflateSetDictionary(&s, Data + Begin - dictionary, static_cast<uInt>(dictionary)) != Z_OK) {
    Failed = true;
    return out;
  }
  out.resize(deflateBound(&s, End - Begin) + 64);
  s.next_in = const_cast<Bytef*>(Data + Begin);
  s.avail_in = static_cast<uInt>(End - Begin);
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int flush = Last ? Z_FINISH : Z_FULL_FLUSH;
  for (;;) {
    const int result = deflate(&s, flush);
    if (result == Z_STREAM_ERROR) {
      Failed = true;
      break;
    }
    if (Last ? result == Z_STREAM_END : (s.avail_in == 0 && s.avail_out > 0)) break;
    if (s.avail_out == 0) {  // never with deflateBound's room, but stay correct
      const std::size_t used = out.size();
      out.resize(used * 2);
      s.next_out = out.data() + used;
      s.avail_out = static_cast<uInt>(out.size() - used);
    }
  }
  out.resize(out.size() - s.avail_out);
  return out;
}

// The two zlib header bytes deflateInit2 writes for Level with a 32 KiB window.
void PutZlibHeader(std::uint8_t* p, int Level) {
  if (Level == Z_DEFAULT_COMPRESSION) Level = 6;
  const unsigned levelFlags = Level < 2 ? 0 : Level < 6 ? 1 : Level == 6 ? 2 : 3;
  unsigned header = (Z_DEFLATED + ((15 - 8) << 4)) << 8 | levelFlags << 6;
  header += 31 - header % 31;
  p[0] = static_cast<std::uint8_t>(header >> 8);
  p[1] = static_cast<std::uint8_t>(header);
}

void WriteImageDataSliced(const TPngImage& Png, const TPngImage::TSink& Sink, std::size_t FilteredSize) {
  std::vector<std::uint8_t> data;
  data.reserve(FilteredSize);
  std::vector<std::uint8_t> row;
  FilterRows(Png, row,
             [&](const std::uint8_t* bytes, std::size_t size) { data.insert(data.end(), bytes, bytes + size); });

  const std::size_t slices = (data.size() + kSliceSize - 1) / kSliceSize;
  std::vector<std::vector<std::uint8_t>> compressed(slices);
  std::vector<uLong> adlers(slices);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < slices;) {
      const std::size_t begin = i * kSliceSize, end = std::min(data.size(), begin + kSliceSize);
      bool sliceFailed = false;
      compressed[i] = DeflateSlice(data.data(), begin, end, i + 1 == slices, Png.CompressionLevel, sliceFailed);
      adlers[i] = adler32(adler32(0L, Z_NULL, 0), data.data() + begin, static_cast<uInt>(end - begin));
      if (sliceFailed) failed = true;
    }
  };
  {
    std::thread helper(work);
    work();
    helper.join();
  }
  if (failed) throw EInvalidGraphic("PNG compression failed");

  uLong adler = adler32(0L, Z_NULL, 0);
  for (std::size_t i = 0; i < slices; ++i) {
    const std::size_t length = std::min(data.size(), (i + 1) * kSliceSize) - i * kSliceSize;
    adler = adler32_combine(adler, adlers[i], static_cast<z_off_t>(length));
  }
  TIdatWriter idat(Sink);
  std::uint8_t header[2];
  PutZlibHeader(header, Png.CompressionLevel);
  idat.Add(header, 2);
  for (const auto& c : compressed) idat.Add(c.data(), c.size());
  std::uint8_t trailer[4];
  PutBigEndian32(trailer, static_cast<std::uint32_t>(adler));
  idat.Add(trailer, 4);
  idat.Finish();
}

// Deflates the filtered rows and sends them as IDAT chunks of kIdatChunkSize bytes. Images of
// under two slices, and single-core machines, take the plain one-stream path.
void WriteImageData(const TPngImage& Png, const TPngImage::TSink& Sink) {
  const std::size_t filtered = static_cast<std::size_t>(Png.Height) * (1 + static_cast<std::size_t>(Png.Width) * 4);
  if (filtered >= 2 * kSliceSize && raster::PixelThreadCount() >= 2 && Png.InterlaceMethod == 0)
    WriteImageDataSliced(Png, Sink, filtered);
  else
    WriteImageDataOneStream(Png, Sink);
}

}  // namespace

TPngChunk MakePngChunk(std::string_view Type, std::vector<std::uint8_t> Data) {
  TPngChunk chunk;
  std::copy_n(Type.data(), std::min<std::size_t>(Type.size(), 4), chunk.Type.begin());
  chunk.Data = std::move(Data);
  return chunk;
}

void TPngImage::InsertChunkAfter(std::string_view After, TPngChunk Chunk) {
  auto it = std::find_if(Chunks.begin(), Chunks.end(), [&](const TPngChunk& c) { return c.TypeName() == After; });
  Chunks.insert(it == Chunks.end() ? it : it + 1, std::move(Chunk));
}

void TPngImage::Validate() const {
  if (Width == 0) throw EInvalidGraphic("Image width is zero in IHDR");
  if (Height == 0) throw EInvalidGraphic("Image height is zero in IHDR");
  if (Pixels.size() != static_cast<std::size_t>(Width) * Height * 4) throw EInvalidGraphic("PNG pixel data does not match the header");
}

void TPngImage::Write(const TSink& Sink) const {
  Validate();
  Sink(kSignature, sizeof kSignature);
  for (const TPngChunk& chunk : Chunks) {
    const std::string_view type = chunk.TypeName();
    if (type == "IHDR") {
      std::uint8_t header[13];
      PutBigEndian32(header, Width);
      PutBigEndian32(header + 4, Height);
      header[8] = BitDepth;
      header[9] = ColorType;
      header[10] = CompressionMethod;
      header[11] = FilterMethod;
      header[12] = InterlaceMethod;
      WriteChunk(Sink, chunk.Type, header, sizeof header);
    } else if (type == "IDAT") {
      WriteImageData(*this, Sink);
    } else {
      WriteChunk(Sink, chunk.Type, chunk.Data.data(), chunk.Data.size());
    }
  }
}

TPngImage Bitmap32ToPng(const raster::TBitmap32& Source, int CompressionLevel, bool Interlaced) {
  TPngImage png;
  png.Width = static_cast<std::uint32_t>(Source.Width());
  png.Height = static_cast<std::uint32_t>(Source.Height());
  png.InterlaceMethod = Interlaced ? 1 : 0;
  png.CompressionLevel = CompressionLevel;
  png.Chunks = {MakePngChunk("IHDR"), MakePngChunk("IDAT"), MakePngChunk("IEND")};
  png.Pixels.resize(static_cast<std::size_t>(png.Width) * png.Height * 4);
  std::uint8_t* dst = png.Pixels.data();
  for (std::int32_t y = 0; y < Source.Height(); ++y) {
    const raster::TColor32* src = Source.ScanLine(y);
    for (std::int32_t x = 0; x < Source.Width(); ++x) {
      const raster::TColor32 c = src[x];
      *dst++ = static_cast<std::uint8_t>(c >> 16);
      *dst++ = static_cast<std::uint8_t>(c >> 8);
      *dst++ = static_cast<std::uint8_t>(c);
      *dst++ = static_cast<std::uint8_t>(c >> 24);
    }
  }
  return png;
}

}  // namespace quirlon::imagefiles
