// Data header line, metadata block and data-field listing of the data file.
// Each writer opens the data file itself, appends at its end and closes it
// again, so every block reaches the card whole; the file position after the
// block is kept in sys_samp.next_gdata_fptr, from which the deployed "gdata"
// command sends data.
#include "operator/config_headers.h"

#include "records/version.h"
#include "board/rtc_calendar.h"
#include "serial/line_builder.h"
#include "serial/user_io.h"
#include "platform/platform.h"
#include "records/data_fields.h"
#include "records/print_buffer.h"
#include "records/system_data.h"
#include "serial/uartstdio.h"
#include "storage/microsd.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Length of a text field of the record, terminated or not.
template <std::size_t N> int flen(const char (&field)[N])
{
    return static_cast<int>(strnlen(field, N));
}

// Prints a text on the console, waiting for room in the transmit ring so
// that nothing of a long block is dropped.
void console_text(const char* text, std::size_t len)
{
    if (static_cast<std::size_t>(UARTTxBytesFree()) <= len) {
        wait_consoleTx();
    }
    UARTwrite(text, static_cast<uint32_t>(len));
}

// The data file, opened for one writer.
class DataFile {
  public:
    // Opens the file (created when absent) positioned at its end; reports
    // and returns false on failure, leaving nothing open.
    bool open_end()
    {
        std::memcpy(name_, sys_data.fileName, sizeof sys_data.fileName);
        name_[sizeof sys_data.fileName] = '\0';
        FRESULT fr = data_file_open(&fil_, name_, FA_READ | FA_WRITE | FA_OPEN_ALWAYS);
        if (fr != FR_OK) {
            uprintf("f_open error: %s\r\n", StringFromFresult(fr));
            return false;
        }
        fr = data_file_seek_end(&fil_, name_);
        if (fr != FR_OK) {
            uprintf("f_lseek error: %s\r\n", StringFromFresult(fr));
            f_close(&fil_);
            return false;
        }
        return true;
    }

    // Appends text; false when the card did not take all of it.
    bool write(const char* text, std::size_t len, const char* what = "f_write error")
    {
        UINT written = 0;
        FRESULT fr = f_write(&fil_, text, static_cast<UINT>(len), &written);
        if (fr != FR_OK) {
            uprintf("%s: %s\r\n", what, StringFromFresult(fr));
            complete_ = false;
            return false;
        }
        if (written < len) {
            uprintf("%s: card full, %u of %u bytes written\r\n", what, static_cast<unsigned>(written),
                    static_cast<unsigned>(len));
            complete_ = false;
            return false;
        }
        return true;
    }

    // Keeps the end of what was written for "gdata" (and, after complete
    // writes, for the next append), then closes.
    bool close()
    {
        sys_samp.next_gdata_fptr = static_cast<uint32_t>(f_tell(&fil_));
        if (complete_) {
            data_file_remember_end(&fil_, name_);
        }
        FRESULT fr = f_close(&fil_);
        if (fr != FR_OK) {
            uprintf("f_close error: %s\r\n", StringFromFresult(fr));
            return false;
        }
        return true;
    }

  private:
    FIL fil_{};
    char name_[sizeof sys_data.fileName + 1] = {};
    bool complete_ = true;
};

// Output of the metadata writer: each line goes to the file (while file
// output is on) and then to the console.
class MetaOut {
  public:
    MetaOut(bool console, bool file) : console_(console), file_(file) {}

    bool file_on() const { return file_; }
    int result() const { return result_; }

