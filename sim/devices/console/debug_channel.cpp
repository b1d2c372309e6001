// The debug probe on the chip's trace port: the firmware's debug output
// (platform_debug_write), the text a debugger would read from the trace
// port, appended to the file given with --debug-out ("-" = standard error),
// never to the console.  Without --debug-out it is dropped.  (The command
// line empties the file when the run starts.)
#include "sim/devices/console/debug_channel.h"

#include "platform/host/host_periph.h"
#include "sim/devices/board_services.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace sim {

namespace {

struct DebugShared {
    uint32_t failed; // the file could not be opened (said once per run)
};

int g_fd = -1;
std::string g_path; // file g_fd belongs to

int debug_fd()
{
    auto it = device_params().find("debug_out");
    if (it == device_params().end() || it->second.empty()) {
        return -1;
    }
    if (it->second == "-") {
        return STDERR_FILENO;
    }
    if (g_fd >= 0 && g_path == it->second) {
        return g_fd;
    }
    auto* shared = static_cast<DebugShared*>(shared_area("debug_out", sizeof(DebugShared)));
    if (shared != nullptr && shared->failed != 0) {
        return -1;
    }
    if (g_fd >= 0) {
        close(g_fd);
    }
    g_path = it->second;
    g_fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (g_fd < 0) {
        log("cannot write the debug output to %s: %s; it is dropped", g_path.c_str(), std::strerror(errno));
        g_path.clear();
        if (shared != nullptr) {
            shared->failed = 1;
        }
    }
    return g_fd;
}

struct DebugProbe : TracePeer {
    void trace_write(const char* text, uint32_t len) override
    {
        int fd = debug_fd();
        while (fd >= 0 && len > 0) {
            ssize_t n = write(fd, text, len);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            text += n;
            len -= static_cast<uint32_t>(n);
        }
    }
};
DebugProbe g_probe;

} // namespace

void debug_probe_boot()
{
    trace_attach(&g_probe);
}

} // namespace sim
