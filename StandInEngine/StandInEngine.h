// The replacement Btrieve engine: one record-call entry with the real
// engine's signature, reading the data files itself.
//
// The entry is a single function so that it can be exported unchanged as the
// client library's record call (BTRCALL, ordinal 1 of wbtrv32.dll).
#ifndef HALVORN_STANDINENGINE_STANDINENGINE_H
#define HALVORN_STANDINENGINE_STANDINENGINE_H

#include <cstdint>

// Operation codes the engine answers; any other code answers
// StatusInvalidOperation.
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
  OpKeyOnly = 50  // added to 6, 7, 12 and 13: the key value alone
};

// Statuses the engine answers.
enum {
  StatusSuccess = 0,
  StatusInvalidOperation = 1,
  StatusDamaged = 2,          // the file's structures are broken at this point
  StatusFileNotOpen = 3,      // position block the engine did not fill
  StatusInvalidKeyNumber = 6,
  StatusInvalidPositioning = 8,  // Next/Previous/Get Position without a current record
  StatusEndOfFile = 9,
  StatusFileNotFound = 12,
  StatusDataBufferShort = 22,
  StatusNotBtrieveFile = 30,
  StatusFileTableFull = 86
};

// The record call: operation code, 128-byte position block, data buffer,
// 32-bit in/out data length (in: the buffer's size; out: the bytes placed in
// it), key buffer, key buffer length, key number (open mode for Open).
int16_t StandInRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                          int8_t keyNumber);

#endif
