// Isolated 24-bit converter and its input multiplexer.
#include "analog/ads1248_iso.h"

#include "board/board_util.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"

#include <cmath>

namespace {

// Converter registers and commands.
constexpr uint8_t REG_MUX0 = 0x00;
constexpr uint8_t REG_GPIOCFG = 0x0C;
constexpr uint8_t REG_GPIODAT = 0x0E;
constexpr uint8_t CMD_WREG = 0x40;
constexpr uint8_t CMD_NOP = 0xFF;
// MUX1: internal reference always on and selected, normal operation.
constexpr uint8_t MUX1_INTERNAL_REF = 0x30;

// GPIODAT values that address the multiplexer channels 0..3: GPIO0 and
// GPIO1 carry the inverted channel number, GPIO2 is high for 0 and 3.
constexpr uint8_t k_mux_gpiodat[4] = {0x07, 0x02, 0x01, 0x04};
constexpr uint8_t GPIODAT_BIAS_POS = 0x08;
constexpr uint8_t GPIODAT_BIAS_NEG = 0x00;

// Data-ready is polled every DRDY_POLL_US microseconds (busy-wait), so the
// wait does not depend on the tick interrupt running.
constexpr uint32_t DRDY_POLL_US = 20;
constexpr uint32_t DRDY_POLL_LIMIT = ADS1248_DRDY_TIMEOUT_MS * 1000 / DRDY_POLL_US;
// The SPI unit shifts eight bits in 8 us at 1 Mbit/s; these bounds are far
// beyond anything a working unit needs.
constexpr uint32_t SSI_POLL_LIMIT = 100000;
constexpr uint32_t SSI_RX_FIFO_DEPTH = 8;
constexpr uint32_t PERIPH_READY_POLL_LIMIT = 10000;

float s_volts[ADS1248_MAX_TRIALS];
int s_missed_trials;

void cs_low()
{
    GPIOPinWrite(GPIO_PORTH_BASE, GPIO_PIN_1, 0);
}
void cs_high()
{
    GPIOPinWrite(GPIO_PORTH_BASE, GPIO_PIN_1, GPIO_PIN_1);
}

void discard_rx()
{
    uint32_t unused = 0;
    for (uint32_t n = 0; n <= SSI_RX_FIFO_DEPTH && SSIDataGetNonBlocking(SSI3_BASE, &unused) != 0; ++n) {
    }
}

void wait_ssi_idle()
{
    for (uint32_t n = 0; n < SSI_POLL_LIMIT && SSIBusy(SSI3_BASE); ++n) {
    }
}

// One register write: chip select framing around the command bytes.
void transaction(const uint8_t* bytes, uint32_t count)
{
    cs_low();
    discard_rx();
    for (uint32_t i = 0; i < count; ++i) {
        SSIDataPut(SSI3_BASE, bytes[i]);
    }
    wait_ssi_idle();
    cs_high();
}

void write_gpiodat(uint8_t value)
{
    const uint8_t cmd[3] = {static_cast<uint8_t>(CMD_WREG | REG_GPIODAT), 0x00, value};
    transaction(cmd, sizeof cmd);
}

bool gain_listed(int gain)
{
    switch (gain) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 32:
    case 64:
    case 128:
        return true;
    default:
        return false;
    }
}

// Waits for data-ready (low); false when it did not come within the bound.
bool wait_drdy()
{
    return platform_wait_pins(GPIO_PORTN_BASE, GPIO_PIN_3, 0, DRDY_POLL_LIMIT,
                              DELAY_COUNTS_PER_US * DRDY_POLL_US);
}

uint32_t receive_byte()
{
    uint32_t data = 0xFF;
    for (uint32_t n = 0; n < SSI_POLL_LIMIT; ++n) {
        if (SSIDataGetNonBlocking(SSI3_BASE, &data) != 0) {
            break;
        }
    }
    return data & 0xFF;
}

// Clocks the latest conversion result out of the converter.
uint32_t read_result_code()
{
    discard_rx();
    cs_low();
    SSIDataPut(SSI3_BASE, CMD_NOP);
    SSIDataPut(SSI3_BASE, CMD_NOP);
    SSIDataPut(SSI3_BASE, CMD_NOP);
    wait_ssi_idle();
    uint32_t b0 = receive_byte();
    uint32_t b1 = receive_byte();
    uint32_t b2 = receive_byte();
    cs_high();
    return (b0 << 16) | (b1 << 8) | b2;
}

} // namespace

