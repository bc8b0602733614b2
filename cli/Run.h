#pragma once
// Carrying out one quirlon-render call.
#include <ostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "core/Render.h"
#include "raster/Color.h"

namespace quirlon::cli {

// Renders and saves as the options say; returns the exit status. Render, load and save errors
// leave as exceptions (exit status 1), bad option values as UsageError (exit status 2).
int Run(const Options& options, std::ostream& out, std::ostream& err);

// The templates a job can name: the folder given with --templates (empty: the bundled ones beside
// the executable, then the user's own), and the "custom" folder beside it. A missing or empty
// folder is a UsageError when given, an installation error (std::runtime_error) otherwise.
struct TTemplateLibrary {
  std::vector<std::string> Templates;
  std::string FolderText;  // the folder as messages name it
  std::string CustomFolder;
};
TTemplateLibrary FindTemplateLibrary(const std::string& givenFolder);

// The file of a template number, display name or template file; UsageError for none.
std::string ResolveTemplate(const std::string& ref, const TTemplateLibrary& library);

// --batch FILE: every row of the file as a job (cli/BatchCommand.cpp).
int RunBatchFile(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace quirlon::cli
