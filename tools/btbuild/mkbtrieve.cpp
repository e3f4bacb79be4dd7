// mkbtrieve: writes a Btrieve data file set of any version for tests,
// benchmarks and demonstrations, with chosen records, keys, free slots,
// variable-length parts, extension parts and damage.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/btbuild/BtBuild.h"

static const char* const UsageText =
    "Usage: mkbtrieve [options] OUT.DAT\n"
    "Writes a Btrieve data file set (OUT.DAT and, with --part-size, OUT.^01 ...).\n"
    "\n"
    "File:\n"
    "  --version V          3.00 4.00 5.00 6.00 6.10 7.00 8.00 9.00 9.50 13.00 v16,\n"
    "                       any M.mm, or a raw word 0xMMmm (default 9.50)\n"
    "  --page-size N        bytes per page, a multiple of 512 (default 4096)\n"
    "  --negated            store the version word negated (as files with an owner name)\n"
    "  --part-size SIZE     split the logical file into extension parts of SIZE bytes\n"
    "                       (suffix K, M or G; parts are sparse)\n"
    "  --delta SIZE         also write a delta file OUT.^^^ of SIZE bytes (zeros)\n"
    "  --current-copy 0|1   which FCR and PAT copy is current, 6.00 on (default 1)\n"
    "  --first-page N       6.00 on: put logical page 1 on physical page N, the pages\n"
    "                       before it a hole (with --part-size: records far into a sparse set)\n"
    "Records:\n"
    "  --records N          number of records (default 10)\n"
    "  --record-length N    bytes of the fixed part (default 32)\n"
    "  --phys-rec-len N     slot size (default: usage count + record + overhead)\n"
    "  --free-every N       every N-th slot is a free slot (N >= 2)\n"
    "  --variable N         variable-length records, N bytes of variable part each (3.x-6.x)\n"
    "  --fragment-size N    largest piece of a variable part in one fragment\n"
    "  --bits N             BitsInRecordId (8.00 on; default: what the slots need)\n"
    "Keys (record i holds its key value in every key field):\n"
    "  --key POS:LEN[:TYPE[:FLAGS]]      a key of one segment (default 0:4:integer)\n"
    "  --segment POS:LEN[:TYPE[:FLAGS]]  one more segment of the last key\n"
    "                       TYPE: string integer float date time decimal money logical\n"
    "                       numeric bfloat lstring zstring unsigned autoinc, or a number\n"
    "                       FLAGS: dup,mod,desc,nocase, or a number\n"
    "  --no-keys            a file without keys\n"
    "  --duplicates N       N records share each key value\n"
    "  --shuffle-keys       key values a fixed permutation, so key order is not physical order\n"
    "  --no-index-pages     no empty index page per key\n"
    "Damage (repeatable):\n"
    "  --damage KIND[=TARGET[:BYTES]]\n"
    "                       KIND: zero-page garbage-page cut-at-page cut-in-page\n"
    "                       pat-past-end header-number header-type\n"
    "                       free-chain-loop free-chain-out variable-broken variable-loop\n"
    "                       TARGET: N (physical page), record:N (the data page of record N;\n"
    "                       the record itself for variable-*), data-page:N (N-th data page)\n"
    "                       BYTES: for cut-in-page, bytes kept of the page (default half)\n"
    "Output:\n"
    "  --list               print where every record lies\n"
    "  --quiet              no summary\n"
    "  --help               this text\n";

static int Bad(const char* what, const char* value) {
  std::fprintf(stderr, "mkbtrieve: %s: %s\n", what, value ? value : "(missing)");
  return 0;
}

static int ParseNumber(const char* text, uint64_t* out) {
  if (!text || !*text) return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || end == text) return 0;
  uint64_t scale = 1;
  if (*end == 'K' || *end == 'k') scale = 1024ull, ++end;
  else if (*end == 'M' || *end == 'm') scale = 1024ull * 1024, ++end;
  else if (*end == 'G' || *end == 'g') scale = 1024ull * 1024 * 1024, ++end;
  if (*end) return 0;
  *out = uint64_t(v) * scale;
  return 1;
}

static int ParseSmall(const char* text, uint64_t most, uint64_t* out) {
  return ParseNumber(text, out) && *out <= most;
}

// Consumes the option's value and parses it as a number of at most most.
static int TakeNumber(int* a, const char* val, uint64_t most, uint64_t* to) {
  ++*a;
  return ParseSmall(val, most, to);
}

