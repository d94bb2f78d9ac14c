// Contacts of a racer: the tyre model and the part shapes against the terrain,
// static objects and other riders, turned into ODE contact joints in the contact
// group before each world step. ODE's collision library is not used.
//
// The terrain is seen as triangles over its grid cells (the checkerboard split of
// the terrain module); sample indices clamp to the grid, so outside it the border
// heights continue. A body so far off that its cells cannot be counted in an int,
// or whose position is not finite, has no terrain contact. Triangles, cells and
// whole part shapes that provably cannot give the deepest hit are skipped before
// the exact tests run; the contacts made are those of testing everything.
#include "sim/contact.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "sim/assists.h"
#include "sim/racer.h"
#include "sim/world.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track.h"

static constexpr double TICK = PHYSICS_TICK;
// More candidate cells than this along an axis means a broken position or scale.
static constexpr int MAX_CELL_SPAN = 256;

static const int PART_BODIES[5] = {BODY_FRAME, BODY_FORK_UPPER, BODY_FORK_LOWER, BODY_SWINGARM,
                                   BODY_RIDER};

ContactSoftness contact_softness(double kp, double kd)
{
    ContactSoftness s;
    s.kp = kp;
    s.kd = kd;
    double denominator = TICK * kp + kd;
    if (!(denominator > 0)) {
        // No spring and no damper: as soft as ODE allows, never a division by zero.
        s.erp = 0;
        s.cfm = 1e10;
        return s;
    }
    s.erp = TICK * kp / denominator;
    s.cfm = 1 / denominator;
    return s;
}

ContactSoftness tyre_softness(double depth, double tube_radius)
{
    double q = tube_radius > 0 ? std::min(1.0, depth / tube_radius) : 1.0;
    if (!(q > 0))
        q = 0;
    double f = q * q * q;
    return contact_softness(24000 * f + 1000, 2300 * f + 200);
}

double tile_friction(const TileType *tile, double v2)
{
    int count = std::min(tile->friction_count, (int)FRICTION_POINTS_MAX);
    if (count <= 0)
        return 0;
    const FrictionPoint *p = tile->friction;
    int i = 0;
    while (i < count && p[i].speed != 0 && !((double)p[i].speed * p[i].speed > v2))
        i++;
    if (i == 0)
        return p[0].mu;
    if (i == count || p[i].speed == 0)
        return p[i - 1].mu;
    double s0 = (double)p[i - 1].speed * p[i - 1].speed, s1 = (double)p[i].speed * p[i].speed;
    double k = s1 > s0 ? std::clamp((v2 - s0) / (s1 - s0), 0.0, 1.0) : 1.0;
    return p[i - 1].mu + (p[i].mu - p[i - 1].mu) * k;
}

double tile_roll_resistance(const TileType *tile, double u, double q)
{
    int count = std::min(tile->roll_resist_count, (int)ROLL_RESIST_POINTS_MAX);
    if (count <= 0)
        return 0;
    const RollResistPoint *p = tile->roll_resist;
    int i = 0;
    while (i < count && p[i].speed != 0 && !(p[i].speed > u))
        i++;
    double light, full;
    if (i == 0) {
        light = p[0].light;
        full = p[0].full;
    } else if (i == count || p[i].speed == 0) {
        light = p[i - 1].light;
        full = p[i - 1].full;
    } else {
        double span = (double)p[i].speed - p[i - 1].speed;
        double k = span > 0 ? std::clamp((u - p[i - 1].speed) / span, 0.0, 1.0) : 1.0;
        light = p[i - 1].light + (p[i].light - p[i - 1].light) * k;
        full = p[i - 1].full + (p[i].full - p[i - 1].full) * k;
    }
    return light + (full - light) * q;
}

double wheel_friction_factor(bool arcade, double roll)
{
    if (!arcade)
        return 1;
    return 1 - 0.375 * std::clamp(4 * std::fabs(roll) / M_PI, 0.0, 1.0);
}

