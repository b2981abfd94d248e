#include "GrblEngine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace grblsim {

namespace {

constexpr char kReset = 0x18;
constexpr unsigned char kJogCancel = 0x85;
// The firmware waits this long after an alarm before it starts again (machine seconds).
constexpr double kAlarmPause = 0.5;

using namespace gcode; // the status numbers

std::string Number(double value, int decimals, bool pointAlways) {
    return FormatNumber(value, decimals, pointAlways);
}

std::string Int(long long value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string Binary8(int value) {
    std::string bits;
    for (int bit = 7; bit >= 0; --bit)
        bits += (value >> bit) & 1 ? '1' : '0';
    return bits;
}

struct SettingInfo {
    int number;
    double default09;
    double default11;
    enum Kind { Int, Mask, Float, Rpm } kind;
    const char* text09; // empty: no such setting in 0.9j
};

// Defaults of the generic machine both versions ship with.
constexpr SettingInfo kSettings[] = {
    {0, 10, 10, SettingInfo::Int, "step pulse, usec"},
    {1, 25, 25, SettingInfo::Int, "step idle delay, msec"},
    {2, 0, 0, SettingInfo::Mask, "step port invert mask"},
    {3, 0, 0, SettingInfo::Mask, "dir port invert mask"},
    {4, 0, 0, SettingInfo::Int, "step enable invert, bool"},
    {5, 0, 0, SettingInfo::Int, "limit pins invert, bool"},
    {6, 0, 0, SettingInfo::Int, "probe pin invert, bool"},
    {10, 3, 1, SettingInfo::Mask, "status report mask"},
    {11, 0.010, 0.010, SettingInfo::Float, "junction deviation, mm"},
    {12, 0.002, 0.002, SettingInfo::Float, "arc tolerance, mm"},
    {13, 0, 0, SettingInfo::Int, "report inches, bool"},
    {20, 0, 0, SettingInfo::Int, "soft limits, bool"},
    {21, 0, 0, SettingInfo::Int, "hard limits, bool"},
    {22, 0, 0, SettingInfo::Int, "homing cycle, bool"},
    {23, 0, 0, SettingInfo::Mask, "homing dir invert mask"},
    {24, 25, 25, SettingInfo::Float, "homing feed, mm/min"},
    {25, 500, 500, SettingInfo::Float, "homing seek, mm/min"},
    {26, 250, 250, SettingInfo::Int, "homing debounce, msec"},
    {27, 1, 1, SettingInfo::Float, "homing pull-off, mm"},
    {30, 0, 1000, SettingInfo::Rpm, ""},
    {31, 0, 0, SettingInfo::Rpm, ""},
    {32, 0, 0, SettingInfo::Int, ""},
};
constexpr const char* kAxisNames = "xyz";
constexpr const char* kAxisSettingTexts[] = {", step/mm", " max rate, mm/min", " accel, mm/sec^2",
                                             " max travel, mm"};
constexpr double kAxisDefaults[] = {250, 500, 10, 200};

} // namespace

GrblEngine::GrblEngine(Dialect dialect)
    : dialect_(dialect), motion_(&limits_, dialect == Dialect::Grbl09j ? gcode::Planner::kCapacity09
                                                                       : gcode::Planner::kCapacity),
      interp_(dialect) {
    RestoreDefaultSettings();
}

void GrblEngine::RestoreDefaultSettings() {
    settings_.clear();
    for (const SettingInfo& info : kSettings) {
        if (dialect_ == Dialect::Grbl09j && info.text09[0] == '\0') continue;
        ApplySetting(info.number, dialect_ == Dialect::Grbl09j ? info.default09 : info.default11);
    }
    for (int group = 0; group < 4; ++group)
        for (int axis = 0; axis < 3; ++axis)
            ApplySetting(100 + 10 * group + axis, kAxisDefaults[group]);
}

void GrblEngine::ApplySetting(int n, double value) {
    settings_[n] = value;
    if (n == 10) statusMask_ = static_cast<int>(value);
    if (n == 11) limits_.junctionDeviation = value;
    if (n == 12) interp_.Settings().arcTolerance = value;
    if (n >= 110 && n <= 112) limits_.maxRate[static_cast<std::size_t>(n - 110)] = value;
    if (n >= 120 && n <= 122) limits_.accel[static_cast<std::size_t>(n - 120)] = value;
}

void GrblEngine::Boot(double now) {
    lastTime_ = std::max(lastTime_, now);
    // Power-up: nothing moves, the position counts from here, no alarm is pending.
    motion_.Abort();
    motion_.SetPosition({});
    state_ = State::Idle;
    bootAt_ = -1;
    interp_.SetProbeResult({}, false);
    ResetController(now);
}

std::string GrblEngine::TakeOutput() {
    std::string out;
    out.swap(out_);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Receiving

void GrblEngine::Receive(std::string_view bytes, double now) {
    Advance(now);
    if (bootAt_ >= 0) return; // still pausing after an alarm: the board takes nothing
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '?' || c == '!' || c == '~' || c == kReset) {
            RealTime(c, now);
            if (bootAt_ >= 0) return;
        } else if (u > 0x7F && dialect_ == Dialect::Grbl11h) {
            ExtendedRealTime(u);
        } else if (rx_.size() < kRxBufferSize) {
            rx_ += c;
        }
    }
    WorkLines(now);
}

