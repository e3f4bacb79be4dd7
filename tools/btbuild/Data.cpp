// Data files: records laid out in pages as an engine writes them for each
// version (docs/format.md, sections 1 and 7 to 11), and injected damage.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "tools/btbuild/BtBuild.h"

static const uint16_t UsageWordData = 0x8001;
static const uint16_t UsageWordOther = 0x0001;
static const uint8_t TypeData = 'D';
static const uint8_t TypeVariable = 'V';
static const uint8_t TypeIndex = 0x80;
static const uint32_t NoLink = 0xFFFFFFFFu;
static const uint32_t VariableHeaderEnd = 12;  // header, usage word, FFFFFFFF, count
static const size_t ChunkBytes = 8u << 20;

void BtDefaultDataSpec(BtDataSpec* spec, uint16_t version, uint32_t pageSize) {
  std::memset(spec, 0, sizeof *spec);
  spec->Version = version;
  spec->VersionWord = -1;
  spec->PageSize = pageSize;
  spec->Records = 10;
  spec->RecordLength = 32;
  spec->SegmentCount = 1;
  spec->Segments[0].Position = 0;
  spec->Segments[0].Length = 4;
  spec->Segments[0].Type = 1;
  spec->IndexPages = 1;
  spec->BitsInRecordId = -1;
  spec->CurrentCopy = 1;
}

uint16_t BtParseVersion(const char* text) {
  static const struct {
    const char* Name;
    uint16_t Version;
  } names[] = {{"3.00", 0x0300}, {"4.00", 0x0400}, {"5.00", 0x0500},  {"6.00", 0x0600},
               {"6.10", 0x0610}, {"7.00", 0x0700}, {"8.00", 0x0800},  {"9.00", 0x0900},
               {"9.50", 0x0950}, {"13.00", 0x0D00}, {"v16", 0x0D30}, {"16", 0x0D30}};
  for (const auto& n : names)
    if (std::strcmp(text, n.Name) == 0) return n.Version;
  // Any other "M.mm" (minor as two hex digits, as versions are printed) or a
  // raw word "0xMMmm".
  unsigned major = 0, minor = 0;
  char tail = 0;
  if (std::sscanf(text, "0x%x%c", &major, &tail) == 1 && major <= 0xFFFF) return uint16_t(major);
  const char* dot = std::strchr(text, '.');
  if (dot && std::strlen(dot + 1) == 2 && std::isxdigit((unsigned char)dot[1]) &&
      std::isxdigit((unsigned char)dot[2]) &&
      std::sscanf(text, "%u.%2x%c", &major, &minor, &tail) == 2 && major < 256)
    return uint16_t(major << 8 | minor);
  return 0;
}

// ---------------------------------------------------------------- contents

static uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

uint32_t BtKeyValue(const BtDataSpec* spec, uint32_t record) {
  uint32_t v = record;
  uint32_t n = spec->Records;
  if (spec->ShuffleKeys && n > 2) {
    // A fixed permutation: v = (i * m + n / 3) mod n, m odd and prime to n.
    uint32_t m = uint32_t(uint64_t(n) * 618 / 1000) | 1u;
    while (Gcd(m, n) != 1) m += 2;
    v = uint32_t((uint64_t(record) * m + n / 3) % n);
  }
  if (spec->DuplicatesPer > 1) v /= spec->DuplicatesPer;
  return v;
}

static void PutKeyField(uint8_t* p, uint32_t length, uint8_t type, uint32_t v) {
  if (length == 0) return;
  if (type == 0 || type == 10 || type == 11) {
    // Decimal digits, zero-padded; zstring ends in a zero byte, lstring
    // starts with its length.
    uint32_t digits = length;
    uint8_t* d = p;
    if (type == 11) {
      digits = length - 1;
      p[length - 1] = 0;
    } else if (type == 10) {
      digits = length - 1;
      p[0] = uint8_t(digits);
      d = p + 1;
    }
    uint32_t rest = v;
    for (uint32_t k = digits; k > 0; --k) {
      d[k - 1] = uint8_t('0' + rest % 10);
      rest /= 10;
    }
  } else if (type == 1 || type == 14 || type == 15) {
    for (uint32_t k = 0; k < length; ++k) p[k] = k < 4 ? uint8_t(v >> (8 * k)) : 0;
  } else {
    // Other types: big-endian, so that the bytes sort as the numbers do.
    for (uint32_t k = 0; k < length; ++k) {
      uint32_t shift = 8 * (length - 1 - k);
      p[k] = shift < 32 ? uint8_t(v >> shift) : 0;
    }
  }
}

void BtRecordBytes(const BtDataSpec* spec, uint32_t record, uint8_t* out) {
  for (uint32_t j = 0; j < spec->RecordLength; ++j) out[j] = uint8_t(record * 7 + j);
  uint32_t v = BtKeyValue(spec, record);
  for (int s = 0; s < spec->SegmentCount; ++s) {
    const BtKeySegment& seg = spec->Segments[s];
    if (uint32_t(seg.Position) + seg.Length <= spec->RecordLength)
      PutKeyField(out + seg.Position, seg.Length, seg.Type, v);
  }
}

