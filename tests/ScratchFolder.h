#pragma once
// A fresh folder under the system's temporary folder for one test, removed with everything in it
// when the test ends.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace quirlon::testing {

class ScratchFolder {
public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quirlon-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    fPath = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    // Restore permissions a test may have taken away, so everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(fPath, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::error_code ignored;
      if (it->is_directory(ignored) && !it->is_symlink(ignored))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(fPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(fPath, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder path, ending in "/".
  std::string Folder() const { return fPath.string() + "/"; }
  std::string PathOf(const std::string& name) const { return (fPath / name).string(); }

  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
  }

  static std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Names of the entries of the folder (files and folders), unsorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(fPath)) names.push_back(e.path().filename().string());
    return names;
  }

private:
  std::filesystem::path fPath;
};

}  // namespace quirlon::testing
