#include "core/ProductSection.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "core/FaceUnderlap.h"
#include "core/ProductError.h"
#include "core/ProductValues.h"
#include "core/Template.h"

namespace quirlon::core {

namespace {

constexpr double kMaxPlacement = 10000;  // millimetres from the origin
constexpr double kMaxDistance = 100000;
constexpr double kMinFocal = 10, kMaxFocal = 600;
constexpr double kMaxTilt = 80;
constexpr double kMaxShadowSpread = 1000;
// A light lower than this casts shadows too long to frame; one higher has no side to fall to.
constexpr double kMinLightElevation = 10, kMaxLightElevation = 80;
constexpr std::int32_t kMaxFrameSide = 100000;

// A range bound as messages show it.
std::string Shown(double Value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", Value);
  return text;
}

std::string Trimmed(std::string_view Text) {
  const std::size_t first = Text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  return std::string(Text.substr(first, Text.find_last_not_of(" \t") - first + 1));
}

std::vector<std::string> SplitAt(std::string_view Text, char Separator) {
  std::vector<std::string> parts;
  while (true) {
    const std::size_t at = Text.find(Separator);
    parts.push_back(Trimmed(Text.substr(0, at)));
    if (at == std::string_view::npos) return parts;
    Text = Text.substr(at + 1);
  }
}

class TProductReader {
 public:
  explicit TProductReader(const TIniFile& Ini) : fIni(Ini) {}

  bool Has(const std::string& Key) const { return fIni.ReadString(kProductSection, Key, "\x01") != "\x01"; }
  std::string Text(const std::string& Key) const { return fIni.ReadString(kProductSection, Key, ""); }

  [[noreturn]] void Fail(const std::string& Key, const std::string& Problem) const {
    throw EBadProductValue("Template \"" + fIni.FileName() + "\": [Product] " + Key + "=" + Text(Key) + " " + Problem);
  }

  // The numbers of Key separated by commas, Count of them, each within Min to Max.
  std::vector<double> Numbers(const std::string& Key, std::size_t Count, double Min, double Max) const {
    const auto parts = SplitAt(Text(Key), ',');
    std::vector<double> values;
    for (const std::string& part : parts) {
      double value = 0;
      if (parts.size() != Count || !ParseNumber(part, value))
        Fail(Key, Count == 1 ? "is not a number" : "is not " + std::to_string(Count) + " numbers separated by commas");
      if (!(value >= Min && value <= Max)) Fail(Key, "is out of range (" + Shown(Min) + " to " + Shown(Max) + ")");
      values.push_back(value);
    }
    return values;
  }
  double Number(const std::string& Key, double Default, double Min, double Max) const {
    return Has(Key) ? Numbers(Key, 1, Min, Max)[0] : Default;
  }
  TVec3 Point(const std::string& Key, const TVec3& Default) const {
    if (!Has(Key)) return Default;
    const auto v = Numbers(Key, 3, -kMaxPlacement, kMaxPlacement);
    return {v[0], v[1], v[2]};
  }

  TProduct Product(const std::string& Suffix) const {
    const std::string kindKey = "kind" + Suffix;
    TProduct product;
    product.Kind = Text(kindKey);
    const TProductKind* kind = FindProductKind(product.Kind);
    if (kind == nullptr) Fail(kindKey, "is not a product kind (one of " + ProductKindNames() + ")");
    TProductSize size{kind->Width, kind->Height, kind->Depth};
    const std::string sizeKey = "size" + Suffix;
    try {
      if (Has(sizeKey)) size = ParseProductSize(Text(sizeKey));
      size = CheckedProductSize(*kind, size);
    } catch (const EBadProductValue& e) {
      Fail(sizeKey, std::string("is not a size for a ") + std::string(kind->Name) + ": " + e.Message());
    }
    product.Width = size.Width;
    product.Height = size.Height;
    product.Depth = size.Depth;
    product.Position = Point("position" + Suffix, {});
    product.Turn = Number("turn" + Suffix, 0, -360, 360);
    product.Lift = Number("lift" + Suffix, 0, 0, kMaxSide);
    product.Tilt = Number("tilt" + Suffix, 0, -kMaxTilt, kMaxTilt);
    return product;
  }

  std::vector<TLayerOverlay> Overlays(const std::string& Key) const {
    const std::string text = Trimmed(Text(Key));
    std::vector<TLayerOverlay> out;
    if (text == "none") return out;
    for (const std::string& pair : SplitAt(text, ',')) {
      const std::size_t blank = pair.find(' ');
      TLayerOverlay overlay;
      if (blank != std::string::npos) overlay = {pair.substr(0, blank), Trimmed(pair.substr(blank + 1))};
      if (LayerTypeFromText(overlay.Type) == ltUnknown || overlay.Source.empty())
        Fail(Key, "is not \"none\" or layers given as type and source (\"shade left, highlight top\")");
      out.push_back(overlay);
    }
    return out;
  }

