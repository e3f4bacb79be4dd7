// Shared fixtures of the low-level library tests: temporary folders, byte
// images of files, sparse large files, capture of stdout/stderr, and a reset
// of the library's global state to what it is at program start.
//
// Reuse it from any test of the library:
//   lltest::TempDir dir;                      // removed with its contents
//   lltest::Image img(8192);                  // zero bytes
//   lltest::Put16(img, 74, 0x0600);           // little-endian fields
//   lltest::WriteImage(dir.Path("A.DAT"), img);
//   lltest::WriteSparse(dir.Path("A.^01"), 1ull << 30);   // 1 GiB, no disk
//   lltest::Capture cap;  ...  cap.Stop();    // cap.Out(), cap.Err()
//   lltest::ResetLibrary();                   // closes handles, fresh state
#ifndef HALVORN_TESTS_LOWLEVEL_TESTFILES_H
#define HALVORN_TESTS_LOWLEVEL_TESTFILES_H

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "LowLevel/LowLevel.h"

namespace lltest {

typedef std::vector<uint8_t> Image;

// ------------------------------------------------------------ folders

class TempDir {
public:
  TempDir()
  {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && base[0] ? base : "/tmp") +
                          "/halvorn-ll-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    if (mkdtemp(name.data()) != nullptr)
      path_ = name.data();
  }
  ~TempDir()
  {
    if (!path_.empty())
      nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Root() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  // Makes a subfolder (one level) and gives its path.
  std::string Mkdir(const std::string& name) const
  {
    std::string p = Path(name);
    mkdir(p.c_str(), 0755);
    return p;
  }

private:
  static int RemoveOne(const char* p, const struct stat*, int, struct FTW*)
  {
    remove(p);
    return 0;
  }
  std::string path_;
};

// ------------------------------------------------------------ byte images

inline void Grow(Image& img, size_t end)
{
  if (img.size() < end)
    img.resize(end, 0);
}
inline void Put8(Image& img, size_t at, uint8_t v)
{
  Grow(img, at + 1);
  img[at] = v;
}
inline void Put16(Image& img, size_t at, uint16_t v)
{
  Grow(img, at + 2);
  img[at] = (uint8_t)v;
  img[at + 1] = (uint8_t)(v >> 8);
}
inline void Put32(Image& img, size_t at, uint32_t v)
{
  Grow(img, at + 4);
  for (int i = 0; i < 4; i++)
    img[at + i] = (uint8_t)(v >> (8 * i));
}
// A 32-bit value stored as two little-endian 16-bit words, high word first.
inline void PutHighFirst32(Image& img, size_t at, uint32_t v)
{
  Put16(img, at, (uint16_t)(v >> 16));
  Put16(img, at + 2, (uint16_t)v);
}
inline void PutBytes(Image& img, size_t at, const std::vector<uint8_t>& bytes)
{
  Grow(img, at + bytes.size());
  memcpy(img.data() + at, bytes.data(), bytes.size());
}

inline bool WriteImage(const std::string& path, const Image& img)
{
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  bool ok = img.empty() || fwrite(img.data(), 1, img.size(), f) == img.size();
  return fclose(f) == 0 && ok;
}

// A file of the given size whose bytes are zero except for the image written
// at its start; the rest is a hole (ftruncate), so 1 GiB parts and offsets
// past 4 GiB cost no disk space.
inline bool WriteSparse(const std::string& path, uint64_t size, const Image& head = Image())
{
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  bool ok = ftruncate(fd, (off_t)size) == 0;
  if (ok && !head.empty())
    ok = pwrite(fd, head.data(), head.size(), 0) == (ssize_t)head.size();
  return close(fd) == 0 && ok;
}

// Writes bytes at an offset of an existing file (which may be sparse).
inline bool PatchFile(const std::string& path, uint64_t offset, const Image& bytes)
{
  int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0)
    return false;
  bool ok = pwrite(fd, bytes.data(), bytes.size(), (off_t)offset) == (ssize_t)bytes.size();
  return close(fd) == 0 && ok;
}

inline Image ReadWholeFile(const std::string& path)
{
  Image img;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr)
    return img;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0)
    img.insert(img.end(), buf, buf + n);
  fclose(f);
  return img;
}

// ------------------------------------------------------------ FCR pages
//
// An FCR page at byte `at` of the image, by the documented layout. From 6.0
// on the page starts with 'F' 'C' and carries its version word at 74 (bytes
// 4 to 11 hold the usage count); below 6.0 the first four bytes are zero and
// the version word is at 6. The page-size byte is byte 9 below 8.0 and byte
// 43 from 8.0 on; the usage count is at 4 below 8.0, at 6 up to 9.4x and at 8
// from 9.50 on.
inline void PutFcr(Image& img, size_t at, uint16_t version, uint8_t pageSizeByte,
                   uint32_t usage = 0)
{
  Grow(img, at + 512);
  if (version >= 0x0600) {
    Put8(img, at + 0, 'F');
    Put8(img, at + 1, 'C');
    Put16(img, at + 74, version);
  } else {
    Put32(img, at + 0, 0);
    Put16(img, at + 6, version);
  }
  if (version < 0x0800)
    Put8(img, at + 9, pageSizeByte);
  else
    Put8(img, at + 43, pageSizeByte);
  if (version >= 0x0600) {
    size_t usageAt = version < 0x0800 ? 4 : version < 0x0950 ? 6 : 8;
    Put32(img, at + usageAt, usage);
  }
}