int32_t ADS1248_code_value(uint32_t code)
{
    code &= 0xFFFFFF;
    if ((code & 0x800000) != 0) {
        return -static_cast<int32_t>((~code & 0x7FFFFF) + 1);
    }
    return static_cast<int32_t>(code);
}

int ADS1248_missed_trials()
{
    return s_missed_trials;
}

void openADS1248_iso()
{
    pwr_iso_on();
    GPIOPinTypeGPIOOutput(GPIO_PORTN_BASE, GPIO_PIN_5 | GPIO_PIN_6);
    GPIOPinWrite(GPIO_PORTN_BASE, GPIO_PIN_5 | GPIO_PIN_6, GPIO_PIN_5 | GPIO_PIN_6); // RESET, START high
    GPIOPinTypeGPIOInput(GPIO_PORTN_BASE, GPIO_PIN_3);                               // DRDY
    GPIOPinTypeGPIOOutput(GPIO_PORTH_BASE, GPIO_PIN_1);
    cs_high();
    ms_delay(2);

    GPIOPinWrite(GPIO_PORTN_BASE, GPIO_PIN_5, 0);
    SysCtlDelay(DELAY_COUNTS_PER_US * 10);
    GPIOPinWrite(GPIO_PORTN_BASE, GPIO_PIN_5, GPIO_PIN_5);

    SysCtlPeripheralEnable(SYSCTL_PERIPH_SSI3);
    for (uint32_t n = 0; n < PERIPH_READY_POLL_LIMIT && !SysCtlPeripheralReady(SYSCTL_PERIPH_SSI3); ++n) {
    }
    GPIOPinConfigure(GPIO_PH0_SSI3CLK);
    GPIOPinConfigure(GPIO_PH2_SSI3RX);
    GPIOPinConfigure(GPIO_PH3_SSI3TX);
    GPIOPinTypeSSI(GPIO_PORTH_BASE, GPIO_PIN_0 | GPIO_PIN_2 | GPIO_PIN_3);
    SSIConfigSetExpClk(SSI3_BASE, SysCtlClockGet(), SSI_FRF_MOTO_MODE_1, SSI_MODE_MASTER, 1000000, 8);
    SSIEnable(SSI3_BASE);
    ms_delay(20);
}

void closeADS1248_iso()
{
    GPIOPinWrite(GPIO_PORTN_BASE, GPIO_PIN_5 | GPIO_PIN_6, GPIO_PIN_5 | GPIO_PIN_6); // START, RESET high
    SSIDisable(SSI3_BASE);
    SysCtlPeripheralDisable(SYSCTL_PERIPH_SSI3);
    GPIOPinTypeGPIOOutput(GPIO_PORTH_BASE, GPIO_PIN_0);
    GPIOPinWrite(GPIO_PORTH_BASE, GPIO_PIN_0, 0);
    GPIOPinTypeGPIOInput(GPIO_PORTH_BASE, GPIO_PIN_2);
    GPIOPinTypeGPIOOutput(GPIO_PORTH_BASE, GPIO_PIN_3);
    GPIOPinWrite(GPIO_PORTH_BASE, GPIO_PIN_3, 0);
    cs_low();
    pwr_iso_off();
}

void ADS1248_gpio_init()
{
    // GPIOCFG: GPIO0..3 general purpose; GPIODIR: all outputs; GPIODAT: 0.
    const uint8_t cmd[5] = {static_cast<uint8_t>(CMD_WREG | REG_GPIOCFG), 0x02, 0x0F, 0x00, 0x00};
    transaction(cmd, sizeof cmd);
}

void ADS1248_gpio_ADG1609_mux(uint32_t chan)
{
    if (chan > 3) {
        uprintf("Mux channels are 0 to 3 in ADS1248_iso, error in arg for ADS1248_gpio_ADG1609_mux\r\n");
        chan = 3;
    }
    write_gpiodat(k_mux_gpiodat[chan]);
}

