// The collision shapes of the bike parts and the starting gate. Every bike part is
// laid out in the bike's design coordinates (x to the rider's right, y up, z
// towards the rear, the ground near y = 0) from the same geometry the simulation
// builds the bodies from, and then moved into the body's own coordinates by taking
// away the body's design position: the bodies start unrotated, so nothing else is
// needed. The wheels are rings along the tyre; the contact code treats them as
// tori, the rings give the same reach for the bounding radius and the fixed-file
// check.
#include "tools/shapegen.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, double k) { return {a.x * k, a.y * k, a.z * k}; }

// Contact behaviour of a part's surface: friction coefficient, spring (lbf/ft) and
// damper (lbf*s/ft). Against another shape the softer of the two applies.
struct Material {
    double friction, stiffness, damping;
};

// Metal and plastic sliding on dirt; stiff, since these parts do not give.
const Material BIKE_PART = {0.5, 10000, 1000};
// Protective gear on a body: grips the ground better and gives more.
const Material RIDER = {0.8, 3000, 300};
// The tyre tube, with the values the wheel's own contacts use.
const Material TYRE = {1.0, 25000, 2500};
// The steel gate: hard, and rough enough that a bike leaning on it does not skate.
const Material GATE = {0.6, 20000, 2000};

// The bike's design geometry (ft).
const Vec FRAME_POSITION = {0, 1.98, 3.6};
const Vec STEERING_HEAD = {0, 2.9, 2.16};
const Vec SWINGARM_POSITION = {0, 1.34, 4.99};
const Vec SWINGARM_PIVOT = {0, 1.58, 4.17};
const Vec FORK_LOWER_POSITION = {0, 1.77, 1.59};
const Vec FRONT_AXLE = {0, 1.09, 1.11};
const Vec REAR_AXLE = {0, 1.04, 6};
const Vec RIDER_POSITION = {0, 4.5, 4.12};
const double FORK_WIDTH = 0.8333;       // between the fork legs
const double FRAME_WIDTH = 0.8333;      // the swingarm arms sit at half of it
const double FRONT_TYRE_CENTRE_RADIUS = 0.8333;
const double REAR_TYRE_CENTRE_RADIUS = 0.75;
const double TYRE_SECTION_RADIUS = 0.3333;
const int TYRE_RING_SPHERES = 16;
const double PI = 3.14159265358979323846;

// Collects spheres given in design coordinates as offsets from a body's origin.
struct Builder {
    Vec origin;
    Material material;
    std::vector<ShapeSphere> spheres;

    void add(Vec design, double radius)
    {
        Vec local = design - origin;
        ShapeSphere s;
        s.centre[0] = (float)local.x;
        s.centre[1] = (float)local.y;
        s.centre[2] = (float)local.z;
        s.radius = (float)radius;
        s.friction = (float)material.friction;
        s.stiffness = (float)material.stiffness;
        s.damping = (float)material.damping;
        spheres.push_back(s);
    }
    // A sphere on each side, at x = +half and x = -half.
    void add_pair(Vec design, double half, double radius)
    {
        add({-half, design.y, design.z}, radius);
        add({half, design.y, design.z}, radius);
    }
    // count >= 2 spheres from a to b, both ends included.
    void add_line(Vec a, Vec b, int count, double radius)
    {
        for (int i = 0; i < count; i++)
            add(a + (b - a) * ((double)i / (count - 1)), radius);
    }
    void add_line_pair(Vec a, Vec b, double half, int count, double radius)
    {
        for (int i = 0; i < count; i++) {
            Vec p = a + (b - a) * ((double)i / (count - 1));
            add_pair(p, half, radius);
        }
    }
};

// Unit vector up the steering axis (from the lower fork towards the steering head).
Vec steering_axis()
{
    Vec d = STEERING_HEAD - FORK_LOWER_POSITION;
    double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return d * (1 / len);
}

