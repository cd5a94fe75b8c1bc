// Module lines: kinds, tools per target, object names, failures.
#include "harness.h"

namespace zorbex_e2e {
namespace {

using namespace std::string_literals;

class Module : public E2e {};

struct TargetCase {
    const char* line;  // the .target line, keyword and name in any case
    const char* name;
    const char* switches;
    const char* c_compiler;
    const char* cpp_compiler;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.line; }

class ModuleTarget : public E2e, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(ModuleTarget, EachKindRunsItsToolWithTheTargetSwitches) {
    const TargetCase& c = GetParam();
    Project(c.line + "\n.wccopt -ox\n.wasmopt -zq\na.c\nb.cpp\nc.cc\nd.Cxx\ne.asm\n"s);
    for (const char* name : {"A.C", "B.CPP", "C.CC", "D.CXX", "E.ASM"}) WriteAt(name, kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("A.EXE")));
    EXPECT_EQ(run.code, 0);
    std::string sw = c.switches;
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              c.c_compiler + " -ox "s + sw + " A.C",
                              c.cpp_compiler + " -ox "s + sw + " B.CPP",
                              c.cpp_compiler + " -ox "s + sw + " C.CC",
                              c.cpp_compiler + " -ox "s + sw + " D.CXX",
                              "WASM -zq " + sw + " E.ASM",
                              "WLINK @~ZORBEX~.LNK"}));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file A.OBJ", "file B.OBJ", "file C.OBJ", "file D.OBJ",
                             "file E.OBJ", "name A.EXE", "system "s + c.name}));
    ExpectFiles({"A.C", "A.EXE", "A.OBJ", "B.CPP", "B.OBJ", "C.CC", "C.OBJ", "D.CXX",
                 "D.OBJ", "E.ASM", "E.OBJ", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX"});
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ModuleTarget,
    ::testing::Values(
        TargetCase{".target dos", "DOS", "/bt=DOS", "WCC", "WPP"},
        TargetCase{".TARGET Dos4G", "DOS4G", "/bt=DOS4G /d__DOS__", "WCC386", "WPP386"},
        TargetCase{".Target os2", "OS2", "/bt=OS2", "WCC", "WPP"},
        TargetCase{".target OS2v2", "OS2V2", "/bt=OS2V2 /d__OS2__", "WCC386", "WPP386"},
        TargetCase{".tArGeT nT", "NT", "/bt=NT /d__NT__", "WCC386", "WPP386"},
        TargetCase{"; no target: NT", "NT", "/bt=NT /d__NT__", "WCC386", "WPP386"}),
    [](const ::testing::TestParamInfo<TargetCase>& info) {
        return std::to_string(info.index) + "_" + info.param.name;
    });

// Failures of one module line. The module before it stays built.
struct BadModuleCase {
    const char* label;
    const char* line;
    const char* message;
    const char* directory;  // made before the run, when not empty
};

void PrintTo(const BadModuleCase& c, std::ostream* os) { *os << c.label; }

class ModuleError : public E2e, public ::testing::WithParamInterface<BadModuleCase> {};

TEST_P(ModuleError, EndsTheRunAfterEarlierModules) {
    const BadModuleCase& c = GetParam();
    if (*c.directory != '\0') MakeDir(c.directory);
    Project("first.c\n"s + c.line + "\nlast.c\n");
    WriteAt("FIRST.C", kOld);
    WriteAt("LAST.C", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(c.message));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"WCC386 /bt=NT /d__NT__ FIRST.C"});
    std::vector<std::string> files = {"FIRST.C", "FIRST.OBJ", "LAST.C", "STANDIN.LOG",
                                      "ZORBEX.ZBX"};
    if (*c.directory != '\0') files.push_back(c.directory + "/"s);
    ExpectFiles(files);
}

#define MUST_BE " (must be .C/.CC/.CPP/.CXX/.ASM/.OBJ/.LIB)\n"

INSTANTIATE_TEST_SUITE_P(
    Lines, ModuleError,
    ::testing::Values(
        BadModuleCase{"NoExtension", "main", "Invalid module: MAIN" MUST_BE, ""},
        BadModuleCase{"Header", "main.h", "Invalid module: MAIN.H" MUST_BE, ""},
        BadModuleCase{"TrailingComment", "main.c ; note",
                      "Invalid module: MAIN.C ; NOTE" MUST_BE, ""},
        BadModuleCase{"DotInDirectoryOnly", "src.d/main",
                      "Invalid module: SRC.D/MAIN" MUST_BE, ""},
        BadModuleCase{"ExtensionOnly", ".1abc", "Invalid module: .1ABC" MUST_BE, ""},
        BadModuleCase{"SourceMissing", "main.c", "Error: MAIN.C not found\n", ""},
        BadModuleCase{"ForcedSourceMissing", "*main.asm", "Error: MAIN.ASM not found\n", ""},
        BadModuleCase{"BlankAfterStar", "* last.c", "Error:  LAST.C not found\n", ""},
        BadModuleCase{"BackslashKeptInMessage", "src\\util.cpp",
                      "Error: SRC\\UTIL.CPP not found\n", ""},
        BadModuleCase{"SourceIsDirectory", "main.c", "Error: MAIN.C not found\n",
                      "MAIN.C"}),
    [](const ::testing::TestParamInfo<BadModuleCase>& info) { return info.param.label; });

