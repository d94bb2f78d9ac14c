#include "tests/support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static double now_seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

ProcessResult run_process(const std::string &program, const std::vector<std::string> &args,
                          const std::vector<std::string> &env, double signal_after,
                          double timeout)
{
    ProcessResult result = {-1, "", "", -1};
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        return result;

    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        for (const std::string &e : env)
            putenv(strdup(e.c_str()));
        std::vector<char *> argv;
        argv.push_back(strdup(program.c_str()));
        for (const std::string &a : args)
            argv.push_back(strdup(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    fcntl(out_pipe[0], F_SETFL, O_NONBLOCK);
    fcntl(err_pipe[0], F_SETFL, O_NONBLOCK);

    double start = now_seconds(), signalled = 0;
    bool out_open = true, err_open = true;
    int wstatus = 0;
    bool exited = false;
    while (!exited) {
        pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
        poll(fds, 2, 10);
        char buf[4096];
        ssize_t n;
        while (out_open && (n = read(out_pipe[0], buf, sizeof buf)) != 0) {
            if (n < 0)
                break;
            result.out.append(buf, n);
        }
        while (err_open && (n = read(err_pipe[0], buf, sizeof buf)) != 0) {
            if (n < 0)
                break;
            result.err.append(buf, n);
        }
        double t = now_seconds() - start;
        if (signal_after > 0 && signalled == 0 && t >= signal_after) {
            kill(pid, SIGTERM);
            signalled = now_seconds();
        }
        if (t > timeout)
            kill(pid, SIGKILL);
        if (waitpid(pid, &wstatus, WNOHANG) == pid)
            exited = true;
    }
    double end = now_seconds();
    // Whatever is still buffered in the pipes.
    char buf[4096];
    ssize_t n;
    while ((n = read(out_pipe[0], buf, sizeof buf)) > 0)
        result.out.append(buf, n);
    while ((n = read(err_pipe[0], buf, sizeof buf)) > 0)
        result.err.append(buf, n);
    close(out_pipe[0]);
    close(err_pipe[0]);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (signalled > 0)
        result.seconds_after_signal = end - signalled;
    return result;
}

std::string make_temp_dir()
{
    const char *base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ruttmoor-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
