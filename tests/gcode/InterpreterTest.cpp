// The interpreter against GRBL's rules: which status each malformed block gets in each
// version, where the motions of accepted blocks go, how arcs are broken up, and what the
// parser state and parameter reports show.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "ProcessLocale.h"
#include "Estimate.h"
#include "Interpreter.h"
#include "ReferenceLineReader.h"

namespace {

using gcode::Dialect;
using gcode::Interpreter;
using gcode::Motion;
using gcode::Vec3;

constexpr Dialect k09 = Dialect::Grbl09j;
constexpr Dialect k11 = Dialect::Grbl11h;

// A decimal-comma locale for the span of a test, the old one restored after it.
class GermanLocale : public testsupport::ProcessLocaleScope {
public:
    GermanLocale() : ProcessLocaleScope(testsupport::kGermanLocale) {}
    bool Active() const { return Switched(); }
};

// Runs the set-up blocks (each must be accepted), then the block under test.
gcode::Result RunAfter(Interpreter& in, const std::vector<std::string>& setup,
                       const std::string& block) {
    for (const std::string& s : setup) {
        const gcode::Result r = in.Execute(s);
        EXPECT_EQ(r.status, 0) << "set-up block " << s;
    }
    return in.Execute(block);
}

struct StatusCase {
    std::vector<std::string> setup;
    std::string block;
    int status09;
    int status11;
};

TEST(Interpreter, GivesEachMalformedBlockTheFirmwaresStatus) {
    const std::vector<StatusCase> cases = {
        {{}, "G0G1X1", 24, 24}, // two motion commands: the axis words' owner conflicts
        {{}, "G17G18", 21, 21}, // two planes: modal group
        {{}, "M3M5", 21, 21},
        {{}, "G92G0X1", 24, 24},
        {{}, "G1X1", 22, 22}, // no feed yet
        {{}, "G2X1I1", 22, 22},
        {{}, "X1X2", 25, 25},
        {{}, "1", 1, 1},
        {{}, "X", 2, 2},
        {{}, "X1.2.3", 1, 1},
        {{}, "G4", 28, 28},
        {{}, "G1.5X1", 23, 23},
        {{}, "M3.5", 23, 23},
        {{}, "G-0.5", 23, 23},
        {{}, "G38.1Z1", 20, 20},
        {{}, "G43Z1", 20, 20},
        {{}, "G90.1", 20, 20},
        {{}, "G92.2", 20, 20},
        {{}, "M6", 20, 20},
        {{}, "A1", 20, 20},
        {{}, "M7", 0, 20}, // mist coolant only where built in
        {{}, "F-1", 4, 4},
        {{}, "N10000000", 27, 0},  // the versions' line number limits differ
        {{"G80"}, "G92X0", 0, 31}, // 1.1h refuses every axis word under G80
        {{}, "G80X1", 31, 31},
        {{"G93"}, "G0X1", 22, 0}, // 0.9j wants F even for a rapid in inverse time
        {{}, "G10X1", 28, 28},
        {{}, "G10L2P7X1", 29, 29},
        {{}, "G10L3P1X1", 20, 20},
        {{}, "G10L2P1R1X1", 20, 20},
        {{}, "G10L2P1", 26, 26},
        {{}, "G53G2X1I1F100", 30, 30},
        {{}, "G17G2Z1F100", 32, 32},
        {{}, "G2X1Y1R0.1F100", 34, 34},
        {{}, "G2X0Y0R1F100", 33, 33},
        {{}, "G2X1K1F100", 35, 35},
        {{}, "G2X10I1F100", 33, 33}, // the end is not on the circle
        {{}, "G1X1I1F100", 36, 36},
        {{}, "G0R1", 36, 36},
        {{}, "G43.1X1", 37, 37},
        {{}, "G38.2F100", 26, 26},
        {{}, "G38.2Z0F100", 33, 33},
        {{}, "G2X10I5F100", 0, 0},
        {{}, "G49.1", 0, 0}, // read as G49, as the firmware does
        {{}, "G40G61G91.1M1", 0, 0},
    };
    for (const Dialect d : {k09, k11}) {
        for (const StatusCase& c : cases) {
            Interpreter in(d);
            const gcode::Result r = RunAfter(in, c.setup, c.block);
            EXPECT_EQ(r.status, d == k09 ? c.status09 : c.status11)
                << c.block << (d == k09 ? " in 0.9j" : " in 1.1h");
            if (r.status != 0) {
                EXPECT_TRUE(r.motions.empty()) << c.block;
                EXPECT_EQ(in.Position(), (Vec3{})) << c.block << ": a refused block moved";
            }
        }
    }
}

TEST(Interpreter, WritesStatusRepliesAsEachVersionDoes) {
    EXPECT_EQ(gcode::StatusReply(k09, 0), "ok");
    EXPECT_EQ(gcode::StatusReply(k09, 11), "error: Line overflow");
    EXPECT_EQ(gcode::StatusReply(k09, 24), "error: Invalid gcode ID:24");
    EXPECT_EQ(gcode::StatusReply(k09, 21), "error: Modal group violation");
    EXPECT_EQ(gcode::StatusReply(k11, 24), "error:24");
}

struct MoveCase {
    std::vector<std::string> setup;
    std::string block;
    Motion::Kind kind;
    Vec3 target;  // the last motion's, machine mm
    double value; // its feed (mm/min) or dwell seconds
};

TEST(Interpreter, PutsMotionsInMachineCoordinates) {
    const std::vector<MoveCase> cases = {
        {{}, "G0X10Y5", Motion::Rapid, {10, 5, 0}, 0},
        {{"G91G1X1F100"}, "X1", Motion::Feed, {2, 0, 0}, 100},
        {{}, "G20G1X1F10", Motion::Feed, {25.4, 0, 0}, 254},
        {{"G0X10", "G92X0"}, "G0X1", Motion::Rapid, {11, 0, 0}, 0},
        {{"G0X10", "G92X0"}, "G53G0X1", Motion::Rapid, {1, 0, 0}, 0},
        {{"G10L2P2X5Y5"}, "G55G0X0Y0", Motion::Rapid, {5, 5, 0}, 0},
        {{"G0X3", "G10L20P1X0"}, "G0X1", Motion::Rapid, {4, 0, 0}, 0},
        {{"G43.1Z2"}, "G0Z0", Motion::Rapid, {0, 0, 2}, 0},
        {{"G0X7Y8", "G28.1", "G0X0Y0"}, "G28", Motion::Rapid, {7, 8, 0}, 0},
        {{"G0X7Y8", "G30.1", "G0X0Y0"}, "G30Y1", Motion::Rapid, {0, 8, 0}, 0}, // named axes only
        {{}, "G93G1X10F2", Motion::Feed, {10, 0, 0}, 20}, // twice a minute over 10 mm
        {{}, "G4P1.5", Motion::Dwell, {0, 0, 0}, 1.5},
        {{}, "G38.2Z-5F50", Motion::Probe, {0, 0, -5}, 50},
    };
    for (const Dialect d : {k09, k11}) {
        for (const MoveCase& c : cases) {
            Interpreter in(d);
            const gcode::Result r = RunAfter(in, c.setup, c.block);
            ASSERT_EQ(r.status, 0) << c.block;
            ASSERT_FALSE(r.motions.empty()) << c.block;
            const Motion& m = r.motions.back();
            EXPECT_EQ(m.kind, c.kind) << c.block;
            for (std::size_t i = 0; i < 3; ++i)
                EXPECT_NEAR(m.target[i], c.target[i], 1e-9) << c.block;
            EXPECT_NEAR(c.kind == Motion::Dwell ? m.seconds : m.feed, c.value, 1e-9) << c.block;
        }
    }
}

struct ArcCase {
    std::string block;
    std::size_t segments; // GRBL's count for the default tolerance of 0.002 mm
    Vec3 center;
    std::size_t axis0, axis1, linear;
    Vec3 end;
};

// Every segment end lies on the circle; the count follows the chord tolerance; a helix climbs
// evenly; the last segment ends exactly on the programmed end.
TEST(Interpreter, BreaksArcsIntoGrblsSegments) {
    const std::vector<ArcCase> cases = {
        {"G2X10I5F100", 55, {5, 0, 0}, 0, 1, 2, {10, 0, 0}},
        {"G2X0I5F100", 111, {5, 0, 0}, 0, 1, 2, {0, 0, 0}},     // full circle
        {"G3X0Z-2I5F100", 111, {5, 0, 0}, 0, 1, 2, {0, 0, -2}}, // helix
        {"G2X5Y5R5F100", 27, {5, 0, 0}, 0, 1, 2, {5, 5, 0}},
        {"G2X5Y5R-5F100", 83, {0, 5, 0}, 0, 1, 2, {5, 5, 0}}, // the long way round
        {"G18G2X10K0I5F100", 55, {5, 0, 0}, 2, 0, 1, {10, 0, 0}},
        {"G19G3Y10J5F100", 55, {0, 5, 0}, 1, 2, 0, {0, 10, 0}},
    };
    for (const ArcCase& c : cases) {
        Interpreter in(k11);
        const gcode::Result r = in.Execute(c.block);
        ASSERT_EQ(r.status, 0) << c.block;
        ASSERT_EQ(r.motions.size(), c.segments) << c.block;
        double lastLinear = 0;
        for (std::size_t i = 0; i < r.motions.size(); ++i) {
            const Motion& m = r.motions[i];
            EXPECT_TRUE(m.arc);
            EXPECT_EQ(m.feed, 100);
            const double radius = std::hypot(m.target[c.axis0] - c.center[c.axis0],
                                             m.target[c.axis1] - c.center[c.axis1]);
            EXPECT_NEAR(radius, 5, 1e-9) << c.block << " segment " << i;
            const double climb = m.target[c.linear] - lastLinear;
            EXPECT_NEAR(climb, (c.end[c.linear]) / static_cast<double>(c.segments), 1e-9)
                << c.block;
            lastLinear = m.target[c.linear];
        }
        EXPECT_EQ(r.motions.back().target, c.end) << c.block;
        EXPECT_EQ(in.Position(), c.end) << c.block;
    }
    // Clockwise in XY from the left of the centre runs through the upper half.
    Interpreter in(k11);
    const gcode::Result r = in.Execute("G2X10I5F100");
    EXPECT_GT(r.motions[27].target[1], 4.9);
    // A coarser tolerance gives fewer, longer segments.
    Interpreter coarse(k11, {0.1, false});
    EXPECT_EQ(coarse.Execute("G2X10I5F100").motions.size(), 7u);
}

struct ReportCase {
    Dialect dialect;
    std::vector<std::string> blocks;
    std::string state;
};

TEST(Interpreter, ReportsTheParserState) {
    const std::vector<ReportCase> cases = {
        {k09, {}, "[G0 G54 G17 G21 G90 G94 M0 M5 M9 T0 F0. S0.]"},
        {k11, {}, "[GC:G0 G54 G17 G21 G90 G94 M5 M9 T0 F0 S0]"},
        {k11,
         {"G20G91G18G56G93", "M4S1200T3G1F2"},
         "[GC:G1 G56 G18 G20 G91 G93 M4 M9 T3 F2 S1200]"},
        {k11, {"G21F100M8", "G38.3Z-1"}, "[GC:G38.3 G54 G17 G21 G90 G94 M5 M8 T0 F100 S0]"},
        {k09, {"M3S500M7G80"}, "[G80 G54 G17 G21 G90 G94 M0 M3 M7 T0 F0. S500.]"},
        // F is kept in mm/min; the tool number only while named (1.1h).
        {k11, {"G20F10T2", "G0X1"}, "[GC:G0 G54 G17 G20 G90 G94 M5 M9 T0 F254 S0]"},
        // A program end resets some modes and keeps units, F and S.
        {k11,
         {"G20G91G55G2X2I1F10M3S100M8", "M30"},
         "[GC:G1 G54 G17 G20 G90 G94 M5 M9 T0 F254 S100]"},
    };
    for (const ReportCase& c : cases) {
        Interpreter in(c.dialect);
        for (const std::string& b : c.blocks)
            ASSERT_EQ(in.Execute(b).status, 0) << b;
        EXPECT_EQ(in.ParserStateReport(), c.state);
    }
}

TEST(Interpreter, KeepsOffsetsAcrossAResetButNotG92) {
    Interpreter in(k11);
    for (const char* b : {"G10L2P2X1Y2Z3", "G0X4", "G28.1", "G92X1", "G43.1Z1.5"})
        ASSERT_EQ(in.Execute(b).status, 0) << b;
    EXPECT_EQ(in.ParametersReport(),
              "[G54:0.000,0.000,0.000]\r\n[G55:1.000,2.000,3.000]\r\n[G56:0.000,0.000,0.000]\r\n"
              "[G57:0.000,0.000,0.000]\r\n[G58:0.000,0.000,0.000]\r\n[G59:0.000,0.000,0.000]\r\n"
              "[G28:4.000,0.000,0.000]\r\n[G30:0.000,0.000,0.000]\r\n[G92:3.000,0.000,0.000]\r\n"
              "[TLO:1.500]\r\n[PRB:0.000,0.000,0.000:0]\r\n");
    EXPECT_EQ(in.WorkOffset(), (Vec3{3, 0, 1.5}));
    in.Reset();
    EXPECT_EQ(in.WorkOffset(), (Vec3{}));
    EXPECT_EQ(in.GetOffsets().coordSystems[1], (Vec3{1, 2, 3}));
    EXPECT_EQ(in.GetOffsets().g28, (Vec3{4, 0, 0}));
}

TEST(Interpreter, ReadsNumbersAsTheFirmwareDoesInAnyLocale) {
    const GermanLocale german;
    ASSERT_TRUE(german.Active()) << "the de_DE.UTF-8 locale is not generated here";
    struct Num {
        const char* text;
        bool ok;
        double value;
        std::size_t end;
    };
    const std::vector<Num> nums = {
        {"1.5", true, 1.5, 3},
        {"-.5X", true, -0.5, 3},
        {"+2", true, 2, 2},
        {"1.2.3", true, 1.2, 3},
        {".", false, 0, 0},
        {"-", false, 0, 0},
        {"1e5", true, 1, 1},
        {"123456789", true, 123456780, 9},
        {"0.123456789", true, 0.1234567, 11},
        {"1000000000000000000000000000000000000", true, 1e36, 37},
        {"1000000000000000000000000000000000000000", false, 0, 0}, // beyond a float
    };
    for (const Num& n : nums) {
        std::size_t pos = 0;
        double v = 0;
        EXPECT_EQ(gcode::ReadNumber(n.text, pos, v), n.ok) << n.text;
        EXPECT_EQ(pos, n.end) << n.text;
        if (n.ok) {
            EXPECT_NEAR(v, n.value, 1e-9 * std::max(1.0, n.value)) << n.text;
        }
    }
    EXPECT_EQ(gcode::FormatNumber(-0.0004, 3), "0.000");
    EXPECT_EQ(gcode::FormatNumber(-1.2345, 3), "-1.235");
    EXPECT_EQ(gcode::FormatNumber(25.0, 0, true), "25.");
    EXPECT_EQ(gcode::FormatNumber(1e20, 0),
              "100000000000000000000"); // beyond whole-number arithmetic
}

// The tuned number and line readers against their plain references, bit for bit, over every
// shape a number takes (sign, 0..12 digits before and after the point, leading zeros, what
// follows it) and over lines of random bytes rich in the characters the line reader treats
// specially, long enough to overflow the line buffer.
TEST(Interpreter, TunedReadersAnswerAsTheirReferences) {
    std::uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const auto digits = [&](std::size_t count, int style) {
        std::string d;
        for (std::size_t i = 0; i < count; ++i)
            d += style == 0            ? '9'
                 : style == 1 && i < 4 ? '0'
                                       : static_cast<char>('0' + next() % 10);
        return d;
    };
    std::size_t numbers = 0;
    for (const char* sign : {"", "-", "+"})
        for (std::size_t whole = 0; whole <= 12; ++whole)
            for (int point = 0; point < 2; ++point)
                for (std::size_t fraction = 0; fraction <= (point ? 12u : 0u); ++fraction)
                    for (int style = 0; style < 3; ++style)
                        for (const char* tail : {"", "X", ".5", "e3"}) {
                            const std::string text = std::string("G") + sign +
                                                     digits(whole, style) + (point ? "." : "") +
                                                     digits(fraction, style) + tail;
                            std::size_t pos = 1, refPos = 1;
                            double v = -7, ref = -7;
                            const bool ok = gcode::ReadNumber(text, pos, v);
                            ASSERT_EQ(ok, gcode_reference::ReadNumber(text, refPos, ref)) << text;
                            EXPECT_EQ(pos, refPos) << text;
                            EXPECT_EQ(std::bit_cast<std::uint64_t>(v),
                                      std::bit_cast<std::uint64_t>(ref))
                                << text;
                            numbers += ok;
                        }
    EXPECT_GT(numbers, 4000u); // most shapes hold a number

    // Every other line without comments, so that many reach the buffer's end.
    const std::string alphabets[] = {"gxyGXY0123456789.- \t/%\x01\x7f\xe4",
                                     "gxyGXY0123456789.- \t()/;%\x01\x7f\xe4"};
    std::size_t overflowing = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string& alphabet = alphabets[i % 2];
        std::string raw(next() % 200, ' ');
        for (char& c : raw)
            c = alphabet[next() % alphabet.size()];
        std::string out = "stale", ref;
        const bool ok = gcode::CleanLine(raw, out);
        ASSERT_EQ(ok, gcode_reference::CleanLine(raw, ref)) << raw;
        EXPECT_EQ(out, ref) << raw;
        overflowing += !ok;
    }
    EXPECT_GT(overflowing, 500u);
    EXPECT_LT(overflowing, 1500u); // and the lines with comments mostly fit
}

