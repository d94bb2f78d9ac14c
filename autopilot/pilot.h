// The auto pilot: computer riders that pick learnt lines segment by segment, keep a
// short path of line points ahead of the bike, and drive it with the same inputs a
// human gives (throttle, brakes, clutch, steering, dab), including the start at the
// gate and recovery when they lose the path.
#pragma once

#include <cstdint>

struct Racer;
struct RaceHooks;
struct LinePoint;
struct LineSlot;

// "brask", "dorran", "tolvo", "tester"; an unknown name gives personality 1.
void set_personality(Racer *racer, const char *name);
// One frame of driving for an auto pilot racer (before its simulation step).
void auto_pilot_step(Racer *racer);
// The same driving for any racer along the path given with pilot_give_path, with
// no planning of its own: how the line seeding rides a track's route like a rider.
void pilot_drive_given_path(Racer *racer);
// How far along its path the bike is (index of the first point ahead + fraction).
float path_position(const Racer *racer);
// The routes of every skill over the lines loaded (after load and prune).
void build_routes();
// Empties the racer's path and clears its driving state (new race, time trial).
void reset_pilot(Racer *racer);

// For line learning: the bike rides its path (within 4 ft of it, at its speed).
bool pilot_on_path(const Racer *racer);
// The racer has finished: its remaining path slows it down.
void pilot_slow_after_finish(Racer *racer);
// A point ahead on the track for the auto-align; false when there is none.
bool pilot_align_target(const Racer *racer, double out[3]);

// Puts the auto pilot and line learning into the race's hooks.
void install_auto_pilot(RaceHooks *hooks);

// ---------------------------------------------------------------------------
// The pieces of the above, over plain numbers where they can be.

// Skill (line cost type) a personality plans with when it leads the running order by
// lead_seconds (0 when it does not lead).
int pilot_skill(int personality, float lead_seconds);
// The racer's path and cursor (for tests and the HUD's debugging aids).
int pilot_path_length(const Racer *racer);
// Path point i (clamped into the path); null when the path is empty.
const LinePoint *pilot_path_point(const Racer *racer, int i);
int pilot_cursor(const Racer *racer);
// The recovery counter: 0 while the racer drives its path normally.
int pilot_recovery(const Racer *racer);
// Frame the racer was last put back on the course after being lost (0 = never).
int32_t pilot_marshal_frame(const Racer *racer);
// Replaces the racer's path (a debugging aid: a path to ride without lines); the
// cursor counts as advanced now, or at 30 s of frame clock if that is later.
void pilot_give_path(Racer *racer, const LinePoint *points, int n, int cursor);
// Frame-clock seconds at which the racer lets the clutch out; 0 before it is drawn.
float pilot_go_time(const Racer *racer);

// path_position over a path: pos is the bike, forward its unit forward axis.
float path_position_of(const LinePoint *points, int n, int cursor, const double pos[3],
                       const double forward[3]);

// Axes that follow the bike's motion: x to the right of it (horizontal, not
// normalised), y up, z against the motion. At rest: the world axes.
struct VelocityFrame {
    double x[3], y[3], z[3];
};
void velocity_frame(const double velocity[3], VelocityFrame *out);
// The radius (positive: towards +x of the frame) of the circle that leaves the bike
// along its motion towards target, with the aim pushed off the present lean circle of
// radius r (infinite: straight running).
double steer_radius(const double target[3], const double position[3], double r,
                    const VelocityFrame *f);
// The box around a bike: corner k = base + x_k X + z_k Z for (x0, z0), (x0, z1),
// (x1, z1), (x1, z0).
void path_box(const double base[3], const double x_axis[3], const double z_axis[3], double x0,
              double z0, double x1, double z1, double out[4][3]);
// Two boxes touch when a side of one crosses a side of the other or one holds the other.
bool boxes_touch(const double a[4][3], const double b[4][3]);

// What avoid_speed looks at: this bike and the one ahead of it.
struct AvoidInput {
    double race_time;       // s since the start frame (negative before it)
    double position[3];     // this bike's frame body
    double r;               // its lean radius (infinite: straight)
    VelocityFrame frame;
    double v, vt;           // its speed and target speed
    double other_position[3];
    double other_velocity[3];
};
// The target speed behind the other bike; *clear_ring is set when the racer brakes
// for it (the stretch then counts neither for nor against the line).
double avoid_speed_of(const AvoidInput *in, bool *clear_ring);

// Throttle, brakes and clutch that take the bike from speed v towards vt.
void speed_control(Racer *racer, double v, double vt);

// Expected time (frames) of a line for skill 0..3.
double line_cost(const LineSlot *line, int skill);
// Line j (of the next segment) starts where line i ends and heads.
bool line_continues(const LineSlot *i, const LineSlot *j);
// The route's line id for a skill 0..2 and a segment of the lap; 0 = none.
int32_t route_line(int skill, int segment);
