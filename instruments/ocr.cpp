// OCR-504 radiometer driver (see ocr.h).  Also delivered as an object
// module of its own, the same code as in the firmware image.
#include "instruments/ocr.h"

#include "board/board_util.h"
#include "instruments/instrument_text.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uart3.h"
#include "serial/uartstdio.h"

ocrDriver ocr;

namespace {

constexpr unsigned char CTRL_X = 0x18;
constexpr unsigned char CTRL_Y = 0x19;
constexpr unsigned char CTRL_Z = 0x1A;

// Same number of tab-separated columns as a real frame.
const char* const OCR_NO_FRAME = "SATFI4_ERR\t-9.9999\t-9.9999\t-9.9999\t-9.9999";
const char* const OCR_UNFINISHED = "OCR did not finish transmit data";
const char* const OCR_OVERFLOW = "OCR Err: frame exceeds buf size";

uint32_t tick_now()
{
    return static_cast<uint32_t>(Timer_10ms(0));
}

// Every end of a transaction: the supply off, state 0.
int finish(const char* text)
{
    if (text != nullptr) {
        instrument_text_set(ocr.buf, text);
    }
    wait_consoleTx();
    ocr_close();
    ocr.state = 0;
    return 0;
}

int start()
{
    ocr_init();
    ocr_open();
    ms_delay(1);
    ocr_flushRx();
    ocr_flushTx(true);
    ocr.old_tick10ms = tick_now();
    return ST_OCR_STARTUP;
}

int startup_wait()
{
    ocr.new_tick10ms = tick_now();
    if (ocr.new_tick10ms - ocr.old_tick10ms < OCR_STARTUP_TICKS) {
        platform_idle();
        return ST_OCR_STARTUP;
    }
    ocr.old_tick10ms = ocr.new_tick10ms;
    return ST_OCR_POLL;
}

int poll()
{
    ocr_putc('\r');
    ocr_putc('\n');
    return ST_OCR_FRAME;
}

// Bytes before the frame's 'S' (a banner, line noise) are discarded.
int frame_start()
{
    ocr.new_tick10ms = tick_now();
    bool got = ocr_rxBytesAvail() > 0;
    if (got && ocr_getc() == 'S') {
        ocr.old_tick10ms = tick_now();
        ocr.buf[0] = 'S';
        ocr.bufIndx = 1;
        return ST_OCR_BODY;
    }
    if (ocr.new_tick10ms - ocr.old_tick10ms >= OCR_FRAME_TICKS) {
        if (sys_data.diag != 0) {
            uprintf("\r\nOCR power on did not receive expected response to CR-LF in 1600msec - check ocr "
                    "connection or setup\r\n");
        }
        return finish(OCR_NO_FRAME);
    }
    if (!got) {
        platform_idle();
    }
    return ST_OCR_FRAME;
}

// At most one byte per step, until a carriage return or line feed.
int frame_body()
{
    ocr.new_tick10ms = tick_now();
    bool got = false;
    if (ocr_rxBytesAvail() > 0) {
        got = true;
        unsigned char c = ocr_getc();
        if (c == '\n' || c == '\r') {
            instrument_text_end(ocr.buf, ocr.bufIndx);
            ocr.old_tick10ms = tick_now();
            return ST_OCR_DONE;
        }
        ocr.buf[ocr.bufIndx++] = static_cast<char>(c);
        if (ocr.bufIndx >= sizeof ocr.buf) {
            ocr.bufIndx = INSTRUMENT_TEXT_MAX;
            if (sys_data.diag != 0) {
                uprintf("\r\nDEBUG: error in ocr driver bufIndx exceeds buf size, ocr\r\n");
            }
            return finish(OCR_OVERFLOW);
        }
    }
    if (ocr.new_tick10ms - ocr.old_tick10ms >= OCR_BODY_TICKS) {
        if (sys_data.diag != 0) {
            uprintf("\r\nERROR: OCR did not finish transmitting data, timeout\r\n");
        }
        return finish(OCR_UNFINISHED);
    }
    if (!got) {
        platform_idle();
    }
    return ST_OCR_BODY;
}

} // namespace

