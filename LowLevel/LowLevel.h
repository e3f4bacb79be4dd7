// The low-level file library: reads and writes a Btrieve file set straight
// from disk, without the engine.
//
// All state lives in the one global record LLFileState. Operations are free
// functions that return 1 for success and 0 for failure (the open returns the
// number of parts), write their own message where they fail, and never end
// the process. The on-disk layouts are in docs/format.md.
//
//   fileset.cpp   the file set, large offsets, page-to-offset conversions
//   fcr.cpp       FCR loading and the geometry it implies
//   pat.cpp       page allocation tables
//   pages.cpp     page, header and record reading
//   writes.cpp    page and table writing
#ifndef HALVORN_LOWLEVEL_LOWLEVEL_H
#define HALVORN_LOWLEVEL_LOWLEVEL_H

#include <cstdint>

#include "Platform/Platform.h"

const int LLMaxParts = 128;
const int LLFcrBufferSize = 32768;
const int LLPatBufferSize = 32768;
const int LLPageBufferSize = 16384;
const int LLMaxPathLength = 254;

// A page's header and the two bytes that follow it (18 bytes): bytes 0 to
// PageHeaderLength-1 the header, 16 and 17 the two following bytes.
struct PageHeaderRecord {
  uint8_t Bytes[18];
};

// A record address: page (32-bit), record number (16-bit), reserved (16-bit),
// little-endian, in this order.
struct RecordAddress {
  uint8_t Bytes[8];
};

struct LLFileStateRecord {
  // ---- file set (fileset.cpp)
  PlatformFile PartHandles[LLMaxParts];
  int64_t PartSizes[LLMaxParts];
  uint16_t PartCount;
  uint32_t TotalBlocks;
  PlatformFile DeltaHandle;
  uint32_t V6ShiftThreshold;  // 0xFFFFFFFF until a 6.x open sets it

  // ---- geometry (fcr.cpp)
  uint16_t FileVersion;
  uint16_t PageSize;
  uint16_t FcrPageSize;
  int32_t UsageOffset;
  int32_t PatIdLength;
  int32_t PageHeaderLength;
  uint8_t FcrBuffers[2][LLFcrBufferSize];
  int CurrentFcr;
  uint32_t PageCount;
  int PageCompressed;
  uint16_t PhysicalPageSize;

  // ---- page allocation tables (pat.cpp)
  uint8_t PatBuffers[2][LLPatBufferSize];
  int CurrentPat;
  int32_t LoadedPatPair;  // -1: none

  // ---- page reading (pages.cpp)
  uint8_t PageBuffers[2][LLPageBufferSize];
  uint8_t AuxBuffers[2][LLFcrBufferSize];
  int32_t CurrentAux;
  PageHeaderRecord* HeaderCache;
  uint32_t HeaderCacheCount;

  // The tool's /D flag: turns on the library's traces.
  int Verbose;
};

extern LLFileStateRecord LLFileState;

// ---------------------------------------------------------------- file set
uint16_t LLOpenFileSet(const char* path, int openKind);
uint16_t LLOpenReadOnly(const char* path);
uint16_t LLOpenReadWrite(const char* path);
uint16_t LLOpenShared(const char* path);
void LLCloseAll();
int LLSeekLarge(uint64_t offset, uint16_t* part);
int LLSeekInPart(uint64_t offset, uint16_t part);
int LLReadAt(uint64_t offset, void* buffer, uint32_t count);
int LLReadInPart(uint64_t offset, void* buffer, uint32_t count, uint16_t part);
int LLReadBlock(uint32_t block, void* buffer, uint32_t count);
int LLSeekBlock(uint32_t block, uint16_t* part);
int LLWriteAt(uint64_t offset, const void* buffer, uint32_t count);
int LLWriteBlock(uint32_t block, const void* buffer, uint32_t count);
uint64_t LLPageToOffset(uint32_t page);
int LLPageToPart(uint32_t page, int32_t* part, uint32_t* offset);
int LLPartToPage(uint16_t part, uint32_t offset, uint32_t* page);
int LLPartToPage64(uint16_t part, uint64_t offset, uint32_t* page);

// ---------------------------------------------------------------- FCR
int LLLoadFcr();

// ---------------------------------------------------------------- PAT
uint32_t LLPatEntriesPerPage();
uint32_t LLPatEntriesPerPageAlt();
int32_t LLPatPairStride();
uint64_t LLPatPairOffset(uint32_t pair);
int LLLoadPatPair(uint32_t pair);
int LLLogicalToPhysical(uint32_t logical, uint32_t* physical, uint16_t* entryExtra,
                        uint16_t* pageSpan);
int LLSeekPatPair(uint32_t pair, uint16_t* part);

// ---------------------------------------------------------------- reading
int LLReadLogicalPage(uint32_t logical, void* destination);
int LLReadPhysicalPage(uint32_t physical, void* destination, uint16_t pageCount);
int LLReadPagesAt(uint64_t offset, void* destination, uint16_t pageCount);
int LLReadLogicalHeader(uint32_t logical, PageHeaderRecord* destination);
int LLReadPhysicalHeader(uint32_t physical, PageHeaderRecord* destination);
int LLReadHeaderAt(uint64_t offset, PageHeaderRecord* destination);
int LLLoadHeaderCache(int showProgress);
int LLGetCachedHeader(uint32_t physical, PageHeaderRecord* destination);
void LLFreeHeaderCache();
int LLReadPartPage(uint16_t part, uint32_t offset, int bufferIndex);
int LLReadPartHeader(uint16_t part, uint32_t offset, PageHeaderRecord* destination);
int LLFindRecord(const uint8_t* page, uint16_t slot, uint16_t* recordOffset,
                 uint16_t* recordLength);
int LLReadRecord(uint32_t logical, uint16_t slot, void* destination, uint16_t* length);
int LLExpandRecord(uint8_t method, const uint8_t* source, uint32_t sourceLength,
                   uint8_t* destination, uint32_t* length);
int LLReadMiscData(void* destination, int which, uint16_t* length);
int LLLoadAuxPair();
int LLReadDeltaPage(uint32_t page, void* destination, uint32_t count);
int LLReadDeltaAt(uint32_t offset, void* destination, uint32_t count);
void LLHexDump(const uint8_t* bytes, int32_t length);
void LLShowVersion();
void LLMakeRecordAddress(RecordAddress* destination, uint32_t page, uint16_t record,
                         uint16_t reserved);
void LLSplitRecordAddress(uint32_t* page, uint16_t* record, uint16_t* reserved,
                          const RecordAddress* source);

// ---------------------------------------------------------------- writing
int LLWriteFcrPair();
int LLWriteAuxPair();
int LLWritePatPair(uint32_t pair);
int LLSetPatEntry(uint32_t logical, uint32_t physical, uint16_t entryExtra);
int LLWriteLogicalHeader(uint32_t logical, const PageHeaderRecord* source);
int LLWritePhysicalHeader(uint32_t physical, const PageHeaderRecord* source);
int LLWriteHeaderAt(uint64_t offset, const PageHeaderRecord* source);
int LLWriteLogicalPage(uint32_t logical, const void* source);
int LLWritePhysicalPage(uint32_t physical, const void* source, uint16_t pageCount);
int LLWritePagesAt(uint64_t offset, const void* source, uint16_t pageCount);
int LLWritePartHeader(uint16_t part, uint32_t offset, const PageHeaderRecord* source);
int LLWritePartPage(uint16_t part, uint32_t offset, const void* source);
int LLWriteAcrossParts(uint64_t offset, const void* source, uint32_t count);

#endif