void GrblEngine::RealTime(char c, double now) {
    switch (c) {
    case '?':
        StatusReport();
        break;
    case '!':
        if (state_ == State::Jog) {
            CancelJog(); // a jog is not paused but ended
        } else if (state_ == State::Run || state_ == State::Idle) {
            motion_.Hold();
            state_ = State::Hold;
        }
        break;
    case '~':
        if (state_ == State::Hold) {
            motion_.Resume();
            // Cycle start ends a program pause: its line is answered.
            if (pausing_ && !steps_.empty() && steps_.front().kind == Step::Pause)
                steps_.pop_front();
            pausing_ = false;
            state_ = motion_.Empty() ? State::Idle : State::Run;
            FinishPending(now);
            WorkLines(now);
        }
        break;
    default:
        ResetController(now);
        break;
    }
}

void GrblEngine::ExtendedRealTime(unsigned char c) {
    // 1.1 takes the whole upper half of the byte range as real-time commands; none of it ever
    // reaches a line. Of them only the jog cancel acts here: the overrides, the spindle stop,
    // the coolant toggles and the safety door leave the simulated machine as it is.
    if (c == kJogCancel && state_ == State::Jog) CancelJog();
}

void GrblEngine::CancelJog() {
    if (cancellingJog_) return;
    cancellingJog_ = true;
    motion_.Hold();
    SyncStateWithMotion(); // a jog that has not started yet ends at once
}

void GrblEngine::Alarm(int code) {
    state_ = State::Alarm;
    if (dialect_ == Dialect::Grbl11h) {
        out_ += "ALARM:" + Int(code) + "\r\n";
        return;
    }
    static const char* const texts[] = {
        "", "Hard limit", "Soft limit", "Abort during cycle", "Probe fail", "Probe fail"};
    out_ += std::string("ALARM: ") + texts[code] + "\r\n";
}

