// The values the command line sets. The command line itself is parsed at start-up;
// every other part of the game only reads these.
#pragma once

#include <string>

constexpr int TICK_RATE = 128;
constexpr double TICK = 1.0 / TICK_RATE;   // seconds per simulation tick

struct StartupOptions {
    bool fugly = false;
    bool nosound = false;
    bool novertexarrays = false;
    bool learn = false;             // "--learn": learnt lines are saved to the line files
    bool nommx = false;
    int debug = 0;                  // 0, 1 (--debug) or 2 (--super-debug)
    bool practice = false;
    bool warp = false;
    double erode = 0;               // terrain erosion amount 0..100
    double max_detail_distance = 70;
    double far_detail_distance = 75;
    double lock_fps = 0;            // 0 = off
    double fake_lag = 0;            // seconds 0..1
    int fake_loss = 0;              // percent 0..100
    std::string record_audio;       // file name, empty = off
    bool record_video = false;
    int rotate_lineup = 0;
    bool editor = false;
    bool hidden_pause = false;
    bool hidden_hud = false;
    int depth = 16;                 // colour buffer bits
    int zdepth = 16;                // depth buffer bits
    int draw_render_stats = 0;
    bool accurate_skip = false;
    std::string track;              // start track directory, empty = none
    std::string connect;            // server address, empty = none
    std::string password;
    float chase_center[3] = {0.0f, 2.52f, 0.52f};
    bool open_home = false;
    bool glfinish = false;
    bool print_orientation = false;
    std::string demo_file;          // the one file name argument
    bool mmx = false;               // the processor's MMX flag (cleared by --nommx)
};

const StartupOptions &startup_options();
StartupOptions &startup_options_edit();

// Values derived from the graphics settings at start-up; some options replace them.
struct RenderValues {
    double ground_detail_factor = 0.125 / 70;
    int ground_texture_skip = 1;
    int ground_texture_resolution = 64;
    double lod_scale = 1;
    double lod_bias = 50;
    int model_texture_skip = 1;
    int roost_count = 1000;
    int texture_compression = 0;
    int reflections = 1;
};

const RenderValues &render_values();
RenderValues &render_values_edit();
