#pragma once
// Keeps a repeating action from stacking error reports. While the report of one failure is on
// screen (the report is modal and runs its own event loop, in which the action keeps firing),
// later runs are skipped. Once it is dismissed the action runs again, but the same failure is
// not reported again until the action has succeeded in between or the gate is rearmed: a lost
// line would otherwise put up a new report a moment after each one the operator dismisses,
// and "Disconnect" could hardly be reached.

#include "Errors.h"

class TReportGate {
public:
    // True while a report raised through this gate is on screen.
    bool ReportOnScreen() const { return onScreen_; }
    // A fresh start (a new connection): its first failure is reported.
    void Rearm() { reported_ = false; }

    template <typename Fn>
    void Run(Fn&& action) noexcept {
        if (onScreen_) return;
        try {
            action();
            reported_ = false;
        } catch (...) {
            if (reported_) return;
            reported_ = onScreen_ = true;
            framework::ShowCurrentException();
            onScreen_ = false;
        }
    }

private:
    bool onScreen_ = false;
    bool reported_ = false;
};
