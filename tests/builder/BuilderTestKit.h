// Shared helpers of the builder tests: a scratch folder, and plain reads of
// whole files and file sets that do not go through the builder's own code.
#ifndef HALVORN_TESTS_BUILDER_BUILDERTESTKIT_H
#define HALVORN_TESTS_BUILDER_BUILDERTESTKIT_H

#include <gtest/gtest.h>

#include <chrono>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Common/LittleEndian.h"

namespace bttest {

// A fresh folder under the test temp dir, removed at the end. A clock value
// is part of its name: several builds may run these tests at the same time.
struct TempDir {
  std::filesystem::path Root;
  TempDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("btbuild_") + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" + (info ? info->test_suite_name() : "x") + "_" +
                       (info ? info->name() : "y");
    for (char& c : name)
      if (c == '/') c = '_';
    Root = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(Root);
    std::filesystem::create_directories(Root);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }
  std::string Path(const std::string& file) const { return (Root / file).string(); }
};

inline std::vector<uint8_t> ReadWhole(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The base file and its parts .^01 ... end to end, named as the library
// names them (written out here again on purpose).
inline std::vector<uint8_t> ReadSet(const std::string& base) {
  std::vector<uint8_t> all = ReadWhole(base);
  std::string stem = base.substr(0, base.rfind('.'));
  for (int part = 1; part < 128; ++part) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".^%.2x", part);
    std::string name = stem + suffix;
    if (!std::filesystem::exists(name)) break;
    std::vector<uint8_t> more = ReadWhole(name);
    all.insert(all.end(), more.begin(), more.end());
  }
  return all;
}

inline uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return GetLE16(b.data() + at); }
inline uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return GetLE32(b.data() + at); }
// High word first.
inline uint32_t Hwf32(const std::vector<uint8_t>& b, size_t at) {
  return (uint32_t(Le16(b, at)) << 16) | Le16(b, at + 2);
}

}  // namespace bttest

#endif
