// The data-file layer seen from its callers: where a name is found, archives,
// writing with backups, and what bad archives do.
#include <climits>
#include <cstring>
#include <filesystem>

#include "core/datafile.h"
#include "tests/support/temp_home.h"

using DataFileTest = TempHomeTest;

TEST_F(DataFileTest, BaseDirectoriesAreNormalisedAndHomeComesFirst)
{
    setenv("QK_HOME", (root + "//data\\").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "///xdg").c_str(), 1);
    data_reset();
    ASSERT_TRUE(write_bytes(data + "a.txt", "data"));
    ASSERT_TRUE(write_bytes(home + "b.txt", "home"));

    ASSERT_NE(home_dir(), nullptr);
    EXPECT_EQ(std::string(home_dir()), home);
    ASSERT_EQ(data_index_count(), 2);
    EXPECT_EQ(data_describe(0), "a.txt -> " + data + "a.txt");
    EXPECT_EQ(data_describe(1), "b.txt -> " + home + "b.txt");
    EXPECT_EQ(data_describe(2), "");
}

TEST_F(DataFileTest, WithoutAHomeOnlyTheGameDataIsSearched)
{
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    data_reset();
    ASSERT_TRUE(write_bytes(data + "config", "data"));
    EXPECT_EQ(home_dir(), nullptr);
    EXPECT_EQ(read_data("@config"), "data");
    EXPECT_FALSE(data_rename("@config", "@other"));
}

TEST_F(DataFileTest, HomeCopyWinsOnceWritten)
{
    ASSERT_TRUE(write_bytes(data + "config", "from data"));
    EXPECT_EQ(read_data("@config"), "from data");

    DataFile *file = data_open("@config", "wt");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(data_puts(file, "from home"));
    data_close(file);
    EXPECT_TRUE(file_exists(home + "config"));
    EXPECT_EQ(read_data("@config"), "from home");
    EXPECT_EQ(read_data(data.c_str()), "<missing>");  // a directory is not a file
}

