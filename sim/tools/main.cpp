// varve-sim: runs the controller firmware on a simulated board.
#include "sim/run/run_board.h"
#include "sim/tools/board_tool.h"
#include "sim/tools/card_tool.h"
#include "sim/tools/cli.h"
#include "sim/tools/plan.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "card") == 0) {
        return sim::card_main(argc - 1, argv + 1);
    }
    if (argc >= 2 && std::strcmp(argv[1], "board") == 0) {
        return sim::board_main(argc - 1, argv + 1);
    }
    if (argc >= 2 && std::strcmp(argv[1], "plan") == 0) {
        return sim::plan_main(argc - 1, argv + 1);
    }
    if (argc >= 2 && std::strcmp(argv[1], "power") == 0) {
        return sim::power_main(argc - 1, argv + 1);
    }
    sim::RunOptions opts;
    int rc = sim::parse_command_line(argc, argv, &opts);
    if (rc >= 0) {
        return rc;
    }
    return sim::run_board(opts);
}
