// File search on POSIX: stat, following symbolic links; a directory is never
// accepted, every other entry is; names are literal.
#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <cstring>

#include "file_search.h"
#include "name_lookup_posix.h"

namespace {

void StampFromTime(time_t t, FileStamp* stamp) {
    struct tm local;
    LocalTime lt;
    if (localtime_r(&t, &local)) {
        lt = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
              local.tm_hour, local.tm_min, local.tm_sec};
    } else {
        // Beyond what the calendar functions hold: the first or last stamp.
        lt = {t < 0 ? 0 : 9999, 1, 1, 0, 0, 0};
    }
    DosStamp(lt, &stamp->date, &stamp->time);
}

void KeepName(const char* path, char* out) {
    const char* base = strrchr(path, '/');
    base = base ? base + 1 : path;
    size_t n = strlen(base);
    if (n > 255) n = 255;
    memcpy(out, base, n);
    out[n] = '\0';
}

}  // namespace

int FindFile(const char* name, unsigned filter, SearchRecord* rec) {
    rec->handle = -1;
    rec->filter = filter;
    char path[kSystemNameSize];
    if (SystemName(name, path, sizeof path) != 0) return -1;
    struct stat st;
    const char* found = path;
    char matched[kSystemNameSize];
    if (stat(path, &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return -1;
        if (MatchCase(path, matched, sizeof matched) != 0 || stat(matched, &st) != 0) return -1;
        found = matched;
    }
    if (S_ISDIR(st.st_mode)) return -1;
    StampFromTime(st.st_mtime, &rec->stamp);
    rec->stamp.size = static_cast<uint32_t>(static_cast<unsigned long long>(st.st_size) & 0xFFFFFFFFu);
    rec->attrib = (st.st_mode & S_IWUSR) ? 0x20 : 0x21;  // archive, plus read-only
    KeepName(found, rec->name);
    rec->handle = 0;
    return 0;
}

int CloseSearch(SearchRecord* rec) {
    rec->handle = -1;
    return 0;
}
