#pragma once
// The simulated controller's protocol: bytes in, bytes out, in machine time. No I/O and no
// clock of its own, so every answer is a function of what was received and when.
//
// Like the firmware it takes the real-time bytes (?, !, ~, Ctrl-X, and in 1.1 the upper half
// of the byte range) straight off the wire and keeps everything else in a 128-byte receive
// buffer; a line leaves the buffer when the
// controller gets to it, and the "ok" of a motion line comes once the block is planned, so a
// sender that counts characters in flight works against it exactly as against the firmware.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "Interpreter.h"
#include "Planner.h"

namespace grblsim {

using gcode::MachineLimits;
using gcode::Vec3;
using Dialect = gcode::Dialect;

class GrblEngine {
public:
    static constexpr std::size_t kRxBufferSize = 128;
    static constexpr std::size_t kLineBufferSize =
        gcode::kLineBufferSize; // longest line is one less

    enum class State { Idle, Run, Hold, Alarm, Check, Jog };

    explicit GrblEngine(Dialect dialect);

    Dialect GetDialect() const { return dialect_; }

    // Power-up, or a client opening the port (the board resets on DTR): the machine stands at
    // its origin, the banner and the startup lines follow; the settings memory stays. `now`
    // is machine time in seconds; it never runs backwards.
    void Boot(double now);
    // A plane at machine height `z` that the probe touches (G38.x); without one a probe
    // touches nothing.
    void SetProbeSurface(double z) {
        hasSurface_ = true;
        surfaceZ_ = z;
    }
    // Bytes from the client. Bytes that do not fit the receive buffer are lost, as on the
    // board.
    void Receive(std::string_view bytes, double now);
    // Lets the machine run up to `now` and works through the lines that become due.
    void Advance(double now);
    // Machine time at which Advance has something to do next, or a negative value when
    // nothing happens until the client sends again.
    double NextEvent() const;

    // What the controller has written since the last call.
    std::string TakeOutput();

    State GetState() const { return state_; }
    Vec3 MachinePosition() const { return motion_.Position(); }
    std::size_t RxBufferUsed() const { return rx_.size(); }
    std::size_t PlannerCapacity() const { return motion_.Capacity(); }
    const gcode::Interpreter& Parser() const { return interp_; }

private:
    // What is left to do of a parsed line before it is answered, in the firmware's order
    // within a block: spindle and coolant changes and dwells wait for the machine to stand, a
    // move for room in the planner, a probe for an empty planner, a pause for cycle start, a
    // program end for the machine to stand.
    struct Step {
        enum Kind { Sync, Dwell, Move, Jog, Probe, Pause, ProgramEnd } kind;
        Vec3 target{};
        double value = 0; // feed (mm/min), dwell (s)
        bool rapid = false;
        bool probeAway = false, probeNoError = false;
        // Sync: the spindle and coolant the block asks for.
        int spindle = 5;
        double spindleSpeed = 0;
        bool flood = false, mist = false;
    };

    void ResetController(double now);
    void FinishBoot();
    void RunStartupLines();
    void RealTime(char c, double now);
    void ExtendedRealTime(unsigned char c);
    void CancelJog();
    void WorkLines(double now);
    void ExecuteLine(const std::string& line, double now);
    // `jog`: the line is a 1.1 jog ("$J=" and a block): a feed move that leaves the parser's
    // modes alone.
    int ExecuteGcode(const std::string& line, bool jog);
    // Queues the steps of an accepted block.
    void QueueSteps(const gcode::Result& r, bool jog);
    // One step of a probe; true when it is done.
    bool ProbeStep(const Step& s);
    void Alarm(int code);
    int ExecuteSystem(const std::string& line);
    void FinishPending(double now);
    void SyncStateWithMotion();

    void Reply(int status);
    void Message(const std::string& text);
    void StatusReport();
    void ReportSettings();
    Vec3 WorkOffset() const;
    std::string Axes(const Vec3& v) const;
    void ApplySetting(int n, double value);
    void RestoreDefaultSettings();

    Dialect dialect_;
    MachineLimits limits_;
    gcode::Planner motion_;
    gcode::Interpreter interp_;
    gcode::Result result_;
    State state_ = State::Idle;
    std::string rx_;   // the receive buffer
    std::string line_; // the line being collected from it
    bool lineOverflow_ = false;
    bool inComment_ = false;
    bool inSemicolon_ = false;
    std::deque<Step> steps_; // of the line being executed; empty when none waits
    bool replyOwed_ = false; // the line of the steps waits for its "ok" (startup lines do not)
    bool dwelling_ = false;
    bool cancellingJog_ = false; // decelerating; the jog blocks go once the machine stands
    bool pausing_ = false;       // M0 has put the machine on hold until cycle start
    double dwellEnd_ = 0;
    double lastTime_ = 0;
    // After an alarm the firmware pauses before it greets again; bytes meanwhile are lost.
    double bootAt_ = -1;
    std::string out_;

    // What the machine does, as opposed to what the parser has been told.
    int spindle_ = 5;
    double spindleSpeed_ = 0;
    bool flood_ = false, mist_ = false;

    // Probing: a plane at this machine Z touches the probe from below it.
    bool hasSurface_ = false;
    double surfaceZ_ = 0;
    enum class ProbePhase { Idle, Approach, Open, Stopping } probePhase_ = ProbePhase::Idle;
    Vec3 probeTrigger_{};

    // The controller's settings memory: lives as long as the engine.
    std::array<std::string, 2> startupLines_;
    std::map<int, double> settings_;
    int statusMask_ = 0;
    int wcoCounter_ = 0;
    int ovrCounter_ = 0;
    bool resetAfterReply_ = false; // $C leaving check mode, $RST
};

} // namespace grblsim