void BtVariableBytes(const BtDataSpec* spec, uint32_t record, uint8_t* out) {
  for (uint32_t j = 0; j < spec->VariableLength; ++j) out[j] = uint8_t(record + j * 3);
}

// ---------------------------------------------------------------- plan

struct Plan {
  const BtDataSpec* Spec;
  BtGeometry G;
  uint16_t V;
  uint32_t Ps;
  uint32_t Prefix;        // slot usage count bytes: 0 or 2
  uint32_t Prl;
  uint32_t Spp;
  uint32_t K;             // index pages
  uint32_t D;             // data pages
  uint32_t Vp;            // variable pages
  uint32_t F;             // piece size
  uint32_t Fpp;           // fragments per variable page
  uint32_t C;             // pieces per record
  uint32_t S;             // slot positions used
  uint32_t Every;         // FreeEvery
  uint32_t DupKeys;
  uint32_t Bits;
  uint32_t Ltotal;        // logical pages (6.x on)
  uint32_t Phys;          // physical pages
  uint32_t Pairs;
  uint32_t ControlPages;  // pages before PAT pair 1 (6.x on) or the FCR page
  uint32_t PairPages;     // pages of one PAT pair
  std::vector<uint32_t> Map;  // logical -> physical (6.x on), while building
  const uint32_t* MapOf;      // the map to read: Map's data, or the result's
};

static int Fail(BtBuildResult* r, const char* text) {
  std::snprintf(r->Error, sizeof r->Error, "%s", text);
  return 0;
}

static bool Old(const Plan& p) { return p.V < 0x0600; }

static uint32_t SlotOfRecord(const Plan& p, uint32_t i) {
  if (p.Every == 0) return i;
  return (i / (p.Every - 1)) * p.Every + i % (p.Every - 1);
}

static bool SlotIsFree(const Plan& p, uint32_t s) {
  return p.Every != 0 && s % p.Every == p.Every - 1;
}

static uint32_t RecordOfSlot(const Plan& p, uint32_t s) {
  return p.Every == 0 ? s : s - s / p.Every;
}

static uint32_t DataLogical(const Plan& p, uint32_t d) { return 1 + p.K + d; }
static uint32_t VariableLogical(const Plan& p, uint32_t v) { return 1 + p.K + p.D + v; }

static uint32_t PhysicalOf(const Plan& p, uint32_t logical) {
  if (Old(p)) return logical;
  return logical <= p.Ltotal && p.MapOf ? p.MapOf[logical] : 0;
}

static uint64_t SlotOffset(const Plan& p, uint32_t s) {
  uint32_t d = s / p.Spp;
  return BtPageOffset(&p.G, PhysicalOf(p, DataLogical(p, d))) + p.G.RecordBase +
         uint64_t(s % p.Spp) * p.Prl;
}

static uint64_t PairFirstByte(const Plan& p, uint32_t n) { return BtPatPairOffset(&p.G, n); }

// Physical page where pair n begins (the 6.x displacement taken out).
static uint32_t PairFirstPage(const Plan& p, uint32_t n) {
  uint64_t offset = PairFirstByte(p, n);
  if (p.V < 0x0700 && n > 30) offset -= 4096;
  return uint32_t(offset / p.Ps);
}

