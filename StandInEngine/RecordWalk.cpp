// Records in physical order: which pages hold data, which slots hold
// records, the free-slot chain of the older formats, variable-length parts,
// and the 4-byte position of a record.
#include <algorithm>
#include <cstring>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "StandInEngine/EngineState.h"
#include "StandInEngine/StandInEngine.h"

// A variable part longer than this many fragments, or than this many bytes,
// can only come from a chain that loops.
static const uint32_t MaxFragments = 65536;
static const uint32_t MaxVariableBytes = 16u * 1024 * 1024;
static const uint32_t NoLink = 0xFFFFFFFFu;
// The fixed part of a variable-length record, kept while its variable part
// is checked (EngineCopySlot).
static std::vector<uint8_t> FixedPartCopy;

enum { PageIsData = 0, PageIsOther = 1 };

// The logical page number and type that a 6.x-and-later page header carries.
static uint32_t HeaderPage(const EngineFile* file, const uint8_t* page, uint8_t* type)
{
  if (file->Layout == LayoutV6 || file->Layout == LayoutV7) {
    *type = page[1];
    return ((uint32_t)page[0] << 16) | GetLE16(page + 2);
  }
  *type = page[4];
  return GetLE32(page);
}

// Finds and checks a page of the given type: PageIsData with *data set,
// PageIsOther when the page is of another kind, StatusDamaged when it cannot
// be read or does not carry its own number and type.
// Reads a page whose physical page is known and checks that it carries its
// own number (and, from 6.x, the wanted type).
static int LoadPhysicalPage(EngineFile* file, PageReader* reader, uint32_t page,
                            uint32_t physical, uint8_t wanted, int backward, const uint8_t** data)
{
  const uint8_t* bytes = EngineReadPage(file, reader, physical, backward);
  if (bytes == nullptr)
    return StatusDamaged;
  if (file->Layout == LayoutOld) {
    if (GetHighWordFirst32(bytes) != page)
      return StatusDamaged;
    // Only data pages are marked; a variable page is known by being pointed at.
    if (wanted == PageTypeData && !(GetLE16(bytes + 4) & OldDataPageBit))
      return PageIsOther;
  } else {
    uint8_t headerType;
    if (HeaderPage(file, bytes, &headerType) != page || headerType != wanted)
      return StatusDamaged;
  }
  *data = bytes;
  return PageIsData;
}

static int LoadTypedPage(EngineFile* file, PageReader* reader, uint32_t page, uint8_t wanted,
                         int backward, const uint8_t** data, uint32_t* physicalOut = nullptr)
{
  uint32_t physical = page;
  if (file->Layout != LayoutOld) {
    uint8_t type;
    if (EngineMapPage(file, page, &physical, &type) != StatusSuccess)
      return page == file->PageCount && page != 0 ? (int)PageIsOther : (int)StatusDamaged;
    if (type != wanted)
      return wanted == PageTypeData ? (int)PageIsOther : (int)StatusDamaged;
  }
  if (physicalOut != nullptr)
    *physicalOut = physical;
  return LoadPhysicalPage(file, reader, page, physical, wanted, backward, data);
}

static int LoadDataPage(EngineFile* file, PageReader* reader, uint32_t page, int backward,
                        const uint8_t** data)
{
  // CachedData is null while no page is cached: CachedPage then holds
  // EngineNoPage, which is also the number of the last page a walk over a
  // page count of 0xFFFFFFFF visits.
  if (reader == &file->DataReader && page == file->CachedPage && file->CachedData != nullptr) {
    *data = file->CachedData;
    return PageIsData;
  }
  uint32_t physical = 0;
  int state = LoadTypedPage(file, reader, page, PageTypeData, backward, data, &physical);
  if (state == PageIsData && reader == &file->DataReader) {
    file->CachedPage = page;
    file->CachedPhysical = physical;
    file->CachedData = *data;
  }
  return state;
}

// ---------------------------------------------------------------- free slots

enum { AddressValid = 0, AddressWrong = 1, AddressInBadPage = 2 };

