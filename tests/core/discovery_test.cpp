#include <gtest/gtest.h>

#include "core/discovery.h"
#include "tests/support/temp_home.h"

namespace {

using Discovery = TempHomeTest;

TEST_F(Discovery, TracksAreNamedByTheirDescAndSortedIgnoringCase)
{
    ASSERT_TRUE(write_bytes(data + "zeta/terrain.hf", "x"));
    ASSERT_TRUE(write_bytes(data + "zeta/desc", "alpha Ridge\r\nsecond line"));
    ASSERT_TRUE(write_bytes(data + "nodesc/terrain.hf.gz", "x"));
    ASSERT_TRUE(write_bytes(data + "twin1/terrain.hf.scram", "x"));
    ASSERT_TRUE(write_bytes(data + "twin1/desc", "Twin"));
    ASSERT_TRUE(write_bytes(data + "twin2/terrain.hf.gz.scram", "x"));
    ASSERT_TRUE(write_bytes(data + "twin2/desc", "Twin\n"));
    ASSERT_TRUE(write_bytes(data + "nottrack/terrain.hfx", "x"));
    // A track packed in an archive is found like a loose one.
    ASSERT_TRUE(write_bytes(data + "pack.saf", make_saf({{"packed/terrain.hf", "x"},
                                                          {"packed/desc", "Moor"}})));

    std::vector<TrackEntry> tracks;
    discover_tracks(&tracks);
    ASSERT_EQ(tracks.size(), 5u);
    EXPECT_EQ(tracks[0].display_name, "alpha Ridge");
    EXPECT_EQ(tracks[0].directory, "zeta");
    EXPECT_EQ(tracks[1].display_name, "Moor");
    EXPECT_EQ(tracks[2].display_name, "nodesc");
    EXPECT_EQ(tracks[3].display_name, "Twin");
    EXPECT_EQ(tracks[4].display_name, "Twin");
}

TEST_F(Discovery, DemosAreNamedWithoutFolderAndLastExtension)
{
    ASSERT_TRUE(write_bytes(data + "demos/default.qkdemo", "x"));
    ASSERT_TRUE(write_bytes(data + "demos/race.final.qkdemo", "x"));
    ASSERT_TRUE(write_bytes(data + "other/stray.qkdemo", "x"));
    ASSERT_TRUE(write_bytes(home + "demos/mine.qkdemo", "x"));

    std::vector<DemoEntry> demos;
    discover_demos(&demos);
    ASSERT_EQ(demos.size(), 3u);
    EXPECT_EQ(demos[0].path, "demos/default.qkdemo");
    EXPECT_EQ(demos[0].display_name, "default");
    EXPECT_EQ(demos[1].display_name, "mine");
    EXPECT_EQ(demos[2].display_name, "race.final");
}

} // namespace
