// Timing gates: reading and writing "timing_gates", the lap layout arithmetic and
// the crossing rules a rider meets on the track.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "tests/support/temp_home.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

class Gates : public TempHomeTest {
protected:
    void TearDown() override
    {
        gates_set_hooks(nullptr);
        free_timing_gates();
        free_track_objects();
        TempHomeTest::TearDown();
    }

    void load(const std::string &text)
    {
        ASSERT_TRUE(write_bytes(data + "trk/timing_gates", text));
        load_timing_gates("trk");
    }
};

std::string checkpoint_lines(int count)
{
    std::string text = "checkpoints:\n";
    for (int i = 0; i < count; i++)
        text += "2 [ " + std::to_string(10 * i) + " 0 0 ] [ 1 0 0 ]\n";
    return text;
}

TEST_F(Gates, ReadsSectionsAndRejectsLayoutsWithoutLines)
{
    const std::string two = checkpoint_lines(2);
    const std::string gate = "startinggate:\n[ 5 1 7 ] 0.5\n";
    struct Case {
        const char *what;
        std::string text;
        int gates, checkpoints, first, normal, first_lines, normal_lines;
    } cases[] = {
        {"all sections", gate + two + "firstlap:\n0 1\nnormallap:\n1 0 1\n", 1, 2, 2, 3, 2, 3},
        {"checkpoints first, no starting gates", two + "firstlap: 0 1 normallap: 0 1", 0, 2, 2,
         2, 2, 2},
        {"checkpoints on the keyword's line", gate + "checkpoints: 2 [0 0 0] [1 0 0]\n"
                                                     "firstlap: 0 normallap: 0",
         1, 1, 1, 1, 1, 1},
        {"blank lines among the starting gates", "startinggate:\n\n[1 2 3] 0\n  \n[4 5 6] 0\n" +
                                                     two + "firstlap: 0 normallap: 1",
         2, 2, 1, 1, 1, 1},
        {"flagged entries count for laps, not lines", two + "firstlap: 0 100001 normallap: 1",
         0, 2, 2, 1, 1, 1},
        {"every first-lap entry flagged", two + "firstlap: 100000 100001 normallap: 0 1", 0, 0,
         0, 0, 0, 0},
        {"every normal-lap entry flagged", two + "firstlap: 0 normallap: 100001", 0, 0, 0, 0, 0,
         0},
        {"no normal lap", two + "firstlap: 0 1\n", 0, 0, 0, 0, 0, 0},
        {"normal lap without first lap", two + "normallap: 0 1\n", 0, 0, 0, 0, 0, 0},
        {"lap lists without checkpoints", "firstlap: 0 normallap: 0", 0, 0, 0, 0, 0, 0},
        {"starting gates only", gate, 1, 0, 0, 0, 0, 0},
        {"a bad gate line ends the file's gates and timing",
         "startinggate:\n[1 2 3] 0\n[1 2] 0\n" + two + "firstlap: 0 normallap: 1", 1, 0, 0, 0, 0,
         0},
        {"malformed checkpoint number stops the checkpoints",
         "checkpoints:\n2 [0 0 0] [1 0 0]\n2 [1x 0 0] [1 0 0]\nfirstlap: 0 normallap: 0", 0, 0, 0,
         0, 0, 0},
        {"non-finite checkpoint values are not read",
         "checkpoints:\n2 [0 0 0] [1 0 0]\nnan [0 0 0] [1 0 0]\n", 0, 0, 0, 0, 0, 0},
        {"lap list ends at the first non-number", two + "firstlap: 0 1 x 1 normallap: 1", 0, 0,
         0, 0, 0, 0},
        {"empty file", "", 0, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        free_track_objects();
        load(c.text);
        const TimingTables &t = timing_tables();
        EXPECT_EQ(t.starting_gate_count, c.gates);
        EXPECT_EQ(t.checkpoint_count, c.checkpoints);
        EXPECT_EQ(t.first_lap_count, c.first);
        EXPECT_EQ(t.normal_lap_count, c.normal);
        EXPECT_EQ(t.first_lap_lines, c.first_lines);
        EXPECT_EQ(t.normal_lap_lines, c.normal_lines);
    }
}

TEST_F(Gates, MissingFileMeansNoGatesAndNoTiming)
{
    load(checkpoint_lines(2) + "firstlap: 0 normallap: 1");
    ASSERT_EQ(timing_tables().checkpoint_count, 2);
    load_timing_gates("nosuchtrack");
    EXPECT_EQ(timing_tables().checkpoint_count, 0);
    EXPECT_EQ(timing_tables().starting_gate_count, 0);
}

TEST_F(Gates, LapEntriesAreClampedKeepingTheirFlag)
{
    load(checkpoint_lines(2) + "firstlap: 100003 -5 7 1 normallap: 200000 99999999999 0");
    const TimingTables &t = timing_tables();
    ASSERT_EQ(t.first_lap_count, 4);
    ASSERT_EQ(t.normal_lap_count, 3);
    const int32_t expected[] = {100001, 0, 1, 1, 100000, 100001, 0};
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(t.lap_entries[i], expected[i]) << i;
    EXPECT_EQ(t.first_lap_lines, 3);
    EXPECT_EQ(t.normal_lap_lines, 1);
}

TEST_F(Gates, StartingGatesCreateTheirObjectBehindTheLine)
{
    load("startinggate:\n"
         "[ 10 2 20 ] 4.0\n"
         "[ 0 0 0 ] -0.5 @a.vm\n"
         "[ 0 0 0 ] 0 @b.vm null @b.shp\n");
    const TimingTables &t = timing_tables();
    ASSERT_EQ(t.starting_gate_count, 3);
    const StartingGate &g = t.starting_gates[0];
    float a = (float)(4.0 - 2 * M_PI);
    EXPECT_NEAR(g.angle, a, 1e-5);
    EXPECT_STREQ(g.model, "@startgate.vm");
    EXPECT_STREQ(g.texture, "@startgate.ppm");
    EXPECT_STREQ(g.shape, "@startgate.shp");
    EXPECT_EQ(g.bar, 1);
    ASSERT_GE(g.statue, 0);
    const Statue &s = track().statues[g.statue];
    EXPECT_NEAR(s.x, 10 - 3 * sinf(a), 1e-4);
    EXPECT_NEAR(s.z, 20 - 3 * cosf(a), 1e-4);
    EXPECT_NEAR(s.angle, a, 1e-5);

    EXPECT_STREQ(t.starting_gates[1].model, "@a.vm");
    EXPECT_STREQ(t.starting_gates[1].texture, "@startgate.ppm");
    EXPECT_EQ(t.starting_gates[2].texture, nullptr);
    EXPECT_STREQ(t.starting_gates[2].shape, "@b.shp");
}

TEST_F(Gates, SurplusGatesCheckpointsAndEntriesAreNotRead)
{
    std::string text = "startinggate:\n";
    for (int i = 0; i < 170; i++)
        text += "[" + std::to_string(i) + " 0 0] 0\n";
    text += checkpoint_lines(300) + "firstlap:";
    for (int i = 0; i < 300; i++)
        text += " " + std::to_string(i);
    text += "\nnormallap: 5 6\n";
    load(text);
    const TimingTables &t = timing_tables();
    EXPECT_EQ(t.starting_gate_count, MAX_STARTING_GATES);
    EXPECT_EQ(t.starting_gates[159].x, 159);
    EXPECT_EQ(t.checkpoint_count, MAX_TIMING_GATES);
    EXPECT_EQ(t.checkpoints[255].x, 2550);
    EXPECT_EQ(t.first_lap_count, MAX_LAP_ENTRIES);
    EXPECT_EQ(t.lap_entries[255], 255);
    EXPECT_EQ(t.normal_lap_count, 2);
    EXPECT_EQ(t.lap_entries[256], 5);
}

TEST_F(Gates, WrittenFileReadsBackTheSame)
{
    load("startinggate:\n[1.5 2 3] 0.25\n[4 5 6] -1 @m.vm null @s.shp\n"
         "checkpoints:\n3 [1 2 3] [0.5 0 -1]\n4.5 [7 8 9] [1 0 0]\n"
         "firstlap: 0 100001\nnormallap: 1 0\n");
    ASSERT_TRUE(save_timing_gates("trk"));
    std::string written = read_data("@trk/timing_gates");
    EXPECT_EQ(written, "startinggate:\n"
                       "[1.500000 2.000000 3.000000] 0.250000\n"
                       "[4.000000 5.000000 6.000000] -1.000000 @m.vm null @s.shp\n"
                       "checkpoints:\n"
                       "3.000000 [1.000000 2.000000 3.000000] [0.500000 0.000000 -1.000000]\n"
                       "4.500000 [7.000000 8.000000 9.000000] [1.000000 0.000000 0.000000]\n"
                       "firstlap:\n0 100001 \nnormallap:\n1 0 \n");
    EXPECT_TRUE(file_exists(home + "trk/timing_gates"));
    EXPECT_FALSE(file_exists(home + "trk/timing_gates.part"));

    TimingTables before = timing_tables();
    free_track_objects();
    load_timing_gates("trk");   // the home copy comes first
    const TimingTables &after = timing_tables();
    ASSERT_EQ(after.starting_gate_count, 2);
    for (int i = 0; i < 2; i++) {
        const StartingGate &a = before.starting_gates[i], &b = after.starting_gates[i];
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.angle, b.angle);
        EXPECT_EQ(a.model, b.model);    // interned: equal names, equal pointers
        EXPECT_EQ(a.texture, b.texture);
        EXPECT_EQ(a.shape, b.shape);
    }
    ASSERT_EQ(after.checkpoint_count, 2);
    EXPECT_EQ(memcmp(before.checkpoints, after.checkpoints, sizeof before.checkpoints), 0);
    EXPECT_EQ(after.first_lap_count, 2);
    EXPECT_EQ(after.normal_lap_count, 2);
    EXPECT_EQ(memcmp(before.lap_entries, after.lap_entries, sizeof before.lap_entries), 0);
}

