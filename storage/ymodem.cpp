// YMODEM over the console line.  Protocol bytes go straight into UART0's
// transmit FIFO (UARTCharPut), bypassing the console ring; received bytes
// come from the console's receive ring with time-limited reads.  Console
// echo is off for the whole transfer.  Block traces go to the debug output
// channel (platform_debug_write), never to the console line.
#include "storage/ymodem.h"

#include "board/board_util.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "serial/uartstdio.h"
#include "storage/fatfs/ff.h"
#include "storage/microsd.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t BLOCK_SHORT = 128;
constexpr uint32_t BLOCK_LONG = 1024;
constexpr uint8_t PAD = 0x1A; // filler after the end of a file in its last block

// Sender limits.
constexpr int SEND_NAME_MAX = 30;                  // characters of the name argument
constexpr int HEADER_NAME_MAX = 110;               // characters of the name in the header
constexpr int HANDSHAKE_TRIES = 120;               // 'C' waits of 250 ms: 30 s in all
constexpr unsigned long HANDSHAKE_WAIT_TICKS = 25; // one of them
constexpr int HEADER_TRIES = 11;                   // header sends
constexpr int BLOCK_SENDS = 12;                    // sends of one data block
constexpr int END_REPEATS = 10;                    // EOTs, end-of-batch headers
constexpr int ANSWER_TIMEOUT_S = 10;               // wait for an answer
constexpr int RESEND_QUIET_S = 2;                  // receiver quiet before a block is sent again
constexpr int RESEND_WAIT_MAX = 10;                // bytes discarded waiting for that quiet
// Receiver limits.
constexpr int RX_NAME_MAX = 64;                 // characters of a received name
constexpr int RX_SIZE_TEXT_MAX = 16;            // characters of the size field
constexpr int START_TRIES = 60;                 // 'C' sent once a second until the sender starts
constexpr int BYTE_TIMEOUT_S = 10;              // silence between blocks
constexpr unsigned long BLOCK_GAP_TICKS = 100;  // 1 s without a byte inside a block
constexpr unsigned long PURGE_QUIET_TICKS = 20; // 200 ms of quiet ends a purge
constexpr int BAD_BLOCKS_MAX = 10;              // bad blocks in a row
constexpr uint32_t NO_PROGRESS_S = 60;          // line busy without one good block
// Name under which a file is received until it is complete.
constexpr const char* RX_TEMP_NAME = "/~YMRECV.TMP";

uint8_t packet_data[3 + BLOCK_LONG + 2];
FIL FileObject;
char s_u32_text[11];
char s_debug_buf[128];

void debug_out(const char* format, ...) __attribute__((format(printf, 1, 2)));
void debug_out(const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(s_debug_buf, sizeof s_debug_buf, format, ap);
    va_end(ap);
    if (n > 0) {
        platform_debug_write(s_debug_buf, static_cast<uint32_t>(std::strlen(s_debug_buf)));
    }
}

// CRC-16/XMODEM of one more byte.
uint16_t crc16_step(uint16_t crc, uint8_t byte)
{
    crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(byte) << 8));
    for (int i = 0; i < 8; ++i) {
        crc = (crc & 0x8000u) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021u)
                                   : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

void send_byte(uint8_t c)
{
    UARTCharPut(UART0_BASE, c);
}

// Ends a transfer: the peer's bytes still on their way (the rest of a
// block, its own cancel sequence) are left to arrive and are discarded, so
// that the shell does not read them as commands.
void settle_line()
{
    delay_msec(1000);
    UARTFlushRx();
}

// Waits up to `seconds` for a byte to be waiting, without taking it.
bool byte_waiting_within(int seconds)
{
    Timer_10ms(1);
    while (Timer_10ms(0) <= static_cast<unsigned long>(seconds) * 100u) {
        if (UARTRxBytesAvail() > 0) {
            return true;
        }
        platform_idle();
    }
    return UARTRxBytesAvail() > 0;
}

