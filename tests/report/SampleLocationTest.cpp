// End to end on the real sample files: run the halvorn program (linked with
// the replacement engine) on a copy of every sample that holds records, take
// the byte position that its location report prints, and check that the data
// file holds the last record there: the bytes at "Final Physical Location"
// (3.x to 5.x) or after the slot's 2-byte usage count at "Final Physical
// Position" (6.x and later) are the first record-length bytes of LASTREC.DMP.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "tests/report/ReportRun.h"

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

// The value printed after a label, as hexadecimal; "0x%.8lx:%.8lx" gives
// high and low halves. False when the label is not in the text.
bool PrintedValue(const std::string& text, const std::string& label, uint64_t* value) {
  const size_t at = text.find(label + "0x");
  if (at == std::string::npos) return false;
  const std::string rest = text.substr(at + label.size() + 2);
  char* end = nullptr;
  const unsigned long long first = strtoull(rest.c_str(), &end, 16);
  if (end == rest.c_str()) return false;
  if (*end == ':') {
    const unsigned long long low = strtoull(end + 1, nullptr, 16);
    *value = (first << 32) | low;
  } else {
    *value = first;
  }
  return true;
}

struct SampleFacts {
  uint16_t Version;     // after undoing a negated word
  uint16_t RecordLength;
  uint32_t Records;
};

// What the sample's current FCR says, read by hand (no library).
SampleFacts ReadFacts(const std::vector<uint8_t>& file) {
  SampleFacts facts{0, 0, 0};
  if (file.size() < 512) return facts;
  const bool zero = GetLE32(file.data()) == 0;
  uint16_t word = GetLE16(file.data() + (zero ? FcrVersionWordZero : FcrVersionWordFc));
  if (word > 0x8000) word = static_cast<uint16_t>(0x10000 - word);
  facts.Version = word;
  const uint8_t* fcr = file.data();
  if (word >= 0x0600 && word < 0x0800) {
    const size_t pageSize = static_cast<size_t>(file[FcrPageSizeByteOld]) * 256;
    if (pageSize > 0 && file.size() >= 2 * pageSize &&
        GetLE32(file.data() + FcrUsageCountV6) < GetLE32(file.data() + pageSize + FcrUsageCountV6))
      fcr = file.data() + pageSize;
  }
  facts.RecordLength = GetLE16(fcr + FcrRecordLength);
  facts.Records = GetHighWordFirst32(fcr + FcrRecordCount);
  return facts;
}

struct Walk {
  const char* Name;
  std::vector<std::string> Switches;
};

void CheckSample(const fs::path& sample, const Walk& walk) {
  const std::vector<uint8_t> bytes = ReadFile(sample);
  const SampleFacts facts = ReadFacts(bytes);
  if (facts.Records == 0) return;  // no record to find
  SCOPED_TRACE(sample.filename().string() + " " + walk.Name);

  const fs::path folder = MakeTempFolder();
  const fs::path copy = folder / sample.filename();
  fs::copy_file(sample, copy);
  std::string command = "cd \"" + folder.string() + "\" && \"" HALVORN_PROGRAM "\" \"" +
                        copy.filename().string() + "\"";
  for (const std::string& option : walk.Switches) command += " " + option;
  command += " </dev/null >stdout 2>stderr";
  const int status = std::system(command.c_str());
  const std::string out = ReadText(folder / "stdout");
  ASSERT_EQ(status, 0) << out << ReadText(folder / "stderr");

  uint64_t position = 0;
  uint64_t slotStart = 0;
  if (facts.Version < 0x0600) {
    ASSERT_TRUE(PrintedValue(out, "Final Physical Location: ", &position)) << out;
    slotStart = position;
  } else {
    ASSERT_TRUE(PrintedValue(out, "Final Physical Position: ", &position)) << out;
    slotStart = position + 2;  // after the slot's usage count
  }
  const std::vector<uint8_t> dump = ReadFile(folder / "LASTREC.DMP");
  ASSERT_GE(dump.size(), facts.RecordLength);
  ASSERT_LE(slotStart + facts.RecordLength, bytes.size()) << out;
  const std::vector<uint8_t> onDisk(bytes.begin() + slotStart,
                                    bytes.begin() + slotStart + facts.RecordLength);
  const std::vector<uint8_t> dumped(dump.begin(), dump.begin() + facts.RecordLength);
  EXPECT_EQ(onDisk, dumped) << out;
  if (facts.Version >= 0x0600) {
    EXPECT_NE(GetLE16(bytes.data() + position), 0) << "the slot's usage count is 0: a free slot";
  }
  RemoveTree(folder.string());
}

TEST(SampleLocation, LastRecordLiesWhereTheReportSays) {
  const fs::path samples = HALVORN_SAMPLES_DIR;
  if (!fs::is_directory(samples)) GTEST_SKIP() << "no sample folder at " << samples;
  const std::vector<Walk> walks = {{"physical order", {}},
                                   {"physical order backwards", {"/B"}},
                                   {"key 0", {"/K0"}},
                                   {"key 0 backwards", {"/K0", "/B"}}};
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(samples)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    if (ReadFacts(ReadFile(entry.path())).Records == 0) continue;
    for (const Walk& walk : walks) CheckSample(entry.path(), walk);
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no sample with records in " << samples;
}

}  // namespace
