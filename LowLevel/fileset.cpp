// The file set: the base file, its extension parts and the delta file, one
// logical byte space over the parts, and the conversions between physical
// pages, large offsets and (part, offset) pairs.
//
// The library's messages call an extension part an "Extent".
#include <cstdio>
#include <cstring>

#include "LowLevel/LowLevel.h"

LLFileStateRecord LLFileState;

// At program start no handle is open: every handle holds the invalid value
// and no 6.x open has set the displacement threshold yet.
static int PrepareInitialState()
{
  for (int i = 0; i < LLMaxParts; i++)
    LLFileState.PartHandles[i] = PlatformInvalidFile;
  LLFileState.DeltaHandle = PlatformInvalidFile;
  LLFileState.V6ShiftThreshold = 0xFFFFFFFFu;
  LLFileState.LoadedPatPair = -1;
  return 1;
}
static int InitialStateReady = PrepareInitialState();

// Offset from which the physical pages of a 6.x file lie 4096 bytes further
// on, by page size: the undisplaced offset of physical page
// 15 * PageSize / 2 + 2, which is also where PAT pair 31 would begin.
struct V6ShiftRow {
  uint16_t PageSize;
  uint32_t Threshold;
};
static const V6ShiftRow V6ShiftTable[] = {
    {512, 0x001E0400u},  {1024, 0x00780800u}, {1536, 0x010E0C00u}, {2048, 0x01E01000u},
    {2560, 0x02EE1400u}, {3072, 0x04381800u}, {3584, 0x05BE1C00u}, {4096, 0x07802000u},
};

static const uint32_t V6Displacement = 4096;

// The size of a page on disk.
static uint32_t DiskPageSize()
{
  return LLFileState.PageCompressed ? LLFileState.PhysicalPageSize : LLFileState.PageSize;
}

// Length of the path with its last '.' and everything after it removed; the
// whole length when the path holds no '.'. The '.' may belong to a directory
// name: the cut is made there all the same.
static size_t CutLength(const char* path)
{
  const char* dot = strrchr(path, '.');
  return dot != nullptr ? (size_t)(dot - path) : strlen(path);
}

// Opens one file of the set; on failure writes the failure line that fits
// (none for a later part that simply does not exist) and returns the invalid
// handle.
static PlatformFile OpenMember(const char* name, int openKind, int isBase)
{
  if (LLFileState.Verbose)
    fprintf(stderr, "Opening File <%s>...", name);
  PlatformFile handle = PlatformOpenFile(name, openKind);
  if (handle != PlatformInvalidFile) {
    if (LLFileState.Verbose)
      fprintf(stderr, "Opened\r\n");
    return handle;
  }
  uint32_t code = PlatformLastError();
  char* text = PlatformErrorText(code);
  if (LLFileState.Verbose)
    fprintf(stderr, "Failed (%lu), %s", (unsigned long)code, text);
  else if (isBase || code != PlatformErrorFileNotFound)
    fprintf(stderr, "Failed to Open File <%s>, Status Code %lu, %s", name, (unsigned long)code,
            text);
  PlatformFreeErrorText(text);
  return PlatformInvalidFile;
}

