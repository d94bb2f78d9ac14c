#include "render/image_write.h"

#include <png.h>
#include <string>
#include <vector>

#include "core/datafile.h"

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

// libpng reports errors by longjmp; everything that must be released afterwards
// is owned outside this function so the jump cannot leak it.
static bool encode_png(PngSink *sink, const unsigned char *pixels, int width, int height,
                       const std::vector<png_bytep> &rows)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
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
    (void)pixels;
    png_set_write_fn(png, sink, png_write_data, png_flush_data);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, (png_bytepp)rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return !sink->failed;
}

bool write_png_rgb(const char *name, const unsigned char *pixels, int width, int height)
{
    if (width <= 0 || height <= 0)
        return false;
    std::vector<png_bytep> rows(height);
    for (int i = 0; i < height; i++)
        rows[i] = (png_bytep)pixels + (size_t)(height - 1 - i) * width * 3;

    std::string temp = std::string(name) + ".part";
    PngSink sink = {data_open(temp.c_str(), "wb"), false};
    if (!sink.file)
        return false;
    bool ok = encode_png(&sink, pixels, width, height, rows);
    ok = data_flush(sink.file) && ok;
    data_close(sink.file);
    if (!ok || !data_rename(temp.c_str(), name)) {
        data_remove(temp.c_str());
        return false;
    }
    return true;
}
