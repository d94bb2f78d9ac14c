// The Racer record: one bike with its rider on the track. It carries the control
// inputs that the main loop applies, its copy of the catalogue entry with the
// rider's setup block, the seven rigid bodies and six joints of bike and rider
// (racer_body.cpp, racer_joints.cpp), and the values others read. The drivetrain,
// contacts and assists add their own fields.
#pragma once

#include <cstdint>

#include <ode/ode.h>

#include "sim/catalogue.h"
#include "track/gates.h"

struct Shape;

// The bodies, in the order replay states and drawing rely on.
enum RacerBody {
    BODY_FRAME,
    BODY_FRONT_WHEEL,
    BODY_REAR_WHEEL,
    BODY_FORK_UPPER,        // steering body with the triple clamps
    BODY_FORK_LOWER,
    BODY_SWINGARM,
    BODY_RIDER,
    RACER_BODY_COUNT
};

enum RacerJoint {
    JOINT_FRONT_AXLE,       // hinge, fork lower - front wheel; its motor is the front brake
    JOINT_REAR_AXLE,        // hinge, swingarm - rear wheel; its motor is the rear brake
    JOINT_STEERING,         // hinge, fork upper - frame
    JOINT_FORK,             // slider, fork upper - fork lower
    JOINT_SWINGARM_PIVOT,   // hinge, swingarm - frame
    JOINT_RIDER_MOUNT,      // hinge-2, rider - frame; detached while crashed
    RACER_JOINT_COUNT
};

// The graphics models of a racer, each loaded with one of its four textures.
enum RacerModel {
    MODEL_FRAME,            // bike texture: the six bike parts
    MODEL_SIDE_PLATES,
    MODEL_FORK_UPPER,
    MODEL_FRONT_PLATE,
    MODEL_FORK_LOWER,
    MODEL_SWINGARM,
    MODEL_FRONT_WHEEL,      // wheel texture
    MODEL_REAR_WHEEL,
    MODEL_RIDER_PLATE,      // rider texture
    MODEL_RIDER_BODY,
    MODEL_RIDER_BODY_FP,
    MODEL_RIDER_HEAD,       // head texture
    RACER_MODEL_COUNT
};

struct RacerLegPoint {
    double position[3];
    double velocity[3];
};

// Bits of RacerSetup::flags.
enum {
    SETUP_STOP_WHEELIES_SHIFT = 1,      // bits 1-2: the stop_wheelies value 0, 3 or 2
    SETUP_CUT_TORQUE_IN_WHEELIE = 1 << 1,
    SETUP_RELEASE_FRONT_IN_STOPPIE = 1 << 2,
    SETUP_FRONT_ANTILOCK = 1 << 3,
    SETUP_REAR_ANTILOCK = 1 << 4,
    SETUP_AUTO_SHIFT = 1 << 5,
    SETUP_AUTO_DAB = 1 << 6,
    SETUP_AUTO_ALIGN = 1 << 7,
};
// Bits of RacerSetup::flags2.
enum { SETUP_ARCADE = 1 << 0 };

// The racer's own copy of the rider's setup, in the units the simulation uses.
struct RacerSetup {
    double roll_damping, leveling, roll_limit_factor;
    double roll_limit_angle;            // rad
    double steering_damping, steering_strength, max_steering_force, direct_steering;
    double slow_damping_speed, slow_damping_factor;
    double land_damping_falloff, land_damping_factor;
    double auto_clutch_rpms;
    double brake_torque, rear_brake_torque;     // ft·lbf
    double max_dab_speed;               // ft/s
    double full_lock_speed, restricted_lock_speed;
    double restricted_lock;             // rad
    double final_ratio;                 // rear teeth / front teeth
    double fork_compression, fork_rebound, fork_spring_rate, fork_preload, fork_oil_level;
    double shock_compression, shock_rebound, shock_spring_rate, shock_preload;
    double rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;     // 0..1
    double rider_mass_distribution;     // share of the rider's mass on the rider body
    uint8_t flags;                      // SETUP_* bits
    uint8_t flags2;                     // SETUP_ARCADE
};

struct Racer {
    // Control inputs, set once per tick by the local rider, the auto pilot or a replay.
    float throttle;         // 0..1
    float clutch;           // engagement 0..1
    float front_brake;      // 0..1
    float rear_brake;       // 0..1
    float steer;            // -1..1
    float dab;              // 0..1
    float back_up;          // 0..1
    float lean;             // -1..1
    int shift_request;      // -1, 0, +1
    double engine_speed;    // rad/s
    int gear;               // 0 = first
    int last_shift_request; // shifts act on a change of request only
    int crash_countdown;    // > 0 while crashed
    GateProgress gates;     // timing gates passed and their times

    BikeModel model;        // private copy of the catalogue entry
    RacerSetup setup;       // the rider's setup as applied to this bike
    char plate[8];          // race number, at most 7 characters
    const char *rider_texture;  // interned texture names, or null
    const char *head_texture;
    const char *bike_texture;
    const char *wheel_texture;
    int owner;              // whatever the creator wants to find the racer by
    int personality;        // auto pilot personality index, 0 = not an auto pilot
    char rider_name[64];    // shown on the HUD and in demos

    // Rigid-body model; the bodies and joints live as long as the racer.
    dBodyID bodies[RACER_BODY_COUNT];
    dJointID joints[RACER_JOINT_COUNT];
    dJointFeedback feedback[RACER_JOINT_COUNT];     // forces of the last world step
    Shape *shapes[RACER_BODY_COUNT];    // contact spheres per body, null when missing
    double total_mass;      // the seven bodies, summed at creation
    double activity;        // 1 simulated; fades for network peers; <= 0.25 asleep

    // Crash, contact and rider state kept by the step.
    int crash_count;
    float contact_timer;
    int incident;           // 0 none, 1 noticed, 2 counted
    bool finished;
    float dab_anim;         // 0..1
    double clutch_angle;    // wind-up of the clutch spring, rad
    double slide_amount;
    double landing_damping; // multiplier, 1 after a reset
    RacerLegPoint leg_points[2];
    double velocity_history[4][3];  // rider velocity, slot = tick mod 4

    // Graphics, behind the racer hooks: names always, handles when loaded.
    const char *model_names[RACER_MODEL_COUNT];     // interned, null when unused
    void *models[RACER_MODEL_COUNT];
    unsigned textures[4];   // bike, wheel, rider, head

    // Wheel contact records (front, rear), refilled by the contacts every tick.
    struct WheelContact {
        double point[3];        // deepest contact, world
        double velocity[3];     // of the wheel body at the point
        double normal[3];       // terrain to wheel, unit length
        double depth;           // > 0 touching; 0 no contact (read as airborne)
        dJointFeedback feedback;    // of the wheel's contact joint
        bool from_shape;        // the contact is with an object or rider, not the terrain
    } wheel_contacts[2];
    // Set by a contact (head-first fall, hitting an object) for the step's crash.
    bool crash_requested;
    // Rider-against-rider contacts: the tick of the last and first one.
    bool had_rider_contact;
    int rider_contact_frame;
    int first_rider_contact_frame;
    // First tick of the present unbroken run of ticks with a rider contact, and the
    // slot of a racer this one is tangled with (-1 none): the two pass through each
    // other until they are apart (race collisions).
    int touch_run_frame;
    int tangled_with = -1;
};

// Applies one tick of control inputs to a racer. Values outside their ranges are
// clamped; the shift request goes through the gearbox.
void apply_controls(Racer *racer, float steer, float front_brake, float rear_brake,
                    float throttle, float dab, float back_up, float lean, float clutch,
                    int shift);
