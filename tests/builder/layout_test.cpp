// Files written by the builder hold the documented bytes at the documented
// offsets (docs/format.md). The expected offsets are written out here as
// literals, one row per version, and the files are read back with plain file
// reads, not with the builder's own code.
#include <cstring>
#include <map>

#include "BuilderTestKit.h"
#include "tools/btbuild/BtBuild.h"

using namespace bttest;

namespace {

struct VersionRow {
  uint16_t Version;
  bool Fc;              // "FC" form (version word at 74) or zero form (at 6)
  int UsageAt;          // -1: one FCR page
  size_t SizeByteAt;
  uint32_t FcrPage;     // with 4096-byte pages
  uint64_t Pair1;       // offset of PAT pair 1 (0: no PAT)
  uint32_t EntryStart;
  uint32_t EntrySize;
  uint32_t RecordBase;
  int BitsAt;           // -1: none
  uint32_t FirstData;   // physical page of the first data page
  size_t KeySpecs;
  bool PlainPageCount;
};

const VersionRow Rows[] = {
    {0x0300, false, -1, 9, 4096, 0, 0, 0, 6, -1, 2, 0x110, false},
    {0x0400, false, -1, 9, 4096, 0, 0, 0, 6, -1, 2, 0x110, false},
    {0x0500, false, -1, 9, 4096, 0, 0, 0, 6, -1, 2, 0x110, false},
    {0x0600, true, 4, 9, 4096, 8192, 8, 4, 6, -1, 5, 0x110, false},
    {0x0610, true, 4, 9, 4096, 8192, 8, 4, 6, -1, 5, 0x110, false},
    {0x0620, true, 4, 9, 4096, 8192, 8, 4, 6, -1, 5, 0x110, false},
    {0x0700, true, 4, 9, 4096, 8192, 8, 4, 6, -1, 5, 0x110, false},
    {0x0800, true, 6, 43, 8192, 32768, 20, 6, 8, 351, 13, 0x1B0, false},
    {0x0900, true, 6, 43, 8192, 32768, 20, 6, 8, 351, 13, 0x1B0, false},
    {0x0950, true, 8, 43, 8192, 32768, 16, 8, 10, 351, 13, 0x1B0, false},
    {0x0D00, true, 8, 43, 8192, 32768, 16, 8, 10, 419, 13, 0x1B0, true},
    {0x0D30, true, 8, 43, 8192, 32768, 16, 8, 10, 419, 13, 0x1B0, true},
};

// Decodes PAT entry index of a PAT page at page (physical page, type).
void PatEntry(const VersionRow& row, const std::vector<uint8_t>& f, uint64_t page, uint32_t index,
              uint32_t* physical, uint32_t* type) {
  size_t at = size_t(page + row.EntryStart + uint64_t(index) * row.EntrySize);
  if (row.EntrySize == 4) {
    uint32_t v = Hwf32(f, at);
    *physical = v & 0xFFFFFF;
    *type = v >> 24;
  } else {
    *physical = Le32(f, at);
    *type = Le16(f, at + 4);
  }
}

TEST(BuilderLayout, EveryVersionHoldsItsFieldsAtTheDocumentedOffsets) {
  TempDir dir;
  for (const VersionRow& row : Rows) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << row.Version);
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, row.Version, 4096);
    spec.Records = 100;
    spec.RecordLength = 50;
    BtBuildResult result;
    std::string path = dir.Path("L.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
    std::vector<uint8_t> f = ReadWhole(path);
    bool v6 = row.Version >= 0x0600;
    uint32_t prefix = v6 ? 2 : 0;
    uint32_t prl = 50 + prefix;
    uint32_t spp = (4096 - row.RecordBase) / prl;

    // FCR: signature, version word, usage counts, page-size byte.
    ASSERT_GE(f.size(), size_t(4 * 4096));
    if (row.Fc) {
      EXPECT_EQ('F', f[0]);
      EXPECT_EQ('C', f[1]);
      EXPECT_EQ(row.Version, Le16(f, 74));
    } else {
      EXPECT_EQ(0u, Le32(f, 0));
      EXPECT_EQ(row.Version, Le16(f, 6));
    }
    if (row.UsageAt >= 0) {
      EXPECT_EQ(1u, Le32(f, row.UsageAt));
      EXPECT_EQ(2u, Le32(f, row.FcrPage + row.UsageAt));
    }
    EXPECT_EQ(16, f[row.SizeByteAt]);
    EXPECT_EQ(prl, Le16(f, 24));
    EXPECT_EQ(1, Le16(f, 0x14));
    EXPECT_EQ(50, Le16(f, 0x16));
    EXPECT_EQ(100u, Hwf32(f, 0x1A));
    // 100 records need two data pages: pages 0 (FCR), index, two data pages.
    uint32_t pages = row.PlainPageCount ? Le32(f, 38) : Hwf32(f, 38);
    EXPECT_EQ(4u, pages);
    if (!v6) {
      EXPECT_EQ(f.size() / 4096, pages);
    }
    if (row.BitsAt >= 0) {
      EXPECT_EQ(7, f[row.BitsAt]);  // 78 slots a page
    }

    // Key 0: a 4-byte integer at 0 of the record.
    size_t spec0 = row.KeySpecs;
    if (v6) {
      uint16_t table = Le16(f, 0x78);
      EXPECT_EQ(row.FcrPage - 240, table);
      EXPECT_EQ(row.KeySpecs, Le16(f, table));
    }
    EXPECT_EQ(prefix, Le16(f, spec0 + 0x14));
    EXPECT_EQ(4, Le16(f, spec0 + 0x16));
    EXPECT_EQ(1, f[spec0 + 0x1C]);

    // PAT pair 1: both pages identified alike, copy 1 current, logical page 1
    // the index page of key 0, logical 2 the first data page.
    if (v6) {
      uint64_t p0 = row.Pair1, p1 = row.Pair1 + row.FcrPage;
      EXPECT_EQ('P', f[p0]);
      EXPECT_EQ('P', f[p0 + 1]);
      EXPECT_EQ(0, std::memcmp(&f[p0], &f[p1], row.UsageAt));
      EXPECT_EQ(1u, Le32(f, p0 + row.UsageAt));
      EXPECT_EQ(2u, Le32(f, p1 + row.UsageAt));
      uint32_t physical = 0, type = 0;
      PatEntry(row, f, p1, 0, &physical, &type);
      EXPECT_EQ(0x80u, type);
      EXPECT_EQ(row.FirstData - 1, physical);
      PatEntry(row, f, p1, 1, &physical, &type);
      EXPECT_EQ(uint32_t('D'), type);
      EXPECT_EQ(row.FirstData, physical);
      PatEntry(row, f, p1, 3, &physical, &type);
      EXPECT_EQ(0u, physical);  // no logical page 4
      EXPECT_EQ(0u, type);
    } else {
      // The index page: its own number, usage word without the data bit.
      EXPECT_EQ(1u, Hwf32(f, 4096));
      EXPECT_EQ(0, Le16(f, 4096 + 4) & 0x8000);
    }

    // The first data page: header, usage word, slots.
    size_t page = size_t(row.FirstData) * 4096;
    if (!v6) {
      EXPECT_EQ(row.FirstData, Hwf32(f, page));
    } else if (row.Version < 0x0800) {
      EXPECT_EQ(0, f[page]);
      EXPECT_EQ('D', f[page + 1]);
      EXPECT_EQ(2, Le16(f, page + 2));
    } else {
      EXPECT_EQ(2u, Le32(f, page));
      EXPECT_EQ('D', f[page + 4]);
      for (size_t k = 5; k < row.RecordBase - 2; ++k) EXPECT_EQ(0, f[page + k]);
    }
    EXPECT_EQ(0x8000, Le16(f, page + row.RecordBase - 2) & 0x8000);
    for (uint32_t slot = 0; slot < 2; ++slot) {
      size_t at = page + row.RecordBase + slot * prl;
      if (v6) {
        EXPECT_EQ(1, Le16(f, at));
      }
      EXPECT_EQ(slot, Le32(f, at + prefix));                      // key value = record index
      EXPECT_EQ(uint8_t(slot * 7 + 4), f[at + prefix + 4]);       // the pattern after the key
      EXPECT_EQ(uint8_t(slot * 7 + 49), f[at + prefix + 49]);
    }
    // The second data page holds the rest; the slot after the last record is
    // empty.
    size_t second = size_t(v6 ? result.LogicalToPhysical[3] : row.FirstData + 1) * 4096;
    uint32_t inSecond = 100 - spp;
    size_t after = second + row.RecordBase + inSecond * prl;
    for (size_t k = 0; k < prl; ++k) ASSERT_EQ(0, f[after + k]) << k;
    size_t last = after - prl;
    EXPECT_EQ(99u, Le32(f, last + prefix));
    if (!v6) {
      EXPECT_EQ(0xFFFFFFFFu, Le32(f, 0x10));
      EXPECT_EQ(row.FirstData + 1, Le16(f, 0x20));
      EXPECT_EQ(4096 - 6 - inSecond * prl, Le16(f, 0x2A));
    }
    BtFreeBuildResult(&result);
  }
}

