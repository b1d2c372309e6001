// Provisioning of a new simulated board through the firmware's own code.
#include "sim/run/provision.h"

#include "records/version.h"
#include "operator/config.h"
#include "platform/host/chip.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"
#include "records/system.h"

#include <cstdio>
#include <cstring>

namespace sim {

void provision_board()
{
    SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
    fram_init();
    config_sys_data_default_init();
    // The whole field is written: no bytes of the default text remain after
    // the terminator.
    std::memset(sys_data.qa.firmware_version, 0, sizeof sys_data.qa.firmware_version);
    std::snprintf(sys_data.qa.firmware_version, sizeof sys_data.qa.firmware_version, "%s",
                  FIRMWARE_VERSION_STR);
    initSysSampFRAMVariables();
    SysCtlPeripheralEnable(SYSCTL_PERIPH_EEPROM0);
    if (EEPROMInit() != EEPROM_INIT_OK || storeSysDataVariables() != 0) {
        log("provisioning: storing the configuration record failed");
        boot_end(BootEnd::Fault);
    }
}

} // namespace sim
