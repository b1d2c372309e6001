// varve-sim plan and varve-sim power (see plan.h).
#include "sim/tools/plan.h"

#include "records/system.h"
#include "records/i2c_fram.h"
#include "records/system_data.h"
#include "sim/run/energy.h"
#include "sim/run/run_board.h"
#include "sim/tools/cli.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

const char* const PLAN_USAGE =
    "Usage: varve-sim plan [--board DIR] [--battery AH] [--battery-curve FILE] [--json]\n"
    "                      [--poll SECONDS] [--compare SETTINGS ...] [RUN OPTIONS]\n"
    "\n"
    "Runs one simulated day of the deployment the board is configured for, on a\n"
    "copy of the board folder (the board itself is unchanged), and prints:\n"
    "samples, awake time, charge by item and card bytes per day, the days until\n"
    "the low-battery end and until the card is full, the limit and the end date.\n"
    "\n"
    "  --board DIR          the board (default ./varve-board); it must exist\n"
    "  --battery AH         capacity of the supply battery (default 10)\n"
    "  --battery-curve FILE its discharge curve (default LiFePO4, 4 cells)\n"
    "  --json               one JSON object (with --compare: an array of them)\n"
    "  --poll SECONDS       polled mode (period 0): the host wakes the board and\n"
    "                       asks \"ts\" every SECONDS (default 600)\n"
    "  --compare SETTINGS   repeatable: plan the board changed by SETTINGS too and\n"
    "                       print the plans side by side; SETTINGS is a list of\n"
    "                       board-tool assignments and run options, e.g.\n"
    "                       \"sampling_period=900\" or \"data_cfg[CFG_CTD]=1 --ctd sbe37\"\n"
    "  RUN OPTIONS          options of the run (--ctd, --optode-port, --power,\n"
    "                       --vbat, --water, ...) used for every plan\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 usage.\n";

constexpr uint32_t SECONDS_1900_TO_1970 = 2208988800u;

int plan_usage(const std::string& msg)
{
    std::fprintf(stderr, "varve-sim plan: %s\n(see varve-sim plan --help)\n", msg.c_str());
    return 2;
}

// Where temporary files go: $TMPDIR, or /tmp.
std::string temp_dir()
{
    const char* t = std::getenv("TMPDIR");
    return t != nullptr && *t != '\0' ? t : "/tmp";
}

std::string self_exe()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return "varve-sim";
    }
    buf[n] = '\0';
    return buf;
}

