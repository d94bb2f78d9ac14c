// Engine, clutch, gearbox and brakes: the rider's controls turned into drive and
// brake torques once per tick. Each law is also a plain function over numbers, so
// it can be checked without a physics world; drivetrain_step ties them together
// over a racer's bodies and joints.
#pragma once

#include <cstdint>

#include "sim/racer.h"

struct BikeModel;

// What the contacts found under one wheel this tick (the caller copies it from the
// wheel's contact record).
struct WheelGround {
    bool touching;          // contact depth > 0
    double contact_speed;   // speed of the wheel body at the contact point, ft/s
};
enum { WHEEL_FRONT, WHEEL_REAR };
// Both wheels' ground state from the racer's wheel contact records.
void racer_wheel_ground(const Racer *racer, WheelGround out[2]);

// Input setters: values are clamped; throttle, dab, back-up and lean read 0 while
// the racer is crashed.
void set_throttle(Racer *racer, float value);
void set_clutch(Racer *racer, float value);
void set_front_brake(Racer *racer, float value);
void set_rear_brake(Racer *racer, float value);
void set_steer(Racer *racer, float value);
void set_dab(Racer *racer, float value);
void set_back_up(Racer *racer, float value);
void set_lean(Racer *racer, float value);

// A 50-point torque table (one point every 500 rpm) read at rpm, linear between
// points; the ends continue flat.
double torque_table_at(const double table[TORQUE_POINTS], double rpm);
// Closed- and open-throttle tables blended by throttle 0..1.
double engine_table_torque(const BikeModel *model, double rpm, double throttle);
// The wheelie cut: true when the engine's drive is to be dropped.
bool wheelie_cut(uint8_t setup_flags, bool front_touching, bool rear_touching,
                 double pitch_rate);
// Engine torque (ft·lbf) at the racer's engine speed and throttle, with the wheelie
// cut applied.
double engine_torque(const Racer *racer, const WheelGround ground[2]);
double engine_rpm(const Racer *racer);

// Crankshaft turns per rear wheel turn in the current gear; 0 for a gear the bike
// does not have.
double gear_reduction(const Racer *racer);
// gear clamped to 0..5 and lowered to the highest gear the bike has.
int existing_gear(const BikeModel *model, int gear);
// The automatic gearbox's choice at an engine-equivalent wheel rpm.
int auto_shift_gear(const BikeModel *model, int gear, double wheel_rpm);
// Whether the automatic gearbox may look at the gear this tick.
bool auto_shift_allowed(int tick, double swingarm_angle, const WheelGround &rear);

// Engagement the automatic clutch allows at an engine rpm, never more than the
// clutch input.
double auto_clutch_engagement(double rpm, double auto_clutch_rpms, double clutch_input);

struct ClutchResult {
    double torque;          // Tc, ft·lbf on the gearbox side (engine drives wheel > 0)
    double engagement;      // the engagement used
    double windup;          // wind-up after slipping, within +-engagement·π/4
};
// The slipping clutch: a damper on the speed difference plus a torsion spring of
// wind-up W, scaled by the square of the engagement. Engine braking (torque < 0)
// always uses the clutch input, not the automatic engagement.
ClutchResult clutch_law(double engine_speed, double wheel_rate, double reduction, double windup,
                        double engagement, double clutch_input, double stiffness,
                        double damping);

// Brake torques after antilock and stoppie release.
double front_brake_law(const RacerSetup *setup, double input, const WheelGround &front,
                       const WheelGround &rear);
double rear_brake_law(const RacerSetup *setup, double input, const WheelGround &rear);

// One tick of automatic shifting, clutch, engine and brakes; tick is the game's
// tick counter (the automatic gearbox acts on every 32nd).
void drivetrain_step(Racer *racer, const WheelGround ground[2], int tick);
