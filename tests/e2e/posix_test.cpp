// Names on a file system that tells case apart: the program upper-cases every
// name, and a name missing as written is matched without regard to case.
#include <unistd.h>

#include "harness.h"

namespace zorbex_e2e {
namespace {

using Lines = std::vector<std::string>;

class Posix : public E2e {};

TEST_F(Posix, LowerCaseSourceIsFoundAndCompiled) {
    Project("main.c\n");
    WriteAt("main.c", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
}

// The stale object under its lower-case name is deleted before the compile.
TEST_F(Posix, StaleLowerCaseObjectIsDeleted) {
    Project("main.c\n");
    WriteAt("main.c", kNew);
    WriteAt("main.obj", kOld);
    WriteAt("main.exe", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"MAIN.EXE", "MAIN.OBJ", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX",
                 "main.c"});
}

TEST_F(Posix, LowerCaseObjectAndExecutableAreUpToDate) {
    Project("main.c\n");
    WriteAt("main.c", kOld);
    WriteAt("main.obj", kNew);
    WriteAt("main.exe", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo));
    EXPECT_EQ(run.code, 0);
    EXPECT_FALSE(Exists("STANDIN.LOG"));
}

// A lower-case old executable is deleted before linking, too.
TEST_F(Posix, LowerCaseExecutableIsDeletedBeforeLinking) {
    Project("*main.c\n");
    WriteAt("main.c", kOld);
    WriteAt("main.exe", kOld);
    Control({"WLINK noout"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kBadLink));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"MAIN.OBJ", "STANDIN.CTL", "STANDIN.LOG", "ZORBEX.ZBX", "main.c"});
}

TEST_F(Posix, LowerCaseToolOutputIsFound) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    Control({"* lower"});
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"MAIN.C", "STANDIN.CTL", "STANDIN.LNK", "STANDIN.LOG", "ZORBEX.ZBX",
                 "main.exe", "main.obj"});
}

TEST_F(Posix, ProjectFileNamedByArgumentInLowerCase) {
    Write("proj.zbx", "main.c\n");
    WriteAt("main.c", kOld);
    RunResult run = Run({"proj"});
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(run.code, 0);
}

TEST_F(Posix, DefaultProjectFileInLowerCase) {
    Write("zorbex.zbx", ".nolink\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);
}

// Several names differing in case only: the first in byte order is taken.
TEST_F(Posix, FirstOfSeveralCaseVariants) {
    if (WindowsBuild()) GTEST_SKIP() << "Windows has no names that differ in case only";
    Project("main.c\n");
    WriteAt("Main.c", "2020-06-03 00:00:00");
    WriteAt("main.c", "2020-06-01 00:00:00");
    WriteAt("MAIN.OBJ", "2020-06-02 00:00:00");
    WriteAt("MAIN.EXE", kOld);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
    EXPECT_EQ(LogLines(), (Lines{"WCC386 /bt=NT /d__NT__ MAIN.C", "WLINK @~ZORBEX~.LNK"}));
}

// The directive file is made and deleted under exactly its own name.
TEST_F(Posix, DirectiveFileNameIsExact) {
    if (WindowsBuild()) {
        GTEST_SKIP() << "on Windows ~zorbex~.lnk is the directive file itself "
                        "(WindowsCase.FileSystemIgnoresCase)";
    }
    Project("main.obj\n");
    Write("~zorbex~.lnk", "keep\n");
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo + kRelinking + Done("MAIN.EXE")));
    EXPECT_EQ(Read("~zorbex~.lnk"), "keep\n");
    EXPECT_FALSE(Exists(kDirectiveFile));
}

// The stamp is that of the file a symbolic link leads to.
TEST_F(Posix, SymbolicLinkIsFollowed) {
    if (WindowsBuild()) GTEST_SKIP() << "POSIX links: Windows reports a link's own time";
    Project("main.c\n");
    WriteAt("real.c", kOld);
    ASSERT_EQ(symlink("real.c", (dir_ + "/MAIN.C").c_str()), 0);
    WriteAt("MAIN.OBJ", kNew);
    WriteAt("MAIN.EXE", kNew);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out(kNothingToDo));
    EXPECT_EQ(run.code, 0);
}

}  // namespace
}  // namespace zorbex_e2e
