#include "tests/support/harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

std::string fresh_board_dir(const std::string& name)
{
    const char* base = std::getenv("TMPDIR");
    std::string root =
        std::string(base != nullptr ? base : "/tmp") + "/varve-test-" + std::to_string(getpid());
    mkdir(root.c_str(), 0755);
    std::string dir = root + "/" + name;
    std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) {
        return dir;
    }
    return dir;
}

Run run_script(sim::RunOptions opts, const std::string& script, double until_s)
{
    if (opts.start.empty()) {
        opts.start = "2026-01-15 12:00:00";
    }
    opts.console = sim::ConsoleMode::None;
    opts.pace = false;
    opts.input_text = script;
    opts.input_file.clear();
    opts.until_s = until_s;
    std::string transcript = opts.board_dir + ".transcript";
    opts.transcript_file = transcript;
    Run r;
    r.status = sim::run_board(opts);
    auto bytes = read_file(transcript);
    r.transcript.assign(bytes.begin(), bytes.end());
    return r;
}

std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int count(const std::string& hay, const std::string& needle)
{
    int n = 0;
    for (std::size_t pos = hay.find(needle); pos != std::string::npos;
         pos = hay.find(needle, pos + needle.size())) {
        ++n;
    }
    return n;
}

} // namespace test
