// The file set: names of extension parts and the delta file, how the set
// ends, sharing of the open kinds, positioning and reads over the parts, the
// 6.x displacement, and the page/part conversions.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>

#include "TestFiles.h"

using namespace lltest;

namespace {

// A 4.00 base file with 512-byte pages, `size` bytes long (at least 512).
Image BaseV4(size_t size = 1024)
{
  Image img(size, 0);
  PutFcr(img, 0, 0x0400, 0x02);
  img.resize(size);
  return img;
}

Image Filled(size_t size, uint8_t value) { return Image(size, value); }

class FileSetTest : public ::testing::Test {
protected:
  void SetUp() override { ResetLibrary(); }
  void TearDown() override { ResetLibrary(); }
  TempDir dir;
};

// ------------------------------------------------------------ names

struct NameCase {
  const char* label;
  const char* folder;    // subfolder to create, or ""
  const char* base;      // base path, relative to the temp folder
  const char* part1;     // name the first extension part must carry
  const char* delta;     // name the delta file must carry
};

const NameCase NameCases[] = {
    {"extension", "", "DATA.MKD", "DATA.^01", "DATA.^^^"},
    {"no dot at all", "", "DATA", "DATA.^01", "DATA.^^^"},
    {"two dots", "", "a.b.c", "a.b.^01", "a.b.^^^"},
    {"dot in folder only", "my.dir", "my.dir/DATA", "my.^01", "my.^^^"},
    {"dot in folder and file", "my.dir", "my.dir/DATA.MKD", "my.dir/DATA.^01", "my.dir/DATA.^^^"},
};

TEST_F(FileSetTest, PartAndDeltaNamesAreCutAtTheLastDot)
{
  for (const NameCase& c : NameCases) {
    SCOPED_TRACE(c.label);
    ResetLibrary();
    TempDir d;
    if (c.folder[0])
      d.Mkdir(c.folder);
    ASSERT_TRUE(WriteImage(d.Path(c.base), BaseV4()));
    ASSERT_TRUE(WriteImage(d.Path(c.part1), Filled(512, 1)));
    ASSERT_TRUE(WriteImage(d.Path(c.delta), Filled(512, 2)));
    Capture cap;
    EXPECT_EQ(2, LLOpenReadOnly(d.Path(c.base).c_str()));
    EXPECT_EQ("Delta File Found and Opened!\r\n", cap.Err());
    EXPECT_EQ(2, LLFileState.PartCount);
    EXPECT_NE(PlatformInvalidFile, LLFileState.DeltaHandle);
    EXPECT_EQ(512, LLFileState.PartSizes[1]);
  }
}

TEST_F(FileSetTest, PartNumbersAreTwoLowerCaseHexDigits)
{
  std::string base = dir.Path("DATA.MKD");
  ASSERT_TRUE(WriteImage(base, BaseV4()));
  for (int n = 1; n <= 11; n++) {
    char name[16];
    snprintf(name, sizeof name, "DATA.^%.2x", n);
    ASSERT_TRUE(WriteImage(dir.Path(name), Filled(512, (uint8_t)n)));
  }
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(12, LLOpenReadOnly(base.c_str()));
  LLFileState.Verbose = 0;
  std::string d = dir.Root() + "/DATA";
  std::string expected = "Opening File <" + base + ">\r\n" + "Opening File <" + base +
                         ">...Opened\r\n";
  const char* numbers[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "0a", "0b"};
  for (const char* n : numbers)
    expected += "Opening File <" + d + ".^" + n + ">...Opened\r\n";
  expected += "Opening File <" + d + ".^0c>...Failed (2), No such file or directory\r\n";
  expected += "Opening File <" + d + ".^^^>...";  // no delta file: the line stays open
  expected += "Loading FCR\r\n";
  expected += "File Version Found = 0400\n";
  EXPECT_EQ(expected, cap.Err());
  // Positioning traces and the page count go to standard output.
  EXPECT_EQ("Attempting to set position to Extent 00, Offset 00000000:00000000\n"
            "Found 0 pages in file.\n",
            cap.Out());
}

TEST_F(FileSetTest, VerboseOpenWithDeltaFile)
{
  std::string base = dir.Path("V.DAT");
  ASSERT_TRUE(WriteImage(base, BaseV4()));
  ASSERT_TRUE(WriteImage(dir.Path("V.^^^"), Filled(512, 2)));
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(1, LLOpenShared(base.c_str()));
  std::string cut = dir.Path("V");
  EXPECT_EQ("Opening File <" + base + ">\r\nOpening File <" + base + ">...Opened\r\n" +
                "Opening File <" + cut + ".^01>...Failed (2), No such file or directory\r\n" +
                "Opening File <" + cut + ".^^^>...Delta File Found and Opened!\r\n" +
                "Loading FCR\r\nFile Version Found = 0400\n",
            cap.Err());
}

TEST_F(FileSetTest, AGapEndsTheSet)
{
  std::string base = dir.Path("DATA.MKD");
  ASSERT_TRUE(WriteImage(base, BaseV4()));
  ASSERT_TRUE(WriteImage(dir.Path("DATA.^01"), Filled(512, 1)));
  ASSERT_TRUE(WriteImage(dir.Path("DATA.^03"), Filled(512, 3)));
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(2, LLOpenReadOnly(base.c_str()));
  EXPECT_EQ(std::string::npos, cap.Err().find("^03")) << ".^03 must never be tried";
  EXPECT_NE(std::string::npos, cap.Err().find("DATA.^02>...Failed (2), "));
  EXPECT_EQ(PlatformInvalidFile, LLFileState.PartHandles[2]);
  EXPECT_EQ(0, LLFileState.PartSizes[2]);
}

TEST_F(FileSetTest, OneHundredTwentyEightPartsAndNoMore)
{
  std::string base = dir.Path("BIG.DAT");
  ASSERT_TRUE(WriteImage(base, BaseV4()));
  // Parts .^01 to .^7f, and a .^80 that must never be tried.
  for (int n = 1; n <= 0x80; n++) {
    char name[16];
    snprintf(name, sizeof name, "BIG.^%.2x", n);
    ASSERT_TRUE(WriteImage(dir.Path(name), Filled(1000, (uint8_t)n)));
  }
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(128, LLOpenReadOnly(base.c_str()));
  LLFileState.Verbose = 0;
  EXPECT_EQ(128, LLFileState.PartCount);
  EXPECT_EQ(std::string::npos, cap.Err().find("^80"));
  EXPECT_NE(std::string::npos, cap.Err().find("BIG.^7f>...Opened\r\nOpening File <"));
  // Each 1000-byte part adds one whole block; the base adds two.
  EXPECT_EQ(2u + 127u, LLFileState.TotalBlocks);
  for (int i = 0; i < 128; i++)
    EXPECT_NE(PlatformInvalidFile, LLFileState.PartHandles[i]) << i;
  LLCloseAll();
  for (int i = 0; i < 128; i++)
    EXPECT_EQ(PlatformInvalidFile, LLFileState.PartHandles[i]) << i;
}

TEST_F(FileSetTest, MissingBaseWithDeltaPresent)
{
  std::string base = dir.Path("GONE.DAT");
  ASSERT_TRUE(WriteImage(dir.Path("GONE.^^^"), Filled(512, 9)));
  Capture cap;
  EXPECT_EQ(0, LLOpenReadOnly(base.c_str()));
  EXPECT_EQ("Failed to Open File <" + base +
                ">, Status Code 2, No such file or directory\r\n"
                "Delta File Found and Opened!\r\n",
            cap.Err());
  EXPECT_EQ("", cap.Out());
  EXPECT_EQ(0, LLFileState.PartCount);
  EXPECT_NE(PlatformInvalidFile, LLFileState.DeltaHandle);
}

TEST_F(FileSetTest, MissingBaseVerbose)
{
  std::string base = dir.Path("GONE.DAT");
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(0, LLOpenReadOnly(base.c_str()));
  std::string cut = dir.Path("GONE");
  EXPECT_EQ("Opening File <" + base + ">\r\nOpening File <" + base +
                ">...Failed (2), No such file or directory\r\nOpening File <" + cut + ".^^^>...",
            cap.Err());
}

TEST_F(FileSetTest, EmptyBaseIsNotABtrieveFile)
{
  std::string base = dir.Path("EMPTY.DAT");
  ASSERT_TRUE(WriteImage(base, Image()));
  LLFileState.Verbose = 1;
  Capture cap;
  EXPECT_EQ(0, LLOpenReadOnly(base.c_str()));
  // Offset 0 of an empty base lies past its end: part 1 = PartCount.
  EXPECT_EQ("Attempting to set position to Extent 01, Offset 00000000:00000000\n", cap.Out());
  EXPECT_NE(std::string::npos, cap.Err().find("Loading FCR\r\nNot a Btrieve File!\n"));
}

TEST_F(FileSetTest, OverlongNamesAreRefused)
{
  // 255 characters: refused before anything is opened.
  std::string tooLong(255, 'x');
  {
    Capture cap;
    EXPECT_EQ(0, LLOpenReadOnly(tooLong.c_str()));
    EXPECT_EQ("File name longer than 254 characters: <" + tooLong + ">\n", cap.Err());
  }
  // 254 characters without a '.': the part names would need 258.
  std::string noDot(254, 'y');
  {
    Capture cap;
    EXPECT_EQ(0, LLOpenReadOnly(noDot.c_str()));
    EXPECT_EQ("Extension file names of <" + noDot + "> would be longer than 254 characters\n",
              cap.Err());
  }
  // A path of exactly 254 characters whose cut leaves room works.
  std::string prefix = dir.Root() + "/";
  std::string name = prefix + std::string(254 - prefix.size() - 4, 'z') + ".DAT";
  ASSERT_EQ(254u, name.size());
  ASSERT_TRUE(WriteImage(name, BaseV4()));
  ASSERT_TRUE(WriteImage(name.substr(0, 250) + ".^01", Filled(512, 1)));
  EXPECT_EQ(2, QuietOpen(name));
}

TEST_F(FileSetTest, FolderOrPipeIsNoFile)
{
  // A folder is refused as a file; a FIFO opens at once (no writer needed)
  // and reads as an empty file.
  std::string folder = dir.Mkdir("FOLDER.DAT");
  {
    Capture cap;
    EXPECT_EQ(0, LLOpenReadOnly(folder.c_str()));
    EXPECT_EQ("Failed to Open File <" + folder + ">, Status Code 21, Is a directory\r\n",
              cap.Err());
  }
  std::string fifo = dir.Path("PIPE.DAT");
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  Capture cap;
  EXPECT_EQ(0, LLOpenReadOnly(fifo.c_str()));
  EXPECT_EQ("Not a Btrieve File!\n", cap.Err());
}

// ------------------------------------------------------------ sharing

struct ShareCase {
  int holder;  // kind the file is already open with
  int opener;  // kind of the second open
  bool opens;
};

// Kind 0 takes an exclusive lock, kind 1 a shared one, kind 2 none.
const ShareCase ShareCases[] = {
    {0, 0, false}, {0, 1, false}, {0, 2, true},  {1, 0, false}, {1, 1, true},
    {1, 2, true},  {2, 0, true},  {2, 1, true},  {2, 2, true},  {7, 1, false},
};

TEST_F(FileSetTest, OpenKindsShareLikeSharingModes)
{
  std::string path = dir.Path("S.DAT");
  ASSERT_TRUE(WriteImage(path, BaseV4()));
  for (const ShareCase& c : ShareCases) {
    SCOPED_TRACE(testing::Message() << "holder " << c.holder << " opener " << c.opener);
    PlatformFile held = PlatformOpenFile(path.c_str(), c.holder);
    ASSERT_NE(PlatformInvalidFile, held);
    PlatformFile second = PlatformOpenFile(path.c_str(), c.opener);
    EXPECT_EQ(c.opens, second != PlatformInvalidFile);
    if (second == PlatformInvalidFile) {
      EXPECT_EQ((uint32_t)EWOULDBLOCK, PlatformLastError());
      EXPECT_NE(PlatformErrorFileNotFound, PlatformLastError());
    }
    PlatformClose(second);
    PlatformClose(held);
  }
}

TEST_F(FileSetTest, ReadWriteOpenWritesReadOnlyOpenDoesNot)
{
  std::string path = dir.Path("W.DAT");
  ASSERT_TRUE(WriteImage(path, Filled(16, 'a')));
  PlatformFile ro = PlatformOpenFile(path.c_str(), PlatformOpenShared);
  ASSERT_NE(PlatformInvalidFile, ro);
  ASSERT_TRUE(PlatformSeek(ro, 2));
  EXPECT_EQ(0, PlatformWrite(ro, "zz", 2));
  PlatformClose(ro);
  PlatformFile rw = PlatformOpenFile(path.c_str(), PlatformOpenReadWrite);
  ASSERT_NE(PlatformInvalidFile, rw);
  ASSERT_TRUE(PlatformSeek(rw, 2));
  EXPECT_EQ(1, PlatformWrite(rw, "zz", 2));
  int64_t size = 0;
  EXPECT_EQ(1, PlatformSeekEnd(rw, &size));
  EXPECT_EQ(16, size);
  PlatformClose(rw);
  EXPECT_EQ("aazzaaaaaaaaaaaa", std::string((const char*)ReadWholeFile(path).data(), 16));
}

TEST_F(FileSetTest, BaseHeldExclusivelyByAnotherProcess)
{
  std::string path = dir.Path("HELD.DAT");
  ASSERT_TRUE(WriteImage(path, BaseV4()));
  int ready[2];
  int release[2];
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(release));
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = open(path.c_str(), O_RDONLY);
    char c = (fd >= 0 && flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1)
      _exit(1);
    if (read(release[0], &c, 1) < 0)
      _exit(1);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  ASSERT_EQ('y', c);
  {
    Capture cap;
    EXPECT_EQ(0, LLOpenReadOnly(path.c_str()));
    EXPECT_EQ("Failed to Open File <" + path +
                  ">, Status Code 11, Resource temporarily unavailable\r\n",
              cap.Err());
  }
  ResetLibrary();
  // The shared kind takes no lock and opens all the same.
  EXPECT_EQ(1, QuietOpen(path, 2));
  ResetLibrary();
  EXPECT_EQ(1, write(release[1], "x", 1));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // Once the holder is gone the exclusive open succeeds.
  EXPECT_EQ(1, QuietOpen(path, 0));
  for (int fd : {ready[0], ready[1], release[0], release[1]})
    close(fd);
}