// Free slots: 3.x-5.x chain them from FCR 0x10 by physical offset, high word
// first; 6.x on mark them with a usage count of 0. Either way the live slots
// equal the record count and hold the records in order.
TEST(BuilderLayout, FreeSlotsAreChainedOrMarkedAndLiveSlotsHoldTheRecords) {
  TempDir dir;
  for (uint16_t version : {0x0400, 0x0600, 0x0950}) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << version);
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, version, 1024);
    spec.Records = 500;
    spec.FreeEvery = 4;
    BtBuildResult result;
    std::string path = dir.Path("F.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
    std::vector<uint8_t> f = ReadWhole(path);
    bool v6 = version >= 0x0600;
    uint32_t base = version >= 0x0950 ? 10 : 6;
    uint32_t prl = Le16(f, 24);
    uint32_t spp = (1024 - base) / prl;
    std::map<uint64_t, bool> chained;
    if (!v6) {
      uint32_t link = Hwf32(f, 0x10);
      while (link != 0xFFFFFFFFu) {
        ASSERT_LT(link + 4, f.size());
        ASSERT_FALSE(chained[link]) << "the chain loops";
        chained[link] = true;
        link = Hwf32(f, link);
      }
    }
    uint32_t live = 0, free = 0;
    for (uint32_t d = 0; d < result.DataPages; ++d) {
      uint32_t physical = 0;
      ASSERT_EQ(1, BtDataPagePhysical(&result, d, &physical));
      for (uint32_t s = 0; s < spp; ++s) {
        uint64_t at = uint64_t(physical) * 1024 + base + s * prl;
        bool isFree = v6 ? Le16(f, at) == 0 : chained.count(at) > 0;
        bool never = !v6 && d + 1 == result.DataPages &&
                     s >= (1024 - 6 - Le16(f, 0x2A)) / prl;
        if (v6 && isFree) {
          for (uint32_t k = 0; k < prl; ++k) ASSERT_EQ(0, f[at + k]);
          if (live == 500) continue;  // the unused rest of the last page
        }
        if (isFree) {
          ++free;
        } else if (!never) {
          EXPECT_EQ(live, Le32(f, at + (v6 ? 2 : 0))) << "page " << d << " slot " << s;
          ++live;
        }
      }
    }
    EXPECT_EQ(500u, live);
    EXPECT_EQ(Hwf32(f, 0x1A), live);
    EXPECT_EQ(result.FreeSlots, free);
    EXPECT_EQ(166u, free);  // every 4th slot up to the last record: 500 / 3
    BtFreeBuildResult(&result);
  }
}

