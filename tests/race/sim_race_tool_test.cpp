// "ruttmoor-sim race" as a user runs it: a short race on the packed default track
// that ends, leaves "@results.txt" and the default demo in the home directory, and
// plays back; bad options and tracks are refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "tests/support/sim_tool.h"
#include "tests/support/temp_home.h"

namespace
{

struct SimRaceTool : SimToolTest {
    ProcessResult run(const std::vector<std::string> &args) { return SimToolTest::run(args, 90); }
    std::string home() const { return root + "/xdg/Ruttmoor/"; }
};

// The rider waits at the gate with the clutch in until it has dropped (13 to 15 s
// after the start; a bike pushing on a gate holds it up), then pulls away at half
// throttle, straight down the start straight through the first checkpoint.
const char STRAIGHT[] = "0 0 0 0 0 1 0 0 0 0\n"
                        "15.5 0.5 0 0 0 0 0 0 0 0\n";

TEST_F(SimRaceTool, ARaceToTheFirstGateEndsWithResultsAndADemoThatPlaysBack)
{
    // No laps: the first rider through gate 0 has finished, and so the race.
    ProcessResult r = run({"race", "--track", "fernbottom", "--lineup", "1", "--laps", "0",
                           "--seconds", "40", "--record", "--script",
                           script("straight.txt", STRAIGHT)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("order t=10 1:"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("finished=1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("result 1 "), std::string::npos) << r.out;

    std::string results = read_file(home() + "results.txt");
    EXPECT_EQ(results.rfind("Time=0.00|Laps=0|Track=fernbottom|Date=", 0), 0u) << results;
    EXPECT_NE(results.find(" No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"),
              std::string::npos);
    EXPECT_TRUE(file_exists(home() + "demos/default.qkdemo"));

    // The recorded rider rides again as a replayed demo rider and finishes again.
    r = run({"race", "--track", "fernbottom", "--play", "@demos/default.qkdemo", "--lineup",
             "0", "--laps", "0", "--seconds", "40"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("finished=1"), std::string::npos) << r.out;
}

TEST_F(SimRaceTool, BadOptionsAndTracksAreRefused)
{
    struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"race"}, 2},
        {{"race", "--laps", "3"}, 2},
        {{"race", "--track", "fernbottom", "--lineup", "2,x"}, 2},
        {{"race", "--track", "fernbottom", "--lineup", ""}, 2},
        {{"race", "--track", "fernbottom", "--laps", "-1"}, 2},
        {{"race", "--track", "fernbottom", "--seconds"}, 2},
        {{"race", "--track", "fernbottom", "--frobnicate", "1"}, 2},
        {{"race", "--track", "no-such-track"}, 1},
        {{"race", "--track", "fernbottom", "--script", "/no/such/script"}, 1},
        {{"race", "--track", "fernbottom", "--play", "@demos/missing.qkdemo"}, 1},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const auto &a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        ProcessResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err, "");
    }
}

} // namespace
