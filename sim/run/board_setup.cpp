// Opening a board: state, folder, and a new board's provisioning.
#include "sim/run/board_setup.h"

#include "sim/devices/console/console.h"
#include "sim/run/board_folder.h"
#include "sim/run/boot.h"
#include "sim/run/input_script.h"
#include "sim/run/pacing.h"
#include "sim/run/run_clock.h"
#include "sim/run/run_state.h"
#include "sim/run/timeline.h"

#include <sys/stat.h>

namespace sim {

bool open_board(const RunOptions& opts, bool* new_board)
{
    console_reset();
    timeline_set(nullptr);
    clock_start_run();
    pacing_start(opts.pace_factor);
    // Run bookkeeping shared by every boot.
    if (!run_state_open(opts)) {
        return false;
    }
    if (!board_folder_open(opts.board_dir)) {
        return false;
    }
    *new_board = !board_folder_load_hib(&run_shared().hib);

    if (*new_board) {
        HibState& h = run_shared().hib;
        h = HibState{};
        h.rtc_enabled = 1;
        uint32_t start = 0;
        if (Status st = rtc_from_text(opts.start, &start); !st.ok()) {
            log("%s", st.message().c_str());
            return false;
        }
        h.rtc_seconds = start;
        h.rtc_ref_ns = 0;
        if (!opts.blank) {
            if (boot_child(true) != BootEnd::Quit) {
                log("provisioning the new board failed");
                return false;
            }
            log("new board in %s: provisioned as after board QA", opts.board_dir.c_str());
        } else {
            log("new blank board in %s", opts.board_dir.c_str());
        }
        board_folder_save_hib();
        board_folder_keep_out_of_git();
    } else {
        if (!opts.start.empty()) {
            log("--start applies to a new board only; %s keeps its clock", opts.board_dir.c_str());
        }
        if (opts.blank) {
            log("--blank applies to a new board only; %s keeps its stores", opts.board_dir.c_str());
        }
    }
    struct stat card;
    if (opts.params.count("card_size_mib") != 0 && stat(board_path("card.img").c_str(), &card) == 0) {
        log("--card-size applies to a new card only; %s keeps its %llu MiB card", opts.board_dir.c_str(),
            static_cast<unsigned long long>(card.st_size) >> 20);
    }
    run_shared().hib.rtc_ref_ns = 0;
    return true;
}

void close_board()
{
    board_folder_close();
    run_state_close();
}

} // namespace sim
