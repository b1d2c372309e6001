// Temperature and pH computations, the seawater chemistry, and round trips
// through the simulated sensor, converter and multiplexer.
#include "tests/analog/analog_fixture.h"

#include "analog/ads1248_iso.h"
#include "board/board_util.h"
#include "records/system_data.h"
#include "sampling/system_calc.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using PhCalc = test::AnalogBench;
using RoundTrip = test::AnalogBench;
using QaSimulator = test::AnalogBench;
using WorldNoise = test::AnalogBench;

// Bisulfate dissociation constant (Dickson 1990), free scale, with the
// conversion to mol per kg of solution; written out here independently of
// the firmware and of the world model.
double ln_khso4_reference(double temp_c, double s)
{
    const double tk = temp_c + 273.15;
    const double i = 19.924 * s / (1000.0 - 1.005 * s);
    const double l = std::log(tk);
    return -4276.1 / tk + 141.328 - 23.093 * l + (-13856.0 / tk + 324.57 - 47.986 * l) * std::sqrt(i) +
           (35474.0 / tk - 771.54 + 114.723 * l) * i - 2698.0 / tk * std::pow(i, 1.5) + 1776.0 / tk * i * i +
           std::log(1.0 - 0.001005 * s);
}

void reset_calibration()
{
    sys_data.k0int = -0.4f;
    sys_data.k0ext = -1.3f;
    sys_data.quadTherm_c0 = 340.9819863;
    sys_data.quadTherm_c1 = -9.10257e-05;
    sys_data.quadTherm_c2 = -95.08806667;
    sys_data.quadTherm_c3 = 0.965370274;
    sys_data.shTherm_A = 0.002108508173;
    sys_data.shTherm_B = 7.979204727e-05;
    sys_data.shTherm_C = 6.535076315e-07;
    sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] = 0;
}

} // namespace

TEST(Bisulfate, PublishedValuesAtSalinity35)
{
    // ln K = -2.30 at 25 degrees C (-2.2996 to four decimals); K = 0.1468661
    // at 15 degrees C.
    EXPECT_NEAR(ln_khso4_reference(25.0, 35.0), -2.2996, 0.00005);
    EXPECT_NEAR(std::exp(ln_khso4_reference(15.0, 35.0)), 0.1468661, 0.5e-7);
    // Without the per-kg-of-solution term the constant would be 3.6 % higher.
    EXPECT_GT(std::exp(ln_khso4_reference(25.0, 35.0) - std::log(1.0 - 0.001005 * 35.0)),
              1.03 * std::exp(ln_khso4_reference(25.0, 35.0)));
}

TEST(Bisulfate, FirmwareConstantMatchesTheReference)
{
    for (double t : {0.0, 15.0, 25.0, 30.0}) {
        for (double s : {20.0, 35.0, 38.0}) {
            float tk = static_cast<float>(t + 273.15);
            float z = calc_ionic_strength(static_cast<float>(s));
            double k = calc_KHSO4(tk, z, static_cast<float>(s));
            EXPECT_NEAR(k / std::exp(ln_khso4_reference(t, s)), 1.0, 5e-6) << "t " << t << " S " << s;
            EXPECT_NEAR(sim::khso4_free(t, s) / std::exp(ln_khso4_reference(t, s)), 1.0, 1e-12);
        }
    }
    EXPECT_NEAR(std::log(calc_KHSO4(298.15f, calc_ionic_strength(35.0f), 35.0f)), -2.2996, 0.00005);
}

TEST(PhCalcEdges, NernstSlopeAndZeroPoint)
{
    reset_calibration();
    EXPECT_NEAR(calc_nernst_slope(25.0f), 0.0591587, 1e-7);
    EXPECT_EQ(calc_pHint(sys_data.k0int, 25.0f), 0.0f);
    sys_data.k0int = -0.3952f;
    EXPECT_EQ(calc_pHint(-0.3952f, 25.0f), 0.0f);
    // One Nernst slope above the standard potential is pH 1.
    EXPECT_NEAR(calc_pHint(-0.3952f + 0.0591587f, 25.0f), 1.0f, 1e-5);
    reset_calibration();
}

TEST(PhCalcEdges, ZeroSalinityIsNotFinite)
{
    reset_calibration();
    EXPECT_FALSE(std::isfinite(calc_pHext(-0.8f, 20.0f, 0.0f)));
}

