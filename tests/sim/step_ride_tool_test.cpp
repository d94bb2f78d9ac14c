// "ruttmoor-sim ride" as other checks run it: the CSV it prints for a scripted
// ride on flat ground, and the refusals of bad options and bad scripts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_tool.h"
#include "tests/support/temp_home.h"

namespace
{

const char HEADER[] = "t,x,y,z,speed_mph,rpm,gear,roll_deg,pitch_deg,steer_deg,crashed,"
                      "front_contact,rear_contact";

using SimRideTool = SimToolTest;

std::vector<std::vector<double>> rows_of(const std::string &out)
{
    std::vector<std::vector<double>> rows;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);     // the header
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ','))
            row.push_back(atof(cell.c_str()));
        rows.push_back(row);
    }
    return rows;
}

TEST_F(SimRideTool, FullThrottleOnFlatGroundPrintsARowEveryEighthSecond)
{
    std::string path = script("wot.txt", "# t throttle fb rb steer clutch dab back lean shift\n"
                                         "\n"
                                         "0 0 0 0 0 1 0 0 0 0\n"
                                         "0.5 1 0 0 0 0 0 0 0 0\n");
    ProcessResult r = run({"ride", "--flat", "--bike", "crf450(2013)", "--set",
                           "auto_shift=yes", "--script", path, "--seconds", "4", "--start",
                           "10,20,0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(r.out.substr(0, sizeof HEADER), std::string(HEADER) + "\n");
    std::vector<std::vector<double>> rows = rows_of(r.out);
    ASSERT_EQ(rows.size(), 33u);
    for (size_t i = 0; i < rows.size(); i++) {
        ASSERT_EQ(rows[i].size(), 13u) << i;
        EXPECT_DOUBLE_EQ(rows[i][0], i * 0.125);
    }
    EXPECT_NEAR(rows[0][1], 10, 1e-3);
    EXPECT_NEAR(rows[0][3], 20, 1e-3);
    // The lever pulled in holds the bike while the engine revs; then it goes.
    EXPECT_LT(rows[4][4], 0.5);
    const std::vector<double> &last = rows.back();
    EXPECT_GT(last[4], 20);             // mph
    EXPECT_LT(last[3], 20 - 50);        // forward along -z at heading 0
    EXPECT_EQ(last[10], 0);             // not crashed
    EXPECT_EQ(last[11], 1);
    EXPECT_EQ(last[12], 1);
}

// A fourth --start value lets the bike go that many feet above the ground; the
// first row shows it there, and it has come down onto both wheels a second later.
TEST_F(SimRideTool, StartHeightLiftsTheBikeAboveTheGround)
{
    struct {
        const char *start;
        double lift;
    } cases[] = {{"10,20,0", 0}, {"10,20,0,0", 0}, {"10,20,0,2.5", 2.5}, {"10,20,0,4", 4}};
    double ground_y = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.start);
        ProcessResult r = run({"ride", "--flat", "--seconds", "1.5", "--start", c.start});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::vector<double>> rows = rows_of(r.out);
        ASSERT_EQ(rows.size(), 13u);
        if (c.lift == 0)
            ground_y = rows[0][2];
        EXPECT_NEAR(rows[0][2] - ground_y, c.lift, 1e-3);
        EXPECT_NEAR(rows[0][1], 10, 1e-3);
        EXPECT_NEAR(rows[0][3], 20, 1e-3);
        EXPECT_EQ(rows[1][11], c.lift == 0);        // front wheel on the ground
        EXPECT_EQ(rows.back()[11], 1);
        EXPECT_EQ(rows.back()[12], 1);
        EXPECT_NEAR(rows.back()[2], ground_y, 0.5);
    }
}

TEST_F(SimRideTool, RefusesBadOptionsAndBadScripts)
{
    struct {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"ride"}, 2, "usage:"},
        {{"ride", "--seconds", "1"}, 2, "usage:"},
        {{"ride", "--flat", "--set", "no_such_key=1"}, 2, "Unknown setup key 'no_such_key'"},
        {{"ride", "--flat", "--set", "max_dab_speed=fast"}, 2, "Bad number 'fast'"},
        {{"ride", "--flat", "--set", "auto_shift=maybe"}, 2, "Bad choice 'maybe'"},
        {{"ride", "--flat", "--seconds", "-1"}, 2, "Bad number of seconds"},
        {{"ride", "--flat", "--start", "1,2"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,2,3,4,5"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,z,3"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,2,3,high"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,2,3,"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,2,3,inf"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--start", "1,2,3,-1"}, 2, "Expected --start X,Z,HEADING"},
        {{"ride", "--flat", "--script", "/no/such/file"}, 1, "Can't open control script"},
        {{"ride", "--flat", "--script", script("short.txt", "0 1 0 0 0 0 0 0 0\n")}, 1,
         "Bad control line 1"},
        {{"ride", "--flat", "--script", script("back.txt", "1 0 0 0 0 0 0 0 0 0\n"
                                                           "0.5 0 0 0 0 0 0 0 0 0\n")},
         1, "Bad control line 2"},
        {{"ride", "--flat", "--script", script("shift.txt", "0 0 0 0 0 0 0 0 0 2\n")}, 1,
         "Bad control line 1"},
        {{"ride", "--flat", "--script", script("long.txt", std::string(2000, '1'))}, 1,
         "Bad control line 1"},
        {{"ride", "--flat", "--script", script("nan.txt", "0 nan 0 0 0 0 0 0 0 0\n")}, 1,
         "Bad control line 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        ProcessResult r = run(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
