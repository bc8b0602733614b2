// The rarer formats through ImageMagick's Magick++. The library is shut in when it starts, in code,
// whatever its system policy file says:
// - only the coders the format table routes to it may be loaded or read (RoutedMagickCoders);
// - no delegate: it never runs an external program (Ghostscript and the like), and no file names
//   indirectly ("@list"), so a picture can neither run anything nor reach another file or the network;
// - its pixel cache stays in memory (no disk, no mapped files, so nothing in the temporary folder),
//   within the picture limits, on one thread;
// - a decode that runs past kMagickSeconds is cancelled through the progress monitor (the library's
//   own time limit counts from the start of the process and then ends it).
// The coder always comes from our table, never from ImageMagick's guess, so a file cannot pick a
// reader by its contents. A policy that cannot be set makes every one of these formats unsupported.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>

#include <Magick++.h>

#include "imagefiles/Decoders.h"
#include "raster/Errors.h"

namespace quirlon::imagefiles::detail {

namespace {

constexpr int kMagickSeconds = 20;
// Pixel cache of the largest picture at 16 bits a sample, four samples, and some room.
constexpr MagickCore::MagickSizeType kMagickMemory = static_cast<MagickCore::MagickSizeType>(kMaxPicturePixels) * 8 + (64u << 20);

extern "C" void MagickQuiet(const MagickCore::ExceptionType, const char*, const char*) {}

// Fatal errors mean ImageMagick's own state is broken (a lock it cannot create): it must not
// return into the library, so say why and stop.
extern "C" __attribute__((noreturn)) void MagickFatal(const MagickCore::ExceptionType, const char* reason,
                                                     const char* description) {
  const char* parts[] = {"ImageMagick: fatal error: ", reason ? reason : "", " ", description ? description : "", "\n"};
  for (const char* p : parts)
    if (::write(STDERR_FILENO, p, std::strlen(p)) < 0) break;
  std::abort();
}

std::string JoinedCoders(const std::vector<std::string>& coders) {
  std::string list;
  for (const std::string& c : coders) list += (list.empty() ? "" : ",") + c;
  return "{" + list + "}";
}

// Later rules win over earlier ones and over the system's file, so each domain is closed first and
// then opened for our coders alone. Modules need read and write rights to be loaded.
std::string LockedPolicy() {
  const std::string coders = JoinedCoders(RoutedMagickCoders());
  return "<policymap>\n"
         "  <policy domain=\"delegate\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"path\" rights=\"none\" pattern=\"@*\"/>\n"
         "  <policy domain=\"filter\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"coder\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"coder\" rights=\"read\" pattern=\"" + coders + "\"/>\n"
         "  <policy domain=\"module\" rights=\"none\" pattern=\"*\"/>\n"
         "  <policy domain=\"module\" rights=\"read|write\" pattern=\"" + coders + "\"/>\n"
         "</policymap>\n";
}

bool Authorized(MagickCore::PolicyDomain domain, MagickCore::PolicyRights rights, const std::string& pattern) {
  return MagickCore::IsRightsAuthorized(domain, rights, pattern.c_str()) != MagickCore::MagickFalse;
}

// True once ImageMagick runs shut in; false when it could not be (then nothing is handed to it).
bool InitialiseMagick() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    // Without signal handlers: the program's own stay in place.
    Magick::InitializeMagick(nullptr);
    MagickCore::SetErrorHandler(&MagickQuiet);
    MagickCore::SetWarningHandler(&MagickQuiet);
    MagickCore::SetFatalErrorHandler(&MagickFatal);
    MagickCore::ExceptionInfo* exception = MagickCore::AcquireExceptionInfo();
    const bool policySet = MagickCore::SetMagickSecurityPolicy(LockedPolicy().c_str(), exception) != MagickCore::MagickFalse;
    MagickCore::DestroyExceptionInfo(exception);
    using Magick::ResourceLimits;
    ResourceLimits::width(kMaxPictureSide);
    ResourceLimits::height(kMaxPictureSide);
    ResourceLimits::area(kMaxPicturePixels);
    ResourceLimits::memory(kMagickMemory);
    ResourceLimits::map(0);
    ResourceLimits::disk(0);
    ResourceLimits::thread(1);
    ResourceLimits::listLength(64);
    ready = policySet && !Authorized(MagickCore::CoderPolicyDomain, MagickCore::ReadPolicyRights, "EPS") &&
            !Authorized(MagickCore::DelegatePolicyDomain, MagickCore::ExecutePolicyRights, "ps:alpha");
  });
  return ready;
}

struct TDeadline {
  std::chrono::steady_clock::time_point End;
  bool Passed = false;
};

// Called by the coders as they go; false makes them stop.
extern "C" MagickCore::MagickBooleanType MagickProgress(const char*, const MagickCore::MagickOffsetType,
                                                       const MagickCore::MagickSizeType, void* data) {
  auto* deadline = static_cast<TDeadline*>(data);
  if (std::chrono::steady_clock::now() > deadline->End) deadline->Passed = true;
  return deadline->Passed ? MagickCore::MagickFalse : MagickCore::MagickTrue;
}

