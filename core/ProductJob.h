#pragma once
// A product built from a job's values instead of a template's layers: the kind, its size (given,
// from a book's page count, or fitted to the artwork), the view, and a full cover wrap split into
// the pictures its faces take. The command line, batch files and the window fill a TProductJob;
// BuildProductTemplate turns it, with the job's sources, into the scene and the layers to render.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/ProductScene.h"
#include "core/ProductValues.h"
#include "core/Render.h"
#include "core/SceneGenerator.h"

namespace quirlon::core {

struct TProductJob {
  std::string Kind;                       // "--product": a kind of ProductKinds(), "" for a template
  std::optional<TProductSize> Size;       // "--size", millimetres; Depth 0 when WxH was given
  std::optional<TProductSize> Trim;       // "--trim" of a cover wrap, millimetres (no depth)
  std::optional<double> Spine;            // "--spine", millimetres
  std::int32_t Pages = 0;                 // "--pages", 0 when not given
  TPaper Paper = TPaper::White;           // "--paper"
  std::optional<double> Yaw, Pitch;       // "--yaw", "--pitch", degrees
  bool FitArt = false;                    // "--fit-art"
  std::string Wrap;                       // "--wrap": a full cover wrap picture
  // The wrap already decoded (an upload, which has no file); wins over Wrap.
  std::shared_ptr<const imagefiles::TGraphic> WrapPicture;
  double Bleed = kMillimetresPerInch / 8;  // "--bleed", millimetres
  std::string SaveTemplate;               // "--save-template": where the scene goes as a template

  // Whether the job asks for anything that needs the product model.
  bool UsesModel() const;
  bool HasWrap() const { return !Wrap.empty() || WrapPicture != nullptr; }
  friend bool operator==(const TProductJob&, const TProductJob&) = default;
};

// What is rendered: the scene, the template its layers make, and the sources with the cover
// wrap's parts in their slots.
struct TProductTemplate {
  TProductScene Scene;
  TGeneratedTemplate Generated;
  std::shared_ptr<const TTemplate> Template;
  TSlotSources Sources;
};

// The product that Job describes, seen with its sources:
// - a kind (Job.Kind) makes a scene of one product from the model; otherwise TemplateScene, the
//   [Product] section of the template the job names, is turned to the job's yaw and pitch (nullptr:
//   the template has none, and the job may not ask for the model);
// - the size is --size, or the wrap's trim, or the kind's usual one; the depth comes from --spine,
//   then --pages and --paper, then the size's third side (the kind's usual depth without a size);
// - with FitArt, or with a kind and neither a size nor a trim, the front takes the FRONT picture's
//   proportions and, unless --spine or --pages gives it, the depth the SIDE picture's (the height
//   is kept);
// - a wrap is split into BACK (the slot the scene names for it), SIDE and FRONT.
// Pictures are read through Pictures with at most MaxPicturePixels pixels. Throws EBadProductValue
// naming the value and its range for values that do not make a product (the caller's usage error),
// and the loaders' errors for pictures that cannot be read.
TProductTemplate BuildProductTemplate(const TProductJob& Job, const TProductScene* TemplateScene,
                                      const TSlotSources& Sources, imagefiles::TPictureCache& Pictures,
                                      std::int64_t MaxPicturePixels);

// The [Product] section of TemplateFile, for a job that turns or resizes it. A broken section is the
// file's fault (a plain runtime error); a template without one is the job's (EBadProductValue: the
// template has no [Product] section, followed by Missing, e.g. ", so it cannot turn").
TProductScene ReadTemplateProductScene(const std::string& TemplateFile, const std::string& Missing);

// The template file of Built: a comment line, [Image], its [Product] section and its layers.
std::string ProductTemplateText(const TProductTemplate& Built);

}  // namespace quirlon::core
