// varve-sim board: the board tool.  The records are read and stored by the
// firmware's own code (records/system.h) on the board's chip, brought up
// in this process; fields are found by name in the records' field tables
// (records/record_fields.h).
#include "sim/tools/board_tool.h"

#include "platform/platform.h"
#include "records/i2c_fram.h"
#include "records/record_fields.h"
#include "records/system.h"
#include "sim/run/bench.h"
#include "sim/run/input_script.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace sim {

const char* const BOARD_USAGE =
    "Usage: varve-sim board [--board DIR] [--start \"YYYY-MM-DD HH:MM:SS\"] COMMAND [ARGS]\n"
    "\n"
    "Shows and changes the stored records of a simulated board: the\n"
    "configuration record (sys_data, in EEPROM) and the progress record\n"
    "(sys_samp, in FRAM).  Both are read and stored by the firmware's own code.\n"
    "\n"
    "  --board DIR     the simulated board in DIR (default ./varve-board)\n"
    "  --start \"YYYY-MM-DD HH:MM:SS\"\n"
    "                  console time of a board that set creates (default: the\n"
    "                  host's clock)\n"
    "\n"
    "Commands:\n"
    "  show [NAME ...]        every field of both records, or the named ones,\n"
    "                         as NAME = VALUE\n"
    "  set NAME=VALUE ...     change fields; every assignment is checked before\n"
    "                         anything is stored, and one bad one changes nothing\n"
    "\n"
    "Names: a configuration field as the record names it (sampling_period,\n"
    "fileName, qa.tester; sys_data.NAME also works), a progress field as\n"
    "sys_samp.NAME; one element of an array as NAME[INDEX], INDEX a number or\n"
    "the element's name (data_cfg[CFG_CTD], app_cfg[APPCFG_MICROSD_ENABLE],\n"
    "pump_spare[3]).\n"
    "Values: whole numbers within the field's width (decimal or 0x hex);\n"
    "decimal numbers for float and double fields; sys_samp.state and output by\n"
    "name or number (sys_samp.state=DEPLOYED, output=VERBOSE); texts as given,\n"
    "printable ASCII, at most the field's size less one (the terminator).\n"
    "\n"
    "set on a board folder that does not exist creates the board as varve-sim\n"
    "does (provisioned as after board QA) and then changes it; show refuses it.\n"
    "\n"
    "Exit status: 0 success, 1 failure (message on standard error), 2 usage.\n";

namespace {

constexpr const char* PREFIX = "varve-sim board";

int fail(const std::string& msg)
{
    std::fprintf(stderr, "%s: %s\n", PREFIX, msg.c_str());
    return 1;
}

int usage(const std::string& msg)
{
    std::fprintf(stderr, "%s: %s\n(see varve-sim board --help)\n", PREFIX, msg.c_str());
    return 2;
}

unsigned char* record_bytes(const RecordLayout& layout)
{
    return &layout == &SYS_SAMP_LAYOUT ? reinterpret_cast<unsigned char*>(&sys_samp)
                                       : reinterpret_cast<unsigned char*>(&sys_data);
}

// The name of a field (one element of it when `index` >= 0) as show prints
// it and set takes it.
std::string field_name(const RecordLayout& layout, const RecordField& f, int index)
{
    std::string name = &layout == &SYS_SAMP_LAYOUT ? std::string("sys_samp.") + f.name : f.name;
    if (index >= 0) {
        name += "[";
        name += index < f.index_name_count ? f.index_names[index] : std::to_string(index);
        name += "]";
    }
    return name;
}

std::string quoted_text(const unsigned char* p, std::size_t size)
{
    std::string out = "\"";
    std::size_t n = 0;
    for (; n < size && p[n] != 0; ++n) {
        const unsigned char c = p[n];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    out += "\"";
    if (n == size) {
        out += " (not terminated within its " + std::to_string(size) + " bytes)";
    }
    return out;
}

std::string enum_text(long long v, const char* const* names, std::size_t count)
{
    std::string out = std::to_string(v);
    if (v >= 0 && static_cast<std::size_t>(v) < count && names[v] != nullptr) {
        out += std::string(" (") + names[v] + ")";
    }
    return out;
}

std::string element_text(const RecordField& f, const unsigned char* p)
{
    char buf[64];
    switch (f.kind) {
    case FieldKind::U8:
        return std::to_string(p[0]);
    case FieldKind::OutputMode:
        return enum_text(p[0], OUTPUT_MODE_NAMES, OUTPUT_MODE_VALUES);
    case FieldKind::U32: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return std::to_string(v);
    }
    case FieldKind::I32: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return std::to_string(v);
    }
    case FieldKind::DeployState: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return enum_text(v, DEPLOY_STATE_NAMES, DEPLOY_STATE_VALUES);
    }
    case FieldKind::F32: {
        float v;
        std::memcpy(&v, p, 4);
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
        return buf;
    }
    case FieldKind::F64: {
        double v;
        std::memcpy(&v, p, 8);
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return buf;
    }
    case FieldKind::Text:
        return quoted_text(p, f.elem_size);
    }
    return "?";
}

