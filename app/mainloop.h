// The main loop: one pass draws a frame, sets the engine-sound levels, paces the
// frame against the clock and runs the fixed ticks that came due. Each tick takes
// the input events stamped before its moment, dispatches them to the menus, view
// keys and function keys, turns the bindings into the nine control channels,
// applies them to the ridden bike or a camera, and steps the network and the race.
#pragma once

struct DataFile;
struct GameWindow;
struct VrakAudio;

enum ViewMode {
    RiderView = 0,
    EditorView = 2,
    ChaseView = 3, // the chase camera, or the orbit camera when not riding
    FreeView = 4,
    TitleView = 5,
};

enum ControlChannel {
    CH_STEER,
    CH_THROTTLE,
    CH_FRONT_BRAKE,
    CH_REAR_BRAKE,
    CH_SHIFT,
    CH_CLUTCH,
    CH_DAB,
    CH_BACK_UP,
    CH_LEAN,
    CONTROL_CHANNELS,
};

// The nine control values of one tick, rebuilt from the bindings every tick.
struct ControlChannels {
    float value[CONTROL_CHANNELS];
};

enum { HISTOGRAM_BUCKETS = 8 };

struct LoopState {
    ViewMode view;
    bool paused;
    bool mouse_drag;   // the left mouse button is held
    double last_time;  // clock reading that ended the previous frame's pacing
    double game_time;  // target time, advanced once per frame
    double sim_time;   // advanced one tick per simulation step
    double pacing_now; // clock reading that ended this frame's pacing
    float orbit_angle, orbit_distance, orbit_height;
    float chase_centre[3];
    ControlChannels channels;
    int cursor_x, cursor_y;
    int hover_x, hover_y;          // cursor position at the last menu hover test
    int last_menu;                 // menu seen by the previous event
    int frame_width, frame_height; // drawable size of the last frame drawn
    bool dab_latch;                // sticky dab state
    float last_dab;                // dab channel of the previous applied tick
};

// Render statistics kept by the loop.
struct FrameStats {
    int histogram[HISTOGRAM_BUCKETS]; // frame durations by powers of two of a tick
    double shortest_advance;
    double longest_advance;
};

// Resets the loop state; the window may be null (nothing is drawn), audio and the
// --record-audio file may be null.
void main_loop_init(GameWindow *window, VrakAudio *audio, DataFile *record_audio_file);
// Runs passes until the quit flag is set or a frame cannot be ended.
void main_loop_run();
// Closes the pointer axes the loop reads (before the window goes).
void main_loop_shutdown();
// One pass; false when ending the frame failed.
bool main_loop_pass();
// Safe to call from a signal handler: only sets a flag, seen once per pass.
void main_loop_request_quit();
bool main_loop_quit_requested();

const LoopState &main_loop_state();
LoopState &main_loop_state_edit();
const FrameStats &frame_stats();

// Frame pacing: from the previous frame's end reading, sleeps as needed and gives
// the game-time advance a, the clock reading that ended the pacing and the first
// frame-duration reading. lock_fps and warp apply offline only (pass 0 / false).
struct Pacing {
    double advance;
    double now;
    double first_duration;
};
Pacing frame_pacing(double last_time, double lock_fps, bool warp);
// Scales the advance a to close the gap to the server's clock.
double sync_scale(double a, int server_ticks, int local_tick, int catch_up_tick);
// Histogram counter for a frame duration: smallest k in 0..6 with d < tick * 2^k, else 7.
int histogram_bucket(double duration);

// Per-tick input (app/mainloop_input.cpp).
// Control value of an axis binding: clamp((reading / 32768 - low) / (high - low), 0, 1).
float axis_control_value(int reading, float low, float high);
// Clutch engagement after one tick: the target follows the clutch channel at once
// when it drops, and rises by at most 4 per second.
float clutch_input(float current, float clutch_channel);
// Camera choice for a digit key: "0" is the free camera (-1), "1" the first track camera.
int camera_choice_for_digit(int digit, int track_cameras);
// Forgets the held values of every control binding.
void controls_reset();
// Takes the events due by the deadline (or all pending ones) and dispatches them.
void dispatch_tick_events(GameWindow *window, double deadline, double now);
// Builds the channels from the bindings (axes read here) into the loop state.
void build_control_channels();
// Applies the channels to the followed racer ridden from this machine.
void apply_rider_controls();
