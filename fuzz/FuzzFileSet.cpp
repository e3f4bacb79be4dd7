// The scratch folder and the file sets of the fuzz targets. POSIX only: the
// fuzz targets and their replay tests are built on Linux.
#include "fuzz/FuzzFileSet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Common/LittleEndian.h"

namespace {

struct FuzzFolderRecord {
  char Folder[256];
  char Path[512];
  int PartsWritten;   // extension parts the last file set had
  int DeltaWritten;   // the last file set had a delta file
};

FuzzFolderRecord FuzzFolder;

const char* FolderPath(const char* name) {
  snprintf(FuzzFolder.Path, sizeof FuzzFolder.Path, "%s/%s", FuzzScratchFolder(), name);
  return FuzzFolder.Path;
}

void RemoveFile(const char* name) { unlink(FolderPath(name)); }

void PartName(int part, char* name, size_t size) { snprintf(name, size, "DATA.^%.2x", part); }

size_t Clamp(uint32_t wanted, size_t left) { return wanted < left ? wanted : left; }

void RemoveFolderAtExit() {
  char name[32];
  RemoveFile("DATA.MKD");
  RemoveFile("DATA.^^^");
  for (int part = 1; part <= 3; ++part) {
    PartName(part, name, sizeof name);
    RemoveFile(name);
  }
  rmdir(FuzzFolder.Folder);
}

}  // namespace

const char* FuzzScratchFolder() {
  if (FuzzFolder.Folder[0] == '\0') {
    struct stat info;
    const char* base = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
    snprintf(FuzzFolder.Folder, sizeof FuzzFolder.Folder, "%s/halvorn-fuzz-XXXXXX", base);
    if (mkdtemp(FuzzFolder.Folder) == nullptr) {
      perror("halvorn fuzz: cannot create the scratch folder");
      abort();
    }
    atexit(RemoveFolderAtExit);
  }
  return FuzzFolder.Folder;
}

const char* FuzzWriteFile(const char* name, const uint8_t* data, size_t size) {
  const char* path = FolderPath(name);
  FILE* file = fopen(path, "wb");
  if (file == nullptr || (size > 0 && fwrite(data, 1, size, file) != size) || fclose(file) != 0) {
    perror("halvorn fuzz: cannot write a scratch file");
    abort();
  }
  return path;
}

FuzzFileSetInput FuzzReadInput(const uint8_t* data, size_t size) {
  FuzzFileSetInput input;
  memset(input.Header, 0, sizeof input.Header);
  if (size >= FuzzHeaderSize) {
    memcpy(input.Header, data, FuzzHeaderSize);
    data += FuzzHeaderSize;
    size -= FuzzHeaderSize;
  }
  input.Flags = input.Header[0];
  memcpy(input.Choice, input.Header + 1, sizeof input.Choice);
  input.Value = GetLE32(input.Header + 4);
  input.BaseSize = GetLE32(input.Header + 8);
  input.MiddleSize = GetLE32(input.Header + 12);
  input.Payload = data;
  input.PayloadSize = size;
  return input;
}

const char* FuzzWriteFileSet(const FuzzFileSetInput& input) {
  int parts = input.Flags & FuzzFlagPartsMask;
  int delta = (input.Flags & FuzzFlagDelta) != 0;
  char name[32];

  const uint8_t* at = input.Payload;
  size_t left = input.PayloadSize;
  size_t take = parts > 0 ? Clamp(input.BaseSize, left) : left;
  FuzzWriteFile("DATA.MKD", at, take);
  at += take;
  left -= take;
  for (int part = 1; part <= parts; ++part) {
    take = part < parts ? Clamp(input.MiddleSize, left) : left;
    PartName(part, name, sizeof name);
    FuzzWriteFile(name, at, take);
    at += take;
    left -= take;
  }
  for (int part = parts + 1; part <= FuzzFolder.PartsWritten; ++part) {
    PartName(part, name, sizeof name);
    RemoveFile(name);
  }
  FuzzFolder.PartsWritten = parts;

  if (delta) {
    FuzzWriteFile("DATA.^^^", input.Header, sizeof input.Header);
  } else if (FuzzFolder.DeltaWritten) {
    RemoveFile("DATA.^^^");
  }
  FuzzFolder.DeltaWritten = delta;
  return FolderPath("DATA.MKD");
}
