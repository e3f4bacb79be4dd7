// Helpers of the Windows tests: the system's own text for a code, a scratch
// folder in the temporary folder, and standard error caught in a file.
#ifndef HALVORN_TESTS_WINDOWS_WIN32TESTKIT_H
#define HALVORN_TESTS_WINDOWS_WIN32TESTKIT_H

#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace wintest {

// FormatMessageA's text for a code, as the library is expected to print it.
inline std::string SystemText(DWORD code)
{
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0,
                 nullptr);
  std::string result = text ? text : "";
  if (text)
    LocalFree(text);
  return result;
}

// A fresh folder under the temporary folder, removed with its files.
class ScratchFolder {
public:
  explicit ScratchFolder(const std::string& name)
  {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "halvorn-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_, ignored);
  }
  ~ScratchFolder()
  {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
  std::string path_;
};

// Standard error, caught in a file while the code under test writes to it.
class CaptureStderr {
public:
  explicit CaptureStderr(const std::string& file) : file_(file)
  {
    fflush(stderr);
    sink_ = fopen(file_.c_str(), "wb");
    saved_ = _dup(2);
    _dup2(_fileno(sink_), 2);
  }
  ~CaptureStderr() { Stop(); }
  CaptureStderr(const CaptureStderr&) = delete;
  CaptureStderr& operator=(const CaptureStderr&) = delete;

  std::string Stop()
  {
    if (sink_ == nullptr)
      return text_;
    fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
    fclose(sink_);
    sink_ = nullptr;
    if (FILE* f = fopen(file_.c_str(), "rb")) {
      char buffer[512];
      size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        text_.append(buffer, got);
      fclose(f);
    }
    DeleteFileA(file_.c_str());
    return text_;
  }

private:
  std::string file_;
  std::string text_;
  FILE* sink_ = nullptr;
  int saved_ = -1;
};

}  // namespace wintest

#endif