TEST(PhCalcEdges, UnusedCoefficientsDoNotChangePh)
{
    reset_calibration();
    float int_before = calc_pHint(0.05f, 14.0f);
    float ext_before = calc_pHext(-0.79f, 14.0f, 34.0f);
    sys_data.k2int = 1.0f;
    sys_data.k2ext = 1.0f;
    sys_data.pHOffset = 3.0f;
    sys_data.pHSlope = 7.0f;
    sys_data.TCSlope = 5.0f;
    EXPECT_EQ(calc_pHint(0.05f, 14.0f), int_before);
    EXPECT_EQ(calc_pHext(-0.79f, 14.0f, 34.0f), ext_before);
}

// The external standard potential's temperature term is double precision
// (the internal one's is single).  These readings lie within a few 1e-7 pH
// of a rounding boundary of the record's third decimal, where a single
// precision TC - 25 prints the other digit.
TEST(PhCalcEdges, ExternalPhPrintsTheDoublePrecisionThirdDecimal)
{
    reset_calibration();
    char text[16];
    std::snprintf(text, sizeof text, "%8.3f", static_cast<double>(calc_pHext(-0.822299f, 8.36f, 32.162f)));
    EXPECT_STREQ(text, "   7.619");
    std::snprintf(text, sizeof text, "%8.3f", static_cast<double>(calc_pHext(-0.764293f, 5.187f, 32.86f)));
    EXPECT_STREQ(text, "   8.722");
}

TEST(ThermistorEdges, FitsAndOffset)
{
    reset_calibration();
    EXPECT_NEAR(DuraFET_temp(1.65f, 0.0f), 6.99, 0.005);
    EXPECT_NEAR(DuraFET_temp(1.65f, 0.5f), 7.49, 0.005);
    sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] = 1;
    EXPECT_NEAR(DuraFET_temp(1.65f, 0.0f), 9.86, 0.005);
    sys_data.app_cfg[APPCFG_TEMPC_SH_ALG] = 2;
    EXPECT_EQ(DuraFET_temp(1.65f, 1.25f), 1.25f);
    reset_calibration();
}

// The firmware, calibrated to the sensor's true constants, reads its own
// converter and computes back the water's temperature and pH.
TEST_F(RoundTrip, FirmwareRecoversTheWaterPh)
{
    begin({{"noise", "off"}});
    const sim::AnalogParams& p = world().p;
    reset_calibration();
    sys_data.k0int = static_cast<float>(p.e0int);
    sys_data.k0ext = static_cast<float>(p.e0ext);
    sys_data.quadTherm_c0 = p.therm_c0;
    sys_data.quadTherm_c1 = p.therm_c1;
    sys_data.quadTherm_c2 = p.therm_c2;
    sys_data.quadTherm_c3 = p.therm_c3;
    sys_data.TCOffset = 0.0f;

    openADS1248_iso();
    ADS1248_gpio_init();
    double worst_int = 0;
    double worst_ext = 0;
    double worst_t = 0;
    for (double ph : {7.6, 7.95, 8.3}) {
        for (double t : {0.0, 12.0, 30.0}) {
            for (double s : {20.0, 33.5, 38.0}) {
                world().p.ph = ph;
                world().p.temp_c = t;
                world().p.salinity = s;
                float vtherm = pollADS1248_iso(0, 6, 2, 1, 1000);
                ADS1248_gpio_ADG1609_mux(3);
                float vrsi = pollADS1248_iso(1, 6, 2, 1, 1000);
                ADS1248_gpio_ADG1609_mux(0);
                float vrse = pollADS1248_iso(1, 6, 2, 1, 1000);
                float tc = DuraFET_temp(vtherm, sys_data.TCOffset);
                float ph_int = calc_pHint(vrsi, tc);
                float ph_ext = calc_pHext(vrse, tc, static_cast<float>(s));
                EXPECT_NEAR(tc, t, 0.001) << "pH " << ph << " t " << t << " S " << s;
                EXPECT_NEAR(ph_int, ph, 0.001) << "pH " << ph << " t " << t << " S " << s;
                EXPECT_NEAR(ph_ext, ph, 0.001) << "pH " << ph << " t " << t << " S " << s;
                worst_t = std::fmax(worst_t, std::fabs(tc - t));
                worst_int = std::fmax(worst_int, std::fabs(ph_int - ph));
                worst_ext = std::fmax(worst_ext, std::fabs(ph_ext - ph));
            }
        }
    }
    closeADS1248_iso();
    std::printf("[ measured ] round trip worst error: T %.2e C, pHint %.2e, pHext %.2e\n", worst_t, worst_int,
                worst_ext);
}

