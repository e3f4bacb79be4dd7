// The engine's own access to a data file set: the base file and its
// extension parts as one logical byte space, the FCR and the geometry it
// implies, page readers that fetch runs of pages in one system call, and the
// translation of logical pages through the page allocation table.
#include <cstdio>
#include <cstring>
#include <new>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "StandInEngine/EngineState.h"
#include "StandInEngine/StandInEngine.h"

// Bytes a sequential walk reads per system call, and the reader used for
// scattered pages (variable parts, the free-slot chain, records fetched in
// key order).
static const uint32_t DataReaderBytes = 1024 * 1024;
static const uint32_t AuxReaderBytes = 64 * 1024;
// The 6.x displacement of pages from the threshold on.
static const uint64_t V6Displacement = 4096;

// ---------------------------------------------------------------- file set

// Reads count bytes at a logical offset, across parts when the range spans
// them. 1 only when every byte arrived.
static int ReadAt(EngineFile* file, uint64_t offset, uint8_t* buffer, uint32_t count)
{
  while (count > 0) {
    if (offset >= file->TotalSize)
      return 0;
    int part = 0;
    while (part + 1 < file->PartCount && offset >= file->PartStart[part + 1])
      part++;
    uint64_t inPart = offset - file->PartStart[part];
    uint64_t left = file->PartStart[part + 1] - offset;
    uint32_t piece = left < count ? (uint32_t)left : count;
    uint32_t got = 0;
    if (!PlatformSeek(file->Parts[part], inPart) ||
        !PlatformRead(file->Parts[part], buffer, piece, &got) || got != piece)
      return 0;
    offset += piece;
    buffer += piece;
    count -= piece;
  }
  return 1;
}

// The name of extension part n: the path cut at its last '.', then ".^nn".
static void PartName(const char* path, int n, char* name, size_t size)
{
  snprintf(name, size, "%s", path);
  char* dot = strrchr(name, '.');
  if (dot != nullptr)
    *dot = 0;
  size_t used = strlen(name);
  snprintf(name + used, size - used, ".^%.2x", (unsigned)n);
}

static int OpenParts(EngineFile* file, const char* path)
{
  file->PartCount = 0;
  file->PartStart[0] = 0;
  char name[1100];
  for (int n = 0; n < EngineMaxParts; n++) {
    if (n == 0)
      snprintf(name, sizeof name, "%s", path);
    else
      PartName(path, n, name, sizeof name);
    // Shared open: the tool's own exclusive open after the engine has closed
    // the file must not be refused, and nothing here writes.
    PlatformFile handle = PlatformOpenFile(name, PlatformOpenShared);
    if (handle == PlatformInvalidFile)
      break;
    int64_t size = 0;
    if (!PlatformSeekEnd(handle, &size) || size < 0)
      size = 0;
    file->Parts[n] = handle;
    file->PartStart[n + 1] = file->PartStart[n] + (uint64_t)size;
    file->PartCount = n + 1;
  }
  file->TotalSize = file->PartStart[file->PartCount];
  return file->PartCount;
}

// ---------------------------------------------------------------- geometry

static int LayoutOfVersion(uint16_t version)
{
  if (version >= 0x0300 && version < 0x0600)
    return LayoutOld;
  if (version >= 0x0600 && version < 0x0700)
    return LayoutV6;
  switch (version) {
  case 0x0700: return LayoutV7;
  case 0x0800:
  case 0x0900: return LayoutV8;
  case 0x0950:
  case 0x0D00:
  case 0x0D30: return LayoutV95;
  default: return -1;
  }
}