bool make_contact_joint(const ContactJointParams *p)
{
    if (!physics_world_exists())
        return false;
    dContact c = {};
    c.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    c.surface.mu = p->mu;
    c.surface.soft_erp = p->erp;
    c.surface.soft_cfm = p->cfm;
    for (int k = 0; k < 3; k++) {
        c.geom.pos[k] = p->point[k];
        c.geom.normal[k] = p->normal[k];
    }
    c.geom.depth = p->depth;
    if (p->has_direction) {
        c.surface.mode |= dContactFDir1;
        for (int k = 0; k < 3; k++)
            c.fdir1[k] = p->direction[k];
    }
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &c);
    dJointAttach(j, p->body1, p->body2);
    if (p->feedback)
        dJointSetFeedback(j, p->feedback);
    return true;
}

// The terrain's two triangles of cell (i, j), with sample indices clamped.
static void cell_triangles(const Terrain *t, int i, int j, ContactTriangle tri[2])
{
    int last = t->grid_size - 1;
    auto vertex = [&](int ci, int cj, double out[3]) {
        int si = std::clamp(ci, 0, last), sj = std::clamp(cj, 0, last);
        out[0] = ci * (double)t->cell;
        out[1] = t->heights[(size_t)sj * t->grid_size + si];
        out[2] = cj * (double)t->cell;
    };
    if (((i ^ j) & 1) == 0) {
        vertex(i, j, tri[0].v[0]);
        vertex(i, j + 1, tri[0].v[1]);
        vertex(i + 1, j + 1, tri[0].v[2]);
        vertex(i + 1, j + 1, tri[1].v[0]);
        vertex(i + 1, j, tri[1].v[1]);
        vertex(i, j, tri[1].v[2]);
    } else {
        vertex(i, j, tri[0].v[0]);
        vertex(i, j + 1, tri[0].v[1]);
        vertex(i + 1, j, tri[0].v[2]);
        vertex(i + 1, j + 1, tri[1].v[0]);
        vertex(i + 1, j, tri[1].v[1]);
        vertex(i, j + 1, tri[1].v[2]);
    }
}

// Cell range [first, last] under lo..hi along one axis; false when unusable.
static bool cell_range(const Terrain *t, double lo, double hi, int *first, int *last)
{
    double a = std::floor(lo / t->cell), b = std::ceil(hi / t->cell) - 1;
    if (!(std::fabs(a) < 1e8) || !(std::fabs(b) < 1e8) || b - a >= MAX_CELL_SPAN)
        return false;
    *first = (int)a;
    *last = (int)b;
    return true;
}

// A downward normal is laid flat, or made vertical when nearly vertical.
static void clean_normal(double n[3])
{
    if (n[1] < 0) {
        n[1] = 0;
        if (n[0] * n[0] + n[2] * n[2] < 1.0 / 1024) {
            n[0] = 0;
            n[1] = 1;
            n[2] = 0;
        }
    }
    double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(l > 0)) {
        n[0] = 0;
        n[1] = 1;
        n[2] = 0;
        return;
    }
    for (int k = 0; k < 3; k++)
        n[k] /= l;
}

static bool terrain_usable(const Terrain *t)
{
    return t && t->grid_size >= 2 && t->cell > 0 &&
           t->heights.size() >= (size_t)t->grid_size * t->grid_size;
}

// Where a tested body can reach: a box around it in x and z, and its lowest point.
// The box is open upwards because a body sunk below a face is still pushed up by
// it. A triangle that lies wholly outside the box, or wholly below the lowest
// point, is farther than the body's radius from every point the tests measure
// from, so it can only give no contact and is skipped. The margin keeps rounding
// from ever deciding: the skipped triangles miss by more than it.
struct TerrainReach {
    double x0, x1, z0, z1;
    double lowest;
    double radius;      // the sphere's or the tube's
};

