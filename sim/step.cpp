// The racer step: the order in which a racer's laws run each tick, and the parts
// of it that are only a few lines each (back-up pulses, the automatic dab, the
// steering damper, joint-force compensation, the dab force and the auto-align).
// The crash half lives in step_crash.cpp.
#include <cmath>

#include "sim/assists.h"
#include "sim/contact.h"
#include "sim/drivetrain.h"
#include "sim/racer_body.h"
#include "sim/racer_joints.h"
#include "sim/step_local.h"
#include "sim/world.h"
#include "track/terrain.h"

// Roll past which a stopped bike counts as fallen over, for the auto-align.
static const double FALLEN_ROLL_LOW = 0.3926991, FALLEN_ROLL_HIGH = 1.0995574;
// Lean at which a fast bike's rider puts a foot down.
static const double FAST_DAB_ROLL = 0.5890486;

void horizontal_servo(dBodyID body, double max_force, const double target[3])
{
    const dReal *v = dBodyGetLinearVel(body);
    double dv[3] = {v[0] - target[0], v[1] - target[1], v[2] - target[2]};
    double sq = step_dot(dv, dv);
    if (sq < 1.0 / 16)
        return;
    double len = sqrt(sq);
    double s = step_clamp((len - 0.25) * 0.8, 0, 1);
    double k = -s * max_force / len;
    dBodyAddForce(body, dv[0] * k, 0, dv[2] * k);
}

// A one-axis angular motor about world up on the frame, for this tick only.
static void yaw_motor(dBodyID frame, double rate, double max_torque)
{
    dJointID motor = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(motor, frame, nullptr);
    dJointSetAMotorNumAxes(motor, 1);
    dJointSetAMotorAxis(motor, 0, 0, 0, 1, 0);
    dJointSetAMotorParam(motor, dParamVel, rate);
    dJointSetAMotorParam(motor, dParamFMax, max_torque);
}

// Backing up at a standstill: the rider paddles the bike backwards in one-second
// pulses, turning it with the bars.
static void back_up(Racer *racer, const StepContext *ctx)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    int tick = ctx ? ctx->tick : 0;
    int start = ctx ? ctx->race_start_tick : 0;
    double pulse = (1 - cos((tick % 128) * 2 * M_PI / 127)) / 2;
    if (tick < ((start + 128) & ~127) && (tick & 384) != 0)
        pulse = 0;
    if (racer->crash_countdown == 0)
        racer->dab = 1;
    dVector3 z;
    dBodyVectorToWorld(frame, 0, 0, 1, z);
    double target[3] = {4 * pulse * z[0], 4 * pulse * z[1], 4 * pulse * z[2]};
    horizontal_servo(frame, 2000, target);
    yaw_motor(frame, -racer->steer * pulse * M_PI / 2, 2000);
}

// The automatic dab: the foot goes down as the bike slows, and a bike standing
// with the throttle or clutch shut is held on its brakes.
static void auto_dab(Racer *racer, const WheelGround ground[2])
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    double V = step_body_speed(frame);
    double M = racer->setup.max_dab_speed;
    if (V > M)
        return;
    double roll = fabs(roll_angle(frame));
    bool applies = true;
    if (V > 15 && roll < step_clamp((V - 15) / 15, 0, 1) * M_PI / 4)
        applies = false;
    bool driving = racer->throttle != 0 && racer->clutch != 0;
    if (driving && V >= 5 && roll <= M_PI / 16)
        applies = false;
    if (applies) {
        double d = M > 0 ? step_clamp(1 - V / M, 0, 1) : 0;
        racer->dab = racer->crash_countdown > 0 ? 0 : (float)fmax(racer->dab, d);
    }
    if (V < 5 && !driving && ground[WHEEL_FRONT].touching && ground[WHEEL_REAR].touching) {
        racer->front_brake = 1;
        racer->rear_brake = 1;
        static const double still[3] = {0, 0, 0};
        horizontal_servo(frame, 1000, still);
    }
}

// Damps every turn of the front wheel relative to the world except its spin.
static void steering_damping(Racer *racer)
{
    dBodyID wheel = racer->bodies[BODY_FRONT_WHEEL];
    dVector3 a;
    dBodyVectorToWorld(wheel, 1, 0, 0, a);
    const dReal *w = dBodyGetAngularVel(wheel);
    double aw = a[0] * w[0] + a[1] * w[1] + a[2] * w[2];
    double c = racer->setup.steering_damping;
    double t[3];
    for (int k = 0; k < 3; k++)
        t[k] = c * (a[k] * aw - w[k]);
    dBodyAddTorque(wheel, t[0], t[1], t[2]);
    dBodyAddTorque(racer->bodies[BODY_FRAME], -t[0], -t[1], -t[2]);
}

