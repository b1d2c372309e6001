// Test menu: live displays of the board and sensor values, the instrument
// communication menu and the power output menu.
#include "app/test.h"

#include "analog/adc_onchip.h"
#include "analog/ads1248_iso.h"
#include "app/main.h"
#include "app/sleep.h"
#include "records/version.h"
#include "board/board_util.h"
#include "board/pwm.h"
#include "instruments/ctd_base.h"
#include "instruments/ocr.h"
#include "instruments/optode.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "sampling/system_calc.h"
#include "serial/uartstdio.h"

#include <cstring>

namespace {

// Prints a text as it is: a percent sign in it is not a format.
void put_text(const char* text)
{
    UARTwrite(text, static_cast<uint32_t>(std::strlen(text)));
}

// Ticks of 10 ms since `start`.
unsigned long ticks_since(unsigned long start)
{
    return Timer_10ms(0) - start;
}

// Waits until `ticks` 10 ms ticks have passed since `start` or a byte is
// waiting on the console.
void wait_ticks_or_key(unsigned long start, unsigned long ticks)
{
    while (UARTRxBytesAvail() == 0 && ticks_since(start) < ticks) {
        platform_idle();
    }
}

// One reading of the bias battery half selected by GPIO 3: a discarded
// reading to settle the input, then twice the divided voltage.
float read_bias_half(uint32_t gpio3)
{
    ADS1248_gpio3(gpio3);
    delay_msec(10);
    (void)pollADS1248_iso(7, 6, 5, 1, 20);
    delay_msec(100);
    return 2.0f * pollADS1248_iso(7, 6, 5, 1, 20);
}

float voltage_column(uint32_t mux, int pos, int neg)
{
    ADS1248_gpio_ADG1609_mux(mux);
    delay_msec(10);
    return pollADS1248_iso(pos, neg, 1, 1, 5);
}

} // namespace

void test_wait_key_or_sleep(unsigned idle_s)
{
    UARTFlushRx();
    IdleScope idle({idle_s, sleep_idle});
    wait_console_byte();
}

void display_battery_boardSensors()
{
    pwr_env_mon_on();
    pwr_vbat_mon_on();
    pwr_iso_on();
    openADS1248_iso();
    delay_msec(100);
    uprintf("iso power on for reading bias batteries\r\r\n");
    ADS1248_gpio_init();
    adc_onchip_init();
    delay_msec(100);

    unsigned i = 0;
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const uint32_t* adc = read_all_adc();
        const float vbat = vbat_from_count(adc[0]);
        (void)chip_temp_from_count(adc[7]);
        const float brdTemp = brd_temp_from_count(adc[4]);
        const uint32_t humidity = humidity_from_count(adc[2]);
        const uint32_t water = leak_from_count(adc[3]);
        (void)(static_cast<double>(adc[1]) * 0.0072772);
        fBiasNeg = read_bias_half(0);
        fBiasPos = read_bias_half(1);
        uprintf(
            "Bat = %6.2fV   Humidity = %3u  Water = %3u   BoardTemp = %5.1fC   bias(+,-) = %5.2fV, %5.2fV   "
            "i=%u\r",
            static_cast<double>(vbat), static_cast<unsigned>(humidity), static_cast<unsigned>(water),
            static_cast<double>(brdTemp), static_cast<double>(fBiasPos), static_cast<double>(fBiasNeg), i);
        ++i;
        delay_msec(500);
    }
    (void)get_key();
    closeADS1248_iso();
    pwr_vbat_mon_off();
    pwr_iso_off();
    uprintf("iso power off, vbat monitoring off\r\r\n");
}

void display_ph_ref_therm_volts()
{
    openADS1248_iso();
    uprintf("\r\r\nOpen isolated ADS1248 and ADG1609 mux\r\r\n\r\r\n");
    delay_msec(100);
    ADS1248_gpio_init();
    const bool withVb = sys_data.diag != 0;
    if (withVb) {
        uprintf("\r\r\n\r\r\n    SampTime,         Vrse_B,     Vrse,      Vrsi_B,      Vrsi,      Ik,        "
                " Vk,          "
                "Ib,        Vb,     Vtherm\r\r\n");
    } else {
        uprintf("\r\r\n\r\r\n    SampTime,         Vrse_B,     Vrse,      Vrsi_B,      Vrsi,      Ik,        "
                " Vk,          "
                "Ib,     Vtherm\r\r\n");
    }
    struct Column {
        uint32_t mux;
        int pos, neg;
        bool vb;
    };
    static const Column columns[] = {
        {0, 1, 5, false}, {0, 1, 6, false}, {3, 1, 5, false}, {3, 1, 6, false}, {1, 1, 5, false},
        {1, 1, 6, false}, {2, 1, 6, false}, {2, 5, 6, true},  {0, 0, 6, false},
    };
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        printCurrentTime();
        uprintf(", ");
        for (const Column& c : columns) {
            if (c.vb && !withVb) {
                continue;
            }
            const float v = voltage_column(c.mux, c.pos, c.neg);
            if (c.pos == 0) {
                uprintf(" %.6f", static_cast<double>(v));
            } else {
                uprintf(" %.6f, ", static_cast<double>(v));
            }
        }
        uprintf("\r\r\n");
        wait_ticks_or_key(start, 500);
    }
    (void)get_key();
}

