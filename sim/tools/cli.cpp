// Command line of varve-sim.
#include "sim/tools/cli.h"

#include "sim/devices/analog_world.h"
#include "sim/devices/console/console_line.h"
#include "sim/devices/instruments/instrument.h"
#include "sim/devices/water.h"
#include "sim/run/energy.h"
#include "records/version.h"
#include "sim/run/input_script.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <unistd.h>

namespace sim {

const char* const USAGE =
    "Usage: varve-sim [options]\n"
    "       varve-sim card [--board DIR | --image FILE] COMMAND ...  (see varve-sim card --help)\n"
    "       varve-sim board [--board DIR] show|set ...  (see varve-sim board --help)\n"
    "       varve-sim plan [--board DIR] [--battery AH] [--json] [--compare ...]\n"
    "                       (endurance of the deployment; see varve-sim plan --help)\n"
    "       varve-sim power [--board DIR] [--power KEY=MA ...]  (the power table in force)\n"
    "\n"
    "Runs the Varve controller firmware on a simulated board.\n"
    "\n"
    "Board and run:\n"
    "  --board DIR          board folder (default ./varve-board); created and\n"
    "                       provisioned as after board QA when missing\n"
    "  --blank              a new board is left unprovisioned (EEPROM and FRAM 0xFF;\n"
    "                       ignored, with a note, for an existing board)\n"
    "  --start \"YYYY-MM-DD HH:MM:SS\"\n"
    "                       console time of a new board at first power-up\n"
    "                       (default: the host's clock; ignored, with a note,\n"
    "                       for an existing board)\n"
    "  --until DURATION     end of the run, in simulated time since its start:\n"
    "                       seconds, or with a unit: 90s, 45m, 12h, 30d\n"
    "                       (default: 60 s after the last input entry; with an\n"
    "                       interactive console and no script: until Ctrl-]);\n"
    "                       battery: until the firmware ends the deployment on a\n"
    "                       low battery (needs --battery; at most 10 years)\n"
    "\n"
    "Console (UART0, 115200 8N1):\n"
    "  --console stdio|pty|none\n"
    "                       stdio: this terminal, raw mode, Ctrl-] leaves;\n"
    "                       pty: a pseudo-terminal whose path is printed on\n"
    "                       standard error (picocom, minicom, screen); every\n"
    "                       byte sent there, Ctrl-] included, goes to the\n"
    "                       firmware: leave with Ctrl-C in the terminal that\n"
    "                       runs varve-sim (or send it SIGTERM);\n"
    "                       none: no interactive console.\n"
    "                       Default: stdio, or none when --input is given.\n"
    "  --input FILE         timed input script (see docs/simulator.md)\n"
    "  --transcript FILE    write exactly the bytes the console transmitted\n"
    "                       (default: standard output)\n"
    "  --timeline FILE      record board lines, LEDs and supplies with their times\n"
    "  --stats FILE         write the run's statistics as JSON when it ends (boots,\n"
    "                       samples, awake and supply on-times, card, EEPROM and\n"
    "                       FRAM writes, charge and energy; see docs/simulator.md)\n"
    "  --realtime           pace a scripted run 1:1 with the wall clock\n"
    "  --pace N             a paced run (a console, --realtime) runs N times as\n"
    "                       fast as the wall clock: the console line carries N\n"
    "                       times 11520 bytes a second, every firmware wait is\n"
    "                       N times shorter in wall time (default 1)\n"
    "  --debug-out FILE     the firmware's debug output (what a debugger reads\n"
    "                       from the chip's trace port; YMODEM block traces):\n"
    "                       written to FILE, emptied at the start; - = standard\n"
    "                       error.  Default: dropped.  Never in the transcript.\n"
    "\n"
    "Analog world (pH sensor and board values; see docs/analog.md):\n"
    "  --analog sensor|qa-sim\n"
    "                       sensor: the Durafet in water (default); qa-sim: the\n"
    "                       bench analog simulator board of board QA\n"
    "  --ph PH              water pH, total scale (default 8.05)\n"
    "  --temp C             water temperature, degrees C (default 12.0)\n"
    "  --sal PSU            water salinity (default 33.5)\n"
    "  --vbat VOLTS         supply battery (default 12.5)\n"
    "  --seed N             seed of the noise generator (default 1)\n"
    "  --noise on|off|SCALE noise on every analog input (default on = 1)\n"
    "  --analog-param NAME=VALUE\n"
    "                       any other world parameter: e0int, e0ext, tcint,\n"
    "                       tcext, therm_c0..therm_c3, vk, ik, ib, vsub,\n"
    "                       bias_pos, bias_neg, board_temp, humidity, leak,\n"
    "                       pressure, chip_temp\n"
    "\n"
    "Energy and battery (see docs/simulator.md):\n"
    "  --power KEY=MA       override an entry of the power table (repeatable; the\n"
    "                       board folder's power.txt overrides the defaults;\n"
    "                       varve-sim power shows the table in force)\n"
    "  --battery AH         the supply is a battery of AH ampere-hours: its voltage\n"
    "                       falls along the discharge curve from --vbat as charge\n"
    "                       is drawn (default curve: LiFePO4, 4 cells)\n"
    "  --battery-curve FILE discharge curve: rows drawn_pct,volts\n"
    "\n"
    "Water over time (see docs/simulator.md):\n"
    "  --water tide|diurnal|FILE\n"
    "                       repeatable, combinable: a CSV file (time_s,temp_c,\n"
    "                       salinity,ph_total,o2_sat_pct) as the base, a tidal and\n"
    "                       a daily cycle added to it\n"
    "  --water-param NAME=VALUE\n"
    "                       tide_period, tide_temp, tide_sal, tide_ph, tide_o2,\n"
    "                       diurnal_period, diurnal_temp, ... (periods: 12.42h)\n"
    "  --drift MV[,MV]      drift of the internal (and external) reference, mV/day\n"
    "\n"
    "microSD card (card.img in the board folder; see docs/card.md):\n"
    "  --card sdhc|sdv2|sdv1|mmc|none\n"
    "                       card variant (default sdhc); none: empty socket\n"
    "  --card-size MIB      size of a new card image (default 1024; ignored, with\n"
    "                       a note, when the board folder has a card image)\n"
    "\n"
    "Instruments (see docs/instruments.md):\n"
    "  --ctd sbe37|aand5860|none\n"
    "                       instrument on the CTD port (default none)\n"
    "  --optode-port optode|ocr504|none\n"
    "                       instrument on the optode port: Aanderaa oxygen\n"
    "                       optode or OCR-504 radiometer (default none)\n"
    "  --o2-sat PCT         oxygen saturation of the water (default 95)\n"
    "  --aand5860-text on|off\n"
    "                       the 5860 sends descriptor text (default off)\n"
    "  --ctd-serial N       serial number of the CTD\n"
    "  --optode-serial N    serial number of the optode port's instrument\n"
    "\n"
    "Fault injection:\n"
    "  --fault eeprom-program   every EEPROM program operation fails\n"
    "  --fault eeprom-init      EEPROM initialisation reports an error\n"
    "  --fault fram-absent      nothing answers at the FRAM's I2C address\n"
    "  --fault hibernate        hibernation requests do not take effect\n"
    "  --fault console-noise    a burst of junk toward the host at every reset and\n"
    "                           every entry into hibernation (console transceiver)\n"
    "  --fault card-absent      no microSD card in the socket\n"
    "  --fault card-removed=S   the card is pulled out S simulated seconds into the run\n"
    "  --fault card-busy-init   the card stays busy in initialisation\n"
    "  --fault card-no-token    the card never sends a read data token\n"
    "  --fault card-write-reject the card rejects every data block written\n"
    "  --fault card-power-cut=N power is cut right after the N-th sector write\n"
    "  --fault ctd-F, --fault optode-F\n"
    "                       the instrument on the CTD or optode port misbehaves;\n"
    "                       F is silent (never answers), no-line-end (reply\n"
    "                       without CR LF), long-line (reply over 127 bytes),\n"
    "                       gap (50 ms pause inside the reply), garbage\n"
    "                       (nonsense reply), wrong-baud (set to another rate)\n"
    "  --fault console-in-drop=P, --fault console-out-drop=P\n"
    "                       each byte on the console line towards the board\n"
    "                       (in) or towards the terminal (out) is lost with\n"
    "                       probability P (random stream from --seed)\n"
    "  --fault console-in-flip=P, --fault console-out-flip=P\n"
    "                       one bit of each byte is inverted with probability P\n"
    "  --fault console-in-lose=N[/HH], --fault console-out-lose=N[/HH]\n"
    "                       the N-th byte in that direction (counted from 1 over\n"
    "                       the run; with /HH the N-th byte of hex value HH) is\n"
    "                       lost.  Every injected fault is noted on standard error\n"
    "\n"
    "Monitor (stdio console on a terminal): Ctrl-A, then a key, goes to the\n"
    "simulator instead of the firmware: r reset button, p power cycle, c card\n"
    "out/in, f the card's write-reject fault on/off, s statistics so far (as\n"
    "--stats) on standard error, q quit, h this list; Ctrl-A Ctrl-A types\n"
    "Ctrl-A.  A card taken out or a fault switched stays so for the rest of\n"
    "the run; a hibernating board takes reset and power cycle only once a\n"
    "key has woken it.\n"
    "\n"
    "  -h, --help           this text\n"
    "  --version            the firmware version this simulator runs\n"
    "\n"
    "Simulator messages go to standard error.  Exit status: 0 normal end,\n"
    "1 board or input error, 2 usage error, 3 the firmware stopped in a fault,\n"
    "128+N stopped by signal N (SIGINT, SIGTERM, SIGHUP; the board folder is\n"
    "saved as when Ctrl-] leaves).\n";

namespace {

// The analog world's parameters: known names, and a check of their values.
bool analog_param_known(const std::string& key)
{
    for (const std::string& name : analog_param_names()) {
        if (name == key) {
            return true;
        }
    }
    return false;
}

Status analog_param_check(const std::map<std::string, std::string>& params)
{
    AnalogParams p;
    return analog_params_from(params, &p);
}

// A duration: a number of seconds, or a number with the unit s, m, h or d.
bool parse_duration(const std::string& text, double* seconds)
{
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !(value >= 0)) {
        return false;
    }
    std::string unit = end;
    double scale = 0;
    if (unit.empty() || unit == "s") {
        scale = 1;
    } else if (unit == "m") {
        scale = 60;
    } else if (unit == "h") {
        scale = 3600;
    } else if (unit == "d") {
        scale = 86400;
    } else {
        return false;
    }
    *seconds = value * scale;
    return *seconds <= 1e9;
}

Status instrument_param_check(const std::map<std::string, std::string>& params)
{
    InstrumentOptions o;
    return instrument_options_from(params, &o);
}

// "ctd-F" or "optode-F": fault F of the instrument on that port.
bool instrument_fault_option(const std::string& v, RunOptions* opts)
{
    InstrumentFault f;
    for (const char* port : {"ctd", "optode"}) {
        std::string prefix = std::string(port) + "-";
        if (v.rfind(prefix, 0) == 0 && instrument_fault_from(v.substr(prefix.size()), &f) &&
            f != InstrumentFault::None) {
            opts->params[std::string(port) + "_fault"] = v.substr(prefix.size());
            return true;
        }
    }
    return false;
}

int usage_error(const std::string& msg)
{
    std::fprintf(stderr, "varve-sim: %s\n(see varve-sim --help)\n", msg.c_str());
    return 2;
}

// A whole decimal number within [min, max]; nothing else in the text.
bool whole_number(const std::string& text, unsigned long long min, unsigned long long max)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 12) {
        return false;
    }
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    return v >= min && v <= max;
}

