#include "Interpreter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

namespace gcode {

namespace {

constexpr double kMmPerInch = 25.4;
// Below this an arc's end is taken as its start: a full circle.
constexpr double kArcAngularEpsilon = 5e-7;
// Arc segments between two exact placements; the ones between are rotated on.
constexpr int kArcCorrection = 12;
constexpr std::size_t kMaxArcSegments = 65535;
// The largest value the firmware's single-precision numbers hold.
constexpr double kFloatMax = 3.4028234663852886e38;

// Value words, as bits of a mask.
enum Word : unsigned {
    kF = 1u << 0,
    kI = 1u << 1,
    kJ = 1u << 2,
    kK = 1u << 3,
    kL = 1u << 4,
    kN = 1u << 5,
    kP = 1u << 6,
    kR = 1u << 7,
    kS = 1u << 8,
    kT = 1u << 9,
    kX = 1u << 10,
    kY = 1u << 11,
    kZ = 1u << 12,
};
constexpr unsigned kAxisWordBits = kX | kY | kZ;

// Modal groups of command words; two words of one group in a block are a violation.
enum Group : unsigned {
    kGroupNonModal = 1u << 0,
    kGroupMotion = 1u << 1,
    kGroupPlane = 1u << 2,
    kGroupDistance = 1u << 3,
    kGroupArcDistance = 1u << 4,
    kGroupFeedMode = 1u << 5,
    kGroupUnits = 1u << 6,
    kGroupCutter = 1u << 7,
    kGroupToolLength = 1u << 8,
    kGroupCoordSystem = 1u << 9,
    kGroupPathControl = 1u << 10,
    kGroupFlow = 1u << 11,
    kGroupSpindle = 1u << 12,
    kGroupCoolant = 1u << 13,
};

// Non-modal commands (G28.1 as 38, G30.1 as 40, G92.1 as 102).
enum NonModal : int {
    kNoNonModal = 0,
    kDwell = 4,
    kSetCoordData = 10,
    kGoHome0 = 28,
    kSetHome0 = 38,
    kGoHome1 = 30,
    kSetHome1 = 40,
    kAbsoluteOverride = 53,
    kSetOffset = 92,
    kResetOffset = 102,
};

// What the block's axis words belong to.
enum AxisCommand { kAxisNone, kAxisNonModal, kAxisMotion, kAxisToolLength };

bool SamePosition(const Vec3& a, const Vec3& b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

std::string_view ErrorText09(int status) {
    switch (status) {
    case kExpectedCommandLetter:
        return "Expected command letter";
    case kBadNumberFormat:
        return "Bad number format";
    case kInvalidStatement:
        return "Invalid statement";
    case kNegativeValue:
        return "Value < 0";
    case kSettingDisabled:
        return "Setting disabled";
    case kStepPulseMin:
        return "Value < 3 usec";
    case kSettingReadFail:
        return "EEPROM read fail. Using defaults";
    case kNotIdle:
        return "Not idle";
    case kSystemLocked:
        return "Alarm lock";
    case kSoftLimit:
        return "Homing not enabled";
    case kLineOverflow:
        return "Line overflow";
    case kMaxStepRate:
        return "Step rate > 30kHz";
    case kCheckDoor:
        return "Check Door";
    case kModalGroupViolation:
        return "Modal group violation";
    case kUnsupportedCommand:
        return "Unsupported command";
    case kUndefinedFeedRate:
        return "Undefined feed rate";
    default:
        return {};
    }
}

void AppendInt(std::string& out, long long value) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Numbers and texts

std::string StatusReply(Dialect dialect, int status) {
    if (status == kOk) return "ok";
    std::string text = "error:";
    if (dialect == Dialect::Grbl11h) {
        AppendInt(text, status);
        return text;
    }
    text += ' ';
    const std::string_view known = ErrorText09(status);
    if (!known.empty()) {
        text += known;
    } else {
        text += "Invalid gcode ID:";
        AppendInt(text, status);
    }
    return text;
}

std::string FormatNumber(double value, int decimals, bool pointAlways) {
    long long scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const double magnitude = std::fabs(value);
    const double scaledMagnitude = magnitude * static_cast<double>(scale) + 0.5;
    if (!(scaledMagnitude < 9e15)) {
        // Too large for whole-number arithmetic (or not a number at all): the library's
        // printer, which needs no rounding help at this size.
        char buf[400];
        const auto r =
            std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
        std::string text(buf, r.ptr);
        if (decimals == 0 && pointAlways) text += '.';
        return text;
    }
    const long long scaled = static_cast<long long>(scaledMagnitude);
    std::string text = value < 0 && scaled != 0 ? "-" : "";
    AppendInt(text, scaled / scale);
    if (decimals > 0) {
        std::string frac;
        AppendInt(frac, scaled % scale);
        text += '.';
        text.append(static_cast<std::size_t>(decimals) - frac.size(), '0');
        text += frac;
    } else if (pointAlways) {
        text += '.';
    }
    return text;
}

namespace {

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool ReadNumberInline(std::string_view text, std::size_t& pos, double& value) {
    constexpr int kMaxDigits = 8;
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin + pos;
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    // The firmware keeps eight digits, leading zeros included; later ones count only for the
    // point's place. value = mantissa * 10^scale.
    std::uint32_t mantissa = 0;
    int kept = 0, scale = 0;
    const char* const digits = p;
    for (; p < end; ++p) {
        const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (d > 9) break;
        if (kept < kMaxDigits) {
            mantissa = mantissa * 10 + d;
            ++kept;
        } else {
            ++scale;
        }
    }
    std::ptrdiff_t count = p - digits;
    if (p < end && *p == '.') {
        const char* const fraction = ++p;
        for (; p < end; ++p) {
            const unsigned d = static_cast<unsigned char>(*p) - unsigned{'0'};
            if (d > 9) break;
            if (kept < kMaxDigits) {
                mantissa = mantissa * 10 + d;
                ++kept;
                --scale;
            }
        }
        count += p - fraction;
    }
    if (count == 0) return false;
    // At most eight digits: exact in a double, so one multiplication or division rounds once.
    double v = static_cast<double>(mantissa);
    // Only the whole part can leave more places than the table has (a very long number).
    v = scale < 0     ? v / kPowersOfTen[-scale]
        : scale <= 22 ? v * kPowersOfTen[scale]
                      : v * std::pow(10.0, scale);
    // Beyond the firmware's float the number has no value: a bad number, not an infinity.
    if (!(v <= kFloatMax)) return false;
    value = negative ? -v : v;
    pos = static_cast<std::size_t>(p - begin);
    return true;
}

} // namespace

bool ReadNumber(std::string_view text, std::size_t& pos, double& value) {
    return ReadNumberInline(text, pos, value);
}

namespace {

// What the line reader makes of each byte: 0 drops it, 1 opens a comment ('(' or ';'), any
// other value is the byte kept, upper-cased.
constexpr std::array<unsigned char, 256> MakeLineMap() {
    std::array<unsigned char, 256> t{};
    for (int c = '!'; c < 256; ++c)
        t[static_cast<std::size_t>(c)] =
            static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    t['/'] = 0; // block delete: the character alone is skipped
    t['('] = 1;
    t[';'] = 1;
    return t;
}
constexpr std::array<unsigned char, 256> kLineMap = MakeLineMap();

} // namespace

namespace {

// The line reader into a buffer of the controller's size; `n` is how much it holds.
bool CleanInto(std::string_view raw, char (&buf)[kLineBufferSize], std::size_t& n) {
    constexpr std::size_t kKeep = kLineBufferSize - 1;
    n = 0;
    const char* p = raw.data();
    const char* const end = p + raw.size();
    while (p < end) {
        const std::size_t room = kKeep - n;
        if (room == 0) {
            // Full: only dropped bytes and comments may follow.
            const unsigned char mapped = kLineMap[static_cast<unsigned char>(*p)];
            if (mapped > 1) return false; // the rest of the line is lost with it
            if (mapped == 0) {
                ++p;
                continue;
            }
        } else {
            // Each byte adds at most one character, so the next `room` bytes need no check
            // for space; every byte is stored, `n` moves only for the kept ones.
            const char* const stop = p + std::min(static_cast<std::size_t>(end - p), room);
            for (; p < stop; ++p) {
                const unsigned char mapped = kLineMap[static_cast<unsigned char>(*p)];
                if (mapped == 1) break;
                buf[n] = static_cast<char>(mapped);
                n += mapped != 0;
            }
            if (p == stop) continue;
        }
        // A comment: ';' runs to the end of the line, '(' to its ')'.
        if (*p == ';') break;
        const void* close = std::memchr(p + 1, ')', static_cast<std::size_t>(end - p - 1));
        p = close ? static_cast<const char*>(close) + 1 : end;
    }
    return true;
}

// What a word source answers besides a status number.
constexpr int kWordRead = -1, kBlockEnd = -2, kNeedsLineReader = -3;

// The words of a cleaned block.
struct BlockWords {
    std::string_view text;
    std::size_t pos = 0;

    int Next(char& letter, double& value) {
        if (pos >= text.size()) return kBlockEnd;
        letter = text[pos++];
        if (letter < 'A' || letter > 'Z') return kExpectedCommandLetter;
        return ReadNumberInline(text, pos, value) ? kWordRead : kBadNumberFormat;
    }
};

// The words of a raw line read in place, as long as the line is plain: words alone or apart by
// spaces, a number right after its letter, at most a ';' comment at the end. Anything else (a
// space inside a word, a ( ) comment, a bad number, another character) asks for the line
// reader, and does so before handing out a word that the line reader would read otherwise. The
// line must fit the controller's buffer as it stands.
struct PlainLineWords {
    std::string_view text;
    std::size_t pos = 0;

    int Next(char& letter, double& value) {
        if (pos == 0) SkipSpaces();
        if (pos == text.size() || text[pos] == ';') return kBlockEnd;
        const char c = text[pos++];
        if (!IsLetter(c)) return kNeedsLineReader;
        letter = static_cast<char>(c & ~0x20);
        if (!ReadNumberInline(text, pos, value)) return kNeedsLineReader;
        // The number ends here only if a letter, a comment or the end follows.
        SkipSpaces();
        if (pos < text.size() && text[pos] != ';' && !IsLetter(text[pos])) return kNeedsLineReader;
        return kWordRead;
    }

    void SkipSpaces() {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
    }
    static bool IsLetter(char c) {
        const char lower = static_cast<char>(c | 0x20);
        return lower >= 'a' && lower <= 'z';
    }
};

} // namespace

bool CleanLine(std::string_view raw, std::string& out) {
    char buf[kLineBufferSize];
    std::size_t n = 0;
    const bool fits = CleanInto(raw, buf, n);
    out.assign(buf, n);
    return fits;
}

// ---------------------------------------------------------------------------------------------
// The interpreter

Interpreter::Interpreter(Dialect dialect, MachineSettings settings)
    : dialect_(dialect), settings_(settings) {}

void Interpreter::Reset() {
    modal_ = ModalState{};
    offsets_.g92 = {};
    offsets_.toolLength = 0;
}

void Interpreter::ClearStoredOffsets() {
    offsets_.coordSystems = {};
    offsets_.g28 = {};
    offsets_.g30 = {};
}

void Interpreter::SetProbeResult(const Vec3& machine, bool succeeded) {
    offsets_.probe = machine;
    offsets_.probeSucceeded = succeeded;
}

Vec3 Interpreter::WorkOffset() const {
    const Vec3& cs = offsets_.coordSystems[static_cast<std::size_t>(modal_.coordSystem)];
    Vec3 w;
    for (std::size_t i = 0; i < 3; ++i)
        w[i] = cs[i] + offsets_.g92[i];
    w[2] += offsets_.toolLength;
    return w;
}

namespace {

void ClearResult(Result& result) {
    result.motions.clear();
    result.flow = ProgramFlow::Running;
    result.spindleChanged = result.offsetsChanged = result.wroteSettings = false;
}

} // namespace

void Interpreter::Execute(std::string_view block, Result& result) {
    ClearResult(result);
    BlockWords words{block};
    result.status = Run(words, false, false, result);
    if (result.status != kOk) result.motions.clear();
}

void Interpreter::ExecuteJog(std::string_view block, Result& result) {
    ClearResult(result);
    BlockWords words{block};
    result.status = Run(words, true, false, result);
    if (result.status != kOk) result.motions.clear();
}

void Interpreter::ExecuteLine(std::string_view raw, Result& result) {
    ClearResult(result);
    // Most lines of a file are plain and read in place; the rest go through the line reader.
    // Nothing changes before the last word is read, so starting over is safe.
    int status = kNeedsLineReader;
    if (raw.size() < kLineBufferSize) {
        PlainLineWords words{raw};
        status = Run(words, false, true, result);
    }
    if (status == kNeedsLineReader) {
        char buf[kLineBufferSize];
        std::size_t n = 0;
        if (CleanInto(raw, buf, n)) {
            BlockWords words{std::string_view(buf, n)};
            status = Run(words, false, true, result);
        } else {
            status = kLineOverflow;
        }
    }
    result.status = status;
    if (result.status != kOk) result.motions.clear();
}

template <typename Words>
int Interpreter::Run(Words& words, bool jog, bool lineReader, Result& result) {
    const bool v09 = dialect_ == Dialect::Grbl09j;
    ModalState m = modal_; // the block's modes, taken over only if the block is accepted
    ProgramFlow flow = ProgramFlow::Running;
    int nonModal = kNoNonModal;
    AxisCommand axisCommand = kAxisNone;
    unsigned commands = 0, values = 0, axisWords = 0, ijkWords = 0;
    Vec3 xyz{}, ijk{};
    double f = 0, p = 0, r = 0, s = 0, n = 0;
    int l = 0, t = 0;
    if (jog) {
        m.motion = MotionMode::Linear;
        m.inverseTime = false;
    }

    // Words: a letter and a number each; command words checked against their modal groups.
    bool empty = true;
    for (;;) {
        char letter = 0;
        double value = 0;
        const int got = words.Next(letter, value);
        if (got == kBlockEnd) break;
        if (got != kWordRead) return got;
        empty = false;
        unsigned group = 0;
        if (letter == 'G' || letter == 'M') {
            // The firmware keeps the whole part in a byte and two decimals as the "mantissa".
            const double whole = std::trunc(value);
            const int intValue = whole >= 0 && whole < 256 ? static_cast<int>(whole) : -1;
            // Any fraction left, of either sign, makes a command not a whole number.
            const double fraction = 100 * (value - whole);
            int mantissa = static_cast<int>(fraction < 0 ? fraction - 0.5 : fraction + 0.5);
            if (letter == 'G') {
                switch (intValue) {
                case 10:
                case 28:
                case 30:
                case 92:
                    if (mantissa == 0) {
                        if (axisCommand != kAxisNone) return kAxisCommandConflict;
                        axisCommand = kAxisNonModal;
                    }
                    [[fallthrough]];
                case 4:
                case 53:
                    group = kGroupNonModal;
                    nonModal = intValue;
                    if (intValue == 28 || intValue == 30 || intValue == 92) {
                        if (mantissa != 0 && mantissa != 10) return kUnsupportedCommand;
                        nonModal += mantissa;
                        mantissa = 0;
                    }
                    break;
                case 0:
                case 1:
                case 2:
                case 3:
                case 38:
                    if (axisCommand != kAxisNone) return kAxisCommandConflict;
                    axisCommand = kAxisMotion;
                    [[fallthrough]];
                case 80:
                    group = kGroupMotion;
                    m.motion = static_cast<MotionMode>(intValue);
                    if (intValue == 38) {
                        if (mantissa != 20 && mantissa != 30 && mantissa != 40 && mantissa != 50)
                            return kUnsupportedCommand;
                        m.motion = static_cast<MotionMode>(380 + mantissa / 10);
                        mantissa = 0;
                    }
                    break;
                case 17:
                case 18:
                case 19:
                    group = kGroupPlane;
                    m.plane = intValue;
                    break;
                case 90:
                case 91:
                    if (mantissa == 0) {
                        group = kGroupDistance;
                        m.incremental = intValue == 91;
                    } else {
                        // G91.1: arc centres are always relative here; G90.1 is not supported.
                        group = kGroupArcDistance;
                        if (mantissa != 10 || intValue == 90) return kUnsupportedCommand;
                        mantissa = 0;
                    }
                    break;
                case 93:
                case 94:
                    group = kGroupFeedMode;
                    m.inverseTime = intValue == 93;
                    break;
                case 20:
                case 21:
                    group = kGroupUnits;
                    m.inches = intValue == 20;
                    break;
                case 40:
                    group = kGroupCutter;
                    break;
                case 43:
                case 49:
                    group = kGroupToolLength;
                    if (axisCommand != kAxisNone) return kAxisCommandConflict;
                    axisCommand = kAxisToolLength;
                    if (intValue == 49)
                        m.toolLengthDynamic = false;
                    else if (mantissa == 10)
                        m.toolLengthDynamic = true;
                    else
                        return kUnsupportedCommand;
                    mantissa = 0;
                    break;
                case 54:
                case 55:
                case 56:
                case 57:
                case 58:
                case 59:
                    group = kGroupCoordSystem;
                    m.coordSystem = intValue - 54;
                    break;
                case 61:
                    group = kGroupPathControl;
                    if (mantissa != 0) return kUnsupportedCommand;
                    break;
                default:
                    return kUnsupportedCommand;
                }
                if (mantissa != 0) return kCommandValueNotInteger;
                if (commands & group) return kModalGroupViolation;
                commands |= group;
                continue;
            }
            if (letter == 'M') {
                if (mantissa != 0) return kCommandValueNotInteger;
                switch (intValue) {
                case 0:
                case 1:
                case 2:
                case 30:
                    group = kGroupFlow;
                    // M1, the optional stop, is accepted and does nothing.
                    if (intValue == 0) flow = ProgramFlow::Paused;
                    if (intValue == 2 || intValue == 30) flow = ProgramFlow::Ended;
                    break;
                case 3:
                case 4:
                case 5:
                    group = kGroupSpindle;
                    m.spindle = intValue;
                    break;
                case 7:
                case 8:
                case 9:
                    if (intValue == 7 && !v09 && !settings_.mistCoolant) return kUnsupportedCommand;
                    group = kGroupCoolant;
                    if (intValue == 9) {
                        m.flood = m.mist = false;
                    } else if (v09) {
                        // One coolant at a time.
                        m.flood = intValue == 8;
                        m.mist = intValue == 7;
                    } else if (intValue == 8) {
                        m.flood = true;
                    } else {
                        m.mist = true;
                    }
                    break;
                default:
                    return kUnsupportedCommand;
                }
                if (commands & group) return kModalGroupViolation;
                commands |= group;
                continue;
            }
        }
        unsigned word = 0;
        switch (letter) {
        case 'F':
            word = kF;
            f = value;
            break;
        case 'I':
            word = kI;
            ijk[0] = value;
            ijkWords |= 1;
            break;
        case 'J':
            word = kJ;
            ijk[1] = value;
            ijkWords |= 2;
            break;
        case 'K':
            word = kK;
            ijk[2] = value;
            ijkWords |= 4;
            break;
        case 'L':
            word = kL;
            l = static_cast<int>(std::trunc(value));
            break;
        case 'N':
            word = kN;
            n = std::trunc(value);
            break;
        case 'P':
            word = kP;
            p = value;
            break;
        case 'R':
            word = kR;
            r = value;
            break;
        case 'S':
            word = kS;
            s = value;
            break;
        case 'T':
            word = kT;
            t = value >= 0 && value < 256 ? static_cast<int>(value) : 0;
            break;
        case 'X':
            word = kX;
            xyz[0] = value;
            axisWords |= 1;
            break;
        case 'Y':
            word = kY;
            xyz[1] = value;
            axisWords |= 2;
            break;
        case 'Z':
            word = kZ;
            xyz[2] = value;
            axisWords |= 4;
            break;
        default:
            return kUnsupportedCommand;
        }
        if (values & word) return kWordRepeated;
        if ((word & (kF | kN | kP | kT | kS)) && value < 0) return kNegativeValue;
        values |= word;
    }

    // The line reader answers an empty line itself: the parser never sees it.
    if (empty && lineReader) return kOk;

    // Checks, in the firmware's order; values are converted to mm and machine coordinates.
    if (axisWords && axisCommand == kAxisNone) axisCommand = kAxisMotion;
    if ((values & kN) && n > (v09 ? 9999999.0 : 10000000.0)) return kInvalidLineNumber;

    if (jog) {
        if (!(values & kF)) return kUndefinedFeedRate;
        if (m.inches) f *= kMmPerInch;
    } else if (m.inverseTime) {
        // 0.9j asks for F with every motion of G93, G0 included.
        const bool needsF = v09 || (m.motion != MotionMode::None && m.motion != MotionMode::Rapid);
        if (axisCommand == kAxisMotion && needsF && !(values & kF)) return kUndefinedFeedRate;
    } else if (!modal_.inverseTime) {
        if (values & kF) {
            if (m.inches) f *= kMmPerInch;
        } else {
            f = modal_.feed;
        }
    }
    if (!(values & kS)) s = modal_.spindleSpeed;

    if (nonModal == kDwell) {
        if (!(values & kP)) return kValueWordMissing;
        values &= ~kP;
    }

    std::size_t axis0 = 0, axis1 = 1, axisLinear = 2;
    if (m.plane == 18) {
        axis0 = 2;
        axis1 = 0;
        axisLinear = 1;
    } else if (m.plane == 19) {
        axis0 = 1;
        axis1 = 2;
        axisLinear = 0;
    }

    if (m.inches)
        for (std::size_t i = 0; i < 3; ++i)
            if (axisWords & (1u << i)) xyz[i] *= kMmPerInch;

    if (axisCommand == kAxisToolLength && m.toolLengthDynamic && (axisWords ^ 4u))
        return kG43DynamicAxisError;

    const Vec3 blockCoord = offsets_.coordSystems[static_cast<std::size_t>(m.coordSystem)];
    const Vec3& g92 = offsets_.g92;

    int coordSelect = 0;
    Vec3 data{}; // G10's new coordinate data, or G28/G30's stored position
    switch (nonModal) {
    case kSetCoordData: {
        if (!axisWords) return kNoAxisWords;
        if (!(values & (kP | kL))) return kValueWordMissing;
        coordSelect = static_cast<int>(std::trunc(p));
        if (coordSelect > 6) return kUnsupportedCoordSys;
        if (l != 20) {
            if (l != 2 || (values & kR)) return kUnsupportedCommand;
        }
        values &= ~(kL | kP);
        coordSelect = coordSelect > 0 ? coordSelect - 1 : m.coordSystem;
        data = offsets_.coordSystems[static_cast<std::size_t>(coordSelect)];
        for (std::size_t i = 0; i < 3; ++i) {
            if (!(axisWords & (1u << i))) continue;
            if (l == 20) {
                data[i] = position_[i] - g92[i] - xyz[i];
                if (i == 2) data[i] -= offsets_.toolLength;
            } else {
                data[i] = xyz[i];
            }
        }
        break;
    }
    case kSetOffset:
        if (!axisWords) return kNoAxisWords;
        for (std::size_t i = 0; i < 3; ++i) {
            if (axisWords & (1u << i)) {
                xyz[i] = position_[i] - blockCoord[i] - xyz[i];
                if (i == 2) xyz[i] -= offsets_.toolLength;
            } else {
                xyz[i] = g92[i];
            }
        }
        break;
    default:
        if (axisCommand != kAxisToolLength && axisWords) {
            for (std::size_t i = 0; i < 3; ++i) {
                if (!(axisWords & (1u << i))) {
                    xyz[i] = position_[i];
                } else if (nonModal != kAbsoluteOverride) {
                    if (m.incremental) {
                        xyz[i] += position_[i];
                    } else {
                        xyz[i] += blockCoord[i] + g92[i];
                        if (i == 2) xyz[i] += offsets_.toolLength;
                    }
                }
            }
        }
        if (nonModal == kGoHome0 || nonModal == kGoHome1) {
            data = nonModal == kGoHome0 ? offsets_.g28 : offsets_.g30;
            if (axisWords) {
                // Only the axes named go on to the stored position.
                for (std::size_t i = 0; i < 3; ++i)
                    if (!(axisWords & (1u << i))) data[i] = position_[i];
            } else {
                axisCommand = kAxisNone;
            }
        } else if (nonModal == kAbsoluteOverride) {
            if (m.motion != MotionMode::Rapid && m.motion != MotionMode::Linear)
                return kG53InvalidMotionMode;
        }
        break;
    }

    // Motion modes.
    bool clockwise = false;
    if (m.motion == MotionMode::None) {
        // 0.9j lets the non-modal commands use their axis words under G80; 1.1h does not.
        if (axisWords && !(v09 && axisCommand == kAxisNonModal)) return kAxisWordsExist;
    } else if (axisCommand == kAxisMotion) {
        if (m.motion == MotionMode::Rapid) {
            if (!axisWords) axisCommand = kAxisNone;
        } else {
            if (f == 0.0) return kUndefinedFeedRate;
            switch (m.motion) {
            case MotionMode::Linear:
                if (!axisWords) axisCommand = kAxisNone;
                break;
            case MotionMode::ArcCw:
                clockwise = true;
                [[fallthrough]];
            case MotionMode::ArcCcw: {
                if (!axisWords) return kNoAxisWords;
                if (!(axisWords & ((1u << axis0) | (1u << axis1)))) return kNoAxisWordsInPlane;
                double x = xyz[axis0] - position_[axis0];
                double y = xyz[axis1] - position_[axis1];
                if (values & kR) {
                    values &= ~kR;
                    if (SamePosition(position_, xyz)) return kInvalidTarget;
                    if (m.inches) r *= kMmPerInch;
                    double h = 4.0 * r * r - x * x - y * y;
                    if (h < 0) return kArcRadiusError;
                    h = -std::sqrt(h) / std::hypot(x, y);
                    if (m.motion == MotionMode::ArcCcw) h = -h;
                    // A negative radius asks for the arc of more than half a turn.
                    if (r < 0) {
                        h = -h;
                        r = -r;
                    }
                    ijk[axis0] = 0.5 * (x - y * h);
                    ijk[axis1] = 0.5 * (y + x * h);
                } else {
                    if (!(ijkWords & ((1u << axis0) | (1u << axis1)))) return kNoOffsetsInPlane;
                    values &= ~(kI | kJ | kK);
                    if (m.inches)
                        for (std::size_t i = 0; i < 3; ++i)
                            if (ijkWords & (1u << i)) ijk[i] *= kMmPerInch;
                    x -= ijk[axis0];
                    y -= ijk[axis1];
                    const double targetR = std::hypot(x, y);
                    r = std::hypot(ijk[axis0], ijk[axis1]);
                    const double deltaR = std::fabs(targetR - r);
                    if (deltaR > 0.005 && (deltaR > 0.5 || deltaR > 0.001 * r))
                        return kInvalidTarget;
                }
                break;
            }
            default: // probing
                if (!axisWords) return kNoAxisWords;
                if (SamePosition(position_, xyz)) return kInvalidTarget;
                break;
            }
        }
    }

    // Words no command used.
    values &= jog ? ~(kN | kF) : ~(kN | kF | kS | kT);
    if (axisCommand != kAxisNone) values &= ~kAxisWordBits;
    if (values) return kUnusedWords;

    if (jog) {
        // Only distance mode, units and G53 may come with a jog.
        if (commands & ~(kGroupDistance | kGroupUnits | kGroupNonModal)) return kInvalidJogCommand;
        if (nonModal != kAbsoluteOverride && nonModal != kNoNonModal) return kInvalidJogCommand;
        if (!axisWords) return kNoAxisWords;
        result.motions.push_back({Motion::Feed, xyz, f});
        position_ = xyz;
        return kOk;
    }

    // Every check passed: the block takes effect in the firmware's order.
    modal_.inverseTime = m.inverseTime;
    modal_.feed = f;
    if (modal_.spindleSpeed != s) {
        if (modal_.spindle != 5) result.spindleChanged = true;
        modal_.spindleSpeed = s;
    }
    // 0.9j does not keep the tool number; 1.1h keeps the block's (none: 0).
    modal_.tool = v09 ? 0 : t;
    if ((commands & kGroupSpindle) && modal_.spindle != m.spindle) {
        result.spindleChanged = true;
        modal_.spindle = m.spindle;
    }
    if ((commands & kGroupCoolant) && (modal_.flood != m.flood || modal_.mist != m.mist)) {
        result.spindleChanged = true;
        modal_.flood = m.flood;
        modal_.mist = m.mist;
    }
    if (nonModal == kDwell) {
        Motion dwell;
        dwell.kind = Motion::Dwell;
        dwell.target = position_;
        dwell.seconds = p;
        result.motions.push_back(dwell);
    }
    modal_.plane = m.plane;
    modal_.inches = m.inches;
    if (axisCommand == kAxisToolLength) {
        modal_.toolLengthDynamic = m.toolLengthDynamic;
        const double offset = m.toolLengthDynamic ? xyz[2] : 0.0;
        if (offsets_.toolLength != offset) {
            offsets_.toolLength = offset;
            result.offsetsChanged = true;
        }
    }
    if (modal_.coordSystem != m.coordSystem) {
        modal_.coordSystem = m.coordSystem;
        result.offsetsChanged = true;
    }
    modal_.incremental = m.incremental;

    auto rapidTo = [&](const Vec3& target) {
        Motion mo;
        mo.kind = Motion::Rapid;
        mo.target = target;
        result.motions.push_back(mo);
    };
    switch (nonModal) {
    case kSetCoordData:
        offsets_.coordSystems[static_cast<std::size_t>(coordSelect)] = data;
        result.wroteSettings = true;
        if (coordSelect == modal_.coordSystem) result.offsetsChanged = true;
        break;
    case kGoHome0:
    case kGoHome1:
        if (axisCommand != kAxisNone) rapidTo(xyz);
        rapidTo(data);
        position_ = data;
        break;
    case kSetHome0:
        offsets_.g28 = position_;
        result.wroteSettings = true;
        break;
    case kSetHome1:
        offsets_.g30 = position_;
        result.wroteSettings = true;
        break;
    case kSetOffset:
        offsets_.g92 = xyz;
        result.offsetsChanged = true;
        break;
    case kResetOffset:
        offsets_.g92 = {};
        result.offsetsChanged = true;
        break;
    default:
        break;
    }

    modal_.motion = m.motion;
    if (m.motion != MotionMode::None && axisCommand == kAxisMotion) {
        auto feedFor = [&](double length) {
            // In inverse time F says how often the move fits in a minute.
            return modal_.inverseTime ? f * length : f;
        };
        auto distance = [](const Vec3& a, const Vec3& b) {
            return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                             (a[2] - b[2]) * (a[2] - b[2]));
        };
        switch (m.motion) {
        case MotionMode::Rapid:
            rapidTo(xyz);
            break;
        case MotionMode::Linear:
            result.motions.push_back({Motion::Feed, xyz, feedFor(distance(position_, xyz))});
            break;
        case MotionMode::ArcCw:
        case MotionMode::ArcCcw: {
            const double c0 = position_[axis0] + ijk[axis0];
            const double c1 = position_[axis1] + ijk[axis1];
            double r0 = -ijk[axis0], r1 = -ijk[axis1];
            const double rt0 = xyz[axis0] - c0, rt1 = xyz[axis1] - c1;
            double travel = std::atan2(r0 * rt1 - r1 * rt0, r0 * rt0 + r1 * rt1);
            constexpr double kTwoPi = 2 * std::numbers::pi;
            if (clockwise) {
                if (travel >= -kArcAngularEpsilon) travel -= kTwoPi;
            } else if (travel <= kArcAngularEpsilon) {
                travel += kTwoPi;
            }
            const double tol = settings_.arcTolerance;
            const double perSegment = std::sqrt(tol * (2 * r - tol));
            const double count =
                perSegment > 0 ? std::floor(std::fabs(0.5 * travel * r) / perSegment) : 0.0;
            const std::size_t segments = count >= static_cast<double>(kMaxArcSegments)
                                             ? kMaxArcSegments
                                         : count > 0 ? static_cast<std::size_t>(count)
                                                     : 0;
            // In inverse time each segment gets its share of the arc's time.
            const double arcFeed =
                modal_.inverseTime && segments ? f * static_cast<double>(segments) : f;
            // The segment ends are written straight into the result, axis by axis (a copied
            // Vec3 written through run-time axis indices stalls the store buffer).
            result.motions.reserve(result.motions.size() + segments + 1);
            double prev0 = position_[axis0], prev1 = position_[axis1],
                   prevL = position_[axisLinear];
            auto segmentFeed = [&](double e0, double e1, double eL) {
                if (!modal_.inverseTime) return arcFeed;
                const double d0 = e0 - prev0, d1 = e1 - prev1, dL = eL - prevL;
                return arcFeed * std::sqrt(d0 * d0 + d1 * d1 + dL * dL);
            };
            if (segments > 0) {
                const double theta = travel / static_cast<double>(segments);
                const double linear =
                    (xyz[axisLinear] - position_[axisLinear]) / static_cast<double>(segments);
                const double cosT = std::cos(theta), sinT = std::sin(theta);
                int sinceExact = 0;
                for (std::size_t i = 1; i < segments; ++i) {
                    if (sinceExact < kArcCorrection) {
                        const double next = r0 * sinT + r1 * cosT;
                        r0 = r0 * cosT - r1 * sinT;
                        r1 = next;
                        ++sinceExact;
                    } else {
                        const double angle = static_cast<double>(i) * theta;
                        const double ci = std::cos(angle), si = std::sin(angle);
                        r0 = -ijk[axis0] * ci + ijk[axis1] * si;
                        r1 = -ijk[axis0] * si - ijk[axis1] * ci;
                        sinceExact = 0;
                    }
                    const double e0 = c0 + r0, e1 = c1 + r1, eL = prevL + linear;
                    Motion& seg = result.motions.emplace_back();
                    seg.kind = Motion::Feed;
                    seg.target[axis0] = e0;
                    seg.target[axis1] = e1;
                    seg.target[axisLinear] = eL;
                    seg.feed = segmentFeed(e0, e1, eL);
                    seg.arc = true;
                    prev0 = e0;
                    prev1 = e1;
                    prevL = eL;
                }
            }
            Motion& last = result.motions.emplace_back();
            last.kind = Motion::Feed;
            last.target = xyz;
            last.feed = segmentFeed(xyz[axis0], xyz[axis1], xyz[axisLinear]);
            last.arc = true;
            break;
        }
        default: {
            Motion probe{Motion::Probe, xyz, feedFor(distance(position_, xyz))};
            probe.probeAway =
                m.motion == MotionMode::ProbeAway || m.motion == MotionMode::ProbeAwayNoError;
            probe.probeNoError = m.motion == MotionMode::ProbeTowardNoError ||
                                 m.motion == MotionMode::ProbeAwayNoError;
            result.motions.push_back(probe);
            break;
        }
        }
        position_ = xyz;
    }

    if (flow == ProgramFlow::Ended) {
        // A program end resets only some of the modes; units, tool length, F, S and T stay.
        modal_.motion = MotionMode::Linear;
        modal_.plane = 17;
        modal_.incremental = false;
        modal_.inverseTime = false;
        modal_.coordSystem = 0;
        modal_.spindle = 5;
        modal_.flood = modal_.mist = false;
        result.offsetsChanged = true;
    }
    result.flow = flow;
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// Reports

std::string Interpreter::ParserStateReport() const {
    const bool v09 = dialect_ == Dialect::Grbl09j;
    std::string r = v09 ? "[G" : "[GC:G";
    const int motion = static_cast<int>(modal_.motion);
    if (motion >= 380) {
        r += "38.";
        AppendInt(r, motion - 380);
    } else {
        AppendInt(r, motion);
    }
    r += " G";
    AppendInt(r, 54 + modal_.coordSystem);
    r += " G";
    AppendInt(r, modal_.plane);
    r += modal_.inches ? " G20" : " G21";
    r += modal_.incremental ? " G91" : " G90";
    r += modal_.inverseTime ? " G93" : " G94";
    if (v09) r += " M0"; // the program flow reads "running" once a block is done
    r += " M";
    AppendInt(r, modal_.spindle);
    if (modal_.mist) r += " M7";
    if (modal_.flood && !(v09 && modal_.mist)) r += " M8";
    if (!modal_.mist && !modal_.flood) r += " M9";
    r += " T";
    AppendInt(r, modal_.tool);
    r += " F" + FormatNumber(modal_.feed, 0, v09);
    r += " S" + FormatNumber(modal_.spindleSpeed, 0, v09);
    r += "]";
    return r;
}

std::string Interpreter::ParametersReport() const {
    auto axes = [](const Vec3& v) {
        return FormatNumber(v[0], 3) + "," + FormatNumber(v[1], 3) + "," + FormatNumber(v[2], 3);
    };
    std::string out;
    for (int i = 0; i < 6; ++i) {
        out += "[G";
        AppendInt(out, 54 + i);
        out += ":" + axes(offsets_.coordSystems[static_cast<std::size_t>(i)]) + "]\r\n";
    }
    out += "[G28:" + axes(offsets_.g28) + "]\r\n";
    out += "[G30:" + axes(offsets_.g30) + "]\r\n";
    out += "[G92:" + axes(offsets_.g92) + "]\r\n";
    out += "[TLO:" + FormatNumber(offsets_.toolLength, 3) + "]\r\n";
    out += "[PRB:" + axes(offsets_.probe) + (offsets_.probeSucceeded ? ":1]\r\n" : ":0]\r\n");
    return out;
}

// ---------------------------------------------------------------------------------------------
// Files

ProgramBuilder::ProgramBuilder(Dialect dialect, MachineSettings settings)
    : interpreter_(dialect, settings) {}

void ProgramBuilder::AddLine(std::string_view raw, std::size_t row) {
    const Vec3 before = interpreter_.Position();
    interpreter_.ExecuteLine(raw, result_);
    if (result_.status != kOk) {
        // Settings lines ("$...") are no G-code: they move nothing and are no error here.
        if (result_.status == kExpectedCommandLetter && CleanLine(raw, clean_) && !clean_.empty() &&
            clean_[0] == '$')
            return;
        program_.errors.push_back({row, result_.status});
        return;
    }
    Vec3 from = before;
    for (const Motion& m : result_.motions) {
        Segment s;
        s.from = from;
        s.to = m.target;
        s.row = row;
        switch (m.kind) {
        case Motion::Rapid:
            s.kind = Segment::Rapid;
            break;
        case Motion::Feed:
            s.kind = m.arc ? Segment::Arc : Segment::Feed;
            break;
        case Motion::Probe:
            s.kind = Segment::Probe;
            break;
        case Motion::Dwell:
            s.kind = Segment::Dwell;
            break;
        }
        s.feed = m.kind == Motion::Dwell ? m.seconds : m.feed;
        program_.segments.push_back(s);
        from = m.target;
    }
}

Program InterpretText(std::string_view text, Dialect dialect, MachineSettings settings) {
    ProgramBuilder builder(dialect, settings);
    std::size_t row = 0;
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        builder.AddLine(line, row++);
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return builder.Take();
}

} // namespace gcode