void display_calcd_pH_intRef_therm()
{
    static const char* const explanation[] = {
        "Calculate temperature in degrees C using Durafet Thermistor\r\r\n",
        "   DuraFet Thermistor Quadratic coefficients:\r\n",
        "     c0 = 340.9819863\r\n",
        "     c1 = -9.10257E-05\r\n",
        "     c2 = -95.08806667\r\n",
        "     c3 = 0.965370274\r\n",
        "    Rtherm = 20000 / ((3.3 / V_therm) - 1)\r\n",
        "    TempC = c0 + c1*Rtherm + c2*(log10(Rtherm)) + c3*(pow(log10(Rtherm), 3))  Note: pow fxn is "
        "log10(Rtherm) cubed\r\n",
        "\r\n",
        "Compute pH using Temperature and Vrsi_B (ISFET pH voltage biased for 0v at 7pH with respect to "
        "internal "
        "reference):\r\n",
        "   TempC = TempC + sys_data.TCOffset   TCOffset is user entered in config menu\r\n",
        "   TempK = TempC + 273.15\r\n",
        "   NernstSlope = (R_=8.31451 * TempK) / F_=96487 * LN10=2.302585\r\n",
        "   NernstSlope = TempK / 26,720.7\r\n",
        "   Eoint = k0int + dEoINT_dt=-0.0011012 * (TC-25)   k0int is typically -0.4 and can be modified in "
        "Config "
        "menu\r\n",
        "   Eoint = -0.4 + -0.0011012 * (TempC-25)\r\n",
        "   pHint = (Vrsi - Eoint) / NernstSlope\r\n",
        "\r\n\r\n",
    };
    openADS1248_iso();
    delay_msec(100);
    ADS1248_gpio_init();
    for (const char* line : explanation) {
        put_text(line);
    }
    delay_msec(200);
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const float vtherm = pollADS1248_iso(0, 6, 5, 1, 10);
        const float tc = DuraFET_temp(vtherm, sys_data.TCOffset);
        ADS1248_gpio_ADG1609_mux(3);
        delay_msec(10);
        const float vrsi = pollADS1248_iso(1, 6, 5, 1, 5);
        const float ph = calc_pHint(vrsi, tc);
        uprintf("pH= %2.6f,  TC= %2.6f,  Vtherm= %.6f V, Vrsi= %.6f V, std= %.6f\r\n",
                static_cast<double>(ph), static_cast<double>(tc), static_cast<double>(vtherm),
                static_cast<double>(vrsi), static_cast<double>(sys_samp.AD24_std));
        delay_msec(500);
    }
    closeADS1248_iso();
}

void display_calcd_pH_extRef_therm_sal(float Salinity)
{
    openADS1248_iso();
    delay_msec(100);
    ADS1248_gpio_init();
    delay_msec(200);
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const float vtherm = pollADS1248_iso(0, 6, 5, 1, 10);
        const float tc = DuraFET_temp(vtherm, sys_data.TCOffset);
        ADS1248_gpio_ADG1609_mux(0);
        delay_msec(10);
        const float vrse = pollADS1248_iso(1, 6, 5, 1, 5);
        const float ph = calc_pHext(vrse, tc, Salinity);
        uprintf("pHext= %2.6f,  TC= %2.6f,  Vtherm= %.6f V, Vrse= %.6f V, std= %.6f\r\n",
                static_cast<double>(ph), static_cast<double>(tc), static_cast<double>(vtherm),
                static_cast<double>(vrse), static_cast<double>(sys_samp.AD24_std));
        delay_msec(100);
    }
    closeADS1248_iso();
}