// ------------------------------------------------------------ streams

// Redirects stdout and stderr to temporary files until Stop(); the texts are
// then in Out() and Err(). Everything buffered before the start is flushed
// first, so only what the code under test writes is caught.
class Capture {
public:
  Capture()
  {
    fflush(stdout);
    fflush(stderr);
    outFile_ = tmpfile();
    errFile_ = tmpfile();
    savedOut_ = dup(1);
    savedErr_ = dup(2);
    dup2(fileno(outFile_), 1);
    dup2(fileno(errFile_), 2);
    active_ = true;
  }
  ~Capture()
  {
    Stop();
    if (outFile_ != nullptr)
      fclose(outFile_);
    if (errFile_ != nullptr)
      fclose(errFile_);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  void Stop()
  {
    if (!active_)
      return;
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut_, 1);
    dup2(savedErr_, 2);
    close(savedOut_);
    close(savedErr_);
    active_ = false;
    out_ = ReadBack(outFile_);
    err_ = ReadBack(errFile_);
  }
  const std::string& Out()
  {
    Stop();
    return out_;
  }
  const std::string& Err()
  {
    Stop();
    return err_;
  }

private:
  static std::string ReadBack(FILE* f)
  {
    std::string s;
    if (f == nullptr)
      return s;
    fseek(f, 0, SEEK_SET);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
      s.append(buf, n);
    return s;
  }
  FILE* outFile_ = nullptr;
  FILE* errFile_ = nullptr;
  int savedOut_ = -1;
  int savedErr_ = -1;
  bool active_ = false;
  std::string out_;
  std::string err_;
};

// ------------------------------------------------------------ library state

// Closes whatever the library holds open and puts LLFileState back to its
// state at program start (all zero, every handle invalid, no 6.x threshold,
// no PAT pair loaded, Verbose off). A header table of the page readers must
// be released by its own operation before this is called.
inline void ResetLibrary()
{
  LLFileState.Verbose = 0;
  LLCloseAll();
  memset(&LLFileState, 0, sizeof LLFileState);
  for (int i = 0; i < LLMaxParts; i++)
    LLFileState.PartHandles[i] = PlatformInvalidFile;
  LLFileState.DeltaHandle = PlatformInvalidFile;
  LLFileState.V6ShiftThreshold = 0xFFFFFFFFu;
  LLFileState.LoadedPatPair = -1;
}

// Opens quietly (nothing the open writes reaches the test's output).
inline uint16_t QuietOpen(const std::string& path, int kind = 0)
{
  Capture cap;
  return LLOpenFileSet(path.c_str(), kind);
}

// The geometry of a small fixture file set of one version and page size, as
// the library derives it: FCR page size, usage count, PAT entry layout, the
// data page's LastSlot word, the header length and the offset of PAT pair 1.
// Written from the format tables, independently of the library's code.
struct Layout {
  uint16_t version;
  uint16_t pageSize;
  uint32_t fcrPageSize;
  uint32_t usageAt;
  uint32_t entryAt;
  uint32_t entrySize;
  uint32_t lastSlotAt;
  uint32_t headerLength;
  uint64_t pat1;
  uint16_t physicalPageSize;  // pages on disk, compressed files
};

Layout LayoutFor(uint16_t version, uint16_t pageSize, uint16_t physicalPageSize = 0)
{
  Layout l{};
  l.version = version;
  l.pageSize = pageSize;
  l.physicalPageSize = physicalPageSize ? physicalPageSize : pageSize;
  if (version < 0x0800) {
    l.fcrPageSize = pageSize;
    l.usageAt = 4;
    l.entryAt = 8;
    l.entrySize = 4;
    l.lastSlotAt = 10;
    l.headerLength = 4;
  } else if (version < 0x0950) {
    l.fcrPageSize = pageSize == 8192 ? 8192 : std::max<uint32_t>(2u * pageSize, 2048);
    l.usageAt = 6;
    l.entryAt = 20;
    l.entrySize = 6;
    l.lastSlotAt = 14;
    l.headerLength = 6;
  } else {
    l.fcrPageSize = pageSize >= 16384 ? 16384 : 2u * pageSize;
    if (version == 0x0950 && l.fcrPageSize < 4096)
      l.fcrPageSize = 4096;
    l.usageAt = 8;
    l.entryAt = 16;
    l.entrySize = 8;
    l.lastSlotAt = 16;
    l.headerLength = version == 0x0950 ? 8 : 16;
  }
  l.pat1 = 2ull * l.fcrPageSize * (version >= 0x0800 ? 2 : 1);
  return l;
}

}  // namespace lltest

#endif
