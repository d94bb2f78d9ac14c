// The auto pilot's controller: turning the path ahead into throttle, brakes, clutch,
// steering and dab. drive_path follows the path (aim point, lean, grip, jumps,
// traffic); recover brings a bike that lost its path back onto it.
//
// Upright and resting bikes: the lean radius of an upright bike is infinite and is
// handled as straight running; at rest the velocity frame falls back to the world
// axes and times to reach a point use a small floor speed, so that every value the
// controller hands on stays finite.
#include <cmath>
#include <limits>

#include "autopilot/lines.h"
#include "autopilot/pilot.h"
#include "autopilot/pilot_local.h"
#include "race/race.h"
#include "sim/assists.h"
#include "sim/drivetrain.h"
#include "sim/racer.h"
#include "sim/racer_joints.h"
#include "track/terrain.h"
#include "track/track.h"

namespace
{

constexpr double PI = 3.14159265358979323846;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double MIN_SPEED = 1e-3;      // ft/s, for times to reach a point

double clampd(double x, double lo, double hi)
{
    return x < lo ? lo : x > hi ? hi : x;
}

double dot3(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The path at a real index q: linear between the points around it.
void path_at(const PilotState &st, double q, double out[3])
{
    int i = (int)q;
    double f = q - i;
    const LinePoint &a = path_point(st, i), &b = path_point(st, i + 1);
    out[0] = a.x + (b.x - a.x) * f;
    out[1] = a.y + (b.y - a.y) * f;
    out[2] = a.z + (b.z - a.z) * f;
}

void point_of(const LinePoint &p, double out[3])
{
    out[0] = p.x, out[1] = p.y, out[2] = p.z;
}

// Lean radius of the present roll at speed v and load k: infinite when upright.
double lean_radius(double v, double k, double roll)
{
    double t = std::tan(roll);
    if (std::fabs(t) < 1e-12)
        return INF;
    return -v * v / (32 * k * t);
}

// The velocity box of a bike (2 ft either side, 4 ft behind, 4 + v ahead) at height 0.
void bike_box(const double pos[3], const VelocityFrame &f, double v, double out[4][3])
{
    double base[3] = {pos[0], 0, pos[2]};
    path_box(base, f.x, f.z, -2, -4 - v, 2, 4, out);
}

// Racer's frame body speed, velocity frame and position.
struct Motion {
    double pos[3], vel[3], v;
    VelocityFrame f;
};

void motion_of(const Racer *racer, Motion *m)
{
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    const dReal *v = dBodyGetLinearVel(racer->bodies[BODY_FRAME]);
    for (int k = 0; k < 3; k++) {
        m->pos[k] = p[k];
        m->vel[k] = v[k];
    }
    m->v = std::sqrt(dot3(m->vel, m->vel));
    velocity_frame(m->vel, &m->f);
}

// Step 8: the nearest bike ahead whose box touches this one's may lower the target.
double traffic(Racer *racer, const Motion &me, double r, double vt)
{
    const RaceState &race = race_state();
    double mine[4][3];
    bike_box(me.pos, me.f, me.v, mine);
    double d[3] = {-me.f.z[0], -me.f.z[1], -me.f.z[2]};
    const Racer *nearest = nullptr;
    Motion near_m{};
    double best = 1000000;
    for (int s = 0; s < RACER_SLOTS; s++) {
        const Racer *o = race.racers[s];
        if (!o || o == racer)
            continue;
        Motion om;
        motion_of(o, &om);
        double box[4][3];
        bike_box(om.pos, om.f, om.v, box);
        if (!boxes_touch(mine, box))
            continue;
        double qp[3] = {om.pos[0] - me.pos[0], 0, om.pos[2] - me.pos[2]};
        double dq[3] = {-om.f.z[0], -om.f.z[1], -om.f.z[2]};
        double ahead = dot3(qp, d), behind = -dot3(qp, dq);
        double d2 = qp[0] * qp[0] + qp[2] * qp[2];
        if (ahead > behind && d2 < best) {
            best = d2;
            nearest = o;
            near_m = om;
        }
    }
    if (!nearest)
        return vt;
    AvoidInput in{};
    in.race_time = std::fmin((race.frame - race.start_frame) / 128.0, 100);
    for (int k = 0; k < 3; k++) {
        in.position[k] = me.pos[k];
        in.other_position[k] = near_m.pos[k];
        in.other_velocity[k] = near_m.vel[k];
    }
    in.r = r;
    in.frame = me.f;
    in.v = me.v;
    in.vt = vt;
    bool clear = false;
    double result = avoid_speed_of(&in, &clear);
    if (clear)
        ring_clear(racer->gates.slot);
    return result;
}

} // namespace

void velocity_frame(const double velocity[3], VelocityFrame *out)
{
    double v = std::sqrt(dot3(velocity, velocity));
    if (!(v > 0)) {
        *out = VelocityFrame{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        return;
    }
    double d[3] = {velocity[0] / v, velocity[1] / v, velocity[2] / v};
    *out = VelocityFrame{{-d[2], 0, d[0]}, {0, 1, 0}, {-d[0], -d[1], -d[2]}};
}

double steer_radius(const double target[3], const double position[3], double r,
                    const VelocityFrame *f)
{
    double D[3] = {target[0] - position[0], target[1] - position[1], target[2] - position[2]};
    double x = dot3(D, f->x), z = -dot3(D, f->z);
    if (z <= 0)
        return x >= 0 ? 10 : -10;
    double qx, qz;
    if (std::isinf(r)) {
        // Straight running: the lean circle is the line of motion.
        qx = 0, qz = z;
    } else {
        double ex = x - r, ez = z, l = std::sqrt(ex * ex + ez * ez);
        if (l > 0)
            qx = r + std::fabs(r) * ex / l, qz = std::fabs(r) * ez / l;
        else
            qx = 0, qz = 0;
    }
    double xp = x - 2 * (qx - x), zp = z - 2 * (qz - z);
    if (std::fabs(xp) < 0.000001)
        xp = xp < 0 ? -0.000001 : 0.000001;
    return (xp * xp + zp * zp) / (2 * xp);
}

void path_box(const double base[3], const double x_axis[3], const double z_axis[3], double x0,
              double z0, double x1, double z1, double out[4][3])
{
    const double xs[4] = {x0, x0, x1, x1}, zs[4] = {z0, z1, z1, z0};
    for (int k = 0; k < 4; k++)
        for (int c = 0; c < 3; c++)
            out[k][c] = base[c] + xs[k] * x_axis[c] + zs[k] * z_axis[c];
}

// The end points of side b0b1 lie on different sides of the line through a0a1.
static bool straddles(const double a0[3], const double a1[3], const double b0[3],
                      const double b1[3])
{
    double nx = a0[2] - a1[2], nz = a1[0] - a0[0];
    double s0 = (b0[0] - a0[0]) * nx + (b0[2] - a0[2]) * nz;
    double s1 = (b1[0] - a0[0]) * nx + (b1[2] - a0[2]) * nz;
    return (s0 >= 0 && s1 < 0) || (s1 >= 0 && s0 < 0);
}

// Point p lies inside (or on) the box, in x and z.
static bool inside(const double box[4][3], const double p[3])
{
    bool pos = false, neg = false;
    for (int k = 0; k < 4; k++) {
        const double *a0 = box[k], *a1 = box[(k + 1) % 4];
        double c = (a1[0] - a0[0]) * (p[2] - a0[2]) - (a1[2] - a0[2]) * (p[0] - a0[0]);
        pos |= c > 0;
        neg |= c < 0;
    }
    return !(pos && neg);
}

// Every side of one box is tried against every side of the other, and a box lying
// wholly inside the other counts too: comparing only sides of the same number would
// never see a bike riding the same way, whose sides all run parallel to ours.
bool boxes_touch(const double a[4][3], const double b[4][3])
{
    for (int k = 0; k < 4; k++) {
        int k1 = (k + 1) % 4;
        for (int l = 0; l < 4; l++) {
            int l1 = (l + 1) % 4;
            if (straddles(a[k], a[k1], b[l], b[l1]) && straddles(b[l], b[l1], a[k], a[k1]))
                return true;
        }
    }
    return inside(a, b[0]) || inside(b, a[0]);
}

double avoid_speed_of(const AvoidInput *in, bool *clear_ring)
{
    double t = in->race_time;
    double w = clampd((t - 3) * 0.5, 0, 1) * clampd((t - 120) * -0.01, 0, 1);
    const double *P = in->position, *Q = in->other_position, *Vo = in->other_velocity;
    double pq[3] = {P[0] - Q[0], P[1] - Q[1], P[2] - Q[2]};
    double D = std::sqrt(dot3(pq, pq));
    double h[3];
    if (std::isinf(in->r)) {
        for (int k = 0; k < 3; k++)
            h[k] = in->frame.x[k];
    } else {
        for (int k = 0; k < 3; k++)
            h[k] = Q[k] - (P[k] + in->r * in->frame.x[k]);
    }
    double hh = dot3(h, h);
    double Vt[3] = {Vo[0], Vo[1], Vo[2]};
    if (hh > 0) {
        double s = dot3(Vo, h) / hh;
        for (int k = 0; k < 3; k++)
            Vt[k] -= h[k] * s;
    }
    double s = dot3(Vt, in->frame.z) < 0 ? std::sqrt(dot3(Vt, Vt)) : 0;
    double L = 8 * w + 12, vt = in->vt, v = in->v;
    if (D < L) {
        double s2 = (1 - 0.25 * w) * s;
        return s2 <= vt ? s2 : vt;
    }
    if (s < vt) {
        double g = (s - v) * -0.2;
        double y = -2.5 * g * g + v * g - (g * s + D);
        if (y > -L) {
            vt = vt + (s - vt) * clampd((y + L) / 3, 0, 1);
            *clear_ring = true;
        }
    }
    return vt;
}

void speed_control(Racer *racer, double v, double vt)
{
    if (racer->wheel_contacts[WHEEL_REAR].depth > 0) {
        if (v < vt) {
            set_throttle(racer, (float)(v < vt - 1 ? 1 : vt - v));
            set_front_brake(racer, 0);
            set_rear_brake(racer, 0);
        } else {
            set_throttle(racer, 0);
            float b = (float)clampd(v - vt, 0, 1);
            set_front_brake(racer, b);
            set_rear_brake(racer, b);
        }
        if (racer->gear > 0)
            set_clutch(racer, 1);
        else
            set_clutch(racer, (float)clampd(
                (engine_rpm(racer) - (racer->model.downshift_rpm - 1000)) / 1000, 0, 1));
        return;
    }
    set_front_brake(racer, 0);
    set_rear_brake(racer, 0);
    double w[3];
    const dReal *av = dBodyGetAngularVel(racer->bodies[BODY_FRAME]);
    dBodyVectorFromWorld(racer->bodies[BODY_FRAME], av[0], av[1], av[2], w);
    double yf = dBodyGetPosition(racer->bodies[BODY_FRONT_WHEEL])[1];
    double yr = dBodyGetPosition(racer->bodies[BODY_REAR_WHEEL])[1];
    if (w[0] < -PI / 4 || (yf < yr && w[0] < 0)) {
        // The nose is dropping: drive the rear wheel to lift it.
        set_throttle(racer, 1);
        set_clutch(racer, 0.125f);
        return;
    }
    set_throttle(racer, 0);
    if (yf > yr + 1 && w[0] >= -0.3926991) {
        // Stopping the rear wheel brings the nose down.
        set_clutch(racer, 0);
        set_rear_brake(racer, 1);
    } else {
        set_clutch(racer, 0.125f);
    }
}

void drive_path(Racer *racer, PilotState *st)
{
    const RaceState &race = race_state();
    int32_t frame = race.frame;
    if ((frame - st->advance_frame) / 128.0 > 3) {
        st->recovery = 3;
        return;
    }
    set_dab(racer, 0);
    int n = (int)st->path.size();
    double p = path_position(racer);
    int i0 = (int)p;
    double f = p - i0;
    double s0 = std::fabs(path_point(*st, i0).speed), s1 = std::fabs(path_point(*st, i0 + 1).speed);
    double vt = s0 + (s1 - s0) * f;

    Motion me;
    motion_of(racer, &me);
    double v = me.v;
    const double *P = me.pos;

    int J = -1;
    double tj = 1000000;
    int jump_end = std::min(n, i0 + 20);
    for (int i = i0; i < jump_end; i++) {
        if (path_point(*st, i).speed < 0 && path_point(*st, i + 1).speed < 0) {
            double a[3];
            point_of(path_point(*st, i0), a);
            double d[3] = {a[0] - P[0], a[1] - P[1], a[2] - P[2]};
            J = i;
            tj = (i - i0) * 0.25 + std::sqrt(dot3(d, d)) / std::fmax(v, MIN_SPEED);
            break;
        }
    }

    dBodyID frame_body = racer->bodies[BODY_FRAME];
    double rho = roll_angle(frame_body);
    double omega[3];
    const dReal *av = dBodyGetAngularVel(frame_body);
    dBodyVectorFromWorld(frame_body, av[0], av[1], av[2], omega);

    double load = (racer->wheel_contacts[WHEEL_FRONT].feedback.f1[1] +
                   racer->wheel_contacts[WHEEL_REAR].feedback.f1[1]) /
                  (32 * racer->total_mass);
    double k = std::fmax(load - 1, 1);
    if (!std::isfinite(k))
        k = 1;
    double r = lean_radius(v, k, rho);
    double m = PI / k, G = 4;

    vt = traffic(racer, me, r, vt);

    double T[3];
    if (racer->gates.gates_passed < 1) {
        path_at(*st, p + 4, T);
    } else {
        int j = i0 + 1, end = std::min(n, i0 + 7);
        for (; j < end; j++) {
            const LinePoint &q = path_point(*st, j);
            double e[3] = {q.x - P[0], 0, q.z - P[2]};
            double ez = dot3(e, me.f.z), ex = dot3(e, me.f.x);
            if (!(ez < 0 && std::fabs(ex) <= -ez / 8))
                break;
        }
        int N = j - (i0 + 1);
        double w = clampd((N - 20) * -0.05882353, 0, 1);
        G = 4 * w;
        m *= w;
        if (tj >= 2) {
            path_at(*st, p + (N > 4 && std::fabs(rho) < 0.3926991 ? 3 : 2), T);
        } else {
            double u = clampd((tj - 2) * -2, 0, 1);
            double a[3], b[3], c[3];
            point_of(path_point(*st, i0 + 3), a);
            point_of(path_point(*st, J + 3), b);
            point_of(path_point(*st, J), c);
            for (int q = 0; q < 3; q++)
                T[q] = a[q] + (P[q] + b[q] - c[q] - a[q]) * u;
        }
    }

    double R = steer_radius(T, P, r, &me.f);
    double phi0 = std::atan2(-v * v / R, 32 * k), phi = phi0;

    if (const Terrain *terrain = track_terrain()) {
        for (int q = 0; q < 6; q++) {
            double x, z;
            if (q < 5) {
                const LinePoint &pt = path_point(*st, i0 + 4 - q);
                x = pt.x, z = pt.z;
            } else {
                const dReal *fw = dBodyGetPosition(racer->bodies[BODY_FRONT_WHEEL]);
                const dReal *fv = dBodyGetLinearVel(racer->bodies[BODY_FRONT_WHEEL]);
                x = fw[0] + 0.25 * fv[0], z = fw[2] + 0.25 * fv[2];
            }
            float nw[3];
            terrain_face_normal(terrain, (float)x, (float)z, nw);
            double nb[3];
            dBodyVectorFromWorld(frame_body, nw[0], nw[1], nw[2], nb);
            double beta = std::atan2(nb[0], nb[1]);
            int tile = tile_at(terrain, (float)x, (float)z);
            double mu = 1;
            if (tile >= 0 && tile < (int)terrain->tiles.size() &&
                terrain->tiles[tile].friction_count > 0)
                mu = terrain->tiles[tile].friction[0].mu;
            double a = std::fmin(std::atan(mu), 1.1780972);
            phi = clampd(phi, rho - beta - a, rho - beta + a);
        }
        if (phi != phi0) {
            vt = std::fmin(vt, std::sqrt(std::tan(std::fabs(phi)) * 32 * k * std::fabs(R)));
            st->grip_limit_frame = frame;
        }
    }

    const Racer::WheelContact &front = racer->wheel_contacts[WHEEL_FRONT];
    double vc = std::sqrt(dot3(front.velocity, front.velocity));
    double z = clampd((vc - 16) * -0.0625, 0, 1);
    if (v < 7.5) {
        phi = 0;
        z = 1;
    } else if (v < 10) {
        double w = (v - 7.5) * 0.4;
        phi *= w;
        z = 1 - (1 - z) * w;
    }

    if (tj < 3) {
        double w = clampd((tj - 3) * -0.5, 0, 1);
        z = z + (1 - z) * w;
        vt = vt + (std::fmax(std::fabs(path_point(*st, i0).speed) + 2, v) - vt) * w;
        double L = 1.5707964 - 1.3744469 * w;
        phi = clampd(phi, -L, L);
        m = m + (0.3926991 - m) * clampd((tj - 3) * -0.33333334, 0, 1);
    }

    double e = (phi - rho) * G;
    if ((rho >= 0 && e < 0) || (rho < 0 && e >= 0))
        m *= 2;
    e = clampd(e, -m, m);

    racer->setup.full_lock_speed = 1;
    racer->setup.restricted_lock_speed = 50;
    racer->setup.restricted_lock =
        clampd((clampd(std::fabs(e) * 0.31830987, 0, 1) * 4 + 1) * 0.017453292, 0, PI / 4);

    double q = clampd(e - omega[2], -0.125, 0.125);
    double u = (omega[2] - (e - q)) * 4;
    double steer0 = steer_toward(racer, front_slip_angle(racer));
    double steer = steer0;
    if (front.depth > 0) {
        double b = clampd((vc - 4) * -0.25, 0, 1);
        steer = steer0 + (u - steer0) * b;
    }
    set_steer(racer, (float)clampd(std::isfinite(steer) ? steer : 0, -1, 1));

    speed_control(racer, v, vt);

    double t = z * racer->throttle;
    double prev = st->pilot_throttle;
    if (st->grip_limit_frame / 128.0 + 0.125 > frame / 128.0)
        t = clampd(t, 0, prev + 0.03125);
    else
        t = clampd(t, prev - 0.03125, 1);
    st->pilot_throttle = (float)t;
    set_throttle(racer, (float)clampd(t, 0, 1));
}

void recover(Racer *racer, PilotState *st)
{
    const RaceState &race = race_state();
    int32_t frame = race.frame;
    int n = (int)st->path.size();
    double V = 0.5;
    if ((frame - st->advance_frame) / 128.0 > 40) {
        st->recovery = 3;
        st->cursor = n > 0 ? frame % n : 0;
        st->advance_frame = frame;
    }
    double X[3];
    point_of(path_point(*st, st->cursor), X);
    int Y = (int)path_position(racer);
    int J = -1;
    for (int i = Y; i < std::min(n, Y + 20); i++)
        if (path_point(*st, i).speed < 0 && path_point(*st, i + 1).speed < 0) {
            J = i;
            break;
        }

    if ((frame - st->advance_frame) / 128.0 > 19) {
        // Stuck: drag the front wheel towards the cursor point with half the bike's
        // weight lifted off the ground.
        dBodyID fw = racer->bodies[BODY_FRONT_WHEEL];
        const dReal *wp = dBodyGetPosition(fw), *wv = dBodyGetLinearVel(fw);
        double dir[3] = {X[0] - wp[0], X[1] - wp[1], X[2] - wp[2]};
        double dl = std::sqrt(dot3(dir, dir));
        double want[3] = {0, 0, 0};
        if (dl > 0)
            for (int k = 0; k < 3; k++)
                want[k] = dir[k] / dl * 5;
        double e[3] = {wv[0] - want[0], wv[1] - want[1], wv[2] - want[2]};
        double el2 = dot3(e, e);
        if (el2 >= 0.0625) {
            double el = std::sqrt(el2);
            double s = -2000 * clampd((el - 0.25) * 0.8, 0, 1) / el;
            dBodyAddForce(fw, e[0] * s, 0, e[2] * s);
        }
        dBodyAddForce(racer->bodies[BODY_FRAME], 0, 16 * racer->total_mass, 0);
        double rate = dJointGetHingeAngleRate(racer->joints[JOINT_STEERING]);
        set_steer(racer, (float)clampd(-(steering_angle(racer) + rate) / 4, -1, 1));
        set_dab(racer, 1);
        set_throttle(racer, 0);
        set_clutch(racer, 0);
        set_front_brake(racer, 0);
        set_rear_brake(racer, 0);
        return;
    }

    set_dab(racer, 0);
    dBodyID frame_body = racer->bodies[BODY_FRAME];
    double local[3];
    dBodyGetPosRelPoint(frame_body, X[0], X[1], X[2], local);
    double lx = local[0], lz = local[2];
    const dReal *lv = dBodyGetLinearVel(frame_body);
    double v = std::sqrt(lv[0] * lv[0] + lv[1] * lv[1] + lv[2] * lv[2]);
    double rho = roll_angle(frame_body);
    double vt = 15;
    if (v < 10) {
        V = 1.0 / 6;
        set_dab(racer, 1);
        if (std::fabs(rho) > 1.0 / 6)
            vt = 5;
    } else if (v < 20) {
        V *= (v - 10) * 0.1 * 2 / 3 + 1.0 / 6;
    }
    double a;
    if (std::fabs(lx) > -lz) {
        a = lx < 0 ? V : -V;
        // Turning round to a point behind: at walking pace, so the turn stays on
        // the course instead of swinging out 50 ft and round the next gate.
        vt = 5;
    } else if (lz != 0) {
        a = clampd(0.5 * lx / lz, -V, V);
    } else {
        a = 0;
    }
    if (-lz < 4 * std::fabs(lx) || (J >= Y && J <= Y + 8 && J >= 0))
        st->recovery = 3;
    double omega[3];
    const dReal *av = dBodyGetAngularVel(frame_body);
    dBodyVectorFromWorld(frame_body, av[0], av[1], av[2], omega);
    set_steer(racer, (float)clampd(2 * (omega[2] - clampd(4 * (a - rho), -4, 4)), -1, 1));
    speed_control(racer, v, vt);
}
