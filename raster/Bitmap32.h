#pragma once
// TBitmap32: a rectangular array of straight ARGB pixels with the settings that say how it is drawn
// onto another bitmap. Pixels live in owned storage (row-major, top row first, no padding); every
// bitmap owns one resampler, a TNearestResampler in pamSafe mode when new.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "raster/Color.h"
#include "raster/PixelStore.h"

namespace quirlon::raster {

// Root of the class tree: class names matter (resampler and kernel registries, error messages).
class TObject {
public:
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

class TPersistent : public TObject {
public:
  std::string ClassName() const override { return "TPersistent"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;
// dmCustom callback: F source pixel, B destination pixel (changed in place), M master alpha.
using TPixelCombineEvent = std::function<void(TColor32 F, TColor32& B, TColor32 M)>;
using TAreaChangedEvent = std::function<void(TObject* Sender, const TRect& Area, std::uint32_t Info)>;

inline constexpr std::uint32_t AREAINFO_RECT = 0x80000000u;

// Change notification through an update counter: Changed raises OnChange only at depth 0;
// EndUpdate sends nothing itself.
class TNotifiablePersistent : public TPersistent {
public:
  std::string ClassName() const override { return "TNotifiablePersistent"; }
  virtual void Changed();
  virtual void BeginUpdate() { ++fUpdateCount; }
  virtual void EndUpdate() { --fUpdateCount; }
  int UpdateCount() const { return fUpdateCount; }
  TNotifyEvent OnChange;

protected:
  int fUpdateCount = 0;
};

class TCustomMap : public TNotifiablePersistent {
public:
  std::string ClassName() const override { return "TCustomMap"; }
  std::int32_t Width() const { return fWidth; }
  std::int32_t Height() const { return fHeight; }
  virtual bool Empty() const { return fWidth == 0 || fHeight == 0; }
  virtual bool SetSize(std::int32_t NewWidth, std::int32_t NewHeight) = 0;
  void Delete() { SetSize(0, 0); }
  TNotifyEvent OnResize;

protected:
  virtual void Resized() {
    if (OnResize) OnResize(this);
  }
  std::int32_t fWidth = 0;
  std::int32_t fHeight = 0;
};

enum TDrawMode : std::uint8_t { dmOpaque, dmBlend, dmCustom, dmTransparent };
enum TCombineMode : std::uint8_t { cmBlend, cmMerge };
enum TWrapMode : std::uint8_t { wmClamp, wmRepeat, wmMirror };

// Brings v into lo..hi by the wrap mode (div and mod truncate towards zero).
std::int32_t WrapCoord(TWrapMode mode, std::int32_t v, std::int32_t lo, std::int32_t hi);

class TCustomResampler;

class TBitmap32 : public TCustomMap {
public:
  TBitmap32();
  ~TBitmap32() override;  // raises no events
  TBitmap32(const TBitmap32&) = delete;
  TBitmap32& operator=(const TBitmap32&) = delete;
  std::string ClassName() const override { return "TBitmap32"; }

  // Sizing. Negative values count as 0; a size change discards the pixels and starts from zeros.
  // Throws EOutOfResources("Can't allocate the DIB handle") with the bitmap left 0 x 0.
  bool SetSize(std::int32_t NewWidth, std::int32_t NewHeight) override;
  // Size of another map; a null pointer gives 0 x 0. Non-map objects: "Can't set size from '<class>'".
  void SetSizeFrom(const TObject* Source);
  bool Empty() const override;
  TRect BoundsRect() const { return TRect{0, 0, fWidth, fHeight}; }

  // Fills and frames; all stay inside ClipRect.
  void Clear(TColor32 FillColor = 0);
  void ResetAlpha(std::uint8_t AlphaValue = 255);
  void FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2, TColor32 Value);
  void FillRect(const TRect& R, TColor32 Value) { FillRect(R.Left, R.Top, R.Right, R.Bottom, Value); }
  void FrameRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2, TColor32 Value);
  void FrameRect(const TRect& R, TColor32 Value) { FrameRect(R.Left, R.Top, R.Right, R.Bottom, Value); }
  void HorzLine(std::int32_t X1, std::int32_t Y, std::int32_t X2, TColor32 Value);  // both ends included
  void VertLine(std::int32_t X, std::int32_t Y1, std::int32_t Y2, TColor32 Value);  // both ends included

