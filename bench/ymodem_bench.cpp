// YMODEM throughput at 115200 baud against lrzsz, as a share of the line
// rate, beside lrzsz talking to lrzsz over a link paced the same way.
//
//   ymodem_bench [--size BYTES]     (default: 1 MiB to rb, 1024000 bytes from sb)
//
// The controller runs on the simulator's pty; sb and rb run on pipes that
// this program joins to the pty (as socat would) and watches.  For
// lrzsz-to-lrzsz it joins sb's pipes to rb's itself, delivering one byte
// every ten bit-times in each direction, as the simulated UART does.  The
// data phase is timed from the start of the first 1024-byte block to the
// end of the EOT that follows the last one; the whole transfer from the
// program's start to its end.
#include "tests/card/card_support.h"
#include "tests/files/files_support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

using namespace filestest;

namespace {

constexpr double BAUD = 115200;
constexpr double BYTE_S = 10.0 / BAUD;
constexpr double LINE_BYTES_PER_S = BAUD / 10;

// Follows one direction's blocks: SOH + 132, STX + 1028, EOT.
struct Watch {
    double first_stx = -1;
    double eot = -1;
    std::size_t skip = 0; // bytes left of the current block
    void byte(uint8_t b, double t)
    {
        if (skip > 0) {
            --skip;
            return;
        }
        if (b == 0x01) {
            skip = 132;
        } else if (b == 0x02) {
            skip = 1028;
            if (first_stx < 0) {
                first_stx = t;
            }
        } else if (b == 0x04 && first_stx >= 0) {
            eot = t + BYTE_S;
        }
    }
};

struct Child {
    pid_t pid = -1;
    int fd = -1; // our end of its stdin/stdout socket
};

Child spawn(const std::vector<std::string>& argv, const std::string& cwd)
{
    int sv[2];
    Child c;
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) {
        return c;
    }
    c.pid = fork();
    if (c.pid == 0) {
        dup2(sv[1], STDIN_FILENO);
        dup2(sv[1], STDOUT_FILENO);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        close(sv[0]);
        if (chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(sv[1]);
    c.fd = sv[0];
    return c;
}

struct Queue {
    std::deque<std::pair<uint8_t, double>> bytes; // byte, time it is delivered
    double line_free = 0;
};

// Joins a and b until the child `until` has ended and its output is
// delivered.  Paced: each direction delivers a byte every ten bit-times.
// Watches the direction a -> b (`ab`) and b -> a (`ba`).  Returns the
// child's exit status.
int join(int a, int b, bool paced, pid_t until, Watch* ab, Watch* ba, double limit_s)
{
    Queue qab, qba;
    bool child_done = false;
    int status = -1;
    double end = seconds_now() + limit_s;
    while (seconds_now() < end) {
        double now = seconds_now();
        // Deliver what is due.
        for (auto [q, fd, w] : {std::tuple{&qab, b, ab}, std::tuple{&qba, a, ba}}) {
            std::string out;
            while (!q->bytes.empty() && q->bytes.front().second <= now) {
                out += static_cast<char>(q->bytes.front().first);
                w->byte(q->bytes.front().first, q->bytes.front().second);
                q->bytes.pop_front();
            }
            for (std::size_t done = 0; done < out.size();) {
                ssize_t n = write(fd, out.data() + done, out.size() - done);
                if (n <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
        }
        if (!child_done) {
            int st = 0;
            if (waitpid(until, &st, WNOHANG) == until) {
                child_done = true;
                status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
        }
        if (child_done && qab.bytes.empty() && qba.bytes.empty()) {
            return status;
        }
        // Wait for input or the next delivery.
        double next = now + 0.05;
        for (Queue* q : {&qab, &qba}) {
            if (!q->bytes.empty() && q->bytes.front().second < next) {
                next = q->bytes.front().second;
            }
        }
        struct pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        double wait = next - now;
        struct timespec ts = {static_cast<time_t>(wait),
                              static_cast<long>((wait - static_cast<long>(wait)) * 1e9)};
        if (ppoll(p, 2, &ts, nullptr) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if ((p[i].revents & POLLIN) == 0) {
                continue;
            }
            uint8_t buf[4096];
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                continue;
            }
            Queue* q = i == 0 ? &qab : &qba;
            double t = seconds_now();
            for (ssize_t k = 0; k < n; ++k) {
                double at = t;
                if (paced) {
                    at = std::max(t, q->line_free) + BYTE_S;
                    q->line_free = at;
                }
                q->bytes.emplace_back(buf[k], at);
            }
        }
    }
    return -2;
}

void report(const char* what, std::size_t size, const Watch& w, double total_s, int status)
{
    double data_s = w.eot - w.first_stx;
    std::printf(
        "%-34s %8zu bytes  status %d  data phase %7.2f s = %5.1f %% of the line rate  (whole %6.2f s = %5.1f "
        "%%)\n",
        what, size, status, data_s, 100.0 * static_cast<double>(size) / data_s / LINE_BYTES_PER_S, total_s,
        100.0 * static_cast<double>(size) / total_s / LINE_BYTES_PER_S);
}

// Counts a failed transfer and says what went wrong with it.
int check(const char* what, int status, const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    if (status == 0 && got == want) {
        return 0;
    }
    std::size_t first = 0;
    while (first < got.size() && first < want.size() && got[first] == want[first]) {
        ++first;
    }
    std::printf("%s: status %d, %zu bytes arrived of %zu, first difference at byte %zu\n", what, status,
                got.size(), want.size(), first);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t send_size = 1048576;
    std::size_t receive_size = 1024000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            send_size = receive_size = std::strtoul(argv[++i], nullptr, 10);
        }
    }
    signal(SIGPIPE, SIG_IGN);
    // The simulator's default card (1 GiB, FAT32 with 4 KiB clusters).
    std::string board = new_board("bench", false);
    std::string host = new_host_dir("bench");
    write_bytes(host + "/to.bin", pattern(receive_size));
    write_bytes(host + "/from.bin", pattern(send_size));
    put_on_card(board, host + "/from.bin", "FROM.BIN");
    std::string rx = host + "/rx";
    std::system(("mkdir -p " + q(rx)).c_str());

    int failures = 0;
    {
        ShellSession s(board, {}, 1); // the line at its own rate
        if (!s.in_shell) {
            std::fprintf(stderr, "the simulator did not start: %s\n", s.sim.messages().c_str());
            return 1;
        }
        // sb -> controller.
        s.sim.send("yr\r");
        s.sim.expect("Ymodem rcv:\r\n", 10);
        double start = seconds_now();
        Child sb = spawn({"sb", "-k", "to.bin"}, host);
        Watch to_sim, from_sim;
        int st = join(sb.fd, s.sim.fd(), false, sb.pid, &to_sim, &from_sim, 600);
        report("lrzsz sb -> controller", receive_size, to_sim, seconds_now() - start, st);
        s.sim.expect("Received: to.bin", 30);
        bool found = false;
        failures += check("sb -> controller", st, card_file(board, "TO.BIN", &found), pattern(receive_size));
        s.sim.expect("/> ", 10);

        // controller -> rb.
        s.sim.send("ys FROM.BIN\r");
        s.sim.expect("bytes...\r\n", 10);
        start = seconds_now();
        Child rb = spawn({"rb", "-u", "-y"}, rx);
        Watch to_rb, from_rb;
        st = join(s.sim.fd(), rb.fd, false, rb.pid, &to_rb, &from_rb, 600);
        report("controller -> lrzsz rb", send_size, to_rb, seconds_now() - start, st);
        failures += check("controller -> rb", st, read_bytes(rx + "/FROM.BIN"), pattern(send_size));
        s.sim.expect("Sent: FROM.BIN", 30);
    }

    // sb -> rb over a link paced like the simulated UART.
    std::string rx2 = host + "/rx2";
    std::system(("mkdir -p " + q(rx2)).c_str());
    double start = seconds_now();
    Child rb = spawn({"rb", "-u", "-y"}, rx2);
    Child sb = spawn({"sb", "-k", "from.bin"}, host);
    Watch sb_to_rb, rb_to_sb;
    int st = join(sb.fd, rb.fd, true, rb.pid, &sb_to_rb, &rb_to_sb, 600);
    double whole = seconds_now() - start;
    // sb may still wait for an answer rb no longer gives.
    for (int i = 0; i < 100 && waitpid(sb.pid, nullptr, WNOHANG) == 0; ++i) {
        usleep(50000);
    }
    kill(sb.pid, SIGKILL);
    waitpid(sb.pid, nullptr, 0);
    report("lrzsz sb -> lrzsz rb (paced link)", send_size, sb_to_rb, whole, st);
    failures += check("sb -> rb", st, read_bytes(rx2 + "/from.bin"), pattern(send_size));
    if (failures != 0) {
        std::printf("%d transfer(s) failed or differ\n", failures);
    }
    return failures == 0 ? 0 : 1;
}
