// The ".shp" reader: fields, bounding radius, sharing, and bad files.
#include <cmath>

#include <gtest/gtest.h>

#include "tests/support/temp_home.h"
#include "track/shape.h"

class ShapeTest : public TempHomeTest {};

TEST_F(ShapeTest, ReadsSpheresAndBoundingRadius)
{
    ASSERT_TRUE(write_bytes(data + "a.shp", "2\n"
                                            "0 1 0   0.5 0.8 25000 2500\n"
                                            "3 0 4\n1.5 0.25 1000 100\n"));
    Shape *s = load_shape("@a.shp");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->spheres.size(), 2u);
    EXPECT_FLOAT_EQ(s->spheres[1].centre[0], 3);
    EXPECT_FLOAT_EQ(s->spheres[1].centre[2], 4);
    EXPECT_FLOAT_EQ(s->spheres[1].radius, 1.5f);
    EXPECT_FLOAT_EQ(s->spheres[1].friction, 0.25f);
    EXPECT_FLOAT_EQ(s->spheres[0].stiffness, 25000);
    EXPECT_FLOAT_EQ(s->spheres[0].damping, 2500);
    EXPECT_FLOAT_EQ(shape_bounding_radius(s), 6.5f);   // |(3,0,4)| + 1.5

    // Parsed once: a second user gets the same copy, and it lives until both let go.
    Shape *again = load_shape("@a.shp");
    EXPECT_EQ(again, s);
    EXPECT_EQ(shape_cache_count(), 1);
    free_shape(s);
    EXPECT_EQ(shape_cache_count(), 1);
    free_shape(again);
    EXPECT_EQ(shape_cache_count(), 0);
    EXPECT_FLOAT_EQ(shape_bounding_radius(nullptr), 0);
}

TEST_F(ShapeTest, EmptyShapeIsValid)
{
    ASSERT_TRUE(write_bytes(data + "empty.shp", "0\n"));
    Shape *s = load_shape("@empty.shp");
    ASSERT_NE(s, nullptr);
    EXPECT_TRUE(s->spheres.empty());
    EXPECT_FLOAT_EQ(shape_bounding_radius(s), 0);
    free_shape(s);
}

TEST_F(ShapeTest, BadFilesGiveNoShape)
{
    const char *const cases[] = {
        "",
        "abc",
        "-1\n",
        "2\n0 0 0 1 1 1 1\n",           // second sphere missing
        "1\n0 0 0 1 1 1\n",             // damping missing
        "1\n0 0\n",
        "1\n0 0 nan 1 1 1 1\n",
        "1\n0 0 0 inf 1 1 1\n",
        "1\n0 0 0 -1 1 1 1\n",          // negative radius
        "2000000000\n0 0 0 1 1 1 1\n",  // absurd count
    };
    for (const char *text : cases) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(write_bytes(data + "bad.shp", text));
        EXPECT_EQ(load_shape("@bad.shp"), nullptr);
        EXPECT_EQ(shape_cache_count(), 0);
    }
    EXPECT_EQ(load_shape("@missing.shp"), nullptr);
    EXPECT_EQ(load_shape(nullptr), nullptr);
    EXPECT_EQ(load_shape(""), nullptr);
    free_shape(nullptr);
}
