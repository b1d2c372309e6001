// YMODEM byte by byte on the console line: a scripted peer types the
// protocol bytes at set times, and the transcript (everything the console
// UART sent) shows the controller's blocks and answers.  Deterministic and
// fast (simulated time), so the time bounds are checked from both sides.
#include "tests/card/card_support.h"
#include "tests/files/files_support.h"
#include "tests/support/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace filestest;

namespace {

const char ACKC[] = "\x06";
const char NAKC[] = "\x15";

uint16_t crc16(const std::string& data)
{
    uint16_t crc = 0;
    for (unsigned char c : data) {
        crc = static_cast<uint16_t>(crc ^ (c << 8));
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

// A block as it goes on the line.
std::string block(unsigned number, std::string data, std::size_t size)
{
    data.resize(size, size == 128 ? '\0' : '\x1A');
    uint16_t crc = crc16(data);
    std::string b;
    b += size == 128 ? '\x01' : '\x02';
    b += static_cast<char>(number & 0xFF);
    b += static_cast<char>(~number & 0xFF);
    b += data;
    b += static_cast<char>(crc >> 8);
    b += static_cast<char>(crc & 0xFF);
    return b;
}

std::string header(const std::string& name, const std::string& size_text)
{
    return block(0, name + std::string(1, '\0') + size_text, 128);
}

// Script text of raw bytes.
std::string escaped(const std::string& bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
    }
    return out;
}

struct Timed {
    std::string script;
    void at(double delay, const std::string& bytes)
    {
        script += std::to_string(delay) + " " + escaped(bytes) + "\n";
    }
    void keys(double delay, const std::string& text) { script += std::to_string(delay) + " " + text + "\n"; }
};

// Runs the script (the file shell is entered first, at 1 s) until `until`
// and returns the transcript from the command line `command` on.
std::string run(const std::string& board, const Timed& t, const std::string& command, double until)
{
    sim::RunOptions o;
    o.board_dir = board;
    test::Run r = test::run_script(o, "1 5\\r\n" + t.script, until);
    EXPECT_EQ(r.status, 0);
    std::size_t at = r.transcript.find(command + "\n\r");
    EXPECT_NE(at, std::string::npos) << r.transcript;
    return at == std::string::npos ? "" : r.transcript.substr(at + command.size() + 2);
}

int count_of(const std::string& hay, const std::string& needle)
{
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

std::string card_text(const std::string& board, const std::string& name, bool* found)
{
    std::vector<uint8_t> bytes = card_file(board, name, found);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(YmodemWire, TheSenderSendsHeaderBlocksEotAndTheEndOfTheBatch)
{
    std::string board = new_board("wire-send");
    std::string host = new_host_dir("wire-send");
    write_bytes(host + "/a", {'h', 'e', 'l', 'l', 'o'});
    put_on_card(board, host + "/a", "A.TXT");
    write_bytes(host + "/k", pattern(1024));
    put_on_card(board, host + "/k", "K.BIN");
    write_bytes(host + "/z", {});
    put_on_card(board, host + "/z", "Z.BIN");

    // The receiver's part: 'C' during the sender's handshake, ACK and 'C'
    // for the header, ACK for each block and the EOT, 'C' for the end of the
    // batch and ACK for it.
    auto receiver = [](Timed& t, int blocks) {
        t.at(0.1, "C");
        t.at(0.2, std::string(ACKC) + "C");
        for (int i = 0; i < blocks; ++i) {
            t.at(0.2, ACKC);
        }
        t.at(0.2, ACKC);
        t.at(0.2, "C");
        t.at(0.2, ACKC);
    };
    Timed t;
    t.keys(1, "ys A.TXT\\r");
    receiver(t, 1);
    t.keys(3, "ys K.BIN\\r");
    receiver(t, 1);
    t.keys(3, "ys Z.BIN\\r");
    receiver(t, 0);
    std::string wire = run(board, t, "ys A.TXT", 30);

    // A 5-byte file: the header carries the name, a NUL, the digit 5 and 121
    // NULs; one 1024-byte block, the file and its filler.
    std::string a = "Ymodem sending A.TXT, 5 bytes...\r\nC" + header("A.TXT", "5") + block(1, "hello", 1024) +
                    "\x04" + block(0, "", 128) + "\r\nSent: A.TXT\r\n";
    EXPECT_EQ(wire.find(a), 0u) << wire.substr(0, 200);
    EXPECT_EQ(std::string(header("A.TXT", "5"), 3, 128),
              "A.TXT" + std::string(1, '\0') + "5" + std::string(121, '\0'));
    // 1024 bytes fill one block: no block without file data follows.
    std::vector<uint8_t> k = pattern(1024);
    std::string k_bytes(k.begin(), k.end());
    std::string kb = "Ymodem sending K.BIN, 1024 bytes...\r\nC" + header("K.BIN", "1024") +
                     block(1, k_bytes, 1024) + "\x04" + block(0, "", 128) + "\r\nSent: K.BIN\r\n";
    EXPECT_NE(wire.find(kb), std::string::npos);
    // An empty file: the header, then EOT at once.
    std::string z = "Ymodem sending Z.BIN, 0 bytes...\r\nC" + header("Z.BIN", "0") + "\x04" +
                    block(0, "", 128) + "\r\nSent: Z.BIN\r\n";
    EXPECT_NE(wire.find(z), std::string::npos);
}

TEST(YmodemWire, ASilentReceiverEndsTheSendAfterTwelveTries)
{
    // The receiver takes the header, then never answers: block 1 goes out
    // 12 times, 10 s apart, then the sender cancels (two CAN) and gives up.
    std::string host = new_host_dir("wire-silent");
    write_bytes(host + "/a", pattern(3000));
    Timed t;
    t.keys(1, "ys A.BIN\\r"); // at 2 s
    t.at(1.5, "C");
    t.at(0.2, std::string(ACKC) + "C"); // block 1 first sent at 3.7 s
    // 3.7 s + 12 x (10 s + the block's 89 ms) + 1 s pause = 125.8 s.
    for (double until : {124.0, 128.0}) {
        std::string board = new_board("wire-silent-" + std::to_string(static_cast<int>(until)));
        put_on_card(board, host + "/a", "A.BIN");
        std::string wire = run(board, t, "ys A.BIN", until);
        std::vector<uint8_t> data = pattern(3000);
        std::string first(data.begin(), data.begin() + 1024);
        EXPECT_EQ(count_of(wire, block(1, first, 1024)), 12) << until;
        if (until < 125) {
            EXPECT_EQ(wire.find("Ymodem aborted"), std::string::npos);
        } else {
            EXPECT_NE(wire.find("\x18\x18\nYmodem aborted\n\r\n/> "), std::string::npos)
                << wire.substr(wire.size() - 40);
        }
    }
}

TEST(YmodemWire, TheBlockTracesGoToTheDebugOutputNeverToTheConsole)
{
    std::string board = new_board("wire-debug");
    std::string host = new_host_dir("wire-debug");
    write_bytes(host + "/a", {'h', 'e', 'l', 'l', 'o'});
    put_on_card(board, host + "/a", "A.TXT");
    const std::string debug = host + "/debug.txt";
    Timed t;
    t.keys(1, "ys A.TXT\\r");
    t.at(1.5, "C");
    t.at(0.2, std::string(ACKC) + "C");
    t.at(0.2, ACKC);
    t.at(0.2, ACKC);
    t.at(0.2, "C");
    t.at(0.2, ACKC);
    sim::RunOptions o;
    o.board_dir = board;
    o.params["debug_out"] = debug;
    test::Run r = test::run_script(o, "1 5\\r\n" + t.script, 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.transcript.find("\r\nSent: A.TXT\r\n"), std::string::npos) << r.transcript;
    std::vector<uint8_t> bytes = read_bytes(debug);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("filename = A.TXT"), std::string::npos) << text;
    EXPECT_NE(text.find("sending block 1"), std::string::npos) << text;
    EXPECT_EQ(r.transcript.find("sending block"), std::string::npos);
    EXPECT_EQ(r.transcript.find("filename ="), std::string::npos);
}

TEST(YmodemWire, TheReceiversCancelEndsTheSendAtOnce)
{
    // The receiver takes the header and block 1, then answers block 2 with
    // a cancel pair: no block goes out again, and the shell is back within
    // seconds instead of the twelve tries a silent receiver costs.
    std::string host = new_host_dir("wire-rx-cancel");
    write_bytes(host + "/a", pattern(3000));
    std::string board = new_board("wire-rx-cancel");
    put_on_card(board, host + "/a", "A.BIN");
    Timed t;
    t.keys(1, "ys A.BIN\\r"); // at 2 s
    t.at(1.5, "C");
    t.at(0.2, std::string(ACKC) + "C"); // block 1 at 3.7 s
    t.at(0.3, ACKC);                    // block 2 at 4.0 s
    t.at(0.3, "\x18\x18");
    t.keys(2, "pwd\\r");
    std::string wire = run(board, t, "ys A.BIN", 9);
    std::vector<uint8_t> data = pattern(3000);
    EXPECT_EQ(count_of(wire, block(1, std::string(data.begin(), data.begin() + 1024), 1024)), 1);
    EXPECT_EQ(count_of(wire, block(2, std::string(data.begin() + 1024, data.begin() + 2048), 1024)), 1);
    EXPECT_EQ(count_of(wire, std::string(1, '\x02') + "\x03\xFC"), 0) << "block 3 went out";
    EXPECT_NE(wire.find("\x18\x18\nYmodem aborted\n\r\n/> pwd\n\r/\r\n\r\n/> "), std::string::npos)
        << wire.substr(wire.size() > 60 ? wire.size() - 60 : 0);
}

TEST(YmodemWire, TheReceiversCancelBeforeTheDataEndsTheSendToo)
{
    // A cancel pair in answer to the header, and one in place of the
    // receiver's 'C': no header goes out again (or at all).
    std::string host = new_host_dir("wire-early-cancel");
    write_bytes(host + "/a", pattern(300));
    std::string hdr = header("A.BIN", "300");
    struct Case {
        const char* name;
        std::string first;
        int headers;
    };
    for (const Case& c : {Case{"header", "C", 1}, Case{"handshake", "\x18\x18", 0}}) {
        std::string board = new_board(std::string("wire-early-cancel-") + c.name);
        put_on_card(board, host + "/a", "A.BIN");
        Timed t;
        t.keys(1, "ys A.BIN\\r"); // at 2 s
        t.at(1.5, c.first);
        t.at(0.2, "\x18\x18");
        t.keys(2, "pwd\\r");
        std::string wire = run(board, t, "ys A.BIN", 9);
        EXPECT_EQ(count_of(wire, hdr), c.headers) << c.name;
        EXPECT_NE(wire.find("\nYmodem aborted\n\r\n/> pwd\n\r/\r\n\r\n/> "), std::string::npos)
            << c.name << ": " << wire.substr(wire.size() > 60 ? wire.size() - 60 : 0);
    }
}

TEST(YmodemWire, ABatchStoppedAtABadNameSaysWhatWasStored)
{
    // One or two good files, then a name the card cannot take.
    for (const std::vector<std::string>& names :
         {std::vector<std::string>{"a.txt"}, std::vector<std::string>{"a.txt", "b.txt"}}) {
        Timed t;
        t.keys(1, "yr\\r");
        for (const std::string& name : names) {
            t.at(0.5, header(name, "5"));
            t.at(0.2, block(1, "hello", 128));
            t.at(0.2, "\x04");
            t.at(0.2, "\x04");
        }
        t.at(0.2, header("bad*name.txt", "5"));
        std::string board = new_board("wire-badname-" + std::to_string(names.size()));
        std::string wire = run(board, t, "yr", 12);
        const std::string stored =
            names.size() == 1 ? "Stored before the stop: a.txt\r\n"
                              : "Stored before the stop: 2 files, a.txt to b.txt in the order sent\r\n";
        EXPECT_NE(wire.find("\r\nYmodem aborted: File open error\r\n" + stored), std::string::npos) << wire;
        bool found = false;
        EXPECT_EQ(card_text(board, names.back(), &found), "hello");
    }
}

TEST(YmodemWire, TheReceiverGivesUpAMinuteAfterAskingForASender)
{
    // yr asks for a sender with 'C' once a second, 60 times.
    Timed t;
    t.keys(1, "yr\\r"); // at 2 s
    for (double until : {61.0, 64.0}) {
        std::string board = new_board("wire-nosender-" + std::to_string(static_cast<int>(until)));
        std::string wire = run(board, t, "yr", until);
        ASSERT_EQ(wire.find("Ymodem rcv:\r\n"), 0u);
        if (until < 62) {
            EXPECT_EQ(wire.find("aborted"), std::string::npos);
        } else {
            EXPECT_EQ(wire, "Ymodem rcv:\r\n" + std::string(60, 'C') +
                                "\x18\x18\r\nYmodem aborted: Packet timeout error\r\n\r\n/> ");
        }
    }
}

TEST(YmodemWire, TheReceiverAcknowledgesARepeatedBlockAndStoresTheDeclaredSize)
{
    std::string board = new_board("wire-repeat");
    Timed t;
    t.keys(1, "yr\\r");
    std::string first(1024, 'a');
    std::string second = "bbbbb";
    t.at(0.5, header("r.txt", "1029 13071062110 100644 0 1 1029"));
    t.at(0.2, block(1, first, 1024));
    t.at(0.2, block(1, first, 1024)); // our ACK was lost: sent again
    t.at(0.2, block(2, second, 1024));
    t.at(0.2, "\x04");
    t.at(0.2, "\x04");
    t.at(0.2, header("", ""));
    std::string wire = run(board, t, "yr", 12);
    // C; header: ACK C; block 1: ACK; its repeat: ACK; block 2: ACK; EOT:
    // NAK, EOT: ACK C; end of the batch: ACK.
    EXPECT_EQ(wire, std::string("Ymodem rcv:\r\nC\x06") + "C\x06\x06\x06" + NAKC + "\x06" + "C\x06" +
                        "\r\nReceived: r.txt, 1029 bytes\r\n\r\n/> ");
    bool found = false;
    EXPECT_EQ(card_text(board, "R.TXT", &found), first + second);
    EXPECT_TRUE(found);
}

TEST(YmodemWire, WithoutASizeTheWholeBlocksAreStored)
{
    std::string board = new_board("wire-nosize");
    Timed t;
    t.keys(1, "yr\\r");
    t.at(0.5, header("n.txt", ""));
    t.at(0.2, block(1, "xyz", 128));
    t.at(0.2, "\x04");
    t.at(0.2, "\x04");
    t.at(0.2, header("", ""));
    std::string wire = run(board, t, "yr", 12);
    EXPECT_NE(wire.find("Received: n.txt, 128 bytes"), std::string::npos) << wire;
    bool found = false;
    EXPECT_EQ(card_text(board, "N.TXT", &found), "xyz" + std::string(125, '\0'));
}

TEST(YmodemWire, AFileEndingShortOfItsSizeIsNotKept)
{
    std::string board = new_board("wire-short");
    std::string host = new_host_dir("wire-short");
    write_bytes(host + "/old", pattern(50));
    put_on_card(board, host + "/old", "S.BIN");
    Timed t;
    t.keys(1, "yr\\r");
    t.at(0.5, header("s.bin", "5000"));
    t.at(0.2, block(1, std::string(1024, 's'), 1024));
    t.at(0.2, "\x04");
    t.at(0.2, "\x04");
    std::string wire = run(board, t, "yr", 12);
    EXPECT_NE(wire.find("\x18\x18\r\nYmodem aborted: File incomplete (1024 of 5000 bytes)\r\n"),
              std::string::npos)
        << wire;
    // The file of that name is as it was, nothing else is left.
    bool found = false;
    std::vector<uint8_t> old = card_file(board, "S.BIN", &found);
    EXPECT_TRUE(old == pattern(50));
    EXPECT_EQ(card_ls(board).find("~YMRECV"), std::string::npos);
    std::string report;
    EXPECT_TRUE(card_fsck_clean(board, &report)) << report;
}

TEST(YmodemWire, TwoCancelPairsEndTheReceiveOneDoesNot)
{
    std::string board = new_board("wire-can");
    Timed t;
    t.keys(1, "yr\\r");
    t.at(0.5, header("c.bin", "2000"));
    t.at(0.2, "\x18\x18");          // one pair: noted, nothing else
    t.at(0.2, block(1, "c", 1024)); // still taken
    t.at(0.2, "\x18X");             // a lone CAN: NAK
    t.at(0.2, "\x18\x18");          // second pair: cancelled
    std::string wire = run(board, t, "yr", 12);
    EXPECT_EQ(wire, std::string("Ymodem rcv:\r\nC\x06") + "C\x06" + NAKC +
                        "\x18\x18\r\nYmodem aborted: Cancelled by the sender\r\n\r\n/> ");
    bool found = true;
    card_file(board, "C.BIN", &found);
    EXPECT_FALSE(found);
}

TEST(YmodemWire, ABadBlockIsRefusedAndTheLineAllowedToCalmDown)
{
    std::string board = new_board("wire-bad");
    Timed t;
    t.keys(1, "yr\\r");
    t.at(0.5, header("b.bin", "3"));
    std::string bad = block(1, "abc", 1024);
    bad[500] ^= 0x10;
    t.at(0.2, bad);                                  // CRC error: NAK
    t.at(0.5, block(1, "abc", 1024).substr(0, 700)); // torn: NAK after 1 s
    t.at(2.0, block(1, "abc", 1024));                // good
    t.at(0.2, "\x04");
    t.at(0.2, "\x04");
    t.at(0.2, header("", ""));
    std::string wire = run(board, t, "yr", 12);
    EXPECT_EQ(wire, std::string("Ymodem rcv:\r\nC\x06") + "C" + NAKC + NAKC + "\x06" + NAKC + "\x06" +
                        "C\x06" + "\r\nReceived: b.bin, 3 bytes\r\n\r\n/> ");
    bool found = false;
    EXPECT_EQ(card_text(board, "B.BIN", &found), "abc");
}
