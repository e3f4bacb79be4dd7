// The library over file sets that the builder writes, through the Win32 file
// layer: extension parts of 1 GiB with the records past 4 GiB, a later part
// that another program holds, and the delta file.
#include "LowLevel/LowLevel.h"
#include "Platform/Platform.h"
#include "Win32TestKit.h"
#include "tools/btbuild/BtBuild.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

using wintest::CaptureStderr;
using wintest::ScratchFolder;
using wintest::SystemText;

const uint64_t GiB = 1ull << 30;

struct Built {
  BtDataSpec spec;
  BtBuildResult result;
  bool ok = false;
  Built(uint16_t version, uint32_t pageSize) { BtDefaultDataSpec(&spec, version, pageSize); }
  void Build(const std::string& path)
  {
    ok = BtBuildFileSet(&spec, path.c_str(), &result) == 1;
  }
  ~Built()
  {
    if (ok)
      BtFreeBuildResult(&result);
  }
};

// Opens quietly (the open writes only failures and the delta line), gives
// the part count and what was written on standard error.
uint16_t OpenReadOnly(const std::string& path, const std::string& errFile, std::string* err)
{
  LLFileState.Verbose = 0;
  CaptureStderr capture(errFile);
  uint16_t parts = LLOpenReadOnly(path.c_str());
  *err = capture.Stop();
  return parts;
}

TEST(Win32FileSet, RecordsInThePartsPastFourGiB)
{
  ScratchFolder folder("fileset-large");
  std::string path = folder.File("LARGE.MKD");
  Built built(0x0950, 4096);
  built.spec.Records = 40;
  built.spec.PartSize = GiB;
  built.spec.FirstPage = 1200000;  // 4.58 GiB into the logical file: part 4
  built.Build(path);
  ASSERT_TRUE(built.ok) << built.result.Error;
  ASSERT_GE(built.result.Parts, 5);

  // The builder's own reading of the records' slots, before the library's
  // exclusive open keeps everyone else out.
  const uint32_t records[] = {0, 17, 39};
  const uint32_t length = built.result.Fcr.PhysRecLen;
  std::vector<std::vector<uint8_t>> slots;
  for (uint32_t record : records) {
    BtRecordPlace place;
    ASSERT_EQ(BtRecordPlaceOf(&built.result, record, &place), 1);
    std::vector<uint8_t> written(length);
    ASSERT_EQ(BtReadAt(&built.result.Set, place.SlotOffset, written.data(), length), 1);
    slots.push_back(written);
  }

  std::string err;
  uint16_t parts = OpenReadOnly(path, folder.File("err.txt"), &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(parts, (uint16_t)built.result.Parts);
  EXPECT_EQ(LLFileState.PartSizes[0], (int64_t)GiB);

  for (size_t i = 0; i < slots.size(); ++i) {
    SCOPED_TRACE(records[i]);
    BtRecordPlace place;
    ASSERT_EQ(BtRecordPlaceOf(&built.result, records[i], &place), 1);
    ASSERT_GT(place.SlotOffset, 4 * GiB);

    uint32_t physical = 0;
    uint16_t extra = 0, span = 0;
    ASSERT_EQ(LLLogicalToPhysical(place.LogicalPage, &physical, &extra, &span), 1);
    EXPECT_EQ(physical, place.PhysicalPage);

    uint64_t pageOffset = LLPageToOffset(physical);
    EXPECT_LE(pageOffset, place.SlotOffset);
    EXPECT_LT(place.SlotOffset, pageOffset + 4096);
    int32_t part = -1;
    uint32_t inPart = 0;
    ASSERT_EQ(LLPageToPart(physical, &part, &inPart), 1);
    EXPECT_EQ(part, place.Part);
    EXPECT_EQ(inPart, (uint32_t)(pageOffset - (uint64_t)part * GiB));

    std::vector<uint8_t> read(length);
    ASSERT_EQ(LLReadAt(place.SlotOffset, read.data(), length), 1);
    EXPECT_EQ(read, slots[i]);
  }
  // The logical file ends in the last part: a read across its end fails.
  uint64_t end = built.result.FileSize;
  uint8_t byte[2];
  EXPECT_EQ(LLReadAt(end - 1, byte, 1), 1);
  EXPECT_EQ(LLReadAt(end - 1, byte, 2), 0);
  LLCloseAll();
}

TEST(Win32FileSet, LaterPartHeldByAnotherProgramEndsTheSetWithTheSharingViolation)
{
  ScratchFolder folder("fileset-held");
  std::string path = folder.File("HELD.DAT");
  Built built(0x0700, 4096);
  built.spec.Records = 10;
  built.spec.PartSize = 64 * 1024;
  built.spec.FirstPage = 40;  // the data pages in part 2
  built.Build(path);
  ASSERT_TRUE(built.ok) << built.result.Error;
  ASSERT_GE(built.result.Parts, 3);

  char held[BtMaxPath];
  ASSERT_EQ(BtPartName(path.c_str(), 2, held, sizeof held), 1);
  HANDLE holder = CreateFileA(held, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  std::string err;
  uint16_t parts = OpenReadOnly(path, folder.File("err.txt"), &err);
  LLCloseAll();
  CloseHandle(holder);
  EXPECT_EQ(parts, 2);
  EXPECT_EQ(err, std::string("Failed to Open File <") + held + ">, Status Code 32, " +
                     SystemText(ERROR_SHARING_VIOLATION));

  // Once the holder is gone, every part opens.
  parts = OpenReadOnly(path, folder.File("err.txt"), &err);
  LLCloseAll();
  EXPECT_EQ(err, "");
  EXPECT_EQ(parts, (uint16_t)built.result.Parts);
}

TEST(Win32FileSet, DeltaFileIsOpenedBesideTheSet)
{
  ScratchFolder folder("fileset-delta");
  std::string path = folder.File("DELTA.MKD");
  Built built(0x0950, 4096);
  built.spec.Delta = 1;
  built.spec.DeltaSize = 4096;
  built.Build(path);
  ASSERT_TRUE(built.ok) << built.result.Error;

  std::string err;
  uint16_t parts = OpenReadOnly(path, folder.File("err.txt"), &err);
  EXPECT_EQ(parts, 1);
  EXPECT_EQ(err, "Delta File Found and Opened!\r\n");
  EXPECT_NE(LLFileState.DeltaHandle, PlatformInvalidFile);
  LLCloseAll();
}

}  // namespace