TEST_F(Gates, UnwritableTimingGatesIsReported)
{
    load(checkpoint_lines(1) + "firstlap: 0 normallap: 0");
    // A file where the track's folder should be.
    ASSERT_TRUE(write_bytes(home + "trk", "x"));
    EXPECT_FALSE(save_timing_gates("trk"));
    const MessageLog &log = message_log();
    EXPECT_STREQ(log.lines[(log.write_index + MESSAGE_LINES - 1) % MESSAGE_LINES],
                 "Can't open 'timing_gates'\n");
}

// Five checkpoints along x, each a circle of radius 2 crossed towards +x. The first
// lap is checkpoints 0 1 2, every further lap 3 4 2: laps end at race gates 2, 5, 8...
const char *const LAYOUT = "checkpoints:\n"
                           "2 [0 0 0] [1 0 0]\n2 [10 0 0] [1 0 0]\n2 [20 0 0] [1 0 0]\n"
                           "2 [30 0 0] [1 0 0]\n2 [40 0 0] [1 0 0]\n"
                           "firstlap: 0 1 2\nnormallap: 3 4 2\n";

class Crossing : public Gates {
protected:
    GateProgress racer;
    int32_t frame = 100;

    void SetUp() override
    {
        Gates::SetUp();
        load(LAYOUT);
        ASSERT_EQ(timing_tables().checkpoint_count, 5);
    }
    // Puts the front wheel just through a checkpoint (or dx before it).
    void ride_through(int checkpoint, float dx = 0.5f, float dz = 0, int total_laps = 3)
    {
        const TimingGate &c = timing_tables().checkpoints[checkpoint];
        float wheel[3] = {c.x + dx, 0, c.z + dz};
        check_gates(&racer, wheel, ++frame, total_laps);
    }
};

