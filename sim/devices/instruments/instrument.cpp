// Instrument model base, options, and the models of a boot.
#include "sim/devices/instruments/instrument.h"

#include "sim/devices/analog_world.h"
#include "sim/devices/board_services.h"

#include <cmath>
#include <cstdlib>

namespace sim {

namespace {

std::unique_ptr<Instrument> g_ctd;
std::unique_ptr<Instrument> g_optode_port;
uint64_t g_local_noise_state;

uint64_t splitmix(uint64_t* s)
{
    uint64_t z = (*s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// The instruments' noise generator: seeded from the world's seed, its state
// kept across resets like the analog world's.
uint64_t* noise_state()
{
    struct State {
        uint64_t seeded;
        uint64_t s;
    };
    auto* st = static_cast<State*>(shared_area("instrument-noise", sizeof(State)));
    if (st == nullptr) {
        return &g_local_noise_state;
    }
    if (st->seeded == 0) {
        st->seeded = 1;
        st->s = analog_world().p.seed ^ 0x1A5C0FFEE0DDF00Dull;
    }
    return &st->s;
}

Status number_in(const std::map<std::string, std::string>& params, const char* key, double lo, double hi,
                 double* out)
{
    auto it = params.find(key);
    if (it == params.end()) {
        return {};
    }
    char* end = nullptr;
    double v = std::strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        return Status::failure(std::string("instruments: ") + key + " needs a number from " +
                               std::to_string(static_cast<long>(lo)) + " to " +
                               std::to_string(static_cast<long>(hi)) + ", got \"" + it->second + "\"");
    }
    *out = v;
    return {};
}

} // namespace

bool instrument_fault_from(const std::string& name, InstrumentFault* out)
{
    static const std::pair<const char*, InstrumentFault> names[] = {
        {"none", InstrumentFault::None},
        {"silent", InstrumentFault::Silent},
        {"no-line-end", InstrumentFault::NoLineEnd},
        {"long-line", InstrumentFault::LongLine},
        {"gap", InstrumentFault::Gap},
        {"garbage", InstrumentFault::Garbage},
        {"wrong-baud", InstrumentFault::WrongBaud},
    };
    for (const auto& [n, f] : names) {
        if (name == n) {
            *out = f;
            return true;
        }
    }
    return false;
}

Status instrument_options_from(const std::map<std::string, std::string>& params, InstrumentOptions* out)
{
    InstrumentOptions o;
    if (auto it = params.find("ctd"); it != params.end()) {
        if (it->second == "sbe37") {
            o.ctd = InstrumentOptions::Ctd::Sbe37;
        } else if (it->second == "aand5860") {
            o.ctd = InstrumentOptions::Ctd::Aand5860;
        } else if (it->second == "none") {
            o.ctd = InstrumentOptions::Ctd::None;
        } else {
            return Status::failure("instruments: the CTD port takes sbe37, aand5860 or none, got \"" +
                                   it->second + "\"");
        }
    }
    if (auto it = params.find("optode_port"); it != params.end()) {
        if (it->second == "optode") {
            o.optode_port = InstrumentOptions::OptodePort::Optode;
        } else if (it->second == "ocr504") {
            o.optode_port = InstrumentOptions::OptodePort::Ocr504;
        } else if (it->second == "none") {
            o.optode_port = InstrumentOptions::OptodePort::None;
        } else {
            return Status::failure("instruments: the optode port takes optode, ocr504 or none, got \"" +
                                   it->second + "\"");
        }
    }
    if (auto it = params.find("aand5860_text"); it != params.end()) {
        if (it->second != "on" && it->second != "off") {
            return Status::failure("instruments: the 5860's descriptor text is on or off, got \"" +
                                   it->second + "\"");
        }
        o.aand5860_text = it->second == "on";
    }
    double ctd_serial = 0;
    double optode_serial = 0;
    if (Status st = number_in(params, "o2_sat", 0, 500, &o.o2_sat_pct); !st.ok()) {
        return st;
    }
    if (Status st = number_in(params, "ctd_serial", 1, 99999, &ctd_serial); !st.ok()) {
        return st;
    }
    if (Status st = number_in(params, "optode_serial", 1, 9999, &optode_serial); !st.ok()) {
        return st;
    }
    o.ctd_serial = static_cast<uint32_t>(ctd_serial);
    o.optode_serial = static_cast<uint32_t>(optode_serial);
    for (const char* key : {"ctd_fault", "optode_fault"}) {
        auto it = params.find(key);
        InstrumentFault* f = key[0] == 'c' ? &o.ctd_fault : &o.optode_fault;
        if (it != params.end() && !instrument_fault_from(it->second, f)) {
            return Status::failure(std::string("instruments: unknown fault \"") + it->second + "\"");
        }
    }
    *out = o;
    return {};
}

uint32_t instrument_baud(uint32_t nominal, InstrumentFault fault)
{
    if (fault != InstrumentFault::WrongBaud) {
        return nominal;
    }
    // A 9600-baud instrument left at 4800; the radiometer at its 9600.
    return nominal == 9600 ? 4800 : 9600;
}

// --- Instrument ------------------------------------------------------------------

Instrument::Instrument(Port port, uint32_t baud, InstrumentFault fault)
    : fault_(fault), port_(port), baud_(baud),
      to_board_([this] { return uart_baud(port_.uart_base); },
                [this](uint8_t b) { uart_line_in(port_.uart_base, b); }),
      from_board_([this] { return powered_ ? baud_ : 0u; }, [this](uint8_t b) { received(b); },
                  // The board reports a byte when its stop bit ends; the
                  // slowest rate a port is set to is 4800 baud.
                  SerialLine::frame_time(4800)),
      generation_(std::make_shared<uint64_t>(0))
{
}

Instrument::~Instrument()
{
    ++*generation_;
}

void Instrument::attach()
{
    uart_attach(port_.uart_base, this);
    gpio_watch(port_.power_port, port_.power_pin, [this](bool level) { power_changed(level); });
    if (gpio_level(port_.power_port, port_.power_pin)) {
        power_changed(true);
    }
}

void Instrument::power_changed(bool on)
{
    if (on == powered_) {
        return;
    }
    ++*generation_;
    powered_ = on;
    txq_.clear();
    tx_busy_ = false;
    to_board_.clear();
    from_board_.clear();
    if (on) {
        power_up();
    }
}

void Instrument::uart_from_board(uint8_t byte)
{
    if (!powered_) {
        return;
    }
    uint32_t board_baud = uart_baud(port_.uart_base);
    if (board_baud == 0) {
        return;
    }
    from_board_.frame(now() - SerialLine::frame_time(board_baud), byte, board_baud);
}

void Instrument::send(const std::string& bytes, Time gap)
{
    if (!powered_) {
        return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        txq_.push_back(Pending{static_cast<uint8_t>(bytes[i]), i == 0 ? gap : 0});
    }
    if (!tx_busy_) {
        transmit_next();
    }
}

void Instrument::transmit_next()
{
    if (txq_.empty()) {
        tx_busy_ = false;
        return;
    }
    tx_busy_ = true;
    Pending p = txq_.front();
    txq_.pop_front();
    auto gen = generation_;
    uint64_t mine = *gen;
    schedule_in(p.gap, [this, gen, mine, p] {
        if (*gen != mine) {
            return;
        }
        to_board_.frame(now(), p.byte, baud_);
        schedule_in(SerialLine::frame_time(baud_), [this, gen, mine] {
            if (*gen == mine) {
                transmit_next();
            }
        });
    });
}

void Instrument::after(Time delay, std::function<void()> fn)
{
    auto gen = generation_;
    uint64_t mine = *gen;
    schedule_in(delay, [gen, mine, fn = std::move(fn)] {
        if (*gen == mine) {
            fn();
        }
    });
}

double Instrument::noise(double sd)
{
    double scale = analog_world().p.noise;
    if (scale == 0 || sd == 0) {
        return 0;
    }
    uint64_t* s = noise_state();
    // Box-Muller from two uniform numbers in (0, 1].
    double u1 = (static_cast<double>(splitmix(s) >> 11) + 1.0) / 9007199254740992.0;
    double u2 = (static_cast<double>(splitmix(s) >> 11) + 1.0) / 9007199254740992.0;
    return sd * scale * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

std::string Instrument::garbage(std::size_t len)
{
    static const char k_chars[] =
        "ABCDEFGHIJKLMNOPQRTUVWXYZabcdefghijklmnopqrstuvwxyz?@&*()[]{}~^_=+|;:'/\\`";
    std::string out;
    uint64_t* s = noise_state();
    for (std::size_t i = 0; i < len; ++i) {
        out.push_back(k_chars[splitmix(s) % (sizeof k_chars - 1)]);
    }
    return out;
}

void Instrument::send_line(const std::string& line, const std::string& end, const std::string& filler,
                           Time gap)
{
    std::string text = line;
    switch (fault_) {
    case InstrumentFault::Garbage:
        text = garbage(line.size());
        break;
    case InstrumentFault::LongLine:
        while (text.size() <= 140) {
            text += filler;
        }
        break;
    default:
        break;
    }
    std::string tail = fault_ == InstrumentFault::NoLineEnd ? std::string() : end;
    if (fault_ == InstrumentFault::Gap) {
        std::size_t half = text.size() / 2;
        send(text.substr(0, half), gap);
        send(text.substr(half) + tail, 50 * NS_PER_MS);
        return;
    }
    send(text + tail, gap);
}

// --- The models of a boot ---------------------------------------------------------

void instruments_boot()
{
    g_ctd.reset();
    g_optode_port.reset();
    InstrumentOptions o;
    if (Status st = instrument_options_from(device_params(), &o); !st.ok()) {
        log("%s; no instruments on the ports", st.message().c_str());
        return;
    }
    switch (o.ctd) {
    case InstrumentOptions::Ctd::Sbe37:
        g_ctd = make_sbe37(o);
        break;
    case InstrumentOptions::Ctd::Aand5860:
        g_ctd = make_aand5860(o);
        break;
    case InstrumentOptions::Ctd::None:
        break;
    }
    switch (o.optode_port) {
    case InstrumentOptions::OptodePort::Optode:
        g_optode_port = make_optode(o);
        break;
    case InstrumentOptions::OptodePort::Ocr504:
        g_optode_port = make_ocr504(o);
        break;
    case InstrumentOptions::OptodePort::None:
        break;
    }
    if (g_ctd) {
        g_ctd->attach();
    }
    if (g_optode_port) {
        g_optode_port->attach();
    }
}

Instrument* ctd_instrument()
{
    return g_ctd.get();
}

Instrument* optode_port_instrument()
{
    return g_optode_port.get();
}

} // namespace sim
