// Line learning: what riders' laps leave behind as lines, how full segments give way,
// what the auto pilots' crashes and runs do to the statistics, and the line files.
// The gate checks run for real on a small four-gate track; the bike is a bare frame
// body moved by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <ode/ode.h>

#include "autopilot/lines.h"
#include "core/options.h"
#include "race/race.h"
#include "sim/racer.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_home.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

// Gates 0..3 on a row; gate 1 is timing-only, so a lap has three segments:
// segment 0 ends at race gate 0, 1 at race gate 2 (through gate 1), 2 at race gate 3,
// 3 at race gate 4, and so on (F' = N' = 3, six segments in the tables).
const char *const TIMING = "checkpoints:\n"
                           "5 [0 0 0] [1 0 0]\n"
                           "5 [0 0 1000] [1 0 0]\n"
                           "5 [0 0 2000] [1 0 0]\n"
                           "5 [0 0 3000] [1 0 0]\n"
                           "firstlap: 0 100001 2 3\n"
                           "normallap: 0 100001 2 3\n";

const float FAR_AWAY[3] = {-5000, 0, -5000};

struct Rider {
    Racer *racer;
    int32_t frame;
};

class Lines : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        dInitODE2(0);
        world = dWorldCreate();
        gates_set_hooks(line_gate_hooks());
        ASSERT_TRUE(write_bytes(data + "tt/timing_gates", TIMING));
        load_timing_gates("tt");
        ASSERT_EQ(line_segment_count(), 6);
        saved_options = startup_options();
        startup_options_edit().debug = 1;
    }

    void TearDown() override
    {
        for (int s = 0; s < 2; s++) {
            race_state().racers[s] = nullptr;
            delete racers[s];
        }
        startup_options_edit() = saved_options;
        free_lines();
        gates_set_hooks(nullptr);
        free_timing_gates();
        free_track_objects();
        dWorldDestroy(world);
        dCloseODE();
        TempHomeTest::TearDown();
    }

    Rider make_rider(int slot, int personality = 0)
    {
        delete racers[slot];
        Racer *r = new Racer();
        r->bodies[BODY_FRAME] = dBodyCreate(world);
        r->wheel_contacts[0].depth = r->wheel_contacts[1].depth = 0.1;
        r->personality = personality;
        r->gates.slot = slot;
        racers[slot] = r;
        race_state().racers[slot] = r;
        reset_line_recording(slot);
        return Rider{r, 1};
    }

    // Rides `frames` frames towards race gate g, `offset` units to the side of the
    // straight path, and crosses the gate in the frame after.
    void ride_to(Rider *rider, int g, int frames, float offset = 0, float speed = 40)
    {
        dBodyID body = rider->racer->bodies[BODY_FRAME];
        dBodySetLinearVel(body, speed, 0, 0);
        int c = race_gate_checkpoint(g);
        for (int k = 0; k < frames; k++) {
            dBodySetPosition(body, 100.0 * c + 100.0 * k / frames, 0, offset);
            check_gates(&rider->racer->gates, FAR_AWAY, rider->frame++, 1000);
        }
        const TimingGate &gate = timing_tables().checkpoints[c];
        float wheel[3] = {gate.x + 1, 0, gate.z};
        check_gates(&rider->racer->gates, wheel, rider->frame++, 1000);
        ASSERT_EQ(rider->racer->gates.gates_passed, g + 1);
    }

    // A used slot filled by hand: n points along x from (x0, z).
    static void fill(LineSlot *slot, float x0, float z, int n, float dx = 10)
    {
        slot->points.clear();
        for (int i = 0; i < n; i++)
            slot->points.push_back({x0 + dx * i, 0, z, 40, 0});
        slot->time_a = slot->time_b = 1000;
        slot->tested = slot->canceled = 0;
        slot->best_a = slot->best_b = 1000000;
        slot->sum_a = slot->sum_b = 0;
        slot->last_picked = NEVER_PICKED;
        slot->id = 900 + (int)z;
    }

    dWorldID world = nullptr;
    Racer *racers[2] = {};
    StartupOptions saved_options;
};

