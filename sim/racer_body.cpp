// Racer creation and destruction: the seven bodies with their mass models, the
// part shapes for contacts, and the graphics models and textures, which are only
// named here and loaded through the racer hooks when a renderer has set them.
// Also the activity states of a racer and the speeds read from its frame.
#include "sim/racer_body.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/common.h"
#include "platform/vrak.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/shape.h"

static struct {
    RacerHooks hooks;
} rb;

void racer_set_hooks(const RacerHooks *hooks)
{
    rb.hooks = hooks ? *hooks : RacerHooks{};
}

// ---------------------------------------------------------------------------
// Mass models

void wheel_mass_model(const WheelRecord *wheel, dMass *out)
{
    dMassSetSphereTotal(out, wheel->hub_mass, wheel->hub_radius);
    // The tyre as a ring of 16 balls around the axle in the wheel's y-z plane.
    for (int k = 0; k < 16; k++) {
        double angle = k * M_PI / 8;
        dMass ball;
        dMassSetSphereTotal(&ball, wheel->tyre_mass / 16, wheel->tyre_section_radius);
        dMassTranslate(&ball, 0, wheel->tyre_centre_radius * cos(angle),
                       wheel->tyre_centre_radius * sin(angle));
        dMassAdd(out, &ball);
    }
    // The ring is symmetric; this only removes rounding so the body sits on its
    // centre of mass as ODE expects.
    dMassTranslate(out, -out->c[0], -out->c[1], -out->c[2]);
}

double fork_rake(const BikeModel *model)
{
    double dy = model->fork_lower_position.y - model->steering_head.y;
    double dz = model->fork_lower_position.z - model->steering_head.z;
    return atan(dz / dy);
}

void fork_mass_model(const BikeModel *model, dMass *out)
{
    double radius = model->fork_width / 8;
    double length = model->fork_length * 2 / 3;
    dMassSetZero(out);
    for (int side = -1; side <= 1; side += 2) {
        dMass leg;
        dMassSetCylinderTotal(&leg, model->fork_mass / 2, 2, radius, length);
        dMassTranslate(&leg, side * model->fork_width / 2, 0, 0);
        dMassAdd(out, &leg);
    }
    // Lean the legs back along the steering axis.
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, fork_rake(model));
    dMassRotate(out, r);
}

void swingarm_mass_model(const BikeModel *model, dMass *out)
{
    const BikeVec3 &axle = model->rear_wheel.axle;
    const BikeVec3 &pivot = model->swingarm_pivot;
    double dy = axle.y - pivot.y, dz = axle.z - pivot.z;
    double dx = axle.x - pivot.x;
    double length = sqrt(dx * dx + dy * dy + dz * dz);
    double side_width = model->frame_box.x / 4;
    dMassSetZero(out);
    for (int side = -1; side <= 1; side += 2) {
        dMass arm;
        dMassSetBoxTotal(&arm, model->swingarm_mass, side_width, side_width, length);
        dMassTranslate(&arm, side * model->frame_box.x / 2, 0, 0);
        dMassAdd(out, &arm);
    }
    // Point the arms from the pivot down to the rear axle.
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, -atan(dy / dz));
    dMassRotate(out, r);
}

void frame_mass_model(const BikeModel *model, double distribution, dMass *out)
{
    dMassSetBoxTotal(out, model->frame_mass + (1 - distribution) * model->rider_mass,
                     model->frame_box.x, model->frame_box.y, model->frame_box.z);
}

void rider_mass_model(const BikeModel *model, double distribution, dMass *out)
{
    dMassSetSphereTotal(out, distribution * model->rider_mass, 1);
}

double total_mass(const Racer *racer)
{
    return racer->total_mass;
}

// ---------------------------------------------------------------------------
// Graphics

enum { TEXTURE_BIKE, TEXTURE_WHEEL, TEXTURE_RIDER, TEXTURE_HEAD };

static const char *const bike_part_suffix[6] = {
    "_frame", "_side_plates", "_fork_upper", "_front_plate", "_fork_lower", "_swingarm",
};

// Which texture goes with each model, and the models whose absence is normal.
static const int model_texture[RACER_MODEL_COUNT] = {
    TEXTURE_BIKE,  TEXTURE_BIKE,  TEXTURE_BIKE,  TEXTURE_BIKE,  TEXTURE_BIKE,  TEXTURE_BIKE,
    TEXTURE_WHEEL, TEXTURE_WHEEL, TEXTURE_RIDER, TEXTURE_RIDER, TEXTURE_RIDER, TEXTURE_HEAD,
};
static bool model_optional(int index)
{
    return index == MODEL_RIDER_PLATE || index == MODEL_RIDER_BODY_FP;
}

