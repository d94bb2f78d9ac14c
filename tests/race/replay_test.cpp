// The replay state and history: a posed racer packed and put back onto another
// racer, the exact fraction rule, the rings' ordering rules, and the poses sampling
// blends out of them (extrapolation limit, wheel wrap, quaternion signs).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "race/race.h"
#include "race/replay.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"

namespace
{

class ReplayTest : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        race_clear_slots();
        race_state().frame = 0;
        race_state().network = false;
        clear_history();
        set_history_version(5);
    }
    void TearDown() override
    {
        for (Racer *r : made)
            destroy_racer(r);
        race_clear_slots();
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
    Racer *make()
    {
        Racer *r = create_racer("crf450(2013)", 0, "7", nullptr, nullptr, nullptr, nullptr);
        made.push_back(r);
        return r;
    }
    std::vector<Racer *> made;
};

// A state whose frame x position is x (of the 1024 ft used without a track), with
// the given steering byte and front wheel byte; everything else mid-range.
ReplayState state_at(double x, uint8_t steer = 127, uint8_t wheel = 0)
{
    ReplayState s;
    memset(s.bytes, 0x80, sizeof s.bytes);
    uint32_t n = (uint32_t)floor(x / 1024 * 16777215.0);
    for (int i = 0; i < 3; i++)
        s.bytes[i] = (uint8_t)(n >> (8 * i));
    // Identity frame and rider orientation: w = 1.
    for (int off : {9, 26}) {
        s.bytes[off] = 0xff;
        s.bytes[off + 1] = 0xff;
    }
    s.bytes[17] = steer;
    s.bytes[34] = wheel;
    return s;
}

double state_x(const ReplayState &s)
{
    uint32_t n = s.bytes[0] | s.bytes[1] << 8 | s.bytes[2] << 16;
    return n / 16777215.0 * 1024;
}

double quaternion_angle(const dReal *a, const dReal *b)
{
    double dot = fabs(a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3]);
    return 2 * acos(std::min(1.0, dot));
}

// Design pose at a known spot: every field lands on a value worked out by hand.
TEST_F(ReplayTest, EncodingTakesTheFloorOfTheScaledFraction)
{
    Racer *r = make();
    double p[3] = {512, 512, 256};
    double q[4] = {1, 0, 0, 0};
    RiderPlacement rider = {false, 0, {0, 0, 0}, {1, 0, 0, 0}};
    pose_racer(r, p, q, 0, 0, 0, &rider, 0, 0);
    r->gear = 3;
    r->throttle = 0.5f;
    r->engine_speed = 8192 / 9.549296585513721;
    ReplayState s = encode_state(r);
    const uint8_t *b = s.bytes;
    EXPECT_EQ(b[0] | b[1] << 8 | b[2] << 16, 8388607);  // floor(0.5 * (2^24 - 1))
    EXPECT_EQ(b[6] | b[7] << 8 | b[8] << 16, 4194303);  // floor(0.25 * (2^24 - 1))
    EXPECT_EQ(b[9] | b[10] << 8, 65535);                // w = 1
    EXPECT_EQ(b[11] | b[12] << 8, 32767);               // x = 0
    EXPECT_EQ(b[17], 127);                              // steering 0
    EXPECT_EQ(b[18], 255);                              // extended, bit 0 set
    EXPECT_EQ(b[19], 254);                              // extended, fingerprint bit 0
    EXPECT_EQ(b[20] | b[21] << 8, 32767);               // rider on the frame
    EXPECT_EQ(b[34], 127);
    EXPECT_EQ(b[36], 3 | 7 << 4);                       // gear 3, throttle 7/15
    EXPECT_EQ(b[37] | b[38] << 8, 16383);               // 8192 of 32768 rpm

    // Crashed: gear bits 7, level min(15, (15c - 15) / 127); decoding gives the
    // countdown back to within one level.
    for (int c : {1, 2, 60, 128, 512, 600}) {
        SCOPED_TRACE(c);
        r->crash_countdown = c;
        ReplayState crashed = encode_state(r);
        int level = std::min(15, (15 * c - 15) / 127);
        EXPECT_EQ(crashed.bytes[36], 7 | level << 4);
        Racer *ghost = make();
        sleep_racer(ghost);
        apply_state(ghost, crashed, crashed, crashed, 1, 5);
        EXPECT_EQ(ghost->crash_countdown, level * 127 / 15 + 1);
        EXPECT_EQ(ghost->throttle, 0);
        EXPECT_GT(ghost->dab_anim, 0);
    }
}

