// Time stamps as DOS date and time words.
#pragma once

#include <cstdint>

// Two files written within the same two-second step have equal stamps.
struct FileStamp {
    uint16_t time;  // hours << 11 | minutes << 5 | seconds / 2
    uint16_t date;  // (year - 1980) << 9 | month << 5 | day
    uint32_t size;  // low 32 bits of the length
    // The same moment in UTC, as the newer tools record the files they read.
    uint16_t utc_time;
    uint16_t utc_date;
};

struct LocalTime {
    int year;  // e.g. 2026
    int month; // 1-12
    int day;   // 1-31
    int hour, minute, second;
};

// Converts a local time to DOS words. Times before 1980 take the first stamp
// (1980-01-01 00:00:00) and times after 2107 the last (2107-12-31 23:59:58),
// so stamps still compare in order.
void DosStamp(const LocalTime& t, uint16_t* date, uint16_t* time);

// Days since 1970-01-01 of a day of the Gregorian calendar, and the day of
// such a count (its year, month and day).
long long DaysFromCivil(long long y, int m, int d);
void CivilFromDays(long long z, LocalTime* lt);

// DosStamp of a count of seconds since 1970-01-01 on a calendar without
// time zones: of UTC itself, or of local time counted so.
void DosStampOfSeconds(long long seconds, uint16_t* date, uint16_t* time);

// Whether a recorded stamp, in local time or in UTC, is the file's stamp.
bool SameStamp(const FileStamp& file, uint16_t date, uint16_t time);

// Whether stamp a is later than stamp b: date first, then time, both unsigned.
bool LaterStamp(uint16_t date_a, uint16_t time_a, uint16_t date_b,
                uint16_t time_b);
