// Key order: the key definitions of the FCR, the alternate collating
// sequences, and the order of the records along one key, built from the
// records themselves in one physical pass.
//
// Each record's key value is turned into a comparable form, a byte string of
// the key's length that plain byte comparison puts in key order (integers
// with their sign bit turned and their bytes reversed, strings through the
// collating sequence or upper case, descending segments inverted). Sorting
// those with the record's physical index as the tie-break keeps duplicates in
// physical order.
#include <algorithm>
#include <cstring>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "StandInEngine/EngineState.h"
#include "StandInEngine/StandInEngine.h"

// ---------------------------------------------------------------- key specs

// Reads the segments of one key starting at a spec offset in the FCR page.
static void ReadKey(EngineFile* file, uint32_t at, KeyDefinition* key)
{
  const uint8_t* fcr = file->Fcr.data();
  uint32_t size = (uint32_t)file->Fcr.size();
  key->FirstSegment = (uint32_t)file->Segments.size();
  key->SegmentCount = 0;
  key->Length = 0;
  key->Broken = 0;
  for (;;) {
    if (at + KeySpecLength > size) {
      key->Broken = 1;
      return;
    }
    const uint8_t* spec = fcr + at;
    KeySegment segment;
    segment.Flags = GetLE16(spec + KeySpecFlags);
    uint32_t stored = GetLE16(spec + KeySpecPosition);
    // From 6.x the stored position counts from the slot's start, before the
    // record's usage count.
    if (stored < file->SlotPrefix) {
      key->Broken = 1;
      return;
    }
    segment.Offset = stored - file->SlotPrefix;
    segment.Length = GetLE16(spec + KeySpecLengthField);
    if (segment.Length == 0 || segment.Offset + segment.Length > file->RecordLength) {
      key->Broken = 1;
      return;
    }
    // Real engines mark an extended type with flag 0x0100 and leave the type
    // byte zero otherwise; a type byte without the flag is taken as well, as
    // writers that omit the flag mean it.
    if ((segment.Flags & KeyFlagExtended) || spec[KeySpecType] != 0)
      segment.Type = spec[KeySpecType];
    else
      segment.Type = (segment.Flags & KeyFlagBinary) ? KeyTypeUnsigned : KeyTypeString;
    segment.AcsNumber = file->Layout == LayoutOld ? 0 : spec[KeySpecAcsNumber];
    file->Segments.push_back(segment);
    key->SegmentCount++;
    key->Length += segment.Length;
    at += KeySpecLength;
    if (!(segment.Flags & KeyFlagSegmented))
      return;
  }
}

int EngineLoadKeySpecs(EngineFile* file)
{
  file->Segments.clear();
  file->Keys.clear();
  const uint8_t* fcr = file->Fcr.data();
  uint32_t size = (uint32_t)file->Fcr.size();
  // A key count the FCR page cannot hold is a broken FCR.
  if (file->KeyCount > size / KeySpecLength)
    return StatusNotBtrieveFile;
  uint32_t at = FcrKeySpecsOld;
  uint32_t table = GetLE16(fcr + FcrKeyAddressTable);
  for (uint32_t k = 0; k < file->KeyCount; k++) {
    KeyDefinition key;
    if (file->Layout == LayoutOld) {
      // 3.x-5.x: the segments of all keys one after another.
      ReadKey(file, at, &key);
      at += key.SegmentCount * KeySpecLength;
    } else {
      // The key address table: one 16-bit offset per key.
      uint32_t entry = table + 2 * k;
      if (entry + 2 > size) {
        key.FirstSegment = (uint32_t)file->Segments.size();
        key.SegmentCount = 0;
        key.Length = 0;
        key.Broken = 1;
      } else {
        ReadKey(file, GetLE16(fcr + entry), &key);
      }
    }
    file->Keys.push_back(key);
    if (file->Layout == LayoutOld && key.Broken) {
      // The keys after a broken one cannot be found.
      for (k++; k < file->KeyCount; k++) {
        KeyDefinition lost = {(uint32_t)file->Segments.size(), 0, 0, 1};
        file->Keys.push_back(lost);
      }
    }
  }
  return StatusSuccess;
}

// ---------------------------------------------------------------- collating sequences

static int NeedsAcs(const EngineFile* file, const KeyDefinition* key, uint32_t* most)
{
  int needs = 0;
  *most = 1;
  for (uint32_t s = 0; s < key->SegmentCount; s++) {
    const KeySegment& segment = file->Segments[key->FirstSegment + s];
    if (segment.Flags & KeyFlagAcs) {
      needs = 1;
      if (segment.AcsNumber > *most)
        *most = segment.AcsNumber;
    }
  }
  return needs;
}

