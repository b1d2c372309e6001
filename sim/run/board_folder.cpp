// The board folder: its store images mapped shared, the hibernation
// module's record, and the .gitignore of a new folder.
#include "sim/run/board_folder.h"

#include "sim/devices/board_services.h"
#include "sim/run/run_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

// hibernate.txt: the state's text (at most 467 bytes) padded to this size.
constexpr std::size_t HIB_FILE_BYTES = 512;

uint8_t* g_eeprom = nullptr;
uint8_t* g_fram = nullptr;

bool ensure_dir(const std::string& dir)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    return mkdir(dir.c_str(), 0755) == 0;
}

uint8_t* map_file(const std::string& path, std::size_t size, bool* created)
{
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st;
    fstat(fd, &st);
    *created = st.st_size == 0;
    if (static_cast<std::size_t>(st.st_size) != size) {
        if (st.st_size != 0) {
            log("%s has %lld bytes, expected %zu; resized", path.c_str(), static_cast<long long>(st.st_size),
                size);
        }
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            close(fd);
            return nullptr;
        }
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
}

} // namespace

bool board_folder_open(const std::string& dir)
{
    if (!ensure_dir(dir)) {
        log("cannot use board folder %s", dir.c_str());
        return false;
    }
    bool new_eeprom = false;
    bool new_fram = false;
    g_eeprom = map_file(board_path("eeprom.bin"), EEPROM_BYTES, &new_eeprom);
    g_fram = map_file(board_path("fram.bin"), FRAM_BYTES, &new_fram);
    if (g_eeprom == nullptr || g_fram == nullptr) {
        log("cannot map the EEPROM or FRAM image in %s", dir.c_str());
        return false;
    }
    if (new_eeprom) {
        std::memset(g_eeprom, 0xFF, EEPROM_BYTES);
    }
    if (new_fram) {
        std::memset(g_fram, 0xFF, FRAM_BYTES);
    }
    return true;
}

void board_folder_close()
{
    if (g_eeprom != nullptr) {
        munmap(g_eeprom, EEPROM_BYTES);
    }
    if (g_fram != nullptr) {
        munmap(g_fram, FRAM_BYTES);
    }
    g_eeprom = nullptr;
    g_fram = nullptr;
}

bool board_folder_load_hib(HibState* h)
{
    FILE* f = std::fopen(board_path("hibernate.txt").c_str(), "r");
    if (f == nullptr) {
        return false;
    }
    HibState s{};
    char key[32];
    unsigned long long value;
    int fields = 0;
    while (std::fscanf(f, "%31s %llu", key, &value) == 2) {
        std::string k = key;
        uint32_t v = static_cast<uint32_t>(value);
        ++fields;
        if (k == "active")
            s.active = v;
        else if (k == "rtc_enabled")
            s.rtc_enabled = v;
        else if (k == "rtc_seconds")
            s.rtc_seconds = v;
        else if (k == "match0")
            s.match0 = v;
        else if (k == "wake_flags")
            s.wake_flags = v;
        else if (k == "raw_status")
            s.raw_status = v;
        else if (k == "trim")
            s.trim = v;
        else if (k == "clock_config")
            s.clock_config = v;
        else if (k == "hibernating")
            s.hibernating = v;
        else if (k.rfind("data", 0) == 0 && k.size() > 4) {
            int i = std::atoi(k.c_str() + 4);
            if (i >= 0 && i < 16)
                s.data[i] = v;
        } else {
            --fields;
        }
    }
    std::fclose(f);
    if (fields == 0) {
        return false;
    }
    *h = s;
    return true;
}

void board_folder_save_hib()
{
    HibState h = run_shared().hib;
    h.rtc_seconds = hib_rtc_now();
    // The text, padded with spaces to a fixed size so that the file can be
    // rewritten in place by one write (the loader skips white space): saved
    // at every wake, and a rename over the old file costs the file system a
    // flush each time (about 1 ms of a sample wake's host time).  A process
    // stopped at any point leaves either the old or the new state.
    char text[HIB_FILE_BYTES];
    int n =
        std::snprintf(text, sizeof text,
                      "active %u\nrtc_enabled %u\nrtc_seconds %u\nmatch0 %u\nwake_flags %u\nraw_status %u\n"
                      "trim %u\nclock_config %u\nhibernating %u\n",
                      h.active, h.rtc_enabled, h.rtc_seconds, h.match0, h.wake_flags, h.raw_status, h.trim,
                      h.clock_config, h.hibernating);
    for (int i = 0; i < 16 && n > 0 && static_cast<std::size_t>(n) < sizeof text; ++i) {
        n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), "data%d %u\n", i, h.data[i]);
    }
    std::memset(text + n, ' ', sizeof text - static_cast<std::size_t>(n) - 1);
    text[sizeof text - 1] = '\n';

    std::string path = board_path("hibernate.txt");
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size == static_cast<off_t>(sizeof text)) {
        int fd = open(path.c_str(), O_WRONLY);
        if (fd >= 0) {
            const ssize_t w = pwrite(fd, text, sizeof text, 0);
            close(fd);
            if (w == static_cast<ssize_t>(sizeof text)) {
                return;
            }
        }
    }
    // A new board, or a file of another size (an older simulator, a hand
    // edit): the whole file through a temporary and a rename.
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) {
        log("cannot write %s: %s", path.c_str(), std::strerror(errno));
        return;
    }
    std::fwrite(text, 1, sizeof text, f);
    std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
}

// A board folder is the simulator's working state, never part of a source
// tree it may have been created in: git ignores everything in it.
void board_folder_keep_out_of_git()
{
    std::string path = board_path(".gitignore");
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        return;
    }
    FILE* f = std::fopen(path.c_str(), "w");
    if (f != nullptr) {
        std::fputs("# Board folder of varve-sim: not source.\n*\n", f);
        std::fclose(f);
    }
}

uint8_t* eeprom_image()
{
    return g_eeprom;
}

uint8_t* fram_image()
{
    return g_fram;
}

std::string board_path(const char* name)
{
    return run().opts.board_dir + "/" + name;
}

} // namespace sim