uint16_t LLOpenFileSet(const char* path, int openKind)
{
  if (path == nullptr)
    path = "";
  if (LLFileState.Verbose)
    fprintf(stderr, "Opening File <%s>\r\n", path);

  // Reset. Handles of an earlier open are not closed here; LLCloseAll comes
  // between two opens.
  LLFileState.TotalBlocks = 0;
  LLFileState.PartCount = 0;
  for (int i = 0; i < LLMaxParts; i++) {
    LLFileState.PartSizes[i] = 0;
    LLFileState.PartHandles[i] = PlatformInvalidFile;
  }
  LLFileState.DeltaHandle = PlatformInvalidFile;
  LLFileState.LoadedPatPair = -1;

  // Names are held to 254 characters. A longer path is refused before any
  // file is opened, and so is a path whose extension part and delta names
  // (the cut path and four more characters) would be longer: the set is
  // either named whole or not opened at all.
  size_t pathLength = strlen(path);
  if (pathLength > (size_t)LLMaxPathLength) {
    fprintf(stderr, "File name longer than %d characters: <%s>\n", LLMaxPathLength, path);
    return 0;
  }
  size_t cut = CutLength(path);
  if (cut + 4 > (size_t)LLMaxPathLength) {
    fprintf(stderr, "Extension file names of <%s> would be longer than %d characters\n", path,
            LLMaxPathLength);
    return 0;
  }

  char name[LLMaxPathLength + 1];
  uint16_t count = 0;
  for (int i = 0; i < LLMaxParts; i++) {
    if (i == 0)
      memcpy(name, path, pathLength + 1);
    else {
      memcpy(name, path, cut);
      snprintf(name + cut, sizeof name - cut, ".^%.2x", (unsigned)i);
    }
    PlatformFile handle = OpenMember(name, openKind, i == 0);
    if (handle == PlatformInvalidFile)
      break;
    LLFileState.PartHandles[i] = handle;
    int64_t size = 0;
    if (!PlatformSeekEnd(handle, &size) || size < 0)
      size = 0;
    LLFileState.PartSizes[i] = size;
    LLFileState.TotalBlocks += (uint32_t)(size / 512);
    count = (uint16_t)(i + 1);
  }
  // With all 128 parts open the loop ends there: no name numbered 0x80 or
  // above is ever tried.
  LLFileState.PartCount = count;

  memcpy(name, path, cut);
  memcpy(name + cut, ".^^^", 5);
  if (LLFileState.Verbose)
    fprintf(stderr, "Opening File <%s>...", name);
  PlatformFile delta = PlatformOpenFile(name, openKind);
  if (delta != PlatformInvalidFile) {
    LLFileState.DeltaHandle = delta;
    fprintf(stderr, "Delta File Found and Opened!\r\n");
  }

  if (LLFileState.PartCount == 0)
    return 0;

  if (LLFileState.Verbose)
    fprintf(stderr, "Loading FCR\r\n");
  if (!LLLoadFcr())
    return 0;

  if (LLFileState.FileVersion >= 0x0600 && LLFileState.FileVersion <= 0x06FF) {
    for (const V6ShiftRow& row : V6ShiftTable)
      if (row.PageSize == LLFileState.PageSize)
        LLFileState.V6ShiftThreshold = row.Threshold;
  }
  return LLFileState.PartCount;
}

uint16_t LLOpenReadOnly(const char* path) { return LLOpenFileSet(path, PlatformOpenReadExclusive); }
uint16_t LLOpenReadWrite(const char* path) { return LLOpenFileSet(path, PlatformOpenReadWrite); }
uint16_t LLOpenShared(const char* path) { return LLOpenFileSet(path, PlatformOpenShared); }

void LLCloseAll()
{
  if (LLFileState.Verbose)
    fprintf(stderr, "Closing all files...\r\n");
  // Each handle is marked invalid once closed, so a second LLCloseAll, or an
  // operation on the closed set, never reaches a handle number the system
  // may since have given to another file.
  for (int i = 0; i < LLMaxParts; i++) {
    if (LLFileState.PartHandles[i] != PlatformInvalidFile) {
      PlatformClose(LLFileState.PartHandles[i]);
      LLFileState.PartHandles[i] = PlatformInvalidFile;
    }
  }
  if (LLFileState.DeltaHandle != PlatformInvalidFile) {
    PlatformClose(LLFileState.DeltaHandle);
    LLFileState.DeltaHandle = PlatformInvalidFile;
  }
}

static void TracePosition(uint16_t part, uint64_t offset)
{
  if (LLFileState.Verbose)
    printf("Attempting to set position to Extent %.2x, Offset %.8x:%.8x\n", (unsigned)part,
           (unsigned)(offset >> 32), (unsigned)offset);
}

// Finds the part that holds a large offset and the offset within it. An
// offset at or past the end of the last part gives part == PartCount.
static uint16_t FindPart(uint64_t offset, uint64_t* within)
{
  uint16_t part = 0;
  if (offset >= (uint64_t)LLFileState.PartSizes[0]) {
    for (uint16_t i = 0; i < LLFileState.PartCount; i++) {
      offset -= (uint64_t)LLFileState.PartSizes[i];
      part = (uint16_t)(i + 1);
      // Empty parts are stepped over.
      if (part == LLFileState.PartCount || offset < (uint64_t)LLFileState.PartSizes[part])
        break;
    }
  }
  *within = offset;
  return part;
}

int LLSeekLarge(uint64_t offset, uint16_t* part)
{
  uint64_t within = 0;
  uint16_t found = FindPart(offset, &within);
  if (part != nullptr)
    *part = found;
  TracePosition(found, within);
  if (found >= LLFileState.PartCount)
    return 0;
  return PlatformSeek(LLFileState.PartHandles[found], within);
}

int LLSeekInPart(uint64_t offset, uint16_t part)
{
  TracePosition(part, offset);
  if (part >= LLFileState.PartCount)
    return 0;
  return PlatformSeek(LLFileState.PartHandles[part], offset);
}

// One read from one part's handle; it succeeds only when every byte arrived.
// A range that runs past the end of the part is never continued into the
// next one.
static int ReadWhole(uint16_t part, void* buffer, uint32_t count)
{
  uint32_t got = 0;
  if (!PlatformRead(LLFileState.PartHandles[part], buffer, count, &got))
    return 0;
  return got == count;
}

