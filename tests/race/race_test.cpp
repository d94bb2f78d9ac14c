// Setting up a race on the packed default track: the grid from the starting gates,
// what each lineup code puts in its slot, the starting gate's fall, and the
// false-start rule of network races.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/common.h"
#include "core/settings.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "race/replay.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_pose.h"
#include "sim/world.h"
#include "tests/race/packed_track.h"
#include "tests/support/temp_home.h"
#include "track/gates.h"
#include "track/track.h"

namespace
{

class RaceSetup : public PackedTrackTest
{
  protected:
    static void lineup_of(int *codes, std::initializer_list<int> first)
    {
        for (int i = 0; i < RACER_SLOTS; i++)
            codes[i] = 0;
        int i = 0;
        for (int c : first)
            codes[i++] = c;
    }
};

TEST_F(RaceSetup, BikesLineUpBehindTheStartingGates)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {});
    for (int i = 0; i < 25; i++)
        codes[i] = LINEUP_AUTO_PILOT;
    ASSERT_TRUE(new_race(codes, false, false, 0, 2, 1));
    const RaceState &race = race_state();
    const TimingTables &t = timing_tables();
    ASSERT_EQ(t.starting_gate_count, 20);
    EXPECT_EQ(race.total_laps, 2);
    EXPECT_EQ(race.halfway_lap, 1);
    EXPECT_GE(race.start_frame, 13 * 128);
    EXPECT_LT(race.start_frame, 15 * 128);
    for (int s : {0, 7, 19, 20, 24}) {
        SCOPED_TRACE(s);
        const Racer *r = race.racers[s];
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(race.kind[s], AutoPilot);
        const StartingGate &g = t.starting_gates[s % 20];
        double row = s / 20 + 0.0625;
        const dReal *p = dBodyGetPosition(r->bodies[BODY_FRAME]);
        EXPECT_NEAR(p[0], g.x + sin(g.angle) * row * 10, 1e-3);
        EXPECT_NEAR(p[2], g.z + cos(g.angle) * row * 10, 1e-3);
        // Facing along the gate: the frame's forward axis is (-sin a, 0, -cos a).
        const dReal *m = dBodyGetRotation(r->bodies[BODY_FRAME]);
        EXPECT_NEAR(-m[2], -sin(g.angle), 1e-6);
        EXPECT_NEAR(-m[10], -cos(g.angle), 1e-6);
    }
    EXPECT_EQ(race.racers[25], nullptr);
    EXPECT_EQ(race.kind[25], Replayed);
}

TEST_F(RaceSetup, LineupCodesChooseWhoRidesEachSlot)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_NUMBER + 42, LINEUP_LOCAL, LINEUP_AUTO_250, LINEUP_LOCAL,
                      LINEUP_AUTO_125, 7});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    const RaceState &race = race_state();
    EXPECT_EQ(race.local_slot, 1);
    EXPECT_EQ(race.kind[1], LocalRider);
    // Only the first local rider stays; a later code 1 is an empty slot.
    EXPECT_EQ(race.racers[3], nullptr);
    ASSERT_NE(race.racers[0], nullptr);
    EXPECT_STREQ(race.racers[0]->plate, "42");
    EXPECT_STREQ(race.racers[0]->rider_name, "Roborider");
    ASSERT_NE(race.racers[2], nullptr);
    EXPECT_NE(strstr(race.racers[2]->model.name, "250"), nullptr);
    ASSERT_NE(race.racers[4], nullptr);
    EXPECT_NE(strstr(race.racers[4]->model.name, "125"), nullptr);
    ASSERT_NE(race.racers[5], nullptr);
    EXPECT_STREQ(race.racers[5]->model.name, "rm125");

    // No bike at all and no demo: one computer rider in slot 0.
    lineup_of(codes, {});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    ASSERT_NE(race.racers[0], nullptr);
    EXPECT_EQ(race.kind[0], AutoPilot);
    EXPECT_EQ(race.local_slot, 0);
}

TEST_F(RaceSetup, TheSameFrameShufflesTheSameField)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {2, 2, 2, 2, 2, 2});
    std::string first, second;
    for (std::string *out : {&first, &second}) {
        race_state().frame = 0;
        ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
        for (int s = 0; s < 6; s++)
            *out += std::string(race_state().racers[s]->plate) + ",";
    }
    EXPECT_EQ(first, second);
}

