// CTD driver on the CTD port (uart4, 9600 baud): an SBE37 MicroCat or an
// Aanderaa 5860 conductivity sensor, chosen by data_cfg[CFG_CTD].  A
// non-blocking state machine that the sample cycle steps between its other
// work, plus operator pass-throughs, byte-and-timing analyzers and a QA
// check.
#pragma once

#include <cstdint>

struct ctdDriver {
    int state;                 // 0 idle or finished, -1 failed
    unsigned int old_tick10ms; // 10 ms tick at the start of the current wait
    unsigned int new_tick10ms; // 10 ms tick read at the last check
    unsigned int type;         // running transaction: 0 none, 1 SBE37, 2 Aanderaa 5860
    float condo;               // conductivity, mS/cm (5860 only)
    float salt;                // salinity, PSU
    float tempC;               // temperature, degrees C
    float pressure;            // not written by this driver
    float depth;               // not written by this driver
    unsigned int bufIndx;      // next free position in buf
    char buf[128];             // reply text, or an error text after a failure
};

extern ctdDriver ctd;

// Values of data_cfg[CFG_CTD].
constexpr unsigned char CTD_TYPE_NONE = 0;
constexpr unsigned char CTD_TYPE_SBE37 = 1;
constexpr unsigned char CTD_TYPE_AAND5860 = 2;

// States of ctd_stateMachine.
constexpr int ST_CTD_IDLE = 0;
constexpr int ST_CTD_INIT = 1;
constexpr int ST_CTD_SBE37_CMD = 2; // SBE37: wake and command after 900 ms
constexpr int ST_CTD_SBE37_RX = 3;  // SBE37: collect the reply, one byte per step
constexpr int ST_CTD_PWR_RESP = 4;  // 5860: power-up handshake '%', CR LF, '!'
constexpr int ST_CTD_AAND_RX = 5;   // 5860: collect the reply after "do sample"

// Limits, in 10 ms ticks.
constexpr unsigned int CTD_SBE37_WAKE_TICKS = 90;   // power-on to wake-up
constexpr unsigned int CTD_SBE37_REPLY_TICKS = 350; // command to line end
constexpr unsigned int CTD_AAND_PCT_TICKS = 250;    // power-on to '%'
constexpr unsigned int CTD_AAND_BANG_TICKS = 200;   // CR LF after '%' to '!'
constexpr unsigned int CTD_AAND_REPLY_TICKS = 500;  // command to first reply byte
constexpr unsigned int CTD_AAND_GAP_TICKS = 5;      // longest gap inside the reply

void ctd_init();
void ctd_open();
void ctd_close();
unsigned char ctd_getc();
void ctd_putc(unsigned char c);
int ctd_rxBytesAvail();
void ctd_flushRx();
void ctd_flushTx(bool discardFlg);
int ctd_write(const char* pcBuf, uint32_t ui32Len);

// One step in state ctdState; returns the state to pass next time, 0 when
// the transaction is over (ctd.state is then 0 or -1).
int ctd_stateMachine(int ctdState);
// Waits for a received byte: returns the ticks elapsed, or maxWait_10msTick
// on time-out (0 = no limit).
uint32_t wait_ctdRx(uint32_t maxWait_10msTick);

// Parse buf; true when every field converted.  On failure the values and
// the salinity for this sample fall back as docs/instruments.md describes.
bool ctd_microCat_parseData();
bool ctd_Aand5860_parseData();

// Salinity range, PSU, in which the seawater model of the external pH
// holds; an instrument's value outside it is not used for the pH.
constexpr float CTD_SAL_MIN = 2.0f;
constexpr float CTD_SAL_MAX = 42.0f;
// Takes the parsed salinity for this sample's external pH: outside
// CTD_SAL_MIN..CTD_SAL_MAX the configured default salinity is used instead,
// and a note saying so is added to the end of buf (the record's text).
void ctd_use_salinity(float sal);
// True when [begin, end) is one number, blanks around it allowed.
bool ctd_number_field(const char* begin, const char* end, float* out);
// True when [begin, end) holds nothing but blanks.
bool ctd_blank_field(const char* begin, const char* end);

// Runs one whole transaction with the configured type.
uint32_t ctd_qa_test();
void ctd_print_buf();
void ctd_microCat_comm_test();
void ctd_Aand5860_comm_test();
void ctd_microcat_serial_analyzer();
void ctd_aanderaa_serial_analyzer();

// Steps of the two instrument types (ctd_sbe37_microcat, ctd_aand5860),
// called by ctd_stateMachine.
int ctd_microCat_step(int ctdState);
int ctd_Aand5860_step(int ctdState);
// Ends a transaction in failure: the text into buf, supply off, state -1.
int ctd_fail(const char* text);
// Sends bytes exactly as given (no line-feed translation).
void ctd_send(const char* bytes, uint32_t len);
// Prints one analyzer line for a received byte and restarts the interval.
void ctd_analyzer_print(unsigned char c, uint32_t* last_tick);
// Operator pass-through loop shared by the two types: instrument bytes to
// the console, console bytes to the instrument, Ctrl-X ends.  With
// crlf_for_cr a console carriage return is sent as CR LF.
void ctd_pass_through(bool crlf_for_cr);
// Analyzer loop shared by the two types: react(-1) at every power-up, then
// react(byte) for every byte received.
void ctd_analyzer_run(void (*react)(int c));
