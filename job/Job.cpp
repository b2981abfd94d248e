#include "Job.h"

#include <algorithm>
#include <charconv>
#include <exception>

#include "GrblTexts.h"

namespace job {

namespace {

constexpr char kFeedHold = '!';
constexpr char kCycleStart = '~';
constexpr char kSoftReset = 0x18;

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

std::string Number(std::size_t n) {
    char buf[24];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    (void)ec;
    return std::string(buf, end);
}

std::string FaultText(LineFault fault, std::size_t length, std::size_t longest) {
    switch (fault) {
    case LineFault::TooLong:
        return "ist zu lang (" + Number(length) +
               " Zeichen ohne Kommentare, die Steuerung "
               "nimmt höchstens " +
               Number(longest) + ")";
    case LineFault::NotAscii:
        return "enthält ein Zeichen außerhalb von ASCII oder ein Steuerzeichen";
    case LineFault::RealTimeByte:
        return "enthält \"!\", \"~\" oder \"?\", die die Steuerung sofort ausführen würde";
    }
    return {};
}

} // namespace

Job::Job(Output& output, ControllerLimits limits) : out_(output), limits_(limits) {}

bool Job::Start(const LineSource& source, Clock::time_point now,
                std::span<const std::size_t> foreignBytes) {
    if (Active()) return false;
    const std::size_t total = source.LineCount();
    std::size_t faults = 0;
    for (std::size_t row = 0; row < total; ++row) {
        const std::string line = CleanLine(source.Line(row));
        const auto fault = CheckLine(line, limits_);
        if (!fault) continue;
        if (++faults <= kMaxRefusals) {
            Notice n;
            n.kind = Notice::Refused;
            n.row = row;
            n.rows = total;
            n.text = FaultText(*fault, line.size(), limits_.longestLine);
            out_.Notify(n);
        }
    }
    if (faults > 0) {
        if (faults > kMaxRefusals) {
            Notice n;
            n.kind = Notice::Message;
            n.text = "... und " + Number(faults - kMaxRefusals) + " weitere fehlerhafte Zeilen";
            out_.Notify(n);
        }
        return false;
    }

    source_ = &source;
    rows_.assign(total, RowState::Pending);
    inFlight_.clear();
    outstanding_ = 0;
    for (const std::size_t bytes : foreignBytes) {
        inFlight_.push_back({kForeign, bytes, false});
        outstanding_ += bytes;
    }
    next_ = done_ = sent_ = errors_ = 0;
    nextLine_.reset();
    settingsInFlight_ = false;
    idleReports_ = 0;
    started_ = ended_ = now;
    phase_ = Phase::Running;

    Notice n;
    n.kind = Notice::Started;
    n.rows = total;
    out_.Notify(n);
    Pump(now);
    return true;
}

void Job::Pump(Clock::time_point now) {
    // Every line that fits goes in one write: one system call instead of one per line.
    std::string batch;
    Collect(batch);
    if (!batch.empty()) Write(batch, false, now);
}

void Job::Collect(std::string& batch) {
    while (phase_ == Phase::Running || phase_ == Phase::Paused) {
        if (settingsInFlight_) return;
        if (next_ >= rows_.size()) {
            // Everything is written; the job ends once it is answered and the machine idles.
            if (inFlight_.empty() && phase_ == Phase::Running) {
                phase_ = Phase::Finishing;
                idleReports_ = 0;
            }
            return;
        }
        if (!nextLine_) nextLine_ = CleanLine(source_->Line(next_));
        if (nextLine_->empty()) {
            rows_[next_++] = RowState::Skipped;
            nextLine_.reset();
            AdvanceDone();
            continue;
        }
        const bool settings = WritesSettings(*nextLine_);
        const std::size_t bytes = nextLine_->size() + 1;
        // A settings write waits until the controller has answered everything before it.
        if (settings && !inFlight_.empty()) return;
        if (outstanding_ + bytes > limits_.rxBuffer) return;

        batch += *nextLine_;
        batch.push_back('\r');
        nextLine_.reset();
        // Counted before the write: an answer that arrives while the write is still in hand
        // finds its line.
        inFlight_.push_back({next_, bytes, settings});
        outstanding_ += bytes;
        rows_[next_++] = RowState::Sent;
        ++sent_;
        settingsInFlight_ = settings;
    }
}

bool Job::Write(std::string_view bytes, bool realTime, Clock::time_point now) {
    try {
        if (realTime)
            out_.WriteRealTime(bytes.front());
        else
            out_.WriteLine(bytes);
        return true;
    } catch (const std::exception& e) {
        End(EndReason::LinkLost, now, e.what());
    } catch (...) {
        End(EndReason::LinkLost, now);
    }
    return false;
}

void Job::LineReceived(std::string_view line, Clock::time_point now) {
    if (!Active()) return;
    const std::string_view text = WithoutLineEnd(line);
    const Reply reply = ClassifyReply(text);
    switch (reply.kind) {
    case ReplyKind::Ok:
        Answer(false, reply, now);
        break;
    case ReplyKind::Error:
        Answer(true, reply, now);
        break;
    case ReplyKind::Alarm: {
        Notice n;
        n.kind = Notice::Alarm;
        n.row = std::min(done_, rows_.empty() ? 0 : rows_.size() - 1);
        n.code = reply.code;
        n.text = DescribeAlarm(reply.code, reply.detail);
        out_.Notify(n);
        // Nothing not yet sent will run: the controller stops and wants a reset.
        End(EndReason::Alarm, now);
        break;
    }
    case ReplyKind::Greeting:
        End(EndReason::Reset, now);
        break;
    case ReplyKind::Status:
        StatusSeen(text, now);
        break;
    case ReplyKind::Message:
    case ReplyKind::Other:
        // The window logs the controller's messages as they come.
        break;
    }
}

void Job::Answer(bool error, const Reply& reply, Clock::time_point now) {
    // An answer nothing waits for (a line written before the job whose count was not known)
    // retires nothing.
    if (inFlight_.empty()) return;
    const InFlight line = inFlight_.front();
    inFlight_.pop_front();
    outstanding_ -= line.bytes;
    if (line.settings) settingsInFlight_ = false;
    if (line.row == kForeign) {
        if (error) {
            Notice n;
            n.kind = Notice::Message;
            n.text = "error:" + reply.detail;
            out_.Notify(n);
        }
        Pump(now);
        return;
    }
    rows_[line.row] = error ? RowState::Error : RowState::Acknowledged;
    AdvanceDone();
    if (error) {
        ++errors_;
        Notice n;
        n.kind = Notice::Error;
        n.row = line.row;
        n.code = reply.code;
        n.text = DescribeError(reply.code, reply.detail);
        out_.Notify(n);
        if (phase_ == Phase::Running || phase_ == Phase::Finishing) {
            // Held, so the operator can decide before the machine runs on.
            if (!Write(std::string_view(&kFeedHold, 1), true, now)) return;
            phase_ = Phase::ErrorHold;
        } else if (phase_ == Phase::Paused) {
            phase_ = Phase::ErrorHold;
        }
    }
    Pump(now);
}

void Job::StatusSeen(std::string_view report, Clock::time_point now) {
    const std::string_view state = StatusState(report);
    if (phase_ == Phase::Finishing) {
        // Twice in a row: a report taken between the last answer and the start of its motion
        // can still read Idle.
        idleReports_ = state == "Idle" ? idleReports_ + 1 : 0;
        if (idleReports_ >= 2) End(EndReason::Completed, now);
        return;
    }
    if (phase_ != Phase::Stopping) return;
    bool stands = state == "Idle" || state == "Queue" || state == "Hold:0" || state == "Alarm";
    if (state == "Hold") {
        // 0.9j names holding and held alike: it stands once the position stays put.
        const std::string_view position = StatusPosition(report);
        stands = !position.empty() && position == lastHoldPosition_;
        lastHoldPosition_ = std::string(position);
    }
    if (!stands) return;
    if (!Write(std::string_view(&kSoftReset, 1), true, now)) return;
    End(EndReason::Stopped, now);
}

void Job::Tick(Clock::time_point now) {
    if (phase_ != Phase::Stopping || now - stopAsked_ < kStopWait) return;
    // No report says the machine stands: a controller that does not answer gets its reset
    // anyway.
    if (!Write(std::string_view(&kSoftReset, 1), true, now)) return;
    End(EndReason::Stopped, now);
}

void Job::Pause(Clock::time_point now) {
    if (phase_ != Phase::Running && phase_ != Phase::Finishing) return;
    if (Write(std::string_view(&kFeedHold, 1), true, now)) phase_ = Phase::Paused;
}

void Job::Resume(Clock::time_point now) {
    if (phase_ != Phase::Paused && phase_ != Phase::ErrorHold) return;
    if (!Write(std::string_view(&kCycleStart, 1), true, now)) return;
    phase_ = Phase::Running;
    Pump(now);
}

void Job::Stop(Clock::time_point now) {
    if (!Active() || phase_ == Phase::Stopping) return;
    if (!Write(std::string_view(&kFeedHold, 1), true, now)) return;
    phase_ = Phase::Stopping;
    stopAsked_ = now;
    lastHoldPosition_.clear();
}

void Job::Abort(EndReason reason, Clock::time_point now) {
    if (Active()) End(reason, now);
}

void Job::LinkLost(Clock::time_point now) {
    if (Active()) End(EndReason::LinkLost, now);
}

void Job::End(EndReason reason, Clock::time_point now, std::string text) {
    if (!Active()) return;
    phase_ = Phase::Idle;
    ended_ = now;
    inFlight_.clear();
    outstanding_ = 0;
    settingsInFlight_ = false;
    nextLine_.reset();
    Notice n;
    n.kind = Notice::Ended;
    n.reason = reason;
    n.row = std::min(done_, rows_.empty() ? 0 : rows_.size() - 1);
    n.rows = rows_.size();
    n.elapsed = Seconds(now);
    n.text = std::move(text);
    out_.Notify(n);
}

void Job::AdvanceDone() {
    const std::size_t before = done_;
    while (done_ < next_ && rows_[done_] != RowState::Sent)
        ++done_;
    if (done_ != before && OnRowsDone) OnRowsDone(done_);
}

double Job::Seconds(Clock::time_point now) const {
    return std::chrono::duration<double>(now - started_).count();
}

Progress Job::GetProgress(Clock::time_point now) const {
    Progress p;
    p.total = rows_.size();
    p.sent = sent_;
    p.done = done_;
    p.executing = std::min(done_, p.total == 0 ? 0 : p.total - 1);
    p.errors = errors_;
    p.elapsed = Seconds(Active() ? now : ended_);
    return p;
}

std::string FormatDuration(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, seconds) + 0.5);
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    char buf[32];
    char* p = std::to_chars(buf, buf + 20, h).ptr;
    *p++ = ':';
    *p++ = static_cast<char>('0' + m / 10);
    *p++ = static_cast<char>('0' + m % 10);
    *p++ = ':';
    *p++ = static_cast<char>('0' + s / 10);
    *p++ = static_cast<char>('0' + s % 10);
    return std::string(buf, p);
}

