#pragma once
// The texts of the command channel: what goes on the wire, what goes into the monitor, and
// where a received line belongs.

#include <string>
#include <string_view>

// Single real-time bytes, written without a terminator.
inline constexpr std::string_view kStatusQuery = "?";
inline constexpr std::string_view kSoftReset = "\x18";

// The first command after every connect: a known feed before any jog.
inline constexpr std::string_view kConnectCommand = "F100";

// A command line on the wire ends in CR, never LF.
std::string WireLine(std::string_view command);

// The most characters of a typed line: GRBL 0.9j and 1.1h keep a line in 80 bytes, its
// terminator included, and reject a longer one.
inline constexpr int kTypedLineMax = 79;

// The typed line as the controller gets it: the text unchanged when it is printable 7-bit
// ASCII (UTF-8 in and out) of at most kTypedLineMax characters; anything else throws, naming
// what it refused, and nothing is to be sent.
// - A GRBL controller picks "?" out of a line anywhere as a status query and takes bytes above
//   0x7F as real-time commands or drops them, so a character outside ASCII, sent as "?" or as
//   a byte of its own, would silently vanish from the line: "G0 X-5" typed with a typographic
//   minus (U+2212) would move to X5.
// - A control character is a command of its own on the wire: a pasted CR or LF ends the line
//   early and sends the rest as another, 0x18 resets the controller.
std::string TypedLine(std::string_view utf8);

// A monitor entry ends in CR LF.
std::string MonitorEntry(std::string_view text);

// A received line that begins with "<" is a status report; anything else, an empty line
// included, is logged. No white space is trimmed first.
bool IsStatusReport(std::string_view line);

// The monitor shows one line break for each LF together with the CRs right before it, and
// one for each other CR, so the controller's reply "ok" CR logged with CR LF shows as one
// line "ok", and a bare LF as an empty line. Received bytes are shown one
// character each (Latin-1), so no byte is ever dropped or refused.
std::string MonitorLines(std::string_view entry);

// RGB colours of the monitor's runs.
struct TRgb {
    unsigned char r, g, b;
    bool operator==(const TRgb&) const = default;
};
inline constexpr TRgb kSentColour{0, 128, 0};
inline constexpr TRgb kReceivedColour{0, 0, 0};
