// The one error convention of the host code (the simulator, its card and
// board tools, varve-host): an operation that can fail returns a Status,
// which is ok() or carries the message that says what failed.  The message
// is written for the user; callers print it as it is or after their own
// context ("format: ...").  [[nodiscard]]: a failure cannot be dropped
// unseen.  varve-host's polled exchange returns its Result, the same record
// with the program's exit code and the answer's text.
#pragma once

#include <string>
#include <utility>

namespace varve {

class [[nodiscard]] Status {
  public:
    Status() = default; // success

    static Status failure(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    // What failed ("" when ok()).
    const std::string& message() const { return message_; }

  private:
    explicit Status(std::string message) : failed_(true), message_(std::move(message)) {}

    bool failed_ = false;
    std::string message_;
};

} // namespace varve
