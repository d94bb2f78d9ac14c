// The terrain as a track's files give it: loading and its failures, the tile
// statements, height and normal lookups, the shading refresh and the editor's save.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <nettle/ripemd160.h>

#include "core/datafile.h"
#include "core/image.h"
#include "core/options.h"
#include "tests/support/log_capture.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"
#include "track/terrain.h"

namespace {

std::string le16(const std::vector<uint16_t> &values)
{
    std::string out;
    for (uint16_t v : values) {
        out += (char)(v & 0xff);
        out += (char)(v >> 8);
    }
    return out;
}

// A height file with binary samples; heights are lo + v × (hi − lo) / 65535.
std::string hf(int k, float cell, float lo, float hi, const std::vector<uint16_t> &v)
{
    char header[128];
    snprintf(header, sizeof header, "%d %g %g %g\n:", k, cell, lo, hi);
    return header + le16(v);
}

std::string ppm(int w, int h, uint8_t value)
{
    return "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
           std::string((size_t)w * h * 3, (char)value);
}

std::string pgm(int w, int h, uint8_t value)
{
    return "P5\n# shadows\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
           std::string((size_t)w * h, (char)value);
}

class TerrainTest : public TempHomeTest {
protected:
    void put(const std::string &file, const std::string &bytes)
    {
        ASSERT_TRUE(write_bytes(data + "trk/" + file, bytes));
    }
    // k = 1: 5 × 5 samples 2 ft apart, a 2 × 2 tile map, heights v / 1000 ft.
    void write_track(const std::vector<uint16_t> &samples, const std::string &tileinfo)
    {
        put("terrain.hf", hf(1, 2.0f, 0, 65.535f, samples));
        put("shading.ppm", ppm(5, 5, 200));
        put("tileinfo", tileinfo);
        put("tilemap", std::string("\x00\x01\x02\xc8", 4));
    }
    Terrain *load(int render_mode = TERRAIN_RENDER_SOFTWARE)
    {
        return load_terrain("trk", render_mode);
    }
};

std::vector<uint16_t> flat_samples(uint16_t v = 0)
{
    return std::vector<uint16_t>(25, v);
}

std::string tiles(int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += "addtile\n";
    return out;
}

} // namespace

TEST_F(TerrainTest, LoadsHeightsShadingAndClampedTileMap)
{
    std::vector<uint16_t> v(25);
    for (int i = 0; i < 25; i++)
        v[i] = (uint16_t)(i * 1000);
    write_track(v, tiles(12));
    put("shadows.pgm", pgm(5, 5, 55));
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->size_log2, 1);
    EXPECT_EQ(t->grid_size, 5);
    EXPECT_EQ(t->tile_map_size, 2);
    EXPECT_FLOAT_EQ(t->extent, 8.0f);
    EXPECT_EQ(t->tile_count, 12);
    for (int i = 0; i < 25; i++)
        EXPECT_NEAR(t->heights[i], i * 1.0f, 1e-4);
    // Shading comes halved from shading.ppm; shadows are stored inverted.
    EXPECT_EQ(t->shading[0], 100);
    EXPECT_EQ(t->shadows[24], 200);
    // 200 names a type past the twelve defined: it becomes the last one.
    EXPECT_EQ(std::vector<uint8_t>(t->tile_map), (std::vector<uint8_t>{0, 1, 2, 11}));
    EXPECT_TRUE(t->normals.empty());
    free_terrain(t);

    // shadingx2.ppm is preferred and kept as it is.
    put("shadingx2.ppm", ppm(5, 5, 77));
    t = load();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->shading[3 * 24 + 2], 77);
    free_terrain(t);
}