struct PoseCase {
    double position[3];
    double axis[3], angle;
    double steer, swingarm, fork;
    double rider_offset[3];
    double rider_angle;
    double front, rear;
};

// A racer posed by hand, packed, and put onto a sleeping ghost: every body lands
// where it was within the quantisation.
TEST_F(ReplayTest, PosedRacerSurvivesTheRoundTrip)
{
    const PoseCase cases[] = {
        {{100, 20, 300}, {0, 1, 0}, 0.3, 0.2, -0.1, -0.2, {0, 2.5, 0.3}, 0.1, 1.0, -2.0},
        {{900.3, 3.7, 12.1}, {1, 0.2, 0}, -1.2, -0.7, -0.25, -0.02, {0.5, 1.9, -0.4}, -0.5,
         3.1, 0.01},
        {{512, 700, 512}, {0.3, -1, 0.5}, 2.9, 0.76, -0.01, -0.3, {-1, 3, 1}, 1.5, -3.1, 2.5},
    };
    Racer *source = make();
    Racer *ghost = make();
    sleep_racer(ghost);
    double worst_position = 0, worst_angle = 0, worst_joint = 0, worst_frame = 0;
    for (const PoseCase &c : cases) {
        SCOPED_TRACE(c.position[0]);
        double len = sqrt(c.axis[0] * c.axis[0] + c.axis[1] * c.axis[1] + c.axis[2] * c.axis[2]);
        double s = sin(c.angle / 2) / len;
        double q[4] = {cos(c.angle / 2), c.axis[0] * s, c.axis[1] * s, c.axis[2] * s};
        RiderPlacement rider = {false, 0, {c.rider_offset[0], c.rider_offset[1],
                                           c.rider_offset[2]},
                                {cos(c.rider_angle / 2), 0, sin(c.rider_angle / 2), 0}};
        double swingarm = c.swingarm * source->model.swingarm_travel;
        double fork = c.fork * source->model.fork_travel;
        pose_racer(source, c.position, q, c.steer, swingarm, fork, &rider, c.front, c.rear);
        source->gear = 2;
        source->throttle = 1;
        source->engine_speed = 900;

        ReplayState st = encode_state(source);
        apply_state(ghost, st, st, st, 1, 5);
        for (int i = 0; i < RACER_BODY_COUNT; i++) {
            const dReal *a = dBodyGetPosition(source->bodies[i]);
            const dReal *b = dBodyGetPosition(ghost->bodies[i]);
            for (int k = 0; k < 3; k++)
                worst_position = std::max(worst_position, fabs(a[k] - b[k]));
            worst_angle = std::max(worst_angle, quaternion_angle(dBodyGetQuaternion(source->bodies[i]),
                                                                 dBodyGetQuaternion(ghost->bodies[i])));
            const dReal *v = dBodyGetLinearVel(ghost->bodies[i]);
            EXPECT_NEAR(v[0] * v[0] + v[1] * v[1] + v[2] * v[2], 0, 1e-12);
        }
        worst_frame = std::max(worst_frame, quaternion_angle(dBodyGetQuaternion(source->bodies[0]),
                                                             dBodyGetQuaternion(ghost->bodies[0])));
        worst_joint = std::max(worst_joint, fabs(steering_angle(ghost) - c.steer));
        double wheel = dJointGetHingeAngle(ghost->joints[JOINT_REAR_AXLE]) - c.rear;
        wheel = remainder(wheel, 2 * M_PI);
        worst_joint = std::max(worst_joint, fabs(wheel));
        EXPECT_EQ(ghost->gear, 2);
        EXPECT_FLOAT_EQ(ghost->throttle, 1);
        EXPECT_NEAR(ghost->engine_speed, 900, 32768 * M_PI / 30 / 65535 + 1e-9);
    }
    printf("[ quantisation ] body position %.5f ft, frame orientation %.5f rad, any body "
           "orientation %.5f rad, joints %.5f rad\n",
           worst_position, worst_frame, worst_angle, worst_joint);
    EXPECT_LT(worst_frame, 1e-3);
    EXPECT_LT(worst_position, 0.03);
    EXPECT_LT(worst_angle, 0.03);
    EXPECT_LT(worst_joint, 2 * M_PI / 255 + 1e-9);
}

