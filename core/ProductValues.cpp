#include "core/ProductValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <vector>

#include "core/IniFile.h"
#include "core/ProductError.h"
#include "core/ProductScene.h"

namespace quirlon::core {

namespace {

constexpr const char* kSizeSyntax = "WxH or WxHxD in mm or in (for example 127x203x15mm or 5x8in)";

// A number as messages show it: six significant digits at most.
std::string Shown(double Value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", Value);
  return text;
}

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

// "Width 0 mm is out of range: 10 to 1000 mm", with the inch figures when the value came in inches,
// From after the value and Note after the range.
void CheckSide(std::string_view What, double Value, double Unit, double Min, double Max, std::string_view From,
               std::string_view Note = "") {
  if (Value >= Min && Value <= Max) return;
  std::string message = std::string(What) + " ";
  if (Unit != 1)
    message += Shown(Value / Unit) + " in (" + Shown(Value) + " mm)";
  else
    message += Shown(Value) + " mm";
  if (!From.empty()) message.append(" ").append(From);
  message.append(" is out of range: ").append(Shown(Min)).append(" to ").append(Shown(Max)).append(" mm");
  if (Unit != 1)
    message.append(" (")
        .append(Shown(std::round(Min / Unit * 100) / 100))
        .append(" to ")
        .append(Shown(std::round(Max / Unit * 100) / 100))
        .append(" in)");
  if (!Note.empty()) message.append(", ").append(Note);
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
  if (Kind.Solid == TSolid::Disc) {
    if (Size.Height != 0 && Size.Height != Size.Width)
      throw EBadProductValue("A disc is round: its height " + Shown(Size.Height) + " mm must equal its diameter " +
                             Shown(Size.Width) + " mm");
    return {Size.Width, Size.Width, 0};
  }
  CheckSide("Height", Size.Height, 1, kMinSide, kMaxSide, "");
  if (std::max(Size.Width, Size.Height) > kMaxProportion * std::min(Size.Width, Size.Height))
    throw EBadProductValue("Width " + Shown(Size.Width) + " mm and height " + Shown(Size.Height) +
                           " mm are out of proportion: one may be at most " + Shown(kMaxProportion) +
                           " times the other");
  if (Kind.Solid == TSolid::Card) return {Size.Width, Size.Height, 0};
  if (Size.Depth == 0)
    throw EBadProductValue("A " + std::string(Kind.Name) +
                           " needs a depth: give the size as WxHxD, or the pages or spine of a book");
  CheckSide("Depth", Size.Depth, 1, kMinDepth, std::max(Size.Width, Size.Height), "",
            "at most the larger of width and height");
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

bool TAngleRange::Contains(double Angle) const {
  return Angle >= Min && Angle <= Max && !(std::fabs(std::fabs(Angle) - 90) < EdgeOnGap);
}

std::string TAngleRange::Text() const {
  if (EdgeOnGap == 0) return Shown(Min) + " to " + Shown(Max) + " degrees";
  return Shown(Min) + " to " + Shown(-90 - EdgeOnGap) + ", " + Shown(-90 + EdgeOnGap) + " to " + Shown(90 - EdgeOnGap) +
         " or " + Shown(90 + EdgeOnGap) + " to " + Shown(Max) + " degrees";
}

TAngleRange YawRange(const TProductScene& Scene) {
  if (Scene.Products.size() != 1) return {-45, 45, 0};
  const TProduct& product = Scene.Products[0];
  if (KindOf(product).Solid != TSolid::Box) return {-75, 75, 0};
  // Seen nearly edge-on, the front or back shows as a sliver meeting its neighbours at sharp
  // corners; more of a thin product is such a sliver.
  return {-180, 180, product.Depth < kThinDepthShare * product.Width ? kThinEdgeOnGap : kEdgeOnGap};
}

TAngleRange PitchRange(const TProductScene&) { return {0, 40, 0}; }

void CheckViewAngles(const TProductScene& Scene, double Yaw, double Pitch) {
  for (const auto& [name, value, range] :
       {std::tuple{"Yaw", Yaw, YawRange(Scene)}, std::tuple{"Pitch", Pitch, PitchRange(Scene)}})
    if (!range.Contains(value))
      throw EBadProductValue(std::string(name) + " " + Shown(value) + " is out of range (" + range.Text() + ")");
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