namespace {

// Steps the optode state machine from its start state until it finishes;
// each step may be followed by `step_delay_ms`.  The machine's own waits
// are bounded, so this ends.
void optode_one_reading(unsigned step_delay_ms)
{
    int state = optode_stateMachine(ST_OPTODE_INIT);
    while (state > 0) {
        if (step_delay_ms != 0) {
            delay_msec(step_delay_ms);
        }
        platform_idle();
        state = optode_stateMachine(state);
    }
}

void ctd_one_reading(unsigned step_delay_ms)
{
    int state = ctd_stateMachine(ST_CTD_INIT);
    while (state > 0) {
        if (step_delay_ms != 0) {
            delay_msec(step_delay_ms);
        }
        platform_idle();
        state = ctd_stateMachine(state);
    }
}

void optode_debug_once()
{
    put_text("\r\nTest Optode (statemachine code):  Power Optode with 5v, wait for %, send crlf, wait for !, "
             "Send 'do "
             "sample', Receive, trim and print Optode sample terminated by #, turn power off \r\n\r\n");
    const unsigned long start = Timer_10ms(0);
    optode_one_reading(0);
    optode_print_buf();
    uprintf("\r\n\r\nDebug Optode Read Time = %u ms \r\n", static_cast<unsigned>(ticks_since(start) * 10));
}

void optode_debug_loop()
{
    put_text(
        "\r\nLoop Test Optode (statemachine code):  Power Optode with 5v, wait for %, send crlf, wait for !, "
        "Send 'do sample', Receive, trim and print Optode sample terminated by #, turn power off \r\n\r\n");
    unsigned step_delay = 100;
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        optode_one_reading(step_delay);
        optode_print_buf();
        uprintf("\r\n\r\nOptode Read Time = %u ms  statemachine pump cycle = %u ms \r\n",
                static_cast<unsigned>(ticks_since(start) * 10), step_delay);
        step_delay += 100;
        if (step_delay > 1500) {
            step_delay = 0;
        }
    }
    (void)get_key();
}

void ctd_debug_once()
{
    uprintf("\r\nTest Conductivity (statemachine code):  Power CTD with Vbat, wait for %% or 'S', Send 'do "
            "sample' or "
            "'ts', receive and parse sample, turn power off \r\n\r\n");
    const unsigned long start = Timer_10ms(0);
    ctd_one_reading(0);
    ctd_print_buf();
    uprintf("\r\n\r\nCTD Read Time = %u ms \r\n", static_cast<unsigned>(ticks_since(start) * 10));
}

void ctd_debug_loop()
{
    unsigned step_delay = 100;
    uprintf(
        "\r\nLoop Test (%u msec) Conductivity (statemachine code):  Power CTD with Vbat, wait for %% or 'S', "
        "Send do 'sample' or 'ts', receive and parse sample, turn power off \r\n\r\n",
        step_delay);
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        ctd_one_reading(step_delay);
        ctd_print_buf();
        uprintf("\r\n\r\nCTD Read Time = %u ms, statemachine pump cycle = %u ms \r\n",
                static_cast<unsigned>(ticks_since(start) * 10), step_delay);
        // Grows without a cap, but stays bounded by the key that ends the loop.
        if (step_delay < 60000) {
            step_delay += 100;
        }
    }
    (void)get_key();
}

} // namespace

void communicate_with_instruments()
{
    for (;;) {
        const bool advanced = sys_data.app_cfg[APPCFG_MENU_LEVEL] != 0;
        uprintf("\r\n\r\n\r\nCommunicate with Instrument Menu:\r\n");
        uprintf("1 -- SBE37 MicroCAT (on CTD port)\r\n");
        uprintf("2 -- Aanderaa 5860 Conductivity (on CTD port)\r\n");
        uprintf("3 -- Aanderaa Optode\r\n");
        uprintf("4 -- Comm-Pwr Aux port\r\n");
        uprintf("5 -- Seabird OCR-504 on Optode port\r\n");
        if (advanced) {
            uprintf("o/O- DEBUG Test Optode Setup\r\n");
            uprintf("p -- DEBUG Optode serial analyzer\r\n");
            uprintf("q -- DEBUG ctd aanderaa serial Analyzer\r\n");
            uprintf("r -- DEBUG ctd microcat serial Analyzer\r\n");
            uprintf("c/C- DEBUG Test conductivity\r\n");
        }
        uprintf("9 -- Exit\r\n");
        uprintf("\r\nEnter Selection [9]: ");
        UARTFlushRx();
        const unsigned char key = get_key();
        // The instrument is powered while the operator talks to it.
        IdleScope pass_through({PASS_THROUGH_IDLE_S, sleep_idle});
        switch (key) {
        case '1':
            ctd_microCat_comm_test();
            continue;
        case '2':
            ctd_Aand5860_comm_test();
            continue;
        case '3':
            optode_comm_test();
            continue;
        case '4':
            uprintf(
                "\r\n\r\nCOMM-PWR port not supported on VARVE, RS232 level shifter is not stuffed\r\n\r\n");
            continue;
        case '5':
            ocr_comm_test();
            continue;
        default:
            break;
        }
        if (!advanced) {
            return;
        }
        switch (key) {
        case 'o':
            optode_debug_once();
            break;
        case 'O':
            optode_debug_loop();
            break;
        case 'c':
            ctd_debug_once();
            break;
        case 'C':
            ctd_debug_loop();
            break;
        case 'p':
            optode_serial_analyzer();
            break;
        case 'q':
            ctd_aanderaa_serial_analyzer();
            break;
        case 'r':
            ctd_microcat_serial_analyzer();
            break;
        default:
            return;
        }
    }
}

