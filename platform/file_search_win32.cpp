// File search on Windows: the system's directory search with the attribute
// filter of a normal search, and the stamp in local DOS words.
#include <windows.h>

#include <cstring>

#include "file_search.h"

namespace {

// The normal search accepts an entry that has any attribute besides
// directory and volume label; no attribute at all counts as normal.
bool Accepted(DWORD attributes) {
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    return (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | 0x08)) != 0;
}

void DosWords(const FILETIME& moment, bool converted, uint16_t* date, uint16_t* time) {
    SYSTEMTIME st;
    WORD d = 0;
    WORD t = 0;
    // The year is checked first: some systems wrap the year of a DOS date
    // past 2107 instead of refusing it.
    if (!converted || !FileTimeToSystemTime(&moment, &st)) st.wYear = 9999;
    if (st.wYear >= 1980 && st.wYear <= 2107 && FileTimeToDosDateTime(&moment, &d, &t)) {
        *date = d;
        *time = t;
        return;
    }
    // Outside what the DOS words hold: the first or the last stamp.
    DosStamp(LocalTime{st.wYear, 1, 1, 0, 0, 0}, date, time);
}

void Stamp(const FILETIME& written, FileStamp* stamp) {
    FILETIME local;
    bool converted = FileTimeToLocalFileTime(&written, &local);
    DosWords(local, converted, &stamp->date, &stamp->time);
    DosWords(written, true, &stamp->utc_date, &stamp->utc_time);
}

}  // namespace

int FindFile(const char* name, unsigned filter, SearchRecord* rec) {
    rec->filter = filter;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(name, &data);
    rec->handle = -1;
    if (h == INVALID_HANDLE_VALUE) return -1;
    while (!Accepted(data.dwFileAttributes)) {
        if (!FindNextFileA(h, &data)) {
            FindClose(h);
            return -1;
        }
    }
    Stamp(data.ftLastWriteTime, &rec->stamp);
    rec->stamp.size = data.nFileSizeLow;
    rec->attrib = static_cast<unsigned char>(data.dwFileAttributes & 0xFF);
    size_t n = strnlen(data.cFileName, 255);
    memcpy(rec->name, data.cFileName, n);
    rec->name[n] = '\0';
    rec->handle = reinterpret_cast<intptr_t>(h);
    return 0;
}

int FindStamp(const char* name, FileStamp* stamp) {
    SearchRecord rec;
    int r = FindFile(name, 0, &rec);
    CloseSearch(&rec);
    if (r == 0) *stamp = rec.stamp;
    return r;
}

// The file system ignores case: any spelling is the file.
int FindOutput(const char* name, FileStamp* stamp) { return FindStamp(name, stamp); }

// The search's own rules decide which file counts, so it is searched for
// as ever and then opened.
FileHandle OpenWithStamp(const char* name, FileStamp* stamp) {
    return FindOutput(name, stamp) == 0 ? OpenForReading(name) : kNoFile;
}

// The system reads both separators and ignores case: the name is the file's.
void DiskName(const char* name, char* out, size_t cap) {
    size_t n = strnlen(name, cap - 1);
    memcpy(out, name, n);
    out[n] = '\0';
}

int CloseSearch(SearchRecord* rec) {
    if (rec->handle == -1) return 0;
    BOOL ok = FindClose(reinterpret_cast<HANDLE>(rec->handle));
    rec->handle = -1;
    return ok ? 0 : -1;
}
