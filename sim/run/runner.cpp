// The run loop of the simulated board: checks the run's inputs and outputs,
// opens the board, then alternates boots (each in a forked child, boot.h)
// and hibernation (wake.h) until the run ends.
#include "sim/run/run_board.h"

#include "platform/platform.h"
#include "sim/devices/console/console.h"
#include "sim/run/board_folder.h"
#include "sim/run/board_setup.h"
#include "sim/run/boot.h"
#include "sim/run/energy.h"
#include "sim/run/input_script.h"
#include "sim/run/pacing.h"
#include "sim/run/run_state.h"
#include "sim/run/run_stats.h"
#include "sim/run/stop_signals.h"
#include "sim/run/timeline.h"
#include "sim/run/wake.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace sim {

int run_board(const RunOptions& opts)
{
    StopSignals stop_signals;
    // Inputs and outputs first: a mistake in them leaves no new board behind.
    std::string err;
    Script script;
    if (!opts.input_file.empty()) {
        if (!load_script_file(opts.input_file, &script, &err)) {
            log("%s", err.c_str());
            return 1;
        }
    } else if (!opts.input_text.empty()) {
        if (!parse_script(opts.input_text, &script, &err)) {
            log("%s", err.c_str());
            return 1;
        }
    }
    int transcript_fd = STDOUT_FILENO;
    if (!opts.transcript_file.empty()) {
        transcript_fd = open(opts.transcript_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (transcript_fd < 0) {
            log("cannot write %s: %s", opts.transcript_file.c_str(), std::strerror(errno));
            return 1;
        }
    }
    FILE* timeline_file = nullptr;
    if (!opts.timeline_file.empty()) {
        timeline_file = std::fopen(opts.timeline_file.c_str(), "w");
        if (timeline_file == nullptr) {
            log("cannot write %s", opts.timeline_file.c_str());
            if (transcript_fd != STDOUT_FILENO) {
                close(transcript_fd);
            }
            return 1;
        }
    }

    if (!energy_run_open(opts.params, opts.board_dir, &err)) {
        log("%s", err.c_str());
        if (transcript_fd != STDOUT_FILENO) {
            close(transcript_fd);
        }
        if (timeline_file != nullptr) {
            std::fclose(timeline_file);
        }
        return 1;
    }
    FILE* stats_file = nullptr;
    if (!opts.stats_file.empty()) {
        stats_file = std::fopen(opts.stats_file.c_str(), "w");
        if (stats_file == nullptr) {
            log("cannot write %s", opts.stats_file.c_str());
        }
    }

    bool new_board = false;
    if ((!opts.stats_file.empty() && stats_file == nullptr) || !open_board(opts, &new_board)) {
        close_board();
        if (transcript_fd != STDOUT_FILENO) {
            close(transcript_fd);
        }
        if (timeline_file != nullptr) {
            std::fclose(timeline_file);
        }
        if (stats_file != nullptr) {
            std::fclose(stats_file);
        }
        return 1;
    }
    stats_run_started();
    run().script = std::move(script);
    timeline_set(timeline_file);
    if (opts.until_s >= 0) {
        run().until = static_cast<Time>(opts.until_s * static_cast<double>(NS_PER_S));
    } else if (!run().script.entries.empty() || opts.console == ConsoleMode::None) {
        Time last = run().script.entries.empty() ? 0 : run().script.entries.back().at;
        run().until = last + 60 * NS_PER_S;
    }
    run().paced = opts.pace;

    bool transcript_is_console = opts.transcript_file.empty() && opts.console == ConsoleMode::Stdio;
    if (!console_open(opts.console, transcript_fd, transcript_is_console)) {
        close_board();
        console_close();
        timeline_close();
        return 1;
    }

    HibState& hib = run_shared().hib;
    bool hibernating = hib.hibernating != 0;
    if (!hibernating && !new_board && hib.active != 0) {
        // The last run ended with the board awake: the supply was removed
        // and is now restored.
        hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
    }
    if (hibernating) {
        log("the board is hibernating; a key on the console wakes it");
    }

    int status = 0;
    BootCause cause = BootCause::PowerOn;
    for (;;) {
        if (!hibernating && stop_signal() != 0) {
            break;
        }
        if (hibernating && opts.until_battery && stats_low_battery_end()) {
            log("the deployment ended on a low battery at %.3f simulated days",
                static_cast<double>(now()) / 1e9 / 86400.0);
            break;
        }
        if (hibernating) {
            hib.hibernating = 1;
            board_folder_save_hib();
            Wake w = hibernate_until_wake();
            if (w == Wake::RunOver || w == Wake::Quit) {
                break;
            }
            if (w == Wake::PowerCycle) {
                hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
            }
            cause = w == Wake::Rtc     ? BootCause::Rtc
                    : w == Wake::Pin   ? BootCause::Pin
                    : w == Wake::Reset ? BootCause::Reset
                                       : BootCause::PowerOn;
            hibernating = false;
        }
        hib.hibernating = 0;
        console_transceiver_switched();
        stats_boot_started(cause);
        int why = boot_child(false);
        stats_boot_ended();
        if (why != static_cast<int>(BootEnd::Hibernate)) {
            // (A boot that hibernates is saved at the top of the loop, with
            // nothing in between: one write per wake.)
            board_folder_save_hib();
        }
        cause = BootCause::PowerOn;
        if (why == static_cast<int>(BootEnd::Hibernate)) {
            console_transceiver_switched();
            hibernating = true;
        } else if (why == static_cast<int>(BootEnd::SoftwareReset) ||
                   why == static_cast<int>(BootEnd::ResetButton)) {
            cause =
                why == static_cast<int>(BootEnd::SoftwareReset) ? BootCause::SoftwareReset : BootCause::Reset;
            continue;
        } else if (why == static_cast<int>(BootEnd::PowerCycle)) {
            hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
        } else if (why == static_cast<int>(BootEnd::RunOver) || why == static_cast<int>(BootEnd::Quit)) {
            break;
        } else {
            log("the firmware stopped in a fault handler");
            status = 3;
            break;
        }
    }
    hib.hibernating = hibernating ? 1 : 0;
    board_folder_save_hib();
    console_close();
    timeline_close();
    if (stats_file != nullptr) {
        const bool written = stats_write(stats_file, static_cast<double>(wall_elapsed()) / 1e9);
        if (std::fclose(stats_file) != 0 || !written) {
            log("cannot write %s", opts.stats_file.c_str());
            status = status == 0 ? 1 : status;
        }
    }
    if (stop_signal() != 0) {
        log("stopped by signal %d; board folder %s saved", stop_signal(), opts.board_dir.c_str());
        if (status == 0) {
            status = 128 + stop_signal();
        }
    }
    close_board();
    return status;
}

} // namespace sim
