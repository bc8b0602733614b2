#pragma once
// One box shot as everything outside the program describes it: the command line's options, a
// batch file's row, a scene file, a web form. All of them name a value by the same key, the long
// option name without its dashes ("reflection-opacity", "front", "output"); this is the one table
// of those keys, with their ranges, their help text and how each one changes a job.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ProductJob.h"
#include "core/Render.h"
#include "imagefiles/OutputWriters.h"
#include "imagefiles/Quantiser.h"
#include "raster/Errors.h"

namespace quirlon::core {

// The largest canvas side a job asks for: print sizes and store pages; the render's memory budget
// still decides whether a template fits.
inline constexpr std::int32_t kMaxJobCanvasSide = 8192;

// Where a finished picture goes and how it is written.
struct TJobOutput {
  std::string File;  // "-": standard output
  std::optional<imagefiles::TOutputFormat> Format;  // given by name; otherwise File's extension decides
  std::int32_t Dpi = 96;
  std::int32_t Quality = 90;  // JPEG and WebP
  bool Lossless = false;      // WebP
  imagefiles::TPngEffort PngEffort = imagefiles::TPngEffort::Default;
  bool Flip = false;  // mirrored left to right
  imagefiles::TDither Dither = imagefiles::TDither::None;  // GIF animations

  bool ToStandardOutput() const { return File == "-"; }
  imagefiles::TSaveOptions SaveOptions() const { return {Dpi, Quality, Lossless, PngEffort}; }
};

// The format Output is written in: the named format, else the one File's extension names, PNG for
// standard output. A name without an extension takes the named format, and a device or FIFO
// without one is PNG unless a format is named. Throws EJobValue for "output" when the name names
// no format, or for "format" when the named format and the extension disagree; nothing is
// rendered before this is known.
imagefiles::TOutputFormat OutputFormatOfJob(const TJobOutput& Output);

// The product turning on its floor, as an animated picture or numbered frames.
inline constexpr std::int32_t kMaxTurntableFrames = 3600;
struct TTurntableJob {
  std::int32_t Frames = 0;  // "--turntable N"; 0: a still picture
  // "--yaw-range A:B": the camera's yaw from A to B degrees. A whole turn (B - A = 360) stops one
  // step short of B, which is A again, so that the loop does not show one angle twice; a swing
  // shows both ends.
  double YawFrom = -180, YawTo = 180;
  bool YawRangeGiven = false;
  std::int32_t Fps = 24;
  std::int32_t Loop = 0;     // plays this often, 0 for ever
  std::string FramesFolder;  // "--frames DIR": numbered PNG files instead of one animation

  bool WholeTurn() const { return YawTo - YawFrom == 360; }
  // The yaw of frame Index (0 to Frames - 1).
  double YawOf(std::int32_t Index) const;
};

// "A:B" in degrees, -360 <= A < B <= 360 and B - A at most 360; throws EJobValue for "yaw-range".
void ParseYawRange(const std::string& Text, double& From, double& To);

struct TJob {
  std::string Template = "1";   // number as the window counts, display name, or a template file
  std::string TemplatesFolder;  // where numbers and names are looked up; empty: beside the program
  TRenderRequest Request;       // all but the template file, which the caller resolves
  TJobOutput Output;
  TProductJob Product;  // a product from dimensions, or a template's product turned
  TTurntableJob Turntable;
  // Which canvas sides were asked for: one side alone takes the other from the template's
  // proportions (FitCanvasToTemplate).
  bool WidthGiven = false;
  bool HeightGiven = false;
};

// Sizes that shops and social networks ask for, by name ("--preset story").
struct TCanvasPreset {
  std::string_view Name;
  std::int32_t Width, Height;
  std::string_view Use;
};
const std::vector<TCanvasPreset>& CanvasPresets();

// With only one side of Request's canvas given, the other follows the template's proportions
// (TemplateWidth x TemplateHeight), rounded to the nearest pixel and kept within 32..8192.
void FitCanvasToTemplate(TJob& Job, std::int32_t TemplateWidth, std::int32_t TemplateHeight);

// A key that does not exist or a value a key does not take. Detail goes after the key's name as
// the caller writes it ("--width" on the command line, "width" in a batch file): " takes a whole
// number from 32 to 8192, not 'x'".
class EJobValue : public Exception {
public:
  EJobValue(std::string Key, std::string Detail)
      : Exception(Key + Detail), fKey(std::move(Key)), fDetail(std::move(Detail)) {}
  const std::string& Key() const { return fKey; }
  const std::string& Detail() const { return fDetail; }

private:
  std::string fKey;
  std::string fDetail;
};

// What a key's value is, for the help text and for the forms that ask for it.
enum class TJobKeyKind : std::uint8_t { Switch, Number, Colour, Source, Text, File, Folder, Size, Length, Angle, Percent };

struct TJobKey {
  std::string_view Name;
  TJobKeyKind Kind;
  std::string_view Argument;  // as the help shows it ("N", "COLOUR"); empty for switches
  std::string_view Section;   // the help's heading the key is listed under ("" first)
  std::string_view Help;      // what it does, with its range and default
  std::int32_t Min = 0;       // Number: the range, both ends included
  std::int32_t Max = 0;
  // Sets the value on Job. Files are taken relative to BaseFolder unless absolute (empty: as given).
  void (*Apply)(TJob& Job, const std::string& Value, const std::string& BaseFolder) = nullptr;
};

const std::vector<TJobKey>& JobKeys();
// The key of that exact name, or nullptr.
const TJobKey* FindJobKey(std::string_view Name);

// Sets Key = Value on Job. Throws EJobValue for an unknown key or a value the key does not take.
// A switch takes "", "1", "true", "yes" or "on" for on and "0", "false", "no" or "off" for off.
void ApplyJobValue(TJob& Job, std::string_view Key, const std::string& Value, const std::string& BaseFolder = {});

// "#RRGGBB", or any colour text a "customcolor" layer accepts (a colour name or an integer).
// Throws EJobValue naming Key otherwise.
raster::TColor ParseColourValue(std::string_view Key, const std::string& Text);

// What a slot shows for Value: an existing file wins; otherwise a colour; otherwise it is taken as
// a file, so that the loader names what is wrong with it.
TSlotSource SlotSourceValue(const std::string& Value, const std::string& BaseFolder);

// A size in bytes, or with K, M, G or T (1024-based) such as "512M"; EJobValue naming Key otherwise.
std::int64_t ParseByteSize(std::string_view Key, const std::string& Text);

// A whole number from Min to Max written in decimal; EJobValue naming Key and the range otherwise.
std::int32_t ParseWholeNumber(std::string_view Key, const std::string& Text, std::int32_t Min, std::int32_t Max);

}  // namespace quirlon::core
