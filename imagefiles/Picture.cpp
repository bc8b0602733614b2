#include "imagefiles/Picture.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <sys/stat.h>

#include "imagefiles/Decoders.h"
#include "imagefiles/FileRead.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

using namespace std::string_view_literals;

std::string LowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Signatures: the first bytes every file of a format starts with. Each is strict enough that no
// file of a format without a signature (Targa, fax, Alias/Wavefront, Dr. Halo) can pass for it.
bool StartsWith(std::span<const std::uint8_t> d, std::size_t at, std::string_view bytes) {
  return d.size() >= at + bytes.size() && std::memcmp(d.data() + at, bytes.data(), bytes.size()) == 0;
}
std::uint32_t Le32(std::span<const std::uint8_t> d, std::size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (std::uint32_t{d[at + 3]} << 24);
}

bool IsPng(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "\x89PNG\r\n\x1a\n"sv); }
bool IsJpeg(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "\xFF\xD8\xFF"sv); }
bool IsGif(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "GIF87a"sv) || StartsWith(d, 0, "GIF89a"sv); }
bool IsBmp(std::span<const std::uint8_t> d) {
  // "BM" and an info header of at least the old 12 bytes. Bitmaps without the file header (DIB
  // files) have no signature; their extension leads them to the same reader.
  return StartsWith(d, 0, "BM"sv) && d.size() >= 18 && Le32(d, 14) >= 12;
}
bool IsTiff(std::span<const std::uint8_t> d) {
  return StartsWith(d, 0, "II*\0"sv) || StartsWith(d, 0, "II+\0"sv) || StartsWith(d, 0, "MM\0*"sv) ||
         StartsWith(d, 0, "MM\0+"sv);
}
bool IsIcon(std::span<const std::uint8_t> d) {
  // Reserved 0, type 1, at least one image whose directory entry has its reserved byte 0. (Type 2,
  // cursors, is also how most Targa files start; an icon file of that type needs the .ico name.)
  return StartsWith(d, 0, "\0\0\1\0"sv) && d.size() >= 22 && (d[4] | d[5]) != 0 && d[9] == 0;
}
bool IsWebP(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "RIFF"sv) && StartsWith(d, 8, "WEBP"sv); }
std::uint32_t Be32(std::span<const std::uint8_t> d, std::size_t at) {
  return (std::uint32_t{d[at]} << 24) | (d[at + 1] << 16) | (d[at + 2] << 8) | d[at + 3];
}
bool IsHeif(std::span<const std::uint8_t> d) {
  // An ISO media file's first box, "ftyp", whose major or one of whose compatible brands is a HEIF
  // still picture brand (HEVC or AV1 coded). Videos (isom, mp42, ...) carry none of them.
  if (d.size() < 16 || !StartsWith(d, 4, "ftyp"sv)) return false;
  const std::size_t box = Be32(d, 0);
  if (box < 16 || box % 4 != 0) return false;
  const std::size_t end = std::min(box, d.size());
  for (std::size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4)
    for (std::string_view brand : {"heic"sv, "heix"sv, "heim"sv, "heis"sv, "hevc"sv, "hevx"sv, "mif1"sv, "msf1"sv,
                                   "avif"sv, "avis"sv})
      if (StartsWith(d, at, brand)) return true;
  return false;
}
bool IsSvg(std::span<const std::uint8_t> d) {
  // Markup (after a byte order mark and blanks) with an svg element in its first 4 KiB.
  std::size_t at = StartsWith(d, 0, "\xEF\xBB\xBF"sv) ? 3 : 0;
  while (at < d.size() && std::isspace(d[at])) ++at;
  if (at >= d.size() || d[at] != '<') return false;
  const std::string_view head(reinterpret_cast<const char*>(d.data()), std::min<std::size_t>(d.size(), 4096));
  return head.find("<svg") != std::string_view::npos;
}
bool IsPsd(std::span<const std::uint8_t> d) {
  return StartsWith(d, 0, "8BPS"sv) && d.size() >= 6 && d[4] == 0 && (d[5] == 1 || d[5] == 2);
}
bool IsPaintShopPro(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "Paint Shop Pro Image File\n\x1a"sv); }
bool IsPostScript(std::span<const std::uint8_t> d) {
  // Text PostScript, or the binary header of DOS EPS files.
  return StartsWith(d, 0, "%!PS"sv) || StartsWith(d, 0, "\xC5\xD0\xD3\xC6"sv);
}
bool IsPdf(std::span<const std::uint8_t> d) { return StartsWith(d, 0, "%PDF-"sv); }
bool IsSgi(std::span<const std::uint8_t> d) {
  return StartsWith(d, 0, "\x01\xDA"sv) && d.size() >= 4 && d[2] <= 1 && (d[3] == 1 || d[3] == 2);
}
bool IsPnm(std::span<const std::uint8_t> d) {
  return d.size() >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '7' && std::isspace(d[2]);
}
bool IsPcx(std::span<const std::uint8_t> d) {
  // Manufacturer 10, a known version, RLE or none, a known depth, the reserved byte 0, 1 to 4 planes.
  if (d.size() < 128 || d[0] != 0x0A) return false;
  const bool version = d[1] == 0 || (d[1] >= 2 && d[1] <= 5);
  const bool depth = d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8;
  return version && d[2] <= 1 && depth && d[64] == 0 && d[65] >= 1 && d[65] <= 4;
}
bool IsPhotoCd(std::span<const std::uint8_t> d) { return StartsWith(d, 2048, "PCD_IPI"sv); }
bool IsWmf(std::span<const std::uint8_t> d) {
  // The placeable header's key, or a plain header: memory or disk type, 9 words, version 1 or 3.
  return StartsWith(d, 0, "\xD7\xCD\xC6\x9A"sv) || StartsWith(d, 0, "\x01\0\x09\0\0\x03"sv) ||
         StartsWith(d, 0, "\x02\0\x09\0\0\x03"sv) ||
         StartsWith(d, 0, "\x01\0\x09\0\0\x01"sv);
}
bool IsEmf(std::span<const std::uint8_t> d) { return d.size() >= 44 && Le32(d, 0) == 1 && StartsWith(d, 40, " EMF"sv); }

