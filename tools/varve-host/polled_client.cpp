#include "tools/varve-host/polled_client.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace varvehost {

namespace {

const char* const MAIN_MENU = "Main Menu";
const char* const NAK = "NAK\r\n";

Clock::time_point after(double seconds)
{
    return Clock::now() + std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000.0)));
}

bool contains(const std::string& s, const char* what)
{
    return s.find(what) != std::string::npos;
}

std::string seconds_text(double s)
{
    char b[32];
    std::snprintf(b, sizeof b, "%g", s);
    return b;
}

Result not_deployed()
{
    return {EXIT_NOT_DEPLOYED, "the controller is not deployed: it woke into its main menu", ""};
}

bool read_whole(const std::string& path, std::string* into)
{
    into->clear();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return errno == ENOENT;
    }
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        into->append(buf, n);
    }
    bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool write_all(int fd, const std::string& bytes, std::size_t* written)
{
    std::size_t& done = *written;
    done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Appends complete lines of `data` (the unfinished line of the last fetch
// and what was received now) to `path` and keeps the unfinished tail in
// `path`.part, so that the output file only ever grows by whole lines.
// *appended: bytes of `data` now in `path`.
Status store_fetched(const std::string& path, const std::string& data, std::size_t* appended)
{
    const std::string part_path = path + ".part";
    std::size_t cut = data.rfind('\n');
    std::size_t whole = cut == std::string::npos ? 0 : cut + 1;
    *appended = 0;
    if (whole > 0) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) {
            return Status::failure("cannot open " + path + ": " + std::strerror(errno));
        }
        bool ok = write_all(fd, data.substr(0, whole), appended) && ::fsync(fd) == 0;
        int e = errno;
        ::close(fd);
        if (!ok) {
            return Status::failure("cannot write " + path + ": " + std::strerror(e));
        }
    }
    std::string rest = data.substr(whole);
    if (rest.empty()) {
        if (::unlink(part_path.c_str()) != 0 && errno != ENOENT) {
            return Status::failure("cannot remove " + part_path + ": " + std::strerror(errno));
        }
        return {};
    }
    const std::string tmp = part_path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::size_t n = 0;
    if (fd < 0 || !write_all(fd, rest, &n) || ::fsync(fd) != 0 || ::close(fd) != 0 ||
        ::rename(tmp.c_str(), part_path.c_str()) != 0) {
        const Status failed = Status::failure("cannot write " + part_path + ": " + std::strerror(errno));
        ::unlink(tmp.c_str());
        return failed;
    }
    return {};
}

} // namespace

std::string strip_echo(const std::string& answer, const std::string& cmd)
{
    const std::string echo = cmd + "\n\r";
    std::string out = answer;
    std::size_t at = out.find(echo);
    if (at != std::string::npos) {
        out.erase(at, echo.size());
    }
    return out;
}

std::string first_line(const std::string& text, const std::vector<std::string>& echoes)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            return "";
        }
        std::string line = text.substr(pos, nl - pos);
        while (!line.empty() && (line.back() == '\r' || line.front() == '\r')) {
            if (line.back() == '\r') {
                line.pop_back();
            } else {
                line.erase(0, 1);
            }
        }
        bool echo = false;
        for (const std::string& e : echoes) {
            echo = echo || line == e;
        }
        if (!line.empty() && !echo) {
            return line;
        }
        pos = nl + 1;
    }
    return "";
}

Result PolledClient::no_answer(double seconds, const char* what)
{
    return {EXIT_NO_ANSWER,
            std::string("no answer from the controller within ") + seconds_text(seconds) + " s" +
                (what != nullptr ? std::string(" (") + what + ")" : std::string()),
            ""};
}

