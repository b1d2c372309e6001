// The file shell as a user sees it: timed keys on the simulated console, a
// card prepared with the card tool (nested folders, attributes set with
// mtools), the transcript compared with what mtools reads from the same card.
#include "tests/card/card_support.h"
#include "tests/files/files_support.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <sstream>

using namespace filestest;

namespace {

const std::string PROMPT_ROOT = "\r\n/> ";

// Keys typed one after another, `gap` seconds apart.
class Keys {
  public:
    explicit Keys(double gap = 1.0) : gap_(gap) {}
    Keys& line(const std::string& text) { return at(gap_, text + "\\r"); }
    Keys& at(double delay, const std::string& text)
    {
        script_ += std::to_string(delay) + " " + text + "\n";
        total_ += delay;
        return *this;
    }
    const std::string& script() const { return script_; }
    double total() const { return total_; }

  private:
    double gap_;
    std::string script_;
    double total_ = 0;
};

// Runs the keys on the board (main menu key 5 first) and returns the
// transcript from the shell's banner on.
std::string run_shell(const std::string& board, Keys keys, double extra_s = 5)
{
    Keys all(1.0);
    all.at(1, "5\\r");
    std::string script = all.script() + keys.script();
    sim::RunOptions o;
    o.board_dir = board;
    test::Run r = test::run_script(o, script, 1 + keys.total() + extra_s);
    EXPECT_EQ(r.status, 0);
    std::size_t at = r.transcript.find("Unix-like command line");
    EXPECT_NE(at, std::string::npos) << r.transcript;
    return at == std::string::npos ? r.transcript : r.transcript.substr(at);
}

// What a command printed: the text between its echoed line and the next
// prompt.
std::string output_of(const std::string& transcript, const std::string& command, std::size_t nth = 0)
{
    std::string echo = command + "\n\r";
    std::size_t at = 0;
    for (std::size_t i = 0;; ++i) {
        at = transcript.find(echo, at);
        if (at == std::string::npos) {
            return "<no echo of " + command + ">";
        }
        if (i == nth) {
            break;
        }
        at += echo.size();
    }
    at += echo.size();
    std::size_t end = transcript.find("> ", at);
    std::size_t line_start = transcript.rfind("\r\n", end);
    return transcript.substr(at,
                             line_start == std::string::npos || line_start < at ? end - at : line_start - at);
}

std::string card_image(const std::string& board)
{
    return board + "/card.img";
}

cardtest::Cmd mtools(const std::string& cmd)
{
    return cardtest::sh(cmd);
}

void card_mkdir(const std::string& board, const std::string& dir)
{
    cardtest::Cmd r = cardtest::card("--board " + q(board) + " mkdir " + q(dir));
    ASSERT_EQ(r.rc, 0) << r.out;
}

void card_put_text(const std::string& board, const std::string& name, const std::string& text)
{
    std::string tmp = board + ".put";
    write_bytes(tmp, std::vector<uint8_t>(text.begin(), text.end()));
    put_on_card(board, tmp, name);
}

struct DirEntry {
    std::string name; // NAME.EXT
    bool dir;
    unsigned long size;
    int year, month, day, hour, minute;
};

// mdir -a of a directory of the card: its entries and the free bytes.
std::vector<DirEntry> mdir_entries(const std::string& board, const std::string& dir,
                                   unsigned long long* free_bytes)
{
    cardtest::Cmd r = mtools("mdir -a " + cardtest::mimg(card_image(board)) + " " + q("::" + dir));
    EXPECT_EQ(r.rc, 0) << r.out;
    std::vector<DirEntry> out;
    std::istringstream lines(r.out);
    std::string line;
    const std::regex rest(R"(^\s*(<DIR>|\d+)\s+(\d{4})-(\d\d)-(\d\d)\s+(\d+):(\d\d))");
    while (std::getline(lines, line)) {
        std::smatch m;
        if (line.find("bytes free") != std::string::npos) {
            std::string digits;
            for (char c : line) {
                if (c >= '0' && c <= '9') {
                    digits += c;
                }
            }
            *free_bytes = std::stoull(digits);
            continue;
        }
        if (line.size() < 13) {
            continue;
        }
        std::string tail = line.substr(12);
        if (!std::regex_search(tail, m, rest)) {
            continue;
        }
        auto trim = [](std::string s) {
            while (!s.empty() && s.back() == ' ') {
                s.pop_back();
            }
            return s;
        };
        std::string name = trim(line.substr(0, 8));
        std::string ext = trim(line.substr(9, 3));
        if (name == "." || name == "..") {
            continue;
        }
        DirEntry e;
        e.name = ext.empty() ? name : name + "." + ext;
        e.dir = m[1] == "<DIR>";
        e.size = e.dir ? 0 : std::stoul(m[1]);
        e.year = std::stoi(m[2]);
        e.month = std::stoi(m[3]);
        e.day = std::stoi(m[4]);
        e.hour = std::stoi(m[5]);
        e.minute = std::stoi(m[6]);
        out.push_back(e);
    }
    return out;
}

// The line ls prints for an entry, with the attribute letters given.
std::string ls_line(const DirEntry& e, const std::string& attributes)
{
    char line[128];
    std::snprintf(line, sizeof line, "%s %d/%02d/%02d %02d:%02d %9lu  %s\r\n", attributes.c_str(), e.year,
                  e.month, e.day, e.hour, e.minute, e.size, e.name.c_str());
    return line;
}

// A card with nested folders, a read-only and a hidden file.
std::string prepared_board(const std::string& name)
{
    std::string board = new_board(name);
    card_mkdir(board, "LOGS");
    card_mkdir(board, "LOGS/OLD");
    card_mkdir(board, "EMPTY");
    card_put_text(board, "DATA.TXT", "pH 8.05\r\nT 12.0\r\n");
    card_put_text(board, "LOGS/A.TXT", "first\r\n");
    card_put_text(board, "LOGS/OLD/JAN.TXT", "deep\r\n");
    card_put_text(board, "RO.TXT", "read only\r\n");
    card_put_text(board, "HID.TXT", "hidden\r\n");
    EXPECT_EQ(mtools("mattrib " + cardtest::mimg(card_image(board)) + " +r ::/RO.TXT").rc, 0);
    EXPECT_EQ(mtools("mattrib " + cardtest::mimg(card_image(board)) + " +h ::/HID.TXT").rc, 0);
    return board;
}

} // namespace

