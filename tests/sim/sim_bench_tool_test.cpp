// "ruttmoor-sim bench" as the performance checks run it: every figure printed and
// plausible, no allocation in the per-tick path, and bad options refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_tool.h"
#include "tests/support/temp_home.h"

namespace
{


// The bench runs a whole simulated second or more: give it time.
struct SimBenchTool : SimToolTest {
    ProcessResult run(const std::vector<std::string> &args) { return SimToolTest::run(args, 60); }
};

std::map<std::string, std::string> keys_of(const std::string &out)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

const char *const FIGURES[] = {"wall_seconds",        "us_per_racer_tick",
                               "world_step_share",    "outside_step_seconds",
                               "inside_step_seconds", "realtime_factor",
                               "allocations_per_tick"};

// Two riders for one second: every figure printed, and the figures agree with each
// other (the world step's time is a part of the loop's, the rates follow from it).
TEST_F(SimBenchTool, TwoRidersForOneSecondPrintConsistentFigures)
{
    ProcessResult r = run({"bench", "--riders", "2", "--seconds", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::map<std::string, std::string> keys = keys_of(r.out);
    for (const char *key : FIGURES)
        ASSERT_TRUE(keys.count(key)) << key << " missing from:\n" << r.out;
    EXPECT_EQ(keys["riders"], "2");
    EXPECT_EQ(keys["ticks"], "128");
    double wall = atof(keys["wall_seconds"].c_str());
    double inside = atof(keys["inside_step_seconds"].c_str());
    double outside = atof(keys["outside_step_seconds"].c_str());
    ASSERT_GT(wall, 0);
    EXPECT_GT(inside, 0);
    EXPECT_GE(outside, 0);
    EXPECT_NEAR(inside + outside, wall, 1e-5);
    EXPECT_NEAR(atof(keys["world_step_share"].c_str()), inside / wall, 1e-3);
    EXPECT_NEAR(atof(keys["realtime_factor"].c_str()), 1 / wall, 1e-2 / wall);
    double per_racer_tick = wall * 1e6 / (128 * 2);
    EXPECT_NEAR(atof(keys["us_per_racer_tick"].c_str()), per_racer_tick, 1e-2 * per_racer_tick);
    EXPECT_GE(atof(keys["allocations_per_tick"].c_str()), 0);
}

// The per-tick path allocates nothing once the first second has sized the scratch
// lists and ODE's working memory.
TEST_F(SimBenchTool, SteadyTicksAllocateNothing)
{
    ProcessResult r = run({"bench", "--riders", "2", "--seconds", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(keys_of(r.out)["allocations_per_tick"], "0.0000") << r.out;
}

TEST_F(SimBenchTool, BadOptionsExitWithUsageStatus)
{
    const std::vector<std::vector<std::string>> cases = {
        {"bench", "--riders", "0"},
        {"bench", "--riders", "161"},
        {"bench", "--riders", "2x"},
        {"bench", "--riders"},
        {"bench", "--seconds", "-1"},
        {"bench", "--seconds", "nan"},
        {"bench", "--seconds", ""},
        {"bench", "--speed", "3"},
        {"bench", "extra"},
    };
    for (const std::vector<std::string> &args : cases) {
        ProcessResult r = run(args);
        std::string joined;
        for (const std::string &a : args)
            joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_EQ(r.out, "") << joined;
        EXPECT_NE(r.err, "") << joined;
    }
}

TEST_F(SimBenchTool, MissingTrackFails)
{
    ProcessResult r = run({"bench", "--riders", "1", "--seconds", "0.1", "--track", "nowhere"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Can't load track 'nowhere'"), std::string::npos) << r.err;
}

}  // namespace
