// Control structures: geometry, the file set, FCR pages and PAT pages.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "tools/btbuild/BtBuild.h"

// ---------------------------------------------------------------- geometry

static uint32_t EntriesPerPatPage(uint16_t version, uint32_t pageSize, uint32_t fcrPageSize) {
  if (version < 0x0800) return fcrPageSize / 4 - 2;
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
      default: return 0;
    }
  }
  switch (pageSize) {
    case 1024: return 476;
    case 2048: return 478;
    case 4096: return 956;
    case 8192: return 1596;
    case 16384: return 1598;
    default: return 0;
  }
}

static uint32_t PairPagesFactor(uint32_t pageSize) {
  switch (pageSize) {
    case 1024:
    case 2048: return 480;
    case 4096: return 960;
    case 8192:
    case 16384: return 1600;
    default: return 0;
  }
}

static int FillGeometry(uint16_t version, uint32_t pageSize, int compressed,
                        uint32_t physicalPageSize, BtGeometry* g) {
  std::memset(g, 0, sizeof *g);
  g->Version = version;
  g->PageSize = pageSize;
  g->Compressed = compressed;
  g->PhysicalPageSize = compressed ? physicalPageSize : pageSize;
  if (version < 0x0800) {
    g->FcrPageSize = pageSize;
    g->UsageOffset = 4;
    g->PageHeaderLength = 4;
  } else if (version < 0x0950) {
    g->FcrPageSize = pageSize == 8192 ? 8192 : (2 * pageSize < 2048 ? 2048 : 2 * pageSize);
    g->UsageOffset = 6;
    g->PageHeaderLength = 6;
  } else if (version == 0x0950) {
    g->FcrPageSize = pageSize >= 16384 ? 16384 : (2 * pageSize < 4096 ? 4096 : 2 * pageSize);
    g->UsageOffset = 8;
    g->PageHeaderLength = 8;
  } else {
    g->FcrPageSize = pageSize >= 16384 ? 16384 : 2 * pageSize;
    g->UsageOffset = 8;
    g->PageHeaderLength = 16;
  }
  g->PatIdLength = g->UsageOffset;

  // Data pages (docs/format.md, "Data pages"): the header before the usage
  // word, and the first slot after the usage word.
  if (version < 0x0800) g->DataHeaderLength = 4;
  else if (version < 0x0950) g->DataHeaderLength = 6;
  else g->DataHeaderLength = 8;
  g->RecordBase = g->DataHeaderLength + 2;

  g->V6ShiftThreshold = 0xFFFFFFFFu;
  if (version >= 0x0600 && version <= 0x06FF && pageSize >= 512 && pageSize <= 4096 &&
      pageSize % 512 == 0)
    g->V6ShiftThreshold = pageSize * (15 * pageSize / 2 + 2);

  if (version < 0x0600) return 1;  // no PAT
  if (version < 0x0800) {
    g->PatEntrySize = 4;
    g->PatEntriesStart = PatEntriesV6;
  } else if (version < 0x0950) {
    g->PatEntrySize = 6;
    g->PatEntriesStart = PatEntriesV8;
  } else {
    g->PatEntrySize = 8;
    g->PatEntriesStart = PatEntriesV95;
  }
  g->PatEntriesPerPage = EntriesPerPatPage(version, pageSize, g->FcrPageSize);
  uint32_t room = g->FcrPageSize > g->PatEntriesStart
                      ? (g->FcrPageSize - g->PatEntriesStart) / g->PatEntrySize
                      : 0;
  g->PatEntriesStored = g->PatEntriesPerPage < room ? g->PatEntriesPerPage : room;
  if (version < 0x0950)
    g->PatPairStride = uint64_t(g->PatEntriesPerPage) * pageSize + 2ull * g->FcrPageSize;
  else
    g->PatPairStride = uint64_t(PairPagesFactor(pageSize)) * g->PhysicalPageSize;
  return g->PatEntriesPerPage != 0 && g->PatPairStride != 0;
}

int BtComputeGeometry(uint16_t version, uint32_t pageSize, BtGeometry* g) {
  return FillGeometry(version, pageSize, 0, pageSize, g);
}

