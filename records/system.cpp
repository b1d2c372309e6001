// The two records that outlive hibernation, and where they are kept.
#include "records/system.h"

#include "board/rtc_calendar.h"
#include "operator/user_io.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"

systemData sys_data;
systemSamplingData sys_samp;
systemDataVolatile sys_data_chg;

namespace {

uint32_t* sys_data_words(uint32_t byte_offset)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(&sys_data) + byte_offset);
}

} // namespace

void retrieveSysDataVariables()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_EEPROM0);
    if (EEPROMInit() != EEPROM_INIT_OK) {
        uprintf("EEPROM Initialization error.\r\n");
    }
    EEPROMRead(sys_data_words(0), SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    EEPROMRead(sys_data_words(SYS_DATA_HEAD_BYTES), SYS_DATA_TAIL_EEPROM_ADDR, SYS_DATA_TAIL_BYTES);
    retrieveSysSampFRAMVariables();
}

uint32_t storeSysDataVariables()
{
    storeSysSampFRAMVariables();
    uint32_t status = EEPROMProgram(sys_data_words(0), SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    if (status == 0) {
        status = EEPROMProgram(sys_data_words(SYS_DATA_HEAD_BYTES), SYS_DATA_TAIL_EEPROM_ADDR,
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

struct tm* get_RTC_time()
{
    return rtc_localtime(HibernateRTCGet());
}
