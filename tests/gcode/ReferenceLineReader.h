#pragma once
// The first, plain versions of the interpreter's number reader and line reader, kept as
// references: the tuned versions in the library must give the same answers bit for bit.
// Used by the interpreter's tests and by the G-code fuzz target.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gcode_reference {

// An optional sign, digits with at most one point; the first eight digits kept (later ones
// only count for the point's place); one rounding from the exact kept digits to a double.
inline bool ReadNumber(std::string_view text, std::size_t& pos, double& value) {
    constexpr std::size_t kMaxDigits = 8;
    constexpr double kFloatMax = 3.4028234663852886e38;
    std::size_t i = pos;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const auto digitsFrom = [&](std::size_t at) {
        std::size_t e = at;
        while (e < text.size() && text[e] >= '0' && text[e] <= '9')
            ++e;
        return e;
    };
    const std::size_t intStart = i, intEnd = digitsFrom(i);
    std::size_t fracStart = intEnd, fracEnd = intEnd;
    if (intEnd < text.size() && text[intEnd] == '.') {
        fracStart = intEnd + 1;
        fracEnd = digitsFrom(fracStart);
    }
    const std::size_t intDigits = intEnd - intStart, fracDigits = fracEnd - fracStart;
    if (intDigits + fracDigits == 0) return false;
    std::uint64_t whole = 0, frac = 0;
    const std::size_t keepInt = std::min(intDigits, kMaxDigits);
    if (keepInt > 0)
        std::from_chars(text.data() + intStart, text.data() + intStart + keepInt, whole);
    int scale = static_cast<int>(intDigits - keepInt);
    const std::size_t keepFrac = scale > 0 ? 0 : std::min(fracDigits, kMaxDigits - keepInt);
    if (keepFrac > 0)
        std::from_chars(text.data() + fracStart, text.data() + fracStart + keepFrac, frac);
    std::uint64_t mantissa = whole;
    for (std::size_t k = 0; k < keepFrac; ++k)
        mantissa *= 10;
    mantissa += frac;
    scale -= static_cast<int>(keepFrac);
    constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                       1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    double v = static_cast<double>(mantissa);
    v = scale < 0     ? v / kPowersOfTen[-scale]
        : scale <= 22 ? v * kPowersOfTen[scale]
                      : v * std::pow(10.0, scale);
    if (!(v <= kFloatMax)) return false;
    value = negative ? -v : v;
    pos = fracEnd;
    return true;
}

// Spaces, control characters and '/' dropped, ( ) and ';' comments dropped, the rest
// upper-cased; false when more than 79 characters are left (`out` holds the first 79).
inline bool CleanLine(std::string_view raw, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '(') {
            const std::size_t close = raw.find(')', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == ';') {
            break;
        } else if (static_cast<unsigned char>(c) > ' ' && c != '/') {
            if (out.size() == 79) return false;
            out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    return true;
}

} // namespace gcode_reference
