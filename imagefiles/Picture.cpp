#include "imagefiles/Picture.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>

#include "imagefiles/Decoders.h"
#include "imagefiles/FileRead.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

std::string LowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void RegisterAll(TFileFormatsList& list) {
  // The platform's own formats, then JPEG, then the PNG library.
  list.Add("wmf", "Windows metafiles", TDecoder::Metafile, "WMF");
  list.Add("emf", "Windows enhanced meta files", TDecoder::Metafile, "EMF");
  list.Add("ico", "Windows icons", TDecoder::Icon);
  list.Add("bmp", "Windows bitmaps", TDecoder::Bmp);
  list.Add("jpeg", "JPEG images", TDecoder::Jpeg);
  list.Add("jpg", "JPG images", TDecoder::Jpeg);
  list.Add("png", "Portable network graphic images", TDecoder::Png);
  // The side formats register every extension again; being newest, these entries decide.
  list.Add("bmp", "Windows bitmaps", TDecoder::Bmp);
  list.Add("ico", "Windows icons", TDecoder::Icon);
  list.Add("wmf", "Windows metafiles", TDecoder::Metafile, "WMF");
  list.Add("emf", "Windows enhanced meta files", TDecoder::Metafile, "EMF");
  list.Add("jfif", "JFIF images", TDecoder::Jpeg);
  list.Add("jpg", "JPG images", TDecoder::Jpeg);
  list.Add("jpe", "JPE images", TDecoder::Jpeg);
  list.Add("jpeg", "JPEG images", TDecoder::Jpeg);
  list.Add("rle", "Run length encoded Windows bitmaps", TDecoder::Bmp);
  list.Add("dib", "Device independant Windows bitmaps", TDecoder::Bmp);
  for (const char* ext : {"win", "vst", "vda", "tga", "icb"})
    list.Add(ext, "Truevision images", TDecoder::Magick, "TGA");
  list.Add("tiff", "Macintosh TIFF images", TDecoder::Tiff);
  list.Add("tif", "PC TIF images", TDecoder::Tiff);
  list.Add("fax", "GFI fax images", TDecoder::Tiff);
  list.Add("eps", "Encapsulated Postscript images", TDecoder::Magick, "EPS");
  list.Add("pcx", "ZSoft Paintbrush images", TDecoder::Magick, "PCX");
  list.Add("pcc", "ZSoft Paintbrush images", TDecoder::Magick, "PCX");
  list.Add("scr", "Word 5.x screen capture images", TDecoder::Magick);
  list.Add("rpf", "Alias/Wavefront images", TDecoder::Magick, "RLA");
  list.Add("rla", "Alias/Wavefront images", TDecoder::Magick, "RLA");
  list.Add("sgi", "SGI true color images", TDecoder::Magick, "SGI");
  list.Add("rgba", "SGI true color images with alpha", TDecoder::Magick, "SGI");
  list.Add("rgb", "SGI true color images", TDecoder::Magick, "SGI");
  list.Add("bw", "SGI black/white images", TDecoder::Magick, "SGI");
  list.Add("psd", "Photoshop images", TDecoder::Magick, "PSD");
  list.Add("pdd", "Photoshop images", TDecoder::Magick, "PSD");
  list.Add("ppm", "Portable pixel map images", TDecoder::Magick, "PNM");
  list.Add("pgm", "Portable gray map images", TDecoder::Magick, "PNM");
  list.Add("pbm", "Portable bitmap images", TDecoder::Magick, "PNM");
  list.Add("cel", "Autodesk images", TDecoder::Magick);
  list.Add("pic", "Autodesk images", TDecoder::Magick);
  list.Add("pcd", "Kodak Photo-CD images", TDecoder::Magick, "PCD");
  list.Add("gif", "CompuServe images", TDecoder::Gif);
  list.Add("cut", "Dr. Halo images", TDecoder::Magick, "CUT");
  list.Add("psp", "Paintshop Pro images", TDecoder::Magick);
  list.Add("png", "Portable network graphic images", TDecoder::Png);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName) {
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
  fFormats.push_back(TFileFormat{LowerCase(std::move(Extension)), std::move(Description), Decoder,
                                 std::move(MagickFormat)});
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

TGraphic DecodePicture(const TFileFormat& Format, std::span<const std::uint8_t> Data) {
  switch (Format.Decoder) {
    case TDecoder::Bmp: return detail::DecodeBmp(Data);
    case TDecoder::Icon: return detail::DecodeIcon(Data);
    case TDecoder::Jpeg: return detail::DecodeJpeg(Data);
    case TDecoder::Png: return detail::DecodePng(Data);
    case TDecoder::Gif: return detail::DecodeGif(Data);
    case TDecoder::Tiff: return detail::DecodeTiff(Data);
    case TDecoder::Metafile:
      return detail::DecodeMagick(Data, Format.MagickFormat, Format.Description, pkMetafile);
    case TDecoder::Magick:
      return detail::DecodeMagick(Data, Format.MagickFormat, Format.Description, pkBitmap);
  }
  throw EInvalidGraphic(quirlon::Format(kUnknownExtension, Format.Extension.c_str()));
}

void TPicture::LoadFromFile(const std::string& FileName) {
  const std::string ext = PictureExtension(FileName);
  const TFileFormat* format = FileFormats().Find(ext);
  if (!format) throw EInvalidGraphic(Format(kUnknownExtension, ext.c_str()));
  const std::vector<std::uint8_t> data = ReadWholeFile(FileName);
  fGraphic = std::make_unique<TGraphic>(DecodePicture(*format, data));
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

void Assign(TBitmap32& Bitmap, const TPicture& Source) {
  if (const TGraphic* g = Source.Graphic()) {
    Assign(Bitmap, *g);
  } else {
    Assign(Bitmap, TGraphic{});
  }
}

void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName) {
  TPicture picture;
  picture.LoadFromFile(FileName);
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

std::shared_ptr<const TGraphic> TPictureCache::Load(const std::string& FileName) {
  std::lock_guard<std::mutex> lock(fMutex);
  std::array<std::int64_t, 7> identity{};
  // Examined before reading: a file that changes while it is read is read again next time.
  const bool known = FileIdentity(FileName, identity);
  for (std::size_t i = 0; i < fEntries.size(); ++i) {
    if (fEntries[i].FileName != FileName) continue;
    if (known && fEntries[i].Identity == identity) {
      std::rotate(fEntries.begin() + static_cast<std::ptrdiff_t>(i), fEntries.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                  fEntries.end());
      return fEntries.back().Graphic;
    }
    fEntries.erase(fEntries.begin() + static_cast<std::ptrdiff_t>(i));
    break;
  }
  // As TPicture::LoadFromFile, the decoded picture moved rather than copied.
  const TFileFormat* format = FileFormats().Find(PictureExtension(FileName));
  if (!format) throw EInvalidGraphic(Format(kUnknownExtension, PictureExtension(FileName).c_str()));
  auto graphic = std::make_shared<const TGraphic>(DecodePicture(*format, ReadWholeFile(FileName)));
  if (!known) return graphic;  // nothing to tell a later change by
  const std::size_t bytes = GraphicBytes(*graphic);
  if (bytes > fMaxBytes) return graphic;
  std::size_t total = bytes;
  for (const TEntry& e : fEntries) total += e.Bytes;
  while (total > fMaxBytes && !fEntries.empty()) {
    total -= fEntries.front().Bytes;
    fEntries.erase(fEntries.begin());
  }
  fEntries.push_back(TEntry{FileName, identity, graphic, bytes});
  return graphic;
}

void LoadFromFile(TBitmap32& Bitmap, const std::string& FileName, TPictureCache& Cache) {
  const std::shared_ptr<const TGraphic> graphic = Cache.Load(FileName);
  Assign(Bitmap, *graphic);
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

namespace detail {

void CheckPictureSize(std::int64_t Width, std::int64_t Height) {
  if (Width > kMaxPictureSide || Height > kMaxPictureSide || Width * Height > kMaxPicturePixels)
    throw EInvalidGraphic(Format(kPictureTooLarge, static_cast<int>(std::min<std::int64_t>(Width, INT32_MAX)),
                                 static_cast<int>(std::min<std::int64_t>(Height, INT32_MAX))));
}

}  // namespace detail

}  // namespace quirlon::imagefiles
