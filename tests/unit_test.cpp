// Unit tests of what the end-to-end cases cannot reach: the pure functions'
// boundaries and, on POSIX, absolute names, stamps in any time zone and
// sizes past 4 GiB. Ends with "N passed, N failed".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "args.h"
#include "console.h"
#include "cache_file.h"
#include "file_search.h"
#include "name_lookup_posix.h"
#include "path.h"
#include "record_walk.h"
#include "text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int passed, failed;

void Check(bool ok, const std::string& what) {
    ok ? passed++ : failed++;
    if (!ok) std::printf("FAILED: %s\n", what.c_str());
}

void SplitTable() {
    const char* rows[][5] = {
        {"D:\\WORK\\MAIN.C", "D:", "\\WORK\\", "MAIN", ".C"}, {"D:MAIN.C", "D:", "", "MAIN", ".C"},
        {"A.B.C", "", "", "A.B", ".C"}, {"SRC/X.Y\\MAIN", "", "SRC/X.Y\\", "MAIN", ""},
        {".ZBX", "", "", "", ".ZBX"}, {"FOO.", "", "", "FOO", "."},
        {"D:\\WORK\\SUB\\", "D:", "\\WORK\\SUB\\", "", ""}, {"1:A", "1:", "", "A", ""},
        {"", "", "", "", ""}};
    for (auto& r : rows) {
        PathParts p;
        SplitPath(r[0], &p, false);
        Check(std::string(p.drive) + "|" + p.dir + "|" + p.base + "|" + p.ext ==
                  std::string(r[1]) + "|" + r[2] + "|" + r[3] + "|" + r[4], r[0]);
    }
    std::string path = std::string(300, 'D') + "\\" + std::string(300, 'B') + "." + std::string(300, 'E');
    PathParts p;
    SplitPath(path.c_str(), &p, false);
    Check(p.dir == std::string(255, 'D') && p.base == std::string(255, 'B') &&
          p.ext == std::string(".").append(254, 'E'), "parts cut at 255");
    // 0x95 0x5C is one character whose second byte is "\", 0x83 0x2E one whose second is ".".
    SplitPath("DIR\\\x95\\NAME\x83.X", &p, true);
    Check(!strcmp(p.dir, "DIR\\") && !strcmp(p.base, "\x95\\NAME\x83.X") && !*p.ext, "double-byte split");
}

void JoinTable() {
    const char* rows[][5] = {
        {"D:", "\\WORK\\", "MAIN", ".ZBX", "D:\\WORK\\MAIN.ZBX"}, {"", "", "MAIN", ".OBJ", "MAIN.OBJ"},
        {"", "OUT/BIN\\", "PROG", ".EXE", "OUT/BIN/PROG.EXE"}, {"", "OUT", "PROG", "EXE", "OUT\\PROG.EXE"},
        {"D:", "\\WORK\\SUB\\", "", ".ZBX", "D:\\WORK\\SUB\\.ZBX"}, {"DRIVE", "", "A", "", "D:A"},
        {"", "\\", "\\B", "", "\\B"}, {"", "", "A/B", "", "A\\B"}};
    char out[20];
    for (auto& r : rows) {
        Check(JoinPath(out, sizeof out, r[0], r[1], r[2], r[3], false) == 0 &&
                  !strcmp(out, r[4]), r[4]);
    }
    memset(out, 'Z', sizeof out);
    Check(JoinPath(out, 12, "", "", "ABCDEFGH", ".OBJ", false) == -1 && !*out && out[12] == 'Z',
          "join refuses what does not fit");
    Check(JoinPath(out, 13, "", "", "ABCDEFGH", ".OBJ", false) == 0, "join fills its buffer");
    Check(JoinPath(out, sizeof out, "", "A/\x95\\B\\", "C", ".C", true) == 0 &&
              !strcmp(out, "A/\x95\\B/C.C"), "double-byte join");
}

