#include "imagefiles/Bitmap32ToPng.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <initializer_list>
#include <memory>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

#include "raster/Errors.h"
#include "raster/Parallel.h"
#include "raster/PixelStore.h"

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
      std::uint8_t* dst = Scratch.data() + 1;
      // Sub: each byte minus the byte one pixel to its left; the first pixel keeps its bytes.
      std::uint8_t left[4] = {0, 0, 0, 0};
      if (Png.Bitmap != nullptr) {
        const raster::TColor32* src = Png.Bitmap->ScanLine(static_cast<std::int32_t>(y));
        for (std::uint32_t x = pass->XStart; x < Png.Width; x += pass->XStep) {
          const raster::TColor32 c = src[x];
          const std::uint8_t p[4] = {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                     static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 24)};
          for (int k = 0; k < 4; ++k) {
            *dst++ = static_cast<std::uint8_t>(p[k] - left[k]);
            left[k] = p[k];
          }
        }
      } else {
        const std::uint8_t* src = Png.Pixels.data() + y * stride;
        for (std::uint32_t x = pass->XStart; x < Png.Width; x += pass->XStep) {
          const std::uint8_t* p = src + static_cast<std::size_t>(x) * 4;
          for (int k = 0; k < 4; ++k) {
            *dst++ = static_cast<std::uint8_t>(p[k] - left[k]);
            left[k] = p[k];
          }
        }
      }
      Row(Scratch.data(), 1 + rowBytes);
    }
  }
}


// libdeflate's compressors take 0.2 to 9 MB each, one a thread, and touch most of it: in small pages
// of the heap that was 330 faults for an 800 x 600 save at level 7, about 3.5 ms of system time on
// our virtual machines. Its memory comes from huge pages instead: the shared small-block page when
// it has room (the 0.65 MB of the levels up to 9 then add nothing to what is resident), otherwise a
// huge page of its own, which a save takes from the blocks its render let go. Compressors of
// animation frames (Lean) fall back to the heap instead: the turntable's other worker is rendering
// meanwhile, and a huge page each was 2 MB more at the turn's peak. Set before main runs, so every
// libdeflate block of the process (libtiff's too) is freed by the same functions.
namespace deflatememory {

constexpr std::size_t kHeader = 64;  // holds the size and the kind; keeps libdeflate's blocks 64-byte aligned
constexpr std::size_t kHugeFrom = std::size_t{256} << 10;
constexpr std::size_t kHugeHeapTo = std::size_t{1} << 20;  // from here on always a huge page
thread_local bool tLean = false;

enum class TKind : std::size_t { Heap, Shared, Huge };

void* Allocate(std::size_t Bytes) {
  const std::size_t total = Bytes + kHeader;
  void* block = nullptr;
  TKind kind = TKind::Heap;
  if (total >= kHugeFrom) {
    kind = TKind::Shared;
    block = raster::AllocateScratchInArena(total);
    if (block == nullptr && tLean && total < kHugeHeapTo) {
      kind = TKind::Heap;
      block = std::malloc(total);
      if (block == nullptr) return nullptr;
    } else if (block == nullptr) {
      kind = TKind::Huge;
      try {
        block = raster::AllocateZeroedHuge(total);
      } catch (const std::bad_alloc&) {
        return nullptr;  // libdeflate reports it as a failed allocation
      }
    }
  } else {
    block = std::malloc(total);
    if (block == nullptr) return nullptr;
  }
  std::memcpy(block, &total, sizeof total);
  std::memcpy(static_cast<std::uint8_t*>(block) + sizeof total, &kind, sizeof kind);
  return static_cast<std::uint8_t*>(block) + kHeader;
}

void Release(void* Memory) {
  if (Memory == nullptr) return;
  void* block = static_cast<std::uint8_t*>(Memory) - kHeader;
  std::size_t total = 0;
  TKind kind = TKind::Heap;
  std::memcpy(&total, block, sizeof total);
  std::memcpy(&kind, static_cast<std::uint8_t*>(block) + sizeof total, sizeof kind);
  switch (kind) {
    case TKind::Heap: std::free(block); break;
    case TKind::Shared: raster::ReleaseScratch(block, total); break;
    case TKind::Huge: raster::ReleaseZeroedHuge(block, total); break;
  }
}

const bool kInstalled = [] {
  libdeflate_set_memory_allocator(Allocate, Release);
  return true;
}();

}  // namespace deflatememory

struct TCompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
using TCompressor = std::unique_ptr<libdeflate_compressor, TCompressorFree>;