TEST_F(FileSetTest, LaterPartThatCannotBeSharedEndsTheSetWithALine)
{
  std::string base = dir.Path("P.DAT");
  ASSERT_TRUE(WriteImage(base, BaseV4()));
  ASSERT_TRUE(WriteImage(dir.Path("P.^01"), Filled(512, 1)));
  ASSERT_TRUE(WriteImage(dir.Path("P.^02"), Filled(512, 2)));
  PlatformFile held = PlatformOpenFile(dir.Path("P.^01").c_str(), PlatformOpenReadExclusive);
  ASSERT_NE(PlatformInvalidFile, held);
  Capture cap;
  EXPECT_EQ(1, LLOpenReadOnly(base.c_str()));
  EXPECT_EQ("Failed to Open File <" + dir.Path("P.^01") +
                ">, Status Code 11, Resource temporarily unavailable\r\n",
            cap.Err());
  PlatformClose(held);
}

// ------------------------------------------------------------ positioning

class PartsTest : public FileSetTest {
protected:
  // Base of 1024 bytes, an empty part 1, part 2 of 2048 bytes, part 3 of 512.
  void SetUp() override
  {
    FileSetTest::SetUp();
    base = dir.Path("L.DAT");
    Image b = BaseV4(1024);
    for (size_t i = 512; i < 1024; i++)
      b[i] = 0xB0;
    ASSERT_TRUE(WriteImage(base, b));
    ASSERT_TRUE(WriteImage(dir.Path("L.^01"), Image()));
    Image p2(2048);
    for (size_t i = 0; i < p2.size(); i++)
      p2[i] = (uint8_t)(0x20 + i / 256);
    ASSERT_TRUE(WriteImage(dir.Path("L.^02"), p2));
    ASSERT_TRUE(WriteImage(dir.Path("L.^03"), Filled(512, 0x33)));
    ASSERT_EQ(4, QuietOpen(base, 1));
  }
  std::string base;
};

