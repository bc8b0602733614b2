#include "core/ProductJob.h"

#include <stdexcept>

#include "core/CoverWrap.h"
#include "core/ProductError.h"
#include "core/ProductKind.h"
#include "core/ProductSection.h"
#include "core/TemplateWriter.h"

namespace quirlon::core {

namespace {

constexpr std::size_t kFrontIndex = SlotIndex(TSlot::Front);
constexpr std::size_t kSideIndex = SlotIndex(TSlot::Side);

// The pixel size of what a slot shows; nullopt for a colour.
std::optional<TPictureSize> SourcePictureSize(const TSlotSource& Source, imagefiles::TPictureCache& Pictures,
                                              std::int64_t MaxPixels) {
  std::shared_ptr<const imagefiles::TGraphic> picture = Source.Picture;
  if (Source.Kind == TSlotSource::TKind::File) picture = Pictures.Load(Source.File, MaxPixels);
  if (Source.Kind == TSlotSource::TKind::Colour || picture == nullptr) return std::nullopt;
  return TPictureSize{picture->Width, picture->Height};
}

TSlotSource PictureSource(const raster::TBitmap32& Part) {
  return TSlotSource::OfPicture(std::make_shared<const imagefiles::TGraphic>(imagefiles::ExportBitmap(Part)));
}

// The cover wrap's three parts, back, spine and front, as sources.
struct TWrapParts {
  TSlotSource Back, Spine, Front;
};

TWrapParts SplitWrapFile(const TProductJob& Job, const TCoverWrap& Layout, imagefiles::TPictureCache& Pictures,
                         std::int64_t MaxPixels) {
  raster::TBitmap32 wrap, back, spine, front;
  imagefiles::Assign(wrap, Job.WrapPicture ? *Job.WrapPicture : *Pictures.Load(Job.Wrap, MaxPixels));
  SplitCoverWrap(wrap, Job.WrapPicture ? std::string("wrap") : Job.Wrap, Layout, back, spine, front);
  return {PictureSource(back), PictureSource(spine), PictureSource(front)};
}

// The spine the job gives by itself: --spine, else --pages on --paper; nullopt for neither.
std::optional<double> GivenSpine(const TProductJob& Job) {
  if (Job.Spine) return Job.Spine;
  if (Job.Pages != 0) return SpineThickness(Job.Pages, Job.Paper);
  return std::nullopt;
}

// The wrap's layout: the trim from --trim, else the front's size; the spine as given, else the
// product's depth.
TCoverWrap WrapLayout(const TProductJob& Job, const std::optional<TProductSize>& ProductSize) {
  TCoverWrap layout;
  layout.Bleed = Job.Bleed;
  const std::optional<TProductSize> trim = Job.Trim ? Job.Trim : ProductSize;
  if (!trim)
    throw EBadProductValue("A cover wrap needs the trim size of one cover: give --trim WxH (mm or in), or --size");
  layout.TrimWidth = trim->Width;
  layout.TrimHeight = trim->Height;
  const std::optional<double> spine = GivenSpine(Job);
  if (spine) layout.Spine = *spine;
  else if (ProductSize && ProductSize->Depth > 0) layout.Spine = ProductSize->Depth;
  else throw EBadProductValue("A cover wrap needs its spine: give --spine LEN, or --pages N and --paper");
  return layout;
}

const TProductKind& KindNamed(const std::string& Name) {
  const TProductKind* kind = FindProductKind(Name);
  if (kind == nullptr)
    throw EBadProductValue("Product \"" + Name + "\" is not a product kind (" + ProductKindNames() + ")");
  return *kind;
}

TProductScene SceneFromModel(const TProductJob& Job, TSlotSources& Sources, imagefiles::TPictureCache& Pictures,
                             std::int64_t MaxPixels) {
  const TProductKind& kind = KindNamed(Job.Kind);
  TProductSize size = Job.Size ? *Job.Size : Job.Trim ? *Job.Trim : TProductSize{kind.Width, kind.Height, 0};
  const std::optional<double> spine = GivenSpine(Job);
  if (spine) size.Depth = *spine;
  // A size of two sides needs the depth from elsewhere (checked when the scene is made).
  else if (!Job.Size && !Job.Trim && kind.Solid == TSolid::Box) size.Depth = kind.Depth;
  // A disc given one side is as tall as it is wide.
  if (kind.Solid == TSolid::Disc && !Job.Size) size.Height = size.Width;

  if (Job.HasWrap()) {
    const std::optional<TProductSize> given = Job.Size || Job.Trim ? std::optional(size) : std::nullopt;
    const TWrapParts parts = SplitWrapFile(Job, WrapLayout(Job, given), Pictures, MaxPixels);
    Sources[kFrontIndex] = parts.Front;
    Sources[kSideIndex] = parts.Spine;
    // The back goes to its slot once the scene names it.
    Sources[SlotIndex(TSlot::Front2)] = parts.Back;
  }
  const bool fit = Job.FitArt || (!Job.Size && !Job.Trim && !Job.HasWrap());
  if (fit) {
    const auto front = SourcePictureSize(Sources[kFrontIndex], Pictures, MaxPixels);
    // A spine given as such wins over the SIDE picture's proportions; the size's third side does not.
    const auto side = spine ? std::nullopt : SourcePictureSize(Sources[kSideIndex], Pictures, MaxPixels);
    size = FitSizeToArt(kind, size, front, side);
  }
  // Checked here: the scene maker would take a missing depth for the kind's usual one.
  size = CheckedProductSize(kind, size);
  return MakeProductScene(kind.Name, size.Width, size.Height, size.Depth, Job.Yaw.value_or(kind.Yaw),
                          Job.Pitch.value_or(kind.Pitch));
}

TProductScene SceneFromTemplate(const TProductJob& Job, const TProductScene& TemplateScene, TSlotSources& Sources,
                                imagefiles::TPictureCache& Pictures, std::int64_t MaxPixels) {
  if (Job.Size || Job.FitArt)
    throw EBadProductValue("A size or fitting to the artwork needs a product kind (--product KIND); a template "
                           "keeps the size of its product");
  TProductScene scene = TemplateScene;
  if (Job.Yaw || Job.Pitch) {
    const double yaw = Job.Yaw.value_or(scene.Camera.Yaw), pitch = Job.Pitch.value_or(scene.Camera.Pitch);
    CheckViewAngles(scene, yaw, pitch);
    // A camera turned to the other side keeps the light on the side away from it.
    if (DefaultLightAzimuth(KindOf(scene.Products.front()), yaw) * scene.LightAzimuth < 0)
      scene.LightAzimuth = -scene.LightAzimuth;
    scene.Camera.Yaw = yaw;
    scene.Camera.Pitch = pitch;
    // Its layers change anyway: they may as well meet by the latest rules.
    scene.SeamRules = kSeamRules;
  }
  if (Job.HasWrap()) {
    const TProduct& product = scene.Products.front();
    const TWrapParts parts = SplitWrapFile(
        Job, WrapLayout(Job, TProductSize{product.Width, product.Height, product.Depth}), Pictures, MaxPixels);
    Sources[kFrontIndex] = parts.Front;
    Sources[kSideIndex] = parts.Spine;
    Sources[SlotIndex(TSlot::Front2)] = parts.Back;
  }
  return scene;
}

}  // namespace

bool TProductJob::UsesModel() const {
  return !Kind.empty() || Size || Trim || Spine || Pages != 0 || Yaw || Pitch || FitArt || HasWrap() ||
         !SaveTemplate.empty();
}

TProductScene ReadTemplateProductScene(const std::string& TemplateFile, const std::string& Missing) {
  const TIniFile ini = ReadTemplateIni(TemplateFile);
  std::optional<TProductScene> scene;
  try {
    scene = ReadProductSection(ini);
  } catch (const EBadProductValue& e) {
    throw std::runtime_error(e.what());  // the file is at fault, not the job
  }
  if (!scene)
    throw EBadProductValue("template \"" + TemplateFile + "\" has no [Product] section" + Missing +
                           "; name a kind with --product KIND");
  return *scene;
}

TProductTemplate BuildProductTemplate(const TProductJob& Job, const TProductScene* TemplateScene,
                                      const TSlotSources& Sources, imagefiles::TPictureCache& Pictures,
                                      std::int64_t MaxPicturePixels) {
  TProductTemplate built;
  built.Sources = Sources;
  if (!Job.Kind.empty()) {
    built.Scene = SceneFromModel(Job, built.Sources, Pictures, MaxPicturePixels);
  } else {
    if (TemplateScene == nullptr)
      throw EBadProductValue("The template has no [Product] section: name a product kind (--product KIND) to "
                             "build a product from its dimensions");
    built.Scene = SceneFromTemplate(Job, *TemplateScene, built.Sources, Pictures, MaxPicturePixels);
  }
  if (Job.HasWrap()) {
    // The back cover's slot, or none: then the back stays plain and the slot keeps what it had.
    const std::string backSlot = BackCoverSlot(built.Scene);
    const std::size_t parked = SlotIndex(TSlot::Front2);
    const TSlotSource back = built.Sources[parked];
    built.Sources[parked] = Sources[parked];
    if (!backSlot.empty()) built.Sources[static_cast<std::size_t>(SourceSlotIndex(backSlot) - 1)] = back;
  }
  built.Generated = GenerateTemplate(built.Scene);
  auto parsed = std::make_shared<TTemplate>();
  parsed->Name = Job.Kind.empty() ? "product" : "product " + Job.Kind;
  parsed->Size = built.Generated.Size;
  parsed->Layers = built.Generated.Layers;
  parsed->FaceAspects = SceneSlotAspects(built.Scene);
  built.Template = std::move(parsed);
  return built;
}

std::string ProductTemplateText(const TProductTemplate& Built) {
  std::string kinds;
  for (const TProduct& product : Built.Scene.Products) kinds += (kinds.empty() ? "" : " and ") + product.Kind;
  return TemplateText(Built.Generated, {"A " + kinds + " made from its dimensions by quirlon-render."},
                      ProductSectionText(Built.Scene));
}

}  // namespace quirlon::core
