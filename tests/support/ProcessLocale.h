#pragma once
// The C library's locale for the span of a test: printf, strtod and strerror follow it, and
// the program runs under the user's (QApplication sets it from the environment at start).

#include <clocale>
#include <string>

namespace testsupport {

// The locale every locale-sensitive test also runs under; tools/bootstrap.sh generates it.
inline constexpr const char* kGermanLocale = "de_DE.UTF-8";

class ProcessLocaleScope {
public:
    explicit ProcessLocaleScope(const char* name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        switched_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocaleScope() { std::setlocale(LC_ALL, saved_.c_str()); }
    ProcessLocaleScope(const ProcessLocaleScope&) = delete;
    ProcessLocaleScope& operator=(const ProcessLocaleScope&) = delete;

    // False when the system lacks the locale: the test must fail, not pass in the C locale.
    bool Switched() const { return switched_; }

private:
    std::string saved_;
    bool switched_ = false;
};

}  // namespace testsupport
