// Start-up and shutdown. The order of the steps matters: the log must be pointed at
// the home directory before anything is logged, the configuration is read before
// the command line overrides it, the window exists before anything touches GL, and
// shutdown undoes it all in reverse, writing the configuration last.
#include "app/startup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/cmdline.h"
#include "core/discovery.h"
#include "app/mainloop.h"
#include "app/menus.h"
#include "app/text.h"
#include "autopilot/lines.h"
#include "autopilot/pilot.h"
#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "core/settings.h"
#include "data_digests.h"
#include "net/client.h"
#include "platform/vrak.h"
#include "race/demo.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "race/series.h"
#include "render/gl_setup.h"
#include "render/texture_cache.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "sound/engine_sound.h"
#include "track/track.h"
#include "version.h"

// What start-up opened, so shutdown (and the out-of-memory exit) can close it.
static struct {
    GameWindow *window;
    VrakAudio *audio;
    DataFile *audio_file;
} up;

// The fixed menu keys, resolved once the window exists.
static const char *const menu_key_names[] = {
    "up", "down", "left", "right", "enter", "keypad enter", "esc", "pause",
    "cursor-left", "cursor-right", "page up", "page down",
};
static int menu_key_codes[sizeof menu_key_names / sizeof menu_key_names[0]];

static void close_audio()
{
    if (up.audio)
        vrak_audio_close(up.audio);
    up.audio = nullptr;
}

static void close_window()
{
    if (up.window)
        vrak_close_gl_window(up.window);
    up.window = nullptr;
}

static void close_window_and_audio()
{
    close_audio();
    close_window();
}

void derive_render_values()
{
    const Settings &s = settings();
    RenderValues &r = render_values_edit();
    r.ground_detail_factor = 0.125 / std::max(s.ground_detail.value, 1e-6);
    r.ground_texture_skip = (int)std::clamp(10 - s.ground_texture_detail.value, 0.0, 10.0);
    r.ground_texture_resolution = 32 << s.ground_texture_dim.selected;
    double scale = std::clamp(100 - s.model_detail.value, 0.0, 100.0) * 0.02;
    r.lod_scale = scale > 1 ? scale * scale * scale : scale;
    r.lod_bias = 50 - 50 * std::clamp((s.model_detail.value - 10) * 0.05, 0.0, 1.0);
    r.model_texture_skip = (int)lround(std::clamp(10 - s.model_texture_detail.value, 0.0, 10.0));
    r.roost_count = (int)lround(s.roost_density.value);
    r.texture_compression = s.texture_compress.selected;
    r.reflections = s.reflections.selected;
}

// "Default Fullscreen", "Windowed", then one entry per distinct size among the
// modes of the desktop's colour depth.
static void build_video_mode_choices()
{
    ChoiceSetting &c = settings_edit().video_mode;
    c.choices = {"Default Fullscreen", "Windowed"};
    const VrakVideoMode *modes = vrak_video_modes();
    if (!modes || modes[0].width == 0)
        return;
    int desktop_bits = modes[0].bits;
    for (const VrakVideoMode *m = modes; m->width; m++) {
        if (m->bits != desktop_bits)
            continue;
        std::string name = std::to_string(m->width) + "x" + std::to_string(m->height);
        if (std::find(c.choices.begin(), c.choices.end(), name) == c.choices.end())
            c.choices.push_back(name);
    }
}

static void select_start_track()
{
    Settings &s = settings_edit();
    const std::vector<TrackEntry> &tracks = track_list();
    s.track_choice.choices.clear();
    for (const TrackEntry &t : tracks)
        s.track_choice.choices.push_back(t.display_name);
    const std::string &wanted = startup_options().track;
    const char *name = wanted.empty() ? s.track : wanted.c_str();
    for (size_t i = 0; i < tracks.size(); i++)
        if (tracks[i].directory == name)
            s.track_choice.selected = (int)i;
}

static GameWindow *open_game_window()
{
    const Settings &s = settings();
    const StartupOptions &o = startup_options();
    int width = 0, height = 0, flags = o.depth & 0xff;
    if (s.video_mode.selected == 1) {
        width = s.xres;
        height = s.yres;
    } else {
        flags |= VRAK_FULL_SCREEN;
        if (s.video_mode.selected > 1)
            sscanf(s.video_mode.text(), "%dx%d", &width, &height);
    }
    return vrak_open_gl_window("Ruttmoor", width, height, flags, 0, o.zdepth, 0, 0);
}

static void open_audio()
{
    const StartupOptions &o = startup_options();
    if (!o.record_audio.empty()) {
        up.audio_file = data_open(o.record_audio.c_str(), "wb");
        if (up.audio_file)
            up.audio = vrak_audio_open_readback(up.window, 88320, 690);
    } else if (!o.nosound) {
        up.audio = vrak_audio_open(up.window);
    }
}

