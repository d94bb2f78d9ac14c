// Contacts: the geometric primitives against hand-worked answers, the wheel on a
// flat and a sloped little terrain, the tyre and friction laws at points of their
// curves, shape pairs in their three modes, the rider-contact timer rules, the
// head-first crash, and degenerate or far-away input staying finite.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "sim/contact.h"
#include "sim/racer.h"
#include "sim/racer_body.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"
#include "track/shape.h"
#include "tests/sim/test_terrain.h"
#include "track/terrain.h"

namespace
{

void expect_finite(const ContactHit &h)
{
    EXPECT_TRUE(std::isfinite(h.depth));
    for (int k = 0; k < 3; k++) {
        EXPECT_TRUE(std::isfinite(h.point[k]));
        EXPECT_TRUE(std::isfinite(h.normal[k]));
    }
}

void expect_vec(const double got[3], double x, double y, double z, double tol = 1e-9)
{
    EXPECT_NEAR(got[0], x, tol);
    EXPECT_NEAR(got[1], y, tol);
    EXPECT_NEAR(got[2], z, tol);
}

// Flat at y = 0, covering x <= z between 0 and 1.
const ContactTriangle SMALL = {{{0, 0, 0}, {0, 0, 1}, {1, 0, 1}}};
// The same shape, 20 ft across, centred on the origin.
const ContactTriangle BIG = {{{-10, 0, -10}, {-10, 0, 10}, {10, 0, 10}}};

struct SphereCase {
    const char *what;
    double centre[3], radius;
    double depth, point[3], normal[3];
};

TEST(ContactPrimitives, SphereTriangleCases)
{
    const double s = 1 / std::sqrt(5.0);
    const SphereCase cases[] = {
        {"resting on the face", {0.25, 0.3, 0.75}, 0.5, 0.2, {0.25, -0.2, 0.75}, {0, 1, 0}},
        {"above the face", {0.25, 0.6, 0.75}, 0.5, 0, {0, 0, 0}, {0, 1, 0}},
        {"beside edge 0", {-0.2, 0.1, 0.5}, 0.3, 0.3 - std::sqrt(0.05),
         {-0.2 + 0.3 * 2 * s, 0.1 - 0.3 * s, 0.5}, {-2 * s, s, 0}},
        {"off vertex 0", {-0.3, 0, -0.4}, 0.6, 0.1, {0.06, 0, 0.08}, {-0.6, 0, -0.8}},
        {"centre on vertex 0", {0, 0, 0}, 0.5, 0.5, {0, -0.5, 0}, {0, 1, 0}},
        {"centre on the long edge", {0.5, 0, 0.5}, 0.5, 0.5, {0.5, -0.5, 0.5}, {0, 1, 0}},
        {"sunk deep below", {0.25, -2, 0.75}, 0.5, 2.5, {0.25, -2.5, 0.75}, {0, 1, 0}},
    };
    for (const SphereCase &c : cases) {
        SCOPED_TRACE(c.what);
        ContactHit hit;
        double depth = sphere_triangle(c.centre, c.radius, SMALL, &hit);
        expect_finite(hit);
        EXPECT_NEAR(depth, c.depth, 1e-9);
        EXPECT_NEAR(hit.depth, c.depth, 1e-9);
        if (c.depth > 0) {
            expect_vec(hit.point, c.point[0], c.point[1], c.point[2]);
            expect_vec(hit.normal, c.normal[0], c.normal[1], c.normal[2]);
        }
    }
}

struct TorusCase {
    const char *what;
    const ContactTriangle *tri;
    double centre[3], axle[3];
    double depth, point[3], normal[3];
    double tol;
};

TEST(ContactPrimitives, TorusTriangleCases)
{
    const double R = 1, r = 0.3;
    const double c30 = std::cos(M_PI / 6), s30 = 0.5;
    const double s = 1 / std::sqrt(5.0);
    const TorusCase cases[] = {
        // Rim above the face: the tube dips in by 0.1.
        {"rim above", &BIG, {-2, 1.2, 2}, {1, 0, 0}, 0.1, {-2, -0.1, 2}, {0, 1, 0}, 1e-9},
        // The centre circle cuts the face 0.1 deep.
        {"circle cuts", &BIG, {-2, 0.9, 2}, {1, 0, 0}, 0.4, {-2, -0.4, 2}, {0, 1, 0}, 1e-9},
        // All of the circle below the ground, over the face.
        {"sunk", &BIG, {-2, -1.5, 2}, {1, 0, 0}, 2, {-2, -2.5, 2}, {0, 1, 0}, 1e-9},
        {"hovering", &BIG, {-2, 1.4, 2}, {1, 0, 0}, 0, {0, 0, 0}, {0, 1, 0}, 1e-9},
        // Leaned 30 degrees: the lowest rim point is R cos 30 below the centre.
        {"leaned", &BIG, {-2, 1, 2}, {c30, s30, 0}, 0.3 - (1 - c30),
         {-2 + s30, 1 - c30 - 0.3, 2}, {0, 1, 0}, 1e-9},
        // Beside the small triangle: the boundary fallback finds the middle of edge 0.
        {"beside edge", &SMALL, {-0.2, 1.1, 0.5}, {1, 0, 0}, 0.3 - std::sqrt(0.05),
         {0, 0, 0.5}, {-2 * s, s, 0}, 2e-4},
    };
    for (const TorusCase &c : cases) {
        SCOPED_TRACE(c.what);
        ContactHit hit;
        double depth = torus_triangle(c.centre, c.axle, R, r, *c.tri, &hit);
        expect_finite(hit);
        EXPECT_NEAR(depth, c.depth, c.tol);
        if (c.depth > 0) {
            expect_vec(hit.point, c.point[0], c.point[1], c.point[2], c.tol * 10);
            expect_vec(hit.normal, c.normal[0], c.normal[1], c.normal[2], c.tol * 10);
        }
    }
    // The roost emitter's variant gives nothing where the fallback would run.
    ContactHit hit;
    const double centre[3] = {-0.2, 1.1, 0.5}, axle[3] = {1, 0, 0};
    EXPECT_EQ(torus_triangle(centre, axle, R, r, SMALL, &hit, false), 0);
}

TEST(ContactPrimitives, SphereSphere)
{
    ContactHit hit;
    const double a[3] = {0, 0, 0}, b[3] = {1.5, 0, 0}, far[3] = {2, 0, 0};
    EXPECT_NEAR(sphere_sphere(a, 1, b, 1, &hit), 0.5, 1e-12);
    expect_vec(hit.normal, 1, 0, 0);
    expect_vec(hit.point, 0.75, 0, 0);
    EXPECT_EQ(sphere_sphere(a, 1, far, 1, &hit), 0);   // touching is not overlapping
    EXPECT_NEAR(sphere_sphere(a, 1, a, 0.5, &hit), 1.5, 1e-12);
    expect_finite(hit);
    EXPECT_NEAR(std::hypot(hit.normal[0], hit.normal[1], hit.normal[2]), 1, 1e-12);
}

TEST(ContactPrimitives, DegenerateInputStaysFinite)
{
    const ContactTriangle flat_line = {{{0, 0, 0}, {1, 0, 1}, {2, 0, 2}}};
    const double centre[3] = {0.5, 0.2, 0.5};
    const double axles[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, -1, 0}};
    const ContactTriangle *tris[] = {&SMALL, &BIG, &flat_line};
    for (const ContactTriangle *tri : tris) {
        for (const auto &axle : axles) {
            ContactHit hit;
            torus_triangle(centre, axle, 1, 0.3, *tri, &hit);
            expect_finite(hit);
            // Rim exactly on a vertex and on an edge.
            const double on_vertex[3] = {0, 1, 0}, on_edge[3] = {0, 1, 0.5};
            torus_triangle(on_vertex, axle, 1, 0.3, *tri, &hit);
            expect_finite(hit);
            torus_triangle(on_edge, axle, 1, 0.3, *tri, &hit);
            expect_finite(hit);
        }
        ContactHit hit;
        EXPECT_GE(sphere_triangle(centre, 0.3, *tri, &hit), 0);
        expect_finite(hit);
    }
    ContactHit hit;
    EXPECT_EQ(sphere_triangle(centre, 1, flat_line, &hit), 0);
    double out[3];
    const double axis[3] = {0, 1, 0}, on_axis[3] = {0.5, 3, 0.5};
    nearest_circle_point(centre, axis, 1, on_axis, out);
    EXPECT_NEAR(std::hypot(out[0] - 0.5, out[2] - 0.5), 1, 1e-12);
    EXPECT_NEAR(out[1], 0.2, 1e-12);
}

