// Supply and environment monitoring.
#include "sampling/sample.h"

#include "analog/adc_onchip.h"
#include "analog/ads1248_iso.h"
#include "board/board_util.h"
#include "serial/user_io.h"
#include "records/system_data.h"

float vbat_from_count(uint32_t count)
{
    const float scaled = static_cast<float>(count * 100);
    return static_cast<float>(scaled / 18193.77);
}

uint32_t humidity_from_count(uint32_t count)
{
    return (count * 100) / 3284;
}

uint32_t leak_from_count(uint32_t count)
{
    uint32_t pct = (count * 100) / 2596;
    return pct > 100 ? 100 : pct;
}

// 0.80566 mV per count; the sensor gives 424 mV at 0 degrees C and
// 6.25 mV per degree.
float brd_temp_from_count(uint32_t count)
{
    return static_cast<float>((count * 0.80566 - 424.0) / 6.25);
}

float chip_temp_from_count(uint32_t count)
{
    return static_cast<float>(147.5 - (247.5 * count) / 4096);
}

float read_vbat()
{
    pwr_env_mon_on();
    pwr_vbat_mon_on();
    adc_onchip_init();
    ms_delay(150);
    const uint32_t* adc = read_all_adc();
    const float vbat = vbat_from_count(adc[0]);
    // The other board values of the burst, as the sample cycle computes them.
    (void)humidity_from_count(adc[2]);
    (void)leak_from_count(adc[3]);
    (void)brd_temp_from_count(adc[4]);
    (void)chip_temp_from_count(adc[7]);
    pwr_vbat_mon_off();
    return vbat;
}

void exercise_iso()
{
    openADS1248_iso();
    ADS1248_gpio_init();
    pwr_env_mon_on();
    pwr_vbat_mon_on();
    ms_delay(1);
    adc_onchip_init();
    ms_delay(100);
    const float vtherm = pollADS1248_iso(0, 6, static_cast<int>(sys_data.Vtherm_trials), 1,
                                         static_cast<int>(sys_data.Vtherm_sps));
    uprintf("\r\nThermistor = %.6f\r\n", static_cast<double>(vtherm));
    ms_delay(900);
    pwr_vbat_mon_off();
    pwr_env_mon_off();
    closeADS1248_iso();
}
