// The console on UART0: terminal and pseudo-terminal endpoints, the
// transcript, and the console line's input queue.
#include "sim/devices/console/console.h"

#include "sim/devices/console/console_line.h"
#include "sim/devices/console/console_monitor.h"

#include "platform/host/host_periph.h"
#include "platform/platform.h"
#include "sim/devices/board_services.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr std::size_t INPUT_QUEUE = 1u << 16;
// Console input is read from the terminal or pty only while fewer bytes than
// this wait for the line: beyond it the sender's writes wait, as a program's
// writes to a serial port wait for the UART.
constexpr std::size_t INPUT_HIGH_WATER = 4096;
constexpr uint8_t QUIT_KEY = 0x1D; // Ctrl-]

// The line, shared by the runner and every boot of the run.
struct Line {
    uint8_t input[INPUT_QUEUE];
    std::size_t head, tail;
    Time free_at;  // the line is busy with a byte until then
    uint32_t baud; // the console UART's rate when the last boot ended
};

Line g_local_line; // only if the shared area were exhausted
Line* g_line = nullptr;

ConsoleMode g_mode = ConsoleMode::None;
int g_in_fd = -1;  // console input from the terminal or pty
int g_out_fd = -1; // console output to the terminal or pty
int g_transcript_fd = -1;
bool g_transcript_is_console = false;
std::string g_out_buffer;
bool g_raw_set = false;
struct termios g_saved_termios {};
int g_pty_slave = -1;
bool g_discard = false;
bool g_capture = false;
std::string g_captured;
bool g_attached = false; // attached to UART0 in this boot
bool g_delivery_pending = false;

Line& line()
{
    if (g_line == nullptr) {
        g_line = static_cast<Line*>(shared_area("console-line", sizeof(Line)));
        if (g_line == nullptr) {
            log("no shared memory for the console line: typed input does not survive a reset");
            g_line = &g_local_line;
        }
    }
    return *g_line;
}

std::size_t input_count()
{
    return (line().tail - line().head) % INPUT_QUEUE;
}

void input_push(const uint8_t* data, std::size_t len)
{
    Line& l = line();
    for (std::size_t i = 0; i < len; ++i) {
        std::size_t next = (l.tail + 1) % INPUT_QUEUE;
        if (next == l.head) {
            log("console input overflow: %zu bytes dropped", len - i);
            return;
        }
        l.input[l.tail] = data[i];
        l.tail = next;
    }
}

uint8_t input_pop()
{
    Line& l = line();
    uint8_t b = l.input[l.head];
    l.head = (l.head + 1) % INPUT_QUEUE;
    return b;
}

// Ten bit-times at the baud rate the firmware set on UART0 (115200 until
// it sets one).
Time uart0_byte_time()
{
    uint32_t baud = uart_baud(UART0_BASE);
    return 10 * NS_PER_S / (baud != 0 ? baud : 115200);
}

Time console_byte_time()
{
    uint32_t baud = line().baud != 0 ? line().baud : 115200;
    return 10 * NS_PER_S / baud;
}

void console_output(uint8_t byte)
{
    if (g_discard) {
        return;
    }
    if (g_capture) {
        g_captured.push_back(static_cast<char>(byte));
        return;
    }
    g_out_buffer.push_back(static_cast<char>(byte));
    if (g_out_fd >= 0 && !g_transcript_is_console) {
        ssize_t n = write(g_out_fd, &byte, 1);
        (void)n;
    }
    if (g_out_buffer.size() >= 4096) {
        console_flush();
    }
}

// A byte that a line fault changed on its way to the terminal: the
// transcript records `sent`, the terminal gets `received` (-1: nothing).
void console_output_faulted(uint8_t sent, int received)
{
    if (g_discard) {
        return;
    }
    if (g_capture) {
        g_captured.push_back(static_cast<char>(sent));
        return;
    }
    g_out_buffer.push_back(static_cast<char>(sent));
    if (received >= 0 && g_out_fd >= 0) {
        uint8_t byte = static_cast<uint8_t>(received);
        ssize_t n = write(g_out_fd, &byte, 1);
        (void)n;
    }
    if (g_out_buffer.size() >= 4096) {
        console_flush();
    }
}

struct ConsolePeer : UartPeer {
    void uart_from_board(uint8_t byte) override
    {
        int got = console_line_to_terminal(byte);
        if (got == byte) {
            console_output(byte);
        } else {
            console_output_faulted(byte, got);
        }
    }
};
ConsolePeer g_peer;

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

} // namespace

// --- Endpoints ------------------------------------------------------------------------

