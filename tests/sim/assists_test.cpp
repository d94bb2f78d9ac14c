// Steering and balance: roll and slip angles read from posed bodies, the bar
// servo's dead bands and limit, the lock narrowing with speed and loosening on
// slippery ground, the normal controller's torque in its main cases, and the arcade
// controller leaning the bike with its motor.
#include <cmath>

#include <gtest/gtest.h>

#include "sim/assists.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"

namespace
{

TEST(SteerToward, DeadBandsAndClamp)
{
    struct Case {
        double target, angle, rate, expect;
    } cases[] = {
        {0.03, 0, 0, 0},                                    // inside the angle dead band
        {0.05, 0, 0, (8 * (0.05 - 1.0 / 32) - 1.0 / 2400) / 2},
        {-0.05, 0, 0, -(8 * (0.05 - 1.0 / 32) - 1.0 / 2400) / 2},
        {1, 0, 0, 2.0 / 3},                                 // error clamped, then the result
        {-1, 0.5, 0, -2.0 / 3},
        {0, 0, 1.0 / 4800, 0},                              // inside the rate dead band
        {0, 0, 0.01, -(0.01 - 1.0 / 2400) / 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.target << " " << c.angle << " " << c.rate);
        EXPECT_NEAR(steer_toward_law(c.target, c.angle, c.rate), c.expect, 1e-12);
    }
}

RacerSetup default_assists()
{
    RacerSetup s = {};
    s.roll_damping = 60;
    s.leveling = 20;
    s.roll_limit_angle = M_PI / 4;
    s.roll_limit_factor = 10;
    s.steering_strength = 75;
    s.max_steering_force = 400;
    s.direct_steering = 1;
    s.slow_damping_speed = 40;
    s.slow_damping_factor = 2;
    s.land_damping_falloff = 0.25;
    s.land_damping_factor = 2;
    s.max_dab_speed = 30;
    s.full_lock_speed = 10;
    s.restricted_lock_speed = 50;
    s.restricted_lock = 5 * M_PI / 180;
    return s;
}

TEST(SteeringLock, NarrowsWithSpeedAndWidensOnSlipperyGround)
{
    RacerSetup s = default_assists();
    double five = 5 * M_PI / 180;
    struct Case {
        double speed, mu, lock;
    } cases[] = {
        {0, 1, M_PI / 4},   {10, 1, M_PI / 4},  {50, 1, five},  {80, 1, five},
        {50, 0.5, 2 * five}, {50, 0.01, 8 * five}, {50, 0.05, 8 * five},
        {20, 1, (M_PI / 4 - five) * ((1.0 / 20 - 1.0 / 50) / (1.0 / 10 - 1.0 / 50)) + five},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.speed << " mu " << c.mu);
        EXPECT_NEAR(steering_lock(&s, c.speed, c.mu), c.lock, 1e-12);
    }
    s.restricted_lock = M_PI / 4;
    EXPECT_NEAR(steering_lock(&s, 80, 0.5), M_PI / 4, 1e-12);   // capped at 45°
}

TEST(LeanRange, GrowsWithSpeed)
{
    double rla = M_PI / 4;
    EXPECT_EQ(lean_range(0, 30, rla, 4), 0);
    EXPECT_EQ(lean_range(30, 30, rla, 4), 2 * M_PI);
    double x = 100.0 / 900;
    EXPECT_NEAR(lean_range(10, 30, rla, 4), (1 - pow(1 - x, 4)) * rla, 1e-12);
    EXPECT_NEAR(lean_range(10, 30, rla, 32), (1 - pow(1 - x, 32)) * rla, 1e-12);
    x = (400.0 - 225) / (900 - 225);
    EXPECT_NEAR(lean_range(20, 30, rla, 4), (2 * M_PI - rla) * x + rla, 1e-12);
}

SteerInputs riding()
{
    SteerInputs in = {};
    in.wheel_rate = 40;
    in.wheel_speed = 40 * 1.1666;
    in.front_touching = true;
    in.mu = 1;
    in.clearance = 1;
    in.speed = 50;
    return in;
}

