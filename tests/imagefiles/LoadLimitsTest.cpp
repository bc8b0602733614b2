// Picture files too large to be pictures are refused before they are read, with the system's
// reason text for it, and leave the bitmap as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "imagefiles/Picture.h"
#include "raster/Errors.h"
#include "tests/ScratchFolder.h"

namespace quirlon::imagefiles {
namespace {

TEST(LoadLimitsTest, FileOverOneGibibyteIsRefusedUnread) {
  testing::ScratchFolder dir;
  // A sparse file: its size says 1 GiB and a byte, it takes no room on the disk.
  const std::string path = dir.PathOf("huge.bmp");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 1024LL * 1024 * 1024 + 1), 0);
  ::close(fd);

  TBitmap32 b;
  b.SetSize(2, 1);
  b.Clear(0xFF00FF00u);
  try {
    LoadFromFile(b, path);
    ADD_FAILURE() << "loaded";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + path + "\". File too large");
  }
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.PixelAt(1, 0), 0xFF00FF00u);
}

}  // namespace
}  // namespace quirlon::imagefiles