void print_field(const RecordLayout& layout, const RecordField& f, int only_index)
{
    const unsigned char* base = record_bytes(layout) + f.offset;
    if (f.count == 1) {
        std::printf("  %s = %s\n", field_name(layout, f, -1).c_str(), element_text(f, base).c_str());
        return;
    }
    for (int i = 0; i < f.count; ++i) {
        if (only_index < 0 || only_index == i) {
            std::printf("  %s = %s\n", field_name(layout, f, i).c_str(),
                        element_text(f, base + static_cast<std::size_t>(i) * f.elem_size).c_str());
        }
    }
}

void print_heading(const RecordLayout& layout)
{
    if (&layout == &SYS_SAMP_LAYOUT) {
        std::printf("sys_samp (progress record, FRAM bytes %d..%d):\n", FRAM_SYS_SAMP_OFFSET,
                    FRAM_SYS_SAMP_OFFSET + layout.size - 1);
    } else {
        std::printf("sys_data (configuration record, EEPROM, %u bytes):\n", layout.size);
    }
}

// One NAME or NAME[INDEX] resolved to its field.
struct Target {
    const RecordLayout* layout = nullptr;
    const RecordField* field = nullptr;
    int index = -1; // -1: the whole field
};

// Resolves `name`; fails with the reason it names no field.
Status resolve(const std::string& name, bool whole_array_ok, Target* t)
{
    std::string rest = name;
    t->layout = &SYS_DATA_LAYOUT;
    if (rest.rfind("sys_samp.", 0) == 0) {
        t->layout = &SYS_SAMP_LAYOUT;
        rest = rest.substr(9);
    } else if (rest.rfind("sys_data.", 0) == 0) {
        rest = rest.substr(9);
    }
    std::string index_text;
    bool indexed = false;
    const std::size_t open = rest.find('[');
    if (open != std::string::npos) {
        if (rest.back() != ']' || rest.size() < open + 3) {
            return Status::failure("\"" + name + "\": an index is written NAME[INDEX]");
        }
        index_text = rest.substr(open + 1, rest.size() - open - 2);
        rest = rest.substr(0, open);
        indexed = true;
    }
    t->field = record_field_find(*t->layout, rest.c_str(), rest.size());
    if (t->field == nullptr) {
        std::string msg = "unknown field \"" + name + "\"";
        if (t->layout == &SYS_DATA_LAYOUT && record_field_find(SYS_SAMP_LAYOUT, rest.c_str(), rest.size())) {
            msg += " (the progress record's field is sys_samp." + rest + ")";
        }
        return Status::failure(msg);
    }
    const RecordField& f = *t->field;
    if (!indexed) {
        if (f.count > 1 && !whole_array_ok) {
            return Status::failure("\"" + name + "\" is an array of " + std::to_string(f.count) +
                                   ": name one element, " + name + "[INDEX]");
        }
        return {};
    }
    if (f.count == 1) {
        return Status::failure("\"" + rest + "\" is not an array: no index");
    }
    int idx = record_field_index(f, index_text.c_str(), index_text.size());
    if (idx < 0) {
        if (index_text.find_first_not_of("0123456789") != std::string::npos || index_text.size() > 5) {
            return Status::failure("\"" + name + "\": unknown index \"" + index_text + "\"");
        }
        idx = std::atoi(index_text.c_str());
        if (idx >= f.count) {
            return Status::failure("\"" + name + "\": index " + index_text + " is out of range (0.." +
                                   std::to_string(f.count - 1) + ")");
        }
    }
    t->index = idx;
    return {};
}

bool whole(const std::string& text, unsigned long long max, unsigned long long* v)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    *v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end != text.c_str() && *end == '\0' && *v <= max;
}

bool enum_value(const std::string& text, const char* const* names, std::size_t count, unsigned long long* v)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (names[i] != nullptr && text == names[i]) {
            *v = i;
            return true;
        }
    }
    return whole(text, count - 1, v) && names[*v] != nullptr;
}

// One checked assignment: the bytes to put at `offset` of the record.
struct Assignment {
    std::string name;
    const RecordLayout* layout;
    const RecordField* field;
    std::size_t offset;
    std::vector<unsigned char> bytes;
};