    void open()
    {
        if (file_ && !df_.open_end()) {
            fail();
        }
    }
    void close()
    {
        if (file_ && !df_.close()) {
            fail();
        }
    }
    void drain()
    {
        if (console_) {
            wait_consoleTx();
        }
    }

    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char text[256];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(text, sizeof text, fmt, ap);
        va_end(ap);
        emit(text, text, false);
    }

    // A line whose file and console texts differ.
    void line2(const char* file_text, const char* console_text)
    {
        if (file_) {
            df_.write(file_text, std::strlen(file_text));
        }
        if (console_) {
            console_line(console_text);
        }
    }

    // A line only for the file.
    void file_line(const char* text)
    {
        if (file_) {
            df_.write(text, std::strlen(text));
        }
    }

    // A calendar line (pump delay, deploy time): a failed write ends the
    // file output and fails the writer.
    void time_line(const char* fmt, uint32_t t)
    {
        char text[50];
        std::strftime(text, sizeof text, fmt, rtc_localtime(t));
        emit(text, text, true);
    }

  private:
    void fail()
    {
        file_ = false;
        result_ = 1;
    }

    void console_line(const char* text) { console_text(text, std::strlen(text)); }

    void emit(const char* file_text, const char* con_text, bool critical)
    {
        if (file_) {
            bool ok = df_.write(file_text, std::strlen(file_text),
                                critical ? "Current time f_write error" : "f_write error");
            if (!ok && critical) {
                fail();
            }
        }
        if (console_) {
            console_line(con_text);
        }
    }

    bool console_;
    bool file_;
    int result_ = 0;
    DataFile df_;
};

bool card_enabled_any()
{
    return sys_data.app_cfg[APPCFG_MICROSD_ENABLE] != 0;
}

} // namespace

// --- Data header ------------------------------------------------------------------

int print_write_data_header(uint32_t printFlg, uint32_t writeFlg)
{
    const bool console = printFlg == 1;
    const bool file = writeFlg == 1 && sys_data.app_cfg[APPCFG_MICROSD_ENABLE] == 1;
    const unsigned char* c = sys_data.data_cfg;

    uprintf("\r\n\r\n");

    LineBuilder h(prnBuf, sizeof prnBuf);
    for (const DataField& f : DATA_FIELDS) {
        const char* names = data_field_header(f, c[f.index]);
        if (names != nullptr) {
            h.add("%s", names);
        }
    }
    if (sys_data.pump_seq_type == 2) {
        h.add("%s", HEADER_PUMP);
    }
    h.end_line();

    if (console) {
        console_text(prnBuf, h.length());
    }
    int result = 0;
    if (file) {
        DataFile df;
        if (!df.open_end()) {
            result = 1;
        } else {
            df.write(prnBuf, h.length());
            if (!df.close()) {
                result = 1;
            }
        }
    }
    if (console) {
        wait_consoleTx();
    }
    return result;
}

void print_data_header()
{
    print_write_data_header(1, 0);
}

int write_data_header()
{
    return print_write_data_header(0, 1);
}

void get_header()
{
    print_write_data_header(1, 0);
}

// --- Data-field listing ------------------------------------------------------------

void print_write_config_data_fields(uint32_t printFlg, uint32_t writeFlg, uint32_t padFlg)
{
    const bool console = printFlg == 1;
    bool file = writeFlg == 1 && card_enabled_any();
    const char* p = padFlg == 1 ? "// " : "";
    const unsigned char* c = sys_data.data_cfg;

    DataFile df;
    if (file && !df.open_end()) {
        file = false;
    }
    for (const DataField& f : DATA_FIELDS) {
        const DataChoice* choice = data_field_choice(f, c[f.index]);
        if (f.kind == DataKind::Spare || (f.choice_count > 0 && choice == nullptr)) {
            continue;
        }
        const char* note = choice != nullptr ? choice->note : "";
        char text[96];
        if (f.letter != 0) {
            std::snprintf(text, sizeof text, "%s%c -- %s= %u%s\r\n", p, f.letter, f.listing, c[f.index],
                          note);
        } else {
            std::snprintf(text, sizeof text, "%s     %s= %u%s\r\n", p, f.listing, c[f.index], note);
        }
        const std::size_t len = std::strlen(text);
        if (console) {
            console_text(text, len);
        }
        if (file) {
            df.write(text, len);
        }
    }

    if (file) {
        df.close();
    }
}

void print_config_data_fields()
{
    print_write_config_data_fields(1, 0, 1);
}

// --- Metadata block -----------------------------------------------------------------

