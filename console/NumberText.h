#pragma once
// Numbers as the operator sees and types them, and the rules of the two numeric fields of the
// manual panel. Plain functions of their inputs: the caller passes the locale's decimal
// separator, so everything here is tested without a window or a locale switch.

#include <optional>
#include <string>
#include <string_view>

namespace numtext {

// The shortest text of `value` with at most 15 significant digits: no thousands separator,
// `decimalSeparator` before the fraction, a leading "-" when negative. Plain notation for
// magnitudes from 0.0001 up to below 1E15, otherwise mantissa, "E" and the exponent with no
// plus sign and no leading zeros ("1E-5", "1,5E15"). Zero gives "0"; infinities and NaN give
// "INF", "-INF" and "NAN".
std::string FloatToText(double value, std::string_view decimalSeparator);

// A whole number in decimal ("-12"); a value with a fraction is rounded to the nearest.
std::string WholeToText(double value);

// Reads the text of a numeric field. Spaces around the number are allowed; a "+" or "-" may
// lead. A whole number is digits only; a decimal number may add `decimalSeparator` and
// digits, and an exponent ("E-5"). No thousands separators. Anything else, and a magnitude
// beyond the range of double, does not parse.
std::optional<double> ParseNumber(std::string_view text, std::string_view decimalSeparator,
                                  bool whole);

// `value` brought into [min, max]. A range with max <= min is no range: nothing is clamped.
double Clamp(double value, double min, double max);

// The kinds of numeric field and their rules.
enum class FieldKind { Decimal, Whole };

struct FieldRange {
    double min = 0;
    double max = 0;
};

// The value a field holds: its text read in its kind, 0 when it does not parse. Not clamped:
// a value typed out of range stays so until the field loses focus.
double FieldValue(std::string_view text, FieldKind kind, std::string_view decimalSeparator);

// The text a field shows for `value`, after bringing it into range.
std::string FieldText(double value, FieldKind kind, FieldRange range,
                      std::string_view decimalSeparator);

// The text after one step of `delta` (an arrow, Up/Down or Page Up/Down) from `text`.
std::string SteppedText(std::string_view text, double delta, FieldKind kind, FieldRange range,
                        std::string_view decimalSeparator);

// The text a field shows after it lost focus, or nothing when it keeps its text. A decimal
// field always rewrites its text in its number format; a whole-number field only when its
// value was out of range. Neither stays empty.
std::optional<std::string> TextAfterFocusOut(std::string_view text, FieldKind kind,
                                             FieldRange range,
                                             std::string_view decimalSeparator);

}  // namespace numtext
