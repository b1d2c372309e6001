// Faults on the console line.  Each direction counts its bytes from the
// start of the run (over every boot) and draws from its own random stream,
// seeded from --seed, so the same bytes on the line meet the same faults.
#include "sim/devices/console/console_line.h"

#include "sim/devices/board_services.h"
#include "sim/devices/device_param.h"

#include <cstdlib>
#include <map>

namespace sim {

namespace {

struct DirectionFaults {
    double drop = 0;     // probability that a byte is lost
    double flip = 0;     // probability that one bit of a byte is inverted
    uint64_t lose = 0;   // the N-th byte (counted from 1) is lost; 0 = none
    int lose_value = -1; // count only bytes of this value (-1 = every byte)
};

// Kept in the run's shared memory: counts and random streams go on across
// resets.
struct DirectionState {
    uint64_t bytes;   // bytes seen on the line
    uint64_t matches; // bytes that counted towards `lose`
    uint64_t random;  // xorshift state
};
struct LineState {
    uint32_t seeded;
    DirectionState in, out;
};

DirectionFaults g_in_faults;
DirectionFaults g_out_faults;
LineState* g_state = nullptr;

// A probability per byte; a bad value is logged and the fault stays off.
double probability(const std::string& key)
{
    return param_number_or("console line", key, 0, 1, 0);
}

// "N" or "N/HH".
void parse_lose(const std::string& text, DirectionFaults* f)
{
    if (text.empty()) {
        return;
    }
    f->lose = std::strtoull(text.c_str(), nullptr, 10);
    std::size_t slash = text.find('/');
    if (slash != std::string::npos) {
        f->lose_value = static_cast<int>(std::strtol(text.c_str() + slash + 1, nullptr, 16));
    }
}

DirectionFaults faults_of(const char* dir)
{
    const auto& params = device_params();
    std::string prefix = std::string("console_") + dir + "_";
    DirectionFaults f;
    f.drop = probability(prefix + "drop");
    f.flip = probability(prefix + "flip");
    auto it = params.find(prefix + "lose");
    if (it != params.end()) {
        parse_lose(it->second, &f);
    }
    return f;
}

bool active(const DirectionFaults& f)
{
    return f.drop > 0 || f.flip > 0 || f.lose > 0;
}

uint64_t next_random(DirectionState* s)
{
    uint64_t x = s->random;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    s->random = x;
    return x * 0x2545F4914F6CDD1Dull;
}

// A uniform number in [0, 1).
double uniform(DirectionState* s)
{
    return static_cast<double>(next_random(s) >> 11) * (1.0 / 9007199254740992.0);
}

// The byte as it leaves the line: -1 when it is lost.
int apply(const DirectionFaults& f, DirectionState* s, uint8_t byte, const char* towards)
{
    ++s->bytes;
    if (f.lose > 0 && (f.lose_value < 0 || f.lose_value == byte)) {
        if (++s->matches == f.lose) {
            log("console line: byte %llu towards the %s (0x%02X) lost",
                static_cast<unsigned long long>(s->bytes), towards, byte);
            return -1;
        }
    }
    // Both draws are made for every byte, so one fault does not shift the
    // random stream of the other.
    double drop = uniform(s);
    double flip = uniform(s);
    unsigned bit = static_cast<unsigned>(next_random(s) >> 61);
    if (f.drop > 0 && drop < f.drop) {
        log("console line: byte %llu towards the %s (0x%02X) dropped",
            static_cast<unsigned long long>(s->bytes), towards, byte);
        return -1;
    }
    if (f.flip > 0 && flip < f.flip) {
        uint8_t changed = static_cast<uint8_t>(byte ^ (1u << bit));
        log("console line: byte %llu towards the %s: bit %u flipped (0x%02X -> 0x%02X)",
            static_cast<unsigned long long>(s->bytes), towards, bit, byte, changed);
        return changed;
    }
    return byte;
}

LineState* state()
{
    if (g_state == nullptr) {
        g_state = static_cast<LineState*>(shared_area("console_line", sizeof(LineState)));
    }
    if (g_state != nullptr && g_state->seeded == 0) {
        const uint64_t seed = param_count_or("console line", "seed", 0, UINT64_MAX, 1);
        g_state->in.random = (seed * 0x9E3779B97F4A7C15ull) ^ 0x1F2E3D4C5B6A7988ull;
        g_state->out.random = (seed * 0x9E3779B97F4A7C15ull) ^ 0x0123456789ABCDEFull;
        if (g_state->in.random == 0) {
            g_state->in.random = 1;
        }
        if (g_state->out.random == 0) {
            g_state->out.random = 1;
        }
        g_state->seeded = 1;
    }
    return g_state;
}

} // namespace

void console_line_boot()
{
    g_in_faults = faults_of("in");
    g_out_faults = faults_of("out");
    g_state = nullptr;
}

int console_line_to_board(uint8_t byte)
{
    LineState* s = active(g_in_faults) ? state() : nullptr;
    return s == nullptr ? byte : apply(g_in_faults, &s->in, byte, "board");
}

int console_line_to_terminal(uint8_t byte)
{
    LineState* s = active(g_out_faults) ? state() : nullptr;
    return s == nullptr ? byte : apply(g_out_faults, &s->out, byte, "terminal");
}

std::optional<Status> console_fault_option(const std::string& name, const std::string& value, bool has_value,
                                           std::map<std::string, std::string>* params)
{
    std::string dir;
    std::string kind;
    for (const char* d : {"in", "out"}) {
        std::string prefix = std::string("console-") + d + "-";
        if (name.rfind(prefix, 0) == 0) {
            dir = d;
            kind = name.substr(prefix.size());
        }
    }
    if (dir.empty() || (kind != "drop" && kind != "flip" && kind != "lose")) {
        return std::nullopt;
    }
    std::string key = "console_" + dir + "_" + kind;
    if (kind == "lose") {
        std::string count = value.substr(0, value.find('/'));
        std::string byte = value.find('/') == std::string::npos ? "" : value.substr(value.find('/') + 1);
        bool count_ok = !count.empty() && count.size() <= 12 &&
                        count.find_first_not_of("0123456789") == std::string::npos &&
                        std::strtoull(count.c_str(), nullptr, 10) >= 1;
        bool byte_ok = value.find('/') == std::string::npos ||
                       (!byte.empty() && byte.size() <= 2 &&
                        byte.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos);
        if (!has_value || !count_ok || !byte_ok) {
            return Status::failure(
                "--fault " + name + "=N or " + name +
                "=N/HH needs the number of the byte to lose, counted from 1 (with /HH: the N-th byte of hex "
                "value HH), got \"" +
                name + (has_value ? "=" + value : "") + "\"");
        }
    } else {
        char* end = nullptr;
        double p = has_value ? std::strtod(value.c_str(), &end) : -1;
        if (!has_value || value.empty() || end == value.c_str() || *end != '\0' || !(p >= 0 && p <= 1)) {
            return Status::failure("--fault " + name + "=P needs a probability from 0 to 1, got \"" + name +
                                   (has_value ? "=" + value : "") + "\"");
        }
    }
    (*params)[key] = value;
    return Status();
}

} // namespace sim
