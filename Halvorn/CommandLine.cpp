#include "Halvorn/CommandLine.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Halvorn/Output.h"
#include "Halvorn/ScanState.h"
#include "Halvorn/engine/BtrieveCall.h"

namespace {

// The program's name, then the data file and up to six switches.
const int MinArguments = 1;
const int MaxArguments = 7;

// Longest key part of an export line: the key buffer's size.
const int32_t MaxExportKeyLength = KeyBufferSize;

// Reads a decimal number as the C library's string-to-integer conversion
// does: leading white space and a sign allowed, reading stops at the first
// character that is not a digit, no digits give 0. A value beyond the 32-bit
// range is held at the nearest end of it.
int32_t ReadSwitchNumber(const char* text) {
  long value = strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Reads one argument as a switch. Arguments that are no switch count for
// nothing.
void ReadSwitch(const char* argument) {
  if (argument[0] != '/' && argument[0] != '-') return;
  char letter = static_cast<char>(toupper(static_cast<unsigned char>(argument[1])));
  const char* value = argument[1] != '\0' ? argument + 2 : argument + 1;
  switch (letter) {
    case 'A': {
      int32_t key = ReadSwitchNumber(value);
      ScanState.KeyNumber = key;
      if (key >= 0) {
        ScanState.KeyOnly = 1;
        PrintErr("KeyOnly Export Using Key %d...\r\n", static_cast<int>(key));
      }
      break;
    }
    case 'B':
      ScanState.Backward = 1;
      break;
    case 'D':
      ScanState.Verbose = 1;
      break;
    case 'K':
      ScanState.KeyNumber = ReadSwitchNumber(value);
      PrintErr("Using Key %d...\r\n", static_cast<int>(ScanState.KeyNumber));
      break;
    case 'L':
      ScanState.ExportKeyLength = ReadSwitchNumber(value);
      PrintErr("Using Key Length %d...\r\n", static_cast<int>(ScanState.ExportKeyLength));
      break;
    case 'O': {
      if (value[0] != '=') {
        PrintErr("Unable to parse owner name.\n");
        EndRun(1);
      }
      // Cut to the first 66 characters without a message.
      memset(ScanState.OwnerName, 0, sizeof ScanState.OwnerName);
      strncpy(ScanState.OwnerName, value + 1, MaxOwnerNameLength);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void PrintUsage() {
  PrintErr("\nUsage:  HALVORN SrcFile [/K#] [/A# /L#] [/B]\n\n");
  PrintErr("    This utility STEPs through a file until it hits an error other\n");
  PrintErr("    than EOF. Then, it displays the location of the last valid record.\n");
  PrintErr("    Use the /K option to specify a key (Default=Physical).\n");
  PrintErr("    Use the /A option to walk a key ONLY and create a UNF file with /L bytes.\n");
  PrintErr("    Use the /B option to scan backwards from the end.\n");
  PrintErr("    Use the /O= option to specify a Btrieve Owner name.\n");
  EndRun(1);
}

void ParseCommandLine(int argc, char** argv) {
  int arguments = argc - 1;
  if (arguments < MinArguments || arguments > MaxArguments) PrintUsage();
  const char* first = argv[1];
  if (first[0] == '?' || (first[0] != '\0' && first[1] == '?')) PrintUsage();

  // FileName holds at most 254 characters. A longer name is refused here,
  // before any switch is read and before the engine is called, rather than
  // cut to a name that would open some other file.
  size_t nameLength = strlen(first);
  if (nameLength > static_cast<size_t>(MaxFileNameLength)) {
    PrintErr("Data file name is too long: %lu characters, at most %d are allowed.\n",
             static_cast<unsigned long>(nameLength), MaxFileNameLength);
    EndRun(1);
  }

  ScanState.RecordsScanned = 0;
  ScanState.KeyNumber = -1;
  ScanState.OwnerName[0] = '\0';

  // Right to left: of a switch given twice the leftmost decides; the first
  // argument, the file name, is read as a switch too.
  for (int index = argc - 1; index >= 1; --index) ReadSwitch(argv[index]);
}

void PrepareRun(int argc, char** argv) {
  (void)argc;
  // The key part of an export line comes from the 256-byte key buffer, so a
  // length above 256 or below 0 cannot be honoured. Such a /L is refused in
  // every mode, before the export file is created and before any engine
  // call: a value that can never work is a mistake on the command line.
  if (ScanState.ExportKeyLength < 0 || ScanState.ExportKeyLength > MaxExportKeyLength) {
    PrintErr("Cannot export key length of %d. Specify /L from 1 to %d!\n",
             static_cast<int>(ScanState.ExportKeyLength), static_cast<int>(MaxExportKeyLength));
    EndRun(1);
  }
  if (ScanState.KeyOnly) {
    if (ScanState.ExportKeyLength == 0) {
      PrintErr("Cannot export key length of 0. Specify /L option!\n");
      EndRun(1);
    }
    ScanState.ExportFile = fopen("HALVORN.UNF", "wb");
    if (ScanState.ExportFile == nullptr) {
      PrintErr("Unable to open HALVORN.UNF File!\n");
      EndRun(1);
    }
    FormatText(ScanState.ExportPrefix, sizeof ScanState.ExportPrefix, "%d,",
               static_cast<int>(ScanState.ExportKeyLength));
  }

  // The length was checked by ParseCommandLine.
  strncpy(ScanState.FileName, argv[1], MaxFileNameLength);
  ScanState.FileName[MaxFileNameLength] = '\0';

  // Zero-filled, so that a dump never carries bytes the engine did not write.
  ScanState.DataBuffer = static_cast<uint8_t*>(calloc(RecordBufferSize, 1));
  if (ScanState.DataBuffer == nullptr) {
    PrintErr("No memory available.\r\n");
    EndRun(1);
  }

  int status = OpenDataFile();
  if (status != StatusSuccess) {
    PrintErr("Unable to Open Files - Status %d\n", status);
    ResetEngine();
    EndRun(1);
  }
}
