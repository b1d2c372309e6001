// SBE37 MicroCat model.  After power-up it boots, prints its banner and
// "S>" prompt, and goes to sleep after two minutes without a command; a
// carriage return wakes it.  Awake, it echoes what it receives and runs a
// command at each carriage return: "ts" takes a sample and answers with one
// line - temperature (degrees C), conductivity (S/m), salinity, date and
// time - then "<Executed/>" and the prompt.
#include "sim/devices/analog_world.h"
#include "platform/host/chip.h"
#include "sim/devices/instruments/instrument.h"
#include "sim/devices/instruments/seawater.h"

#include <cstdio>
#include <ctime>

namespace sim {

namespace {

constexpr Time SBE37_BOOT = 250 * NS_PER_MS;
constexpr Time WAKE = 10 * NS_PER_MS;
constexpr Time SAMPLE = 1100 * NS_PER_MS;
constexpr Time LINE_GAP = 2 * NS_PER_MS; // between the reply's lines
constexpr Time SLEEP_AFTER = 120 * NS_PER_S;
constexpr uint32_t DEFAULT_SERIAL = 12345;
// Seconds from 1900-01-01 (the board's clock) to 1970-01-01.
constexpr uint32_t SECONDS_1900_TO_1970 = 2208988800u;

class Sbe37 : public Instrument {
  public:
    Sbe37(const InstrumentOptions& o)
        : Instrument(CTD_PORT, instrument_baud(9600, o.ctd_fault), o.ctd_fault),
          serial_(o.ctd_serial != 0 ? o.ctd_serial : DEFAULT_SERIAL)
    {
    }

  private:
    enum class Mode { Booting, Awake, Asleep, Sampling };

    void power_up() override
    {
        mode_ = Mode::Booting;
        line_.clear();
        if (fault_ == InstrumentFault::Silent) {
            return;
        }
        after(SBE37_BOOT, [this] {
            char banner[64];
            std::snprintf(banner, sizeof banner, "\r\nSBE37-SM V 2.6  SERIAL NO. %05u\r\nS>", serial_);
            send(banner);
            awake();
        });
    }

    void awake()
    {
        mode_ = Mode::Awake;
        uint64_t mark = ++activity_;
        after(SLEEP_AFTER, [this, mark] {
            if (mark == activity_ && mode_ == Mode::Awake) {
                mode_ = Mode::Asleep;
            }
        });
    }

    void received(uint8_t byte) override
    {
        if (fault_ == InstrumentFault::Silent) {
            return;
        }
        switch (mode_) {
        case Mode::Booting:
        case Mode::Sampling:
            return;
        case Mode::Asleep:
            if (byte == '\r') {
                after(WAKE, [this] {
                    send("\r\nS>");
                    awake();
                });
            }
            return;
        case Mode::Awake:
            break;
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
        send("\r\n");
        std::string command = line_;
        line_.clear();
        run(command);
    }

    void run(const std::string& command)
    {
        if (command.empty()) {
            send("S>");
            awake();
        } else if (command == "ts" || command == "TS") {
            mode_ = Mode::Sampling;
            after(SAMPLE, [this] { send_sample(); });
        } else {
            send("<ERROR type='INVALID COMMAND' msg='command not recognized'/>\r\n<Executed/>\r\nS>");
            awake();
        }
    }

    void send_sample()
    {
        const AnalogParams& w = analog_world().current();
        double t = w.temp_c + noise(0.0002);
        double s = w.salinity + noise(0.0005);
        double c_sm = pss78_conductivity(s, t) / 10.0;
        std::time_t local = static_cast<std::time_t>(hib_rtc_now()) - SECONDS_1900_TO_1970 - ZONE_OFFSET_S;
        std::tm tm{};
        gmtime_r(&local, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%d %b %Y, %H:%M:%S", &tm);
        char line[128];
        std::snprintf(line, sizeof line, "%9.4f,%9.5f,%10.4f, %s", t, c_sm, s, when);
        // A long line: the instrument also set to send its raw counts.
        send_line(line, "\r\n", ", 524288.000, 2741538.250", 0);
        send("<Executed/>\r\nS>", LINE_GAP);
        awake();
    }

    uint32_t serial_;
    Mode mode_ = Mode::Booting;
    std::string line_;
    uint64_t activity_ = 0;
};

} // namespace

std::unique_ptr<Instrument> make_sbe37(const InstrumentOptions& o)
{
    return std::make_unique<Sbe37>(o);
}

} // namespace sim
