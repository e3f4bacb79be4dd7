// Page allocation tables: entries per page, pair stride and offsets (with the
// 6.x shift from pair 31 on), loading a pair and choosing its copy, entries of
// every layout, and the failures of the translation.
#include <gtest/gtest.h>

#include "TestFiles.h"

using namespace lltest;

namespace {

// Usage count offset in a PAT page (and an FCR page) by version.
size_t UsageAt(uint16_t version) { return version < 0x0800 ? 4 : version < 0x0950 ? 6 : 8; }

// A PAT page at `at`: identification "PP" and the pair number in the bytes
// after it, then the usage count.
void PutPatPage(Image& img, size_t at, uint16_t version, uint32_t usage, uint16_t id = 1)
{
  Put8(img, at, 'P');
  Put8(img, at + 1, 'P');
  Put16(img, at + 2, id);
  Put32(img, at + UsageAt(version), usage);
}

// Two FCR pages of `fcrPageSize` bytes (copy 0 current), the file `size`
// bytes long.
Image FcrPair(uint16_t version, uint8_t sizeByte, size_t fcrPageSize, size_t size)
{
  Image img;
  PutFcr(img, 0, version, sizeByte, 1);
  PutFcr(img, fcrPageSize, version, sizeByte, 0);
  img.resize(size);
  return img;
}

class PatTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
  uint16_t Open(const Image& img)
  {
    path = dir.Path("P.DAT");
    EXPECT_TRUE(WriteImage(path, img));
    return QuietOpen(path);
  }
  TempDir dir;
  std::string path;
};

// ------------------------------------------------------------ counts

struct CountCase {
  uint16_t version;
  uint8_t sizeByte;
  uint32_t entries;
  uint32_t alternate;
  bool unexpected;  // "Unexpected Page Size" for the main count
};

const CountCase CountCases[] = {
    {0x0600, 0x01, 62, 62, false},     {0x0600, 0x02, 126, 126, false},
    {0x0610, 0x04, 254, 254, false},   {0x0600, 0x08, 510, 510, false},
    {0x0700, 0x10, 1022, 1022, false}, {0x0800, 0x02, 312, 312, false},
    {0x0800, 0x04, 316, 316, false},   {0x0900, 0x06, 476, 476, false},
    {0x0900, 0x08, 636, 636, false},   {0x0900, 0x0A, 796, 796, false},
    {0x0900, 0x0C, 956, 956, false},   {0x0900, 0x0E, 1116, 1116, false},
    {0x0900, 0x10, 1276, 1276, false}, {0x0900, 0x20, 1278, 1276, false},
    {0x0900, 0x40, 0, 5116, true},     {0x0950, 0x04, 476, 472, false},
    {0x0950, 0x08, 478, 476, false},   {0x0950, 0x10, 956, 956, false},
    {0x0950, 0x20, 1596, 1596, false}, {0x0950, 0x40, 1598, 1598, false},
    {0x0D00, 0x02, 0, 320, true},      {0x0D30, 0x0C, 0, 320, true},
};

TEST_F(PatTest, EntriesPerPage)
{
  for (const CountCase& c : CountCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << (int)c.sizeByte);
    ResetLibrary();
    // Only the geometry matters here: set it through a real load.
    Image img = FcrPair(c.version, c.sizeByte, 32768, 65536);
    // Copy 1 sits at FcrPageSize; the load reads whatever lies there.
    ASSERT_EQ(1, Open(img));
    Capture cap;
    EXPECT_EQ(c.entries, LLPatEntriesPerPage());
    std::string expected;
    if (c.unexpected) {
      char line[64];
      snprintf(line, sizeof line, "Unexpected Page Size <%d>\n", c.sizeByte * 256);
      expected = line;
    }
    EXPECT_EQ(expected, cap.Err());
    Capture alt;
    EXPECT_EQ(c.alternate, LLPatEntriesPerPageAlt());
    if (c.version >= 0x0950) {
      EXPECT_EQ(expected, alt.Err());
    }
  }
}

// ------------------------------------------------------------ offsets

struct OffsetCase {
  uint16_t version;
  uint8_t sizeByte;
  int compressed;  // PhysicalPageSize 2048 when set
  uint32_t pair;
  int32_t stride;
  uint64_t offset;
  const char* err;  // non-verbose standard error of the offset
};

