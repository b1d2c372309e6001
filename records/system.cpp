// The two records that outlive hibernation, and where they are kept.
#include "records/system.h"

#include "board/rtc_calendar.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"

#include <cstddef>

systemData sys_data;
systemSamplingData sys_samp;
systemDataVolatile sys_data_chg;

namespace {

uint32_t* sys_data_words(uint32_t byte_offset)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(&sys_data) + byte_offset);
}

// Words compared per EEPROM read.
constexpr uint32_t COMPARE_WORDS = 16;

// Stores `bytes` of `data` at EEPROM `address`, programming only the words
// that differ from what the EEPROM holds (each run of differing words in
// one operation).  The stored image is the same as after programming every
// word, but an unchanged record costs no program cycles: the record is
// stored at every wake of a deployment, and EEPROM endurance is limited.
// Returns the first non-zero program status, or 0.
uint32_t program_changed_words(const uint32_t* data, uint32_t address, uint32_t bytes)
{
    const uint32_t words = bytes / 4;
    uint32_t stored[COMPARE_WORDS];
    uint32_t run_start = 0;
    uint32_t run_len = 0;
    for (uint32_t base = 0; base < words; base += COMPARE_WORDS) {
        const uint32_t n = words - base < COMPARE_WORDS ? words - base : COMPARE_WORDS;
        EEPROMRead(stored, address + base * 4, n * 4);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t w = base + i;
            if (data[w] != stored[i]) {
                if (run_len == 0) {
                    run_start = w;
                }
                ++run_len;
                continue;
            }
            if (run_len != 0) {
                uint32_t status = EEPROMProgram(data + run_start, address + run_start * 4, run_len * 4);
                if (status != 0) {
                    return status;
                }
                run_len = 0;
            }
        }
    }
    if (run_len != 0) {
        return EEPROMProgram(data + run_start, address + run_start * 4, run_len * 4);
    }
    return 0;
}

// CRC-32 (IEEE 802.3, reflected) of `len` bytes.
uint32_t crc32(const void* data, uint32_t len)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < len; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) {
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}

uint32_t append_pos_check(const appendPosition& rec)
{
    return crc32(&rec, offsetof(appendPosition, check));
}

} // namespace

void retrieveSysDataVariables()
{
    retrieveSysDataEEPROMVariables();
    retrieveSysSampFRAMVariables();
}

void retrieveSysDataEEPROMVariables()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_EEPROM0);
    if (EEPROMInit() != EEPROM_INIT_OK) {
        uprintf("EEPROM Initialization error.\r\n");
    }
    EEPROMRead(sys_data_words(0), SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    EEPROMRead(sys_data_words(SYS_DATA_HEAD_BYTES), SYS_DATA_TAIL_EEPROM_ADDR, SYS_DATA_TAIL_BYTES);
}

uint32_t storeSysDataVariables()
{
    storeSysSampFRAMVariables();
    uint32_t status = program_changed_words(sys_data_words(0), SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    if (status == 0) {
        status = program_changed_words(sys_data_words(SYS_DATA_HEAD_BYTES), SYS_DATA_TAIL_EEPROM_ADDR,
                                       SYS_DATA_TAIL_BYTES);
    }
    return status;
}

void retrieveSysSampFRAMVariables()
{
    fram_sys_samp_retrieve();
    if (sys_samp.initNum != SYS_SAMP_INIT_NUM) {
        uprintf("FRAM sys_samp.initNum is not 0x55AA55AA\r\n");
        initSysSampFRAMVariables();
    }
}

void initSysSampFRAMVariables()
{
    sys_samp.state = IDLE;
    sys_samp.nextWakeUp = 0;
    sys_samp.next_gdata_fptr = 0;
    sys_samp.current_sample = 0;
    sys_samp.AD24_std = 0.0f;
    sys_samp.initNum = SYS_SAMP_INIT_NUM;
    storeSysSampFRAMVariables();
}

void storeSysSampFRAMVariables()
{
    if (sys_samp.initNum != SYS_SAMP_INIT_NUM) {
        uprintf("FRAM sys_samp.initNum is not 0x55AA55AA\r\n");
        sys_samp.initNum = SYS_SAMP_INIT_NUM;
    }
    fram_sys_samp_store();
}

bool retrieveAppendPosition(appendPosition* rec)
{
    fram_append_pos_retrieve(rec);
    return rec->magic == APPEND_POS_MAGIC && rec->check == append_pos_check(*rec);
}

void storeAppendPosition(appendPosition* rec)
{
    rec->magic = APPEND_POS_MAGIC;
    rec->check = append_pos_check(*rec);
    fram_append_pos_store(*rec);
}

struct tm* get_RTC_time()
{
    return rtc_localtime(HibernateRTCGet());
}
