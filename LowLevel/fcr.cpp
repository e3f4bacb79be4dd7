// FCR loading: recognises a Btrieve file, reads its file control record (two
// copies from format 6.0 on), works out the format version and the geometry
// that the PAT and page layouts rest on, and picks the current FCR.
#include <cstdio>
#include <cstring>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"

// The first read takes the first FCR page and whatever follows it.
static const uint32_t FirstReadSize = 16384;
// A shorter file than this is no Btrieve file.
static const uint32_t MinimumFirstRead = 512;

// Reads up to count bytes at a large offset from the one part that holds it;
// *got receives the number of bytes that arrived. 0 when the positioning or
// the read fails.
static int ReadFromPart(uint64_t offset, uint8_t* buffer, uint32_t count, uint32_t* got)
{
  uint16_t part = 0;
  *got = 0;
  if (!LLSeekLarge(offset, &part))
    return 0;
  return PlatformRead(LLFileState.PartHandles[part], buffer, count, got);
}

// Page sizes, FCR page size and the lengths of the PAT and page layouts, all
// in 16-bit arithmetic as the format stores them (twice a page size wraps past
// 65535). The page-size byte always comes from the first FCR page.
static void DeriveGeometry(const uint8_t* first)
{
  uint16_t version = LLFileState.FileVersion;
  if (version < 0x0800) {
    LLFileState.PageSize = (uint16_t)(first[FcrPageSizeByteOld] * 256);
    LLFileState.FcrPageSize = LLFileState.PageSize;
    LLFileState.UsageOffset = FcrUsageCountV6;
    LLFileState.PatIdLength = 4;
    LLFileState.PageHeaderLength = 4;
    return;
  }
  uint16_t pageSize = (uint16_t)(first[FcrPageSizeByteNew] * 256);
  uint16_t fcrPageSize = (uint16_t)(2 * pageSize);
  LLFileState.PageSize = pageSize;
  if (version < 0x0950) {
    if (fcrPageSize < 2048)
      fcrPageSize = 2048;
    if (pageSize == 8192)
      fcrPageSize = 8192;
    LLFileState.UsageOffset = FcrUsageCountV8;
    LLFileState.PatIdLength = 6;
    LLFileState.PageHeaderLength = 6;
  } else if (version == 0x0950) {
    if (fcrPageSize < 4096)
      fcrPageSize = 4096;
    if (pageSize >= 16384)
      fcrPageSize = 16384;
    LLFileState.UsageOffset = FcrUsageCountV95;
    LLFileState.PatIdLength = 8;
    LLFileState.PageHeaderLength = 8;
  } else {
    if (pageSize >= 16384)
      fcrPageSize = 16384;
    LLFileState.UsageOffset = FcrUsageCountV95;
    LLFileState.PatIdLength = 8;
    LLFileState.PageHeaderLength = 16;
  }
  LLFileState.FcrPageSize = fcrPageSize;
}

int LLLoadFcr()
{
  LLFileState.FileVersion = 0;
  uint8_t* first = LLFileState.FcrBuffers[0];
  uint8_t* second = LLFileState.FcrBuffers[1];

  uint32_t got = 0;
  if (!ReadFromPart(0, first, FirstReadSize, &got) || got < MinimumFirstRead) {
    fprintf(stderr, "Not a Btrieve File!\n");
    return 0;
  }
  // A short first read is accepted; the rest of the buffer is cleared so that
  // no field is ever taken from an earlier file.
  memset(first + got, 0, sizeof LLFileState.FcrBuffers[0] - got);

  uint16_t word;
  if (GetLE32(first + FcrSignature) == 0)
    word = GetLE16(first + FcrVersionWordZero);
  else if (first[0] != 'F' && first[1] != 'C') {
    // One of the two signature bytes is enough.
    fprintf(stderr, "Not a Btrieve File!\n");
    return 0;
  } else
    word = GetLE16(first + FcrVersionWordFc);

  // A negated version word (as files with an owner name carry) is turned
  // back; 0x8000 itself stays as it is.
  LLFileState.FileVersion = word > 0x8000 ? (uint16_t)(0x10000 - word) : word;
  if (LLFileState.Verbose)
    fprintf(stderr, "File Version Found = %.4X\n", (unsigned)LLFileState.FileVersion);

  DeriveGeometry(first);
  LLFileState.CurrentFcr = 0;

  if (LLFileState.FileVersion >= 0x0600) {
    // The second FCR page is read into a 32768-byte buffer with the FCR page
    // size, which an odd page-size byte can push past 32768 (byte 9 above
    // 0x80 below 8.0, byte 43 from 0x41 to 0x7F from 8.0 to 9.4x) or down to
    // 0 (a page-size byte of 0). Such a file is refused here, before the
    // second read, with a message of its own; the geometry fields keep their
    // derived values.
    uint32_t fcrPageSize = LLFileState.FcrPageSize;
    if (fcrPageSize == 0 || fcrPageSize > (uint32_t)LLFcrBufferSize) {
      fprintf(stderr, "Not a Btrieve File: FCR page size %lu is outside 1 to %d bytes.\n",
              (unsigned long)fcrPageSize, LLFcrBufferSize);
      return 0;
    }
    uint16_t part = 0;
    if (!LLSeekLarge(fcrPageSize, &part)) {
      fprintf(stderr, "Not a Btrieve File....\n");
      return 0;
    }
    got = 0;
    if (!PlatformRead(LLFileState.PartHandles[part], second, fcrPageSize, &got) ||
        got != fcrPageSize) {
      fprintf(stderr, "Not a Btrieve File.....\n");
      return 0;
    }
    memset(second + fcrPageSize, 0, sizeof LLFileState.FcrBuffers[1] - fcrPageSize);
    // The second copy is current only on a strictly higher usage count.
    uint32_t usage0 = GetLE32(first + LLFileState.UsageOffset);
    uint32_t usage1 = GetLE32(second + LLFileState.UsageOffset);
    if (usage0 < usage1)
      LLFileState.CurrentFcr = 1;
  }

  const uint8_t* current = LLFileState.FcrBuffers[LLFileState.CurrentFcr];
  // Up to 9.50 the page count is stored high word first.
  if (LLFileState.FileVersion <= 0x0950)
    LLFileState.PageCount = GetHighWordFirst32(current + FcrPageCount);
  else
    LLFileState.PageCount = GetLE32(current + FcrPageCount);
  if (LLFileState.Verbose)
    printf("Found %lu pages in file.\n", (unsigned long)LLFileState.PageCount);

  LLFileState.PageCompressed = 0;
  LLFileState.PhysicalPageSize = LLFileState.PageSize;
  if (LLFileState.FileVersion >= 0x0950) {
    int flagsAt = LLFileState.FileVersion == 0x0950 ? FcrFlagsV95 : FcrFlagsV13;
    if (GetLE16(current + flagsAt) & FcrFlagPageCompressed) {
      LLFileState.PageCompressed = 1;
      LLFileState.PhysicalPageSize = GetLE16(current + FcrPhysicalPageSize);
      printf("\nWarning: v9.50 files with Page Compression are not yet supported!\n\n");
    }
  }
  if (LLFileState.FileVersion > 0x0950) {
    if (LLFileState.FileVersion == 0x0D30)
      printf("\nWarning: v16 files are NOT completely supported!\n\n");
    else
      printf("\nWarning: v%d.%.2x files are NOT completely supported!\n\n",
             (int)(LLFileState.FileVersion >> 8), (unsigned)(LLFileState.FileVersion & 0xFF));
  }
  return 1;
}
