// File command shell.  The shell keeps its own working directory and builds
// full paths from it (the FAT module has no current directory).  Lines are
// read with the console line input and split at spaces in place.
#include "storage/file_shell.h"

#include "serial/user_io.h"
#include "platform/platform.h"
#include "serial/uartstdio.h"
#include "storage/fatfs/ff.h"
#include "storage/microsd.h"
#include "storage/ymodem.h"

#include <cstring>

namespace {

constexpr std::size_t PATH_BUF = 80;
constexpr int CMDLINE_MAX_ARGS = 8;
// cat prints a chunk when the console ring has room for it and its line end.
constexpr int CAT_CHUNK = 79;
constexpr int CAT_TX_ROOM = 81;
// Room for one line of ls, and for the prompt: the console ring drops what
// does not fit, so lines of a long listing, or the prompt after cat, would
// be lost.
constexpr int LINE_TX_ROOM = 128;
// Longest wait for room: the ring drains within a few seconds at any baud
// rate; a console that does not drain ends the wait.
constexpr uint32_t TX_WAIT_S = 10;

// Working directory: "/" or a path without a trailing "/".  It keeps its
// value between visits to the shell until the next reset.
char g_cCwdBuf[PATH_BUF] = "/";
// Scratch path, also the read buffer of cat.
char g_cTmpBuf[PATH_BUF];
char g_cCmdBuf[64];
DIR g_sDirObject;
FILINFO g_sFileInfo;
FIL g_sFileObject;
char* g_ppcArgv[CMDLINE_MAX_ARGS + 1];

struct tCmdLineEntry {
    const char* pcCmd;
    int (*pfnCmd)(int argc, char* argv[]);
    const char* pcHelp;
};

const tCmdLineEntry g_psCmdTable[] = {
    {"help", Cmd_help, "  : Display list of commands"},
    {"h", Cmd_help, "  : Alias for help"},
    {"?", Cmd_help, "  : Alias for help"},
    {"ls", Cmd_ls, "  : Display list of files"},
    {"mkdir", Cmd_mkdir, "  : Make new directory"},
    {"chdir", Cmd_cd, "  : Change directory"},
    {"cd", Cmd_cd, "  : Alias for chdir"},
    {"pwd", Cmd_pwd, "  : Display current working directory"},
    {"cat", Cmd_cat, "  : Display contents of a text file"},
    {"rm", Cmd_rm, "  : Remove a file or directory"},
    {"mv", Cmd_mv, "  : Rename or move a file or directory"},
    {"ys", ymodem_send, "  : Send file via YMODEM"},
    {"yr", ymodem_receive, "  : Receive file via YMODEM"},
    {"exit", Cmd_exit, "  : Exit the file viewer"},
    {nullptr, nullptr, nullptr},
};

// A command given fewer words than it needs is refused before its handler
// looks at them.
bool has_args(int argc, int needed, const char* usage)
{
    if (argc >= needed) {
        return true;
    }
    uprintf("Missing argument: %s\r\n", usage);
    return false;
}

bool path_fits(const char* name)
{
    if (std::strlen(g_cCwdBuf) + std::strlen(name) + 2 > PATH_BUF) {
        uprintf("Resulting path name is too long\r\n");
        return false;
    }
    return true;
}

// Working directory, "/" (unless it is the root) and the name, which is
// always taken as relative.  The caller has checked path_fits.
void build_path(char* dest, const char* name)
{
    std::strcpy(dest, g_cCwdBuf);
    if (std::strcmp(g_cCwdBuf, "/") != 0) {
        std::strcat(dest, "/");
    }
    std::strcat(dest, name);
}

bool wait_tx_room(int bytes)
{
    uint32_t start = HibernateRTCGet();
    while (UARTTxBytesFree() < bytes) {
        if (HibernateRTCGet() - start > TX_WAIT_S) {
            return false;
        }
        platform_idle();
    }
    return true;
}

} // namespace

