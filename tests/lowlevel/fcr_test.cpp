// FCR loading: signature, version word and its negation, geometry of every
// version, the choice of the current copy, page count, compression flags,
// refused page sizes, short files, traces, and damaged files of every kind.
#include <gtest/gtest.h>

#include "TestFiles.h"

using namespace lltest;

namespace {

class FcrTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
  std::string Write(const Image& img)
  {
    std::string path = dir.Path("F.DAT");
    EXPECT_TRUE(WriteImage(path, img));
    return path;
  }
  TempDir dir;
};

// Offset of the stored version word: 6 when the first four bytes are zero
// (below 6.0 here), 74 after 'F' 'C'.
size_t VersionAt(uint16_t version) { return version >= 0x0600 ? 74 : 6; }

// ------------------------------------------------------------ geometry

struct GeometryCase {
  uint16_t stored;   // version word as stored
  uint8_t sizeByte;  // byte 9 below 8.0, byte 43 from 8.0 on
  uint16_t version;
  uint16_t pageSize;
  uint16_t fcrPageSize;
  int usageOffset;
  int patIdLength;
  int headerLength;
  const char* out;  // standard output of a quiet load
};

const char* const V13 = "\nWarning: v13.00 files are NOT completely supported!\n\n";

const GeometryCase GeometryCases[] = {
    {0x0300, 0x04, 0x0300, 1024, 1024, 4, 4, 4, ""},
    {0x0400, 0x02, 0x0400, 512, 512, 4, 4, 4, ""},
    {0xFC00, 0x10, 0x0400, 4096, 4096, 4, 4, 4, ""},  // negated
    {0x0500, 0x10, 0x0500, 4096, 4096, 4, 4, 4, ""},
    {0x0600, 0x10, 0x0600, 4096, 4096, 4, 4, 4, ""},
    {0x0610, 0x02, 0x0610, 512, 512, 4, 4, 4, ""},
    {0xF9F0, 0x04, 0x0610, 1024, 1024, 4, 4, 4, ""},  // negated
    {0x0620, 0x04, 0x0620, 1024, 1024, 4, 4, 4, ""},  // unlisted minor version
    {0x0700, 0x08, 0x0700, 2048, 2048, 4, 4, 4, ""},
    {0x0800, 0x02, 0x0800, 512, 2048, 6, 6, 6, ""},
    {0x0900, 0x02, 0x0900, 512, 2048, 6, 6, 6, ""},
    {0x0900, 0x0C, 0x0900, 3072, 6144, 6, 6, 6, ""},
    {0x0900, 0x10, 0x0900, 4096, 8192, 6, 6, 6, ""},
    {0x0900, 0x20, 0x0900, 8192, 8192, 6, 6, 6, ""},
    {0x0900, 0x80, 0x0900, 32768, 2048, 6, 6, 6, ""},  // 2 x 32768 wraps to 0
    {0x0950, 0x04, 0x0950, 1024, 4096, 8, 8, 8, ""},
    {0x0950, 0x08, 0x0950, 2048, 4096, 8, 8, 8, ""},
    {0x0950, 0x10, 0x0950, 4096, 8192, 8, 8, 8, ""},
    {0x0950, 0x40, 0x0950, 16384, 16384, 8, 8, 8, ""},
    {0x0950, 0x80, 0x0950, 32768, 16384, 8, 8, 8, ""},
    {0x0D00, 0x02, 0x0D00, 512, 1024, 8, 8, 16, V13},  // no lower bound
    {0x0D00, 0x04, 0x0D00, 1024, 2048, 8, 8, 16, V13},
    {0x0D00, 0x10, 0x0D00, 4096, 8192, 8, 8, 16, V13},
    {0x0D00, 0x40, 0x0D00, 16384, 16384, 8, 8, 16, V13},
    {0x0D30, 0x20, 0x0D30, 8192, 16384, 8, 8, 16,
     "\nWarning: v16 files are NOT completely supported!\n\n"},
    {0x0A10, 0x10, 0x0A10, 4096, 8192, 8, 8, 16,
     "\nWarning: v10.10 files are NOT completely supported!\n\n"},
    {0x8000, 0x10, 0x8000, 4096, 8192, 8, 8, 16,  // 0x8000 is not negated
     "\nWarning: v128.00 files are NOT completely supported!\n\n"},
};

