// Analog world model (see analog_world.h).
#include "sim/devices/analog_world.h"

#include "sim/devices/board_services.h"
#include "platform/host/sim_core.h"

#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

constexpr double KELVIN = 273.15;
constexpr double GAS_CONSTANT = 8.31451;
constexpr double FARADAY = 96487.0;
constexpr double THERM_SUPPLY = 3.3;
constexpr double THERM_DIVIDER = 20000.0;
constexpr double IK_SENSE_OHMS = 15000.0;
constexpr double IB_SENSE_OHMS = 1.0e6;

// Bench analog simulator board: fixed voltages in the middle of the board
// QA limits.
constexpr double QA_VRSI = -0.0550;
constexpr double QA_VRSI_B = 0.676;
constexpr double QA_VRSE = -0.7935;
constexpr double QA_VRSE_B = -0.06375;
constexpr double QA_IK = 0.2965; // AIN1 - AIN5 on channel 1
constexpr double QA_VK = -0.4995;
constexpr double QA_IB = -0.397;
constexpr double QA_VB = 0.00105; // AIN5 - AIN6 on channel 2
constexpr double QA_VTHERM = 0.996;
constexpr double QA_BIAS_HALF = 3.60;

// Noise, one standard deviation.
constexpr double NOISE_ELECTRODE_V = 3.0e-6;
constexpr double NOISE_THERM_V = 2.0e-6;
constexpr double NOISE_SMALL_V = 1.5e-6;
constexpr double NOISE_BIAS_V = 20.0e-6;
constexpr double NOISE_QA_V = 2.0e-6;
constexpr double NOISE_CONVERTER_5SPS_V = 0.4e-6; // grows with sqrt(rate)
constexpr double NOISE_ONCHIP_COUNTS = 0.6;

// On-chip converter scaling.
constexpr double VBAT_COUNTS_PER_VOLT = 18193.77 / 100.0;
constexpr double ADC_VOLTS_PER_COUNT = 3.3 / 4096.0;
constexpr double HUMIDITY_COUNTS_PER_PCT = 3284.0 / 100.0;
constexpr double LEAK_COUNTS_PER_PCT = 2596.0 / 100.0;

const std::vector<std::string> k_names = {
    "analog",   "ph",       "temp",     "sal",        "seed",     "noise", "e0int",    "e0ext",     "tcint",
    "tcext",    "therm_c0", "therm_c1", "therm_c2",   "therm_c3", "vk",    "ik",       "ib",        "vsub",
    "bias_pos", "bias_neg", "vbat",     "board_temp", "humidity", "leak",  "pressure", "chip_temp",
};

std::unique_ptr<AnalogWorld> g_world;
std::unique_ptr<Ads1248> g_converter;
uint64_t g_local_noise_state[2];

