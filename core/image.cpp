// The PPM and PGM readers (netpbm's "P3"/"P6" colour and "P2"/"P5" grey forms).
//
// Header, as text tokens separated by white space:
//   magic    "P6", "P3", "P5" or "P2" (at most 15 characters)
//   width    decimal
//   height   decimal
//   maximum  decimal, the value that stands for full intensity
// Before each number any number of comment lines ("#" to the end of the line) may
// stand. Raw forms then have exactly one separator byte followed by width × height
// samples of one byte each (three per pixel for colour), rows top to bottom; text
// forms have the same samples as decimal numbers, comments allowed between them.
// A sample v is stored as v × 255 / maximum.
#include "core/image.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"

// Sizes beyond these are corrupt headers, not images: refusing them keeps a bad
// file from asking for gigabytes.
static const int IMAGE_MAX_SIDE = 32768;
static const long long IMAGE_MAX_PIXELS = 1LL << 27;

static struct {
    char error[1024];
} img;

static void set_error(const char *text)
{
    snprintf(img.error, sizeof img.error, "%s", text);
}

const char *image_error_text()
{
    return img.error;
}

bool read_image_magic(DataFile *stream, char magic[16])
{
    magic[0] = 0;
    return data_scanf(stream, " %15s", magic) == 1;
}

// A header number after comment skipping; -1 when none can be read.
static int header_number(DataFile *stream)
{
    data_skip_comments(stream);
    int value = data_read_int(stream);
    return value == INT_MIN ? -1 : value;
}

static bool sane_size(int width, int height, int maximum)
{
    return width > 0 && height > 0 && maximum > 0 && width <= IMAGE_MAX_SIDE &&
           height <= IMAGE_MAX_SIDE && (long long)width * height <= IMAGE_MAX_PIXELS;
}

static uint8_t scale_sample(long long v, int maximum)
{
    if (v < 0)
        v = 0;
    if (v > maximum)
        v = maximum;
    return (uint8_t)(v * 255 / maximum);
}

// Reads count samples in the raw or text form. A stream that ends early is a
// failure: a short image is a damaged file, and guessing the rest hides that.
static bool read_samples(DataFile *stream, bool raw, int maximum, uint8_t *out, size_t count)
{
    if (raw) {
        if (data_getc(stream) == DATA_EOF)
            return false;
        if (data_read(stream, out, count) != count)
            return false;
        if (maximum != 255) {
            for (size_t i = 0; i < count; i++)
                out[i] = scale_sample(out[i], maximum);
        }
        return true;
    }
    for (size_t i = 0; i < count; i++) {
        data_skip_comments(stream);
        long long v;
        if (data_scanf(stream, "%lld", &v) != 1)
            return false;
        out[i] = scale_sample(v, maximum);
    }
    return true;
}

bool read_ppm(DataFile *stream, const char *magic, ImageChain *out)
{
    img.error[0] = 0;
    int width = header_number(stream);
    int height = header_number(stream);
    int maximum = header_number(stream);
    if (!sane_size(width, height, maximum)) {
        set_error("Can't get PPM dimensions");
        return false;
    }
    bool raw = strcmp(magic, "P6") == 0;
    if (!raw && strcmp(magic, "P3") != 0) {
        set_error("Can't parse PPM header");
        return false;
    }
    out->width = width;
    out->height = height;
    out->channels = 3;
    out->info.clear();
    out->pixels.assign((size_t)width * height * 3, 0);
    if (!read_samples(stream, raw, maximum, out->pixels.data(), out->pixels.size())) {
        set_error("Short PPM pixel data");
        out->pixels.clear();
        return false;
    }
    return true;
}

bool read_pgm(DataFile *stream, GreyImage *out)
{
    img.error[0] = 0;
    char magic[16];
    if (!read_image_magic(stream, magic)) {
        set_error("Can't parse PGM header");
        return false;
    }
    int width = header_number(stream);
    int height = header_number(stream);
    int maximum = header_number(stream);
    if (!sane_size(width, height, maximum)) {
        set_error("Can't get PGM dimensions");
        return false;
    }
    bool raw = strcmp(magic, "P5") == 0;
    if (!raw && strcmp(magic, "P2") != 0) {
        set_error("Can't parse PGM header");
        return false;
    }
    out->width = width;
    out->height = height;
    out->pixels.assign((size_t)width * height, 0);
    if (!read_samples(stream, raw, maximum, out->pixels.data(), out->pixels.size())) {
        set_error("Short PGM pixel data");
        out->pixels.clear();
        return false;
    }
    return true;
}