static void KeepAcs(EngineFile* file, const uint8_t* page)
{
  const uint8_t* table = page + file->RecordBase + 1 + AcsNameLength;
  file->AcsTables.insert(file->AcsTables.end(), table, table + AcsTableLength);
  file->AcsCount++;
}

// Finds the file's collating sequences: from 6.x the pages of type 'A' in
// logical page order (a numbered ACS n is the n-th of them); before, the one
// page that carries the signature and the name that the FCR holds.
static void LoadAcs(EngineFile* file, uint32_t wanted)
{
  file->AcsLoaded = 1;
  file->AcsTables.clear();
  file->AcsCount = 0;
  if (file->RecordBase + 1 + AcsNameLength + AcsTableLength > file->PageSize)
    return;
  for (uint32_t page = file->FirstWalkPage; page <= file->LastWalkPage && file->AcsCount < wanted;
       page++) {
    const uint8_t* bytes;
    if (file->Layout == LayoutOld) {
      bytes = EngineReadPage(file, &file->AuxReader, page, 0);
      if (bytes == nullptr)
        return;
      if (GetHighWordFirst32(bytes) != page || (GetLE16(bytes + 4) & OldDataPageBit) ||
          bytes[file->RecordBase] != AcsSignature ||
          memcmp(bytes + file->RecordBase + 1, file->Fcr.data() + FcrAcsName, AcsNameLength) != 0)
        continue;
      KeepAcs(file, bytes);
      return;
    }
    uint32_t physical;
    uint8_t type;
    if (EngineMapPage(file, page, &physical, &type) != StatusSuccess)
      return;
    if (type != PageTypeAcs)
      continue;
    bytes = EngineReadPage(file, &file->AuxReader, physical, 0);
    if (bytes == nullptr)
      return;
    if (bytes[file->RecordBase] == AcsSignature)
      KeepAcs(file, bytes);
  }
}

// ---------------------------------------------------------------- comparable form

static void ComparableForm(const EngineFile* file, const KeyDefinition* key,
                           const uint8_t* record, uint8_t* value, uint8_t* form)
{
  for (uint32_t s = 0; s < key->SegmentCount; s++) {
    const KeySegment& segment = file->Segments[key->FirstSegment + s];
    const uint8_t* source = record + segment.Offset;
    uint32_t length = segment.Length;
    memcpy(value, source, length);

    const uint8_t* table = nullptr;
    int noCase = 0;
    if ((segment.Flags & KeyFlagAcs) && file->AcsCount > 0) {
      uint32_t n = segment.AcsNumber;
      if (n < 1 || n > file->AcsCount)
        n = 1;
      table = file->AcsTables.data() + (size_t)(n - 1) * AcsTableLength;
    } else if (segment.Flags & KeyFlagNoCase) {
      noCase = 1;
    }

    switch (segment.Type) {
    case KeyTypeInteger:
    case KeyTypeAutoIncrement:
      for (uint32_t i = 0; i < length; i++)
        form[i] = source[length - 1 - i];
      form[0] ^= 0x80;
      break;
    case KeyTypeUnsigned:
      for (uint32_t i = 0; i < length; i++)
        form[i] = source[length - 1 - i];
      break;
    case KeyTypeFloat:
      if (length == 4 || length == 8) {
        for (uint32_t i = 0; i < length; i++)
          form[i] = source[length - 1 - i];
        if (form[0] & 0x80) {
          for (uint32_t i = 0; i < length; i++)
            form[i] = (uint8_t)~form[i];
        } else {
          form[0] ^= 0x80;
        }
      } else {
        memcpy(form, source, length);
      }
      break;
    case KeyTypeString:
    case KeyTypeZString:
    case KeyTypeLString: {
      uint32_t from = 0, count = length, out = 0;
      if (segment.Type == KeyTypeZString) {
        const void* zero = memchr(source, 0, length);
        count = zero == nullptr ? length : (uint32_t)((const uint8_t*)zero - source);
      } else if (segment.Type == KeyTypeLString && length > 1) {
        from = 1;
        count = source[0] < length - 1 ? source[0] : length - 1;
      }
      for (uint32_t i = 0; i < count; i++) {
        uint8_t c = source[from + i];
        if (table != nullptr)
          c = table[c];
        else if (noCase && c >= 'a' && c <= 'z')
          c = (uint8_t)(c - 'a' + 'A');
        form[out++] = c;
      }
      while (out < length)
        form[out++] = 0;
      // An lstring's own length decides between equal contents.
      if (segment.Type == KeyTypeLString && length > 1)
        form[length - 1] = (uint8_t)count;
      break;
    }
    default:
      memcpy(form, source, length);
      break;
    }
    if (segment.Flags & KeyFlagDescending)
      for (uint32_t i = 0; i < length; i++)
        form[i] = (uint8_t)~form[i];
    value += length;
    form += length;
  }
}

