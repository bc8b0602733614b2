// quirlon-render: the box shot from the command line, over the same render call as the window:
// ApplyTemplate, then Flatten and the writer.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "cli/Run.h"
#include "core/Platform.h"
#include "imagefiles/SafeFile.h"

int main(int argc, char** argv) {
  using namespace quirlon;
  imagefiles::InstallSaveSignalHandlers();
  std::vector<std::string> args(argv + 1, argv + argc);
  cli::Options options;
  try {
    options = cli::ParseOptions(args);
  } catch (const cli::UsageError& e) {
    std::cerr << "quirlon-render: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    // A scene file that cannot be read or holds a bad value: bad input, not bad usage.
    std::cerr << core::ErrorReportText(e.what()) << '\n';
    return 1;
  }
  try {
    return cli::Run(options, std::cout, std::cerr);
  } catch (const cli::UsageError& e) {
    std::cerr << "quirlon-render: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << core::ErrorReportText(e.what()) << '\n';
    return 1;
  }
}
