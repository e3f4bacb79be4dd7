// Page allocation tables: from format 6.0 on, logical pages are mapped to
// physical pages by PAT pairs. Pair n holds the entries of E consecutive
// logical pages; its two pages are two copies of one table and the one with
// the higher usage count (the second on a tie) is in force. One pair is kept
// in memory at a time.
//
// EntryExtra is handed out as the entry stores it and written back the same
// way; the library gives it no meaning of its own (real files keep the type
// of the page there: 'D' data, 'V' variable, 0x80 + n index of key n, 0 for a
// free or shadow page).
#include <cstdio>
#include <cstring>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"

static void UnexpectedPageSize()
{
  fprintf(stderr, "Unexpected Page Size <%d>\n", (int)LLFileState.PageSize);
}

uint32_t LLPatEntriesPerPage()
{
  uint16_t version = LLFileState.FileVersion;
  uint16_t pageSize = LLFileState.PageSize;
  if (version < 0x0800) {
    // The entries fill the page from byte 8 to its end. A page too small to
    // hold its own header (only a damaged FCR gives one) holds no entry; the
    // count is 0 then, rather than a wrapped-around huge one.
    if (LLFileState.FcrPageSize < 8)
      return 0;
    return LLFileState.FcrPageSize / 4 - 2;
  }
  if (version < 0x0950) {
    switch (pageSize) {
    case 512: return 312;
    case 1024: return 316;
    case 1536: return 476;
    case 2048: return 636;
    case 2560: return 796;
    case 3072: return 956;
    case 3584: return 1116;
    case 4096: return 1276;
    case 8192: return 1278;
    }
  } else {
    switch (pageSize) {
    case 1024: return 476;
    case 2048: return 478;
    case 4096: return 956;
    case 8192: return 1596;
    case 16384: return 1598;
    }
  }
  UnexpectedPageSize();
  return 0;
}

// A second count the library carries beside LLPatEntriesPerPage; nothing
// calls it.
uint32_t LLPatEntriesPerPageAlt()
{
  uint16_t version = LLFileState.FileVersion;
  uint32_t fcrPageSize = LLFileState.FcrPageSize;
  if (version < 0x0800)
    return fcrPageSize < 8 ? 0 : fcrPageSize / 4 - 2;
  if (version < 0x0950) {
    // FcrPageSize is at least 2048 in this range, so nothing wraps.
    uint32_t count = (fcrPageSize * 10) / 64 - 4;
    if (LLFileState.PageSize == 512)
      count -= 4;
    return count;
  }
  switch (LLFileState.PageSize) {
  case 1024: return 472;
  case 2048: return 476;
  case 4096: return 956;
  case 8192: return 1596;
  case 16384: return 1598;
  }
  UnexpectedPageSize();
  return 320;
}

int32_t LLPatPairStride()
{
  if (LLFileState.FileVersion < 0x0950) {
    // Room for the pair's own two pages and E data pages.
    uint32_t entries = LLPatEntriesPerPage();
    return (int32_t)(entries * LLFileState.PageSize + 2u * LLFileState.FcrPageSize);
  }
  int32_t pages;
  switch (LLFileState.PageSize) {
  case 1024:
  case 2048: pages = 480; break;
  case 4096: pages = 960; break;
  case 8192:
  case 16384: pages = 1600; break;
  default:
    UnexpectedPageSize();
    pages = 0;
  }
  uint32_t size = LLFileState.PageCompressed ? LLFileState.PhysicalPageSize : LLFileState.PageSize;
  return pages * (int32_t)size;
}

uint64_t LLPatPairOffset(uint32_t pair)
{
  if (LLFileState.Verbose)
    fprintf(stderr, "(1)Seeking PAT Pair %lu at ", (unsigned long)pair);
  uint64_t offset = 0;
  if (pair != 0) {
    offset = 2ull * LLFileState.FcrPageSize;
    // From 8.0 on the first pair follows a second control pair.
    if (LLFileState.FileVersion >= 0x0800)
      offset += 2ull * LLFileState.FcrPageSize;
    // 6.x files displace pages from pair 31 on by 4096 bytes.
    if (LLFileState.FileVersion < 0x0700 && pair > 30)
      offset += 4096;
    int32_t stride = LLPatPairStride();
    offset += (uint64_t)(pair - 1) * (uint64_t)(uint32_t)(stride < 0 ? 0 : stride);
  }
  if (LLFileState.Verbose)
    fprintf(stderr, "Large Offset %.8x:%.8x\n", (unsigned)(offset >> 32), (unsigned)offset);
  return offset;
}

