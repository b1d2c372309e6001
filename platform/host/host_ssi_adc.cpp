// SSI (SPI master) ports and ADC0 of the simulated microcontroller.
#include "platform/host/host_periph.h"
#include "platform/host/sim_core.h"
#include "platform/platform.h"

#include <array>
#include <deque>

// --- SSI -----------------------------------------------------------------------------

namespace {

constexpr std::size_t SSI_FIFO_DEPTH = 8;
// Bounded waits of the blocking SSI calls: far longer than any frame at the
// slowest clock the firmware uses.
constexpr sim::Time SSI_BLOCKING_LIMIT_NS = 10 * sim::NS_PER_MS;

// A frame FIFO of the SSI's depth (no allocation per frame).
struct Fifo {
    std::array<uint32_t, SSI_FIFO_DEPTH> frames{};
    std::size_t head = 0;
    std::size_t count = 0;

    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    uint32_t front() const { return frames[head]; }
    void pop_front()
    {
        head = (head + 1) % SSI_FIFO_DEPTH;
        --count;
    }
    void push_back(uint32_t frame)
    {
        frames[(head + count) % SSI_FIFO_DEPTH] = frame;
        ++count;
    }
};

struct Ssi {
    bool enabled = false;
    uint32_t bit_rate = 1000000;
    uint32_t width = 8;
    // One frame's time at bit_rate and width, worked out when the port is
    // configured: a division per frame costs the host more than the rest
    // of a frame's bookkeeping.
    sim::Time frame_ns = 8000;
    Fifo tx;
    Fifo rx;
    bool shifting = false;
    uint32_t out = 0; // the frame on the line while shifting
    sim::Timer frame_end;
    sim::SpiDevice* device = nullptr;

    uint32_t mask() const { return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1); }

    void start()
    {
        if (shifting || tx.empty() || !enabled) {
            return;
        }
        shifting = true;
        out = tx.front();
        tx.pop_front();
        sim::timer_arm(frame_end, sim::now() + frame_ns);
    }

    // SSIDataPut() then SSIDataGet() of one frame on an idle port, when
    // nothing else can happen until the get has taken it: the same
    // simulated times, device exchange and event ids, without the frame's
    // timer.  False (nothing done) when the port or the machine is not so.
    bool exchange_quietly(uint32_t frame, uint32_t* got)
    {
        const sim::Time f = frame_ns;
        const sim::Time start = sim::now();
        // The put's and the get's first register accesses come before the
        // frame ends; the get's last one ends the exchange.
        if (!enabled || shifting || !tx.empty() || !rx.empty() || f <= 2 * sim::REGISTER_ACCESS_NS ||
            f > sim::IDLE_CAP_NS || !sim::quiet_through(start + f + sim::REGISTER_ACCESS_NS)) {
            return false;
        }
        sim::take_event_id(); // the put arms the frame's timer
        out = frame;
        sim::move_quietly(start + f);
        const uint32_t in = device != nullptr ? device->spi_exchange(out & mask()) : mask();
        sim::settle();
        *got = in & mask();
        sim::register_access(); // the get takes the frame
        return true;
    }

    void finish_frame()
    {
        shifting = false;
        // With nothing attached the receive line floats high.
        const uint32_t in = device != nullptr ? device->spi_exchange(out & mask()) : mask();
        if (rx.size() < SSI_FIFO_DEPTH) {
            rx.push_back(in & mask());
        }
        start();
    }
};

std::array<Ssi, 4> g_ssi;

Ssi* ssi_of(uint32_t base)
{
    const uint32_t offset = base - SSI0_BASE; // (wraps for a base below SSI0's)
    if (offset > SSI3_BASE - SSI0_BASE || (offset & 0xFFF) != 0) {
        return nullptr;
    }
    return &g_ssi[offset >> 12];
}

} // namespace

namespace sim {

void ssi_attach(uint32_t ssi_base, SpiDevice* dev)
{
    if (Ssi* s = ssi_of(ssi_base)) {
        s->device = dev;
    }
}

} // namespace sim

