// Target backend: synchronous serial ports (SPI master).
#include "platform/platform.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// FIFO waits normally end within one frame time (20 us at the slowest bit
// rate the firmware uses); the limit is far beyond that.
constexpr uint32_t SSI_FIFO_LIMIT_POLLS = 100000;

bool valid_ssi(uint32_t base)
{
    return base >= SSI0_BASE && base <= SSI3_BASE && (base & 0xFFFu) == 0;
}

inline RegRef ssi(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

uint32_t frame_mask(uint32_t base)
{
    uint32_t bits = (ssi(base, SSI_CR0) & SSI_CR0_DSS_MASK) + 1;
    return (1u << bits) - 1;
}

} // namespace

// Bit rate = clock / (CPSDVSR * (1 + SCR)), CPSDVSR even in 2..254, SCR in
// 0..255: the smallest prescaler that reaches a rate not above the one
// asked for.
void SSIConfigSetExpClk(uint32_t ui32Base, uint32_t ui32SSIClk, uint32_t ui32Protocol, uint32_t ui32Mode,
                        uint32_t ui32BitRate, uint32_t ui32DataWidth)
{
    if (!valid_ssi(ui32Base) || ui32BitRate == 0 || ui32DataWidth < 4 || ui32DataWidth > 16) {
        return;
    }
    uint32_t prescale = 2;
    uint32_t scr = 255;
    for (; prescale <= 254; prescale += 2) {
        uint64_t step = static_cast<uint64_t>(ui32BitRate) * prescale;
        uint64_t divider = (ui32SSIClk + step - 1) / step; // 1 + SCR, rounded up
        if (divider == 0) {
            divider = 1;
        }
        if (divider <= 256) {
            scr = static_cast<uint32_t>(divider - 1);
            break;
        }
    }
    if (prescale > 254) {
        prescale = 254; // slowest rate the port can make
    }

    ssi(ui32Base, SSI_CR1) = ssi(ui32Base, SSI_CR1) & ~SSI_CR1_SSE;
    ssi(ui32Base, SSI_CR1) = (ui32Mode == SSI_MODE_MASTER) ? 0u : SSI_CR1_MS;
    ssi(ui32Base, SSI_CC) = 0; // system clock
    ssi(ui32Base, SSI_CPSR) = prescale;
    ssi(ui32Base, SSI_CR0) =
        (scr << SSI_CR0_SCR_SHIFT) | ((ui32Protocol & 0x3u) << SSI_CR0_SPO_SHIFT) | (ui32DataWidth - 1);
}

void SSIEnable(uint32_t ui32Base)
{
    if (!valid_ssi(ui32Base)) {
        return;
    }
    ssi(ui32Base, SSI_CR1) = ssi(ui32Base, SSI_CR1) | SSI_CR1_SSE;
}

void SSIDisable(uint32_t ui32Base)
{
    if (!valid_ssi(ui32Base)) {
        return;
    }
    ssi(ui32Base, SSI_CR1) = ssi(ui32Base, SSI_CR1) & ~SSI_CR1_SSE;
}

// The frame is dropped when the transmit FIFO stays full.
void SSIDataPut(uint32_t ui32Base, uint32_t ui32Data)
{
    if (!valid_ssi(ui32Base)) {
        return;
    }
    if (target::wait_polls([=] { return (ssi(ui32Base, SSI_SR) & SSI_SR_TNF) != 0; }, SSI_FIFO_LIMIT_POLLS,
                           ui32Base + SSI_SR)) {
        ssi(ui32Base, SSI_DR) = ui32Data & frame_mask(ui32Base);
    }
}

int32_t SSIDataPutNonBlocking(uint32_t ui32Base, uint32_t ui32Data)
{
    if (!valid_ssi(ui32Base) || (ssi(ui32Base, SSI_SR) & SSI_SR_TNF) == 0) {
        return 0;
    }
    ssi(ui32Base, SSI_DR) = ui32Data & frame_mask(ui32Base);
    return 1;
}

// When no frame arrives, the result is all ones, as from an idle data line.
void SSIDataGet(uint32_t ui32Base, uint32_t* pui32Data)
{
    if (pui32Data == nullptr) {
        return;
    }
    if (!valid_ssi(ui32Base)) {
        *pui32Data = 0xFFFFu;
        return;
    }
    if (target::wait_polls([=] { return (ssi(ui32Base, SSI_SR) & SSI_SR_RNE) != 0; }, SSI_FIFO_LIMIT_POLLS,
                           ui32Base + SSI_SR)) {
        *pui32Data = ssi(ui32Base, SSI_DR) & frame_mask(ui32Base);
    } else {
        *pui32Data = frame_mask(ui32Base);
    }
}

int32_t SSIDataGetNonBlocking(uint32_t ui32Base, uint32_t* pui32Data)
{
    if (pui32Data == nullptr || !valid_ssi(ui32Base) || (ssi(ui32Base, SSI_SR) & SSI_SR_RNE) == 0) {
        return 0;
    }
    *pui32Data = ssi(ui32Base, SSI_DR) & frame_mask(ui32Base);
    return 1;
}

void platform_ssi_transfer(uint32_t ui32Base, const uint8_t* pui8Out, uint8_t* pui8In, uint32_t ui32Count)
{
    for (uint32_t i = 0; i < ui32Count; ++i) {
        uint32_t frame;
        SSIDataPut(ui32Base, pui8Out != nullptr ? pui8Out[i] : 0xFFu);
        SSIDataGet(ui32Base, &frame);
        if (pui8In != nullptr) {
            pui8In[i] = static_cast<uint8_t>(frame);
        }
    }
}

bool SSIBusy(uint32_t ui32Base)
{
    if (!valid_ssi(ui32Base)) {
        return false;
    }
    return (ssi(ui32Base, SSI_SR) & SSI_SR_BSY) != 0;
}
