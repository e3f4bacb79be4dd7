// Halvorn: walks a Btrieve data file through the engine until the engine
// answers with anything but success, and tells where the last good record lies.
#include "Halvorn/CommandLine.h"
#include "Halvorn/Walk.h"
#include "Platform/Platform.h"

int main(int argc, char** argv) {
  PlatformInitStreams();
  ParseCommandLine(argc, argv);
  PrepareRun(argc, argv);
  WalkFile();
}
