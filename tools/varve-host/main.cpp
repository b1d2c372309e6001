// varve-host: a polled-mode client of the Varve controller on a serial
// line, and the data file as a CSV table and a plot.
#include "records/version.h"
#include "tools/varve-host/data_file.h"
#include "tools/varve-host/netcdf_file.h"
#include "tools/varve-host/plot.h"
#include "tools/varve-host/polled_client.h"
#include "tools/varve-host/qc.h"
#include "tools/varve-host/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace varvehost;

namespace {

const char* const USAGE = "usage: varve-host --port DEV [--baud N] [timing options] COMMAND\n"
                          "       varve-host csv IN [OUT] [input options]\n"
                          "       varve-host csv IN... --out OUT|- [input options]\n"
                          "       varve-host nc IN... OUT.nc [input options]\n"
                          "       varve-host plot IN... OUT.png|OUT.svg [--size WxH] [input options]\n"
                          "       varve-host --help | --version\n"
                          "\n"
                          "Commands to a controller deployed in polled mode (each one wakes it):\n"
                          "  sample           take a sample (\"ss\", then \"sl\") and print its record\n"
                          "  now              take a sample with \"ts\" and print its record\n"
                          "  fetch --out FILE append the records logged since the last fetch to FILE\n"
                          "                   (whole lines only; an unfinished line waits in FILE.part)\n"
                          "  header           print the column header (\"gh\")\n"
                          "  meta             print the metadata block (\"gm\")\n"
                          "  stop             end the deployment; the controller shows its main menu\n"
                          "\n"
                          "  --port DEV       serial line: /dev/ttyUSB0, or the pty varve-sim printed\n"
                          "  --baud N         9600, 19200, 38400, 57600, 115200 (default) or 230400\n"
                          "  --wake-time S    start-up wait after the wake byte (default 1.5)\n"
                          "  --sample-time S  \"ss\" to \"sl\": the sample with its pump phase (default 3)\n"
                          "  --idle S         a data transfer is over after S s of silence (default 1.5)\n"
                          "  --trace          show every byte sent (>) and received (<) on standard error\n"
                          "\n"
                          "Data file tools (a fetched file, or the data file copied off the card):\n"
                          "  csv IN [OUT]     CSV table: metadata as '# ' lines, named columns, ISO 8601\n"
                          "                   times, quality flags (X_qc); lines that are not records are\n"
                          "                   reported and skipped\n"
                          "  nc IN... OUT.nc  netCDF-4 (CF-1.8 time series) with quality flags; a later\n"
                          "                   deployment in the input goes to OUT-2.nc, ...\n"
                          "  plot IN... OUT   pH, sensor temperature and supply against time (gnuplot),\n"
                          "                   suspect and failed values marked; --size WxH in pixels\n"
                          "                   (default 1200x900)\n"
                          "  Several input files (successive fetches, a card file and later fetches) make\n"
                          "  one series, in the order given; a record given twice is kept once.\n"
                          "Input options:\n"
                          "  --header FILE    metadata and column header for a fetched file (records\n"
                          "                   only): varve-host meta > FILE; varve-host header >> FILE\n"
                          "  --qc FILE        quality test limits, NAME = VALUE lines (docs/host-tools.md)\n"
                          "  --errors FILE    the controller's error file: low-battery entries flag the\n"
                          "                   records before them as suspect\n"
                          "\n"
                          "Exit status: 0 done, 1 input file error, 2 usage error, 3 serial port error,\n"
                          "4 no answer from the controller in time, 5 controller not deployed (main\n"
                          "menu), 6 unexpected answer, 7 output file error.\n";

int usage_error(const std::string& msg)
{
    std::fprintf(stderr, "varve-host: %s\n%s", msg.c_str(), USAGE);
    return EXIT_USAGE;
}

bool read_file(const std::string& path, std::string* text)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        text->append(buf, n);
    }
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool parse_seconds(const char* s, double* v)
{
    char* end = nullptr;
    double d = std::strtod(s, &end);
    if (end == s || *end != '\0' || !(d >= 0.0) || d > 3600.0) {
        return false;
    }
    *v = d;
    return true;
}

// Input options of the data file tools.
struct Inputs {
    std::string header; // --header FILE
    std::string qc;     // --qc FILE
    std::string errors; // --errors FILE
};

