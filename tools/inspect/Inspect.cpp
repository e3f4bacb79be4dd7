// halvorn-inspect: shows the control structures and pages of a Btrieve file
// set straight from disk, without the engine, for a person looking at a
// damaged file. It only reads: the set is opened read-only (which asks for
// exclusive access), and everything is read and printed through the
// low-level library's own operations and messages; byte contents go through
// LLHexDump, on standard error like every hex dump of the library.
//
//   halvorn-inspect [-v] FILE COMMAND [ARGUMENTS]
//
// Exit codes: 0 done; 1 usage error; 2 the file set cannot be opened, or what
// was asked for cannot be read from it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"
#include "LowLevel/LowLevel.h"
#include "Platform/Platform.h"

namespace {

const int ExitDone = 0;
const int ExitUsage = 1;
const int ExitUnreadable = 2;

// Where a data page keeps its last slot number, by version.
const int DataLastSlotBelowV8 = 10;
const int DataLastSlotV8 = 14;
const int DataLastSlotV95 = 16;

enum Command {
  CommandFcr,
  CommandPat,
  CommandHeader,
  CommandDump,
  CommandRecord,
  CommandMisc,
  CommandAux,
  CommandHeaders,
  CommandVersion
};

// What the command line asks for.
struct InspectRequest {
  int Verbose;
  const char* Path;
  Command What;
  int Logical;     // header, dump: 1 logical, 0 physical
  uint32_t Number; // pair, page
  uint32_t Slot;   // record
  int User;        // misc user
  int All;         // pat: every entry
};

InspectRequest Request;

const char UsageText[] =
    "Usage: halvorn-inspect [-v] FILE COMMAND [ARGUMENTS]\n"
    "Shows the control structures and pages of a Btrieve file set, read straight\n"
    "from disk without the engine. The set is opened read-only; nothing is written.\n"
    "\n"
    "Commands:\n"
    "  fcr                        the FCR fields and the geometry they give\n"
    "  pat N [all]                PAT pair N and its entries (all: free entries too)\n"
    "  header logical|physical N  the header of one page and the two bytes after it\n"
    "  dump logical|physical N    one page in hex\n"
    "  record PAGE SLOT           one record of a logical data page\n"
    "  misc [user]                the misc-data record (user: the user misc-data\n"
    "                             record of 9.50 and later files)\n"
    "  aux                        the second control pair of 8.00 and later files\n"
    "  headers                    the table of all page headers\n"
    "  version                    the library's banner\n"
    "\n"
    "Numbers are decimal, or hexadecimal after 0x. -v turns on the library's traces.\n"
    "Byte contents are printed in hex on standard error.\n"
    "Exit codes: 0 done, 1 usage error, 2 the file set cannot be opened or the item\n"
    "cannot be read.\n";

int Usage(const char* why) {
  if (why) fprintf(stderr, "halvorn-inspect: %s\n", why);
  fputs(UsageText, stderr);
  return ExitUsage;
}

int ParseNumber(const char* text, uint32_t limit, uint32_t* value) {
  if (!text || !*text || *text == '-' || *text == '+') return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v > limit) return 0;
  *value = static_cast<uint32_t>(v);
  return 1;
}

int ParseKind(const char* text, int* logical) {
  if (!text) return 0;
  if (strcmp(text, "logical") == 0) {
    *logical = 1;
    return 1;
  }
  if (strcmp(text, "physical") == 0) {
    *logical = 0;
    return 1;
  }
  return 0;
}

