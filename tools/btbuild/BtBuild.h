// btbuild: writes Btrieve file sets for tests and for users (mkbtrieve).
//
// Two layers, both plain free functions over small option records:
//
//  1. Control structures. A BtFileSet names a base file and the size of its
//     extension parts; BtWriteAt writes bytes at a large offset of the logical
//     file (the parts end to end), BtSetSize gives the set its length (sparse:
//     nothing is written for the holes). BtFillFcrPage / BtWriteFcrPage write
//     an FCR page of any version from a BtFcrSpec; BtWritePatPage /
//     BtWritePatPair write PAT pages with chosen entries at their computed
//     offsets. BtComputeGeometry gives the page geometry the reading library
//     derives from a version and a page size.
//
//  2. Data files (BtBuildFileSet): N records as an engine lays them out for
//     the version, with keys, free slots, variable-length parts, extension
//     parts and injected damage; BtRecordPlace tells where record i lies.
//
// The on-disk layouts are written down in docs/format.md; the offsets come
// from Common/FcrLayout.h.
//
// A typical test: "a valid 9.50 file, then poke byte X":
//
//   BtDataSpec spec;
//   BtDefaultDataSpec(&spec, 0x0950, 4096);
//   spec.Records = 100;
//   BtBuildResult result;
//   BtBuildFileSet(&spec, "/tmp/x/DATA.MKD", &result);
//   uint8_t b = 0x55;
//   BtWriteAt(&result.Set, 400, &b, 1);
#ifndef HALVORN_TOOLS_BTBUILD_BTBUILD_H
#define HALVORN_TOOLS_BTBUILD_BTBUILD_H

#include <cstddef>
#include <cstdint>

const int BtMaxParts = 128;   // base file and 127 extension parts
const int BtDeltaPart = -1;   // part index that names the delta file (.^^^)
const int BtMaxPath = 1024;
const int BtMaxPageBytes = 65536;

// ---------------------------------------------------------------- geometry

// What the reading library derives from a version and a page size, plus the
// data page layout our engine and builder share (docs/format.md).
struct BtGeometry {
  uint16_t Version;
  uint32_t PageSize;
  uint32_t FcrPageSize;        // one FCR page and one PAT page
  uint32_t UsageOffset;        // usage count in FCR and PAT pages: 4, 6, 8
  uint32_t PatIdLength;        // PAT page identification: 4, 6, 8
  uint32_t PageHeaderLength;   // as the library reads it: 4, 6, 8, 16
  uint32_t PatEntrySize;       // 4, 6, 8 (0 below 6.00)
  uint32_t PatEntriesStart;    // first entry in a PAT page: 8, 20, 16
  uint32_t PatEntriesPerPage;  // E; 0 for a page size the tables do not know
  uint32_t PatEntriesStored;   // entries that fit in FcrPageSize bytes (<= E)
  uint64_t PatPairStride;      // bytes from one pair to the next
  uint32_t DataHeaderLength;   // data page header before the usage word: 4, 6, 8
  uint32_t RecordBase;         // first slot of a data page: 6, 6, 8, 10
  int Compressed;              // page compression flag (9.50 and above)
  uint32_t PhysicalPageSize;   // PageSize, or the compressed on-disk size
  uint32_t V6ShiftThreshold;   // 6.x: offset from which pages lie 4096 further; else 0xFFFFFFFF
};

// Fills *g. Returns 1, or 0 when the page size is not one the PAT tables
// know for this version (the fields are still filled, E and stride 0).
int BtComputeGeometry(uint16_t version, uint32_t pageSize, BtGeometry* g);
// Same, with page compression on and the given physical page size.
int BtComputeGeometryCompressed(uint16_t version, uint32_t pageSize, uint32_t physicalPageSize,
                                BtGeometry* g);
// Large offset of the first page of PAT pair n (pair 0 is the FCR pair).
uint64_t BtPatPairOffset(const BtGeometry* g, uint32_t pair);
// Large offset of a physical page, with the 6.x displacement of 4096 bytes.
uint64_t BtPageOffset(const BtGeometry* g, uint32_t physicalPage);
// Large offset of entry i of PAT pair n, copy 0 or 1.
uint64_t BtPatEntryOffset(const BtGeometry* g, uint32_t pair, int copy, uint32_t index);

// ---------------------------------------------------------------- file set

// A file set being written: the base file's path and the size of every part
// but the last (0: the whole logical file lives in the base file).
struct BtFileSet {
  char Path[BtMaxPath];
  uint64_t PartSize;
};

