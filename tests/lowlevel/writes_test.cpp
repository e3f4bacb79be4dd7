// Page and table writing: where every write puts its bytes in every version,
// the refusals (version, compression, read-only sets), the PAT entry writer,
// writes over equal-sized parts, round trips that leave a file set byte for
// byte unchanged, and a short write that must not pass for a whole one.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "Common/LittleEndian.h"
#include "TestFiles.h"
#if HALVORN_HAVE_BTBUILD
#include "tools/btbuild/BtBuild.h"
#endif

using namespace lltest;

namespace {

// ------------------------------------------------------------ small file sets
//
// Both FCR copies (copy 0 current), PAT pair 1 from 6.0 on (copy 1 in force,
// usage counts 1 and 2), and `pages` pages of PhysicalPageSize bytes.

Image MakeSet(const Layout& l, uint32_t pages)
{
  Image img(static_cast<size_t>(pages) * l.physicalPageSize, 0);
  // Noise everywhere but in the FCR fields the load reads, so that a write
  // that puts back the wrong bytes shows.
  uint32_t seed = 12345;
  for (size_t i = 0; i < img.size(); i++) {
    seed = seed * 1103515245u + 12345u;
    img[i] = static_cast<uint8_t>(seed >> 16);
  }
  uint8_t sizeByte = static_cast<uint8_t>(l.pageSize / 256);
  for (uint32_t copy = 0; copy < (l.version >= 0x0600 ? 2u : 1u); copy++) {
    size_t at = copy * l.fcrPageSize;
    std::fill(img.begin() + at, img.begin() + at + 420, 0);
    PutFcr(img, at, l.version, sizeByte, copy == 0 ? 1 : 0);
    if (l.physicalPageSize != l.pageSize) {
      Put16(img, at + (l.version == 0x0950 ? 400 : 156), 0x2000);
      Put16(img, at + 80, l.physicalPageSize);
    }
  }
  if (l.version >= 0x0600) {
    for (uint32_t copy = 0; copy < 2; copy++) {
      size_t at = l.pat1 + copy * l.fcrPageSize;
      Put32(img, at, 0x00005050);  // the same identification in both copies
      Put32(img, at + 4, 0);
      Put32(img, at + l.usageAt, copy + 1);
    }
  }
  return img;
}

size_t EntryAt(const Layout& l, int copy, uint32_t logical)
{
  return l.pat1 + copy * l.fcrPageSize + l.entryAt + l.entrySize * (logical - 1);
}

void MapPage(Image& img, const Layout& l, uint32_t logical, uint32_t physical, uint8_t extra,
             uint16_t span = 1)
{
  for (int copy = 0; copy < 2; copy++) {
    size_t at = EntryAt(l, copy, logical);
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

void Patch(Image& img, size_t at, const uint8_t* bytes, size_t count)
{
  memcpy(img.data() + at, bytes, count);
}

std::string Hex(uint16_t v)
{
  char s[8];
  snprintf(s, sizeof s, "%.4x", v);
  return s;
}

class WritesTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
  std::string Put(const Image& img, const std::string& name = "W.DAT")
  {
    std::string path = dir.Path(name);
    EXPECT_TRUE(WriteImage(path, img));
    return path;
  }
  TempDir dir;
};

// ------------------------------------------------------------ the write table

const uint32_t MappedPhysical = 60;  // logical page 1
const uint32_t SecondPhysical = 61;  // logical page 2
const uint32_t PhysicalTarget = 62;
const uint64_t OffsetTarget = 50000;
const uint32_t PartOffset = 51000;
const uint64_t AcrossOffset = 52000;

struct WriteOp {
  const char* name;
  uint16_t minVersion;     // below it the write is refused
  bool pageWrite;          // refused when pages are compressed
  std::function<int(const Layout&)> run;
  std::function<void(Image&, const Layout&)> expect;
};

PageHeaderRecord HeaderSource()
{
  PageHeaderRecord h;
  for (int i = 0; i < 18; i++)
    h.Bytes[i] = static_cast<uint8_t>(0xD0 + i);
  return h;
}

std::vector<uint8_t> PageSource(size_t n)
{
  std::vector<uint8_t> page(n);
  for (size_t i = 0; i < n; i++)
    page[i] = static_cast<uint8_t>(0xE0 + i % 16);
  return page;
}

uint32_t LogicalOnePhysical(const Layout& l) { return l.version < 0x0600 ? 1 : MappedPhysical; }

std::vector<WriteOp> WriteOps()
{
  static const PageHeaderRecord header = HeaderSource();
  return {
      {"LLWriteFcrPair", 0x0600, false,
       [](const Layout&) {
         LLFileState.FcrBuffers[0][500] = 0xA1;
         LLFileState.FcrBuffers[1][500] = 0xA2;
         return LLWriteFcrPair();
       },
       [](Image& img, const Layout& l) {
         img[500] = 0xA1;
         img[l.fcrPageSize + 500] = 0xA2;
       }},
      {"LLWriteAuxPair", 0x0800, false,
       [](const Layout& l) {
         if (l.version >= 0x0800 && !LLLoadAuxPair())
           return -1;
         LLFileState.AuxBuffers[0][300] = 0xB1;
         LLFileState.AuxBuffers[1][300] = 0xB2;
         return LLWriteAuxPair();
       },
       [](Image& img, const Layout& l) {
         img[2 * l.fcrPageSize + 300] = 0xB1;
         img[3 * l.fcrPageSize + 300] = 0xB2;
       }},
      {"LLWritePatPair", 0x0600, false,
       [](const Layout& l) {
         if (l.version >= 0x0600 && !LLLoadPatPair(1))
           return -1;
         LLFileState.PatBuffers[0][l.fcrPageSize - 1] = 0xC1;
         LLFileState.PatBuffers[1][l.fcrPageSize - 1] = 0xC2;
         return LLWritePatPair(1);
       },
       [](Image& img, const Layout& l) {
         img[l.pat1 + l.fcrPageSize - 1] = 0xC1;
         img[l.pat1 + 2 * l.fcrPageSize - 1] = 0xC2;
       }},
      {"LLSetPatEntry", 0x0600, false,
       [](const Layout&) { return LLSetPatEntry(2, 0x000033, 0x56); },
       [](Image& img, const Layout& l) {
         size_t at = EntryAt(l, 1, 2);  // the copy in force only
         if (l.version < 0x0800) {
           const uint8_t entry[4] = {0x00, 0x56, 0x33, 0x00};
           Patch(img, at, entry, 4);
         } else {
           const uint8_t entry[6] = {0x33, 0x00, 0x00, 0x00, 0x56, 0x00};
           Patch(img, at, entry, 6);
         }
       }},
      {"LLWriteLogicalHeader", 0, false,
       [](const Layout&) { return LLWriteLogicalHeader(1, &header); },
       [](Image& img, const Layout& l) {
         Patch(img, PageAt(l, LogicalOnePhysical(l)), header.Bytes, l.headerLength);
       }},
      {"LLWritePhysicalHeader", 0, false,
       [](const Layout&) { return LLWritePhysicalHeader(PhysicalTarget, &header); },
       [](Image& img, const Layout& l) {
         Patch(img, PageAt(l, PhysicalTarget), header.Bytes, l.headerLength);
       }},
      {"LLWriteHeaderAt", 0, false,
       [](const Layout&) { return LLWriteHeaderAt(OffsetTarget, &header); },
       [](Image& img, const Layout& l) {
         Patch(img, OffsetTarget, header.Bytes, l.headerLength);
       }},
      {"LLWriteLogicalPage", 0, true,
       [](const Layout& l) { return LLWriteLogicalPage(1, PageSource(l.physicalPageSize).data()); },
       [](Image& img, const Layout& l) {
         Patch(img, PageAt(l, LogicalOnePhysical(l)), PageSource(l.pageSize).data(), l.pageSize);
       }},
      {"LLWritePhysicalPage", 0, true,
       [](const Layout& l) {
         return LLWritePhysicalPage(PhysicalTarget, PageSource(2u * l.physicalPageSize).data(), 2);
       },
       [](Image& img, const Layout& l) {
         Patch(img, PageAt(l, PhysicalTarget), PageSource(2u * l.pageSize).data(),
               2u * l.pageSize);
       }},
      {"LLWritePagesAt", 0, true,
       [](const Layout& l) {
         return LLWritePagesAt(OffsetTarget, PageSource(l.physicalPageSize).data(), 1);
       },
       [](Image& img, const Layout& l) {
         Patch(img, OffsetTarget, PageSource(l.pageSize).data(), l.pageSize);
       }},
      {"LLWritePartHeader", 0, false,
       [](const Layout&) { return LLWritePartHeader(0, PartOffset, &header); },
       [](Image& img, const Layout& l) { Patch(img, PartOffset, header.Bytes, l.headerLength); }},
      {"LLWritePartPage", 0, true,
       [](const Layout& l) { return LLWritePartPage(0, PartOffset, PageSource(l.pageSize).data()); },
       [](Image& img, const Layout& l) {
         Patch(img, PartOffset, PageSource(l.pageSize).data(), l.pageSize);
       }},
      {"LLWriteAcrossParts", 0, false,
       [](const Layout&) { return LLWriteAcrossParts(AcrossOffset, PageSource(10).data(), 10); },
       [](Image& img, const Layout&) { Patch(img, AcrossOffset, PageSource(10).data(), 10); }},
  };
}

std::vector<Layout> TableLayouts()
{
  return {LayoutFor(0x0500, 1024), LayoutFor(0x0600, 1024),      LayoutFor(0x0700, 1024),
          LayoutFor(0x0800, 1024), LayoutFor(0x0950, 1024),      LayoutFor(0x0D00, 1024),
          LayoutFor(0x0950, 1024, 512)};
}

Image TableImage(const Layout& l)
{
  Image img = MakeSet(l, 65536 / l.physicalPageSize);
  if (l.version >= 0x0600) {
    MapPage(img, l, 1, MappedPhysical, 'D', 1);
    MapPage(img, l, 2, SecondPhysical, 'D', 1);
  }
  return img;
}

TEST_F(WritesTest, EveryWriteOfTheTablePerVersion)
{
  for (const Layout& l : TableLayouts()) {
    bool compressed = l.physicalPageSize != l.pageSize;
    for (const WriteOp& op : WriteOps()) {
      SCOPED_TRACE(std::string(op.name) + " on " + Hex(l.version) +
                   (compressed ? " compressed" : ""));
      ResetLibrary();
      Image img = TableImage(l);
      std::string path = Put(img);
      ASSERT_NE(0, QuietOpen(path, 1));
      ASSERT_EQ(compressed ? 1 : 0, LLFileState.PageCompressed);
      bool refused = l.version < op.minVersion || (op.pageWrite && compressed);
      Capture cap;
      int result = op.run(l);
      cap.Stop();
      LLCloseAll();
      EXPECT_EQ(refused ? 0 : 1, result);
      EXPECT_EQ("", cap.Out());
      EXPECT_EQ("", cap.Err());
      Image expected = img;
      if (!refused)
        op.expect(expected, l);
      EXPECT_TRUE(expected == ReadWholeFile(path));
    }
  }
}

TEST_F(WritesTest, EveryWriteFailsOnAReadOnlySet)
{
  for (const Layout& l : TableLayouts()) {
    for (const WriteOp& op : WriteOps()) {
      SCOPED_TRACE(std::string(op.name) + " on " + Hex(l.version));
      ResetLibrary();
      Image img = TableImage(l);
      std::string path = Put(img);
      ASSERT_NE(0, QuietOpen(path, 0));
      Capture cap;
      int result = op.run(l);
      cap.Stop();
      LLCloseAll();
      EXPECT_EQ(0, result);
      EXPECT_TRUE(img == ReadWholeFile(path));
    }
  }
}

TEST_F(WritesTest, FcrPairOfAPageSizeNotAMultipleOf512)
{
  // 768-byte pages (a damaged page-size byte): the second copy was read at
  // byte 768 and goes back there, not to block 1 over the first copy's end.
  Layout l = LayoutFor(0x0600, 768);
  Image img = MakeSet(l, 16);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  ASSERT_EQ(768, LLFileState.FcrPageSize);
  LLFileState.FcrBuffers[1][700] ^= 0xFF;
  ASSERT_EQ(1, LLWriteFcrPair());
  LLCloseAll();
  Image expected = img;
  expected[768 + 700] ^= 0xFF;
  EXPECT_TRUE(expected == ReadWholeFile(path));
}

TEST_F(WritesTest, TableWritesRefuseAnFcrPageSizeAboveTheBuffers)
{
  // Only a damaged FCR gives an FCR page size above the 32768-byte buffers;
  // the table writes refuse it rather than write from past their buffers.
  Layout l = LayoutFor(0x0800, 1024);
  Image img = TableImage(l);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  ASSERT_EQ(1, LLLoadAuxPair());
  ASSERT_EQ(1, LLLoadPatPair(1));
  LLFileState.FcrPageSize = 0xC000;
  EXPECT_EQ(0, LLWriteFcrPair());
  EXPECT_EQ(0, LLWriteAuxPair());
  EXPECT_EQ(0, LLWritePatPair(1));
  LLCloseAll();
  EXPECT_TRUE(img == ReadWholeFile(path));
}

// ------------------------------------------------------------ PAT pairs and entries

TEST_F(WritesTest, PatPairOtherThanTheLoadedOne)
{
  Layout l = LayoutFor(0x0700, 1024);
  Image img = TableImage(l);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  {
    Capture cap;  // no pair loaded after the open
    EXPECT_EQ(0, LLWritePatPair(1));
    EXPECT_EQ("Writing to incorrect PAT Pair!!!\r\n", cap.Err());
    EXPECT_EQ("", cap.Out());
  }
  ASSERT_EQ(1, LLLoadPatPair(1));
  {
    Capture cap;
    EXPECT_EQ(0, LLWritePatPair(2));
    EXPECT_EQ("Writing to incorrect PAT Pair!!!\r\n", cap.Err());
  }
  LLCloseAll();
  EXPECT_TRUE(img == ReadWholeFile(path));
}

TEST_F(WritesTest, SetPatEntryOnASixFile)
{
  Layout l = LayoutFor(0x0600, 1024);
  Image img = TableImage(l);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  ASSERT_EQ(1, LLSetPatEntry(3, 0x127856, 0x34));
  uint32_t physical = 0;
  uint16_t extra = 0, span = 0;
  ASSERT_EQ(1, LLLogicalToPhysical(3, &physical, &extra, &span));
  EXPECT_EQ(0x127856u, physical);
  EXPECT_EQ(0x34, extra);
  // A page above 24 bits would merge into EntryExtra: refused, nothing written.
  EXPECT_EQ(0, LLSetPatEntry(3, 0x01000000, 0x34));
  LLCloseAll();

  Image now = ReadWholeFile(path);
  const uint8_t fileOrder[4] = {0x12, 0x34, 0x56, 0x78};
  Image expected = img;
  Patch(expected, EntryAt(l, 1, 3), fileOrder, 4);
  EXPECT_TRUE(expected == now);  // the other copy and everything else unchanged

  // A fresh open translates to the new page too.
  ResetLibrary();
  ASSERT_NE(0, QuietOpen(path, 0));
  ASSERT_EQ(1, LLLogicalToPhysical(3, &physical, &extra, &span));
  EXPECT_EQ(0x127856u, physical);
  EXPECT_EQ(0x34, extra);
}

TEST_F(WritesTest, SetPatEntryKeepsThePageSpan)
{
  Layout l = LayoutFor(0x0950, 1024, 512);
  Image img = TableImage(l);
  MapPage(img, l, 4, 70, 'D', 3);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  ASSERT_EQ(1, LLSetPatEntry(4, 90, 0x44));
  uint32_t physical = 0;
  uint16_t extra = 0, span = 0;
  ASSERT_EQ(1, LLLogicalToPhysical(4, &physical, &extra, &span));
  EXPECT_EQ(90u, physical);
  EXPECT_EQ(0x44, extra);
  EXPECT_EQ(3, span);
  LLCloseAll();
  Image expected = img;
  const uint8_t entry[8] = {90, 0, 0, 0, 0x44, 0, 3, 0};
  Patch(expected, EntryAt(l, 1, 4), entry, 8);
  EXPECT_TRUE(expected == ReadWholeFile(path));
}

TEST_F(WritesTest, SetPatEntryBeyondTheStoredEntriesIsRefused)
{
  // Above 9.50 with 1024-byte pages the PAT page holds 2048 bytes, fewer than
  // the 476 entries the pair counts: entry 300 could never reach the file.
  Layout l = LayoutFor(0x0D00, 1024);
  Image img = TableImage(l);
  std::string path = Put(img);
  ASSERT_NE(0, QuietOpen(path, 1));
  EXPECT_EQ(0, LLSetPatEntry(301, 5, 0x44));
  LLCloseAll();
  EXPECT_TRUE(img == ReadWholeFile(path));
}

// ------------------------------------------------------------ equal-sized parts

struct AcrossCase {
  const char* what;
  int parts;         // 1 to 3
  uint64_t offset;   // in units of S plus a remainder: S * k + r
  int sizes;         // 0: parts as large as the base file; 1: part 1 twice as large
  int ok;
  int part;          // where the bytes land
  uint64_t at;
};

TEST_F(WritesTest, WriteAcrossParts)
{
  Layout l = LayoutFor(0x0700, 1024);
  const uint64_t S = 16384;
  const AcrossCase cases[] = {
      {"offset S + 100 lands in part 1 at 100", 2, S + 100, 0, 1, 1, 100},
      {"ending exactly at the end of part 0 fails", 2, S - 10, 0, 0, 0, 0},
      {"ending before the end of part 0", 2, S - 20, 0, 1, 0, S - 20},
      {"part 2 at 5", 3, 2 * S + 5, 0, 1, 2, 5},
      {"past the last part", 2, 2 * S + 5, 0, 0, 0, 0},
      {"every step uses the base file's size", 3, 2 * S + 5, 1, 1, 2, 5},
      {"one part: the offset unchanged, past its end", 1, S, 0, 1, 0, S},
  };
  for (const AcrossCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetLibrary();
    TempDir d;
    std::vector<Image> parts;
    parts.push_back(MakeSet(l, static_cast<uint32_t>(S / 1024)));
    for (int p = 1; p < c.parts; p++)
      parts.push_back(Image(p == 1 && c.sizes == 1 ? 2 * S : S, static_cast<uint8_t>(p)));
    const char* names[] = {"A.DAT", "A.^01", "A.^02"};
    for (int p = 0; p < c.parts; p++)
      ASSERT_TRUE(WriteImage(d.Path(names[p]), parts[p]));
    ASSERT_EQ(c.parts, QuietOpen(d.Path("A.DAT"), 1));
    uint8_t bytes[10] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    uint32_t n = c.offset == S + 100 ? 50 : 10;
    std::vector<uint8_t> source(n, 0x77);
    memcpy(source.data(), bytes, 10);
    EXPECT_EQ(c.ok, LLWriteAcrossParts(c.offset, source.data(), n));
    LLCloseAll();
    for (int p = 0; p < c.parts; p++) {
      Image expected = parts[p];
      if (c.ok && p == c.part) {
        Grow(expected, c.at + n);
        Patch(expected, c.at, source.data(), n);
      }
      EXPECT_TRUE(expected == ReadWholeFile(d.Path(names[p]))) << "part " << p;
    }
  }
}

TEST_F(WritesTest, WriteAcrossPartsTraceAndEmptyBase)
{
  Layout l = LayoutFor(0x0700, 1024);
  ASSERT_TRUE(WriteImage(dir.Path("B.DAT"), MakeSet(l, 16)));
  ASSERT_TRUE(WriteImage(dir.Path("B.^01"), Image(16384, 1)));
  ASSERT_EQ(2, QuietOpen(dir.Path("B.DAT"), 1));
  uint8_t bytes[50] = {0};
  LLFileState.Verbose = 1;
  {
    Capture cap;
    EXPECT_EQ(1, LLWriteAcrossParts(16384 + 100, bytes, 50));
    EXPECT_EQ(0, LLWriteAcrossParts(16384 - 10, bytes, 10));
    EXPECT_EQ("Attempting to set position to Extent 01, Offset 00000000:00000064 for writing "
              "data!\n"
              "Attempting to set position to Extent 01, Offset ffffffff:fffffff6 for writing "
              "data!\n",
              cap.Out());
  }
  LLFileState.Verbose = 0;
  LLCloseAll();

  // An empty base file with a part after it: the open fails on the FCR but
  // keeps both parts, and the stepping could never progress: refused.
  ResetLibrary();
  ASSERT_TRUE(WriteImage(dir.Path("E.DAT"), Image()));
  ASSERT_TRUE(WriteImage(dir.Path("E.^01"), Image(4096, 1)));
  QuietOpen(dir.Path("E.DAT"), 1);
  ASSERT_EQ(2, LLFileState.PartCount);
  EXPECT_EQ(0, LLWriteAcrossParts(100, bytes, 10));
  LLCloseAll();
  EXPECT_TRUE(Image(4096, 1) == ReadWholeFile(dir.Path("E.^01")));
}

// ------------------------------------------------------------ short writes

TEST_F(WritesTest, AShortWriteIsAFailure)
{
  // Under a file-size limit the system writes only the bytes below it and
  // reports that count; the rest fails with EFBIG (SIGXFSZ ignored). A write
  // that ends past the limit must fail, not pass for a whole one. Run in a
  // child so that the limit stays there.
  Layout l = LayoutFor(0x0700, 1024);
  Image img = MakeSet(l, 16);
  std::string path = Put(img);
  const uint64_t size = img.size();
  fflush(nullptr);
  pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = size + 100;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
      _exit(100);
    int fd = open("/dev/null", O_WRONLY);
    dup2(fd, 1);  // the open's messages go nowhere
    dup2(fd, 2);
    if (LLOpenReadWrite(path.c_str()) == 0)
      _exit(101);
    std::vector<uint8_t> page(4096, 0x5A);
    int failures = 0;
    failures |= LLWriteAcrossParts(size, page.data(), 1000) == 0 ? 1 : 0;
    failures |= LLWritePartPage(0, static_cast<uint32_t>(size - 24), page.data()) == 0 ? 2 : 0;
    failures |= LLWritePagesAt(size - 24, page.data(), 1) == 0 ? 4 : 0;
    // Writes that stay under the limit still succeed.
    failures |= LLWriteAcrossParts(size, page.data(), 50) == 1 ? 8 : 0;
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(15, WEXITSTATUS(status));
}

// ------------------------------------------------------------ round trips

void RoundTrip(const std::string& path, bool aux)
{
  ASSERT_NE(0, QuietOpen(path, 1));
  ASSERT_EQ(1, LLWriteFcrPair());
  ASSERT_EQ(1, LLLoadPatPair(1));
  ASSERT_EQ(1, LLWritePatPair(1));
  if (aux) {
    ASSERT_EQ(1, LLLoadAuxPair());
    ASSERT_EQ(1, LLWriteAuxPair());
  }
  LLCloseAll();
}

TEST_F(WritesTest, RoundTripOfBuiltFilesLeavesThemUnchanged)
{
  for (const Layout& l : TableLayouts()) {
    if (l.version < 0x0600)
      continue;
    SCOPED_TRACE(Hex(l.version));
    ResetLibrary();
    Image img = TableImage(l);
    // Make the copy not in force the current FCR once, too.
    Put32(img, l.fcrPageSize + l.usageAt, 7);
    std::string path = Put(img);
    RoundTrip(path, l.version >= 0x0800);
    EXPECT_TRUE(img == ReadWholeFile(path));
  }
}

#if HALVORN_HAVE_BTBUILD
// The logical file of a built set: its parts' bytes end to end.
Image ReadParts(const BtBuildResult& r)
{
  Image all;
  for (int p = 0; p < r.Parts; p++) {
    char name[BtMaxPath];
    EXPECT_EQ(1, BtPartName(r.Set.Path, p, name, sizeof name));
    Image part = ReadWholeFile(name);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST_F(WritesTest, RoundTripOfBuilderFiles)
{
  struct {
    uint16_t version;
    uint32_t pageSize;
    uint64_t partSize;
    int currentCopy;
  } cases[] = {{0x0600, 4096, 0, 1}, {0x0610, 1024, 0, 0}, {0x0700, 2048, 0, 1},
               {0x0800, 4096, 0, 0}, {0x0900, 1024, 0, 1}, {0x0950, 4096, 32768, 1},
               {0x0D00, 4096, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.version));
    ResetLibrary();
    BtDataSpec spec;
    BtDefaultDataSpec(&spec, c.version, c.pageSize);
    spec.Records = 300;
    spec.FreeEvery = 7;
    spec.PartSize = c.partSize;
    spec.CurrentCopy = c.currentCopy;
    BtBuildResult r;
    std::string path = dir.Path("BT" + Hex(c.version) + ".DAT");
    ASSERT_EQ(1, BtBuildFileSet(&spec, path.c_str(), &r)) << r.Error;
    Image before = ReadParts(r);
    if (c.partSize != 0) {
      ASSERT_GE(r.Parts, 2);
    }

    // Load and write back every control structure: nothing changes.
    ASSERT_EQ(r.Parts, QuietOpen(path, 1));
    ASSERT_EQ(1, LLWriteFcrPair());
    for (uint32_t pair = 1; pair <= r.PatPairs; pair++) {
      ASSERT_EQ(1, LLLoadPatPair(pair));
      ASSERT_EQ(1, LLWritePatPair(pair));
    }
    if (c.version >= 0x0800) {
      ASSERT_EQ(1, LLLoadAuxPair());
      ASSERT_EQ(1, LLWriteAuxPair());
    }
    LLCloseAll();
    EXPECT_TRUE(before == ReadParts(r));

    // One entry set: the translation gives the new page, and only the copy
    // in force changed, in that entry's bytes alone.
    ResetLibrary();
    ASSERT_EQ(r.Parts, QuietOpen(path, 1));
    uint32_t target = r.LogicalToPhysical[r.LogicalPages];
    ASSERT_EQ(1, LLSetPatEntry(2, target, 0x44));
    ASSERT_EQ(1, LLLoadPatPair(1));
    int current = LLFileState.CurrentPat;
    uint64_t entry = BtPatEntryOffset(&r.Geometry, 1, current, 1);
    LLCloseAll();
    ResetLibrary();
    ASSERT_EQ(r.Parts, QuietOpen(path, 0));
    uint32_t physical = 0;
    uint16_t extra = 0, span = 0;
    ASSERT_EQ(1, LLLogicalToPhysical(2, &physical, &extra, &span));
    EXPECT_EQ(target, physical);
    EXPECT_EQ(0x44, extra);
    LLCloseAll();
    Image after = ReadParts(r);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); i++) {
      if (i < entry || i >= entry + std::min<uint32_t>(r.Geometry.PatEntrySize, 6)) {
        ASSERT_EQ(before[i], after[i]) << "byte " << i;
      }
    }
    EXPECT_NE(0, memcmp(before.data() + entry, after.data() + entry, 4));
    BtFreeBuildResult(&r);
  }
}
#endif

std::string SamplePath(const char* name) { return std::string(HALVORN_SAMPLES_DIR) + "/" + name; }

bool HaveSample(const char* name)
{
  struct stat info;
  return stat(SamplePath(name).c_str(), &info) == 0;
}

TEST_F(WritesTest, RoundTripOfRealSamplesLeavesThemUnchanged)
{
  const char* samples[] = {"GALTELA.DAT", "WGSMENU2.DAT", "ELWKYR.DAT", "MULTIACS.DAT"};
  int found = 0;
  for (const char* name : samples) {
    if (!HaveSample(name))
      continue;
    found++;
    SCOPED_TRACE(name);
    ResetLibrary();
    Image img = ReadWholeFile(SamplePath(name));
    std::string path = Put(img, name);
    RoundTrip(path, false);
    EXPECT_TRUE(img == ReadWholeFile(path));
  }
  if (found == 0)
    GTEST_SKIP() << "samples folder " << HALVORN_SAMPLES_DIR << " is absent; skipping";
}

TEST_F(WritesTest, SetPatEntryOnARealSample)
{
  if (!HaveSample("GALTELA.DAT"))
    GTEST_SKIP() << "sample file " << SamplePath("GALTELA.DAT") << " is absent; skipping";
  Image img = ReadWholeFile(SamplePath("GALTELA.DAT"));
  std::string path = Put(img, "GALTELA.DAT");
  ASSERT_NE(0, QuietOpen(path, 1));
  uint32_t before = 0;
  uint16_t extra = 0, span = 0;
  ASSERT_EQ(1, LLLogicalToPhysical(5, &before, &extra, &span));
  ASSERT_EQ(1, LLLoadPatPair(1));
  int current = LLFileState.CurrentPat;
  size_t entry = 2 * 4096 + current * 4096 + 8 + 4 * 4;  // pair 1 at pages 2 and 3
  ASSERT_EQ(1, LLSetPatEntry(5, 30, extra));
  LLCloseAll();

  Image now = ReadWholeFile(path);
  ASSERT_EQ(img.size(), now.size());
  for (size_t i = 0; i < img.size(); i++) {
    if (i < entry || i >= entry + 4) {
      ASSERT_EQ(img[i], now[i]) << "byte " << i;  // the other copy among them
    }
  }
  ResetLibrary();
  ASSERT_NE(0, QuietOpen(path, 0));
  uint32_t after = 0;
  uint16_t extraAfter = 0;
  ASSERT_EQ(1, LLLogicalToPhysical(5, &after, &extraAfter, &span));
  EXPECT_EQ(30u, after);
  EXPECT_EQ(extra, extraAfter);
  EXPECT_NE(before, after);
  LLCloseAll();

  // Read-only, every write of the table fails and the copy stays as it is.
  Layout l = LayoutFor(0x0600, 4096);
  ResetLibrary();
  ASSERT_NE(0, QuietOpen(path, 0));
  for (const WriteOp& op : WriteOps()) {
    SCOPED_TRACE(op.name);
    Capture cap;
    EXPECT_EQ(0, op.run(l));
  }
  LLCloseAll();
  EXPECT_TRUE(now == ReadWholeFile(path));
}

}  // namespace
