#pragma once
// The formats whose libraries are heavy to start (ImageMagick, libheif with its video decoders,
// librsvg with cairo and pango, poppler) live in a module of their own, loaded on the first picture
// that needs one of them. A program that never meets such a picture does not pay for loading some
// seventy libraries at every start (about 20 ms, more than a small render takes).
//
// The module and the programs come from one build, so the call passes C++ values; nothing but the
// outcome and its message crosses as an error.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imagefiles/Picture.h"

namespace quirlon::imagefiles::detail {

enum class TRareCodec : std::uint8_t { Heif, Svg, Pdf, Magick };

struct TRareDecode {
  TRareCodec Codec = TRareCodec::Heif;
  std::span<const std::uint8_t> Data;
  std::string MagickFormat, Description;  // for TRareCodec::Magick
  TPictureKind Kind = pkBitmap;
  std::int64_t MaxPixels = kDefaultPicturePixels;

  enum class TOutcome : std::uint8_t { Decoded, Invalid, OutOfMemory, Failed };
  TOutcome Outcome = TOutcome::Failed;
  TGraphic Result;
  std::string Message;
};

struct TRareCodecModule {
  std::uint32_t Version = 0;
  void (*Decode)(TRareDecode& Call) noexcept = nullptr;
  bool (*MagickMayRead)(const std::string& Coder) noexcept = nullptr;
  bool (*MagickMayRunDelegate)(const std::string& Delegate) noexcept = nullptr;
};

// Raised whenever the call's layout changes, so a stale module is refused rather than misread.
inline constexpr std::uint32_t kRareCodecModuleVersion = 2;
inline constexpr const char* kRareCodecModuleFile = "libquirlon-codecs.so";
// extern "C" const TRareCodecModule* quirlon_rare_codecs(const std::vector<std::string>& RoutedMagickCoders)
inline constexpr const char* kRareCodecModuleEntry = "quirlon_rare_codecs";
using TRareCodecModuleEntry = const TRareCodecModule* (*)(const std::vector<std::string>& RoutedMagickCoders);

}  // namespace quirlon::imagefiles::detail
