#include "tools/varve-host/data_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cctype>
#include <map>
#include <set>

namespace varvehost {

std::string trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

namespace {

// Console (local) time of a clock not set in GMT: 6 h behind UTC.
constexpr int LOCAL_OFFSET_S = -21600;

// Column kinds of the header.
enum class Kind { SAMPLE_NUM, DATE_TIME, EPOCH_MS, NUMBER, TEXT, GROUP };

// Instrument columns: the header names every sub-column; the record holds
// the instrument's reply, its values tab-separated, or one error text.
struct Group {
    const char* first; // the first sub-column name, as trimmed in the header
    std::size_t count; // sub-columns in the header
};
const Group GROUPS[] = {
    {"Opt_PN", 12}, // Aanderaa optode
    {"TC_MCat", 6}, // SBE37 MicroCat: temperature, conductivity, [pressure,] salinity, date, time
    {"Cond_PN", 7}, // Aanderaa 5860
    {"OCR_PN", 5},  // OCR-504 radiometer
};

struct Column {
    Kind kind;
    std::vector<std::size_t> out; // output column indices (several for a group)
    const Group* group = nullptr;
};

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> v;
    std::size_t pos = 0;
    for (;;) {
        std::size_t at = s.find(sep, pos);
        v.push_back(s.substr(pos, at == std::string::npos ? std::string::npos : at - pos));
        if (at == std::string::npos) {
            return v;
        }
        pos = at + 1;
    }
}

bool is_number(const std::string& s)
{
    if (s.empty()) {
        return false;
    }
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0') {
        return false;
    }
    // Only plain decimal notation: no "inf", "nan" or hex floats as numbers.
    return s.find_first_not_of("0123456789+-.eE") == std::string::npos;
}

// "15 Jan 2026": the MicroCat's date.
bool is_date(const std::vector<std::string>& f, std::size_t k)
{
    if (k >= f.size()) {
        return false;
    }
    unsigned d, y;
    char mon[4], tail;
    return std::sscanf(f[k].c_str(), " %2u %3s %4u%c", &d, mon, &y, &tail) == 3;
}

// One value of an instrument's reply: a token without spaces (a number, a
// product code, a time) or the MicroCat's date; an error text has words.
bool looks_like_value(const std::string& v)
{
    if (v.empty()) {
        return false;
    }
    return v.find(' ') == std::string::npos || is_date({v}, 0);
}

// The C library's texts of values that are not numbers ("nan", "-nan",
// "inf"): the firmware prints them when a computation has no result.
bool is_not_a_number(std::string v)
{
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
        v.erase(0, 1);
    }
    for (char& c : v) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return v == "nan" || v == "inf" || v == "infinity" || v.rfind("nan(", 0) == 0;
}

bool all_digits(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

long long days_from_civil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// "MM/DD/YYYY HH:MM:SS" as seconds of its own clock since 1970 (no zone).
bool parse_date_time(const std::string& s, long long* secs)
{
    unsigned mo, d, y, h, mi, se;
    char tail;
    if (s.size() != 19 ||
        std::sscanf(s.c_str(), "%2u/%2u/%4u %2u:%2u:%2u%c", &mo, &d, &y, &h, &mi, &se, &tail) != 6) {
        return false;
    }
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) {
        return false;
    }
    *secs = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + se;
    return true;
}

Cell number(const std::string& v)
{
    return {Cell::NUMBER, v};
}

Cell text_or_number(const std::string& v)
{
    if (v.empty()) {
        return {};
    }
    return is_number(v) ? number(v) : Cell{Cell::TEXT, v};
}

struct Parser {
    Table t;
    std::map<std::string, std::size_t> index; // output column by name
    std::vector<Column> cols;                 // of the current header
    bool have_header = false;
    int offset_s = LOCAL_OFFSET_S;    // zone of the date form in the current deployment
    std::size_t extra_col = SIZE_MAX; // "(N msec)" sample time column

    std::size_t column(const std::string& name)
    {
        auto it = index.find(name);
        if (it != index.end()) {
            return it->second;
        }
        std::size_t i = t.columns.size();
        t.columns.push_back(name);
        index[name] = i;
        for (auto& row : t.rows) {
            row.emplace_back();
        }
        return i;
    }

