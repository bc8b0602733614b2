#include "imagefiles/SafeFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

std::atomic<unsigned> gTempCounter{0};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a link points to, so that saving through a link replaces the file and keeps the link.
std::string ResolveTarget(const std::string& FileName) {
  struct stat info {};
  if (::lstat(FileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return FileName;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(FileName, ec);
  return ec ? FileName : resolved.string();
}

}  // namespace

TSafeFileWriter::TSafeFileWriter(const std::string& FileName) : fFileName(FileName), fTarget(ResolveTarget(FileName)) {
  if (FileName.empty()) Fail(ENOENT);
  struct stat old {};
  const bool exists = ::stat(fTarget.c_str(), &old) == 0;
  if (exists) {
    if (S_ISDIR(old.st_mode)) Fail(EISDIR);
    // Renaming needs no permission on the file itself; a read-only file must stay unwritten.
    if (::access(fTarget.c_str(), W_OK) != 0) Fail(errno);
  }
  const std::string folder = FolderOf(fTarget);
  for (int attempt = 0; fFd < 0; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "/.quirlon-%ld-%u.tmp", static_cast<long>(::getpid()), gTempCounter++);
    fTempName = folder + name;
    fFd = ::open(fTempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fFd < 0) {
      const int error = errno;
      fTempName.clear();
      if (error != EEXIST || attempt >= 100) Fail(error);
    }
  }
  if (exists && ::fchmod(fFd, old.st_mode & 07777) != 0) Fail(errno);
}

TSafeFileWriter::~TSafeFileWriter() { Discard(); }

void TSafeFileWriter::Discard() {
  if (fFd >= 0) ::close(fFd);
  fFd = -1;
  if (!fTempName.empty()) ::unlink(fTempName.c_str());
  fTempName.clear();
}

void TSafeFileWriter::Fail(int Error) {
  Discard();
  throw EFCreateError(Format(kFCreateError, fFileName.c_str(), std::strerror(Error)));
}

void TSafeFileWriter::Write(const void* Data, std::size_t Size) {
  if (fFd < 0) Fail(EBADF);
  const char* p = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::write(fFd, p, Size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    p += n;
    Size -= static_cast<std::size_t>(n);
  }
}

void TSafeFileWriter::Commit() {
  if (fFd < 0) Fail(EBADF);
  if (::fsync(fFd) != 0) Fail(errno);
  const int fd = fFd;
  fFd = -1;
  if (::close(fd) != 0) Fail(errno);
  if (::rename(fTempName.c_str(), fTarget.c_str()) != 0) Fail(errno);
  fTempName.clear();
}

void WriteFileSafely(const std::string& FileName, const void* Data, std::size_t Size) {
  TSafeFileWriter file(FileName);
  file.Write(Data, Size);
  file.Commit();
}

}  // namespace quirlon::imagefiles
