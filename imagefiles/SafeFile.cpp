#include "imagefiles/SafeFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "raster/Errors.h"

namespace quirlon::imagefiles {

namespace {

std::atomic<unsigned> gTempCounter{0};

// Links followed one by one like the kernel does, at most this many.
constexpr int kMaxLinkHops = 40;

// ---- Temporary files a fatal signal removes -----------------------------------------------
//
// The handler may run at any moment on any thread, so it reads only this fixed table: a slot is
// armed (state kArmed) only while its path is complete, and the handler does nothing but unlink
// the armed paths. Saves at the same time take a slot each; more saves than slots go unguarded.

constexpr int kGuardSlots = 16;
constexpr int kFree = 0;
constexpr int kClaimed = 1;
constexpr int kArmed = 2;

struct TGuardSlot {
  std::atomic<int> State{kFree};
  char Path[PATH_MAX] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

// Constant-initialised: zero pages in the program image, not 16 pages written at every start.
constinit TGuardSlot gGuards[kGuardSlots];

int ClaimGuard() {
  for (int i = 0; i < kGuardSlots; ++i) {
    int expected = kFree;
    if (gGuards[i].State.compare_exchange_strong(expected, kClaimed)) return i;
  }
  return -1;
}

void ArmGuard(int slot, const std::string& path) {
  if (slot < 0) return;
  TGuardSlot& g = gGuards[slot];
  g.State.store(kClaimed);
  if (path.size() >= sizeof g.Path) return;  // too long to keep: left unguarded
  std::memcpy(g.Path, path.c_str(), path.size() + 1);
  g.State.store(kArmed);
}

void DisarmGuard(int slot) {
  if (slot >= 0) gGuards[slot].State.store(kClaimed);
}

void ReleaseGuard(int& slot) {
  if (slot >= 0) gGuards[slot].State.store(kFree);
  slot = -1;
}

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveTemporariesAndDie(int signal) {
  for (TGuardSlot& g : gGuards)
    if (g.State.load() == kArmed) ::unlink(g.Path);
  // Die by the same signal: the default action is taken as soon as the handler returns and the
  // signal, raised again now, is no longer blocked.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signal, &fallback, nullptr);
  ::raise(signal);
}

// Keeps the fatal signals away from this thread while a temporary file and its table entry are
// out of step (created but not yet armed, renamed but still armed).
class TFatalSignalsBlocked {
public:
  TFatalSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kFatalSignals) sigaddset(&set, s);
    ::pthread_sigmask(SIG_BLOCK, &set, &fSaved);
  }
  ~TFatalSignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &fSaved, nullptr); }
  TFatalSignalsBlocked(const TFatalSignalsBlocked&) = delete;
  TFatalSignalsBlocked& operator=(const TFatalSignalsBlocked&) = delete;

private:
  sigset_t fSaved;
};

// ---- Where a name leads -------------------------------------------------------------------

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

