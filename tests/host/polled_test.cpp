// varve-host against the simulated controller on its pseudo-terminal, and
// against a scripted controller for a transfer that breaks off.
#include "tests/host/host_support.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace hosttest;

namespace {

const int NO_ANSWER = 4;
const int NOT_DEPLOYED = 5;

std::vector<std::string> with_port(const SimPty& sim, std::vector<std::string> args)
{
    std::vector<std::string> port = port_options(sim.path());
    args.insert(args.begin(), port.begin(), port.end());
    return args;
}

} // namespace

TEST(PolledClient, SamplesAndFetchesGiveTheCardsDataFileAfterItsHeaders)
{
    const std::string dir = polled_board("host-polled");
    const std::string out = dir + "-fetched.txt";
    std::vector<std::string> printed;
    {
        SimPty sim(dir);
        ASSERT_FALSE(sim.path().empty());
        for (int i = 0; i < 3; ++i) {
            Proc p = host(with_port(sim, {"sample"}));
            ASSERT_TRUE(p.finished);
            ASSERT_EQ(p.status, 0) << p.err;
            EXPECT_EQ(p.out.rfind("#000000" + std::to_string(i) + "\t", 0), 0u) << p.out;
            printed.push_back(p.out);
        }
        Proc f1 = host(with_port(sim, {"fetch", "--out", out}));
        ASSERT_EQ(f1.status, 0) << f1.err;
        EXPECT_EQ(deploytest::records(read_text(out)).size(), 3u);
        Proc s4 = host(with_port(sim, {"sample"}));
        ASSERT_EQ(s4.status, 0) << s4.err;
        printed.push_back(s4.out);
        Proc f2 = host(with_port(sim, {"fetch", "--out", out}));
        ASSERT_EQ(f2.status, 0) << f2.err;
        // Nothing new: nothing appended.
        const std::string before = read_text(out);
        Proc f3 = host(with_port(sim, {"fetch", "--out", out}));
        ASSERT_EQ(f3.status, 0) << f3.err;
        EXPECT_NE(f3.err.find(" 0 bytes appended"), std::string::npos) << f3.err;
        EXPECT_EQ(read_text(out), before);

        Proc h = host(with_port(sim, {"header"}));
        ASSERT_EQ(h.status, 0) << h.err;
        write_text(dir + "-header.txt", h.out);
        Proc m = host(with_port(sim, {"meta"}));
        ASSERT_EQ(m.status, 0) << m.err;
        EXPECT_EQ(m.out.rfind("//++", 0), 0u) << m.out;
        EXPECT_NE(m.out.find("// Deploy note:   \thost test\n"), std::string::npos) << m.out;
        EXPECT_NE(m.out.find("//--"), std::string::npos);

        Proc stop = host(with_port(sim, {"stop"}));
        ASSERT_EQ(stop.status, 0) << stop.err;
        Proc after = host(with_port(sim, {"sample"}));
        EXPECT_TRUE(after.finished);
        EXPECT_EQ(after.status, NOT_DEPLOYED) << after.err;
        sim.finish();
    }
    const std::string card = deploytest::card_file(dir, "noname.txt");
    const std::string data = after_header(card);
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(read_text(out), data);
    // What "sample" printed is what was logged.
    auto recs = deploytest::records(data);
    ASSERT_EQ(recs.size(), 4u);
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(printed[i], recs[i].substr(0, recs[i].size() - 1) + "\n");
    }
    // The fetched file with the header read from the controller is a table.
    Proc csv = host({"csv", out, "--header", dir + "-header.txt"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(deploytest::lines(csv.out).size(), 5u) << csv.out; // names and 4 rows
}

TEST(PolledClient, AControllerThatDoesNotAnswerIsReportedAndTheFileIsLeftAlone)
{
    const std::string dir = polled_board("host-silent");
    const std::string out = dir + "-fetched.txt";
    write_text(out, "kept\r\n");
    SimPty sim(dir);
    ASSERT_FALSE(sim.path().empty());
    sim.pause();
    ASSERT_TRUE(sim.alive()) << sim.log();
    for (const char* cmd : {"sample", "fetch"}) {
        std::vector<std::string> args{cmd};
        if (std::string(cmd) == "fetch") {
            args.insert(args.end(), {"--out", out});
        }
        // varve-host's own times (the controller is stopped: its pace is
        // no matter).
        args.insert(args.begin(), {"--port", sim.path()});
        Proc p = host(args, 60);
        ASSERT_TRUE(p.finished) << cmd;
        EXPECT_EQ(p.status, NO_ANSWER) << cmd << ": " << p.err << "\nsimulator: " << sim.log();
        EXPECT_NE(p.err.find("no answer from the controller within 7.5 s"), std::string::npos) << p.err;
    }
    EXPECT_EQ(read_text(out), "kept\r\n");
}

TEST(PolledClient, AControllerThatIsNotDeployedIsReported)
{
    // A board that went to sleep from its main menu.
    auto o = deploytest::board("host-idle");
    test::run_script(o, "", 40);
    SimPty sim(o.board_dir);
    ASSERT_FALSE(sim.path().empty());
    Proc p = host(with_port(sim, {"fetch", "--out", o.board_dir + "-fetched.txt"}), 60);
    ASSERT_TRUE(p.finished);
    EXPECT_EQ(p.status, NOT_DEPLOYED) << p.err;
    EXPECT_NE(p.err.find("not deployed"), std::string::npos) << p.err;
    EXPECT_EQ(read_text(o.board_dir + "-fetched.txt"), "");
}

TEST(PolledClient, LineNoiseAtWakeAndSleepDoesNotReachTheOutputFile)
{
    const std::string dir = polled_board("host-noise");
    const std::string out = dir + "-fetched.txt";
    {
        SimPty sim(dir, {"--fault", "console-noise"});
        ASSERT_FALSE(sim.path().empty());
        for (int i = 0; i < 2; ++i) {
            Proc p = host(with_port(sim, {"sample"}));
            ASSERT_EQ(p.status, 0) << p.err;
            EXPECT_EQ(p.out.rfind("#000000" + std::to_string(i) + "\t", 0), 0u) << p.out;
        }
        ASSERT_EQ(host(with_port(sim, {"fetch", "--out", out})).status, 0);
        ASSERT_EQ(host(with_port(sim, {"now"})).status, 0);
        Proc f = host(with_port(sim, {"fetch", "--out", out}));
        ASSERT_EQ(f.status, 0) << f.err;
        sim.finish();
    }
    const std::string file = read_text(out);
    EXPECT_EQ(file, after_header(deploytest::card_file(dir, "noname.txt")));
    EXPECT_EQ(file.find("#0000999"), std::string::npos);
    EXPECT_EQ(deploytest::records(file).size(), 3u);
}

// A scripted controller on a pseudo-terminal: answers probe lines with NAK,
// and sends `chunks[k]` for the k-th "gdata"; after a chunk marked `cut` it
// goes silent (the line broke) until the next wake.
class ScriptedController {
  public:
    struct Transfer {
        std::string data;
        bool cut;
    };
    explicit ScriptedController(std::vector<Transfer> transfers) : transfers_(std::move(transfers))
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        path_ = ptsname(master_);
        // Keep a slave open so that the master never sees a hang-up.
        slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedController()
    {
        stop_ = true;
        thread_.join();
        close(slave_);
        close(master_);
    }
    const std::string& path() const { return path_; }

  private:
    void serve()
    {
        std::string line;
        bool silent = false;
        std::size_t next = 0;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            char c;
            if (read(master_, &c, 1) != 1) {
                continue;
            }
            if (c == ' ' && line.empty()) {
                silent = false; // a wake byte
                continue;
            }
            if (c != '\r') {
                line += c;
                continue;
            }
            if (!silent) {
                if (line == "gdata" && next < transfers_.size()) {
                    const Transfer& t = transfers_[next++];
                    (void)!write(master_, t.data.data(), t.data.size());
                    silent = t.cut;
                } else if (line != "go") {
                    (void)!write(master_, "NAK\r\n", 5);
                }
            }
            line.clear();
        }
    }
    std::vector<Transfer> transfers_;
    int master_ = -1, slave_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

TEST(PolledClient, AFetchCutShortKeepsWholeLinesAndTheNextFetchResumes)
{
    const std::string r1 = "#0000001\t01/15/2026 12:00:04\t   12.50\r\n";
    const std::string r2 = "#0000002\t01/15/2026 12:10:04\t   12.49\r\n";
    const std::string r3 = "#0000003\t01/15/2026 12:20:04\t   12.48\r\n";
    // The line breaks in the middle of the second record.
    ScriptedController ctl({{r1 + r2.substr(0, 15), true}, {r2.substr(15) + r3, false}});
    const std::string out = test::fresh_board_dir("host-cut") + "-fetched.txt";
    const std::vector<std::string> fetch{"--port", ctl.path(), "--wake-time", "0.2", "--idle",
                                         "0.5",    "fetch",    "--out",       out};
    Proc first = host(fetch, 60);
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.status, NO_ANSWER) << first.err;
    EXPECT_EQ(read_text(out), r1);
    EXPECT_EQ(read_text(out + ".part"), r2.substr(0, 15));
    Proc second = host(fetch, 60);
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(read_text(out), r1 + r2 + r3);
    EXPECT_EQ(access((out + ".part").c_str(), F_OK), -1);
}

