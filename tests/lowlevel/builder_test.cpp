// File sets written by the project's file-set builder (tools/btbuild), read
// back through the library: the builder lays out FCR pairs, PAT pairs, data
// pages and extension parts on its own, so the library's translation of every
// logical page and its part and offset of every record must land where the
// builder put them.
#include <gtest/gtest.h>

#include "TestFiles.h"

#ifdef HALVORN_HAVE_BTBUILD
#include "tools/btbuild/BtBuild.h"
#endif

using namespace lltest;

namespace {

#ifdef HALVORN_HAVE_BTBUILD

struct BuildCase {
  uint16_t version;
  uint32_t pageSize;
  uint32_t records;
  uint64_t partSize;  // 0: one file
};

const BuildCase BuildCases[] = {
    {0x0300, 1024, 200, 0},
    {0x0400, 512, 300, 0},
    {0x0500, 4096, 100, 0},
    {0x0600, 512, 60000, 0},  // past PAT pair 31, displaced pages
    {0x0610, 1024, 12000, 65536},
    {0x0700, 512, 12000, 65536},
    {0x0800, 512, 12000, 65536},
    {0x0900, 1024, 12000, 65536},
    {0x0950, 1024, 20000, 65536},
    {0x0950, 4096, 20000, 262144},
    {0x0D00, 2048, 20000, 65536},
    {0x0D30, 4096, 2000, 32768},
};

class BuilderTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
  TempDir dir;
};

TEST_F(BuilderTest, LibraryFindsEveryPageAndRecordTheBuilderWrote)
{
  for (const BuildCase& c : BuildCases) {
    SCOPED_TRACE(testing::Message() << std::hex << "version 0x" << c.version << std::dec
                                    << " page " << c.pageSize);
    ResetLibrary();
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, c.version, c.pageSize);
    spec.Records = c.records;
    spec.PartSize = c.partSize;
    BtBuildResult result;
    std::string path = dir.Path("B.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
    if (c.partSize != 0) {
      EXPECT_GT(result.Parts, 1);
    }
    {
      Capture cap;
      ASSERT_EQ((uint16_t)result.Parts, LLOpenReadOnly(path.c_str()));
    }
    EXPECT_EQ(c.version, LLFileState.FileVersion);
    EXPECT_EQ(c.pageSize, LLFileState.PageSize);
    EXPECT_EQ(result.Geometry.FcrPageSize, LLFileState.FcrPageSize);
    EXPECT_EQ(c.version >= 0x0600 ? spec.CurrentCopy : 0, LLFileState.CurrentFcr);
    if (c.version >= 0x0600) {
      for (uint32_t logical = 1; logical <= result.LogicalPages; logical++) {
        uint32_t physical = 0;
        ASSERT_EQ(1, LLLogicalToPhysical(logical, &physical, nullptr, nullptr)) << logical;
        ASSERT_EQ(result.LogicalToPhysical[logical], physical) << logical;
      }
    }
    for (uint32_t record = 0; record < c.records; record += 7) {
      BtRecordPlace place;
      ASSERT_EQ(1, BtRecordPlaceOf(&result, record, &place));
      uint32_t physical = 0;
      ASSERT_EQ(1, LLLogicalToPhysical(place.LogicalPage, &physical, nullptr, nullptr));
      ASSERT_EQ(place.PhysicalPage, physical) << record;
      uint64_t pageOffset = LLPageToOffset(physical);
      ASSERT_LE(pageOffset, place.SlotOffset);
      uint64_t inPage = place.SlotOffset - pageOffset;
      ASSERT_LT(inPage, c.pageSize);
      if (c.version >= 0x0700) {
        int32_t part = -1;
        uint32_t offset = 0;
        LLPageToPart(physical, &part, &offset);
        EXPECT_EQ(place.Part, part) << record;
        EXPECT_EQ(place.PartOffset, offset + inPage) << record;
      }
      // The slot's bytes are where the builder says: its first bytes read
      // back through the library equal the builder's own read.
      uint8_t mine[4] = {0}, theirs[4] = {1};
      ASSERT_EQ(1, LLReadAt(place.SlotOffset, mine, 4));
      ASSERT_EQ(1, BtReadAt(&result.Set, place.SlotOffset, theirs, 4));
      EXPECT_EQ(0, memcmp(mine, theirs, 4)) << record;
    }
    LLCloseAll();
    BtFreeBuildResult(&result);
  }
}

#else

TEST(BuilderTest, LibraryFindsEveryPageAndRecordTheBuilderWrote)
{
  GTEST_SKIP() << "the file-set builder (tools/btbuild) is not part of this build";
}

#endif

}  // namespace
