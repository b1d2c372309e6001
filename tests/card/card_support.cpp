#include "tests/card/card_support.h"

#include "sim/run/board_body.h"
#include "sim/run/run_board.h"
#include "board/board_util.h"
#include "board/init_TM4C123GH6PGE_144pin.h"
#include "storage/diskio.h"
#include "platform/platform.h"
#include "tests/support/harness.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <cstring>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cardtest {

namespace {

// Board folders of the card tests hold 1 GiB sparse images: removed when
// the tests end.
std::vector<std::string> g_boards;

class RemoveBoards : public ::testing::Environment {
  public:
    void TearDown() override
    {
        for (const std::string& dir : g_boards) {
            std::string cmd = "rm -rf '" + dir + "' '" + dir + ".transcript'";
            if (std::system(cmd.c_str()) != 0) {
                std::fprintf(stderr, "could not remove %s\n", dir.c_str());
            }
        }
    }
};

const auto* g_env = ::testing::AddGlobalTestEnvironment(new RemoveBoards);

} // namespace

std::string board_dir(const std::string& name)
{
    std::string dir = test::fresh_board_dir(name);
    g_boards.push_back(dir);
    return dir;
}

void note(Report& r, const char* fmt, ...)
{
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (n < 0) {
        return;
    }
    std::size_t len = std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1);
    if (r.len + len + 1 < sizeof r.text) {
        std::memcpy(r.text + r.len, line, len);
        r.len += len;
        r.text[r.len++] = '\n';
        r.text[r.len] = '\0';
    }
}

BodyRun run_body(const std::string& name, const std::map<std::string, std::string>& params,
                 const std::function<void(Report&)>& body, double until_s)
{
    return run_body_in(board_dir(name), params, body, until_s);
}

BodyRun run_body_in(const std::string& board, const std::map<std::string, std::string>& params,
                    const std::function<void(Report&)>& body, double until_s)
{
    void* mem = mmap(nullptr, sizeof(Report), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* report = static_cast<Report*>(mem);
    std::memset(report, 0, sizeof(Report));
    BodyRun run;
    run.board = board;
    run.image = run.board + "/card.img";
    sim::RunOptions opts;
    opts.board_dir = run.board;
    opts.console = sim::ConsoleMode::None;
    opts.pace = false;
    opts.blank = true;
    opts.start = "2026-01-15 12:00:00";
    opts.until_s = until_s;
    opts.transcript_file = run.board + ".transcript";
    opts.params = params;
    sim::set_boot_body([report, &body] {
        report->boots++;
        body(*report);
    });
    run.status = sim::run_board(opts);
    sim::set_boot_body({});
    run.report.assign(report->text, report->len);
    auto console = test::read_file(run.board + ".transcript");
    run.console.assign(console.begin(), console.end());
    run.boots = report->boots;
    munmap(mem, sizeof(Report));
    return run;
}

void start_board_with_console()
{
    init_TM4C123GH6PGE_144pin();
    start_board();
}

void start_board()
{
    SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
    SysTickPeriodSet(SysCtlClockGet() / 1000);
    board_set_tick_10ms_hook(disk_timerproc);
    SysTickEnable();
    SysTickIntEnable();
    IntMasterEnable();
}

uint32_t rtc_count(int year, unsigned month, unsigned day, int h, int m, int s)
{
    using namespace std::chrono;
    auto days = sys_days{std::chrono::year{year} / month / day} - sys_days{std::chrono::year{1900} / 1 / 1};
    return static_cast<uint32_t>(days.count() * 86400LL + h * 3600 + m * 60 + s);
}

std::vector<uint8_t> read_sectors(const std::string& image, uint64_t sector, unsigned count)
{
    std::vector<uint8_t> data(count * 512u, 0);
    int fd = open(image.c_str(), O_RDONLY);
    if (fd >= 0) {
        ssize_t n = pread(fd, data.data(), data.size(), static_cast<off_t>(sector * 512));
        (void)n;
        close(fd);
    }
    return data;
}

Cmd sh(const std::string& cmd)
{
    Cmd r{-1, ""};
    std::string full = "MTOOLS_SKIP_CHECK=1 " + cmd + " 2>&1";
    FILE* p = popen(full.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    int status = pclose(p);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Cmd card(const std::string& args)
{
    return sh(std::string(VARVE_SIM_BIN) + " card " + args);
}

std::string mimg(const std::string& image)
{
    return "-i '" + image + "@@1M'";
}

} // namespace cardtest
