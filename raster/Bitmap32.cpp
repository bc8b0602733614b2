#include "raster/Bitmap32.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <utility>

#include "raster/Blend.h"
#include "raster/Errors.h"
#include "raster/Sampler.h"

namespace quirlon::raster {

namespace {

// The storage stands in for a 32-bit top-down platform bitmap, whose byte size is a 32-bit signed
// value; larger requests fail like the platform would instead of exhausting memory.
constexpr std::uint64_t kMaxPixels = 0x7FFFFFFFull / 4;
// "Data" blocks claiming more pixel bytes than this are checked against the stream's length first.
constexpr std::uint64_t kPixelDataCheckBytes = 16ull * 1024 * 1024;

constexpr const char* kAllocError = "Can't allocate the DIB handle";

}  // namespace

// ---------------------------------------------------------------------------------------------
// Notification and locking

void TNotifiablePersistent::Changed() {
  if (fUpdateCount == 0 && OnChange) OnChange(this);
}


// ---------------------------------------------------------------------------------------------
// Wrap rules

std::int32_t WrapCoord(TWrapMode mode, std::int32_t v, std::int32_t lo, std::int32_t hi) {
  if (hi < lo) return lo;  // no range to wrap into
  // 64-bit arithmetic: v - hi may not fit int32. C++ / and % truncate towards zero as required.
  const std::int64_t n = std::int64_t{hi} - lo + 1;
  switch (mode) {
    case wmClamp:
      return v < lo ? lo : (v > hi ? hi : v);
    case wmRepeat:
      if (v < lo) return static_cast<std::int32_t>(hi + (std::int64_t{v} - hi) % n);
      return static_cast<std::int32_t>(lo + (std::int64_t{v} - lo) % n);
    case wmMirror: {
      std::int64_t q, r;
      if (v < lo) {
        q = (std::int64_t{v} - hi) / n;
        r = hi + (std::int64_t{v} - hi) % n;
      } else {
        q = (std::int64_t{v} - lo) / n;
        r = lo + (std::int64_t{v} - lo) % n;
      }
      return static_cast<std::int32_t>((q & 1) ? std::int64_t{lo} + hi - r : r);
    }
  }
  return v;
}

// ---------------------------------------------------------------------------------------------
// Life cycle and size

TBitmap32::TBitmap32() { MakeResampler<TNearestResampler>(*this); }

TBitmap32::~TBitmap32() {
  // Released without raising events: listeners must not see a bitmap that is being destroyed.
  BeginUpdate();
  fPixels.clear();
  fShared.reset();
  fResampler.reset();
}

bool TBitmap32::SetSize(std::int32_t NewWidth, std::int32_t NewHeight) {
  if (NewWidth < 0) NewWidth = 0;
  if (NewHeight < 0) NewHeight = 0;
  if (NewWidth == fWidth && NewHeight == fHeight) return false;

  TPixelStore().swap(fPixels);
  fShared.reset();
  fWidth = 0;
  fHeight = 0;
  ResetClipRect();
  if (NewWidth > 0 && NewHeight > 0) {
    const std::uint64_t count = std::uint64_t(NewWidth) * std::uint64_t(NewHeight);
    if (count > kMaxPixels) throw EOutOfResources(kAllocError);
    try {
      fPixels.resize(static_cast<std::size_t>(count));  // zeros from an empty store
    } catch (const std::bad_alloc&) {
      throw EOutOfResources(kAllocError);
    }
  }
  fWidth = NewWidth;
  fHeight = NewHeight;
  fZeroOutsideKnown = false;
  ResetClipRect();
  HandleChanged();
  Changed();
  Resized();
  return true;
}

void TBitmap32::SetSizeFrom(const TObject* Source) {
  if (!Source) {
    SetSize(0, 0);
    return;
  }
  if (const auto* map = dynamic_cast<const TCustomMap*>(Source)) {
    SetSize(map->Width(), map->Height());
    return;
  }
  throw EBitmapException("Can't set size from '" + Source->ClassName() + "'");
}

bool TBitmap32::Empty() const { return PixelCount() == 0 || fWidth == 0 || fHeight == 0; }

void TBitmap32::ShareReadOnly(std::shared_ptr<const TColor32> Pixels, std::int32_t Width, std::int32_t Height) {
  if (Pixels == nullptr || Width <= 0 || Height <= 0) {
    SetSize(0, 0);
    return;
  }
  if (std::uint64_t(Width) * std::uint64_t(Height) > kMaxPixels) throw EOutOfResources(kAllocError);
  const bool resized = Width != fWidth || Height != fHeight;
  TPixelStore().swap(fPixels);
  fShared = std::move(Pixels);
  fWidth = Width;
  fHeight = Height;
  fZeroOutsideKnown = false;
  if (resized) {
    ResetClipRect();
    HandleChanged();
  }
  Changed();
  if (resized) Resized();
}

std::shared_ptr<const TColor32> TBitmap32::SharePixels() {
  if (fShared != nullptr || Empty()) return fShared;
  auto store = std::make_shared<TPixelStore>();
  store->swap(fPixels);
  fShared = std::shared_ptr<const TColor32>(store, store->data());
  return fShared;
}

void TBitmap32::TakePixelsOf(TBitmap32& From) {
  const bool resized = fWidth != From.fWidth || fHeight != From.fHeight;
  fPixels.swap(From.fPixels);
  fShared.swap(From.fShared);
  std::swap(fWidth, From.fWidth);
  std::swap(fHeight, From.fHeight);
  From.ResetClipRect();
  fZeroOutsideKnown = false;
  if (resized) {
    ResetClipRect();
    HandleChanged();
    Changed();
    Resized();
  }
}

void TBitmap32::CopySharedPixels() {
  TPixelStore own;
  try {
    own.resize(PixelCount());
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kAllocError);
  }
  std::memcpy(own.data(), fShared.get(), own.size() * sizeof(TColor32));
  fPixels.swap(own);
  fShared.reset();
}

