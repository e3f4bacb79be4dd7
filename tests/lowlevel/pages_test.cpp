// Page and record reading: the record lookup in a data page, the expansion of
// compressed records, page and header reads by logical and physical number,
// the header table with its progress, the misc-data record of every FCR
// layout, the second control pair, the delta file, reads within one part,
// the hex dump, the banner and record addresses.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Common/LittleEndian.h"
#include "TestFiles.h"

using namespace lltest;

namespace {

// ------------------------------------------------------------ small file sets
//
// A file set of one version and page size: both FCR copies (copy 0 current),
// PAT pair 1 from 6.0 on (copy 1 in force) and room for `pages` pages. Data
// pages are mapped and filled by the helpers below.

Image MakeSet(const Layout& l, uint32_t pages)
{
  Image img(static_cast<size_t>(pages) * l.physicalPageSize, 0);
  uint8_t sizeByte = static_cast<uint8_t>(l.pageSize / 256);
  PutFcr(img, 0, l.version, sizeByte, 1);
  if (l.version >= 0x0600)
    PutFcr(img, l.fcrPageSize, l.version, sizeByte, 0);
  if (l.physicalPageSize != l.pageSize) {
    for (uint32_t copy = 0; copy < 2; copy++) {
      size_t at = copy * l.fcrPageSize;
      Put16(img, at + (l.version == 0x0950 ? 400 : 156), 0x2000);
      Put16(img, at + 80, l.physicalPageSize);
    }
  }
  if (l.version >= 0x0600) {
    for (uint32_t copy = 0; copy < 2; copy++) {
      size_t at = l.pat1 + copy * l.fcrPageSize;
      Put8(img, at, 'P');
      Put8(img, at + 1, 'P');
      Put32(img, at + l.usageAt, copy + 1);
    }
  }
  return img;
}

// Maps a logical page to a physical page in both copies of PAT pair 1.
void MapPage(Image& img, const Layout& l, uint32_t logical, uint32_t physical,
             uint8_t extra = 'D', uint16_t span = 1)
{
  for (uint32_t copy = 0; copy < 2; copy++) {
    size_t at = l.pat1 + copy * l.fcrPageSize + l.entryAt + l.entrySize * (logical - 1);
    if (l.version < 0x0800) {
      PutHighFirst32(img, at, physical | (static_cast<uint32_t>(extra) << 24));
    } else {
      Put32(img, at, physical);
      Put16(img, at + 4, extra);
      if (l.entrySize == 8)
        Put16(img, at + 6, span);
    }
  }
}

size_t PageAt(const Layout& l, uint32_t physical)
{
  return static_cast<size_t>(physical) * l.physicalPageSize;
}

// A data page at a physical page: LastSlot and the offset table (slot 0 in
// the last two bytes), with each record's bytes filled with its slot number
// plus 0x40.
void PutDataPage(Image& img, const Layout& l, uint32_t physical, uint16_t lastSlot,
                 const std::vector<uint16_t>& table)
{
  size_t page = PageAt(l, physical);
  Grow(img, page + l.pageSize);
  for (size_t s = 0; s + 1 < table.size(); s++) {
    if (table[s] == 0xFFFF)
      continue;
    uint16_t end = 0xFFFF;
    for (size_t t = s + 1; end == 0xFFFF && t < table.size(); t++)
      end = table[t];
    for (uint32_t b = table[s]; b < end && b < l.pageSize; b++)
      img[page + b] = static_cast<uint8_t>(0x40 + s);
  }
  Put16(img, page + l.lastSlotAt, lastSlot);
  for (size_t s = 0; s < table.size(); s++)
    Put16(img, page + l.pageSize - 2 - 2 * s, table[s]);
}

class PagesTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override
  {
    LLFreeHeaderCache();
    ResetLibrary();
  }
  std::string Open(const Image& img, const std::string& name = "DATA.DAT")
  {
    std::string path = dir.Path(name);
    EXPECT_TRUE(WriteImage(path, img));
    EXPECT_NE(0, QuietOpen(path));
    return path;
  }
  TempDir dir;
};