TEST(PolledClient, AnOutputFileThatCannotBeWrittenIsFoundBeforeTheDataIsAskedFor)
{
    const std::string r1 = "#0000001\t01/15/2026 12:00:04\t   12.50\r\n";
    ScriptedController ctl({{r1, false}});
    const std::string out = test::fresh_board_dir("host-noout") + "-fetched.txt";
    Proc bad = host({"--port", ctl.path(), "--wake-time", "0.2", "--idle", "0.5", "fetch", "--out",
                     "/nonexistent-dir/data.txt"},
                    60);
    EXPECT_EQ(bad.status, 7) << bad.err;
    // A device that takes no data (and no FILE.part beside it).
    Proc full = host(
        {"--port", ctl.path(), "--wake-time", "0.2", "--idle", "0.5", "fetch", "--out", "/dev/full"}, 60);
    EXPECT_EQ(full.status, 7) << full.err;
    EXPECT_EQ(full.err.find("appended"), std::string::npos) << full.err;
    // The controller still has the data for the next fetch.
    Proc good =
        host({"--port", ctl.path(), "--wake-time", "0.2", "--idle", "0.5", "fetch", "--out", out}, 60);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(read_text(out), r1);
}

TEST(PolledClient, WhatTheOutputFileCannotTakeIsKeptInARescueFileTheMessageNames)
{
    const std::string r1 = "#0000001\t01/15/2026 12:00:04\t   12.50\r\n";
    const std::string r2 = "#0000002\t01/15/2026 12:10:04\t   12.49\r\n";
    ScriptedController ctl({{r1 + r2 + r2.substr(0, 10), false}});
    const std::string out = test::fresh_board_dir("host-fills") + "-fetched.txt";
    // The file can grow to 1024 bytes (ulimit -f 2): it fills in the middle
    // of the first record fetched.
    const std::string before(1000, 'x');
    write_text(out, before.substr(0, 999) + "\n");
    Proc p =
        run({"/bin/sh", "-c",
             "ulimit -f 2; trap '' XFSZ; TMPDIR=" + out.substr(0, out.rfind('/')) + " exec " +
                 VARVE_HOST_BIN + " --port " + ctl.path() + " --wake-time 0.2 --idle 0.5 fetch --out " + out},
            60);
    EXPECT_EQ(p.status, 7) << p.err;
    const std::size_t at = p.err.find("are kept in ");
    ASSERT_NE(at, std::string::npos) << p.err;
    const std::string rescue = p.err.substr(at + 12, p.err.find(':', at) - at - 12);
    EXPECT_EQ(p.err.find("0 bytes appended to"), std::string::npos) << p.err;
    // FILE and the rescue file together: every byte received, in order.
    EXPECT_EQ(read_text(out) + read_text(rescue), before.substr(0, 999) + "\n" + r1 + r2 + r2.substr(0, 10));
    EXPECT_EQ(access((out + ".part").c_str(), F_OK), -1);
}

TEST(PolledClient, UsageAndPortErrors)
{
    EXPECT_EQ(host({"sample"}).status, 2);
    EXPECT_EQ(host({"--port", "/dev/null", "--baud", "1234", "sample"}).status, 2);
    EXPECT_EQ(host({"--port", "/dev/null", "fetch"}).status, 2);
    EXPECT_EQ(host({"--port", "/dev/null", "jump"}).status, 2);
    Proc missing = host({"--port", "/nonexistent/tty", "sample"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("cannot open /nonexistent/tty"), std::string::npos);
    Proc not_a_tty = host({"--port", "/dev/null", "sample"});
    EXPECT_EQ(not_a_tty.status, 3) << not_a_tty.err;
}
