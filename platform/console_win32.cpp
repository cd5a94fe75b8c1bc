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

namespace {

// A disk file by its volume and index; consoles count as one. Two pipes
// cannot be told apart from one, and count as two.
bool SameFile(HANDLE a, HANDLE b) {
    DWORD mode;
    if (a == b || (GetConsoleMode(a, &mode) && GetConsoleMode(b, &mode))) return true;
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileType(a) == FILE_TYPE_DISK && GetFileType(b) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

bool OneOutputFile() {
    static int one = -1;
    if (one < 0) one = SameFile(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE));
    return one == 1;
}
