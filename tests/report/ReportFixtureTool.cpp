// report-fixture: writes one of the location report's small data files, for
// the golden cases' setup steps.
//
//   report-fixture PATH version=0x0700 page=1024 [reclen=100] [bits=10]
//                  [compressed=PHYSICALPAGESIZE] [map=LOGICAL:PHYSICAL,...]
//                  [nopat] [current=2] [size=BYTES] [noextend]
//
// Numbers are decimal or 0x-prefixed hexadecimal. map entries are in
// hexadecimal (12:30 maps logical page 0x12 to physical page 0x30).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/report/ReportFixture.h"

namespace {

unsigned long long Number(const std::string& text) { return strtoull(text.c_str(), nullptr, 0); }

int Usage() {
  fprintf(stderr,
          "usage: report-fixture PATH version=V page=N [reclen=N] [bits=N] [compressed=N]\n"
          "                      [map=L:P,...] [nopat] [current=2] [size=N] [noextend]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  ReportFile file;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : arg.substr(equals + 1);
    if (name == "version") {
      file.VersionWord = static_cast<uint16_t>(Number(value));
    } else if (name == "page") {
      file.PageSize = static_cast<uint16_t>(Number(value));
    } else if (name == "reclen") {
      file.PhysRecLen = static_cast<uint16_t>(Number(value));
    } else if (name == "bits") {
      file.BitsInRecordId = static_cast<uint8_t>(Number(value));
    } else if (name == "compressed") {
      file.Compressed = true;
      file.PhysicalPageSize = static_cast<uint16_t>(Number(value));
    } else if (name == "map") {
      size_t at = 0;
      while (at < value.size()) {
        size_t comma = value.find(',', at);
        if (comma == std::string::npos) comma = value.size();
        const std::string pair = value.substr(at, comma - at);
        const size_t colon = pair.find(':');
        if (colon == std::string::npos) return Usage();
        file.Map.emplace_back(static_cast<uint32_t>(strtoul(pair.substr(0, colon).c_str(), nullptr, 16)),
                              static_cast<uint32_t>(strtoul(pair.substr(colon + 1).c_str(), nullptr, 16)));
        at = comma + 1;
      }
    } else if (name == "nopat") {
      file.WritePat = false;
    } else if (name == "current") {
      file.CurrentCopy = Number(value) == 2 ? 1 : 0;
    } else if (name == "size") {
      file.MinimumSize = Number(value);
    } else if (name == "noextend") {
      file.ExtendToMappedPages = false;
    } else {
      return Usage();
    }
  }
  if (!WriteReportFile(argv[1], file)) {
    fprintf(stderr, "report-fixture: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