void Arguments() {
    struct {
        const char* text;
        std::vector<std::string> args;
    } rows[] = {{"", {}}, {"my project", {"my", "project"}}, {"\"my project\"", {"my project"}},
                {"a \"\" b", {"a", "", "b"}}, {"a\\\"b c", {"a\"b", "c"}}, {"a\\\\\"b", {"a\\\"b"}},
                {"\"ab\"cd", {"ab", "cd"}}, {"ab\"c d\"e f", {"abc de", "f"}},
                {"x\"open y", {"xopen y"}}, {"\tone\ttwo\t", {"one", "two"}}};
    for (auto& r : rows) {
        std::vector<char> storage(strlen(r.text) + 1);
        char* argv[4];
        int n = SplitArguments(r.text, storage.data(), argv, 4);
        Check(std::vector<std::string>(argv, argv + n) == r.args, r.text);
    }
    char storage[8];
    char* argv[1];
    Check(SplitArguments("a b c", storage, argv, 1) == 3 && !strcmp(argv[0], "a"), "count past argv");
    Check(!strcmp(SkipProgramName("\"C:\\a b\\z.exe\"proj"), "proj") &&
          !strcmp(SkipProgramName("z\r\n\v\f proj x"), "proj x") && !*SkipProgramName("\"open"),
          "program name skipped");
}

// Absolute names by text; "con" alone is the console.
void FullPaths(const std::string& dir) {
    const char* rows[][2] = {{"/x//y/", "/x/y/"}, {"/../../x", "/x"}, {"/", "/"}, {"con.c", "con.c"}};
    char out[260];
    for (auto& r : rows) {
        std::string want = r[0][0] == '/' ? r[1] : dir + "/" + r[1];
        Check(FullPath(out, sizeof out, r[0]) == 0 && out == want, r[0]);
    }
    Check(FullPath(out, sizeof out, std::string(300, 'n').c_str()) == -1 && !*out, "too long");
}

// Stamps in local time: hour by hour across both changes of daylight saving
// time, and day by day from 1970 to 2112; and the low 32 bits of a size.
void Stamps(const std::string& dir) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    std::string name = dir + "/A.C";
    std::fclose(std::fopen(name.c_str(), "w"));
    SearchRecord rec;
    auto wrong = [&](time_t t) {
        timespec times[2] = {{t, 0}, {t, 0}};
        tm local;
        FileStamp want;
        utimensat(AT_FDCWD, name.c_str(), times, 0);
        localtime_r(&t, &local);
        DosStamp(LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec}, &want.date, &want.time);
        bool bad = FindFile(name.c_str(), 0, &rec) != 0 || rec.stamp.date != want.date ||
                   rec.stamp.time != want.time;
        gmtime_r(&t, &local);
        DosStamp(LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec}, &want.date, &want.time);
        return bad || rec.stamp.utc_date != want.date || rec.stamp.utc_time != want.time;
    };
    int errors = 0;
    for (time_t change : {1932598800, 1950742800}) {  // 2031-03-30 and 2031-10-26, 01:00 UTC
        for (time_t t = change - 3 * 3600; t < change + 3 * 3600; t += 7 * 60 + 13) errors += wrong(t);
    }
    for (time_t t = 0; t < 4'500'000'000; t += 86400 * 7 + 3607) errors += wrong(t);
    Check(errors == 0, "local and UTC stamps");
    Check(truncate(name.c_str(), (4LL << 30) + 10) != 0 ||
          (FindFile(name.c_str(), 0, &rec) == 0 && rec.stamp.size == 10), "size of 4 GiB + 10");
}

std::string Rec(int type, const std::string& data) {
    size_t n = data.size() + 1;
    return std::string{static_cast<char>(type), static_cast<char>(n), static_cast<char>(n >> 8)} + data + "!";
}

// Steps: 1 the end, 2 no records, 3 damaged.
void Records() {
    std::string h = Rec(0x80, "\x06main.c"), e = Rec(0x88, "\x80\xE9"), n = Rec(0x96, "");
    std::string d = Rec(0x88, "\x80\xE9\1\2\3\4\x06/a.h/b"), D = "/a.h/b\n";
    std::pair<std::string, std::string> rows[] = {
        {"", "2"}, {"MZ", "2"}, {"\x80", "3"}, {h, "2"}, {h + Rec(0x88, std::string("\0\x9D", 2)) + n, "2"},
        {h + d + e + n, D + "1"}, {h + Rec(0x88, "\x80\xE9\1\2\3\4\1x") + e + n, "x\n1"},
        {h + d + d, D + D + "3"}, {h + d + n, D + "3"},
        {h + Rec(0x88, "\x80\xE9\1\2\3\4\x07/a.h/b"), "3"}, {h + std::string("\x88\0\0", 3), "3"},
        {h + std::string("\x88\x40\0\x80\xE9", 5), "3"}, {h + Rec(0x88, std::string("\x80\xE9\1\2\3\4\3a\0b", 10)), "3"},
        {h + Rec(0x88, "\x80"), "3"}, {h + Rec(0x88, "\x80\xE9\1\2"), "3"}};
    for (auto& [object, steps] : rows) {
        bool same = true;
        for (size_t piece = 1; piece <= object.size() + 1; piece++) same = same && Walk(object, piece) == steps;
        Check(same, "records: " + steps + " " + Walk(object, 4096));
    }
}

}  // namespace

