// Simulated instruments on the board's serial ports: an SBE37 MicroCat or an
// Aanderaa 5860 on the CTD port (UART4, supply PD0), an Aanderaa oxygen
// optode or an OCR-504 radiometer on the optode port (UART3, supply PL2).
// Each is a self-contained model: powered only while its supply line is on,
// bytes in and out at its own baud rate, timing from simulated time, and the
// water of the analog world as what it measures.
#pragma once

#include "platform/host/host_periph.h"
#include "platform/platform.h"
#include "sim/devices/instruments/serial_line.h"
#include "tools/common/status.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace sim {

using varve::Status;

// The board's zone offset (seconds behind its clock): instruments with a
// clock of their own keep the board's local time.
constexpr uint32_t ZONE_OFFSET_S = 21600;

// What a port's instrument does wrong (one per port).
enum class InstrumentFault {
    None,
    Silent,    // powered, but never sends a byte
    NoLineEnd, // its reply line lacks the CR LF that ends it
    LongLine,  // its reply line is longer than 127 bytes
    Gap,       // a 50 ms pause in the middle of its reply line
    Garbage,   // its reply line is nonsense text
    WrongBaud, // set to another baud rate than the port's
};

struct InstrumentOptions {
    enum class Ctd { None, Sbe37, Aand5860 };
    enum class OptodePort { None, Optode, Ocr504 };
    Ctd ctd = Ctd::None;
    OptodePort optode_port = OptodePort::None;
    double o2_sat_pct = 95.0;   // oxygen saturation of the water
    bool aand5860_text = false; // the 5860's descriptor text is on
    uint32_t ctd_serial = 0;    // 0: the model's own
    uint32_t optode_serial = 0; // instrument on the optode port; 0: the model's own
    InstrumentFault ctd_fault = InstrumentFault::None;
    InstrumentFault optode_fault = InstrumentFault::None;
};

// Reads the options; fails for a value that is not allowed.
Status instrument_options_from(const std::map<std::string, std::string>& params, InstrumentOptions* out);
// Fault of a fault name ("silent", "no-line-end", "long-line", "gap",
// "garbage", "wrong-baud"); false if unknown.
bool instrument_fault_from(const std::string& name, InstrumentFault* out);

// Base of every instrument model.
class Instrument : public UartPeer {
  public:
    struct Port {
        uint32_t uart_base;
        char power_port;
        int power_pin;
    };
    Instrument(Port port, uint32_t baud, InstrumentFault fault);
    ~Instrument() override;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // Connects the model to its UART and its supply line.
    void attach();
    bool powered() const { return powered_; }
    uint32_t baud() const { return baud_; }

  protected:
    // The supply came on (the model starts from off every time).
    virtual void power_up() = 0;
    // A byte the model's receiver made of what the board sent.
    virtual void received(uint8_t byte) = 0;

    // Queues bytes for transmission at the model's baud rate, the first one
    // starting no earlier than `gap` after the previous byte (or now).
    void send(const std::string& bytes, Time gap = 0);
    // Runs `fn` after `delay` unless the supply goes off meanwhile.
    void after(Time delay, std::function<void()> fn);
    // Gaussian noise of standard deviation `sd`, scaled by the world's noise
    // setting, from the instruments' own seeded generator.
    double noise(double sd);
    // Nonsense text (letters and punctuation only, none of the protocol's
    // delimiters) of `len` bytes.
    std::string garbage(std::size_t len);
    // A reply line as the fault makes it: `line` without its end, and the end
    // (normally CR LF) queued after it.  `filler` lengthens a long line.
    void send_line(const std::string& line, const std::string& end, const std::string& filler, Time gap = 0);

    InstrumentFault fault_;

  private:
    void uart_from_board(uint8_t byte) override;
    void power_changed(bool on);
    void transmit_next();

    Port port_;
    uint32_t baud_;
    bool powered_ = false;
    bool tx_busy_ = false;
    struct Pending {
        uint8_t byte;
        Time gap;
    };
    std::deque<Pending> txq_;
    SerialLine to_board_;
    SerialLine from_board_;
    std::shared_ptr<uint64_t> generation_;
};

// The models.
std::unique_ptr<Instrument> make_sbe37(const InstrumentOptions& o);
std::unique_ptr<Instrument> make_aand5860(const InstrumentOptions& o);
std::unique_ptr<Instrument> make_optode(const InstrumentOptions& o);
std::unique_ptr<Instrument> make_ocr504(const InstrumentOptions& o);

// Ports of the board.
constexpr Instrument::Port CTD_PORT = {UART4_BASE, 'D', 0};    // CTD power switch
constexpr Instrument::Port OPTODE_PORT = {UART3_BASE, 'L', 2}; // optode port supply
// Rate of an instrument with the wrong-baud fault.
uint32_t instrument_baud(uint32_t nominal, InstrumentFault fault);

// Brings up the models of one boot from options().params (called by
// devices_boot).
void instruments_boot();
// The models of the current boot (nullptr when the port is empty).
Instrument* ctd_instrument();
Instrument* optode_port_instrument();

} // namespace sim