Result PolledClient::wake()
{
    port_.discard_input();
    if (!port_.write(" ")) {
        return {EXIT_PORT, "cannot write to the serial port", ""};
    }
    // Start-up: whatever arrives now (start-up text, line noise) is not an
    // answer, except the main menu of a controller that is not deployed.
    std::string got;
    port_.read_for(&got, after(t_.wake_s));
    if (contains(got, MAIN_MENU)) {
        return not_deployed();
    }
    // An empty line is answered "NAK" by the command exchange: a probe
    // that proves the controller listens, and leaves nothing behind.
    for (int i = 0; i < t_.probes; ++i) {
        if (!port_.write("\r")) {
            return {EXIT_PORT, "cannot write to the serial port", ""};
        }
        port_.read_until(&got, after(t_.probe_s),
                         [](const std::string& s) { return contains(s, NAK) || contains(s, MAIN_MENU); });
        if (contains(got, MAIN_MENU)) {
            return not_deployed();
        }
        if (contains(got, NAK)) {
            // A late answer to an earlier probe may still be on its way.
            std::string rest;
            port_.read_for(&rest, after(t_.probe_s), std::chrono::milliseconds(200));
            return {};
        }
    }
    return no_answer(t_.wake_s + t_.probes * t_.probe_s, "wake");
}

Result PolledClient::command_line(const std::string& cmd, double bound_s, std::string* answer)
{
    answer->clear();
    if (!port_.write(cmd + "\r")) {
        return {EXIT_PORT, "cannot write to the serial port", ""};
    }
    (void)bound_s;
    return {};
}

Result PolledClient::sample()
{
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("ss", 0, &got); !r.ok()) {
        return r;
    }
    // The sample is silent; "sl" typed while it runs waits in the
    // controller's input buffer, but must not end a pump phase early.
    port_.read_for(&got, after(t_.sample_s));
    if (!port_.write("sl\r")) {
        return {EXIT_PORT, "cannot write to the serial port", ""};
    }
    auto done = [](const std::string& s) {
        const std::string& a = s;
        return !first_line(a, {"ss", "sl"}).empty() || contains(a, MAIN_MENU);
    };
    double bound = t_.reply_s;
    if (!port_.read_until(&got, after(bound), done)) {
        return no_answer(t_.sample_s + bound, "sample record");
    }
    if (contains(got, MAIN_MENU)) {
        return not_deployed();
    }
    std::string line = first_line(got, {"ss", "sl"});
    if (line.rfind("expected sl", 0) == 0 || line.rfind("NAK", 0) == 0) {
        return {EXIT_PROTOCOL, "the controller did not send the sample: \"" + line + "\"", ""};
    }
    return {EXIT_OK, "", line};
}

Result PolledClient::take_sample()
{
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("ts", 0, &got); !r.ok()) {
        return r;
    }
    double bound = t_.sample_s + t_.reply_s;
    auto done = [](const std::string& s) { return !first_line(s, {"ts"}).empty(); };
    if (!port_.read_until(&got, after(bound), done)) {
        return no_answer(bound, "sample record");
    }
    std::string line = first_line(got, {"ts"});
    if (line.rfind("NAK", 0) == 0) {
        return {EXIT_PROTOCOL, "the controller refused \"ts\"", ""};
    }
    return {EXIT_OK, "", line};
}

Result PolledClient::header()
{
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("gh", 0, &got); !r.ok()) {
        return r;
    }
    auto done = [](const std::string& s) { return !first_line(s, {"gh"}).empty(); };
    if (!port_.read_until(&got, after(t_.reply_s), done)) {
        return no_answer(t_.reply_s, "header");
    }
    return {EXIT_OK, "", first_line(got, {"gh"})};
}

Result PolledClient::metadata()
{
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("gm", 0, &got); !r.ok()) {
        return r;
    }
    auto done = [](const std::string& s) {
        std::size_t end = s.find("//--");
        return end != std::string::npos && s.find('\n', end) != std::string::npos;
    };
    if (!port_.read_until(&got, after(t_.reply_s), done)) {
        return no_answer(t_.reply_s, "metadata");
    }
    // The block's lines, from its first "//" line to its closing line.
    std::string text = strip_echo(got, "gm");
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            break;
        }
        std::string line = text.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("//", 0) == 0) {
            out += line + "\n";
        }
        if (line.rfind("//--", 0) == 0) {
            break;
        }
        pos = nl + 1;
    }
    return {EXIT_OK, "", out};
}

Result PolledClient::stop()
{
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("stop", 0, &got); !r.ok()) {
        return r;
    }
    if (!port_.read_until(&got, after(t_.reply_s),
                          [](const std::string& s) { return contains(s, MAIN_MENU); })) {
        return no_answer(t_.reply_s, "main menu after stop");
    }
    return {EXIT_OK, "", "deployment stopped"};
}

