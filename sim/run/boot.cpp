// One boot in a forked child process.
#include "sim/run/boot.h"

#include "platform/host/chip.h"
#include "platform/vectors.h"
#include "sim/devices/board_devices.h"
#include "sim/devices/console/console.h"
#include "sim/run/board_body.h"
#include "sim/run/pacing.h"
#include "sim/run/provision.h"
#include "sim/run/run_clock.h"
#include "sim/run/run_state.h"
#include "sim/run/stop_signals.h"
#include "sim/run/timed_input.h"
#include "sim/run/timeline.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

// A crash of the firmware (or a !fault entry) is a hard fault of the
// processor: the firmware's own handler runs.
[[noreturn]] void fault_signal(int sig)
{
    if (!run().in_boot || run().fault) {
        _exit(128 + sig);
    }
    run().fault = true;
    // The processor takes a hard fault: run the firmware's handler.
    g_pfnVectors[3]();
    boot_end(BootEnd::Fault);
}

// The fault handlers' stack: in bss, so that a boot that takes no fault
// never touches (and never copies) its pages.
alignas(16) uint8_t g_alt_stack[1 << 16];

void install_fault_handlers()
{
    stack_t ss{};
    ss.ss_sp = g_alt_stack;
    ss.ss_size = sizeof g_alt_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_handler = fault_signal;
    sa.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigaction(sig, &sa, nullptr);
    }
}

[[noreturn]] void run_boot()
{
    run().in_boot = true;
    install_fault_handlers();
    if (run().until != TIME_NEVER) {
        schedule(run().until, [] { boot_end(BootEnd::RunOver); });
    }
    chip_power_on();
    devices_boot();
    timed_input_boot();
    console_deliver();
    run_shared().boots++;
    if (run().opts.boot_hook) {
        run().opts.boot_hook(run_shared().boots);
    }
    run_boot_body(); // a test's body instead of the firmware, when set
    ResetISR();
    // main() returned: the processor runs off the end of the program.
    log("firmware main() returned");
    boot_end(BootEnd::Fault);
}

// Waits for a boot to end.  Asked to stop, it passes the request on to the
// boot (which ends at its next step of simulated time) and, should the boot
// not end within a few seconds, kills it.
bool wait_for_boot(pid_t pid, int* status)
{
    bool passed_on = false;
    Time kill_at = 0;
    for (;;) {
        pid_t r = waitpid(pid, status, passed_on ? WNOHANG : 0);
        if (r == pid) {
            return true;
        }
        if (r < 0 && errno != EINTR) {
            return false;
        }
        if (stop_signal() == 0) {
            continue;
        }
        if (!passed_on) {
            kill(pid, SIGTERM);
            passed_on = true;
            kill_at = wall_elapsed() + 3 * NS_PER_S;
        } else if (wall_elapsed() >= kill_at) {
            kill(pid, SIGKILL);
            while (waitpid(pid, status, 0) < 0) {
                if (errno != EINTR) {
                    return false;
                }
            }
            return true;
        } else {
            struct timespec ts = {0, 10 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
    }
}

} // namespace

BootEnd boot_child(bool provision_only)
{
    console_flush();
    timeline_flush();
    // The boot starts where the runner's clock stands: after hibernation
    // that is the wake time, not the time the previous boot ended.
    clock_hand_to_boot();
    const pid_t runner = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        log("fork failed: %s", std::strerror(errno));
        return BootEnd::Quit;
    }
    if (pid == 0) {
        // The boot must not outlive the runner (for instance when it is killed).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != runner) {
            _exit(static_cast<int>(BootEnd::Quit));
        }
        clock_take_in_boot();
        if (provision_only) {
            run().opts.faults = Faults{}; // the board left QA in working order
            run().provisioning = true;
            console_discard(true);
            run().in_boot = true;
            chip_power_on();
            devices_boot();
            provision_board();
            boot_end(BootEnd::Quit);
        }
        run_boot();
    }
    int status = 0;
    if (!wait_for_boot(pid, &status)) {
        log("waiting for the firmware process failed: %s", std::strerror(errno));
        return BootEnd::Quit;
    }
    clock_take_back();
    if (WIFEXITED(status) && WEXITSTATUS(status) >= static_cast<int>(BootEnd::Hibernate) &&
        WEXITSTATUS(status) <= static_cast<int>(BootEnd::PowerCycle)) {
        return static_cast<BootEnd>(WEXITSTATUS(status));
    }
    if (stop_signal() != 0) {
        return BootEnd::Quit; // stopped from outside
    }
    if (WIFSIGNALED(status)) {
        log("firmware process killed by signal %d", WTERMSIG(status));
    } else {
        log("firmware process exited with status %d", WEXITSTATUS(status));
    }
    return BootEnd::Fault;
}

void boot_hard_fault()
{
    fault_signal(SIGSEGV);
}

void boot_end(BootEnd why)
{
    if (run().bench) {
        log("test bench: the firmware ended its boot (%d); a bench cannot resume it", static_cast<int>(why));
        std::abort();
    }
    clock_hand_back();
    console_flush();
    timeline_flush();
    console_boot_end();
    _exit(static_cast<int>(why));
}

bool in_fault()
{
    return run().fault;
}

} // namespace sim