namespace {

void hold_pwm_adjust()
{
    unsigned value = sys_data.solenoid_hold_pwm;
    if (value > 99) {
        // A stored value beyond the PWM's range is shown and driven as 99.
        value = 99;
    }
    pwmSoln_set(value);
    uprintf("Lower case p to lower pwm value, Upper case P to raise pwm value, \r\n");
    uprintf("s/S to save PWM solenoid hold value, X to exit\r\n");
    uprintf("%03u", value);
    UARTEchoSet(false);
    // The menu's line is gone; keys typed from here on all count, even
    // when several arrive at once.
    UARTFlushRx();
    IdleScope idle({TEST_IDLE_S, sleep_idle});
    for (;;) {
        wait_console_byte();
        const int c = UARTgetc();
        if (c == 'P') {
            if (value < 99) {
                ++value;
                pwmSoln_set(value);
                uprintf("\b\b\b%03u", value);
            }
        } else if (c == 'p') {
            if (value > 0) {
                --value;
                pwmSoln_set(value);
                uprintf("\b\b\b%03u", value);
            }
        } else if (c == 'S' || c == 's') {
            sys_data.solenoid_hold_pwm = value;
            storeSysDataVariables();
            uprintf("\r\nsys_data.solenoid_hold updated to %03u\r\n", value);
            uprintf("%03u", value);
        } else {
            break;
        }
    }
    UARTEchoSet(true);
}

} // namespace

int power_output_tests()
{
    for (;;) {
        uprintf("\r\n\r\n\r\nPower Output Test Menu -- %s\r\n", FIRMWARE_VERSION_STR);
        uprintf("A/a -- Pump ON/off     (J12 AUX-PWR1)\r\n");
        uprintf("B/b -- AUX-PWR2 ON/off (J13 AUX-PWR2)\r\n");
        uprintf("C/c -- AUX-PWR3 ON/off (J14 COMM-PWR)\r\n");
        uprintf("F/f -- 5v for Optode ON/off\r\n");
        uprintf("G/g -- Green LED\r\n");
        uprintf("R/r -- Red LED\r\n");
        uprintf("S/s -- Solenoid ON/off\r\n");
        uprintf("P/p -- Solenoid PWM (hold)\r\n");
        uprintf("\r\n");
        uprintf("9 -- Exit to Test Menu\r\n");
        uprintf("\r\nEnter Selection [9]: ");
        test_wait_key_or_sleep(TEST_IDLE_S);
        switch (get_key()) {
        case 'A':
            uprintf("AUX-PWR1 J12 (Pump1) ON\r\n");
            pwr_aux_pwr1_on();
            break;
        case 'a':
            uprintf("AUX-PWR1 J12 (Pump1) OFF\r\n");
            pwr_aux_pwr1_off();
            break;
        case 'B':
            uprintf("AUX-PWR2 J13 (Pump2) ON\r\n");
            pwr_aux_pwr2_on();
            break;
        case 'b':
            uprintf("AUX-PWR2 J13 (Pump2) OFF\r\n");
            pwr_aux_pwr2_off();
            break;
        case 'C':
            uprintf("AUX-PWR3 J14 (COMM-PWR) ON\r\n");
            pwr_aux_pwr3_on();
            break;
        case 'c':
            uprintf("AUX-PWR3 J14 (COMM-PWR) OFF \r\n");
            pwr_aux_pwr3_off();
            break;
        case 'D':
            uprintf("Pump1 ON\r\n");
            pump_on();
            break;
        case 'd':
            uprintf("Pump1 OFF\r\n");
            pump_off();
            break;
        case 'F':
            uprintf("F/f -- 5v for Optode ON\r\n");
            optode_open();
            break;
        case 'f':
            uprintf("F/f -- 5v for Optode off\r\n");
            optode_close();
            break;
        case 'G':
            uprintf("Green On\r\n");
            led_green(1);
            break;
        case 'g':
            uprintf("Green Off\r\n");
            led_green(0);
            break;
        case 'R':
            uprintf("Red On\r\n");
            led_red(1);
            break;
        case 'r':
            uprintf("Red Off\r\n");
            led_red(0);
            break;
        case 'S':
            uprintf("Solenoid On (J9 SO/1)");
            solenoid_on();
            break;
        case 's':
            uprintf("Solenoid Off (J9 SO/1)");
            solenoid_off();
            break;
        case 'P':
        case 'p':
            hold_pwm_adjust();
            break;
        default:
            return 1;
        }
    }
}

