// Track loading over small generated track directories: the lighting file, the
// object files, cameras, the collision grid, the track hash, saving and unloading.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nettle/ripemd160.h>

#include "core/common.h"
#include "core/options.h"
#include "platform/vrak.h"
#include "tests/support/temp_home.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

// Every texture name asked for; handles are positions in this list plus one.
std::vector<std::string> textures_asked;
std::string texture_found;      // the only name the hook "finds" when set

unsigned record_texture(const char *name)
{
    textures_asked.push_back(name);
    if (!texture_found.empty() && texture_found != name)
        return 0;
    return (unsigned)textures_asked.size();
}

bool message_seen(const std::string &text)
{
    const MessageLog &log = message_log();
    for (const auto &line : log.lines)
        if (strstr(line, text.c_str()))
            return true;
    return false;
}

std::string sphere_shape(float radius)
{
    return "1\n0 0 0 " + std::to_string(radius) + " 1 25000 2500\n";
}

class TrackTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        track_set_hooks(nullptr);
        message_log_clear();
        textures_asked.clear();
        texture_found.clear();
        write_terrain(32.0f, 0.0f);
    }
    void TearDown() override
    {
        free_track();
        track_set_hooks(nullptr);
        EXPECT_EQ(shape_cache_count(), 0);
        TempHomeTest::TearDown();
    }

    void put(const std::string &name, const std::string &bytes)
    {
        ASSERT_TRUE(write_bytes(data + "t/" + name, bytes));
    }
    std::string terrain_hf;

    // A 5 x 5 height field (k = 1) rising along x by `slope` per unit, with one
    // tile type and its shading.
    void write_terrain(float cell, float slope)
    {
        float top = slope * cell * 4;
        char header[64];
        snprintf(header, sizeof header, "1 %f 0.0 %f\n:", cell, top);
        terrain_hf = header;
        for (int j = 0; j < 5; j++)
            for (int i = 0; i < 5; i++) {
                int v = slope == 0 ? 0 : (int)std::lround(i / 4.0 * 65535);
                terrain_hf += (char)(v & 255);
                terrain_hf += (char)(v >> 8);
            }
        put("terrain.hf", terrain_hf);
        put("shadingx2.ppm", "P6\n5 5\n255\n" + std::string(75, '\100'));
        put("tileinfo", "addtile\n");
        put("tilemap", std::string(4, '\0'));
    }

    void load()
    {
        ASSERT_EQ(load_track("t"), 1);
        ASSERT_NE(track_terrain(), nullptr);
    }
    const Billboard &file_billboard(int i)
    {
        return track().billboards[track().billboard_file_first + i];
    }
    const Statue &file_statue(int i) { return track().statues[track().statue_file_first + i]; }
};

void expect_vec(const float *v, float x, float y, float z)
{
    EXPECT_NEAR(v[0], x, 1e-4);
    EXPECT_NEAR(v[1], y, 1e-4);
    EXPECT_NEAR(v[2], z, 1e-4);
}

} // namespace

