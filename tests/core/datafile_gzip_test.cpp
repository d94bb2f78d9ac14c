// Reading gzip files: files made by the gzip command, every optional header field,
// members inside archives, and damaged files.
#include <cstdlib>

#include "core/datafile.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

using DataGzipTest = TempHomeTest;

// Enough varied text that the compressed input spans several reads.
static std::string sample_text()
{
    std::string text;
    unsigned x = 12345;
    for (int line = 0; line < 6000; line++) {
        x = x * 1103515245 + 12345;
        text += std::to_string(line) + " " + std::to_string(x >> 8) + " height sample\n";
    }
    return text;
}

// Compresses with the gzip command; "-n" leaves the file name out, "-N" stores it.
static std::string gzip_bytes(const std::string &folder, const std::string &text,
                              const char *flag)
{
    std::string plain = folder + "/gzip-input.txt";
    EXPECT_TRUE(write_bytes(plain, text));
    std::string command = "gzip " + std::string(flag) + " -c '" + plain + "' > '" + plain + ".gz'";
    EXPECT_EQ(system(command.c_str()), 0);
    std::string bytes = read_file(plain + ".gz");
    std::remove(plain.c_str());
    std::remove((plain + ".gz").c_str());
    return bytes;
}

TEST_F(DataGzipTest, FilesMadeByGzipReadBack)
{
    std::string text = sample_text();
    for (const char *flag : {"-n", "-N"}) {
        SCOPED_TRACE(flag);
        std::string gz = gzip_bytes(root, text, flag);
        ASSERT_GT(gz.size(), 10u);
        EXPECT_EQ((gz[3] & 8) != 0, flag[1] == 'N');   // the name field is there or not
        ASSERT_TRUE(write_bytes(data + "track/terrain.hf.gz", gz));
        data_reset();
        EXPECT_EQ(read_data("@track/terrain.hf"), text);
        EXPECT_EQ(read_data((data + "track/terrain.hf").c_str()), text);

        DataFile *file = data_open("@track/terrain.hf", "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(data_read_int(file), 0);
        EXPECT_FALSE(data_seek(file, 0));
        data_close(file);
    }
}

TEST_F(DataGzipTest, GzipMembersInsideArchives)
{
    std::string text = sample_text();
    std::string gz = gzip_bytes(root, text, "-n");
    ASSERT_TRUE(write_bytes(data + "a.saf", make_saf({{"same", "plain form"},
                                                       {"same.gz", gz},
                                                       {"x.gz", gz},
                                                       {"y", "after"}})));
    EXPECT_EQ(read_data("@x"), text);
    EXPECT_EQ(read_data("@y"), "after");
    // Same source: the plain form comes first.
    EXPECT_EQ(read_data("@same"), "plain form");
    // A loose ".gz" outranks the archive's plain member.
    ASSERT_TRUE(write_bytes(data + "y.gz", gz));
    data_reset();
    EXPECT_EQ(read_data("@y"), text);
}

TEST_F(DataGzipTest, OptionalHeaderFieldsAreSkipped)
{
    std::string text = "gzip header fields\n";
    std::string gz = gzip_bytes(root, text, "-n");
    std::string deflate = gz.substr(10);
    std::string fixed = gz.substr(4, 6);
    auto header = [&](int flags, const std::string &fields) {
        return std::string("\x1f\x8b\x08", 3) + (char)flags + fixed + fields + deflate;
    };
    struct Case {
        const char *what;
        std::string file;
    } cases[] = {
        {"extra", header(4, std::string("\x05\x00" "abcde", 7))},
        {"name", header(8, std::string("name.txt\0", 9))},
        {"comment", header(16, std::string("a comment\0", 10))},
        {"header crc", header(2, "\x12\x34")},
        {"all of them", header(30, std::string("\x01\x00" "z" "n\0" "c\0" "\x01\x02", 9))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_bytes(data + "f.gz", c.file));
        EXPECT_EQ(read_data((data + "f").c_str()), text);
    }
}

TEST_F(DataGzipTest, DamagedFilesFailOrEndEarly)
{
    std::string text = sample_text();
    std::string gz = gzip_bytes(root, text, "-n");
    std::string head = gz.substr(0, 10);
    std::string deflate = gz.substr(10);
    std::string extra_too_long = head;
    extra_too_long[3] = 4;
    extra_too_long += std::string("\xff\x00", 2) + "short";

    struct Case {
        const char *what;
        std::string file;
        bool opens;
    } cases[] = {
        {"bad magic", "\x1f\x8c" + gz.substr(2), false},
        {"not deflate", std::string("\x1f\x8b\x07", 3) + gz.substr(3), false},
        {"unknown flag", gz.substr(0, 3) + "\x20" + gz.substr(4), false},
        {"header cut short", gz.substr(0, 5), false},
        {"empty", "", false},
        {"name never ends", gz.substr(0, 3) + "\x08" + gz.substr(4, 6) + "name", false},
        {"extra longer than the file", extra_too_long, false},
        {"deflate data cut in half", gz.substr(0, gz.size() / 2), true},
        {"garbage deflate data", head + std::string(3000, '\xee'), true},
        {"header only", head, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_bytes(data + "f.gz", c.file));
        DataFile *file = data_open((data + "f").c_str(), "rb");
        EXPECT_EQ(file != nullptr, c.opens);
        if (file) {
            std::string got = read_rest(file);
            EXPECT_LT(got.size(), text.size());
            EXPECT_EQ(text.compare(0, got.size(), got), 0);
            data_close(file);
        }
    }
}

TEST_F(DataGzipTest, ExtraFieldCannotReachIntoTheNextMember)
{
    std::string gz = gzip_bytes(root, "inner\n", "-n");
    std::string bad = gz.substr(0, 3) + "\x04" + gz.substr(4, 6) + std::string("\x40\x00", 2);
    // Without the member's bound the 64 skipped bytes would come from "next".
    ASSERT_TRUE(write_bytes(data + "a.saf",
                            make_saf({{"bad.gz", bad}, {"next", std::string(200, 'q') + gz}})));
    EXPECT_EQ(data_open("@bad", "rb"), nullptr);
    EXPECT_EQ(read_data("@next").size(), 200 + gz.size());
}
