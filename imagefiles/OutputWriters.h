#pragma once
// The writers of the finished picture: PNG, JPEG, BMP, WebP and TIFF, each recording the
// resolution where the format can, and the one table that names them and their extensions. Every
// writer replaces the target only when the new file is complete (TSafeFileWriter): on failure the
// old file stays as it was, and the error is EFCreateError("Cannot create file \"%s\". %s") with
// the system's reason.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imagefiles/Bitmap32ToPng.h"
#include "raster/Bitmap32.h"

namespace quirlon::imagefiles {

// ceil(Dpi x 39.3700787) in extended precision: 60 gives 2363, 96 gives 3780, 300 gives 11812.
std::int32_t DpiToPixelsPerMeter(std::int32_t Dpi);

enum class TOutputFormat : std::uint8_t { Png, Jpeg, Bmp, WebP, Tiff };

struct TOutputFormatInfo {
  TOutputFormat Format;
  std::string_view Name;         // as --format takes it: "png", "jpeg", ...
  std::string_view Description;  // "PNG", "JPEG", ...
  std::array<std::string_view, 4> Extensions;  // lower case with the dot, the usual one first; "" unused
};

// Every output format, PNG first (the default where no name decides).
const std::vector<TOutputFormatInfo>& OutputFormats();
const TOutputFormatInfo& OutputFormatInfo(TOutputFormat Format);
// The format --format calls Name (exact, lower case), or nullptr.
const TOutputFormatInfo* FindOutputFormatNamed(std::string_view Name);
// ".png, .jpg, .jpeg, ... " for messages: every extension a picture can be saved under.
std::string OutputExtensionList();
// "png|jpeg|bmp|webp|tiff".
std::string OutputFormatNameList();

// The lower-cased (ASCII) extension of the name part of FileName from its last "." on, dot
// included; "" when the name has no dot.
std::string OutputExtension(const std::string& FileName);
// The format FileName's extension names (compared without regard to case), or nothing: a name
// without an extension, or with one no writer has, names none.
std::optional<TOutputFormat> OutputFormatOf(const std::string& FileName);

// How a picture is written besides its format.
struct TSaveOptions {
  std::int32_t Dpi = 96;
  std::int32_t Quality = 90;  // JPEG and lossy WebP, 1..100
  bool Lossless = false;      // WebP only
  TPngEffort PngEffort = TPngEffort::Default;
};

// The complete BMP file: 54-byte header (ppm at offsets 38 and 42), then the rows bottom row first,
// 4 bytes B, G, R, A per pixel. Raises EInvalidGraphic when the picture is too large for the
// format's 32-bit file size.
std::vector<std::uint8_t> EncodeBmp(const raster::TBitmap32& Bitmap, std::int32_t Dpi);
// The complete JPEG file: baseline JFIF 1.01 at Quality (1..100, libjpeg's tables scaled, baseline
// values), 4:2:0, standard Huffman tables, float DCT, with Dpi (its low 16 bits) as dots per inch in
// bytes 13 to 17. Alpha is ignored. libjpeg's errors are raised as EInvalidGraphic with its message.
std::vector<std::uint8_t> EncodeJpg(const raster::TBitmap32& Bitmap, std::int32_t Dpi, std::int32_t Quality = 90);
// The complete PNG file as SavePng writes it; InBands as TPngImage's (for many files at once).
std::vector<std::uint8_t> EncodePng(const raster::TBitmap32& Bitmap, std::int32_t Dpi,
                                    TPngEffort Effort = TPngEffort::Default, bool InBands = false);
// The complete WebP file (libwebp): lossy at Quality with the alpha channel kept (compressed
// losslessly), or lossless, where every pixel comes back exactly, colour under transparency too.
// WebP has no resolution field. Raises EInvalidGraphic with libwebp's reason.
// Quick is for many pictures encoded at once, one a core (an animation's frames): no threads of
// libwebp's own, and lossy pictures at method 2 instead of libwebp's default 4, which on turntable
// frames at quality 90 encodes 2.5 times faster for about 6 % more bytes at the same PSNR.
enum class TWebPEffort : std::uint8_t { Default, Quick };
std::vector<std::uint8_t> EncodeWebP(const raster::TBitmap32& Bitmap, std::int32_t Quality, bool Lossless,
                                     TWebPEffort Effort = TWebPEffort::Default);
// The same, letting Bitmap go as soon as libwebp holds the pixels in its own planes: an animation's
// frame is then free for the next one while this one is compressed.
std::vector<std::uint8_t> EncodeWebP(std::unique_ptr<raster::TBitmap32> Bitmap, std::int32_t Quality, bool Lossless,
                                     TWebPEffort Effort = TWebPEffort::Default);
// The complete TIFF file (libtiff, little-endian): 8-bit RGB with unassociated alpha, deflate with
// the horizontal predictor, Dpi as X and Y resolution in inches. Raises EInvalidGraphic.
std::vector<std::uint8_t> EncodeTiff(const raster::TBitmap32& Bitmap, std::int32_t Dpi);
// The file of Format with Options.
std::vector<std::uint8_t> EncodePicture(const raster::TBitmap32& Bitmap, TOutputFormat Format,
                                        const TSaveOptions& Options);

void SaveBmp(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi);
void SaveJpg(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi);
// Bitmap32ToPng at Effort, not interlaced, with a pHYs chunk (ppm both ways, unit metre) directly
// after IHDR. The image is built before the file is touched.
void SavePng(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi,
             TPngEffort Effort = TPngEffort::Default);

// The last steps of "Save picture" after the flatten: mirrors Flat left to right in place when
// Flip is set, then writes it as Format. The picture is encoded before the file is touched.
void SavePicture(raster::TBitmap32& Flat, const std::string& FileName, TOutputFormat Format,
                 const TSaveOptions& Options, bool Flip);
// The same with the format FileName's extension names; a name that names none raises
// EFCreateError ("Cannot create file "…". Unknown picture extension "…"; use one of …") and
// touches nothing.
void SavePicture(raster::TBitmap32& Flat, const std::string& FileName, const TSaveOptions& Options, bool Flip);

}  // namespace quirlon::imagefiles
