// Each damage option changes exactly the bytes it names: the damaged file
// set is compared byte for byte with the same set built without damage.
#include <cstring>

#include "BuilderTestKit.h"
#include "tools/btbuild/BtBuild.h"

using namespace bttest;

namespace {

struct Range {
  uint64_t Start;
  uint64_t End;  // exclusive
};

struct DamageCase {
  const char* Name;
  uint16_t Version;
  int Kind;
  int Target;
  uint32_t Value;
  uint32_t Arg;
};

const DamageCase Cases[] = {
    {"zero page 9.50", 0x0950, BtDamageZeroPage, BtTargetRecordPage, 300, 0},
    {"garbage page 6.00", 0x0600, BtDamageGarbagePage, BtTargetDataPage, 2, 0},
    {"zero physical page 4.00", 0x0400, BtDamageZeroPage, BtTargetPhysicalPage, 5, 0},
    {"header number 8.00", 0x0800, BtDamageHeaderNumber, BtTargetDataPage, 3, 0},
    {"header number 3.00", 0x0300, BtDamageHeaderNumber, BtTargetDataPage, 3, 0},
    {"header type 7.00", 0x0700, BtDamageHeaderType, BtTargetDataPage, 1, 0},
    {"header type 13.00", 0x0D00, BtDamageHeaderType, BtTargetDataPage, 1, 0},
    {"PAT past end 6.10", 0x0610, BtDamagePatPastEnd, BtTargetRecordPage, 250, 0},
    {"PAT past end 9.00", 0x0900, BtDamagePatPastEnd, BtTargetDataPage, 4, 0},
    {"PAT past end 0x0D30", 0x0D30, BtDamagePatPastEnd, BtTargetDataPage, 4, 0},
    {"cut at page 9.50", 0x0950, BtDamageCutAtPage, BtTargetDataPage, 5, 0},
    {"cut in page 5.00", 0x0500, BtDamageCutInPage, BtTargetDataPage, 5, 100},
    {"free chain loop 4.00", 0x0400, BtDamageFreeChainLoop, 0, 0, 0},
    {"free chain out 3.00", 0x0300, BtDamageFreeChainOut, 0, 0, 0},
};

// The bytes the damage may change, computed from the documented layout.
std::vector<Range> Expected(const DamageCase& c, const BtBuildResult& r, uint64_t* size) {
  const BtGeometry& g = r.Geometry;
  uint32_t physical = c.Value, logical = 0;
  if (c.Target == BtTargetRecordPage) {
    BtRecordPlace place;
    BtRecordPlaceOf(&r, c.Value, &place);
    physical = place.PhysicalPage;
    logical = place.LogicalPage;
  } else if (c.Target == BtTargetDataPage) {
    BtDataPagePhysical(&r, c.Value, &physical);
    logical = 1 + r.IndexPages + c.Value;
  }
  uint64_t page = BtPageOffset(&g, physical);
  *size = r.FileSize;
  switch (c.Kind) {
    case BtDamageZeroPage:
    case BtDamageGarbagePage:
      return {{page, page + g.PageSize}};
    case BtDamageHeaderNumber:
      return {{page, page + 4}};
    case BtDamageHeaderType:
      return {{page + (g.Version < 0x0800 ? 1 : 4), page + (g.Version < 0x0800 ? 2 : 5)}};
    case BtDamagePatPastEnd: {
      uint32_t e = g.PatEntriesPerPage;
      uint32_t pair = (logical - 1) / e + 1, index = (logical - 1) % e;
      uint64_t a = BtPatEntryOffset(&g, pair, 0, index), b = BtPatEntryOffset(&g, pair, 1, index);
      return {{a, a + 4}, {b, b + 4}};  // the page number; the type stays
    }
    case BtDamageCutAtPage:
      *size = page;
      return {};
    case BtDamageCutInPage:
      *size = page + c.Arg;
      return {};
    default: {
      // Free-chain damage: one 4-byte link in one free slot.
      return {{0, UINT64_MAX}};
    }
  }
}

TEST(BuilderDamage, EachDamageChangesExactlyTheBytesItNames) {
  TempDir dir;
  for (const DamageCase& c : Cases) {
    SCOPED_TRACE(c.Name);
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, c.Version, 1024);
    spec.Records = 400;
    spec.FreeEvery = 9;
    spec.PartSize = 16384;  // several parts, so that damage also lands in later parts
    BtBuildResult clean, damaged;
    std::string a = dir.Path("A.DAT"), b = dir.Path("B.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, a.c_str(), &clean)) << clean.Error;
    spec.DamageCount = 1;
    spec.Damage[0] = {c.Kind, c.Target, c.Value, c.Arg};
    ASSERT_EQ(1, BtBuildFileSet(&spec, b.c_str(), &damaged)) << damaged.Error;
    std::vector<uint8_t> x = ReadSet(a), y = ReadSet(b);
    ASSERT_GT(clean.Parts, 1);
    uint64_t size = 0;
    std::vector<Range> allowed = Expected(c, clean, &size);
    ASSERT_EQ(size, y.size());
    EXPECT_EQ(damaged.FileSize, y.size());
    size_t changed = 0, first = SIZE_MAX, last = 0;
    for (size_t k = 0; k < y.size(); ++k) {
      if (x[k] == y[k]) continue;
      ++changed;
      if (first == SIZE_MAX) first = k;
      last = k;
      bool inside = false;
      for (const Range& range : allowed) inside |= k >= range.Start && k < range.End;
      ASSERT_TRUE(inside) << "byte " << k << " changed";
    }
    if (c.Kind == BtDamageCutAtPage || c.Kind == BtDamageCutInPage) {
      EXPECT_EQ(0u, changed);
    } else {
      EXPECT_GT(changed, 0u);
    }
    if (c.Kind == BtDamageZeroPage) {
      for (size_t k = size_t(allowed[0].Start); k < allowed[0].End; ++k) ASSERT_EQ(0, y[k]);
    }
    if (c.Kind == BtDamagePatPastEnd) {
      // The entry now names a page past the end of the file set.
      uint32_t page = c.Version < 0x0800 ? (((uint32_t)y[allowed[0].Start] << 16) |
                                            Le16(y, allowed[0].Start + 2))
                                         : Le32(y, allowed[0].Start);
      EXPECT_GE(uint64_t(page) * 1024, y.size());
    }
    if (c.Kind == BtDamageFreeChainLoop || c.Kind == BtDamageFreeChainOut) {
      EXPECT_LE(last - first, 3u);  // one link
      // Follow the chain from the FCR: the loop comes back, the other leaves.
      uint32_t at = Hwf32(y, 0x10);
      std::vector<bool> seen(y.size(), false);
      bool looped = false, left = false;
      for (int steps = 0; steps < 100000 && at != 0xFFFFFFFFu; ++steps) {
        if (at + 4 > y.size()) {
          left = true;
          break;
        }
        if (seen[at]) {
          looped = true;
          break;
        }
        seen[at] = true;
        at = Hwf32(y, at);
      }
      EXPECT_EQ(c.Kind == BtDamageFreeChainLoop, looped);
      EXPECT_EQ(c.Kind == BtDamageFreeChainOut, left);
    }
    BtFreeBuildResult(&clean);
    BtFreeBuildResult(&damaged);
  }
}

TEST(BuilderDamage, DamageThatDoesNotFitTheFileIsRefused) {
  TempDir dir;
  struct Refused {
    uint16_t Version;
    BtDamage Damage;
    int Variable;
  } cases[] = {
      {0x0400, {BtDamagePatPastEnd, BtTargetDataPage, 0, 0}, 0},      // no PAT below 6.00
      {0x0400, {BtDamageHeaderType, BtTargetDataPage, 0, 0}, 0},      // no page type below 6.00
      {0x0950, {BtDamageFreeChainLoop, 0, 0, 0}, 0},                  // no chain from 6.00
      {0x0400, {BtDamageZeroPage, BtTargetRecordPage, 999999, 0}, 0}, // no such record
      {0x0600, {BtDamageVariableLoop, BtTargetRecordPage, 3, 0}, 0},  // no variable parts
  };
  for (const Refused& c : cases) {
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, c.Version, 1024);
    spec.FreeEvery = 3;
    spec.DamageCount = 1;
    spec.Damage[0] = c.Damage;
    BtBuildResult result;
    EXPECT_EQ(0, BtBuildFileSet(&spec, dir.Path("R.DAT").c_str(), &result));
    EXPECT_NE('\0', result.Error[0]);
    BtFreeBuildResult(&result);
  }
}