// A tiny terrain: 5 x 5 samples 2 ft apart, a slope along x, one tile type whose
// grip falls from 1.2 to 0.8 between slip speeds of 2 and 10 ft/s.
Terrain tiny_terrain(double slope)
{
    Terrain t = test_terrain(1, 2, [slope](int i, int) { return 1 + slope * i * 2; });
    t.tiles[0].friction[0] = {1.2f, 2};
    t.tiles[0].friction[1] = {0.8f, 10};
    t.tiles[0].friction_count = 2;
    return t;
}

TEST(ContactTerrain, WheelOnFlatAndSlopedGround)
{
    Terrain flat = tiny_terrain(0);
    const double R = 1, r = 0.3;
    ContactHit hit;
    const double axle_x[3] = {1, 0, 0};
    const double resting[3] = {3.3, 1 + R + r - 0.1, 4.6};
    EXPECT_NEAR(wheel_terrain_hit(&flat, resting, axle_x, R, r, &hit), 0.1, 1e-5);
    expect_vec(hit.normal, 0, 1, 0, 1e-6);
    expect_vec(hit.point, 3.3, 0.9, 4.6, 1e-5);
    const double hovering[3] = {3.3, 1 + R + r + 0.01, 4.6};
    EXPECT_EQ(wheel_terrain_hit(&flat, hovering, axle_x, R, r, &hit), 0);

    // Ground rising along x with slope 0.5; the wheel rolls up it (axle along z).
    Terrain sloped = tiny_terrain(0.5);
    const double axle_z[3] = {0, 0, 1};
    double len = std::sqrt(1.25), want = 0.05;
    double c_x = 4, c_dist = R + r - want;     // centre's distance from the plane
    const double centre[3] = {c_x, 1 + 0.5 * c_x + c_dist * len, 4.2};
    EXPECT_NEAR(wheel_terrain_hit(&sloped, centre, axle_z, R, r, &hit), want, 1e-5);
    expect_vec(hit.normal, -0.5 / len, 1 / len, 0, 1e-5);
}

