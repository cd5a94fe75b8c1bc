// Input the program must survive: odd bytes and sizes in the project file,
// names at and past their limits, shell metacharacters, unusual files and
// tools that misbehave. Whatever comes: one clear message, exit code 0 or
// 255, nothing on the error stream, no earlier object lost and no
// "~ZORBEX~.LNK" left behind.
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include "harness.h"

namespace zorbex_e2e {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

constexpr char kNoSignalsOnWindows[] = "POSIX signals, FIFOs and resource limits";

std::string Invalid(const std::string& name) {
    return "Invalid module: " + name + " (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)\n";
}

std::string TooLong(const std::string& name) { return "Error: name too long: " + name + "\n"; }

// A project without modules: an empty executable name that the linker
// cannot make.
const std::string kEmptyOut = kNothingToDo + kRelinking + kBadLink;
const Lines kEmptyDirectives = {"name ", "system NT"};

class BadInput : public E2e {};

// The bytes of a project file: head, fill repeated count times, tail.
struct BytesCase {
    const char* label;
    std::string head;
    char fill;
    size_t count;
    std::string tail;
    std::string out;   // after the banner
    int code;
    Lines directives;  // what the linker read; empty when it did not run
};

void PrintTo(const BytesCase& c, std::ostream* os) { *os << c.label; }

class ProjectBytes : public E2e, public ::testing::WithParamInterface<BytesCase> {};

TEST_P(ProjectBytes, GiveOneClearOutcome) {
    const BytesCase& c = GetParam();
    Write("KEEP.OBJ", "earlier\n");
    Project(c.head + std::string(c.count, c.fill) + c.tail);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(c.out));
    EXPECT_EQ(run.code, c.code);
    if (c.directives.empty()) {
        EXPECT_FALSE(Exists("STANDIN.LNK"));
    } else {
        EXPECT_EQ(Read("STANDIN.LNK"), DirectiveText(c.directives));
    }
    EXPECT_EQ(Read("KEEP.OBJ"), "earlier\n");
    EXPECT_FALSE(Exists(kDirectiveFile));
}

constexpr size_t k10M = 10'000'000;
const std::string k255X(255, 'X');

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ProjectBytes,
    ::testing::Values(
        // The first line of a binary ends at its first NUL or newline.
        BytesCase{"ElfHeader", "\x7f" "ELF\x02\x01\x01\0\0\0\x03\0>\0\n"s, '\xff', 4000,
                  "\n", Invalid("\x7f" "ELF\x02\x01\x01"), 255, {}},
        // Carriage return, Ctrl-Z: the text-mode bytes of the header.
        BytesCase{"PngHeader", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, '\0', 100, "", Invalid("\x89PNG"),
                  255, {}},
        // Pieces of 255 blanks are empty lines; the last piece holds the name.
        BytesCase{"TenMegabyteLineOfBlanks", "", ' ', k10M, "keep.obj\n",
                  kNothingToDo + kRelinking + Done("KEEP.EXE"), 0,
                  {"file KEEP.OBJ", "name KEEP.EXE", "system NT"}},
        BytesCase{"TenMegabyteLineOfLetters", "", 'x', k10M, "", TooLong(k255X), 255, {}},
        BytesCase{"OnlyCarriageReturns", "", '\r', 5000, "\n\r\r\n\r", kEmptyOut, 255,
                  kEmptyDirectives},
        // Dropped carriage returns do not count towards the 255 characters.
        BytesCase{"CarriageReturnsInsideName", "\r\rkeep", '\r', 1000, ".obj\r\r\n",
                  kNothingToDo + kRelinking + Done("KEEP.EXE"), 0,
                  {"file KEEP.OBJ", "name KEEP.EXE", "system NT"}},
        BytesCase{"OnlyCtrlZ", "\x1a", '\n', 0, "", kEmptyOut, 255, kEmptyDirectives},
        BytesCase{"OnlyNuls", "", '\0', 1000, "", kEmptyOut, 255, kEmptyDirectives},
        // A NUL hides the rest of its line, also a whole name after it.
        BytesCase{"NulBeforeName", "\0a.obj\n"s, '\n', 0, "keep.obj\n",
                  kNothingToDo + kRelinking + Done("KEEP.EXE"), 0,
                  {"file KEEP.OBJ", "name KEEP.EXE", "system NT"}},
        BytesCase{"NulsAfterName", "keep.obj", '\0', 600, "\nb.obj\n",
                  kNothingToDo + kRelinking + Done("KEEP.EXE"), 0,
                  {"file KEEP.OBJ", "file B.OBJ", "name KEEP.EXE", "system NT"}}),
    [](const ::testing::TestParamInfo<BytesCase>& info) { return info.param.label; });

