// Start-up of processor and board.
#include "app/main.h"

#include "board/board_util.h"
#include "board/init_TM4C123GH6PGE_144pin.h"
#include "board/pwm.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/diskio.h"
#include "storage/microsd.h"
#include "serial/user_io.h"

void init()
{
    FPULazyStackingEnable();
    FPUEnable();

    SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);

    init_TM4C123GH6PGE_144pin();

    SysTickPeriodSet(SysCtlClockGet() / 1000);
    board_set_tick_10ms_hook(disk_timerproc);
    SysTickEnable();
    SysTickIntEnable();
    IntMasterEnable();

    // The clock set-up falls back to the undivided 16 MHz oscillator when
    // the PLL does not lock; the tick and the baud rates follow the real
    // rate, the busy-wait delays do not.
    if (SysCtlClockGet() != SYSTEM_CLOCK_HZ) {
        uprintf("\r\nWarning: PLL not locked, system clock %u Hz, delays run long\r\n",
                static_cast<unsigned>(SysCtlClockGet()));
    }

    pwm_init();
    fram_init();
    retrieveSysDataVariables();

    if (sys_data.baud_rate == 9600) {
        wait_consoleTx();
        UARTStdioConfig(0, 9600, PIOSC_HZ);
    }

    microSD_flg = 0;
    if (sys_data.app_cfg[APPCFG_MICROSD_ENABLE] != 0) {
        if (uSD_present() != 0) {
            Init_SDCard();
            microSD_flg = 1;
        } else {
            uprintf("\r\nError: MicroSD card is not detected\r\n");
        }
    }

    pump_var_init();
}