// A raw line run in place must answer exactly as the line reader's cleaned block does, in
// status, motions (bit for bit) and the state left behind; an empty line does nothing. Lines
// are built from real words with spaces, tabs, comments, block deletes and lower case put
// between and inside them, some longer than the line buffer.
TEST(Interpreter, RunsRawLinesAsTheLineReaderHandsThemOn) {
    std::uint32_t seed = 777;
    const auto next = [&seed](std::uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    const char* const commands[] = {"G0",  "G1",  "G2", "G3",  "G17", "G18", "G90",  "G91",
                                    "G20", "G21", "G4", "G92", "M3",  "M5",  "G1.5", "G38.2"};
    const char* const letters = "XYZIJRFSPNxy";
    const char* const noise[] = {" ", "  ", "\t", "(c)", "/", ";end", "("};
    for (const Dialect dialect : {k09, k11}) {
        Interpreter inPlace(dialect), cleaned(dialect);
        gcode::Result got, want;
        std::string clean;
        std::size_t accepted = 0, plainAccepted = 0, overflows = 0;
        for (int i = 0; i < 10000; ++i) {
            const bool plain = next(2) == 0; // only spaces between whole words
            std::string line;
            const auto sep = [&](std::uint32_t oneIn) {
                if (next(oneIn) == 0) line += plain ? " " : noise[next(std::size(noise))];
            };
            for (std::uint32_t w = 0, words = 1 + next(plain ? 5 : 40); w < words; ++w) {
                sep(2);
                if (next(3) == 0) {
                    for (const char* c = commands[next(std::size(commands))]; *c; ++c) {
                        if (!plain && c[0] != 'G' && c[0] != 'M') sep(6);
                        line += *c;
                    }
                    continue;
                }
                line += letters[next(12)];
                if (!plain) sep(8);
                if (next(4) == 0) line += '-';
                for (std::uint32_t d = next(4); d > 0; --d) {
                    line += static_cast<char>('0' + next(10));
                    if (!plain) sep(10);
                }
                if (next(2) == 0) line += '.';
                for (std::uint32_t d = next(4); d > 0; --d)
                    line += static_cast<char>('0' + next(10));
            }
            inPlace.ExecuteLine(line, got);
            if (!gcode::CleanLine(line, clean)) {
                want = {};
                want.status = gcode::kLineOverflow;
                ++overflows;
            } else if (clean.empty()) {
                want = {};
            } else {
                cleaned.Execute(clean, want);
            }
            ASSERT_EQ(got.status, want.status) << line;
            ASSERT_EQ(got.motions.size(), want.motions.size()) << line;
            for (std::size_t k = 0; k < got.motions.size(); ++k) {
                const Motion &a = got.motions[k], &b = want.motions[k];
                EXPECT_TRUE(a.kind == b.kind && a.target == b.target && a.feed == b.feed &&
                            a.seconds == b.seconds && a.arc == b.arc)
                    << line << " motion " << k;
            }
            EXPECT_EQ(got.flow, want.flow) << line;
            EXPECT_EQ(got.offsetsChanged, want.offsetsChanged) << line;
            EXPECT_EQ(got.spindleChanged, want.spindleChanged) << line;
            ASSERT_EQ(inPlace.Position(), cleaned.Position()) << line;
            ASSERT_EQ(inPlace.ParserStateReport(), cleaned.ParserStateReport()) << line;
            ASSERT_EQ(inPlace.ParametersReport(), cleaned.ParametersReport()) << line;
            accepted += got.status == gcode::kOk;
            plainAccepted += plain && got.status == gcode::kOk && !got.motions.empty();
        }
        // The lines reach deep into the interpreter, by both roads.
        EXPECT_GT(accepted, 1000u);
        EXPECT_GT(plainAccepted, 300u);
        EXPECT_GT(overflows, 40u);
    }
}

// A CAM-style file: rows map to segments, refused lines are listed with their row and produce
// nothing, and the path ends where the file leaves the tool.
TEST(Interpreter, RunsAFileIntoSegmentsWithTheirRows) {
    const std::string text =
        "%\r\n(header)\r\nG21 G90 G17\r\nG0 Z5\r\nG0 X0 Y0\r\nG1 Z-1 F100 ; plunge\r\n"
        "G2 X10 Y0 I5 J0 F300\r\nG1 X10 Y-5\r\nG4 P0.5\r\nG3 X0 Y-5 R4\r\nG0 Z5\r\nM30";
    const gcode::Program p = gcode::InterpretText(text);
    ASSERT_EQ(p.errors.size(), 2u); // "%" and "G3 ... R5" whose chord exceeds the diameter
    EXPECT_EQ(p.errors[0].row, 0u);
    EXPECT_EQ(p.errors[0].status, gcode::kExpectedCommandLetter);
    EXPECT_EQ(p.errors[1].row, 9u);
    EXPECT_EQ(p.errors[1].status, gcode::kArcRadiusError);
    ASSERT_FALSE(p.segments.empty());
    std::size_t arcs = 0;
    for (std::size_t i = 0; i < p.segments.size(); ++i) {
        const gcode::Segment& s = p.segments[i];
        if (i > 0) {
            EXPECT_EQ(s.from, p.segments[i - 1].to) << "segment " << i;
        }
        if (s.kind == gcode::Segment::Arc) {
            ++arcs;
            EXPECT_EQ(s.row, 6u);
        }
    }
    EXPECT_EQ(arcs, 55u);
    EXPECT_EQ(p.segments.back().row, 10u);
    EXPECT_EQ(p.segments.back().to, (Vec3{10, -5, 5}));
    EXPECT_EQ(p.segments[p.segments.size() - 2].kind, gcode::Segment::Dwell);
}

} // namespace