// The last path component of `path`.
const char* base_name(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    return base;
}

// --- Receiver ----------------------------------------------------------------------

struct RxFile {
    bool open;                  // the temporary file is open
    char name[RX_NAME_MAX + 1]; // name from the header
    bool size_known;            // the header gave a size
    uint32_t declared;          // size from the header
    uint32_t written;           // bytes written so far
};

RxFile s_rx;

// The next byte within `ticks` 10 ms ticks; -1 when none came.
int byte_within(unsigned long ticks)
{
    Timer_10ms(1);
    while (Timer_10ms(0) <= ticks) {
        if (UARTRxBytesAvail() > 0) {
            return UARTgetc();
        }
        platform_idle();
    }
    return -1;
}

// Reads the rest of a block.  A sender writes a block without pauses, so a
// gap inside it means that bytes were lost on the line: the block is
// incomplete (false).
bool read_bytes(uint8_t* dst, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        int c = byte_within(BLOCK_GAP_TICKS);
        if (c < 0) {
            return false;
        }
        dst[i] = static_cast<uint8_t>(c);
    }
    return true;
}

// Before a NAK: lets the rest of a block that was not read as one go by
// (a block start lost on the line leaves its data behind), so that the
// repeated block is read from its start.
void purge_until_quiet()
{
    for (uint32_t n = 0; n < 2 * (3 + BLOCK_LONG + 2) && byte_within(PURGE_QUIET_TICKS) >= 0; ++n) {
    }
}

bool same_name(const char* a, const char* b)
{
    while (*a == '/') {
        ++a;
    }
    while (*b == '/') {
        ++b;
    }
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char ca = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
        char cb = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
        if (ca != cb) {
            return false;
        }
    }
    return *a == *b;
}

// Header block: opens the temporary file for the announced one.  Returns
// -1 when accepted, else the reason to give up.
int start_file(const uint8_t* data, uint32_t len)
{
    uint32_t n = 0;
    while (n < len && data[n] != 0) {
        ++n;
    }
    if (n > static_cast<uint32_t>(RX_NAME_MAX) || n == len) {
        debug_out("header name too long\n");
        return FILE_OPEN_ERROR;
    }
    std::memcpy(s_rx.name, data, n);
    s_rx.name[n] = '\0';

    char size_text[RX_SIZE_TEXT_MAX + 1];
    uint32_t k = 0;
    for (uint32_t i = n + 1; i < len && k < static_cast<uint32_t>(RX_SIZE_TEXT_MAX); ++i, ++k) {
        if (data[i] == ' ' || data[i] == 0) {
            break;
        }
        size_text[k] = static_cast<char>(data[i]);
    }
    size_text[k] = '\0';
    s_rx.size_known = size_text[0] >= '0' && size_text[0] <= '9';
    s_rx.declared = s_rx.size_known ? str_to_u32(size_text) : 0;
    s_rx.written = 0;
    if (s_rx.declared > YMODEM_MAX_RECEIVE_SIZE) {
        return FILE_SIZE_ERROR;
    }

    debug_out("\n\nOpening filename = %s\n", s_rx.name);
    // The name must be usable before anything is written: an existing
    // directory or read-only file, a missing folder or an invalid name is
    // refused now.
    FILINFO info;
    FRESULT fr = f_stat(s_rx.name, &info);
    if (fr == FR_OK && (info.fattrib & (AM_DIR | AM_RDO)) != 0) {
        fr = FR_DENIED;
    } else if (fr == FR_NO_FILE) {
        fr = FR_OK;
    }
    if (fr == FR_OK && same_name(s_rx.name, RX_TEMP_NAME)) {
        fr = FR_INVALID_NAME;
    }
    if (fr == FR_OK) {
        fr = f_open(&FileObject, RX_TEMP_NAME, FA_CREATE_ALWAYS | FA_WRITE | FA_READ);
    }
    if (fr != FR_OK) {
        debug_out("f_open error: %s\n", StringFromFresult(fr));
        return FILE_OPEN_ERROR;
    }
    s_rx.open = true;
    return -1;
}

