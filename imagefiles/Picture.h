#pragma once
// Source pictures: the table of picture formats (extension, description, first bytes, decoder),
// the registry keyed by file extension that is built from it, the picture container that loads a
// file through it, and the conversions between decoded pictures and TBitmap32.
//
// A file is loaded only under a registered extension; its decoder is then chosen by its first bytes
// where they name a format, and by the extension where they do not (formats without a signature).
// So a PNG named .jpg loads, and nothing reaches a decoder that the file's content does not name.
//
// Every decoder reads the whole file, checks each header field against the file size and refuses
// pictures larger than kMaxPictureSide on a side or the caller's pixel limit (kDefaultPicturePixels unless it says otherwise) in all before it allocates
// pixel memory. A failed load throws and changes nothing: neither the container nor the bitmap.
#include <cstddef>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"
#include "raster/Color.h"

namespace quirlon::imagefiles {

using raster::TBitmap32;
using raster::TColor;
using raster::TColor32;

inline constexpr std::int32_t kMaxPictureSide = 16384;
// The most pixels a picture may ever have, and the fewer it may have unless the user allows more: a
// picture of a few hundred kilobytes can declare the most, and then takes gigabytes on its way to
// the layer. Eight thousand by six thousand still load by default.
inline constexpr std::int64_t kMaxPicturePixels = 128LL * 1000 * 1000;
inline constexpr std::int64_t kDefaultPicturePixels = 50LL * 1000 * 1000;
// Picture files beyond this many bytes are refused unread ("Cannot open file \"%s\". File too
// large"); the largest picture within the limits above, uncompressed, stays well below it.
inline constexpr std::int64_t kMaxPictureFileSize = 1024LL * 1024 * 1024;

inline constexpr const char* kUnknownExtension = "Unknown picture file extension (.%s)";
inline constexpr const char* kUnknownPictureContent = "Not a picture in a format this program reads";
inline constexpr const char* kInvalidBitmap = "Bitmap image is not valid";
inline constexpr const char* kJpegError = "JPEG error #%d";
inline constexpr const char* kInvalidImageFormat = "Cannot load image. Invalid or unexpected %s image format.";
inline constexpr const char* kPictureTooLarge = "Picture is too large (%d x %d)";
inline constexpr const char* kNoDecoder = "Cannot load image. %s are not supported on this system.";
// Every load error names the file first and then says what is wrong, the fixed message last.
inline constexpr const char* kPictureLoadError = "Picture \"%s\": %s";

// Bits per pixel of a decoded bitmap as the file had them; pf32bit pictures keep their fourth byte.
enum TPixelFormat : std::uint8_t { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit };

enum TPictureKind : std::uint8_t {
  pkNone,
  pkBitmap,    // a raster with a pixel format
  pkIcon,      // can only be drawn: colour plus mask or alpha
  pkMetafile,  // can only be drawn: rendered with alpha
  pkDrawn,     // any other picture drawn at its size (JPEG)
};

// One decoded picture. Pixels are top row first, already widened to 32 bits (bytes B, G, R, A):
// - pkBitmap: the alpha byte counts only when PixelFormat is pf32bit;
// - pkIcon, pkMetafile: alpha is coverage when UsesAlpha, else Mask says where the background shows;
// - pkDrawn: the alpha byte is ignored.
struct TGraphic {
  TPictureKind Kind = pkNone;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  TPixelFormat PixelFormat = pfDevice;
  // Decoded straight into zero pages, large ones huge pages where the system gives them: a
  // picture is written once, and the first touch of fresh memory is what a decode costs most.
  raster::TPixelStore Pixels;
  // Icons without alpha: one byte per pixel, 1 where the AND mask keeps the background.
  std::vector<std::uint8_t> Mask;
  bool UsesAlpha = false;
  // Pixels are already the bitmap Assign makes of them (opaque formats with alpha 255 written, no
  // transparent colour): a bitmap may share them instead of copying.
  bool AssignsUnchanged = false;
  // Bitmaps marked transparent: pixels of this colour (system colours resolved) get alpha 0.
  bool Transparent = false;
  TColor TransparentColor = 0;