// With the firmware's default calibration the sensor's own constants show
// as a temperature and pH error of the expected size.
TEST_F(RoundTrip, UncalibratedFirmwareShowsTheSensorOffset)
{
    begin({{"noise", "off"}, {"ph", "8.0"}, {"temp", "25"}});
    reset_calibration();
    openADS1248_iso();
    ADS1248_gpio_init();
    float tc = DuraFET_temp(pollADS1248_iso(0, 6, 2, 1, 1000), 0.0f);
    ADS1248_gpio_ADG1609_mux(3);
    float ph_int = calc_pHint(pollADS1248_iso(1, 6, 2, 1, 1000), tc);
    closeADS1248_iso();
    // The sensor's thermistor reads 0.12 degrees low through the default fit.
    EXPECT_NEAR(tc, 25.0 - 0.12, 0.002);
    // k0int -0.4 instead of -0.3952: 4.8 mV, about 0.08 pH high (and the
    // slope taken at the low temperature).
    double expected = (world().vrsi() - (-0.4 - 0.0011012 * (tc - 25.0))) / sim::nernst_slope(tc);
    EXPECT_NEAR(ph_int, expected, 0.0005);
    EXPECT_GT(ph_int, 8.07);
}

// The bench analog simulator board: every channel of the board QA check
// reads inside its limits.
TEST_F(QaSimulator, ReadingsFallInsideTheQaLimits)
{
    begin({{"analog", "qa-sim"}});
    openADS1248_iso();
    ms_delay(100);
    ADS1248_gpio_init();
    ms_delay(10);
    struct Channel {
        const char* name;
        uint32_t mux;
        int pos, neg, gain, sps;
        double min, max;
    };
    const std::vector<Channel> channels = {
        {"Vrsi", 3, 1, 6, 1, 5, -0.0565, -0.0535}, {"Vrsi_B", 3, 1, 5, 1, 20, 0.673, 0.679},
        {"Vrse", 0, 1, 6, 1, 5, -0.801, -0.786},   {"Vrse_B", 0, 1, 5, 1, 20, -0.0705, -0.057},
        {"Ik", 1, 1, 5, 4, 5, 0.258, 0.335},       {"Vk", 1, 1, 6, 4, 5, -0.501, -0.498},
        {"Ib", 2, 1, 6, 1, 5, -0.401, -0.393},     {"Vb", 2, 5, 6, 1, 5, 0.0001, 0.002},
        {"Vtherm", 0, 0, 6, 1, 5, 0.992, 1.0},
    };
    for (const Channel& c : channels) {
        ADS1248_gpio_ADG1609_mux(c.mux);
        ms_delay(10);
        float v = pollADS1248_iso(c.pos, c.neg, 2, c.gain, c.sps);
        EXPECT_GE(v, c.min) << c.name;
        EXPECT_LE(v, c.max) << c.name;
        EXPECT_LT(sys_samp.AD24_std, 20e-6f) << c.name;
    }
    ADS1248_gpio3(1);
    EXPECT_NEAR(pollADS1248_iso(7, 6, 1, 1, 40) * 2.0f, 3.6, 0.001);
    closeADS1248_iso();
}

TEST_F(WorldNoise, SameSeedSameReadings)
{
    // Each run is a board of its own; it runs in a child process so that
    // every run starts from a fresh process, as every boot of the simulator
    // does.
    auto readings = [this](const char* seed) {
        constexpr int N = 4;
        float r[N] = {};
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            begin({{"seed", seed}});
            openADS1248_iso();
            ADS1248_gpio_init();
            ADS1248_gpio_ADG1609_mux(3);
            for (float& v : r) {
                v = pollADS1248_iso(1, 6, 1, 1, 2000);
            }
            closeADS1248_iso();
            ssize_t n = write(fds[1], r, sizeof r);
            _exit(n == static_cast<ssize_t>(sizeof r) ? 0 : 1);
        }
        close(fds[1]);
        ssize_t got = read(fds[0], r, sizeof r);
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(got, static_cast<ssize_t>(sizeof r));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return std::vector<float>(r, r + N);
    };
    std::vector<float> a = readings("7");
    std::vector<float> b = readings("7");
    std::vector<float> c = readings("8");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(a[0], a[1]);
}
