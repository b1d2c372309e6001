#include "tools/varve-host/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace varvehost {

unsigned baud_constant(unsigned baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return 0;
    }
}

SerialPort::~SerialPort()
{
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

Status SerialPort::open(const std::string& dev, unsigned baud)
{
    unsigned speed = baud_constant(baud);
    if (speed == 0) {
        return Status::failure("unsupported baud rate " + std::to_string(baud));
    }
    // Non-blocking open: a port whose modem lines are down must not hang here.
    fd_ = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return Status::failure("cannot open " + dev + ": " + std::strerror(errno));
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        return Status::failure(dev + " is not a serial line: " + std::strerror(errno));
    }
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
        return Status::failure("cannot configure " + dev + ": " + std::strerror(errno));
    }
    tcflush(fd_, TCIOFLUSH);
    return {};
}

bool SerialPort::write(const std::string& bytes)
{
    auto deadline = Clock::now() + std::chrono::seconds(2);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            trace(">", bytes.data() + done, static_cast<std::size_t>(n));
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, 50);
    }
    return true;
}

bool SerialPort::read_some(std::string* into, Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) {
        left = 0;
    }
    pollfd p{fd_, POLLIN, 0};
    int r = ::poll(&p, 1, static_cast<int>(left > 1000 ? 1000 : left));
    if (r < 0) {
        return errno == EINTR;
    }
    if (r == 0) {
        return true;
    }
    char buf[512];
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
        trace("<", buf, static_cast<std::size_t>(n));
        into->append(buf, static_cast<std::size_t>(n));
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    // End of file or an error: the other side went away (a pty whose
    // simulator ended reports EIO).  Wait out the deadline's remainder in
    // small steps so that callers see a time-out rather than a busy loop.
    if ((p.revents & (POLLHUP | POLLERR)) != 0 || n == 0 || errno == EIO) {
        auto step = std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
        while (Clock::now() < step) {
            ::usleep(10000);
        }
        return true;
    }
    return false;
}

bool SerialPort::read_for(std::string* into, Clock::time_point deadline, std::chrono::milliseconds idle)
{
    auto last = Clock::now();
    std::size_t seen = into->size();
    while (Clock::now() < deadline) {
        auto until = deadline;
        if (idle.count() > 0) {
            until = std::min(deadline, last + idle);
            if (Clock::now() >= until) {
                return true;
            }
        }
        if (!read_some(into, until)) {
            return false;
        }
        if (into->size() != seen) {
            seen = into->size();
            last = Clock::now();
        }
    }
    return true;
}

void SerialPort::trace(const char* dir, const char* data, std::size_t len)
{
    if (!trace_) {
        return;
    }
    std::string t;
    for (std::size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        char e[8];
        if (c == '\r') {
            t += "\\r";
        } else if (c == '\n') {
            t += "\\n";
        } else if (c == '\t') {
            t += "\\t";
        } else if (c < 0x20 || c >= 0x7F || c == '\\') {
            std::snprintf(e, sizeof e, "\\x%02X", c);
            t += e;
        } else {
            t += static_cast<char>(c);
        }
    }
    std::fprintf(stderr, "varve-host: %s %s\n", dir, t.c_str());
}

void SerialPort::discard_input()
{
    tcflush(fd_, TCIFLUSH);
}

} // namespace varvehost
