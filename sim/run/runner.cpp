// Run loop of the simulated board: board folder, console endpoints, timed
// input, and one forked child process per reset of the firmware.
#include "sim/run/run_board.h"

#include "platform/host/host_periph.h"
#include "sim/run/input_script.h"
#include "sim/run/provision.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"
#include "platform/vectors.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <new>
#include <vector>

namespace sim {

namespace {

constexpr std::size_t SHARED_BYTES = 8u << 20;
constexpr std::size_t INPUT_QUEUE = 1u << 16;
constexpr uint8_t QUIT_KEY = 0x1D; // Ctrl-]

// Bookkeeping of the run shared by the runner and every boot.
struct RunShared {
    Time now;
    HibState hib;
    int end_reason;
    uint32_t console_baud;
    std::size_t script_next; // next timed-input entry
    int boots;
    // Console input on its way to the board (typed or scripted).
    uint8_t input[INPUT_QUEUE];
    std::size_t input_head, input_tail;
    Time line_free_at; // the line is busy with a byte until then
    // Named slices for device models.
    struct Slice {
        char name[48];
        std::size_t offset, size;
    } slices[64];
    std::size_t slice_count;
    std::size_t heap_used;
};

RunOptions g_opts;
RunShared* g_run = nullptr;
uint8_t* g_shared_heap = nullptr;
std::size_t g_shared_heap_size = 0;
uint8_t* g_eeprom = nullptr;
uint8_t* g_fram = nullptr;
Script g_script;
Time g_until = TIME_NEVER;
bool g_paced = false;
int g_in_fd = -1;  // console input from the terminal or pty
int g_out_fd = -1; // console output to the terminal or pty
int g_transcript_fd = -1;
bool g_transcript_is_console = false;
FILE* g_timeline = nullptr;
struct timespec g_wall_origin {};
bool g_in_boot = false;
bool g_fault = false;
bool g_discard_output = false;
ConsoleLine* g_console = nullptr;
EventId g_delivery_event = 0;
bool g_delivery_pending = false;
std::string g_out_buffer;
bool g_raw_set = false;
struct termios g_saved_termios {};
int g_pty_slave = -1;
bool g_bench = false;
std::string g_bench_output;
void* g_shared_mem = nullptr;
// SIGINT, SIGTERM or SIGHUP asked the simulator to stop (0 = no).  The
// runner and the boot each see their own copy: the runner stops waiting,
// a boot ends at its next step of simulated time as when Ctrl-] leaves.
volatile sig_atomic_t g_stop_signal = 0;

void stop_signal(int sig)
{
    if (g_stop_signal == 0) {
        g_stop_signal = sig;
    }
}

// --- Console input queue -------------------------------------------------------------

std::size_t input_count()
{
    return (g_run->input_tail - g_run->input_head) % INPUT_QUEUE;
}

void input_push(const uint8_t* data, std::size_t len)
{
    for (std::size_t i = 0; i < len; ++i) {
        std::size_t next = (g_run->input_tail + 1) % INPUT_QUEUE;
        if (next == g_run->input_head) {
            log("console input overflow: %zu bytes dropped", len - i);
            return;
        }
        g_run->input[g_run->input_tail] = data[i];
        g_run->input_tail = next;
    }
}

uint8_t input_pop()
{
    uint8_t b = g_run->input[g_run->input_head];
    g_run->input_head = (g_run->input_head + 1) % INPUT_QUEUE;
    return b;
}

Time console_byte_time()
{
    uint32_t baud = g_run->console_baud != 0 ? g_run->console_baud : 115200;
    return 10 * NS_PER_S / baud;
}

// Inside a boot: delivers queued console bytes one byte time apart.
void schedule_delivery()
{
    if (g_delivery_pending || input_count() == 0 || g_console == nullptr) {
        return;
    }
    Time start = std::max(now(), g_run->line_free_at);
    g_delivery_pending = true;
    g_delivery_event = schedule(start + g_console->byte_time(), [] {
        g_delivery_pending = false;
        uint8_t b = input_pop();
        g_run->line_free_at = now();
        g_console->receive(b);
        schedule_delivery();
    });
}

// --- Wall clock and terminal -----------------------------------------------------------

Time wall_elapsed()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    int64_t ns = (ts.tv_sec - g_wall_origin.tv_sec) * static_cast<int64_t>(NS_PER_S) +
                 (ts.tv_nsec - g_wall_origin.tv_nsec);
    return ns < 0 ? 0 : static_cast<Time>(ns);
}

void restore_terminal()
{
    if (g_raw_set) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
        g_raw_set = false;
    }
}

