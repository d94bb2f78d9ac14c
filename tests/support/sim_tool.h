// A private home and game-data folder holding the packed game data, for tests that
// run the headless tool as a user would.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process.h"

class SimToolTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs build/ruttmoor-sim with the folder's environment.
    ProcessResult run(const std::vector<std::string> &args, double timeout = 20);
    // Writes a file (a control script) into the folder and returns its path.
    std::string script(const std::string &name, const std::string &text);

    std::string root;   // HOME; the game data is root + "/data"
};