// Checks NAME=VALUE; fails with the reason it is refused.
Status check_assignment(const std::string& arg, Assignment* a)
{
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
        return Status::failure("\"" + arg + "\": write NAME=VALUE");
    }
    const std::string name = arg.substr(0, eq);
    const std::string value = arg.substr(eq + 1);
    Target t;
    if (Status st = resolve(name, false, &t); !st.ok()) {
        return st;
    }
    const RecordField& f = *t.field;
    a->name = field_name(*t.layout, f, t.index);
    a->layout = t.layout;
    a->field = t.field;
    a->offset = f.offset + static_cast<std::size_t>(t.index < 0 ? 0 : t.index) * f.elem_size;
    a->bytes.assign(f.elem_size, 0);
    unsigned char* out = a->bytes.data();
    const std::string refused = a->name + ": \"" + value + "\" is ";
    unsigned long long v = 0;
    switch (f.kind) {
    case FieldKind::U8:
        if (!whole(value, 0xFF, &v)) {
            return Status::failure(refused + "not a whole number from 0 to 255");
        }
        out[0] = static_cast<unsigned char>(v);
        return {};
    case FieldKind::U32: {
        if (!whole(value, 0xFFFFFFFFull, &v)) {
            return Status::failure(refused + "not a whole number from 0 to 4294967295");
        }
        const uint32_t w = static_cast<uint32_t>(v);
        std::memcpy(out, &w, 4);
        return {};
    }
    case FieldKind::I32: {
        char* end = nullptr;
        errno = 0;
        const long long s = std::strtoll(value.c_str(), &end, 10);
        if (value.empty() || errno != 0 || *end != '\0' || s < INT32_MIN || s > INT32_MAX) {
            return Status::failure(refused + "not a whole number from -2147483648 to 2147483647");
        }
        const int32_t w = static_cast<int32_t>(s);
        std::memcpy(out, &w, 4);
        return {};
    }
    case FieldKind::DeployState: {
        if (!enum_value(value, DEPLOY_STATE_NAMES, DEPLOY_STATE_VALUES, &v)) {
            return Status::failure(refused + "not a state: IDLE (0), START (1), DEPLOYED (2) or COMMAND (3)");
        }
        const int32_t w = static_cast<int32_t>(v);
        std::memcpy(out, &w, 4);
        return {};
    }
    case FieldKind::OutputMode:
        if (!enum_value(value, OUTPUT_MODE_NAMES, OUTPUT_MODE_VALUES, &v)) {
            return Status::failure(refused + "not an output mode: NORMAL (1) or VERBOSE (2)");
        }
        out[0] = static_cast<unsigned char>(v);
        return {};
    case FieldKind::F32:
    case FieldKind::F64: {
        char* end = nullptr;
        errno = 0;
        const double d = std::strtod(value.c_str(), &end);
        const bool is_float = f.kind == FieldKind::F32;
        if (value.empty() || end == value.c_str() || *end != '\0' || !std::isfinite(d) ||
            (is_float && std::fabs(d) > static_cast<double>(FLT_MAX))) {
            return Status::failure(refused + (is_float ? "not a finite number within the range of a float"
                                                       : "not a finite number within the range of a double"));
        }
        if (is_float) {
            const float x = static_cast<float>(d);
            std::memcpy(out, &x, 4);
        } else {
            std::memcpy(out, &d, 8);
        }
        return {};
    }
    case FieldKind::Text:
        if (value.size() > static_cast<std::size_t>(f.elem_size) - 1) {
            return Status::failure(a->name + ": the text has " + std::to_string(value.size()) +
                                   " characters; the field holds " + std::to_string(f.elem_size - 1) +
                                   " and its terminator");
        }
        for (unsigned char c : value) {
            if (c < 0x20 || c >= 0x7F) {
                return Status::failure(a->name + ": the text holds a byte that is not printable ASCII");
            }
        }
        // The whole field is written: nothing of an older, longer text stays
        // behind the terminator.
        std::memcpy(out, value.data(), value.size());
        return {};
    }
    return Status::failure(refused + "not a value of this field");
}

bool board_exists(const std::string& dir)
{
    struct stat st;
    for (const char* name : {"hibernate.txt", "eeprom.bin", "fram.bin"}) {
        if (stat((dir + "/" + name).c_str(), &st) != 0) {
            return false;
        }
    }
    return true;
}

// Brings the board's chip up in this process; what the firmware prints on
// the way goes to standard error.
bool open_chip(const std::string& dir, const std::string& start)
{
    RunOptions opts;
    opts.board_dir = dir;
    opts.start = start;
    opts.console = ConsoleMode::None;
    opts.params["card"] = "none"; // the card is not needed, and a missing image is not made
    if (!bench_begin(opts)) {
        return false;
    }
    SysCtlClockSet(SYSCTL_SYSDIV_4 | SYSCTL_USE_PLL | SYSCTL_OSC_MAIN | SYSCTL_XTAL_16MHZ);
    return true;
}

