// varve-sim card: the card tool.  Every command except fsck goes through
// the project's FAT module (storage/fatfs) on a file-backed media layer.
// One file, over 500 lines: one program whose commands share the image
// handling and the error texts at its top.
#include "sim/tools/card_tool.h"

#include "sim/devices/card_image.h"
#include "sim/tools/card_media.h"
#include "storage/fatfs/ff.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sim {

const char* const CARD_USAGE = "Usage: varve-sim card [--board DIR | --image FILE] COMMAND [ARGS]\n"
                               "\n"
                               "Lists and changes the files on a microSD card image.\n"
                               "\n"
                               "  --board DIR     the card of the simulated board in DIR (default\n"
                               "                  ./varve-board): DIR/card.img, created and formatted\n"
                               "                  when the board has none yet\n"
                               "  --image FILE    any card image, with an MBR partition table or without\n"
                               "                  one (for example a dump of a real card taken with dd)\n"
                               "\n"
                               "Commands (names are 8.3, case-insensitive; '/' separates directories):\n"
                               "  ls [DIR]            list a directory (default: the root)\n"
                               "  get NAME [DEST]     copy a file off the card (DEST '-' = standard output;\n"
                               "                      default: the file's name in the current directory)\n"
                               "  put SRC [NAME]      copy a host file onto the card (replaces NAME once\n"
                               "                      the whole copy is on the card)\n"
                               "  rm NAME             remove a file or an empty directory\n"
                               "  mkdir NAME          make a directory\n"
                               "  mv OLD NEW          rename or move a file or directory\n"
                               "  fsck                check the file system with fsck.fat -n\n"
                               "  format [--size MIB] new empty FAT32 file system (all files are lost);\n"
                               "                      --size makes a new image of that size\n"
                               "\n"
                               "Exit status: 0 success, 1 failure (message on standard error), 2 usage.\n";

