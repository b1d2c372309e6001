// Stored settings a deployment cannot work with: the start refuses them,
// naming each; a running deployment that meets one puts right what it can,
// says so in the error file and goes on sampling; the schedule cannot
// overflow.
#include "app/deploy.h"
#include "platform/platform.h"
#include "records/system.h"
#include "records/system_data.h"
#include "sim/devices/board_services.h"
#include "tests/deployment/deploy_support.h"
#include "tests/support/bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace deploytest;

namespace {

const std::string REFUSED = "\r\n\r\nDeployment not started: these settings cannot work\r\n";

std::string start_keys()
{
    return keys(1, "2\\r") + keys(1, "\\r");
}

} // namespace

TEST(DeploymentStart, RefusesEachSettingThatCannotWork)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        ConfigFn config;
        std::string line;
    };
    const Case cases[] = {
        {"period", [](systemData& d) { d.sampling_period = 4294967295u; },
         "  sampling_period 4294967295 s is above a day (86400 s): set it with 1-Config, 3 (Deployment "
         "Parameters)\r\n"},
        {"period-day", [](systemData& d) { d.sampling_period = 86401; }, "  sampling_period 86401 s"},
        {"pump-type",
         [](systemData& d) {
             d.pump1_ontime = 5;
             d.pump_seq_type = 3;
         },
         "  pump_seq_type 3 is not 1 (single) or 2 (two pumps): set it with 1-Config, P (Pump Sequencer "
         "Setup)\r\n"},
        {"ctd", [](systemData& d) { d.data_cfg[CFG_CTD] = 3; },
         "  data_cfg[CFG_CTD] 3 is not 0 (none), 1 (SBE37) or 2 (Aanderaa 5860): set it with 1-Config, 7 "
         "(Config Data Fields), W\r\n"},
        {"low-batt", [nan](systemData& d) { d.low_batt_volt = nan; },
         "  low_batt_volt is not a finite number: set it with 1-Config, 3 (Deployment Parameters)\r\n"},
        {"k0int", [inf](systemData& d) { d.k0int = inf; },
         "  k0int is not a finite number: set it with 1-Config, 4 (pH Sensor Calibration Coefficients)\r\n"},
        {"sal", [nan](systemData& d) { d.default_sal = -nan; },
         "  default_sal is not a finite number: set it with 1-Config, 4 (pH Sensor Calibration "
         "Coefficients)\r\n"},
        {"sh-a", [](systemData& d) { d.shTherm_A = -std::numeric_limits<double>::infinity(); },
         "  shTherm_A is not a finite number: set it with 1-Config, 4 (pH Sensor Calibration "
         "Coefficients)\r\n"},
        {"error-file", [](systemData& d) { std::strcpy(d.fileName, "ERROR.TXT"); },
         "  fileName \"ERROR.TXT\" is not a valid 8.3 data file name (not Error.txt): set it with 1-Config, "
         "2 "
         "(Change File Name)\r\n"},
        {"long-name", [](systemData& d) { std::strcpy(d.fileName, "deployment.txt"); },
         "  fileName \"deployment.txt\" is not a valid 8.3"},
        {"long-ext", [](systemData& d) { std::strcpy(d.fileName, "data.text"); },
         "  fileName \"data.text\" is not a valid 8.3"},
        {"space", [](systemData& d) { std::strcpy(d.fileName, "my data.txt"); },
         "  fileName \"my data.txt\" is not a valid 8.3"},
        {"unterminated", [](systemData& d) { std::memset(d.fileName, 'A', sizeof d.fileName); },
         "  fileName \"AAAAAAAAAAAAAAAA\" is not a valid 8.3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto o = board(std::string("refuse-") + c.name, [&c](systemData& d) {
            d.sampling_period = 60;
            c.config(d);
        });
        auto r = test::run_script(o, start_keys(), 20);
        EXPECT_NE(r.transcript.find(REFUSED + c.line), std::string::npos) << r.transcript;
        EXPECT_EQ(test::count(r.transcript, ": set it with"), 1);
        EXPECT_EQ(r.transcript.find("Starting deployment"), std::string::npos);
        EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
        EXPECT_TRUE(records(card_file(o.board_dir, "Error.txt")).empty());
    }
    // Names on the edge of the 8.3 form, and a period of a day, are
    // accepted.
    for (const char* name : {"ABCDEFGH.TXT", "A", "x_1-2.c", "ERROR.TX"}) {
        SCOPED_TRACE(name);
        auto o = board(std::string("accept-") + name, [name](systemData& d) {
            d.sampling_period = std::strcmp(name, "A") == 0 ? 86400 : 60;
            std::strcpy(d.fileName, name);
        });
        auto r = test::run_script(o, start_keys(), 10);
        EXPECT_EQ(r.transcript.find(REFUSED), std::string::npos) << r.transcript;
        EXPECT_NE(r.transcript.find("Starting deployment"), std::string::npos);
    }
}

