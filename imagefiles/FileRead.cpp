#include "imagefiles/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

struct TDescriptor {
  int Fd;
  ~TDescriptor() {
    if (Fd >= 0) ::close(Fd);
  }
};

// Reads until end of file or until more than MaxBytes have come; false with errno on a read error.
template <class TBuffer>
bool ReadAll(int fd, TBuffer& out, std::uint64_t MaxBytes, std::uint64_t sizeHint) {
  const std::size_t start = out.size();
  if (sizeHint > 0) {
    // Straight into the buffer, not through a chunk: one copy of the file instead of two. One byte
    // more than the size tells a file that grew meanwhile.
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeHint, MaxBytes)) + 1;
    out.resize(start + want);
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::read(fd, out.data() + start + got, want - got);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        out.resize(start + got);
        errno = error;
        return false;
      }
      got += static_cast<std::size_t>(n);
    }
    out.resize(start + got);
    if (got < want) return true;
  }
  char chunk[65536];
  while (out.size() - start <= MaxBytes) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.insert(out.end(), chunk, chunk + n);
  }
  return true;
}

}  // namespace

int OpenRegularFile(const std::string& FileName, std::string& Reason) {
  // O_NONBLOCK: opening a FIFO without a writer returns at once instead of waiting for one.
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    Reason = std::strerror(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    Reason = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    Reason = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : kNotRegularFile;
    ::close(fd);
    return -1;
  }
  return fd;
}

bool TryReadRegularFile(const std::string& FileName, std::string& Bytes, std::uint64_t MaxBytes, std::string& Reason) {
  const TDescriptor file{OpenRegularFile(FileName, Reason)};
  if (file.Fd < 0) return false;
  struct stat info {};
  const std::uint64_t size = ::fstat(file.Fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  if (!ReadAll(file.Fd, Bytes, MaxBytes, size)) {
    Reason = std::strerror(errno);
    return false;
  }
  return true;
}

TFileBytes ReadRegularFile(const std::string& FileName, std::uint64_t MaxBytes) {
  auto fail = [&](const std::string& reason) {
    throw EFOpenError(Format(kFOpenError, FileName.c_str(), reason.c_str()));
  };
  std::string reason;
  const TDescriptor file{OpenRegularFile(FileName, reason)};
  if (file.Fd < 0) fail(reason);
  struct stat info {};
  if (::fstat(file.Fd, &info) != 0) fail(std::strerror(errno));
  // Checked before anything is read.
  if (static_cast<std::uint64_t>(info.st_size) > MaxBytes) fail(std::strerror(EFBIG));
  TFileBytes data;
  // A file of a few hundred kilobytes is read into a huge page rather than a hundred small ones
  // (each faulted in during the read: 7.3 ms for 2.6 MB in small pages, 0.3 ms in huge pages here).
  constexpr std::uint64_t kHugeFrom = std::uint64_t{256} << 10;
  if (static_cast<std::uint64_t>(info.st_size) >= kHugeFrom)
    data.reserve(std::max<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, std::size_t{1} << 20));
  if (!ReadAll(file.Fd, data, MaxBytes, static_cast<std::uint64_t>(info.st_size))) fail(std::strerror(errno));
  // The file grew while it was read.
  if (data.size() > MaxBytes) fail(std::strerror(EFBIG));
  return data;
}

}  // namespace quirlon::imagefiles
