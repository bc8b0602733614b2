// The batch file reader on arbitrary text: it never throws, every row is numbered 1, 2, 3 ... in
// order, and a row either has an error that names its row or cells and no error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/BatchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const auto rows = quirlon::core::ParseBatchText(text);
  std::int64_t expected = 1;
  for (const auto& row : rows) {
    if (row.Number != expected++) std::abort();
    if (!row.Error.empty()) {
      if (!row.Cells.empty() || row.Error.rfind("row " + std::to_string(row.Number) + ", column ", 0) != 0) std::abort();
    }
  }
  return 0;
}