Result PolledClient::fetch(const std::string& out_path, std::size_t* appended)
{
    *appended = 0;
    // The output file must take the data before the controller sends it:
    // the controller moves on past what it sent.  A device (/dev/full) takes
    // no FILE.part beside it and may refuse bytes: only regular files.
    int fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return {EXIT_OUTPUT, "cannot write " + out_path + ": " + std::strerror(errno), ""};
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    if (!regular) {
        return {EXIT_OUTPUT,
                out_path + " is not a regular file (fetch appends to it and keeps " + out_path +
                    ".part beside it); nothing was asked of the controller",
                ""};
    }
    std::string pending;
    if (!read_whole(out_path + ".part", &pending)) {
        return {EXIT_OUTPUT, "cannot read " + out_path + ".part: " + std::strerror(errno), ""};
    }
    // A disk that fills up during the transfer still cannot be foreseen:
    // what cannot be appended goes to a rescue file made now.
    const char* tmpdir = std::getenv("TMPDIR");
    std::string rescue =
        std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") + "/varve-fetch-XXXXXX";
    int rescue_fd = ::mkstemp(rescue.data());
    if (rescue_fd < 0) {
        return {EXIT_OUTPUT,
                "cannot make a rescue file " + rescue + ": " + std::strerror(errno) +
                    "; nothing was asked of the controller",
                ""};
    }
    struct Rescue {
        int fd;
        std::string path;
        bool keep = false;
        ~Rescue()
        {
            ::close(fd);
            if (!keep) {
                ::unlink(path.c_str());
            }
        }
    } guard{rescue_fd, rescue};
    Result r = wake();
    if (!r.ok()) {
        return r;
    }
    std::string got;
    if (r = command_line("gdata", 0, &got); !r.ok()) {
        return r;
    }
    // The transfer has no end mark: it is over when the line stays quiet.
    // An empty line after it is answered "NAK", which marks the end of the
    // data.  A line typed while the transfer still runs stops it at the end
    // of a line and is itself discarded; the next probe then gets its NAK.
    port_.read_for(&got, after(24.0 * 3600.0), std::chrono::milliseconds(std::llround(t_.idle_s * 1000.0)));
    bool ended = false, port_failed = false;
    for (int i = 0; i < t_.probes && !ended; ++i) {
        if (!port_.write("\r")) {
            port_failed = true; // what was received is stored all the same
            break;
        }
        ended =
            port_.read_until(&got, after(t_.probe_s), [](const std::string& s) { return contains(s, NAK); });
    }
    std::string data = strip_echo(got, "gdata");
    if (ended) {
        data.erase(data.find(NAK));
        if (data.size() >= 2 && data.compare(data.size() - 2, 2, "\n\r") == 0) {
            data.erase(data.size() - 2); // the echo of the empty line
        }
        port_.write("go\r"); // ends the exchange: the controller sleeps again
    }
    data = pending + data;
    if (const Status stored = store_fetched(out_path, data, appended); !stored.ok()) {
        const std::string& err = stored.message();
        // Everything not in FILE goes to the rescue file, the unfinished
        // line of FILE.part included (FILE.part is removed: the rescue file
        // continues FILE exactly).
        const std::string unsaved = data.substr(*appended);
        std::size_t n = 0;
        if (write_all(guard.fd, unsaved, &n) && ::fsync(guard.fd) == 0) {
            guard.keep = true;
            ::unlink((out_path + ".part").c_str());
            return {EXIT_OUTPUT,
                    err + "; " + std::to_string(*appended) + " bytes appended, the other " +
                        std::to_string(unsaved.size()) + " bytes received are kept in " + guard.path +
                        ": append them to " + out_path + " (cat " + guard.path + " >> " + out_path +
                        ") before the next fetch",
                    ""};
        }
        return {EXIT_OUTPUT,
                err + "; the rescue file " + guard.path + " cannot be written either: " +
                    std::strerror(errno) + "; " + std::to_string(unsaved.size()) + " bytes received are lost",
                ""};
    }
    if (port_failed) {
        return {EXIT_PORT, "cannot write to the serial port; the complete lines received were kept", ""};
    }
    if (!ended) {
        return no_answer(t_.idle_s + t_.probes * t_.probe_s,
                         "end of the data transfer; the complete lines received were kept");
    }
    return {};
}

} // namespace varvehost
