// The simulator on a pseudo-terminal, driven as a terminal user would: keys
// typed, text awaited with a time limit, and transfer programs (lrzsz's sb
// and rb) run with their standard input and output on the pty.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace filestest {

class PtySim {
  public:
    // Starts varve-sim --console pty on `board` with the extra options;
    // ok() tells whether the pty came up.
    PtySim(const std::string& board, const std::vector<std::string>& options);
    ~PtySim();
    PtySim(const PtySim&) = delete;
    PtySim& operator=(const PtySim&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void send(const std::string& keys);
    // Reads until `text` has arrived after the previous match, for at most
    // `seconds`; true when it did.  Later waits look after the match.
    bool expect(const std::string& text, double seconds);
    // Everything the terminal received so far, and the part after the last
    // match.
    const std::string& received() const { return seen_; }
    std::string unmatched() const { return seen_.substr(pos_); }
    // Drops what arrived so far (unread bytes included) without matching.
    void skip_pending();
    // The simulator's standard error so far.
    std::string messages() const;
    // Stops the simulator (SIGTERM, then SIGKILL after 10 s); returns its status.
    int stop();

  private:
    void read_some(double seconds);
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string path_;
    std::string err_file_;
    std::string seen_;
    std::size_t pos_ = 0;
};

// A transfer program on the simulator's console, standard error in a file.
// Either its standard input and output are the pty itself, or socat joins
// the pty to the program's pipes.  (lrzsz drains and flushes its terminal
// after its last acknowledgement; on a pty the flush discards what the
// simulator has not read yet, on a pipe it does nothing.)
class Peer {
  public:
    // Standard input and output on the terminal `fd`.
    Peer(int fd, const std::vector<std::string>& argv, const std::string& cwd);
    // Through socat: the pty `path` joined to `command` (a shell-free
    // command line of socat's EXEC address).
    Peer(const std::string& path, const std::string& command, const std::string& cwd);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
    // Waits for the end for at most `seconds`; kills it then.  Returns the
    // exit status, 128 + signal, or -1 when it had to be killed.
    int wait(double seconds);
    // Signals the transfer program (not socat); false when it could not.
    bool signal(int sig);
    // Its standard error so far.
    std::string messages() const;

  private:
    void start(int fd, const std::vector<std::string>& argv, const std::string& cwd);
    pid_t pid_ = -1;
    bool via_socat_ = false;
    int status_ = -2;
    std::string err_file_;
};

// A terminal program (picocom) as a user runs it: its controlling terminal
// is a pty of its own whose other side the test types into and reads.
class Terminal {
  public:
    Terminal(const std::vector<std::string>& argv, const std::string& cwd);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    bool ok() const { return fd_ >= 0; }
    void send(const std::string& keys);
    // As PtySim::expect, on what the program shows.
    bool expect(const std::string& text, double seconds);
    const std::string& screen() const { return seen_; }
    // Waits for the program's end (killed after `seconds`); its status.
    int wait(double seconds);

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    int status_ = -2;
    std::string seen_;
    std::size_t pos_ = 0;
};

// Seconds since an arbitrary start (monotonic clock).
double seconds_now();

} // namespace filestest
