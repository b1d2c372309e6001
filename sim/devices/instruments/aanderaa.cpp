// Aanderaa smart sensors in smart-sensor terminal mode, polled: the 5860
// conductivity sensor and the oxygen optode.  At power-up the sensor sends
// '%'; a CR LF within its communication time-out is answered with '!' and
// the sensor then
// takes commands, one per line.  "do sample" is answered, after the
// measurement, with one tab-separated line and CR LF, then the '#' prompt.
// No echo.  "set enable text(yes|no)" switches the descriptor text (the
// "MEASUREMENT ..." form) for as long as the sensor stays powered.
#include "sim/devices/analog_world.h"
#include "sim/devices/instruments/instrument.h"
#include "sim/devices/instruments/seawater.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr Time BANG_DELAY = 4 * NS_PER_MS;
// Communication time-out after the '%' (the sensor's shortest setting other
// than always on): a controller that serves another instrument first still
// finds it listening.
constexpr Time HANDSHAKE_WINDOW = 10 * NS_PER_S;
constexpr Time PROMPT_DELAY = 3 * NS_PER_MS;

class SmartSensor : public Instrument {
  public:
    struct Timing {
        Time boot;    // power-up to '%'
        Time measure; // "do sample" to the reply
    };
    SmartSensor(Port port, InstrumentFault fault, Timing timing, bool text)
        : Instrument(port, instrument_baud(9600, fault), fault), timing_(timing), text_default_(text)
    {
    }

  protected:
    // The reply line to "do sample" (without its CR LF), and what a long
    // line repeats at its end.
    virtual std::string sample_line(bool text) = 0;
    virtual std::string long_line_filler() = 0;

  private:
    enum class Mode { Booting, Handshake, Passive, Command, Measuring };

    void power_up() override
    {
        mode_ = Mode::Booting;
        text_ = text_default_;
        line_.clear();
        last_cr_ = false;
        if (fault_ == InstrumentFault::Silent) {
            return;
        }
        after(timing_.boot, [this] {
            send("%");
            mode_ = Mode::Handshake;
            after(HANDSHAKE_WINDOW, [this] {
                if (mode_ == Mode::Handshake) {
                    mode_ = Mode::Passive; // no CR LF: the sensor stays in its own mode
                }
            });
        });
    }

    void received(uint8_t byte) override
    {
        switch (mode_) {
        case Mode::Booting:
        case Mode::Passive:
        case Mode::Measuring:
            return;
        case Mode::Handshake:
            if (byte == '\n' && last_cr_) {
                mode_ = Mode::Command;
                after(BANG_DELAY, [this] { send("!"); });
            }
            last_cr_ = byte == '\r';
            return;
        case Mode::Command:
            break;
        }
        if (byte == '\r' || byte == '\n') {
            if (!line_.empty()) {
                std::string command = line_;
                line_.clear();
                run(command);
            }
            return;
        }
        if (byte != '\0' && line_.size() < 80) {
            line_.push_back(static_cast<char>(std::tolower(byte)));
        }
    }

    void run(const std::string& command)
    {
        if (command == "do sample") {
            mode_ = Mode::Measuring;
            after(timing_.measure, [this] {
                send_line(sample_line(text_), "\r\n", long_line_filler());
                send("#", PROMPT_DELAY);
                mode_ = Mode::Command;
            });
        } else if (command == "set enable text(yes)" || command == "set enable text(1)") {
            text_ = true;
            send("#", PROMPT_DELAY);
        } else if (command == "set enable text(no)" || command == "set enable text(0)") {
            text_ = false;
            send("#", PROMPT_DELAY);
        } else {
            send("#", PROMPT_DELAY);
        }
    }

    Timing timing_;
    bool text_default_;
    bool text_ = false;
    Mode mode_ = Mode::Booting;
    std::string line_;
    bool last_cr_ = false;
};

class Aand5860 : public SmartSensor {
  public:
    explicit Aand5860(const InstrumentOptions& o)
        : SmartSensor(CTD_PORT, o.ctd_fault, Timing{450 * NS_PER_MS, 700 * NS_PER_MS}, o.aand5860_text),
          serial_(o.ctd_serial != 0 ? o.ctd_serial : 29)
    {
    }

  private:
    std::string sample_line(bool text) override
    {
        const AnalogParams& w = analog_world().current();
        double t = w.temp_c + noise(0.001);
        double s = w.salinity + noise(0.002);
        double c = pss78_conductivity(s, t);
        double rho = seawater_density(s, t);
        double v = sound_speed(s, t);
        char line[192];
        if (text) {
            // The descriptor form with density and sound speed would run
            // past 127 bytes; this sensor sends them only without text.
            std::snprintf(line, sizeof line,
                          "MEASUREMENT\t5860\t%u\tConductivity[mS/"
                          "cm]\t%.3f\tTemperature[Deg.C]\t%.3f\tSalinity[PSU]\t%.3f",
                          serial_, c, t, s);
        } else {
            std::snprintf(line, sizeof line, "5860\t%u\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t", serial_, c, t, s,
                          rho, v);
        }
        return line;
    }
    // Raw values, as with "enable rawdata" on.
    std::string long_line_filler() override { return "1.2345678\t0.0456789\t"; }

    uint32_t serial_;
};

class Optode : public SmartSensor {
  public:
    explicit Optode(const InstrumentOptions& o)
        : SmartSensor(OPTODE_PORT, o.optode_fault, Timing{350 * NS_PER_MS, 1200 * NS_PER_MS}, false),
          serial_(o.optode_serial != 0 ? o.optode_serial : 856)
    {
    }

  private:
    std::string sample_line(bool /*text*/) override
    {
        const AnalogParams& w = analog_world().current();
        double t = w.temp_c + noise(0.002);
        double sat = w.o2_sat_pct + noise(0.05);
        double o2 = sat / 100.0 * o2_solubility_umol_l(w.salinity, t);
        // Phases and amplitudes of the sensing foil, plausible rather than
        // calibrated: the phase falls as oxygen quenches the luminescence.
        double tc_phase = 17.0 + 27.0 / (1.0 + 0.0035 * o2) + noise(0.003);
        double c2_phase = 8.0 + 0.01 * (t - 16.0);
        double c1_phase = tc_phase + c2_phase;
        double cal_phase = tc_phase - 2.291;
        double c1_amp = 621.0 + noise(0.3);
        double c2_amp = 720.0 + noise(0.3);
        double raw_temp = 300.0 - 4.0 * (t - 16.0);
        char line[192];
        std::snprintf(line, sizeof line,
                      "4831\t%u\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.1f\t%.1f\t%.1f\t", serial_, o2,
                      sat, t, cal_phase, tc_phase, c1_phase, c2_phase, c1_amp, c2_amp, raw_temp);
        return line;
    }
    std::string long_line_filler() override { return "0.0123456\t"; }

    uint32_t serial_;
};

} // namespace

std::unique_ptr<Instrument> make_aand5860(const InstrumentOptions& o)
{
    return std::make_unique<Aand5860>(o);
}

std::unique_ptr<Instrument> make_optode(const InstrumentOptions& o)
{
    return std::make_unique<Optode>(o);
}

} // namespace sim