// Runs this program with `args`; its standard output into *out (when
// given), standard error kept in *err_out.  Returns the exit status.
int run_self(const std::vector<std::string>& args, std::string* out, std::string* err_out)
{
    std::string out_text = temp_dir() + "/varve-plan-out-XXXXXX";
    std::string err_text = temp_dir() + "/varve-plan-err-XXXXXX";
    char* out_name = out_text.data();
    char* err_name = err_text.data();
    int out_fd = mkstemp(out_name);
    int err_fd = mkstemp(err_name);
    if (out_fd < 0 || err_fd < 0) {
        return -1;
    }
    std::string exe = self_exe();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        std::vector<char*> argv;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) {
        status = -1;
    }
    auto slurp = [](const char* name) {
        std::ifstream f(name, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    };
    if (out != nullptr) {
        *out = slurp(out_name);
    }
    if (err_out != nullptr) {
        *err_out = slurp(err_name);
    }
    close(out_fd);
    close(err_fd);
    unlink(out_name);
    unlink(err_name);
    return pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Copies a file keeping its holes (a card image is mostly holes).
bool copy_sparse(const std::string& from, const std::string& to)
{
    int in = open(from.c_str(), O_RDONLY);
    if (in < 0) {
        return errno == ENOENT;
    }
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    struct stat st {};
    bool ok = out >= 0 && fstat(in, &st) == 0 && ftruncate(out, st.st_size) == 0;
    std::vector<char> buf(1 << 20);
    off_t pos = 0;
    while (ok && pos < st.st_size) {
        off_t data = lseek(in, pos, SEEK_DATA);
        if (data < 0) {
            break; // only a hole is left
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) {
            hole = st.st_size;
        }
        for (off_t p = data; ok && p < hole;) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<off_t>(hole - p, static_cast<off_t>(buf.size())));
            ssize_t n = pread(in, buf.data(), want, p);
            ok = n > 0 && pwrite(out, buf.data(), static_cast<std::size_t>(n), p) == n;
            p += n > 0 ? n : 0;
        }
        pos = hole;
    }
    close(in);
    if (out >= 0 && close(out) != 0) {
        ok = false;
    }
    return ok;
}

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A number after "KEY": in our own JSON (the first one after `from`).
double json_number(const std::string& json, const std::string& key, std::size_t from = 0)
{
    std::size_t at = json.find("\"" + key + "\":", from);
    if (at == std::string::npos) {
        return 0;
    }
    return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

// "N file(s), B bytes; D dir(s); F bytes free" of "card ls".
bool card_usage(const std::string& dir, double* file_bytes, double* free_bytes)
{
    std::string out, err;
    if (run_self({"card", "--board", dir, "ls"}, &out, &err) != 0) {
        return false;
    }
    std::size_t at = out.rfind(" file(s), ");
    std::size_t free_at = out.rfind(" bytes free");
    if (at == std::string::npos || free_at == std::string::npos) {
        return false;
    }
    *file_bytes = std::strtod(out.c_str() + at + 10, nullptr);
    std::size_t sp = out.rfind(' ', free_at - 1);
    *free_bytes = std::strtod(out.c_str() + sp + 1, nullptr);
    return true;
}

struct Plan {
    std::string setting;
    double days_run = 0;
    double samples_per_day = 0;
    double awake_s_per_day = 0;
    double charge_mAh_per_day = 0;
    std::vector<std::pair<std::string, double>> by_item; // mAh per day
    double days_to_low_battery = -1;
    double card_bytes_per_day = 0;
    double days_to_card_full = -1;
    std::string limit;
    std::string end;
    double capacity_mAh = 0;
    double mAh_to_low = 0;
    double low_batt_volt = 0;
    std::string mode;
};

std::string iso_date(uint32_t rtc, double plus_days)
{
    std::time_t t = static_cast<std::time_t>(rtc) - SECONDS_1900_TO_1970 +
                    static_cast<std::time_t>(std::llround(plus_days * 86400.0));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> v;
    std::istringstream in(text);
    std::string w;
    while (in >> w) {
        v.push_back(w);
    }
    return v;
}

// One plan: copy, change, run a day, read the figures.
Status make_plan(const std::string& board, const std::string& setting,
                 const std::vector<std::string>& run_opts, const Battery& battery, double poll_s, Plan* plan)
{
    plan->setting = setting.empty() ? "as configured" : setting;
    std::string tmpl_text = temp_dir() + "/varve-plan-XXXXXX";
    char* tmpl = tmpl_text.data();
    if (mkdtemp(tmpl) == nullptr) {
        return Status::failure(std::string("cannot make a temporary folder: ") + std::strerror(errno));
    }
    const std::string copy = tmpl;
    struct Cleanup {
        std::string dir;
        ~Cleanup()
        {
            for (const char* f : {"eeprom.bin", "fram.bin", "hibernate.txt", "card.img", ".gitignore",
                                  "power.txt", "start.txt", "stats.json"}) {
                unlink((dir + "/" + f).c_str());
            }
            rmdir(dir.c_str());
        }
    } cleanup{copy};
    for (const char* f : {"eeprom.bin", "fram.bin", "hibernate.txt", "card.img", ".gitignore", "power.txt"}) {
        if (!copy_sparse(board + "/" + f, copy + "/" + f)) {
            return Status::failure(std::string("cannot copy ") + board + "/" + f);
        }
    }
    std::vector<std::string> opts = run_opts;
    std::vector<std::string> assignments;
    // Words starting with "--" are run options (with the next word as
    // their value, except the flags); the others are board assignments.
    const std::vector<std::string> ws = words(setting);
    for (std::size_t i = 0; i < ws.size(); ++i) {
        if (ws[i].rfind("--", 0) == 0) {
            opts.push_back(ws[i]);
            if (ws[i] != "--blank" && ws[i] != "--realtime" && i + 1 < ws.size()) {
                opts.push_back(ws[++i]);
            }
        } else {
            assignments.push_back(ws[i]);
        }
    }
    if (!assignments.empty()) {
        std::vector<std::string> args = {"board", "--board", copy, "set"};
        args.insert(args.end(), assignments.begin(), assignments.end());
        std::string out, e;
        if (run_self(args, &out, &e) != 0) {
            return Status::failure("--compare \"" + setting + "\": " + e);
        }
    }
    // The copy's records and clock.
    std::string eeprom = slurp(copy + "/eeprom.bin");
    std::string fram = slurp(copy + "/fram.bin");
    if (eeprom.size() < 2048 || fram.size() < FRAM_SYS_SAMP_OFFSET + sizeof(systemSamplingData)) {
        return Status::failure("the board's EEPROM or FRAM image is missing or short");
    }
    systemData d{};
    std::memcpy(&d, eeprom.data() + SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    std::memcpy(reinterpret_cast<char*>(&d) + SYS_DATA_HEAD_BYTES, eeprom.data() + SYS_DATA_TAIL_EEPROM_ADDR,
                SYS_DATA_TAIL_BYTES);
    systemSamplingData samp{};
    std::memcpy(&samp, fram.data() + FRAM_SYS_SAMP_OFFSET, sizeof samp);
    const std::string hib = slurp(copy + "/hibernate.txt");
    auto hib_field = [&](const char* key) {
        std::size_t at = hib.find(std::string(key) + " ");
        return at == std::string::npos ? 0.0 : std::strtod(hib.c_str() + at + std::strlen(key) + 1, nullptr);
    };
    const bool hibernating = hib_field("hibernating") != 0;
    const auto rtc = static_cast<uint32_t>(hib_field("rtc_seconds"));
    plan->low_batt_volt = static_cast<double>(d.low_batt_volt);
    const bool deployed = samp.initNum == SYS_SAMP_INIT_NUM && samp.state == DEPLOYED;
    const bool polled = d.sampling_period == 0;
    plan->mode = polled ? "polled, the host asks every " + std::to_string(static_cast<long>(poll_s)) + " s"
                        : "timed, every " + std::to_string(d.sampling_period) + " s";

    // The day: start the deployment (unless it runs already), then a day;
    // in polled mode the host's exchanges.
    std::string script;
    double t = 0;
    if (!deployed) {
        if (hibernating) {
            script += "1 x\n";
            t += 1;
        }
        script += "2 2\\r\n";
        t += 2;
        if (d.pump1_ontime != 0) {
            script += "1 n\n1 n\n";
            t += 2;
        }
        script += "1 \\r\n";
        t += 1;
    }
    const double start = t;
    const double day_end = start + 86400.0;
    if (polled) {
        double next = start + 5;
        double last = start;
        while (next + 20 < day_end) {
            char line[64];
            std::snprintf(line, sizeof line, "%.3f  \n1 ts\\r\n", next - last);
            script += line;
            last = next + 1;
            next += poll_s;
        }
    }
    std::ofstream(copy + "/start.txt") << script;
    double bytes_before = 0, free_before = 0;
    const bool card = card_usage(copy, &bytes_before, &free_before);
    std::vector<std::string> args = {
        "--board",   copy,      "--console",          "none",    "--transcript",
        "/dev/null", "--stats", copy + "/stats.json", "--until", std::to_string(day_end)};
    if (!script.empty()) {
        args.push_back("--input");
        args.push_back(copy + "/start.txt");
    }
    args.insert(args.end(), opts.begin(), opts.end());
    std::string out, e;
    int rc = run_self(args, &out, &e);
    if (rc != 0) {
        return Status::failure("the day's run failed (status " + std::to_string(rc) + "): " + e);
    }
    const std::string stats = slurp(copy + "/stats.json");
    const double sim_s = json_number(stats, "simulated_s");
    if (sim_s <= 0) {
        return Status::failure("the day's run wrote no statistics");
    }
    const double days = sim_s / 86400.0;
    plan->days_run = days;
    plan->samples_per_day = json_number(stats, "samples") / days;
    plan->awake_s_per_day = json_number(stats, "total", stats.find("\"awake_s\"")) / days;
    const std::size_t items = stats.find("\"items\"");
    const std::size_t total = stats.find("\"total\": {\"mAh\"", items);
    plan->charge_mAh_per_day = json_number(stats, "mAh_per_day", total);
    for (std::size_t at = stats.find("\n      \"", items); at != std::string::npos && at < total;
         at = stats.find("\n      \"", at + 1)) {
        std::size_t q = stats.find('"', at + 8);
        std::string key = stats.substr(at + 8, q - at - 8);
        plan->by_item.emplace_back(key, json_number(stats, "mAh_per_day", q));
    }
    plan->capacity_mAh = battery.capacity_mAh;
    double fresh = 12.5;
    for (std::size_t i = 0; i + 1 < opts.size(); ++i) {
        if (opts[i] == "--vbat") {
            fresh = std::strtod(opts[i + 1].c_str(), nullptr);
        }
    }
    plan->mAh_to_low = battery.mAh_to(plan->low_batt_volt, fresh);
    plan->days_to_low_battery = plan->charge_mAh_per_day > 0 && plan->mAh_to_low >= 0
                                    ? plan->mAh_to_low / plan->charge_mAh_per_day
                                    : -1;
    double bytes_after = 0, free_after = 0;
    if (card && card_usage(copy, &bytes_after, &free_after)) {
        plan->card_bytes_per_day = (bytes_after - bytes_before) / days;
        plan->days_to_card_full =
            plan->card_bytes_per_day > 0 ? free_after / plan->card_bytes_per_day + days : -1;
    }
    const bool card_first =
        plan->days_to_card_full >= 0 &&
        (plan->days_to_low_battery < 0 || plan->days_to_card_full < plan->days_to_low_battery);
    plan->limit = card_first ? "card" : "battery";
    const double end_days = card_first ? plan->days_to_card_full : plan->days_to_low_battery;
    plan->end = end_days >= 0 ? iso_date(rtc, start / 86400.0 + end_days) : "";
    return {};
}

std::string num(double v, const char* fmt = "%.3f")
{
    if (v < 0) {
        return "never";
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

void print_table(const std::vector<Plan>& plans)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> rows;
    auto row = [&](const std::string& name, auto fn) {
        std::vector<std::string> cells;
        for (const Plan& p : plans) {
            cells.push_back(fn(p));
        }
        rows.emplace_back(name, cells);
    };
    row("setting", [](const Plan& p) { return p.setting; });
    row("mode", [](const Plan& p) { return p.mode; });
    row("samples per day", [](const Plan& p) { return num(p.samples_per_day, "%.1f"); });
    row("awake s per day", [](const Plan& p) { return num(p.awake_s_per_day, "%.1f"); });
    row("charge mAh per day", [](const Plan& p) { return num(p.charge_mAh_per_day, "%.2f"); });
    for (std::size_t i = 0; i < plans.front().by_item.size(); ++i) {
        bool any = false;
        for (const Plan& p : plans) {
            any = any || (i < p.by_item.size() && p.by_item[i].second > 0);
        }
        if (any) {
            row("  " + plans.front().by_item[i].first,
                [i](const Plan& p) { return i < p.by_item.size() ? num(p.by_item[i].second, "%.3f") : ""; });
        }
    }
    row("battery mAh to low (V)", [](const Plan& p) {
        return num(p.mAh_to_low, "%.0f") + " of " + num(p.capacity_mAh, "%.0f") + " (" +
               num(p.low_batt_volt, "%.2f") + " V)";
    });
    row("days to low battery", [](const Plan& p) { return num(p.days_to_low_battery, "%.1f"); });
    row("card bytes per day", [](const Plan& p) { return num(p.card_bytes_per_day, "%.0f"); });
    row("days to card full", [](const Plan& p) { return num(p.days_to_card_full, "%.0f"); });
    row("limit", [](const Plan& p) { return p.limit; });
    row("end", [](const Plan& p) { return p.end.empty() ? std::string("never") : p.end; });
    std::size_t w0 = 0;
    std::vector<std::size_t> w(plans.size(), 0);
    for (const auto& r : rows) {
        w0 = std::max(w0, r.first.size());
        for (std::size_t i = 0; i < r.second.size(); ++i) {
            w[i] = std::max(w[i], r.second[i].size());
        }
    }
    for (const auto& r : rows) {
        std::printf("%-*s", static_cast<int>(w0), r.first.c_str());
        for (std::size_t i = 0; i < r.second.size(); ++i) {
            std::printf("  %*s", static_cast<int>(w[i]), r.second[i].c_str());
        }
        std::printf("\n");
    }
}

std::string json_escape(const std::string& s)
{
    std::string o;
    for (char c : s) {
        if (c == '"' || c == '\\') {
            o += '\\';
        }
        o += c;
    }
    return o;
}

void print_json(const Plan& p, const char* indent)
{
    auto opt = [](double v) { return v < 0 ? std::string("null") : num(v, "%.6f"); };
    std::printf(
        "%s{\"setting\": \"%s\", \"mode\": \"%s\", \"samples_per_day\": %.6f, \"awake_s_per_day\": %.6f, "
        "\"charge_mAh_per_day\": %.6f, \"charge_mAh_per_day_by_item\": {",
        indent, json_escape(p.setting).c_str(), json_escape(p.mode).c_str(), p.samples_per_day,
        p.awake_s_per_day, p.charge_mAh_per_day);
    for (std::size_t i = 0; i < p.by_item.size(); ++i) {
        std::printf("%s\"%s\": %.6f", i == 0 ? "" : ", ", p.by_item[i].first.c_str(), p.by_item[i].second);
    }
    std::printf("}, \"battery_mAh\": %.3f, \"mAh_to_low_battery\": %.3f, \"low_battery_volts\": %.3f, "
                "\"days_to_low_battery\": %s, \"card_bytes_per_day\": %.1f, \"days_to_card_full\": %s, "
                "\"limit\": \"%s\", \"end\": %s}",
                p.capacity_mAh, p.mAh_to_low, p.low_batt_volt, opt(p.days_to_low_battery).c_str(),
                p.card_bytes_per_day, opt(p.days_to_card_full).c_str(), p.limit.c_str(),
                p.end.empty() ? "null" : ("\"" + p.end + "\"").c_str());
}

} // namespace

int plan_main(int argc, char** argv)
{
    std::string board = "varve-board";
    bool json = false;
    double poll_s = 600;
    std::vector<std::string> compare;
    std::vector<std::string> run_opts;
    std::map<std::string, std::string> battery_params = {{"battery_ah", "10"}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                return false;
            }
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(PLAN_USAGE, stdout);
            return 0;
        } else if (a == "--board") {
            if (!value(&board))
                return plan_usage("--board needs a folder");
        } else if (a == "--json") {
            json = true;
        } else if (a == "--battery" || a == "--battery-curve") {
            if (!value(&v))
                return plan_usage(a + " needs a value");
            battery_params[a == "--battery" ? "battery_ah" : "battery_curve"] = v;
        } else if (a == "--poll") {
            if (!value(&v) || !(std::strtod(v.c_str(), nullptr) >= 30))
                return plan_usage("--poll needs a number of seconds, at least 30");
            poll_s = std::strtod(v.c_str(), nullptr);
        } else if (a == "--compare") {
            if (!value(&v))
                return plan_usage("--compare needs settings");
            compare.push_back(v);
        } else if (a == "--until" || a == "--input" || a == "--console" || a == "--stats" ||
                   a == "--transcript") {
            return plan_usage(a + " is chosen by the planner");
        } else {
            run_opts.push_back(a);
        }
    }
    Battery battery;
    if (Status st = battery_from(battery_params, &battery); !st.ok()) {
        return plan_usage(st.message());
    }
    // The run options must be the run's own.
    {
        std::vector<std::string> args = {"varve-sim", "--console", "none"};
        args.insert(args.end(), run_opts.begin(), run_opts.end());
        std::vector<char*> cargv;
        for (std::string& s : args) {
            cargv.push_back(s.data());
        }
        RunOptions o;
        int rc = parse_command_line(static_cast<int>(cargv.size()), cargv.data(), &o);
        if (rc >= 0) {
            return rc == 0 ? 2 : rc;
        }
    }
    struct stat st {};
    if (stat((board + "/eeprom.bin").c_str(), &st) != 0) {
        std::fprintf(stderr, "varve-sim plan: no simulated board in %s\n", board.c_str());
        return 1;
    }
    std::vector<std::string> settings = {""};
    settings.insert(settings.end(), compare.begin(), compare.end());
    std::vector<Plan> plans;
    for (const std::string& s : settings) {
        Plan p;
        if (Status st = make_plan(board, s, run_opts, battery, poll_s, &p); !st.ok()) {
            std::fprintf(stderr, "varve-sim plan: %s\n", st.message().c_str());
            return 1;
        }
        plans.push_back(p);
    }
    if (json) {
        if (plans.size() == 1) {
            print_json(plans[0], "");
            std::printf("\n");
        } else {
            std::printf("[\n");
            for (std::size_t i = 0; i < plans.size(); ++i) {
                print_json(plans[i], "  ");
                std::printf("%s\n", i + 1 < plans.size() ? "," : "");
            }
            std::printf("]\n");
        }
    } else {
        print_table(plans);
    }
    return 0;
}

int power_main(int argc, char** argv)
{
    std::string board = "varve-board";
    std::map<std::string, std::string> params;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--board" || a == "--power") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--board") {
                board = v;
            } else {
                std::size_t eq = v.find('=');
                params["power." + v.substr(0, eq)] = eq == std::string::npos ? "" : v.substr(eq + 1);
            }
        } else {
            std::fprintf(stderr, "Usage: varve-sim power [--board DIR] [--power KEY=MA ...]\n");
            return a == "-h" || a == "--help" ? 0 : 2;
        }
    }
    PowerTable t;
    if (Status st = power_table_load(params, board, &t); !st.ok()) {
        std::fprintf(stderr, "varve-sim power: %s\n", st.message().c_str());
        return 1;
    }
    std::printf("%s", power_table_text(t).c_str());
    return 0;
}

} // namespace sim
