// The bike catalogue: builds the 45 BikeModels once from the per-entry rows, the
// values every entry shares and the values of each class; finds entries by name
// and picks a stand-in for names it does not know. Also the read accessors on a
// racer that the HUD, sound and network code use.
#include "sim/catalogue.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/common.h"
#include "sim/catalogue_local.h"
#include "sim/racer.h"
#include "sim/setup.h"

// Values shared by every entry of one class.
struct ClassValues {
    const char *engine_class;
    double frame_mass;
    double fork_mass;
    double fork_spring_min, fork_spring_max;
    double fork_rebound;
    double swingarm_mass;
    double shock_spring_min, shock_spring_max;
    double shock_rebound;
    double engine_inertia;
    double clutch_stiffness, clutch_damping;
    double downshift_rpm, upshift_rpm;
    double rider_mass;
};

static const ClassValues class_values[] = {
    {"450f", 4.735, 0.703125, 376.303, 913.878, 32, 0.5025, 2486.29, 5174.16, 650, 0.0088501,
     7500, 0.75, 6000, 10500, 5.46875},
    {"250", 4.365625, 0.75375, 322.545, 860.12, 30, 0.589375, 2083.1, 4770.98, 600, 0.0068359,
     7500, 0.75, 6000, 9000, 5.46875},
    {"250f", 4.24, 0.703125, 335.984, 873.56, 30, 0.504375, 2217.5, 4905.37, 600, 0.0048828,
     7500, 0.75, 8000, 12500, 4.6875},
    {"125", 3.65375, 0.739688, 322.545, 860.12, 30, 0.541875, 1814.32, 4502.19, 600, 0.0048828,
     7500, 0.75, 9400, 12000, 4.6875},
    {"50", 3.34125, 0.739688, 309.106, 846.681, 30, 0.541875, 1814.32, 4502.19, 600, 0.0011936,
     1200, 1, 9400, 12000, 4.6875},
};

// The two 350s carry a 450's chassis around a lighter crank.
static const double INERTIA_350 = 0.0068359;

static const ClassValues *find_class(const char *engine_class)
{
    for (const ClassValues &c : class_values)
        if (strcmp(c.engine_class, engine_class) == 0)
            return &c;
    return &class_values[0];
}

static bool is_two_stroke(const char *engine_class)
{
    return strcmp(engine_class, "250") == 0 || strcmp(engine_class, "125") == 0;
}

// Engine braking at closed throttle, in three shapes: four-strokes lose 1 ft·lbf
// every second point; two-strokes brake lightly through the mid-range and then
// harder; the 50 cc engine brakes half as hard as a two-stroke.
static double closed_throttle_point(const char *engine_class, int i)
{
    static const double two_stroke_head[] = {
        2, 2, 1, 0, -1, -1.2, -1.4, -1.6, -1.8, -2, -2.25, -2.5, -2.75, -3, -3.33, -3.67, -4,
        -5, -6, -7, -8, -9, -10, -10,
    };
    const int head = (int)(sizeof two_stroke_head / sizeof two_stroke_head[0]);
    if (i < 4)
        return two_stroke_head[i];
    if (!is_two_stroke(engine_class) && strcmp(engine_class, "50") != 0)
        return -(double)((i - 4) / 2 + 1);
    double v = i < head ? two_stroke_head[i] : -(double)(11 + (i - head) / 2);
    return strcmp(engine_class, "50") == 0 ? v * 0.5 : v;
}