// A number of seconds > 0, nothing else in the text.
bool positive_seconds(const std::string& text)
{
    char* end = nullptr;
    double s = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && s > 0 && s <= 1e9;
}

// --fault NAME or NAME=VALUE; fails with the usage error.
Status parse_fault(const std::string& v, RunOptions* opts)
{
    std::size_t eq = v.find('=');
    std::string name = v.substr(0, eq);
    bool has_value = eq != std::string::npos;
    std::string value = has_value ? v.substr(eq + 1) : std::string();
    if (name == "card-removed") {
        if (!has_value || !positive_seconds(value)) {
            return Status::failure("--fault card-removed=S needs a number of simulated seconds > 0, got \"" +
                                   v + "\"");
        }
        opts->params["card_removed_at"] = value;
        return {};
    }
    if (name == "card-power-cut") {
        if (!has_value || !whole_number(value, 1, 1000000000000ull)) {
            return Status::failure(
                "--fault card-power-cut=N needs a whole number of sector writes, at least 1, got \"" + v +
                "\"");
        }
        opts->params["card_cut_after_writes"] = value;
        return {};
    }
    if (std::optional<Status> st = console_fault_option(name, value, has_value, &opts->params)) {
        return *st;
    }
    bool known = true;
    if (name == "eeprom-program")
        opts->faults.eeprom_program = true;
    else if (name == "eeprom-init")
        opts->faults.eeprom_init = true;
    else if (name == "fram-absent")
        opts->faults.fram_absent = true;
    else if (name == "hibernate")
        opts->faults.hibernate = true;
    else if (name == "console-noise")
        opts->faults.console_noise = true;
    else if (name == "card-absent")
        opts->params["card"] = "none";
    else if (name == "card-busy-init")
        opts->params["card_busy_init"] = "1";
    else if (name == "card-no-token")
        opts->params["card_no_read_token"] = "1";
    else if (name == "card-write-reject")
        opts->params["card_write_reject"] = "1";
    else if (instrument_fault_option(name, opts))
        known = true;
    else
        known = false;
    if (!known) {
        return Status::failure("unknown fault \"" + name + "\"");
    }
    if (has_value) {
        return Status::failure("--fault " + name + " takes no value, got \"" + v + "\"");
    }
    return {};
}

} // namespace