// Variable parts followed by hand through the slot pointer and the fragment
// tables at the end of the variable pages reassemble to the expected bytes.
TEST(BuilderLayout, VariablePartsReassembleThroughTheFragmentChains) {
  TempDir dir;
  for (uint16_t version : {0x0400, 0x0600}) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << version);
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, version, 1024);
    spec.Records = 40;
    spec.RecordLength = 20;
    spec.Variable = 1;
    spec.VariableLength = 900;
    spec.FragmentSize = 250;
    BtBuildResult result;
    std::string path = dir.Path("V.DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
    std::vector<uint8_t> f = ReadWhole(path);
    bool v6 = version >= 0x0600;
    EXPECT_EQ(0xFF, f[0x38]);
    EXPECT_EQ(1, Le16(f, 0x106) & 1);
    uint32_t prl = Le16(f, 24);
    EXPECT_EQ((v6 ? 2u : 0u) + 20 + 4, prl);
    auto physicalOf = [&](uint32_t page) -> uint64_t {
      if (!v6) return page;
      // Pair 1 at pages 2 and 3; the copy at page 3 is current.
      uint32_t v = Hwf32(f, 3 * 1024 + 8 + 4 * (page - 1));
      EXPECT_EQ(uint32_t('V'), v >> 24);
      return v & 0xFFFFFF;
    };
    for (uint32_t i = 0; i < 40; ++i) {
      BtRecordPlace place;
      ASSERT_EQ(1, BtRecordPlaceOf(&result, i, &place));
      const uint8_t* link = &f[place.SlotOffset + (v6 ? 2 : 0) + 20];
      std::vector<uint8_t> part;
      for (int hops = 0; GetLE32(link) != 0xFFFFFFFFu; ++hops) {
        ASSERT_LT(hops, 10);
        uint32_t page = (uint32_t(link[0]) << 16) | (uint32_t(link[2]) << 8) | link[1];
        uint32_t n = link[3];
        size_t p = size_t(physicalOf(page)) * 1024;
        uint16_t entry = Le16(f, p + 1024 - 2 * (n + 1));
        ASSERT_NE(0xFFFF, entry);
        EXPECT_EQ(v6 ? 0 : 0x8000, entry & 0x8000);
        uint32_t start = entry & 0x7FFF;
        uint32_t end = Le16(f, p + 1024 - 2 * (n + 2)) & 0x7FFF;  // next entry: the next start
        ASSERT_LT(start + 4, end);
        part.insert(part.end(), &f[p + start + 4], &f[p + end]);
        link = &f[p + start];
      }
      ASSERT_EQ(900u, part.size()) << i;
      for (uint32_t j = 0; j < 900; ++j) ASSERT_EQ(uint8_t(i + j * 3), part[j]) << i << " " << j;
    }
    BtFreeBuildResult(&result);
  }
}