TEST(Shell, HelpListsEveryCommand)
{
    std::string board = new_board("help");
    std::string t = run_shell(board, Keys().line("help").line("?").line("h"));
    const std::string help =
        "\r\nAvailable commands\r\n------------------\r\n"
        "help  : Display list of commands\r\nh  : Alias for help\r\n?  : Alias for help\r\n"
        "ls  : Display list of files\r\nmkdir  : Make new directory\r\n"
        "chdir  : Change directory\r\ncd  : Alias for chdir\r\n"
        "pwd  : Display current working directory\r\n"
        "cat  : Display contents of a text file\r\nrm  : Remove a file or directory\r\n"
        "mv  : Rename or move a file or directory\r\nys  : Send file via YMODEM\r\n"
        "yr  : Receive file via YMODEM\r\nexit  : Exit the file viewer\r\n";
    EXPECT_EQ(t.find("Unix-like command line. Type 'help' for list of commands\r\n" + PROMPT_ROOT + "help"),
              0u);
    EXPECT_EQ(output_of(t, "help"), help);
    EXPECT_EQ(output_of(t, "?"), help);
    EXPECT_EQ(output_of(t, "h"), help);
}

TEST(Shell, LsAgreesWithMtools)
{
    std::string board = prepared_board("ls");
    std::string t =
        run_shell(board, Keys(2.0).line("ls").line("cd LOGS").line("ls").line("cd /EMPTY").line("ls"));
    unsigned long long free_bytes = 0;

    // Root: files, folders, attributes, dates and sizes as mtools reads them.
    std::string root = output_of(t, "ls", 0);
    std::vector<DirEntry> entries = mdir_entries(board, "/", &free_bytes);
    ASSERT_EQ(entries.size(), 5u) << root;
    unsigned files = 0;
    unsigned dirs = 0;
    for (const DirEntry& e : entries) {
        std::string attributes = e.dir ? "D---A" : "----A";
        if (e.dir) {
            attributes = "D----";
            ++dirs;
        } else {
            ++files;
        }
        if (e.name == "RO.TXT") {
            attributes = "-R--A";
        } else if (e.name == "HID.TXT") {
            attributes = "--H-A";
        }
        EXPECT_NE(root.find(ls_line(e, attributes)), std::string::npos) << ls_line(e, attributes) << root;
    }
    char counts[64];
    std::snprintf(counts, sizeof counts, "\r\n%4u File(s)\r\n%4u Dir(s)\r\n%10lluK bytes free\r\n", files,
                  dirs, free_bytes / 1024);
    EXPECT_EQ(root.substr(root.size() - std::strlen(counts)), counts) << root;
    EXPECT_EQ(root.substr(0, 2), "\r\n");

    // A folder: its entries only.
    std::string logs = output_of(t, "ls", 1);
    entries = mdir_entries(board, "/LOGS", &free_bytes);
    ASSERT_EQ(entries.size(), 2u);
    for (const DirEntry& e : entries) {
        EXPECT_NE(logs.find(ls_line(e, e.dir ? "D----" : "----A")), std::string::npos) << logs;
    }
    EXPECT_NE(logs.find("\r\n   1 File(s)\r\n   1 Dir(s)\r\n"), std::string::npos) << logs;

    // An empty folder: an empty line, zero counts, the free space.
    std::snprintf(counts, sizeof counts, "\r\n\r\n   0 File(s)\r\n   0 Dir(s)\r\n%10lluK bytes free\r\n",
                  free_bytes / 1024);
    EXPECT_EQ(output_of(t, "ls", 2), counts);
}

