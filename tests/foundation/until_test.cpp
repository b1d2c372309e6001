// "--until" of varve-sim: a duration in seconds or with a unit.
#include "sim/tools/cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int parse(const std::string& until, sim::RunOptions* o)
{
    std::vector<std::string> args = {"varve-sim", "--console", "none", "--until", until};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    return sim::parse_command_line(static_cast<int>(argv.size()), argv.data(), o);
}

TEST(Until, SecondsOrAUnit)
{
    const struct {
        const char* text;
        double seconds;
    } ok[] = {{"90", 90},       {"90s", 90},    {"45m", 2700}, {"12h", 43200},
              {"30d", 2592000}, {"1.5h", 5400}, {"0", 0}};
    for (const auto& c : ok) {
        sim::RunOptions o;
        EXPECT_EQ(parse(c.text, &o), -1) << c.text;
        EXPECT_DOUBLE_EQ(o.until_s, c.seconds) << c.text;
    }
    for (const char* bad : {"", "d", "10x", "5 m", "-5m", "12hh", "40000d"}) {
        sim::RunOptions o;
        EXPECT_EQ(parse(bad, &o), 2) << bad;
    }
}

} // namespace
