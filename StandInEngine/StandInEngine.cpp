// The record-call entry of the replacement engine: the table of open files,
// the position block, and the operations Open, Close, Reset, the Step and Get
// families (with the key-only forms) and Get Position.
//
// The engine never writes to a data file. Every open opens the file set for
// reading with full sharing, so that the tool's own exclusive open after the
// engine's Close (or Reset) succeeds.
#include <cstring>
#include <new>

#include "Common/LittleEndian.h"
#include "StandInEngine/EngineState.h"
#include "StandInEngine/StandInEngine.h"

// The position block (128 bytes, owned by the caller, filled at the open):
//   0  4  magic "SIE1"
//   4  2  index in the file table
//   6  4  serial of that open (a block from an earlier open answers 3)
//  10  1  flags: 1 a current record, 2 its place in the key order is known
//  11  1  key number of that key order place
//  12  4  current record's page (physical 3.x-5.x, logical from 6.x)
//  16  4  current record's slot in the page
//  20  4  current record's index in the key order
//  24  4  length of the current record as it was returned
const uint32_t BlockMagic = 0x31454953;  // "SIE1"
const int BlockMagicAt = 0;
const int BlockIndexAt = 4;
const int BlockSerialAt = 6;
const int BlockFlagsAt = 10;
const int BlockKeyAt = 11;
const int BlockPageAt = 12;
const int BlockSlotAt = 16;
const int BlockOrderAt = 20;
const int BlockRecordLengthAt = 24;
const int BlockLength = 128;
const uint8_t BlockHasRecord = 1;
const uint8_t BlockHasKeyPlace = 2;

// Open modes the engine accepts in the key number: normal (0), accelerated
// (-1), read-only (-2), verify (-3) and exclusive (-4). All of them read the
// same way, since the engine never writes.
const int OpenModeLowest = -4;

static EngineFile Files[EngineMaxFiles];
static uint32_t NextSerial = 1;

static inline EngineFile* FileOfBlock(const uint8_t* block)
{
  if (block == nullptr || GetLE32(block + BlockMagicAt) != BlockMagic)
    return nullptr;
  uint32_t index = GetLE16(block + BlockIndexAt);
  if (index >= (uint32_t)EngineMaxFiles || !Files[index].InUse ||
      Files[index].Serial != GetLE32(block + BlockSerialAt))
    return nullptr;
  return &Files[index];
}

static void ReleaseFile(EngineFile* file)
{
  EngineCloseFile(file);
  *file = EngineFile();
}

static int OpenOperation(uint8_t* block, const uint8_t* keyBuffer, uint8_t keyLength,
                         int8_t mode)
{
  if (block == nullptr)
    return StatusFileNotOpen;
  if (mode > 0 || mode < OpenModeLowest)
    return StatusInvalidOperation;
  if (keyBuffer == nullptr)
    return StatusFileNotFound;
  // The path ends at a zero byte or at the end of the key buffer; trailing
  // blanks, with which callers pad a path, are not part of it.
  char path[256];
  uint32_t length = 0;
  while (length < keyLength && keyBuffer[length] != 0)
    length++;
  memcpy(path, keyBuffer, length);
  while (length > 0 && path[length - 1] == ' ')
    length--;
  path[length] = 0;
  if (length == 0)
    return StatusFileNotFound;

  int index = 0;
  while (index < EngineMaxFiles && Files[index].InUse)
    index++;
  if (index == EngineMaxFiles)
    return StatusFileTableFull;
  EngineFile* file = &Files[index];
  *file = EngineFile();
  file->CachedPage = EngineNoPage;
  file->Order.KeyNumber = -1;
  int status = EngineOpenFile(file, path);
  if (status != StatusSuccess) {
    ReleaseFile(file);
    return status;
  }
  file->InUse = 1;
  file->Serial = NextSerial++;
  memset(block, 0, BlockLength);
  PutLE32(block + BlockMagicAt, BlockMagic);
  PutLE16(block + BlockIndexAt, (uint16_t)index);
  PutLE32(block + BlockSerialAt, file->Serial);
  return StatusSuccess;
}

static void KeepRecord(uint8_t* block, const RecordCursor* cursor)
{
  block[BlockFlagsAt] = BlockHasRecord;
  PutLE32(block + BlockPageAt, cursor->Page);
  PutLE32(block + BlockSlotAt, cursor->Slot);
}

