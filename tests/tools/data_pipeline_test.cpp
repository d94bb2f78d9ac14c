// The game-data pipeline: safpack's compressed members are made the same way every
// time and read back through the data layer, and the packed zzzz.saf holds what the
// game looks for, with digests that match it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nettle/ripemd160.h>
#include <random>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "data_digests.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

namespace {

const std::string build_dir = RUTTMOOR_BUILD_DIR;
const std::string safpack = build_dir + "/tools/safpack";

struct Member {
    std::string name;
    std::string bytes;
};

// The members of a ".saf" archive, or an empty list when the header is bad.
std::vector<Member> read_members(const std::string &archive)
{
    std::vector<Member> members;
    std::vector<size_t> sizes;
    size_t pos = 0;
    for (;;) {
        size_t end = archive.find('\n', pos);
        if (end == std::string::npos)
            return {};
        std::string line = archive.substr(pos, end - pos);
        pos = end + 1;
        if (line == "-")
            break;
        size_t space = line.find(' ');
        if (space == std::string::npos)
            return {};
        sizes.push_back(strtoull(line.c_str(), nullptr, 10));
        members.push_back({line.substr(space + 1), ""});
    }
    for (size_t i = 0; i < members.size(); i++) {
        if (pos + sizes[i] > archive.size())
            return {};
        members[i].bytes = archive.substr(pos, sizes[i]);
        pos += sizes[i];
    }
    return pos == archive.size() ? members : std::vector<Member>{};
}

const Member *find_member(const std::vector<Member> &members, const std::string &name)
{
    for (const Member &m : members)
        if (m.name == name)
            return &m;
    return nullptr;
}

class DataPipelineTest : public TempHomeTest {};

TEST_F(DataPipelineTest, GzipMembersAreReproducibleAndReadBack)
{
    // Compressible and incompressible files above the limit, files that must stay
    // plain whatever their size, and a small one.
    std::string text;
    for (int i = 0; i < 2000; i++)
        text += "line " + std::to_string(i % 37) + " of a compressible file\n";
    std::mt19937 rng(7);
    std::string noise;
    for (int i = 0; i < 8000; i++)
        noise += (char)(rng() & 255);
    struct File {
        std::string name, bytes, stored_as;
    } files[] = {
        {"track/terrain.hf", text, "track/terrain.hf.gz"},
        {"track/noise.bin", noise, "track/noise.bin"},          // would not shrink
        {"track/desc", text, "track/desc"},
        {"generic_frame.shp", text, "generic_frame.shp"},
        {"cup.series", text, "cup.series"},
        {"demos/README.txt", text, "demos/README.txt"},
        {"small", "tiny\n", "small"},
    };
    std::string src = root + "/src/";
    for (const File &f : files)
        ASSERT_TRUE(write_bytes(src + f.name, f.bytes));

    std::string archives[2];
    for (int run = 0; run < 2; run++) {
        std::string out = root + "/out" + std::to_string(run) + ".saf";
        ProcessResult r = run_process(safpack, {"--gzip-over", "1000", "--plain", "*.series",
                                                "--plain", "README.txt", out, src}, {});
        ASSERT_EQ(r.status, 0) << r.err;
        archives[run] = read_file(out);
    }
    EXPECT_EQ(archives[0], archives[1]);

    std::vector<Member> members = read_members(archives[0]);
    ASSERT_EQ(members.size(), sizeof files / sizeof files[0]);
    for (const File &f : files) {
        SCOPED_TRACE(f.name);
        const Member *m = find_member(members, f.stored_as);
        ASSERT_NE(m, nullptr);
        if (f.stored_as == f.name) {
            EXPECT_EQ(m->bytes, f.bytes);
            continue;
        }
        // A fixed header (no name, no time, level 9, Unix) and a much smaller body.
        EXPECT_EQ(m->bytes.substr(0, 10), std::string("\x1f\x8b\x08\0\0\0\0\0\x02\x03", 10));
        EXPECT_LT(m->bytes.size(), f.bytes.size() / 4);
    }

    // The game reads every file under its plain name.
    ASSERT_TRUE(write_bytes(data + "zzzz.saf", archives[0]));
    for (const File &f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(read_data(("@" + f.name).c_str()), f.bytes);
    }

    // Bad options are refused rather than packing something else.
    for (const char *bad : {"-1", "12x", ""}) {
        ProcessResult r = run_process(safpack, {"--gzip-over", bad, root + "/x.saf", src}, {});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_FALSE(file_exists(root + "/x.saf"));
    }
}

std::string hex_ripemd160(const std::vector<const std::string *> &parts)
{
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    for (const std::string *p : parts)
        ripemd160_update(&ctx, p->size(), (const uint8_t *)p->data());
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(&ctx, sizeof digest, digest);
    char hex[2 * RIPEMD160_DIGEST_SIZE + 1];
    for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

TEST_F(DataPipelineTest, PackedGameDataHoldsWhatTheGameLooksFor)
{
    std::string archive = read_file(build_dir + "/zzzz.saf");
    std::vector<Member> members = read_members(archive);
    ASSERT_FALSE(members.empty()) << "build the game_data target first";

    // The seven bike shapes, plain, and the fixed-file digest made from exactly them.
    std::vector<const std::string *> fixed;
    for (const char *name : data_fixed_file_names) {
        const Member *m = find_member(members, name + 1);
        ASSERT_NE(m, nullptr) << name;
        fixed.push_back(&m->bytes);
    }
    EXPECT_EQ(hex_ripemd160(fixed), FIXED_FILE_DIGEST);
    std::string first_mib = archive.substr(0, 1048576);
    EXPECT_EQ(hex_ripemd160({&first_mib}), GAME_DATA_DIGEST);

    EXPECT_NE(find_member(members, "startgate.shp"), nullptr);
    EXPECT_NE(find_member(members, "demos/README.txt"), nullptr);
    EXPECT_NE(find_member(members, "setups/README.txt"), nullptr);
    bool series = false;
    for (const Member &m : members)
        series = series || (m.name.size() > 7 && m.name.rfind(".series") == m.name.size() - 7);
    EXPECT_TRUE(series);

    // A track directory for every description, fernbottom among them, each found by
    // the game through its height field.
    std::vector<std::string> tracks = {"fernbottom"};
    std::error_code ec;
    std::filesystem::directory_iterator it(std::string(RUTTMOOR_SOURCE_DIR) + "/data/tracks", ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        if (it->path().extension() == ".track")
            tracks.push_back(it->path().stem().string());
    for (const std::string &t : tracks) {
        SCOPED_TRACE(t);
        EXPECT_NE(find_member(members, t + "/desc"), nullptr);
        EXPECT_TRUE(find_member(members, t + "/terrain.hf") ||
                    find_member(members, t + "/terrain.hf.gz"));
        EXPECT_TRUE(find_member(members, t + "/timing_gates") ||
                    find_member(members, t + "/timing_gates.gz"));
    }

    // Nothing that only builds the data is packed.
    for (const Member &m : members) {
        EXPECT_EQ(m.name.find("CMakeLists.txt"), std::string::npos);
        EXPECT_NE(m.name.substr(0, 7), "tracks/");
        EXPECT_NE(m.name.substr(0, 7), "static/");
    }
}

} // namespace
