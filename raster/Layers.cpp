#include "raster/Layers.h"

#include <algorithm>
#include <cmath>

#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Numeric.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

// ---------------------------------------------------------------------------------------------
// TCustomLayer

TCustomLayer::TCustomLayer() = default;

TCustomLayer::~TCustomLayer() {
  if (!fDestroying) BeforeDestroy();
}

void TCustomLayer::BeforeDestroy() {
  if (fDestroying) return;
  fDestroying = true;
  if (OnDestroy) OnDestroy(this);
  FreeOwned();
  std::vector<TCustomLayer*> watchers = std::move(fFreeNotifies);
  fFreeNotifies.clear();
  for (TCustomLayer* other : watchers) {
    auto& list = other->fFreeNotifies;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    other->Notification(*this);
  }
}

std::int32_t TCustomLayer::Index() const { return fLayerCollection ? fLayerCollection->IndexOf(this) : -1; }

void TCustomLayer::Changing() {
  if (Visible() && fLayerCollection && fUpdateCount == 0 && (fOptionBits & kLayerNoUpdate) == 0)
    fLayerCollection->Changing();
}

void TCustomLayer::Changed() {
  if (fUpdateCount > 0 || !fLayerCollection || (fOptionBits & kLayerNoUpdate) != 0) return;
  const bool visible = Visible();
  if (visible || (fOptionBits & kLayerForceUpdate) != 0) fLayerCollection->LayerUpdated(*this);
  if (visible) fLayerCollection->Changed();
  if (OnChange) OnChange(this);
}

void TCustomLayer::AreaUpdated(const TRect& Area, std::uint32_t Info) {
  if (fLayerCollection) fLayerCollection->AreaUpdated(Area, Info);
}

void TCustomLayer::SetOptionBits(std::uint32_t Value) {
  Changing();
  fOptionBits = Value;
  Changed();
}

void TCustomLayer::SetVisible(bool Value) {
  if (Value) {
    SetOptionBits(fOptionBits | kLayerVisible);
  } else {
    // Plain stores around the setter: only the clearing of the visible bit notifies.
    fOptionBits |= kLayerForceUpdate;
    SetOptionBits(fOptionBits & ~kLayerVisible);
    fOptionBits &= ~kLayerForceUpdate;
  }
}

void TCustomLayer::PaintLayer(TBitmap32& Buffer) {
  Paint(Buffer);
  if (OnPaint) OnPaint(this, Buffer);
}

void TCustomLayer::AddNotification(TCustomLayer& Layer) {
  if (&Layer == this) return;
  if (std::find(fFreeNotifies.begin(), fFreeNotifies.end(), &Layer) == fFreeNotifies.end())
    fFreeNotifies.push_back(&Layer);
  auto& other = Layer.fFreeNotifies;
  if (std::find(other.begin(), other.end(), this) == other.end()) other.push_back(this);
}

void TCustomLayer::RemoveNotification(TCustomLayer& Layer) {
  fFreeNotifies.erase(std::remove(fFreeNotifies.begin(), fFreeNotifies.end(), &Layer), fFreeNotifies.end());
  auto& other = Layer.fFreeNotifies;
  other.erase(std::remove(other.begin(), other.end(), this), other.end());
}

// ---------------------------------------------------------------------------------------------
// TPositionedLayer

TPositionedLayer::TPositionedLayer() { fOptionBits = kLayerVisible | kLayerMouseEvents; }

TPositionedLayer::~TPositionedLayer() {
  if (!Destroying()) BeforeDestroy();
}

void TPositionedLayer::SetLocation(const TSingleRect& Value) {
  Changing();
  fLocation = Value;
  Changed();
}

void TPositionedLayer::SetScaled(bool Value) {
  if (Value == fScaled) return;
  Changing();
  fScaled = Value;
  Changed();
}

TSingleRect TPositionedLayer::GetAdjustedLocation() const {
  TLayerCollection* collection = LayerCollection();
  if (!fScaled || !collection) return fLocation;
  float scaleX = 1, scaleY = 1, shiftX = 0, shiftY = 0;
  collection->GetViewportScale(scaleX, scaleY);
  collection->GetViewportShift(shiftX, shiftY);
  auto map = [](float v, float scale, float shift) {
    return StoreSingle(static_cast<Extended>(v) * scale + shift);
  };
  return TSingleRect{map(fLocation.Left, scaleX, shiftX), map(fLocation.Top, scaleY, shiftY),
                     map(fLocation.Right, scaleX, shiftX), map(fLocation.Bottom, scaleY, shiftY)};
}

