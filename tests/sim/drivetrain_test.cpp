// Engine, clutch, gearbox and brakes: the torque tables read at and between their
// points, the engine settling at idle and at the rev limit, the automatic gearbox's
// choices and when it may make them, the automatic and slipping clutch, antilock,
// and the clutch torque turning the rear wheel the right way.
#include <cmath>

#include <gtest/gtest.h>

#include "sim/catalogue.h"
#include "sim/drivetrain.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"

namespace
{

const WheelGround kAir = {false, 0};
const WheelGround kRolling = {true, 0.5};
const WheelGround kSliding = {true, 5};

TEST(EngineTorque, TablesReadAtAndBetweenTheirPoints)
{
    const BikeModel *m = find_bike_model("crf450(2013)");
    ASSERT_NE(m, nullptr);
    struct Case {
        double rpm, throttle, torque;
    } cases[] = {
        {0, 1, 5},          {3000, 1, 11},  {3250, 1, 12.55},   {12000, 1, 0},
        {12500, 1, -10},    {99999, 1, -34}, {-500, 1, 5},      {750, 0, 1.5},
        {1500, 0, 0},       {3000, 0, -2},  {3000, 0.5, 4.5},   {6750, 0.25, -5.5 * 0.75 + 0.25 * 30.85},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rpm);
        EXPECT_NEAR(engine_table_torque(m, c.rpm, c.throttle), c.torque, 1e-9);
    }
}

TEST(EngineTorque, WheelieCutNeedsTheBitTheRearDownAndTheNoseNotFalling)
{
    const uint8_t cut = SETUP_CUT_TORQUE_IN_WHEELIE, front_only = SETUP_RELEASE_FRONT_IN_STOPPIE;
    struct Case {
        uint8_t flags;
        bool front, rear;
        double pitch_rate;
        bool cut;
    } cases[] = {
        {cut, false, true, 0, true},        {cut, false, true, -0.03, true},
        {cut, false, true, -0.05, false},   {cut, true, true, 0, false},
        {cut, false, false, 0, false},      {front_only, false, true, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.flags) << c.front << c.rear << c.pitch_rate);
        EXPECT_EQ(wheelie_cut(c.flags, c.front, c.rear, c.pitch_rate), c.cut);
    }
}

TEST(Gearbox, AutomaticShiftPointsStayWithinTheGearsTheBikeHas)
{
    const BikeModel *m = find_bike_model("crf450(2013)"); // five gears, 6000 / 10500
    ASSERT_NE(m, nullptr);
    struct Case {
        int gear;
        double rpm;
        int expect;
    } cases[] = {
        {2, 5999, 1}, {2, 6000, 2}, {2, 10500, 2}, {2, 10501, 3},
        {0, 1000, 0}, {4, 12000, 4}, {5, 8000, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.gear << " at " << c.rpm);
        EXPECT_EQ(auto_shift_gear(m, c.gear, c.rpm), c.expect);
    }
}

TEST(Gearbox, AutomaticShiftWaitsForEvery32ndTickALoadedShockAndGrip)
{
    EXPECT_TRUE(auto_shift_allowed(64, -0.02, kRolling));
    EXPECT_TRUE(auto_shift_allowed(64, -0.02, {true, 2}));
    EXPECT_TRUE(auto_shift_allowed(0, -0.02, kAir));
    EXPECT_FALSE(auto_shift_allowed(65, -0.02, kRolling));
    EXPECT_FALSE(auto_shift_allowed(64, -0.005, kRolling));
    EXPECT_FALSE(auto_shift_allowed(64, -0.02, kSliding));
}

TEST(Clutch, AutomaticEngagementRampsFromTheSetRpm)
{
    struct Case {
        double rpm, input, expect;
    } cases[] = {
        {4000, 1, 0}, {5000, 1, 0}, {6000, 1, 0.5}, {6000, 0.3, 0.3},
        {7000, 1, 1}, {7001, 0.8, 0.8}, {12000, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rpm);
        EXPECT_NEAR(auto_clutch_engagement(c.rpm, 5000, c.input), c.expect, 1e-12);
    }
}

