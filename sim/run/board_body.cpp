// Test bodies in place of the firmware's main().
#include "sim/run/board_body.h"

#include "platform/host/chip.h"

namespace sim {

namespace {

std::function<void()> g_body;

} // namespace

void set_boot_body(std::function<void()> body)
{
    g_body = std::move(body);
}

void run_boot_body()
{
    if (!g_body) {
        return;
    }
    g_body();
    boot_end(BootEnd::Quit);
}

} // namespace sim