const OffsetCase OffsetCases[] = {
    {0x0600, 0x10, 0, 0, 0x400000, 0, ""},
    {0x0600, 0x10, 0, 1, 0x400000, 0x2000, ""},
    {0x0600, 0x10, 0, 2, 0x400000, 0x402000, ""},
    {0x0600, 0x10, 0, 30, 0x400000, 0x7402000, ""},
    {0x0600, 0x10, 0, 31, 0x400000, 0x7803000, ""},  // stride + 4096 after pair 30
    {0x0610, 0x10, 0, 32, 0x400000, 0x7C03000, ""},
    {0x0700, 0x10, 0, 31, 0x400000, 0x7802000, ""},  // 7.x: no shift
    {0x0600, 0x02, 0, 1, 0x10000, 0x400, ""},
    {0x0600, 0x02, 0, 31, 0x10000, 0x1E1400, ""},
    {0x0800, 0x02, 0, 1, 0x28000, 0x2000, ""},  // after the second control pair
    {0x0800, 0x02, 0, 2, 0x28000, 0x2A000, ""},
    {0x0800, 0x02, 0, 31, 0x28000, 0x4B2000, ""},
    {0x0900, 0x20, 0, 3, 0xA00000, 0x1408000, ""},
    {0x0950, 0x10, 0, 1, 0x3C0000, 0x8000, ""},
    {0x0950, 0x10, 0, 2, 0x3C0000, 0x3C8000, ""},
    {0x0950, 0x10, 1, 2, 0x1E0000, 0x1E8000, ""},  // physical page size 2048
    {0x0D00, 0x04, 0, 2, 0x78000, 0x7A000, ""},
    {0x0D00, 0x40, 0, 0xFFFFFFFF, 0x1900000, 0x18FFFFFFCE10000ull, ""},
    {0x0950, 0x0C, 0, 5, 0, 0x6000, "Unexpected Page Size <3072>\n"},
    {0x0800, 0x05, 0, 2, 5120, 0x3C00, "Unexpected Page Size <1280>\n"},
};

TEST_F(PatTest, PairStrideAndOffsets)
{
  for (const OffsetCase& c : OffsetCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << (int)c.sizeByte
                                    << " pair " << std::dec << c.pair);
    ResetLibrary();
    ASSERT_EQ(1, Open(FcrPair(c.version, c.sizeByte, 32768, 65536)));
    if (c.compressed) {
      LLFileState.PageCompressed = 1;
      LLFileState.PhysicalPageSize = 2048;
    }
    {
      Capture cap;
      EXPECT_EQ(c.stride, LLPatPairStride());
    }
    Capture cap;
    EXPECT_EQ(c.offset, LLPatPairOffset(c.pair));
    EXPECT_EQ(c.err, cap.Err());
  }
}

TEST_F(PatTest, ShiftedPairThirtyOneBeginsAtTheSixXThreshold)
{
  // For every page size of the threshold table, the unshifted offset of pair
  // 31 is the threshold, and the shifted one lies 4096 bytes further on.
  for (uint8_t sizeByte = 2; sizeByte <= 16; sizeByte += 2) {
    SCOPED_TRACE(sizeByte);
    ResetLibrary();
    ASSERT_EQ(1, Open(FcrPair(0x0600, sizeByte, sizeByte * 256u, 2 * sizeByte * 256u)));
    uint64_t pageSize = sizeByte * 256u;
    uint64_t unshifted = 2 * pageSize + 30 * (uint64_t)LLPatPairStride();
    EXPECT_EQ((uint64_t)LLFileState.V6ShiftThreshold, unshifted);
    EXPECT_EQ(unshifted + 4096, LLPatPairOffset(31));
    EXPECT_EQ(unshifted - (uint64_t)LLPatPairStride(), LLPatPairOffset(30));
  }
}

// ------------------------------------------------------------ entries

// A 6.10 file with 512-byte pages: FCR pair, PAT pair 1 at 1024, and room
// for pair 1's data pages. The current copy (second page) holds `entries`
// from entry 0 on; the first page holds other bytes.
Image SixFile(uint32_t usage0, uint32_t usage1, const Image& entries)
{
  Image img = FcrPair(0x0610, 0x02, 512, 4096);
  PutPatPage(img, 1024, 0x0610, usage0);
  PutPatPage(img, 1536, 0x0610, usage1);
  for (size_t i = 8; i < 512; i++)
    img[1024 + i] = 0xEE;
  PutBytes(img, 1536 + 8, entries);
  return img;
}