// Data block: writes the part of it that belongs to the file.  Returns -1
// when written, else the reason to give up.
int write_block(const uint8_t* data, uint32_t len)
{
    uint32_t take = len;
    if (s_rx.size_known) {
        uint32_t left = s_rx.declared - s_rx.written;
        take = left < len ? left : len;
    }
    if (!s_rx.open || take == 0) {
        return -1;
    }
    UINT bw = 0;
    FRESULT fr = f_write(&FileObject, data, take, &bw);
    if (fr != FR_OK || bw != take) {
        // A full card gives FR_OK with fewer bytes written.
        debug_out("f_write error: %s (%u of %u bytes)\n", StringFromFresult(fr), static_cast<unsigned>(bw),
                  static_cast<unsigned>(take));
        return FILE_WRITE_ERROR;
    }
    s_rx.written += take;
    return -1;
}

// End of a file: the complete temporary file takes the announced name,
// replacing any file of that name.  Returns -1 when done, else the reason.
int finish_file()
{
    if (!s_rx.open) {
        return -1;
    }
    if (s_rx.size_known && s_rx.written < s_rx.declared) {
        return FILE_INCOMPLETE;
    }
    s_rx.open = false;
    FRESULT fr = f_close(&FileObject);
    if (fr == FR_OK) {
        fr = f_unlink(s_rx.name);
        if (fr == FR_NO_FILE) {
            fr = FR_OK;
        }
    }
    if (fr == FR_OK) {
        fr = f_rename(RX_TEMP_NAME, s_rx.name);
    }
    if (fr != FR_OK) {
        debug_out("f_rename error: %s\n", StringFromFresult(fr));
        f_unlink(RX_TEMP_NAME);
        return FILE_WRITE_ERROR;
    }
    return -1;
}

// Files of the current batch already stored: the receiver reports them
// when the batch stops early, since they are on the card.
struct BatchDone {
    int files;
    char first[RX_NAME_MAX + 1];
    char last[RX_NAME_MAX + 1];
    uint32_t last_size;
};
BatchDone s_done;

int receive_abort(int reason)
{
    wait_consoleTx();
    send_byte(CAN);
    send_byte(CAN);
    settle_line();
    uprintf("\r\nYmodem aborted: ");
    switch (reason) {
    case FILE_OPEN_ERROR:
        uprintf("File open error\r\n");
        break;
    case FILE_WRITE_ERROR:
        uprintf("File write error\r\n");
        break;
    case FILE_SIZE_ERROR:
        uprintf("File size larger than: %d kB\r\n", static_cast<int>(YMODEM_MAX_RECEIVE_SIZE / 1024));
        break;
    case PACKET_TIMEOUT_ERROR:
        uprintf("Packet timeout error\r\n");
        break;
    case PACKET_CRC_ERRORS:
        uprintf("Too many bad packets\r\n");
        break;
    case TRANSFER_CANCELLED:
        uprintf("Cancelled by the sender\r\n");
        break;
    case FILE_INCOMPLETE:
        uprintf("File incomplete (%lu of %lu bytes)\r\n", static_cast<unsigned long>(s_rx.written),
                static_cast<unsigned long>(s_rx.declared));
        break;
    default:
        break;
    }
    if (s_rx.open) {
        s_rx.open = false;
        f_close(&FileObject);
        f_unlink(RX_TEMP_NAME);
    }
    if (s_done.files == 1) {
        uprintf("Stored before the stop: %s\r\n", s_done.first);
    } else if (s_done.files > 1) {
        uprintf("Stored before the stop: %d files, %s to %s in the order sent\r\n", s_done.files,
                s_done.first, s_done.last);
    }
    UARTEchoSet(true);
    return 0;
}

