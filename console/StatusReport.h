#pragma once
// The controller's status report, turned into the five texts the window shows.

#include <array>
#include <string>
#include <string_view>

// What the status labels show: the machine state twice (large and small) and the X, Y and Z
// work positions, each as text.
struct TStatusTexts {
    std::string State1;
    std::string State2;
    std::string X;
    std::string Y;
    std::string Z;
    bool operator==(const TStatusTexts&) const = default;
};

// The work coordinate offset (machine position minus work position) as a GRBL 1.1 controller
// last sent it. It comes only with every few reports, so it is kept between them.
struct TWorkOffset {
    std::array<double, 3> Axes{};
    bool Known = false;
    std::array<int, 3> Decimals{};  // places after the point, as the controller wrote them
};

// The texts after one report line (as delivered, CR still at its end). "<Idl" and "<Run" set
// the state to "Idle" or "Busy"; any other beginning keeps the previous state. The three fields
// after the first "W" (and its four following characters) are cut at the next two commas and
// the ">", with every "." shown as ",". Every line gives a defined result, possibly empty
// fields; nothing is parsed as a number.
//
// A line with a "|" before its ">" is GRBL 1.1's bar form
// ("<Idle|MPos:1.000,2.000,3.000|FS:0,0|WCO:...>"), which the rule above would read as garbage.
// For it, "<Jog" reads "Busy" too; a "WCO:" field updates `offset`; the positions are WPos when
// reported, otherwise MPos minus the kept offset, with as many decimals as the finer of the two
// and a decimal comma. Without a usable position (no offset known yet, a field that is not
// three numbers) the previous position texts stay.
TStatusTexts ParseStatusReport(TStatusTexts previous, std::string_view line, TWorkOffset& offset);
