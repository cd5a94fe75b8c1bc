// Text files: a line reader with the console's text-mode rules and a
// buffered line writer that reports every write error.
#pragma once

#include <cstddef>

#include "file.h"

// Large enough that a file is read and written in few calls, small enough
// that a short project touches most of it: the memory a run uses hardly
// depends on the project's length.
constexpr size_t kTextBlock = 16384;

// Text mode: every carriage return is dropped wherever it stands, and a
// Ctrl-Z byte ends the file.
struct TextReader {
    FileHandle file;
    size_t pos;
    size_t len;
    bool ended;  // end of file or Ctrl-Z met; nothing more is read
    char block[kTextBlock];
};

enum class LineRead { kLine, kEnd, kError };

void StartReader(TextReader* reader, FileHandle file);

// Reads the next line into line (cap bytes): at most cap - 1 characters,
// stopping after a newline, which is kept. A last line without a newline is
// delivered too. The text is terminated; a NUL byte read from the file stays
// in it and so ends the line for anything that reads it as a string.
LineRead ReadLine(TextReader* reader, char* line, size_t cap);

struct TextWriter {
    FileHandle file;
    size_t len;
    bool failed;  // a write has failed; the file is incomplete
    char block[kTextBlock];
};

void StartWriter(TextWriter* writer, FileHandle file);

// Appends text, then more (may be null), then the platform's line end.
// Returns 0, or -1 once any write has failed.
int WriteTextLine(TextWriter* writer, const char* text, const char* more);

// Writes out what is buffered and closes the file. Returns 0, or -1 when
// any write or the close failed.
int CloseWriter(TextWriter* writer);