// Frame: steering head, tank and seat, rear fender, down tube, engine, radiator
// shrouds and footpegs. The engine's skid plate is the lowest point, about a foot
// above the ground; the footpegs stick out to the sides and touch first in a lean.
std::vector<ShapeSphere> make_frame()
{
    Builder b{FRAME_POSITION, BIKE_PART, {}};
    b.add(STEERING_HEAD, 0.2);
    b.add_line({0, 2.85, 2.45}, {0, 2.95, 3.9}, 4, 0.25);       // tank and seat front
    b.add_line({0, 3.0, 4.3}, {0, 2.95, 5.6}, 3, 0.22);         // seat and subframe
    b.add({0, 2.7, 6.6}, 0.15);                                  // rear fender tip
    // The engine and the bottom of the down tube leave about 16 in of ground
    // clearance at rest (12 in with the rider's sag), as on a motocrosser, so only
    // a landing that bottoms the suspension out puts the skid plate on the ground.
    b.add_line({0, 2.6, 2.35}, {0, 1.55, 2.85}, 4, 0.18);       // down tube
    b.add({0, 1.75, 3.25}, 0.42);                                // crankcase
    b.add({0, 2.1, 3.2}, 0.4);                                   // cylinder
    b.add({0, 1.7, 3.75}, 0.34);                                 // gearbox
    b.add_pair({0, 2.55, 2.7}, 0.45, 0.2);                       // radiator shrouds
    b.add_pair({0, 1.6, 4.0}, 0.55, 0.1);                        // footpegs
    return b.spheres;
}

// Fork upper: the tops of the two fork tubes between the clamps, the handlebar
// and the front number plate.
std::vector<ShapeSphere> make_fork_upper()
{
    Builder b{STEERING_HEAD, BIKE_PART, {}};
    Vec up = steering_axis();
    for (double t : {0.25, 0.0, -0.35})
        b.add_pair(STEERING_HEAD + up * t, FORK_WIDTH / 2, 0.13);
    for (double x : {-1.15, -0.6, 0.0, 0.6, 1.15})
        b.add({x, 3.45, 2.35}, 0.12);                            // handlebar
    b.add({0, 2.95, 1.9}, 0.22);                                 // number plate
    return b.spheres;
}

// Fork lower: the two sliders, from the axle lugs up the steering axis.
std::vector<ShapeSphere> make_fork_lower()
{
    Builder b{FORK_LOWER_POSITION, BIKE_PART, {}};
    Vec up = steering_axis();
    b.add_pair(FRONT_AXLE, FORK_WIDTH / 2, 0.1);
    for (double t : {0.35, 0.7, 1.05})
        b.add_pair(FRONT_AXLE + up * t, FORK_WIDTH / 2, 0.12);
    return b.spheres;
}

// Swingarm: the two arms from the pivot to the rear axle, and the shock linkage
// that hangs below them behind the pivot.
std::vector<ShapeSphere> make_swingarm()
{
    Builder b{SWINGARM_POSITION, BIKE_PART, {}};
    b.add_line_pair(SWINGARM_PIVOT, REAR_AXLE, FRAME_WIDTH / 2, 5, 0.12);
    b.add({0, 1.2, 4.6}, 0.15);
    return b.spheres;
}

// Rider, standing on the pegs in the attack position: helmet, upper and lower
// torso, hips, and on each side shoulder, elbow, hand on the grip, knee against
// the tank and boot on the peg.
std::vector<ShapeSphere> make_rider()
{
    Builder b{RIDER_POSITION, RIDER, {}};
    b.add({0, 5.85, 3.55}, 0.45);       // helmet
    b.add({0, 5.2, 3.85}, 0.45);        // chest
    b.add({0, 4.6, 4.1}, 0.5);          // belly
    b.add({0, 4.0, 4.35}, 0.45);        // hips
    b.add_pair({0, 5.2, 3.75}, 0.6, 0.22);      // shoulders
    b.add_pair({0, 4.4, 3.2}, 0.95, 0.18);      // elbows
    b.add_pair({0, 3.45, 2.4}, 1.05, 0.15);     // hands on the grips
    b.add_pair({0, 3.2, 3.5}, 0.6, 0.22);       // knees
    b.add_pair({0, 1.85, 4.05}, 0.55, 0.2);     // boots on the pegs
    return b.spheres;
}

// A wheel: tube spheres around the axle in the wheel's y-z plane, starting at the
// top and going round by equal steps about the x axis.
std::vector<ShapeSphere> make_wheel(double centre_radius)
{
    Builder b{{0, 0, 0}, TYRE, {}};
    for (int i = 0; i < TYRE_RING_SPHERES; i++) {
        double a = 2 * PI * i / TYRE_RING_SPHERES;
        b.add({0, centre_radius * std::cos(a), -centre_radius * std::sin(a)},
              TYRE_SECTION_RADIUS);
    }
    return b.spheres;
}

