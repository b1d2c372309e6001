// Board QA: the procedure that checks a new board against the analog
// simulator board and initialises its stored records, the QA report, the
// analog check row and the 24-bit converter test menu.
#include "app/main.h"
#include "app/test.h"
#include "records/version.h"
#include "analog/ads1248_iso.h"
#include "board/board_util.h"
#include "board/rtc_calendar.h"
#include "instruments/ctd_base.h"
#include "instruments/optode.h"
#include "operator/config.h"
#include "operator/config_headers.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/i2c_fram.h"
#include "records/system.h"
#include "sampling/sample.h"
#include "serial/uartstdio.h"
#include "storage/fatfs/ff.h"
#include "storage/microsd.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// One channel of the analog check: where it is read and its limits.
struct TambChannel {
    const char* name;
    uint32_t mux;
    int pos, neg, gain, sps;
    double min, max;
    float* value; // qa fields, or null when the channel is not stored
    float* std;
    float* err;
    bool vb; // measured only with the menu level at 1
};

constexpr int TAMB_CHANNELS = 9;

// The limit table in flash: a copy on the stack would cost its 504 bytes on
// the deepest stack path (the converter menu's ambient display).
#define QA_FIELDS(f) &sys_data.qa.f, &sys_data.qa.f##_std, &sys_data.qa.f##_err
const TambChannel TAMB[TAMB_CHANNELS] = {
    {"Vrsi", 3, 1, 6, 1, 5, -0.0565, -0.0535, QA_FIELDS(Vrsi), false},
    {"Vrsi_B", 3, 1, 5, 1, 20, 0.673, 0.679, nullptr, nullptr, nullptr, false},
    {"Vrse", 0, 1, 6, 1, 5, -0.801, -0.786, QA_FIELDS(Vrse), false},
    {"Vrse_B", 0, 1, 5, 1, 20, -0.0705, -0.057, nullptr, nullptr, nullptr, false},
    {"Ik", 1, 1, 5, 4, 5, 0.258, 0.335, QA_FIELDS(Ik), false},
    {"Vk", 1, 1, 6, 4, 5, -0.501, -0.498, QA_FIELDS(Vk), false},
    {"Ib", 2, 1, 6, 1, 5, -0.401, -0.393, QA_FIELDS(Ib), false},
    {"Vb", 2, 5, 6, 1, 5, 0.0001, 0.002, QA_FIELDS(Vb), true},
    {"Vtherm", 0, 0, 6, 1, 5, 0.992, 1.0, QA_FIELDS(Vtherm), false},
};
#undef QA_FIELDS

// Whether the analog check rows measure Vb: in board QA with the menu level
// at 1; in the converter menu's display also with diagnostics on, whose
// limits and header then show the nine channels.
bool tamb_with_vb(int qaFlg)
{
    return sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1 || (qaFlg == 0 && sys_data.diag == 1);
}

// Prints a stored text field that need not be terminated.
int field_len(const char* field, std::size_t size)
{
    return static_cast<int>(strnlen(field, size));
}

void print_local_time(uint32_t t, char* text, std::size_t size)
{
    std::strftime(text, size, "%m/%d/%y %H:%M:%S", rtc_localtime(t));
}

// Waits `ticks` 10 ms ticks from `start`, or less when a byte arrives.
void wait_ticks_or_key(unsigned long start, unsigned long ticks)
{
    while (UARTRxBytesAvail() == 0 && Timer_10ms(0) - start < ticks) {
        platform_idle();
    }
}

