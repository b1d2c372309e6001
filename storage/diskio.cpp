// SPI-mode block driver of the microSD card.
//
// The card sits on SSI0: PA2 clock, PA4 data from the card (weak pull-up),
// PA5 data to the card, PA3 chip select driven as a plain output (low =
// selected).  Commands, responses and data blocks follow the SD card's SPI
// mode.  Every wait on the card is bounded by one of two 10 ms countdowns
// (Timer1, Timer2) that the system tick advances, and by a poll count as a
// backstop in case the tick is not running.
#include "storage/diskio.h"

#include "board/rtc_calendar.h"
#include "platform/platform.h"

namespace {

// Commands (0x40 + index).  ACMDn must follow CMD55.
constexpr BYTE CMD0 = 0x40;   // GO_IDLE_STATE
constexpr BYTE CMD1 = 0x41;   // SEND_OP_COND (MMC)
constexpr BYTE CMD8 = 0x48;   // SEND_IF_COND
constexpr BYTE CMD9 = 0x49;   // SEND_CSD
constexpr BYTE CMD10 = 0x4A;  // SEND_CID
constexpr BYTE CMD12 = 0x4C;  // STOP_TRANSMISSION
constexpr BYTE CMD16 = 0x50;  // SET_BLOCKLEN
constexpr BYTE CMD17 = 0x51;  // READ_SINGLE_BLOCK
constexpr BYTE CMD18 = 0x52;  // READ_MULTIPLE_BLOCK
constexpr BYTE ACMD23 = 0x57; // SET_WR_BLK_ERASE_COUNT
constexpr BYTE CMD24 = 0x58;  // WRITE_BLOCK
constexpr BYTE CMD25 = 0x59;  // WRITE_MULTIPLE_BLOCK
constexpr BYTE ACMD41 = 0x69; // SD_SEND_OP_COND
constexpr BYTE CMD55 = 0x77;  // APP_CMD
constexpr BYTE CMD58 = 0x7A;  // READ_OCR

constexpr BYTE TOKEN_START = 0xFE;       // read block, single-block write
constexpr BYTE TOKEN_START_MULTI = 0xFC; // each block of a multi-block write
constexpr BYTE TOKEN_STOP_MULTI = 0xFD;  // end of a multi-block write

constexpr UINT SECTOR_BYTES = 512;
// Highest sector a byte-addressed card can reach with a 32-bit address.
constexpr LBA_t BYTE_ADDRESS_LIMIT = 0x800000;

// Poll backstops: the timers bound every wait while the tick runs; these
// bound them when it does not (2 000 000 bytes is 1.3 s at 12.5 Mbit/s and
// 40 s at 400 kbit/s).
constexpr uint32_t POLL_LIMIT = 2000000;
constexpr uint32_t INIT_LOOP_LIMIT = 100000;

constexpr uint32_t SD_SSI = SSI0_BASE;
constexpr uint32_t SD_PORT = GPIO_PORTA_BASE;
constexpr uint8_t SD_CLK = GPIO_PIN_2;
constexpr uint8_t SD_CS = GPIO_PIN_3;
constexpr uint8_t SD_MISO = GPIO_PIN_4;
constexpr uint8_t SD_MOSI = GPIO_PIN_5;

volatile DSTATUS Stat = STA_NOINIT;
BYTE PowerFlag = 0;
volatile BYTE Timer1;
volatile BYTE Timer2;
BYTE CardType;

void SELECT()
{
    GPIOPinWrite(SD_PORT, SD_CS, 0);
}
void DESELECT()
{
    GPIOPinWrite(SD_PORT, SD_CS, SD_CS);
}

void xmit_spi(BYTE dat)
{
    platform_ssi_transfer(SD_SSI, &dat, nullptr, 1);
}

BYTE rcvr_spi()
{
    BYTE dat;
    platform_ssi_transfer(SD_SSI, nullptr, &dat, 1);
    return dat;
}

// Waits until the card releases the data line (0xFF) or 500 ms pass.
BYTE wait_ready()
{
    Timer2 = 50;
    rcvr_spi();
    BYTE res;
    uint32_t polls = 0;
    do {
        res = rcvr_spi();
    } while (res != 0xFF && Timer2 != 0 && ++polls < POLL_LIMIT);
    return res;
}

void wait_peripheral(uint32_t periph)
{
    for (int i = 0; i < 1000 && !SysCtlPeripheralReady(periph); ++i) {
    }
}

// At least 74 clocks with chip select and data in high put the card in a
// state to take its first command.
void send_initial_clock_train()
{
    DESELECT();
    GPIOPinTypeGPIOOutput(SD_PORT, SD_MOSI);
    GPIOPinWrite(SD_PORT, SD_MOSI, SD_MOSI);
    for (int i = 0; i < 10; ++i) {
        uint32_t dat;
        SSIDataPut(SD_SSI, 0xFF);
        SSIDataGet(SD_SSI, &dat);
    }
    GPIOPinTypeSSI(SD_PORT, SD_MOSI);
}

void power_on()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI0);
    SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
    wait_peripheral(SYSCTL_PERIPH_SSI0);
    wait_peripheral(SYSCTL_PERIPH_GPIOA);
    GPIOPinConfigure(GPIO_PA2_SSI0CLK);
    GPIOPinConfigure(GPIO_PA4_SSI0RX);
    GPIOPinConfigure(GPIO_PA5_SSI0TX);
    GPIOPinTypeSSI(SD_PORT, SD_CLK | SD_MISO | SD_MOSI);
    GPIOPinTypeGPIOOutput(SD_PORT, SD_CS);
    GPIOPadConfigSet(SD_PORT, SD_MISO, GPIO_STRENGTH_4MA, GPIO_PIN_TYPE_STD_WPU);
    GPIOPadConfigSet(SD_PORT, SD_CLK | SD_CS | SD_MOSI, GPIO_STRENGTH_4MA, GPIO_PIN_TYPE_STD);
    SSIConfigSetExpClk(SD_SSI, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, 400000, 8);
    SSIEnable(SD_SSI);
    send_initial_clock_train();
    PowerFlag = 1;
}