TEST(Shell, LsOfALargeFolderListsEveryEntry)
{
    // 60 lines of 44 bytes: more than the console's 2048-byte ring holds.
    std::string board = new_board("many");
    card_mkdir(board, "MANY");
    std::string host = new_host_dir("many");
    write_bytes(host + "/f", pattern(10));
    std::string script;
    for (int i = 0; i < 60; ++i) {
        put_on_card(board, host + "/f", "MANY/F" + std::to_string(i) + ".BIN");
    }
    std::string t = run_shell(board, Keys().line("cd MANY").line("ls").line("pwd"));
    std::string ls = output_of(t, "ls");
    for (int i = 0; i < 60; ++i) {
        EXPECT_NE(ls.find("        10  F" + std::to_string(i) + ".BIN\r\n"), std::string::npos) << i << ls;
    }
    EXPECT_NE(ls.find("\r\n  60 File(s)\r\n   0 Dir(s)\r\n"), std::string::npos) << ls;
    EXPECT_NE(t.find("\r\n/MANY> pwd\n\r/MANY\r\n"), std::string::npos) << t;
}

TEST(Shell, ChangingDirectories)
{
    std::string board = prepared_board("cd");
    Keys k;
    k.line("cd ..").line("pwd");                            // at the root: stays there
    k.line("cd LOGS").line("cd OLD").line("pwd");           // down two levels
    k.line("cd ..").line("pwd").line("cd ..").line("pwd");  // and back up
    k.line("cd /LOGS/OLD").line("pwd").line("cat JAN.TXT"); // absolute
    k.line("cd /LOGS/").line("pwd");                        // trailing slash dropped
    k.line("chdir /").line("cd NOPE").line("cd DATA.TXT").line("pwd");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, "cd ..", 0), "");
    EXPECT_EQ(output_of(t, "pwd", 0), "/\r\n");
    EXPECT_NE(t.find("\r\n/LOGS> cd OLD\n\r\r\n/LOGS/OLD> pwd\n\r/LOGS/OLD\r\n"), std::string::npos) << t;
    EXPECT_EQ(output_of(t, "pwd", 2), "/LOGS\r\n");
    EXPECT_EQ(output_of(t, "pwd", 3), "/\r\n");
    EXPECT_EQ(output_of(t, "pwd", 4), "/LOGS/OLD\r\n");
    EXPECT_EQ(output_of(t, "cat JAN.TXT"), "deep\r\n");
    EXPECT_EQ(output_of(t, "pwd", 5), "/LOGS\r\n");
    EXPECT_EQ(output_of(t, "cd NOPE"), "cd: /NOPE\r\nCommand returned error code FR_NO_PATH\r\n");
    EXPECT_NE(output_of(t, "cd DATA.TXT").find("cd: /DATA.TXT\r\nCommand returned error code"),
              std::string::npos);
    EXPECT_EQ(output_of(t, "pwd", 6), "/\r\n");
}

