// Input of one tick: the events due by the tick's deadline go to the control
// bindings, the binding capture, the menus and the view and function keys in a fixed
// order; then the bindings become the nine control channels and the channels are
// applied to the bike ridden from this machine.
#include <algorithm>
#include <cstring>

#include "app/camera.h"
#include "app/capture.h"
#include "app/mainloop.h"
#include "app/menus.h"
#include "core/options.h"
#include "core/settings.h"
#include "net/client.h"
#include "platform/vrak.h"
#include "race/demo.h"
#include "race/race.h"
#include "sim/racer.h"
#include "sim/setup.h"
#include "track/track.h"

enum {
    TAB_CHAR = 9,
    CURSOR_LEFT = VRAK_MOUSE_LEFT,
};

// A control binding feeds one channel with a scale; value is the key's held state
// (0 or 1) or the axis reading mapped onto 0..1.
struct ControlBinding {
    KeyBinding Settings::*binding;
    ControlChannel channel;
    float scale;
};

static const ControlBinding control_bindings[] = {
    {&Settings::left_key, CH_STEER, 1},
    {&Settings::right_key, CH_STEER, -1},
    {&Settings::throttle_key, CH_THROTTLE, 1},
    {&Settings::front_brake_key, CH_FRONT_BRAKE, 1},
    {&Settings::rear_brake_key, CH_REAR_BRAKE, 1},
    {&Settings::upshift_key, CH_SHIFT, 1},
    {&Settings::downshift_key, CH_SHIFT, -1},
    {&Settings::clutch_key, CH_CLUTCH, 1},
    {&Settings::dab_key, CH_DAB, 1},
    {&Settings::back_up_key, CH_BACK_UP, 1},
    {&Settings::lean_forward_key, CH_LEAN, -1},
    {&Settings::lean_backward_key, CH_LEAN, 1},
};

enum { CONTROL_BINDINGS = sizeof control_bindings / sizeof control_bindings[0] };

static float binding_values[CONTROL_BINDINGS];

// ---------------------------------------------------------------------------
// Work that belongs to modules not built yet; each is empty until then.

// The track editor: a key handler that may take a press, and the full terrain
// refresh plus settling of the bikes when the editor view is left.
static bool editor_key(int code, bool pressed)
{
    (void)code;
    (void)pressed;
    return false;
}

static void leave_editor() {}

// Seeks the demo being played by the given seconds.
static void demo_seek(double seconds)
{
    seek_demo(seconds);
}

// Starts the time-trial attempt again.
static void restart_time_trial()
{
    time_trial_start();
}

// ---------------------------------------------------------------------------

static bool is_yes(const ChoiceSetting &choice)
{
    return strcmp(choice.text(), "Yes") == 0;
}

static int followed_slot()
{
    int slot = race_state().local_slot;
    return slot >= 0 && slot < RACER_SLOTS ? slot : NO_SLOT;
}

static bool riding()
{
    int slot = followed_slot();
    return slot != NO_SLOT && race_state().kind[slot] == LocalRider;
}

static bool key_pressed(const KeyBinding &binding, const VrakEvent &ev)
{
    return ev.pressed && binding.key_code != 0 && binding.key_code == ev.code;
}

void controls_reset()
{
    for (float &v : binding_values)
        v = 0;
}

