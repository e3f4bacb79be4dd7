#include "tests/report/ReportRun.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "Halvorn/LocationReport.h"
#include "Halvorn/ScanState.h"
#include "Platform/Platform.h"

namespace {

std::string ReadAll(FILE* file) {
  std::string text;
  fflush(file);
  rewind(file);
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  return text;
}

}  // namespace

ReportRun RunReport(const std::string& fileName, uint32_t lastPosition, bool verbose) {
  snprintf(ScanState.FileName, sizeof ScanState.FileName, "%s", fileName.c_str());
  ScanState.LastPosition = lastPosition;
  ScanState.Verbose = verbose ? 1 : 0;

  // The tool's streams write no line-end translation; neither do the capture
  // files (opened in binary mode, which dup2 hands on to the standard fds).
  PlatformInitStreams();
  fflush(stdout);
  fflush(stderr);
  const std::filesystem::path folder = MakeTempFolder();
  FILE* out = fopen((folder / "stdout").string().c_str(), "w+b");
  FILE* err = fopen((folder / "stderr").string().c_str(), "w+b");
  if (!out || !err) abort();
  const int savedOut = dup(1);
  const int savedErr = dup(2);
  dup2(fileno(out), 1);
  dup2(fileno(err), 2);

  ReportRun run;
  run.Code = PrintLocationReport();

  fflush(stdout);
  fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  close(savedOut);
  close(savedErr);
  run.Out = ReadAll(out);
  run.Err = ReadAll(err);
  fclose(out);
  fclose(err);
  RemoveTree(folder.string());
  return run;
}

std::string MakeTempFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("halvorn-report-" + std::to_string(random() % 100000000000ull));
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) return folder.string();
    if (error) abort();
  }
}

void RemoveTree(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

bool NobodyHoldsFile(const std::string& path) {
  PlatformFile file = PlatformOpenFile(path.c_str(), PlatformOpenReadExclusive);
  if (file == PlatformInvalidFile) return false;
  PlatformClose(file);
  return true;
}
