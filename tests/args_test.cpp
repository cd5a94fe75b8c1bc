// Splitting a console command line into arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "args.h"

namespace {

std::vector<std::string> Split(const char* text) {
    std::vector<char> storage(strlen(text) + 1, '#');
    char* argv[64];
    int n = SplitArguments(text, storage.data(), argv, 64);
    std::vector<std::string> args;
    for (int i = 0; i < n && i < 64; i++) args.emplace_back(argv[i]);
    return args;
}

using Args = std::vector<std::string>;

TEST(SplitArguments, Rules) {
    struct Case {
        const char* text;
        Args args;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"proj", {"proj"}},
        {"my project", {"my", "project"}},
        {"\"my project\"", {"my project"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\b", {"a\\b"}},
        {"a\\\\\"b", {"a\\\"b"}},
        {"a\\\\\\b", {"a\\\\\\b"}},
        {"\"ab\"cd", {"ab", "cd"}},
        {"ab\"c d\"e f", {"abc de", "f"}},
        {"\"a\\\"b\" c", {"a\"b", "c"}},
        {"\"unclosed quote", {"unclosed quote"}},
        {"x\"unclosed y", {"xunclosed y"}},
        {"a\nb", {"a\nb"}},
        {"\tone\ttwo\t", {"one", "two"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Split(c.text), c.args) << c.text;
}

TEST(SplitArguments, CountsPastTheVectorWithoutStoring) {
    char storage[16];
    char* argv[2] = {nullptr, nullptr};
    EXPECT_EQ(SplitArguments("a b c d", storage, argv, 2), 4);
    EXPECT_STREQ(argv[0], "a");
    EXPECT_STREQ(argv[1], "b");
}

TEST(SkipProgramName, QuotedAndPlain) {
    EXPECT_STREQ(SkipProgramName("zorbex.exe proj"), "proj");
    EXPECT_STREQ(SkipProgramName("\"C:\\Program Files\\zorbex.exe\"  \t proj x"), "proj x");
    EXPECT_STREQ(SkipProgramName("\"C:\\a b\\z.exe\"proj"), "proj");
    EXPECT_STREQ(SkipProgramName("zorbex"), "");
    EXPECT_STREQ(SkipProgramName("\"unclosed"), "");
    EXPECT_STREQ(SkipProgramName("z\r\n\v\fproj"), "proj");
}

}  // namespace
