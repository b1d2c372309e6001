// The Aanderaa smart sensors' power-up handshake, shared by the oxygen optode
// and the 5860 conductivity sensor: after power-on the sensor sends '%' and
// the controller answers CR LF; the sensor then sends '!' and the controller
// answers "do sample", whose reply follows.
//
// The drivers wait for the two delimiters their own way (the optode in two
// non-blocking states of its state machine, the 5860 for '%' in one state
// and then blocking on '!'), so the handshake is given in its pieces: one
// look for a delimiter, and the two answers.  `Port` names the instrument
// port: static avail() (bytes in the receive ring), getc() and
// send(bytes, len); `Driver` is the driver's record with its two ticks
// (old_tick10ms: start of the current wait, new_tick10ms: last check).
// Templates, so that every call to the port is a direct one.
#pragma once

#include "board/board_util.h"
#include "platform/platform.h"
#include "serial/user_io.h"

#include <cstdint>

// "do sample" CR LF and one NUL: twelve bytes on the line.
inline constexpr char AAND_DO_SAMPLE[12] = {'d', 'o', ' ', 's', 'a', 'm', 'p', 'l', 'e', '\r', '\n', '\0'};

// What one look at the port found.
enum class AandLook : uint8_t {
    Waiting,   // not yet: the caller looks again
    Delimiter, // the delimiter arrived (and was taken)
    TimedOut,  // `limit_ticks` have passed since old_tick10ms
};

// One look for `delimiter`, without blocking: a received byte is taken
// (any other byte is dropped); with none received, the processor idles until
// its next event.
template <typename Port, typename Driver> AandLook aand_look(Driver& d, char delimiter, uint32_t limit_ticks)
{
    d.new_tick10ms = static_cast<uint32_t>(Timer_10ms(0));
    const bool got = Port::avail() > 0;
    if (got && Port::getc() == static_cast<unsigned char>(delimiter)) {
        return AandLook::Delimiter;
    }
    if (d.new_tick10ms - d.old_tick10ms >= limit_ticks) {
        return AandLook::TimedOut;
    }
    if (!got) {
        platform_idle();
    }
    return AandLook::Waiting;
}

// '%' arrived: the wait for '!' starts, and CR LF asks for it.
template <typename Port, typename Driver> void aand_answer_percent(Driver& d)
{
    d.old_tick10ms = static_cast<uint32_t>(Timer_10ms(0));
    Port::send("\r\n", 2);
}

// '!' arrived: "do sample", and the wait for the reply starts.
template <typename Port, typename Driver> void aand_answer_bang(Driver& d)
{
    Port::send(AAND_DO_SAMPLE, sizeof AAND_DO_SAMPLE);
    d.old_tick10ms = static_cast<uint32_t>(Timer_10ms(0));
}

// The serial analyzers' part of the handshake: a received '%' is answered
// with CR LF, a '!' with CR LF and "do sample", each noted on the console.
template <typename Port> void aand_analyzer_answer(int c)
{
    if (c == '%') {
        uprintf("TX: crlf \r\n");
        Port::send("\r\n", 2);
    } else if (c == '!') {
        uprintf("TX: crlf do sample crlf \r\n");
        Port::send("\r\n", 2);
        Port::send(AAND_DO_SAMPLE, sizeof AAND_DO_SAMPLE);
    }
}