static int MakePlan(const BtDataSpec* spec, Plan* p, BtBuildResult* r) {
  p->Spec = spec;
  p->MapOf = nullptr;
  p->V = spec->Version;
  p->Ps = spec->PageSize;
  if (p->V < 0x0300) return Fail(r, "unknown version");
  if (p->Ps < 512 || p->Ps > 16384 || p->Ps % 512 != 0)
    return Fail(r, "page size must be a multiple of 512 from 512 to 16384");
  int known = BtComputeGeometry(p->V, p->Ps, &p->G);
  if (p->V >= 0x0600 && !known) return Fail(r, "page size not in the PAT tables of this version");
  if (p->V >= 0x0600 && p->G.FcrPageSize < p->Ps) return Fail(r, "FCR page smaller than a page");
  if (spec->RecordLength == 0) return Fail(r, "record length must be at least 1");
  if (spec->Variable && p->V >= 0x0700)
    return Fail(r, "variable-length records are written for 3.x to 6.x only");
  if (spec->FreeEvery == 1) return Fail(r, "free-slot spacing must be 0 or at least 2");
  if (spec->FirstPage && p->V < 0x0600)
    return Fail(r, "a first data page is chosen for 6.00 and later only (3.x-5.x have no PAT)");
  if (spec->SegmentCount < 0 || spec->SegmentCount > BtMaxSegments) return Fail(r, "too many key segments");
  for (int s = 0; s < spec->SegmentCount; ++s) {
    const BtKeySegment& seg = spec->Segments[s];
    if (seg.Length == 0 || uint32_t(seg.Position) + seg.Length > spec->RecordLength)
      return Fail(r, "a key segment lies outside the record");
  }
  p->Prefix = Old(*p) ? 0 : 2;
  p->DupKeys = 0;
  {
    bool keyDup = false;
    for (int s = 0; s < spec->SegmentCount; ++s) {
      if ((spec->Segments[s].Flags & 0x0001) || spec->DuplicatesPer > 1) keyDup = true;
      if (!(spec->Segments[s].Flags & 0x0010) || s == spec->SegmentCount - 1) {
        if (keyDup) ++p->DupKeys;
        keyDup = false;
      }
    }
  }
  uint32_t need = p->Prefix + spec->RecordLength + (spec->Variable ? 4 : 0) + 8 * p->DupKeys;
  p->Prl = spec->PhysRecLen ? spec->PhysRecLen : need;
  if (p->Prl < need) return Fail(r, "physical record length too small for the record and its overhead");
  if (p->Prl + p->G.RecordBase > p->Ps) return Fail(r, "a slot does not fit in a page");
  p->Spp = (p->Ps - p->G.RecordBase) / p->Prl;
  if (p->V >= 0x0700 && p->V < 0x0800 && p->Spp > 256) p->Spp = 256;
  p->Bits = 0;
  if (p->V >= 0x0800) {
    p->Bits = spec->BitsInRecordId >= 0 ? uint32_t(spec->BitsInRecordId) : uint32_t(BtBitsForSlots(p->Spp));
    if (p->Bits < 1 || p->Bits > 31) return Fail(r, "BitsInRecordId must be 1 to 31");
    if (p->Bits < 31 && p->Spp > (1u << p->Bits)) p->Spp = 1u << p->Bits;
  }
  p->Every = spec->FreeEvery;
  p->S = spec->Records == 0 ? 0 : SlotOfRecord(*p, spec->Records - 1) + 1;
  p->D = p->S == 0 ? 1 : (p->S + p->Spp - 1) / p->Spp;
  {
    int keys = 0;
    for (int s = 0; s < spec->SegmentCount; ++s)
      if (!(spec->Segments[s].Flags & 0x0010) || s == spec->SegmentCount - 1) ++keys;
    p->K = spec->IndexPages ? uint32_t(keys) : 0;
  }

  // Variable parts: every record's part in C pieces of at most F bytes, one
  // fragment each; Fpp fragments per variable page.
  p->C = 0;
  p->F = 0;
  p->Fpp = 0;
  p->Vp = 0;
  if (spec->Variable && spec->VariableLength > 0) {
    uint32_t most = p->Ps - VariableHeaderEnd - 10;  // one fragment with its pointer and entries
    p->F = spec->FragmentSize ? spec->FragmentSize : spec->VariableLength;
    if (p->F > most) p->F = most;
    p->C = (spec->VariableLength + p->F - 1) / p->F;
    p->Fpp = (p->Ps - 16) / (p->F + 6);
    if (p->Fpp > 255) p->Fpp = 255;
    if (p->Fpp == 0) return Fail(r, "variable fragment too large for a page");
    uint64_t fragments = uint64_t(spec->Records) * p->C;
    uint64_t pages = (fragments + p->Fpp - 1) / p->Fpp;
    if (pages > 0xFFFFFFull) return Fail(r, "too many variable pages");
    p->Vp = uint32_t(pages);
  }

  uint64_t pagesInUse = 1ull + p->K + p->D + p->Vp;
  if (Old(*p)) {
    p->ControlPages = 1;
    p->Phys = uint32_t(pagesInUse);
    p->Ltotal = p->Phys - 1;
    if (pagesInUse * p->Ps > 0xFFFFFFFFull) return Fail(r, "a 3.x-5.x file must stay below 4 GiB");
    return 1;
  }
  if (pagesInUse > 0xFFFFFFull && p->V < 0x0800) return Fail(r, "too many pages for 24-bit PAT entries");
  p->Ltotal = uint32_t(pagesInUse - 1);
  uint32_t e = p->G.PatEntriesPerPage;
  // Above 9.50 with 1024-byte pages a pair has 476 entries but its 2048-byte
  // PAT page holds only 254 of them: a reader cannot map the others, so such
  // a file can use logical pages of the first 254 entries only.
  if (p->G.PatEntriesStored < e && p->Ltotal > p->G.PatEntriesStored) {
    std::snprintf(r->Error, sizeof r->Error,
                  "only %lu of the %lu PAT entries of a pair fit in a %lu-byte PAT page; "
                  "this file needs %lu logical pages (use another page size or fewer records)",
                  (unsigned long)p->G.PatEntriesStored, (unsigned long)e,
                  (unsigned long)p->G.FcrPageSize, (unsigned long)p->Ltotal);
    return 0;
  }
  p->Pairs = p->Ltotal == 0 ? 1 : (p->Ltotal - 1) / e + 1;
  p->ControlPages = (p->V >= 0x0800 ? 4 : 2) * p->G.FcrPageSize / p->Ps;
  p->PairPages = 2 * p->G.FcrPageSize / p->Ps;
  try {
    p->Map.assign(size_t(p->Ltotal) + 1, 0);
    p->MapOf = p->Map.data();
  } catch (const std::bad_alloc&) {
    return Fail(r, "out of memory for the page map");
  }
  // Logical pages take the physical pages in ascending order, stepping over
  // the control pages and the pages of the PAT pairs.
  uint64_t phys = p->ControlPages;
  // A chosen first page leaves the pages before it as a hole (sparse).
  if (spec->FirstPage > phys) phys = spec->FirstPage;
  uint32_t nextPair = 1;
  for (uint32_t l = 1; l <= p->Ltotal; ++l) {
    while (nextPair <= p->Pairs && phys >= PairFirstPage(*p, nextPair)) {
      if (phys < uint64_t(PairFirstPage(*p, nextPair)) + p->PairPages)
        phys = uint64_t(PairFirstPage(*p, nextPair)) + p->PairPages;
      ++nextPair;
    }
    p->Map[l] = uint32_t(phys);
    ++phys;
  }
  uint64_t end = uint64_t(PairFirstPage(*p, p->Pairs)) + p->PairPages;
  if (phys > end) end = phys;
  if (end > 0xFFFFFFFFull) return Fail(r, "too many physical pages");
  if (p->V < 0x0800 && end > 0x1000000ull) return Fail(r, "physical pages past 24 bits for 6.x/7.x PAT entries");
  // Every record must have a 32-bit engine position.
  uint64_t last = uint64_t(p->Ltotal) + 1;
  bool fits = p->V < 0x0700   ? last * p->Ps <= 0x100000000ull
              : p->V < 0x0800 ? last <= 0x1000000ull
                              : (last << p->Bits) <= 0x100000000ull;
  if (!fits) return Fail(r, "the file's engine positions would not fit in 32 bits");
  p->Phys = uint32_t(end);
  return 1;
}

