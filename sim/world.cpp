#include "sim/world.h"

#include <ode/ode.h>

static struct {
    bool library_open;
    dWorldID world;
    dJointGroupID contacts;
} w;

bool create_physics_world()
{
    if (!w.library_open) {
        dInitODE2(0);
        w.library_open = true;
    }
    w.world = dWorldCreate();
    dWorldSetGravity(w.world, 0, -32, 0);
    dWorldSetERP(w.world, 0.2);
    dWorldSetCFM(w.world, 1e-10);
    w.contacts = dJointGroupCreate(0);
    return true;
}

void destroy_physics_world()
{
    if (w.contacts)
        dJointGroupDestroy(w.contacts);
    if (w.world)
        dWorldDestroy(w.world);
    w.contacts = nullptr;
    w.world = nullptr;
    if (w.library_open)
        dCloseODE();
    w.library_open = false;
}

bool physics_world_exists()
{
    return w.world != nullptr;
}
