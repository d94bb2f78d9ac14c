// The player's message ring, the one out-of-memory exit, interned strings, the
// random generator, the game clock and the build fingerprint.
#include "core/common.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <nettle/sha2.h>
#include <string_view>
#include <unordered_set>

#include "platform/vrak.h"

static MessageLog messages;
static int max_visible_lines = 5;

void message_log_clear()
{
    memset(&messages, 0, sizeof messages);
}

const MessageLog &message_log()
{
    return messages;
}

void message_log_set_max_visible(int lines)
{
    max_visible_lines = lines;
}

void game_message(const char *text)
{
    size_t length = strlen(text);
    // Colour escapes are reset at the end of the logged line so they don't bleed
    // into whatever a terminal shows next.
    const char *reset = strchr(text, 27) ? "\033[0m" : "";
    if (length > 0 && text[length - 1] == '\n')
        vrak_log("%s%s", text, reset);
    else
        vrak_log("%s%s\n", text, reset);

    char *line = messages.lines[messages.write_index];
    snprintf(line, MESSAGE_LENGTH + 1, "%s", text);
    messages.write_index = (messages.write_index + 1) % MESSAGE_LINES;
    if (messages.visible < max_visible_lines)
        messages.visible++;
    messages.expiry = game_clock() + 2;
}

void message_log_expire(double clock)
{
    if (clock > messages.expiry && messages.visible > 0) {
        messages.visible--;
        messages.expiry = clock + 5;
    }
}

static void (*fatal_cleanup)();

void set_fatal_cleanup(void (*cleanup)())
{
    fatal_cleanup = cleanup;
}

void fatal_out_of_memory()
{
    // Only one way out, even if the cleanup itself runs out of memory.
    static bool leaving;
    if (!leaving) {
        leaving = true;
        if (fatal_cleanup)
            fatal_cleanup();
        vrak_message_box("Error", "Out of virtual memory");
    }
    _Exit(1);
}

void *xmalloc(size_t size)
{
    void *p = malloc(size ? size : 1);
    if (!p)
        fatal_out_of_memory();
    return p;
}

static void new_handler()
{
    fatal_out_of_memory();
}

void install_new_handler()
{
    std::set_new_handler(new_handler);
}

const char *intern_string(const char *text)
{
    // The set owns nothing: each interned copy is allocated once and never freed,
    // and the set only remembers views of them. The set itself is never destroyed
    // either, so the copies stay reachable until the very end of the process.
    static auto &interned = *new std::unordered_set<std::string_view>;
    auto found = interned.find(std::string_view(text));
    if (found != interned.end())
        return found->data();
    size_t length = strlen(text);
    char *copy = (char *)xmalloc(length + 1);
    memcpy(copy, text, length + 1);
    interned.insert(std::string_view(copy, length));
    return copy;
}

static std::mt19937 generator;

void random_seed(uint32_t seed)
{
    generator.seed(seed);
}

uint32_t random_u32()
{
    return (uint32_t)generator();
}

std::mt19937 &random_generator()
{
    return generator;
}

static double clock_seconds;

double game_clock()
{
    return clock_seconds;
}

void game_clock_advance(double seconds)
{
    clock_seconds += seconds;
}

void game_clock_reset()
{
    clock_seconds = 0;
}

static uint8_t fingerprint[FINGERPRINT_SIZE];

// SHA-256 over the program's own image and its version label: any rebuild that
// changes a byte of the program changes the fingerprint.
void build_fingerprint_compute(const char *version_label)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    FILE *image = fopen("/proc/self/exe", "rb");
    if (image) {
        uint8_t block[65536];
        size_t n;
        while ((n = fread(block, 1, sizeof block, image)) > 0)
            sha256_update(&ctx, n, block);
        fclose(image);
    }
    sha256_update(&ctx, strlen(version_label), (const uint8_t *)version_label);
    sha256_digest(&ctx, FINGERPRINT_SIZE, fingerprint);
}

const uint8_t *build_fingerprint()
{
    return fingerprint;
}