TCompressor NewCompressor(int Level, bool Lean = false) {
  deflatememory::tLean = Lean;
  TCompressor c(libdeflate_alloc_compressor(Level));
  deflatememory::tLean = false;
  if (!c) throw EInvalidGraphic("Cannot start the PNG compressor");
  return c;
}

// Canvas-sized, so taken from the pixel stores: huge pages where the system has them, and the block
// is kept for the next save instead of being faulted in again.
using TFilteredRows = std::vector<std::uint8_t, raster::TZeroedAllocator<std::uint8_t>>;

// The bytes of all the filtered rows.
std::size_t FilteredSize(const TPngImage& Png) {
  std::size_t size = 0;
  const bool interlaced = Png.InterlaceMethod == 1;
  for (auto pass = interlaced ? std::begin(kAdam7) : std::begin(kWholeImage);
       pass != (interlaced ? std::end(kAdam7) : std::end(kWholeImage)); ++pass) {
    if (pass->XStart >= Png.Width || pass->YStart >= Png.Height) continue;
    const std::size_t passWidth = (Png.Width - pass->XStart + pass->XStep - 1) / pass->XStep;
    const std::size_t rows = (Png.Height - pass->YStart + pass->YStep - 1) / pass->YStep;
    size += rows * (1 + passWidth * 4);
  }
  return size;
}

TFilteredRows AllFilteredRows(const TPngImage& Png) {
  TFilteredRows data;
  std::vector<std::uint8_t> row;
  data.resize(FilteredSize(Png));
  std::size_t at = 0;
  FilterRows(Png, row, [&](const std::uint8_t* bytes, std::size_t count) {
    std::memcpy(data.data() + at, bytes, count);
    at += count;
  });
  return data;
}

// Large images are cut into slices that two threads compress at once. libdeflate has no preset
// dictionary and always ends its output with a final block, so each slice is compressed on its own
// (losing only the 32 KiB of history at each cut: 0.2-0.4 % at 2 MiB slices, measured) and every
// slice but the last is made to continue: its final-block bit is cleared and an empty stored block
// brings the stream back to a byte boundary. The pieces then join into one zlib stream.
constexpr std::size_t kSliceSize = 2 << 20;
constexpr std::size_t kSmallestSliced = 1 << 20;  // below this one thread is quicker than two

std::size_t SliceCount(std::size_t FilteredSize) {
  if (FilteredSize < kSmallestSliced || raster::PixelThreadCount() < 2) return 1;
  return std::max<std::size_t>(2, (FilteredSize + kSliceSize / 2) / kSliceSize);
}

// Where the last block of a raw deflate stream starts and where the stream ends, in bits from its
// first byte; zlib's inflate reports each block boundary when asked to stop at blocks.
bool FindFinalBlock(const std::uint8_t* Data, std::size_t Size, std::uint64_t& FinalHeaderBit, std::uint64_t& EndBit) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return false;
  struct TInflateEnd {
    void operator()(z_stream* z) const { inflateEnd(z); }
  };
  const std::unique_ptr<z_stream, TInflateEnd> guard(&s);
  std::uint8_t scratch[1 << 15];  // inflate keeps its own window, so the output may be thrown away
  s.next_in = const_cast<Bytef*>(Data);
  s.avail_in = static_cast<uInt>(Size);
  FinalHeaderBit = 0;
  for (;;) {
    s.next_out = scratch;
    s.avail_out = sizeof scratch;
    const int result = inflate(&s, Z_BLOCK);
    if (result != Z_OK) return false;  // the end is seen before inflate would report it
    if ((s.data_type & 128) == 0) continue;  // not at a block boundary: the output was full
    // Just after an end-of-block code; 64 says that block was the last.
    const std::uint64_t bitsRead = static_cast<std::uint64_t>(s.total_in) * 8 - (s.data_type & 7);
    if (s.data_type & 64) {
      EndBit = bitsRead;
      return true;
    }
    FinalHeaderBit = bitsRead;
  }
}

// Room for a compressor's worst case, left unwritten: the output touches only its real size of it.
// From the pixel stores' scratch memory, in huge pages where a heap block faulted in small ones.
struct TScratchFree {
  std::size_t Bytes = 0;
  void operator()(std::uint8_t* Block) const noexcept { raster::ReleaseScratch(Block, Bytes); }
};
using TOutputRoom = std::unique_ptr<std::uint8_t[], TScratchFree>;