void GrblEngine::ResetController(double now) {
    // A reset while the machine moves loses its position: the firmware raises an alarm, and
    // pauses before it starts again.
    const bool moving = state_ == State::Run || state_ == State::Jog ||
                        (state_ == State::Hold && motion_.Speed() > 0);
    lastTime_ = std::max(lastTime_, now);
    if (moving) {
        Alarm(3);
        bootAt_ = lastTime_ + kAlarmPause;
    } else if (state_ != State::Alarm) {
        state_ = State::Idle;
    }
    motion_.Abort();
    rx_.clear();
    line_.clear();
    lineOverflow_ = inComment_ = inSemicolon_ = false;
    steps_.clear();
    replyOwed_ = false;
    dwelling_ = false;
    cancellingJog_ = false;
    pausing_ = false;
    probePhase_ = ProbePhase::Idle;
    resetAfterReply_ = false;
    interp_.Reset();
    interp_.SetPosition(motion_.Position());
    spindle_ = 5;
    spindleSpeed_ = 0;
    flood_ = mist_ = false;
    wcoCounter_ = ovrCounter_ = 0;
    if (bootAt_ < 0) FinishBoot();
}

void GrblEngine::FinishBoot() {
    bootAt_ = -1;
    out_ += "\r\nGrbl ";
    out_ += dialect_ == Dialect::Grbl09j ? "0.9j" : "1.1h";
    out_ += " ['$' for help]\r\n";
    if (state_ == State::Alarm)
        Message("'$H'|'$X' to unlock");
    else
        RunStartupLines();
}

void GrblEngine::RunStartupLines() {
    for (const std::string& line : startupLines_) {
        if (line.empty()) continue;
        const int status = ExecuteGcode(line, false);
        const std::string reply = StatusReply(dialect_, status);
        // 1.1h frames the line and its answer; 0.9j writes them one after the other.
        out_ += dialect_ == Dialect::Grbl11h ? ">" + line + ":" + reply + "\r\n"
                                             : line + reply + "\r\n";
    }
    FinishPending(lastTime_);
}

// ---------------------------------------------------------------------------------------------
// Time

void GrblEngine::Advance(double now) {
    if (bootAt_ >= 0) {
        if (now < bootAt_) return;
        lastTime_ = std::max(lastTime_, bootAt_);
        FinishBoot();
    }
    // Block by block, so that a line waiting for the planner is taken as soon as a block ends
    // and the machine runs on without a stop. An event counts as due when its time does not
    // lie after `now` in floating point, so rounding can never leave one pending forever.
    for (int guard = 0; guard < 1000000; ++guard) {
        const double untilEvent = motion_.TimeToNextEvent();
        const bool due = untilEvent >= 0 && lastTime_ + untilEvent <= now;
        if (!due && !(lastTime_ < now)) break;
        double step = due ? untilEvent : now - lastTime_;
        if (dwelling_ && dwellEnd_ > lastTime_) step = std::min(step, dwellEnd_ - lastTime_);
        const double used = untilEvent >= 0 ? motion_.Step(step) : step;
        lastTime_ += used;
        SyncStateWithMotion();
        FinishPending(lastTime_);
        WorkLines(lastTime_);
    }
    lastTime_ = std::max(lastTime_, now);
    SyncStateWithMotion();
    FinishPending(lastTime_);
    WorkLines(lastTime_);
}

double GrblEngine::NextEvent() const {
    if (bootAt_ >= 0) return bootAt_;
    double next = -1;
    const double t = motion_.TimeToNextEvent();
    if (t >= 0) next = lastTime_ + t;
    if (dwelling_ && (next < 0 || dwellEnd_ < next)) next = dwellEnd_;
    return next;
}

void GrblEngine::SyncStateWithMotion() {
    if (state_ == State::Run && motion_.Empty()) state_ = State::Idle;
    if (state_ == State::Jog && (motion_.Empty() || (cancellingJog_ && motion_.Speed() <= 0))) {
        // Done, or cancelled and standing. A cancel drops what is left of the jog, and the
        // parser goes on from where the machine stands; a jog line still waiting for the
        // planner is answered but not run.
        if (cancellingJog_) {
            motion_.Abort();
            interp_.SetPosition(motion_.Position());
            cancellingJog_ = false;
            if (!steps_.empty()) {
                steps_.clear();
                if (replyOwed_) Reply(kOk);
                replyOwed_ = false;
            }
        }
        state_ = State::Idle;
    }
    if (state_ == State::Idle && !motion_.Empty() && !motion_.Holding()) state_ = State::Run;
}

