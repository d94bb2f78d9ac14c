// The platform clock and the accurate sleep. The clock is CLOCK_MONOTONIC, so it
// never jumps with the wall time; tests may replace both through hooks so that
// frame pacing can be driven by hand.
#include "platform/vrak_local.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <sched.h>

static struct {
    VrakClockFn clock_hook;
    VrakSleepFn sleep_hook;
} clk;

int64_t vrak_time_to_micros(VrakTime t)
{
    return (int64_t)t.seconds * 1000000 + t.micros;
}

VrakTime vrak_micros_to_time(int64_t micros)
{
    // Floor division keeps micros in 0..999999 for times before the start too.
    int64_t seconds = micros / 1000000;
    int64_t rest = micros % 1000000;
    if (rest < 0) {
        rest += 1000000;
        seconds -= 1;
    }
    VrakTime t;
    t.seconds = (long)seconds;
    t.micros = (long)rest;
    return t;
}

static VrakTime real_clock()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    VrakTime t;
    t.seconds = (long)ts.tv_sec;
    t.micros = (long)(ts.tv_nsec / 1000);
    return t;
}

VrakTime vrak_clock()
{
    if (clk.clock_hook)
        return clk.clock_hook();
    return real_clock();
}

void vrak_sleep(long seconds, long micros)
{
    if (clk.sleep_hook) {
        clk.sleep_hook(seconds, micros);
        return;
    }
    int64_t duration = (int64_t)seconds * 1000000 + micros;
    if (duration <= 0)
        return;
    int64_t target = vrak_time_to_micros(real_clock()) + duration;

    // The system sleep may overshoot by a scheduler slice, so it only covers all but
    // the last millisecond; the rest is spent yielding until the clock gets there.
    int64_t coarse_ms = duration / 1000 - 1;
    if (coarse_ms > 0) {
        timespec req;
        req.tv_sec = (time_t)(coarse_ms / 1000);
        req.tv_nsec = (long)(coarse_ms % 1000) * 1000000;
        timespec rem;
        while (nanosleep(&req, &rem) != 0 && errno == EINTR)
            req = rem;
    }
    while (vrak_time_to_micros(real_clock()) < target)
        sched_yield();
}

double vrak_time_to_seconds(VrakTime t)
{
    return (double)t.seconds + (double)t.micros * 1e-6;
}

VrakTime vrak_seconds_to_time(double s)
{
    // Keeps the conversion to 64-bit microseconds defined for any input.
    if (!std::isfinite(s))
        s = 0.0;
    if (s > 1e12)
        s = 1e12;
    if (s < -1e12)
        s = -1e12;
    return vrak_micros_to_time((int64_t)std::llround(s * 1e6));
}

void vrak_set_clock_hooks(VrakClockFn clock, VrakSleepFn sleep)
{
    clk.clock_hook = clock;
    clk.sleep_hook = sleep;
}