// ---------------------------------------------------------------- pages

static void PutPageHeader(const Plan& p, uint8_t* page, uint32_t number, uint8_t type,
                          uint16_t usage) {
  if (p.V < 0x0600) {
    PutHighWordFirst32(page, number);
  } else if (p.V < 0x0800) {
    page[0] = uint8_t(number >> 16);
    page[1] = type;
    PutLE16(page + 2, uint16_t(number));
  } else {
    PutLE32(page, number);
    page[4] = type;
  }
  PutLE16(page + p.G.DataHeaderLength, usage);
}

static uint32_t FragmentPage(const Plan& p, uint64_t g) {
  return VariableLogical(p, uint32_t(g / p.Fpp));
}

static void PutLink(uint8_t* at, uint32_t page, uint32_t fragment) {
  at[0] = uint8_t(page >> 16);
  at[1] = uint8_t(page);
  at[2] = uint8_t(page >> 8);
  at[3] = uint8_t(fragment);
}

static uint32_t PieceLength(const Plan& p, uint32_t j) {
  return j + 1 < p.C ? p.F : p.Spec->VariableLength - (p.C - 1) * p.F;
}

// Offset of fragment n within variable page v: the fragments before it,
// each its link and its piece, packed one after another.
static uint32_t FragmentOffset(const Plan& p, uint32_t v, uint32_t n) {
  uint32_t offset = VariableHeaderEnd;
  for (uint32_t k = 0; k < n; ++k) {
    uint64_t g = uint64_t(v) * p.Fpp + k;
    offset += 4 + PieceLength(p, uint32_t(g % p.C));
  }
  return offset;
}

static void ComposeDataPage(const Plan& p, uint32_t d, uint8_t* page, std::vector<uint8_t>& record) {
  std::memset(page, 0, p.Ps);
  PutPageHeader(p, page, DataLogical(p, d), TypeData, UsageWordData);
  const BtDataSpec* spec = p.Spec;
  for (uint32_t t = 0; t < p.Spp; ++t) {
    uint64_t s = uint64_t(d) * p.Spp + t;
    if (s >= p.S) break;
    uint8_t* slot = page + p.G.RecordBase + t * p.Prl;
    if (SlotIsFree(p, uint32_t(s))) {
      if (Old(p)) {
        uint64_t next = s + p.Every;
        PutHighWordFirst32(slot, next < p.S ? uint32_t(SlotOffset(p, uint32_t(next))) : NoLink);
      }
      continue;
    }
    uint32_t i = RecordOfSlot(p, uint32_t(s));
    if (p.Prefix) PutLE16(slot, 1);
    uint8_t* at = slot + p.Prefix;
    BtRecordBytes(spec, i, record.data());
    std::memcpy(at, record.data(), spec->RecordLength);
    at += spec->RecordLength;
    if (spec->Variable) {
      if (p.C == 0) {
        PutLE32(at, NoLink);
      } else {
        uint64_t g = uint64_t(i) * p.C;
        PutLink(at, FragmentPage(p, g), uint32_t(g % p.Fpp));
      }
      at += 4;
    }
    std::memset(at, 0xFF, 8 * p.DupKeys);
  }
}

static void ComposeVariablePage(const Plan& p, uint32_t v, uint8_t* page, std::vector<uint8_t>& part) {
  std::memset(page, 0, p.Ps);
  PutPageHeader(p, page, VariableLogical(p, v), TypeVariable, UsageWordOther);
  PutLE32(page + 6, NoLink);
  uint64_t total = uint64_t(p.Spec->Records) * p.C;
  uint32_t used = 0;
  uint32_t lastEnd = VariableHeaderEnd;
  uint32_t lastRecord = 0xFFFFFFFFu;
  for (uint32_t n = 0; n < p.Fpp; ++n) {
    uint64_t g = uint64_t(v) * p.Fpp + n;
    if (g >= total) break;
    uint32_t i = uint32_t(g / p.C);
    uint32_t j = uint32_t(g % p.C);
    if (i != lastRecord) {
      BtVariableBytes(p.Spec, i, part.data());
      lastRecord = i;
    }
    uint32_t offset = lastEnd;
    uint8_t* at = page + offset;
    if (j + 1 < p.C) PutLink(at, FragmentPage(p, g + 1), uint32_t((g + 1) % p.Fpp));
    else PutLE32(at, NoLink);
    uint32_t length = PieceLength(p, j);
    std::memcpy(at + 4, part.data() + uint64_t(j) * p.F, length);
    // Bit 15: the fragment begins with its link. Real 6.x files leave it
    // clear (every fragment has a link there); 3.x-5.x readers need it.
    uint16_t entry = uint16_t(offset | (Old(p) ? 0x8000 : 0));
    PutLE16(page + p.Ps - 2 * (n + 1), entry);
    lastEnd = offset + 4 + length;
    ++used;
  }
  // One more entry: where free space begins, ending the last fragment.
  PutLE16(page + p.Ps - 2 * (used + 1), uint16_t(lastEnd));
  PutLE16(page + 10, uint16_t(used));
}

