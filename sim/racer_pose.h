// Placing a racer's bodies: back to the design pose at a race start, moved as a
// whole onto the start line, or posed from a recorded state so that its joints read
// back the recorded angles.
#pragma once

#include "sim/racer.h"

// Design pose, at rest, rider mounted, inputs and per-race state cleared.
void reset_racer_physics(Racer *racer);
// Moves all seven bodies by the same offset.
void move_racer(Racer *racer, double dx, double dy, double dz);

// Where a posed rider goes: an offset from the frame position with its own
// orientation, or (older recordings) a fraction along the rider's slide range.
struct RiderPlacement {
    bool by_slide;
    double slide;          // 0..1 from the low to the high end of the range
    double offset[3];      // world offset from the frame position
    double orientation[4]; // quaternion w, x, y, z
};

// Sets position and orientation of every body (velocities are left alone) so that
// the steering hinge reads steer, the swingarm pivot swingarm, the fork slider
// fork (<= 0) and the wheel hinges their wheel angles. The frame orientation is a
// quaternion w, x, y, z.
void pose_racer(Racer *racer, const double position[3], const double orientation[4], double steer,
                double swingarm, double fork, const RiderPlacement *rider, double front_wheel,
                double rear_wheel);

// Rotation vector (unit axis x angle) that turns orientation a into b (quaternions
// w, x, y, z), the short way round.
void rotation_between(const double a[4], const double b[4], double out[3]);
