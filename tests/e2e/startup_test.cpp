// Start-up: the command line, the project file's name, opening the project
// file and creating the directive file.
#include <unistd.h>

#include "harness.h"

namespace zorbex_e2e {
namespace {

class Startup : public E2e {};

struct UsageCase {
    const char* label;
    std::vector<std::string> args;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.label; }

class StartupUsage : public E2e, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(StartupUsage, PrintsUsageAndTouchesNothing) {
    Project("main.c\n");
    RunResult run = Run(GetParam().args);
    EXPECT_EQ(run.out, Out(kUsage));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"ZORBEX.ZBX"});
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StartupUsage,
    ::testing::Values(UsageCase{"TwoArguments", {"zorbex", "zorbex"}},
                      UsageCase{"ThreeArguments", {"a", "b", "c"}},
                      UsageCase{"SlashQuestion", {"/?"}},
                      UsageCase{"DashQuestion", {"-?"}},
                      UsageCase{"QuestionInside", {"pro?j"}},
                      UsageCase{"QuestionAlone", {"?"}},
                      UsageCase{"BlankInOneArgument", {"my project", "x"}}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return info.param.label; });

// The name in "can't read" is the settled project file name.
struct UnreadableCase {
    const char* label;
    std::vector<std::string> args;
    const char* directory;    // made before the run, when not empty
    const char* name;         // relative name the message holds
    bool absolute;            // whether the message holds the absolute form
};

void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.label; }

class StartupUnreadable
    : public E2e, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(StartupUnreadable, SaysWhichNameCannotBeRead) {
    const UnreadableCase& c = GetParam();
    if (*c.directory != '\0') MakeDir(c.directory);
    RunResult run = Run(c.args);
    std::string name = c.absolute ? AbsoluteName(c.name) : c.name;
    EXPECT_EQ(run.out, Out("Error: can't read " + name + "\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

INSTANTIATE_TEST_SUITE_P(
    Names, StartupUnreadable,
    ::testing::Values(
        UnreadableCase{"DefaultMissing", {}, "", "ZORBEX.ZBX", false},
        UnreadableCase{"DefaultIsDirectory", {}, "ZORBEX.ZBX", "ZORBEX.ZBX", false},
        UnreadableCase{"GetsExtension", {"proj"}, "", "PROJ.ZBX", true},
        UnreadableCase{"KeepsExtension", {"proj.mak"}, "", "PROJ.MAK", true},
        UnreadableCase{"ResolvesDots", {"./sub/../proj"}, "", "PROJ.ZBX", true},
        UnreadableCase{"EndsInSeparator", {"sub/"}, "sub", "SUB/.ZBX", true},
        UnreadableCase{"IsDirectory", {"proj"}, "PROJ.ZBX", "PROJ.ZBX", true},
        // "con" is not made absolute. On Windows CON.ZBX is the console
        // itself, which a run without one cannot open.
        UnreadableCase{"ConsoleName", {"Con"}, "", "CON.ZBX", false}),
    [](const ::testing::TestParamInfo<UnreadableCase>& info) {
        return info.param.label;
    });

TEST_F(Startup, EmptyArgumentNamesTheCurrentDirectory) {
    RunResult run = Run({""});
    EXPECT_EQ(run.out, Out("Error: can't read " + AbsoluteName("") + ".ZBX\n"));
    EXPECT_EQ(run.code, 255);
}

TEST_F(Startup, ProjectFileNamedByArgumentIsRead) {
    Write("PROJ.MAK", ".nolink\n");
    RunResult run = Run({"proj.mak"});
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);
    ExpectFiles({"PROJ.MAK"});
}

// The absolute project name with ".ZBX" may have 259 characters, not 260.
TEST_F(Startup, ProjectNameLimitIs259Characters) {
    size_t prefix = AbsoluteName("").size() + 1;
    if (prefix + 20 > 259) GTEST_SKIP() << "test directory name too long";
    std::string fits(259 - prefix - 4, 'P');
    std::string too_long(260 - prefix - 4, 'P');
    Write(fits + ".ZBX", ".nolink\n");
    Write(too_long + ".ZBX", ".nolink\n");

    RunResult run = Run({fits});
    EXPECT_EQ(run.out, Out(""));
    EXPECT_EQ(run.code, 0);

    run = Run({too_long});
    EXPECT_EQ(run.out,
              Out("Error: can't read " + AbsoluteName(too_long + ".ZBX") + "\n"));
    EXPECT_EQ(run.code, 255);
    EXPECT_FALSE(Exists(kDirectiveFile));
}

TEST_F(Startup, DirectiveFileThatCannotBeCreated) {
    Project("main.c\n");
    WriteAt("MAIN.C", kOld);
    MakeDir(kDirectiveFile);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out("Error: can't create temporary file ~ZORBEX~.LNK\n"));
    EXPECT_EQ(run.code, 255);
    ExpectFiles({"MAIN.C", "ZORBEX.ZBX", "~ZORBEX~.LNK/"});
}

// A full disk: the directive file cannot be written. Nothing is linked and
// the directive file is deleted (here: the link to the device).
TEST_F(Startup, DirectiveFileWriteFailsAtTheEnd) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "needs /dev/full";
    }
    Project("main.obj\n");
    ASSERT_EQ(symlink("/dev/full", (dir_ + "/" + kDirectiveFile).c_str()), 0);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out("Error: can't write temporary file ~ZORBEX~.LNK\n"));
    EXPECT_EQ(run.code, 255);
    // Wine opens the link as the device itself and will not delete it.
    if (!WindowsBuild()) ExpectFiles({"ZORBEX.ZBX"});
}

// The error shows while the project is read: the lines after it are not.
TEST_F(Startup, DirectiveFileWriteFailsOnTheWay) {
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "needs /dev/full";
    }
    std::string text;
    for (int i = 0; i < 20000; ++i) {
        text += 'o';
        text += std::to_string(i);
        text += ".obj\n";
    }
    Project(text + "main.c\n.bogus\n");
    WriteAt("MAIN.C", kOld);
    ASSERT_EQ(symlink("/dev/full", (dir_ + "/" + kDirectiveFile).c_str()), 0);
    RunResult run = Run();
    EXPECT_EQ(run.out, Out("Error: can't write temporary file ~ZORBEX~.LNK\n"));
    EXPECT_EQ(run.code, 255);
    if (!WindowsBuild()) ExpectFiles({"MAIN.C", "ZORBEX.ZBX"});
}

}  // namespace
}  // namespace zorbex_e2e
