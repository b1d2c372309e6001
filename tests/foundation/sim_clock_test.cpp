// The simulated clock's shortcuts against the step-by-step way they stand
// for: same simulated times, same device exchanges, same event ids.
#include "platform/host/chip.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct ClockBench : ::testing::Test {
    void SetUp() override
    {
        sim::reset_clock(0);
        sim::chip_power_on();
    }
    void TearDown() override
    {
        sim::reset_clock(0);
        sim::chip_power_on();
    }
};

TEST_F(ClockBench, ATimerArmedAgainLaterRunsAtItsNewTimeOnly)
{
    sim::Time ran_at = sim::TIME_NEVER;
    sim::Timer t;
    t.ctx = &ran_at;
    t.fn = [](void* ctx) { *static_cast<sim::Time*>(ctx) = sim::now(); };
    sim::timer_arm(t, 100 * sim::NS_PER_US);
    sim::timer_arm(t, 200 * sim::NS_PER_US);
    sim::consume(150 * sim::NS_PER_US);
    EXPECT_EQ(ran_at, sim::TIME_NEVER);
    EXPECT_EQ(sim::now(), 150 * sim::NS_PER_US);
    sim::consume(100 * sim::NS_PER_US);
    EXPECT_EQ(ran_at, 200 * sim::NS_PER_US);
}

// An SPI device that logs each frame with the time it ends, and answers
// with a count.
struct LoggingDevice : sim::SpiDevice {
    std::vector<std::string>* log;
    uint32_t next = 0x40;
    uint32_t spi_exchange(uint32_t mosi) override
    {
        log->push_back("frame " + std::to_string(mosi) + " at " + std::to_string(sim::now()));
        return next++;
    }
};

// Exchanges `out` on SSI0 at 12.5 MHz, by platform_ssi_transfer() or by
// the put/get loop it stands for, with events scheduled in the middle of
// the block (one at a frame's very end); returns everything that happened.
std::vector<std::string> exchange(bool transfer, const std::vector<uint8_t>& out)
{
    std::vector<std::string> log;
    LoggingDevice dev;
    dev.log = &log;
    sim::ssi_attach(SSI0_BASE, &dev);
    SSIConfigSetExpClk(SSI0_BASE, 50000000, SSI_FRF_MOTO_MODE_0, SSI_MODE_MASTER, 12500000, 8);
    SSIEnable(SSI0_BASE);
    const sim::Time t0 = sim::now();
    const sim::EventId id0 = sim::schedule(sim::TIME_NEVER - 1, [] {});
    // (A frame ends 640 ns after its put; the next put follows 20 ns after
    // the get: the second frame ends at 1300 ns.)
    for (sim::Time at : {t0 + 1300, t0 + 3000, t0 + 6000}) {
        sim::schedule(at, [&log] { log.push_back("event at " + std::to_string(sim::now())); });
    }
    std::vector<uint8_t> in(out.size());
    if (transfer) {
        platform_ssi_transfer(SSI0_BASE, out.data(), in.data(), static_cast<uint32_t>(out.size()));
    } else {
        for (std::size_t i = 0; i < out.size(); ++i) {
            uint32_t frame;
            SSIDataPut(SSI0_BASE, out[i]);
            SSIDataGet(SSI0_BASE, &frame);
            in[i] = static_cast<uint8_t>(frame);
        }
    }
    for (uint8_t b : in) {
        log.push_back("in " + std::to_string(b));
    }
    // Ids go on across resets: the ids taken in between must match.
    log.push_back("end at " + std::to_string(sim::now()) + " ids taken " +
                  std::to_string(sim::schedule(sim::TIME_NEVER - 1, [] {}) - id0));
    sim::ssi_attach(SSI0_BASE, nullptr);
    return log;
}

TEST_F(ClockBench, SsiTransferMatchesThePutGetLoopItStandsFor)
{
    const std::vector<uint8_t> out = {0x51, 0xFF, 0x00, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x0F};
    const std::vector<std::string> loop = exchange(false, out);
    sim::reset_clock(0);
    sim::chip_power_on();
    const std::vector<std::string> transfer = exchange(true, out);
    EXPECT_EQ(transfer, loop);
    // The events fell between frames and at a frame's end, as meant.
    EXPECT_EQ(
        std::count_if(loop.begin(), loop.end(), [](const std::string& s) { return s.starts_with("event"); }),
        3);
}

} // namespace