// ------------------------------------------------------------ record lookup

struct FindCase {
  const char* what;
  uint16_t lastSlot;
  std::vector<uint16_t> table;  // slot 0 first
  uint16_t slot;
  int ok;
  uint16_t offset;
  uint16_t length;
};

TEST_F(PagesTest, FindRecordTable)
{
  const uint16_t E = 0xFFFF;
  const FindCase cases[] = {
      {"first slot", 3, {100, 150, E, 200, 260}, 0, 1, 100, 50},
      {"empty entries skipped", 3, {100, 150, E, 200, 260}, 1, 1, 150, 50},
      {"slot equal to LastSlot", 3, {100, 150, E, 200, 260}, 3, 1, 200, 60},
      {"slot one past LastSlot", 3, {100, 150, E, 200, 260, 300}, 4, 0, 0, 0},
      {"empty slot", 3, {100, 150, E, 200, 260}, 2, 0, 0, 0},
      {"record ending at the end of the page", 0, {1014, 1024}, 0, 1, 1014, 10},
      {"offset equal to PageSize passes its test, the record leaves the page", 0,
       {1024, 1030}, 0, 0, 0, 0},
      {"offset one above PageSize", 0, {1025, 1030}, 0, 0, 0, 0},
      {"zero-length record", 1, {100, 100, 200}, 0, 0, 0, 0},
      {"next record before this one", 1, {200, 100}, 0, 0, 0, 0},
      {"record passing the end of the page", 0, {1000, 1100}, 0, 0, 0, 0},
      {"slot entry before the page start", E, {100, 200}, 600, 0, 0, 0},
  };
  Layout l = LayoutFor(0x0950, 1024);
  LLFileState.FileVersion = l.version;
  LLFileState.PageSize = l.pageSize;
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.what);
    Image img(2048, 0);
    PutDataPage(img, l, 0, c.lastSlot, c.table);
    uint16_t offset = 77, length = 77;
    EXPECT_EQ(c.ok, LLFindRecord(img.data(), c.slot, &offset, &length));
    EXPECT_EQ(c.offset, offset);
    EXPECT_EQ(c.length, length);
  }
}

TEST_F(PagesTest, FindRecordWalkStopsAtThePageStart)
{
  // Every entry but slot 0's is empty, LastSlot too: the walk reaches the
  // start of the page without an end for the record.
  LLFileState.FileVersion = 0x0950;
  LLFileState.PageSize = 1024;
  Image page(1024, 0xFF);
  page[1022] = 100;
  page[1023] = 0;
  uint16_t offset = 1, length = 1;
  EXPECT_EQ(0, LLFindRecord(page.data(), 0, &offset, &length));
  EXPECT_EQ(0, offset);
  EXPECT_EQ(0, length);
}

TEST_F(PagesTest, FindRecordLastSlotPositionByVersion)
{
  // LastSlot 5 at the version's position, 0 at the other two: slot 3 is found
  // only where the version's position is read.
  for (uint16_t version : {0x0600, 0x0700, 0x0800, 0x0900, 0x0950, 0x0D00}) {
    SCOPED_TRACE(version);
    Layout l = LayoutFor(version, 1024);
    Image img(1024, 0);
    PutDataPage(img, l, 0, 5, {100, 110, 120, 130, 140});
    LLFileState.FileVersion = version;
    LLFileState.PageSize = 1024;
    uint16_t offset = 0, length = 0;
    EXPECT_EQ(1, LLFindRecord(img.data(), 3, &offset, &length));
    EXPECT_EQ(130, offset);
    EXPECT_EQ(10, length);
    for (uint32_t other : {10u, 14u, 16u})
      if (other != l.lastSlotAt) {
        EXPECT_EQ(0, GetLE16(img.data() + other));
      }
  }
}

// ------------------------------------------------------------ expansion