uint64_t splitmix(uint64_t* s)
{
    uint64_t z = (*s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t clamp_count(double c)
{
    double r = std::floor(c + 0.5);
    if (r < 0) {
        return 0;
    }
    if (r > 4095) {
        return 4095;
    }
    return static_cast<uint32_t>(r);
}

} // namespace

const std::vector<std::string>& analog_param_names()
{
    return k_names;
}

Status analog_params_from(const std::map<std::string, std::string>& params, AnalogParams* out)
{
    AnalogParams p;
    auto number = [&](const char* key, double* dst) -> Status {
        auto it = params.find(key);
        if (it == params.end()) {
            return {};
        }
        char* end = nullptr;
        double v = std::strtod(it->second.c_str(), &end);
        if (end == it->second.c_str() || *end != '\0' || !std::isfinite(v)) {
            return Status::failure(std::string("analog world: ") + key + " needs a number, got \"" +
                                   it->second + "\"");
        }
        *dst = v;
        return {};
    };
    if (auto it = params.find("analog"); it != params.end()) {
        if (it->second == "sensor") {
            p.source = AnalogSource::Sensor;
        } else if (it->second == "qa-sim") {
            p.source = AnalogSource::QaSim;
        } else {
            return Status::failure("analog world: source must be sensor or qa-sim, got \"" + it->second +
                                   "\"");
        }
    }
    if (auto it = params.find("noise"); it != params.end()) {
        if (it->second == "off") {
            p.noise = 0.0;
        } else if (it->second == "on") {
            p.noise = 1.0;
        } else if (Status st = number("noise", &p.noise); !st.ok()) {
            return st;
        } else if (p.noise < 0) {
            return Status::failure("analog world: noise must be on, off or a scale >= 0");
        }
    }
    if (auto it = params.find("o2_sat"); it != params.end()) {
        p.o2_sat_pct = std::strtod(it->second.c_str(), nullptr); // checked by the instruments' options
    }
    double seed = static_cast<double>(p.seed);
    const std::pair<const char*, double*> numbers[] = {
        {"ph", &p.ph},
        {"temp", &p.temp_c},
        {"sal", &p.salinity},
        {"seed", &seed},
        {"e0int", &p.e0int},
        {"e0ext", &p.e0ext},
        {"tcint", &p.tcint},
        {"tcext", &p.tcext},
        {"therm_c0", &p.therm_c0},
        {"therm_c1", &p.therm_c1},
        {"therm_c2", &p.therm_c2},
        {"therm_c3", &p.therm_c3},
        {"vk", &p.vk},
        {"ik", &p.ik_na},
        {"ib", &p.ib_na},
        {"vsub", &p.vsub},
        {"bias_pos", &p.bias_pos},
        {"bias_neg", &p.bias_neg},
        {"vbat", &p.vbat},
        {"board_temp", &p.board_temp_c},
        {"humidity", &p.humidity_pct},
        {"leak", &p.leak_pct},
        {"pressure", &p.pressure_dbar},
        {"chip_temp", &p.chip_temp_c},
    };
    for (const auto& [key, dst] : numbers) {
        if (Status st = number(key, dst); !st.ok()) {
            return st;
        }
    }
    if (seed < 0) {
        return Status::failure("analog world: seed must not be negative");
    }
    p.seed = static_cast<uint64_t>(seed);
    *out = p;
    return {};
}

// --- Physics ------------------------------------------------------------------------

double nernst_slope(double temp_c)
{
    return GAS_CONSTANT * (temp_c + KELVIN) / FARADAY * std::log(10.0);
}

double thermistor_ohms(const AnalogParams& p, double temp_c)
{
    // The same fit and temperature give the same resistance: a conversion
    // asks several times for the same one.
    struct Last {
        double c0, c1, c2, c3, temp_c, ohms;
        bool valid;
    };
    static Last last{};
    if (last.valid && last.c0 == p.therm_c0 && last.c1 == p.therm_c1 && last.c2 == p.therm_c2 &&
        last.c3 == p.therm_c3 && last.temp_c == temp_c) {
        return last.ohms;
    }
    // The sensor's fit T(R) falls monotonically for R below ~500 kOhm;
    // bisect on log R.
    auto t_of = [&](double r) {
        double l = std::log10(r);
        return p.therm_c0 + p.therm_c1 * r + p.therm_c2 * l + p.therm_c3 * l * l * l;
    };
    double lo = std::log(100.0);
    double hi = std::log(500000.0);
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        const double was_lo = lo;
        const double was_hi = hi;
        if (t_of(std::exp(mid)) > temp_c) {
            lo = mid;
        } else {
            hi = mid;
        }
        if (lo == was_lo && hi == was_hi) {
            break; // the bounds no longer move: further steps change nothing
        }
    }
    const double ohms = std::exp(0.5 * (lo + hi));
    last = Last{p.therm_c0, p.therm_c1, p.therm_c2, p.therm_c3, temp_c, ohms, true};
    return ohms;
}

double ionic_strength(double s)
{
    return 19.924 * s / (1000.0 - 1.005 * s);
}

double khso4_free(double temp_c, double s)
{
    double tk = temp_c + KELVIN;
    double z = ionic_strength(s);
    double ln_tk = std::log(tk);
    double ln_k = -4276.1 / tk + 141.328 - 23.093 * ln_tk +
                  (-13856.0 / tk + 324.57 - 47.986 * ln_tk) * std::sqrt(z) +
                  (35474.0 / tk - 771.54 + 114.723 * ln_tk) * z - 2698.0 / tk * std::pow(z, 1.5) +
                  1776.0 / tk * z * z + std::log(1.0 - 0.001005 * s);
    return std::exp(ln_k);
}

double log10_gamma_hcl(double temp_c, double s)
{
    double z = ionic_strength(s);
    double dh = 0.00000343 * temp_c * temp_c + 0.00067524 * temp_c + 0.49172143;
    return 2.0 * (-dh * std::sqrt(z) / (1.0 + 1.394 * std::sqrt(z)) + (0.08885 - 0.000111 * temp_c) * z);
}

