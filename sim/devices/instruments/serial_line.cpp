// Serial line between mismatched or matched baud rates (see serial_line.h).
#include "sim/devices/instruments/serial_line.h"

#include <cmath>

namespace sim {

namespace {

bool rates_match(uint32_t a, uint32_t b)
{
    double ratio = static_cast<double>(a) / static_cast<double>(b);
    return ratio > 0.98 && ratio < 1.02;
}

} // namespace

SerialLine::SerialLine(RxBaud rx_baud, Deliver deliver, Time lag)
    : rx_baud_(std::move(rx_baud)), deliver_(std::move(deliver)), lag_(lag),
      generation_(std::make_shared<uint64_t>(0))
{
}

SerialLine::~SerialLine()
{
    ++*generation_;
}

void SerialLine::clear()
{
    ++*generation_;
    frames_.clear();
    search_from_ = 0;
}

void SerialLine::frame(Time start, uint8_t byte, uint32_t tx_baud)
{
    uint32_t rx = rx_baud_();
    if (rx == 0 || tx_baud == 0) {
        return;
    }
    auto gen = generation_;
    uint64_t mine = *gen;
    Time end = start + frame_time(tx_baud);
    if (rates_match(rx, tx_baud) && frames_.empty()) {
        search_from_ = static_cast<double>(end);
        if (end <= now()) {
            deliver_(byte);
        } else {
            schedule(end, [this, gen, mine, byte] {
                if (*gen == mine) {
                    deliver_(byte);
                }
            });
        }
        return;
    }
    double bit = static_cast<double>(NS_PER_S) / tx_baud;
    frames_.push_back(Frame{static_cast<double>(start), bit, byte});
    Time check = end + frame_time(rx) + lag_ + 1;
    schedule(check, [this, gen, mine] {
        if (*gen == mine) {
            decode();
        }
    });
}

int SerialLine::level(double t) const
{
    for (const Frame& f : frames_) {
        if (t >= f.start && t < f.end()) {
            int k = static_cast<int>((t - f.start) / f.bit);
            return f.level_of_bit(k > 9 ? 9 : k);
        }
    }
    return 1;
}

double SerialLine::first_low(double from) const
{
    for (const Frame& f : frames_) {
        if (f.end() <= from) {
            continue;
        }
        for (int k = 0; k < 10; ++k) {
            double bit_start = f.start + k * f.bit;
            double bit_end = bit_start + f.bit;
            if (bit_end > from && f.level_of_bit(k) == 0) {
                return bit_start > from ? bit_start : from;
            }
        }
    }
    return -1;
}

void SerialLine::decode()
{
    uint32_t rx = rx_baud_();
    if (rx == 0) {
        frames_.clear();
        return;
    }
    double bit = static_cast<double>(NS_PER_S) / rx;
    double known = static_cast<double>(now()) - static_cast<double>(lag_);
    for (;;) {
        double t = first_low(search_from_);
        if (t < 0 || t + 9.5 * bit > known) {
            break;
        }
        if (level(t + 0.5 * bit) != 0) {
            search_from_ = t + 0.5 * bit; // a glitch, not a start bit
            continue;
        }
        uint8_t byte = 0;
        for (int i = 0; i < 8; ++i) {
            if (level(t + (1.5 + i) * bit) != 0) {
                byte = static_cast<uint8_t>(byte | (1u << i));
            }
        }
        // A low stop bit is a framing error; the byte is still received.
        search_from_ = t + 9.5 * bit;
        deliver_(byte);
    }
    while (!frames_.empty() && frames_.front().end() <= search_from_) {
        frames_.pop_front();
    }
}

} // namespace sim
