// The record buffer that cannot be allocated: the tool says so and ends with
// exit code 1 before any engine call. The allocation is made to fail by
// wrapping calloc at link time for the one size the tool asks for.
#include <gtest/gtest.h>

#include <cstddef>

#include "Halvorn/CommandLine.h"
#include "Halvorn/ScanState.h"

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __wrap_calloc(size_t count, size_t size) {
  if (count * size == RecordBufferSize) return nullptr;
  return __real_calloc(count, size);
}

namespace {

TEST(PrepareRunTest, RecordBufferNotAvailable) {
  char program[] = "halvorn";
  char file[] = "X.MKD";
  char* argv[] = {program, file, nullptr};
  // The program is linked with the entry that answers 20 to every call: an
  // engine call would end the run with another message.
  EXPECT_EXIT(
      {
        ParseCommandLine(2, argv);
        PrepareRun(2, argv);
      },
      ::testing::ExitedWithCode(1), "^No memory available\\.\r\n$");
}

}  // namespace
