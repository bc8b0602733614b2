#pragma once
// Writing a file so that a failure never damages the file it replaces: the bytes go to a new
// temporary file in the target's folder, which is renamed over the target only when it is
// complete and flushed to the disk. Every failure raises EFCreateError("Cannot create file
// \"%s\". %s") with the file name as given and the system's reason; the old file is then left as
// it was and the temporary file is removed.
#include <cstddef>
#include <string>

namespace quirlon::imagefiles {

class TSafeFileWriter {
public:
  TSafeFileWriter() = default;  // writes nowhere
  // Checks the target (an existing folder or a file without write permission refuses) and
  // creates the temporary file. A symbolic link as target is followed: its file is replaced.
  explicit TSafeFileWriter(const std::string& FileName);
  ~TSafeFileWriter();  // removes the temporary file unless Commit succeeded
  TSafeFileWriter(const TSafeFileWriter&) = delete;
  TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

  void Write(const void* Data, std::size_t Size);
  // Flushes, closes and renames the temporary file over the target. An existing target's
  // permission bits carry over; a new file gets the usual ones (0666 less the umask).
  void Commit();

  const std::string& FileName() const { return fFileName; }

private:
  [[noreturn]] void Fail(int Error);
  void Discard();

  std::string fFileName;  // as given, for the messages
  std::string fTarget;    // the path that is replaced
  std::string fTempName;
  int fFd = -1;
};

// The whole file in one go, through TSafeFileWriter.
void WriteFileSafely(const std::string& FileName, const void* Data, std::size_t Size);

}  // namespace quirlon::imagefiles
