#pragma once
// Template files and the template library: the folders beside the executable, the numbered list
// of templates, the layer sections of a template, the nine source slots and the colour text of
// "customcolor" layers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/FaceAspect.h"
#include "core/IniFile.h"
#include "core/LayerTraits.h"
#include "core/Slots.h"
#include "raster/Color.h"

namespace quirlon::core {

// Folders relative to the executable's folder; each ends in the path separator.
inline constexpr const char* kTemplatesFolder = "Templates/";
inline constexpr const char* kPicsFolder = "Pics/";
inline constexpr const char* kCustomFolder = "custom/";
inline constexpr const char* kPreviewExtension = ".jpg";

// Template coordinate space when [Image] says nothing.
inline constexpr std::int32_t kDefaultTemplateWidth = 800;
inline constexpr std::int32_t kDefaultTemplateHeight = 600;

// ---- Template list -------------------------------------------------------------------------

// The template file names (no folder) in TemplatesFolder, numbered from 1 in this order
// (ListFiles: every entry that is not a folder, sorted byte-wise). Empty for a missing folder.
std::vector<std::string> ListTemplates(const std::string& TemplatesFolder);

// The full paths of the templates of BundledFolder, then of UserFolder (the user's own, numbered
// on after the bundled ones; "" for none), each folder as ListTemplates lists it.
std::vector<std::string> ListTemplateLibrary(const std::string& BundledFolder, const std::string& UserFolder);

// Entry Number (1-based) of Templates. Throws EListError("List index out of bounds (%d)") with
// Number - 1 when there is no such entry (below 1 included).
const std::string& TemplateEntry(const std::vector<std::string>& Templates, std::int32_t Number);

// TemplatesFolder + the name of template Number, listing the folder now; raises as TemplateEntry.
std::string TemplatePath(const std::string& TemplatesFolder, std::int32_t Number);

// The file name without its last four characters, whatever they are ("box1.ini" gives "box1",
// "readme" gives "re", a name of four characters or fewer gives ""). Characters are UTF-8 code
// points, so a name is never cut inside one.
std::string TemplateDisplayName(const std::string& FileName);

// ExeFolder + "Pics/" + DisplayName + ".jpg".
std::string TemplatePreviewPath(const std::string& ExeFolder, const std::string& DisplayName);

// ---- Template content ----------------------------------------------------------------------

// Clears List, then appends, in file order, every section name that contains "Layer" (exact,
// case-sensitive substring).
void ReadLayerSections(const TIniFile& Ini, std::vector<std::string>& List);

struct TTemplateImageSize {
  std::int32_t Width = kDefaultTemplateWidth;
  std::int32_t Height = kDefaultTemplateHeight;
};
// [Image] width and height, 800 and 600 when missing or not integers.
TTemplateImageSize ReadTemplateImageSize(const TIniFile& Ini);

// One layer section as written: type and source ("unknown" when missing) and the four corners in
// template coordinates (0 when missing or not an integer). A: top-left of the layer picture,
// B: top-right, C: bottom-right, D: bottom-left.
// Optional keys that refine how a layer's type draws it; a layer without them draws exactly as a
// template of today's keys does, and a program that knows only those keys still draws the layer.
//   opacity=F    0..1, times the setting that makes the layer strong: a shadow's density, a
//                reflection's opacity, a shade's or highlight's strength. A shade or highlight
//                with it is laid on with straight alpha: the face goes F x mask of the way to the
//                shading colour.
//   blur=F       0..10, times the shadow or reflection blur setting, counted in template units so
//                that it keeps its size in the picture at any canvas size
//   fade=F       shadow: 0..1 of its alpha lost from the A-B edge to the D-C edge, fastest at first
//   soften=F     shadow: its A-D and B-C edges soften over a band that grows from nothing at the
//                A-B edge to F (0..1) of its width at the D-C edge
//   bendx=X      shadow: with bendy, a point of the picture (X from the A-D edge towards B-C, Y from
//   bendy=Y      the A-B edge towards D-C, both 0..1) that the shadow's start bends through: it
//                starts along A -> that point -> B (the far side of a footprint), and the fade and
//                the softening count from there
//   fadecurve=F  reflection: 1..8, the power the fading alpha is raised to (1: the plain ramp)
//   blurgrow=F   reflection: 0..10, the blur at the D-C edge is 1 + F times the blur at A-B
//   edge=F       roundrect, roundrectshade, roundrecthighlight: 0..1, how soft the rounded outline
//                is, as a share of the built-in mask's edge (about 4 % of the layer's width); the
//                outline is drawn at the layer's size on the canvas, so 0 is crisp at any size
struct TLayerLook {
  std::optional<double> Opacity, Blur, Fade, Soften, FadeCurve, BlurGrow, BendX, BendY, Edge;
  bool Any() const { return Opacity || Blur || Fade || Soften || FadeCurve || BlurGrow || BendX || BendY || Edge; }
  friend bool operator==(const TLayerLook&, const TLayerLook&) = default;
};

// The keys of TLayerLook with their ranges, in the order a template writes them.
struct TLayerLookKey {
  const char* Key;
  std::optional<double> TLayerLook::*Value;
  double Min, Max;
};
inline constexpr TLayerLookKey kLayerLookKeys[] = {
    {"opacity", &TLayerLook::Opacity, 0, 1},        {"blur", &TLayerLook::Blur, 0, 10},
    {"fade", &TLayerLook::Fade, 0, 1},              {"soften", &TLayerLook::Soften, 0, 1},
    {"fadecurve", &TLayerLook::FadeCurve, 1, 8},    {"blurgrow", &TLayerLook::BlurGrow, 0, 10},
    {"bendx", &TLayerLook::BendX, 0, 1},            {"bendy", &TLayerLook::BendY, 0, 1},
    {"edge", &TLayerLook::Edge, 0, 1},
};

struct TTemplateLayer {
  std::string Section;
  std::string Type = "unknown";
  std::string Source = "unknown";
  raster::TPoint A, B, C, D;
  TLayerLook Look;
};
// A look key that is not a number within its range raises EConvertError naming the file, the
// section, the key and the range.
TTemplateLayer ReadTemplateLayer(const TIniFile& Ini, const std::string& Section);

// A template as read: its coordinate space and its layers in file order.
struct TTemplate {
  std::string Name;  // the file it came from (or what made it), for messages
  TTemplateImageSize Size;
  std::vector<TTemplateLayer> Layers;
  // The true proportions of the face each slot fills (TemplateFaceAspects); 0 where unknown.
  TSlotAspects FaceAspects{};
};

// The faces' proportions of the template in Ini with the layers of Template: from its [Product]
// section when it has one that reads, else estimated from the layers' corners.
TSlotAspects TemplateFaceAspects(const TIniFile& Ini, const TTemplate& Template);

// Template files beyond this many bytes are refused unread.
inline constexpr std::int64_t kMaxTemplateFileSize = 1024 * 1024;
inline constexpr const char* kTemplateTooLarge = "Template file \"%s\" is too large (%lld bytes; at most 1 MiB)";
inline constexpr const char* kNotATemplate = "Template \"%s\" is not a template file";

// The template in Ini: [Image] size and every layer section (ReadLayerSections) in file order.
TTemplate ParseTemplate(const TIniFile& Ini);
// Reads and parses the template file at Path. Refuses, with EFOpenError:
//   a file that cannot be read (a FIFO, a device, a dangling link, no permission):
//     "Cannot open file \"%s\". %s" with the reason;
//   a file over kMaxTemplateFileSize: kTemplateTooLarge;
//   a file without an [Image] section or without any key: kNotATemplate.
TTemplate ReadTemplateFile(const std::string& Path);
// The slots (1..9, see core/Slots.h) that Template's layers show, each once, in slot order.
std::vector<int> TemplateSlots(const TTemplate& Template);
// The same file as read, checked alike, for its other sections ([Product]).
TIniFile ReadTemplateIni(const std::string& Path);

// The shading directions named by the source of the six shading types, compared exactly; any
// other text is sdDefault.
enum TShadingDirection : std::uint8_t {
  sdDefault,
  sdLeftDown,
  sdLeftTop,
  sdRightTop,
  sdRightDown,
  sdRightLeftTopDown,
  sdLeft,
  sdTop,
  sdRight,
};
TShadingDirection ShadingDirectionFromText(std::string_view Source);

// ---- Colour text ---------------------------------------------------------------------------

// One of the 52 colour names, matched without regard to ASCII case.
bool IdentToColor(std::string_view Name, raster::TColor& Color);
// A colour name, else an integer in the template integer syntax taken as a TColor. Throws
// EConvertError("'%s' is not a valid integer value") with Text when it is neither.
raster::TColor StringToColor(const std::string& Text);

}  // namespace quirlon::core
