// Standard streams on Windows.
#include <windows.h>

#include <cstdio>

#include "console.h"

// A missing stream takes no file's place.
void OpenStandardStreams() {}

// The bytes as they are: the tools wrote their own line ends.
void WriteOutput(const char* bytes, size_t n, bool to_error) {
    fflush(stdout);
    HANDLE h = GetStdHandle(to_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD written;
    while (n > 0 && h != INVALID_HANDLE_VALUE && h != nullptr &&
           WriteFile(h, bytes, n > 65536 ? 65536 : static_cast<DWORD>(n), &written, nullptr) &&
           written > 0) {
        bytes += written;
        n -= written;
    }
}
