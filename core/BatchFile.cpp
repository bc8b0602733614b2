#include "core/BatchFile.h"

#include <cctype>
#include <cstdint>
#include <set>

namespace quirlon::core {
namespace {

std::string RowError(std::int64_t row, const std::string& column, const std::string& message) {
  return "row " + std::to_string(row) + ", column " + column + ": " + message;
}

// ---- CSV ----

struct TCsvRecord {
  std::vector<std::string> Fields;
  std::string Problem;          // empty when well formed
  std::size_t ProblemField = 0;  // 0-based field the problem is in
};

// One record from At (which it moves past its line end); false at the end of the text.
bool NextCsvRecord(const std::string& text, std::size_t& at, TCsvRecord& record) {
  record = {};
  // Blank lines are no records.
  while (at < text.size() && (text[at] == '\n' || text[at] == '\r')) ++at;
  if (at >= text.size()) return false;
  std::string field;
  bool quoted = false;       // inside quotes
  bool wasQuoted = false;    // the field began with a quote
  bool afterClosing = false;  // the closing quote was seen
  auto fail = [&](const std::string& problem) {
    if (record.Problem.empty()) {
      record.Problem = problem;
      record.ProblemField = record.Fields.size();
    }
  };
  while (at < text.size()) {
    const char c = text[at++];
    if (quoted) {
      if (c != '"') {
        field += c;
      } else if (at < text.size() && text[at] == '"') {
        field += '"';
        ++at;
      } else {
        quoted = false;
        afterClosing = true;
      }
      continue;
    }
    if (c == ',') {
      record.Fields.push_back(std::move(field));
      field.clear();
      wasQuoted = afterClosing = false;
      continue;
    }
    if (c == '\n' || c == '\r') {
      if (c == '\r' && at < text.size() && text[at] == '\n') ++at;
      break;
    }
    if (c == '"') {
      if (field.empty() && !wasQuoted) {
        quoted = wasQuoted = true;
      } else {
        fail(afterClosing ? "a quote after the closing quote of a field" : "a quote inside an unquoted field");
      }
      continue;
    }
    if (afterClosing) fail("text after the closing quote of a field");
    field += c;
  }
  if (quoted) fail("a quoted field is not closed");
  record.Fields.push_back(std::move(field));
  return true;
}

std::vector<TBatchRow> ParseCsv(const std::string& text) {
  std::vector<TBatchRow> rows;
  std::size_t at = 0;
  TCsvRecord header;
  if (!NextCsvRecord(text, at, header)) return rows;
  std::string headerProblem;
  if (!header.Problem.empty()) headerProblem = "the header row is malformed: " + header.Problem;
  std::set<std::string> seen;
  for (std::size_t i = 0; i < header.Fields.size() && headerProblem.empty(); ++i) {
    if (header.Fields[i].empty()) headerProblem = "the header names no key for column " + std::to_string(i + 1);
    else if (!seen.insert(header.Fields[i]).second) headerProblem = "the header names '" + header.Fields[i] + "' twice";
  }
  TCsvRecord record;
  for (std::int64_t number = 1; NextCsvRecord(text, at, record); ++number) {
    TBatchRow row;
    row.Number = number;
    auto columnName = [&](std::size_t i) {
      return i < header.Fields.size() && !header.Fields[i].empty() ? header.Fields[i] : std::to_string(i + 1);
    };
    if (!headerProblem.empty()) {
      row.Error = RowError(number, "1", headerProblem);
    } else if (!record.Problem.empty()) {
      row.Error = RowError(number, columnName(record.ProblemField), "malformed line: " + record.Problem);
    } else if (record.Fields.size() != header.Fields.size()) {
      const std::size_t column = std::min(record.Fields.size(), header.Fields.size());
      row.Error = RowError(number, columnName(column),
                           "malformed line: " + std::to_string(record.Fields.size()) + " fields where the header has " +
                               std::to_string(header.Fields.size()));
    } else {
      for (std::size_t i = 0; i < header.Fields.size(); ++i)
        row.Cells.push_back({header.Fields[i], std::move(record.Fields[i])});
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// ---- JSON Lines ----

class TJsonLineReader {
public:
  explicit TJsonLineReader(const std::string& line) : fText(line) {}

  // The cells of the line's object; throws the problem (with fAt at its place) otherwise.
  std::vector<TBatchCell> ReadObject() {
    std::vector<TBatchCell> cells;
    std::set<std::string> keys;
    SkipSpace();
    Expect('{');
    SkipSpace();
    if (Peek() == '}') {
      ++fAt;
    } else {
      for (;;) {
        SkipSpace();
        if (Peek() != '"') Fail("a key in double quotes expected");
        const std::size_t keyAt = fAt;
        std::string key = ReadString();
        if (!keys.insert(key).second) {
          fAt = keyAt;
          Fail("the key '" + key + "' is given twice");
        }
        SkipSpace();
        Expect(':');
        SkipSpace();
        cells.push_back({std::move(key), ReadValue()});
        SkipSpace();
        if (Peek() == ',') {
          ++fAt;
          continue;
        }
        Expect('}');
        break;
      }
    }
    SkipSpace();
    if (fAt != fText.size()) Fail("text after the object");
    return cells;
  }

  std::size_t Position() const { return fAt; }

  struct TProblem {
    std::string Message;
  };

private:
  [[noreturn]] void Fail(const std::string& message) { throw TProblem{message}; }
  char Peek() const { return fAt < fText.size() ? fText[fAt] : '\0'; }
  void SkipSpace() {
    while (fAt < fText.size() && (fText[fAt] == ' ' || fText[fAt] == '\t' || fText[fAt] == '\r')) ++fAt;
  }
  void Expect(char c) {
    if (Peek() != c || fAt >= fText.size()) Fail(std::string("'") + c + "' expected");
    ++fAt;
  }

  std::string ReadValue() {
    const char c = Peek();
    if (c == '"') return ReadString();
    if (c == '{' || c == '[') Fail("only strings, numbers, true, false and null are taken, not nested values");
    for (const char* word : {"true", "false", "null"}) {
      const std::string w(word);
      if (fText.compare(fAt, w.size(), w) == 0) {
        fAt += w.size();
        return w == "null" ? std::string() : w;
      }
    }
    if (c == '-' || (c >= '0' && c <= '9')) return ReadNumber();
    Fail("a value expected");
  }

  std::string ReadNumber() {
    const std::size_t start = fAt;
    auto digits = [&] {
      const std::size_t from = fAt;
      while (std::isdigit(static_cast<unsigned char>(Peek()))) ++fAt;
      if (fAt == from) Fail("a digit expected");
    };
    if (Peek() == '-') ++fAt;
    if (Peek() == '0') ++fAt;
    else digits();
    if (Peek() == '.') {
      ++fAt;
      digits();
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++fAt;
      if (Peek() == '+' || Peek() == '-') ++fAt;
      digits();
    }
    return fText.substr(start, fAt - start);
  }

  unsigned ReadHex4() {
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Peek();
      if (!std::isxdigit(static_cast<unsigned char>(c))) Fail("four hex digits expected after \\u");
      v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
      ++fAt;
    }
    return v;
  }

  static void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  std::string ReadString() {
    Expect('"');
    std::string out;
    for (;;) {
      if (fAt >= fText.size()) Fail("a string is not closed");
      const char c = fText[fAt++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        --fAt;
        Fail("a control character inside a string");
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      const char e = Peek();
      ++fAt;
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t cp = ReadHex4();
          if (cp >= 0xD800 && cp < 0xDC00) {
            if (Peek() != '\\' || fAt + 1 >= fText.size() || fText[fAt + 1] != 'u') Fail("a lone surrogate in \\u");
            fAt += 2;
            const std::uint32_t low = ReadHex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a lone surrogate in \\u");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            Fail("a lone surrogate in \\u");
          }
          AppendUtf8(out, cp);
          break;
        }
        default:
          --fAt;
          Fail("an unknown escape in a string");
      }
    }
  }

  const std::string& fText;
  std::size_t fAt = 0;
};

std::vector<TBatchRow> ParseJsonLines(const std::string& text) {
  std::vector<TBatchRow> rows;
  std::int64_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    TBatchRow row;
    row.Number = ++number;
    TJsonLineReader reader(line);
    try {
      row.Cells = reader.ReadObject();
    } catch (const TJsonLineReader::TProblem& problem) {
      // The character's place in the line stands for the column of a line that is not an object.
      row.Error = RowError(row.Number, std::to_string(reader.Position() + 1), "malformed line: " + problem.Message);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace

std::vector<TBatchRow> ParseBatchText(const std::string& Text) {
  const std::size_t first = Text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && Text[first] == '{') return ParseJsonLines(Text);
  return ParseCsv(Text);
}

}  // namespace quirlon::core
