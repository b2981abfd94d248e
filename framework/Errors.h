#pragma once
// The error types every layer shares, and the hook through which an error that no handler
// caught is shown to the operator.

#include <exception>
#include <functional>
#include <string>

// Base of our own exceptions: carries the message the operator sees.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A value or object could not be converted or copied into another.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

namespace framework {

// Shows an error that escaped its handler. The Qt application installs a message box;
// without a hook the message goes to standard error.
using ErrorReportHook = std::function<void(const std::string& message)>;
void SetDefaultErrorReport(ErrorReportHook hook);

// Reports the exception in flight (call from a catch block) or the given one through the hook.
// Never throws.
void ShowException(std::exception_ptr error) noexcept;
void ShowCurrentException() noexcept;

// Runs `fn`; an exception escaping it goes to the default error report. The guard every event
// handler is called through, so errors never unwind through the toolkit's frames.
template <typename Fn>
void Guarded(Fn&& fn) noexcept {
    try {
        fn();
    } catch (...) {
        ShowCurrentException();
    }
}

}  // namespace framework
