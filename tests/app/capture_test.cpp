// Frame captures: the PPM stream written by --record-video and the numbering of
// screenshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/capture.h"

TEST(Capture, PpmFrameHasItsTopRowFirst)
{
    // 3 x 2 pixels as read back from the frame buffer: bottom row first.
    const unsigned char pixels[18] = {
        1,  2,  3,  4,  5,  6,  7,  8,  9,  // bottom row
        10, 11, 12, 13, 14, 15, 16, 17, 18, // top row
    };
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(capture_write_ppm(f, pixels, 3, 2));
    std::vector<unsigned char> out(64);
    rewind(f);
    size_t n = fread(out.data(), 1, out.size(), f);
    fclose(f);

    const char header[] = "P6\n3 2\n255\n";
    size_t h = strlen(header);
    ASSERT_EQ(n, h + 18);
    EXPECT_EQ(std::string(out.begin(), out.begin() + h), header);
    EXPECT_EQ(0, memcmp(out.data() + h, pixels + 9, 9));
    EXPECT_EQ(0, memcmp(out.data() + h + 9, pixels, 9));
}

TEST(Capture, PpmWriterRefusesNoFrame)
{
    const unsigned char pixel[3] = {};
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(capture_write_ppm(f, pixel, 0, 1));
    EXPECT_FALSE(capture_write_ppm(f, pixel, 1, -1));
    EXPECT_FALSE(capture_write_ppm(f, nullptr, 1, 1));
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
}

TEST(Capture, ScreenshotNumberingContinuesFromTheHighest)
{
    struct {
        std::vector<std::string> names;
        unsigned highest;
    } cases[] = {
        {{}, 0},
        {{"screenshot007.png", "screenshot012.ppm", "screenshot3.png"}, 12},
        {{"screenshot21", "screenshots/screenshot900.png", "demos/x.qkdemo"}, 21},
        {{"screenshot-5.png", "screenshot.png", "myscreenshot50.png"}, 0},
        {{"screenshot99999999999999.png", "screenshot4.png"}, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.highest);
        EXPECT_EQ(capture_highest_screenshot(c.names), c.highest);
    }
}
