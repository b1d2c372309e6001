// varve-host csv and plot on data files written by the simulated controller.
#include "tests/host/host_support.h"
#include "tests/support/harness.h"

#include "records/system_data.h"

#include <cstdint>
#include <functional>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

using namespace hosttest;
using deploytest::fields;
using deploytest::lines;
using deploytest::records;

namespace {

// A CSV line's cells (the tool's quoting: texts in double quotes, no
// line breaks inside).
std::vector<std::string> csv_cells(const std::string& line)
{
    std::vector<std::string> v;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            v.push_back(cell);
            cell.clear();
        } else {
            cell += c;
        }
    }
    v.push_back(cell);
    return v;
}

std::string trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t\r\n");
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

struct Csv {
    std::vector<std::string> comments;
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
};

Csv read_csv(const std::string& text)
{
    Csv c;
    for (const std::string& l : lines(text)) {
        if (l.rfind("# ", 0) == 0) {
            c.comments.push_back(l);
        } else if (c.names.empty()) {
            c.names = csv_cells(l);
        } else {
            c.rows.push_back(csv_cells(l));
        }
    }
    return c;
}

// The ISO 8601 text of a record's date form ("MM/DD/YYYY HH:MM:SS", local
// time 6 h behind UTC).
std::string iso_of_date(const std::string& d)
{
    return d.substr(6, 4) + "-" + d.substr(0, 2) + "-" + d.substr(3, 2) + "T" + d.substr(11) + "-06:00";
}

// Every value of every record is in its row: numbers with the record's
// text (trimmed), the sample number without '#' and zeros, the date as
// ISO 8601; and the row holds nothing that is not in the record.
void expect_round_trip(const std::string& file, const Csv& csv)
{
    auto recs = records(file);
    ASSERT_EQ(csv.rows.size(), recs.size());
    for (std::size_t r = 0; r < recs.size(); ++r) {
        std::vector<std::string> tokens;
        for (const std::string& f : fields(recs[r])) {
            // Instrument replies may hold their values separated by commas
            // (SBE37); an error text stays whole.
            if (!trim(f).empty()) {
                tokens.push_back(trim(f));
            }
            std::size_t pos = 0;
            while (f.find(',', pos) != std::string::npos) {
                std::size_t comma = f.find(',', pos);
                tokens.push_back(trim(f.substr(pos, comma - pos)));
                pos = comma + 1;
            }
            if (pos > 0) {
                tokens.push_back(trim(f.substr(pos)));
            }
        }
        const auto& row = csv.rows[r];
        ASSERT_EQ(row.size(), csv.names.size()) << recs[r];
        std::size_t filled = 0;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string& name = csv.names[i];
            if (row[i].empty() || (name.size() > 3 && name.compare(name.size() - 3, 3, "_qc") == 0)) {
                continue; // quality flags: their own tests
            }
            ++filled;
            bool found = false;
            for (const std::string& t : tokens) {
                found = found || t == row[i] ||
                        (t[0] == '#' && std::to_string(std::stoul(t.substr(1))) == row[i]) ||
                        (t.size() == 19 && t[2] == '/' && iso_of_date(t) == row[i]) ||
                        (t.size() > 7 && t[0] == '(' && t == "(" + row[i] + " msec)");
                if (!found && t.size() == 13 && csv.names[i] == "Time") {
                    found = row[i].size() == 24; // epoch form: checked in its own test
                }
            }
            EXPECT_TRUE(found) << csv.names[i] << " = \"" << row[i] << "\" is not in " << recs[r];
        }
        EXPECT_GE(filled, 1u);
    }
}

std::string timed_file(const std::string& name, deploytest::ConfigFn config, double until_s,
                       const std::map<std::string, std::string>& params = {}, const std::string& keys = "")
{
    auto o = deploytest::board(name, config);
    for (const auto& [k, v] : params) {
        o.params[k] = v;
    }
    test::run_script(
        o, keys.empty() ? deploytest::keys(1, "2\\r") + deploytest::keys(1, "csv test\\r") : keys, until_s);
    return deploytest::card_file(o.board_dir, "noname.txt");
}

uint32_t be32(const std::string& s, std::size_t at)
{
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[at])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 8) | static_cast<uint8_t>(s[at + 3]);
}

} // namespace

void csv_of_a_month(const std::string& month);
void plot_of_a_month(const std::string& month);

