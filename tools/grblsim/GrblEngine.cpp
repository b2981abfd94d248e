#include "GrblEngine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace grblsim {

namespace {

constexpr char kReset = 0x18;
constexpr unsigned char kJogCancel = 0x85;
constexpr double kMmPerInch = 25.4;

// Status codes shared by both versions; 0.9j spells most of them out.
enum Status {
    kOk = 0,
    kExpectedCommandLetter = 1,
    kBadNumberFormat = 2,
    kInvalidStatement = 3,
    kNegativeValue = 4,
    kSettingDisabled = 5,
    kStepPulseMin = 6,
    kNotIdle = 8,
    kGcodeLock = 9,  // in alarm (and in 1.1 while jogging)
    kLineOverflow = 11,
    kInvalidJogCommand = 16,
    kUnsupportedCommand = 20,
    kModalGroupViolation = 21,
    kUndefinedFeedRate = 22,
    kCommandValueNotInteger = 23,
    kAxisCommandConflict = 24,
    kWordRepeated = 25,
    kNoAxisWords = 26,
    kValueWordMissing = 28,
    kG53MotionMode = 30,
    kAxisWordsUnused = 31,
    kUnusedWords = 36,
};

std::string ErrorText09(int status) {
    switch (status) {
        case kExpectedCommandLetter: return "Expected command letter";
        case kBadNumberFormat: return "Bad number format";
        case kInvalidStatement: return "Invalid statement";
        case kNegativeValue: return "Value < 0";
        case kSettingDisabled: return "Setting disabled";
        case kStepPulseMin: return "Value < 3 usec";
        case kNotIdle: return "Not idle";
        case kGcodeLock: return "Alarm lock";
        case kLineOverflow: return "Line overflow";
        case kUnsupportedCommand: return "Unsupported command";
        case kModalGroupViolation: return "Modal group violation";
        case kUndefinedFeedRate: return "Undefined feed rate";
        default: return "Invalid gcode ID:" + std::to_string(status);
    }
}

// The firmware's number printer: rounds half up on the magnitude; 0.9j always prints the
// decimal point, even without decimals ("F0."), 1.1 only when there are decimals.
std::string Number(double value, int decimals, bool pointAlways) {
    std::string sign = value < 0 ? "-" : "";
    double n = std::fabs(value);
    const double scale = std::pow(10.0, decimals);
    const long long scaled = static_cast<long long>(n * scale + 0.5);
    const long long whole = scaled / static_cast<long long>(scale);
    std::string text = sign + std::to_string(whole);
    if (decimals > 0) {
        std::string frac = std::to_string(scaled % static_cast<long long>(scale));
        text += "." + std::string(static_cast<std::size_t>(decimals) - frac.size(), '0') + frac;
    } else if (pointAlways) {
        text += ".";
    }
    return text;
}

std::string Binary8(int value) {
    std::string bits;
    for (int bit = 7; bit >= 0; --bit) bits += (value >> bit) & 1 ? '1' : '0';
    return bits;
}

// The firmware's read_float: an optional sign, digits with at most one point, no exponent.
std::optional<double> ReadNumber(const std::string& s, std::size_t& pos) {
    std::size_t i = pos;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    double value = 0, scale = 1;
    bool digits = false, point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (point) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    pos = i;
    return negative ? -value : value;
}

struct SettingInfo {
    int number;
    double default09;
    double default11;
    enum Kind { Int, Mask, Float, Rpm } kind;
    const char* text09;  // empty: no such setting in 0.9j
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
constexpr const char* kAxisSettingTexts[] = {", step/mm", " max rate, mm/min",
                                             " accel, mm/sec^2", " max travel, mm"};
constexpr double kAxisDefaults[] = {250, 500, 10, 200};

}  // namespace

GrblEngine::GrblEngine(Dialect dialect) : dialect_(dialect), motion_(&limits_) {
    auto& s = settings_;
    for (const SettingInfo& info : kSettings) {
        if (dialect_ == Dialect::Grbl09j && info.text09[0] == '\0') continue;
        s[info.number] = dialect_ == Dialect::Grbl09j ? info.default09 : info.default11;
    }
    for (int group = 0; group < 4; ++group)
        for (int axis = 0; axis < 3; ++axis) s[100 + 10 * group + axis] = kAxisDefaults[group];
    statusMask_ = static_cast<int>(s[10]);
    for (std::size_t i = 0; i < 3; ++i) {
        limits_.maxRate[i] = s[110 + static_cast<int>(i)];
        limits_.accel[i] = s[120 + static_cast<int>(i)];
    }
    limits_.junctionDeviation = s[11];
}

void GrblEngine::Boot(double now) {
    lastTime_ = std::max(lastTime_, now);
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
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '?' || c == '!' || c == '~' || c == kReset) {
            RealTime(c, now);
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
                CancelJog();  // a jog is not paused but ended
            } else if (state_ == State::Run || state_ == State::Idle) {
                motion_.Hold();
                state_ = State::Hold;
            }
            break;
        case '~':
            if (state_ == State::Hold) {
                motion_.Resume();
                state_ = motion_.Empty() ? State::Idle : State::Run;
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
    SyncStateWithMotion();  // a jog that has not started yet ends at once
}

void GrblEngine::ResetController(double now) {
    // A reset while the machine moves loses its position: the firmware raises an alarm.
    const bool moving = state_ == State::Run || state_ == State::Jog ||
                        (state_ == State::Hold && motion_.Speed() > 0);
    if (moving) {
        out_ += dialect_ == Dialect::Grbl09j ? "ALARM: Abort during cycle\r\n" : "ALARM:3\r\n";
        state_ = State::Alarm;
    } else if (state_ != State::Alarm) {
        state_ = State::Idle;
    }
    motion_.Abort();
    rx_.clear();
    line_.clear();
    lineOverflow_ = inComment_ = inSemicolon_ = false;
    steps_.clear();
    dwelling_ = false;
    cancellingJog_ = false;
    exitCheckModeAfterReply_ = false;
    modal_ = Modal{};
    feed_ = 0;
    spindleSpeed_ = 0;
    g92Offset_ = {};
    parserPosition_ = motion_.Position();
    wcoCounter_ = ovrCounter_ = 0;
    lastTime_ = std::max(lastTime_, now);
    out_ += "\r\nGrbl ";
    out_ += dialect_ == Dialect::Grbl09j ? "0.9j" : "1.1h";
    out_ += " ['$' for help]\r\n";
    if (state_ == State::Alarm) Message("'$H'|'$X' to unlock");
}

// ---------------------------------------------------------------------------------------------
// Time

void GrblEngine::Advance(double now) {
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
            parserPosition_ = motion_.Position();
            cancellingJog_ = false;
            if (!steps_.empty()) {
                steps_.clear();
                Reply(kOk);
            }
        }
        state_ = State::Idle;
    }
    if (state_ == State::Idle && !motion_.Empty() && !motion_.Holding()) state_ = State::Run;
}

