// Page, header and record reading: whole pages by logical or physical number,
// page headers and the table of all of them, records inside data pages, the
// expansion of compressed records, the misc-data record, the second control
// pair of 8.0 and later files, the delta file, and two diagnostic outputs.
//
// Every operation returns 1 for success and 0 for failure and prints its trace
// lines only under Verbose, unless a message is named below.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"

namespace {

// Position of the LastSlot word of a data page, by version.
const int DataLastSlotBelowV8 = 10;  // below 0x0800
const int DataLastSlotV8 = 14;       // 0x0800 to 0x094F
const int DataLastSlotV95 = 16;      // 0x0950 and later

// An empty entry of a data page's offset table.
const uint16_t EmptySlotEntry = 0xFFFF;

// Offset within a PageHeaderRecord of the two bytes that follow the header.
const int HeaderFollowingBytes = 16;
const int HeaderRecordMaxHeader = 16;

// The first physical page that the header table reads; pages 0 to 3 hold the
// FCR and the first control pages and their entries are never filled.
const uint32_t HeaderCacheFirstPage = 4;

// Tables of more entries than this show their loading progress.
const uint32_t HeaderCacheProgressMinimum = 500;

// Methods of LLExpandRecord.
const uint8_t ExpandMethodNone = 0;
const uint8_t ExpandMethodRuns = 1;

const char LibraryBanner[] = "Halvorn Low-Level File Library, version 1.00";

// The page image that LLReadRecord reads into, as large as the largest page
// the PAT tables know.
uint8_t RecordPageBuffer[LLPageBufferSize];

int HeaderLengthUsable() {
  return LLFileState.PageHeaderLength >= 0 &&
         LLFileState.PageHeaderLength <= HeaderRecordMaxHeader;
}

int PartOpen(uint16_t part) {
  return part < LLMaxParts && LLFileState.PartHandles[part] != PlatformInvalidFile;
}

// Reads exactly count bytes at the handle's position.
int ReadExactly(PlatformFile file, void* destination, uint32_t count) {
  uint32_t got = 0;
  if (!PlatformRead(file, destination, count, &got)) return 0;
  return got == count;
}

}  // namespace

// ---------------------------------------------------------------- page reads

int LLReadLogicalPage(uint32_t logical, void* destination) {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!LLLogicalToPhysical(logical, &physical, &extra, &span)) return 0;
  return LLReadPhysicalPage(physical, destination, span);
}

int LLReadPhysicalPage(uint32_t physical, void* destination, uint16_t pageCount) {
  return LLReadPagesAt(LLPageToOffset(physical), destination, pageCount);
}

int LLReadPagesAt(uint64_t offset, void* destination, uint16_t pageCount) {
  uint32_t count = static_cast<uint32_t>(pageCount) * LLFileState.PhysicalPageSize;
  return LLReadAt(offset, destination, count);
}

// ---------------------------------------------------------------- headers

int LLReadHeaderAt(uint64_t offset, PageHeaderRecord* destination) {
  if (!HeaderLengthUsable()) return 0;
  uint32_t length = static_cast<uint32_t>(LLFileState.PageHeaderLength);
  if (!LLReadAt(offset, destination->Bytes, length)) return 0;
  return LLReadAt(offset + length, destination->Bytes + HeaderFollowingBytes, 2);
}

int LLReadPhysicalHeader(uint32_t physical, PageHeaderRecord* destination) {
  uint64_t offset = LLPageToOffset(physical);
  if (LLFileState.Verbose) {
    printf("For Phys Page Number 0x%.8x, calculated Large Offset %.8x:%.8x\n", physical,
           static_cast<uint32_t>(offset >> 32), static_cast<uint32_t>(offset));
  }
  return LLReadHeaderAt(offset, destination);
}

int LLReadLogicalHeader(uint32_t logical, PageHeaderRecord* destination) {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!LLLogicalToPhysical(logical, &physical, &extra, &span)) return 0;
  // The header is that of the first physical page, whatever the span.
  return LLReadPhysicalHeader(physical, destination);
}

// ---------------------------------------------------------------- header table

