#include "Halvorn/Output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "Platform/Platform.h"

namespace {

// Progress bytes waiting for standard error. Two bytes per record, so a full
// buffer stands for 2048 records.
const size_t ProgressBufferSize = 4096;

struct OutputStateRecord {
  char Progress[ProgressBufferSize];
  size_t ProgressLength;
  int FlushAtExit;  // FlushProgress is registered with atexit
};

OutputStateRecord OutputState;

}  // namespace

void FlushProgress() {
  if (OutputState.ProgressLength == 0) return;
  fwrite(OutputState.Progress, 1, OutputState.ProgressLength, stderr);
  OutputState.ProgressLength = 0;
}

void ProgressPut(char first, char second) {
  if (!OutputState.FlushAtExit) {
    // A way out that does not pass EndRun (a return from main) still writes
    // every progress byte.
    atexit(FlushProgress);
    OutputState.FlushAtExit = 1;
  }
  if (OutputState.ProgressLength + 2 > ProgressBufferSize) FlushProgress();
  OutputState.Progress[OutputState.ProgressLength++] = first;
  OutputState.Progress[OutputState.ProgressLength++] = second;
}

void PrintOut(const char* format, ...) {
  FlushProgress();
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
}

void PrintErr(const char* format, ...) {
  FlushProgress();
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
}

void FormatText(char* buffer, size_t size, const char* format, ...) {
  if (size == 0) return;
  va_list args;
  va_start(args, format);
  int written = vsnprintf(buffer, size, format, args);
  va_end(args);
  if (written < 0) buffer[0] = '\0';
}

void EndRun(int exitCode) {
  FlushProgress();
  PlatformKeysEnd();
  exit(exitCode);
}