// A month of samples two hours apart (made once: the simulated month is the slow part).
TEST(DataFileTools, CsvAndPlotOfAMonth)
{
    const std::string month = timed_file(
        "host-month", [](systemData& d) { d.sampling_period = 7200; }, 30 * 86400.0);
    {
        SCOPED_TRACE("csv");
        csv_of_a_month(month);
    }
    {
        SCOPED_TRACE("plot");
        plot_of_a_month(month);
    }
}
void csv_of_a_month(const std::string& month)
{
    const std::string in = test::fresh_board_dir("host-month-csv") + ".txt";
    write_text(in, month);
    const std::string out = in + ".csv";
    Proc p = host({"csv", in, out});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(p.err.find("skipped;"), std::string::npos) << p.err;
    Csv csv = read_csv(read_text(out));
    ASSERT_GE(records(month).size(), 359u);
    std::vector<std::string> flags;
    for (const std::string& n : csv.names) {
        if (n.size() > 3 && n.compare(n.size() - 3, 3, "_qc") == 0) {
            flags.push_back(n);
        }
    }
    EXPECT_EQ(flags, (std::vector<std::string>{"TC_Dfet_qc", "pHintEst_qc"}));
    EXPECT_EQ(csv.names.size(), 22u);
    EXPECT_EQ(csv.names[0], "SampNum");
    EXPECT_EQ(csv.names[1], "Time");
    EXPECT_EQ(csv.names[2], "VbatMain");
    EXPECT_EQ(csv.names[21], "Ib");
    EXPECT_NE(std::find(csv.comments.begin(), csv.comments.end(), "# Deploy note:   \tcsv test"),
              csv.comments.end());
    expect_round_trip(month, csv);
    EXPECT_EQ(csv.rows.front()[1].rfind("2026-01-15T12:00:0", 0), 0u) << csv.rows.front()[1];
    // Rows in time order.
    for (std::size_t i = 1; i < csv.rows.size(); ++i) {
        EXPECT_LT(csv.rows[i - 1][1], csv.rows[i][1]);
    }
}

void plot_of_a_month(const std::string& month)
{
    // A name that gnuplot's enhanced text would show with a subscript.
    const std::string in = test::fresh_board_dir("host-month-plot") + "-b4_DATA.TXT";
    write_text(in, month);
    Proc png = host({"plot", in, in + ".png"});
    ASSERT_EQ(png.status, 0) << png.err;
    std::string img = read_text(in + ".png");
    ASSERT_GT(img.size(), 1000u);
    EXPECT_EQ(img.substr(1, 3), "PNG");
    EXPECT_EQ(be32(img, 16), 1200u); // IHDR width
    EXPECT_EQ(be32(img, 20), 900u);  // IHDR height
    Proc svg = host({"plot", in, in + ".svg", "--size", "800x600"});
    ASSERT_EQ(svg.status, 0) << svg.err;
    std::string s = read_text(in + ".svg");
    EXPECT_NE(s.find("width=\"800\" height=\"600\""), std::string::npos) << s.substr(0, 400);
    EXPECT_NE(s.find("pH"), std::string::npos);
    EXPECT_NE(s.find("Supply (V)"), std::string::npos);
    EXPECT_NE(s.find("<text>Varve deployment: host-month-plot-b4_DATA.TXT</text>"), std::string::npos);
    // The key stands above the panel: its text higher up than the panel's
    // top tick label (texts are placed by "translate(x,y)").
    auto text_y = [&s](const std::function<bool(const std::string&)>& want) {
        double best = 1e9;
        for (std::size_t at = s.find("translate("); at != std::string::npos;
             at = s.find("translate(", at + 1)) {
            std::size_t t = s.find("<text>", at), e = s.find("</text>", t);
            if (t == std::string::npos || e == std::string::npos || s.find("translate(", at + 1) < t) {
                continue;
            }
            if (want(s.substr(t + 6, e - t - 6))) {
                best = std::min(best, std::stod(s.substr(s.find(',', at) + 1)));
            }
        }
        return best;
    };
    const double key_y = text_y([](const std::string& x) { return x == "pH, internal reference"; });
    const double tick_y = text_y([](const std::string& x) {
        char* end = nullptr;
        std::strtod(x.c_str(), &end);
        return !x.empty() && *end == '\0';
    });
    EXPECT_LT(key_y, tick_y);
    // Another ending is a usage mistake, nothing to plot is an input error.
    EXPECT_EQ(host({"plot", in, in + ".jpg"}).status, 7);
    // An image that cannot be written: an error, and never the image on
    // standard output (where gnuplot would draw it).
    Proc bad = host({"plot", in, "/nonexistent-dir/month.png"});
    EXPECT_EQ(bad.status, 7);
    EXPECT_EQ(bad.out, "");
    write_text(in + ".nums", " SampNum\tHumidity\r\n#0000001\t      35\r\n");
    EXPECT_EQ(host({"plot", in + ".nums", in + ".png"}).status, 1);
}

