// The one seam between Halvorn and the operating system.
//
// Everything the tool, the low-level library and the replacement engine need
// from the system goes through these functions: file handles, console keys and
// the engine's record-call entry. There is a POSIX implementation
// (Platform/posix) and a Win32 one (Platform/win32); the build picks one. No
// other source file tests for the operating system.
#ifndef HALVORN_PLATFORM_PLATFORM_H
#define HALVORN_PLATFORM_PLATFORM_H

#include <cstdint>

// ---------------------------------------------------------------- files

// A system file handle. PlatformInvalidFile marks a handle that is not open.
typedef intptr_t PlatformFile;
const PlatformFile PlatformInvalidFile = -1;

// Access and sharing of an open:
//   0  read,            others may do nothing (exclusive)
//   1  read and write,  others may read
//   2  read,            others may read, write and delete
// Any other value acts as 0. A file is opened only if it exists.
enum {
  PlatformOpenReadExclusive = 0,
  PlatformOpenReadWrite = 1,
  PlatformOpenShared = 2
};

// The code that PlatformLastError gives when a file does not exist.
const uint32_t PlatformErrorFileNotFound = 2;

// Opens an existing file. Returns PlatformInvalidFile on failure; the reason
// is then in PlatformLastError().
PlatformFile PlatformOpenFile(const char* path, int openKind);

// Positions the handle at a 64-bit offset from the start of the file. 1/0.
int PlatformSeek(PlatformFile file, uint64_t offset);

// Positions the handle at the end of the file and gives the file's size. 1/0.
int PlatformSeekEnd(PlatformFile file, int64_t* size);

// Reads up to count bytes at the handle's position; *got receives the number
// read. Returns 1 when the system read succeeded (even if short), 0 on error.
int PlatformRead(PlatformFile file, void* buffer, uint32_t count, uint32_t* got);

// Writes count bytes at the handle's position. A write the system completes
// only in part is continued until every byte is written or the system reports
// an error: 1 means every byte was written, 0 means the write failed.
int PlatformWrite(PlatformFile file, const void* buffer, uint32_t count);

// Closes the handle.
void PlatformClose(PlatformFile file);

// The code of the last system error of this thread.
uint32_t PlatformLastError();

// The system's message text for a code, in the user's default language. It
// ends in CR LF, as the Win32 system's texts do; on POSIX the line end is
// added to strerror's text, so that failure lines have the same shape on both
// systems. Never null; release it with PlatformFreeErrorText.
char* PlatformErrorText(uint32_t code);
void PlatformFreeErrorText(char* text);

// ---------------------------------------------------------------- console

// Prepares the console for key polling during a walk; on a terminal this turns
// off line buffering and echo. PlatformKeysEnd restores the console; it is
// safe to call more than once and is also run when the process exits.
void PlatformKeysBegin();
void PlatformKeysEnd();

// 1 when a key is waiting, without waiting for one. Never 1 when standard
// input is not a console.
int PlatformKeyWaiting();

// Reads one waiting key without echo.
int PlatformReadKey();

// Puts the standard streams into the mode the tool's output is written in
// (no line-end translation). Called once at the start of the program.
void PlatformInitStreams();

// ---------------------------------------------------------------- engine

// The engine's record-call entry, as the tool calls it: operation code,
// 128-byte position block, data buffer, 32-bit in/out data length, key
// buffer, key length, signed 8-bit key number; returns the status in 16 bits.
//
// Exactly one definition is linked into each program: the replacement engine
// (StandInEngine/EngineBinding.cpp), the system's engine loaded at the first call
// (Platform/win32/engine_wbtrv32.cpp, Platform/posix/engine_client.cpp), an
// entry that answers 20 to everything (Platform/engine_none.cpp), or a test
// double.
int16_t PlatformRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                           uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                           int8_t keyNumber);

#endif
