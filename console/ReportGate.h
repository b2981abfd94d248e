#pragma once
// Keeps a repeating action from stacking error reports: while the report of one failure is on
// screen (the report is modal and runs its own event loop, in which the action keeps firing),
// later runs are skipped; once it is dismissed the action runs again.

#include "Errors.h"

class TReportGate {
public:
    // True while a report raised through this gate is on screen.
    bool ReportOnScreen() const { return onScreen_; }

    template <typename Fn>
    void Run(Fn&& action) noexcept {
        if (onScreen_) return;
        try {
            action();
        } catch (...) {
            onScreen_ = true;
            framework::ShowCurrentException();
            onScreen_ = false;
        }
    }

private:
    bool onScreen_ = false;
};
