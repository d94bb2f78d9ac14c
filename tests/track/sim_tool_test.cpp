// The headless tool as other checks run it: command lines, outputs, exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nettle/ripemd160.h>
#include <string>

#include "tests/support/process.h"
#include "tests/support/temp_home.h"

namespace {

const std::string tool = std::string(RUTTMOOR_BUILD_DIR) + "/ruttmoor-sim";

// A 5 x 5 height field (k = 1, cell 1 ft) rising 1 ft per ft towards +x, a 2 x 2
// tile map of two tile types, and timing with one starting gate.
std::string tiny_heights()
{
    std::string hf = "1 1.0 0.0 65.535\n:";
    for (int j = 0; j < 5; j++) {
        for (int i = 0; i < 5; i++) {
            int v = 1000 * i;   // height = i ft
            hf += (char)(v & 255);
            hf += (char)(v >> 8);
        }
    }
    return hf;
}

struct SimTool : testing::Test {
    std::string root, data, xdg;

    void SetUp() override
    {
        root = make_temp_dir();
        data = root + "/data/";
        xdg = root + "/xdg";
        std::filesystem::create_directories(data);
        std::error_code ec;
        std::filesystem::copy_file(std::string(RUTTMOOR_BUILD_DIR) + "/zzzz.saf",
                                   data + "zzzz.saf", ec);
        ASSERT_FALSE(ec) << "the packed game data is needed: " << ec.message();

        write_bytes(data + "tiny/desc", "Tiny Test\n");
        write_bytes(data + "tiny/terrain.hf", tiny_heights());
        write_bytes(data + "tiny/shadingx2.ppm", "P6\n5 5\n255\n" + std::string(75, '\100'));
        write_bytes(data + "tiny/tileinfo", "texture a.png\naddtile\ntexture b.png\naddtile\n");
        write_bytes(data + "tiny/tilemap", std::string("\0\1\1\0", 4));
        write_bytes(data + "tiny/timing_gates", "startinggate:\n[2 0 2] 0\n"
                                                "checkpoints:\n1 [1 0 1] [1 0 0]\n"
                                                "1 [3 0 3] [-1 0 0]\n"
                                                "firstlap: 0 1\nnormallap: 1 100000 1\n");
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    ProcessResult run(const std::vector<std::string> &args, const std::string &data_dir = "")
    {
        return run_process(tool, args,
                           {"HOME=" + root, "XDG_DATA_HOME=" + xdg,
                            "QK_HOME=" + (data_dir.empty() ? data : data_dir), "VRAK_LOGFILE",
                            "VRAK_LOGFILE_FLAGS"});
    }
};

TEST_F(SimTool, TrackInfoPrintsAndWritesTheSameLines)
{
    ProcessResult r = run({"trackinfo", "tiny"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string head = "dir=tiny\nlongname=Tiny Test\nfirstlap=2\nnormallap=3\n"
                             "gatecount=1\nhash=";
    ASSERT_EQ(r.out.substr(0, head.size()), head);
    std::string hash = r.out.substr(head.size());
    EXPECT_EQ(hash.size(), 41u) << hash;
    EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), 40u) << hash;
    EXPECT_EQ(hash.back(), '\n');
    EXPECT_EQ(read_file(xdg + "/Ruttmoor/tiny.trackinfo"), r.out);
    EXPECT_FALSE(file_exists(xdg + "/Ruttmoor/tiny.trackinfo.part"));

    // The hash follows the track's files.
    write_bytes(data + "tiny/timing_gates", "checkpoints:\n1 [1 0 1] [1 0 0]\n"
                                            "firstlap: 0\nnormallap: 0\n");
    ProcessResult changed = run({"trackinfo", "tiny"});
    ASSERT_EQ(changed.status, 0) << changed.err;
    EXPECT_NE(changed.out.substr(changed.out.find("hash=")), r.out.substr(r.out.find("hash=")));
    EXPECT_NE(changed.out.find("gatecount=0\n"), std::string::npos);
}

TEST_F(SimTool, TerrainPrintsHeightTileAndUnitNormal)
{
    ProcessResult r = run({"terrain", "tiny", "1.5", "2.5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "height=1.500000 tile=1 normal=-0.707107,0.707107,0.000000\n");
    r = run({"terrain", "tiny", "-10", "0.25"});     // beyond the edge: the border heights
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "height=0.000000 tile=0 normal=0.000000,1.000000,0.000000\n");
}

TEST_F(SimTool, LoadFailuresExitWithStatusOne)
{
    write_bytes(data + "broken/terrain.hf", "1 1.0 0.0 0.0\n");
    ProcessResult r = run({"trackinfo", "broken"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Can't open '"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(xdg + "/Ruttmoor/broken.trackinfo"));

    r = run({"terrain", "nosuchtrack", "0", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");

    std::filesystem::create_directories(root + "/empty");
    r = run({"trackinfo", "tiny"}, root + "/empty");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't find game data\n");
}

// The fernbottom packed into the game data loads like the game would load it; its
// hash is RIPEMD-160 over exactly the files that matter for racing, in their order,
// as the build staged them for packing (before any compression), then over the
// collision shapes its objects use.
TEST_F(SimTool, PackedFernbottomTrackLoads)
{
    ProcessResult r = run({"trackinfo", "fernbottom"});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string staged = std::string(RUTTMOOR_BUILD_DIR) + "/gamedata/fernbottom/";
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    for (const char *name : {"terrain.hf", "terrain.png", "texturelist", "tilemap", "tileinfo",
                             "timing_gates", "statues"}) {
        if (!std::filesystem::exists(staged + name))
            continue;
        std::string bytes = read_file(staged + name);
        ripemd160_update(&ctx, bytes.size(), (const uint8_t *)bytes.data());
    }
    // Then the collision shapes of the statue table, each file once, in table order:
    // the starting gates' objects first, then the statues of the "statues" file.
    std::vector<std::string> shapes;
    auto add_shapes = [&](const std::string &file, bool gates) {
        std::string text = read_file(staged + file);
        if (gates && text.rfind("startinggate:", 0) != 0)
            return;
        size_t pos = gates ? text.find('\n') + 1 : 0;
        while (pos < text.size() && text.compare(pos, 12, "checkpoints:") != 0) {
            std::string line = text.substr(pos, text.find('\n', pos) - pos);
            pos += line.size() + 1;
            float x, y, z, a;
            char model[1024], texture[1024], shape[1024];
            int got = sscanf(line.c_str(), " [ %f %f %f ] %f %1023s %1023s %1023s", &x, &y, &z,
                             &a, model, texture, shape);
            if (got < 4)
                break;
            std::string name = got == 7 ? shape : gates ? "@startgate.shp" : "null";
            if (name != "null" && std::find(shapes.begin(), shapes.end(), name) == shapes.end())
                shapes.push_back(name);
        }
    };
    add_shapes("timing_gates", true);
    add_shapes("statues", false);
    for (const std::string &name : shapes) {
        std::string bytes = read_file(std::string(RUTTMOOR_BUILD_DIR) + "/gamedata/" +
                                      name.substr(1));
        ripemd160_update(&ctx, bytes.size(), (const uint8_t *)bytes.data());
    }
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(&ctx, sizeof digest, digest);
    char hex[2 * RIPEMD160_DIGEST_SIZE + 1];
    for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);

    std::string desc = read_file(staged + "desc");
    std::string longname = desc.substr(0, desc.find_first_of("\r\n"));
    int first_lap = 0, normal_lap = 0, gates = 0;
    char hash[41] = "";
    std::string head = "dir=fernbottom\nlongname=" + longname + "\n";
    ASSERT_EQ(r.out.substr(0, head.size()), head) << r.out;
    ASSERT_EQ(sscanf(r.out.c_str() + head.size(), "firstlap=%d\nnormallap=%d\ngatecount=%d\n"
                     "hash=%40[0-9a-f]\n", &first_lap, &normal_lap, &gates, hash), 4)
        << r.out;
    EXPECT_GT(first_lap, 0);
    EXPECT_GT(normal_lap, 0);
    EXPECT_GT(gates, 0);
    EXPECT_EQ(std::string(hash), hex);

    r = run({"terrain", "fernbottom", "20", "30"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("height=", 0), 0u) << r.out;
}

TEST_F(SimTool, BadUsageExitsWithStatusTwo)
{
    const std::vector<std::string> cases[] = {
        {},
        {"trackinfo"},
        {"trackinfo", "tiny", "extra"},
        {"terrain", "tiny", "1"},
        {"terrain", "tiny", "x", "1"},
        {"terrain", "tiny", "1", "2z"},
        {"fly", "tiny"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0] + " ... " + std::to_string(args.size()));
        ProcessResult r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("usage: ruttmoor-sim", 0), 0u) << r.err;
    }
}

} // namespace