TEST_F(RaceSetup, TheStartingGateFallsInAnEighthOfASecondAfterTheDrop)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_AUTO_PILOT});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    RaceState &race = race_state();
    const Track &tr = track();
    int statue = timing_tables().starting_gates[3].statue;
    ASSERT_GE(statue, 0);
    race.frame = race.start_frame - 2;
    game_step();
    float before[3][3];
    memcpy(before, tr.statues[statue].orientation, sizeof before);
    game_step();
    // The step of the start frame itself still holds the bar; it falls from the
    // next one on by 1/16 a step.
    EXPECT_EQ(race.frame, race.start_frame);
    int frames = 0;
    while (race.gate_bar[3] > 0 && frames < 100) {
        EXPECT_FLOAT_EQ(race.gate_bar[3], frames ? 1 - (frames - 1) / 16.0f : 1);
        game_step();
        frames++;
    }
    EXPECT_EQ(frames, 17);
    // Down, the gate stands as the track placed it; up, it was turned by 3/16 of a
    // half turn about its own x axis (its rows are its axes: x stays, y and z mix).
    const float(*down)[3] = tr.statues[statue].orientation;
    double c = cos(0.5890486225480862), s = sin(0.5890486225480862);
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(before[0][k], down[0][k], 1e-5);
        EXPECT_NEAR(before[1][k], c * down[1][k] + s * down[2][k], 1e-5);
        EXPECT_NEAR(before[2][k], -s * down[1][k] + c * down[2][k], 1e-5);
    }
}

TEST_F(RaceSetup, AGateABikeLeansOnStaysUp)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_LOCAL});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    RaceState &race = race_state();
    Racer *rider = race.racers[0];
    // Revving against the gate from five seconds before the drop on.
    race.frame = race.start_frame - 640;
    while (race.frame < race.start_frame + 64) {
        apply_controls(rider, 0, 0, 0, 0.6f, 0, 0, 0, 1, 0);
        game_step();
    }
    EXPECT_EQ(race.gate_bar[0], 1);         // held by the bike pressing on it
    EXPECT_EQ(race.gate_bar[1], 0);         // nobody at this one
    EXPECT_EQ(track().statues[timing_tables().starting_gates[0].statue].last_touched_frame,
              race.frame - 1);
}

TEST_F(RaceSetup, NetworkFalseStartHoldsTheRiderFifteenSecondsPastTheDrop)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_LOCAL});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    RaceState &race = race_state();
    Racer *rider = race.racers[race.local_slot];
    ASSERT_NE(rider, nullptr);
    race.frame = race.start_frame - 100;

    // 2.99 units from the start position: no penalty; exactly 3: penalised.
    dBodySetPosition(rider->bodies[BODY_FRAME], 600, 10, 500);
    for (double d : {2.99, 3.0}) {
        race.false_start_hold = 0;
        race.start_position[0] = (float)(600 - d);
        race.start_position[1] = 10;
        race.start_position[2] = 500;
        false_start_check(rider);
        EXPECT_EQ(rider->dab, 1);
        if (d < 3)
            EXPECT_EQ(race.false_start_hold, 0);
        else
            EXPECT_EQ(race.false_start_hold, 100 + 15 * 128);
    }
    // While held: brakes on, clutch in, throttle shut.
    rider->throttle = 1;
    false_start_check(rider);
    EXPECT_EQ(race.false_start_hold, 100 + 15 * 128 - 1);
    EXPECT_EQ(rider->throttle, 0);
    EXPECT_EQ(rider->clutch, 0);
    EXPECT_EQ(rider->front_brake, 1);
    EXPECT_EQ(rider->rear_brake, 1);
}