// The one table of picture formats, in the order of the effective registry (the open dialog's
// order); rows without an extension are known by their content only.
struct TFormatRow {
  const char* Extension;
  const char* Description;
  const char* Name;
  TDecoder Decoder;
  const char* MagickFormat;
  TSignature Signature;
};

constexpr TFormatRow kFormatTable[] = {
    {"bmp", "Windows bitmaps", "BMP", TDecoder::Bmp, "", IsBmp},
    {"ico", "Windows icons", "ICO", TDecoder::Icon, "", IsIcon},
    {"wmf", "Windows metafiles", "WMF", TDecoder::Metafile, "WMF", IsWmf},
    // ImageMagick draws enhanced metafiles only on Windows.
    {"emf", "Windows enhanced meta files", "EMF", TDecoder::Unsupported, "", IsEmf},
    {"jfif", "JFIF images", "JPEG", TDecoder::Jpeg, "", IsJpeg},
    {"jpg", "JPG images", "JPEG", TDecoder::Jpeg, "", IsJpeg},
    {"jpe", "JPE images", "JPEG", TDecoder::Jpeg, "", IsJpeg},
    {"jpeg", "JPEG images", "JPEG", TDecoder::Jpeg, "", IsJpeg},
    {"rle", "Run length encoded Windows bitmaps", "BMP", TDecoder::Bmp, "", IsBmp},
    {"dib", "Device independant Windows bitmaps", "BMP", TDecoder::Bmp, "", IsBmp},
    {"win", "Truevision images", "TGA", TDecoder::Tga, "", nullptr},
    {"vst", "Truevision images", "TGA", TDecoder::Tga, "", nullptr},
    {"vda", "Truevision images", "TGA", TDecoder::Tga, "", nullptr},
    {"tga", "Truevision images", "TGA", TDecoder::Tga, "", nullptr},
    {"icb", "Truevision images", "TGA", TDecoder::Tga, "", nullptr},
    {"tiff", "Macintosh TIFF images", "TIFF", TDecoder::Tiff, "", IsTiff},
    {"tif", "PC TIF images", "TIFF", TDecoder::Tiff, "", IsTiff},
    // Raw Group 3 pages have no header: only this name sends a file to the fax reader.
    {"fax", "GFI fax images", "FAX", TDecoder::Magick, "FAX", nullptr},
    // PostScript is a program: no interpreter ever runs on a user's file.
    {"eps", "Encapsulated Postscript images", "EPS", TDecoder::Unsupported, "", IsPostScript},
    {"pcx", "ZSoft Paintbrush images", "PCX", TDecoder::Magick, "PCX", IsPcx},
    {"pcc", "ZSoft Paintbrush images", "PCX", TDecoder::Magick, "PCX", IsPcx},
    // ImageMagick's SCR is another format (Spectrum screens).
    {"scr", "Word 5.x screen capture images", "SCR", TDecoder::Unsupported, "", nullptr},
    {"rpf", "Alias/Wavefront images", "RLA", TDecoder::Magick, "RLA", nullptr},
    {"rla", "Alias/Wavefront images", "RLA", TDecoder::Magick, "RLA", nullptr},
    {"sgi", "SGI true color images", "SGI", TDecoder::Magick, "SGI", IsSgi},
    {"rgba", "SGI true color images with alpha", "SGI", TDecoder::Magick, "SGI", IsSgi},
    {"rgb", "SGI true color images", "SGI", TDecoder::Magick, "SGI", IsSgi},
    {"bw", "SGI black/white images", "SGI", TDecoder::Magick, "SGI", IsSgi},
    {"psd", "Photoshop images", "PSD", TDecoder::Magick, "PSD", IsPsd},
    {"pdd", "Photoshop images", "PSD", TDecoder::Magick, "PSD", IsPsd},
    {"ppm", "Portable pixel map images", "PNM", TDecoder::Magick, "PNM", IsPnm},
    {"pgm", "Portable gray map images", "PNM", TDecoder::Magick, "PNM", IsPnm},
    {"pbm", "Portable bitmap images", "PNM", TDecoder::Magick, "PNM", IsPnm},
    {"cel", "Autodesk images", "CEL", TDecoder::Unsupported, "", nullptr},
    {"pic", "Autodesk images", "PIC", TDecoder::Unsupported, "", nullptr},
    {"pcd", "Kodak Photo-CD images", "PCD", TDecoder::Magick, "PCD", IsPhotoCd},
    {"gif", "CompuServe images", "GIF", TDecoder::Gif, "", IsGif},
    {"cut", "Dr. Halo images", "CUT", TDecoder::Magick, "CUT", nullptr},
    {"psp", "Paintshop Pro images", "PSP", TDecoder::Unsupported, "", IsPaintShopPro},
    {"png", "Portable network graphic images", "PNG", TDecoder::Png, "", IsPng},
    {"webp", "WebP images", "WebP", TDecoder::WebP, "", IsWebP},
    {"heic", "HEIF images", "HEIF", TDecoder::Heif, "", IsHeif},
    {"heif", "HEIF images", "HEIF", TDecoder::Heif, "", IsHeif},
    {"avif", "AVIF images", "HEIF", TDecoder::Heif, "", IsHeif},
    {"svg", "Scalable vector graphics", "SVG", TDecoder::Svg, "", IsSvg},
    // Compressed SVG starts as any gzip file does: only its name tells it.
    {"svgz", "Scalable vector graphics, compressed", "SVG", TDecoder::Svg, "", nullptr},
    {"pdf", "PDF documents", "PDF", TDecoder::Pdf, "", IsPdf},
};

