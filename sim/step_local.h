// Shared between the step's files: small vector helpers and the parts of the step
// that live in step_crash.cpp.
#pragma once

#include <cmath>

#include "sim/step.h"

static inline double step_clamp(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}
static inline double step_dot(const double *a, const double *b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
static inline double step_length(const double *a)
{
    return sqrt(step_dot(a, a));
}
// Speed of a body's centre.
static inline double step_body_speed(dBodyID body)
{
    const dReal *v = dBodyGetLinearVel(body);
    return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}
// Ground height under a point; flat ground at 0 without a terrain.
double step_ground_height(const Terrain *terrain, double x, double z);

// Crash detection, the crashed sequence and the leg points (step_crash.cpp).
void step_detect_crash(Racer *racer, const StepContext *ctx);
void step_crashed_sequence(Racer *racer);
void step_leg_points(Racer *racer, const StepContext *ctx);
