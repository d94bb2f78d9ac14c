// Hard front braking on slippery flat ground: without antilock the front wheel
// locks and slides; with it the brake lets go whenever the tyre slides, so the
// wheel keeps turning until the bike is nearly stopped.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/drivetrain.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/step.h"
#include "sim/world.h"
#include "sim/world_tick.h"
#include "tests/sim/test_terrain.h"
#include "track/terrain.h"

namespace
{

struct Outcome {
    int locked_ticks;       // front wheel turning slower than a tenth of rolling
    int longest_lock;       // the longest run of such ticks
    int braking_ticks;      // ticks above 5 ft/s with the brake on
    bool upright;
};

// Rolls the bike at 30 ft/s along -z and brakes the front only, as hard as the
// setup allows, until it is below 5 ft/s (or 4 s pass).
Outcome brake_hard(bool antilock)
{
    Terrain ground = flat_terrain(0.5f);
    Racer *racer = create_racer("crf450(2013)", 0, "1", nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(racer, nullptr);
    Outcome out = {0, 0, 0, true};
    int run = 0;
    if (!racer)
        return out;
    reset_racer_physics(racer);
    const dReal *f = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    move_racer(racer, 128 - f[0], 0, 128 - f[2]);
    racer->setup.brake_torque = 500;
    racer->setup.flags = antilock ? SETUP_FRONT_ANTILOCK : 0;
    const double speed = 30;
    for (dBodyID b : racer->bodies)
        dBodySetLinearVel(b, 0, 0, -speed);
    const double outer[2] = {
        racer->model.front_wheel.tyre_centre_radius + racer->model.front_wheel.tyre_section_radius,
        racer->model.rear_wheel.tyre_centre_radius + racer->model.rear_wheel.tyre_section_radius};
    dBodySetAngularVel(racer->bodies[BODY_FRONT_WHEEL], -speed / outer[0], 0, 0);
    dBodySetAngularVel(racer->bodies[BODY_REAR_WHEEL], -speed / outer[1], 0, 0);

    StepContext ctx = {};
    ctx.terrain = &ground;
    Racer *racers[1] = {racer};
    for (int tick = 0; tick < 512; tick++) {
        apply_controls(racer, 0, 1, 0, 0, 0, 0, 0, 0, 0);
        ctx.tick = tick + 1;
        world_tick(racers, 1, &ctx);
        const dReal *v = dBodyGetLinearVel(racer->bodies[BODY_FRAME]);
        double ground_speed = sqrt(v[0] * v[0] + v[2] * v[2]);
        if (ground_speed < 5)
            break;
        double rate = dJointGetHingeAngleRate(racer->joints[JOINT_FRONT_AXLE]);
        out.braking_ticks++;
        if (fabs(rate) * outer[0] < 0.1 * ground_speed) {
            out.locked_ticks++;
            run++;
            out.longest_lock = run > out.longest_lock ? run : out.longest_lock;
        } else {
            run = 0;
        }
    }
    const dReal *r = dBodyGetRotation(racer->bodies[BODY_FRAME]);
    out.upright = r[5] > 0.9;      // the frame's up axis still points up
    destroy_racer(racer);
    return out;
}

class AntilockScenario : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(create_physics_world()); }
    void TearDown() override { destroy_physics_world(); }
};

TEST_F(AntilockScenario, ReleasesTheSlidingFrontWheel)
{
    Outcome plain = brake_hard(false);
    Outcome antilock = brake_hard(true);
    ASSERT_GT(plain.braking_ticks, 32);
    ASSERT_GT(antilock.braking_ticks, 32);
    // Without antilock the wheel locks and stays locked for most of the stop.
    EXPECT_GT(plain.locked_ticks, plain.braking_ticks / 2);
    EXPECT_GT(plain.longest_lock, plain.braking_ticks / 2);
    // With it the brake lets go the tick after the tyre slides, so a lock never
    // lasts more than a couple of ticks and the wheel turns for most of the stop.
    EXPECT_LE(antilock.longest_lock, 3);
    EXPECT_LT(antilock.locked_ticks, antilock.braking_ticks / 4);
    EXPECT_TRUE(plain.upright);
    EXPECT_TRUE(antilock.upright);
}

} // namespace
