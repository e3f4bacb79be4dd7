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

// The key value of a record: its segments one after another.
static void KeyValue(const EngineFile* file, const KeyDefinition* key, const uint8_t* record,
                     uint8_t* value)
{
  for (uint32_t s = 0; s < key->SegmentCount; s++) {
    const KeySegment& segment = file->Segments[key->FirstSegment + s];
    memcpy(value, record + segment.Offset, segment.Length);
    value += segment.Length;
  }
}

// The comparable form of a key value.
static void ComparableForm(const EngineFile* file, const KeyDefinition* key,
                           const uint8_t* value, uint8_t* form)
{
  for (uint32_t s = 0; s < key->SegmentCount; s++) {
    const KeySegment& segment = file->Segments[key->FirstSegment + s];
    const uint8_t* source = value;
    uint32_t length = segment.Length;

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
  order->Count = 0;
  order->Identity = 1;
  order->LastPage = EngineNoPage;
  order->LastPhysical = EngineNoPage;
  order->Damaged = 0;
  std::vector<uint8_t>().swap(order->Values);
  std::vector<uint8_t>().swap(order->SortBytes);
  std::vector<uint32_t>().swap(order->Pages);
  std::vector<uint16_t>().swap(order->Slots);
  std::vector<uint32_t>().swap(order->Order);
  std::vector<uint32_t>().swap(order->DataPages);
}

static inline int CompareForms(const uint8_t* a, const uint8_t* b, uint32_t length)
{
  for (uint32_t i = 0; i < length; i++)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return 0;
}

// Sorts the record indexes by comparable form, ties by physical index. Keys
// of up to 8 bytes are sorted as one 64-bit number.
static void SortOrder(KeyOrder* order, size_t count)
{
  uint32_t length = order->Length;
  const uint8_t* forms = order->SortBytes.data();
  order->Order.resize(count);
  for (size_t n = 0; n < count; n++)
    order->Order[n] = (uint32_t)n;
  if (length <= 8) {
    std::vector<uint64_t> packed(count);
    for (size_t n = 0; n < count; n++) {
      uint64_t value = 0;
      for (uint32_t b = 0; b < 8; b++)
        value = (value << 8) | (b < length ? forms[n * length + b] : 0);
      packed[n] = value;
    }
    std::sort(order->Order.begin(), order->Order.end(), [&packed](uint32_t a, uint32_t b) {
      return packed[a] != packed[b] ? packed[a] < packed[b] : a < b;
    });
    return;
  }
  std::sort(order->Order.begin(), order->Order.end(), [forms, length](uint32_t a, uint32_t b) {
    int c = memcmp(forms + (size_t)a * length, forms + (size_t)b * length, length);
    return c != 0 ? c < 0 : a < b;
  });
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
  // Room for the records the FCR counts, but never more than the file holds;
  // more are made room for as they come.
  uint64_t room = GetHighWordFirst32(file->Fcr.data() + FcrRecordCount);
  uint64_t mostRecords = file->TotalSize / file->PhysRecLen + 1;
  if (room > mostRecords)
    room = mostRecords;
  // A damaged count must not make room for more than a start: the rest
  // comes as the records do.
  if (room > (1u << 20))
    room = 1u << 20;
  if (room < 16)
    room = 16;
  size_t count = 0;
  order->Values.reserve(room * length);
  order->Pages.reserve(room);
  order->Slots.reserve(room);
  // Whether the records come in key order, watched as they come: then the
  // key order is the physical order and needs neither sort nor forms.
  std::vector<uint8_t> forms(2 * (size_t)length);
  uint8_t* previous = forms.data();
  uint8_t* current = forms.data() + length;
  int inOrder = 1;

  RecordCursor cursor = {0, 0};
  const uint8_t* slot = nullptr;
  uint32_t lastPage = EngineNoPage;
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
    if (cursor.Page != lastPage) {
      // The walk has just read this page through the data reader.
      lastPage = cursor.Page;
      order->DataPages.push_back(cursor.Page);
      order->DataPages.push_back(file->CachedPage == cursor.Page ? file->CachedPhysical
                                                                 : EngineNoPage);
    }
    size_t at = order->Values.size();
    order->Values.resize(at + length);
    uint8_t* value = order->Values.data() + at;
    KeyValue(file, key, record, value);
    if (inOrder) {
      ComparableForm(file, key, value, current);
      if (count > 0 && CompareForms(previous, current, length) > 0)
        inOrder = 0;
      std::swap(previous, current);
    }
    order->Pages.push_back(cursor.Page);
    order->Slots.push_back((uint16_t)cursor.Slot);
    count++;
    status = EngineStepRecord(file, &cursor, 0, 0, &slot);
  }
  order->Damaged = status != StatusEndOfFile;
  // Room made for far more records than came (a damaged count) is given back.
  if (order->Pages.capacity() > 2 * count + 1024) {
    order->Values.shrink_to_fit();
    order->Pages.shrink_to_fit();
    order->Slots.shrink_to_fit();
  }
  order->Count = count;
  order->Identity = inOrder;
  if (!inOrder) {
    order->SortBytes.resize(count * length);
    for (size_t n = 0; n < count; n++)
      ComparableForm(file, key, order->Values.data() + n * length,
                     order->SortBytes.data() + n * length);
    SortOrder(order, count);
  }
  order->KeyNumber = keyNumber;
  return StatusSuccess;
}

