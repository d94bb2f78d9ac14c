// Following a recorded pose: a network peer in ghost mode keeps its own physics,
// but a spring and damper on the frame hold it to where the recording has it, and
// the recording's controls drive the rest, so that it collides and looks like a
// simulated bike while staying where the peer says it is.
#include <cmath>

#include "sim/drivetrain.h"
#include "sim/racer_joints.h"
#include "sim/racer_pose.h"
#include "sim/step_local.h"
#include "sim/world.h"

static const double FOLLOW_MAX = 2500;     // lbf and ft·lbf

static void clamp_length(double v[3], double limit)
{
    double len = step_length(v);
    if (len > limit) {
        for (int k = 0; k < 3; k++)
            v[k] *= limit / len;
    }
}

// World vector v into the frame of orientation q (conj(q) · v · q).
static void into_frame(const double q[4], const double v[3], double out[3])
{
    double n = sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    double w = n > 0 ? q[0] / n : 1, x = n > 0 ? -q[1] / n : 0;
    double y = n > 0 ? -q[2] / n : 0, z = n > 0 ? -q[3] / n : 0;
    // t = 2 (q_vec × v); v' = v + w t + q_vec × t, with q the inverse rotation.
    double t[3] = {2 * (y * v[2] - z * v[1]), 2 * (z * v[0] - x * v[2]),
                   2 * (x * v[1] - y * v[0])};
    out[0] = v[0] + w * t[0] + (y * t[2] - z * t[1]);
    out[1] = v[1] + w * t[1] + (z * t[0] - x * t[2]);
    out[2] = v[2] + w * t[2] + (x * t[1] - y * t[0]);
}

static void remount_in_place(Racer *racer)
{
    dBodyID rider = racer->bodies[BODY_RIDER];
    const dReal *p = dBodyGetPosition(rider);
    double position[3] = {p[0], p[1], p[2]};
    dQuaternion q;
    dBodyCopyQuaternion(rider, q);
    // The mount joint is made with the rider on the seat, then the rider goes back
    // to where the recording had it.
    seat_rider(racer);
    dBodySetPosition(rider, position[0], position[1], position[2]);
    dBodySetQuaternion(rider, q);
}

void follow_pose(Racer *racer, const FollowPose *pose, const double earlier[3],
                 const double later[3], int n)
{
    if (!racer || !pose || !racer->bodies[BODY_FRAME])
        return;
    const double h = PHYSICS_TICK;
    double P = racer->activity, kp, kd;
    if (P > 0.75) {
        kp = kd = 0;
    } else if (P > 0.5) {
        double q = step_clamp(4 * (0.75 - P), 0, 1);
        kp = 5000 * q;
        kd = 500 * q;
    } else {
        double q = step_clamp(2 * (0.5 - P), 0, 1);
        kp = 5000 + 45000 * q;
        kd = 500;
    }

    dBodyID frame = racer->bodies[BODY_FRAME];
    double vt[3] = {0, 0, 0};
    if (n > 0 && earlier && later) {
        for (int k = 0; k < 3; k++)
            vt[k] = (later[k] - earlier[k]) / (n * h);
    }
    const dReal *p = dBodyGetPosition(frame), *v = dBodyGetLinearVel(frame);
    double F[3];
    for (int k = 0; k < 3; k++)
        F[k] = kp * (pose->position[k] - p[k]) - kd * (v[k] - vt[k]);
    clamp_length(F, FOLLOW_MAX);
    dQuaternion cq;
    dBodyCopyQuaternion(frame, cq);
    double current[4] = {cq[0], cq[1], cq[2], cq[3]}, e[3];
    rotation_between(current, pose->orientation, e);
    const dReal *w = dBodyGetAngularVel(frame);
    double T[3];
    for (int k = 0; k < 3; k++)
        T[k] = kp * h * e[k] - kd * w[k];
    clamp_length(T, FOLLOW_MAX);
    bool finite = true;
    for (int k = 0; k < 3; k++)
        finite = finite && std::isfinite(F[k]) && std::isfinite(T[k]);
    if (finite) {
        dBodyAddForce(frame, F[0], F[1], F[2]);
        dBodyAddTorque(frame, T[0], T[1], T[2]);
    }

    double rate = dJointGetHingeAngleRate(racer->joints[JOINT_STEERING]);
    racer->steer = (float)step_clamp((pose->steer - steering_angle(racer) - rate) * 0.25, -1, 1);

    int level = pose->drive >> 4;
    if ((pose->drive & 7) == 7) {
        if (racer->crash_countdown == 0)
            legs_on_feet(racer);
        detach_rider_mount(racer);
        racer->throttle = 0;
        racer->crash_countdown = level * 127 / 15 + 1;
    } else {
        if (racer->crash_countdown > 0)
            remount_in_place(racer);
        racer->crash_countdown = 0;
        racer->gear = existing_gear(&racer->model, pose->drive & 7);
        racer->throttle = (float)step_clamp(level / 15.0, 0, 1);
    }
    bool riding = racer->crash_countdown == 0;
    racer->dab = riding && (pose->drive & 8) ? 1.0f : 0.0f;

    racer->lean = 0;
    if (riding) {
        // The lean that makes the rider's soft attachment hold it where the pose has it.
        const BikeModel &m = racer->model;
        double d[3];
        into_frame(pose->orientation, pose->rider_offset, d);
        double dy = (m.rider_position.y - m.frame_position.y) - d[1];
        double dz = (m.rider_position.z - m.frame_position.z) - d[2];
        racer->lean = (float)step_clamp(dy * (0.5 + 0.5 * racer->dab) - dz, -1, 1);
    }
    if (std::isfinite(pose->engine_rpm))
        racer->engine_speed = pose->engine_rpm * M_PI / 30;
}