void set_raw(int fd, bool save)
{
    struct termios t;
    if (tcgetattr(fd, &t) != 0) {
        return;
    }
    if (save) {
        g_saved_termios = t;
        g_raw_set = true;
        std::atexit(restore_terminal);
    }
    cfmakeraw(&t);
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
}

// Reads what the terminal sent; returns false when the operator quits.
bool read_console_input(Time at)
{
    uint8_t buf[256];
    ssize_t n = read(g_in_fd, buf, sizeof buf);
    if (n <= 0) {
        if (n == 0 && g_opts.console == ConsoleMode::Stdio) {
            // End of input on standard input: nothing more will be typed.
            g_in_fd = -1;
        }
        return true;
    }
    if (g_opts.console == ConsoleMode::Stdio) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == QUIT_KEY) {
                return false;
            }
        }
    }
    if (g_run->line_free_at < at) {
        g_run->line_free_at = at;
    }
    input_push(buf, static_cast<std::size_t>(n));
    return true;
}

// Waits until the wall clock reaches simulated time `t` (or console input
// arrives).  Returns false when the operator quits.
bool wait_wall(Time t, bool* got_input)
{
    *got_input = false;
    for (;;) {
        if (g_stop_signal != 0) {
            return false;
        }
        Time wall = wall_elapsed();
        if (wall >= t) {
            return true;
        }
        Time wait = std::min<Time>(t - wall, 200 * NS_PER_MS);
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(wait / NS_PER_S);
        ts.tv_nsec = static_cast<long>(wait % NS_PER_S);
        if (g_in_fd < 0) {
            nanosleep(&ts, nullptr);
            continue;
        }
        struct pollfd pfd = {g_in_fd, POLLIN, 0};
        int r = ppoll(&pfd, 1, &ts, nullptr);
        if (r > 0 && (pfd.revents & POLLIN) != 0) {
            Time at = std::max(now(), std::min(wall_elapsed(), t));
            if (!read_console_input(at)) {
                return false;
            }
            *got_input = true;
            return true;
        }
    }
}

void flush_output()
{
    if (g_out_buffer.empty()) {
        return;
    }
    const char* p = g_out_buffer.data();
    std::size_t left = g_out_buffer.size();
    while (left > 0) {
        ssize_t n = write(g_transcript_fd, p, left);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    g_out_buffer.clear();
}

// --- Board folder ----------------------------------------------------------------------

bool ensure_dir(const std::string& dir)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    return mkdir(dir.c_str(), 0755) == 0;
}

uint8_t* map_file(const std::string& path, std::size_t size, bool* created)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    fstat(fd, &st);
    *created = st.st_size == 0;
    if (static_cast<std::size_t>(st.st_size) != size) {
        if (st.st_size != 0) {
            log("%s has %lld bytes, expected %zu; resized", path.c_str(), static_cast<long long>(st.st_size),
                size);
        }
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            close(fd);
            return nullptr;
        }
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

bool load_hib(HibState* h)
{
    FILE* f = std::fopen(board_path("hibernate.txt").c_str(), "r");
    if (f == nullptr) {
        return false;
    }
    HibState s{};
    char key[32];
    unsigned long long value;
    int fields = 0;
    while (std::fscanf(f, "%31s %llu", key, &value) == 2) {
        std::string k = key;
        uint32_t v = static_cast<uint32_t>(value);
        ++fields;
        if (k == "active")
            s.active = v;
        else if (k == "rtc_enabled")
            s.rtc_enabled = v;
        else if (k == "rtc_seconds")
            s.rtc_seconds = v;
        else if (k == "match0")
            s.match0 = v;
        else if (k == "wake_flags")
            s.wake_flags = v;
        else if (k == "raw_status")
            s.raw_status = v;
        else if (k == "trim")
            s.trim = v;
        else if (k == "clock_config")
            s.clock_config = v;
        else if (k == "hibernating")
            s.hibernating = v;
        else if (k.rfind("data", 0) == 0 && k.size() > 4) {
            int i = std::atoi(k.c_str() + 4);
            if (i >= 0 && i < 16)
                s.data[i] = v;
        } else {
            --fields;
        }
    }
    std::fclose(f);
    if (fields == 0) {
        return false;
    }
    *h = s;
    return true;
}

