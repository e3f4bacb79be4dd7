// The scan tool's one state record. It lives for the whole run in static
// storage and is all zero when the run starts.
#ifndef HALVORN_HALVORN_SCANSTATE_H
#define HALVORN_HALVORN_SCANSTATE_H

#include <cstdint>
#include <cstdio>

#include "Halvorn/engine/BtrieveCall.h"

// Size of the record buffer that every read fills.
const uint16_t RecordBufferSize = 60000;
// Size of the key buffer that the engine writes key values into.
const int KeyBufferSize = 256;
// Longest data file name the tool holds.
const int MaxFileNameLength = 254;
// Longest owner name the tool passes to the engine.
const int MaxOwnerNameLength = 66;

struct ScanStateRecord {
  char FileName[MaxFileNameLength + 1];    // the data file, from the first argument
  char OwnerName[MaxOwnerNameLength + 1];  // owner name for the open; empty when none
  int32_t KeyNumber;                       // key to walk; -1 = physical order
  int KeyOnly;                             // key-only export mode (/A)
  int Backward;                            // walk from the end towards the start (/B)
  int32_t ExportKeyLength;                 // key bytes per export line (/L)
  int Verbose;                             // traces on (/D)
  FILE* ExportFile;                        // HALVORN.UNF, or LASTREC.DMP at the end
  char ExportPrefix[10];                   // "%d," of ExportKeyLength
  uint8_t* DataBuffer;                     // record buffer of RecordBufferSize bytes
  uint8_t KeyBuffer[KeyBufferSize];        // key buffer of the walk
  uint8_t PositionBuffer[4];               // result of Get Position
  uint32_t RecordsScanned;                 // records read in a normal walk
  uint32_t LastPosition;                   // engine position of the last record read
  int SpinnerIndex;                        // 0 to 3
  BtrieveCallBlock DataFileBlock;          // the data file's engine call record
};

extern ScanStateRecord ScanState;

#endif
