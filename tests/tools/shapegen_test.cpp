// The generated collision shapes: the game's own reader takes every file, and the
// spheres sit where the bike's design geometry puts each part.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_home.h"
#include "tools/shapegen.h"
#include "track/shape.h"

namespace {

struct Written {
    std::string name;
    Shape *shape;
};

class ShapegenTest : public TempHomeTest {
protected:
    // Writes every shape into the game-data folder and loads it back through the
    // data layer, as the game does.
    std::vector<Written> write_and_load()
    {
        EXPECT_TRUE(shapegen_write_all(data.c_str()));
        std::vector<Written> out;
        for (const GenShape &g : shapegen_make_all()) {
            std::string name = std::string("@") + g.file_name;
            out.push_back({g.file_name, load_shape(name.c_str())});
        }
        return out;
    }
    void free_all(const std::vector<Written> &shapes)
    {
        for (const Written &w : shapes)
            free_shape(w.shape);
    }
};

const Shape *find(const std::vector<Written> &shapes, const char *name)
{
    for (const Written &w : shapes)
        if (w.name == name)
            return w.shape;
    return nullptr;
}

TEST_F(ShapegenTest, EveryShapeLoadsWithoutWarningsAndHasSensibleReach)
{
    LogCapture log;
    std::vector<Written> shapes = write_and_load();
    EXPECT_EQ(log.text(), "");

    // Bounding radius (ft) per part: the tyres' outer radius for the wheels, about
    // the size of the part for the rest; the gate's bar swings on an arm from a
    // hinge under the ground.
    struct Case {
        const char *name;
        float low, high;
    } cases[] = {
        {"generic_frame.shp", 1.8f, 3.5f},      {"generic_fork_upper.shp", 1.0f, 1.6f},
        {"generic_fork_lower.shp", 0.6f, 1.2f}, {"generic_swingarm.shp", 0.9f, 1.5f},
        {"generic_rider.shp", 2.0f, 3.5f},      {"front_wheel.shp", 1.16f, 1.17f},
        {"rear_wheel.shp", 1.08f, 1.09f},       {"startgate.shp", 10.7f, 11.3f},
    };
    ASSERT_EQ(shapes.size(), sizeof cases / sizeof cases[0]);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Shape *s = find(shapes, c.name);
        ASSERT_NE(s, nullptr);
        EXPECT_GE(s->spheres.size(), 8u);
        EXPECT_GE(s->bounding_radius, c.low);
        EXPECT_LE(s->bounding_radius, c.high);
        for (const ShapeSphere &sp : s->spheres) {
            EXPECT_GT(sp.radius, 0.05f);
            EXPECT_GT(sp.friction, 0.0f);
            EXPECT_LE(sp.friction, 1.0f);
            EXPECT_GT(sp.stiffness, sp.damping);
            EXPECT_GT(sp.damping, 0.0f);
        }
    }
    free_all(shapes);
}

TEST_F(ShapegenTest, OutputIsTheSameTextEveryTimeAndRoundTrips)
{
    std::vector<GenShape> a = shapegen_make_all(), b = shapegen_make_all();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); i++) {
        SCOPED_TRACE(a[i].file_name);
        std::string text = shapegen_format(a[i].spheres);
        EXPECT_EQ(text, shapegen_format(b[i].spheres));
        EXPECT_EQ(text.find("-0.0000"), std::string::npos);
        EXPECT_EQ(text.find('e'), std::string::npos);
    }
    // What the reader makes of the file is what was generated, to the printed digits.
    std::vector<Written> shapes = write_and_load();
    for (size_t i = 0; i < a.size(); i++) {
        SCOPED_TRACE(a[i].file_name);
        ASSERT_NE(shapes[i].shape, nullptr);
        ASSERT_EQ(shapes[i].shape->spheres.size(), a[i].spheres.size());
        for (size_t k = 0; k < a[i].spheres.size(); k++) {
            const ShapeSphere &got = shapes[i].shape->spheres[k], &want = a[i].spheres[k];
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(got.centre[c], want.centre[c], 1e-4f);
            EXPECT_NEAR(got.radius, want.radius, 1e-4f);
        }
    }
    free_all(shapes);
}