TEST_F(TerrainTest, HeightsFromPngWhenHeaderIsNotFollowedByColon)
{
    std::string png = read_file(RUTTMOOR_SOURCE_DIR "/tests/fixtures/terrain/terrain.png");
    ASSERT_FALSE(png.empty());
    put("terrain.png", png);
    put("shading.ppm", ppm(9, 9, 0));
    put("tileinfo", tiles(1));
    put("tilemap", std::string(16, '\0'));
    // The fixture holds (y × 9 + x) × 800 at pixel (x, y); with a 0..65535 range
    // each height is that value.
    put("terrain.hf", "2 1.0 0 65535\n");
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    for (int j = 0; j < 9; j++) {
        for (int i = 0; i < 9; i++)
            ASSERT_NEAR(t->heights[j * 9 + i], (j * 9 + i) * 800.0f, 0.01f) << i << "," << j;
    }
    free_terrain(t);

    // A field larger than the image repeats the last column and row.
    put("terrain.hf", "3 1.0 0 65535\n");
    put("shading.ppm", ppm(17, 17, 0));
    put("tilemap", std::string(64, '\0'));
    t = load();
    ASSERT_NE(t, nullptr);
    EXPECT_NEAR(t->heights[16 * 17 + 16], 80 * 800.0f, 0.01f);
    EXPECT_NEAR(t->heights[0 * 17 + 12], 8 * 800.0f, 0.01f);
    free_terrain(t);

    // Without a readable image every height is the lowest one.
    put("terrain.png", "not a png");
    put("terrain.hf", "3 1.0 -4 65535\n");
    t = load();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->heights[100], -4.0f);
    free_terrain(t);
}