static constexpr double REACH_MARGIN = 1e-6;    // ft

static TerrainReach sphere_reach(const double centre[3], double radius)
{
    double r = radius + REACH_MARGIN;
    return {centre[0] - r, centre[0] + r, centre[2] - r, centre[2] + r, centre[1] - r, radius};
}

// The tube around a circle reaches R·sqrt(1 − a_k²) + r along axis k.
static TerrainReach torus_reach(const double centre[3], const double axle[3], double big_r,
                                double r)
{
    double e[3];
    for (int k = 0; k < 3; k++)
        e[k] = big_r * std::sqrt(std::max(0.0, 1 - axle[k] * axle[k])) + r + REACH_MARGIN;
    return {centre[0] - e[0], centre[0] + e[0], centre[2] - e[2], centre[2] + e[2],
            centre[1] - e[1], r};
}

// Written so that a NaN anywhere keeps the triangle (the tests then decide). A hit
// that must be deeper than beat needs a triangle point within radius − beat of
// the sphere or the tube's circle, so the lowest point may be raised by beat; not
// by more than the radius, though, because a body sunk below a face (its centre or
// circle under it) is pushed up with depths beyond the radius.
static bool out_of_reach(const ContactTriangle &tri, const TerrainReach &reach, double beat)
{
    double lo_x = tri.v[0][0], hi_x = lo_x, lo_z = tri.v[0][2], hi_z = lo_z, hi_y = tri.v[0][1];
    for (int k = 1; k < 3; k++) {
        lo_x = std::min(lo_x, tri.v[k][0]);
        hi_x = std::max(hi_x, tri.v[k][0]);
        lo_z = std::min(lo_z, tri.v[k][2]);
        hi_z = std::max(hi_z, tri.v[k][2]);
        hi_y = std::max(hi_y, tri.v[k][1]);
    }
    return hi_x < reach.x0 || lo_x > reach.x1 || hi_z < reach.z0 || lo_z > reach.z1 ||
           hi_y < reach.lowest + std::min(beat, reach.radius);
}

// The highest sample of the cells x0..x1, z0..z1 (indices clamped like the cells').
static double highest_sample(const Terrain *t, int x0, int x1, int z0, int z1)
{
    int last = t->grid_size - 1;
    int i0 = std::clamp(x0, 0, last), i1 = std::clamp(x1 + 1, 0, last);
    int j0 = std::clamp(z0, 0, last), j1 = std::clamp(z1 + 1, 0, last);
    float top = -INFINITY;
    for (int j = j0; j <= j1; j++) {
        const float *row = &t->heights[(size_t)j * t->grid_size];
        for (int i = i0; i <= i1; i++)
            top = std::max(top, row[i]);
    }
    return top;
}

// The deepest hit over the cells under a square of half-size half around centre.
// Cells and triangles out of reach are passed over: they could not give a hit
// deeper than the deepest so far, so the result is that of testing them all.
template <typename Test>
static double deepest_over_cells(const Terrain *t, const double centre[3], double half,
                                 const TerrainReach &reach, ContactHit *out, Test test)
{
    *out = ContactHit{};
    out->normal[1] = 1;
    int x0, x1, z0, z1;
    if (!terrain_usable(t) || !(half >= 0) ||
        !cell_range(t, centre[0] - half, centre[0] + half, &x0, &x1) ||
        !cell_range(t, centre[2] - half, centre[2] + half, &z0, &z1))
        return 0;
    double cell = t->cell;
    for (int j = z0; j <= z1; j++) {
        if ((j + 1) * cell < reach.z0 || j * cell > reach.z1)
            continue;
        for (int i = x0; i <= x1; i++) {
            if ((i + 1) * cell < reach.x0 || i * cell > reach.x1 ||
                highest_sample(t, i, i, j, j) < reach.lowest + std::min(out->depth, reach.radius))
                continue;
            ContactTriangle tri[2];
            cell_triangles(t, i, j, tri);
            for (int k = 0; k < 2; k++) {
                // Only a hit deeper than the deepest so far counts.
                if (out_of_reach(tri[k], reach, out->depth))
                    continue;
                ContactHit hit;
                if (test(tri[k], out->depth, &hit) > out->depth)
                    *out = hit;
            }
        }
    }
    if (out->depth > 0)
        clean_normal(out->normal);
    return out->depth;
}