int LLLoadPatPair(uint32_t pair)
{
  if (LLFileState.FileVersion < 0x0600)
    return 0;
  // -1 marks "no pair"; any other value is the loaded pair's number.
  if (LLFileState.LoadedPatPair != -1 && (uint32_t)LLFileState.LoadedPatPair == pair)
    return 1;
  uint32_t fcrPageSize = LLFileState.FcrPageSize;
  if (fcrPageSize == 0 || fcrPageSize > (uint32_t)LLPatBufferSize)
    return 0;

  uint64_t offset = LLPatPairOffset(pair);
  // A partial read may already have changed buffer 0: after any failure no
  // pair counts as loaded.
  if (!LLReadAt(offset, LLFileState.PatBuffers[0], fcrPageSize) ||
      !LLReadAt(offset + fcrPageSize, LLFileState.PatBuffers[1], fcrPageSize)) {
    LLFileState.LoadedPatPair = -1;
    return 0;
  }
  LLFileState.LoadedPatPair = (int32_t)pair;

  // UsageOffset is 4, 6 or 8: always inside the bytes just read.
  uint32_t usage0 = GetLE32(LLFileState.PatBuffers[0] + LLFileState.UsageOffset);
  uint32_t usage1 = GetLE32(LLFileState.PatBuffers[1] + LLFileState.UsageOffset);
  // Unlike the FCR, a tie selects the second page.
  LLFileState.CurrentPat = usage1 >= usage0 ? 1 : 0;
  if (LLFileState.Verbose)
    fprintf(stderr, "Usage 0 (%.8x) %c Usage 1 (%.8x) [Loaded PAT Pair %lu]\n", (unsigned)usage0,
            usage0 < usage1 ? '<' : '>', (unsigned)usage1, (unsigned long)pair);

  // The identifications should match; the copy chosen above is used anyway.
  if (memcmp(LLFileState.PatBuffers[0], LLFileState.PatBuffers[1],
             (size_t)LLFileState.PatIdLength) != 0)
    fprintf(stderr, "==>PAT Page ID's Do Not Match.\n");
  return 1;
}

int LLLogicalToPhysical(uint32_t logical, uint32_t* physical, uint16_t* entryExtra,
                        uint16_t* pageSpan)
{
  uint32_t page = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (pageSpan != nullptr)
    *pageSpan = 1;
  if (LLFileState.FileVersion < 0x0600) {
    // No PAT: a logical page is its own physical page.
    if (physical != nullptr)
      *physical = logical;
    return 1;
  }

  int ok = 0;
  uint32_t entries = LLPatEntriesPerPage();
  if (entries != 0) {
    uint32_t pair = (logical - 1) / entries + 1;
    uint32_t index = (logical - 1) % entries;
    if (LLLoadPatPair(pair)) {
      uint32_t at;
      uint32_t size;
      uint16_t version = LLFileState.FileVersion;
      if (version < 0x0800) {
        size = PatEntrySizeV6;
        at = PatEntriesV6 + size * index;
      } else if (version < 0x0950) {
        size = PatEntrySizeV8;
        at = PatEntriesV8 + size * index;
      } else {
        size = PatEntrySizeV95;
        at = PatEntriesV95 + size * index;
      }
      // Only the first FcrPageSize bytes of a PAT page are read. Files above
      // 9.50 with 1024-byte pages have 2048-byte PAT pages but 476 entries
      // per page, so the entries from index 254 on would lie past the bytes
      // read, in what an earlier load left in the buffer. The translation of
      // such an entry fails (physical page 0, EntryExtra 0) instead of
      // handing out stale bytes. The same rule keeps every entry of every
      // layout inside the bytes read, whatever the FCR says.
      if (at + size <= LLFileState.FcrPageSize) {
        const uint8_t* entry = LLFileState.PatBuffers[LLFileState.CurrentPat] + at;
        if (version < 0x0800) {
          // High word first; page in the low 24 bits, EntryExtra above them.
          uint32_t value = GetHighWordFirst32(entry);
          page = value & 0x00FFFFFFu;
          extra = (uint16_t)(value >> 24);
        } else {
          page = GetLE32(entry);
          extra = GetLE16(entry + 4);
          if (version >= 0x0950 && LLFileState.PageCompressed)
            span = GetLE16(entry + 6);
        }
        ok = 1;
      }
    }
  }
  if (physical != nullptr)
    *physical = page;
  if (entryExtra != nullptr)
    *entryExtra = extra;
  if (pageSpan != nullptr)
    *pageSpan = ok ? span : 1;
  return ok;
}

int LLSeekPatPair(uint32_t pair, uint16_t* part)
{
  if (LLFileState.Verbose)
    fprintf(stderr, "(2)Seeking PAT Pair %lu at ", (unsigned long)pair);
  uint64_t offset = LLPatPairOffset(pair);
  if (LLFileState.Verbose)
    fprintf(stderr, "Large Offset %.8x:%.8x\n", (unsigned)(offset >> 32), (unsigned)offset);
  uint16_t found = 0;
  int result = LLSeekLarge(offset, &found);
  if (part != nullptr)
    *part = found;
  if (LLFileState.Verbose && found >= LLFileState.PartCount)
    fprintf(stderr, "Calculated location outside valid file values!\n");
  return result;
}