TEST(ContactTerrain, ProbeAndFarAwayBodies)
{
    Terrain flat = tiny_terrain(0);
    ContactHit hit;
    const double sphere[3] = {1, 1.2, 1};
    EXPECT_NEAR(probe_terrain_sphere(&flat, sphere, 0.5, &hit), 0.3, 1e-6);
    expect_vec(hit.normal, 0, 1, 0, 1e-6);
    // Outside the field the border heights continue.
    const double beyond[3] = {-30, 1.2, 50};
    EXPECT_NEAR(probe_terrain_sphere(&flat, beyond, 0.5, &hit), 0.3, 1e-6);
    const double axle[3] = {1, 0, 0};
    const double far_away[][3] = {{1e12, 0, 1e12}, {-1e30, 1, 0}, {NAN, 1, 1}, {1, 1, INFINITY}};
    for (const auto &p : far_away) {
        EXPECT_EQ(probe_terrain_sphere(&flat, p, 0.5, &hit), 0);
        expect_finite(hit);
        EXPECT_EQ(wheel_terrain_hit(&flat, p, axle, 1, 0.3, &hit), 0);
        expect_finite(hit);
    }
}

// A bumpy 17 x 17 field, 1 ft cells, heights from a fixed formula.
Terrain bumpy_terrain()
{
    return test_terrain(3, 1, [](int i, int j) {
        return 0.6 * std::sin(1.3 * i) * std::cos(0.9 * j) + 0.25 * std::sin(2.7 * i + j);
    });
}

