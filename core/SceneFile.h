#pragma once
// A scene: everything one picture is made of (template or product, sources, every setting) kept in
// one file, so that the window can reopen it and the command line can render it. The file is one
// JSON object of job keys (core/Job.h) on one line, the same as a row of a JSON Lines batch file;
// files in it are relative to the scene file's folder.
#include <string>
#include <vector>

#include "core/BatchFile.h"
#include "core/Job.h"

namespace quirlon::core {

// The keys and values that give Job's template (as TemplateRef: a number, a display name or a
// file), product, canvas size, output options, switches, settings and sources again through
// ApplyJobValue. Files are written relative to BaseFolder where they lie inside it; an empty
// BaseFolder keeps them as they are. The output file, the templates folder and the limits are
// not part of a scene.
std::vector<TBatchCell> SceneCells(const TJob& Job, const std::string& TemplateRef, const std::string& BaseFolder);

// Cells as one JSON object on one line, ending in a line break; every value a string.
std::string SceneText(const std::vector<TBatchCell>& Cells);

// The cells of the scene file File. Throws std::runtime_error naming the file when it cannot be
// read or does not hold exactly one object of keys.
std::vector<TBatchCell> ReadSceneFile(const std::string& File);

// Sets the cells on Job, files relative to File's folder. Throws std::runtime_error naming the
// file and the key for a key or value the job table refuses.
void ApplySceneCells(TJob& Job, const std::vector<TBatchCell>& Cells, const std::string& File);

// The folder of File ("" for a bare name).
std::string SceneFolder(const std::string& File);

// "#RRGGBB" of a colour (0x00BBGGRR).
std::string ColourText(raster::TColor Colour);

}  // namespace quirlon::core
