#include "tests/bench/bench_support.h"

#include "tests/support/harness.h"

#include <cstdint>
#include <cstdio>
#include <sstream>

namespace benchtest {

std::vector<std::string> line_levels(const std::string& timeline, const std::string& line)
{
    std::vector<std::string> v;
    std::istringstream in(timeline);
    std::string time, name, level;
    while (in >> time >> name >> level) {
        if (name == line) {
            v.push_back(level);
        }
    }
    return v;
}

std::string mtype_card_file(const std::string& board_dir, const std::string& name)
{
    const std::string image = board_dir + "/card.img";
    std::vector<uint8_t> bytes = test::read_file(image);
    if (bytes.size() < 512) {
        return "";
    }
    // First partition's start sector from the MBR.
    const uint64_t start = static_cast<uint64_t>(bytes[454]) | static_cast<uint64_t>(bytes[455]) << 8 |
                           static_cast<uint64_t>(bytes[456]) << 16 | static_cast<uint64_t>(bytes[457]) << 24;
    const std::string cmd =
        "mtype -i '" + image + "@@" + std::to_string(start * 512) + "' ::/" + name + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return "";
    }
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    return pclose(p) == 0 ? out : "";
}

std::string between(const std::string& text, const std::string& from, const std::string& to)
{
    std::size_t a = text.find(from);
    if (a == std::string::npos) {
        return "";
    }
    a += from.size();
    std::size_t b = text.find(to, a);
    return text.substr(a, b == std::string::npos ? std::string::npos : b - a);
}

} // namespace benchtest

namespace benchtest {

std::string text_file(const std::string& path)
{
    std::vector<uint8_t> b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

} // namespace benchtest