TEST_F(Crossing, GatesInOrderRecordTheirFrames)
{
    ride_through(0, -0.5f);     // on the near side: not through yet
    EXPECT_EQ(racer.gates_passed, 0);
    ride_through(0);
    ride_through(0);            // still in it: the gate just passed is not looked at
    ride_through(1);
    EXPECT_EQ(racer.gates_passed, 2);
    EXPECT_EQ(gate_time(&racer, 0), 102);
    EXPECT_EQ(gate_time(&racer, 1), 104);
    EXPECT_EQ(gate_time(&racer, 2), -1);
    EXPECT_EQ(gate_time(&racer, -1), -1);
}

TEST_F(Crossing, TheCircleAndThePlaneThemselvesCount)
{
    ride_through(0, 0, 2.0f);   // dx = 0 (on the plane), dx^2 + dz^2 = r^2
    EXPECT_EQ(racer.gates_passed, 1);
    ride_through(1, 0.01f, 2.0f);
    EXPECT_EQ(racer.gates_passed, 1);
    ride_through(1, -0.01f, 0);
    EXPECT_EQ(racer.gates_passed, 1);
}

TEST_F(Crossing, SkippedGatesStayMissedAndCanBeCollected)
{
    ride_through(1);            // gate 0 skipped
    EXPECT_EQ(racer.gates_passed, 2);
    EXPECT_EQ(gate_time(&racer, 0), -1);
    EXPECT_EQ(gate_time(&racer, 1), 101);
    ride_through(0);            // back to the missed one
    EXPECT_EQ(racer.gates_passed, 1);
    EXPECT_EQ(gate_time(&racer, 0), 102);
    ride_through(1);
    ride_through(2);
    ride_through(4);            // race gate 4, two ahead: gate 3 missed
    EXPECT_EQ(racer.gates_passed, 5);
    EXPECT_EQ(gate_time(&racer, 3), -1);
    ride_through(3);            // gate 3, two back, collected
    EXPECT_EQ(racer.gates_passed, 4);
    EXPECT_EQ(gate_time(&racer, 3), 106);
    EXPECT_EQ(gate_time(&racer, 4), 105);
}

