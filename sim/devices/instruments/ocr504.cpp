// OCR-504 radiometer model, set up for silent power-up, polled operation
// and short ASCII frames at 57600 baud.  300 ms after power-up it answers
// each carriage return (or space) with one frame "SATFI4" + serial number,
// then four tab-separated downwelling irradiances (uW/cm2/nm at 412, 443,
// 490 and 555 nm) and CR LF.  The light follows the board's local time of
// day and is attenuated down to the depth of the analog world's pressure.
// Ctrl-C enters the configuration prompt "[Auto]$ "; "exit" leaves it.
#include "sim/devices/analog_world.h"
#include "platform/host/chip.h"
#include "sim/devices/instruments/instrument.h"

#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr Time OCR_BOOT = 300 * NS_PER_MS;
constexpr Time INTEGRATION = 25 * NS_PER_MS;
constexpr double PI = 3.14159265358979;

struct Channel {
    double surface_noon; // uW/cm2/nm just below the surface at noon
    double kd;           // diffuse attenuation, 1/m
};
constexpr Channel CHANNELS[4] = {{150.0, 0.050}, {170.0, 0.040}, {180.0, 0.030}, {175.0, 0.070}};

class Ocr504 : public Instrument {
  public:
    explicit Ocr504(const InstrumentOptions& o)
        : Instrument(OPTODE_PORT, instrument_baud(57600, o.optode_fault), o.optode_fault),
          serial_(o.optode_serial != 0 ? o.optode_serial : 2247)
    {
    }

  private:
    enum class Mode { Booting, Polled, Config };

    void power_up() override
    {
        mode_ = Mode::Booting;
        line_.clear();
        after(OCR_BOOT, [this] { mode_ = Mode::Polled; });
    }

    void received(uint8_t byte) override
    {
        if (fault_ == InstrumentFault::Silent || mode_ == Mode::Booting) {
            return;
        }
        if (byte == 0x03) { // Ctrl-C
            mode_ = Mode::Config;
            line_.clear();
            send("\r\n[Auto]$ ");
            return;
        }
        if (mode_ == Mode::Polled) {
            if (byte == '\r' || byte == ' ') {
                after(INTEGRATION, [this] { send_frame(); });
            }
            return;
        }
        if (byte == '\n') {
            return;
        }
        if (byte != '\r') {
            send(std::string(1, static_cast<char>(byte)));
            if (line_.size() < 80) {
                line_.push_back(static_cast<char>(byte));
            }
            return;
        }
        if (line_ == "exit") {
            mode_ = Mode::Polled;
            send("\r\n");
        } else {
            send("\r\n[Auto]$ ");
        }
        line_.clear();
    }

    // Fraction of the noon light at the board's local time (sunrise 06:00,
    // sunset 18:00).
    static double daylight()
    {
        uint32_t local = hib_rtc_now() - ZONE_OFFSET_S;
        double hour = static_cast<double>(local % 86400u) / 3600.0;
        double f = std::sin(PI * (hour - 6.0) / 12.0);
        return f > 0 ? f : 0;
    }

    void send_frame()
    {
        double depth = analog_world().p.pressure_dbar;
        double light = daylight();
        std::string frame;
        char part[32];
        std::snprintf(part, sizeof part, "SATFI4%04u", serial_);
        frame = part;
        for (const Channel& ch : CHANNELS) {
            double e = ch.surface_noon * light * std::exp(-ch.kd * (depth > 0 ? depth : 0));
            e += noise(0.003) + noise(0.01 * e);
            std::snprintf(part, sizeof part, "\t%.4f", e);
            frame += part;
        }
        // A long line: the instrument set to its full frame of channels.
        // Garbage never holds the 'S' a frame starts with.
        send_line(frame, "\r\n", "\t0.0000\t0.0000");
    }

    uint32_t serial_;
    Mode mode_ = Mode::Booting;
    std::string line_;
};

} // namespace

std::unique_ptr<Instrument> make_ocr504(const InstrumentOptions& o)
{
    return std::make_unique<Ocr504>(o);
}

} // namespace sim