void SSIConfigSetExpClk(uint32_t ui32Base, uint32_t, uint32_t, uint32_t, uint32_t ui32BitRate,
                        uint32_t ui32DataWidth)
{
    if (Ssi* s = ssi_of(ui32Base)) {
        s->bit_rate = ui32BitRate != 0 ? ui32BitRate : 1;
        s->width = ui32DataWidth;
        s->frame_ns = static_cast<sim::Time>(s->width) * sim::NS_PER_S / s->bit_rate;
    }
    sim::register_access();
}

void SSIEnable(uint32_t ui32Base)
{
    if (Ssi* s = ssi_of(ui32Base)) {
        s->enabled = true;
        s->start();
    }
    sim::register_access();
}

void SSIDisable(uint32_t ui32Base)
{
    if (Ssi* s = ssi_of(ui32Base)) {
        s->enabled = false;
    }
    sim::register_access();
}

int32_t SSIDataPutNonBlocking(uint32_t ui32Base, uint32_t ui32Data)
{
    Ssi* s = ssi_of(ui32Base);
    int32_t stored = 0;
    if (s != nullptr && s->tx.size() < SSI_FIFO_DEPTH) {
        s->tx.push_back(ui32Data);
        s->start();
        stored = 1;
    }
    sim::register_access();
    return stored;
}

void SSIDataPut(uint32_t ui32Base, uint32_t ui32Data)
{
    // Room in the FIFO, as nearly always: what the first try below does.
    Ssi* s = ssi_of(ui32Base);
    if (s != nullptr && s->tx.size() < SSI_FIFO_DEPTH) {
        s->tx.push_back(ui32Data);
        s->start();
        sim::register_access();
        return;
    }
    sim::Time deadline = sim::now() + SSI_BLOCKING_LIMIT_NS;
    while (SSIDataPutNonBlocking(ui32Base, ui32Data) == 0 && sim::now() < deadline) {
        sim::idle();
    }
}

int32_t SSIDataGetNonBlocking(uint32_t ui32Base, uint32_t* pui32Data)
{
    Ssi* s = ssi_of(ui32Base);
    int32_t got = 0;
    if (s != nullptr && !s->rx.empty()) {
        *pui32Data = s->rx.front();
        s->rx.pop_front();
        got = 1;
    }
    sim::register_access();
    return got;
}

void SSIDataGet(uint32_t ui32Base, uint32_t* pui32Data)
{
    sim::Time deadline = sim::now() + SSI_BLOCKING_LIMIT_NS;
    Ssi* const s = ssi_of(ui32Base);
    while (SSIDataGetNonBlocking(ui32Base, pui32Data) == 0) {
        if (sim::now() >= deadline) {
            *pui32Data = 0xFFFFFFFFu;
            return;
        }
        // Usually the frame on the line is all there is to wait for.
        if (s == nullptr || !sim::run_timer_if_next(s->frame_end, sim::IDLE_CAP_NS)) {
            sim::idle();
        }
    }
}

void platform_ssi_transfer(uint32_t ui32Base, const uint8_t* pui8Out, uint8_t* pui8In, uint32_t ui32Count)
{
    Ssi* const s = ssi_of(ui32Base);
    for (uint32_t i = 0; i < ui32Count; ++i) {
        const uint32_t out = pui8Out != nullptr ? pui8Out[i] : 0xFFu;
        uint32_t in;
        if (s == nullptr || !s->exchange_quietly(out, &in)) {
            SSIDataPut(ui32Base, out);
            SSIDataGet(ui32Base, &in);
        }
        if (pui8In != nullptr) {
            pui8In[i] = static_cast<uint8_t>(in);
        }
    }
}

bool SSIBusy(uint32_t ui32Base)
{
    Ssi* s = ssi_of(ui32Base);
    bool busy = s != nullptr && (s->shifting || (!s->tx.empty() && s->enabled));
    if (busy) {
        sim::idle();
    } else {
        sim::register_access();
    }
    return busy;
}

// --- ADC0 -------------------------------------------------------------------------------

