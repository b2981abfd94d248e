#pragma once
// What the window shows and runs in each connection state.

#include <string>

struct TConnectionView {
    std::string Caption;     // of the connect button
    bool MonitorEnabled;     // the monitor group box and its "Clear"
    bool ManualEnabled;      // the manual group box, all of it
    bool StartEnabled;       // "Start Process"
    bool StopEnabled;        // "Not-Stop" of the G-code group box
    bool PollRunning;        // the 200 ms status query
    bool operator==(const TConnectionView&) const = default;
};

// The state is always the port's own; this only says what follows from it.
TConnectionView ConnectionViewFor(bool connected);