// A text fills its buffer up to the terminator and not one byte more.
void Texts() {
    char out[8] = "abc";
    size_t len = 3;
    Check(Append(out, sizeof out, &len, "defg", 4) && len == 7 && !strcmp(out, "abcdefg"), "append to fit");
    Check(!Append(out, sizeof out, &len, "h", 1) && len == 7 && !strcmp(out, "abcdefg"), "append past");
    std::string name(8, 'Z');
    Check(SystemName("a\\b\\cde", name.data(), 8) == name.data() && name == std::string("a/b/cde", 8) &&
          !SystemName("a\\b\\cdef", name.data(), 8), "system name fills its buffer");
    Check(SamePrefix(".TARGET nt", ".target ", 8) && !SamePrefix(".targe", ".target ", 8), "prefix");
    Check(SameText("a.c", "A.C") && !SameText("a.c", "a.cc") && !SameText("a", "\xc3"), "text");
    Check(SameName("/T/A\\x.C", "/t/a/X.c") && !SameName("/t/a/x.c", "/t/a/x.cc"), "names");
    Check(NameHash("main.c", 6, true) == NameHash("MAIN.C", 6, true) &&
          NameHash("main.c", 6, false) != NameHash("MAIN.C", 6, false), "hash folds case");
    Check(!strcmp(WithoutDrive("Z:\\s\\x.h"), "\\s\\x.h") && !strcmp(WithoutDrive("z:/x"), "/x") &&
          !strcmp(WithoutDrive("Z:x"), "Z:x") && !strcmp(WithoutDrive("1:\\x"), "1:\\x"), "a drive is the root");
}

// Bytes of one stream join the last run while its length has room, up to
// 4 GiB - 1; only whole runs of the three tags are written.
void OutputRuns() {
    Runs runs = {};
    Check(AddRun(&runs, 1, "ab", 2) && AddRun(&runs, 1, "c", 1) && AddRun(&runs, 2, "d", 1) &&
          std::string(runs.bytes, runs.size) == std::string("\1\3\0\0\0abc\2\1\0\0\0d", 14), "runs");
    memcpy(runs.bytes + runs.last + 1, "\xFE\xFF\xFF\xFF", 4);  // as if 4 GiB - 2 bytes long
    Check(AddRun(&runs, 2, "ef", 2) &&
          std::string(runs.bytes + 9, runs.size - 9) == std::string("\xFF\xFF\xFF\xFF" "de" "\2\1\0\0\0f", 12),
          "a full run");
    free(runs.bytes);
    Check(CanWriteRuns(std::string_view("\1\2\0\0\0ab\0\0\0\0\0", 12)) &&
          !CanWriteRuns(std::string_view("\1\3\0\0\0ab", 7)) && !CanWriteRuns(std::string_view("\3\0\0\0\0", 5)) &&
          !CanWriteRuns(std::string_view("\0\0\0\0", 4)), "whole runs");
}

// A cache file reads back as it was written, the smallest one too; one of
// another key, or cut, is refused.
void CacheFiles() {
    CachedResult full, least, back;
    full.inputs = {{"/s/main.c", true, {1, 2}}, {"/s/greet.h", false, {3, 4}}};
    full.object = "OBJ", full.output = "out", full.diagnostics = true, full.diagnostics_text = "w\n";
    least.inputs = {{"x", false, {5, 6}}};
    CacheHash key = {7, 8};
    for (const CachedResult& r : {full, least}) {
        std::string file = CacheFileBytes(key, r);
        Check(ReadCacheFile(file.data(), file.size(), key, &back) && CacheFileBytes(key, back) == file, "read back");
        Check(!ReadCacheFile(file.data(), file.size(), CacheHash{7, 9}, &back), "another key");
        Check(!ReadCacheFile(file.data(), file.size() - 1, key, &back), "cut");
    }
}

int main() {
    OutputRuns();
    CacheFiles();
    Records();
    Texts();
    SplitTable();
    JoinTable();
    Arguments();
    char dir[] = "/tmp/zorbex-unit-XXXXXX";
    if (mkdtemp(dir)) {
        if (chdir(dir) == 0) FullPaths(dir);
        Stamps(dir);
        std::system((std::string("rm -rf ") + dir).c_str());
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