static void ComposeIndexPage(const Plan& p, uint32_t k, uint8_t* page) {
  std::memset(page, 0, p.Ps);
  PutPageHeader(p, page, 1 + k, uint8_t(TypeIndex + k), UsageWordOther);
}

static void FillFcr(const Plan& p, BtFcrSpec* f) {
  const BtDataSpec* spec = p.Spec;
  BtDefaultFcr(f, p.V, p.Ps);
  f->VersionWord = spec->VersionWord;
  f->RecordLength = spec->RecordLength;
  f->PhysRecLen = uint16_t(p.Prl);
  f->RecordCount = spec->Records;
  f->SegmentCount = spec->SegmentCount;
  for (int s = 0; s < spec->SegmentCount; ++s) {
    f->Segments[s] = spec->Segments[s];
    if (spec->DuplicatesPer > 1) f->Segments[s].Flags |= 0x0001;
  }
  f->BitsInRecordId = p.V >= 0x0800 ? int(p.Bits) : -1;
  if (spec->Variable) {
    f->VariableByte = 0xFF;
    f->FileFlags |= 0x0001;
  }
  if (Old(p)) {
    f->PageCount = p.Phys;
    f->FreeSlotChain = (p.Every && p.Every - 1 < p.S) ? uint32_t(SlotOffset(p, p.Every - 1)) : NoLink;
    f->FillingPage = uint16_t(DataLogical(p, p.D - 1));
    uint32_t inLast = p.S - (p.D - 1) * p.Spp;
    f->FillingUnused = uint16_t(p.Ps - 6 - inLast * p.Prl);
  } else {
    f->PageCount = p.Ltotal + 1;
    f->DupPointerOffset = uint16_t(p.Prefix + spec->RecordLength + (spec->Variable ? 4 : 0));
  }
}

static uint8_t TypeOfLogical(const Plan& p, uint32_t l) {
  if (l >= 1 && l <= p.K) return uint8_t(TypeIndex + (l - 1));
  if (l <= p.K + p.D) return TypeData;
  return TypeVariable;
}

static void ComposePatPair(const Plan& p, uint32_t n, uint8_t* image, std::vector<BtPatEntry>& entries) {
  uint32_t e = p.G.PatEntriesPerPage;
  for (uint32_t i = 0; i < e; ++i) {
    uint64_t l = uint64_t(n - 1) * e + i + 1;
    if (l <= p.Ltotal) entries[i] = {p.Map[l], TypeOfLogical(p, uint32_t(l)), 1};
    else entries[i] = {0, 0, 0};
  }
  uint32_t current = p.Spec->CurrentCopy ? 1 : 0;
  BtFillPatPage(&p.G, image, n, current == 0 ? 2 : 1, entries.data(), e);
  BtFillPatPage(&p.G, image + p.G.FcrPageSize, n, current == 1 ? 2 : 1, entries.data(), e);
}

// ---------------------------------------------------------------- writing

struct Writer {
  const BtFileSet* Set;
  std::vector<uint8_t> Buffer;
  uint64_t Start;
  size_t Length;
};

static int Flush(Writer* w) {
  if (w->Length == 0) return 1;
  int ok = BtWriteAt(w->Set, w->Start, w->Buffer.data(), w->Length);
  w->Start += w->Length;
  w->Length = 0;
  return ok;
}

// Room for one page at offset; flushes when the page does not follow on.
static uint8_t* PageSlot(Writer* w, uint64_t offset, uint32_t size, int* ok) {
  if (w->Length > 0 && (offset != w->Start + w->Length || w->Length + size > w->Buffer.size()))
    *ok &= Flush(w);
  if (w->Length == 0) w->Start = offset;
  uint8_t* at = w->Buffer.data() + w->Length;
  w->Length += size;
  return at;
}

