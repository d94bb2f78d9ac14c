// "ruttmoor-sim bench": how fast the simulation runs a field of riders. N racers
// stand spread over a track along its racing line, the starting gates are out of
// the way, and they ride a fixed script, stepped headless by world_tick at the
// fixed tick for S simulated seconds. The stepping loop is timed as a whole and,
// through the world's step observer, around the rigid-body world step alone; the
// memory allocations made while it runs are counted: the per-tick path is meant to
// allocate nothing once the first ticks have sized everything.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include <ode/ode.h>

#include "sim/contact.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/setup.h"
#include "sim/step.h"
#include "sim/world.h"
#include "sim/world_tick.h"
#include "tools/sim_tool.h"
#include "track/gates.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track.h"

// ---------------------------------------------------------------------------
// Allocation counting. The tool replaces the global operator new so that every
// C++ allocation is counted, and the bench points ODE's allocator at counting
// functions; the counts are read before and after the stepping loop. Counting
// costs one relaxed atomic add, so the other commands do not notice it.

static std::atomic<long> allocation_count{0};

// The replacement operators hand malloc's blocks out and take them back with free;
// the compiler cannot see that the two belong together once it inlines them.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void *operator new(size_t size)
{
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    for (;;) {
        void *p = malloc(size ? size : 1);
        if (p)
            return p;
        // Without exceptions a missing handler can only end the program.
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            abort();
        handler();
    }
}

void *operator new[](size_t size)
{
    return operator new(size);
}

// The library's temporary buffers use the nothrow forms with the sized delete:
// they must come from the same malloc as the rest.
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return malloc(size ? size : 1);
}

void *operator new[](size_t size, const std::nothrow_t &) noexcept
{
    return operator new(size, std::nothrow);
}

void operator delete(void *p) noexcept
{
    free(p);
}

void operator delete[](void *p) noexcept
{
    free(p);
}

void operator delete(void *p, size_t) noexcept
{
    free(p);
}

void operator delete[](void *p, size_t) noexcept
{
    free(p);
}

void operator delete(void *p, const std::nothrow_t &) noexcept
{
    free(p);
}

void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    free(p);
}

static void *counting_ode_alloc(dsizeint size)
{
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return malloc(size);
}

static void *counting_ode_realloc(void *p, dsizeint, dsizeint size)
{
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    return realloc(p, size);
}

static void ode_free(void *p, dsizeint)
{
    free(p);
}

// ---------------------------------------------------------------------------

struct BenchOptions {
    int riders = 40;
    double seconds = 60;
    const char *track = "fernbottom";   // the game's default track
};

// False after the usage or the reason has been printed.
static bool parse_bench_options(char **args, BenchOptions *o)
{
    for (int i = 0; args[i]; i++) {
        const char *a = args[i];
        const char *next = args[i + 1];
        char *end;
        if (strcmp(a, "--riders") == 0 && next) {
            long n = strtol(next, &end, 10);
            if (end == next || *end || n < 1 || n > MAX_STARTING_GATES) {
                fprintf(stderr, "Bad number of riders '%.200s' (1 to %d)\n", next,
                        (int)MAX_STARTING_GATES);
                return false;
            }
            o->riders = (int)n;
            i++;
        } else if (strcmp(a, "--seconds") == 0 && next) {
            o->seconds = strtod(next, &end);
            if (end == next || *end || !(o->seconds > 0 && o->seconds <= 86400)) {
                fprintf(stderr, "Bad number of seconds '%.200s'\n", next);
                return false;
            }
            i++;
        } else if (strcmp(a, "--track") == 0 && next) {
            o->track = next;
            i++;
        } else {
            fprintf(stderr, "usage: ruttmoor-sim bench [--riders N] [--seconds S] "
                            "[--track TRACKDIR]\n");
            return false;
        }
    }
    return true;
}

// Where rider s of n starts: spread over the track, at an equal share of the lap
// along the track's route, facing along it. Without a route the bikes stand in a
// row from the middle of the terrain.
static void start_position(int slot, int n, const std::vector<RoutePoint> &route,
                           const Terrain *t, double *x, double *z, double *heading)
{
    if (route.size() < 2) {
        *x = t->extent / 2 + 5.0 * slot;
        *z = t->extent / 2;
        *heading = 0;
        return;
    }
    size_t i = route.size() * (size_t)slot / (size_t)n;
    const RoutePoint &a = route[i], &b = route[(i + 1) % route.size()];
    *x = a.x;
    *z = a.z;
    *heading = atan2(-(b.x - a.x), -(b.z - a.z));
}

// The script every rider follows: a steady part throttle and a slow weave, each
// rider a little out of phase so the pack spreads.
static void drive(Racer *racer, int slot, int tick)
{
    double t = tick * PHYSICS_TICK;
    float steer = (float)(0.25 * sin(2 * M_PI * t / 3 + slot * 0.7));
    float clutch = clutch_from_lever(racer->clutch, 0);
    apply_controls(racer, steer, 0, 0, 0.6f, 0, 0, 0, clutch, 0);
}

// The world step's time, summed by the step observer.
static struct {
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::duration inside;
} step_timer;

static void time_world_step(bool done)
{
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (done)
        step_timer.inside += now - step_timer.started;
    else
        step_timer.started = now;
}

