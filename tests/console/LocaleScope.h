#pragma once
// The default locale for the span of a test: the panel's texts follow the user's locale.

#include <QLocale>

namespace consoletest {

class LocaleScope {
public:
    explicit LocaleScope(const QLocale& locale) { QLocale::setDefault(locale); }
    ~LocaleScope() { QLocale::setDefault(saved_); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;

private:
    QLocale saved_;
};

}  // namespace consoletest