TEST(SteerLaw, DirectSteeringSumsDampingLevelingAndTheRider)
{
    RacerSetup s = default_assists();
    SteerInputs in = riding();
    in.steer = 0.5;
    in.roll = 0.1;
    in.roll_rate = 0.2;
    double landing = 1;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * (0.2 * 60 + 0.1 * 20 + 75 * 0.5),
                1e-9);

    in.speed = 20;  // slow: damping and leveling scaled by 2 + (1 - 2) × 20/40
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * ((12 + 2) * 1.5 + 37.5), 1e-9);

    in.speed = 50;
    in.steer = 1;
    in.roll_rate = 20;  // limited by the max steering force
    EXPECT_EQ(steer_law(&s, &in, &landing).torque, 400);

    in.steer = 0.5;
    in.roll_rate = 0.2;
    in.contact_timer = 192;     // right after a collision: no balance torque at all
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * 37.5, 1e-9);
}

TEST(SteerLaw, AirborneCentresTheBarsAndLandingDampsHarder)
{
    RacerSetup s = default_assists();
    SteerInputs in = riding();
    in.steer = 0.5;
    in.steer_angle = 0.1;
    in.front_touching = false;
    in.roll_rate = 1;
    double landing = 1;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * (-5 + 37.5), 1e-9);
    EXPECT_EQ(landing, 2);

    in.front_touching = true;
    in.steer = 0;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * 60 * 2, 1e-9);
    EXPECT_NEAR(landing, 2 - 1.0 / 32, 1e-12);     // back to 1 over 0.25 s
    for (int t = 0; t < 40; t++)
        steer_law(&s, &in, &landing);
    EXPECT_EQ(landing, 1);
}

TEST(SteerLaw, SlidingFrontNearTheGroundLosesTheTorqueThatSlidesItMore)
{
    RacerSetup s = default_assists();
    SteerInputs in = riding();
    in.clearance = 0;
    in.steer = -1;
    in.slip = 0.5;  // far past the lock: the lower bound turns into +a quarter
    double landing = 1;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 100, 1e-9);
    in.clearance = 1;   // clear of the ground: no limit
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, -1.5 * 75, 1e-9);
}

TEST(SteerLaw, LeanLoopAsksForARollRateTowardsTheSteerSide)
{
    RacerSetup s = default_assists();
    s.direct_steering = 0;
    s.roll_damping = 0;
    s.leveling = 0;
    SteerInputs in = riding();
    in.steer = 1;
    in.roll = -0.1;     // already leaning the asked way: rate up to 5π/4
    double landing = 1;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * 75, 1e-9);
    in.roll_rate = -5 * M_PI / 4;    // rate reached: no lean torque
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 0, 1e-9);
    in.roll = 0.1;      // leaning the other way: back towards upright up to 25π/8
    in.roll_rate = -25 * M_PI / 8 + 0.1;   // within the rate dead band
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 0, 1e-9);
    in.roll_rate = -25 * M_PI / 8 + 0.2;
    EXPECT_NEAR(steer_law(&s, &in, &landing).torque, 1.5 * 75 * 4 * (0.2 - 0.125), 1e-9);
}

TEST(SteerLaw, SlideIndicatorStaysFiniteWithNoLock)
{
    RacerSetup s = default_assists();
    SteerInputs in = riding();
    in.roll = 0.1;
    in.steer_angle = 0.5;
    double landing = 1;
    EXPECT_NEAR(steer_law(&s, &in, &landing).slide_amount, (0.5 - 0.2617994) * 3.8197186, 1e-6);
    s.restricted_lock = 0;
    in.wheel_speed = 60;    // past the restricted lock speed: no lock left
    in.steer_angle = 0;
    in.slip = -0.01;
    SteerOutputs out = steer_law(&s, &in, &landing);
    EXPECT_EQ(out.slide_amount, 1);
    EXPECT_TRUE(std::isfinite(out.torque));
}

TEST(ArcadeRollRate, TurnsTowardsTheTargetRoll)
{
    EXPECT_NEAR(arcade_roll_rate(0, 1, 40), -1.5, 1e-12);
    EXPECT_NEAR(arcade_roll_rate(0, -1, 80), 1.0, 1e-12);
    EXPECT_NEAR(arcade_roll_rate(-M_PI / 4 + 0.01, 1, 40), -1.5 * 0.16, 1e-9);
    EXPECT_NEAR(arcade_roll_rate(0, 0, 60), 0, 1e-12);
}

class Assists : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        racer = create_racer("crf450(2013)", 0, "1", nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(racer, nullptr);
    }
    void TearDown() override
    {
        destroy_racer(racer);
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
    Racer *racer = nullptr;
};

