// The halvorn program's engine entry bound to the replacement engine.
#include "Platform/Platform.h"
#include "StandInEngine/StandInEngine.h"

int16_t PlatformRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber)
{
  return StandInRecordCall(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                           keyNumber);
}