struct Optional {
    const char* name;
    deploytest::ConfigFn config;
    std::map<std::string, std::string> params;
    std::vector<std::string> columns; // names that must be in the CSV
};

TEST(CsvColumns, EachOptionalColumnSetIsSplitAndRoundTrips)
{
    const std::vector<Optional> sets = {
        {"epoch", [](systemData& d) { d.data_cfg[CFG_TIMESTAMP] = 2; }, {}, {"Time"}},
        {"all-analog",
         [](systemData& d) {
             for (int i = CFG_V_THERMISTOR; i <= CFG_BRD_HUMIDITY; ++i) {
                 d.data_cfg[i] = 1;
             }
         },
         {},
         {"pHextEst", "Vrse_B", "VrseBstd", "VrsiBstd"}},
        {"optode",
         [](systemData& d) { d.data_cfg[CFG_OPTODE] = 1; },
         {{"optode_port", "optode"}},
         {"Opt_PN", "Opt_SN", "Moxy", "O2satper", "Opt_rawtemp"}},
        {"sbe37",
         [](systemData& d) { d.data_cfg[CFG_CTD] = 1; },
         {{"ctd", "sbe37"}},
         {"TC_MCat", "Cond", "pSal", "Date_MC", "Time_MC"}},
        {"aand5860",
         [](systemData& d) { d.data_cfg[CFG_CTD] = 2; },
         {{"ctd", "aand5860"}},
         {"Cond_PN", "Cond_SN", "Temp", "Sal", "Density", "SSpeed"}},
        {"ocr",
         [](systemData& d) { d.data_cfg[CFG_OCR] = 1; },
         {{"optode_port", "ocr504"}},
         {"OCR_PN", "Chan_1", "Chan_4"}},
        {"optode-absent", [](systemData& d) { d.data_cfg[CFG_OPTODE] = 1; }, {}, {"Opt_PN", "Opt_rawtemp"}},
        {"diag", [](systemData& d) { d.app_cfg[APPCFG_SAMPLING_DIAG] = 1; }, {}, {"Sample time (ms)"}},
    };
    for (const Optional& o : sets) {
        SCOPED_TRACE(o.name);
        auto config = [&o](systemData& d) {
            d.sampling_period = 60;
            o.config(d);
        };
        const std::string file = timed_file(std::string("host-cols-") + o.name, config, 130, o.params);
        ASSERT_GE(records(file).size(), 2u) << file;
        const std::string in = test::fresh_board_dir(std::string("host-cols-") + o.name) + ".txt";
        write_text(in, file);
        Proc p = host({"csv", in});
        ASSERT_EQ(p.status, 0) << p.err;
        EXPECT_EQ(p.err, "") << records(file)[0];
        Csv csv = read_csv(p.out);
        for (const std::string& c : o.columns) {
            EXPECT_NE(std::find(csv.names.begin(), csv.names.end(), c), csv.names.end()) << c;
        }
        expect_round_trip(file, csv);
        if (std::string(o.name) == "epoch") {
            // Epoch milliseconds as UTC with milliseconds: the instant of
            // the first sample, 12:00:02 local = 18:00:02 UTC.
            EXPECT_EQ(csv.rows[0][1].rfind("2026-01-15T18:00:0", 0), 0u) << csv.rows[0][1];
            EXPECT_EQ(csv.rows[0][1].substr(19), ".000Z");
        }
        if (std::string(o.name) == "optode-absent") {
            // The driver's error text stays whole in the first sub-column
            // (the record gives it the optode's first column, the others
            // empty).
            const std::string error_text = "Optode not responding with % char after power up";
            auto at = std::find(csv.names.begin(), csv.names.end(), "Opt_PN") - csv.names.begin();
            EXPECT_EQ(csv.rows[0][static_cast<std::size_t>(at)], error_text);
            const auto f = fields(records(file)[0]);
            EXPECT_NE(std::find(f.begin(), f.end(), error_text), f.end()) << records(file)[0];
        }
    }
}

