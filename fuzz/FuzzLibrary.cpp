// Fuzz target: the low-level library over an arbitrary file set, and the
// location report's arithmetic over it.
//
// The input's file set (see FuzzFileSet.h) is opened with the exclusive or
// the shared kind; the FCR is loaded a second time, as the report does; a
// spread of logical pages (the edges of the first PAT pairs, the page count
// and its neighbours, the 6.x displaced pairs, the largest numbers, pages
// from the input) is translated, and every page, translated or not, goes
// through the page-to-offset and page-to-part conversions and back. Then the
// location report runs over the same set with the input's engine position.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "Halvorn/LocationReport.h"
#include "Halvorn/ScanState.h"
#include "LowLevel/LowLevel.h"
#include "fuzz/FuzzFileSet.h"

namespace {

void ConvertPage(uint32_t page) {
  (void)LLPageToOffset(page);
  int32_t part = 0;
  uint32_t offset = 0;
  LLPageToPart(page, &part, &offset);
  // The part named is always one of the set (the last for a page past its end).
  if (LLFileState.PartCount > 0 && (part < 0 || part >= LLFileState.PartCount)) abort();
  // Back from the part and offset the conversion gave, when it names a part
  // the set has (a page past the end names the part after the last).
  if (part >= 0 && part < LLFileState.PartCount) {
    uint32_t back = 0;
    LLPartToPage(static_cast<uint16_t>(part), offset, &back);
    LLPartToPage64(static_cast<uint16_t>(part), offset, &back);
  }
}

void TranslatePage(uint32_t logical) {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 0;
  if (LLLogicalToPhysical(logical, &physical, &extra, &span)) ConvertPage(physical);
  ConvertPage(logical);
}

void ExerciseOpenSet(const FuzzFileSetInput& input) {
  if (!LLLoadFcr()) return;
  const uint32_t entries = LLPatEntriesPerPage();
  const uint32_t count = LLFileState.PageCount;
  const uint32_t fromInput = static_cast<uint32_t>(input.Choice[0]) |
                             static_cast<uint32_t>(input.Choice[1]) << 8 |
                             static_cast<uint32_t>(input.Choice[2]) << 16;
  const uint32_t pages[] = {0,
                            1,
                            2,
                            3,
                            entries - 1,
                            entries,
                            entries + 1,
                            2 * entries + 1,
                            30 * entries + 1,
                            31 * entries + 1,
                            count - 1,
                            count,
                            count + 1,
                            0x7FFFFFFFu,
                            0xFFFFFFFEu,
                            0xFFFFFFFFu,
                            fromInput,
                            input.Value,
                            input.Value >> 8,
                            input.Value >> 10};
  for (uint32_t page : pages) TranslatePage(page);
  // The PAT arithmetic alone, and a seek to the pair the input names.
  (void)LLPatEntriesPerPageAlt();
  (void)LLPatPairOffset(0xFFFFFFFFu);
  uint16_t seekPart = 0;
  LLSeekPatPair(fromInput, &seekPart);
  // Every part's first and last offsets.
  for (uint16_t part = 0; part < LLFileState.PartCount; ++part) {
    uint32_t page = 0;
    LLPartToPage(part, 0, &page);
    LLPartToPage(part, 0xFFFFFFFFu, &page);
    LLPartToPage64(part, static_cast<uint64_t>(LLFileState.PartSizes[part]), &page);
    LLPartToPage64(part, 0xFFFFFFFFFFFFFFFFull, &page);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFileSetInput input = FuzzReadInput(data, size);
  const char* path = FuzzWriteFileSet(input);
  FuzzResetLibrary();
  const int verbose = (input.Flags & FuzzFlagVerbose) != 0;

  LLFileState.Verbose = verbose;
  const int kind = (input.Flags & FuzzFlagShared) ? PlatformOpenShared : PlatformOpenReadExclusive;
  if (LLOpenFileSet(path, kind) != 0) ExerciseOpenSet(input);
  LLCloseAll();

  // The report opens and closes the set itself (it leaves it open when the
  // FCR cannot be read, as the end of the process would close it).
  ScanState = ScanStateRecord();
  snprintf(ScanState.FileName, sizeof ScanState.FileName, "%s", path);
  ScanState.LastPosition = input.Value;
  ScanState.Verbose = verbose;
  PrintLocationReport();
  LLCloseAll();
  return 0;
}
