#pragma once
// One run of a G-code file on the controller: a state machine fed with the controller's lines,
// a clock tick and the operator's requests, writing through a narrow interface. It never
// blocks and owns no widget.
//
// Lines go out by character counting: the bytes of every line sent and not yet answered are
// kept in order, and the next line goes as soon as it fits the controller's receive buffer
// beside them; each "ok" or "error" answers the oldest. The row of every line of the file
// carries a state for the views to draw.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "JobLine.h"

namespace job {

using Clock = std::chrono::steady_clock;

// The file's lines, read where they are held (the grid's model), never copied whole.
class LineSource {
public:
    virtual ~LineSource() = default;
    virtual std::size_t LineCount() const = 0;
    // Line `index` as it stands in the file, without its line end.
    virtual std::string Line(std::size_t index) const = 0;
};

enum class RowState : std::uint8_t { Pending, Sent, Acknowledged, Error, Skipped };

// Why a job ended.
enum class EndReason {
    Completed,    // every line answered and the machine stands idle
    Stopped,      // the operator stopped it: held, then reset
    Alarm,        // the controller raised an alarm
    Reset,        // the controller was reset (its greeting arrived)
    LinkLost,     // the serial link died or a write failed
    Emergency,    // the emergency stop of the window
    Disconnected, // the operator closed the link
};

struct Notice {
    enum Kind {
        Started, // rows: the file's line count
        Ended,   // reason, row (how far it got), elapsed
        Error,   // row, code, text: the machine is held until continue or stop
        Alarm,   // row, code, text
        Message, // text: a note of the job's own (the window logs controller lines)
        Refused, // row, text: the file cannot run; the job did not start
    } kind = Started;
    EndReason reason = EndReason::Completed;
    std::size_t row = 0; // 0-based line of the file
    int code = 0;
    std::string text;
    std::size_t rows = 0; // lines of the file
    double elapsed = 0;   // seconds since the start
};

// Where the job writes: the wire and the operator.
class Output {
public:
    virtual ~Output() = default;
    // Cleaned lines, each with its CR. May throw when the link fails; the job then ends.
    virtual void WriteLine(std::string_view bytes) = 0;
    // A single real-time byte ("!", "~", 0x18).
    virtual void WriteRealTime(char byte) = 0;
    virtual void Notify(const Notice& notice) = 0;
};

struct Progress {
    std::size_t total = 0;
    std::size_t sent = 0;      // lines written (skipped ones not counted)
    std::size_t done = 0;      // rows before the first one not yet answered
    std::size_t executing = 0; // the row the machine works on, about
    std::size_t errors = 0;
    double elapsed = 0;
};

class Job {
public:
    enum class Phase { Idle, Running, Paused, ErrorHold, Stopping, Finishing };

    Job(Output& output, ControllerLimits limits = {});

    // Checks every line and starts at the first. `foreignBytes`: lines the window wrote before
    // (and their byte counts) whose answers are still to come; they are answered first. False,
    // with one Refused notice per faulty line (at most `kMaxRefusals`), when a line cannot be
    // sent; the job then does not start.
    bool Start(const LineSource& source, Clock::time_point now,
               std::span<const std::size_t> foreignBytes = {});
    static constexpr std::size_t kMaxRefusals = 20;

    // One line from the controller, its CR allowed.
    void LineReceived(std::string_view line, Clock::time_point now);
    // Time passes (the window's poll): guards the wait of a stop.
    void Tick(Clock::time_point now);

    // The operator.
    void Pause(Clock::time_point now);
    // After a pause, and after an error: go on with the next lines.
    void Resume(Clock::time_point now);
    void Stop(Clock::time_point now);
    // The window already wrote its own stop or reset: the job just ends.
    void Abort(EndReason reason, Clock::time_point now);
    void LinkLost(Clock::time_point now);

    Phase GetPhase() const { return phase_; }
    bool Active() const { return phase_ != Phase::Idle; }
    // Rows of the last job (kept after it ended, so the grid shows how far it got).
    std::size_t RowCount() const { return rows_.size(); }
    RowState Row(std::size_t row) const {
        return row < rows_.size() ? rows_[row] : RowState::Pending;
    }
    Progress GetProgress(Clock::time_point now) const;
    // Forgets the rows of the last job (another file was loaded); not while one runs.
    void ClearRows() {
        if (!Active()) rows_.clear();
    }
    // Bytes outstanding in the controller's receive buffer, as counted.
    std::size_t Outstanding() const { return outstanding_; }

    // Called whenever the rows before `done` are all answered (or skipped).
    std::function<void(std::size_t done)> OnRowsDone;

    // How long a stop waits for the machine to stand before it resets anyway.
    static constexpr std::chrono::seconds kStopWait{20};

private:
    struct InFlight {
        std::size_t row; // npos: a line of the window's
        std::size_t bytes;
        bool settings;
    };
    static constexpr std::size_t kForeign = static_cast<std::size_t>(-1);

    void Pump(Clock::time_point now);
    void Collect(std::string& batch);
    void Answer(bool error, const Reply& reply, Clock::time_point now);
    void StatusSeen(std::string_view report, Clock::time_point now);
    void End(EndReason reason, Clock::time_point now, std::string text = {});
    void AdvanceDone();
    bool Write(std::string_view bytes, bool realTime, Clock::time_point now);
    double Seconds(Clock::time_point now) const;

    Output& out_;
    ControllerLimits limits_;
    const LineSource* source_ = nullptr;
    Phase phase_ = Phase::Idle;
    std::vector<RowState> rows_;
    std::deque<InFlight> inFlight_;
    std::size_t outstanding_ = 0;
    std::size_t next_ = 0;                // next row to look at
    std::optional<std::string> nextLine_; // row next_ cleaned, while it waits for room
    std::size_t done_ = 0;
    std::size_t sent_ = 0;
    std::size_t errors_ = 0;
    std::size_t lastErrorRow_ = 0;
    bool settingsInFlight_ = false;
    int idleReports_ = 0;
    std::string lastHoldPosition_;
    Clock::time_point started_{};
    Clock::time_point stopAsked_{};
    Clock::time_point ended_{};
};

// The notice as the operator reads it in the monitor (German, like the window).
std::string NoticeText(const Notice& notice);
// "h:mm:ss".
std::string FormatDuration(double seconds);
// Seconds still to go: from a per-row estimate when there is one, otherwise from the pace
// so far; nullopt while nothing can be said.
struct RowTimeEstimate {
    // Seconds the machine needs for the rows before `row`, and for all of them.
    std::function<double(std::size_t row)> SecondsBefore;
    double total = 0;
};
std::optional<double> RemainingSeconds(const Progress& progress, const RowTimeEstimate* estimate);

} // namespace job

namespace job {
// The progress line under the grid: "Zeile N von M", the time gone and the time to go.
std::string ProgressText(const Progress& progress, std::optional<double> remaining);
} // namespace job
