// halvorn-inspect's whole output, standard output and standard error byte for
// byte and the exit code, against the files in expected/: the real sample
// GALTELA.DAT and TEST.DAT (skipped when the samples are absent), a small 9.50 file built
// here, and the usage and open errors.
//
// HALVORN_UPDATE_EXPECTED=1 in the environment rewrites the expected files
// from the current output instead of comparing; review them by hand after.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

#include "TestFiles.h"

using namespace lltest;

namespace {

std::string ReadText(const std::string& path)
{
  Image bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool HaveFile(const std::string& path)
{
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

struct Run {
  std::string out;
  std::string err;
  int code;
};

// Runs the inspector in a folder with the given arguments (already quoted
// for the shell where needed).
Run Inspect(const std::string& folder, const std::string& args)
{
  std::string command = "cd '" + folder + "' && '" HALVORN_INSPECT "' " + args +
                        " >inspect.out 2>inspect.err </dev/null";
  int status = system(command.c_str());
  Run r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = ReadText(folder + "/inspect.out");
  r.err = ReadText(folder + "/inspect.err");
  return r;
}

void Compare(const std::string& name, const Run& r, int code)
{
  std::string base = std::string(HALVORN_INSPECT_EXPECTED) + "/" + name;
  const char* update = getenv("HALVORN_UPDATE_EXPECTED");
  if (update != nullptr && strcmp(update, "1") == 0) {
    WriteImage(base + ".stdout", Image(r.out.begin(), r.out.end()));
    WriteImage(base + ".stderr", Image(r.err.begin(), r.err.end()));
  }
  EXPECT_EQ(code, r.code) << name;
  EXPECT_EQ(ReadText(base + ".stdout"), r.out) << name << ": standard output";
  EXPECT_EQ(ReadText(base + ".stderr"), r.err) << name << ": standard error";
}

struct Case {
  const char* name;
  const char* args;
  int code;
};

// ------------------------------------------------------------ the real sample

struct SampleCase {
  const char* sample;
  const char* name;
  const char* args;
  int code;
};

TEST(InspectOutput, RealSamples)
{
  const SampleCase cases[] = {
      {"GALTELA.DAT", "galtela_fcr", "GALTELA.DAT fcr", 0},
      {"GALTELA.DAT", "galtela_pat_1", "GALTELA.DAT pat 1", 0},
      {"GALTELA.DAT", "galtela_header_logical_5", "GALTELA.DAT header logical 5", 0},
      {"GALTELA.DAT", "galtela_record_10_0", "GALTELA.DAT record 10 0", 2},
      {"TEST.DAT", "test300_fcr", "TEST.DAT fcr", 0},
      {"TEST.DAT", "test300_header_logical_1", "TEST.DAT header logical 1", 0},
      {"TEST.DAT", "test300_pat_1", "TEST.DAT pat 1", 2},
      {"TEST.DAT", "test300_headers", "TEST.DAT headers", 2},
  };
  int ran = 0;
  for (const SampleCase& c : cases) {
    std::string sample = std::string(HALVORN_SAMPLES_DIR) + "/" + c.sample;
    if (!HaveFile(sample))
      continue;
    ran++;
    TempDir dir;
    // A copy, so that no extension part or delta file of the samples folder
    // could join the set.
    ASSERT_TRUE(WriteImage(dir.Path(c.sample), ReadWholeFile(sample)));
    Compare(c.name, Inspect(dir.Root(), c.args), c.code);
  }
  if (ran == 0)
    GTEST_SKIP() << "samples folder " << HALVORN_SAMPLES_DIR
                 << " is absent (no sample file found); skipping";
}

// ------------------------------------------------------------ a built 9.50 file

// A 9.50 file of 1024-byte pages (FCR and control pages of 4096 bytes): the
// second control pair with copy 1 newer, PAT pair 1 mapping logical pages 1
// and 2 to physical pages 30 and 31, data pages with offset tables, the misc
// pointer at page 2 record 1 and the user misc pointer at page 1 record 0.
Image Built950()
{
  const size_t F = 4096;
  Image img(40 * 1024, 0);
  for (int copy = 0; copy < 2; copy++) {
    size_t fcr = copy * F;
    PutFcr(img, fcr, 0x0950, 0x04, copy == 0 ? 3 : 2);
    Put16(img, fcr + 24, 64);    // PhysRecLen
    PutHighFirst32(img, fcr + 38, 40);
    Put8(img, fcr + 351, 6);     // BitsInRecordId
    Put32(img, fcr + 140, 1);    // user misc: page 1, record 0
    Put16(img, fcr + 144, 0);
    Put32(img, fcr + 148, 2);    // misc: page 2, record 1
    Put16(img, fcr + 152, 1);
  }
  Put32(img, 2 * F + 8, 5);      // second control pair: usage bytes 5 and 6
  Put32(img, 3 * F + 8, 6);
  for (int copy = 0; copy < 2; copy++) {
    size_t pat = 4 * F + copy * F;
    PutBytes(img, pat, {'P', 'P', 1, 0, 0, 0, 0, 0});
    Put32(img, pat + 8, copy + 1);
    Put32(img, pat + 16, 30);    // logical 1
    Put16(img, pat + 20, 'D');
    Put16(img, pat + 22, 1);
    Put32(img, pat + 24, 31);    // logical 2
    Put16(img, pat + 28, 'D');
    Put16(img, pat + 30, 1);
  }
  for (uint32_t page = 24; page < 40; page++)
    PutBytes(img, page * 1024, {static_cast<uint8_t>(page), 0, 0, 0, 0, 0, 0, 0, 0x01, 0x80});
  // Page 30 (logical 1): slot 0 at 100, 6 bytes "USER01"; slot 1 ends it.
  Put32(img, 30 * 1024, 1);
  Put8(img, 30 * 1024 + 4, 'D');
  Put16(img, 30 * 1024 + 16, 1);
  PutBytes(img, 30 * 1024 + 100, {'U', 'S', 'E', 'R', '0', '1'});
  Put16(img, 30 * 1024 + 1022, 100);
  Put16(img, 30 * 1024 + 1020, 106);
  // Page 31 (logical 2): slot 1 at 200, 20 bytes; slot 2 empty; slot 3 at 220.
  Put32(img, 31 * 1024, 2);
  Put8(img, 31 * 1024 + 4, 'D');
  Put16(img, 31 * 1024 + 16, 3);
  for (int b = 0; b < 20; b++)
    Put8(img, 31 * 1024 + 200 + b, static_cast<uint8_t>('a' + b));
  Put16(img, 31 * 1024 + 1022, 150);
  Put16(img, 31 * 1024 + 1020, 200);
  Put16(img, 31 * 1024 + 1018, 0xFFFF);
  Put16(img, 31 * 1024 + 1016, 220);
  Put16(img, 31 * 1024 + 1014, 240);
  return img;
}

TEST(InspectOutput, Built950)
{
  TempDir dir;
  ASSERT_TRUE(WriteImage(dir.Path("B950.DAT"), Built950()));
  const Case cases[] = {
      {"b950_fcr", "B950.DAT fcr", 0},
      {"b950_pat_1", "B950.DAT pat 1", 0},
      {"b950_misc", "B950.DAT misc", 0},
      {"b950_misc_user", "B950.DAT misc user", 0},
      {"b950_aux", "B950.DAT aux", 0},
      {"b950_record_2_3", "B950.DAT record 2 3", 0},
      {"b950_record_2_4", "B950.DAT record 2 4", 2},
      {"b950_header_physical_31", "B950.DAT header physical 31", 0},
      {"b950_dump_logical_1", "B950.DAT dump logical 1", 0},
      {"b950_dump_physical_99", "B950.DAT dump physical 99", 2},
      {"b950_headers", "B950.DAT headers", 0},
      {"b950_pat_verbose", "-v B950.DAT pat 1", 0},
  };
  for (const Case& c : cases)
    Compare(c.name, Inspect(dir.Root(), c.args), c.code);
}

// ------------------------------------------------------------ usage and open errors

TEST(InspectOutput, UsageAndOpenErrors)
{
  TempDir dir;
  ASSERT_TRUE(WriteImage(dir.Path("B950.DAT"), Built950()));
  ASSERT_TRUE(WriteImage(dir.Path("SHORT.DAT"), Image(100, 0)));
  const Case cases[] = {
      {"usage_none", "", 1},
      {"usage_unknown", "B950.DAT frob", 1},
      {"usage_bad_number", "B950.DAT pat 1x", 1},
      {"usage_bad_kind", "B950.DAT dump sideways 3", 1},
      {"open_missing", "MISSING.DAT fcr", 2},
      {"open_not_btrieve", "SHORT.DAT fcr", 2},
      {"version", "ANY.DAT version", 0},
  };
  for (const Case& c : cases)
    Compare(c.name, Inspect(dir.Root(), c.args), c.code);
}

}  // namespace
