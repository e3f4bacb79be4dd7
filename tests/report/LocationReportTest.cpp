// The location report against small files of every format it knows: the
// whole standard output, standard error and exit code of PrintLocationReport,
// byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Halvorn/LocationReport.h"
#include "LowLevel/LowLevel.h"
#include "tests/report/ReportFixture.h"
#include "tests/report/ReportRun.h"

namespace {

const char* const Compression =
    "\nWarning: v9.50 files with Page Compression are not yet supported!\n\n";

struct ReportCase {
  const char* Name;
  ReportFile File;
  uint32_t LastPosition;
  std::string Out;
  std::string Err;
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.Name; }

ReportFile Make(uint16_t version, uint16_t pageSize,
                std::vector<std::pair<uint32_t, uint32_t>> map = {}) {
  ReportFile file;
  file.VersionWord = version;
  file.PageSize = pageSize;
  file.Map = map;
  return file;
}

ReportFile WithCurrentCopyTwo(ReportFile file) {
  file.CurrentCopy = 1;
  return file;
}

ReportFile WithBits(ReportFile file, uint8_t bits) {
  file.BitsInRecordId = bits;
  return file;
}

ReportFile WithoutPat(ReportFile file) {
  file.WritePat = false;
  return file;
}

ReportFile Compressed(ReportFile file, uint16_t physicalPageSize) {
  file.Compressed = true;
  file.PhysicalPageSize = physicalPageSize;
  return file;
}

std::string Twice(const std::string& text) { return text + text; }

const std::string Old5x =
    "Final Physical Page    : 0x00000044\n"
    "Final Offset In Page   : 0x00000234\n"
    "Final Physical Location: 0x00011234\n"
    "Next  Physical Page    : 0x00000045\n";

// Logical page 0x4B (record 5 with 10 bits of record id) on physical page
// 0x60, and logical page 0x4C on physical page 0x200: PhysRecLen 100.
std::string Report8x(const char* pageLoc, const char* position, const char* nextOffset,
                     bool compressed) {
  std::string text =
      "Final Logical Position : 0x00012c05\n"
      "Final Logical Page     : 0x0000004b\n"
      "Final Record Number    : 0x00000005\n\n"
      "Final Physical Page    : 0x00000060\n";
  text += std::string("Final Physical Page Loc: 0x00000000:") + pageLoc + "    (File 0, Offset " +
          pageLoc + ")\n";
  text += std::string("Final Physical Position: 0x00000000:") + position + "\n";
  if (compressed) text += "    (May be incorrect due to Page Compression.)\n";
  text += "\n";
  text += "Next  Logical Page     : 0x0000004c\n"
          "Next  Physical Page    : 0x00000200\n";
  text += std::string("Next  Physical Offset  : 0x00000000:") + nextOffset +
          "    (File 0, Offset " + nextOffset + ")\n\n";
  return text;
}

const std::vector<std::pair<uint32_t, uint32_t>> Map8x = {{0x4B, 0x60}, {0x4C, 0x200}};

std::vector<ReportCase> Cases() {
  return {
      // ---- formats 3 to 5: the position is a byte offset, halves exchanged
      {"v300", Make(0x0300, 1024), 0x12340001, Old5x, ""},
      {"v400", Make(0x0400, 1024), 0x12340001, Old5x, ""},
      {"v500", Make(0x0500, 1024), 0x12340001, Old5x, ""},
      {"v500NegatedWord", Make(0xFB00, 1024), 0x12340001, Old5x, ""},

      // ---- format 6: byte position in logical page space, through the PAT
      {"v600", Make(0x0600, 1024, {{0x12, 0x30}, {0x13, 0x200}}), 0x49A60000,
       "Final Logical Position : 0x000049a6\n"
       "Final Logical Page     : 0x00000012\n"
       "Final Offset In Page   : 0x000001a6\n\n"
       "Final Physical Page    : 0x00000030\n"
       "Final Physical Page Loc: 0x0000c000\n"
       "Final Physical Position: 0x0000c1a6\n\n"
       "Next  Logical Page     : 0x00000013\n"
       "Next  Physical Page    : 0x00000200\n"
       "Next  Physical Offset  : 0x00080000\n\n",
       ""},
      // 512-byte pages: physical page 3842 lies 4096 bytes further on.
      {"v610ShiftedNextPage", Make(0x0610, 512, {{0x12, 0x30}, {0x13, 3842}}), 0x24400000,
       "Final Logical Position : 0x00002440\n"
       "Final Logical Page     : 0x00000012\n"
       "Final Offset In Page   : 0x00000040\n\n"
       "Final Physical Page    : 0x00000030\n"
       "Final Physical Page Loc: 0x00006000\n"
       "Final Physical Position: 0x00006040\n\n"
       "Next  Logical Page     : 0x00000013\n"
       "Next  Physical Page    : 0x00000f02\n"
       "Next  Physical Offset  : 0x001e1400\n\n",
       ""},
      // Logical page 0 has no PAT entry: the position is the offset alone.
      {"v600FinalPageUntranslatable", Make(0x0600, 1024, {{1, 5}}), 0x01A60000,
       "Final Logical Position : 0x000001a6\n"
       "Final Logical Page     : 0x00000000\n"
       "Final Offset In Page   : 0x000001a6\n\n"
       "Unable to find physical page for logical page 0x00000000.\n"
       "Final Physical Position: 0x000001a6\n\n"
       "Next  Logical Page     : 0x00000001\n"
       "Next  Physical Page    : 0x00000005\n"
       "Next  Physical Offset  : 0x00001400\n\n",
       ""},
      // The last entry of pair 1; the next page's pair lies past the end.
      {"v600NextPageUntranslatable", Make(0x0600, 1024, {{0xFE, 0x40}}), 0xF8100003,
       "Final Logical Position : 0x0003f810\n"
       "Final Logical Page     : 0x000000fe\n"
       "Final Offset In Page   : 0x00000010\n\n"
       "Final Physical Page    : 0x00000040\n"
       "Final Physical Page Loc: 0x00010000\n"
       "Final Physical Position: 0x00010010\n\n"
       "Next  Logical Page     : 0x000000ff\n"
       "Unable to find physical page for logical page 0x000000ff.\n",
       ""},

      // ---- 7.00: page in bits 8-31, record in 0-7; PhysRecLen from the
      // current (second) FCR copy
      {"v700", WithCurrentCopyTwo(Make(0x0700, 1024, {{0x12, 0x30}, {0x13, 0x200}})), 0x00001203,
       "Final Logical Position : 0x00001203\n"
       "Final Logical Page     : 0x00000012\n"
       "Final Record Number    : 0x00000003\n\n"
       "Final Physical Page    : 0x00000030\n"
       "Final Physical Page Loc: 0x00000000:0000c000    (File 0, Offset 0000c000)\n"
       "Final Physical Position: 0x00000000:0000c132\n\n"
       "Next  Logical Page     : 0x00000013\n"
       "Next  Physical Page    : 0x00000200\n"
       "Next  Physical Offset  : 0x00000000:00080000    (File 0, Offset 00080000)\n\n",
       ""},
      {"v700NoRecordRead", Make(0x0700, 1024, {{1, 7}}), 0,
       "Final Logical Position : 0x00000000\n"
       "Final Logical Page     : 0x00000000\n"
       "Final Record Number    : 0x00000000\n\n"
       "Unable to find physical page for logical page 0x00000000.\n"
       "Final Physical Position: 0x00000000:00000006\n\n"
       "Next  Logical Page     : 0x00000001\n"
       "Next  Physical Page    : 0x00000007\n"
       "Next  Physical Offset  : 0x00000000:00001c00    (File 0, Offset 00001c00)\n\n",
       ""},

      // ---- 8.00 and later: BitsInRecordId splits the position
      {"v800", Make(0x0800, 1024, Map8x), 0x00012C05,
       Report8x("00018000", "000181fc", "00080000", false), ""},
      {"v900", WithCurrentCopyTwo(Make(0x0900, 1024, Map8x)), 0x00012C05,
       Report8x("00018000", "000181fc", "00080000", false), ""},
      {"v800NoRecordRead", Make(0x0800, 1024, {{1, 7}}), 0,
       "Final Logical Position : 0x00000000\n"
       "Final Logical Page     : 0x00000000\n"
       "Final Record Number    : 0x00000000\n\n"
       "Unable to find physical page for logical page 0x00000000.\n"
       "Final Physical Position: 0x00000000:00000008\n\n"
       "Next  Logical Page     : 0x00000001\n"
       "Next  Physical Page    : 0x00000007\n"
       "Next  Physical Offset  : 0x00000000:00001c00    (File 0, Offset 00001c00)\n\n",
       ""},
      // 31 bits of record id: the widest split that is allowed.
      {"v800ThirtyOneBits", WithBits(Make(0x0800, 1024, {{1, 0x60}, {2, 0x61}}), 31), 0x80000005,
       "Final Logical Position : 0x80000005\n"
       "Final Logical Page     : 0x00000001\n"
       "Final Record Number    : 0x00000005\n\n"
       "Final Physical Page    : 0x00000060\n"
       "Final Physical Page Loc: 0x00000000:00018000    (File 0, Offset 00018000)\n"
       "Final Physical Position: 0x00000000:000181fc\n\n"
       "Next  Logical Page     : 0x00000002\n"
       "Next  Physical Page    : 0x00000061\n"
       "Next  Physical Offset  : 0x00000000:00018400    (File 0, Offset 00018400)\n\n",
       ""},
      {"v950", Make(0x0950, 4096, Map8x), 0x00012C05,
       Report8x("00060000", "000601fe", "00200000", false), ""},
      // Compressed pages are 1024 bytes on disk.
      {"v950Compressed", Compressed(Make(0x0950, 4096, Map8x), 1024), 0x00012C05,
       Twice(Compression) + Report8x("00018000", "000181fe", "00080000", true), ""},
      {"v950NoRecordRead", Make(0x0950, 4096, {{1, 7}}), 0,
       "Final Logical Position : 0x00000000\n"
       "Final Logical Page     : 0x00000000\n"
       "Final Record Number    : 0x00000000\n\n"
       "Final Physical Position: 0x00000000:0000000a\n\n"
       "Next  Logical Page     : 0x00000001\n"
       "Next  Physical Page    : 0x00000007\n"
       "Next  Physical Offset  : 0x00000000:00007000    (File 0, Offset 00007000)\n\n",
       "Unable to find physical page for logical page 0x00000000.\n"},
      {"v1300", Make(0x0D00, 4096, Map8x), 0x00012C05,
       Twice("\nWarning: v13.00 files are NOT completely supported!\n\n") +
           Report8x("00060000", "000601fe", "00200000", false),
       ""},
      // No PAT in the file: both failure lines on standard error.
      {"v1300Untranslatable", WithoutPat(Make(0x0D00, 4096)), 0x00012C05,
       Twice("\nWarning: v13.00 files are NOT completely supported!\n\n") +
           "Final Logical Position : 0x00012c05\n"
           "Final Logical Page     : 0x0000004b\n"
           "Final Record Number    : 0x00000005\n\n"
           "Final Physical Position: 0x00000000:000001fe\n\n"
           "Next  Logical Page     : 0x0000004c\n",
       "Unable to find physical page for logical page 0x0000004b.\n"
       "Unable to find physical page for logical page 0x0000004c.\n"},
      {"v16", WithBits(Make(0x0D30, 4096, Map8x), 12), 0x0004B007,
       Twice("\nWarning: v16 files are NOT completely supported!\n\n") +
           "Final Logical Position : 0x0004b007\n"
           "Final Logical Page     : 0x0000004b\n"
           "Final Record Number    : 0x00000007\n\n"
           "Final Physical Page    : 0x00000060\n"
           "Final Physical Page Loc: 0x00000000:00060000    (File 0, Offset 00060000)\n"
           "Final Physical Position: 0x00000000:000602c6\n\n"
           "Next  Logical Page     : 0x0000004c\n"
           "Next  Physical Page    : 0x00000200\n"
           "Next  Physical Offset  : 0x00000000:00200000    (File 0, Offset 00200000)\n\n",
       ""},

      // ---- versions the library reads but the report does not know
      {"v620Unsupported", Make(0x0620, 1024), 0x00001203,
       "File Format  6.20 not supported by this release.\n"
       "Contact Merrowby Software for assistance.\n",
       ""},
      {"v200Unsupported", Make(0x0200, 1024), 0x00001203,
       "File Format  2.00 not supported by this release.\n"
       "Contact Merrowby Software for assistance.\n",
       ""},
      {"v1000Unsupported", Make(0x0A00, 1024), 0x00001203,
       Twice("\nWarning: v10.00 files are NOT completely supported!\n\n") +
           "File Format 10.00 not supported by this release.\n"
           "Contact Merrowby Software for assistance.\n",
       ""},

      // ---- damaged FCRs: one line, a finished report
      {"v500PageSizeZero", Make(0x0500, 0), 0x12340001,
       "Page Size in the FCR is 0: unable to locate position 0x00011234.\n", ""},
      {"v800BitsZero", WithBits(Make(0x0800, 1024, Map8x), 0), 0x00012C05,
       "Final Logical Position : 0x00012c05\n"
       "BitsInRecordId in the FCR is 0, outside 1 to 31: unable to locate position 0x00012c05.\n",
       ""},
      {"v950BitsThirtyTwo", WithBits(Make(0x0950, 4096, Map8x), 32), 0x00012C05,
       "Final Logical Position : 0x00012c05\n"
       "BitsInRecordId in the FCR is 32, outside 1 to 31: unable to locate position 0x00012c05.\n",
       ""},
      {"v1300BitsTwoFiftyFive", WithBits(Make(0x0D00, 4096, Map8x), 255), 0x00012C05,
       Twice("\nWarning: v13.00 files are NOT completely supported!\n\n") +
           "Final Logical Position : 0x00012c05\n"
           "BitsInRecordId in the FCR is 255, outside 1 to 31: unable to locate position "
           "0x00012c05.\n",
       ""},
  };
}

class LocationReportCase : public ::testing::TestWithParam<ReportCase> {
 protected:
  void SetUp() override { folder_ = MakeTempFolder(); }
  void TearDown() override { RemoveTree(folder_); }
  std::string folder_;
};

TEST_P(LocationReportCase, WholeOutputAndExitCode) {
  const ReportCase& c = GetParam();
  const std::string path = folder_ + "/DATA.MKD";
  ASSERT_TRUE(WriteReportFile(path, c.File));
  const ReportRun run = RunReport(path, c.LastPosition, false);
  EXPECT_EQ(run.Out, c.Out);
  EXPECT_EQ(run.Err, c.Err);
  EXPECT_EQ(run.Code, 0);
  // Every finished report closes the file set.
  EXPECT_TRUE(NobodyHoldsFile(path));
}

INSTANTIATE_TEST_SUITE_P(Formats, LocationReportCase, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ReportCase>& info) {
                           return std::string(info.param.Name);
                         });