struct EntryCase {
  const char* label;
  uint16_t version;
  uint8_t sizeByte;
  size_t fcrPageSize;
  size_t firstPair;  // offset of pair 1
  size_t entryAt;    // offset of entry `index` in its page
  Image bytes;
  uint32_t logical;
  int compressed;
  uint32_t physical;
  uint16_t extra;
  uint16_t span;
};

const EntryCase EntryCases[] = {
    {"6.x entry 0", 0x0600, 0x02, 512, 1024, 8, {0x12, 0x34, 0x56, 0x78}, 1, 0, 0x127856, 0x34, 1},
    {"6.x last entry of pair 1", 0x0600, 0x02, 512, 1024, 8 + 4 * 125, {0x00, 0x44, 0x1e, 0x00}, 126, 0,
     30, 0x44, 1},
    {"7.x", 0x0700, 0x10, 4096, 8192, 8 + 4 * 9, {0xFF, 0xFF, 0xFF, 0xFF}, 10, 0, 0xFFFFFF, 0xFF, 1},
    {"8.x", 0x0800, 0x04, 2048, 8192, 20 + 6 * 315, {0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB}, 316, 0,
     0x12345678, 0xABCD, 1},
    {"9.00 8192", 0x0900, 0x20, 8192, 32768, 20 + 6 * 1277, {1, 0, 0, 0, 2, 0}, 1278, 0, 1, 2, 1},
    {"9.50 uncompressed", 0x0950, 0x10, 8192, 32768, 16 + 8 * 955,
     {0x04, 0x03, 0x02, 0x01, 0x22, 0x11, 0x05, 0x00}, 956, 0, 0x01020304, 0x1122, 1},
    {"9.50 compressed", 0x0950, 0x10, 8192, 32768, 16, {0x04, 0x03, 0x02, 0x01, 0x22, 0x11, 0x05, 0x00},
     1, 1, 0x01020304, 0x1122, 5},
    {"13.00 compressed", 0x0D00, 0x10, 8192, 32768, 16 + 8 * 7, {9, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 8, 1, 9,
     0, 0xFFFF},
    {"13.00 1024, last entry inside the read bytes", 0x0D00, 0x04, 2048, 8192, 16 + 8 * 253,
     {7, 0, 0, 0, 1, 0, 0, 0}, 254, 0, 7, 1, 1},
};

TEST_F(PatTest, EntriesOfEveryLayout)
{
  for (const EntryCase& c : EntryCases) {
    SCOPED_TRACE(c.label);
    ResetLibrary();
    size_t size = c.firstPair + 2 * c.fcrPageSize;
    Image img = FcrPair(c.version, c.sizeByte, c.fcrPageSize, size);
    if (c.compressed) {
      if (c.version == 0x0950)
        Put16(img, 400, 0x2000);
      else
        Put16(img, 156, 0x2000);
      Put16(img, 80, 4096);
    }
    PutPatPage(img, c.firstPair, c.version, 1);
    PutPatPage(img, c.firstPair + c.fcrPageSize, c.version, 1);
    // Equal usage counts: the second page is in force; the first holds other bytes.
    for (size_t i = 0; i < c.bytes.size(); i++)
      img[c.firstPair + c.entryAt + i] = 0xEE;
    PutBytes(img, c.firstPair + c.fcrPageSize + c.entryAt, c.bytes);
    {
      path = dir.Path("E.DAT");
      ASSERT_TRUE(WriteImage(path, img));
      Capture cap;
      ASSERT_EQ(1, LLOpenReadOnly(path.c_str()));
    }
    ASSERT_EQ(c.compressed, LLFileState.PageCompressed);
    uint32_t physical = 0;
    uint16_t extra = 0, span = 0;
    Capture cap;
    EXPECT_EQ(1, LLLogicalToPhysical(c.logical, &physical, &extra, &span));
    EXPECT_EQ(c.physical, physical);
    EXPECT_EQ(c.extra, extra);
    EXPECT_EQ(c.span, span);
    EXPECT_EQ(1, LLFileState.CurrentPat);
    EXPECT_EQ(1, LLFileState.LoadedPatPair);
    EXPECT_EQ("", cap.Err());
  }
}

TEST_F(PatTest, EntriesPastTheBytesReadFail)
{
  // 13.00 with 1024-byte pages: 2048-byte PAT pages hold entries 0 to 253
  // only, though a page counts 476.
  Image img = FcrPair(0x0D00, 0x04, 2048, 8192 + 4096);
  PutPatPage(img, 8192, 0x0D00, 1);
  PutPatPage(img, 8192 + 2048, 0x0D00, 2);
  ASSERT_EQ(1, Open(img));
  // Whatever the buffer holds past the bytes read is never handed out.
  memset(LLFileState.PatBuffers[1] + 2048, 0x77, 4096);
  uint32_t physical = 99;
  uint16_t extra = 99, span = 99;
  EXPECT_EQ(1, LLLogicalToPhysical(254, &physical, &extra, &span));
  for (uint32_t logical : {255u, 300u, 476u}) {
    SCOPED_TRACE(logical);
    physical = 99;
    extra = 99;
    span = 99;
    EXPECT_EQ(0, LLLogicalToPhysical(logical, &physical, &extra, &span));
    EXPECT_EQ(0u, physical);
    EXPECT_EQ(0u, extra);
    EXPECT_EQ(1u, span);
  }
  // Logical page 477 is entry 0 of pair 2, beyond the end of this file.
  EXPECT_EQ(0, LLLogicalToPhysical(477, &physical, &extra, &span));
}

// ------------------------------------------------------------ loading

struct UsageCase {
  uint32_t usage0;
  uint32_t usage1;
  int current;
  char sign;
};

const UsageCase UsageCases[] = {
    {5, 5, 1, '>'}, {1, 2, 1, '<'}, {2, 1, 0, '>'}, {0xFFFFFFFF, 0, 0, '>'}, {0, 0xFFFFFFFF, 1, '<'},
};

TEST_F(PatTest, HigherUsageCountWinsAndTiesTakeTheSecondPage)
{
  for (const UsageCase& c : UsageCases) {
    SCOPED_TRACE(testing::Message() << c.usage0 << " " << c.usage1);
    ResetLibrary();
    Image first = {0x00, 0x00, 0x01, 0x00};   // physical page 1
    Image img = SixFile(c.usage0, c.usage1, {0x00, 0x00, 0x02, 0x00});  // page 2 in the second
    PutBytes(img, 1024 + 8, first);
    ASSERT_EQ(1, Open(img));
    LLFileState.Verbose = 1;
    Capture cap;
    uint32_t physical = 0;
    EXPECT_EQ(1, LLLogicalToPhysical(1, &physical, nullptr, nullptr));
    EXPECT_EQ(c.current ? 2u : 1u, physical);
    EXPECT_EQ(c.current, LLFileState.CurrentPat);
    char usage[128];
    snprintf(usage, sizeof usage, "Usage 0 (%.8x) %c Usage 1 (%.8x) [Loaded PAT Pair 1]\n",
             c.usage0, c.sign, c.usage1);
    EXPECT_EQ(std::string("(1)Seeking PAT Pair 1 at Large Offset 00000000:00000400\n") + usage,
              cap.Err());
    EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00000400\n"
              "Attempting to set position to Extent 00, Offset 00000000:00000600\n",
              cap.Out());
  }
}