    void header(const std::vector<std::string>& names)
    {
        cols.clear();
        // Names within one header are made unique by a suffix; the same
        // name in a later header is the same column.
        std::map<std::string, int> seen;
        auto unique = [&seen](std::string n) {
            if (n.empty()) {
                n = "column";
            }
            int k = ++seen[n];
            return k == 1 ? n : n + "_" + std::to_string(k);
        };
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::string n = trim(names[i]);
            Column c{Kind::NUMBER, {}, nullptr};
            for (const Group& g : GROUPS) {
                std::size_t count = g.count;
                // Later firmware names no pressure column for the MicroCat.
                if (n == "TC_MCat" && (i + 2 >= names.size() || trim(names[i + 2]) != "Pres")) {
                    count = g.count - 1;
                }
                if (n == g.first && i + count <= names.size()) {
                    c.kind = Kind::GROUP;
                    c.group = &g;
                    for (std::size_t k = 0; k < count; ++k) {
                        c.out.push_back(column(unique(trim(names[i + k]))));
                    }
                    i += count - 1;
                    break;
                }
            }
            if (c.kind != Kind::GROUP) {
                if (n == "SampNum") {
                    c.kind = Kind::SAMPLE_NUM;
                } else if (n == "MM/DD/YYYY HH:MM:SS") {
                    c.kind = Kind::DATE_TIME;
                    n = "Time";
                } else if (n == "Epoch millisec") {
                    c.kind = Kind::EPOCH_MS;
                    n = "Time";
                } else if (n == "Pump") {
                    c.kind = Kind::TEXT;
                }
                c.out.push_back(column(unique(n)));
            }
            cols.push_back(c);
        }
        have_header = true;
    }

    // A record's fields into a row; false (and *why) when the line is not
    // a record of the current header.
    bool record(const std::vector<std::string>& f, std::vector<Cell>* row, double* time, std::string* why,
                std::size_t* not_numbers)
    {
        *not_numbers = 0;
        row->assign(t.columns.size(), Cell{});
        *time = NAN;
        std::size_t i = 0;
        for (const Column& c : cols) {
            if (i >= f.size()) {
                *why = "fewer fields than the header names";
                return false;
            }
            std::string v = trim(f[i]);
            switch (c.kind) {
            case Kind::SAMPLE_NUM:
                if (v.size() < 2 || v[0] != '#' || !all_digits(v.substr(1))) {
                    *why = "no sample number";
                    return false;
                }
                (*row)[c.out[0]] = number(std::to_string(std::strtoull(v.c_str() + 1, nullptr, 10)));
                ++i;
                break;
            case Kind::DATE_TIME: {
                long long s;
                if (!parse_date_time(v, &s)) {
                    *why = "no date and time";
                    return false;
                }
                (*row)[c.out[0]] = Cell{Cell::TEXT, iso8601((s - offset_s) * 1000, offset_s, false)};
                *time = static_cast<double>(s - offset_s);
                ++i;
                break;
            }
            case Kind::EPOCH_MS:
                if (!all_digits(v) || v.size() > 15) {
                    *why = "no epoch time stamp";
                    return false;
                }
                {
                    long long ms = std::strtoll(v.c_str(), nullptr, 10);
                    (*row)[c.out[0]] = Cell{Cell::TEXT, iso8601(ms, 0, true)};
                    *time = static_cast<double>(ms) / 1000.0;
                }
                ++i;
                break;
            case Kind::NUMBER:
                if (is_not_a_number(v)) {
                    // No value (the external pH without a salinity): the
                    // record stays, this cell is empty.
                    ++*not_numbers;
                    ++i;
                    break;
                }
                if (!is_number(v)) {
                    *why = "\"" + v + "\" is not a number (column " + t.columns[c.out[0]] + ")";
                    return false;
                }
                (*row)[c.out[0]] = number(v);
                ++i;
                break;
            case Kind::TEXT:
                (*row)[c.out[0]] = text_or_number(v);
                ++i;
                // The pump text ends in a tab of its own: an empty field follows.
                if (i < f.size() && trim(f[i]).empty()) {
                    ++i;
                }
                break;
            case Kind::GROUP:
                i = group(c, f, i, row);
                break;
            }
        }
        // What is left: the sample time of the timing trace "(N msec)",
        // empty fields; anything else means the line is not this header's.
        for (; i < f.size(); ++i) {
            std::string v = trim(f[i]);
            unsigned ms;
            char close[8];
            if (v.empty()) {
                continue;
            }
            if (std::sscanf(v.c_str(), "(%u msec%7s", &ms, close) == 2 && std::string(close) == ")") {
                if (extra_col == SIZE_MAX) {
                    extra_col = column("Sample time (ms)");
                    row->resize(t.columns.size());
                }
                (*row)[extra_col] = number(std::to_string(ms));
                continue;
            }
            *why = "more fields than the header names";
            return false;
        }
        return true;
    }

    // An instrument's reply: split into its sub-columns when it has one
    // value per sub-column, otherwise (an error text) kept whole in the
    // first.  Returns the index of the next field.
    std::size_t group(const Column& c, const std::vector<std::string>& f, std::size_t i,
                      std::vector<Cell>* row)
    {
        const Group& g = *c.group;
        const std::size_t count = c.out.size();
        auto value = [&f](std::size_t k) { return k < f.size() && looks_like_value(trim(f[k])); };
        std::size_t take = 0;
        bool no_pressure = false;
        if (std::string(g.first) == "TC_MCat") {
            // The MicroCat sends temperature, conductivity, [pressure,]
            // salinity, date ("15 Jan 2026") and time: the date's place
            // tells whether a pressure sensor is fitted.
            if (value(i) && value(i + 1) && value(i + 2) && is_date(f, i + 3) && value(i + 4)) {
                take = 5;
                no_pressure = count == 6;
            } else if (count == 6 && value(i) && value(i + 1) && value(i + 2) && value(i + 3) &&
                       is_date(f, i + 4) && value(i + 5)) {
                take = 6;
            }
        } else {
            take = count;
            for (std::size_t k = 0; k < count; ++k) {
                if (!value(i + k)) {
                    take = 0;
                }
            }
        }
        if (take == 0) {
            // An error text (or a reply of another shape) stays whole in
            // the first sub-column; later firmware fills the instrument's
            // other columns with empty fields.
            (*row)[c.out[0]] = text_or_number(trim(f[i]));
            std::size_t next = i + 1;
            for (std::size_t k = 1; k < count && next < f.size() && trim(f[next]).empty(); ++k) {
                ++next;
            }
            return next;
        }
        for (std::size_t k = 0, src = i; k < count; ++k) {
            if (no_pressure && k == 2) {
                continue;
            }
            (*row)[c.out[k]] = text_or_number(trim(f[src++]));
        }
        std::size_t next = i + take;
        // A reply that ends in a tab of its own leaves an empty field.
        if (next < f.size() && trim(f[next]).empty()) {
            ++next;
        }
        return next;
    }
};

