#pragma once
// GRBL's G-code interpreter as a model: one block in, the controller's answer out (a status
// number, or the motions the block produces and what it changed). It keeps the parser's modal
// state, its position and the coordinate offsets, as the firmware's parser does, and knows the
// differences between GRBL 0.9j and 1.1h. No I/O and no clock: the simulator feeds it the
// lines it receives, the toolpath view and the job's time estimate feed it a file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Planner.h"

namespace gcode {

enum class Dialect { Grbl09j, Grbl11h };

// GRBL's status numbers (the same in both versions; 1.1h prints the number, 0.9j a text).
enum Status : int {
    kOk = 0,
    kExpectedCommandLetter = 1,
    kBadNumberFormat = 2,
    kInvalidStatement = 3,
    kNegativeValue = 4,
    kSettingDisabled = 5,
    kStepPulseMin = 6,
    kSettingReadFail = 7,
    kNotIdle = 8,
    kSystemLocked = 9, // alarm lock (and in 1.1h the jog lock)
    kSoftLimit = 10,
    kLineOverflow = 11,
    kMaxStepRate = 12,
    kCheckDoor = 13,
    kLineLengthExceeded = 14,
    kTravelExceeded = 15,
    kInvalidJogCommand = 16,
    kUnsupportedCommand = 20,
    kModalGroupViolation = 21,
    kUndefinedFeedRate = 22,
    kCommandValueNotInteger = 23,
    kAxisCommandConflict = 24,
    kWordRepeated = 25,
    kNoAxisWords = 26,
    kInvalidLineNumber = 27,
    kValueWordMissing = 28,
    kUnsupportedCoordSys = 29,
    kG53InvalidMotionMode = 30,
    kAxisWordsExist = 31,
    kNoAxisWordsInPlane = 32,
    kInvalidTarget = 33,
    kArcRadiusError = 34,
    kNoOffsetsInPlane = 35,
    kUnusedWords = 36,
    kG43DynamicAxisError = 37,
};

// The reply line (without CR LF) a version writes for a status: "ok", "error: Line overflow"
// in 0.9j, "error:11" in 1.1h.
std::string StatusReply(Dialect dialect, int status);

// Motion modes, numbered as the G-code that selects them (G38.2 as 382, G80 as 80).
enum class MotionMode : int {
    Rapid = 0,
    Linear = 1,
    ArcCw = 2,
    ArcCcw = 3,
    ProbeToward = 382,
    ProbeTowardNoError = 383,
    ProbeAway = 384,
    ProbeAwayNoError = 385,
    None = 80,
};

enum class ProgramFlow { Running, Paused, Ended };

// The parser's modal state, as "$G" shows it.
struct ModalState {
    MotionMode motion = MotionMode::Rapid;
    int coordSystem = 0;            // 0..5 for G54..G59
    int plane = 17;                 // 17, 18 or 19
    bool inches = false;            // G20 / G21
    bool incremental = false;       // G91 / G90
    bool inverseTime = false;       // G93 / G94
    bool toolLengthDynamic = false; // G43.1 / G49
    int spindle = 5;                // M3, M4 or M5
    bool flood = false;             // M8
    bool mist = false;              // M7
    double feed = 0;                // mm/min (in G93 the block's own value)
    double spindleSpeed = 0;
    int tool = 0;
};

// What the controller keeps in its settings memory (survives a reset) and what it keeps until
// reset, as "$#" shows them; machine coordinates, mm.
struct Offsets {
    std::array<Vec3, 6> coordSystems{}; // G54..G59
    Vec3 g28{};
    Vec3 g30{};
    Vec3 g92{};
    double toolLength = 0; // along Z
    Vec3 probe{};
    bool probeSucceeded = false;
};

// One motion a block produces, in machine coordinates (mm). Arcs come already broken into
// the straight segments GRBL plans.
struct Motion {
    enum Kind { Rapid, Feed, Probe, Dwell } kind = Feed;
    Vec3 target{};
    double feed = 0;    // mm/min for Feed and Probe (inverse time already converted)
    double seconds = 0; // Dwell
    bool arc = false;   // a segment of an arc
    // Probe: toward or away from the work, and whether not touching is an alarm.
    bool probeAway = false;
    bool probeNoError = false;
};

// The answer to one block.
struct Result {
    int status = kOk;
    std::vector<Motion> motions;             // in the order the controller runs them
    ProgramFlow flow = ProgramFlow::Running; // M0 pauses; M2/M30 end ("Pgm End")
    bool spindleChanged = false; // the block changed spindle or coolant: waits for a stand
    bool offsetsChanged = false; // work offsets changed (1.1h reports WCO again)
    bool wroteSettings = false;  // G10, G28.1, G30.1 write the settings memory
};

// The machine settings the interpreter needs.
struct MachineSettings {
    double arcTolerance = 0.002; // $12, mm
    // 1.1h builds without mist coolant by default: M7 is then an unsupported command.
    bool mistCoolant = false;
};

class Interpreter {
public:
    explicit Interpreter(Dialect dialect, MachineSettings settings = {});