TOutputRoom OutputRoom(std::size_t Bytes) {
  return TOutputRoom(static_cast<std::uint8_t*>(raster::AllocateScratch(Bytes)), TScratchFree{Bytes});
}
struct TPiece {
  TOutputRoom Bytes;
  std::size_t Size = 0;
};
// A zlib stream in the pieces the compressors left it in (header, deflate slices, Adler-32), sent
// on as they are: gathered into one buffer they would be copied twice more, into fresh memory.
struct TZlibPieces {
  std::vector<TPiece> Pieces;
  std::size_t Size() const {
    std::size_t total = 0;
    for (const TPiece& p : Pieces) total += p.Size;
    return total;
  }
};

TPiece SmallPiece(std::initializer_list<std::uint8_t> Bytes) {
  TPiece p{OutputRoom(Bytes.size()), Bytes.size()};
  std::copy(Bytes.begin(), Bytes.end(), p.Bytes.get());
  return p;
}

// Turns a complete raw deflate stream into one that goes on: see kSliceSize. Stream has room for
// five more bytes.
bool MakeContinuing(TPiece& Stream) {
  std::uint64_t finalHeader = 0, end = 0;
  std::uint8_t* const data = Stream.Bytes.get();
  if (!FindFinalBlock(data, Stream.Size, finalHeader, end)) return false;
  data[finalHeader / 8] &= static_cast<std::uint8_t>(~(1u << (finalHeader % 8)));
  const unsigned usedInLastByte = static_cast<unsigned>(end % 8);
  Stream.Size = static_cast<std::size_t>((end + 7) / 8);
  if (usedInLastByte != 0) data[Stream.Size - 1] &= static_cast<std::uint8_t>((1u << usedInLastByte) - 1);
  // The stored block's three header bits (not final, type 0) are zero: they fit in the padding of
  // the last byte when it has three free bits, otherwise they take one more byte.
  if (usedInLastByte == 0 || usedInLastByte > 5) data[Stream.Size++] = 0;
  for (const std::uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) data[Stream.Size++] = b;
  return true;
}

// The two zlib header bytes libdeflate writes for Level: a 32 KiB window and its level class.
void PutZlibHeader(std::uint8_t* p, int Level) {
  const unsigned levelClass = Level < 2 ? 0 : Level < 6 ? 1 : Level == 6 ? 2 : 3;
  unsigned header = 0x7800u | levelClass << 6;
  header += 31 - header % 31;
  p[0] = static_cast<std::uint8_t>(header >> 8);
  p[1] = static_cast<std::uint8_t>(header);
}


TZlibPieces CompressOneStream(const TFilteredRows& Data, int Level) {
  const TCompressor compressor = NewCompressor(Level);
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), Data.size());
  TPiece stream{OutputRoom(bound), 0};
  stream.Size = libdeflate_zlib_compress(compressor.get(), Data.data(), Data.size(), stream.Bytes.get(), bound);
  if (stream.Size == 0) throw EInvalidGraphic("PNG compression failed");
  TZlibPieces out;
  out.Pieces.push_back(std::move(stream));
  return out;
}

TZlibPieces CompressSlices(const TFilteredRows& Data, int Level, std::size_t Slices) {
  const std::size_t sliceSize = (Data.size() + Slices - 1) / Slices;
  TZlibPieces out;
  out.Pieces.resize(Slices + 2);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() noexcept {
    try {
      const TCompressor compressor = NewCompressor(Level);
      for (std::size_t i; (i = next.fetch_add(1)) < Slices;) {
        const std::size_t begin = i * sliceSize, length = std::min(Data.size() - begin, sliceSize);
        TPiece& piece = out.Pieces[i + 1];
        const std::size_t bound = libdeflate_deflate_compress_bound(compressor.get(), length);
        piece.Bytes = OutputRoom(bound + 8);  // MakeContinuing adds up to 5 bytes
        piece.Size = libdeflate_deflate_compress(compressor.get(), Data.data() + begin, length, piece.Bytes.get(), bound);
        if (piece.Size == 0 || (i + 1 < Slices && !MakeContinuing(piece))) failed = true;
      }
    } catch (...) {
      failed = true;
    }
  };
  {
    raster::THelperTask helper(work);
    work();
    helper.Wait();
  }
  if (failed) throw EInvalidGraphic("PNG compression failed");
  std::uint8_t header[2];
  PutZlibHeader(header, Level);
  out.Pieces.front() = SmallPiece({header[0], header[1]});
  std::uint8_t adler[4];
  PutBigEndian32(adler, libdeflate_adler32(1, Data.data(), Data.size()));
  out.Pieces.back() = SmallPiece({adler[0], adler[1], adler[2], adler[3]});
  return out;
}

