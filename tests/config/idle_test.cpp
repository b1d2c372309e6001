// Every operator wait ends at its menu's idle limit: a byte typed without
// Enter (or a dialogue left half answered) puts the board to sleep by the
// limit, counted from that byte, and nothing half entered is stored.
#include "records/system.h"
#include "records/system_data.h"
#include "tests/config/config_support.h"

#include <gtest/gtest.h>

using namespace deploytest;
using namespace configtest;

namespace {

const std::string SLEEPING = "\r\n\r\nSleeping...*";

struct Case {
    const char* name;
    std::string keys; // lines typed one second apart, from 1 s on
    double limit;     // seconds after the stray byte
    ConfigFn config;
};

// Runs the keys, then a stray "x" one second after the last; true when
// the board is asleep (with nothing after the sleep message) at `until`
// seconds after the stray byte.
bool asleep_at(const Case& c, const std::string& tag, double after_stray, std::string* transcript)
{
    auto o = board(std::string(c.name) + tag, c.config);
    int lines = 0;
    for (char ch : c.keys) {
        lines += ch == '\n' ? 1 : 0;
    }
    auto r = test::run_script(o, c.keys + keys(1, "x"), lines + 1 + after_stray);
    *transcript = r.transcript;
    const auto p = r.transcript.rfind(SLEEPING);
    return p != std::string::npos && p + SLEEPING.size() == r.transcript.size();
}

} // namespace

TEST(IdleLimit, AStrayByteAtEachMenuAndPromptSleepsByItsLimit)
{
    const Case cases[] = {
        {"config-menu", typed({"1"}), 300, nullptr},
        {"config-clock", typed({"1", "1", "y"}), 300, [](systemData& d) { d.GMT = 0; }},
        {"config-walk", typed({"1", "E"}), 300, nullptr},
        {"config-pump", typed({"1", "P"}), 300, nullptr},
        {"calibration", typed({"1", "5"}), 3600, nullptr},
        {"pass-through", typed({"3", "5", "1"}), 600, nullptr},
        {"file-shell", typed({"5"}), 300, nullptr},
        {"help-menu", typed({"H"}), 30000, nullptr},
        {"pump-dialogue", typed({"2", "y"}), 30,
         [](systemData& d) {
             d.sampling_period = 60;
             d.pump1_ontime = 5;
             d.pump_seq_type = 1;
             d.test_mode = 0;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string t;
        // The RTC counts whole seconds: the sleep comes within the second
        // the limit ends in.
        // (A run of the help menu's 30000 s takes long: only its end is
        // checked; the test menu's stray byte is in its own idle test.)
        if (c.limit <= 3600) {
            EXPECT_FALSE(asleep_at(c, "-before", c.limit - 1.5, &t))
                << t.substr(t.size() > 300 ? t.size() - 300 : 0);
            EXPECT_EQ(t.find("Sleeping"), std::string::npos);
        }
        EXPECT_TRUE(asleep_at(c, "-after", c.limit + 1.5, &t))
            << t.substr(t.size() > 300 ? t.size() - 300 : 0);
    }
}

// A command left idle is abandoned whole: answers given before its last
// prompt are not stored either.
TEST(IdleLimit, NothingHalfEnteredIsStored)
{
    // Set Clock: "Is time GMT?" answered, the time never entered.
    auto o = board("half-clock", [](systemData& d) { d.GMT = 0; });
    test::run_script(o, typed({"1", "1", "y"}) + keys(1, "01/02/26 10:0"), 320);
    EXPECT_EQ(stored_config(o.board_dir).GMT, 0);
    // Deployment parameters: the period entered, the rest left.
    o = board("half-period", [](systemData& d) { d.sampling_period = 600; });
    test::run_script(o, typed({"1", "3", "n", "120"}), 320);
    EXPECT_EQ(stored_config(o.board_dir).sampling_period, 600u);
    // The pump questions at a deployment's start: test mode answered, the
    // delayed start left; no deployment, test mode as it was.
    o = board("half-pump", [](systemData& d) {
        d.sampling_period = 60;
        d.pump1_ontime = 5;
        d.pump_seq_type = 1;
        d.test_mode = 0;
    });
    test::run_script(o, typed({"2", "y"}), 40);
    EXPECT_EQ(stored_config(o.board_dir).test_mode, 0u);
    EXPECT_EQ(stored_progress(o.board_dir).state, IDLE);
    // A completed command before the idle one is kept.
    o = board("kept", [](systemData& d) { d.GMT = 0; });
    test::run_script(o, typed({"1", "3", "n", "120", "", "", "", "", "1", "y"}), 330);
    EXPECT_EQ(stored_config(o.board_dir).sampling_period, 120u);
    EXPECT_EQ(stored_config(o.board_dir).GMT, 0);
}