TEST_F(Lines, RidersLapsBecomeLinesAndRepeatsAreDuplicates)
{
    LogCapture log;
    Rider a = make_rider(0);
    ride_to(&a, 0, 320);
    ride_to(&a, 1, 160);
    a.racer->wheel_contacts[0].depth = a.racer->wheel_contacts[1].depth = 0;    // a jump
    ride_to(&a, 2, 160);
    a.racer->wheel_contacts[1].depth = 0.1;
    ride_to(&a, 3, 320);
    EXPECT_EQ(line_used_count(0), 1);
    EXPECT_EQ(line_used_count(1), 1);
    EXPECT_EQ(line_used_count(2), 0);       // offered only once the next gate is passed

    // Segment 1 runs from race gate 0 (frame 321) over the timing-only gate to gate 2.
    const LineSlot &seg1 = *line_slot(1, 0);
    EXPECT_EQ(seg1.time_a, 643 - 321);
    EXPECT_EQ(seg1.time_b, 964 - 321);
    EXPECT_EQ(seg1.tested, 0);
    EXPECT_EQ(seg1.best_b, 1000000);
    ASSERT_EQ(seg1.points.size(), 10u);     // every 32 frames over 320 frames
    EXPECT_GT(seg1.points[0].speed, 0);
    EXPECT_FLOAT_EQ(seg1.points[9].speed, -40);     // recorded in the air
    EXPECT_NE(seg1.id, line_slot(0, 0)->id);

    // The same ride again from a second rider: nothing new is kept.
    Rider b = make_rider(1);
    ride_to(&b, 0, 320);
    ride_to(&b, 1, 160);
    b.racer->wheel_contacts[0].depth = b.racer->wheel_contacts[1].depth = 0;
    ride_to(&b, 2, 160);
    b.racer->wheel_contacts[1].depth = 0.1;
    ride_to(&b, 3, 320);
    EXPECT_EQ(line_used_count(0), 1);
    EXPECT_EQ(line_used_count(1), 1);
    EXPECT_TRUE(log.contains("auto pilot: 1 rejected (duplicate)"));

    // Further laps add to the lap's segments: segment 3 (race gate 4) is the second
    // lap's segment 0 of the normal lap, a different line 5 units to the side.
    ride_to(&a, 4, 320, 5);
    ride_to(&a, 5, 160, 5);
    ride_to(&a, 6, 160, 5);
    EXPECT_EQ(line_used_count(2), 1);
    EXPECT_EQ(line_used_count(3), 1);
    EXPECT_EQ(line_used_count(9), 1);       // segment 9 wraps onto segment 3
}

TEST_F(Lines, CrashSpoilsTheSegmentsLine)
{
    LogCapture log;
    Rider a = make_rider(0);
    ride_to(&a, 0, 320);
    ride_to(&a, 1, 100);
    a.racer->incident = 1;
    check_gates(&a.racer->gates, FAR_AWAY, a.frame++, 1000);
    EXPECT_EQ(a.racer->incident, 2);        // counted once
    ride_to(&a, 2, 100);
    EXPECT_EQ(a.racer->incident, 0);        // the gate is done with it
    ride_to(&a, 3, 320);
    ride_to(&a, 4, 320);
    EXPECT_EQ(line_used_count(1), 0);
    EXPECT_TRUE(log.contains("auto pilot: 1 canceled"));
    EXPECT_EQ(line_used_count(2), 1);       // the segment after the crash is kept
}

TEST_F(Lines, SkippedGateOrBackwardsRideIsNoLine)
{
    Rider a = make_rider(0);
    ride_to(&a, 0, 320);
    // Skips race gate 2 and goes on to gate 3.
    ride_to(&a, 1, 160);
    dBodyID body = a.racer->bodies[BODY_FRAME];
    dBodySetPosition(body, 150, 0, 0);
    for (int k = 0; k < 200; k++)
        check_gates(&a.racer->gates, FAR_AWAY, a.frame++, 1000);
    float gate3[3] = {1, 0, 3000};
    check_gates(&a.racer->gates, gate3, a.frame++, 1000);
    ASSERT_EQ(a.racer->gates.gates_passed, 4);
    ride_to(&a, 4, 320);
    EXPECT_EQ(line_used_count(1), 0);
    EXPECT_EQ(line_used_count(2), 0);
}

