#pragma once
// The rules for one line of a job: what is sent of it, whether the controller must get it
// alone, and what a line from the controller is. Plain functions of their inputs.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace job {

// The controller's limits. Its receive buffer holds 128 bytes, but as a ring it keeps one
// free, so 127 can be outstanding; its line buffer holds 80 characters, of which one is the
// end of the line. Both 0.9j and 1.1h.
struct ControllerLimits {
    std::size_t rxBuffer = 127;
    std::size_t longestLine = 79;
};

// The line as it goes to the wire (without its CR): comments (";" to the end, "(...)") and
// white space removed, and a lone "%" (the file format's start/end marker) dropped. Empty:
// nothing is sent for this line.
std::string CleanLine(std::string_view raw);

// Why a cleaned line cannot be sent; nullopt when it can.
enum class LineFault { TooLong, NotAscii, RealTimeByte };
std::optional<LineFault> CheckLine(std::string_view cleaned, const ControllerLimits& limits);

// A line that writes the controller's settings memory ($x=, $N, $RST, G10 L2/L20, G28.1,
// G30.1): the controller stops its planner to write it, so it goes alone.
bool WritesSettings(std::string_view cleaned);

// What a line from the controller is, for the job. `text` is the line without its CR.
enum class ReplyKind { Ok, Error, Alarm, Greeting, Status, Message, Other };
struct Reply {
    ReplyKind kind = ReplyKind::Other;
    // Error: the code (1.1h numbering), 0 when the controller gave only a text it is not
    // known by. Alarm: the alarm number, 0 when unknown.
    int code = 0;
    // Error and alarm: the controller's own text after the colon, trimmed.
    std::string detail;
};
Reply ClassifyReply(std::string_view line);

// The state word of a status report ("Idle", "Run", "Hold:0", "Queue", ...); empty for a
// line that is not one.
std::string_view StatusState(std::string_view report);
// The first position in a status report (after the first "Pos:"), up to the next field;
// empty when there is none.
std::string_view StatusPosition(std::string_view report);

} // namespace job