struct SeekCase {
  uint64_t offset;
  int ok;
  uint16_t part;
  const char* trace;
};

const SeekCase SeekCases[] = {
    {0, 1, 0, "Attempting to set position to Extent 00, Offset 00000000:00000000\n"},
    {1023, 1, 0, "Attempting to set position to Extent 00, Offset 00000000:000003ff\n"},
    // The end of part 0 is the start of part 2: the empty part 1 is stepped over.
    {1024, 1, 2, "Attempting to set position to Extent 02, Offset 00000000:00000000\n"},
    {3071, 1, 2, "Attempting to set position to Extent 02, Offset 00000000:000007ff\n"},
    {3072, 1, 3, "Attempting to set position to Extent 03, Offset 00000000:00000000\n"},
    {3583, 1, 3, "Attempting to set position to Extent 03, Offset 00000000:000001ff\n"},
    // At and past the end of the last part: part = PartCount, failure.
    {3584, 0, 4, "Attempting to set position to Extent 04, Offset 00000000:00000000\n"},
    {0x100000000ull + 3584, 0, 4, "Attempting to set position to Extent 04, Offset 00000001:00000000\n"},
};

TEST_F(PartsTest, SeekLargeFindsThePartAtAndAcrossBoundaries)
{
  EXPECT_EQ(2u + 0u + 4u + 1u, LLFileState.TotalBlocks);
  LLFileState.Verbose = 1;
  for (const SeekCase& c : SeekCases) {
    SCOPED_TRACE(c.offset);
    uint16_t part = 0xEEEE;
    Capture cap;
    EXPECT_EQ(c.ok, LLSeekLarge(c.offset, &part));
    EXPECT_EQ(c.part, part);
    EXPECT_EQ(c.trace, cap.Out());
    EXPECT_EQ("", cap.Err());
  }
}

