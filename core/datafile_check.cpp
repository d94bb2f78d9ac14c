// The start-up data checks (is the game data there, are the bike shape files the
// expected ones) and the working-set request made when a race is set up.
#include <cstdio>
#include <cstring>
#include <string>

#include <nettle/ripemd160.h>

#include "core/datafile_local.h"
#include "platform/vrak.h"

enum {
    GAME_DATA_DIGEST_BYTES = 1048576,   // only the start of the archive is hashed
    GAME_DATA_BLOCK = 256,
    FIXED_FILE_BLOCK = 1024,
};

const char *const data_fixed_file_names[7] = {
    "@generic_frame.shp",  "@generic_fork_upper.shp", "@generic_fork_lower.shp",
    "@generic_swingarm.shp", "@front_wheel.shp",      "@rear_wheel.shp",
    "@generic_rider.shp",
};

static bool fixed_files_ok;

void datafile_check_reset()
{
    fixed_files_ok = false;
}

static void digest_hex(ripemd160_ctx *ctx, char hex[2 * RIPEMD160_DIGEST_SIZE + 1])
{
    uint8_t digest[RIPEMD160_DIGEST_SIZE];
    ripemd160_digest(ctx, sizeof digest, digest);
    for (int i = 0; i < RIPEMD160_DIGEST_SIZE; i++)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
}

static bool archive_matches(const std::string &path, const char *expected)
{
    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return false;
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    uint8_t block[GAME_DATA_BLOCK];
    long total = 0;
    while (total < GAME_DATA_DIGEST_BYTES) {
        size_t got = fread(block, 1, sizeof block, in);
        if (got == 0)
            break;
        ripemd160_update(&ctx, got, block);
        total += (long)got;
    }
    fclose(in);
    char hex[2 * RIPEMD160_DIGEST_SIZE + 1];
    digest_hex(&ctx, hex);
    return strcmp(hex, expected) == 0;
}

// The headless tools keep a log of their own so the game's log survives them.
static std::string log_name = "lastlog.txt";

void data_set_log_name(const char *file_name)
{
    log_name = file_name;
}

bool data_check_game_data(const char *expected_digest)
{
    const char *home = home_dir();
    if (home) {
        datafile_make_dirs(home);
        std::string message = std::string("VRAK_LOGFILE=") + home + log_name;
        vrak_log("%s", message.c_str());
    }
    for (const std::string &base : datafile_bases()) {
        if (archive_matches(base + "zzzz.saf", expected_digest))
            return true;
    }
    return false;
}

bool data_check_fixed_files(const char *expected_digest)
{
    ripemd160_ctx ctx;
    ripemd160_init(&ctx);
    uint8_t block[FIXED_FILE_BLOCK];
    for (const char *name : data_fixed_file_names) {
        DataFile *file = data_open(name, "rb");
        if (!file)
            continue;
        size_t got;
        while ((got = data_read(file, block, sizeof block)) > 0)
            ripemd160_update(&ctx, got, block);
        data_close(file);
    }
    char hex[2 * RIPEMD160_DIGEST_SIZE + 1];
    digest_hex(&ctx, hex);
    fixed_files_ok = strcmp(hex, expected_digest) == 0;
    return fixed_files_ok;
}

bool data_fixed_files_ok()
{
    return fixed_files_ok;
}

// There is no working-set control here, so the request is only logged; it is
// reported as not done so the log does not claim what did not happen.
void data_request_working_set()
{
    const uint64_t MiB = 1024 * 1024;
    uint64_t total = vrak_physical_memory();
    if (total < 64 * MiB) {
        vrak_log("Working set left alone - less than 64 MB physical memory\n");
        return;
    }
    uint64_t high = (total < 2048 * MiB ? total : 2048 * MiB) - 32 * MiB;
    uint64_t low = high < 1024 * MiB ? high : 1024 * MiB;
    vrak_log("Setting working set range to %u - %u\n", (unsigned)low, (unsigned)high);
    vrak_log("Working set update failed\n");
}
