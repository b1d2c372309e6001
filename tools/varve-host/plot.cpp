#include "tools/varve-host/plot.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varvehost {

namespace {

// gnuplot's single-quoted string: a quote is doubled.
std::string quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("''") : std::string(1, c);
    }
    return q + "'";
}

bool ends_with(const std::string& s, const char* tail)
{
    std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

long find_column(const Table& t, const char* name)
{
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (t.columns[i] == name) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// Runs gnuplot with `script` on its standard input; at most `limit_s`.
Status run_gnuplot(const std::string& script, int limit_s)
{
    // gnuplot's messages (warnings such as a flat range it widened) are
    // shown only when it fails.
    char log_path[] = "/tmp/varve-plot-log-XXXXXX";
    int log_fd = mkstemp(log_path);
    if (log_fd < 0) {
        return Status::failure(std::string("cannot make a temporary file: ") + std::strerror(errno));
    }
    struct Cleanup {
        int fd;
        const char* path;
        ~Cleanup()
        {
            close(fd);
            unlink(path);
        }
    } cleanup{log_fd, log_path};
    int in[2];
    if (pipe(in) != 0) {
        return Status::failure(std::string("pipe: ") + std::strerror(errno));
    }
    pid_t pid = fork();
    if (pid < 0) {
        return Status::failure(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(log_fd, 1); // never the image on the terminal
        dup2(log_fd, 2);
        close(in[0]);
        close(in[1]);
        execlp("gnuplot", "gnuplot", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    // gnuplot reads the whole script before it ends; a broken pipe shows as
    // its exit status.
    struct sigaction ign {
    }, old{};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ign, &old);
    std::size_t done = 0;
    while (done < script.size()) {
        ssize_t n = write(in[1], script.data() + done, script.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    close(in[1]);
    sigaction(SIGPIPE, &old, nullptr);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_s);
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return Status::failure("gnuplot did not finish within " + std::to_string(limit_s) + " s");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
            return Status::failure(
                "cannot run gnuplot: is it installed? (scripts/install-deps.sh installs it)");
        }
        std::string messages;
        char buf[1024];
        ssize_t n;
        lseek(log_fd, 0, SEEK_SET);
        while ((n = read(log_fd, buf, sizeof buf)) > 0 && messages.size() < 8192) {
            messages.append(buf, static_cast<std::size_t>(n));
        }
        return Status::failure("gnuplot failed:\n" + messages);
    }
    return {};
}

} // namespace

Status plot_table(const Table& t, const std::string& title, const std::string& out, unsigned width,
                  unsigned height)
{
    std::string terminal;
    if (ends_with(out, ".png")) {
        terminal =
            "pngcairo size " + std::to_string(width) + "," + std::to_string(height) + " font 'sans,10'";
    } else if (ends_with(out, ".svg")) {
        terminal = "svg size " + std::to_string(width) + "," + std::to_string(height) + " font 'sans,10'";
    } else {
        return Status::failure("the plot's file name must end in .png or .svg: " + out);
    }
    struct Series {
        const char* column;
        const char* title;
        int panel; // 0 pH, 1 temperature, 2 supply
    };
    const Series wanted[] = {
        {"pHintEst", "pH, internal reference", 0},
        {"pHextEst", "pH, external reference", 0},
        {"TC_Dfet", "sensor temperature", 1},
        {"VbatMain", "supply", 2},
    };
    const char* panel_label[] = {"pH (total scale)", "Temperature (°C)", "Supply (V)"};

    bool have_time = false;
    for (double x : t.times) {
        have_time = have_time || !std::isnan(x);
    }
    long sampnum = find_column(t, "SampNum");

    // Data for gnuplot: x, then one column per series ("?" = no value).
    std::vector<long> cols;
    std::vector<const Series*> series;
    for (const Series& s : wanted) {
        long c = find_column(t, s.column);
        bool any = false;
        for (std::size_t r = 0; c >= 0 && r < t.rows.size(); ++r) {
            any = any || t.rows[r][static_cast<std::size_t>(c)].kind == Cell::NUMBER;
        }
        if (any) {
            cols.push_back(c);
            series.push_back(&s);
        }
    }
    if (series.empty()) {
        return Status::failure("nothing to plot: the file has no pH, temperature or supply values");
    }
    // The image file first: gnuplot would draw to its standard output when
    // it cannot open it.
    int probe = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (probe < 0) {
        return Status::failure("cannot write " + out + ": " + std::strerror(errno));
    }
    close(probe);
    std::vector<long> flag_cols;
    for (const Series* s : series) {
        flag_cols.push_back(find_column(t, (std::string(s->column) + "_qc").c_str()));
    }
    std::vector<std::array<bool, 2>> marks(series.size(), {false, false});
    char tmpl[] = "/tmp/varve-plot-XXXXXX";
    int fd = mkstemp(tmpl);
    if (fd < 0) {
        return Status::failure(std::string("cannot make a temporary file: ") + std::strerror(errno));
    }
    std::string data;
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        char x[40];
        if (have_time) {
            if (std::isnan(t.times[r])) {
                continue;
            }
            std::snprintf(x, sizeof x, "%.3f", t.times[r]);
        } else if (sampnum >= 0 && t.rows[r][static_cast<std::size_t>(sampnum)].kind == Cell::NUMBER) {
            std::snprintf(x, sizeof x, "%s", t.rows[r][static_cast<std::size_t>(sampnum)].value.c_str());
        } else {
            std::snprintf(x, sizeof x, "%zu", r + 1);
        }
        data += x;
        for (long c : cols) {
            const Cell& cell = t.rows[r][static_cast<std::size_t>(c)];
            data += "\t" + (cell.kind == Cell::NUMBER ? cell.value : std::string("?"));
        }
        // The value again where its quality flag says suspect, and where it
        // says fail: drawn as marks over the line.
        for (std::size_t k = 0; k < cols.size(); ++k) {
            const Cell& cell = t.rows[r][static_cast<std::size_t>(cols[k])];
            const long q = flag_cols[k];
            const std::string flag = q >= 0 ? t.rows[r][static_cast<std::size_t>(q)].value : "";
            for (const char* which : {"3", "4"}) {
                const bool mark = cell.kind == Cell::NUMBER && flag == which;
                data += "\t" + (mark ? cell.value : std::string("?"));
                if (mark) {
                    marks[k][which[0] - '3'] = true;
                }
            }
        }
        data += "\n";
    }
    bool wrote = write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    close(fd);
    const std::string data_path = tmpl;
    if (!wrote) {
        unlink(data_path.c_str());
        return Status::failure("cannot write the temporary data file");
    }

    int panels = 0;
    bool used[3] = {false, false, false};
    for (const Series* s : series) {
        if (!used[s->panel]) {
            used[s->panel] = true;
            ++panels;
        }
    }
    std::string g;
    g += "set terminal " + terminal + "\n";
    g += "set output " + quoted(out) + "\n";
    g += "set datafile separator '\\t'\nset datafile missing '?'\n";
    // Texts are shown as they are (no enhanced-text markup: "b4_DATA.TXT"
    // has no subscript); the key sits above each panel, never over data.
    g += "set termoption noenhanced\n";
    g += "set grid\nset key outside top center horizontal\nset lmargin 12\nset rmargin 4\n";
    g += "set autoscale xfix\nset offsets 0, 0, graph 0.05, graph 0.05\n";
    if (have_time) {
        g += "set xdata time\nset timefmt '%s'\nset format x \"%m-%d\\n%H:%M\"\n";
    }
    g += "set multiplot layout " + std::to_string(panels) + ",1 title " + quoted(title) + "\n";
    int drawn = 0;
    for (int p = 0; p < 3; ++p) {
        if (!used[p]) {
            continue;
        }
        ++drawn;
        g += std::string("set ylabel ") + quoted(panel_label[p]) + "\n";
        g += std::string("set xlabel ") +
             (drawn == panels ? quoted(have_time ? "Time (UTC)" : "Sample number") : std::string("''")) +
             "\n";
        std::string plot = "plot ";
        bool first = true;
        for (std::size_t k = 0; k < series.size(); ++k) {
            if (series[k]->panel != p) {
                continue;
            }
            plot += std::string(first ? "" : ", ") + quoted(data_path) + " using 1:" + std::to_string(k + 2) +
                    " with linespoints pointtype 7 pointsize 0.4 linecolor " + std::to_string(k + 1) +
                    " title " + quoted(series[k]->title);
            first = false;
            for (int m = 0; m < 2; ++m) {
                if (!marks[k][static_cast<std::size_t>(m)]) {
                    continue;
                }
                const std::size_t col = series.size() + 2 + 2 * k + static_cast<std::size_t>(m);
                plot += ", " + quoted(data_path) + " using 1:" + std::to_string(col) +
                        (m == 0 ? " with points pointtype 6 pointsize 1.2 linecolor rgb '#e69f00' title "
                                : " with points pointtype 2 pointsize 1.4 linecolor rgb '#d00000' title ") +
                        quoted(std::string(series[k]->title) + (m == 0 ? ": suspect" : ": failed"));
            }
        }
        g += plot + "\n";
    }
    g += "unset multiplot\nset output\n";
    const Status drawn_ok = run_gnuplot(g, 120);
    unlink(data_path.c_str());
    if (!drawn_ok.ok()) {
        return drawn_ok;
    }
    struct stat st {};
    if (stat(out.c_str(), &st) != 0 || st.st_size == 0) {
        return Status::failure("gnuplot wrote no image to " + out);
    }
    return {};
}

} // namespace varvehost