TEST(Shell, PathsAtTheLengthLimit)
{
    // Eight nested folders of eight letters: a working directory of 72
    // characters.  A name of 6 characters makes a path of 72 + 1 + 6 = 79
    // characters plus its terminator (80 bytes): taken; 7 characters: refused.
    std::string board = new_board("limit");
    std::string deep;
    for (char c = 'A'; c <= 'H'; ++c) {
        deep += "/" + std::string(8, c);
        card_mkdir(board, deep.substr(1));
    }
    Keys k;
    for (char c = 'A'; c <= 'H'; ++c) {
        k.line("cd " + std::string(8, c));
    }
    k.line("mkdir ABCDEF").line("mkdir ABCDEFG").line("mv ABCDEF ABCDEFG").line("mv ABCDEFG ABCDEF");
    k.line("cd ABCDEF").line("pwd").line("cd X").line("cd ..").line("pwd");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, "mkdir ABCDEF"), "");
    EXPECT_EQ(output_of(t, "mkdir ABCDEFG"), "Resulting path name is too long\r\n");
    EXPECT_EQ(output_of(t, "mv ABCDEF ABCDEFG"), "Resulting path name is too long\r\n");
    EXPECT_EQ(output_of(t, "mv ABCDEFG ABCDEF"), "Resulting path name is too long\r\n");
    EXPECT_EQ(output_of(t, "pwd", 0), deep + "/ABCDEF\r\n");
    EXPECT_EQ(output_of(t, "cd X"), "Resulting path name is too long\r\n");
    EXPECT_EQ(output_of(t, "pwd", 1), deep + "\r\n");
    EXPECT_NE(card_ls(board, deep.substr(1)).find("ABCDEF"), std::string::npos);
    EXPECT_EQ(card_ls(board, deep.substr(1)).find("ABCDEFG"), std::string::npos);
}

TEST(Shell, TokenizerLimits)
{
    std::string board = prepared_board("tokens");
    Keys k;
    k.line("mv   DATA.TXT    D1.TXT");      // runs of spaces: two arguments
    k.line("mv D1.TXT D2.TXT c d e f g");   // eight words: runs
    k.line("mv D2.TXT D3.TXT c d e f g h"); // nine words: refused, nothing runs
    k.line("");                             // empty line
    k.line("   ");                          // spaces only
    k.line("HELP");                         // case matters
    k.line("cat\\tD2.TXT");                 // a tab is part of the word
    k.line("ls");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, "mv   DATA.TXT    D1.TXT"), "");
    EXPECT_EQ(output_of(t, "mv D1.TXT D2.TXT c d e f g"), "");
    EXPECT_EQ(output_of(t, "mv D2.TXT D3.TXT c d e f g h"), "Too many arguments for command processor!\r\n");
    EXPECT_NE(t.find(PROMPT_ROOT + "\n\rBad command!\r\n" + PROMPT_ROOT + "   \n\rBad command!\r\n"),
              std::string::npos)
        << t;
    EXPECT_EQ(output_of(t, "HELP"), "Bad command!\r\n");
    EXPECT_EQ(output_of(t, "cat\tD2.TXT"), "Bad command!\r\n");
    std::string ls = output_of(t, "ls");
    EXPECT_NE(ls.find("  D2.TXT\r\n"), std::string::npos) << ls;
    EXPECT_EQ(ls.find("D3.TXT"), std::string::npos) << ls;
}

