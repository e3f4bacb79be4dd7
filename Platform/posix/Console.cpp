// POSIX console: key polling on a terminal, and the standard streams.
//
// When standard input is a terminal, PlatformKeysBegin switches it to
// non-canonical mode without echo, so that a key arrives at once and is not
// shown; the mode it found is put back by PlatformKeysEnd, at the normal end
// of the process (atexit) and when a signal that ends the process arrives.
// When standard input is not a terminal, or the process runs in the
// background of its terminal, no key is ever waiting, and nothing is changed.
#include "Platform/Platform.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const int EscapeKey = 27;
// What PlatformReadKey gives for a key that sends a sequence of bytes
// beginning with Escape (arrows, function keys, Alt combinations): any value
// but Escape itself.
const int SequenceKey = 0x100;

// Signals whose default action ends the process; while the terminal's mode is
// changed, each restores it first.
const int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

struct ConsoleStateRecord {
  int Changed;             // the terminal's mode is changed and must be put back
  int Registered;          // atexit and signal handlers are installed
  struct termios Saved;    // the mode found by PlatformKeysBegin
};

ConsoleStateRecord ConsoleState;

void RestoreTerminal() {
  if (!ConsoleState.Changed) return;
  tcsetattr(STDIN_FILENO, TCSANOW, &ConsoleState.Saved);
  ConsoleState.Changed = 0;
}

void RestoreAtExit() { RestoreTerminal(); }

void RestoreOnSignal(int signalNumber) {
  // tcsetattr, signal and raise are async-signal-safe.
  if (ConsoleState.Changed) tcsetattr(STDIN_FILENO, TCSANOW, &ConsoleState.Saved);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

void RegisterRestore() {
  if (ConsoleState.Registered) return;
  ConsoleState.Registered = 1;
  atexit(RestoreAtExit);
  for (int signalNumber : EndingSignals) {
    struct sigaction current;
    if (sigaction(signalNumber, nullptr, &current) != 0) continue;
    // A signal the parent chose to ignore stays ignored.
    if (current.sa_handler != SIG_DFL) continue;
    struct sigaction action = {};
    action.sa_handler = RestoreOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signalNumber, &action, nullptr);
  }
}

// 1 when a byte can be read from standard input at once.
int ByteWaiting() {
  struct pollfd input = {};
  input.fd = STDIN_FILENO;
  input.events = POLLIN;
  return poll(&input, 1, 0) > 0 && (input.revents & POLLIN) != 0;
}

// Reads one byte; -1 at end of input or on an error.
int ReadByte() {
  unsigned char byte;
  if (read(STDIN_FILENO, &byte, 1) != 1) return -1;
  return byte;
}

}  // namespace

void PlatformKeysBegin() {
  if (ConsoleState.Changed) return;
  if (!isatty(STDIN_FILENO)) return;
  // A run in the background of its terminal (started with "&") leaves the
  // terminal alone: changing its mode, or reading from it, would stop the
  // process until it is brought to the foreground. It polls no keys.
  if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
  struct termios mode;
  if (tcgetattr(STDIN_FILENO, &mode) != 0) return;
  ConsoleState.Saved = mode;
  RegisterRestore();
  mode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // TCSANOW keeps keys typed ahead of the walk.
  if (tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0) ConsoleState.Changed = 1;
}

void PlatformKeysEnd() { RestoreTerminal(); }

int PlatformKeyWaiting() {
  if (!ConsoleState.Changed) return 0;
  return ByteWaiting();
}

// Reads one key. A terminal sends most keys as one byte, but arrows, function
// keys and Alt combinations as a burst that starts with Escape; a burst is
// read whole and given as one key that is not Escape, so that only the Escape
// key alone reads as 27.
int PlatformReadKey() {
  int byte = ReadByte();
  if (byte != EscapeKey || !ByteWaiting()) return byte;
  int next = ReadByte();
  if (next == '[') {
    // Control sequence: parameter and intermediate bytes up to a final byte.
    while (ByteWaiting()) {
      int part = ReadByte();
      if (part < 0 || (part >= 0x40 && part <= 0x7E)) break;
    }
  } else if (next == 'O') {
    if (ByteWaiting()) ReadByte();
  }
  return SequenceKey;
}

// POSIX streams do no line-end translation; nothing to set up.
void PlatformInitStreams() {}