TEST_F(PatTest, SecondTranslationInTheLoadedPairReadsNothing)
{
  ASSERT_EQ(1, Open(SixFile(1, 2, {0x00, 0x41, 0x04, 0x00, 0x00, 0x80, 0x1d, 0x00})));
  uint32_t physical = 0;
  uint16_t extra = 0;
  ASSERT_EQ(1, LLLogicalToPhysical(1, &physical, &extra, nullptr));
  EXPECT_EQ(4u, physical);
  // With the set out of reach, any read would fail.
  uint16_t parts = LLFileState.PartCount;
  LLFileState.PartCount = 0;
  LLFileState.Verbose = 1;
  {
    Capture cap;
    EXPECT_EQ(1, LLLogicalToPhysical(2, &physical, &extra, nullptr));
    EXPECT_EQ(29u, physical);
    EXPECT_EQ(0x80, extra);
    EXPECT_EQ(1, LLLoadPatPair(1));
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ("", cap.Err());
  }
  // Another pair must be read, and cannot be.
  {
    Capture cap;
    EXPECT_EQ(0, LLLogicalToPhysical(127, &physical, &extra, nullptr));
    EXPECT_EQ(-1, LLFileState.LoadedPatPair);
  }
  LLFileState.PartCount = parts;
}

TEST_F(PatTest, LogicalPageZeroFails)
{
  ASSERT_EQ(1, Open(SixFile(1, 2, {0x00, 0x41, 0x04, 0x00})));
  uint32_t physical = 99;
  uint16_t extra = 99, span = 99;
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(0, LLLogicalToPhysical(0, &physical, &extra, &span));
  EXPECT_EQ(0u, physical);
  EXPECT_EQ(0u, extra);
  EXPECT_EQ(1u, span);
  EXPECT_EQ(-1, LLFileState.LoadedPatPair);
  // 0xFFFFFFFF / 126 + 1 = pair 0x2082083, far past the end.
  EXPECT_NE(std::string::npos, cap.Err().find("(1)Seeking PAT Pair 34087043 at "));
}

