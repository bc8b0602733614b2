#pragma once
// Carrying out one quirlon-render call.
#include <ostream>
#include <string>

#include "cli/Options.h"
#include "core/Render.h"
#include "raster/Color.h"

namespace quirlon::cli {

// Renders and saves as the options say; returns the exit status. Render, load and save errors
// leave as exceptions (exit status 1), bad option values as UsageError (exit status 2).
int Run(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace quirlon::cli
