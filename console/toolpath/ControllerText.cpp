#include "ControllerText.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace toolpath {

namespace {

// A number at the start of `text`; `used` is how many characters it took.
std::optional<double> NumberAt(std::string_view text, std::size_t& used) {
    double value = 0;
    const char* begin = text.data();
    if (!text.empty() && text.front() == '+') ++begin;  // from_chars takes no plus sign
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value,
                                           std::chars_format::fixed);
    if (ec != std::errc{}) return std::nullopt;
    used = static_cast<std::size_t>(end - text.data());
    return value;
}

// Three numbers separated by commas, right after `tag` in `line`.
std::optional<Vec3d> TripleAfter(std::string_view line, std::string_view tag) {
    const std::size_t at = line.find(tag);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + tag.size());
    Vec3d v{};
    for (int i = 0; i < 3; ++i) {
        std::size_t used = 0;
        const auto n = NumberAt(rest, used);
        if (!n) return std::nullopt;
        v[i] = *n;
        rest.remove_prefix(used);
        if (i < 2) {
            if (rest.empty() || rest.front() != ',') return std::nullopt;
            rest.remove_prefix(1);
        }
    }
    // The third number must end the field, not run into garbage.
    if (!rest.empty() && rest.front() != ',' && rest.front() != '|' && rest.front() != '>')
        return std::nullopt;
    return v;
}

}  // namespace

bool ApplySettingLine(std::string_view line, MotionSettings& s) {
    if (line.size() < 4 || line.front() != '$') return false;
    line.remove_prefix(1);
    int key = 0;
    const auto [keyEnd, keyEc] = std::from_chars(line.data(), line.data() + line.size(), key);
    if (keyEc != std::errc{} || keyEnd == line.data() + line.size() || *keyEnd != '=')
        return false;
    line.remove_prefix(static_cast<std::size_t>(keyEnd - line.data()) + 1);
    std::size_t used = 0;
    const auto value = NumberAt(line, used);
    if (!value || !(*value > 0)) return false;
    // Only a note or the line end may follow the number.
    const std::string_view tail = line.substr(used);
    if (!tail.empty() && tail.front() != ' ' && tail.front() != '\r' && tail.front() != '\n')
        return false;
    switch (key) {
    case 11: s.junctionDeviation = *value; return true;
    case 12: s.arcTolerance = *value; return true;
    case 110: case 111: case 112: s.maxRate[key - 110] = *value; return true;
    case 120: case 121: case 122: s.accel[key - 120] = *value; return true;
    default: return false;
    }
}

std::optional<Vec3d> WorkPositionOf(std::string_view line, const std::optional<Vec3d>& wco) {
    if (line.empty() || line.front() != '<') return std::nullopt;
    if (auto w = TripleAfter(line, "WPos:")) return w;
    if (!wco) return std::nullopt;
    auto m = TripleAfter(line, "MPos:");
    if (!m) return std::nullopt;
    for (int i = 0; i < 3; ++i) (*m)[i] -= (*wco)[i];
    return m;
}

std::string MmText(double mm) {
    if (!std::isfinite(mm)) return "-";
    char buffer[64];
    // Rounded first, so that a tiny negative value does not show as "-0,000".
    double rounded = std::round(mm * 1000.0) / 1000.0;
    if (rounded == 0) rounded = 0;
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, rounded,
                                         std::chars_format::fixed, 3);
    if (ec != std::errc{}) return "-";
    std::string text(buffer, end);
    for (char& c : text)
        if (c == '.') c = ',';
    return text;
}

std::string DurationText(double seconds) {
    long long total = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    std::string text = std::to_string(h);
    text += m < 10 ? ":0" : ":";
    text += std::to_string(m);
    text += s < 10 ? ":0" : ":";
    text += std::to_string(s);
    return text;
}

}  // namespace toolpath
