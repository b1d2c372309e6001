// Hibernation, and decoding why the controller woke.
#include "app/sleep.h"

#include "app/main.h"
#include "board/board_util.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

namespace {

constexpr uint32_t RTC_TRIM_NONE = 0x7FFF;
// A timed wake never comes sooner than this after the request, so that the
// match is always set in the future.
constexpr uint32_t MIN_SLEEP_S = 2;

} // namespace

void sleep(int state, uint32_t wake_time)
{
    sys_samp.state = state;

    if (state == DEPLOYED) {
        if (wake_time == 0) {
            HibernateWakeSet(HIBERNATE_WAKE_PIN);
            uprintf("\r\n\r\nSleeping in polled mode..\r\n\r\n\r\n");
        } else {
            uint32_t now = HibernateRTCGet();
            if (wake_time <= now + MIN_SLEEP_S) {
                wake_time = now + MIN_SLEEP_S;
            }
            HibernateRTCMatchSet(0, wake_time);
            HibernateWakeSet(HIBERNATE_WAKE_PIN | HIBERNATE_WAKE_RTC);
            if (sys_data.test_mode == 1 || sys_data.output == VERBOSE) {
                uprintf("\r\n\r\nSleeping until ");
                print_time_t_Time(wake_time);
            }
        }
    } else {
        HibernateWakeSet(HIBERNATE_WAKE_PIN);
        if (state == IDLE) {
            uprintf("\r\n\r\nSleeping...*");
        }
        if (sys_data.output == VERBOSE) {
            uprintf("hit any key to wake\r\n\r\n\r\n");
        }
        delay_msec(25);
    }

    UARTFlushTx(false);

    if (storeSysDataVariables() != 0) {
        uprintf("Error storing system data (sleep).\r\n");
        wait_consoleTx();
        error_store("Error storing system data (sleep).");
        return;
    }

    console_off();
    uint32_t status = HibernateIntStatus(false);
    HibernateIntClear(status);
    HibernateRTCTrimSet(RTC_TRIM_NONE);
    HibernateRequest();
    delay_msec(100);

    // Still running: the request did not take effect.
    console_on();
    uprintf("\r\n\r\n\r\nHibernation error!  Possible cause: remove JP1 on VORN board \r\n\r\n\r\n");
    error_store("Hibernation error.  Possible cause: remove JP1 on VORN board.  \r\n");
    uprintf("\r\n\r\n\r\nCalling SysCtrlReset...\r\n\r\n\r\n");
    delay_msec(100);
    SysCtlReset();
}

uint32_t sleep_handler()
{
    uint32_t wakeSource = WAKE_NOTSET;
    uint32_t status = 0;

    SysCtlPeripheralEnable(SYSCTL_PERIPH_HIBERNATE);
    HibernateEnableExpClk(SysCtlClockGet());

    if (HibernateIsActive()) {
        status = HibernateIntStatus(false);
        HibernateIntClear(status);
        if ((status & HIBERNATE_INT_PIN_WAKE) != 0) {
            wakeSource = WAKE_PIN;
        } else if ((status & HIBERNATE_INT_RTC_MATCH_0) != 0) {
            wakeSource = WAKE_RTC;
        } else if ((status & HIBERNATE_INT_VDDFAIL) != 0) {
            sys_samp.state = IDLE;
        } else if ((status & HIBERNATE_INT_RESET_WAKE) != 0) {
            sys_samp.state = IDLE;
        } else if ((status & HIBERNATE_INT_GPIO_WAKE) != 0) {
            sys_samp.state = IDLE;
        } else if ((status & HIBERNATE_INT_WR_COMPLETE) != 0) {
            // A power cycle during a timed deployment resumes sampling.
            if (sys_samp.state == DEPLOYED) {
                wakeSource = WAKE_RTC;
            }
        } else if ((status & HIBERNATE_INT_LOW_BAT) != 0) {
            sys_samp.state = IDLE;
        } else {
            // Reset button.
            sys_samp.state = IDLE;
        }
        HibernateGPIORetentionDisable();
    }

    if ((status & (HIBERNATE_INT_PIN_WAKE | HIBERNATE_INT_RTC_MATCH_0)) == 0) {
        HibernateClockConfig(HIBERNATE_OSC_LOWDRIVE);
        HibernateRTCTrimSet(RTC_TRIM_NONE);
        HibernateIntDisable(HIBERNATE_INT_RTC_MATCH_0 | HIBERNATE_INT_LOW_BAT | HIBERNATE_INT_PIN_WAKE |
                            HIBERNATE_INT_WR_COMPLETE);
        delay_msec(200);
        HibernateRTCEnable();
    }
    return wakeSource;
}

void sleep_idle()
{
    sleep(IDLE, 0);
}
