// The six joints that hold a racer together, the force laws of fork and shock that
// drive the suspension motors, the soft attachment of the rider to the seat, and
// the tether that keeps a crashed rider near the bike.
#pragma once

#include <ode/ode.h>

#include "sim/racer.h"

// Builds the six joints for bodies standing at their design positions.
void create_racer_joints(Racer *racer);
// The rider mount joint between rider and frame, taken from where the frame stands
// now; detached while the rider is off the bike.
void attach_rider_mount(Racer *racer);
void detach_rider_mount(Racer *racer);

// Joint readings.
double steering_angle(const Racer *racer);
double swingarm_angle(const Racer *racer); // 0 extended, negative compressed
double fork_position(const Racer *racer);  // 0 extended, negative compressed

// Air trapped above the fork oil: its force at compression x, for travel T and air
// gap g (ft). 0 at full extension.
double fork_air_spring(double travel, double gap, double compression);
// The fork's force (lbf, positive extends) at slider position p and rate r.
double fork_force(const RacerSetup *setup, double travel, double p, double r);
// The shock's torque about the swingarm pivot (ft·lbf, positive extends) at
// swingarm angle a and rate w.
double shock_torque(const RacerSetup *setup, const BikeModel *model, double a, double w);
// Sets the fork slider's and swingarm pivot's motors from the force laws.
void apply_suspension(Racer *racer);

// One soft contact between rider and frame along an axis of the frame.
struct RiderSoftContact {
    bool made;
    double sign;      // +1: the normal is the axis, -1: its opposite
    double depth;     // >= 0
    double stiffness; // k, lbf/ft
    double damping;   // c, lbf·s/ft
};
// The fore-aft (along the frame's z) and vertical (along its y) contacts for the
// seat point offset eu (up) and ez (rearwards) from the rider, with the dab and
// lean inputs.
void rider_attachment_terms(const RacerSetup *setup, double rider_mass, double eu, double ez,
                            double dab, double lean, RiderSoftContact *fore,
                            RiderSoftContact *vertical);
// Once per tick: the rider's soft contacts in the contact group, and the fore-aft
// damping of the mount joint.
void attach_rider_softly(Racer *racer);

// Keeps body point a (of body a) within limit of point b (of body b), points in
// body coordinates, with a contact in the contact group. True when one was made.
bool tether(dBodyID a, const double point_a[3], dBodyID b, const double point_b[3], double limit);
