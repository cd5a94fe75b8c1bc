// Fuzzes the DOS stamp conversion: the words always hold valid fields, and a
// later local time never gives an earlier stamp.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "file_stamp.h"

namespace {

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

LocalTime TimeFrom(const uint8_t* d) {
    return LocalTime{1900 + (d[0] | d[1] << 8) % 400, 1 + d[2] % 12, 1 + d[3] % 31,
                     d[4] % 24, d[5] % 60, d[6] % 61};
}

bool Before(const LocalTime& a, const LocalTime& b) {
    const int x[] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const int y[] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; i++) {
        if (x[i] != y[i]) return x[i] < y[i];
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 14) return 0;
    LocalTime a = TimeFrom(data);
    LocalTime b = TimeFrom(data + 7);
    uint16_t da, ta, db, tb;
    DosStamp(a, &da, &ta);
    DosStamp(b, &db, &tb);
    for (uint16_t d : {da, db}) Check(((d >> 5) & 15) >= 1 && ((d >> 5) & 15) <= 12 && (d & 31) >= 1);
    for (uint16_t t : {ta, tb}) Check((t >> 11) <= 23 && ((t >> 5) & 63) <= 59 && (t & 31) <= 30);
    if (Before(a, b)) Check(!LaterStamp(da, ta, db, tb));
    if (Before(b, a)) Check(!LaterStamp(db, tb, da, ta));
    Check(!LaterStamp(da, ta, da, ta));
    return 0;
}