// The terrain scan without any shortcut: every triangle of every candidate cell,
// the deepest kept (a later one only when strictly deeper), the normal cleaned up.
template <typename Test>
ContactHit every_triangle(const Terrain &t, const double c[3], double half, Test test)
{
    ContactHit best = {};
    best.normal[1] = 1;
    auto first = [&](double v) { return (int)std::floor((v - half) / t.cell); };
    auto last = [&](double v) { return (int)std::ceil((v + half) / t.cell) - 1; };
    int x0 = first(c[0]), x1 = last(c[0]), z0 = first(c[2]), z1 = last(c[2]);
    auto v = [&](int i, int j, double out[3]) {
        int n = t.grid_size - 1;
        out[0] = i * (double)t.cell;
        out[1] = t.heights[std::clamp(j, 0, n) * t.grid_size + std::clamp(i, 0, n)];
        out[2] = j * (double)t.cell;
    };
    for (int j = z0; j <= z1; j++)
        for (int i = x0; i <= x1; i++) {
            ContactTriangle tri[2];
            bool same = ((i ^ j) & 1) == 0;
            v(i, j, tri[0].v[0]);
            v(i, j + 1, tri[0].v[1]);
            same ? v(i + 1, j + 1, tri[0].v[2]) : v(i + 1, j, tri[0].v[2]);
            v(i + 1, j + 1, tri[1].v[0]);
            v(i + 1, j, tri[1].v[1]);
            same ? v(i, j, tri[1].v[2]) : v(i, j + 1, tri[1].v[2]);
            for (const ContactTriangle &k : tri) {
                ContactHit hit;
                if (test(k, &hit) > best.depth)
                    best = hit;
            }
        }
    if (best.depth > 0) {
        double *n = best.normal;
        if (n[1] < 0) {
            n[1] = 0;
            if (n[0] * n[0] + n[2] * n[2] < 1.0 / 1024) {
                n[0] = n[2] = 0;
                n[1] = 1;
            }
        }
        double l = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int k = 0; k < 3; k++)
            n[k] /= l;
    }
    return best;
}

void expect_same_hit(const ContactHit &got, const ContactHit &want)
{
    EXPECT_EQ(got.depth, want.depth);
    if (want.depth > 0)
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(got.point[k], want.point[k]);
            EXPECT_EQ(got.normal[k], want.normal[k]);
        }
}

// The terrain scan skips triangles and edges that cannot give the deepest hit. On
// many poses over bumpy ground it must find exactly what testing every triangle
// finds, bit for bit. The one exception is deliberate: the torus test's edge-line
// case reports r - 2^-20 for a triangle whose edge LINE (not the edge itself)
// passes through the wheel; a triangle wholly out of the tyre's reach is no
// longer asked, so that phantom contact is gone.
TEST(ContactTerrain, ShortcutsFindTheSameDeepestHit)
{
    Terrain t = bumpy_terrain();
    uint32_t seed = 12345;
    auto rnd = [&](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / double(1 << 24);
    };
    const double R = 1.05, r = 0.3;
    int touching = 0, phantoms = 0;
    for (int n = 0; n < 4000; n++) {
        double c[3] = {rnd(3, 13), 0, rnd(3, 13)};
        double ground = terrain_height(&t, (float)c[0], (float)c[2]);
        SCOPED_TRACE(testing::Message() << "pose " << n);
        double radius = rnd(0.1, 0.6);
        c[1] = ground + rnd(-0.5, 1.0);
        ContactHit got, want;
        probe_terrain_sphere(&t, c, radius, &got);
        want = every_triangle(t, c, radius, [&](const ContactTriangle &k, ContactHit *h) {
            return sphere_triangle(c, radius, k, h);
        });
        expect_same_hit(got, want);

        double heading = rnd(0, 2 * M_PI), lean = rnd(-0.8, 0.8);
        double axle[3] = {std::cos(heading) * std::cos(lean), std::sin(lean),
                          std::sin(heading) * std::cos(lean)};
        c[1] = ground + R * std::cos(lean) + rnd(-0.6, 0.5);
        wheel_terrain_hit(&t, c, axle, R, r, &got);
        want = every_triangle(t, c, R + r, [&](const ContactTriangle &k, ContactHit *h) {
            return torus_triangle(c, axle, R, r, k, h);
        });
        touching += want.depth > 0;
        if (got.depth != want.depth && want.depth == r - 1.0 / (1 << 20)) {
            phantoms++;
            continue;
        }
        expect_same_hit(got, want);
    }
    EXPECT_GT(touching, 1000);
    EXPECT_LT(phantoms, 40);
}