static int ParseType(const char* text, uint8_t* type) {
  static const char* const names[] = {"string", "integer", "float",   "date",    "time",
                                      "decimal", "money",  "logical", "numeric", "bfloat",
                                      "lstring", "zstring"};
  for (unsigned i = 0; i < sizeof names / sizeof names[0]; ++i)
    if (std::strcmp(text, names[i]) == 0) return *type = uint8_t(i), 1;
  if (std::strcmp(text, "unsigned") == 0) return *type = 14, 1;
  if (std::strcmp(text, "autoinc") == 0) return *type = 15, 1;
  uint64_t v;
  if (ParseSmall(text, 255, &v)) return *type = uint8_t(v), 1;
  return 0;
}

static int ParseFlags(char* text, uint16_t* flags) {
  uint64_t v;
  if (ParseSmall(text, 0xFFFF, &v)) return *flags = uint16_t(v), 1;
  *flags = 0;
  for (char* word = std::strtok(text, ","); word; word = std::strtok(nullptr, ",")) {
    if (std::strcmp(word, "dup") == 0) *flags |= 0x0001;
    else if (std::strcmp(word, "mod") == 0) *flags |= 0x0002;
    else if (std::strcmp(word, "desc") == 0) *flags |= 0x0040;
    else if (std::strcmp(word, "nocase") == 0) *flags |= 0x0400;
    else return 0;
  }
  return 1;
}

// POS:LEN[:TYPE[:FLAGS]]
static int ParseSegment(const char* text, BtKeySegment* seg) {
  char copy[256];
  if (!text || std::strlen(text) >= sizeof copy) return 0;
  std::strcpy(copy, text);
  char* fields[4] = {nullptr, nullptr, nullptr, nullptr};
  int n = 0;
  char* rest = copy;
  while (n < 4) {
    fields[n++] = rest;
    char* colon = std::strchr(rest, ':');
    if (!colon) break;
    *colon = 0;
    rest = colon + 1;
  }
  uint64_t pos, len;
  if (n < 2 || !ParseSmall(fields[0], 0xFFFF, &pos) || !ParseSmall(fields[1], 0xFFFF, &len)) return 0;
  std::memset(seg, 0, sizeof *seg);
  seg->Position = uint16_t(pos);
  seg->Length = uint16_t(len);
  seg->Type = 1;
  if (n >= 3 && !ParseType(fields[2], &seg->Type)) return 0;
  if (n >= 4 && !ParseFlags(fields[3], &seg->Flags)) return 0;
  return 1;
}

static int ParseDamage(const char* text, BtDamage* d) {
  static const struct {
    const char* Name;
    int Kind;
  } kinds[] = {{"zero-page", BtDamageZeroPage},
               {"garbage-page", BtDamageGarbagePage},
               {"cut-at-page", BtDamageCutAtPage},
               {"cut-in-page", BtDamageCutInPage},
               {"pat-past-end", BtDamagePatPastEnd},
               {"header-number", BtDamageHeaderNumber},
               {"header-type", BtDamageHeaderType},
               {"free-chain-loop", BtDamageFreeChainLoop},
               {"free-chain-out", BtDamageFreeChainOut},
               {"variable-broken", BtDamageVariableBroken},
               {"variable-loop", BtDamageVariableLoop}};
  char copy[256];
  if (!text || std::strlen(text) >= sizeof copy) return 0;
  std::strcpy(copy, text);
  char* target = std::strchr(copy, '=');
  if (target) *target++ = 0;
  std::memset(d, 0, sizeof *d);
  for (const auto& k : kinds)
    if (std::strcmp(copy, k.Name) == 0) d->Kind = k.Kind;
  if (d->Kind == 0) return 0;
  bool variable = d->Kind == BtDamageVariableBroken || d->Kind == BtDamageVariableLoop;
  if (!target) return d->Kind == BtDamageFreeChainLoop || d->Kind == BtDamageFreeChainOut;
  d->Target = variable ? BtTargetRecordPage : BtTargetPhysicalPage;
  if (std::strncmp(target, "record:", 7) == 0) d->Target = BtTargetRecordPage, target += 7;
  else if (std::strncmp(target, "data-page:", 10) == 0) d->Target = BtTargetDataPage, target += 10;
  if (variable && d->Target != BtTargetRecordPage) return 0;
  char* arg = std::strchr(target, ':');
  if (arg) *arg++ = 0;
  uint64_t v;
  if (!ParseSmall(target, 0xFFFFFFFFull, &v)) return 0;
  d->Value = uint32_t(v);
  if (arg) {
    if (d->Kind != BtDamageCutInPage || !ParseSmall(arg, 0xFFFFFFFFull, &v)) return 0;
    d->Arg = uint32_t(v);
  }
  return 1;
}