TEST_F(FcrTest, GeometryOfEveryVersion)
{
  for (const GeometryCase& c : GeometryCases) {
    SCOPED_TRACE(testing::Message() << std::hex << "stored 0x" << c.stored << " byte 0x"
                                    << (int)c.sizeByte);
    ResetLibrary();
    Image img;
    PutFcr(img, 0, c.version, c.sizeByte, 1);
    PutFcr(img, c.fcrPageSize, c.version, c.sizeByte, 0);
    Put16(img, VersionAt(c.version), c.stored);
    img.resize(2u * c.fcrPageSize + 512);
    std::string path = Write(img);
    Capture cap;
    ASSERT_EQ(1, LLOpenReadOnly(path.c_str()));
    EXPECT_EQ(c.version, LLFileState.FileVersion);
    EXPECT_EQ(c.pageSize, LLFileState.PageSize);
    EXPECT_EQ(c.fcrPageSize, LLFileState.FcrPageSize);
    EXPECT_EQ(c.usageOffset, LLFileState.UsageOffset);
    EXPECT_EQ(c.patIdLength, LLFileState.PatIdLength);
    EXPECT_EQ(c.headerLength, LLFileState.PageHeaderLength);
    EXPECT_EQ(0, LLFileState.CurrentFcr);
    EXPECT_EQ(0, LLFileState.PageCompressed);
    EXPECT_EQ(c.pageSize, LLFileState.PhysicalPageSize);
    EXPECT_EQ(c.out, cap.Out());
    EXPECT_EQ("", cap.Err());
  }
}

TEST_F(FcrTest, FiveXFileReadsOneFcr)
{
  Image img;
  PutFcr(img, 0, 0x0500, 0x02);
  img.resize(600);  // shorter than two pages: only the first read happens
  std::string path = Write(img);
  memset(LLFileState.FcrBuffers[1], 0x5A, 64);
  LLFileState.Verbose = 1;
  Capture cap;
  ASSERT_EQ(1, LLOpenReadOnly(path.c_str()));
  EXPECT_EQ(0, LLFileState.CurrentFcr);
  EXPECT_EQ(0x5A, LLFileState.FcrBuffers[1][0]) << "buffer 1 keeps what it held";
  EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00000000\n"
            "Found 0 pages in file.\n",
            cap.Out());
}

// ------------------------------------------------------------ signature

struct SignatureCase {
  uint8_t bytes[4];
  bool accepted;
};

const SignatureCase SignatureCases[] = {
    {{0, 0, 0, 0}, true},       {{'F', 'C', 0, 0}, true},  {{'F', 'x', 1, 1}, true},
    {{'x', 'C', 1, 1}, true},   {{'x', 'y', 0, 0}, false}, {{0, 0, 0, 1}, false},
    {{'C', 'F', 0, 0}, false},  {{0xFF, 0xFF, 0xFF, 0xFF}, false},
};

TEST_F(FcrTest, SignatureRules)
{
  for (const SignatureCase& c : SignatureCases) {
    SCOPED_TRACE(testing::Message() << (int)c.bytes[0] << " " << (int)c.bytes[1] << " "
                                    << (int)c.bytes[2] << " " << (int)c.bytes[3]);
    ResetLibrary();
    Image img(1024, 0);
    PutBytes(img, 0, Image(c.bytes, c.bytes + 4));
    // A 4.00 version word both where the zero form and the 'FC' form keep it.
    Put16(img, 6, 0x0400);
    Put16(img, 74, 0x0400);
    Put8(img, 9, 0x02);
    std::string path = Write(img);
    Capture cap;
    EXPECT_EQ(c.accepted ? 1 : 0, LLOpenReadOnly(path.c_str()));
    if (c.accepted) {
      EXPECT_EQ(0x0400, LLFileState.FileVersion);
      EXPECT_EQ("", cap.Err());
    } else {
      EXPECT_EQ(0, LLFileState.FileVersion);
      EXPECT_EQ("Not a Btrieve File!\n", cap.Err());
    }
  }
}

TEST_F(FcrTest, ZeroSignatureTakesTheWordAtSixFcTakesTheWordAtSeventyFour)
{
  Image img(1024, 0);
  Put16(img, 6, 0x0300);
  Put16(img, 74, 0x0500);
  Put8(img, 9, 0x02);
  ASSERT_EQ(1, QuietOpen(Write(img)));
  EXPECT_EQ(0x0300, LLFileState.FileVersion);
  LLCloseAll();
  img[0] = 'F';
  ASSERT_EQ(1, QuietOpen(Write(img)));
  EXPECT_EQ(0x0500, LLFileState.FileVersion);
}

