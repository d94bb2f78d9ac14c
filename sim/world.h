// The physics world shared by every racer: ODE's world and the one joint group
// for the contacts generated each tick.
#pragma once

bool create_physics_world();
void destroy_physics_world();
bool physics_world_exists();