int LLLoadHeaderCache(int showProgress) {
  LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0600) return 0;
  if (s.HeaderCache) return 1;

  // The table has one entry per page of PageSize bytes; a page size below 512
  // would make the blocks-per-page divisor 0. Such a page size comes only from
  // a damaged FCR, and the load is refused.
  uint32_t blocksPerPage = s.PageSize / 512u;
  if (blocksPerPage == 0) return 0;
  s.HeaderCacheCount = s.TotalBlocks / blocksPerPage;

  // Entries that are never read are left zero (calloc), so that a caller that
  // shows the table sees zeros rather than leftovers; one entry at least, so
  // that an empty table is not mistaken for a failed allocation.
  size_t entries = s.HeaderCacheCount ? s.HeaderCacheCount : 1;
  s.HeaderCache = static_cast<PageHeaderRecord*>(calloc(entries, sizeof(PageHeaderRecord)));
  if (!s.HeaderCache) {
    printf("Unable to allocate sufficient memory for %lu page headers.\n",
           static_cast<unsigned long>(s.HeaderCacheCount));
    s.HeaderCacheCount = 0;
    return 0;
  }

  uint32_t p = HeaderCacheFirstPage;
  if (s.HeaderCacheCount <= p || !LLReadPhysicalHeader(p, &s.HeaderCache[p])) {
    LLFreeHeaderCache();
    return 0;
  }
  uint32_t step = s.HeaderCacheCount / 100;
  for (;;) {
    if (showProgress && s.HeaderCacheCount > HeaderCacheProgressMinimum && p % step == 0) {
      fprintf(stderr, "%.3d%%%c%c%c%c", static_cast<int>((100u * p) / s.HeaderCacheCount), 8,
              8, 8, 8);
    }
    ++p;
    if (p == s.HeaderCacheCount) break;
    if (!LLReadPhysicalHeader(p, &s.HeaderCache[p])) break;
  }
  printf("Pre-loaded %d physical page headers into memory.\n", static_cast<int>(p));
  return 1;
}

int LLGetCachedHeader(uint32_t physical, PageHeaderRecord* destination) {
  if (!LLFileState.HeaderCache || physical >= LLFileState.HeaderCacheCount) return 0;
  memcpy(destination->Bytes, LLFileState.HeaderCache[physical].Bytes, sizeof(destination->Bytes));
  return 1;
}

void LLFreeHeaderCache() {
  free(LLFileState.HeaderCache);
  LLFileState.HeaderCache = nullptr;
  LLFileState.HeaderCacheCount = 0;
}

// ---------------------------------------------------------------- reads within a part

int LLReadPartPage(uint16_t part, uint32_t offset, int bufferIndex) {
  if (bufferIndex != 0 && bufferIndex != 1) return 0;
  // The page buffers hold 16384 bytes each, the largest page the PAT tables
  // know; a larger page size (only from a damaged FCR) is refused rather than
  // read past the buffer.
  if (LLFileState.PageSize > LLPageBufferSize) return 0;
  if (!PartOpen(part)) return 0;
  PlatformFile file = LLFileState.PartHandles[part];
  if (!PlatformSeek(file, offset)) return 0;
  return ReadExactly(file, LLFileState.PageBuffers[bufferIndex], LLFileState.PageSize);
}

int LLReadPartHeader(uint16_t part, uint32_t offset, PageHeaderRecord* destination) {
  if (!HeaderLengthUsable()) return 0;
  if (!PartOpen(part)) return 0;
  PlatformFile file = LLFileState.PartHandles[part];
  if (!PlatformSeek(file, offset)) return 0;
  if (!ReadExactly(file, destination->Bytes, static_cast<uint32_t>(LLFileState.PageHeaderLength)))
    return 0;
  return ReadExactly(file, destination->Bytes + HeaderFollowingBytes, 2);
}

// ---------------------------------------------------------------- records

