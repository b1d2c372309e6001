// The logging layer over the FAT module, the block driver and the
// simulated card: the error file, formatted writes, the data file and
// open_append; the files are read back with mtools.
#include "tests/card/card_support.h"

#include "platform/platform.h"
#include "records/system_data.h"
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