TSafeFileWriter::TSafeFileWriter(const std::string& FileName) : fFileName(FileName), fTarget(FileName) {
  if (FileName.empty()) Fail(ENOENT);
  struct stat info {};
  if (::stat(FileName.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) Fail(EISDIR);
    if (!S_ISREG(info.st_mode)) {
      // A device, a FIFO or a pipe behind /dev/stdout: replacing it would break it, so it gets
      // the bytes. Opened without waiting: a FIFO nobody reads from fails at once (ENXIO).
      fStream = true;
      fFd = ::open(FileName.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fFd < 0 && errno == ENXIO && S_ISFIFO(info.st_mode)) Fail(kNoReader);
      if (fFd < 0) Fail(errno);
      struct stat opened {};
      if (::fstat(fFd, &opened) != 0) Fail(errno);
      if (S_ISREG(opened.st_mode)) Fail(EAGAIN);  // swapped for a file since the check
      const int flags = ::fcntl(fFd, F_GETFL);
      if (flags < 0 || ::fcntl(fFd, F_SETFL, flags & ~O_NONBLOCK) != 0) Fail(errno);
      return;
    }
    // A regular file: a link to it stays a link, and its file is replaced. realpath also sees
    // through /proc's links (/dev/stdout redirected to a file).
    struct stat link {};
    if (::lstat(FileName.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (::realpath(FileName.c_str(), resolved) == nullptr) Fail(errno);
      fTarget = resolved;
    }
    // Renaming needs no permission on the file itself; a read-only file must stay unwritten.
    if (::access(fTarget.c_str(), W_OK) != 0) Fail(errno);
    OpenTemporary(true, info.st_mode & 07777);
    return;
  }
  if (errno != ENOENT) Fail(errno);  // a link loop (ELOOP), a folder that cannot be searched, ...
  // Nothing there, or a link to nothing: the file the last link names is created.
  for (int hops = 0;; ++hops) {
    struct stat link {};
    if (::lstat(fTarget.c_str(), &link) != 0) {
      if (errno == ENOENT) break;
      Fail(errno);
    }
    if (!S_ISLNK(link.st_mode)) break;  // appeared meanwhile: the rename replaces it
    if (hops >= kMaxLinkHops) Fail(ELOOP);
    char text[PATH_MAX];
    const ssize_t n = ::readlink(fTarget.c_str(), text, sizeof text - 1);
    if (n <= 0) Fail(n == 0 ? ENOENT : errno);
    text[n] = '\0';
    fTarget = text[0] == '/' ? std::string(text) : FolderOf(fTarget) + "/" + text;
  }
  OpenTemporary(false, 0);
}

void TSafeFileWriter::OpenTemporary(bool Exists, unsigned Mode) {
  const std::string folder = FolderOf(fTarget);
  const TFatalSignalsBlocked blocked;
  fGuardSlot = ClaimGuard();
  for (int attempt = 0; fFd < 0; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "/.quirlon-%ld-%u.tmp", static_cast<long>(::getpid()), gTempCounter++);
    fTempName = folder + name;
    ArmGuard(fGuardSlot, fTempName);
    fFd = ::open(fTempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fFd < 0) {
      const int error = errno;
      DisarmGuard(fGuardSlot);  // the name may be someone else's file
      fTempName.clear();
      if (error != EEXIST || attempt >= 100) Fail(error);
    }
  }
  if (Exists && ::fchmod(fFd, static_cast<mode_t>(Mode)) != 0) Fail(errno);
}

TSafeFileWriter::~TSafeFileWriter() { Discard(); }

void TSafeFileWriter::Discard() {
  if (fFd >= 0) ::close(fFd);
  fFd = -1;
  if (!fTempName.empty()) {
    const TFatalSignalsBlocked blocked;
    ::unlink(fTempName.c_str());
    fTempName.clear();
  }
  ReleaseGuard(fGuardSlot);
}

void TSafeFileWriter::Fail(int Error) { Fail(std::strerror(Error)); }

void TSafeFileWriter::Fail(const char* Reason) {
  Discard();
  throw EFCreateError(Format(kFCreateError, fFileName.c_str(), Reason));
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
  // A stream has nothing to flush to a disk (fsync fails on pipes) and nothing to rename.
  if (!fStream && ::fsync(fFd) != 0) Fail(errno);
  const int fd = fFd;
  fFd = -1;
  if (::close(fd) != 0) Fail(errno);
  if (fStream) return;
  const TFatalSignalsBlocked blocked;
  if (::rename(fTempName.c_str(), fTarget.c_str()) != 0) Fail(errno);
  fTempName.clear();
  ReleaseGuard(fGuardSlot);
}

void WriteFileSafely(const std::string& FileName, const void* Data, std::size_t Size) {
  TSafeFileWriter file(FileName);
  file.Write(Data, Size);
  file.Commit();
}

void InstallSaveSignalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction cleanup {};
    cleanup.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&cleanup.sa_mask);
    for (int s : kFatalSignals) sigaddset(&cleanup.sa_mask, s);  // one cleanup at a time
    for (int s : kFatalSignals) {
      struct sigaction old {};
      if (::sigaction(s, nullptr, &old) != 0) continue;
      // Started with the signal ignored (nohup, a background job): it stays ignored.
      if (old.sa_handler == SIG_IGN) continue;
      ::sigaction(s, &cleanup, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
    ::sigaction(SIGPIPE, &ignore, nullptr);
  });
}

}  // namespace quirlon::imagefiles
