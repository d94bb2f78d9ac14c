// The world tick. Contacts are made before the world step because they are joints
// of the contact group that the step consumes; each racer's step comes after it,
// because its forces and motors are for the next step and it reads what this one
// did (joint feedback, velocities).
#include "sim/world_tick.h"

#include <vector>

#include "sim/contact.h"
#include "sim/racer_body.h"
#include "sim/world.h"
#include "track/terrain.h"
#include "track/track.h"

bool racer_contacts_on(Racer *racer, const Terrain *terrain)
{
    if (!racer)
        return false;
    if (!terrain)
        return racer_contacts(racer);
    bool any = wheel_terrain_contact(racer, terrain, CONTACT_FRONT, true);
    any |= wheel_terrain_contact(racer, terrain, CONTACT_REAR, true);
    any |= part_terrain_contacts(racer, terrain, true);
    if (track_directory())
        any |= static_object_contacts(racer);
    return any;
}

// Each racer's reach, measured once per tick for all its pairs; the storage is kept
// between ticks so that a tick allocates nothing.
static std::vector<double> reach_of;

void world_tick(Racer *const *racers, int count, const StepContext *ctx)
{
    if (!physics_world_exists())
        return;
    const Terrain *terrain = ctx ? ctx->terrain : nullptr;
    int tick = ctx ? ctx->tick : 0;
    for (int i = 0; i < count; i++) {
        if (racers[i] && is_racer_active(racers[i]))
            racer_contacts_on(racers[i], terrain);
    }
    if (reach_of.size() < (size_t)count)
        reach_of.resize(count);
    for (int i = 0; i < count; i++) {
        if (racers[i] && is_racer_active(racers[i]))
            reach_of[i] = racer_reach(racers[i]);
    }
    // Pairs too far apart to touch are passed over before any part is looked at;
    // they would find nothing, so the contact rules would do nothing either.
    for (int i = 0; i < count; i++) {
        Racer *a = racers[i];
        if (!a || !is_racer_active(a))
            continue;
        for (int j = i + 1; j < count; j++) {
            Racer *b = racers[j];
            if (!b || !is_racer_active(b) || racers_out_of_reach(a, reach_of[i], b, reach_of[j]))
                continue;
            RiderTouch touch = rider_contacts(a, b, rider_contact_mode(a, b, tick), false);
            rider_contact_rules(a, b, touch, tick);
        }
    }
    physics_world_step();

    // The step's laws read heights from the terrain the contacts used.
    StepContext local = ctx ? *ctx : StepContext{};
    if (!local.terrain)
        local.terrain = track_terrain();
    for (int i = 0; i < count; i++) {
        if (racers[i])
            racer_step(racers[i], &local);
    }
}