struct ExpandCase {
  const char* what;
  uint8_t method;
  std::vector<uint8_t> source;
  uint32_t capacity;
  int ok;
  std::vector<uint8_t> out;  // bytes produced (length is its size)
};

TEST_F(PagesTest, ExpandRecordTable)
{
  const std::vector<uint8_t> example = {0x03, 0x00, 0x61, 0x62, 0x63, 0x02, 0x00, 0x78};
  const ExpandCase cases[] = {
      {"the example", 1, example, 16, 1, {0x61, 0x62, 0x63, 0x78, 0x78}},
      {"output filling the capacity exactly", 1, example, 5, 1, {0x61, 0x62, 0x63, 0x78, 0x78}},
      {"fill run one byte too long", 1, example, 4, 0, {0x61, 0x62, 0x63}},
      {"literal run too long", 1, example, 2, 0, {}},
      {"method 0", 0, example, 16, 1, {}},
      {"method 2", 2, example, 16, 0, {}},
      {"empty source", 1, {}, 16, 1, {}},
      {"source ending after a literal run", 1, {0x02, 0x00, 0x41, 0x42}, 16, 1, {0x41, 0x42}},
      {"empty groups", 1, {0x00, 0x00, 0x00, 0x00, 0x7A, 0x00, 0x00, 0x03, 0x00, 0x7A}, 16, 1,
       {0x7A, 0x7A, 0x7A}},
      {"count cut short", 1, {0x01, 0x00, 0x41, 0x01, 0x00, 0x42, 0x03}, 16, 0, {0x41, 0x42}},
      {"literal bytes missing", 1, {0x03, 0x00, 0x61}, 16, 0, {}},
      {"fill count without its byte", 1, {0x01, 0x00, 0x61, 0x02, 0x00}, 16, 0, {0x61}},
      {"fill count cut short", 1, {0x01, 0x00, 0x61, 0x02}, 16, 0, {0x61}},
  };
  for (const ExpandCase& c : cases) {
    SCOPED_TRACE(c.what);
    // The source sits in a buffer of exactly its size, so that a read past it
    // shows under the address sanitizer.
    std::vector<uint8_t> source(c.source);
    std::vector<uint8_t> dest(c.capacity, 0xEE);
    uint32_t length = c.capacity;
    EXPECT_EQ(c.ok, LLExpandRecord(c.method, source.empty() ? nullptr : source.data(),
                                   static_cast<uint32_t>(source.size()), dest.data(), &length));
    ASSERT_EQ(c.out.size(), length);
    EXPECT_EQ(c.out, std::vector<uint8_t>(dest.begin(), dest.begin() + length));
    if (c.method == 0) {
      EXPECT_EQ(std::vector<uint8_t>(c.capacity, 0xEE), dest);  // not touched
    }
  }
}

// ------------------------------------------------------------ pages and headers

TEST_F(PagesTest, PageReadsFollowThePat)
{
  Layout l = LayoutFor(0x0700, 1024);
  Image img = MakeSet(l, 16);
  MapPage(img, l, 3, 9);
  for (size_t b = 0; b < 1024; b++)
    img[PageAt(l, 9) + b] = static_cast<uint8_t>(b * 7);
  Open(img);
  std::vector<uint8_t> page(1024);
  ASSERT_EQ(1, LLReadLogicalPage(3, page.data()));
  EXPECT_EQ(0, memcmp(page.data(), img.data() + PageAt(l, 9), 1024));
  std::vector<uint8_t> two(2048);
  ASSERT_EQ(1, LLReadPhysicalPage(9, two.data(), 2));
  EXPECT_EQ(0, memcmp(two.data(), img.data() + PageAt(l, 9), 2048));
  EXPECT_EQ(0, LLReadPhysicalPage(15, two.data(), 2));  // runs past the end
  EXPECT_EQ(1, LLReadPagesAt(100, page.data(), 1));
  EXPECT_EQ(0, memcmp(page.data(), img.data() + 100, 1024));
}