bool looks_like_header(const std::string& line)
{
    std::string first = trim(split(line, '\t')[0]);
    return !first.empty() && ((first[0] >= 'A' && first[0] <= 'Z') || (first[0] >= 'a' && first[0] <= 'z')) &&
           line.find('\t') != std::string::npos;
}

std::string csv_field(const Cell& c)
{
    if (c.kind != Cell::TEXT) {
        return c.value;
    }
    std::string q = "\"";
    for (char ch : c.value) {
        q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    }
    return q + "\"";
}

} // namespace

std::string iso8601(long long unix_ms, int offset_s, bool with_ms)
{
    long long local_ms = unix_ms + static_cast<long long>(offset_s) * 1000;
    long long secs = local_ms >= 0 ? local_ms / 1000 : (local_ms - 999) / 1000;
    int ms = static_cast<int>(local_ms - secs * 1000);
    std::time_t tt = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char b[64];
    std::strftime(b, sizeof b, "%Y-%m-%dT%H:%M:%S", &tm);
    std::string s = b;
    if (with_ms) {
        std::snprintf(b, sizeof b, ".%03d", ms);
        s += b;
    }
    if (offset_s == 0) {
        return s + "Z";
    }
    int a = offset_s < 0 ? -offset_s : offset_s;
    std::snprintf(b, sizeof b, "%c%02d:%02d", offset_s < 0 ? '-' : '+', a / 3600, (a % 3600) / 60);
    return s + b;
}

std::string metadata_value(const std::vector<std::string>& metadata, const std::string& key)
{
    for (const std::string& m : metadata) {
        if (m.rfind(key, 0) == 0) {
            return trim(m.substr(key.size()));
        }
    }
    return "";
}

