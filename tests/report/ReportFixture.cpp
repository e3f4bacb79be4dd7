#include "tests/report/ReportFixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "Common/FcrLayout.h"
#include "Common/LittleEndian.h"

namespace {

uint16_t EffectiveVersion(uint16_t word) {
  return word > 0x8000 ? static_cast<uint16_t>(0x10000 - word) : word;
}

int UsageOffsetFor(uint16_t version) {
  if (version < 0x0800) return FcrUsageCountV6;
  if (version < 0x0950) return FcrUsageCountV8;
  return FcrUsageCountV95;
}

void FillFcr(uint8_t* page, const ReportFile& file, uint16_t version, uint32_t usage,
             uint16_t physRecLen) {
  if (version < 0x0600) {
    PutLE16(page + FcrVersionWordZero, file.VersionWord);  // bytes 0-3 stay zero
  } else {
    page[0] = 'F';
    page[1] = 'C';
    PutLE16(page + FcrVersionWordFc, file.VersionWord);
    PutLE32(page + UsageOffsetFor(version), usage);
  }
  const uint8_t sizeByte = static_cast<uint8_t>(file.PageSize / 256);
  if (version < 0x0800)
    page[FcrPageSizeByteOld] = sizeByte;
  else
    page[FcrPageSizeByteNew] = sizeByte;
  PutLE16(page + FcrPhysRecLen, physRecLen);
  if (version == 0x0800 || version == 0x0900 || version == 0x0950)
    page[FcrBitsInRecordIdV8] = file.BitsInRecordId;
  if (version > 0x0950) page[FcrBitsInRecordIdV13] = file.BitsInRecordId;
  if (version >= 0x0950 && file.Compressed) {
    PutLE16(page + (version == 0x0950 ? FcrFlagsV95 : FcrFlagsV13),
            static_cast<uint16_t>(FcrFlagPageCompressed));
    PutLE16(page + FcrPhysicalPageSize, file.PhysicalPageSize);
  }
}

void PutPatEntry(uint8_t* page, uint16_t version, uint32_t index, uint32_t physical) {
  if (version < 0x0800) {
    // 4 bytes, high word first; top byte the page type 'D'
    PutHighWordFirst32(page + PatEntriesV6 + 4 * index, (physical & 0xFFFFFF) | (0x44u << 24));
  } else if (version < 0x0950) {
    PutLE32(page + PatEntriesV8 + 6 * index, physical);
    PutLE16(page + PatEntriesV8 + 6 * index + 4, 0x44);
  } else {
    PutLE32(page + PatEntriesV95 + 8 * index, physical);
    PutLE16(page + PatEntriesV95 + 8 * index + 4, 0x44);
    PutLE16(page + PatEntriesV95 + 8 * index + 6, 1);
  }
}

}  // namespace

uint16_t FixtureFcrPageSize(uint16_t word, uint16_t pageSize) {
  const uint16_t version = EffectiveVersion(word);
  const unsigned twice = 2u * pageSize;
  if (version < 0x0800) return pageSize;
  if (version < 0x0950) {
    if (pageSize == 8192) return 8192;
    return static_cast<uint16_t>(std::max(twice, 2048u));
  }
  if (pageSize >= 16384) return 16384;
  if (version == 0x0950) return static_cast<uint16_t>(std::max(twice, 4096u));
  return static_cast<uint16_t>(twice);
}

uint64_t FixturePatPairOneOffset(uint16_t word, uint16_t pageSize) {
  const uint16_t version = EffectiveVersion(word);
  const uint64_t fcr = FixtureFcrPageSize(word, pageSize);
  return version < 0x0800 ? 2 * fcr : 4 * fcr;
}

std::vector<uint8_t> BuildReportFile(const ReportFile& file) {
  const uint16_t version = EffectiveVersion(file.VersionWord);
  if (version < 0x0600) {
    std::vector<uint8_t> bytes(std::max<size_t>(512, file.PageSize), 0);
    FillFcr(bytes.data(), file, version, 0, file.PhysRecLen);
    return bytes;
  }
  const uint32_t fcrSize = FixtureFcrPageSize(file.VersionWord, file.PageSize);
  const uint64_t patOffset = FixturePatPairOneOffset(file.VersionWord, file.PageSize);
  std::vector<uint8_t> bytes(file.WritePat ? patOffset + 2 * fcrSize : 2 * fcrSize, 0);
  const bool second = file.CurrentCopy == 1;
  FillFcr(bytes.data(), file, version, second ? 5 : 9,
          second ? static_cast<uint16_t>(file.PhysRecLen + 999) : file.PhysRecLen);
  FillFcr(bytes.data() + fcrSize, file, version, second ? 9 : 5, file.PhysRecLen);
  if (file.WritePat) {
    const int usage = UsageOffsetFor(version);
    for (int copy = 0; copy < 2; ++copy) {
      uint8_t* page = bytes.data() + patOffset + copy * fcrSize;
      page[0] = 'P';
      page[1] = 'P';
      PutLE32(page + usage, 3);  // equal counts: either copy is good
      for (const auto& entry : file.Map) PutPatEntry(page, version, entry.first - 1, entry.second);
    }
  }
  return bytes;
}

bool MakeSparseFile(const std::string& path, uint64_t size) {
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
  const std::vector<uint8_t> bytes = BuildReportFile(file);
  FILE* out = fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool written = fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (fclose(out) != 0 || !written) return false;
  uint64_t size = std::max<uint64_t>(bytes.size(), file.MinimumSize);
  const uint16_t version = EffectiveVersion(file.VersionWord);
  const uint64_t pageBytes =
      (version >= 0x0950 && file.Compressed) ? file.PhysicalPageSize : file.PageSize;
  for (const auto& entry : file.Map)
    if (file.ExtendToMappedPages) size = std::max<uint64_t>(size, (static_cast<uint64_t>(entry.second) + 2) * pageBytes);
  return MakeSparseFile(path, size);
}
