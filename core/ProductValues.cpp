#include "core/ProductValues.h"

#include <charconv>
#include <cmath>
#include <tuple>
#include <vector>

#include "core/IniFile.h"
#include "core/ProductError.h"
#include "core/ProductScene.h"

namespace quirlon::core {

namespace {

constexpr const char* kSizeSyntax = "WxH or WxHxD in mm or in (for example 127x203x15mm or 5x8in)";

std::string Quoted(std::string_view Text) {
  std::string quoted = "\"";
  quoted.append(Text).append("\"");
  return quoted;
}

// Text without a trailing "mm" or "in" (any case), and the millimetres one unit of it is.
std::string_view StripUnit(std::string_view Text, double& Millimetres) {
  Millimetres = 1;
  if (Text.size() >= 2) {
    const std::string unit = AsciiLowerCase(Text.substr(Text.size() - 2));
    if (unit == "mm" || unit == "in") {
      Millimetres = unit == "in" ? kMillimetresPerInch : 1;
      return Text.substr(0, Text.size() - 2);
    }
  }
  return Text;
}

// "Width 0 mm is out of range: 10 to 1000 mm", with the inch figures when the value came in inches.
void CheckSide(std::string_view What, double Value, double Unit, double Min, double Max, std::string_view From) {
  if (Value >= Min && Value <= Max) return;
  std::string message = std::string(What) + " ";
  if (Unit != 1)
    message += FormatNumber(Value / Unit) + " in (" + FormatNumber(Value) + " mm)";
  else
    message += FormatNumber(Value) + " mm";
  if (!From.empty()) message.append(" ").append(From);
  message.append(" is out of range: ").append(FormatNumber(Min)).append(" to ").append(FormatNumber(Max)).append(" mm");
  if (Unit != 1)
    message.append(" (")
        .append(FormatNumber(std::round(Min / Unit * 100) / 100))
        .append(" to ")
        .append(FormatNumber(std::round(Max / Unit * 100) / 100))
        .append(" in)");
  throw EBadProductValue(message);
}

std::string PictureText(std::string_view Slot, const TPictureSize& Picture) {
  return "from the " + std::string(Slot) + " picture's proportions (" + std::to_string(Picture.Width) + " x " +
         std::to_string(Picture.Height) + " pixels)";
}

double Proportion(std::string_view Slot, const TPictureSize& Picture) {
  if (Picture.Width <= 0 || Picture.Height <= 0)
    throw EBadProductValue("The " + std::string(Slot) + " picture has no pixels to take its proportions from");
  return static_cast<double>(Picture.Width) / Picture.Height;
}

}  // namespace

std::string FormatNumber(double Value) {
  if (Value == 0) return "0";
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
  return std::string(buffer, result.ptr);
}

bool ParseNumber(std::string_view Text, double& Value) {
  if (Text.empty()) return false;
  double parsed = 0;
  const auto result = std::from_chars(Text.data(), Text.data() + Text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != Text.data() + Text.size() || !std::isfinite(parsed)) return false;
  Value = parsed;
  return true;
}

TProductSize ParseProductSize(std::string_view Text) {
  double unit = 1;
  std::string_view numbers = StripUnit(Text, unit);
  std::vector<double> sides;
  while (true) {
    const std::size_t cross = numbers.find_first_of("xX");
    double value = 0;
    if (!ParseNumber(numbers.substr(0, cross), value) || sides.size() == 3)
      throw EBadProductValue("Size " + Quoted(Text) + " is not " + kSizeSyntax);
    sides.push_back(value * unit);
    if (cross == std::string_view::npos) break;
    numbers = numbers.substr(cross + 1);
  }
  if (sides.size() < 2) throw EBadProductValue("Size " + Quoted(Text) + " is not " + kSizeSyntax);
  const std::string from = "in size " + Quoted(Text);
  CheckSide("Width", sides[0], unit, kMinSide, kMaxSide, from);
  CheckSide("Height", sides[1], unit, kMinSide, kMaxSide, from);
  if (sides.size() == 3) CheckSide("Depth", sides[2], unit, kMinDepth, kMaxDepth, from);
  return {sides[0], sides[1], sides.size() == 3 ? sides[2] : 0};
}

double ParseLength(std::string_view Text, std::string_view What, double Min, double Max) {
  double unit = 1, value = 0;
  if (!ParseNumber(StripUnit(Text, unit), value))
    throw EBadProductValue(std::string(What) + " " + Quoted(Text) +
                           " is not a length in mm or in (for example 15mm or 0.125in)");
  CheckSide(What, value * unit, unit, Min, Max, "");
  return value * unit;
}

TProductSize CheckedProductSize(const TProductKind& Kind, const TProductSize& Size) {
  CheckSide("Width", Size.Width, 1, kMinSide, kMaxSide, "");
  switch (Kind.Solid) {
    case TSolid::Disc:
      if (Size.Height != 0 && Size.Height != Size.Width)
        throw EBadProductValue("A disc is round: its height " + FormatNumber(Size.Height) +
                               " mm must equal its diameter " + FormatNumber(Size.Width) + " mm");
      return {Size.Width, Size.Width, 0};
    case TSolid::Card:
      CheckSide("Height", Size.Height, 1, kMinSide, kMaxSide, "");
      return {Size.Width, Size.Height, 0};
    case TSolid::Box:
      break;
  }
  CheckSide("Height", Size.Height, 1, kMinSide, kMaxSide, "");
  if (Size.Depth == 0)
    throw EBadProductValue("A " + std::string(Kind.Name) +
                           " needs a depth: give the size as WxHxD, or the pages or spine of a book");
  CheckSide("Depth", Size.Depth, 1, kMinDepth, kMaxDepth, "");
  return Size;
}

TPaper ParsePaper(std::string_view Text) {
  const std::string paper = AsciiLowerCase(Text);
  if (paper == "white") return TPaper::White;
  if (paper == "cream") return TPaper::Cream;
  throw EBadProductValue("Paper " + Quoted(Text) + " is not white or cream");
}

double SpineThickness(std::int32_t Pages, TPaper Paper) {
  if (Pages < kMinPages || Pages > kMaxPages)
    throw EBadProductValue("Pages " + std::to_string(Pages) + " is out of range: " + std::to_string(kMinPages) +
                           " to " + std::to_string(kMaxPages));
  return Pages * (Paper == TPaper::White ? kWhitePageThickness : kCreamPageThickness);
}

TAngleRange YawRange(const TProductScene& Scene) {
  if (Scene.Products.size() != 1) return {-45, 45};
  if (KindOf(Scene.Products[0]).Solid != TSolid::Box) return {-80, 80};
  return {-180, 180};
}

TAngleRange PitchRange(const TProductScene&) { return {0, 40}; }

void CheckViewAngles(const TProductScene& Scene, double Yaw, double Pitch) {
  for (const auto& [name, value, range] : {std::tuple{"Yaw", Yaw, YawRange(Scene)},
                                           std::tuple{"Pitch", Pitch, PitchRange(Scene)}})
    if (!(value >= range.Min && value <= range.Max))
      throw EBadProductValue(std::string(name) + " " + FormatNumber(value) + " is out of range (" +
                             FormatNumber(range.Min) + " to " + FormatNumber(range.Max) + " degrees)");
}

TProductSize FitSizeToArt(const TProductKind& Kind, const TProductSize& Size, std::optional<TPictureSize> Front,
                          std::optional<TPictureSize> Side) {
  TProductSize fitted = Size;
  if (Kind.Solid != TSolid::Disc && Front) {
    fitted.Width = Size.Height * Proportion("FRONT", *Front);
    CheckSide("The front's width", fitted.Width, 1, kMinSide, kMaxSide, PictureText("FRONT", *Front));
  }
  if (Kind.Solid == TSolid::Box && Side) {
    fitted.Depth = Size.Height * Proportion("SIDE", *Side);
    CheckSide("The spine's depth", fitted.Depth, 1, kMinDepth, kMaxDepth, PictureText("SIDE", *Side));
  }
  return CheckedProductSize(Kind, fitted);
}

}  // namespace quirlon::core
