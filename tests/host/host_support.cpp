#include "tests/host/host_support.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hosttest {

namespace {

int counter = 0;

bool wait_pid(pid_t pid, int* status, int limit_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    for (;;) {
        if (waitpid(pid, status, WNOHANG) == pid) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

std::string read_text(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

Proc run(const std::vector<std::string>& argv, int limit_s)
{
    const std::string base =
        "/tmp/varve-host-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const std::string out = base + ".out", err = base + ".err";
    Proc p;
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        std::vector<char*> a;
        for (const auto& s : argv) {
            a.push_back(const_cast<char*>(s.c_str()));
        }
        a.push_back(nullptr);
        execv(a[0], a.data());
        _exit(127);
    }
    int status = 0;
    p.finished = wait_pid(pid, &status, limit_s * 1000);
    if (!p.finished) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    p.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    p.out = read_text(out);
    p.err = read_text(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return p;
}

Proc host(const std::vector<std::string>& args, int limit_s)
{
    std::vector<std::string> argv{VARVE_HOST_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, limit_s);
}

SimPty::SimPty(const std::string& board_dir, const std::vector<std::string>& extra)
{
    log_ = board_dir + "-pty.log";
    pid_ = fork();
    if (pid_ == 0) {
        int e = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(e, 2);
        std::vector<std::string> args{
            VARVE_SIM_BIN, "--board", board_dir, "--console", "pty", "--pace", std::to_string(HOST_PACE)};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> a;
        for (const auto& s : args) {
            a.push_back(const_cast<char*>(s.c_str()));
        }
        a.push_back(nullptr);
        execv(a[0], a.data());
        _exit(127);
    }
    // The simulator prints the pty's path on standard error.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string l = read_text(log_);
        std::size_t at = l.find("console on /dev/");
        if (at != std::string::npos) {
            std::size_t end = l.find(' ', at + 11);
            if (end != std::string::npos) {
                path_ = l.substr(at + 11, end - at - 11);
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

SimPty::~SimPty()
{
    finish();
}

void SimPty::pause()
{
    if (pid_ <= 0) {
        return;
    }
    // Once the board hibernates (its start-up note), nothing is under way.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (read_text(log_).find("hibernating") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGSTOP);
}

bool SimPty::alive() const
{
    return pid_ > 0 && kill(pid_, 0) == 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::string SimPty::log() const
{
    return read_text(log_);
}

void SimPty::finish()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    int status = 0;
    if (!wait_pid(pid_, &status, 20000)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string polled_board(const std::string& name, deploytest::ConfigFn config)
{
    auto o = deploytest::board(name, config);
    test::run_script(o, deploytest::keys(1, "2\\r") + deploytest::keys(1, "host test\\r"), 10);
    return o.board_dir;
}

std::string after_header(const std::string& file)
{
    std::size_t at = file.rfind(" SampNum\t");
    if (at == std::string::npos) {
        return "";
    }
    std::size_t nl = file.find('\n', at);
    return nl == std::string::npos ? "" : file.substr(nl + 1);
}

std::vector<std::string> port_options(const std::string& path)
{
    auto scaled = [](double s) { return std::to_string(s / HOST_PACE); };
    return {"--port", path, "--wake-time", scaled(1.5), "--sample-time", scaled(3), "--idle", scaled(1.5)};
}

} // namespace hosttest
