#pragma once
// Helpers for the picture tests: byte writers, a scratch folder, corpus paths.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace quirlon::testing {

namespace fs = std::filesystem;

inline fs::path TestData(const std::string& relative) { return fs::path(QUIRLON_TESTDATA) / relative; }
inline bool HaveTestData() { return fs::exists(TestData("MANIFEST.tsv")); }

// A folder of this test process, removed when the process ends.
inline const fs::path& ScratchDir() {
  struct TScratch {
    fs::path Dir = fs::temp_directory_path() / ("quirlon-imagefiles-" + std::to_string(::getpid()));
    TScratch() { fs::create_directories(Dir); }
    ~TScratch() {
      std::error_code ec;
      fs::remove_all(Dir, ec);
    }
  };
  static const TScratch scratch;
  return scratch.Dir;
}

inline std::string WriteScratch(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const fs::path p = ScratchDir() / name;
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

inline std::vector<std::uint8_t> ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A load error without its `Picture "<file>": ` lead, which must name File; "" when it does not.
inline std::string AfterFileName(const std::string& message, const std::string& file) {
  const std::string lead = "Picture \"" + file + "\": ";
  if (message.rfind(lead, 0) != 0) {
    ADD_FAILURE() << "\"" << message << "\" does not start with " << lead;
    return "";
  }
  return message.substr(lead.size());
}

struct TBytes {
  std::vector<std::uint8_t> Data;
  TBytes& U8(std::uint32_t v) {
    Data.push_back(static_cast<std::uint8_t>(v));
    return *this;
  }
  TBytes& U16(std::uint32_t v) { return U8(v).U8(v >> 8); }
  TBytes& U32(std::uint32_t v) { return U16(v).U16(v >> 16); }
  TBytes& Bytes(const std::vector<std::uint8_t>& b) {
    Data.insert(Data.end(), b.begin(), b.end());
    return *this;
  }
  void PutU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

}  // namespace quirlon::testing
