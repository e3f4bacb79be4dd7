// The fuzz targets' input: a 16-byte header followed by the bytes of a data
// file set, which the header splits into a base file, extension parts and a
// delta file, written into one scratch folder that every run reuses.
//
// Header:
//   0     flags: bits 0-1 number of extension parts (0-3), bit 2 a delta file,
//         bit 3 verbose traces, bit 4 the shared open kind instead of the
//         exclusive one, bits 5-7 left to the target
//   1-3   three bytes left to the target (page and slot choices)
//   4-7   a 32-bit value left to the target (an engine position)
//   8-11  size of the base file when it has parts (the rest goes to the last
//         part)
//   12-15 size of each middle part
// Without parts the base file is the whole payload. The delta file, when
// present, holds the header's 16 bytes.
#ifndef HALVORN_FUZZ_FUZZFILESET_H
#define HALVORN_FUZZ_FUZZFILESET_H

#include <cstddef>
#include <cstdint>

const size_t FuzzHeaderSize = 16;

const uint8_t FuzzFlagPartsMask = 0x03;
const uint8_t FuzzFlagDelta = 0x04;
const uint8_t FuzzFlagVerbose = 0x08;
const uint8_t FuzzFlagShared = 0x10;

struct FuzzFileSetInput {
  uint8_t Flags;
  uint8_t Choice[3];
  uint32_t Value;
  uint32_t BaseSize;
  uint32_t MiddleSize;
  uint8_t Header[FuzzHeaderSize];
  const uint8_t* Payload;
  size_t PayloadSize;
};

// Splits an input; inputs shorter than the header get a zero header and the
// bytes they have as payload.
FuzzFileSetInput FuzzReadInput(const uint8_t* data, size_t size);

// Writes the file set of the input into the scratch folder, removing the
// parts and the delta file of the run before that it does not have now.
// Returns the base file's path.
const char* FuzzWriteFileSet(const FuzzFileSetInput& input);

// The scratch folder, created at the first call (under /dev/shm when there
// is one, so the files live in memory).
const char* FuzzScratchFolder();

// Writes one file of the scratch folder; returns its path.
const char* FuzzWriteFile(const char* name, const uint8_t* data, size_t size);

// Puts the library's global record back to its state at program start
// (handles invalid, no header table, no 6.x threshold), so that a run does
// not depend on the inputs before it.
void FuzzResetLibrary();

#endif