// A slot address of a 3.x-5.x file: the physical offset of a slot of a data
// page that the walk covers. AddressWrong when no slot can lie there,
// AddressInBadPage when its page is damaged (or no data page).
static int CheckSlotAddress(EngineFile* file, uint32_t address)
{
  uint32_t page = address / file->PageSize;
  uint32_t within = address % file->PageSize;
  if (page < file->FirstWalkPage || page > file->LastWalkPage || within < file->RecordBase)
    return AddressWrong;
  if ((within - file->RecordBase) % file->PhysRecLen != 0 ||
      (within - file->RecordBase) / file->PhysRecLen >= file->SlotsPerPage)
    return AddressWrong;
  const uint8_t* data;
  if (LoadTypedPage(file, &file->AuxReader, page, PageTypeData, 0, &data) != PageIsData)
    return AddressInBadPage;
  return AddressValid;
}

enum { LinkOk = 0, LinkEnd = 1, LinkBad = 2, LinkIntoBadPage = 3 };

// The link stored in the free slot at a valid address.
static int NextFree(EngineFile* file, uint32_t address, uint32_t* next)
{
  const uint8_t* data;
  if (LoadTypedPage(file, &file->AuxReader, address / file->PageSize, PageTypeData, 0, &data) !=
      PageIsData)
    return LinkBad;
  uint32_t link = GetHighWordFirst32(data + address % file->PageSize);
  if (link == NoLink)
    return LinkEnd;
  *next = link;
  switch (CheckSlotAddress(file, link)) {
  case AddressValid: return LinkOk;
  case AddressInBadPage: return LinkIntoBadPage;
  default: return LinkBad;
  }
}

// Follows the chain from the FCR once. A loop is found in constant memory
// (Brent's method) before any slot is kept; then the chain's distinct slots
// are kept, sorted, and the slot whose link loops or leaves the file is
// remembered as the place of the damage.
static void LoadFreeChain(EngineFile* file)
{
  file->FreeSlots.clear();
  file->FreeChainBreak = EngineNoOffset;
  file->FreeChainHeadBroken = 0;
  // Loaded only once complete: a chain cut short by lack of memory is
  // followed again at the next walk.
  uint32_t head = GetHighWordFirst32(file->Fcr.data() + FcrFreeSlotChain);
  if (head == NoLink) {
    file->FreeChainLoaded = 1;
    return;
  }
  int headState = CheckSlotAddress(file, head);
  if (headState == AddressWrong) {
    file->FreeChainHeadBroken = 1;
    file->FreeChainLoaded = 1;
    return;
  }
  if (headState == AddressInBadPage) {
    file->FreeChainBreak = head;
    file->FreeChainLoaded = 1;
    return;
  }

  // Brent: lambda is the loop's length, mu the index where it starts.
  uint64_t power = 1, lambda = 1;
  uint32_t tortoise = head, hare = head;
  int looped = 0;
  int state = NextFree(file, hare, &hare);
  while (state == LinkOk) {
    if (tortoise == hare) {
      looped = 1;
      break;
    }
    if (power == lambda) {
      tortoise = hare;
      power *= 2;
      lambda = 0;
    }
    state = NextFree(file, hare, &hare);
    lambda++;
  }
  uint64_t keep = UINT64_MAX;
  if (looped) {
    tortoise = head;
    hare = head;
    for (uint64_t i = 0; i < lambda; i++)
      NextFree(file, hare, &hare);
    uint64_t mu = 0;
    while (tortoise != hare) {
      NextFree(file, tortoise, &tortoise);
      NextFree(file, hare, &hare);
      mu++;
    }
    keep = mu + lambda;
  }

  uint32_t at = head;
  for (uint64_t kept = 0;; ) {
    file->FreeSlots.push_back(at);
    kept++;
    if (kept == keep) {
      file->FreeChainBreak = at;  // its link closes the loop
      break;
    }
    uint32_t next = 0;
    int link = NextFree(file, at, &next);
    if (link == LinkEnd)
      break;
    if (link == LinkBad) {
      file->FreeChainBreak = at;
      break;
    }
    if (link == LinkIntoBadPage) {
      // The link is sound; the page it leads to is the damage.
      file->FreeChainBreak = next;
      break;
    }
    at = next;
  }
  std::sort(file->FreeSlots.begin(), file->FreeSlots.end());
  file->FreeChainLoaded = 1;
}