TEST(Shell, LineLongerThanTheBufferRunsNothing)
{
    // 63 characters fit and run; at 64 the cut line would remove "DATA.TX".
    std::string board = prepared_board("longline");
    const std::string fits = "mv" + std::string(45, ' ') + "DATA.TXT DATA.TX";
    const std::string over = "rm" + std::string(54, ' ') + "DATA.TXT";
    ASSERT_EQ(fits.size(), 63u);
    ASSERT_EQ(over.size(), 64u);
    Keys k;
    k.line(fits).line(over).line("ls");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, fits), "");
    EXPECT_EQ(output_of(t, over), "Line longer than 63 characters: not run\r\n");
    EXPECT_NE(output_of(t, "ls").find("  DATA.TX\r\n"), std::string::npos) << t;
}

TEST(Shell, CommandsWithoutTheirArgumentsAreRefused)
{
    std::string board = prepared_board("missing");
    Keys k;
    for (const char* c : {"cd", "chdir", "cat", "rm", "mkdir", "mv", "mv DATA.TXT", "ys"}) {
        k.line(c);
    }
    k.line("pwd").line("ls");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, "cd"), "Missing argument: cd NAME\r\n");
    EXPECT_EQ(output_of(t, "chdir"), "Missing argument: cd NAME\r\n");
    EXPECT_EQ(output_of(t, "cat"), "Missing argument: cat NAME\r\n");
    EXPECT_EQ(output_of(t, "rm"), "Missing argument: rm NAME\r\n");
    EXPECT_EQ(output_of(t, "mkdir"), "Missing argument: mkdir NAME\r\n");
    EXPECT_EQ(output_of(t, "mv"), "Missing argument: mv OLD NEW\r\n");
    EXPECT_EQ(output_of(t, "mv DATA.TXT"), "Missing argument: mv OLD NEW\r\n");
    EXPECT_EQ(output_of(t, "ys"), "Missing argument: ys NAME\r\n");
    EXPECT_EQ(output_of(t, "pwd"), "/\r\n");
    EXPECT_NE(output_of(t, "ls").find("  DATA.TXT\r\n"), std::string::npos);
}

TEST(Shell, FailuresArePrintedByName)
{
    std::string board = prepared_board("errors");
    Keys k(1.5);
    k.line("cat NOFILE.TXT").line("rm NOFILE.TXT").line("mkdir LOGS").line("rm LOGS").line("rm RO.TXT");
    k.line("cat BAD*NAME").line("mv NOFILE.TXT X.TXT").line("mv DATA.TXT LOGS").line("cat LOGS");
    k.line("ys NOFILE.TXT").line("ys ABCDEFGHIJKLMNOPQRSTUVWXYZ123456");
    std::string t = run_shell(board, k, 8);
    EXPECT_EQ(output_of(t, "cat NOFILE.TXT"), "Command returned error code FR_NO_FILE\r\n");
    EXPECT_EQ(output_of(t, "rm NOFILE.TXT"), "\r\nCommand returned error code FR_NO_FILE\r\n");
    EXPECT_EQ(output_of(t, "mkdir LOGS"), "\r\nCommand returned error code FR_EXIST\r\n");
    EXPECT_EQ(output_of(t, "rm LOGS"), "\r\nCommand returned error code FR_DENIED\r\n");
    EXPECT_EQ(output_of(t, "rm RO.TXT"), "\r\nCommand returned error code FR_DENIED\r\n");
    EXPECT_EQ(output_of(t, "cat BAD*NAME"), "Command returned error code FR_INVALID_NAME\r\n");
    EXPECT_EQ(output_of(t, "mv NOFILE.TXT X.TXT"), "\r\nCommand returned error code FR_NO_FILE\r\n");
    // A file moved into a folder by naming the folder is refused (the
    // name exists).
    EXPECT_EQ(output_of(t, "mv DATA.TXT LOGS"), "\r\nCommand returned error code FR_EXIST\r\n");
    EXPECT_EQ(output_of(t, "cat LOGS"), "Command returned error code FR_NO_FILE\r\n");
    // The file to send does not open: the transfer is cancelled, the
    // reason printed by name (not "Bad command!").
    std::string ys = output_of(t, "ys NOFILE.TXT");
    EXPECT_EQ(ys, std::string("\x18\x18\nYmodem aborted\nCommand returned error code FR_NO_FILE\r\n")) << ys;
    EXPECT_EQ(output_of(t, "ys ABCDEFGHIJKLMNOPQRSTUVWXYZ123456"), "ys: name longer than 30 characters\r\n");
    // Nothing changed on the card.
    EXPECT_NE(card_ls(board).find("DATA.TXT"), std::string::npos);
    std::string report;
    EXPECT_TRUE(card_fsck_clean(board, &report)) << report;
}

