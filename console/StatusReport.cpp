#include "StatusReport.h"

#include <algorithm>

namespace {

// The classic substring rules, positions counting from 1: a start below 1 counts as 1, a
// start past the end or a count of 0 or less gives nothing, and a range past the end stops
// there.
std::string_view Copy(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t count) {
    start = std::max<std::ptrdiff_t>(start, 1);
    const auto size = static_cast<std::ptrdiff_t>(text.size());
    if (start > size || count <= 0) return {};
    return text.substr(static_cast<std::size_t>(start - 1),
                       static_cast<std::size_t>(std::min(count, size - start + 1)));
}

// Position (from 1) of the first `c` at or after position `from`; 0 when there is none.
std::ptrdiff_t Find(char c, std::string_view text, std::ptrdiff_t from = 1) {
    if (from < 1 || from > static_cast<std::ptrdiff_t>(text.size())) return 0;
    const auto at = text.find(c, static_cast<std::size_t>(from - 1));
    return at == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(at) + 1;
}

// The controller writes a decimal point; the operator reads a decimal comma.
std::string WithDecimalComma(std::string_view field) {
    std::string out(field);
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

}  // namespace

TStatusTexts ParseStatusReport(TStatusTexts previous, std::string_view line) {
    TStatusTexts shown = std::move(previous);
    const std::string_view head = line.substr(0, 4);
    if (head == "<Idl") shown.State1 = shown.State2 = "Idle";
    if (head == "<Run") shown.State1 = shown.State2 = "Busy";

    // The tag "WPos:" is five characters; the work position follows it.
    const std::string_view rest = Copy(line, Find('W', line) + 5, 200);
    const std::ptrdiff_t c1 = Find(',', rest);
    const std::ptrdiff_t c2 = c1 == 0 ? 0 : Find(',', rest, c1 + 1);
    const std::ptrdiff_t g = Find('>', rest);

    shown.X = WithDecimalComma(Copy(rest, 1, c1 - 1));
    shown.Y = WithDecimalComma(Copy(rest, c1 + 1, c2 - c1 - 1));
    shown.Z = WithDecimalComma(Copy(rest, c2 + 1, g - c2 - 1));
    return shown;
}
