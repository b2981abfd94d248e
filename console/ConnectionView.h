#pragma once
// What the window shows and runs in each phase of the link to the controller, and the rules
// of that link that need no window: the controller's greeting, and the failures that mean the
// device has gone.

#include <string>
#include <string_view>

// The link's phases. The port being open or not is always the port's own state; the console
// only adds whether the controller has greeted since the port opened.
enum class TLinkPhase {
    Closed,    // the port is closed
    Greeting,  // the port is open; the controller may still be in its boot loader
    Ready,     // greeted, or waited out: "F100" written and the poll running
};

struct TConnectionView {
    std::string Caption;     // of the connect button
    bool MonitorEnabled;     // the monitor group box and its "Clear"
    bool ManualEnabled;      // the manual group box, all of it
    bool StartEnabled;       // "Start Process"
    bool StopEnabled;        // "Not-Stop" of the G-code group box
    bool PollRunning;        // the 200 ms status query
    bool operator==(const TConnectionView&) const = default;
};

TConnectionView ConnectionViewFor(TLinkPhase phase);

// How long to wait for the greeting before writing anyway: a boot loader runs for up to about
// 2 s after the reset that opening the port causes; a board that does not reset never greets.
inline constexpr int kGreetingWaitMs = 2500;

// The controller's greeting after a reset ("Grbl 0.9j ['$' for help]"). Noise that a reset
// leaves on the line before it (bytes outside printable ASCII) is skipped.
bool IsGreeting(std::string_view line);

// A failure that means the device has gone (cable pulled, adapter unplugged, the far end of a
// terminal closed), as opposed to one that a retry might get past.
bool IsDeviceGone(int systemError);

// What the operator is told once when the link to `port` dies with `systemError`: in plain
// words, with the system's own description of the error.
std::string LinkLostMessage(std::string_view port, int systemError);