void set_max_speed()
{
    SSIDisable(SD_SSI);
    uint32_t rate = SysCtlClockGet() / 2;
    if (rate > 12500000) {
        rate = 12500000;
    }
    SSIConfigSetExpClk(SD_SSI, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, rate, 8);
    SSIEnable(SD_SSI);
}

void power_off()
{
    PowerFlag = 0;
}

BYTE chk_power()
{
    return PowerFlag;
}

// Receives a data block of `btr` bytes after its start token.
bool rcvr_datablock(BYTE* buff, UINT btr)
{
    Timer1 = 100;
    BYTE token;
    uint32_t polls = 0;
    do {
        token = rcvr_spi();
    } while (token == 0xFF && Timer1 != 0 && ++polls < POLL_LIMIT);
    if (token != TOKEN_START) {
        return false;
    }
    platform_ssi_transfer(SD_SSI, nullptr, buff, btr);
    rcvr_spi(); // CRC
    rcvr_spi();
    return true;
}

// Sends one 512-byte block with `token`, or the stop token alone.
bool xmit_datablock(const BYTE* buff, BYTE token)
{
    if (wait_ready() != 0xFF) {
        return false;
    }
    xmit_spi(token);
    if (token != TOKEN_STOP_MULTI) {
        platform_ssi_transfer(SD_SSI, buff, nullptr, SECTOR_BYTES);
        xmit_spi(0xFF); // dummy CRC
        xmit_spi(0xFF);
        BYTE resp = rcvr_spi();
        if ((resp & 0x1F) != 0x05) {
            return false;
        }
    }
    return true;
}

// Sends a command; returns its R1 response (0xFF when the card never
// became ready or never answered).
BYTE send_cmd(BYTE cmd, DWORD arg)
{
    if (wait_ready() != 0xFF) {
        return 0xFF;
    }
    xmit_spi(cmd);
    xmit_spi(static_cast<BYTE>(arg >> 24));
    xmit_spi(static_cast<BYTE>(arg >> 16));
    xmit_spi(static_cast<BYTE>(arg >> 8));
    xmit_spi(static_cast<BYTE>(arg));
    BYTE crc = 0xFF;
    if (cmd == CMD0) {
        crc = 0x95;
    } else if (cmd == CMD8) {
        crc = 0x87;
    }
    xmit_spi(crc);
    if (cmd == CMD12) {
        rcvr_spi(); // stuff byte
    }
    BYTE res;
    int n = 10;
    do {
        res = rcvr_spi();
    } while ((res & 0x80) != 0 && --n != 0);
    return res;
}

// Stops a multi-block read: sent while the card still streams data, so
// without waiting for ready.
BYTE send_cmd12()
{
    xmit_spi(CMD12);
    xmit_spi(0);
    xmit_spi(0);
    xmit_spi(0);
    xmit_spi(0);
    xmit_spi(0);
    BYTE res = 0xFF;
    for (int i = 0; i < 10; ++i) {
        BYTE b = rcvr_spi();
        if (b != 0xFF) {
            res = b;
        }
    }
    return res;
}

