// What only the Windows build has: its own split of the command line, file
// attributes, the command interpreter, CR LF text, device names and case,
// and a double-byte code page. These cases run against the Windows build
// (under Wine here) and skip against any other.
#include <cstdlib>
#include <filesystem>

#include "harness.h"

namespace zorbex_e2e {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

class WindowsCase : public E2e {
protected:
    void SetUp() override {
        if (!WindowsBuild()) GTEST_SKIP() << "cases of the Windows build";
        E2e::SetUp();
    }

    // Starts the program with exactly this command line, through a launcher
    // that first sets (-s NAME=VALUE) or removes (-u NAME) variables of its
    // environment.
    RunResult Launch(const std::string& line, const std::vector<std::string>& options = {}) {
        Write("LINE.TXT", line);
        std::vector<std::string> args = options;
        args.push_back(WindowsName(ProgramPath()));
        args.push_back("LINE.TXT");
        RunResult run = RunWindowsProgram("launcher.exe", args);
        EXPECT_EQ(run.err, "");
        return run;
    }

    // Gives a file or directory of the test directory these attributes;
    // returns the attributes the system then reports.
    unsigned SetAttributes(const std::string& name, const std::string& letters) {
        RunResult run = RunWindowsProgram("attributes.exe", {letters, name});
        EXPECT_EQ(run.code, 0) << "cannot set the attributes of " << name;
        return static_cast<unsigned>(std::strtoul(run.out.c_str(), nullptr, 16));
    }
};

// ---- The command line, split by the program itself --------------------------

// What the program makes of a command line: the usage text for two or more
// arguments, or the name it could not read for one or none.
enum NameKind { kUsageText, kAsIs, kInTestDir, kAfterTestDir };

struct SplitCase {
    const char* label;
    std::string line;
    NameKind kind;
    const char* name;  // what follows the test directory's name, or all of it
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.label; }

class WindowsCommandLine : public WindowsCase,
                           public ::testing::WithParamInterface<SplitCase> {};

TEST_P(WindowsCommandLine, IsSplitByTheConsoleRules) {
    const SplitCase& c = GetParam();
    RunResult run = Launch(c.line);
    std::string name = c.kind == kInTestDir      ? AbsoluteName(c.name)
                       : c.kind == kAfterTestDir ? AbsoluteName("") + c.name
                                                 : c.name;
    EXPECT_EQ(run.out, Out(c.kind == kUsageText ? kUsage : "Error: can't read " + name + "\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// The rows marked "C runtime" are split differently by the C runtime's
// splitter, which halves runs of backslashes before a quote and lets a
// quote close a stretch in the middle of an argument. The system's absolute
// form folds a run of backslashes into one, so the number of arguments is
// what shows that a run was kept.
INSTANTIATE_TEST_SUITE_P(
    Lines, WindowsCommandLine,
    ::testing::Values(
        SplitCase{"NoArgument", "zorbex.exe", kAsIs, "ZORBEX.ZBX"},
        SplitCase{"OnlyBlanksAfterName", "zorbex.exe \t ", kAsIs, "ZORBEX.ZBX"},
        SplitCase{"OneArgument", "zorbex.exe proj", kInTestDir, "PROJ.ZBX"},
        SplitCase{"QuotedBlanks", "zorbex.exe \"my project\"", kInTestDir, "MY PROJECT.ZBX"},
        SplitCase{"UnquotedBlanks", "zorbex.exe my project", kUsageText, ""},
        SplitCase{"TabSeparates", "zorbex.exe my\tproject", kUsageText, ""},
        SplitCase{"QuotedStretchInside", "zorbex.exe my\" \"project", kInTestDir,
                  "MY PROJECT.ZBX"},
        SplitCase{"EmptyArgument", "zorbex.exe \"\"", kAfterTestDir, ".ZBX"},
        SplitCase{"EmptyArgumentCounts", "zorbex.exe \"\" proj", kUsageText, ""},
        // C runtime: one argument, myproject.
        SplitCase{"ClosingQuoteEndsArgument", "zorbex.exe \"my\"project", kUsageText, ""},
        SplitCase{"BackslashQuote", "zorbex.exe a\\\"b", kInTestDir, "A\"B.ZBX"},
        SplitCase{"BackslashQuoteInQuotes", "zorbex.exe \"a\\\" b\"", kInTestDir, "A\" B.ZBX"},
        // C runtime: a\b, the quote opening a stretch.
        SplitCase{"TwoBackslashesQuote", "zorbex.exe a\\\\\"b", kInTestDir, "A\\\"B.ZBX"},
        // C runtime: two arguments, a\\ and b.
        SplitCase{"RunOfBackslashesInQuotes", "zorbex.exe \"a\\\\\\\\\" b\"", kInTestDir,
                  "A\\\" B.ZBX"},
        // C runtime: one argument, a\\b c.
        SplitCase{"RunOfBackslashesBeforeQuote", "zorbex.exe a\\\\\\\\\"b c\"", kUsageText, ""},
        SplitCase{"QuotedProgramName", "\"my zorbex.exe\" proj", kInTestDir, "PROJ.ZBX"},
        SplitCase{"QuotedProgramNameEndsAtQuote", "\"zorbex\"proj", kInTestDir, "PROJ.ZBX"},
        SplitCase{"ProgramNameEndsAtWhiteSpace", "zor\"bex proj", kInTestDir, "PROJ.ZBX"},
        SplitCase{"WhiteSpaceAfterProgramName", "zorbex.exe\r\n\v\f proj", kInTestDir,
                  "PROJ.ZBX"}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.label; });

// ---- File attributes ---------------------------------------------------------

// A source is searched for with the filter of a normal search: files are
// found whatever their attributes; a directory only when it carries an
// attribute besides "directory".
struct AttributeCase {
    const char* label;
    bool directory;       // MAIN.C is a directory rather than a file
    const char* letters;  // attributes given to MAIN.C
    bool found;
};

void PrintTo(const AttributeCase& c, std::ostream* os) { *os << c.label; }

class WindowsAttributes : public WindowsCase,
                          public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(WindowsAttributes, DecideWhetherASourceIsFound) {
    const AttributeCase& c = GetParam();
    Project("main.c\n");
    if (c.directory) {
        MakeDir("MAIN.C");
    } else {
        WriteAt("MAIN.C", kOld);
    }
    SetAttributes("MAIN.C", c.letters);
    RunResult run = Run();
    if (c.found) {
        EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
        EXPECT_EQ(run.code, 0);
        EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
    } else {
        EXPECT_EQ(run.out, Out("Error: MAIN.C not found\n"));
        EXPECT_EQ(run.code, 255);
        EXPECT_FALSE(Exists("STANDIN.LOG"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, WindowsAttributes,
    ::testing::Values(AttributeCase{"PlainFile", false, "-", true},
                      AttributeCase{"HiddenFile", false, "h", true},
                      AttributeCase{"SystemFile", false, "s", true},
                      AttributeCase{"ReadOnlyFile", false, "r", true},
                      AttributeCase{"HiddenSystemReadOnlyFile", false, "rhs", true},
                      AttributeCase{"PlainDirectory", true, "-", false},
                      AttributeCase{"HiddenDirectory", true, "h", true},
                      AttributeCase{"SystemDirectory", true, "s", true}),
    [](const ::testing::TestParamInfo<AttributeCase>& info) { return info.param.label; });

// Windows keeps the read-only and archive attributes on a directory as well;
// where the system here does, such a directory is found like a hidden one.
TEST_F(WindowsCase, ReadOnlyOrArchiveDirectoryIsFound) {
    MakeDir("MAIN.C");
    MakeDir("MAIN.CPP");
    const unsigned kDirectoryOnly = 0x10;
    if (SetAttributes("MAIN.C", "r") == kDirectoryOnly ||
        SetAttributes("MAIN.CPP", "a") == kDirectoryOnly) {
        GTEST_SKIP() << "this system keeps no read-only or archive attribute on a directory";
    }
    Project("main.c\nmain.cpp\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
}

// ---- The command interpreter -------------------------------------------------

// The interpreter named by ComSpec (the name in any case) gets its own path,
// " /c " and the command, with no quotes added, even around a blank.
struct InterpreterCase {
    const char* label;
    const char* variable;
    const char* directory;  // where the interpreter is copied, or "" for none
};

void PrintTo(const InterpreterCase& c, std::ostream* os) { *os << c.label; }

class WindowsInterpreter : public WindowsCase,
                           public ::testing::WithParamInterface<InterpreterCase> {};

TEST_P(WindowsInterpreter, GetsItsPathSlashCAndTheCommand) {
    const InterpreterCase& c = GetParam();
    std::string interpreter = WindowsProgramPath("interpreter.exe");
    if (*c.directory != '\0') {
        MakeDir(c.directory);
        std::filesystem::copy_file(interpreter, dir_ + "/" + c.directory + "/interpreter.exe");
        interpreter = dir_ + "/" + c.directory + "/interpreter.exe";
    }
    std::string path = WindowsName(interpreter);
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    RunResult run = Launch("zorbex.exe", {"-s", c.variable + "="s + path});
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    std::string expected =
        path + " /c WCC386 /bt=NT /d__NT__ MAIN.C\n" + path + " /c WLINK @~ZORBEX~.LNK\n";
    // Windows hands the line over as it is. Wine puts quotes around a program
    // name with a blank that it had to find by trying; then only its quotes
    // may be there.
    std::string quoted = "\"" + path + "\"";
    std::string wine_quoted =
        quoted + " /c WCC386 /bt=NT /d__NT__ MAIN.C\n" + quoted + " /c WLINK @~ZORBEX~.LNK\n";
    std::string log = Read("INTERPRETER.LOG");
    if (path.find(' ') != std::string::npos && log == wine_quoted) log = expected;
    EXPECT_EQ(log, expected);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
}

INSTANTIATE_TEST_SUITE_P(
    ComSpec, WindowsInterpreter,
    ::testing::Values(InterpreterCase{"AsWritten", "ComSpec", ""},
                      InterpreterCase{"UpperCaseName", "COMSPEC", ""},
                      InterpreterCase{"LowerCaseName", "comspec", ""},
                      InterpreterCase{"PathWithBlank", "ComSpec", "my shell"}),
    [](const ::testing::TestParamInfo<InterpreterCase>& info) { return info.param.label; });

// Without ComSpec the system's own CMD.EXE runs the tools.
TEST_F(WindowsCase, WithoutComSpecTheSystemCmdRuns) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    RunResult run = Launch("zorbex.exe", {"-u", "ComSpec"});
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
}

// Without ComSpec the name is CMD.EXE, found as any program started by name
// is: the current directory comes before the system's directory.
TEST_F(WindowsCase, WithoutComSpecCmdExeIsSearchedByName) {
    std::filesystem::copy_file(WindowsProgramPath("interpreter.exe"), dir_ + "/CMD.EXE");
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    RunResult run = Launch("zorbex.exe", {"-u", "ComSpec"});
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(Read("INTERPRETER.LOG"),
              "CMD.EXE /c WCC386 /bt=NT /d__NT__ MAIN.C\nCMD.EXE /c WLINK @~ZORBEX~.LNK\n");
}

// A ComSpec naming nothing that can run: no tool runs, and the missing
// object says so.
TEST_F(WindowsCase, ComSpecThatCannotStart) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    RunResult run = Launch("zorbex.exe", {"-s", "ComSpec=" + WindowsName(dir_) + "\\NONE.EXE"});
    EXPECT_EQ(run.out, Out(kBadCompile));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists("STANDIN.LOG"));
}

// ---- Text: CR LF on the way out, the text-mode rules on the way in ----------

TEST_F(WindowsCase, OutputAndDirectiveFileHaveCrLf) {
    Project("a.obj\n");
    RunResult run = Run();
    EXPECT_EQ(run.out,
              "ZORBEX v1.02 - by Drasqel\r\n\r\nNo modules need recompiling.\r\n\r\n"
              "Relinking...\r\n\r\nDone. Created A.EXE (4321 bytes)\r\n");
    EXPECT_EQ(Read("STANDIN.LNK"), "file A.OBJ\r\nname A.EXE\r\nsystem NT\r\n");
}

TEST_F(WindowsCase, ProjectWithCrLfLoneCrAndCtrlZ) {
    Project(".directive op\rtion x\r\na.obj\r\r\nb.o\rbj\x1a" "c.obj\r\nd.obj\r\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("A.EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"),
              "option x\r\nfile A.OBJ\r\nfile B.OBJ\r\nname A.EXE\r\nsystem NT\r\n");
}

// ---- Device names and case ----------------------------------------------------

// "con" is not made absolute, and CON.ZBX is the console, whatever the disk
// holds under that name. Run without a console, as here, the console cannot
// be opened. (With one, the project would be read from the keyboard.)
TEST_F(WindowsCase, ConIsTheConsoleNotAFile) {
    Write("CON.ZBX", ".nolink\n");
    RunResult run = Run({"con"});
    EXPECT_EQ(run.out, Out("Error: can't read CON.ZBX\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// The file system ignores case: main.c and main.obj on disk are MAIN.C and
// MAIN.OBJ, the old object is replaced, and a directive file in lower case
// is the program's own, overwritten and deleted.
TEST_F(WindowsCase, FileSystemIgnoresCase) {
    Project("main.c\n");
    WriteAt("main.c", kNew);
    WriteAt("main.obj", kOld);
    Write("~zorbex~.lnk", "old\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
    ExpectFiles({"MAIN.EXE", "MAIN.OBJ", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX", "main.c"});
}

// ---- A double-byte code page -----------------------------------------------------

// With the Japanese OEM code page (932) the byte after a lead byte is part of
// its character even when it is "\": 0x95 0x5C is one character, so a module
// of that name names the executable after all of it.
TEST_F(WindowsCase, SecondByteBackslashIsNotASeparator) {
    if (!std::filesystem::exists("/usr/share/i18n/locales/ja_JP")) {
        GTEST_SKIP() << "needs the Japanese locale's source (Debian package locales)";
    }
    // Wine takes its code page and the file names' encoding from the locale,
    // which must exist for the C library.
    std::string locales = dir_ + "/locales";
    MakeDir("locales");
    std::string make = "localedef -i ja_JP -f UTF-8 '" + locales + "/ja_JP.UTF-8' >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    SetEnv("LOCPATH", locales);
    SetEnv("LC_ALL", "ja_JP.UTF-8");
    Project("\x95\x5C.obj\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("\x95\x5C.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Read("STANDIN.LNK"), "file \x95\x5C.OBJ\r\nname \x95\x5C.EXE\r\nsystem NT\r\n");
    EXPECT_TRUE(Exists("\xE8\xA1\xA8.EXE"));  // the character in UTF-8
}

// With a single-byte code page the same name is a directory "\x95\" and an
// empty base name.
TEST_F(WindowsCase, SingleByteCodePageSplitsAtEveryBackslash) {
    SetEnv("LC_ALL", "C.UTF-8");
    Project("\x95\x5C.obj\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done(".EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"), "file \x95\x5C.OBJ\r\nname .EXE\r\nsystem NT\r\n");
}

}  // namespace
}  // namespace zorbex_e2e