// The window may not be drawable at once (still mapping, minimised): wait about
// ten seconds for it.
static bool wait_until_drawable()
{
    for (int failures = 0;;) {
        int w, h;
        if (vrak_begin_frame(up.window, &w, &h))
            return true;
        if (++failures >= 162 || main_loop_quit_requested())
            return false;
        vrak_sleep(0, 62500);
    }
}

static void resolve_bindings()
{
    // The cursor axes belong to the main loop, which opens them when it starts.
    for (int i = 0; i < settings_binding_count(); i++) {
        KeyBinding *b = settings_binding(i);
        if (b->key_name)
            b->key_code = vrak_key_code(up.window, b->key_name);
        else if (b->axis_name)
            b->axis = vrak_axis_open(up.window, b->axis_name);
    }
    for (size_t i = 0; i < sizeof menu_key_names / sizeof menu_key_names[0]; i++)
        menu_key_codes[i] = vrak_key_code(up.window, menu_key_names[i]);
}

static void close_bindings()
{
    for (int i = 0; i < settings_binding_count(); i++) {
        KeyBinding *b = settings_binding(i);
        if (b->axis)
            vrak_axis_close(b->axis);
        b->axis = nullptr;
    }
    main_loop_shutdown();
}

static void start_background_race(const char *demo_track)
{
    const StartupOptions &o = startup_options();
    bool playing = demo_track != nullptr;
    if (o.track.empty() && !playing)
        return;
    static int lineup[RACER_SLOTS];
    for (int &code : lineup)
        code = 0;
    if (!playing)
        lineup[0] = 2;
    if (!o.track.empty())
        settings_edit().track = intern_string(o.track.c_str());
    if (!new_race(lineup, playing, false, 0, 1000, settings().skill.selected))
        vrak_log("Can't start the background race\n");
}

static void shutdown()
{
    if (net_connected())
        net_disconnect();
    net_reset();
    stop_demo_files();
    free_lines();
    free_track_objects();
    vrak_log("Deallocating bikes\n");
    for (int slot = 0; slot < RACER_SLOTS; slot++)
        free_engine_sound(slot);
    free_racers();
    vrak_log("Finished deallocating bikes\n");
    close_demo_file();
    free_demo_data();
    free_track();
    destroy_physics_world();
    close_bindings();
    close_audio();
    if (up.audio_file)
        data_close(up.audio_file);
    up.audio_file = nullptr;
    close_window();
    free_texture_lists();
    write_config();
    vrak_log(nullptr);
}

static void quit_signal()
{
    main_loop_request_quit();
}

int game_main(int argc, char **argv)
{
    install_new_handler();
    set_fatal_cleanup(close_window_and_audio);
    vrak_on_quit_signal(quit_signal);

    build_fingerprint_compute(RUTTMOOR_VERSION_LABEL);
    message_log_clear();
    // Standard output carries raw video frames; on this platform it is already binary.

    if (!data_check_game_data(GAME_DATA_DIGEST)) {
        vrak_message_box("Problem starting Ruttmoor", "Can't find game data\n");
        return 0;
    }
    data_check_fixed_files(FIXED_FILE_DIGEST);

    settings_reset();
    bike_setup_reset();
    build_video_mode_choices();
    StartupOptions &o = startup_options_edit();
    o.mmx = vrak_cpu_has_mmx();
    if (!o.mmx)
        vrak_log("This CPU does not have MMX!\n");
    apply_stability_preset(bike_setup().stability.value);
    apply_graphics_preset(PRESET_COMPATIBILITY);
    build_graphics_choice_lists();
    read_config();
    derive_render_values();

    int status = parse_command_line(argc, argv);
    if (status != CMDLINE_CONTINUE)
        return status;
    if (!o.connect.empty())
        o.track.clear();
    message_log_set_max_visible(settings().message_lines);

    if (!discover_tracks_and_demos()) {
        fprintf(stderr, "No tracks found\n");
        return 1;
    }
    load_series();
    select_start_track();

    up.window = open_game_window();
    if (!up.window) {
        vrak_log(nullptr);
        return 1;
    }
    open_audio();

    if (wait_until_drawable()) {
        probe_gl_capabilities();
        set_start_gl_state(o.fugly);
        load_fonts();
        load_hud_images();
        if (vrak_end_frame(up.window)) {
            resolve_bindings();
            create_physics_world();
            const char *demo_track = nullptr;
            if (!o.demo_file.empty())
                open_demo_file(o.demo_file.c_str(), &demo_track);
            race_clear_slots();
            RaceHooks hooks{};
            install_auto_pilot(&hooks);
            race_set_hooks(&hooks);
            start_background_race(demo_track);
            if (o.connect.empty())
                menu_open(0);
            main_loop_init(up.window, up.audio, up.audio_file);
            main_loop_run();
        }
    }
    shutdown();
    return 0;
}
