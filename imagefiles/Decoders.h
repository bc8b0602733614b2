#pragma once
// The decoders behind the picture registry. Each takes the whole file in memory and returns a
// complete picture or throws EInvalidGraphic with its own message; none returns a partial picture.
// Every message says in words what is wrong and ends with the decoder's fixed message; the loader
// puts the file name in front.
#include <cstdint>
#include <span>
#include <string>

#include "imagefiles/Picture.h"

namespace quirlon::imagefiles::detail {

// Throws EInvalidGraphic("<Reason>. <Fixed>"), the reason's first letter in capitals.
[[noreturn]] void Refuse(const std::string& Reason, const std::string& Fixed);

// Throws "Picture is too large (%d x %d)" (with the limit it passes) beyond kMaxPictureSide or the
// pixel limit of the DecodePicture running on this thread; call it before allocating pixels.
void CheckPictureSize(std::int64_t Width, std::int64_t Height);
// The pixel limit of the DecodePicture running on this thread: what drawn formats (SVG, PDF) may
// grow to when they choose their own size.
std::int64_t DecodePixelLimit();
// Sets that limit (clamped to the largest picture) and returns the one it replaces.
std::int64_t SetDecodePixelLimit(std::int64_t MaxPixels);

// A cairo-style pixel (colour premultiplied by alpha, B G R A bytes) with straight colour, rounded.
TColor32 StraightFromPremultiplied(std::uint32_t Pixel);

TGraphic DecodeBmp(std::span<const std::uint8_t> Data);
// A DIB without file header (icons, clipboard): Data starts at the info header. Icon images carry
// an AND mask after the colours and a doubled height.
TGraphic DecodeDib(std::span<const std::uint8_t> Data, bool IconImage);
TGraphic DecodeIcon(std::span<const std::uint8_t> Data);
TGraphic DecodeJpeg(std::span<const std::uint8_t> Data);
TGraphic DecodePng(std::span<const std::uint8_t> Data);
TGraphic DecodeGif(std::span<const std::uint8_t> Data);
TGraphic DecodeTiff(std::span<const std::uint8_t> Data);
TGraphic DecodeTga(std::span<const std::uint8_t> Data);
TGraphic DecodeWebP(std::span<const std::uint8_t> Data);
TGraphic DecodeHeif(std::span<const std::uint8_t> Data);
TGraphic DecodeSvg(std::span<const std::uint8_t> Data);
TGraphic DecodePdf(std::span<const std::uint8_t> Data);
// Format is ImageMagick's coder ("PSD"), one of RoutedMagickCoders(); Description names the format
// in errors.
// Whether the shut-in ImageMagick may read with a coder, or run a delegate (it may run none).
bool MagickMayRead(const std::string& Coder);
bool MagickMayRunDelegate(const std::string& Delegate);
TGraphic DecodeMagick(std::span<const std::uint8_t> Data, const std::string& Format,
                      const std::string& Description, TPictureKind Kind);

}  // namespace quirlon::imagefiles::detail