static void PrintSummary(const char* path, const BtDataSpec* spec, const BtBuildResult* r) {
  const BtGeometry* g = &r->Geometry;
  std::printf("Wrote %s: version %d.%.2x, page size %lu, FCR page size %lu\n", path,
              g->Version >> 8, g->Version & 0xFF, (unsigned long)g->PageSize,
              (unsigned long)g->FcrPageSize);
  std::printf("  %lu records of %lu bytes, PhysRecLen %lu, %lu slots a page, %lu free slots",
              (unsigned long)spec->Records, (unsigned long)spec->RecordLength,
              (unsigned long)r->Fcr.PhysRecLen, (unsigned long)r->SlotsPerPage,
              (unsigned long)r->FreeSlots);
  if (r->Fcr.BitsInRecordId >= 0) std::printf(", BitsInRecordId %d", r->Fcr.BitsInRecordId);
  std::printf("\n");
  if (spec->Variable)
    std::printf("  variable parts of %lu bytes in %lu fragments each, %lu fragments a page\n",
                (unsigned long)spec->VariableLength, (unsigned long)r->PiecesPerRecord,
                (unsigned long)r->FragmentsPerPage);
  std::printf("  pages: %lu index, %lu data, %lu variable; %lu physical",
              (unsigned long)r->IndexPages, (unsigned long)r->DataPages,
              (unsigned long)r->VariablePages, (unsigned long)r->PhysicalPages);
  if (g->Version >= 0x0600)
    std::printf(", %lu logical, %lu PAT pairs", (unsigned long)r->LogicalPages,
                (unsigned long)r->PatPairs);
  std::printf("\n");
  uint32_t first = 0, last = 0;
  BtDataPagePhysical(r, 0, &first);
  BtDataPagePhysical(r, r->DataPages - 1, &last);
  std::printf("  data pages: physical 0x%.8lx to 0x%.8lx\n", (unsigned long)first,
              (unsigned long)last);
  std::printf("  file set: %d part%s, %lu bytes", r->Parts, r->Parts == 1 ? "" : "s",
              (unsigned long)r->FileSize);
  if (spec->DamageCount) std::printf(", %d damage%s", spec->DamageCount, spec->DamageCount == 1 ? "" : "s");
  std::printf("\n");
}

static void PrintList(const BtBuildResult* r, uint32_t records) {
  std::printf("record logical-page physical-page slot offset part part-offset position\n");
  for (uint32_t i = 0; i < records; ++i) {
    BtRecordPlace place;
    if (!BtRecordPlaceOf(r, i, &place)) break;
    std::printf("%lu 0x%.8lx 0x%.8lx %lu 0x%.8lx%.8lx %d 0x%.8lx%.8lx 0x%.8lx\n",
                (unsigned long)i, (unsigned long)place.LogicalPage,
                (unsigned long)place.PhysicalPage, (unsigned long)place.Slot,
                (unsigned long)(place.SlotOffset >> 32), (unsigned long)(place.SlotOffset & 0xFFFFFFFFu),
                place.Part, (unsigned long)(place.PartOffset >> 32),
                (unsigned long)(place.PartOffset & 0xFFFFFFFFu), (unsigned long)place.Position);
  }
}

