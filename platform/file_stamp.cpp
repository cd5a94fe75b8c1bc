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

bool LaterStamp(uint16_t date_a, uint16_t time_a, uint16_t date_b, uint16_t time_b) {
    if (date_a != date_b) return date_a > date_b;
    return time_a > time_b;
}

bool SameStamp(const FileStamp& file, uint16_t date, uint16_t time) {
    return (date == file.date && time == file.time) || (date == file.utc_date && time == file.utc_time);
}
