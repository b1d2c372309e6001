// Help menu: fixed pages, the sampling-time page, the switches and the
// sayings display.
#include "app/help.h"

#include "app/sleep.h"
#include "records/version.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system.h"
#include "serial/uartstdio.h"

#include <cstdint>
#include <cstring>

const char* const wisdom_arr[WISDOM_COUNT + 1] = {
    "Measure twice, deploy once.",
    "The sea keeps every promise you forgot to make.",
    "A sensor that was never calibrated is only a thermometer with opinions.",
    "Slack water is short.",
    "Check the O-rings.",
    "Every mooring is a letter to your future self; write it clearly.",
    "The tide does not read the schedule.",
    "Data not logged is data not taken.",
    "Biofouling is patient. Be more patient.",
    "A fresh battery is cheaper than a lost season.",
    "If the bench test was easy, test it again on the boat.",
    "Salt water finds the one connector you did not grease.",
    "The ocean absorbs carbon and keeps its own accounts.",
    "Zero is a measurement too.",
    "Write the serial number down before the deck gets wet.",
    "Rust never sleeps, and neither does the real-time clock.",
    "Trust the reference, but check the reference.",
    "The best deployment is the boring one.",
    "A calm sea teaches nothing about a storm; a log file teaches a lot.",
    "Label the cable at both ends.",
    "pH is a logarithm; small numbers, big chemistry.",
    "The thermistor does not care how you feel about temperature.",
    "What goes down on a mooring should come back up with data.",
    "Clocks drift, tides turn, and the card fills up.",
    "Recovery is half the deployment.",
    "An instrument on the shelf samples nothing.",
    "Patience: the bias battery settles in its own time.",
    "Every bubble in the flow cell is a question mark in the data.",
    "Nernst was right, and he never went to sea.",
    "Never trust a reading that arrived too quickly.",
    "Keep the desiccant dry and the sensor wet.",
    "A good technician reads the QA report twice.",
    "Noise is information about something else.",
    "When in doubt, power cycle. When certain, power cycle anyway.",
    "The sea is the largest buffer solution on the planet.",
    "Zip ties are temporary; mooring lines are forever.",
    "Seawater is not a solvent, it is an argument.",
    "Slow down on deck. The ocean is not in a hurry.",
    "The first sample tells you it works; the last one tells you it worked.",
    "The standard deviation is the honest friend of the mean.",
    "A log without times is a story without a plot.",
    "Tighten the bolts, then check the bolts you tightened.",
    "Cold water, warm coffee, careful hands.",
    "An unlabelled file is a mystery nobody has time to solve.",
    "If you cannot explain the offset, you cannot correct it.",
    "Every drop of seawater has been somewhere interesting.",
    "Fouling starts the day you deploy; plan for the day you recover.",
    "Good moorings are built on the bench, not on the fantail.",
    "The battery voltage is the heartbeat; listen to it.",
    "A reference electrode is a promise kept at constant potential.",
    "Waves are loud; data should be quiet.",
    "Oxygen is the ocean breathing; measure it gently.",
    "One good calibration is worth a hundred excuses.",
    "Save the configuration before you change the configuration.",
    "The sensor sees the water you put it in, not the water you meant.",
    "Hope is not a deployment plan, but it helps.",
    "Small leaks sink big budgets.",
    "Know where the spare fuse is before you need the spare fuse.",
    "Read the manual before the manual reads you.",
    "Every year the ocean is a little more acidic; every record counts.",
    "A lost instrument tells no tales.",
    "Sunrise on a research vessel is worth the early watch.",
    "Fair winds.",
    "The long sayings are for the long night shifts, when the deck is quiet, the instruments hum in the lab "
    "and there is time to think about why we measure the sea at all: because it changes, and someone must "
    "notice.",
    "Keep a spare.",
    "The data will outlive the cruise; make it worthy of that.",
    "Go gently, come home with data.",
    nullptr,
};

namespace {

// Prints a text as it is: a percent sign in it is not a format.
void put_text(const char* text)
{
    UARTwrite(text, static_cast<uint32_t>(std::strlen(text)));
}

void put_lines(const char* const* lines, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        put_text(lines[i]);
    }
    wait_consoleTx();
}

void configuration_page()
{
    static const char* const page[] = {
        "\r\n\r\n--------- Configuration --------------\r\n",
        "Configuration checklist: (use Main Menu 1--Configure)\r\n",
        "1 -- Set Clock\r\n",
        "2 -- Change File Name\r\n",
        "3 -- Set Deployment Parameters\r\n",
        "        - Sample aligned to hour? (Y/N) [Y]?\r\n",
        "        - Enter sample period [20] sec:   Polled Mode: configure with a period of 0 seconds\r\n",
        "        - Enter pump on time [0] sec:\r\n",
        "        - Enter low battery_voltage (10.5 V for Varve with pump, 5.5 V for VORN) [5.5 V]:\r\n",
        "4 -- Enter pH Sensor Calibration Coefficients\r\n",
        "7 -- Config Data Fields\r\n",
        "        - Upper case letter to enable data field, Lower case letter to disable\r\n",
        "        - 4 -- Use Case: Varve Default,  MicroSD logging is enabled, Console echo is enabled\r\n",
        "        - 5 -- Use Case: Varve m2m,    MicroSD logging is disabled, Console echo is disabled\r\n",
        "\r\n\r\n",
        "Optional config settings\r\n",
        "A -- App Config Fields     For disabling MicroSD logging, or suppressing character echo for "
        "machine-to-machine\r\n",
        "E -- Edit/Copy EEPROM sys_data structure     Run this after firmware upgrade to insure settings are "
        "correctly copied\r\n",
        "\r\n\r\n",
    };
    put_lines(page, sizeof page / sizeof page[0]);
}