// ------------------------------------------------------------ short files

struct ShortCase {
  uint16_t version;
  size_t size;
  int loads;
  const char* err;
};

const ShortCase ShortCases[] = {
    {0x0400, 0, 0, "Not a Btrieve File!\n"},
    {0x0400, 511, 0, "Not a Btrieve File!\n"},
    {0x0400, 512, 1, ""},
    {0x0600, 4096, 0, "Not a Btrieve File....\n"},      // one page long
    {0x0600, 4096 + 100, 0, "Not a Btrieve File.....\n"},  // ends in its second page
    {0x0600, 8191, 0, "Not a Btrieve File.....\n"},
    {0x0600, 8192, 1, ""},
};

TEST_F(FcrTest, ShortFiles)
{
  for (const ShortCase& c : ShortCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << std::dec << c.size);
    ResetLibrary();
    Image img;
    PutFcr(img, 0, c.version, 0x10, 0);
    img.resize(c.size);
    std::string path = Write(img);
    Capture cap;
    EXPECT_EQ(c.loads, LLOpenReadOnly(path.c_str()));
    EXPECT_EQ(c.err, cap.Err());
    if (c.size >= 512) {
      // Past the first read the version and geometry are already derived.
      EXPECT_EQ(c.version, LLFileState.FileVersion);
      EXPECT_EQ(4096, LLFileState.PageSize);
    }
  }
}

// ------------------------------------------------------------ current copy

struct UsageCase {
  uint16_t version;
  uint8_t sizeByte;
  uint16_t fcrPageSize;
  uint32_t usage0;
  uint32_t usage1;
  int current;
};

const UsageCase UsageCases[] = {
    {0x0600, 0x04, 1024, 5, 5, 0},           {0x0600, 0x04, 1024, 1, 2, 1},
    {0x0600, 0x04, 1024, 2, 1, 0},           {0x0600, 0x04, 1024, 0xFFFFFFFF, 1, 0},
    {0x0600, 0x04, 1024, 0x7FFFFFFF, 0x80000000, 1},
    {0x0800, 0x04, 2048, 7, 7, 0},           {0x0800, 0x04, 2048, 7, 8, 1},
    {0x0950, 0x10, 8192, 3, 3, 0},           {0x0950, 0x10, 8192, 3, 4, 1},
    {0x0D00, 0x10, 8192, 9, 0, 0},           {0x0D00, 0x10, 8192, 0, 9, 1},
};

TEST_F(FcrTest, LargerUsageCountWinsAndTiesKeepTheFirstCopy)
{
  for (const UsageCase& c : UsageCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << c.usage0 << " "
                                    << c.usage1);
    ResetLibrary();
    Image img;
    PutFcr(img, 0, c.version, c.sizeByte, c.usage0);
    // The second copy names another page size: only the first copy's byte counts.
    PutFcr(img, c.fcrPageSize, c.version, 0x7F, c.usage1);
    // A different page count in each copy shows which copy the fields come from.
    Put32(img, 38, 100u << 16);
    Put32(img, c.fcrPageSize + 38, 200u << 16);
    if (c.version > 0x0950) {
      Put32(img, 38, 100);
      Put32(img, c.fcrPageSize + 38, 200);
    }
    img.resize(2u * c.fcrPageSize);
    ASSERT_EQ(1, QuietOpen(Write(img)));
    EXPECT_EQ(c.current, LLFileState.CurrentFcr);
    EXPECT_EQ(c.current ? 200u : 100u, LLFileState.PageCount);
    EXPECT_EQ(c.fcrPageSize, LLFileState.FcrPageSize);
  }
}

struct CountCase {
  uint16_t version;
  uint32_t count;
};

const CountCase CountCases[] = {
    {0x0300, 65538}, {0x0600, 65538}, {0x0700, 65538}, {0x0900, 65538},
    {0x0950, 65538}, {0x0D00, 131073}, {0x0D30, 131073},
};

TEST_F(FcrTest, PageCountHalfSwapUpToNinePointFifty)
{
  for (const CountCase& c : CountCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version);
    ResetLibrary();
    Image img;
    PutFcr(img, 0, c.version, 0x10, 1);
    PutBytes(img, 38, {0x01, 0x00, 0x02, 0x00});
    img.resize(16384 + 8192);
    ASSERT_EQ(1, QuietOpen(Write(img)));
    EXPECT_EQ(c.count, LLFileState.PageCount);
  }
}

// ------------------------------------------------------------ compression

