// The library's state between fuzz runs.
#include <cstring>

#include "LowLevel/LowLevel.h"
#include "fuzz/FuzzFileSet.h"

void FuzzResetLibrary() {
  // Every target closes its set at the end of its run.
  LLFreeHeaderCache();
  memset(&LLFileState, 0, sizeof LLFileState);
  for (int part = 0; part < LLMaxParts; ++part) LLFileState.PartHandles[part] = PlatformInvalidFile;
  LLFileState.DeltaHandle = PlatformInvalidFile;
  LLFileState.V6ShiftThreshold = 0xFFFFFFFFu;
  LLFileState.LoadedPatPair = -1;
}
