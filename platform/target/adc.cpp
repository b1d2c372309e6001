// Target backend: ADC sample sequencers.
#include "platform/platform.h"
#include "platform/target/tm4c123_regs.h"

using namespace tm4c;

namespace {

bool valid_adc(uint32_t base, uint32_t sequence)
{
    return (base == ADC0_BASE || base == ADC1_BASE) && sequence < ADC_SEQUENCER_COUNT;
}

inline RegRef adc(uint32_t base, uint32_t offset)
{
    return reg(base + offset);
}

inline uint32_t seq_reg(uint32_t first_offset, uint32_t sequence)
{
    return first_offset + ADC_SS_STRIDE * sequence;
}

} // namespace

// Trigger source (4 bits per sequencer in EMUX) and priority (2 bits per
// sequencer, at 4-bit spacing, in SSPRI).
void ADCSequenceConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t ui32Trigger,
                          uint32_t ui32Priority)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return;
    }
    uint32_t shift = ui32SequenceNum * 4;
    adc(ui32Base, ADC_EMUX) = (adc(ui32Base, ADC_EMUX) & ~(0xFu << shift)) | ((ui32Trigger & 0xFu) << shift);
    adc(ui32Base, ADC_SSPRI) =
        (adc(ui32Base, ADC_SSPRI) & ~(0x3u << shift)) | ((ui32Priority & 0x3u) << shift);
}

// One step: input (MUX nibble, and the extended-input bit for AIN16 and
// up), control nibble (TS, IE, END, D), no digital comparator.
void ADCSequenceStepConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t ui32Step,
                              uint32_t ui32Config)
{
    if (!valid_adc(ui32Base, ui32SequenceNum) || ui32Step >= ADC_SEQUENCE_DEPTH[ui32SequenceNum]) {
        return;
    }
    uint32_t shift = ui32Step * 4;
    uint32_t mux = seq_reg(ADC_SSMUX0, ui32SequenceNum);
    uint32_t emux = seq_reg(ADC_SSEMUX0, ui32SequenceNum);
    uint32_t ctl = seq_reg(ADC_SSCTL0, ui32SequenceNum);
    uint32_t op = seq_reg(ADC_SSOP0, ui32SequenceNum);

    adc(ui32Base, mux) = (adc(ui32Base, mux) & ~(0xFu << shift)) | ((ui32Config & 0xFu) << shift);
    adc(ui32Base, emux) = (adc(ui32Base, emux) & ~(0xFu << shift)) | (((ui32Config >> 8) & 0x1u) << shift);
    adc(ui32Base, ctl) = (adc(ui32Base, ctl) & ~(0xFu << shift)) | (((ui32Config >> 4) & 0xFu) << shift);
    adc(ui32Base, op) = adc(ui32Base, op) & ~(0x1u << shift);
}

void ADCSequenceEnable(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return;
    }
    adc(ui32Base, ADC_ACTSS) = adc(ui32Base, ADC_ACTSS) | (1u << ui32SequenceNum);
}

void ADCSequenceDisable(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return;
    }
    adc(ui32Base, ADC_ACTSS) = adc(ui32Base, ADC_ACTSS) & ~(1u << ui32SequenceNum);
}

void ADCProcessorTrigger(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return;
    }
    adc(ui32Base, ADC_PSSI) = 1u << ui32SequenceNum;
}

// Completion flag of the sequence: raw, or as it reaches the interrupt
// controller.
uint32_t ADCIntStatus(uint32_t ui32Base, uint32_t ui32SequenceNum, bool bMasked)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return 0;
    }
    uint32_t status = bMasked ? adc(ui32Base, ADC_ISC) : adc(ui32Base, ADC_RIS);
    return status & (1u << ui32SequenceNum);
}

void ADCIntClear(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (!valid_adc(ui32Base, ui32SequenceNum)) {
        return;
    }
    adc(ui32Base, ADC_ISC) = 1u << ui32SequenceNum;
}

// Empties the sequence's result FIFO into the buffer; never takes more
// than the sequence's depth.  Returns the number of results.
int32_t ADCSequenceDataGet(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t* pui32Buffer)
{
    if (!valid_adc(ui32Base, ui32SequenceNum) || pui32Buffer == nullptr) {
        return 0;
    }
    uint32_t fstat = seq_reg(ADC_SSFSTAT0, ui32SequenceNum);
    uint32_t fifo = seq_reg(ADC_SSFIFO0, ui32SequenceNum);
    int32_t count = 0;
    while (static_cast<uint32_t>(count) < ADC_SEQUENCE_DEPTH[ui32SequenceNum] &&
           (adc(ui32Base, fstat) & ADC_SSFSTAT_EMPTY) == 0) {
        pui32Buffer[count] = adc(ui32Base, fifo) & ADC_FIFO_DATA_MASK;
        ++count;
    }
    return count;
}
