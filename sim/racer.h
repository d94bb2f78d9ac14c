// The Racer record: one bike with its rider on the track. The rigid-body model,
// drivetrain, contacts and assists fill it in; for now it carries the control
// inputs that the main loop applies, its copy of the catalogue entry with the
// rider's setup block, and the values others read.
#pragma once

#include <cstdint>

#include "sim/catalogue.h"
#include "track/gates.h"

// Bits of RacerSetup::flags.
enum {
    SETUP_STOP_WHEELIES_SHIFT = 1,      // bits 1-2: the stop_wheelies value 0, 3 or 2
    SETUP_CUT_TORQUE_IN_WHEELIE = 1 << 1,
    SETUP_RELEASE_FRONT_IN_STOPPIE = 1 << 2,
    SETUP_FRONT_ANTILOCK = 1 << 3,
    SETUP_REAR_ANTILOCK = 1 << 4,
    SETUP_AUTO_SHIFT = 1 << 5,
    SETUP_AUTO_DAB = 1 << 6,
    SETUP_AUTO_ALIGN = 1 << 7,
};
// Bits of RacerSetup::flags2.
enum { SETUP_ARCADE = 1 << 0 };

// The racer's own copy of the rider's setup, in the units the simulation uses.
struct RacerSetup {
    double roll_damping, leveling, roll_limit_factor;
    double roll_limit_angle;            // rad
    double steering_damping, steering_strength, max_steering_force, direct_steering;
    double slow_damping_speed, slow_damping_factor;
    double land_damping_falloff, land_damping_factor;
    double auto_clutch_rpms;
    double brake_torque, rear_brake_torque;     // ft·lbf
    double max_dab_speed;               // ft/s
    double full_lock_speed, restricted_lock_speed;
    double restricted_lock;             // rad
    double final_ratio;                 // rear teeth / front teeth
    double fork_compression, fork_rebound, fork_spring_rate, fork_preload, fork_oil_level;
    double shock_compression, shock_rebound, shock_spring_rate, shock_preload;
    double rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;     // 0..1
    double rider_mass_distribution;     // share of the rider's mass on the rider body
    uint8_t flags;                      // SETUP_* bits
    uint8_t flags2;                     // SETUP_ARCADE
};

struct Racer {
    // Control inputs, set once per tick by the local rider, the auto pilot or a replay.
    float throttle;         // 0..1
    float clutch;           // engagement 0..1
    float front_brake;      // 0..1
    float rear_brake;       // 0..1
    float steer;            // -1..1
    float dab;              // 0..1
    float back_up;          // 0..1
    float lean;             // -1..1
    int shift_request;      // -1, 0, +1
    double engine_speed;    // rad/s
    int gear;               // 0 = first
    int last_shift_request; // shifts act on a change of request only
    int crash_countdown;    // > 0 while crashed
    GateProgress gates;     // timing gates passed and their times

    BikeModel model;        // private copy of the catalogue entry
    RacerSetup setup;       // the rider's setup as applied to this bike
    char plate[8];          // race number, at most 7 characters
    const char *rider_texture;  // interned texture names, or null
    const char *head_texture;
    const char *bike_texture;
    const char *wheel_texture;
};

// Applies one tick of control inputs to a racer. Values outside their ranges are
// clamped; the shift request goes through the gearbox.
void apply_controls(Racer *racer, float steer, float front_brake, float rear_brake,
                    float throttle, float dab, float back_up, float lean, float clutch,
                    int shift);