TEST_F(PatTest, FailedReadOfTheSecondPageLeavesNoPairLoaded)
{
  // Pair 1 whole, then a file that ends inside the second page of pair 2
  // (at 1024 + 65536 + 512 + 100).
  Image img = SixFile(1, 1, {0x00, 0x00, 0x05, 0x00});
  img.resize(1024 + 65536 + 512 + 100);
  PutPatPage(img, 1024 + 65536, 0x0610, 1, 2);
  ASSERT_EQ(1, Open(img));
  ASSERT_EQ(1, LLLoadPatPair(1));
  EXPECT_EQ(1, LLFileState.LoadedPatPair);
  EXPECT_EQ(0, LLLoadPatPair(2));
  EXPECT_EQ(-1, LLFileState.LoadedPatPair);
  uint32_t physical = 0;
  EXPECT_EQ(1, LLLogicalToPhysical(1, &physical, nullptr, nullptr));
  EXPECT_EQ(5u, physical);
}

TEST_F(PatTest, DifferentPageIdsAreReportedAndTheTranslationGoesOn)
{
  Image img = SixFile(1, 2, {0x00, 0x44, 0x09, 0x00});
  Put8(img, 1024 + 3, 0x55);  // last byte of the first page's identification
  ASSERT_EQ(1, Open(img));
  Capture cap;
  uint32_t physical = 0;
  EXPECT_EQ(1, LLLogicalToPhysical(1, &physical, nullptr, nullptr));
  EXPECT_EQ(9u, physical);
  EXPECT_EQ("==>PAT Page ID's Do Not Match.\n", cap.Err());
}

TEST_F(PatTest, IdsBeyondTheIdLengthAreNotCompared)
{
  // 8.x compares six bytes; byte 6 on is the usage count, and differs.
  Image img = FcrPair(0x0800, 0x02, 2048, 8192 + 4096);
  PutPatPage(img, 8192, 0x0800, 3);
  PutPatPage(img, 8192 + 2048, 0x0800, 4);
  ASSERT_EQ(1, Open(img));
  Capture cap;
  EXPECT_EQ(1, LLLoadPatPair(1));
  EXPECT_EQ("", cap.Err());
  EXPECT_EQ(1, LLFileState.CurrentPat);
}

TEST_F(PatTest, BelowSixTheTranslationIsTheIdentity)
{
  Image img(2048, 0);
  PutFcr(img, 0, 0x0500, 0x02);
  ASSERT_EQ(1, Open(img));
  LLFileState.PartCount = 0;  // no file access may happen
  LLFileState.Verbose = 1;
  Capture cap;
  uint32_t physical = 0;
  uint16_t extra = 0xABCD, span = 0;
  EXPECT_EQ(1, LLLogicalToPhysical(0x123456, &physical, &extra, &span));
  EXPECT_EQ(0x123456u, physical);
  EXPECT_EQ(0xABCD, extra) << "left untouched";
  EXPECT_EQ(1, span);
  EXPECT_EQ(0, LLLoadPatPair(1));
  EXPECT_EQ("", cap.Out());
  EXPECT_EQ("", cap.Err());
  LLFileState.PartCount = 1;
}

