// Short scripted rides on flat ground through "ruttmoor-sim ride", checked only
// through what its CSV shows: launch and braking figures, a bike left alone at
// rest, backing up, wheelie control, hard front braking, drops onto flat ground,
// a crash with its re-mount, and the arcade controller's steering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_tool.h"
#include "tests/support/temp_home.h"

namespace
{

const std::string fixtures = std::string(RUTTMOOR_SOURCE_DIR) + "/tests/fixtures/ride/";

// Columns of a CSV row.
enum { T, X, Y, Z, MPH, RPM, GEAR, ROLL, PITCH, STEER, CRASHED, FRONT, REAR, COLUMNS };

typedef std::vector<std::vector<double>> Rows;

struct RideScenario : SimToolTest {
    // Rides on flat ground and returns the rows; none when the tool failed.
    Rows ride(const std::string &script_path, double seconds,
              const std::vector<std::string> &extra)
    {
        std::vector<std::string> args = {"ride", "--flat", "--script", script_path,
                                         "--seconds", std::to_string(seconds)};
        args.insert(args.end(), extra.begin(), extra.end());
        ProcessResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        Rows rows;
        std::istringstream in(r.out);
        std::string line;
        std::getline(in, line);     // the header
        while (std::getline(in, line)) {
            std::vector<double> row;
            std::istringstream cells(line);
            std::string cell;
            while (std::getline(cells, cell, ','))
                row.push_back(atof(cell.c_str()));
            EXPECT_EQ(row.size(), (size_t)COLUMNS) << line;
            if (row.size() == COLUMNS)
                rows.push_back(row);
        }
        EXPECT_FALSE(rows.empty());
        return rows;
    }
};

double column_max(const Rows &rows, int column, double from = 0)
{
    double m = -1e30;
    for (const auto &r : rows)
        if (r[T] >= from)
            m = std::max(m, r[column]);
    return m;
}

double column_max_abs(const Rows &rows, int column, double from = 0)
{
    double m = 0;
    for (const auto &r : rows)
        if (r[T] >= from)
            m = std::max(m, fabs(r[column]));
    return m;
}

// First time the speed reaches mph, or a negative number when it never does.
double time_to(const Rows &rows, double mph)
{
    for (const auto &r : rows)
        if (r[MPH] >= mph)
            return r[T];
    return -1;
}

bool never_crashed(const Rows &rows)
{
    for (const auto &r : rows)
        if (r[CRASHED] != 0)
            return false;
    return true;
}

// A 450 reaches 60 mph in about four seconds and a 125 a little later; both must
// be within reach of that, not twice as slow or implausibly quick.
TEST_F(RideScenario, FullThrottleLaunchReachesRealisticSpeeds)
{
    struct {
        const char *bike;
        double to30_min, to30_max, to60_min, to60_max, top_min, top_max;
    } cases[] = {
        {"crf450(2013)", 1.5, 3.5, 3.0, 6.0, 80, 110},
        {"kx125", 1.5, 4.0, 3.5, 7.5, 65, 95},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bike);
        Rows rows = ride(fixtures + "full_throttle.txt", 14,
                         {"--bike", c.bike, "--set", "auto_shift=Yes"});
        ASSERT_FALSE(rows.empty());
        // The script lets the clutch out at 0.5 s.
        double to30 = time_to(rows, 30) - 0.5, to60 = time_to(rows, 60) - 0.5;
        EXPECT_GE(to30, c.to30_min);
        EXPECT_LE(to30, c.to30_max);
        EXPECT_GE(to60, c.to60_min);
        EXPECT_LE(to60, c.to60_max);
        EXPECT_GE(column_max(rows, MPH), c.top_min);
        EXPECT_LE(column_max(rows, MPH), c.top_max);
        EXPECT_GT(rows.back()[GEAR], 1);        // the automatic gearbox shifted up
        EXPECT_TRUE(never_crashed(rows));
    }
}

