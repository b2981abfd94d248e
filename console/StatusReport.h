#pragma once
// The controller's status report, turned into the five texts the window shows.

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

// The texts after one report line (as delivered, CR still at its end). "<Idl" and "<Run" set
// the state to "Idle" or "Busy"; any other beginning keeps the previous state. The three fields
// after the first "W" (and its four following characters) are cut at the next two commas and
// the ">", with every "." shown as ",". Every line gives a defined result, possibly empty
// fields; nothing is parsed as a number.
TStatusTexts ParseStatusReport(TStatusTexts previous, std::string_view line);