// Entries per PAT page and the distance between pairs, as the file's
// writer lays them out.
static void PatGeometry(EngineFile* file)
{
  uint32_t ps = file->PageSize;
  uint32_t entries = 0;
  if (file->Version < 0x0800) {
    entries = file->FcrPageSize / 4 - 2;
  } else if (file->Version < 0x0950) {
    switch (ps) {
    case 512: entries = 312; break;
    case 1024: entries = 316; break;
    case 1536: entries = 476; break;
    case 2048: entries = 636; break;
    case 2560: entries = 796; break;
    case 3072: entries = 956; break;
    case 3584: entries = 1116; break;
    case 4096: entries = 1276; break;
    case 8192: entries = 1278; break;
    default: entries = 0; break;
    }
  } else {
    switch (ps) {
    case 1024: entries = 476; break;
    case 2048: entries = 478; break;
    case 4096: entries = 956; break;
    case 8192: entries = 1596; break;
    case 16384: entries = 1598; break;
    default: entries = 0; break;
    }
  }
  file->PatEntriesPerPage = entries;
  if (file->Version < 0x0950) {
    file->PatPairStride = (uint64_t)entries * ps + 2ull * file->FcrPageSize;
  } else {
    uint64_t k = 0;
    if (ps == 1024 || ps == 2048)
      k = 480;
    else if (ps == 4096)
      k = 960;
    else if (ps == 8192 || ps == 16384)
      k = 1600;
    file->PatPairStride = k * ps;
  }
}

static uint32_t FcrPageSizeOf(uint16_t version, uint32_t ps)
{
  if (version < 0x0800)
    return ps;
  if (version < 0x0950) {
    if (ps == 8192)
      return 8192;
    return 2 * ps < 2048 ? 2048 : 2 * ps;
  }
  if (ps >= 16384)
    return 16384;
  if (version == 0x0950)
    return 2 * ps < 4096 ? 4096 : 2 * ps;
  return 2 * ps;
}

