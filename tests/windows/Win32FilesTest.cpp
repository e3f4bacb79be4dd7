// The Win32 file layer as the library sees it: the sharing of the three open
// kinds against each other, the system's codes and FormatMessageA texts for a
// missing file and a sharing conflict, 64-bit positioning and the size of a
// file past 4 GiB.
#include "LowLevel/LowLevel.h"
#include "Platform/Platform.h"
#include "Win32TestKit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using wintest::CaptureStderr;
using wintest::SystemText;

std::string PlatformText(uint32_t code)
{
  char* text = PlatformErrorText(code);
  std::string result = text;
  PlatformFreeErrorText(text);
  return result;
}

class Win32Files : public ::testing::Test {
protected:
  std::string path;
  void SetUp() override
  {
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    path = std::string(folder) + "halvorn-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dat";
    for (char& c : path)
      if (c == '/')
        c = '_';
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("0123456789", f);
    fclose(f);
  }
  void TearDown() override { DeleteFileA(path.c_str()); }
};

TEST_F(Win32Files, MissingFileGivesCodeTwoAndTheSystemText)
{
  PlatformFile file = PlatformOpenFile((path + ".missing").c_str(), PlatformOpenReadExclusive);
  EXPECT_EQ(file, PlatformInvalidFile);
  uint32_t code = PlatformLastError();
  EXPECT_EQ(code, PlatformErrorFileNotFound);
  std::string text = PlatformText(code);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text, SystemText(ERROR_FILE_NOT_FOUND));
}

// Whether a second open succeeds while the first is held: Windows checks the
// new open's access against the sharing of the opens already held, and the
// access already held against the new open's sharing.
struct SharingCase {
  int first;
  int second;
  bool secondOpens;
};

TEST_F(Win32Files, OpenKindsShareAsDeclared)
{
  const SharingCase cases[] = {
    {0, 0, false}, {0, 1, false}, {0, 2, false},
    {1, 0, false}, {1, 1, false}, {1, 2, true},
    {2, 0, false}, {2, 1, true},  {2, 2, true},
    // Any kind other than 1 and 2 is the exclusive read.
    {7, 2, false}, {2, -1, false},
  };
  for (const SharingCase& c : cases) {
    SCOPED_TRACE("first kind " + std::to_string(c.first) + ", second kind " +
                 std::to_string(c.second));
    PlatformFile first = PlatformOpenFile(path.c_str(), c.first);
    ASSERT_NE(first, PlatformInvalidFile);
    PlatformFile second = PlatformOpenFile(path.c_str(), c.second);
    if (c.secondOpens) {
      EXPECT_NE(second, PlatformInvalidFile);
    } else {
      EXPECT_EQ(second, PlatformInvalidFile);
      uint32_t code = PlatformLastError();
      EXPECT_EQ(code, (uint32_t)ERROR_SHARING_VIOLATION);
      EXPECT_EQ(PlatformText(code), SystemText(ERROR_SHARING_VIOLATION));
    }
    PlatformClose(second);
    PlatformClose(first);
  }
}

TEST_F(Win32Files, ReadWriteKindWritesAndOthersOnlyRead)
{
  PlatformFile file = PlatformOpenFile(path.c_str(), PlatformOpenReadWrite);
  ASSERT_NE(file, PlatformInvalidFile);
  ASSERT_EQ(PlatformSeek(file, 4), 1);
  ASSERT_EQ(PlatformWrite(file, "ab", 2), 1);
  PlatformClose(file);

  file = PlatformOpenFile(path.c_str(), PlatformOpenShared);
  ASSERT_NE(file, PlatformInvalidFile);
  char bytes[16] = {0};
  uint32_t got = 0;
  ASSERT_EQ(PlatformSeek(file, 0), 1);
  ASSERT_EQ(PlatformRead(file, bytes, sizeof bytes, &got), 1);
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(std::string(bytes, got), "0123ab6789");
  // A read-only handle refuses writes.
  EXPECT_EQ(PlatformWrite(file, "x", 1), 0);
  // At the end, a read succeeds with nothing.
  ASSERT_EQ(PlatformSeek(file, 10), 1);
  ASSERT_EQ(PlatformRead(file, bytes, 4, &got), 1);
  EXPECT_EQ(got, 0u);
  PlatformClose(file);
}

