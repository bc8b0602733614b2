// quirlon-render: the box shot from the command line, over the same render call as the window:
// the template's layers flattened, then the writer.
#include <malloc.h>

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
  // A render takes and frees blocks of a few megabytes over and over (the compressor's tables, the
  // pyramids, picture rows). Kept in the heap rather than mapped and unmapped each time, they are
  // reused instead of being faulted in afresh: the first touch of a page is what a short run spends
  // most of its system time on (a fifth fewer page faults for an 800 x 600 box shot).
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  // One heap for all threads: a heap a thread keeps the high-water mark of each, and a turntable's
  // workers take turns at rendering and encoding (the turn's peak was 0.3-1.2 MB higher).
  mallopt(M_ARENA_MAX, 1);
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