// Reads the command line into Request; 1 when it is whole, else 0 with the
// reason in *why.
int ParseArguments(int argc, char** argv, const char** why) {
  int i = 1;
  if (i < argc && strcmp(argv[i], "-v") == 0) {
    Request.Verbose = 1;
    ++i;
  }
  if (argc - i < 2) {
    *why = "a file and a command are needed";
    return 0;
  }
  Request.Path = argv[i++];
  const char* command = argv[i++];
  int left = argc - i;
  char** args = argv + i;
  if (strlen(Request.Path) > static_cast<size_t>(LLMaxPathLength)) {
    *why = "the file name is too long";
    return 0;
  }
  if (strcmp(command, "fcr") == 0 && left == 0) {
    Request.What = CommandFcr;
  } else if (strcmp(command, "pat") == 0 &&
             (left == 1 || (left == 2 && strcmp(args[1], "all") == 0))) {
    Request.What = CommandPat;
    Request.All = left == 2;
    if (!ParseNumber(args[0], 0xFFFFFFFFu, &Request.Number)) {
      *why = "the pair number is not a number";
      return 0;
    }
  } else if ((strcmp(command, "header") == 0 || strcmp(command, "dump") == 0) && left == 2) {
    Request.What = strcmp(command, "header") == 0 ? CommandHeader : CommandDump;
    if (!ParseKind(args[0], &Request.Logical)) {
      *why = "say logical or physical before the page number";
      return 0;
    }
    if (!ParseNumber(args[1], 0xFFFFFFFFu, &Request.Number)) {
      *why = "the page number is not a number";
      return 0;
    }
  } else if (strcmp(command, "record") == 0 && left == 2) {
    Request.What = CommandRecord;
    if (!ParseNumber(args[0], 0xFFFFFFFFu, &Request.Number) ||
        !ParseNumber(args[1], 0xFFFFu, &Request.Slot)) {
      *why = "the page and the slot must be numbers (the slot at most 65535)";
      return 0;
    }
  } else if (strcmp(command, "misc") == 0 && (left == 0 || (left == 1 && strcmp(args[0], "user") == 0))) {
    Request.What = CommandMisc;
    Request.User = left == 1;
  } else if (strcmp(command, "aux") == 0 && left == 0) {
    Request.What = CommandAux;
  } else if (strcmp(command, "headers") == 0 && left == 0) {
    Request.What = CommandHeaders;
  } else if (strcmp(command, "version") == 0 && left == 0) {
    Request.What = CommandVersion;
  } else {
    *why = "unknown command or wrong number of arguments";
    return 0;
  }
  return 1;
}

// ---------------------------------------------------------------- helpers

void PrintVersion(uint16_t version) {
  printf("%d.%.2x (0x%.4x)", version >> 8, version & 0xFF, version);
}

void PrintOffset(uint64_t offset) {
  printf("%.8x:%.8x", static_cast<uint32_t>(offset >> 32), static_cast<uint32_t>(offset));
}

void PrintPlace(uint32_t physical) {
  int32_t part = 0;
  uint32_t inPart = 0;
  LLPageToPart(physical, &part, &inPart);
  printf("physical page 0x%.8x, large offset ", physical);
  PrintOffset(LLPageToOffset(physical));
  printf(", part %d offset 0x%.8x", static_cast<int>(part), inPart);
}

void Dump(const uint8_t* bytes, uint32_t count) {
  fflush(stdout);
  LLHexDump(bytes, static_cast<int32_t>(count));
}

// Translates a page of the request: for a logical page the PAT gives the
// physical page and its span; a physical page spans 1.
int ResolvePage(uint32_t* physical, uint16_t* extra, uint16_t* span) {
  *extra = 0;
  *span = 1;
  if (!Request.Logical) {
    *physical = Request.Number;
    printf("Physical page %lu: ", static_cast<unsigned long>(Request.Number));
    PrintPlace(*physical);
    printf("\n");
    return 1;
  }
  if (!LLLogicalToPhysical(Request.Number, physical, extra, span)) {
    printf("Logical page %lu: the PAT gives no physical page.\n",
           static_cast<unsigned long>(Request.Number));
    return 0;
  }
  printf("Logical page %lu: EntryExtra 0x%.4x, span %u, ", static_cast<unsigned long>(Request.Number),
         *extra, *span);
  PrintPlace(*physical);
  printf("\n");
  return 1;
}

// ---------------------------------------------------------------- commands

