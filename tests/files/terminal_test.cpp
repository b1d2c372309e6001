// A user's view: picocom on the simulator's pty, driven from a terminal of
// its own, opens the file shell, sends a file to the controller and fetches
// it back with its transfer commands (lrzsz), then lists the card.
#include "tests/files/files_support.h"

#include <gtest/gtest.h>

using namespace filestest;

TEST(Terminal, PicocomSendsAndFetchesAFile)
{
    std::string board = new_board("picocom");
    std::string host = new_host_dir("picocom");
    write_bytes(host + "/up.bin", pattern(3000));

    PtySim sim(board, {"--card-size", "40"});
    ASSERT_TRUE(sim.ok()) << sim.messages();
    Terminal picocom(
        {"picocom", "-b", "115200", "--send-cmd", "sb -vv -k", "--receive-cmd", "rb -vv -u -y", sim.path()},
        host);
    ASSERT_TRUE(picocom.ok());
    ASSERT_TRUE(picocom.expect("Terminal ready", 20)) << picocom.screen();
    // picocom clears the line when it opens it: a key brings the menu back.
    picocom.send("\r");
    ASSERT_TRUE(picocom.expect("Enter Selection: ", 30)) << picocom.screen();
    picocom.send("5\r");
    ASSERT_TRUE(picocom.expect("/> ", 20)) << picocom.screen();

    // C-a C-s: picocom asks for the file and runs sb on the line.
    picocom.send("yr\r");
    ASSERT_TRUE(picocom.expect("Ymodem rcv:", 10)) << picocom.screen();
    picocom.send("\x01\x13");
    ASSERT_TRUE(picocom.expect("*** file: ", 10)) << picocom.screen();
    picocom.send("up.bin\r");
    EXPECT_TRUE(picocom.expect("*** exit status: 0 ***", 120)) << picocom.screen();
    EXPECT_TRUE(picocom.expect("/> ", 30)) << picocom.screen();
    bool found = false;
    EXPECT_TRUE(card_file(board, "UP.BIN", &found) == pattern(3000));

    // ys, then C-a C-r: rb receives into picocom's working folder, from
    // which the file sent before is moved aside.
    ASSERT_EQ(std::rename((host + "/up.bin").c_str(), (host + "/sent.bin").c_str()), 0);
    Terminal* term = &picocom;
    term->send("ys up.bin\r");
    ASSERT_TRUE(term->expect("Ymodem sending up.bin, 3000 bytes...", 10)) << term->screen();
    term->send("\x01\x12");
    ASSERT_TRUE(term->expect("*** file: ", 10)) << term->screen();
    term->send("\r");
    EXPECT_TRUE(term->expect("*** exit status: 0 ***", 120)) << term->screen();
    EXPECT_TRUE(term->expect("Sent: up.bin", 30)) << term->screen();
    EXPECT_TRUE(read_bytes(host + "/up.bin") == pattern(3000));

    term->send("ls\r");
    EXPECT_TRUE(term->expect("      3000  UP.BIN\r\n", 20)) << term->screen();
    // C-a C-x leaves picocom.
    term->send("\x01\x18");
    EXPECT_EQ(term->wait(20), 0) << term->screen();
}
