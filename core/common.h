// Small helpers shared by every part of the game: the player's message channel,
// the one allocation failure path, interned strings, the growable array, the one
// random generator, the game clock and the build fingerprint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

// ---------------------------------------------------------------------------
// Messages to the player

enum {
    MESSAGE_LINES = 1000,       // ring of lines
    MESSAGE_LENGTH = 127,       // characters kept per line
};

struct MessageLog {
    char lines[MESSAGE_LINES][MESSAGE_LENGTH + 1];
    int write_index;
    int visible;
    double expiry;              // game clock time at which the oldest visible line goes
};

// Shows a line to the player and writes it to the log.
void game_message(const char *text);
void message_log_clear();
const MessageLog &message_log();
// Per frame: hides one line once the expiry has passed.
void message_log_expire(double game_clock);
// The most lines shown at once (the `message_lines` setting).
void message_log_set_max_visible(int lines);

// ---------------------------------------------------------------------------
// Memory

// Never returns null: running out of memory ends the program.
void *xmalloc(size_t size);
[[noreturn]] void fatal_out_of_memory();
// Called by fatal_out_of_memory before its message box (closes audio and window).
void set_fatal_cleanup(void (*cleanup)());
// Makes operator new end the same way.
void install_new_handler();

// A shared, never-freed copy of text; equal texts give the same pointer.
const char *intern_string(const char *text);

// The growable array: capacity starts at 16 and doubles; finish() trims it to its
// length once the list is complete.
template <typename T> struct GrowArray {
    std::vector<T> items;

    void push(const T &item)
    {
        if (items.capacity() == 0)
            items.reserve(16);
        else if (items.size() == items.capacity())
            items.reserve(items.capacity() * 2);
        items.push_back(item);
    }
    // shrink_to_fit is a no-op without exceptions; a copy is allocated exactly.
    void finish() { std::vector<T>(items.begin(), items.end()).swap(items); }
    size_t size() const { return items.size(); }
    T &operator[](size_t i) { return items[i]; }
    const T &operator[](size_t i) const { return items[i]; }
};

// ---------------------------------------------------------------------------
// The one random generator (MT19937) of the whole program

void random_seed(uint32_t seed);
uint32_t random_u32();
std::mt19937 &random_generator();

// ---------------------------------------------------------------------------
// The game clock: the sum of every frame's game-time advance, in seconds

double game_clock();
void game_clock_advance(double seconds);
void game_clock_reset();

// ---------------------------------------------------------------------------
// Build fingerprint: 32 bytes that change whenever the program changes

enum { FINGERPRINT_SIZE = 32 };
void build_fingerprint_compute(const char *version_label);
const uint8_t *build_fingerprint();
