// OCR-504 radiometer driver on the optode port (uart3 at 57600 baud, port
// supply PL2, shared with the oxygen optode).  A non-blocking state machine
// stepped by the sample cycle: power up, wait for the instrument to start,
// poll one "SATFI4..." frame with CR LF, store its text, power down.  The
// frame is not parsed, and the machine never ends in a failed state: a
// failure leaves a replacement text in buf.
#pragma once

#include <cstdint>

struct ocrDriver {
    int state;                 // 0 idle or finished
    unsigned int old_tick10ms; // 10 ms tick at the start of the current wait
    unsigned int new_tick10ms; // 10 ms tick read at the last check
    unsigned int bufIndx;      // next free position in buf
    int dataCnt;               // frames per transaction, 1
    char buf[128];             // frame text, or a replacement text
};

extern ocrDriver ocr;

// States of ocr_stateMachine.
constexpr int ST_OCR_IDLE = 0;
constexpr int ST_OCR_INIT = 1;
constexpr int ST_OCR_STARTUP = 2; // 800 ms for the instrument to start
constexpr int ST_OCR_POLL = 3;    // send CR LF
constexpr int ST_OCR_FRAME = 4;   // wait for the frame's 'S'
constexpr int ST_OCR_BODY = 5;    // collect the frame, one byte per step
constexpr int ST_OCR_DONE = 7;

// Limits, in 10 ms ticks.
constexpr unsigned int OCR_STARTUP_TICKS = 80; // power-on to poll
constexpr unsigned int OCR_FRAME_TICKS = 160;  // poll to 'S'
constexpr unsigned int OCR_BODY_TICKS = 200;   // 'S' to the frame's end

void ocr_init();
void ocr_open();
void ocr_close();
unsigned char ocr_getc();
void ocr_putc(unsigned char c);
int ocr_rxBytesAvail();
void ocr_flushRx();
void ocr_flushTx(bool bDiscard);
int ocr_write(const char* pcBuf, uint32_t ui32Len);
int ocr_rx_str(char* pcBuf, uint32_t ui32Len);
int ocr_rx_buf(char* pcBuf, uint32_t ui32Len);

// One step; returns the state for the next call, 0 when the transaction is
// over.
int ocr_stateMachine(int ocrState);
// Operator pass-through: ends on Ctrl-X, Ctrl-Y or Ctrl-Z; forwards Ctrl-C.
void ocr_comm_test();