 private:
  const TIniFile& fIni;
};

std::string PointText(const TVec3& P) { return FormatNumber(P.X) + "," + FormatNumber(P.Y) + "," + FormatNumber(P.Z); }

std::string SizeText(const TProduct& Product) {
  std::string text = FormatNumber(Product.Width) + "x" + FormatNumber(Product.Height);
  if (KindOf(Product).Solid == TSolid::Box) text.append("x").append(FormatNumber(Product.Depth));
  return text;
}

std::string OverlaysText(const std::vector<TLayerOverlay>& Overlays) {
  if (Overlays.empty()) return "none";
  std::string text;
  for (const TLayerOverlay& overlay : Overlays)
    text += (text.empty() ? "" : ", ") + overlay.Type + " " + overlay.Source;
  return text;
}

}  // namespace

std::optional<TProductScene> ReadProductSection(const TIniFile& Ini) {
  if (!Ini.SectionExists(kProductSection)) return std::nullopt;
  const TProductReader reader(Ini);
  TProductScene scene;
  const TTemplateImageSize frame = ReadTemplateImageSize(Ini);
  if (frame.Width <= 0 || frame.Height <= 0 || frame.Width > kMaxFrameSide || frame.Height > kMaxFrameSide)
    throw EBadProductValue("Template \"" + Ini.FileName() + "\": [Image] size " + std::to_string(frame.Width) + " x " +
                           std::to_string(frame.Height) + " is out of range (1 to " + std::to_string(kMaxFrameSide) +
                           ") for a product scene");
  scene.Width = frame.Width;
  scene.Height = frame.Height;
  scene.Products.push_back(reader.Product(""));
  if (reader.Has("kind2")) scene.Products.push_back(reader.Product("2"));

  const TProductKind& kind = KindOf(scene.Products[0]);
  TCameraSetup& camera = scene.Camera;
  camera.Yaw = reader.Number("yaw", kind.Yaw, -360, 360);
  camera.Pitch = reader.Number("pitch", kind.Pitch, -90, 90);
  try {
    CheckViewAngles(scene, camera.Yaw, camera.Pitch);
  } catch (const EBadProductValue& e) {
    throw EBadProductValue("Template \"" + Ini.FileName() + "\": [Product] " + e.Message());
  }
  camera.Distance = reader.Number("distance", DefaultDistance(scene.Products), 1, kMaxDistance);
  camera.Focal = reader.Number("focal", 50, kMinFocal, kMaxFocal);
  camera.Target = reader.Point("target", DefaultTarget(scene.Products));

  if (reader.Has("fill")) {
    const auto fill = reader.Numbers("fill", 2, 0.01, 1);
    scene.FillX = fill[0];
    scene.FillY = fill[1];
  }
  scene.FloorAt = reader.Number("floor", scene.FloorAt, 0, 1);
  scene.ShadowSpread = reader.Number("shadow", scene.ShadowSpread, 0, kMaxShadowSpread);
  if (reader.Has("light")) {
    const auto light = reader.Numbers("light", 2, -180, 180);
    if (!(light[1] >= kMinLightElevation && light[1] <= kMaxLightElevation))
      reader.Fail("light", "has an elevation out of range (" + Shown(kMinLightElevation) + " to " +
                               Shown(kMaxLightElevation) + " degrees)");
    scene.LightAzimuth = light[0];
    scene.LightElevation = light[1];
  } else {
    scene.LightAzimuth = DefaultLightAzimuth(kind, camera.Yaw);
    scene.LightElevation = kind.LightElevation;
  }
  const double rules = reader.Number("seams", kSeamRules, kFirstSeamRules, kSeamRules);
  if (rules != std::floor(rules)) reader.Fail("seams", "is not a whole number");
  scene.SeamRules = static_cast<int>(rules);
  for (const auto& faces : SceneFaces(scene))
    for (const TProductFace& face : faces)
      if (const std::string key = "overlay." + face.Name; reader.Has(key))
        scene.Overlays[face.Name] = reader.Overlays(key);
  return scene;
}

std::string ProductSectionText(const TProductScene& Scene) {
  std::string text = std::string("[") + kProductSection + "]\n";
  auto line = [&](const std::string& key, const std::string& value) { text += key + "=" + value + "\n"; };
  for (std::size_t i = 0; i < Scene.Products.size(); ++i) {
    const TProduct& product = Scene.Products[i];
    const std::string suffix = i == 0 ? "" : std::to_string(i + 1);
    line("kind" + suffix, product.Kind);
    line("size" + suffix, SizeText(product));
    if (product.Position != TVec3{}) line("position" + suffix, PointText(product.Position));
    if (product.Turn != 0) line("turn" + suffix, FormatNumber(product.Turn));
    if (product.Lift != 0) line("lift" + suffix, FormatNumber(product.Lift));
    if (product.Tilt != 0) line("tilt" + suffix, FormatNumber(product.Tilt));
  }
  const TCameraSetup& camera = Scene.Camera;
  line("yaw", FormatNumber(camera.Yaw));
  line("pitch", FormatNumber(camera.Pitch));
  line("distance", FormatNumber(camera.Distance));
  line("focal", FormatNumber(camera.Focal));
  line("target", PointText(camera.Target));
  line("fill", FormatNumber(Scene.FillX) + "," + FormatNumber(Scene.FillY));
  line("floor", FormatNumber(Scene.FloorAt));
  line("shadow", FormatNumber(Scene.ShadowSpread));
  line("light", FormatNumber(Scene.LightAzimuth) + "," + FormatNumber(Scene.LightElevation));
  line("seams", std::to_string(Scene.SeamRules));
  for (const auto& [face, overlays] : Scene.Overlays) line("overlay." + face, OverlaysText(overlays));
  return text;
}

}  // namespace quirlon::core
