// The toolpath's plain rules: controller lines, the file's lines, the model's extent and
// levels of detail, and the time estimate against the trapezoid formula.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ControllerText.h"
#include "Estimate.h"
#include "TimeEstimate.h"
#include "PathLoad.h"
#include "ToolpathModel.h"

namespace {

using toolpath::Edge;
using toolpath::MotionSettings;
using toolpath::Vec3d;

// The German number format for the process, as the console's users run it.
class GermanNumbers : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        german_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }
    std::string saved_;
    bool german_ = false;
};

TEST_F(GermanNumbers, SettingLinesSetOnlyTheMotionSettings) {
    EXPECT_TRUE(german_) << "de_DE.UTF-8 is not generated on this machine";
    struct Case {
        const char* line;
        bool applies;
        double MotionSettings::*scalar;
        int axis;  // for the per-axis settings; -1 for scalars
        double value;
    };
    const Case cases[] = {
        {"$110=750.000\r", true, nullptr, 0, 750.0},
        {"$111=1500.5 (y max rate, mm/min)\r", true, nullptr, 1, 1500.5},
        {"$122=2.250\r", true, nullptr, 12, 2.25},
        {"$11=0.020\r", true, &MotionSettings::junctionDeviation, -1, 0.020},
        {"$12=0.001 (arc tolerance, mm)\r", true, &MotionSettings::arcTolerance, -1, 0.001},
        {"$130=200.000\r", false, nullptr, -1, 0},   // travel: not a motion setting
        {"$110=1,5\r", false, nullptr, -1, 0},       // a decimal comma is not GRBL's
        {"$110=-5\r", false, nullptr, -1, 0},
        {"$110=0\r", false, nullptr, -1, 0},
        {"$110=\r", false, nullptr, -1, 0},
        {"$110=12abc\r", false, nullptr, -1, 0},
        {"$N0=G20\r", false, nullptr, -1, 0},
        {"ok\r", false, nullptr, -1, 0},
        {"$", false, nullptr, -1, 0},
    };
    for (const Case& c : cases) {
        MotionSettings s;
        const MotionSettings before = s;
        EXPECT_EQ(toolpath::ApplySettingLine(c.line, s), c.applies) << c.line;
        if (!c.applies) {
            EXPECT_EQ(s, before) << c.line;
        } else if (c.scalar) {
            EXPECT_DOUBLE_EQ(s.*c.scalar, c.value) << c.line;
        } else if (c.axis >= 10) {
            EXPECT_DOUBLE_EQ(s.accel[c.axis - 10], c.value) << c.line;
        } else {
            EXPECT_DOUBLE_EQ(s.maxRate[c.axis], c.value) << c.line;
        }
    }
}

