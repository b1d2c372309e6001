// Helpers of the host tool tests: processes with a time limit, the
// simulator on a pseudo-terminal, boards prepared for a deployment.
#pragma once

#include "tests/deployment/deploy_support.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace hosttest {

struct Proc {
    bool finished = false; // false: killed at the limit
    int status = -1;       // exit status
    std::string out, err;
};

// Runs argv[0] with the arguments; killed after `limit_s` seconds.
Proc run(const std::vector<std::string>& argv, int limit_s = 120);
// varve-host ARGS.
Proc host(const std::vector<std::string>& args, int limit_s = 120);

// The simulator's pace in these tests (varve-sim --pace).  varve-host waits
// fixed times of its own (--wake-time, --sample-time, --idle), made for the
// controller at the wall clock's pace: the tests divide them by it
// (port_options).
constexpr int HOST_PACE = 2;
// --port PATH and varve-host's times for a controller at HOST_PACE.
std::vector<std::string> port_options(const std::string& path);

// varve-sim on a board folder with --console pty (and `extra` options);
// stopped by SIGTERM when the object goes.
class SimPty {
  public:
    SimPty(const std::string& board_dir, const std::vector<std::string>& extra = {});
    ~SimPty();
    const std::string& path() const { return path_; }
    void pause(); // SIGSTOP: the controller no longer answers
    bool alive() const;
    std::string log() const; // the simulator's standard error
    void finish();           // SIGTERM and wait: the board folder is saved
  private:
    pid_t pid_ = -1;
    std::string path_;
    std::string log_;
};

// A new board started in polled mode (a deployment with the given change of
// configuration, started from the main menu); returns its folder.
std::string polled_board(const std::string& name, deploytest::ConfigFn config = nullptr);

std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);
// The part of a data file after its (last) column header line.
std::string after_header(const std::string& file);

} // namespace hosttest