void save_hib()
{
    HibState h = g_run->hib;
    h.rtc_seconds = hib_rtc_now();
    std::string path = board_path("hibernate.txt");
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) {
        log("cannot write %s: %s", path.c_str(), std::strerror(errno));
        return;
    }
    std::fprintf(f, "active %u\nrtc_enabled %u\nrtc_seconds %u\nmatch0 %u\nwake_flags %u\nraw_status %u\n",
                 h.active, h.rtc_enabled, h.rtc_seconds, h.match0, h.wake_flags, h.raw_status);
    std::fprintf(f, "trim %u\nclock_config %u\nhibernating %u\n", h.trim, h.clock_config, h.hibernating);
    for (int i = 0; i < 16; ++i) {
        std::fprintf(f, "data%d %u\n", i, h.data[i]);
    }
    std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
}

// --- One boot --------------------------------------------------------------------------

void fault_signal(int sig)
{
    if (!g_in_boot || g_fault) {
        _exit(128 + sig);
    }
    g_fault = true;
    // The processor takes a hard fault: run the firmware's handler.
    g_pfnVectors[3]();
    boot_end(BootEnd::Fault);
}

void install_fault_handlers()
{
    static std::vector<uint8_t> alt_stack(1 << 16);
    stack_t ss{};
    ss.ss_sp = alt_stack.data();
    ss.ss_size = alt_stack.size();
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_handler = fault_signal;
    sa.sa_flags = SA_ONSTACK | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        sigaction(sig, &sa, nullptr);
    }
}

void schedule_script()
{
    if (g_run->script_next >= g_script.entries.size()) {
        return;
    }
    const ScriptEntry& e = g_script.entries[g_run->script_next];
    schedule(e.at, [] {
        const ScriptEntry& entry = g_script.entries[g_run->script_next];
        g_run->script_next++;
        switch (entry.kind) {
        case ScriptEntry::Kind::Type:
            if (g_run->line_free_at < now()) {
                g_run->line_free_at = now();
            }
            input_push(reinterpret_cast<const uint8_t*>(entry.text.data()), entry.text.size());
            schedule_delivery();
            break;
        case ScriptEntry::Kind::Reset:
            boot_end(BootEnd::ResetButton);
        case ScriptEntry::Kind::PowerCycle:
            boot_end(BootEnd::PowerCycle);
        case ScriptEntry::Kind::Fault:
            fault_signal(SIGSEGV);
            break;
        }
        schedule_script();
    });
}

[[noreturn]] void run_boot()
{
    g_in_boot = true;
    install_fault_handlers();
    if (g_until != TIME_NEVER) {
        schedule(g_until, [] { boot_end(BootEnd::RunOver); });
    }
    devices_boot();
    schedule_script();
    schedule_delivery();
    g_run->boots++;
    if (g_opts.boot_hook) {
        g_opts.boot_hook(g_run->boots);
    }
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
        if (g_stop_signal == 0) {
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

// Runs one boot in a child process; returns why it ended.
int boot_child(bool provision_only)
{
    flush_output();
    if (g_timeline != nullptr) {
        std::fflush(g_timeline);
    }
    // The boot starts where the runner's clock stands: after hibernation
    // that is the wake time, not the time the previous boot ended.
    g_run->now = now();
    const pid_t runner = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        log("fork failed: %s", std::strerror(errno));
        return static_cast<int>(BootEnd::Quit);
    }
    if (pid == 0) {
        // The boot must not outlive the runner (for instance when it is killed).
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != runner) {
            _exit(static_cast<int>(BootEnd::Quit));
        }
        reset_clock(g_run->now);
        if (provision_only) {
            g_opts.faults = Faults{}; // the board left QA in working order
            g_discard_output = true;
            g_in_boot = true;
            devices_boot();
            provision_board();
            boot_end(BootEnd::Quit);
        }
        run_boot();
    }
    int status = 0;
    if (!wait_for_boot(pid, &status)) {
        log("waiting for the firmware process failed: %s", std::strerror(errno));
        return static_cast<int>(BootEnd::Quit);
    }
    reset_clock(g_run->now);
    if (WIFEXITED(status) && WEXITSTATUS(status) >= 10 && WEXITSTATUS(status) <= 16) {
        return WEXITSTATUS(status);
    }
    if (g_stop_signal != 0) {
        return static_cast<int>(BootEnd::Quit); // stopped from outside
    }
    if (WIFSIGNALED(status)) {
        log("firmware process killed by signal %d", WTERMSIG(status));
    } else {
        log("firmware process exited with status %d", WEXITSTATUS(status));
    }
    return static_cast<int>(BootEnd::Fault);
}

