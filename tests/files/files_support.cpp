#include "tests/files/files_support.h"

#include "tests/card/card_support.h"
#include "tests/support/harness.h"

#include <sys/stat.h>
#include <unistd.h>

namespace filestest {

std::string q(const std::string& s)
{
    return "'" + s + "'";
}

std::string new_board(const std::string& name, bool small_card)
{
    std::string dir = cardtest::board_dir(name);
    mkdir(dir.c_str(), 0755);
    // A small card: the first free-space count reads the whole FAT.
    cardtest::card("--board " + q(dir) + (small_card ? " format --size 40" : " ls"));
    return dir;
}

std::string new_host_dir(const std::string& name)
{
    std::string dir = cardtest::board_dir(name + "-host");
    mkdir(dir.c_str(), 0755);
    return dir;
}

std::vector<uint8_t> pattern(std::size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        // 37 is odd: i * 37 runs through every value mod 256.
        bytes[i] = static_cast<uint8_t>(i * 37 + size);
    }
    return bytes;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    test::write_file(path, bytes);
}

std::vector<uint8_t> read_bytes(const std::string& path)
{
    return test::read_file(path);
}

bool file_exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void put_on_card(const std::string& board, const std::string& host_path, const std::string& name)
{
    cardtest::Cmd r = cardtest::card("--board " + q(board) + " put " + q(host_path) + " " + q(name));
    if (r.rc != 0) {
        std::fprintf(stderr, "card put %s failed: %s\n", name.c_str(), r.out.c_str());
    }
}

std::vector<uint8_t> card_file(const std::string& board, const std::string& name, bool* found)
{
    std::string dest = board + ".got";
    unlink(dest.c_str());
    cardtest::Cmd r = cardtest::card("--board " + q(board) + " get " + q(name) + " " + q(dest));
    *found = r.rc == 0;
    std::vector<uint8_t> bytes = *found ? read_bytes(dest) : std::vector<uint8_t>{};
    unlink(dest.c_str());
    return bytes;
}

std::string card_ls(const std::string& board, const std::string& dir)
{
    return cardtest::card("--board " + q(board) + " ls " + (dir.empty() ? "" : q(dir))).out;
}

bool card_fsck_clean(const std::string& board, std::string* report)
{
    cardtest::Cmd r = cardtest::card("--board " + q(board) + " fsck");
    *report = r.out;
    return r.rc == 0;
}

ShellSession::ShellSession(const std::string& board, std::vector<std::string> options, int pace)
    : sim(board, [&] {
          std::vector<std::string> o = {"--card-size",         "40",     "--start",
                                        "2026-03-04 05:06:07", "--pace", std::to_string(pace)};
          o.insert(o.end(), options.begin(), options.end());
          return o;
      }())
{
    if (sim.ok() && sim.expect("Enter Selection: ", 60)) {
        sim.send("5\r");
        in_shell = sim.expect("/> ", 30);
    }
}

bool ShellSession::command(const std::string& line, double seconds)
{
    sim.send(line + "\r");
    return sim.expect("> ", seconds);
}

} // namespace filestest