    Dialect GetDialect() const { return dialect_; }
    MachineSettings& Settings() { return settings_; }

    // Runs one block as the firmware's line reader hands it over: upper case, no spaces and
    // no comments (see CleanLine). The modal state and position change only when the status
    // is kOk. `result` is cleared first, so a caller may reuse it for every line.
    void Execute(std::string_view block, Result& result);
    Result Execute(std::string_view block) {
        Result r;
        Execute(block, r);
        return r;
    }
    // One raw line of a file, as the firmware's line reader hands it on (see CleanLine): a line
    // over the line buffer is refused with kLineOverflow, an empty one is "ok" and does nothing.
    // Lines of settings commands ("$...") are no G-code and get kExpectedCommandLetter.
    void ExecuteLine(std::string_view raw, Result& result);
    // A 1.1h jog ("$J=" and a block): a feed move that leaves the modal state alone.
    void ExecuteJog(std::string_view block, Result& result);

    // A soft reset: the modal state returns to its defaults and the G92 offset and tool length
    // offset are cleared; the coordinate systems and G28/G30 positions stay (settings memory).
    void Reset();
    // Everything back to power-up defaults, settings memory included ($RST=#).
    void ClearStoredOffsets();

    // The parser's position: where the last block ends (machine mm). The simulator sets it
    // after a probe, a jog cancel or a reset.
    const Vec3& Position() const { return position_; }
    void SetPosition(const Vec3& p) { position_ = p; }

    const ModalState& Modal() const { return modal_; }
    const Offsets& GetOffsets() const { return offsets_; }
    // Where the probe stopped; `succeeded` false when it touched nothing.
    void SetProbeResult(const Vec3& machine, bool succeeded);
    // Machine minus work position: active coordinate system + G92 + tool length offset.
    Vec3 WorkOffset() const;

    // The "$G" line (without CR LF) and the "$#" lines (each with CR LF), as each version writes
    // them.
    std::string ParserStateReport() const;
    std::string ParametersReport() const;

private:
    // `words` hands out the block's words; `lineReader`: an empty block does nothing.
    template <typename Words> int Run(Words& words, bool jog, bool lineReader, Result& result);

    Dialect dialect_;
    MachineSettings settings_;
    ModalState modal_;
    Offsets offsets_;
    Vec3 position_{};
};

// The firmware's line reader for one line of a file: drops spaces and control characters,
// comments in ( ) and after ';' and the block delete '/', and upper-cases the rest into `out`.
// Returns false when what is left does not fit the controller's line buffer (79 characters).
bool CleanLine(std::string_view raw, std::string& out);

// The controller's line buffer: a line keeps at most one character less.
constexpr std::size_t kLineBufferSize = 80;

// The firmware's number printer: `decimals` places, rounded half away from zero, locale-free.
// `pointAlways`: 0.9j writes the point even without decimals ("F0.").
std::string FormatNumber(double value, int decimals, bool pointAlways = false);

// The firmware's number reader at `pos` of `text`: an optional sign, digits with at most one
// point, no exponent; digits beyond the eighth are dropped (their places kept). Advances `pos`
// past the number; false (and `pos` unchanged) when there is no digit.
bool ReadNumber(std::string_view text, std::size_t& pos, double& value);

// A file run through the interpreter, for drawing it and estimating its time.
struct Segment {
    Vec3 from{}, to{};
    enum Kind { Rapid, Feed, Arc, Probe, Dwell } kind = Feed;
    double feed = 0;     // mm/min; for Dwell the seconds
    std::size_t row = 0; // the file line it comes from, counting from 0
};

struct FileError {
    std::size_t row;
    int status;
};

struct Program {
    std::vector<Segment> segments;
    std::vector<FileError> errors; // lines the controller would refuse (they produce nothing)
};

// Runs every line of `lines` in order, as a controller that starts from power-up would.
// `start` is the first row number. Lines in error are recorded and skipped, as a sender that
// goes on after an error would.
class ProgramBuilder {
public:
    explicit ProgramBuilder(Dialect dialect = Dialect::Grbl11h, MachineSettings settings = {});
    void AddLine(std::string_view raw, std::size_t row);
    const Program& Get() const { return program_; }
    Program Take() { return std::move(program_); }
    Interpreter& GetInterpreter() { return interpreter_; }

private:
    Interpreter interpreter_;
    Program program_;
    std::string clean_;
    Result result_;
};

// A whole text (lines split at LF, a CR before it dropped).
Program InterpretText(std::string_view text, Dialect dialect = Dialect::Grbl11h,
                      MachineSettings settings = {});

} // namespace gcode
