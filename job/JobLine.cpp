#include "JobLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "GrblTexts.h"

namespace job {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsWith(std::string_view s, std::string_view head) {
    return s.size() >= head.size() && s.substr(0, head.size()) == head;
}

// A whole number at the start of `s`, digits only; nullopt otherwise.
std::optional<int> WholeNumber(std::string_view s) {
    int value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc{} || end == s.data()) return std::nullopt;
    return value;
}

// A word's number in tenths (G28.1 -> 281), the way the controller compares codes; nullopt
// when it is no number.
std::optional<long> Tenths(std::string_view number) {
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc{} || end != number.data() + number.size()) return std::nullopt;
    return std::lround(value * 10.0);
}

} // namespace

std::string CleanLine(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    bool inParens = false;
    for (const char c : raw) {
        if (inParens) {
            if (c == ')') inParens = false;
            continue;
        }
        if (c == ';') break;
        if (c == '(') {
            inParens = true; // an unclosed comment runs to the end of the line
            continue;
        }
        if (IsSpace(c)) continue;
        out.push_back(c);
    }
    if (out == "%") out.clear();
    return out;
}

std::optional<LineFault> CheckLine(std::string_view cleaned, const ControllerLimits& limits) {
    for (const char c : cleaned) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) return LineFault::NotAscii;
    }
    // The controller takes these off the wire wherever they stand: inside a line they would
    // pause, resume or query the machine instead of being part of the command.
    if (cleaned.find_first_of("!~?") != std::string_view::npos) return LineFault::RealTimeByte;
    if (cleaned.size() > limits.longestLine) return LineFault::TooLong;
    return std::nullopt;
}

bool WritesSettings(std::string_view cleaned) {
    std::string line(cleaned);
    std::transform(line.begin(), line.end(), line.begin(), Upper);
    if (StartsWith(line, "$")) {
        const std::string_view rest = std::string_view(line).substr(1);
        if (StartsWith(rest, "RST") || StartsWith(rest, "N")) return true;
        // "$J=" is a jog, every other "$...=" stores a value.
        return !StartsWith(rest, "J=") && rest.find('=') != std::string_view::npos;
    }
    bool g10 = false, l2or20 = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char letter = line[i++];
        const std::size_t start = i;
        while (i < line.size() && (std::isdigit(static_cast<unsigned char>(line[i])) ||
                                   line[i] == '.' || line[i] == '-' || line[i] == '+'))
            ++i;
        const auto tenths = Tenths(std::string_view(line).substr(start, i - start));
        if (!tenths) continue;
        if (letter == 'G' && (*tenths == 281 || *tenths == 301)) return true;
        if (letter == 'G' && *tenths == 100) g10 = true;
        if (letter == 'L' && (*tenths == 20 || *tenths == 200)) l2or20 = true;
    }
    return g10 && l2or20;
}

Reply ClassifyReply(std::string_view line) {
    const std::string_view text = Trim(line);
    Reply reply;
    if (text == "ok") {
        reply.kind = ReplyKind::Ok;
    } else if (StartsWith(text, "error:")) {
        reply.kind = ReplyKind::Error;
        reply.detail = std::string(Trim(text.substr(6)));
        if (auto n = WholeNumber(reply.detail);
            n && reply.detail.find_first_not_of("0123456789") == std::string::npos) {
            reply.code = *n;
        } else if (const auto id = reply.detail.find("ID:"); id != std::string::npos) {
            reply.code = WholeNumber(std::string_view(reply.detail).substr(id + 3)).value_or(0);
        } else {
            reply.code = ErrorCodeOfText(reply.detail);
        }
    } else if (StartsWith(text, "ALARM:")) {
        reply.kind = ReplyKind::Alarm;
        reply.detail = std::string(Trim(text.substr(6)));
        if (reply.detail.find_first_not_of("0123456789") == std::string::npos)
            reply.code = WholeNumber(reply.detail).value_or(0);
        else
            reply.code = AlarmCodeOfText(reply.detail);
    } else if (StartsWith(text, "Grbl ")) {
        reply.kind = ReplyKind::Greeting;
    } else if (StartsWith(text, "<")) {
        reply.kind = ReplyKind::Status;
    } else if (StartsWith(text, "[")) {
        reply.kind = ReplyKind::Message;
    }
    return reply;
}

std::string_view StatusState(std::string_view report) {
    if (!StartsWith(report, "<")) return {};
    report.remove_prefix(1);
    return report.substr(0, report.find_first_of(",|>\r"));
}

std::string_view StatusPosition(std::string_view report) {
    const auto pos = report.find("Pos:");
    if (pos == std::string_view::npos) return {};
    std::string_view rest = report.substr(pos + 4);
    // Three numbers: up to the third comma (0.9j separates fields with commas too) or the
    // next field.
    std::size_t end = 0;
    for (int commas = 0; end < rest.size(); ++end) {
        const char c = rest[end];
        if (c == '|' || c == '>' || c == '\r') break;
        if (c == ',' && ++commas == 3) break;
    }
    return rest.substr(0, end);
}

} // namespace job
