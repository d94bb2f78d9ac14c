// The rigid bodies of a racer: their mass models, creating and destroying a racer,
// its activity (simulated, fading, asleep) and the speeds read from its frame.
#pragma once

#include <ode/ode.h>

#include "sim/racer.h"

// What creating a racer asks of the renderer. Every member may be null; without
// hooks a racer keeps only the names of its models and textures.
struct RacerHooks {
    unsigned (*load_texture)(const char *name);              // 0 = not loaded
    void *(*load_model)(const char *name, unsigned texture); // null = not loaded
    void (*free_model)(void *model);
};

// Copies the hooks; null restores the do-nothing defaults.
void racer_set_hooks(const RacerHooks *hooks);

// A racer on the named bike (unknown names fall back as the catalogue says), with
// its bodies and joints at their design positions, the default setup and the part
// shapes. The plate keeps at most 7 characters; texture names may be null. Null
// when no physics world exists.
Racer *create_racer(const char *bike, int owner, const char *plate, const char *rider_texture,
                    const char *head_texture, const char *bike_texture, const char *wheel_texture);
// Null is ignored.
void destroy_racer(Racer *racer);

// Mass models in body coordinates, centred on the body's origin.
void wheel_mass_model(const WheelRecord *wheel, dMass *out);
void fork_mass_model(const BikeModel *model, dMass *out); // fork upper and lower
void swingarm_mass_model(const BikeModel *model, dMass *out);
void frame_mass_model(const BikeModel *model, double distribution, dMass *out);
void rider_mass_model(const BikeModel *model, double distribution, dMass *out);
// The fork's and steering axis' tilt from vertical, rad.
double fork_rake(const BikeModel *model);

double total_mass(const Racer *racer);

// Activity: awake racers are simulated; asleep ones keep their bodies disabled.
void wake_racer(Racer *racer);
void sleep_racer(Racer *racer);
// Once per tick for a network peer that is no longer followed closely.
void fade_racer(Racer *racer);
// A peer the local rider touched.
void nudge_racer(Racer *racer);
bool is_racer_active(const Racer *racer);