// Pixels about to be overwritten whole: shared ones are swapped for an own store of zeros rather
// than copied first.
void TBitmap32::FreshPixels() {
  if (fShared == nullptr) return;
  TPixelStore own;
  try {
    own.resize(PixelCount());
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kAllocError);
  }
  fPixels.swap(own);
  fShared.reset();
}

void TBitmap32::HandleChanged() {
  if (OnHandleChanged) OnHandleChanged(this);
}

// ---------------------------------------------------------------------------------------------
// Clipping

void TBitmap32::ResetClipRect() { SetClipRect(BoundsRect()); }

void TBitmap32::SetClipRect(const TRect& Value) {
  fClipRect = IntersectRect(Value, BoundsRect());
  fFixedClipRect = TRect{FixedFromInt(fClipRect.Left), FixedFromInt(fClipRect.Top), FixedFromInt(fClipRect.Right),
                         FixedFromInt(fClipRect.Bottom)};
  auto to256 = [](std::int32_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << 8); };
  fClip256Rect = TRect{to256(fClipRect.Left), to256(fClipRect.Top), to256(fClipRect.Right), to256(fClipRect.Bottom)};
  fClipping = !(fClipRect == BoundsRect());
}

// ---------------------------------------------------------------------------------------------
// Fills

void TBitmap32::Clear(TColor32 FillColor) {
  if (Empty()) return;
  if (fClipping) {
    for (std::int32_t y = fClipRect.Top; y < fClipRect.Bottom; ++y) {
      TColor32* row = ScanLine(y);
      std::fill(row + fClipRect.Left, row + fClipRect.Right, FillColor);
    }
  } else {
    FreshPixels();
    std::fill(fPixels.begin(), fPixels.end(), FillColor);
  }
  Changed();
}

void TBitmap32::ResetAlpha(std::uint8_t AlphaValue) {
  const TColor32 alpha = TColor32(AlphaValue) << 24;
  OwnPixels();
  for (TColor32& p : fPixels) p = (p & 0x00FFFFFFu) | alpha;
  Changed();
}