TZlibPieces CompressAt(const TFilteredRows& Data, int Level) {
  const std::size_t slices = SliceCount(Data.size());
  return slices > 1 ? CompressSlices(Data, Level, slices) : CompressOneStream(Data, Level);
}

// Photographs and noisy art gain almost nothing from near-optimal parsing: on them libdeflate's
// lazy level 7 is already 0.6-8 % smaller than zlib's level 9, in a fifth to a tenth of the time of
// levels 9-10. Flat renders (the usual box shot on a plain page) are where those levels pay, and
// there level 7 is up to 4 % larger than zlib's 9. Level 7 over the rows tells the two apart by how
// far they shrank: measured on the bundled templates at three sizes and on noisy art, level 7 was
// never larger than zlib's 9 at ratios up to 8.6 and always larger from 10 up; below 1 MiB of rows
// it was larger on all of them, and the slower levels cost little there anyway.
constexpr std::size_t kSmallestProbed = 1 << 20;
constexpr int kLevelProbe = 7;
constexpr double kBusyRatio = 7.5;  // raw / compressed at or below this: keep the level-7 stream

// Rows filtered and compressed a band at a time, the bands joined as the slices are: an animation's
// frame then needs a band of filtered rows and one room for its output besides the frame, where the
// whole image took two more canvases of memory (the filtered rows and the compressor's room) on
// each worker. One thread, no level probe; the cuts cost as the slices' do.
constexpr std::size_t kBandBytes = 256 << 10;

TZlibPieces CompressedRowsInBands(const TPngImage& Png) {
  const std::size_t total = FilteredSize(Png);
  const int level = DeflateLevelOf(Png.Effort, total);
  const TCompressor compressor = NewCompressor(level, true);
  TZlibPieces out;
  std::uint8_t header[2];
  PutZlibHeader(header, level);
  out.Pieces.push_back(SmallPiece({header[0], header[1]}));
  std::vector<std::uint8_t, raster::TScratchAllocator<std::uint8_t>> band;
  band.reserve(std::min<std::size_t>(total, kBandBytes + 1 + std::size_t{Png.Width} * 4));
  TOutputRoom room;  // serves every band: only the compressed bytes are kept
  std::size_t roomBytes = 0;
  std::uint32_t adler = 1;
  auto compressBand = [&](bool Last) {
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor.get(), band.size());
    if (roomBytes < bound) {
      room = OutputRoom(bound);
      roomBytes = bound;
    }
    const std::size_t size = libdeflate_deflate_compress(compressor.get(), band.data(), band.size(), room.get(), bound);
    if (size == 0) throw EInvalidGraphic("PNG compression failed");
    TPiece piece{OutputRoom(size + 5), size};  // MakeContinuing adds up to 5 bytes
    std::memcpy(piece.Bytes.get(), room.get(), size);
    if (!Last && !MakeContinuing(piece)) throw EInvalidGraphic("PNG compression failed");
    out.Pieces.push_back(std::move(piece));
    adler = libdeflate_adler32(adler, band.data(), band.size());
    band.clear();
  };
  std::vector<std::uint8_t> row;
  FilterRows(Png, row, [&](const std::uint8_t* bytes, std::size_t count) {
    if (!band.empty() && band.size() + count > kBandBytes) compressBand(false);
    band.insert(band.end(), bytes, bytes + count);
  });
  compressBand(true);
  std::uint8_t sum[4];
  PutBigEndian32(sum, adler);
  out.Pieces.push_back(SmallPiece({sum[0], sum[1], sum[2], sum[3]}));
  return out;
}

TZlibPieces CompressedRows(const TPngImage& Png) {
  if (Png.InBands) return CompressedRowsInBands(Png);
  const TFilteredRows data = AllFilteredRows(Png);
  if (Png.Effort == TPngEffort::Default && data.size() >= kSmallestProbed) {
    TZlibPieces probe = CompressAt(data, kLevelProbe);
    if (static_cast<double>(data.size()) <= kBusyRatio * static_cast<double>(probe.Size())) return probe;
  }
  return CompressAt(data, DeflateLevelOf(Png.Effort, data.size()));
}