uint32_t EnginePhysicalOfPage(EngineFile* file, uint32_t page)
{
  KeyOrder* order = &file->Order;
  if (order->LastPhysical != EngineNoPage && order->LastPage == page)
    return order->LastPhysical;
  const std::vector<uint32_t>& pages = order->DataPages;
  size_t low = 0, high = pages.size() / 2;
  while (low < high) {
    size_t middle = (low + high) / 2;
    if (pages[2 * middle] < page)
      low = middle + 1;
    else
      high = middle;
  }
  if (low < pages.size() / 2 && pages[2 * low] == page) {
    order->LastPage = page;
    order->LastPhysical = pages[2 * low + 1];
    return order->LastPhysical;
  }
  return EngineNoPage;
}

int64_t EngineFindInOrder(EngineFile* file, const RecordCursor* cursor)
{
  KeyOrder* order = &file->Order;
  const uint8_t* record = EngineFixedPart(file, &file->AuxReader, cursor);
  if (record == nullptr || order->KeyNumber < 0)
    return -1;
  uint32_t length = order->Length;
  if (order->Identity) {
    // Physical order: the records' pages and slots ascend.
    size_t low = 0, high = order->Count;
    while (low < high) {
      size_t middle = (low + high) / 2;
      if (order->Pages[middle] < cursor->Page ||
          (order->Pages[middle] == cursor->Page && order->Slots[middle] < cursor->Slot))
        low = middle + 1;
      else
        high = middle;
    }
    if (low < order->Count && order->Pages[low] == cursor->Page && order->Slots[low] == cursor->Slot)
      return (int64_t)low;
    return -1;
  }
  std::vector<uint8_t> value(length), form(length);
  KeyValue(file, &file->Keys[order->KeyNumber], record, value.data());
  ComparableForm(file, &file->Keys[order->KeyNumber], value.data(), form.data());
  const uint8_t* forms = order->SortBytes.data();
  const uint8_t* wanted = form.data();
  // The first place whose key is not below the record's, then along the
  // equal keys to the record itself.
  size_t low = 0, high = order->Count;
  while (low < high) {
    size_t middle = (low + high) / 2;
    if (memcmp(forms + (size_t)EngineOrderAt(order, middle) * length, wanted, length) < 0)
      low = middle + 1;
    else
      high = middle;
  }
  for (size_t at = low; at < order->Count; at++) {
    uint32_t record = EngineOrderAt(order, at);
    if (memcmp(forms + (size_t)record * length, wanted, length) != 0)
      break;
    if (order->Pages[record] == cursor->Page && order->Slots[record] == cursor->Slot)
      return (int64_t)at;
  }
  return -1;
}