TEST_F(Lines, FullSegmentReplacesOnlyWhenQuarterSlower)
{
    // 45 unreliable lines (one run, one crash each) in segment 1; the costliest, in
    // slot 7, expects `victim_average` + 320 frames. The offer's time B is 643.
    struct Case {
        int victim_average;
        bool replaced;
    } cases[] = {
        {804 - 320, true},          // cost 804 >= 643 * 5/4 = 803
        {803 - 320, true},          // a quarter slower
        {802 - 320, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.victim_average);
        LogCapture log;
        clear_lines();
        for (int i = 0; i < LINE_SLOTS; i++) {
            LineSlot *slot = line_slot(1, i);
            fill(slot, 0, (float)i, 3);
            slot->tested = slot->canceled = 1;
            slot->sum_b = i == 7 ? c.victim_average : 300;
        }
        Rider a = make_rider(0);
        ride_to(&a, 0, 320);
        ride_to(&a, 1, 160);
        ride_to(&a, 2, 160);
        ride_to(&a, 3, 320);
        const LineSlot &slot = *line_slot(1, 7);
        EXPECT_EQ(slot.tested == 0, c.replaced);
        EXPECT_EQ(line_used_count(1), LINE_SLOTS);
        if (c.replaced) {
            EXPECT_EQ(slot.time_b, 643);
            EXPECT_TRUE(log.contains("auto pilot: evicting 1 (times: 7.81 7.81 tested (1 1)"));
        } else {
            EXPECT_TRUE(log.contains("auto pilot: 1 rejected (too slow)"));
        }
    }
}

