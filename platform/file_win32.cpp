// Plain files on Windows. The file system ignores case by itself.
#include <windows.h>

#include "file.h"

const char kLineEnd[] = "\r\n";

namespace {

HANDLE Handle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle Open(const char* name, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

}  // namespace

FileHandle OpenForReading(const char* name) { return Open(name, GENERIC_READ, OPEN_EXISTING); }

FileHandle CreateForWriting(const char* name) {
    return Open(name, GENERIC_WRITE, CREATE_ALWAYS);
}

long ReadBlock(FileHandle file, char* buf, size_t size) {
    DWORD got = 0;
    DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(Handle(file), buf, want, &got, nullptr)) {
        // A pipe whose writer has gone is at its end, not in error.
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<long>(got);
}

int WriteBlock(FileHandle file, const char* buf, size_t size) {
    while (size > 0) {
        DWORD put = 0;
        DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        if (!WriteFile(Handle(file), buf, want, &put, nullptr) || put == 0) return -1;
        buf += put;
        size -= put;
    }
    return 0;
}

int CloseFile(FileHandle file) {
    if (file == kNoFile) return 0;
    return CloseHandle(Handle(file)) ? 0 : -1;
}

int RemoveFile(const char* name) { return DeleteFileA(name) ? 0 : -1; }

int RemoveExactFile(const char* name) { return RemoveFile(name); }
