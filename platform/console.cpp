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
    // The analyzer does not follow va_start here.
    vfprintf(stdout, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
}

void FlushOutput() { fflush(stdout); }

bool OutputFailed() { return fflush(stdout) != 0 || ferror(stdout); }