TFileFormat FormatOf(const TFormatRow& row) {
  return TFileFormat{row.Extension, row.Description, row.Decoder, row.MagickFormat, row.Name, row.Signature};
}

void RegisterAll(TFileFormatsList& list) {
  // The platform's own formats, then JPEG, then the PNG library; the side formats then register
  // every extension again and, being newest, decide.
  for (const char* ext : {"wmf", "emf", "ico", "bmp", "jpeg", "jpg", "png"})
    for (const TFormatRow& row : kFormatTable)
      if (std::string_view(row.Extension) == ext) list.Add(FormatOf(row));
  for (const TFormatRow& row : kFormatTable)
    if (*row.Extension != '\0') list.Add(FormatOf(row));
}

// The pixel limit of decodes on this thread for the length of one DecodePicture.
class TDecodeLimit {
public:
  explicit TDecodeLimit(std::int64_t MaxPixels) : fSaved(detail::SetDecodePixelLimit(MaxPixels)) {}
  ~TDecodeLimit() { detail::SetDecodePixelLimit(fSaved); }
  TDecodeLimit(const TDecodeLimit&) = delete;
  TDecodeLimit& operator=(const TDecodeLimit&) = delete;

private:
  std::int64_t fSaved;
};

// The decoder's message with the file name in front, as one error for every decoder.
[[noreturn]] void RethrowNamingFile(const std::string& fileName, const EInvalidGraphic& e) {
  throw EInvalidGraphic(Format(kPictureLoadError, fileName.c_str(), e.what()));
}

