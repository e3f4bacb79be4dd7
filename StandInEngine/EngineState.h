// Internal records of the replacement engine: the table of open files, the
// page readers, the page allocation table cache, the free-slot set of the
// older formats and the key order. Only the engine's own sources include this.
#ifndef HALVORN_STANDINENGINE_ENGINESTATE_H
#define HALVORN_STANDINENGINE_ENGINESTATE_H

#include <cstdint>
#include <vector>

#include "Platform/Platform.h"

const int EngineMaxFiles = 16;
const int EngineMaxParts = 128;
const uint32_t EngineNoPage = 0xFFFFFFFFu;
const uint64_t EngineNoOffset = 0xFFFFFFFFFFFFFFFFull;

// Page layouts. Old: 3.x to 5.x, physical pages, no PAT. The others address
// pages through the PAT and start every slot with a 2-byte usage count.
enum {
  LayoutOld = 0,  // 3.x-5.x: page number (high word first), usage word; slots at 6
  LayoutV6,       // 6.x: page bits 16-23, type, bits 0-15; usage word; slots at 6
  LayoutV7,       // 7.00: the 6.x header; slots at 6
  LayoutV8,       // 8.00, 9.00: logical page (4), type, 0; usage word; slots at 8
  LayoutV95       // 9.50, 13.00, 0x0D30: logical page (4), type, 0 0 0; usage word; slots at 10
};

// Page types, as in the page header and in the PAT entry.
const uint8_t PageTypeData = 0x44;       // 'D'
const uint8_t PageTypeVariable = 0x56;   // 'V'
const uint8_t PageTypeAcs = 0x41;        // 'A'
const uint16_t OldDataPageBit = 0x8000;  // 3.x-5.x usage word of a data page

// Key segment flags.
const uint16_t KeyFlagDuplicates = 0x0001;
const uint16_t KeyFlagBinary = 0x0004;
const uint16_t KeyFlagSegmented = 0x0010;  // another segment follows
const uint16_t KeyFlagAcs = 0x0020;
const uint16_t KeyFlagDescending = 0x0040;
const uint16_t KeyFlagExtended = 0x0100;
const uint16_t KeyFlagNoCase = 0x0400;     // with KeyFlagAcs: a numbered ACS

// Extended key types that order differently from plain bytes.
enum {
  KeyTypeString = 0,
  KeyTypeInteger = 1,
  KeyTypeFloat = 2,
  KeyTypeLString = 10,
  KeyTypeZString = 11,
  KeyTypeUnsigned = 14,
  KeyTypeAutoIncrement = 15
};

// FCR file flags and variable-record markers.
const uint16_t FileFlagVariable = 0x0001;
const uint16_t FileFlagBlankTruncation = 0x0002;
const uint8_t VariableByteVariable = 0xFF;
const uint8_t VariableByteTruncated = 0xFD;

// An ACS page: after the page header and usage word, the signature byte, an
// 8-byte name and the 256-byte table.
const uint8_t AcsSignature = 0xAC;
const int AcsNameLength = 8;
const int AcsTableLength = 256;

// A run of consecutive physical pages held in memory, read in one system
// call. Pages page First .. First+Count-1 lie at Buffer.
struct PageReader {
  uint8_t* Buffer;
  uint32_t Capacity;   // bytes
  uint32_t First;
  uint32_t Count;
};

struct KeySegment {
  uint32_t Offset;     // from the start of the record
  uint32_t Length;
  uint16_t Flags;
  uint8_t Type;        // effective type (extended type, binary or string)
  uint16_t AcsNumber;  // numbered ACS (1-based), 0 for the file's default
};

struct KeyDefinition {
  uint32_t FirstSegment;
  uint32_t SegmentCount;
  uint32_t Length;     // sum of the segment lengths
  int Broken;          // its specs could not be read or leave the record
};

// The order of one key, built from the records in one pass.
struct KeyOrder {
  int KeyNumber;                    // -1: none built
  uint32_t Length;                  // key length in bytes
  std::vector<uint8_t> Values;      // record i's key value at i * Length
  std::vector<uint8_t> SortBytes;   // record i's comparable form at i * Length
  std::vector<uint32_t> Pages;      // record i's page (physical 3.x-5.x, else logical)
  std::vector<uint16_t> Slots;      // record i's slot
  size_t Count;                     // records in the order
  int Identity;                     // key order is physical order: Order is empty
  std::vector<uint32_t> Order;      // record indexes in key order
  std::vector<uint32_t> DataPages;  // (page, physical page) of every data page met, by page
  uint32_t LastPage;                // the last lookup in DataPages
  uint32_t LastPhysical;
  int Damaged;                      // the building pass met damage
};

struct EngineFile {
  int InUse;
  uint32_t Serial;                  // changes with every open of the slot

  PlatformFile Parts[EngineMaxParts];
  uint64_t PartStart[EngineMaxParts + 1];
  int PartCount;
  uint64_t TotalSize;

