// Output helpers of the tool: formatted printing to standard output and
// standard error, bounded formatting into a buffer, the walk's progress bytes
// and the end of the run.
//
// Standard error stays unbuffered, as the C library starts it. The only bytes
// held back are the walk's progress (the spinner), which would otherwise cost
// one system call per record: they collect in a small buffer that is written
// out before anything else reaches either stream, when it is full, about every
// tenth of a second during the walk, and before the process ends. So every
// byte reaches standard error, and in the same order relative to standard
// output, as if each had been written at once.
#ifndef HALVORN_HALVORN_OUTPUT_H
#define HALVORN_HALVORN_OUTPUT_H

#include <cstddef>

#if defined(__GNUC__)
#define HALVORN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define HALVORN_PRINTF(f, a)
#endif

// printf to standard output, after the pending progress bytes.
void PrintOut(const char* format, ...) HALVORN_PRINTF(1, 2);

// printf to standard error, after the pending progress bytes.
void PrintErr(const char* format, ...) HALVORN_PRINTF(1, 2);

// snprintf into buffer; the text is cut to size - 1 characters and always
// terminated.
void FormatText(char* buffer, size_t size, const char* format, ...) HALVORN_PRINTF(3, 4);

// Adds two progress bytes for standard error.
void ProgressPut(char first, char second);

// Writes the pending progress bytes to standard error.
void FlushProgress();

// Ends the run: writes the pending progress bytes, restores the console and
// exits with the code (which flushes and closes every open stream).
[[noreturn]] void EndRun(int exitCode);

#endif