Table parse_data_files(const std::vector<InputFile>& files, const std::string& header_text)
{
    Parser p;
    struct Line {
        std::string text;
        std::string where;
    };
    std::vector<Line> lines;
    auto add_lines = [&lines](const std::string& text, const std::string& name) {
        std::vector<std::string> v = split(text, '\n');
        if (!v.empty() && v.back().empty()) {
            v.pop_back();
        }
        for (std::size_t n = 0; n < v.size(); ++n) {
            lines.push_back({v[n], name + "line " + std::to_string(n + 1) + ": "});
        }
    };
    add_lines(header_text, "header file ");
    for (const InputFile& f : files) {
        add_lines(f.text, f.name.empty() ? "" : f.name + ": ");
    }
    // Deployments: the metadata block being read, and what is known of each.
    std::vector<std::string> block;
    bool in_block = false;
    std::vector<std::string> deploy_time{""};
    p.t.deployment_metadata.emplace_back();
    std::vector<std::size_t> dep_rows{0};
    auto end_block = [&]() {
        in_block = false;
        const std::string when = metadata_value(block, "Deploy time:");
        const std::size_t cur = deploy_time.size() - 1;
        if (!p.t.deployment_metadata[cur].empty() && deploy_time[cur] == when) {
            block.clear(); // the same deployment's block again
            return;
        }
        if (!p.t.deployment_metadata[cur].empty() || dep_rows[cur] > 0) {
            deploy_time.push_back(when);
            p.t.deployment_metadata.emplace_back();
            dep_rows.push_back(0);
        }
        deploy_time.back() = when;
        for (const std::string& m : block) {
            p.t.metadata.push_back(m);
            p.t.deployment_metadata.back().push_back(m);
            if (m.rfind("Time zone:", 0) == 0) {
                p.offset_s = trim(m.substr(10)) == "GMT" ? 0 : LOCAL_OFFSET_S;
            }
        }
        block.clear();
    };
    std::set<std::string> seen; // deployment, sample number and time of every record kept
    auto keep = [&](std::vector<Cell>& row, double time, std::size_t not_numbers) {
        const std::size_t dep = deploy_time.size() - 1;
        auto num = p.index.find("SampNum");
        auto when = p.index.find("Time");
        if (num != p.index.end() && row[num->second].kind == Cell::NUMBER) {
            std::string key =
                std::to_string(dep) + "|" + row[num->second].value + "|" +
                (when != p.index.end() && when->second < row.size() ? row[when->second].value : "");
            if (!seen.insert(key).second) {
                ++p.t.duplicates;
                return;
            }
        }
        p.t.not_numbers += not_numbers;
        p.t.rows.push_back(row);
        p.t.times.push_back(time);
        p.t.deployment.push_back(dep);
        ++dep_rows[dep];
    };
    for (const Line& l : lines) {
        std::string line = l.text;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string& where = l.where;
        if (trim(line).empty()) {
            continue;
        }
        if (line.rfind("//", 0) == 0) {
            std::string m = line.substr(2);
            if (!m.empty() && m[0] == ' ') {
                m.erase(0, 1);
            }
            if (m.rfind("++", 0) == 0 && in_block) {
                end_block(); // a block without its end line
            }
            if (m.rfind("++", 0) == 0) {
                in_block = true;
            }
            if (!in_block) {
                // A metadata line outside a block belongs to the deployment
                // being read.
                p.t.metadata.push_back(m);
                p.t.deployment_metadata.back().push_back(m);
                continue;
            }
            block.push_back(m);
            if (m.rfind("--", 0) == 0) {
                end_block();
            }
            continue;
        }
        if (in_block) {
            end_block();
        }
        if (looks_like_header(line)) {
            p.header(split(line, '\t'));
            continue;
        }
        if (!p.have_header) {
            p.t.problems.push_back(where + "a line before any column header, skipped");
            continue;
        }
        std::vector<Cell> row;
        double time;
        std::string why;
        std::size_t nn = 0;
        if (p.record(split(line, '\t'), &row, &time, &why, &nn)) {
            keep(row, time, nn);
            continue;
        }
        // A record cut short by a power cut runs into the next one on the
        // same line: keep the complete record that follows, report the rest.
        std::size_t at = line.find('#', 1);
        while (at != std::string::npos) {
            std::string why2;
            if (p.record(split(line.substr(at), '\t'), &row, &time, &why2, &nn)) {
                break;
            }
            at = line.find('#', at + 1);
        }
        if (at != std::string::npos) {
            p.t.problems.push_back(where + "a partial record (" + std::to_string(at) +
                                   " bytes) before a complete one, skipped; the complete record is kept");
            keep(row, time, nn);
        } else {
            p.t.problems.push_back(where + "not a record (" + why + "), skipped");
        }
    }
    if (in_block) {
        end_block();
    }
    for (auto& row : p.t.rows) {
        row.resize(p.t.columns.size());
    }
    return p.t;
}

Table parse_data_file(const std::string& text, const std::string& header_text)
{
    return parse_data_files({{"", text}}, header_text);
}

std::string to_csv(const Table& t)
{
    std::string out;
    for (const std::string& m : t.metadata) {
        out += "# " + m + "\n";
    }
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        out += (i != 0 ? "," : "") + csv_field(Cell{Cell::TEXT, t.columns[i]});
    }
    out += "\n";
    for (const auto& row : t.rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            out += (i != 0 ? "," : "") + csv_field(row[i]);
        }
        out += "\n";
    }
    return out;
}

} // namespace varvehost