TEST(ContactLaws, TyreStiffnessFrictionAndRollingResistance)
{
    ContactSoftness full = tyre_softness(0.3, 0.3), deeper = tyre_softness(1, 0.3);
    EXPECT_DOUBLE_EQ(full.kp, 25000);
    EXPECT_DOUBLE_EQ(full.kd, 2500);
    EXPECT_DOUBLE_EQ(deeper.kp, 25000);
    ContactSoftness light = tyre_softness(1e-9, 0.3), half = tyre_softness(0.15, 0.3);
    EXPECT_NEAR(light.kp, 1000, 1e-3);
    EXPECT_NEAR(light.kd, 200, 1e-3);
    EXPECT_DOUBLE_EQ(half.kp, 4000);
    EXPECT_DOUBLE_EQ(half.kd, 487.5);
    double h = 1.0 / 128;
    EXPECT_DOUBLE_EQ(half.erp, h * 4000 / (h * 4000 + 487.5));
    EXPECT_DOUBLE_EQ(half.cfm, 1 / (h * 4000 + 487.5));

    Terrain t = tiny_terrain(0);
    const TileType *tile = &t.tiles[0];
    const double speeds[][2] = {{0, 1.2}, {2, 1.2}, {6, 1.2 - 0.4 / 3}, {10, 0.8}, {50, 0.8}};
    for (const auto &c : speeds) {
        SCOPED_TRACE(c[0]);
        EXPECT_NEAR(tile_friction(tile, c[0] * c[0]), c[1], 1e-6);
    }
    TileType one = {};
    one.friction[0] = {0.9f, 4};
    one.friction_count = 1;
    EXPECT_NEAR(tile_friction(&one, 0), 0.9, 1e-6);
    EXPECT_NEAR(tile_friction(&one, 900), 0.9, 1e-6);

    TileType rr = {};
    rr.roll_resist[0] = {0.1f, 0.5f, 5};
    rr.roll_resist[1] = {0.3f, 0.9f, 15};
    rr.roll_resist_count = 2;
    EXPECT_NEAR(tile_roll_resistance(&rr, 0, 0.5), 0.3, 1e-6);
    EXPECT_NEAR(tile_roll_resistance(&rr, 10, 0), 0.2, 1e-6);
    EXPECT_NEAR(tile_roll_resistance(&rr, 20, 1), 0.9, 1e-6);

    EXPECT_DOUBLE_EQ(wheel_friction_factor(false, 1), 1);
    EXPECT_DOUBLE_EQ(wheel_friction_factor(true, M_PI / 8), 0.8125);
    EXPECT_DOUBLE_EQ(wheel_friction_factor(true, -M_PI / 2), 0.625);
}

class ContactWorld : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        ASSERT_TRUE(create_physics_world());
        physics_reset_message_count();
    }
    void TearDown() override
    {
        for (Racer *r : racers) {
            for (Shape *&s : r->shapes)
                if (s == &test_shape)
                    s = nullptr;
            destroy_racer(r);
        }
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
    Racer *make()
    {
        Racer *r = create_racer("crf450(2013)", 1, "1", nullptr, nullptr, nullptr, nullptr);
        racers.push_back(r);
        return r;
    }
    std::vector<Racer *> racers;
    Shape test_shape = {"test", {{{0, 0, 0}, 0.5f, 0.7f, 2500, 250}}, 0.5f, 1};
};

