// Engine, clutch, gearbox and brakes. The engine is a flywheel driven by the torque
// tables; the clutch couples it to the rear wheel through a stiff torsion spring
// with a damper, and lets the spring slip past a quarter turn scaled by the
// engagement, which gives a smooth launch without a separate friction model. The
// brakes are the wheel hinges' motors held at zero speed.
#include "sim/drivetrain.h"

#include <cmath>

#include "sim/catalogue.h"
#include "sim/racer_joints.h"
#include "sim/world.h"

static double clampd(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

static double wrap_angle(double a)
{
    if (a > M_PI)
        a -= 2 * M_PI;
    else if (a < -M_PI)
        a += 2 * M_PI;
    return a;
}

static bool crashed(const Racer *racer)
{
    return racer->crash_countdown > 0;
}

void set_throttle(Racer *racer, float value)
{
    racer->throttle = crashed(racer) ? 0 : clampf(value, 0, 1);
}

void set_clutch(Racer *racer, float value)
{
    racer->clutch = clampf(value, 0, 1);
}

void set_front_brake(Racer *racer, float value)
{
    racer->front_brake = clampf(value, 0, 1);
}

void set_rear_brake(Racer *racer, float value)
{
    racer->rear_brake = clampf(value, 0, 1);
}

void set_steer(Racer *racer, float value)
{
    racer->steer = clampf(value, -1, 1);
}

void set_dab(Racer *racer, float value)
{
    racer->dab = crashed(racer) ? 0 : clampf(value, 0, 1);
}

void set_back_up(Racer *racer, float value)
{
    racer->back_up = crashed(racer) ? 0 : clampf(value, 0, 1);
}

void set_lean(Racer *racer, float value)
{
    racer->lean = crashed(racer) ? 0 : clampf(value, -1, 1);
}

void racer_wheel_ground(const Racer *racer, WheelGround out[2])
{
    for (int w = 0; w < 2; w++) {
        const double *v = racer->wheel_contacts[w].velocity;
        out[w].touching = racer->wheel_contacts[w].depth > 0;
        out[w].contact_speed = out[w].touching ? sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2])
                                               : 0;
    }
}

// ---------------------------------------------------------------------------
// Engine

double torque_table_at(const double table[TORQUE_POINTS], double rpm)
{
    double x = clampd(rpm / TORQUE_RPM_STEP, 0, TORQUE_POINTS - 1);
    int i = (int)floor(x);
    double f = x - i;
    int j = i + 1 > TORQUE_POINTS - 1 ? TORQUE_POINTS - 1 : i + 1;
    return table[i] + f * (table[j] - table[i]);
}

double engine_table_torque(const BikeModel *model, double rpm, double throttle)
{
    double closed = torque_table_at(model->closed_throttle_torque, rpm);
    double open = torque_table_at(model->open_throttle_torque, rpm);
    return closed + (open - closed) * throttle;
}

bool wheelie_cut(uint8_t setup_flags, bool front_touching, bool rear_touching, double pitch_rate)
{
    // A nose that is already falling needs no help; only a rising or steady
    // wheelie loses drive.
    return (setup_flags & SETUP_CUT_TORQUE_IN_WHEELIE) && !front_touching && rear_touching &&
           pitch_rate > -0.03125;
}

// Pitch rate of the frame, positive with the nose rising; 0 without bodies.
static double frame_pitch_rate(const Racer *racer)
{
    dBodyID frame = racer->bodies[BODY_FRAME];
    if (!frame)
        return 0;
    const dReal *w = dBodyGetAngularVel(frame);
    dVector3 local;
    dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
    return local[0];
}

double engine_torque(const Racer *racer, const WheelGround ground[2])
{
    double t = engine_table_torque(&racer->model, engine_rpm(racer), racer->throttle);
    if (t >= 0 && wheelie_cut(racer->setup.flags, ground[WHEEL_FRONT].touching,
                              ground[WHEEL_REAR].touching, frame_pitch_rate(racer)))
        t = 0;
    return t;
}

double engine_rpm(const Racer *racer)
{
    return racer->engine_speed * RAD_PER_SEC_TO_RPM;
}

// ---------------------------------------------------------------------------
// Gearbox

double gear_reduction(const Racer *racer)
{
    int g = racer->gear < 0 ? 0 : racer->gear >= GEAR_COUNT ? GEAR_COUNT - 1 : racer->gear;
    double ratio = racer->model.gear_ratios[g];
    if (ratio <= 0)
        return 0;
    return ratio * racer->model.primary_ratio * racer->setup.final_ratio;
}

int existing_gear(const BikeModel *model, int gear)
{
    gear = gear < 0 ? 0 : gear >= GEAR_COUNT ? GEAR_COUNT - 1 : gear;
    while (gear > 0 && model->gear_ratios[gear] <= 0)
        gear--;
    return gear;
}

int auto_shift_gear(const BikeModel *model, int gear, double wheel_rpm)
{
    if (model->downshift_rpm > wheel_rpm)
        gear--;
    else if (wheel_rpm > model->upshift_rpm)
        gear++;
    return existing_gear(model, gear);
}