TEST_F(Win32Files, PositionsAndSizesPastFourGiB)
{
  const uint64_t farOffset = (5ull << 30) + 3;  // 5 GiB + 3
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  DWORD ignored = 0;
  DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  CloseHandle(handle);

  PlatformFile file = PlatformOpenFile(path.c_str(), PlatformOpenReadWrite);
  ASSERT_NE(file, PlatformInvalidFile);
  ASSERT_EQ(PlatformSeek(file, farOffset), 1);
  ASSERT_EQ(PlatformWrite(file, "END", 3), 1);
  int64_t size = 0;
  ASSERT_EQ(PlatformSeekEnd(file, &size), 1);
  EXPECT_EQ(size, (int64_t)(farOffset + 3));
  PlatformClose(file);

  file = PlatformOpenFile(path.c_str(), PlatformOpenReadExclusive);
  ASSERT_NE(file, PlatformInvalidFile);
  char bytes[8] = {0};
  uint32_t got = 0;
  // The low 32 bits alone (1 GiB + 3) hold nothing but zeros.
  ASSERT_EQ(PlatformSeek(file, farOffset), 1);
  ASSERT_EQ(PlatformRead(file, bytes, 8, &got), 1);
  EXPECT_EQ(std::string(bytes, got), "END");
  ASSERT_EQ(PlatformSeek(file, farOffset & 0xFFFFFFFFull), 1);
  ASSERT_EQ(PlatformRead(file, bytes, 3, &got), 1);
  EXPECT_EQ(std::string(bytes, got), std::string(3, '\0'));
  ASSERT_EQ(PlatformSeek(file, 0), 1);
  ASSERT_EQ(PlatformRead(file, bytes, 4, &got), 1);
  EXPECT_EQ(std::string(bytes, got), "0123");
  PlatformClose(file);
}

// The location report's read-only open asks for exclusive access: while
// another program holds the data file open, the open fails with the sharing
// violation and the system's text; a missing base file gives code 2.
TEST_F(Win32Files, LibraryOpenReportsTheSystemCodeAndText)
{
  struct Case {
    bool held;
    bool missing;
    uint32_t code;
  };
  const Case cases[] = {{true, false, ERROR_SHARING_VIOLATION}, {false, true, ERROR_FILE_NOT_FOUND}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::string name = c.missing ? path + ".gone" : path;
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (c.held) {
      // Another opener that lets others read and write, as an engine would.
      holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    }
    LLFileState.Verbose = 0;
    CaptureStderr capture(path + ".err");
    uint16_t parts = LLOpenReadOnly(name.c_str());
    std::string written = capture.Stop();
    LLCloseAll();
    if (holder != INVALID_HANDLE_VALUE)
      CloseHandle(holder);
    EXPECT_EQ(parts, 0);
    EXPECT_EQ(written, "Failed to Open File <" + name + ">, Status Code " + std::to_string(c.code) +
                           ", " + SystemText(c.code));
  }
}

TEST(Win32ErrorText, CodeWithoutSystemTextStillGivesALine)
{
  // No system message exists for this code.
  const uint32_t code = 0x2FFFFFFF;
  std::string text = PlatformText(code);
  EXPECT_EQ(text, "Unknown error 805306367\r\n");
}

TEST(Win32Keys, NoKeyIsWaitingWithoutAConsole)
{
  // ctest gives the test no console on standard input.
  if (GetFileType(GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR)
    GTEST_SKIP() << "standard input is a console";
  EXPECT_EQ(PlatformKeyWaiting(), 0);
}

}  // namespace