// A triangle wholly on one side of the wheel's plane, all of it farther from that
// plane than the tube's radius less beat, can only give a hit deeper than beat
// through the sunk-wheel case, which needs the centre over the triangle in plan
// view. Every other case measures from a rim point, which lies in the plane.
static bool beside_wheel(const ContactTriangle &tri, const double c[3], const double a[3],
                         double r, double beat)
{
    double lo_x = std::min({tri.v[0][0], tri.v[1][0], tri.v[2][0]});
    double hi_x = std::max({tri.v[0][0], tri.v[1][0], tri.v[2][0]});
    double lo_z = std::min({tri.v[0][2], tri.v[1][2], tri.v[2][2]});
    double hi_z = std::max({tri.v[0][2], tri.v[1][2], tri.v[2][2]});
    if (!(c[0] < lo_x || c[0] > hi_x || c[2] < lo_z || c[2] > hi_z))
        return false;
    double limit = std::max(r - beat, 0.0) + REACH_MARGIN;
    int above = 0, below = 0;
    for (const double *v : tri.v) {
        double along = (v[0] - c[0]) * a[0] + (v[1] - c[1]) * a[1] + (v[2] - c[2]) * a[2];
        above += along > limit;
        below += along < -limit;
    }
    return above == 3 || below == 3;
}

double wheel_terrain_hit(const Terrain *t, const double centre[3], const double axle[3],
                         double big_r, double r, ContactHit *out)
{
    return deepest_over_cells(t, centre, big_r + r, torus_reach(centre, axle, big_r, r), out,
                              [&](const ContactTriangle &tri, double beat, ContactHit *hit) {
                                  if (beside_wheel(tri, centre, axle, r, beat))
                                      return 0.0;
                                  return torus_triangle(centre, axle, big_r, r, tri, hit, true,
                                                        beat);
                              });
}

double probe_terrain_sphere(const Terrain *t, const double centre[3], double radius,
                            ContactHit *out)
{
    return deepest_over_cells(t, centre, radius, sphere_reach(centre, radius), out,
                              [&](const ContactTriangle &tri, double, ContactHit *hit) {
                                  return sphere_triangle(centre, radius, tri, hit);
                              });
}

// The highest terrain sample under the square that a shape on a body at pos can
// reach, or infinity when that cannot be told. Each sphere's cells lie within the
// shape's bounding square, so a sphere (or the whole bounding sphere) whose lowest
// point is above it cannot touch and its test can be skipped.
static double terrain_top_under_shape(const Terrain *t, const double pos[3], double bounding)
{
    double b = bounding + 1e-4;     // the radius was summed in single precision
    int x0, x1, z0, z1;
    if (!terrain_usable(t) || !(b >= 0) || !cell_range(t, pos[0] - b, pos[0] + b, &x0, &x1) ||
        !cell_range(t, pos[2] - b, pos[2] + b, &z0, &z1))
        return INFINITY;
    return highest_sample(t, x0, x1, z0, z1);
}

// The tile type under a point; null when the terrain carries no usable tiles.
static const TileType *tile_under(const Terrain *t, const double p[3])
{
    size_t m = (size_t)std::max(t->tile_map_size, 0);
    if (m == 0 || t->tile_map.size() < m * m)
        return nullptr;
    int index = tile_at(t, (float)p[0], (float)p[2]);
    if (index < 0 || (size_t)index >= t->tiles.size())
        return nullptr;
    return &t->tiles[index];
}