TEST_F(TrackTest, LightingKeywordsDefaultsAndClamps)
{
    struct Case {
        const char *file;       // null: no lighting file
        std::function<void(const TrackLighting &)> check;
    };
    const float third = 1 / std::sqrt(3.0f);
    const Case cases[] = {
        {nullptr,
         [&](const TrackLighting &l) {
             expect_vec(l.sun_vector, third, third, third);
             expect_vec(l.sun_color, 1, 1, 1);
             expect_vec(l.ambient, 0.5f, 0.5f, 0.5f);
             expect_vec(l.global_ambient, 0.2f, 0.2f, 0.2f);
             EXPECT_FLOAT_EQ(l.near_plane, 0.25f);
             EXPECT_FLOAT_EQ(l.far_plane, 5000);
             EXPECT_FALSE(l.dynamic_lighting);
             EXPECT_FALSE(l.fog);
             EXPECT_FLOAT_EQ(l.fog_density, 0);
             EXPECT_STREQ(l.sky_names[0], "@sky-n.ppm");
             EXPECT_STREQ(l.sky_names[4], "@sky-u.ppm");
             EXPECT_STREQ(l.sky_env_name, "@sky-env.ppm");
         }},
        {"  sun_vector [ 0 2 0 ]\n\n\tsun_color [0.1 0.2 0.3]  \r\nambient [ 1 1 1 ]\n"
         "global_ambient [0 0.5 0]\ndynamic_lighting 1\nfog [ 0.5 0.6 0.7 ] 0.01\n"
         "sky_n   @north.png  \nsky_env @env.png\n",
         [&](const TrackLighting &l) {
             expect_vec(l.sun_vector, 0, 1, 0);
             expect_vec(l.sun_color, 0.1f, 0.2f, 0.3f);
             expect_vec(l.ambient, 1, 1, 1);
             expect_vec(l.global_ambient, 0, 0.5f, 0);
             EXPECT_TRUE(l.dynamic_lighting);
             EXPECT_TRUE(l.fog);
             expect_vec(l.fog_color, 0.5f, 0.6f, 0.7f);
             EXPECT_FLOAT_EQ(l.fog_density, 0.01f);
             EXPECT_STREQ(l.sky_names[0], "@north.png");
             EXPECT_STREQ(l.sky_names[1], "@sky-e.ppm");
             EXPECT_STREQ(l.sky_env_name, "@env.png");
         }},
        {"near_plane 0.00001\nfar_plane 0.0001\ndynamic_lighting 0\n",
         [&](const TrackLighting &l) {
             EXPECT_FLOAT_EQ(l.near_plane, 0.0009765625f);
             EXPECT_FLOAT_EQ(l.far_plane, 0.0009765625f);
             EXPECT_FALSE(l.dynamic_lighting);
         }},
        {"near_plane 5\nfar_plane 1e9\n",
         [&](const TrackLighting &l) {
             EXPECT_FLOAT_EQ(l.near_plane, 0.875f);
             EXPECT_FLOAT_EQ(l.far_plane, 1048576);
         }},
        {"near_plane nan\nfar_plane nan\nsun_vector [ 0 0 0 ]\n",
         [&](const TrackLighting &l) {
             EXPECT_FLOAT_EQ(l.near_plane, 0.0009765625f);
             EXPECT_FLOAT_EQ(l.far_plane, 0.0009765625f);
             expect_vec(l.sun_vector, third, third, third);
         }},
        // An unknown keyword ends the file: the lines after it are not read.
        {"sun_color [ 0.1 0.1 0.1 ]\nbogus stuff\nnear_plane 0.5\n",
         [&](const TrackLighting &l) {
             expect_vec(l.sun_color, 0.1f, 0.1f, 0.1f);
             EXPECT_FLOAT_EQ(l.near_plane, 0.25f);
             EXPECT_TRUE(message_seen("Error reading lighting: Unknown identifier 'bogus'"));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        std::filesystem::remove(data + "t/lighting");
        if (c.file)
            put("lighting", c.file);
        message_log_clear();
        load();
        c.check(track().lighting);
        // The terrain shading uses the same sun.
        const TerrainLighting &tl = track_terrain()->lighting;
        expect_vec(tl.sun_vector, track().lighting.sun_vector[0],
                   track().lighting.sun_vector[1], track().lighting.sun_vector[2]);
        expect_vec(tl.sun_color, track().lighting.sun_color[0], track().lighting.sun_color[1],
                   track().lighting.sun_color[2]);
        free_track();
    }
}

TEST_F(TrackTest, FlaresAndSkyTexturesGoThroughTheHook)
{
    put("lighting", "flare_element [1 2] [0.1 0.2 0.3] 4 @flare.png\n"
                    "flare_element [5 6] [1 1 1] 7 @ring.png\n"
                    "flare_point [ 1 2 3 ]\n"
                    "flare_element [0 0] [1 1 1] 0 @a.png\nflare_element [0 0] [1 1 1] 0 @a.png\n"
                    "flare_element [0 0] [1 1 1] 0 @a.png\nflare_element [0 0] [1 1 1] 0 @a.png\n"
                    "flare_element [0 0] [1 1 1] 0 @a.png\nflare_element [0 0] [1 1 1] 0 @a.png\n"
                    "flare_element [0 0] [1 1 1] 0 @a.png\nflare_element [0 0] [1 1 1] 0 @a.png\n"
                    "flare_element [0 0] [1 1 1] 0 @b.png\n"
                    "flare_vector [ 0 1 0 ]\n");
    TrackHooks hooks{};
    hooks.load_texture = record_texture;
    track_set_hooks(&hooks);
    load();
    const std::vector<Flare> &flares = track().flares;
    ASSERT_EQ(flares.size(), 2u);
    EXPECT_TRUE(flares[0].is_point);
    expect_vec(flares[0].source, 1, 2, 3);
    ASSERT_EQ(flares[0].element_count, 2);
    EXPECT_FLOAT_EQ(flares[0].elements[1].a, 5);
    EXPECT_FLOAT_EQ(flares[0].elements[1].c, 7);
    expect_vec(flares[0].elements[0].color, 0.1f, 0.2f, 0.3f);
    EXPECT_STREQ(flares[0].elements[1].texture_name, "@ring.png");
    EXPECT_NE(flares[0].elements[1].texture, 0u);
    EXPECT_FALSE(flares[1].is_point);
    EXPECT_EQ(flares[1].element_count, 8);      // the ninth is dropped
    EXPECT_STREQ(flares[1].elements[7].texture_name, "@a.png");

    for (const char *name : {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm", "@sky-w.ppm",
                             "@sky-u.ppm", "@sky-env.ppm", "@t/map.png"})
        EXPECT_NE(std::find(textures_asked.begin(), textures_asked.end(), name),
                  textures_asked.end())
            << name;
    EXPECT_NE(track().lighting.sky[2], 0u);
    EXPECT_NE(track().map_texture, 0u);
}

TEST_F(TrackTest, BillboardTintRule)
{
    put("billboards", "[ 1 0.5 2 ] 3 4 #ff0000#tree.png\n"
                      "[ 1 0 1 ] 1 1 #ff0000\n"
                      "[ 2 0 2 ] 1 1 #00ff0g#x.png\n"
                      "[ 3 0 3 ] 1 1 #102030#\n");
    load();
    ASSERT_EQ(track().billboards.size() - track().billboard_file_first, 4u);
    const Billboard &red = file_billboard(0);
    EXPECT_STREQ(red.texture_name, "tree.png");
    EXPECT_EQ(red.tint[0], 255);
    EXPECT_EQ(red.tint[1], 0);
    EXPECT_EQ(red.tint[2], 0);
    EXPECT_EQ(red.tint[3], 255);
    EXPECT_FLOAT_EQ(red.y, 0.5f);
    EXPECT_FLOAT_EQ(red.size_a, 3);
    EXPECT_FLOAT_EQ(red.size_b, 4);
    const Billboard &plain = file_billboard(1);
    EXPECT_STREQ(plain.texture_name, "#ff0000");
    EXPECT_EQ(plain.tint[1], 255);
    EXPECT_STREQ(file_billboard(2).texture_name, "#00ff0g#x.png");   // not hex
    EXPECT_EQ(file_billboard(3).texture_name, nullptr);              // tint, no picture
    EXPECT_EQ(file_billboard(3).tint[0], 0x10);

    // The particle pool comes before the file's billboards.
    EXPECT_GE(track().billboard_file_first - track().particle_first, TRACK_PARTICLES);
    EXPECT_EQ(track().billboards[track().particle_first].texture_name, nullptr);
}

TEST_F(TrackTest, StatueOrientation)
{
    write_terrain(1.0f, 0.5f);      // height = x / 2
    put("statues", "[ 1.5 0 1.5 ] 4.0 null null null\n"
                   "[ 1.5 0.25 1.5 ] -7.0 null null null\n"
                   "[ 1.5 0 1.5 ] 0 null null null\n");
    load();
    const Statue &facing = file_statue(0);
    EXPECT_FLOAT_EQ(facing.face_viewer, 16);
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 3; c++)
            EXPECT_FLOAT_EQ(facing.orientation[r][c], r == c ? 1 : 0);
    EXPECT_NEAR(facing.y, 0.75f, 1e-3);

    const Statue &upright = file_statue(1);
    EXPECT_FLOAT_EQ(upright.face_viewer, 0);
    EXPECT_NEAR(upright.y, 1.0f, 1e-3);
    expect_vec(upright.orientation[0], std::cos(-7.0f), 0, -std::sin(-7.0f));
    expect_vec(upright.orientation[1], 0, 1, 0);

    // On the slope the up row follows the ground normal (-0.5, 1, 0).
    const Statue &tilted = file_statue(2);
    float ux = -0.5f / std::sqrt(1.25f), uy = 1 / std::sqrt(1.25f);
    const float(*m)[3] = tilted.orientation;
    EXPECT_NEAR(m[1][0], ux, 1e-3);
    EXPECT_NEAR(m[1][1], uy, 1e-3);
    EXPECT_NEAR(m[1][2], 0, 1e-3);
    EXPECT_NEAR(m[0][0], uy, 1e-3);
    EXPECT_NEAR(m[0][1], -ux, 1e-3);
    EXPECT_NEAR(m[2][2], 1, 1e-3);
}

TEST_F(TrackTest, StatueMapCandidates)
{
    struct Case {
        const char *texture, *model, *kind;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"@tex/bark.png", "@models/tree.vm", "norm",
         {"@tex/bark_norm.seq", "@tex/bark_norm.png", "@tex/bark_norm.ppm",
          "@models/tree_norm.seq", "@models/tree_norm.png", "@models/tree_norm.ppm"}},
        {"@wall-repeat.png", nullptr, "spec",
         {"@wall_spec-repeat.seq", "@wall_spec-repeat.png", "@wall_spec-repeat.ppm"}},
        {"@plain", nullptr, "norm", {"@plain_norm.seq", "@plain_norm.png", "@plain_norm.ppm"}},
        {"@v1.2/rock", nullptr, "spec",
         {"@v1.2/rock_spec.seq", "@v1.2/rock_spec.png", "@v1.2/rock_spec.ppm"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.texture);
        EXPECT_EQ(statue_map_candidates(c.texture, c.model, c.kind), c.names);
    }

    // Maps are only looked for when the renderer draws them.
    put("statues", "[ 1 0 1 ] 0 @models/tree.vm @tex/bark.png null\n");
    TrackHooks hooks{};
    hooks.load_texture = record_texture;
    texture_found = "@models/tree_norm.png";
    track_set_hooks(&hooks);
    load();
    EXPECT_EQ(std::count(textures_asked.begin(), textures_asked.end(), "@tex/bark_norm.seq"), 0);
    free_track();

    hooks.normal_maps = true;
    track_set_hooks(&hooks);
    textures_asked.clear();
    load();
    EXPECT_NE(file_statue(0).normal_map, 0u);
    EXPECT_EQ(file_statue(0).specular_map, 0u);
    EXPECT_EQ(std::count(textures_asked.begin(), textures_asked.end(), "@tex/bark_spec.seq"), 1);
}

TEST_F(TrackTest, Cameras)
{
    put("cameras", "fov 45\naddcamera 1 2 1\naddcamera 2 1 2\n"
                   "gate 3 7 x 9\nautofovsize 5\naddcamera 0 0 0\n"
                   "junk line\ngate 300 4\naddcamera 1 1\naddcamera 1 1 1\n");
    load();
    const std::vector<TrackCamera> &cams = track().cameras;
    ASSERT_EQ(track_camera_count(), 4);
    EXPECT_FLOAT_EQ(cams[0].fov, 45);
    EXPECT_FLOAT_EQ(cams[0].y, 2);
    EXPECT_FLOAT_EQ(cams[1].fov, 90);
    EXPECT_FLOAT_EQ(cams[2].autofovsize, 5);
    EXPECT_FLOAT_EQ(cams[3].autofovsize, 0);
    for (int g = 0; g < TRACK_GATE_CAMERAS; g++)
        EXPECT_EQ(track().gate_camera[g], g == 3 || g == 7 ? 2 : -1) << g;
    free_track();

    std::filesystem::remove(data + "t/cameras");
    load();
    EXPECT_EQ(track_camera_count(), 0);
    for (int g = 0; g < TRACK_GATE_CAMERAS; g++)
        EXPECT_EQ(track().gate_camera[g], -1);
}

TEST_F(TrackTest, TrackHashCoversTheNamedFilesOnce)
{
    put("texturelist", "1 5 15 @dirt.png\n");
    put("timing_gates", "checkpoints:\n5 [ 10 0 10 ] [ 1 0 0 ]\n");
    put("a.shp", sphere_shape(1));
    put("b.shp", sphere_shape(2));
    std::string statues = "[ 40 0 40 ] 0 null null @t/a.shp\n[ 50 0 50 ] 0 null null @t/b.shp\n";
    for (int i = 0; i < 29; i++)
        statues += "[ 60 0 60 ] 0 null null @t/a.shp\n";
    put("statues", statues);
    put("lighting", "ambient [ 0.3 0.3 0.3 ]\n");
    put("billboards", "[ 1 0 1 ] 1 1 tree.png\n");
    put("cameras", "addcamera 1 1 1\n");

    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    for (const std::string &bytes :
         {terrain_hf, std::string("1 5 15 @dirt.png\n"), std::string(4, '\0'),
          std::string("addtile\n"), std::string("checkpoints:\n5 [ 10 0 10 ] [ 1 0 0 ]\n"),
          statues, sphere_shape(1), sphere_shape(2)})
        ripemd160_update(&ctx, bytes.size(), (const uint8_t *)bytes.data());
    uint8_t expected[TRACK_HASH_SIZE];
    ripemd160_digest(&ctx, TRACK_HASH_SIZE, expected);

    load();
    EXPECT_EQ(memcmp(track_hash(), expected, TRACK_HASH_SIZE), 0);
    EXPECT_EQ(shape_cache_count(), 2);
    EXPECT_STREQ(track_directory(), "t");
    EXPECT_STREQ(track_long_name(), "t");

    // Files outside the hash change nothing; a statue line does.
    put("billboards", "[ 2 0 2 ] 1 1 bush.png\n");
    put("lighting", "");
    free_track();
    load();
    EXPECT_EQ(memcmp(track_hash(), expected, TRACK_HASH_SIZE), 0);
    put("statues", statues + "[ 1 0 1 ] 0 null null null\n");
    free_track();
    load();
    EXPECT_NE(memcmp(track_hash(), expected, TRACK_HASH_SIZE), 0);
}

TEST_F(TrackTest, CollisionGrid)
{
    // Extent 128: cells are 12 units wide from 16 to 112.
    put("small.shp", sphere_shape(1));
    put("big.shp", sphere_shape(20));
    put("statues", "[ 40 0 40 ] 0 null null @t/small.shp\n"
                   "[ 40 0 40 ] 0 null null null\n"
                   "[ -50 0 200 ] 0 null null @t/small.shp\n"
                   "[ 64 0 64 ] 0 null null @t/big.shp\n");
    load();
    int first = track().statue_file_first;
    auto in_cell = [&](int gx, int gz, int statue) {
        const std::vector<int> &cell = track().grid[gz][gx];
        return std::count(cell.begin(), cell.end(), first + statue) == 1;
    };
    for (int gz = 0; gz < TRACK_GRID; gz++)
        for (int gx = 0; gx < TRACK_GRID; gx++) {
            SCOPED_TRACE(testing::Message() << gx << "," << gz);
            EXPECT_EQ(in_cell(gx, gz, 0), gx >= 1 && gx <= 2 && gz >= 1 && gz <= 2);
            EXPECT_FALSE(in_cell(gx, gz, 1));
            EXPECT_EQ(in_cell(gx, gz, 2), gx == 0 && gz == 7);
            // 44..84 -> cells 2..5
            EXPECT_EQ(in_cell(gx, gz, 3), gx >= 2 && gx <= 5 && gz >= 2 && gz <= 5);
        }

    std::vector<int> near;
    statues_near(41, 41, &near);
    EXPECT_EQ(near, (std::vector<int>{first + 0, first + 3}));
    statues_near(110, 110, &near);
    EXPECT_TRUE(near.empty());
    statues_near(-1000, 1000, &near);
    EXPECT_EQ(near, (std::vector<int>{first + 2}));
}

TEST_F(TrackTest, SaveBillboardsAndStatuesRoundTrip)
{
    EXPECT_FALSE(save_billboards());
    EXPECT_TRUE(message_seen("Can't open 'billboards'"));
    EXPECT_FALSE(save_statues());
    EXPECT_TRUE(message_seen("Can't open 'statues'"));

    put("a.shp", sphere_shape(1));
    put("flaggers", "[ 1 0 1 ] [ 2 0 2 ] 1 2 3 w1 w2 w3 w4 w5\n");
    put("billboards", "[ 1 0.5 2 ] 3 4 #ff0000#tree.png\n[ 1 0 1 ] 1 1 #ff0000\n");
    put("statues", "[ 1 0 1 ] 0.5 @m.vm null @t/a.shp\n[ 2 1 2 ] 4 null @x.png null\n");
    load();
    int untextured = create_billboard(5, 1, 5, 2, 2, nullptr);
    ASSERT_EQ(untextured + 1, (int)track().billboards.size());
    create_billboard(6, 0, 6, 1, 2, "bush.png");
    create_statue(7, 0, 7, 1, "@n.vm", "@n.png", nullptr);
    ASSERT_TRUE(save_billboards());
    ASSERT_TRUE(save_statues());
    EXPECT_EQ(read_data("@t/billboards"),
              "[1.000000 0.500000 2.000000] 3.000000 4.000000 #ff0000#tree.png\n"
              "[1.000000 0.000000 1.000000] 1.000000 1.000000 #ff0000\n"
              "[6.000000 0.000000 6.000000] 1.000000 2.000000 bush.png\n");
    std::string statues = read_data("@t/statues");
    EXPECT_EQ(statues, "[1.000000 0.000000 1.000000] 0.500000 @m.vm null @t/a.shp\n"
                       "[2.000000 1.000000 2.000000] 4.000000 null @x.png null\n"
                       "[7.000000 0.000000 7.000000] 1.000000 @n.vm @n.png null\n");
    EXPECT_TRUE(file_exists(home + "t/billboards"));
    EXPECT_FALSE(file_exists(home + "t/billboards.part"));

    // Loading again reads the saved copies and saves the same text.
    free_track();
    load();
    ASSERT_EQ(track().billboards.size() - track().billboard_file_first, 3u);
    ASSERT_EQ(track().statues.size() - track().statue_file_first, 3u);
    EXPECT_TRUE(track().flaggers.has_walking);
    ASSERT_TRUE(save_statues());
    EXPECT_EQ(read_data("@t/statues"), statues);
}

TEST_F(TrackTest, MissingShapeWarns)
{
    put("statues", "[ 1 0 1 ] 0 null null @t/missing.shp\n");
    load();
    EXPECT_TRUE(message_seen("Warning: missing shape file @t/missing.shp"));
    EXPECT_EQ(file_statue(0).shape, nullptr);
    EXPECT_STREQ(file_statue(0).shape_name, "@t/missing.shp");
}

TEST_F(TrackTest, Flaggers)
{
    put("flaggers", "[ 1 0 1 ] [ 3 0 3 ] 1 2 3 w1 w2 w3 w4 w5\n"
                    "[ 5 1 5 ] 2 3 l1 l2 l3 l4\n"
                    "[ 6 0 6 ] 1 1 -5 0 7 1 idle wave\n"
                    "[ 7 0 7 ] 1 1 0 0 0\n");
    load();
    const FlaggerSet &f = track().flaggers;
    ASSERT_TRUE(f.has_walking);
    EXPECT_FLOAT_EQ(f.walking.walk_time, 3);
    expect_vec(f.walking.end, 3, 0, 3);
    EXPECT_STREQ(track().billboards[f.walking.billboard].texture_name, "w1");
    EXPECT_STREQ(f.walking.texture_names[4], "w5");
    ASSERT_TRUE(f.has_lap);
    EXPECT_STREQ(f.lap.texture_names[3], "l4");
    EXPECT_FLOAT_EQ(track().billboards[f.lap.billboard].y, 1);
    ASSERT_EQ(f.checkpoint.size(), 1u);
    // No timing on this track: every index becomes -1.
    for (int k : f.checkpoint[0].checkpoints)
        EXPECT_EQ(k, -1);
    EXPECT_STREQ(f.checkpoint[0].waving_name, "wave");
}

TEST_F(TrackTest, FreeAndLoadAgain)
{
    put("a.shp", sphere_shape(1));
    put("statues", "[ 40 0 40 ] 0 null null @t/a.shp\n");
    put("cameras", "addcamera 1 1 1\n");
    load();
    std::vector<uint8_t> first(track_hash(), track_hash() + TRACK_HASH_SIZE);
    size_t billboards = track().billboards.size();
    free_track();
    EXPECT_EQ(track_terrain(), nullptr);
    EXPECT_EQ(track_directory(), nullptr);
    EXPECT_EQ(track_camera_count(), 0);
    EXPECT_TRUE(track().statues.empty());
    EXPECT_EQ(shape_cache_count(), 0);
    load();
    EXPECT_EQ(std::vector<uint8_t>(track_hash(), track_hash() + TRACK_HASH_SIZE), first);
    EXPECT_EQ(track().billboards.size(), billboards);
    EXPECT_EQ(track_camera_count(), 1);
    // Loading over a loaded track replaces it.
    load();
    EXPECT_EQ(track().billboards.size(), billboards);
    EXPECT_EQ(shape_cache_count(), 1);
}

TEST_F(TrackTest, MissingTerrainFails)
{
    EXPECT_EQ(load_track("nothere"), 0);
    EXPECT_EQ(track_directory(), nullptr);
    EXPECT_EQ(track_terrain(), nullptr);
    std::filesystem::remove(data + "t/terrain.hf");
    EXPECT_EQ(load_track("t"), 0);
    EXPECT_EQ(track_directory(), nullptr);
    EXPECT_EQ(load_track(nullptr), 0);
}

// Truncated and corrupted copies of every file the loader reads must neither
// crash nor stop the track from loading.
TEST_F(TrackTest, DamagedFilesDoNotCrash)
{
    const std::vector<std::pair<std::string, std::string>> files = {
        {"lighting", "sun_vector [ 1 2 3 ]\nflare_element [1 2] [0.1 0.2 0.3] 4 @f.png\n"
                     "flare_point [ 1 2 3 ]\nfog [ 0.5 0.6 0.7 ] 0.01\nnear_plane 0.5\n"},
        {"billboards", "[ 1 0.5 2 ] 3 4 #ff0000#tree.png\n[ 1 0 1 ] 1 1 bush.png\n"},
        {"statues", "[ 40 0 40 ] 0.5 @m.vm @m.png @t/a.shp\n[ 2 1 2 ] 4 null null @t/a.shp\n"},
        {"flaggers", "[ 1 0 1 ] [ 3 0 3 ] 1 2 3 w1 w2 w3 w4 w5\n[ 5 1 5 ] 2 3 l1 l2 l3 l4\n"
                     "[ 6 0 6 ] 1 1 -5 0 7 1 idle wave\n"},
        {"cameras", "fov 45\naddcamera 1 2 1\ngate 3 7 9\nautofovsize 5\naddcamera 0 0 0\n"},
        {"a.shp", "2\n0 1 0 0.5 0.8 25000 2500\n3 0 4 1.5 0.25 1000 100\n"},
    };
    for (const auto &[name, text] : files)
        put(name, text);
    TrackHooks hooks{};
    hooks.load_texture = record_texture;
    hooks.normal_maps = true;
    track_set_hooks(&hooks);

    std::mt19937 random(12345);
    for (const auto &[name, text] : files) {
        SCOPED_TRACE(name);
        std::vector<std::string> variants;
        for (size_t n = 0; n < text.size(); n += 3)
            variants.push_back(text.substr(0, n));
        for (int i = 0; i < 40; i++) {
            std::string bad = text;
            for (int k = 0; k < 4; k++)
                bad[random() % bad.size()] = (char)(random() % 256);
            variants.push_back(bad);
        }
        variants.push_back(std::string(5000, '['));
        for (const std::string &bytes : variants) {
            put(name, bytes);
            textures_asked.clear();
            ASSERT_EQ(load_track("t"), 1);
            free_track();
        }
        put(name, text);
    }
}

TEST_F(TrackTest, DebugLogLines)
{
    std::string log = root + "/log.txt";
    setenv("VRAK_LOGFILE", log.c_str(), 1);
    vrak_log_reset();
    startup_options_edit().debug = 1;
    put("cameras", "addcamera 1 1 1\n");
    TrackHooks hooks{};
    hooks.texture_memory = [] { return 1234ul; };
    track_set_hooks(&hooks);
    load();
    free_track();
    startup_options_edit().debug = 0;
    vrak_log_reset();
    unsetenv("VRAK_LOGFILE");

    std::string text = read_data(log.c_str());
    size_t at = 0;
    for (const char *line :
         {"Loading '@t'\n", "1234 bytes texture memory used after hf creation\n",
          "1234 bytes texture memory used after flagger creation\n",
          "1234 bytes texture memory used after billboard creation\n",
          "1234 bytes texture memory used after statue creation\n", "1 cameras found\n",
          "Deallocating track\n", "Finished deallocating track\n"}) {
        size_t found = text.find(std::string("] ") + line, at);
        EXPECT_NE(found, std::string::npos) << line << "in\n" << text;
        if (found != std::string::npos)
            at = found;
    }
}