TEST_F(PartsTest, ReadsStayInsideOnePart)
{
  uint8_t buf[600];
  // Inside part 2, 256 bytes in.
  ASSERT_EQ(1, LLReadAt(1024 + 256, buf, 256));
  EXPECT_EQ(0x21, buf[0]);
  EXPECT_EQ(0x21, buf[255]);
  // 512 bytes starting 256 before the end of part 0 fail, though more parts follow.
  EXPECT_EQ(0, LLReadAt(1024 - 256, buf, 512));
  // ... and so do 512 bytes starting 256 before the end of part 2.
  EXPECT_EQ(0, LLReadAt(3072 - 256, buf, 512));
  // Block addresses: block 6 is the first block of part 3.
  ASSERT_EQ(1, LLReadBlock(6, buf, 512));
  EXPECT_EQ(0x33, buf[0]);
  uint16_t part = 0;
  EXPECT_EQ(1, LLSeekBlock(5, &part));
  EXPECT_EQ(2, part);
  EXPECT_EQ(0, LLReadBlock(7, buf, 1));
  // In a given part, without a walk.
  ASSERT_EQ(1, LLReadInPart(512, buf, 1, 2));
  EXPECT_EQ(0x22, buf[0]);
  EXPECT_EQ(0, LLReadInPart(0, buf, 1, 1));     // empty part: short read
  EXPECT_EQ(0, LLReadInPart(0, buf, 1, 4));     // no such part
  EXPECT_EQ(1, LLSeekInPart(99999, 3));         // past the end is not refused here
  EXPECT_EQ(0, LLReadInPart(500, buf, 100, 3)); // but the read is short
}

