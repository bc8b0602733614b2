#include "core/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "imagefiles/FileRead.h"
#include "raster/Errors.h"

namespace quirlon::core {

namespace fs = std::filesystem;

std::string ExecutableFileName() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && !exe.empty()) return exe.string();
  const fs::path cwd = fs::current_path(ec);
  return (ec ? std::string(".") : cwd.string()) + kPathSeparator;
}

std::string ExecutableFolder() {
  const std::string exe = ExecutableFileName();
  const std::size_t slash = exe.rfind(kPathSeparator);
  if (slash == std::string::npos) return std::string(".") + kPathSeparator;
  return exe.substr(0, slash + 1);
}

std::string UserTemplatesFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (dataHome != nullptr && dataHome[0] == kPathSeparator) {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return "";
    base = std::string(home) + "/.local/share";
  }
  if (base.back() != kPathSeparator) base.push_back(kPathSeparator);
  return base + "quirlon/Templates/";
}

std::int64_t MachineMemoryBudget() {
  static const std::int64_t budget = [] {
    std::int64_t memory = INT64_MAX;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0 && pages <= INT64_MAX / pageSize) memory = std::int64_t(pages) * pageSize;
    // The limit of the control group, version 2 then version 1; "max" or an absurd number means none.
    for (const char* file : {"/sys/fs/cgroup/memory.max", "/sys/fs/cgroup/memory/memory.limit_in_bytes"}) {
      std::string text;
      if (!TryReadFile(file, text, 64)) continue;
      std::int64_t limit = 0;
      for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (limit > (INT64_MAX - digit) / 10) {
          limit = INT64_MAX;
          break;
        }
        limit = limit * 10 + digit;
      }
      if (limit > 0 && limit < memory) memory = limit;
    }
    return memory / 2;
  }();
  return budget;
}

void ListFiles(const std::string& Folder, std::vector<std::string>& List) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(Folder.empty() ? fs::path(".") : fs::path(Folder), ec);
  for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    // is_directory follows links: a link to a folder is a folder, a dangling link is a file.
    if (it->is_directory(typeError)) continue;
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());  // std::string compares bytes as unsigned char
  List.insert(List.end(), std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

bool TryReadFile(const std::string& FileName, std::string& Text, std::size_t MaxBytes, std::string* Reason) {
  std::string reason;
  const bool ok = imagefiles::TryReadRegularFile(FileName, Text, MaxBytes, reason);
  if (!ok && Reason != nullptr) *Reason = reason;
  return ok;
}

std::vector<std::string> ReadTextFileLines(const std::string& FileName) {
  std::string text;
  std::string reason;
  if (!TryReadFile(FileName, text, SIZE_MAX, &reason)) throw EFOpenError(Format(kFOpenError, FileName.c_str(), reason.c_str()));
  std::size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
  std::vector<std::string> lines;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
  return lines;
}

std::string ReadFirstLine(const std::string& FileName) {
  std::vector<std::string> lines = ReadTextFileLines(FileName);
  if (lines.empty()) throw EListError(Format(kListIndexError, 0));
  return std::move(lines.front());
}

std::string ErrorReportText(const std::string& Message) {
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > static_cast<unsigned char>('.'))
    return Message + ".";
  return Message;
}

}  // namespace quirlon::core
