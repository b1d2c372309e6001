// Simulated microSD card on SSI0 in SPI mode: chip select PA3, card detect
// PL5 (low = card in the socket), backed by card.img in the board folder.
//
// The card speaks the SPI-mode command set the block driver uses (CMD0, 1,
// 8, 9, 10, 12, 13, 16, 17, 18, 24, 25, 55, 58, 59, ACMD23, ACMD41) with R1,
// R3 and R7 responses, data tokens, data responses and busy periods.  It is
// one of four variants (RunOptions param "card"): "sdhc" (version 2, block
// addressed), "sdv2" (version 2, byte addressed), "sdv1" (version 1, byte
// addressed), "mmc"; or "none" for an empty socket.
//
// Faults (params): card_removed_at=SECONDS, card_busy_init=1,
// card_no_read_token=1, card_write_reject=1, card_cut_after_writes=N.
//
// One file, over 500 lines: the command, data-token and busy phases are one
// state machine over the card's state, and the variants differ only in a
// few of its branches.
#include "platform/host/chip.h"
#include "platform/host/sim_core.h"
#include "sim/devices/device_counters.h"
#include "sim/devices/board_services.h"
#include "sim/devices/card_image.h"
#include "sim/devices/device_param.h"
#include "platform/platform.h"

#include <array>
#include <memory>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

enum class Kind { Sdhc, SdV2, SdV1, Mmc };

// Card behaviour in simulated time.
constexpr Time INIT_TIME_NS = 20 * NS_PER_MS;   // ACMD41/CMD1 busy after the first one
constexpr Time WRITE_BUSY_NS = 250 * NS_PER_US; // programming one block
constexpr Time STOP_BUSY_NS = 100 * NS_PER_US;  // after the stop token
constexpr int READ_ACCESS_BYTES = 3;            // 0xFF bytes before a data token
constexpr int CLOCK_TRAIN_BYTES = 10;           // 80 clocks with select high

// R1 bits.
constexpr uint8_t R1_IDLE = 0x01;
constexpr uint8_t R1_ILLEGAL = 0x04;
constexpr uint8_t R1_CRC = 0x08;
constexpr uint8_t R1_ADDRESS = 0x20;
constexpr uint8_t R1_PARAM = 0x40;

// Card state that outlives a reset of the processor.
struct Shared {
    uint64_t sector_writes;  // blocks written in this run
    uint32_t cut_done;       // the power cut has happened
    uint32_t size_refused;   // the image's size was refused (said once per run)
    uint32_t monitor_out;    // the monitor took the card out
    uint32_t monitor_reject; // the monitor switched the write-reject fault over
};

bool param_set(const char* key)
{
    auto it = device_params().find(key);
    return it != device_params().end() && !it->second.empty() && it->second != "0";
}

std::string param(const char* key, const char* dflt)
{
    auto it = device_params().find(key);
    return it != device_params().end() ? it->second : dflt;
}

uint8_t crc7(const uint8_t* d, int n)
{
    uint8_t crc = 0;
    for (int i = 0; i < n; ++i) {
        uint8_t b = d[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint8_t>(crc << 1);
            if (((b ^ crc) & 0x80) != 0) {
                crc ^= 0x09;
            }
            b = static_cast<uint8_t>(b << 1);
        }
    }
    return static_cast<uint8_t>((crc << 1) | 1);
}

