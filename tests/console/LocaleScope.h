#pragma once
// The user's locale for the span of a test: Qt's default locale, which the panel's texts
// follow, and the C library's, which the program gets from QApplication and which must never
// reach a wire text.

#include <QLocale>

#include "ProcessLocale.h"

namespace consoletest {

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) : process_(ProcessName(locale).c_str()) {
        QLocale::setDefault(locale);
    }
    ~LocaleScope() { QLocale::setDefault(saved_); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

    bool Switched() const { return process_.Switched(); }

private:
    // "de_DE" -> "de_DE.UTF-8"; the C locale as "C.UTF-8".
    static std::string ProcessName(const QLocale& locale) {
        const std::string name = locale.name().toStdString();
        return (name == "C" ? std::string("C") : name) + ".UTF-8";
    }

    QLocale saved_;
    testsupport::ProcessLocaleScope process_;
};

}  // namespace consoletest