int LLFindRecord(const uint8_t* page, uint16_t slot, uint16_t* recordOffset,
                 uint16_t* recordLength) {
  *recordOffset = 0;
  *recordLength = 0;
  uint32_t pageSize = LLFileState.PageSize;
  int lastSlotAt = LLFileState.FileVersion < 0x0800   ? DataLastSlotBelowV8
                   : LLFileState.FileVersion < 0x0950 ? DataLastSlotV8
                                                      : DataLastSlotV95;
  if (pageSize < static_cast<uint32_t>(lastSlotAt) + 2) return 0;
  if (GetLE16(page + lastSlotAt) < slot) return 0;

  // The slot's own entry must lie inside the page: a slot number whose entry
  // would come before the page's start is refused like the other bad tables.
  uint32_t tableBytes = 2u * slot + 2u;
  if (tableBytes > pageSize) return 0;
  uint32_t e = pageSize - tableBytes;
  uint16_t offset = GetLE16(page + e);
  if (offset > pageSize) return 0;

  // The record ends where the next used entry's record begins. The walk over
  // empty entries stops at the start of the page: a table that is empty up to
  // there has no end for the record, and the lookup fails.
  uint16_t w = EmptySlotEntry;
  do {
    if (e < 2) return 0;
    e -= 2;
    w = GetLE16(page + e);
  } while (w == EmptySlotEntry);

  uint16_t length = static_cast<uint16_t>(w - offset);
  if (length == 0 || length > pageSize) return 0;
  // A record that would run past the end of the page is not a record of this
  // page; it is refused rather than copied from beyond the page.
  if (static_cast<uint32_t>(offset) + length > pageSize) return 0;

  *recordOffset = offset;
  *recordLength = length;
  return 1;
}

int LLReadRecord(uint32_t logical, uint16_t slot, void* destination, uint16_t* length) {
  *length = 0;
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!LLLogicalToPhysical(logical, &physical, &extra, &span)) return 0;
  // The page is read into a buffer of 16384 bytes. A logical page that spans
  // more physical bytes, or a page size above that (the lookup reads PageSize
  // bytes of the image), would overrun it: such a read is refused.
  uint32_t bytes = static_cast<uint32_t>(span) * LLFileState.PhysicalPageSize;
  if (bytes > sizeof(RecordPageBuffer) || LLFileState.PageSize > sizeof(RecordPageBuffer))
    return 0;
  if (!LLReadPhysicalPage(physical, RecordPageBuffer, span)) return 0;
  uint16_t offset = 0;
  uint16_t found = 0;
  if (!LLFindRecord(RecordPageBuffer, slot, &offset, &found)) return 0;
  memcpy(destination, RecordPageBuffer + offset, found);
  *length = found;
  return 1;
}

int LLExpandRecord(uint8_t method, const uint8_t* source, uint32_t sourceLength,
                   uint8_t* destination, uint32_t* length) {
  uint64_t capacity = *length;
  if (method == ExpandMethodNone) {
    *length = 0;
    return 1;
  }
  if (method != ExpandMethodRuns) {
    *length = 0;
    return 0;
  }
  // A source that ends inside a group (a count cut short, literal bytes
  // missing, or a fill count without its fill byte) is refused: the operation
  // fails with the bytes produced before that group, and nothing past
  // sourceLength is read.
  uint64_t out = 0;
  uint64_t in = 0;
  while (in < sourceLength) {
    if (in + 2 > sourceLength) {
      *length = static_cast<uint32_t>(out);
      return 0;
    }
    uint16_t n = GetLE16(source + in);
    in += 2;
    if (out + n > capacity || in + n > sourceLength) {
      *length = static_cast<uint32_t>(out);
      return 0;
    }
    memcpy(destination + out, source + in, n);
    in += n;
    out += n;
    if (in >= sourceLength) break;
    if (in + 3 > sourceLength) {
      *length = static_cast<uint32_t>(out);
      return 0;
    }
    uint16_t r = GetLE16(source + in);
    if (out + r > capacity) {
      *length = static_cast<uint32_t>(out);
      return 0;
    }
    memset(destination + out, source[in + 2], r);
    in += 3;
    out += r;
  }
  *length = static_cast<uint32_t>(out);
  return 1;
}

// ---------------------------------------------------------------- misc data