// Both brakes from 40 mph on ground of friction 1: a dirt bike stops in roughly
// 50 to 100 feet, straight and upright; the engine idles once it has stopped.
TEST_F(RideScenario, BothBrakesFromFortyStopShortAndStraight)
{
    Rows rows = ride(fixtures + "brake_from_40.txt", 7, {"--bike", "crf450(2013)"});
    ASSERT_FALSE(rows.empty());
    double brake_z = 0;
    for (const auto &r : rows)
        if (r[T] <= 3.5)
            brake_z = r[Z];
    const std::vector<double> &last = rows.back();
    EXPECT_LT(fabs(last[MPH]), 0.5);
    EXPECT_GT(brake_z - last[Z], 50);
    EXPECT_LT(brake_z - last[Z], 100);
    EXPECT_NEAR(last[X], rows[0][X], 0.5);
    EXPECT_LT(column_max_abs(rows, ROLL), 2);
    EXPECT_TRUE(never_crashed(rows));
    EXPECT_GT(last[RPM], 1000);             // the lever is in: it did not stall
    EXPECT_LT(last[RPM], 2500);
}

// Knocked over by a steering jab at a standstill, the bike is caught by the dab
// and comes back upright, without crashing or wandering off.
TEST_F(RideScenario, StaysUprightAtRestWithAutoDab)
{
    // Normal physics: in arcade mode the roll motor alone would hold the bike up.
    std::string jab = script("jab.txt", "0 0 0 0 0.5 0 0 0 0 0\n"
                                        "0.5 0 0 0 0 0 0 0 0 0\n");
    Rows rows = ride(jab, 6, {"--set", "arcade=No", "--set", "auto_dab=Yes"});
    ASSERT_FALSE(rows.empty());
    EXPECT_GT(column_max_abs(rows, ROLL), 1);       // the jab did tip it
    EXPECT_LT(column_max_abs(rows, ROLL, 3), 1.5);
    EXPECT_LT(column_max_abs(rows, MPH, 3), 0.3);
    EXPECT_NEAR(rows.back()[Z], rows[0][Z], 1);
    EXPECT_EQ(rows.back()[FRONT], 1);
    EXPECT_EQ(rows.back()[REAR], 1);
    EXPECT_TRUE(never_crashed(rows));

    // Without the dab nothing holds a standing bike: it topples onto its side.
    rows = ride(jab, 6, {"--set", "arcade=No", "--set", "auto_dab=No"});
    ASSERT_FALSE(rows.empty());
    EXPECT_GT(fabs(rows.back()[ROLL]), 45);
}

// Three pulses of the back-up control push the stopped bike a little way
// backwards (along +z at heading 0) and leave it there, upright.
TEST_F(RideScenario, BackUpPulsesMoveTheBikeBackwards)
{
    std::string pulses = script("back.txt", "0 0 0 0 0 0 0 0 0 0\n"
                                            "1 0 0 0 0 0 0 1 0 0\n"
                                            "1.25 0 0 0 0 0 0 0 0 0\n"
                                            "1.5 0 0 0 0 0 0 1 0 0\n"
                                            "1.75 0 0 0 0 0 0 0 0 0\n"
                                            "2 0 0 0 0 0 0 1 0 0\n"
                                            "2.25 0 0 0 0 0 0 0 0 0\n");
    Rows rows = ride(pulses, 4, {});
    ASSERT_FALSE(rows.empty());
    double z_before = 0;
    for (const auto &r : rows)
        if (r[T] <= 1)
            z_before = r[Z];
    const std::vector<double> &last = rows.back();
    EXPECT_GT(last[Z] - z_before, 0.5);
    EXPECT_LT(last[Z] - z_before, 5);
    EXPECT_NEAR(last[X], rows[0][X], 0.2);
    EXPECT_LT(fabs(last[MPH]), 0.1);
    EXPECT_TRUE(never_crashed(rows));
}

// Full throttle in first gear with the rider's weight back: "Stop Wheelies" must
// keep the front wheel on the ground.
// Full throttle in first gear with the weight back (lean +1) on grippy ground
// (friction 1.6): the 450's drive is then enough to lift the front. On friction 1
// the rear tyre spins before the front comes up, as the bike's low centre of mass
// (two thirds of the rider's mass sit in the frame) would have it.
const char WHEELIE[] = "0 0 0 0 0 1 0 0 1 0\n"
                       "0.5 1 0 0 0 0 0 0 1 0\n";