// Absolute project names of 258 to 261 characters, with ".ZBX" given or
// added: 259 is the most the program holds. Windows makes no absolute form
// of a name past 259 characters; the message then holds the argument.
TEST_F(BadInput, ProjectNameAroundItsLimit) {
    size_t prefix = AbsoluteName("").size() + 1;
    if (prefix + 20 > 258) GTEST_SKIP() << "test directory name too long";
    for (size_t total = 258; total <= 261; ++total) {
        std::string base(total - prefix - 4, 'p');
        for (const std::string& arg : {base, base + ".zbx"}) {
            SCOPED_TRACE(arg.size());
            bool refused = WindowsBuild() && prefix + arg.size() > 259;
            std::string name = refused ? arg : AbsoluteName(base + ".zbx");
            Write(base + ".ZBX", ".nolink\n");
            RunResult run = Run({arg});
            EXPECT_EQ(run.out, Out(total <= 259 ? "" : "Error: can't read " + name + "\n"));
            EXPECT_EQ(run.code, total <= 259 ? 0 : 255);
            EXPECT_FALSE(Exists(kDirectiveFile));
        }
    }
}

// Module names whose absolute form has 258 to 261 characters; and module
// lines as long, read in pieces: the first, 255 characters without an
// extension, is too long a name once made absolute.
TEST_F(BadInput, ModuleNameAroundItsLimit) {
    size_t prefix = AbsoluteName("").size() + 1;
    if (prefix + 20 > 258) GTEST_SKIP() << "test directory name too long";
    WriteAt("A.C", kOld);
    for (size_t total = 258; total <= 261; ++total) {
        std::string base(total - prefix - 2, 'm');
        std::string upper(base.size(), 'M');
        SCOPED_TRACE(total);
        WriteAt(upper + ".C", kOld);
        Project(".nolink\na.c\n" + base + ".c\n");
        RunResult run = Run();
        EXPECT_EQ(run.out, Out(total <= 259 ? "" : TooLong(upper + ".C")));
        EXPECT_EQ(run.code, total <= 259 ? 0 : 255);
        EXPECT_EQ(Exists(upper + ".OBJ"), total <= 259);
        EXPECT_TRUE(Exists("A.OBJ"));

        Project("keep.obj\n" + std::string(total - 2, 'x') + ".c\n");
        run = Run();
        EXPECT_EQ(run.out, Out(TooLong(k255X)));
        EXPECT_EQ(run.code, 255);
        EXPECT_FALSE(Exists(kDirectiveFile));
    }
}

// An ".exename " value of 258 to 261 characters: its first 246 fill the
// line's first piece and name the executable; the rest is a line of its own,
// here a listed object.
TEST_F(BadInput, ExecutableNameLongerThanAPiece) {
    const std::string exe = std::string(246, 'E') + ".EXE";
    for (size_t length = 258; length <= 261; ++length) {
        SCOPED_TRACE(length);
        std::string rest(length - 246 - 4, 'r');
        Project(".exename " + std::string(246, 'e') + rest + ".obj\n");
        RunResult run = Run();
        std::string object(rest.size(), 'R');
        EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done(exe)));
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(Read("STANDIN.LNK"),
                  DirectiveText({"file " + object + ".OBJ", "name " + exe, "system NT"}));
        EXPECT_FALSE(Exists(kDirectiveFile));
        std::remove((dir_ + "/" + exe).c_str());
    }
}

