#pragma once
// The decoders behind the picture registry. Each takes the whole file in memory and returns a
// complete picture or throws EInvalidGraphic with its own message; none returns a partial picture.
#include <cstdint>
#include <span>
#include <string>

#include "imagefiles/Picture.h"

namespace quirlon::imagefiles::detail {

// Throws "Picture is too large (%d x %d)" beyond kMaxPictureSide or kMaxPicturePixels; call it
// before allocating pixels.
void CheckPictureSize(std::int64_t Width, std::int64_t Height);

TGraphic DecodeBmp(std::span<const std::uint8_t> Data);
// A DIB without file header (icons, clipboard): Data starts at the info header. Icon images carry
// an AND mask after the colours and a doubled height.
TGraphic DecodeDib(std::span<const std::uint8_t> Data, bool IconImage);
TGraphic DecodeIcon(std::span<const std::uint8_t> Data);
TGraphic DecodeJpeg(std::span<const std::uint8_t> Data);
TGraphic DecodePng(std::span<const std::uint8_t> Data);
TGraphic DecodeGif(std::span<const std::uint8_t> Data);
TGraphic DecodeTiff(std::span<const std::uint8_t> Data);
// Format is GraphicsMagick's name ("TGA"); Description names the format in errors.
TGraphic DecodeMagick(std::span<const std::uint8_t> Data, const std::string& Format,
                      const std::string& Description, TPictureKind Kind);

}  // namespace quirlon::imagefiles::detail
