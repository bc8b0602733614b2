#pragma once
// The layer stack of an image view: TLayerCollection owns an ordered list of layers (index 0 is
// painted first, the last index last) and tells its owner, through events, about every change that
// needs a repaint. TBitmapLayer shows one owned TBitmap32 at a rectangle of the canvas.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster/Bitmap32.h"

namespace quirlon::raster {

class TLayerCollection;

// OptionBits of a layer. Other bits are kept but never set here.
inline constexpr std::uint32_t kLayerVisible = 0x80000000u;
inline constexpr std::uint32_t kLayerMouseEvents = 0x20000000u;
inline constexpr std::uint32_t kLayerNoUpdate = 0x10000000u;      // suppresses all notification
inline constexpr std::uint32_t kLayerForceUpdate = 0x02000000u;   // one update while hidden

enum TLayerListNotification : std::uint8_t { lnLayerAdded, lnLayerDeleted, lnCleared };

class TCustomLayer;
using TLayerListNotifyEvent =
    std::function<void(TLayerCollection& Sender, TLayerListNotification Action, TCustomLayer* Layer, std::int32_t Index)>;
using TLayerUpdateEvent = std::function<void(TObject* Sender, TCustomLayer* Layer)>;
using TViewportScaleEvent = std::function<void(float& ScaleX, float& ScaleY)>;
using TPaintLayerEvent = std::function<void(TObject* Sender, TBitmap32& Buffer)>;

// A layer. Created on top of a collection with CreateIn (the collection then owns it) or on its
// own. Change notification: Changed reports the layer to its collection unless the layer is inside
// BeginUpdate, has no collection or carries kLayerNoUpdate.
class TCustomLayer : public TNotifiablePersistent {
public:
  TCustomLayer();
  ~TCustomLayer() override;
  TCustomLayer(const TCustomLayer&) = delete;
  TCustomLayer& operator=(const TCustomLayer&) = delete;
  std::string ClassName() const override { return "TCustomLayer"; }

  // Makes a new layer of class L (constructed from Args) and appends it on top of Collection,
  // which owns it from then on. Returns the new layer.
  template <class L, class... Args>
  static L& CreateIn(TLayerCollection& Collection, Args&&... args);

  TLayerCollection* LayerCollection() const { return fLayerCollection; }
  std::int32_t Index() const;  // -1 without a collection

  std::uint32_t OptionBits() const { return fOptionBits; }
  void SetOptionBits(std::uint32_t Value);
  bool Visible() const { return (fOptionBits & kLayerVisible) != 0; }
  // Hiding keeps the force-update bit set while the visible bit is cleared, so the old area of
  // the hidden layer is still reported for repainting.
  void SetVisible(bool Value);

  void Changed() override;

  // Paints the layer into Buffer (clipped to Buffer's ClipRect), then raises OnPaint.
  void PaintLayer(TBitmap32& Buffer);

  // Two-way free notification: when either layer is destroyed the other one hears of it through
  // Notification and forgets it.
  void AddNotification(TCustomLayer& Layer);
  void RemoveNotification(TCustomLayer& Layer);

  TNotifyEvent OnDestroy;
  TPaintLayerEvent OnPaint;

protected:
  // The layer's own drawing; nothing by default.
  virtual void Paint(TBitmap32& Buffer) { (void)Buffer; }
  // A layer in the free-notification list is being destroyed.
  virtual void Notification(TCustomLayer& Layer) { (void)Layer; }
  // Releases what the layer owns (called once, before the free notifications go out).
  virtual void FreeOwned() {}
  // Before a value changes: the collection's changing event, when the change is going to be seen.
  void Changing();
  // Reports Area (view coordinates) as changed to the collection.
  void AreaUpdated(const TRect& Area, std::uint32_t Info);
  // The first step of destruction (destroy event, owned resources, free notifications). Every
  // concrete destructor calls it when the collection has not done so already.
  void BeforeDestroy();
  bool Destroying() const { return fDestroying; }

private:
  friend class TLayerCollection;
  TLayerCollection* fLayerCollection = nullptr;
  std::vector<TCustomLayer*> fFreeNotifies;
  bool fDestroying = false;

protected:
  std::uint32_t fOptionBits = kLayerVisible;
};

// A layer with a rectangle in canvas pixels. When Scaled, the rectangle follows the view's picture
// scale and shift (asked from the collection).
class TPositionedLayer : public TCustomLayer {
public:
  TPositionedLayer();
  ~TPositionedLayer() override;
  std::string ClassName() const override { return "TPositionedLayer"; }

  TSingleRect Location() const { return fLocation; }
  void SetLocation(const TSingleRect& Value);
  bool Scaled() const { return fScaled; }
  void SetScaled(bool Value);

  // Location mapped into view coordinates: each value v becomes v * scale + shift (stored as a
  // float) when Scaled and in a collection, else Location unchanged.
  TSingleRect GetAdjustedLocation() const;

private:
  TSingleRect fLocation{0, 0, 64, 64};
  bool fScaled = false;
};

// A positioned layer showing its own bitmap, drawn by the bitmap's DrawMode, CombineMode,
// MasterAlpha and resampler. The layer listens to its bitmap's OnAreaChanged (do not reassign it).
class TBitmapLayer : public TPositionedLayer {
public:
  TBitmapLayer();
  ~TBitmapLayer() override;
  std::string ClassName() const override { return "TBitmapLayer"; }