bool auto_shift_allowed(int tick, double swingarm_angle, const WheelGround &rear)
{
    // Only with the rear suspension loaded and the tyre gripping: the wheel speed
    // then tells the road speed, not a spin in the air or on the spot.
    return tick % 32 == 0 && swingarm_angle < -0.01 &&
           (!rear.touching || rear.contact_speed * rear.contact_speed <= 4);
}

// ---------------------------------------------------------------------------
// Clutch

double auto_clutch_engagement(double rpm, double auto_clutch_rpms, double clutch_input)
{
    if (rpm > auto_clutch_rpms + 2000)
        return clutch_input;
    double e = clampd((rpm - auto_clutch_rpms) / 2000, 0, 1);
    return e < clutch_input ? e : clutch_input;
}

ClutchResult clutch_law(double engine_speed, double wheel_rate, double reduction, double windup,
                        double engagement, double clutch_input, double stiffness,
                        double damping)
{
    double x = clampd((engine_speed - wheel_rate * reduction) * damping, -500, 500);
    x += windup * stiffness;
    double e = x >= 0 ? engagement : clutch_input;
    x = clampd(x, -1000000, 1000000);

    double limit = e * (M_PI / 4);
    if (windup > limit)
        windup = limit;
    else if (windup < -limit)
        windup = -limit;

    ClutchResult r;
    r.torque = e * e * x;
    r.engagement = e;
    r.windup = windup;
    return r;
}

// ---------------------------------------------------------------------------
// Brakes

double front_brake_law(const RacerSetup *setup, double input, const WheelGround &front,
                       const WheelGround &rear)
{
    // A contact point sliding over the ground means a locked wheel: let go for a tick.
    if ((setup->flags & SETUP_FRONT_ANTILOCK) && front.touching && front.contact_speed > 2)
        return 0;
    // Front down and rear up is a stoppie starting.
    if ((setup->flags & SETUP_RELEASE_FRONT_IN_STOPPIE) && front.touching && !rear.touching)
        return 0;
    return setup->brake_torque * input;
}

double rear_brake_law(const RacerSetup *setup, double input, const WheelGround &rear)
{
    if ((setup->flags & SETUP_REAR_ANTILOCK) && rear.touching && rear.contact_speed > 2)
        return 0;
    return setup->rear_brake_torque * input;
}

static void set_brake_motor(dJointID hinge, double torque)
{
    dJointSetHingeParam(hinge, dParamVel, 0);
    dJointSetHingeParam(hinge, dParamFMax, torque);
}

// ---------------------------------------------------------------------------
// The step

void drivetrain_step(Racer *racer, const WheelGround ground[2], int tick)
{
    dJointID rear_axle = racer->joints[JOINT_REAR_AXLE];
    if (!racer->bodies[BODY_FRAME] || !rear_axle)
        return;
    const BikeModel *model = &racer->model;
    const RacerSetup *setup = &racer->setup;
    double wheel_angle = dJointGetHingeAngle(rear_axle);
    double wheel_rate = dJointGetHingeAngleRate(rear_axle);

    if ((setup->flags & SETUP_AUTO_SHIFT) &&
        auto_shift_allowed(tick, swingarm_angle(racer), ground[WHEEL_REAR]))
        racer->gear = auto_shift_gear(model, racer->gear,
                                      wheel_rate * gear_reduction(racer) * RAD_PER_SEC_TO_RPM);

    double reduction = gear_reduction(racer);
    if (reduction <= 0) // only a corrupt model lacks first gear; keep the numbers finite
        reduction = 1;
    double te = engine_torque(racer, ground);
    double windup = wrap_angle(racer->clutch_angle - wheel_angle);
    double e = auto_clutch_engagement(engine_rpm(racer), setup->auto_clutch_rpms, racer->clutch);
    ClutchResult c = clutch_law(racer->engine_speed, wheel_rate, reduction, windup, e,
                                racer->clutch, model->clutch_stiffness, model->clutch_damping);
    if (c.windup != windup)
        racer->clutch_angle = wheel_angle + c.windup;

    dBodyAddRelTorque(racer->bodies[BODY_REAR_WHEEL], -c.torque, 0, 0);
    dBodyAddRelTorque(racer->bodies[BODY_FRAME], c.torque, 0, 0);

    racer->engine_speed +=
        PHYSICS_TICK * (te - c.torque / reduction) / model->engine_inertia;
    racer->clutch_angle =
        wrap_angle(racer->clutch_angle + PHYSICS_TICK * racer->engine_speed / reduction);

    set_brake_motor(racer->joints[JOINT_FRONT_AXLE],
                    front_brake_law(setup, racer->front_brake, ground[WHEEL_FRONT],
                                    ground[WHEEL_REAR]));
    set_brake_motor(rear_axle, rear_brake_law(setup, racer->rear_brake, ground[WHEEL_REAR]));
}