// The joints' last forces, summed about the frame and taken back off it, so that
// joint error cannot push the bike as a whole.
static void joint_force_compensation(Racer *racer)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    const dReal *fp = dBodyGetPosition(frame);
    double force[3] = {0, 0, 0}, torque[3] = {0, 0, 0};
    for (int j = 0; j < RACER_JOINT_COUNT; j++) {
        dJointID joint = racer->joints[j];
        if (!joint)
            continue;
        const dJointFeedback &fb = racer->feedback[j];
        for (int side = 0; side < 2; side++) {
            dBodyID body = dJointGetBody(joint, side);
            if (!body)
                continue;
            const dReal *f = side ? fb.f2 : fb.f1;
            const dReal *t = side ? fb.t2 : fb.t1;
            const dReal *p = dBodyGetPosition(body);
            double r[3] = {p[0] - fp[0], p[1] - fp[1], p[2] - fp[2]};
            force[0] += f[0];
            force[1] += f[1];
            force[2] += f[2];
            torque[0] += t[0] + r[1] * f[2] - r[2] * f[1];
            torque[1] += t[1] + r[2] * f[0] - r[0] * f[2];
            torque[2] += t[2] + r[0] * f[1] - r[1] * f[0];
        }
    }
    dBodyAddForce(frame, -force[0], -force[1], -force[2]);
    dBodyAddTorque(frame, -torque[0], -torque[1], -torque[2]);
}

// Ground under the rider for a dab when the front wheel is off the ground.
static bool ground_for_dab(const Racer *racer, const WheelGround ground[2],
                           const Terrain *terrain)
{
    if (ground[WHEEL_FRONT].touching)
        return true;
    const dReal *p = dBodyGetPosition(racer->bodies[BODY_RIDER]);
    double radius = racer->model.rider_position.y + 1;
    if (!terrain)
        return p[1] < radius;
    double centre[3] = {p[0], p[1], p[2]};
    ContactHit hit;
    return probe_terrain_sphere(terrain, centre, radius, &hit) > 0;
}

// The auto-align: a fallen bike at a standstill is turned towards the track ahead.
// False when the dab force is not to follow this tick.
static bool auto_align(Racer *racer, const WheelGround ground[2], const StepContext *ctx)
{
    double target[3];
    if (!ctx || !ctx->align_target || !ctx->align_target(racer, target))
        return true;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dVector3 z;
    dBodyVectorToWorld(frame, 0, 0, 1, z);
    double zx = z[0], zz = z[2];
    double sq = zx * zx + zz * zz;
    if (sq < 1.0 / 1024)
        return true;
    double len = sqrt(sq);
    zx /= len;
    zz /= len;
    const dReal *p = dBodyGetPosition(frame);
    double dx = target[0] - p[0], dz = target[2] - p[2];
    double N = zx * dx + zz * dz;
    double G = dx * zz - dz * zx;
    double rate = G > 0 ? -M_PI / 2 : M_PI / 2;
    double max_torque = 320 * racer->total_mass;
    if (N >= 0 || fabs(G) >= 0.25 * fabs(N)) {
        yaw_motor(frame, rate, max_torque);
        // Lightened wheels turn on the spot instead of digging in.
        double lift = 32 * racer->total_mass;
        for (int w = 0; w < 2; w++) {
            if (ground[w].touching)
                dBodyAddForce(racer->bodies[w == WHEEL_FRONT ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL],
                              0, lift, 0);
        }
        return false;
    }
    yaw_motor(frame, rate, max_torque * fabs(G) / (0.25 * fabs(N)));
    return true;
}

// The dab force: the rider's foot pushes a leaning bike back up.
static void dab_force(Racer *racer, double roll, double V)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    double a = fabs(roll);
    double rt = roll >= 0 ? -M_PI / 8 : M_PI / 8;
    if (a < M_PI / 16)
        rt *= a / (M_PI / 16);
    const dReal *w = dBodyGetAngularVel(frame);
    dVector3 local;
    dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
    double wz = local[2];
    double F = 0;
    if (rt > 0 && rt > wz)
        F = -400;
    else if (rt < 0 && rt < wz)
        F = 400;
    if (a < M_PI / 32)
        F *= a / (M_PI / 32);
    if (racer->back_up < 0.125) {
        const RacerSetup &s = racer->setup;
        double lambda = lean_range(V, s.max_dab_speed, s.roll_limit_angle, 32) * 1.25;
        double steer = rt >= 0 ? -racer->steer : racer->steer;
        double sp = step_clamp(2 * (steer - 0.5), 0, 1);
        double k = step_clamp((a - lambda) / 0.25, 0, 1);
        F *= k + (1 - k) * sp;
        if (V > 5)
            F *= racer->slide_amount;
    }
    if (F == 0)
        return;
    dVector3 up;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    if (up[1] >= 0.707) {
        dBodyAddRelForceAtRelPos(frame, F, 0, 0, 0, 4, 0);
        dVector3 at;
        dBodyGetRelPointPos(frame, 0, 4, 0, at);
        dBodyAddForceAtPos(frame, 0, 0.125 * fabs(F), 0, at[0], at[1], at[2]);
    } else {
        dBodyAddForceAtRelPos(frame, 0, fabs(F), 0, 0, 4, 0);
    }
}

