// The engine on files of every version made by our builder: physical walks
// both ways against the builder's record bytes and places, the position
// value of each version, key order, variable parts, extension parts, the 6.x
// displacement, and damage at a chosen page, which must end the walk with 2
// and leave the position on the last record before it.
#include <algorithm>
#include <gtest/gtest.h>

#include "EngineTestKit.h"

#ifndef HALVORN_HAVE_BTBUILD

TEST(EngineBuilderFiles, NeedTheBuilder) { GTEST_SKIP() << "the file builder (btbuild) is not part of this build"; }

#else

#include "tools/btbuild/BtBuild.h"

namespace {

struct Built {
  BtDataSpec Spec;
  BtBuildResult Result;
  std::string Path;
  bool Ok = false;
  ~Built()
  {
    if (Ok)
      BtFreeBuildResult(&Result);
  }
};

void Build(Built* b, const std::string& path)
{
  b->Path = path;
  b->Ok = BtBuildFileSet(&b->Spec, path.c_str(), &b->Result) == 1;
  ASSERT_TRUE(b->Ok) << b->Result.Error;
}

// The position of a record computed from where it lies, by the meaning the
// location report gives each version.
uint32_t ExpectedPosition(const Built& b, const BtRecordPlace& place)
{
  uint16_t v = b.Spec.Version;
  uint32_t ps = b.Spec.PageSize;
  uint32_t phys = b.Result.Fcr.PhysRecLen;
  if (v < 0x0600)
    return SwapHalves32((uint32_t)place.PhysicalPage * ps + 6 + place.Slot * phys);
  if (v < 0x0700)
    return SwapHalves32(place.LogicalPage * ps + 6 + place.Slot * phys);
  if (v < 0x0800)
    return place.LogicalPage << 8 | place.Slot;
  return place.LogicalPage << b.Result.Fcr.BitsInRecordId | place.Slot;
}

struct VersionCase {
  uint16_t Version;
  uint32_t PageSize;
};

class BuilderVersion : public ::testing::TestWithParam<VersionCase> {
protected:
  void SetUp() override
  {
    BtDefaultDataSpec(&b.Spec, GetParam().Version, GetParam().PageSize);
    b.Spec.Records = 700;
    b.Spec.RecordLength = 40;
    b.Spec.FreeEvery = 7;
    b.Spec.ShuffleKeys = 1;
  }
  ScratchDir scratch;
  Built b;
};

TEST_P(BuilderVersion, WalksEveryRecordInPlaceAndOrder)
{
  Build(&b, scratch.File("DATA.DAT"));
  Walk walk = PhysicalWalk(b.Path);
  ASSERT_EQ(0, walk.OpenStatus);
  EXPECT_EQ(9, walk.Status);
  ASSERT_EQ(b.Spec.Records, walk.Records.size());
  Bytes expected(b.Spec.RecordLength);
  for (uint32_t i = 0; i < b.Spec.Records; i++) {
    BtRecordBytes(&b.Spec, i, expected.data());
    ASSERT_EQ(expected, walk.Records[i]) << "record " << i;
    BtRecordPlace place;
    ASSERT_EQ(1, BtRecordPlaceOf(&b.Result, i, &place));
    EXPECT_EQ(place.Position, walk.Positions[i]) << "record " << i;
    EXPECT_EQ(ExpectedPosition(b, place), walk.Positions[i]) << "record " << i;
  }
  Walk back = BackwardWalk(b.Path);
  EXPECT_EQ(9, back.Status);
  std::reverse(back.Positions.begin(), back.Positions.end());
  EXPECT_EQ(walk.Positions, back.Positions);

  // Along key 0 (an integer holding a permutation of the record numbers).
  Walk keyed = KeyWalk(b.Path, 0);
  EXPECT_EQ(9, keyed.Status);
  ASSERT_EQ(b.Spec.Records, keyed.Records.size());
  for (size_t n = 0; n < keyed.Records.size(); n++)
    EXPECT_EQ(n, Le32(keyed.Records[n].data())) << "key order place " << n;
  Walk keysOnly = RunWalk(b.Path, OpGetLast + OpKeyOnly, OpGetPrevious + OpKeyOnly, 0);
  EXPECT_EQ(9, keysOnly.Status);
  ASSERT_EQ(b.Spec.Records, keysOnly.Keys.size());
  EXPECT_EQ(b.Spec.Records - 1, Le32(keysOnly.Keys.front().data()));
  EXPECT_EQ(0u, Le32(keysOnly.Keys.back().data()));
}

// Damage at the page that holds record 525: the walk returns the records of
// the pages before it, answers 2, and the position stays on the last of them.
struct DamageKind {
  int Kind;
  const char* Name;
  bool FromSix;  // only for files with a PAT
};

TEST_P(BuilderVersion, DamageAtAPageEndsTheWalkOnTheRecordBefore)
{
  const DamageKind kinds[] = {
      {BtDamageZeroPage, "zero page", false},
      {BtDamageGarbagePage, "garbage page", false},
      {BtDamageCutAtPage, "file cut at the page", false},
      {BtDamageCutInPage, "file cut in the page", false},
      {BtDamageHeaderNumber, "header number", false},
      {BtDamageHeaderType, "header type", true},
      {BtDamagePatPastEnd, "PAT entry past the end", true},
  };
  BtRecordPlace target;
  for (const DamageKind& kind : kinds) {
    if (kind.FromSix && GetParam().Version < 0x0600)
      continue;
    SCOPED_TRACE(kind.Name);
    Built damaged;
    damaged.Spec = b.Spec;
    damaged.Spec.DamageCount = 1;
    damaged.Spec.Damage[0] = {kind.Kind, BtTargetRecordPage, 525, 0};
    Build(&damaged, scratch.File("DAMAGED.DAT"));
    ASSERT_EQ(1, BtRecordPlaceOf(&damaged.Result, 525, &target));
    uint32_t before = 0;
    BtRecordPlace place;
    while (BtRecordPlaceOf(&damaged.Result, before, &place) && place.DataPage < target.DataPage)
      before++;
    ASSERT_GT(before, 0u);
    Walk walk = PhysicalWalk(damaged.Path);
    EXPECT_EQ(2, walk.Status);
    ASSERT_EQ(before, walk.Records.size());
    BtRecordPlaceOf(&damaged.Result, before - 1, &place);
    EXPECT_EQ(place.Position, walk.Positions.back());
    Walk keyed = KeyWalk(damaged.Path, 0);
    EXPECT_EQ(2, keyed.Status);
    EXPECT_EQ(before, keyed.Records.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, BuilderVersion,
                         ::testing::Values(VersionCase{0x0300, 1024}, VersionCase{0x0400, 512},
                                           VersionCase{0x0500, 4096}, VersionCase{0x0600, 4096},
                                           VersionCase{0x0610, 1024}, VersionCase{0x0700, 4096},
                                           VersionCase{0x0800, 2048}, VersionCase{0x0900, 4096},
                                           VersionCase{0x0950, 4096}, VersionCase{0x0950, 16384},
                                           VersionCase{0x0D00, 4096}, VersionCase{0x0D30, 8192}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                           char name[32];
                           snprintf(name, sizeof name, "v%04x_%u", info.param.Version,
                                    info.param.PageSize);
                           return std::string(name);
                         });

class BuilderFiles : public ::testing::Test {
protected:
  ScratchDir scratch;
};

// A writer that counts pages from 1 (the count one less): the last data
// page, at the count itself, is still walked.
TEST_F(BuilderFiles, PageCountCountedFromOne)
{
  Built b;
  BtDefaultDataSpec(&b.Spec, 0x0610, 4096);
  b.Spec.Records = 500;
  Build(&b, scratch.File("COUNT.DAT"));
  Bytes bytes = ReadWholeFile(b.Path);
  for (size_t copy : {0u, 4096u}) {
    uint8_t* field = bytes.data() + copy + 38;  // high word first
    uint32_t count = (uint32_t)Le16(field) << 16 | Le16(field + 2);
    count--;
    field[0] = (uint8_t)(count >> 16);
    field[1] = (uint8_t)(count >> 24);
    field[2] = (uint8_t)count;
    field[3] = (uint8_t)(count >> 8);
  }
  WriteWholeFile(b.Path, bytes);
  Walk walk = PhysicalWalk(b.Path);
  EXPECT_EQ(9, walk.Status);
  EXPECT_EQ(500u, walk.Records.size());
}

// Records written in key order: the key order is the physical order, and a
// Get Next after Step operations goes on from the stepped-to record.
TEST_F(BuilderFiles, KeyOrderEqualToPhysicalOrder)
{
  Built b;
  BtDefaultDataSpec(&b.Spec, 0x0900, 4096);
  b.Spec.Records = 900;
  b.Spec.FreeEvery = 11;
  Build(&b, scratch.File("SEQ.DAT"));
  Walk keyed = KeyWalk(b.Path, 0);
  Walk physical = PhysicalWalk(b.Path);
  EXPECT_EQ(9, keyed.Status);
  EXPECT_EQ(physical.Positions, keyed.Positions);
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(b.Path, block));
  uint8_t data[256], key[256];
  uint32_t length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpStepLast, block, data, &length, key, 0));
  for (int n = 0; n < 300; n++) {
    length = sizeof data;
    ASSERT_EQ(0, CallEngine(OpStepPrevious, block, data, &length, key, 0));
  }
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpGetNext, block, data, &length, key, 0));
  EXPECT_EQ(900u - 300u, Le32(key));
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpGetPrevious + OpKeyOnly, block, data, &length, key, 0));
  EXPECT_EQ(900u - 301u, Le32(key));
  CloseBlock(block);
}

