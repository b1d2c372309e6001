// ADS1248 converter model (see dev_ads1248.h).
#include "sim/devices/dev_ads1248.h"

#include "platform/platform.h"

#include <cmath>

namespace sim {

namespace {

constexpr uint8_t REG_MUX0 = 0x00;
constexpr uint8_t REG_SYS0 = 0x03;
constexpr uint8_t REG_MUX1 = 0x02;
constexpr uint8_t REG_GPIOCFG = 0x0C;
constexpr uint8_t REG_GPIODIR = 0x0D;
constexpr uint8_t REG_GPIODAT = 0x0E;

// Register values after power-up or reset.
constexpr std::array<uint8_t, Ads1248::NUM_REGS> k_reset_values = {
    0x01,             // MUX0: AIN0 - AIN1
    0x00,             // VBIAS
    0x00,             // MUX1: internal reference off, REF0 selected
    0x00,             // SYS0: gain 1, 5 samples/s
    0x00, 0x00, 0x00, // OFC0..2
    0x00, 0x00, 0x40, // FSC0..2
    0x00,             // IDAC0
    0xFF,             // IDAC1
    0x00,             // GPIOCFG: all analog
    0xFF,             // GPIODIR: all inputs
    0x00,             // GPIODAT
};

constexpr int k_rates[10] = {5, 10, 20, 40, 80, 160, 320, 640, 1000, 2000};

constexpr double FULL_SCALE_CODE = 8388607.0; // 2^23 - 1
constexpr double VREF = 2.048;

} // namespace

Ads1248::Ads1248(InputFn input) : input_(std::move(input))
{
    reset_registers();
}

Ads1248::~Ads1248()
{
    if (scheduled_) {
        cancel(next_);
    }
}

void Ads1248::attach()
{
    ssi_attach(SSI3_BASE, this);
    gpio_watch('K', 2, [this](bool) { lines_changed(); });
    gpio_watch('N', 5, [this](bool) { lines_changed(); });
    gpio_watch('N', 6, [this](bool) { lines_changed(); });
    gpio_watch('H', 1, [this](bool level) {
        selected_ = !level;
        // Chip select high resets the serial interface.
        parse_ = Parse::Idle;
        if (selected_) {
            data_pos_ = 0;
        }
    });
    selected_ = !gpio_level('H', 1);
    set_drdy(true);
    lines_changed();
}

int32_t Ads1248::code_of(double volts, int gain)
{
    double code = std::floor(volts * gain / VREF * FULL_SCALE_CODE + 0.5);
    if (code > FULL_SCALE_CODE) {
        code = FULL_SCALE_CODE;
    }
    if (code < -FULL_SCALE_CODE - 1) {
        code = -FULL_SCALE_CODE - 1;
    }
    return static_cast<int32_t>(code);
}

bool Ads1248::converting() const
{
    return powered_ && gpio_level('N', 5) && gpio_level('N', 6);
}

int Ads1248::data_rate() const
{
    int dr = regs_[REG_SYS0] & 0x0F;
    return k_rates[dr > 9 ? 9 : dr];
}

int Ads1248::gain() const
{
    return 1 << ((regs_[REG_SYS0] >> 4) & 0x07);
}

uint8_t Ads1248::gpio_levels() const
{
    // A pin is driven when configured as GPIO and as output.
    uint8_t driven = static_cast<uint8_t>(regs_[REG_GPIOCFG] & ~regs_[REG_GPIODIR] & 0x0F);
    return static_cast<uint8_t>(regs_[REG_GPIODAT] & driven);
}

bool Ads1248::reference_ok() const
{
    uint8_t mux1 = regs_[REG_MUX1];
    bool on = ((mux1 >> 5) & 0x03) != 0;
    bool internal = ((mux1 >> 3) & 0x03) >= 2;
    return on && internal;
}

void Ads1248::reset_registers()
{
    regs_ = k_reset_values;
    parse_ = Parse::Idle;
    data_pos_ = 3;
    latch_ = 0;
}

void Ads1248::set_drdy(bool level)
{
    drdy_ = level;
    gpio_drive('N', 3, level);
}

void Ads1248::stop()
{
    if (scheduled_) {
        cancel(next_);
        scheduled_ = false;
    }
    set_drdy(true);
}

void Ads1248::restart()
{
    stop();
    if (!converting()) {
        return;
    }
    Time period = NS_PER_S / static_cast<Time>(data_rate());
    next_ = schedule_in(period + EXTRA_SETTLING_NS, [this] { complete(); });
    scheduled_ = true;
}

void Ads1248::complete()
{
    scheduled_ = false;
    int sps = data_rate();
    int pos = (regs_[REG_MUX0] >> 3) & 0x07;
    int neg = regs_[REG_MUX0] & 0x07;
    int32_t code = 0;
    uint8_t muxcal = regs_[REG_MUX1] & 0x07;
    if (muxcal != 0) {
        code = 0; // calibration and monitor modes: not modelled, inputs shorted
    } else {
        double volts = input_ ? input_(pos, neg, gpio_levels(), sps) : 0.0;
        if (reference_ok()) {
            code = code_of(volts, gain());
        } else {
            code = volts >= 0 ? 0x7FFFFF : -0x800000;
        }
    }
    latch_ = static_cast<uint32_t>(code) & 0xFFFFFF;
    data_pos_ = 0;
    ++conversions_;
    set_drdy(false);
    next_ = schedule_in(NS_PER_S / static_cast<Time>(sps), [this] { complete(); });
    scheduled_ = true;
}

void Ads1248::lines_changed()
{
    bool supply = gpio_level('K', 2);
    if (supply != powered_) {
        powered_ = supply;
        reset_registers();
        if (!powered_) {
            stop();
            return;
        }
    }
    if (powered_ && !gpio_level('N', 5)) {
        reset_registers(); // held in reset
    }
    if (converting()) {
        if (!scheduled_) {
            restart();
        }
    } else {
        stop();
    }
}

uint32_t Ads1248::spi_exchange(uint32_t mosi)
{
    if (!powered_ || !selected_) {
        return 0xFF;
    }
    uint8_t in = static_cast<uint8_t>(mosi);
    uint8_t out = 0xFF;
    switch (parse_) {
    case Parse::Idle:
        if (in == 0xFF) {
            if (data_pos_ < 3) {
                out = static_cast<uint8_t>(latch_ >> (8 * (2 - data_pos_)));
                ++data_pos_;
                if (data_pos_ == 1) {
                    set_drdy(true); // result taken
                    ++results_read_;
                }
            }
        } else if ((in & 0xF0) == 0x40) {
            reg_ptr_ = in & 0x0F;
            parse_ = Parse::WregCount;
        } else if ((in & 0xF0) == 0x20) {
            reg_ptr_ = in & 0x0F;
            parse_ = Parse::RregCount;
        } else if (in == 0x06 || in == 0x07) { // RESET
            reset_registers();
            restart();
        } else if (in == 0x04 || in == 0x05) { // SYNC
            restart();
        } else if (in == 0x12 || in == 0x13) { // RDATA: the next NOPs shift out the result
            data_pos_ = 0;
        }
        break;
    case Parse::WregCount:
        remaining_ = (in & 0x0F) + 1;
        filter_touched_ = false;
        parse_ = Parse::WregData;
        break;
    case Parse::WregData:
        if (reg_ptr_ < NUM_REGS) {
            regs_[static_cast<std::size_t>(reg_ptr_)] = in;
            if (reg_ptr_ <= REG_SYS0) {
                filter_touched_ = true;
            }
        }
        ++reg_ptr_;
        if (--remaining_ == 0) {
            parse_ = Parse::Idle;
            if (filter_touched_) {
                restart();
            }
        }
        break;
    case Parse::RregCount:
        remaining_ = (in & 0x0F) + 1;
        parse_ = Parse::RregData;
        break;
    case Parse::RregData:
        out = reg_ptr_ < NUM_REGS ? regs_[static_cast<std::size_t>(reg_ptr_)] : 0xFF;
        ++reg_ptr_;
        if (--remaining_ == 0) {
            parse_ = Parse::Idle;
        }
        break;
    }
    return out;
}

} // namespace sim