void BtInitFileSet(BtFileSet* set, const char* path, uint64_t partSize);
// Name of part n (0 the base file, 1..127 ".^%.2x", BtDeltaPart ".^^^"): the
// path cut at its last '.', then the suffix. 1, or 0 when it does not fit.
int BtPartName(const char* path, int part, char* out, size_t outSize);
// Removes the base file, every extension part and the delta file of a path.
void BtRemoveFileSet(const char* path);
// Writes bytes at a large offset of the logical file, across parts; parts
// are created as needed (a part before the one written is given its full
// PartSize, sparse). 1/0.
int BtWriteAt(const BtFileSet* set, uint64_t offset, const void* bytes, size_t count);
// Writes count copies of one byte at a large offset. 1/0.
int BtFillAt(const BtFileSet* set, uint64_t offset, uint8_t value, uint64_t count);
// Reads bytes back from the logical file (tests, damage that edits bytes). 1/0.
int BtReadAt(const BtFileSet* set, uint64_t offset, void* bytes, size_t count);
// Writes bytes at an offset within one file of the set (part index, or
// BtDeltaPart), with no part walk. 1/0.
int BtWriteInPart(const BtFileSet* set, int part, uint64_t offset, const void* bytes,
                  size_t count);
// Gives the logical file the total size: parts 0..k-1 PartSize bytes each,
// the last the rest; parts past the last are removed. Growth is sparse. 1/0.
int BtSetSize(const BtFileSet* set, uint64_t totalSize);
// Sets the size of one file of the set (sparse growth, or a cut). 1/0.
int BtResizePart(const BtFileSet* set, int part, uint64_t size);
// Number of parts a logical size needs (1 for an empty set).
int BtPartsFor(const BtFileSet* set, uint64_t totalSize);

// ---------------------------------------------------------------- FCR

enum {
  BtSignatureDefault = 0,  // zero form below 6.00, "FC" form from 6.00
  BtSignatureZero = 1,     // bytes 0-3 zero, version word at 6
  BtSignatureFc = 2        // "FC" at 0, version word at 74
};

// One key segment. Position is the 0-based offset in the record the caller
// sees; the FCR stores it as the version needs (docs/format.md, "Keys").
struct BtKeySegment {
  uint16_t Position;
  uint16_t Length;
  uint8_t Type;        // extended type: 0 string, 1 integer, 11 zstring, 14 unsigned binary, ...
  uint16_t Flags;      // 0x0001 duplicates, 0x0010 another segment follows, 0x0040 descending, ...
  uint8_t NullValue;
};

const int BtMaxSegments = 32;

// Every FCR field the builder writes. BtDefaultFcr gives consistent values;
// fields marked "-1: default" take the version's natural value.
struct BtFcrSpec {
  uint16_t Version;
  int VersionWord;           // -1: Version; e.g. 0x10000 - Version for a negated word
  int Signature;             // BtSignature*
  uint32_t PageSize;
  int PageSizeByte;          // -1: PageSize / 256
  uint32_t UsageCount;
  uint32_t PageCount;
  uint16_t RecordLength;
  uint16_t PhysRecLen;
  uint32_t RecordCount;
  uint32_t FreeSlotChain;    // 3.x-5.x: physical offset of the first free slot, 0xFFFFFFFF none
  uint16_t FillingPage;      // 3.x-5.x
  uint16_t FillingUnused;    // 3.x-5.x
  uint8_t VariableByte;      // 0, 0xFF variable, 0xFD variable with blank truncation
  uint16_t FileFlags;        // 0x0001 variable, 0x0002 truncation, 0x0008 compressed
  uint16_t DupPointerOffset; // 6.x: offset of the duplicate pointers in a slot
  int Compressed;            // 9.50 and above: set flag 0x2000 (at 400, or 156 above 9.50)
  uint16_t PhysicalPageSize; // written at 80 when Compressed
  int BitsInRecordId;        // -1: none written (0x0800 and above: written at 351 / 419)
  uint32_t MiscPage;         // misc data pointer (logical page)
  uint16_t MiscRecord;
  uint32_t UserMiscPage;     // 9.50 and above
  uint16_t UserMiscRecord;
  int SegmentCount;
  BtKeySegment Segments[BtMaxSegments];
};

