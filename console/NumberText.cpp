#include "NumberText.h"

#include <charconv>
#include <cmath>

namespace numtext {

namespace {

constexpr int kSignificantDigits = 15;
constexpr int kPlainMinExponent = -4;  // 0.0001 is still written plainly
constexpr int kPlainMaxExponent = 14;  // below 1E15

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FloatToText(double value, std::string_view decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";  // also -0

    // Rounded to 15 significant digits: "d.dddddddddddddde[+-]x". to_chars, not printf: the
    // process locale (a decimal comma) must not reach this text, it goes to the wire.
    char buf[40];
    const auto written = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                       std::chars_format::scientific, kSignificantDigits - 1);
    const std::string_view sci(buf, static_cast<std::size_t>(written.ptr - buf));
    std::string digits(1, sci[0]);
    std::size_t at = 1;
    if (at < sci.size() && sci[at] == '.') {
        for (++at; at < sci.size() && IsDigit(sci[at]); ++at) digits += sci[at];
    }
    // After the 'e': a sign, then the digits; from_chars reads no "+".
    std::size_t expAt = at + 1;
    if (expAt < sci.size() && sci[expAt] == '+') ++expAt;
    int exponent = 0;
    std::from_chars(sci.data() + expAt, sci.data() + sci.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = value < 0 ? "-" : "";
    const int n = static_cast<int>(digits.size());
    if (exponent >= kPlainMinExponent && exponent <= kPlainMaxExponent) {
        if (exponent >= 0) {
            const int intDigits = exponent + 1;
            if (n <= intDigits) {
                out += digits;
                out.append(static_cast<std::size_t>(intDigits - n), '0');
            } else {
                out.append(digits, 0, static_cast<std::size_t>(intDigits));
                out += decimalSeparator;
                out.append(digits, static_cast<std::size_t>(intDigits));
            }
        } else {
            out += '0';
            out += decimalSeparator;
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (n > 1) {
            out += decimalSeparator;
            out.append(digits, 1);
        }
        out += 'E';
        out += std::to_string(exponent);  // "-5", "15": no plus sign, no leading zeros
    }
    return out;
}

std::string WholeToText(double value) {
    // Beyond the range of long long the general form is the honest text.
    if (!(std::fabs(value) < 9.0e18)) return FloatToText(value, ".");
    return std::to_string(std::llround(value));
}

std::optional<double> ParseNumber(std::string_view text, std::string_view decimalSeparator,
                                  bool whole) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);

    // Rebuilt in the form from_chars reads: optional "-", digits, ".", digits, "e", exponent.
    std::string plain;
    std::size_t i = 0;
    const auto digitsFrom = [&](std::size_t& at) {
        const std::size_t start = at;
        while (at < text.size() && IsDigit(text[at])) plain += text[at++];
        return at - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') plain += '-';
        ++i;
    }
    std::size_t mantissaDigits = digitsFrom(i);
    if (!whole && !decimalSeparator.empty() && text.substr(i).starts_with(decimalSeparator)) {
        i += decimalSeparator.size();
        plain += '.';
        mantissaDigits += digitsFrom(i);
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (!whole && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        plain += 'e';
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        if (digitsFrom(i) == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    double value = 0;
    const char* first = plain.data();
    const char* last = first + plain.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last) return std::nullopt;
    return value;
}

double Clamp(double value, double min, double max) {
    if (max <= min) return value;
    if (value < min) return min;
    if (value > max) return max;
    return value;
}

double FieldValue(std::string_view text, FieldKind kind, std::string_view decimalSeparator) {
    return ParseNumber(text, decimalSeparator, kind == FieldKind::Whole).value_or(0.0);
}

std::string FieldText(double value, FieldKind kind, FieldRange range,
                      std::string_view decimalSeparator) {
    const double v = Clamp(value, range.min, range.max);
    return kind == FieldKind::Whole ? WholeToText(v) : FloatToText(v, decimalSeparator);
}

std::string SteppedText(std::string_view text, double delta, FieldKind kind, FieldRange range,
                        std::string_view decimalSeparator) {
    const double value = FieldValue(text, kind, decimalSeparator);
    return FieldText(value + delta, kind, range, decimalSeparator);
}

std::optional<std::string> TextAfterFocusOut(std::string_view text, FieldKind kind,
                                             FieldRange range,
                                             std::string_view decimalSeparator) {
    const double value = FieldValue(text, kind, decimalSeparator);
    if (kind == FieldKind::Decimal) return FieldText(value, kind, range, decimalSeparator);
    const bool blank = text.find_first_not_of(' ') == std::string_view::npos;
    if (blank || Clamp(value, range.min, range.max) != value)
        return FieldText(value, kind, range, decimalSeparator);
    return std::nullopt;
}

}  // namespace numtext
