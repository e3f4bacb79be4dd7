// The physical location report.
//
// When the walk has stopped and the summary is printed, the tool opens the
// data file set itself, read-only, loads the FCR, splits the engine position
// of the last good record by the file format version, translates its logical
// page through the page allocation table where the format has one, and prints
// the physical page, the byte position in the logical file and, from 7.0 on,
// the extension part and the offset within it. Then the same for the page
// after it, and the file set is closed.
//
// Every line goes to standard output through PrintOut, which writes to the
// same stdout stream that the library prints its part trace to: under /D the
// trace "Calculated Extent ..." lands inside the "Final Physical Page Loc"
// line, between its two pieces. Only the "Unable to find physical page" lines
// of 9.50 and later go to standard error.
#include "Halvorn/LocationReport.h"

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "Halvorn/Output.h"
#include "Halvorn/ScanState.h"
#include "LowLevel/LowLevel.h"

LocationReportRecord LocationReport;

namespace {

// The format versions the report knows, by their version words.
const uint16_t Version300 = 0x0300;
const uint16_t Version400 = 0x0400;
const uint16_t Version500 = 0x0500;
const uint16_t Version600 = 0x0600;
const uint16_t Version610 = 0x0610;
const uint16_t Version700 = 0x0700;
const uint16_t Version800 = 0x0800;
const uint16_t Version900 = 0x0900;
const uint16_t Version950 = 0x0950;
const uint16_t Version1300 = 0x0D00;
const uint16_t Version16 = 0x0D30;

const int ExitReported = 0;
const int ExitUnreadable = 2;

unsigned long High32(uint64_t value) { return static_cast<unsigned long>(value >> 32); }
unsigned long Low32(uint64_t value) { return static_cast<unsigned long>(value & 0xFFFFFFFFu); }

const uint8_t* CurrentFcr() { return LLFileState.FcrBuffers[LLFileState.CurrentFcr]; }

// Bytes in front of the first record of a data page, added to
// PhysRecLen x RecordNumber: 6 for 7.00, 8 for 8.00 and 9.00, 10 from 9.50 on.
uint32_t RecordBase(uint16_t version) {
  if (version == Version700) return 6;
  if (version == Version800 || version == Version900) return 8;
  return 10;
}

// 9.50 and later write their translation failures to standard error, the
// older formats to standard output with the rest of the report.
int FailuresOnStandardError(uint16_t version) {
  return version == Version950 || version == Version1300 || version == Version16;
}

void PrintUntranslatable(int onStandardError, uint32_t logicalPage) {
  const unsigned long page = static_cast<unsigned long>(logicalPage);
  if (onStandardError)
    PrintErr("Unable to find physical page for logical page 0x%.8lx.\n", page);
  else
    PrintOut("Unable to find physical page for logical page 0x%.8lx.\n", page);
}

int FinishReport() {
  LLCloseAll();
  return ExitReported;
}

// A page size of 0 can only come from a damaged FCR, and the split of a byte
// position into page and offset would divide by it. Decided: the report says
// so in one line on standard output, names the position it could not place,
// closes the set and ends as a finished report (exit code 0) - the file could
// be read, it just cannot be interpreted.
int ReportZeroPageSize(uint32_t position) {
  PrintOut("Page Size in the FCR is 0: unable to locate position 0x%.8lx.\n",
           static_cast<unsigned long>(position));
  return FinishReport();
}

// Formats 3.00 to 5.00: no PAT; the position is the record's byte offset in
// the file, high half in the low 16 bits.
int ReportFormats3To5() {
  LocationReportRecord& r = LocationReport;
  const uint32_t position = SwapHalves(static_cast<uint32_t>(ScanState.LastPosition));
  const uint32_t pageSize = LLFileState.PageSize;
  if (pageSize == 0) return ReportZeroPageSize(position);

  r.FinalPhysicalPage = position / pageSize;
  r.OffsetInPage = position % pageSize;
  r.NextPhysicalPage = r.FinalPhysicalPage + 1;
  PrintOut("Final Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.FinalPhysicalPage));
  PrintOut("Final Offset In Page   : 0x%.8lx\n", static_cast<unsigned long>(r.OffsetInPage));
  // 32-bit arithmetic: this is the position itself.
  r.FinalPhysicalPosition = static_cast<uint32_t>(pageSize * r.FinalPhysicalPage + r.OffsetInPage);
  PrintOut("Final Physical Location: 0x%.8lx\n", Low32(r.FinalPhysicalPosition));
  PrintOut("Next  Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.NextPhysicalPage));
  return FinishReport();
}

// Formats 6.00 and 6.10: the position is a byte position in logical page
// space, halves exchanged like 5.x; the logical page goes through the PAT.
int ReportFormat6() {
  LocationReportRecord& r = LocationReport;
  uint16_t entryExtra = 0;
  uint16_t pageSpan = 0;
  const uint32_t position = SwapHalves(static_cast<uint32_t>(ScanState.LastPosition));
  const uint32_t pageSize = LLFileState.PageSize;

  PrintOut("Final Logical Position : 0x%.8lx\n", static_cast<unsigned long>(position));
  if (pageSize == 0) return ReportZeroPageSize(position);

  r.FinalLogicalPage = position / pageSize;
  r.OffsetInPage = position % pageSize;
  r.NextLogicalPage = r.FinalLogicalPage + 1;
  PrintOut("Final Logical Page     : 0x%.8lx\n", static_cast<unsigned long>(r.FinalLogicalPage));
  PrintOut("Final Offset In Page   : 0x%.8lx\n\n", static_cast<unsigned long>(r.OffsetInPage));

  if (LLLogicalToPhysical(r.FinalLogicalPage, &r.FinalPhysicalPage, &entryExtra, &pageSpan)) {
    PrintOut("Final Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.FinalPhysicalPage));
    r.FinalPhysicalPosition = LLPageToOffset(r.FinalPhysicalPage);
    PrintOut("Final Physical Page Loc: 0x%.8lx\n", Low32(r.FinalPhysicalPosition));
  } else {
    PrintUntranslatable(0, r.FinalLogicalPage);
  }
  r.FinalPhysicalPosition += r.OffsetInPage;
  PrintOut("Final Physical Position: 0x%.8lx\n\n", Low32(r.FinalPhysicalPosition));

  PrintOut("Next  Logical Page     : 0x%.8lx\n", static_cast<unsigned long>(r.NextLogicalPage));
  if (LLLogicalToPhysical(r.NextLogicalPage, &r.NextPhysicalPage, &entryExtra, &pageSpan)) {
    PrintOut("Next  Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.NextPhysicalPage));
    r.NextPhysicalOffset = LLPageToOffset(r.NextPhysicalPage);
    PrintOut("Next  Physical Offset  : 0x%.8lx\n\n", Low32(r.NextPhysicalOffset));
  } else {
    PrintUntranslatable(0, r.NextLogicalPage);
  }
  return FinishReport();
}

// Formats 7.00 and later: the position holds the logical page above the
// record number, used as it is.
int ReportFormats7On(uint16_t version) {
  LocationReportRecord& r = LocationReport;
  uint16_t entryExtra = 0;
  uint16_t pageSpan = 0;
  int32_t part = 0;
  uint32_t partOffset = 0;
  const uint32_t position = static_cast<uint32_t>(ScanState.LastPosition);
  const int failuresOnStandardError = FailuresOnStandardError(version);

  PrintOut("Final Logical Position : 0x%.8lx\n", static_cast<unsigned long>(position));
  if (version == Version700) {
    r.RecordNumber = position & 0xFF;
    r.FinalLogicalPage = position >> 8;
  } else {
    const int bitsOffset =
        (version == Version1300 || version == Version16) ? FcrBitsInRecordIdV13 : FcrBitsInRecordIdV8;
    const int bits = CurrentFcr()[bitsOffset];
    if (ScanState.Verbose) PrintOut("BitsInRecordId = %d\n", bits);
    // A record id of 0 bits or of 32 and more can only come from a damaged
    // FCR, and a shift by 32 or more is undefined. Decided: such an FCR gets
    // one line on standard output naming the value and the position, the set
    // is closed and the report ends as finished (exit code 0), like the
    // damaged page size above.
    if (bits < 1 || bits > 31) {
      PrintOut("BitsInRecordId in the FCR is %d, outside 1 to 31: unable to locate position "
               "0x%.8lx.\n",
               bits, static_cast<unsigned long>(position));
      return FinishReport();
    }
    r.FinalLogicalPage = position >> bits;
    r.RecordNumber = position & ((1u << bits) - 1u);
  }
  r.NextLogicalPage = r.FinalLogicalPage + 1;
  PrintOut("Final Logical Page     : 0x%.8lx\n", static_cast<unsigned long>(r.FinalLogicalPage));
  PrintOut("Final Record Number    : 0x%.8lx\n\n", static_cast<unsigned long>(r.RecordNumber));

  if (LLLogicalToPhysical(r.FinalLogicalPage, &r.FinalPhysicalPage, &entryExtra, &pageSpan)) {
    PrintOut("Final Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.FinalPhysicalPage));
    r.FinalPhysicalPosition = LLPageToOffset(r.FinalPhysicalPage);
    PrintOut("Final Physical Page Loc: 0x%.8lx:%.8lx", High32(r.FinalPhysicalPosition),
           Low32(r.FinalPhysicalPosition));
    LLPageToPart(r.FinalPhysicalPage, &part, &partOffset);
    PrintOut("    (File %d, Offset %.8lx)\n", static_cast<int>(part),
           static_cast<unsigned long>(partOffset));
  } else {
    PrintUntranslatable(failuresOnStandardError, r.FinalLogicalPage);
  }

  if (ScanState.Verbose) PrintOut("PhysRecLen = %.8lx\n", static_cast<unsigned long>(r.PhysRecLen));
  const uint32_t recordBytes = static_cast<uint32_t>(r.PhysRecLen) * r.RecordNumber;  // mod 2^32
  r.FinalPhysicalPosition += static_cast<uint64_t>(recordBytes) + RecordBase(version);
  if (version == Version700 || version == Version800 || version == Version900) {
    PrintOut("Final Physical Position: 0x%.8lx:%.8lx\n\n", High32(r.FinalPhysicalPosition),
           Low32(r.FinalPhysicalPosition));
  } else {
    PrintOut("Final Physical Position: 0x%.8lx:%.8lx\n", High32(r.FinalPhysicalPosition),
           Low32(r.FinalPhysicalPosition));
    if (LLFileState.PageCompressed) PrintOut("    (May be incorrect due to Page Compression.)\n");
    PrintOut("\n");
  }

  PrintOut("Next  Logical Page     : 0x%.8lx\n", static_cast<unsigned long>(r.NextLogicalPage));
  if (LLLogicalToPhysical(r.NextLogicalPage, &r.NextPhysicalPage, &entryExtra, &pageSpan)) {
    PrintOut("Next  Physical Page    : 0x%.8lx\n", static_cast<unsigned long>(r.NextPhysicalPage));
    r.NextPhysicalOffset = LLPageToOffset(r.NextPhysicalPage);
    PrintOut("Next  Physical Offset  : 0x%.8lx:%.8lx", High32(r.NextPhysicalOffset),
           Low32(r.NextPhysicalOffset));
    LLPageToPart(r.NextPhysicalPage, &part, &partOffset);
    PrintOut("    (File %d, Offset %.8lx)\n\n", static_cast<int>(part),
           static_cast<unsigned long>(partOffset));
  } else {
    PrintUntranslatable(failuresOnStandardError, r.NextLogicalPage);
  }
  return FinishReport();
}

}  // namespace

int PrintLocationReport() {
  LocationReport = LocationReportRecord();
  LLFileState.Verbose = ScanState.Verbose ? 1 : 0;

  if (LLOpenReadOnly(ScanState.FileName) == 0) {
    // The library has written its reason. The handles it did open are left
    // to the end of the process.
    PrintOut("Unable to open physical file %s\n", ScanState.FileName);
    return ExitUnreadable;
  }
  if (ScanState.Verbose) {
    PrintErr("Version = %d.%.2x, Page Size is %d\n", LLFileState.FileVersion >> 8,
             LLFileState.FileVersion & 0xFF, static_cast<int>(LLFileState.PageSize));
  }
  if (!LLLoadFcr()) {
    PrintOut("Unable to read FCR from %s\n", ScanState.FileName);
    return ExitUnreadable;
  }
  LocationReport.PhysRecLen = GetLE16(CurrentFcr() + FcrPhysRecLen);

  const uint16_t version = LLFileState.FileVersion;
  switch (version) {
    case Version300:
    case Version400:
    case Version500:
      return ReportFormats3To5();
    case Version600:
    case Version610:
      return ReportFormat6();
    case Version700:
    case Version800:
    case Version900:
    case Version950:
    case Version1300:
    case Version16:
      return ReportFormats7On(version);
    default:
      // Other minor versions (0x0620, say) are not reported on, even where
      // the library reads them.
      PrintOut("File Format %2d.%.2x not supported by this release.\n"
               "Contact Merrowby Software for assistance.\n",
               version >> 8, version & 0xFF);
      return FinishReport();
  }
}