class LocationReportFile : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = MakeTempFolder(); }
  void TearDown() override {
    LLCloseAll();  // the exit-2 paths leave the handles to the end of the run
    RemoveTree(folder_);
  }
  std::string folder_;
};

// The values behind the printed lines, for the 7.x example.
TEST_F(LocationReportFile, KeepsTheComputedValues) {
  const std::string path = folder_ + "/DATA.MKD";
  ASSERT_TRUE(WriteReportFile(path, WithCurrentCopyTwo(Make(0x0700, 1024, {{0x12, 0x30}, {0x13, 0x200}}))));
  ASSERT_EQ(RunReport(path, 0x00001203, false).Code, 0);
  EXPECT_EQ(LocationReport.FinalLogicalPage, 0x12u);
  EXPECT_EQ(LocationReport.RecordNumber, 3u);
  EXPECT_EQ(LocationReport.FinalPhysicalPage, 0x30u);
  EXPECT_EQ(LocationReport.PhysRecLen, 100u);
  EXPECT_EQ(LocationReport.FinalPhysicalPosition, 0x30u * 1024 + 100 * 3 + 6);
  EXPECT_EQ(LocationReport.NextLogicalPage, 0x13u);
  EXPECT_EQ(LocationReport.NextPhysicalPage, 0x200u);
  EXPECT_EQ(LocationReport.NextPhysicalOffset, 0x200u * 1024);
}