static int WriteAll(const Plan& p, const BtFileSet* set, BtFcrSpec* fcr, BtBuildResult* r) {
  Writer w;
  w.Set = set;
  w.Buffer.assign(ChunkBytes, 0);
  w.Start = 0;
  w.Length = 0;
  std::vector<uint8_t> record(p.Spec->RecordLength + 8);
  std::vector<uint8_t> part(p.Spec->VariableLength + 8);
  uint32_t fcrBytes = p.G.FcrPageSize;
  std::vector<uint8_t> control(size_t(p.ControlPages) * p.Ps, 0);
  FillFcr(p, fcr);
  if (Old(p)) {
    if (!BtFillFcrPage(control.data(), p.Ps, fcr)) return Fail(r, "the key specs do not fit in the FCR page");
  } else {
    BtFcrSpec copy = *fcr;
    copy.UsageCount = p.Spec->CurrentCopy ? 1 : 2;
    if (!BtFillFcrPage(control.data(), fcrBytes, &copy)) return Fail(r, "the key specs do not fit in the FCR page");
    copy.UsageCount = p.Spec->CurrentCopy ? 2 : 1;
    BtFillFcrPage(control.data() + fcrBytes, fcrBytes, &copy);
    fcr->UsageCount = 2;
  }
  std::vector<uint8_t> pair;
  std::vector<BtPatEntry> entries;
  if (!Old(p)) {
    pair.assign(2 * size_t(fcrBytes), 0);
    entries.assign(p.G.PatEntriesPerPage, BtPatEntry{0, 0, 0});
  }
  int ok = 1;
  uint32_t nextPair = 1;
  uint32_t pairFirst = Old(p) ? 0xFFFFFFFFu : PairFirstPage(p, 1);
  // Logical pages lie on ascending physical pages, so one walk over both
  // finds every page; physical pages no logical page uses stay holes.
  uint32_t nextLogical = 1;
  for (uint32_t ph = 0; ph < p.Phys && ok;) {
    uint32_t l = 0;
    bool isControl = ph < p.ControlPages;
    bool inPair = ph >= pairFirst && ph < pairFirst + p.PairPages;
    if (!isControl && !inPair) {
      if (Old(p)) {
        l = ph;
      } else if (nextLogical <= p.Ltotal && p.Map[nextLogical] == ph) {
        l = nextLogical++;
      } else {
        uint32_t next = nextLogical <= p.Ltotal ? p.Map[nextLogical] : p.Phys;
        if (pairFirst < next) next = pairFirst;
        ph = next > ph ? next : ph + 1;
        continue;
      }
    }
    uint8_t* page = PageSlot(&w, BtPageOffset(&p.G, ph), p.Ps, &ok);
    if (isControl) {
      std::memcpy(page, control.data() + size_t(ph) * p.Ps, p.Ps);
    } else if (inPair) {
      if (ph == pairFirst) ComposePatPair(p, nextPair, pair.data(), entries);
      std::memcpy(page, pair.data() + size_t(ph - pairFirst) * p.Ps, p.Ps);
      if (ph + 1 == pairFirst + p.PairPages) {
        ++nextPair;
        pairFirst = nextPair <= p.Pairs ? PairFirstPage(p, nextPair) : 0xFFFFFFFFu;
      }
    } else if (l <= p.K) {
      ComposeIndexPage(p, l - 1, page);
    } else if (l <= p.K + p.D) {
      ComposeDataPage(p, l - 1 - p.K, page, record);
    } else {
      ComposeVariablePage(p, l - 1 - p.K - p.D, page, part);
    }
    ++ph;
  }
  ok &= Flush(&w);
  if (!ok) return Fail(r, "writing the file set failed");
  return 1;
}

// ---------------------------------------------------------------- damage

static int PageOfTarget(const Plan& p, const BtDamage& dmg, uint32_t* physical, uint32_t* logical,
                        BtBuildResult* r) {
  uint32_t d;
  switch (dmg.Target) {
    case BtTargetPhysicalPage:
      *physical = dmg.Value;
      *logical = 0;
      if (Old(p)) *logical = dmg.Value;
      else
        for (uint32_t l = 1; l <= p.Ltotal; ++l)
          if (p.Map[l] == dmg.Value) *logical = l;
      return 1;
    case BtTargetRecordPage:
      if (dmg.Value >= p.Spec->Records) return Fail(r, "damage names a record the file does not have");
      d = SlotOfRecord(p, dmg.Value) / p.Spp;
      break;
    case BtTargetDataPage:
      d = dmg.Value;
      if (d >= p.D) return Fail(r, "damage names a data page the file does not have");
      break;
    default:
      return Fail(r, "unknown damage target");
  }
  *logical = DataLogical(p, d);
  *physical = PhysicalOf(p, *logical);
  return 1;
}

static uint64_t FragmentLinkOffset(const Plan& p, uint64_t g) {
  uint32_t v = uint32_t(g / p.Fpp);
  uint32_t n = uint32_t(g % p.Fpp);
  return BtPageOffset(&p.G, PhysicalOf(p, VariableLogical(p, v))) + FragmentOffset(p, v, n);
}

