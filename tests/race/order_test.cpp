// Running order, race length and finish: bikes are placed through the gates by the
// gate check itself (no physics), so the checkered flag, the time rule and the
// cutting penalty are seen as a race would see them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "race/order.h"
#include "race/race.h"
#include "race/replay.h"
#include "sim/racer.h"
#include "tests/support/temp_home.h"
#include "track/gates.h"

namespace {

// Five checkpoints along x; the first lap is checkpoints 0 1 2, every further lap
// 3 4 2, so laps end at race gates 2, 5, 8, ...
const char *const LAYOUT = "checkpoints:\n"
                           "2 [0 0 0] [1 0 0]\n2 [10 0 0] [1 0 0]\n2 [20 0 0] [1 0 0]\n"
                           "2 [30 0 0] [1 0 0]\n2 [40 0 0] [1 0 0]\n"
                           "firstlap: 0 1 2\nnormallap: 3 4 2\n";

class RaceOrder : public TempHomeTest {
protected:
    std::vector<std::unique_ptr<Racer>> bikes;

    void SetUp() override
    {
        TempHomeTest::SetUp();
        std::filesystem::create_directories(home);
        ASSERT_TRUE(write_bytes(data + "trk/timing_gates", LAYOUT));
        load_timing_gates("trk");
        ASSERT_EQ(timing_tables().first_lap_count, 3);
        GateHooks hooks = {};
        hooks.update_running_order = update_running_order;
        hooks.leader_gates_passed = order_leader_gates_passed;
        gates_set_hooks(&hooks);
        RaceState &race = race_state();
        race = RaceState{};
        race_clear_slots();
        race.start_frame = race.frame = 1000;
        race.configured_laps = race.total_laps = 2;
        race.halfway_lap = 1;
    }

    void TearDown() override
    {
        race_state() = RaceState{};
        bikes.clear();
        clear_history();
        gates_set_hooks(nullptr);
        free_timing_gates();
        TempHomeTest::TearDown();
    }

    Racer *add(int slot, ControlKind kind = AutoPilot)
    {
        bikes.emplace_back(new Racer());
        Racer *r = bikes.back().get();
        snprintf(r->plate, sizeof r->plate, "%d", slot + 1);
        r->model.name = "rm125";
        r->gates.slot = slot;
        race_state().racers[slot] = r;
        race_state().kind[slot] = kind;
        return r;
    }

    // The front wheel goes through the checkpoint of race gate g at frame.
    void cross(int slot, int g, int32_t frame)
    {
        const TimingGate &c = timing_tables().checkpoints[race_gate_checkpoint(g)];
        float wheel[3] = {c.x + 0.5f, 0, c.z};
        race_state().frame = frame;
        check_gates(&race_state().racers[slot]->gates, wheel, frame, race_state().total_laps);
    }