struct CompressionCase {
  uint16_t version;
  uint16_t flags400;
  uint16_t flags156;
  int compressed;
  uint16_t physical;
  const char* out;
};

const char* const Compressed = "\nWarning: v9.50 files with Page Compression are not yet supported!\n\n";

const CompressionCase CompressionCases[] = {
    {0x0950, 0x2000, 0, 1, 2048, Compressed},
    {0x0950, 0xFFFF, 0, 1, 2048, Compressed},
    {0x0950, 0xDFFF, 0, 0, 4096, ""},
    {0x0950, 0, 0x2000, 0, 4096, ""},
    {0x0900, 0x2000, 0x2000, 0, 4096, ""},
    {0x0D00, 0, 0x2000, 1, 2048,
     "\nWarning: v9.50 files with Page Compression are not yet supported!\n\n"
     "\nWarning: v13.00 files are NOT completely supported!\n\n"},
    {0x0D00, 0x2000, 0, 0, 4096, "\nWarning: v13.00 files are NOT completely supported!\n\n"},
};

TEST_F(FcrTest, CompressionFlagAtFourHundredAndAtOneFiftySix)
{
  for (const CompressionCase& c : CompressionCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << c.flags400 << " "
                                    << c.flags156);
    ResetLibrary();
    // The flags and the physical page size sit in the current (second) copy only.
    Image img;
    PutFcr(img, 0, c.version, 0x10, 1);
    PutFcr(img, 8192, c.version, 0x10, 2);
    Put16(img, 8192 + 400, c.flags400);
    Put16(img, 8192 + 156, c.flags156);
    Put16(img, 8192 + 80, 2048);
    img.resize(16384 + 4096);
    Capture cap;
    ASSERT_EQ(1, LLOpenReadOnly(Write(img).c_str()));
    EXPECT_EQ(1, LLFileState.CurrentFcr);
    EXPECT_EQ(c.compressed, LLFileState.PageCompressed);
    EXPECT_EQ(c.physical, LLFileState.PhysicalPageSize);
    EXPECT_EQ(c.out, cap.Out());
  }
}

// ------------------------------------------------------------ refused sizes

struct RefusedCase {
  uint16_t version;
  uint8_t sizeByte;
  uint32_t fcrPageSize;  // derived size, for the message
  bool refused;
};

const RefusedCase RefusedCases[] = {
    {0x0600, 0x81, 33024, true},  {0x0600, 0xFF, 65280, true}, {0x0700, 0x90, 36864, true},
    {0x0800, 0x41, 33280, true},  {0x0900, 0x7F, 65024, true}, {0x0600, 0x00, 0, true},
    {0x0D00, 0x00, 0, true},      {0x0600, 0x80, 32768, false}, {0x0800, 0x40, 32768, false},
    {0x0400, 0x90, 36864, false},  // one FCR: nothing more is read
};

TEST_F(FcrTest, FcrPageSizeOutsideTheBufferIsRefused)
{
  for (const RefusedCase& c : RefusedCases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " " << (int)c.sizeByte);
    ResetLibrary();
    Image img;
    PutFcr(img, 0, c.version, c.sizeByte, 0);
    img.resize(140000, 0x11);  // long enough for any second read
    Capture cap;
    EXPECT_EQ(c.refused ? 0 : 1, LLOpenReadOnly(Write(img).c_str()));
    if (c.refused) {
      char expected[128];
      snprintf(expected, sizeof expected,
               "Not a Btrieve File: FCR page size %lu is outside 1 to 32768 bytes.\n",
               (unsigned long)c.fcrPageSize);
      EXPECT_EQ(expected, cap.Err());
      EXPECT_EQ(c.fcrPageSize, LLFileState.FcrPageSize);
    } else {
      EXPECT_EQ("", cap.Err());
    }
  }
}

// ------------------------------------------------------------ traces

TEST_F(FcrTest, VerboseLoadTracesOnTheirStreamsInOrder)
{
  Image img;
  PutFcr(img, 0, 0x0610, 0x10, 1);
  PutFcr(img, 4096, 0x0610, 0x10, 3);
  PutHighFirst32(img, 4096 + 38, 7);
  img.resize(3 * 4096);
  std::string path = Write(img);
  std::string cut = dir.Path("F");
  LLFileState.Verbose = 1;
  Capture cap;
  ASSERT_EQ(1, LLOpenReadOnly(path.c_str()));
  ASSERT_EQ(1, LLLoadFcr());
  EXPECT_EQ("Opening File <" + path + ">\r\nOpening File <" + path +
                ">...Opened\r\nOpening File <" + cut +
                ".^01>...Failed (2), No such file or directory\r\nOpening File <" + cut +
                ".^^^>...Loading FCR\r\nFile Version Found = 0610\n"
                "File Version Found = 0610\n",
            cap.Err());
  const char* once = "Attempting to set position to Extent 00, Offset 00000000:00000000\n"
                     "Attempting to set position to Extent 00, Offset 00000000:00001000\n"
                     "Found 7 pages in file.\n";
  EXPECT_EQ(std::string(once) + once, cap.Out());
}

