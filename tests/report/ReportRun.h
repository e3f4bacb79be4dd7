// Runs PrintLocationReport with ScanState set up as the walk leaves it, and
// captures what it writes on standard output and standard error.
#ifndef HALVORN_TESTS_REPORT_REPORTRUN_H
#define HALVORN_TESTS_REPORT_REPORTRUN_H

#include <cstdint>
#include <string>

struct ReportRun {
  std::string Out;
  std::string Err;
  int Code = -1;
};

ReportRun RunReport(const std::string& fileName, uint32_t lastPosition, bool verbose);

// A fresh empty folder under the system's temporary folder.
std::string MakeTempFolder();
void RemoveTree(const std::string& folder);

// True when nobody holds the file open through the library: an exclusive
// open of it succeeds (and is closed again).
bool NobodyHoldsFile(const std::string& path);

#endif