void test_page()
{
    static const char* const page[] = {
        "\r\n\r\n--------- Test Mode commands ---------\r\n",
        "Test menu: (use Main Menu 3--Test)\r\n",
        "\r\n",
        "Run QA and setup after board manufacture to initialize EEPROM and configuration defaults - CLEARS "
        "EEPROM MetaData and config, restores defaults\r\n",
        "\r\n",
        "For 24bit ADC and Analog board bringup, use 8 -- Test 24bit ADC and MUX channels\r\n",
        "\r\n",
        "Use d -- Data Header to see the data fields configured for logging as well as sampling sequence "
        "timing, Use D for continuous sampling\r\n",
        "\r\n",
        "Test communications with periperhal instruments such as Aanderaa optode, conductivity, SBE37 "
        "MicroCat CTD\r\n",
        "\r\n\r\n",
    };
    put_lines(page, sizeof page / sizeof page[0]);
}

void deployment_page()
{
    static const char* const page[] = {
        "\r\n\r\n------ Deployment Mode commands ------\r\n",
        "any character to wake, then issue command:\r\n",
        "stop  -- stop sampling, exit deployment mode\r\n",
        "ts    -- take sample\r\n",
        "ss    -- start sample followed by 'sl' command to send last sample, times out after 8 sec\r\n",
        "gh    -- get data header\r\n",
        "gm    -- get metadata\r\n",
        "Ctrl-X, then <Enter> during sampling pump cycle to end pump cycle\r\n",
        "\r\n\r\n",
    };
    put_lines(page, sizeof page / sizeof page[0]);
}

void voltage_page()
{
    static const char* const page[] = {
        "\r\n\r\n------ pH and DuraFET Voltage Wisdom ------\r\n",
        "\r\nVtherm:        ~1.1V at 20C",
        "\r\nVrsi:          Internal reference based pH in seawater: ~-0.9V. In original buffer solution: "
        "~-1.1V",
        "\r\nVrsi_B:        Electrical bias on ISFET voltage so that 7pH is 0V with respect to internal "
        "reference",
        "\r\n                  Then it changes by approximately 60 mV / pH.",
        "\r\n                  So nominal seawater (pH~=8), VrsiBiased ~= 60mV \xb1 30 mV",
        "\r\nVrsi std:      Standard deviation should be < 50uV, typical is ~20uV",
        "\r\nVrse:          External reference based pH in seawater (DeepSea Durafet only) ",
        "\r\nVk:            Between -1.5 and -0.7, expected to move around",
        "\r\nIk:            15uV/nA + amplifier offset (~800uV).  Should be < ~20nA",
        "\r\nIb:            1mV/nA.   Should be < 10nA",
        "\r\n",
        "\r\n",
    };
    put_lines(page, sizeof page / sizeof page[0]);
}

// Milliseconds one channel's reading takes: trials conversions at sps.
unsigned sample_ms(uint32_t sps, uint32_t trials)
{
    if (sps == 0) {
        // A rate of 0 is no rate; printing a time for it would divide by zero.
        return 0;
    }
    float t = (1.0f / static_cast<float>(sps)) * (static_cast<float>(trials) * 1000.0f);
    // A stored trial count far beyond any use gives a time no unsigned
    // holds: converting it would be undefined (and differ between chips).
    constexpr float MAX_MS = 4294967040.0f; // the largest float below 2^32
    return t >= MAX_MS ? 4294967040u : static_cast<unsigned>(t);
}