void TBitmap32::FillRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2, TColor32 Value) {
  if (X2 > X1 && Y2 > Y1 && X1 < fClipRect.Right && Y1 < fClipRect.Bottom && fClipRect.Left < X2 &&
      fClipRect.Top < Y2) {
    X1 = std::max(X1, fClipRect.Left);
    Y1 = std::max(Y1, fClipRect.Top);
    X2 = std::min(X2, fClipRect.Right);
    Y2 = std::min(Y2, fClipRect.Bottom);
    for (std::int32_t y = Y1; y < Y2; ++y) {
      TColor32* row = ScanLine(y);
      std::fill(row + X1, row + X2, Value);
    }
  }
  AreaChanged(TRect{X1, Y1, X2, Y2}, AREAINFO_RECT);
}

void TBitmap32::HorzLine(std::int32_t X1, std::int32_t Y, std::int32_t X2, TColor32 Value) {
  if (Y < fClipRect.Top || Y >= fClipRect.Bottom) return;
  if (X2 < X1) std::swap(X1, X2);
  X1 = std::max(X1, fClipRect.Left);
  X2 = std::min(X2, fClipRect.Right - 1);
  if (X2 < X1) return;
  TColor32* row = ScanLine(Y);
  std::fill(row + X1, row + X2 + 1, Value);
  AreaChanged(TRect{X1, Y, X2 + 1, Y + 1}, AREAINFO_RECT);
}

void TBitmap32::VertLine(std::int32_t X, std::int32_t Y1, std::int32_t Y2, TColor32 Value) {
  if (X < fClipRect.Left || X >= fClipRect.Right) return;
  if (Y2 < Y1) std::swap(Y1, Y2);
  Y1 = std::max(Y1, fClipRect.Top);
  Y2 = std::min(Y2, fClipRect.Bottom - 1);
  if (Y2 < Y1) return;
  for (std::int32_t y = Y1; y <= Y2; ++y) PixelRef(X, y) = Value;
  AreaChanged(TRect{X, Y1, X + 1, Y2 + 1}, AREAINFO_RECT);
}

void TBitmap32::FrameRect(std::int32_t X1, std::int32_t Y1, std::int32_t X2, std::int32_t Y2, TColor32 Value) {
  if (X1 >= X2 || Y1 >= Y2 || X1 >= fClipRect.Right || Y1 >= fClipRect.Bottom || fClipRect.Left >= X2 ||
      fClipRect.Top >= Y2)
    return;
  // X2 > X1 and Y2 > Y1 here, so the "- 1" and "- 2" below cannot overflow.
  const std::int32_t r = X2 - 1;
  HorzLine(X1, Y1, r, Value);
  if (Y1 < Y2 - 1) HorzLine(X1, Y2 - 1, r, Value);
  if (Y2 - 1 > Y1 + 1) {  // Y1 + 1 < Y2 - 1 without overflowing at Y1 = INT32_MAX - 1
    VertLine(X1, Y1 + 1, Y2 - 2, Value);
    if (X1 < r) VertLine(r, Y1 + 1, Y2 - 2, Value);
  }
}

// ---------------------------------------------------------------------------------------------
// Copies

namespace {

// Work on a bitmap between BeginUpdate and EndUpdate, followed by one Changed, also when it fails.
template <class TWork>
void ChangeInOneBatch(TBitmap32& Bitmap, TWork&& Work) {
  Bitmap.BeginUpdate();
  try {
    Work();
  } catch (...) {
    Bitmap.EndUpdate();
    Bitmap.Changed();
    throw;
  }
  Bitmap.EndUpdate();
  Bitmap.Changed();
}

}  // namespace

void TBitmap32::Assign(const TBitmap32* Source) {
  ChangeInOneBatch(*this, [&] {
    if (!Source) {
      SetSize(0, 0);
    } else if (Source != this) {
      Source->CopyContentTo(*this);
      Source->CopySettingsTo(*this);
    }
  });
}

void TBitmap32::AssignMoving(TBitmap32& Source) {
  if (&Source == this) return;
  ChangeInOneBatch(*this, [&] {
    // The stores trade places; a size change tells what SetSize would have told.
    TakePixelsOf(Source);
    Source.SetSize(0, 0);
    Source.CopySettingsTo(*this);
  });
}

