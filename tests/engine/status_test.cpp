// The engine's statuses, its position block, and damage found in copies of
// the real samples that the test breaks on purpose.
#include <algorithm>
#include <gtest/gtest.h>

#include "EngineTestKit.h"
#include "Platform/Platform.h"

namespace {

class EngineStatus : public ::testing::Test {
protected:
  void SetUp() override
  {
    if (!FileExists(SamplePath("TEST.DAT")))
      GTEST_SKIP() << "sample folder absent";
  }
  // A copy of a sample in the scratch folder, changed by the caller.
  std::string Copy(const char* name, const Bytes& bytes)
  {
    std::string path = scratch.File(name);
    WriteWholeFile(path, bytes);
    return path;
  }
  ScratchDir scratch;
};

TEST_F(EngineStatus, OpenAnswersFileNotFoundAndNotABtrieveFile)
{
  uint8_t block[128];
  EXPECT_EQ(12, OpenPath(scratch.File("MISSING.DAT"), block));
  EXPECT_EQ(12, OpenPath(scratch.Path, block));  // a folder is no data file
  EXPECT_EQ(30, OpenPath(Copy("GARBAGE.DAT", Bytes(4096, 0x55)), block));
  EXPECT_EQ(30, OpenPath(Copy("SHORT.DAT", Bytes(100, 0)), block));
  // A 6.x file whose second FCR page is missing.
  Bytes galtela = ReadWholeFile(SamplePath("GALTELA.DAT"));
  EXPECT_EQ(30, OpenPath(Copy("ONEPAGE.DAT", Bytes(galtela.begin(), galtela.begin() + 4096)), block));
  // A physical record length that cannot hold the record.
  Bytes test = ReadWholeFile(SamplePath("TEST.DAT"));
  test[0x18] = 0x10;
  test[0x19] = 0;
  EXPECT_EQ(30, OpenPath(Copy("BADLEN.DAT", test), block));
  // An open mode outside the engine's modes.
  EXPECT_EQ(1, OpenPath(SamplePath("TEST.DAT"), block, 5));
  EXPECT_EQ(0, OpenPath(SamplePath("TEST.DAT"), block, -2));  // read-only
  CloseBlock(block);
}

TEST_F(EngineStatus, PositionBlocksTheEngineDidNotFillAnswerFileNotOpen)
{
  uint8_t data[100];
  uint32_t length = sizeof data;
  uint8_t block[128];
  memset(block, 0, sizeof block);
  EXPECT_EQ(3, CallEngine(OpStepFirst, block, data, &length, nullptr, 0));
  EXPECT_EQ(3, CallEngine(OpGetFirst, block, data, &length, nullptr, 0));
  EXPECT_EQ(3, CallEngine(OpClose, block, data, &length, nullptr, 0));
  ASSERT_EQ(0, OpenPath(SamplePath("TEST.DAT"), block));
  uint8_t copy[128];
  memcpy(copy, block, sizeof copy);
  CloseBlock(block);
  length = sizeof data;
  EXPECT_EQ(3, CallEngine(OpStepFirst, block, data, &length, nullptr, 0));
  EXPECT_EQ(3, CallEngine(OpStepFirst, copy, data, &length, nullptr, 0));  // stale copy
  // Reset closes every file.
  ASSERT_EQ(0, OpenPath(SamplePath("TEST.DAT"), block));
  EXPECT_EQ(0, CallEngine(OpReset, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(3, CallEngine(OpStepFirst, block, data, &length, nullptr, 0));
}

TEST_F(EngineStatus, OperationsKeysBuffersAndPositioning)
{
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(SamplePath("TEST.DAT"), block));
  uint8_t data[100], key[256];
  uint32_t length = sizeof data;
  EXPECT_EQ(1, CallEngine(99, block, data, &length, key, 0));
  EXPECT_EQ(1, CallEngine(2, block, data, &length, key, 0));  // Insert: not implemented
  // Next, Previous and Get Position before any record.
  EXPECT_EQ(8, CallEngine(OpStepNext, block, data, &length, key, 0));
  EXPECT_EQ(8, CallEngine(OpGetNext, block, data, &length, key, 0));
  EXPECT_EQ(8, CallEngine(OpGetPosition, block, data, &length, key, 0));
  // Keys the file does not define.
  EXPECT_EQ(6, CallEngine(OpGetFirst, block, data, &length, key, 1));
  EXPECT_EQ(6, CallEngine(OpGetFirst, block, data, &length, key, -1));
  EXPECT_EQ(6, CallEngine(OpGetLast + OpKeyOnly, block, data, &length, key, 7));
  // A short data buffer gets what fits.
  length = 10;
  EXPECT_EQ(22, CallEngine(OpStepFirst, block, data, &length, key, 0));
  EXPECT_EQ(10u, length);
  EXPECT_EQ(0, memcmp(data, "\x64\x00\x00\x00" "Custom", 10));
  // ... and the position moved to that record.
  uint8_t position[4];
  length = 2;
  EXPECT_EQ(22, CallEngine(OpGetPosition, block, position, &length, key, 0));
  length = 4;
  EXPECT_EQ(0, CallEngine(OpGetPosition, block, position, &length, key, 0));
  EXPECT_EQ(0x08060000u, Le32(position));
  length = sizeof data;
  EXPECT_EQ(0, CallEngine(OpStepNext, block, data, &length, key, 0));
  EXPECT_EQ(64u, length);
  EXPECT_EQ(0, memcmp(data, "\xc8\x00\x00\x00" "Customer 2", 14));
  CloseBlock(block);
}

// A read that finds no record leaves the buffer alone and gives the length
// of the record still in it, so that a dump of the buffer is that record.
TEST_F(EngineStatus, EndOfFileGivesTheLengthOfTheRecordStillInTheBuffer)
{
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(SamplePath("WGSMENU2.DAT"), block));
  std::vector<uint8_t> data(60000);
  uint32_t length = 0;
  int status = 0, records = 0;
  for (int op = OpStepFirst;; op = OpStepNext) {
    length = (uint32_t)data.size();
    status = CallEngine(op, block, data.data(), &length, nullptr, 0);
    if (status != 0)
      break;
    records++;
  }
  EXPECT_EQ(9, status);
  EXPECT_EQ(46, records);
  EXPECT_EQ(450u, length);  // CWORMSG: 448 bytes and a 2-byte variable part
  EXPECT_EQ(0, memcmp(data.data(), "CWORMSG", 8));
  CloseBlock(block);
  ASSERT_EQ(0, OpenPath(SamplePath("BBSGEN.VIR"), block));
  length = (uint32_t)data.size();
  EXPECT_EQ(9, CallEngine(OpStepFirst, block, data.data(), &length, nullptr, 0));
  EXPECT_EQ(0u, length);
  CloseBlock(block);
}

TEST_F(EngineStatus, KeyWalkPicksUpFromAPhysicalPosition)
{
  // TEST.DAT's key 0 is a string key over the bytes of a little-endian
  // number: 300, 100, 400, 200, 500 in key order.
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(SamplePath("TEST.DAT"), block));
  uint8_t data[100], key[256];
  uint32_t length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpStepFirst, block, data, &length, key, 0));  // 100
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpGetNext, block, data, &length, key, 0));
  EXPECT_EQ(400u, Le16(data));
  EXPECT_EQ(400u, Le16(key));
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpGetPrevious, block, data, &length, key, 0));
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpGetPrevious, block, data, &length, key, 0));
  EXPECT_EQ(300u, Le16(data));
  length = sizeof data;
  EXPECT_EQ(9, CallEngine(OpGetPrevious, block, data, &length, key, 0));
  // The position stays on the last record read: Step Next goes on from it.
  length = sizeof data;
  ASSERT_EQ(0, CallEngine(OpStepNext, block, data, &length, key, 0));
  EXPECT_EQ(400u, Le16(data));
  CloseBlock(block);
}