// --- Sender ------------------------------------------------------------------------

// Waits up to `seconds` for the next byte; -1 when none came.
int answer(int seconds)
{
    return getchar_timed(seconds);
}

// An answer of the receiver where a cancel may come: a CAN followed by a
// second CAN within a second is RECEIVER_CANCEL; after a lone CAN the next
// byte is the answer (the CAN was noise).
constexpr int RECEIVER_CANCEL = -2;
int cancel_or(int c)
{
    if (c != CAN) {
        return c;
    }
    c = answer(1);
    return c == CAN ? RECEIVER_CANCEL : c;
}

int answer_or_cancel(int seconds)
{
    return cancel_or(answer(seconds));
}

// After a refused block: waits until the receiver has been quiet for a
// while, discarding what it sends meanwhile, so that the block is sent again
// only when the receiver has finished purging its input and waits for a
// block start.  (A receiver that missed the first byte of a block reads the
// rest as noise and may purge only part of it - lrzsz purges at most 1000
// bytes -; a block sent at once would then meet the purge again, and sender
// and receiver would stay out of step for good.)  Returns false when the
// receiver cancelled.
bool wait_receiver_quiet()
{
    for (int i = 0; i < RESEND_WAIT_MAX; ++i) {
        int c = answer(RESEND_QUIET_S);
        if (c < 0) {
            return true;
        }
        if (c == CAN) {
            return false;
        }
    }
    return true;
}

// Reads the file's next block into the packet buffer, the part after the
// end of the file filled with PAD.
FRESULT read_block(UINT* br)
{
    *br = 0;
    FRESULT fr = f_read(&FileObject, packet_data + 3, BLOCK_LONG, br);
    if (fr == FR_OK) {
        std::memset(packet_data + 3 + *br, PAD, BLOCK_LONG - *br);
    }
    return fr;
}

} // namespace

uint16_t crc16(const uint8_t* buf, uint32_t count)
{
    uint16_t crc = 0;
    while (count-- > 0) {
        crc = crc16_step(crc, *buf++);
    }
    return crc;
}

const char* u32_to_str(uint32_t val)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + val % 10);
        val /= 10;
    } while (val != 0);
    for (int i = 0; i < n; ++i) {
        s_u32_text[i] = digits[n - 1 - i];
    }
    s_u32_text[n] = '\0';
    return s_u32_text;
}

uint32_t str_to_u32(const char* str)
{
    while (*str == ' ') {
        ++str;
    }
    uint64_t val = 0;
    for (; *str >= '0' && *str <= '9'; ++str) {
        val = val * 10 + static_cast<uint64_t>(*str - '0');
        if (val > 0xFFFFFFFFull) {
            return 0xFFFFFFFFu;
        }
    }
    return static_cast<uint32_t>(val);
}

void send_packet(const uint8_t* data, int block_no)
{
    debug_out("sending block %d\n", block_no);
    const uint32_t size = block_no == 0 ? BLOCK_SHORT : BLOCK_LONG;
    packet_data[0] = block_no == 0 ? SOH : STX;
    packet_data[1] = static_cast<uint8_t>(block_no);
    packet_data[2] = static_cast<uint8_t>(~block_no);
    if (data != packet_data + 3) {
        std::memmove(packet_data + 3, data, size);
    }
    // The CRC is computed byte by byte as the block goes out: the line,
    // not the computation, sets the pace, and the first byte leaves at once.
    uint16_t crc = 0;
    for (uint32_t i = 0; i < 3; ++i) {
        send_byte(packet_data[i]);
    }
    for (uint32_t i = 3; i < size + 3; ++i) {
        crc = crc16_step(crc, packet_data[i]);
        send_byte(packet_data[i]);
    }
    packet_data[3 + size] = static_cast<uint8_t>(crc >> 8);
    packet_data[4 + size] = static_cast<uint8_t>(crc);
    send_byte(packet_data[3 + size]);
    send_byte(packet_data[4 + size]);
}