// Defaults for a version and page size: page count 0, no records, no keys,
// usage count 1, BitsInRecordId for 0x0800 and above chosen by
// BtBitsForSlots(slots per page of a 16-byte slot).
void BtDefaultFcr(BtFcrSpec* fcr, uint16_t version, uint32_t pageSize);
// Number of keys the segments form (a segment without flag 0x0010 ends a key).
int BtKeyCount(const BtFcrSpec* fcr);
// Smallest number of bits (at least 1) that holds slot numbers 0..slots-1.
int BtBitsForSlots(uint32_t slots);
// Composes an FCR page of pageBytes bytes (zeroed first). 1, or 0 when the
// key specs do not fit in the page.
int BtFillFcrPage(uint8_t* page, uint32_t pageBytes, const BtFcrSpec* fcr);
// Writes FCR copy 0 (at offset 0) or copy 1 (at FcrPageSize), FcrPageSize
// bytes by the version's geometry. Copy 1 is ignored below 6.00 only by the
// reader: it is written when asked. 1/0.
int BtWriteFcrPage(const BtFileSet* set, const BtFcrSpec* fcr, int copy);
// Both copies, with the two usage counts (6.00 and above). 1/0.
int BtWriteFcrPair(const BtFileSet* set, const BtFcrSpec* fcr, uint32_t usage0, uint32_t usage1);

// ---------------------------------------------------------------- PAT

struct BtPatEntry {
  uint32_t Page;    // physical page
  uint16_t Extra;   // EntryExtra: the page type ('D' data, 'V' variable, 0x80+n index, 0 free)
  uint16_t Span;    // 9.50 and above: pages of a compressed logical page (written as given)
};

// Writes one entry in the version's layout at p (4, 6 or 8 bytes).
void BtEncodePatEntry(const BtGeometry* g, uint8_t* p, const BtPatEntry* e);
// The page identification of pair n (PatIdLength bytes): "PP" and the pair
// number (docs/format.md, "PAT page").
void BtPatPageId(const BtGeometry* g, uint32_t pair, uint8_t* out);
// Composes a PAT page (FcrPageSize bytes, zeroed first) with the first count
// entries (at most PatEntriesStored are written).
void BtFillPatPage(const BtGeometry* g, uint8_t* page, uint32_t pair, uint32_t usage,
                   const BtPatEntry* entries, uint32_t count);
int BtWritePatPage(const BtFileSet* set, const BtGeometry* g, uint32_t pair, int copy,
                   uint32_t usage, const BtPatEntry* entries, uint32_t count);
int BtWritePatPair(const BtFileSet* set, const BtGeometry* g, uint32_t pair, uint32_t usage0,
                   uint32_t usage1, const BtPatEntry* entries, uint32_t count);

// ---------------------------------------------------------------- pages

// Writes a page image (PageSize bytes, or count bytes) at a physical page
// and an offset within it. 1/0.
int BtWritePageBytes(const BtFileSet* set, const BtGeometry* g, uint32_t physicalPage,
                     uint32_t offsetInPage, const void* bytes, size_t count);

// ---------------------------------------------------------------- data files

// Kinds of injected damage (docs/format.md, "What the builder writes").
enum {
  BtDamageZeroPage = 1,     // the page's bytes all zero
  BtDamageGarbagePage,      // the page's bytes pseudo-random (fixed seed)
  BtDamageCutAtPage,        // the logical file ends where the page begins
  BtDamageCutInPage,        // the logical file ends Arg bytes into the page (0: half a page)
  BtDamagePatPastEnd,       // 6.x on: the page's PAT entry (both copies) points past the end
  BtDamageHeaderNumber,     // the page's header carries the number of the next page
  BtDamageHeaderType,       // 6.x on: the page's header carries type 'V' (a data page) or 'D'
  BtDamageFreeChainLoop,    // 3.x-5.x: the last free slot points back at the first
  BtDamageFreeChainOut,     // 3.x-5.x: the first free slot points past the end of the file
  BtDamageVariableBroken,   // the record's variable pointer points past the last page
  BtDamageVariableLoop      // the record's last fragment points back at its first
};

// What a damage names: a physical page, the data page that holds a record,
// or a record itself (the variable-part kinds need a record).
enum { BtTargetPhysicalPage = 0, BtTargetRecordPage = 1, BtTargetDataPage = 2 };

struct BtDamage {
  int Kind;
  int Target;       // BtTarget*
  uint32_t Value;   // the physical page, the record index or the data page index
  uint32_t Arg;     // BtDamageCutInPage: bytes kept of the page
};

