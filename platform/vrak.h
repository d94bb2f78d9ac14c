// VRAK: the platform layer. Everything the game needs from the operating system
// (window and GL context, clock and sleep, the time-ordered input queue, key names,
// the log file and option string, folders, signals) goes through these functions.
// The game includes this header and never SDL or POSIX headers directly.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------
// Clock and sleep

// A clock reading: seconds and microseconds since an arbitrary start.
struct VrakTime {
    long seconds;
    long micros;
};

VrakTime vrak_clock();
// Returns no earlier than the given time has passed; accurate to about 1 ms.
void vrak_sleep(long seconds, long micros);
double vrak_time_to_seconds(VrakTime t);
VrakTime vrak_seconds_to_time(double s);

// Tests replace the clock and sleep so that frame pacing can be driven by hand.
// Passing null restores the real ones.
typedef VrakTime (*VrakClockFn)();
typedef void (*VrakSleepFn)(long seconds, long micros);
void vrak_set_clock_hooks(VrakClockFn clock, VrakSleepFn sleep);

// ---------------------------------------------------------------------------
// Log and options

// printf-style; a message beginning with "VRAK_LOGFILE=" on the first call
// configures the log file, one beginning with 0x13 is a control message
// ("\x13" "FLUSH", "\x13" "NOFLUSH"); a null format closes the log.
void vrak_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
void vrak_vlog(const char *format, va_list args);
// Logs "Error: %s\n" and remembers the text for vrak_last_error.
void vrak_error(const char *text);
const char *vrak_last_error();

int vrak_option_bool(const char *name, int default_value);
int vrak_option_int(const char *name, int default_value);

// Tests only: forget the log's state (closing any open file) and the cached option
// string, so the next call initialises again from the environment.
void vrak_log_reset();

// ---------------------------------------------------------------------------
// Input events

enum {
    VRAK_KEY_BASE = 0x1000,     // + 9-bit set-1 scan code (0x100 marks extended keys)
    VRAK_MOUSE_LEFT = 0x2000,
    VRAK_MOUSE_MIDDLE = 0x2001,
    VRAK_MOUSE_RIGHT = 0x2002,
    VRAK_CLOSE = 0xDEAD,        // the window's close button
    VRAK_EVENT_QUEUE_SIZE = 256,
};

struct VrakEvent {
    int code;
    bool pressed;
    VrakTime time;
};

struct GameWindow;

// Inserts an event in time order; false (event dropped) when the queue is full.
bool vrak_post_event(int code, bool pressed, VrakTime time);
// The oldest event not later than the deadline. Both calls first pump the window
// system's messages when a window is given.
bool vrak_next_event(GameWindow *window, VrakTime deadline, VrakEvent *out);
bool vrak_poll_event(GameWindow *window, VrakEvent *out);
void vrak_clear_events();

// ---------------------------------------------------------------------------
// Window and OpenGL context

enum {
    VRAK_FULL_SCREEN = 0x200,   // flag for vrak_open_gl_window; the low byte is colour bits
};

struct VrakVideoMode {
    int width;
    int height;
    int bits;
};

// Width or height 0 means the desktop's size. Null on failure (the cause is logged).
GameWindow *vrak_open_gl_window(const char *title, int width, int height, int flags,
                                int alpha_bits, int depth_bits, int stencil_bits,
                                int accum_bits);
void vrak_close_gl_window(GameWindow *window);
// False when nothing can be drawn now (minimised, suspended, no context).
bool vrak_begin_frame(GameWindow *window, int *width, int *height);
bool vrak_end_frame(GameWindow *window);
void vrak_set_display(GameWindow *window, int width, int height, bool full_screen);
bool vrak_is_full_screen(const GameWindow *window);
// The desktop's mode first, then the other modes; ends with an all-zero entry.
const VrakVideoMode *vrak_video_modes();

// A modal message box; the text also goes to standard error.
void vrak_message_box(const char *title, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// ---------------------------------------------------------------------------
// Key names

// 0 when the name names no key.
int vrak_key_code(GameWindow *window, const char *name);
// The name of a key code into buf; false (buf empty) when the code has no name.
bool vrak_key_name(GameWindow *window, int code, char *buf, size_t size);
void vrak_alias(const char *name, const char *replacement);

// Axes (device axes and the pointer). Opaque; null when the name names none.
struct VrakAxis;
VrakAxis *vrak_axis_open(GameWindow *window, const char *name);
int vrak_axis_read(VrakAxis *axis);
void vrak_axis_close(VrakAxis *axis);

// ---------------------------------------------------------------------------
// Audio output. Until the mixer exists the device back-end is the null one (opens,
// plays nothing); the read-back output hands out silence of the right size.

struct VrakAudio;
VrakAudio *vrak_audio_open(GameWindow *window);
VrakAudio *vrak_audio_open_readback(GameWindow *window, int rate, int frames_per_block);
void vrak_audio_close(VrakAudio *audio);
void vrak_audio_update(VrakAudio *audio);
// One block of mixed audio: 2 x frames bytes, unsigned 8-bit, left/right interleaved.
const unsigned char *vrak_audio_read_back(VrakAudio *audio, int *bytes);

// ---------------------------------------------------------------------------
// Folders, processes, machine

// The user's local data folder ($XDG_DATA_HOME, else ~/.local/share), no trailing "/".
bool vrak_user_data_dir(std::string *out);
// The folder holding the running executable, no trailing "/".
bool vrak_exe_dir(std::string *out);
// Shows a folder in the desktop's file browser.
bool vrak_open_folder(const char *path);
// Total physical memory in bytes, 0 when unknown.
uint64_t vrak_physical_memory();
bool vrak_cpu_has_mmx();
// SIGINT and SIGTERM call this function (from the signal handler: it must only
// set a flag).
void vrak_on_quit_signal(void (*handler)());