// The builder's 6.00 and 4.00 files are laid out the way the real files are.
TEST(BuilderLayout, SixAndFourLookLikeTheRealSamples) {
  std::string samples = HALVORN_SAMPLES_DIR;
  if (!std::filesystem::exists(samples + "/GALTELA.DAT") || !std::filesystem::exists(samples + "/MBBSEMU.DAT"))
    GTEST_SKIP() << "real sample files not found in " << samples;
  TempDir dir;
  std::vector<uint8_t> real6 = ReadWhole(samples + "/GALTELA.DAT");
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, 0x0600, 4096);
  spec.Records = 73;
  spec.RecordLength = 950;
  // Three keys as GALTELA.DAT has them: key 0 of two segments, keys 1 and 2
  // with duplicates (8 bytes of slot overhead each).
  spec.SegmentCount = 4;
  spec.Segments[0] = {0, 16, 11, 0x0010, 0};
  spec.Segments[1] = {16, 16, 11, 0, 0};
  spec.Segments[2] = {32, 4, 1, 0x0001, 0};
  spec.Segments[3] = {36, 4, 1, 0x0001, 0};
  BtBuildResult result;
  std::string path = dir.Path("G.DAT");
  ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
  std::vector<uint8_t> ours6 = ReadWhole(path);
  for (const std::vector<uint8_t>* f : {&real6, &ours6}) {
    SCOPED_TRACE(f == &real6 ? "GALTELA.DAT" : "builder");
    const std::vector<uint8_t>& b = *f;
    EXPECT_EQ(0, std::memcmp(b.data(), "FC\0\0", 4));
    EXPECT_EQ(0x0600, Le16(b, 74));
    EXPECT_EQ(0x10, b[9]);
    EXPECT_EQ(968, Le16(b, 24));
    EXPECT_EQ(73u, Hwf32(b, 4096 + 0x1A));  // in the current copy
    EXPECT_EQ(0x0F10, Le16(b, 0x78));
    EXPECT_EQ(0x0110, Le16(b, 0x0F10));        // key 0: two segments from 0x110
    EXPECT_EQ(0x0110 + 60, Le16(b, 0x0F12));   // key 1 after them
    EXPECT_EQ(0x0110 + 90, Le16(b, 0x0F14));
    EXPECT_EQ(0x0010, Le16(b, 0x110 + 8) & 0x0010);
    EXPECT_EQ(2, Le16(b, 0x110 + 0x14));       // record offset 0 stored as 2
    EXPECT_EQ(18, Le16(b, 0x12E + 0x14));
    EXPECT_EQ(952, Le16(b, 0x72));             // duplicate pointers after usage count + record
    EXPECT_EQ(0, std::memcmp(&b[8192], "PP\1\0", 4));
    EXPECT_EQ(0, std::memcmp(&b[12288], "PP\1\0", 4));
    EXPECT_LT(Le32(b, 4), Le32(b, 4096 + 4));  // the second FCR current
    EXPECT_LE(Le32(b, 8192 + 4), Le32(b, 12288 + 4));
    // Every 'D' entry of the current PAT copy leads to a page that carries its
    // own logical number and 'D', with the data bit, and used slots counted 1.
    uint32_t logicalPages = Hwf32(b, 4096 + 38);
    int dataPages = 0;
    for (uint32_t l = 1; l < logicalPages; ++l) {
      uint32_t v = Hwf32(b, 12288 + 8 + 4 * (l - 1));
      if ((v >> 24) != 'D') continue;
      ++dataPages;
      size_t p = size_t(v & 0xFFFFFF) * 4096;
      EXPECT_EQ(l, (uint32_t(b[p]) << 16) | Le16(b, p + 2));
      EXPECT_EQ('D', b[p + 1]);
      EXPECT_EQ(0x8000, Le16(b, p + 4) & 0x8000);
      for (uint32_t s = 0; s < 4; ++s) EXPECT_LE(Le16(b, p + 6 + s * 968), 1);
    }
    EXPECT_GT(dataPages, 0);
  }
  BtFreeBuildResult(&result);

  std::vector<uint8_t> real4 = ReadWhole(samples + "/MBBSEMU.DAT");
  BtDefaultDataSpec(&spec, 0x0400, 512);
  spec.Records = 4;
  spec.RecordLength = 74;
  spec.SegmentCount = 4;
  spec.Segments[0] = {2, 32, 11, 0x0001, 0};
  spec.Segments[1] = {34, 4, 1, 0, 0};
  spec.Segments[2] = {38, 32, 11, 0x0001, 0};
  spec.Segments[3] = {70, 4, 15, 0, 0};
  path = dir.Path("M.DAT");
  ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
  std::vector<uint8_t> ours4 = ReadWhole(path);
  for (const std::vector<uint8_t>* f : {&real4, &ours4}) {
    SCOPED_TRACE(f == &real4 ? "MBBSEMU.DAT" : "builder");
    const std::vector<uint8_t>& b = *f;
    EXPECT_EQ(0u, Le32(b, 0));
    EXPECT_EQ(0x0400, Le16(b, 6));
    EXPECT_EQ(2, b[9]);
    EXPECT_EQ(4, Le16(b, 0x14));
    EXPECT_EQ(90, Le16(b, 24));  // 74 + two keys with duplicates
    EXPECT_EQ(b.size() / 512, Hwf32(b, 38));
    EXPECT_EQ(2, Le16(b, 0x110 + 0x14));  // key 0 at record offset 2, stored as is
    EXPECT_EQ(0xFFFFFFFFu, Le32(b, 0x10));
    // Every page carries its own number; the page being filled is a data page
    // whose used slots are what 0x2A leaves, and those are all the records.
    for (size_t p = 1; p < b.size() / 512; ++p) EXPECT_EQ(p, Hwf32(b, p * 512));
    uint32_t filling = Le16(b, 0x20);
    EXPECT_EQ(0x8000, Le16(b, filling * 512 + 4) & 0x8000);
    EXPECT_EQ(4u, (512u - 6 - Le16(b, 0x2A)) / 90);
  }
  BtFreeBuildResult(&result);
}

