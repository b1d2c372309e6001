// One direction of an asynchronous serial line (8 data bits, no parity, one
// stop bit) between a sender and a receiver that may be set to different
// baud rates.  At matching rates (within 2 %) each byte arrives whole at the
// end of its stop bit.  At other rates the receiver samples the sender's
// waveform as a UART does - a start bit found on a low level, data bits at
// their centres, the stop bit at 9.5 bit times - and makes of it the
// garbage bytes a real mismatch gives.
#pragma once

#include "platform/host/sim_core.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace sim {

class SerialLine {
  public:
    using RxBaud = std::function<uint32_t()>; // receiver's rate; 0 = not listening
    using Deliver = std::function<void(uint8_t)>;

    // `lag`: how late frames may be reported after their start bit began
    // (0 when the sender reports each frame as it starts).
    SerialLine(RxBaud rx_baud, Deliver deliver, Time lag = 0);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // A frame whose start bit begins at `start`, sent at `tx_baud`.
    void frame(Time start, uint8_t byte, uint32_t tx_baud);
    // Forgets every frame on the way (the sender lost its power).
    void clear();

    static Time frame_time(uint32_t baud) { return 10 * NS_PER_S / baud; }

  private:
    struct Frame {
        double start; // ns
        double bit;   // ns per bit
        uint8_t byte;
        double end() const { return start + 10 * bit; }
        int level_of_bit(int k) const { return k == 0 ? 0 : (k == 9 ? 1 : (byte >> (k - 1)) & 1); }
    };

    int level(double t) const;
    // First time at or after `from` at which the line is low; < 0 if none.
    double first_low(double from) const;
    void decode();

    RxBaud rx_baud_;
    Deliver deliver_;
    Time lag_;
    std::deque<Frame> frames_;
    double search_from_ = 0;
    // Pending events check this generation and do nothing once it changed.
    std::shared_ptr<uint64_t> generation_;
};

} // namespace sim