TEST_F(ContactWorld, WheelRecordJointAndFrictionDirection)
{
    Terrain flat = tiny_terrain(0);
    Racer *r = make();
    ASSERT_NE(r, nullptr);
    dBodyID wheel = r->bodies[BODY_FRONT_WHEEL];
    const WheelRecord &w = r->model.front_wheel;
    dMatrix3 identity;
    dRSetIdentity(identity);
    dBodySetRotation(wheel, identity);
    dBodySetPosition(wheel, 4, 1 + w.tyre_centre_radius + 2 * w.tyre_section_radius, 4);
    EXPECT_FALSE(wheel_terrain_contact(r, &flat, CONTACT_FRONT, true));
    EXPECT_EQ(r->wheel_contacts[CONTACT_FRONT].depth, 0);

    // Pressed in by the full tube radius, falling straight down onto the ground.
    dBodySetPosition(wheel, 4, 1 + w.tyre_centre_radius, 4);
    dBodySetLinearVel(wheel, 0, -3, 0);
    dBodySetAngularVel(wheel, 0, 0, 0);
    int joints = dBodyGetNumJoints(wheel);
    EXPECT_TRUE(wheel_terrain_contact(r, &flat, CONTACT_FRONT, true));
    const Racer::WheelContact &rec = r->wheel_contacts[CONTACT_FRONT];
    EXPECT_NEAR(rec.depth, w.tyre_section_radius, 1e-5);
    expect_vec(rec.normal, 0, 1, 0, 1e-6);
    expect_vec(rec.velocity, 0, -3, 0, 1e-9);
    EXPECT_EQ(dBodyGetNumJoints(wheel), joints + 1);

    EXPECT_TRUE(terrain_touch_test(r, &flat));
    EXPECT_EQ(dBodyGetNumJoints(wheel), joints + 1);   // a test makes no joints
    physics_world_step();
    EXPECT_EQ(physics_message_count(), 0);
}

TEST_F(ContactWorld, ShapePairModes)
{
    Shape s = test_shape;
    dBodyID b1 = dBodyCreate(physics_world()), b2 = dBodyCreate(physics_world());
    dBodySetPosition(b1, 0, 0, 0);
    dBodySetPosition(b2, 0.8, 0, 0);
    dBodySetLinearVel(b1, 1, 0, 0);
    double p1[3] = {0, 0, 0}, p2[3] = {0.8, 0, 0}, far[3] = {1.0, 0, 0};
    dMatrix3 rot;
    dRSetIdentity(rot);
    double r12[12];
    for (int k = 0; k < 12; k++)
        r12[k] = rot[k];

    EXPECT_FALSE(shape_contacts(&s, b1, p1, r12, &s, b2, far, r12, CONTACT_JOINT));
    EXPECT_TRUE(shape_contacts(&s, b1, p1, r12, &s, b2, p2, r12, CONTACT_TEST));
    EXPECT_EQ(dBodyGetNumJoints(b1), 0);
    const dReal *f2 = dBodyGetForce(b2);
    EXPECT_EQ(f2[0], 0);

    // Force: closing at 1 ft/s with 0.2 ft overlap: 1 x 250 + 0.2 x 2500 = 750 lbf.
    EXPECT_TRUE(shape_contacts(&s, b1, p1, r12, &s, b2, p2, r12, CONTACT_FORCE));
    EXPECT_NEAR(dBodyGetForce(b2)[0], 750, 1e-6);
    EXPECT_NEAR(dBodyGetForce(b1)[0], -750, 1e-6);

    EXPECT_TRUE(shape_contacts(&s, b1, p1, r12, &s, b2, p2, r12, CONTACT_JOINT));
    EXPECT_EQ(dBodyGetNumJoints(b1), 1);
    EXPECT_TRUE(shape_contacts(&s, b1, p1, r12, &s, nullptr, p2, r12, CONTACT_JOINT));
    EXPECT_EQ(dBodyGetNumJoints(b1), 2);
    physics_world_step();
    EXPECT_EQ(physics_message_count(), 0);
    dBodyDestroy(b1);
    dBodyDestroy(b2);
}