int BtComputeGeometryCompressed(uint16_t version, uint32_t pageSize, uint32_t physicalPageSize,
                                BtGeometry* g) {
  return FillGeometry(version, pageSize, 1, physicalPageSize, g);
}

uint64_t BtPatPairOffset(const BtGeometry* g, uint32_t pair) {
  if (pair == 0) return 0;
  uint64_t offset = 2ull * g->FcrPageSize;
  if (g->Version >= 0x0800) offset += 2ull * g->FcrPageSize;
  if (g->Version < 0x0700 && pair > 30) offset += 4096;
  return offset + uint64_t(pair - 1) * g->PatPairStride;
}

uint64_t BtPageOffset(const BtGeometry* g, uint32_t physicalPage) {
  uint64_t offset = uint64_t(physicalPage) * g->PhysicalPageSize;
  // The displacement applies to every version from 0x0180 to 0x06FF, as the
  // reading library applies it; the threshold is set only for 6.x page sizes.
  if (g->Version >= 0x0180 && g->Version <= 0x06FF && offset >= g->V6ShiftThreshold)
    offset += 4096;
  return offset;
}

uint64_t BtPatEntryOffset(const BtGeometry* g, uint32_t pair, int copy, uint32_t index) {
  return BtPatPairOffset(g, pair) + (copy ? g->FcrPageSize : 0) + g->PatEntriesStart +
         uint64_t(index) * g->PatEntrySize;
}

// ---------------------------------------------------------------- file set

void BtInitFileSet(BtFileSet* set, const char* path, uint64_t partSize) {
  std::memset(set, 0, sizeof *set);
  std::snprintf(set->Path, sizeof set->Path, "%s", path);
  set->PartSize = partSize;
}

int BtPartName(const char* path, int part, char* out, size_t outSize) {
  if (part == 0) return std::snprintf(out, outSize, "%s", path) < int(outSize);
  if (part != BtDeltaPart && (part < 1 || part >= BtMaxParts)) return 0;
  const char* dot = std::strrchr(path, '.');
  size_t stem = dot ? size_t(dot - path) : std::strlen(path);
  int n;
  if (part == BtDeltaPart)
    n = std::snprintf(out, outSize, "%.*s.^^^", int(stem), path);
  else
    n = std::snprintf(out, outSize, "%.*s.^%.2x", int(stem), path, part);
  return n >= 0 && size_t(n) < outSize;
}

void BtRemoveFileSet(const char* path) {
  char name[BtMaxPath];
  std::error_code ec;
  for (int part = 0; part < BtMaxParts; ++part)
    if (BtPartName(path, part, name, sizeof name)) std::filesystem::remove(name, ec);
  if (BtPartName(path, BtDeltaPart, name, sizeof name)) std::filesystem::remove(name, ec);
}

static int FileSize(const char* name, uint64_t* size) {
  std::error_code ec;
  uintmax_t s = std::filesystem::file_size(name, ec);
  if (ec) return 0;
  *size = s;
  return 1;
}

// Creates the file when it is missing; grows it (sparse) to at least size.
static int EnsureFile(const char* name, uint64_t size) {
  uint64_t now;
  if (!FileSize(name, &now)) {
    std::ofstream create(name, std::ios::binary | std::ios::trunc);
    if (!create) return 0;
    create.close();
    now = 0;
  }
  if (now < size) {
    std::error_code ec;
    std::filesystem::resize_file(name, size, ec);
    if (ec) return 0;
  }
  return 1;
}

static int WriteInFile(const char* name, uint64_t offset, const void* bytes, size_t count) {
  if (!EnsureFile(name, 0)) return 0;
  std::fstream f(name, std::ios::binary | std::ios::in | std::ios::out);
  if (!f) return 0;
  f.seekp(std::streamoff(offset));
  f.write(static_cast<const char*>(bytes), std::streamsize(count));
  return f.good() ? 1 : 0;
}

