// Win32 console: key polling through the C runtime, and the standard streams.
#include "Platform/Platform.h"

#include <windows.h>

#include <conio.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>

// The console delivers keys one at a time and _getch does not echo, so there
// is nothing to set up or restore around a walk.
void PlatformKeysBegin() {}
void PlatformKeysEnd() {}

// _kbhit asks the console; when standard input is a file or a pipe there is
// no console to ask, and no key is ever waiting.
int PlatformKeyWaiting()
{
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
    return 0;
  return _kbhit() ? 1 : 0;
}

int PlatformReadKey()
{
  return _getch();
}

// Standard output and standard error are switched to binary mode, so the
// program writes exactly the bytes the Linux build writes. The messages carry
// their own line ends: a line feed for most, CR LF for the switch echoes and a
// few library traces. In the C runtime's text mode every line feed would gain
// a CR, and the CR LF lines would end in CR CR LF. A console shows either the
// same way; with binary streams, redirected output and the tests' expected
// outputs are the same on Windows and Linux.
void PlatformInitStreams()
{
  fflush(stdout);
  fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}
