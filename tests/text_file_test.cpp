// The text-mode line reader and the checked line writer, over real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "text_file.h"

namespace {

std::string TempName(const char* tag) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/zorbex_text_" + tag + "_" +
           std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

void WriteRaw(const std::string& name, const std::string& bytes) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string ReadRaw(const std::string& name) {
    FILE* f = fopen(name.c_str(), "rb");
    if (!f) return "<missing>";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

// Reads every line the way the project reader does; each line as stored,
// NUL bytes included up to the terminator written by the reader.
std::vector<std::string> Lines(const std::string& bytes, size_t cap = 256) {
    std::string name = TempName("r");
    WriteRaw(name, bytes);
    static TextReader reader;
    FileHandle f = OpenForReading(name.c_str());
    EXPECT_NE(f, kNoFile);
    StartReader(&reader, f);
    std::vector<std::string> lines;
    std::vector<char> line(cap + 1, '#');
    for (;;) {
        LineRead r = ReadLine(&reader, line.data(), cap);
        EXPECT_NE(r, LineRead::kError);
        if (r != LineRead::kLine) break;
        EXPECT_EQ(line[cap], '#') << "written past the buffer";
        // The buffer was filled with '#' (no test line holds one): the
        // terminator is the last byte before the untouched fill.
        size_t n = cap;
        while (n > 0 && line[n - 1] == '#') n--;
        EXPECT_GT(n, 0u);
        EXPECT_EQ(line[n - 1], '\0');
        n = n > 0 ? n - 1 : 0;
        lines.emplace_back(line.data(), n);
        std::fill(line.begin(), line.end() - 1, '#');
    }
    CloseFile(f);
    remove(name.c_str());
    return lines;
}

using L = std::vector<std::string>;

TEST(ReadLine, TextModeRules) {
    struct Case {
        std::string bytes;
        L lines;
    } cases[] = {
        {"", {}},
        {"a\nb\n", {"a\n", "b\n"}},
        {"a\r\nb\r\n", {"a\n", "b\n"}},
        {"a\rb\r\r\n", {"ab\n"}},
        {"\r\r\r", {}},
        {"last", {"last"}},
        {"a\nlast", {"a\n", "last"}},
        {"a\nb\x1a" "c\n", {"a\n", "b"}},
        {"\x1a" "a\n", {}},
        {"a\n\n\n", {"a\n", "\n", "\n"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Lines(c.bytes), c.lines);
}

TEST(ReadLine, LongLinesComeInPieces) {
    std::string line300(300, 'x');
    L lines = Lines(line300 + "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string(255, 'x'));
    EXPECT_EQ(lines[1], std::string(45, 'x') + "\n");
    // Exactly 255 characters: the newline comes as a piece of its own.
    lines = Lines(std::string(255, 'y') + "\nz\n");
    EXPECT_EQ(lines, (L{std::string(255, 'y'), "\n", "z\n"}));
}

TEST(ReadLine, LinesAcrossBlockBoundaries) {
    // Lines of 7 bytes never align with the block size.
    std::string bytes;
    for (int i = 0; i < 30000; i++) bytes += "a\r\nbcde\n";
    L lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 60000u);
    EXPECT_EQ(lines[59998], "a\n");
    EXPECT_EQ(lines[59999], "bcde\n");
}

TEST(ReadLine, NulStaysInTheLine) {
    std::string bytes("ab\0cd\nef\n", 9);
    L lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_STREQ(lines[0].c_str(), "ab");
    EXPECT_EQ(lines[1], "ef\n");
}

TEST(ReadLine, DirectoryIsAReadError) {
    static TextReader reader;
    FileHandle f = OpenForReading("/");
    if (f == kNoFile) GTEST_SKIP() << "directories cannot be opened here";
    StartReader(&reader, f);
    char line[256];
    EXPECT_EQ(ReadLine(&reader, line, sizeof line), LineRead::kError);
    CloseFile(f);
}

TEST(TextWriter, WritesLinesWithTheLineEnd) {
    std::string name = TempName("w");
    static TextWriter writer;
    FileHandle f = CreateForWriting(name.c_str());
    ASSERT_NE(f, kNoFile);
    StartWriter(&writer, f);
    std::string expected;
    for (int i = 0; i < 10000; i++) {
        ASSERT_EQ(WriteTextLine(&writer, "file ", "MODULE.OBJ"), 0);
        expected += std::string("file MODULE.OBJ") + kLineEnd;
    }
    ASSERT_EQ(WriteTextLine(&writer, "system NT", nullptr), 0);
    expected += std::string("system NT") + kLineEnd;
    EXPECT_EQ(CloseWriter(&writer), 0);
    EXPECT_EQ(ReadRaw(name), expected);
    remove(name.c_str());
}

TEST(TextWriter, FullDeviceIsReported) {
    static TextWriter writer;
    FileHandle f = CreateForWriting("/dev/full");
    if (f == kNoFile) GTEST_SKIP() << "no /dev/full";
    StartWriter(&writer, f);
    // Small writes stay buffered; the failure shows at the close.
    EXPECT_EQ(WriteTextLine(&writer, "file A.OBJ", nullptr), 0);
    EXPECT_EQ(CloseWriter(&writer), -1);

    f = CreateForWriting("/dev/full");
    StartWriter(&writer, f);
    int result = 0;
    for (int i = 0; i < 20000 && result == 0; i++) {
        result = WriteTextLine(&writer, "file LONGER_MODULE_NAME.OBJ", nullptr);
    }
    EXPECT_EQ(result, -1) << "a failed block write must be seen before the close";
    EXPECT_EQ(CloseWriter(&writer), -1);
}

}  // namespace
