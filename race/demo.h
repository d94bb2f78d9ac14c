// Demo files (".qkdemo"): recording the states of a race into blocks linked so they
// can be walked backwards, playing them back through the replay history, seeking,
// backups of the default demo, and the time-trial lap files.
#pragma once

#include <cstdint>

// What the demo code needs from the race without including it. Every member may be
// null.
struct DemoHooks {
    // One game step (seeking forwards).
    void (*game_step)();
    // Switches roost on or off while seeking.
    void (*set_roost)(bool on);
    // Drops gate times later than frame from every racer, clears the results' final
    // mark and rebuilds the order.
    void (*rewind_gates)(int32_t frame);
    // Shows a text message (type-2 blocks); null shows it with game_message.
    void (*show_message)(const char *text);
    // The rider name written for a recorded slot; null: "Roborider" for the auto
    // pilot, empty for others.
    const char *(*rider_name)(int slot);
    // True while a network rider is in warm-up (server slot 160): then only Replayed
    // and AutoPilot riders are recorded. Null: never.
    bool (*network_warmup)();
};
void demo_set_hooks(const DemoHooks *hooks);

enum {
    DEMO_MAX_RIDERS = 160,
    DEMO_ENTRY_SIZE = 44,           // rider index, frame, state
    DEMO_BLOCK_HEADER = 9,          // link, frame, type
    DEMO_MAX_BLOCK = 1 << 20,       // a larger block is taken as the end of the stream
    DEMO_MAX_BACKUPS = 100,
};

struct DemoRider {
    char bike[64];
    char rider_texture[64];
    char bike_texture[64];
    char wheel_texture[64];
    char head_texture[64];
    char number[4];
    char name[64];
    int slot;               // the slot it rides in, -1 until new_race places it
};

// The demo being played back, as read from its header.
struct DemoInfo {
    int version;            // 4, 5 or 6; 0 when none is open
    int rider_count;
    int32_t duration;
    int32_t laps;
    int32_t start_frame;
    char track[256];
    DemoRider riders[DEMO_MAX_RIDERS];
};

// Opens the demo named on the command line and remembers the name for later
// races. Sets *track to the (interned) track directory it was recorded on. False
// when the file can't be read.
bool open_demo_file(const char *name, const char **track);
// Opens the demo to play for this race: the named one, else in a time trial
// "@<track>/fastlap.qkdemo", else the command-line demo, else
// "@demos/default.qkdemo". False (table cleared) on any failure. On success the
// history is switched to the demo's state version; the caller copies duration,
// laps, start frame and track from demo_info() and sets every rider's slot.
bool open_demo(const char *name, bool time_trial, const char *track);
const DemoInfo *demo_info();       // null when no demo is open
DemoInfo *demo_info_edit();        // for setting DemoRider::slot; null when none
void close_demo_file();
// Reads blocks up to 64 frames ahead (version 6) or 8 frames (4, 5). Call every
// frame after the frame counter advanced, and once at race start.
void read_ahead();
// Only while a demo is played, nothing is recorded and every racer is Replayed.
void seek_demo(double seconds);
// The backwards walk of seeking (version 6): from the last block read, along the
// links, to the newest block at or before frame (or the first block); reading goes
// on from there. Returns that block's frame, -1 when none can be read.
int32_t demo_position_before(int32_t frame);
bool demo_playing();

// Recording: "@demos/default.qkdemo" after rotating backups, or in a time trial
// "@<track>/lastlap.qkdemo". track null: the loaded track.
bool start_recording(bool time_trial, const char *track);
// Records the LocalRider and AutoPilot states (every 4th frame, written every 16th).
void record_frame(bool force);
void stop_recording();
bool demo_recording();
// Writes a type-2 text block (server messages while recording).
void record_message(const char *text);
// The "namedemo" console command: the name the default demo gets when it stops.
void name_demo(const char *name);
// Number of default demo backups kept; until set, the "demo_backups" setting.
void set_demo_backups(int count);

void stop_demo_files();
void free_demo_data();

// The scene draws ghosts translucent.
bool is_ghost(int slot);
