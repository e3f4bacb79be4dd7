// The report's data files, written with the project's file-set builder
// (tools/btbuild): FCR pages and PAT pair 1, nothing else.
#include "tests/report/ReportFixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/btbuild/BtBuild.h"

namespace {

uint16_t EffectiveVersion(uint16_t word) {
  return word > 0x8000 ? static_cast<uint16_t>(0x10000 - word) : word;
}

uint64_t FileSize(const std::string& path) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<uint64_t>(size);
}

}  // namespace

bool SetFileSize(const std::string& path, uint64_t size) {
  if (!std::filesystem::exists(path)) {
    FILE* created = fopen(path.c_str(), "wb");
    if (!created) return false;
    fclose(created);
  }
  std::error_code error;
  std::filesystem::resize_file(path, size, error);
  return !error;
}

bool WriteReportFile(const std::string& path, const ReportFile& file) {
  const uint16_t version = EffectiveVersion(file.VersionWord);
  // A damaged page size of 0 keeps the page-size byte 0 in a page of 1024.
  const uint32_t pageSize = file.PageSize != 0 ? file.PageSize : 1024;

  BtFileSet set;
  BtInitFileSet(&set, path.c_str(), 0);
  BtFcrSpec fcr;
  BtDefaultFcr(&fcr, version, pageSize);
  if (file.VersionWord != version) fcr.VersionWord = file.VersionWord;
  if (file.PageSize == 0) fcr.PageSizeByte = 0;
  fcr.PhysRecLen = file.PhysRecLen;
  if (version >= 0x0800) fcr.BitsInRecordId = file.BitsInRecordId;
  if (version >= 0x0950 && file.Compressed) {
    fcr.Compressed = 1;
    fcr.PhysicalPageSize = file.PhysicalPageSize;
  }

  if (version < 0x0600) {
    if (!BtWriteFcrPage(&set, &fcr, 0)) return false;
  } else if (file.CurrentCopy == 1) {
    BtFcrSpec stale = fcr;
    stale.UsageCount = 5;
    stale.PhysRecLen = static_cast<uint16_t>(file.PhysRecLen + 999);
    fcr.UsageCount = 9;
    if (!BtWriteFcrPage(&set, &stale, 0) || !BtWriteFcrPage(&set, &fcr, 1)) return false;
  } else {
    if (!BtWriteFcrPair(&set, &fcr, 9, 5)) return false;
  }

  BtGeometry g;
  if (version >= 0x0950 && file.Compressed)
    BtComputeGeometryCompressed(version, pageSize, file.PhysicalPageSize, &g);
  else
    BtComputeGeometry(version, pageSize, &g);
  if (version >= 0x0600 && file.WritePat) {
    uint32_t count = 0;
    for (const auto& entry : file.Map) count = std::max(count, entry.first);
    std::vector<BtPatEntry> entries(count, BtPatEntry{0, 0, 0});
    for (const auto& entry : file.Map) entries[entry.first - 1] = BtPatEntry{entry.second, 'D', 1};
    // Equal usage counts: either copy is good.
    if (!BtWritePatPair(&set, &g, 1, 3, 3, entries.data(), count)) return false;
  }

  uint64_t size = std::max(FileSize(path), file.MinimumSize);
  if (file.ExtendToMappedPages)
    for (const auto& entry : file.Map)
      size = std::max<uint64_t>(size, (static_cast<uint64_t>(entry.second) + 2) * g.PhysicalPageSize);
  return SetFileSize(path, size);
}
