// The racer step and the world tick: a bike left alone on flat ground, full
// throttle, bikes off the edge of the terrain, a crash and its re-mount, back-up
// pulses, an asleep racer, and the two crash tests as plain laws.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "sim/assists.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/setup.h"
#include "sim/step.h"
#include "sim/world.h"
#include "sim/world_tick.h"
#include "tests/support/temp_home.h"
#include "tests/sim/test_terrain.h"
#include "track/terrain.h"

namespace
{

TEST(CrashTests, SlipAndAccelerationThresholds)
{
    const double zero[3] = {0, 0, 0};
    struct {
        double v[3];
        bool slip;      // against a frame at rest
        bool hard;      // against a rider at rest four ticks ago
    } cases[] = {
        {{0, 0, 0}, false, false},          // at rest: only gravity's 32 ft/s²
        {{31, 0, 0}, false, false},         // exactly 31 ft/s is not above
        {{31.01, 0, 0}, true, false},
        {{0, -1, -43}, true, false},        // exactly 1376 ft/s² is not above
        {{0, -1, -43.01}, true, true},
        {{0, 42, 0}, true, false},          // gravity adds to an upward jolt
        {{0, 42.01, 0}, true, true},
        {{0, -44, 0}, true, false},         // and takes off a downward one
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.v[0] << "," << c.v[1] << "," << c.v[2]);
        EXPECT_EQ(crash_by_velocity(c.v, zero), c.slip);
        EXPECT_EQ(crash_by_acceleration(c.v, zero), c.hard);
    }
    const double earlier[3] = {0, 0, -50};
    const double now[3] = {0, 0, -50};
    EXPECT_FALSE(crash_by_acceleration(now, earlier));
    EXPECT_FALSE(crash_by_velocity(now, earlier));
}


class Step : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        physics_reset_message_count();
        terrain = flat_terrain();
        // The packed game data, for the part shapes that keep a fallen rider on the
        // ground.
        std::error_code ec;
        std::filesystem::copy_file(std::string(RUTTMOOR_BUILD_DIR) + "/zzzz.saf",
                                   data + "zzzz.saf", ec);
        ASSERT_FALSE(ec) << "the packed game data is needed: " << ec.message();
        racer = create_racer("crf450(2013)", 1, "1", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(racer, nullptr);
        ASSERT_NE(racer->shapes[BODY_RIDER], nullptr);
        racer->setup.flags |= SETUP_AUTO_DAB | SETUP_AUTO_SHIFT;
        move_racer(racer, 128, 0, 128);
    }
    void TearDown() override
    {
        destroy_racer(racer);
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
    void run(double seconds)
    {
        StepContext ctx = {};
        ctx.terrain = &terrain;
        for (int n = (int)(seconds * 128); n > 0; n--) {
            ctx.tick = ++tick;
            Racer *list[] = {racer};
            world_tick(list, 1, &ctx);
        }
    }
    bool finite_state() const
    {
        for (dBodyID b : racer->bodies) {
            const dReal *p = dBodyGetPosition(b), *v = dBodyGetLinearVel(b);
            for (int k = 0; k < 3; k++)
                if (!std::isfinite(p[k]) || !std::isfinite(v[k]))
                    return false;
        }
        for (const RacerLegPoint &leg : racer->leg_points)
            for (int k = 0; k < 3; k++)
                if (!std::isfinite(leg.position[k]) || !std::isfinite(leg.velocity[k]))
                    return false;
        return std::isfinite(racer->engine_speed);
    }
    double position(int body, int axis) const
    {
        return dBodyGetPosition(racer->bodies[body])[axis];
    }

    Terrain terrain;
    Racer *racer = nullptr;
    int tick = 0;
};

TEST_F(Step, LeftAloneOnFlatGroundTheBikeStaysUpAndStill)
{
    racer->front_brake = 0.25f;
    double x0 = position(BODY_FRAME, 0), z0 = position(BODY_FRAME, 2);
    // A shove to one side: the foot has to catch the lean.
    for (int i = 0; i < 16; i++) {
        dBodyAddForce(racer->bodies[BODY_RIDER], 400, 0, 0);
        run(1.0 / 128);
    }
    double most = 0;
    for (int i = 0; i < 40; i++) {
        run(0.125);
        most = fmax(most, fabs(roll_angle(racer->bodies[BODY_FRAME])));
    }
    EXPECT_GT(most, 0.02);      // the push did lean it
    ASSERT_TRUE(finite_state());
    EXPECT_EQ(racer->crash_countdown, 0);
    EXPECT_LT(fabs(roll_angle(racer->bodies[BODY_FRAME])), 0.6);
    EXPECT_LT(racer_frame_speed(racer), 1);
    EXPECT_NEAR(position(BODY_FRAME, 0), x0, 1);
    EXPECT_NEAR(position(BODY_FRAME, 2), z0, 1);
    // The automatic dab held both brakes on, but the rider's own inputs come back.
    EXPECT_FLOAT_EQ(racer->front_brake, 0.25f);
    EXPECT_FLOAT_EQ(racer->rear_brake, 0);
    EXPECT_EQ(racer->incident, 1);      // slower than 5 ft/s after the first 2 s
    EXPECT_EQ(physics_message_count(), 0);
}