void qa_card_test()
{
    uprintf("\r\nQA: ----- microSD test -----\r\n");
    sys_data.qa.microSD = 0;
    char name[13];
    qa_file_name(sys_data.qa.time, name);

    // The card is proved by a line that says what wrote it: an empty write
    // would pass on a card that cannot store anything.
    char stamp[24];
    print_local_time(sys_data.qa.time, stamp, sizeof stamp);
    std::snprintf(prnBuf, sizeof prnBuf, "QA microSD test %s, %s, tester %.*s\r\n", stamp,
                  FIRMWARE_VERSION_STR, field_len(sys_data.qa.tester, sizeof sys_data.qa.tester),
                  sys_data.qa.tester);

    static FIL fil;
    FRESULT fr = f_open(&fil, name, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
    if (fr != FR_OK) {
        uprintf("QA file failed to open, check microSD card slot for 8GB uSD\r\n");
        return;
    }
    fr = f_lseek(&fil, f_size(&fil));
    if (fr != FR_OK) {
        uprintf("f_lseek error: %s\r\n", StringFromFresult(fr));
        error_store("f_lseek error");
    } else {
        const UINT len = static_cast<UINT>(strnlen(prnBuf, sizeof prnBuf));
        UINT written = 0;
        fr = f_write(&fil, prnBuf, len, &written);
        if (fr == FR_OK && written == len) {
            sys_data.qa.microSD = 1;
            uprintf("  Passed\r\n");
        } else {
            uprintf("  Fail: f_write error: %s\r\n", StringFromFresult(fr == FR_OK ? FR_DISK_ERR : fr));
        }
    }
    fr = f_close(&fil);
    if (fr != FR_OK) {
        // Data not reaching the card is a failed card test.
        sys_data.qa.microSD = 0;
        uprintf("   Fail: f_close error: %s\r\n", StringFromFresult(fr));
        error_store("f_close error");
    }
}

// The CTD check runs a whole transaction with a real instrument type: the
// type the board was configured with, or, when it had none, each type in
// turn until one answers with a reading.  The configuration is left as it
// was.
uint32_t qa_ctd_test(unsigned char configured)
{
    static const unsigned char TYPES[] = {CTD_TYPE_SBE37, CTD_TYPE_AAND5860};
    static const char* const NAMES[] = {"SBE37 MicroCat", "Aanderaa 5860"};
    const unsigned char kept = sys_data.data_cfg[CFG_CTD];
    uint32_t passed = 0;
    for (int i = 0; i < 2 && passed == 0; ++i) {
        if ((configured == CTD_TYPE_SBE37 || configured == CTD_TYPE_AAND5860) && configured != TYPES[i]) {
            continue;
        }
        sys_data.data_cfg[CFG_CTD] = TYPES[i];
        passed = ctd_qa_test();
        if (passed != 0) {
            uprintf("  CTD interface passed (%s)\r\n", NAMES[i]);
        } else if (configured == TYPES[i]) {
            uprintf("  CTD interface failed (%s): %s\r\n", NAMES[i], ctd.buf);
        }
    }
    if (passed == 0 && configured != CTD_TYPE_SBE37 && configured != CTD_TYPE_AAND5860) {
        uprintf("  CTD interface failed: neither an SBE37 MicroCat nor an Aanderaa 5860 answered\r\n");
    }
    sys_data.data_cfg[CFG_CTD] = kept;
    return passed;
}

void tamb_header(bool withVb)
{
    if (withVb) {
        uprintf("\r\n\r\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        "
                "Vk,         "
                "Ib,        Vb,       VTherm\r\n");
    } else {
        uprintf("\r\n\r\n    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        "
                "Vk,         "
                "Ib,       VTherm\r\n");
    }
}

} // namespace

void qa_file_name(uint32_t rtc_seconds, char* name)
{
    static const char TEMPLATE[] = "qaMMDDYY.txt";
    std::memcpy(name, TEMPLATE, sizeof TEMPLATE);
    const struct tm* t = rtc_localtime(rtc_seconds);
    const int parts[3] = {t->tm_mon + 1, t->tm_mday, t->tm_year % 100};
    for (int i = 0; i < 3; ++i) {
        name[2 + 2 * i] = static_cast<char>('0' + parts[i] / 10);
        name[3 + 2 * i] = static_cast<char>('0' + parts[i] % 10);
    }
}

int test_sampling_tamb(int qaFlg)
{
    const int trials = qaFlg > 0 ? 5 : 1;
    const bool withVb = tamb_with_vb(qaFlg);
    int errors = 0;
    if (qaFlg > 0) {
        sys_data.qa.Vb = 0.0f;
        sys_data.qa.Vb_std = 0.0f;
        sys_data.qa.Vb_err = 0.0f;
    }
    printCurrentTime();
    uprintf(", ");
    for (const TambChannel& c : TAMB) {
        if (c.vb && !withVb) {
            continue;
        }
        ADS1248_gpio_ADG1609_mux(c.mux);
        delay_msec(10);
        const float v = pollADS1248_iso(c.pos, c.neg, trials, c.gain, c.sps);
        const bool last = c.pos == 0;
        uprintf(last ? " %.6f" : " %.6f, ", static_cast<double>(v));
        float err = 0.0f;
        if (tamb_limit_check(static_cast<int>(&c - TAMB), v, &err) != 0) {
            uprintf(" Err ");
            ++errors;
        }
        if (qaFlg > 0 && c.value != nullptr) {
            *c.value = v;
            *c.std = sys_samp.AD24_std;
            *c.err = err;
        }
    }
    if (errors != 0) {
        uprintf("  ERROR count = %d  ", errors);
    }
    uprintf("\r\n");
    return errors;
}