void TBitmap32::CopyContentTo(TBitmap32& Dst) const {
  if (&Dst == this) return;
  if (fShared != nullptr) {  // the copy shares them too
    Dst.ShareReadOnly(fShared, fWidth, fHeight);
    return;
  }
  Dst.SetSize(fWidth, fHeight);
  Dst.FreshPixels();
  if (!Empty()) std::copy(fPixels.begin(), fPixels.end(), Dst.fPixels.begin());
}

void TBitmap32::CopySettingsTo(TBitmap32& Dst) const {
  Dst.SetDrawMode(fDrawMode);
  Dst.SetCombineMode(fCombineMode);
  Dst.SetWrapMode(fWrapMode);
  Dst.SetMasterAlpha(fMasterAlpha);
  Dst.SetOuterColor(fOuterColor);
  if (&Dst == this) return;
  Dst.SetResamplerClassName(ResamplerClassName());
  Dst.Resampler().AssignSettings(*fResampler);
}

// ---------------------------------------------------------------------------------------------
// Mirrors and turns

void TBitmap32::MirrorHorizontal(TBitmap32* Dst) {
  const std::int32_t w = fWidth;
  if (!Dst || Dst == this) {
    OwnPixels();
    for (std::int32_t y = 0; y < fHeight && !fPixels.empty(); ++y) std::reverse(ScanLine(y), ScanLine(y) + w);
    Changed();
    return;
  }
  const TBitmap32& self = *this;
  Dst->SetSize(fWidth, fHeight);
  Dst->FreshPixels();
  if (!Empty())
    for (std::int32_t y = 0; y < fHeight; ++y) std::reverse_copy(self.ScanLine(y), self.ScanLine(y) + w, Dst->ScanLine(y));
  Dst->Changed();
}

void TBitmap32::MirrorVertical(TBitmap32* Dst) {
  const std::size_t w = static_cast<std::size_t>(fWidth);
  if (!Dst || Dst == this) {
    if (fShared != nullptr) {
      // Mirrored while copied: one pass over the shared pixels.
      const std::shared_ptr<const TColor32> shared = fShared;
      FreshPixels();
      for (std::int32_t y = 0; y < fHeight; ++y)
        std::memcpy(ScanLine(fHeight - 1 - y), shared.get() + static_cast<std::size_t>(y) * w, w * sizeof(TColor32));
    } else if (!Empty()) {
      std::vector<TColor32> buffer(w);  // one row
      for (std::int32_t top = 0, bottom = fHeight - 1; top < bottom; ++top, --bottom) {
        std::memcpy(buffer.data(), ScanLine(top), w * sizeof(TColor32));
        std::memcpy(ScanLine(top), ScanLine(bottom), w * sizeof(TColor32));
        std::memcpy(ScanLine(bottom), buffer.data(), w * sizeof(TColor32));
      }
    }
    Changed();
    return;
  }
  const TBitmap32& self = *this;
  Dst->SetSize(fWidth, fHeight);
  Dst->FreshPixels();
  if (!Empty())
    for (std::int32_t y = 0; y < fHeight; ++y)
      std::memcpy(Dst->ScanLine(fHeight - 1 - y), self.ScanLine(y), w * sizeof(TColor32));
  Dst->Changed();
}

void TBitmap32::RotateHalfTurn(TBitmap32* Dst) {
  if (!Dst || Dst == this) {
    OwnPixels();
    std::reverse(fPixels.begin(), fPixels.end());
    Changed();
    return;
  }
  Dst->SetSize(fWidth, fHeight);
  Dst->FreshPixels();
  if (!Empty()) std::reverse_copy(PixelData(), PixelData() + PixelCount(), Dst->fPixels.begin());
  Dst->Changed();
}

namespace {

// Writes the quarter turn of Src into Dst (already sized H x W).
void QuarterTurn(const TBitmap32& Src, TBitmap32& Dst, bool clockwise) {
  const std::int32_t w = Src.Width();
  const std::int32_t h = Src.Height();
  if (Src.Empty()) return;
  for (std::int32_t y = 0; y < h; ++y) {
    const TColor32* row = Src.ScanLine(y);
    for (std::int32_t x = 0; x < w; ++x) {
      if (clockwise)
        Dst.PixelRef(h - 1 - y, x) = row[x];
      else
        Dst.PixelRef(y, w - 1 - x) = row[x];
    }
  }
}

}  // namespace

