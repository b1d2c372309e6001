// The analog world behind the board's converters: the water the pH sensor
// sits in, the sensor itself (electrodes, thermistor, counter electrode,
// substrate), the bias battery, the ADG1609 multiplexer in front of the
// isolated converter, and the board values the on-chip converter reads
// (supply battery, pressure, humidity, water sensor, board and chip
// temperature).  Or, instead of the sensor, the bench analog simulator board
// used by board QA, with fixed voltages inside the QA limits.
//
// Parameters come from RunOptions::params (see analog_param_names() and
// docs/analog.md); every input gets Gaussian noise from one seeded
// generator whose state lives in shared memory, so it continues across
// resets and the same seed gives the same readings.
#pragma once

#include "sim/devices/dev_ads1248.h"
#include "sim/devices/water.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

enum class AnalogSource { Sensor, QaSim };

struct AnalogParams {
    AnalogSource source = AnalogSource::Sensor;
    // Water.
    double ph = 8.05;       // total hydrogen-ion scale
    double temp_c = 12.0;   // degrees C
    double salinity = 33.5; // practical salinity
    // The sensor's own constants (the firmware's defaults are -0.4, -1.3 and
    // the temperature coefficients below; the thermistor fit is the
    // firmware's default with c0 shifted by +0.12 degrees C).
    double e0int = -0.3952;    // V at 25 degrees C
    double e0ext = -1.2973;    // V at 25 degrees C
    double tcint = -0.0011012; // V per degree C
    double tcext = -0.0010482; // V per degree C
    double therm_c0 = 340.9819863 + 0.12;
    double therm_c1 = -9.10257e-05;
    double therm_c2 = -95.08806667;
    double therm_c3 = 0.965370274;
    // Counter electrode, substrate, bias battery.
    double vk = -0.90;      // V
    double ik_na = 1.5;     // nA (15 kOhm sense resistor)
    double ib_na = 0.02;    // nA (1 MOhm sense resistor)
    double vsub = 0.001;    // V, substrate
    double bias_pos = 3.62; // V, positive half of the bias battery
    double bias_neg = 3.60; // V, negative half
    // Board.
    double vbat = 12.5; // V, supply battery
    double board_temp_c = 18.0;
    double humidity_pct = 35.0;
    double leak_pct = 0.0;
    double pressure_dbar = 20.0;
    double chip_temp_c = 22.0;
    double o2_sat_pct = 95.0; // oxygen saturation (the optode's water; --o2-sat)
    // Noise.
    uint64_t seed = 1;
    double noise = 1.0; // scale of every noise term; 0 = noise off
};

// Names accepted in RunOptions::params by the analog world.
const std::vector<std::string>& analog_param_names();
// Reads the parameters; fails for an unknown source or a
// value that is not a number.
Status analog_params_from(const std::map<std::string, std::string>& params, AnalogParams* out);

class AnalogWorld {
  public:
    explicit AnalogWorld(const AnalogParams& p, uint64_t* noise_state);

    AnalogParams p;

    // The water over time (--water, --drift) and the supply battery
    // (--battery): when in use, the water and the standard potentials of
    // `p` follow the simulated time (refreshed at every reading), and the
    // supply voltage the charge drawn (at every battery reading);
    // otherwise `p` stays as set.
    void set_scenario(const WaterScenario& w, bool battery);
    // The parameters as they are now (instruments read the water here).
    const AnalogParams& current();

    // Noise-free values of the sensor-side signals (volts).
    double vtherm() const;    // thermistor divider
    double vrsi() const;      // ISFET source against the internal reference
    double vrse() const;      // ISFET source against the external reference
    double vrsi_bias() const; // biasing voltage that makes pH 7 read 0 V
    double vrse_bias() const;
    // Multiplexer outputs for channel 0..3: A goes to AIN1, B to AIN5.
    double mux_a(int chan) const;
    double mux_b(int chan) const;
    // Node voltage of a converter input against AIN6, noise-free.
    double node(int ain, uint8_t gpio_levels) const;
    // ADG1609 channel addressed by the converter's GPIO0/GPIO1 (inverted).
    static int mux_channel(uint8_t gpio_levels);

    // With noise: what the converter sees and what ADC0 counts.
    double differential(int pos, int neg, uint8_t gpio_levels, int sps);
    uint32_t onchip_count(int ain);

    double gaussian();

  private:
    uint64_t* noise_state_;
    AnalogParams base_;
    WaterScenario water_;
    bool water_on_ = false;
    bool battery_on_ = false;
    double node_noise(int ain) const;
};

// Sensor physics shared by the world model and the tests (double precision).
double nernst_slope(double temp_c);
double thermistor_ohms(const AnalogParams& p, double temp_c);
double ionic_strength(double s);
double khso4_free(double temp_c, double s); // mol per kg of solution
double log10_gamma_hcl(double temp_c, double s);

// Brings up the world, the multiplexer and the converter models for a boot
// (called by devices_boot).
void analog_boot();
// The models of the current boot (tests adjust the world between readings).
AnalogWorld& analog_world();
Ads1248& analog_converter();

} // namespace sim