static void dab_and_align(Racer *racer, const WheelGround ground[2], const StepContext *ctx)
{
    const double h = PHYSICS_TICK;
    if (racer->crash_countdown > 0) {
        racer->dab_anim = (float)fmin(1.0, racer->dab_anim + 8 * h);
        return;
    }
    if (racer->dab == 0)
        return;
    const Terrain *terrain = ctx ? ctx->terrain : nullptr;
    if (!ground_for_dab(racer, ground, terrain))
        return;
    dBodyID frame = racer->bodies[BODY_FRAME];
    double V = step_body_speed(frame);
    if (V > racer->setup.max_dab_speed)
        return;
    double roll = roll_angle(frame);
    bool both = ground[WHEEL_FRONT].touching && ground[WHEEL_REAR].touching;
    if (V > 15 && !(both && fabs(roll) >= FAST_DAB_ROLL))
        return;
    racer->dab_anim = (float)fmin(1.0, racer->dab_anim + 8 * h);
    if (racer->setup.flags2 & SETUP_ARCADE)
        return;
    if (V >= 5) {
        if (racer->contact_timer > 0)
            return;
    } else {
        bool fallen = fabs(roll) > FALLEN_ROLL_LOW && fabs(roll) < FALLEN_ROLL_HIGH;
        bool racing = ctx && ctx->gates_race && racer->gates.gates_passed >= 1 &&
                      !racer->finished;
        bool align = fallen && racing;
        if (align && ctx->is_finished && ctx->is_finished(racer))
            align = false;
        if (align && (racer->setup.flags & SETUP_AUTO_ALIGN) && racer->back_up <= 0.125) {
            if (!auto_align(racer, ground, ctx))
                return;
        }
    }
    dab_force(racer, roll, V);
}

void racer_step(Racer *racer, const StepContext *ctx)
{
    if (!racer || !racer->bodies[BODY_FRAME])
        return;
    const double h = PHYSICS_TICK;
    int tick = ctx ? ctx->tick : 0;
    if (!is_racer_active(racer)) {
        step_leg_points(racer, ctx);
        return;
    }
    dBodyID frame = racer->bodies[BODY_FRAME];
    double V = step_body_speed(frame);

    int start = ctx ? ctx->race_start_tick : 0;
    if (racer->incident == 0 && (tick - start) * h > 2 && V < 5)
        racer->incident = 1;
    racer->contact_timer = racer->contact_timer <= 1 ? 0 : racer->contact_timer - 1;

    step_detect_crash(racer, ctx);
    if (racer->crash_countdown > 0)
        step_crashed_sequence(racer);

    float dab = racer->dab, front_brake = racer->front_brake, rear_brake = racer->rear_brake;
    WheelGround ground[2];
    racer_wheel_ground(racer, ground);

    if (racer->back_up > 0 && V < 5)
        back_up(racer, ctx);
    else if (racer->setup.flags & SETUP_AUTO_DAB)
        auto_dab(racer, ground);

    attach_rider_softly(racer);
    apply_suspension(racer);
    if (!(racer->setup.flags2 & SETUP_ARCADE))
        steer_control(racer, ground, ctx ? ctx->terrain : nullptr);
    else
        arcade_control(racer);  // does nothing while crashed
    drivetrain_step(racer, ground, tick);
    steering_damping(racer);
    if (tick > 1 && racer->crash_countdown == 0)
        joint_force_compensation(racer);
    dab_and_align(racer, ground, ctx);

    racer->dab = dab;
    racer->front_brake = front_brake;
    racer->rear_brake = rear_brake;

    step_leg_points(racer, ctx);
    const dReal *rv = dBodyGetLinearVel(racer->bodies[BODY_RIDER]);
    double *slot = racer->velocity_history[((tick % 4) + 4) % 4];
    slot[0] = rv[0];
    slot[1] = rv[1];
    slot[2] = rv[2];
}
