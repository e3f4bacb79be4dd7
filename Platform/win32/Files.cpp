// Win32 file handles.
//
// The three open kinds map onto CreateFileA's access and sharing:
//   0  GENERIC_READ                 no sharing (exclusive)
//   1  GENERIC_READ | GENERIC_WRITE others may read
//   2  GENERIC_READ                 others may read, write and delete
// always with OPEN_EXISTING (a file is never created) and normal attributes.
// A conflict with another opener fails with ERROR_SHARING_VIOLATION (32).
//
// Error codes are the system's own (GetLastError), so "not found" is
// ERROR_FILE_NOT_FOUND, 2, as PlatformErrorFileNotFound says. The texts are
// FormatMessageA's in the user's default language, kept exactly as the system
// gives them, which includes the CR LF that ends every system message.
#include "Platform/Platform.h"

#include <windows.h>

#include <cstdio>

static HANDLE ToHandle(PlatformFile file)
{
  return (HANDLE)file;
}

PlatformFile PlatformOpenFile(const char* path, int openKind)
{
  DWORD access = GENERIC_READ;
  DWORD sharing = 0;
  if (openKind == PlatformOpenReadWrite) {
    access = GENERIC_READ | GENERIC_WRITE;
    sharing = FILE_SHARE_READ;
  } else if (openKind == PlatformOpenShared) {
    sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  }
  HANDLE handle = CreateFileA(path, access, sharing, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return PlatformInvalidFile;
  return (PlatformFile)handle;
}

int PlatformSeek(PlatformFile file, uint64_t offset)
{
  // SetFilePointerEx takes a signed distance; offsets of 2^63 and above
  // cannot be reached and are refused rather than wrapped to a negative one.
  if (offset > (uint64_t)INT64_MAX)
    return 0;
  LARGE_INTEGER distance;
  distance.QuadPart = (LONGLONG)offset;
  return SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_BEGIN) ? 1 : 0;
}

int PlatformSeekEnd(PlatformFile file, int64_t* size)
{
  LARGE_INTEGER distance;
  distance.QuadPart = 0;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(ToHandle(file), distance, &position, FILE_END))
    return 0;
  *size = (int64_t)position.QuadPart;
  return 1;
}

int PlatformRead(PlatformFile file, void* buffer, uint32_t count, uint32_t* got)
{
  DWORD read = 0;
  BOOL ok = ReadFile(ToHandle(file), buffer, (DWORD)count, &read, nullptr);
  *got = (uint32_t)read;
  return ok ? 1 : 0;
}

int PlatformWrite(PlatformFile file, const void* buffer, uint32_t count)
{
  const char* bytes = (const char*)buffer;
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(ToHandle(file), bytes, (DWORD)count, &written, nullptr))
      return 0;
    // A successful write of nothing would repeat forever: it is a failure,
    // with the code the system uses for a device that takes no more bytes.
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return 0;
    }
    bytes += written;
    count -= (uint32_t)written;
  }
  return 1;
}

void PlatformClose(PlatformFile file)
{
  if (file != PlatformInvalidFile)
    CloseHandle(ToHandle(file));
}

uint32_t PlatformLastError()
{
  return (uint32_t)GetLastError();
}

// Every text comes from LocalAlloc (FormatMessageA allocates with it), so
// PlatformFreeErrorText always releases with LocalFree. A code the system has
// no text for reads "Unknown error <code>" with the CR LF of a system text, so
// the failure line that carries it still ends its line. Should even that
// allocation fail, a static empty text is handed out and never freed.
static char NoErrorText[1] = {0};

char* PlatformErrorText(uint32_t code)
{
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, (DWORD)code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, nullptr);
  if (length > 0 && text != nullptr)
    return text;
  if (text != nullptr)
    LocalFree(text);
  const size_t size = 48;
  text = (char*)LocalAlloc(LMEM_FIXED, size);
  if (text == nullptr)
    return NoErrorText;
  snprintf(text, size, "Unknown error %lu\r\n", (unsigned long)code);
  return text;
}

void PlatformFreeErrorText(char* text)
{
  if (text != nullptr && text != NoErrorText)
    LocalFree(text);
}