void test_menu()
{
    IdleScope idle({TEST_IDLE_S, sleep_idle});
    // The pH displays end on a byte they leave waiting: the menu acts on it
    // instead of discarding it.
    bool keep_input = false;
    for (;;) {
        uprintf("\r\r\n\r\r\n\r\r\nTest Menu:\r\r\n");
        uprintf("1 -- Battery and Board Sensors\r\r\n");
        uprintf("2 -- Durafet voltages\r\r\n");
        uprintf("3 -- Calc pH using Int Ref and Thermistor\r\r\n");
        uprintf("4 -- Calc pH using Ext Ref, Thermistor and Salinity\r\r\n");
        uprintf("5 -- Communicate with Instrument\r\r\n");
        uprintf("6 -- Power Output Tests for AUXx and Pump\r\r\n");
        uprintf("8 -- Test 24bit ADC and MUX channels\r\r\n");
        uprintf("D/d- Data Header, Live Data (D loop), Sample Timing (d)\r\r\n");
        uprintf("P/p- Pump sequence, Data Header, Live Data (P loop), Sample Timing (p)\r\r\n");
        uprintf("M -- MetaData\r\r\n");
        uprintf("R -- print QA Report\r\r\n");
        uprintf("Q -- QA and setup after board manufacture\r\r\n");
        uprintf("9 -- Exit to Main Menu\r\r\n");
        uprintf("\r\r\nEnter Selection [9]: ");
        if (!keep_input) {
            UARTFlushRx();
        }
        const unsigned char key = get_key();
        keep_input = key == '3' || key == '4';
        switch (key) {
        case '1':
            display_battery_boardSensors();
            break;
        case '2':
            display_ph_ref_therm_volts();
            break;
        case '3':
            display_calcd_pH_intRef_therm();
            break;
        case '4':
            display_calcd_pH_extRef_therm_sal(35.0f);
            break;
        case '5':
            communicate_with_instruments();
            break;
        case '6':
            (void)power_output_tests();
            break;
        case '7':
            break;
        case '8':
            test_24bit_adc_mux();
            break;
        case 'D':
            test_get_sample_loop();
            break;
        case 'd':
            test_get_sample_timing();
            break;
        case 'P':
            test_pump_and_sample_loop();
            break;
        case 'p':
            test_pump_and_sample_timing();
            break;
        case 'M':
        case 'm':
            (void)print_write_metadata_header(HibernateRTCGet(), 1, 0);
            break;
        case 'R':
        case 'r':
            uprintf("\r\r\n\r\r\nQA Report:  \r\r\n\r\r\n");
            print_qa_report();
            break;
        case 'Q':
        case 'q':
            if (yesOrNoMenuChoice(
                    "\r\r\n\r\r\nQA for new board, this will wipe out ALL config and setup data, do you "
                    "wish to proceed? [N]? ",
                    0) != 0) {
                (void)board_qa_and_init(1);
            }
            break;
        case 'S':
        case 's':
            if (sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1) {
                uprintf("sys_data structure:\r\r\n\r\r\n");
                qa_print_sys_data_structure();
                uprintf("\r\r\n");
                uprintf("sizeof sys_data = %u\r\r\n", static_cast<unsigned>(sizeof(systemData)));
                uprintf("EEPROM Size %d bytes\r\r\n", static_cast<int>(EEPROMSizeGet()));
            }
            break;
        default:
            uprintf("\r\r\nPress enter to bring up main menu\r\r\n");
            return;
        }
    }
}
