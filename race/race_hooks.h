// What the race calls in the parts of the game around it. Every member may be null;
// the headless tools leave most of them unset.
#pragma once

struct Racer;
struct GateHooks;

struct RaceHooks {
    // Loading-screen text ("Resetting...", "Loading bikes...").
    void (*status_text)(const char *text);
    // Line learning: save the lines of the skill in use, load those of a skill.
    void (*save_lines)();
    void (*load_lines)(const char *track, int skill);
    // Gate crossing hooks of line learning; the race adds its own.
    const GateHooks *line_hooks;
    void (*set_personality)(Racer *racer, const char *name);
    void (*auto_pilot_step)(Racer *racer);
    // The auto-align target ahead on the track.
    bool (*align_target)(const Racer *racer, double out[3]);
    // Roost and erosion, and the particle system.
    void (*emit_roost)(Racer *racer, bool contacts_valid);
    void (*erode)(Racer *racer);
    void (*update_particles)();
    void (*clear_particles)();
    // A racer's race state was reset (placed on the grid, time-trial start): the
    // auto pilot's path and line recording start over.
    void (*racer_reset)(Racer *racer);
    // A racer was created in or is about to leave a slot (engine sounds, models).
    void (*racer_created)(int slot, Racer *racer);
    void (*racer_freed)(int slot, Racer *racer);
    // Put the camera above the followed racer.
    void (*camera_to)(const Racer *racer);
    // Starting gate g's bar is at angle (rad) about the gate's own x axis.
    void (*pose_gate)(int gate, double angle);
};

void race_set_hooks(const RaceHooks *hooks);

// A bike touched starting gate g's object in this frame (the bar then holds).
void race_gate_touched(int gate);
// Network race: the false-start rule for the local rider, before its step.
void false_start_check(Racer *racer);
