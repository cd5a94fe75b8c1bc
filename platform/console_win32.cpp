// Standard streams on Windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

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

// A disk file by its volume and its identifier (asked for as Wine answers
// for the handles a POSIX parent gives, and else as older systems do);
// consoles count as one. Two pipes cannot be told apart from one, and
// count as two.
bool SameFile(HANDLE a, HANDLE b) {
    DWORD mode;
    if (a == b || (GetConsoleMode(a, &mode) && GetConsoleMode(b, &mode))) return true;
    if (GetFileType(a) != FILE_TYPE_DISK || GetFileType(b) != FILE_TYPE_DISK) return false;
    FILE_ID_INFO x, y;
    if (GetFileInformationByHandleEx(a, FileIdInfo, &x, sizeof x) &&
        GetFileInformationByHandleEx(b, FileIdInfo, &y, sizeof y)) {
        return x.VolumeSerialNumber == y.VolumeSerialNumber && memcmp(&x.FileId, &y.FileId, sizeof x.FileId) == 0;
    }
    BY_HANDLE_FILE_INFORMATION u, v;
    return GetFileInformationByHandle(a, &u) && GetFileInformationByHandle(b, &v) &&
           u.dwVolumeSerialNumber == v.dwVolumeSerialNumber && u.nFileIndexHigh == v.nFileIndexHigh &&
           u.nFileIndexLow == v.nFileIndexLow;
}

}  // namespace

bool OneOutputFile() {
    static int one = -1;
    if (one < 0) one = SameFile(GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE));
    return one == 1;
}