TEST_F(PagesTest, CompressedLogicalPageReadsItsSpan)
{
  Layout l = LayoutFor(0x0950, 1024, 512);
  Image img = MakeSet(l, 80);
  MapPage(img, l, 1, 50, 'D', 3);
  MapPage(img, l, 2, 56, 'D', 40);  // 40 x 512 bytes: more than a page buffer
  for (size_t b = 0; b < 1536; b++)
    img[PageAt(l, 50) + b] = static_cast<uint8_t>(b + 1);
  PutDataPage(img, l, 56, 0, {100, 200});
  Open(img);
  ASSERT_EQ(1, LLFileState.PageCompressed);
  std::vector<uint8_t> page(1536 + 16, 0xEE);
  ASSERT_EQ(1, LLReadLogicalPage(1, page.data()));
  EXPECT_EQ(0, memcmp(page.data(), img.data() + PageAt(l, 50), 1536));
  EXPECT_EQ(0xEE, page[1536]);
  // The record read refuses a page that would overrun its 16384-byte buffer.
  std::vector<uint8_t> rec(1024);
  uint16_t length = 9;
  EXPECT_EQ(0, LLReadRecord(2, 0, rec.data(), &length));
  EXPECT_EQ(0, length);
}

TEST_F(PagesTest, HeaderReadsKeepTheBytesBetween)
{
  for (uint16_t version : {0x0600, 0x0700, 0x0800, 0x0950, 0x0D00}) {
    SCOPED_TRACE(version);
    ResetLibrary();
    Layout l = LayoutFor(version, 1024);
    Image img = MakeSet(l, 48);
    MapPage(img, l, 2, 30);
    for (size_t b = 0; b < 32; b++)
      img[PageAt(l, 30) + b] = static_cast<uint8_t>(0x10 + b);
    Open(img, "H" + std::to_string(version) + ".DAT");
    ASSERT_EQ(static_cast<int>(l.headerLength), LLFileState.PageHeaderLength);
    PageHeaderRecord h;
    memset(h.Bytes, 0xEE, sizeof h.Bytes);
    ASSERT_EQ(1, LLReadLogicalHeader(2, &h));
    for (uint32_t b = 0; b < 16; b++)
      EXPECT_EQ(b < l.headerLength ? 0x10 + b : 0xEE, h.Bytes[b]) << b;
    EXPECT_EQ(0x10 + l.headerLength, h.Bytes[16]);
    EXPECT_EQ(0x11 + l.headerLength, h.Bytes[17]);
    PageHeaderRecord p;
    memset(p.Bytes, 0xEE, sizeof p.Bytes);
    ASSERT_EQ(1, LLReadPhysicalHeader(30, &p));
    EXPECT_EQ(0, memcmp(h.Bytes, p.Bytes, sizeof h.Bytes));
    EXPECT_EQ(0, LLReadPhysicalHeader(48, &p));  // past the end
    LLCloseAll();
  }
}

TEST_F(PagesTest, PhysicalHeaderTrace)
{
  Layout l = LayoutFor(0x0700, 1024);
  Open(MakeSet(l, 16));
  LLFileState.Verbose = 1;
  PageHeaderRecord h;
  Capture cap;
  ASSERT_EQ(1, LLReadPhysicalHeader(7, &h));
  cap.Stop();
  EXPECT_EQ(0u, cap.Out().find("For Phys Page Number 0x00000007, calculated Large Offset "
                               "00000000:00001c00\n"))
      << cap.Out();
}

// ------------------------------------------------------------ header table

std::string Progress(uint32_t count)
{
  std::string s;
  char line[16];
  for (uint32_t p = 4; p < count; p++) {
    if (p % (count / 100) == 0) {
      snprintf(line, sizeof line, "%.3u%%\b\b\b\b", 100 * p / count);
      s += line;
    }
  }
  return s;
}

