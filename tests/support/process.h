// Runs the game as a separate process for the tests that check what a user sees:
// exit status, standard output and standard error.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int status;             // exit status, or 128 + signal when killed by one
    std::string out;
    std::string err;
    double seconds_after_signal;    // from sending the signal to the exit
};

// Runs program with args and extra "NAME=value" environment entries ("NAME" alone
// removes the variable). With
// signal_after > 0, sends SIGTERM that many seconds after the start. Kills the
// process after timeout seconds.
ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::string> &env, double signal_after = 0,
                          double timeout = 20);

// A fresh empty folder under the system's temporary folder.
std::string make_temp_dir();
std::string read_file(const std::string &path);