TEST_F(DataFileTest, WritingCreatesMissingDirectories)
{
    DataFile *file = data_open("@demos/new/one.qkdemo", "wb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_write(file, "abc", 3), 3u);
    EXPECT_TRUE(data_flush(file));
    data_close(file);
    EXPECT_TRUE(file_exists(home + "demos/new/one.qkdemo"));

    std::string plain = root + "/x/y/z.txt";
    file = data_open(plain.c_str(), "a+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_printf(file, "%d-%s", 7, "ok"), 4);
    data_close(file);
    EXPECT_EQ(read_data(plain.c_str()), "7-ok");

    // Reading never creates anything.
    EXPECT_EQ(data_open("@nothere/file", "rb"), nullptr);
    EXPECT_FALSE(file_exists(home + "nothere"));
}

TEST_F(DataFileTest, ArchivesAndLooseFilesOverrideEachOther)
{
    // "b.saf" sorts before "zzzz.saf"; the loose file's name differs in case only.
    ASSERT_TRUE(write_bytes(data + "zzzz.saf",
                            make_saf({{"shared", "zzzz"}, {"Track/Desc", "zzzz"},
                                      {"only_zzzz", "z"}, {"fernbottom/DESC", "Fernbottom\n"}})));
    ASSERT_TRUE(write_bytes(data + "b.saf", make_saf({{"shared", "b"}, {"track/desc", "b"}})));
    ASSERT_TRUE(write_bytes(data + "TRACK/DESC", "loose"));
    ASSERT_TRUE(write_bytes(home + "only_zzzz", "home"));

    EXPECT_EQ(read_data("@shared"), "b");
    EXPECT_EQ(read_data("@SHARED"), "b");
    EXPECT_EQ(read_data("@track/desc"), "loose");
    EXPECT_EQ(read_data("@only_zzzz"), "home");
    EXPECT_EQ(read_data("@fernbottom/desc"), "Fernbottom\n");
    EXPECT_EQ(read_data("@//fernbottom\\desc"), "Fernbottom\n");

    std::vector<std::string> expected = {"b.saf", "fernbottom/DESC", "only_zzzz", "shared",
                                         "TRACK/DESC", "zzzz.saf"};
    EXPECT_EQ(data_list_files(), expected);
    // Every entry stays in the index, duplicates too.
    EXPECT_EQ(data_index_count(), 10);
}

TEST_F(DataFileTest, MembersAreReadWithinTheirBounds)
{
    ASSERT_TRUE(write_bytes(data + "pack.saf",
                            make_saf({{"a", "12 34\nline two\n"}, {"b", "5678"}, {"empty", ""}})));
    DataFile *file = data_open("@a", "rb");
    ASSERT_NE(file, nullptr);
    char line[8];
    ASSERT_NE(data_gets(file, line, sizeof line), nullptr);
    EXPECT_STREQ(line, "12 34\n");
    ASSERT_NE(data_gets(file, line, 5), nullptr);
    EXPECT_STREQ(line, "line");
    EXPECT_EQ(data_peekc(file), ' ');
    EXPECT_EQ(data_getc(file), ' ');
    EXPECT_EQ(read_rest(file), "two\n");
    EXPECT_EQ(data_getc(file), DATA_EOF);
    EXPECT_EQ(data_gets(file, line, sizeof line), nullptr);

    // Seeking is relative to the member and refused at or past its end.
    EXPECT_TRUE(data_seek(file, 3));
    EXPECT_EQ(data_read_int(file), 34);
    EXPECT_FALSE(data_seek(file, 15));
    EXPECT_FALSE(data_seek(file, -1));
    EXPECT_TRUE(data_seek(file, 14));
    EXPECT_EQ(read_rest(file), "\n");
    // Members are read-only.
    EXPECT_EQ(data_putc(file, 'x'), DATA_EOF);
    EXPECT_EQ(data_write(file, "x", 1), 0u);
    data_close(file);

    // A scan at the end of one member does not run into the next.
    file = data_open("@b", "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_read_int(file), 5678);
    data_close(file);
    EXPECT_EQ(read_data("@empty"), "");
}

TEST_F(DataFileTest, BadArchiveHeaders)
{
    const std::string long_name(1021, 'n');
    struct Case {
        const char *what;
        std::string archive;
        const char *member_m;   // what "@m" reads
    } cases[] = {
        {"valid", "3 m\n-\nabc", "abc"},
        {"blanks, sign and a tab separator", "  +3\tm\n-\nabc", "abc"},
        {"line without newline after a good one", "3 m\n4 n", "<missing>"},
        {"no \"-\" line", "3 m\n", "<missing>"},
        {"data where the \"-\" line should be", "3 m\nabc", "<missing>"},
        {"line without a number", "3 m\nx n\n-\nabc", "<missing>"},
        {"number without a name", "3 m\n4\n-\nabc", "<missing>"},
        {"negative size", "3 m\n-4 n\n-\nabc", "<missing>"},
        {"line over 1023 bytes", "3 m\n1 " + long_name + "\n-\nabc", "<missing>"},
        {"size past the end of the file", "10 m\n-\nabc", "abc"},
        {"empty file", "", "<missing>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(data);
        ASSERT_TRUE(write_bytes(data + "a.saf", c.archive));
        data_reset();
        EXPECT_EQ(read_data("@m"), c.member_m);
        // The archive itself is always an ordinary file.
        EXPECT_EQ(read_data("@a.saf"), c.archive);
    }

    // A line of exactly 1023 bytes (newline included) is still accepted.
    std::filesystem::remove_all(data);
    std::string name(1023 - 3, 'k');
    ASSERT_TRUE(write_bytes(data + "a.saf", "1 " + name + "\n-\nZ"));
    data_reset();
    EXPECT_EQ(read_data(("@" + name).c_str()), "Z");
}

TEST_F(DataFileTest, BackupsTakeTheSmallestFreeNumber)
{
    auto save = [&](const char *text) {
        DataFile *file = data_open("@demos/default.qkdemo", "~wb");
        ASSERT_NE(file, nullptr);
        data_puts(file, text);
        data_close(file);
    };
    std::string path = home + "demos/default.qkdemo";
    save("one");
    EXPECT_FALSE(file_exists(path + ".~1~"));
    save("two");
    save("three");
    EXPECT_EQ(read_data(path.c_str()), "three");
    EXPECT_EQ(read_data((path + ".~1~").c_str()), "one");
    EXPECT_EQ(read_data((path + ".~2~").c_str()), "two");
    EXPECT_FALSE(file_exists(path + ".~3~"));

    std::filesystem::remove(path + ".~1~");
    save("four");
    EXPECT_EQ(read_data((path + ".~1~").c_str()), "three");
    EXPECT_EQ(read_data((path + ".~2~").c_str()), "two");
    EXPECT_EQ(read_data(path.c_str()), "four");

    // A backup that cannot be written stops the save and keeps the old file
    // (only testable where folder permissions hold, not as root).
    std::filesystem::permissions(home + "demos", std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec);
    if (!write_bytes(home + "demos/probe", "x")) {
        EXPECT_EQ(data_open("@demos/default.qkdemo", "~wb"), nullptr);
    }
    std::filesystem::permissions(home + "demos", std::filesystem::perms::owner_all);
    EXPECT_EQ(read_data(path.c_str()), "four");
}

TEST_F(DataFileTest, UpdateModesReadAndWriteTheSameFile)
{
    std::string path = root + "/update.txt";
    ASSERT_TRUE(write_bytes(path, "abcdef"));
    DataFile *file = data_open(path.c_str(), "r+");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(data_getc(file), 'a');
    EXPECT_EQ(data_peekc(file), 'b');
    EXPECT_EQ(data_putc(file, 'X'), 'X');   // lands where the peeked byte was
    EXPECT_EQ(data_getc(file), 'c');
    data_close(file);
    EXPECT_EQ(read_data(path.c_str()), "aXcdef");
}

TEST_F(DataFileTest, RenameAndRemoveUseTheHomeDirectory)
{
    ASSERT_TRUE(write_bytes(home + "results.txt.part", "new"));
    ASSERT_TRUE(write_bytes(home + "results.txt", "old"));
    EXPECT_TRUE(data_rename("@results.txt.part", "@results.txt"));
    EXPECT_EQ(read_data("@results.txt"), "new");
    EXPECT_FALSE(file_exists(home + "results.txt.part"));

    // A missing source leaves the target alone.
    EXPECT_FALSE(data_rename("@results.txt.part", "@results.txt"));
    EXPECT_EQ(read_data("@results.txt"), "new");

    // A rename that cannot replace the target (a folder that is not empty) fails
    // without touching either side.
    ASSERT_TRUE(write_bytes(home + "standings.part", "fresh"));
    ASSERT_TRUE(write_bytes(home + "standings/keep", "x"));
    EXPECT_FALSE(data_rename("@standings.part", "@standings"));
    EXPECT_TRUE(file_exists(home + "standings/keep"));
    EXPECT_EQ(read_data("@standings.part"), "fresh");

    EXPECT_TRUE(data_remove("@results.txt"));
    EXPECT_FALSE(file_exists(home + "results.txt"));
    EXPECT_FALSE(data_remove("@results.txt"));
}

TEST_F(DataFileTest, NameListIsFixedForTheRun)
{
    ASSERT_TRUE(write_bytes(data + "tracks/a/terrain.hf", "1"));
    EXPECT_EQ(data_list_files(), std::vector<std::string>{"tracks/a/terrain.hf"});
    DataFile *file = data_open("@tracks/b/terrain.hf", "wb");
    ASSERT_NE(file, nullptr);
    data_close(file);
    EXPECT_EQ(data_list_files().size(), 1u);
    data_reset();
    EXPECT_EQ(data_list_files().size(), 2u);
}
