// The run's statistics.
#include "sim/run/run_stats.h"

#include "platform/host/chip.h"
#include "platform/host/host_periph.h"
#include "records/i2c_fram.h"
#include "records/system_data.h"
#include "sim/devices/board_services.h"
#include "sim/devices/device_counters.h"

#include <cinttypes>
#include <cstddef>
#include <cstring>

namespace sim {

namespace {

// The board's switched supplies and the sampling indicator, by the line
// that switches each (board/board_util.cpp); "PG3_PWM" is the solenoid
// line while PWM module 1 drives it, weighted by its duty.
struct SupplyLine {
    const char* key;
    const char* line;
};
constexpr SupplyLine SUPPLIES[] = {
    {"iso", "PK2"},
    {"env_mon", "PM7"},
    {"vbat_mon", "PM6"},
    {"ctd", "PD0"},
    {"aux_pwr1_pump1", "PD1"},
    {"aux_pwr2_pump2", "PD2"},
    {"aux_pwr3", "PD3"},
    {"solenoid_pg1", "PG1"},
    {"solenoid_pg3", "PG3"},
    {"solenoid_pg3_pwm", "PG3_PWM"},
    {"pressure", "PM5"},
    {"sampling_led", "PP2"},
};
constexpr std::size_t SUPPLY_COUNT = sizeof SUPPLIES / sizeof SUPPLIES[0];

struct LineState {
    int32_t permille; // 0 off, 1000 on, a PWM duty in between
    Time since;       // when it last changed
    Time on_ns;       // on-time, weighted by the duty
};

struct Stats {
    uint64_t boots[BOOT_CAUSES];
    uint64_t boot_count;
    Time boot_started_at;
    bool in_boot;
    Time awake_ns;
    Time awake_min_ns;
    Time awake_max_ns;
    uint64_t samples;
    bool sample_count_valid; // the progress record was valid as the boot started
    uint32_t sample_count_at_start;
    LineState lines[SUPPLY_COUNT];
    // The counters as the run started.
    DeviceCounters devices_at_start;
    uint64_t eeprom_words_at_start;
};

Stats& stats()
{
    void* p = shared_area("run_stats", sizeof(Stats));
    static Stats discard;
    return p != nullptr ? *static_cast<Stats*>(p) : discard;
}

// The progress record's sample counter as the FRAM holds it; false when the
// record is not valid.
bool stored_sample_count(uint32_t* count)
{
    const uint8_t* fram = fram_image();
    if (fram == nullptr) {
        return false;
    }
    systemSamplingData rec;
    std::memcpy(&rec, fram + FRAM_SYS_SAMP_OFFSET, sizeof rec);
    *count = rec.current_sample;
    return rec.initNum == SYS_SAMP_INIT_NUM;
}

void close_line(LineState& l, Time t)
{
    if (l.permille > 0 && t > l.since) {
        l.on_ns += (t - l.since) * static_cast<Time>(l.permille) / 1000;
    }
    l.since = t;
}

void seconds(std::FILE* f, Time ns)
{
    std::fprintf(f, "%" PRIu64 ".%09" PRIu64, ns / NS_PER_S, ns % NS_PER_S);
}

} // namespace

void stats_run_started()
{
    Stats& s = stats();
    s = Stats{};
    s.devices_at_start = device_counters();
    s.eeprom_words_at_start = eeprom_words_programmed();
}

void stats_boot_started(BootCause why)
{
    Stats& s = stats();
    s.boots[static_cast<int>(why)]++;
    s.boot_count++;
    s.boot_started_at = now();
    s.in_boot = true;
    s.sample_count_valid = stored_sample_count(&s.sample_count_at_start);
}

void stats_boot_ended()
{
    Stats& s = stats();
    if (!s.in_boot) {
        return;
    }
    s.in_boot = false;
    const Time t = now();
    const Time awake = t - s.boot_started_at;
    s.awake_ns += awake;
    if (s.boot_count == 1 || awake < s.awake_min_ns) {
        s.awake_min_ns = awake;
    }
    if (awake > s.awake_max_ns) {
        s.awake_max_ns = awake;
    }
    // Samples: what the boot added to the stored sample counter (a
    // deployment start sets it back to 0; that counts nothing).
    uint32_t count = 0;
    if (s.sample_count_valid && stored_sample_count(&count) && count > s.sample_count_at_start) {
        s.samples += count - s.sample_count_at_start;
    }
    // Every supply is off while the processor is off or hibernating.
    for (LineState& l : s.lines) {
        close_line(l, t);
        l.permille = 0;
    }
}

void stats_line(const std::string& name, int value)
{
    for (std::size_t i = 0; i < SUPPLY_COUNT; ++i) {
        if (name == SUPPLIES[i].line) {
            LineState& l = stats().lines[i];
            close_line(l, now());
            const bool pwm = name.size() > 4 && name.compare(name.size() - 4, 4, "_PWM") == 0;
            l.permille = pwm ? (value > 0 ? (value > 1000 ? 1000 : value) : 0) : (value != 0 ? 1000 : 0);
            return;
        }
    }
}

bool stats_write(std::FILE* f, double host_seconds)
{
    const Stats& s = stats();
    const DeviceCounters& c = device_counters();
    static const char* const CAUSE_KEYS[BOOT_CAUSES] = {"power_on", "rtc", "pin", "reset", "software_reset"};
    std::fprintf(f, "{\n  \"simulated_s\": ");
    seconds(f, now());
    std::fprintf(f, ",\n  \"host_s\": %.3f,\n", host_seconds);
    std::fprintf(f, "  \"boots\": {\"total\": %" PRIu64, s.boot_count);
    for (int i = 0; i < BOOT_CAUSES; ++i) {
        std::fprintf(f, ", \"%s\": %" PRIu64, CAUSE_KEYS[i], s.boots[i]);
    }
    std::fprintf(f, "},\n  \"samples\": %" PRIu64 ",\n", s.samples);
    std::fprintf(f, "  \"awake_s\": {\"total\": ");
    seconds(f, s.awake_ns);
    std::fprintf(f, ", \"per_boot_min\": ");
    seconds(f, s.boot_count != 0 ? s.awake_min_ns : 0);
    std::fprintf(f, ", \"per_boot_mean\": ");
    seconds(f, s.boot_count != 0 ? s.awake_ns / s.boot_count : 0);
    std::fprintf(f, ", \"per_boot_max\": ");
    seconds(f, s.awake_max_ns);
    std::fprintf(f, "},\n  \"supply_on_s\": {");
    for (std::size_t i = 0; i < SUPPLY_COUNT; ++i) {
        std::fprintf(f, "%s\n    \"%s\": ", i == 0 ? "" : ",", SUPPLIES[i].key);
        seconds(f, s.lines[i].on_ns);
    }
    std::fprintf(f, "\n  },\n");
    std::fprintf(f, "  \"card_sector_reads\": %" PRIu64 ",\n  \"card_sector_writes\": %" PRIu64 ",\n",
                 c.card_sector_reads - s.devices_at_start.card_sector_reads,
                 c.card_sector_writes - s.devices_at_start.card_sector_writes);
    std::fprintf(f, "  \"eeprom_words_programmed\": %" PRIu64 ",\n",
                 eeprom_words_programmed() - s.eeprom_words_at_start);
    std::fprintf(f, "  \"fram_bytes_written\": %" PRIu64 "\n}\n",
                 c.fram_bytes_written - s.devices_at_start.fram_bytes_written);
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

} // namespace sim
