// JPEG through libjpeg: floating-point inverse DCT, fancy upsampling and block smoothing. Colour
// comes out RGB; greyscale keeps its 256 levels; CMYK and YCCK (Adobe) are turned into RGB.
//
// libjpeg reports fatal errors by longjmp. Every libjpeg call runs inside Guarded(), whose step
// functions hold nothing with a destructor, so the jump skips no C++ cleanup; the error becomes an
// exception once Guarded() has returned.
#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr int kMaxScans = 1000;                         // progressive files with endless scans
constexpr long kMaxDecoderMemory = 1536L * 1024 * 1024;  // coefficient buffers of the largest picture

struct TJpegError {
  jpeg_error_mgr Manager;  // first member: libjpeg sees a jpeg_error_mgr*
  std::jmp_buf Jump;
  int Code;
  char Text[JMSG_LENGTH_MAX];  // libjpeg's words for Code
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  err->Code = cinfo->err->msg_code;
  if (err->Text[0] == '\0') (*cinfo->err->format_message)(cinfo, err->Text);
  std::longjmp(err->Jump, 1);
}

// A file that ends early is an error here: the rest of the picture would be made up. Every other
// warning (a damaged EXIF block, extra bytes between markers, a data segment cut short by the next
// marker, corrupt entropy codes) leaves a whole picture with some spoilt pixels at worst, and other
// readers accept those files.
extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) JpegErrorExit(cinfo);
}

extern "C" void JpegOutputMessage(j_common_ptr) {}

extern "C" void JpegProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    cinfo->err->msg_code = JERR_BAD_PROGRESSION;
    std::snprintf(reinterpret_cast<TJpegError*>(cinfo->err)->Text, JMSG_LENGTH_MAX,
                  "the progressive picture has more than %d scans", kMaxScans);
    JpegErrorExit(cinfo);
  }
}

struct TJob {
  jpeg_decompress_struct Info;
  TJpegError Error;
  jpeg_progress_mgr Progress;
  const std::uint8_t* Data;
  unsigned long Size;
  JSAMPLE* Row;       // one output row of Info.output_components samples
  TColor32* Pixels;   // Info.output_width x Info.output_height
  bool InvertedCmyk;  // Adobe files store CMYK inverted
};

void CreateStep(TJob* job) { jpeg_create_decompress(&job->Info); }

void ReadHeaderStep(TJob* job) {
  jpeg_decompress_struct* d = &job->Info;
  jpeg_mem_src(d, job->Data, job->Size);
  jpeg_read_header(d, TRUE);
  d->dct_method = JDCT_FLOAT;
  d->do_fancy_upsampling = TRUE;
  d->do_block_smoothing = TRUE;
  switch (d->jpeg_color_space) {
    case JCS_GRAYSCALE: d->out_color_space = JCS_GRAYSCALE; break;
    case JCS_CMYK:
    case JCS_YCCK: d->out_color_space = JCS_CMYK; break;
    default: d->out_color_space = JCS_RGB; break;
  }
  job->InvertedCmyk = d->saw_Adobe_marker;
  jpeg_calc_output_dimensions(d);
}

inline std::uint8_t Mul255(unsigned a, unsigned b) { return static_cast<std::uint8_t>((a * b + 127) / 255); }

void DecodeStep(TJob* job) {
  jpeg_decompress_struct* d = &job->Info;
  jpeg_start_decompress(d);
  const JDIMENSION w = d->output_width;
  while (d->output_scanline < d->output_height) {
    TColor32* out = job->Pixels + static_cast<std::size_t>(d->output_scanline) * w;
    JSAMPROW row = job->Row;
    if (jpeg_read_scanlines(d, &row, 1) != 1) ERREXIT(d, JERR_INPUT_EMPTY);
    const JSAMPLE* in = job->Row;
    switch (d->out_color_space) {
      case JCS_GRAYSCALE:
        for (JDIMENSION x = 0; x < w; ++x) out[x] = raster::Color32(in[x], in[x], in[x]);
        break;
      case JCS_CMYK:
        for (JDIMENSION x = 0; x < w; ++x, in += 4) {
          unsigned c = in[0], m = in[1], y = in[2], k = in[3];
          if (!job->InvertedCmyk) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
          out[x] = raster::Color32(Mul255(c, k), Mul255(m, k), Mul255(y, k));
        }
        break;
      default:
        for (JDIMENSION x = 0; x < w; ++x, in += 3) out[x] = raster::Color32(in[0], in[1], in[2]);
        break;
    }
  }
  jpeg_finish_decompress(d);
}

// Runs one step with libjpeg's error jump set; false when libjpeg bailed out.
bool Guarded(TJob* job, void (*step)(TJob*)) {
  if (setjmp(job->Error.Jump)) return false;
  step(job);
  return true;
}

}  // namespace

TGraphic DecodeJpeg(std::span<const std::uint8_t> Data) {
  std::unique_ptr<TJob> holder = std::make_unique<TJob>();
  TJob* job = holder.get();
  job->Info.err = jpeg_std_error(&job->Error.Manager);
  job->Error.Manager.error_exit = JpegErrorExit;
  job->Error.Manager.emit_message = JpegEmitMessage;
  job->Error.Manager.output_message = JpegOutputMessage;
  job->Error.Code = 0;
  job->Error.Text[0] = '\0';
  auto fail = [&]() -> TGraphic { Refuse(job->Error.Text, Format(kJpegError, job->Error.Code)); };
  if (Data.empty()) {
    job->Error.Code = JERR_INPUT_EMPTY;
    std::snprintf(job->Error.Text, JMSG_LENGTH_MAX, "the file is empty");
    return fail();
  }
  if (!Guarded(job, CreateStep)) return fail();
  const std::unique_ptr<jpeg_decompress_struct, void (*)(j_decompress_ptr)> handle(&job->Info,
                                                                                   &jpeg_destroy_decompress);
  job->Info.mem->max_memory_to_use = kMaxDecoderMemory;
  job->Progress.progress_monitor = JpegProgress;
  job->Info.progress = &job->Progress;
  job->Data = Data.data();
  job->Size = static_cast<unsigned long>(Data.size());
  if (!Guarded(job, ReadHeaderStep)) return fail();

  const jpeg_decompress_struct& d = job->Info;
  CheckPictureSize(d.output_width, d.output_height);
  TGraphic g;
  g.Kind = pkDrawn;
  g.PixelFormat = pf24bit;
  g.AssignsUnchanged = true;  // every pixel is written with its alpha (255 where the file has none)
  g.Width = static_cast<std::int32_t>(d.output_width);
  g.Height = static_cast<std::int32_t>(d.output_height);
  g.Pixels.resize(static_cast<std::size_t>(g.Width) * g.Height);
  std::vector<JSAMPLE> row(static_cast<std::size_t>(d.output_width) * d.out_color_components);
  job->Row = row.data();
  job->Pixels = g.Pixels.data();
  if (!Guarded(job, DecodeStep)) return fail();
  return g;
}

}  // namespace quirlon::imagefiles::detail
