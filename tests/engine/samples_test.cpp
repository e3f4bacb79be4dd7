// The engine on the real files in the samples folder: physical walks in both
// directions, walks along key 0 checked with a comparator of the test's own,
// the key-only forms, positions decoded back to the bytes on disk, and
// variable-length records returned whole.
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

#include "EngineTestKit.h"

namespace {

enum SegType { Raw, ZString, Unsigned, Signed };

struct Segment {
  uint32_t Offset, Length;
  SegType Type;
  bool Acs;
};

struct Sample {
  const char* Name;
  int Major;              // 3, 4 or 6: how positions decode
  uint32_t PageSize;
  uint32_t Records;       // the FCR's record count (MANIFEST.md)
  uint32_t RecordLength;  // fixed part
  std::vector<Segment> Key0;
  uint32_t AcsPhysicalPage;  // where the collating sequence lies (0: none)
};

const std::vector<Sample>& Samples()
{
  static const std::vector<Sample> samples = {
      {"TEST.DAT", 3, 1024, 5, 64, {{0, 4, Raw, false}}, 0},
      {"MBBSEMU.DAT", 4, 512, 4, 74, {{2, 32, ZString, false}}, 0},
      {"MBMGEPLT.DAT", 4, 1024, 22, 493, {{0, 6, Unsigned, false}}, 0},
      {"F14.DAT", 4, 4096, 24, 78, {{0, 2, Signed, false}}, 0},
      {"BBSGEN.VIR", 4, 1024, 0, 55, {}, 0},
      {"GALTELA.DAT", 6, 4096, 73, 950, {{0, 16, ZString, true}, {16, 16, ZString, true}}, 4},
      {"WGSMENU2.DAT", 6, 4096, 46, 448, {{0, 17, ZString, true}}, 4},
      {"ELWKYR.DAT", 6, 4096, 0, 0, {}, 0},
      {"MULTIACS.DAT", 6, 4096, 0, 0, {}, 0},
  };
  return samples;
}

class SampleTest : public ::testing::TestWithParam<Sample> {
protected:
  void SetUp() override
  {
    path = SamplePath(GetParam().Name);
    if (!FileExists(path))
      GTEST_SKIP() << "sample folder absent: " << path;
    file = ReadWholeFile(path);
  }
  std::string path;
  Bytes file;
};

// The bytes of the record fixed part at a position, found on disk by the
// test itself: 3.x-5.x the physical offset; 6.x logical page space through
// the current PAT copy (pages 2 and 3 of these files).
Bytes RecordAt(const Sample& sample, const Bytes& file, uint32_t position)
{
  uint32_t offset = SwapHalves32(position);
  if (sample.Major < 6) {
    if (offset + sample.RecordLength > file.size())
      return Bytes();
    return Bytes(file.begin() + offset, file.begin() + offset + sample.RecordLength);
  }
  uint32_t ps = sample.PageSize;
  uint32_t logical = offset / ps, within = offset % ps;
  const uint8_t* pat0 = file.data() + 2 * ps;
  const uint8_t* pat1 = file.data() + 3 * ps;
  const uint8_t* pat = Le32(pat1 + 4) >= Le32(pat0 + 4) ? pat1 : pat0;
  const uint8_t* entry = pat + 8 + 4 * (logical - 1);
  uint32_t physical = (uint32_t)entry[0] << 16 | (uint32_t)entry[3] << 8 | entry[2];
  size_t at = (size_t)physical * ps + within + 2;  // after the slot's usage count
  if (at + sample.RecordLength > file.size())
    return Bytes();
  return Bytes(file.begin() + at, file.begin() + at + sample.RecordLength);
}

// Key 0 comparison written straight from the key definitions.
int CompareKey0(const Sample& sample, const Bytes& file, const Bytes& a, const Bytes& b)
{
  const uint8_t* acs =
      sample.AcsPhysicalPage ? file.data() + sample.AcsPhysicalPage * sample.PageSize + 15 : nullptr;
  for (const Segment& s : sample.Key0) {
    const uint8_t* x = a.data() + s.Offset;
    const uint8_t* y = b.data() + s.Offset;
    int c = 0;
    switch (s.Type) {
    case Raw: c = memcmp(x, y, s.Length); break;
    case ZString: {
      size_t lx = strnlen((const char*)x, s.Length), ly = strnlen((const char*)y, s.Length);
      for (size_t i = 0; c == 0 && i < std::min(lx, ly); i++) {
        int cx = s.Acs ? acs[x[i]] : x[i], cy = s.Acs ? acs[y[i]] : y[i];
        c = cx - cy;
      }
      if (c == 0)
        c = (int)lx - (int)ly;
      break;
    }
    case Unsigned:
      for (int i = (int)s.Length - 1; c == 0 && i >= 0; i--)
        c = (int)x[i] - (int)y[i];
      break;
    case Signed: {
      int64_t vx = 0, vy = 0;
      for (int i = (int)s.Length - 1; i >= 0; i--) {
        vx = (vx << 8) | x[i];
        vy = (vy << 8) | y[i];
      }
      int shift = 64 - 8 * (int)s.Length;
      vx = (int64_t)((uint64_t)vx << shift) >> shift;
      vy = (int64_t)((uint64_t)vy << shift) >> shift;
      c = vx < vy ? -1 : vx > vy;
      break;
    }
    }
    if (c != 0)
      return c < 0 ? -1 : 1;
  }
  return 0;
}

TEST_P(SampleTest, PhysicalWalkCountsTheFcrRecordsAndEndsAtEndOfFile)
{
  Walk walk = PhysicalWalk(path);
  ASSERT_EQ(0, walk.OpenStatus);
  EXPECT_EQ(9, walk.Status);
  EXPECT_EQ(GetParam().Records, walk.Records.size());
  std::vector<uint32_t> unique = walk.Positions;
  std::sort(unique.begin(), unique.end());
  EXPECT_EQ(unique.end(), std::adjacent_find(unique.begin(), unique.end()));
}

TEST_P(SampleTest, BackwardWalkIsTheExactReverse)
{
  Walk forward = PhysicalWalk(path);
  Walk backward = BackwardWalk(path);
  ASSERT_EQ(0, backward.OpenStatus);
  EXPECT_EQ(9, backward.Status);
  std::reverse(backward.Records.begin(), backward.Records.end());
  std::reverse(backward.Positions.begin(), backward.Positions.end());
  EXPECT_EQ(forward.Records, backward.Records);
  EXPECT_EQ(forward.Positions, backward.Positions);
}

TEST_P(SampleTest, EveryPositionDecodesToTheRecordOnDisk)
{
  const Sample& sample = GetParam();
  Walk walk = PhysicalWalk(path);
  for (size_t i = 0; i < walk.Records.size(); i++) {
    Bytes fixed(walk.Records[i].begin(), walk.Records[i].begin() + sample.RecordLength);
    EXPECT_EQ(fixed, RecordAt(sample, file, walk.Positions[i])) << "record " << i;
  }
}

TEST_P(SampleTest, WalkAlongKey0VisitsTheSameRecordsInKeyOrder)
{
  const Sample& sample = GetParam();
  Walk physical = PhysicalWalk(path);
  Walk keyed = KeyWalk(path, 0);
  ASSERT_EQ(0, keyed.OpenStatus);
  EXPECT_EQ(9, keyed.Status);
  ASSERT_EQ(physical.Records.size(), keyed.Records.size());
  std::map<uint32_t, size_t> physicalIndex;
  for (size_t i = 0; i < physical.Positions.size(); i++)
    physicalIndex[physical.Positions[i]] = i;
  for (size_t i = 0; i < keyed.Records.size(); i++) {
    ASSERT_EQ(1u, physicalIndex.count(keyed.Positions[i]));
    EXPECT_EQ(physical.Records[physicalIndex[keyed.Positions[i]]], keyed.Records[i]);
    if (i == 0)
      continue;
    int c = CompareKey0(sample, file, keyed.Records[i - 1], keyed.Records[i]);
    EXPECT_LE(c, 0) << "records " << i - 1 << " and " << i << " out of key order";
    if (c == 0) {  // duplicates in physical order
      EXPECT_LT(physicalIndex[keyed.Positions[i - 1]], physicalIndex[keyed.Positions[i]]);
    }
  }
  // The key buffer carries the key value: key 0's bytes of the record.
  for (size_t i = 0; i < keyed.Records.size(); i++) {
    uint32_t at = 0;
    for (const Segment& s : sample.Key0) {
      EXPECT_EQ(0, memcmp(keyed.Records[i].data() + s.Offset, keyed.Keys[i].data() + at, s.Length));
      at += s.Length;
    }
  }
  // Backwards along the key: the reverse.
  Walk back = RunWalk(path, OpGetLast, OpGetPrevious, 0);
  EXPECT_EQ(9, back.Status);
  std::reverse(back.Positions.begin(), back.Positions.end());
  EXPECT_EQ(keyed.Positions, back.Positions);
}

TEST_P(SampleTest, KeyOnlyWalkGivesTheKeysAndLeavesTheDataBuffer)
{
  Walk keyed = KeyWalk(path, 0);
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(path, block));
  uint8_t data[64];
  memset(data, 0x5A, sizeof data);
  uint8_t key[256];
  size_t n = 0;
  int status = 0;
  for (int op = OpGetFirst + OpKeyOnly;; op = OpGetNext + OpKeyOnly) {
    uint32_t length = sizeof data;
    memset(key, 0, sizeof key);
    status = CallEngine(op, block, data, &length, key, 0);
    if (status != 0)
      break;
    ASSERT_LT(n, keyed.Keys.size());
    EXPECT_EQ(keyed.Keys[n], Bytes(key, key + sizeof key));
    uint8_t position[4];
    uint32_t four = 4;
    ASSERT_EQ(0, CallEngine(OpGetPosition, block, position, &four, nullptr, 0));
    EXPECT_EQ(keyed.Positions[n], Le32(position));
    n++;
  }
  EXPECT_EQ(9, status);
  EXPECT_EQ(keyed.Keys.size(), n);
  for (uint8_t b : data)
    ASSERT_EQ(0x5A, b);
  CloseBlock(block);
}

