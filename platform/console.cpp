// Standard output through the C library, which buffers it by lines on a
// terminal and by blocks otherwise, and writes the platform's line end.
#include "console.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "text.h"

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

namespace {

// The run at *at: false at the end of the runs, or where they are damaged.
bool NextRun(std::string_view runs, size_t* at, char* tag, std::string_view* bytes) {
    if (runs.size() - *at < kRunHeader) return false;
    const unsigned char* header = reinterpret_cast<const unsigned char*>(runs.data()) + *at;
    uint32_t length = 0;
    for (int i = 4; i >= 1; i--) length = length << 8 | header[i];
    if (header[0] > 2 || runs.size() - *at - kRunHeader < length) return false;
    *tag = static_cast<char>(header[0]);
    *bytes = runs.substr(*at + kRunHeader, length);
    *at += kRunHeader + length;
    return true;
}

}  // namespace

void WriteRuns(std::string_view runs) {
    size_t at = 0;
    char tag;
    std::string_view bytes;
    while (NextRun(runs, &at, &tag, &bytes)) WriteOutput(bytes.data(), bytes.size(), tag == 1);
}

bool CanWriteRuns(std::string_view runs) {
    size_t at = 0;
    char tag;
    std::string_view bytes;
    bool joined = false;
    while (NextRun(runs, &at, &tag, &bytes)) joined = joined || tag == 2;
    return at == runs.size() && (!joined || OneOutputFile());
}

bool OutputFailed() { return fflush(stdout) != 0 || ferror(stdout); }
