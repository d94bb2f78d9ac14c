// The safpack tool: archives it packs are read back by the data-file layer, and
// the digests it writes are the ones the start-up checks compute.
#include <cstring>

#include "core/datafile.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

using SafpackTest = TempHomeTest;

static const std::string safpack = std::string(RUTTMOOR_BUILD_DIR) + "/tools/safpack";

static int run_safpack(const std::vector<std::string> &args)
{
    if (!file_exists(safpack)) {
        ADD_FAILURE() << "safpack is not built: " << safpack;
        return -1;
    }
    ProcessResult result = run_process(safpack, args, {});
    return result.status;
}

// The 40 hexadecimal digits of NAME[] = "...", or "" when not there.
static std::string define_value(const std::string &header, const char *name)
{
    std::string key = std::string(name) + "[] = \"";
    size_t at = header.find(key);
    if (at == std::string::npos)
        return "";
    std::string value = header.substr(at + key.size(), 40);
    bool hex = value.size() == 40 && value.find_first_not_of("0123456789abcdef") == value.npos &&
               header.compare(at + key.size() + 40, 1, "\"") == 0;
    return hex ? value : "";
}

TEST_F(SafpackTest, PackedTreeReadsBackThroughTheLayer)
{
    std::string source = root + "/source/";
    ASSERT_TRUE(write_bytes(source + "fernbottom/desc", "Fernbottom\n"));
    ASSERT_TRUE(write_bytes(source + "fernbottom/terrain.hf", "6 4.0 0.0 0.0\n"));
    ASSERT_TRUE(write_bytes(source + "B.txt", std::string("binary\0\n\xff", 9)));
    ASSERT_TRUE(write_bytes(source + "a/deep/er/file", ""));
    ASSERT_TRUE(write_bytes(source + "CMakeLists.txt", "left out"));

    ASSERT_EQ(run_safpack({"--exclude", "CMakeLists.txt", data + "pack.saf", source}), 0);
    std::string archive = read_file(data + "pack.saf");
    // Byte order of the names, so the same tree always packs the same way.
    EXPECT_EQ(archive.substr(0, archive.find("-\n") + 2),
              "9 B.txt\n0 a/deep/er/file\n11 fernbottom/desc\n14 fernbottom/terrain.hf\n-\n");
    EXPECT_FALSE(file_exists(data + "pack.saf.tmp"));

    EXPECT_EQ(read_data("@fernbottom/desc"), "Fernbottom\n");
    EXPECT_EQ(read_data("@fernbottom/terrain.hf"), "6 4.0 0.0 0.0\n");
    EXPECT_EQ(read_data("@b.txt"), std::string("binary\0\n\xff", 9));
    EXPECT_EQ(read_data("@a/deep/er/file"), "");
    EXPECT_EQ(read_data("@CMakeLists.txt"), "<missing>");

    ASSERT_EQ(run_safpack({"--exclude", "CMakeLists.txt", root + "/again.saf", source}), 0);
    EXPECT_EQ(read_file(root + "/again.saf"), archive);

    EXPECT_NE(run_safpack({data + "x.saf", root + "/no-such-folder"}), 0);
    EXPECT_NE(run_safpack({"--bogus"}), 0);
}

TEST_F(SafpackTest, ScramCopyReadsAsThePlainFile)
{
    std::string text = "enciphered track description\n";
    ASSERT_TRUE(write_bytes(root + "/desc", text));
    ASSERT_EQ(run_safpack({"--scram", root + "/desc", data + "t/desc.scram"}), 1);
    ASSERT_TRUE(write_bytes(data + "t/.keep", ""));
    ASSERT_EQ(run_safpack({"--scram", root + "/desc", data + "t/desc.scram"}), 0);
    std::string stored = read_file(data + "t/desc.scram");
    EXPECT_EQ(stored.size(), text.size());
    EXPECT_NE(stored, text);
    EXPECT_EQ(read_data("@t/desc"), text);
}

TEST_F(SafpackTest, DigestsMatchTheStartUpChecks)
{
    std::string source = root + "/source/";
    ASSERT_TRUE(write_bytes(source + "generic_frame.shp", "frame shape"));
    ASSERT_TRUE(write_bytes(source + "rear_wheel.shp", "wheel shape"));
    ASSERT_TRUE(write_bytes(source + "track/desc", "Track\n"));
    ASSERT_EQ(run_safpack({data + "zzzz.saf", source}), 0);
    ASSERT_EQ(run_safpack({"--digests", root + "/generated/digests.h", data + "zzzz.saf", source}),
              1);
    ASSERT_TRUE(write_bytes(root + "/generated/.keep", ""));
    ASSERT_EQ(run_safpack({"--digests", root + "/generated/digests.h", data + "zzzz.saf", source}),
              0);
    std::string header = read_file(root + "/generated/digests.h");
    std::string game_data = define_value(header, "GAME_DATA_DIGEST");
    std::string fixed = define_value(header, "FIXED_FILE_DIGEST");
    ASSERT_EQ(game_data.size(), 40u) << header;
    ASSERT_EQ(fixed.size(), 40u) << header;

    // The game reads the shape files out of the packed archive.
    EXPECT_TRUE(data_check_game_data(game_data.c_str()));
    EXPECT_TRUE(data_check_fixed_files(fixed.c_str()));
    EXPECT_FALSE(data_check_game_data(fixed.c_str()));
}