// Shapes are culled by bounding spheres (the pair, each sphere, each racer's
// reach). With every bounding radius made huge nothing is culled, and the forces
// of "force" mode must come out bit for bit the same as with the real radii.
TEST_F(ContactWorld, CullingLeavesShapeAndRiderForcesUnchanged)
{
    Shape blob = {"blob", {}, 0, 1};
    for (int k = 0; k < 9; k++)
        blob.spheres.push_back({{0.5f * (k % 3) - 0.5f, 0.4f * (k / 3) - 0.4f, 0.3f * (k % 2)},
                                0.2f + 0.05f * (k % 4), 0.6f, 8000, 400});
    for (const ShapeSphere &sp : blob.spheres)
        blob.bounding_radius = std::max(
            blob.bounding_radius,
            std::hypot(sp.centre[0], sp.centre[1], sp.centre[2]) + sp.radius);
    const float real_radius = blob.bounding_radius;

    Racer *a = make(), *b = make();
    ASSERT_TRUE(a && b);
    for (Racer *r : {a, b})
        for (int i = 0; i < RACER_BODY_COUNT; i++) {
            free_shape(r->shapes[i]);
            r->shapes[i] = &blob;
        }
    uint32_t seed = 99;
    auto rnd = [&](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / double(1 << 24);
    };
    auto forces = [&](std::vector<double> *out) {
        out->clear();
        for (Racer *r : {a, b})
            for (dBodyID body : r->bodies) {
                const dReal *f = dBodyGetForce(body), *q = dBodyGetTorque(body);
                out->insert(out->end(), {f[0], f[1], f[2], q[0], q[1], q[2]});
                dBodySetForce(body, 0, 0, 0);
                dBodySetTorque(body, 0, 0, 0);
            }
    };
    int touches = 0, far = 0;
    for (int n = 0; n < 600; n++) {
        SCOPED_TRACE(n);
        // Racer A's parts around the origin, B's around a point up to 9 ft away.
        double centre_b[3] = {rnd(-9, 9), rnd(-1, 1), rnd(-3, 3)};
        for (Racer *r : {a, b})
            for (dBodyID body : r->bodies) {
                const double *o = r == a ? nullptr : centre_b;
                dBodySetPosition(body, (o ? o[0] : 0) + rnd(-1.5, 1.5),
                                 (o ? o[1] : 0) + rnd(-1, 1), (o ? o[2] : 0) + rnd(-1.5, 1.5));
                dMatrix3 m;
                dRFromEulerAngles(m, rnd(-3, 3), rnd(-3, 3), rnd(-3, 3));
                dBodySetRotation(body, m);
                dBodySetLinearVel(body, rnd(-5, 5), rnd(-5, 5), rnd(-5, 5));
            }
        std::vector<double> culled, full;
        blob.bounding_radius = real_radius;
        RiderTouch t1 = rider_contacts(a, b, CONTACT_FORCE, false);
        forces(&culled);
        far += racers_out_of_reach(a, racer_reach(a), b, racer_reach(b));
        blob.bounding_radius = 1000;
        RiderTouch t2 = rider_contacts(a, b, CONTACT_FORCE, false);
        forces(&full);
        EXPECT_EQ(t1.a_parts, t2.a_parts);
        EXPECT_EQ(t1.b_parts, t2.b_parts);
        EXPECT_EQ(culled, full);
        touches += t1.a_parts != 0;
        a->wheel_contacts[0].depth = a->wheel_contacts[1].depth = 0;
        b->wheel_contacts[0].depth = b->wheel_contacts[1].depth = 0;
    }
    blob.bounding_radius = real_radius;
    EXPECT_GT(touches, 100);
    EXPECT_GT(far, 10);     // and some pairs were rejected whole
    for (Racer *r : {a, b})
        for (Shape *&s : r->shapes)
            s = nullptr;
}

