// Benchmark driver: walks a data file through the replacement engine's
// record-call entry alone, as the tool would (each read followed by Get
// Position), and prints the records per second and the peak memory.
//
//   engine_walk FILE            physical order (Step First, Step Next)
//   engine_walk FILE --key K    along key K (Get First, Get Next)
//   engine_walk FILE --keyonly K  key-only forms along key K
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <vector>

#include "StandInEngine/StandInEngine.h"

int main(int argc, char** argv)
{
  if (argc != 2 && argc != 4) {
    fprintf(stderr, "usage: engine_walk FILE [--key K | --keyonly K]\n");
    return 1;
  }
  int key = -1;
  int keyOnly = 0;
  if (argc == 4) {
    key = atoi(argv[3]);
    keyOnly = strcmp(argv[2], "--keyonly") == 0;
  }
  uint8_t block[128];
  char path[256];
  snprintf(path, sizeof path, "%s", argv[1]);
  std::vector<uint8_t> data(60000);
  uint8_t keyBuffer[256];
  uint32_t length = (uint32_t)data.size();
  data[0] = 0;
  auto start = std::chrono::steady_clock::now();
  int status = StandInRecordCall(OpOpen, block, data.data(), &length, path, 255, 0);
  if (status != 0) {
    fprintf(stderr, "open: status %d\n", status);
    return 1;
  }
  int first = key < 0 ? OpStepFirst : OpGetFirst + (keyOnly ? OpKeyOnly : 0);
  int next = key < 0 ? OpStepNext : OpGetNext + (keyOnly ? OpKeyOnly : 0);
  unsigned long records = 0;
  uint32_t lastPosition = 0;
  for (int op = first;; op = next) {
    length = (uint32_t)data.size();
    status = StandInRecordCall((uint16_t)op, block, data.data(), &length, keyBuffer, 255,
                               (int8_t)(key < 0 ? 0 : key));
    if (status != 0)
      break;
    records++;
    uint8_t position[4];
    uint32_t four = 4;
    StandInRecordCall(OpGetPosition, block, position, &four, keyBuffer, 255, (int8_t)key);
    memcpy(&lastPosition, position, 4);
  }
  length = 0;
  StandInRecordCall(OpClose, block, nullptr, &length, nullptr, 0, 0);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  printf("records %lu  status %d  last position 0x%.8lx  seconds %.3f  records/s %.0f  peak %ld KiB\n",
         records, status, (unsigned long)lastPosition, seconds,
         seconds > 0 ? records / seconds : 0.0, (long)usage.ru_maxrss);
  return 0;
}