  bool Empty() const { return Width == 0 || Height == 0; }
  // Renders an icon or metafile over an opaque background, the way the platform draws it.
  void DrawOver(TColor32 background, std::span<TColor32> out) const;
};

enum class TDecoder : std::uint8_t {
  Bmp,          // ours: 1 to 32 bits, RLE4/RLE8, bit fields, old 12-byte header
  Icon,         // ours: the largest, deepest image of the icon file
  Tga,          // ours: colour-mapped, true colour and grey (with alpha), raw or run-length encoded
  Metafile,     // ImageMagick's reader, drawn with alpha
  Jpeg,         // libjpeg
  Png,          // libpng
  Gif,          // giflib, first frame
  Tiff,         // libtiff's RGBA interface
  Magick,       // ImageMagick through Magick++, told the coder by MagickFormat
  WebP,         // libwebp: stills, and the first frame of an animation
  Heif,         // libheif: the primary picture of a HEIC or AVIF file
  Svg,          // librsvg: drawn at its own size, scaled up to a useful one
  Pdf,          // poppler: the first page
  Unsupported,  // registered, but refused: "Cannot load image. %s are not supported on this system."
};

// True when Data starts the way every file of a format does.
using TSignature = bool (*)(std::span<const std::uint8_t> Data);

struct TFileFormat {
  std::string Extension;    // lower case, no dot; empty for formats known only by their content
  std::string Description;  // "Windows bitmaps"
  TDecoder Decoder = TDecoder::Bmp;
  std::string MagickFormat;  // ImageMagick coder for the Magick and Metafile decoders
  std::string Name;          // short name in messages: "TIFF"
  TSignature Signature = nullptr;  // null: the format has no signature (Targa, fax)
};

// Registrations in order; a lookup runs from the newest back, so a later registration of an
// extension overrides an earlier one.
class TFileFormatsList {
public:
  void Add(std::string Extension, std::string Description, TDecoder Decoder, std::string MagickFormat = {});
  void Add(TFileFormat Format);
  // Extension without the dot, any case. Null when nothing is registered for it.
  const TFileFormat* Find(const std::string& Extension) const;
  const std::vector<TFileFormat>& Registrations() const { return fFormats; }
  // The entries that win their extension, in registration order (what the open dialog offers).
  std::vector<const TFileFormat*> Effective() const;

private:
  std::vector<TFileFormat> fFormats;
};

// The process-wide registry, filled on first use (thread-safe) from the format table.
const TFileFormatsList& FileFormats();

// The formats that are known by their first bytes but have no extension of their own (WebP, PDF).
const std::vector<TFileFormat>& ContentOnlyFormats();

// The format whose signature starts Data, null when none does.
const TFileFormat* FormatOfContent(std::span<const std::uint8_t> Data);

// The format that decodes Data found under ByExtension: the one its first bytes name (ByExtension
// itself when they name its own format), else ByExtension.
const TFileFormat& ChooseFormat(const TFileFormat& ByExtension, std::span<const std::uint8_t> Data);

// The ImageMagick coders the Magick and Metafile rows route to: the only ones ImageMagick may use.
std::vector<std::string> RoutedMagickCoders();

// Open-dialog filter: "All (*.bmp;*.ico;...)|*.bmp;*.ico;...|Windows bitmaps (*.bmp)|*.bmp|...".
std::string GraphicFilter();

// The text after the last "." of the file name (not of a folder), lower case; empty without one.
std::string PictureExtension(const std::string& FileName);

// Decodes a whole file held in memory that was found under ByExtension, with the decoder that
// ChooseFormat picks. Throws EInvalidGraphic with the decoder's message ("<what is wrong>. <fixed
// message>") on damaged, unsupported or too large pictures.
// MaxPixels (at most kMaxPicturePixels) limits the picture's pixels in all.
TGraphic DecodePicture(const TFileFormat& ByExtension, std::span<const std::uint8_t> Data,
                       std::int64_t MaxPixels = kDefaultPicturePixels);

// Decodes a picture held in memory that has no file (an upload): its format from its first bytes,
// else from the extension of Name (formats without a signature), else refused with
// kUnknownPictureContent. The same decoders and limits as a file, the size checked from the header
// before pixel memory; errors name Name as they name a file.
TGraphic DecodePictureBytes(std::span<const std::uint8_t> Data, const std::string& Name,
                            std::int64_t MaxPixels = kDefaultPicturePixels);

// Holds one decoded picture or none.
class TPicture {
public:
  // Throws EInvalidGraphic (kPictureLoadError with "Unknown picture file extension (.%s)" or the
  // decoder's message) or EFOpenError ("Cannot open file \"%s\". %s"); on failure the container
  // keeps what it held.
  void LoadFromFile(const std::string& FileName, std::int64_t MaxPixels = kDefaultPicturePixels);
  const TGraphic* Graphic() const { return fGraphic.get(); }
  void SetGraphic(TGraphic Graphic) { fGraphic = std::make_unique<TGraphic>(std::move(Graphic)); }
  void Clear() { fGraphic.reset(); }
  std::int32_t Width() const { return fGraphic ? fGraphic->Width : 0; }
  std::int32_t Height() const { return fGraphic ? fGraphic->Height : 0; }

private:
  std::unique_ptr<TGraphic> fGraphic;
};

// Turns a decoded picture into the bitmap by its kind, between BeginUpdate and EndUpdate with one
// change notification; the bitmap's drawing settings stay. An empty container empties the bitmap.
void Assign(TBitmap32& Bitmap, const TGraphic& Source);
void Assign(TBitmap32& Bitmap, const TPicture& Source);
// Assign that lets the bitmap share the picture's pixels read-only (TBitmap32::ShareReadOnly) where
// they need no conversion, so a picture kept in a cache is not copied for every face it is drawn on.
void Assign(TBitmap32& Bitmap, const std::shared_ptr<const TGraphic>& Source);

// Loads the file into a new picture and assigns it. On any error the bitmap keeps its size and pixels.
void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName, std::int64_t MaxPixels = kDefaultPicturePixels);

