// Plain files on Windows. The file system ignores case by itself.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file.h"
#include "text.h"

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

// CREATE_NEW fails on any name already there, a link included.
FileHandle CreateExclusive(const char* name) { return Open(name, GENERIC_WRITE, CREATE_NEW); }

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

int RenameFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

int MakeDirectories(const char* name) {
    DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : -1;
    char path[MAX_PATH];
    size_t n = strlen(name);
    if (n >= sizeof path) return -1;
    memcpy(path, name, n + 1);
    while (n > 1 && (path[n - 1] == '\\' || path[n - 1] == '/')) path[--n] = '\0';
    char* cut = nullptr;
    for (char* p = path; *p; p++) {
        if (*p == '\\' || *p == '/') cut = p;
    }
    // Not the root of a drive or a share: those are there or never made.
    if (cut && cut > path && cut[-1] != ':' && cut[-1] != '\\' && cut[-1] != '/') {
        char kept = *cut;
        *cut = '\0';
        if (MakeDirectories(path) != 0) return -1;
        *cut = kept;
    }
    return CreateDirectoryA(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS ? 0 : -1;
}

namespace {

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
int64_t Nanoseconds(const FILETIME& t) {
    uint64_t ticks = static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    return (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
}

}  // namespace

namespace {

int64_t Nanoseconds(const LARGE_INTEGER& t) { return (t.QuadPart - 116444736000000000LL) * 100; }

}  // namespace

// A file copied into place keeps its time of writing but is created anew,
// and one saved with its old time is changed all the same: the latest of
// the three is when the file became what it is here.
int ChangedTime(const char* name, int64_t* when) {
    HANDLE h = CreateFileA(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? 1 : -1;
    }
    FILE_BASIC_INFO info;
    bool got = GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info);
    CloseHandle(h);
    if (!got) return -1;
    *when = Nanoseconds(info.LastWriteTime);
    for (const LARGE_INTEGER& t : {info.ChangeTime, info.CreationTime}) *when = std::max(*when, Nanoseconds(t));
    return 0;
}

// Where the file system's clock lags this one (Wine stamps files by the
// host's), by a tick at most: twice a tick of 10 ms is allowed for.
int64_t FileClockNow() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Nanoseconds(now) - 20000000;
}

int TouchFile(const char* name) {
    HANDLE h = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    bool set = SetFileTime(h, nullptr, nullptr, &now);
    CloseHandle(h);
    return set ? 0 : -1;
}

// cppcheck-suppress ctuOneDefinitionRuleViolation
struct Listing {
    HANDLE search;
    WIN32_FIND_DATAA found;
    bool pending;  // found holds an entry not yet returned
};

Listing* OpenListing(const char* directory) {
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s\\*", directory) >= static_cast<int>(sizeof pattern)) return nullptr;
    Listing* l = static_cast<Listing*>(malloc(sizeof(Listing)));
    if (!l) return nullptr;
    l->search = FindFirstFileA(pattern, &l->found);
    l->pending = true;
    if (l->search == INVALID_HANDLE_VALUE) {
        free(l);
        return nullptr;
    }
    return l;
}

bool NextListed(Listing* listing, ListedFile* file) {
    while (listing->pending || FindNextFileA(listing->search, &listing->found)) {
        listing->pending = false;
        const WIN32_FIND_DATAA& f = listing->found;
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        CopyCut(file->name, sizeof file->name, f.cFileName);
        file->size = static_cast<uint64_t>(f.nFileSizeHigh) << 32 | f.nFileSizeLow;
        uint64_t ticks = static_cast<uint64_t>(f.ftLastWriteTime.dwHighDateTime) << 32 |
                         f.ftLastWriteTime.dwLowDateTime;
        file->modified = static_cast<int64_t>(ticks / 10000000);
        return true;
    }
    return false;
}

void CloseListing(Listing* listing) {
    FindClose(listing->search);
    free(listing);
}