// Application command: CMD55 then ACMDn; the ACMD's answer, or CMD55's
// when that one failed.
bool app_cmd_ok(BYTE cmd, DWORD arg, BYTE* res)
{
    BYTE r = send_cmd(CMD55, 0);
    if (r > 1) {
        *res = r;
        return false;
    }
    *res = send_cmd(cmd, arg);
    return true;
}

BYTE identify_v2()
{
    BYTE ocr[4];
    for (BYTE& b : ocr) {
        b = rcvr_spi();
    }
    if (ocr[2] != 0x01 || ocr[3] != 0xAA) {
        return 0; // the card cannot work at 2.7-3.6 V
    }
    bool ready = false;
    for (uint32_t i = 0; i < INIT_LOOP_LIMIT; ++i) {
        BYTE r;
        if (app_cmd_ok(ACMD41, 1UL << 30, &r) && r == 0) {
            ready = true;
            break;
        }
        if (Timer1 == 0) {
            break;
        }
    }
    if (!ready || send_cmd(CMD58, 0) != 0) {
        return 0;
    }
    for (BYTE& b : ocr) {
        b = rcvr_spi();
    }
    return (ocr[0] & 0x40) != 0 ? static_cast<BYTE>(CT_SD | CT_BLOCK) : CT_SD;
}

BYTE identify_v1_or_mmc()
{
    BYTE r;
    BYTE ty = (app_cmd_ok(ACMD41, 0, &r) && r <= 1) ? CT_SD : CT_MMC;
    bool ready = false;
    for (uint32_t i = 0; i < INIT_LOOP_LIMIT; ++i) {
        if (ty == CT_SD) {
            ready = app_cmd_ok(ACMD41, 0, &r) && r == 0;
        } else {
            ready = send_cmd(CMD1, 0) == 0;
        }
        if (ready || Timer1 == 0) {
            break;
        }
    }
    if (!ready || send_cmd(CMD16, SECTOR_BYTES) != 0) {
        return 0;
    }
    return ty;
}

} // namespace

DSTATUS disk_initialize(BYTE drv)
{
    if (drv != 0) {
        return STA_NOINIT;
    }
    if ((Stat & STA_NODISK) != 0) {
        return Stat;
    }
    power_on();
    send_initial_clock_train();
    SELECT();
    BYTE ty = 0;
    if (send_cmd(CMD0, 0) == 1) {
        Timer1 = 100;
        if (send_cmd(CMD8, 0x1AA) == 1) {
            ty = identify_v2();
        } else {
            ty = identify_v1_or_mmc();
        }
    }
    CardType = ty;
    DESELECT();
    rcvr_spi();
    if (ty != 0) {
        Stat = static_cast<DSTATUS>(Stat & ~STA_NOINIT);
        set_max_speed();
    } else {
        power_off();
    }
    return Stat;
}

DSTATUS disk_status(BYTE drv)
{
    return drv != 0 ? STA_NOINIT : Stat;
}

// Checks a block transfer and turns its sector number into the card's
// address (bytes on a byte-addressed card, whose 32-bit address must not
// overflow).
static DRESULT prepare_transfer(BYTE drv, const void* buff, LBA_t* sector, UINT count, bool writing)
{
    if (drv != 0 || count == 0 || buff == nullptr) {
        return RES_PARERR;
    }
    if ((Stat & STA_NOINIT) != 0) {
        return RES_NOTRDY;
    }
    if (writing && (Stat & STA_PROTECT) != 0) {
        return RES_WRPRT;
    }
    if ((CardType & CT_BLOCK) == 0) {
        if (*sector >= BYTE_ADDRESS_LIMIT || count > BYTE_ADDRESS_LIMIT - *sector) {
            return RES_PARERR;
        }
        *sector *= SECTOR_BYTES;
    }
    return RES_OK;
}

DRESULT disk_read(BYTE drv, BYTE* buff, LBA_t sector, UINT count)
{
    DRESULT res = prepare_transfer(drv, buff, &sector, count, false);
    if (res != RES_OK) {
        return res;
    }
    SELECT();
    if (count == 1) {
        if (send_cmd(CMD17, sector) == 0 && rcvr_datablock(buff, SECTOR_BYTES)) {
            count = 0;
        }
    } else if (send_cmd(CMD18, sector) == 0) {
        do {
            if (!rcvr_datablock(buff, SECTOR_BYTES)) {
                break;
            }
            buff += SECTOR_BYTES;
        } while (--count != 0);
        send_cmd12();
    }
    DESELECT();
    rcvr_spi();
    return count != 0 ? RES_ERROR : RES_OK;
}

