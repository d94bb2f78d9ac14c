// The pixel readers and writers: netpbm headers, scaling, truncation, and PNG
// round trips through the data-file layer.
#include <cstring>

#include "core/datafile.h"
#include "core/image.h"
#include "tests/support/temp_home.h"

namespace {

class ImageTest : public TempHomeTest {
protected:
    DataFile *open_bytes(const std::string &bytes)
    {
        std::string path = data + "img";
        EXPECT_TRUE(write_bytes(path, bytes));
        return data_open(path.c_str(), "rb");
    }
};

} // namespace

TEST_F(ImageTest, PpmAndPgmForms)
{
    struct Case {
        const char *name;
        std::string bytes;
        bool grey;
        bool ok;
        std::vector<uint8_t> pixels;    // expected on success
        const char *error;              // expected on failure
    };
    const Case cases[] = {
        {"raw ppm", "P6 # c\n#x\n2 1 255\n" + std::string("\x01\x02\x03\xff\x00\x80", 6),
         false, true, {1, 2, 3, 255, 0, 128}, ""},
        {"text ppm, maximum 15", "P3\n1 1\n# comment\n15\n15 7 # between\n 0", false, true,
         {255, 119, 0}, ""},
        {"text pgm", "P2 2 1 255 9 300", true, true, {9, 255}, ""},
        {"raw pgm", std::string("P5\n1 2\n255\n") + "\x05\x06", true, true, {5, 6}, ""},
        {"negative size", "P6 -1 2 255 ", false, false, {}, "Can't get PPM dimensions"},
        {"zero maximum", "P6 1 1 0 abc", false, false, {}, "Can't get PPM dimensions"},
        {"missing number", "P6 1 x", false, false, {}, "Can't get PPM dimensions"},
        {"huge size", "P6 100000 100000 255 ", false, false, {}, "Can't get PPM dimensions"},
        {"wrong magic", "P4 1 1 255 ", false, false, {}, "Can't parse PPM header"},
        {"short raw", "P6 2 2 255 abc", false, false, {}, "Short PPM pixel data"},
        {"short text", "P3 1 1 255 1 2", false, false, {}, "Short PPM pixel data"},
        {"pgm magic", "P6 1 1 255 a", true, false, {}, "Can't parse PGM header"},
        {"pgm size", "P5 1 -4 255 a", true, false, {}, "Can't get PGM dimensions"},
        {"empty pgm", "", true, false, {}, "Can't parse PGM header"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DataFile *f = open_bytes(c.bytes);
        ASSERT_NE(f, nullptr);
        std::vector<uint8_t> got;
        bool ok;
        if (c.grey) {
            GreyImage image;
            ok = read_pgm(f, &image);
            got = image.pixels;
        } else {
            char magic[16];
            ok = read_image_magic(f, magic);
            ImageChain image;
            ok = ok && read_ppm(f, magic, &image);
            if (ok) {
                EXPECT_EQ(image.channels, 3);
            }
            got = image.pixels;
        }
        data_close(f);
        EXPECT_EQ(ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(got, c.pixels);
        } else {
            EXPECT_STREQ(image_error_text(), c.error);
        }
    }
}

TEST_F(ImageTest, Grey16RoundTripAndEightBitWidening)
{
    const uint16_t samples[6] = {0, 1, 0x1234, 0xfedc, 65535, 256};
    ASSERT_TRUE(write_png_grey16("@h.png", samples, 3, 2));
    EXPECT_FALSE(file_exists(home + "h.png.part"));
    HeightImage image;
    ASSERT_TRUE(read_png_grey16("@h.png", &image));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.samples, std::vector<uint16_t>(samples, samples + 6));

    // An 8-bit RGB file reads as grey with each byte repeated.
    const uint8_t rgb[6] = {10, 10, 10, 200, 200, 200};   // bottom row first
    ASSERT_TRUE(write_png_rgb("@c.png", rgb, 1, 2));
    ASSERT_TRUE(read_png_grey16("@c.png", &image));
    EXPECT_EQ(image.samples, (std::vector<uint16_t>{200 * 257, 10 * 257}));

    // Not a PNG, or a PNG cut short: failure, no crash.
    ASSERT_TRUE(write_bytes(home + "bad.png", "\x89PNG\r\n\x1a\nxx"));
    EXPECT_FALSE(read_png_grey16("@bad.png", &image));
    std::string whole = read_data("@h.png");
    for (size_t n = 0; n < whole.size(); n++) {
        ASSERT_TRUE(write_bytes(home + "cut.png", whole.substr(0, n)));
        EXPECT_FALSE(read_png_grey16("@cut.png", &image)) << n;
    }
    EXPECT_FALSE(read_png_grey16("@missing.png", &image));
    EXPECT_FALSE(write_png_grey16("@z.png", samples, 0, 2));
}
