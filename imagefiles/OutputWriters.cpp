#include "imagefiles/OutputWriters.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>
#include <tiffio.h>
#include <webp/encode.h>

#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/SafeFile.h"
#include "raster/Errors.h"
#include "raster/Numeric.h"

namespace quirlon::imagefiles {

namespace {
constexpr const char* kFCreateErrorText = "Cannot create file \"%s\". %s";
}

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

const std::vector<TOutputFormatInfo>& OutputFormats() {
  static const std::vector<TOutputFormatInfo> formats = {
      {TOutputFormat::Png, "png", "PNG", {".png"}},
      {TOutputFormat::Jpeg, "jpeg", "JPEG", {".jpg", ".jpeg", ".jpe", ".jfif"}},
      {TOutputFormat::Bmp, "bmp", "BMP", {".bmp", ".dib"}},
      {TOutputFormat::WebP, "webp", "WebP", {".webp"}},
      {TOutputFormat::Tiff, "tiff", "TIFF", {".tif", ".tiff"}},
  };
  return formats;
}

const TOutputFormatInfo& OutputFormatInfo(TOutputFormat Format) {
  for (const TOutputFormatInfo& info : OutputFormats())
    if (info.Format == Format) return info;
  return OutputFormats().front();
}

const TOutputFormatInfo* FindOutputFormatNamed(std::string_view Name) {
  for (const TOutputFormatInfo& info : OutputFormats())
    if (info.Name == Name) return &info;
  return nullptr;
}

std::string OutputExtensionList() {
  std::string list;
  for (const TOutputFormatInfo& info : OutputFormats())
    for (std::string_view ext : info.Extensions)
      if (!ext.empty()) {
        if (!list.empty()) list += ", ";
        list += ext;
      }
  return list;
}

std::string OutputFormatNameList() {
  std::string list;
  for (const TOutputFormatInfo& info : OutputFormats()) {
    if (!list.empty()) list += '|';
    list += info.Name;
  }
  return list;
}

std::optional<TOutputFormat> OutputFormatOf(const std::string& FileName) {
  const std::string ext = OutputExtension(FileName);
  if (ext.empty()) return std::nullopt;
  for (const TOutputFormatInfo& info : OutputFormats())
    for (std::string_view known : info.Extensions)
      if (known == ext) return info.Format;
  return std::nullopt;
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
  int Quality;
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
  jpeg_set_quality(cinfo, job->Quality, TRUE);
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

std::vector<std::uint8_t> EncodeJpg(const TBitmap32& Bitmap, std::int32_t Dpi, std::int32_t Quality) {
  if (Quality < 1 || Quality > 100) throw EInvalidGraphic("JPEG quality must be from 1 to 100");
  std::vector<JSAMPLE> row(static_cast<std::size_t>(Bitmap.Width() > 0 ? Bitmap.Width() : 1) * 3);
  jpeg_compress_struct cinfo{};
  TJpegError error{};
  TJpegMemoryDest dest{};
  TJpegJob job{&Bitmap, row.data(), Quality};
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

namespace {

TPngImage PngWithResolution(const TBitmap32& Bitmap, std::int32_t Dpi, TPngEffort Effort) {
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
  png.Validate();
  return png;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const TBitmap32& Bitmap, std::int32_t Dpi, TPngEffort Effort, bool InBands) {
  std::vector<std::uint8_t> file;
  TPngImage png = PngWithResolution(Bitmap, Dpi, Effort);
  png.InBands = InBands;
  png.Write([&](const std::uint8_t* data, std::size_t size) {
    file.insert(file.end(), data, data + size);
  });
  return file;
}

void SavePng(const TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi, TPngEffort Effort) {
  const TPngImage png = PngWithResolution(Bitmap, Dpi, Effort);  // refused before the file is touched
  TSafeFileWriter file(FileName);
  // The chunks go out in pieces: the small ones (chunk heads and checksums) are gathered to keep
  // the number of system calls small, the image data are written from where they lie.
  std::uint8_t pending[4096];
  std::size_t used = 0;
  png.Write([&](const std::uint8_t* data, std::size_t size) {
    if (used + size <= sizeof pending) {
      std::memcpy(pending + used, data, size);
      used += size;
      return;
    }
    file.Write(pending, used);
    used = 0;
    if (size <= sizeof pending) {
      std::memcpy(pending, data, size);
      used = size;
    } else {
      file.Write(data, size);
    }
  });
  file.Write(pending, used);
  file.Commit();
}

namespace {

// R, G, B, A bytes, top row first: what libwebp and libtiff take.
std::vector<std::uint8_t> RgbaBytes(const TBitmap32& Bitmap) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(Bitmap.Width()) * static_cast<std::size_t>(Bitmap.Height()) * 4);
  std::uint8_t* dst = rgba.data();
  for (std::int32_t y = 0; y < Bitmap.Height(); ++y) {
    const TColor32* src = Bitmap.ScanLine(y);
    for (std::int32_t x = 0; x < Bitmap.Width(); ++x, dst += 4) {
      dst[0] = static_cast<std::uint8_t>(src[x] >> 16);
      dst[1] = static_cast<std::uint8_t>(src[x] >> 8);
      dst[2] = static_cast<std::uint8_t>(src[x]);
      dst[3] = static_cast<std::uint8_t>(src[x] >> 24);
    }
  }
  return rgba;
}

const char* WebPReason(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "the picture is too large for WebP (16383 pixels a side)";
    case VP8_ENC_ERROR_FILE_TOO_BIG: return "the file would be over 4 GiB";
    default: return "the encoder failed";
  }
}

}  // namespace

namespace {

// EncodeWebP's work; with Owned (which holds Bitmap) the bitmap is let go once imported.
std::vector<std::uint8_t> EncodeWebPOf(const TBitmap32& Bitmap, std::int32_t Quality, bool Lossless, TWebPEffort Effort,
                                       std::unique_ptr<TBitmap32>* Owned) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) throw EInvalidGraphic("Cannot write an empty picture as WebP");
  if (Quality < 1 || Quality > 100) throw EInvalidGraphic("WebP quality must be from 1 to 100");
  WebPConfig config;
  if (!WebPConfigInit(&config)) throw EInvalidGraphic("WebP encoder version mismatch");
  config.quality = static_cast<float>(Quality);
  config.lossless = Lossless ? 1 : 0;
  config.exact = Lossless ? 1 : 0;  // keep the colour under transparent pixels: lossless means every byte
  config.thread_level = Effort == TWebPEffort::Quick ? 0 : 1;
  if (Effort == TWebPEffort::Quick && !Lossless) config.method = 2;
  if (!WebPValidateConfig(&config)) throw EInvalidGraphic("Invalid WebP settings");
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) throw EInvalidGraphic("WebP encoder version mismatch");
  picture.use_argb = Lossless ? 1 : 0;
  picture.width = Bitmap.Width();
  picture.height = Bitmap.Height();
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  struct TCleanUp {
    WebPPicture* Picture;
    WebPMemoryWriter* Writer;
    ~TCleanUp() {
      WebPPictureFree(Picture);
      WebPMemoryWriterClear(Writer);
    }
  } cleanUp{&picture, &writer};
  // On a little-endian machine the pixels already lie in memory as B, G, R, A bytes, rows one after
  // another: libwebp reads them where they are, without a copy of the picture.
  bool imported = false;
  if constexpr (std::endian::native == std::endian::little) {
    imported = WebPPictureImportBGRA(&picture, reinterpret_cast<const std::uint8_t*>(Bitmap.Bits()),
                                     Bitmap.Width() * 4) != 0;
  } else {
    const std::vector<std::uint8_t> rgba = RgbaBytes(Bitmap);
    imported = WebPPictureImportRGBA(&picture, rgba.data(), Bitmap.Width() * 4) != 0;
  }
  if (!imported) throw EInvalidGraphic(std::string("Cannot write WebP: ") + WebPReason(picture.error_code));
  if (Owned != nullptr) Owned->reset();  // the picture holds its own planes now
  if (!WebPEncode(&config, &picture))
    throw EInvalidGraphic(std::string("Cannot write WebP: ") + WebPReason(picture.error_code));
  return std::vector<std::uint8_t>(writer.mem, writer.mem + writer.size);
}

}  // namespace

