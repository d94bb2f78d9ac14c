// Joints, suspension and rider attachment of a racer. The bike's own joints live
// as long as the racer; everything made per tick (rider contacts, tethers) goes
// into the world's contact group, which is emptied after each world step.
#include "sim/racer_joints.h"

#include <cmath>

#include "sim/world.h"

static double clampd(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

// The steering axis, from the fork lower up to the steering head (not normalised).
static void steering_axis(const BikeModel &m, double out[3])
{
    out[0] = m.steering_head.x - m.fork_lower_position.x;
    out[1] = m.steering_head.y - m.fork_lower_position.y;
    out[2] = m.steering_head.z - m.fork_lower_position.z;
}

static dJointID make_hinge(dBodyID a, dBodyID b, const BikeVec3 &anchor, const double axis[3])
{
    dJointID j = dJointCreateHinge(physics_world(), nullptr);
    dJointAttach(j, a, b);
    dJointSetHingeAnchor(j, anchor.x, anchor.y, anchor.z);
    dJointSetHingeAxis(j, axis[0], axis[1], axis[2]);
    return j;
}

void create_racer_joints(Racer *racer)
{
    const BikeModel &m = racer->model;
    dBodyID *b = racer->bodies;
    dWorldID world = physics_world();
    const double x_axis[3] = {1, 0, 0};
    double steer[3];
    steering_axis(m, steer);

    dJointID *j = racer->joints;
    j[JOINT_FRONT_AXLE] =
        make_hinge(b[BODY_FORK_LOWER], b[BODY_FRONT_WHEEL], m.front_wheel.axle, x_axis);
    j[JOINT_REAR_AXLE] =
        make_hinge(b[BODY_SWINGARM], b[BODY_REAR_WHEEL], m.rear_wheel.axle, x_axis);

    j[JOINT_STEERING] = make_hinge(b[BODY_FORK_UPPER], b[BODY_FRAME], m.steering_head, steer);
    dJointSetHingeParam(j[JOINT_STEERING], dParamLoStop, -M_PI / 4);
    dJointSetHingeParam(j[JOINT_STEERING], dParamHiStop, M_PI / 4);

    j[JOINT_FORK] = dJointCreateSlider(world, nullptr);
    dJointAttach(j[JOINT_FORK], b[BODY_FORK_UPPER], b[BODY_FORK_LOWER]);
    dJointSetSliderAxis(j[JOINT_FORK], steer[0], steer[1], steer[2]);
    dJointSetSliderParam(j[JOINT_FORK], dParamBounce, 0);
    dJointSetSliderParam(j[JOINT_FORK], dParamLoStop, -m.fork_travel);
    dJointSetSliderParam(j[JOINT_FORK], dParamHiStop, 0);

    j[JOINT_SWINGARM_PIVOT] = make_hinge(b[BODY_SWINGARM], b[BODY_FRAME], m.swingarm_pivot, x_axis);
    dJointSetHingeParam(j[JOINT_SWINGARM_PIVOT], dParamBounce, 0);
    dJointSetHingeParam(j[JOINT_SWINGARM_PIVOT], dParamLoStop, -m.swingarm_travel);
    dJointSetHingeParam(j[JOINT_SWINGARM_PIVOT], dParamHiStop, 0);

    j[JOINT_RIDER_MOUNT] = dJointCreateHinge2(world, nullptr);
    attach_rider_mount(racer);

    for (int i = 0; i < RACER_JOINT_COUNT; i++)
        dJointSetFeedback(j[i], &racer->feedback[i]);
}

// The mount's anchor lies far ahead of the bike, so the rider swings on a long arm
// about the x axis: nearly a straight fore-aft and vertical travel.
void attach_rider_mount(Racer *racer)
{
    const BikeModel &m = racer->model;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dJointID j = racer->joints[JOINT_RIDER_MOUNT];
    dJointAttach(j, racer->bodies[BODY_RIDER], frame);
    dVector3 anchor, axis1, axis2;
    dBodyGetRelPointPos(frame, 0 - m.frame_position.x, m.rider_position.y - m.frame_position.y,
                        -50 - m.frame_position.z, anchor);
    dBodyVectorToWorld(frame, 0, 1, 1, axis1);
    dBodyVectorToWorld(frame, 1, 0, 0, axis2);
    dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
    dJointSetHinge2Axes(j, axis1, axis2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
}

void detach_rider_mount(Racer *racer)
{
    dJointAttach(racer->joints[JOINT_RIDER_MOUNT], nullptr, nullptr);
}

double steering_angle(const Racer *racer)
{
    return dJointGetHingeAngle(racer->joints[JOINT_STEERING]);
}

double swingarm_angle(const Racer *racer)
{
    return dJointGetHingeAngle(racer->joints[JOINT_SWINGARM_PIVOT]);
}

double fork_position(const Racer *racer)
{
    return dJointGetSliderPosition(racer->joints[JOINT_FORK]);
}

// ---------------------------------------------------------------------------
// Suspension

// Pressure of the trapped air rises adiabatically (exponent 1.4) as the gap above
// the oil shrinks; 82.46169 lbf is the atmosphere on the two fork pistons.
double fork_air_spring(double travel, double gap, double x)
{
    const double ATMOSPHERE = 82.46169;
    return ATMOSPHERE * pow((travel + gap) / (travel + gap - x), 1.4) - ATMOSPHERE;
}

double fork_force(const RacerSetup *s, double travel, double p, double r)
{
    double x = clampd(-p, 0, travel);
    double damping = r >= 0 ? s->fork_rebound : s->fork_compression;
    double spring = (s->fork_preload - p) * s->fork_spring_rate - r * damping;
    double air = fork_air_spring(travel, s->fork_oil_level, x);
    // The spring is preloaded against the top-out stop: near full extension the
    // force fades out so the fork does not kick the stop with the whole preload.
    double q = -32 * p / travel;
    if (q < 0)
        return 0;
    return (air + spring) * (q < 1 ? q : 1);
}

double shock_torque(const RacerSetup *s, const BikeModel *m, double a, double w)
{
    double u = -a / m->swingarm_travel;
    double rise = (m->linkage_b - m->linkage_a) / m->swingarm_travel * u;
    double travel = m->linkage_a * u + 0.5 * u * rise;
    double leverage = m->linkage_a + rise;
    double damping = -w * (w >= 0 ? s->shock_rebound : s->shock_compression);
    double ramp = clampd(-32 * a / m->swingarm_travel, 0, 1);
    return (leverage * (s->shock_spring_rate * (travel + s->shock_preload)) +
            leverage * leverage * damping) *
           ramp;
}

// The force law acts through the joint's motor: a motor pushing to extend at a
// speed it never reaches applies exactly its maximum force; a motor held at 0
// resists any motion with up to that force.
void apply_suspension(Racer *racer)
{
    dJointID fork = racer->joints[JOINT_FORK];
    double f = fork_force(&racer->setup, racer->model.fork_travel, dJointGetSliderPosition(fork),
                          dJointGetSliderPositionRate(fork));
    dJointSetSliderParam(fork, dParamVel, f >= 0 ? 100 : 0);
    dJointSetSliderParam(fork, dParamFMax, fabs(f));

    dJointID pivot = racer->joints[JOINT_SWINGARM_PIVOT];
    double t = shock_torque(&racer->setup, &racer->model, dJointGetHingeAngle(pivot),
                            dJointGetHingeAngleRate(pivot));
    dJointSetHingeParam(pivot, dParamVel, t >= 0 ? 100 : 0);
    dJointSetHingeParam(pivot, dParamFMax, fabs(t));
}

// ---------------------------------------------------------------------------
// Rider attachment

// Rider springs are tuned for a 4.6875 slug rider and scale with the rider's mass.
static double rider_mass_scale(double rider_mass)
{
    return rider_mass * 0.21333333;
}

// Beyond these offsets from the seat the setup springs give way to a stiff hold.
static const double HOLD = 2500;

void rider_attachment_terms(const RacerSetup *s, double rider_mass, double eu, double ez,
                            double dab, double lean, RiderSoftContact *fore,
                            RiderSoftContact *vertical)
{
    double scale = rider_mass_scale(rider_mass);

    double target = clampd(eu * (0.5 + 0.5 * dab) - lean, -0.75, 0.75);
    double delta = ez - target;
    fore->sign = delta >= 0 ? 1 : -1;
    fore->depth = fabs(delta);
    if (ez >= -0.75 && ez <= 0.75) {
        fore->stiffness = s->rider_zspring * 600 + fabs(delta) * 100;
        fore->damping = 0;
    } else {
        fore->stiffness = fore->damping = HOLD;
    }
    fore->stiffness *= scale;
    fore->damping *= scale;
    fore->made = fore->stiffness > 0;

    double dv = eu + 0.125 - 0.5 * dab;
    vertical->sign = dv >= 0 ? 1 : -1;
    vertical->depth = fabs(dv);
    if (eu >= -0.75 && eu <= 0.5) {
        vertical->stiffness = s->rider_yspring * 400;
        vertical->damping = s->rider_ydamping * 100;
    } else {
        vertical->stiffness = vertical->damping = HOLD;
    }
    vertical->stiffness *= scale;
    vertical->damping *= scale;
    vertical->made = vertical->stiffness + vertical->damping > 0;
}

// A frictionless soft contact from body a to body b; ODE pushes a along the normal.
static void soft_contact(dBodyID a, dBodyID b, const double position[3], const double normal[3],
                         double depth, double stiffness, double damping)
{
    double h = PHYSICS_TICK;
    dContact c = {};
    c.surface.mode = dContactSoftERP | dContactSoftCFM;
    c.surface.mu = 0;
    c.surface.soft_erp = h * stiffness / (h * stiffness + damping);
    c.surface.soft_cfm = 1 / (h * stiffness + damping);
    for (int i = 0; i < 3; i++) {
        c.geom.pos[i] = position[i];
        c.geom.normal[i] = normal[i];
    }
    c.geom.depth = depth;
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &c);
    dJointAttach(j, a, b);
}

void attach_rider_softly(Racer *racer)
{
    const BikeModel &m = racer->model;
    dBodyID frame = racer->bodies[BODY_FRAME];
    dBodyID rider = racer->bodies[BODY_RIDER];
    dVector3 up, back, seat;
    dBodyVectorToWorld(frame, 0, 1, 0, up);
    dBodyVectorToWorld(frame, 0, 0, 1, back);
    dBodyGetRelPointPos(frame, m.rider_position.x - m.frame_position.x,
                        m.rider_position.y - m.frame_position.y,
                        m.rider_position.z - m.frame_position.z, seat);
    const dReal *r = dBodyGetPosition(rider);
    double e[3] = {seat[0] - r[0], seat[1] - r[1], seat[2] - r[2]};
    double eu = e[0] * up[0] + e[1] * up[1] + e[2] * up[2];
    double ez = e[0] * back[0] + e[1] * back[1] + e[2] * back[2];

    RiderSoftContact fore, vertical;
    rider_attachment_terms(&racer->setup, m.rider_mass, eu, ez, racer->dab, racer->lean, &fore,
                           &vertical);
    double position[3] = {r[0], r[1], r[2]};
    if (fore.made) {
        double n[3] = {back[0] * fore.sign, back[1] * fore.sign, back[2] * fore.sign};
        soft_contact(rider, frame, position, n, fore.depth, fore.stiffness, fore.damping);
    }
    if (vertical.made) {
        double n[3] = {up[0] * vertical.sign, up[1] * vertical.sign, up[2] * vertical.sign};
        soft_contact(rider, frame, position, n, vertical.depth, vertical.stiffness,
                     vertical.damping);
    }

    double cz = rider_mass_scale(m.rider_mass) * (racer->setup.rider_zdamping * 30 + 5);
    dJointID mount = racer->joints[JOINT_RIDER_MOUNT];
    dJointSetHinge2Param(mount, dParamSuspensionERP, 0);
    dJointSetHinge2Param(mount, dParamSuspensionCFM, 1 / cz);
}

// ---------------------------------------------------------------------------
// Tether

bool tether(dBodyID a, const double point_a[3], dBodyID b, const double point_b[3], double limit)
{
    dVector3 wa, wb;
    dBodyGetRelPointPos(a, point_a[0], point_a[1], point_a[2], wa);
    dBodyGetRelPointPos(b, point_b[0], point_b[1], point_b[2], wb);
    double n[3] = {wb[0] - wa[0], wb[1] - wa[1], wb[2] - wa[2]};
    double distance = sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(distance > limit) || distance <= 0)
        return false;
    // The normal keeps the separation's length: the pull grows with the distance.
    double position[3] = {wa[0], wa[1], wa[2]};
    soft_contact(a, b, position, n, distance - limit, 5000, 500);
    return true;
}