namespace {

// External reference cell voltage for water of total-scale pH `ph`.
double vrse_for(const AnalogParams& p, double ph, double temp_c, double s)
{
    double so4_tot = 0.14 / 96.062 * s / 1.80655;
    double m_cl = 0.99889 / 35.453 * s / 1.80655;
    double ph_free = ph + std::log10(1.0 + so4_tot / khso4_free(temp_c, s));
    double eo = p.e0ext + p.tcext * (temp_c - 25.0);
    return eo + nernst_slope(temp_c) * (ph_free - std::log10(m_cl) - log10_gamma_hcl(temp_c, s));
}

} // namespace

// --- World ----------------------------------------------------------------------------

AnalogWorld::AnalogWorld(const AnalogParams& params, uint64_t* noise_state)
    : p(params), noise_state_(noise_state)
{
    // A fresh generator starts from the seed; one carried over from an
    // earlier boot of the run continues.
    if (noise_state_[1] != 1) {
        noise_state_[0] = p.seed;
        noise_state_[1] = 1;
    }
}

double AnalogWorld::gaussian()
{
    // Box-Muller from two uniform draws in (0, 1].
    double u1 = (static_cast<double>(splitmix(noise_state_) >> 11) + 1.0) / 9007199254740993.0;
    double u2 = static_cast<double>(splitmix(noise_state_) >> 11) / 9007199254740992.0;
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

void AnalogWorld::set_scenario(const WaterScenario& w, bool battery)
{
    base_ = p;
    water_ = w;
    water_on_ = w.varies();
    battery_on_ = battery;
}

const AnalogParams& AnalogWorld::current()
{
    if (!water_on_) {
        return p;
    }
    const double t_s = static_cast<double>(now()) / 1e9;
    if (water_on_) {
        const WaterState w = water_at(water_, t_s);
        p.temp_c = w.temp_c;
        p.salinity = w.salinity;
        p.ph = w.ph;
        p.o2_sat_pct = w.o2_sat_pct;
        p.e0int = base_.e0int + drift_int_v(water_, t_s);
        p.e0ext = base_.e0ext + drift_ext_v(water_, t_s);
    }
    return p;
}

double AnalogWorld::vtherm() const
{
    double r = thermistor_ohms(p, p.temp_c);
    return THERM_SUPPLY * r / (r + THERM_DIVIDER);
}

double AnalogWorld::vrsi() const
{
    double eo = p.e0int + p.tcint * (p.temp_c - 25.0);
    return eo + nernst_slope(p.temp_c) * p.ph;
}

double AnalogWorld::vrse() const
{
    return vrse_for(p, p.ph, p.temp_c, p.salinity);
}

double AnalogWorld::vrsi_bias() const
{
    return p.e0int + nernst_slope(25.0) * 7.0;
}

double AnalogWorld::vrse_bias() const
{
    return vrse_for(p, 7.0, 25.0, 35.0);
}

int AnalogWorld::mux_channel(uint8_t gpio_levels)
{
    return static_cast<int>(~gpio_levels & 0x03);
}

double AnalogWorld::mux_a(int chan) const
{
    if (p.source == AnalogSource::QaSim) {
        static const double a[4] = {QA_VRSE, QA_VK, QA_IB, QA_VRSI};
        return a[chan & 3];
    }
    switch (chan & 3) {
    case 0:
        return vrse();
    case 1:
        return p.vk;
    case 2:
        return p.ib_na * 1e-9 * IB_SENSE_OHMS;
    default:
        return vrsi();
    }
}

double AnalogWorld::mux_b(int chan) const
{
    if (p.source == AnalogSource::QaSim) {
        static const double b[4] = {QA_VRSE - QA_VRSE_B, QA_VK - QA_IK, QA_VB, QA_VRSI - QA_VRSI_B};
        return b[chan & 3];
    }
    switch (chan & 3) {
    case 0:
        return vrse_bias();
    case 1:
        return p.vk - p.ik_na * 1e-9 * IK_SENSE_OHMS;
    case 2:
        return p.vsub;
    default:
        return vrsi_bias();
    }
}

double AnalogWorld::node(int ain, uint8_t gpio_levels) const
{
    bool qa = p.source == AnalogSource::QaSim;
    switch (ain) {
    case 0:
        return qa ? QA_VTHERM : vtherm();
    case 1:
        return mux_a(mux_channel(gpio_levels));
    case 5:
        return mux_b(mux_channel(gpio_levels));
    case 7: {
        // Half of the selected bias-battery side through a 1:2 divider;
        // converter GPIO3 selects the positive side.
        bool pos = (gpio_levels & 0x08) != 0;
        double half = qa ? QA_BIAS_HALF : (pos ? p.bias_pos : p.bias_neg);
        return half / 2.0;
    }
    default:
        return 0.0; // AIN6 is the reference node; AIN2..AIN4 are not connected
    }
}

double AnalogWorld::node_noise(int ain) const
{
    if (ain == 6) {
        return 0.0;
    }
    if (p.source == AnalogSource::QaSim) {
        return NOISE_QA_V;
    }
    switch (ain) {
    case 0:
        return NOISE_THERM_V;
    case 1:
        return NOISE_ELECTRODE_V;
    case 7:
        return NOISE_BIAS_V;
    default:
        return NOISE_SMALL_V;
    }
}

double AnalogWorld::differential(int pos, int neg, uint8_t gpio_levels, int sps)
{
    current();
    double v = node(pos, gpio_levels) - node(neg, gpio_levels);
    if (p.noise > 0) {
        double conv = NOISE_CONVERTER_5SPS_V * std::sqrt(sps / 5.0);
        double sigma =
            std::sqrt(node_noise(pos) * node_noise(pos) + node_noise(neg) * node_noise(neg) + conv * conv);
        v += p.noise * sigma * gaussian();
    }
    return v;
}

uint32_t AnalogWorld::onchip_count(int ain)
{
    current();
    bool vbat_mon = gpio_level('M', 6);
    bool env_mon = gpio_level('M', 7);
    double counts = 0.0;
    switch (ain) {
    case 4:
        if (battery_on_) {
            p.vbat = supply_battery_volts(base_.vbat);
        }
        counts = vbat_mon ? p.vbat * VBAT_COUNTS_PER_VOLT : 0.0;
        break;
    case 6: // pressure sensor: 0.5 V + 4 mV per dbar
        counts = env_mon ? (0.5 + 0.004 * p.pressure_dbar) / ADC_VOLTS_PER_COUNT : 0.0;
        break;
    case 10:
        counts = env_mon ? p.humidity_pct * HUMIDITY_COUNTS_PER_PCT : 0.0;
        break;
    case 16:
        counts = env_mon ? p.leak_pct * LEAK_COUNTS_PER_PCT : 0.0;
        break;
    case 17: // 424 mV at 0 degrees C, 6.25 mV per degree, 0.80566 mV per count
        counts = env_mon ? (424.0 + 6.25 * p.board_temp_c) / 0.80566 : 0.0;
        break;
    case -1: // the chip's own temperature sensor
        counts = (147.5 - p.chip_temp_c) * 4096.0 / 247.5;
        break;
    default:
        counts = 0.0;
        break;
    }
    if (p.noise > 0) {
        counts += p.noise * NOISE_ONCHIP_COUNTS * gaussian();
    }
    return clamp_count(counts);
}

// --- Boot --------------------------------------------------------------------------------

void analog_boot()
{
    AnalogParams params;
    if (Status st = analog_params_from(device_params(), &params); !st.ok()) {
        log("%s; using the defaults", st.message().c_str());
        params = AnalogParams{};
    }
    auto* state = static_cast<uint64_t*>(shared_area("analog-noise", 2 * sizeof(uint64_t)));
    if (state == nullptr) {
        state = g_local_noise_state;
    }
    g_converter.reset();
    g_world = std::make_unique<AnalogWorld>(params, state);
    WaterScenario water;
    if (Status st =
            water_from(device_params(),
                       WaterState{params.temp_c, params.salinity, params.ph, params.o2_sat_pct}, &water);
        !st.ok()) {
        log("%s; constant water", st.message().c_str());
        water = WaterScenario{};
    }
    g_world->set_scenario(water, device_params().count("battery_ah") != 0);
    AnalogWorld* world = g_world.get();
    g_converter = std::make_unique<Ads1248>([world](int pos, int neg, uint8_t gpio, int sps) {
        return world->differential(pos, neg, gpio, sps);
    });
    g_converter->attach();
    adc_set_source([world](int ain) { return world->onchip_count(ain); });
}

AnalogWorld& analog_world()
{
    return *g_world;
}
Ads1248& analog_converter()
{
    return *g_converter;
}

} // namespace sim