// Velocities come from the two bracket states: 4 ft in 4 frames is 128 ft/s. A racer
// that is awake follows with its own physics instead of jumping.
TEST_F(ReplayTest, BracketGivesVelocitiesAndAwakeRacersAreNotMoved)
{
    Racer *ghost = make();
    sleep_racer(ghost);
    ReplayState a = state_at(100), b = state_at(104);
    apply_state(ghost, blend_states(a, b, 0.5, 5), a, b, 4, 5);
    const dReal *v = dBodyGetLinearVel(ghost->bodies[BODY_FRAME]);
    EXPECT_NEAR(v[0], 128, 0.01);
    EXPECT_NEAR(v[1], 0, 0.01);
    EXPECT_NEAR(dBodyGetPosition(ghost->bodies[BODY_FRAME])[0], 102, 0.001);

    Racer *awake = make();
    move_racer(awake, 10, 10, 10);
    double before = dBodyGetPosition(awake->bodies[BODY_FRAME])[0];
    apply_state(awake, a, a, b, 4, 5);
    EXPECT_EQ(dBodyGetPosition(awake->bodies[BODY_FRAME])[0], before);
}

TEST_F(ReplayTest, RingKeepsFrameOrderAndIgnoresRepeats)
{
    const int slot = 9;
    add_state_to_history(slot, state_at(10), 10);
    add_state_to_history(slot, state_at(30), 30);
    add_state_to_history(slot, state_at(20), 20);      // older than the newest
    add_state_to_history(slot, state_at(999), 20);     // a repeat: nothing changes
    add_state_to_history(slot, state_at(5), 5);
    add_state_to_history(RACER_SLOTS, state_at(1), 1); // ignored, no harm done
    add_state_to_history(-1, state_at(1), 1);

    ASSERT_EQ(history_unsaved(slot), 4);
    const int32_t want[] = {5, 10, 20, 30};
    for (int i = 0; i < 4; i++) {
        int32_t f;
        ReplayState s;
        history_unsaved_entry(slot, i, &f, &s);
        EXPECT_EQ(f, want[i]);
        EXPECT_NEAR(state_x(s), want[i], 0.001);
    }
    EXPECT_EQ(history_newest_frame(slot), 30);
    history_mark_saved(slot);
    EXPECT_EQ(history_unsaved(slot), 0);

    // A full ring drops its oldest; a state older than all it holds is not taken.
    for (int f = 100; f < 300; f++)
        add_state_to_history(slot, state_at(f), f);
    EXPECT_EQ(history_unsaved(slot), HISTORY_LENGTH);
    int32_t oldest;
    ReplayState s;
    history_unsaved_entry(slot, 0, &oldest, &s);
    EXPECT_EQ(oldest, 300 - HISTORY_LENGTH);
    add_state_to_history(slot, state_at(50), 50);
    history_unsaved_entry(slot, 0, &oldest, &s);
    EXPECT_EQ(oldest, 300 - HISTORY_LENGTH);
    EXPECT_EQ(history_newest_frame(slot), 299);
    clear_slot_history(slot);
    EXPECT_EQ(history_newest_frame(slot), -1);
}

TEST_F(ReplayTest, SamplingBlendsAndStopsExtrapolatingAfterHalfASecond)
{
    HistorySample s;
    EXPECT_FALSE(sample_pose(3, 50, &s));

    // One state: that state, whatever the frame.
    add_state_to_history(3, state_at(100, 90), 100);
    for (int32_t f : {-5, 50, 100, 101, 400}) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(sample_pose(3, f, &s));
        EXPECT_EQ(memcmp(s.pose.bytes, state_at(100, 90).bytes, REPLAY_STATE_SIZE), 0);
    }

    add_state_to_history(3, state_at(104, 110), 104);
    struct {
        int32_t frame;
        double x;
        int steer;
    } cases[] = {
        {102, 102, 100},        // halfway
        {104, 104, 110},        // on the newest state: that state
        {106, 106, 110},        // beyond: positions go on, the rest stops
        {204, 168, 110},        // 100 frames beyond: only 64 frames of travel
        {100, 100, 90},         // before both: the oldest
        {50, 100, 90},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_TRUE(sample_pose(3, c.frame, &s));
        EXPECT_NEAR(state_x(s.pose), c.x, 0.001);
        EXPECT_EQ(s.pose.bytes[17], c.steer);
    }
    int32_t e, l;
    ASSERT_TRUE(history_bracket(3, 103, &e, &l));
    EXPECT_EQ(e, 100);
    EXPECT_EQ(l, 104);
}

