// Our engine as wbtrv32.dll, for Windows users who have no engine: the
// record-call entry with the __stdcall convention, exported as ordinal 1 by
// wbtrv32.def. The status goes back sign-extended in a full int, whose low 16
// bits are what callers read.
#include "StandInEngine/StandInEngine.h"

#include <cstdint>

extern "C" int __stdcall BTRCALL(uint16_t operation, void* positionBlock, void* dataBuffer,
                                 uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                 int8_t keyNumber)
{
  return StandInRecordCall(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                           keyNumber);
}
