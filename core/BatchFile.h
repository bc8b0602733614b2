#pragma once
// A catalogue of jobs as a file: CSV with a header row, or JSON Lines (one flat object a line).
// Each row is a list of key = value cells in the keys of core/Job.h; reading a file checks its
// syntax only, what the values mean is the job table's business.
#include <cstdint>
#include <string>
#include <vector>

namespace quirlon::core {

struct TBatchCell {
  std::string Key;    // the column (CSV header) or the object's key
  std::string Value;  // "" takes the key's default (an empty CSV cell, a JSON null)
};

struct TBatchRow {
  std::int64_t Number = 0;  // 1 for the first job of the file, as messages count
  std::vector<TBatchCell> Cells;
  // What is wrong with the row's syntax, as "row N, column C: message"; empty when nothing is.
  std::string Error;
};

// The rows of Text. A text whose first character that is not white space is '{' is JSON Lines,
// anything else CSV:
// - CSV: the first line names the columns; fields may be quoted ("a, b" and "say ""hi"""), a
//   quoted field may hold line breaks; CRLF and LF both end a line; blank lines are skipped. A
//   row with more or fewer fields than the header, a quote inside an unquoted field, text after
//   a closing quote or a quote left open is a malformed row.
// - JSON Lines: each non-blank line one object of strings, numbers, true, false or null; nested
//   values, repeated keys and anything else are a malformed row. Numbers keep their text,
//   true/false become "true"/"false", null "".
// A malformed row keeps its number and gets Error; the other rows are read on. A header with an
// empty or repeated column name makes every row malformed.
std::vector<TBatchRow> ParseBatchText(const std::string& Text);

}  // namespace quirlon::core
