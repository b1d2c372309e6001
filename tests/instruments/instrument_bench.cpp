#include "tests/instruments/instrument_bench.h"

#include "instruments/ctd_base.h"
#include "instruments/ocr.h"
#include "instruments/optode.h"

#include <cstring>

namespace test {

namespace {

Transaction end_of(sim::Time t0, int state, const char* buf, char power_port, int power_pin)
{
    Transaction t;
    t.seconds = static_cast<double>(sim::now() - t0) / static_cast<double>(sim::NS_PER_S);
    t.result = state;
    t.power_on = sim::gpio_level(power_port, power_pin);
    t.terminated = std::memchr(buf, '\0', 128) != nullptr;
    t.buf = t.terminated ? std::string(buf) : std::string(buf, 128);
    return t;
}

} // namespace

void InstrumentBench::begin(const std::map<std::string, std::string>& params)
{
    opts.params = params;
    start();
}

double InstrumentBench::seconds_since(sim::Time t0)
{
    return static_cast<double>(sim::now() - t0) / static_cast<double>(sim::NS_PER_S);
}

Transaction InstrumentBench::run(const StepFn& step, double limit_s)
{
    sim::Time t0 = sim::now();
    int st = step(1);
    int steps = 1;
    while (st != 0) {
        st = step(st);
        ++steps;
        if (seconds_since(t0) > limit_s) {
            ADD_FAILURE() << "transaction still in state " << st << " after " << limit_s << " s";
            break;
        }
    }
    Transaction t;
    t.steps = steps;
    t.seconds = seconds_since(t0);
    return t;
}

int InstrumentBench::step_while(const StepFn& step, int state, double limit_s)
{
    sim::Time t0 = sim::now();
    int st = state;
    while (st == state) {
        st = step(st);
        if (seconds_since(t0) > limit_s) {
            ADD_FAILURE() << "still in state " << state << " after " << limit_s << " s";
            break;
        }
    }
    return st;
}

void InstrumentBench::finish(const StepFn& step, int state, double limit_s)
{
    sim::Time t0 = sim::now();
    int st = state;
    while (st != 0) {
        st = step(st);
        if (seconds_since(t0) > limit_s) {
            ADD_FAILURE() << "transaction still in state " << st << " after " << limit_s << " s";
            return;
        }
    }
}

Transaction InstrumentBench::ctd_end(sim::Time t0)
{
    return end_of(t0, ctd.state, ctd.buf, 'D', 0);
}

Transaction InstrumentBench::optode_end(sim::Time t0)
{
    return end_of(t0, optode.state, optode.buf, 'L', 2);
}

Transaction InstrumentBench::ocr_end(sim::Time t0)
{
    return end_of(t0, ocr.state, ocr.buf, 'L', 2);
}

Transaction InstrumentBench::run_ctd(double limit_s)
{
    sim::Time t0 = sim::now();
    int steps = run(ctd_stateMachine, limit_s).steps;
    Transaction t = ctd_end(t0);
    t.steps = steps;
    return t;
}

Transaction InstrumentBench::run_optode(double limit_s)
{
    sim::Time t0 = sim::now();
    int steps = run(optode_stateMachine, limit_s).steps;
    Transaction t = optode_end(t0);
    t.steps = steps;
    return t;
}

Transaction InstrumentBench::run_ocr(double limit_s)
{
    sim::Time t0 = sim::now();
    int steps = run(ocr_stateMachine, limit_s).steps;
    Transaction t = ocr_end(t0);
    t.steps = steps;
    return t;
}

void InstrumentBench::type_later(unsigned delay_ms, const std::string& bytes)
{
    sim::schedule_in(delay_ms * sim::NS_PER_MS, [bytes] { sim::bench_type(bytes); });
}

} // namespace test
