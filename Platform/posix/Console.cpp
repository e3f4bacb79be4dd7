// POSIX console keys (placeholder, replaced by the real implementation).
#include "Platform/Platform.h"
void PlatformKeysBegin() {}
void PlatformKeysEnd() {}
int PlatformKeyWaiting() { return 0; }
int PlatformReadKey() { return 0; }
void PlatformInitStreams() {}
