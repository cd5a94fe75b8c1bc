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

// Days since 1970-01-01 of a calendar day, and the calendar day of such a count.
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

void CivilFromDays(long long z, LocalTime* lt) {
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    lt->day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    lt->month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    lt->year = static_cast<int>(yoe + era * 400 + (lt->month <= 2));
}

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
// False when t's hour is not such an hour.
bool CachedLocalTime(time_t t, LocalTime* lt) {
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
    long long s = hour_local[i] + into_hour;
    long long days = s / 86400;
    long long in_day = s - days * 86400;
    if (in_day < 0) {
        days--;
        in_day += 86400;
    }
    // Likewise the calendar day of the last call.
    static long long last_days = std::numeric_limits<long long>::min();
    static LocalTime last_day;
    if (days != last_days) {
        CivilFromDays(days, &last_day);
        last_days = days;
    }
    lt->year = last_day.year;
    lt->month = last_day.month;
    lt->day = last_day.day;
    int seconds = static_cast<int>(in_day);
    lt->hour = seconds / 3600;
    lt->minute = seconds % 3600 / 60;
    lt->second = seconds % 60;
    return true;
}

void StampFromTime(time_t t, FileStamp* stamp) {
    struct tm local;
    LocalTime lt;
    if (!CachedLocalTime(t, &lt)) {
        if (localtime_r(&t, &local)) {
            lt = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec};
        } else {
            // Beyond what the calendar functions hold: the first or last stamp.
            lt = {t < 0 ? 0 : 9999, 1, 1, 0, 0, 0};
        }
    }
    DosStamp(lt, &stamp->date, &stamp->time);
    // UTC needs no calendar of the system's. Sources and objects are most
    // often of two days, so two are kept.
    long long days = t / 86400;
    long long in_day = t % 86400;
    if (in_day < 0) {
        days--;
        in_day += 86400;
    }
    static long long kept_days[2] = {std::numeric_limits<long long>::min(), std::numeric_limits<long long>::min()};
    static LocalTime kept[2];
    int k = days == kept_days[0] ? 0 : 1;
    if (days != kept_days[k]) {
        static int next = 0;
        k = next;
        next ^= 1;
        CivilFromDays(days, &kept[k]);
        kept_days[k] = days;
    }
    lt = kept[k];
    int seconds = static_cast<int>(in_day);
    lt.hour = seconds / 3600;
    lt.minute = seconds % 3600 / 60;
    lt.second = seconds % 60;
    DosStamp(lt, &stamp->utc_date, &stamp->utc_time);
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