void ocr_init()
{
    uart3_init();
    uart3_setup(57600, 16000000);
    uart3_echo_set(false);
}

void ocr_open()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, GPIO_PIN_2);
    ocr.dataCnt = 1;
    ocr.state = 0;
    ocr.bufIndx = 0;
}

void ocr_close()
{
    GPIOPinWrite(GPIO_PORTL_BASE, GPIO_PIN_2, 0);
}

unsigned char ocr_getc()
{
    return uart3_rx_byte();
}

void ocr_putc(unsigned char c)
{
    uart3_tx_byte(c);
}

int ocr_rxBytesAvail()
{
    return uart3_rx_bytes_avail();
}

void ocr_flushRx()
{
    uart3_rx_bufr_flush();
}

void ocr_flushTx(bool bDiscard)
{
    uart3_tx_bufr_flush(bDiscard);
}

int ocr_write(const char* pcBuf, uint32_t ui32Len)
{
    return uart3_write(pcBuf, ui32Len);
}

int ocr_rx_str(char* pcBuf, uint32_t ui32Len)
{
    return uart3_rx_str(pcBuf, ui32Len);
}

int ocr_rx_buf(char* pcBuf, uint32_t ui32Len)
{
    return uart3_rx_buf(pcBuf, ui32Len);
}

int ocr_stateMachine(int ocrState)
{
    ocr.state = ocrState;
    switch (ocrState) {
    case ST_OCR_IDLE:
        return 0;
    case ST_OCR_INIT:
        return start();
    case ST_OCR_STARTUP:
        return startup_wait();
    case ST_OCR_POLL:
        return poll();
    case ST_OCR_FRAME:
        return frame_start();
    case ST_OCR_BODY:
        return frame_body();
    case ST_OCR_DONE:
        ocr_close();
        ocr.state = 0;
        return 0;
    default:
        uprintf("\r\nERROR: OCR statemachine error - should not get to default\r\n");
        return finish(nullptr);
    }
}

void ocr_comm_test()
{
    uprintf("\r\n\r\n*Press CTRL-X to stop communicating with the OCR-504 Instrument.\r\n\r\n");
    uprintf("\r\n Instructions for OCR-504 Configuration (silent wake, polled, short frame, calibration "
            "enabled:\r\n\r\n");
    uprintf("  Press CTRL-C to start Config mode, look for [Auto]$ prompt\r\n\r\n");
    uprintf("    [Auto]$ set -?                 [ List config params]\r\n\r\n");
    uprintf("    [Auto]$ set initsm on          [SILENT MODE ON - suppress power on header]\r\n\r\n");
    uprintf("    [Auto]$ set initat off         [AUTOTELEMETRY OFF - polled by <ENTER> or <SPACE.]\r\n\r\n");
    uprintf("    [Auto]$ set frametype short    [ASCII Data, tab delimited, terminated CR-LF]\r\n\r\n");
    uprintf("    [Auto]$ set usecal on          [ Utilize factory calibration]\r\n\r\n");
    uprintf("    [Auto]$ save                   [ Save config settings ]\r\n\r\n");
    uprintf("    [Auto]$ show all               [ Show all config settings]\r\n\r\n");
    uprintf("    [Auto]$ exit                   [ Exit to polled sampling mode, press <ENTER> to "
            "sample]\r\n\r\n");
    uprintf("\r\n\r\nWhen properly setup, press <ENTER> for output:  SATFI42247      0.1297  0.0154  -0.0071 "
            "0.0060\r\n\r\n");
    ocr_init();
    ocr_open();
    UARTEchoSet(false);
    for (;;) {
        bool busy = false;
        if (ocr_rxBytesAvail() > 0) {
            char c = static_cast<char>(ocr_getc());
            UARTwrite(&c, 1);
            busy = true;
        }
        idle_poll();
        if (UARTRxBytesAvail() > 0) {
            unsigned char c = UARTgetc();
            idle_activity();
            if (c == CTRL_X || c == CTRL_Y || c == CTRL_Z) {
                break;
            }
            ocr_putc(c);
            busy = true;
        }
        if (!busy) {
            platform_idle();
        }
    }
    UARTEchoSet(true);
    ocr_close();
}
