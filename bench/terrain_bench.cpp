// Terrain loading and height lookups on a generated 1025 × 1025 track (k = 9),
// written to a temporary game-data folder so the real home is never touched.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "core/datafile.h"
#include "track/terrain.h"

namespace {

struct BenchTrack {
    std::string root;
    bool ready = false;
};

void write_file(const std::string &path, const std::string &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

// Rolling hills in binary samples, flat shading, two tile types.
const BenchTrack &bench_track()
{
    static BenchTrack track;
    if (track.ready)
        return track;
    std::random_device seed;
    track.root = (std::filesystem::temp_directory_path() /
                  ("ruttmoor_bench_" + std::to_string(seed()))).string();
    std::string data = track.root + "/data/bench/";
    const int k = 9, n = (1 << (k + 1)) + 1, m = 1 << k;
    std::string hf = "9 0.5 0 40\n:";
    for (int j = 0; j < n; j++) {
        for (int i = 0; i < n; i++) {
            double h = 0.5 + 0.25 * sin(i * 0.02) + 0.25 * cos(j * 0.031);
            unsigned v = (unsigned)(h * 65535);
            hf += (char)(v & 0xff);
            hf += (char)(v >> 8);
        }
    }
    write_file(data + "terrain.hf", hf);
    write_file(data + "shadingx2.ppm", "P6\n" + std::to_string(n) + " " + std::to_string(n) +
                                           "\n255\n" + std::string((size_t)n * n * 3, '\x60'));
    write_file(data + "tileinfo", "texture @a.png\naddtile\ntexture @b.png\naddtile\n");
    std::string map((size_t)m * m, '\0');
    for (size_t i = 0; i < map.size(); i++)
        map[i] = (char)(i % 3 == 0);
    write_file(data + "tilemap", map);

    setenv("HOME", track.root.c_str(), 1);
    setenv("XDG_DATA_HOME", (track.root + "/xdg").c_str(), 1);
    setenv("QK_HOME", (track.root + "/data").c_str(), 1);
    data_reset();
    track.ready = true;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(bench_track().root, ec);
    });
    return track;
}

void BM_LoadTerrain(benchmark::State &state)
{
    bench_track();
    for (auto _ : state) {
        Terrain *t = load_terrain("bench", TERRAIN_RENDER_SOFTWARE);
        if (!t) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(t->heights.data());
        free_terrain(t);
    }
}
BENCHMARK(BM_LoadTerrain)->Unit(benchmark::kMillisecond);

void BM_TerrainHeight(benchmark::State &state)
{
    bench_track();
    Terrain *t = load_terrain("bench", TERRAIN_RENDER_SOFTWARE);
    if (!t) {
        state.SkipWithError("load failed");
        return;
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-10.0f, t->extent + 10.0f);
    float points[1024][2];
    for (auto &p : points)
        p[0] = coordinate(random), p[1] = coordinate(random);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_height(t, points[i][0], points[i][1]));
        i = (i + 1) & 1023;
    }
    free_terrain(t);
}
BENCHMARK(BM_TerrainHeight);

} // namespace

// The benchmark program has one main; it lives here while this is the only
// benchmark file (linking benchmark::benchmark_main would take its place).
BENCHMARK_MAIN();