TEST_F(PagesTest, HeaderCacheOfAHundredPages)
{
  Layout l = LayoutFor(0x0700, 4096);
  Image img = MakeSet(l, 100);
  for (uint32_t p = 4; p < 100; p++) {
    Put32(img, PageAt(l, p), 0xA0000000u + p);
    Put16(img, PageAt(l, p) + 4, static_cast<uint16_t>(0xB000 + p));
  }
  Open(img);
  ASSERT_EQ(800u, LLFileState.TotalBlocks);
  {
    Capture cap;
    ASSERT_EQ(1, LLLoadHeaderCache(1));
    EXPECT_EQ("Pre-loaded 100 physical page headers into memory.\n", cap.Out());
    EXPECT_EQ("", cap.Err());
  }
  EXPECT_EQ(100u, LLFileState.HeaderCacheCount);
  for (uint32_t p : {4u, 50u, 99u}) {
    PageHeaderRecord h;
    ASSERT_EQ(1, LLGetCachedHeader(p, &h));
    EXPECT_EQ(0xA0000000u + p, GetLE32(h.Bytes));
    EXPECT_EQ(0xB000 + p, GetLE16(h.Bytes + 16));
  }
  PageHeaderRecord h;
  EXPECT_EQ(0, LLGetCachedHeader(100, &h));
  {
    Capture cap;  // loaded already: nothing read, nothing printed
    EXPECT_EQ(1, LLLoadHeaderCache(1));
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ("", cap.Err());
  }
  LLFreeHeaderCache();
  EXPECT_EQ(nullptr, LLFileState.HeaderCache);
  EXPECT_EQ(0u, LLFileState.HeaderCacheCount);
  EXPECT_EQ(0, LLGetCachedHeader(4, &h));
}

