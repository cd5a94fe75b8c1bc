// Interrupted runs: a running tool gets the interrupt too, the output it was
// making is deleted (a partial file newer than its source would pass as up to
// date), objects finished before stay, "~ZORBEX~.LNK" goes, and the run ends
// with "Interrupted." and exit code 255.
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "harness.h"

namespace zorbex_e2e {
namespace {

using Lines = std::vector<std::string>;

const std::string kInterrupted = "\nInterrupted.\n";

class Interrupt : public E2e {
protected:
    void SetUp() override {
        E2e::SetUp();
        if (WindowsBuild()) {
            GTEST_SKIP() << "POSIX signals; a Windows program run without a console "
                            "gets no Ctrl-C";
        }
    }
};

struct ToolCase {
    const char* label;
    int signo;
    bool group;    // sent to the program's process group, as a terminal does
    bool linking;  // the linker is interrupted, else the second compiler
};

void PrintTo(const ToolCase& c, std::ostream* os) { *os << c.label; }

class InterruptTool : public Interrupt, public ::testing::WithParamInterface<ToolCase> {};

// The stand-in writes half its output and sleeps 20 seconds; interrupted, it
// never writes the rest nor logs "finished".
TEST_P(InterruptTool, EndsTheToolAndDeletesItsOutput) {
    const ToolCase& c = GetParam();
    WriteAt("A.C", kOld);
    WriteAt("B.CPP", kOld);
    WriteAt("A.EXE", kOld);
    Control({c.linking ? "WLINK hang" : "WPP386 hang"});
    Project("a.c\nb.cpp\n");
    Launch launch;
    launch.own_group = c.group;
    auto begin = std::chrono::steady_clock::now();
    Started started = Start({}, launch);
    // The linker copies the directive file aside once the old executable is
    // gone; then it writes half the new one.
    if (c.linking) {
        EXPECT_TRUE(AwaitFile("STANDIN.LNK")) << "the linker did not start";
    }
    EXPECT_TRUE(AwaitFile(c.linking ? "A.EXE" : "B.OBJ")) << "the tool did not start";
    Signal(started, c.signo, c.group);
    RunResult run = Wait(&started);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - begin);
    EXPECT_EQ(run.out, Out(kInterrupted));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(run.err, "");
    EXPECT_LT(seconds.count(), 10) << "the program waited for the tool to finish";
    Lines log = {"WCC386 /bt=NT /d__NT__ A.C", "WPP386 /bt=NT /d__NT__ B.CPP"};
    if (c.linking) log.push_back("WLINK @~ZORBEX~.LNK");
    EXPECT_EQ(LogLines(), log);
    // The old executable goes only when the linker is about to run.
    Lines files = {"A.C", "A.OBJ", "B.CPP", "STANDIN.CTL", "STANDIN.LOG", "ZORBEX.ZBX"};
    if (c.linking) {
        files.push_back("B.OBJ");
        files.push_back("STANDIN.LNK");
    } else {
        files.push_back("A.EXE");
    }
    ExpectFiles(files);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptTool,
    ::testing::Values(ToolCase{"TermWhileCompiling", SIGTERM, false, false},
                      ToolCase{"TermWhileLinking", SIGTERM, false, true},
                      ToolCase{"HangupWhileCompiling", SIGHUP, false, false},
                      ToolCase{"HangupWhileLinking", SIGHUP, false, true},
                      ToolCase{"IntToTheProgramAlone", SIGINT, false, false},
                      ToolCase{"IntToItsGroupAsFromATerminal", SIGINT, true, false},
                      ToolCase{"IntWhileLinking", SIGINT, true, true}),
    [](const ::testing::TestParamInfo<ToolCase>& info) { return info.param.label; });

// No tool runs: the program waits to open a FIFO that nobody writes.
TEST_F(Interrupt, WhileOpeningTheProject) {
    MakeFifo("ZORBEX.ZBX");
    Started started = Start();
    EXPECT_TRUE(AwaitBlocked(started));
    Signal(started, SIGTERM);
    RunResult run = Wait(&started);
    EXPECT_EQ(run.out, Out(kInterrupted));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(run.err, "");
    ExpectFiles({"ZORBEX.ZBX"});
}

// No tool runs: the program waits for the next line of a FIFO whose writer
// has sent one module line. The object built stays. The writer stays until
// the program has ended, or for 5 seconds: at its end the read would return.
TEST_F(Interrupt, WhileReadingTheProject) {
    MakeFifo("ZORBEX.ZBX");
    WriteAt("A.C", kOld);
    Started started = Start();
    int fd = OpenFifoWriter("ZORBEX.ZBX");
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, "a.c\n", 4), 4);
    EXPECT_TRUE(AwaitFile("A.OBJ"));
    EXPECT_TRUE(AwaitBlocked(started));
    Signal(started, SIGHUP);
    EXPECT_TRUE(AwaitEnd(started, 5)) << "the interrupted read goes on";
    close(fd);
    RunResult run = Wait(&started);
    EXPECT_EQ(run.out, Out(kInterrupted));
    EXPECT_EQ(run.code, 255);
    EXPECT_EQ(run.err, "");
    ExpectFiles({"A.C", "A.OBJ", "STANDIN.LOG", "ZORBEX.ZBX"});
}

// SIGINT ignored when the program starts (a background job of a shell
// without job control) stays ignored.
TEST_F(Interrupt, IgnoredInterruptStaysIgnored) {
    MakeFifo("ZORBEX.ZBX");
    Launch launch;
    launch.ignore_interrupt = true;
    Started started = Start({}, launch);
    EXPECT_TRUE(AwaitBlocked(started));
    Signal(started, SIGINT);
    int fd = OpenFifoWriter("ZORBEX.ZBX");
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, ".nolink\n", 8), 8);
    close(fd);
    RunResult run = Wait(&started);
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace zorbex_e2e
