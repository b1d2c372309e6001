// Register-level model of the isolated ADS1248 24-bit converter on SSI3.
//
// Lines: supply PK2 (high = powered), RESET PN5 (active low), START PN6
// (high = convert continuously), chip select PH1 (active low), DRDY PN3
// (driven by the model; low = a new result is ready).
//
// Behaviour:
//  - Registers MUX0..GPIODAT (0x00..0x0E) with their reset values; WREG,
//    RREG, RESET, SYNC and RDATA commands; other commands are accepted and
//    ignored.  Data are read by clocking NOPs (0xFF) after DRDY fell: three
//    bytes, most significant first.
//  - While powered, out of reset and with START high it converts
//    continuously at the SYS0 data rate (5..2000 samples/s).  Power-up,
//    leaving reset, START rising, SYNC and any write to MUX0, VBIAS, MUX1
//    or SYS0 restart the digital filter: DRDY goes high and the first result
//    follows after FILTER_SETTLING (one data period plus 0.5 ms), then one
//    result per data period.  DRDY goes high when a result is read.
//  - A result is (AINp - AINn) x gain / 2.048 V x (2^23 - 1), rounded to the
//    nearest code and clipped to the 24-bit two's-complement range.  The
//    2.048 V reference exists only when MUX1 turns the internal reference on
//    and selects it; otherwise every input reads as full scale of its sign
//    (the external reference inputs are not connected on this board).
//  - Unpowered: no conversions, registers lost, DRDY reads high and DOUT
//    reads 0xFF (the isolator outputs idle high).
#pragma once

#include "platform/host/sim_core.h"

#include <array>
#include <cstdint>
#include <functional>

namespace sim {

class Ads1248 : public SpiDevice {
  public:
    // Differential input voltage AINp - AINn at the moment a conversion
    // completes, given the converter's GPIO0..3 pin levels (bit i = GPIOi
    // driven high) and the data rate (for rate-dependent noise).
    using InputFn = std::function<double(int pos, int neg, uint8_t gpio_levels, int sps)>;

    static constexpr int NUM_REGS = 15;
    static constexpr Time EXTRA_SETTLING_NS = 500 * NS_PER_US;

    explicit Ads1248(InputFn input);
    ~Ads1248() override;
    // Attaches to SSI3 and the control lines.
    void attach();

    uint32_t spi_exchange(uint32_t mosi) override;

    // Observation (tests and the world model).
    bool powered() const { return powered_; }
    bool converting() const;
    uint8_t reg(int i) const { return regs_[static_cast<std::size_t>(i)]; }
    int data_rate() const;
    int gain() const;
    // Levels of the converter's GPIO0..GPIO3 pins as outputs drive them.
    uint8_t gpio_levels() const;
    uint64_t conversions() const { return conversions_; }
    // Results clocked out (first byte of a result shifted).
    uint64_t results_read() const { return results_read_; }
    static int32_t code_of(double volts, int gain);

  private:
    enum class Parse { Idle, WregCount, WregData, RregCount, RregData };

    void reset_registers();
    void restart();
    void stop();
    void complete();
    void set_drdy(bool level);
    void lines_changed();
    bool reference_ok() const;

    InputFn input_;
    std::array<uint8_t, NUM_REGS> regs_{};
    bool powered_ = false;
    bool selected_ = false;
    bool drdy_ = true;
    EventId next_ = 0;
    bool scheduled_ = false;
    uint32_t latch_ = 0; // last result, 24 bits
    int data_pos_ = 3;   // next result byte to shift out (3 = none)
    Parse parse_ = Parse::Idle;
    int reg_ptr_ = 0;
    int remaining_ = 0;
    bool filter_touched_ = false;
    uint64_t conversions_ = 0;
    uint64_t results_read_ = 0;
};

} // namespace sim