bool GrblEngine::ProbeStep(const Step& s) {
    const auto touching = [&](double z) { return hasSurface_ && z <= surfaceZ_; };
    switch (probePhase_) {
    case ProbePhase::Idle: {
        // The probe starts from a standing machine, and not already where it would stop.
        if (!motion_.Empty()) return false;
        const Vec3 from = motion_.Position();
        if (touching(from[2]) != s.probeAway) {
            Alarm(4);
            interp_.SetPosition(from);
            steps_.clear();
            return true;
        }
        // Where the probe meets the surface (or leaves it): the move is split there into
        // two blocks in one line, which the planner runs exactly as the one move.
        double t = -1;
        const double dz = s.target[2] - from[2];
        if (hasSurface_ && dz != 0) {
            const bool crosses = s.probeAway ? s.target[2] > surfaceZ_ : s.target[2] <= surfaceZ_;
            if (crosses) t = (surfaceZ_ - from[2]) / dz;
        }
        if (t > 0 && t <= 1) {
            for (std::size_t i = 0; i < 3; ++i)
                probeTrigger_[i] = from[i] + t * (s.target[i] - from[i]);
            motion_.Push(probeTrigger_, s.value, false);
            if (t < 1) motion_.Push(s.target, s.value, false);
            probePhase_ = ProbePhase::Approach;
        } else {
            motion_.Push(s.target, s.value, false);
            probePhase_ = ProbePhase::Open;
        }
        SyncStateWithMotion();
        return false;
    }
    case ProbePhase::Approach: {
        // The first block ends at the contact: from there the machine stops as a feed hold
        // stops, and the rest of the move is dropped.
        const bool atContact =
            motion_.Empty() || (motion_.Blocks() == 1 && motion_.Position() == probeTrigger_);
        if (!atContact) return false;
        interp_.SetProbeResult(probeTrigger_, true);
        motion_.Hold();
        probePhase_ = ProbePhase::Stopping;
        [[fallthrough]];
    }
    case ProbePhase::Stopping:
        if (!motion_.Empty() && motion_.Speed() > 0) return false;
        motion_.Abort();
        interp_.SetPosition(motion_.Position());
        probePhase_ = ProbePhase::Idle;
        SyncStateWithMotion();
        break;
    case ProbePhase::Open:
        if (!motion_.Empty()) return false;
        probePhase_ = ProbePhase::Idle;
        // Nothing touched: the machine stands at the end of the move.
        if (s.probeNoError) {
            interp_.SetProbeResult(motion_.Position(), false);
        } else {
            interp_.SetProbeResult(interp_.GetOffsets().probe, false);
            Alarm(5);
            steps_.erase(steps_.begin() + 1, steps_.end());
        }
        break;
    }
    const gcode::Offsets& o = interp_.GetOffsets();
    out_ += "[PRB:" + Axes(o.probe) + (o.probeSucceeded ? ":1]\r\n" : ":0]\r\n");
    return true;
}