// Splits "--header FILE", "--qc FILE" and "--errors FILE" off the
// arguments; fails on a missing value.
Status input_options(std::vector<std::string>* args, Inputs* in)
{
    for (std::size_t i = 0; i < args->size();) {
        const std::string a = (*args)[i];
        std::string* field = a == "--header"   ? &in->header
                             : a == "--qc"     ? &in->qc
                             : a == "--errors" ? &in->errors
                                               : nullptr;
        if (field == nullptr) {
            ++i;
            continue;
        }
        if (i + 1 >= args->size()) {
            return Status::failure(a + " needs a file");
        }
        *field = (*args)[i + 1];
        args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
    }
    return {};
}

// Reads the data files into one table with its quality flags.
int load_table(const std::vector<std::string>& files, const Inputs& opt, Table* t)
{
    std::vector<InputFile> inputs;
    for (const std::string& f : files) {
        InputFile in{f, ""};
        if (!read_file(f, &in.text)) {
            std::fprintf(stderr, "varve-host: cannot read %s: %s\n", f.c_str(), std::strerror(errno));
            return EXIT_FAILURE_OTHER;
        }
        inputs.push_back(in);
    }
    std::string header, qc_text, errors;
    for (auto [path, text] : {std::pair{&opt.header, &header}, {&opt.qc, &qc_text}, {&opt.errors, &errors}}) {
        if (!path->empty() && !read_file(*path, text)) {
            std::fprintf(stderr, "varve-host: cannot read %s: %s\n", path->c_str(), std::strerror(errno));
            return EXIT_FAILURE_OTHER;
        }
    }
    QcConfig qc = default_qc_config();
    if (Status st = read_qc_config(qc_text, &qc); !st.ok()) {
        std::fprintf(stderr, "varve-host: %s: %s\n", opt.qc.c_str(), st.message().c_str());
        return EXIT_FAILURE_OTHER;
    }
    *t = parse_data_files(inputs, header);
    for (const std::string& p : t->problems) {
        std::fprintf(stderr, "varve-host: %s\n", p.c_str());
    }
    if (t->columns.empty()) {
        std::fprintf(stderr,
                     "varve-host: %s has no column header (a fetched file: give --header FILE, made by "
                     "\"varve-host header\")\n",
                     files[0].c_str());
        return EXIT_FAILURE_OTHER;
    }
    // The error file's clock is the records' clock: local unless the
    // (last) deployment's clock is in GMT.
    const bool gmt = metadata_value(t->deployment_metadata.back(), "Time zone:") == "GMT";
    add_quality_flags(t, qc, low_battery_times(errors, gmt ? 0 : -21600));
    return EXIT_OK;
}

std::string summary(const Table& t)
{
    return std::to_string(t.rows.size()) + " records, " + std::to_string(t.columns.size()) + " columns, " +
           std::to_string(t.problems.size()) + " lines skipped, " + std::to_string(t.not_numbers) +
           " values not a number (left empty), " + std::to_string(t.duplicates) +
           " duplicate records dropped";
}

int cmd_csv(std::vector<std::string> args)
{
    Inputs opt;
    std::string out_name;
    if (Status st = input_options(&args, &opt); !st.ok()) {
        return usage_error(st.message());
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--out") {
            if (i + 1 >= args.size()) {
                return usage_error("--out needs a file (- for standard output)");
            }
            out_name = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
            break;
        }
    }
    if (out_name.empty() && args.size() == 2) {
        out_name = args.back(); // csv IN OUT
        args.pop_back();
    }
    if (args.empty() || (out_name.empty() && args.size() > 1)) {
        return usage_error("csv needs IN and an optional OUT, or IN... --out OUT");
    }
    if (out_name == "-") {
        out_name.clear();
    }
    Table t;
    if (int rc = load_table(args, opt, &t); rc != EXIT_OK) {
        return rc;
    }
    std::string csv = to_csv(t);
    FILE* out = !out_name.empty() ? std::fopen(out_name.c_str(), "wb") : stdout;
    if (out == nullptr) {
        std::fprintf(stderr, "varve-host: cannot write %s: %s\n", out_name.c_str(), std::strerror(errno));
        return EXIT_OUTPUT;
    }
    bool ok = std::fwrite(csv.data(), 1, csv.size(), out) == csv.size();
    ok = (out == stdout ? std::fflush(out) : std::fclose(out)) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "varve-host: cannot write %s\n",
                     !out_name.empty() ? out_name.c_str() : "the CSV");
        return EXIT_OUTPUT;
    }
    if (!out_name.empty()) {
        std::fprintf(stderr, "varve-host: %s\n", summary(t).c_str());
    }
    return EXIT_OK;
}