std::vector<std::uint8_t> EncodeWebP(const TBitmap32& Bitmap, std::int32_t Quality, bool Lossless, TWebPEffort Effort) {
  return EncodeWebPOf(Bitmap, Quality, Lossless, Effort, nullptr);
}

std::vector<std::uint8_t> EncodeWebP(std::unique_ptr<TBitmap32> Bitmap, std::int32_t Quality, bool Lossless,
                                     TWebPEffort Effort) {
  if (Bitmap == nullptr) throw EInvalidGraphic("Cannot write an empty picture as WebP");
  const TBitmap32& bitmap = *Bitmap;
  return EncodeWebPOf(bitmap, Quality, Lossless, Effort, &Bitmap);
}

namespace {

// libtiff's client procedures over a growing block of memory.
struct TTiffMemory {
  std::vector<std::uint8_t> Bytes;
  std::size_t Position = 0;
};

tsize_t TiffRead(thandle_t Handle, tdata_t Data, tsize_t Size) {
  TTiffMemory* m = static_cast<TTiffMemory*>(Handle);
  const std::size_t n = m->Position >= m->Bytes.size() ? 0 : std::min<std::size_t>(static_cast<std::size_t>(Size), m->Bytes.size() - m->Position);
  if (n > 0) std::memcpy(Data, m->Bytes.data() + m->Position, n);
  m->Position += n;
  return static_cast<tsize_t>(n);
}

tsize_t TiffWrite(thandle_t Handle, tdata_t Data, tsize_t Size) {
  TTiffMemory* m = static_cast<TTiffMemory*>(Handle);
  const std::size_t n = static_cast<std::size_t>(Size);
  try {
    if (m->Position + n > m->Bytes.size()) m->Bytes.resize(m->Position + n);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(m->Bytes.data() + m->Position, Data, n);
  m->Position += n;
  return Size;
}

toff_t TiffSeek(thandle_t Handle, toff_t Offset, int Whence) {
  TTiffMemory* m = static_cast<TTiffMemory*>(Handle);
  const std::uint64_t base = Whence == SEEK_CUR ? m->Position : Whence == SEEK_END ? m->Bytes.size() : 0;
  m->Position = static_cast<std::size_t>(base + Offset);
  return m->Position;
}

int TiffClose(thandle_t) { return 0; }
toff_t TiffSize(thandle_t Handle) { return static_cast<TTiffMemory*>(Handle)->Bytes.size(); }
int TiffMap(thandle_t, tdata_t*, toff_t*) { return 0; }
void TiffUnmap(thandle_t, tdata_t, toff_t) {}

// libtiff reports through a handler; the writer keeps the first error to raise it.
int KeepFirstTiffError(TIFF*, void* Message, const char* Module, const char* Format, va_list Arguments) {
  std::string& message = *static_cast<std::string*>(Message);
  if (!message.empty()) return 1;
  char text[512];
  std::vsnprintf(text, sizeof text, Format, Arguments);
  message = std::string(Module != nullptr ? Module : "TIFF") + ": " + text;
  return 1;
}

int IgnoreTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

std::vector<std::uint8_t> EncodeTiff(const TBitmap32& Bitmap, std::int32_t Dpi) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0) throw EInvalidGraphic("Cannot write an empty picture as TIFF");
  TTiffMemory memory;
  std::string error;
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepFirstTiffError, &error);
  TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreTiffWarning, nullptr);
  TIFF* tiff = TIFFClientOpenExt("memory.tif", "wl", &memory, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize,
                                 TiffMap, TiffUnmap, options);
  TIFFOpenOptionsFree(options);
  if (tiff == nullptr) throw EInvalidGraphic("Cannot write TIFF: " + error);
  struct TTiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
  };
  std::unique_ptr<TIFF, TTiffClose> guard(tiff);
  const std::uint32_t width = static_cast<std::uint32_t>(Bitmap.Width());
  const std::uint32_t height = static_cast<std::uint32_t>(Bitmap.Height());
  const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height) &&
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4) && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8) &&
            TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra) &&
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE) &&
            TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) &&
            TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 6) &&
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(Dpi)) &&
            TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(Dpi)) &&
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
            TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
  for (std::uint32_t y = 0; ok && y < height; ++y) {
    const TColor32* src = Bitmap.ScanLine(static_cast<std::int32_t>(y));
    for (std::uint32_t x = 0; x < width; ++x) {
      row[x * 4 + 0] = static_cast<std::uint8_t>(src[x] >> 16);
      row[x * 4 + 1] = static_cast<std::uint8_t>(src[x] >> 8);
      row[x * 4 + 2] = static_cast<std::uint8_t>(src[x]);
      row[x * 4 + 3] = static_cast<std::uint8_t>(src[x] >> 24);
    }
    ok = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
  }
  ok = ok && TIFFWriteDirectory(tiff);
  guard.reset();
  if (!ok) throw EInvalidGraphic("Cannot write TIFF: " + (error.empty() ? std::string("libtiff failed") : error));
  return std::move(memory.Bytes);
}

