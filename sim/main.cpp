// varve-sim: runs the controller firmware on a simulated board.
#include "platform/host/board_runner.h"
#include "sim/cli.h"

#include <cstdio>

int main(int argc, char** argv)
{
    sim::RunOptions opts;
    std::string command;
    int rc = sim::parse_command_line(argc, argv, &opts);
    if (rc >= 0) {
        return rc;
    }
    return sim::run_board(opts);
}
