// Replays every kept input of one fuzz target through the target's own entry
// function, in the normal build: each input once made the target crash,
// overrun a buffer or loop, and must now run clean (under the sanitize
// preset the sanitizers watch every run).
//
// The folder of inputs is compiled in as HALVORN_FUZZ_REGRESSIONS. What the
// library and the tool print on standard output while an input runs goes to
// /dev/null; standard error stays, since the sanitizers report there.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

std::vector<std::string> KeptInputs() {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(HALVORN_FUZZ_REGRESSIONS, error))
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard output to /dev/null while one input runs.
struct Silenced {
  int SavedOut;
  Silenced() {
    fflush(stdout);
    SavedOut = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~Silenced() {
    fflush(stdout);
    dup2(SavedOut, 1);
    close(SavedOut);
  }
};

TEST(FuzzRegressions, EveryKeptInputRunsClean) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(nullptr, nullptr);
  std::vector<std::string> inputs = KeptInputs();
  // The empty input and a short one run as well, so that the entry is
  // exercised even where no input has been kept.
  inputs.insert(inputs.begin(), std::string());
  for (const std::string& path : inputs) {
    const std::string name = path.empty() ? std::string("(empty input)") : path;
    SCOPED_TRACE(name);
    // Named before it runs, so that a crash report says which input it was.
    fprintf(stderr, "replaying %s\n", name.c_str());
    std::vector<uint8_t> bytes = path.empty() ? std::vector<uint8_t>() : ReadBytes(path);
    int result;
    {
      Silenced quiet;
      result = LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    EXPECT_EQ(0, result);
  }
}

}  // namespace
