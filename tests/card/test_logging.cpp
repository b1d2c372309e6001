// The logging layer over the FAT module, the block driver and the
// simulated card: the error file, formatted writes, the data file and
// open_append; the files are read back with mtools.
#include "tests/card/card_support.h"

#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"
#include "board/board_util.h"
#include "storage/microsd.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace cardtest;

namespace {

std::string mtype(const BodyRun& run, const std::string& name)
{
    Cmd c = sh("mtype " + mimg(run.image) + " ::" + name);
    return c.rc == 0 ? c.out : "<" + c.out + ">";
}

TEST(Logging, ResultNamesFollowTheTable)
{
    EXPECT_STREQ(StringFromFresult(FR_OK), "FR_OK");
    EXPECT_STREQ(StringFromFresult(FR_DISK_ERR), "UNKNOWN ERROR CODE");
    EXPECT_STREQ(StringFromFresult(FR_INVALID_OBJECT), "FR_INVALID_OBJECT");
    EXPECT_STREQ(StringFromFresult(FR_NO_FILESYSTEM), "FR_NO_FILESYSTEM");
    EXPECT_STREQ(StringFromFresult(FR_MKFS_ABORTED), "FR_MKFS_ABORTED");
    EXPECT_STREQ(StringFromFresult(FR_INT_ERR), "UNKNOWN ERROR CODE");
    EXPECT_STREQ(StringFromFresult(FR_TIMEOUT), "UNKNOWN ERROR CODE");
    EXPECT_STREQ(StringFromFresult(FR_INVALID_PARAMETER), "UNKNOWN ERROR CODE");
    // Only the low byte counts.
    EXPECT_STREQ(StringFromFresult(static_cast<FRESULT>(0x105)), "FR_NO_PATH");
}

TEST(Logging, ErrorFileDataFileAndFormattedWritesOnANewCard)
{
    BodyRun run = run_body("logging", {}, [](Report& r) {
        start_board();
        // 2026-03-04 05:06:07 local time = the count less 21600 s.
        HibernateRTCSet(rtc_count(2026, 3, 4, 5, 6, 7) + 21600);
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
        std::memcpy(sys_data.fileName, "DATA.TXT", 9);
        Init_SDCard();
        error_store("Low battery! Exiting deploy mode");
        error_store("f_open error");

        appendBufferToSDCard("first line\r\n");
        appendBufferToSDCard("second line\r\n");

        FIL fil{};
        note(r, "open=%d", f_open(&fil, "LONG.TXT", FA_WRITE | FA_CREATE_ALWAYS));
        char text[301];
        for (int i = 0; i < 300; ++i) {
            text[i] = static_cast<char>('a' + i % 26);
        }
        text[300] = '\0';
        note(r, "fprintf=%d", sd_fprintf(&fil, "%s", text));
        note(r, "fprintf2=%d", sd_fprintf(&fil, "<%d>", 42));
        note(r, "close=%d", f_close(&fil));

        // open_append: at the end of an existing file; nothing left open on
        // failure.
        note(r, "append=%d", open_append(&fil, "DATA.TXT"));
        UINT bw = 0;
        f_write(&fil, "third", 5, &bw);
        note(r, "close=%d", f_close(&fil));
        FIL miss{};
        note(r, "missing=%d", open_append(&miss, "/NODIR/LOG.TXT"));
        UINT n = 0;
        FRESULT w = f_write(&miss, "x", 1, &n);
        FRESULT c = f_close(&miss);
        note(r, "after write=%d close=%d", w, c);
    });
    ASSERT_EQ(run.status, 0) << run.report;
    EXPECT_EQ(
        run.report,
        "open=0\nfprintf=255\nfprintf2=4\nclose=0\nappend=0\nclose=0\nmissing=5\nafter write=9 close=9\n");

    // The first entry begins the file with an empty line; entries follow
    // without terminators of their own.
    std::string err = mtype(run, "ERROR.TXT");
    EXPECT_EQ(err.substr(0, 22), "\r\n2026/03/04 05:06:07 ") << err;
    EXPECT_EQ(err.find("Low battery! Exiting deploy mode\r\n2026/03/04 05:06:"), 22u) << err;
    EXPECT_EQ(err.substr(err.size() - 13), " f_open error") << err;

    EXPECT_EQ(mtype(run, "DATA.TXT"), "first line\r\nsecond line\r\nthird");
    std::string lng = mtype(run, "LONG.TXT");
    ASSERT_EQ(lng.size(), 259u);
    EXPECT_EQ(lng.substr(250), "qrstu<42>"); // 255 characters, cut, then the next write
    Cmd dir = sh("mdir -b " + mimg(run.image) + " ::");
    EXPECT_EQ(dir.out.find("NODIR"), std::string::npos);
    EXPECT_EQ(card("--image '" + run.image + "' fsck").rc, 0);
}

// "1234 bytes free" from the card tool's listing.
unsigned long long free_bytes(const std::string& image)
{
    Cmd ls = card("--image '" + image + "' ls");
    auto end = ls.out.rfind(" bytes free");
    auto begin = ls.out.rfind(' ', end - 1);
    return end == std::string::npos ? 0 : std::stoull(ls.out.substr(begin + 1, end - begin - 1));
}

// A card with 512-byte clusters of which exactly two are free.
std::string nearly_full_board(const std::string& name)
{
    std::string dir = board_dir(name);
    std::string image = dir + "/card.img";
    EXPECT_EQ(sh("mkdir -p '" + dir + "'").rc, 0);
    EXPECT_EQ(card("--image '" + image + "' format --size 40").rc, 0);
    const unsigned long long room = free_bytes(image);
    EXPECT_GT(room, 1024u);
    EXPECT_EQ(sh("truncate -s " + std::to_string(room - 1024) + " '" + dir + "/fill.bin'").rc, 0);
    EXPECT_EQ(card("--image '" + image + "' put '" + dir + "/fill.bin'").rc, 0);
    EXPECT_EQ(free_bytes(image), 1024u);
    return dir;
}

std::string line(char c, std::size_t len)
{
    return std::string(len - 2, c) + "\r\n";
}

TEST(Logging, AFullCardKeepsWholeRecordsAndSaysSo)
{
    std::string dir = nearly_full_board("cardfull");
    BodyRun run = run_body_in(dir, {}, [](Report& r) {
        start_board_with_console();
        HibernateRTCSet(rtc_count(2026, 3, 4, 5, 6, 7) + 21600);
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 1;
        std::memcpy(sys_data.fileName, "DATA.TXT", 9);
        Init_SDCard();
        uprintf("<1>");
        error_store("first"); // ERROR.TXT takes one of the two clusters
        for (int i = 0; i < 5; i++) {
            appendBufferToSDCard(line(static_cast<char>('a' + i), 100).c_str()); // 500 of 512 bytes
        }
        uprintf("<2>");
        appendBufferToSDCard(line('x', 100).c_str()); // 12 bytes fit: torn, cut off again
        uprintf("<3>");
        appendBufferToSDCard(line('y', 12).c_str()); // exactly full
        uprintf("<4>");
        appendBufferToSDCard("late\r\n"); // nothing fits
        uprintf("<5>");
        error_store(std::string(200, 'E').c_str());
        error_store(std::string(512 - 27 - 2 * 61 - 222 - 22, 'F').c_str()); // exactly full
        uprintf("<6>");
        error_store("x"); // not even the stamp fits
        uprintf("<7>");
        FIL fil{};
        note(r, "open=%d", f_open(&fil, "HDR.TXT", FA_WRITE | FA_CREATE_ALWAYS));
        note(r, "fprintf=%d", sd_fprintf(&fil, "%s", "header\r\n")); // formatted writes report it too
        note(r, "close=%d", f_close(&fil));
        uprintf("<8>");
        wait_consoleTx();
        ms_delay(10); // the last bytes leave the transmit FIFO
    });
    ASSERT_EQ(run.status, 0) << run.report;
    EXPECT_EQ(run.report, "open=0\nfprintf=0\nclose=0\n");

    // The console shows every write that did not fit, like a failed one.
    auto between = [&](const std::string& a, const std::string& b) {
        auto i = run.console.find(a);
        auto j = run.console.find(b);
        return i == std::string::npos || j == std::string::npos
                   ? "<missing>"
                   : run.console.substr(i + a.size(), j - i - a.size());
    };
    EXPECT_EQ(between("<1>", "<2>"), "");
    EXPECT_EQ(between("<2>", "<3>"), "f_write error: card full (12 of 100 bytes written, cut off)\r\n");
    EXPECT_EQ(between("<3>", "<4>"), "");
    EXPECT_EQ(between("<4>", "<5>"), "f_write error: card full (0 of 6 bytes written, cut off)\r\n");
    EXPECT_EQ(between("<5>", "<6>"), "");
    EXPECT_EQ(between("<6>", "<7>"),
              "Error.txt f_write error: card full (0 of 23 bytes written, cut off)\r\n")
        << run.console;
    EXPECT_EQ(between("<7>", "<8>"), "f_write error: card full (0 of 8 bytes written)\r\n");

    // The data file holds whole lines only.
    std::string data = mtype(run, "DATA.TXT");
    EXPECT_EQ(data, line('a', 100) + line('b', 100) + line('c', 100) + line('d', 100) + line('e', 100) +
                        line('y', 12));
    // The error file tells the operator afterwards, in whole entries.
    // (Seconds pass during the writes: the stamps' seconds are left out.)
    std::string err = mtype(run, "ERROR.TXT");
    for (std::size_t at = err.find(" 05:06:"); at != std::string::npos; at = err.find(" 05:06:", at + 1)) {
        err.replace(at + 7, 2, "ss");
    }
    const std::string stamp = "\r\n2026/03/04 05:06:ss ";
    const std::string full = stamp + "Card full: data not written to DATA.TXT";
    EXPECT_EQ(err, stamp + "first" + full + full + stamp + std::string(200, 'E') + stamp +
                       std::string(512 - 27 - 2 * 61 - 222 - 22, 'F'));
    EXPECT_EQ(free_bytes(run.image), 0u);
    Cmd fsck = card("--image '" + run.image + "' fsck");
    EXPECT_EQ(fsck.rc, 0) << fsck.out;
}

TEST(Logging, ErrorStoreWithLoggingDisabledWritesNothing)
{
    BodyRun run = run_body("disabled", {}, [](Report&) {
        start_board();
        sys_data.app_cfg[APPCFG_MICROSD_ENABLE] = 0;
        Init_SDCard();
        error_store("f_close error");
    });
    ASSERT_EQ(run.status, 0);
    Cmd dir = sh("mdir -b " + mimg(run.image) + " ::");
    EXPECT_EQ(dir.out.find("ERROR"), std::string::npos) << dir.out;
}

} // namespace
