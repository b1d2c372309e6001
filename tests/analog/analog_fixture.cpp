#include "tests/analog/analog_fixture.h"

#include "app/main.h"
#include "serial/uartstdio.h"
#include "tests/support/harness.h"

namespace test {

void AnalogBench::begin(const std::map<std::string, std::string>& params)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    sim::RunOptions opts;
    opts.board_dir = fresh_board_dir(std::string("analog-") + info->test_suite_name() + "-" + info->name());
    opts.start = "2026-01-15 12:00:00";
    opts.params = params;
    ASSERT_TRUE(sim::bench_begin(opts));
    started_ = true;
    init();
    wait_consoleTx();
    wait_ms(2);
    clear();
}

void AnalogBench::end()
{
    if (started_) {
        sim::bench_end();
        started_ = false;
    }
}

void AnalogBench::TearDown()
{
    end();
}

void AnalogBench::wait_ms(unsigned ms)
{
    sim::Time until = sim::now() + ms * sim::NS_PER_MS;
    while (sim::now() < until) {
        sim::idle(until - sim::now());
    }
}

double AnalogBench::seconds_since(sim::Time t0)
{
    return static_cast<double>(sim::now() - t0) / static_cast<double>(sim::NS_PER_S);
}

std::string AnalogBench::printed()
{
    wait_consoleTx();
    wait_ms(5); // the last bytes leave the transmitter
    return sim::bench_console_output();
}

} // namespace test