TEST_F(EngineStatus, SeveralFilesOpenAtOnceAndTheToolCanOpenExclusivelyAfterClose)
{
  uint8_t a[128], b[128];
  ASSERT_EQ(0, OpenPath(SamplePath("TEST.DAT"), a));
  ASSERT_EQ(0, OpenPath(SamplePath("MBBSEMU.DAT"), b));
  std::vector<uint8_t> data(60000);
  int countA = 0, countB = 0;
  int statusA = 0, statusB = 0;
  for (int op = OpStepFirst; statusA == 0 || statusB == 0; op = OpStepNext) {
    uint32_t length = (uint32_t)data.size();
    if (statusA == 0 && (statusA = CallEngine(op, a, data.data(), &length, nullptr, 0)) == 0)
      countA++;
    length = (uint32_t)data.size();
    if (statusB == 0 && (statusB = CallEngine(op, b, data.data(), &length, nullptr, 0)) == 0)
      countB++;
  }
  EXPECT_EQ(5, countA);
  EXPECT_EQ(4, countB);
  EXPECT_EQ(9, statusA);
  EXPECT_EQ(9, statusB);
  // After the engine's Close the tool's own exclusive open succeeds.
  CloseBlock(a);
  CloseBlock(b);
  PlatformFile handle = PlatformOpenFile(SamplePath("TEST.DAT").c_str(), PlatformOpenReadExclusive);
  EXPECT_NE(PlatformInvalidFile, handle);
  PlatformClose(handle);
}

