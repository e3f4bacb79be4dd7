// Whole-tool tests that a golden case cannot express: the call log of every
// walk order checked against the operation table, an export that fails in the
// middle of a walk, and the keyboard under a real pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const Program = HALVORN_SCRIPTED_PROGRAM;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// A fresh working directory for one run, removed afterwards.
struct WorkDir {
  std::string Path;
  WorkDir() {
    char pattern[] = "/tmp/halvorn-tool.XXXXXX";
    Path = mkdtemp(pattern);
  }
  ~WorkDir() {
    std::string command = "rm -rf '" + Path + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", Path.c_str());
  }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }
};

// One line of the scripted engine's call log.
struct Call {
  int Operation = -1;
  int KeyNumber = 0;
  unsigned long LengthIn = 0;
  unsigned long LengthOut = 0;
  int Status = 0;
  bool NoKeyBuffer = false;
};

std::vector<Call> ReadCallLog(const std::string& path) {
  std::vector<Call> calls;
  std::istringstream lines(ReadFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    Call call;
    if (sscanf(line.c_str(), "op=%d keynum=%d keylen=%*u len=%lu>%lu status=%d", &call.Operation,
               &call.KeyNumber, &call.LengthIn, &call.LengthOut, &call.Status) != 5)
      continue;
    call.NoKeyBuffer = line.find(" kb=none") != std::string::npos;
    calls.push_back(call);
  }
  return calls;
}

// How the tool's standard input is connected.
enum InputKind {
  PlainInput,          // a file: no terminal at all
  ForegroundTerminal,  // the controlling terminal, the tool in its foreground
  BackgroundTerminal   // the controlling terminal, the tool in a background group
};

