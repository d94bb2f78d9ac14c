// Engine sound of each racer.
#pragma once

struct Racer;

// Per frame, for every racer with a voice: sets its level (0 silences it).
void update_engine_sound(int slot, Racer *racer, float volume);
void free_engine_sound(int slot);
