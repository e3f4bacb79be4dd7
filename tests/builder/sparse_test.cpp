// Large sets made sparse: parts of 1 GiB whose holes cost no disk blocks.
// Built and run where the file system has holes (not in Windows builds).
#include <sys/stat.h>

#include <cstring>

#include "BuilderTestKit.h"
#include "tools/btbuild/BtBuild.h"

using namespace bttest;

namespace {

uint64_t BlocksOf(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return ~0ull;
  return uint64_t(st.st_blocks);
}

// Five parts of 1 GiB with a few bytes past 4 GiB: the holes cost nothing.
TEST(BuilderSparse, LargePartsAreSparse) {
  TempDir dir;
  BtFileSet set;
  std::string base = dir.Path("BIG.DAT");
  const uint64_t GiB = 1ull << 30;
  BtInitFileSet(&set, base.c_str(), GiB);
  uint8_t head[16] = {'F', 'C'};
  ASSERT_EQ(1, BtWriteAt(&set, 0, head, sizeof head));
  uint8_t tail[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(1, BtWriteAt(&set, 4 * GiB + 0x234, tail, sizeof tail));
  ASSERT_EQ(1, BtSetSize(&set, 4 * GiB + 4096));
  uint64_t blocks = BlocksOf(base);
  for (int part = 1; part <= 4; ++part) {
    char name[600];
    ASSERT_EQ(1, BtPartName(base.c_str(), part, name, sizeof name));
    EXPECT_EQ(part < 4 ? GiB : 4096u, std::filesystem::file_size(name)) << name;
    blocks += BlocksOf(name);
  }
  // A few file-system blocks for the written bytes, nothing for the holes.
  EXPECT_LT(blocks * 512, 1u << 20);
  uint8_t back[8] = {0};
  ASSERT_EQ(1, BtReadAt(&set, 4 * GiB + 0x234, back, sizeof back));
  EXPECT_EQ(0, std::memcmp(back, tail, sizeof tail));
  BtRemoveFileSet(base.c_str());
}

// Records far into a set of 1 GiB parts: the data pages lie in part 100, the
// parts before it are holes apart from the control pages, and the set costs
// a few blocks.
TEST(BuilderSparse, FirstPageFarIntoASparseSet) {
  TempDir dir;
  const uint64_t GiB = 1ull << 30;
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, 0x0950, 4096);
  spec.Records = 500;
  spec.PartSize = GiB;
  spec.FirstPage = 100 * 262144 + 5;
  spec.Delta = 1;
  spec.DeltaSize = 8192;
  BtBuildResult r;
  std::string base = dir.Path("FAR.DAT");
  ASSERT_EQ(1, BtBuildFileSet(&spec, base.c_str(), &r)) << r.Error;
  EXPECT_EQ(101, r.Parts);
  EXPECT_EQ(8192u, std::filesystem::file_size(dir.Path("FAR.^^^")));
  uint64_t blocks = 0;
  for (int part = 0; part < r.Parts; ++part) {
    char name[600];
    ASSERT_EQ(1, BtPartName(base.c_str(), part, name, sizeof name));
    if (part < 100) {
      EXPECT_EQ(GiB, std::filesystem::file_size(name));
    }
    blocks += BlocksOf(name);
  }
  EXPECT_LT(blocks * 512, 4u << 20);
  BtRecordPlace place;
  ASSERT_EQ(1, BtRecordPlaceOf(&r, 0, &place));
  EXPECT_EQ(100, place.Part);
  EXPECT_EQ(spec.FirstPage + 1, place.PhysicalPage);  // after the index page
  EXPECT_EQ(6 * 4096u + 10, place.PartOffset);
  char name[600];
  ASSERT_EQ(1, BtPartName(base.c_str(), 100, name, sizeof name));
  std::vector<uint8_t> part = ReadWhole(name);
  EXPECT_EQ(2u, Le32(part, 6 * 4096));  // logical page 2
  EXPECT_EQ('D', part[6 * 4096 + 4]);
  EXPECT_EQ(1, Le16(part, place.PartOffset));
  EXPECT_EQ(0u, Le32(part, place.PartOffset + 2));
  BtFreeBuildResult(&r);
  BtRemoveFileSet(base.c_str());
}

}  // namespace