static int ApplyDamage(const Plan& p, const BtFileSet* set, const BtDamage& dmg, uint64_t* size,
                       BtBuildResult* r) {
  uint8_t bytes[4];
  std::vector<uint8_t> page(p.Ps, 0);
  if (dmg.Kind == BtDamageFreeChainLoop || dmg.Kind == BtDamageFreeChainOut) {
    if (!Old(p)) return Fail(r, "free-slot chains are written for 3.x to 5.x only");
    if (p.Every == 0 || p.Every - 1 >= p.S) return Fail(r, "the file has no free slot");
    uint32_t first = p.Every - 1;
    uint32_t last = first;
    while (last + p.Every < p.S) last += p.Every;
    if (dmg.Kind == BtDamageFreeChainLoop) {
      PutHighWordFirst32(bytes, uint32_t(SlotOffset(p, first)));
      return BtWriteAt(set, SlotOffset(p, last), bytes, 4) ? 1 : Fail(r, "damage write failed");
    }
    PutHighWordFirst32(bytes, uint32_t(*size + 64 * uint64_t(p.Ps)));
    return BtWriteAt(set, SlotOffset(p, first), bytes, 4) ? 1 : Fail(r, "damage write failed");
  }
  if (dmg.Kind == BtDamageVariableBroken || dmg.Kind == BtDamageVariableLoop) {
    if (p.C == 0) return Fail(r, "the file has no variable parts");
    if (dmg.Target != BtTargetRecordPage || dmg.Value >= p.Spec->Records)
      return Fail(r, "variable damage names a record the file has");
    uint32_t i = dmg.Value;
    uint64_t g = uint64_t(i) * p.C;
    if (dmg.Kind == BtDamageVariableBroken) {
      uint64_t slot = SlotOffset(p, SlotOfRecord(p, i)) + p.Prefix + p.Spec->RecordLength;
      PutLink(bytes, (Old(p) ? p.Phys : p.Ltotal + 1) + 16, 0);
      return BtWriteAt(set, slot, bytes, 4) ? 1 : Fail(r, "damage write failed");
    }
    PutLink(bytes, FragmentPage(p, g), uint32_t(g % p.Fpp));
    return BtWriteAt(set, FragmentLinkOffset(p, g + p.C - 1), bytes, 4) ? 1
                                                                         : Fail(r, "damage write failed");
  }
  uint32_t physical, logical;
  if (!PageOfTarget(p, dmg, &physical, &logical, r)) return 0;
  uint64_t at = BtPageOffset(&p.G, physical);
  switch (dmg.Kind) {
    case BtDamageZeroPage:
      return BtWriteAt(set, at, page.data(), p.Ps) ? 1 : Fail(r, "damage write failed");
    case BtDamageGarbagePage: {
      uint32_t x = 0x9E3779B9u ^ physical;
      for (uint32_t k = 0; k < p.Ps; ++k) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        page[k] = uint8_t(x);
      }
      return BtWriteAt(set, at, page.data(), p.Ps) ? 1 : Fail(r, "damage write failed");
    }
    case BtDamageCutAtPage:
      if (at < *size) *size = at;
      return 1;
    case BtDamageCutInPage: {
      uint64_t cut = at + (dmg.Arg ? dmg.Arg : p.Ps / 2);
      if (cut < *size) *size = cut;
      return 1;
    }
    case BtDamagePatPastEnd: {
      if (Old(p)) return Fail(r, "3.x to 5.x files have no PAT");
      if (logical == 0) return Fail(r, "that page has no PAT entry");
      uint32_t e = p.G.PatEntriesPerPage;
      uint32_t n = (logical - 1) / e + 1;
      uint32_t index = (logical - 1) % e;
      uint8_t entry[8];
      BtPatEntry past = {p.Phys + 1000, TypeOfLogical(p, logical), 1};
      BtEncodePatEntry(&p.G, entry, &past);
      for (int copy = 0; copy < 2; ++copy)
        if (!BtWriteAt(set, BtPatEntryOffset(&p.G, n, copy, index), entry, p.G.PatEntrySize))
          return Fail(r, "damage write failed");
      return 1;
    }
    case BtDamageHeaderNumber: {
      uint8_t header[8] = {0};
      if (!BtReadAt(set, at, header, sizeof header)) return Fail(r, "damage read failed");
      uint32_t other = (Old(p) ? physical : logical) + 1;
      if (p.V < 0x0600) PutHighWordFirst32(header, other);
      else if (p.V < 0x0800) {
        header[0] = uint8_t(other >> 16);
        PutLE16(header + 2, uint16_t(other));
      } else {
        PutLE32(header, other);
      }
      return BtWriteAt(set, at, header, 4) ? 1 : Fail(r, "damage write failed");
    }
    case BtDamageHeaderType: {
      if (Old(p)) return Fail(r, "3.x to 5.x pages carry no type");
      uint32_t where = p.V < 0x0800 ? 1 : 4;
      uint8_t type = 0;
      if (!BtReadAt(set, at + where, &type, 1)) return Fail(r, "damage read failed");
      type = type == TypeData ? TypeVariable : TypeData;
      return BtWriteAt(set, at + where, &type, 1) ? 1 : Fail(r, "damage write failed");
    }
    default:
      return Fail(r, "unknown damage kind");
  }
}

// ---------------------------------------------------------------- results

