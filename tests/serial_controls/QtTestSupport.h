#pragma once
// Shared by the Qt tests: one offscreen QApplication for the whole run with the framework's
// Qt hooks installed, a bounded wait that runs the Qt event loop, and a default error report
// that records instead of opening a message box.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "Errors.h"
#include "QtFramework.h"

namespace controlstest {

using namespace std::chrono_literals;

struct ErrorLog {
    std::mutex mutex;
    std::vector<std::string> messages;
};
inline ErrorLog& Errors() {
    static ErrorLog log;
    return log;
}
inline std::vector<std::string> TakeReportedErrors() {
    std::lock_guard lock(Errors().mutex);
    auto out = std::move(Errors().messages);
    Errors().messages.clear();
    return out;
}
// What the tests install after the Qt hooks: errors are recorded, so a test can check them
// and an unexpected one fails the test instead of waiting in a modal box.
inline void RecordErrors() {
    framework::SetDefaultErrorReport([](const std::string& message) {
        std::lock_guard lock(Errors().mutex);
        Errors().messages.push_back(message);
    });
}

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
        QCoreApplication::setApplicationName(QStringLiteral("Tarnwick tests"));
        InstallQtFrameworkHooks();
        RecordErrors();
    }
    void TearDown() override {
        RemoveQtFrameworkHooks();
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "controls_tests";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

inline ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the Qt event loop until `done` holds; false when `limit` passed first. The loop sleeps
// until an event arrives, so `done` must become true through something the loop runs; a guard
// timer wakes it at the limit.
template <typename Pred>
bool ServeQtUntil(Pred done, std::chrono::milliseconds limit = 10s) {
    QTimer guard;
    guard.setSingleShot(true);
    bool expired = false;
    QObject::connect(&guard, &QTimer::timeout, [&] { expired = true; });
    guard.start(limit);
    while (!done()) {
        if (expired) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Every test checks that nothing reached the default error report unexpectedly.
class QtTest : public ::testing::Test {
protected:
    void TearDown() override {
        const auto errors = TakeReportedErrors();
        EXPECT_TRUE(errors.empty()) << "unexpected error report: " << errors.front();
    }
};

}  // namespace controlstest
