// Page and table writing: the FCR pair, the second control pair of 8.0 and
// later files and the loaded PAT pair go back from their buffers; one PAT
// entry can be set; page headers and whole pages are written by logical page,
// by physical page, at a large offset or within one part; and one write steps
// over the parts as if all were as large as the base file.
//
// Every write addresses its bytes exactly as the matching read does. A write
// succeeds only when every byte was written: PlatformWrite finishes a write
// that the system completes only in part, or fails it, so a short write is
// never taken for a whole one. Two-page writes do the second page only when
// the first succeeded. No write changes LLFileState: buffers, usage counts and
// the part sizes recorded at the open stay as they are.
#include <cstdio>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"

namespace {

const uint32_t BlockSize = 512;
const int HeaderRecordMaxHeader = 16;

// Below 0x0800 a PAT entry holds the physical page in 24 bits.
const uint32_t PatEntryPageLimitV6 = 0x01000000;

// The FCR, control and PAT buffers hold 32768 bytes each; an FCR page size
// above that (or 0) comes only from a damaged FCR. The table writes refuse it
// rather than write from beyond their buffers.
int FcrPageSizeUsable() {
  return LLFileState.FcrPageSize != 0 && LLFileState.FcrPageSize <= LLFcrBufferSize;
}

int HeaderLengthUsable() {
  return LLFileState.PageHeaderLength >= 0 &&
         LLFileState.PageHeaderLength <= HeaderRecordMaxHeader;
}

// Positions one part's handle at an offset from the part's start; 0 when the
// part is not open or the system refuses.
int SeekPart(uint16_t part, uint64_t offset) {
  if (part >= LLMaxParts || LLFileState.PartHandles[part] == PlatformInvalidFile) return 0;
  return PlatformSeek(LLFileState.PartHandles[part], offset);
}

}  // namespace

// ---------------------------------------------------------------- control pages

int LLWriteFcrPair() {
  LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0600) return 0;
  if (!FcrPageSizeUsable()) return 0;
  if (!LLWriteBlock(0, s.FcrBuffers[0], s.FcrPageSize)) return 0;
  // The second copy goes back to byte offset FcrPageSize, where the load read
  // it. For FCR pages of a multiple of 512 bytes (every page size a real file
  // has) that is block FcrPageSize / 512; for any other size that block would
  // start before the second copy and overwrite the end of the first, so the
  // byte offset is used instead of the truncated block number.
  if (s.FcrPageSize % BlockSize == 0)
    return LLWriteBlock(s.FcrPageSize / BlockSize, s.FcrBuffers[1], s.FcrPageSize);
  return LLWriteAt(s.FcrPageSize, s.FcrBuffers[1], s.FcrPageSize);
}

int LLWriteAuxPair() {
  LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0800) return 0;
  if (!FcrPageSizeUsable()) return 0;
  uint64_t size = s.FcrPageSize;
  if (!LLWriteAt(2 * size, s.AuxBuffers[0], s.FcrPageSize)) return 0;
  return LLWriteAt(3 * size, s.AuxBuffers[1], s.FcrPageSize);
}

int LLWritePatPair(uint32_t pair) {
  LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0600) return 0;
  if (s.LoadedPatPair < 0 || static_cast<uint32_t>(s.LoadedPatPair) != pair) {
    fprintf(stderr, "Writing to incorrect PAT Pair!!!\r\n");
    return 0;
  }
  if (!FcrPageSizeUsable()) return 0;
  uint64_t offset = LLPatPairOffset(pair);
  if (!LLWriteAt(offset, s.PatBuffers[0], s.FcrPageSize)) return 0;
  return LLWriteAt(offset + s.FcrPageSize, s.PatBuffers[1], s.FcrPageSize);
}

// ---------------------------------------------------------------- PAT entries

int LLSetPatEntry(uint32_t logical, uint32_t physical, uint16_t entryExtra) {
  LLFileStateRecord& s = LLFileState;
  uint32_t perPage = LLPatEntriesPerPage();
  if (perPage == 0) return 0;
  uint32_t pair = (logical - 1) / perPage + 1;
  uint32_t index = (logical - 1) % perPage;

  // Below 0x0800 the entry keeps the page in 24 bits and EntryExtra in the top
  // byte; a larger page would merge its high bits into EntryExtra and point
  // somewhere else. Such a page cannot be stored and is refused.
  if (s.FileVersion < 0x0800 && physical >= PatEntryPageLimitV6) return 0;

  if (!LLLoadPatPair(pair)) return 0;

  uint32_t at = 0;
  uint32_t size = 0;
  if (s.FileVersion < 0x0800) {
    at = PatEntriesV6 + 4 * index;
    size = 4;
  } else if (s.FileVersion < 0x0950) {
    at = PatEntriesV8 + 6 * index;
    size = 6;
  } else {
    at = PatEntriesV95 + 8 * index;
    size = 8;
  }
  // Only FcrPageSize bytes of the pair go back to the file. An entry beyond
  // them (1024-byte pages of files above 9.50 count more entries than their
  // 2048-byte PAT pages hold) could be set in memory but never written, so it
  // is refused instead of reported as written.
  if (at + size > s.FcrPageSize) return 0;

  uint8_t* entry = s.PatBuffers[s.CurrentPat] + at;
  if (s.FileVersion < 0x0800) {
    uint32_t value = physical | (static_cast<uint32_t>(entryExtra & 0xFF) << 24);
    PutHighWordFirst32(entry, value);
  } else {
    // From 9.50 on bytes 6 and 7, the page span, stay as they are.
    PutLE32(entry, physical);
    PutLE16(entry + 4, entryExtra);
  }
  return LLWritePatPair(pair);
}