TEST_F(LocationReportFile, MissingFileEndsWithExitTwo) {
  const std::string path = folder_ + "/NONE.MKD";
  const ReportRun run = RunReport(path, 0x00001203, false);
  EXPECT_EQ(run.Code, 2);
  EXPECT_EQ(run.Out, "Unable to open physical file " + path + "\n");
  EXPECT_EQ(run.Err.rfind("Failed to Open File <" + path + ">, Status Code 2, ", 0), 0u) << run.Err;
}

TEST_F(LocationReportFile, NotABtrieveFileEndsWithExitTwo) {
  const std::string path = folder_ + "/TEXT.DAT";
  std::vector<uint8_t> bytes(1024, 'x');
  FILE* out = fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
  const ReportRun run = RunReport(path, 0x00001203, false);
  EXPECT_EQ(run.Code, 2);
  EXPECT_EQ(run.Out, "Unable to open physical file " + path + "\n");
  EXPECT_EQ(run.Err, "Not a Btrieve File!\n");
}

// A 6.x file that ends after its first FCR page.
TEST_F(LocationReportFile, OnePageSixFileEndsWithExitTwo) {
  const std::string path = folder_ + "/SHORT.DAT";
  ASSERT_TRUE(WriteReportFile(path, WithoutPat(Make(0x0600, 1024))));
  ASSERT_TRUE(SetFileSize(path, 1024));
  const ReportRun run = RunReport(path, 0x00001203, false);
  EXPECT_EQ(run.Code, 2);
  EXPECT_EQ(run.Out, "Unable to open physical file " + path + "\n");
  EXPECT_EQ(run.Err, "Not a Btrieve File....\n");
}