void GrblEngine::FinishPending(double now) {
    if (steps_.empty() && !replyOwed_) return;
    while (!steps_.empty()) {
        const Step& s = steps_.front();
        if (s.kind == Step::Move || s.kind == Step::Jog) {
            if (motion_.Full() || cancellingJog_) return;
            motion_.Push(s.target, s.value, s.rapid);
            if (s.kind == Step::Jog && state_ == State::Idle) state_ = State::Jog;
            SyncStateWithMotion();
        } else if (s.kind == Step::Probe) {
            if (!ProbeStep(s)) return;
            if (steps_.empty()) break; // refused at the start: nothing more of the line runs
        } else {
            // Everything else happens with the machine standing.
            if (!motion_.Empty()) return;
            if (s.kind == Step::Dwell) {
                if (!dwelling_) {
                    dwelling_ = true;
                    dwellEnd_ = now + s.value;
                }
                if (now < dwellEnd_) return;
                dwelling_ = false;
            } else if (s.kind == Step::Sync) {
                spindle_ = s.spindle;
                spindleSpeed_ = s.spindleSpeed;
                flood_ = s.flood;
                mist_ = s.mist;
            } else if (s.kind == Step::Pause) {
                // A program pause is a feed hold that only cycle start ends.
                if (!pausing_) {
                    pausing_ = true;
                    motion_.Hold();
                    state_ = State::Hold;
                }
                return;
            } else {
                spindle_ = 5;
                flood_ = mist_ = false;
                Message("Pgm End");
            }
        }
        steps_.pop_front();
    }
    if (replyOwed_) Reply(kOk);
    replyOwed_ = false;
}

// ---------------------------------------------------------------------------------------------
// Lines