int BtWriteInPart(const BtFileSet* set, int part, uint64_t offset, const void* bytes,
                  size_t count) {
  char name[BtMaxPath];
  if (!BtPartName(set->Path, part, name, sizeof name)) return 0;
  return WriteInFile(name, offset, bytes, count);
}

int BtPartsFor(const BtFileSet* set, uint64_t totalSize) {
  if (set->PartSize == 0 || totalSize == 0) return 1;
  uint64_t parts = (totalSize + set->PartSize - 1) / set->PartSize;
  return parts > uint64_t(BtMaxParts) ? BtMaxParts + 1 : int(parts);
}

int BtWriteAt(const BtFileSet* set, uint64_t offset, const void* bytes, size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  if (set->PartSize == 0) return BtWriteInPart(set, 0, offset, bytes, count);
  char name[BtMaxPath];
  while (count > 0) {
    uint64_t part = offset / set->PartSize;
    if (part >= uint64_t(BtMaxParts)) return 0;
    // Every part before this one holds PartSize bytes, so that the logical
    // file continues where the earlier part ends.
    for (uint64_t earlier = 0; earlier < part; ++earlier) {
      if (!BtPartName(set->Path, int(earlier), name, sizeof name)) return 0;
      if (!EnsureFile(name, set->PartSize)) return 0;
    }
    uint64_t within = offset % set->PartSize;
    uint64_t room = set->PartSize - within;
    size_t n = count < room ? count : size_t(room);
    if (!BtWriteInPart(set, int(part), within, p, n)) return 0;
    p += n;
    offset += n;
    count -= n;
  }
  return 1;
}

int BtFillAt(const BtFileSet* set, uint64_t offset, uint8_t value, uint64_t count) {
  std::vector<uint8_t> chunk(size_t(count < (1u << 20) ? count : (1u << 20)), value);
  while (count > 0) {
    size_t n = count < chunk.size() ? size_t(count) : chunk.size();
    if (!BtWriteAt(set, offset, chunk.data(), n)) return 0;
    offset += n;
    count -= n;
  }
  return 1;
}

int BtReadAt(const BtFileSet* set, uint64_t offset, void* bytes, size_t count) {
  uint8_t* p = static_cast<uint8_t*>(bytes);
  char name[BtMaxPath];
  while (count > 0) {
    uint64_t part = set->PartSize ? offset / set->PartSize : 0;
    uint64_t within = set->PartSize ? offset % set->PartSize : offset;
    uint64_t room = set->PartSize ? set->PartSize - within : count;
    size_t n = count < room ? count : size_t(room);
    if (part >= uint64_t(BtMaxParts)) return 0;
    if (!BtPartName(set->Path, int(part), name, sizeof name)) return 0;
    std::ifstream f(name, std::ios::binary);
    if (!f) return 0;
    f.seekg(std::streamoff(within));
    f.read(reinterpret_cast<char*>(p), std::streamsize(n));
    if (!f || size_t(f.gcount()) != n) return 0;
    p += n;
    offset += n;
    count -= n;
  }
  return 1;
}

int BtResizePart(const BtFileSet* set, int part, uint64_t size) {
  char name[BtMaxPath];
  if (!BtPartName(set->Path, part, name, sizeof name)) return 0;
  if (!EnsureFile(name, 0)) return 0;
  std::error_code ec;
  std::filesystem::resize_file(name, size, ec);
  return ec ? 0 : 1;
}

int BtSetSize(const BtFileSet* set, uint64_t totalSize) {
  int parts = BtPartsFor(set, totalSize);
  if (parts > BtMaxParts) return 0;
  for (int part = 0; part < parts; ++part) {
    uint64_t size = totalSize;
    if (set->PartSize) {
      uint64_t start = uint64_t(part) * set->PartSize;
      size = totalSize - start < set->PartSize ? totalSize - start : set->PartSize;
    }
    if (!BtResizePart(set, part, size)) return 0;
  }
  char name[BtMaxPath];
  std::error_code ec;
  for (int part = parts; part < BtMaxParts; ++part)
    if (BtPartName(set->Path, part, name, sizeof name)) std::filesystem::remove(name, ec);
  return 1;
}

