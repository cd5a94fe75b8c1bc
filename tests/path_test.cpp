// Splitting and joining names, with and without the double-byte rule.
#include <gtest/gtest.h>

#include <string>

#include "path.h"

namespace {

struct SplitCase {
    const char* path;
    const char* drive;
    const char* dir;
    const char* base;
    const char* ext;
};

void ExpectSplit(const SplitCase& c, bool double_byte) {
    PathParts p;
    SplitPath(c.path, &p, double_byte);
    EXPECT_STREQ(p.drive, c.drive) << c.path;
    EXPECT_STREQ(p.dir, c.dir) << c.path;
    EXPECT_STREQ(p.base, c.base) << c.path;
    EXPECT_STREQ(p.ext, c.ext) << c.path;
}

TEST(SplitPath, Table) {
    const SplitCase cases[] = {
        {"D:\\WORK\\MAIN.C", "D:", "\\WORK\\", "MAIN", ".C"},
        {"D:MAIN.C", "D:", "", "MAIN", ".C"},
        {"A.B.C", "", "", "A.B", ".C"},
        {"SRC/X.Y\\MAIN", "", "SRC/X.Y\\", "MAIN", ""},
        {".ZBX", "", "", "", ".ZBX"},
        {"FOO.", "", "", "FOO", "."},
        {"D:\\WORK\\SUB\\", "D:", "\\WORK\\SUB\\", "", ""},
        {"/home/u/proj.zbx", "", "/home/u/", "proj", ".zbx"},
        {"", "", "", "", ""},
        {"X", "", "", "X", ""},
        // Any first character with ":" is a drive.
        {"1:A", "1:", "", "A", ""},
        {"..\\COMMON\\UTIL.C", "", "..\\COMMON\\", "UTIL", ".C"},
    };
    for (const SplitCase& c : cases) {
        ExpectSplit(c, false);
        ExpectSplit(c, true);
    }
}

TEST(SplitPath, PartsAreCutAt255) {
    std::string path(300, 'D');
    path.append("\\").append(300, 'B').append(".").append(300, 'E');
    PathParts p;
    SplitPath(path.c_str(), &p, false);
    EXPECT_EQ(std::string(p.dir), std::string(255, 'D'));
    EXPECT_EQ(std::string(p.base), std::string(255, 'B'));
    EXPECT_EQ(std::string(p.ext), std::string(".").append(254, 'E'));
}

TEST(SplitPath, DoubleByteTrailIsNotASeparatorOrDot) {
    // 0x95 0x5C is one character whose second byte equals "\"; 0x83 0x2E
    // one whose second byte equals ".".
    const char* path = "DIR\\\x95\\NAME\x83.X";
    PathParts p;
    SplitPath(path, &p, true);
    EXPECT_STREQ(p.dir, "DIR\\");
    EXPECT_STREQ(p.base, "\x95\\NAME\x83.X");
    EXPECT_STREQ(p.ext, "");
    SplitPath(path, &p, false);
    EXPECT_STREQ(p.dir, "DIR\\\x95\\");
    EXPECT_STREQ(p.base, "NAME\x83");
    EXPECT_STREQ(p.ext, ".X");
}

struct JoinCase {
    const char* drive;
    const char* dir;
    const char* base;
    const char* ext;
    const char* result;
};

TEST(JoinPath, Table) {
    const JoinCase cases[] = {
        {"D:", "\\WORK\\", "MAIN", ".ZBX", "D:\\WORK\\MAIN.ZBX"},
        {"", "", "MAIN", ".OBJ", "MAIN.OBJ"},
        {"", "OUT/BIN\\", "PROG", ".EXE", "OUT/BIN/PROG.EXE"},
        {"", "OUT", "PROG", "EXE", "OUT\\PROG.EXE"},
        {"D:", "\\WORK\\SUB\\", "", ".ZBX", "D:\\WORK\\SUB\\.ZBX"},
        {"DRIVE", "", "A", "", "D:A"},
        {"", "/a/b", "c", ".x", "/a/b/c.x"},
        {"", "A\\", "\\B", "", "A\\B"},
        {"", "", "A/B", "", "A\\B"},
        {nullptr, nullptr, "X", nullptr, "X"},
        {"", "", "", "", ""},
    };
    for (const JoinCase& c : cases) {
        char out[260];
        ASSERT_EQ(JoinPath(out, sizeof out, c.drive, c.dir, c.base, c.ext, false), 0);
        EXPECT_STREQ(out, c.result);
    }
}

TEST(JoinPath, RefusesWhatDoesNotFitAndNeverWritesPast) {
    char out[16];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(JoinPath(out, 12, "", "", "ABCDEFGH", ".OBJ", false), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[12], 'Z');
    EXPECT_EQ(JoinPath(out, 13, "", "", "ABCDEFGH", ".OBJ", false), 0);
    EXPECT_STREQ(out, "ABCDEFGH.OBJ");
}

TEST(JoinPath, DoubleByteTrailKeptInDirectory) {
    char out[64];
    // The directory "A/\x95\\" has one separator, "/": the trail byte "\" is
    // neither replaced nor taken as the directory's end.
    ASSERT_EQ(JoinPath(out, sizeof out, "", "A/\x95\\", "B", ".C", true), 0);
    EXPECT_STREQ(out, "A/\x95\\/B.C");
    ASSERT_EQ(JoinPath(out, sizeof out, "", "A/\x95\\", "B", ".C", false), 0);
    EXPECT_STREQ(out, "A/\x95/B.C");
}

TEST(SplitJoin, RoundTrip) {
    const char* paths[] = {"D:\\WORK\\MAIN.C", "SRC\\UTIL.CPP", "A.B.C", "NAME", "DIR\\"};
    for (const char* path : paths) {
        PathParts p;
        SplitPath(path, &p, false);
        char out[260];
        ASSERT_EQ(JoinPath(out, sizeof out, p.drive, p.dir, p.base, p.ext, false), 0);
        EXPECT_STREQ(out, path);
    }
}

}  // namespace