// 1 a record, 0 a free slot, StatusDamaged the slot whose free link is broken.
static inline int SlotState(const EngineFile* file, uint32_t page, const uint8_t* data, uint32_t slot)
{
  if (file->Layout != LayoutOld)
    return GetLE16(data + file->RecordBase + (size_t)slot * file->PhysRecLen) != 0;
  uint64_t address = (uint64_t)page * file->PageSize + file->RecordBase +
                     (uint64_t)slot * file->PhysRecLen;
  // Past the place where the chain breaks no slot is known to be free or
  // not: the walk cannot go beyond it.
  if (address >= file->FreeChainBreak)
    return StatusDamaged;
  if (page == file->FillingPage && slot >= file->FillingSlots)
    return 0;  // never held a record
  if (address <= 0xFFFFFFFFull &&
      std::binary_search(file->FreeSlots.begin(), file->FreeSlots.end(), (uint32_t)address))
    return 0;
  return 1;
}

// ---------------------------------------------------------------- stepping

int EngineStepRecord(EngineFile* file, RecordCursor* cursor, int backward, int fromEdge,
                     const uint8_t** slotBytes)
{
  // The common case first: the next slot of the page the walk is on, in a
  // file whose slots carry their usage count.
  if (!fromEdge && !backward && file->Layout != LayoutOld && cursor->Page == file->CachedPage) {
    const uint8_t* data = file->CachedData;
    for (uint32_t slot = cursor->Slot + 1; slot < file->SlotsPerPage; slot++) {
      const uint8_t* bytes = data + file->RecordBase + (size_t)slot * file->PhysRecLen;
      if (bytes[0] | bytes[1]) {
        cursor->Slot = slot;
        *slotBytes = bytes;
        return StatusSuccess;
      }
    }
  }
  if (file->Layout == LayoutOld && !file->FreeChainLoaded)
    LoadFreeChain(file);
  if (file->Layout == LayoutOld && file->FreeChainHeadBroken)
    return StatusDamaged;
  uint32_t first = file->FirstWalkPage, last = file->LastWalkPage;
  if (first > last || file->SlotsPerPage == 0)
    return StatusEndOfFile;

  uint32_t page;
  int64_t slot;
  if (fromEdge) {
    page = backward ? last : first;
    slot = backward ? (int64_t)file->SlotsPerPage - 1 : 0;
  } else {
    page = cursor->Page;
    slot = (int64_t)cursor->Slot + (backward ? -1 : 1);
    if (page < first) {
      if (backward)
        return StatusEndOfFile;
      page = first;
      slot = 0;
    } else if (page > last) {
      if (!backward)
        return StatusEndOfFile;
      page = last;
      slot = (int64_t)file->SlotsPerPage - 1;
    }
  }

  // Every page from here to the end is looked at once at most: the walk is
  // bounded by the page range, which a short file ends with damage.
  for (;;) {
    const uint8_t* data = nullptr;
    int state = LoadDataPage(file, &file->DataReader, page, backward, &data);
    if (state == StatusDamaged)
      return StatusDamaged;
    if (state == PageIsData) {
      if (!backward) {
        for (; slot < (int64_t)file->SlotsPerPage; slot++) {
          int live = SlotState(file, page, data, (uint32_t)slot);
          if (live == StatusDamaged)
            return StatusDamaged;
          if (live) {
            cursor->Page = page;
            cursor->Slot = (uint32_t)slot;
            *slotBytes = data + file->RecordBase + (size_t)slot * file->PhysRecLen;
            return StatusSuccess;
          }
        }
      } else {
        if (slot >= (int64_t)file->SlotsPerPage)
          slot = (int64_t)file->SlotsPerPage - 1;
        for (; slot >= 0; slot--) {
          int live = SlotState(file, page, data, (uint32_t)slot);
          if (live == StatusDamaged)
            return StatusDamaged;
          if (live) {
            cursor->Page = page;
            cursor->Slot = (uint32_t)slot;
            *slotBytes = data + file->RecordBase + (size_t)slot * file->PhysRecLen;
            return StatusSuccess;
          }
        }
      }
    }
    if (backward) {
      if (page == first)
        return StatusEndOfFile;
      page--;
      slot = (int64_t)file->SlotsPerPage - 1;
    } else {
      if (page == last)
        return StatusEndOfFile;
      page++;
      slot = 0;
    }
  }
}