TEST_F(PartsTest, WritesGoToThePartThatHoldsTheOffset)
{
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(1, LLWriteAt(3072 + 10, bytes, 4));
  EXPECT_EQ(1, LLWriteBlock(2, bytes, 4));  // offset 1024: part 2
  EXPECT_EQ(0, LLWriteAt(3584, bytes, 4));  // past the set
  LLCloseAll();
  Image p3 = ReadWholeFile(dir.Path("L.^03"));
  ASSERT_EQ(512u, p3.size());
  EXPECT_EQ(Image({0x33, 1, 2, 3, 4, 0x33}), Image(p3.begin() + 9, p3.begin() + 15));
  Image p2 = ReadWholeFile(dir.Path("L.^02"));
  EXPECT_EQ(Image({1, 2, 3, 4, 0x20}), Image(p2.begin(), p2.begin() + 5));
}

TEST_F(PartsTest, ClosingMarksHandlesInvalidAndTraces)
{
  LLFileState.Verbose = 1;
  {
    Capture cap;
    LLCloseAll();
    EXPECT_EQ("Closing all files...\r\n", cap.Err());
  }
  for (int i = 0; i < LLMaxParts; i++)
    EXPECT_EQ(PlatformInvalidFile, LLFileState.PartHandles[i]);
  EXPECT_EQ(PlatformInvalidFile, LLFileState.DeltaHandle);
  // Reads on the closed set fail; a second close is harmless.
  uint8_t buf[4];
  LLFileState.Verbose = 0;
  EXPECT_EQ(0, LLReadAt(0, buf, 4));
  LLCloseAll();
  // The exclusive open works again: every lock went with its handle.
  ResetLibrary();
  EXPECT_EQ(4, QuietOpen(base, 0));
}