TEST_F(Crossing, TwoGatesMayBeSkippedAtOnce)
{
    ride_through(2);            // race gate 2 from the start
    EXPECT_EQ(racer.gates_passed, 3);
    EXPECT_EQ(gate_time(&racer, 0), -1);
    EXPECT_EQ(gate_time(&racer, 1), -1);
    EXPECT_EQ(gate_time(&racer, 2), 101);
}

TEST_F(Crossing, TheGateJustPassedIsNotTakenAgainEvenAfterAMiss)
{
    ride_through(1);            // gate 0 missed
    ride_through(1);
    EXPECT_EQ(racer.gates_passed, 2);
    EXPECT_EQ(gate_time(&racer, 1), 101);
}

TEST_F(Crossing, PassedGatesAreNotTakenAgain)
{
    ride_through(0);
    ride_through(1);
    ride_through(2);
    ride_through(3);
    ride_through(1);            // race gate 1, three back, all passed
    EXPECT_EQ(racer.gates_passed, 4);
    EXPECT_EQ(gate_time(&racer, 1), 102);
}

TEST_F(Crossing, TheEndOfALapCannotBeSkipped)
{
    ride_through(0);
    ride_through(1);
    ride_through(3);            // first gate of lap 2 while the lap line was missed
    EXPECT_EQ(racer.gates_passed, 2);
    ride_through(4);
    EXPECT_EQ(racer.gates_passed, 2);
    ride_through(2);
    ride_through(3);
    EXPECT_EQ(racer.gates_passed, 4);
    int laps, into;
    laps_completed(&racer, &laps, &into);
    EXPECT_EQ(laps, 1);
    EXPECT_EQ(into, 1);
}

