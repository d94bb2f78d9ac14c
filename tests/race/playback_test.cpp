// A race recorded into the default demo and played back: the replayed bikes stand
// where the recorded ones stood, to within what the packed state keeps, and seeking
// back and forth lands on the same poses.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/common.h"
#include "core/settings.h"
#include "race/demo.h"
#include "race/race.h"
#include "sim/racer.h"
#include "sim/world.h"
#include "tests/race/packed_track.h"
#include "tests/support/temp_home.h"
#include "track/track.h"

namespace
{

double racer_state_tyre_section()
{
    return race_state().racers[0]->model.rear_wheel.tyre_section_radius;
}

// Positions and orientations of a racer's seven bodies.
struct Pose {
    double position[RACER_BODY_COUNT][3];
    double rotation[RACER_BODY_COUNT][12];
};

Pose pose_of(const Racer *r)
{
    Pose p;
    for (int b = 0; b < RACER_BODY_COUNT; b++) {
        memcpy(p.position[b], dBodyGetPosition(r->bodies[b]), sizeof p.position[b]);
        memcpy(p.rotation[b], dBodyGetRotation(r->bodies[b]), sizeof p.rotation[b]);
    }
    return p;
}

// Largest body position error (ft) and rotation error (rad) between two poses.
void compare(const Pose &a, const Pose &b, bool wheels, double *position, double *angle)
{
    for (int k = 0; k < RACER_BODY_COUNT; k++) {
        // A wheel's spin angle is kept in a byte (1.4 degrees a step): only the
        // other bodies are held to the finer limit.
        if (!wheels && (k == BODY_FRONT_WHEEL || k == BODY_REAR_WHEEL))
            continue;
        double d = 0;
        for (int i = 0; i < 3; i++)
            d += (a.position[k][i] - b.position[k][i]) * (a.position[k][i] - b.position[k][i]);
        *position = std::max(*position, sqrt(d));
        // Angle of the relative rotation from the trace of A^T B.
        double trace = 0;
        for (int i = 0; i < 3; i++)
            for (int j = 0; j < 3; j++)
                trace += a.rotation[k][i * 4 + j] * b.rotation[k][i * 4 + j];
        double c = std::min(1.0, std::max(-1.0, (trace - 1) / 2));
        *angle = std::max(*angle, acos(c));
    }
}

class Playback : public PackedTrackTest
{
  protected:
    void SetUp() override
    {
        PackedTrackTest::SetUp();
        settings_edit().demo_backups = 0;
    }
};

TEST_F(Playback, ReplayedBikesTakeTheRecordedPosesAndSeekingReturnsToThem)
{
    // Record: two computer-free bikes, the local rider pulling away from the gate
    // after it drops, the second parked (it still moves: it settles on its
    // suspension).
    int codes[RACER_SLOTS] = {};
    codes[0] = 1;
    codes[1] = 9;       // a plain rm125 nobody drives
    ASSERT_TRUE(new_race(codes, false, true, 0, 1, 0));
    RaceState &race = race_state();
    std::map<int32_t, std::vector<Pose>> recorded;
    const int32_t end = race.start_frame + 4 * 128;
    while (race.frame < end) {
        Racer *rider = race.racers[0];
        bool go = race.frame > race.start_frame;
        apply_controls(rider, 0.1f, 0, 0, go ? 0.6f : 0, 0, 0, 0, go ? 1.0f : 0, 0);
        game_step();
        if (race.frame % 4 == 0 && race.frame > end - 3 * 128)
            recorded[race.frame] = {pose_of(race.racers[0]), pose_of(race.racers[1])};
    }
    // The rider did ride off.
    const double *from = recorded.begin()->second[0].position[BODY_FRAME];
    const double *to = recorded.rbegin()->second[0].position[BODY_FRAME];
    ASSERT_GT(hypot(to[0] - from[0], to[2] - from[2]), 20);

    // Play back: both slots become replayed demo riders.
    int empty[RACER_SLOTS] = {};
    ASSERT_TRUE(new_race(empty, true, false, 0, 1, 0));
    ASSERT_TRUE(demo_playing());
    ASSERT_EQ(race.kind[0], Replayed);
    ASSERT_NE(race.racers[0], nullptr);
    ASSERT_NE(race.racers[1], nullptr);

    double position = 0, angle = 0, wheel_position = 0, wheel_angle = 0, largest_lift = 0;
    int compared = 0;
    auto check_frame = [&](int32_t frame) {
        auto it = recorded.find(frame);
        if (it == recorded.end())
            return;
        for (int s = 0; s < 2; s++) {
            Pose now = pose_of(race.racers[s]);
            // A replayed bike is lifted as a whole until its rear tyre is clear of
            // the ground; the recorded one sat on its compressed tyre. Take the
            // lift out, and check it is no more than the tyre's section.
            double lift = now.position[BODY_FRAME][1] - it->second[s].position[BODY_FRAME][1];
            largest_lift = std::max(largest_lift, lift);
            EXPECT_GT(lift, -0.01);
            for (int b = 0; b < RACER_BODY_COUNT; b++)
                now.position[b][1] -= lift;
            compare(it->second[s], now, false, &position, &angle);
            compare(it->second[s], now, true, &wheel_position, &wheel_angle);
        }
        compared++;
    };
    while (race.frame < end) {
        int32_t frame = race.frame;
        game_step();
        check_frame(frame);
    }
    RecordProperty("largest_position_error_ft", std::to_string(position));
    RecordProperty("largest_angle_error_rad", std::to_string(angle));
    printf("replay error: position %.5f ft, angle %.5f rad (wheels %.5f ft, %.5f rad), lift "
           "%.3f ft, over %d frames\n",
           position, angle, wheel_position, wheel_angle, largest_lift, compared);
    EXPECT_LT(largest_lift, racer_state_tyre_section());
    EXPECT_GT(compared, 90);
    // Positions are kept to 1/2^24 of the field (under 1e-4 ft) plus the rider's
    // offset to 32/65535 ft; orientations to 1/32767 per quaternion component, and
    // the dependent bodies follow from one-byte joint angles (the steering byte is
    // 0.35 degrees a step).
    EXPECT_LT(position, 0.02);
    // Two steps of the steering byte (pi/2 over 255 steps, rounded down when packed).
    EXPECT_LT(angle, 0.0125);
    EXPECT_LT(wheel_angle, 0.03);

    // One second back and one forward again: the same poses.
    int32_t before = race.frame;
    Pose here = pose_of(race.racers[0]);
    seek_demo(-1);
    EXPECT_EQ(race.frame, before - 128);
    double back_position = 0, back_angle = 0;
    auto it = recorded.find(race.frame - 1);
    if (it != recorded.end()) {
        compare(it->second[0], pose_of(race.racers[0]), false, &back_position, &back_angle);
        EXPECT_LT(back_position, 0.02);
    }
    seek_demo(1);
    EXPECT_EQ(race.frame, before);
    double p2 = 0, a2 = 0;
    compare(here, pose_of(race.racers[0]), false, &p2, &a2);
    EXPECT_LT(p2, 1e-3);
    EXPECT_LT(a2, 1e-3);
}

} // namespace