void GrblEngine::FinishPending(double now) {
    if (steps_.empty()) return;
    while (!steps_.empty()) {
        const Step& s = steps_.front();
        if (s.kind == Step::Move || s.kind == Step::Jog) {
            if (motion_.Full() || cancellingJog_) return;
            motion_.Push(s.target, s.value, s.rapid);
            if (s.kind == Step::Jog && state_ == State::Idle) state_ = State::Jog;
            SyncStateWithMotion();
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
            } else if (s.kind == Step::Spindle) {
                modal_.spindle = static_cast<int>(s.value);
            } else {
                modal_.spindle = 5;
                modal_.coolant = false;
                Message("Pgm End");
            }
        }
        steps_.pop_front();
    }
    Reply(kOk);
}

// ---------------------------------------------------------------------------------------------
// Lines

void GrblEngine::WorkLines(double now) {
    // The firmware's line reader: drops spaces and control characters, comments in ( ) and
    // after ;, upper-cases letters, and counts what is left against its line buffer. While a
    // jog is being cancelled the next line waits until the machine stands.
    std::size_t used = 0;
    while (steps_.empty() && !cancellingJog_ && used < rx_.size()) {
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
            if (exitCheckModeAfterReply_) {
                // Leaving check mode resets the controller, as the firmware does.
                exitCheckModeAfterReply_ = false;
                state_ = State::Idle;
                ResetController(now);
            }
            continue;
        }
        if (inComment_) {
            if (c == ')') inComment_ = false;
        } else if (inSemicolon_) {
        } else if (static_cast<unsigned char>(c) <= ' ') {
        } else if (c == '/') {
        } else if (c == '(') {
            inComment_ = true;
        } else if (c == ';') {
            inSemicolon_ = true;
        } else if (line_.size() >= kLineBufferSize - 1) {
            lineOverflow_ = true;
        } else {
            line_ += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    // Whatever has been read into the line is out of the receive buffer.
    rx_.erase(0, used);
}

void GrblEngine::ExecuteLine(const std::string& line, double now) {
    int status = kOk;  // a blank line or a comment is answered at once, for syncing
    if (!line.empty()) {
        if (line[0] == '$')
            status = ExecuteSystem(line);
        else if (state_ == State::Alarm || state_ == State::Jog)
            status = kGcodeLock;
        else
            status = ExecuteGcode(line, false);
    }
    // A line that queued work is answered once that work has been taken on.
    if (status != kOk || steps_.empty())
        Reply(status);
    else
        FinishPending(now);
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
                ReportParserState();
                break;
            case 'C':
                if (state_ == State::Check) {
                    Message("Disabled");
                    exitCheckModeAfterReply_ = true;
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
            ReportParameters();
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
                    out_ += "$N" + std::to_string(i) + "=" + startupLines_[i] + "\r\n";
                return kOk;
            }
            if (line.size() >= 4 && (line[2] == '0' || line[2] == '1') && line[3] == '=') {
                startupLines_[static_cast<std::size_t>(line[2] - '0')] = line.substr(4);
                return kOk;
            }
            return kInvalidStatement;
        default:
            break;
    }
    // $n=value
    std::size_t pos = 1;
    const auto number = ReadNumber(line, pos);
    if (!number) return kBadNumberFormat;
    if (pos >= line.size() || line[pos] != '=') return kInvalidStatement;
    ++pos;
    const auto value = ReadNumber(line, pos);
    if (!value || pos != line.size()) return kBadNumberFormat;
    const int n = static_cast<int>(*number);
    if (*number != n || settings.find(n) == settings.end()) return kInvalidStatement;
    if (*value < 0) return kNegativeValue;
    if (n == 0 && *value < 3) return kStepPulseMin;
    settings[n] = *value;
    if (n == 10) statusMask_ = static_cast<int>(*value);
    if (n == 11) limits_.junctionDeviation = *value;
    if (n >= 110 && n <= 112) limits_.maxRate[static_cast<std::size_t>(n - 110)] = *value;
    if (n >= 120 && n <= 122) limits_.accel[static_cast<std::size_t>(n - 120)] = *value;
    return kOk;
}

