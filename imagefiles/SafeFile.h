#pragma once
// Writing a file so that a failure never damages the file it replaces: the bytes go to a new
// temporary file in the target's folder, which is renamed over the target only when it is
// complete and flushed to the disk. Every failure raises EFCreateError("Cannot create file
// \"%s\". %s") with the file name as given and the system's reason; the old file is then left as
// it was and the temporary file is removed.
//
// What the name leads to decides how it is written, links followed to their end:
//   a regular file, or nothing    the atomic replace above; the link (if any) stays a link
//   a link to nothing             the file it names is created, the same way
//   a link loop                   refused ("Too many levels of symbolic links")
//   a folder                      refused ("Is a directory")
//   anything else (a device, a    written through as a stream, never replaced: /dev/null, a terminal,
//   FIFO, /dev/stdout on a pipe)  a pipe; a FIFO without a reader is refused at once, not waited for
#include <cstddef>
#include <string>

namespace quirlon::imagefiles {

// The reason given for a FIFO that no program is reading from.
inline constexpr const char* kNoReader = "No program is reading from the FIFO";

class TSafeFileWriter {
public:
  TSafeFileWriter() = default;  // writes nowhere
  // Checks the target (an existing folder or a file without write permission refuses) and
  // creates the temporary file, or opens the stream.
  explicit TSafeFileWriter(const std::string& FileName);
  ~TSafeFileWriter();  // removes the temporary file unless Commit succeeded
  TSafeFileWriter(const TSafeFileWriter&) = delete;
  TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

  void Write(const void* Data, std::size_t Size);
  // Flushes, closes and renames the temporary file over the target. An existing target's
  // permission bits carry over; a new file gets the usual ones (0666 less the umask). A stream is
  // only closed.
  void Commit();

  const std::string& FileName() const { return fFileName; }
  // Whether the target is written through as a stream rather than replaced.
  bool WritesThrough() const { return fStream; }

private:
  [[noreturn]] void Fail(int Error);
  [[noreturn]] void Fail(const char* Reason);
  void Discard();
  void OpenTemporary(bool Exists, unsigned Mode);

  std::string fFileName;  // as given, for the messages
  std::string fTarget;    // the path that is replaced
  std::string fTempName;
  int fFd = -1;
  int fGuardSlot = -1;    // the entry that removes the temporary file on a fatal signal
  bool fStream = false;
};

// The whole file in one go, through TSafeFileWriter.
void WriteFileSafely(const std::string& FileName, const void* Data, std::size_t Size);

// Installs, once per process, what keeps a save from leaving debris or dying silently:
// SIGINT, SIGTERM and SIGHUP remove the temporary file of every save in progress and then end
// the program by the same signal (a signal the parent had set to be ignored stays ignored);
// SIGXFSZ and SIGPIPE are ignored, so that a file size limit or a closed pipe makes the write
// fail with its reason ("File too large", "Broken pipe") instead of killing the program.
// Both programs call it first thing in main.
void InstallSaveSignalHandlers();

}  // namespace quirlon::imagefiles