// A read that finds no record (end of file, damage) leaves the position on
// the last record read and the data buffer as it was; the data length tells
// the length of the record still in the buffer (0 when there is none), so
// that a caller that dumps the buffer after the walk dumps that record.
static int NoRecord(const uint8_t* block, uint32_t* dataLength, int status)
{
  if (dataLength != nullptr)
    *dataLength = (block[BlockFlagsAt] & BlockHasRecord) ? GetLE32(block + BlockRecordLengthAt) : 0;
  return status;
}

static inline int StepOperation(EngineFile* file, uint8_t* block, int operation, uint8_t* data,
                         uint32_t* dataLength)
{
  int backward = operation == OpStepLast || operation == OpStepPrevious;
  int fromEdge = operation == OpStepFirst || operation == OpStepLast;
  RecordCursor cursor = {GetLE32(block + BlockPageAt), GetLE32(block + BlockSlotAt)};
  if (!fromEdge && !(block[BlockFlagsAt] & BlockHasRecord))
    return StatusInvalidPositioning;
  // Step Next within the data page the walk is on, fixed-length records:
  // the call a physical walk makes for nearly every record.
  if (operation == OpStepNext && file->Layout != LayoutOld && !file->Variable &&
      cursor.Page == file->CachedPage && dataLength != nullptr &&
      *dataLength >= file->RecordLength) {
    const uint8_t* bytes = file->CachedData + file->RecordBase + (size_t)cursor.Slot * file->PhysRecLen;
    for (uint32_t n = cursor.Slot + 1; n < file->SlotsPerPage; n++) {
      bytes += file->PhysRecLen;
      if (bytes[0] | bytes[1]) {
        memcpy(data, bytes + 2, file->RecordLength);
        *dataLength = file->RecordLength;
        block[BlockFlagsAt] = BlockHasRecord;
        PutLE32(block + BlockSlotAt, n);
        PutLE32(block + BlockRecordLengthAt, file->RecordLength);
        return StatusSuccess;
      }
    }
  }
  const uint8_t* slot = nullptr;
  int status = EngineStepRecord(file, &cursor, backward, fromEdge, &slot);
  if (status != StatusSuccess)
    return NoRecord(block, dataLength, status);
  uint32_t size = dataLength != nullptr ? *dataLength : 0;
  uint32_t length = 0;
  status = EngineCopySlot(file, slot, data, size, &length);
  if (status == StatusDamaged)
    return NoRecord(block, dataLength, status);
  if (dataLength != nullptr)
    *dataLength = length;
  KeepRecord(block, &cursor);
  PutLE32(block + BlockRecordLengthAt, length);
  return status;
}

static int GetOperation(EngineFile* file, uint8_t* block, int operation, uint8_t* data,
                        uint32_t* dataLength, uint8_t* keyBuffer, uint8_t keyLength,
                        int keyNumber)
{
  int keyOnly = operation >= OpKeyOnly;
  int base = keyOnly ? operation - OpKeyOnly : operation;
  if (keyNumber < 0 || (uint32_t)keyNumber >= file->Keys.size())
    return StatusInvalidKeyNumber;
  int status = EngineBuildKeyOrder(file, keyNumber);
  if (status != StatusSuccess)
    return status;
  KeyOrder* order = &file->Order;
  int64_t count = (int64_t)order->Count;
  int64_t index;
  if (base == OpGetFirst) {
    index = 0;
  } else if (base == OpGetLast) {
    index = count - 1;
  } else {
    if (!(block[BlockFlagsAt] & BlockHasRecord))
      return StatusInvalidPositioning;
    RecordCursor current = {GetLE32(block + BlockPageAt), GetLE32(block + BlockSlotAt)};
    int64_t here = -1;
    if ((block[BlockFlagsAt] & BlockHasKeyPlace) && block[BlockKeyAt] == keyNumber) {
      here = GetLE32(block + BlockOrderAt);
      if (here >= count || order->Pages[EngineOrderAt(order, here)] != current.Page ||
          order->Slots[EngineOrderAt(order, here)] != current.Slot)
        here = -1;
    }
    if (here < 0)
      here = EngineFindInOrder(file, &current);
    if (here < 0)
      return StatusInvalidPositioning;
    index = base == OpGetNext ? here + 1 : here - 1;
  }
  // A key order built over damage ends with the damage, at either end.
  if (index < 0 || index >= count) {
    int status = order->Damaged ? StatusDamaged : StatusEndOfFile;
    return keyOnly ? status : NoRecord(block, dataLength, status);
  }

  uint32_t record = EngineOrderAt(order, index);
  RecordCursor cursor = {order->Pages[record], order->Slots[record]};
  status = StatusSuccess;
  if (!keyOnly) {
    uint32_t size = dataLength != nullptr ? *dataLength : 0;
    uint32_t length = 0;
    uint32_t physical = EnginePhysicalOfPage(file, cursor.Page);
    status = physical == EngineNoPage
                 ? EngineCopyRecord(file, &file->AuxReader, &cursor, data, size, &length)
                 : EngineCopyRecordAt(file, &file->AuxReader, &cursor, physical, data, size, &length);
    if (status == StatusDamaged)
      return NoRecord(block, dataLength, status);
    if (dataLength != nullptr)
      *dataLength = length;
    PutLE32(block + BlockRecordLengthAt, length);
  }
  if (keyBuffer != nullptr) {
    // A key longer than the caller's key buffer is cut to it.
    uint32_t length = order->Length < keyLength ? order->Length : keyLength;
    memcpy(keyBuffer, order->Values.data() + (size_t)record * order->Length, length);
  }
  KeepRecord(block, &cursor);
  block[BlockFlagsAt] |= BlockHasKeyPlace;
  block[BlockKeyAt] = (uint8_t)keyNumber;
  PutLE32(block + BlockOrderAt, (uint32_t)index);
  return status;
}