static int LoadFcr(EngineFile* file)
{
  uint8_t head[512];
  if (!ReadAt(file, 0, head, sizeof head))
    return StatusNotBtrieveFile;
  uint16_t word;
  if (GetLE32(head + FcrSignature) == 0)
    word = GetLE16(head + FcrVersionWordZero);
  else if (head[0] == 'F' || head[1] == 'C')
    word = GetLE16(head + FcrVersionWordFc);
  else
    return StatusNotBtrieveFile;
  // A word above 0x8000 is the negated version (files with an owner name).
  file->Version = word > 0x8000 ? (uint16_t)(0x10000 - word) : word;
  file->Layout = LayoutOfVersion(file->Version);
  if (file->Layout < 0)
    return StatusNotBtrieveFile;

  uint32_t sizeByte =
      file->Version < 0x0800 ? head[FcrPageSizeByteOld] : head[FcrPageSizeByteNew];
  file->PageSize = sizeByte * 256;
  if (file->PageSize < 512)
    return StatusNotBtrieveFile;
  file->FcrPageSize = FcrPageSizeOf(file->Version, file->PageSize);
  file->UsageOffset = file->Version < 0x0800 ? FcrUsageCountV6
                      : file->Version < 0x0950 ? FcrUsageCountV8
                                               : FcrUsageCountV95;

  std::vector<uint8_t> first(file->FcrPageSize);
  if (!ReadAt(file, 0, first.data(), file->FcrPageSize))
    return StatusNotBtrieveFile;
  file->Fcr.swap(first);
  if (file->Version >= 0x0600) {
    std::vector<uint8_t> second(file->FcrPageSize);
    if (!ReadAt(file, file->FcrPageSize, second.data(), file->FcrPageSize))
      return StatusNotBtrieveFile;
    // The copy with the larger usage count is current; the first on a tie.
    if (GetLE32(second.data() + file->UsageOffset) > GetLE32(file->Fcr.data() + file->UsageOffset))
      file->Fcr.swap(second);
  }
  const uint8_t* fcr = file->Fcr.data();

  switch (file->Layout) {
  case LayoutOld: file->RecordBase = 6; file->SlotPrefix = 0; break;
  case LayoutV6:
  case LayoutV7: file->RecordBase = 6; file->SlotPrefix = 2; break;
  case LayoutV8: file->RecordBase = 8; file->SlotPrefix = 2; break;
  default: file->RecordBase = 10; file->SlotPrefix = 2; break;
  }

  file->PageCount = file->Version <= 0x0950 ? GetHighWordFirst32(fcr + FcrPageCount)
                                            : GetLE32(fcr + FcrPageCount);
  if (file->Version >= 0x0950) {
    uint16_t flags = GetLE16(fcr + (file->Version == 0x0950 ? FcrFlagsV95 : FcrFlagsV13));
    // Compressed pages are not laid out in slots; the engine cannot read them.
    if (flags & FcrFlagPageCompressed)
      return StatusNotBtrieveFile;
  }
  if (file->Layout == LayoutV8 || file->Layout == LayoutV95) {
    int at = file->Version >= 0x0D00 ? FcrBitsInRecordIdV13 : FcrBitsInRecordIdV8;
    file->BitsInRecordId = fcr[at];
    // A width of 0 or 32 and more cannot split a 32-bit position.
    if (file->BitsInRecordId == 0 || file->BitsInRecordId > 31)
      return StatusNotBtrieveFile;
  } else {
    file->BitsInRecordId = file->Layout == LayoutV7 ? 8 : 0;
  }

  uint16_t fileFlags = GetLE16(fcr + FcrFileFlags);
  uint8_t variableByte = fcr[FcrVariableByte];
  file->Variable = (fileFlags & FileFlagVariable) || variableByte == VariableByteVariable ||
                   variableByte == VariableByteTruncated;
  file->BlankTruncation =
      file->Variable && ((fileFlags & FileFlagBlankTruncation) || variableByte == VariableByteTruncated);

  file->RecordLength = GetLE16(fcr + FcrRecordLength);
  file->PhysRecLen = GetLE16(fcr + FcrPhysRecLen);
  uint32_t needed = file->SlotPrefix + file->RecordLength +
                    (file->Variable ? 4u + (file->BlankTruncation ? 2u : 0u) : 0u);
  if (file->RecordLength == 0 || file->PhysRecLen < needed ||
      file->RecordBase + file->PhysRecLen > file->PageSize)
    return StatusNotBtrieveFile;
  file->SlotsPerPage = (file->PageSize - file->RecordBase) / file->PhysRecLen;
  // From 7.00 a position holds the slot number in its low BitsInRecordId
  // bits (8 for 7.00): a page has no more slots than those bits can number,
  // or two records would share one position.
  if (file->BitsInRecordId != 0 && file->SlotsPerPage > (1u << file->BitsInRecordId))
    file->SlotsPerPage = 1u << file->BitsInRecordId;

  file->FirstWalkPage = 1;
  if (file->Layout == LayoutOld) {
    file->FillingPage = GetLE16(fcr + FcrFillingPage);
    uint32_t unused = GetLE16(fcr + FcrFillingUnused);
    uint32_t room = file->PageSize - file->RecordBase;
    file->FillingSlots = unused >= room ? 0 : (room - unused) / file->PhysRecLen;
    if (file->FillingSlots > file->SlotsPerPage)
      file->FillingSlots = file->SlotsPerPage;
    // Every page the FCR counts, and the page being filled even if the count
    // stops short of it.
    uint32_t last = file->PageCount == 0 ? 0 : file->PageCount - 1;
    file->LastWalkPage = last > file->FillingPage ? last : file->FillingPage;
  } else {
    // The page count includes logical page 0, the FCR pair, so the last page
    // in use is the count - 1. The walk looks at the count itself as well,
    // should a writer have counted from 1: a data page there is read, a PAT
    // pair that does not reach it is no damage.
    file->LastWalkPage = file->PageCount;
  }

  file->ShiftThreshold = EngineNoOffset;
  if (file->Layout == LayoutV6 && file->PageSize <= 4096 && file->PageSize % 512 == 0)
    file->ShiftThreshold = (uint64_t)file->PageSize * (15 * file->PageSize / 2 + 2);
  if (file->Layout != LayoutOld) {
    PatGeometry(file);
    // A page size the page allocation tables have no layout for: no page
    // of the file can be found.
    if (file->PatEntriesPerPage == 0 || file->PatPairStride == 0)
      return StatusNotBtrieveFile;
    file->PatPages.assign(2 * (size_t)file->FcrPageSize, 0);
  }
  file->KeyCount = GetLE16(fcr + FcrKeyCount);
  return StatusSuccess;
}

