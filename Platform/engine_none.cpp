// The record-call entry of a program built without any engine: every call
// answers 20 (the record manager is not loaded).
#include "Platform/Platform.h"

int16_t PlatformRecordCall(uint16_t, void*, void*, uint32_t*, void*, uint8_t, int8_t) {
  return 20;
}