// ---------------------------------------------------------------- records

// Where a fragment that starts at offset ends: at the nearest fragment start
// above it among the used entries of the page's fragment table, or at the
// table itself. The table is read from the page's end downwards and ends at
// a zero word or at a word that cannot be an entry.
static uint32_t FragmentEnd(const EngineFile* file, const uint8_t* page, uint32_t offset)
{
  uint32_t ps = file->PageSize;
  uint32_t tableStart = ps;
  uint32_t best = ps;
  for (uint32_t m = 0;; m++) {
    if (2 * (m + 1) > ps)
      break;
    uint32_t position = ps - 2 * (m + 1);
    if (position < file->RecordBase || position < offset)
      break;
    uint16_t word = GetLE16(page + position);
    if (word == 0)
      break;
    if (word != 0xFFFF) {
      uint32_t start = word & 0x7FFFu;
      if (start >= position)
        break;
      if (start > offset && start < best)
        best = start;
    }
    tableStart = position;
  }
  return best < tableStart ? best : tableStart;
}

// Appends the variable part that starts at link to the buffer. used counts
// every byte of the record, copied or not.
static int CopyVariablePart(EngineFile* file, uint32_t link, uint8_t* buffer, uint32_t size,
                            uint64_t* used)
{
  uint32_t ps = file->PageSize;
  for (uint32_t fragments = 0; link != NoLink; fragments++) {
    if (fragments >= MaxFragments || *used > MaxVariableBytes)
      return StatusDamaged;
    uint8_t bytes[4];
    PutLE32(bytes, link);
    uint32_t page = ((uint32_t)bytes[0] << 16) | ((uint32_t)bytes[2] << 8) | bytes[1];
    uint32_t number = bytes[3];
    const uint8_t* data = nullptr;
    if (LoadTypedPage(file, &file->AuxReader, page, PageTypeVariable, 0, &data) != PageIsData)
      return StatusDamaged;
    if (2 * (number + 1) > ps)
      return StatusDamaged;
    uint32_t position = ps - 2 * (number + 1);
    if (position < file->RecordBase)
      return StatusDamaged;
    uint16_t entry = GetLE16(data + position);
    if (entry == 0xFFFF)
      return StatusDamaged;
    uint32_t start = entry & 0x7FFFu;
    if (start < file->RecordBase || start >= position)
      return StatusDamaged;
    uint32_t end = FragmentEnd(file, data, start);
    // From 6.x every fragment starts with the link to the next one; before,
    // bit 15 of the entry says so.
    int linked = file->Layout != LayoutOld || (entry & 0x8000);
    uint32_t next = NoLink;
    if (linked) {
      if (end - start < 4)
        return StatusDamaged;
      next = GetLE32(data + start);
      start += 4;
    }
    uint32_t length = end - start;
    if (*used < size) {
      uint64_t room = size - *used;
      uint32_t piece = room < length ? (uint32_t)room : length;
      memcpy(buffer + *used, data + start, piece);
    }
    *used += length;
    link = next;
  }
  return StatusSuccess;
}

static int PageForCursor(EngineFile* file, PageReader* reader, const RecordCursor* cursor,
                         const uint8_t** slot)
{
  const uint8_t* data = nullptr;
  if (LoadDataPage(file, reader, cursor->Page, 0, &data) != PageIsData ||
      cursor->Slot >= file->SlotsPerPage)
    return StatusDamaged;
  if (SlotState(file, cursor->Page, data, cursor->Slot) != 1)
    return StatusDamaged;
  *slot = data + file->RecordBase + (size_t)cursor->Slot * file->PhysRecLen;
  return StatusSuccess;
}

