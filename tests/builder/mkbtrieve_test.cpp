// mkbtrieve as a user runs it: --list names, for every record, the place and
// the engine position that the file's own bytes confirm.
#include <sys/wait.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "BuilderTestKit.h"

using namespace bttest;

namespace {

#ifdef MKBTRIEVE_PATH

struct MkRun {
  int Exit;
  std::string Out;
  std::string Err;
};

MkRun RunMk(const TempDir& dir, const std::string& args) {
  std::string out = dir.Path("stdout.txt"), err = dir.Path("stderr.txt");
  // MkRun in the scratch folder, so that relative output names land there.
  std::string command = "cd \"" + dir.Root.string() + "\" && \"" + MKBTRIEVE_PATH + "\" " + args + " >\"" + out +
                        "\" 2>\"" + err + "\"";
  int status = std::system(command.c_str());
  MkRun run;
  run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::vector<uint8_t> o = ReadWhole(out), e = ReadWhole(err);
  run.Out.assign(o.begin(), o.end());
  run.Err.assign(e.begin(), e.end());
  return run;
}

struct ListCase {
  const char* Version;
  uint16_t Word;
  uint32_t RecordBase;
};

const ListCase ListCases[] = {
    {"4.00", 0x0400, 6},  {"6.00", 0x0600, 6},  {"7.00", 0x0700, 6},
    {"9.00", 0x0900, 8},  {"9.50", 0x0950, 10}, {"13.00", 0x0D00, 10},
};

TEST(Mkbtrieve, ListAgreesWithTheBytesOfTheFile) {
  TempDir dir;
  for (const ListCase& c : ListCases) {
    SCOPED_TRACE(c.Version);
    std::string path = dir.Path("LIST.DAT");
    MkRun run = RunMk(dir, std::string("--version ") + c.Version +
                             " --page-size 1024 --records 300 --record-length 40 --free-every 5"
                             " --part-size 8K --shuffle-keys --key 0:4:integer --list --quiet \"" +
                             path + "\"");
    ASSERT_EQ(0, run.Exit) << run.Err;
    std::vector<uint8_t> f = ReadSet(path);
    ASSERT_GT(f.size(), 2 * 8192u);  // three parts or more
    bool v6 = c.Word >= 0x0600;
    uint32_t prefix = v6 ? 2 : 0;
    uint32_t prl = Le16(f, 24);
    uint32_t bits = c.Word == 0x0D00 ? f[419] : f[351];
    std::istringstream lines(run.Out);
    std::string header;
    std::getline(lines, header);
    EXPECT_EQ("record logical-page physical-page slot offset part part-offset position", header);
    std::string line;
    uint32_t count = 0;
    std::vector<bool> keySeen(300, false);
    while (std::getline(lines, line)) {
      unsigned long i, logical, physical, slot, position;
      unsigned long long offset, partOffset;
      int part;
      ASSERT_EQ(8, std::sscanf(line.c_str(), "%lu %lx %lx %lu %llx %d %llx %lx", &i, &logical,
                               &physical, &slot, &offset, &part, &partOffset, &position))
          << line;
      ASSERT_EQ(count, i);
      ++count;
      uint64_t page = uint64_t(physical) * 1024;
      ASSERT_EQ(page + c.RecordBase + slot * prl, offset) << line;
      EXPECT_EQ(offset / 8192, uint64_t(part));
      EXPECT_EQ(offset % 8192, partOffset);
      // The page carries its own number; the slot is used and holds a key
      // value not seen before (the keys are a permutation).
      uint32_t carried = !v6 ? Hwf32(f, page)
                         : c.Word < 0x0800 ? (uint32_t(f[page]) << 16) | Le16(f, page + 2)
                                           : Le32(f, page);
      EXPECT_EQ(v6 ? logical : physical, carried);
      if (v6) {
        EXPECT_EQ(1, Le16(f, offset));
      }
      uint32_t key = Le32(f, offset + prefix);
      ASSERT_LT(key, 300u);
      EXPECT_FALSE(keySeen[key]);
      keySeen[key] = true;
      EXPECT_EQ(uint8_t(i * 7 + 4), f[offset + prefix + 4]);
      uint32_t expected;
      uint32_t within = uint32_t(offset - page);
      if (c.Word < 0x0600) expected = (uint32_t(offset) >> 16) | (uint32_t(offset) << 16);
      else if (c.Word < 0x0700) {
        uint32_t p = uint32_t(logical * 1024 + within);
        expected = (p >> 16) | (p << 16);
      } else if (c.Word < 0x0800) expected = uint32_t(logical << 8 | slot);
      else expected = uint32_t(logical << bits | slot);
      EXPECT_EQ(expected, position) << line;
    }
    EXPECT_EQ(300u, count);
  }
}

TEST(Mkbtrieve, HelpSummaryAndErrors) {
  TempDir dir;
  MkRun help = RunMk(dir, "--help");
  EXPECT_EQ(0, help.Exit);
  EXPECT_EQ(0u, help.Out.find("Usage: mkbtrieve [options] OUT.DAT\n"));
  EXPECT_NE(std::string::npos, help.Out.find("--damage"));

  std::string path = dir.Path("S.DAT");
  MkRun ok = RunMk(dir, "--version 6.10 --page-size 2048 --records 50 \"" + path + "\"");
  EXPECT_EQ(0, ok.Exit) << ok.Err;
  EXPECT_EQ(0u, ok.Out.find("Wrote " + path + ": version 6.10, page size 2048, FCR page size 2048\n"));
  EXPECT_EQ("", ok.Err);

  struct Bad {
    const char* Args;
    const char* Message;
  } bad[] = {
      {"--version 2.5 X.DAT", "mkbtrieve: unknown version: 2.5\n"},
      {"--frobnicate X.DAT", "mkbtrieve: unknown option: --frobnicate\n"},
      {"--damage melt=3 X.DAT", "mkbtrieve: bad damage: melt=3\n"},
      {"--records", "mkbtrieve: bad record count: (missing)\n"},
      {"--version 9.50 --variable 10 X.DAT",
       "mkbtrieve: X.DAT: variable-length records are written for 3.x to 6.x only\n"},
  };
  for (const Bad& b : bad) {
    MkRun run = RunMk(dir, b.Args);
    EXPECT_EQ(1, run.Exit) << b.Args;
    EXPECT_EQ(b.Message, run.Err) << b.Args;
  }
}

#else

TEST(Mkbtrieve, ListAgreesWithTheBytesOfTheFile) {
  GTEST_SKIP() << "mkbtrieve is not part of this build";
}

#endif

}  // namespace