void sampling_page()
{
    struct Row {
        const char* format;
        uint32_t sps;
        uint32_t trials;
    };
    const Row rows[] = {
        {"VTherm=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vtherm_sps, sys_data.Vtherm_trials},
        {"  Vrsi=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vrsi_sps, sys_data.Vrsi_trials},
        {"  Vrse=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vrse_sps, sys_data.Vrse_trials},
        {"    Ik=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Ik_sps, sys_data.Ik_trials},
        {"    Vk=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vk_sps, sys_data.Vk_trials},
        {"    Ib=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Ib_sps, sys_data.Ib_trials},
        {"    Vb=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vb_sps, sys_data.Vb_trials},
        {" Vbias=%4u ms,   trials=%2u, sps=%u\r\n", sys_data.Vbias_sps, sys_data.Vbias_trials},
    };
    uprintf("\r\n\r\n--------- ADC24 Sample Times ---------------\r\n");
    uprintf("User variables for trials and sps:\r\n");
    for (const Row& r : rows) {
        uprintf(r.format, sample_ms(r.sps, r.trials), static_cast<unsigned>(r.trials),
                static_cast<unsigned>(r.sps));
    }
    uprintf("\r\n\r\n");
}

void bug_page()
{
    static const char* const page[] = {
        "\r\n\r\n\r\n",
        "        \\     /          NA NA\r\n",
        "         \\___/           NANA\r\n",
        "     ___( o o )___       NA !!!\r\n",
        "    /   (  V  )   \\\r\n",
        "   /  __/ === \\__  \\     You Cant Get Me...\r\n",
        "      /  \\___/  \\\r\n",
        "     /   /   \\   \\       Bug Hunt!!!\r\n",
        "\r\n\r\n\r\n",
    };
    put_lines(page, sizeof page / sizeof page[0]);
}

// The sayings' own generator: the linear congruential one of the C
// standard's example, so the order is the same on every build.
uint32_t s_rand_next = 1;

void wisdom_srand(uint32_t seed)
{
    s_rand_next = seed;
}

int wisdom_rand()
{
    s_rand_next = s_rand_next * 1103515245u + 12345u;
    return static_cast<int>((s_rand_next / 65536u) % 32768u);
}

void sayings_display()
{
    static char erase[WISDOM_ERASE_WIDTH + 1];
    std::memset(erase, ' ', WISDOM_ERASE_WIDTH);
    erase[WISDOM_ERASE_WIDTH] = '\r';

    uprintf("\r\n\r\n");
    wisdom_srand(HibernateRTCGet() % 60u);
    for (;;) {
        const char* saying = wisdom_arr[wisdom_rand() % WISDOM_DRAWN];
        put_text("  ");
        put_text(saying);
        put_text("\r");
        int wait_s = static_cast<int>(std::strlen(saying) / 15u) * 2 + 8;
        int c = getchar_timed(wait_s);
        UARTwrite(erase, sizeof erase);
        wait_consoleTx();
        if (c >= 0 && c != 'n') {
            return;
        }
    }
}

} // namespace

void print_help_menu()
{
    uprintf("\r\n\r\n\r\nHelp Menu\r\n");
    uprintf("C -- Configuration help\r\n");
    uprintf("T -- Test help\r\n");
    uprintf("D -- Deployment help\r\n");
    uprintf("P -- pH and DuraFET Voltage Wisdom\r\n");
    uprintf("S -- Sampling info\r\n");
    if (sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1) {
        uprintf("\r\n");
        uprintf("M/m -MicroSD Logging Enable / disable\r\n");
        uprintf("Q/q -Advanced menus Enable / disable\r\n");
        uprintf("Z/z -dbg_printf statements Enable / disable\r\n");
    }
    uprintf("\r\n");
    uprintf("9 -- Exit to Main Menu\r\n");
    uprintf("\r\nEnter Selection [9]: ");
}

void help_menu()
{
    uprintf("\r\n\r\nVersion -- %s, %s \r\n ", FIRMWARE_VERSION_STR, "Nonvol mem: i2c Ferroelectric RAM");
    IdleScope idle({HELP_IDLE_S, sleep_idle});
    for (;;) {
        print_help_menu();
        UARTFlushRx();
        const bool advanced = sys_data.app_cfg[APPCFG_MENU_LEVEL] == 1;
        switch (get_key()) {
        case 'C':
        case 'c':
            configuration_page();
            break;
        case 'T':
        case 't':
            test_page();
            break;
        case 'D':
        case 'd':
            deployment_page();
            break;
        case 'P':
        case 'p':
            voltage_page();
            break;
        case 'S':
        case 's':
            sampling_page();
            break;
        case 'H':
            sayings_display();
            break;
        case 'h':
            break;
        case 'Q':
            uprintf("\r\nExperimental menus enabled, sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1\r\n");
            sys_data.app_cfg[APPCFG_MENU_LEVEL] = 1;
            sys_data.diag = 1;
            break;
        case 'q':
            uprintf("\r\nExperimental menus disabled\r\n");
            sys_data.app_cfg[APPCFG_MENU_LEVEL] = 0;
            sys_data.diag = 0;
            break;
        case 'M':
            if (advanced) {
                sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
                uprintf("MicroSD card Enabled for Logging\r\n\r\n");
                storeSysDataVariables();
            }
            break;
        case 'm':
            if (advanced) {
                sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
                uprintf("MicroSD card DISabled, no Logging\r\n\r\n");
                storeSysDataVariables();
            }
            break;
        case 'Z':
            if (advanced) {
                uprintf("\r\nDebug Printf statements are enabled\r\n");
                sys_data.debug_flag = 1;
                dbg_flag = 1;
            }
            break;
        case 'z':
            if (advanced) {
                uprintf("\r\nDebug Printf statements are disabled\r\n");
                sys_data.debug_flag = 0;
                dbg_flag = 0;
            }
            break;
        case 'b':
            bug_page();
            break;
        default:
            return;
        }
    }
}
