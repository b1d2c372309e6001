// microSD data logging: the layer the firmware uses on top of the FAT file
// system module.  Every write opens, writes and closes its file, so no file
// stays open between records.
#include "storage/microsd.h"

#include "board/board_util.h"
#include "board/rtc_calendar.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "records/system_data.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

int microSD_flg;

namespace {

FATFS g_sFatFs;

struct FresultString {
    FRESULT fresult;
    const char* pcResultStr;
};

const FresultString g_sFresultStrings[] = {
    {FR_OK, "FR_OK"},
    {FR_NOT_READY, "FR_NOT_READY"},
    {FR_NO_FILE, "FR_NO_FILE"},
    {FR_NO_PATH, "FR_NO_PATH"},
    {FR_INVALID_NAME, "FR_INVALID_NAME"},
    {FR_INVALID_DRIVE, "FR_INVALID_DRIVE"},
    {FR_DENIED, "FR_DENIED"},
    {FR_EXIST, "FR_EXIST"},
    {FR_WRITE_PROTECTED, "FR_WRITE_PROTECTED"},
    {FR_NOT_ENABLED, "FR_NOT_ENABLED"},
    {FR_NO_FILESYSTEM, "FR_NO_FILESYSTEM"},
    {FR_INVALID_OBJECT, "FR_INVALID_OBJECT"},
    {FR_MKFS_ABORTED, "FR_MKFS_ABORTED"},
};

constexpr const char* ERROR_FILE = "Error.txt";

// A write that the card could not take in full (FatFs reports a full volume
// as FR_OK with fewer bytes written).  `prefix` names the file in the
// message as the other messages of the same sequence do.
void report_short_write(const char* prefix, UINT written, UINT len)
{
    uprintf("%sf_write error: card full (%u of %u bytes written, cut off)\r\n", prefix, written, len);
}

// Cuts the open file back to `size`: the bytes of a record that did not fit
// go again, so the file holds whole records only.
void cut_back(FIL* fil, FSIZE_t size, const char* prefix)
{
    FRESULT fr = f_lseek(fil, size);
    if (fr == FR_OK) {
        fr = f_truncate(fil);
    }
    if (fr != FR_OK) {
        uprintf("%sf_truncate error: %s\r\n", prefix, StringFromFresult(fr));
    }
}

// The data file's remembered end, read from FRAM at the first append after
// a reset and kept in step with every store.
appendPosition g_end;
bool g_end_read = false;
bool g_end_valid = false;
FFHINT g_hint;

static_assert(sizeof g_end.pos == sizeof(FFHINT));

const FFHINT* data_file_hint(const char* name)
{
    if (!g_end_read) {
        g_end_valid = retrieveAppendPosition(&g_end);
        g_end_read = true;
    }
    if (!g_end_valid || std::strncmp(g_end.fileName, name, sizeof g_end.fileName) != 0) {
        return nullptr;
    }
    std::memcpy(&g_hint, g_end.pos, sizeof g_hint);
    return &g_hint;
}

} // namespace

void Init_SDCard()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI0);
    SysCtlPeripheralEnable(SYSCTL_PERIPH_GPIOA);
    for (int i = 0; i < 1000 && !SysCtlPeripheralReady(SYSCTL_PERIPH_SSI0); ++i) {
    }
    GPIOPinConfigure(GPIO_PA2_SSI0CLK);
    GPIOPinConfigure(GPIO_PA4_SSI0RX);
    GPIOPinConfigure(GPIO_PA5_SSI0TX);
    // The frame select line is the card's chip select, driven by the block
    // driver as a plain output; it starts deselected.
    GPIOPinTypeSSI(GPIO_PORTA_BASE, GPIO_PIN_2 | GPIO_PIN_4 | GPIO_PIN_5);
    GPIOPinTypeGPIOOutput(GPIO_PORTA_BASE, GPIO_PIN_3);
    GPIOPinWrite(GPIO_PORTA_BASE, GPIO_PIN_3, GPIO_PIN_3);
    SSIConfigSetExpClk(SSI0_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, 1000000, 8);
    SSIEnable(SSI0_BASE);

    // Drain the receive FIFO (it holds at most eight frames).
    uint32_t discard;
    for (int i = 0; i < 16 && SSIDataGetNonBlocking(SSI0_BASE, &discard) != 0; ++i) {
    }

    FRESULT fr = f_mount(&g_sFatFs, "", 0);
    if (fr != FR_OK) {
        uprintf("f_mount error: %s\r\n", StringFromFresult(fr));
    }
}

const char* StringFromFresult(FRESULT fresult)
{
    const unsigned code = static_cast<unsigned>(fresult) & 0xFFu;
    for (const FresultString& row : g_sFresultStrings) {
        if (static_cast<unsigned>(row.fresult) == code) {
            return row.pcResultStr;
        }
    }
    return "UNKNOWN ERROR CODE";
}

