// Damaged track files must give a clean failure or a usable terrain, never a
// crash or a read out of bounds (the sanitizer build checks the latter): every
// prefix of the main files, and a few hundred random byte corruptions.
#include <cstdlib>
#include <random>

#include "platform/vrak.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"
#include "track/terrain.h"

namespace {

struct TrackFile {
    const char *name;
    std::string bytes;
};

std::vector<TrackFile> fixture_files()
{
    std::string heights = "1 2.0 -1 20\n:";
    for (int s = 0; s < 25; s++) {
        heights += (char)(s * 37);
        heights += (char)(s * 11);
    }
    std::string shading = "P6\n# baked\n5 5\n255\n" + std::string(75, '\x90');
    std::string shadows = "P2\n5 5\n15\n";
    for (int s = 0; s < 25; s++)
        shadows += std::to_string(s % 16) + " ";
    return {
        {"terrain.hf", heights},
        {"shading.ppm", shading},
        {"shadows.pgm", shadows},
        {"tileinfo", "texture @mud.png\nfriction 0.9 2\nfriction 1.1 8\nroll_resist 4 9 3\n"
                     "roost count=4 texture=\"a b.png\" fade_a=-300\nerode_depth 2\naddtile\n"
                     "texture @grass.png\nroost splash=1\naddtile\n"},
        {"tilemap", std::string("\x00\x01\x05\x01", 4)},
        {"decals", "[ 1 2 ] 0.5 3 2 @skid.png\n[ 4 4 ] 1 1 1 @rut.png\n"},
    };
}

class TerrainFuzzTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        // Hundreds of failing loads would each write (and sync) log lines.
        unsetenv("VRAK_LOGFILE");
        vrak_log_reset();
        files = fixture_files();
        for (const TrackFile &f : files)
            put(f.name, f.bytes);
    }
    void TearDown() override
    {
        vrak_log_reset();
        TempHomeTest::TearDown();
    }
    void put(const std::string &name, const std::string &bytes)
    {
        ASSERT_TRUE(write_bytes(data + "trk/" + name, bytes));
    }
    // Loads with and without terrain shaders; either may fail, neither may crash.
    void load_both()
    {
        for (int mode : {TERRAIN_RENDER_SOFTWARE, TERRAIN_RENDER_SHADERS_DIRECT}) {
            Terrain *t = load_terrain("trk", mode);
            if (t) {
                // A loaded terrain must answer lookups anywhere.
                terrain_height(t, 3, 3);
                tile_at(t, 100, -100);
                refresh_terrain_rect(t, -1, -1, 100, 100);
                ASSERT_LT(tile_at(t, 5, 5), t->tile_count);
            }
            free_terrain(t);
        }
    }
    std::vector<TrackFile> files;
};

} // namespace

TEST_F(TerrainFuzzTest, FixtureLoads)
{
    Terrain *t = load_terrain("trk", TERRAIN_RENDER_SOFTWARE);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->tile_count, 2);
    EXPECT_EQ(t->decals.size(), 2u);
    free_terrain(t);
}

TEST_F(TerrainFuzzTest, EveryPrefixOfTheMainFiles)
{
    for (const TrackFile &f : files) {
        for (size_t n = 0; n < f.bytes.size(); n++) {
            SCOPED_TRACE(testing::Message() << f.name << " cut to " << n);
            put(f.name, f.bytes.substr(0, n));
            load_both();
        }
        put(f.name, f.bytes);
    }
}

TEST_F(TerrainFuzzTest, RandomByteCorruptions)
{
    std::mt19937 random(20240611);
    // The heights also come from a PNG in half the rounds.
    std::string png = read_file(RUTTMOOR_SOURCE_DIR "/tests/fixtures/terrain/terrain.png");
    files.push_back({"terrain.png", png});
    for (int round = 0; round < 400; round++) {
        const TrackFile &f = files[random() % files.size()];
        std::string bytes = f.bytes;
        int changes = 1 + (int)(random() % 4);
        for (int c = 0; c < changes && !bytes.empty(); c++)
            bytes[random() % bytes.size()] = (char)(random() % 256);
        if (random() % 4 == 0)
            bytes.resize(random() % (bytes.size() + 1));
        bool from_png = round % 2 == 1;
        put("terrain.hf", from_png ? "2 1.0 0 100\n" : files[0].bytes);
        put("shading.ppm", from_png ? "P6 9 9 255 " + std::string(243, 'x') : files[1].bytes);
        put("shadows.pgm", from_png ? "P5 9 9 255 " + std::string(81, 'x') : files[2].bytes);
        put("tilemap", from_png ? std::string(16, '\x01') : files[4].bytes);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << f.name);
        put(f.name, bytes);
        load_both();
        put(f.name, f.bytes);
    }
}
