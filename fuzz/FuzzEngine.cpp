// Fuzz target: the replacement engine over an arbitrary file set.
//
// The input's file set (see FuzzFileSet.h) is opened through the engine's
// record call (open mode normal, or read-only when flag bit 5 is set), then
// walked to its end in each of the six orders: Step First/Next and Step
// Last/Previous; Get First/Next and Get Last/Previous along keys 0 and 1 and
// the key the input names (choice byte 0); the key-only forms of the same.
// Every record read is followed by Get Position. The data buffer's size comes
// from the input (choice byte 1: 0 to 255, or 60000 when 0xFF), so short
// buffers are met too. At the end the file is closed and the engine reset.
//
// A walk ends when the engine answers anything but success. Every record a
// walk returns is a different record of the file, and a record takes at
// least one byte of it, so a walk that returns more records than the file
// set has bytes cannot be ending: that is reported as a fault (abort), not
// cut short. A walk that is merely slow shows as a libFuzzer timeout.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "StandInEngine/StandInEngine.h"
#include "fuzz/FuzzFileSet.h"

namespace {

const uint32_t RecordBufferSize = 60000;
const uint8_t FuzzFlagReadOnly = 0x20;
const uint8_t KeyLength = 255;  // what the tool passes
const int8_t OpenNormal = 0;
const int8_t OpenReadOnly = -2;

struct EngineRunRecord {
  uint8_t PositionBlock[128];
  uint8_t Data[RecordBufferSize];
  uint8_t Key[256];
  uint8_t Position[4];
  uint32_t DataSize;
  uint64_t MostRecords;  // records a walk may return: the file set's bytes
};

EngineRunRecord Run;

int16_t Call(uint16_t operation, void* data, uint32_t size, int8_t key) {
  uint32_t length = size;
  int16_t status = StandInRecordCall(operation, Run.PositionBlock, data, &length, Run.Key,
                                     KeyLength, key);
  if (length > size) {
    fprintf(stderr, "engine placed %lu bytes in a buffer of %lu\n", static_cast<unsigned long>(length),
            static_cast<unsigned long>(size));
    abort();
  }
  return status;
}

// The key-only forms leave the data buffer as it was: it is filled with a
// pattern before such a walk and checked after every call.
const uint8_t DataPattern = 0xA5;

void CheckDataUntouched(uint16_t operation) {
  for (uint32_t i = 0; i < Run.DataSize; ++i) {
    if (Run.Data[i] != DataPattern) {
      fprintf(stderr, "key-only operation %d wrote into the data buffer\n", operation);
      abort();
    }
  }
}

void Walk(uint16_t first, uint16_t next, int8_t key, int withPosition) {
  const int keyOnly = first > OpKeyOnly;
  if (keyOnly) memset(Run.Data, DataPattern, Run.DataSize);
  // Next before any First has no record to go on from.
  Call(next, Run.Data, Run.DataSize, key);
  uint64_t records = 0;
  int16_t status = Call(first, Run.Data, Run.DataSize, key);
  while (status == StatusSuccess) {
    if (++records > Run.MostRecords) {
      fprintf(stderr, "walk %d/%d along key %d returned %lu records from %lu bytes: it loops\n",
              first, next, key, static_cast<unsigned long>(records),
              static_cast<unsigned long>(Run.MostRecords));
      abort();
    }
    if (withPosition) Call(OpGetPosition, Run.Position, sizeof Run.Position, key);
    status = Call(next, Run.Data, Run.DataSize, key);
    if (keyOnly) CheckDataUntouched(next);
  }
  // Past the end the walk stays at its end.
  Call(next, Run.Data, Run.DataSize, key);
  Call(OpGetPosition, Run.Position, sizeof Run.Position, key);
  if (keyOnly) CheckDataUntouched(next);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFileSetInput input = FuzzReadInput(data, size);
  const char* path = FuzzWriteFileSet(input);
  Run.MostRecords = input.PayloadSize;
  Run.DataSize = input.Choice[1] == 0xFF ? RecordBufferSize : input.Choice[1];

  memset(Run.PositionBlock, 0, sizeof Run.PositionBlock);
  memset(Run.Key, 0, sizeof Run.Key);
  snprintf(reinterpret_cast<char*>(Run.Key), KeyLength, "%s", path);
  const int8_t mode = (input.Flags & FuzzFlagReadOnly) ? OpenReadOnly : OpenNormal;
  uint32_t ownerLength = 0;
  int16_t status = StandInRecordCall(OpOpen, Run.PositionBlock, Run.Data, &ownerLength, Run.Key,
                                     KeyLength, mode);
  if (status == StatusSuccess) {
    Walk(OpStepFirst, OpStepNext, 0, 1);
    Walk(OpStepLast, OpStepPrevious, 0, 1);
    const int8_t keys[] = {0, 1, static_cast<int8_t>(input.Choice[0])};
    const size_t keyCount = input.Choice[0] > 1 ? 3 : 2;
    for (size_t k = 0; k < keyCount; ++k) {
      Walk(OpGetFirst, OpGetNext, keys[k], 1);
      Walk(OpGetLast, OpGetPrevious, keys[k], 1);
      Walk(OpGetFirst + OpKeyOnly, OpGetNext + OpKeyOnly, keys[k], 0);
      Walk(OpGetLast + OpKeyOnly, OpGetPrevious + OpKeyOnly, keys[k], 0);
    }
    uint32_t none = 0;
    StandInRecordCall(OpClose, Run.PositionBlock, Run.Data, &none, Run.Key, KeyLength, 0);
  }
  uint32_t none = 0;
  uint8_t resetBlock[128] = {0};
  StandInRecordCall(OpReset, resetBlock, Run.Data, &none, Run.Key, KeyLength, 0);
  return 0;
}