// ---------------------------------------------------------------------------------------------
// TBitmapLayer

TBitmapLayer::TBitmapLayer() { ShareBitmap(std::make_shared<TBitmap32>()); }

void TBitmapLayer::ShareBitmap(std::shared_ptr<TBitmap32> Bitmap) {
  if (fBitmap) fBitmap->OnAreaChanged = nullptr;
  fBitmap = std::move(Bitmap);
  if (fBitmap)
    fBitmap->OnAreaChanged = [this](TObject*, const TRect& Area, std::uint32_t Info) { BitmapAreaChanged(Area, Info); };
}

TBitmapLayer::~TBitmapLayer() {
  if (!Destroying()) BeforeDestroy();
}

void TBitmapLayer::FreeOwned() {
  if (!fBitmap) return;
  fBitmap->OnAreaChanged = nullptr;  // the bitmap, dying or shared, must not report back
  fBitmap.reset();
}

TRect TBitmapLayer::DrawRect() const { return ToRect(GetAdjustedLocation()); }

void TBitmapLayer::Paint(TBitmap32& Buffer) {
  if (!fBitmap) return;
  DrawLayerBitmap(Buffer, DrawRect(), *fBitmap);
}

void DrawLayerBitmap(TBitmap32& Buffer, const TRect& Dst, const TBitmap32& Bitmap) {
  if (Bitmap.Empty()) return;
  const TRect clip = Buffer.ClipRect();
  const bool meets = Dst.Left < clip.Right && clip.Left < Dst.Right && Dst.Top < clip.Bottom && clip.Top < Dst.Bottom;
  if (!meets) return;
  if (Bitmap.ZeroOutsidePromised() && Bitmap.DrawMode() == dmBlend && Dst.Width() == Bitmap.Width() &&
      Dst.Height() == Bitmap.Height()) {
    // Drawn at its own size, pixel for pixel: only the content can change the buffer.
    const TRect content = Bitmap.ZeroOutside();
    const TRect part = IntersectRect(
        clip, TRect{Dst.Left + content.Left, Dst.Top + content.Top, Dst.Left + content.Right, Dst.Top + content.Bottom});
    if (part.Right > part.Left && part.Bottom > part.Top) {
      TransferRect(&Buffer, Dst, part, &Bitmap, Bitmap.BoundsRect(), Bitmap.Resampler(), dmBlend, Bitmap.OnPixelCombine);
    } else if (Bitmap.MasterAlpha() != 0) {
      Buffer.AreaChanged(Dst, AREAINFO_RECT);  // as the whole transfer reports it
    }
    return;
  }
  Bitmap.DrawInto(Buffer, Dst);
}

namespace {
// Area arithmetic for repaint reports: never raises, whatever the layer's location holds.
std::int32_t ClampToInt(long double v) {
  if (std::isnan(v)) return 0;
  constexpr long double kLimit = 1 << 30;
  return static_cast<std::int32_t>(std::clamp(v, -kLimit, kLimit));
}
}  // namespace

void TBitmapLayer::BitmapAreaChanged(const TRect& Area, std::uint32_t Info) {
  if (!fBitmap || fBitmap->Empty() || !LayerCollection()) return;
  if (!Visible() || fUpdateCount > 0 || (fOptionBits & kLayerNoUpdate) != 0) return;
  TSingleRect t = Location();
  if (Scaled()) {
    float scaleX = 1, scaleY = 1, shiftX = 0, shiftY = 0;
    LayerCollection()->GetViewportScale(scaleX, scaleY);
    LayerCollection()->GetViewportShift(shiftX, shiftY);
    t = TSingleRect{static_cast<float>(static_cast<long double>(t.Left) * scaleX + shiftX),
                    static_cast<float>(static_cast<long double>(t.Top) * scaleY + shiftY),
                    static_cast<float>(static_cast<long double>(t.Right) * scaleX + shiftX),
                    static_cast<float>(static_cast<long double>(t.Bottom) * scaleY + shiftY)};
  }
  const long double sx = (static_cast<long double>(t.Right) - t.Left) / fBitmap->Width();
  const long double sy = (static_cast<long double>(t.Bottom) - t.Top) / fBitmap->Height();
  const std::int32_t reach = ClampToInt(std::ceil(static_cast<long double>(fBitmap->Resampler().SampleWidth()))) + 1;
  const TRect mapped{ClampToInt(std::floor(t.Left + Area.Left * sx)) - reach,
                     ClampToInt(std::floor(t.Top + Area.Top * sy)) - reach,
                     ClampToInt(std::ceil(t.Left + Area.Right * sx)) + reach,
                     ClampToInt(std::ceil(t.Top + Area.Bottom * sy)) + reach};
  AreaUpdated(mapped, Info);
}