struct HookLog {
    int crossings, finishes, orders, resets, samples, last_crossing;
    int32_t leader;
    int first_lines, normal_lines;
};
HookLog hook_log;

GateHooks counting_hooks()
{
    GateHooks h = {};
    h.line_sample = [](GateProgress *, int32_t) { hook_log.samples++; };
    h.line_crossing = [](GateProgress *, int g, int32_t) {
        hook_log.crossings++;
        hook_log.last_crossing = g;
    };
    h.line_finished = [](GateProgress *) { hook_log.finishes++; };
    h.line_reset = [](GateProgress *) { hook_log.resets++; };
    h.update_running_order = [] { hook_log.orders++; };
    h.leader_gates_passed = [] { return hook_log.leader; };
    h.timing_loaded = [](int f, int n) {
        hook_log.first_lines = f;
        hook_log.normal_lines = n;
    };
    return h;
}

TEST_F(Crossing, FinishingOnTheLapCount)
{
    hook_log = {};
    GateHooks h = counting_hooks();
    gates_set_hooks(&h);
    const int route[] = {0, 1, 2, 3, 4, 2};
    for (int i = 0; i < 6; i++) {
        EXPECT_FALSE(racer.finished) << i;
        ride_through(route[i], 0.5f, 0, 2);
    }
    EXPECT_TRUE(racer.finished);
    EXPECT_EQ(racer.gates_passed, 6);
    EXPECT_EQ(hook_log.crossings, 6);
    EXPECT_EQ(hook_log.last_crossing, 5);
    EXPECT_EQ(hook_log.orders, 6);
    EXPECT_EQ(hook_log.finishes, 1);
    int samples = hook_log.samples;
    ride_through(3, 0.5f, 0, 2);    // a finished racer is left alone
    EXPECT_EQ(racer.gates_passed, 6);
    EXPECT_EQ(hook_log.samples, samples);
}

TEST_F(Crossing, TheLeadersFinishEndsTheRaceAtTheNextLapEnd)
{
    hook_log = {};
    GateHooks h = counting_hooks();
    gates_set_hooks(&h);
    hook_log.leader = 6;            // past the finish gate 5 of a two-lap race
    ride_through(0, 0.5f, 0, 2);
    ride_through(1, 0.5f, 0, 2);
    EXPECT_FALSE(racer.finished);
    ride_through(2, 0.5f, 0, 2);
    EXPECT_TRUE(racer.finished);

    GateProgress other;
    hook_log.leader = 5;            // on the finish gate, not past it
    for (int c : {0, 1, 2}) {
        float wheel[3] = {10.0f * c + 0.5f, 0, 0};
        check_gates(&other, wheel, 1, 2);
    }
    EXPECT_FALSE(other.finished);

    GateProgress zero;              // no laps: the first lap end finishes
    hook_log.leader = 0;
    for (int c : {0, 1, 2}) {
        float wheel[3] = {10.0f * c + 0.5f, 0, 0};
        check_gates(&zero, wheel, 1, 0);
    }
    EXPECT_TRUE(zero.finished);
}

TEST_F(Crossing, SetGatesPassedRewindsTimesAndFinish)
{
    for (int c : {0, 1, 2})
        ride_through(c, 0.5f, 0, 1);
    ASSERT_TRUE(racer.finished);
    set_gates_passed(&racer, 1);
    EXPECT_FALSE(racer.finished);
    EXPECT_EQ(racer.gates_passed, 1);
    EXPECT_EQ(racer.times.size(), 1u);
    EXPECT_EQ(gate_time(&racer, 1), -1);
    ride_through(1, 0.5f, 0, 1);
    EXPECT_EQ(racer.gates_passed, 2);
}

