#include "Errors.h"

#include <cstdio>
#include <mutex>

namespace framework {
namespace {
std::mutex hookMutex;
ErrorReportHook& Hook() {
    static ErrorReportHook hook;
    return hook;
}

std::string MessageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
}  // namespace

void SetDefaultErrorReport(ErrorReportHook hook) {
    std::lock_guard lock(hookMutex);
    Hook() = std::move(hook);
}

void ShowException(std::exception_ptr error) noexcept {
    if (!error) return;
    try {
        const std::string message = MessageOf(error);
        ErrorReportHook hook;
        {
            std::lock_guard lock(hookMutex);
            hook = Hook();
        }
        if (hook)
            hook(message);
        else
            std::fprintf(stderr, "%s\n", message.c_str());
    } catch (...) {
        // A report that fails cannot be reported; the program goes on.
    }
}

void ShowCurrentException() noexcept { ShowException(std::current_exception()); }

}  // namespace framework
