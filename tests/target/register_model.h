// A model of the TM4C123GH6PGE registers that the target backend uses, for
// host tests of the backend's register sequences.
//
// The backend is built for the host with VARVE_REGISTER_MODEL: each register
// access, delay loop and interrupt mask change then reaches this model
// instead of the chip.  The model keeps a processor cycle count (an access
// takes ACCESS_CYCLES, a delay-loop count three cycles) and behaves, where a
// test needs it, as the data sheet says the chip does, with the timing that
// makes the sequence rules matter:
// - peripheral gates: a register of a peripheral may be used only once its
//   run-mode clock is on and its ready bit is set (a few cycles later);
//   anything else is a bus fault;
// - clock: the main-oscillator power-up flag is a timer that also fires with
//   a dead crystal; the verification circuit flags a dead crystal (or
//   resets the chip, without MOSCCTL.MOSCIM); the PLL locks a while after
//   its reference or power changes, and only on a running reference;
// - EEPROM: EEDONE.WORKING shows a few cycles after a word write, and a
//   word written while the previous one is still being programmed is
//   dropped (EEDONE.WRBUSY);
// - I2C master: MCS.BUSY shows a few cycles after a command;
// - ADC: a sample sequencer must not be reprogrammed while enabled.
// Every broken rule is recorded as a line of text (`violations()`).
// Registers without a behaviour of their own are plain memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace regmodel {

constexpr uint64_t ACCESS_CYCLES = 4;

struct Options {
    bool crystal_runs = true;
    bool pll_locks = true;
    // Cycles from a word write until the EEPROM controller shows WORKING.
    uint64_t eeprom_start_lag = 24;
    // Cycles from a command until the I2C master shows BUSY.
    uint64_t i2c_start_lag = 12;
};

// Power-on state of the whole chip; time 0.
void reset(const Options& options = {});

uint64_t now();
const std::vector<std::string>& violations();

// System clock that the model's RCC selects (0: the processor is stopped).
uint32_t system_clock_hz();
uint32_t moscctl();

uint32_t eeprom_word(uint32_t index);
// The controller is still programming a word.
bool eeprom_programming();

} // namespace regmodel
