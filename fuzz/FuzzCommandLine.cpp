// Fuzz target: the tool's command line over arbitrary argument vectors, and
// the run it prepares, against an engine of this file that does no real work.
//
// Input: byte 0 steers the engine (below); the rest is split at its zero
// bytes into the arguments after the program's name (at most 10; an empty
// piece is an empty argument). The tool then runs as main() runs it:
// ParseCommandLine, PrepareRun, WalkFile.
//
// The tool ends every run through exit() (EndRun, and the engine layer's
// status 20). This program is linked with the linker's --wrap=exit, so that
// while a run is in progress exit() comes back here by longjmp with the exit
// code; outside a run (libFuzzer's own exit) it is the real exit. Nothing in
// the tool is changed for it: what the tool does up to its exit is what a
// real run does.
//
// The engine: Open answers the status that bits 0-2 of byte 0 pick (success,
// file not found, not a Btrieve file, damage, not loaded, file not open,
// status 88, success), and file not found for any path with a '/', so that a
// run only ever opens files of the scratch folder it works in. A walk gets
// bits 3-5 of byte 0 records (data and key bytes from byte 0), then end of
// file; Get Position answers the record's number; Close and Reset succeed.
#include <setjmp.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Halvorn/CommandLine.h"
#include "Halvorn/ScanState.h"
#include "Halvorn/Walk.h"
#include "LowLevel/LowLevel.h"
#include "Platform/Platform.h"
#include "fuzz/FuzzFileSet.h"

namespace {

const size_t MaxArguments = 10;
const int16_t OpenStatuses[8] = {0, 12, 30, 2, 20, 3, 88, 0};

struct CommandRunRecord {
  int Active;            // a run is in progress: exit() comes back here
  jmp_buf Return;
  int ExitCode;
  uint8_t Steer;         // byte 0 of the input
  uint32_t RecordsLeft;  // records the engine still gives in this walk
  uint32_t RecordNumber;
};

CommandRunRecord CommandRun;

}  // namespace

extern "C" void __real_exit(int code);

extern "C" void __wrap_exit(int code) {
  if (CommandRun.Active) {
    CommandRun.Active = 0;
    CommandRun.ExitCode = code;
    longjmp(CommandRun.Return, 1);
  }
  __real_exit(code);
  abort();  // not reached
}

int16_t PlatformRecordCall(uint16_t operation, void*, void* dataBuffer, uint32_t* dataLength,
                           void* keyBuffer, uint8_t keyLength, int8_t) {
  const uint8_t steer = CommandRun.Steer;
  switch (operation) {
    case 0: {
      const char* path = static_cast<const char*>(keyBuffer);
      if (path == nullptr || memchr(path, '/', keyLength) != nullptr) return 12;
      CommandRun.RecordsLeft = (steer >> 3) & 7;
      CommandRun.RecordNumber = 0;
      return OpenStatuses[steer & 7];
    }
    case 1:
    case 28:
      return 0;
    case 22:
      if (dataLength != nullptr && *dataLength >= 4 && dataBuffer != nullptr) {
        uint8_t* bytes = static_cast<uint8_t*>(dataBuffer);
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(CommandRun.RecordNumber >> (8 * i));
        *dataLength = 4;
      }
      return 0;
    case 33: case 24: case 34: case 35:
    case 12: case 6: case 13: case 7:
    case 62: case 56: case 63: case 57: {
      if (CommandRun.RecordsLeft == 0) return 9;
      CommandRun.RecordsLeft--;
      CommandRun.RecordNumber++;
      if (operation < 50 && dataBuffer != nullptr && dataLength != nullptr) {
        uint32_t length = *dataLength < 16 ? *dataLength : 16;
        memset(dataBuffer, steer, length);
        *dataLength = length;
      }
      if (keyBuffer != nullptr) memset(keyBuffer, steer, keyLength);
      return 0;
    }
    default:
      return 1;
  }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // HALVORN.UNF and LASTREC.DMP are written into the current folder.
  if (chdir(FuzzScratchFolder()) != 0) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;

  // Each argument in a heap block of its own, exactly as long as it is.
  std::vector<std::unique_ptr<char[]>> pieces;
  const char programName[] = "halvorn";
  pieces.emplace_back(new char[sizeof programName]);
  memcpy(pieces.back().get(), programName, sizeof programName);
  size_t at = 1;
  while (at <= size && pieces.size() <= MaxArguments) {
    const uint8_t* end = static_cast<const uint8_t*>(memchr(data + at, 0, size - at));
    size_t length = end != nullptr ? static_cast<size_t>(end - (data + at)) : size - at;
    pieces.emplace_back(new char[length + 1]);
    memcpy(pieces.back().get(), data + at, length);
    pieces.back()[length] = '\0';
    at += length + 1;
  }
  std::vector<char*> argv;
  for (auto& piece : pieces) argv.push_back(piece.get());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);

  // A fresh run: the state as at program start, no files left by the run
  // before.
  unlink("HALVORN.UNF");
  unlink("LASTREC.DMP");
  ScanState = ScanStateRecord();
  FuzzResetLibrary();
  CommandRun.Steer = data[0];
  CommandRun.ExitCode = -1;

  CommandRun.Active = 1;
  if (setjmp(CommandRun.Return) == 0) {
    ParseCommandLine(argc, argv.data());
    PrepareRun(argc, argv.data());
    WalkFile();
  }
  CommandRun.Active = 0;
  if (CommandRun.ExitCode < 0 || CommandRun.ExitCode > 2) abort();  // exit codes are 0, 1 and 2

  // What the end of the process would release.
  if (ScanState.ExportFile != nullptr) fclose(ScanState.ExportFile);
  free(ScanState.DataBuffer);
  ScanState = ScanStateRecord();
  LLCloseAll();
  return 0;
}
