#include "imagefiles/OutputWriters.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/SafeFile.h"
#include "raster/Errors.h"
#include "raster/Numeric.h"

namespace quirlon::imagefiles {

using raster::TBitmap32;
using raster::TColor32;

std::int32_t DpiToPixelsPerMeter(std::int32_t Dpi) {
  const Extended product = static_cast<Extended>(Dpi) * 39.3700787L;
  return Ceil(product);
}

std::string OutputExtension(const std::string& FileName) {
  const std::size_t slash = FileName.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = FileName.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return "";
  std::string ext = FileName.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

TOutputFormat OutputFormatOf(const std::string& FileName) {
  const std::string ext = OutputExtension(FileName);
  if (ext == ".png") return ofPng;
  if (ext == ".jpg") return ofJpg;
  return ofBmp;
}

namespace {

void PutLittleEndian32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const TBitmap32& Bitmap, std::int32_t Dpi) {
  const std::uint32_t ppm = static_cast<std::uint32_t>(DpiToPixelsPerMeter(Dpi));
  const std::uint64_t width = static_cast<std::uint64_t>(Bitmap.Width());
  const std::uint64_t height = static_cast<std::uint64_t>(Bitmap.Height());
  const std::uint64_t imageSize = 4 * width * height;
  if (54 + imageSize > 0xFFFFFFFFull) throw EInvalidGraphic("Picture too large for a BMP file");
  std::vector<std::uint8_t> file(static_cast<std::size_t>(54 + imageSize));
  std::uint8_t* h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  PutLittleEndian32(h + 2, static_cast<std::uint32_t>(54 + imageSize));
  PutLittleEndian32(h + 10, 54);
  PutLittleEndian32(h + 14, 40);
  PutLittleEndian32(h + 18, static_cast<std::uint32_t>(width));
  PutLittleEndian32(h + 22, static_cast<std::uint32_t>(height));
  h[26] = 1;
  h[28] = 32;
  PutLittleEndian32(h + 34, static_cast<std::uint32_t>(imageSize));
  PutLittleEndian32(h + 38, ppm);
  PutLittleEndian32(h + 42, ppm);
  std::uint8_t* dst = h + 54;
  for (std::int32_t y = Bitmap.Height() - 1; y >= 0; --y) {
    const TColor32* src = Bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < Bitmap.Width(); ++x, dst += 4) PutLittleEndian32(dst, src[x]);
  }
  return file;
}

namespace {

// libjpeg reports errors through error_exit, which must not return: it jumps back to the one
// setjmp in RunJpegEncoder. Everything that needs freeing lives outside that function.
struct TJpegError {
  jpeg_error_mgr Manager;
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  TJpegError* error = reinterpret_cast<TJpegError*>(cinfo->err);
  cinfo->err->format_message(cinfo, error->Message);
  std::longjmp(error->Jump, 1);
}

void JpegOutputMessage(j_common_ptr) {}  // warnings are not shown

// Output in one growing malloc block that the caller frees in every case: Buffer is always the
// current block, also after a failed growth or a jump out of the encoder.
struct TJpegMemoryDest {
  jpeg_destination_mgr Manager;
  unsigned char* Buffer;
  std::size_t Capacity;
  std::size_t Size;
};

constexpr std::size_t kJpegFirstBlock = 65536;

void JpegInitDestination(j_compress_ptr cinfo) {
  TJpegMemoryDest* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
  if (dest->Buffer == nullptr) {
    dest->Buffer = static_cast<unsigned char*>(std::malloc(kJpegFirstBlock));
    if (dest->Buffer == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
    dest->Capacity = kJpegFirstBlock;
  }
  dest->Manager.next_output_byte = dest->Buffer;
  dest->Manager.free_in_buffer = dest->Capacity;
}

boolean JpegEmptyOutputBuffer(j_compress_ptr cinfo) {
  TJpegMemoryDest* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
  const std::size_t grown = dest->Capacity * 2;
  unsigned char* block = static_cast<unsigned char*>(std::realloc(dest->Buffer, grown));
  if (block == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
  dest->Buffer = block;
  dest->Manager.next_output_byte = block + dest->Capacity;
  dest->Manager.free_in_buffer = grown - dest->Capacity;
  dest->Capacity = grown;
  return TRUE;
}

void JpegTermDestination(j_compress_ptr cinfo) {
  TJpegMemoryDest* dest = reinterpret_cast<TJpegMemoryDest*>(cinfo->dest);
  dest->Size = dest->Capacity - dest->Manager.free_in_buffer;
}

struct TJpegJob {
  const TBitmap32* Bitmap;
  JSAMPLE* Row;  // 3 x width samples, owned by the caller
};

// All libjpeg calls of the encoder. No object with a destructor lives here, and nothing the
// caller reads after a jump is changed between setjmp and longjmp except through pointers.
bool RunJpegEncoder(jpeg_compress_struct* cinfo, TJpegError* error, TJpegMemoryDest* dest, TJpegJob* job) {
  cinfo->err = jpeg_std_error(&error->Manager);
  error->Manager.error_exit = JpegErrorExit;
  error->Manager.output_message = JpegOutputMessage;
  if (setjmp(error->Jump) != 0) {
    jpeg_destroy_compress(cinfo);
    return false;
  }
  jpeg_create_compress(cinfo);
  dest->Manager.init_destination = JpegInitDestination;
  dest->Manager.empty_output_buffer = JpegEmptyOutputBuffer;
  dest->Manager.term_destination = JpegTermDestination;
  cinfo->dest = &dest->Manager;
  cinfo->image_width = static_cast<JDIMENSION>(job->Bitmap->Width());
  cinfo->image_height = static_cast<JDIMENSION>(job->Bitmap->Height());
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);  // YCbCr 2x2/1x1/1x1, standard Huffman tables, JFIF 1.01
  jpeg_set_quality(cinfo, 90, TRUE);
  cinfo->dct_method = JDCT_FLOAT;
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    const TColor32* src = job->Bitmap->ScanLine(static_cast<std::int32_t>(cinfo->next_scanline));
    JSAMPLE* dst = job->Row;
    for (JDIMENSION x = 0; x < cinfo->image_width; ++x) {
      const TColor32 c = src[x];
      *dst++ = static_cast<JSAMPLE>(c >> 16);
      *dst++ = static_cast<JSAMPLE>(c >> 8);
      *dst++ = static_cast<JSAMPLE>(c);
    }
    JSAMPROW row = job->Row;
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  jpeg_destroy_compress(cinfo);
  return true;
}

struct TFreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

}  // namespace

std::vector<std::uint8_t> EncodeJpg(const TBitmap32& Bitmap, std::int32_t Dpi) {
  std::vector<JSAMPLE> row(static_cast<std::size_t>(Bitmap.Width() > 0 ? Bitmap.Width() : 1) * 3);
  jpeg_compress_struct cinfo{};
  TJpegError error{};
  TJpegMemoryDest dest{};
  TJpegJob job{&Bitmap, row.data()};
  const bool ok = RunJpegEncoder(&cinfo, &error, &dest, &job);
  const std::unique_ptr<unsigned char, TFreeDeleter> out(dest.Buffer);  // also after a failure
  if (!ok) throw EInvalidGraphic(error.Message);
  if (dest.Size < 20) throw EInvalidGraphic("JPEG encoder wrote no JFIF header");
  std::vector<std::uint8_t> file(out.get(), out.get() + dest.Size);
  // Density in dots per inch, patched where the encoder always puts the JFIF fields.
  const std::uint8_t high = static_cast<std::uint8_t>(Dpi >> 8);
  const std::uint8_t low = static_cast<std::uint8_t>(Dpi);
  file[13] = 1;
  file[14] = high;
  file[15] = low;
  file[16] = high;
  file[17] = low;
  return file;
}

void SaveBmp(const TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi) {
  const std::vector<std::uint8_t> file = EncodeBmp(Bitmap, Dpi);
  WriteFileSafely(FileName, file.data(), file.size());
}

void SaveJpg(const TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi) {
  const std::vector<std::uint8_t> file = EncodeJpg(Bitmap, Dpi);
  WriteFileSafely(FileName, file.data(), file.size());
}

void SavePng(const TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi, TPngEffort Effort) {
  TPngImage png = Bitmap32ToPng(Bitmap, Effort, false);
  const std::uint32_t ppm = static_cast<std::uint32_t>(DpiToPixelsPerMeter(Dpi));
  std::vector<std::uint8_t> phys(9);
  for (int i = 0; i < 2; ++i) {
    phys[static_cast<std::size_t>(i) * 4 + 0] = static_cast<std::uint8_t>(ppm >> 24);
    phys[static_cast<std::size_t>(i) * 4 + 1] = static_cast<std::uint8_t>(ppm >> 16);
    phys[static_cast<std::size_t>(i) * 4 + 2] = static_cast<std::uint8_t>(ppm >> 8);
    phys[static_cast<std::size_t>(i) * 4 + 3] = static_cast<std::uint8_t>(ppm);
  }
  phys[8] = 1;  // unit: metre
  png.InsertChunkAfter("IHDR", MakePngChunk("pHYs", std::move(phys)));
  png.Validate();  // before the file is touched
  TSafeFileWriter file(FileName);
  // The compressed stream goes out in pieces; a buffer keeps the number of system calls small.
  std::vector<std::uint8_t> pending;
  pending.reserve(kIdatChunkSize + 4096);
  png.Write([&](const std::uint8_t* data, std::size_t size) {
    pending.insert(pending.end(), data, data + size);
    if (pending.size() >= kIdatChunkSize) {
      file.Write(pending.data(), pending.size());
      pending.clear();
    }
  });
  file.Write(pending.data(), pending.size());
  file.Commit();
}

void SavePicture(TBitmap32& Flat, const std::string& FileName, std::int32_t Dpi, bool Flip) {
  if (Flip) Flat.MirrorHorizontal();
  switch (OutputFormatOf(FileName)) {
    case ofPng:
      SavePng(Flat, FileName, Dpi);
      break;
    case ofJpg:
      SaveJpg(Flat, FileName, Dpi);
      break;
    case ofBmp:
      SaveBmp(Flat, FileName, Dpi);
      break;
  }
}

}  // namespace quirlon::imagefiles