// Option texts of 126 to 129 characters: 127 are kept.
TEST_F(BadInput, OptionsAroundTheirLimit) {
    std::string project;
    Lines log;
    for (size_t n = 126; n <= 129; ++n) {
        std::string id = std::to_string(n);
        project += ".wccopt " + std::string(n, 'c') + "\nc" + id + ".c\n";
        project += ".wasmopt " + std::string(n, 'a') + "\na" + id + ".asm\n";
        WriteAt("C" + id + ".C", kOld);
        WriteAt("A" + id + ".ASM", kOld);
        size_t kept = std::min<size_t>(n, 127);
        log.push_back("WCC386 " + std::string(kept, 'c') + " /bt=NT /d__NT__ C" + id + ".C");
        log.push_back("WASM " + std::string(kept, 'a') + " /bt=NT /d__NT__ A" + id + ".ASM");
    }
    log.push_back("WLINK @~ZORBEX~.LNK");
    Project(project);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("C126.EXE")));
    EXPECT_EQ(LogLines(), log);
}

// On POSIX a thousand separators in a row are one, and a thousand
// directories deep is far past the limit. The name in the message is the
// settled one while the program can hold it (4 KB), else the argument as
// given; Windows makes no absolute form of any name past 259 characters.
TEST_F(BadInput, ThousandSeparators) {
    Write("SUB/PROJ.ZBX", ".nolink\n");
    for (const std::string& arg : {"sub" + std::string(1000, '/') + "proj",
                                   "sub" + std::string(1000, '\\') + "proj"}) {
        RunResult run = Run({arg});
        EXPECT_EQ(run.out, Out(WindowsBuild() ? "Error: can't read " + arg + "\n" : ""));
        EXPECT_EQ(run.code, WindowsBuild() ? 255 : 0);
    }
    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "d/";
    RunResult run = Run({deep + "proj"});
    std::string name = WindowsBuild() ? deep + "proj" : AbsoluteName(deep + "proj.ZBX");
    EXPECT_EQ(run.out, Out("Error: can't read " + name + "\n"));
    EXPECT_EQ(run.code, 255);
    run = Run({deep + deep + deep + "proj"});
    EXPECT_EQ(run.out, Out("Error: can't read " + deep + deep + deep + "proj\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// The object of a module named with many separators is made here; the
// command names the source as written, and the POSIX shell reads each
// pair of backslashes as one.
TEST_F(BadInput, ModuleWithManySeparators) {
    WriteAt("src/util.c", kOld);
    for (char separator : {'/', '\\'}) {
        std::string line = "*src" + std::string(240, separator) + "util.c";
        size_t received = separator == '\\' && !WindowsBuild() ? 120 : 240;
        Project(line + "\n");
        RunResult run = Run();
        EXPECT_EQ(run.out, Out(Done("UTIL.EXE")));
        EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ SRC" +
                                         std::string(received, separator) + "UTIL.C",
                                     "WLINK @~ZORBEX~.LNK"}));
        EXPECT_EQ(Read("STANDIN.LNK"),
                  DirectiveText({"file UTIL.OBJ", "name UTIL.EXE", "system NT"}));
        std::remove((dir_ + "/STANDIN.LOG").c_str());
    }
}

// Module and option texts reach the command interpreter unchanged: it reads
// their metacharacters, the POSIX shell its own and the Windows interpreter
// its own. Module names are upper-cased, so what they can run is the tools.
enum Where { kPosix, kWindows, kBoth };

struct ShellCase {
    const char* label;
    Where where;
    const char* project;
    const char* source;  // made before the run
    Lines control;
    Lines log;           // what the tools received, sorted
    std::string out;     // after the banner
    int code;
    Lines made;          // name, then its content
};

void PrintTo(const ShellCase& c, std::ostream* os) { *os << c.label; }

class ShellText : public E2e, public ::testing::WithParamInterface<ShellCase> {};