TFileBytes ReadWholeFile(const std::string& fileName) {
  return ReadRegularFile(fileName, kMaxPictureFileSize);
}

inline TColor32 Rgb(TColor32 c) { return c & 0x00FFFFFFu; }

}  // namespace

void TGraphic::DrawOver(TColor32 background, std::span<TColor32> out) const {
  const std::size_t n = std::min(out.size(), Pixels.size());
  const TColor32 bg = Rgb(background);
  if (UsesAlpha || Mask.size() < n) {
    // Coverage blend of straight colour over the background, rounded to nearest.
    for (std::size_t i = 0; i < n; ++i) {
      const TColor32 p = Pixels[i];
      const std::uint32_t a = UsesAlpha ? p >> 24 : 255;
      TColor32 r = 0xFF000000u;
      for (int shift = 0; shift <= 16; shift += 8) {
        const std::uint32_t f = (p >> shift) & 0xFF, b = (bg >> shift) & 0xFF;
        r |= ((f * a + b * (255 - a) + 127) / 255) << shift;
      }
      out[i] = r;
    }
  } else {
    // Mask icons: background AND mask, then XOR colour.
    for (std::size_t i = 0; i < n; ++i) out[i] = 0xFF000000u | (((Mask[i] ? bg : 0) ^ Rgb(Pixels[i])));
  }
}

void TFileFormatsList::Add(std::string Extension, std::string Description, TDecoder Decoder,
                           std::string MagickFormat) {
  Add(TFileFormat{std::move(Extension), std::move(Description), Decoder, std::move(MagickFormat), {}, nullptr});
}

void TFileFormatsList::Add(TFileFormat Format) {
  Format.Extension = LowerCase(std::move(Format.Extension));
  if (Format.Name.empty()) Format.Name = LowerCase(Format.Extension);
  fFormats.push_back(std::move(Format));
}

const TFileFormat* TFileFormatsList::Find(const std::string& Extension) const {
  const std::string ext = LowerCase(Extension);
  for (auto it = fFormats.rbegin(); it != fFormats.rend(); ++it)
    if (it->Extension == ext) return &*it;
  return nullptr;
}

std::vector<const TFileFormat*> TFileFormatsList::Effective() const {
  std::vector<const TFileFormat*> result;
  for (const TFileFormat& f : fFormats)
    if (Find(f.Extension) == &f) result.push_back(&f);
  return result;
}

const TFileFormatsList& FileFormats() {
  static const TFileFormatsList list = [] {
    TFileFormatsList l;
    RegisterAll(l);
    return l;
  }();
  return list;
}

const std::vector<TFileFormat>& ContentOnlyFormats() {
  static const std::vector<TFileFormat> formats = [] {
    std::vector<TFileFormat> list;
    for (const TFormatRow& row : kFormatTable)
      if (*row.Extension == '\0') list.push_back(FormatOf(row));
    return list;
  }();
  return formats;
}

const TFileFormat* FormatOfContent(std::span<const std::uint8_t> Data) {
  for (const TFileFormat& f : FileFormats().Registrations())
    if (f.Signature != nullptr && f.Signature(Data)) return FileFormats().Find(f.Extension);
  for (const TFileFormat& f : ContentOnlyFormats())
    if (f.Signature(Data)) return &f;
  return nullptr;
}

const TFileFormat& ChooseFormat(const TFileFormat& ByExtension, std::span<const std::uint8_t> Data) {
  if (ByExtension.Signature != nullptr && ByExtension.Signature(Data)) return ByExtension;
  const TFileFormat* byContent = FormatOfContent(Data);
  if (byContent == nullptr || byContent->Signature == ByExtension.Signature) return ByExtension;
  return *byContent;
}

