// Folders, processes and the machine: the user's data folder, the executable's
// folder, showing a folder in the desktop's file browser, physical memory, the
// MMX flag and the quit signals.
#include "platform/vrak_local.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

static struct {
    void (*volatile quit_handler)();
} sys;

static void strip_trailing_slashes(std::string *path)
{
    while (!path->empty() && path->back() == '/')
        path->pop_back();
}

bool vrak_user_data_dir(std::string *out)
{
    if (!out)
        return false;
    // The XDG rules ignore a relative XDG_DATA_HOME.
    const char *xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        *out = xdg;
        strip_trailing_slashes(out);
        return true;
    }
    const char *home = getenv("HOME");
    if (home && home[0]) {
        *out = home;
        strip_trailing_slashes(out);
        *out += "/.local/share";
        return true;
    }
    return false;
}

bool vrak_exe_dir(std::string *out)
{
    if (!out)
        return false;
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return false;
        if ((size_t)n < buf.size()) {
            buf.resize((size_t)n);
            break;
        }
        if (buf.size() >= 65536)
            return false;
        buf.resize(buf.size() * 2);
    }
    size_t slash = buf.rfind('/');
    if (slash == std::string::npos)
        return false;
    buf.resize(slash);
    *out = buf;
    return true;
}

// Runs "xdg-open path" in a grandchild, so the browser outlives nothing of ours and
// leaves no zombie. A close-on-exec pipe tells whether the exec worked: it closes
// silently on success and carries errno on failure.
bool vrak_open_folder(const char *path)
{
    if (!path || !path[0])
        return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        pid_t grandchild = fork();
        if (grandchild == 0) {
            setsid();
            execlp("xdg-open", "xdg-open", path, (char *)nullptr);
            int err = errno;
            ssize_t ignored = write(fds[1], &err, sizeof err);
            (void)ignored;
            _exit(127);
        }
        if (grandchild < 0) {
            int err = errno;
            ssize_t ignored = write(fds[1], &err, sizeof err);
            (void)ignored;
        }
        _exit(0);
    }
    close(fds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    do {
        n = read(fds[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(fds[0]);
    if (n > 0) {
        vrak_log("Can't run xdg-open: %.200s\n", strerror(err));
        return false;
    }
    return true;
}

uint64_t vrak_physical_memory()
{
    long pages = sysconf(_SC_PHYS_PAGES);
    long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0)
        return 0;
    return (uint64_t)pages * (uint64_t)page_size;
}

bool vrak_cpu_has_mmx()
{
#if defined(__i386__) || defined(__x86_64__)
    return __builtin_cpu_supports("mmx");
#else
    return false;
#endif
}

static void on_signal(int)
{
    void (*handler)() = sys.quit_handler;
    if (handler)
        handler();
}

void vrak_on_quit_signal(void (*handler)())
{
    sys.quit_handler = handler;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sa.sa_handler = handler ? on_signal : SIG_DFL;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