int BtWritePageBytes(const BtFileSet* set, const BtGeometry* g, uint32_t physicalPage,
                     uint32_t offsetInPage, const void* bytes, size_t count) {
  return BtWriteAt(set, BtPageOffset(g, physicalPage) + offsetInPage, bytes, count);
}

// ---------------------------------------------------------------- FCR

int BtBitsForSlots(uint32_t slots) {
  int bits = 1;
  while (bits < 31 && (1u << bits) < slots) ++bits;
  return bits;
}

void BtDefaultFcr(BtFcrSpec* fcr, uint16_t version, uint32_t pageSize) {
  std::memset(fcr, 0, sizeof *fcr);
  fcr->Version = version;
  fcr->VersionWord = -1;
  fcr->Signature = BtSignatureDefault;
  fcr->PageSize = pageSize;
  fcr->PageSizeByte = -1;
  fcr->UsageCount = 1;
  fcr->RecordLength = 14;
  fcr->PhysRecLen = version >= 0x0600 ? 16 : 14;
  fcr->FreeSlotChain = 0xFFFFFFFFu;
  fcr->BitsInRecordId = -1;
  if (version >= 0x0800) {
    BtGeometry g;
    BtComputeGeometry(version, pageSize, &g);
    uint32_t slots = pageSize > g.RecordBase ? (pageSize - g.RecordBase) / fcr->PhysRecLen : 1;
    fcr->BitsInRecordId = BtBitsForSlots(slots);
  }
}

int BtKeyCount(const BtFcrSpec* fcr) {
  if (fcr->SegmentCount <= 0 || fcr->SegmentCount > BtMaxSegments) return 0;
  int keys = 0;
  for (int i = 0; i < fcr->SegmentCount && i < BtMaxSegments; ++i)
    if (!(fcr->Segments[i].Flags & 0x0010)) ++keys;
  // A last segment that still says "another follows" ends its key all the same.
  if (fcr->SegmentCount > 0 && (fcr->Segments[fcr->SegmentCount - 1].Flags & 0x0010)) ++keys;
  return keys;
}

// Where the key segment specs of a version start (docs/format.md, "Keys").
static uint32_t KeySpecsStart(uint16_t version) {
  return version >= 0x0800 ? FcrKeySpecsNew : FcrKeySpecsOld;
}

static void PutSegment(uint8_t* p, const BtKeySegment* s, uint16_t version) {
  // Root page of the key's index: none in builder files.
  PutLE32(p + KeySpecRootPage, 0xFFFFFFFFu);
  PutLE16(p + KeySpecFlags, s->Flags);
  // From 6.00 a slot starts with its 2-byte usage count, and the stored
  // position counts from the start of the slot.
  uint16_t stored = uint16_t(version >= 0x0600 ? s->Position + 2 : s->Position);
  PutLE16(p + KeySpecPosition, stored);
  PutLE16(p + KeySpecLengthField, s->Length);
  p[KeySpecType] = s->Type;
  p[KeySpecNullValue] = s->NullValue;
}