int ShowFcr() {
  const LLFileStateRecord& s = LLFileState;
  const uint8_t* fcr = s.FcrBuffers[s.CurrentFcr];
  printf("File set:               %u part(s), %lu blocks of 512 bytes, %s\n", s.PartCount,
         static_cast<unsigned long>(s.TotalBlocks),
         s.DeltaHandle != PlatformInvalidFile ? "delta file open" : "no delta file");
  for (int p = 0; p < s.PartCount; ++p)
    printf("  part %-3d              %lu bytes\n", p, static_cast<unsigned long>(s.PartSizes[p]));
  printf("Version:                ");
  PrintVersion(s.FileVersion);
  printf("\n");
  printf("Page size:              %u\n", s.PageSize);
  printf("FCR page size:          %u\n", s.FcrPageSize);
  printf("Page compression:       %s\n", s.PageCompressed ? "on" : "off");
  printf("Physical page size:     %u\n", s.PhysicalPageSize);
  printf("Usage count offset:     %d\n", static_cast<int>(s.UsageOffset));
  printf("PAT id length:          %d\n", static_cast<int>(s.PatIdLength));
  printf("Page header length:     %d\n", static_cast<int>(s.PageHeaderLength));
  if (s.FileVersion >= 0x0600) {
    printf("Current FCR:            copy %d (usage counts 0x%.8x, 0x%.8x)\n", s.CurrentFcr,
           GetLE32(s.FcrBuffers[0] + s.UsageOffset), GetLE32(s.FcrBuffers[1] + s.UsageOffset));
  } else {
    printf("Current FCR:            copy 0 (one FCR below 6.00)\n");
  }
  printf("Page count:             %lu\n", static_cast<unsigned long>(s.PageCount));
  printf("PhysRecLen:             %u\n", GetLE16(fcr + FcrPhysRecLen));
  if (s.FileVersion == 0x0800 || s.FileVersion == 0x0900 || s.FileVersion == 0x0950)
    printf("BitsInRecordId:         %u\n", fcr[FcrBitsInRecordIdV8]);
  else if (s.FileVersion == 0x0D00 || s.FileVersion == 0x0D30)
    printf("BitsInRecordId:         %u\n", fcr[FcrBitsInRecordIdV13]);
  if (s.FileVersion < 0x0800) {
    printf("Misc data pointer:      logical page 0x%.6x, record %u\n",
           GetLE32(fcr + FcrMiscRecordOld) >> 8, fcr[FcrMiscRecordOld]);
  } else {
    printf("Misc data pointer:      logical page 0x%.8x, record %u\n", GetLE32(fcr + FcrMiscPage),
           GetLE16(fcr + FcrMiscRecord));
  }
  if (s.FileVersion >= 0x0950) {
    printf("User misc data pointer: logical page 0x%.8x, record %u\n",
           GetLE32(fcr + FcrUserMiscPage), GetLE16(fcr + FcrUserMiscRecord));
  }
  if (s.FileVersion >= 0x0600) {
    printf("PAT entries per page:   %lu\n", static_cast<unsigned long>(LLPatEntriesPerPage()));
    printf("PAT pair stride:        %ld bytes\n", static_cast<long>(LLPatPairStride()));
  }
  return ExitDone;
}

int ShowPat() {
  const LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0600) {
    printf("Files below 6.00 have no PAT: a logical page is its own physical page.\n");
    return ExitUnreadable;
  }
  uint32_t perPage = LLPatEntriesPerPage();
  uint32_t pair = Request.Number;
  if (perPage == 0 || !LLLoadPatPair(pair)) {
    printf("PAT pair %lu cannot be read.\n", static_cast<unsigned long>(pair));
    return ExitUnreadable;
  }
  uint64_t offset = LLPatPairOffset(pair);
  printf("PAT pair %lu: pages at large offsets ", static_cast<unsigned long>(pair));
  PrintOffset(offset);
  printf(" and ");
  PrintOffset(offset + s.FcrPageSize);
  printf("\n");
  printf("Usage counts 0x%.8x and 0x%.8x: copy %d in force\n",
         GetLE32(s.PatBuffers[0] + s.UsageOffset), GetLE32(s.PatBuffers[1] + s.UsageOffset),
         s.CurrentPat);
  if (pair == 0) {
    printf("Pair 0 is the FCR pair; it holds no entries.\n");
    return ExitDone;
  }
  uint64_t first = static_cast<uint64_t>(pair - 1) * perPage + 1;
  printf("%lu entries a page: logical pages %llu to %llu\n", static_cast<unsigned long>(perPage),
         static_cast<unsigned long long>(first),
         static_cast<unsigned long long>(first + perPage - 1));
  uint64_t setBytes = 0;
  for (int p = 0; p < s.PartCount; ++p) setBytes += static_cast<uint64_t>(s.PartSizes[p]);
  printf("   Logical    Physical  EntryExtra  Span\n");
  uint32_t empty = 0;
  uint32_t outside = 0;
  for (uint32_t i = 0; i < perPage; ++i) {
    uint64_t logical = first + i;
    if (logical > 0xFFFFFFFFull) break;
    uint32_t physical = 0;
    uint16_t extra = 0;
    uint16_t span = 1;
    if (!LLLogicalToPhysical(static_cast<uint32_t>(logical), &physical, &extra, &span)) {
      printf("Entries from logical page %llu on lie beyond the PAT page and are not read.\n",
             static_cast<unsigned long long>(logical));
      break;
    }
    // Entries without a page type are free pages; unless all are asked for,
    // those that hold nothing or point past the end of the set are counted
    // instead of listed.
    uint64_t end = LLPageToOffset(physical) + static_cast<uint64_t>(span) * s.PhysicalPageSize;
    if (!Request.All && extra == 0 && (physical == 0 || end > setBytes)) {
      if (physical == 0)
        ++empty;
      else
        ++outside;
      continue;
    }
    char type = extra >= 0x20 && extra < 0x7F ? static_cast<char>(extra) : ' ';
    printf("%10llu  0x%.8x  0x%.4x %c  %5u%s\n", static_cast<unsigned long long>(logical),
           physical, extra, type, span, end > setBytes ? "  past the end of the file set" : "");
  }
  if (!Request.All) {
    printf("Not shown (pat N all shows them): %lu entries of page 0, %lu free entries past the\n"
           "end of the file set, all with EntryExtra 0.\n",
           static_cast<unsigned long>(empty), static_cast<unsigned long>(outside));
  }
  return ExitDone;
}