// Decoded pictures kept by file name, for callers that load the same files again and again (a face
// and its reflection in one render; the window's renders one after the other). A kept picture is
// used only while its file still has the device, inode, size, modification and change times it had
// when it was read; otherwise the file is read and decoded again. Errors are never kept. At most MaxBytes
// of pixels are kept, the least recently used given up first.
class TPictureCache {
public:
  // Load may be called from several threads at once; one file is decoded once.
  explicit TPictureCache(std::size_t MaxBytes = std::size_t{256} << 20) : fMaxBytes(MaxBytes) {}
  // The picture of FileName, with the errors of TPicture::LoadFromFile; a kept picture over
  // MaxPixels is refused as its decoder would refuse it.
  std::shared_ptr<const TGraphic> Load(const std::string& FileName, std::int64_t MaxPixels = kDefaultPicturePixels);
  void Clear() {
    std::lock_guard<std::mutex> lock(fMutex);
    fEntries.clear();
    fPassing.clear();
  }
  std::size_t Count() const {
    std::lock_guard<std::mutex> lock(fMutex);
    return fEntries.size();
  }
  // Lets FileName's picture go: for a caller that knows no one will ask for it again.
  void Forget(const std::string& FileName) {
    std::lock_guard<std::mutex> lock(fMutex);
    std::erase_if(fEntries, [&](const TEntry& e) { return e.FileName == FileName; });
  }

private:
  struct TEntry {
    std::string FileName;
    std::array<std::int64_t, 7> Identity{};
    std::shared_ptr<const TGraphic> Graphic;
    std::size_t Bytes = 0;
  };
  // Pictures too large to keep, shared while some caller still holds them: the two layers that
  // show one big picture (a face and its reflection) then decode it once and hold it once.
  struct TPassing {
    std::string FileName;
    std::array<std::int64_t, 7> Identity{};
    std::weak_ptr<const TGraphic> Graphic;
  };
  std::size_t fMaxBytes;
  mutable std::mutex fMutex;
  std::vector<TEntry> fEntries;  // most recently used last
  std::vector<TPassing> fPassing;
};

// LoadFromFile through a cache (the same result and errors as without it).
void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName, TPictureCache& Cache,
                  std::int64_t MaxPixels = kDefaultPicturePixels);

// A 32-bit bitmap picture with every pixel copied unchanged, alpha included; assigning it back
// gives the same pixels.
TGraphic ExportBitmap(const TBitmap32& Bitmap);

}  // namespace quirlon::imagefiles