// The free-slot chain of the older formats: a loop, and a link out of the file.
TEST_F(BuilderFiles, FreeSlotChainDamage)
{
  for (int kind : {BtDamageFreeChainLoop, BtDamageFreeChainOut}) {
    Built b;
    BtDefaultDataSpec(&b.Spec, 0x0400, 1024);
    b.Spec.Records = 200;
    b.Spec.FreeEvery = 5;
    b.Spec.DamageCount = 1;
    b.Spec.Damage[0] = {kind, BtTargetPhysicalPage, 0, 0};
    Build(&b, scratch.File("CHAIN.DAT"));
    // Free slots are the global slots 4, 9, 14, ...; a loop is closed by the
    // last of them, a link out of the file leaves from the first.
    uint32_t every = 5, slots = b.Result.SlotsUsed;
    uint32_t brokenAt = every - 1;
    if (kind == BtDamageFreeChainLoop)
      while (brokenAt + every < slots)
        brokenAt += every;
    uint32_t before = brokenAt - brokenAt / every;  // live slots below it
    Walk walk = PhysicalWalk(b.Path);
    EXPECT_EQ(2, walk.Status) << kind;
    EXPECT_EQ(before, walk.Records.size()) << kind;
  }
}

// Variable-length records (3.x-6.x) come back whole; a broken chain and a
// looping chain end the walk at the record that has them.
TEST_F(BuilderFiles, VariableRecordsWholeAndTheirDamage)
{
  for (uint16_t version : {0x0300, 0x0400, 0x0600, 0x0610}) {
    SCOPED_TRACE(version);
    Built b;
    BtDefaultDataSpec(&b.Spec, version, 1024);
    b.Spec.Records = 120;
    b.Spec.RecordLength = 24;
    b.Spec.Variable = 1;
    b.Spec.VariableLength = 600;  // four whole fragments
    b.Spec.FragmentSize = 150;
    Build(&b, scratch.File("VAR.DAT"));
    Walk walk = PhysicalWalk(b.Path);
    EXPECT_EQ(9, walk.Status);
    ASSERT_EQ(b.Spec.Records, walk.Records.size());
    Bytes expected(24 + 600);
    for (uint32_t i = 0; i < b.Spec.Records; i++) {
      BtRecordBytes(&b.Spec, i, expected.data());
      BtVariableBytes(&b.Spec, i, expected.data() + 24);
      ASSERT_EQ(expected, walk.Records[i]) << "record " << i;
    }
    for (int kind : {BtDamageVariableBroken, BtDamageVariableLoop}) {
      Built damaged;
      damaged.Spec = b.Spec;
      damaged.Spec.DamageCount = 1;
      damaged.Spec.Damage[0] = {kind, BtTargetRecordPage, 77, 0};
      Build(&damaged, scratch.File("VARBAD.DAT"));
      Walk bad = PhysicalWalk(damaged.Path);
      EXPECT_EQ(2, bad.Status) << kind;
      EXPECT_EQ(77u, bad.Records.size()) << kind;
      Walk keyed = KeyWalk(damaged.Path, 0);
      EXPECT_EQ(2, keyed.Status) << kind;
    }
  }
}