// A damaged progress or configuration record met by a sampling wake.
TEST(DeploymentWake, BadStoredStateIsRepairedAndSamplingGoesOn)
{
    auto o = board("wake-repair", [](systemData& d) {
        d.sampling_period = 60;
        d.pump1_ontime = 2;
        d.pump_seq_type = 2;
        d.pump2_ontime = 2;
        d.pump1_cycles = 1;
        d.pump2_cycles = 1;
    });
    auto config_hook = o.boot_hook;
    o.boot_hook = [config_hook](int boot) {
        config_hook(boot);
        if (boot == 3) {
            // sys_samp.pump_seq_state in the FRAM copy of the progress record.
            const uint32_t bad = 99;
            std::memcpy(sim::fram_image() + 64 + offsetof(systemSamplingData, pump_seq_state), &bad, 4);
        }
    };
    // The pump questions answered with Enter, then an empty note.
    auto r = test::run_script(o, start_keys() + keys(1, "\\r") + keys(1, "\\r"), 250);
    EXPECT_EQ(r.transcript.find("ERROR: ST_SEQ"), std::string::npos);
    const auto recs = records(card_file(o.board_dir, "noname.txt"));
    // Every wake sampled: the first, then 12:01:01 to 12:04:01.
    ASSERT_EQ(recs.size(), 5u) << r.transcript;
    const std::string errors = card_file(o.board_dir, "Error.txt");
    EXPECT_EQ(test::count(errors, " pump_seq_state 99 is not a waiting state: pump sequence restarted"), 1)
        << errors;
}

TEST(DeploymentWake, PeriodAboveADayIsSetToAnHour)
{
    auto o = board("wake-period", [](systemData& d) { d.sampling_period = 60; });
    auto config_hook = o.boot_hook;
    o.boot_hook = [config_hook](int boot) {
        config_hook(boot);
        if (boot == 3) {
            const uint32_t bad = 4294967295u;
            std::memcpy(sim::eeprom_image() + SYS_DATA_EEPROM_ADDR + offsetof(systemData, sampling_period),
                        &bad, 4);
        }
    };
    auto r = test::run_script(o, start_keys(), 2 * 3600);
    const auto recs = records(card_file(o.board_dir, "noname.txt"));
    // The first sample; at the 12:01:01 wake the period is put right: its
    // sample, then 13:01:01.
    ASSERT_EQ(recs.size(), 3u) << r.transcript;
    EXPECT_EQ(fields(recs[1])[1].substr(11), "12:01:01");
    EXPECT_EQ(fields(recs[2])[1].substr(11), "13:01:01");
    EXPECT_EQ(stored_config(o.board_dir).sampling_period, 3600u);
    EXPECT_NE(
        card_file(o.board_dir, "Error.txt").find(" sampling_period 4294967295 above a day: set to 3600"),
        std::string::npos);
}

using Schedule = test::BenchTest;

// A damaged period or schedule never wraps the 32-bit clock nor loops for
// long: the next wake is at most a day ahead.
TEST_F(Schedule, NextWakeStaysWithinADay)
{
    const uint32_t now = HibernateRTCGet();
    sys_data.sampling_period = 4294967295u;
    sys_data.sample_aligned = 1;
    uint32_t next = compute_nextWakeUp();
    EXPECT_GE(next, now);
    EXPECT_LE(next, now + 86400);
    EXPECT_EQ(next % 3600, 0u);
    sys_data.sample_aligned = 0;
    sys_samp.nextWakeUp = 4294967000u;
    next = compute_nextWakeUp();
    EXPECT_EQ(next, now + 86400);
    // A sound schedule: one period on, however far behind the clock.
    sys_data.sampling_period = 600;
    sys_samp.nextWakeUp = now - 5000;
    EXPECT_EQ(compute_nextWakeUp(), now - 4400);
}