TEST_P(ShellText, IsReadByTheInterpreter) {
    const ShellCase& c = GetParam();
    if (c.where == (WindowsBuild() ? kPosix : kWindows)) {
        GTEST_SKIP() << "the other system's command interpreter";
    }
    SetEnv("ZV", "REAL");
    WriteAt(c.source, kOld);
    if (!c.control.empty()) Control(c.control);
    Project(c.project);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(c.out));
    EXPECT_EQ(run.code, c.code);
    // A tool sent to the background may still be writing.
    for (size_t i = 0; i < c.made.size(); i += 2) {
        for (int wait = 0; wait < 1000 && Read(c.made[i]) != c.made[i + 1]; ++wait) {
            usleep(10000);
        }
        EXPECT_EQ(Read(c.made[i]), c.made[i + 1]) << c.made[i];
    }
    Lines log = LogLines();
    std::sort(log.begin(), log.end());
    EXPECT_EQ(log, c.log);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

const std::string kMainBuilt = Done("MAIN.EXE");
const char kLinkRun[] = "WLINK @~ZORBEX~.LNK";

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ShellText,
    ::testing::Values(
        ShellCase{"SemicolonInOptions", kPosix,
                  ".wccopt -ox;echo INJECTED >INJECT.TXT\nmain.c\n", "MAIN.C", {},
                  {"WCC386 -ox"}, kBadCompile, 255,
                  {"INJECT.TXT", "INJECTED /bt=NT /d__NT__ MAIN.C\n", "-ox.OBJ",
                   "OBJECT -ox\n"}},
        ShellCase{"SemicolonInOptionsWindows", kWindows,
                  ".wccopt -ox;echo INJECTED >INJECT.TXT\nmain.c\n", "MAIN.C",
                  {"WCC386 print hello"},
                  {"WCC386 -ox;echo INJECTED /bt=NT /d__NT__ MAIN.C", kLinkRun}, kMainBuilt, 0,
                  {"INJECT.TXT", "hello\r\n"}},
        ShellCase{"AndInOptions", kPosix, ".wccopt -zq && echo ECHOED\nmain.c\n", "MAIN.C", {},
                  {"WCC386 -zq"}, "ECHOED /bt=NT /d__NT__ MAIN.C\n" + kBadCompile, 255, {}},
        ShellCase{"AmpersandInOptionsWindows", kWindows, ".wccopt -zq & echo ECHOED\nmain.c\n",
                  "MAIN.C", {}, {"WCC386 -zq"},
                  "ECHOED /bt=NT /d__NT__ MAIN.C\n" + kBadCompile, 255, {}},
        ShellCase{"PipeInOptions", kBoth, ".wccopt -zq | WASM\nmain.c\n", "MAIN.C", {},
                  {"WASM /bt=NT /d__NT__ MAIN.C", "WCC386 -zq", kLinkRun},
                  kMainBuilt, 0, {"-zq.OBJ", "OBJECT -zq\n"}},
        ShellCase{"PipeAndCommentInOptions", kPosix, ".wccopt -zq | tr a-z A-Z #\nmain.c\n",
                  "MAIN.C", {"WCC386 print hello"}, {"WCC386 -zq"}, "HELLO\n" + kBadCompile, 255,
                  {}},
        ShellCase{"SubstitutionInOptions", kPosix, ".wccopt -dV=$(echo 42) -dW=`echo 7`\nmain.c\n",
                  "MAIN.C", {}, {"WCC386 -dV=42 -dW=7 /bt=NT /d__NT__ MAIN.C", kLinkRun},
                  kMainBuilt, 0, {}},
        ShellCase{"SubstitutionInOptionsWindows", kWindows,
                  ".wccopt -dV=$(echo 42) -dW=`echo 7`\nmain.c\n", "MAIN.C", {},
                  {"WCC386 -dV=$(echo 42) -dW=`echo 7` /bt=NT /d__NT__ MAIN.C", kLinkRun},
                  kMainBuilt, 0, {}},
        ShellCase{"RedirectionInOptions", kPosix, ".wccopt -zq >TOOL.OUT\nmain.c\n", "MAIN.C",
                  {"WCC386 print hello"}, {"WCC386 -zq /bt=NT /d__NT__ MAIN.C", kLinkRun},
                  kMainBuilt, 0, {"TOOL.OUT", "hello\n"}},
        ShellCase{"RedirectionInOptionsWindows", kWindows, ".wccopt -zq >TOOL.OUT\nmain.c\n",
                  "MAIN.C", {"WCC386 print hello"},
                  {"WCC386 -zq /bt=NT /d__NT__ MAIN.C", kLinkRun}, kMainBuilt, 0,
                  {"TOOL.OUT", "hello\r\n"}},
        ShellCase{"SemicolonInModule", kPosix, "a.c;wcc b.c\n", "A.C;WCC B.C", {},
                  {"WCC B.C", "WCC386 /bt=NT /d__NT__ A.C"}, kBadCompile, 255,
                  {"A.OBJ", "OBJECT A.C\n", "B.OBJ", "OBJECT B.C\n"}},
        // On POSIX the first tool runs in the background, maybe past the
        // program's end; on Windows one after the other.
        ShellCase{"AmpersandInModule", kBoth, "a.c & wcc b.c\n", "A.C & WCC B.C", {},
                  {"WCC B.C", "WCC386 /bt=NT /d__NT__ A.C"}, kBadCompile, 255,
                  {"A.OBJ", "OBJECT A.C\n", "B.OBJ", "OBJECT B.C\n"}},
        ShellCase{"VariableInModule", kPosix, "$zv.c\n", "$ZV.C", {},
                  {"WCC386 /bt=NT /d__NT__ REAL.C"}, kBadCompile, 255,
                  {"REAL.OBJ", "OBJECT REAL.C\n"}},
        ShellCase{"VariableInModuleWindows", kWindows, "%zv%.c\n", "%ZV%.C", {},
                  {"WCC386 /bt=NT /d__NT__ REAL.C"}, kBadCompile, 255,
                  {"REAL.OBJ", "OBJECT REAL.C\n"}},
        // The tool's output goes into B.C, made or emptied by the shell.
        ShellCase{"RedirectionInModule", kPosix, "a >b.c\n", "A >B.C", {"WCC386 print hello"},
                  {"WCC386 /bt=NT /d__NT__ A"}, kBadCompile, 255,
                  {"A.OBJ", "OBJECT A\n", "B.C", "hello\n"}}),
    [](const ::testing::TestParamInfo<ShellCase>& info) { return info.param.label; });

