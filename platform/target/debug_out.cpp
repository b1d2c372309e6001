// Target backend: the debug output channel on the processor's instrumentation
// trace macrocell (ITM), stimulus port 0, read by a debugger through SWO.
// Without a debugger that enabled tracing and the port, the text is dropped
// at once, so the firmware never waits for a probe that is not there.
#include "platform/platform.h"
#include "platform/target/target_wait.h"

namespace {

constexpr uint32_t DEMCR = 0xE000EDFCu; // debug exception and monitor control
constexpr uint32_t DEMCR_TRCENA = 1u << 24;
constexpr uint32_t ITM_STIM0 = 0xE0000000u; // stimulus port 0; reads 1 when it can take a byte
constexpr uint32_t ITM_TER = 0xE0000E00u;   // trace enable, one bit per port
constexpr uint32_t ITM_TCR = 0xE0000E80u;   // trace control
constexpr uint32_t ITM_TCR_ITMENA = 1u << 0;
// A port that stays busy this long has no probe draining it.
constexpr uint32_t ITM_READY_LIMIT_POLLS = 10000;

#if !defined(VARVE_REGISTER_MODEL)
volatile uint32_t& word(uint32_t address)
{
    return *reinterpret_cast<volatile uint32_t*>(static_cast<uintptr_t>(address));
}
#endif

} // namespace

void platform_debug_write(const char* pcText, uint32_t ui32Len)
{
#if defined(VARVE_REGISTER_MODEL)
    (void)pcText;
    (void)ui32Len;
#else
    if ((word(DEMCR) & DEMCR_TRCENA) == 0 || (word(ITM_TCR) & ITM_TCR_ITMENA) == 0 ||
        (word(ITM_TER) & 1u) == 0) {
        return;
    }
    for (uint32_t i = 0; i < ui32Len; ++i) {
        if (!target::wait_polls([] { return (word(ITM_STIM0) & 1u) != 0; }, ITM_READY_LIMIT_POLLS,
                                ITM_STIM0)) {
            return;
        }
        // A byte-wide write sends one byte on the port.
        *reinterpret_cast<volatile uint8_t*>(static_cast<uintptr_t>(ITM_STIM0)) =
            static_cast<uint8_t>(pcText[i]);
    }
#endif
}