namespace {

constexpr const char* PREFIX = "varve-sim card";

int fail(const std::string& msg)
{
    std::fprintf(stderr, "%s: %s\n", PREFIX, msg.c_str());
    return 1;
}

int usage(const std::string& msg)
{
    std::fprintf(stderr, "%s: %s\n(see varve-sim card --help)\n", PREFIX, msg.c_str());
    return 2;
}

const char* explain(FRESULT fr)
{
    switch (fr) {
    case FR_OK:
        return "ok";
    case FR_DISK_ERR:
        return "the image could not be read or written";
    case FR_INT_ERR:
        return "the file system is corrupt";
    case FR_NOT_READY:
        return "the image is not ready";
    case FR_NO_FILE:
        return "no such file";
    case FR_NO_PATH:
        return "no such directory";
    case FR_INVALID_NAME:
        return "not a valid 8.3 name";
    case FR_DENIED:
        return "refused (read-only, directory not empty, directory full or card full)";
    case FR_EXIST:
        return "already exists";
    case FR_INVALID_OBJECT:
        return "invalid file object";
    case FR_WRITE_PROTECTED:
        return "the image is read-only";
    case FR_INVALID_DRIVE:
        return "invalid drive";
    case FR_NOT_ENABLED:
        return "no volume";
    case FR_NO_FILESYSTEM:
        return "not a FAT volume";
    default:
        return "file system error";
    }
}

// `denied` replaces the general text of FR_DENIED where the command knows
// which of its causes applies.
int fr_fail(const std::string& what, FRESULT fr, const char* denied = nullptr)
{
    const char* text = fr == FR_DENIED && denied != nullptr ? denied : explain(fr);
    return fail(what + ": " + text + " (" + std::to_string(static_cast<int>(fr)) + ")");
}

std::string base_name(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    std::size_t slash = p.find_last_of("/\\");
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Card path as the FAT module takes it: absolute.
std::string card_path(const std::string& name)
{
    if (name.empty() || name == "/" || name == "::" || name == "::/") {
        return "/";
    }
    if (name[0] == '/' || name[0] == '\\') {
        return name;
    }
    return "/" + name;
}

bool is_card_dir(const std::string& path)
{
    if (path == "/") {
        return true;
    }
    FILINFO fi{};
    return f_stat(path.c_str(), &fi) == FR_OK && (fi.fattrib & AM_DIR) != 0;
}

void print_entry(const FILINFO& fi)
{
    char size[24];
    if ((fi.fattrib & AM_DIR) != 0) {
        std::snprintf(size, sizeof size, "%s", "<DIR>");
    } else {
        std::snprintf(size, sizeof size, "%lu", static_cast<unsigned long>(fi.fsize));
    }
    std::printf("%10s  %04u-%02u-%02u %02u:%02u  %s\n", size, 1980u + (fi.fdate >> 9), (fi.fdate >> 5) & 15u,
                fi.fdate & 31u, fi.ftime >> 11, (fi.ftime >> 5) & 63u, fi.fname);
}

int cmd_ls(const std::vector<std::string>& args)
{
    if (args.size() > 1) {
        return usage("ls takes at most one directory");
    }
    std::string path = card_path(args.empty() ? "/" : args[0]);
    DIR dir{};
    FRESULT fr = f_opendir(&dir, path.c_str());
    if (fr == FR_NO_PATH || fr == FR_NO_FILE) {
        FILINFO fi{};
        if (path != "/" && f_stat(path.c_str(), &fi) == FR_OK) {
            print_entry(fi); // a file: list just that one
            return 0;
        }
    }
    if (fr != FR_OK) {
        return fr_fail("ls " + path, fr);
    }
    unsigned files = 0;
    unsigned dirs = 0;
    unsigned long long bytes = 0;
    for (;;) {
        FILINFO fi{};
        fr = f_readdir(&dir, &fi);
        if (fr != FR_OK) {
            f_closedir(&dir);
            return fr_fail("ls " + path, fr);
        }
        if (fi.fname[0] == '\0') {
            break;
        }
        print_entry(fi);
        if ((fi.fattrib & AM_DIR) != 0) {
            ++dirs;
        } else {
            ++files;
            bytes += fi.fsize;
        }
    }
    f_closedir(&dir);
    DWORD free_clusters = 0;
    FATFS* fs = nullptr;
    fr = f_getfree("", &free_clusters, &fs);
    if (fr != FR_OK) {
        return fr_fail("free space", fr);
    }
    unsigned long long free_bytes =
        static_cast<unsigned long long>(free_clusters) * fs->csize * FF_SECTOR_SIZE;
    std::printf("%u file(s), %llu bytes; %u dir(s); %llu bytes free\n", files, bytes, dirs, free_bytes);
    return 0;
}

int cmd_get(const std::vector<std::string>& args)
{
    if (args.empty() || args.size() > 2) {
        return usage("get needs NAME [DEST]");
    }
    std::string path = card_path(args[0]);
    std::string dest = args.size() == 2 ? args[1] : base_name(args[0]);
    struct stat st;
    if (dest != "-" && stat(dest.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        dest += "/" + base_name(args[0]);
    }
    FIL fil{};
    FRESULT fr = f_open(&fil, path.c_str(), FA_READ);
    if (fr != FR_OK) {
        return fr_fail("get " + args[0], fr);
    }
    FILE* out = dest == "-" ? stdout : std::fopen(dest.c_str(), "wb");
    if (out == nullptr) {
        f_close(&fil);
        return fail("get: cannot write " + dest + ": " + std::strerror(errno));
    }
    std::vector<char> buf(64 * 1024);
    int status = 0;
    for (;;) {
        UINT got = 0;
        fr = f_read(&fil, buf.data(), static_cast<UINT>(buf.size()), &got);
        if (fr != FR_OK) {
            status = fr_fail("get " + args[0], fr);
            break;
        }
        if (got == 0) {
            break;
        }
        if (std::fwrite(buf.data(), 1, got, out) != got) {
            status = fail("get: cannot write " + dest + ": " + std::strerror(errno));
            break;
        }
    }
    f_close(&fil);
    if (out != stdout) {
        if (std::fclose(out) != 0 && status == 0) {
            status = fail("get: cannot write " + dest);
        }
        if (status != 0) {
            std::remove(dest.c_str());
        }
    } else {
        std::fflush(stdout);
    }
    return status;
}

// Directory part of a card path ("/" for the root) and a free temporary
// name in it.
std::string card_dir_of(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string free_temp_name(const std::string& dir)
{
    for (unsigned i = 0; i < 10000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "~PUT%04u.TMP", i);
        std::string path = (dir == "/" ? "" : dir) + "/" + name;
        FILINFO fi{};
        if (f_stat(path.c_str(), &fi) == FR_NO_FILE) {
            return path;
        }
    }
    return "";
}

// Copies the host file into a temporary file beside NAME and renames it to
// NAME only when the whole copy is on the card, so that a failed copy (for
// example "the card is full") leaves an existing NAME as it was.
int cmd_put(const std::vector<std::string>& args)
{
    if (args.empty() || args.size() > 2) {
        return usage("put needs SRC [NAME]");
    }
    FILE* in = std::fopen(args[0].c_str(), "rb");
    struct stat st;
    if (in == nullptr || fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
        int err = errno;
        if (in != nullptr) {
            std::fclose(in);
            return fail("put: " + args[0] + " is not a regular file");
        }
        return fail("put: cannot read " + args[0] + ": " + std::strerror(err));
    }
    std::string path = card_path(args.size() == 2 ? args[1] : base_name(args[0]));
    if (is_card_dir(path)) {
        path = (path == "/" ? "" : path) + "/" + base_name(args[0]);
    }
    FILINFO old{};
    FRESULT fr = f_stat(path.c_str(), &old);
    const bool replace = fr == FR_OK;
    if (fr != FR_OK && fr != FR_NO_FILE) {
        std::fclose(in);
        return fr_fail("put " + path, fr);
    }
    if (replace && (old.fattrib & (AM_DIR | AM_RDO)) != 0) {
        std::fclose(in);
        return fail("put " + path + ": " +
                    ((old.fattrib & AM_DIR) != 0 ? "is a directory" : "the file is read-only"));
    }
    const std::string temp = free_temp_name(card_dir_of(path));
    if (temp.empty()) {
        std::fclose(in);
        return fail("put " + path + ": no free temporary name in " + card_dir_of(path));
    }
    FIL fil{};
    fr = f_open(&fil, temp.c_str(), FA_WRITE | FA_CREATE_NEW);
    if (fr != FR_OK) {
        std::fclose(in);
        return fr_fail("put " + path, fr, "the directory or the card is full");
    }
    std::vector<char> buf(64 * 1024);
    std::string error;
    for (;;) {
        std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n == 0) {
            if (std::ferror(in)) {
                error = "cannot read " + args[0];
            }
            break;
        }
        UINT written = 0;
        fr = f_write(&fil, buf.data(), static_cast<UINT>(n), &written);
        if (fr != FR_OK) {
            error = std::string(explain(fr));
            break;
        }
        if (written < n) {
            error = "the card is full";
            break;
        }
    }
    std::fclose(in);
    fr = f_close(&fil);
    if (error.empty() && fr != FR_OK) {
        error = explain(fr);
    }
    if (!error.empty()) {
        f_unlink(temp.c_str()); // leave no partial copy behind
        return fail("put " + path + ": " + error + (replace ? " (the file on the card is unchanged)" : ""));
    }
    if (replace) {
        fr = f_unlink(path.c_str());
        if (fr != FR_OK) {
            f_unlink(temp.c_str());
            return fr_fail("put " + path + ": cannot replace the old file", fr);
        }
    }
    fr = f_rename(temp.c_str(), path.c_str());
    if (fr != FR_OK) {
        return fr_fail("put " + path + ": the copy stays as " + temp, fr);
    }
    return 0;
}

int cmd_simple(const std::string& cmd, const std::vector<std::string>& args)
{
    if (cmd == "mv") {
        if (args.size() != 2) {
            return usage("mv needs OLD NEW");
        }
        std::string from = card_path(args[0]);
        std::string to = card_path(args[1]);
        if (is_card_dir(to)) {
            to = (to == "/" ? "" : to) + "/" + base_name(from);
        }
        FRESULT fr = f_rename(from.c_str(), to.c_str());
        return fr == FR_OK
                   ? 0
                   : fr_fail("mv " + args[0] + " " + args[1], fr, "the directory or the card is full");
    }
    if (args.size() != 1) {
        return usage(cmd + " needs one NAME");
    }
    std::string path = card_path(args[0]);
    if (cmd == "mkdir") {
        FRESULT fr = f_mkdir(path.c_str());
        return fr == FR_OK ? 0 : fr_fail("mkdir " + args[0], fr, "the directory or the card is full");
    }
    FRESULT fr = f_unlink(path.c_str());
    if (fr == FR_DENIED) {
        // The module refuses a read-only object and a directory that is not
        // empty: say which.
        FILINFO fi{};
        if (f_stat(path.c_str(), &fi) == FR_OK) {
            return fr_fail("rm " + args[0], fr,
                           (fi.fattrib & AM_RDO) != 0 ? "read-only" : "the directory is not empty");
        }
    }
    return fr == FR_OK ? 0 : fr_fail("rm " + args[0], fr);
}

// Copies the volume's sectors into a sparse temporary file (skipping holes)
// and runs fsck.fat -n on it.
int cmd_fsck(const std::string& image)
{
    int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail("fsck: cannot open " + image + ": " + std::strerror(errno));
    }
    CardVolume vol;
    if (Status st = card_locate_volume(fd, &vol); !st.ok()) {
        close(fd);
        return fail("fsck: " + st.message());
    }
    const char* tmpdir = std::getenv("TMPDIR");
    std::string tmp = std::string(tmpdir != nullptr ? tmpdir : "/tmp") + "/varve-fsck-XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    int out = mkstemp(name.data());
    if (out < 0) {
        close(fd);
        return fail("fsck: cannot make a temporary file: " + std::string(std::strerror(errno)));
    }
    const off_t begin = static_cast<off_t>(vol.start * CARD_SECTOR);
    const off_t end = static_cast<off_t>((vol.start + vol.sectors) * CARD_SECTOR);
    bool ok = ftruncate(out, end - begin) == 0;
    std::vector<char> buf(1 << 20);
    off_t pos = begin;
    while (ok && pos < end) {
        off_t data = lseek(fd, pos, SEEK_DATA);
        if (data < 0 || data >= end) {
            break; // only holes remain
        }
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0 || hole > end) {
            hole = end;
        }
        for (off_t at = data; ok && at < hole;) {
            auto n = static_cast<std::size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buf.size())));
            ssize_t got = pread(fd, buf.data(), n, at);
            ok = got > 0 && pwrite(out, buf.data(), static_cast<std::size_t>(got), at - begin) == got;
            at += got > 0 ? got : 0;
        }
        pos = hole;
    }
    close(fd);
    close(out);
    if (!ok) {
        unlink(name.data());
        return fail("fsck: cannot copy the volume to " + std::string(name.data()));
    }
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        execlp("fsck.fat", "fsck.fat", "-n", name.data(), static_cast<char*>(nullptr));
        execl("/usr/sbin/fsck.fat", "fsck.fat", "-n", name.data(), static_cast<char*>(nullptr));
        execl("/sbin/fsck.fat", "fsck.fat", "-n", name.data(), static_cast<char*>(nullptr));
        std::fprintf(stderr, "%s: fsck: cannot run fsck.fat (install dosfstools)\n", PREFIX);
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    unlink(name.data());
    if (pid < 0 || !WIFEXITED(status)) {
        return fail("fsck: fsck.fat did not run");
    }
    if (WEXITSTATUS(status) == 127) {
        return 1;
    }
    if (WEXITSTATUS(status) != 0) {
        return fail("fsck: fsck.fat found problems (exit status " + std::to_string(WEXITSTATUS(status)) +
                    ")");
    }
    return 0;
}