std::vector<std::uint8_t> EncodePicture(const TBitmap32& Bitmap, TOutputFormat Format, const TSaveOptions& Options) {
  switch (Format) {
    case TOutputFormat::Png: return EncodePng(Bitmap, Options.Dpi, Options.PngEffort);
    case TOutputFormat::Jpeg: return EncodeJpg(Bitmap, Options.Dpi, Options.Quality);
    case TOutputFormat::Bmp: return EncodeBmp(Bitmap, Options.Dpi);
    case TOutputFormat::WebP: return EncodeWebP(Bitmap, Options.Quality, Options.Lossless);
    case TOutputFormat::Tiff: return EncodeTiff(Bitmap, Options.Dpi);
  }
  throw EInvalidGraphic("Unknown output format");
}

void SavePicture(TBitmap32& Flat, const std::string& FileName, TOutputFormat Format, const TSaveOptions& Options,
                 bool Flip) {
  if (Flip) Flat.MirrorHorizontal();
  if (Format == TOutputFormat::Png) return SavePng(Flat, FileName, Options.Dpi, Options.PngEffort);
  std::vector<std::uint8_t> file;
  try {
    file = EncodePicture(Flat, Format, Options);
  } catch (const EInvalidGraphic& e) {
    // The encoders do not know the file (a library that cannot be loaded, libtiff's complaint).
    throw EInvalidGraphic(quirlon::Format("Cannot write \"%s\": %s", FileName.c_str(), e.what()));
  }
  WriteFileSafely(FileName, file.data(), file.size());
}

void SavePicture(TBitmap32& Flat, const std::string& FileName, const TSaveOptions& Options, bool Flip) {
  const std::optional<TOutputFormat> format = OutputFormatOf(FileName);
  if (!format) {
    const std::string ext = OutputExtension(FileName);
    throw EFCreateError(Format(kFCreateErrorText, FileName.c_str(),
                               ((ext.empty() ? std::string("The name has no picture extension")
                                             : "Unknown picture extension \"" + ext + "\"") +
                                "; use one of " + OutputExtensionList())
                                   .c_str()));
  }
  SavePicture(Flat, FileName, *format, Options, Flip);
}

}  // namespace quirlon::imagefiles
