// The rider's bike setup: the setting records with their config keys, labels and
// limits, the stability preset that drives the assist values, writing the setup
// into a racer (with the rule that the mechanic cannot work on a moving bike), the
// setup a racer starts with, and gear selection.
#pragma once

#include <cstddef>

#include "core/settings.h"

struct BikeModel;
struct Racer;

// Every field is named by its config key.
struct BikeSetup {
    ChoiceSetting bike;                 // catalogue names in menu order
    TextSetting name, number;
    // Graphics sets; their lists are filled when the sets are found at start-up.
    ChoiceSetting rider_texture, head_texture, bike_texture, wheel_texture;

    NumberSetting stability;            // drives the fifteen values below it
    NumberSetting leveling, roll_damping, roll_limit_angle, roll_limit_factor;
    NumberSetting steering_damping, steering_strength, max_steering_force, direct_steering;
    NumberSetting slow_damping_speed, slow_damping_factor;
    NumberSetting land_damping_falloff, land_damping_factor;
    NumberSetting full_lock_speed, restricted_lock_speed, restricted_lock;

    ChoiceSetting arcade, front_brake, rear_brake, stop_wheelies, auto_shift, auto_dab;
    ChoiceSetting auto_align, sticky_dab, reverse_steering, lean_indicator;

    NumberSetting auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;
    NumberSetting front_sprocket_adjustment, rear_sprocket_adjustment;
    NumberSetting fork_compression_adjustment, fork_rebound_adjustment;
    NumberSetting fork_spring_rate_adjustment, fork_preload_adjustment;
    NumberSetting fork_oil_level_adjustment;
    NumberSetting shock_compression_adjustment, shock_rebound_adjustment;
    NumberSetting shock_spring_rate_adjustment, shock_preload_adjustment;
    NumberSetting rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
    NumberSetting rider_mass_distribution;
};

const BikeSetup &bike_setup();
BikeSetup &bike_setup_edit();
// Every setup value back to its default.
void bike_setup_reset();

// One setup key for the configuration file; exactly one of the pointers is set.
enum SetupKeyKind { SETUP_KEY_NUMBER, SETUP_KEY_CHOICE, SETUP_KEY_TEXT };
struct SetupKey {
    const char *key;
    SetupKeyKind kind;
    NumberSetting *number;
    ChoiceSetting *choice;
    TextSetting *text;
};
// The keys in the order the configuration file writes them.
int bike_setup_key_count();
SetupKey bike_setup_key(int index);
// Exact, case-sensitive; false when the key is not a setup key.
bool find_bike_setup_key(const char *key, SetupKey *out);

// Sets the assist values (leveling to restricted lock) from a stability of 0..100,
// blending between the two nearest of six presets.
void apply_stability_preset(double stability);

// The setup block a racer starts with, before any apply_setup.
void set_default_racer_setup(Racer *racer);

// Writes the current setup into the racer. Refused while the frame moves faster
// than 0.125 ft/s; a second refusal within 10 s of game time tells the player the
// mechanic can't keep up. The arcade flag stays off where the game mode forbids it.
// True when applied.
bool apply_setup(Racer *racer, bool arcade_allowed);
// The same with the frame's speed given (ft/s).
bool apply_setup_at_speed(Racer *racer, double frame_speed, bool arcade_allowed);
// Forgets earlier refusals, so the next one is silent again.
void setup_forget_refusals();
// Parts of apply_setup the setup menus apply on their own, at once and whether the
// bike moves or not: the assist values, and the flags of the choice settings.
void apply_assist_settings(Racer *racer);
void apply_setup_flags(Racer *racer, bool arcade_allowed);

// Stock teeth plus an adjustment of at most two either way, never under 3.
int adjusted_sprocket(int stock_teeth, double adjustment);

// What the suspension menu prints beside a setting (e.g. "4.500 kg/mm" or
// "13.00 teeth") for the given value; false for settings without such a figure.
bool setup_physical_text(const BikeModel *model, const NumberSetting *setting, char *out,
                         size_t size);
// The physical values behind those texts, each from a lerp fraction 0..1.
double fork_spring_kg_per_mm(const BikeModel *model, double fraction);     // per leg
double fork_preload_mm(const BikeModel *model, double fraction);
double fork_oil_level_mm(const BikeModel *model, double fraction);
double shock_spring_kg_per_mm(const BikeModel *model, double fraction);
double shock_preload_mm(const BikeModel *model, double fraction);

// A shift request of -1, 0 or +1. Acts only when it differs from the previous
// request and never while crashed; the gear moves by the request within the gears
// the bike has.
void request_shift(Racer *racer, int request);

// Parts that need the rigid bodies. Until the racer's bodies exist these do
// nothing: the speeds are 0 and the masses are left alone.
double racer_frame_speed(const Racer *racer);       // ft/s
double racer_forward_speed(const Racer *racer);     // ft/s along the frame's -z
void apply_rider_mass_distribution(Racer *racer, double distribution);
