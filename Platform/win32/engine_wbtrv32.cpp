// The record-call entry of the Windows program: the Btrieve engine's client
// library wbtrv32.dll, loaded at the first engine call. Its record-call entry
// is taken by ordinal 1; it uses the __stdcall convention and gives the status
// in the low 16 bits of its result.
#include "Platform/Platform.h"

#include <windows.h>

typedef int(__stdcall* EngineEntry)(uint16_t operation, void* positionBlock, void* dataBuffer,
                                    uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                    int8_t keyNumber);

// The record manager is not loaded.
static const int16_t StatusEngineNotLoaded = 20;

static EngineEntry Entry = nullptr;
static int LoadTried = 0;

// The library is looked for once: when it or its entry is missing, every call
// of the run answers 20 without another search. The library stays loaded until
// the process ends.
static void LoadEngine()
{
  LoadTried = 1;
  HMODULE library = LoadLibraryA("wbtrv32.dll");
  if (library == nullptr)
    return;
  FARPROC entry = GetProcAddress(library, MAKEINTRESOURCEA(1));
  if (entry == nullptr) {
    FreeLibrary(library);
    return;
  }
  Entry = (EngineEntry)(void*)entry;
}

int16_t PlatformRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber)
{
  if (!LoadTried)
    LoadEngine();
  if (Entry == nullptr)
    return StatusEngineNotLoaded;
  int status = Entry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                     keyNumber);
  return (int16_t)(uint16_t)(status & 0xFFFF);
}