// ImageMagick's words without the program name in front and the source position behind:
// "prog: improper image header `picture' @ error/tga.c/ReadTGAImage/205".
std::string MagickWords(const std::string& what) {
  std::string text = what;
  if (const std::size_t at = text.find(" @ "); at != std::string::npos) text.erase(at);
  if (const std::size_t colon = text.find(": "); colon != std::string::npos && colon < 40) text.erase(0, colon + 2);
  if (const std::size_t quote = text.find(" `"); quote != std::string::npos) text.erase(quote);
  return text;
}

}  // namespace

bool MagickMayRead(const std::string& Coder) {
  return InitialiseMagick() && Authorized(MagickCore::CoderPolicyDomain, MagickCore::ReadPolicyRights, Coder) &&
         Authorized(MagickCore::ModulePolicyDomain, MagickCore::ReadPolicyRights, Coder);
}

bool MagickMayRunDelegate(const std::string& Delegate) {
  InitialiseMagick();
  return Authorized(MagickCore::DelegatePolicyDomain, MagickCore::ExecutePolicyRights, Delegate);
}

TGraphic DecodeMagick(std::span<const std::uint8_t> Data, const std::string& Format, const std::string& Description,
                      TPictureKind Kind) {
  const std::string noDecoder = quirlon::Format(kNoDecoder, Description.c_str());
  const std::vector<std::string> routed = RoutedMagickCoders();
  if (std::find(routed.begin(), routed.end(), Format) == routed.end()) throw EInvalidGraphic(noDecoder);
  if (!InitialiseMagick()) Refuse("ImageMagick could not be shut in, so it reads nothing", noDecoder);
  {
    MagickCore::ExceptionInfo* exception = MagickCore::AcquireExceptionInfo();
    const MagickCore::MagickInfo* info = MagickCore::GetMagickInfo(Format.c_str(), exception);
    MagickCore::DestroyExceptionInfo(exception);
    if (!info || !info->decoder) throw EInvalidGraphic(noDecoder);
  }
  const std::string invalid = quirlon::Format(kInvalidImageFormat, Format.c_str());
  if (Data.empty()) Refuse("the file is empty", invalid);

  TDeadline deadline{std::chrono::steady_clock::now() + std::chrono::seconds(kMagickSeconds)};
  Magick::Image image;
  // Warnings come as exceptions after the step has finished: damage means a partial picture, any
  // other warning leaves a whole one.
  auto run = [&](auto&& step) {
    std::string failure;
    try {
      step();
    } catch (const Magick::WarningCorruptImage& e) {
      failure = MagickWords(e.what());
    } catch (const Magick::Warning&) {
    } catch (const Magick::Exception& e) {
      failure = MagickWords(e.what());
      // The system's policy file may allow less memory than we ask for; it cannot be raised here.
      if (failure.find("resources exhausted") != std::string::npos)
        failure += quirlon::Format(": the picture needs more memory than ImageMagick may use on this system (%llu MiB)",
                                   static_cast<unsigned long long>(
                                       MagickCore::GetMagickResourceLimit(MagickCore::MemoryResource) >> 20));
    }
    if (deadline.Passed) Refuse(quirlon::Format("the picture takes more than %d seconds to read", kMagickSeconds), invalid);
    if (!failure.empty()) Refuse(failure, invalid);
  };
  run([&] {
    image.magick(Format);  // sets "PSD:" in front of the name: the coder is not guessed
    MagickCore::SetImageInfoProgressMonitor(image.imageInfo(), &MagickProgress, &deadline);
    image.ping(Magick::Blob(Data.data(), Data.size()));
  });
  // Refused by the header, before any pixel memory is taken.
  CheckPictureSize(static_cast<std::int64_t>(image.columns()), static_cast<std::int64_t>(image.rows()));
  run([&] {
    // The first frame (a Photoshop file's merged picture) only. Set after the ping: ImageMagick 6
    // loses a string on every ping of a frame range.
    image.subImage(0);
    image.subRange(1);
    image.magick(Format);
    image.read(Magick::Blob(Data.data(), Data.size()));
  });
  const std::int64_t width = static_cast<std::int64_t>(image.columns()), height = static_cast<std::int64_t>(image.rows());
  if (width == 0 || height == 0) Refuse("the picture has no pixels", invalid);
  CheckPictureSize(width, height);

  TGraphic g;
  g.Kind = Kind;
  g.Width = static_cast<std::int32_t>(width);
  g.Height = static_cast<std::int32_t>(height);
  const bool alpha = image.matte();
  g.PixelFormat = alpha ? pf32bit : pf24bit;
  g.UsesAlpha = Kind != pkBitmap;
  g.Pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  // B, G, R, A bytes are a TColor32 in memory; without alpha ImageMagick gives it as 255.
  static_assert(std::endian::native == std::endian::little);
  try {
    image.write(0, 0, static_cast<std::size_t>(width), static_cast<std::size_t>(height), "BGRA", Magick::CharPixel,
                g.Pixels.data());
  } catch (const Magick::Error& e) {
    Refuse(MagickWords(e.what()), invalid);
  } catch (const Magick::Warning&) {
  }
  return g;
}

}  // namespace quirlon::imagefiles::detail
