// Shape against shape: the racer's wheels and part shapes against the track's
// static objects and against the parts of other racers, with the crash rule for a
// rider hitting an object and the contact-timer rules of rider collisions. Pairs
// are rejected by their bounding radii before any sphere pair is tested, each
// sphere by the other shape's bounding sphere, and a whole racer by its reach.
// Every rejection is by the triangle inequality with a small margin, so it only
// skips tests that could find nothing. Scratch lists live in one file-static
// record and keep their storage, so a tick allocates nothing once they have grown.
#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/contact.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track.h"

static constexpr double MAX_SHAPE_FORCE = 1000;     // lbf, "force" mode
// Added to every rejection distance: bounding radii are summed in single precision,
// and a rejected pair must miss by more than rounding could ever change.
static constexpr double CULL_MARGIN = 1e-4;         // ft

// A sphere placed in the world.
struct PlacedSphere {
    double centre[3];
    double radius, friction, stiffness, damping;
};

static void place(const ShapeSphere &s, const double pos[3], const double rot[12],
                  PlacedSphere *out)
{
    for (int k = 0; k < 3; k++)
        out->centre[k] = pos[k] + rot[k * 4] * s.centre[0] + rot[k * 4 + 1] * s.centre[1] +
                         rot[k * 4 + 2] * s.centre[2];
    out->radius = s.radius;
    out->friction = s.friction;
    out->stiffness = s.stiffness;
    out->damping = s.damping;
}

static void point_velocity(dBodyID b, const double p[3], double out[3])
{
    out[0] = out[1] = out[2] = 0;
    if (!b)
        return;
    dVector3 v;
    dBodyGetPointVel(b, p[0], p[1], p[2], v);
    for (int k = 0; k < 3; k++)
        out[k] = v[k];
}

