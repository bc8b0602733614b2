#include "core/IniFile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

using testing::ScratchFolder;

// Written with CRLF line ends, as templates made on other systems are.
const char* const kProfile =
    "; a comment before everything\r\n"
    "orphan=before any section\r\n"
    "[Image]\r\n"
    "width = 640 \r\n"
    " height=0x1E0\r\n"
    "\r\n"
    "[Layer1]\r\n"
    "type=normal\r\n"
    "source = \"FRONT\"\r\n"
    "\tpadded\t=\tvalue\t\r\n"
    "empty=\r\n"
    "novalue\r\n"
    ";commented=yes\r\n"
    "quoted='single'\r\n"
    "spaced=\" in quotes \"\r\n"
    "mismatched=\"abc'\r\n"
    "lonequote=\"\r\n"
    "inner=a=b\r\n"
    "semicolon=a ;not a comment\r\n"
    "TYPE=shade\r\n"
    "[image]\r\n"
    "width=999\r\n"
    "depth=3\r\n"
    "[ Spaced Name ]\r\n"
    "k=v\r\n"
    "[Broken\r\n"
    "k=broken\r\n";

struct LookupCase {
  const char* section;
  const char* key;
  const char* fallback;
  const char* expected;
};

TEST(IniFileTest, LookupRules) {
  ScratchFolder dir;
  const TIniFile ini(dir.Write("t.ini", kProfile));
  const LookupCase cases[] = {
      {"Image", "width", "-", "640"},                 // blanks around key and value trimmed
      {"IMAGE", "Height", "-", "0x1E0"},              // ASCII case ignored in both names
      {"Layer1", "source", "-", "FRONT"},             // one pair of double quotes removed
      {"Layer1", "padded", "-", "value"},             // tabs are blanks
      {"Layer1", "empty", "-", ""},                   // present but empty: not the default
      {"Layer1", "novalue", "-", "-"},                // a line without "=" defines nothing
      {"Layer1", ";commented", "-", "-"},             // comment lines define nothing
      {"Layer1", "quoted", "-", "single"},            // single quotes too
      {"Layer1", "spaced", "-", " in quotes "},       // blanks inside the quotes stay
      {"Layer1", "mismatched", "-", "\"abc'"},        // quotes must be a matching pair
      {"Layer1", "lonequote", "-", "\""},             // one character is not a pair
      {"Layer1", "inner", "-", "a=b"},                // the value starts after the first "="
      {"Layer1", "semicolon", "-", "a ;not a comment"},
      {"Layer1", "type", "-", "normal"},              // duplicate key: the first line wins
      {"image", "width", "-", "640"},                 // duplicate section: the first one answers
      {"image", "depth", "-", "-"},                   // ... also for keys only the second one has
      {"Spaced Name", "k", "-", "v"},                 // section names are trimmed
      {"Broken", "k", "-", "broken"},                 // "[" without "]" still opens a section
      {"", "orphan", "-", "-"},                       // lines before the first section belong nowhere
      {"Missing", "k", "fallback", "fallback"},
      {"Layer1", "missing", "fallback", "fallback"},
  };
  for (const LookupCase& c : cases)
    EXPECT_EQ(ini.ReadString(c.section, c.key, c.fallback), c.expected) << c.section << " / " << c.key;

  EXPECT_EQ(ini.ReadInteger("Image", "width", 0), 640);
  EXPECT_EQ(ini.ReadInteger("image", "HEIGHT", 0), 480);
  EXPECT_EQ(ini.ReadInteger("Layer1", "empty", 7), 7);
  EXPECT_EQ(ini.ReadInteger("Layer1", "source", 7), 7);

  std::vector<std::string> sections{"stale"};
  ini.ReadSections(sections);
  EXPECT_EQ(sections, (std::vector<std::string>{"Image", "Layer1", "image", "Spaced Name", "Broken"}));
  EXPECT_TRUE(ini.SectionExists("LAYER1"));
  EXPECT_FALSE(ini.SectionExists("Layer"));
}

TEST(IniFileTest, LfOnlyAndByteOrderMark) {
  ScratchFolder dir;
  const TIniFile ini(dir.Write("t.ini", "\xEF\xBB\xBF[A]\nx=1\n[B]\ny=2"));  // no final line end
  std::vector<std::string> sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ini.ReadInteger("A", "x", 0), 1);
  EXPECT_EQ(ini.ReadInteger("B", "y", 0), 2);
}

