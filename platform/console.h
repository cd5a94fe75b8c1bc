// Standard output: every message of the program goes here.
#pragma once

#include <cstddef>
#include <string_view>

// Writes text and then a newline.
void WriteLine(const char* text);

// Writes formatted text; adds nothing.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes out whatever is buffered, so output keeps its order when a tool
// writes to the same file or pipe.
void FlushOutput();

// Writes out whatever is buffered; true when some write to standard output
// failed during the run (a full disk, a closed pipe).
bool OutputFailed();

// Passes on bytes a tool wrote: to standard output, or to standard error,
// in order with the program's own output.
void WriteOutput(const char* bytes, size_t n, bool to_error);

// Whether standard output and standard error are one file: both sent to
// it together, one terminal or console, one pipe. Looked at once a run.
bool OneOutputFile();

// Passes on what a captured tool wrote, runs as CapturedOutput gives them
// (command_runner.h), in the order written; a run written to both streams
// as one file goes to standard output.
void WriteRuns(std::string_view runs);

// Whether WriteRuns passes the runs on as they were written: false when
// they hold a run written to both streams as one file and standard output
// and error are not one file now, or when they are not runs.
bool CanWriteRuns(std::string_view runs);

// At start: a standard stream that is closed is opened on the null device,
// so that no file the run opens takes its place.
void OpenStandardStreams();
