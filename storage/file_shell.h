// File command shell over the microSD card: list, change and show the
// working directory, print a text file, remove, make directories, rename,
// YMODEM transfers, exit.
#pragma once

// Results of CmdLineProcess besides the handlers' own (0 or a FatFs code).
constexpr int CMDLINE_BAD_CMD = -1;       // empty line or unknown command
constexpr int CMDLINE_TOO_MANY_ARGS = -2; // more than eight words
constexpr int CMDLINE_EXIT = -5;          // exit: leave the shell

// Runs the shell until exit.
void viewFiles();
// Splits the line in place at spaces and runs the command it names.
int CmdLineProcess(char* pcCmdLine);

int Cmd_help(int argc, char* argv[]);
int Cmd_ls(int argc, char* argv[]);
int Cmd_cd(int argc, char* argv[]);
int Cmd_pwd(int argc, char* argv[]);
int Cmd_cat(int argc, char* argv[]);
int Cmd_rm(int argc, char* argv[]);
int Cmd_mkdir(int argc, char* argv[]);
int Cmd_mv(int argc, char* argv[]);
int Cmd_exit(int argc, char* argv[]);
