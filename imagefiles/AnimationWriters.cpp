#include "imagefiles/AnimationWriters.h"

#include <gif_lib.h>
#include <webp/mux.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <deque>
#include <exception>
#include <utility>

#include "imagefiles/OutputWriters.h"
#include "imagefiles/SafeFile.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

std::string LowerExtension(const std::string& FileName) {
  const std::size_t slash = FileName.find_last_of('/');
  const std::size_t dot = FileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = FileName.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

// Frame Index's share of the timeline in Units a second (1000: milliseconds, 100: GIF's
// hundredths) at Fps, rounded so that the durations add up to the exact running time.
int FrameDuration(std::int32_t Index, std::int32_t Fps, int Units) {
  auto at = [&](std::int64_t frame) { return static_cast<int>((frame * Units + Fps / 2) / Fps); };
  return at(Index + 1) - at(Index);
}

void PutBig32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void PutBig16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void CheckFrame(const raster::TBitmap32* Frame, const TAnimationOptions& Options) {
  if (Frame == nullptr) throw EInvalidGraphic("An animation frame is missing");
  if (Frame->Width() != Options.Width || Frame->Height() != Options.Height)
    throw EInvalidGraphic("An animation frame is " + std::to_string(Frame->Width()) + " x " +
                          std::to_string(Frame->Height()) + ", not " + std::to_string(Options.Width) + " x " +
                          std::to_string(Options.Height));
}

// ---- Animated WebP -------------------------------------------------------------------------

class TWebPAnimation final : public TAnimationWriter {
public:
  TWebPAnimation(const std::string& FileName, const TAnimationOptions& Options)
      : fFileName(FileName), fOptions(Options), fMux(WebPMuxNew()) {
    if (fMux == nullptr) throw EOutOfResources("Out of memory");
    // Fails early, before any frame is made, when the file cannot be created.
    fFile = std::make_unique<TSafeFileWriter>(FileName);
  }
  ~TWebPAnimation() override { WebPMuxDelete(fMux); }  // before fFrames, which it refers to

  TPreparedFrame Prepare(std::unique_ptr<raster::TBitmap32> Frame) const override {
    CheckFrame(Frame.get(), fOptions);
    return {EncodeWebP(std::move(Frame), fOptions.Quality, fOptions.Lossless, TWebPEffort::Quick), {}};
  }

  void Add(TPreparedFrame Frame) override {
    // The mux refers to the encoded frame where it lies (no copy): the writer keeps it till the end.
    const std::vector<std::uint8_t>& data = fFrames.emplace_back(std::move(Frame.Data));
    WebPMuxFrameInfo info{};
    info.bitstream = {data.data(), data.size()};
    info.id = WEBP_CHUNK_ANMF;
    info.duration = FrameDuration(fAdded++, fOptions.Fps, 1000);
    // Each frame replaces the last whole, transparent pixels included.
    info.dispose_method = WEBP_MUX_DISPOSE_NONE;
    info.blend_method = WEBP_MUX_NO_BLEND;
    if (WebPMuxPushFrame(fMux, &info, 0) != WEBP_MUX_OK) throw EInvalidGraphic("Cannot add a frame to the WebP animation");
  }

  void Finish() override {
    const WebPMuxAnimParams params{0, fOptions.Loop};
    if (WebPMuxSetAnimationParams(fMux, &params) != WEBP_MUX_OK)
      throw EInvalidGraphic("Cannot set the WebP animation's parameters");
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(fMux, &assembled) != WEBP_MUX_OK) throw EInvalidGraphic("Cannot put the WebP animation together");
    struct TFree {
      WebPData* Data;
      ~TFree() { WebPDataClear(Data); }
    } release{&assembled};
    fFile->Write(assembled.bytes, assembled.size);
    fFile->Commit();
  }

private:
  std::string fFileName;
  TAnimationOptions fOptions;
  std::deque<std::vector<std::uint8_t>> fFrames;  // a deque: adding never moves the earlier frames
  WebPMux* fMux;
  std::unique_ptr<TSafeFileWriter> fFile;
  std::int32_t fAdded = 0;
};

// ---- APNG ----------------------------------------------------------------------------------