static double dot3(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// One sphere pair; the hit's normal points from sphere 1 to sphere 2.
static bool sphere_pair(const PlacedSphere &s1, dBodyID b1, const PlacedSphere &s2, dBodyID b2,
                        ContactMode mode, ContactHit *hit)
{
    if (!(sphere_sphere(s1.centre, s1.radius, s2.centre, s2.radius, hit) > 0))
        return false;
    if (mode == CONTACT_TEST)
        return true;
    ContactSoftness soft = contact_softness(std::min(s1.stiffness, s2.stiffness),
                                            std::min(s1.damping, s2.damping));
    if (mode == CONTACT_JOINT) {
        ContactJointParams p = {};
        // ODE separates body1 along the normal; a static side is never body1.
        double sign = -1;
        p.body1 = b1;
        p.body2 = b2;
        if (!b1) {
            p.body1 = b2;
            p.body2 = nullptr;
            sign = 1;
        }
        if (!p.body1)
            return true;
        for (int k = 0; k < 3; k++) {
            p.point[k] = hit->point[k];
            p.normal[k] = hit->normal[k] * sign;
        }
        p.depth = hit->depth;
        p.mu = std::min(s1.friction, s2.friction);
        p.erp = soft.erp;
        p.cfm = soft.cfm;
        make_contact_joint(&p);
        return true;
    }
    double va[3], vb[3];
    point_velocity(b1, hit->point, va);
    point_velocity(b2, hit->point, vb);
    double f = (dot3(va, hit->normal) - dot3(vb, hit->normal)) * soft.kd + hit->depth * soft.kp;
    f = std::clamp(f, -MAX_SHAPE_FORCE, MAX_SHAPE_FORCE);
    const double *n = hit->normal, *p = hit->point;
    if (b2 && dBodyIsEnabled(b2))
        dBodyAddForceAtPos(b2, f * n[0], f * n[1], f * n[2], p[0], p[1], p[2]);
    if (b1 && dBodyIsEnabled(b1))
        dBodyAddForceAtPos(b1, -f * n[0], -f * n[1], -f * n[2], p[0], p[1], p[2]);
    return true;
}

static double distance(const double a[3], const double b[3])
{
    double d[3] = {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
    return std::sqrt(dot3(d, d));
}

// Most sphere pairs of two nearby shapes are apart; this settles them without the
// square root, leaving the pairs near touching distance to sphere_sphere.
static bool clearly_apart(const PlacedSphere &a, const PlacedSphere &b)
{
    double d[3] = {a.centre[0] - b.centre[0], a.centre[1] - b.centre[1],
                   a.centre[2] - b.centre[2]};
    double sum = a.radius + b.radius;
    return dot3(d, d) > sum * sum * (1 + 1e-9) + 1e-12;
}

// The second shape's spheres, placed once per shape pair. Shapes with more spheres
// than this are placed sphere by sphere inside the loop instead, in the same order.
static constexpr int PLACED_MAX = 128;

static struct {
    PlacedSphere second[PLACED_MAX];
    bool second_near[PLACED_MAX];       // reaches the first shape's bounding sphere
    std::vector<int> statues;           // statues near the racer
} scratch;

bool shape_contacts(const Shape *s1, dBodyID b1, const double pos1[3], const double rot1[12],
                    const Shape *s2, dBodyID b2, const double pos2[3], const double rot2[12],
                    ContactMode mode)
{
    if (!s1 || !s2)
        return false;
    if (!(distance(pos1, pos2) < s1->bounding_radius + s2->bounding_radius))
        return false;
    // Only the spheres of each shape that reach the other's bounding sphere can
    // touch; the pairs that are tested keep the order of the full double loop.
    size_t count = s2->spheres.size();
    bool placed_once = count <= PLACED_MAX;
    double reach1 = s1->bounding_radius + CULL_MARGIN;
    bool any_near = !placed_once;
    for (size_t k = 0; placed_once && k < count; k++) {
        PlacedSphere &placed = scratch.second[k];
        place(s2->spheres[k], pos2, rot2, &placed);
        scratch.second_near[k] = distance(placed.centre, pos1) < placed.radius + reach1;
        any_near |= scratch.second_near[k];
    }
    if (!any_near)
        return false;
    double reach2 = s2->bounding_radius + CULL_MARGIN;
    bool touched = false;
    for (const ShapeSphere &sphere : s1->spheres) {
        PlacedSphere first;
        place(sphere, pos1, rot1, &first);
        if (!(distance(first.centre, pos2) < first.radius + reach2))
            continue;
        for (size_t k = 0; k < count; k++) {
            PlacedSphere other;
            if (placed_once) {
                if (!scratch.second_near[k])
                    continue;
                other = scratch.second[k];
            } else {
                place(s2->spheres[k], pos2, rot2, &other);
            }
            if (clearly_apart(first, other))
                continue;
            ContactHit hit;
            if (sphere_pair(first, b1, other, b2, mode, &hit))
                touched = true;
        }
    }
    return touched;
}

static void body_pose(dBodyID b, double pos[3], double rot[12])
{
    const dReal *p = dBodyGetPosition(b), *r = dBodyGetRotation(b);
    for (int k = 0; k < 3; k++)
        pos[k] = p[k];
    for (int k = 0; k < 12; k++)
        rot[k] = r[k];
}

bool wheel_shape_contacts(Racer *racer, int wheel, const Shape *s2, dBodyID b2,
                          const double pos2[3], const double rot2[12], ContactMode mode)
{
    if (!s2)
        return false;
    const WheelRecord &w =
        wheel == CONTACT_FRONT ? racer->model.front_wheel : racer->model.rear_wheel;
    dBodyID body = racer->bodies[wheel == CONTACT_FRONT ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL];
    double centre[3], rot[12];
    body_pose(body, centre, rot);
    if (!(distance(centre, pos2) <
          w.tyre_centre_radius + w.tyre_section_radius + s2->bounding_radius))
        return false;
    double axle[3] = {rot[0], rot[4], rot[8]};
    Racer::WheelContact &rec = racer->wheel_contacts[wheel];
    bool may_take_over = rec.depth == 0 || rec.from_shape;
    bool touched = false;
    double tube_reach = w.tyre_section_radius + CULL_MARGIN;
    for (const ShapeSphere &sphere : s2->spheres) {
        PlacedSphere other;
        place(sphere, pos2, rot2, &other);
        // Every rim point lies in the wheel's plane, within R of the centre: a sphere
        // farther than the tube from that plane or from that disc cannot touch.
        double rel[3] = {other.centre[0] - centre[0], other.centre[1] - centre[1],
                         other.centre[2] - centre[2]};
        if (!(std::fabs(dot3(rel, axle)) < other.radius + tube_reach) ||
            !(std::sqrt(dot3(rel, rel)) < w.tyre_centre_radius + other.radius + tube_reach))
            continue;
        // The tube around the rim point nearest to the sphere stands in for the tyre.
        PlacedSphere tube;
        nearest_circle_point(centre, axle, w.tyre_centre_radius, other.centre, tube.centre);
        tube.radius = w.tyre_section_radius;
        tube.friction = 1;
        tube.stiffness = 25000;
        tube.damping = 2500;
        ContactHit hit;
        if (!sphere_pair(tube, body, other, b2, mode, &hit))
            continue;
        touched = true;
        if (may_take_over && hit.depth > rec.depth) {
            double v[3];
            point_velocity(body, hit.point, v);
            for (int k = 0; k < 3; k++) {
                rec.point[k] = hit.point[k];
                rec.velocity[k] = v[k];
                rec.normal[k] = -hit.normal[k];
            }
            rec.depth = hit.depth;
            rec.from_shape = true;
        }
    }
    return touched;
}

static const int PART_ORDER[RACER_BODY_COUNT] = {BODY_FRONT_WHEEL, BODY_REAR_WHEEL, BODY_FRAME,
                                                 BODY_FORK_UPPER,  BODY_FORK_LOWER, BODY_SWINGARM,
                                                 BODY_RIDER};

static bool is_wheel(int body)
{
    return body == BODY_FRONT_WHEEL || body == BODY_REAR_WHEEL;
}

static int wheel_of(int body)
{
    return body == BODY_FRONT_WHEEL ? CONTACT_FRONT : CONTACT_REAR;
}

static bool is_front(int body)
{
    return body == BODY_FRONT_WHEEL || body == BODY_FORK_LOWER;
}

// One part of A against one part of B; wheels are tori, everything else spheres.
static bool part_pair(Racer *a, int pa, Racer *b, int pb, ContactMode mode)
{
    double pos_a[3], rot_a[12], pos_b[3], rot_b[12];
    body_pose(a->bodies[pa], pos_a, rot_a);
    body_pose(b->bodies[pb], pos_b, rot_b);
    if (is_wheel(pa))
        return wheel_shape_contacts(a, wheel_of(pa), b->shapes[pb], b->bodies[pb], pos_b, rot_b,
                                    mode);
    if (is_wheel(pb))
        return wheel_shape_contacts(b, wheel_of(pb), a->shapes[pa], a->bodies[pa], pos_a, rot_a,
                                    mode);
    return shape_contacts(a->shapes[pa], a->bodies[pa], pos_a, rot_a, b->shapes[pb],
                          b->bodies[pb], pos_b, rot_b, mode);
}

// Pairs a network peer's own reports decide: the local rider's back half against
// the peer's front end.
static bool peer_test_pair(int pa, int pb)
{
    bool back = pa == BODY_REAR_WHEEL || pa == BODY_FRAME || pa == BODY_SWINGARM ||
                pa == BODY_RIDER;
    bool front = pb == BODY_FRONT_WHEEL || pb == BODY_FORK_UPPER || pb == BODY_FORK_LOWER;
    return back && front;
}

double racer_reach(const Racer *racer)
{
    const dReal *frame = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    double reach = 0;
    for (int body = 0; body < RACER_BODY_COUNT; body++) {
        double radius = racer->shapes[body] ? racer->shapes[body]->bounding_radius : 0.0;
        if (is_wheel(body)) {
            const WheelRecord &w = body == BODY_FRONT_WHEEL ? racer->model.front_wheel
                                                            : racer->model.rear_wheel;
            radius = std::max(radius, (double)w.tyre_centre_radius + w.tyre_section_radius);
        }
        const dReal *p = dBodyGetPosition(racer->bodies[body]);
        double d[3] = {p[0] - frame[0], p[1] - frame[1], p[2] - frame[2]};
        reach = std::max(reach, std::sqrt(dot3(d, d)) + radius);
    }
    return reach + CULL_MARGIN;
}

bool racers_out_of_reach(const Racer *a, double reach_a, const Racer *b, double reach_b)
{
    const dReal *pa = dBodyGetPosition(a->bodies[BODY_FRAME]);
    const dReal *pb = dBodyGetPosition(b->bodies[BODY_FRAME]);
    double d[3] = {pa[0] - pb[0], pa[1] - pb[1], pa[2] - pb[2]};
    return dot3(d, d) > (reach_a + reach_b) * (reach_a + reach_b);
}

RiderTouch rider_contacts(Racer *a, Racer *b, ContactMode mode, bool peer_test)
{
    RiderTouch touch = {};
    if (!a || !b || a == b)
        return touch;
    if (racers_out_of_reach(a, racer_reach(a), b, racer_reach(b)))
        return touch;
    for (int pa : PART_ORDER) {
        for (int pb : PART_ORDER) {
            ContactMode m = peer_test && peer_test_pair(pa, pb) ? CONTACT_TEST : mode;
            if (!part_pair(a, pa, b, pb, m))
                continue;
            touch.a_parts |= 1u << pa;
            touch.b_parts |= 1u << pb;
            if (is_front(pa))
                touch.a_hit_b = true;
            if (is_front(pb))
                touch.b_hit_a = true;
            if (is_front(pa) && is_front(pb))
                touch.front_to_front = true;
        }
    }
    if (peer_test && touch.b_parts)
        nudge_racer(b);
    return touch;
}

ContactMode rider_contact_mode(const Racer *a, const Racer *b, int frame)
{
    bool a_had = a->had_rider_contact && a->rider_contact_frame == frame;
    bool b_had = b->had_rider_contact && b->rider_contact_frame == frame;
    return a_had || b_had ? CONTACT_FORCE : CONTACT_JOINT;
}

static double body_speed(dBodyID b)
{
    const dReal *v = dBodyGetLinearVel(b);
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

static double racer_speed(const Racer *r)
{
    return body_speed(r->bodies[BODY_FRAME]);
}

static void raise_timer(Racer *r, float value)
{
    if (racer_speed(r) > 10)
        r->contact_timer = std::max(r->contact_timer, value);
}

static void record_contact(Racer *r, int frame)
{
    if (!r->had_rider_contact)
        r->first_rider_contact_frame = frame;
    if (!r->had_rider_contact || r->rider_contact_frame < frame - 1)
        r->touch_run_frame = frame;
    r->had_rider_contact = true;
    r->rider_contact_frame = frame;
}

void rider_contact_rules(Racer *a, Racer *b, const RiderTouch &touch, int frame)
{
    if (!touch.a_parts && !touch.b_parts)
        return;
    if (touch.front_to_front) {
        raise_timer(a, 192);
        raise_timer(b, 192);
    } else if (touch.a_hit_b && b->crash_countdown == 0 && racer_speed(b) >= 5) {
        raise_timer(a, 256);
    } else if (touch.b_hit_a && a->crash_countdown == 0 && racer_speed(a) >= 5) {
        raise_timer(b, 256);
    }
    record_contact(a, frame);
    record_contact(b, frame);
}

static int contact_frame;

void contacts_set_frame(int frame)
{
    contact_frame = frame;
}

bool static_object_contacts(Racer *racer)
{
    const Track &tr = track();
    const dReal *frame = dBodyGetPosition(racer->bodies[BODY_FRAME]);
    std::vector<int> &near = scratch.statues;
    statues_near_into((float)frame[0], (float)frame[2], &near);
    double reach = near.empty() ? 0 : racer_reach(racer);
    bool any = false;
    for (int index : near) {
        if (index < 0 || (size_t)index >= tr.statues.size())
            continue;
        const Statue &st = tr.statues[index];
        if (!st.shape)
            continue;
        double pos[3] = {st.x, st.y, st.z};
        // No part reaches farther from the frame than the racer's reach.
        double d[3] = {pos[0] - frame[0], pos[1] - frame[1], pos[2] - frame[2]};
        double limit = reach + st.shape->bounding_radius + CULL_MARGIN;
        if (!(dot3(d, d) < limit * limit))
            continue;
        // The statue's rows are its own axes in world terms; as a body rotation
        // (world = R * local) that is their transpose.
        double rot[12] = {};
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++)
                rot[r * 4 + c] = st.orientation[c][r];
        bool touched = false;
        for (int wheel = CONTACT_FRONT; wheel <= CONTACT_REAR; wheel++)
            touched |= wheel_shape_contacts(racer, wheel, st.shape, nullptr, pos, rot,
                                            CONTACT_JOINT);
        for (int part : {BODY_FRAME, BODY_FORK_UPPER, BODY_FORK_LOWER, BODY_SWINGARM,
                         BODY_RIDER}) {
            double ppos[3], prot[12];
            body_pose(racer->bodies[part], ppos, prot);
            if (!shape_contacts(racer->shapes[part], racer->bodies[part], ppos, prot, st.shape,
                                nullptr, pos, rot, CONTACT_JOINT))
                continue;
            touched = true;
            if (part == BODY_RIDER && racer->crash_countdown == 0 &&
                body_speed(racer->bodies[BODY_RIDER]) > 20)
                racer->crash_requested = true;
        }
        // A starting gate leaned on holds for the frame (the race reads this).
        if (touched)
            track_edit().statues[index].last_touched_frame = contact_frame;
        any |= touched;
    }
    return any;
}