TEST(IniFileTest, Utf16WithAByteOrderMarkBecomesUtf8) {
  using namespace std::string_literals;
  struct TCase {
    std::string Bytes;
    std::string Utf8;
  };
  // Expected bytes written out by hand from the Unicode code charts.
  const TCase cases[] = {
      {"\xFF\xFE" "A\0"s, "A"},
      {"\xFE\xFF" "\0A"s, "A"},
      {"\xFF\xFE" "\x80\0"s, "\xC2\x80"},                        // U+0080, the first of two bytes
      {"\xFE\xFF" "\x07\xFF"s, "\xDF\xBF"},                      // U+07FF, the last of two bytes
      {"\xFF\xFE" "\x00\x08"s, "\xE0\xA0\x80"},                  // U+0800
      {"\xFF\xFE" "\xAC\x20"s, "\xE2\x82\xAC"},                  // the euro sign
      {"\xFF\xFE" "\xFF\xFF"s, "\xEF\xBF\xBF"},                  // U+FFFF
      {"\xFF\xFE" "\x34\xD8\x1E\xDD"s, "\xF0\x9D\x84\x9E"},      // U+1D11E as a surrogate pair
      {"\xFE\xFF" "\xDB\xFF\xDF\xFF"s, "\xF4\x8F\xBF\xBF"},      // U+10FFFF, big-endian
      {"\xFF\xFE" "\x34\xD8" "A\0"s, "\xEF\xBF\xBD" "A"},          // a high surrogate alone
      {"\xFF\xFE" "\x1E\xDD\x34\xD8"s, "\xEF\xBF\xBD\xEF\xBF\xBD"},  // low before high
      {"\xFF\xFE" "A\0B"s, "A"},                                // an odd last byte
      {"\xFF\xFE" "\0\0"s, "\0"s},                              // NUL stays (a value ends there)
      {"\xFF\xFE"s, ""},
      {"A\0B\0"s, "A\0B\0"s},                                   // no mark: left as it is
      {"\xEF\xBB\xBF" "A"s, "\xEF\xBB\xBF" "A"},
  };
  for (const TCase& c : cases) EXPECT_EQ(TextAsUtf8(c.Bytes), c.Utf8) << ::testing::PrintToString(c.Bytes);
}

TEST(IniFileTest, UnreadableFileBehavesAsEmpty) {
  ScratchFolder dir;
  const std::string pipe = dir.PathOf("pipe.ini");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);  // must not block
  for (const std::string& path : {dir.PathOf("missing.ini"), dir.Folder(), pipe}) {
    const TIniFile ini(path);
    std::vector<std::string> sections{"stale"};
    ini.ReadSections(sections);
    EXPECT_TRUE(sections.empty()) << path;
    EXPECT_EQ(ini.ReadInteger("Image", "width", 800), 800);
    EXPECT_EQ(ini.ReadString("Layer1", "type", "unknown"), "unknown");
  }
  const TIniFile none;
  EXPECT_EQ(none.ReadString("a", "b", "c"), "c");
}

TEST(IniFileTest, ValuesAreReadUpTo2047Characters) {
  ScratchFolder dir;
  const std::string longValue(3000, 'v');
  const std::string exact(2047, 'e');
  const TIniFile ini(dir.Write("t.ini", "[S]\nlong=" + longValue + "\nexact=" + exact + "\nquoted=\"" +
                                            std::string(2047, 'q') + "\"\n"));
  EXPECT_EQ(ini.ReadString("S", "long", ""), std::string(2047, 'v'));
  EXPECT_EQ(ini.ReadString("S", "exact", ""), exact);
  EXPECT_EQ(ini.ReadString("S", "quoted", ""), std::string(2047, 'q'));  // quotes go first
}

TEST(IniFileTest, SectionListGoesThroughA16384CharacterBuffer) {
  ScratchFolder dir;
  // 2000 names of 11 characters: 12 buffer characters each with their NUL. The list is cut to
  // 16382 characters: 1365 whole names (16380 characters), then "Se" of the next one.
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Section%04d", i);
    text += std::string("[") + name + "]\n";
  }
  std::vector<std::string> sections;
  TIniFile(dir.Write("many.ini", text)).ReadSections(sections);
  ASSERT_EQ(sections.size(), 1366u);
  EXPECT_EQ(sections[1364], "Section1364");
  EXPECT_EQ(sections[1365], "Se");

  // One name of 16382 characters plus its NUL and the closing NUL fills the buffer exactly.
  TIniFile(dir.Write("fits.ini", "[" + std::string(16382, 'n') + "]\n")).ReadSections(sections);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].size(), 16382u);
  // One character more and the name is cut to 16382 characters.
  TIniFile(dir.Write("over.ini", "[" + std::string(16383, 'n') + "]\n")).ReadSections(sections);
  ASSERT_EQ(sections.size(), 1u);
  EXPECT_EQ(sections[0].size(), 16382u);
}