static void name_models(Racer *racer)
{
    char name[256];
    for (int i = 0; i < 6; i++) {
        snprintf(name, sizeof name, "@%.200s%s.vm", racer->model.graphics_stem,
                 bike_part_suffix[i]);
        racer->model_names[i] = intern_string(name);
    }
    racer->model_names[MODEL_FRONT_WHEEL] = intern_string("@front_wheel.vm");
    racer->model_names[MODEL_REAR_WHEEL] = intern_string("@rear_wheel.vm");
    racer->model_names[MODEL_RIDER_PLATE] = intern_string("@rider_plate.vm");
    racer->model_names[MODEL_RIDER_BODY] = intern_string("@rider_body.vm");
    racer->model_names[MODEL_RIDER_BODY_FP] = intern_string("@rider_body_fp.vm");
    racer->model_names[MODEL_RIDER_HEAD] = intern_string("@rider_head.vm");
}

static const char **texture_name_slot(Racer *racer, int texture)
{
    switch (texture) {
    case TEXTURE_BIKE:
        return &racer->bike_texture;
    case TEXTURE_WHEEL:
        return &racer->wheel_texture;
    case TEXTURE_RIDER:
        return &racer->rider_texture;
    default:
        return &racer->head_texture;
    }
}

// A texture named like "crf450-red-x.png" asks for models of its colour variant:
// the text from the first '-' up to the second goes before the model's extension.
// False when the texture names no variant.
static bool variant_model_name(const char *model, const char *texture, char *out, size_t size)
{
    if (!texture)
        return false;
    const char *base = strrchr(texture, '/');
    base = base ? base + 1 : texture;
    const char *first = strchr(base, '-');
    const char *second = first ? strchr(first + 1, '-') : nullptr;
    const char *dot = strrchr(model, '.');
    if (!second || !dot)
        return false;
    snprintf(out, size, "%.*s%.*s%s", (int)(dot - model), model, (int)(second - first), first, dot);
    return true;
}

static void *load_one_model(int index, const char *model, const char *texture_name,
                            unsigned texture)
{
    char variant[512];
    if (!variant_model_name(model, texture_name, variant, sizeof variant)) {
        void *loaded = rb.hooks.load_model(model, texture);
        if (!loaded && !model_optional(index))
            vrak_log("Warning: Can't load %.900s\n", model);
        return loaded;
    }
    void *loaded = rb.hooks.load_model(variant, texture);
    // Then beside the texture, for skins kept in a folder of their own.
    char beside[1024];
    const char *slash = strrchr(texture_name, '/');
    const char *stem = variant[0] == '@' ? variant + 1 : variant;
    snprintf(beside, sizeof beside, "%.*s%s", slash ? (int)(slash - texture_name + 1) : 0,
             texture_name, stem);
    if (!loaded)
        loaded = rb.hooks.load_model(beside, texture);
    if (!loaded && !model_optional(index))
        vrak_log("Warning: Can't load %.450s or %.450s\n", variant, beside);
    return loaded;
}

// Loads the models of one texture; true when the texture and the group's main
// model loaded.
static bool load_model_group(Racer *racer, int texture, int main_model)
{
    const char *name = *texture_name_slot(racer, texture);
    unsigned handle = name && rb.hooks.load_texture ? rb.hooks.load_texture(name) : 0;
    racer->textures[texture] = handle;
    for (int i = 0; i < RACER_MODEL_COUNT; i++) {
        if (model_texture[i] != texture)
            continue;
        if (racer->models[i] && rb.hooks.free_model)
            rb.hooks.free_model(racer->models[i]);
        racer->models[i] = load_one_model(i, racer->model_names[i], name, handle);
    }
    return handle != 0 && racer->models[main_model] != nullptr;
}

static void load_graphics(Racer *racer)
{
    if (!rb.hooks.load_model)
        return;
    char fallback[256];
    snprintf(fallback, sizeof fallback, "@%.200s.png", racer->model.default_texture);
    struct Group {
        int texture, main_model;
        const char *fallback;
    };
    const Group groups[4] = {
        {TEXTURE_BIKE, MODEL_FRAME, fallback},
        {TEXTURE_WHEEL, MODEL_FRONT_WHEEL, "@wheels.png"},
        {TEXTURE_RIDER, MODEL_RIDER_BODY, "@rider_body.png"},
        {TEXTURE_HEAD, MODEL_RIDER_HEAD, "@rider_head.png"},
    };
    for (const Group &g : groups) {
        if (load_model_group(racer, g.texture, g.main_model))
            continue;
        *texture_name_slot(racer, g.texture) = intern_string(g.fallback);
        load_model_group(racer, g.texture, g.main_model);
    }
}

// ---------------------------------------------------------------------------
// Creation and destruction

// Contact shapes in body order.
static const char *const shape_names[RACER_BODY_COUNT] = {
    "@generic_frame.shp",      "@front_wheel.shp",        "@rear_wheel.shp",
    "@generic_fork_upper.shp", "@generic_fork_lower.shp", "@generic_swingarm.shp",
    "@generic_rider.shp",
};