static int MakeReader(PageReader* reader, uint32_t bytes, uint32_t pageSize)
{
  uint32_t pages = bytes / pageSize;
  if (pages < 2)
    pages = 2;
  reader->Capacity = pages * pageSize;
  reader->Buffer = new (std::nothrow) uint8_t[reader->Capacity];
  reader->First = 0;
  reader->Count = 0;
  return reader->Buffer != nullptr;
}

int EngineOpenFile(EngineFile* file, const char* path)
{
  if (OpenParts(file, path) == 0)
    return StatusFileNotFound;
  int status = LoadFcr(file);
  if (status == StatusSuccess)
    status = EngineLoadKeySpecs(file);
  if (status == StatusSuccess &&
      (!MakeReader(&file->DataReader, DataReaderBytes, file->PageSize) ||
       !MakeReader(&file->AuxReader, AuxReaderBytes, file->PageSize)))
    status = StatusNotBtrieveFile;
  return status;
}

void EngineCloseFile(EngineFile* file)
{
  for (int n = 0; n < file->PartCount; n++)
    PlatformClose(file->Parts[n]);
  file->PartCount = 0;
  delete[] file->DataReader.Buffer;
  delete[] file->AuxReader.Buffer;
}

// ---------------------------------------------------------------- pages

uint64_t EnginePageOffset(const EngineFile* file, uint32_t physicalPage)
{
  uint64_t offset = (uint64_t)physicalPage * file->PageSize;
  if (offset >= file->ShiftThreshold)
    offset += V6Displacement;
  return offset;
}

const uint8_t* EngineReadPage(EngineFile* file, PageReader* reader, uint32_t page, int backward)
{
  uint32_t ps = file->PageSize;
  if (reader->Count != 0 && page >= reader->First && page - reader->First < reader->Count)
    return reader->Buffer + (size_t)(page - reader->First) * ps;

  uint64_t offset = EnginePageOffset(file, page);
  if (offset >= file->TotalSize || file->TotalSize - offset < ps)
    return nullptr;
  int part = 0;
  while (part + 1 < file->PartCount && offset >= file->PartStart[part + 1])
    part++;
  uint64_t inPart = offset - file->PartStart[part];
  uint64_t partSize = file->PartStart[part + 1] - file->PartStart[part];
  if (inPart + ps > partSize) {
    // The page spans two parts: assemble it alone at the reader's start.
    reader->Count = 0;
    if (file->DataReader.Buffer == reader->Buffer) {
      file->CachedPage = EngineNoPage;
      file->CachedData = nullptr;
    }
    if (!ReadAt(file, offset, reader->Buffer, ps))
      return nullptr;
    reader->First = page;
    reader->Count = 1;
    return reader->Buffer;
  }

  // The run: as many pages as fit, all in this part and on one side of the
  // 6.x displacement threshold, so that they lie end to end.
  uint64_t most = reader->Capacity / ps;
  uint32_t first = page;
  uint64_t count;
  uint64_t shiftPage = file->ShiftThreshold == EngineNoOffset ? 0 : file->ShiftThreshold / ps;
  if (!backward) {
    count = (partSize - inPart) / ps;
    if (file->ShiftThreshold != EngineNoOffset && page < shiftPage && shiftPage - page < count)
      count = shiftPage - page;
  } else {
    count = inPart / ps + 1;
    if (count > (uint64_t)page + 1)
      count = (uint64_t)page + 1;
    if (file->ShiftThreshold != EngineNoOffset && page >= shiftPage && page - shiftPage + 1 < count)
      count = page - shiftPage + 1;
  }
  if (count > most)
    count = most;
  // A page far from the run held now is a jump (records fetched in key
  // order): read that page alone rather than a run that may not be used.
  int continues = reader->Count == 0 || page == reader->First + reader->Count ||
                  (uint64_t)page + 1 == reader->First;
  if (!continues && reader != &file->DataReader)
    count = 1;
  if (count == 0)
    count = 1;
  if (backward)
    first = page - (uint32_t)(count - 1);
  uint64_t start = inPart - (uint64_t)(page - first) * ps;
  uint32_t got = 0;
  reader->Count = 0;
  if (file->DataReader.Buffer == reader->Buffer) {
    file->CachedPage = EngineNoPage;
    file->CachedData = nullptr;
  }
  if (!PlatformSeek(file->Parts[part], start))
    return nullptr;
  if (!PlatformRead(file->Parts[part], reader->Buffer, (uint32_t)(count * ps), &got))
    got = 0;
  reader->First = first;
  reader->Count = got / ps;
  if (page - first >= reader->Count)
    return nullptr;
  return reader->Buffer + (size_t)(page - first) * ps;
}

