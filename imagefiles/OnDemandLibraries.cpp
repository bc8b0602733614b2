// libtiff and libwebp (with its mux and demux parts) are loaded on the first picture that reads or
// writes TIFF or WebP. Linked at start, they and what they pull in (zstd, lzma, Lerc, jbig) were
// eight of the renderer's nineteen libraries, mapped and relocated by every run: about a millisecond
// of system time and a little more of user time in each, also in the many runs that never meet
// either format.
//
// The functions the program calls are defined here under the libraries' own names and forward to
// the library's function, found when first called. The headers' declarations make the compiler
// check every signature. Variadic functions forward through the libraries' va_list versions.
#include <dlfcn.h>

#include <cstdarg>
#include <mutex>
#include <string>

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

class TLibrary {
public:
  explicit TLibrary(const char* File) : fFile(File) {}

  // The library's function Name; throws when the library or the function cannot be found, so the
  // picture fails with the reason instead of the program failing to start.
  void* Find(const char* Name) {
    std::call_once(fOpened, [this] {
      fHandle = ::dlopen(fFile, RTLD_NOW | RTLD_LOCAL);  // never closed: the program may call it again
      if (fHandle == nullptr) {
        const char* why = ::dlerror();
        fFailure = why != nullptr ? why : fFile;
      }
    });
    if (fHandle == nullptr)
      throw EInvalidGraphic(Format("The library %s could not be loaded (%s)", fFile, fFailure.c_str()));
    void* function = ::dlsym(fHandle, Name);
    if (function == nullptr)
      throw EInvalidGraphic(Format("The library %s has no function %s", fFile, Name));
    return function;
  }

private:
  const char* fFile;
  std::once_flag fOpened;
  void* fHandle = nullptr;
  std::string fFailure;
};

TLibrary& Tiff() {
  static TLibrary library(QUIRLON_LIBTIFF);
  return library;
}
TLibrary& Webp() {
  static TLibrary library(QUIRLON_LIBWEBP);
  return library;
}
TLibrary& WebpMux() {
  static TLibrary library(QUIRLON_LIBWEBPMUX);
  return library;
}
TLibrary& WebpDemux() {
  static TLibrary library(QUIRLON_LIBWEBPDEMUX);
  return library;
}

template <class TFunction>
TFunction* Found(TLibrary& Library, const char* Name) {
  return reinterpret_cast<TFunction*>(Library.Find(Name));
}

}  // namespace

}  // namespace quirlon::imagefiles

using quirlon::imagefiles::Found;

