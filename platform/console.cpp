// Standard output through the C library, which buffers it by lines on a
// terminal and by blocks otherwise, and writes the platform's line end.
#include "console.h"

#include <cstdarg>
#include <cstdio>

void WriteLine(const char* text) {
    fputs(text, stdout);
    fputc('\n', stdout);
}

void Print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stdout, format, args);
    va_end(args);
}

void FlushOutput() { fflush(stdout); }