void console_reset()
{
    g_line = nullptr;
    g_mode = ConsoleMode::None;
    g_in_fd = -1;
    g_out_fd = -1;
    g_transcript_fd = -1;
    g_transcript_is_console = false;
    g_out_buffer.clear();
    g_pty_slave = -1;
    g_discard = false;
    g_capture = false;
    g_captured.clear();
    g_attached = false;
    g_delivery_pending = false;
}

bool console_open(ConsoleMode mode, int transcript_fd, bool transcript_is_console)
{
    g_mode = mode;
    g_transcript_fd = transcript_fd;
    g_transcript_is_console = transcript_is_console;
    if (mode == ConsoleMode::Stdio) {
        g_in_fd = STDIN_FILENO;
        g_out_fd = STDOUT_FILENO;
        if (isatty(STDIN_FILENO)) {
            set_raw(STDIN_FILENO, true);
            std::fprintf(stderr, "varve-sim: console on this terminal; Ctrl-] leaves the simulator\r\n");
        }
    } else if (mode == ConsoleMode::Pty) {
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

void console_flush()
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

void console_close()
{
    console_flush();
    if (g_transcript_fd >= 0 && g_transcript_fd != STDOUT_FILENO) {
        close(g_transcript_fd);
    }
    g_transcript_fd = -1;
    restore_terminal();
    if (g_pty_slave >= 0) {
        close(g_pty_slave);
    }
    g_pty_slave = -1;
    if (g_in_fd >= 0 && g_mode == ConsoleMode::Pty) {
        close(g_in_fd);
    }
    g_in_fd = -1;
    g_out_fd = -1;
}

int console_input_fd()
{
    return g_in_fd;
}

bool console_input_full()
{
    return input_count() >= INPUT_HIGH_WATER;
}

bool console_read_input(Time at)
{
    uint8_t buf[256];
    std::size_t room = INPUT_HIGH_WATER > input_count() ? INPUT_HIGH_WATER - input_count() : 0;
    if (room == 0) {
        return true;
    }
    ssize_t n = read(g_in_fd, buf, std::min(sizeof buf, room));
    if (n <= 0) {
        if (n == 0 && g_mode == ConsoleMode::Stdio) {
            // End of input on standard input: nothing more will be typed.
            g_in_fd = -1;
        }
        return true;
    }
    if (g_mode == ConsoleMode::Stdio) {
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == QUIT_KEY) {
                return false;
            }
        }
    }
    return console_take_typed(buf, static_cast<std::size_t>(n), at);
}

// Fault console-noise: the console transceiver's supply switches at every
// reset and every entry into hibernation, and each switch puts a burst of
// junk on the line toward the host (a framing glitch, bytes that look like
// text and like the start of a record, a line end).  The same bytes every
// time, so runs stay deterministic.
void console_transceiver_switched()
{
    if (!device_faults().console_noise) {
        return;
    }
    static const uint8_t burst[] = {0xFF, 0x00, '~', '#', '0',  '0',  '0',  '0',  '9', '9', '9',
                                    '\t', '1',  '.', '5', 0x1B, '\r', '\n', 0xF8, 'x', 0x80};
    for (uint8_t b : burst) {
        console_output(b);
    }
    console_flush();
}

// --- Output modes -----------------------------------------------------------------------

void console_discard(bool discard)
{
    g_discard = discard;
}

void console_capture(bool capture)
{
    g_capture = capture;
}

std::string& console_captured()
{
    return g_captured;
}

// --- The line -----------------------------------------------------------------------------

void console_type(const uint8_t* data, std::size_t len, Time at)
{
    if (line().free_at < at) {
        line().free_at = at;
    }
    input_push(data, len);
}

std::size_t console_pending()
{
    return input_count();
}

Time console_next_byte_at()
{
    return std::max(now(), line().free_at) + console_byte_time();
}

void console_drop_byte(Time at)
{
    input_pop();
    line().free_at = at;
}

// --- Inside a boot --------------------------------------------------------------------------

void console_boot()
{
    g_attached = true;
    g_delivery_pending = false;
    console_line_boot();
    uart_attach(UART0_BASE, &g_peer);
}

void console_deliver()
{
    if (g_delivery_pending || input_count() == 0 || !g_attached) {
        return;
    }
    Time start = std::max(now(), line().free_at);
    g_delivery_pending = true;
    schedule(start + uart0_byte_time(), [] {
        g_delivery_pending = false;
        uint8_t b = input_pop();
        line().free_at = now();
        int got = console_line_to_board(b);
        if (got >= 0) {
            uart_line_in(UART0_BASE, static_cast<uint8_t>(got));
        }
        console_deliver();
    });
}

void console_boot_end()
{
    if (g_attached) {
        line().baud = static_cast<uint32_t>(10 * NS_PER_S / uart0_byte_time());
    }
}

} // namespace sim