TEST(Clutch, SpringDamperSlipsAndEngineBrakingUsesTheLever)
{
    // Damper only, half engaged: 100 rad/s × 0.75 = 75, times 0.5².
    ClutchResult r = clutch_law(100, 0, 20, 0, 0.5, 1, 7500, 0.75);
    EXPECT_NEAR(r.torque, 18.75, 1e-9);
    // The damper is limited to 500 before the spring adds its part.
    r = clutch_law(1000, 0, 20, 0.1, 1, 1, 7500, 0.75);
    EXPECT_NEAR(r.torque, 500 + 750, 1e-9);
    // Wind-up beyond a quarter turn × engagement slips back to it.
    r = clutch_law(0, 0, 20, 1.0, 1, 1, 7500, 0.75);
    EXPECT_NEAR(r.windup, M_PI / 4, 1e-12);
    r = clutch_law(0, 0, 20, -1.0, 0.5, 0.5, 7500, 0.75);
    EXPECT_NEAR(r.windup, -M_PI / 8, 1e-12);
    // Below the automatic clutch's range the engine cannot drive (engagement 0)...
    r = clutch_law(500, 0, 20, 0, 0, 1, 7500, 0.75);
    EXPECT_EQ(r.torque, 0);
    EXPECT_EQ(r.windup, 0);
    // ...but a wheel turning faster than the engine still drags it up.
    r = clutch_law(100, 10, 20, 0, 0, 1, 7500, 0.75);
    EXPECT_EQ(r.engagement, 1);
    EXPECT_NEAR(r.torque, (100 - 200) * 0.75, 1e-9);
}

TEST(Brakes, AntilockAndStoppieReleaseLetGo)
{
    RacerSetup s = {};
    s.brake_torque = 250;
    s.rear_brake_torque = 200;
    s.flags = SETUP_FRONT_ANTILOCK | SETUP_RELEASE_FRONT_IN_STOPPIE;
    EXPECT_EQ(front_brake_law(&s, 0.5, kRolling, kRolling), 125);
    EXPECT_EQ(front_brake_law(&s, 1, kSliding, kRolling), 0);
    EXPECT_EQ(front_brake_law(&s, 1, kAir, kAir), 250);     // a wheel in the air may lock
    EXPECT_EQ(front_brake_law(&s, 1, kRolling, kAir), 0);   // stoppie
    EXPECT_EQ(rear_brake_law(&s, 1, kSliding), 200);        // rear antilock is off
    s.flags = SETUP_REAR_ANTILOCK;
    EXPECT_EQ(front_brake_law(&s, 1, kSliding, kAir), 250);
    EXPECT_EQ(rear_brake_law(&s, 1, kSliding), 0);
    EXPECT_EQ(rear_brake_law(&s, 1, kRolling), 200);
}

class Drivetrain : public TempHomeTest
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
    // Runs the drivetrain alone: the bodies stay where they are, as if held.
    void run_held(int ticks, const WheelGround ground[2])
    {
        for (int t = 1; t <= ticks; t++)
            drivetrain_step(racer, ground, t);
    }

    Racer *racer = nullptr;
};

TEST_F(Drivetrain, EngineIdlesAt1500AndHoldsTheRevLimit)
{
    const WheelGround ground[2] = {kRolling, kRolling};
    racer->clutch = 1;          // lever released: the automatic clutch keeps it free
    racer->throttle = 0;
    racer->engine_speed = 0;
    run_held(1280, ground);
    EXPECT_NEAR(engine_rpm(racer), 1500, 20);

    racer->clutch = 0;
    racer->throttle = 1;
    run_held(1280, ground);
    EXPECT_NEAR(engine_rpm(racer), torque_rev_limit_rpm(&racer->model), 50);
    EXPECT_LT(engine_rpm(racer), 12100);
}

TEST_F(Drivetrain, BrakeMotorsFollowAntilock)
{
    racer->front_brake = 1;
    racer->rear_brake = 0.5;
    racer->setup.flags = SETUP_FRONT_ANTILOCK;
    WheelGround ground[2] = {kRolling, kRolling};
    drivetrain_step(racer, ground, 1);
    EXPECT_EQ(dJointGetHingeParam(racer->joints[JOINT_FRONT_AXLE], dParamFMax),
              racer->setup.brake_torque);
    EXPECT_EQ(dJointGetHingeParam(racer->joints[JOINT_REAR_AXLE], dParamFMax),
              racer->setup.rear_brake_torque / 2);
    EXPECT_EQ(dJointGetHingeParam(racer->joints[JOINT_FRONT_AXLE], dParamVel), 0);
    ground[WHEEL_FRONT] = kSliding;     // the locked front slides: released this tick
    drivetrain_step(racer, ground, 2);
    EXPECT_EQ(dJointGetHingeParam(racer->joints[JOINT_FRONT_AXLE], dParamFMax), 0);
}

