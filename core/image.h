// The pixel layer beneath textures and height fields: the PPM and PGM readers,
// the 16-bit grey PNG reader for height fields and the two PNG writers. Nothing
// here knows about GL; every reader works on a stream of the data-file layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DataFile;

// An image with room for its mipmap chain in one block. For now the readers fill
// only the base level: `pixels` holds width × height × channels bytes, rows top to
// bottom, channels R, G, B (, A) tightly packed.
struct ImageChain {
    int width = 0;
    int height = 0;
    int channels = 0;               // 3 (RGB) or 4 (RGBA)
    std::vector<uint8_t> pixels;
    std::string info;               // texture options from PNG text and ".info" files
};

// One byte per pixel, no chain (PGM).
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// One unsigned 16-bit sample per pixel in host order, no chain (16-bit PNG).
struct HeightImage {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> samples;
};

// The header token every PPM, PGM or V6/V7 file starts with (at most 15
// characters). False at the end of the stream.
bool read_image_magic(DataFile *stream, char magic[16]);

// "P6" (raw) or "P3" (text) after the magic has been read. On failure the reason
// is left in image_error_text().
bool read_ppm(DataFile *stream, const char *magic, ImageChain *out);
// "P5" (raw) or "P2" (text); reads its own magic.
bool read_pgm(DataFile *stream, GreyImage *out);
// The last PPM or PGM failure ("Can't parse PPM header", ...), empty when none.
const char *image_error_text();

// A PNG of any colour type as 16-bit grey samples; 8-bit files are widened by
// repeating the byte. Opens the file itself; fails quietly on a bad signature.
bool read_png_grey16(const char *name, HeightImage *out);

// 8-bit RGB PNG; the buffer's rows run bottom to top, as read back from the frame
// buffer. Both writers go through the data-file layer to a temporary file that
// replaces the target only once complete.
bool write_png_rgb(const char *name, const unsigned char *pixels, int width, int height);
// 16-bit grey PNG of host-order samples, rows top to bottom.
bool write_png_grey16(const char *name, const uint16_t *samples, int width, int height);