// The library function of the same name as the one being defined, found once.
#define QUIRLON_FORWARD(Library, Name) \
  static auto* const library_function = Found<decltype(::Name)>(quirlon::imagefiles::Library(), #Name); \
  return library_function

// ---- libtiff -----------------------------------------------------------------------------------

extern "C" {

TIFF* TIFFClientOpenExt(const char* Name, const char* Mode, thandle_t Client, TIFFReadWriteProc Read,
                        TIFFReadWriteProc Write, TIFFSeekProc Seek, TIFFCloseProc Close, TIFFSizeProc Size,
                        TIFFMapFileProc Map, TIFFUnmapFileProc Unmap, TIFFOpenOptions* Options) {
  QUIRLON_FORWARD(Tiff, TIFFClientOpenExt)(Name, Mode, Client, Read, Write, Seek, Close, Size, Map, Unmap, Options);
}
void TIFFClose(TIFF* Tif) { QUIRLON_FORWARD(Tiff, TIFFClose)(Tif); }
uint32_t TIFFDefaultStripSize(TIFF* Tif, uint32_t Request) {
  QUIRLON_FORWARD(Tiff, TIFFDefaultStripSize)(Tif, Request);
}
TIFFOpenOptions* TIFFOpenOptionsAlloc(void) { QUIRLON_FORWARD(Tiff, TIFFOpenOptionsAlloc)(); }
void TIFFOpenOptionsFree(TIFFOpenOptions* Options) { QUIRLON_FORWARD(Tiff, TIFFOpenOptionsFree)(Options); }
void TIFFOpenOptionsSetErrorHandlerExtR(TIFFOpenOptions* Options, TIFFErrorHandlerExtR Handler, void* Data) {
  QUIRLON_FORWARD(Tiff, TIFFOpenOptionsSetErrorHandlerExtR)(Options, Handler, Data);
}
void TIFFOpenOptionsSetWarningHandlerExtR(TIFFOpenOptions* Options, TIFFErrorHandlerExtR Handler, void* Data) {
  QUIRLON_FORWARD(Tiff, TIFFOpenOptionsSetWarningHandlerExtR)(Options, Handler, Data);
}
void TIFFOpenOptionsSetMaxSingleMemAlloc(TIFFOpenOptions* Options, tmsize_t Limit) {
  QUIRLON_FORWARD(Tiff, TIFFOpenOptionsSetMaxSingleMemAlloc)(Options, Limit);
}
int TIFFRGBAImageOK(TIFF* Tif, char Message[1024]) { QUIRLON_FORWARD(Tiff, TIFFRGBAImageOK)(Tif, Message); }
int TIFFReadRGBAImageOriented(TIFF* Tif, uint32_t Width, uint32_t Height, uint32_t* Raster, int Orientation, int Stop) {
  QUIRLON_FORWARD(Tiff, TIFFReadRGBAImageOriented)(Tif, Width, Height, Raster, Orientation, Stop);
}
int TIFFWriteDirectory(TIFF* Tif) { QUIRLON_FORWARD(Tiff, TIFFWriteDirectory)(Tif); }
int TIFFWriteScanline(TIFF* Tif, void* Buffer, uint32_t Row, uint16_t Sample) {
  QUIRLON_FORWARD(Tiff, TIFFWriteScanline)(Tif, Buffer, Row, Sample);
}
int TIFFVSetField(TIFF* Tif, uint32_t Tag, va_list Arguments) {
  QUIRLON_FORWARD(Tiff, TIFFVSetField)(Tif, Tag, Arguments);
}
int TIFFVGetField(TIFF* Tif, uint32_t Tag, va_list Arguments) {
  QUIRLON_FORWARD(Tiff, TIFFVGetField)(Tif, Tag, Arguments);
}
int TIFFVGetFieldDefaulted(TIFF* Tif, uint32_t Tag, va_list Arguments) {
  QUIRLON_FORWARD(Tiff, TIFFVGetFieldDefaulted)(Tif, Tag, Arguments);
}
int TIFFSetField(TIFF* Tif, uint32_t Tag, ...) {
  va_list arguments;
  va_start(arguments, Tag);
  const int result = TIFFVSetField(Tif, Tag, arguments);
  va_end(arguments);
  return result;
}
int TIFFGetField(TIFF* Tif, uint32_t Tag, ...) {
  va_list arguments;
  va_start(arguments, Tag);
  const int result = TIFFVGetField(Tif, Tag, arguments);
  va_end(arguments);
  return result;
}
int TIFFGetFieldDefaulted(TIFF* Tif, uint32_t Tag, ...) {
  va_list arguments;
  va_start(arguments, Tag);
  const int result = TIFFVGetFieldDefaulted(Tif, Tag, arguments);
  va_end(arguments);
  return result;
}

// ---- libwebp -----------------------------------------------------------------------------------

int WebPConfigInitInternal(WebPConfig* Config, WebPPreset Preset, float Quality, int Version) {
  QUIRLON_FORWARD(Webp, WebPConfigInitInternal)(Config, Preset, Quality, Version);
}
int WebPValidateConfig(const WebPConfig* Config) { QUIRLON_FORWARD(Webp, WebPValidateConfig)(Config); }
int WebPPictureInitInternal(WebPPicture* Picture, int Version) {
  QUIRLON_FORWARD(Webp, WebPPictureInitInternal)(Picture, Version);
}
int WebPPictureImportBGRA(WebPPicture* Picture, const uint8_t* Bgra, int Stride) {
  QUIRLON_FORWARD(Webp, WebPPictureImportBGRA)(Picture, Bgra, Stride);
}
int WebPPictureImportRGBA(WebPPicture* Picture, const uint8_t* Rgba, int Stride) {
  QUIRLON_FORWARD(Webp, WebPPictureImportRGBA)(Picture, Rgba, Stride);
}
void WebPPictureFree(WebPPicture* Picture) { QUIRLON_FORWARD(Webp, WebPPictureFree)(Picture); }
int WebPEncode(const WebPConfig* Config, WebPPicture* Picture) { QUIRLON_FORWARD(Webp, WebPEncode)(Config, Picture); }
void WebPMemoryWriterInit(WebPMemoryWriter* Writer) { QUIRLON_FORWARD(Webp, WebPMemoryWriterInit)(Writer); }
void WebPMemoryWriterClear(WebPMemoryWriter* Writer) { QUIRLON_FORWARD(Webp, WebPMemoryWriterClear)(Writer); }
int WebPMemoryWrite(const uint8_t* Data, size_t Size, const WebPPicture* Picture) {
  QUIRLON_FORWARD(Webp, WebPMemoryWrite)(Data, Size, Picture);
}
void WebPFree(void* Memory) { QUIRLON_FORWARD(Webp, WebPFree)(Memory); }
VP8StatusCode WebPGetFeaturesInternal(const uint8_t* Data, size_t Size, WebPBitstreamFeatures* Features, int Version) {
  QUIRLON_FORWARD(Webp, WebPGetFeaturesInternal)(Data, Size, Features, Version);
}
uint8_t* WebPDecodeBGRAInto(const uint8_t* Data, size_t Size, uint8_t* Output, size_t OutputSize, int Stride) {
  QUIRLON_FORWARD(Webp, WebPDecodeBGRAInto)(Data, Size, Output, OutputSize, Stride);
}

WebPMux* WebPNewInternal(int Version) { QUIRLON_FORWARD(WebpMux, WebPNewInternal)(Version); }
void WebPMuxDelete(WebPMux* Mux) { QUIRLON_FORWARD(WebpMux, WebPMuxDelete)(Mux); }
WebPMuxError WebPMuxSetAnimationParams(WebPMux* Mux, const WebPMuxAnimParams* Params) {
  QUIRLON_FORWARD(WebpMux, WebPMuxSetAnimationParams)(Mux, Params);
}
WebPMuxError WebPMuxPushFrame(WebPMux* Mux, const WebPMuxFrameInfo* Frame, int CopyData) {
  QUIRLON_FORWARD(WebpMux, WebPMuxPushFrame)(Mux, Frame, CopyData);
}
WebPMuxError WebPMuxAssemble(WebPMux* Mux, WebPData* Assembled) {
  QUIRLON_FORWARD(WebpMux, WebPMuxAssemble)(Mux, Assembled);
}

int WebPAnimDecoderOptionsInitInternal(WebPAnimDecoderOptions* Options, int Version) {
  QUIRLON_FORWARD(WebpDemux, WebPAnimDecoderOptionsInitInternal)(Options, Version);
}
WebPAnimDecoder* WebPAnimDecoderNewInternal(const WebPData* Data, const WebPAnimDecoderOptions* Options, int Version) {
  QUIRLON_FORWARD(WebpDemux, WebPAnimDecoderNewInternal)(Data, Options, Version);
}
int WebPAnimDecoderGetInfo(const WebPAnimDecoder* Decoder, WebPAnimInfo* Info) {
  QUIRLON_FORWARD(WebpDemux, WebPAnimDecoderGetInfo)(Decoder, Info);
}
int WebPAnimDecoderGetNext(WebPAnimDecoder* Decoder, uint8_t** Buffer, int* Timestamp) {
  QUIRLON_FORWARD(WebpDemux, WebPAnimDecoderGetNext)(Decoder, Buffer, Timestamp);
}
void WebPAnimDecoderDelete(WebPAnimDecoder* Decoder) { QUIRLON_FORWARD(WebpDemux, WebPAnimDecoderDelete)(Decoder); }

}  // extern "C"
