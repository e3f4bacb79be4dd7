// Helpers for the engine tests: open a file through the record-call entry,
// walk it in any order, and read files and their pages directly.
#ifndef HALVORN_TESTS_ENGINE_ENGINETESTKIT_H
#define HALVORN_TESTS_ENGINE_ENGINETESTKIT_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "StandInEngine/StandInEngine.h"

typedef std::vector<uint8_t> Bytes;

inline std::string SamplePath(const char* name)
{
  return std::string(HALVORN_SAMPLES_DIR) + "/" + name;
}

inline bool FileExists(const std::string& path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

inline Bytes ReadWholeFile(const std::string& path)
{
  Bytes bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  fclose(f);
  return bytes;
}

inline void WriteWholeFile(const std::string& path, const Bytes& bytes)
{
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr)
    return;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// A scratch folder under /tmp, removed with its files.
struct ScratchDir {
  std::string Path;
  ScratchDir()
  {
    char name[] = "/tmp/engine-test-XXXXXX";
    Path = mkdtemp(name);
  }
  ~ScratchDir()
  {
    std::string command = "rm -rf '" + Path + "'";
    if (system(command.c_str()) != 0)
      fprintf(stderr, "could not remove %s\n", Path.c_str());
  }
  std::string File(const char* name) const { return Path + "/" + name; }
};

struct OpenFile {
  uint8_t Block[128];
  int Status;
};

inline int CallEngine(uint16_t op, uint8_t* block, void* data, uint32_t* length, void* key,
                      int keyNumber, uint8_t keyLength = 255)
{
  return StandInRecordCall(op, block, data, length, key, keyLength, (int8_t)keyNumber);
}

inline int OpenPath(const std::string& path, uint8_t* block, int mode = 0)
{
  char key[256];
  snprintf(key, sizeof key, "%s", path.c_str());
  char owner[80] = "";
  uint32_t length = sizeof owner;
  memset(block, 0, 128);
  return CallEngine(OpOpen, block, owner, &length, key, mode);
}

inline void CloseBlock(uint8_t* block)
{
  uint32_t length = 0;
  CallEngine(OpClose, block, nullptr, &length, nullptr, 0);
}

struct Walk {
  std::vector<Bytes> Records;
  std::vector<Bytes> Keys;
  std::vector<uint32_t> Positions;
  int Status = -1;      // the status that ended the walk
  int OpenStatus = -1;
};

// Walks a file with a first and a further operation, as the tool does: after
// every record, Get Position.
inline Walk RunWalk(const std::string& path, int first, int next, int keyNumber,
                    size_t limit = 100000000)
{
  Walk walk;
  uint8_t block[128];
  walk.OpenStatus = OpenPath(path, block);
  if (walk.OpenStatus != 0)
    return walk;
  std::vector<uint8_t> data(60000);
  uint8_t key[256];
  int op = first;
  for (;;) {
    uint32_t length = (uint32_t)data.size();
    memset(key, 0, sizeof key);
    int status = CallEngine(op, block, data.data(), &length, key, keyNumber);
    if (status != 0) {
      walk.Status = status;
      break;
    }
    if (op < OpKeyOnly)
      walk.Records.push_back(Bytes(data.begin(), data.begin() + length));
    walk.Keys.push_back(Bytes(key, key + sizeof key));
    uint8_t position[4] = {0, 0, 0, 0};
    uint32_t four = 4;
    EXPECT_EQ(0, CallEngine(OpGetPosition, block, position, &four, key, keyNumber));
    walk.Positions.push_back((uint32_t)position[0] | (uint32_t)position[1] << 8 |
                             (uint32_t)position[2] << 16 | (uint32_t)position[3] << 24);
    op = next;
    if (walk.Records.size() > limit || walk.Keys.size() > limit)
      break;
  }
  CloseBlock(block);
  return walk;
}

inline Walk PhysicalWalk(const std::string& path) { return RunWalk(path, OpStepFirst, OpStepNext, 0); }
inline Walk BackwardWalk(const std::string& path) { return RunWalk(path, OpStepLast, OpStepPrevious, 0); }
inline Walk KeyWalk(const std::string& path, int key)
{
  return RunWalk(path, OpGetFirst, OpGetNext, key);
}

inline uint32_t SwapHalves32(uint32_t v) { return (v >> 16) | (v << 16); }
inline uint16_t Le16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p)
{
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

#endif
