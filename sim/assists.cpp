// Steering and balance assists. The normal controller sums a roll damper, a
// leveling spring and the rider's direct steering torque, or (with less direct
// steering) a loop that asks for a roll rate towards the lean the steer input wants;
// the lock narrows with speed and the torque that would make a sliding front tyre
// slide further is cut near the ground. The arcade controller instead holds the
// roll with a motor and points the front wheel along its own path.
#include "sim/assists.h"

#include <cmath>

#include "sim/catalogue.h"
#include "sim/racer_joints.h"
#include "sim/world.h"
#include "track/terrain.h"

static double clampd(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static double sign_of(double v)
{
    return v < 0 ? -1 : 1;
}

// Removes a dead band of width w around 0.
static double dead_band(double v, double w)
{
    return v > w ? v - w : v < -w ? v + w : 0;
}

// The steering axis, from the fork lower up to the steering head, in frame
// coordinates, normalised.
static void steering_axis_local(const BikeModel *m, double out[3])
{
    double d[3] = {m->steering_head.x - m->fork_lower_position.x,
                   m->steering_head.y - m->fork_lower_position.y,
                   m->steering_head.z - m->fork_lower_position.z};
    double len = sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (len <= 0)
        len = 1;
    for (int i = 0; i < 3; i++)
        out[i] = d[i] / len;
}

double roll_angle(dBodyID body)
{
    const dReal *r = dBodyGetRotation(body);
    double fx = -r[2], fz = -r[10];     // R·(0, 0, -1)
    double ux = r[1], uz = r[9];        // R·(0, 1, 0)
    double across = sqrt(fx * fx + fz * fz);
    // Pointing straight up or down the bike has no defined roll; call it upright
    // rather than let 0/0 through.
    if (across < 1e-9)
        return 0;
    return acos(clampd((fx * uz - fz * ux) / across, -1, 1)) - M_PI / 2;
}

double front_slip_angle(const Racer *racer)
{
    double d[3];
    steering_axis_local(&racer->model, d);
    double fy = -d[2], fz = d[1];
    const dReal *w = dBodyGetLinearVel(racer->bodies[BODY_FRONT_WHEEL]);
    dVector3 v;
    dBodyVectorFromWorld(racer->bodies[BODY_FORK_UPPER], w[0], w[1], w[2], v);
    double vf = v[1] * fy + v[2] * fz;
    if (v[0] * v[0] + vf * vf > 1)
        return -atan2(v[0], -vf);
    return 0;
}

double steer_toward_law(double target, double angle, double rate)
{
    double e = dead_band(clampd(target - angle, -0.25, 0.25), 1.0 / 32);
    double v = dead_band(8 * e - rate, 1.0 / 2400);
    return clampd(v / 2, -2.0 / 3, 2.0 / 3);
}

double steer_toward(const Racer *racer, double target)
{
    dJointID j = racer->joints[JOINT_STEERING];
    return steer_toward_law(target, dJointGetHingeAngle(j), dJointGetHingeAngleRate(j));
}

void apply_steering_torque(Racer *racer, double torque)
{
    double d[3];
    steering_axis_local(&racer->model, d);
    dVector3 a;
    dBodyVectorToWorld(racer->bodies[BODY_FRAME], d[0], d[1], d[2], a);
    dBodyAddTorque(racer->bodies[BODY_FRONT_WHEEL], torque * a[0], torque * a[1], torque * a[2]);
    dBodyAddTorque(racer->bodies[BODY_FRAME], -torque * a[0], -torque * a[1], -torque * a[2]);
}

double steering_lock(const RacerSetup *setup, double wheel_speed, double mu)
{
    double vs = wheel_speed > 1 ? wheel_speed : 1;
    double full = setup->full_lock_speed;
    double vr = full + 1 > setup->restricted_lock_speed ? full + 1 : setup->restricted_lock_speed;
    double t = clampd((1 / vs - 1 / vr) / (1 / full - 1 / vr), 0, 1);
    if (mu < 0.125)
        mu = 0.125;
    // Slippery ground allows more lock at speed: the tyre slides before it bites.
    double restricted = setup->restricted_lock / mu;
    if (restricted > M_PI / 4)
        restricted = M_PI / 4;
    return (M_PI / 4 - restricted) * t + restricted;
}

double lean_range(double speed, double max_dab_speed, double roll_limit_angle, int power)
{
    double m = max_dab_speed;
    if (speed <= 0)
        return 0;
    if (speed >= m)
        return 2 * M_PI;
    if (speed <= 15) {
        double x = clampd(speed * speed / (m * m), 0, 1);
        return (1 - pow(1 - x, power)) * roll_limit_angle;
    }
    double x = clampd((speed * speed - 225) / (m * m - 225), 0, 1);
    return (2 * M_PI - roll_limit_angle) * x + roll_limit_angle;
}

SteerOutputs steer_law(const RacerSetup *setup, const SteerInputs *in, double *landing_damping)
{
    const double h = PHYSICS_TICK;
    double td = setup->steering_strength * in->steer * setup->direct_steering;
    double fmax = setup->max_steering_force, fmin = -fmax;
    double vw = in->wheel_speed, rho = in->roll, delta = in->steer_angle, sigma = in->slip;
    double lock = steering_lock(setup, vw, in->mu);

    // Near the ground, cut the torque that would make a sliding front slide more,
    // and past the limit turn it round to a quarter.
    if (vw > 1 && in->clearance < 0.5) {
        double k = clampd(2 * in->clearance, 0, 1);
        double l2 = (M_PI / 4 - lock) * k + lock;
        double a = 1.125 * l2 + 0.015;
        if (sigma > l2) {
            double q = clampd((sigma - a) / (l2 - a), 0, 1);
            fmin = (1.25 * q - 0.25) * fmin;
        } else if (sigma < -l2) {
            double q = clampd((sigma + a) / (a - l2), 0, 1);
            fmax = (1.25 * q - 0.25) * fmax;
        }
    }

    double tr;
    if (!in->front_touching || in->wheel_rate <= M_PI / 4) {
        // In the air (or barely rolling) the bars are centred; the roll damping
        // waits to come back stronger on landing.
        *landing_damping = setup->land_damping_factor;
        tr = -50 * delta;
    } else {
        double wz = in->roll_rate;
        tr = wz * setup->roll_damping * *landing_damping;
        if (*landing_damping > 1) {
            double falloff = setup->land_damping_falloff;
            double next = falloff > 0 ? *landing_damping -
                                            (setup->land_damping_factor - 1) * h / falloff
                                      : 1;
            *landing_damping = next < 1 ? 1 : next;
        }
        double tl = rho * setup->leveling;
        double v = in->speed;
        if (v < setup->slow_damping_speed) {
            double f = setup->slow_damping_factor +
                       (1 - setup->slow_damping_factor) *
                           clampd(v / setup->slow_damping_speed, 0, 1);
            tr *= f;
            tl *= f;
        }
        bool away = (wz >= 0 && rho >= 0) || (wz < 0 && rho < 0);
        if (away && fabs(rho) > setup->roll_limit_angle)
            tr *= (fabs(rho) - setup->roll_limit_angle) * setup->roll_limit_factor + 1;
        tr += tl;

        if (setup->direct_steering < 1) {
            double lambda = lean_range(v, setup->max_dab_speed, setup->roll_limit_angle, 4);
            double r = (-in->steer * lambda - rho) * 2.5;
            bool upright_ward = (rho >= 0 && r < 0) || (rho < 0 && r >= 0);
            double rmax = upright_ward ? 25 * M_PI / 8 : 5 * M_PI / 4;
            r = clampd(r, -rmax, rmax);
            double e = r - wz;
            double u = fabs(e) <= 0.125 ? 0 : -4 * (fabs(e) - 0.125) * sign_of(e);
            double tc = setup->steering_strength * clampd(u, -1, 1);
            td = (td - tc) * setup->direct_steering + tc;
        }
    }

    // Just after hitting another rider the balance torques are held back.
    if (in->contact_timer > 0) {
        double limit = 200 * clampd((192 - in->contact_timer) / 192, 0, 1);
        tr = clampd(tr, -limit, limit);
    }

    SteerOutputs out;
    out.torque = clampd((tr + td) * 1.5, fmin, fmax);

    double a = clampd((vw - 5) / 10, 0, 1);
    double lo = 0.25 * a * lock, hi = (0.625 * a + 0.125) * lock;
    double x, y;
    double s = rho >= 0 ? -sigma : sigma;
    double d = rho >= 0 ? delta : -delta;
    // With no lock at all any slip past lo is a full slide (no 0/0).
    if (hi - lo > 0)
        x = clampd((s - lo) / (hi - lo), 0, 1);
    else
        x = s > lo ? 1 : 0;
    y = clampd((d - 0.2617994) * 3.8197186, 0, 1);
    out.slide_amount = x > y ? x : y;
    return out;
}

void steer_control(Racer *racer, const WheelGround ground[2], const Terrain *terrain)
{
    racer->slide_amount = 0;
    if (racer->crash_countdown > 0 || !racer->bodies[BODY_FRAME])
        return;
    const BikeModel *m = &racer->model;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dBodyID wheel = racer->bodies[BODY_FRONT_WHEEL];
    double outer = m->front_wheel.tyre_centre_radius + m->front_wheel.tyre_section_radius;

    SteerInputs in;
    in.steer = racer->steer;
    in.wheel_rate = dJointGetHingeAngleRate(racer->joints[JOINT_FRONT_AXLE]);
    in.wheel_speed = in.wheel_rate * outer;
    in.front_touching = ground[WHEEL_FRONT].touching;
    in.roll = roll_angle(frame);
    const dReal *w = dBodyGetAngularVel(frame);
    dVector3 local;
    dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
    in.roll_rate = local[2];
    in.steer_angle = steering_angle(racer);
    in.slip = front_slip_angle(racer);

    const dReal *p = dBodyGetPosition(wheel);
    in.mu = 1;
    double ground_height = 0;
    if (terrain) {
        ground_height = terrain_height(terrain, (float)p[0], (float)p[2]);
        int tile = tile_at(terrain, (float)p[0], (float)p[2]);
        if (tile >= 0 && tile < (int)terrain->tiles.size() &&
            terrain->tiles[tile].friction_count > 0)
            in.mu = terrain->tiles[tile].friction[0].mu;
    }
    in.clearance = p[1] - ground_height - outer;
    const dReal *v = dBodyGetLinearVel(frame);
    in.speed = sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    in.contact_timer = racer->contact_timer;

    SteerOutputs out = steer_law(&racer->setup, &in, &racer->landing_damping);
    apply_steering_torque(racer, out.torque);
    racer->slide_amount = out.slide_amount;
}

double arcade_roll_rate(double roll, double steer, double roll_damping)
{
    double target = -steer * M_PI / 4;
    double v = clampd((roll_damping - 40) * 0.025, 0, 1);
    double gap = fabs(roll - target);
    double w = (1.5 - 0.5 * v) * (gap < 1.0 / 16 ? gap : 1.0 / 16) * 16;
    return roll < target ? w : -w;
}

void arcade_control(Racer *racer)
{
    if (racer->crash_countdown > 0 || !racer->bodies[BODY_FRAME])
        return;
    dBodyID frame = racer->bodies[BODY_FRAME];
    double w = arcade_roll_rate(roll_angle(frame), racer->steer, racer->setup.roll_damping);

    // The roll angle grows with a turn about the frame's own +z (rearward) axis, so
    // that is the axis along which w is a roll rate; about the forward axis the
    // motor would drive the bike away from the lean it aims for.
    dVector3 rearward;
    dBodyVectorToWorld(frame, 0, 0, 1, rearward);
    dJointID motor = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(motor, frame, nullptr);
    dJointSetAMotorNumAxes(motor, 1);
    dJointSetAMotorAxis(motor, 0, 0, rearward[0], rearward[1], rearward[2]);
    dJointSetAMotorParam(motor, dParamVel, w);
    dJointSetAMotorParam(motor, dParamFMax, 1000);

    double target = front_slip_angle(racer) - racer->steer / 2;
    apply_steering_torque(racer, steer_toward(racer, target) * racer->setup.steering_strength);

    // A drag point far behind keeps the bike pointing along its path.
    dVector3 tail;
    dBodyGetRelPointVel(frame, 0, 0, 20, tail);
    dBodyAddForceAtRelPos(frame, -0.25 * tail[0], -0.25 * tail[1], -0.25 * tail[2], 0, 0, 20);
}