void TBitmap32::RotateClockwise(TBitmap32* Dst) {
  if (!Dst || Dst == this) {
    TBitmap32 temp;
    temp.SetSize(fHeight, fWidth);
    QuarterTurn(*this, temp, true);
    TakePixelsOf(temp);
    Changed();  // a square bitmap keeps its size, and its listeners must still hear of the new pixels
    return;
  }
  Dst->SetSize(fHeight, fWidth);
  QuarterTurn(*this, *Dst, true);
  Dst->Changed();
}

void TBitmap32::RotateCounterClockwise(TBitmap32* Dst) {
  if (!Dst || Dst == this) {
    TBitmap32 temp;
    temp.SetSize(fHeight, fWidth);
    QuarterTurn(*this, temp, false);
    TakePixelsOf(temp);
    Changed();
    return;
  }
  Dst->SetSize(fHeight, fWidth);
  QuarterTurn(*this, *Dst, false);
  Dst->Changed();
}

// ---------------------------------------------------------------------------------------------
// Settings

void TBitmap32::SetDrawMode(TDrawMode Value) {
  if (Value == fDrawMode) return;
  fDrawMode = Value;
  Changed();
}

void TBitmap32::SetCombineMode(TCombineMode Value) {
  if (Value == fCombineMode) return;
  fCombineMode = Value;
  Changed();
}

void TBitmap32::SetWrapMode(TWrapMode Value) {
  if (Value == fWrapMode) return;
  fWrapMode = Value;
  Changed();
}

void TBitmap32::SetMasterAlpha(std::uint32_t Value) {
  if (Value == fMasterAlpha) return;
  fMasterAlpha = Value;
  Changed();
}

void TBitmap32::SetResampler(std::unique_ptr<TCustomResampler> Value) {
  if (!Value || Value.get() == fResampler.get()) {
    (void)Value.release();  // the current resampler handed back in: it stays owned by fResampler
    return;
  }
  fResampler = std::move(Value);
  Changed();
}

void TBitmap32::AdoptResampler(std::unique_ptr<TCustomResampler> Resampler) { SetResampler(std::move(Resampler)); }

std::string TBitmap32::ResamplerClassName() const { return fResampler->ClassName(); }

void TBitmap32::SetResamplerClassName(const std::string& Name) {
  if (Name == ResamplerClassName()) return;
  const TResamplerClass* cls = FindResamplerClass(Name);
  if (!cls) return;
  SetResampler(cls->Create(*this));
}

// ---------------------------------------------------------------------------------------------
// Notification

void TBitmap32::PromiseZeroOutside(const TRect& Rect) {
  fZeroOutside = IntersectRect(Rect, BoundsRect());
  fZeroOutsideKnown = true;
}

void TBitmap32::Changed() {
  fZeroOutsideKnown = false;
  if (fUpdateCount == 0 && OnAreaChanged) OnAreaChanged(this, BoundsRect(), AREAINFO_RECT);
  if (fUpdateCount == 0 && OnChange) OnChange(this);
}

void TBitmap32::AreaChanged(const TRect& Area, std::uint32_t Info) {
  fZeroOutsideKnown = false;
  if (fUpdateCount == 0 && OnAreaChanged) OnAreaChanged(this, Area, Info);
  if (fUpdateCount == 0 && OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TBitmap32::Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src) {
  if (!Src) return;
  TransferRect(this, DstRect, fClipRect, Src, SrcRect, Src->Resampler(), Src->DrawMode(), Src->OnPixelCombine);
}

void TBitmap32::Draw(std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src) {
  if (!Src) return;
  // Far right or bottom positions saturate instead of wrapping; such a rectangle lies outside anyway.
  auto end = [](std::int32_t start, std::int32_t size) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{start} + size, INT32_MAX));
  };
  Draw(TRect{DstX, DstY, end(DstX, Src->Width()), end(DstY, Src->Height())}, Src->BoundsRect(), Src);
}