// ---------------------------------------------------------------- headers

int LLWriteHeaderAt(uint64_t offset, const PageHeaderRecord* source) {
  // Only the header itself goes back; the two bytes that follow it in a
  // PageHeaderRecord are not written.
  if (!HeaderLengthUsable()) return 0;
  return LLWriteAt(offset, source->Bytes, static_cast<uint32_t>(LLFileState.PageHeaderLength));
}

int LLWritePhysicalHeader(uint32_t physical, const PageHeaderRecord* source) {
  return LLWriteHeaderAt(LLPageToOffset(physical), source);
}

int LLWriteLogicalHeader(uint32_t logical, const PageHeaderRecord* source) {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!LLLogicalToPhysical(logical, &physical, &extra, &span)) return 0;
  return LLWritePhysicalHeader(physical, source);
}

// ---------------------------------------------------------------- pages

int LLWritePagesAt(uint64_t offset, const void* source, uint16_t pageCount) {
  // The library does not compress pages, so it does not write them either in
  // a file whose pages are compressed.
  if (LLFileState.PageCompressed) return 0;
  uint32_t count = static_cast<uint32_t>(pageCount) * LLFileState.PhysicalPageSize;
  return LLWriteAt(offset, source, count);
}

int LLWritePhysicalPage(uint32_t physical, const void* source, uint16_t pageCount) {
  return LLWritePagesAt(LLPageToOffset(physical), source, pageCount);
}

int LLWriteLogicalPage(uint32_t logical, const void* source) {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!LLLogicalToPhysical(logical, &physical, &extra, &span)) return 0;
  return LLWritePhysicalPage(physical, source, span);
}

// ---------------------------------------------------------------- writes within a part

int LLWritePartHeader(uint16_t part, uint32_t offset, const PageHeaderRecord* source) {
  if (!HeaderLengthUsable()) return 0;
  if (!SeekPart(part, offset)) return 0;
  return PlatformWrite(LLFileState.PartHandles[part], source->Bytes,
                       static_cast<uint32_t>(LLFileState.PageHeaderLength));
}

int LLWritePartPage(uint16_t part, uint32_t offset, const void* source) {
  if (!SeekPart(part, offset)) return 0;
  if (LLFileState.PageCompressed) return 0;
  return PlatformWrite(LLFileState.PartHandles[part], source, LLFileState.PageSize);
}

// ---------------------------------------------------------------- equal-sized parts

int LLWriteAcrossParts(uint64_t offset, const void* source, uint32_t count) {
  LLFileStateRecord& s = LLFileState;
  int64_t size = s.PartSizes[0];
  int64_t x = static_cast<int64_t>(offset);
  uint64_t part = 0;
  if (s.PartCount >= 2) {
    // The stepping subtracts the base file's size until the write ends before
    // the end of its part. With an empty base file it could never progress;
    // such a set is refused.
    if (size <= 0) return 0;
    // Stepping while x >= size - count, one base-file size at a time, done in
    // one division: after q + 1 steps x lies in [size - count - size,
    // size - count).
    int64_t limit = size - static_cast<int64_t>(count);
    if (x >= limit) {
      uint64_t beyond = static_cast<uint64_t>(x) - static_cast<uint64_t>(limit);
      uint64_t steps = beyond / static_cast<uint64_t>(size) + 1;
      x = limit - size + static_cast<int64_t>(beyond % static_cast<uint64_t>(size));
      part = steps;
    }
  }
  if (s.Verbose) {
    printf("Attempting to set position to Extent %.2lx, Offset %.8x:%.8x for writing data!\n",
           static_cast<unsigned long>(part), static_cast<uint32_t>(static_cast<uint64_t>(x) >> 32),
           static_cast<uint32_t>(x));
  }
  // A negative offset is what the stepping gives for a write that would reach
  // or pass the end of its part; no write is split across parts.
  if (part >= s.PartCount || x < 0) return 0;
  if (!SeekPart(static_cast<uint16_t>(part), static_cast<uint64_t>(x))) return 0;
  return PlatformWrite(s.PartHandles[part], source, count);
}