TEST_F(Drivetrain, EngagedClutchDrivesTheRearWheelForwards)
{
    const WheelGround ground[2] = {kAir, kAir};
    racer->engine_speed = 9000 / RAD_PER_SEC_TO_RPM;
    racer->clutch = 1;
    racer->throttle = 1;
    for (int t = 1; t <= 16; t++) {
        drivetrain_step(racer, ground, t);
        physics_world_step();
    }
    // Forward rolling reads as a positive hinge rate.
    double rate = dJointGetHingeAngleRate(racer->joints[JOINT_REAR_AXLE]);
    EXPECT_GT(rate, 1);
    // Engaged, the clutch keeps wheel and engine turning together.
    EXPECT_NEAR(rate * gear_reduction(racer) / racer->engine_speed, 1, 0.1);
    EXPECT_TRUE(std::isfinite(racer->clutch_angle));
    EXPECT_LE(fabs(racer->clutch_angle), M_PI);
}

TEST_F(Drivetrain, AutomaticGearboxShiftsOnTheTickWithTheWheelSpeed)
{
    // Rear wheel spun up in the air at a speed that means 11000 rpm in second gear.
    racer->setup.flags = SETUP_AUTO_SHIFT;
    racer->gear = 1;
    dJointSetHingeParam(racer->joints[JOINT_SWINGARM_PIVOT], dParamHiStop, -0.02);
    dJointSetHingeParam(racer->joints[JOINT_SWINGARM_PIVOT], dParamLoStop, -0.03);
    for (int t = 0; t < 8; t++)
        physics_world_step();
    ASSERT_LT(dJointGetHingeAngle(racer->joints[JOINT_SWINGARM_PIVOT]), -0.01);
    double rate = 11000 / RAD_PER_SEC_TO_RPM / gear_reduction(racer);
    const dReal *w = dBodyGetAngularVel(racer->bodies[BODY_SWINGARM]);
    dBodySetAngularVel(racer->bodies[BODY_REAR_WHEEL], w[0] - rate, w[1], w[2]);
    const WheelGround ground[2] = {kAir, kAir};
    drivetrain_step(racer, ground, 33);
    EXPECT_EQ(racer->gear, 1);
    drivetrain_step(racer, ground, 64);
    EXPECT_EQ(racer->gear, 2);
}

TEST(Setters, WheelGroundComesFromTheContactRecords)
{
    Racer r = {};
    r.wheel_contacts[WHEEL_FRONT].depth = 0.01;
    r.wheel_contacts[WHEEL_FRONT].velocity[0] = 3;
    r.wheel_contacts[WHEEL_FRONT].velocity[2] = 4;
    r.wheel_contacts[WHEEL_REAR].velocity[1] = 9;     // stale speed, no contact
    WheelGround g[2];
    racer_wheel_ground(&r, g);
    EXPECT_TRUE(g[WHEEL_FRONT].touching);
    EXPECT_NEAR(g[WHEEL_FRONT].contact_speed, 5, 1e-12);
    EXPECT_FALSE(g[WHEEL_REAR].touching);
    EXPECT_EQ(g[WHEEL_REAR].contact_speed, 0);
}

TEST(Setters, ClampAndZeroWhileCrashed)
{
    Racer r = {};
    set_throttle(&r, 2);
    set_steer(&r, -3);
    set_lean(&r, 0.5f);
    EXPECT_EQ(r.throttle, 1);
    EXPECT_EQ(r.steer, -1);
    EXPECT_EQ(r.lean, 0.5f);
    r.crash_countdown = 10;
    set_throttle(&r, 1);
    set_dab(&r, 1);
    set_back_up(&r, 1);
    set_lean(&r, 1);
    set_clutch(&r, 1.5f);
    set_front_brake(&r, 1);
    EXPECT_EQ(r.throttle, 0);
    EXPECT_EQ(r.dab, 0);
    EXPECT_EQ(r.back_up, 0);
    EXPECT_EQ(r.lean, 0);
    EXPECT_EQ(r.clutch, 1);
    EXPECT_EQ(r.front_brake, 1);
}

} // namespace