void ADS1248_gpio3(uint32_t state)
{
    write_gpiodat(state == 1 ? GPIODAT_BIAS_POS : GPIODAT_BIAS_NEG);
}

unsigned char ADS1248_gain_sps(int gain, int sps)
{
    uint8_t pga = 0;
    switch (gain) {
    case 1:
        pga = 0x00;
        break;
    case 2:
        pga = 0x10;
        break;
    case 4:
        pga = 0x20;
        break;
    case 8:
        pga = 0x30;
        break;
    case 16:
        pga = 0x40;
        break;
    case 32:
        pga = 0x50;
        break;
    case 64:
        pga = 0x60;
        break;
    case 128:
        pga = 0x70;
        break;
    default:
        uprintf("\r\n\r\nUnrecognized PGA gain. Setting to 1.");
        pga = 0x00;
        break;
    }
    uint8_t rate = 0;
    switch (sps) {
    case 5:
        rate = 0;
        break;
    case 10:
        rate = 1;
        break;
    case 20:
        rate = 2;
        break;
    case 40:
        rate = 3;
        break;
    case 80:
        rate = 4;
        break;
    case 160:
        rate = 5;
        break;
    case 320:
        rate = 6;
        break;
    case 640:
        rate = 7;
        break;
    case 1000:
        rate = 8;
        break;
    case 2000:
        rate = 9;
        break;
    default:
        uprintf("\r\n\r\nUnrecognized data rate. Setting to 5 sps.");
        rate = 0;
        break;
    }
    return static_cast<unsigned char>(pga | rate);
}

float pollADS1248_iso(int pos_chan, int neg_chan, int trials, int gain, int sps)
{
    if (trials > ADS1248_MAX_TRIALS) {
        uprintf("MAX TRIALS is %u in ADS1248_iso, more trials (avg) than %u was requested, edit "
                "pollADS1248_iso() "
                "and recompile\r\n",
                static_cast<unsigned>(ADS1248_MAX_TRIALS), static_cast<unsigned>(ADS1248_MAX_TRIALS));
        trials = ADS1248_MAX_TRIALS;
    }
    const unsigned char sys0 = ADS1248_gain_sps(gain, sps);
    if (!gain_listed(gain)) {
        gain = 1; // the converter runs at PGA code 0: gain 1
    }
    const uint8_t cmd[6] = {
        static_cast<uint8_t>(CMD_WREG | REG_MUX0),
        0x03,
        static_cast<uint8_t>(((static_cast<uint32_t>(pos_chan) & 7u) << 3) |
                             (static_cast<uint32_t>(neg_chan) & 7u)),
        0x00, // VBIAS: no bias voltage
        MUX1_INTERNAL_REF,
        sys0,
    };
    transaction(cmd, sizeof cmd);

    s_missed_trials = 0;
    if (trials <= 0) {
        sys_samp.AD24_std = 0.0f;
        return 0.0f;
    }

    int32_t sum = 0;
    int taken = 0;
    for (int i = 0; i < trials; ++i) {
        if (!wait_drdy()) {
            break;
        }
        int32_t code = ADS1248_code_value(read_result_code());
        s_volts[i] = (static_cast<float>(code) / static_cast<float>(gain)) * ADS1248_VOLTS_PER_CODE;
        sum += code;
        ++taken;
    }
    if (taken < trials) {
        s_missed_trials = trials - taken;
        uprintf("\r\nADS1248_iso: no data ready from converter (AIN%d-AIN%d), %d of %d trials taken\r\n",
                pos_chan, neg_chan, taken, trials);
        if (taken == 0) {
            sys_samp.AD24_std = 0.0f;
            return ADS1248_NO_DATA_VOLTS;
        }
    }

    // Integer mean of the codes (truncating divisions), then volts.
    const float mean = static_cast<float>((sum / taken) / gain) * ADS1248_VOLTS_PER_CODE;
    if (taken < 2) {
        sys_samp.AD24_std = 0.0f;
    } else {
        float acc = 0.0f;
        for (int i = 0; i < taken; ++i) {
            const float d = s_volts[i] - mean;
            acc += d * d;
        }
        sys_samp.AD24_std =
            static_cast<float>(std::sqrt(static_cast<double>(acc / static_cast<float>(taken))));
    }
    return mean;
}
