#include "StatusReport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

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

using Axes = std::array<double, 3>;

// The first three of the comma-separated fields: X, Y and Z (a controller with more axes
// sends more).
std::optional<std::array<std::string_view, 3>> AxisFields(std::string_view text) {
    std::array<std::string_view, 3> fields;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos && i + 1 < fields.size()) return std::nullopt;
        fields[i] = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
    }
    return fields;
}

// The three axes as numbers; nothing unless each is a plain finite decimal number.
std::optional<Axes> AxisValues(const std::array<std::string_view, 3>& fields) {
    Axes values{};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view f = fields[i];
        const char* end = f.data() + f.size();
        const auto [ptr, ec] = std::from_chars(f.data(), end, values[i], std::chars_format::fixed);
        if (f.empty() || ec != std::errc{} || ptr != end || !std::isfinite(values[i]))
            return std::nullopt;
    }
    return values;
}

// `value` with `decimals` places and a decimal comma; never "-0,000".
std::string FixedWithComma(double value, int decimals) {
    // Room for the integer digits of any double (up to 309) and every place asked for.
    std::string text(static_cast<std::size_t>(decimals) + 320, '\0');
    const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::fixed, decimals);
    if (ec != std::errc{}) return {};
    text.resize(static_cast<std::size_t>(end - text.data()));
    if (text.front() == '-' && text.find_first_of("123456789") == std::string::npos)
        text.erase(0, 1);  // rounded to zero
    return WithDecimalComma(text);
}

// Places after the point, as the controller wrote them (3, or 4 in inches).
int DecimalsOf(std::string_view field) {
    const std::size_t dot = field.find('.');
    return dot == std::string_view::npos ? 0 : static_cast<int>(field.size() - dot - 1);
}

// GRBL 1.1: "<State|Field:value|...>", positions as machine position, work position, or the
// machine position now and the offset every few reports.
void ApplyBarReport(TStatusTexts& shown, std::string_view line, TWorkOffset& offset) {
    if (line.substr(0, 4) == "<Jog") shown.State1 = shown.State2 = "Busy";

    std::string_view body = line.substr(0, line.find('>'));
    std::optional<std::array<std::string_view, 3>> machine, work;
    while (!body.empty()) {
        const std::size_t bar = body.find('|');
        const std::string_view field = body.substr(0, bar);
        body.remove_prefix(bar == std::string_view::npos ? body.size() : bar + 1);

        const auto value = [&](std::string_view tag) {
            return field.substr(0, tag.size()) == tag ? AxisFields(field.substr(tag.size()))
                                                      : std::nullopt;
        };
        if (auto f = value("MPos:")) machine = f;
        if (auto f = value("WPos:")) work = f;
        if (auto f = value("WCO:")) {
            if (const auto wco = AxisValues(*f))
                offset = {*wco, true, {DecimalsOf((*f)[0]), DecimalsOf((*f)[1]), DecimalsOf((*f)[2])}};
        }
    }

    std::array<std::string, 3> texts;
    if (work && AxisValues(*work)) {
        for (std::size_t i = 0; i < texts.size(); ++i) texts[i] = WithDecimalComma((*work)[i]);
    } else {
        const std::optional<Axes> mpos = machine ? AxisValues(*machine) : std::nullopt;
        if (!mpos || !offset.Known) return;
        for (std::size_t i = 0; i < texts.size(); ++i)
            // The difference is exact to the finer of the two: MPos 0 and WCO 0.5 is -0,5.
            texts[i] = FixedWithComma((*mpos)[i] - offset.Axes[i],
                                      std::max(DecimalsOf((*machine)[i]), offset.Decimals[i]));
    }
    shown.X = texts[0];
    shown.Y = texts[1];
    shown.Z = texts[2];
}

}  // namespace

TStatusTexts ParseStatusReport(TStatusTexts previous, std::string_view line, TWorkOffset& offset) {
    TStatusTexts shown = std::move(previous);
    const std::string_view head = line.substr(0, 4);
    if (head == "<Idl") shown.State1 = shown.State2 = "Idle";
    if (head == "<Run") shown.State1 = shown.State2 = "Busy";
    // Only a "|" inside the report makes it the bar form; what follows the ">" is not the report.
    if (line.substr(0, line.find('>')).find('|') != std::string_view::npos) {
        ApplyBarReport(shown, line, offset);
        return shown;
    }

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
