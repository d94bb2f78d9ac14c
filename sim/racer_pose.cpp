// Reset, move and pose of a racer's bodies. Posing works down the chain of joints
// from the frame, each body placed from the one it hangs on, so the joints read
// back exactly the angles asked for.
#include "sim/racer_pose.h"

#include <cmath>
#include <cstring>

#include "sim/racer_joints.h"

static void design_point(const BikeVec3 &v, double out[3])
{
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

static void clear_inputs(Racer *r)
{
    r->throttle = r->clutch = r->front_brake = r->rear_brake = 0;
    r->steer = r->dab = r->back_up = r->lean = 0;
    r->shift_request = 0;
    r->last_shift_request = 0;
}

void reset_racer_physics(Racer *racer)
{
    const BikeModel &m = racer->model;
    double design[RACER_BODY_COUNT][3];
    design_point(m.frame_position, design[BODY_FRAME]);
    design_point(m.front_wheel.axle, design[BODY_FRONT_WHEEL]);
    design_point(m.rear_wheel.axle, design[BODY_REAR_WHEEL]);
    design_point(m.steering_head, design[BODY_FORK_UPPER]);
    design_point(m.fork_lower_position, design[BODY_FORK_LOWER]);
    design_point(m.swingarm_position, design[BODY_SWINGARM]);
    design_point(m.rider_position, design[BODY_RIDER]);
    dMatrix3 identity;
    dRSetIdentity(identity);
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        dBodyID b = racer->bodies[i];
        dBodySetPosition(b, design[i][0], design[i][1], design[i][2]);
        dBodySetRotation(b, identity);
        dBodySetLinearVel(b, 0, 0, 0);
        dBodySetAngularVel(b, 0, 0, 0);
        dBodySetForce(b, 0, 0, 0);
        dBodySetTorque(b, 0, 0, 0);
    }
    if (racer->joints[JOINT_RIDER_MOUNT])
        attach_rider_mount(racer);

    clear_inputs(racer);
    racer->gear = 0;
    racer->clutch_angle = 0;
    racer->engine_speed = 0;
    racer->crash_countdown = 0;
    racer->crash_count = 0;
    racer->contact_timer = 0;
    racer->slide_amount = 0;
    racer->incident = 0;
    racer->finished = false;
    racer->dab_anim = 0;
    memset(racer->leg_points, 0, sizeof racer->leg_points);
    memset(racer->velocity_history, 0, sizeof racer->velocity_history);
    memset(racer->feedback, 0, sizeof racer->feedback);
    racer->landing_damping = 1;
    racer->activity = 1;
    for (dBodyID b : racer->bodies)
        dBodyEnable(b);
    racer->gates.gates_passed = 0;
    racer->gates.finished = false;
    memset(racer->wheel_contacts, 0, sizeof racer->wheel_contacts);
    racer->crash_requested = false;
    racer->had_rider_contact = false;
    racer->rider_contact_frame = 0;
    racer->first_rider_contact_frame = 0;
    racer->touch_run_frame = 0;
    racer->tangled_with = -1;
}

void move_racer(Racer *racer, double dx, double dy, double dz)
{
    for (dBodyID b : racer->bodies) {
        const dReal *p = dBodyGetPosition(b);
        dBodySetPosition(b, p[0] + dx, p[1] + dy, p[2] + dz);
    }
}

// Body b placed at the point of body `from` at local v, i.e. from's position plus
// its rotation applied to v.
static void place_at_point(dBodyID b, dBodyID from, double vx, double vy, double vz)
{
    dVector3 p;
    dBodyGetRelPointPos(from, vx, vy, vz, p);
    dBodySetPosition(b, p[0], p[1], p[2]);
}

// out = a × Rot(axis, angle); the axis need not be unit length.
static void rotate_by(const dReal *a, double ax, double ay, double az, double angle, dMatrix3 out)
{
    dMatrix3 turn;
    dRFromAxisAndAngle(turn, ax, ay, az, angle);
    // ODE keeps 3x3 rotations in rows of four.
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            out[i * 4 + j] =
                a[i * 4] * turn[j] + a[i * 4 + 1] * turn[4 + j] + a[i * 4 + 2] * turn[8 + j];
        out[i * 4 + 3] = 0;
    }
}

