#include "sim/racer.h"

#include "sim/drivetrain.h"
#include "sim/setup.h"

// Each input goes through its own setter, which knows what a crashed bike ignores.
void apply_controls(Racer *racer, float steer, float front_brake, float rear_brake,
                    float throttle, float dab, float back_up, float lean, float clutch,
                    int shift)
{
    set_steer(racer, steer);
    set_front_brake(racer, front_brake);
    set_rear_brake(racer, rear_brake);
    set_throttle(racer, throttle);
    set_dab(racer, dab);
    set_back_up(racer, back_up);
    set_lean(racer, lean);
    set_clutch(racer, clutch);
    racer->shift_request = shift < -1 ? -1 : shift > 1 ? 1 : shift;
    request_shift(racer, racer->shift_request);
}