int BtFillFcrPage(uint8_t* page, uint32_t pageBytes, const BtFcrSpec* fcr) {
  if (pageBytes < 512 || fcr->SegmentCount < 0 || fcr->SegmentCount > BtMaxSegments) return 0;
  std::memset(page, 0, pageBytes);
  uint16_t v = fcr->Version;
  uint16_t word = fcr->VersionWord < 0 ? v : uint16_t(fcr->VersionWord);
  int signature = fcr->Signature;
  if (signature == BtSignatureDefault) signature = v >= 0x0600 ? BtSignatureFc : BtSignatureZero;
  if (signature == BtSignatureFc) {
    page[0] = 'F';
    page[1] = 'C';
    PutLE16(page + FcrVersionWordFc, word);
  } else {
    PutLE16(page + FcrVersionWordZero, word);
  }
  // Usage count by version; below 6.00 only its low 16 bits fit before the
  // version word of the zero form.
  if (v < 0x0600) {
    if (signature == BtSignatureFc) PutLE32(page + FcrUsageCountV6, fcr->UsageCount);
    else PutLE16(page + FcrUsageCountV6, uint16_t(fcr->UsageCount));
  } else if (v < 0x0800) {
    PutLE32(page + FcrUsageCountV6, fcr->UsageCount);
  } else if (v < 0x0950) {
    PutLE32(page + FcrUsageCountV8, fcr->UsageCount);
  } else {
    PutLE32(page + FcrUsageCountV95, fcr->UsageCount);
  }
  uint8_t sizeByte = fcr->PageSizeByte < 0 ? uint8_t(fcr->PageSize / 256) : uint8_t(fcr->PageSizeByte);
  page[v >= 0x0800 ? FcrPageSizeByteNew : FcrPageSizeByteOld] = sizeByte;

  int keys = BtKeyCount(fcr);
  PutLE16(page + FcrKeyCount, uint16_t(keys));
  PutLE16(page + FcrRecordLength, fcr->RecordLength);
  PutLE16(page + FcrPhysRecLen, fcr->PhysRecLen);
  PutHighWordFirst32(page + FcrRecordCount, fcr->RecordCount);
  if (v <= 0x0950) PutHighWordFirst32(page + FcrPageCount, fcr->PageCount);
  else PutLE32(page + FcrPageCount, fcr->PageCount);
  if (v < 0x0600) {
    PutHighWordFirst32(page + FcrFreeSlotChain, fcr->FreeSlotChain);
    PutLE16(page + FcrFillingPage, fcr->FillingPage);
    PutLE16(page + FcrFillingUnused, fcr->FillingUnused);
  }
  if (v < 0x0700) page[FcrVariableByte] = fcr->VariableByte;
  if (v >= 0x0600 && v < 0x0700) PutLE16(page + FcrDupPointerOffset, fcr->DupPointerOffset);
  PutLE16(page + FcrFileFlags, fcr->FileFlags);

  // Misc data pointers.
  if (v < 0x0800) {
    page[FcrMiscRecordOld] = uint8_t(fcr->MiscRecord);
    page[FcrMiscPageOld] = uint8_t(fcr->MiscPage);
    page[FcrMiscPageOld + 1] = uint8_t(fcr->MiscPage >> 8);
    page[FcrMiscPageOld + 2] = uint8_t(fcr->MiscPage >> 16);
  } else {
    PutLE32(page + FcrMiscPage, fcr->MiscPage);
    PutLE16(page + FcrMiscRecord, fcr->MiscRecord);
  }
  if (v >= 0x0950) {
    PutLE32(page + FcrUserMiscPage, fcr->UserMiscPage);
    PutLE16(page + FcrUserMiscRecord, fcr->UserMiscRecord);
  }
  if (v >= 0x0950 && fcr->Compressed) {
    PutLE16(page + FcrPhysicalPageSize, fcr->PhysicalPageSize);
    int flags = v == 0x0950 ? FcrFlagsV95 : FcrFlagsV13;
    PutLE16(page + flags, uint16_t(GetLE16(page + flags) | FcrFlagPageCompressed));
  }
  if (v >= 0x0800 && fcr->BitsInRecordId >= 0)
    page[v >= 0x0D00 ? FcrBitsInRecordIdV13 : FcrBitsInRecordIdV8] = uint8_t(fcr->BitsInRecordId);

  // Key segment specs, one after another; from 6.00 also the key address
  // table, one 16-bit offset per key pointing at the key's first segment.
  uint32_t start = KeySpecsStart(v);
  uint32_t end = start + uint32_t(fcr->SegmentCount) * KeySpecLength;
  uint32_t table = 0;
  if (v >= 0x0600) {
    // Real 6.00 files with 4096-byte pages keep the table 240 bytes before the
    // end of the FCR page; where that would overlap the specs it follows them.
    table = pageBytes >= 240 ? pageBytes - KeyTableFromEnd : 0;
    if (table < end) table = (end + 15) & ~15u;
    if (table + 2u * uint32_t(keys) > pageBytes) return 0;
    PutLE16(page + FcrKeyAddressTable, uint16_t(table));
  }
  if (end > pageBytes) return 0;
  int key = 0;
  bool keyStarts = true;
  for (int i = 0; i < fcr->SegmentCount; ++i) {
    uint32_t at = start + uint32_t(i) * KeySpecLength;
    if (keyStarts && v >= 0x0600) PutLE16(page + table + 2 * key, uint16_t(at));
    PutSegment(page + at, &fcr->Segments[i], v);
    keyStarts = !(fcr->Segments[i].Flags & 0x0010);
    if (keyStarts) ++key;
  }
  return 1;
}

