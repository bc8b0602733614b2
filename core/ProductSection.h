#pragma once
// The [Product] section of a template: the scene its layers were made from, so that the scene can be
// made again, turned or resized. Programs that only read layers ignore it; the layers stay in the
// file. Keys (lengths in millimetres, angles in degrees; every key but "kind" may be left out):
//
//   kind=hardcover             one of the product kinds (ProductKind.h)
//   size=160x240x38            width x height x depth, "mm" or "in" may follow (a disc: 120x120)
//   position=0,0,40            where it stands (ProductScene.h), turn=, lift=, tilt= likewise
//   kind2=, size2=, ...        the second product of a scene of two
//   yaw=28  pitch=12           the camera (defaults: the kind's usual view)
//   distance=2160  focal=50  target=80,120,19
//   fill=0.8,0.64  floor=0.74  shadow=30     the framing, the shadow's reach
//   light=-40,45               the light: degrees around from the front (positive: from the left),
//                              degrees above the floor (default: the kind's, away from the camera)
//   overlay.left=shade left    layers over a face in place of the automatic shade and highlight
//                              ("type source" pairs separated by ", ", or "none")
//   seams=1                    the rules its faces meet by (FaceUnderlap.h); the latest if left out
#include <optional>
#include <string>

#include "core/IniFile.h"
#include "core/ProductScene.h"

namespace quirlon::core {

inline constexpr const char* kProductSection = "Product";

// The scene of Ini's [Product] section, framed in its [Image] size; nullopt without the section.
// Throws EBadProductValue naming the file, the key and its range for a value that cannot be used.
std::optional<TProductScene> ReadProductSection(const TIniFile& Ini);

// Scene as a [Product] section: "[Product]" and one key per line, each line ending in "\n". The
// product's placement keys are written when not zero, every other key always, so that the scene
// reads back the same whatever the defaults become.
std::string ProductSectionText(const TProductScene& Scene);

}  // namespace quirlon::core