// ---------------------------------------------------------------- damage

struct DamageCase {
  const char* Name;
  size_t RecordsBefore;   // records the walk returns before it answers 2
};

// Walks forward; the walk must end with 2 after `before` records and the
// last position must be that of record before - 1 of the healthy walk.
void ExpectDamageAfter(const std::string& path, const Walk& healthy, size_t before)
{
  Walk walk = PhysicalWalk(path);
  ASSERT_EQ(0, walk.OpenStatus);
  EXPECT_EQ(2, walk.Status);
  ASSERT_EQ(before, walk.Records.size());
  for (size_t i = 0; i < before; i++)
    EXPECT_EQ(healthy.Positions[i], walk.Positions[i]);
  // Along key 0 the walk never ends cleanly either.
  Walk keyed = KeyWalk(path, 0);
  EXPECT_EQ(2, keyed.Status);
  EXPECT_EQ(before, keyed.Records.size());
  Walk back = RunWalk(path, OpGetLast, OpGetPrevious, 0);
  EXPECT_EQ(2, back.Status);
}

TEST_F(EngineStatus, FileCutShortIsDamageNotEndOfFile)
{
  // MBMGEPLT.DAT: data pages 4 to 14, two slots each; cut after page 9.
  Bytes bytes = ReadWholeFile(SamplePath("MBMGEPLT.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("MBMGEPLT.DAT"));
  bytes.resize(10 * 1024);
  std::string path = Copy("CUT.DAT", bytes);
  ExpectDamageAfter(path, healthy, 12);
  Walk walk = PhysicalWalk(path);
  ASSERT_FALSE(walk.Positions.empty());
  EXPECT_EQ(0x26030000u, walk.Positions.back());  // page 9, slot 1: 9 * 1024 + 6 + 509
  // Backwards, the first page met is the missing one.
  Walk back = BackwardWalk(path);
  EXPECT_EQ(2, back.Status);
  EXPECT_TRUE(back.Records.empty());
  // A cut in the middle of a page: that page cannot be read whole.
  bytes.resize(9 * 1024 + 700);
  ExpectDamageAfter(Copy("HALF.DAT", bytes), healthy, 10);
}

TEST_F(EngineStatus, PageCountBeyondTheFileIsDamage)
{
  Bytes bytes = ReadWholeFile(SamplePath("MBBSEMU.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("MBBSEMU.DAT"));
  // Page count 0xFFFFFFFF: the walk ends at the end of the file with 2.
  memset(bytes.data() + 0x26, 0xFF, 4);
  ExpectDamageAfter(Copy("COUNT.DAT", bytes), healthy, 4);
}

TEST_F(EngineStatus, PageCountBeyondTheFileIsDamageFromSixOn)
{
  // GALTELA.DAT (current FCR page 1): the walk goes on through the PAT past
  // the last page in use until the next PAT pair, which is not in the file.
  Bytes bytes = ReadWholeFile(SamplePath("GALTELA.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("GALTELA.DAT"));
  memset(bytes.data() + 4096 + 0x26, 0xFF, 4);
  std::string path = Copy("COUNT6.DAT", bytes);
  ExpectDamageAfter(path, healthy, 73);
  // The read after the damage meets it again, and the position stays.
  uint8_t block[128];
  ASSERT_EQ(0, OpenPath(path, block));
  std::vector<uint8_t> data(60000);
  uint32_t length = (uint32_t)data.size();
  int status = CallEngine(OpStepFirst, block, data.data(), &length, nullptr, 0);
  while (status == 0) {
    length = (uint32_t)data.size();
    status = CallEngine(OpStepNext, block, data.data(), &length, nullptr, 0);
  }
  EXPECT_EQ(2, status);
  EXPECT_EQ(950u, length);
  length = (uint32_t)data.size();
  EXPECT_EQ(2, CallEngine(OpStepNext, block, data.data(), &length, nullptr, 0));
  uint8_t position[4];
  uint32_t four = 4;
  ASSERT_EQ(0, CallEngine(OpGetPosition, block, position, &four, nullptr, 0));
  EXPECT_EQ(healthy.Positions.back(), Le32(position));
  CloseBlock(block);
}

TEST_F(EngineStatus, DataPageWithoutItsOwnNumberIsDamage)
{
  // GALTELA.DAT: logical page 12 lies in physical page 9.
  Bytes bytes = ReadWholeFile(SamplePath("GALTELA.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("GALTELA.DAT"));
  size_t before = 0;
  while (before < healthy.Positions.size() && SwapHalves32(healthy.Positions[before]) / 4096 != 12)
    before++;
  ASSERT_LT(before, healthy.Positions.size());
  Bytes wrongNumber = bytes;
  wrongNumber[9 * 4096 + 2] = 0x33;  // low byte of the logical page
  ExpectDamageAfter(Copy("NUMBER.DAT", wrongNumber), healthy, before);
  Bytes wrongType = bytes;
  wrongType[9 * 4096 + 1] = 'V';
  ExpectDamageAfter(Copy("TYPE.DAT", wrongType), healthy, before);
  // A PAT entry that points past the end of the file (current copy: page 3).
  Bytes outside = bytes;
  size_t entry = 3 * 4096 + 8 + 4 * (12 - 1);
  outside[entry] = 0x7F;
  outside[entry + 2] = 0xFF;
  outside[entry + 3] = 0xFF;
  ExpectDamageAfter(Copy("PAT.DAT", outside), healthy, before);
}

TEST_F(EngineStatus, FreeSlotChainThatLoopsOrLeavesTheFileIsDamage)
{
  // TEST.DAT: five records in slots 0-4 of page 2 (slot n at 0x806 + 72 n).
  // Free slot 2 through the FCR's chain.
  Bytes bytes = ReadWholeFile(SamplePath("TEST.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("TEST.DAT"));
  const uint32_t slot2 = 0x806 + 2 * 72;
  auto setLink = [](Bytes& b, size_t at, uint32_t value) {
    b[at] = (uint8_t)(value >> 16);
    b[at + 1] = (uint8_t)(value >> 24);
    b[at + 2] = (uint8_t)value;
    b[at + 3] = (uint8_t)(value >> 8);
  };
  Bytes freed = bytes;
  setLink(freed, 0x10, slot2);
  memset(freed.data() + slot2, 0, 72);
  setLink(freed, slot2, 0xFFFFFFFF);
  Walk walk = PhysicalWalk(Copy("FREED.DAT", freed));
  EXPECT_EQ(9, walk.Status);
  std::vector<uint32_t> expected = {healthy.Positions[0], healthy.Positions[1],
                                    healthy.Positions[3], healthy.Positions[4]};
  EXPECT_EQ(expected, walk.Positions);

  Bytes looped = freed;
  setLink(looped, slot2, slot2);  // the slot links to itself
  ExpectDamageAfter(Copy("LOOP.DAT", looped), healthy, 2);
  Bytes longLoop = freed;  // 2 -> 3 -> 2
  setLink(longLoop, slot2, slot2 + 72);
  memset(longLoop.data() + slot2 + 72, 0, 72);
  setLink(longLoop, slot2 + 72, slot2);
  ExpectDamageAfter(Copy("LOOP2.DAT", longLoop), healthy, 2);
  Bytes leaves = freed;
  setLink(leaves, slot2, 0x00FFFF06);
  ExpectDamageAfter(Copy("LEAVES.DAT", leaves), healthy, 2);
  Bytes badHead = bytes;
  setLink(badHead, 0x10, 0x807);  // not a slot boundary
  ExpectDamageAfter(Copy("HEAD.DAT", badHead), healthy, 0);
}

TEST_F(EngineStatus, BrokenVariablePartIsDamage)
{
  // WGSMENU2.DAT: logical page 7 (physical 8) holds ATOP in slot 5; its
  // variable-part link follows the 448-byte fixed part.
  Bytes bytes = ReadWholeFile(SamplePath("WGSMENU2.DAT"));
  Walk healthy = PhysicalWalk(SamplePath("WGSMENU2.DAT"));
  size_t before = 0;
  while (before < healthy.Records.size() && memcmp(healthy.Records[before].data(), "ATOP", 5) != 0)
    before++;
  ASSERT_LT(before, healthy.Records.size());
  size_t link = 8 * 4096 + 6 + 5 * 454 + 2 + 448;
  ASSERT_EQ(0x08, bytes[link + 1]);  // logical page 8
  Bytes unused = bytes;
  unused[link + 3] = 200;  // fragment 200 is not in the table
  ExpectDamageAfter(Copy("FRAGMENT.DAT", unused), healthy, before);
  Bytes notVariable = bytes;
  notVariable[link + 1] = 0x07;  // a data page
  ExpectDamageAfter(Copy("NOTVAR.DAT", notVariable), healthy, before);
  // A fragment whose link points back at itself.
  Bytes looped = bytes;
  size_t fragment = 16 * 4096 + 0x5b8;  // ATOP's fragment 11 on logical page 8
  looped[fragment] = 0x00;
  looped[fragment + 1] = 0x08;
  looped[fragment + 2] = 0x00;
  looped[fragment + 3] = 11;
  ExpectDamageAfter(Copy("VARLOOP.DAT", looped), healthy, before);
}

}  // namespace