static uint32_t FcrPageBytes(const BtFcrSpec* fcr) {
  BtGeometry g;
  BtComputeGeometry(fcr->Version, fcr->PageSize, &g);
  return g.FcrPageSize;
}

int BtWriteFcrPage(const BtFileSet* set, const BtFcrSpec* fcr, int copy) {
  uint32_t bytes = FcrPageBytes(fcr);
  if (bytes == 0 || bytes > uint32_t(BtMaxPageBytes)) return 0;
  std::vector<uint8_t> page(bytes);
  if (!BtFillFcrPage(page.data(), bytes, fcr)) return 0;
  return BtWriteAt(set, copy ? bytes : 0, page.data(), bytes);
}

int BtWriteFcrPair(const BtFileSet* set, const BtFcrSpec* fcr, uint32_t usage0, uint32_t usage1) {
  BtFcrSpec copy = *fcr;
  copy.UsageCount = usage0;
  if (!BtWriteFcrPage(set, &copy, 0)) return 0;
  copy.UsageCount = usage1;
  return BtWriteFcrPage(set, &copy, 1);
}

// ---------------------------------------------------------------- PAT

void BtEncodePatEntry(const BtGeometry* g, uint8_t* p, const BtPatEntry* e) {
  if (g->Version < 0x0800) {
    // 32-bit value: page in the low 24 bits, type in the top 8; stored high
    // word first.
    uint32_t value = (e->Page & 0x00FFFFFFu) | (uint32_t(e->Extra & 0xFF) << 24);
    PutHighWordFirst32(p, value);
  } else {
    PutLE32(p, e->Page);
    PutLE16(p + 4, e->Extra);
    if (g->Version >= 0x0950) PutLE16(p + 6, e->Span);
  }
}

void BtPatPageId(const BtGeometry* g, uint32_t pair, uint8_t* out) {
  std::memset(out, 0, g->PatIdLength);
  out[0] = 'P';
  out[1] = 'P';
  if (g->PatIdLength == 4) PutLE16(out + 2, uint16_t(pair));
  else PutLE32(out + 2, pair);
}

void BtFillPatPage(const BtGeometry* g, uint8_t* page, uint32_t pair, uint32_t usage,
                   const BtPatEntry* entries, uint32_t count) {
  std::memset(page, 0, g->FcrPageSize);
  BtPatPageId(g, pair, page);
  PutLE32(page + g->UsageOffset, usage);
  if (count > g->PatEntriesStored) count = g->PatEntriesStored;
  for (uint32_t i = 0; i < count; ++i)
    BtEncodePatEntry(g, page + g->PatEntriesStart + i * g->PatEntrySize, &entries[i]);
}

int BtWritePatPage(const BtFileSet* set, const BtGeometry* g, uint32_t pair, int copy,
                   uint32_t usage, const BtPatEntry* entries, uint32_t count) {
  if (g->PatEntrySize == 0 || g->FcrPageSize == 0) return 0;
  std::vector<uint8_t> page(g->FcrPageSize);
  BtFillPatPage(g, page.data(), pair, usage, entries, count);
  uint64_t offset = BtPatPairOffset(g, pair) + (copy ? g->FcrPageSize : 0);
  return BtWriteAt(set, offset, page.data(), page.size());
}

int BtWritePatPair(const BtFileSet* set, const BtGeometry* g, uint32_t pair, uint32_t usage0,
                   uint32_t usage1, const BtPatEntry* entries, uint32_t count) {
  if (!BtWritePatPage(set, g, pair, 0, usage0, entries, count)) return 0;
  return BtWritePatPage(set, g, pair, 1, usage1, entries, count);
}
