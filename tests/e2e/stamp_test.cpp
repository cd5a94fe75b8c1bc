// When a module is rebuilt: its source's and object's stamps compared at a
// resolution of two seconds, date first. The program runs with TZ=UTC0, so
// the times below are the local times it sees.
#include "harness.h"

namespace zorbex_e2e {
namespace {

struct StampCase {
    const char* label;
    const char* source;
    const char* object;
    bool rebuilt;
};

void PrintTo(const StampCase& c, std::ostream* os) {
    *os << "source " << c.source << ", object " << c.object;
}

class Stamp : public E2e, public ::testing::WithParamInterface<StampCase> {};

TEST_P(Stamp, DecidesWhetherToRebuild) {
    const StampCase& c = GetParam();
    Project("main.c\n");
    WriteAt("MAIN.C", c.source);
    WriteAt("MAIN.OBJ", c.object);
    WriteAt("MAIN.EXE", "2020-01-01 00:00:00");
    RunResult run = Run();
    EXPECT_EQ(run.code, 0);
    if (c.rebuilt) {
        EXPECT_EQ(run.out, Out(Done("MAIN.EXE")));
        EXPECT_EQ(LogLines(), (std::vector<std::string>{"WCC386 /bt=NT /d__NT__ MAIN.C",
                                                        "WLINK @~ZORBEX~.LNK"}));
        EXPECT_EQ(Read("MAIN.OBJ"), "OBJECT MAIN.C\n");
    } else {
        EXPECT_EQ(run.out, Out(kNothingToDo));
        EXPECT_FALSE(Exists("STANDIN.LOG"));
        EXPECT_EQ(Read("MAIN.OBJ"), "/* MAIN.OBJ */\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, Stamp,
    ::testing::Values(
        StampCase{"Equal", "2020-05-05 10:00:00", "2020-05-05 10:00:00", false},
        StampCase{"ObjectTwoSecondsOlder", "2020-05-05 10:00:02", "2020-05-05 10:00:00", true},
        StampCase{"SameTwoSecondStep", "2020-05-05 10:00:01", "2020-05-05 10:00:00", false},
        StampCase{"SameOddTwoSecondStep", "2020-05-05 10:00:03", "2020-05-05 10:00:02", false},
        StampCase{"ObjectNewer", "2020-05-05 10:00:00", "2020-05-05 10:00:02", false},
        // From 16:00 on the time word has its top bit set.
        StampCase{"SourceAfterFourPm", "2020-05-05 16:30:00", "2020-05-05 15:00:00", true},
        StampCase{"ObjectAfterFourPm", "2020-05-05 15:00:00", "2020-05-05 16:30:00", false},
        StampCase{"BothAfterFourPm", "2020-05-05 23:59:58", "2020-05-05 16:00:00", true},
        StampCase{"ObjectDayOlder", "2020-05-06 09:00:00", "2020-05-05 10:00:00", true},
        StampCase{"ObjectNewerDateEarlierTime", "2020-05-05 23:00:00",
                  "2020-05-06 01:00:00", false},
        StampCase{"AcrossMidnight", "2020-05-06 00:00:00", "2020-05-05 23:59:58", true},
        // From 2044 on the date word has its top bit set.
        StampCase{"SourceIn2044", "2044-01-01 00:00:00", "2043-12-31 12:00:00", true},
        StampCase{"ObjectIn2044", "2043-12-31 12:00:00", "2044-01-01 00:00:00", false},
        // Times outside 1980-2107 take the nearest stamp the words can hold.
        StampCase{"BothBefore1980", "1975-06-01 12:00:00", "1979-06-01 12:00:00", false},
        StampCase{"SourceBefore1980IsOld", "1979-06-01 12:00:00", "1975-06-01 12:00:00", false},
        StampCase{"Before1980EqualsFirstStep", "1980-01-01 00:00:01",
                  "1979-06-01 12:00:00", false},
        StampCase{"After1980AgainstBefore", "1980-01-01 00:00:02", "1975-06-01 12:00:00", true},
        StampCase{"BothAfter2107", "2110-01-01 00:00:00", "2108-06-01 00:00:00", false},
        StampCase{"After2107EqualsLastStep", "2110-01-01 00:00:00",
                  "2107-12-31 23:59:58", false},
        StampCase{"After2107AgainstEarlier", "2110-01-01 00:00:00",
                  "2107-12-31 23:59:56", true}),
    [](const ::testing::TestParamInfo<StampCase>& info) { return info.param.label; });

}  // namespace
}  // namespace zorbex_e2e