void appendBufferToSDCard(const char* buffer)
{
    // The name comes from the stored record: make sure it is terminated.
    char name[sizeof sys_data.fileName + 1];
    std::memcpy(name, sys_data.fileName, sizeof sys_data.fileName);
    name[sizeof sys_data.fileName] = '\0';
    FIL fil{};
    FRESULT fr = data_file_open(&fil, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    ms_delay(500);
    if (fr != FR_OK) {
        uprintf("f_open error: %s\r\n", StringFromFresult(fr));
    }
    fr = data_file_seek_end(&fil, name);
    if (fr != FR_OK) {
        uprintf("f_lseek error: %s\r\n", StringFromFresult(fr));
    }
    bool cut = false;
    data_file_append(&fil, name, buffer, &cut);
    fr = f_close(&fil);
    if (fr != FR_OK) {
        uprintf("f_close error: %s\r\n", StringFromFresult(fr));
    }
    if (cut) {
        data_file_note_full(name);
    }
}

FRESULT data_file_append(FIL* fil, const char* name, const char* text, bool* cut)
{
    const FSIZE_t start = f_tell(fil);
    const UINT len = static_cast<UINT>(std::strlen(text));
    UINT written = 0;
    FRESULT fr = f_write(fil, text, len, &written);
    *cut = fr == FR_OK && written < len;
    if (fr != FR_OK) {
        uprintf("f_write error: %s\r\n", StringFromFresult(fr));
    } else if (*cut) {
        // The card is full: nothing of this text stays in the file.
        report_short_write("", written, len);
        cut_back(fil, start, "");
    } else {
        data_file_remember_end(fil, name);
    }
    return fr;
}

void data_file_note_full(const char* name)
{
    char note[sizeof sys_data.fileName + 41];
    std::snprintf(note, sizeof note, "Card full: data not written to %s", name);
    error_store(note);
}

int sd_fprintf(FIL* fil, const char* format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (n < 0) {
        return 0;
    }
    UINT len = static_cast<UINT>(n) < sizeof buf ? static_cast<UINT>(n) : sizeof buf - 1;
    UINT written = 0;
    FRESULT fr = f_write(fil, buf, len, &written);
    if (fr != FR_OK) {
        uprintf("f_write error: %s\r\n", StringFromFresult(fr));
    } else if (written < len) {
        uprintf("f_write error: card full (%u of %u bytes written)\r\n", written, len);
    }
    return static_cast<int>(written);
}

void error_store(const char* error_buff)
{
    if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 0) {
        uprintf("error_stor() not supported with microSD_flg=0 disabled\r\n");
        return;
    }
    FIL fil{};
    FRESULT fr = f_open(&fil, ERROR_FILE, FA_WRITE | FA_OPEN_ALWAYS);
    if (fr != FR_OK) {
        uprintf("Error.txt f_open error: %s\r\n", StringFromFresult(fr));
    }
    fr = f_lseek(&fil, f_size(&fil));
    if (fr != FR_OK) {
        uprintf("Error.txt f_lseek error: %s\r\n", StringFromFresult(fr));
    }
    const FSIZE_t start = f_tell(&fil);
    char stamp[50];
    const struct tm* t = rtc_localtime(HibernateRTCGet());
    const UINT stamp_len = static_cast<UINT>(std::strftime(stamp, sizeof stamp, "\r\n%Y/%m/%d %H:%M:%S ", t));
    const UINT text_len = static_cast<UINT>(std::strlen(error_buff));
    // The stamp and the text make one entry: when the card cannot take all
    // of it, none of it stays.
    UINT written = 0;
    fr = f_write(&fil, stamp, stamp_len, &written);
    if (fr != FR_OK) {
        uprintf("Error.txt f_write error: %s\r\n", StringFromFresult(fr));
    }
    bool full = fr == FR_OK && written < stamp_len;
    UINT kept = written;
    if (!full) {
        fr = f_write(&fil, error_buff, text_len, &written);
        if (fr != FR_OK) {
            uprintf("Error.txt f_write error: %s\r\n", StringFromFresult(fr));
        }
        full = fr == FR_OK && written < text_len;
        kept += written;
    }
    if (full) {
        report_short_write("Error.txt ", kept, stamp_len + text_len);
        cut_back(&fil, start, "Error.txt ");
    }
    fr = f_close(&fil);
    if (fr != FR_OK) {
        uprintf("Error.txt f_close error: %s\r\n", StringFromFresult(fr));
    }
}

FRESULT data_file_open(FIL* fp, const char* name, BYTE mode)
{
    return f_open_hinted(fp, name, mode, data_file_hint(name));
}

FRESULT data_file_seek_end(FIL* fp, const char* name)
{
    return f_lseek_end(fp, data_file_hint(name));
}

void data_file_remember_end(FIL* fp, const char* name)
{
    FFHINT hint;
    if (f_gethint(fp, &hint) != FR_OK) {
        return;
    }
    appendPosition rec{};
    std::memcpy(rec.fileName, name, strnlen(name, sizeof rec.fileName));
    std::memcpy(rec.pos, &hint, sizeof rec.pos);
    storeAppendPosition(&rec);
    g_end = rec;
    g_end_read = true;
    g_end_valid = true;
}

FRESULT open_append(FIL* fp, const char* path)
{
    FRESULT fr = f_open(fp, path, FA_WRITE | FA_OPEN_ALWAYS);
    if (fr == FR_OK) {
        fr = f_lseek(fp, f_size(fp));
        if (fr != FR_OK) {
            f_close(fp);
        }
    }
    return fr;
}

namespace {

bool short_name_char(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return c != '\0' && std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

} // namespace

bool data_file_name_valid(const char* name, unsigned size)
{
    const std::size_t len = strnlen(name, size);
    if (len == size || len == 0) {
        return false;
    }
    std::size_t base = 0;
    while (base < len && name[base] != '.') {
        if (!short_name_char(name[base])) {
            return false;
        }
        ++base;
    }
    if (base == 0 || base > 8) {
        return false;
    }
    if (base < len) {
        const std::size_t ext = len - base - 1;
        if (ext == 0 || ext > 3) {
            return false;
        }
        for (std::size_t i = base + 1; i < len; ++i) {
            if (!short_name_char(name[i])) {
                return false;
            }
        }
    }
    // FAT names are the same in either case.
    const std::size_t err_len = std::strlen(ERROR_FILE);
    if (len != err_len) {
        return true;
    }
    for (std::size_t i = 0; i < len; ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(name[i]) != lower(ERROR_FILE[i])) {
            return true;
        }
    }
    return false;
}
