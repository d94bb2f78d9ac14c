// The diagnostic log file, the last error text and the option string.
//
// The log is configured by its own first message ("VRAK_LOGFILE=path"), which the
// environment may override, so a user can move or append the log without a new
// build. Every line is written with one call and, in flush mode, forced to disk so
// that the log survives a crash. Messages beginning with 0x13 are control messages
// and never reach the file.
//
// Options come from VRAK_OPTIONS, items of the form "[name:value]" anywhere in the
// string, read once on first use.
#include "platform/vrak_local.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <unistd.h>

static const char CONFIG_PREFIX[] = "VRAK_LOGFILE=";
static const char CONTROL = 0x13;

static struct {
    bool initialised;
    FILE *file;
    bool no_flush; // flush mode starts on
    char last_error[256];
    bool options_loaded;
    std::string options;
} lg;

static void format_message(const char *format, va_list args, std::string *out)
{
    char small[512];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) {
        out->clear();
        return;
    }
    if ((size_t)n < sizeof small) {
        out->assign(small, (size_t)n);
        return;
    }
    out->resize((size_t)n + 1);
    vsnprintf(out->data(), out->size(), format, args);
    out->resize((size_t)n);
}

static void write_line(const std::string &message)
{
    if (!message.empty() && message[0] == CONTROL) {
        // A trailing newline or other text after the word does not matter.
        if (message.compare(1, 5, "FLUSH") == 0)
            lg.no_flush = false;
        else if (message.compare(1, 7, "NOFLUSH") == 0)
            lg.no_flush = true;
        return;
    }
    FILE *file = lg.file;
    if (!file)
        return;

    VrakTime now = vrak_clock();
    long seconds = now.seconds < 0 ? 0 : now.seconds;
    long hundredths = now.micros < 0 ? 0 : now.micros / 10000;
    char stamp[64];
    int n = snprintf(stamp, sizeof stamp, "[%ld:%02ld:%02ld.%02ld] ", seconds / 3600,
                     seconds / 60 % 60, seconds % 60, hundredths);
    // Stamp and text leave in one write so that lines from different threads do
    // not interleave.
    std::string line;
    line.reserve((size_t)n + message.size());
    line.append(stamp, (size_t)n);
    line.append(message);
    fwrite(line.data(), 1, line.size(), file);
    if (!lg.no_flush) {
        fflush(file);
        fsync(fileno(file));
    }
}

// The first message sets the log up; returns true when it was the configuration
// message, which is then not logged itself.
static bool initialise(const std::string &message)
{
    const char *env_path = getenv("VRAK_LOGFILE");
    const char *env_flags = getenv("VRAK_LOGFILE_FLAGS");
    bool is_config = message.compare(0, sizeof CONFIG_PREFIX - 1, CONFIG_PREFIX) == 0;

    std::string path;
    bool have_path = false;
    if (env_path) {
        path = env_path;
        have_path = true;
    } else if (is_config) {
        path = message.substr(sizeof CONFIG_PREFIX - 1);
        // A configuration line written like every other log line would carry a
        // newline that no file name means.
        if (!path.empty() && path.back() == '\n')
            path.pop_back();
        have_path = true;
    }

    lg.initialised = true;
    if (have_path) {
        const char *mode = "w";
        if (path.compare(0, 2, ">>") == 0) {
            mode = "a";
            path.erase(0, 2);
        } else if (path.compare(0, 1, ">") == 0) {
            path.erase(0, 1);
        }
        // An empty mode can never open anything; it counts as unset.
        if (env_flags && env_flags[0])
            mode = env_flags;
        lg.file = fopen(path.c_str(), mode);
        vrak_log("Logfile \"%.1000s\" opened\n", path.c_str());
        vrak_log("VRAK 0.31\n");
    }
    return is_config;
}

void vrak_vlog(const char *format, va_list args)
{
    if (!format) {
        if (lg.file)
            fclose(lg.file);
        lg.file = nullptr;
        lg.initialised = true;
        return;
    }
    std::string message;
    format_message(format, args, &message);
    if (!lg.initialised && initialise(message))
        return;
    write_line(message);
}

void vrak_log(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vrak_vlog(format, args);
    va_end(args);
}

void vrak_error(const char *text)
{
    if (!text)
        text = "Unknown";
    snprintf(lg.last_error, sizeof lg.last_error, "%s", text);
    vrak_log("Error: %.900s\n", text);
}

const char *vrak_last_error()
{
    return lg.last_error[0] ? lg.last_error : "Unknown";
}

void vrak_log_reset()
{
    if (lg.file)
        fclose(lg.file);
    lg.file = nullptr;
    lg.initialised = false;
    lg.no_flush = false;
    lg.last_error[0] = 0;
    lg.options_loaded = false;
    lg.options.clear();
}

// The text right after "[name:" in the option string, or null when the item is
// absent. Names longer than 60 characters are cut, as the option string never
// holds longer ones.
static const char *find_option(const char *name)
{
    if (!lg.options_loaded) {
        const char *env = getenv("VRAK_OPTIONS");
        lg.options = env ? env : "";
        lg.options_loaded = true;
    }
    if (!name)
        return nullptr;
    char key[64];
    snprintf(key, sizeof key, "[%.60s:", name);
    const char *found = strstr(lg.options.c_str(), key);
    return found ? found + strlen(key) : nullptr;
}

int vrak_option_bool(const char *name, int default_value)
{
    const char *value = find_option(name);
    if (!value)
        return default_value;
    if (strncmp(value, "yes]", 4) == 0 || strncmp(value, "on]", 3) == 0)
        return 1;
    if (strncmp(value, "no]", 3) == 0 || strncmp(value, "off]", 4) == 0)
        return 0;
    vrak_log("unrecognized setting for %.60s\n", name);
    return default_value;
}

int vrak_option_int(const char *name, int default_value)
{
    const char *value = find_option(name);
    if (!value)
        return default_value;
    char *end = nullptr;
    long n = strtol(value, &end, 10);
    if (end == value) {
        vrak_log("unrecognized setting for %.60s\n", name);
        return default_value;
    }
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    return (int)n;
}