void send_packet0(const char* filename, uint32_t size)
{
    uint8_t* block = packet_data + 3;
    std::memset(block, 0, BLOCK_SHORT);
    if (filename != nullptr) {
        std::size_t n = strnlen(filename, HEADER_NAME_MAX);
        std::memcpy(block, filename, n);
        const char* digits = u32_to_str(size);
        std::memcpy(block + n + 1, digits, std::strlen(digits));
    }
    send_packet(block, 0);
}

int send_data_packets(uint32_t file_size)
{
    (void)file_size;
    UINT br = 0;
    FRESULT fr = read_block(&br);
    for (int block_no = 1; fr == FR_OK && br > 0; ++block_no) {
        // The block's place in the file, to read it again for a repeat.
        const FSIZE_t at = f_tell(&FileObject) - br;
        const bool last = br < BLOCK_LONG;
        bool acked = false;
        bool ahead = false; // the buffer holds the next block
        UINT next_br = 0;
        FRESULT next_fr = FR_OK;
        for (int sends = 0; sends < BLOCK_SENDS && !acked; ++sends) {
            if (ahead) {
                ahead = false;
                fr = f_lseek(&FileObject, at);
                if (fr == FR_OK) {
                    fr = read_block(&br);
                }
                if (fr != FR_OK) {
                    break;
                }
            }
            send_packet(packet_data + 3, block_no);
            debug_out("sent block %d\n", block_no);
            // The next block is read from the card while this one's last
            // bytes leave the transmit FIFO and the receiver checks it, so
            // that it can follow the acknowledgement at once.  (The buffer
            // is free: every byte of the block is in the FIFO by now.)
            if (!last) {
                next_fr = read_block(&next_br);
                ahead = true;
            }
            int response = answer(ANSWER_TIMEOUT_S);
            if (response < 0) {
                debug_out("response = -1\n");
            } else {
                debug_out("response = %02X\n", static_cast<unsigned>(response));
            }
            if (response == CAN) {
                return -1;
            }
            acked = response == ACK;
            if (!acked && response >= 0 && !wait_receiver_quiet()) {
                return -1;
            }
        }
        if (fr != FR_OK || !acked) {
            break;
        }
        if (last) {
            br = 0;
        } else {
            fr = next_fr;
            br = next_br;
        }
    }
    if (fr != FR_OK) {
        uprintf("f_read error: %s\r\n", StringFromFresult(fr));
        return -1;
    }
    if (br > 0) {
        return -1; // a block that was not acknowledged
    }

    // End of the file, then end of the batch.  Each repeats after a wrong
    // answer, a bounded number of times.
    bool eot_acked = false;
    for (int i = 0; i < END_REPEATS; ++i) {
        send_byte(EOT);
        int response = answer(ANSWER_TIMEOUT_S);
        if (response == ACK) {
            eot_acked = true;
            break;
        }
        if (response < 0) {
            break;
        }
    }
    if (eot_acked && answer(ANSWER_TIMEOUT_S) == CRC_REQUEST) {
        for (int i = 0; i < END_REPEATS; ++i) {
            send_packet0(nullptr, 0);
            int response = answer(ANSWER_TIMEOUT_S);
            if (response == ACK || response < 0) {
                break;
            }
        }
    }
    return 0;
}