int tamb_channel_count()
{
    return TAMB_CHANNELS;
}

const char* tamb_channel_name(int i)
{
    return i >= 0 && i < TAMB_CHANNELS ? TAMB[i].name : "";
}

int tamb_limit_check(int i, float v, float* err)
{
    if (i < 0 || i >= TAMB_CHANNELS) {
        *err = -1.0f; // no such channel: no pass
        return 1;
    }
    const TambChannel& c = TAMB[i];
    const bool last = c.pos == 0;
    *err = 0.0f;
    if (static_cast<double>(v) < c.min) {
        *err = static_cast<float>(static_cast<double>(v) - c.min);
        return 1;
    }
    // Vtherm's upper limit is compared in single precision.
    if (last ? v > 1.0f : static_cast<double>(v) > c.max) {
        *err = static_cast<float>(c.max - static_cast<double>(v));
        return 1;
    }
    if (!(static_cast<double>(v) >= c.min)) {
        // Not a number (no reading): fails as well.
        *err = -1.0f;
        return 1;
    }
    return 0;
}

void print_qa_report()
{
    const qaData& q = sys_data.qa;
    uprintf("Tester: %.*s\r\n", field_len(q.tester, sizeof q.tester), q.tester);
    uprintf("Firmware version: %.*s\r\n", field_len(q.firmware_version, sizeof q.firmware_version),
            q.firmware_version);
    uprintf("Test time = %u sec\r\n", static_cast<unsigned>(q.test_time));
    char stamp[24];
    print_local_time(q.time, stamp, sizeof stamp);
    uprintf("Test timestamp:  %s\r\n", stamp);
    struct Row {
        uint32_t v;
        const char* pass;
        const char* fail;
    };
    const Row rows[] = {
        {q.microSD, "microSD passed\r\n", "microSD failed\r\n"},
        {q.eeprom, "EEPROM passed\r\n", "EEPROM failed\r\n"},
        {q.sys_data_init, "sys_data initialized, passed\r\n", "sys_data NOT initialized, failed\r\n"},
        {q.fram, "FRAM passed\r\n", "FRAM failed\r\n"},
        {q.aux_pwr1, "Aux Pwr1 passed\r\n", "Aux Pwr1 failed\r\n"},
        {q.aux_pwr2, "Aux Pwr2 passed\r\n", "Aux Pwr2 failed\r\n"},
        {q.aux_pwr3, "Aux Pwr3 passed\r\n", "Aux Pwr3 failed\r\n"},
        {q.ctd, "CTD passed\r\n", "CTD failed\r\n"},
        {q.optode, "Optode passed\r\n", "Optode failed\r\n"},
        {q.comm_pwr, "Comm Pwr passed\r\n", "Comm Pwr failed\r\n"},
    };
    for (const Row& r : rows) {
        uprintf("%s", r.v != 0 ? r.pass : r.fail);
    }
    uprintf("ADC24 report:\r\n");
    const uint8_t level = sys_data.app_cfg[APPCFG_MENU_LEVEL];
    uprintf("\tADCerr  \t Vrsi   \tVrsiStd \tVrsiErr \t  Vrse  \tVrseStd \tVrseErr \tVtherm  "
            "\tVthrmStd\tVthrmErr");
    // Above level 1 the row is that of level 0 (no Vb), and so is its header.
    if (level != 1) {
        uprintf("\t  Ik    \t Ik_std \t Ik_err \t  Vk    \t Vk_std \t Vk_err \t   Ib   \t  Ib_std\t Ib_err "
                "\t Vbias+ "
                "\t  Vbias-\r\n");
    } else {
        uprintf("\t  Ik    \t Ik_std \t Ik_err \t  Vk    \t Vk_std \t Vk_err \t   Ib   \t  Ib_std\t Ib_err "
                "\t   Vb   "
                "\t  Vb_std \t Vb_err \t Vbias+ \t Vbias-\r\n");
    }
    uprintf("\t  %3u   \t", static_cast<unsigned>(q.adc24));
    const float* triples[] = {&q.Vrsi, &q.Vrse, &q.Vtherm, &q.Ik, &q.Vk, &q.Ib, &q.Vb};
    for (int i = 0; i < 7; ++i) {
        if (i == 6 && level != 1) {
            break;
        }
        const float* t = triples[i];
        uprintf("%8.6f\t%8.6f\t%8.6f\t", static_cast<double>(t[0]), static_cast<double>(t[1]),
                static_cast<double>(t[2]));
    }
    uprintf("%8.3f\t%8.3f\t", static_cast<double>(q.Vbias_pos), static_cast<double>(q.Vbias_neg));
    uprintf("\r\n");
}

