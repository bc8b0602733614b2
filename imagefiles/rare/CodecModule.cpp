// The codec module's one entry: decodes with the heavy libraries and hands back the picture or the
// outcome, so no exception ever crosses into the program that loaded it.
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "imagefiles/Decoders.h"
#include "imagefiles/rare/RareCodecs.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

// The program's format table decides which ImageMagick coders are allowed; the module has no table
// of its own, so the list is handed over once, when the module is first asked.
std::once_flag gRoutedOnce;
std::vector<std::string> gRouted;

}  // namespace

std::vector<std::string> RoutedMagickCoders() { return gRouted; }

namespace detail {
namespace {

void Decode(TRareDecode& Call) noexcept {
  try {
    const std::int64_t saved = SetDecodePixelLimit(Call.MaxPixels);
    struct TRestore {
      std::int64_t Saved;
      ~TRestore() { SetDecodePixelLimit(Saved); }
    } restore{saved};
    switch (Call.Codec) {
      case TRareCodec::Heif: Call.Result = DecodeHeif(Call.Data); break;
      case TRareCodec::Svg: Call.Result = DecodeSvg(Call.Data); break;
      case TRareCodec::Pdf: Call.Result = DecodePdf(Call.Data); break;
      case TRareCodec::Magick: Call.Result = DecodeMagick(Call.Data, Call.MagickFormat, Call.Description, Call.Kind); break;
    }
    Call.Outcome = TRareDecode::TOutcome::Decoded;
  } catch (const EInvalidGraphic& e) {
    Call.Outcome = TRareDecode::TOutcome::Invalid;
    Call.Message = e.what();
  } catch (const std::bad_alloc&) {
    Call.Outcome = TRareDecode::TOutcome::OutOfMemory;
  } catch (const std::exception& e) {
    Call.Outcome = TRareDecode::TOutcome::Failed;
    Call.Message = e.what();
  } catch (...) {
    Call.Outcome = TRareDecode::TOutcome::Failed;
    Call.Message = "Unknown error in the codec module";
  }
}

bool MayRead(const std::string& Coder) noexcept {
  try {
    return MagickMayRead(Coder);
  } catch (...) {
    return false;
  }
}

bool MayRunDelegate(const std::string& Delegate) noexcept {
  try {
    return MagickMayRunDelegate(Delegate);
  } catch (...) {
    return true;  // unknown: the caller must not count on it being shut
  }
}

}  // namespace
}  // namespace detail
}  // namespace quirlon::imagefiles

extern "C" __attribute__((visibility("default"))) const quirlon::imagefiles::detail::TRareCodecModule* quirlon_rare_codecs(
    const std::vector<std::string>& RoutedMagickCoders) {
  using namespace quirlon::imagefiles;
  std::call_once(gRoutedOnce, [&] { gRouted = RoutedMagickCoders; });
  static const detail::TRareCodecModule kModule{detail::kRareCodecModuleVersion, &detail::Decode, &detail::MayRead,
                                                &detail::MayRunDelegate};
  return &kModule;
}
