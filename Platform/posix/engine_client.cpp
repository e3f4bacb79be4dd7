// The record-call entry of the Linux client-library build: the vendor's client
// library libpsqlmif.so, loaded at the first engine call, and its BTRCALL
// symbol (C calling convention, 32-bit unsigned data length).
#include "Platform/Platform.h"

#include <dlfcn.h>

typedef int16_t (*EngineEntry)(uint16_t operation, void* positionBlock, void* dataBuffer,
                               uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                               int8_t keyNumber);

// The record manager is not loaded.
static const int16_t StatusEngineNotLoaded = 20;

// Where the library is looked for, in this order: the library path (the
// loader's own search: LD_LIBRARY_PATH, the cache, the system folders), then
// the install folders of the vendor's two product lines.
static const char* const LibraryNames[] = {
  "libpsqlmif.so",
  "/usr/local/psql/lib64/libpsqlmif.so",
  "/usr/local/actianzen/lib64/libpsqlmif.so",
};

static EngineEntry Entry = nullptr;
static int LoadTried = 0;

// The search runs once: when no library with the entry can be had, every call
// of the run answers 20 without another search. A library that loads but lacks
// BTRCALL is released and the next place is tried. The library stays loaded
// until the process ends.
static void LoadEngine()
{
  LoadTried = 1;
  for (const char* name : LibraryNames) {
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
      continue;
    void* entry = dlsym(library, "BTRCALL");
    if (entry != nullptr) {
      Entry = (EngineEntry)entry;
      return;
    }
    dlclose(library);
  }
}

int16_t PlatformRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber)
{
  if (!LoadTried)
    LoadEngine();
  if (Entry == nullptr)
    return StatusEngineNotLoaded;
  return Entry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength, keyNumber);
}