int ymodem_send(int argc, char* argv[])
{
    if (argc < 2) {
        uprintf("Missing argument: ys NAME\r\n");
        return 0;
    }
    if (std::strlen(argv[1]) > static_cast<std::size_t>(SEND_NAME_MAX)) {
        uprintf("ys: name longer than %d characters\r\n", SEND_NAME_MAX);
        return 0;
    }
    UARTEchoSet(false);
    char filename[SEND_NAME_MAX + 1];
    std::strcpy(filename, argv[1]);
    debug_out("\n\nfilename = %s\n", filename);

    int result = 0;
    bool open = false;
    bool sent = false;
    FRESULT fr = f_open(&FileObject, filename, FA_READ);
    if (fr != FR_OK) {
        debug_out("f_open error: %s\n", StringFromFresult(fr));
        // The shell prints the code by name.
        result = fr;
    } else {
        open = true;
        const uint32_t size = static_cast<uint32_t>(f_size(&FileObject));
        debug_out("File size = %lu\n", static_cast<unsigned long>(size));
        uprintf("Ymodem sending %s, %lu bytes...\r\n", filename, static_cast<unsigned long>(size));
        // Protocol bytes bypass the console ring: the text goes first.
        // Then the handshake starts at once, a 'C' every 250 ms: a receiver
        // that waits for the line to fall quiet (lrzsz's rb, for 1 s) before
        // it asks answers the next one at once.
        wait_consoleTx();
        UARTFlushRx();

        // A receiver's cancel (CAN CAN) ends the send in every phase, the
        // handshake and the header included.
        bool ready = false;
        bool cancelled = false;
        for (int i = 0; i < HANDSHAKE_TRIES && !ready && !cancelled; ++i) {
            send_byte(CRC_REQUEST);
            const int a = cancel_or(byte_within(HANDSHAKE_WAIT_TICKS));
            ready = a == CRC_REQUEST;
            cancelled = a == RECEIVER_CANCEL;
        }
        for (int i = 0; ready && !sent && !cancelled && i < HEADER_TRIES; ++i) {
            send_packet0(base_name(filename), size);
            int a = answer_or_cancel(ANSWER_TIMEOUT_S);
            if (a == ACK) {
                a = answer_or_cancel(ANSWER_TIMEOUT_S);
                if (a == CRC_REQUEST) {
                    a = ACK;
                } else if (a != RECEIVER_CANCEL) {
                    a = -1;
                }
            }
            cancelled = a == RECEIVER_CANCEL;
            if (a != ACK) {
                continue;
            }
            // A failed transfer is reported by the abort's own line.
            if (send_data_packets(size) != 0) {
                break;
            }
            sent = true;
        }
    }

    if (sent) {
        // The peer's program leaves the line to the terminal again first.
        settle_line();
        uprintf("\r\nSent: %s\r\n", filename);
    } else {
        // Text still in the console ring goes out before the cancel.
        wait_consoleTx();
        send_byte(CAN);
        send_byte(CAN);
        settle_line();
        uprintf("\nYmodem aborted\n");
    }
    if (open) {
        f_close(&FileObject);
    }
    UARTEchoSet(true);
    return result;
}

