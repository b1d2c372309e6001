// Parser of the simulator's timed input scripts.
#include "sim/run/input_script.h"

#include "board/rtc_calendar.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

bool parse_delay(const std::string& tok, Time* out)
{
    std::size_t i = 0;
    while (i < tok.size() && (std::isdigit(static_cast<unsigned char>(tok[i])) || tok[i] == '.')) {
        ++i;
    }
    if (i == 0) {
        return false;
    }
    std::string num = tok.substr(0, i);
    std::string unit = tok.substr(i);
    char* end = nullptr;
    double v = std::strtod(num.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(v) || v < 0) {
        return false;
    }
    double scale;
    if (unit.empty() || unit == "s") {
        scale = 1.0;
    } else if (unit == "ms") {
        scale = 1e-3;
    } else if (unit == "m") {
        scale = 60.0;
    } else if (unit == "h") {
        scale = 3600.0;
    } else {
        return false;
    }
    double ns = v * scale * static_cast<double>(NS_PER_S);
    if (ns > 1e18) {
        return false;
    }
    *out = static_cast<Time>(std::llround(ns));
    return true;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(const std::string& in, std::string* out)
{
    out->clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c != '\\') {
            out->push_back(c);
            continue;
        }
        if (++i >= in.size()) {
            return false;
        }
        switch (in[i]) {
        case 'r':
            out->push_back('\r');
            break;
        case 'n':
            out->push_back('\n');
            break;
        case 't':
            out->push_back('\t');
            break;
        case '\\':
            out->push_back('\\');
            break;
        case 'x': {
            int hi = i + 1 < in.size() ? hex_digit(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? hex_digit(in[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                return false;
            }
            out->push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

} // namespace

Status parse_script(const std::string& text, Script* out)
{
    out->entries.clear();
    std::istringstream in(text);
    std::string line;
    Time t = 0;
    int line_no = 0;
    while (std::getline(in, line)) {
        ++line_no;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        std::size_t sp = line.find(' ', first);
        std::string delay_tok = line.substr(first, sp == std::string::npos ? std::string::npos : sp - first);
        std::string body = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        Time delay = 0;
        if (!parse_delay(delay_tok, &delay)) {
            return Status::failure("input script line " + std::to_string(line_no) + ": bad delay \"" +
                                   delay_tok + "\" (seconds, decimals allowed, optional unit ms, s, m or h)");
        }
        t += delay;
        ScriptEntry e;
        e.at = t;
        if (!body.empty() && body[0] == '!') {
            std::string ev = body.substr(1);
            while (!ev.empty() && (ev.back() == ' ' || ev.back() == '\t')) {
                ev.pop_back();
            }
            if (ev == "reset") {
                e.kind = ScriptEntry::Kind::Reset;
            } else if (ev == "powercycle") {
                e.kind = ScriptEntry::Kind::PowerCycle;
            } else if (ev == "fault") {
                e.kind = ScriptEntry::Kind::Fault;
            } else {
                return Status::failure("input script line " + std::to_string(line_no) +
                                       ": unknown board event \"!" + ev +
                                       "\" (known: !reset, !powercycle, !fault)");
            }
        } else if (!unescape(body, &e.text)) {
            return Status::failure("input script line " + std::to_string(line_no) +
                                   ": bad escape (known: \\r \\n \\t \\\\ \\xHH)");
        }
        out->entries.push_back(std::move(e));
    }
    return {};
}

Status load_script_file(const std::string& path, Script* out)
{
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        return Status::failure("cannot read input script " + path);
    }
    std::stringstream ss;
    ss << f.rdbuf();
    return parse_script(ss.str(), out);
}

Status rtc_from_text(const std::string& text, uint32_t* rtc)
{
    struct tm t {};
    if (text.empty()) {
        // The host's clock, read as UTC fields, taken as the console's local time.
        std::time_t now = std::time(nullptr);
        struct tm utc;
        gmtime_r(&now, &utc);
        t = utc;
    } else {
        int y, mo, d, h, mi, s;
        char tail;
        if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &tail) != 6 ||
            y < 1901 || y > 2035 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
            mi > 59 || s < 0 || s > 59) {
            return Status::failure("--start wants \"YYYY-MM-DD HH:MM:SS\" between 1901 and 2035, got \"" +
                                   text + "\"");
        }
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
    }
    t.tm_isdst = 0;
    *rtc = rtc_mktime(&t);
    return {};
}

} // namespace sim
