// The firmware's debug output channel (platform_debug_write) on the
// simulated board: the text a debugger would read from the chip's trace
// port, appended to the file given with --debug-out ("-" = standard error),
// never to the console.  Without --debug-out it is dropped.  (The command
// line empties the file when the run starts.)
#include "platform/host/board_runner.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

struct DebugShared {
    uint32_t failed; // the file could not be opened (said once per run)
};

int g_fd = -1;
std::string g_path; // file g_fd belongs to

int debug_fd()
{
    auto it = sim::options().params.find("debug_out");
    if (it == sim::options().params.end() || it->second.empty()) {
        return -1;
    }
    if (it->second == "-") {
        return STDERR_FILENO;
    }
    if (g_fd >= 0 && g_path == it->second) {
        return g_fd;
    }
    auto* shared = static_cast<DebugShared*>(sim::shared_area("debug_out", sizeof(DebugShared)));
    if (shared != nullptr && shared->failed != 0) {
        return -1;
    }
    if (g_fd >= 0) {
        close(g_fd);
    }
    g_path = it->second;
    g_fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_fd < 0) {
        sim::log("cannot write the debug output to %s: %s; it is dropped", g_path.c_str(),
                 std::strerror(errno));
        g_path.clear();
        if (shared != nullptr) {
            shared->failed = 1;
        }
    }
    return g_fd;
}

} // namespace

void platform_debug_write(const char* pcText, uint32_t ui32Len)
{
    sim::register_access();
    int fd = debug_fd();
    while (fd >= 0 && ui32Len > 0) {
        ssize_t n = write(fd, pcText, ui32Len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        pcText += n;
        ui32Len -= static_cast<uint32_t>(n);
    }
}
