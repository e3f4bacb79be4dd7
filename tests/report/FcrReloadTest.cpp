// The report loads the FCR a second time after the open. A file cannot be
// made to pass the first load and fail the second by its contents alone (both
// read the same bytes a moment apart), so this program is linked with the
// system read wrapped (-Wl,--wrap): the test makes one chosen read of the run
// fail, the read that the second load makes, as a failing disk would.
#include <gtest/gtest.h>

#include <string>

#include "LowLevel/LowLevel.h"
#include "Platform/Platform.h"
#include "tests/report/ReportFixture.h"
#include "tests/report/ReportRun.h"

namespace {

struct ReadFaultRecord {
  int ReadsSeen;
  int FailingRead;  // 1-based number of the read that fails; 0: none
};
ReadFaultRecord ReadFault;

}  // namespace

// PlatformRead (int PlatformRead(PlatformFile, void*, uint32_t, uint32_t*)) by
// its linker name.
extern "C" int __real__Z12PlatformReadlPvjPj(PlatformFile file, void* buffer, uint32_t count,
                                              uint32_t* got);
extern "C" int __wrap__Z12PlatformReadlPvjPj(PlatformFile file, void* buffer, uint32_t count,
                                              uint32_t* got) {
  if (++ReadFault.ReadsSeen == ReadFault.FailingRead) {
    *got = 0;
    return 0;
  }
  return __real__Z12PlatformReadlPvjPj(file, buffer, count, got);
}

namespace {

struct ReloadCase {
  const char* Name;
  uint16_t Version;
  uint16_t PageSize;
  int FailingRead;  // the open reads one FCR page below 6.0, two from 6.0 on
  const char* Err;
};

void PrintTo(const ReloadCase& c, std::ostream* os) { *os << c.Name; }

class SecondFcrLoad : public ::testing::TestWithParam<ReloadCase> {};

TEST_P(SecondFcrLoad, FailingEndsWithExitTwo) {
  const ReloadCase& c = GetParam();
  const std::string folder = MakeTempFolder();
  const std::string path = folder + "/DATA.MKD";
  ReportFile file;
  file.VersionWord = c.Version;
  file.PageSize = c.PageSize;
  file.Map = {{0x12, 0x30}, {0x13, 0x31}};
  ASSERT_TRUE(WriteReportFile(path, file));

  ReadFault = ReadFaultRecord{0, c.FailingRead};
  const ReportRun run = RunReport(path, 0x00001203, false);
  ReadFault = ReadFaultRecord{0, 0};
  LLCloseAll();  // the exit-2 path leaves the handles to the end of the run

  EXPECT_EQ(run.Code, 2);
  EXPECT_EQ(run.Out, "Unable to read FCR from " + path + "\n");
  EXPECT_EQ(run.Err, c.Err);
  RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Loads, SecondFcrLoad,
    ::testing::Values(ReloadCase{"v500FirstPage", 0x0500, 1024, 2, "Not a Btrieve File!\n"},
                      ReloadCase{"v700FirstPage", 0x0700, 1024, 3, "Not a Btrieve File!\n"},
                      ReloadCase{"v950SecondPage", 0x0950, 4096, 4, "Not a Btrieve File.....\n"}),
    [](const ::testing::TestParamInfo<ReloadCase>& info) { return std::string(info.param.Name); });

// The wrapping itself: with no read chosen to fail, the report is finished.
TEST(SecondFcrLoadControl, NoFaultGivesAReport) {
  const std::string folder = MakeTempFolder();
  const std::string path = folder + "/DATA.MKD";
  ReportFile file;
  file.VersionWord = 0x0500;
  ASSERT_TRUE(WriteReportFile(path, file));
  ReadFault = ReadFaultRecord{0, 0};
  const ReportRun run = RunReport(path, 0x12340001, false);
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(ReadFault.ReadsSeen, 2);  // one FCR read per load
  RemoveTree(folder);
}

}  // namespace