DRESULT disk_write(BYTE drv, const BYTE* buff, LBA_t sector, UINT count)
{
    DRESULT res = prepare_transfer(drv, buff, &sector, count, true);
    if (res != RES_OK) {
        return res;
    }
    SELECT();
    if (count == 1) {
        if (send_cmd(CMD24, sector) == 0 && xmit_datablock(buff, TOKEN_START)) {
            count = 0;
        }
    } else {
        if ((CardType & CT_SD) != 0) {
            send_cmd(CMD55, 0);
            send_cmd(ACMD23, count);
        }
        if (send_cmd(CMD25, sector) == 0) {
            do {
                if (!xmit_datablock(buff, TOKEN_START_MULTI)) {
                    break;
                }
                buff += SECTOR_BYTES;
            } while (--count != 0);
            if (!xmit_datablock(nullptr, TOKEN_STOP_MULTI)) {
                count = 1;
            }
        }
    }
    DESELECT();
    rcvr_spi();
    return count != 0 ? RES_ERROR : RES_OK;
}

DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    if (drv != 0) {
        return RES_PARERR;
    }
    BYTE* ptr = static_cast<BYTE*>(buff);
    if (ctrl == CTRL_POWER) {
        if (ptr == nullptr) {
            return RES_PARERR;
        }
        switch (ptr[0]) {
        case 0:
            if (chk_power() != 0) {
                power_off();
            }
            return RES_OK;
        case 1:
            power_on();
            return RES_OK;
        case 2:
            ptr[1] = chk_power();
            return RES_OK;
        default:
            return RES_PARERR;
        }
    }
    if ((Stat & STA_NOINIT) != 0) {
        return RES_NOTRDY;
    }
    if (ptr == nullptr && ctrl != CTRL_SYNC) {
        return RES_PARERR;
    }
    DRESULT res = RES_ERROR;
    BYTE csd[16];
    SELECT();
    switch (ctrl) {
    case CTRL_SYNC:
        if (wait_ready() == 0xFF) {
            res = RES_OK;
        }
        break;
    case GET_SECTOR_COUNT:
        if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(csd, 16)) {
            LBA_t sectors;
            if ((csd[0] >> 6) == 1) {
                DWORD csize = csd[9] + (static_cast<DWORD>(csd[8]) << 8) + 1;
                sectors = csize << 10;
            } else {
                unsigned n =
                    static_cast<unsigned>((csd[5] & 15) + ((csd[10] & 128) >> 7) + ((csd[9] & 3) << 1) + 2);
                DWORD csize = (csd[8] >> 6) + (static_cast<DWORD>(csd[7]) << 2) +
                              (static_cast<DWORD>(csd[6] & 3) << 10) + 1;
                sectors = n >= 9 ? csize << (n - 9) : csize >> (9 - n);
            }
            *static_cast<LBA_t*>(buff) = sectors;
            res = RES_OK;
        }
        break;
    case GET_SECTOR_SIZE:
        *static_cast<WORD*>(buff) = SECTOR_BYTES;
        res = RES_OK;
        break;
    case MMC_GET_CSD:
        if (send_cmd(CMD9, 0) == 0 && rcvr_datablock(ptr, 16)) {
            res = RES_OK;
        }
        break;
    case MMC_GET_CID:
        if (send_cmd(CMD10, 0) == 0 && rcvr_datablock(ptr, 16)) {
            res = RES_OK;
        }
        break;
    default:
        res = RES_PARERR;
        break;
    }
    DESELECT();
    rcvr_spi();
    return res;
}

void disk_timerproc()
{
    BYTE n = Timer1;
    if (n != 0) {
        Timer1 = static_cast<BYTE>(n - 1);
    }
    n = Timer2;
    if (n != 0) {
        Timer2 = static_cast<BYTE>(n - 1);
    }
}

BYTE disk_card_type()
{
    return CardType;
}

DWORD get_fattime()
{
    const struct tm* t = rtc_gmtime(HibernateRTCGet());
    int years = t->tm_year - 80;
    if (years < 0) {
        return (1u << 21) | (1u << 16); // 1980-01-01 00:00:00
    }
    if (years > 127) {
        years = 127;
    }
    return (static_cast<DWORD>(years) << 25) | (static_cast<DWORD>(t->tm_mon + 1) << 21) |
           (static_cast<DWORD>(t->tm_mday) << 16) | (static_cast<DWORD>(t->tm_hour) << 11) |
           (static_cast<DWORD>(t->tm_min) << 5) | (static_cast<DWORD>(t->tm_sec) >> 1);
}
