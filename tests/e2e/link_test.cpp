// The end of the project: deciding to link, linking, and the tools' results.
#include "harness.h"

namespace zorbex_e2e {
namespace {

using Lines = std::vector<std::string>;

class Link : public E2e {};
class Tool : public E2e {};

TEST_F(Link, NothingToDo) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("MAIN.OBJ", kOld);
    WriteAt("MAIN.EXE", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"MAIN.C", "MAIN.EXE", "MAIN.OBJ", "ZORBEX.ZBX"});
}

TEST_F(Link, RelinksWhenExecutableIsMissing) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("MAIN.OBJ", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), Lines{"WLINK @~ZORBEX~.LNK"});
    EXPECT_EQ(Read("STANDIN.LNK"), DirectiveText({"file MAIN.OBJ", "name MAIN.EXE", "system NT"}));
    ExpectFiles({"MAIN.C", "MAIN.EXE", "MAIN.OBJ", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX"});
}

TEST_F(Link, RebuiltModuleLinksAndReportsSize) {
    Project("main.c\n");
    WriteAt("MAIN.C", kNew);
    WriteAt("MAIN.OBJ", kOld);
    WriteAt("MAIN.EXE", kOld);
    Control({"WLINK size 70000"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE", 70000)));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
    EXPECT_EQ(Read("MAIN.EXE").size(), 70000u);
}

TEST_F(Link, EmptyExecutableIsReported) {
    Project("a.obj\n");
    Control({"WLINK size 0"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("A.EXE", 0)));
    EXPECT_EQ(run.code, 0);
}

TEST_F(Link, NolinkBuildsButDoesNotLink) {
    Project("main.c\n.nolink\nutil.c\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("UTIL.C", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C",
                                 "WCC386 /bt=NT /d__NT__ UTIL.C"}));
    ExpectFiles({"MAIN.C", "MAIN.OBJ", "STANDIN.LOG", "UTIL.C", "UTIL.OBJ", "ZORBEX.ZBX"});
}

TEST_F(Link, NolinkInAnyCaseWithMissingExecutable) {
    Project(".NoLink\nmain.c\n");
    WriteAt("MAIN.C", kOld);
    WriteAt("MAIN.OBJ", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"MAIN.C", "MAIN.OBJ", "ZORBEX.ZBX"});
}

TEST_F(Link, EmptyProjectLinksNothing) {
    Project("; nothing here\n\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + kBadLink));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(Read("STANDIN.LNK"), DirectiveText({"name ", "system NT"}));
    ExpectFiles({"STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX"});
}

// The old executable is deleted first, so a failed link leaves none.
TEST_F(Link, LinkerMakingNothingFails) {
    Project("main.c\n");
    WriteAt("MAIN.C", kNew);
    WriteAt("MAIN.OBJ", kOld);
    WriteAt("MAIN.EXE", kOld);
    Control({"WLINK noout"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kBadLink));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"MAIN.C", "MAIN.OBJ", "STANDIN.CTL", "STANDIN.LOG", "ZORBEX.ZBX"});
    EXPECT_EQ(Read("MAIN.OBJ"), "OBJECT MAIN.C\n");
}

// Only the output file counts, not the tool's exit status.
TEST_F(Tool, FailingToolsThatLeaveOutputSucceed) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    Control({"* fail"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"MAIN.C", "MAIN.EXE", "MAIN.OBJ", "STANDIN.CTL", "STANDIN.LNK",
                 "STANDIN.LOG", "ZORBEX.ZBX"});
}

// The failing module's old object is deleted before its tool runs; objects
// made before it stay; nothing after it is read or linked.
TEST_F(Tool, CompilerMakingNothingFails) {
    Project("a.c\nb.asm\nc.c\n");
    WriteAt("A.C", kNew);
    WriteAt("B.ASM", kNew);
    WriteAt("B.OBJ", kOld);
    WriteAt("A.EXE", kOld);
    Control({"WASM noout"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kBadCompile));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ A.C", "WASM /bt=NT /d__NT__ B.ASM"}));
    ExpectFiles({"A.C", "A.EXE", "A.OBJ", "B.ASM", "STANDIN.CTL", "STANDIN.LOG", "ZORBEX.ZBX"});
}

// What a tool prints stands after what the program wrote before running it.
TEST_F(Tool, OutputKeepsItsOrderThroughAPipe) {
    Project("main.c\n");
    WriteAt("MAIN.C", kNew);
    WriteAt("MAIN.OBJ", kOld);
    Control({"WCC386 print compiling MAIN.C", "WLINK print linking"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out("compiling MAIN.C\nlinking\n" + Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
}

TEST_F(Tool, LinkerOutputFollowsRelinking) {
    Project("main.obj\n");
    Control({"WLINK print linking"});
    RunResult run = Run();
    EXPECT_EQ(run.out,
              Out(kNothingToDo + std::string(kRelinking) + "linking\n" + Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
}

TEST_F(Tool, ToolOutputBeforeCompilerFailure) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    Control({"WCC386 print oops", "WCC386 noout"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out("oops\n" + std::string(kBadCompile)));
    EXPECT_EQ(run.code, 255);
}

}  // namespace
}  // namespace zorbex_e2e