TEST_F(Module, UpToDateModuleIsNotBuiltButForcedOneIs) {
    Project("main.c\n*util.c\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("MAIN.OBJ", kNew);
    WriteAt("UTIL.C", kOld);
    WriteAt("UTIL.OBJ", kNew);
    WriteAt("MAIN.EXE", kNew);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"WCC386 /bt=NT /d__NT__ UTIL.C",
                                                    "WLINK @~ZORBEX~.LNK"}));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file MAIN.OBJ", "file UTIL.OBJ", "name MAIN.EXE", "system NT"}));
}

// Objects are made in the current directory, named after the source alone.
TEST_F(Module, SourceInSubdirectoryGivesObjectHere) {
    Project("src/util.c\n");
    WriteAt("src/util.c", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("UTIL.EXE")));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"WCC386 /bt=NT /d__NT__ SRC/UTIL.C",
                                                    "WLINK @~ZORBEX~.LNK"}));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"file UTIL.OBJ", "name UTIL.EXE", "system NT"}));
    ExpectFiles({"STANDIN.LNK", "STANDIN.LOG", "UTIL.EXE", "UTIL.OBJ", "ZORBEX.ZBX",
                 "src/"});
}

TEST_F(Module, SourceInParentDirectory) {
    Write("work/ZORBEX.ZBX", "../common/util.c\n");
    WriteAt("common/util.c", kOld);
    RunResult run = Run({}, "work");
    EXPECT_EQ(run.out, Out(Done("UTIL.EXE")));
    EXPECT_EQ(LogLines("work"),
              (std::vector<std::string>{"WCC386 /bt=NT /d__NT__ ../COMMON/UTIL.C",
                                        "WLINK @~ZORBEX~.LNK"}));
    ExpectFiles({"STANDIN.LNK", "STANDIN.LOG", "UTIL.EXE", "UTIL.OBJ", "ZORBEX.ZBX"},
                "work");
}

// A backslash separates directories when the file is looked for.
TEST_F(Module, BackslashSeparatesWhenSearching) {
    Project("src\\util.c\n");
    WriteAt("src/util.c", kOld);
    WriteAt("UTIL.OBJ", kNew);
    WriteAt("UTIL.EXE", kNew);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo));
    EXPECT_EQ(run.code, 0);
    EXPECT_FALSE(Exists("STANDIN.LOG"));
}

TEST_F(Module, FirstModuleOfAnyKindNamesTheExecutable) {
    Project("graph.lib\nmain.c\n");
    WriteAt("MAIN.C", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("GRAPH.EXE")));
    EXPECT_EQ(Read("STANDIN.LNK"),
              DirectiveText({"library GRAPH.LIB", "file MAIN.OBJ", "name GRAPH.EXE",
                             "system NT"}));
}

// Listed objects and libraries are neither looked for nor a reason to link.
TEST_F(Module, ListedObjectsAndLibrariesAreNotSearched) {
    Project("main.c\nextra.obj\nmissing.lib\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("MAIN.OBJ", kOld);
    WriteAt("MAIN.EXE", kOld);
    WriteAt("EXTRA.OBJ", kNew);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"EXTRA.OBJ", "MAIN.C", "MAIN.EXE", "MAIN.OBJ", "ZORBEX.ZBX"});
}

// The absolute form of a module name may have 259 characters, not 260.
TEST_F(Module, NameLimitIs259Characters) {
    size_t prefix = AbsoluteName("").size() + 1;
    if (prefix + 20 > 259) GTEST_SKIP() << "test directory name too long";
    std::string base(259 - prefix - 2, 'M');
    Project(base + ".c\n");
    WriteAt(base + ".C", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done(base + ".EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(Exists(base + ".OBJ"));

    std::string longer = base + "M";
    Project(longer + ".c\n");
    WriteAt(longer + ".C", kOld);
    run = Run();
    EXPECT_EQ(run.out, Out("Error: name too long: " + longer + ".C\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(longer + ".OBJ"));
    EXPECT_FALSE(Exists(kDirectiveFile));
}

}  // namespace
}  // namespace zorbex_e2e