TEST_F(PagesTest, HeaderCacheProgress)
{
  struct {
    uint32_t pages;
    int show;
    const char* what;
  } cases[] = {{500, 1, "500 entries: no progress"},
               {1000, 1, "1000 entries: every tenth page"},
               {1000, 0, "progress not asked for"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetLibrary();
    Layout l = LayoutFor(0x0700, 512);
    Open(MakeSet(l, c.pages), "P" + std::to_string(c.pages) + ".DAT");
    Capture cap;
    ASSERT_EQ(1, LLLoadHeaderCache(c.show));
    cap.Stop();
    EXPECT_EQ("Pre-loaded " + std::to_string(c.pages) + " physical page headers into memory.\n",
              cap.Out());
    EXPECT_EQ(c.show && c.pages > 500 ? Progress(c.pages) : "", cap.Err());
    LLFreeHeaderCache();
  }
  EXPECT_EQ(0u, Progress(1000).find("001%\b\b\b\b002%"));
}

TEST_F(PagesTest, HeaderCacheRefusals)
{
  struct {
    uint16_t version;
    uint16_t pageSize;
    uint32_t pages;
    const char* what;
  } cases[] = {{0x0500, 1024, 16, "a 5.x file has no table"},
               {0x0700, 256, 64, "page size below 512"},
               {0x0700, 1024, 4, "no page 4"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetLibrary();
    Layout l = LayoutFor(c.version, c.pageSize);
    Open(MakeSet(l, c.pages), std::string("R") + std::to_string(c.pageSize) + ".DAT");
    Capture cap;
    EXPECT_EQ(0, LLLoadHeaderCache(1));
    cap.Stop();
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ("", cap.Err());
    EXPECT_EQ(nullptr, LLFileState.HeaderCache);
    EXPECT_EQ(0u, LLFileState.HeaderCacheCount);
    LLCloseAll();
  }
}

// ------------------------------------------------------------ records and misc data

TEST_F(PagesTest, ReadRecordCopiesTheSlot)
{
  Layout l = LayoutFor(0x0600, 1024);
  Image img = MakeSet(l, 16);
  MapPage(img, l, 1, 9);
  PutDataPage(img, l, 9, 2, {100, 130, 0xFFFF, 180});
  Open(img);
  std::vector<uint8_t> rec(1024, 0);
  uint16_t length = 0;
  ASSERT_EQ(1, LLReadRecord(1, 1, rec.data(), &length));
  EXPECT_EQ(50, length);
  EXPECT_EQ(std::vector<uint8_t>(50, 0x41), std::vector<uint8_t>(rec.begin(), rec.begin() + 50));
  length = 9;
  EXPECT_EQ(0, LLReadRecord(1, 3, rec.data(), &length));  // above LastSlot
  EXPECT_EQ(0, length);
  length = 9;
  EXPECT_EQ(0, LLReadRecord(0, 0, rec.data(), &length));  // logical 0 has no pair
  EXPECT_EQ(0, length);
}

struct MiscCase {
  uint16_t version;
  int which;
  const char* trace;  // verbose lines before the record read's own traces
  uint8_t slotByte;   // fill byte of the record found
};

TEST_F(PagesTest, MiscDataPointerOfEveryLayout)
{
  const MiscCase cases[] = {
      {0x0600, 0, "Misc Data Page Pointer: 0x00000202\r\n", 0x42},
      {0x0700, 1, "Misc Data Page Pointer: 0x00000202\r\n", 0x42},
      {0x0800, 0,
       "Misc Data Page Pointer: 0x00000002\r\nMisc Data Record Number 0x0002\r\n", 0x42},
      {0x0950, 0,
       "           Misc Data Page Pointer: 0x00000002\r\n"
       "          Misc Data Record Number: 0x0002\r\n"
       "               Misc Data Reserved: 0x0000\r\n",
       0x42},
      {0x0950, 1,
       "      User Misc Data Page Pointer: 0x00000001\r\n"
       "     User Misc Data Record Number: 0x0001\r\n"
       "          User Misc Data Reserved: 0x0000\r\n",
       0x41},
  };
  for (const MiscCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + " which " + std::to_string(c.which));
    ResetLibrary();
    Layout l = LayoutFor(c.version, 1024);
    Image img = MakeSet(l, 48);
    MapPage(img, l, 1, 30);
    MapPage(img, l, 2, 31);
    PutDataPage(img, l, 30, 3, {100, 110, 120, 130, 140});
    PutDataPage(img, l, 31, 3, {200, 210, 260, 330, 340});
    for (uint32_t copy = 0; copy < 2; copy++) {
      size_t fcr = copy * l.fcrPageSize;
      if (c.version < 0x0800) {
        Put8(img, fcr + 148, 2);            // record 2
        Put8(img, fcr + 149, 2);            // logical page 2, 24 bits
      } else {
        Put32(img, fcr + 148, 2);           // misc: page 2, record 2
        Put16(img, fcr + 152, 2);
        if (c.version >= 0x0950) {
          Put32(img, fcr + 140, 1);         // user misc: page 1, record 1
          Put16(img, fcr + 144, 1);
        }
      }
    }
    Open(img, "M" + std::to_string(c.version) + std::to_string(c.which) + ".DAT");
    LLFileState.Verbose = 1;
    std::vector<uint8_t> rec(1024, 0);
    uint16_t length = 0;
    Capture cap;
    int ok = LLReadMiscData(rec.data(), c.which, &length);
    cap.Stop();
    LLFileState.Verbose = 0;
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0u, cap.Out().find(c.trace)) << cap.Out();
    // Record 2 of page 2 runs from 260 to 330; record 1 of page 1 from 110 to 120.
    uint16_t expected = c.slotByte == 0x42 ? 70 : 10;
    ASSERT_EQ(expected, length);
    EXPECT_EQ(std::vector<uint8_t>(expected, c.slotByte),
              std::vector<uint8_t>(rec.begin(), rec.begin() + expected));
    LLCloseAll();
  }
}

TEST_F(PagesTest, MiscDataZeroPointerLeavesTheLength)
{
  for (uint16_t version : {0x0600, 0x0800, 0x0950}) {
    ResetLibrary();
    Layout l = LayoutFor(version, 1024);
    Open(MakeSet(l, 48), "Z" + std::to_string(version) + ".DAT");
    uint8_t rec[16];
    uint16_t length = 777;
    EXPECT_EQ(0, LLReadMiscData(rec, 0, &length));
    EXPECT_EQ(0, LLReadMiscData(rec, 1, &length));
    EXPECT_EQ(777, length);
    LLCloseAll();
  }
}