TEST_F(GermanNumbers, WorkPositionFromBothReportForms) {
    const std::optional<Vec3d> wco = Vec3d{10, 20, 30};
    const std::optional<Vec3d> none;
    struct Case {
        const char* line;
        bool withOffset;
        std::optional<Vec3d> want;
    };
    const Case cases[] = {
        {"<Idle,MPos:5.000,6.000,7.000,WPos:1.500,-2.250,3.000>\r", false, Vec3d{1.5, -2.25, 3}},
        {"<Run|WPos:-1.000,2.000,0.500|FS:500,0>\r", true, Vec3d{-1, 2, 0.5}},
        {"<Idle|MPos:11.000,22.500,30.000|FS:0,0>\r", true, Vec3d{1, 2.5, 0}},
        {"<Idle|MPos:11.000,22.500,30.000|FS:0,0>\r", false, std::nullopt},
        {"<Idle|MPos:1.000,2.000|FS:0,0>\r", true, std::nullopt},
        {"<Idle|WPos:1.0x0,2.0,3.0>\r", true, std::nullopt},
        {"Idle|WPos:1.0,2.0,3.0>\r", true, std::nullopt},
        {"<Idle>\r", true, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = toolpath::WorkPositionOf(c.line, c.withOffset ? wco : none);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << c.line;
        if (got) {
            for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ((*got)[i], (*c.want)[i]) << c.line;
        }
    }
}

TEST_F(GermanNumbers, TextsOfLengthsAndDurations) {
    EXPECT_EQ(toolpath::MmText(12.3456), "12,346");
    EXPECT_EQ(toolpath::MmText(-0.0001), "0,000");
    EXPECT_EQ(toolpath::MmText(-120), "-120,000");
    EXPECT_EQ(toolpath::DurationText(3723.4), "1:02:03");
    EXPECT_EQ(toolpath::DurationText(59.6), "0:01:00");
    EXPECT_EQ(toolpath::DurationText(-3), "0:00:00");
}

TEST(ToolpathLines, SplitAsTheGridSplits) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"G0 X1\r\nG1 Y2\rG1 Z3\nM2\n", {"G0 X1", "G1 Y2", "G1 Z3", "M2"}},
        {"a\n\nb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {std::string("G0 X1\nG1\0 Y2\nG1 Z3", 17), {"G0 X1", "G1"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        std::size_t next = 0;
        toolpath::ForEachLine(c.text, [&](std::string_view line, std::size_t row) {
            EXPECT_EQ(row, next++);
            got.emplace_back(line);
        });
        EXPECT_EQ(got, c.lines) << c.text;
    }
}

// A random walk of short moves with a few far spikes and rapids, `n` pieces.
std::vector<Edge> Wander(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> step(0.0f, 0.05f);
    std::vector<Edge> edges;
    toolpath::Point p{0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) {
        toolpath::Point q = p;
        for (float& c : q) c += step(rng);
        if (i % 50000 == 7) q[i % 3] += (i / 50000 % 2 ? -40.0f : 40.0f);  // a spike out
        edges.push_back(Edge{p, q, std::uint32_t(i + 1), std::uint32_t(i + 1), i % 97 == 0});
        p = q;
    }
    return edges;
}

TEST(ToolpathModel, ExtentsOfAKnownPath) {
    const std::vector<Edge> edges = {
        {{0, 0, 5}, {0, 0, -1}, 1, 1, false},
        {{0, 0, -1}, {30, -4, -1}, 2, 2, false},
        {{30, -4, -1}, {12.5f, 20, 3}, 4, 4, true},
    };
    const toolpath::Model model(edges);
    EXPECT_EQ(model.Pieces(), 3u);
    const toolpath::Extents& e = model.Bounds();
    EXPECT_EQ(e.min, (std::array<double, 3>{0, -4, -1}));
    EXPECT_EQ(e.max, (std::array<double, 3>{30, 20, 5}));
    EXPECT_DOUBLE_EQ(e.Span(2), 6.0);
    EXPECT_TRUE(toolpath::Model(std::vector<Edge>{}).Bounds().empty);
}

TEST(ToolpathModel, EveryLevelKeepsTheExtentAndTheRows) {
    const toolpath::Model model(Wander(200000, 3));
    const auto& levels = model.Levels();
    ASSERT_GE(levels.size(), 3u) << "a long dense path must have coarser levels";
    std::size_t previous = levels[0].edges.size() + 1;
    for (const toolpath::Level& level : levels) {
        EXPECT_EQ(toolpath::ExtentsOf(level.edges), model.Bounds()) << "cell " << level.cell;
        EXPECT_LT(level.edges.size(), previous) << "cell " << level.cell;
        previous = level.edges.size();
        // The chunks cover every edge once, in order, and their boxes hold them.
        std::uint32_t next = 0;
        for (const toolpath::Chunk& c : level.chunks) {
            EXPECT_EQ(c.begin, next);
            next = c.end;
            for (std::uint32_t i = c.begin; i < c.end; ++i)
                for (int ax = 0; ax < 3; ++ax) {
                    EXPECT_LE(c.lo[ax], std::min(level.edges[i].a[ax], level.edges[i].b[ax]));
                    EXPECT_GE(c.hi[ax], std::max(level.edges[i].a[ax], level.edges[i].b[ax]));
                }
        }
        EXPECT_EQ(next, level.edges.size());
        // Merged pieces stand for the rows of the pieces they replace.
        for (const Edge& e : level.edges) {
            EXPECT_LE(e.rowFirst, e.rowLast);
            EXPECT_GE(e.rowFirst, 1u);
            EXPECT_LE(e.rowLast, 200000u);
        }
    }
    // Each level is chosen only once a pixel is as large as its grid.
    for (std::size_t i = 1; i < levels.size(); ++i) {
        EXPECT_EQ(&model.LevelFor(levels[i].cell / 2), &levels[i]);
        EXPECT_NE(&model.LevelFor(levels[i].cell / 2 * 0.99), &levels[i]);
    }
    EXPECT_EQ(&model.LevelFor(0.0), &levels[0]);
}