  // Pixel access without bounds checks: callers keep coordinates inside the bitmap. The writable
  // forms give a bitmap that shares its pixels (ShareReadOnly) its own copy first.
  TColor32* Bits() {
    OwnPixels();
    return fPixels.empty() ? nullptr : fPixels.data();
  }
  const TColor32* Bits() const { return PixelCount() == 0 ? nullptr : PixelData(); }
  TColor32* ScanLine(std::int32_t Y) {
    OwnPixels();
    return fPixels.data() + static_cast<std::size_t>(Y) * fWidth;
  }
  const TColor32* ScanLine(std::int32_t Y) const { return PixelData() + static_cast<std::size_t>(Y) * fWidth; }
  TColor32 PixelAt(std::int32_t X, std::int32_t Y) const { return PixelData()[static_cast<std::size_t>(Y) * fWidth + X]; }
  TColor32& PixelRef(std::int32_t X, std::int32_t Y) {
    OwnPixels();
    return fPixels[static_cast<std::size_t>(Y) * fWidth + X];
  }
  std::size_t PixelCount() const {
    return fShared != nullptr ? static_cast<std::size_t>(fWidth) * static_cast<std::size_t>(fHeight) : fPixels.size();
  }

  // Takes Width x Height pixels (row-major, no padding) that others hold too, without copying them:
  // a decoded picture drawn unchanged onto a face costs no copy of its megabytes. They are only
  // read; whatever may write (the writable accessors, fills, in-place mirrors) first copies them
  // into the bitmap's own store. Pixels must not change while shared. Settings stay; Changed is
  // called as for a new size.
  void ShareReadOnly(std::shared_ptr<const TColor32> Pixels, std::int32_t Width, std::int32_t Height);
  bool SharesPixels() const { return fShared != nullptr; }
  // The bitmap's pixels as ShareReadOnly takes them: its own store is handed over (not copied) and
  // the bitmap shares it from then on. Null for an empty bitmap.
  std::shared_ptr<const TColor32> SharePixels();

  // Copies size, pixels and settings; a null source empties the bitmap. Picture objects: imagefiles.
  void Assign(const TBitmap32* Source);
  void CopyContentTo(TBitmap32& Dst) const;
  void CopySettingsTo(TBitmap32& Dst) const;
  // Assign that moves the pixels instead of copying them, with the same events; Source keeps its
  // settings and is left 0 x 0.
  void AssignMoving(TBitmap32& Source);

  // Mirrors and turns; without a destination (or with this bitmap as destination) they change this
  // bitmap in place, keep its settings and resampler, and call Changed. A separate destination is
  // resized to the result, receives every pixel and gets Changed; this bitmap stays unchanged.
  void MirrorHorizontal(TBitmap32* Dst = nullptr);
  void MirrorVertical(TBitmap32* Dst = nullptr);
  void RotateClockwise(TBitmap32* Dst = nullptr);
  void RotateHalfTurn(TBitmap32* Dst = nullptr);
  void RotateCounterClockwise(TBitmap32* Dst = nullptr);

  // Settings. The setters notify only on a real change; OuterColor is a plain store.
  TDrawMode DrawMode() const { return fDrawMode; }
  void SetDrawMode(TDrawMode Value);
  TCombineMode CombineMode() const { return fCombineMode; }
  void SetCombineMode(TCombineMode Value);
  TWrapMode WrapMode() const { return fWrapMode; }
  void SetWrapMode(TWrapMode Value);
  std::uint32_t MasterAlpha() const { return fMasterAlpha; }
  void SetMasterAlpha(std::uint32_t Value);
  TColor32 OuterColor() const { return fOuterColor; }
  void SetOuterColor(TColor32 Value) { fOuterColor = Value; }