// Variable-part damage: the broken pointer leaves the file, the loop comes
// back to the record's first fragment; nothing else changes.
TEST(BuilderDamage, VariableChainsBreakOrLoopAtTheNamedRecord) {
  TempDir dir;
  for (int kind : {BtDamageVariableBroken, BtDamageVariableLoop}) {
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, 0x0600, 1024);
    spec.Records = 30;
    spec.Variable = 1;
    spec.VariableLength = 700;
    spec.FragmentSize = 300;
    BtBuildResult clean, damaged;
    std::string a = dir.Path("A.DAT"), b = dir.Path("B.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, a.c_str(), &clean));
    spec.DamageCount = 1;
    spec.Damage[0] = {kind, BtTargetRecordPage, 17, 0};
    ASSERT_EQ(1, BtBuildFileSet(&spec, b.c_str(), &damaged)) << damaged.Error;
    std::vector<uint8_t> x = ReadWhole(a), y = ReadWhole(b);
    ASSERT_EQ(x.size(), y.size());
    BtRecordPlace place;
    ASSERT_EQ(1, BtRecordPlaceOf(&clean, 17, &place));
    uint64_t pointer = place.SlotOffset + 2 + spec.RecordLength;
    std::vector<size_t> diffs;
    for (size_t k = 0; k < y.size(); ++k)
      if (x[k] != y[k]) diffs.push_back(k);
    ASSERT_FALSE(diffs.empty());
    EXPECT_LE(diffs.back() - diffs.front(), 3u);
    const uint8_t* link = &y[pointer];
    uint32_t page = (uint32_t(link[0]) << 16) | (uint32_t(link[2]) << 8) | link[1];
    if (kind == BtDamageVariableBroken) {
      EXPECT_GE(diffs.front(), pointer);
      EXPECT_LT(diffs.back(), pointer + 4);
      EXPECT_GT(page, damaged.LogicalPages);
    } else {
      // The changed link is the last fragment's (FFFFFFFF before), and it
      // now names the record's first fragment, as the slot does.
      size_t at = diffs.front();
      EXPECT_EQ(0xFFFFFFFFu, GetLE32(&x[at]));
      EXPECT_EQ(0, std::memcmp(&y[at], link, 4));
    }
    BtFreeBuildResult(&clean);
    BtFreeBuildResult(&damaged);
  }
}

}  // namespace