int ymodem_receive(int /*argc*/, char* /*argv*/[])
{
    uprintf("Ymodem rcv:\r\n");
    UARTEchoSet(false);
    // Protocol bytes bypass the console ring: let the text go first.
    wait_consoleTx();
    s_rx = RxFile{};
    s_done = BatchDone{};

    // Ask for CRC mode once a second until the sender starts.
    bool started = false;
    for (int i = 0; i < START_TRIES && !started; ++i) {
        send_byte(CRC_REQUEST);
        started = byte_waiting_within(1);
    }
    if (!started) {
        return receive_abort(PACKET_TIMEOUT_ERROR);
    }

    uint32_t block_count = 0; // blocks accepted in the current file, header included
    int cancel_pairs = 0;
    int bad_blocks = 0;
    uint32_t progress_at = HibernateRTCGet();

    for (;;) {
        if (HibernateRTCGet() - progress_at > NO_PROGRESS_S) {
            return receive_abort(PACKET_TIMEOUT_ERROR);
        }
        int c = getchar_timed(BYTE_TIMEOUT_S / 2);
        if (c < 0) {
            // Half the silence allowed: a sender that missed the last
            // acknowledgement is still waiting for it.  A NAK (or, before a
            // header, a 'C') makes it send again at once.  The silence bound
            // stays the same.
            send_byte(block_count == 0 ? CRC_REQUEST : NAK);
            c = getchar_timed(BYTE_TIMEOUT_S - BYTE_TIMEOUT_S / 2);
        }
        if (c < 0) {
            return receive_abort(PACKET_TIMEOUT_ERROR);
        }
        if (c == SOH || c == STX) {
            const uint32_t len = c == SOH ? BLOCK_SHORT : BLOCK_LONG;
            packet_data[0] = static_cast<uint8_t>(c);
            const bool complete = read_bytes(packet_data + 1, len + 4);
            const uint8_t number = packet_data[1];
            const uint8_t* data = packet_data + 3;
            const bool good = complete && crc16(data, len + 2) == 0;
            if (good && number == static_cast<uint8_t>(block_count)) {
                bad_blocks = 0;
                progress_at = HibernateRTCGet();
                if (block_count == 0) {
                    if (data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0) {
                        // End of the batch.  The sender's program leaves
                        // the line to the terminal again before the result.
                        send_byte(ACK);
                        settle_line();
                        UARTEchoSet(true);
                        if (s_done.files == 1) {
                            uprintf("\r\nReceived: %s, %lu bytes\r\n", s_done.last,
                                    static_cast<unsigned long>(s_done.last_size));
                        } else if (s_done.files > 1) {
                            uprintf("\r\nReceived %d files, the last: %s, %lu bytes\r\n", s_done.files,
                                    s_done.last, static_cast<unsigned long>(s_done.last_size));
                        }
                        return 0;
                    }
                    int reason = start_file(data, len);
                    if (reason >= 0) {
                        return receive_abort(reason);
                    }
                    ++block_count;
                    send_byte(ACK);
                    send_byte(CRC_REQUEST);
                } else {
                    // Acknowledged before it is written: the sender sends
                    // the next block while the card takes this one (the
                    // receive ring holds what arrives meanwhile).  A write
                    // that fails cancels the transfer in place of the next
                    // acknowledgement.
                    ++block_count;
                    send_byte(ACK);
                    int reason = write_block(data, len);
                    if (reason >= 0) {
                        return receive_abort(reason);
                    }
                }
            } else if (good && block_count > 0 && number == static_cast<uint8_t>(block_count - 1)) {
                // The sender missed the acknowledgement: acknowledge the
                // repeat again and drop its data.
                bad_blocks = 0;
                progress_at = HibernateRTCGet();
                send_byte(ACK);
                if (block_count == 1) {
                    send_byte(CRC_REQUEST);
                }
            } else {
                if (++bad_blocks >= BAD_BLOCKS_MAX) {
                    return receive_abort(PACKET_CRC_ERRORS);
                }
                if (complete) {
                    purge_until_quiet();
                }
                send_byte(NAK);
            }
        } else if (c == EOT) {
            send_byte(NAK);
            if (getchar_timed(BYTE_TIMEOUT_S) == EOT) {
                int reason = finish_file();
                if (reason >= 0) {
                    return receive_abort(reason);
                }
                if (block_count > 0) {
                    if (++s_done.files == 1) {
                        std::strcpy(s_done.first, s_rx.name);
                    }
                    std::strcpy(s_done.last, s_rx.name);
                    s_done.last_size = s_rx.written;
                }
                progress_at = HibernateRTCGet();
                send_byte(ACK);
                send_byte(CRC_REQUEST);
                block_count = 0;
            } else {
                send_byte(NAK);
            }
        } else if (c == CAN) {
            if (getchar_timed(BYTE_TIMEOUT_S) == CAN) {
                if (++cancel_pairs >= 2) {
                    return receive_abort(TRANSFER_CANCELLED);
                }
            } else {
                send_byte(NAK);
            }
        }
        // Any other byte is line noise: ignored.
    }
}