int CmdLineProcess(char* pcCmdLine)
{
    int argc = 0;
    bool find_arg = true;
    for (char* p = pcCmdLine; *p != '\0'; ++p) {
        if (*p == ' ') {
            *p = '\0';
            find_arg = true;
        } else if (find_arg) {
            if (argc >= CMDLINE_MAX_ARGS) {
                return CMDLINE_TOO_MANY_ARGS;
            }
            g_ppcArgv[argc++] = p;
            find_arg = false;
        }
    }
    g_ppcArgv[argc] = nullptr;
    if (argc == 0) {
        return CMDLINE_BAD_CMD;
    }
    for (const tCmdLineEntry* e = g_psCmdTable; e->pcCmd != nullptr; ++e) {
        if (std::strcmp(e->pcCmd, g_ppcArgv[0]) == 0) {
            return e->pfnCmd(argc, g_ppcArgv);
        }
    }
    return CMDLINE_BAD_CMD;
}

void viewFiles()
{
    uprintf("\r\n\r\nUnix-like command line. Type 'help' for list of commands\r\n");
    for (;;) {
        wait_tx_room(LINE_TX_ROOM);
        uprintf("\r\n%s> ", g_cCwdBuf);
        // Read one byte more than the command buffer holds: a line that
        // fills it did not fit, and what is left of it may name another
        // file or folder (a cut "KEEP.TXT" is "KEEP.T"), so it is not run.
        static char line[sizeof g_cCmdBuf + 1];
        if (getUserInput(line, sizeof line) >= static_cast<int>(sizeof g_cCmdBuf)) {
            uprintf("Line longer than %u characters: not run\r\n",
                    static_cast<unsigned>(sizeof g_cCmdBuf - 1));
            continue;
        }
        std::memcpy(g_cCmdBuf, line, sizeof g_cCmdBuf);
        int status = CmdLineProcess(g_cCmdBuf);
        if (status == CMDLINE_BAD_CMD) {
            uprintf("Bad command!\r\n");
        } else if (status == CMDLINE_TOO_MANY_ARGS) {
            uprintf("Too many arguments for command processor!\r\n");
        } else if (status == CMDLINE_EXIT) {
            return;
        } else if (status != 0) {
            uprintf("Command returned error code %s\r\n",
                    StringFromFresult(static_cast<FRESULT>(static_cast<unsigned>(status) & 0xFFu)));
        }
    }
}

int Cmd_help(int /*argc*/, char* /*argv*/[])
{
    uprintf("\r\nAvailable commands\r\n");
    uprintf("------------------\r\n");
    for (const tCmdLineEntry* e = g_psCmdTable; e->pcCmd != nullptr; ++e) {
        wait_tx_room(LINE_TX_ROOM);
        uprintf("%s%s\r\n", e->pcCmd, e->pcHelp);
    }
    return 0;
}

int Cmd_ls(int /*argc*/, char* /*argv*/[])
{
    FRESULT fr = f_opendir(&g_sDirObject, g_cCwdBuf);
    if (fr != FR_OK) {
        return fr;
    }
    unsigned files = 0;
    unsigned dirs = 0;
    uprintf("\r\n");
    for (;;) {
        fr = f_readdir(&g_sDirObject, &g_sFileInfo);
        if (fr != FR_OK) {
            return fr;
        }
        if (g_sFileInfo.fname[0] == '\0') {
            break;
        }
        const BYTE a = g_sFileInfo.fattrib;
        wait_tx_room(LINE_TX_ROOM);
        if ((a & AM_DIR) != 0) {
            ++dirs;
        } else {
            ++files;
        }
        uprintf("%c%c%c%c%c %u/%02u/%02u %02u:%02u %9u  %s\r\n", (a & AM_DIR) != 0 ? 'D' : '-',
                (a & AM_RDO) != 0 ? 'R' : '-', (a & AM_HID) != 0 ? 'H' : '-', (a & AM_SYS) != 0 ? 'S' : '-',
                (a & AM_ARC) != 0 ? 'A' : '-', static_cast<unsigned>((g_sFileInfo.fdate >> 9) + 1980),
                static_cast<unsigned>((g_sFileInfo.fdate >> 5) & 15),
                static_cast<unsigned>(g_sFileInfo.fdate & 31), static_cast<unsigned>(g_sFileInfo.ftime >> 11),
                static_cast<unsigned>((g_sFileInfo.ftime >> 5) & 63),
                static_cast<unsigned>(g_sFileInfo.fsize), g_sFileInfo.fname);
    }
    f_closedir(&g_sDirObject);
    wait_tx_room(LINE_TX_ROOM);
    uprintf("\r\n%4u File(s)\r\n%4u Dir(s)", files, dirs);
    DWORD free_clusters = 0;
    FATFS* fs = nullptr;
    fr = f_getfree("/", &free_clusters, &fs);
    if (fr != FR_OK) {
        uprintf("\r\n\r\nf_getfree error! ");
        return fr;
    }
    uprintf("\r\n%10uK bytes free\r\n", static_cast<unsigned>(free_clusters * fs->csize / 2));
    return 0;
}

