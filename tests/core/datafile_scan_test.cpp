// The formatted reader over data files, checked against the C library's sscanf on
// the same text wherever both are defined, plus the helpers built on it.
#include <climits>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "tests/support/temp_home.h"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

using DataScanTest = TempHomeTest;

static DataFile *open_text(const std::string &path, const std::string &text)
{
    EXPECT_TRUE(write_bytes(path, text));
    return data_open(path.c_str(), "rb");
}

TEST_F(DataScanTest, MatchesTheCLibrary)
{
    struct Case {
        const char *input;
        const char *format;
    } cases[] = {
        {"42", "%d"},
        {"  \t\n -17 word", "%d %s"},
        {"+5;", "%d;"},
        {"0x1F 017 10 -0x10", "%i %i %i %i"},
        {"777 8", "%o %o"},
        {"ff 0XaB -1", "%x %x %x"},
        {"12345", "%3d%d"},
        {"12", "%hd"},
        {"300", "%hhd"},
        {"123456789012 -99999999999", "%lld %ld"},
        {"99999999999", "%d"},
        {"3.5 -2e3 .5 7. 1.5E+2", "%f %lf %Lf %f %f"},
        {"12.75x", "%3f%s"},
        {"abc def", "%s%s"},
        {"abcdef", "%3s%s"},
        {"xyz", "%c%2c"},
        {" a", "%c"},
        {"12 34", "%*d %d"},
        {"hello123", "%[a-z]%d"},
        {"abc]d", "%[]a-c]%c"},
        {"key=value rest", "%[^=]=%s"},
        {"alphabet", "%3[a-z]%s"},
        {"a-b", "%[a-]%s"},
        {"x", "%[0-9]"},
        {"", "%d"},
        {"   ", "%d"},
        {"", "x%d"},
        {"abc", "%d"},
        {"5 abc", "%d %d"},
        {"50%", "%d%%"},
        {"50 %", "%d%%"},
        {"7 8 9", "%d%n %d%n"},
        {"abc", "%*s%n"},
        {"x=3,y=4", "x=%d,y=%d"},
        {"x=3;y=4", "x=%d,y=%d"},
        {"a b", "a b"},
        {"-", "%s"},
        {"1e5", "%f"},
        {"word\n", "%s%c"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.input + "\" with \"" + c.format + "\"");
        alignas(16) unsigned char ours[6][32], theirs[6][32];
        memset(ours, 0xcc, sizeof ours);
        memset(theirs, 0xcc, sizeof theirs);
        int expected = sscanf(c.input, c.format, theirs[0], theirs[1], theirs[2], theirs[3],
                              theirs[4], theirs[5]);
        DataFile *file = open_text(root + "/scan.txt", c.input);
        ASSERT_NE(file, nullptr);
        int got = data_scanf(file, c.format, ours[0], ours[1], ours[2], ours[3], ours[4],
                             ours[5]);
        data_close(file);
        EXPECT_EQ(got, expected);
        for (int i = 0; i < 6; i++)
            EXPECT_EQ(memcmp(ours[i], theirs[i], sizeof ours[i]), 0) << "target " << i;
    }
}

TEST_F(DataScanTest, ScanStopsWhereTheInputDoes)
{
    // The scan leaves the first byte it could not use for the next read.
    DataFile *file = open_text(root + "/t.txt", "10 20x30");
    ASSERT_NE(file, nullptr);
    int a = 0, b = 0;
    EXPECT_EQ(data_scanf(file, "%d %d", &a, &b), 2);
    EXPECT_EQ(data_getc(file), 'x');
    EXPECT_EQ(data_scanf(file, "%d %d", &a, &b), 1);
    EXPECT_EQ(a, 30);
    EXPECT_EQ(data_scanf(file, "%d", &a), DATA_EOF);
    data_close(file);

    // A conversion this reader does not know ends the scan.
    file = open_text(root + "/u.txt", "1 2 3");
    ASSERT_NE(file, nullptr);
    unsigned u = 0;
    EXPECT_EQ(data_scanf(file, "%d %u %d", &a, &u, &b), 1);
    EXPECT_EQ(u, 0u);
    data_close(file);

    // A scan set that is never closed ends the scan too.
    file = open_text(root + "/v.txt", "abc");
    ASSERT_NE(file, nullptr);
    char text[8] = "";
    const char *unclosed = "%[abc";
    EXPECT_EQ(data_scanf(file, unclosed, text), 0);
    data_close(file);
}

TEST_F(DataScanTest, ReadIntAndSkipComments)
{
    DataFile *file = open_text(root + "/i.txt", " 7\n-2147483647 +3 x");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_read_int(file), 7);
    EXPECT_EQ(data_read_int(file), -2147483647);
    EXPECT_EQ(data_read_int(file), 3);
    EXPECT_EQ(data_read_int(file), INT_MIN);
    EXPECT_EQ(data_getc(file), 'x');
    EXPECT_EQ(data_read_int(file), INT_MIN);
    data_close(file);

    file = open_text(root + "/c.txt",
                     "# first\n   # second\n#\n\t# after an empty one\nvalue #tail\n#end\n2");
    ASSERT_NE(file, nullptr);
    char word[32];
    data_skip_comments(file);
    ASSERT_EQ(data_scanf(file, "%31s", word), 1);
    EXPECT_STREQ(word, "value");
    data_skip_comments(file);
    EXPECT_EQ(data_read_int(file), 2);
    data_close(file);

    // Nothing to skip: the next byte stays.
    file = open_text(root + "/n.txt", "x # y");
    ASSERT_NE(file, nullptr);
    data_skip_comments(file);
    EXPECT_EQ(data_getc(file), 'x');
    data_close(file);

    file = open_text(root + "/e.txt", "\n  # only comments, no newline at the end");
    ASSERT_NE(file, nullptr);
    data_skip_comments(file);
    EXPECT_EQ(data_getc(file), DATA_EOF);
    data_close(file);
}
