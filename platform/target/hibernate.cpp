// Target backend: hibernation module and its real-time clock.
//
// The module runs from its own 32.768 kHz clock; a write to one of its
// registers takes up to about three of those cycles (~92 us) to complete,
// and no further write may start before the WRC bit says so.  Every write
// therefore waits for WRC before and after (bounded).
#include "platform/platform.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// An ordinary write completes in about 92 us.
constexpr uint32_t HIB_WRITE_LIMIT_US = 50000;
// After the clock is first enabled the crystal needs up to about 1.5 s to
// start, and WRC stays low until it does.
constexpr uint32_t HIB_CLOCK_START_LIMIT_US = 2500000;

inline RegRef hib(uint32_t offset)
{
    return reg(HIB_BASE + offset);
}

bool write_complete(uint32_t limit_us)
{
    return target::wait_us([] { return (hib(HIB_CTL) & HIB_CTL_WRC) != 0; }, limit_us, HIB_BASE + HIB_CTL);
}

void hib_write(uint32_t offset, uint32_t value)
{
    write_complete(HIB_WRITE_LIMIT_US);
    hib(offset) = value;
    write_complete(HIB_WRITE_LIMIT_US);
}

void ctl_update(uint32_t clear, uint32_t set)
{
    write_complete(HIB_WRITE_LIMIT_US);
    hib(HIB_CTL) = (hib(HIB_CTL) & ~clear) | set;
    write_complete(HIB_WRITE_LIMIT_US);
}

} // namespace

// The system clock rate is not needed: every wait here is timed by the
// delay loop.
void HibernateEnableExpClk(uint32_t ui32HibClk)
{
    (void)ui32HibClk;
    write_complete(HIB_WRITE_LIMIT_US);
    hib(HIB_CTL) = hib(HIB_CTL) | HIB_CTL_CLK32EN;
    write_complete(HIB_CLOCK_START_LIMIT_US);
}

bool HibernateIsActive()
{
    return (hib(HIB_CTL) & HIB_CTL_CLK32EN) != 0;
}

uint32_t HibernateIntStatus(bool bMasked)
{
    return bMasked ? hib(HIB_MIS) : hib(HIB_RIS);
}

void HibernateIntClear(uint32_t ui32IntFlags)
{
    hib_write(HIB_IC, ui32IntFlags & 0xFFu);
    uint32_t settled = hib(HIB_RIS); // make sure the clear has reached the module
    (void)settled;
}

void HibernateIntDisable(uint32_t ui32IntFlags)
{
    write_complete(HIB_WRITE_LIMIT_US);
    hib(HIB_IM) = hib(HIB_IM) & ~ui32IntFlags;
    write_complete(HIB_WRITE_LIMIT_US);
}

// Releases the pins held at their hibernation levels, so that the start-up
// configuration takes effect.
void HibernateGPIORetentionDisable()
{
    ctl_update(HIB_CTL_VDD3ON, 0);
}

// Oscillator drive and bypass.
void HibernateClockConfig(uint32_t ui32Config)
{
    constexpr uint32_t fields = HIB_CTL_OSCBYP | HIB_CTL_OSCDRV;
    ctl_update(fields, ui32Config & fields);
}

void HibernateRTCTrimSet(uint32_t ui32Trim)
{
    hib_write(HIB_RTCT, ui32Trim & 0xFFFFu);
}

void HibernateRTCEnable()
{
    ctl_update(0, HIB_CTL_RTCEN);
}

uint32_t HibernateRTCGet()
{
    return hib(HIB_RTCC);
}

void HibernateRTCSet(uint32_t ui32RTCValue)
{
    hib_write(HIB_RTCLD, ui32RTCValue);
}

// The TM4C123 has one match register (0); other numbers are ignored.
void HibernateRTCMatchSet(uint32_t ui32Match, uint32_t ui32Value)
{
    if (ui32Match != 0) {
        return;
    }
    hib_write(HIB_RTCM0, ui32Value);
}

uint32_t HibernateRTCMatchGet(uint32_t ui32Match)
{
    if (ui32Match != 0) {
        return 0;
    }
    return hib(HIB_RTCM0);
}

void HibernateWakeSet(uint32_t ui32WakeFlags)
{
    constexpr uint32_t fields = HIB_CTL_PINWEN | HIB_CTL_RTCWEN | HIB_CTL_BATWKEN;
    ctl_update(fields, ui32WakeFlags & fields);
}

uint32_t HibernateWakeGet()
{
    return hib(HIB_CTL) & (HIB_CTL_PINWEN | HIB_CTL_RTCWEN | HIB_CTL_BATWKEN);
}

void HibernateRequest()
{
    ctl_update(0, HIB_CTL_HIBREQ);
}

void HibernateDataSet(const uint32_t* pui32Data, uint32_t ui32Count)
{
    if (pui32Data == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < ui32Count && i < HIB_DATA_WORDS; ++i) {
        hib_write(HIB_DATA + 4 * i, pui32Data[i]);
    }
}

void HibernateDataGet(uint32_t* pui32Data, uint32_t ui32Count)
{
    if (pui32Data == nullptr) {
        return;
    }
    for (uint32_t i = 0; i < ui32Count && i < HIB_DATA_WORDS; ++i) {
        pui32Data[i] = hib(HIB_DATA + 4 * i);
    }
}
