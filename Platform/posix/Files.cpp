// POSIX file handles: open(2), lseek, read, write and close over plain file
// descriptors, with the three open kinds' sharing made by advisory locks.
//
// Sharing. Windows refuses a conflicting open with a sharing violation; here
// the same effect comes from flock(2), taken without waiting right after the
// open:
//   kind 0 (read, exclusive)       LOCK_EX | LOCK_NB
//   kind 1 (read and write)        LOCK_SH | LOCK_NB
//   kind 2 (read, share all)       no lock
// flock locks belong to the open file description, so a second open in the
// same process conflicts just like one in another process. A conflicting
// opener fails at once; its error code is the errno flock gives for a held
// lock, EWOULDBLOCK (the same value as EAGAIN on Linux, 11), and the text is
// strerror's for it ("Resource temporarily unavailable" on glibc). Locks are
// advisory: only openers that go through these functions (or flock(1)) honour
// them.
//
// Error codes. PlatformLastError gives the errno of the last failure of this
// thread, kept in a thread-local record so that later library calls (printf
// and the like) cannot overwrite it. The one fixed code is "the file does not
// exist": ENOENT must be reported as PlatformErrorFileNotFound (2), which the
// part loop treats as the normal end of a file set. On Linux (and the BSDs)
// ENOENT already is 2, so the mapping is the identity there; on a system where
// it were not, ENOENT and whatever errno has the value 2 swap codes, so no
// other error can ever read as "not found". PlatformErrorText undoes the same
// swap before asking strerror.
#include "Platform/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static thread_local uint32_t LastErrorCode = 0;

// errno -> the code callers see (see the note on error codes above).
static uint32_t CodeFromErrno(int error)
{
  if (error == ENOENT)
    return PlatformErrorFileNotFound;
  if (error == (int)PlatformErrorFileNotFound)
    return (uint32_t)ENOENT;
  return (uint32_t)error;
}

static int ErrnoFromCode(uint32_t code)
{
  if (code == PlatformErrorFileNotFound)
    return ENOENT;
  if (code == (uint32_t)ENOENT)
    return (int)PlatformErrorFileNotFound;
  return (int)code;
}

static void KeepErrno() { LastErrorCode = CodeFromErrno(errno); }

PlatformFile PlatformOpenFile(const char* path, int openKind)
{
  if (path == nullptr) {
    LastErrorCode = CodeFromErrno(EFAULT);
    return PlatformInvalidFile;
  }
  if (openKind != PlatformOpenReadWrite && openKind != PlatformOpenShared)
    openKind = PlatformOpenReadExclusive;

  // O_NONBLOCK only for the open itself, so that a path naming a FIFO cannot
  // hang the open; reads and writes of the handle block as usual.
  int flags = (openKind == PlatformOpenReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
  int fd;
  do
    fd = open(path, flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    KeepErrno();
    return PlatformInvalidFile;
  }
  int statusFlags = fcntl(fd, F_GETFL);
  if (statusFlags != -1)
    fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);

  // A directory opens read-only under POSIX but is no file to read pages
  // from; refuse it here, as Windows refuses to open one as a file.
  struct stat info;
  int error = 0;
  if (fstat(fd, &info) != 0)
    error = errno;
  else if (S_ISDIR(info.st_mode))
    error = EISDIR;
  if (error != 0) {
    close(fd);
    LastErrorCode = CodeFromErrno(error);
    return PlatformInvalidFile;
  }

  if (openKind != PlatformOpenShared) {
    int operation = (openKind == PlatformOpenReadExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int locked;
    do
      locked = flock(fd, operation);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      // A held lock gives EWOULDBLOCK: the sharing violation of this system.
      error = errno;
      close(fd);
      LastErrorCode = CodeFromErrno(error);
      return PlatformInvalidFile;
    }
  }
  return (PlatformFile)fd;
}

int PlatformSeek(PlatformFile file, uint64_t offset)
{
  if (offset > (uint64_t)INT64_MAX) {
    LastErrorCode = CodeFromErrno(EINVAL);
    return 0;
  }
  if (lseek((int)file, (off_t)offset, SEEK_SET) < 0) {
    KeepErrno();
    return 0;
  }
  return 1;
}

int PlatformSeekEnd(PlatformFile file, int64_t* size)
{
  off_t end = lseek((int)file, 0, SEEK_END);
  if (end < 0) {
    KeepErrno();
    return 0;
  }
  if (size != nullptr)
    *size = (int64_t)end;
  return 1;
}

int PlatformRead(PlatformFile file, void* buffer, uint32_t count, uint32_t* got)
{
  // A read of a regular file comes back short only at its end, but a signal
  // may cut one short too; keep reading until count bytes or the end.
  uint32_t done = 0;
  unsigned char* at = (unsigned char*)buffer;
  while (done < count) {
    ssize_t n = read((int)file, at + done, (size_t)(count - done));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      KeepErrno();
      if (got != nullptr)
        *got = done;
      return 0;
    }
    if (n == 0)
      break;
    done += (uint32_t)n;
  }
  if (got != nullptr)
    *got = done;
  return 1;
}

int PlatformWrite(PlatformFile file, const void* buffer, uint32_t count)
{
  // A short write is continued; it is never reported as written.
  uint32_t done = 0;
  const unsigned char* at = (const unsigned char*)buffer;
  while (done < count) {
    ssize_t n = write((int)file, at + done, (size_t)(count - done));
    if (n < 0) {
      if (errno == EINTR)
        continue;
      KeepErrno();
      return 0;
    }
    if (n == 0) {
      // No progress and no error: the device takes nothing more.
      LastErrorCode = CodeFromErrno(ENOSPC);
      return 0;
    }
    done += (uint32_t)n;
  }
  return 1;
}

void PlatformClose(PlatformFile file)
{
  if (file == PlatformInvalidFile)
    return;
  // The lock goes with the last descriptor of the open file description.
  close((int)file);
}

uint32_t PlatformLastError() { return LastErrorCode; }

// The text is strerror's, followed by CR LF: the system texts of Windows end
// in CR LF and the library writes them without a line end of its own, so a
// failure line ends the same way on both systems. Never null: on an
// allocation failure the text is this static empty one, which
// PlatformFreeErrorText recognises and leaves alone.
static char NoErrorText[1] = {0};

char* PlatformErrorText(uint32_t code)
{
  const char* text = strerror(ErrnoFromCode(code));
  if (text == nullptr || text[0] == 0)
    text = "Unknown error";
  size_t length = strlen(text);
  char* copy = (char*)malloc(length + 3);
  if (copy == nullptr)
    return NoErrorText;
  memcpy(copy, text, length);
  memcpy(copy + length, "\r\n", 3);
  return copy;
}

void PlatformFreeErrorText(char* text)
{
  if (text != nullptr && text != NoErrorText)
    free(text);
}