// ---------------------------------------------------------------- PAT

static uint64_t PatPairOffset(const EngineFile* file, uint32_t pair)
{
  uint64_t offset = 2ull * file->FcrPageSize;
  if (file->Version >= 0x0800)
    offset += 2ull * file->FcrPageSize;
  if (file->Version < 0x0700 && pair > 30)
    offset += V6Displacement;
  return offset + (uint64_t)(pair - 1) * file->PatPairStride;
}

int EngineMapPage(EngineFile* file, uint32_t logicalPage, uint32_t* physicalPage,
                  uint8_t* pageType)
{
  uint32_t entries = file->PatEntriesPerPage;
  if (entries == 0 || logicalPage == 0)
    return StatusDamaged;
  uint32_t pair = (logicalPage - 1) / entries + 1;
  uint32_t index = (logicalPage - 1) % entries;
  uint32_t fps = file->FcrPageSize;
  if (!file->PairLoaded || file->LoadedPair != pair) {
    file->PairLoaded = 0;
    if (!ReadAt(file, PatPairOffset(file, pair), file->PatPages.data(), 2 * fps))
      return StatusDamaged;
    uint32_t u0 = GetLE32(file->PatPages.data() + file->UsageOffset);
    uint32_t u1 = GetLE32(file->PatPages.data() + fps + file->UsageOffset);
    // The second copy wins a tie.
    file->CurrentPat = u1 >= u0 ? 1 : 0;
    file->LoadedPair = pair;
    file->PairLoaded = 1;
  }
  const uint8_t* pat = file->PatPages.data() + (size_t)file->CurrentPat * fps;
  if (file->Version < 0x0800) {
    uint64_t at = PatEntriesV6 + 4ull * index;
    if (at + 4 > fps)
      return StatusDamaged;
    uint32_t value = GetHighWordFirst32(pat + at);
    *physicalPage = value & 0x00FFFFFF;
    *pageType = (uint8_t)(value >> 24);
  } else if (file->Version < 0x0950) {
    uint64_t at = PatEntriesV8 + 6ull * index;
    if (at + 6 > fps)
      return StatusDamaged;
    *physicalPage = GetLE32(pat + at);
    *pageType = (uint8_t)GetLE16(pat + at + 4);
  } else {
    uint64_t at = PatEntriesV95 + 8ull * index;
    if (at + 8 > fps)
      return StatusDamaged;
    *physicalPage = GetLE32(pat + at);
    *pageType = (uint8_t)GetLE16(pat + at + 4);
  }
  return StatusSuccess;
}