static int FillPlace(const Plan& p, const BtBuildResult* r, uint32_t i, BtRecordPlace* place) {
  std::memset(place, 0, sizeof *place);
  if (i >= p.Spec->Records) return 0;
  uint32_t s = SlotOfRecord(p, i);
  place->Record = i;
  place->DataPage = s / p.Spp;
  place->Slot = s % p.Spp;
  place->LogicalPage = DataLogical(p, place->DataPage);
  place->PhysicalPage = PhysicalOf(p, place->LogicalPage);
  place->SlotOffset = SlotOffset(p, s);
  place->Part = r->Set.PartSize ? int(place->SlotOffset / r->Set.PartSize) : 0;
  place->PartOffset = r->Set.PartSize ? place->SlotOffset % r->Set.PartSize : place->SlotOffset;
  uint32_t within = p.G.RecordBase + place->Slot * p.Prl;
  if (p.V < 0x0600) place->Position = SwapHalves(uint32_t(place->SlotOffset));
  else if (p.V < 0x0700) place->Position = SwapHalves(place->LogicalPage * p.Ps + within);
  else if (p.V < 0x0800) place->Position = (place->LogicalPage << 8) | place->Slot;
  else place->Position = (place->LogicalPage << p.Bits) | place->Slot;
  return 1;
}

// The plan is rebuilt from what the result records (cheap: no page map).
static void PlanFromResult(const BtBuildResult* r, const BtDataSpec* spec, Plan* p) {
  p->Spec = spec;
  p->G = r->Geometry;
  p->V = r->Geometry.Version;
  p->Ps = r->Geometry.PageSize;
  p->Prefix = p->V < 0x0600 ? 0 : 2;
  p->Prl = r->Fcr.PhysRecLen;
  p->Spp = r->SlotsPerPage;
  p->K = r->IndexPages;
  p->D = r->DataPages;
  p->Every = spec->FreeEvery;
  p->S = r->SlotsUsed;
  p->Bits = r->Fcr.BitsInRecordId > 0 ? uint32_t(r->Fcr.BitsInRecordId) : 0;
  p->Ltotal = r->LogicalPages;
  p->MapOf = r->LogicalToPhysical;
}

int BtRecordPlaceOf(const BtBuildResult* r, uint32_t record, BtRecordPlace* place) {
  BtDataSpec spec;
  std::memset(&spec, 0, sizeof spec);
  spec.Records = r->Fcr.RecordCount;
  spec.RecordLength = r->Fcr.RecordLength;
  spec.FreeEvery = r->FreeEvery;
  Plan p;
  PlanFromResult(r, &spec, &p);
  return FillPlace(p, r, record, place);
}

int BtDataPagePhysical(const BtBuildResult* r, uint32_t dataPage, uint32_t* physical) {
  if (dataPage >= r->DataPages) return 0;
  uint32_t logical = 1 + r->IndexPages + dataPage;
  if (r->Geometry.Version < 0x0600) *physical = logical;
  else if (r->LogicalToPhysical && logical <= r->LogicalPages) *physical = r->LogicalToPhysical[logical];
  else return 0;
  return 1;
}

void BtFreeBuildResult(BtBuildResult* r) {
  delete[] r->LogicalToPhysical;
  r->LogicalToPhysical = nullptr;
}

int BtBuildFileSet(const BtDataSpec* spec, const char* path, BtBuildResult* r) {
  std::memset(r, 0, sizeof *r);
  Plan p;
  if (!MakePlan(spec, &p, r)) return 0;
  BtInitFileSet(&r->Set, path, spec->PartSize);
  if (std::strlen(path) >= sizeof r->Set.Path) return Fail(r, "path too long");
  // Parts of an earlier set under the same name would join this one.
  BtRemoveFileSet(path);
  if (!WriteAll(p, &r->Set, &r->Fcr, r)) return 0;
  uint64_t size = BtPageOffset(&p.G, p.Phys - 1) + p.Ps;
  r->Geometry = p.G;
  r->SlotsPerPage = p.Spp;
  r->SlotsUsed = p.S;
  r->FreeEvery = p.Every;
  r->FreeSlots = p.Every ? p.S / p.Every : 0;
  r->IndexPages = p.K;
  r->DataPages = p.D;
  r->VariablePages = p.Vp;
  r->FragmentsPerPage = p.Fpp;
  r->PiecesPerRecord = p.C;
  r->LogicalPages = p.Ltotal;
  r->PhysicalPages = p.Phys;
  r->PatPairs = p.Pairs;
  if (!p.Map.empty()) {
    r->LogicalToPhysical = new (std::nothrow) uint32_t[p.Map.size()];
    if (!r->LogicalToPhysical) return Fail(r, "out of memory");
    std::memcpy(r->LogicalToPhysical, p.Map.data(), p.Map.size() * sizeof(uint32_t));
  }
  // Damage: page edits first, then the cuts, so that no edit grows the file again.
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 0; k < spec->DamageCount && k < BtMaxDamage; ++k) {
      const BtDamage& dmg = spec->Damage[k];
      bool cut = dmg.Kind == BtDamageCutAtPage || dmg.Kind == BtDamageCutInPage;
      if (cut != (pass == 1)) continue;
      if (!ApplyDamage(p, &r->Set, dmg, &size, r)) {
        BtFreeBuildResult(r);
        return 0;
      }
    }
  if (!BtSetSize(&r->Set, size)) {
    BtFreeBuildResult(r);
    return Fail(r, "setting the size of the file set failed");
  }
  if (spec->Delta && !BtResizePart(&r->Set, BtDeltaPart, spec->DeltaSize)) {
    BtFreeBuildResult(r);
    return Fail(r, "writing the delta file failed");
  }
  r->FileSize = size;
  r->Parts = BtPartsFor(&r->Set, size);
  return 1;
}
