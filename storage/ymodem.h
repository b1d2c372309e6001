// YMODEM transfer of card files over the console line (UART0): the file
// shell's ys (send) and yr (receive) commands.
#pragma once

#include <cstdint>

// Protocol bytes.
constexpr uint8_t SOH = 0x01; // 128-byte block
constexpr uint8_t STX = 0x02; // 1024-byte block
constexpr uint8_t EOT = 0x04;
constexpr uint8_t ACK = 0x06;
constexpr uint8_t NAK = 0x15;
constexpr uint8_t CAN = 0x18;
constexpr uint8_t CRC_REQUEST = 'C';

// Largest file the receiver takes (declared size, bytes).
constexpr uint32_t YMODEM_MAX_RECEIVE_SIZE = 1024000;

// Why the receiver gave up.
enum ymodem_error {
    FILE_OPEN_ERROR = 0,
    FILE_WRITE_ERROR = 1,
    FILE_SIZE_ERROR = 2,
    PACKET_TIMEOUT_ERROR = 3,
    PACKET_CRC_ERRORS = 4,
    TRANSFER_CANCELLED = 5, // the sender cancelled (two CAN pairs)
    FILE_INCOMPLETE = 6,    // the sender ended a file short of its declared size
};

// Sends the card file named by argv[1].  The f_open result when the file
// cannot be opened, otherwise 0 (a failed transfer prints its own line).
int ymodem_send(int argc, char* argv[]);
// Receives a batch of files into the card.  Always 0.
int ymodem_receive(int argc, char* argv[]);

// One block: a 128-byte SOH block when block_no is 0, else a 1024-byte STX
// block numbered block_no (low 8 bits), with its CRC.
void send_packet(const uint8_t* data, int block_no);
// The header block: name, NUL, size in decimal; all NUL (end of batch) when
// filename is null.
void send_packet0(const char* filename, uint32_t size);
// Sends the open file's contents, EOT and the end-of-batch header.
int send_data_packets(uint32_t file_size);

// CRC-16/XMODEM (polynomial 0x1021, initial 0).
uint16_t crc16(const uint8_t* buf, uint32_t count);
// Decimal text of val (static buffer, overwritten by the next call).
const char* u32_to_str(uint32_t val);
// Leading spaces skipped, then decimal digits up to the first non-digit;
// a value beyond 32 bits gives 0xFFFFFFFF.
uint32_t str_to_u32(const char* str);
