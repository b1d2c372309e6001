#include "tests/support/harness.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace test {

namespace {

const char ROOT_PREFIX[] = "varve-test-";

std::string temp_base()
{
    const char* base = std::getenv("TMPDIR");
    return base != nullptr && base[0] != '\0' ? base : "/tmp";
}

void remove_tree(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// The test process's folder, created on first use and removed when the
// process ends (only by the process that created it: forked boots leave
// through _exit and never get here).
std::string g_root;
pid_t g_root_owner = 0;

void remove_root()
{
    if (!g_root.empty() && getpid() == g_root_owner) {
        remove_tree(g_root);
    }
}

// Folders left by test processes that did not end normally (killed at a
// time limit, crashed): removed when their process no longer exists, so
// repeated runs do not fill the disk.
void remove_orphans(const std::string& base)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(ROOT_PREFIX, 0) != 0) {
            continue;
        }
        std::string digits = name.substr(sizeof ROOT_PREFIX - 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            digits.size() > 9) {
            continue;
        }
        pid_t pid = static_cast<pid_t>(std::stol(digits));
        struct stat st;
        if (lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
            continue;
        }
        if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) {
            remove_tree(entry.path().string());
        }
    }
}

const std::string& test_root()
{
    if (g_root.empty()) {
        std::string base = temp_base();
        remove_orphans(base);
        g_root = base + "/" + ROOT_PREFIX + std::to_string(getpid());
        g_root_owner = getpid();
        mkdir(g_root.c_str(), 0755);
        std::atexit(remove_root);
    }
    return g_root;
}

} // namespace

std::string fresh_board_dir(const std::string& name)
{
    std::string dir = test_root() + "/" + name;
    remove_tree(dir);
    remove_tree(dir + ".transcript");
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
    // One sized read: card images are tens of MiB, and a byte-wise copy of
    // one takes minutes in the sanitizer build.
    std::ifstream f(path, std::ios::binary | std::ios::ate);
    if (!f) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(f.tellg()));
    f.seekg(0);
    f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(f.gcount()));
    return bytes;
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