// The starting gate in front of one grid slot. Its object turns about its own x
// axis through its origin: by 33.75 degrees while the gate is up, back to its rest
// orientation when it has dropped. The origin (the hinge) sits GATE_HINGE_DEPTH
// under the ground, so the bars swing on a long arm: up, they stand across the slot
// just in front of the waiting front tyre, a wall a foot high that the tyre cannot
// climb; down, they lie in the ground deeper than a tyre ever sinks, having swung
// forwards, away from the bikes. The bikes wait on its +z side, the tyre's front
// 0.03 ft past the hinge at hub height.
const double GATE_UP_ANGLE = 0.5890486225480862;

std::vector<ShapeSphere> make_startgate()
{
    // Up: each bar's height above the ground and its place towards the bikes,
    // following the tyre's curve with about 0.15 ft of room, so that a bike
    // settling on its suspension at the gate does not lean on it (a touched gate
    // stays up).
    static const double bars[3][2] = {{0.32, 0.0}, {0.6, -0.17}, {0.85, -0.28}};
    double c = cos(GATE_UP_ANGLE), s = sin(GATE_UP_ANGLE);
    Builder b{{0, 0, 0}, GATE, {}};
    for (const auto &bar : bars) {
        double y = GATE_HINGE_DEPTH + bar[0], z = bar[1];
        // The rest position that the up turn carries there (the turn takes local
        // (y, z) to (c y - s z, s y + c z)); at rest the bars lie ahead of the
        // hinge, so they fall away from the waiting bikes.
        double ry = c * y + s * z, rz = -s * y + c * z;
        b.add_line({-1.5, ry, rz}, {1.5, ry, rz}, 9, 0.15);
    }
    return b.spheres;
}

// Fixed-point text for a float, without a minus sign on a value that rounds to 0.
void append_number(std::string *out, double v, int decimals)
{
    char text[64];
    snprintf(text, sizeof text, "%.*f", decimals, v);
    bool zero = true;
    for (const char *p = text; *p; p++)
        zero = zero && (*p == '-' || *p == '0' || *p == '.');
    *out += zero ? (decimals ? "0." + std::string(decimals, '0') : std::string("0")) : text;
}

} // namespace

std::vector<GenShape> shapegen_make_all()
{
    return {
        {"generic_frame.shp", make_frame()},
        {"generic_fork_upper.shp", make_fork_upper()},
        {"generic_fork_lower.shp", make_fork_lower()},
        {"generic_swingarm.shp", make_swingarm()},
        {"generic_rider.shp", make_rider()},
        {"front_wheel.shp", make_wheel(FRONT_TYRE_CENTRE_RADIUS)},
        {"rear_wheel.shp", make_wheel(REAR_TYRE_CENTRE_RADIUS)},
        {"startgate.shp", make_startgate()},
    };
}

std::string shapegen_format(const std::vector<ShapeSphere> &spheres)
{
    std::string out = std::to_string(spheres.size()) + "\n";
    for (const ShapeSphere &s : spheres) {
        for (int k = 0; k < 3; k++) {
            append_number(&out, s.centre[k], 4);
            out += k < 2 ? " " : "\n";
        }
        append_number(&out, s.radius, 4);
        out += " ";
        append_number(&out, s.friction, 3);
        out += " ";
        append_number(&out, s.stiffness, 1);
        out += " ";
        append_number(&out, s.damping, 1);
        out += "\n";
    }
    return out;
}

bool shapegen_write_all(const char *out_dir)
{
    for (const GenShape &shape : shapegen_make_all()) {
        std::string path = std::string(out_dir) + "/" + shape.file_name;
        std::string text = shapegen_format(shape.spheres);
        FILE *f = fopen(path.c_str(), "wb");
        bool ok = f && fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f)
            ok = fclose(f) == 0 && ok;
        if (!ok) {
            fprintf(stderr, "shapegen: can't write '%.900s'\n", path.c_str());
            return false;
        }
    }
    return true;
}