class SdCard : public SpiDevice {
  public:
    bool boot()
    {
        std::string kind = param("card", "sdhc");
        if (kind == "none") {
            return false;
        }
        if (kind == "sdhc")
            kind_ = Kind::Sdhc;
        else if (kind == "sdv2")
            kind_ = Kind::SdV2;
        else if (kind == "sdv1")
            kind_ = Kind::SdV1;
        else if (kind == "mmc")
            kind_ = Kind::Mmc;
        else {
            log("unknown card type \"%s\" (sdhc, sdv2, sdv1, mmc, none): no card fitted", kind.c_str());
            return false;
        }
        shared_ = static_cast<Shared*>(shared_area("sdcard", sizeof(Shared)));
        std::string path = board_path("card.img");
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            const uint64_t mib = param_count_or("microSD card", "card_size_mib", 1, 1000000000, 1024);
            const Status made = card_image_create(path, mib != 0 ? mib << 20 : CARD_DEFAULT_BYTES);
            if (!made.ok()) {
                log("microSD card: %s", made.message().c_str());
                return false;
            }
            log("new microSD card in %s (%llu MiB, FAT32)", path.c_str(),
                static_cast<unsigned long long>(mib != 0 ? mib : CARD_DEFAULT_BYTES >> 20));
        }
        fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0 || fstat(fd_, &st) != 0) {
            log("microSD card: cannot open %s: %s", path.c_str(), std::strerror(errno));
            return false;
        }
        sectors_ = static_cast<uint64_t>(st.st_size) / CARD_SECTOR;
        build_registers();
        // A real card's capacity is what its CSD says.  An image the CSD
        // cannot describe exactly would look shorter to the firmware than
        // to the card tool (its volume then "ends beyond the card"): such
        // an image is not fitted.
        const uint64_t reported = csd_sectors();
        if (reported != sectors_) {
            if (shared_->size_refused == 0) {
                shared_->size_refused = 1;
                log("microSD card: %s is %llu bytes, which a%s card cannot report as its capacity "
                    "(it would report %llu bytes); the socket stays empty.  %s",
                    path.c_str(), static_cast<unsigned long long>(st.st_size),
                    kind_ == Kind::Sdhc ? "n SDHC" : " standard-capacity",
                    static_cast<unsigned long long>(reported * CARD_SECTOR),
                    kind_ == Kind::Sdhc
                        ? "Use an image of a whole number of 512 KiB, at most 2 TiB."
                        : "Use an image of a whole number of MiB, at most 4 GiB (or --card sdhc).");
            }
            close(fd_);
            fd_ = -1;
            return false;
        }
        busy_init_ = param_set("card_busy_init");
        no_read_token_ = param_set("card_no_read_token");
        write_reject_ = param_set("card_write_reject") != (shared_->monitor_reject != 0);
        cut_after_ = param_count_or("microSD card", "card_cut_after_writes", 0, UINT64_MAX, 0);
        present_ = true;
        // Seconds of simulated time; a bad value is logged and the card stays.
        const double removed = param_number_or("microSD card", "card_removed_at", 0, 1e9, -1);
        if (removed >= 0) {
            Time at = static_cast<Time>(removed * static_cast<double>(NS_PER_S));
            if (at <= now()) {
                present_ = false;
            } else {
                schedule(at, [this] {
                    present_ = false;
                    gpio_drive('L', 5, true);
                    timeline("card", 0);
                });
            }
        }
        if (shared_->monitor_out != 0) {
            present_ = false;
        }
        gpio_watch('A', 3, [this](bool level) {
            if (level) {
                deselected();
            }
        });
        return present_;
    }

    // The monitor's commands, in a boot: the card goes or comes back now
    // (card-detect line and all), the write-reject fault switches.
    void set_present(bool on)
    {
        if (fd_ < 0) {
            return; // no card fitted in this boot
        }
        present_ = on;
        gpio_drive('L', 5, !on);
        timeline("card", on ? 1 : 0);
    }
    void set_write_reject(bool on) { write_reject_ = on; }

    uint32_t spi_exchange(uint32_t mosi) override
    {
        if (!present_) {
            return 0xFF;
        }
        auto in = static_cast<uint8_t>(mosi);
        if (gpio_level('A', 3)) {
            // Not selected: the card's data output is off the bus.  Clocks
            // with select high count towards entering SPI mode.
            if (!spi_mode_ && train_bytes_ < CLOCK_TRAIN_BYTES) {
                ++train_bytes_;
            }
            return 0xFF;
        }
        uint8_t out = next_output();
        take(in);
        return out;
    }

  private:
    enum class Rx { Command, WriteToken, WriteData };

    uint8_t next_output()
    {
        if (!out_.empty()) {
            uint8_t b = out_.front();
            out_.pop_front();
            return b;
        }
        if (now() < busy_until_) {
            return 0x00;
        }
        if (streaming_) {
            queue_block(stream_sector_++);
            if (stream_sector_ >= sectors_) {
                streaming_ = false;
            }
            uint8_t b = out_.front();
            out_.pop_front();
            return b;
        }
        return 0xFF;
    }

    void deselected()
    {
        out_.clear();
        cmd_len_ = 0;
        rx_ = Rx::Command;
        streaming_ = false;
    }

    void take(uint8_t in)
    {
        switch (rx_) {
        case Rx::WriteToken:
            if (in == 0xFE && !multi_) {
                start_block();
            } else if (in == 0xFC && multi_) {
                start_block();
            } else if (in == 0xFD && multi_) {
                rx_ = Rx::Command;
                busy_until_ = now() + STOP_BUSY_NS;
            }
            return;
        case Rx::WriteData:
            block_[block_pos_++] = in;
            if (block_pos_ == block_.size()) {
                end_block();
            }
            return;
        case Rx::Command:
            break;
        }
        if (cmd_len_ == 0 && (in & 0xC0) != 0x40) {
            return;
        }
        cmd_[cmd_len_++] = in;
        if (cmd_len_ == 6) {
            cmd_len_ = 0;
            command();
        }
    }

    void start_block()
    {
        rx_ = Rx::WriteData;
        block_pos_ = 0;
    }

    void end_block()
    {
        bool ok = !write_reject_ && write_sector_ < sectors_;
        if (ok) {
            off_t at = static_cast<off_t>(write_sector_ * CARD_SECTOR);
            ok = pwrite(fd_, block_.data(), CARD_SECTOR, at) == static_cast<ssize_t>(CARD_SECTOR);
        }
        out_.push_back(ok ? 0x05 : 0x0D); // data accepted / write error
        busy_until_ = now() + WRITE_BUSY_NS;
        ++write_sector_;
        rx_ = multi_ ? Rx::WriteToken : Rx::Command;
        if (ok && shared_ != nullptr) {
            shared_->sector_writes++;
            device_counters().card_sector_writes++;
            if (cut_after_ != 0 && shared_->cut_done == 0 && shared_->sector_writes >= cut_after_) {
                shared_->cut_done = 1;
                log("microSD card: power cut after sector write %llu",
                    static_cast<unsigned long long>(shared_->sector_writes));
                boot_end(BootEnd::PowerCycle);
            }
        }
    }

    void r1(uint8_t v)
    {
        out_.push_back(0xFF); // one byte of command response time
        out_.push_back(v);
    }

    uint8_t status() const { return idle_ ? R1_IDLE : 0; }

    // Address of a read or write command as a sector, or an R1 error.
    uint8_t sector_of(uint32_t arg, uint64_t* sector) const
    {
        if (kind_ == Kind::Sdhc) {
            *sector = arg;
        } else {
            if (arg % CARD_SECTOR != 0) {
                return R1_ADDRESS;
            }
            *sector = arg / CARD_SECTOR;
        }
        return *sector < sectors_ ? 0 : R1_PARAM;
    }

    void queue_block(uint64_t sector)
    {
        for (int i = 0; i < READ_ACCESS_BYTES; ++i) {
            out_.push_back(0xFF);
        }
        std::array<uint8_t, CARD_SECTOR> data{};
        ssize_t n = pread(fd_, data.data(), data.size(), static_cast<off_t>(sector * CARD_SECTOR));
        (void)n; // beyond a short file the card reads zeros
        device_counters().card_sector_reads++;
        out_.push_back(0xFE);
        out_.insert(out_.end(), data.begin(), data.end());
        out_.push_back(0x00); // CRC (not checked in SPI mode)
        out_.push_back(0x00);
    }

    void queue_register(const std::array<uint8_t, 16>& reg)
    {
        out_.push_back(0xFF);
        out_.push_back(0xFE);
        out_.insert(out_.end(), reg.begin(), reg.end());
        out_.push_back(0x00);
        out_.push_back(0x00);
    }

    // Identification: the first ACMD41/CMD1 starts it, and the card stays
    // busy (idle bit set) for INIT_TIME_NS.
    uint8_t init_step()
    {
        if (!init_started_) {
            init_started_ = true;
            init_start_ = now();
        }
        if (!busy_init_ && now() >= init_start_ + INIT_TIME_NS) {
            idle_ = false;
        }
        return status();
    }

    void command()
    {
        const uint8_t idx = cmd_[0] & 0x3F;
        const uint32_t arg =
            (uint32_t{cmd_[1]} << 24) | (uint32_t{cmd_[2]} << 16) | (uint32_t{cmd_[3]} << 8) | cmd_[4];
        const uint8_t crc = cmd_[5];
        const bool app = app_cmd_;
        app_cmd_ = false;

        if (!spi_mode_) {
            // Only CMD0 with a valid CRC, after the clock train, switches
            // the card to SPI mode; anything else goes unanswered.
            if (idx == 0 && crc == 0x95 && train_bytes_ >= CLOCK_TRAIN_BYTES) {
                spi_mode_ = true;
                idle_ = true;
                init_started_ = false;
                r1(R1_IDLE);
            }
            return;
        }
        if (streaming_) {
            if (idx == 12) {
                streaming_ = false;
                out_.clear();
                out_.push_back(0x3C); // the stuff byte after CMD12
                out_.push_back(0x00);
            }
            return;
        }
        const bool sd = kind_ != Kind::Mmc;
        const uint8_t illegal = static_cast<uint8_t>(R1_ILLEGAL | status());
        switch (idx) {
        case 0:
            idle_ = true;
            init_started_ = false;
            r1(crc == 0x95 ? R1_IDLE : R1_IDLE | R1_CRC);
            return;
        case 1:
            if (sd) {
                r1(illegal);
            } else {
                r1(init_step());
            }
            return;
        case 8:
            if (kind_ == Kind::SdV1 || kind_ == Kind::Mmc) {
                r1(illegal);
            } else if (crc != 0x87) {
                r1(static_cast<uint8_t>(status() | R1_CRC));
            } else {
                r1(status());
                out_.push_back(0x00);
                out_.push_back(0x00);
                out_.push_back(static_cast<uint8_t>((arg >> 8) & 0x0F));
                out_.push_back(static_cast<uint8_t>(arg));
            }
            return;
        case 9:
        case 10:
            if (idle_) {
                r1(illegal);
            } else {
                r1(0);
                queue_register(idx == 9 ? csd_ : cid_);
            }
            return;
        case 12:
            out_.push_back(0x3C);
            out_.push_back(0x00);
            return;
        case 13:
            r1(status());
            out_.push_back(0x00);
            return;
        case 16:
            if (idle_) {
                r1(illegal);
            } else {
                r1(arg == CARD_SECTOR || kind_ == Kind::Sdhc ? 0 : R1_PARAM);
            }
            return;
        case 17:
        case 18:
        case 24:
        case 25: {
            if (idle_) {
                r1(illegal);
                return;
            }
            uint64_t sector = 0;
            uint8_t err = sector_of(arg, &sector);
            r1(err);
            if (err != 0) {
                return;
            }
            if (idx == 17) {
                if (!no_read_token_) {
                    queue_block(sector);
                }
            } else if (idx == 18) {
                streaming_ = !no_read_token_;
                stream_sector_ = sector;
            } else {
                multi_ = idx == 25;
                write_sector_ = sector;
                rx_ = Rx::WriteToken;
            }
            return;
        }
        case 23:
            r1(app && sd && !idle_ ? 0 : illegal);
            return;
        case 41:
            if (!app || !sd) {
                r1(illegal);
            } else if (kind_ == Kind::Sdhc && (arg & 0x40000000u) == 0) {
                // A high-capacity card never leaves idle for a host that
                // does not announce high-capacity support.
                init_step();
                idle_ = true;
                r1(R1_IDLE);
            } else {
                r1(init_step());
            }
            return;
        case 55:
            if (!sd) {
                r1(illegal);
            } else {
                app_cmd_ = true;
                r1(status());
            }
            return;
        case 58: {
            r1(status());
            uint8_t top = idle_ ? 0x00 : 0x80;
            if (!idle_ && kind_ == Kind::Sdhc) {
                top |= 0x40;
            }
            out_.push_back(top);
            out_.push_back(0xFF);
            out_.push_back(0x80);
            out_.push_back(0x00);
            return;
        }
        case 59:
            r1(status());
            return;
        default:
            r1(illegal);
            return;
        }
    }

    // Capacity in sectors as a host computes it from the CSD.
    uint64_t csd_sectors() const
    {
        if ((csd_[0] >> 6) == 1) {
            const uint64_t c_size = (uint64_t{csd_[7] & 0x3Fu} << 16) | (uint64_t{csd_[8]} << 8) | csd_[9];
            return (c_size + 1) * 1024;
        }
        const uint32_t read_bl_len = csd_[5] & 0x0Fu;
        const uint64_t c_size = (uint64_t{csd_[6] & 0x03u} << 10) | (uint64_t{csd_[7]} << 2) | (csd_[8] >> 6);
        const uint32_t mult = ((csd_[9] & 0x03u) << 1) | (csd_[10] >> 7);
        return (c_size + 1) << (mult + 2 + read_bl_len - 9);
    }

    void build_registers()
    {
        csd_.fill(0);
        if (kind_ == Kind::Sdhc) {
            uint64_t csize = sectors_ / 1024;
            csize = csize == 0 ? 0 : std::min<uint64_t>(csize - 1, 0x3FFFFF);
            csd_[0] = 0x40;
            csd_[1] = 0x0E;
            csd_[3] = 0x32;
            csd_[4] = 0x5B;
            csd_[5] = 0x59;
            csd_[7] = static_cast<uint8_t>((csize >> 16) & 0x3F);
            csd_[8] = static_cast<uint8_t>(csize >> 8);
            csd_[9] = static_cast<uint8_t>(csize);
            csd_[10] = 0x7F;
            csd_[11] = 0x80;
            csd_[12] = 0x0A;
            csd_[13] = 0x40;
        } else {
            // Version 1 layout: capacity = (C_SIZE + 1) << (C_SIZE_MULT + 2)
            // blocks of 2^READ_BL_LEN bytes; C_SIZE_MULT 7, the smallest
            // block length that reaches the image's size.
            uint32_t bl = 9;
            uint64_t csize = 0;
            for (bl = 9; bl <= 11; ++bl) {
                csize = sectors_ >> bl; // (bl + 7 + 2 - 9) = bl
                if (csize <= 4096) {
                    break;
                }
            }
            if (bl > 11) {
                bl = 11;
                csize = 4096;
            }
            csize = csize == 0 ? 0 : csize - 1;
            const uint32_t mult = 7;
            csd_[0] = kind_ == Kind::Mmc ? 0x80 : 0x00;
            csd_[1] = 0x26;
            csd_[3] = 0x32;
            csd_[4] = 0x5F;
            csd_[5] = static_cast<uint8_t>(0x50 | bl);
            csd_[6] = static_cast<uint8_t>(0x80 | ((csize >> 10) & 0x03));
            csd_[7] = static_cast<uint8_t>(csize >> 2);
            csd_[8] = static_cast<uint8_t>((csize & 0x03) << 6);
            csd_[9] = static_cast<uint8_t>(mult >> 1);
            csd_[10] = static_cast<uint8_t>(((mult & 1) << 7) | 0x7F);
            csd_[11] = 0x80;
            csd_[12] = 0x0A;
            csd_[13] = 0x40;
        }
        csd_[15] = crc7(csd_.data(), 15);
        const uint8_t cid[15] = {0x1D, 'V',  'S',  'V',  'A',  'R',  'V', 'E',
                                 0x10, 0x12, 0x34, 0x56, 0x78, 0x01, 0x9C};
        std::memcpy(cid_.data(), cid, sizeof cid);
        cid_[15] = crc7(cid_.data(), 15);
    }

    Kind kind_ = Kind::Sdhc;
    int fd_ = -1;
    uint64_t sectors_ = 0;
    bool present_ = false;
    Shared* shared_ = nullptr;
    bool busy_init_ = false;
    bool no_read_token_ = false;
    bool write_reject_ = false;
    uint64_t cut_after_ = 0;

    int train_bytes_ = 0;
    bool spi_mode_ = false;
    bool idle_ = true;
    bool app_cmd_ = false;
    bool init_started_ = false;
    Time init_start_ = 0;
    Time busy_until_ = 0;

    std::array<uint8_t, 6> cmd_{};
    int cmd_len_ = 0;
    std::deque<uint8_t> out_;
    Rx rx_ = Rx::Command;
    bool multi_ = false;
    uint64_t write_sector_ = 0;
    std::array<uint8_t, CARD_SECTOR + 2> block_{};
    std::size_t block_pos_ = 0;
    bool streaming_ = false;
    uint64_t stream_sector_ = 0;

    std::array<uint8_t, 16> csd_{};
    std::array<uint8_t, 16> cid_{};
};

std::unique_ptr<SdCard> g_card;

} // namespace

bool sdcard_monitor_toggle(bool write_reject, bool* now_on)
{
    auto* shared = static_cast<Shared*>(shared_area("sdcard", sizeof(Shared)));
    if (shared == nullptr) {
        return false;
    }
    if (write_reject) {
        shared->monitor_reject ^= 1;
        *now_on = param_set("card_write_reject") != (shared->monitor_reject != 0);
        if (g_card) {
            g_card->set_write_reject(*now_on);
        }
    } else {
        shared->monitor_out ^= 1;
        *now_on = shared->monitor_out == 0;
        if (g_card) {
            g_card->set_present(*now_on);
        }
    }
    return true;
}

// Fits the card (when the run has one) and drives the card-detect line.
void sdcard_boot()
{
    g_card = std::make_unique<SdCard>();
    bool present = g_card->boot();
    ssi_attach(SSI0_BASE, g_card.get());
    gpio_drive('L', 5, !present);
}

} // namespace sim
