// The record walk and its termination.
#ifndef HALVORN_HALVORN_WALK_H
#define HALVORN_HALVORN_WALK_H

// Runs the walk and its termination; never returns.
[[noreturn]] void WalkFile();

// Writes the spinner character at SpinnerIndex and a backspace to standard
// error and advances SpinnerIndex.
void ShowSpinner();

// Writes one HALVORN.UNF line. 1 when the export file has taken every byte
// so far, 0 once a write to it has failed.
int WriteExportLine();

// Key-only termination: end byte, close, engine close and reset, exit code 0
// (1 when the export file could not be written whole).
[[noreturn]] void FinishKeyOnlyExport(int status);

// Writes LASTREC.DMP from the record buffer.
void WriteLastRecordDump();

// The four summary lines on standard output.
void PrintScanSummary(int status);

// The Escape key's path: message, engine close and reset, exit code 1.
[[noreturn]] void AbortByUser();

#endif