int EngineCopyRecordAt(EngineFile* file, PageReader* reader, const RecordCursor* cursor,
                       uint32_t physicalPage, uint8_t* buffer, uint32_t size, uint32_t* length)
{
  const uint8_t* data = nullptr;
  if (LoadPhysicalPage(file, reader, cursor->Page, physicalPage, PageTypeData, 0, &data) !=
          PageIsData ||
      cursor->Slot >= file->SlotsPerPage || SlotState(file, cursor->Page, data, cursor->Slot) != 1)
    return StatusDamaged;
  const uint8_t* slot = data + file->RecordBase + (size_t)cursor->Slot * file->PhysRecLen;
  return EngineCopySlot(file, slot, buffer, size, length);
}

const uint8_t* EngineFixedPart(EngineFile* file, PageReader* reader, const RecordCursor* cursor)
{
  const uint8_t* slot = nullptr;
  if (PageForCursor(file, reader, cursor, &slot) != StatusSuccess)
    return nullptr;
  return slot + file->SlotPrefix;
}

int EngineCopyRecord(EngineFile* file, PageReader* reader, const RecordCursor* cursor,
                     uint8_t* buffer, uint32_t size, uint32_t* length)
{
  const uint8_t* slot = nullptr;
  if (PageForCursor(file, reader, cursor, &slot) != StatusSuccess)
    return StatusDamaged;
  return EngineCopySlot(file, slot, buffer, size, length);
}

int EngineCopySlot(EngineFile* file, const uint8_t* slot, uint8_t* buffer, uint32_t size,
                   uint32_t* length)
{
  const uint8_t* record = slot + file->SlotPrefix;
  uint32_t fixed = file->RecordLength;
  if (buffer == nullptr)
    size = 0;
  uint64_t used = fixed;
  if (!file->Variable && size > 0)
    memcpy(buffer, record, fixed <= size ? fixed : size);
  if (file->Variable) {
    uint32_t link = GetLE32(record + fixed);
    uint32_t blanks = file->BlankTruncation ? GetLE16(record + fixed + 4) : 0;
    // A record whose variable part cannot be read whole is damage, and the
    // caller's buffer must still hold the last good record then: the chain
    // is followed once without copying before a byte reaches the buffer.
    // The variable pages come through the aux reader, which may hold the
    // slot's page, so the fixed part is kept aside first.
    FixedPartCopy.assign(record, record + fixed);
    uint64_t total = fixed;
    int status = CopyVariablePart(file, link, nullptr, 0, &total);
    if (status != StatusSuccess)
      return status;
    if (size > 0)
      memcpy(buffer, FixedPartCopy.data(), fixed <= size ? fixed : size);
    status = CopyVariablePart(file, link, buffer, size, &used);
    if (status != StatusSuccess)
      return status;
    for (uint32_t n = 0; n < blanks; n++, used++)
      if (used < size)
        buffer[used] = ' ';
  }
  if (used > size) {
    *length = size;
    return StatusDataBufferShort;
  }
  *length = (uint32_t)used;
  return StatusSuccess;
}

uint32_t EnginePositionValue(const EngineFile* file, const RecordCursor* cursor)
{
  switch (file->Layout) {
  case LayoutOld:
  case LayoutV6: {
    // The slot's byte offset (physical before 6.x, in logical page space
    // from 6.x), high word first.
    uint32_t offset = cursor->Page * file->PageSize + file->RecordBase +
                      cursor->Slot * file->PhysRecLen;
    return SwapHalves(offset);
  }
  case LayoutV7: return (cursor->Page << 8) | (cursor->Slot & 0xFF);
  default:
    return (cursor->Page << file->BitsInRecordId) |
           (cursor->Slot & ((1u << file->BitsInRecordId) - 1));
  }
}
