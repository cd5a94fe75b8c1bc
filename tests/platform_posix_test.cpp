// The POSIX platform services against a real temporary directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>

#include "command_runner.h"
#include "file.h"
#include "file_search.h"
#include "path.h"

namespace {

// Each test runs in a fresh directory. FullPath keeps the first current
// directory it sees, so the directory is made once and emptied between tests.
class PosixPlatform : public ::testing::Test {
  protected:
    static std::string dir_;

    static void SetUpTestSuite() {
        std::string tmpl = std::string(getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp") +
                           "/zorbex_posix_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    static void TearDownTestSuite() {
        ASSERT_EQ(chdir("/"), 0);
        ASSERT_EQ(system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    // Emptied by a command run, which also drops the cached listings, as
    // after any tool.
    void TearDown() override { ASSERT_EQ(RunCommand("rm -rf ./* ./.[!.]*"), 0); }

    static void Make(const char* name, const char* text = "x") {
        FILE* f = fopen(name, "w");
        ASSERT_NE(f, nullptr) << name;
        fputs(text, f);
        fclose(f);
    }
    static void SetTime(const char* name, time_t t) {
        struct timespec times[2] = {{t, 0}, {t, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, name, times, 0), 0) << name;
    }
    static bool Exists(const char* name) { return access(name, F_OK) == 0; }
};

std::string PosixPlatform::dir_;

TEST_F(PosixPlatform, FullPathByText) {
    char out[4096];
    struct Case {
        const char* name;
        std::string full;
    } cases[] = {
        {"", dir_},
        {"proj", dir_ + "/proj"},
        {"SUB\\", dir_ + "/SUB/"},
        {"SUB/", dir_ + "/SUB/"},
        {"a/./b/../c.x", dir_ + "/a/c.x"},
        {"..\\COMMON\\UTIL.C", dir_.substr(0, dir_.rfind('/')) + "/COMMON/UTIL.C"},
        {"/x//y/", "/x/y/"},
        {"/../../x", "/x"},
        {"con", "con"},
        {"CON", "con"},
        {"Con", "con"},
        {"con.c", dir_ + "/con.c"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(FullPath(out, sizeof out, c.name), 0) << c.name;
        EXPECT_EQ(out, c.full) << c.name;
    }
}

TEST_F(PosixPlatform, FullPathRefusesWhatDoesNotFit) {
    char out[300];
    memset(out, 'Z', sizeof out);
    std::string name(400, 'n');
    EXPECT_EQ(FullPath(out, 260, name.c_str()), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[260], 'Z');
    std::string fits(259 - dir_.size() - 1, 'n');
    ASSERT_EQ(FullPath(out, 260, fits.c_str()), 0);
    EXPECT_EQ(strlen(out), 259u);
    std::string one_more = fits + "n";
    EXPECT_EQ(FullPath(out, 260, one_more.c_str()), -1);
}

TEST_F(PosixPlatform, FindFileStampAndSize) {
    Make("A.C", "hello");
    SetTime("A.C", 1765065630);  // 2025-12-07 00:00:30 UTC
    SearchRecord rec;
    ASSERT_EQ(FindFile("A.C", 0, &rec), 0);
    EXPECT_EQ(rec.stamp.date, (45 << 9) | (12 << 5) | 7);
    EXPECT_EQ(rec.stamp.time, 15);
    EXPECT_EQ(rec.stamp.size, 5u);
    EXPECT_STREQ(rec.name, "A.C");
    EXPECT_EQ(CloseSearch(&rec), 0);
    EXPECT_EQ(rec.stamp.size, 5u) << "results stay after the close";
}

TEST_F(PosixPlatform, FindFileHonoursTimeZone) {
    Make("A.C");
    // An hour no other case uses: a run converts each hour once, and its
    // time zone does not change while it runs.
    SetTime("A.C", 1765065630 + 7 * 86400);
    setenv("TZ", "XST-9", 1);  // nine hours east
    tzset();
    SearchRecord rec;
    ASSERT_EQ(FindFile("A.C", 0, &rec), 0);
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(rec.stamp.date, (45 << 9) | (12 << 5) | 14);
    EXPECT_EQ(rec.stamp.time, (9 << 11) | 15);
}

TEST_F(PosixPlatform, FindFileStampsAcrossDaylightSavingChanges) {
    // Years no other case uses: a run converts each hour once, and its time
    // zone does not change while it runs.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    Make("A.C");
    const time_t changes[] = {1932598800, 1950742800};  // 2031-03-30, 2031-10-26 01:00 UTC
    for (time_t change : changes) {
        for (time_t t = change - 3 * 3600; t < change + 3 * 3600; t += 7 * 60 + 13) {
            SetTime("A.C", t);
            struct tm local;
            ASSERT_NE(localtime_r(&t, &local), nullptr);
            uint16_t date, time;
            DosStamp(LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                               local.tm_hour, local.tm_min, local.tm_sec},
                     &date, &time);
            SearchRecord rec;
            ASSERT_EQ(FindFile("A.C", 0, &rec), 0);
            EXPECT_EQ(rec.stamp.date, date) << t;
            EXPECT_EQ(rec.stamp.time, time) << t;
        }
    }
    setenv("TZ", "UTC0", 1);
    tzset();
}

TEST_F(PosixPlatform, FindFileSizeIsLow32Bits) {
    int fd = open("BIG.OBJ", O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    int r = ftruncate(fd, (4LL << 30) + 10);
    close(fd);
    if (r != 0) GTEST_SKIP() << "no sparse files here";
    SearchRecord rec;
    ASSERT_EQ(FindFile("BIG.OBJ", 0, &rec), 0);
    EXPECT_EQ(rec.stamp.size, 10u);
}

TEST_F(PosixPlatform, FindFileAcceptsAllButDirectories) {
    ASSERT_EQ(mkdir("MAIN.C", 0755), 0);
    Make("target.c");
    ASSERT_EQ(symlink("target.c", "LINK.C"), 0);
    ASSERT_EQ(symlink("MAIN.C", "DIRLINK.C"), 0);
    ASSERT_EQ(symlink("nowhere", "DANGLING.C"), 0);
    Make("RO.C");
    chmod("RO.C", 0444);
    Make("WILD?.C");
    SearchRecord rec;
    EXPECT_NE(FindFile("MAIN.C", 0, &rec), 0);
    EXPECT_EQ(rec.handle, -1);
    EXPECT_EQ(FindFile("LINK.C", 0, &rec), 0);
    EXPECT_NE(FindFile("DIRLINK.C", 0, &rec), 0);
    EXPECT_NE(FindFile("DANGLING.C", 0, &rec), 0);
    EXPECT_EQ(FindFile("RO.C", 0, &rec), 0);
    EXPECT_EQ(FindFile("WILD?.C", 0, &rec), 0);
    EXPECT_NE(FindFile("WILDX.C", 0, &rec), 0) << "names are literal";
    EXPECT_NE(FindFile("", 0, &rec), 0);
}

TEST_F(PosixPlatform, NamesMatchWithoutRegardToCase) {
    ASSERT_EQ(mkdir("src", 0755), 0);
    Make("src/util.c");
    Make("main.c");
    SearchRecord rec;
    EXPECT_EQ(FindFile("MAIN.C", 0, &rec), 0);
    EXPECT_STREQ(rec.name, "main.c");
    EXPECT_EQ(FindFile("SRC\\UTIL.C", 0, &rec), 0);
    EXPECT_STREQ(rec.name, "util.c");
    EXPECT_EQ(FindFile("SRC/UTIL.C", 0, &rec), 0);
    EXPECT_NE(FindFile("SRC/OTHER.C", 0, &rec), 0);
    Make("src/a_name_longer_than_any_held_whole.c");
    Make("src/a_name_longer_than_any_held_whole.h");
    EXPECT_EQ(FindFile("SRC/A_NAME_LONGER_THAN_ANY_HELD_WHOLE.C", 0, &rec), 0);
    EXPECT_STREQ(rec.name, "a_name_longer_than_any_held_whole.c");
    FileHandle f = OpenForReading("Src\\Util.C");
    EXPECT_NE(f, kNoFile);
    CloseFile(f);
    std::string upper = dir_ + "/MAIN.C";
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    f = OpenForReading(upper.c_str());
    EXPECT_NE(f, kNoFile) << "every component of an absolute name is matched";
    CloseFile(f);
}

TEST_F(PosixPlatform, ExactNameWinsThenFirstInByteOrder) {
    Make("Main.c", "1");
    Make("main.C", "22");
    Make("MAIN.c", "333");
    SearchRecord rec;
    ASSERT_EQ(FindFile("main.c", 0, &rec), 0);
    EXPECT_STREQ(rec.name, "MAIN.c");  // "MAIN.c" < "Main.c" < "main.C"
    ASSERT_EQ(FindFile("Main.c", 0, &rec), 0);
    EXPECT_STREQ(rec.name, "Main.c");
}

TEST_F(PosixPlatform, RemoveFileMatchesCaseButDirectiveFileIsExact) {
    Make("main.obj");
    EXPECT_EQ(RemoveFile("MAIN.OBJ"), 0);
    EXPECT_FALSE(Exists("main.obj"));
    EXPECT_EQ(RemoveFile("MAIN.OBJ"), -1);
    Make("~zorbex~.lnk");
    EXPECT_EQ(RemoveExactFile("~ZORBEX~.LNK"), -1);
    EXPECT_TRUE(Exists("~zorbex~.lnk"));
}

// In a directory of its own, so no listing of it is left from a test before.
TEST_F(PosixPlatform, ListingFollowsChangesBeforeAndDuringToolRuns) {
    ASSERT_EQ(mkdir("d", 0755), 0);
    Make("d/a.c");
    SearchRecord rec;
    EXPECT_NE(FindFile("D/B.C", 0, &rec), 0);  // reads the listing
    Make("d/b.c");
    RunCommand("true");
    EXPECT_EQ(FindFile("D/B.C", 0, &rec), 0) << "a change before a tool run is seen";
    RunCommand("touch d/c.c");
    EXPECT_EQ(FindFile("D/C.C", 0, &rec), 0) << "a change by a tool is seen";
    EXPECT_NE(FindFile("D/E.C", 0, &rec), 0);
    Make("d/e.c");
    EXPECT_EQ(FindFile("D/E.C", 0, &rec), 0) << "a change seen before saying none matches";
    ASSERT_EQ(mkdir("f", 0755), 0);
    EXPECT_NE(FindFile("F/G.C", 0, &rec), 0);
    Make("f/g.c");
    Make("f/junk");
    EXPECT_EQ(RemoveFile("F/JUNK"), 0);
    EXPECT_EQ(FindFile("F/G.C", 0, &rec), 0) << "a change before a delete is seen";
}

TEST_F(PosixPlatform, RunCommandThroughTheShell) {
    EXPECT_EQ(RunCommand("exit 7"), 7);
    EXPECT_EQ(RunCommand("echo 'a  b' > OUT.TXT"), 0);
    FILE* f = fopen("OUT.TXT", "r");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    ASSERT_NE(fgets(buf, sizeof buf, f), nullptr);
    fclose(f);
    EXPECT_STREQ(buf, "a  b\n");
    EXPECT_NE(RunCommand("NO_SUCH_TOOL_ANYWHERE /bt=NT X.C 2>/dev/null"), 0);
}

}  // namespace
