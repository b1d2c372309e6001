// Timed input scripts of the simulator.
//
// One entry per line; blank lines and lines starting with '#' are ignored.
// An entry is "DELAY TEXT": DELAY in seconds after the previous entry (after
// the start for the first), decimals allowed, with an optional unit ms, s, m
// or h; one space; TEXT the bytes to type, with the escapes \r \n \t \\ and
// \xHH.  TEXT beginning with '!' is a board event: !reset, !powercycle,
// !fault.
#pragma once

#include "platform/host/sim_core.h"
#include "tools/common/status.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using varve::Status;

struct ScriptEntry {
    enum class Kind { Type, Reset, PowerCycle, Fault };
    Time at = 0; // run time of the entry
    Kind kind = Kind::Type;
    std::string text;
};

struct Script {
    std::vector<ScriptEntry> entries;
};

Status parse_script(const std::string& text, Script* out);
Status load_script_file(const std::string& path, Script* out);

// "YYYY-MM-DD HH:MM:SS" (console time, local) -> RTC count (seconds since
// 1900 plus the zone offset).  Empty text takes the host's clock.
Status rtc_from_text(const std::string& text, uint32_t* rtc);

} // namespace sim
