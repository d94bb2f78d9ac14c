// A private home and game-data folder for tests of the data-file layer, and small
// builders for the files those tests read (archives, plain files).
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/datafile.h"

// HOME, XDG_DATA_HOME and QK_HOME point into a fresh temporary folder while a test
// runs; the layer is reset before and after, so every test builds its own index.
class TempHomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string root;   // the temporary folder
    std::string home;   // the game's home directory (root + "/xdg/Ruttmoor/"), not created
    std::string data;   // the game-data directory (QK_HOME), created, ends in "/"

private:
    std::string saved_env[3];
    bool had_env[3];
};

// Writes bytes to a file, creating its folders.
bool write_bytes(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);
// What is left of an open data file.
std::string read_rest(DataFile *file);
// The whole content of a data name, or "<missing>" when it cannot be opened.
std::string read_data(const char *name);

struct SafMember {
    std::string name;
    std::string bytes;
};
// A ".saf" archive holding the members in the order given.
std::string make_saf(const std::vector<SafMember> &members);
