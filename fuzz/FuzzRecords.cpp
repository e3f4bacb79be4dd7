// Fuzz target: the record-level readers of the low-level library.
//
// From the input's header (see FuzzFileSet.h): choice byte 0 picks the
// format version, choice byte 1 the page-size byte, choice byte 2 the
// expansion method; the 32-bit value gives a slot (low 16 bits) and a
// destination capacity for the expansion (high 16 bits, kept small).
//
//   1. LLFindRecord over the payload's first page, in a buffer of exactly
//      PageSize bytes, for every slot up to two past LastSlot (at most 600)
//      and for the input's slot.
//   2. LLExpandRecord over the payload's first 4096 bytes (an exact-size
//      copy) into a destination of exactly the capacity.
//   3. The payload as a file set: LLReadRecord over a spread of logical pages
//      and slots, LLReadMiscData with both pointers, LLLoadHeaderCache (with
//      and without progress) and a few cached headers, LLFreeHeaderCache,
//      LLLoadAuxPair, and the part and header reads at the input's places.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"
#include "fuzz/FuzzFileSet.h"

namespace {

// Exactly size bytes on the heap (also for 0), so that the address sanitizer
// catches a read or write past them.
typedef std::unique_ptr<uint8_t[]> HeapBytes;
HeapBytes Allocate(size_t size) { return HeapBytes(new uint8_t[size]()); }

const uint16_t Versions[] = {0x0300, 0x0400, 0x0500, 0x0600, 0x0610, 0x0620, 0x0700, 0x0800,
                             0x0900, 0x094F, 0x0950, 0x0D00, 0x0D30, 0x8000, 0xFFFF, 0x0000};
const size_t VersionCount = sizeof Versions / sizeof Versions[0];
const uint32_t MaxSlotsTried = 600;
const uint32_t MaxExpandCapacity = 1024;
const size_t MaxExpandSource = 4096;

uint16_t LastSlotOf(const uint8_t* page, uint16_t pageSize, uint16_t version) {
  size_t at = version < 0x0800 ? 10 : version < 0x0950 ? 14 : 16;
  if (at + 2 > pageSize) return 0;
  return GetLE16(page + at);
}

void FindRecords(const FuzzFileSetInput& input) {
  LLFileState.FileVersion = Versions[input.Choice[0] % VersionCount];
  LLFileState.PageSize = static_cast<uint16_t>(input.Choice[1] << 8);
  const uint16_t pageSize = LLFileState.PageSize;
  // Exactly PageSize bytes on the heap, so that a read past the page is
  // caught; zeros where the payload is shorter.
  HeapBytes page = Allocate(pageSize);
  const size_t pageBytes = input.PayloadSize < pageSize ? input.PayloadSize : pageSize;
  if (pageBytes > 0) memcpy(page.get(), input.Payload, pageBytes);
  const uint8_t* bytes = page.get();
  uint16_t offset = 0;
  uint16_t length = 0;
  uint32_t last = LastSlotOf(page.get(), pageSize, LLFileState.FileVersion);
  uint32_t slots = last + 2 < MaxSlotsTried ? last + 2 : MaxSlotsTried;
  for (uint32_t slot = 0; slot <= slots; ++slot) {
    if (LLFindRecord(bytes, static_cast<uint16_t>(slot), &offset, &length) &&
        (static_cast<uint32_t>(offset) + length > pageSize))
      abort();  // a record that does not lie within its page
  }
  LLFindRecord(bytes, static_cast<uint16_t>(input.Value & 0xFFFF), &offset, &length);
}

void ExpandRecord(const FuzzFileSetInput& input) {
  const size_t sourceLength = input.PayloadSize < MaxExpandSource ? input.PayloadSize : MaxExpandSource;
  HeapBytes source = Allocate(sourceLength);
  if (sourceLength > 0) memcpy(source.get(), input.Payload, sourceLength);
  const uint32_t capacity = (input.Value >> 16) % (MaxExpandCapacity + 1);
  HeapBytes destination = Allocate(capacity);
  uint32_t length = capacity;
  const uint8_t method = input.Choice[2] < 0xF0 ? input.Choice[2] % 3 : input.Choice[2];
  LLExpandRecord(method, source.get(), static_cast<uint32_t>(sourceLength), destination.get(),
                 &length);
  if (length > capacity) abort();  // more bytes produced than the destination holds
}

void ReadFromFileSet(const FuzzFileSetInput& input) {
  // A record is at most PageSize bytes; the destination holds exactly that.
  const uint32_t recordSize = LLFileState.PageSize;
  HeapBytes record = Allocate(recordSize);
  const uint32_t entries = LLPatEntriesPerPage();
  const uint32_t logicalPages[] = {0, 1, 2, 3, 4, entries, entries + 1, LLFileState.PageCount - 1,
                                   input.Value >> 16, 0xFFFFFFFFu};
  const uint16_t slots[] = {0, 1, 2, static_cast<uint16_t>(input.Value & 0xFFFF), 0xFFFF};
  for (uint32_t logical : logicalPages) {
    for (uint16_t slot : slots) {
      uint16_t length = 0;
      if (LLReadRecord(logical, slot, record.get(), &length) && length > recordSize) abort();
    }
  }
  for (int which = 0; which <= 1; ++which) {
    uint16_t length = 0;
    if (LLReadMiscData(record.get(), which, &length) && length > recordSize) abort();
  }

  PageHeaderRecord header;
  LLLoadHeaderCache(input.Flags & 0x20);
  LLLoadHeaderCache(1);  // loaded already: no second table
  const uint32_t cached[] = {0, 4, 5, LLFileState.HeaderCacheCount - 1, LLFileState.HeaderCacheCount};
  for (uint32_t page : cached) LLGetCachedHeader(page, &header);
  LLFreeHeaderCache();

  LLLoadAuxPair();

  const uint16_t part = static_cast<uint16_t>(input.Choice[0] % (LLFileState.PartCount + 1));
  const uint32_t offset = input.Value;
  LLReadPartPage(part, offset, input.Choice[2] & 1);
  LLReadPartPage(0, 0, 0);
  LLReadPartHeader(part, offset, &header);
  LLReadLogicalHeader(input.Value >> 8, &header);
  LLReadPhysicalHeader(input.Value >> 8, &header);
  uint8_t delta[64];
  LLReadDeltaPage(input.Choice[1], delta, sizeof delta);
  LLReadDeltaAt(input.Value & 0xFF, delta, sizeof delta);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFileSetInput input = FuzzReadInput(data, size);
  FuzzResetLibrary();
  LLFileState.Verbose = (input.Flags & FuzzFlagVerbose) != 0;
  FindRecords(input);
  ExpandRecord(input);

  FuzzResetLibrary();
  LLFileState.Verbose = (input.Flags & FuzzFlagVerbose) != 0;
  const char* path = FuzzWriteFileSet(input);
  const int kind = (input.Flags & FuzzFlagShared) ? PlatformOpenShared : PlatformOpenReadExclusive;
  if (LLOpenFileSet(path, kind) != 0) ReadFromFileSet(input);
  LLCloseAll();
  LLFreeHeaderCache();
  return 0;
}
