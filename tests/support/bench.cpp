#include "tests/support/bench.h"

#include "app/main.h"
#include "serial/uartstdio.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

namespace test {

void BenchTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    opts.board_dir = fresh_board_dir(std::string(info->test_suite_name()) + "-" + info->name());
    opts.start = "2026-01-15 12:00:00";
    if (auto_start_) {
        start();
    }
}

void BenchTest::start(bool run_init)
{
    ASSERT_TRUE(sim::bench_begin(opts));
    started_ = true;
    if (run_init) {
        init();
    }
    clear();
}

void BenchTest::TearDown()
{
    if (started_) {
        sim::bench_end();
    }
}

void BenchTest::settle()
{
    wait_consoleTx();
    while (UARTBusy(UART0_BASE)) {
    }
}

std::string BenchTest::output()
{
    settle();
    return sim::bench_console_output();
}

void BenchTest::clear()
{
    settle();
    sim::bench_clear_output();
}

void BenchTest::wait_ms(unsigned ms)
{
    sim::Time end = sim::now() + ms * sim::NS_PER_MS;
    while (sim::now() < end) {
        sim::idle(end - sim::now());
    }
}

} // namespace test
