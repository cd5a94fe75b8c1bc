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
#include "base_directory.h"
#include "console.h"
#include "cache_file.h"
#include "file_search.h"
#include "http.h"
#include "include_search.h"
#include "name_lookup_posix.h"
#include "path.h"
#include "record_walk.h"
#include "text.h"
#include "tool_command.h"

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
    // THEADR's name first, when asked for; one of no byte too.
    std::pair<std::string, std::string> headed[] = {
        {h + d + e + n, "main.c\n" + D + "1"}, {Rec(0x80, std::string(1, '\0')) + n, "\n2"}, {h.substr(0, 6), "3"}};
    for (auto& [object, steps] : headed) {
        bool same = true;
        for (size_t piece = 1; piece <= object.size() + 1; piece++) same = same && Walk(object, piece, true) == steps;
        Check(same, "headed records: " + steps + " " + Walk(object, 4096, true));
    }
}

// A record whose bytes add up to 0, and one with a name.
std::string Summed(std::string r) {
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < r.size(); i++) sum += static_cast<unsigned char>(r[i]);
    r.back() = static_cast<char>(-sum);
    return r;
}
std::string Named(int type, const std::string& fields, const std::string& name, bool summed) {
    std::string r = Rec(type, fields + static_cast<char>(name.size()) + name);
    r.back() = '\0';
    return summed ? Summed(r) : r;
}

// Names below /t/a in /u/bb instead: a record with a checksum keeps one,
// one without stays so, the rest byte for byte; and back again.
void Rebases() {
    const std::string dep = "\x80\xE9\1\2\3\4", end = Summed(Rec(0x88, "\x80\xE9")), rest = Rec(0x96, "") + "\xA0xyz";
    // A record after the list's end is not one of it.
    const std::string late = Named(0x88, dep, "/t/a/late.h", true) + rest;
    auto object = [&](const std::string& dir, bool summed) {
        return Named(0x80, "", dir + "/src/main.c", summed) + Named(0x88, dep, dir + "/src/main.c", true) +
               Named(0x88, dep, dir, false) + Named(0x88, dep, "/t/ab/x.h", true) + end + late;
    };
    std::string out, back;
    for (bool summed : {true, false}) {
        std::string was = object("/t/a", summed);
        Check(RebaseRecords(was, "/t/a/", "/u/bb", &out) && out == object("/u/bb", summed) &&
                  RebaseRecords(out, "/u/bb", "/t/a", &back) && back == was, "rebased and back");
    }
    std::string h = Named(0x80, "", "/t/a/m.c", true);
    Check(RebaseRecords(h + rest, "/t/a", "/u", &out) && out == Named(0x80, "", "/u/m.c", true) + rest, "no list");
    std::string damaged[] = {h + Named(0x88, dep, "/t/a/x.h", true) + rest, "MZ", h.substr(0, 6)};
    for (const std::string& o : damaged) Check(!RebaseRecords(o, "/t/a", "/u", &out), "damaged: " + o);
    std::string longest = "/" + std::string(250, 'x');  // "/m.c" in it makes 255 bytes
    Check(RebaseRecords(h + rest, "/t/a", longest, &out) && !RebaseRecords(h + rest, "/t/a", longest + "x", &out) &&
              !RebaseRecords(h + rest, "/t/a/m.c", "", &out), "names of 1 to 255 bytes");
}