TEST_F(RaceSetup, NetworkPeerHitByTheLocalRiderIsSimulatedForThreeQuartersOfASecond)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_LOCAL, 9, 9});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    RaceState &race = race_state();
    race.network = true;
    race.frame = race.start_frame + 1000;
    Racer *local = race.racers[0];
    // Two peers driven by their reports: one standing in the local rider's way
    // (half a bike to its side), one whose reports stopped two seconds ago.
    for (int s : {1, 2}) {
        race.kind[s] = Replayed;
        sleep_racer(race.racers[s]);
    }
    const dReal *p = dBodyGetPosition(local->bodies[BODY_FRAME]);
    const dReal *q = dBodyGetPosition(race.racers[1]->bodies[BODY_FRAME]);
    move_racer(race.racers[1], p[0] - q[0] + 0.8, p[1] - q[1], p[2] - q[2] + 0.8);
    q = dBodyGetPosition(race.racers[2]->bodies[BODY_FRAME]);
    move_racer(race.racers[2], p[0] - q[0] - 0.8, p[1] - q[1], p[2] - q[2] - 0.8);
    add_state_to_history(2, encode_state(race.racers[2]), race.frame - 256);

    int frames_active = 0;
    for (int k = 0; k < 160; k++) {
        add_state_to_history(1, encode_state(race.racers[1]), race.frame);
        game_step();
        if (k == 0) {
            // Hit in this frame's collisions, faded by one tick in its step.
            EXPECT_DOUBLE_EQ(race.racers[1]->activity, 1 - 1.0 / 128);
            EXPECT_EQ(race.racers[2]->activity, 0);
        }
        frames_active += is_racer_active(race.racers[1]);
    }
    // From 1 down to 0.25 by a tick a frame: 96 frames (the first counted frame is
    // the hit itself).
    EXPECT_NEAR(frames_active, 96, 2);
    EXPECT_FALSE(is_racer_active(race.racers[1]));
    for (int k = 0; k < RACER_BODY_COUNT; k++)
        EXPECT_FALSE(dBodyIsEnabled(race.racers[1]->bodies[k]));
}

// Two bikes held in each other (a pile-up, a re-mount inside another bike) stop
// colliding after three seconds of unbroken contact, and collide again once they
// have been out of each other's reach.
TEST_F(RaceSetup, BikesTangledForThreeSecondsPassThroughEachOtherUntilApart)
{
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_LOCAL, LINEUP_AUTO_PILOT});
    ASSERT_TRUE(new_race(codes, false, false, 0, 1, 0));
    RaceState &race = race_state();
    race.frame = race.start_frame + 1000;
    Racer *a = race.racers[0], *b = race.racers[1];
    auto hold_together = [&](double dx) {
        const dReal *p = dBodyGetPosition(a->bodies[BODY_FRAME]);
        const dReal *q = dBodyGetPosition(b->bodies[BODY_FRAME]);
        move_racer(b, p[0] - q[0] + dx, p[1] - q[1], p[2] - q[2] + 0.6);
        for (Racer *r : {a, b})
            for (dBodyID body : r->bodies) {
                dBodySetLinearVel(body, 0, 0, 0);
                dBodySetAngularVel(body, 0, 0, 0);
            }
    };
    auto touching = [&]() {
        return a->had_rider_contact && a->rider_contact_frame == race.frame - 1;
    };
    int touches = 0;
    for (int k = 0; k < 3 * 128 + 10; k++) {
        hold_together(0.3);
        game_step();
        touches += touching();
    }
    EXPECT_EQ(touches, 3 * 128 + 1);    // every tick up to the end of the third second
    EXPECT_EQ(a->tangled_with, 1);
    EXPECT_EQ(b->tangled_with, 0);
    for (int k = 0; k < 64; k++) {
        hold_together(0.3);
        game_step();
        EXPECT_FALSE(touching());
    }
    hold_together(40);          // pulled apart
    game_step();
    EXPECT_EQ(a->tangled_with, -1);
    EXPECT_EQ(b->tangled_with, -1);
    hold_together(0.3);
    game_step();
    EXPECT_TRUE(touching());
}

TEST_F(RaceSetup, AMissingTrackStartsNoRace)
{
    settings_edit().track = intern_string("no-such-track");
    int codes[RACER_SLOTS];
    lineup_of(codes, {LINEUP_AUTO_PILOT});
    EXPECT_FALSE(new_race(codes, false, false, 0, 1, 0));
    EXPECT_EQ(race_state().racers[0], nullptr);
}

} // namespace
