// A fixture for race tests on the packed default track: a private home with the
// game data, the physics world, and "fernbottom" as the configured track. What a
// test's races leave behind is freed when it ends.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/common.h"
#include "core/settings.h"
#include "race/demo.h"
#include "race/race.h"
#include "sim/world.h"
#include "tests/support/temp_home.h"
#include "track/track.h"

class PackedTrackTest : public TempHomeTest
{
  protected:
    void SetUp() override
    {
        TempHomeTest::SetUp();
        std::error_code ec;
        std::filesystem::copy_file(std::string(RUTTMOOR_BUILD_DIR) + "/zzzz.saf",
                                   data + "zzzz.saf", ec);
        ASSERT_FALSE(ec) << "the packed game data is needed: " << ec.message();
        data_reset();
        ASSERT_TRUE(create_physics_world());
        settings_edit().track = intern_string("fernbottom");
        race_clear_slots();
    }
    void TearDown() override
    {
        stop_demo_files();
        free_racers();
        free_track();
        race_set_track_loaded(false);
        destroy_physics_world();
        TempHomeTest::TearDown();
    }
};
