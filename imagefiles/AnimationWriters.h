#pragma once
// Animated pictures written frame by frame, so that a long animation never holds more than the
// frames being prepared: animated WebP (each frame a still of libwebp, put together by libwebpmux),
// APNG (our PNG writer's rows plus acTL, fcTL and fdAT; the first frame is the default image, so
// readers that know no animation show it) and GIF (giflib, one palette per frame by our own
// quantiser). Frames are prepared on any number of threads at once and added in order from one;
// the file is written atomically (SafeFile.h) when the writer finishes.
//
//   auto writer = TAnimationWriter::Create("turn.webp", options);
//   for (each frame, in order) writer->Add(writer->Prepare(std::move(frame)));
//   writer->Finish();
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imagefiles/Bitmap32ToPng.h"
#include "imagefiles/Quantiser.h"
#include "raster/Bitmap32.h"

namespace quirlon::imagefiles {

enum class TAnimationFormat : std::uint8_t { WebP, Png, Gif };

// The format a file name's extension names (".webp", ".png", ".apng", ".gif", any case), or none.
std::optional<TAnimationFormat> AnimationFormatOf(const std::string& FileName);
// ".webp (animated WebP), .png or .apng (APNG), .gif (GIF)" for messages.
std::string AnimationExtensionList();

struct TAnimationOptions {
  std::int32_t Width = 0, Height = 0;  // of every frame
  std::int32_t Frames = 0;             // how many will be added (APNG writes the count first)
  std::int32_t Fps = 24;
  std::int32_t Loop = 0;     // plays this often, 0 for ever
  std::int32_t Quality = 90;  // lossy WebP, 1..100
  bool Lossless = false;      // WebP
  TPngEffort PngEffort = TPngEffort::Fast;
  bool Transparent = false;  // GIF: clear pixels take one palette entry
  TDither Dither = TDither::None;  // GIF
};

// One frame ready to be added: encoded data, or for GIF the quantised picture.
struct TPreparedFrame {
  std::vector<std::uint8_t> Data;
  TQuantised Quantised;
};

class TAnimationWriter {
public:
  // Starts FileName (the temporary file, or the stream) in Format. Throws EFCreateError when the
  // file cannot be made and EInvalidGraphic for options the format cannot take.
  static std::unique_ptr<TAnimationWriter> Create(TAnimationFormat Format, const std::string& FileName,
                                                  const TAnimationOptions& Options);
  virtual ~TAnimationWriter() = default;
  // Encodes Frame (Width x Height), letting it go as soon as it is no longer read; safe to call from
  // several threads at once.
  virtual TPreparedFrame Prepare(std::unique_ptr<raster::TBitmap32> Frame) const = 0;
  // Appends the next frame; from one thread, in order.
  virtual void Add(TPreparedFrame Frame) = 0;
  // Completes the file after exactly Options.Frames frames and puts it in place. Without a call
  // (an error on the way) nothing is left behind.
  virtual void Finish() = 0;
};

}  // namespace quirlon::imagefiles
