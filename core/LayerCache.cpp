#include "core/LayerCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>

namespace quirlon::core {

std::array<std::int64_t, 7> FileIdentityOf(const std::string& File) {
  struct stat info {};
  if (File.empty() || ::stat(File.c_str(), &info) != 0) return {};
  return {static_cast<std::int64_t>(info.st_dev),     static_cast<std::int64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size),    info.st_mtim.tv_sec,
          info.st_mtim.tv_nsec,                       info.st_ctim.tv_sec,
          info.st_ctim.tv_nsec};
}

namespace {

// A bitmap of its own with the same pixels, settings, resampler and promise of zeros.
std::shared_ptr<raster::TBitmap32> CopyOf(const raster::TBitmap32& Bitmap) {
  auto copy = std::make_shared<raster::TBitmap32>();
  copy->Assign(&Bitmap);
  if (Bitmap.ZeroOutsidePromised()) copy->PromiseZeroOutside(Bitmap.ZeroOutside());
  return copy;
}

// A digest of everything Key holds; pictures and templates by their address.
std::size_t DigestOf(const TLayerKey& Key) {
  std::size_t digest = 0;
  auto mix = [&](auto value) {
    digest ^= std::hash<decltype(value)>{}(value) + 0x9E3779B97F4A7C15ull + (digest << 6) + (digest >> 2);
  };
  const TRenderSettings& s = Key.Settings;
  mix(reinterpret_cast<std::uintptr_t>(Key.Template.get()));
  mix(Key.Layer);
  mix(Key.Width);
  mix(Key.Height);
  for (const int v : {int(s.ShowReflection), int(s.FadeReflection), int(s.ReflectionOpacity), int(s.ReflectionBlur),
                      int(s.ReflectionBrightness), int(s.ReflectionLength), int(s.ShadowDensity), int(s.ShadowBlur),
                      int(s.ShowShadow), int(s.ShadingStrength), int(s.HighlightStrength), int(s.Sampling), int(s.Fit)})
    mix(v);
  for (const raster::TColor c : {s.ShadowColor, s.ShadingColor, s.HighlightColor}) mix(c);
  mix(s.SafeMargin);
  mix(Key.LargeDiscArea);
  mix(Key.MaxPicturePixels);
  mix(Key.CustomFolder);
  mix(static_cast<int>(Key.Source.Kind));
  mix(Key.Source.Colour);
  mix(Key.Source.File);
  mix(reinterpret_cast<std::uintptr_t>(Key.Source.Picture.get()));
  for (const std::int64_t v : Key.FileIdentity) mix(v);
  return digest;
}

}  // namespace

TCachedLayer TLayerCache::Find(const TLayerKey& Key) {
  TCachedLayer found;
  {
    std::lock_guard<std::mutex> lock(fMutex);
    const auto at = std::find_if(fEntries.begin(), fEntries.end(), [&](const TEntry& e) { return e.Key == Key; });
    if (at == fEntries.end()) return {};
    ++fHits;
    std::rotate(at, at + 1, fEntries.end());
    found = fEntries.back().Layer;
  }
  // A kept copy is never handed out, so it can be read outside the lock.
  if (fSharing == TSharing::Copies) found.Bitmap = CopyOf(*found.Bitmap);
  return found;
}

void TLayerCache::Keep(const TLayerKey& Key, TCachedLayer Layer) {
  if (Layer.Bitmap == nullptr) return;
  const std::size_t bytes = Layer.Bitmap->PixelCount() * sizeof(raster::TColor32);
  if (bytes > fMaxBytes) return;
  {
    std::lock_guard<std::mutex> lock(fMutex);
    if (std::any_of(fEntries.begin(), fEntries.end(), [&](const TEntry& e) { return e.Key == Key; })) return;
    // A layer is kept the second time it is built: a catalogue's own covers, each shown once, then
    // never take the room of the layers all its jobs share.
    const auto seen = std::find(fSeen.begin(), fSeen.end(), DigestOf(Key));
    if (seen == fSeen.end()) {
      if (fSeen.size() == kSeenKeys) fSeen.erase(fSeen.begin());
      fSeen.push_back(DigestOf(Key));
      return;
    }
    fSeen.erase(seen);
  }
  if (fSharing == TSharing::Copies) Layer.Bitmap = CopyOf(*Layer.Bitmap);  // before the caller changes it
  std::vector<TEntry> released;  // freed outside the lock
  std::lock_guard<std::mutex> lock(fMutex);
  if (std::any_of(fEntries.begin(), fEntries.end(), [&](const TEntry& e) { return e.Key == Key; })) return;
  while (!fEntries.empty() && fBytes + bytes > fMaxBytes) {
    fBytes -= fEntries.front().Bytes;
    released.push_back(std::move(fEntries.front()));
    fEntries.erase(fEntries.begin());
  }
  fEntries.push_back(TEntry{Key, std::move(Layer), bytes});
  fBytes += bytes;
}

std::size_t TLayerCache::Hits() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return fHits;
}

std::size_t TPreparedPictures::Count() const {
  std::lock_guard<std::mutex> lock(fMutex);
  return static_cast<std::size_t>(
      std::count_if(fEntries.begin(), fEntries.end(), [](const TEntry& e) { return e.Pixels != nullptr; }));
}

bool TPreparedPictures::Take(const TKey& Key, raster::TBitmap32& Picture, TArtFit& Fit) {
  std::shared_ptr<const raster::TColor32> pixels;
  std::int32_t width = 0, height = 0;
  {
    std::unique_lock<std::mutex> lock(fMutex);
    auto find = [&] {
      return std::find_if(fEntries.begin(), fEntries.end(), [&](const TEntry& e) { return e.Key == Key; });
    };
    auto found = find();
    // Being prepared by another render: wait until it is kept or given up.
    while (found != fEntries.end() && found->Pixels == nullptr) {
      fKept.wait(lock);
      found = find();
    }
    if (found == fEntries.end()) {
      fEntries.push_back(TEntry{Key, nullptr, 0, 0, TArtFit{}});  // this caller prepares it
      return false;
    }
    pixels = found->Pixels;
    width = found->Width;
    height = found->Height;
    Fit = found->Fit;
  }
  Picture.ShareReadOnly(std::move(pixels), width, height);
  return true;
}

void TPreparedPictures::Keep(const TKey& Key, raster::TBitmap32& Picture, const TArtFit& Fit) {
  std::shared_ptr<const raster::TColor32> pixels;
  try {
    pixels = Picture.SharePixels();
  } catch (...) {
    Abandon(Key);  // nobody may wait for it for ever
    throw;
  }
  if (pixels == nullptr) {
    Abandon(Key);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(fMutex);
    const auto found =
        std::find_if(fEntries.begin(), fEntries.end(), [&](const TEntry& e) { return e.Key == Key; });
    if (found == fEntries.end()) fEntries.push_back(TEntry{Key, std::move(pixels), Picture.Width(), Picture.Height(), Fit});
    else if (found->Pixels == nullptr) *found = TEntry{Key, std::move(pixels), Picture.Width(), Picture.Height(), Fit};
  }
  fKept.notify_all();
}

void TPreparedPictures::Abandon(const TKey& Key) {
  {
    std::lock_guard<std::mutex> lock(fMutex);
    std::erase_if(fEntries, [&](const TEntry& e) { return e.Key == Key && e.Pixels == nullptr; });
  }
  fKept.notify_all();
}

}  // namespace quirlon::core
