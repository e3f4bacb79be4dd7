// Our engine as a Linux client library (libpsqlmif.so): BTRCALL with the C
// calling convention and a 32-bit unsigned data length.
#include "StandInEngine/StandInEngine.h"

#include <cstdint>

extern "C" __attribute__((visibility("default"))) int16_t BTRCALL(
    uint16_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
    void* keyBuffer, uint8_t keyLength, int8_t keyNumber)
{
  return StandInRecordCall(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                           keyNumber);
}