TEST_F(TerrainTest, BrokenFilesFailWithTheirMessage)
{
    const std::string gone = "<remove>";
    struct Case {
        const char *name;
        const char *file;
        std::string bytes;              // the file's new content, or gone
        const char *message;
    };
    const Case cases[] = {
        {"no terrain.hf", "terrain.hf", gone, "Can't open '@trk/terrain.hf'\n"},
        {"three header values", "terrain.hf", "1 2.0 0\n:",
         "Bad height field parameters\nError reading heights\n"},
        {"k of 30", "terrain.hf", "30 2.0 0 1\n:",
         "Bad height field parameters\nError reading heights\n"},
        {"k of 0", "terrain.hf", "0 2.0 0 1\n:",
         "Bad height field parameters\nError reading heights\n"},
        {"zero cell", "terrain.hf", hf(1, 0, 0, 1, flat_samples()),
         "Bad height field parameters\nError reading heights\n"},
        {"negative cell", "terrain.hf", hf(1, -2, 0, 1, flat_samples()),
         "Bad height field parameters\nError reading heights\n"},
        {"short heights", "terrain.hf", hf(1, 2, 0, 1, flat_samples()).substr(0, 40),
         "Error reading heights\n"},
        {"no shading", "shading.ppm", gone, "Can't open '@trk/shading.ppm'\n"},
        {"shading size", "shading.ppm", ppm(4, 4, 1), "Bad shading dimensions (4x4)\n"},
        {"shading garbage", "shading.ppm", "P6\n5 5\n", "Error reading shading\n"},
        {"shading short", "shading.ppm", ppm(5, 5, 1).substr(0, 30), "Error reading shading\n"},
        {"shadow size", "shadows.pgm", pgm(3, 3, 1), "Bad shadow dimensions (3x3)\n"},
        {"shadow garbage", "shadows.pgm", "P9 x", "Error reading shadows\n"},
        {"no tile files", "tileinfo", gone, "Can't open '@trk/texturelist'\n"},
        {"no tilemap", "tilemap", gone, "Can't open '@trk/tilemap'\n"},
        {"short tilemap", "tilemap", "\x01", "Error reading tilemap\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_track(flat_samples(), tiles(1));
        std::filesystem::remove(data + "trk/shadows.pgm");
        if (c.bytes == gone)
            std::filesystem::remove(data + "trk/" + c.file);
        else
            put(c.file, c.bytes);
        data_reset();
        LogCapture log;
        EXPECT_EQ(load(), nullptr);
        EXPECT_EQ(log.text(), c.message);
    }
}

TEST_F(TerrainTest, TileStatements)
{
    struct Case {
        const char *name;
        const char *tileinfo;
        const char *log;                // every line logged while loading
        std::function<void(const Terrain *)> check;
    };
    const Case cases[] = {
        {"defaults", "addtile\n", "", [](const Terrain *t) {
             const TileType &d = t->tiles[0];
             EXPECT_EQ(d.friction_count, 1);
             EXPECT_EQ(d.friction[0].mu, 1.0f);
             EXPECT_EQ(d.friction[0].speed, 1.0f);
             EXPECT_EQ(d.roll_resist_count, 1);
             EXPECT_EQ(d.roll_resist[0].light, 5.0f);
             EXPECT_EQ(d.roll_resist[0].full, 15.0f);
             EXPECT_EQ(d.erosion.depth, 1.0f);
             EXPECT_EQ(d.erosion.max_slope, 0.25f);
             EXPECT_EQ(d.erosion.on_speed, 15.0f);
             for (int s = 0; s < ROOST_SLOTS; s++)
                 EXPECT_EQ(d.roost[s].type, ROOST_NONE);
             EXPECT_STREQ(d.texture, "");
         }},
        {"friction sorted and clamped",
         "  texture   @mud 2.png \t\nfriction 0.8 3\nfriction -1 0\n\nfriction 1.2 1\n"
         "addtile\n", "",
         [](const Terrain *t) {
             const TileType &d = t->tiles[0];
             EXPECT_STREQ(d.texture, "@mud 2.png");
             ASSERT_EQ(d.friction_count, 3);
             EXPECT_EQ(d.friction[0].mu, 0.0f);
             EXPECT_EQ(d.friction[0].speed, 1.0f / 1048576);
             EXPECT_EQ(d.friction[1].mu, 1.2f);
             EXPECT_EQ(d.friction[2].mu, 0.8f);
             EXPECT_EQ(d.friction[3].speed, 0.0f);   // the end of the list
         }},
        {"too many and bad friction",
         "friction 1 1\nfriction 1 2\nfriction 1 3\nfriction 1 4\nfriction 1 5\nfriction 1 6\n"
         "friction 1 7\nfriction 1 8\nfriction 1 9\nfriction 1\nfriction nan 2\naddtile\n",
         "tileinfo warning: too many friction points\n"
         "tileinfo warning: bad friction parameters\n"
         "tileinfo warning: bad friction parameters\n",
         [](const Terrain *t) { EXPECT_EQ(t->tiles[0].friction_count, 8); }},
        {"roll_resist",
         "roll_resist 9 20 4\nroll_resist -1 3 0\nroll_resist 1 2\naddtile\n",
         "tileinfo warning: bad roll_resist parameters\n", [](const Terrain *t) {
             const TileType &d = t->tiles[0];
             ASSERT_EQ(d.roll_resist_count, 2);
             EXPECT_EQ(d.roll_resist[0].light, 0.0f);
             EXPECT_EQ(d.roll_resist[0].speed, 1.0f / 1048576);
             EXPECT_EQ(d.roll_resist[1].full, 20.0f);
         }},
        {"too many roll_resist", "roll_resist 1 1 1\nroll_resist 1 1 1\nroll_resist 1 1 1\n"
         "roll_resist 1 1 1\nroll_resist 1 1 1\nroll_resist 1 1 1\nroll_resist 1 1 1\n"
         "roll_resist 1 1 1\nroll_resist 1 1 1\naddtile\n",
         "tileinfo warning: too many roll_resist points\n",
         [](const Terrain *t) { EXPECT_EQ(t->tiles[0].roll_resist_count, 8); }},
        {"roost words",
         "roost splash=1 count=3.5 r=300 g=-5 b=7.9 fade_a=-256 fade_r=1000"
         " texture=\"my dust.png\"\n"
         "roost\naddtile\n", "", [](const Terrain *t) {
             const RoostType &r = t->tiles[0].roost[0];
             EXPECT_EQ(r.type, ROOST_SPLASH);
             EXPECT_EQ(r.count, 3.5f);
             EXPECT_EQ(r.color[0], 255);
             EXPECT_EQ(r.color[1], 0);
             EXPECT_EQ(r.color[2], 7);
             EXPECT_EQ(r.color[3], 255);
             EXPECT_EQ(r.fade[3], -2);
             EXPECT_EQ(r.fade[0], 7);
             EXPECT_STREQ(r.texture, "my dust.png");
             const RoostType &d = t->tiles[0].roost[1];
             EXPECT_EQ(d.type, ROOST_ROOST);
             EXPECT_STREQ(d.texture, "@roost.png");
             EXPECT_EQ(d.count, 10.0f);
             EXPECT_EQ(d.slip_threshold, 4.0f);
             EXPECT_NEAR(d.slow_angle, 1.5707963f, 1e-6);
             EXPECT_NEAR(d.fast_angle, 0.19634955f, 1e-7);
             EXPECT_EQ(d.fast_speed, 64.0f);
             EXPECT_EQ(d.size, 0.25f);
             EXPECT_EQ(d.randomize, 15.0f);
             EXPECT_EQ(d.fade[3], -2);
             EXPECT_EQ(t->tiles[0].roost[2].type, ROOST_NONE);
         }},
        {"bad roost words",
         "roost count=abc bogus=1 size=2 drag\nroost\nroost\nroost\nroost size=9\naddtile\n",
         "tileinfo warning: bad count\n"
         "tileinfo warning: unknown roost parameter 'bogus=1'\n"
         "tileinfo warning: unknown roost parameter 'drag'\n"
         "tileinfo warning: too many roost types\n", [](const Terrain *t) {
             EXPECT_EQ(t->tiles[0].roost[0].size, 2.0f);
             EXPECT_EQ(t->tiles[0].roost[0].count, 10.0f);
             for (int s = 1; s < ROOST_SLOTS; s++)
                 EXPECT_EQ(t->tiles[0].roost[s].size, 0.25f);
         }},
        {"erosion per tile",
         "erode_depth 3\nerode_lower 4\nerode_upper 5\nerode_displacement 6\nerode_radius 7\n"
         "erode_max_slope 8\nerode_off_speed 9\nerode_on_speed 10\naddtile\n"
         "erode_radius zz\nerode_on_speed\naddtile\n",
         "tileinfo warning: bad erode_radius\ntileinfo warning: bad erode_on_speed\n",
         [](const Terrain *t) {
             const ErosionParams &e = t->tiles[0].erosion;
             EXPECT_EQ(e.depth, 3.0f);
             EXPECT_EQ(e.lower, 4.0f);
             EXPECT_EQ(e.upper, 5.0f);
             EXPECT_EQ(e.displacement, 6.0f);
             EXPECT_EQ(e.radius, 7.0f);
             EXPECT_EQ(e.max_slope, 8.0f);
             EXPECT_EQ(e.off_speed, 9.0f);
             EXPECT_EQ(e.on_speed, 10.0f);
             EXPECT_EQ(t->tiles[1].erosion.depth, 1.0f);
             EXPECT_EQ(t->tiles[1].erosion.radius, 4.0f);
         }},
        {"unknown keyword", "wibble 1 2\n\taddtile  \n",
         "tileinfo warning: Unknown identifier 'wibble'\n",
         [](const Terrain *t) { EXPECT_EQ(t->tile_count, 1); }},
        // A terrain needs at least one tile type for its map to name.
        {"no tile types", "# nothing\n", "tileinfo warning: Unknown identifier '#'\n"
         "tileinfo warning: no tile types, using the defaults\n", [](const Terrain *t) {
             EXPECT_EQ(t->tile_count, 1);
             EXPECT_EQ(t->tiles[0].friction[0].mu, 1.0f);
             EXPECT_EQ(std::vector<uint8_t>(t->tile_map), (std::vector<uint8_t>{0, 0, 0, 0}));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write_track(flat_samples(), c.tileinfo);
        LogCapture log;
        Terrain *t = load();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(log.text(), c.log);
        c.check(t);
        free_terrain(t);
    }
}

TEST_F(TerrainTest, TexturelistWhenThereIsNoTileinfo)
{
    write_track(flat_samples(), "");
    std::filesystem::remove(data + "trk/tileinfo");
    put("texturelist", "  0.7 4 12 @grass.png\n\n@dirt.png\n");
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->tile_count, 2);
    EXPECT_STREQ(t->tiles[0].texture, "@grass.png");
    EXPECT_EQ(t->tiles[0].friction[0].mu, 0.7f);
    EXPECT_EQ(t->tiles[0].friction[0].speed, 1.0f);
    EXPECT_EQ(t->tiles[0].roll_resist[0].light, 4.0f);
    EXPECT_EQ(t->tiles[0].roll_resist[0].full, 12.0f);
    EXPECT_EQ(t->tiles[0].roost[0].type, ROOST_ROOST);
    EXPECT_EQ(t->tiles[0].roost[1].type, ROOST_NONE);
    EXPECT_STREQ(t->tiles[1].texture, "@dirt.png");
    EXPECT_EQ(t->tiles[1].friction[0].mu, 1.0f);
    EXPECT_EQ(t->tiles[1].roll_resist[0].full, 15.0f);
    EXPECT_EQ(std::vector<uint8_t>(t->tile_map), (std::vector<uint8_t>{0, 1, 1, 1}));
    free_terrain(t);
}

TEST_F(TerrainTest, HeightLookupFollowsTheCheckerboardSplit)
{
    // All zero but sample (1, 0) at 10 and the far corner (4, 4) at 7.
    std::vector<uint16_t> v = flat_samples();
    v[1] = 10000;
    v[24] = 7000;
    write_track(v, tiles(1));
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    struct Case {
        float x, z, height;
    };
    const Case cases[] = {
        {2, 0, 10}, {8, 8, 7}, {0, 0, 0}, {4, 0, 0},
        // Cell (0, 0), diagonal (0, 0)-(1, 1): (1, 0) only touches the lower triangle.
        {1.5f, 0.5f, 5}, {0.5f, 1.5f, 0},
        // Cell (1, 0), diagonal (1, 1)-(2, 0): (1, 0) only touches the upper triangle.
        {2.5f, 0.5f, 5}, {3.5f, 1.5f, 0},
        // Outside the field the border heights continue.
        {3, -7, 5}, {-5, -5, 0}, {100, 100, 7}, {100, -100, 0}, {2, -1e30f, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.z);
        EXPECT_NEAR(terrain_height(t, c.x, c.z), c.height, 1e-4);
    }
    EXPECT_TRUE(std::isfinite(terrain_height(t, NAN, NAN)));
    free_terrain(t);
}

TEST_F(TerrainTest, NormalsOnFlatAndSlopedFields)
{
    // Heights i + 2j at 2 ft spacing: slopes 0.5 along x and 1 along z.
    std::vector<uint16_t> v(25);
    for (int j = 0; j < 5; j++) {
        for (int i = 0; i < 5; i++)
            v[j * 5 + i] = (uint16_t)((i + 2 * j) * 1000);
    }
    write_track(v, tiles(1));
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    const float expect[3] = {-0.5f / 1.5f, 1 / 1.5f, -1 / 1.5f};
    // Both triangle kinds of both cell parities give the plane's normal, pointing up.
    const float points[][2] = {{0.5f, 1.5f}, {1.5f, 0.5f}, {2.5f, 0.5f}, {3.5f, 1.5f}};
    for (const auto &p : points) {
        float n[3];
        terrain_face_normal(t, p[0], p[1], n);
        float length = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        EXPECT_NEAR(length, 4 * 1.5f, 1e-3);   // cell² × |(−0.5, 1, −1)|
        for (int k = 0; k < 3; k++)
            EXPECT_NEAR(n[k] / length, expect[k], 1e-4);
    }
    for (int j = 1; j < 4; j++) {
        for (int i = 1; i < 4; i++) {
            float n[3];
            vertex_normal(t, i, j, n);
            for (int k = 0; k < 3; k++)
                EXPECT_NEAR(n[k], expect[k], 1e-4) << i << "," << j;
        }
    }
    free_terrain(t);

    write_track(flat_samples(300), tiles(1));
    t = load(TERRAIN_RENDER_SHADERS_DIRECT);
    ASSERT_NE(t, nullptr);
    for (int s : {0, 4, 12, 20, 24}) {
        float n[3];
        vertex_normal(t, s % 5, s / 5, n);
        EXPECT_NEAR(n[1], 1.0f, 1e-6);
        EXPECT_NEAR(n[0], 0.0f, 1e-6);
        EXPECT_EQ(t->normals[s * 3 + 0], 128);
        EXPECT_EQ(t->normals[s * 3 + 1], 255);
        EXPECT_EQ(t->normals[s * 3 + 2], 128);
    }
    float n[3];
    terrain_face_normal(t, -50, 70, n);
    EXPECT_GT(n[1], 0);
    free_terrain(t);
}

TEST_F(TerrainTest, TileAtClampsToTheMap)
{
    write_track(flat_samples(), tiles(12));
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    // Map bytes 0, 1 / 2, 11; one tile covers 4 ft.
    EXPECT_EQ(tile_at(t, 3.9f, 3.9f), 0);
    EXPECT_EQ(tile_at(t, 4.0f, 0.0f), 1);
    EXPECT_EQ(tile_at(t, 0.0f, 4.0f), 2);
    EXPECT_EQ(tile_at(t, 7.9f, 7.9f), 11);
    EXPECT_EQ(tile_at(t, -50, -50), 0);
    EXPECT_EQ(tile_at(t, 1e30f, 1e30f), 11);
    EXPECT_EQ(tile_at(t, 1e30f, -1), 1);
    EXPECT_EQ(tile_at(t, NAN, NAN), 0);
    free_terrain(t);
}

namespace {
struct DirtyCall {
    int calls, c0, r0, c1, r1;
} dirty;
void record_dirty(Terrain *, int c0, int r0, int c1, int r1)
{
    dirty = {dirty.calls + 1, c0, r0, c1, r1};
}
} // namespace

TEST_F(TerrainTest, RefreshShadesFromTheSunAndMarksTheRectDirty)
{
    // Heights 2i: a slope of 1 along x, so the vertex normal is (−1, 1, 0)/√2.
    std::vector<uint16_t> v(25);
    for (int s = 0; s < 25; s++)
        v[s] = (uint16_t)((s % 5) * 2000);
    write_track(v, tiles(1));
    put("shadows.pgm", pgm(5, 5, 0));    // fully shadowed
    Terrain *t = load(TERRAIN_RENDER_SHADERS_COPY);
    ASSERT_NE(t, nullptr);
    for (size_t s = 5; s < 10; s++)
        t->shadows[s] = 0;              // row 1 in full light
    t->lighting = {{0, 1, 0}, {1, 0.5f, 0}, {0.5f, 0.5f, 0.5f}};
    dirty = {};
    terrain_set_dirty_hook(record_dirty);
    refresh_terrain_rect(t, -3, 1, 2, 1);
    terrain_set_dirty_hook(nullptr);
    EXPECT_EQ(dirty.calls, 1);
    EXPECT_EQ(dirty.c0, 0);
    EXPECT_EQ(dirty.c1, 2);
    EXPECT_EQ(dirty.r0, 1);
    EXPECT_EQ(dirty.r1, 1);
    // s = n·sun = 1/√2: channels trunc(255 × (colour × s + 0.5) × 0.5).
    const uint8_t *lit = &t->shading[(5 + 1) * 3];
    EXPECT_EQ(lit[0], (int)(255 * (0.70710678f + 0.5f) * 0.5f));
    EXPECT_EQ(lit[1], (int)(255 * (0.5f * 0.70710678f + 0.5f) * 0.5f));
    EXPECT_EQ(lit[2], 63);
    EXPECT_EQ(t->normals[(5 + 1) * 3 + 0], 128 + (int)(-127 * 0.70710678f));
    EXPECT_EQ(t->normals[(5 + 1) * 3 + 1], 255);
    // Outside the rectangle nothing changed; a shadowed sample gets ambient only.
    EXPECT_EQ(t->shading[(5 + 3) * 3], 100);
    refresh_terrain_rect(t, 0, 0, 0, 0);
    EXPECT_EQ(t->shading[0], 63);
    EXPECT_EQ(t->normals[1], 0);
    EXPECT_EQ(dirty.calls, 1);          // the default hook was back
    free_terrain(t);
}

TEST_F(TerrainTest, SaveThenLoadKeepsHeightsTilesAndDecals)
{
    std::vector<uint16_t> v(25);
    for (int s = 0; s < 25; s++)
        v[s] = (uint16_t)(s * 2500);
    write_track(v, tiles(3));
    put("decals", "[ 1 2 ] 0.5 3 2 @skid.png\n[1 2] nan 1 1 @bad.png\n");
    Terrain *t = load();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->decals.size(), 1u);
    EXPECT_NEAR(t->decals[0].sine, sinf(0.5f), 1e-6);
    t->heights[7] = -3.25f;             // the editor digs a hole
    t->shading[0] = 150;
    t->tile_map[1] = 2;
    std::vector<float> heights = t->heights;
    ASSERT_TRUE(save_terrain(t));
    EXPECT_EQ(t->min_height, -3.25f);
    EXPECT_NEAR(t->max_height, 60.0f, 1e-4);
    free_terrain(t);

    // Written to the home directory, which is searched first.
    char header[64];
    snprintf(header, sizeof header, "1 2.000000 -3.250000 %f\n",
             *std::max_element(heights.begin(), heights.end()));
    EXPECT_EQ(read_file(home + "trk/terrain.hf"), header);
    EXPECT_FALSE(file_exists(home + "trk/terrain.hf.part"));
    std::string x1 = read_file(home + "trk/shading.ppm");
    EXPECT_EQ(x1.substr(0, 11), "P6\n5 5\n255\n");
    EXPECT_EQ((uint8_t)x1[11], 255);     // 150 doubled, limited
    EXPECT_EQ((uint8_t)x1[14], 200);
    EXPECT_EQ(read_file(home + "trk/decals"),
              "[1.000000 2.000000] 0.500000 3.000000 2.000000 @skid.png\n");
    t = load();
    ASSERT_NE(t, nullptr);
    float step = (60.0f + 3.25f) / 65535;
    for (int s = 0; s < 25; s++)
        EXPECT_NEAR(t->heights[s], heights[s], step) << s;
    EXPECT_EQ(t->shading[0], 150);
    EXPECT_EQ(std::vector<uint8_t>(t->tile_map), (std::vector<uint8_t>{0, 2, 2, 2}));
    ASSERT_EQ(t->decals.size(), 1u);
    EXPECT_STREQ(t->decals[0].texture, "@skid.png");
    free_terrain(t);
}

TEST_F(TerrainTest, SuperDebugLogsTheHeightDigest)
{
    std::vector<uint16_t> v(25);
    for (int s = 0; s < 25; s++)
        v[s] = (uint16_t)(s * 977 + 3);
    write_track(v, tiles(1));
    std::string bytes = le16(v);
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    ripemd160_update(&ctx, bytes.size(), (const uint8_t *)bytes.data());
    uint8_t hash[20];
    ripemd160_digest(&ctx, 20, hash);
    char hex[41];
    for (int i = 0; i < 20; i++)
        snprintf(hex + 2 * i, 3, "%02x", hash[i]);

    LogCapture log;
    int saved = startup_options().debug;
    startup_options_edit().debug = 1;
    free_terrain(load());
    EXPECT_EQ(log.text(), "");
    startup_options_edit().debug = 2;
    free_terrain(load());
    startup_options_edit().debug = saved;
    EXPECT_EQ(log.text(), std::string(hex) + "\n");
}
