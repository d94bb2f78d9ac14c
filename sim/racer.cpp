#include "sim/racer.h"

#include "sim/setup.h"

static float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

void apply_controls(Racer *racer, float steer, float front_brake, float rear_brake,
                    float throttle, float dab, float back_up, float lean, float clutch,
                    int shift)
{
    racer->steer = clampf(steer, -1, 1);
    racer->front_brake = clampf(front_brake, 0, 1);
    racer->rear_brake = clampf(rear_brake, 0, 1);
    racer->throttle = clampf(throttle, 0, 1);
    racer->dab = clampf(dab, 0, 1);
    racer->back_up = clampf(back_up, 0, 1);
    racer->lean = clampf(lean, -1, 1);
    racer->clutch = clampf(clutch, 0, 1);
    racer->shift_request = shift < -1 ? -1 : shift > 1 ? 1 : shift;
    request_shift(racer, racer->shift_request);
}