// A 9.50 set in extension parts of 64 KiB: the walk crosses the parts, and
// damage to a page in a later part stops it there.
TEST_F(BuilderFiles, ExtensionPartsAndDamageInOne)
{
  Built b;
  BtDefaultDataSpec(&b.Spec, 0x0950, 4096);
  b.Spec.Records = 3000;
  b.Spec.RecordLength = 60;
  b.Spec.PartSize = 64 * 1024;
  Build(&b, scratch.File("PARTS.MKD"));
  ASSERT_GT(b.Result.Parts, 3);
  Walk walk = PhysicalWalk(b.Path);
  EXPECT_EQ(9, walk.Status);
  ASSERT_EQ(3000u, walk.Records.size());
  Bytes expected(60);
  BtRecordBytes(&b.Spec, 2999, expected.data());
  EXPECT_EQ(expected, walk.Records.back());

  Built damaged;
  damaged.Spec = b.Spec;
  damaged.Spec.DamageCount = 1;
  damaged.Spec.Damage[0] = {BtDamageGarbagePage, BtTargetRecordPage, 2000, 0};
  Build(&damaged, scratch.File("PARTSBAD.MKD"));
  BtRecordPlace target, place;
  ASSERT_EQ(1, BtRecordPlaceOf(&damaged.Result, 2000, &target));
  EXPECT_GE(target.Part, 2);
  uint32_t before = 0;
  while (BtRecordPlaceOf(&damaged.Result, before, &place) && place.DataPage < target.DataPage)
    before++;
  Walk bad = PhysicalWalk(damaged.Path);
  EXPECT_EQ(2, bad.Status);
  ASSERT_EQ(before, bad.Records.size());
  BtRecordPlaceOf(&damaged.Result, before - 1, &place);
  EXPECT_EQ(place.Position, bad.Positions.back());
}

// A 6.x file with 512-byte pages large enough that its pages from the
// threshold on lie 4096 bytes further: the walk reads them there.
TEST_F(BuilderFiles, SixDisplacementBeyondTheThreshold)
{
  Built b;
  BtDefaultDataSpec(&b.Spec, 0x0600, 512);
  b.Spec.RecordLength = 20;
  b.Spec.Records = 100000;  // about 4400 pages, past page 3842
  Build(&b, scratch.File("SHIFT.DAT"));
  ASSERT_GT(b.Result.PhysicalPages, 3900u);
  Walk walk = PhysicalWalk(b.Path);
  EXPECT_EQ(9, walk.Status);
  ASSERT_EQ(b.Spec.Records, walk.Records.size());
  Bytes expected(20);
  for (uint32_t i : {0u, 40000u, 99999u}) {
    BtRecordBytes(&b.Spec, i, expected.data());
    EXPECT_EQ(expected, walk.Records[i]) << i;
  }
}

}  // namespace

#endif