int print_write_metadata_header(uint32_t /*currentTime*/, uint32_t printFlg, uint32_t writeFlg)
{
    const systemData& d = sys_data;
    MetaOut out(printFlg == 1, writeFlg == 1 && card_enabled_any());
    out.open();

    out.line("\r\n\r\n");
    out.line("//++************** Deployment Settings ***************\r\n");
    out.line("// Firmware version: \t%.*s\r\n", flen(d.qa.firmware_version), d.qa.firmware_version);
    out.line("// Sampling period (s)\t%u\r\n", static_cast<unsigned>(d.sampling_period));
    out.line(d.sample_aligned != 0 ? "// Samples hour align:\tYes\r\n" : "// Samples hour align:\tNo\r\n");
    out.line("// Vrsi sps,trials: \t%u, %u\r\n", static_cast<unsigned>(d.Vrsi_sps),
             static_cast<unsigned>(d.Vrsi_trials));
    out.line("// Vrse sps,trials: \t%u, %u\r\n", static_cast<unsigned>(d.Vrse_sps),
             static_cast<unsigned>(d.Vrse_trials));
    out.line("// Vtherm sps,trials\t%u, %u\r\n", static_cast<unsigned>(d.Vtherm_sps),
             static_cast<unsigned>(d.Vtherm_trials));
    out.line("// Ik sps, trials:   \t%u, %u\r\n", static_cast<unsigned>(d.Ik_sps),
             static_cast<unsigned>(d.Ik_trials));
    out.line("// Vk sps, trials:   \t%u, %u\r\n", static_cast<unsigned>(d.Vk_sps),
             static_cast<unsigned>(d.Vk_trials));
    out.line("// Ib sps, trials:   \t%u, %u\r\n", static_cast<unsigned>(d.Ib_sps),
             static_cast<unsigned>(d.Ib_trials));
    out.line("// Vb sps, trials:   \t%u, %u\r\n", static_cast<unsigned>(d.Vb_sps),
             static_cast<unsigned>(d.Vb_trials));
    out.line("// Vbias sps,trials: \t%u, %u\r\n", static_cast<unsigned>(d.Vbias_sps),
             static_cast<unsigned>(d.Vbias_trials));

    const unsigned ontime1 = static_cast<unsigned>(d.pump1_ontime);
    if (ontime1 != 0) {
        if (d.start_pump_time != 0) {
            out.time_line("// Pump delay until:\t%Y/%m/%d %H:%M:%S\r\n", d.start_pump_time);
        } else {
            out.line("// Pump start delay: \t0\r\n");
        }
    } else {
        out.line("// Pump on time (s):\t%u\r\n", ontime1);
    }
    if (ontime1 != 0 && d.pump_seq_type == 1) {
        out.line("// Pump seq type:   \tPUMP_SINGLE\r\n");
        if (d.test_mode != 0) {
            out.line("// Pump on time (s):\t%u  (TEST MODE, pump disabled)\r\n", ontime1);
        } else {
            out.line("// Pump on time (s):\t%u\r\n", ontime1);
        }
    } else if (ontime1 != 0 && d.pump_seq_type == 2) {
        out.line("// Pump seq type:   \t2PUMP_ORVEKV1\r\n");
        out.line("// Pump1 on time (s):\t%u\r\n", ontime1);
        out.line("// Pump2 on time (s):\t%u\r\n", static_cast<unsigned>(d.pump2_ontime));
        out.line("// Pump1 cycles:     \t%u\r\n", static_cast<unsigned>(d.pump1_cycles));
        out.line("// Pump2 cycles:     \t%u\r\n", static_cast<unsigned>(d.pump2_cycles));
    } else if (ontime1 != 0 && d.pump_seq_type > 2) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "// Hey there, add pump sequencer metadata for new seq_type=%u\t%u\r\n",
                      static_cast<unsigned>(d.pump_seq_type), ontime1);
        out.file_line(text);
    }
    if (d.sampleCnt_duty_on != 0) {
        out.line("// Exp Duty Cycle On \t%u\r\n", static_cast<unsigned>(d.sampleCnt_duty_on));
        out.line("// Exp Duty Cycle Off\t%u\r\n", static_cast<unsigned>(d.sampleCnt_duty_off));
    }
    out.line("// Low battery voltage:\t%.1f\r\n", static_cast<double>(d.low_batt_volt));
    if (d.output == NORMAL) {
        out.line("// Output mode:        \tNormal\r\n");
    } else if (d.output == VERBOSE) {
        out.line("// Output mode:        \tVerbose\r\n");
    }
    if (d.deploy_time == 0) {
        out.line("// Deploy time:   \tnot deployed\r\n"); // count 0 is 1899/12/31 18:00:00
    } else {
        out.time_line("// Deploy time:   \t%Y/%m/%d %H:%M:%S\r\n", d.deploy_time);
    }
    out.line(d.GMT != 0 ? "// Time zone:       \tGMT\r\n" : "// Time zone:       \tLocal\r\n");
    out.drain();

    out.line("// TCOffset:     \t%f\r\n", static_cast<double>(d.TCOffset));
    out.line("// k0int:        \t%f\r\n", static_cast<double>(d.k0int));
    out.line("// k0ext:        \t%f\r\n", static_cast<double>(d.k0ext));
    out.line("// k2int:        \t%f\r\n", static_cast<double>(d.k2int));
    out.line("// k2ext:        \t%f\r\n", static_cast<double>(d.k2ext));
    out.line("// Def Sal (ppt):\t%f\r\n", static_cast<double>(d.default_sal));
    out.line("// Offset Ik:    \t%f\r\n", static_cast<double>(d.offset_Ik));
    out.line("// Offset Ib:    \t%f\r\n", static_cast<double>(d.offset_Ib));
    char ftext[64];
    char ctext[64];
    char number[32];
    auto coefficient = [&](const char* name, double value) {
        // The fewest significant digits that read back as the stored value:
        // temperatures recomputed from the file must match the record's.
        for (int digits = 6; digits <= 17; ++digits) {
            std::snprintf(number, sizeof number, "%.*g", digits, value);
            if (std::strtod(number, nullptr) == value) {
                break;
            }
        }
        std::snprintf(ftext, sizeof ftext, "// S-H %-10s\t%s\r\n", name, number);
        std::snprintf(ctext, sizeof ctext, "// s-h %-10s\t%s\r\n", name, number);
        out.line2(ftext, ctext);
    };
    if (d.app_cfg[APPCFG_TEMPC_SH_ALG] == 0) {
        coefficient("c0", d.quadTherm_c0);
        coefficient("c1", d.quadTherm_c1);
        coefficient("c2", d.quadTherm_c2);
        coefficient("c3", d.quadTherm_c3);
    } else if (d.app_cfg[APPCFG_TEMPC_SH_ALG] == 1) {
        coefficient("A", d.shTherm_A);
        coefficient("B", d.shTherm_B);
        coefficient("C", d.shTherm_C);
    }
    out.line("// Version Info: \t%s\r\n", FIRMWARE_VERSION_STR);
    out.line("// File name:     \t%.*s\r\n", flen(d.fileName), d.fileName);
    out.line("// User initials: \t%.*s\r\n", flen(d.user), d.user);
    out.drain();

    out.line("// Board SN:      \t%.*s\r\n", flen(d.board_SN), d.board_SN);
    out.line("// TAMB SN:       \t%.*s\r\n", flen(d.tamb_SN), d.tamb_SN);
    out.line("// DuraFET SN:    \t%.*s\r\n", flen(d.durafet_SN), d.durafet_SN);
    out.line("// Optode SN:     \t%.*s\r\n", flen(d.optode_SN), d.optode_SN);
    out.line("// CTD SN:        \t%.*s\r\n", flen(d.ctd_SN), d.ctd_SN);
    out.line("// Pump1 SN:      \t%.*s\r\n", flen(d.pump_SN), d.pump_SN);
    out.line("// Pump2 SN:      \t%.*s\r\n", flen(d.pump2_SN), d.pump2_SN);
    out.line("// Package name:  \t%.*s\r\n", flen(d.package_name), d.package_name);
    out.line("// Fab Note:      \t%.*s\r\n", flen(d.board_fab_note), d.board_fab_note);
    out.line("// Deploy note:   \t%.*s\r\n", flen(d.deploy_note), d.deploy_note);
    out.close();

    print_write_config_data_fields(printFlg, out.file_on() ? 1 : 0, 1);

    out.open();
    out.line("//--**************************************************\r\n");
    out.line("\r\n\r\n");
    out.close();
    out.drain();
    return out.result();
}

void print_metadata_header(uint32_t currentTime)
{
    print_write_metadata_header(currentTime, 1, 0);
}

int write_metadata_header(uint32_t currentTime)
{
    return print_write_metadata_header(currentTime, 0, 1);
}

void print_all_metadata()
{
    print_write_metadata_header(HibernateRTCGet(), 1, 0);
}
