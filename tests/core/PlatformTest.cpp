#include "core/Platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::core {
namespace {

using testing::ScratchFolder;
namespace fs = std::filesystem;

TEST(PlatformTest, ExecutableFolderHoldsTheTestProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(fs::path(folder).is_absolute());
  EXPECT_EQ(fs::path(ExecutableFileName()).filename(), "test_core");
  EXPECT_TRUE(fs::equivalent(folder, fs::path(QUIRLON_BINARY_DIR) / "tests"));
}

TEST(PlatformTest, TextFileIntoLines) {
  ScratchFolder dir;
  const struct {
    const char* bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"one\n", {"one"}},
      {"one\r\ntwo\rthree\nfour", {"one", "two", "three", "four"}},
      {"a\n\nb\n\n", {"a", "", "b", ""}},
      {"\r\n", {""}},
      {"\xEF\xBB\xBFskin name  \r\n", {"skin name  "}},  // blanks are kept
  };
  for (const auto& c : cases) EXPECT_EQ(ReadTextFileLines(dir.Write("f.dat", c.bytes)), c.lines) << c.bytes;
}

TEST(PlatformTest, FirstLine) {
  ScratchFolder dir;
  EXPECT_EQ(ReadFirstLine(dir.Write("LinkAdr.dat", "https://example.org/a\r\nsecond\r\n")), "https://example.org/a");
  try {
    ReadFirstLine(dir.Write("empty.dat", ""));
    ADD_FAILURE() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (0)");
  }
  EXPECT_THROW(ReadFirstLine(dir.PathOf("missing.dat")), EFOpenError);
}

TEST(PlatformTest, TextFileThatCannotBeOpened) {
  ScratchFolder dir;
  auto message = [](const std::string& path) {
    try {
      ReadTextFileLines(path);
    } catch (const EFOpenError& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  const std::string missing = dir.PathOf("SkinName.dat");
  EXPECT_EQ(message(missing), "Cannot open file \"" + missing + "\". No such file or directory");
  EXPECT_EQ(message(dir.Folder()), "Cannot open file \"" + dir.Folder() + "\". Is a directory");
  // A named pipe without a writer must not block the reader.
  const std::string pipe = dir.PathOf("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_EQ(message(pipe), "Cannot open file \"" + pipe + "\". Not a regular file");
}

TEST(PlatformTest, ErrorReportText) {
  EXPECT_EQ(ErrorReportText("Floating point division by zero"), "Floating point division by zero.");
  EXPECT_EQ(ErrorReportText("List index out of bounds (3)"), "List index out of bounds (3)");  // ")" < "."
  EXPECT_EQ(ErrorReportText("Done."), "Done.");
  EXPECT_EQ(ErrorReportText("a-"), "a-");                        // "-" < "."
  EXPECT_EQ(ErrorReportText("a/"), "a/.");                       // "/" > "."
  EXPECT_EQ(ErrorReportText("Cannot open file \"x\". Is a directory"), "Cannot open file \"x\". Is a directory.");
  EXPECT_EQ(ErrorReportText("\"x\""), "\"x\"");                  // '"' < "."
  EXPECT_EQ(ErrorReportText("caf\xC3\xA9"), "caf\xC3\xA9.");     // bytes above 127 sort after "."
  EXPECT_EQ(ErrorReportText(""), "");
}

}  // namespace
}  // namespace quirlon::core
