// Aanderaa oxygen optode driver on the optode port (uart3, 9600 baud, port
// supply PL2, shared with the radiometer).  A non-blocking state machine
// stepped by the sample cycle, plus an operator pass-through, a
// byte-and-timing analyzer and a QA check.  The reply is not parsed: the
// record carries its text.
#pragma once

#include <cstdint>

struct optodeDriver {
    int state;                 // 0 idle or finished, -1 failed
    unsigned int old_tick10ms; // 10 ms tick at the start of the current wait
    unsigned int new_tick10ms; // 10 ms tick read at the last check
    unsigned int bufIndx;      // next free position in buf
    char buf[128];             // reply text, or an error text after a failure
};

extern optodeDriver optode;

// States of optode_stateMachine.
constexpr int ST_OPTODE_IDLE = 0;
constexpr int ST_OPTODE_INIT = 1;
constexpr int ST_OPTODE_PCT = 2;  // power-up delimiter '%'
constexpr int ST_OPTODE_BANG = 3; // second delimiter '!' after CR LF
constexpr int ST_OPTODE_RX = 4;   // reply to "do sample"

// Limits, in 10 ms ticks.
constexpr unsigned int OPTODE_PCT_TICKS = 160;   // power-on to '%'
constexpr unsigned int OPTODE_BANG_TICKS = 200;  // '%' to '!'
constexpr unsigned int OPTODE_REPLY_TICKS = 500; // command to first reply byte
constexpr unsigned int OPTODE_GAP_TICKS = 5;     // longest gap inside the reply

void optode_init();
void optode_open();
void optode_close();
unsigned char optode_getc();
void optode_putc(unsigned char c);
int optode_rxBytesAvail();
void optode_flushRx();
void optode_flushTx(bool bDiscard);
int optode_write(const char* pcBuf, uint32_t ui32Len);

// One step in state optodeState; returns the state for the next call, 0
// when the transaction is over (optode.state is then 0 or -1).
int optode_stateMachine(int optodeState);
// Waits for a received byte: returns the ticks elapsed, or maxWait_10msTick
// on time-out (0 = no limit).
uint32_t wait_optodeRx(uint32_t maxWait_10msTick);
// A whole transaction; 1 when it ended with a reply that is the
// instrument's numeric line (optode_reply_numeric), else 0.
uint32_t optode_qa_test();
// True for a line of at least three numbers separated by tabs or blanks,
// the first two whole (product and serial number).
bool optode_reply_numeric(const char* text);
void optode_print_buf();
void optode_comm_test();
void optode_serial_analyzer();