// Deflates the filtered rows and sends them as IDAT chunks of exactly kIdatChunkSize bytes, the
// last one carrying the rest. A chunk's data go to the sink straight from the pieces, a chunk that
// spans two pieces in two calls.
void WriteImageData(const TPngImage& Png, const TPngImage::TSink& Sink) {
  const TZlibPieces stream = CompressedRows(Png);
  std::size_t left = stream.Size();
  std::size_t piece = 0, offset = 0;  // the next byte to send
  while (left > 0) {
    const std::size_t chunk = std::min(left, kIdatChunkSize);
    std::uint8_t head[8];
    PutBigEndian32(head, static_cast<std::uint32_t>(chunk));
    std::memcpy(head + 4, "IDAT", 4);
    uLong crc = crc32(0L, head + 4, 4);
    Sink(head, sizeof head);
    for (std::size_t need = chunk; need > 0;) {
      const TPiece& p = stream.Pieces[piece];
      const std::size_t n = std::min(need, p.Size - offset);
      crc = crc32(crc, p.Bytes.get() + offset, static_cast<uInt>(n));
      Sink(p.Bytes.get() + offset, n);
      need -= n;
      offset += n;
      if (offset == p.Size) ++piece, offset = 0;
    }
    std::uint8_t tail[4];
    PutBigEndian32(tail, static_cast<std::uint32_t>(crc));
    Sink(tail, sizeof tail);
    left -= chunk;
  }
}

}  // namespace

int DeflateLevelOf(TPngEffort Effort, std::size_t FilteredSize) {
  // Measured on every bundled template at 97 x 61, 800 x 600 and 1601 x 1203 and on the benchmark
  // scene at 2048 x 1536, against zlib's level 9 over the same rows: level 9 is 0.4-7 % smaller on
  // every picture of 4 MiB of rows or more, in 2.5-3.5 times less time than level 10, but up to
  // 1 % larger on a few smaller, flat renders; there 10 (the first near-optimal level, 4-9 %
  // smaller everywhere) costs little. Level 4 (greedy parsing) is 8-17 % larger in a tenth of the
  // time of 10.
  constexpr std::size_t kLargeRows = 4 << 20;
  switch (Effort) {
    case TPngEffort::Fast: return 4;
    case TPngEffort::Small: return 12;
    case TPngEffort::Default: break;
  }
  // Thumbnails (under 256 KiB of rows) take the highest level: it costs a few milliseconds there,
  // and level 10 was 9 bytes larger than zlib's 9 on a crisp-edged tile at 97 x 61.
  constexpr std::size_t kThumbnailRows = 256 << 10;
  if (FilteredSize < kThumbnailRows) return 12;
  return FilteredSize >= kLargeRows ? 9 : 10;
}

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
  const bool matches = Bitmap != nullptr ? Pixels.empty() && static_cast<std::uint32_t>(Bitmap->Width()) == Width &&
                                               static_cast<std::uint32_t>(Bitmap->Height()) == Height
                                         : Pixels.size() == static_cast<std::size_t>(Width) * Height * 4;
  if (!matches) throw EInvalidGraphic("PNG pixel data does not match the header");
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

TPngImage Bitmap32ToPng(const raster::TBitmap32& Source, TPngEffort Effort, bool Interlaced) {
  TPngImage png;
  png.Width = static_cast<std::uint32_t>(Source.Width());
  png.Height = static_cast<std::uint32_t>(Source.Height());
  png.InterlaceMethod = Interlaced ? 1 : 0;
  png.Effort = Effort;
  png.Chunks = {MakePngChunk("IHDR"), MakePngChunk("IDAT"), MakePngChunk("IEND")};
  png.Bitmap = &Source;  // read while writing: no copy of the canvas
  return png;
}

namespace {

std::vector<std::uint8_t> JoinedPieces(const TZlibPieces& Pieces) {
  std::vector<std::uint8_t> stream;
  stream.reserve(Pieces.Size());
  for (const TPiece& piece : Pieces.Pieces) stream.insert(stream.end(), piece.Bytes.get(), piece.Bytes.get() + piece.Size);
  return stream;
}

}  // namespace

std::vector<std::uint8_t> CompressedPngRows(const raster::TBitmap32& Source, TPngEffort Effort) {
  TPngImage png = Bitmap32ToPng(Source, Effort, false);
  png.InBands = true;
  png.Validate();
  return JoinedPieces(CompressedRows(png));
}

void WritePngChunk(const TPngImage::TSink& Sink, std::string_view Type, const std::uint8_t* Data, std::size_t Size) {
  WriteChunk(Sink, MakePngChunk(Type).Type, Data, Size);
}

}  // namespace quirlon::imagefiles
