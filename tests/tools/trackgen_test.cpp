// The track generator over the real track descriptions: the game loads what it
// writes without a complaint, the timing layout can be ridden lap after lap along
// the designed racing line, the course keeps clear of itself and its jumps can be
// ridden, and the output depends on the description alone. Bad descriptions fail
// with the file and line.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/datafile.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_home.h"
#include "tools/trackgen.h"
#include "track/gates.h"
#include "track/shape.h"
#include "track/terrain.h"
#include "track/track.h"

namespace fs = std::filesystem;

namespace {

const float DEG = 180.0f / 3.14159265f;

struct TrackCase {
    const char *dir;
};

const TrackCase TRACKS[] = {{"fernbottom"}, {"millbrook"}};

std::string description_path(const char *dir)
{
    return std::string(RUTTMOOR_SOURCE_DIR) + "/data/tracks/" + dir + ".track";
}

std::string slurp(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Arc distance between two places on the loop.
float loop_gap(const Course &c, float a, float b)
{
    float d = fabsf(a - b);
    return std::min(d, c.length - d);
}

class TrackgenTest : public TempHomeTest, public ::testing::WithParamInterface<TrackCase> {
protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        track_set_hooks(nullptr);
        gates_set_hooks(nullptr);
        std::string error;
        ASSERT_TRUE(read_track_desc(description_path(GetParam().dir).c_str(), &desc, &error))
            << error;
        auto t0 = std::chrono::steady_clock::now();
        build_course(desc, &course);
        ASSERT_TRUE(write_track(course, data.c_str(), &error)) << error;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // The starting gate's shape is one of the generic shapes made elsewhere; a
        // stand-in keeps its absence out of the log.
        ASSERT_TRUE(write_bytes(data + "startgate.shp", "1\n0 1 0 1 0.5 20000 2000\n"));
        data_reset();
    }
    void TearDown() override
    {
        free_track();
        TempHomeTest::TearDown();
    }

    TrackDesc desc;
    Course course;
    double seconds = 0;
};

TEST_P(TrackgenTest, LoadsCleanlyWithTheDescribedLayout)
{
    LogCapture log;
    ASSERT_EQ(load_track(desc.dir.c_str()), 1);
    std::string text = log.text();
    for (const char *bad : {"arning", "rror", "Can't", "Bad ", "Unknown", "missing"})
        EXPECT_EQ(text.find(bad), std::string::npos) << bad << " in:\n" << text;
    printf("[ %s ] generated in %.2f s, centre line %.0f ft\n", desc.dir.c_str(), seconds,
           course.length);

    const Track &t = track();
    EXPECT_EQ(t.terrain->grid_size, (1 << (desc.size_log2 + 1)) + 1);
    EXPECT_GE(track_camera_count(), 3);
    EXPECT_GT(t.statues.size(), (size_t)desc.start_count);
    EXPECT_GT(t.billboards.size(), (size_t)TRACK_PARTICLES);
    EXPECT_TRUE(t.flaggers.has_walking && t.flaggers.has_lap);

    const TimingTables &tt = timing_tables();
    EXPECT_EQ(tt.starting_gate_count, desc.start_count);
    // Checkpoints at the described spacing, except that none stands in a jump or the
    // whoops (where a learnt line would begin in the air): those move to the ground
    // before or after the feature, or go when that brings them up to a neighbour.
    int expected = (int)course.checkpoints.size();
    int spaced = (int)lroundf(course.length / desc.checkpoint_spacing);
    ASSERT_EQ(tt.checkpoint_count, expected);
    EXPECT_LE(expected, spaced);
    EXPECT_GE(expected, spaced - (int)desc.features.size());
    for (int k = 0; k < expected; k++) {
        float s = course.checkpoints[k].s;
        float next = k + 1 < expected ? course.checkpoints[k + 1].s : course.length;
        EXPECT_GE(next - s, 60.0f) << "checkpoint " << k;
        EXPECT_LE(next - s, 2.5f * desc.checkpoint_spacing) << "checkpoint " << k;
        for (const TrackFeature &f : desc.features)
            EXPECT_TRUE(k == 0 || s <= f.from - 24 || s >= f.to + 39)
                << "checkpoint " << k << " at " << s << " in a feature " << f.from << ".." << f.to;
    }
    ASSERT_EQ(tt.normal_lap_count, expected);
    ASSERT_EQ(tt.first_lap_count, (int)course.first_lap.size());
    // The normal lap runs once round from the line back to the line (checkpoint 0);
    // the first lap is its tail.
    for (int k = 0; k < expected; k++)
        EXPECT_EQ(tt.lap_entries[tt.first_lap_count + k], (k + 1) % expected);
    for (int k = 0; k < tt.first_lap_count; k++) {
        EXPECT_EQ(tt.lap_entries[k],
                  tt.lap_entries[tt.first_lap_count + expected - tt.first_lap_count + k]);
    }
    // Every checkpoint sits on the centre line and faces along it.
    for (int k = 0; k < tt.checkpoint_count; k++) {
        const TimingGate &g = tt.checkpoints[k];
        float best = 1e9f;
        const CourseSample *at = nullptr;
        for (const CourseSample &q : course.line) {
            float d = hypotf(q.x - g.x, q.z - g.z);
            if (d < best)
                best = d, at = &q;
        }
        EXPECT_LT(best, 0.1f) << "checkpoint " << k;
        EXPECT_GT(g.dx * at->tx + g.dz * at->tz, 0.999f) << "checkpoint " << k;
        EXPECT_GE(g.radius, at->width * 0.5f) << "checkpoint " << k;
    }
    // The grid stands on the course, facing along it.
    for (int k = 0; k < tt.starting_gate_count; k++) {
        const StartingGate &g = tt.starting_gates[k];
        const CourseSample &q = course_at(course, desc.start_at);
        float across = fabsf((g.x - q.x) * -q.tz + (g.z - q.z) * q.tx);
        EXPECT_LT(across, q.width * 0.5f - 1) << "gate " << k;
        EXPECT_GT(-sinf(g.angle) * q.tx - cosf(g.angle) * q.tz, 0.999f) << "gate " << k;
    }
}

// Rides the racing line from the starting grid, front wheel position only, a fine
// step per frame, for two full laps and a bit: every gate must be passed in order.
TEST_P(TrackgenTest, RacingLineCompletesLapsThroughEveryGate)
{
    ASSERT_EQ(load_track(desc.dir.c_str()), 1);
    std::vector<RoutePoint> route;
    std::istringstream in(slurp(fs::path(data) / desc.dir / "route"));
    std::string line;
    while (std::getline(in, line)) {
        RoutePoint p;
        if (line[0] != '#' && sscanf(line.c_str(), "%f %f %f", &p.x, &p.z, &p.speed) == 3)
            route.push_back(p);
    }
    ASSERT_GT(route.size(), 100u);
    const StartingGate &gate = timing_tables().starting_gates[desc.start_count / 2];
    size_t first = 0;
    for (size_t k = 0; k < route.size(); k++) {
        if (hypotf(route[k].x - gate.x, route[k].z - gate.z) <
            hypotf(route[first].x - gate.x, route[first].z - gate.z))
            first = k;
    }
    GateProgress racer;
    int32_t frame = 0;
    int laps = 0, into = 0;
    const Terrain *ground = track_terrain();
    for (size_t k = 0; k < route.size() * 2 + route.size() / 4; k++) {
        const RoutePoint &a = route[(first + k) % route.size()];
        const RoutePoint &b = route[(first + k + 1) % route.size()];
        float length = hypotf(b.x - a.x, b.z - a.z);
        int steps = std::max(1, (int)(length / 0.5f));
        for (int s = 0; s < steps; s++) {
            float t = (float)s / (float)steps;
            float wheel[3] = {a.x + (b.x - a.x) * t, 0, a.z + (b.z - a.z) * t};
            wheel[1] = terrain_height(ground, wheel[0], wheel[2]);
            check_gates(&racer, wheel, ++frame, 10);
        }
    }
    laps_completed(&racer, &laps, &into);
    EXPECT_GE(laps, 2);
    for (int g = 0; g < racer.gates_passed; g++)
        EXPECT_GE(gate_time(&racer, g), 0) << "race gate " << g << " cut";
}

TEST_P(TrackgenTest, CourseKeepsClearOfItselfAndIsRideable)
{
    const std::vector<CourseSample> &line = course.line;
    const float margin = 20;
    float narrowest = 1e9f;
    for (size_t i = 0; i < line.size(); i++) {
        narrowest = std::min(narrowest, line[i].width);
        for (size_t j = i + 1; j < line.size(); j++) {
            if (loop_gap(course, line[i].s, line[j].s) < 250)
                continue;
            float d = hypotf(line[i].x - line[j].x, line[i].z - line[j].z);
            ASSERT_GE(d, (line[i].width + line[j].width) * 0.5f + margin)
                << "s = " << line[i].s << " and " << line[j].s;
        }
    }
    EXPECT_GE(narrowest, 20.0f);
    EXPECT_GE(course_at(course, desc.start_at).width, 75.0f);

    // No checkpoint circle reaches another part of the course.
    for (const Checkpoint &k : course.checkpoints) {
        for (const CourseSample &q : line) {
            if (loop_gap(course, k.s, q.s) < k.radius + 60)
                continue;
            EXPECT_GT(hypotf(q.x - k.x, q.z - k.z) - q.width * 0.5f, k.radius)
                << "checkpoint at s = " << k.s << " reaches s = " << q.s;
        }
    }

    ASSERT_EQ(load_track(desc.dir.c_str()), 1);
    const Terrain *t = track_terrain();
    // The steepest ground anywhere on the course surface (berms and jump faces).
    float steepest = 0;
    int n = t->grid_size;
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            size_t idx = (size_t)j * n + i;
            int near = course.nearest[idx];
            // The triangle tested must lie wholly on the course, not on its shoulder.
            if (near < 0 || fabsf(course.lateral[idx]) > line[near].width * 0.5f - 1.5f * t->cell)
                continue;
            float normal[3];
            terrain_face_normal(t, ((float)i + 0.3f) * t->cell, ((float)j + 0.3f) * t->cell,
                                normal);
            float slope = atan2f(hypotf(normal[0], normal[2]), normal[1]) * DEG;
            steepest = std::max(steepest, slope);
        }
    }
    // Along the line: faces met going up (take-offs) and coming down (landings).
    float up = 0, down = 0;
    for (size_t i = 0; i < line.size(); i++) {
        const CourseSample &a = line[i], &b = line[(i + 2) % line.size()];
        float ha = terrain_height(t, a.x, a.z), hb = terrain_height(t, b.x, b.z);
        float slope = atan2f(hb - ha, hypotf(b.x - a.x, b.z - a.z)) * DEG;
        up = std::max(up, slope);
        down = std::max(down, -slope);
    }
    printf("[ %s ] steepest course surface %.1f deg, faces %.1f deg up, %.1f deg down\n",
           desc.dir.c_str(), steepest, up, down);
    EXPECT_LE(steepest, 35.0f);
    EXPECT_LE(up, 35.0f);
    EXPECT_LE(down, 30.0f);
    // The jumps are real jumps.
    EXPECT_GE(up, 20.0f);
}

