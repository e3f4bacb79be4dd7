#include "Halvorn/engine/BtrieveCall.h"

#include <cstring>

#include "Halvorn/Output.h"
#include "Halvorn/ScanState.h"
#include "Platform/Platform.h"

int16_t EngineCall(uint16_t operation, void* positionBlock, void* dataBuffer,
                   uint16_t* dataLength, void* keyBuffer, int16_t keyNumber) {
  uint32_t wideLength = dataLength != nullptr ? *dataLength : 0;
  // Only the key number's low 8 bits reach the engine, as a signed byte:
  // 300 arrives as 44, -1 as -1.
  int8_t engineKey = static_cast<int8_t>(static_cast<uint8_t>(keyNumber & 0xFF));
  int16_t status = PlatformRecordCall(operation, positionBlock, dataBuffer, &wideLength,
                                      keyBuffer, EngineKeyLength, engineKey);
  if (dataLength != nullptr) *dataLength = static_cast<uint16_t>(wideLength & 0xFFFF);
  return status;
}

int CallFileBlock(BtrieveCallBlock* block) {
  int status = EngineCall(block->Operation, block->PositionBlock, block->DataBuffer,
                          &block->DataLength, block->KeyBuffer, block->KeyNumber);
  switch (status) {
    case StatusSuccess:
    case StatusFileNotOpen:
    case StatusKeyNotFound:
    case StatusDuplicateKey:
    case StatusEndOfFile:
    case StatusFileNotFound:
    case StatusBufferTooShort:
      return status;
    case StatusNotLoaded:
      PrintErr("Please load the Btrieve Record Manager\n");
      EndRun(1);
    case StatusNotBtrieveFile:
      PrintErr("%s: Not a Btrieve File\n", block->FileName);
      return status;
    default:
      PrintErr("Btrieve Error %d: Operation=%d, File=%s\n", status,
               static_cast<int>(block->Operation), block->FileName);
      return status;
  }
}

int OpenDataFile() {
  BtrieveCallBlock* block = &ScanState.DataFileBlock;
  if (ScanState.Verbose) PrintOut("Opening Files\n");

  // The path goes to the engine in a key buffer that lives only for this call;
  // the walk points the block at the tool's own key buffer before its first read.
  char pathBuffer[256];
  memset(pathBuffer, 0, sizeof pathBuffer);
  memcpy(pathBuffer, ScanState.FileName, strnlen(ScanState.FileName, sizeof pathBuffer - 1));

  // The block keeps the first 127 characters of the name for messages.
  size_t nameLength = strnlen(ScanState.FileName, sizeof block->FileName - 1);
  memset(block->FileName, 0, sizeof block->FileName);
  memcpy(block->FileName, ScanState.FileName, nameLength);

  size_t ownerLength = strnlen(ScanState.OwnerName, MaxOwnerNameLength);
  memcpy(ScanState.DataBuffer, ScanState.OwnerName, ownerLength);
  ScanState.DataBuffer[ownerLength] = 0;

  block->DataBuffer = ScanState.DataBuffer;
  block->DataLength = RecordBufferSize;
  block->KeyNumber = 0;
  block->KeyBuffer = pathBuffer;
  block->Operation = OpOpen;
  int status = CallFileBlock(block);
  // Nothing may reach the temporary path buffer once this call has returned.
  block->KeyBuffer = nullptr;

  if (ScanState.Verbose) PrintOut("Data Files Opened: %d\n", status);
  return status;
}

void CloseDataFile() {
  BtrieveCallBlock* block = &ScanState.DataFileBlock;
  if (ScanState.Verbose) PrintOut("Closing Files\n");
  block->Operation = OpClose;
  CallFileBlock(block);
  if (ScanState.Verbose) PrintOut("Data Files Closed\n");
}

int ResetEngine() {
  BtrieveCallBlock* block = &ScanState.DataFileBlock;
  block->KeyNumber = 0;
  block->KeyBuffer = nullptr;
  block->Operation = OpReset;
  return CallFileBlock(block);
}