int LLReadAt(uint64_t offset, void* buffer, uint32_t count)
{
  uint16_t part = 0;
  if (!LLSeekLarge(offset, &part))
    return 0;
  return ReadWhole(part, buffer, count);
}

int LLReadInPart(uint64_t offset, void* buffer, uint32_t count, uint16_t part)
{
  if (!LLSeekInPart(offset, part))
    return 0;
  return ReadWhole(part, buffer, count);
}

int LLReadBlock(uint32_t block, void* buffer, uint32_t count)
{
  return LLReadAt((uint64_t)block * 512, buffer, count);
}

int LLSeekBlock(uint32_t block, uint16_t* part) { return LLSeekLarge((uint64_t)block * 512, part); }

int LLWriteAt(uint64_t offset, const void* buffer, uint32_t count)
{
  uint16_t part = 0;
  if (!LLSeekLarge(offset, &part))
    return 0;
  return PlatformWrite(LLFileState.PartHandles[part], buffer, count);
}

int LLWriteBlock(uint32_t block, const void* buffer, uint32_t count)
{
  return LLWriteAt((uint64_t)block * 512, buffer, count);
}

uint64_t LLPageToOffset(uint32_t page)
{
  uint64_t offset = (uint64_t)page * DiskPageSize();
  if (LLFileState.FileVersion >= 0x0180 && LLFileState.FileVersion <= 0x06FF &&
      offset >= (uint64_t)LLFileState.V6ShiftThreshold)
    offset += V6Displacement;
  return offset;
}

// Whole 512-byte blocks of one part, the low 32 bits of the quotient.
static uint32_t PartBlocks(int part) { return (uint32_t)(LLFileState.PartSizes[part] / 512); }

int LLPageToPart(uint32_t page, int32_t* part, uint32_t* offset)
{
  int32_t found = 0;
  uint32_t within;
  if (LLFileState.FileVersion < 0x0700) {
    // Formats kept in one file.
    within = page * (uint32_t)LLFileState.PageSize;
    if (LLFileState.FileVersion >= 0x0600 && within >= LLFileState.V6ShiftThreshold)
      within += V6Displacement;
  } else {
    uint32_t b = page * (DiskPageSize() / 512);
    // The walk stops at the last opened part: a page at or past the end of
    // the set is reported in the last part, at its block count past the
    // part's start (so the offset may lie beyond that part's end). The part
    // index therefore always names an opened part, and stays below
    // PartCount.
    while (found + 1 < (int32_t)LLFileState.PartCount && b >= PartBlocks(found)) {
      b -= PartBlocks(found);
      found++;
    }
    within = b * 512;
    if (LLFileState.Verbose)
      printf("Calculated Extent %d, Offset %.8X\n", (int)found, (unsigned)within);
  }
  if (part != nullptr)
    *part = found;
  if (offset != nullptr)
    *offset = within;
  return 1;
}

// In both part-to-page conversions a page size of 0 (or one below 512 in the
// block count of 7.0 and later), which only a damaged FCR gives, yields page
// 0 rather than a division by zero.
int LLPartToPage(uint16_t part, uint32_t offset, uint32_t* page)
{
  uint32_t result = 0;
  if (LLFileState.FileVersion < 0x0700) {
    uint32_t o = offset;
    if (LLFileState.FileVersion >= 0x0600 && o >= LLFileState.V6ShiftThreshold)
      o -= V6Displacement;
    if (LLFileState.PageSize != 0)
      result = o / LLFileState.PageSize;
  } else {
    uint32_t blocks = offset / 512;
    // Slots past the 128 parts hold nothing: the sum stops there.
    for (int j = 0; j < (int)part && j < LLMaxParts; j++)
      blocks += PartBlocks(j);
    uint32_t perPage = DiskPageSize() / 512;
    if (perPage != 0)
      result = blocks / perPage;
  }
  if (page != nullptr)
    *page = result;
  return 1;
}

int LLPartToPage64(uint16_t part, uint64_t offset, uint32_t* page)
{
  uint32_t result = 0;
  if (LLFileState.FileVersion < 0x0700)
    return LLPartToPage(part, (uint32_t)offset, page);
  uint64_t blocks = offset / 512;
  for (int j = 0; j < (int)part && j < LLMaxParts; j++)
    blocks += (uint64_t)(LLFileState.PartSizes[j] / 512);
  uint32_t perPage = DiskPageSize() / 512;
  if (perPage != 0)
    result = (uint32_t)(blocks / perPage);
  if (page != nullptr)
    *page = result;
  return 1;
}
