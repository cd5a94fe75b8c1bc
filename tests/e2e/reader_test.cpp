// Reading the project file: lines, comments, directives and their effects.
#include "harness.h"

namespace zorbex_e2e {
namespace {

using namespace std::string_literals;

class Directive : public E2e {};

// Projects of listed objects only: nothing is searched or compiled, and the
// missing executable makes the program link, so the directive file shows
// which lines were read and how.
struct LineCase {
    const char* label;
    std::string project;
    std::string exe;
    std::vector<std::string> directives;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.label; }

class Reader : public E2e, public ::testing::WithParamInterface<LineCase> {};

TEST_P(Reader, ReadsTheLinesAsWritten) {
    const LineCase& c = GetParam();
    Project(c.project);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done(c.exe)));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Read("STANDIN.LNK"), DirectiveText(c.directives));
    EXPECT_EQ(LogLines(), std::vector<std::string>{"WLINK @~ZORBEX~.LNK"});
    EXPECT_FALSE(Exists(kDirectiveFile));
}

const std::string k244(244, 'D');
const std::string k41(41, 'T');

INSTANTIATE_TEST_SUITE_P(
    Lines, Reader,
    ::testing::Values(
        LineCase{"LfLineEnds", ".directive option x\na.obj\nb.lib\n", "A.EXE",
                 {"option x", "file A.OBJ", "library B.LIB", "name A.EXE", "system NT"}},
        LineCase{"CrLfLineEnds", ".directive option x\r\na.obj\r\nb.lib\r\n", "A.EXE",
                 {"option x", "file A.OBJ", "library B.LIB", "name A.EXE", "system NT"}},
        LineCase{"CarriageReturnInsideLine", "a.o\rbj\r\n", "A.EXE",
                 {"file A.OBJ", "name A.EXE", "system NT"}},
        LineCase{"LastLineWithoutNewline", "a.obj\nb.obj", "A.EXE",
                 {"file A.OBJ", "file B.OBJ", "name A.EXE", "system NT"}},
        LineCase{"LastDirectiveWithoutNewline", "a.obj\n.directive last", "A.EXE",
                 {"file A.OBJ", "last", "name A.EXE", "system NT"}},
        LineCase{"TextBeforeCtrlZ", "a.obj\nb.obj\x1a" "c.obj\nd.obj\n", "A.EXE",
                 {"file A.OBJ", "file B.OBJ", "name A.EXE", "system NT"}},
        LineCase{"CtrlZStartingLine", "a.obj\n\x1a" "b.obj\n", "A.EXE",
                 {"file A.OBJ", "name A.EXE", "system NT"}},
        LineCase{"NulEndsLine", "a.obj\0c.obj\nb.obj\n"s, "A.EXE",
                 {"file A.OBJ", "file B.OBJ", "name A.EXE", "system NT"}},
        LineCase{"CommentsAndBlankLines",
                 "; comment\n\n \t \n\t; indented\n  a.obj \t\v\f\n;b.obj\n", "A.EXE",
                 {"file A.OBJ", "name A.EXE", "system NT"}},
        LineCase{"LongLineInPieces", ".directive " + k244 + k41 + ".obj\n",
                 k41 + ".EXE",
                 {k244, "file " + k41 + ".OBJ", "name " + k41 + ".EXE", "system NT"}},
        LineCase{"LineOf255", ".directive " + k244 + "\na.obj\n", "A.EXE",
                 {k244, "file A.OBJ", "name A.EXE", "system NT"}},
        LineCase{"DotWithoutLetterIsModule", "./a.obj\n", "A.EXE",
                 {"file ./A.OBJ", "name A.EXE", "system NT"}},
        LineCase{"DirectiveValueVerbatim", ".directive  Two  Blanks\na.obj\n", "A.EXE",
                 {" Two  Blanks", "file A.OBJ", "name A.EXE", "system NT"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.label; });

// The first bad directive ends the run; the module line after it is not read.
struct BadDirectiveCase {
    const char* label;
    const char* line;
    const char* message;
};

void PrintTo(const BadDirectiveCase& c, std::ostream* os) { *os << c.label; }

class DirectiveError : public E2e,
                       public ::testing::WithParamInterface<BadDirectiveCase> {};

TEST_P(DirectiveError, EndsTheRun) {
    const BadDirectiveCase& c = GetParam();
    Project("a.obj\n"s + c.line + "\nmissing.c\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(c.message));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"ZORBEX.ZBX"});
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DirectiveError,
    ::testing::Values(
        BadDirectiveCase{"TabAfterKeyword", ".target\tnt", "Invalid directive: .target\tnt\n"},
        BadDirectiveCase{"TargetAlone", ".target", "Invalid directive: .target\n"},
        BadDirectiveCase{"EmptyOptions", ".wccopt  \t", "Invalid directive: .wccopt\n"},
        BadDirectiveCase{"LongerKeyword", ".wasmoptions -zq",
                         "Invalid directive: .wasmoptions -zq\n"},
        BadDirectiveCase{"NolinkWithText", ".nolink x", "Invalid directive: .nolink x\n"},
        BadDirectiveCase{"Unknown", "  .Bogus thing \t", "Invalid directive: .Bogus thing\n"},
        BadDirectiveCase{"ExenameAlone", ".EXENAME", "Invalid directive: .EXENAME\n"},
        BadDirectiveCase{"DirectiveAlone", ".directive", "Invalid directive: .directive\n"},
        BadDirectiveCase{"TwoBlanksBeforeTarget", ".target  NT",
                         "Error: invalid target system:  NT\n"},
        BadDirectiveCase{"TargetDos4gw", ".target DOS4GW",
                         "Error: invalid target system: DOS4GW\n"},
        BadDirectiveCase{"TargetWin", ".target win", "Error: invalid target system: win\n"},
        BadDirectiveCase{"TargetOs2Slash", ".target OS/2",
                         "Error: invalid target system: OS/2\n"},
        BadDirectiveCase{"TargetWithMore", ".target nt x",
                         "Error: invalid target system: nt x\n"}),
    [](const ::testing::TestParamInfo<BadDirectiveCase>& info) {
        return info.param.label;
    });

struct ExeNameCase {
    const char* label;
    const char* line;
    const char* directory;  // made before the run, when not empty
    const char* name;       // on the "name" line and in the report
    const char* made;       // where the linker puts it
};

void PrintTo(const ExeNameCase& c, std::ostream* os) { *os << c.label; }

class ExeName : public E2e, public ::testing::WithParamInterface<ExeNameCase> {};

TEST_P(ExeName, NamesTheExecutable) {
    const ExeNameCase& c = GetParam();
    if (*c.directory != '\0') MakeDir(c.directory);
    Project(c.line + "\na.obj\n"s);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done(c.name)));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file A.OBJ", "name "s + c.name, "system NT"}));
    std::string made = c.made;
    // Windows drops the dots that end a file name.
    while (WindowsBuild() && made.back() == '.') made.pop_back();
    EXPECT_TRUE(Exists(made));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ExeName,
    ::testing::Values(
        ExeNameCase{"GetsExtension", ".exename demo", "", "DEMO.EXE", "DEMO.EXE"},
        ExeNameCase{"KeepsExtension", ".ExeName Demo.Bin", "", "DEMO.BIN", "DEMO.BIN"},
        ExeNameCase{"EndsInDot", ".exename demo.", "", "DEMO.", "DEMO."},
        ExeNameCase{"InDirectory", ".exename bin\\demo", "BIN", "BIN\\DEMO.EXE",
                    "BIN/DEMO.EXE"},
        ExeNameCase{"MixedSeparators", ".exename out/bin\\prog", "OUT/BIN",
                    "OUT/BIN/PROG.EXE", "OUT/BIN/PROG.EXE"}),
    [](const ::testing::TestParamInfo<ExeNameCase>& info) { return info.param.label; });

TEST_F(Directive, ExenameAfterFirstModuleReplacesItsName) {
    Project("a.obj\n.exename first\n.exename final\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("FINAL.EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file A.OBJ", "name FINAL.EXE", "system NT"}));
}

TEST_F(Directive, OptionsBelongToTheirToolsAndLaterOnesReplace) {
    Project(".wccopt -ox -d1\n.wasmopt -zq\n.wccopt -os\nmain.c\nstart.asm\nutil.cpp\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("START.ASM", kOld);
    WriteAt("UTIL.CPP", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "WCC386 -os /bt=NT /d__NT__ MAIN.C",
                              "WASM -zq /bt=NT /d__NT__ START.ASM",
                              "WPP386 -os /bt=NT /d__NT__ UTIL.CPP",
                              "WLINK @~ZORBEX~.LNK"}));
}

TEST_F(Directive, OptionsAreCutAt127Characters) {
    std::string options(127, 'o');
    Project(".wccopt " + options + "XYZ\n.wasmopt " + options + "XYZ\nmain.c\nstart.asm\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("START.ASM", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "WCC386 " + options + " /bt=NT /d__NT__ MAIN.C",
                              "WASM " + options + " /bt=NT /d__NT__ START.ASM",
                              "WLINK @~ZORBEX~.LNK"}));
}

TEST_F(Directive, TargetChangesOnlyLaterModules) {
    Project("a.c\n.target dos\nb.c\nc.asm\n");
    WriteAt("A.C", kOld);
    WriteAt("B.C", kOld);
    WriteAt("C.ASM", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("A.EXE")));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"WCC386 /bt=NT /d__NT__ A.C",
                                                    "WCC /bt=DOS B.C",
                                                    "WASM /bt=DOS C.ASM",
                                                    "WLINK @~ZORBEX~.LNK"}));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file A.OBJ", "file B.OBJ", "file C.OBJ", "name A.EXE",
                             "system DOS"}));
}

TEST_F(Directive, LinesReachTheDirectiveFileInProjectOrder) {
    Project("main.c\nutil.asm\ngraph.lib\n.directive option stack=8k\nx.obj\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("UTIL.ASM", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file MAIN.OBJ", "file UTIL.OBJ", "library GRAPH.LIB",
                             "option stack=8k", "file X.OBJ", "name MAIN.EXE",
                             "system NT"}));
}

}  // namespace
}  // namespace zorbex_e2e
