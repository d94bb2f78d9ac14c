// The bike catalogue: the 45 bike models compiled into the program, looked up by
// name, with the fallback for names the catalogue does not know. Also the read
// accessors other parts use on a racer (names, gear, engine speed, road speed).
#pragma once

struct Racer;

enum {
    BIKE_MODEL_COUNT = 45,
    TORQUE_POINTS = 50,         // one point every 500 rpm from 0 rpm
    GEAR_COUNT = 6,
};

constexpr double TORQUE_RPM_STEP = 500;
constexpr double RAD_PER_SEC_TO_RPM = 9.5492966;
constexpr double FEET_PER_SEC_TO_MPH = 0.68181818;

struct BikeVec3 {
    double x, y, z;
};

// One wheel: a torus of tyre around a hub sphere at the axle.
struct WheelRecord {
    BikeVec3 axle;
    double tyre_centre_radius;
    double tyre_section_radius;
    double tyre_mass;
    double hub_radius;
    double hub_mass;
};

// One catalogue entry. Lengths in feet, masses in slugs, torques in ft·lbf,
// spring rates in lbf/ft, angles in radians.
struct BikeModel {
    const char *name;               // display and config name, e.g. "crf450(2013)"
    const char *engine_class;       // "450f", "250f", "250", "125" or "50"
    const char *graphics_stem;      // models are "@<stem>_frame.vm" and so on
    const char *default_texture;    // "@<default_texture>.png" when the chosen one fails
    WheelRecord front_wheel, rear_wheel;
    BikeVec3 frame_position;
    double frame_mass;              // without rider
    BikeVec3 frame_box;             // sides of the box for the frame's inertia
    BikeVec3 steering_head;
    BikeVec3 swingarm_position;
    BikeVec3 swingarm_pivot;
    BikeVec3 fork_lower_position;
    double fork_width;
    double fork_length;
    double fork_mass;               // both legs together
    double fork_spring_min, fork_spring_max;        // both legs together
    double fork_preload_min, fork_preload_max;
    double fork_oil_level_min, fork_oil_level_max;  // air gap: min is the larger gap
    double fork_compression;        // damping at the neutral setting
    double fork_rebound;
    double fork_travel;
    double swingarm_mass;           // one of the two side boxes
    double shock_spring_min, shock_spring_max;
    double shock_preload_min, shock_preload_max;
    double shock_compression;
    double shock_rebound;
    double swingarm_travel;
    double linkage_a, linkage_b;
    double primary_ratio;
    int front_sprocket, rear_sprocket;
    double gear_ratios[GEAR_COUNT]; // -1 marks a gear the bike does not have
    double engine_inertia;          // slug·ft²
    double clutch_stiffness;
    double clutch_damping;
    double closed_throttle_torque[TORQUE_POINTS];
    double open_throttle_torque[TORQUE_POINTS];
    double downshift_rpm, upshift_rpm;
    BikeVec3 rider_position;
    double rider_mass;
    BikeVec3 rider_slide_axis;
    double rider_slide_low, rider_slide_high;
};

// The catalogue in its fixed order; index 0..BIKE_MODEL_COUNT-1, else null.
const BikeModel *bike_model(int index);
// Exact, case-sensitive match; null when the name is not in the catalogue.
const BikeModel *find_bike_model(const char *name);
// The entry to use for a requested name: the exact match, or else the first entry
// whose name contains "125" (when the request does) or "250f", or else the first
// entry; a fallback is reported to the player. Never null.
const BikeModel *choose_bike_model(const char *name);
// Position of an entry in the catalogue, or -1.
int bike_model_index(const BikeModel *model);

// The rpm at which the open-throttle curve reaches its zero (the rev limit), and
// the largest open-throttle torque with the rpm where it occurs.
double torque_rev_limit_rpm(const BikeModel *model);
double torque_peak(const BikeModel *model, double *peak_rpm);

// Read accessors on a racer.
const char *racer_model_name(const Racer *racer);
const char *racer_engine_class(const Racer *racer);
const char *racer_plate_text(const Racer *racer);
const char *racer_rider_texture(const Racer *racer);   // null when none was given
const char *racer_head_texture(const Racer *racer);
const char *racer_bike_texture(const Racer *racer);
const char *racer_wheel_texture(const Racer *racer);
int racer_gear(const Racer *racer);                     // 0 = first
double racer_engine_rpm(const Racer *racer);
// Forward speed from the frame body; 0 until the racer has rigid bodies.
double racer_speed_mph(const Racer *racer);
