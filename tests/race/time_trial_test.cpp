// The time trial on the packed default track, ridden by hand: the bike is put just
// behind each checkpoint of the lap in turn, moving through it, so that the race's
// own gate crossing times the lap and the recording holds a lap that crosses every
// gate. The ghost replaying that recording then passes the gates too, which is what
// decides whether a later lap is kept as the fastest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "core/common.h"
#include "core/settings.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/replay.h"
#include "sim/contact.h"
#include "sim/racer.h"
#include "sim/racer_pose.h"
#include "sim/world.h"
#include "tests/race/packed_track.h"
#include "tests/support/temp_home.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

namespace
{

// One lap as ridden: where the rider's frame stood (x, z) after each step, by frames
// since the lap began.
struct Lap {
    int32_t start = 0;          // race frame at which the lap's timing began
    int32_t crossing = 0;       // frame of the step that crossed the lap line
    std::map<int32_t, std::pair<double, double>> where;
    int32_t ghost_gates_at_end = -1;    // the ghost's gates just before the crossing
    int ghost_frames_compared = 0;
    double ghost_largest_error = 0;
};

class TimeTrial : public PackedTrackTest
{
  protected:
    std::string fastlap_bytes()
    {
        std::ifstream in(home + "fernbottom/fastlap.qkdemo", std::ios::binary);
        if (!in)
            return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Puts the rider in its design pose facing through race gate g's checkpoint, its
    // front wheel `behind` feet short of the gate plane, on the ground, rolling
    // through at speed.
    static void put_before_gate(Racer *r, int g, double behind, double speed)
    {
        const TimingGate &gate = timing_tables().checkpoints[race_gate_checkpoint(g)];
        double len = hypot(gate.dx, gate.dz);
        double ux = gate.dx / len, uz = gate.dz / len;
        // The design pose also clears the gate progress: a jump keeps it.
        int32_t passed = r->gates.gates_passed;
        reset_racer_physics(r);
        r->gates.gates_passed = passed;
        dMatrix3 turn;
        dRFromAxisAndAngle(turn, 0, 1, 0, atan2(-gate.dx, -gate.dz));
        const BikeVec3 &fp = r->model.frame_position;
        for (dBodyID b : r->bodies) {
            const dReal *p = dBodyGetPosition(b);
            dVector3 rel = {p[0] - fp.x, p[1], p[2] - fp.z, 0}, moved;
            dMultiply0_331(moved, turn, rel);
            dBodySetPosition(b, moved[0], moved[1], moved[2]);
            dMatrix3 m;
            dMultiply0_333(m, turn, dBodyGetRotation(b));
            dBodySetRotation(b, m);
        }
        const dReal *w = dBodyGetPosition(r->bodies[BODY_FRONT_WHEEL]);
        double x = gate.x - ux * behind - w[0], z = gate.z - uz * behind - w[2];
        move_racer(r, x, terrain_height(track_terrain(), (float)x, (float)z), z);
        for (int i = 0; i < 400 && terrain_touch_test(r, track_terrain()); i++)
            move_racer(r, 0, 0.25, 0);
        for (dBodyID b : r->bodies)
            dBodySetLinearVel(b, ux * speed, 0, uz * speed);
    }

    // The way to the line: standing on checkpoint F-2, then through the line. It
    // carries no time.
    void ride_to_line()
    {
        RaceState &race = race_state();
        Racer *rider = race.racers[0];
        int f = timing_tables().first_lap_count;
        game_step();
        EXPECT_EQ(rider->gates.gates_passed, f - 1);
        while (race.frame % 16 != 15)
            game_step();
        put_before_gate(rider, f - 1, 0.05, 40);
        game_step();
        ASSERT_EQ(rider->gates.gates_passed, f);
    }

    // Rides from the lap line through every gate of a normal lap, frames_per_gate
    // steps at each; the lap line itself is crossed in the step of a frame that is
    // 15 mod 16, so that the next lap's recording starts on a frame the finished
    // recording has already written. When ghost_of is given, the ghost's pose is
    // checked against that lap after every step that lands on a recorded state.
    void ride_lap(int frames_per_gate, Lap *lap, const Lap *ghost_of)
    {
        RaceState &race = race_state();
        const TimingTables &t = timing_tables();
        int f = t.first_lap_count, n = t.normal_lap_count;
        Racer *rider = race.racers[0];
        lap->start = race.frame;
        int32_t ghost_start = race.frame;
        auto step = [&]() {
            game_step();
            int32_t k = race.frame - lap->start;
            const dReal *p = dBodyGetPosition(rider->bodies[BODY_FRAME]);
            lap->where[k] = {p[0], p[2]};
            if (!ghost_of || !race.racers[1])
                return;
            // The ghost was posed at the start of the step for the frame before.
            int32_t kg = race.frame - 1 - ghost_start;
            int32_t recorded = ghost_of->start + kg;
            auto at = ghost_of->where.find(kg);
            if (recorded % 4 != 0 || at == ghost_of->where.end())
                return;
            const dReal *q = dBodyGetPosition(race.racers[1]->bodies[BODY_FRAME]);
            double e = hypot(q[0] - at->second.first, q[2] - at->second.second);
            lap->ghost_largest_error = std::max(lap->ghost_largest_error, e);
            lap->ghost_frames_compared++;
        };
        for (int g = f; g < f + n - 1; g++) {
            put_before_gate(rider, g, 1.0, 40);
            for (int i = 0; i < frames_per_gate; i++)
                step();
            ASSERT_GT(rider->gates.gates_passed, g) << "gate " << g << " was not crossed";
        }
        while (race.frame % 16 != 15)
            step();
        lap->ghost_gates_at_end = race.racers[1] ? race.racers[1]->gates.gates_passed : -1;
        put_before_gate(rider, f + n - 1, 0.05, 40);
        lap->crossing = race.frame;
        int laps = laps_for_gates(rider->gates.gates_passed);
        step();
        // The lap end put the rider back to the start of a lap.
        ASSERT_EQ(rider->gates.gates_passed, f) << "the lap line was not crossed";
        ASSERT_EQ(laps, 1);
    }
};

TEST_F(TimeTrial, LapsAreTimedFromTheLineAndOnlyABetterLapBecomesTheGhost)
{
    ASSERT_TRUE(new_race(nullptr, false, true, 0, 1000, 0));
    RaceState &race = race_state();
    const TimingTables &t = timing_tables();
    int f = t.first_lap_count, n = t.normal_lap_count;
    ASSERT_GE(f, 2);
    ASSERT_GE(n, 3);
    // Lap timing restarts on the lap line: first and normal laps end on one checkpoint.
    ASSERT_EQ(race_gate_checkpoint(f - 1), race_gate_checkpoint(f + n - 1));
    Racer *rider = race.racers[0];
    ASSERT_NE(rider, nullptr);
    EXPECT_EQ(race.kind[0], LocalRider);
    EXPECT_EQ(race.racers[1], nullptr);
    EXPECT_EQ(rider->gates.gates_passed, f - 2);

    ride_to_line();
    if (HasFatalFailure())
        return;
    EXPECT_EQ(race.last_lap, 0);
    EXPECT_EQ(race.best_lap, 0);

    Lap first, slower, faster, after;
    ride_lap(20, &first, nullptr);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(race.last_lap, first.crossing - first.start);
    EXPECT_EQ(race.best_lap, race.last_lap);
    std::string kept = fastlap_bytes();
    ASSERT_NE(kept, "<missing>");
    // The ghost rides the lap just kept, fed ahead of the race clock.
    ASSERT_NE(race.racers[1], nullptr);
    EXPECT_EQ(race.kind[1], Replayed);
    EXPECT_GE(history_newest_frame(1), race.frame);

    ride_lap(28, &slower, &first);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(race.last_lap, slower.crossing - slower.start);
    EXPECT_GT(race.last_lap, first.crossing - first.start);
    // The ghost crossed every gate of its lap before the rider closed a slower one,
    // so the file stays. Its own lap stands as the best (its crossings fall between
    // the recorded states, up to a state interval earlier).
    EXPECT_EQ(slower.ghost_gates_at_end, f + n);
    EXPECT_EQ(fastlap_bytes(), kept);
    EXPECT_LE(race.best_lap, first.crossing - first.start);
    EXPECT_GE(race.best_lap, first.crossing - first.start - 4);
    EXPECT_GT(slower.ghost_frames_compared, 50);
    EXPECT_LT(slower.ghost_largest_error, 0.1);

    ride_lap(12, &faster, &first);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(race.last_lap, faster.crossing - faster.start);
    EXPECT_EQ(race.best_lap, race.last_lap);
    EXPECT_LT(faster.ghost_gates_at_end, f + n);
    EXPECT_NE(fastlap_bytes(), kept);
    EXPECT_LT(faster.ghost_largest_error, 0.1);

    // The new ghost rides the faster lap, frame for frame from the line.
    ride_lap(20, &after, &faster);
    if (HasFatalFailure())
        return;
    EXPECT_GT(after.ghost_frames_compared, 30);
    EXPECT_LT(after.ghost_largest_error, 0.1);
    printf("laps %d %d %d frames; ghost error %.4f / %.4f ft over %d / %d frames\n",
           first.crossing - first.start, slower.crossing - slower.start,
           faster.crossing - faster.start, slower.ghost_largest_error,
           after.ghost_largest_error, slower.ghost_frames_compared,
           after.ghost_frames_compared);
}

// A lap whose recording could not be written must not replace the best lap with
// whatever "lastlap.qkdemo" still holds from before.
TEST_F(TimeTrial, AnUnrecordedLapLeavesTheBestLapAlone)
{
    ASSERT_TRUE(new_race(nullptr, false, true, 0, 1000, 0));
    const RaceState &race = race_state();
    ride_to_line();
    Lap first, slower, faster;
    ride_lap(20, &first, nullptr);
    if (HasFatalFailure())
        return;
    std::string kept = fastlap_bytes();

    // Read-only from now on, and the game-data folder too (a write goes there when
    // the home refuses it): the recording of the lap after the slower one can't
    // start, and the file keeps the slower lap.
    namespace fs = std::filesystem;
    std::string last = home + "fernbottom/lastlap.qkdemo";
    struct Restore {
        std::string last, data;
        ~Restore()
        {
            fs::permissions(last, fs::perms::owner_all, fs::perm_options::add);
            fs::permissions(data, fs::perms::owner_all, fs::perm_options::add);
        }
    } restore{last, data};
    fs::permissions(last, fs::perms::owner_write, fs::perm_options::remove);
    fs::permissions(data, fs::perms::owner_write, fs::perm_options::remove);
    if (std::ofstream(last, std::ios::app).is_open())
        GTEST_SKIP() << "the file stays writable (running as root)";
    ride_lap(28, &slower, &first);
    if (HasFatalFailure())
        return;
    ride_lap(12, &faster, nullptr);
    if (HasFatalFailure())
        return;
    // The faster lap did beat the ghost, and it is the best time ...
    const TimingTables &t = timing_tables();
    EXPECT_LT(faster.ghost_gates_at_end, t.first_lap_count + t.normal_lap_count);
    EXPECT_EQ(race.best_lap, faster.crossing - faster.start);
    // ... but the ghost's file still holds the first lap, not the slower one.
    EXPECT_EQ(fastlap_bytes(), kept);
}

} // namespace
