// Steering and balance: the rider never rolls the bike directly; balance, leaning
// and steering all come from one torque about the steering axis, worked out each
// tick from the steer input, the bike's roll and roll rate, the front tyre's slip
// angle and the assist settings. Also the simpler arcade controller. The laws are
// plain functions over numbers; steer_control and arcade_control read the bodies
// and apply the result.
#pragma once

#include <ode/ode.h>

#include "sim/drivetrain.h"
#include "sim/racer.h"

struct Terrain;

// Roll of a body about its forward axis: 0 upright, negative leaning towards its
// own +x side.
double roll_angle(dBodyID body);
// Slip angle of the front tyre, from the front wheel's velocity seen from the fork;
// 0 below 1 ft/s.
double front_slip_angle(const Racer *racer);
// A steering torque factor that turns the bars towards a target angle, with dead
// bands so that the bars rest instead of buzzing.
double steer_toward_law(double target, double angle, double rate);
double steer_toward(const Racer *racer, double target);
// Adds torque about the steering axis: T to the front wheel, -T to the frame.
void apply_steering_torque(Racer *racer, double torque);

// Steering lock allowed at front wheel speed vw on ground of friction mu.
double steering_lock(const RacerSetup *setup, double wheel_speed, double mu);
// How far the bike may lean at frame speed V; power is 4 for steering (the dab
// uses 32).
double lean_range(double speed, double max_dab_speed, double roll_limit_angle, int power);

// Everything the normal controller reads in one tick.
struct SteerInputs {
    double steer;           // s, -1..1
    double wheel_speed;     // vw, front hinge rate × outer tyre radius, ft/s
    double wheel_rate;      // front hinge rate, rad/s
    bool front_touching;
    double roll;            // ρ
    double roll_rate;       // ω.z of the frame in frame coordinates
    double steer_angle;     // δ
    double slip;            // σ
    double mu;              // tile friction under the front wheel
    double clearance;       // tyre clearance above the ground, ft
    double speed;           // V, frame speed, ft/s
    double contact_timer;   // rider-contact timer τ
};
struct SteerOutputs {
    double torque;          // about the steering axis
    double slide_amount;    // 0..1
};
// The normal controller as a law; landing_damping is read and updated.
SteerOutputs steer_law(const RacerSetup *setup, const SteerInputs *in, double *landing_damping);

// The normal controller for one tick: gathers the inputs (terrain may be null: flat
// ground at height 0), applies the torque and publishes slide_amount.
void steer_control(Racer *racer, const WheelGround ground[2], const Terrain *terrain);

// Roll rate the arcade controller asks of the frame.
double arcade_roll_rate(double roll, double steer, double roll_damping);
// The arcade controller for one tick; its roll motor lives in the contact group.
void arcade_control(Racer *racer);