std::string NoticeText(const Notice& n) {
    const std::string at = " bei Zeile " + Number(n.row + 1) + " von " + Number(n.rows);
    switch (n.kind) {
    case Notice::Started:
        return "Job gestartet: " + Number(n.rows) + " Zeilen";
    case Notice::Error:
        return "Fehler in Zeile " + Number(n.row + 1) + ": " + n.text +
               ". Maschine angehalten: Fortsetzen oder Abbrechen";
    case Notice::Alarm:
        return "Alarm" + at + ": " + n.text;
    case Notice::Message:
        return n.text;
    case Notice::Refused:
        return "Job nicht gestartet: Zeile " + Number(n.row + 1) + " " + n.text;
    case Notice::Ended:
        break;
    }
    const std::string time = FormatDuration(n.elapsed);
    std::string text;
    switch (n.reason) {
    case EndReason::Completed:
        return "Job beendet: " + Number(n.rows) + " Zeilen in " + time;
    case EndReason::Stopped:
        return "Job abgebrochen" + at + " nach " + time + ". Bitte den Nullpunkt neu setzen";
    case EndReason::Alarm:
        return "Job wegen Alarm beendet" + at + " nach " + time;
    case EndReason::Reset:
        return "Job beendet, die Steuerung wurde zurückgesetzt:" + at + " nach " + time;
    case EndReason::LinkLost:
        text = "Job beendet, Verbindung zur Steuerung verloren:" + at + " nach " + time;
        if (!n.text.empty()) text += " (" + n.text + ")";
        return text;
    case EndReason::Emergency:
        return "Job durch Not-Stop beendet" + at + " nach " + time;
    case EndReason::Disconnected:
        return "Job beendet, Verbindung getrennt:" + at + " nach " + time;
    }
    return text;
}

std::optional<double> RemainingSeconds(const Progress& p, const RowTimeEstimate* estimate) {
    if (p.total == 0) return std::nullopt;
    if (estimate && estimate->SecondsBefore)
        return std::max(0.0, estimate->total - estimate->SecondsBefore(p.executing));
    if (p.done == 0 || p.elapsed <= 0) return std::nullopt;
    return p.elapsed * static_cast<double>(p.total - p.done) / static_cast<double>(p.done);
}

} // namespace job

namespace job {

std::string ProgressText(const Progress& p, std::optional<double> remaining) {
    const std::size_t shown = p.total == 0 ? 0 : std::min(p.executing + 1, p.total);
    std::string text = "Zeile " + Number(shown) + " von " + Number(p.total) + "   vergangen " +
                       FormatDuration(p.elapsed) + "   noch ";
    text += remaining ? FormatDuration(*remaining) : std::string("-:--:--");
    if (p.errors > 0) text += "   Fehler: " + Number(p.errors);
    return text;
}

} // namespace job