TEST_F(RideScenario, StopWheeliesCutsTheDriveWhenTheFrontLifts)
{
    struct {
        const char *stop_wheelies;
        bool lifts;
    } cases[] = {{"No", true}, {"Yes", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stop_wheelies);
        Rows rows = ride(script("wheelie.txt", WHEELIE), 4,
                         {"--friction", "1.6", "--bike", "crf450(2013)", "--set",
                          std::string("stop_wheelies=") + c.stop_wheelies});
        ASSERT_FALSE(rows.empty());
        if (c.lifts) {
            // Up past 45 degrees: without the assist the bike loops out.
            EXPECT_GT(column_max(rows, PITCH), 45);
        } else {
            EXPECT_LT(column_max(rows, PITCH), 10);
            EXPECT_TRUE(never_crashed(rows));
            EXPECT_GT(column_max(rows, MPH), 30);
        }
    }
}

// Hard on the front brake alone at 40 mph with antilock: the front keeps rolling,
// which the CSV shows as a straight, upright stop with the front wheel on the
// ground and the speed falling steadily rather than the bike going over.
TEST_F(RideScenario, AntilockFrontBrakeStopsStraightAndUpright)
{
    std::string brake = script("front.txt", "0 0 0 0 0 1 0 0 0 0\n"
                                            "0.5 1 0 0 0 0 0 0 0 0\n"
                                            "3.525 0 1 0 0 1 0 0 0 0\n");
    Rows rows = ride(brake, 8, {"--bike", "crf450(2013)", "--set", "front_brake=Antilock"});
    ASSERT_FALSE(rows.empty());
    double previous = 1e30;
    for (const auto &r : rows) {
        if (r[T] < 3.75)
            continue;
        SCOPED_TRACE(r[T]);
        EXPECT_EQ(r[FRONT], 1);
        EXPECT_LT(fabs(r[ROLL]), 2);
        EXPECT_GT(r[PITCH], -15);           // not going over the bars
        if (r[MPH] > 1) {                   // it rocks a little once stopped
            EXPECT_LE(r[MPH], previous + 0.05);
        }
        previous = r[MPH];
    }
    EXPECT_LT(rows.back()[MPH], 10);
    EXPECT_NEAR(rows.back()[X], rows[0][X], 0.5);
    EXPECT_TRUE(never_crashed(rows));
}

// Let go 2 or 3 ft above the ground, the suspension takes the landing: no
// crash, both wheels stay down once landed, and the bike rides off straight and
// upright. Both steering controllers are tried.
TEST_F(RideScenario, ASmallDropIsAbsorbedAndTheBikeRidesOn)
{
    struct {
        const char *height, *arcade;
    } cases[] = {{"2", "No"}, {"3", "No"}, {"2", "Yes"}, {"3", "Yes"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.height << " ft, arcade " << c.arcade);
        Rows rows = ride(fixtures + "drop_ride_away.txt", 6,
                         {"--start", std::string("128,128,0,") + c.height, "--set",
                          std::string("arcade=") + c.arcade});
        ASSERT_FALSE(rows.empty());
        EXPECT_TRUE(never_crashed(rows));
        double landed = -1;
        for (const auto &r : rows) {
            if (landed < 0 && r[FRONT] + r[REAR] > 0)
                landed = r[T];
        }
        ASSERT_GT(landed, 0.25);        // it did start in the air
        ASSERT_LT(landed, 0.75);
        for (const auto &r : rows) {
            if (r[T] < landed + 0.25)
                continue;
            SCOPED_TRACE(r[T]);
            EXPECT_EQ(r[FRONT], 1);
            EXPECT_EQ(r[REAR], 1);
            EXPECT_LT(fabs(r[ROLL]), 3);
            EXPECT_LT(fabs(r[PITCH]), 10);
        }
        const std::vector<double> &last = rows.back();
        EXPECT_GT(last[MPH], 15);
        EXPECT_LT(last[Z], rows[0][Z] - 80);        // forward along -z
        EXPECT_NEAR(last[X], rows[0][X], 2);
    }
}

// First time after a crash that the frame has stopped: it moves less than
// 0.05 ft over each of the next two rows (a bounce's top never does both).
// Negative when it never rests.
double rest_after_crash(const Rows &rows)
{
    bool crashed = false;
    for (size_t i = 0; i + 2 < rows.size(); i++) {
        crashed = crashed || rows[i][CRASHED] != 0;
        if (!crashed)
            continue;
        bool still = true;
        for (size_t k = i; k < i + 2; k++) {
            double dx = rows[k + 1][X] - rows[k][X], dy = rows[k + 1][Y] - rows[k][Y];
            double dz = rows[k + 1][Z] - rows[k][Z];
            still = still && dx * dx + dy * dy + dz * dz < 0.05 * 0.05;
        }
        if (still)
            return rows[i][T];
    }
    return -1;
}