void TBitmap32::DrawInto(TBitmap32& Dst, const TRect& DstRect) const {
  TransferRect(&Dst, DstRect, Dst.ClipRect(), this, BoundsRect(), *fResampler, fDrawMode, OnPixelCombine);
}

// ---------------------------------------------------------------------------------------------
// The "Data" block

namespace {

std::int32_t ReadInt32(std::istream& s) {
  unsigned char b[4];
  if (!s.read(reinterpret_cast<char*>(b), 4)) throw EReadError("Stream read error");
  return static_cast<std::int32_t>(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
                                   std::uint32_t(b[3]) << 24);
}

void WriteUInt32(std::ostream& s, std::uint32_t v) {
  const char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  s.write(b, 4);
}

}  // namespace

void TBitmap32::LoadPixelData(std::istream& Stream) {
  try {
    const std::int32_t w = ReadInt32(Stream);
    const std::int32_t h = ReadInt32(Stream);
    // A block that claims a large picture but holds fewer bytes fails before the pixels are
    // allocated (where the stream can tell its length); small ones are sized first, as usual.
    const std::uint64_t need = w > 0 && h > 0 ? std::uint64_t(w) * std::uint64_t(h) * 4 : 0;
    if (need > kPixelDataCheckBytes && need / 4 <= kMaxPixels) {
      const std::streampos here = Stream.tellg();
      if (here != std::streampos(-1) && Stream.seekg(0, std::ios::end)) {
        const std::streampos end = Stream.tellg();
        Stream.seekg(here);
        if (end != std::streampos(-1) && std::uint64_t(end - here) < need) throw EReadError("Stream read error");
      }
      Stream.clear(Stream.rdstate() & ~std::ios::failbit);
    }
    SetSize(w, h);
    FreshPixels();
    if (!fPixels.empty()) {
      // Read row by row so that a short stream fails before any large buffer is needed.
      std::vector<unsigned char> bytes(static_cast<std::size_t>(fWidth) * 4);
      for (std::int32_t y = 0; y < fHeight; ++y) {
        if (!Stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
          throw EReadError("Stream read error");
        TColor32* row = ScanLine(y);
        for (std::int32_t x = 0; x < fWidth; ++x) {
          const unsigned char* p = &bytes[static_cast<std::size_t>(x) * 4];
          row[x] = TColor32(p[0]) | TColor32(p[1]) << 8 | TColor32(p[2]) << 16 | TColor32(p[3]) << 24;
        }
      }
    }
  } catch (...) {
    Changed();
    throw;
  }
  Changed();
}

void TBitmap32::SavePixelData(std::ostream& Stream) const {
  WriteUInt32(Stream, static_cast<std::uint32_t>(fWidth));
  WriteUInt32(Stream, static_cast<std::uint32_t>(fHeight));
  std::vector<char> bytes(static_cast<std::size_t>(fWidth) * 4);
  for (std::int32_t y = 0; y < fHeight && PixelCount() != 0; ++y) {
    const TColor32* row = ScanLine(y);
    for (std::int32_t x = 0; x < fWidth; ++x) {
      for (int k = 0; k < 4; ++k) bytes[static_cast<std::size_t>(x) * 4 + k] = static_cast<char>((row[x] >> (8 * k)) & 0xFF);
    }
    Stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

// ---------------------------------------------------------------------------------------------

void IntensityToAlpha(TBitmap32* Dst, const TBitmap32* Src) {
  if (!Src) throw EBitmapException("The source is nil");
  if (!Dst) throw EBitmapException("Destination is nil");
  Dst->SetSize(Src->Width(), Src->Height());
  const std::size_t n = std::min(Dst->PixelCount(), Src->PixelCount());
  TColor32* d = Dst->Bits();
  const TColor32* s = Src->Bits();
  for (std::size_t i = 0; i < n; ++i) d[i] = SetAlpha(d[i], Intensity(s[i]));
  Dst->Changed();
}

}  // namespace quirlon::raster