// Time of one move from a stand to a stand: the trapezoid (or triangle) formula.
double Trapezoid(double length, double speed, double accel) {
    const double reach = speed * speed / accel;  // both ramps
    if (length >= reach) return length / speed + speed / accel;
    return 2 * std::sqrt(length / accel);
}

gcode::Segment Move(gcode::Vec3 from, gcode::Vec3 to, double feed, std::size_t row,
                    gcode::Segment::Kind kind = gcode::Segment::Feed) {
    gcode::Segment s;
    s.from = from;
    s.to = to;
    s.feed = feed;
    s.row = row;
    s.kind = kind;
    return s;
}

TEST(ToolpathEstimate, SingleMovesFollowTheTrapezoid) {
    MotionSettings fast;
    fast.maxRate = {3000, 6000, 600};
    fast.accel = {10, 20, 5};
    struct Case {
        const char* what;
        gcode::Segment move;
        double length, speed, accel;
    };
    const Case cases[] = {
        {"cruises", Move({0, 0, 0}, {100, 0, 0}, 600, 0), 100, 10, 10},
        {"never reaches the feed", Move({0, 0, 0}, {2, 0, 0}, 600, 0), 2, 10, 10},
        // Along (0.6, 0.8): X limits the acceleration to 10 / 0.6.
        {"diagonal", Move({0, 0, 0}, {30, 40, 0}, 1200, 0), 50, 20, 10 / 0.6},
        // A rapid runs at the slowest axis' rate along its direction: Z's 600 mm/min.
        {"rapid", Move({0, 0, 0}, {0, 0, -25}, 0, 0, gcode::Segment::Rapid), 25, 10, 5},
        {"feed above the axis rate", Move({5, 5, 5}, {5, 5, 0}, 5000, 0), 5, 10, 5},
    };
    for (const Case& c : cases) {
        const toolpath::TimeEstimate est = toolpath::EstimateTime({c.move}, 1, fast);
        EXPECT_NEAR(est.total, Trapezoid(c.length, c.speed, c.accel), 1e-6) << c.what;
        EXPECT_DOUBLE_EQ(est.Remaining(0), est.total) << c.what;
        EXPECT_DOUBLE_EQ(est.Remaining(1), 0.0) << c.what;
    }
}

TEST(ToolpathEstimate, RowsWithoutMotionAndDwells) {
    // Row 1 moves, row 2 has no motion (a comment), row 3 dwells 2.5 s, row 4 moves back.
    const std::vector<gcode::Segment> program = {
        Move({0, 0, 0}, {100, 0, 0}, 600, 0),
        Move({100, 0, 0}, {100, 0, 0}, 2.5, 2, gcode::Segment::Dwell),
        Move({100, 0, 0}, {0, 0, 0}, 600, 3),
    };
    const toolpath::TimeEstimate est = toolpath::EstimateTime(program, 5, MotionSettings{});
    const double one = Trapezoid(100, 500.0 / 60, 10);  // default rate 500 mm/min
    ASSERT_EQ(est.finishedAt.size(), 6u);
    EXPECT_NEAR(est.finishedAt[1], one, 1e-6);
    EXPECT_DOUBLE_EQ(est.finishedAt[2], est.finishedAt[1]);
    EXPECT_NEAR(est.finishedAt[3], one + 2.5, 1e-6);
    EXPECT_NEAR(est.total, 2 * one + 2.5, 1e-6);
    EXPECT_DOUBLE_EQ(est.finishedAt[5], est.total);
    EXPECT_NEAR(est.Remaining(3), one, 1e-6);
    EXPECT_DOUBLE_EQ(est.Remaining(99), 0.0);
}

