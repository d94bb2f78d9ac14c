// The per-racer step: once per tick, after the world step, it turns a racer's
// control inputs into the forces, torques, motors and temporary joints that act
// during the next world step. It also notices crashes, runs the crash and re-mount
// sequence, and keeps the bookkeeping others read (incident flag, dab animation,
// leg points, velocity history).
#pragma once

#include <cstdint>

#include <ode/ode.h>

#include "sim/racer.h"

struct Terrain;

enum { KNOCKOUT_SLOTS = 16 };

// What a step needs from the game around it. Every pointer may be null.
struct StepContext {
    int tick;                   // the game's tick counter
    int race_start_tick;
    const Terrain *terrain;     // null: flat ground at height 0
    bool gates_race;            // a race with timing gates is running
    // The checkered-flag test; it latches racer->finished.
    bool (*is_finished)(Racer *racer);
    // A point ahead on the track for the auto-align; false when there is none.
    bool (*align_target)(const Racer *racer, double out[3]);
    const int *knockout_delays; // KNOCKOUT_SLOTS extra crash delays in ticks
};

// Ticks a crashed rider stays down once at rest, before any knockout delay.
constexpr int CRASH_TICKS = 512;

// Pulls a body's horizontal velocity towards target (world), with at most
// max_force, easing off within 1/4 ft/s of it.
void horizontal_servo(dBodyID body, double max_force, const double target[3]);

// One tick for one racer, after the world step.
void racer_step(Racer *racer, const StepContext *ctx);

// The two crash tests on the rider body's velocity; previous is the velocity
// stored four ticks ago. True when the rider comes off.
bool crash_by_velocity(const double rider_velocity[3], const double frame_velocity_at_rider[3]);
bool crash_by_acceleration(const double rider_velocity[3], const double previous[3]);

// A recorded pose, decoded by the replay code.
struct FollowPose {
    double position[3];     // frame, world
    double orientation[4];  // frame quaternion w, x, y, z
    double steer;           // steering hinge angle, rad
    double rider_offset[3]; // rider position minus frame position, world
    double engine_rpm;
    uint8_t drive;          // bits 0-2 gear (7 = crashed), bit 3 dab, bits 4-7 level
};
// Pulls a network peer's own physics towards a recorded pose: a spring-damper on
// the frame (stiffer as the peer's activity fades), the bars steered to the pose's
// angle, and the crash state, gear, throttle, dab, lean and engine speed taken
// from the pose. earlier and later are the frame positions of the recorded states
// around it, n frames apart. The racer step runs after it as usual.
void follow_pose(Racer *racer, const FollowPose *pose, const double earlier[3],
                 const double later[3], int n);

// The leg points onto the feet, moving with the rider body (where a crash starts
// the legs from).
void legs_on_feet(Racer *racer);
// Puts the rider on the seat, turned as the frame, and mounts it.
void seat_rider(Racer *racer);
// The feet of a riding rider (on the pegs) or, while crashed, where the legs start
// from; world positions.
void racer_feet(const Racer *racer, double feet[2][3]);