TEST_F(Step, FullThrottleMakesForwardSpeedGrow)
{
    run(0.5);
    racer->clutch = 1;
    racer->throttle = 1;
    run(1);
    double early = racer_forward_speed(racer);
    run(2);
    ASSERT_TRUE(finite_state());
    double later = racer_forward_speed(racer);
    EXPECT_GT(early, 2);
    EXPECT_GT(later, early + 5);
    EXPECT_EQ(racer->crash_countdown, 0);
    EXPECT_LT(position(BODY_FRAME, 2), 128 - 20);   // forward is -z
}

TEST_F(Step, OffTheTerrainAndOnItsEdgeStaysFinite)
{
    const double places[][2] = {{1e7, 1e7}, {-1e6, 128}, {256, 256}, {0, 0}, {256, 128}};
    for (const auto &p : places) {
        SCOPED_TRACE(testing::Message() << p[0] << "," << p[1]);
        reset_racer_physics(racer);
        racer->setup.flags |= SETUP_AUTO_DAB;
        move_racer(racer, p[0], 0, p[1]);
        racer->throttle = 1;
        racer->clutch = 1;
        run(1);
        EXPECT_TRUE(finite_state());
    }
}

TEST_F(Step, ACrashThrowsTheRiderOffAndRemountsAfterFourSecondsAtRest)
{
    run(0.25);
    ASSERT_EQ(racer->crash_countdown, 0);
    // Thrown off between the world step and the racer step.
    dBodySetLinearVel(racer->bodies[BODY_RIDER], 40, 0, 0);
    StepContext ctx = {};
    ctx.terrain = &terrain;
    ctx.tick = ++tick;
    racer_step(racer, &ctx);
    EXPECT_EQ(racer->crash_count, 1);
    EXPECT_GT(racer->crash_countdown, 500);
    EXPECT_EQ(dJointGetBody(racer->joints[JOINT_RIDER_MOUNT], 0), nullptr);
    // Inputs that need a rider on the bike read 0.
    racer->throttle = 1;
    racer->clutch = 1;
    EXPECT_TRUE(finite_state());

    // The count only runs while the rider lies still; it then ends within 4 s
    // and the rider is back on the seat.
    int ticks = 0;
    while (racer->crash_countdown > 0 && ticks < 128 * 20) {
        run(1.0 / 128);
        ticks++;
    }
    ASSERT_EQ(racer->crash_countdown, 0) << "still down after 20 s";
    EXPECT_GE(ticks, 512);
    EXPECT_NE(dJointGetBody(racer->joints[JOINT_RIDER_MOUNT], 0), nullptr);
    EXPECT_TRUE(finite_state());
    racer->throttle = 0;
    run(2);
    EXPECT_EQ(racer->crash_countdown, 0);
    EXPECT_EQ(racer->crash_count, 1);
    EXPECT_TRUE(finite_state());
}

TEST_F(Step, ACrashRequestedByAContactIsTakenOnceAndCleared)
{
    run(0.25);
    racer->crash_requested = true;
    run(1.0 / 128);
    EXPECT_FALSE(racer->crash_requested);
    EXPECT_EQ(racer->crash_count, 1);
    EXPECT_GT(racer->crash_countdown, 0);
}

TEST_F(Step, BackingUpPushesTheBikeRearwardsAndTurnsIt)
{
    run(0.5);
    double z0 = position(BODY_FRAME, 2);
    dVector3 before;
    dBodyVectorToWorld(racer->bodies[BODY_FRAME], 0, 0, 1, before);
    racer->back_up = 1;
    racer->steer = 1;
    run(3);
    ASSERT_TRUE(finite_state());
    EXPECT_GT(position(BODY_FRAME, 2), z0 + 1);     // rearward is +z
    dVector3 after;
    dBodyVectorToWorld(racer->bodies[BODY_FRAME], 0, 0, 1, after);
    double turned = atan2(before[0] * after[2] - before[2] * after[0],
                          before[0] * after[0] + before[2] * after[2]);
    EXPECT_GT(fabs(turned), 0.05);
    EXPECT_EQ(racer->crash_countdown, 0);
}