// Upper-casing changes ASCII letters only, in every byte encoding.
TEST_F(BadInput, NonAsciiNamesKeepTheirBytes) {
    Project(".exename prog\ncaf\xc3\xa9.obj\nna\xefve.lib\n\xc3\xa9t\xc3\xa9.obj\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("PROG.EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file CAF\xc3\xa9.OBJ", "library NA\xefVE.LIB",
                             "file \xc3\xa9T\xc3\xa9.OBJ", "name PROG.EXE", "system NT"}));
}

// On POSIX a name missing as written is matched without regard to the case
// of ASCII letters only: É is not é, in UTF-8 or in Latin-1.
TEST_F(BadInput, NonAsciiNamesMatchOnlyAsciiCase) {
    if (WindowsBuild()) GTEST_SKIP() << "Windows file systems ignore case beyond ASCII";
    struct {
        const char* line;
        const char* on_disk;
        const char* source;
        bool found;
    } cases[] = {{"caf\xc3\xa9.c", "caf\xc3\xa9.c", "CAF\xc3\xa9.C", true},
                 {"caf\xc3\xa9.c", "CAF\xc3\x89.C", "CAF\xc3\xa9.C", false},
                 {"na\xefve.c", "na\xefve.c", "NA\xefVE.C", true},
                 {"na\xefve.c", "NA\xcfVE.C", "NA\xefVE.C", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.on_disk);
        WriteAt(c.on_disk, kOld);
        Project(".nolink\n"s + c.line + "\n");
        RunResult run = Run();
        EXPECT_EQ(run.out, Out(c.found ? "" : "Error: "s + c.source + " not found\n"));
        EXPECT_EQ(run.code, c.found ? 0 : 255);
        std::remove((dir_ + "/" + c.on_disk).c_str());
    }
}

