// DOS date and time words and their order.
#include "file_stamp.h"

void DosStamp(const LocalTime& t, uint16_t* date, uint16_t* time) {
    if (t.year < 1980) {
        *date = (1 << 5) | 1;
        *time = 0;
        return;
    }
    if (t.year > 2107) {
        *date = static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
        *time = static_cast<uint16_t>((23 << 11) | (59 << 5) | (58 / 2));
        return;
    }
    *date = static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    *time = static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
}

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

void DosStampOfSeconds(long long seconds, uint16_t* date, uint16_t* time) {
    long long days = seconds / 86400;
    long long in_day = seconds % 86400;
    if (in_day < 0) {
        days--;
        in_day += 86400;
    }
    LocalTime lt;
    CivilFromDays(days, &lt);
    int s = static_cast<int>(in_day);
    lt.hour = s / 3600;
    lt.minute = s % 3600 / 60;
    lt.second = s % 60;
    DosStamp(lt, date, time);
}

bool LaterStamp(uint16_t date_a, uint16_t time_a, uint16_t date_b, uint16_t time_b) {
    if (date_a != date_b) return date_a > date_b;
    return time_a > time_b;
}

bool SameStamp(const FileStamp& file, uint16_t date, uint16_t time) {
    return (date == file.date && time == file.time) || (date == file.utc_date && time == file.utc_time);
}
