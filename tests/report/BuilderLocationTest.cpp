// End to end on files from the project's builder, for every format version
// the report knows: the halvorn program (linked with the replacement engine)
// walks a built file set, and the place its report prints is where the
// builder put the last record read: the reported byte position is that
// record's slot, its bytes there are LASTREC.DMP's, and from 7.00 on the part
// and offset printed with the page hold the same bytes in that part's file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/report/ReportRun.h"
#include "tools/btbuild/BtBuild.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The hexadecimal value after a label; "0x%.8lx:%.8lx" gives high and low
// halves. 'rest' receives the text after the value.
bool PrintedValue(const std::string& text, const std::string& label, uint64_t* value,
                  std::string* rest = nullptr) {
  const size_t at = text.find(label + "0x");
  if (at == std::string::npos) return false;
  const char* start = text.c_str() + at + label.size() + 2;
  char* end = nullptr;
  const unsigned long long first = strtoull(start, &end, 16);
  if (end == start) return false;
  *value = first;
  if (*end == ':') *value = (first << 32) | strtoull(end + 1, &end, 16);
  if (rest) *rest = std::string(end);
  return true;
}

struct VersionCase {
  uint16_t Version;
  uint32_t PageSize;
  uint64_t PartSize;  // 0: one file
};

void PrintTo(const VersionCase& c, std::ostream* os) {
  char text[64];
  snprintf(text, sizeof text, "%d.%.2x/%lu", c.Version >> 8, c.Version & 0xFF,
           static_cast<unsigned long>(c.PageSize));
  *os << text;
}

class BuilderLocation : public ::testing::TestWithParam<VersionCase> {};

TEST_P(BuilderLocation, LastRecordLiesWhereTheReportSays) {
  const VersionCase& c = GetParam();
  const fs::path folder = MakeTempFolder();
  const fs::path path = folder / "DATA.MKD";
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, c.Version, c.PageSize);
  spec.Records = 300;
  spec.PartSize = c.PartSize;
  BtBuildResult built;
  ASSERT_TRUE(BtBuildFileSet(&spec, path.string().c_str(), &built)) << built.Error;

  const std::vector<std::vector<std::string>> walks = {{}, {"/B"}, {"/K0"}, {"/K0", "/B"}};
  for (const auto& walk : walks) {
    std::string command = "cd \"" + folder.string() + "\" && \"" HALVORN_PROGRAM "\" DATA.MKD";
    for (const std::string& option : walk) command += " " + option;
    SCOPED_TRACE(command);
    command += " </dev/null >stdout 2>stderr";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText(folder / "stderr");
    const std::string out = ReadText(folder / "stdout");

    // Which record the walk ended on: the one whose bytes the dump holds.
    const std::vector<uint8_t> dump = ReadFile(folder / "LASTREC.DMP");
    ASSERT_GE(dump.size(), spec.RecordLength);
    std::vector<uint8_t> record(spec.RecordLength);
    uint32_t last = spec.Records;
    for (uint32_t i = 0; i < spec.Records && last == spec.Records; ++i) {
      BtRecordBytes(&spec, i, record.data());
      if (std::equal(record.begin(), record.end(), dump.begin())) last = i;
    }
    ASSERT_LT(last, spec.Records) << "LASTREC.DMP holds no record of the file";
    BtRecordPlace place;
    ASSERT_TRUE(BtRecordPlaceOf(&built, last, &place));

    uint64_t position = 0;
    const char* label =
        c.Version < 0x0600 ? "Final Physical Location: " : "Final Physical Position: ";
    ASSERT_TRUE(PrintedValue(out, label, &position)) << out;
    EXPECT_EQ(position, place.SlotOffset) << out;
    const uint64_t recordStart = c.Version < 0x0600 ? position : position + 2;
    std::vector<uint8_t> onDisk(spec.RecordLength);
    ASSERT_TRUE(BtReadAt(&built.Set, recordStart, onDisk.data(), onDisk.size()));
    EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), dump.begin())) << out;

    if (c.Version >= 0x0700) {
      uint64_t pageLoc = 0;
      std::string rest;
      ASSERT_TRUE(PrintedValue(out, "Final Physical Page Loc: ", &pageLoc, &rest)) << out;
      int part = -1;
      unsigned long partOffset = 0;
      ASSERT_EQ(sscanf(rest.c_str(), "    (File %d, Offset %lx)", &part, &partOffset), 2) << out;
      EXPECT_EQ(part, place.Part) << out;
      EXPECT_EQ(partOffset + (position - pageLoc), place.PartOffset) << out;
    }
  }
  BtFreeBuildResult(&built);
  RemoveTree(folder.string());
}

INSTANTIATE_TEST_SUITE_P(
    Versions, BuilderLocation,
    ::testing::Values(VersionCase{0x0300, 1024, 0}, VersionCase{0x0400, 512, 0},
                      VersionCase{0x0500, 2048, 0}, VersionCase{0x0600, 1024, 0},
                      VersionCase{0x0610, 4096, 0}, VersionCase{0x0700, 1024, 8192},
                      VersionCase{0x0800, 1024, 16384}, VersionCase{0x0900, 2048, 32768},
                      VersionCase{0x0950, 4096, 16384}, VersionCase{0x0D00, 4096, 16384},
                      VersionCase{0x0D30, 4096, 32768}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      char name[32];
      snprintf(name, sizeof name, "v%.4x_%lu", info.param.Version,
               static_cast<unsigned long>(info.param.PageSize));
      return std::string(name);
    });

}  // namespace
