// Builds one text line in a fixed buffer with bounded formatting: whatever
// the fields hold, the text never runs past the buffer, and there is always
// room left for the line end.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

class LineBuilder {
  public:
    LineBuilder(char* buf, std::size_t size) : buf_(buf), limit_(size - 3), len_(0) { buf_[0] = '\0'; }

    // Appends formatted text; what does not fit is cut off.
    void add(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        if (len_ >= limit_) {
            return;
        }
        va_list ap;
        va_start(ap, fmt);
        int n = std::vsnprintf(buf_ + len_, limit_ + 1 - len_, fmt, ap);
        va_end(ap);
        if (n > 0) {
            len_ += static_cast<std::size_t>(n);
            if (len_ > limit_) {
                len_ = limit_;
            }
        }
    }

    // Ends the line: the tab after the last field becomes "\r\n"; a line
    // without fields is just "\r\n".
    void end_line()
    {
        if (len_ > 0 && buf_[len_ - 1] == '\t') {
            --len_;
        }
        buf_[len_++] = '\r';
        buf_[len_++] = '\n';
        buf_[len_] = '\0';
    }

    std::size_t length() const { return len_; }

  private:
    char* buf_;
    std::size_t limit_; // longest text before the line end
    std::size_t len_;
};
