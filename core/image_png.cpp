// PNG through libpng over the data-file layer: the 16-bit grey reader used for
// height fields and the two writers (RGB screenshots, 16-bit grey height fields).
//
// libpng reports errors by longjmp. Everything that must be released after such a
// jump is owned by the caller of the function that calls setjmp, so the jump never
// skips a destructor.
#include "core/image.h"

#include <png.h>
#include <cstring>
#include <string>
#include <vector>

#include "core/datafile.h"

// Larger than any height field the game makes (8193 samples a side).
static const int PNG_MAX_SIDE = 16384;

static bool host_is_little_endian()
{
    const uint16_t probe = 1;
    return *(const uint8_t *)&probe == 1;
}

// ---------------------------------------------------------------------------
// Reading

static void png_read_data(png_structp png, png_bytep data, png_size_t length)
{
    DataFile *file = (DataFile *)png_get_io_ptr(png);
    if (data_read(file, data, length) != length)
        png_error(png, "short PNG data");
}

// libpng's own messages would go to stderr; the callers report failures.
static void png_quiet_error(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

static void png_quiet_warning(png_structp, png_const_charp) {}

struct GreyDecode {
    // Filled inside the setjmp frame, owned here so a jump cannot leak them.
    std::vector<uint8_t> rows;
    std::vector<png_bytep> pointers;
    int width, height, bytes_per_sample;
};

static bool decode_grey(DataFile *file, GreyDecode *decode)
{
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_user_limits(png, PNG_MAX_SIDE, PNG_MAX_SIDE);
    png_set_read_fn(png, file, png_read_data);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);

    int color_type = png_get_color_type(png, info);
    int bit_depth = png_get_bit_depth(png, info);
    if (color_type == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (bit_depth == 16 && host_is_little_endian())
        png_set_swap(png);
    if (color_type & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(png);
    if (color_type == PNG_COLOR_TYPE_RGB || color_type == PNG_COLOR_TYPE_RGB_ALPHA ||
        color_type == PNG_COLOR_TYPE_PALETTE)
        png_set_rgb_to_gray_fixed(png, 1, -1, -1);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    decode->width = (int)png_get_image_width(png, info);
    decode->height = (int)png_get_image_height(png, info);
    decode->bytes_per_sample = png_get_bit_depth(png, info) == 16 ? 2 : 1;
    size_t row_bytes = png_get_rowbytes(png, info);
    if (png_get_channels(png, info) != 1 ||
        row_bytes != (size_t)decode->width * decode->bytes_per_sample) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    decode->rows.assign(row_bytes * decode->height, 0);
    decode->pointers.resize(decode->height);
    for (int y = 0; y < decode->height; y++)
        decode->pointers[y] = decode->rows.data() + row_bytes * y;
    png_read_image(png, decode->pointers.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool read_png_grey16(const char *name, HeightImage *out)
{
    DataFile *file = data_open(name, "rb");
    if (!file)
        return false;
    png_byte signature[8];
    if (data_read(file, signature, 8) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        data_close(file);
        return false;
    }
    GreyDecode decode = {};
    bool ok = decode_grey(file, &decode);
    data_close(file);
    if (!ok)
        return false;

    out->width = decode.width;
    out->height = decode.height;
    size_t count = (size_t)decode.width * decode.height;
    out->samples.resize(count);
    if (decode.bytes_per_sample == 2) {
        memcpy(out->samples.data(), decode.rows.data(), count * 2);
    } else {
        for (size_t i = 0; i < count; i++)
            out->samples[i] = (uint16_t)(decode.rows[i] * 257);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Writing

struct PngSink {
    DataFile *file;
    bool failed;
};

static void png_write_data(png_structp png, png_bytep data, png_size_t length)
{
    PngSink *sink = (PngSink *)png_get_io_ptr(png);
    if (data_write(sink->file, data, length) != length)
        sink->failed = true;
}

static void png_flush_data(png_structp png)
{
    PngSink *sink = (PngSink *)png_get_io_ptr(png);
    if (!data_flush(sink->file))
        sink->failed = true;
}

static bool encode_png(PngSink *sink, int width, int height, int bit_depth, int color_type,
                       const std::vector<png_bytep> &rows)
{
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_quiet_error, png_quiet_warning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, png_write_data, png_flush_data);
    png_set_IHDR(png, info, width, height, bit_depth, color_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // The format stores 16-bit samples big-endian; libpng swaps its own copy of
    // each row, so the caller's samples stay untouched.
    if (bit_depth == 16 && host_is_little_endian())
        png_set_swap(png);
    png_write_image(png, (png_bytepp)rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return !sink->failed;
}

// Encodes into name + ".part" and renames it over name once complete, so a
// failed write never leaves half a file where the old one was.
static bool write_png(const char *name, int width, int height, int bit_depth, int color_type,
                      const std::vector<png_bytep> &rows)
{
    std::string temp = std::string(name) + ".part";
    PngSink sink = {data_open(temp.c_str(), "wb"), false};
    if (!sink.file)
        return false;
    bool ok = encode_png(&sink, width, height, bit_depth, color_type, rows);
    ok = data_flush(sink.file) && ok;
    data_close(sink.file);
    if (!ok || !data_rename(temp.c_str(), name)) {
        data_remove(temp.c_str());
        return false;
    }
    return true;
}

bool write_png_rgb(const char *name, const unsigned char *pixels, int width, int height)
{
    if (!name || !pixels || width <= 0 || height <= 0)
        return false;
    std::vector<png_bytep> rows(height);
    for (int i = 0; i < height; i++)
        rows[i] = (png_bytep)pixels + (size_t)(height - 1 - i) * width * 3;
    return write_png(name, width, height, 8, PNG_COLOR_TYPE_RGB, rows);
}

bool write_png_grey16(const char *name, const uint16_t *samples, int width, int height)
{
    if (!name || !samples || width <= 0 || height <= 0)
        return false;
    std::vector<png_bytep> rows(height);
    for (int i = 0; i < height; i++)
        rows[i] = (png_bytep)(samples + (size_t)i * width);
    return write_png(name, width, height, 16, PNG_COLOR_TYPE_GRAY, rows);
}
