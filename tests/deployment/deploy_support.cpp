#include "tests/deployment/deploy_support.h"

#include "records/system.h"

#include <cstdio>
#include <cstring>

namespace deploytest {

namespace {

systemData image_config(const uint8_t* eeprom)
{
    systemData d{};
    auto* bytes = reinterpret_cast<uint8_t*>(&d);
    std::memcpy(bytes, eeprom + SYS_DATA_EEPROM_ADDR, SYS_DATA_HEAD_BYTES);
    std::memcpy(bytes + SYS_DATA_HEAD_BYTES, eeprom + SYS_DATA_TAIL_EEPROM_ADDR, SYS_DATA_TAIL_BYTES);
    return d;
}

void store_image_config(uint8_t* eeprom, const systemData& d)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&d);
    std::memcpy(eeprom + SYS_DATA_EEPROM_ADDR, bytes, SYS_DATA_HEAD_BYTES);
    std::memcpy(eeprom + SYS_DATA_TAIL_EEPROM_ADDR, bytes + SYS_DATA_HEAD_BYTES, SYS_DATA_TAIL_BYTES);
}

} // namespace

sim::RunOptions board(const std::string& name, ConfigFn config)
{
    sim::RunOptions o;
    o.board_dir = test::fresh_board_dir(name);
    if (config) {
        o.boot_hook = [config](int boot) {
            if (boot != 1) {
                return;
            }
            systemData d = image_config(sim::eeprom_image());
            config(d);
            store_image_config(sim::eeprom_image(), d);
        };
    }
    return o;
}

systemData stored_config(const std::string& dir)
{
    auto eeprom = test::read_file(dir + "/eeprom.bin");
    return image_config(eeprom.data());
}

systemSamplingData stored_progress(const std::string& dir)
{
    auto fram = test::read_file(dir + "/fram.bin");
    systemSamplingData s{};
    std::memcpy(&s, fram.data() + 64, sizeof s);
    return s;
}

int command_output(const std::string& cmd, std::string* out)
{
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return -1;
    }
    out->clear();
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out->append(buf, n);
    }
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int card_cmd(const std::string& dir, const std::string& args, std::string* out)
{
    return command_output(std::string(VARVE_SIM_BIN) + " card --board '" + dir + "' " + args + " 2>&1", out);
}

std::string card_file(const std::string& dir, const std::string& name)
{
    std::string out;
    return card_cmd(dir, "get " + name + " -", &out) == 0 ? out : std::string();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> v;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            v.push_back(text.substr(pos));
            break;
        }
        v.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return v;
}

std::vector<std::string> fields(const std::string& line)
{
    std::string body = line;
    while (!body.empty() && (body.back() == '\r' || body.back() == '\n')) {
        body.pop_back();
    }
    std::vector<std::string> v;
    std::size_t pos = 0;
    for (;;) {
        std::size_t tab = body.find('\t', pos);
        v.push_back(body.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
        if (tab == std::string::npos) {
            break;
        }
        pos = tab + 1;
    }
    return v;
}

std::vector<std::string> records(const std::string& text)
{
    std::vector<std::string> v;
    for (const std::string& l : lines(text)) {
        std::size_t hash = l.find('#');
        if (hash != std::string::npos && l.size() > hash + 8 && l[hash + 1] >= '0' && l[hash + 1] <= '9') {
            v.push_back(l.substr(hash));
        }
    }
    return v;
}

std::string keys(double delay_s, const std::string& text)
{
    char d[32];
    std::snprintf(d, sizeof d, "%g", delay_s);
    return std::string(d) + " " + text + "\n";
}

} // namespace deploytest