// ------------------------------------------------------------ second control pair

TEST_F(PagesTest, AuxPairComparesOneByte)
{
  struct {
    uint32_t usage0;
    uint32_t usage1;
    int current;
  } cases[] = {
      {0x01FF, 0x0200, 0},  // 0xFF against 0x00: the first, though its count is smaller
      {0x0200, 0x0001, 1},  // 0x00 against 0x01: the second, though its count is smaller
      {0x0005, 0x0005, 0},
  };
  for (const auto& c : cases) {
    ResetLibrary();
    Layout l = LayoutFor(0x0800, 1024);  // FCR pages of 2048: the pair at 4096 and 6144
    Image img = MakeSet(l, 48);
    Put32(img, 2 * l.fcrPageSize + l.usageAt, c.usage0);
    Put32(img, 3 * l.fcrPageSize + l.usageAt, c.usage1);
    Put8(img, 2 * l.fcrPageSize + 100, 0xA1);
    Put8(img, 3 * l.fcrPageSize + 100, 0xA2);
    Open(img, "A" + std::to_string(c.usage0) + ".DAT");
    ASSERT_EQ(1, LLLoadAuxPair());
    EXPECT_EQ(c.current, LLFileState.CurrentAux);
    EXPECT_EQ(0xA1, LLFileState.AuxBuffers[0][100]);
    EXPECT_EQ(0xA2, LLFileState.AuxBuffers[1][100]);
    LLCloseAll();
  }
}

TEST_F(PagesTest, AuxPairRefusals)
{
  Layout l = LayoutFor(0x0700, 1024);
  Open(MakeSet(l, 16));
  memset(LLFileState.AuxBuffers, 0xEE, sizeof LLFileState.AuxBuffers);
  EXPECT_EQ(0, LLLoadAuxPair());  // 7.x has no second control pair
  EXPECT_EQ(0xEE, LLFileState.AuxBuffers[0][0]);
  EXPECT_EQ(0xEE, LLFileState.AuxBuffers[1][0]);
  // An FCR page size above the buffers (only a damaged FCR gives one).
  LLFileState.FileVersion = 0x0800;
  LLFileState.FcrPageSize = 0xC000;
  EXPECT_EQ(0, LLLoadAuxPair());
  EXPECT_EQ(0xEE, LLFileState.AuxBuffers[0][0]);
}

// ------------------------------------------------------------ delta file and parts

TEST_F(PagesTest, DeltaReads)
{
  Layout l = LayoutFor(0x0700, 1024);
  std::string path = dir.Path("D.DAT");
  ASSERT_TRUE(WriteImage(path, MakeSet(l, 8)));
  {
    // Without a delta file every delta read fails.
    ASSERT_NE(0, QuietOpen(path));
    uint8_t buf[8];
    EXPECT_EQ(0, LLReadDeltaAt(0, buf, 4));
    EXPECT_EQ(0, LLReadDeltaPage(0, buf, 4));
    LLCloseAll();
  }
  Image delta(3000);
  for (size_t b = 0; b < delta.size(); b++)
    delta[b] = static_cast<uint8_t>(b % 251);
  ASSERT_TRUE(WriteImage(dir.Path("D.^^^"), delta));
  ResetLibrary();
  ASSERT_NE(0, QuietOpen(path));
  uint8_t buf[16];
  ASSERT_EQ(1, LLReadDeltaPage(2, buf, 16));
  EXPECT_EQ(0, memcmp(buf, delta.data() + 2048, 16));
  ASSERT_EQ(1, LLReadDeltaAt(5, buf, 4));
  EXPECT_EQ(0, memcmp(buf, delta.data() + 5, 4));
  EXPECT_EQ(0, LLReadDeltaAt(2990, buf, 16));  // runs past the end
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(1, LLReadDeltaPage(1, buf, 4));
  EXPECT_EQ(1, LLReadDeltaAt(7, buf, 4));
  cap.Stop();
  LLFileState.Verbose = 0;
  EXPECT_EQ("Attempting to set position to Delta File, Offset 00000000:00000400\n"
            "Attempting to set position to Delta File, Offset 00000000:00000007\n",
            cap.Out());
}