    // Crosses the next gates in order, one every step frames from frame.
    int32_t ride(int slot, int gates, int32_t frame, int32_t step = 100)
    {
        for (int i = 0; i < gates; i++, frame += step)
            cross(slot, race_state().racers[slot]->gates.gates_passed, frame);
        return frame - step;
    }
};

TEST_F(RaceOrder, SortsByGatesThenTimeThenSlot)
{
    OrderEntry entries[] = {{4, 3, 500}, {2, 5, 900}, {7, 3, 400}, {1, 3, 500}, {0, 0, 0}};
    sort_order(entries, 5);
    const int expected[] = {2, 7, 1, 4, 0};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(entries[i].slot, expected[i]) << i;

    add(3);
    add(1);
    cross(3, 0, 1100);
    cross(1, 0, 1100);      // the same gate in the same frame: the lower slot leads
    ASSERT_EQ(race_state().order_count, 2);
    EXPECT_EQ(race_state().order[0].slot, 1);
    EXPECT_EQ(race_state().order[1].time, 1100);
}

// Ten minutes would do as well as ten seconds: the rule only looks at frames.
TEST_F(RaceOrder, TimeRuleEndsTheRaceLapsAfterTheLapTheTimeRanOutIn)
{
    struct Case {
        const char *name;
        int32_t lap_ends[2];            // frames at which the leader ends laps 1 and 2
        int32_t total_after[2];         // total_laps after each
    };
    const Case cases[] = {
        // Nobody has a lap when the time runs out at 2280: the first lap ended after
        // it fixes the race at that lap + 2.
        {"no lap at expiry", {2400, 2700}, {3, 3}},
        // Lap 1 ended before the expiry, lap 2 after it: 2 + 2.
        {"lap before expiry", {2000, 2600}, {NOT_KNOWN_LAPS, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        RaceState &race = race_state();
        race.duration = 1280;
        race.total_laps = race.halfway_lap = NOT_KNOWN_LAPS;
        add(0);
        add(1);
        ride(0, 2, 1100);
        race.frame = 1700;          // past half time: halfway flag at lap 0 + 1
        update_running_order();
        EXPECT_EQ(race.halfway_lap, 1);
        if (c.lap_ends[0] > 2280) {
            race.frame = 2300;
            update_running_order();
            EXPECT_EQ(race.total_laps, NOT_KNOWN_LAPS);
        }
        cross(0, 2, c.lap_ends[0]);
        if (c.lap_ends[0] < 2280) {
            race.frame = 2300;
            update_running_order();
        }
        EXPECT_EQ(race.total_laps, c.total_after[0]);
        ride(0, 2, c.lap_ends[1] - 200);
        cross(0, 5, c.lap_ends[1]);
        EXPECT_EQ(race.total_laps, c.total_after[1]);
        EXPECT_FALSE(race.results_final);
    }
}

TEST_F(RaceOrder, LeadersFinishEndsTheRaceAtEveryonesNextLapEnd)
{
    RaceState &race = race_state();
    Racer *leader = add(0);
    Racer *second = add(1);
    Racer *third = add(2, Replayed);
    add_state_to_history(2, ReplayState{}, 1000);
    ride(1, 1, 1050);                       // gate 0
    int32_t t = ride(0, 6, 1100, 90);       // two laps: the finish gate 5 at 1550
    EXPECT_TRUE(leader->finished);
    EXPECT_EQ(t, 1550);
    EXPECT_FALSE(race.results_final);

    cross(1, 1, 1600);
    EXPECT_FALSE(is_finished(second));      // mid-lap after the flag: still racing
    cross(1, 2, 1700);                      // a lap down, but its lap end is the flag
    EXPECT_TRUE(second->finished);

    // A replayed rider's gates arrive as reports, not through the gate check: the
    // flag test alone finishes it at its next lap end after the leader's finish.
    for (int32_t f : {1200, 1300, 1560}) {
        third->gates.times.push(f);
        third->gates.gates_passed++;
    }
    race.frame = 1800;
    add_state_to_history(2, ReplayState{}, 1790);
    update_running_order();
    EXPECT_TRUE(third->finished);
    ASSERT_TRUE(race.results_final);
    ASSERT_EQ(race.results_count, 3);
    EXPECT_EQ(race.results[0].slot, 0);
    EXPECT_EQ(race.results[1].slot, 2);    // same gates as slot 1, earlier
    EXPECT_EQ(race.results[2].slot, 1);
    EXPECT_TRUE(file_exists(home + "results.txt"));
    EXPECT_FALSE(file_exists(home + "results.txt.part"));

    // Final results freeze the order.
    third->gates.times.push(1900);
    third->gates.gates_passed++;
    update_running_order();
    EXPECT_EQ(race.order[1].slot, 2);
    EXPECT_EQ(race.order[1].gates_passed, 3);
}

TEST_F(RaceOrder, CuttingTwoGatesCostsTimeAndALap)
{
    RaceState &race = race_state();
    race.total_laps = 3;
    Racer *clean = add(0);
    Racer *cutter = add(1);
    ride(0, 6, 1100);           // 100 frames a gate; lap ends 1300, 1600
    ride(1, 3, 1451);           // lap 1 clean: gates 0, 1, 2 at 1451, 1551, 1651
    cross(1, 2, 1701);          // straight to the lap end: gates 3 and 4 missed
    cross(1, 2, 1751);          // again: gates 6 and 7 missed, third lap done
    EXPECT_TRUE(cutter->finished);
    EXPECT_EQ(cutter->gates.gates_passed, 9);
    EXPECT_EQ(gate_time(&cutter->gates, 3), -1);
    EXPECT_FALSE(race.results_final);
    ride(0, 3, 1700);           // its third lap ends at 1900
    EXPECT_TRUE(clean->finished);
    ASSERT_TRUE(race.results_final);

    // The field: 300 frames for 2..5 (only the clean rider), 300 for 5..8 measured
    // in lap 2 alone; integer mean of 100 and 451 from the start to gate 0.
    EXPECT_EQ(reference_segment_time(2, 5), 300);
    EXPECT_EQ(reference_segment_time(5, 8), 300);
    EXPECT_EQ(reference_segment_time(-1, 0), 275);
    EXPECT_EQ(reference_segment_time(5, 11), 60 * 128);    // nobody rode it

    // Each cut: 300 + 128 - 50 = 378. The last lap (50) is shorter than 756, so one
    // lap is taken away (never below F + N gates): 6 gates and 706 frames left.
    ASSERT_EQ(race.results_count, 2);
    EXPECT_EQ(race.results[0].slot, 0);
    EXPECT_EQ(race.results[1].slot, 1);
    EXPECT_EQ(race.results[1].gates_passed, 6);
    EXPECT_EQ(race.results[1].time, 1751 + 706);
    EXPECT_EQ(race.penalty[1], 706);
    EXPECT_EQ(race.laps_taken[1], 1);
    EXPECT_EQ(race.penalty[0], 0);
}

TEST_F(RaceOrder, ReplayedRidersCountAsGoneAfterTenSilentSeconds)
{
    RaceState &race = race_state();
    race.total_laps = 1;
    add(0);
    add(1, Replayed);
    struct Case {
        int32_t newest, now;
        bool gone;
    };
    const Case cases[] = {{-1, 1400, true}, {1400, 1400 + 9 * 128, false},
                          {1400, 1400 + 10 * 128, false}, {1400, 1400 + 10 * 128 + 1, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.now - c.newest);
        clear_slot_history(1);
        if (c.newest >= 0)
            add_state_to_history(1, ReplayState{}, c.newest);
        race.frame = c.now;
        EXPECT_EQ(racer_gone(1), c.gone);
    }
    clear_slot_history(1);
    add_state_to_history(1, ReplayState{}, 1400);
    ride(0, 3, 1100);           // slot 0 has finished; only the replayed rider is left
    EXPECT_FALSE(race.results_final);
    race.frame = 1400 + 9 * 128;
    update_running_order();
    EXPECT_FALSE(race.results_final);
    race.frame = 1400 + 11 * 128;
    update_running_order();
    EXPECT_TRUE(race.results_final);
}

TEST_F(RaceOrder, NetworkPeersAreGoneAfterOneSecondAndTheLocalRiderMustFinish)
{
    RaceState &race = race_state();
    race.network = true;
    race.total_laps = 1;
    add(0, LocalRider);
    race.local_slot = 0;
    add(1, Replayed);
    add_state_to_history(1, ReplayState{}, 1000);
    ride(1, 3, 1010);           // the peer finishes first
    race.frame = 1000 + 127;
    EXPECT_FALSE(racer_gone(1));
    race.frame = 1000 + 128;
    EXPECT_TRUE(racer_gone(1));
    EXPECT_FALSE(racer_gone(0));
    update_running_order();
    EXPECT_FALSE(race.results_final);       // the local rider is still out there

    race.network_warmup = true;             // ... unless it is only warming up
    update_running_order();
    EXPECT_TRUE(race.results_final);
}

} // namespace