int board_qa_and_init(int initFlg)
{
    qaData& q = sys_data.qa;
    // The CTD type the board had before the defaults replace it.
    const unsigned char ctd_type = sys_data.data_cfg[CFG_CTD];
    uprintf("\r\nQA: ----- EEPROM / sys_data init -----\r\n");
    q.sys_data_init = 0;
    if (microSD_flg == 0) {
        Init_SDCard();
        microSD_flg = 1;
    }

    if (initFlg == 1) {
        config_sys_data_default_init();
        q.eeprom = 0;
        const uint32_t size = EEPROMSizeGet();
        if (size >= sizeof(systemData)) {
            q.eeprom = sizeof(systemData);
            uprintf("   Pass EEPROM (sys_data size %u)\r\n", static_cast<unsigned>(q.eeprom));
            uprintf("   Pass sys_data init\r\n");
        } else {
            uprintf("   Fail EEPROM:  %u is less than sys_data size of %u\r\n", static_cast<unsigned>(size),
                    static_cast<unsigned>(sizeof(systemData)));
            uprintf("   Fail sys_data init\r\n");
        }
    }
    std::memset(q.firmware_version, 0, sizeof q.firmware_version);
    std::memcpy(q.firmware_version, FIRMWARE_VERSION_STR, sizeof FIRMWARE_VERSION_STR);
    q.sys_data_init = 1;

    if (initFlg == 1) {
        q.fram = 0;
        if (fram_probe() == FRAM_PROBE_OK) {
            q.fram = 1;
            uprintf("   Pass FRAM\r\n");
        } else {
            uprintf("   Fail FRAM.   This board cannot be used for science\r\n");
        }
        initSysSampFRAMVariables();
        storeSysDataVariables();
    }

    // Tester.
    uprintf("\r\nEnter Tester Name (your name will be added to the lottery drawing) [%.*s]: ",
            field_len(q.tester, sizeof q.tester), q.tester);
    char name[46];
    if (getUserInput(name, sizeof name) > 0) {
        std::memset(q.tester, 0, sizeof q.tester);
        std::strncpy(q.tester, name, sizeof q.tester - 1);
        uprintf("\r\nTester name recorded as: %s.  Welcome to Quality Assurance!\r\n", q.tester);
    }

    // Clock.
    uprintf("\r\nQA: ----- RTC test -----\r\n");
    sys_data.GMT = 0;
    const uint32_t entered = getDateAndTime();
    if (entered != 0) {
        HibernateRTCSet(entered);
        uprintf("\r\nTime now: ");
        printCurrentTime();
        uprintf(sys_data.GMT != 0 ? " GMT\r\n" : " Local\r\n");
    }
    uprintf("\r\n");
    q.time = HibernateRTCGet();
    char stamp[24];
    print_local_time(q.time, stamp, sizeof stamp);
    uprintf("   Test timestamp:  %s", stamp);

    qa_card_test();

    // Metadata.
    uprintf("\r\nQA: --------- Enter Meta Data  --------------\r\n");
    for (;;) {
        qa_enter_metadata();
        uprintf("\r\n\r\n");
        if (yesOrNoMenuChoice("Redo metadata entry (Y/N) [N]:  ", 0) == 0) {
            break;
        }
        uprintf("\r\nwell ok, re-enter the metadata\r\n\r\n");
    }
    if (print_write_metadata_header(q.time, 1, 1) != 0) {
        q.microSD = 0;
        uprintf("FAIL: Not able to write metadata, File system error, check SD Card\r\n");
    }

    // Supply current, bias batteries and board sensors.
    uprintf("\r\nQA: about to turn iso power on - note current now on 12v supply\r\n");
    uprintf("\r\nQA: hit any key, additional current of 2mA to 3mA is expected, more or less is a Fail.\r\n");
    UARTFlushRx();
    (void)get_key();
    uprintf("checking bias battery and onboard environmental sensors: bias batteries should be above "
            "3.55v\r\n\r\n");
    UARTFlushRx();
    display_battery_boardSensors();
    q.Vbias_pos = fBiasPos;
    q.Vbias_neg = fBiasNeg;

    // Analog front end against the simulator board.
    uprintf("\r\nAnalog to Digital test: iso power on, adg1609 mux init'd, reading ads1284 adc and testing "
            "analog "
            "frontend against expected variation \r\n\r\n");
    openADS1248_iso();
    delay_msec(100);
    ADS1248_gpio_init();
    delay_msec(10);
    uprintf("\r\nThe 24bit ADC QA test assumes an analog sim, aka Vessarine v2, is connected to the TAMB.   "
            "To end "
            "TAMB test, Hit a key, then wait for sample row to finish\r\n");
    q.adc24 = 10;
    tamb_header(sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1);
    UARTFlushRx();
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        q.adc24 = static_cast<uint32_t>(test_sampling_tamb(1));
        wait_ticks_or_key(start, 500);
    }
    if (q.adc24 != 0) {
        uprintf("sys_data.qa.adc24 error count = %u\r\n", static_cast<unsigned>(q.adc24));
    }
    (void)get_key();
    closeADS1248_iso();
    uprintf("\r\niso power off\r\n");

    // Instruments.
    q.aux_pwr1 = 0;
    q.aux_pwr2 = 0;
    q.aux_pwr3 = 0;
    q.ctd = 0;
    q.optode = 0;
    q.comm_pwr = 0;
    uprintf("\r\nQA: ------- Testing External Instrument interfaces -------\r\n");
    q.ctd = qa_ctd_test(ctd_type);
    q.optode = optode_qa_test();
    if (q.optode != 0) {
        uprintf("  Optode interface passed\r\n");
    } else {
        uprintf("  Optode interface failed: %s\r\n", optode.buf);
    }
    uprintf("\r\n");

    if (storeSysDataVariables() == 0) {
        uprintf("QA data written to EEPROM, use Test menu to see QA report\r\n");
    } else {
        q.sys_data_init = 0;
        q.eeprom = 0;
        uprintf("\r\n\r\nError storing system data in EEPROM\r\n");
    }

    q.test_time = HibernateRTCGet() - q.time;
    uprintf("Elapsed time %u sec\r\n", static_cast<unsigned>(q.test_time));
    uprintf("\r\n\r\n----- QA Procedure complete, QA Report:  -----\r\n\r\n");
    print_qa_report();
    uprintf("\r\n\r\nThankyou %.*s, your QA time was %u sec.  Have a nice day.\r\n\r\n",
            field_len(q.tester, sizeof q.tester), q.tester, static_cast<unsigned>(q.test_time));
    return 1;
}

