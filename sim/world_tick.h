// One tick of the physics world for a set of racers: every racer's contacts (with
// the ground, the track's objects and each other), the world step, then each
// racer's own step in slot order. The race rules wrap around this.
#pragma once

#include "sim/step.h"

struct Racer;
struct Terrain;

// The contacts of one racer with a terrain (null: the loaded track's) and with the
// loaded track's static objects. True when anything touched.
bool racer_contacts_on(Racer *racer, const Terrain *terrain);

// racers[0..count) in slot order; null entries are skipped. ctx->terrain null
// means the loaded track's terrain for the contacts (and flat ground at 0 for the
// laws that read heights when no track is loaded).
void world_tick(Racer *const *racers, int count, const StepContext *ctx);
