#pragma once
// What the toolpath view and the time estimate take from the controller's lines: the tool's
// work position from a status report, and the motion settings from the `$$` listing. Numbers
// are read with std::from_chars, so the process locale never changes them.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace toolpath {

using Vec3d = std::array<double, 3>;

// GRBL's motion settings, with its defaults until the controller reports its own.
struct MotionSettings {
    Vec3d maxRate{500.0, 500.0, 500.0};  // $110-$112, mm/min
    Vec3d accel{10.0, 10.0, 10.0};       // $120-$122, mm/s^2
    double junctionDeviation = 0.010;    // $11, mm
    double arcTolerance = 0.002;         // $12, mm
    bool operator==(const MotionSettings&) const = default;
};

// Takes one received line ("$120=25.000", possibly with 0.9j's " (x accel, mm/sec^2)" note
// and the CR). Returns true when it set one of the settings above; any other line, or a
// value that is not a positive number, leaves `settings` alone.
bool ApplySettingLine(std::string_view line, MotionSettings& settings);

// The work position of a status report: "WPos:" when the report has it (0.9j's comma form
// or 1.1's bar form), otherwise 1.1's "MPos:" minus the work offset `wco` when one is known.
// Nothing for a line without a usable position.
std::optional<Vec3d> WorkPositionOf(std::string_view line, const std::optional<Vec3d>& wco);

// A length in mm as the console shows positions: three decimals and a decimal comma.
std::string MmText(double mm);
// A duration as hours, minutes and seconds ("1:02:03"), rounded to the second; "0:00:00"
// for anything not positive.
std::string DurationText(double seconds);

}  // namespace toolpath