void GrblEngine::WorkLines(double now) {
    // The firmware's line reader: drops spaces and control characters, comments in ( ) and
    // after ;, upper-cases letters, and counts what is left against its line buffer. 1.1h
    // answers a line too long once at its end; 0.9j answers at once and reads the rest of it
    // as a line of its own. While a jog is being cancelled the next line waits until the
    // machine stands.
    const bool v09 = dialect_ == Dialect::Grbl09j;
    std::size_t used = 0;
    while (steps_.empty() && !cancellingJog_ && bootAt_ < 0 && used < rx_.size()) {
        const char c = rx_[used++];
        if (c == '\n' || c == '\r') {
            std::string line;
            line.swap(line_);
            const bool overflow = lineOverflow_;
            lineOverflow_ = inComment_ = inSemicolon_ = false;
            rx_.erase(0, used);
            used = 0;
            if (overflow)
                Reply(kLineOverflow);
            else
                ExecuteLine(line, now);
            if (resetAfterReply_) {
                // Leaving check mode and restoring defaults reset the controller once the line
                // is answered, as the firmware does; an alarm outlives the reset.
                resetAfterReply_ = false;
                ResetController(now);
            }
            continue;
        }
        if (inComment_) {
            if (c == ')') inComment_ = false;
        } else if (inSemicolon_ || lineOverflow_) {
        } else if (static_cast<unsigned char>(c) <= ' ') {
        } else if (c == '/') {
        } else if (c == '(') {
            inComment_ = true;
        } else if (c == ';') {
            // 0.9j ends a ';' comment at ')' as well.
            if (v09)
                inComment_ = true;
            else
                inSemicolon_ = true;
        } else if (line_.size() >= kLineBufferSize - 1) {
            if (v09) {
                Reply(kLineOverflow);
                line_.clear();
            } else {
                lineOverflow_ = true;
            }
        } else {
            line_ += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    // Whatever has been read into the line is out of the receive buffer.
    rx_.erase(0, used);
}

void GrblEngine::ExecuteLine(const std::string& line, double now) {
    int status = kOk; // a blank line or a comment is answered at once, for syncing
    if (!line.empty()) {
        if (line[0] == '$')
            status = ExecuteSystem(line);
        else if (state_ == State::Alarm || state_ == State::Jog)
            status = kSystemLocked;
        else
            status = ExecuteGcode(line, false);
    }
    // A line that queued work is answered once that work has been taken on.
    if (status != kOk || steps_.empty()) {
        Reply(status);
    } else {
        replyOwed_ = true;
        FinishPending(now);
    }
}

int GrblEngine::ExecuteSystem(const std::string& line) {
    auto& settings = settings_;
    const bool v09 = dialect_ == Dialect::Grbl09j;
    if (line.size() == 1) {
        if (v09) {
            out_ +=
                "$$ (view Grbl settings)\r\n$# (view # parameters)\r\n$G (view parser state)\r\n"
                "$I (view build info)\r\n$N (view startup blocks)\r\n"
                "$x=value (save Grbl setting)\r\n$Nx=line (save startup block)\r\n"
                "$C (check gcode mode)\r\n$X (kill alarm lock)\r\n$H (run homing cycle)\r\n"
                "~ (cycle start)\r\n! (feed hold)\r\n? (current status)\r\n"
                "ctrl-x (reset Grbl)\r\n";
        } else {
            out_ += "[HLP:$$ $# $G $I $N $x=val $Nx=line $J=line $SLP $C $X $H ~ ! ? ctrl-x]\r\n";
        }
        return kOk;
    }
    const char what = line[1];
    if (what == 'J' && !v09) {
        // Jogs queue behind jogs only: never in alarm, check mode, a hold or a running job.
        if (state_ != State::Idle && state_ != State::Jog) return kNotIdle;
        if (line.size() < 3 || line[2] != '=') return kInvalidStatement;
        return ExecuteGcode(line, true);
    }
    if (what == '$' || what == 'G' || what == 'C' || what == 'X') {
        if (line.size() != 2) return kInvalidStatement;
        switch (what) {
        case '$':
            if (state_ == State::Run || state_ == State::Hold) return kNotIdle;
            ReportSettings();
            break;
        case 'G':
            out_ += interp_.ParserStateReport() + "\r\n";
            break;
        case 'C':
            if (state_ == State::Check) {
                Message("Disabled");
                resetAfterReply_ = true;
            } else {
                if (state_ != State::Idle) return kNotIdle;
                state_ = State::Check;
                Message("Enabled");
            }
            break;
        default:
            if (state_ == State::Alarm) {
                Message("Caution: Unlocked");
                state_ = State::Idle;
            }
            break;
        }
        return kOk;
    }
    if (state_ != State::Idle && state_ != State::Alarm) return kNotIdle;
    switch (what) {
    case '#':
        if (line.size() != 2) return kInvalidStatement;
        out_ += interp_.ParametersReport();
        return kOk;
    case 'H':
        if (line.size() != 2) return kInvalidStatement;
        return settings[22] != 0 ? kOk : kSettingDisabled;
    case 'I':
        if (line.size() != 2) return kInvalidStatement;
        out_ += v09 ? "[0.9j.20160726:]\r\n" : "[VER:1.1h.20190830:]\r\n[OPT:V,15,128]\r\n";
        return kOk;
    case 'N':
        if (line.size() == 2) {
            for (std::size_t i = 0; i < startupLines_.size(); ++i)
                out_ += "$N" + Int(static_cast<long long>(i)) + "=" + startupLines_[i] + "\r\n";
            return kOk;
        }
        if (line.size() >= 4 && (line[2] == '0' || line[2] == '1') && line[3] == '=') {
            // The block is run once to check it, and stored only when it is accepted.
            if (state_ != State::Idle) return kNotIdle;
            const std::string block = line.substr(4);
            const int status = block.empty() ? kOk : ExecuteGcode(block, false);
            if (status == kOk) startupLines_[static_cast<std::size_t>(line[2] - '0')] = block;
            return status;
        }
        return kInvalidStatement;
    case 'R': {
        // $RST=$ restores the settings, $RST=# clears the stored offsets, $RST=* both and
        // the startup lines; the controller then resets.
        if (line.size() != 6 || line.compare(0, 5, "$RST=") != 0) return kInvalidStatement;
        const char which = line[5];
        if (which != '$' && which != '#' && which != '*') return kInvalidStatement;
        if (which == '$' || which == '*') RestoreDefaultSettings();
        if (which == '#' || which == '*') interp_.ClearStoredOffsets();
        if (which == '*') startupLines_ = {};
        Message("Restoring defaults");
        resetAfterReply_ = true; // the reset after the answer
        return kOk;
    }
    default:
        break;
    }
    // $n=value
    std::size_t pos = 1;
    double number = 0, value = 0;
    if (!ReadNumber(line, pos, number)) return kBadNumberFormat;
    if (pos >= line.size() || line[pos] != '=') return kInvalidStatement;
    ++pos;
    if (!ReadNumber(line, pos, value) || pos != line.size()) return kBadNumberFormat;
    const int n = static_cast<int>(number);
    if (number != n || settings.find(n) == settings.end()) return kInvalidStatement;
    if (value < 0) return kNegativeValue;
    if (n == 0 && value < 3) return kStepPulseMin;
    ApplySetting(n, value);
    return kOk;
}

int GrblEngine::ExecuteGcode(const std::string& line, bool jog) {
    const std::string_view block(line);
    if (jog)
        interp_.ExecuteJog(block.substr(3), result_);
    else
        interp_.Execute(block, result_);
    if (result_.status != kOk) return result_.status;
    QueueSteps(result_, jog);
    return kOk;
}

void GrblEngine::QueueSteps(const gcode::Result& r, bool jog) {
    if (r.offsetsChanged) wcoCounter_ = 0; // the next report carries the new offset
    if (state_ == State::Check) {
        // Check mode parses and moves nothing; a program end still says so.
        if (r.flow == gcode::ProgramFlow::Ended) Message("Pgm End");
        return;
    }
    const gcode::ModalState& m = interp_.Modal();
    if (r.spindleChanged) {
        Step sync{Step::Sync};
        sync.spindle = m.spindle;
        sync.spindleSpeed = m.spindleSpeed;
        sync.flood = m.flood;
        sync.mist = m.mist;
        steps_.push_back(sync);
    }
    for (const gcode::Motion& mo : r.motions) {
        Step s{Step::Move};
        s.target = mo.target;
        switch (mo.kind) {
        case gcode::Motion::Dwell:
            s.kind = Step::Dwell;
            s.value = mo.seconds;
            break;
        case gcode::Motion::Rapid:
            s.rapid = true;
            break;
        case gcode::Motion::Feed:
            s.kind = jog ? Step::Jog : Step::Move;
            s.value = mo.feed;
            break;
        case gcode::Motion::Probe:
            s.kind = Step::Probe;
            s.value = mo.feed;
            s.probeAway = mo.probeAway;
            s.probeNoError = mo.probeNoError;
            break;
        }
        steps_.push_back(s);
    }
    if (r.flow == gcode::ProgramFlow::Paused) steps_.push_back(Step{Step::Pause});
    if (r.flow == gcode::ProgramFlow::Ended) steps_.push_back(Step{Step::ProgramEnd});
}

// ---------------------------------------------------------------------------------------------
// Replies and reports

void GrblEngine::Reply(int status) {
    out_ += StatusReply(dialect_, status) + "\r\n";
}

void GrblEngine::Message(const std::string& text) {
    out_ += dialect_ == Dialect::Grbl09j ? "[" + text + "]\r\n" : "[MSG:" + text + "]\r\n";
}

Vec3 GrblEngine::WorkOffset() const {
    return interp_.WorkOffset();
}

std::string GrblEngine::Axes(const Vec3& v) const {
    return Number(v[0], 3, false) + "," + Number(v[1], 3, false) + "," + Number(v[2], 3, false);
}

void GrblEngine::StatusReport() {
    auto& settings = settings_;
    // Positions are whole steps on the machine.
    Vec3 mpos = motion_.Position();
    for (std::size_t i = 0; i < 3; ++i) {
        const double steps = settings[100 + static_cast<int>(i)];
        if (steps > 0) mpos[i] = std::round(mpos[i] * steps) / steps;
    }
    const Vec3 wco = WorkOffset();
    Vec3 wpos;
    for (std::size_t i = 0; i < 3; ++i)
        wpos[i] = mpos[i] - wco[i];
    const bool moving = state_ == State::Run || state_ == State::Hold || state_ == State::Jog;
    std::string r = "<";
    if (dialect_ == Dialect::Grbl09j) {
        static const char* names[] = {"Idle", "Run", "Hold", "Alarm", "Check", "Jog"};
        r += names[static_cast<int>(state_)];
        if (statusMask_ & 1) r += ",MPos:" + Axes(mpos);
        if (statusMask_ & 2) r += ",WPos:" + Axes(wpos);
        if (statusMask_ & 4) r += ",Buf:" + Int(static_cast<long long>(motion_.Blocks()));
        if (statusMask_ & 8) r += ",RX:" + Int(static_cast<long long>(rx_.size()));
        if (statusMask_ & 16) r += ",Lim:000";
        out_ += r + ">\r\n";
        return;
    }
    switch (state_) {
    case State::Idle:
        r += "Idle";
        break;
    case State::Run:
        r += "Run";
        break;
    case State::Hold:
        r += motion_.Speed() > 0 ? "Hold:1" : "Hold:0";
        break;
    case State::Alarm:
        r += "Alarm";
        break;
    case State::Check:
        r += "Check";
        break;
    case State::Jog:
        r += "Jog";
        break;
    }
    r += (statusMask_ & 1) ? "|MPos:" + Axes(mpos) : "|WPos:" + Axes(wpos);
    if (statusMask_ & 2)
        r += "|Bf:" + Int(static_cast<long long>(motion_.Capacity() - motion_.Blocks())) + "," +
             Int(static_cast<long long>(kRxBufferSize - rx_.size()));
    const double rate = moving ? motion_.Speed() * 60.0 : 0.0;
    const double speed = spindle_ == 5 ? 0.0 : spindleSpeed_;
    r += "|FS:" + Number(rate, 0, false) + "," + Number(speed, 0, false);
    if (wcoCounter_ > 0) {
        --wcoCounter_;
    } else {
        wcoCounter_ = moving ? 30 - 1 : 10 - 1;
        if (ovrCounter_ == 0) ovrCounter_ = 1; // overrides follow in the next report
        r += "|WCO:" + Axes(wco);
    }
    if (ovrCounter_ > 0) {
        --ovrCounter_;
    } else {
        ovrCounter_ = moving ? 20 - 1 : 10 - 1;
        r += "|Ov:100,100,100";
        if (spindle_ != 5 || flood_ || mist_) {
            r += "|A:";
            if (spindle_ == 3) r += "S";
            if (spindle_ == 4) r += "C";
            if (flood_) r += "F";
            if (mist_) r += "M";
        }
    }
    out_ += r + ">\r\n";
}

void GrblEngine::ReportSettings() {
    auto& settings = settings_;
    const bool v09 = dialect_ == Dialect::Grbl09j;
    for (const SettingInfo& info : kSettings) {
        if (v09 && info.text09[0] == '\0') continue;
        const double value = settings[info.number];
        std::string text = "$" + Int(info.number) + "=";
        if (info.kind == SettingInfo::Float)
            text += Number(value, 3, false);
        else if (info.kind == SettingInfo::Rpm)
            text += Number(value, 0, false);
        else
            text += Int(static_cast<long long>(value));
        if (v09) {
            if (info.kind == SettingInfo::Mask)
                text +=
                    std::string(" (") + info.text09 + ":" + Binary8(static_cast<int>(value)) + ")";
            else
                text += std::string(" (") + info.text09 + ")";
        }
        out_ += text + "\r\n";
    }
    for (int group = 0; group < 4; ++group) {
        for (int axis = 0; axis < 3; ++axis) {
            const int n = 100 + 10 * group + axis;
            std::string text = "$" + Int(n) + "=" + Number(settings[n], 3, false);
            if (v09) text += std::string(" (") + kAxisNames[axis] + kAxisSettingTexts[group] + ")";
            out_ += text + "\r\n";
        }
    }
}

} // namespace grblsim
