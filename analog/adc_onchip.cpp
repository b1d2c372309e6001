// On-chip converter: sequence 0 of ADC0, processor-triggered, eight steps.
#include "analog/adc_onchip.h"

#include "serial/user_io.h"
#include "platform/platform.h"

uint32_t adc_data[ADC_DATA_SIZE];

namespace {

constexpr uint32_t SEQUENCE = 0;
constexpr uint32_t PERIPH_READY_POLL_LIMIT = 10000;

// Inputs of the eight steps: battery divider, pressure, humidity, water
// sensor, board temperature, battery divider twice more, and the chip's
// temperature sensor as the last step, which raises the completion flag.
const uint32_t k_steps[ADC_BURST_STEPS] = {
    ADC_CTL_CH4,  ADC_CTL_CH6, ADC_CTL_CH10, ADC_CTL_CH16,
    ADC_CTL_CH17, ADC_CTL_CH4, ADC_CTL_CH4,  ADC_CTL_TS | ADC_CTL_IE | ADC_CTL_END,
};

bool s_timed_out;

} // namespace

bool adc_onchip_timed_out()
{
    return s_timed_out;
}

void adc_onchip_init()
{
    SysCtlPeripheralEnable(SYSCTL_PERIPH_ADC0);
    for (uint32_t n = 0; n < PERIPH_READY_POLL_LIMIT && !SysCtlPeripheralReady(SYSCTL_PERIPH_ADC0); ++n) {
    }
    GPIOPinTypeADC(GPIO_PORTD_BASE, GPIO_PIN_5 | GPIO_PIN_7);
    GPIOPinTypeADC(GPIO_PORTB_BASE, GPIO_PIN_4);
    GPIOPinTypeADC(GPIO_PORTK_BASE, GPIO_PIN_0 | GPIO_PIN_1);
    // The sequencer is still enabled from an earlier call; it may only be
    // reprogrammed while disabled.
    ADCSequenceDisable(ADC0_BASE, SEQUENCE);
    ADCSequenceConfigure(ADC0_BASE, SEQUENCE, ADC_TRIGGER_PROCESSOR, 0);
    for (uint32_t step = 0; step < ADC_BURST_STEPS; ++step) {
        ADCSequenceStepConfigure(ADC0_BASE, SEQUENCE, step, k_steps[step]);
    }
    ADCSequenceEnable(ADC0_BASE, SEQUENCE);
    ADCIntClear(ADC0_BASE, SEQUENCE);
}

uint32_t* read_all_adc()
{
    ADCProcessorTrigger(ADC0_BASE, SEQUENCE);
    uint32_t polls = 0;
    s_timed_out = false;
    while (ADCIntStatus(ADC0_BASE, SEQUENCE, false) == 0) {
        ++polls;
        if (polls == ADC_HANG_REPORT_POLLS) {
            uprintf("\r\nhang in read_all_adc() waiting for ADC complete\r\n");
        }
        if (polls >= ADC_GIVE_UP_POLLS) {
            s_timed_out = true;
            uprintf("\r\nread_all_adc(): no ADC completion, previous readings kept\r\n");
            return adc_data;
        }
    }
    ADCIntClear(ADC0_BASE, SEQUENCE);
    // The sequence FIFO holds eight results; read them through a buffer of
    // that size so that nothing past entry 7 is touched.
    uint32_t burst[ADC_BURST_STEPS] = {};
    int32_t n = ADCSequenceDataGet(ADC0_BASE, SEQUENCE, burst);
    for (int32_t i = 0; i < n && i < ADC_BURST_STEPS; ++i) {
        adc_data[i] = burst[i];
    }
    return adc_data;
}
