// The entry stages of a run: the command line and the preparation of the walk.
#ifndef HALVORN_HALVORN_COMMANDLINE_H
#define HALVORN_HALVORN_COMMANDLINE_H

// Checks the argument count and the help request, resets the start values and
// reads the switches into ScanState, right to left. Ends the run with exit
// code 1 on the usage, a bad /O switch or a file name that cannot be held.
void ParseCommandLine(int argc, char** argv);

// Writes the usage lines to standard error and ends the run with exit code 1.
[[noreturn]] void PrintUsage();

// Key-only checks and export file, FileName, the record buffer and the open
// through the engine. Ends the run with exit code 1 on failure.
void PrepareRun(int argc, char** argv);

#endif
