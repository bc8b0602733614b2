// PNG through libpng. Every picture keeps its transparency: alpha channels stay straight alpha, a
// tRNS colour makes exactly the pixels with that sample value transparent (compared at the file's
// own bit depth), palette transparency is kept. 16-bit samples keep their high byte; gAMA and
// colour profiles are not applied; interlaced files are loaded whole.
//
// libpng reports errors by longjmp; as for JPEG, every libpng call runs in a step function without
// destructible locals under one setjmp, and the error becomes an exception afterwards.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <png.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr png_alloc_size_t kMaxChunkBytes = 8u * 1024 * 1024;  // ancillary chunks claiming more are dropped

struct TJob {
  png_structp Png;
  png_infop Info;
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t Position;
  png_uint_32 Width, Height;
  int BitDepth, ColorType;
  bool HasAlpha;           // alpha channel or tRNS
  png_bytep* RowPointers;  // Height rows of Width * 4 bytes
  char Error[200];         // libpng's words for what stopped it
};

extern "C" void PngRead(png_structp png, png_bytep out, png_size_t length) {
  auto* job = static_cast<TJob*>(png_get_io_ptr(png));
  if (job->Size - job->Position < length) png_error(png, "the file ends before the picture data does");
  if (length == 0) return;
  std::memcpy(out, job->Data + job->Position, length);
  job->Position += length;
}

extern "C" void PngError(png_structp png, png_const_charp message) {
  if (auto* job = static_cast<TJob*>(png_get_error_ptr(png)); job && message)
    std::snprintf(job->Error, sizeof job->Error, "%s", message);
  png_longjmp(png, 1);
}
extern "C" void PngWarning(png_structp, png_const_charp) {}

void CreateStep(TJob* job) {
  job->Info = png_create_info_struct(job->Png);
  if (!job->Info) png_error(job->Png, "out of memory");
}

void ReadInfoStep(TJob* job) {
  png_structp png = job->Png;
  png_infop info = job->Info;
  png_set_read_fn(png, job, PngRead);
  // We check the size ourselves (with our own message) before any pixel memory is taken.
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_read_info(png, info);
  job->Width = png_get_image_width(png, info);
  job->Height = png_get_image_height(png, info);
  job->BitDepth = png_get_bit_depth(png, info);
  job->ColorType = png_get_color_type(png, info);
  job->HasAlpha = (job->ColorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
}

void DecodeStep(TJob* job) {
  png_structp png = job->Png;
  png_infop info = job->Info;
  png_set_expand(png);  // palette to RGB, low bit depths to 8, tRNS to alpha
  if (job->BitDepth == 16) png_set_strip_16(png);
  if ((job->ColorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(job->Width) * 4) png_error(png, "the rows have an unexpected size");
  png_read_image(png, job->RowPointers);
  png_read_end(png, nullptr);
}

// Every chunk must fit in the file: libpng would otherwise allocate (and clear) what a lying
// length field claims before it finds the data missing.
bool ChunksFit(std::span<const std::uint8_t> d) {
  std::size_t at = 8;
  while (d.size() - at >= 12) {
    const std::size_t length = (std::size_t{d[at]} << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
    if (length > d.size() - at - 12) return false;
    if (std::memcmp(&d[at + 4], "IEND", 4) == 0) return true;
    at += 12 + length;
  }
  return at == d.size();
}

bool Guarded(TJob* job, void (*step)(TJob*)) {
  if (setjmp(png_jmpbuf(job->Png))) return false;
  step(job);
  return true;
}

}  // namespace

TGraphic DecodePng(std::span<const std::uint8_t> Data) {
  TJob job{};
  auto fail = [&job]() -> TGraphic { Refuse(job.Error, Format(kInvalidImageFormat, "PNG")); };
  auto failWith = [&](const char* reason) -> TGraphic {
    std::snprintf(job.Error, sizeof job.Error, "%s", reason);
    return fail();
  };
  if (Data.size() < 8 || png_sig_cmp(Data.data(), 0, 8) != 0) return failWith("the file does not start with the PNG signature");
  if (!ChunksFit(Data)) return failWith("a chunk runs past the end of the file");
  // The size is refused from the header alone, whatever follows it.
  if (Data.size() >= 24 && std::memcmp(&Data[12], "IHDR", 4) == 0) {
    auto be32 = [&](std::size_t at) {
      return (std::uint32_t{Data[at]} << 24) | (Data[at + 1] << 16) | (Data[at + 2] << 8) | Data[at + 3];
    };
    CheckPictureSize(be32(16), be32(20));
  }
  job.Data = Data.data();
  job.Size = Data.size();
  job.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, PngError, PngWarning);
  if (!job.Png) return failWith("out of memory");
  auto destroy = [](TJob* j) { png_destroy_read_struct(&j->Png, j->Info ? &j->Info : nullptr, nullptr); };
  const std::unique_ptr<TJob, decltype(destroy)> handle(&job, destroy);
  if (!Guarded(&job, CreateStep) || !Guarded(&job, ReadInfoStep)) return fail();

  CheckPictureSize(job.Width, job.Height);
  TGraphic g;
  g.Kind = pkBitmap;
  g.Width = static_cast<std::int32_t>(job.Width);
  g.Height = static_cast<std::int32_t>(job.Height);
  g.PixelFormat = job.HasAlpha ? pf32bit : (job.ColorType == PNG_COLOR_TYPE_PALETTE ? pf8bit : pf24bit);
  g.AssignsUnchanged = true;  // every pixel is written with its alpha (255 where the file has none)
  // Decoded as R, G, B, A bytes straight into the pixel store, then swapped in place.
  g.Pixels.resize(static_cast<std::size_t>(g.Width) * g.Height);
  std::vector<png_bytep> rows(job.Height);
  for (png_uint_32 y = 0; y < job.Height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(g.Pixels.data() + static_cast<std::size_t>(y) * job.Width);
  job.RowPointers = rows.data();
  if (!Guarded(&job, DecodeStep)) return fail();
  for (TColor32& p : g.Pixels) {
    std::uint8_t b[4];
    std::memcpy(b, &p, 4);
    p = raster::Color32(b[0], b[1], b[2], b[3]);
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