// Below a directory, by the POSIX rule and the Windows one; names from a
// base; the switches that write the directory into the object.
void BaseDirectories() {
    const size_t no = std::string_view::npos;
    struct {
        const char* name;
        const char* dir;
        size_t posix, windows;
    } rows[] = {{"/a/b/c", "/a/b", 4, 4}, {"/a/bc", "/a/b", no, no}, {"/a/b", "/a/b//", 4, 4},
                {"/A/b\\c", "/a/B/", no, 4}, {"/a\\b", "/a", no, 2}, {"Z:\\A", "z:/", no, 2},
                {"/x", "/", 0, 0}, {"x", "/", no, no}, {"", "/", no, no}, {"/a", "", no, no}};
    for (auto& r : rows) {
        Check(BelowDirectory(r.name, r.dir, false) == r.posix && BelowDirectory(r.name, r.dir, true) == r.windows,
              std::string("below: ") + r.name + " " + r.dir);
    }
    Check(RelativeTo("/t/a//src/x.c", "/t/a") == "src/x.c" && RelativeTo("/t/a", "/t/a/").empty() &&
          RelativeTo("/t/ab/x.c", "/t/a") == "/t/ab/x.c", "relative to a base");
    struct {
        const char* command;
        const char* defaults;
        bool keeps;
    } switches[] = {{"wcc386 -d0 -d1 -dNAME -d__NT__ -d -hc -hd x.c", "", false}, {"wcc386 x.c", "-d3s", true},
                    {"wcc386 -D2i x.c", nullptr, true}, {"wcc386 -d1+ x.c", nullptr, true},
                    {"wcc386 -\"d2\" x.c", nullptr, true}, {"wcc386 \"-dX=a -d2\" x.c", nullptr, false},
                    {"wcc386 -HW x.c", nullptr, true}, {"wcc386 /d2 x.c", nullptr, false}};
    for (auto& r : switches) Check(KeepsDirectory(r.command, r.defaults) == r.keeps, r.command);
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
// another key, or cut, is refused; and so is one whose result has no input.
void CacheFiles() {
    CachedResult full, least;
    full.inputs = {{"/s/main.c", true, {1, 2}}, {"/s/greet.h", false, {3, 4}}};
    full.absent = {"/s/inc/greet.h", "/i/greet.h"};
    full.object = "OBJ", full.output = "out", full.diagnostics = true, full.diagnostics_text = "w\n";
    least.inputs = {{"x", false, {5, 6}}};
    CacheHash key = {7, 8};
    std::vector<CachedResult> back;
    for (const std::vector<CachedResult>& r : {std::vector{full, least}, std::vector{least}}) {
        std::string file = CacheFileBytes(key, r);
        Check(ReadCacheFile(file.data(), file.size(), key, &back) && CacheFileBytes(key, back) == file, "read back");
        Check(!ReadCacheFile(file.data(), file.size(), CacheHash{7, 9}, &back), "another key");
        Check(!ReadCacheFile(file.data(), file.size() - 1, key, &back), "cut");
    }
    std::string none = CacheFileBytes(key, {CachedResult{}});
    Check(!ReadCacheFile(none.data(), none.size(), key, &back), "a result without inputs");
}

// A new stamp keeps a record's bytes adding up to 0 where they did, its
// checksum byte 0 included, and leaves a record without a checksum so.
void Restamps() {
    auto sum = [](const std::string& r) {
        unsigned s = 0;
        for (char c : r) s += static_cast<unsigned char>(c);
        return s % 256;
    };
    // Data whose bytes add up to 0 with the type and length: its checksum is 0.
    std::string zero = std::string("\x88\x09\0\x80\xE9\0\0\0\0\x01", 10);
    zero += static_cast<char>(-static_cast<int>(sum(zero)));
    zero += '\0';
    std::string none = std::string("\x88\x09\0\x80\xE9\0\0\0\0\x01a\0", 12);
    for (std::string* r : {&zero, &none}) {
        bool summed = sum(*r) == 0;
        SetDependencyStamp(reinterpret_cast<unsigned char*>(r->data()), 0x1234, 0x5678);
        Check(r->substr(5, 4) == "\x34\x12\x78\x56" && (sum(*r) == 0) == summed && (summed || r->back() == 0),
              summed ? "checksum 0 kept right" : "no checksum kept");
    }
}

// An option word quoted in place for the shell, and one whose quoted form
// and terminator would pass the end of the buffer, left as it was.
void Quoting() {
    for (size_t cap : {12, 11}) {
        char word[12] = "a\"$`\\";
        size_t len = QuoteWord(word, strlen(word), cap);
        bool fits = cap == 12;
        Check(len == (fits ? 11 : 0) && strcmp(word, fits ? "\"a\\\"\\$\\`\\\\\"" : "a\"$`\\") == 0,
              "quoted in " + std::to_string(cap) + ": " + word);
    }
}

// Where a file made later could change a compile, the current directory
// being /w: for the command, WCC386, NT_INCLUDE, INC386, INCLUDE and the
// recorded names, the names in order, or "false" when that cannot be known.
void ShadowTable() {
    struct {
        IncludeSearch search;
        std::vector<std::string_view> recorded;
        const char* want;
    } rows[] = {
        {{"wcc386 -i=inc1 -i=inc2 -bt=NT main.c", "/w", nullptr, nullptr, nullptr, nullptr},
         {"/w/main.c", "/w/inc2/cfg.h"}, "/w/cfg.h /w/inc1/cfg.h"},
        // inc2 is also an includer's directory, searched before inc1.
        {{"wcc386 -i=inc2 main.c", "/w", "-i=inc1", nullptr, nullptr, nullptr},
         {"/w/main.c", "/w/inc2/a.h", "/w/inc2/b.h"},
         "/w/a.h /w/inc1/a.h /w/inc2/inc2/a.h /w/b.h /w/inc1/b.h /w/inc2/inc2/b.h"},
        // The source's directory; another recorded file is no new one.
        {{"wcc386 -i=inc src/main.c", "/w", nullptr, nullptr, nullptr, nullptr},
         {"/w/src/main.c", "/w/src/a.h", "/w/inc/b.h", "/w/inc/a.h"}, "/w/a.h /w/b.h /w/src/b.h"},
        {{"wcc386 -bt=NT main.c", "/w", nullptr, "/nt", "/i386", "/h1:/h2;/h3"},
         {"/w/main.c", "/h3/x.h"}, "/w/x.h /nt/x.h /i386/x.h /h1/x.h /h2/x.h"},
        // Found in /w/../h, after INCLUDE, which "-x" leaves out.
        {{"wcc386 main.c", "/w", nullptr, nullptr, nullptr, "/i"}, {"/w/main.c", "/h/x.h"}, "/w/x.h /i/x.h"},
        {{"wcc386 -x main.c", "/w", nullptr, nullptr, nullptr, "/i"}, {"/w/main.c", "/h/x.h"}, "/w/x.h"},
        // Spelt "sys/x.h", and "../lib/x.h".
        {{"wcc386 -i=inc src/main.c", "/w", nullptr, nullptr, nullptr, nullptr},
         {"/w/src/main.c", "/w/inc/sys/x.h"}, "/w/sys/x.h /w/src/sys/x.h"},
        {{"wcc386 -i=/i src/main.c", "/w", nullptr, nullptr, nullptr, nullptr},
         {"/w/src/main.c", "/w/src/../lib/x.h"}, "/w/../lib/x.h"},
        // A name of one character.
        {{"wcc386 -i=inc src/main.c", "/w", nullptr, nullptr, nullptr, nullptr}, {"/w/src/main.c", "/w/inc/y"},
         "/w/y /w/src/y"},
        // A directory whose name ends in a two-byte character whose second byte is "\".
        {{"wcc386 -i=\x95\\ -i=inc main.c", "/w", nullptr, nullptr, nullptr, nullptr, true},
         {"/w/main.c", "/w/inc/x.h"}, "/w/x.h /w/\x95\\/x.h"},
        {{"wcc386 -xx main.c", "/w", nullptr, nullptr, nullptr, nullptr}, {"/w/main.c"}, "false"},
        {{"wcc386 main.c", "/w", "-ft", nullptr, nullptr, nullptr}, {"/w/main.c"}, "false"},
        {{"wasm start.asm", "/w", nullptr, nullptr, nullptr, nullptr}, {"/w/start.asm"}, "false"}};
    std::vector<std::string> names;
    for (auto& r : rows) {
        std::string got = ShadowNames(r.search, r.recorded, &names) ? "" : "false";
        for (const std::string& name : names) got += (got.empty() ? "" : " ") + name;
        Check(got == r.want, std::string(r.search.command) + ": " + got);
    }
    // Forty directories of ten files each: some forty names for each file.
    std::vector<std::string> many;
    for (int i = 0; i < 400; i++) many.push_back("/w/d" + std::to_string(i % 40) + "/f" + std::to_string(i) + ".h");
    std::vector<std::string_view> recorded(many.begin(), many.end());
    IncludeSearch search = {"wcc386 main.c", "/w", nullptr, nullptr, nullptr, nullptr};
    Check(!ShadowNames(search, recorded, &names) && names.empty(), "too many names");
}

// The parts of the remote cache's URL: "" where it is not one.
void Urls() {
    const char* rows[][2] = {
        {"http://h", "0|h|80|||http://h"},
        {"HTTPS://u:p%40%3a@h:8443/a/b//", "1|h|8443|/a/b|Basic dTpwQDo=|https://h:8443/a/b"},
        {"http://u@[::1]:1/", "0|[::1]|1||Basic dTo=|http://[::1]:1"},
        {"http://@h:65535/x", "0|h|65535|/x||http://h:65535/x"},
        {"http://a:b:c@u@h", "0|h|80||Basic YTpiOmNAdQ==|http://h"},
        {"ftp://h", ""}, {"http://", ""}, {"http:///x", ""}, {"http://h:", ""}, {"http://h:0", ""},
        {"http://h:65536", ""}, {"http://h:8x", ""}, {"http://h x", ""}, {"http://h/\x7f", ""},
        {"http://h/?a", ""}, {"http://h#a", ""}, {"http://u:%4@h", ""}, {"http://[::1", ""},
        {"http://[]", ""}, {"http://a]b", ""}, {"http://[::1]x", ""}, {"http://h\xc3\xa9", ""}};
    for (auto& r : rows) {
        HttpUrl u;
        std::string got = ParseHttpUrl(r[0], &u) ? std::to_string(u.secure) + "|" + u.host + "|" + std::to_string(u.port) +
                                                       "|" + u.path + "|" + u.authorization + "|" + u.shown
                                                 : "";
        Check(got == r[1], std::string(r[0]) + ": " + got);
    }
    Check(IsRequestPath("ab/0123") && !IsRequestPath("a b") && !IsRequestPath("a?b") && !IsRequestPath("a\r\n"), "paths");
}

int main() {
    Urls();
    Quoting();
    ShadowTable();
    OutputRuns();
    CacheFiles();
    Restamps();
    Records();
    Rebases();
    BaseDirectories();
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
