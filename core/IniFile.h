#pragma once
// The INI profile reader that templates are read with, modelled on the platform's profile API:
//
//   [section]        a section header: the name between "[" and the last "]", blanks trimmed
//                    (a "[" line without "]" names the section by the rest of the line)
//   key=value        a value line: the key is the text before the first "=", the value the text
//                    after it, both with leading and trailing blanks (space, tab, CR, VT, FF) trimmed
//   ;comment         ignored, as are blank lines, lines without "=" and lines before the first section
//
// Lines end at LF, CR or CR LF. A leading UTF-8 byte order mark is skipped; a text that starts
// with a UTF-16 byte order mark (FF FE little-endian, FE FF big-endian) is converted to UTF-8
// first (TextAsUtf8). Section and key names match without regard to ASCII case. When a section
// name occurs twice, the first section of that name answers every lookup (the later one is still
// listed by ReadSections); when a key occurs twice in a section, the first line wins.
// The file is read once, when the reader is constructed; a file that does not exist or cannot be
// read behaves as an empty file here (the render refuses such a file before it gets this far).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quirlon::core {

inline constexpr std::size_t kIniValueLimit = 2047;         // characters of a value that are read
inline constexpr std::size_t kIniSectionListBuffer = 16384;  // characters for the list of names
inline constexpr const char* kInvalidInteger = "'%s' is not a valid integer value";

class TIniFile {
public:
  TIniFile() = default;
  explicit TIniFile(const std::string& FileName);
  // A reader over Text as if it were the content of FileName (no file is read).
  static TIniFile FromText(const std::string& FileName, std::string_view Text);

  const std::string& FileName() const { return fFileName; }

  // Clears List and appends the section names in file order. The names go through a list of
  // NUL-terminated names of kIniSectionListBuffer characters, as the profile API returns them: a
  // list that does not fit is cut to its first kIniSectionListBuffer - 2 characters (the last
  // name cut short), and an empty section name "[]" ends the list.
  void ReadSections(std::vector<std::string>& List) const;
  bool SectionExists(const std::string& Section) const;
  // Whether any section holds a "key=value" line: false for an empty file and for text that
  // only looks like one.
  bool HasKeys() const;

  // The value of Key in Section: trimmed, one pair of enclosing single or double quotation marks
  // removed, cut at a NUL character and to kIniValueLimit characters. Default when the file, the
  // section or the key is missing; a key with an empty value gives "".
  std::string ReadString(const std::string& Section, const std::string& Key, const std::string& Default) const;

  // ReadString with an empty default, read with StrToIntDef: Default when the value is missing,
  // empty or not an integer.
  std::int32_t ReadInteger(const std::string& Section, const std::string& Key, std::int32_t Default) const;

private:
  struct TKey {
    std::string Name;
    std::string Value;  // already trimmed
  };
  struct TSection {
    std::string Name;
    std::vector<TKey> Keys;
  };
  const TSection* FindSection(const std::string& Section) const;
  void Parse(std::string_view Text);

  std::string fFileName;
  std::vector<TSection> fSections;
};

// Bytes as UTF-8 text: a UTF-16 text with its byte order mark is converted (pairs of surrogates
// joined, a lone surrogate becoming U+FFFD, an odd last byte dropped) without the mark; anything
// else comes back as it is.
std::string TextAsUtf8(std::string_view Bytes);

// Integer syntax of every number the templates hold: optional leading spaces, an optional "+" or
// "-", then decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X". Decimal
// values must lie in -2147483648..2147483647; hexadecimal ones up to FFFFFFFF are taken as 32-bit
// patterns (so $FFFFFFFF is -1), a "-" negating the pattern. Nothing may follow the digits.
bool TryStrToInt(std::string_view Text, std::int32_t& Value);
std::int32_t StrToIntDef(std::string_view Text, std::int32_t Default);
// Throws EConvertError("'%s' is not a valid integer value") with Text in the message.
std::int32_t StrToInt(const std::string& Text);

// ASCII-only case folding and comparison, as the profile API and the template names use.
std::string AsciiUpperCase(std::string_view Text);
std::string AsciiLowerCase(std::string_view Text);
bool SameTextAscii(std::string_view A, std::string_view B);

}  // namespace quirlon::core