TEST(Shell, CatPrintsAFileAndAKeyStopsIt)
{
    std::string board = prepared_board("cat");
    std::string big;
    for (int i = 0; i < 400; ++i) {
        big += "line " + std::to_string(i) + " of a long text file on the card, 0123456789\r\n";
    }
    card_put_text(board, "LOGS/BIG.TXT", big);
    Keys k;
    k.line("cat DATA.TXT").line("cat LOGS/BIG.TXT").at(0.5, "#").at(2, "\\r").line("pwd");
    std::string t = run_shell(board, k);
    EXPECT_EQ(output_of(t, "cat DATA.TXT"), "pH 8.05\r\nT 12.0\r\n");
    // The key came about half a second into the 2.3 s the text takes at
    // 115200 baud: the text stops early, at a chunk boundary, unbroken.
    std::size_t from = t.find("cat LOGS/BIG.TXT\n\r");
    ASSERT_NE(from, std::string::npos);
    from += std::strlen("cat LOGS/BIG.TXT\n\r");
    std::size_t to = t.find("\r\n/> ", from);
    ASSERT_NE(to, std::string::npos);
    std::string shown = t.substr(from, to - from);
    // The key's echo lands among the text already queued.
    std::size_t key = shown.find('#');
    ASSERT_NE(key, std::string::npos) << shown;
    shown.erase(key, 1);
    EXPECT_GT(shown.size(), 1000u);
    EXPECT_LT(shown.size(), big.size() / 2);
    EXPECT_EQ(big.substr(0, shown.size()), shown);
    EXPECT_EQ(shown.size() % 79, 0u);
    EXPECT_EQ(output_of(t, "pwd"), "/\r\n");
}

TEST(Shell, RemoveMakeAndRenameChangeTheCard)
{
    std::string board = prepared_board("change");
    Keys k;
    k.line("mkdir NEW").line("mv DATA.TXT NEW/DATA.TXT").line("cd NEW").line("mv DATA.TXT D.TXT");
    k.line("cd /").line("rm LOGS/OLD/JAN.TXT").line("rm LOGS/OLD").line("mv EMPTY GONE").line("ls");
    std::string t = run_shell(board, k);
    for (const char* c : {"mkdir NEW", "mv DATA.TXT NEW/DATA.TXT", "mv DATA.TXT D.TXT", "rm LOGS/OLD/JAN.TXT",
                          "rm LOGS/OLD", "mv EMPTY GONE"}) {
        EXPECT_EQ(output_of(t, c), "") << c;
    }
    cardtest::Cmd got = cardtest::sh("mtype " + cardtest::mimg(card_image(board)) + " ::/NEW/D.TXT");
    EXPECT_EQ(got.out, "pH 8.05\r\nT 12.0\r\n");
    std::string root = card_ls(board);
    EXPECT_EQ(root.find("DATA.TXT"), std::string::npos) << root;
    EXPECT_NE(root.find("GONE"), std::string::npos) << root;
    EXPECT_EQ(root.find("EMPTY"), std::string::npos) << root;
    EXPECT_EQ(card_ls(board, "LOGS").find("OLD"), std::string::npos);
    std::string report;
    EXPECT_TRUE(card_fsck_clean(board, &report)) << report;
}

TEST(Shell, ExitReturnsToTheMenuAndTheDirectoryIsKept)
{
    std::string board = prepared_board("exit");
    std::string t = run_shell(board, Keys().line("cd LOGS").line("exit").line("5").line("pwd"));
    EXPECT_NE(t.find("\r\n/LOGS> exit\n\r\r\n\r\n\r\nMain Menu"), std::string::npos) << t;
    EXPECT_NE(
        t.find("Unix-like command line. Type 'help' for list of commands\r\n\r\n/LOGS> pwd\n\r/LOGS\r\n"),
        std::string::npos)
        << t;
}
