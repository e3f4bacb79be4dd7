#include "Halvorn/Walk.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Common/LittleEndian.h"
#include "Halvorn/LocationReport.h"
#include "Halvorn/Output.h"
#include "Halvorn/ScanState.h"
#include "Halvorn/engine/BtrieveCall.h"
#include "Platform/Platform.h"

namespace {

const char SpinnerCharacters[] = "-\\|/";
const char EscapeKey = 27;
const uint8_t ExportEndByte = 0x1A;

// The console is asked for a key at most this often: a person cannot tell,
// and a fast walk does not pay a system call per record.
const std::chrono::milliseconds KeyPollInterval(5);
// The spinner's bytes reach standard error at least this often.
const std::chrono::milliseconds ProgressFlushInterval(100);

typedef std::chrono::steady_clock WalkClock;

// Even reading the clock costs a noticeable share of a fast walk, so it is
// read only every ClockStride records. The stride adapts: it doubles (up to
// MaxClockStride) while records come faster than a millisecond per stride,
// and falls back to 1 as soon as a stride takes longer than the poll
// interval, so that a slow engine still has its keys looked at every record.
const uint32_t MaxClockStride = 256;
const std::chrono::milliseconds ClockStrideTarget(1);

struct WalkStateRecord {
  WalkClock::time_point NextKeyPoll;
  WalkClock::time_point NextProgressFlush;
  WalkClock::time_point LastClockRead;
  uint32_t ClockStride;
  uint32_t RecordsUntilClock;
};

WalkStateRecord WalkState;

// The keyboard poll between records: at most one key is read per record, and
// only Escape means anything.
void PollKeyboard() {
  if (WalkState.RecordsUntilClock > 1) {
    --WalkState.RecordsUntilClock;
    return;
  }
  WalkClock::time_point now = WalkClock::now();
  WalkClock::duration sinceLast = now - WalkState.LastClockRead;
  WalkState.LastClockRead = now;
  if (sinceLast > KeyPollInterval) {
    WalkState.ClockStride = 1;
  } else if (sinceLast < ClockStrideTarget && WalkState.ClockStride < MaxClockStride) {
    WalkState.ClockStride *= 2;
  }
  WalkState.RecordsUntilClock = WalkState.ClockStride;
  if (now >= WalkState.NextProgressFlush) {
    FlushProgress();
    WalkState.NextProgressFlush = now + ProgressFlushInterval;
  }
  if (now < WalkState.NextKeyPoll) return;
  WalkState.NextKeyPoll = now + KeyPollInterval;
  if (!PlatformKeyWaiting()) return;
  if (PlatformReadKey() == EscapeKey) AbortByUser();
}

// The export file could not take its lines: the walk stops there, and the
// run must not end as if the export were complete.
[[noreturn]] void FailExport() {
  fclose(ScanState.ExportFile);
  ScanState.ExportFile = nullptr;
  CloseDataFile();
  ResetEngine();
  PrintErr("Unable to write HALVORN.UNF File!\n");
  EndRun(1);
}

}  // namespace

void ShowSpinner() {
  ProgressPut(SpinnerCharacters[ScanState.SpinnerIndex], '\b');
  ScanState.SpinnerIndex = (ScanState.SpinnerIndex + 1) & 3;
}

int WriteExportLine() {
  FILE* file = ScanState.ExportFile;
  fputs(ScanState.ExportPrefix, file);
  fwrite(ScanState.KeyBuffer, 1, static_cast<size_t>(ScanState.ExportKeyLength), file);
  fwrite("\r\n", 1, 2, file);
  return ferror(file) ? 0 : 1;
}

void FinishKeyOnlyExport(int status) {
  (void)status;
  FILE* file = ScanState.ExportFile;
  int written = fputc(ExportEndByte, file) != EOF;
  // The flush is asked for on its own: not every C library reports from
  // fclose a write of the buffer that failed.
  if (fflush(file) != 0 || ferror(file)) written = 0;
  if (fclose(file) != 0) written = 0;
  ScanState.ExportFile = nullptr;
  CloseDataFile();
  ResetEngine();
  // An export that lost bytes is reported and ends with exit code 1, never
  // as a finished export.
  if (!written) {
    PrintErr("Unable to write HALVORN.UNF File!\n");
    EndRun(1);
  }
  EndRun(0);
}

