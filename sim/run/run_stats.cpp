// The run's statistics.
#include "sim/run/run_stats.h"

#include "platform/host/chip.h"
#include "platform/host/host_periph.h"
#include "records/i2c_fram.h"
#include "records/system_data.h"
#include "sim/devices/board_services.h"
#include "sim/devices/device_counters.h"
#include "sim/run/energy.h"
#include "records/system.h"

#include <cinttypes>
#include <cstddef>
#include <cstring>
#include <vector>

namespace sim {

namespace {

// The board's switched supplies and the sampling indicator, by the line
// that switches each (board/board_util.cpp); "PG3_PWM" is the solenoid
// line while PWM module 1 drives it, weighted by its duty.
struct SupplyLine {
    const char* key;
    std::string_view line; // compared at every line change: its length is known
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
    {"led_green", "PE3"},
    {"optode_port", "PL2"},
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
    int32_t state_at_start; // the progress record's deployment state as the boot started
    bool low_battery_end;   // a boot ended the deployment through the low-battery check
    Time low_battery_end_at;
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
bool stored_sample_count(uint32_t* count, int32_t* state = nullptr)
{
    const uint8_t* fram = fram_image();
    if (fram == nullptr) {
        return false;
    }
    systemSamplingData rec;
    std::memcpy(&rec, fram + FRAM_SYS_SAMP_OFFSET, sizeof rec);
    *count = rec.current_sample;
    if (state != nullptr) {
        *state = rec.state;
    }
    return rec.initNum == SYS_SAMP_INIT_NUM;
}

// The stored low-battery threshold (volts); 0 when there is no EEPROM.
double stored_low_battery_volts()
{
    const uint8_t* eeprom = eeprom_image();
    static_assert(offsetof(systemData, low_batt_volt) + sizeof(float) <= SYS_DATA_HEAD_BYTES);
    if (eeprom == nullptr) {
        return 0.0;
    }
    float v = 0;
    std::memcpy(&v, eeprom + SYS_DATA_EEPROM_ADDR + offsetof(systemData, low_batt_volt), sizeof v);
    return static_cast<double>(v);
}

// On-time of line i up to `t` (a line still on counts until `t`).
Time line_on_ns(const Stats& s, std::size_t i, Time t)
{
    const LineState& l = s.lines[i];
    Time on = l.on_ns;
    if (l.permille > 0 && t > l.since) {
        on += (t - l.since) * static_cast<Time>(l.permille) / 1000;
    }
    return on;
}

struct ChargeItem {
    std::string key;
    double ma;   // current while on
    double on_s; // seconds on
    double mAh() const { return ma * on_s / 3600.0; }
};

// What the run drew up to `t`, item by item: every supply line, the
// instruments (while their port's supply is on), the processor awake and
// hibernating, the card's sector transfers.
std::vector<ChargeItem> charge_items(const Stats& s, Time t)
{
    const PowerTable& pt = run_power_table();
    std::vector<ChargeItem> v;
    double ctd_on_s = 0, optode_on_s = 0;
    for (std::size_t i = 0; i < SUPPLY_COUNT; ++i) {
        const double on_s = static_cast<double>(line_on_ns(s, i, t)) / 1e9;
        v.push_back({SUPPLIES[i].key, pt.get(SUPPLIES[i].key), on_s});
        if (std::strcmp(SUPPLIES[i].key, "ctd") == 0) {
            ctd_on_s = on_s;
        } else if (std::strcmp(SUPPLIES[i].key, "optode_port") == 0) {
            optode_on_s = on_s;
        }
    }
    const auto& params = device_params();
    auto fitted = [&](const char* port, const char* kind) {
        auto it = params.find(port);
        return it != params.end() && it->second == kind;
    };
    for (const char* kind : {"sbe37", "aand5860"}) {
        v.push_back({kind, pt.get(kind), fitted("ctd", kind) ? ctd_on_s : 0.0});
    }
    for (const char* kind : {"optode", "ocr504"}) {
        v.push_back({kind, pt.get(kind), fitted("optode_port", kind) ? optode_on_s : 0.0});
    }
    Time awake = s.awake_ns + (s.in_boot && t > s.boot_started_at ? t - s.boot_started_at : 0);
    v.push_back({"mcu_run", pt.get("mcu_run"), static_cast<double>(awake) / 1e9});
    v.push_back({"mcu_hibernate", pt.get("mcu_hibernate"), static_cast<double>(t - awake) / 1e9});
    const DeviceCounters& c = device_counters();
    const double reads = static_cast<double>(c.card_sector_reads - s.devices_at_start.card_sector_reads);
    const double writes = static_cast<double>(c.card_sector_writes - s.devices_at_start.card_sector_writes);
    v.push_back({"card_read", pt.get("card_read"), reads * pt.get("card_read_ms") / 1000.0});
    v.push_back({"card_write", pt.get("card_write"), writes * pt.get("card_write_ms") / 1000.0});
    return v;
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

// A text as a JSON string's contents.
std::string json_text(const std::string& s)
{
    std::string o;
    for (char c : s) {
        if (c == '"' || c == '\\') {
            o += '\\';
        }
        o += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return o;
}

// Charge (mAh) and energy (J, at the fresh supply voltage) of each item
// and in total: over the run, per sample and per simulated day.
void write_energy(std::FILE* f, const Stats& s)
{
    const Time t = now();
    const std::vector<ChargeItem> items = charge_items(s, t);
    const double volts = run_fresh_volts();
    const double days = static_cast<double>(t) / 1e9 / 86400.0;
    const double samples = static_cast<double>(s.samples);
    auto figures = [&](double mAh) {
        const double joules = mAh * 3.6 * volts;
        std::fprintf(f,
                     "\"mAh\": %.9f, \"J\": %.6f, \"mAh_per_sample\": %.9f, \"J_per_sample\": %.6f, "
                     "\"mAh_per_day\": %.9f, \"J_per_day\": %.6f}",
                     mAh, joules, samples > 0 ? mAh / samples : 0.0, samples > 0 ? joules / samples : 0.0,
                     days > 0 ? mAh / days : 0.0, days > 0 ? joules / days : 0.0);
    };
    std::fprintf(f, "  \"energy\": {\n    \"supply_V\": %.3f,\n    \"items\": {", volts);
    double total = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ChargeItem& c = items[i];
        std::fprintf(f, "%s\n      \"%s\": {\"mA\": %.4f, \"on_s\": %.6f, ", i == 0 ? "" : ",", c.key.c_str(),
                     c.ma, c.on_s);
        figures(c.mAh());
        total += c.mAh();
    }
    std::fprintf(f, "\n    },\n    \"total\": {");
    figures(total);
    std::fprintf(f, "\n  }");
    const Battery& b = run_battery();
    if (b.present()) {
        const double to_low = b.mAh_to(stored_low_battery_volts(), volts);
        std::fprintf(f,
                     ",\n  \"battery\": {\"capacity_mAh\": %.3f, \"curve\": \"%s\", \"drawn_mAh\": %.6f, "
                     "\"volts\": %.4f, \"low_battery_volts\": %.3f, \"mAh_to_low_battery\": %.4f, "
                     "\"low_battery_end\": %s",
                     b.capacity_mAh, json_text(b.curve_name).c_str(), total, b.volts_after(total, volts),
                     stored_low_battery_volts(), to_low, s.low_battery_end ? "true" : "false");
        if (s.low_battery_end) {
            std::fprintf(f, ", \"low_battery_end_s\": ");
            seconds(f, s.low_battery_end_at);
        }
        std::fprintf(f, "}");
    }
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
    s.state_at_start = -1;
    s.sample_count_valid = stored_sample_count(&s.sample_count_at_start, &s.state_at_start);
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
    int32_t state = -1;
    const bool valid = stored_sample_count(&count, &state);
    if (s.sample_count_valid && valid && count > s.sample_count_at_start) {
        s.samples += count - s.sample_count_at_start;
    }
    // The deployment ended in this boot with the supply below the
    // threshold: the firmware's low-battery check ended it (the only other
    // way out, "stop" at a console wake, does not happen on a low supply
    // in a simulation with a battery).
    if (!s.low_battery_end && run_battery().present() && valid && s.state_at_start == DEPLOYED &&
        state == IDLE && supply_battery_volts(run_fresh_volts()) < stored_low_battery_volts() + 0.005) {
        s.low_battery_end = true;
        s.low_battery_end_at = t;
    }
    // Every supply is off while the processor is off or hibernating.
    for (LineState& l : s.lines) {
        close_line(l, t);
        l.permille = 0;
    }
}

void stats_line(std::string_view name, int value)
{
    for (std::size_t i = 0; i < SUPPLY_COUNT; ++i) {
        if (name == SUPPLIES[i].line) {
            LineState& l = stats().lines[i];
            close_line(l, now());
            const bool pwm = name.size() > 4 && name.ends_with("_PWM");
            l.permille = pwm ? (value > 0 ? (value > 1000 ? 1000 : value) : 0) : (value != 0 ? 1000 : 0);
            return;
        }
    }
}

double stats_charge_mAh_now()
{
    double mAh = 0;
    for (const ChargeItem& c : charge_items(stats(), now())) {
        mAh += c.mAh();
    }
    return mAh;
}

bool stats_low_battery_end()
{
    return stats().low_battery_end;
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
    std::fprintf(f, "  \"fram_bytes_written\": %" PRIu64 ",\n",
                 c.fram_bytes_written - s.devices_at_start.fram_bytes_written);
    write_energy(f, s);
    std::fprintf(f, "\n}\n");
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

} // namespace sim