TEST_F(FcrTest, SecondLoadRepeatsTheWarnings)
{
  Image img;
  PutFcr(img, 0, 0x0D30, 0x10, 0);
  PutFcr(img, 8192, 0x0D30, 0x10, 0);
  img.resize(16384 + 16384);
  Capture cap;
  ASSERT_EQ(1, LLOpenReadOnly(Write(img).c_str()));
  ASSERT_EQ(1, LLLoadFcr());
  EXPECT_EQ("\nWarning: v16 files are NOT completely supported!\n\n"
            "\nWarning: v16 files are NOT completely supported!\n\n",
            cap.Out());
}

// ------------------------------------------------------------ damaged files

// A small deterministic generator, so that a failure can be replayed.
struct Random {
  uint64_t state;
  uint32_t Next()
  {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (uint32_t)(state >> 33);
  }
};

// Truncated, zeroed and random files with hostile page-size bytes and PATs
// that point anywhere: every operation of the file set, the FCR and the PAT
// must stay inside its buffers and never divide by zero (the sanitizer build
// turns any such fault into a failure).
TEST_F(FcrTest, DamagedFilesStayInsideTheBuffers)
{
  const uint16_t versions[] = {0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0620, 0x0700,
                               0x0800, 0x0900, 0x0950, 0x0D00, 0x0D30, 0x8000, 0xFFFF, 0};
  Random random{12345};
  std::string path = dir.Path("R.DAT");
  int opened = 0;
  for (int round = 0; round < 400; round++) {
    SCOPED_TRACE(round);
    ResetLibrary();
    size_t size = random.Next() % 3 == 0 ? random.Next() % 1024 : random.Next() % 70000;
    Image img(size, 0);
    int fill = random.Next() % 3;  // zeroed, random, or sparse random bytes
    for (size_t i = 0; i < size; i++)
      img[i] = fill == 0 ? 0 : fill == 1 ? (uint8_t)random.Next() : (random.Next() % 16 ? 0 : (uint8_t)random.Next());
    if (size >= 512 && random.Next() % 4 != 0) {
      uint16_t version = versions[random.Next() % (sizeof versions / sizeof versions[0])];
      uint8_t sizeByte = (uint8_t)random.Next();
      if (random.Next() % 2)
        sizeByte = (uint8_t)(1u << (random.Next() % 8));
      Image head(512, 0);
      for (size_t i = 0; i < 512; i++)
        head[i] = img[i];
      PutFcr(head, 0, version, sizeByte, random.Next());
      PutBytes(img, 0, head);
    }
    LLFileState.Verbose = (int)(random.Next() % 2);
    ASSERT_TRUE(WriteImage(path, img));
    Capture cap;
    if (LLOpenReadOnly(path.c_str()) != 0) {
      opened++;
      for (uint32_t logical : {0u, 1u, 2u, 300u, 477u, 1000u, 70000u, 0xFFFFFFFFu,
                               random.Next()}) {
        uint32_t physical = 0;
        uint16_t extra = 0, span = 0;
        LLLogicalToPhysical(logical, &physical, &extra, &span);
        int32_t part = 0;
        uint32_t offset = 0;
        LLPageToPart(physical, &part, &offset);
        EXPECT_GE(part, 0);
        EXPECT_LT(part, (int32_t)LLFileState.PartCount);
        LLPageToOffset(physical);
        uint32_t page = 0;
        LLPartToPage(0, offset, &page);
        LLPartToPage64(0, offset, &page);
      }
      uint16_t part = 0;
      LLSeekPatPair(random.Next(), &part);
      LLPatEntriesPerPageAlt();
      LLLoadFcr();
    }
    LLCloseAll();
  }
  // Enough of the damaged files pass the load to reach the PAT code.
  printf("%d of 400 damaged files opened\n", opened);
  EXPECT_GT(opened, 100);
}

}  // namespace