// Under /D the library's part trace lands inside the page location line, and
// the verbose report lines appear where they belong.
TEST_F(LocationReportFile, VerboseTracesInterleave) {
  const std::string path = folder_ + "/DATA.MKD";
  ASSERT_TRUE(WriteReportFile(path, Make(0x0950, 4096, Map8x)));
  const ReportRun run = RunReport(path, 0x00012C05, true);
  EXPECT_EQ(run.Code, 0);
  EXPECT_NE(run.Out.find("Final Logical Position : 0x00012c05\n"
                         "BitsInRecordId = 10\n"
                         "Final Logical Page     : 0x0000004b\n"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("Final Physical Page Loc: 0x00000000:00060000"
                         "Calculated Extent 0, Offset 00060000\n"
                         "    (File 0, Offset 00060000)\n"
                         "PhysRecLen = 00000064\n"
                         "Final Physical Position: 0x00000000:000601fe\n\n"),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("Next  Physical Offset  : 0x00000000:00200000"
                         "Calculated Extent 0, Offset 00200000\n"
                         "    (File 0, Offset 00200000)\n\n"),
            std::string::npos)
      << run.Out;
  EXPECT_EQ(run.Err.find("Version = 9.50, Page Size is 4096\n"), run.Err.find("Version = "));
  EXPECT_NE(run.Err.find("Version = 9.50, Page Size is 4096\n"), std::string::npos) << run.Err;
  // the report's verbose line comes after the open's FCR load, before the second
  EXPECT_LT(run.Err.find("File Version Found = 0950\n"), run.Err.find("Version = 9.50"));
  EXPECT_GT(run.Err.rfind("File Version Found = 0950\n"), run.Err.find("Version = 9.50"));
}

// A file set of four parts, three of them sparse, whose last record lies in
// part 3, more than 4 GiB into the logical file.
TEST_F(LocationReportFile, RecordInPartThreeBeyondFourGiB) {
  const std::string path = folder_ + "/BIG.MKD";
  const uint64_t GiB = 1ull << 30;
  const uint64_t partStart3 = 2 * GiB + 1 * GiB + GiB + GiB / 2;  // 4.5 GiB
  const uint32_t finalPage = static_cast<uint32_t>((partStart3 + 0x12345000ull) / 4096);
  ReportFile file = Make(0x0950, 4096, {{0x4B, finalPage}, {0x4C, finalPage + 1}});
  file.MinimumSize = 2 * GiB;
  file.ExtendToMappedPages = false;
  ASSERT_TRUE(WriteReportFile(path, file));
  ASSERT_TRUE(SetFileSize(folder_ + "/BIG.^01", 1 * GiB));
  ASSERT_TRUE(SetFileSize(folder_ + "/BIG.^02", 1 * GiB + GiB / 2));
  ASSERT_TRUE(SetFileSize(folder_ + "/BIG.^03", 1 * GiB));

  const ReportRun run = RunReport(path, 0x00012C05, false);
  EXPECT_EQ(run.Code, 0);
  EXPECT_EQ(run.Err, "");
  EXPECT_EQ(run.Out,
            "Final Logical Position : 0x00012c05\n"
            "Final Logical Page     : 0x0000004b\n"
            "Final Record Number    : 0x00000005\n\n"
            "Final Physical Page    : 0x00132345\n"
            "Final Physical Page Loc: 0x00000001:32345000    (File 3, Offset 12345000)\n"
            "Final Physical Position: 0x00000001:323451fe\n\n"
            "Next  Logical Page     : 0x0000004c\n"
            "Next  Physical Page    : 0x00132346\n"
            "Next  Physical Offset  : 0x00000001:32346000    (File 3, Offset 12346000)\n\n");
}

}  // namespace