// ---------------------------------------------------------------- the order

static void ClearOrder(KeyOrder* order)
{
  order->KeyNumber = -1;
  order->Damaged = 0;
  std::vector<uint8_t>().swap(order->Values);
  std::vector<uint8_t>().swap(order->SortBytes);
  std::vector<uint32_t>().swap(order->Pages);
  std::vector<uint16_t>().swap(order->Slots);
  std::vector<uint32_t>().swap(order->Order);
}

int EngineBuildKeyOrder(EngineFile* file, int keyNumber)
{
  KeyOrder* order = &file->Order;
  if (order->KeyNumber == keyNumber)
    return StatusSuccess;
  ClearOrder(order);
  const KeyDefinition* key = &file->Keys[keyNumber];
  if (key->Broken)
    return StatusDamaged;
  uint32_t most;
  if (NeedsAcs(file, key, &most) && (!file->AcsLoaded || file->AcsCount < most))
    LoadAcs(file, most);

  uint32_t length = key->Length;
  order->Length = length;
  // Room for the records the FCR counts, but never more than the file holds.
  uint64_t expected = GetHighWordFirst32(file->Fcr.data() + FcrRecordCount);
  uint64_t room = file->TotalSize / file->PhysRecLen + 1;
  if (expected > room)
    expected = room;
  order->Values.reserve(expected * length);
  order->SortBytes.reserve(expected * length);
  order->Pages.reserve(expected);
  order->Slots.reserve(expected);

  RecordCursor cursor = {0, 0};
  const uint8_t* slot = nullptr;
  int status = EngineStepRecord(file, &cursor, 0, 1, &slot);
  while (status == StatusSuccess) {
    const uint8_t* record = slot + file->SlotPrefix;
    if (file->Variable) {
      // The variable part is not part of the key, but a broken chain is
      // damage that the key walk must report as the physical walk does.
      // Variable pages come through the aux reader: the slot stays valid.
      uint32_t ignored;
      if (EngineCopySlot(file, slot, nullptr, 0, &ignored) == StatusDamaged) {
        status = StatusDamaged;
        break;
      }
    }
    size_t at = order->Values.size();
    order->Values.resize(at + length);
    order->SortBytes.resize(at + length);
    ComparableForm(file, key, record, order->Values.data() + at, order->SortBytes.data() + at);
    order->Pages.push_back(cursor.Page);
    order->Slots.push_back((uint16_t)cursor.Slot);
    status = EngineStepRecord(file, &cursor, 0, 0, &slot);
  }
  order->Damaged = status != StatusEndOfFile;

  size_t count = order->Pages.size();
  order->Order.resize(count);
  for (size_t i = 0; i < count; i++)
    order->Order[i] = (uint32_t)i;
  const uint8_t* forms = order->SortBytes.data();
  std::sort(order->Order.begin(), order->Order.end(), [forms, length](uint32_t a, uint32_t b) {
    int c = memcmp(forms + (size_t)a * length, forms + (size_t)b * length, length);
    return c != 0 ? c < 0 : a < b;
  });
  order->KeyNumber = keyNumber;
  return StatusSuccess;
}

int64_t EngineFindInOrder(EngineFile* file, const RecordCursor* cursor)
{
  KeyOrder* order = &file->Order;
  const uint8_t* record = EngineFixedPart(file, &file->AuxReader, cursor);
  if (record == nullptr || order->KeyNumber < 0)
    return -1;
  uint32_t length = order->Length;
  std::vector<uint8_t> value(length), form(length);
  ComparableForm(file, &file->Keys[order->KeyNumber], record, value.data(), form.data());
  const uint8_t* forms = order->SortBytes.data();
  const uint8_t* wanted = form.data();
  auto first = std::lower_bound(order->Order.begin(), order->Order.end(), 0u,
                                [forms, wanted, length](uint32_t a, uint32_t) {
                                  return memcmp(forms + (size_t)a * length, wanted, length) < 0;
                                });
  for (auto at = first; at != order->Order.end(); ++at) {
    if (memcmp(forms + (size_t)*at * length, wanted, length) != 0)
      break;
    if (order->Pages[*at] == cursor->Page && order->Slots[*at] == cursor->Slot)
      return at - order->Order.begin();
  }
  return -1;
}