  // The owned resampler. SetResampler(nullptr) or the current one does nothing; otherwise the old
  // one is freed and Changed called.
  TCustomResampler& Resampler() const { return *fResampler; }
  void SetResampler(std::unique_ptr<TCustomResampler> Value);
  std::string ResamplerClassName() const;
  // Unregistered names and the current class name are ignored.
  void SetResamplerClassName(const std::string& Name);

  // Clipping.
  TRect ClipRect() const { return fClipRect; }
  void SetClipRect(const TRect& Value);
  bool Clipping() const { return fClipping; }
  // ClipRect in 16.16 and in 1/256 pixel units, for the resamplers.
  TRect FixedClipRect() const { return fFixedClipRect; }
  TRect Clip256Rect() const { return fClip256Rect; }

  // A promise by whoever filled the bitmap that every pixel outside Rect is 0 (transparent black),
  // so that searches for content (NonzeroBounds and what uses it) read only Rect. A change reported
  // through Changed or AreaChanged, and so also a new size, withdraws it; a writer that reports
  // nothing withdraws it itself if it may add pixels outside.
  void PromiseZeroOutside(const TRect& Rect);
  void WithdrawZeroOutside() { fZeroOutsideKnown = false; }
  bool ZeroOutsidePromised() const { return fZeroOutsideKnown; }
  // The promised rectangle, or the whole bitmap without a promise.
  TRect ZeroOutside() const { return fZeroOutsideKnown ? fZeroOutside : BoundsRect(); }

  // Notification.
  void Changed() override;
  virtual void AreaChanged(const TRect& Area, std::uint32_t Info = AREAINFO_RECT);
  TNotifyEvent OnHandleChanged;
  TPixelCombineEvent OnPixelCombine;
  TAreaChangedEvent OnAreaChanged;

  // Drawing between bitmaps through TransferRect (raster/Blend.h). Draw: Src (nothing when null) into
  // this bitmap, limited to ClipRect, by Src's resampler, DrawMode and OnPixelCombine. DrawInto: this
  // whole bitmap into DstRect of Dst, limited to Dst's ClipRect.
  void Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src);
  void Draw(std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src);
  void DrawInto(TBitmap32& Dst, const TRect& DstRect) const;

  // The "Data" block: int32 width, int32 height, pixels (little-endian, top row first).
  // Load reads the size, then the pixels, then calls Changed (also when reading failed). A block
  // claiming more than 16 MiB of pixels that a seekable stream cannot hold raises EReadError
  // before the pixels are allocated, leaving the bitmap as it was.
  void LoadPixelData(std::istream& Stream);
  void SavePixelData(std::ostream& Stream) const;

  // Called by a resampler constructed for this bitmap: install it (the old one is freed).
  void AdoptResampler(std::unique_ptr<TCustomResampler> Resampler);

private:
  void ResetClipRect();
  void HandleChanged();
  const TColor32* PixelData() const { return fShared != nullptr ? fShared.get() : fPixels.data(); }
  void OwnPixels() {
    if (fShared != nullptr) [[unlikely]] CopySharedPixels();
  }
  void CopySharedPixels();
  void FreshPixels();
  // Takes From's size and pixels (From gets these, to be thrown away), telling what SetSize would;
  // the settings stay.
  void TakePixelsOf(TBitmap32& From);

  TPixelStore fPixels;
  std::shared_ptr<const TColor32> fShared;  // pixels shared read-only instead of fPixels
  TRect fClipRect{};
  TRect fFixedClipRect{};
  TRect fClip256Rect{};
  bool fClipping = false;
  TDrawMode fDrawMode = dmOpaque;
  TCombineMode fCombineMode = cmBlend;
  TWrapMode fWrapMode = wmClamp;
  std::uint32_t fMasterAlpha = 255;
  TColor32 fOuterColor = 0;
  TRect fZeroOutside{};
  bool fZeroOutsideKnown = false;
  std::unique_ptr<TCustomResampler> fResampler;
};

// Sizes Dst like Src and sets each Dst alpha to the Intensity of the Src pixel at the same index.
// Null pointers: "The source is nil" / "Destination is nil".
void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src);

}  // namespace quirlon::raster