TEST_F(Crossing, LapsCompleted)
{
    const int table[][3] = {{0, 0, 0}, {2, 0, 2}, {3, 1, 0}, {5, 1, 2}, {6, 2, 0}, {10, 3, 1}};
    for (const auto &row : table) {
        racer.gates_passed = row[0];
        int laps, into;
        laps_completed(&racer, &laps, &into);
        EXPECT_EQ(laps, row[1]) << row[0];
        EXPECT_EQ(into, row[2]) << row[0];
    }
    free_timing_gates();
    int laps = -1, into = -1;
    laps_completed(&racer, &laps, &into);
    EXPECT_EQ(laps, 0);
    EXPECT_EQ(into, 0);
}

TEST_F(Gates, SegmentsSkipFlaggedGates)
{
    hook_log = {};
    GateHooks h = counting_hooks();
    gates_set_hooks(&h);
    load(checkpoint_lines(5) + "firstlap: 0 100001 2 normallap: 3 100004 2 1");
    EXPECT_EQ(hook_log.first_lines, 2);
    EXPECT_EQ(hook_log.normal_lines, 3);
    const int expected[] = {0, 1, 1, 2, 3, 3, 4, 5, 6, 6, 7};
    for (int g = 0; g < 11; g++)
        EXPECT_EQ(segment_index(g), expected[g]) << g;
    // Everywhere, the count of line gates before g.
    int lines = 0;
    for (int g = 0; g < 40; g++) {
        EXPECT_EQ(segment_index(g), lines) << g;
        lines += !race_gate_timing_only(g);
    }
    EXPECT_TRUE(is_lap_end(2));
    EXPECT_TRUE(is_lap_end(6));
    EXPECT_FALSE(is_lap_end(5));
    EXPECT_EQ(lap_end_gate(3), 10);
    EXPECT_EQ(race_gate_checkpoint(8), 4);
}

// Truncated and corrupted copies of a good file: whatever is read must be
// consistent, and riding through the result must stay within the tables.
TEST_F(Gates, DamagedFilesAreReadSafely)
{
    std::string good = "startinggate:\n[1 2 3] 0.5 @a.vm @a.ppm @a.shp\n[4 5 6] 7\n" +
                       checkpoint_lines(4) + "firstlap:\n0 100001 2 3\nnormallap:\n3 0 1 2\n";
    std::mt19937 random(12345);
    for (int round = 0; round < 400; round++) {
        std::string text = good;
        if (round < (int)good.size()) {
            text.resize(round);
        } else {
            int changes = 1 + random() % 8;
            for (int i = 0; i < changes; i++)
                text[random() % text.size()] = (char)(random() % 256);
        }
        free_track_objects();
        load(text);
        const TimingTables &t = timing_tables();
        ASSERT_LE(t.starting_gate_count, 2);
        if (t.checkpoint_count == 0) {
            ASSERT_EQ(t.first_lap_count + t.normal_lap_count, 0);
            continue;
        }
        ASSERT_GT(t.first_lap_lines, 0);
        ASSERT_GT(t.normal_lap_lines, 0);
        for (int i = 0; i < t.first_lap_count + t.normal_lap_count; i++) {
            ASSERT_GE(t.lap_entries[i], 0);
            ASSERT_LT(t.lap_entries[i] % TIMING_ONLY_FLAG, t.checkpoint_count);
        }
        GateProgress racer;
        for (int step = 0; step < 30; step++) {
            const TimingGate &c = t.checkpoints[random() % t.checkpoint_count];
            float wheel[3] = {c.x + 0.1f, 0, c.z};
            check_gates(&racer, wheel, step, 2);
            ASSERT_EQ(racer.times.size() >= (size_t)racer.gates_passed, true);
        }
    }
}

} // namespace