TEST_F(PagesTest, PartReadsUseThePageSize)
{
  // A compressed 9.50 file: the part read is PageSize bytes all the same.
  Layout l = LayoutFor(0x0950, 1024, 512);
  Image img = MakeSet(l, 80);
  for (size_t b = 0; b < 1100; b++)
    img[30000 + b] = static_cast<uint8_t>(b * 3);
  Open(img);
  ASSERT_EQ(512, LLFileState.PhysicalPageSize);
  ASSERT_EQ(1, LLReadPartPage(0, 30000, 1));
  EXPECT_EQ(0, memcmp(LLFileState.PageBuffers[1], img.data() + 30000, 1024));
  PageHeaderRecord h;
  ASSERT_EQ(1, LLReadPartHeader(0, 30000, &h));
  EXPECT_EQ(0, memcmp(h.Bytes, img.data() + 30000, 8));
  EXPECT_EQ(0, memcmp(h.Bytes + 16, img.data() + 30008, 2));
  EXPECT_EQ(0, LLReadPartPage(0, 30000, 2));      // no such buffer
  EXPECT_EQ(0, LLReadPartPage(1, 0, 0));          // part not open
  EXPECT_EQ(0, LLReadPartHeader(1, 0, &h));
  EXPECT_EQ(0, LLReadPartPage(0, 40960 - 100, 0));  // short read at the end
  LLFileState.PageSize = 32768;                   // only from a damaged FCR
  EXPECT_EQ(0, LLReadPartPage(0, 0, 0));
}

// ------------------------------------------------------------ diagnostics

TEST_F(PagesTest, HexDumpRows)
{
  std::vector<uint8_t> bytes(17);
  for (size_t i = 0; i < bytes.size(); i++)
    bytes[i] = static_cast<uint8_t>(0xF0 + i * 0x0B);
  struct {
    int32_t length;
    const char* err;
  } cases[] = {
      {17,
       "F0 FB 06 11 1C 27 32 3D 48 53 5E 69 74 7F 8A 95 \n"
       "A0 \n"},
      {16, "F0 FB 06 11 1C 27 32 3D 48 53 5E 69 74 7F 8A 95 \n"},
      {1, "F0 \n"},
      {0, ""},
      {-5, ""},
  };
  for (const auto& c : cases) {
    // Exactly length bytes on the heap: a read past them shows under ASan.
    std::vector<uint8_t> exact(bytes.begin(), bytes.begin() + (c.length > 0 ? c.length : 0));
    Capture cap;
    LLHexDump(exact.empty() ? bytes.data() : exact.data(), c.length);
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ(c.err, cap.Err()) << c.length;
  }
}

TEST_F(PagesTest, Banner)
{
  Capture cap;
  LLShowVersion();
  EXPECT_EQ("Using Halvorn Low-Level File Library, version 1.00\r\n\r\n", cap.Out());
  EXPECT_EQ("", cap.Err());
}

TEST_F(PagesTest, RecordAddressRoundTrip)
{
  RecordAddress a;
  LLMakeRecordAddress(&a, 0x11223344, 0x5566, 0x7788);
  const uint8_t expected[8] = {0x44, 0x33, 0x22, 0x11, 0x66, 0x55, 0x88, 0x77};
  EXPECT_EQ(0, memcmp(expected, a.Bytes, 8));
  uint32_t page = 0;
  uint16_t record = 0, reserved = 0;
  LLSplitRecordAddress(&page, &record, &reserved, &a);
  EXPECT_EQ(0x11223344u, page);
  EXPECT_EQ(0x5566, record);
  EXPECT_EQ(0x7788, reserved);
}

}  // namespace