TEST_F(ReplayTest, BlendingWrapsWheelsForwardsAndTakesTheShortWayRound)
{
    struct {
        uint8_t a, b;
        double t;
        int want;
    } wheels[] = {
        {242, 13, 0.5, 0},          // 0.95 -> 0.05 runs forwards through 1.0
        {242, 13, 0.25, 248},
        {242, 13, 0.75, 6},
        {100, 90, 0.5, 95},         // a little backwards stays backwards
        {13, 242, 0.5, 0},          // 0.05 -> 0.95: backwards through 0
        {10, 200, 0.5, 105},
    };
    for (const auto &w : wheels) {
        SCOPED_TRACE(testing::Message() << (int)w.a << " -> " << (int)w.b << " at " << w.t);
        ReplayState s = blend_states(state_at(1, 127, w.a), state_at(1, 127, w.b), w.t, 5);
        // 0 and 255 are the same angle (-pi and pi).
        int d = abs(s.bytes[34] - w.want);
        EXPECT_LE(std::min(d, 255 - d), 1) << (int)s.bytes[34];
    }

    // q and -q are the same orientation: blending them must not pass through zero.
    ReplayState a = state_at(1), b = state_at(1);
    double half = sin(0.25);
    uint16_t plus = (uint16_t)floor((half + 1) / 2 * 65535);
    uint16_t minus = (uint16_t)floor((-half + 1) / 2 * 65535);
    uint16_t w_plus = (uint16_t)floor((cos(0.25) + 1) / 2 * 65535);
    uint16_t w_minus = (uint16_t)floor((-cos(0.25) + 1) / 2 * 65535);
    a.bytes[9] = (uint8_t)w_plus, a.bytes[10] = (uint8_t)(w_plus >> 8);
    a.bytes[13] = (uint8_t)plus, a.bytes[14] = (uint8_t)(plus >> 8);
    b.bytes[9] = (uint8_t)w_minus, b.bytes[10] = (uint8_t)(w_minus >> 8);
    b.bytes[13] = (uint8_t)minus, b.bytes[14] = (uint8_t)(minus >> 8);
    ReplayState mid = blend_states(a, b, 0.5, 5);
    double w = (mid.bytes[9] | mid.bytes[10] << 8) / 65535.0 * 2 - 1;
    double y = (mid.bytes[13] | mid.bytes[14] << 8) / 65535.0 * 2 - 1;
    EXPECT_NEAR(fabs(w), cos(0.25), 1e-3);
    EXPECT_NEAR(fabs(y), half, 1e-3);

    // Version 4 states and t = 0 come back unchanged; the drive byte is a's.
    ReplayState c = state_at(1), d = state_at(50);
    c.bytes[36] = 0x35;
    d.bytes[36] = 0x07;
    EXPECT_EQ(memcmp(blend_states(c, d, 0.5, 4).bytes, c.bytes, REPLAY_STATE_SIZE), 0);
    EXPECT_EQ(memcmp(blend_states(c, d, 0, 5).bytes, c.bytes, REPLAY_STATE_SIZE), 0);
    EXPECT_EQ(blend_states(c, d, 0.9, 5).bytes[36], 0x35);
}

// sample_history puts the slot's racer into the pose.
TEST_F(ReplayTest, SamplingPosesTheSlotsRacer)
{
    Racer *r = make();
    sleep_racer(r);
    race_state().racers[4] = r;
    race_state().kind[4] = Replayed;
    add_state_to_history(4, state_at(200), 40);
    add_state_to_history(4, state_at(208), 48);
    sample_history(4, 44);
    EXPECT_NEAR(dBodyGetPosition(r->bodies[BODY_FRAME])[0], 204, 0.001);
    EXPECT_NEAR(dBodyGetLinearVel(r->bodies[BODY_FRAME])[0], 8 * 128 / 8.0, 0.01);
}

} // namespace