int GrblEngine::ExecuteGcode(const std::string& line, bool jog) {
    // Words of one block; a jog's block follows its prefix.
    std::optional<int> motion, distance, units, nonModal, spindle, flow, coordSystem, plane,
        coolant, feedMode;
    std::map<char, double> values;
    std::size_t pos = jog ? 3 : 0;
    while (pos < line.size()) {
        const char letter = line[pos++];
        if (letter < 'A' || letter > 'Z') return kExpectedCommandLetter;
        const auto value = ReadNumber(line, pos);
        if (!value) return kBadNumberFormat;
        if (letter == 'G' || letter == 'M') {
            const int whole = static_cast<int>(std::trunc(*value));
            const int mantissa = static_cast<int>(std::lround(100 * (*value - whole)));
            auto set = [](std::optional<int>& group, int code) {
                if (group) return false;
                group = code;
                return true;
            };
            bool fresh = true;
            if (letter == 'G') {
                if (mantissa != 0 && !(whole == 92 && mantissa == 10)) return kUnsupportedCommand;
                switch (whole) {
                    case 0: case 1: case 80: fresh = set(motion, whole); break;
                    case 4: case 53: case 92:
                        fresh = set(nonModal, whole * 100 + mantissa);
                        break;
                    case 17: case 18: case 19: fresh = set(plane, whole); break;
                    case 20: case 21: fresh = set(units, whole); break;
                    case 54: case 55: case 56: case 57: case 58: case 59:
                        fresh = set(coordSystem, whole - 54);
                        break;
                    case 90: case 91: fresh = set(distance, whole); break;
                    case 94: fresh = set(feedMode, whole); break;
                    default: return kUnsupportedCommand;
                }
            } else {
                if (mantissa != 0) return kUnsupportedCommand;
                switch (whole) {
                    case 0: case 1: case 2: case 30: fresh = set(flow, whole); break;
                    case 3: case 4: case 5: fresh = set(spindle, whole); break;
                    case 8: case 9: fresh = set(coolant, whole); break;
                    default: return kUnsupportedCommand;
                }
            }
            if (!fresh) return kModalGroupViolation;
            continue;
        }
        if (std::string_view("FNPSTXYZ").find(letter) == std::string_view::npos)
            return kUnsupportedCommand;
        if (values.count(letter)) return kWordRepeated;
        values[letter] = *value;
    }
    for (const char w : std::string_view("FNPST"))
        if (values.count(w) && values[w] < 0) return kNegativeValue;
    if (values.count('T') && values['T'] != std::trunc(values['T'])) return kCommandValueNotInteger;
    const bool hasAxes = values.count('X') || values.count('Y') || values.count('Z');
    // A jog names its feed every time; the modal one is not used.
    if (jog && !values.count('F')) return kUndefinedFeedRate;
    if (nonModal && *nonModal / 100 == 92 && motion) return kAxisCommandConflict;
    if (nonModal && *nonModal == 400 && !values.count('P')) return kValueWordMissing;
    if (values.count('P') && !(nonModal && *nonModal == 400)) return kUnusedWords;
    if (nonModal && *nonModal == 9200 && !hasAxes) return kNoAxisWords;
    const int motionMode = motion ? *motion : jog ? 1 : modal_.motion;
    const bool inches = units ? *units == 20 : modal_.inches;
    const bool incremental = distance ? *distance == 91 : modal_.incremental;
    const bool machineCoords = nonModal && *nonModal == 5300;
    const double unit = inches ? kMmPerInch : 1.0;
    const double newFeed = values.count('F') ? values['F'] * unit : feed_;
    const bool moves = hasAxes && !(nonModal && *nonModal / 100 == 92) && motionMode != 80;
    if (machineCoords && motionMode != 0 && motionMode != 1) return kG53MotionMode;
    if (motion && *motion == 80 && hasAxes) return kAxisWordsUnused;
    if (moves && motionMode == 1 && newFeed <= 0) return kUndefinedFeedRate;

    const char* axes = "XYZ";
    auto target = [&] {
        Vec3 t = parserPosition_;
        const Vec3 offset = WorkOffset();
        for (std::size_t i = 0; i < 3; ++i) {
            if (!values.count(axes[i])) continue;
            const double v = values[axes[i]] * unit;
            t[i] = machineCoords ? v : incremental ? parserPosition_[i] + v : offset[i] + v;
        }
        return t;
    };
    if (jog) {
        if (values.count('S') || values.count('T')) return kUnusedWords;
        // Units, distance mode and G53 may come with a jog, for this jog only; nothing else.
        if (motion || spindle || flow || coolant || plane || coordSystem || feedMode ||
            (nonModal && !machineCoords))
            return kInvalidJogCommand;
        if (!hasAxes) return kNoAxisWords;
        // The parser keeps its modes and feed; only its position follows the jog.
        parserPosition_ = target();
        steps_.push_back({Step::Jog, parserPosition_, newFeed, false});
        return kOk;
    }

    // Every check passed: the block takes effect in the firmware's order.
    feed_ = newFeed;
    if (values.count('S')) spindleSpeed_ = values['S'];
    if (values.count('T')) tool_ = static_cast<int>(values['T']);
    if (units) modal_.inches = *units == 20;
    if (distance) modal_.incremental = *distance == 91;
    if (plane) modal_.plane = *plane;
    if (coordSystem) modal_.coordSystem = *coordSystem;
    if (coolant) modal_.coolant = *coolant == 8;
    if (motion) modal_.motion = *motion;
    const bool check = state_ == State::Check;

    if (spindle && *spindle != modal_.spindle) {
        // The spindle changes once the moves before it are done.
        if (check)
            modal_.spindle = *spindle;
        else
            steps_.push_back({Step::Spindle, {}, static_cast<double>(*spindle), false});
    }
    if (nonModal && *nonModal == 400 && !check) steps_.push_back({Step::Dwell, {}, values['P'], false});
    if (nonModal && *nonModal == 9200) {
        const Vec3 wco = WorkOffset();
        for (std::size_t i = 0; i < 3; ++i)
            if (values.count(axes[i]))
                g92Offset_[i] = parserPosition_[i] - (wco[i] - g92Offset_[i]) -
                                values[axes[i]] * unit;
        wcoCounter_ = 0;  // the next report carries the new offset
    } else if (nonModal && *nonModal == 9210) {
        g92Offset_ = {};
        wcoCounter_ = 0;
    }
    if (moves) {
        parserPosition_ = target();
        if (!check) steps_.push_back({Step::Move, parserPosition_, feed_, motionMode == 0});
    }
    if (flow && (*flow == 2 || *flow == 30)) {
        modal_.motion = 1;
        modal_.coordSystem = 0;
        modal_.plane = 17;
        modal_.incremental = false;
        if (check) {
            modal_.spindle = 5;
            modal_.coolant = false;
            Message("Pgm End");
        } else {
            steps_.push_back({Step::ProgramEnd, {}, 0, false});
        }
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Replies and reports

void GrblEngine::Reply(int status) {
    if (status == kOk)
        out_ += "ok\r\n";
    else if (dialect_ == Dialect::Grbl09j)
        out_ += "error: " + ErrorText09(status) + "\r\n";
    else
        out_ += "error:" + std::to_string(status) + "\r\n";
}

void GrblEngine::Message(const std::string& text) {
    out_ += dialect_ == Dialect::Grbl09j ? "[" + text + "]\r\n" : "[MSG:" + text + "]\r\n";
}

Vec3 GrblEngine::WorkOffset() const { return g92Offset_; }

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
    for (std::size_t i = 0; i < 3; ++i) wpos[i] = mpos[i] - wco[i];
    const bool moving = state_ == State::Run || state_ == State::Hold || state_ == State::Jog;
    std::string r = "<";
    if (dialect_ == Dialect::Grbl09j) {
        static const char* names[] = {"Idle", "Run", "Hold", "Alarm", "Check", "Jog"};
        r += names[static_cast<int>(state_)];
        if (statusMask_ & 1) r += ",MPos:" + Axes(mpos);
        if (statusMask_ & 2) r += ",WPos:" + Axes(wpos);
        if (statusMask_ & 4) r += ",Buf:" + std::to_string(motion_.Blocks());
        if (statusMask_ & 8) r += ",RX:" + std::to_string(rx_.size());
        if (statusMask_ & 16) r += ",Lim:000";
        out_ += r + ">\r\n";
        return;
    }
    switch (state_) {
        case State::Idle: r += "Idle"; break;
        case State::Run: r += "Run"; break;
        case State::Hold: r += motion_.Speed() > 0 ? "Hold:1" : "Hold:0"; break;
        case State::Alarm: r += "Alarm"; break;
        case State::Check: r += "Check"; break;
        case State::Jog: r += "Jog"; break;
    }
    r += (statusMask_ & 1) ? "|MPos:" + Axes(mpos) : "|WPos:" + Axes(wpos);
    if (statusMask_ & 2)
        r += "|Bf:" + std::to_string(gcode::Planner::kCapacity - motion_.Blocks()) + "," +
             std::to_string(kRxBufferSize - rx_.size());
    const double rate = moving ? motion_.Speed() * 60.0 : 0.0;
    const double speed = modal_.spindle == 5 ? 0.0 : spindleSpeed_;
    r += "|FS:" + Number(rate, 0, false) + "," + Number(speed, 0, false);
    if (wcoCounter_ > 0) {
        --wcoCounter_;
    } else {
        wcoCounter_ = moving ? 30 - 1 : 10 - 1;
        if (ovrCounter_ == 0) ovrCounter_ = 1;  // overrides follow in the next report
        r += "|WCO:" + Axes(wco);
    }
    if (ovrCounter_ > 0) {
        --ovrCounter_;
    } else {
        ovrCounter_ = moving ? 20 - 1 : 10 - 1;
        r += "|Ov:100,100,100";
        if (modal_.spindle != 5 || modal_.coolant) {
            r += "|A:";
            if (modal_.spindle == 3) r += "S";
            if (modal_.spindle == 4) r += "C";
            if (modal_.coolant) r += "F";
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
        std::string text = "$" + std::to_string(info.number) + "=";
        if (info.kind == SettingInfo::Float)
            text += Number(value, 3, false);
        else if (info.kind == SettingInfo::Rpm)
            text += Number(value, 0, false);
        else
            text += std::to_string(static_cast<int>(value));
        if (v09) {
            if (info.kind == SettingInfo::Mask)
                text += std::string(" (") + info.text09 + ":" + Binary8(static_cast<int>(value)) +
                        ")";
            else
                text += std::string(" (") + info.text09 + ")";
        }
        out_ += text + "\r\n";
    }
    for (int group = 0; group < 4; ++group) {
        for (int axis = 0; axis < 3; ++axis) {
            const int n = 100 + 10 * group + axis;
            std::string text = "$" + std::to_string(n) + "=" + Number(settings[n], 3, false);
            if (v09)
                text += std::string(" (") + kAxisNames[axis] + kAxisSettingTexts[group] + ")";
            out_ += text + "\r\n";
        }
    }
}

void GrblEngine::ReportParserState() {
    const bool v09 = dialect_ == Dialect::Grbl09j;
    std::string r = v09 ? "[" : "[GC:";
    r += modal_.motion == 80 ? "G80" : "G" + std::to_string(modal_.motion);
    r += " G" + std::to_string(54 + modal_.coordSystem);
    r += " G" + std::to_string(modal_.plane);
    r += modal_.inches ? " G20" : " G21";
    r += modal_.incremental ? " G91" : " G90";
    r += " G94";
    if (v09) r += " M0";  // the program flow reads "running" again once a block is done
    r += " M" + std::to_string(modal_.spindle);
    r += modal_.coolant ? " M8" : " M9";
    r += " T" + std::to_string(tool_);
    const double unit = modal_.inches ? kMmPerInch : 1.0;
    r += " F" + Number(feed_ / unit, 0, v09);
    r += " S" + Number(spindleSpeed_, 0, v09);
    out_ += r + "]\r\n";
}

void GrblEngine::ReportParameters() {
    const Vec3 zero{};
    for (int n = 54; n <= 59; ++n) out_ += "[G" + std::to_string(n) + ":" + Axes(zero) + "]\r\n";
    out_ += "[G28:" + Axes(zero) + "]\r\n";
    out_ += "[G30:" + Axes(zero) + "]\r\n";
    out_ += "[G92:" + Axes(g92Offset_) + "]\r\n";
    out_ += "[TLO:" + Number(0, 3, false) + "]\r\n";
    out_ += "[PRB:" + Axes(zero) + ":0]\r\n";
}

}  // namespace grblsim