// ---------------------------------------------------------------------------------------------
// TLayerCollection

TLayerCollection::~TLayerCollection() {
  // The owner is going away too: tell nobody.
  OnChanging = nullptr;
  OnChange = nullptr;
  OnLayerUpdated = nullptr;
  OnAreaUpdated = nullptr;
  OnListNotify = nullptr;
  OnGetViewportScale = nullptr;
  OnGetViewportShift = nullptr;
  while (!fItems.empty()) {
    std::unique_ptr<TCustomLayer> layer = std::move(fItems.back());
    fItems.pop_back();
    layer->BeforeDestroy();
    layer->fLayerCollection = nullptr;
  }
}

TCustomLayer& TLayerCollection::LayerAt(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(kListIndexError, Index));
  return *fItems[static_cast<std::size_t>(Index)];
}

std::int32_t TLayerCollection::IndexOf(const TCustomLayer* Layer) const {
  for (std::size_t i = 0; i < fItems.size(); ++i)
    if (fItems[i].get() == Layer) return static_cast<std::int32_t>(i);
  return -1;
}

void TLayerCollection::BeginUpdate() {
  if (fUpdateCount == 0) Changing();
  ++fUpdateCount;
}

void TLayerCollection::EndUpdate() {
  if (fUpdateCount <= 0) return;
  if (--fUpdateCount == 0) Changed();
}

void TLayerCollection::Changing() {
  if (fUpdateCount == 0 && OnChanging) OnChanging(this);
}

void TLayerCollection::Changed() {
  if (fUpdateCount == 0 && OnChange) OnChange(this);
}

void TLayerCollection::AdoptLayer(std::unique_ptr<TCustomLayer> Layer) {
  BeginUpdate();
  try {
    TCustomLayer* layer = Layer.get();
    fItems.push_back(std::move(Layer));
    layer->fLayerCollection = this;
    Notify(lnLayerAdded, layer, Count() - 1);
  } catch (...) {
    --fUpdateCount;  // restore the counter, send nothing, pass the error on
    throw;
  }
  EndUpdate();
}

void TLayerCollection::Delete(std::int32_t Index) {
  TCustomLayer& layer = LayerAt(Index);
  layer.BeforeDestroy();
  std::unique_ptr<TCustomLayer> owned;
  BeginUpdate();
  try {
    const std::int32_t index = IndexOf(&layer);  // the destroy event may have moved things
    if (index >= 0) {
      owned = std::move(fItems[static_cast<std::size_t>(index)]);
      fItems.erase(fItems.begin() + index);
      owned->fLayerCollection = nullptr;
      Notify(lnLayerDeleted, owned.get(), index);
    }
  } catch (...) {
    --fUpdateCount;
    throw;
  }
  EndUpdate();
}

void TLayerCollection::Clear() {
  BeginUpdate();
  try {
    while (!fItems.empty()) Delete(Count() - 1);
    Notify(lnCleared, nullptr, 0);
  } catch (...) {
    --fUpdateCount;
    throw;
  }
  EndUpdate();
}

void TLayerCollection::LayerUpdated(TCustomLayer& Layer) {
  if (OnLayerUpdated) OnLayerUpdated(this, &Layer);
}

void TLayerCollection::AreaUpdated(const TRect& Area, std::uint32_t Info) {
  if (OnAreaUpdated) OnAreaUpdated(this, Area, Info);
}

void TLayerCollection::Notify(TLayerListNotification Action, TCustomLayer* Layer, std::int32_t Index) {
  if (OnListNotify) OnListNotify(*this, Action, Layer, Index);
}

void TLayerCollection::GetViewportScale(float& ScaleX, float& ScaleY) const {
  ScaleX = 1;
  ScaleY = 1;
  if (OnGetViewportScale) OnGetViewportScale(ScaleX, ScaleY);
}

void TLayerCollection::GetViewportShift(float& ShiftX, float& ShiftY) const {
  ShiftX = 0;
  ShiftY = 0;
  if (OnGetViewportShift) OnGetViewportShift(ShiftX, ShiftY);
}

}  // namespace quirlon::raster
