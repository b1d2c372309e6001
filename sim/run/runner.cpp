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
#include "sim/run/monitor.h"
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
#include <memory>
#include <string>
#include <unistd.h>

namespace sim {

namespace {

// A descriptor the runner owns until it hands it on (standard output is
// never closed).
class OwnedFd {
  public:
    explicit OwnedFd(int fd) : fd_(fd) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd()
    {
        if (fd_ >= 0 && fd_ != STDOUT_FILENO) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileClose>;

// Runs `f` when the scope ends: the board folder, the console and the
// timeline are closed on every way out of the run.
template <typename F> class AtExit {
  public:
    explicit AtExit(F f) : f_(f) {}
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;
    ~AtExit() { f_(); }

  private:
    F f_;
};

OwnedFile open_output(const std::string& path)
{
    OwnedFile f(std::fopen(path.c_str(), "w"));
    if (!f) {
        log("cannot write %s", path.c_str());
    }
    return f;
}

} // namespace

int run_board(const RunOptions& opts)
{
    StopSignals stop_signals;
    // Inputs and outputs first: a mistake in them leaves no new board behind.
    Script script;
    if (!opts.input_file.empty() || !opts.input_text.empty()) {
        const Status read = !opts.input_file.empty() ? load_script_file(opts.input_file, &script)
                                                     : parse_script(opts.input_text, &script);
        if (!read.ok()) {
            log("%s", read.message().c_str());
            return 1;
        }
    }
    int fd = STDOUT_FILENO;
    if (!opts.transcript_file.empty()) {
        fd = open(opts.transcript_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            log("cannot write %s: %s", opts.transcript_file.c_str(), std::strerror(errno));
            return 1;
        }
    }
    OwnedFd transcript(fd);
    OwnedFile timeline_file;
    if (!opts.timeline_file.empty() && !(timeline_file = open_output(opts.timeline_file))) {
        return 1;
    }
    OwnedFile stats_file;
    if (!opts.stats_file.empty() && !(stats_file = open_output(opts.stats_file))) {
        return 1;
    }
    if (Status st = energy_run_open(opts.params, opts.board_dir); !st.ok()) {
        log("%s", st.message().c_str());
        return 1;
    }

    // From here every way out closes the board (last), the console and the
    // timeline.
    AtExit board_closed([] { close_board(); });
    bool new_board = false;
    if (!open_board(opts, &new_board)) {
        return 1;
    }
    stats_run_started();
    run().script = std::move(script);
    timeline_set(timeline_file.release());
    AtExit timeline_closed([] { timeline_close(); });
    if (opts.until_s >= 0) {
        run().until = static_cast<Time>(opts.until_s * static_cast<double>(NS_PER_S));
    } else if (!run().script.entries.empty() || opts.console == ConsoleMode::None) {
        Time last = run().script.entries.empty() ? 0 : run().script.entries.back().at;
        run().until = last + 60 * NS_PER_S;
    }
    run().paced = opts.pace;

    // The console owns the transcript from here, opened or not.
    bool transcript_is_console = opts.transcript_file.empty() && opts.console == ConsoleMode::Stdio;
    AtExit console_closed([] { console_close(); });
    if (!console_open(opts.console, transcript.release(), transcript_is_console)) {
        return 1;
    }
    // The monitor takes Ctrl-A on a terminal only: the pty carries binary
    // transfers (YMODEM's block header is that byte).
    if (opts.console == ConsoleMode::Stdio && isatty(STDIN_FILENO)) {
        monitor_install();
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
        const BootEnd why = boot_child(false);
        stats_boot_ended();
        if (why != BootEnd::Hibernate) {
            // (A boot that hibernates is saved at the top of the loop, with
            // nothing in between: one write per wake.)
            board_folder_save_hib();
        }
        cause = BootCause::PowerOn;
        if (why == BootEnd::Hibernate) {
            console_transceiver_switched();
            hibernating = true;
        } else if (why == BootEnd::SoftwareReset || why == BootEnd::ResetButton) {
            cause = why == BootEnd::SoftwareReset ? BootCause::SoftwareReset : BootCause::Reset;
            continue;
        } else if (why == BootEnd::PowerCycle) {
            hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
        } else if (why == BootEnd::RunOver || why == BootEnd::Quit) {
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
    if (stats_file) {
        const bool written = stats_write(stats_file.get(), static_cast<double>(wall_elapsed()) / 1e9);
        if (std::fclose(stats_file.release()) != 0 || !written) {
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
    return status;
}

} // namespace sim
