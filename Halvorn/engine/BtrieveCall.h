// The engine call layer: the call record of the open data file, the one
// adapter to the engine's record-call entry, and the open, close and reset
// requests built on them.
#ifndef HALVORN_HALVORN_ENGINE_BTRIEVECALL_H
#define HALVORN_HALVORN_ENGINE_BTRIEVECALL_H

#include <cstdint>

// Engine operation codes the tool sends.
enum {
  OpOpen = 0,
  OpClose = 1,
  OpGetNext = 6,
  OpGetPrevious = 7,
  OpGetFirst = 12,
  OpGetLast = 13,
  OpGetPosition = 22,
  OpStepNext = 24,
  OpReset = 28,
  OpStepFirst = 33,
  OpStepLast = 34,
  OpStepPrevious = 35,
  OpKeyOnly = 50  // added to Get Next/Previous/First/Last for the key-only reads
};

// Engine statuses the layer knows by name.
enum {
  StatusSuccess = 0,
  StatusFileNotOpen = 3,
  StatusKeyNotFound = 4,
  StatusDuplicateKey = 5,
  StatusEndOfFile = 9,
  StatusFileNotFound = 12,
  StatusNotLoaded = 20,
  StatusBufferTooShort = 22,
  StatusNotBtrieveFile = 30
};

const int PositionBlockSize = 128;
const int CallBlockNameSize = 128;
// The key length the tool always passes to the engine.
const uint8_t EngineKeyLength = 255;

// The engine call record of one open data file.
struct BtrieveCallBlock {
  uint16_t Operation;                       // operation code for the next call
  uint8_t PositionBlock[PositionBlockSize]; // the engine's; the tool never touches it
  void* DataBuffer;                         // buffer the engine reads or fills
  uint16_t DataLength;                      // in: buffer size; out: bytes placed
  void* KeyBuffer;                          // key buffer, or none
  int16_t KeyNumber;                        // key number or open mode; low 8 bits used
  char FileName[CallBlockNameSize];         // first 127 characters of the name, for messages
};

// The only caller of the engine's record-call entry. Widens the 16-bit length
// to 32 bits (0 when dataLength is null), passes key length 255 and the key
// number's low 8 bits, and writes the low 16 bits of the engine's length back.
int16_t EngineCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                   uint16_t* dataLength, void* keyBuffer, int16_t keyNumber);

// Sends the block to the engine and writes the message its status calls for.
// Status 20 ends the process with exit code 1; every other status is returned.
int CallFileBlock(BtrieveCallBlock* block);

// Opens ScanState.FileName with ScanState.OwnerName. Returns the status.
int OpenDataFile();

// Close on the data file's block; the status is not examined.
void CloseDataFile();

// Reset of the engine; callers ignore the status.
int ResetEngine();

#endif