TEST_F(Assists, RollAngleOfPosedBodies)
{
    dBodyID b = racer->bodies[BODY_FRAME];
    for (double yaw : {0.0, 0.7, -2.5}) {
        for (double roll : {0.0, 0.3, -0.6, 1.2}) {
            SCOPED_TRACE(testing::Message() << "yaw " << yaw << " roll " << roll);
            dQuaternion qy, qz, q;
            dQFromAxisAndAngle(qy, 0, 1, 0, yaw);
            dQFromAxisAndAngle(qz, 0, 0, 1, roll);
            dQMultiply0(q, qy, qz);
            dBodySetQuaternion(b, q);
            EXPECT_NEAR(roll_angle(b), roll, 1e-9);
        }
    }
    // Leaning to its own right (+x side) reads negative.
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, -0.2);
    dBodySetRotation(b, r);
    dVector3 x;
    dBodyVectorToWorld(b, 1, 0, 0, x);
    EXPECT_LT(x[1], 0);
    EXPECT_NEAR(roll_angle(b), -0.2, 1e-9);
    // Pointing straight up: no roll rather than NaN.
    dRFromAxisAndAngle(r, 1, 0, 0, M_PI / 2);
    dBodySetRotation(b, r);
    EXPECT_EQ(roll_angle(b), 0);
}

TEST_F(Assists, FrontSlipAngleFromTheWheelsPath)
{
    const BikeModel &m = racer->model;
    double dy = m.steering_head.y - m.fork_lower_position.y;
    double dz = m.steering_head.z - m.fork_lower_position.z;
    double along = dy / sqrt(dy * dy + dz * dz);    // forward speed seen along the fork's f
    struct Case {
        double vx, vz, slip;
    } cases[] = {
        {0, -20, 0}, {3, -20, -atan2(3, 20 * along)}, {-3, -20, -atan2(-3, 20 * along)},
        {0.5, -0.5, 0},     // too slow to tell
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.vx << ", " << c.vz);
        dBodySetLinearVel(racer->bodies[BODY_FRONT_WHEEL], c.vx, 0, c.vz);
        EXPECT_NEAR(front_slip_angle(racer), c.slip, 1e-9);
    }
}

TEST_F(Assists, SteeringTorqueTurnsTheBarsAndSteerTowardHoldsATarget)
{
    apply_steering_torque(racer, 20);
    physics_world_step();
    EXPECT_GT(steering_angle(racer), 0);
    for (int t = 0; t < 256; t++) {
        apply_steering_torque(racer, steer_toward(racer, -0.2) * 75);
        physics_world_step();
    }
    EXPECT_NEAR(steering_angle(racer), -0.2, 1.0 / 32 + 0.01);
}

TEST_F(Assists, ArcadeMotorLeansTheBikeTowardsTheSteerSide)
{
    racer->steer = 1;
    for (int t = 0; t < 64; t++) {
        arcade_control(racer);
        physics_world_step();
    }
    EXPECT_LT(roll_angle(racer->bodies[BODY_FRAME]), -0.3);
    for (int t = 0; t < 128; t++) {
        arcade_control(racer);
        physics_world_step();
    }
    EXPECT_NEAR(roll_angle(racer->bodies[BODY_FRAME]), -M_PI / 4, 0.05);   // and holds it
    EXPECT_EQ(physics_message_count(), 0);
}

TEST_F(Assists, CrashedRacerGetsNoSteeringAndNoSlide)
{
    WheelGround ground[2] = {{true, 0}, {true, 0}};
    racer->slide_amount = 0.7;
    racer->crash_countdown = 100;
    racer->steer = 1;
    steer_control(racer, ground, nullptr);
    EXPECT_EQ(racer->slide_amount, 0);
    const dReal *t = dBodyGetTorque(racer->bodies[BODY_FRONT_WHEEL]);
    EXPECT_EQ(t[0] * t[0] + t[1] * t[1] + t[2] * t[2], 0);
    racer->crash_countdown = 0;
    steer_control(racer, ground, nullptr);
    t = dBodyGetTorque(racer->bodies[BODY_FRONT_WHEEL]);
    EXPECT_GT(t[0] * t[0] + t[1] * t[1] + t[2] * t[2], 0);
}

} // namespace