int ShowHeader() {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!ResolvePage(&physical, &extra, &span)) return ExitUnreadable;
  PageHeaderRecord header;
  memset(header.Bytes, 0, sizeof(header.Bytes));
  int ok = Request.Logical ? LLReadLogicalHeader(Request.Number, &header)
                           : LLReadPhysicalHeader(Request.Number, &header);
  if (!ok) {
    printf("The header cannot be read.\n");
    return ExitUnreadable;
  }
  int length = LLFileState.PageHeaderLength;
  printf("Header, %d bytes, then the two bytes after it:\n", length);
  Dump(header.Bytes, static_cast<uint32_t>(length));
  Dump(header.Bytes + 16, 2);
  return ExitDone;
}

int ShowDump() {
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!ResolvePage(&physical, &extra, &span)) return ExitUnreadable;
  uint32_t bytes = static_cast<uint32_t>(span) * LLFileState.PhysicalPageSize;
  std::vector<uint8_t> page(bytes ? bytes : 1);
  int ok = Request.Logical ? LLReadLogicalPage(Request.Number, page.data())
                           : LLReadPhysicalPage(physical, page.data(), 1);
  if (!ok) {
    printf("The page cannot be read.\n");
    return ExitUnreadable;
  }
  printf("%lu bytes:\n", static_cast<unsigned long>(bytes));
  Dump(page.data(), bytes);
  return ExitDone;
}

int ShowRecord() {
  Request.Logical = 1;
  uint32_t physical = 0;
  uint16_t extra = 0;
  uint16_t span = 1;
  if (!ResolvePage(&physical, &extra, &span)) return ExitUnreadable;
  std::vector<uint8_t> record(LLPageBufferSize);
  uint16_t length = 0;
  uint16_t slot = static_cast<uint16_t>(Request.Slot);
  if (!LLReadRecord(Request.Number, slot, record.data(), &length)) {
    printf("Slot %u holds no record: the page cannot be read, the slot is above the page's\n"
           "last slot, or its offset table does not give a record there.\n",
           slot);
    std::vector<uint8_t> page(LLPageBufferSize);
    uint32_t bytes = static_cast<uint32_t>(span) * LLFileState.PhysicalPageSize;
    uint16_t pageSize = LLFileState.PageSize;
    if (bytes <= LLPageBufferSize && pageSize <= LLPageBufferSize &&
        LLReadLogicalPage(Request.Number, page.data())) {
      int lastSlotAt = LLFileState.FileVersion < 0x0800   ? DataLastSlotBelowV8
                       : LLFileState.FileVersion < 0x0950 ? DataLastSlotV8
                                                          : DataLastSlotV95;
      printf("The page's last slot word (offset %d) is 0x%.4x", lastSlotAt,
             GetLE16(page.data() + lastSlotAt));
      if (2u * slot + 2u <= pageSize)
        printf(", the slot's table entry (offset 0x%.4x) 0x%.4x", pageSize - 2u * slot - 2u,
               GetLE16(page.data() + pageSize - 2u * slot - 2u));
      printf(".\n");
    }
    return ExitUnreadable;
  }
  // The same page once more, for the record's place within it.
  std::vector<uint8_t> page(LLPageBufferSize);
  uint16_t offset = 0;
  uint16_t found = 0;
  if (LLReadLogicalPage(Request.Number, page.data()) &&
      LLFindRecord(page.data(), slot, &offset, &found)) {
    printf("Record in slot %u: %u bytes at offset 0x%.4x of the page\n", slot, length, offset);
  } else {
    printf("Record in slot %u: %u bytes\n", slot, length);
  }
  Dump(record.data(), length);
  return ExitDone;
}