class TApngAnimation final : public TAnimationWriter {
public:
  TApngAnimation(const std::string& FileName, const TAnimationOptions& Options) : fOptions(Options), fFile(FileName) {
    if (Options.Width <= 0 || Options.Height <= 0 || Options.Frames <= 0)
      throw EInvalidGraphic("An APNG needs a size and at least one frame");
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    fFile.Write(kSignature, sizeof kSignature);
    std::uint8_t header[13] = {};
    PutBig32(header, static_cast<std::uint32_t>(Options.Width));
    PutBig32(header + 4, static_cast<std::uint32_t>(Options.Height));
    header[8] = 8;  // bits a channel
    header[9] = 6;  // RGB with alpha
    WritePngChunk(Sink(), "IHDR", header, sizeof header);
    std::uint8_t control[8];
    PutBig32(control, static_cast<std::uint32_t>(Options.Frames));
    PutBig32(control + 4, static_cast<std::uint32_t>(Options.Loop));
    WritePngChunk(Sink(), "acTL", control, sizeof control);
  }

  TPreparedFrame Prepare(std::unique_ptr<raster::TBitmap32> Frame) const override {
    CheckFrame(Frame.get(), fOptions);
    return {CompressedPngRows(*Frame, fOptions.PngEffort), {}};
  }

  void Add(TPreparedFrame Frame) override {
    if (fAdded >= fOptions.Frames) throw EInvalidGraphic("More APNG frames than announced");
    std::uint8_t control[26] = {};
    PutBig32(control, fSequence++);
    PutBig32(control + 4, static_cast<std::uint32_t>(fOptions.Width));
    PutBig32(control + 8, static_cast<std::uint32_t>(fOptions.Height));
    // Offsets 0; the delay as the fraction 1 / fps; dispose none, blend source: each frame
    // replaces the last whole.
    PutBig16(control + 20, 1);
    PutBig16(control + 22, static_cast<std::uint32_t>(fOptions.Fps));
    WritePngChunk(Sink(), "fcTL", control, sizeof control);
    const std::uint8_t* data = Frame.Data.data();
    std::size_t left = Frame.Data.size();
    std::vector<std::uint8_t> chunk;
    while (left > 0) {
      const std::size_t part = std::min(left, kIdatChunkSize);
      if (fAdded == 0) {
        WritePngChunk(Sink(), "IDAT", data, part);  // the default image
      } else {
        chunk.resize(4 + part);
        PutBig32(chunk.data(), fSequence++);
        std::copy_n(data, part, chunk.data() + 4);
        WritePngChunk(Sink(), "fdAT", chunk.data(), chunk.size());
      }
      data += part;
      left -= part;
    }
    ++fAdded;
  }

  void Finish() override {
    if (fAdded != fOptions.Frames) throw EInvalidGraphic("Fewer APNG frames than announced");
    WritePngChunk(Sink(), "IEND", nullptr, 0);
    fFile.Commit();
  }

private:
  TPngImage::TSink Sink() {
    return [this](const std::uint8_t* Data, std::size_t Size) { fFile.Write(Data, Size); };
  }

  TAnimationOptions fOptions;
  TSafeFileWriter fFile;
  std::uint32_t fSequence = 0;
  std::int32_t fAdded = 0;
};

// ---- GIF -----------------------------------------------------------------------------------

class TGifAnimation final : public TAnimationWriter {
public:
  TGifAnimation(const std::string& FileName, const TAnimationOptions& Options) : fOptions(Options), fFile(FileName) {
    if (Options.Width <= 0 || Options.Height <= 0 || Options.Width > 65535 || Options.Height > 65535)
      throw EInvalidGraphic("A GIF is 1 to 65535 pixels a side");
    int error = 0;
    fGif = EGifOpen(this, &TGifAnimation::Output, &error);
    if (fGif == nullptr) throw EInvalidGraphic(std::string("Cannot write GIF: ") + GifErrorString(error));
    EGifSetGifVersion(fGif, true);  // GIF89a: delays, transparency and looping
    Check(EGifPutScreenDesc(fGif, Options.Width, Options.Height, 8, 0, nullptr));
    // The looping extension browsers read ("NETSCAPE2.0", sub-block 1: the loop count).
    static constexpr char kApplication[] = "NETSCAPE2.0";
    const std::uint8_t loop[3] = {1, static_cast<std::uint8_t>(Options.Loop & 0xFF),
                                  static_cast<std::uint8_t>(Options.Loop >> 8 & 0xFF)};
    Check(EGifPutExtensionLeader(fGif, APPLICATION_EXT_FUNC_CODE));
    Check(EGifPutExtensionBlock(fGif, 11, kApplication));
    Check(EGifPutExtensionBlock(fGif, 3, loop));
    Check(EGifPutExtensionTrailer(fGif));
  }
  ~TGifAnimation() override {
    if (fGif != nullptr) EGifCloseFile(fGif, nullptr);
  }

  TPreparedFrame Prepare(std::unique_ptr<raster::TBitmap32> Frame) const override {
    CheckFrame(Frame.get(), fOptions);
    TPreparedFrame prepared;
    prepared.Quantised = QuantisePicture(*Frame, 256, fOptions.Transparent, fOptions.Dither);
    return prepared;
  }