INSTANTIATE_TEST_SUITE_P(Real, SampleTest, ::testing::ValuesIn(Samples()),
                         [](const ::testing::TestParamInfo<Sample>& info) {
                           std::string name = info.param.Name;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// The first and last records' positions per version, as the location report
// decodes them: 3.x the slot's physical offset, 6.x logical page space, both
// high word first.
TEST(SamplePositions, FirstAndLastPositionsPerVersion)
{
  if (!FileExists(SamplePath("TEST.DAT")))
    GTEST_SKIP() << "sample folder absent";
  Walk test = PhysicalWalk(SamplePath("TEST.DAT"));
  ASSERT_EQ(5u, test.Positions.size());
  EXPECT_EQ(0x08060000u, test.Positions.front());  // page 2, slot 0
  EXPECT_EQ(0x09260000u, test.Positions.back());   // page 2, slot 4: 0x806 + 4 * 72
  Walk galtela = PhysicalWalk(SamplePath("GALTELA.DAT"));
  ASSERT_FALSE(galtela.Positions.empty());
  // The first data page is logical page 5.
  EXPECT_EQ(5u, SwapHalves32(galtela.Positions.front()) / 4096);
  EXPECT_EQ(6u, SwapHalves32(galtela.Positions.front()) % 4096 % 968);
}

// Variable-length records come back with their variable part: the fixed
// 448 bytes, then the fragments of the chain.
TEST(SampleVariable, RecordsCarryTheirVariablePart)
{
  if (!FileExists(SamplePath("WGSMENU2.DAT")))
    GTEST_SKIP() << "sample folder absent";
  Walk walk = PhysicalWalk(SamplePath("WGSMENU2.DAT"));
  std::map<std::string, size_t> lengths;
  size_t total = 0;
  for (const Bytes& r : walk.Records) {
    lengths[std::string((const char*)r.data(), strnlen((const char*)r.data(), 16))] = r.size();
    total += r.size();
  }
  EXPECT_EQ(448u, lengths["AACCOUNT"]);        // no variable part
  EXPECT_EQ(448u + 2, lengths["ADLTAGGED"]);   // one short fragment
  EXPECT_EQ(448u + 380, lengths["AFTPMENU"]);
  EXPECT_EQ(448u + 1766, lengths["ATOP"]);
  EXPECT_EQ(448u + 1514, lengths["CTOP"]);     // on the second variable page
  EXPECT_EQ(46u * 448 + 2 * 25 + 380 * 2 + 632 * 2 + 1766 + 1514 + 254, total);
}

}  // namespace