// Starts the tool in dir with the script; standard input is stdinFd,
// standard output and error go to files "out" and "err" in dir.
pid_t StartTool(const WorkDir& dir, const std::vector<std::string>& args, int stdinFd,
                InputKind kind) {
  pid_t child = fork();
  if (child != 0) return child;
  if (chdir(dir.Path.c_str()) != 0) _exit(126);
  if (kind != PlainInput) {
    setsid();
    ioctl(stdinFd, TIOCSCTTY, 0);
  }
  if (kind == BackgroundTerminal) {
    // The session leader stays in the foreground group and hands on the
    // tool's exit code; the tool runs in a group of its own, as a shell's
    // "&" would start it.
    pid_t tool = fork();
    if (tool != 0) {
      int status = 0;
      waitpid(tool, &status, 0);
      _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    setpgid(0, 0);
  }
  dup2(stdinFd, 0);
  int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open("err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(out, 1);
  dup2(err, 2);
  // Nothing else of the test reaches the tool: above all not the terminal's
  // master side, which would keep the terminal alive after the test let go.
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  setenv("HALVORN_SCRIPT", "engine.script", 1);
  setenv("HALVORN_CALL_LOG", "calls.log", 1);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(Program, argv.data());
  _exit(127);
}

// Waits for the child; -1 when it had to be killed after the time limit.
int WaitForExit(pid_t child, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    int status = 0;
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Ends the tool if a test stops early (a failed assertion), so that no walk
// is left running on its own.
struct ChildGuard {
  pid_t Child;
  ~ChildGuard() {
    int status = 0;
    if (waitpid(Child, &status, WNOHANG) == 0) {
      kill(Child, SIGKILL);
      waitpid(Child, &status, 0);
    }
  }
};

int RunTool(const WorkDir& dir, const std::string& script, const std::vector<std::string>& args) {
  WriteFile(dir / "engine.script", script);
  int input = open("/dev/null", O_RDONLY);
  pid_t child = StartTool(dir, args, input, PlainInput);
  close(input);
  return WaitForExit(child, 60);
}

// ---------------------------------------------------------------- walk orders

struct WalkOrder {
  const char* Name;
  std::vector<std::string> Switches;
  int FirstOperation;
  int NextOperation;
  bool KeyOnly;
  int KeyNumber;
};

class WalkOrderTest : public ::testing::TestWithParam<WalkOrder> {};

// The operations, key numbers and data lengths that each order sends, and a
// dump as long as the last length the engine reported.
TEST_P(WalkOrderTest, SendsTheOperationTableSequence) {
  const WalkOrder& order = GetParam();
  const int records = 5;
  std::string script = "0\n";
  for (int i = 0; i < records; ++i) {
    if (order.KeyOnly) {
      script += "0 keytext=Key" + std::to_string(i) + "\n";
      continue;
    }
    script += "record datatext=Record" + std::to_string(i) + " keytext=Key" + std::to_string(i) +
              " pos=0000100" + std::to_string(i) + "\n";
  }
  script += "9 len=7\n";
  WorkDir dir;
  std::vector<std::string> args = {"DATA.MKD"};
  args.insert(args.end(), order.Switches.begin(), order.Switches.end());
  int exitCode = RunTool(dir, script, args);
  std::vector<Call> calls = ReadCallLog(dir / "calls.log");

  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].Operation, 0);
  EXPECT_EQ(calls[0].LengthIn, 60000u);
  EXPECT_EQ(calls[0].KeyNumber, 0);

  size_t at = 1;
  int reads = 0;
  for (;; ++reads) {
    ASSERT_LT(at, calls.size());
    const Call& read = calls[at++];
    EXPECT_EQ(read.Operation, reads == 0 ? order.FirstOperation : order.NextOperation) << reads;
    EXPECT_EQ(read.KeyNumber, order.KeyNumber);
    EXPECT_FALSE(read.NoKeyBuffer);
    if (read.Status != 0) break;
    if (!order.KeyOnly) {
      // Exactly one Get Position, into a 4-byte field, after every record.
      ASSERT_LT(at, calls.size());
      const Call& position = calls[at++];
      EXPECT_EQ(position.Operation, 22);
      EXPECT_EQ(position.LengthIn, 4u);
      // The next read gets the whole record buffer again.
      ASSERT_LT(at, calls.size());
      EXPECT_EQ(calls[at].LengthIn, 60000u);
    }
  }
  EXPECT_EQ(reads, records);
  ASSERT_EQ(calls.size(), at + 2);
  EXPECT_EQ(calls[at].Operation, 1);
  EXPECT_EQ(calls[at + 1].Operation, 28);
  EXPECT_TRUE(calls[at + 1].NoKeyBuffer);
  EXPECT_EQ(calls[at + 1].KeyNumber, 0);

  if (order.KeyOnly) {
    EXPECT_EQ(exitCode, 0);
    std::string expected;
    for (int i = 0; i < records; ++i) expected += "4,Key" + std::to_string(i) + "\r\n";
    expected += '\x1a';
    EXPECT_EQ(ReadFile(dir / "HALVORN.UNF"), expected);
    EXPECT_FALSE(Exists(dir / "LASTREC.DMP"));
  } else {
    EXPECT_FALSE(Exists(dir / "HALVORN.UNF"));
    std::string dump = ReadFile(dir / "LASTREC.DMP");
    EXPECT_EQ(dump.size(), calls.back().LengthOut);
    EXPECT_EQ(dump, "Record4");
    EXPECT_NE(ReadFile(dir / "out").find("Records Scanned        : 5\n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SixOrders, WalkOrderTest,
    ::testing::Values(WalkOrder{"PhysicalForward", {}, 33, 24, false, -1},
                      WalkOrder{"PhysicalBackward", {"/B"}, 34, 35, false, -1},
                      WalkOrder{"KeyForward", {"/K3"}, 12, 6, false, 3},
                      WalkOrder{"KeyBackward", {"/K3", "/B"}, 13, 7, false, 3},
                      WalkOrder{"KeyOnlyForward", {"/A2", "/L4"}, 62, 56, true, 2},
                      WalkOrder{"KeyOnlyBackward", {"/B", "/A2", "/L4"}, 63, 57, true, 2}),
    [](const ::testing::TestParamInfo<WalkOrder>& info) { return std::string(info.param.Name); });

// ---------------------------------------------------------------- export on a full device

// An export that fails in the middle of a long walk stops the walk there,
// closes the file through the engine, resets it and ends with exit code 1.
TEST(ExportTest, FullDeviceStopsTheWalk) {
  WorkDir dir;
  ASSERT_EQ(symlink("/dev/full", (dir / "HALVORN.UNF").c_str()), 0);
  const int keys = 20000;
  int exitCode = RunTool(dir, "0\n" + std::to_string(keys) + "* 0 keytext=ABCDEFGHIJ\n9\n",
                         {"DATA.MKD", "/A0", "/L10"});
  EXPECT_EQ(exitCode, 1);
  std::string err = ReadFile(dir / "err");
  const std::string message = "Unable to write HALVORN.UNF File!\n";
  ASSERT_GE(err.size(), message.size());
  EXPECT_EQ(err.substr(err.size() - message.size()), message);
  std::vector<Call> calls = ReadCallLog(dir / "calls.log");
  ASSERT_GE(calls.size(), 4u);
  EXPECT_LT(calls.size(), static_cast<size_t>(keys));
  EXPECT_EQ(calls[calls.size() - 2].Operation, 1);
  EXPECT_EQ(calls.back().Operation, 28);
  EXPECT_EQ(ReadFile(dir / "out"), "");
}

// ---------------------------------------------------------------- keyboard under a pseudo-terminal

bool CanonicalWithEcho(int terminal) {
  struct termios mode;
  if (tcgetattr(terminal, &mode) != 0) return false;
  return (mode.c_lflag & ICANON) != 0 && (mode.c_lflag & ECHO) != 0;
}

struct KeyCase {
  const char* Name;
  const char* Script;
  std::vector<std::string> Switches;
  std::vector<std::string> KeysBefore;  // sent one at a time; the walk must go on after each
  const char* FinalKey;                 // sent last (Escape, Ctrl-C), or null: the walk ends itself
  int ExitCode;
  const char* ErrEnd;  // what standard error ends with
  bool EndsWithCloseAndReset;
};

class KeyboardTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyboardTest, UnderAPseudoTerminal) {
  const KeyCase& keyCase = GetParam();
  WorkDir dir;
  WriteFile(dir / "engine.script", keyCase.Script);
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_TRUE(CanonicalWithEcho(slave));

  std::vector<std::string> args = {"DATA.MKD"};
  args.insert(args.end(), keyCase.Switches.begin(), keyCase.Switches.end());
  pid_t child = StartTool(dir, args, slave, ForegroundTerminal);
  ChildGuard guard{child};

  auto running = [&]() {
    int status;
    return waitpid(child, &status, WNOHANG) == 0;
  };
  if (keyCase.FinalKey != nullptr) {
    // The walk has begun once the terminal has left canonical mode.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (CanonicalWithEcho(slave) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_FALSE(CanonicalWithEcho(slave)) << "the walk did not switch the terminal";
    for (const std::string& key : keyCase.KeysBefore) {
      ASSERT_EQ(write(master, key.data(), key.size()), static_cast<ssize_t>(key.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      ASSERT_TRUE(running()) << "a key other than Escape ended the walk";
    }
    off_t before = static_cast<off_t>(ReadFile(dir / "err").size());
    // Long enough for a few spinner flushes on a loaded machine.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_GT(static_cast<off_t>(ReadFile(dir / "err").size()), before) << "the spinner stopped";
    size_t length = strlen(keyCase.FinalKey);
    ASSERT_EQ(write(master, keyCase.FinalKey, length), static_cast<ssize_t>(length));
  }
  int exitCode = WaitForExit(child, 30);
  EXPECT_EQ(exitCode, keyCase.ExitCode);
  EXPECT_TRUE(CanonicalWithEcho(slave)) << "the terminal's mode was not restored";
  close(master);
  close(slave);

  std::string err = ReadFile(dir / "err");
  std::string end = keyCase.ErrEnd;
  ASSERT_GE(err.size(), end.size());
  EXPECT_EQ(err.substr(err.size() - end.size()), end);
  // Before the message: the spinner, its four characters in turn, each
  // followed by a backspace, starting with the hyphen.
  const char spinner[] = "-\\|/";
  std::string progress = err.substr(0, err.size() - end.size());
  size_t echoEnd = progress.rfind("\r\n");
  if (echoEnd != std::string::npos) progress = progress.substr(echoEnd + 2);
  ASSERT_EQ(progress.size() % 2, 0u);
  for (size_t i = 0; i < progress.size(); i += 2) {
    ASSERT_EQ(progress[i], spinner[(i / 2) % 4]) << i;
    ASSERT_EQ(progress[i + 1], '\b') << i;
  }

  if (keyCase.FinalKey != nullptr) {
    EXPECT_FALSE(Exists(dir / "LASTREC.DMP"));
    EXPECT_EQ(ReadFile(dir / "out"), "");
  }
  if (keyCase.EndsWithCloseAndReset) {
    std::vector<Call> calls = ReadCallLog(dir / "calls.log");
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 2].Operation, 1);
    EXPECT_EQ(calls.back().Operation, 28);
  }
}

const char* const EndlessRecords = "0\nforever* record datatext=Rec keytext=Key pos=00000101\n";
const char* const EndlessKeys = "0\nforever* 0 keytext=Key\n";
const char* const Terminated = "Halvorn Terminated by the User.\n";

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyboardTest,
    ::testing::Values(
        KeyCase{"EscapeEndsTheWalk", EndlessRecords, {}, {}, "\x1b", 1, Terminated, true},
        KeyCase{"OtherKeysChangeNothing", EndlessRecords, {"/K1"}, {"x", "\x1b[A", " "}, "\x1b", 1,
                Terminated, true},
        KeyCase{"EscapeEndsAKeyOnlyWalk", EndlessKeys, {"/A0", "/L3"}, {"q"}, "\x1b", 1,
                Terminated, true},
        // Ctrl-C: the signal ends the process as it would without the walk,
        // and the terminal gets its mode back first.
        KeyCase{"InterruptRestoresTheTerminal", EndlessRecords, {}, {}, "\x03", 128 + SIGINT, "",
                false},
        KeyCase{"StatusTwentyRestoresTheTerminal",
                "0\n3* record datatext=Rec pos=00000101\n20\n", {}, {}, nullptr, 1,
                "Please load the Btrieve Record Manager\n", false},
        KeyCase{"NormalEndRestoresTheTerminal", "0\n3* 0 keytext=Key\n9\n", {"/A0", "/L3"}, {},
                nullptr, 0, "-\b\\\b|\b", true}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.Name); });

// A key-only walk ended by Escape keeps the lines written so far and gets no
// end byte.
TEST(KeyboardExportTest, EscapeLeavesTheExportWithoutEndByte) {
  WorkDir dir;
  WriteFile(dir / "engine.script", EndlessKeys);
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  pid_t child = StartTool(dir, {"DATA.MKD", "/A0", "/L3"}, slave, ForegroundTerminal);
  ChildGuard guard{child};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (CanonicalWithEcho(slave) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(write(master, "\x1b", 1), 1);
  EXPECT_EQ(WaitForExit(child, 30), 1);
  close(master);
  close(slave);
  std::string unf = ReadFile(dir / "HALVORN.UNF");
  const std::string line = "3,Key\r\n";
  ASSERT_GE(unf.size(), line.size());
  ASSERT_EQ(unf.size() % line.size(), 0u);
  for (size_t i = 0; i < unf.size(); i += line.size()) ASSERT_EQ(unf.substr(i, line.size()), line) << i;
}

// A walk in the background of its terminal neither changes the terminal's
// mode nor reads from it (either would stop the process), and runs to its end.
TEST(KeyboardBackgroundTest, BackgroundRunLeavesTheTerminalAlone) {
  WorkDir dir;
  WriteFile(dir / "engine.script", "0\n2000* 0 keytext=Key\n9\n");
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(write(master, "\x1b", 1), 1);  // a waiting Escape changes nothing either
  pid_t child = StartTool(dir, {"DATA.MKD", "/A0", "/L3"}, slave, BackgroundTerminal);
  EXPECT_EQ(WaitForExit(child, 30), 0);
  EXPECT_TRUE(CanonicalWithEcho(slave));
  close(master);
  close(slave);
  std::string unf = ReadFile(dir / "HALVORN.UNF");
  EXPECT_EQ(unf.size(), 2000u * 7 + 1);
}

}  // namespace