  void Add(TPreparedFrame Frame) override {
    const TQuantised& q = Frame.Quantised;
    GraphicsControlBlock control{};
    // A clear frame must not show the last one through it.
    control.DisposalMode = q.TransparentIndex >= 0 ? DISPOSE_BACKGROUND : DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = FrameDuration(fAdded++, fOptions.Fps, 100);
    control.TransparentColor = q.TransparentIndex >= 0 ? q.TransparentIndex : NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    Check(EGifPutExtension(fGif, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension));
    int entries = 2;
    while (entries < static_cast<int>(q.Palette.size())) entries *= 2;
    std::vector<GifColorType> colours(static_cast<std::size_t>(entries), GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < q.Palette.size(); ++i) colours[i] = {q.Palette[i][0], q.Palette[i][1], q.Palette[i][2]};
    ColorMapObject* map = GifMakeMapObject(entries, colours.data());
    if (map == nullptr) throw EOutOfResources("Out of memory");
    const int put = EGifPutImageDesc(fGif, 0, 0, fOptions.Width, fOptions.Height, false, map);
    GifFreeMapObject(map);
    Check(put);
    std::vector<GifPixelType> row(static_cast<std::size_t>(fOptions.Width));
    for (std::int32_t y = 0; y < fOptions.Height; ++y) {
      const std::uint8_t* indices = q.Indices.data() + static_cast<std::size_t>(y) * fOptions.Width;
      std::copy_n(indices, row.size(), row.begin());
      Check(EGifPutLine(fGif, row.data(), fOptions.Width));
    }
  }

  void Finish() override {
    int error = 0;
    GifFileType* gif = fGif;
    fGif = nullptr;
    if (EGifCloseFile(gif, &error) != GIF_OK) {
      Rethrow();
      throw EInvalidGraphic(std::string("Cannot write GIF: ") + GifErrorString(error));
    }
    fFile.Commit();
  }

private:
  static int Output(GifFileType* Gif, const GifByteType* Data, int Size) {
    auto* self = static_cast<TGifAnimation*>(Gif->UserData);
    try {
      self->fFile.Write(Data, static_cast<std::size_t>(Size));
      return Size;
    } catch (...) {
      // giflib is C: the error goes round it and is thrown again when it returns.
      self->fFailure = std::current_exception();
      return 0;
    }
  }

  void Rethrow() {
    if (fFailure) std::rethrow_exception(std::exchange(fFailure, nullptr));
  }

  void Check(int Result) {
    if (Result == GIF_OK) return;
    Rethrow();
    throw EInvalidGraphic(std::string("Cannot write GIF: ") + GifErrorString(fGif->Error));
  }

  TAnimationOptions fOptions;
  TSafeFileWriter fFile;
  GifFileType* fGif = nullptr;
  std::exception_ptr fFailure;
  std::int32_t fAdded = 0;
};

}  // namespace

std::optional<TAnimationFormat> AnimationFormatOf(const std::string& FileName) {
  const std::string ext = LowerExtension(FileName);
  if (ext == ".webp") return TAnimationFormat::WebP;
  if (ext == ".png" || ext == ".apng") return TAnimationFormat::Png;
  if (ext == ".gif") return TAnimationFormat::Gif;
  return std::nullopt;
}

std::string AnimationExtensionList() { return ".webp (animated WebP), .png or .apng (APNG), .gif (GIF)"; }

std::unique_ptr<TAnimationWriter> TAnimationWriter::Create(TAnimationFormat Format, const std::string& FileName,
                                                           const TAnimationOptions& Options) {
  if (Options.Fps < 1 || Options.Fps > 100) throw EInvalidGraphic("An animation plays 1 to 100 frames a second");
  if (Options.Loop < 0 || Options.Loop > 65535) throw EInvalidGraphic("An animation loops 0 to 65535 times");
  switch (Format) {
    case TAnimationFormat::WebP:
      try {
        return std::make_unique<TWebPAnimation>(FileName, Options);
      } catch (const EInvalidGraphic& e) {  // libwebp cannot be loaded
        throw EInvalidGraphic(quirlon::Format("Cannot write \"%s\": %s", FileName.c_str(), e.what()));
      }
    case TAnimationFormat::Png: return std::make_unique<TApngAnimation>(FileName, Options);
    case TAnimationFormat::Gif: return std::make_unique<TGifAnimation>(FileName, Options);
  }
  throw EInvalidGraphic("Unknown animation format");
}

}  // namespace quirlon::imagefiles