void pose_racer(Racer *racer, const double position[3], const double orientation[4], double steer,
                double swingarm, double fork, const RiderPlacement *rider, double front_wheel,
                double rear_wheel)
{
    const BikeModel &m = racer->model;
    const BikeVec3 &fp = m.frame_position;
    dBodyID *b = racer->bodies;
    dMatrix3 r;

    dBodyID frame = b[BODY_FRAME];
    dBodySetPosition(frame, position[0], position[1], position[2]);
    dQuaternion q = {orientation[0], orientation[1], orientation[2], orientation[3]};
    dBodySetQuaternion(frame, q);
    const dReal *rf = dBodyGetRotation(frame);

    dBodyID upper = b[BODY_FORK_UPPER];
    place_at_point(upper, frame, m.steering_head.x - fp.x, m.steering_head.y - fp.y,
                   m.steering_head.z - fp.z);
    double sx = m.steering_head.x - m.fork_lower_position.x;
    double sy = m.steering_head.y - m.fork_lower_position.y;
    double sz = m.steering_head.z - m.fork_lower_position.z;
    rotate_by(rf, sx, sy, sz, steer, r);
    dBodySetRotation(upper, r);

    // The swingarm turns about its pivot.
    dBodyID arm = b[BODY_SWINGARM];
    double oy = m.swingarm_position.y - m.swingarm_pivot.y;
    double oz = m.swingarm_position.z - m.swingarm_pivot.z;
    double c = cos(swingarm), s = sin(swingarm);
    place_at_point(arm, frame, m.swingarm_position.x - fp.x,
                   m.swingarm_pivot.y + c * oy - s * oz - fp.y,
                   m.swingarm_pivot.z + s * oy + c * oz - fp.z);
    rotate_by(rf, 1, 0, 0, swingarm, r);
    dBodySetRotation(arm, r);

    // The fork lower slides up the steering axis by the compression.
    dBodyID lower = b[BODY_FORK_LOWER];
    double length = sqrt(sx * sx + sy * sy + sz * sz);
    double k = 1 + fork / length;
    place_at_point(lower, upper, -sx * k, -sy * k, -sz * k);
    dBodySetRotation(lower, dBodyGetRotation(upper));

    dBodyID body = b[BODY_RIDER];
    if (rider && !rider->by_slide) {
        dBodySetPosition(body, position[0] + rider->offset[0], position[1] + rider->offset[1],
                         position[2] + rider->offset[2]);
        dQuaternion rq = {rider->orientation[0], rider->orientation[1], rider->orientation[2],
                          rider->orientation[3]};
        dBodySetQuaternion(body, rq);
    } else {
        const BikeVec3 &axis = m.rider_slide_axis;
        double alen = sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
        double slide = rider ? rider->slide : 0;
        double u = m.rider_slide_low + (m.rider_slide_high - m.rider_slide_low) * slide;
        double w = alen > 0 ? u / alen : 0;
        place_at_point(body, frame, m.rider_position.x + w * axis.x - fp.x,
                       m.rider_position.y + w * axis.y - fp.y,
                       m.rider_position.z + w * axis.z - fp.z);
        dBodySetRotation(body, rf);
    }

    const BikeVec3 &fa = m.front_wheel.axle;
    dBodyID front = b[BODY_FRONT_WHEEL];
    place_at_point(front, lower, fa.x - m.fork_lower_position.x, fa.y - m.fork_lower_position.y,
                   fa.z - m.fork_lower_position.z);
    rotate_by(dBodyGetRotation(lower), -1, 0, 0, front_wheel, r);
    dBodySetRotation(front, r);

    const BikeVec3 &ra = m.rear_wheel.axle;
    dBodyID rear = b[BODY_REAR_WHEEL];
    place_at_point(rear, arm, ra.x - m.swingarm_position.x, ra.y - m.swingarm_position.y,
                   ra.z - m.swingarm_position.z);
    rotate_by(dBodyGetRotation(arm), -1, 0, 0, rear_wheel, r);
    dBodySetRotation(rear, r);
}

void rotation_between(const double a[4], const double b[4], double out[3])
{
    // q = b · conj(a)
    double aw = a[0], ax = -a[1], ay = -a[2], az = -a[3];
    double w = b[0] * aw - b[1] * ax - b[2] * ay - b[3] * az;
    double x = b[0] * ax + b[1] * aw + b[2] * az - b[3] * ay;
    double y = b[0] * ay - b[1] * az + b[2] * aw + b[3] * ax;
    double z = b[0] * az + b[1] * ay - b[2] * ax + b[3] * aw;
    if (w < 0) {
        w = -w;
        x = -x;
        y = -y;
        z = -z;
    }
    double s = sqrt(x * x + y * y + z * z);
    double angle = 2 * atan2(s, w);
    double k = s > 1e-12 ? angle / s : 2;
    out[0] = x * k;
    out[1] = y * k;
    out[2] = z * k;
}
