// Catches what the game writes to its log while a test runs, so a test can check
// the warnings and errors a bad file gives.
#pragma once

#include <string>

// Points the log at a fresh temporary file for the life of the object and puts
// everything back (log closed, VRAK_LOGFILE as before) when it goes.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // The lines logged since the capture began (or since clear()), without their
    // time stamps and without the log's own opening lines, each ending in "\n".
    std::string text() const;
    // True when some logged line contains the text.
    bool contains(const std::string &text) const;
    void clear();

private:
    std::string dir;
    std::string path;
    size_t skip = 0;            // bytes of text() already cleared
    bool had_env = false;
    std::string saved_env;
};