int parse_command_line(int argc, char** argv, RunOptions* opts)
{
    bool console_given = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* out) -> bool {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("varve-sim %s\n", FIRMWARE_VERSION_STR);
            return 0;
        } else if (a == "--board") {
            if (!value(&opts->board_dir))
                return usage_error("--board needs a folder");
        } else if (a == "--blank") {
            opts->blank = true;
        } else if (a == "--start") {
            if (!value(&opts->start) || opts->start.empty())
                return usage_error("--start needs \"YYYY-MM-DD HH:MM:SS\"");
            uint32_t rtc = 0;
            if (Status st = rtc_from_text(opts->start, &rtc); !st.ok())
                return usage_error(st.message());
        } else if (a == "--until") {
            if (!value(&v))
                return usage_error("--until needs a duration");
            if (v == "battery") {
                opts->until_battery = true;
                opts->until_s = 3650.0 * 86400.0;
                continue;
            }
            opts->until_battery = false;
            double s = 0;
            if (!parse_duration(v, &s)) {
                return usage_error("--until needs a duration such as 90, 90s, 45m, 12h or 30d, got \"" + v +
                                   "\"");
            }
            opts->until_s = s;
        } else if (a == "--console") {
            if (!value(&v))
                return usage_error("--console needs stdio, pty or none");
            if (v == "stdio")
                opts->console = ConsoleMode::Stdio;
            else if (v == "pty")
                opts->console = ConsoleMode::Pty;
            else if (v == "none")
                opts->console = ConsoleMode::None;
            else
                return usage_error("--console must be stdio, pty or none");
            console_given = true;
        } else if (a == "--input") {
            if (!value(&opts->input_file))
                return usage_error("--input needs a file");
        } else if (a == "--transcript") {
            if (!value(&opts->transcript_file))
                return usage_error("--transcript needs a file");
        } else if (a == "--timeline") {
            if (!value(&opts->timeline_file))
                return usage_error("--timeline needs a file");
        } else if (a == "--debug-out") {
            if (!value(&v) || v.empty())
                return usage_error("--debug-out needs a file (- for standard error)");
            if (v != "-") {
                int fd = open(v.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0)
                    return usage_error("--debug-out: cannot write \"" + v + "\": " + std::strerror(errno));
                close(fd);
            }
            opts->params["debug_out"] = v;
        } else if (a == "--stats") {
            if (!value(&opts->stats_file) || opts->stats_file.empty())
                return usage_error("--stats needs a file");
        } else if (a == "--realtime") {
            opts->params["realtime"] = "1";
        } else if (a == "--pace") {
            if (!value(&v) || !whole_number(v, 1, 1000)) {
                return usage_error("--pace needs a whole number from 1 to 1000");
            }
            opts->pace_factor = static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
        } else if (a == "--analog" || a == "--ph" || a == "--temp" || a == "--sal" || a == "--vbat" ||
                   a == "--seed" || a == "--noise") {
            if (!value(&v))
                return usage_error(a + " needs a value");
            std::string key = a == "--analog" ? "analog" : a.substr(2);
            opts->params[key] = v;
            if (Status st = analog_param_check(opts->params); !st.ok())
                return usage_error(st.message());
        } else if (a == "--analog-param") {
            if (!value(&v))
                return usage_error("--analog-param needs NAME=VALUE");
            std::size_t eq = v.find('=');
            std::string key = v.substr(0, eq);
            if (!analog_param_known(key)) {
                return usage_error("--analog-param: unknown parameter \"" + key + "\"");
            }
            if (eq == std::string::npos || eq + 1 == v.size()) {
                return usage_error("--analog-param " + key + " needs a value: " + key + "=VALUE");
            }
            opts->params[key] = v.substr(eq + 1);
            if (Status st = analog_param_check(opts->params); !st.ok())
                return usage_error(st.message());
        } else if (a == "--power") {
            if (!value(&v))
                return usage_error("--power needs KEY=MA");
            std::size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0)
                return usage_error("--power needs KEY=MA, got \"" + v + "\"");
            opts->params["power." + v.substr(0, eq)] = v.substr(eq + 1);
            PowerTable t;
            if (Status st = power_table_load(opts->params, "", &t); !st.ok())
                return usage_error(st.message());
        } else if (a == "--battery" || a == "--battery-curve") {
            if (!value(&v))
                return usage_error(a + " needs a value");
            opts->params[a == "--battery" ? "battery_ah" : "battery_curve"] = v;
            Battery b;
            if (Status st = battery_from(opts->params, &b); !st.ok())
                return usage_error(st.message());
        } else if (a == "--water" || a == "--water-param" || a == "--drift") {
            if (!value(&v) || v.empty())
                return usage_error(a + " needs a value");
            if (a == "--water") {
                std::string& list = opts->params["water"];
                list += (list.empty() ? "" : ",") + v;
            } else if (a == "--drift") {
                std::size_t comma = v.find(',');
                opts->params["drift_int"] = v.substr(0, comma);
                opts->params["drift_ext"] = comma == std::string::npos ? v : v.substr(comma + 1);
            } else {
                std::size_t eq = v.find('=');
                std::string key = v.substr(0, eq);
                bool known = false;
                for (const std::string& n : water_param_names()) {
                    known = known || n == key;
                }
                if (!known || eq == std::string::npos)
                    return usage_error("--water-param needs NAME=VALUE with a known NAME, got \"" + v + "\"");
                opts->params[key] = v.substr(eq + 1);
            }
            WaterScenario w;
            if (Status st = water_from(opts->params, WaterState{}, &w); !st.ok())
                return usage_error(st.message());
        } else if (a == "--fault") {
            if (!value(&v))
                return usage_error("--fault needs a fault name");
            if (Status st = parse_fault(v, opts); !st.ok())
                return usage_error(st.message());
        } else if (a == "--ctd" || a == "--optode-port" || a == "--o2-sat" || a == "--aand5860-text" ||
                   a == "--ctd-serial" || a == "--optode-serial") {
            if (!value(&v))
                return usage_error(a + " needs a value");
            std::string key = a.substr(2);
            for (char& c : key) {
                c = c == '-' ? '_' : c;
            }
            opts->params[key] = v;
            if (Status st = instrument_param_check(opts->params); !st.ok())
                return usage_error(st.message());
        } else if (a == "--card") {
            if (!value(&v) || (v != "sdhc" && v != "sdv2" && v != "sdv1" && v != "mmc" && v != "none")) {
                return usage_error("--card must be sdhc, sdv2, sdv1, mmc or none");
            }
            opts->params["card"] = v;
        } else if (a == "--card-size") {
            if (!value(&v) || !whole_number(v, 36, 1000000000ull)) {
                return usage_error("--card-size needs a whole number of MiB, at least 36, got \"" + v + "\"");
            }
            opts->params["card_size_mib"] = v;
        } else {
            return usage_error("unknown option \"" + a + "\"");
        }
    }
    if (opts->until_battery && opts->params.count("battery_ah") == 0) {
        return usage_error("--until battery needs --battery AH");
    }
    if (!console_given && !opts->input_file.empty()) {
        opts->console = ConsoleMode::None;
    }
    opts->pace = opts->console != ConsoleMode::None || opts->params.count("realtime") != 0;
    return -1;
}

} // namespace sim