TEST(ToolpathEstimate, JunctionsKeepSpeedOnAStraightLine) {
    // Ten pieces of one straight line take the time of the line, not ten stops.
    std::vector<gcode::Segment> pieces;
    for (int i = 0; i < 10; ++i)
        pieces.push_back(Move({i * 10.0, 0, 0}, {i * 10.0 + 10, 0, 0}, 600, std::size_t(i)));
    MotionSettings s;
    s.maxRate = {3000, 3000, 3000};
    const double whole = Trapezoid(100, 10, 10);
    EXPECT_NEAR(toolpath::EstimateTime(pieces, 10, s).total, whole, 1e-6);
}

// The plainest use of the planner: keep it full, wait for it to run dry before a dwell. The
// per-row estimate keeps a book of rows on top; its total must come out the same.
double ReferenceSeconds(const std::vector<gcode::Segment>& segments,
                        const gcode::MachineLimits& limits, std::size_t depth) {
    if (segments.empty()) return 0;
    gcode::Planner planner(&limits, depth);
    planner.SetPosition(segments.front().from);
    double seconds = 0;
    auto runUntil = [&](bool empty) {
        while (empty ? !planner.Empty() : planner.Full()) {
            const double dt = planner.TimeToNextEvent();
            if (dt < 0) break;
            seconds += planner.Step(dt);
        }
    };
    for (const gcode::Segment& seg : segments) {
        if (seg.kind == gcode::Segment::Dwell) {
            runUntil(true);
            seconds += seg.feed;
            continue;
        }
        runUntil(false);
        planner.Push(seg.to, seg.feed, seg.kind == gcode::Segment::Rapid);
    }
    runUntil(true);
    return seconds;
}

TEST(ToolpathEstimate, AgreesWithThePlainPlannerRunOnRealPrograms) {
    // Files with arcs, dwells and rapids, for both planner depths: the same total, and rows
    // that finish in order, the last at the total.
    const char* programs[] = {
        "G21 G90\nG0 X10 Y5\nG1 Z-1 F300\nG2 X20 Y5 I5 J0 F900\nG3 X10 Y5 R5\nG4 P1.5\n"
        "G1 X0 Y0 F1200\nG0 Z5\n",
        "G17 G91\nG1 X0.1 F2000\nG1 X0.1 Y0.05\nG1 X0.1\nG1 Y0.1\nG18 G2 X4 I2 K0\n"
        "G19 G3 Y4 J2 K0\nG90 G0 X0 Y0 Z0\n",
    };
    MotionSettings s;
    s.maxRate = {2000, 1500, 400};
    s.accel = {80, 50, 20};
    for (const char* text : programs)
        for (std::size_t depth : {gcode::Planner::kCapacity, gcode::Planner::kCapacity09}) {
            const gcode::Program p = gcode::InterpretText(text);
            ASSERT_TRUE(p.errors.empty()) << text;
            const toolpath::TimeEstimate est = toolpath::EstimateTime(p.segments, 10, s, depth);
            EXPECT_GT(est.total, 1.0) << text;
            EXPECT_NEAR(est.total, ReferenceSeconds(p.segments, toolpath::LimitsOf(s), depth), 1e-9)
                << text;
            EXPECT_TRUE(std::is_sorted(est.finishedAt.begin(), est.finishedAt.end())) << text;
            EXPECT_DOUBLE_EQ(est.finishedAt.back(), est.total) << text;
        }
}

}  // namespace