// Let go 35 ft above flat ground (about 47 ft/s at the touch-down, far more than
// a bike can land flat), the rider comes off. The count to the re-mount runs
// only while the rider lies still, 512 ticks: the rider is back on the bike about
// 4 s after the bike has come to rest, and the bike is upright again.
TEST_F(RideScenario, AHighDropCrashesAndTheRiderRemountsFourSecondsAfterRest)
{
    for (const char *arcade : {"No", "Yes"}) {
        SCOPED_TRACE(testing::Message() << "arcade " << arcade);
        Rows rows = ride(script("still.txt", "0 0 0 0 0 1 0 0 0 0\n"), 10,
                         {"--start", "128,128,0,35", "--set", std::string("arcade=") + arcade});
        ASSERT_FALSE(rows.empty());
        double crash = -1, remount = -1;
        for (const auto &r : rows) {
            if (crash < 0 && r[CRASHED] != 0)
                crash = r[T];
            if (crash >= 0 && remount < 0 && r[CRASHED] == 0)
                remount = r[T];
        }
        // Free fall takes about 1.5 s; the crash comes with the landing.
        ASSERT_GT(crash, 1.25);
        ASSERT_LT(crash, 2);
        double rest = rest_after_crash(rows);
        ASSERT_GT(rest, crash - 0.01);
        ASSERT_GT(remount, 0) << "still down at the end";
        EXPECT_NEAR(remount - rest, 4.0, 0.375) << "rest " << rest << " remount " << remount;
        for (const auto &r : rows) {
            if (r[T] < remount)
                continue;
            SCOPED_TRACE(r[T]);
            EXPECT_EQ(r[CRASHED], 0);
        }
        const std::vector<double> &last = rows.back();
        EXPECT_LT(fabs(last[ROLL]), 10);
        EXPECT_EQ(last[FRONT], 1);
        EXPECT_EQ(last[REAR], 1);
    }
}

// With the arcade flag a motor holds the bike's lean at steer × 45 degrees: at
// about 20 mph a steady steer input leans the bike towards that side and it turns
// the same way (heading, as --start counts it, falls for positive steer: to the
// right), without crashing; no steer keeps it straight and upright.
TEST_F(RideScenario, ArcadeSteeringLeansAndTurnsTowardsTheSteerSide)
{
    for (double steer : {0.5, -0.5, 1.0, -0.25, 0.0}) {
        SCOPED_TRACE(testing::Message() << "steer " << steer);
        char text[400];
        snprintf(text, sizeof text,
                 "0   0    0 0 0    1 0 0 0 0\n"
                 "0.5 1    0 0 0    0 0 0 0 0\n"
                 "2   0.15 0 0 0    0 0 0 0 0\n"
                 "3   0.15 0 0 %.2f 0 0 0 0 0\n",
                 steer);
        Rows rows = ride(script("turn.txt", text), 6, {"--set", "arcade=Yes"});
        ASSERT_FALSE(rows.empty());
        EXPECT_TRUE(never_crashed(rows));
        // The turn from 3.75 s, once the lean has settled, summed row by row along
        // the path.
        double turned = 0, previous = 0;
        bool first = true;
        for (size_t i = 1; i < rows.size(); i++) {
            if (rows[i][T] < 3.75)
                continue;
            SCOPED_TRACE(rows[i][T]);
            EXPECT_GT(rows[i][MPH], 12);
            EXPECT_LT(rows[i][MPH], 30);
            EXPECT_NEAR(rows[i][ROLL], steer * 45, 3);
            EXPECT_EQ(rows[i][FRONT], 1);
            EXPECT_EQ(rows[i][REAR], 1);
            double heading = atan2(-(rows[i][X] - rows[i - 1][X]), -(rows[i][Z] - rows[i - 1][Z]));
            if (!first)
                turned += remainder(heading - previous, 2 * M_PI);
            previous = heading;
            first = false;
        }
        turned *= 180 / M_PI;
        if (steer == 0) {
            EXPECT_LT(fabs(turned), 2);
        } else {
            EXPECT_LT(turned * steer, 0) << turned;
            EXPECT_GT(fabs(turned), 60 * fabs(steer)) << turned;
        }
    }
}

} // namespace
