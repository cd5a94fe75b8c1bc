// File search on POSIX: stat, following symbolic links; a directory is never
// accepted, every other entry is; names are literal.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <limits>
#include <cstring>

#include "file_search.h"
#include "name_lookup_posix.h"

namespace {

// Local time as a count of seconds, as if the local calendar were UTC; false
// for a time the calendar functions do not hold or a leap second.
bool LocalSeconds(time_t t, long long* seconds) {
    struct tm local;
    if (!localtime_r(&t, &local) || local.tm_sec > 59) return false;
    *seconds = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * 86400 +
               local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    return true;
}

// Converting to local time costs more than the rest of a look-up, and the
// offset from UTC changes only a few times a year: one conversion serves a
// whole UTC hour whose last second is 3599 local seconds after its first.
// A few hours are kept, since sources and objects are seldom of one hour.
// Local time as a count of seconds, as LocalSeconds gives it; false when
// t's hour is not such an hour.
bool CachedLocalSeconds(time_t t, long long* seconds) {
    constexpr int kHours = 8;
    static time_t hours[kHours] = {1, 1, 1, 1, 1, 1, 1, 1};  // 1 starts no hour
    static long long hour_local[kHours];
    // Far from the ends of time_t, so the hour's bounds cannot overflow.
    if (t < std::numeric_limits<time_t>::min() + 7200 ||
        t > std::numeric_limits<time_t>::max() - 7200) {
        return false;
    }
    time_t into_hour = t % 3600;
    if (into_hour < 0) into_hour += 3600;
    time_t start = t - into_hour;
    static int last_hour = 0;  // the hour of the last call, most often the one asked for
    int i = last_hour;
    if (hours[i] != start) {
        i = 0;
        while (i < kHours && hours[i] != start) i++;
    }
    if (i == kHours) {
        long long first, last;
        if (!LocalSeconds(start, &first) ||
            !LocalSeconds(start + 3599, &last) || last - first != 3599) {
            return false;
        }
        static int next = 0;
        i = next;
        next = (next + 1) % kHours;
        hours[i] = start;
        hour_local[i] = first;
    }
    last_hour = i;
    *seconds = hour_local[i] + into_hour;
    return true;
}

void StampFromTime(time_t t, FileStamp* stamp) {
    long long local;
    struct tm tm;
    if (CachedLocalSeconds(t, &local)) {
        DosStampOfSeconds(local, &stamp->date, &stamp->time);
    } else if (localtime_r(&t, &tm)) {
        DosStamp(LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec},
                 &stamp->date, &stamp->time);
    } else {
        // Beyond what the calendar functions hold: the first or last stamp.
        DosStamp(LocalTime{t < 0 ? 0 : 9999, 1, 1, 0, 0, 0}, &stamp->date, &stamp->time);
    }
    DosStampOfSeconds(t, &stamp->utc_date, &stamp->utc_time);
}

void StampFromStatus(const struct stat& st, FileStamp* stamp) {
    StampFromTime(st.st_mtime, stamp);
    stamp->size = static_cast<uint32_t>(static_cast<unsigned long long>(st.st_size) & 0xFFFFFFFFu);
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
    char buf[kSystemNameSize];
    char matched[kSystemNameSize];
    struct stat st;
    const char* found = LocateFile(name, buf, matched, &st);
    if (!found) return -1;
    StampFromStatus(st, &rec->stamp);
    rec->attrib = (st.st_mode & S_IWUSR) ? 0x20 : 0x21;  // archive, plus read-only
    KeepName(found, rec->name);
    rec->handle = 0;
    return 0;
}

int FindStamp(const char* name, FileStamp* stamp) {
    char buf[kSystemNameSize];
    char matched[kSystemNameSize];
    struct stat st;
    if (!LocateFile(name, buf, matched, &st)) return -1;
    StampFromStatus(st, stamp);
    return 0;
}

int FindOutput(const char* name, FileStamp* stamp) {
    char buf[kSystemNameSize];
    const char* path = SystemName(name, buf, sizeof buf);
    struct stat st;
    if (!path || stat(path, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    StampFromStatus(st, stamp);
    return 0;
}

// One open and one fstat of the open file: a look-up by name fewer than
// stat and open. Not blocking, so a FIFO in a file's place is read as empty
// instead of waiting for a writer.
FileHandle OpenWithStamp(const char* name, FileStamp* stamp) {
    char buf[kSystemNameSize];
    const char* path = SystemName(name, buf, sizeof buf);
    if (!path) return kNoFile;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return kNoFile;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return kNoFile;
    }
    StampFromStatus(st, stamp);
    return fd;
}

void DiskName(const char* name, char* out, size_t cap) {
    char buf[kSystemNameSize];
    char matched[kSystemNameSize];
    struct stat st;
    const char* found = LocateFile(name, buf, matched, &st);
    if (!found) found = name;
    size_t n = strnlen(found, cap - 1);
    memcpy(out, found, n);
    out[n] = '\0';
}

int CloseSearch(SearchRecord* rec) {
    rec->handle = -1;
    return 0;
}
