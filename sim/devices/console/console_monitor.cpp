#include "sim/devices/console/console_monitor.h"

#include "sim/devices/console/console.h"

namespace sim {

namespace {

bool (*g_handler)(uint8_t) = nullptr;
bool g_escaped = false; // the monitor key came; the next byte is a command

} // namespace

void console_set_monitor(bool (*handler)(uint8_t command))
{
    g_handler = handler;
    g_escaped = false;
}

bool console_take_typed(const uint8_t* data, std::size_t len, Time at)
{
    if (g_handler == nullptr) {
        console_type(data, len, at);
        return true;
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i < len; ++i) {
        if (g_escaped) {
            g_escaped = false;
            if (data[i] == MONITOR_KEY) {
                continue; // typed as it is, with the bytes that follow
            }
            from = i + 1;
            if (!g_handler(data[i])) {
                return false;
            }
        } else if (data[i] == MONITOR_KEY) {
            console_type(data + from, i - from, at);
            g_escaped = true;
            from = i + 1;
        }
    }
    console_type(data + from, len - from, at);
    return true;
}

} // namespace sim
