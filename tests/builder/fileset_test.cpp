// The builder's file sets: part names, writes across part boundaries, exact
// part sizes, and sparse parts that cost no disk.
#include <cstring>

#include "BuilderTestKit.h"
#include "tools/btbuild/BtBuild.h"

using namespace bttest;

namespace {

TEST(BuilderFileSet, PartsAreNamedAfterThePathCutAtItsLastDot) {
  struct NameCase {
    const char* Path;
    int Part;
    const char* Name;
  } cases[] = {
      {"DATA.MKD", 0, "DATA.MKD"},       {"DATA.MKD", 1, "DATA.^01"},
      {"DATA.MKD", 10, "DATA.^0a"},      {"DATA.MKD", 127, "DATA.^7f"},
      {"DATA.MKD", BtDeltaPart, "DATA.^^^"}, {"dir.v2/DATA", 1, "dir.^01"},
      {"dir/DATA", 3, "dir/DATA.^03"},   {"a.b.c", 2, "a.b.^02"},
  };
  for (const NameCase& c : cases) {
    char name[64];
    ASSERT_EQ(1, BtPartName(c.Path, c.Part, name, sizeof name)) << c.Path << " " << c.Part;
    EXPECT_STREQ(c.Name, name);
  }
  char name[64];
  EXPECT_EQ(0, BtPartName("DATA.MKD", 128, name, sizeof name));
  EXPECT_EQ(0, BtPartName("DATA.MKD", 1, name, 5));  // does not fit
}

TEST(BuilderFileSet, WritesCrossPartBoundariesAndPartsKeepTheirSize) {
  TempDir dir;
  BtFileSet set;
  std::string base = dir.Path("X.DAT");
  BtInitFileSet(&set, base.c_str(), 4096);
  uint8_t bytes[16];
  for (int k = 0; k < 16; ++k) bytes[k] = uint8_t(0xA0 + k);
  // 8 bytes at the end of part 1, 8 at the start of part 2.
  ASSERT_EQ(1, BtWriteAt(&set, 2 * 4096 - 8, bytes, 16));
  ASSERT_EQ(1, BtSetSize(&set, 3 * 4096 + 100));
  EXPECT_EQ(4096u, std::filesystem::file_size(base));
  EXPECT_EQ(4096u, std::filesystem::file_size(dir.Path("X.^01")));
  EXPECT_EQ(4096u, std::filesystem::file_size(dir.Path("X.^02")));
  EXPECT_EQ(100u, std::filesystem::file_size(dir.Path("X.^03")));
  std::vector<uint8_t> p1 = ReadWhole(dir.Path("X.^01")), p2 = ReadWhole(dir.Path("X.^02"));
  EXPECT_EQ(0, std::memcmp(&p1[4096 - 8], bytes, 8));
  EXPECT_EQ(0, std::memcmp(&p2[0], bytes + 8, 8));
  uint8_t back[16] = {0};
  ASSERT_EQ(1, BtReadAt(&set, 2 * 4096 - 8, back, 16));
  EXPECT_EQ(0, std::memcmp(back, bytes, 16));
  // Shrinking removes the parts past the new end.
  ASSERT_EQ(1, BtSetSize(&set, 4096 + 10));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("X.^02")));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("X.^03")));
  EXPECT_EQ(10u, std::filesystem::file_size(dir.Path("X.^01")));
  // The parts end at 127; an offset past them is refused.
  EXPECT_EQ(0, BtWriteAt(&set, 128ull * 4096, bytes, 1));
  BtRemoveFileSet(base.c_str());
  EXPECT_FALSE(std::filesystem::exists(base));
  EXPECT_FALSE(std::filesystem::exists(dir.Path("X.^01")));
}

// A data file set over parts of 64 KiB: every record lands in the part and
// at the offset within it that the layout gives.
TEST(BuilderFileSet, DataFileSetsSpanParts) {
  TempDir dir;
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, 0x0950, 4096);
  spec.Records = 10000;
  spec.PartSize = 64 * 1024;
  BtBuildResult r;
  std::string base = dir.Path("P.DAT");
  ASSERT_EQ(1, BtBuildFileSet(&spec, base.c_str(), &r)) << r.Error;
  EXPECT_EQ(r.FileSize, (uint64_t)r.PhysicalPages * 4096);
  EXPECT_EQ(BtPartsFor(&r.Set, r.FileSize), r.Parts);
  EXPECT_GT(r.Parts, 3);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("P.^^^")));
  std::vector<uint8_t> all = ReadSet(base);
  ASSERT_EQ(r.FileSize, all.size());
  for (uint32_t i = 0; i < spec.Records; i += 97) {
    BtRecordPlace place;
    ASSERT_EQ(1, BtRecordPlaceOf(&r, i, &place));
    EXPECT_EQ(int(place.SlotOffset / spec.PartSize), place.Part);
    char name[600];
    ASSERT_EQ(1, BtPartName(base.c_str(), place.Part, name, sizeof name));
    std::vector<uint8_t> part = ReadWhole(name);
    ASSERT_LT(place.PartOffset + 6, part.size());
    EXPECT_EQ(1, Le16(part, place.PartOffset));
    EXPECT_EQ(i, Le32(part, place.PartOffset + 2));
    EXPECT_EQ(0, std::memcmp(&part[place.PartOffset], &all[place.SlotOffset], 6));
  }
  BtFreeBuildResult(&r);
}

}  // namespace
