// The physics world shared by every racer: ODE's world, stepped whole (never the
// iterative quick step) at the fixed tick, and the one joint group that holds the
// contacts, tethers and motors made during a tick. ODE's own messages, warnings
// and errors go to the log and are counted, so tests can insist there are none.
#pragma once

#include <ode/ode.h>

constexpr double PHYSICS_TICK = 1.0 / 128; // s
constexpr double PHYSICS_GRAVITY = 32;     // ft/s², downwards

bool create_physics_world();
void destroy_physics_world();
bool physics_world_exists();

// Null while no world exists.
dWorldID physics_world();
dJointGroupID physics_contact_group();

// One tick: the world step, then the contact group is emptied.
void physics_world_step();

// Called just before (done false) and just after (done true) each world step, so
// a benchmark can time the step on its own; null, the default, for none. The
// simulation itself never reads a clock.
using PhysicsStepObserver = void (*)(bool done);
void physics_set_step_observer(PhysicsStepObserver observer);

// Messages ODE has reported since start-up or the last reset.
int physics_message_count();
void physics_reset_message_count();