int LLReadMiscData(void* destination, int which, uint16_t* length) {
  const uint8_t* fcr = LLFileState.FcrBuffers[LLFileState.CurrentFcr];
  uint16_t version = LLFileState.FileVersion;
  int verbose = LLFileState.Verbose;
  uint32_t page = 0;
  uint16_t record = 0;

  if (version < 0x0800) {
    page = GetLE32(fcr + FcrMiscRecordOld) >> 8;  // 24 bits at 149 to 151
    record = fcr[FcrMiscRecordOld];
    if (verbose) {
      printf("Misc Data Page Pointer: 0x%.2x%.2x%.2x%.2x\r\n", fcr[151], fcr[150], fcr[149],
             fcr[148]);
    }
  } else if (version < 0x0950) {
    page = GetLE32(fcr + FcrMiscPage);
    record = GetLE16(fcr + FcrMiscRecord);
    if (verbose) {
      printf("Misc Data Page Pointer: 0x%.2x%.2x%.2x%.2x\r\n", fcr[151], fcr[150], fcr[149],
             fcr[148]);
      printf("Misc Data Record Number 0x%.2x%.2x\r\n", fcr[153], fcr[152]);
    }
  } else {
    int at = which == 1 ? FcrUserMiscPage : FcrMiscPage;
    const char* pageLabel = which == 1 ? "User Misc Data Page Pointer" : "Misc Data Page Pointer";
    const char* recordLabel =
        which == 1 ? "User Misc Data Record Number" : "Misc Data Record Number";
    const char* reservedLabel = which == 1 ? "User Misc Data Reserved" : "Misc Data Reserved";
    page = GetLE32(fcr + at);
    record = GetLE16(fcr + at + 4);
    if (verbose) {
      printf("%33s: 0x%.2x%.2x%.2x%.2x\r\n", pageLabel, fcr[at + 3], fcr[at + 2], fcr[at + 1],
             fcr[at]);
      printf("%33s: 0x%.2x%.2x\r\n", recordLabel, fcr[at + 5], fcr[at + 4]);
      printf("%33s: 0x%.2x%.2x\r\n", reservedLabel, fcr[at + 7], fcr[at + 6]);
    }
  }
  if (page == 0) return 0;
  return LLReadRecord(page, record, destination, length);
}

// ---------------------------------------------------------------- second control pair

int LLLoadAuxPair() {
  LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0800) return 0;
  // The buffers hold 32768 bytes each; an FCR page size above that (or 0)
  // comes only from a damaged FCR, and the load is refused rather than read
  // past the buffers.
  if (s.FcrPageSize == 0 || s.FcrPageSize > LLFcrBufferSize) return 0;
  uint64_t size = s.FcrPageSize;
  int ok = LLReadAt(2 * size, s.AuxBuffers[0], s.FcrPageSize);
  if (ok) ok = LLReadAt(3 * size, s.AuxBuffers[1], s.FcrPageSize);
  // One byte of each copy decides, not the whole usage count.
  s.CurrentAux = s.AuxBuffers[0][s.UsageOffset] < s.AuxBuffers[1][s.UsageOffset] ? 1 : 0;
  return ok;
}

// ---------------------------------------------------------------- delta file

int LLReadDeltaPage(uint32_t page, void* destination, uint32_t count) {
  uint64_t offset = static_cast<uint64_t>(page) * LLFileState.PageSize;
  if (LLFileState.Verbose) {
    printf("Attempting to set position to Delta File, Offset %.8x:%.8x\n",
           static_cast<uint32_t>(offset >> 32), static_cast<uint32_t>(offset));
  }
  PlatformFile file = LLFileState.DeltaHandle;
  if (file == PlatformInvalidFile || !PlatformSeek(file, offset)) return 0;
  return ReadExactly(file, destination, count);
}

int LLReadDeltaAt(uint32_t offset, void* destination, uint32_t count) {
  if (LLFileState.Verbose) {
    printf("Attempting to set position to Delta File, Offset %.8x:%.8x\n", 0u, offset);
  }
  PlatformFile file = LLFileState.DeltaHandle;
  if (file == PlatformInvalidFile || !PlatformSeek(file, offset)) return 0;
  return ReadExactly(file, destination, count);
}

// ---------------------------------------------------------------- diagnostics

void LLHexDump(const uint8_t* bytes, int32_t length) {
  for (int32_t i = 0; i < length; ++i) {
    fprintf(stderr, "%.2X ", bytes[i]);
    if (i % 16 == 15 || i == length - 1) fputs("\n", stderr);
  }
}

void LLShowVersion() { printf("Using %s\r\n\r\n", LibraryBanner); }

// ---------------------------------------------------------------- record addresses

void LLMakeRecordAddress(RecordAddress* destination, uint32_t page, uint16_t record,
                         uint16_t reserved) {
  PutLE32(destination->Bytes, page);
  PutLE16(destination->Bytes + 4, record);
  PutLE16(destination->Bytes + 6, reserved);
}

void LLSplitRecordAddress(uint32_t* page, uint16_t* record, uint16_t* reserved,
                          const RecordAddress* source) {
  *page = GetLE32(source->Bytes);
  *record = GetLE16(source->Bytes + 4);
  *reserved = GetLE16(source->Bytes + 6);
}
