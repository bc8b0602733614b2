#pragma once
// The writers of the finished picture: BMP, JPEG and PNG, each recording the resolution, and the
// rule that picks one by the file name's extension. Every writer replaces the target only when
// the new file is complete (TSafeFileWriter): on failure the old file stays as it was, and the
// error is EFCreateError("Cannot create file \"%s\". %s") with the system's reason.
#include <cstdint>
#include <string>
#include <vector>

#include "imagefiles/Bitmap32ToPng.h"
#include "raster/Bitmap32.h"

namespace quirlon::imagefiles {

// ceil(Dpi x 39.3700787) in extended precision: 60 gives 2363, 96 gives 3780, 300 gives 11812.
std::int32_t DpiToPixelsPerMeter(std::int32_t Dpi);

enum TOutputFormat : std::uint8_t { ofBmp, ofJpg, ofPng };

// The lower-cased (ASCII) extension of the name part of FileName from its last "." on, dot
// included; "" when the name has no dot.
std::string OutputExtension(const std::string& FileName);
// ".png" gives PNG, ".jpg" gives JPEG, everything else (".jpeg", ".bmp", none) gives BMP.
TOutputFormat OutputFormatOf(const std::string& FileName);

// The complete BMP file: 54-byte header (ppm at offsets 38 and 42), then the rows bottom row first,
// 4 bytes B, G, R, A per pixel. Raises EInvalidGraphic when the picture is too large for the
// format's 32-bit file size.
std::vector<std::uint8_t> EncodeBmp(const raster::TBitmap32& Bitmap, std::int32_t Dpi);
// The complete JPEG file: baseline JFIF 1.01 at quality 90, 4:2:0, standard Huffman tables, float
// DCT, with Dpi (its low 16 bits) as dots per inch in bytes 13 to 17. Alpha is ignored. libjpeg's
// errors are raised as EInvalidGraphic with libjpeg's message.
std::vector<std::uint8_t> EncodeJpg(const raster::TBitmap32& Bitmap, std::int32_t Dpi);

void SaveBmp(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi);
void SaveJpg(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi);
// Bitmap32ToPng at Effort, not interlaced, with a pHYs chunk (ppm both ways, unit metre) directly
// after IHDR. The image is built before the file is touched.
void SavePng(const raster::TBitmap32& Bitmap, const std::string& FileName, std::int32_t Dpi,
             TPngEffort Effort = TPngEffort::Default);

// The last steps of "Save picture" after the flatten: mirrors Flat left to right in place when
// Flip is set, then writes it with the writer that FileName's extension chooses.
void SavePicture(raster::TBitmap32& Flat, const std::string& FileName, std::int32_t Dpi, bool Flip);

}  // namespace quirlon::imagefiles
