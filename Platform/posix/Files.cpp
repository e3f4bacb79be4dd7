// POSIX file handles (placeholder, replaced by the real implementation).
#include "Platform/Platform.h"
PlatformFile PlatformOpenFile(const char*, int) { return PlatformInvalidFile; }
int PlatformSeek(PlatformFile, uint64_t) { return 0; }
int PlatformSeekEnd(PlatformFile, int64_t*) { return 0; }
int PlatformRead(PlatformFile, void*, uint32_t, uint32_t* got) { *got = 0; return 0; }
int PlatformWrite(PlatformFile, const void*, uint32_t) { return 0; }
void PlatformClose(PlatformFile) {}
uint32_t PlatformLastError() { return 2; }
static char NoText[] = "";
char* PlatformErrorText(uint32_t) { return NoText; }
void PlatformFreeErrorText(char*) {}