// --- Hibernation (in the runner) ------------------------------------------------------

Time rtc_match_time()
{
    const HibState& h = g_run->hib;
    if ((h.wake_flags & HIBERNATE_WAKE_RTC) == 0 || h.rtc_enabled == 0) {
        return TIME_NEVER;
    }
    uint32_t count = hib_rtc_now();
    if (h.match0 <= count) {
        return TIME_NEVER; // the match lies in the past: the RTC would have to wrap
    }
    // Seconds roll over at rtc_ref_ns + k seconds.
    Time elapsed = now() - h.rtc_ref_ns;
    Time next_second = h.rtc_ref_ns + (elapsed / NS_PER_S + 1) * NS_PER_S;
    return next_second + static_cast<Time>(h.match0 - count - 1) * NS_PER_S;
}

enum class Wake { Pin, Rtc, Reset, PowerCycle, RunOver, Quit };

// The board hibernates: nothing runs until a wake event.  Console bytes that
// arrive meanwhile are lost; the first one wakes the board if the pin wake
// is armed.
Wake hibernate_until_wake()
{
    for (;;) {
        if (g_stop_signal != 0) {
            return Wake::Quit;
        }
        Time t = std::min(g_until, rtc_match_time());
        Time byte_at = TIME_NEVER;
        if (input_count() > 0) {
            byte_at = std::max(now(), g_run->line_free_at) + console_byte_time();
            t = std::min(t, byte_at);
        }
        Time script_at = TIME_NEVER;
        if (g_run->script_next < g_script.entries.size()) {
            script_at = g_script.entries[g_run->script_next].at;
            t = std::min(t, script_at);
        }
        if (t == TIME_NEVER) {
            if (!g_paced || g_in_fd < 0) {
                return Wake::RunOver; // nothing can ever wake the board
            }
            t = now() + 3600 * NS_PER_S;
        }
        if (g_paced) {
            bool got = false;
            if (!wait_wall(t, &got)) {
                return Wake::Quit;
            }
            if (got) {
                set_clock(std::max(now(), std::min(wall_elapsed(), t)));
                continue;
            }
        }
        set_clock(t);
        if (t >= g_until) {
            return Wake::RunOver;
        }
        if (t == byte_at) {
            input_pop();
            g_run->line_free_at = t;
            if ((g_run->hib.wake_flags & HIBERNATE_WAKE_PIN) != 0) {
                g_run->hib.raw_status |= HIBERNATE_INT_PIN_WAKE;
                return Wake::Pin;
            }
            continue;
        }
        if (t == script_at) {
            const ScriptEntry& e = g_script.entries[g_run->script_next++];
            switch (e.kind) {
            case ScriptEntry::Kind::Type:
                g_run->line_free_at = std::max(g_run->line_free_at, t);
                input_push(reinterpret_cast<const uint8_t*>(e.text.data()), e.text.size());
                break;
            case ScriptEntry::Kind::Reset:
                return Wake::Reset;
            case ScriptEntry::Kind::PowerCycle:
                return Wake::PowerCycle;
            case ScriptEntry::Kind::Fault:
                break; // the processor is off
            }
            continue;
        }
        if ((g_run->hib.wake_flags & HIBERNATE_WAKE_RTC) != 0 && hib_rtc_now() >= g_run->hib.match0) {
            g_run->hib.raw_status |= HIBERNATE_INT_RTC_MATCH_0;
            return Wake::Rtc;
        }
    }
}

bool open_console()
{
    if (g_opts.console == ConsoleMode::Stdio) {
        g_in_fd = STDIN_FILENO;
        g_out_fd = STDOUT_FILENO;
        if (isatty(STDIN_FILENO)) {
            set_raw(STDIN_FILENO, true);
            std::fprintf(stderr, "varve-sim: console on this terminal; Ctrl-] leaves the simulator\r\n");
        }
    } else if (g_opts.console == ConsoleMode::Pty) {
        int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            log("cannot open a pseudo-terminal: %s", std::strerror(errno));
            return false;
        }
        const char* name = ptsname(master);
        // Keep the slave side open so that the console survives a terminal
        // program leaving and coming back.
        g_pty_slave = open(name, O_RDWR | O_NOCTTY);
        if (g_pty_slave >= 0) {
            set_raw(g_pty_slave, false);
        }
        g_in_fd = master;
        g_out_fd = master;
        std::fprintf(stderr, "varve-sim: console on %s (115200 8N1)\n", name);
    }
    return true;
}

} // namespace