// Every check comes before the first write: a format that fails leaves the
// image as it was.
int cmd_format(const std::string& image, uint64_t size_mib)
{
    struct stat st;
    if (size_mib != 0 || stat(image.c_str(), &st) != 0) {
        // A new image is made beside the old one and replaces it only when
        // complete.
        const uint64_t bytes = size_mib != 0 ? size_mib << 20 : CARD_DEFAULT_BYTES;
        if (Status st = card_image_check(bytes); !st.ok()) {
            return fail("format: " + st.message());
        }
        const std::string fresh = image + ".new";
        unlink(fresh.c_str());
        if (Status st = card_image_create(fresh, bytes); !st.ok()) {
            return fail("format: " + st.message());
        }
        if (rename(fresh.c_str(), image.c_str()) != 0) {
            const std::string why = std::strerror(errno);
            unlink(fresh.c_str());
            return fail("format: cannot replace " + image + ": " + why);
        }
        return 0;
    }
    int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return fail("format: cannot open " + image + ": " + std::strerror(errno));
    }
    CardVolume vol;
    Status done = card_locate_volume(fd, &vol);
    if (!done.ok()) {
        // Neither a volume nor a partition table: lay the card out anew.
        uint64_t sectors = static_cast<uint64_t>(st.st_size) / CARD_SECTOR;
        vol.start = CARD_PART_START;
        vol.sectors = sectors > CARD_PART_START ? sectors - CARD_PART_START : 0;
        done = card_fat32_check(vol.sectors);
        if (done.ok()) {
            done = card_write_mbr(fd, vol.start, vol.sectors);
        }
    }
    if (done.ok()) {
        done = card_format_fat32(fd, vol.start, vol.sectors);
    }
    close(fd);
    return done.ok() ? 0 : fail("format: " + done.message());
}

} // namespace