TEST(IniFileTest, EmptySectionNameEndsTheList) {
  ScratchFolder dir;
  std::vector<std::string> sections;
  const TIniFile ini(dir.Write("t.ini", "[A]\n[]\nk=1\n[B]\n"));
  ini.ReadSections(sections);
  EXPECT_EQ(sections, std::vector<std::string>{"A"});
  EXPECT_EQ(ini.ReadInteger("", "k", 0), 1);  // the section is still there for lookups
  EXPECT_TRUE(ini.SectionExists("B"));
}

struct IntegerCase {
  const char* text;
  bool valid;
  std::int32_t value;
};

TEST(IniFileTest, IntegerSyntax) {
  const IntegerCase cases[] = {
      {"0x20", true, 32},       {"$20", true, 32},        {"-5", true, -5},
      {"abc", false, 0},        {"", false, 0},           {"+7", true, 7},
      {"  12", true, 12},       {" -1", true, -1},        {"12 ", false, 0},
      {"x1F", true, 31},        {"X1f", true, 31},        {"0X1f", true, 31},
      {"-$10", true, -16},      {"-0x10", true, -16},     {"+x10", true, 16},
      {"007", true, 7},         {"0", true, 0},           {"-0", true, 0},
      {"0000000000000000012", true, 12},                  {"$00000000000FF", true, 255},
      {"2147483647", true, 2147483647},                   {"2147483648", false, 0},
      {"-2147483648", true, INT32_MIN},                   {"-2147483649", false, 0},
      {"99999999999999999999", false, 0},
      {"$7FFFFFFF", true, INT32_MAX},                     {"$80000000", true, INT32_MIN},
      {"$FFFFFFFF", true, -1},  {"-$FFFFFFFF", true, 1},  {"-$80000000", true, INT32_MIN},
      {"$100000000", false, 0}, {"0x", false, 0},         {"$", false, 0},
      {"x", false, 0},          {"-", false, 0},          {"+", false, 0},
      {"1e3", false, 0},        {"12a", false, 0},        {"0xg", false, 0},
      {"--1", false, 0},        {"+-1", false, 0},        {"- 1", false, 0},
      {"$-5", false, 0},        {"1.0", false, 0},        {"0x20 ", false, 0},
  };
  for (const IntegerCase& c : cases) {
    std::int32_t value = 12345;
    EXPECT_EQ(TryStrToInt(c.text, value), c.valid) << '"' << c.text << '"';
    if (c.valid) {
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
    EXPECT_EQ(StrToIntDef(c.text, -99), c.valid ? c.value : -99) << '"' << c.text << '"';
  }
  try {
    StrToInt("abc");
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

TEST(IniFileTest, CornerValuesThroughTheFile) {
  ScratchFolder dir;
  const TIniFile ini(dir.Write("t.ini", "[Layer]\nA.X=0x20\nA.Y=$20\nB.X=-5\nB.Y=abc\nC.X=\nC.Y=\" 15\"\nD.X=0x\n"));
  EXPECT_EQ(ini.ReadInteger("Layer", "A.X", 0), 32);
  EXPECT_EQ(ini.ReadInteger("Layer", "A.Y", 0), 32);
  EXPECT_EQ(ini.ReadInteger("Layer", "B.X", 0), -5);
  EXPECT_EQ(ini.ReadInteger("Layer", "B.Y", 0), 0);
  EXPECT_EQ(ini.ReadInteger("Layer", "C.X", 9), 9);
  EXPECT_EQ(ini.ReadInteger("Layer", "C.Y", 0), 15);  // blanks inside quotes lead the number
  EXPECT_EQ(ini.ReadInteger("Layer", "D.X", 4), 4);
  EXPECT_EQ(ini.ReadInteger("Layer", "D.Y", 4), 4);
}

TEST(IniFileTest, AsciiCaseHelpers) {
  EXPECT_EQ(AsciiUpperCase("front2 \xC3\xA4z"), "FRONT2 \xC3\xA4Z");  // bytes above 127 unchanged
  EXPECT_EQ(AsciiLowerCase(".PNG"), ".png");
  EXPECT_TRUE(SameTextAscii("clBtnFace", "CLBTNFACE"));
  EXPECT_FALSE(SameTextAscii("clRed", "clRe"));
  EXPECT_FALSE(SameTextAscii("\xC3\xA4", "\xC3\x84"));  // no folding outside ASCII
}

}  // namespace
}  // namespace quirlon::core