TEST_F(FileSetTest, SeekAtEndOfLoneBaseFails)
{
  std::string base = dir.Path("ONE.DAT");
  ASSERT_TRUE(WriteImage(base, BaseV4(1024)));
  ASSERT_EQ(1, QuietOpen(base));
  uint16_t part = 0;
  EXPECT_EQ(0, LLSeekLarge(1024, &part));
  EXPECT_EQ(1, part);
}

// ------------------------------------------------------------ 6.x displacement

// A 6.00 file with two FCR pages of `pageSize` bytes.
Image V6File(uint8_t pageSizeByte)
{
  size_t pageSize = pageSizeByte * 256u;
  Image img(2 * (pageSize ? pageSize : 512), 0);
  PutFcr(img, 0, 0x0600, pageSizeByte, 1);
  PutFcr(img, pageSize, 0x0600, pageSizeByte, 0);
  return img;
}

struct ThresholdCase {
  uint8_t pageSizeByte;
  uint32_t threshold;
};

const ThresholdCase ThresholdCases[] = {
    {0x02, 0x001E0400u}, {0x04, 0x00780800u}, {0x06, 0x010E0C00u}, {0x08, 0x01E01000u},
    {0x0A, 0x02EE1400u}, {0x0C, 0x04381800u}, {0x0E, 0x05BE1C00u}, {0x10, 0x07802000u},
};

