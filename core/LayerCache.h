#pragma once
// Finished layers shared by the renders of a batch. A catalogue usually changes the cover and keeps
// everything else, so most of a template's layers (the other faces, their reflections and shadows,
// the shading) come out the same job after job: a layer built a second time with the same inputs
// is kept, and later renders take it from here instead of building it again. Bounded in bytes, the
// least recently used given up first; safe to share between threads.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/FaceAspect.h"
#include "core/Render.h"
#include "core/Template.h"

namespace quirlon::core {

// Everything a template layer's pixels depend on. The template is held, so that its address cannot
// pass to another template while the entry lives; files are known by path and identity (device,
// inode, size, modification and change times), so a changed file is read again.
struct TLayerKey {
  std::shared_ptr<const TTemplate> Template;
  std::size_t Layer = 0;  // index in Template->Layers
  std::int32_t Width = 0, Height = 0;
  TRenderSettings Settings;
  bool LargeDiscArea = false;
  std::int64_t MaxPicturePixels = 0;
  std::string CustomFolder;
  TSlotSource Source;  // of the layer's slot; a colour of 0 when it reads none
  std::array<std::int64_t, 7> FileIdentity{};  // of the slot's or the custom file's picture

  friend bool operator==(const TLayerKey&, const TLayerKey&) = default;
};

struct TCachedLayer {
  std::shared_ptr<raster::TBitmap32> Bitmap;  // read only once kept
  TArtFit Fit;
};

// A file's identity for TLayerKey; all zero when it cannot be read (the build then fails as usual,
// and failures are never kept).
std::array<std::int64_t, 7> FileIdentityOf(const std::string& File);

class TLayerCache {
public:
  // Shared: renders get the kept bitmaps themselves and must only read them. Copies: every layer
  // kept or handed out is a copy of its own, for callers that change their layers (a window sets
  // the resamplers of the layers it shows, on more than one thread).
  enum class TSharing : std::uint8_t { Shared, Copies };
  explicit TLayerCache(std::size_t MaxBytes, TSharing Sharing = TSharing::Shared)
      : fMaxBytes(MaxBytes), fSharing(Sharing) {}
  // The kept layer for Key, or an empty one.
  TCachedLayer Find(const TLayerKey& Key);
  // Keeps Layer for Key when Key was built once before (and Layer alone is not over the limit);
  // otherwise notes Key.
  void Keep(const TLayerKey& Key, TCachedLayer Layer);
  std::size_t Hits() const;

private:
  struct TEntry {
    TLayerKey Key;
    TCachedLayer Layer;
    std::size_t Bytes = 0;
  };
  std::size_t fMaxBytes;
  TSharing fSharing;
  std::size_t fBytes = 0;
  std::size_t fHits = 0;
  mutable std::mutex fMutex;
  std::vector<TEntry> fEntries;  // most recently used last
  // Digests of the keys built once and not kept, oldest first. Not the keys: those hold their
  // template and picture, and a thousand pictures met once each would stay in memory. Two keys
  // that share a digest only make a layer kept one build early.
  static constexpr std::size_t kSeenKeys = 1024;
  std::vector<std::size_t> fSeen;
};

// The pictures of a product's faces and reflections as prepared for the warp (fitted, mirrored,
// faded), shared by renders of the same product from other views: a turntable's frames differ only
// in their corners, and each worker would otherwise hold a copy of every cover it mirrors. The
// pictures are shared read-only (TBitmap32::ShareReadOnly); safe to share between threads.
class TPreparedPictures {
public:
  struct TKey {
    TLayerType Type = ltUnknown;
    int Slot = -1;
    TSlotSource Source;
    TRenderSettings Settings;
    double FaceAspect = 0;
    TLayerLook Look;
    friend bool operator==(const TKey&, const TKey&) = default;
  };
  // Lets Picture share the kept picture for Key and sets Fit as it was found. When none is kept,
  // the caller is to prepare it and Keep it (or Abandon it if that fails) and false is returned;
  // another caller asking for the same key meanwhile waits for that, rather than preparing a second
  // copy beside it.
  bool Take(const TKey& Key, raster::TBitmap32& Picture, TArtFit& Fit);
  // Keeps Picture's pixels for Key (they become shared; Picture keeps showing them).
  void Keep(const TKey& Key, raster::TBitmap32& Picture, const TArtFit& Fit);
  void Abandon(const TKey& Key);
  std::size_t Count() const;

private:
  struct TEntry {
    TKey Key;
    std::shared_ptr<const raster::TColor32> Pixels;  // null while being prepared
    std::int32_t Width = 0, Height = 0;
    TArtFit Fit;
  };
  mutable std::mutex fMutex;
  std::condition_variable fKept;
  std::vector<TEntry> fEntries;  // a few: one for each face and reflection of a product
};

}  // namespace quirlon::core