static void rotate(const dReal *r, const double v[3], double out[3])
{
    for (int k = 0; k < 3; k++)
        out[k] = r[k * 4] * v[0] + r[k * 4 + 1] * v[1] + r[k * 4 + 2] * v[2];
}

static void body_point(dBodyID b, const double local[3], double out[3])
{
    const dReal *p = dBodyGetPosition(b);
    rotate(dBodyGetRotation(b), local, out);
    for (int k = 0; k < 3; k++)
        out[k] += p[k];
}

static double speed_of(dBodyID b)
{
    const dReal *v = dBodyGetLinearVel(b);
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

static const WheelRecord &wheel_record(const Racer *racer, int wheel)
{
    return wheel == CONTACT_FRONT ? racer->model.front_wheel : racer->model.rear_wheel;
}

static dBodyID wheel_body(const Racer *racer, int wheel)
{
    return racer->bodies[wheel == CONTACT_FRONT ? BODY_FRONT_WHEEL : BODY_REAR_WHEEL];
}

bool wheel_terrain_contact(Racer *racer, const Terrain *t, int wheel, bool make_joints)
{
    Racer::WheelContact &rec = racer->wheel_contacts[wheel];
    dBodyID body = wheel_body(racer, wheel);
    const WheelRecord &w = wheel_record(racer, wheel);
    const dReal *pos = dBodyGetPosition(body);
    const dReal *rot = dBodyGetRotation(body);
    double centre[3] = {pos[0], pos[1], pos[2]};
    double axle[3] = {rot[0], rot[4], rot[8]};
    ContactHit hit;
    rec.depth = 0;
    rec.from_shape = false;
    if (!(wheel_terrain_hit(t, centre, axle, w.tyre_centre_radius, w.tyre_section_radius,
                            &hit) > 0))
        return false;
    dVector3 v;
    dBodyGetPointVel(body, hit.point[0], hit.point[1], hit.point[2], v);
    for (int k = 0; k < 3; k++) {
        rec.point[k] = hit.point[k];
        rec.normal[k] = hit.normal[k];
        rec.velocity[k] = v[k];
    }
    rec.depth = hit.depth;
    if (!make_joints)
        return true;

    const TileType *tile = tile_under(t, hit.point);
    double v2 = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
    bool arcade = (racer->setup.flags2 & SETUP_ARCADE) != 0;
    double mu = (tile ? tile_friction(tile, v2) : 1) *
                wheel_friction_factor(arcade, roll_angle(racer->bodies[BODY_FRAME]));
    ContactSoftness soft = tyre_softness(hit.depth, w.tyre_section_radius);

    ContactJointParams p = {};
    p.body1 = body;
    p.body2 = nullptr;
    for (int k = 0; k < 3; k++) {
        p.point[k] = hit.point[k];
        p.normal[k] = hit.normal[k];
    }
    p.depth = hit.depth;
    p.mu = mu;
    p.erp = soft.erp;
    p.cfm = soft.cfm;
    // Friction along the slip, or across the axle when the point does not slide.
    double d1[3] = {hit.normal[1] * v[2] - hit.normal[2] * v[1],
                    hit.normal[2] * v[0] - hit.normal[0] * v[2],
                    hit.normal[0] * v[1] - hit.normal[1] * v[0]};
    if (d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2] < 1.0 / 1024) {
        d1[0] = hit.normal[1] * axle[2] - hit.normal[2] * axle[1];
        d1[1] = hit.normal[2] * axle[0] - hit.normal[0] * axle[2];
        d1[2] = hit.normal[0] * axle[1] - hit.normal[1] * axle[0];
    }
    double l = std::sqrt(d1[0] * d1[0] + d1[1] * d1[1] + d1[2] * d1[2]);
    if (l > 0) {
        p.has_direction = true;
        for (int k = 0; k < 3; k++)
            p.direction[k] = d1[k] / l;
    }
    p.feedback = &rec.feedback;
    make_contact_joint(&p);

    // Rolling resistance, against the wheel's motion along the ground.
    const dReal *lv = dBodyGetLinearVel(body);
    double along = lv[0] * hit.normal[0] + lv[1] * hit.normal[1] + lv[2] * hit.normal[2];
    double vt[3];
    for (int k = 0; k < 3; k++)
        vt[k] = lv[k] - along * hit.normal[k];
    double u = std::sqrt(vt[0] * vt[0] + vt[1] * vt[1] + vt[2] * vt[2]);
    double q = std::min(1.0, hit.depth / w.tyre_section_radius);
    double resist = tile ? tile_roll_resistance(tile, u, q) : 0;
    double s = u > 1 ? -resist / u : -resist;
    dBodyAddForce(body, vt[0] * s, vt[1] * s, vt[2] * s);
    return true;
}