TEST(CsvColumns, LinesThatAreNotRecordsAreReportedAndSkipped)
{
    const std::string header = " SampNum\t     MM/DD/YYYY HH:MM:SS\tVbatMain\r\n";
    const std::string text =
        "\r\n\r\n//++** Deployment Settings **\r\n// Time zone:       \tGMT\r\n//--**\r\n\r\n\r\n" + header +
        "#0000001\t01/15/2026 12:00:04\t   12.50\r\n" +
        // A power cut after part of a record; the next one follows on its line.
        "#0000002\t01/15/20#0000003\t01/15/2026 12:20:04\t   12.48\r\n" +
        "#0000004\t01/15/2026 12:30:04\r\n" + "garbage\x01\r\n" +
        "#0000005\t01/15/2026 12:40:04\t   abc\r\n" + "#0000006\t01/15/2026 12:50:04\t   12.47\r\n";
    const std::string in = test::fresh_board_dir("host-partial") + ".txt";
    write_text(in, text);
    Proc p = host({"csv", in});
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_NE(p.err.find("line 10: a partial record"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("line 11: not a record (fewer fields"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("line 12: not a record (no sample number)"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("line 13: not a record (\"abc\" is not a number"), std::string::npos) << p.err;
    Csv csv = read_csv(p.out);
    ASSERT_EQ(csv.rows.size(), 3u) << p.out;
    EXPECT_EQ(csv.rows[0], (std::vector<std::string>{"1", "2026-01-15T12:00:04Z", "12.50"}));
    EXPECT_EQ(csv.rows[1], (std::vector<std::string>{"3", "2026-01-15T12:20:04Z", "12.48"}));
    EXPECT_EQ(csv.rows[2][0], "6");
    // A file without any column header is not a table.
    write_text(in + ".nohdr", "#0000001\t01/15/2026 12:00:04\t   12.50\r\n");
    Proc none = host({"csv", in + ".nohdr"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("--header"), std::string::npos);
    EXPECT_EQ(host({"csv", in + ".missing"}).status, 1);
}

// Both programs name the firmware they belong to, and a refused value is
// named in the message.
TEST(CommandLine, VersionAndARefusedValue)
{
    const Proc sim = run({VARVE_SIM_BIN, "--version"}, 30);
    const Proc tool = host({"--version"}, 30);
    EXPECT_EQ(sim.status, 0);
    EXPECT_EQ(tool.status, 0) << tool.err;
    EXPECT_EQ(sim.out.rfind("varve-sim v", 0), 0u) << sim.out;
    EXPECT_EQ(tool.out.substr(tool.out.find(' ')), sim.out.substr(sim.out.find(' '))) << tool.out;
    const Proc small = run({VARVE_SIM_BIN, "--card-size", "10"}, 30);
    EXPECT_EQ(small.status, 2);
    EXPECT_NE(small.err.find("at least 36, got \"10\""), std::string::npos) << small.err;
}

// The monitor on a terminal console: Ctrl-A c takes the card out (the file
// shell then finds none), Ctrl-A Ctrl-A would type Ctrl-A, Ctrl-A q quits.
TEST(CommandLine, MonitorTakesTheCardOutAndQuits)
{
    const std::string board = test::fresh_board_dir("monitor");
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(VARVE_SIM_BIN, VARVE_SIM_BIN, "--board", board.c_str(), "--until", "60", nullptr);
        _exit(127);
    }
    std::string seen;
    // Reads until `text` has appeared (or 20 s have passed).
    auto wait_for = [&](const std::string& text) {
        for (int i = 0; i < 200 && seen.find(text) == std::string::npos; ++i) {
            struct pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[512];
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) {
                    seen.append(buf, static_cast<std::size_t>(n));
                }
            }
        }
        return seen.find(text) != std::string::npos;
    };
    auto type = [&](const std::string& keys) {
        ASSERT_EQ(write(master, keys.data(), keys.size()), ssize_t(keys.size()));
    };
    EXPECT_TRUE(wait_for("Enter Selection: ")) << seen;
    type("\x01"
         "c");
    EXPECT_TRUE(wait_for("monitor: card out")) << seen;
    type("5\r");
    EXPECT_TRUE(wait_for("/> ")) << seen;
    type("ls\r");
    EXPECT_TRUE(wait_for("Command returned error code FR_NOT_READY")) << seen;
    type("\x01"
         "q");
    EXPECT_TRUE(wait_for("monitor: quit")) << seen;
    int status = -1;
    for (int i = 0; i < 100 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
        usleep(100000);
    }
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