int cmd_nc(std::vector<std::string> args)
{
    Inputs opt;
    if (Status st = input_options(&args, &opt); !st.ok()) {
        return usage_error(st.message());
    }
    if (args.size() < 2 || args.back().size() < 4 ||
        args.back().compare(args.back().size() - 3, 3, ".nc") != 0) {
        return usage_error("nc needs DATA... and OUT.nc");
    }
    const std::string out = args.back();
    args.pop_back();
    Table t;
    if (int rc = load_table(args, opt, &t); rc != EXIT_OK) {
        return rc;
    }
    std::string sources;
    for (const std::string& a : args) {
        sources += (sources.empty() ? "" : " ") + a;
    }
    // One file per deployment: a later one (a restart with a new metadata
    // block) goes to OUT-2.nc, OUT-3.nc, ...
    std::vector<std::size_t> deps;
    for (std::size_t d = 0; d < t.deployment_metadata.size(); ++d) {
        if (std::find(t.deployment.begin(), t.deployment.end(), d) != t.deployment.end()) {
            deps.push_back(d);
        }
    }
    if (deps.empty()) {
        std::fprintf(stderr, "varve-host: no records in %s\n", sources.c_str());
        return EXIT_FAILURE_OTHER;
    }
    for (std::size_t k = 0; k < deps.size(); ++k) {
        const std::string path =
            k == 0 ? out : out.substr(0, out.size() - 3) + "-" + std::to_string(k + 1) + ".nc";
        std::size_t written = 0, untimed = 0;
        if (Status st = write_netcdf(t, deps[k], path, sources, &written, &untimed); !st.ok()) {
            std::fprintf(stderr, "varve-host: %s\n", st.message().c_str());
            return EXIT_OUTPUT;
        }
        const std::string deployed = metadata_value(t.deployment_metadata[deps[k]], "Deploy time:");
        std::fprintf(
            stderr, "varve-host: %s: %zu records%s%s\n", path.c_str(), written,
            deployed.empty() ? "" : (" of the deployment of " + deployed).c_str(),
            untimed == 0 ? "" : (", " + std::to_string(untimed) + " without a time stamp left out").c_str());
    }
    if (deps.size() > 1) {
        std::fprintf(stderr, "varve-host: %zu deployments (each new metadata block starts one): %zu files\n",
                     deps.size(), deps.size());
    }
    std::fprintf(stderr, "varve-host: %s\n", summary(t).c_str());
    return EXIT_OK;
}