bool part_terrain_contacts(Racer *racer, const Terrain *t, bool make_joints)
{
    bool any = false;
    for (int body_index : PART_BODIES) {
        const Shape *shape = racer->shapes[body_index];
        dBodyID body = racer->bodies[body_index];
        if (!shape || !body)
            continue;
        const dReal *pos = dBodyGetPosition(body);
        double top = terrain_top_under_shape(t, pos, shape->bounding_radius);
        if (top < pos[1] - (shape->bounding_radius + 1e-4) - REACH_MARGIN)
            continue;
        bool touched = false;
        for (const ShapeSphere &sphere : shape->spheres) {
            double local[3] = {sphere.centre[0], sphere.centre[1], sphere.centre[2]};
            double centre[3];
            body_point(body, local, centre);
            if (top < centre[1] - sphere.radius - REACH_MARGIN)
                continue;
            ContactHit hit;
            if (!(probe_terrain_sphere(t, centre, sphere.radius, &hit) > 0))
                continue;
            touched = true;
            if (!make_joints)
                continue;
            ContactSoftness soft = contact_softness(2500, 250);
            ContactJointParams p = {};
            p.body1 = body;
            for (int k = 0; k < 3; k++) {
                p.point[k] = hit.point[k];
                p.normal[k] = hit.normal[k];
            }
            p.depth = hit.depth;
            p.mu = sphere.friction;
            p.erp = soft.erp;
            p.cfm = soft.cfm;
            make_contact_joint(&p);
        }
        if (!touched)
            continue;
        any = true;
        if (!make_joints)
            continue;
        if (body_index == BODY_RIDER && racer->crash_countdown == 0) {
            // Landing on the head: the rider is upside down and still moving.
            const dReal *r = dBodyGetRotation(body);
            if (r[5] < 0 && speed_of(body) > 5)
                racer->crash_requested = true;
        }
        if (racer->incident == 0)
            racer->incident = 1;
    }
    return any;
}

bool terrain_touch_test(Racer *racer, const Terrain *t)
{
    bool front = wheel_terrain_contact(racer, t, CONTACT_FRONT, false);
    bool rear = wheel_terrain_contact(racer, t, CONTACT_REAR, false);
    bool parts = part_terrain_contacts(racer, t, false);
    return front || rear || parts;
}

bool racer_contacts(Racer *racer)
{
    if (!racer)
        return false;
    const Terrain *t = track_terrain();
    bool any = false;
    if (terrain_usable(t)) {
        any |= wheel_terrain_contact(racer, t, CONTACT_FRONT, true);
        any |= wheel_terrain_contact(racer, t, CONTACT_REAR, true);
        any |= part_terrain_contacts(racer, t, true);
    } else {
        racer->wheel_contacts[CONTACT_FRONT].depth = 0;
        racer->wheel_contacts[CONTACT_REAR].depth = 0;
    }
    any |= static_object_contacts(racer);
    return any;
}
