// Number texts of the manual panel and the jog lines built from them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "JogLine.h"
#include "NumberText.h"
#include "ProcessLocale.h"

namespace {

using numtext::FieldKind;
using numtext::FieldRange;

struct FloatCase {
    double value;
    const char* comma;  // with "," as the separator
};

TEST(FloatToText, ShortestFifteenDigitsPlainOrExponent) {
    const FloatCase cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {10, "10"},
        {1000, "1000"},
        {0.25, "0,25"},
        {-0.25, "-0,25"},
        {0.1 + 0.2, "0,3"},
        {1.0 / 3, "0,333333333333333"},
        {12345.678, "12345,678"},
        {0.0001, "0,0001"},
        {0.00009999999999999999, "0,0001"},  // rounds up into the plain range
        {0.00001, "1E-5"},
        {-0.000015, "-1,5E-5"},
        {1e-300, "1E-300"},
        {999999999999999, "999999999999999"},
        {1e15, "1E15"},
        {123456789012345678.0, "1,23456789012346E17"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto& c : cases) EXPECT_EQ(numtext::FloatToText(c.value, ","), c.comma) << c.value;
    EXPECT_EQ(numtext::FloatToText(-1.5e-7, "."), "-1.5E-7");
}

struct ParseCase {
    const char* text;
    const char* separator;
    bool whole;
    std::optional<double> value;
};

TEST(ParseNumber, LocaleSeparatorOnlyAndNothingElse) {
    const ParseCase cases[] = {
        {"0,25", ",", false, 0.25},   {"0.25", ",", false, std::nullopt},
        {"0.25", ".", false, 0.25},   {",5", ",", false, 0.5},
        {"5,", ",", false, 5.0},      {" -12 ", ",", true, -12.0},
        {"+3", ",", true, 3.0},       {"12,5", ",", true, std::nullopt},
        {"1E-5", ",", false, 1e-5},   {"2e3", ".", false, 2000.0},
        {"1e", ",", false, std::nullopt}, {"1E5", ",", true, std::nullopt},
        {"", ",", false, std::nullopt},   {"-", ",", false, std::nullopt},
        {",", ",", false, std::nullopt},  {"abc", ",", false, std::nullopt},
        {"1 000", ",", true, std::nullopt}, {"--1", ",", true, std::nullopt},
        {"1e400", ".", false, std::nullopt}, {"0\xd9\xab" "5", "\xd9\xab", false, 0.5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numtext::ParseNumber(c.text, c.separator, c.whole), c.value) << c.text;
}

constexpr FieldRange kRange{0, 1000};

TEST(FieldRules, StepsStayInRangeAndKeepFifteenDigits) {
    std::string text = "0";
    for (int i = 0; i < 10; ++i) text = numtext::SteppedText(text, 0.01, FieldKind::Decimal, kRange, ",");
    EXPECT_EQ(text, "0,1");

    struct Case {
        const char* text;
        double delta;
        FieldKind kind;
        const char* after;
    };
    const Case cases[] = {
        {"995", 10, FieldKind::Whole, "1000"},  {"5", -10, FieldKind::Whole, "0"},
        {"abc", 10, FieldKind::Whole, "10"},    {"999,95", 0.1, FieldKind::Decimal, "1000"},
        {"0", -0.01, FieldKind::Decimal, "0"},  {"0,3", 0.1, FieldKind::Decimal, "0,4"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numtext::SteppedText(c.text, c.delta, c.kind, kRange, ","), c.after) << c.text;
}

TEST(FieldRules, FocusOutRewritesDecimalsAlwaysAndWholesOnlyOutOfRange) {
    struct Case {
        const char* text;
        FieldKind kind;
        std::optional<std::string> after;
    };
    const Case cases[] = {
        {"abc", FieldKind::Decimal, "0"},    {"1500", FieldKind::Decimal, "1000"},
        {"0,50", FieldKind::Decimal, "0,5"}, {"", FieldKind::Decimal, "0"},
        {"-3", FieldKind::Decimal, "0"},     {"abc", FieldKind::Whole, std::nullopt},
        {"0100", FieldKind::Whole, std::nullopt}, {"", FieldKind::Whole, "0"},
        {"  ", FieldKind::Whole, "0"},       {"1500", FieldKind::Whole, "1000"},
        {"-5", FieldKind::Whole, "0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numtext::TextAfterFocusOut(c.text, c.kind, kRange, ","), c.after) << c.text;
}

TEST(JogLines, AxisWordsFeedAndDecimalPointInEveryLocale) {
    struct Case {
        const char* separator;
        const char* axis;
        double distance;
        double feed;
        const char* line;
    };
    const Case xy[] = {
        {",", " G1 X", 10, 100, "G91 F100 G1 X10"},
        {".", " G1 X", 10, 100, "G91 F100 G1 X10"},
        {",", " G1 Y-", 0.25, 300, "G91 F300 G1 Y-0.25"},
        {".", " G1 Y-", 0.25, 300, "G91 F300 G1 Y-0.25"},
        {",", " G1 X-", 0.00001, 100, "G91 F100 G1 X-1E-5"},
        {",", " G1 Y", 1.5e15, 1000, "G91 F1000 G1 Y1.5E15"},
        {",", " G1 X", 0, 0, "G91 F0 G1 X0"},
        {"\xd9\xab", " G1 X", 0.5, 100, "G91 F100 G1 X0.5"},  // Arabic separator
    };
    // The C library's locale must not matter: a German user's process has a decimal comma.
    for (const char* process : {"C.UTF-8", testsupport::kGermanLocale}) {
        testsupport::ProcessLocaleScope scope(process);
        ASSERT_TRUE(scope.Switched()) << process;
        for (const auto& c : xy)
            EXPECT_EQ(jog::XYLine(c.axis, c.distance, c.feed, c.separator), c.line)
                << process << ": " << c.line;
        EXPECT_EQ(jog::ZLine("G91 G1 Z-", 0.5, ","), "G91 G1 Z-0.5") << process;
        EXPECT_EQ(jog::ZLine("G91 G1 Z", 2.5e-7, "."), "G91 G1 Z2.5E-7") << process;
    }
}

}  // namespace
