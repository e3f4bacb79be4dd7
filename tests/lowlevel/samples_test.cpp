// The real data files of the samples folder, written by real engines. Every
// expected value below was read off a hex dump (xxd) of the file, not from
// the library: version word (offset 6, or 74 after "FC"), page-size byte 9,
// the usage counts at offset 4 of pages 0 and 1, the page count at offset 38
// (high word first) and PhysRecLen at 24 of the current copy, and for
// GALTELA.DAT the entries of its PAT pair at pages 2 and 3.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestFiles.h"

using namespace lltest;

namespace {

std::string SamplePath(const char* name) { return std::string(HALVORN_SAMPLES_DIR) + "/" + name; }

bool HaveSample(const char* name)
{
  struct stat info;
  return stat(SamplePath(name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

#define REQUIRE_SAMPLE(name)                                                                    \
  do {                                                                                          \
    if (!HaveSample(name))                                                                      \
      GTEST_SKIP() << "sample file " << SamplePath(name)                                        \
                   << " is absent (samples folder not present); skipping";                      \
  } while (0)

class SamplesTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
};

struct SampleCase {
  const char* name;
  uint16_t version;
  uint16_t pageSize;
  int currentFcr;
  uint32_t pageCount;
  uint16_t physRecLen;
};

const SampleCase SampleCases[] = {
    {"TEST.DAT", 0x0300, 1024, 0, 3, 72},
    {"MBBSEMU.DAT", 0x0400, 512, 0, 6, 90},
    {"MBMGEPLT.DAT", 0x0400, 1024, 0, 15, 509},
    {"F14.DAT", 0x0400, 4096, 0, 4, 78},  // stored as 0xFC00, negated
    {"BBSGEN.VIR", 0x0400, 1024, 0, 5, 75},
    {"GALTELA.DAT", 0x0600, 4096, 1, 28, 968},
    {"WGSMENU2.DAT", 0x0600, 4096, 1, 13, 454},
    {"ELWKYR.DAT", 0x0600, 4096, 0, 5, 230},
    {"MULTIACS.DAT", 0x0610, 4096, 0, 7, 142},
};

TEST_F(SamplesTest, ReadOnlyOpenOfEverySample)
{
  for (const SampleCase& c : SampleCases) {
    SCOPED_TRACE(c.name);
    REQUIRE_SAMPLE(c.name);
    ResetLibrary();
    Capture cap;
    ASSERT_EQ(1, LLOpenReadOnly(SamplePath(c.name).c_str()));
    EXPECT_EQ("", cap.Err());
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ(c.version, LLFileState.FileVersion);
    EXPECT_EQ(c.pageSize, LLFileState.PageSize);
    EXPECT_EQ(c.pageSize, LLFileState.FcrPageSize);
    EXPECT_EQ(c.currentFcr, LLFileState.CurrentFcr);
    EXPECT_EQ(c.pageCount, LLFileState.PageCount);
    const uint8_t* current = LLFileState.FcrBuffers[LLFileState.CurrentFcr];
    EXPECT_EQ(c.physRecLen, current[24] | (current[25] << 8));
    EXPECT_EQ(0, LLFileState.PageCompressed);
    EXPECT_EQ(PlatformInvalidFile, LLFileState.DeltaHandle);
    // 6.x with 4096-byte pages: the displacement starts at 0x07802000.
    if (c.version >= 0x0600) {
      EXPECT_EQ(0x07802000u, LLFileState.V6ShiftThreshold);
    }
    LLCloseAll();
  }
}

// GALTELA.DAT, PAT pair 1 at pages 2 and 3 (offsets 0x2000 and 0x3000).
// Page 2 has usage count 1, page 3 usage count 2, so page 3 is in force. Its
// entries start at 0x3008, four bytes each: byte 0 page bits 16-23, byte 1
// EntryExtra (the page type), bytes 2-3 page bits 0-15:
//   0x3008: 00 41 04 00 | 00 80 1d 00 | 00 81 1c 00 | 00 82 11 00
//   0x3018: 00 44 0c 00 | 00 00 08 00 | 00 00 05 00 | 00 00 06 00
//   0x3028: 00 00 07 00 | 00 44 0b 00 | 00 44 0a 00 | 00 44 09 00
//   0x3038: 00 44 0e 00 | 00 44 0d 00 | 00 44 0f 00 | 00 44 10 00
//   0x3048: 00 44 12 00 | 00 44 13 00 | ... | 0x3070: 00 44 1e 00
// The page headers agree: physical page 4 begins 00 41 01 00 (logical 1,
// 'A'), page 29 00 80 02 00, page 30 00 44 1b 00 (logical 27, 'D').
struct GaltelaEntry {
  uint32_t logical;
  uint32_t physical;
  uint16_t extra;
};

const GaltelaEntry GaltelaEntries[] = {
    {1, 4, 0x41},   {2, 29, 0x80},  {3, 28, 0x81},  {4, 17, 0x82},  {5, 12, 0x44},
    {6, 8, 0x00},   {7, 5, 0x00},   {8, 6, 0x00},   {9, 7, 0x00},   {10, 11, 0x44},
    {11, 10, 0x44}, {12, 9, 0x44},  {13, 14, 0x44}, {14, 13, 0x44}, {15, 15, 0x44},
    {16, 16, 0x44}, {17, 18, 0x44}, {18, 19, 0x44}, {19, 20, 0x44}, {20, 21, 0x44},
    {21, 22, 0x44}, {22, 23, 0x44}, {23, 24, 0x44}, {24, 25, 0x44}, {25, 26, 0x44},
    {26, 27, 0x44}, {27, 30, 0x44},
};

TEST_F(SamplesTest, GaltelaLogicalToPhysical)
{
  REQUIRE_SAMPLE("GALTELA.DAT");
  ASSERT_EQ(1, QuietOpen(SamplePath("GALTELA.DAT")));
  LLFileState.Verbose = 1;
  Capture cap;
  for (const GaltelaEntry& e : GaltelaEntries) {
    SCOPED_TRACE(e.logical);
    uint32_t physical = 0;
    uint16_t extra = 0xFFFF, span = 0;
    ASSERT_EQ(1, LLLogicalToPhysical(e.logical, &physical, &extra, &span));
    EXPECT_EQ(e.physical, physical);
    EXPECT_EQ(e.extra, extra);
    EXPECT_EQ(1, span);
    EXPECT_EQ((uint64_t)e.physical * 4096, LLPageToOffset(physical));
  }
  // The pair is read once, and its copies identify alike.
  EXPECT_EQ("(1)Seeking PAT Pair 1 at Large Offset 00000000:00002000\n"
            "Usage 0 (00000001) < Usage 1 (00000002) [Loaded PAT Pair 1]\n",
            cap.Err());
  EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00002000\n"
            "Attempting to set position to Extent 00, Offset 00000000:00003000\n",
            cap.Out());
  EXPECT_EQ(1, LLFileState.CurrentPat);
}

TEST_F(SamplesTest, GaltelaVerboseOpen)
{
  REQUIRE_SAMPLE("GALTELA.DAT");
  std::string path = SamplePath("GALTELA.DAT");
  std::string cut = path.substr(0, path.size() - 4);
  LLFileState.Verbose = 1;
  Capture cap;
  ASSERT_EQ(1, LLOpenReadOnly(path.c_str()));
  EXPECT_EQ("Opening File <" + path + ">\r\nOpening File <" + path +
                ">...Opened\r\nOpening File <" + cut +
                ".^01>...Failed (2), No such file or directory\r\nOpening File <" + cut +
                ".^^^>...Loading FCR\r\nFile Version Found = 0600\n",
            cap.Err());
  EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00000000\n"
            "Attempting to set position to Extent 00, Offset 00000000:00001000\n"
            "Found 28 pages in file.\n",
            cap.Out());
}

TEST_F(SamplesTest, SampleHeldExclusivelyCannotBeOpenedAgain)
{
  REQUIRE_SAMPLE("TEST.DAT");
  std::string path = SamplePath("TEST.DAT");
  ASSERT_EQ(1, QuietOpen(path));
  // The library holds the file exclusively: a second exclusive open fails.
  PlatformFile second = PlatformOpenFile(path.c_str(), PlatformOpenReadExclusive);
  EXPECT_EQ(PlatformInvalidFile, second);
  EXPECT_EQ((uint32_t)EWOULDBLOCK, PlatformLastError());
  LLCloseAll();
  second = PlatformOpenFile(path.c_str(), PlatformOpenReadExclusive);
  EXPECT_NE(PlatformInvalidFile, second);
  PlatformClose(second);
}

}  // namespace