int cmd_plot(std::vector<std::string> args)
{
    Inputs opt;
    if (Status st = input_options(&args, &opt); !st.ok()) {
        return usage_error(st.message());
    }
    unsigned w = 1200, h = 900;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--size") {
            char tail;
            if (i + 1 >= args.size() || std::sscanf(args[i + 1].c_str(), "%ux%u%c", &w, &h, &tail) != 2 ||
                w < 200 || h < 150 || w > 10000 || h > 10000) {
                return usage_error("--size needs WxH, from 200x150 to 10000x10000");
            }
            ++i;
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() < 2) {
        return usage_error("plot needs IN... and OUT.png or OUT.svg");
    }
    const std::string out = files.back();
    files.pop_back();
    Table t;
    if (int rc = load_table(files, opt, &t); rc != EXIT_OK) {
        return rc;
    }
    std::string base =
        files[0].substr(files[0].find_last_of('/') == std::string::npos ? 0 : files[0].find_last_of('/') + 1);
    if (files.size() > 1) {
        base += " and " + std::to_string(files.size() - 1) + " more";
    }
    if (t.not_numbers > 0) {
        std::fprintf(stderr, "varve-host: %zu values not a number (left out)\n", t.not_numbers);
    }
    if (Status st = plot_table(t, "Varve deployment: " + base, out, w, h); !st.ok()) {
        std::fprintf(stderr, "varve-host: %s\n", st.message().c_str());
        return st.message().rfind("nothing to plot", 0) == 0 ? EXIT_FAILURE_OTHER : EXIT_OUTPUT;
    }
    return EXIT_OK;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(USAGE, args.empty() ? stderr : stdout);
        return args.empty() ? EXIT_USAGE : EXIT_OK;
    }
    if (args[0] == "--version") {
        std::printf("varve-host %s\n", FIRMWARE_VERSION_STR);
        return EXIT_OK;
    }
    if (args[0] == "csv") {
        return cmd_csv({args.begin() + 1, args.end()});
    }
    if (args[0] == "nc") {
        return cmd_nc({args.begin() + 1, args.end()});
    }
    if (args[0] == "plot") {
        return cmd_plot({args.begin() + 1, args.end()});
    }

    std::string port_name, command, out;
    unsigned baud = 115200;
    Timing timing;
    bool trace = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= args.size()) {
                return nullptr;
            }
            (void)what;
            return args[++i].c_str();
        };
        if (a == "--port") {
            const char* v = value("--port");
            if (v == nullptr || *v == '\0') {
                return usage_error("--port needs a device");
            }
            port_name = v;
        } else if (a == "--baud") {
            const char* v = value("--baud");
            char* end = nullptr;
            unsigned long b = v != nullptr ? std::strtoul(v, &end, 10) : 0;
            if (v == nullptr || *end != '\0' || baud_constant(static_cast<unsigned>(b)) == 0) {
                return usage_error("--baud must be 9600, 19200, 38400, 57600, 115200 or 230400");
            }
            baud = static_cast<unsigned>(b);
        } else if (a == "--wake-time" || a == "--sample-time" || a == "--idle") {
            const char* v = value(a.c_str());
            double* field = a == "--wake-time"     ? &timing.wake_s
                            : a == "--sample-time" ? &timing.sample_s
                                                   : &timing.idle_s;
            if (v == nullptr || !parse_seconds(v, field)) {
                return usage_error(a + " needs a number of seconds (0 to 3600)");
            }
        } else if (a == "--trace") {
            trace = true;
        } else if (a == "--out") {
            const char* v = value("--out");
            if (v == nullptr || *v == '\0') {
                return usage_error("--out needs a file name");
            }
            out = v;
        } else if (command.empty() && (a == "sample" || a == "fetch" || a == "header" || a == "meta" ||
                                       a == "now" || a == "stop")) {
            command = a;
        } else {
            return usage_error("unknown argument \"" + a + "\"");
        }
    }
    if (port_name.empty()) {
        return usage_error("--port DEV is needed");
    }
    if (command.empty()) {
        return usage_error("a command is needed: sample, fetch, header, meta, now or stop");
    }
    if (command == "fetch" && out.empty()) {
        return usage_error("fetch needs --out FILE");
    }
    if (command != "fetch" && !out.empty()) {
        return usage_error("--out belongs to fetch");
    }

    SerialPort port;
    if (Status st = port.open(port_name, baud); !st.ok()) {
        std::fprintf(stderr, "varve-host: %s\n", st.message().c_str());
        return EXIT_PORT;
    }
    port.set_trace(trace);
    PolledClient client(port, timing);
    Result r;
    std::size_t appended = 0;
    if (command == "sample") {
        r = client.sample();
    } else if (command == "now") {
        r = client.take_sample();
    } else if (command == "header") {
        r = client.header();
    } else if (command == "meta") {
        r = client.metadata();
    } else if (command == "stop") {
        r = client.stop();
    } else {
        r = client.fetch(out, &appended);
        if (r.code != EXIT_OUTPUT) {
            std::fprintf(stderr, "varve-host: %zu bytes appended to %s\n", appended, out.c_str());
        }
    }
    if (!r.ok()) {
        std::fprintf(stderr, "varve-host: %s\n", r.message.c_str());
        return r.code;
    }
    if (!r.text.empty()) {
        std::fputs(r.text.c_str(), stdout);
        if (r.text.back() != '\n') {
            std::fputc('\n', stdout);
        }
    }
    return EXIT_OK;
}