// --- Converter test menu -----------------------------------------------------------

namespace {

enum class Scale { Volts, IkNanoAmps, IbNanoAmps };

struct SingleChannel {
    char key;
    uint32_t mux;
    int pos, neg;
    Scale scale;
    const char* header;
    const char* line5;
    const char* line20;
};

const SingleChannel SINGLE[] = {
    {'0', 3, 1, 6, Scale::Volts,
     "0 -- Vrsi (pH Int Ref) Voltage, Mux = 11,  AIN1+ AIN6-, sampleCnt = %u for 5Hz and %u for 20Hz\r\n",
     "Vrsi   = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\r\n",
     "Vrsi   = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'1', 3, 1, 5, Scale::Volts,
     "1 -- Vrsi_B (pH Int Ref with bias offset), Mux = 11,  AIN1+ AIN5, sampleCnt = %u for 5Hz and %u for "
     "20Hz\r\n",
     "Vrsi_B = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\r\n",
     "Vrsi_B = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'2', 0, 1, 6, Scale::Volts,
     "2 -- Vrse (pH Ext Ref) Voltage, Mux = 00,  AIN1+ AIN6-, sampleCnt = %u for 5Hz and %u for 20Hz\r\n",
     "Vrse   = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\r\n",
     "Vrse   = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'3', 0, 1, 5, Scale::Volts,
     "3 -- Vrse_B (pH Ext Ref with bias offset) Voltage, Mux = 00,  AIN1+ AIN6-, sampleCnt = %u for 5Hz and "
     "%u for "
     "20Hz\r\n",
     "Vrse_B = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\r\n",
     "Vrse_B = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'4', 1, 1, 5, Scale::IkNanoAmps,
     "4 -- Ik (Counter Electrode Current), Mux = 01,  AIN1+ AIN5-, sampleCnt = %u for 5Hz and %u for "
     "20Hz\r\n",
     "Ik = (%.6f V / 15k) = %.2f nA , Std = %.6f V,  Samp = %04u,  Time = %04lu ms 5Hz\r\n",
     "Ik = (%.6f V / 15k) = %.2f nA , Std = %.6f V,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'5', 1, 1, 6, Scale::Volts,
     "5 -- Vk (Counter Electrode Voltage), Mux = 01,  AIN1+ AIN6-, sampleCnt = %u for 5Hz and %u for "
     "20Hz\r\n",
     "Vk = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\n",
     "Vk = %.6f V, Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'6', 2, 1, 6, Scale::IbNanoAmps,
     "6 -- Ib Substrate Current (voltage across 1M resistor), Mux = 10,  AIN1+ AIN6-, sampleCnt = %u for 5Hz "
     "and "
     "%u for 20Hz\r\n",
     "Vb= %.6f V, Ib= %.3f nA, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\n",
     "Vb= %.6f V, Ib= %.3f nA, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'7', 2, 5, 6, Scale::Volts,
     "7 -- Substrate Voltage, Mux = 10,  AIN5+ AIN6-, sampleCnt = %u for 5Hz and %u for 20Hz\r\n",
     "Vsubstrate = %.6f V, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\n",
     "Vsubstrate = %.6f V, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
    {'8', 0, 0, 6, Scale::Volts,
     "8 -- Thermistor ISFET Temperature, Mux = XX,  AIN0+ AIN6-, sampleCnt = %u for 5Hz and %u for 20Hz\r\n",
     "Vtherm = %.6f V, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 5Hz\r\n",
     "Vtherm = %.6f V, Vb Std = %.6f,  Samp = %04u,  Time = %04lu ms 20Hz\r\n"},
};

constexpr int SINGLE_TRIALS = 10;

void single_reading(const SingleChannel& c, int sps, const char* format, unsigned sample)
{
    const unsigned long start = Timer_10ms(0);
    const float v = pollADS1248_iso(c.pos, c.neg, SINGLE_TRIALS, 1, sps);
    const unsigned long ms = (Timer_10ms(0) - start) * 10;
    const double std = static_cast<double>(sys_samp.AD24_std);
    switch (c.scale) {
    case Scale::IkNanoAmps:
        uprintf(format, static_cast<double>(v), static_cast<double>(v) * 66666.667, std, sample, ms);
        break;
    case Scale::IbNanoAmps:
        uprintf(format, static_cast<double>(v), static_cast<double>(v) * 1000.0, std, sample, ms);
        break;
    case Scale::Volts:
        uprintf(format, static_cast<double>(v), std, sample, ms);
        break;
    }
}

void single_channel_display(const SingleChannel& c)
{
    ADS1248_gpio_ADG1609_mux(c.mux);
    uprintf(c.header, static_cast<unsigned>(SINGLE_TRIALS), static_cast<unsigned>(SINGLE_TRIALS));
    unsigned sample = 0;
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        single_reading(c, 5, c.line5, sample++);
        single_reading(c, 20, c.line20, sample++);
        wait_ticks_or_key(start, 200);
    }
    (void)get_key();
}

void all_channels_display()
{
    uprintf("\r\n\r\n    Date Time,         Vrsi,      Vrsi_B,    Vrse,       Vrse_B,      Ik,         Vk,   "
            "      Ib,  "
            "      Vb,     VTherm\r\n");
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        printCurrentTime();
        uprintf(", ");
        for (const TambChannel& c : TAMB) {
            ADS1248_gpio_ADG1609_mux(c.mux);
            delay_msec(10);
            const double v = static_cast<double>(pollADS1248_iso(c.pos, c.neg, 1, 1, c.sps));
            if (std::strcmp(c.name, "Ik") == 0) {
                uprintf(" %.2f, ", v * 66666.667);
            } else if (std::strcmp(c.name, "Ib") == 0) {
                uprintf(" %.3f, ", v * 1000.0);
            } else if (c.pos == 0) {
                uprintf(" %.6f", v);
            } else {
                uprintf(" %.6f, ", v);
            }
        }
        uprintf("\r\n");
        wait_ticks_or_key(start, 200);
    }
    (void)get_key();
}