// Variable pages of the builder's 6.00 files have the structure of the real
// WGSMENU2.DAT: type 'V' and their own number, no data bit, the count of
// fragment entries at 10, the first fragment at 12, the table growing down
// from the page end with one more entry where free space begins and a zero
// word below it; every slot's pointer leads to such a page.
TEST(BuilderLayout, VariablePagesLookLikeTheRealSample) {
  std::string samples = HALVORN_SAMPLES_DIR;
  if (!std::filesystem::exists(samples + "/WGSMENU2.DAT"))
    GTEST_SKIP() << "real sample files not found in " << samples;
  TempDir dir;
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, 0x0600, 4096);
  spec.Records = 46;
  spec.RecordLength = 448;
  spec.Variable = 1;
  spec.VariableLength = 300;
  spec.SegmentCount = 1;
  spec.Segments[0] = {0, 17, 11, 0, 0};
  BtBuildResult result;
  std::string path = dir.Path("W.DAT");
  ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &result)) << result.Error;
  std::vector<uint8_t> real = ReadWhole(samples + "/WGSMENU2.DAT"), ours = ReadWhole(path);
  for (const std::vector<uint8_t>* f : {&real, &ours}) {
    SCOPED_TRACE(f == &real ? "WGSMENU2.DAT" : "builder");
    const std::vector<uint8_t>& b = *f;
    EXPECT_EQ(0xFF, b[4096 + 0x38]);
    EXPECT_EQ(454, Le16(b, 4096 + 24));  // usage count, 448 bytes, the 4-byte pointer
    uint32_t logicalPages = Hwf32(b, 4096 + 38);
    std::map<uint32_t, size_t> variablePages;
    for (uint32_t l = 1; l < logicalPages; ++l) {
      uint32_t v = Hwf32(b, 12288 + 8 + 4 * (l - 1));
      if ((v >> 24) == 'V') variablePages[l] = size_t(v & 0xFFFFFF) * 4096;
    }
    ASSERT_FALSE(variablePages.empty());
    for (const auto& [logical, p] : variablePages) {
      EXPECT_EQ(logical, (uint32_t(b[p]) << 16) | Le16(b, p + 2));
      EXPECT_EQ('V', b[p + 1]);
      EXPECT_EQ(0, Le16(b, p + 4) & 0x8000);
      uint32_t count = Le16(b, p + 10);
      ASSERT_GT(count, 0u);
      EXPECT_EQ(12, Le16(b, p + 4096 - 2));
      uint32_t previous = 0;
      for (uint32_t n = 0; n <= count; ++n) {
        uint32_t entry = Le16(b, p + 4096 - 2 * (n + 1));
        EXPECT_GT(entry, previous) << n;
        previous = entry;
      }
      EXPECT_EQ(0, Le16(b, p + 4096 - 2 * (count + 2)));
    }
    // The slots of the data pages point at fragments of those pages.
    uint32_t pointers = 0;
    for (uint32_t l = 1; l < logicalPages; ++l) {
      uint32_t v = Hwf32(b, 12288 + 8 + 4 * (l - 1));
      if ((v >> 24) != 'D') continue;
      size_t p = size_t(v & 0xFFFFFF) * 4096;
      for (uint32_t s = 0; s < (4096 - 6) / 454; ++s) {
        size_t slot = p + 6 + s * 454;
        if (Le16(b, slot) == 0) continue;
        const uint8_t* link = &b[slot + 2 + 448];
        if (GetLE32(link) == 0xFFFFFFFFu) continue;
        uint32_t page = (uint32_t(link[0]) << 16) | (uint32_t(link[2]) << 8) | link[1];
        ASSERT_EQ(1u, variablePages.count(page)) << "slot " << s << " of logical page " << l;
        EXPECT_LT(link[3], Le16(b, variablePages[page] + 10));
        ++pointers;
      }
    }
    EXPECT_GT(pointers, 0u);
  }
  BtFreeBuildResult(&result);
}

}  // namespace
