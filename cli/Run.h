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

// "#RRGGBB" or any colour text a "customcolor" layer accepts; UsageError otherwise.
raster::TColor ParseColourOption(const std::string& option, const std::string& text);

// Applies the options to a render request: settings, sources and switches.
void ApplyOptions(const Options& options, core::TRenderRequest& request);

}  // namespace quirlon::cli
