// The one ODE world: created at start-up, destroyed at shutdown. The game relies
// on double precision throughout (tiny tyre penetrations, slow creeping bodies), so
// a single-precision ODE is refused at build time.
#include "sim/world.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/vrak.h"

#if !defined(dDOUBLE)
#error "ODE must be built in double precision"
#endif

// Contact joints the group has room for from the start (a field of 40 riders makes
// a few hundred a tick).
static constexpr int PRESIZED_CONTACTS = 1024;

static struct {
    bool library_open;
    dWorldID world;
    dJointGroupID contacts;
    int messages;
    PhysicsStepObserver observer;
} w;

static void log_ode(const char *kind, int number, const char *format, va_list ap)
{
    char text[1024];
    vsnprintf(text, sizeof text, format, ap);
    vrak_log("ODE %s %d: %s\n", kind, number, text);
    w.messages++;
}

static void ode_message(int number, const char *format, va_list ap)
{
    log_ode("message", number, format, ap);
}

// Errors and failed internal checks leave ODE in no state to go on; the log line
// says why before the program stops.
static void ode_error(int number, const char *format, va_list ap)
{
    log_ode("error", number, format, ap);
    vrak_log(nullptr);
    abort();
}

static void ode_debug(int number, const char *format, va_list ap)
{
    log_ode("debug", number, format, ap);
    vrak_log(nullptr);
    abort();
}

bool create_physics_world()
{
    if (w.world)
        return true;
    if (!w.library_open) {
        dSetMessageHandler(ode_message);
        dSetErrorHandler(ode_error);
        dSetDebugHandler(ode_debug);
        if (!dInitODE2(0)) {
            vrak_log("Can't start the physics library\n");
            return false;
        }
        w.library_open = true;
    }
    w.world = dWorldCreate();
    dWorldSetGravity(w.world, 0, -PHYSICS_GRAVITY, 0);
    dWorldSetERP(w.world, 0.2);
    dWorldSetCFM(w.world, 1e-10);
    // The step's working memory grows with the contacts of the busiest tick so far.
    // A generous reserve makes that happen in the first ticks of a race rather than
    // whenever a pile-up sets a new record, so a running race does not allocate.
    dWorldStepReserveInfo reserve = {};
    reserve.struct_size = sizeof reserve;
    reserve.reserve_factor = 2.0f;
    reserve.reserve_minimum = 1u << 20;
    dWorldSetStepMemoryReservationPolicy(w.world, &reserve);
    w.contacts = dJointGroupCreate(0);
    // The group keeps the blocks its joints were made in when it is emptied; making
    // a field's worth of joints once now saves growing it in the middle of a race.
    dContact blank = {};
    for (int i = 0; i < PRESIZED_CONTACTS; i++)
        dJointCreateContact(w.world, w.contacts, &blank);
    dJointGroupEmpty(w.contacts);
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

dWorldID physics_world()
{
    return w.world;
}

dJointGroupID physics_contact_group()
{
    return w.contacts;
}

void physics_world_step()
{
    if (!w.world)
        return;
    if (w.observer)
        w.observer(false);
    dWorldStep(w.world, PHYSICS_TICK);
    dJointGroupEmpty(w.contacts);
    if (w.observer)
        w.observer(true);
}

void physics_set_step_observer(PhysicsStepObserver observer)
{
    w.observer = observer;
}

int physics_message_count()
{
    return w.messages;
}

void physics_reset_message_count()
{
    w.messages = 0;
}
