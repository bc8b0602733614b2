// What every decoder shares: the picture limits of the decode running on this thread, the
// refusal message and cairo's pixels. Compiled into the program and into the codec module alike.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace detail {

namespace {

// The pixel limit of the decode running on this thread; set for the length of one DecodePicture,
// so that every decoder checks it before it allocates without each taking it as a parameter.
thread_local std::int64_t tDecodeMaxPixels = kDefaultPicturePixels;

}  // namespace

std::int64_t SetDecodePixelLimit(std::int64_t MaxPixels) {
  const std::int64_t saved = tDecodeMaxPixels;
  tDecodeMaxPixels = std::clamp<std::int64_t>(MaxPixels, 1, kMaxPicturePixels);
  return saved;
}

void CheckPictureSize(std::int64_t Width, std::int64_t Height) {
  const std::int64_t limit = tDecodeMaxPixels;
  const bool tooWide = Width > kMaxPictureSide || Height > kMaxPictureSide;
  if (!tooWide && Width * Height <= limit) return;
  const int w = static_cast<int>(std::min<std::int64_t>(Width, INT32_MAX));
  const int h = static_cast<int>(std::min<std::int64_t>(Height, INT32_MAX));
  const std::string reason =
      tooWide ? Format("A picture may have at most %d pixels a side", kMaxPictureSide)
              : Format("A picture may have at most %lld million pixels; this one has %lld million",
                       static_cast<long long>(limit / 1000000), static_cast<long long>((Width * Height + 999999) / 1000000));
  Refuse(reason, Format(kPictureTooLarge, w, h));
}

std::int64_t DecodePixelLimit() { return tDecodeMaxPixels; }

TColor32 StraightFromPremultiplied(std::uint32_t Pixel) {
  const std::uint32_t a = Pixel >> 24;
  if (a == 255) return Pixel;
  if (a == 0) return 0;
  TColor32 out = a << 24;
  for (int shift = 0; shift <= 16; shift += 8)
    out |= std::min<std::uint32_t>(255, (((Pixel >> shift) & 0xFF) * 255 + a / 2) / a) << shift;
  return out;
}

void Refuse(const std::string& Reason, const std::string& Fixed) {
  std::string reason = Reason;
  if (!reason.empty()) reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ' || reason.back() == '\n')) reason.pop_back();
  throw EInvalidGraphic(reason.empty() ? Fixed : reason + ". " + Fixed);
}

}  // namespace detail

}  // namespace quirlon::imagefiles
