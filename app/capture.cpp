// Frame captures. Video frames go to standard output as a plain stream of binary
// PPM images that an encoder can read from a pipe. Screenshots are numbered on from
// the highest number among the existing data files, found once per run.
#include "app/capture.h"

#include <cstring>

#include "core/common.h"
#include "core/datafile.h"
#include "core/image.h"
#include "render/gl_setup.h"

static struct {
    bool scanned; // the first screenshot of the run looked at the file list
    unsigned next_number;
} capture;

static bool frame_size_ok(int width, int height)
{
    // Bounded so that width * height * 3 cannot overflow.
    return width > 0 && height > 0 && width <= 16384 && height <= 16384;
}

// PPM frame: the text header "P6", width, height and the maximum value 255, each
// ended by a newline, then width * 3 bytes (R, G, B) per row, the top row first.
bool capture_write_ppm(FILE *out, const unsigned char *pixels, int width, int height)
{
    if (!out || !pixels || !frame_size_ok(width, height))
        return false;
    if (fprintf(out, "P6\n%d %d\n255\n", width, height) < 0)
        return false;
    size_t row = (size_t)width * 3;
    for (int y = height - 1; y >= 0; y--)
        if (fwrite(pixels + (size_t)y * row, 1, row, out) != row)
            return false;
    return true;
}

bool capture_video_frame(int width, int height)
{
    if (!frame_size_ok(width, height))
        return false;
    std::vector<unsigned char> pixels((size_t)width * height * 3);
    read_frame_rgb(width, height, pixels.data());
    bool ok = capture_write_ppm(stdout, pixels.data(), width, height);
    // Keep a reading encoder in step with the game rather than a buffer behind.
    return fflush(stdout) == 0 && ok;
}

unsigned capture_highest_screenshot(const std::vector<std::string> &names)
{
    unsigned highest = 0;
    for (const std::string &name : names) {
        const char *s = name.c_str();
        // The scan format alone would also take a sign ("screenshot-1") as a number.
        if (name.compare(0, 10, "screenshot") != 0 || s[10] < '0' || s[10] > '9')
            continue;
        // Numbers of more than nine digits would overflow the scan: left out, so
        // that counting on cannot wrap around either.
        size_t digits = strspn(s + 10, "0123456789");
        unsigned n;
        if (digits > 9 || sscanf(s, "screenshot%u.ppm", &n) != 1)
            continue;
        if (n > highest)
            highest = n;
    }
    return highest;
}

bool capture_screenshot(int width, int height)
{
    if (!capture.scanned) {
        capture.next_number = capture_highest_screenshot(data_list_files()) + 1;
        capture.scanned = true;
    }
    char name[64], message[80];
    snprintf(name, sizeof name, "@screenshot%03u.png", capture.next_number);
    if (!frame_size_ok(width, height)) {
        game_message("Can't take a screenshot: nothing drawn yet");
        return false;
    }
    std::vector<unsigned char> pixels((size_t)width * height * 3);
    read_frame_rgb(width, height, pixels.data());
    if (!write_png_rgb(name, pixels.data(), width, height)) {
        snprintf(message, sizeof message, "Can't save \"%s\"", name + 1);
        game_message(message);
        return false;
    }
    snprintf(message, sizeof message, "Saved \"%s\"", name + 1);
    game_message(message);
    capture.next_number++;
    return true;
}

void capture_reset()
{
    capture.scanned = false;
    capture.next_number = 0;
}
