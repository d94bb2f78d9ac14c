// The rider's bike setup: the records behind the setup menus and the config file,
// the stability preset, and how the setup reaches a racer. The setup is one for
// the whole run and belongs to the local rider; a racer keeps its own converted
// copy (RacerSetup) that the simulation reads.
#include "sim/setup.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/common.h"
#include "sim/catalogue.h"
#include "sim/racer.h"
#include "sim/racer_body.h"

static constexpr double DEG_TO_RAD = M_PI / 180;
static constexpr double MPH_TO_FEET_PER_SEC = 1.4666667;
// The mechanic's limits: a bike must be practically at rest, and asking again
// within this many seconds of a refusal earns a complaint.
static constexpr double STILL_SPEED = 0.125;
static constexpr double MECHANIC_PATIENCE = 10;
static constexpr double NO_REFUSAL_YET = -20;

static struct {
    BikeSetup setup;
    bool ready;
    double last_refused;        // game clock of the last refused apply_setup
} su = {{}, false, NO_REFUSAL_YET};

// NaN (a config file may hold "nan") goes to the low end instead of slipping
// through the comparisons.
static double clampd(double v, double lo, double hi)
{
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

// ---------------------------------------------------------------------------
// The records

struct NumberDef {
    const char *key;
    NumberSetting BikeSetup::*field;
    const char *label;
    double value, step, minimum, maximum;
};

// In config order: the first sixteen come before the choices, the rest after.
static const NumberDef number_defs[] = {
    {"stability", &BikeSetup::stability, "Stability", 100, 1, 0, 100},
    {"leveling", &BikeSetup::leveling, "Leveling", 20, 1, 0, 100},
    {"roll_damping", &BikeSetup::roll_damping, "Roll Damping", 60, 1, 0, 100},
    {"roll_limit_angle", &BikeSetup::roll_limit_angle, "Roll Limit Angle", 45, 1, 0, 180},
    {"roll_limit_factor", &BikeSetup::roll_limit_factor, "Roll Limit Factor", 10, 1, 0, 64},
    {"steering_damping", &BikeSetup::steering_damping, "Steering Damping", 45, 1, 0, 100},
    {"steering_strength", &BikeSetup::steering_strength, "Steering Strength", 75, 1, 0, 100},
    {"max_steering_force", &BikeSetup::max_steering_force, "Max Steering Force", 400, 5, 0,
     1000},
    {"direct_steering", &BikeSetup::direct_steering, "Direct Steering", 1, 0.125, 0, 1},
    {"slow_damping_speed", &BikeSetup::slow_damping_speed, "Slow Damping Speed", 40, 1, 0,
     100},
    {"slow_damping_factor", &BikeSetup::slow_damping_factor, "Slow Damping Factor", 2, 0.25, 1,
     10},
    {"land_damping_falloff", &BikeSetup::land_damping_falloff, "Landing Damping Falloff", 0.25,
     0.0625, 0, 0.5},
    {"land_damping_factor", &BikeSetup::land_damping_factor, "Landing Damping Factor", 2, 0.25,
     1, 3},
    {"full_lock_speed", &BikeSetup::full_lock_speed, "Full Lock Speed", 10, 1, 1, 100},
    {"restricted_lock_speed", &BikeSetup::restricted_lock_speed, "Restricted Lock Speed", 50, 1,
     1, 100},
    {"restricted_lock", &BikeSetup::restricted_lock, "Restricted Lock Angle", 7.5, 0.125, 0,
     45},

    {"auto_clutch_rpms", &BikeSetup::auto_clutch_rpms, "Auto Clutch RPMs", 5000, 100, 0, 5000},
    {"brake_torque", &BikeSetup::brake_torque, "Braking Torque (Front)", 250, 10, 0, 500},
    {"rear_brake_torque", &BikeSetup::rear_brake_torque, "Braking Torque (Rear)", 250, 10, 0,
     500},
    {"max_dab_speed", &BikeSetup::max_dab_speed, "Max Dab Speed (MPH)", 20, 1, 5, 60},
    {"front_sprocket_adjustment", &BikeSetup::front_sprocket_adjustment,
     "Countershaft Sprocket", 0, 1, -2, 2},
    {"rear_sprocket_adjustment", &BikeSetup::rear_sprocket_adjustment, "Rear Sprocket", 0, 1,
     -2, 2},
    {"fork_compression_adjustment", &BikeSetup::fork_compression_adjustment,
     "Fork Compression Damping", 50, 1, 0, 100},
    {"fork_rebound_adjustment", &BikeSetup::fork_rebound_adjustment, "Fork Rebound Damping",
     50, 1, 0, 100},
    {"fork_spring_rate_adjustment", &BikeSetup::fork_spring_rate_adjustment,
     "Fork Spring Rate", 50, 1, 0, 100},
    {"fork_preload_adjustment", &BikeSetup::fork_preload_adjustment, "Fork Preload", 50, 1, 0,
     100},
    {"fork_oil_level_adjustment", &BikeSetup::fork_oil_level_adjustment, "Fork Oil Level", 50,
     1, 0, 100},
    {"shock_compression_adjustment", &BikeSetup::shock_compression_adjustment,
     "Shock Compression Damping", 50, 1, 0, 100},
    {"shock_rebound_adjustment", &BikeSetup::shock_rebound_adjustment, "Shock Rebound Damping",
     50, 1, 0, 100},
    {"shock_spring_rate_adjustment", &BikeSetup::shock_spring_rate_adjustment,
     "Shock Spring Rate", 50, 1, 0, 100},
    {"shock_preload_adjustment", &BikeSetup::shock_preload_adjustment, "Shock Preload", 50, 1,
     0, 100},
    {"rider_yspring", &BikeSetup::rider_yspring, "Rider Vertical Spring", 50, 1, 0, 100},
    {"rider_ydamping", &BikeSetup::rider_ydamping, "Rider Vertical Damping", 50, 1, 0, 100},
    {"rider_zspring", &BikeSetup::rider_zspring, "Rider Forward Spring", 50, 1, 0, 100},
    {"rider_zdamping", &BikeSetup::rider_zdamping, "Rider Forward Damping", 50, 1, 0, 100},
    {"rider_mass_distribution", &BikeSetup::rider_mass_distribution, "Rider Mass Distribution",
     0.33, 0.01, 0.33, 0.5},
};
enum { NUMBERS_BEFORE_CHOICES = 16, NUMBER_COUNT = sizeof number_defs / sizeof number_defs[0] };
static_assert(NUMBER_COUNT == 36, "one record per numeric setup key");

struct ChoiceDef {
    const char *key;
    ChoiceSetting BikeSetup::*field;
    const char *label;
    const char *items[3];
    int selected;
};

static const ChoiceDef choice_defs[] = {
    {"arcade", &BikeSetup::arcade, "Arcade Physics", {"No", "Yes"}, 1},
    {"front_brake", &BikeSetup::front_brake, "Front Brake", {"Normal", "Antilock"}, 1},
    {"rear_brake", &BikeSetup::rear_brake, "Rear Brake", {"Normal", "Antilock"}, 0},
    {"stop_wheelies", &BikeSetup::stop_wheelies, "Stop Wheelies", {"No", "Yes", "Front Only"}, 0},
    {"auto_shift", &BikeSetup::auto_shift, "Automatic Shifting", {"No", "Yes"}, 1},
    {"auto_dab", &BikeSetup::auto_dab, "Dab When Stopped", {"No", "Yes"}, 1},
    {"auto_align", &BikeSetup::auto_align, "Realign After Fall", {"No", "Yes"}, 1},
    {"sticky_dab", &BikeSetup::sticky_dab, "Sticky Sit/Dab", {"No", "Yes"}, 0},
    {"reverse_steering", &BikeSetup::reverse_steering, "Reversed Steering", {"No", "Yes"}, 1},
    {"lean_indicator", &BikeSetup::lean_indicator, "Lean Indicator", {"No", "Yes"}, 1},
};
enum { CHOICE_COUNT = sizeof choice_defs / sizeof choice_defs[0] };

// The bike menu lists the catalogue by maker generation, newest first.
static const char *const bike_menu_order[BIKE_MODEL_COUNT] = {
    "450sxf(2013)", "crf450(2013)", "kx450f(2013)", "rmz450(2013)", "yz450f(2013)",
    "350sxf(2013)", "450sxf(2011)", "crf450(2011)", "kx450f(2011)", "rmz450(2011)",
    "yz450f(2011)", "350sxf(2011)", "250sx(2012)", "cr250(2007)", "kx250(2006)",
    "rm250(2008)", "yz250(2012)", "250sxf(2013)", "crf250(2013)", "kx250f(2013)",
    "rmz250(2013)", "yz250f(2013)", "250sxf(2009)", "crf250(2009)", "kx250f(2009)",
    "rmz250(2009)", "yz250f(2009)", "crf250(2008)", "kx250f(2008)", "rmz250(2008)",
    "yz250f(2008)", "crf250(2007)", "kx250f(2007)", "rmz250(2007)", "yz250f(2007)",
    "yz250f_se(2006)", "125sx", "cr125", "kx125", "rm125",
    "yz125", "rs50cr", "rs50kx", "rs50rm", "rs50yz",
};

void bike_setup_reset()
{
    BikeSetup &s = su.setup;
    s.bike = {"Bike", {}, 0};
    for (const char *name : bike_menu_order)
        s.bike.choices.push_back(name);
    s.name = {"Name", 63, "Ned Holeshot"};
    s.number = {"Number", 3, "999"};
    s.rider_texture = {"Riding Gear", {}, 0};
    s.head_texture = {"Helmet", {}, 0};
    s.bike_texture = {"Bike Graphics", {}, 0};
    s.wheel_texture = {"Wheel Graphics", {}, 0};
    for (const NumberDef &d : number_defs)
        s.*d.field = {d.label, d.value, d.step, d.minimum, d.maximum};
    for (const ChoiceDef &d : choice_defs) {
        ChoiceSetting &c = s.*d.field;
        c = {d.label, {}, d.selected};
        for (const char *item : d.items)
            if (item)
                c.choices.push_back(item);
    }
    su.ready = true;
}

BikeSetup &bike_setup_edit()
{
    if (!su.ready)
        bike_setup_reset();
    return su.setup;
}

const BikeSetup &bike_setup()
{
    return bike_setup_edit();
}

// Fills keys[] in config order and returns the count.
static int list_keys(SetupKey *keys)
{
    BikeSetup &s = bike_setup_edit();
    int n = 0;
    auto choice = [&](const char *key, ChoiceSetting *c) {
        keys[n++] = {key, SETUP_KEY_CHOICE, nullptr, c, nullptr};
    };
    auto text = [&](const char *key, TextSetting *t) {
        keys[n++] = {key, SETUP_KEY_TEXT, nullptr, nullptr, t};
    };
    auto numbers = [&](int from, int to) {
        for (int i = from; i < to; i++)
            keys[n++] = {number_defs[i].key, SETUP_KEY_NUMBER, &(s.*number_defs[i].field),
                         nullptr, nullptr};
    };
    choice("bike", &s.bike);
    text("name", &s.name);
    text("number", &s.number);
    choice("rider_texture", &s.rider_texture);
    choice("head_texture", &s.head_texture);
    choice("bike_texture", &s.bike_texture);
    choice("wheel_texture", &s.wheel_texture);
    numbers(0, NUMBERS_BEFORE_CHOICES);
    for (const ChoiceDef &d : choice_defs)
        choice(d.key, &(s.*d.field));
    numbers(NUMBERS_BEFORE_CHOICES, NUMBER_COUNT);
    return n;
}

enum { KEY_COUNT = 7 + NUMBER_COUNT + CHOICE_COUNT };

int bike_setup_key_count()
{
    return KEY_COUNT;
}

SetupKey bike_setup_key(int index)
{
    SetupKey keys[KEY_COUNT];
    list_keys(keys);
    if (index < 0 || index >= KEY_COUNT)
        return {nullptr, SETUP_KEY_NUMBER, nullptr, nullptr, nullptr};
    return keys[index];
}

bool find_bike_setup_key(const char *key, SetupKey *out)
{
    SetupKey keys[KEY_COUNT];
    list_keys(keys);
    for (const SetupKey &k : keys) {
        if (key && strcmp(k.key, key) == 0) {
            *out = k;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// The stability preset

// One row per assist value; columns are the presets for stability 0, 20, ... 100.
// Angles in degrees, as the settings show them.
static const struct {
    NumberSetting BikeSetup::*field;
    double preset[6];
} stability_table[] = {
    {&BikeSetup::leveling, {20, 20, 20, 20, 20, 20}},
    {&BikeSetup::roll_damping, {40, 50, 60, 70, 75, 80}},
    {&BikeSetup::roll_limit_angle, {90, 45, 45, 40, 35, 35}},
    {&BikeSetup::roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&BikeSetup::steering_damping, {45, 45, 45, 45, 45, 45}},
    {&BikeSetup::steering_strength, {75, 75, 75, 75, 75, 75}},
    {&BikeSetup::direct_steering, {1, 1, 1, 1, 1, 0}},
    {&BikeSetup::max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&BikeSetup::slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&BikeSetup::slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&BikeSetup::land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&BikeSetup::land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&BikeSetup::full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&BikeSetup::restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&BikeSetup::restricted_lock, {45, 15, 10, 5, 5, 5}},
};

void apply_stability_preset(double stability)
{
    double s = clampd(stability * 5 * 0.01, 0, 5);
    int i = (int)floor(s);
    if (i > 4)
        i = 4;
    double m = s - i;
    BikeSetup &setup = bike_setup_edit();
    for (const auto &row : stability_table)
        (setup.*row.field).value = row.preset[i] + m * (row.preset[i + 1] - row.preset[i]);
}

// ---------------------------------------------------------------------------
// The setup in a racer

int adjusted_sprocket(int stock_teeth, double adjustment)
{
    int teeth = (int)floor(clampd(adjustment, -2, 2) + stock_teeth);
    return teeth < 3 ? 3 : teeth;
}

// 0.5 at 0, 1 at 50, 2 at 100.
static double damping_multiplier(double v)
{
    return clampd(pow(2, clampd(v, -1000, 1000) * 0.02 - 1), 0.5, 2);
}

// A setting's fraction of the catalogue's range, as the physical value.
static double within(double lo, double hi, double fraction)
{
    return lo + (hi - lo) * fraction;
}

static double lerp_setting(double lo, double hi, double v)
{
    return within(lo, hi, clampd(v * 0.01, 0, 1));
}

void set_default_racer_setup(Racer *racer)
{
    const BikeModel &m = racer->model;
    RacerSetup &r = racer->setup;
    r = {};
    r.final_ratio = (double)adjusted_sprocket(m.rear_sprocket, 0) /
                    adjusted_sprocket(m.front_sprocket, 0);
    r.fork_compression = m.fork_compression;
    r.fork_rebound = m.fork_rebound;
    r.shock_compression = m.shock_compression;
    r.shock_rebound = m.shock_rebound;
    r.fork_oil_level = m.fork_oil_level_min;
    r.fork_spring_rate = (m.fork_spring_min + m.fork_spring_max) / 2;
    r.fork_preload = (m.fork_preload_min + m.fork_preload_max) / 2;
    r.shock_spring_rate = (m.shock_spring_min + m.shock_spring_max) / 2;
    r.shock_preload = (m.shock_preload_min + m.shock_preload_max) / 2;
    r.rider_yspring = r.rider_ydamping = r.rider_zspring = r.rider_zdamping = 0.5;
    r.rider_mass_distribution = 1.0 / 3;
    r.leveling = 20;
    r.roll_damping = 60;
    r.roll_limit_angle = M_PI / 4;
    r.roll_limit_factor = 10;
    r.steering_damping = 45;
    r.steering_strength = 75;
    r.max_steering_force = 400;
    r.auto_clutch_rpms = 5000;
    r.brake_torque = 250;
    r.rear_brake_torque = 250;
    r.direct_steering = 1;
    r.slow_damping_speed = 0;
    r.slow_damping_factor = 1;
    r.land_damping_falloff = 0.25;
    r.land_damping_factor = 2;
    r.max_dab_speed = 30;
    r.full_lock_speed = 10;
    r.restricted_lock_speed = 50;
    r.restricted_lock = 5 * DEG_TO_RAD;
    r.flags = (2 << SETUP_STOP_WHEELIES_SHIFT) | SETUP_FRONT_ANTILOCK | SETUP_AUTO_ALIGN;
    r.flags2 = 0;
}

void apply_assist_settings(Racer *racer)
{
    const BikeSetup &s = bike_setup();
    RacerSetup &r = racer->setup;
    r.leveling = clampd(s.leveling.value, 0, 100);
    r.roll_damping = clampd(s.roll_damping.value, 0, 100);
    r.roll_limit_angle = clampd(s.roll_limit_angle.value * DEG_TO_RAD, 0, M_PI);
    r.roll_limit_factor = clampd(s.roll_limit_factor.value, 0, 64);
    r.steering_damping = clampd(s.steering_damping.value, 0, 100);
    r.steering_strength = clampd(s.steering_strength.value, 0, 100);
    r.max_steering_force = clampd(s.max_steering_force.value, 0, 1000);
    r.direct_steering = clampd(s.direct_steering.value, 0, 1);
    r.slow_damping_speed = clampd(s.slow_damping_speed.value, 0, 100);
    r.slow_damping_factor = clampd(s.slow_damping_factor.value, 1, 10);
    r.land_damping_falloff = clampd(s.land_damping_falloff.value, 0, 0.5);
    r.land_damping_factor = clampd(s.land_damping_factor.value, 1, 3);
    r.full_lock_speed = clampd(s.full_lock_speed.value, 1, 100);
    r.restricted_lock_speed = clampd(s.restricted_lock_speed.value, 1, 100);
    r.restricted_lock = clampd(s.restricted_lock.value * DEG_TO_RAD, 0, M_PI / 4);
}

static bool chosen(const ChoiceSetting &c)
{
    return c.selected == 1;
}

void apply_setup_flags(Racer *racer, bool arcade_allowed)
{
    const BikeSetup &s = bike_setup();
    // "No", "Yes" (cut torque and release the front brake), "Front Only".
    static const int stop_wheelie_bits[3] = {0, 3, 2};
    int stop = s.stop_wheelies.selected;
    int flags = (stop >= 0 && stop < 3 ? stop_wheelie_bits[stop] : 0) << SETUP_STOP_WHEELIES_SHIFT;
    if (chosen(s.front_brake))
        flags |= SETUP_FRONT_ANTILOCK;
    if (chosen(s.rear_brake))
        flags |= SETUP_REAR_ANTILOCK;
    if (chosen(s.auto_shift))
        flags |= SETUP_AUTO_SHIFT;
    if (chosen(s.auto_dab))
        flags |= SETUP_AUTO_DAB;
    if (chosen(s.auto_align))
        flags |= SETUP_AUTO_ALIGN;
    racer->setup.flags = (uint8_t)flags;
    racer->setup.flags2 = arcade_allowed && chosen(s.arcade) ? SETUP_ARCADE : 0;
}

void setup_forget_refusals()
{
    su.last_refused = NO_REFUSAL_YET;
}

bool apply_setup_at_speed(Racer *racer, double frame_speed, bool arcade_allowed)
{
    double now = game_clock();
    if (!(frame_speed <= STILL_SPEED)) {
        if (now - su.last_refused < MECHANIC_PATIENCE)
            game_message("Settings not applied.  Mechanic can't keep up error.");
        su.last_refused = now;
        return false;
    }

    const BikeSetup &s = bike_setup();
    const BikeModel &m = racer->model;
    RacerSetup &r = racer->setup;
    apply_assist_settings(racer);
    apply_setup_flags(racer, arcade_allowed);
    r.auto_clutch_rpms = clampd(s.auto_clutch_rpms.value, 0, 5000);
    r.brake_torque = clampd(s.brake_torque.value, 0, 500);
    r.rear_brake_torque = clampd(s.rear_brake_torque.value, 0, 500);
    r.max_dab_speed = clampd(s.max_dab_speed.value * MPH_TO_FEET_PER_SEC, 7, 100);

    int front = adjusted_sprocket(m.front_sprocket, s.front_sprocket_adjustment.value);
    int rear = adjusted_sprocket(m.rear_sprocket, s.rear_sprocket_adjustment.value);
    r.final_ratio = (double)rear / front;

    r.fork_compression =
        m.fork_compression * damping_multiplier(s.fork_compression_adjustment.value);
    r.fork_rebound = m.fork_rebound * damping_multiplier(s.fork_rebound_adjustment.value);
    r.fork_spring_rate =
        lerp_setting(m.fork_spring_min, m.fork_spring_max, s.fork_spring_rate_adjustment.value);
    r.fork_preload =
        lerp_setting(m.fork_preload_min, m.fork_preload_max, s.fork_preload_adjustment.value);
    r.fork_oil_level = lerp_setting(m.fork_oil_level_min, m.fork_oil_level_max,
                                    s.fork_oil_level_adjustment.value);
    r.shock_compression =
        m.shock_compression * damping_multiplier(s.shock_compression_adjustment.value);
    r.shock_rebound = m.shock_rebound * damping_multiplier(s.shock_rebound_adjustment.value);
    r.shock_spring_rate = lerp_setting(m.shock_spring_min, m.shock_spring_max,
                                       s.shock_spring_rate_adjustment.value);
    r.shock_preload =
        lerp_setting(m.shock_preload_min, m.shock_preload_max, s.shock_preload_adjustment.value);
    r.rider_yspring = clampd(s.rider_yspring.value * 0.01, 0, 1);
    r.rider_ydamping = clampd(s.rider_ydamping.value * 0.01, 0, 1);
    r.rider_zspring = clampd(s.rider_zspring.value * 0.01, 0, 1);
    r.rider_zdamping = clampd(s.rider_zdamping.value * 0.01, 0, 1);

    r.rider_mass_distribution = clampd(s.rider_mass_distribution.value, 0.33, 0.5);
    apply_rider_mass_distribution(racer, r.rider_mass_distribution);
    return true;
}

bool apply_setup(Racer *racer, bool arcade_allowed)
{
    return apply_setup_at_speed(racer, racer_frame_speed(racer), arcade_allowed);
}

// ---------------------------------------------------------------------------
// Figures for the suspension menu

// Spring rates are stored for both fork legs together in lbf/ft; riders read
// kg/mm per leg. Lengths are stored in feet and shown in millimetres.
double fork_spring_kg_per_mm(const BikeModel *m, double fraction)
{
    return within(m->fork_spring_min, m->fork_spring_max, fraction) * 0.000744081972;
}

double fork_preload_mm(const BikeModel *m, double fraction)
{
    return within(m->fork_preload_min, m->fork_preload_max, fraction) * 304.8;
}

double fork_oil_level_mm(const BikeModel *m, double fraction)
{
    return within(m->fork_oil_level_min, m->fork_oil_level_max, fraction) * 304.8;
}

double shock_spring_kg_per_mm(const BikeModel *m, double fraction)
{
    return within(m->shock_spring_min, m->shock_spring_max, fraction) * 0.001488163945;
}

double shock_preload_mm(const BikeModel *m, double fraction)
{
    return within(m->shock_preload_min, m->shock_preload_max, fraction) * 304.8;
}

bool setup_physical_text(const BikeModel *model, const NumberSetting *setting, char *out,
                         size_t size)
{
    const BikeSetup &s = bike_setup();
    double f = clampd(setting->value * 0.01, 0, 1);
    if (setting == &s.fork_spring_rate_adjustment)
        snprintf(out, size, "%.3f kg/mm", fork_spring_kg_per_mm(model, f));
    else if (setting == &s.fork_preload_adjustment)
        snprintf(out, size, "%.2f mm", fork_preload_mm(model, f));
    else if (setting == &s.fork_oil_level_adjustment)
        snprintf(out, size, "%.2f mm", fork_oil_level_mm(model, f));
    else if (setting == &s.shock_spring_rate_adjustment)
        snprintf(out, size, "%.2f kg/mm", shock_spring_kg_per_mm(model, f));
    else if (setting == &s.shock_preload_adjustment)
        snprintf(out, size, "%.2f mm", shock_preload_mm(model, f));
    else if (setting == &s.front_sprocket_adjustment)
        snprintf(out, size, "%.2f teeth",
                 (double)adjusted_sprocket(model->front_sprocket, setting->value));
    else if (setting == &s.rear_sprocket_adjustment)
        snprintf(out, size, "%.2f teeth",
                 (double)adjusted_sprocket(model->rear_sprocket, setting->value));
    else
        return false;
    return true;
}

// ---------------------------------------------------------------------------
// Gear selection

void request_shift(Racer *racer, int request)
{
    if (racer->crash_countdown > 0 || request < -1 || request > 1 ||
        request == racer->last_shift_request)
        return;
    racer->last_shift_request = request;
    int gear = racer->gear + request;
    gear = gear < 0 ? 0 : gear >= GEAR_COUNT ? GEAR_COUNT - 1 : gear;
    while (gear > 0 && racer->model.gear_ratios[gear] <= 0)
        gear--;
    racer->gear = gear;
}

// ---------------------------------------------------------------------------
// Values of the rigid bodies. A racer without bodies (a bare record in a test)
// counts as standing still and keeps its masses.

double racer_frame_speed(const Racer *racer)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    if (!frame)
        return 0;
    const dReal *v = dBodyGetLinearVel(frame);
    return sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

double racer_forward_speed(const Racer *racer)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    if (!frame)
        return 0;
    const dReal *v = dBodyGetLinearVel(frame);
    dVector3 back;
    dBodyVectorToWorld(frame, 0, 0, 1, back);
    return -(back[0] * v[0] + back[1] * v[1] + back[2] * v[2]);
}

// The rider's mass is shared between the rider body and the frame: more on the
// rider body makes a livelier bike.
void apply_rider_mass_distribution(Racer *racer, double distribution)
{
    if (!racer->bodies[BODY_FRAME] || !racer->bodies[BODY_RIDER])
        return;
    dMass mass;
    frame_mass_model(&racer->model, distribution, &mass);
    dBodySetMass(racer->bodies[BODY_FRAME], &mass);
    rider_mass_model(&racer->model, distribution, &mass);
    dBodySetMass(racer->bodies[BODY_RIDER], &mass);
}
