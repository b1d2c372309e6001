// Target backend: on-chip EEPROM (2 KiB on the TM4C123GH6PGE: 32 blocks of
// 16 words), reached one word at a time through EEBLOCK / EEOFFSET and the
// auto-incrementing EERDWRINC register.
#include "platform/platform.h"
#include "platform/target/target_wait.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

// Recovery of an interrupted operation at power-up.
constexpr uint32_t EEPROM_INIT_LIMIT_US = 500000;
// One word write, including a copy-buffer erase when the controller needs
// one (normally about 0.1 ms, tens of milliseconds at worst).
constexpr uint32_t EEPROM_WRITE_LIMIT_US = 100000;
// Status returned when the controller stays busy past the limit.
constexpr uint32_t EEPROM_RC_TIMEOUT = EEPROM_RC_WRBUSY | 0x01u;
// The controller sets EEDONE.WORKING a few cycles after a word is written,
// not at once; the vendor's driver waits 10 delay counts (30 cycles) before
// it polls.  A write is watched for 34 pauses of one count (at least 100
// cycles, a few microseconds at most) to start.
constexpr uint32_t EEPROM_START_PAUSES = 2 * target::DELAY_COUNTS_PER_US;

inline RegRef ee(uint32_t offset)
{
    return reg(EEPROM_BASE + offset);
}

bool idle(uint32_t limit_us)
{
    return target::wait_us([] { return (ee(EE_DONE) & EE_DONE_WORKING) == 0; }, limit_us,
                           EEPROM_BASE + EE_DONE);
}

// Waits until the word just written has been programmed: first until the
// controller shows that it took the write (so that a WORKING bit not yet
// set is not taken for "done"), then until it is idle again.
bool word_written()
{
    target::watch([] { return (ee(EE_DONE) & EE_DONE_WORKING) != 0; }, EEPROM_START_PAUSES, 1);
    return idle(EEPROM_WRITE_LIMIT_US);
}

bool retry_pending()
{
    return (ee(EE_SUPP) & (EE_SUPP_PRETRY | EE_SUPP_ERETRY)) != 0;
}

// True when [address, address + count) is a word-aligned range inside the
// EEPROM.
bool valid_range(uint32_t address, uint32_t count)
{
    uint32_t size = EEPROMSizeGet();
    return (address & 3u) == 0 && (count & 3u) == 0 && address <= size && count <= size - address;
}

void select_word(uint32_t word)
{
    ee(EE_BLOCK) = word / EE_WORDS_PER_BLOCK;
    ee(EE_OFFSET) = word % EE_WORDS_PER_BLOCK;
}

} // namespace

// Data sheet start-up procedure: wait for the controller to finish any
// recovery, check that no erase or program had to be retried, reset the
// module, wait again and check again.  The caller has enabled its clock.
uint32_t EEPROMInit()
{
    SysCtlDelay(2);
    if (!idle(EEPROM_INIT_LIMIT_US) || retry_pending()) {
        return EEPROM_INIT_ERROR;
    }
    SysCtlPeripheralReset(SYSCTL_PERIPH_EEPROM0);
    SysCtlDelay(2);
    if (!idle(EEPROM_INIT_LIMIT_US) || retry_pending()) {
        return EEPROM_INIT_ERROR;
    }
    return EEPROM_INIT_OK;
}

uint32_t EEPROMSizeGet()
{
    return (ee(EE_SIZE) & EE_SIZE_WORDCNT_MASK) * 4;
}

// Reads `ui32Count` bytes from byte address `ui32Address`.  Words outside
// the EEPROM (or a request that is not word aligned) read as erased
// (0xFFFFFFFF); the words inside it are read normally.
void EEPROMRead(uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count)
{
    if (pui32Data == nullptr) {
        return;
    }
    uint32_t words = ui32Count / 4;
    uint32_t size = EEPROMSizeGet();
    bool aligned = (ui32Address & 3u) == 0 && (ui32Count & 3u) == 0;
    uint32_t readable = 0;
    if (aligned && ui32Address < size) {
        readable = (size - ui32Address) / 4;
        if (readable > words) {
            readable = words;
        }
    }
    if (readable > 0 && !idle(EEPROM_WRITE_LIMIT_US)) {
        readable = 0;
    }

    uint32_t word = ui32Address / 4;
    if (readable > 0) {
        select_word(word);
    }
    for (uint32_t i = 0; i < readable; ++i, ++word) {
        pui32Data[i] = ee(EE_RDWRINC);
        // The offset wraps within the block; move on to the next block.
        if ((word + 1) % EE_WORDS_PER_BLOCK == 0 && i + 1 < readable) {
            select_word(word + 1);
        }
    }
    for (uint32_t i = readable; i < words; ++i) {
        pui32Data[i] = 0xFFFFFFFFu;
    }
}

// Writes `ui32Count` bytes to byte address `ui32Address`.  Returns 0 on
// success; EEPROM_RC_INVPL for a range that is not word aligned or does
// not lie inside the EEPROM (nothing is written then); otherwise the
// controller's error bits (EEPROM_RC_NOPERM, EEPROM_RC_WRBUSY), or
// EEPROM_RC_WRBUSY | 1 when it stays busy past the limit.
uint32_t EEPROMProgram(const uint32_t* pui32Data, uint32_t ui32Address, uint32_t ui32Count)
{
    if (pui32Data == nullptr || !valid_range(ui32Address, ui32Count)) {
        return EEPROM_RC_INVPL;
    }
    if (!idle(EEPROM_WRITE_LIMIT_US)) {
        return EEPROM_RC_TIMEOUT;
    }
    uint32_t words = ui32Count / 4;
    uint32_t word = ui32Address / 4;
    if (words > 0) {
        select_word(word);
    }
    for (uint32_t i = 0; i < words; ++i, ++word) {
        ee(EE_RDWRINC) = pui32Data[i];
        if (!word_written()) {
            return EEPROM_RC_TIMEOUT;
        }
        uint32_t status = ee(EE_DONE) & (EE_DONE_NOPERM | EE_DONE_WRBUSY);
        if (status != 0) {
            return status;
        }
        if ((word + 1) % EE_WORDS_PER_BLOCK == 0 && i + 1 < words) {
            select_word(word + 1);
        }
    }
    return 0;
}
