// The start-up data checks: the game-data digest, the fixed-file digest, and the
// log they set up.
#include <cstdlib>

#include <nettle/ripemd160.h>

#include "core/datafile.h"
#include "platform/vrak.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

using DataCheckTest = TempHomeTest;

static std::string ripemd160_hex(const std::string &bytes)
{
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    ripemd160_update(&ctx, bytes.size(), (const uint8_t *)bytes.data());
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(&ctx, sizeof digest, digest);
    std::string hex;
    char pair[3];
    for (uint8_t b : digest) {
        snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
    }
    return hex;
}

TEST_F(DataCheckTest, GameDataDigestCoversTheFirstMebibyte)
{
    // The published test vector first: RIPEMD-160("abc").
    ASSERT_TRUE(write_bytes(data + "zzzz.saf", "abc"));
    EXPECT_TRUE(data_check_game_data("8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"));

    std::string start;
    for (int i = 0; i < 1048576; i++)
        start += (char)(i * 31 + (i >> 12));
    std::string expected = ripemd160_hex(start);
    ASSERT_TRUE(write_bytes(data + "zzzz.saf", start + "anything after the first MiB"));
    EXPECT_TRUE(data_check_game_data(expected.c_str()));

    // A home copy that differs does not hide the game data's.
    ASSERT_TRUE(write_bytes(home + "zzzz.saf", "other"));
    EXPECT_TRUE(data_check_game_data(expected.c_str()));
    ASSERT_TRUE(write_bytes(data + "zzzz.saf", start.substr(1)));
    EXPECT_FALSE(data_check_game_data(expected.c_str()));
    // Only the plain file counts: no archive search, no ".gz" fallback.
    std::remove((data + "zzzz.saf").c_str());
    ASSERT_TRUE(write_bytes(data + "zzzz.saf.gz", start));
    EXPECT_FALSE(data_check_game_data(expected.c_str()));
}

TEST_F(DataCheckTest, CheckCreatesHomeAndPointsTheLogThere)
{
    const char *saved = getenv("VRAK_LOGFILE");
    std::string saved_value = saved ? saved : "";
    unsetenv("VRAK_LOGFILE");
    vrak_log_reset();

    EXPECT_FALSE(data_check_game_data("0000000000000000000000000000000000000000"));
    data_request_working_set();
    vrak_log(nullptr);
    vrak_log_reset();
    if (saved)
        setenv("VRAK_LOGFILE", saved_value.c_str(), 1);

    std::string log = read_file(home + "lastlog.txt");
    EXPECT_NE(log.find("opened"), std::string::npos) << log;
    bool working_set = log.find("Setting working set range to ") != std::string::npos ||
                       log.find("Working set left alone") != std::string::npos;
    EXPECT_TRUE(working_set) << log;
}

TEST_F(DataCheckTest, FixedFilesAreHashedInOrderWhereverTheyAre)
{
    // Four of the seven, from three places; the missing ones are skipped.
    ASSERT_TRUE(write_bytes(data + "generic_frame.shp", "frame"));
    ASSERT_TRUE(write_bytes(home + "generic_fork_lower.shp", "fork lower"));
    ASSERT_TRUE(write_bytes(data + "bikes.saf", make_saf({{"front_wheel.shp", "front"}})));
    ASSERT_TRUE(write_bytes(data + "generic_rider.shp", std::string(3000, 'r')));
    std::string expected = ripemd160_hex("frame" "fork lower" "front" + std::string(3000, 'r'));

    EXPECT_FALSE(data_fixed_files_ok());
    EXPECT_TRUE(data_check_fixed_files(expected.c_str()));
    EXPECT_TRUE(data_fixed_files_ok());
    EXPECT_FALSE(data_check_fixed_files(ripemd160_hex("frame").c_str()));
    EXPECT_FALSE(data_fixed_files_ok());
}
