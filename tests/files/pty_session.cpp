#include "tests/files/pty_session.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace filestest {

namespace {

std::string read_text(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string temp_name(const char* what)
{
    const char* base = std::getenv("TMPDIR");
    std::string dir = base != nullptr && base[0] != '\0' ? base : "/tmp";
    static int counter = 0;
    return dir + "/varve-files-" + std::to_string(getpid()) + "-" + what + "-" + std::to_string(++counter);
}

[[noreturn]] void exec_or_die(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
}

// Waits for `pid` for at most `seconds`; true when it ended (*status set).
bool wait_for(pid_t pid, double seconds, int* status)
{
    double end = seconds_now() + seconds;
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (seconds_now() >= end) {
            return false;
        }
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

int exit_code(int status)
{
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Waits for the child `pid` (whose end is not yet recorded while *state is
// -2) for at most `seconds`, killing it then; records and returns its exit
// status, 128 + signal, or -1 when it had to be killed.
int wait_child(pid_t pid, double seconds, int* state)
{
    if (*state != -2 || pid <= 0) {
        return *state;
    }
    int status = 0;
    if (!wait_for(pid, seconds, &status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        *state = -1;
        return *state;
    }
    *state = exit_code(status);
    return *state;
}

} // namespace

double seconds_now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

PtySim::PtySim(const std::string& board, const std::vector<std::string>& options)
{
    err_file_ = temp_name("sim-err");
    std::vector<std::string> argv = {
        VARVE_SIM_BIN, "--board", board, "--console", "pty", "--transcript", board + ".transcript"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = fork();
    if (pid_ == 0) {
        int err = open(err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(err, STDERR_FILENO);
        exec_or_die(argv);
    }
    // The simulator names its pty on standard error.
    std::string path;
    for (double end = seconds_now() + 60; path.empty() && seconds_now() < end;) {
        std::string err = read_text(err_file_);
        std::size_t at = err.find("console on /dev/");
        if (at != std::string::npos) {
            std::size_t start = at + std::strlen("console on ");
            std::size_t stop = err.find(' ', start);
            if (stop != std::string::npos) {
                path = err.substr(start, stop - start);
                break;
            }
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        struct timespec ts = {0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    if (path.empty()) {
        return;
    }
    path_ = path;
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) {
        struct termios t;
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
}

PtySim::~PtySim()
{
    stop();
    std::remove(err_file_.c_str());
}

int PtySim::stop()
{
    int code = -1;
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        if (!wait_for(pid_, 10, &status)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        code = exit_code(status);
        pid_ = -1;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    return code;
}

void PtySim::send(const std::string& keys)
{
    std::size_t done = 0;
    while (fd_ >= 0 && done < keys.size()) {
        ssize_t n = write(fd_, keys.data() + done, keys.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
}

void PtySim::read_some(double seconds)
{
    if (fd_ < 0) {
        return;
    }
    struct pollfd p = {fd_, POLLIN, 0};
    int ms = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000) + 1;
    if (poll(&p, 1, ms) > 0 && (p.revents & POLLIN) != 0) {
        char buf[4096];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            seen_.append(buf, static_cast<std::size_t>(n));
        }
    }
}

bool PtySim::expect(const std::string& text, double seconds)
{
    double end = seconds_now() + seconds;
    for (;;) {
        std::size_t at = seen_.find(text, pos_);
        if (at != std::string::npos) {
            pos_ = at + text.size();
            return true;
        }
        double left = end - seconds_now();
        if (left <= 0 || fd_ < 0) {
            return false;
        }
        read_some(left < 0.2 ? left : 0.2);
    }
}

void PtySim::skip_pending()
{
    read_some(0);
    pos_ = seen_.size();
}

std::string PtySim::messages() const
{
    return read_text(err_file_);
}

Peer::Peer(int fd, const std::vector<std::string>& argv, const std::string& cwd)
{
    start(fd, argv, cwd);
}

Peer::Peer(const std::string& path, const std::string& command, const std::string& cwd)
{
    via_socat_ = true;
    // -t: socat ends 20 ms after the program has (default 0.5 s), before the
    // controller's result line can meet the program's closed pipe.
    start(-1, {"socat", "-t", "0.02", "FILE:" + path + ",rawer", "EXEC:" + command}, cwd);
}

void Peer::start(int fd, const std::vector<std::string>& argv, const std::string& cwd)
{
    err_file_ = temp_name("peer-err");
    pid_ = fork();
    if (pid_ == 0) {
        int err = open(err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, STDIN_FILENO);
            dup2(fd, STDOUT_FILENO);
        } else {
            int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
        dup2(err, STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        exec_or_die(argv);
    }
}

Peer::~Peer()
{
    if (pid_ > 0 && status_ == -2) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    std::remove(err_file_.c_str());
}

int Peer::wait(double seconds)
{
    return wait_child(pid_, seconds, &status_);
}

bool Peer::signal(int sig)
{
    if (pid_ <= 0 || status_ != -2) {
        return false;
    }
    if (!via_socat_) {
        return kill(pid_, sig) == 0;
    }
    // socat's child runs the program (it may still be starting).
    const std::string list = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/children";
    for (double end = seconds_now() + 5; seconds_now() < end;) {
        std::string children = read_text(list);
        bool sent = false;
        for (std::size_t at = 0; at < children.size();) {
            std::size_t stop = children.find(' ', at);
            std::string id = children.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
            if (!id.empty() && kill(static_cast<pid_t>(std::stol(id)), sig) == 0) {
                sent = true;
            }
            if (stop == std::string::npos) {
                break;
            }
            at = stop + 1;
        }
        if (sent) {
            return true;
        }
        struct timespec ts = {0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    return false;
}

std::string Peer::messages() const
{
    return read_text(err_file_);
}

Terminal::Terminal(const std::vector<std::string>& argv, const std::string& cwd)
{
    struct winsize size = {40, 120, 0, 0};
    int master = -1;
    pid_ = forkpty(&master, nullptr, nullptr, &size);
    if (pid_ == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        exec_or_die(argv);
    }
    if (pid_ > 0) {
        fd_ = master;
    }
}

Terminal::~Terminal()
{
    if (pid_ > 0 && status_ == -2) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) {
        close(fd_);
    }
}

void Terminal::send(const std::string& keys)
{
    for (std::size_t done = 0; fd_ >= 0 && done < keys.size();) {
        ssize_t n = write(fd_, keys.data() + done, keys.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
}

bool Terminal::expect(const std::string& text, double seconds)
{
    double end = seconds_now() + seconds;
    for (;;) {
        std::size_t at = seen_.find(text, pos_);
        if (at != std::string::npos) {
            pos_ = at + text.size();
            return true;
        }
        double left = end - seconds_now();
        if (left <= 0 || fd_ < 0) {
            return false;
        }
        struct pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>((left < 0.2 ? left : 0.2) * 1000) + 1) > 0 &&
            (p.revents & POLLIN) != 0) {
            char buf[4096];
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                seen_.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                return false; // the program ended
            }
        }
    }
}

int Terminal::wait(double seconds)
{
    return wait_child(pid_, seconds, &status_);
}

} // namespace filestest