namespace {

// The estimate of single moves against the trapezoid and triangle formulas, and a dwell and a
// second move on top.
TEST(Estimate, FollowsTheTrapezoidOfEachMove) {
    const gcode::MachineLimits limits; // 500 mm/min, 10 mm/s^2 on every axis
    struct Case {
        std::string text;
        double seconds;
    };
    const std::vector<Case> cases = {
        // 10 mm at 300 mm/min: 0.5 s ramps of 1.25 mm each, 7.5 mm at 5 mm/s.
        {"G1 X10 F300", 0.5 + 0.5 + 7.5 / 5},
        // 1 mm at 600 mm/min (capped at 500): a triangle, peak sqrt(10 * 1) mm/s.
        {"G1 X1 F600", 2 * std::sqrt(10.0) / 10},
        // A rapid runs at the maximum rate: 8.33 mm/s, ramps of 0.833 s and 3.47 mm each.
        {"G0 X20",
         2 * (500.0 / 60) / 10 + (20 - 2 * (500.0 / 60) * (500.0 / 60) / 20) / (500.0 / 60)},
        // Back and forth: a reversal stops; and the dwell adds.
        {"G1 X10 F300\nG4 P1.5\nG1 X0", 2 * (1.0 + 7.5 / 5) + 1.5},
    };
    for (const Case& c : cases) {
        const gcode::Program p = gcode::InterpretText(c.text);
        ASSERT_TRUE(p.errors.empty()) << c.text;
        EXPECT_NEAR(gcode::EstimateSeconds(p.segments, limits), c.seconds, 1e-6) << c.text;
    }
}

} // namespace
