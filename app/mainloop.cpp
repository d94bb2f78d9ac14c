// The main loop: one pass per frame. It adjusts the view, draws the frame, sets the
// engine-sound levels, paces the frame against the clock (at least one tick, at most
// 0.125 s of game time), keeps the frame statistics, and runs the ticks that came
// due. Per-event dispatch and the control bindings live in app/mainloop_input.cpp.
#include "app/mainloop.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>

#include "app/camera.h"
#include "app/capture.h"
#include "app/menus.h"
#include "app/title.h"
#include "core/common.h"
#include "core/datafile.h"
#include "core/options.h"
#include "core/settings.h"
#include "net/client.h"
#include "platform/vrak.h"
#include "race/race.h"
#include "render/gl_setup.h"
#include "sim/racer.h"
#include "sound/engine_sound.h"

static LoopState loop;
static FrameStats stats;

// Written from signal handlers: nothing but this flag may be touched there.
static volatile sig_atomic_t quit_requested;

static struct {
    GameWindow *window;
    VrakAudio *audio;
    DataFile *record_audio;
    VrakAxis *cursor_x_axis;
    VrakAxis *cursor_y_axis;
    bool lineup_ready; // warp restarts rotate this lineup
    int lineup[RACER_SLOTS];
} env;

// ---------------------------------------------------------------------------
// Parts of the frame that other modules will provide. Each is empty until then.

// The scene from the followed racer's eyes and the race HUD.
static void draw_rider_view(Racer *followed)
{
    (void)followed;
}

static void draw_race_hud(Racer *followed)
{
    (void)followed;
}

// HUD elements drawn in every view: counters, messages, results.
static void draw_hud_overlay(Racer *followed)
{
    (void)followed;
}

// One line of the 30-line text grid ("Paused", the warm-up notice, replay names).
static void draw_status_line(int line, const char *text)
{
    (void)line;
    (void)text;
}

static void draw_editor() {}

// The editor's work of one tick.
static void editor_tick() {}

static void terrain_frame_refresh() {}

// Whether a replayed racer is on the track at this moment (demo presence).
static bool racer_present(int slot)
{
    (void)slot;
    return true;
}

// The lap layout's first-lap and normal-lap entry counts; no track has one yet.
static void lap_layout_counts(int *first, int *normal)
{
    *first = 0;
    *normal = 0;
}

// ---------------------------------------------------------------------------

static double clock_now()
{
    return vrak_time_to_seconds(vrak_clock());
}

static int followed_slot()
{
    int slot = race_state().local_slot;
    return slot >= 0 && slot < RACER_SLOTS ? slot : NO_SLOT;
}

static Racer *followed_racer()
{
    int slot = followed_slot();
    return slot == NO_SLOT ? nullptr : race_state().racers[slot];
}

static bool riding()
{
    int slot = followed_slot();
    return slot != NO_SLOT && race_state().kind[slot] == LocalRider;
}

const LoopState &main_loop_state()
{
    return loop;
}

LoopState &main_loop_state_edit()
{
    return loop;
}

const FrameStats &frame_stats()
{
    return stats;
}

void main_loop_request_quit()
{
    quit_requested = 1;
}

bool main_loop_quit_requested()
{
    return quit_requested != 0;
}

void main_loop_shutdown()
{
    if (env.cursor_x_axis)
        vrak_axis_close(env.cursor_x_axis);
    if (env.cursor_y_axis)
        vrak_axis_close(env.cursor_y_axis);
    env.cursor_x_axis = nullptr;
    env.cursor_y_axis = nullptr;
}

void main_loop_init(GameWindow *window, VrakAudio *audio, DataFile *record_audio_file)
{
    main_loop_shutdown();
    env.window = window;
    env.audio = audio;
    env.record_audio = record_audio_file;
    env.cursor_x_axis = vrak_axis_open(window, "cursor-x");
    env.cursor_y_axis = vrak_axis_open(window, "cursor-y");
    env.lineup_ready = false;

    loop = LoopState{};
    loop.view = RiderView;
    loop.orbit_angle = 0;
    loop.orbit_distance = 10;
    loop.orbit_height = 5;
    for (int i = 0; i < 3; i++)
        loop.chase_centre[i] = startup_options().chase_center[i];
    loop.last_time = clock_now();
    loop.pacing_now = loop.last_time;
    loop.last_menu = menu_current();

    stats = FrameStats{};
    stats.shortest_advance = HUGE_VAL;
    stats.longest_advance = 0;
    controls_reset();
    quit_requested = 0;
}

// ---------------------------------------------------------------------------
// Timing