TEST_F(FileSetTest, SixXThresholdTableAndDisplacedPages)
{
  for (const ThresholdCase& c : ThresholdCases) {
    SCOPED_TRACE(c.pageSizeByte);
    ResetLibrary();
    std::string path = dir.Path("T.DAT");
    ASSERT_TRUE(WriteImage(path, V6File(c.pageSizeByte)));
    ASSERT_EQ(1, QuietOpen(path));
    EXPECT_EQ(c.threshold, LLFileState.V6ShiftThreshold);
    uint32_t pageSize = c.pageSizeByte * 256u;
    // The first displaced page is 15 * PageSize / 2 + 2.
    uint32_t first = 15 * pageSize / 2 + 2;
    EXPECT_EQ((uint64_t)c.threshold - pageSize, LLPageToOffset(first - 1));
    EXPECT_EQ((uint64_t)c.threshold + 4096, LLPageToOffset(first));
    int32_t part = -1;
    uint32_t offset = 0;
    EXPECT_EQ(1, LLPageToPart(first, &part, &offset));
    EXPECT_EQ(0, part);
    EXPECT_EQ(c.threshold + 4096, offset);
    uint32_t page = 0;
    EXPECT_EQ(1, LLPartToPage(0, c.threshold + 4096, &page));
    EXPECT_EQ(first, page);
    EXPECT_EQ(1, LLPartToPage64(0, c.threshold - pageSize, &page));
    EXPECT_EQ(first - 1, page);
    LLCloseAll();
  }
}

TEST_F(FileSetTest, SixXWithFiveHundredTwelveBytePages)
{
  std::string path = dir.Path("T.DAT");
  ASSERT_TRUE(WriteImage(path, V6File(0x02)));
  ASSERT_EQ(1, QuietOpen(path));
  EXPECT_EQ(0x001E0200u, LLPageToOffset(3841));
  EXPECT_EQ(0x001E1400u, LLPageToOffset(3842));
  int32_t part = -1;
  uint32_t offset = 0;
  LLFileState.Verbose = 1;
  Capture cap;
  LLPageToPart(3841, &part, &offset);
  EXPECT_EQ(0x001E0200u, offset);
  LLPageToPart(3842, &part, &offset);
  EXPECT_EQ(0x001E1400u, offset);
  EXPECT_EQ(0, part);
  EXPECT_EQ("", cap.Out()) << "below 7.0 the conversion writes nothing";
}

TEST_F(FileSetTest, UnlistedSixXPageSizeKeepsThreshold)
{
  // 8192-byte pages: no row, no displacement below 4 GiB at program start.
  std::string path = dir.Path("U.DAT");
  ASSERT_TRUE(WriteImage(path, V6File(0x20)));
  ASSERT_EQ(1, QuietOpen(path));
  EXPECT_EQ(0xFFFFFFFFu, LLFileState.V6ShiftThreshold);
  EXPECT_EQ(30000ull * 8192, LLPageToOffset(30000));
  // Offsets of 4 GiB or more count as above the untouched threshold.
  EXPECT_EQ(524288ull * 8192 + 4096, LLPageToOffset(524288));
  LLCloseAll();
  // After a 512-byte 6.x open the threshold stays through opens that set none.
  std::string six = dir.Path("S.DAT");
  ASSERT_TRUE(WriteImage(six, V6File(0x02)));
  ASSERT_EQ(1, QuietOpen(six));
  LLCloseAll();
  ASSERT_EQ(1, QuietOpen(path));
  EXPECT_EQ(0x001E0400u, LLFileState.V6ShiftThreshold);
  EXPECT_EQ(240ull * 8192, LLPageToOffset(240));
  EXPECT_EQ(241ull * 8192 + 4096, LLPageToOffset(241));
  LLCloseAll();
  std::string four = dir.Path("F.DAT");
  ASSERT_TRUE(WriteImage(four, BaseV4()));
  ASSERT_EQ(1, QuietOpen(four));
  EXPECT_EQ(0x001E0400u, LLFileState.V6ShiftThreshold);
}

// ------------------------------------------------------------ large parts