const int BtMaxDamage = 16;

struct BtDataSpec {
  uint16_t Version;
  int VersionWord;           // -1: Version (a negated word for files with an owner)
  uint32_t PageSize;
  uint32_t Records;
  uint16_t RecordLength;     // the fixed part
  uint16_t PhysRecLen;       // 0: usage count + record + variable pointer + 8 per duplicates key
  int SegmentCount;
  BtKeySegment Segments[BtMaxSegments];
  uint32_t FreeEvery;        // every FreeEvery-th slot is free (0: none; 1 not allowed)
  uint32_t DuplicatesPer;    // key value = record / DuplicatesPer (0, 1: unique)
  int ShuffleKeys;           // key values a fixed permutation of 0..Records-1
  int Variable;              // 3.x-6.x: variable-length records
  uint32_t VariableLength;   // bytes of every record's variable part
  uint32_t FragmentSize;     // largest piece of a variable part per fragment (0: as large as fits)
  int IndexPages;            // one empty index page per key (as real files have index pages)
  int BitsInRecordId;        // -1: the smallest that holds the slot numbers
  uint64_t PartSize;         // extension part size (0: one file)
  uint32_t FirstPage;        // 6.00 on: physical page of logical page 1 (0: after the control
                             // pages); the pages before it stay a hole, PAT pairs excepted
  int CurrentCopy;           // 6.x on: which FCR and PAT copy carries the larger usage count
  int Delta;                 // also write a delta file (.^^^) of DeltaSize bytes (zeros, sparse)
  uint64_t DeltaSize;
  int DamageCount;
  BtDamage Damage[BtMaxDamage];
};

// Defaults: 10 records of 32 bytes, key 0 a 4-byte integer at 0, one
// index page per key, no free slots, copy 1 current, one file.
void BtDefaultDataSpec(BtDataSpec* spec, uint16_t version, uint32_t pageSize);
// Parses "3.00" ... "13.00", "0x0D30", "v16"; 0 for text it does not know.
uint16_t BtParseVersion(const char* text);

// What BtBuildFileSet wrote, and what BtRecordPlaceOf needs.
struct BtBuildResult {
  BtFileSet Set;
  BtGeometry Geometry;
  BtFcrSpec Fcr;                 // the FCR as written (copy CurrentCopy)
  uint32_t SlotsPerPage;
  uint32_t SlotsUsed;            // slot positions up to the last record (free ones included)
  uint32_t FreeEvery;
  uint32_t FreeSlots;
  uint32_t IndexPages;
  uint32_t DataPages;
  uint32_t VariablePages;
  uint32_t FragmentsPerPage;
  uint32_t PiecesPerRecord;
  uint32_t LogicalPages;         // 6.x on: logical pages in use, 1..LogicalPages
  uint32_t PhysicalPages;        // pages of the whole file set, control pages included
  uint32_t PatPairs;
  uint64_t FileSize;             // logical size after damage
  int Parts;
  uint32_t* LogicalToPhysical;   // 6.x on: LogicalPages + 1 entries; owned, see BtFreeBuildResult
  char Error[256];
};

// Where record i lies.
struct BtRecordPlace {
  uint32_t Record;
  uint32_t DataPage;       // index among data pages
  uint32_t LogicalPage;    // = PhysicalPage below 6.00
  uint32_t PhysicalPage;
  uint32_t Slot;
  uint64_t SlotOffset;     // large offset of the slot's first byte
  int Part;
  uint64_t PartOffset;
  uint32_t Position;       // what Get Position answers for it
};

// Builds the file set at path (earlier parts and delta file of the path are
// removed first). 1, or 0 with result->Error set. Release the result with
// BtFreeBuildResult.
int BtBuildFileSet(const BtDataSpec* spec, const char* path, BtBuildResult* result);
void BtFreeBuildResult(BtBuildResult* result);
int BtRecordPlaceOf(const BtBuildResult* result, uint32_t record, BtRecordPlace* place);
// Physical page of data page d (its index among data pages). 1/0.
int BtDataPagePhysical(const BtBuildResult* result, uint32_t dataPage, uint32_t* physical);
// The key value of record i, and the bytes of its fixed part and variable part.
uint32_t BtKeyValue(const BtDataSpec* spec, uint32_t record);
void BtRecordBytes(const BtDataSpec* spec, uint32_t record, uint8_t* out);
void BtVariableBytes(const BtDataSpec* spec, uint32_t record, uint8_t* out);

#endif