int main(int argc, char** argv) {
  BtDataSpec spec;
  BtDefaultDataSpec(&spec, 0x0950, 4096);
  uint16_t version = 0x0950;
  uint64_t pageSize = 4096;
  bool negated = false, list = false, quiet = false, keysGiven = false;
  const char* out = nullptr;
  for (int a = 1; a < argc; ++a) {
    const char* opt = argv[a];
    const char* val = a + 1 < argc ? argv[a + 1] : nullptr;
    uint64_t v = 0;
    if (std::strcmp(opt, "--help") == 0 || std::strcmp(opt, "-h") == 0) {
      std::fputs(UsageText, stdout);
      return 0;
    } else if (std::strcmp(opt, "--version") == 0) {
      ++a;
      version = val ? BtParseVersion(val) : 0;
      if (version == 0) return Bad("unknown version", val), 1;
    } else if (std::strcmp(opt, "--page-size") == 0) {
      if (!TakeNumber(&a, val, 65536, &pageSize)) return Bad("bad page size", val), 1;
    } else if (std::strcmp(opt, "--negated") == 0) {
      negated = true;
    } else if (std::strcmp(opt, "--part-size") == 0) {
      if (!TakeNumber(&a, val, ~0ull, &v) || v < 512) return Bad("bad part size", val), 1;
      spec.PartSize = v;
    } else if (std::strcmp(opt, "--delta") == 0) {
      if (!TakeNumber(&a, val, ~0ull, &v)) return Bad("bad delta size", val), 1;
      spec.Delta = 1;
      spec.DeltaSize = v;
    } else if (std::strcmp(opt, "--first-page") == 0) {
      if (!TakeNumber(&a, val, 0xFFFFFFFFull, &v)) return Bad("bad first page", val), 1;
      spec.FirstPage = uint32_t(v);
    } else if (std::strcmp(opt, "--current-copy") == 0) {
      if (!TakeNumber(&a, val, 1, &v)) return Bad("bad copy", val), 1;
      spec.CurrentCopy = int(v);
    } else if (std::strcmp(opt, "--records") == 0) {
      if (!TakeNumber(&a, val, 0xFFFFFFFFull, &v)) return Bad("bad record count", val), 1;
      spec.Records = uint32_t(v);
    } else if (std::strcmp(opt, "--record-length") == 0) {
      if (!TakeNumber(&a, val, 0xFFFF, &v)) return Bad("bad record length", val), 1;
      spec.RecordLength = uint16_t(v);
    } else if (std::strcmp(opt, "--phys-rec-len") == 0) {
      if (!TakeNumber(&a, val, 0xFFFF, &v)) return Bad("bad physical record length", val), 1;
      spec.PhysRecLen = uint16_t(v);
    } else if (std::strcmp(opt, "--free-every") == 0) {
      if (!TakeNumber(&a, val, 0xFFFFFFFFull, &v)) return Bad("bad free-slot spacing", val), 1;
      spec.FreeEvery = uint32_t(v);
    } else if (std::strcmp(opt, "--variable") == 0) {
      if (!TakeNumber(&a, val, 0xFFFFFFFFull, &v)) return Bad("bad variable length", val), 1;
      spec.Variable = 1;
      spec.VariableLength = uint32_t(v);
    } else if (std::strcmp(opt, "--fragment-size") == 0) {
      if (!TakeNumber(&a, val, 0xFFFF, &v) || v == 0) return Bad("bad fragment size", val), 1;
      spec.FragmentSize = uint32_t(v);
    } else if (std::strcmp(opt, "--bits") == 0) {
      if (!TakeNumber(&a, val, 31, &v) || v == 0) return Bad("bad BitsInRecordId", val), 1;
      spec.BitsInRecordId = int(v);
    } else if (std::strcmp(opt, "--key") == 0 || std::strcmp(opt, "--segment") == 0) {
      ++a;
      bool segment = opt[2] == 's';
      if (!keysGiven) spec.SegmentCount = 0, keysGiven = true;
      if (segment && spec.SegmentCount == 0) return Bad("--segment without a --key before it", val), 1;
      if (spec.SegmentCount >= BtMaxSegments) return Bad("too many key segments", val), 1;
      BtKeySegment seg;
      if (!ParseSegment(val, &seg)) return Bad("bad key segment", val), 1;
      if (segment) spec.Segments[spec.SegmentCount - 1].Flags |= 0x0010;
      spec.Segments[spec.SegmentCount++] = seg;
    } else if (std::strcmp(opt, "--no-keys") == 0) {
      spec.SegmentCount = 0;
      keysGiven = true;
    } else if (std::strcmp(opt, "--duplicates") == 0) {
      if (!TakeNumber(&a, val, 0xFFFFFFFFull, &v)) return Bad("bad duplicates", val), 1;
      spec.DuplicatesPer = uint32_t(v);
    } else if (std::strcmp(opt, "--shuffle-keys") == 0) {
      spec.ShuffleKeys = 1;
    } else if (std::strcmp(opt, "--no-index-pages") == 0) {
      spec.IndexPages = 0;
    } else if (std::strcmp(opt, "--damage") == 0) {
      ++a;
      if (spec.DamageCount >= BtMaxDamage) return Bad("too many damages", val), 1;
      if (!ParseDamage(val, &spec.Damage[spec.DamageCount])) return Bad("bad damage", val), 1;
      ++spec.DamageCount;
    } else if (std::strcmp(opt, "--list") == 0) {
      list = true;
    } else if (std::strcmp(opt, "--quiet") == 0) {
      quiet = true;
    } else if (opt[0] == '-' && opt[1] != 0) {
      return Bad("unknown option", opt), 1;
    } else if (out) {
      return Bad("more than one output file", opt), 1;
    } else {
      out = opt;
    }
    if (a >= argc) return Bad("option needs a value", opt), 1;
  }
  if (!out) {
    std::fputs(UsageText, stderr);
    return 1;
  }
  spec.Version = version;
  spec.PageSize = uint32_t(pageSize);
  if (negated) spec.VersionWord = int(uint16_t(0x10000 - version));
  BtBuildResult result;
  if (!BtBuildFileSet(&spec, out, &result)) {
    std::fprintf(stderr, "mkbtrieve: %s: %s\n", out, result.Error);
    return 1;
  }
  if (!quiet) PrintSummary(out, &spec, &result);
  if (list) PrintList(&result, spec.Records);
  BtFreeBuildResult(&result);
  return 0;
}