std::vector<std::string> RoutedMagickCoders() {
  // The TIFF reader hands ImageMagick the sample layouts libtiff's RGBA interface does not take;
  // the GIF reader the files giflib refuses.
  std::vector<std::string> coders = {"TIFF", "GIF"};
  for (const TFormatRow& row : kFormatTable)
    if ((row.Decoder == TDecoder::Magick || row.Decoder == TDecoder::Metafile) &&
        std::find(coders.begin(), coders.end(), row.MagickFormat) == coders.end())
      coders.push_back(row.MagickFormat);
  return coders;
}

std::string GraphicFilter() {
  const auto formats = FileFormats().Effective();
  std::string all;
  for (const TFileFormat* f : formats) all += (all.empty() ? "*." : ";*.") + f->Extension;
  std::string filter = "All (" + all + ")|" + all;
  for (const TFileFormat* f : formats)
    filter += "|" + f->Description + " (*." + f->Extension + ")|*." + f->Extension;
  return filter;
}

std::string PictureExtension(const std::string& FileName) {
  const std::size_t dot = FileName.find_last_of('.');
  const std::size_t sep = FileName.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && sep > dot)) return {};
  return LowerCase(FileName.substr(dot + 1));
}

namespace {

TGraphic DecodeByFormat(const TFileFormat& ByExtension, std::span<const std::uint8_t> Data) {
  const TFileFormat& Format = ChooseFormat(ByExtension, Data);
  switch (Format.Decoder) {
    case TDecoder::Bmp: return detail::DecodeBmp(Data);
    case TDecoder::Icon: return detail::DecodeIcon(Data);
    case TDecoder::Jpeg: return detail::DecodeJpeg(Data);
    case TDecoder::Png: return detail::DecodePng(Data);
    case TDecoder::Gif:
      try {
        return detail::DecodeGif(Data);
      } catch (const EInvalidGraphic&) {
        // giflib is stricter than other readers (an LZW code size outside the format): ImageMagick
        // gets a second try, and when it fails too, giflib's words stand.
        try {
          return detail::DecodeMagick(Data, "GIF", Format.Description, pkBitmap);
        } catch (const EInvalidGraphic&) {
        }
        throw;
      }
    case TDecoder::Tiff: return detail::DecodeTiff(Data);
    case TDecoder::Tga: return detail::DecodeTga(Data);
    case TDecoder::WebP: return detail::DecodeWebP(Data);
    case TDecoder::Heif: return detail::DecodeHeif(Data);
    case TDecoder::Svg: return detail::DecodeSvg(Data);
    case TDecoder::Pdf: return detail::DecodePdf(Data);
    case TDecoder::Metafile:
      return detail::DecodeMagick(Data, Format.MagickFormat, Format.Description, pkMetafile);
    case TDecoder::Magick:
      return detail::DecodeMagick(Data, Format.MagickFormat, Format.Description, pkBitmap);
    case TDecoder::Unsupported: break;
  }
  throw EInvalidGraphic(quirlon::Format(kNoDecoder, Format.Description.c_str()));
}

}  // namespace

TGraphic DecodePicture(const TFileFormat& ByExtension, std::span<const std::uint8_t> Data, std::int64_t MaxPixels) {
  const TDecodeLimit limit(MaxPixels);
  TGraphic g = DecodeByFormat(ByExtension, Data);
  // Straight alpha in every pixel already: nothing for Assign to convert.
  if (g.Kind == pkBitmap && g.PixelFormat == pf32bit && !g.Transparent) g.AssignsUnchanged = true;
  return g;
}