int Cmd_cd(int argc, char* argv[])
{
    if (!has_args(argc, 2, "cd NAME")) {
        return 0;
    }
    const char* name = argv[1];
    char path[PATH_BUF];
    if (name[0] == '/') {
        if (std::strlen(name) + 1 > PATH_BUF) {
            uprintf("Resulting path name is too long\r\n");
            return 0;
        }
        std::strcpy(path, name);
    } else if (std::strcmp(name, "..") == 0) {
        std::strcpy(path, g_cCwdBuf);
        // Up one level; the root stays the root.
        std::size_t i = std::strlen(path);
        if (i > 1) {
            --i;
            while (i > 1 && path[i] != '/') {
                --i;
            }
            path[i] = '\0';
        }
    } else {
        if (!path_fits(name)) {
            return 0;
        }
        build_path(path, name);
    }
    // No trailing "/" except for the root.
    for (std::size_t n = std::strlen(path); n > 1 && path[n - 1] == '/'; --n) {
        path[n - 1] = '\0';
    }
    FRESULT fr = f_opendir(&g_sDirObject, path);
    if (fr != FR_OK) {
        uprintf("cd: %s\r\n", path);
        return fr;
    }
    f_closedir(&g_sDirObject);
    std::strcpy(g_cCwdBuf, path);
    return 0;
}

int Cmd_pwd(int /*argc*/, char* /*argv*/[])
{
    uprintf("%s\r\n", g_cCwdBuf);
    return 0;
}

int Cmd_cat(int argc, char* argv[])
{
    if (!has_args(argc, 2, "cat NAME") || !path_fits(argv[1])) {
        return 0;
    }
    build_path(g_cTmpBuf, argv[1]);
    FRESULT fr = f_open(&g_sFileObject, g_cTmpBuf, FA_READ);
    if (fr != FR_OK) {
        return fr;
    }
    for (;;) {
        UINT br = 0;
        fr = f_read(&g_sFileObject, g_cTmpBuf, CAT_CHUNK, &br);
        if (fr != FR_OK) {
            f_close(&g_sFileObject);
            uprintf("\r\n");
            return fr;
        }
        g_cTmpBuf[br] = '\0';
        if (!wait_tx_room(CAT_TX_ROOM)) {
            break;
        }
        uprintf("%s", g_cTmpBuf);
        if (br < static_cast<UINT>(CAT_CHUNK) || kbhit() != 0) {
            break;
        }
    }
    f_close(&g_sFileObject);
    return 0;
}

int Cmd_rm(int argc, char* argv[])
{
    if (!has_args(argc, 2, "rm NAME") || !path_fits(argv[1])) {
        return 0;
    }
    build_path(g_cTmpBuf, argv[1]);
    FRESULT fr = f_unlink(g_cTmpBuf);
    if (fr != FR_OK) {
        uprintf("\r\n");
        return fr;
    }
    return 0;
}

int Cmd_mkdir(int argc, char* argv[])
{
    if (!has_args(argc, 2, "mkdir NAME") || !path_fits(argv[1])) {
        return 0;
    }
    build_path(g_cTmpBuf, argv[1]);
    FRESULT fr = f_mkdir(g_cTmpBuf);
    if (fr != FR_OK) {
        uprintf("\r\n");
        return fr;
    }
    return 0;
}

int Cmd_mv(int argc, char* argv[])
{
    if (!has_args(argc, 3, "mv OLD NEW") || !path_fits(argv[1]) || !path_fits(argv[2])) {
        return 0;
    }
    char new_path[PATH_BUF];
    build_path(g_cTmpBuf, argv[1]);
    build_path(new_path, argv[2]);
    FRESULT fr = f_rename(g_cTmpBuf, new_path);
    if (fr != FR_OK) {
        uprintf("\r\n");
        return fr;
    }
    return 0;
}

int Cmd_exit(int /*argc*/, char* /*argv*/[])
{
    return CMDLINE_EXIT;
}