int histogram_bucket(double duration)
{
    for (int k = 0; k < HISTOGRAM_BUCKETS - 1; k++)
        if (duration < TICK * (1 << k))
            return k;
    return HISTOGRAM_BUCKETS - 1;
}

static void sleep_seconds(double s)
{
    // Rounded up so that the clock has surely reached the target afterwards.
    long micros = (long)std::ceil(s * 1e6);
    if (micros > 0)
        vrak_sleep(micros / 1000000, micros % 1000000);
}

Pacing frame_pacing(double last_time, double lock_fps, bool warp)
{
    Pacing p{};
    double now = clock_now();
    double d = now - last_time;
    p.first_duration = d;
    for (;;) {
        if (lock_fps > 0) {
            double frame = 1 / lock_fps;
            if (d < frame) {
                sleep_seconds(frame - d);
                now = clock_now();
            }
            p.advance = frame;
            break;
        }
        if (warp) {
            p.advance = 100 * TICK;
            break;
        }
        if (d >= TICK) {
            p.advance = std::min(d, 0.125);
            break;
        }
        sleep_seconds(TICK - d);
        now = clock_now();
        d = now - last_time;
    }
    p.now = now;
    return p;
}

static double clamp01(double v)
{
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

double sync_scale(double a, int server_ticks, int local_tick, int catch_up_tick)
{
    double g = ((double)server_ticks - local_tick - 1) * TICK;
    if (g < 0)
        return a * (0.5 + 0.5 * clamp01(1 + g));
    if (local_tick < catch_up_tick)
        return a * (1 + 3 * clamp01(g));
    return a * (1 + 0.125 * clamp01(8 * g));
}

// ---------------------------------------------------------------------------
// One pass

static void adjust_view()
{
    if (race_track_loaded() && loop.view == TitleView)
        loop.view = RiderView;
    int slot = followed_slot();
    if (riding() && loop.view != EditorView && loop.view != RiderView && loop.view != ChaseView)
        loop.view = RiderView;
    if (slot == NO_SLOT || !race_state().racers[slot])
        loop.view = FreeView;
    if (!race_track_loaded())
        loop.view = TitleView;
}

// False when the frame could not be ended.
static bool draw_frame()
{
    int width, height;
    if (!vrak_begin_frame(env.window, &width, &height))
        return true;
    const StartupOptions &opt = startup_options();
    loop.frame_width = width;
    loop.frame_height = height;
    if (!vrak_is_full_screen(env.window)) {
        // The configuration remembers the last window size.
        settings_edit().xres = width;
        settings_edit().yres = height;
    }
    set_projection(width, height, settings().fov.value);

    Racer *followed = followed_racer();
    switch (loop.view) {
    case RiderView:
        draw_rider_view(followed);
        if (!opt.hidden_hud)
            draw_race_hud(followed);
        break;
    case ChaseView:
        draw_chase_view(followed, riding());
        if (!opt.hidden_hud)
            draw_race_hud(followed);
        break;
    case FreeView:
        draw_free_view();
        break;
    case EditorView:
        draw_editor();
        break;
    case TitleView:
        draw_title_screen("");
        break;
    }
    if (loop.view != TitleView && !opt.hidden_hud)
        draw_hud_overlay(followed);

    if (opt.record_video && !loop.paused && loop.view != TitleView)
        capture_video_frame(width, height);
    if (loop.paused && !opt.hidden_pause)
        draw_status_line(1, "Paused");
    if (riding() && net_connected() && net_warmup())
        draw_status_line(28, "Warmup mode - collisions disabled");
    draw_menus();
    if (opt.glfinish)
        gl_finish();
    return vrak_end_frame(env.window);
}

static void set_engine_sound_levels()
{
    if (!env.audio)
        return;
    float master;
    if (loop.paused || loop.view == EditorView)
        master = 0;
    else if (menu_current() == MENU_NONE)
        master = 1;
    else
        master = riding() ? 0 : 0.25f;
    master *= (float)(settings().volume.value * 0.1);
    int followed = followed_slot();
    for (int slot = 0; slot < RACER_SLOTS; slot++) {
        Racer *racer = race_state().racers[slot];
        if (!racer)
            continue;
        float level = 0;
        if (racer_present(slot)) {
            level = master;
            if (slot != followed)
                level *= (float)(settings().comp_volume.value * 0.1);
        }
        update_engine_sound(slot, racer, level);
    }
    vrak_audio_update(env.audio);
}

static void record_advance(double a)
{
    stats.shortest_advance = std::min(stats.shortest_advance, a);
    stats.longest_advance = std::max(stats.longest_advance, a);
}

static void track_cursor()
{
    int x = env.cursor_x_axis ? vrak_axis_read(env.cursor_x_axis) : loop.cursor_x;
    int y = env.cursor_y_axis ? vrak_axis_read(env.cursor_y_axis) : loop.cursor_y;
    bool moved = x != loop.cursor_x || y != loop.cursor_y;
    loop.cursor_x = x;
    loop.cursor_y = y;
    if (menu_current() == MENU_NONE)
        return;
    if (loop.mouse_drag) {
        if (moved)
            menu_key(MENU_DRAG);
    } else if (!binding_capture_active() && (x != loop.hover_x || y != loop.hover_y)) {
        loop.hover_x = x;
        loop.hover_y = y;
        int item = menu_item_at(x, y);
        if (item >= 0)
            menu_select(item);
    }
}

static void run_tick()
{
    double deadline = loop.pacing_now - (loop.game_time - loop.sim_time);
    for (float &v : loop.channels.value)
        v = 0;
    dispatch_tick_events(env.window, deadline, loop.pacing_now);
    binding_capture_axes();
    build_control_channels();

    bool connected = net_connected();
    bool menu_open = menu_current() != MENU_NONE;
    // Offline, the race stands still behind an open menu.
    if (menu_open && riding() && !connected)
        return;
    if (loop.view == EditorView) {
        editor_tick();
        if (!connected)
            return;
        loop.paused = false;
    } else if (!menu_open && loop.view != TitleView) {
        if (riding()) {
            apply_rider_controls();
        } else if (loop.view == ChaseView) {
            orbit_controls(loop.channels);
        } else if (loop.view == FreeView) {
            free_camera_tick(loop.channels, followed_racer(), loop.paused);
        }
    }
    if (connected)
        loop.paused = false;

    network_step();
    if (!race_track_loaded())
        loop.view = TitleView;

    bool no_server_tick = connected && net_server_ticks() <= net_local_tick();
    if (loop.paused || loop.view == TitleView || no_server_tick)
        return;
    game_step();
    if (env.record_audio && env.audio) {
        int bytes = 0;
        const unsigned char *block = vrak_audio_read_back(env.audio, &bytes);
        if (block && bytes > 0)
            data_write(env.record_audio, block, (size_t)bytes);
    }
}

static void init_lineup()
{
    // The grid as the New Race menu holds it; slots past the gates are empty.
    for (int i = 0; i < RACER_SLOTS; i++)
        env.lineup[i] = i < GATE_SLOTS ? settings().slots[i].selected : 0;
    env.lineup_ready = true;
}

static void warp_restart()
{
    if (!startup_options().warp || loop.view == TitleView)
        return;
    const RaceState &race = race_state();
    int first, normal;
    lap_layout_counts(&first, &normal);
    if (normal <= 0 || race.order_count <= 0)
        return;
    int gates = race.order[0].gates_passed;
    int laps = gates < first ? 0 : (gates - first) / normal + 1;
    if (laps < race.total_laps)
        return;
    if (!env.lineup_ready)
        init_lineup();
    int rotated[RACER_SLOTS];
    for (int i = 0; i < RACER_SLOTS; i++)
        rotated[(i + 1) % RACER_SLOTS] = env.lineup[i];
    memcpy(env.lineup, rotated, sizeof rotated);
    const Settings &s = settings();
    new_race(env.lineup, false, s.record.selected != 0, (int)(s.minutes.value * 60 / TICK),
             (int)s.laps.value, s.skill.selected);
}

bool main_loop_pass()
{
    adjust_view();
    if (!draw_frame())
        return false;
    set_engine_sound_levels();

    const StartupOptions &opt = startup_options();
    bool connected = net_connected();
    Pacing p = frame_pacing(loop.last_time, connected ? 0 : opt.lock_fps, !connected && opt.warp);
    loop.last_time = p.now;
    loop.pacing_now = p.now;
    stats.histogram[histogram_bucket(p.first_duration)]++;
    double a = p.advance;
    record_advance(a);
    if (connected)
        a = sync_scale(a, net_server_ticks(), net_local_tick(), net_catch_up_tick());
    loop.game_time += a;
    game_clock_advance(a);

    track_cursor();
    // A menu switch blocks keys only within the frame in which it happened.
    menu_set_changed(false);
    while (loop.sim_time < loop.game_time) {
        loop.sim_time += TICK;
        run_tick();
    }
    warp_restart();
    if (loop.view == TitleView)
        return true;
    terrain_frame_refresh();
    message_log_expire(game_clock());
    return true;
}

void main_loop_run()
{
    while (!main_loop_quit_requested())
        if (!main_loop_pass())
            break;
}