TEST_F(Lines, PickVictimPrefersUnreliableAndIsolatedLines)
{
    // Reliable lines (tested 5, canceled 0) cost 1000 frames, slot 0 4000 and slot 3
    // 4500 (3375 when it starts far from every other line); unreliable ones (never
    // tested, one crash) cost less but go first unless 23 lines are reliable.
    struct Case {
        const char *what;
        int used, reliable;     // slots 0..used-1, the first `reliable` of them reliable
        bool isolate_3;
        int victim;
    } cases[] = {
        {"unreliable first", 45, 22, false, 44},
        {"enough reliable lines", 45, 23, false, 3},
        {"isolated line kept longer", 45, 45, true, 0},
        {"few lines, none unreliable", 10, 10, false, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clear_lines();
        for (int i = 0; i < c.used; i++) {
            LineSlot *slot = line_slot(4, i);
            fill(slot, i == 3 && c.isolate_3 ? 50 : 0, (float)i * 0.01f, 3);
            bool reliable = i < c.reliable;
            slot->tested = reliable ? 5 : 0;
            slot->canceled = reliable ? 0 : 1;
            slot->sum_b = 5 * 1000;
            slot->time_b = 100 + i;                 // untested: costlier with i
        }
        line_slot(4, 0)->sum_b = 5 * 4000;
        line_slot(4, 3)->sum_b = 5 * 4500;
        EXPECT_EQ(pick_victim(4), c.victim);
    }
    clear_lines();
    EXPECT_EQ(pick_victim(4), -1);
}

TEST_F(Lines, AutoPilotIncidentAndDepartureCancelItsLines)
{
    Rider p = make_rider(0, 2);
    for (int s = 0; s < 3; s++) {
        fill(line_slot(s, 0), 0, 0, 3);
        line_slot(s, 0)->id = 50 + s;
    }
    ring_set(0, 0, 50);
    ride_to(&p, 0, 100);
    EXPECT_EQ(ring_get(0, 0), 0);                   // off its (empty) path: canceled
    EXPECT_EQ(line_slot(0, 0)->canceled, 1);

    ring_set(0, 0, 50);
    ring_set(0, 1, 51);
    // A crash half a second after the gate: this segment's line and the last one.
    p.frame += 64;
    p.racer->incident = 1;
    check_gates(&p.racer->gates, FAR_AWAY, p.frame++, 1000);
    EXPECT_EQ(line_slot(0, 0)->canceled, 2);
    EXPECT_EQ(line_slot(1, 0)->canceled, 1);
    EXPECT_EQ(ring_get(0, 1), 0);

    // Two seconds after the gate only the current line counts.
    ride_to(&p, 1, 10);
    ring_set(0, 1, 51);
    ring_set(0, 4, 77);
    EXPECT_EQ(ring_get(0, 0), 77);                  // the ring keeps four segments
    p.frame += 256;
    p.racer->incident = 1;
    check_gates(&p.racer->gates, FAR_AWAY, p.frame++, 1000);
    EXPECT_EQ(line_slot(0, 0)->canceled, 2);
    EXPECT_EQ(line_slot(1, 0)->canceled, 2);
    EXPECT_EQ(line_used_count(0) + line_used_count(1), 2);     // auto pilots offer nothing
}

TEST_F(Lines, PruneRemovesTheMostCrossedLine)
{
    // 44 parallel lines along x in segment 0 and a 45th: crossing them all (once
    // through a recorded point), touching one with its end point, or ending short of
    // it. The cheapest-looking line goes first among lines crossed equally often.
    struct Case {
        const char *what;
        LinePoint from, to;
        bool survives;
        int left;
    } cases[] = {
        {"diagonal", {0, 0, -1, 40, 0}, {30, 0, 50, 40, 0}, false, 43},
        {"touching", {15, 0, -10, 40, 0}, {15, 0, 0, 40, 0}, false, 43},
        {"ending short", {15, 0, -10, 40, 0}, {15, 0, -0.5f, 40, 0}, true, 44},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        clear_lines();
        for (int i = 0; i < LINE_SLOTS - 1; i++)
            fill(line_slot(0, i), 0, (float)i, 4);
        LineSlot *odd = line_slot(0, 44);
        fill(odd, 0, 0, 0);
        odd->points = {c.from, c.to};
        odd->time_b = 10;       // cheap: pick_victim would not take it
        odd->id = 4444;
        prune_lines();
        EXPECT_EQ(line_used_count(0), c.left);
        EXPECT_EQ(odd->id == 4444 && !odd->points.empty(), c.survives);
    }
}

std::string line_text(int points, const char *stats, const char *point = "[1 2 3] 4 0.5")
{
    std::string text = std::to_string(points) + " " + stats + "\n";
    for (int i = 0; i < points; i++)
        text += std::string(point) + "\n";
    return text;
}

TEST_F(Lines, SaveAndLoadRoundTrip)
{
    startup_options_edit().learn = true;
    EXPECT_FALSE(load_lines("tt", 1));          // no file yet
    fill(line_slot(2, 0), 1.5f, 2.25f, 5);
    LineSlot &line = *line_slot(2, 0);
    line.points[3].speed = -12.5f;
    line.points[4].roll = 0.75f;
    line.tested = 3;
    line.canceled = 1;
    line.sum_a = 1500;
    line.sum_b = 3600;
    line.best_a = 480;
    line.best_b = 1190;
    fill(line_slot(5, 3), 0, 0, 2);
    save_lines();
    EXPECT_TRUE(file_exists(home + "tt/lines_amateur"));
    EXPECT_FALSE(file_exists(home + "tt/lines_amateur.part"));

    clear_lines();
    ASSERT_TRUE(load_lines("tt", 1));
    EXPECT_EQ(line_used_count(2), 1);
    EXPECT_EQ(line_used_count(5), 1);
    const LineSlot &back = *line_slot(2, 0);    // saved lines are packed from slot 0
    ASSERT_EQ(back.points.size(), 5u);
    EXPECT_FLOAT_EQ(back.points[0].x, 1.5f);
    EXPECT_FLOAT_EQ(back.points[2].z, 2.25f);
    EXPECT_FLOAT_EQ(back.points[3].speed, -12.5f);
    EXPECT_FLOAT_EQ(back.points[4].roll, 0.75f);
    EXPECT_EQ(back.time_a, 1000);
    EXPECT_EQ(back.tested, 3);
    EXPECT_EQ(back.canceled, 1);
    EXPECT_EQ(back.sum_a, 1500);
    EXPECT_EQ(back.sum_b, 3600);
    EXPECT_EQ(back.best_a, 480);
    EXPECT_EQ(back.best_b, 1190);
    EXPECT_EQ(back.last_picked, NEVER_PICKED);
    EXPECT_NE(back.id, line_slot(5, 0)->id);

    // Without "--learn" nothing is written; the lines stay in memory.
    startup_options_edit().learn = false;
    clear_lines();
    save_lines();
    ASSERT_TRUE(load_lines("tt", 1));
    EXPECT_EQ(line_used_count(2), 1);
    EXPECT_FALSE(load_lines("tt", 2));          // another skill, another file
}

TEST_F(Lines, LinesAreFoundInsideArchives)
{
    std::string file = "ct03 6\n0\n0\n" + std::string("1\n") + line_text(2, "100 200 0 1000000 "
                       "1000000 0 0 0") + "0\n0\n0\n";
    ASSERT_TRUE(write_bytes(data + "pack.saf", make_saf({{"tt/lines_expert", file}})));
    data_reset();
    ASSERT_TRUE(load_lines("tt", 2));
    EXPECT_EQ(line_used_count(2), 1);
}

TEST_F(Lines, ReadingLimitsStatisticsAndSurvivesBadFiles)
{
    const std::string ok2 = line_text(2, "100 200 0 1000000 1000000 0 0 0");
    struct Case {
        const char *what;
        std::string text;
        bool loaded;
        int seg0, seg1;         // lines kept in segments `first` and `first` + 1
        int first = 0;
    } cases[] = {
        {"wrong segment count", "ct03 5\n1\n" + ok2, false, 0, 0},
        {"not a line file", "hello world", false, 0, 0},
        {"empty file", "", false, 0, 0},
        {"truncated in a point", "ct03 6\n2\n" + ok2 + "3 1 2 3 4 5 6 7 8\n[1 2 3] 4 5\n[1 2",
         true, 1, 0},
        {"truncated in the statistics", "ct03 6\n1\n" + ok2 + "1\n4 5", true, 1, 0},
        {"absurd point count", "ct03 6\n2\n"
                               "2000000000 1 2 3 4 5 6 7 8\n[1 2 3] 4 5\n" + ok2,
         true, 0, 0},
        {"too many points for a slot", "ct03 6\n2\n" +
                                           line_text(100001, "1 2 0 1000000 1000000 0 0 0") +
                                           ok2 + "1\n" + ok2,
         true, 1, 1},
        {"NaN in a point", "ct03 6\n2\n" + line_text(2, "1 2 0 1 1 0 0 0", "[1 nan 3] 4 5") +
                               ok2 + "1\n" + ok2,
         true, 1, 1},
        {"negative line count", "ct03 6\n-4\n" + ok2, true, 0, 0},
        {"more lines than slots", "ct03 6\n0\n0\n0\n47\n" + [&] {
             std::string t;
             for (int i = 0; i < 47; i++)
                 t += line_text(2, "1 2 0 1 1 0 0 0", ("[" + std::to_string(i) +
                                                       " 0 0] 4 0").c_str());
             return t;
         }() + "1\n" + ok2,
         true, 45, 1, 3},
        {"zero points", "ct03 6\n1\n0 1 2 3 4 5 6 7 8\n1\n" + ok2, true, 0, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(write_bytes(data + "tt/lines_novice", c.text));
        EXPECT_EQ(load_lines("tt", 0), c.loaded);
        EXPECT_EQ(line_used_count(c.first), c.seg0);
        EXPECT_EQ(line_used_count(c.first + 1), c.seg1);
    }

    // Statistics beyond range are halved, keeping the averages, then capped.
    struct Limit {
        const char *stats;
        int tested, canceled;
        int64_t sum_a, sum_b;
    } limits[] = {
        {"100 200 200000 90 180 4000000 8000000 10", 50000, 2, 1000000, 2000000},
        {"100 200 10 90 180 1000 900000000 70000", 1, 8750, 100, 90000000},
        {"100 200 -3 90 180 -5 -6 -7", 0, 0, 0, 0},
    };
    for (const Limit &l : limits) {
        SCOPED_TRACE(l.stats);
        ASSERT_TRUE(write_bytes(data + "tt/lines_novice",
                                "ct03 6\n1\n" + line_text(2, l.stats)));
        ASSERT_TRUE(load_lines("tt", 0));
        const LineSlot &line = *line_slot(0, 0);
        EXPECT_EQ(line.tested, l.tested);
        EXPECT_EQ(line.canceled, l.canceled);
        EXPECT_EQ(line.sum_a, l.sum_a);
        EXPECT_EQ(line.sum_b, std::min<int64_t>(l.sum_b, 100000000));
    }
}

}  // namespace
