// DOS stamps: conversion from local time and their order.
#include <gtest/gtest.h>

#include "file_stamp.h"

namespace {

struct Stamp {
    uint16_t date;
    uint16_t time;
};

Stamp Of(int year, int month, int day, int hour, int minute, int second) {
    Stamp s;
    DosStamp(LocalTime{year, month, day, hour, minute, second}, &s.date, &s.time);
    return s;
}

bool Later(Stamp a, Stamp b) { return LaterStamp(a.date, a.time, b.date, b.time); }

TEST(DosStamp, Words) {
    Stamp s = Of(2026, 12, 6, 23, 59, 59);
    EXPECT_EQ(s.date, (46 << 9) | (12 << 5) | 6);
    EXPECT_EQ(s.time, (23 << 11) | (59 << 5) | 29);
    s = Of(1980, 1, 1, 0, 0, 0);
    EXPECT_EQ(s.date, (0 << 9) | (1 << 5) | 1);
    EXPECT_EQ(s.time, 0);
    s = Of(2107, 12, 31, 23, 59, 58);
    EXPECT_EQ(s.date, 0xFF9F);
    EXPECT_EQ(s.time, 0xBF7D);
}

TEST(DosStamp, OutOfRangeTimesClampInOrder) {
    Stamp first = Of(1980, 1, 1, 0, 0, 0);
    Stamp last = Of(2107, 12, 31, 23, 59, 58);
    Stamp early = Of(1975, 6, 1, 12, 0, 0);
    Stamp late = Of(2200, 1, 1, 0, 0, 0);
    EXPECT_EQ(early.date, first.date);
    EXPECT_EQ(early.time, first.time);
    EXPECT_EQ(late.date, last.date);
    EXPECT_EQ(late.time, last.time);
    EXPECT_TRUE(Later(Of(1980, 1, 1, 0, 0, 2), early));
    EXPECT_TRUE(Later(late, Of(2107, 12, 31, 23, 59, 56)));
}

TEST(LaterStamp, Order) {
    struct Case {
        Stamp a, b;
        bool later;
    } cases[] = {
        {Of(2026, 1, 1, 10, 0, 0), Of(2026, 1, 1, 10, 0, 0), false},
        {Of(2026, 1, 1, 10, 0, 1), Of(2026, 1, 1, 10, 0, 0), false},  // same 2-second step
        {Of(2026, 1, 1, 10, 0, 2), Of(2026, 1, 1, 10, 0, 0), true},
        {Of(2026, 1, 1, 16, 30, 0), Of(2026, 1, 1, 15, 0, 0), true},  // time word top bit set
        {Of(2026, 1, 1, 15, 0, 0), Of(2026, 1, 1, 16, 30, 0), false},
        {Of(2026, 1, 2, 0, 0, 0), Of(2026, 1, 1, 23, 59, 58), true},  // after midnight
        {Of(2026, 1, 1, 23, 0, 0), Of(2026, 1, 2, 1, 0, 0), false},   // date decides first
        {Of(2050, 1, 1, 0, 0, 0), Of(2026, 1, 1, 0, 0, 0), true},     // date top bit set
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Later(c.a, c.b), c.later) << c.a.date << ":" << c.a.time << " vs "
                                            << c.b.date << ":" << c.b.time;
    }
}

}  // namespace