float axis_control_value(int reading, float low, float high)
{
    if (high == low)
        return 0;
    float v = (reading / 32768.0f - low) / (high - low);
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

float clutch_input(float current, float clutch_channel)
{
    float target = 1 - clutch_channel * 1.1428571428571428f;
    target = target < 0 ? 0 : target > 1 ? 1 : target;
    // Letting the clutch out is limited to 4 per second; it is pulled in at once.
    // The rise stops at the target rather than overshooting and snapping back.
    if (target > current)
        return std::min(target, current + 4 * (float)TICK);
    return target;
}

int camera_choice_for_digit(int digit, int track_cameras)
{
    return std::min(digit, track_cameras) - 1;
}

// Follows the racer before (step -1) or after (+1) the followed one in the running
// order, stopping at either end.
static void follow_neighbour(int step)
{
    bool may_spy = settings().spy || (net_connected() && net_warmup());
    if (riding() && !may_spy)
        return;
    RaceState &race = race_state();
    if (race.order_count <= 0)
        return;
    int count = std::min(race.order_count, (int)RACER_SLOTS);
    int at = -1;
    for (int i = 0; i < count; i++)
        if (race.order[i].slot == race.local_slot)
            at = i;
    int next = at < 0 ? 0 : std::clamp(at + step, 0, count - 1);
    int slot = race.order[next].slot;
    if (slot >= 0 && slot < RACER_SLOTS)
        race.local_slot = slot;
}

static void cycle_view(LoopState &loop)
{
    switch (loop.view) {
    case EditorView:
        leave_editor();
        loop.view = ChaseView;
        break;
    case RiderView:
        loop.view = startup_options().editor ? EditorView : ChaseView;
        break;
    case ChaseView:
        loop.view = FreeView;
        break;
    case FreeView:
        loop.view = RiderView;
        break;
    case TitleView:
        break;
    }
}

// The keys that act while no menu is open; the first rule that matches applies.
static void no_menu_key(LoopState &loop, const VrakEvent &ev)
{
    const Settings &s = settings();
    if (key_pressed(s.console_key, ev) && loop.view != EditorView) {
        menu_open(MENU_CHAT);
        menu_select(0);
        return;
    }
    if (loop.view == TitleView)
        return;
    if (loop.view == EditorView && editor_key(ev.code, ev.pressed))
        return;
    if (key_pressed(s.pause_key, ev) && !net_connected()) {
        loop.paused = !loop.paused;
        return;
    }
    if (key_pressed(s.step_key, ev) && loop.paused) {
        game_step();
        return;
    }
    if (ev.code == TAB_CHAR && ev.pressed) {
        cycle_view(loop);
        return;
    }
    if (key_pressed(s.rewind_key, ev)) {
        demo_seek(-1);
        return;
    }
    if (key_pressed(s.skip_key, ev)) {
        demo_seek(1);
        return;
    }
    if (key_pressed(s.prev_key, ev)) {
        follow_neighbour(-1);
        return;
    }
    if (key_pressed(s.next_key, ev)) {
        follow_neighbour(1);
        return;
    }
    if (key_pressed(s.screenshot_key, ev) && loop.view != EditorView) {
        capture_screenshot(loop.frame_width, loop.frame_height);
        return;
    }
    if (ev.pressed && ev.code >= '0' && ev.code <= '9')
        camera_set_choice(camera_choice_for_digit(ev.code - '0', track_camera_count()));
}

static void dispatch_event(GameWindow *window, const VrakEvent &ev)
{
    LoopState &loop = main_loop_state_edit();
    if (menu_current() != loop.last_menu) {
        loop.last_menu = menu_current();
        menu_set_changed(true);
    }
    const Settings &s = settings();
    for (int i = 0; i < CONTROL_BINDINGS; i++) {
        const KeyBinding &b = s.*control_bindings[i].binding;
        if (b.key_code != 0 && b.key_code == ev.code)
            binding_values[i] = ev.pressed ? 1 : 0;
    }
    if (ev.code == CURSOR_LEFT)
        loop.mouse_drag = ev.pressed;
    if (binding_capture_active() && ev.pressed) {
        binding_capture_key(window, ev.code);
        return;
    }
    if (ev.code == ESC_KEY && ev.pressed) {
        if (menu_current() == MENU_NONE)
            menu_open(MENU_MAIN);
        else
            menu_close();
        menu_select(0);
    }
    if (menu_current() == MENU_NONE) {
        no_menu_key(loop, ev);
        return;
    }
    if (ev.pressed) {
        menu_key(ev.code);
        if (!race_track_loaded())
            loop.view = TitleView;
    }
}

void dispatch_tick_events(GameWindow *window, double deadline, double now)
{
    // Earlier ticks of a frame take only what happened before their moment; the
    // frame's last tick takes everything that is waiting.
    bool limited = deadline < now;
    VrakTime limit = vrak_seconds_to_time(deadline);
    VrakEvent ev;
    while (limited ? vrak_next_event(window, limit, &ev) : vrak_poll_event(window, &ev))
        dispatch_event(window, ev);
}

void build_control_channels()
{
    const Settings &s = settings();
    ControlChannels &channels = main_loop_state_edit().channels;
    for (float &v : channels.value)
        v = 0;
    for (int i = 0; i < CONTROL_BINDINGS; i++) {
        const KeyBinding &b = s.*control_bindings[i].binding;
        if (b.axis)
            binding_values[i] = axis_control_value(vrak_axis_read(b.axis), b.axis_low, b.axis_high);
        channels.value[control_bindings[i].channel] +=
            control_bindings[i].scale * binding_values[i];
    }
}

void apply_rider_controls()
{
    LoopState &loop = main_loop_state_edit();
    const float *ch = loop.channels.value;
    const Settings &s = settings();
    if (race_state().time_trial && ch[CH_BACK_UP] > 0.5f && is_yes(s.time_trial_abort))
        restart_time_trial();

    if (loop.last_dab < 0.5f && ch[CH_DAB] >= 0.5f)
        loop.dab_latch = !loop.dab_latch;
    loop.last_dab = ch[CH_DAB];

    int slot = followed_slot();
    Racer *racer = slot == NO_SLOT ? nullptr : race_state().racers[slot];
    if (!racer)
        return;
    float steer = is_yes(bike_setup().reverse_steering) ? -ch[CH_STEER] : ch[CH_STEER];
    float dab = is_yes(bike_setup().sticky_dab) ? (loop.dab_latch ? 1.0f : 0.0f) : ch[CH_DAB];
    int shift = ch[CH_SHIFT] > 0.5f ? 1 : ch[CH_SHIFT] < -0.5f ? -1 : 0;
    apply_controls(racer, steer, ch[CH_FRONT_BRAKE], ch[CH_REAR_BRAKE], ch[CH_THROTTLE], dab,
                   ch[CH_BACK_UP], ch[CH_LEAN], clutch_input(racer->clutch, ch[CH_CLUTCH]), shift);
}