// Design geometry of the bike (ft; x right, y up, z to the rear) as the catalogue
// gives it; each shape is in its body's coordinates, i.e. relative to these.
struct P {
    float x, y, z;
};
const P frame_at = {0, 1.98f, 3.6f}, head = {0, 2.9f, 2.16f}, fork_lower_at = {0, 1.77f, 1.59f},
        swingarm_at = {0, 1.34f, 4.99f}, pivot = {0, 1.58f, 4.17f}, front_axle = {0, 1.09f, 1.11f},
        rear_axle = {0, 1.04f, 6}, rider_at = {0, 4.5f, 4.12f};

P design(const ShapeSphere &s, P body) { return {s.centre[0] + body.x, s.centre[1] + body.y,
                                                 s.centre[2] + body.z}; }
float dist(P a, P b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }

TEST_F(ShapegenTest, SpheresSitWhereTheBikeGeometryPutsEachPart)
{
    std::vector<Written> shapes = write_and_load();

    // Wheels: a ring along the tyre about the axle, in the wheel's y-z plane.
    struct Ring {
        const char *name;
        float centre_radius;
    } rings[] = {{"front_wheel.shp", 0.8333f}, {"rear_wheel.shp", 0.75f}};
    for (const Ring &r : rings) {
        SCOPED_TRACE(r.name);
        const Shape *s = find(shapes, r.name);
        ASSERT_NE(s, nullptr);
        for (const ShapeSphere &sp : s->spheres) {
            EXPECT_FLOAT_EQ(sp.centre[0], 0);
            EXPECT_NEAR(std::hypot(sp.centre[1], sp.centre[2]), r.centre_radius, 1e-3f);
            EXPECT_NEAR(sp.radius, 0.3333f, 1e-4f);
        }
    }

    // Every bike part stays between the wheels' outer edges, off the ground, and
    // within the bike's width (handlebar included).
    for (auto [name, body] : {std::pair{"generic_frame.shp", frame_at},
                              {"generic_fork_upper.shp", head},
                              {"generic_fork_lower.shp", fork_lower_at},
                              {"generic_swingarm.shp", swingarm_at}}) {
        SCOPED_TRACE(name);
        const Shape *s = find(shapes, name);
        ASSERT_NE(s, nullptr);
        for (const ShapeSphere &sp : s->spheres) {
            P p = design(sp, body);
            EXPECT_GT(p.y - sp.radius, 0.5f);
            EXPECT_GT(p.z, front_axle.z - 1.2f);
            EXPECT_LT(p.z, rear_axle.z + 1.2f);
            EXPECT_LT(std::fabs(p.x), 1.4f);
        }
    }

    // The fork sliders reach down to the front axle, the swingarm spans the pivot
    // to the rear axle, and the fork upper holds the steering head.
    auto nearest = [](const Shape *s, P body, P target) {
        float best = 1e9f;
        for (const ShapeSphere &sp : s->spheres) {
            P p = design(sp, body);
            best = std::min(best, dist({0, p.y, p.z}, target));
        }
        return best;
    };
    EXPECT_LT(nearest(find(shapes, "generic_fork_lower.shp"), fork_lower_at, front_axle), 0.05f);
    EXPECT_LT(nearest(find(shapes, "generic_swingarm.shp"), swingarm_at, pivot), 0.05f);
    EXPECT_LT(nearest(find(shapes, "generic_swingarm.shp"), swingarm_at, rear_axle), 0.05f);
    EXPECT_LT(nearest(find(shapes, "generic_fork_upper.shp"), head, head), 0.05f);
    EXPECT_LT(nearest(find(shapes, "generic_frame.shp"), frame_at, head), 0.05f);

    // The rider: the helmet is the highest sphere, above the frame's top; the boots
    // are at peg height beside the frame.
    const Shape *rider = find(shapes, "generic_rider.shp");
    ASSERT_NE(rider, nullptr);
    float top = -1e9f, bottom = 1e9f;
    for (const ShapeSphere &sp : rider->spheres) {
        P p = design(sp, rider_at);
        top = std::max(top, p.y + sp.radius);
        bottom = std::min(bottom, p.y - sp.radius);
    }
    EXPECT_GT(top, 5.5f);
    EXPECT_LT(top, 7.0f);
    EXPECT_GT(bottom, 1.2f);
    EXPECT_LT(bottom, 2.0f);
    free_all(shapes);
}

} // namespace