void tamb_display()
{
    const bool nine = tamb_with_vb(0);
    uprintf("\r\n\r\n");
    for (int row = 0; row < 2; ++row) {
        uprintf(row == 0 ? "               MIN:" : "               MAX:");
        bool first = true;
        for (const TambChannel& c : TAMB) {
            if (c.vb && !nine) {
                continue;
            }
            uprintf(first ? " %.6f" : ",  %.6f", row == 0 ? c.min : c.max);
            first = false;
        }
        uprintf("\r\n");
    }
    if (nine) {
        uprintf("    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,        "
                " Ib,    "
                "    Vb,       VTherm\r\n");
    } else {
        uprintf("    Date Time,         Vrsi,     Vrsi_B,     Vrse,      Vrse_B,       Ik,        Vk,        "
                " Ib,    "
                "   VTherm\r\n");
    }
    idle_activity();
    while (UARTRxBytesAvail() == 0) {
        idle_poll();
        const unsigned long start = Timer_10ms(0);
        (void)test_sampling_tamb(0);
        wait_ticks_or_key(start, 500);
    }
    (void)get_key();
}

} // namespace

void test_24bit_adc_mux()
{
    uprintf("\r\niso power on, init ADG1609 mux\r\n\r\n");
    openADS1248_iso();
    delay_msec(100);
    ADS1248_gpio_init();
    delay_msec(10);
    for (;;) {
        uprintf("\r\n\r\n\r\nTest pH (24bit ADC and Mux) Menu\r\n");
        uprintf("0 -- Vrsi    - ISFET Source (pH) Voltage wrt Int Ref\r\n");
        uprintf("1 -- Vrsi_B  - pH Volt Biased (pH 7 is 0v) wrt Int Ref\r\n");
        uprintf("2 -- Vrse    - ISFET Source (pH) Voltage wrt Ext Ref\r\n");
        uprintf("3 -- Vrse_B  - pH Volt Biased (pH 7 is 0v) wrt Ext Ref\r\n");
        uprintf("4 -- Ik      - Counter Electrode Current\r\n");
        uprintf("5 -- Vk      - Counter Electrode Voltage wrt Ground\r\n");
        uprintf("6 -- Ib      - Substrate Current\r\n");
        uprintf("7 -- Vb      - Substrate Voltage (Depracated)\r\n");
        uprintf("8 -- Vtherm  - Thermistor Temperature\r\n");
        uprintf("S -- Sample all channels (0-8)\r\n");
        uprintf("X -- TAMB sample test (error check voltages), assumes Vessarine Analog Board\r\n");
        uprintf("9 -- Exit to Main Menu\r\n");
        uprintf("\r\nEnter Selection [9]: ");
        test_wait_key_or_sleep(TEST_IDLE_S);
        const unsigned char key = get_key();
        const SingleChannel* single = nullptr;
        for (const SingleChannel& c : SINGLE) {
            if (c.key == static_cast<char>(key)) {
                single = &c;
            }
        }
        if (single != nullptr) {
            single_channel_display(*single);
        } else if (key == 'S' || key == 's') {
            all_channels_display();
        } else if (key == 'X' || key == 'x') {
            tamb_display();
        } else {
            uprintf("\r\nPress enter to bring up menu\r\n");
            closeADS1248_iso();
            uprintf("iso power off\r\n");
            return;
        }
    }
}