TEST_F(PatTest, PairThirtyOneOfSixXIsShifted)
{
  // 6.00 with 512-byte pages: pair 31 at 0x1E1400 (not 0x1E0400); logical
  // page 30 * 126 + 1 = 3781 is its entry 0. A decoy pair sits where the
  // pair would be without the shift. A 7.00 file finds the pair at 0x1E0400.
  for (uint16_t version : {0x0600, 0x0700}) {
    SCOPED_TRACE(version);
    ResetLibrary();
    Image img = FcrPair(version, 0x02, 512, 1024);
    path = dir.Path("S.DAT");
    ASSERT_TRUE(WriteSparse(path, 0x1E1400 + 1024, img));
    Image decoy(1024, 0);
    PutPatPage(decoy, 0, version, 1, 31);
    PutPatPage(decoy, 512, version, 1, 31);
    Image shifted = decoy;
    PutBytes(decoy, 512 + 8, {0x00, 0x44, 0x11, 0x11});    // page 0x1111
    PutBytes(shifted, 512 + 8, {0x00, 0x44, 0x22, 0x22});  // page 0x2222
    ASSERT_TRUE(PatchFile(path, 0x1E0400, decoy));
    ASSERT_TRUE(PatchFile(path, 0x1E1400, shifted));
    ASSERT_EQ(1, QuietOpen(path));
    uint32_t physical = 0;
    ASSERT_EQ(1, LLLogicalToPhysical(3781, &physical, nullptr, nullptr));
    EXPECT_EQ(version == 0x0600 ? 0x2222u : 0x1111u, physical);
    EXPECT_EQ(31, LLFileState.LoadedPatPair);
    // Logical page 3780 is the last entry of pair 30, whose pages are zero.
    ASSERT_EQ(1, LLLogicalToPhysical(3780, &physical, nullptr, nullptr));
    EXPECT_EQ(0u, physical);
  }
}

TEST_F(PatTest, OversizedOrZeroFcrPageSizeLoadsNothing)
{
  ASSERT_EQ(1, Open(SixFile(1, 2, {0x00, 0x41, 0x04, 0x00})));
  for (uint16_t size : {(uint16_t)0, (uint16_t)32769, (uint16_t)65535}) {
    LLFileState.FcrPageSize = size;
    LLFileState.Verbose = 1;
    Capture cap;
    EXPECT_EQ(0, LLLoadPatPair(1));
    EXPECT_EQ("", cap.Out());
    EXPECT_EQ("", cap.Err());
  }
}

TEST_F(PatTest, UnknownPageSizeFailsWithoutReading)
{
  // 8.x with 1280-byte pages: no entry count.
  Image img = FcrPair(0x0800, 0x05, 2560, 2 * 2560);
  ASSERT_EQ(1, Open(img));
  LLFileState.Verbose = 1;
  Capture cap;
  uint32_t physical = 5;
  uint16_t extra = 5;
  EXPECT_EQ(0, LLLogicalToPhysical(1, &physical, &extra, nullptr));
  EXPECT_EQ(0u, physical);
  EXPECT_EQ(0u, extra);
  EXPECT_EQ("Unexpected Page Size <1280>\n", cap.Err());
  EXPECT_EQ("", cap.Out());
}

TEST_F(PatTest, SeekPatPairTraces)
{
  ASSERT_EQ(1, Open(SixFile(1, 2, {0x00, 0x41, 0x04, 0x00})));
  LLFileState.Verbose = 1;
  {
    Capture cap;
    uint16_t part = 9;
    EXPECT_EQ(1, LLSeekPatPair(1, &part));
    EXPECT_EQ(0, part);
    EXPECT_EQ("(2)Seeking PAT Pair 1 at (1)Seeking PAT Pair 1 at Large Offset "
              "00000000:00000400\nLarge Offset 00000000:00000400\n",
              cap.Err());
    EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00000400\n", cap.Out());
  }
  {
    Capture cap;
    uint16_t part = 9;
    EXPECT_EQ(0, LLSeekPatPair(2, &part));  // 0x10400, past the 4096-byte file
    EXPECT_EQ(1, part);
    EXPECT_EQ("(2)Seeking PAT Pair 2 at (1)Seeking PAT Pair 2 at Large Offset "
              "00000000:00010400\nLarge Offset 00000000:00010400\n"
              "Calculated location outside valid file values!\n",
              cap.Err());
  }
}

}  // namespace