// --- Hooks ----------------------------------------------------------------------------

const RunOptions& options()
{
    return g_opts;
}

void board_pace(Time t)
{
    if (!g_in_boot || g_discard_output) {
        return; // provisioning runs to its end
    }
    if (g_stop_signal != 0 && !g_bench) {
        boot_end(BootEnd::Quit);
    }
    if (!g_paced) {
        return;
    }
    flush_output();
    bool got = false;
    if (!wait_wall(t, &got)) {
        boot_end(BootEnd::Quit);
    }
    if (got) {
        schedule_delivery();
    }
}

void console_output(uint8_t byte)
{
    if (g_discard_output) {
        return;
    }
    if (g_bench) {
        g_bench_output.push_back(static_cast<char>(byte));
        return;
    }
    g_out_buffer.push_back(static_cast<char>(byte));
    if (g_out_fd >= 0 && !g_transcript_is_console) {
        ssize_t n = write(g_out_fd, &byte, 1);
        (void)n;
    }
    if (g_out_buffer.size() >= 4096) {
        flush_output();
    }
}

void console_attach(ConsoleLine* line)
{
    g_console = line;
}

void boot_end(BootEnd why)
{
    if (g_bench) {
        log("test bench: the firmware ended its boot (%d); a bench cannot resume it", static_cast<int>(why));
        std::abort();
    }
    g_run->now = now();
    flush_output();
    if (g_timeline != nullptr) {
        std::fflush(g_timeline);
    }
    if (g_console != nullptr) {
        g_run->console_baud = static_cast<uint32_t>(10 * NS_PER_S / g_console->byte_time());
    }
    _exit(static_cast<int>(why));
}

bool in_fault()
{
    return g_fault;
}

HibState& hib_state()
{
    return g_run->hib;
}

uint32_t hib_rtc_now()
{
    const HibState& h = g_run->hib;
    if (h.rtc_enabled == 0) {
        return h.rtc_seconds;
    }
    Time t = now();
    Time elapsed = t > h.rtc_ref_ns ? t - h.rtc_ref_ns : 0;
    return h.rtc_seconds + static_cast<uint32_t>(elapsed / NS_PER_S);
}

uint8_t* eeprom_image()
{
    return g_eeprom;
}
uint8_t* fram_image()
{
    return g_fram;
}

std::string board_path(const char* name)
{
    return g_opts.board_dir + "/" + name;
}

void* shared_area(const char* name, std::size_t size)
{
    for (std::size_t i = 0; i < g_run->slice_count; ++i) {
        if (std::strncmp(g_run->slices[i].name, name, sizeof g_run->slices[i].name) == 0) {
            return g_run->slices[i].size >= size ? g_shared_heap + g_run->slices[i].offset : nullptr;
        }
    }
    std::size_t aligned = (size + 15) & ~std::size_t{15};
    if (g_run->slice_count >= 64 || g_run->heap_used + aligned > g_shared_heap_size) {
        return nullptr;
    }
    auto& s = g_run->slices[g_run->slice_count++];
    std::snprintf(s.name, sizeof s.name, "%s", name);
    s.offset = g_run->heap_used;
    s.size = aligned;
    g_run->heap_used += aligned;
    std::memset(g_shared_heap + s.offset, 0, aligned);
    return g_shared_heap + s.offset;
}

void timeline(const std::string& what, int value)
{
    if (g_timeline == nullptr || g_discard_output) {
        return;
    }
    Time t = now();
    std::fprintf(g_timeline, "%" PRIu64 ".%09" PRIu64 " %s %d\n", t / NS_PER_S, t % NS_PER_S, what.c_str(),
                 value);
}

// --- The run ---------------------------------------------------------------------------

namespace {

// A board folder is the simulator's working state, never part of a source
// tree it may have been created in: git ignores everything in it.
void keep_out_of_version_control()
{
    std::string path = board_path(".gitignore");
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        return;
    }
    FILE* f = std::fopen(path.c_str(), "w");
    if (f != nullptr) {
        std::fputs("# Board folder of varve-sim: not source.\n*\n", f);
        std::fclose(f);
    }
}

