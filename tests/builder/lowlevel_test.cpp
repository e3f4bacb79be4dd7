// The library opens builder files of every version in the structure the
// builder intends: version, page sizes, current FCR, page count, and the PAT
// translation of every data page.
#include "BuilderTestKit.h"
#include "tools/btbuild/BtBuild.h"

#ifdef HALVORN_HAVE_LOWLEVEL
#include "LowLevel/LowLevel.h"
#endif

using namespace bttest;

namespace {

#ifdef HALVORN_HAVE_LOWLEVEL

struct OpenCase {
  uint16_t Version;
  uint32_t PageSize;
  int Negated;
  int CurrentCopy;
  uint64_t PartSize;
  uint32_t FcrPageSize;
};

const OpenCase OpenCases[] = {
    {0x0300, 1024, 0, 1, 0, 1024},      {0x0400, 512, 1, 1, 0, 512},
    {0x0500, 4096, 0, 1, 0, 4096},      {0x0600, 4096, 0, 1, 0, 4096},
    {0x0600, 512, 0, 0, 0, 512},        {0x0610, 2048, 1, 1, 0, 2048},
    {0x0620, 1024, 0, 1, 0, 1024},      {0x0700, 4096, 0, 0, 1 << 16, 4096},
    {0x0800, 512, 0, 1, 1 << 16, 2048}, {0x0900, 8192, 0, 1, 1 << 16, 8192},
    {0x0950, 1024, 0, 1, 1 << 16, 4096}, {0x0950, 16384, 0, 0, 1 << 16, 16384},
    {0x0D00, 4096, 0, 1, 1 << 16, 8192}, {0x0D30, 2048, 0, 1, 1 << 16, 4096},
};

void ResetLibrary() {
  LLFileState.Verbose = 0;
  LLCloseAll();
  for (int i = 0; i < LLMaxParts; ++i) LLFileState.PartHandles[i] = PlatformInvalidFile;
  LLFileState.DeltaHandle = PlatformInvalidFile;
  LLFileState.PartCount = 0;
}

TEST(BuilderLowLevel, LibraryOpensBuilderFilesOfEveryVersionAsIntended) {
  TempDir dir;
  for (const OpenCase& c : OpenCases) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << c.Version << std::dec
                                    << " page " << c.PageSize);
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, c.Version, c.PageSize);
    spec.Records = 2000;
    spec.RecordLength = 60;
    spec.CurrentCopy = c.CurrentCopy;
    spec.PartSize = c.PartSize;
    if (c.Negated) spec.VersionWord = 0x10000 - c.Version;
    BtBuildResult r;
    std::string path = dir.Path("O.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &r)) << r.Error;
    ResetLibrary();
    ASSERT_EQ(uint16_t(r.Parts), LLOpenReadOnly(path.c_str()));
    EXPECT_GT(r.Parts, c.PartSize ? 1 : 0);
    EXPECT_EQ(c.Version, LLFileState.FileVersion);
    EXPECT_EQ(c.PageSize, LLFileState.PageSize);
    EXPECT_EQ(c.FcrPageSize, LLFileState.FcrPageSize);
    EXPECT_EQ(c.Version >= 0x0600 ? c.CurrentCopy : 0, LLFileState.CurrentFcr);
    EXPECT_EQ(c.Version >= 0x0600 ? r.LogicalPages + 1 : r.PhysicalPages, LLFileState.PageCount);
    EXPECT_EQ(0, LLFileState.PageCompressed);
    const uint8_t* fcr = LLFileState.FcrBuffers[LLFileState.CurrentFcr];
    EXPECT_EQ(r.Fcr.PhysRecLen, GetLE16(fcr + 24));
    if (c.Version >= 0x0800) {
      EXPECT_EQ(r.Fcr.BitsInRecordId, fcr[c.Version > 0x0950 ? 419 : 351]);
    }
    for (uint32_t d = 0; d < r.DataPages; ++d) {
      uint32_t mine = 0, theirs = 0;
      uint16_t extra = 0, span = 0;
      ASSERT_EQ(1, BtDataPagePhysical(&r, d, &mine));
      ASSERT_EQ(1, LLLogicalToPhysical(1 + r.IndexPages + d, &theirs, &extra, &span)) << d;
      ASSERT_EQ(mine, theirs) << d;
      if (c.Version >= 0x0600) {
        EXPECT_EQ('D', extra);
      }
      EXPECT_EQ(1, span);
    }
    ResetLibrary();
    BtFreeBuildResult(&r);
  }
}

#else

TEST(BuilderLowLevel, LibraryOpensBuilderFilesOfEveryVersionAsIntended) {
  GTEST_SKIP() << "the low-level library is not part of this build";
}

#endif

}  // namespace