  uint16_t Version;
  int Layout;
  uint32_t PageSize;
  uint32_t FcrPageSize;
  uint32_t UsageOffset;             // of the usage count in FCR and PAT pages
  uint32_t RecordBase;              // offset of the first slot in a data page
  uint32_t SlotPrefix;              // 2 when slots start with a usage count
  uint32_t PhysRecLen;
  uint32_t RecordLength;
  uint32_t SlotsPerPage;
  uint32_t PageCount;
  uint32_t FirstWalkPage;           // first page (or logical page) the walk covers
  uint32_t LastWalkPage;            // last one (inclusive)
  uint32_t FillingPage;             // 3.x-5.x
  uint32_t FillingSlots;            // 3.x-5.x: slots of the filling page ever used
  uint32_t BitsInRecordId;
  uint64_t ShiftThreshold;          // 6.x: offset from which pages lie 4096 further
  int Variable;
  int BlankTruncation;
  std::vector<uint8_t> Fcr;         // the current FCR page

  uint32_t KeyCount;
  std::vector<KeySegment> Segments;
  std::vector<KeyDefinition> Keys;

  // Free slots of a 3.x-5.x file: physical offsets, sorted.
  int FreeChainLoaded;
  std::vector<uint32_t> FreeSlots;
  uint64_t FreeChainBreak;          // slot whose link is broken, EngineNoOffset if none
  int FreeChainHeadBroken;

  // The loaded PAT pair, 6.x on.
  std::vector<uint8_t> PatPages;    // both pages, 2 * FcrPageSize
  uint32_t LoadedPair;
  int PairLoaded;
  uint32_t CurrentPat;
  uint32_t PatEntriesPerPage;
  uint64_t PatPairStride;

  PageReader DataReader;            // sequential walks
  PageReader AuxReader;             // variable parts, free chain, key-order fetches
  // The data page the walk is on, checked once: its page and its bytes in
  // the data reader. Dropped whenever the data reader loads.
  uint32_t CachedPage;
  uint32_t CachedPhysical;
  const uint8_t* CachedData;

  std::vector<uint8_t> AcsTables;   // AcsCount tables of 256 bytes
  uint32_t AcsCount;
  int AcsLoaded;

  KeyOrder Order;
};

// The record index at a place of the key order.
inline uint32_t EngineOrderAt(const KeyOrder* order, size_t place)
{
  return order->Identity ? (uint32_t)place : order->Order[place];
}

// ---- file access (FileAccess.cpp)
int EngineOpenFile(EngineFile* file, const char* path);  // status
void EngineCloseFile(EngineFile* file);
uint64_t EnginePageOffset(const EngineFile* file, uint32_t physicalPage);
// The page's bytes, or null when it cannot be read whole. Valid until the
// reader's next load.
const uint8_t* EngineReadPage(EngineFile* file, PageReader* reader, uint32_t physicalPage,
                              int backward);
// Logical to physical through the PAT: 0 success, StatusDamaged when the pair
// cannot be read or the entry lies outside it.
int EngineMapPage(EngineFile* file, uint32_t logicalPage, uint32_t* physicalPage,
                  uint8_t* pageType);

// ---- records (RecordWalk.cpp)
// A cursor: the page (physical 3.x-5.x, logical from 6.x) and the slot.
struct RecordCursor {
  uint32_t Page;
  uint32_t Slot;
};
// Moves to the next (or previous) live record after the cursor; with
// fromEdge set, the first (or last) record. 0 found (*slot at its slot in the
// data reader), 9 end, 2 damage.
int EngineStepRecord(EngineFile* file, RecordCursor* cursor, int backward, int fromEdge,
                     const uint8_t** slot);
// Copies the record whose slot bytes are given (fixed part and variable
// part) into the buffer; as EngineCopyRecord.
int EngineCopySlot(EngineFile* file, const uint8_t* slot, uint8_t* buffer, uint32_t size,
                   uint32_t* length);
// Copies the record at the cursor (fixed part and variable part) into the
// buffer; *length gets the record's length when it fits, else what was
// copied. 0, 22 (buffer short), 2 (damage).
int EngineCopyRecord(EngineFile* file, PageReader* reader, const RecordCursor* cursor,
                     uint8_t* buffer, uint32_t size, uint32_t* length);
// As EngineCopyRecord, reading the data page from its known physical page
// (no PAT lookup); the page must still carry its number and type.
int EngineCopyRecordAt(EngineFile* file, PageReader* reader, const RecordCursor* cursor,
                       uint32_t physicalPage, uint8_t* buffer, uint32_t size, uint32_t* length);
// The fixed part of the record at the cursor, read through the reader; null
// when its page cannot be read or the slot holds no record.
const uint8_t* EngineFixedPart(EngineFile* file, PageReader* reader, const RecordCursor* cursor);
uint32_t EnginePositionValue(const EngineFile* file, const RecordCursor* cursor);

// ---- keys (KeyOrder.cpp)
int EngineLoadKeySpecs(EngineFile* file);  // 0 or StatusNotBtrieveFile
int EngineBuildKeyOrder(EngineFile* file, int keyNumber);  // 0 or status
// The physical page of a data page the key order's pass met, EngineNoPage
// when it met none by that number.
uint32_t EnginePhysicalOfPage(EngineFile* file, uint32_t page);
// The index in the key order of the record at the cursor, or -1.
int64_t EngineFindInOrder(EngineFile* file, const RecordCursor* cursor);

#endif