TEST_F(BadInput, ProjectFromAFifoIsReadAsItComes) {
    if (WindowsBuild()) GTEST_SKIP() << kNoSignalsOnWindows;
    MakeFifo("ZORBEX.ZBX");
    WriteAt("MAIN.C", kOld);
    Started started = Start();
    int fd = OpenFifoWriter("ZORBEX.ZBX");
    ASSERT_GE(fd, 0);
    const char text[] = "main.c\n.directive option quiet\n";
    EXPECT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);
    RunResult run = Wait(&started);
    EXPECT_EQ(run.out, Out(kMainBuilt));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file MAIN.OBJ", "option quiet", "name MAIN.EXE", "system NT"}));
}

// The linker cannot make an executable where no directory is, or where a
// file stands for one.
TEST_F(BadInput, ExecutableInAMissingDirectory) {
    WriteAt("A.C", kOld);
    for (const char* line : {".exename nodir\\prog", ".exename a.c/prog"}) {
        SCOPED_TRACE(line);
        Project(line + "\n*a.c\n"s);
        RunResult run = Run();
        EXPECT_EQ(run.out, Out(kBadLink));
        EXPECT_EQ(run.code, 255);
        ExpectFiles({"A.C", "A.OBJ", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX"});
    }
}

// Tools that misbehave. A.C is built first and stays; B.CPP's tool is the
// one that misbehaves.
struct ToolCase {
    const char* label;
    Lines control;
    bool posix_only;
    std::string out;  // after the banner
    int code;
    Lines files;      // besides A.C, A.OBJ, B.CPP, STANDIN.CTL, STANDIN.LOG, ZORBEX.ZBX
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.label; }

class BadTool : public E2e, public ::testing::WithParamInterface<ToolCase> {};

const std::string kLinked = Done("A.EXE");
const Lines kLinkedFiles = {"A.EXE", "B.OBJ", "STANDIN.LNK"};

TEST_P(BadTool, LeavesNothingStale) {
    const ToolCase& c = GetParam();
    if (c.posix_only && WindowsBuild()) GTEST_SKIP() << kNoSignalsOnWindows;
    WriteAt("A.C", kOld);
    WriteAt("B.CPP", kOld);
    Control(c.control);
    Project("a.c\nb.cpp\n");
    Started started = Start();
    RunResult run = Wait(&started);
    EXPECT_EQ(run.out, Out(c.out));
    EXPECT_EQ(run.code, c.code);
    // The shell that ran a tool killed by a signal says so, if anyone.
    if (c.posix_only) {
        EXPECT_TRUE(run.err.empty() || run.err.find("Killed") != std::string::npos) << run.err;
    } else {
        EXPECT_EQ(run.err, "");
    }
    Lines files = c.files;
    for (const char* name : {"A.C", "A.OBJ", "B.CPP", "STANDIN.CTL", "STANDIN.LOG", "ZORBEX.ZBX"}) {
        files.push_back(name);
    }
    ExpectFiles(files);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, BadTool,
    ::testing::Values(
        // The exit status is not looked at: an object left is an object made.
        ToolCase{"KilledAfterOutput", {"WPP386 die"}, true, kLinked, 0, kLinkedFiles},
        ToolCase{"KilledWithoutOutput", {"WPP386 die", "WPP386 noout"}, true, kBadCompile,
                 255, {}},
        ToolCase{"LinkerKilledWithoutOutput", {"WLINK die", "WLINK noout"}, true, kBadLink, 255,
                 {"B.OBJ"}},
        ToolCase{"MakesDirectoryForObject", {"WPP386 dir"}, false, kBadCompile, 255, {"B.OBJ/"}},
        ToolCase{"MakesDirectoryForExecutable", {"WLINK dir"}, false, kBadLink, 255,
                 {"A.EXE/", "B.OBJ", "STANDIN.LNK"}},
        ToolCase{"LinkerDeletesDirectiveFile", {"WLINK droplnk"}, false, kLinked, 0,
                 kLinkedFiles}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return info.param.label; });

// A directory where the object belongs stays, and the module fails.
TEST_F(BadInput, DirectoryWhereTheObjectBelongs) {
    WriteAt("A.C", kOld);
    WriteAt("B.C", kOld);
    MakeDir("B.OBJ");
    Project("a.c\nb.c\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kBadCompile));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"A.C", "A.OBJ", "B.C", "B.OBJ/", "STANDIN.LOG", "ZORBEX.ZBX"});
}

// A compiler that deletes the open directive file: on POSIX the program
// writes on into the deleted file and the linker finds none; Windows will
// not delete a file that is open.
TEST_F(BadInput, CompilerDeletesDirectiveFile) {
    WriteAt("A.C", kOld);
    Control({"WCC386 droplnk"});
    Project("a.c\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(WindowsBuild() ? Done("A.EXE") : kBadLink));
    EXPECT_EQ(run.code, WindowsBuild() ? 0 : 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// A compiler that rewrites the directive file: the program writes its own
// text over it from the start at the end, so a longer text of the tool
// leaves its tail behind.
TEST_F(BadInput, CompilerRewritesDirectiveFile) {
    WriteAt("A.C", kOld);
    std::string tool_text = "; " + std::string(60, 't');
    Control({"WCC386 lnk " + tool_text});
    Project("a.c\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("A.EXE")));
    EXPECT_EQ(run.code, 0);
    std::string own = DirectiveText({"file A.OBJ", "name A.EXE", "system NT"});
    EXPECT_EQ(Read("STANDIN.LNK"), own + (tool_text + "\n").substr(own.size()));
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// A file-size limit makes the directive file's writes fail, at the end or on
// the way; the object made before stays and nothing after it is built.
TEST_F(BadInput, FileSizeLimitOnTheDirectiveFile) {
    if (WindowsBuild()) GTEST_SKIP() << kNoSignalsOnWindows;
    WriteAt("MAIN.C", kOld);
    WriteAt("LATE.C", kOld);
    for (int objects : {400, 20000}) {
        SCOPED_TRACE(objects);
        std::string text = "*main.c\n";
        for (int i = 0; i < objects; ++i) {
            text += 'o';
            text += std::to_string(i);
            text += ".obj\n";
        }
        // Found at the close; or on the way, before the lines after it are read.
        Project(text + (objects < 1000 ? "" : "late.c\n.bogus\n"));
        Launch launch;
        launch.file_size_limit = 4096;
        RunResult run = RunWith(launch);
        EXPECT_EQ(run.out, Out("Error: can't write temporary file ~ZORBEX~.LNK\n"));
        EXPECT_EQ(run.code, 255);
        ExpectFiles({"LATE.C", "MAIN.C", "MAIN.OBJ", "STANDIN.LOG", "ZORBEX.ZBX"});
        EXPECT_EQ(LogLines(), Lines{"WCC386 /bt=NT /d__NT__ MAIN.C"});
        std::remove((dir_ + "/STANDIN.LOG").c_str());
    }
}

class Output : public E2e {};

// Standard output a pipe that nobody reads any more (the reader has gone,
// as with "zorbex | head -1"): the run must still end by its own exit, with
// the directive file deleted.
TEST_F(Output, StandardOutputClosed) {
    if (WindowsBuild()) GTEST_SKIP() << kNoSignalsOnWindows;
    WriteAt("MAIN.C", kOld);
    Project("main.c\n");
    Launch launch;
    launch.output_closed = true;
    RunResult run = RunWith(launch);
    EXPECT_TRUE(run.code == 0 || run.code == 255) << "exit code " << run.code;
    EXPECT_FALSE(Exists(kDirectiveFile));
}

}  // namespace
}  // namespace zorbex_e2e
