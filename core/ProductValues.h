#pragma once
// The values a user gives a product, read and checked: sizes with units, a book's spine from its
// page count, the view angles, and a size fitted to the artwork's proportions. Every check throws
// EBadProductValue with a message that names the value and the range it must lie in.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/ProductKind.h"

namespace quirlon::core {

struct TProductScene;

// ---- Sizes ---------------------------------------------------------------------------------

inline constexpr double kMillimetresPerInch = 25.4;
// Every side of a product, in millimetres. A disc's diameter is its width.
inline constexpr double kMinSide = 10, kMaxSide = 1000;
inline constexpr double kMinDepth = 0.5, kMaxDepth = 1000;
// Width and height may differ by this factor at most, and the depth may not exceed the larger of
// them: beyond, faces become slivers that cannot be drawn cleanly.
inline constexpr double kMaxProportion = 4;

// Width x height x depth in millimetres; Depth 0 when not given.
struct TProductSize {
  double Width = 0, Height = 0, Depth = 0;
  friend bool operator==(const TProductSize&, const TProductSize&) = default;
};

// "WxHxD" or "WxH", decimal numbers separated by "x", then "mm" (the default) or "in":
// "127x203x15mm", "5.5x8.5in", "190x235x60". Every side must be above zero.
TProductSize ParseProductSize(std::string_view Text);
// One length with an optional unit, "3.175", "0.125in", "15mm"; What names it in messages
// ("Spine", "Bleed"), which give the range Min to Max millimetres.
double ParseLength(std::string_view Text, std::string_view What, double Min, double Max);

// Size with each side checked against the ranges and proportions above for Kind: a disc takes
// only a diameter (a height, if given, must equal it), a card no depth; a box-like kind needs all
// three. Returns the size the product is built with.
TProductSize CheckedProductSize(const TProductKind& Kind, const TProductSize& Size);

// ---- Books ---------------------------------------------------------------------------------

enum class TPaper { White, Cream };
inline constexpr double kWhitePageThickness = 0.0572;  // millimetres per page, print-on-demand figures
inline constexpr double kCreamPageThickness = 0.0635;
inline constexpr std::int32_t kMinPages = 2, kMaxPages = 2000;

// "white" or "cream".
TPaper ParsePaper(std::string_view Text);
// The spine of a book of Pages pages (kMinPages to kMaxPages) on Paper, in millimetres.
double SpineThickness(std::int32_t Pages, TPaper Paper);

// ---- View angles ---------------------------------------------------------------------------

// Min to Max degrees, but for angles within EdgeOnGap of +-90 (none when it is 0).
struct TAngleRange {
  double Min = 0, Max = 0;
  double EdgeOnGap = 0;
  bool Contains(double Angle) const;
  std::string Text() const;  // "-75 to 75 degrees"
};
// Yaw: a single box-like product may be seen from all round (its back cover shows past 90
// degrees either way) but not within kEdgeOnGap of edge-on, where its front or back would show as
// a sliver, nor a thin one (its depth less than kThinDepthShare of its width) within
// kThinEdgeOnGap; a disc or a card, which have one face, from -75 to 75; a scene of two products,
// which may hide one another, from -45 to 45.
inline constexpr double kEdgeOnGap = 12;
inline constexpr double kThinDepthShare = 0.1;
inline constexpr double kThinEdgeOnGap = 25;
TAngleRange YawRange(const TProductScene& Scene);
// Pitch: 0 (level with the target, no top showing) to 40 degrees from above.
TAngleRange PitchRange(const TProductScene& Scene);
// Throws EBadProductValue("Yaw 200 is out of range (-180 to 180 degrees)") and the like.
void CheckViewAngles(const TProductScene& Scene, double Yaw, double Pitch);

// ---- Artwork proportions -------------------------------------------------------------------

struct TPictureSize {
  std::int32_t Width = 0, Height = 0;  // pixels
};
// Size with the front taking Front's proportions and the spine (a box's depth) Side's, the
// height kept: nothing of the artwork is stretched. A disc keeps its size; a card takes Front's
// proportions. Checked as CheckedProductSize; the message names the picture that gives a side out
// of range.
TProductSize FitSizeToArt(const TProductKind& Kind, const TProductSize& Size, std::optional<TPictureSize> Front,
                          std::optional<TPictureSize> Side);

// A number as the [Product] section and the messages write it: the shortest text that reads back
// as the same double.
std::string FormatNumber(double Value);
// Reads a whole decimal number ("12", "-0.5", "1e3"); false for anything else.
bool ParseNumber(std::string_view Text, double& Value);

}  // namespace quirlon::core