namespace {

// One conversion at 1 Msps.
constexpr sim::Time ADC_CONVERSION_NS = 1 * sim::NS_PER_US;

struct AdcSequence {
    bool enabled = false;
    std::array<uint32_t, 8> step_config{};
    int steps = 0; // number of steps up to the one marked END
    bool complete = false;
    std::deque<uint32_t> fifo;
};

std::array<AdcSequence, 4> g_adc;
sim::AdcSourceFn g_adc_source;

int adc_input_of(uint32_t config)
{
    if ((config & ADC_CTL_TS) != 0) {
        return -1;
    }
    return static_cast<int>((config & 0x0F) | ((config & 0x100) != 0 ? 0x10 : 0));
}

} // namespace

namespace sim {

void adc_set_source(AdcSourceFn fn)
{
    g_adc_source = std::move(fn);
}

} // namespace sim

void ADCSequenceConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t, uint32_t)
{
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4) {
        g_adc[ui32SequenceNum] = AdcSequence{};
    }
    sim::register_access();
}

void ADCSequenceStepConfigure(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t ui32Step,
                              uint32_t ui32Config)
{
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4 && ui32Step < 8) {
        AdcSequence& s = g_adc[ui32SequenceNum];
        s.step_config[ui32Step] = ui32Config;
        if ((ui32Config & ADC_CTL_END) != 0) {
            s.steps = static_cast<int>(ui32Step) + 1;
        }
    }
    sim::register_access();
}

void ADCSequenceEnable(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4) {
        g_adc[ui32SequenceNum].enabled = true;
    }
    sim::register_access();
}

void ADCSequenceDisable(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4) {
        g_adc[ui32SequenceNum].enabled = false;
    }
    sim::register_access();
}

void ADCProcessorTrigger(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    sim::register_access();
    if (ui32Base != ADC0_BASE || ui32SequenceNum >= 4 || !sim::periph_enabled(SYSCTL_PERIPH_ADC0)) {
        return;
    }
    AdcSequence& s = g_adc[ui32SequenceNum];
    if (!s.enabled || s.steps == 0) {
        return;
    }
    int steps = s.steps;
    sim::schedule_in(ADC_CONVERSION_NS * static_cast<sim::Time>(steps), [&s, steps] {
        s.fifo.clear();
        for (int i = 0; i < steps; ++i) {
            int ain = adc_input_of(s.step_config[static_cast<std::size_t>(i)]);
            uint32_t count = g_adc_source ? g_adc_source(ain) : 0;
            s.fifo.push_back(count & 0xFFF);
        }
        s.complete = true;
    });
}

uint32_t ADCIntStatus(uint32_t ui32Base, uint32_t ui32SequenceNum, bool bMasked)
{
    bool done = ui32Base == ADC0_BASE && ui32SequenceNum < 4 && !bMasked && g_adc[ui32SequenceNum].complete;
    if (!done) {
        sim::idle(ADC_CONVERSION_NS);
    } else {
        sim::register_access();
    }
    return done ? 1u : 0u;
}

void ADCIntClear(uint32_t ui32Base, uint32_t ui32SequenceNum)
{
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4) {
        g_adc[ui32SequenceNum].complete = false;
    }
    sim::register_access();
}

int32_t ADCSequenceDataGet(uint32_t ui32Base, uint32_t ui32SequenceNum, uint32_t* pui32Buffer)
{
    int32_t n = 0;
    if (ui32Base == ADC0_BASE && ui32SequenceNum < 4) {
        AdcSequence& s = g_adc[ui32SequenceNum];
        while (!s.fifo.empty()) {
            pui32Buffer[n++] = s.fifo.front();
            s.fifo.pop_front();
        }
    }
    sim::register_access();
    return n;
}

namespace sim {

// Power-on state of the SSI ports and ADC0 (in-process test benches boot
// several boards in one process).
void ssi_adc_models_boot()
{
    for (Ssi& s : g_ssi) {
        timer_cancel(s.frame_end);
    }
    g_ssi = {};
    for (Ssi& s : g_ssi) {
        s.frame_end.fn = [](void* ctx) { static_cast<Ssi*>(ctx)->finish_frame(); };
        s.frame_end.ctx = &s;
    }
    g_adc = {};
    g_adc_source = nullptr;
}

} // namespace sim
