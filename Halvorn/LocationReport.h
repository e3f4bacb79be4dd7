// The physical location report: after the walk, reads the data file itself
// (without the engine) and says where the last good record lies on disk and
// where the page after it lies. Returns the run's exit code.
#ifndef HALVORN_HALVORN_LOCATIONREPORT_H
#define HALVORN_HALVORN_LOCATIONREPORT_H

#include <cstdint>

// The values the report computes, all unsigned. Kept in one static record for
// the run so that tests can look at what the printed lines came from.
struct LocationReportRecord {
  uint32_t FinalLogicalPage;        // logical page of the last good record (6.x on)
  uint32_t FinalPhysicalPage;       // its physical page
  uint32_t OffsetInPage;            // byte offset of the record in its page (3.x to 6.x)
  uint32_t RecordNumber;            // record number in the logical page (7.x on)
  uint32_t NextLogicalPage;         // FinalLogicalPage + 1
  uint32_t NextPhysicalPage;        // physical page of NextLogicalPage
  uint64_t FinalPhysicalPosition;   // byte position of the record in the logical file
  uint64_t NextPhysicalOffset;      // byte offset of NextPhysicalPage in the logical file
  uint16_t PhysRecLen;              // physical record length, from the current FCR
};

extern LocationReportRecord LocationReport;

// Opens the file set named by ScanState.FileName read-only, decodes
// ScanState.LastPosition by the file's format version and prints the report
// on standard output (a few failure lines on standard error for 9.50 and
// later). Returns 0 after a report (also for an unsupported format or a
// damaged FCR), 2 when the file set cannot be opened or its FCR not read.
int PrintLocationReport();

#endif
