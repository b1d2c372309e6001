// Entries of the timed input script as events of the run.
#include "sim/run/timed_input.h"

#include "platform/host/chip.h"
#include "sim/devices/console/console.h"
#include "sim/run/boot.h"
#include "sim/run/run_state.h"

namespace sim {

void timed_input_boot()
{
    if (run_shared().script_next >= run().script.entries.size()) {
        return;
    }
    const ScriptEntry& e = run().script.entries[run_shared().script_next];
    schedule(e.at, [] {
        const ScriptEntry& entry = run().script.entries[run_shared().script_next];
        run_shared().script_next++;
        switch (entry.kind) {
        case ScriptEntry::Kind::Type:
            console_type(reinterpret_cast<const uint8_t*>(entry.text.data()), entry.text.size(), now());
            console_deliver();
            break;
        case ScriptEntry::Kind::Reset:
            boot_end(BootEnd::ResetButton);
        case ScriptEntry::Kind::PowerCycle:
            boot_end(BootEnd::PowerCycle);
        case ScriptEntry::Kind::Fault:
            boot_hard_fault();
            break;
        }
        timed_input_boot();
    });
}

Time timed_input_next_at()
{
    if (run_shared().script_next >= run().script.entries.size()) {
        return TIME_NEVER;
    }
    return run().script.entries[run_shared().script_next].at;
}

const ScriptEntry& timed_input_take()
{
    return run().script.entries[run_shared().script_next++];
}

} // namespace sim
