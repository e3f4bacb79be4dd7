// Small data files for the location report's tests, written with the
// project's builder: an FCR pair (one FCR below 6.0) and PAT pair 1 with
// chosen entries, nothing else. The
// report reads only these, so the pages the entries point at need not hold
// anything; the file is extended (sparsely) so that they lie inside it.
#ifndef HALVORN_TESTS_REPORT_REPORTFIXTURE_H
#define HALVORN_TESTS_REPORT_REPORTFIXTURE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ReportFile {
  uint16_t VersionWord = 0x0700;  // as stored in the FCR
  uint16_t PageSize = 1024;       // a multiple of 256; 0 for a damaged FCR
  uint16_t PhysRecLen = 100;
  uint8_t BitsInRecordId = 10;    // 8.00 and later
  bool Compressed = false;        // 9.50 and later
  uint16_t PhysicalPageSize = 0;  // with Compressed
  // Logical page -> physical page, all in PAT pair 1 (logical pages 1 to E).
  std::vector<std::pair<uint32_t, uint32_t>> Map;
  bool WritePat = true;           // false: the file ends after the FCR pages
  // 1: the second FCR copy carries the higher usage count, and the first one
  // a wrong PhysRecLen, so that a report reading the wrong copy shows it.
  int CurrentCopy = 0;
  uint64_t MinimumSize = 0;       // the file is at least this long (sparse)
  bool ExtendToMappedPages = true;  // also long enough for every mapped page
};

// Writes the file at path; extends it to the larger of MinimumSize and (with
// ExtendToMappedPages) the end of the last mapped physical page + 1 page. Returns false on failure.
bool WriteReportFile(const std::string& path, const ReportFile& file);

// Creates a file of the given size, or gives an existing one that size:
// growth is sparse, a smaller size cuts the file.
bool SetFileSize(const std::string& path, uint64_t size);

#endif