TEST_F(Step, AnAsleepRacerOnlyMovesItsLegsAndDab)
{
    run(0.25);
    sleep_racer(racer);
    ASSERT_FALSE(is_racer_active(racer));
    racer->dab_anim = 1;
    racer->velocity_history[0][0] = 7;
    double x = position(BODY_FRAME, 0);
    racer->throttle = 1;
    racer->clutch = 1;
    run(0.125);
    EXPECT_FLOAT_EQ(racer->dab_anim, 1 - 16 * 4.0f / 128);
    EXPECT_EQ(racer->velocity_history[0][0], 7);
    EXPECT_DOUBLE_EQ(position(BODY_FRAME, 0), x);
}

TEST_F(Step, HorizontalServoPushesOnlySidewaysAndRestsNearTheTarget)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    const double target[3] = {0, 0, 0};
    dBodySetLinearVel(frame, 0.2, 5, 0);    // the vertical part counts, but is not pushed
    dBodySetForce(frame, 0, 0, 0);
    horizontal_servo(frame, 1000, target);
    const dReal *f = dBodyGetForce(frame);
    EXPECT_EQ(f[1], 0);
    EXPECT_LT(f[0], 0);
    dBodySetForce(frame, 0, 0, 0);
    dBodySetLinearVel(frame, 0.2, 0, 0.1);  // |dv|² below 1/16: nothing
    horizontal_servo(frame, 1000, target);
    EXPECT_EQ(dBodyGetForce(frame)[0], 0);
    dBodySetLinearVel(frame, 0, 0, 10);     // far off: the full force
    horizontal_servo(frame, 1000, target);
    EXPECT_NEAR(dBodyGetForce(frame)[2], -1000, 1e-9);
}

TEST_F(Step, AFadingPeerIsPulledOntoItsRecordedPose)
{
    run(0.5);
    dBodyID frame = racer->bodies[BODY_FRAME];
    const dReal *p = dBodyGetPosition(frame);
    FollowPose pose = {};
    // Two feet to the side and a little turned about the vertical.
    pose.position[0] = p[0] + 2;
    pose.position[1] = p[1];
    pose.position[2] = p[2];
    pose.orientation[0] = cos(0.1);
    pose.orientation[2] = sin(0.1);
    // The rider on the seat, turned with the frame.
    const double oz = racer->model.rider_position.z - racer->model.frame_position.z;
    pose.rider_offset[0] = oz * sin(0.2);
    pose.rider_offset[1] = racer->model.rider_position.y - racer->model.frame_position.y;
    pose.rider_offset[2] = oz * cos(0.2);
    pose.engine_rpm = 3000;
    pose.drive = (15 << 4) | 2;     // third gear, full throttle
    racer->clutch = 0;
    racer->activity = 0.4;
    racer->setup.flags &= ~SETUP_AUTO_SHIFT;
    StepContext ctx = {};
    ctx.terrain = &terrain;
    for (int i = 0; i < 128; i++) {
        follow_pose(racer, &pose, pose.position, pose.position, 4);
        // The throttle stays shut by the clutch so that the engine does not drive.
        racer->clutch = 0;
        ctx.tick = ++tick;
        Racer *list[] = {racer};
        world_tick(list, 1, &ctx);
    }
    ASSERT_TRUE(finite_state());
    EXPECT_NEAR(position(BODY_FRAME, 0), pose.position[0], 0.3);
    EXPECT_NEAR(position(BODY_FRAME, 2), pose.position[2], 0.3);
    dVector3 z;
    dBodyVectorToWorld(frame, 0, 0, 1, z);
    // The turn is slower: its spring is weak against the damper and the tyres.
    EXPECT_GT(atan2(z[0], z[2]), 0.03);
    EXPECT_LT(atan2(z[0], z[2]), 0.25);
    EXPECT_EQ(racer->gear, 2);
    EXPECT_FLOAT_EQ(racer->throttle, 1);
    EXPECT_NEAR(fabs(racer->lean), 0, 1e-6);    // the rider sits where the pose has it

    // A crashed drive byte throws the rider off with the recorded count; a riding
    // one puts it back at once.
    pose.drive = (15 << 4) | 7;
    follow_pose(racer, &pose, pose.position, pose.position, 4);
    EXPECT_EQ(racer->crash_countdown, 128);
    EXPECT_EQ(racer->throttle, 0);
    EXPECT_EQ(dJointGetBody(racer->joints[JOINT_RIDER_MOUNT], 0), nullptr);
    pose.drive = 8 | 1;
    follow_pose(racer, &pose, pose.position, pose.position, 4);
    EXPECT_EQ(racer->crash_countdown, 0);
    EXPECT_NE(dJointGetBody(racer->joints[JOINT_RIDER_MOUNT], 0), nullptr);
    EXPECT_EQ(racer->dab, 1);
    EXPECT_EQ(racer->gear, 1);
    EXPECT_NEAR(racer->engine_speed, 3000 * M_PI / 30, 1e-9);
}

} // namespace