// The bench rides a race that has started, but it does not run the race's gate
// drop. A gate left standing holds the bikes for the whole run and makes a pile-up
// of the field, so the gate objects are taken out of the contacts altogether.
static void drop_starting_gates()
{
    const TimingTables &tables = timing_tables();
    Track &tr = track_edit();
    for (int g = 0; g < tables.starting_gate_count; g++) {
        int index = tables.starting_gates[g].statue;
        if (index < 0 || (size_t)index >= tr.statues.size())
            continue;
        free_shape(tr.statues[index].shape);
        tr.statues[index].shape = nullptr;
    }
    rebuild_collision_grid();
}

// Output, one "key=value" line each:
//   riders=N  seconds=S  ticks=T
//   wall_seconds=        the stepping loop (controls and world ticks), wall clock
//   us_per_racer_tick=   wall_seconds per tick per rider, microseconds
//   world_step_share=    the part of wall_seconds spent in the world step
//   inside_step_seconds= the time in the world step
//   outside_step_seconds= the rest (contacts, racer steps, controls)
//   realtime_factor=     simulated seconds per wall second
//   allocations_per_tick= allocations (C++ and ODE) per tick, the first second
//                        (or the first tick of a shorter run) left out as warm-up
//   warmup_allocations=  the allocations of the ticks left out
//   crashed=             riders down at the end
// Exit status 1 when the simulation stops being finite.
int run_bench(char **args)
{
    BenchOptions o;
    if (!parse_bench_options(args, &o))
        return EXIT_USAGE;
    bike_setup_reset();
    if (!set_setup_value("auto_shift=yes"))
        return EXIT_FAILED;
    if (!load_track_for_command(o.track))
        return EXIT_FAILED;
    const Terrain *terrain = track_terrain();
    dSetAllocHandler(counting_ode_alloc);
    dSetReallocHandler(counting_ode_realloc);
    dSetFreeHandler(ode_free);
    if (!create_physics_world()) {
        fprintf(stderr, "Can't start the physics world\n");
        free_track();
        return EXIT_FAILED;
    }
    std::vector<RoutePoint> route;
    read_route(o.track, &route);        // none: the riders stand in a row
    std::vector<Racer *> racers(o.riders, nullptr);
    int status = EXIT_DONE;
    for (int s = 0; s < o.riders && status == EXIT_DONE; s++) {
        char plate[12];
        snprintf(plate, sizeof plate, "%d", s + 1);
        racers[s] = create_racer("crf450(2013)", 0, plate, nullptr, nullptr, nullptr, nullptr);
        if (!racers[s]) {
            fprintf(stderr, "Can't create the racer\n");
            status = EXIT_FAILED;
            break;
        }
        apply_setup(racers[s], true);
        double x, z, heading;
        start_position(s, o.riders, route, terrain, &x, &z, &heading);
        place_racer(racers[s], terrain, x, z, heading);
    }

    using Clock = std::chrono::steady_clock;
    int ticks = (int)ceil(o.seconds * 128 - 1e-9);
    int warmup = ticks > 128 ? 128 : 1;
    drop_starting_gates();
    long warmup_allocations = 0, start_allocations = allocation_count.load();
    step_timer.inside = Clock::duration{0};
    physics_set_step_observer(time_world_step);
    StepContext ctx = {};
    ctx.terrain = terrain;
    Clock::time_point start = Clock::now();
    for (int tick = 0; tick < ticks && status == EXIT_DONE; tick++) {
        if (tick == warmup) {
            long now = allocation_count.load();
            warmup_allocations = now - start_allocations;
            start_allocations = now;
        }
        for (int s = 0; s < o.riders; s++)
            drive(racers[s], s, tick);
        ctx.tick = tick + 1;

        world_tick(racers.data(), o.riders, &ctx);

        const dReal *p = dBodyGetPosition(racers[0]->bodies[BODY_FRAME]);
        if (!std::isfinite(p[0] + p[1] + p[2])) {
            fprintf(stderr, "The simulation stopped being finite at t=%.3f\n",
                    tick * PHYSICS_TICK);
            status = EXIT_FAILED;
        }
    }
    double wall = std::chrono::duration<double>(Clock::now() - start).count();
    physics_set_step_observer(nullptr);
    long steady_allocations = allocation_count.load() - start_allocations;
    if (ticks <= warmup) {
        warmup_allocations = steady_allocations;
        steady_allocations = 0;
    }

    if (status == EXIT_DONE) {
        double in = std::chrono::duration<double>(step_timer.inside).count();
        double simulated = ticks * PHYSICS_TICK;
        int crashed = 0;
        for (Racer *r : racers)
            crashed += r->crash_countdown > 0;
        printf("riders=%d\nseconds=%g\nticks=%d\n", o.riders, simulated, ticks);
        printf("wall_seconds=%.6f\n", wall);
        printf("us_per_racer_tick=%.3f\n", wall * 1e6 / ((double)ticks * o.riders));
        printf("world_step_share=%.4f\n", wall > 0 ? in / wall : 0.0);
        printf("inside_step_seconds=%.6f\n", in);
        printf("outside_step_seconds=%.6f\n", wall - in);
        printf("realtime_factor=%.3f\n", wall > 0 ? simulated / wall : 0.0);
        printf("allocations_per_tick=%.4f\n",
               ticks > warmup ? (double)steady_allocations / (ticks - warmup) : 0.0);
        printf("warmup_allocations=%ld\n", warmup_allocations);
        printf("crashed=%d\n", crashed);
    }
    for (Racer *r : racers)
        destroy_racer(r);
    destroy_physics_world();
    free_track();
    return status;
}