int ShowMisc() {
  std::vector<uint8_t> record(LLPageBufferSize);
  uint16_t length = 0;
  const char* name = Request.User ? "user misc-data" : "misc-data";
  if (Request.User && LLFileState.FileVersion < 0x0950) {
    printf("Files below 9.50 have no user misc-data pointer.\n");
    return ExitUnreadable;
  }
  if (!LLReadMiscData(record.data(), Request.User ? 1 : 0, &length)) {
    printf("The %s record cannot be read (a pointer of 0 means the file has none).\n", name);
    return ExitUnreadable;
  }
  printf("The %s record: %u bytes\n", name, length);
  Dump(record.data(), length);
  return ExitDone;
}

int ShowAux() {
  const LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0800) {
    printf("Files below 8.00 have no second control pair.\n");
    return ExitUnreadable;
  }
  if (!LLLoadAuxPair()) {
    printf("The second control pair cannot be read.\n");
    return ExitUnreadable;
  }
  printf("Second control pair: pages at large offsets ");
  PrintOffset(2ull * s.FcrPageSize);
  printf(" and ");
  PrintOffset(3ull * s.FcrPageSize);
  printf("\n");
  printf("Usage counts 0x%.8x and 0x%.8x: copy %d current (by the byte at offset %d)\n",
         GetLE32(s.AuxBuffers[0] + s.UsageOffset), GetLE32(s.AuxBuffers[1] + s.UsageOffset),
         static_cast<int>(s.CurrentAux), static_cast<int>(s.UsageOffset));
  return ExitDone;
}

int ShowHeaders() {
  const LLFileStateRecord& s = LLFileState;
  if (s.FileVersion < 0x0600) {
    printf("The header table needs a file of version 6.00 or later.\n");
    return ExitUnreadable;
  }
  if (!LLLoadHeaderCache(1)) {
    printf("The header table cannot be built.\n");
    return ExitUnreadable;
  }
  fflush(stderr);
  int length = s.PageHeaderLength;
  printf("Physical pages 0 to 3 are not in the table; pages the loading did not reach\n"
         "show zeros.\n");
  printf("  Physical  Header%*s  Next\n", 3 * length - 6, "");
  for (uint32_t p = 4; p < s.HeaderCacheCount; ++p) {
    PageHeaderRecord h;
    if (!LLGetCachedHeader(p, &h)) break;
    printf("%10lu  ", static_cast<unsigned long>(p));
    for (int b = 0; b < length; ++b) printf("%.2X ", h.Bytes[b]);
    printf(" %.2X %.2X\n", h.Bytes[16], h.Bytes[17]);
  }
  LLFreeHeaderCache();
  return ExitDone;
}

int Run() {
  switch (Request.What) {
    case CommandFcr: return ShowFcr();
    case CommandPat: return ShowPat();
    case CommandHeader: return ShowHeader();
    case CommandDump: return ShowDump();
    case CommandRecord: return ShowRecord();
    case CommandMisc: return ShowMisc();
    case CommandAux: return ShowAux();
    case CommandHeaders: return ShowHeaders();
    case CommandVersion: break;  // answered before the open
  }
  return ExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  PlatformInitStreams();
  const char* why = nullptr;
  if (!ParseArguments(argc, argv, &why)) return Usage(why);
  if (Request.What == CommandVersion) {
    LLShowVersion();
    return ExitDone;
  }
  LLFileState.Verbose = Request.Verbose;
  if (LLOpenReadOnly(Request.Path) == 0) {
    fflush(stdout);
    fprintf(stderr, "halvorn-inspect: the file set <%s> cannot be opened.\n", Request.Path);
    LLCloseAll();
    return ExitUnreadable;
  }
  int code = Run();
  fflush(stdout);
  LLCloseAll();
  return code;
}