// Resets the run's state, maps the board folder and provisions a new board.
bool open_board(const RunOptions& opts, bool* new_board)
{
    g_opts = opts;
    g_script = Script{};
    g_until = TIME_NEVER;
    g_in_fd = -1;
    g_out_fd = -1;
    g_transcript_fd = -1;
    g_transcript_is_console = false;
    g_timeline = nullptr;
    g_in_boot = false;
    g_fault = false;
    g_discard_output = false;
    g_console = nullptr;
    g_delivery_pending = false;
    g_out_buffer.clear();
    g_pty_slave = -1;
    g_bench = false;
    g_bench_output.clear();
    reset_clock(0);
    clock_gettime(CLOCK_MONOTONIC, &g_wall_origin);

    // Run bookkeeping shared by every boot.
    void* mem = mmap(nullptr, SHARED_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        log("cannot map shared memory");
        return false;
    }
    g_shared_mem = mem;
    g_run = new (mem) RunShared{};
    std::size_t header = (sizeof(RunShared) + 63) & ~std::size_t{63};
    g_shared_heap = static_cast<uint8_t*>(mem) + header;
    g_shared_heap_size = SHARED_BYTES - header;

    if (!ensure_dir(opts.board_dir)) {
        log("cannot use board folder %s", opts.board_dir.c_str());
        return false;
    }
    bool new_eeprom = false;
    bool new_fram = false;
    g_eeprom = map_file(board_path("eeprom.bin"), EEPROM_BYTES, &new_eeprom);
    g_fram = map_file(board_path("fram.bin"), FRAM_BYTES, &new_fram);
    if (g_eeprom == nullptr || g_fram == nullptr) {
        log("cannot map the EEPROM or FRAM image in %s", opts.board_dir.c_str());
        return false;
    }
    *new_board = !load_hib(&g_run->hib);
    if (new_eeprom) {
        std::memset(g_eeprom, 0xFF, EEPROM_BYTES);
    }
    if (new_fram) {
        std::memset(g_fram, 0xFF, FRAM_BYTES);
    }

    std::string err;
    if (*new_board) {
        HibState& h = g_run->hib;
        h = HibState{};
        h.rtc_enabled = 1;
        uint32_t start = 0;
        if (!rtc_from_text(opts.start, &start, &err)) {
            log("%s", err.c_str());
            return false;
        }
        h.rtc_seconds = start;
        h.rtc_ref_ns = 0;
        if (!opts.blank) {
            int why = boot_child(true);
            if (why != static_cast<int>(BootEnd::Quit)) {
                log("provisioning the new board failed");
                return false;
            }
            log("new board in %s: provisioned as after board QA", opts.board_dir.c_str());
        } else {
            log("new blank board in %s", opts.board_dir.c_str());
        }
        save_hib();
        keep_out_of_version_control();
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
    g_run->hib.rtc_ref_ns = 0;
    return true;
}

void close_board()
{
    if (g_eeprom != nullptr) {
        munmap(g_eeprom, EEPROM_BYTES);
    }
    if (g_fram != nullptr) {
        munmap(g_fram, FRAM_BYTES);
    }
    if (g_shared_mem != nullptr) {
        munmap(g_shared_mem, SHARED_BYTES);
    }
    g_eeprom = nullptr;
    g_fram = nullptr;
    g_shared_mem = nullptr;
    g_run = nullptr;
}

// Stops the run on SIGINT, SIGTERM and SIGHUP (and puts the previous
// handlers back when it ends).
class StopSignals {
  public:
    StopSignals()
    {
        g_stop_signal = 0;
        struct sigaction sa {};
        sa.sa_handler = stop_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // interrupt the runner's waits
        for (std::size_t i = 0; i < COUNT; ++i) {
            sigaction(SIGNALS[i], &sa, &saved_[i]);
        }
    }
    ~StopSignals()
    {
        for (std::size_t i = 0; i < COUNT; ++i) {
            sigaction(SIGNALS[i], &saved_[i], nullptr);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    static constexpr std::size_t COUNT = 3;
    static constexpr int SIGNALS[COUNT] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction saved_[COUNT] {};
};

} // namespace

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

    bool new_board = false;
    if (!open_board(opts, &new_board)) {
        close_board();
        if (transcript_fd != STDOUT_FILENO) {
            close(transcript_fd);
        }
        if (timeline_file != nullptr) {
            std::fclose(timeline_file);
        }
        return 1;
    }
    g_script = std::move(script);
    g_transcript_fd = transcript_fd;
    g_transcript_is_console = opts.transcript_file.empty() && opts.console == ConsoleMode::Stdio;
    g_timeline = timeline_file;
    if (opts.until_s >= 0) {
        g_until = static_cast<Time>(opts.until_s * static_cast<double>(NS_PER_S));
    } else if (!g_script.entries.empty() || opts.console == ConsoleMode::None) {
        Time last = g_script.entries.empty() ? 0 : g_script.entries.back().at;
        g_until = last + 60 * NS_PER_S;
    }
    g_paced = opts.pace;

    if (!open_console()) {
        close_board();
        if (g_transcript_fd != STDOUT_FILENO) {
            close(g_transcript_fd);
        }
        if (g_timeline != nullptr) {
            std::fclose(g_timeline);
            g_timeline = nullptr;
        }
        return 1;
    }

    bool hibernating = g_run->hib.hibernating != 0;
    if (!hibernating && !new_board && g_run->hib.active != 0) {
        // The last run ended with the board awake: the supply was removed
        // and is now restored.
        g_run->hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
    }
    if (hibernating) {
        log("the board is hibernating; a key on the console wakes it");
    }

    int status = 0;
    for (;;) {
        if (!hibernating && g_stop_signal != 0) {
            break;
        }
        if (hibernating) {
            g_run->hib.hibernating = 1;
            save_hib();
            Wake w = hibernate_until_wake();
            if (w == Wake::RunOver || w == Wake::Quit) {
                break;
            }
            if (w == Wake::PowerCycle) {
                g_run->hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
            }
            hibernating = false;
        }
        g_run->hib.hibernating = 0;
        int why = boot_child(false);
        g_run->now = now();
        save_hib();
        if (why == static_cast<int>(BootEnd::Hibernate)) {
            hibernating = true;
        } else if (why == static_cast<int>(BootEnd::SoftwareReset) ||
                   why == static_cast<int>(BootEnd::ResetButton)) {
            continue;
        } else if (why == static_cast<int>(BootEnd::PowerCycle)) {
            g_run->hib.raw_status = HIBERNATE_INT_WR_COMPLETE;
        } else if (why == static_cast<int>(BootEnd::RunOver) || why == static_cast<int>(BootEnd::Quit)) {
            break;
        } else {
            log("the firmware stopped in a fault handler");
            status = 3;
            break;
        }
    }
    g_run->hib.hibernating = hibernating ? 1 : 0;
    save_hib();
    flush_output();
    if (g_transcript_fd >= 0 && g_transcript_fd != STDOUT_FILENO) {
        close(g_transcript_fd);
    }
    if (g_timeline != nullptr) {
        std::fclose(g_timeline);
        g_timeline = nullptr;
    }
    restore_terminal();
    if (g_pty_slave >= 0) {
        close(g_pty_slave);
    }
    if (g_in_fd >= 0 && g_opts.console == ConsoleMode::Pty) {
        close(g_in_fd);
    }
    if (g_stop_signal != 0) {
        log("stopped by signal %d; board folder %s saved", static_cast<int>(g_stop_signal),
            g_opts.board_dir.c_str());
        if (status == 0) {
            status = 128 + g_stop_signal;
        }
    }
    close_board();
    return status;
}

// --- In-process test bench -------------------------------------------------------------

bool bench_begin(const RunOptions& opts)
{
    bool new_board = false;
    if (!open_board(opts, &new_board)) {
        close_board();
        return false;
    }
    g_bench = true;
    g_in_boot = true;
    reset_clock(0);
    reset_machine();
    devices_boot();
    return true;
}

void bench_end()
{
    g_in_boot = false;
    g_bench = false;
    g_console = nullptr;
    reset_clock(0);
    reset_machine();
    close_board();
}

std::string bench_console_output()
{
    return g_bench_output;
}
void bench_clear_output()
{
    g_bench_output.clear();
}

void bench_type(const std::string& bytes)
{
    if (g_run->line_free_at < now()) {
        g_run->line_free_at = now();
    }
    input_push(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    schedule_delivery();
}

} // namespace sim