void relay_firmware_output()
{
    std::string out = bench_console_output();
    bench_clear_output();
    std::string line;
    for (char c : out) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) {
                std::fprintf(stderr, "%s: firmware: %s\n", PREFIX, line.c_str());
            }
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        std::fprintf(stderr, "%s: firmware: %s\n", PREFIX, line.c_str());
    }
}

int cmd_show(const std::string& dir, const std::vector<std::string>& names)
{
    std::vector<Target> targets;
    for (const std::string& n : names) {
        Target t;
        if (Status st = resolve(n, true, &t); !st.ok()) {
            return fail(st.message());
        }
        targets.push_back(t);
    }
    if (!board_exists(dir)) {
        return fail("no simulated board in " + dir);
    }
    if (!open_chip(dir, "")) {
        return fail("cannot open the board in " + dir);
    }
    // Read as stored: no repair of a progress record without its marker, no
    // FRAM probe.
    retrieveSysDataEEPROMVariables();
    i2c0_init(1);
    fram_sys_samp_retrieve();
    relay_firmware_output();
    if (targets.empty()) {
        for (const RecordLayout* layout : {&SYS_DATA_LAYOUT, &SYS_SAMP_LAYOUT}) {
            print_heading(*layout);
            for (uint16_t i = 0; i < layout->field_count; ++i) {
                print_field(*layout, layout->fields[i], -1);
            }
        }
        if (sys_samp.initNum != SYS_SAMP_INIT_NUM) {
            std::printf("(the progress record lacks its validity marker 0x%08X: the firmware initialises it "
                        "at its next start)\n",
                        static_cast<unsigned>(SYS_SAMP_INIT_NUM));
        }
    } else {
        for (const Target& t : targets) {
            print_field(*t.layout, *t.field, t.index);
        }
    }
    bench_end();
    return 0;
}

int cmd_set(const std::string& dir, const std::string& start, const std::vector<std::string>& args)
{
    if (args.empty()) {
        return usage("set needs NAME=VALUE ...");
    }
    std::vector<Assignment> assignments;
    int refused = 0;
    for (const std::string& arg : args) {
        Assignment a;
        if (Status st = check_assignment(arg, &a); !st.ok()) {
            fail(st.message());
            ++refused;
        } else {
            assignments.push_back(a);
        }
    }
    if (refused != 0) {
        return fail("nothing changed");
    }
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        std::fprintf(stderr, "%s: no board in %s: making a new one\n", PREFIX, dir.c_str());
    } else if (!S_ISDIR(st.st_mode)) {
        return fail(dir + " is not a folder");
    }
    if (!open_chip(dir, start)) {
        return fail("cannot open the board in " + dir);
    }
    // As the firmware starts: both records read, a progress record without
    // its marker initialised.
    fram_init();
    retrieveSysDataVariables();
    for (const Assignment& a : assignments) {
        std::memcpy(record_bytes(*a.layout) + a.offset, a.bytes.data(), a.bytes.size());
    }
    const uint32_t status = storeSysDataVariables();
    relay_firmware_output();
    bench_end();
    if (status != 0) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(status));
        return fail(std::string("storing the records failed (EEPROM status ") + text + ")");
    }
    for (const Assignment& a : assignments) {
        std::printf("%s = %s\n", a.name.c_str(),
                    element_text(*a.field, record_bytes(*a.layout) + a.offset).c_str());
    }
    return 0;
}

} // namespace

int board_main(int argc, char** argv)
{
    std::string dir = "varve-board";
    std::string start;
    std::string cmd;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        // Options go anywhere: no field name or assignment starts with "-".
        if (a == "-h" || a == "--help") {
            std::fputs(BOARD_USAGE, stdout);
            return 0;
        }
        if (a == "--board" || a == "--start") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return usage(a + " needs a value");
            }
            (a == "--board" ? dir : start) = argv[++i];
        } else if (a.rfind("-", 0) == 0) {
            return usage("unknown option \"" + a + "\"");
        } else if (cmd.empty()) {
            cmd = a;
        } else {
            args.push_back(a);
        }
    }
    if (cmd == "show") {
        return cmd_show(dir, args);
    }
    if (cmd == "set") {
        uint32_t rtc = 0;
        if (Status st = start.empty() ? Status() : rtc_from_text(start, &rtc); !st.ok()) {
            return usage(st.message());
        }
        return cmd_set(dir, start, args);
    }
    return cmd.empty() ? usage("no command") : usage("unknown command \"" + cmd + "\"");
}

} // namespace sim
