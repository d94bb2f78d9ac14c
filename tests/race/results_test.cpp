// Lap times and "@results.txt": the file is compared byte for byte with a
// hand-checked fixture, and a failed write must leave the previous file alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "race/race.h"
#include "race/results.h"
#include "sim/racer.h"
#include "tests/support/temp_home.h"
#include "track/gates.h"

namespace {

// Laps end at race gates 2, 5, 8, ...
const char *const LAYOUT = "checkpoints:\n"
                           "2 [0 0 0] [1 0 0]\n2 [10 0 0] [1 0 0]\n2 [20 0 0] [1 0 0]\n"
                           "2 [30 0 0] [1 0 0]\n2 [40 0 0] [1 0 0]\n"
                           "firstlap: 0 1 2\nnormallap: 3 4 2\n";

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return in ? s.str() : "<missing>";
}

class Results : public TempHomeTest {
protected:
    std::vector<std::unique_ptr<Racer>> bikes;

    void SetUp() override
    {
        TempHomeTest::SetUp();
        std::filesystem::create_directories(home);
        ASSERT_TRUE(write_bytes(data + "trk/timing_gates", LAYOUT));
        load_timing_gates("trk");
        RaceState &race = race_state();
        race = RaceState{};
        race_clear_slots();
        race.start_frame = 1000;
        race.configured_laps = race.total_laps = 2;
    }

    void TearDown() override
    {
        race_state() = RaceState{};
        free_timing_gates();
        TempHomeTest::TearDown();
    }

    Racer *add(int slot, const char *plate, const char *model, std::vector<int32_t> times,
               bool finished)
    {
        bikes.emplace_back(new Racer());
        Racer *r = bikes.back().get();
        snprintf(r->plate, sizeof r->plate, "%s", plate);
        r->model.name = model;
        for (int32_t t : times)
            r->gates.times.push(t);
        r->gates.gates_passed = (int)times.size();
        r->finished = finished;
        race_state().racers[slot] = r;
        race_state().kind[slot] = AutoPilot;
        return r;
    }

    // Two finishers, one with a missed gate and 50 frames of penalty, one with a
    // single lap; a third bike has not finished and is left out.
    void small_race()
    {
        add(0, "12", "rm125", {1100, 1200, 1300, 1400, -1, 1650}, true);
        add(1, "7", "kx250f(2008)", {1090, 1195, 1310}, true);
        add(2, "3", "yz250f(2008)", {1050}, false);
        RaceState &race = race_state();
        race.results[0] = {0, 6, 1700};
        race.results[1] = {1, 3, 1310};
        race.results[2] = {2, 1, 1050};
        race.results_count = 3;
    }
};

TEST_F(Results, LapTimesAndBestLap)
{
    // Laps 1..3: 300, 350, 200 frames; the end of lap 4 is missing, so laps 4 and 5
    // have no time; lap 6 takes 200 again.
    Racer *r = add(0, "1", "rm125",
                   {1100, 1200, 1300, 1400, 1500, 1650, 1700, 1800, 1850, 1900, 1950, -1, 2000,
                    2100, 2200, 2250, 2300, 2400},
                   false);
    const double expected[] = {0, 300 / 128.0, 350 / 128.0, 200 / 128.0, 0, 0, 200 / 128.0, 0};
    for (int k = 0; k < 8; k++)
        EXPECT_DOUBLE_EQ(lap_time(r, k), expected[k]) << k;

    int lap = -1;
    EXPECT_DOUBLE_EQ(best_lap(r, &lap), 200 / 128.0);
    EXPECT_EQ(lap, 3);      // lap 1 never counts; of equal laps the earlier one

    Racer *one = add(1, "2", "rm125", {1100, 1200, 1300, 1400}, false);
    EXPECT_DOUBLE_EQ(best_lap(one, &lap), 0);
    EXPECT_EQ(lap, 0);
}

TEST_F(Results, FileMatchesTheFixtureByteForByte)
{
    small_race();
    std::string fixture =
        read_file(std::string(RUTTMOOR_SOURCE_DIR) + "/tests/fixtures/results/small.txt");
    EXPECT_EQ(format_results("trk", 1234567890L), fixture);
}

TEST_F(Results, WriteReplacesTheFileOrLeavesThePreviousOne)
{
    small_race();
    ASSERT_TRUE(write_results());
    std::string written = read_file(home + "results.txt");
    std::string expected = format_results("", 0);
    // Everything after the first line (which holds the date) is fixed.
    EXPECT_EQ(written.substr(written.find('\n')), expected.substr(expected.find('\n')));
    EXPECT_EQ(written.rfind("Time=0.00|Laps=2|Track=|Date=", 0), 0u);
    EXPECT_FALSE(file_exists(home + "results.txt.part"));

    // The temporary file cannot be made: the old results stay as they were.
    std::filesystem::create_directories(home + "results.txt.part");
    ASSERT_TRUE(write_bytes(home + "results.txt.part/x", "x"));
    race_state().configured_laps = 5;
    EXPECT_FALSE(write_results());
    EXPECT_EQ(read_file(home + "results.txt"), written);
}

} // namespace