void WriteLastRecordDump() {
  // The engine reports its count in 16 bits; more than the buffer holds
  // cannot be dumped from it.
  size_t length = ScanState.DataFileBlock.DataLength;
  if (length > RecordBufferSize) length = RecordBufferSize;
  ScanState.ExportFile = fopen("LASTREC.DMP", "w+b");
  // A dump that was created but not written whole is no better than none.
  int written = ScanState.ExportFile != nullptr;
  if (written) {
    if (fwrite(ScanState.DataBuffer, 1, length, ScanState.ExportFile) != length) written = 0;
    if (fflush(ScanState.ExportFile) != 0) written = 0;
    if (fclose(ScanState.ExportFile) != 0) written = 0;
    ScanState.ExportFile = nullptr;
  }
  if (!written) PrintErr("Unable to create LASTREC.DMP\n");
}

void PrintScanSummary(int status) {
  PrintOut("\nScanning completed.\n");
  PrintOut("Records Scanned        : %lu\n", static_cast<unsigned long>(ScanState.RecordsScanned));
  PrintOut("Terminating Status     : %d\n\n", status);
  PrintOut("Final Btrieve Position : 0x%.8lx\n\n", static_cast<unsigned long>(ScanState.LastPosition));
}

void AbortByUser() {
  PlatformKeysEnd();
  PrintErr("Halvorn Terminated by the User.\n");
  CloseDataFile();
  ResetEngine();
  EndRun(1);
}

void WalkFile() {
  BtrieveCallBlock* block = &ScanState.DataFileBlock;
  block->DataBuffer = ScanState.DataBuffer;
  block->DataLength = RecordBufferSize;
  block->KeyBuffer = ScanState.KeyBuffer;
  block->KeyNumber = static_cast<int16_t>(ScanState.KeyNumber & 0xFFFF);

  uint16_t firstOperation;
  uint16_t nextOperation;
  if (ScanState.KeyOnly) {
    firstOperation = ScanState.Backward ? OpGetLast + OpKeyOnly : OpGetFirst + OpKeyOnly;
    nextOperation = ScanState.Backward ? OpGetPrevious + OpKeyOnly : OpGetNext + OpKeyOnly;
  } else if (ScanState.KeyNumber == -1) {
    firstOperation = ScanState.Backward ? OpStepLast : OpStepFirst;
    nextOperation = ScanState.Backward ? OpStepPrevious : OpStepNext;
  } else {
    firstOperation = ScanState.Backward ? OpGetLast : OpGetFirst;
    nextOperation = ScanState.Backward ? OpGetPrevious : OpGetNext;
  }

  PlatformKeysBegin();
  WalkClock::time_point start = WalkClock::now();
  WalkState.NextKeyPoll = start;
  WalkState.NextProgressFlush = start + ProgressFlushInterval;
  WalkState.LastClockRead = start;
  WalkState.ClockStride = 1;
  WalkState.RecordsUntilClock = 0;

  int status;
  block->Operation = firstOperation;
  for (;;) {
    status = CallFileBlock(block);
    if (status != StatusSuccess) break;
    PollKeyboard();
    ShowSpinner();
    if (ScanState.KeyOnly) {
      if (!WriteExportLine()) FailExport();
    } else {
      ScanState.RecordsScanned++;
      block->DataBuffer = ScanState.PositionBuffer;
      block->DataLength = sizeof ScanState.PositionBuffer;
      block->Operation = OpGetPosition;
      CallFileBlock(block);  // its status is not examined
      ScanState.LastPosition = GetLE32(ScanState.PositionBuffer);
      if (ScanState.Verbose) {
        PrintOut("Position=0x%.8lx\n", static_cast<unsigned long>(ScanState.LastPosition));
      }
      block->DataBuffer = ScanState.DataBuffer;
      block->DataLength = RecordBufferSize;
    }
    block->Operation = nextOperation;
  }
  PlatformKeysEnd();

  if (ScanState.KeyOnly) FinishKeyOnlyExport(status);

  CloseDataFile();
  ResetEngine();
  WriteLastRecordDump();
  free(ScanState.DataBuffer);
  ScanState.DataBuffer = nullptr;
  PrintScanSummary(status);
  EndRun(PrintLocationReport());
}