// A designed open-throttle curve. Below 2000 rpm the engine gives a flat 5 ft·lbf.
// From there it rises to the peak P at rpm rp along f(u), u = (rpm - 2000)/(rp - 2000):
// sin(u·π/2) for four-strokes (a broad, early rise), u^3 for the 250 two-strokes
// (little until the pipe comes on, then a sharp hit) and u^1.2 for the 125s. Past
// the peak it falls as a parabola to e·P one point before the rev limit (e = 0.5
// for 450s and 350s, 0.65 for 250 four-strokes, 0.3 for 250 two-strokes, 0.2 for
// 125s), is 0 at the rev limit, and beyond it brakes the engine, falling linearly
// from -t0 on the next point to -t1 on the last (10 to 34 for 450s and 350s, 13.5
// to 23.5 for 250 four-strokes, 1 to 11 for two-strokes). Values are rounded to
// hundredths so the table reads like a measured one.
static void design_open_throttle(const CatalogueRow &row, double *out)
{
    const char *cls = row.engine_class;
    bool big_four = strcmp(cls, "450f") == 0 || strncmp(row.name, "350", 3) == 0;
    double fall = big_four ? 0.5 : strcmp(cls, "250f") == 0 ? 0.65
                  : strcmp(cls, "250") == 0 ? 0.3 : 0.2;
    double t0 = big_four ? 10 : strcmp(cls, "250f") == 0 ? 13.5 : 1;
    double t1 = big_four ? 34 : strcmp(cls, "250f") == 0 ? 23.5 : 11;
    int limit = (int)lround(row.rev_limit_rpm / TORQUE_RPM_STEP);
    double peak = row.peak_torque, rp = row.peak_rpm;

    for (int i = 0; i < TORQUE_POINTS; i++) {
        double rpm = i * TORQUE_RPM_STEP, v;
        if (i == limit) {
            v = 0;
        } else if (i > limit) {
            int span = TORQUE_POINTS - 2 - limit;
            v = -(span > 0 ? t0 + (t1 - t0) * (i - limit - 1) / span : t0);
        } else if (rpm <= 2000) {
            v = 5;
        } else if (rpm <= rp) {
            double u = (rpm - 2000) / (rp - 2000), f;
            if (strcmp(cls, "250") == 0)
                f = u * u * u;
            else if (strcmp(cls, "125") == 0)
                f = pow(u, 1.2);
            else
                f = sin(u * M_PI / 2);
            v = 5 + (peak - 5) * f;
        } else {
            double last = (limit - 1) * TORQUE_RPM_STEP;
            double w = last > rp ? (rpm - rp) / (last - rp) : 1;
            v = peak - (peak - fall * peak) * w * w;
        }
        out[i] = round(v * 100) / 100;
    }
}

static void build_model(const CatalogueRow &row, BikeModel *m)
{
    memset(m, 0, sizeof *m);
    m->name = row.name;
    m->engine_class = row.engine_class;
    m->graphics_stem = row.graphics_stem;
    m->default_texture = row.default_texture;

    // Geometry is the same for every entry.
    m->front_wheel = {{0, 1.09, 1.11}, 0.8333, 0.3333, 0.40625, 0.5, 0.15625};
    m->rear_wheel = {{0, 1.04, 6}, 0.75, 0.3333, 0.46875, 0.5, 0.3125};
    m->frame_position = {0, 1.98, 3.6};
    m->frame_box = {0.8333, 1.6667, 1.6667};
    m->steering_head = {0, 2.9, 2.16};
    m->swingarm_position = {0, 1.34, 4.99};
    m->swingarm_pivot = {0, 1.58, 4.17};
    m->fork_lower_position = {0, 1.77, 1.59};
    m->fork_width = 0.8333;
    m->fork_length = 3;
    m->fork_preload_min = 0;
    m->fork_preload_max = 0.08333;
    m->fork_oil_level_min = 0.41667;
    m->fork_oil_level_max = 0.25;
    m->fork_compression = 60;
    m->fork_travel = 1;
    m->shock_preload_min = 0;
    m->shock_preload_max = 0.0275;
    m->shock_compression = 800;
    m->swingarm_travel = 0.55;
    m->linkage_a = 0.615385;
    m->linkage_b = 0.615385;
    m->rider_position = {0, 4.5, 4.12};
    m->rider_slide_axis = {0, 0.083333, 0.083333};
    m->rider_slide_low = -0.666667;
    m->rider_slide_high = 0.5;

    // Class values; the 350s take the 450 column whatever class they sound like.
    bool is_350 = strncmp(row.name, "350sxf", 6) == 0;
    const ClassValues *c = find_class(is_350 ? "450f" : row.engine_class);
    m->frame_mass = c->frame_mass;
    m->fork_mass = c->fork_mass;
    m->fork_spring_min = c->fork_spring_min;
    m->fork_spring_max = c->fork_spring_max;
    m->fork_rebound = c->fork_rebound;
    m->swingarm_mass = c->swingarm_mass;
    m->shock_spring_min = c->shock_spring_min;
    m->shock_spring_max = c->shock_spring_max;
    m->shock_rebound = c->shock_rebound;
    m->engine_inertia = is_350 ? INERTIA_350 : c->engine_inertia;
    m->clutch_stiffness = c->clutch_stiffness;
    m->clutch_damping = c->clutch_damping;
    m->downshift_rpm = c->downshift_rpm;
    m->upshift_rpm = c->upshift_rpm;
    m->rider_mass = c->rider_mass;

    m->primary_ratio = row.primary_ratio;
    m->front_sprocket = row.front_sprocket;
    m->rear_sprocket = row.rear_sprocket;
    for (int g = 0; g < GEAR_COUNT; g++)
        m->gear_ratios[g] = row.gear_ratios[g] > 0 ? row.gear_ratios[g] : -1;

    for (int i = 0; i < TORQUE_POINTS; i++)
        m->closed_throttle_torque[i] = closed_throttle_point(row.engine_class, i);
    if (row.open_table)
        memcpy(m->open_throttle_torque, row.open_table, sizeof m->open_throttle_torque);
    else
        design_open_throttle(row, m->open_throttle_torque);
}