static inline int PositionOperation(EngineFile* file, const uint8_t* block, uint8_t* data,
                             uint32_t* dataLength)
{
  if (!(block[BlockFlagsAt] & BlockHasRecord))
    return StatusInvalidPositioning;
  if (data == nullptr || dataLength == nullptr || *dataLength < 4)
    return StatusDataBufferShort;
  RecordCursor cursor = {GetLE32(block + BlockPageAt), GetLE32(block + BlockSlotAt)};
  PutLE32(data, EnginePositionValue(file, &cursor));
  *dataLength = 4;
  return StatusSuccess;
}

static int16_t RecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                          int8_t keyNumber)
{
  uint8_t* block = (uint8_t*)positionBlock;
  uint8_t* data = (uint8_t*)dataBuffer;
  // The two calls a physical walk makes per record come first.
  if (operation == OpStepNext || operation == OpGetPosition) {
    EngineFile* file = FileOfBlock(block);
    if (file == nullptr)
      return StatusFileNotOpen;
    if (operation == OpGetPosition)
      return (int16_t)PositionOperation(file, block, data, dataLength);
    return (int16_t)StepOperation(file, block, operation, data, dataLength);
  }
  if (operation == OpOpen)
    return (int16_t)OpenOperation(block, (const uint8_t*)keyBuffer, keyLength, keyNumber);
  if (operation == OpReset) {
    for (int n = 0; n < EngineMaxFiles; n++)
      if (Files[n].InUse)
        ReleaseFile(&Files[n]);
    return StatusSuccess;
  }
  int known = operation == OpClose || operation == OpGetPosition || operation == OpStepFirst ||
              operation == OpStepNext || operation == OpStepLast ||
              operation == OpStepPrevious;
  int get = 0;
  uint16_t base = operation >= OpKeyOnly ? operation - OpKeyOnly : operation;
  if (base == OpGetFirst || base == OpGetNext || base == OpGetLast || base == OpGetPrevious)
    get = 1;
  if (!known && !get)
    return StatusInvalidOperation;
  EngineFile* file = FileOfBlock(block);
  if (file == nullptr)
    return StatusFileNotOpen;
  if (operation == OpClose) {
    ReleaseFile(file);
    PutLE32(block + BlockMagicAt, 0);
    return StatusSuccess;
  }
  if (operation == OpGetPosition)
    return (int16_t)PositionOperation(file, block, data, dataLength);
  if (get)
    return (int16_t)GetOperation(file, block, operation, data, dataLength, (uint8_t*)keyBuffer,
                                 keyLength, keyNumber);
  return (int16_t)StepOperation(file, block, operation, data, dataLength);
}

int16_t StandInRecordCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                          uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                          int8_t keyNumber)
{
  // Memory for a key order (or a long free-slot chain) may run out on a huge
  // file; the call then fails as an operation the engine cannot carry out,
  // and the file stays open with no key order built.
  try {
    return RecordCall(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                      keyNumber);
  } catch (const std::bad_alloc&) {
    for (int n = 0; n < EngineMaxFiles; n++) {
      if (Files[n].InUse && Files[n].Order.KeyNumber < 0) {
        KeyOrder* order = &Files[n].Order;
        *order = KeyOrder();
        order->KeyNumber = -1;
        order->Identity = 1;
        order->LastPage = EngineNoPage;
        order->LastPhysical = EngineNoPage;
      }
    }
    return StatusInvalidOperation;
  }
}