TEST_P(TrackgenTest, OutputDependsOnTheDescriptionAlone)
{
    std::string other = root + "/again";
    std::string error;
    ASSERT_TRUE(generate_track(description_path(desc.dir.c_str()).c_str(), other.c_str(), &error))
        << error;
    fs::path a = fs::path(data) / desc.dir, b = fs::path(other) / desc.dir;
    int files = 0;
    for (const auto &entry : fs::directory_iterator(a)) {
        fs::path name = entry.path().filename();
        EXPECT_EQ(slurp(entry.path()), slurp(b / name)) << name;
        files++;
    }
    EXPECT_GE(files, 15);
}

INSTANTIATE_TEST_SUITE_P(Tracks, TrackgenTest, ::testing::ValuesIn(TRACKS),
                         [](const auto &info) { return std::string(info.param.dir); });

TEST(TrackgenDesc, BadDescriptionsNameTheFileAndLine)
{
    const char *const base = "point 100 100 30 0\npoint 300 100 30 0\n"
                             "point 300 300 30 0\npoint 100 300 30 0\n";
    struct Case {
        const char *name;
        std::string text;
        const char *message;        // expected in the error, after "NAME:LINE: "
        int line;
    };
    const Case cases[] = {
        {"a.track", std::string(base) + "size 8 1\n", nullptr, 0},
        {"a.track", std::string(base) + "hills 1 2\n", "takes 3 numbers", 5},
        {"a.track", std::string(base) + "point 1e999 0 30 0\n", "bad number", 5},
        {"a.track", "size 8 x1\n", "bad number", 1},
        {"a.track", "size 40 1\n", "size needs", 1},
        {"a.track", std::string(base) + "point 200 200 10 0\n", "WIDTH", 5},
        {"a.track", std::string(base) + "surface 0 10 lava\n", "unknown tile", 5},
        {"a.track", std::string(base) + "double 50 40 3\n", "range", 5},
        {"a.track", std::string(base) + "frobnicate 1\n", "unknown statement", 5},
        {"a.track", "point 100 100 30 0\n", "at least 4 points", 0},
        {"a.track", std::string(base) + "size 7 1\n", "too close to the edge", 0},
        {"a.track", std::string(base) + "point 105 300 30 0\n", "closer than 10 ft", 0},
        {"../x y.track", base, "plain track directory name", 0},
    };
    for (const Case &c : cases) {
        TrackDesc d;
        std::string error;
        bool ok = parse_track_desc(c.name, c.text, &d, &error);
        if (!c.message) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(d.dir, "a");
            continue;
        }
        EXPECT_FALSE(ok) << c.text;
        std::string where = std::string(c.name) + ":" + std::to_string(c.line) + ": ";
        EXPECT_EQ(error.rfind(where, 0), 0u) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

} // namespace