namespace {

// The registered format of FileName, its bytes and their picture; every error but the file's own
// (EFOpenError, which names it already) names the file.
TGraphic DecodeFile(const std::string& FileName, std::int64_t MaxPixels) {
  const std::string ext = PictureExtension(FileName);
  const TFileFormat* format = FileFormats().Find(ext);
  if (!format) {
    // A device or a FIFO (/dev/zero, a pipe) is the graver fault; stat neither opens nor waits.
    struct stat st {};
    if (::stat(FileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      throw EFOpenError(Format(kFOpenError, FileName.c_str(), kNotRegularFile));
    throw EInvalidGraphic(Format(kPictureLoadError, FileName.c_str(), Format(kUnknownExtension, ext.c_str()).c_str()));
  }
  const TFileBytes data = ReadWholeFile(FileName);
  try {
    return DecodePicture(*format, data, MaxPixels);
  } catch (const EInvalidGraphic& e) {
    RethrowNamingFile(FileName, e);
  }
}

}  // namespace

TGraphic DecodePictureBytes(std::span<const std::uint8_t> Data, const std::string& Name, std::int64_t MaxPixels) {
  // The first bytes decide; the name's extension only for formats that have no signature.
  const TFileFormat* format = FormatOfContent(Data);
  if (!format) format = FileFormats().Find(PictureExtension(Name));
  if (!format)
    throw EInvalidGraphic(Format(kPictureLoadError, Name.c_str(), kUnknownPictureContent));
  try {
    return DecodePicture(*format, Data, MaxPixels);
  } catch (const EInvalidGraphic& e) {
    RethrowNamingFile(Name, e);
  }
}

void TPicture::LoadFromFile(const std::string& FileName, std::int64_t MaxPixels) {
  fGraphic = std::make_unique<TGraphic>(DecodeFile(FileName, MaxPixels));
}

void Assign(TBitmap32& Bitmap, const TGraphic& Source) {
  Bitmap.BeginUpdate();
  try {
    Bitmap.SetSize(Source.Width, Source.Height);
    const std::size_t count = static_cast<std::size_t>(Bitmap.Width()) * Bitmap.Height();
    if (count != 0 && Source.Pixels.size() >= count) {
      TColor32* bits = Bitmap.Bits();
      switch (Source.Kind) {
        case pkBitmap: {
          std::copy_n(Source.Pixels.begin(), count, bits);
          if (Source.PixelFormat != pf32bit)
            for (std::size_t i = 0; i < count; ++i) bits[i] |= 0xFF000000u;
          if (Source.Transparent) {
            const TColor32 key = Rgb(raster::Color32(Source.TransparentColor));
            for (std::size_t i = 0; i < count; ++i)
              if (Rgb(bits[i]) == key) bits[i] = key;
          }
          break;
        }
        case pkIcon:
        case pkMetafile: {
          // Drawn over white and over red: where both agree the pixel is solid, elsewhere the
          // background showed through.
          std::span<TColor32> white(bits, count);
          Source.DrawOver(0xFFFFFFFFu, white);
          std::vector<TColor32> red(count);
          Source.DrawOver(0xFFFF0000u, red);
          for (std::size_t i = 0; i < count; ++i)
            white[i] = Rgb(white[i]) == Rgb(red[i]) ? (white[i] | 0xFF000000u) : Rgb(white[i]);
          break;
        }
        case pkDrawn:
          std::copy_n(Source.Pixels.begin(), count, bits);
          for (std::size_t i = 0; i < count; ++i) bits[i] |= 0xFF000000u;
          break;
        case pkNone: break;
      }
    }
  } catch (...) {
    Bitmap.EndUpdate();
    throw;
  }
  Bitmap.EndUpdate();
  Bitmap.Changed();
}

void Assign(TBitmap32& Bitmap, const std::shared_ptr<const TGraphic>& Source) {
  const TGraphic& g = *Source;
  const bool plain = g.Kind == pkDrawn || (g.Kind == pkBitmap && !g.Transparent);
  if (!g.AssignsUnchanged || !plain || g.Empty() ||
      g.Pixels.size() < static_cast<std::size_t>(g.Width) * static_cast<std::size_t>(g.Height)) {
    Assign(Bitmap, g);
    return;
  }
  Bitmap.BeginUpdate();
  try {
    // The pixels live as long as the picture does, whoever else lets it go.
    Bitmap.ShareReadOnly(std::shared_ptr<const TColor32>(Source, g.Pixels.data()), g.Width, g.Height);
  } catch (...) {
    Bitmap.EndUpdate();
    throw;
  }
  Bitmap.EndUpdate();
  Bitmap.Changed();
}

void Assign(TBitmap32& Bitmap, const TPicture& Source) {
  if (const TGraphic* g = Source.Graphic()) {
    Assign(Bitmap, *g);
  } else {
    Assign(Bitmap, TGraphic{});
  }
}

void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName, std::int64_t MaxPixels) {
  TPicture picture;
  picture.LoadFromFile(FileName, MaxPixels);
  Assign(Bitmap, picture);
}

namespace {

// What tells a file's content apart between two loads; false when the file cannot be examined.
bool FileIdentity(const std::string& FileName, std::array<std::int64_t, 7>& Out) {
  struct stat st {};
  if (stat(FileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // The change time too: a copy that keeps the old modification time (cp -p) still changes it.
  Out = {static_cast<std::int64_t>(st.st_dev),          static_cast<std::int64_t>(st.st_ino),
         static_cast<std::int64_t>(st.st_size),         static_cast<std::int64_t>(st.st_mtim.tv_sec),
         static_cast<std::int64_t>(st.st_mtim.tv_nsec), static_cast<std::int64_t>(st.st_ctim.tv_sec),
         static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
  return true;
}

std::size_t GraphicBytes(const TGraphic& g) { return g.Pixels.size() * sizeof(TColor32) + sizeof(TGraphic); }

}  // namespace

namespace {

// A kept picture answers a load with a lower limit as decoding it again would.
std::shared_ptr<const TGraphic> WithinLimit(std::shared_ptr<const TGraphic> Graphic, const std::string& FileName,
                                            std::int64_t MaxPixels) {
  const TDecodeLimit limit(MaxPixels);
  try {
    detail::CheckPictureSize(Graphic->Width, Graphic->Height);
  } catch (const EInvalidGraphic& e) {
    RethrowNamingFile(FileName, e);
  }
  return Graphic;
}

}  // namespace

std::shared_ptr<const TGraphic> TPictureCache::Load(const std::string& FileName, std::int64_t MaxPixels) {
  std::lock_guard<std::mutex> lock(fMutex);
  std::array<std::int64_t, 7> identity{};
  // Examined before reading: a file that changes while it is read is read again next time.
  const bool known = FileIdentity(FileName, identity);
  for (std::size_t i = 0; i < fEntries.size(); ++i) {
    if (fEntries[i].FileName != FileName) continue;
    if (known && fEntries[i].Identity == identity) {
      std::rotate(fEntries.begin() + static_cast<std::ptrdiff_t>(i), fEntries.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                  fEntries.end());
      return WithinLimit(fEntries.back().Graphic, FileName, MaxPixels);
    }
    fEntries.erase(fEntries.begin() + static_cast<std::ptrdiff_t>(i));
    break;
  }
  std::erase_if(fPassing, [](const TPassing& p) { return p.Graphic.expired(); });
  for (const TPassing& p : fPassing)
    if (known && p.FileName == FileName && p.Identity == identity)
      if (std::shared_ptr<const TGraphic> graphic = p.Graphic.lock()) return WithinLimit(graphic, FileName, MaxPixels);
  // As TPicture::LoadFromFile, the decoded picture moved rather than copied.
  auto graphic = std::make_shared<const TGraphic>(DecodeFile(FileName, MaxPixels));
  if (!known) return graphic;  // nothing to tell a later change by
  const std::size_t bytes = GraphicBytes(*graphic);
  if (bytes > fMaxBytes) {
    fPassing.push_back(TPassing{FileName, identity, graphic});
    return graphic;
  }
  std::size_t total = bytes;
  for (const TEntry& e : fEntries) total += e.Bytes;
  while (total > fMaxBytes && !fEntries.empty()) {
    total -= fEntries.front().Bytes;
    fEntries.erase(fEntries.begin());
  }
  fEntries.push_back(TEntry{FileName, identity, graphic, bytes});
  return graphic;
}

void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName, TPictureCache& Cache, std::int64_t MaxPixels) {
  Assign(Bitmap, Cache.Load(FileName, MaxPixels));
}

TGraphic ExportBitmap(const TBitmap32& Bitmap) {
  TGraphic g;
  g.Kind = pkBitmap;
  g.PixelFormat = pf32bit;
  g.Width = Bitmap.Width();
  g.Height = Bitmap.Height();
  if (const TColor32* bits = Bitmap.Bits()) g.Pixels.assign(bits, bits + Bitmap.PixelCount());
  return g;
}


}  // namespace quirlon::imagefiles