TEST_F(FileSetTest, GigabyteParts)
{
  // A 7.00 file with 4096-byte pages: part 0 and part 1 of 1 GiB each, part
  // 2..4 of 1 GiB too, so that offsets pass 4 GiB. All sparse.
  const uint64_t gib = 1ull << 30;
  Image head(8192, 0);
  PutFcr(head, 0, 0x0700, 0x10, 1);
  PutFcr(head, 4096, 0x0700, 0x10, 0);
  std::string base = dir.Path("G.DAT");
  ASSERT_TRUE(WriteSparse(base, gib, head));
  for (int n = 1; n <= 4; n++) {
    char name[16];
    snprintf(name, sizeof name, "G.^%.2x", n);
    ASSERT_TRUE(WriteSparse(dir.Path(name), gib));
  }
  ASSERT_TRUE(PatchFile(dir.Path("G.^04"), 4096, Image({0xAB, 0xCD})));
  ASSERT_EQ(5, QuietOpen(base));
  EXPECT_EQ(5u * 2097152u, LLFileState.TotalBlocks);

  int32_t part = -1;
  uint32_t offset = 0;
  LLFileState.Verbose = 1;
  {
    Capture cap;
    LLPageToPart(262143, &part, &offset);
    EXPECT_EQ(0, part);
    EXPECT_EQ(0x3FFFF000u, offset);
    LLPageToPart(262144, &part, &offset);
    EXPECT_EQ(1, part);
    EXPECT_EQ(0u, offset);
    EXPECT_EQ("Calculated Extent 0, Offset 3FFFF000\nCalculated Extent 1, Offset 00000000\n",
              cap.Out());
  }
  LLFileState.Verbose = 0;
  EXPECT_EQ(0x40000000ull, LLPageToOffset(262144));
  EXPECT_EQ(5 * gib, LLPageToOffset(5 * 262144));  // no displacement from 7.0 on

  // A page at or past the end of the last part stays in the last part.
  LLPageToPart(5 * 262144, &part, &offset);
  EXPECT_EQ(4, part);
  EXPECT_EQ(0x40000000u, offset);
  LLPageToPart(0xFFFFFFFFu, &part, &offset);
  EXPECT_LT(part, 5);

  uint32_t page = 0;
  LLPartToPage(1, 0, &page);
  EXPECT_EQ(262144u, page);
  LLPartToPage(4, 4096, &page);
  EXPECT_EQ(4u * 262144u + 1u, page);
  LLPartToPage64(4, 0x3FFFF000, &page);
  EXPECT_EQ(5u * 262144u - 1u, page);

  // Reads past 4 GiB reach part 4.
  uint8_t two[2] = {0, 0};
  ASSERT_EQ(1, LLReadAt(4 * gib + 4096, two, 2));
  EXPECT_EQ(0xAB, two[0]);
  EXPECT_EQ(0xCD, two[1]);
  uint16_t at = 0;
  EXPECT_EQ(1, LLSeekLarge(4 * gib + 4096, &at));
  EXPECT_EQ(4, at);
  EXPECT_EQ(0, LLReadAt(5 * gib - 1, two, 2));
}

TEST_F(FileSetTest, PartConversionsNeverDivideByZero)
{
  // Only a damaged FCR gives these geometries.
  std::string path = dir.Path("Z.DAT");
  ASSERT_TRUE(WriteImage(path, BaseV4()));
  ASSERT_EQ(1, QuietOpen(path));
  LLFileState.PageSize = 0;
  uint32_t page = 77;
  EXPECT_EQ(1, LLPartToPage(0, 4096, &page));
  EXPECT_EQ(0u, page);
  LLFileState.FileVersion = 0x0700;
  LLFileState.PageSize = 256;  // less than one block per page
  page = 77;
  EXPECT_EQ(1, LLPartToPage64(0, 4096, &page));
  EXPECT_EQ(0u, page);
  int32_t part = -1;
  uint32_t offset = 1;
  EXPECT_EQ(1, LLPageToPart(12345, &part, &offset));
  EXPECT_EQ(0, part);
  EXPECT_EQ(0u, offset);
  // A part index past the 128 slots is summed over the slots only.
  LLFileState.PageSize = 512;
  EXPECT_EQ(1, LLPartToPage(1000, 0, &page));
  EXPECT_EQ(2u, page);
}

}  // namespace
