// The Racer record: one bike with its rider on the track. The rigid-body model,
// drivetrain, contacts and assists fill it in; for now it carries the control
// inputs that the main loop applies and the values others read.
#pragma once

#include "track/gates.h"

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
    GateProgress gates;     // timing gates passed and their times
};

// Applies one tick of control inputs to a racer. Values outside their ranges are
// clamped; the shift request goes through the gearbox.
void apply_controls(Racer *racer, float steer, float front_brake, float rear_brake,
                    float throttle, float dab, float back_up, float lean, float clutch,
                    int shift);