int card_main(int argc, char** argv)
{
    std::string board = "varve-board";
    std::string image;
    std::string cmd;
    std::vector<std::string> args;
    uint64_t size_mib = 0;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(CARD_USAGE, stdout);
            return 0;
        }
        if (a == "--board" || a == "--image" || a == "--size") {
            if (i + 1 >= argc) {
                return usage(a + " needs a value");
            }
            std::string v = argv[++i];
            if (a == "--board") {
                board = v;
            } else if (a == "--image") {
                image = v;
            } else {
                char* end = nullptr;
                size_mib = std::strtoull(v.c_str(), &end, 10);
                if (end == v.c_str() || *end != '\0' || size_mib < 36 || size_mib > (uint64_t{2} << 20) - 1) {
                    // The MBR's 32-bit sector fields end 512 bytes short of 2 TiB.
                    return usage("--size needs a number of MiB from 36 to 2097151");
                }
            }
        } else if (cmd.empty()) {
            cmd = a;
        } else {
            args.push_back(a);
        }
    }
    if (cmd.empty()) {
        return usage("no command");
    }
    static const char* const known[] = {"ls", "get", "put", "rm", "mkdir", "mv", "fsck", "format"};
    bool ok = false;
    for (const char* k : known) {
        ok = ok || cmd == k;
    }
    if (!ok) {
        return usage("unknown command \"" + cmd + "\"");
    }
    if (size_mib != 0 && cmd != "format") {
        return usage("--size applies to format only");
    }

    if (image.empty()) {
        struct stat st;
        if (stat(board.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return fail("no board folder " + board);
        }
        image = board + "/card.img";
        if (stat(image.c_str(), &st) != 0 && (cmd != "format" || size_mib == 0)) {
            if (Status st = card_image_create(image, CARD_DEFAULT_BYTES); !st.ok()) {
                return fail(st.message());
            }
            std::fprintf(stderr, "%s: new microSD card in %s (1024 MiB, FAT32)\n", PREFIX, image.c_str());
            if (cmd == "format") {
                return 0;
            }
        }
    } else {
        struct stat st;
        if (cmd != "format" && stat(image.c_str(), &st) != 0) {
            return fail("no image " + image + ": " + std::strerror(errno));
        }
    }

    if (cmd == "fsck") {
        return args.empty() ? cmd_fsck(image) : usage("fsck takes no arguments");
    }
    if (cmd == "format") {
        return args.empty() ? cmd_format(image, size_mib) : usage("format takes no arguments");
    }

    if (Status st = cardtool::media_open(image); !st.ok()) {
        return fail(st.message());
    }
    FATFS fs{};
    FRESULT fr = f_mount(&fs, "", 1);
    int status;
    if (fr != FR_OK) {
        status = fr_fail(image, fr);
    } else if (cmd == "ls") {
        status = cmd_ls(args);
    } else if (cmd == "get") {
        status = cmd_get(args);
    } else if (cmd == "put") {
        status = cmd_put(args);
    } else {
        status = cmd_simple(cmd, args);
    }
    f_mount(nullptr, "", 0);
    cardtool::media_close();
    return status;
}

} // namespace sim