static const char *optional_name(const char *name)
{
    return name && name[0] ? intern_string(name) : nullptr;
}

Racer *create_racer(const char *bike, int owner, const char *plate, const char *rider_texture,
                    const char *head_texture, const char *bike_texture, const char *wheel_texture)
{
    dWorldID world = physics_world();
    if (!world)
        return nullptr;
    Racer *racer = new Racer{};
    racer->model = *choose_bike_model(bike);
    racer->owner = owner;
    snprintf(racer->plate, sizeof racer->plate, "%.7s", plate ? plate : "");
    racer->rider_texture = optional_name(rider_texture);
    racer->head_texture = optional_name(head_texture);
    racer->bike_texture = optional_name(bike_texture);
    racer->wheel_texture = optional_name(wheel_texture);
    set_default_racer_setup(racer);

    const BikeModel &m = racer->model;
    double d = racer->setup.rider_mass_distribution;
    dMass mass[RACER_BODY_COUNT];
    frame_mass_model(&m, d, &mass[BODY_FRAME]);
    wheel_mass_model(&m.front_wheel, &mass[BODY_FRONT_WHEEL]);
    wheel_mass_model(&m.rear_wheel, &mass[BODY_REAR_WHEEL]);
    fork_mass_model(&m, &mass[BODY_FORK_UPPER]);
    mass[BODY_FORK_LOWER] = mass[BODY_FORK_UPPER];
    swingarm_mass_model(&m, &mass[BODY_SWINGARM]);
    rider_mass_model(&m, d, &mass[BODY_RIDER]);
    racer->total_mass = 0;
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        racer->bodies[i] = dBodyCreate(world);
        dBodySetData(racer->bodies[i], racer);
        dBodySetMass(racer->bodies[i], &mass[i]);
        racer->total_mass += mass[i].mass;
    }
    // Wheels spin fast enough for the infinitesimal rotation update to drift.
    dBodySetFiniteRotationMode(racer->bodies[BODY_FRONT_WHEEL], 1);
    dBodySetFiniteRotationMode(racer->bodies[BODY_REAR_WHEEL], 1);

    // Joints hold the bodies as they stand, so they are made at the design pose.
    reset_racer_physics(racer);
    create_racer_joints(racer);
    reset_racer_physics(racer);

    for (int i = 0; i < RACER_BODY_COUNT; i++)
        racer->shapes[i] = load_shape(shape_names[i]);
    name_models(racer);
    load_graphics(racer);
    return racer;
}

void destroy_racer(Racer *racer)
{
    if (!racer)
        return;
    for (dJointID &j : racer->joints) {
        if (j)
            dJointDestroy(j);
        j = nullptr;
    }
    for (dBodyID &b : racer->bodies) {
        if (b)
            dBodyDestroy(b);
        b = nullptr;
    }
    for (Shape *&s : racer->shapes) {
        free_shape(s);
        s = nullptr;
    }
    for (void *&model : racer->models) {
        if (model && rb.hooks.free_model)
            rb.hooks.free_model(model);
        model = nullptr;
    }
    delete racer;
}

// ---------------------------------------------------------------------------
// Activity

static void set_bodies_enabled(Racer *racer, bool enabled)
{
    for (dBodyID b : racer->bodies) {
        if (enabled)
            dBodyEnable(b);
        else
            dBodyDisable(b);
    }
}

// A racer that was asleep must not wake up with forces left from before.
static void clear_forces_if_asleep(Racer *racer)
{
    if (racer->activity > 0.25)
        return;
    for (dBodyID b : racer->bodies) {
        dBodySetForce(b, 0, 0, 0);
        dBodySetTorque(b, 0, 0, 0);
    }
}

void wake_racer(Racer *racer)
{
    clear_forces_if_asleep(racer);
    racer->activity = 1;
    set_bodies_enabled(racer, true);
}

void sleep_racer(Racer *racer)
{
    clear_forces_if_asleep(racer);
    racer->activity = 0;
    set_bodies_enabled(racer, false);
}

void fade_racer(Racer *racer)
{
    if (racer->activity <= 0)
        return;
    racer->activity -= PHYSICS_TICK;
    if (racer->activity < 0)
        racer->activity = 0;
    set_bodies_enabled(racer, racer->activity > 0.25);
}

void nudge_racer(Racer *racer)
{
    if (racer->activity <= 0) {
        racer->activity = 1;
        set_bodies_enabled(racer, true);
    } else if (racer->activity <= 0.25) {
        racer->activity = 0.25;
        set_bodies_enabled(racer, false);
    }
}

bool is_racer_active(const Racer *racer)
{
    return racer->activity > 0.25;
}