TEST_F(ContactWorld, RiderContactTimerRules)
{
    struct Case {
        const char *what;
        RiderTouch touch;
        double speed_a, speed_b;
        float timer_a, timer_b;
    };
    const Case cases[] = {
        {"head on, both fast", {1, 1, true, true, true}, 12, 12, 192, 192},
        {"head on, B slow", {1, 1, true, true, true}, 12, 8, 192, 0},
        {"A rams B", {1, 1, true, false, false}, 12, 6, 256, 0},
        {"A rams a parked B", {1, 1, true, false, false}, 12, 4, 0, 0},
        {"B rams A", {1, 1, false, true, false}, 6, 12, 0, 256},
    };
    Racer *a = make(), *b = make();
    ASSERT_TRUE(a && b);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        a->contact_timer = b->contact_timer = 0;
        a->had_rider_contact = b->had_rider_contact = false;
        dBodySetLinearVel(a->bodies[BODY_FRAME], c.speed_a, 0, 0);
        dBodySetLinearVel(b->bodies[BODY_FRAME], 0, 0, c.speed_b);
        EXPECT_EQ(rider_contact_mode(a, b, 40), CONTACT_JOINT);
        rider_contact_rules(a, b, c.touch, 40);
        EXPECT_EQ(a->contact_timer, c.timer_a);
        EXPECT_EQ(b->contact_timer, c.timer_b);
        EXPECT_EQ(rider_contact_mode(a, b, 40), CONTACT_FORCE);
        EXPECT_EQ(rider_contact_mode(a, b, 41), CONTACT_JOINT);
        EXPECT_EQ(a->first_rider_contact_frame, 40);
    }
    // The riders' shapes overlapping: a touch of the riders, reported in test mode.
    for (Racer *r : {a, b}) {
        for (Shape *&shape : r->shapes) {
            free_shape(shape);
            shape = nullptr;
        }
        r->shapes[BODY_RIDER] = &test_shape;
    }
    dBodySetPosition(a->bodies[BODY_RIDER], 0, 5, 0);
    dBodySetPosition(b->bodies[BODY_RIDER], 0.5, 5, 0);
    RiderTouch touch = rider_contacts(a, b, CONTACT_TEST, false);
    EXPECT_EQ(touch.a_parts, 1u << BODY_RIDER);
    EXPECT_EQ(touch.b_parts, 1u << BODY_RIDER);
    EXPECT_FALSE(touch.a_hit_b || touch.b_hit_a);
    dBodySetPosition(b->bodies[BODY_RIDER], 1.5, 5, 0);
    touch = rider_contacts(a, b, CONTACT_TEST, false);
    EXPECT_EQ(touch.a_parts | touch.b_parts, 0u);
}

TEST_F(ContactWorld, HeadFirstLandingCrashes)
{
    Terrain flat = tiny_terrain(0);
    Racer *r = make();
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < RACER_BODY_COUNT; i++) {
        free_shape(r->shapes[i]);
        r->shapes[i] = nullptr;
    }
    r->shapes[BODY_RIDER] = &test_shape;
    dBodyID rider = r->bodies[BODY_RIDER];
    dMatrix3 flipped;
    dRFromAxisAndAngle(flipped, 0, 0, 1, M_PI);
    struct Case {
        bool upside_down;
        double speed;
        bool crash;
    } cases[] = {{true, 6, true}, {true, 4, false}, {false, 6, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.speed);
        r->crash_requested = false;
        r->incident = 0;
        dMatrix3 upright;
        dRSetIdentity(upright);
        dBodySetRotation(rider, c.upside_down ? flipped : upright);
        dBodySetPosition(rider, 4, 1.3, 4);
        dBodySetLinearVel(rider, c.speed, 0, 0);
        EXPECT_TRUE(part_terrain_contacts(r, &flat, true));
        EXPECT_EQ(r->crash_requested, c.crash);
        EXPECT_EQ(r->incident, 1);
    }
    dBodySetPosition(rider, 4, 3, 4);
    r->incident = 0;
    EXPECT_FALSE(part_terrain_contacts(r, &flat, true));
    EXPECT_EQ(r->incident, 0);
}

} // namespace