  // A new visible layer on top of Collection with Location (0, 0, 64, 64), not Scaled, and an
  // empty bitmap.
  static TBitmapLayer& Create(TLayerCollection& Collection) { return CreateIn<TBitmapLayer>(Collection); }

  TBitmap32& Bitmap() { return *fBitmap; }
  const TBitmap32& Bitmap() const { return *fBitmap; }
  // Shows Bitmap instead of the layer's own (a render's finished layer, say), without copying it.
  // The layer listens to its OnAreaChanged while it shows it.
  void ShareBitmap(std::shared_ptr<TBitmap32> Bitmap);
  bool AlphaHit() const { return fAlphaHit; }
  bool Cropped() const { return fCropped; }

  // The rectangle the bitmap is drawn at: GetAdjustedLocation rounded (nearest, ties to even).
  TRect DrawRect() const;

  // The bitmap's promise (TBitmap32::PromiseZeroOutside) that every pixel outside Bounds is 0.
  // Blending such pixels leaves the buffer as it is, so a bitmap blended at its own size is then
  // drawn only inside Bounds, with the same result; scaled drawing searches only Bounds for content.
  void SetContentBounds(const TRect& Bounds) { fBitmap->PromiseZeroOutside(Bounds); }
  void ClearContentBounds() { fBitmap->WithdrawZeroOutside(); }
  bool HasContentBounds() const { return fBitmap->ZeroOutsidePromised(); }
  TRect ContentBounds() const { return fBitmap->ZeroOutside(); }

protected:
  void Paint(TBitmap32& Buffer) override;
  void FreeOwned() override;

private:
  void BitmapAreaChanged(const TRect& Area, std::uint32_t Info);

  std::shared_ptr<TBitmap32> fBitmap;
  bool fAlphaHit = false;
  bool fCropped = false;
};

// Draws a layer's Bitmap onto Buffer at Dst by the bitmap's draw settings, clipped to Buffer's
// clip rectangle: a bitmap drawn at its own size with a promise about its zeros is drawn only
// inside its content (the same pixels, less work).
void DrawLayerBitmap(TBitmap32& Buffer, const TRect& Dst, const TBitmap32& Bitmap);

// The view's layer list. Owns its layers. Between the outermost BeginUpdate and EndUpdate the
// changed event is held back; the first BeginUpdate raises OnChanging, the last EndUpdate OnChange.
class TLayerCollection : public TPersistent {
public:
  explicit TLayerCollection(TObject* Owner = nullptr) : fOwner(Owner) {}
  ~TLayerCollection() override;  // frees the layers without raising events
  TLayerCollection(const TLayerCollection&) = delete;
  TLayerCollection& operator=(const TLayerCollection&) = delete;
  std::string ClassName() const override { return "TLayerCollection"; }

  TObject* Owner() const { return fOwner; }
  std::int32_t Count() const { return static_cast<std::int32_t>(fItems.size()); }
  // Throws EListError "List index out of bounds (%d)" outside 0 .. Count - 1.
  TCustomLayer& LayerAt(std::int32_t Index) const;
  std::int32_t IndexOf(const TCustomLayer* Layer) const;  // -1 when not in the list

  // Destroys every layer, last to first, then sends lnCleared.
  void Clear();
  // Destroys the layer at Index (it leaves the list, lnLayerDeleted with its old index).
  void Delete(std::int32_t Index);

  void BeginUpdate();
  void EndUpdate();
  std::int32_t UpdateCount() const { return fUpdateCount; }
  // The collection's changing and changed events (held back while inside BeginUpdate).
  void Changing();
  void Changed();

  // The current viewport scale (default 1, 1) and shift (default 0, 0) for scaled layers.
  void GetViewportScale(float& ScaleX, float& ScaleY) const;
  void GetViewportShift(float& ShiftX, float& ShiftY) const;

  bool MouseEvents() const { return fMouseEvents; }
  void SetMouseEvents(bool Value) { fMouseEvents = Value; }

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;
  TLayerUpdateEvent OnLayerUpdated;
  TAreaChangedEvent OnAreaUpdated;
  TLayerListNotifyEvent OnListNotify;
  TViewportScaleEvent OnGetViewportScale;
  TViewportScaleEvent OnGetViewportShift;

private:
  friend class TCustomLayer;
  void AdoptLayer(std::unique_ptr<TCustomLayer> Layer);
  void LayerUpdated(TCustomLayer& Layer);
  void AreaUpdated(const TRect& Area, std::uint32_t Info);
  void Notify(TLayerListNotification Action, TCustomLayer* Layer, std::int32_t Index);

  TObject* fOwner;
  std::vector<std::unique_ptr<TCustomLayer>> fItems;
  std::int32_t fUpdateCount = 0;
  bool fMouseEvents = true;
};

template <class L, class... Args>
L& TCustomLayer::CreateIn(TLayerCollection& Collection, Args&&... args) {
  auto owned = std::make_unique<L>(std::forward<Args>(args)...);
  L& ref = *owned;
  Collection.AdoptLayer(std::move(owned));
  return ref;
}

}  // namespace quirlon::raster