struct Catalogue {
    BikeModel models[BIKE_MODEL_COUNT];
};

static Catalogue build_catalogue()
{
    Catalogue c;
    const CatalogueRow *rows = catalogue_rows();
    for (int i = 0; i < BIKE_MODEL_COUNT; i++)
        build_model(rows[i], &c.models[i]);
    return c;
}

// Built on first use and never changed afterwards.
static const Catalogue &catalogue()
{
    static const Catalogue table = build_catalogue();
    return table;
}

const BikeModel *bike_model(int index)
{
    if (index < 0 || index >= BIKE_MODEL_COUNT)
        return nullptr;
    return &catalogue().models[index];
}

int bike_model_index(const BikeModel *model)
{
    const BikeModel *first = catalogue().models;
    if (model < first || model >= first + BIKE_MODEL_COUNT)
        return -1;
    return (int)(model - first);
}

const BikeModel *find_bike_model(const char *name)
{
    if (!name)
        return nullptr;
    for (const BikeModel &m : catalogue().models)
        if (strcmp(m.name, name) == 0)
            return &m;
    return nullptr;
}

const BikeModel *choose_bike_model(const char *name)
{
    const BikeModel *found = find_bike_model(name);
    if (found)
        return found;
    if (!name)
        name = "";
    const char *pattern = strstr(name, "125") ? "125" : "250f";
    const BikeModel *chosen = bike_model(0);
    for (const BikeModel &m : catalogue().models) {
        if (strstr(m.name, pattern)) {
            chosen = &m;
            break;
        }
    }
    char text[96];
    snprintf(text, sizeof text, "bike info for '%.20s' not found using '%.20s' instead", name,
             chosen->name);
    game_message(text);
    return chosen;
}

double torque_rev_limit_rpm(const BikeModel *model)
{
    // The first zero after the curve has risen; the low points are never zero.
    for (int i = 1; i < TORQUE_POINTS; i++)
        if (model->open_throttle_torque[i] <= 0)
            return i * TORQUE_RPM_STEP;
    return (double)TORQUE_POINTS * TORQUE_RPM_STEP;
}

double torque_peak(const BikeModel *model, double *peak_rpm)
{
    int best = 0;
    for (int i = 1; i < TORQUE_POINTS; i++)
        if (model->open_throttle_torque[i] > model->open_throttle_torque[best])
            best = i;
    if (peak_rpm)
        *peak_rpm = best * TORQUE_RPM_STEP;
    return model->open_throttle_torque[best];
}

// ---------------------------------------------------------------------------
// Read accessors

const char *racer_model_name(const Racer *racer)
{
    return racer->model.name ? racer->model.name : "";
}

const char *racer_engine_class(const Racer *racer)
{
    return racer->model.engine_class ? racer->model.engine_class : "";
}

const char *racer_plate_text(const Racer *racer)
{
    return racer->plate;
}

const char *racer_rider_texture(const Racer *racer)
{
    return racer->rider_texture;
}

const char *racer_head_texture(const Racer *racer)
{
    return racer->head_texture;
}

const char *racer_bike_texture(const Racer *racer)
{
    return racer->bike_texture;
}

const char *racer_wheel_texture(const Racer *racer)
{
    return racer->wheel_texture;
}

int racer_gear(const Racer *racer)
{
    return racer->gear;
}

double racer_engine_rpm(const Racer *racer)
{
    return racer->engine_speed * RAD_PER_SEC_TO_RPM;
}

double racer_speed_mph(const Racer *racer)
{
    return racer_forward_speed(racer) * FEET_PER_SEC_TO_MPH;
}
