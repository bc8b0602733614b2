#include "core/IniFile.h"

#include <cstdint>

#include "core/Platform.h"
#include "raster/Errors.h"

namespace quirlon::core {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string AsciiUpperCase(std::string_view Text) {
  std::string out(Text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string AsciiLowerCase(std::string_view Text) {
  std::string out(Text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  return true;
}

TIniFile::TIniFile(const std::string& FileName) : fFileName(FileName) {
  std::string text;
  // A template that vanished or cannot be read behaves as an empty file.
  if (!TryReadFile(FileName, text)) text.clear();
  Parse(text);
}

TIniFile TIniFile::FromText(const std::string& FileName, std::string_view Text) {
  TIniFile ini;
  ini.fFileName = FileName;
  ini.Parse(Text);
  return ini;
}

namespace {

bool StartsWithUtf16Mark(std::string_view Bytes) {
  if (Bytes.size() < 2) return false;
  return (Bytes[0] == '\xFF' && Bytes[1] == '\xFE') || (Bytes[0] == '\xFE' && Bytes[1] == '\xFF');
}

void AppendUtf8(std::string& Out, std::uint32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

}  // namespace

std::string TextAsUtf8(std::string_view Bytes) {
  if (!StartsWithUtf16Mark(Bytes)) return std::string(Bytes);
  const bool bigEndian = Bytes[0] == '\xFE';
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<std::uint8_t>(Bytes[i]), b = static_cast<std::uint8_t>(Bytes[i + 1]);
    return static_cast<std::uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
  };
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(Bytes.size() / 2);
  const std::size_t end = Bytes.size() & ~std::size_t{1};
  for (std::size_t i = 2; i < end; i += 2) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 2 < end && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
      i += 2;
    } else {
      AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
  }
  return out;
}

void TIniFile::Parse(std::string_view Text) {
  fSections.clear();
  std::string converted;
  if (StartsWithUtf16Mark(Text)) {
    converted = TextAsUtf8(Text);
    Text = converted;
  }
  std::string_view rest(Text);
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  TSection* current = nullptr;
  while (!rest.empty()) {
    // LF, CR LF and CR alone all end a line (CR LF leaves an empty line, which is skipped).
    const std::size_t lineEnd = rest.find_first_of("\r\n");
    std::string_view line = Trim(rest.substr(0, lineEnd));
    rest.remove_prefix(lineEnd == std::string_view::npos ? rest.size() : lineEnd + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      const std::string_view name = close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
      fSections.push_back(TSection{std::string(Trim(name)), {}});
      current = &fSections.back();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    current->Keys.push_back(TKey{std::string(Trim(line.substr(0, eq))), std::string(Trim(line.substr(eq + 1)))});
  }
}

void TIniFile::ReadSections(std::vector<std::string>& List) const {
  List.clear();
  std::string buffer;
  for (const TSection& s : fSections) {
    buffer += s.Name;
    buffer += '\0';
  }
  // All names and their NULs plus the closing NUL must fit; otherwise the list is cut two
  // characters short of the buffer, which then ends in two NULs.
  if (buffer.size() + 1 > kIniSectionListBuffer) buffer.resize(kIniSectionListBuffer - 2);
  std::size_t pos = 0;
  while (pos < buffer.size() && buffer[pos] != '\0') {
    std::size_t end = buffer.find('\0', pos);
    if (end == std::string::npos) end = buffer.size();
    List.push_back(buffer.substr(pos, end - pos));
    pos = end + 1;
  }
}

const TIniFile::TSection* TIniFile::FindSection(const std::string& Section) const {
  for (const TSection& s : fSections)
    if (SameTextAscii(s.Name, Section)) return &s;
  return nullptr;
}

bool TIniFile::SectionExists(const std::string& Section) const { return FindSection(Section) != nullptr; }

bool TIniFile::HasKeys() const {
  for (const TSection& s : fSections)
    if (!s.Keys.empty()) return true;
  return false;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key, const std::string& Default) const {
  const TSection* section = FindSection(Section);
  if (section == nullptr) return Default;
  for (const TKey& k : section->Keys) {
    if (!SameTextAscii(k.Name, Key)) continue;
    std::string_view value(k.Value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, kIniValueLimit));
  }
  return Default;
}

std::int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key, std::int32_t Default) const {
  return StrToIntDef(ReadString(Section, Key, ""), Default);
}

bool TryStrToInt(std::string_view Text, std::int32_t& Value) {
  std::size_t i = 0;
  const std::size_t n = Text.size();
  while (i < n && Text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  bool hex = false;
  if (i < n && (Text[i] == '$' || Text[i] == 'x' || Text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return false;
  const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  std::uint64_t magnitude = 0;
  for (; i < n; ++i) {
    const char c = Text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    magnitude = magnitude * (hex ? 16u : 10u) + digit;
    if (magnitude > limit) return false;
  }
  std::uint32_t bits = static_cast<std::uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  Value = static_cast<std::int32_t>(bits);
  return true;
}

std::int32_t StrToIntDef(std::string_view Text, std::int32_t Default) {
  std::int32_t value;
  return TryStrToInt(Text, value) ? value : Default;
}

std::int32_t StrToInt(const std::string& Text) {
  std::int32_t value;
  if (!TryStrToInt(Text, value)) throw EConvertError(Format(kInvalidInteger, Text.c_str()));
  return value;
}

}  // namespace quirlon::core
