#include "sound/engine_sound.h"

void update_engine_sound(int slot, Racer *racer, float volume)
{
    (void)slot;
    (void)racer;
    (void)volume;
}

void free_engine_sound(int slot)
{
    (void)slot;
}
