// The toolpath from G-code text, and the window that reads a file on a worker thread.

#include <gtest/gtest.h>

#include <QLabel>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "PathLoad.h"
#include "QtTestSupport.h"
#include "ToolpathWindow.h"

namespace {

// Rows 1..8 as the grid numbers them; a comment row, an arc, a refused line, a dwell.
const char kFile[] =
    "G21 G90 (millimetres)\r\n"
    "G0 Z5\r\n"
    "G0 X10 Y0\n"
    "G1 Z-2 F200 ; plunge\n"
    "G3 X0 Y10 I-10 J0 F600\r"
    "G1 X-3 Q7\n"
    "G4 P0.5\n"
    "G0 Z5\n";

TEST(ToolpathFile, PathFromASmallFile) {
    const toolpath::LoadedPath p =
        toolpath::LoadPath(kFile, gcode::Dialect::Grbl11h, toolpath::MotionSettings{});
    EXPECT_EQ(p.rows, 8u);
    ASSERT_EQ(p.errors.size(), 1u);
    EXPECT_EQ(p.errors[0].row, 6u);  // the unknown word Q
    ASSERT_TRUE(p.model);
    const auto& edges = p.model->Levels()[0].edges;
    // Rapid up, rapid across, the plunge, then the quarter circle in many short pieces.
    ASSERT_GT(edges.size(), 20u);
    struct Expect {
        std::size_t index;
        toolpath::Point a, b;
        std::uint32_t row;
        bool rapid;
    };
    const Expect expected[] = {
        {0, {0, 0, 0}, {0, 0, 5}, 2, true},
        {1, {0, 0, 5}, {10, 0, 5}, 3, true},
        {2, {10, 0, 5}, {10, 0, -2}, 4, false},
        {edges.size() - 1, {0, 10, -2}, {0, 10, 5}, 8, true},
    };
    for (const Expect& e : expected) {
        EXPECT_EQ(edges[e.index].a, e.a) << e.index;
        EXPECT_EQ(edges[e.index].b, e.b) << e.index;
        EXPECT_EQ(edges[e.index].rowFirst, e.row) << e.index;
        EXPECT_EQ(edges[e.index].rapid, e.rapid) << e.index;
    }
    // The arc: every piece of row 5 ends on the circle of radius 10 about the origin, and
    // there are as many as GRBL makes for a quarter circle at the arc tolerance of 0.002 mm.
    std::size_t arcPieces = 0;
    for (const toolpath::Edge& e : edges) {
        if (e.rowFirst != 5) continue;
        ++arcPieces;
        EXPECT_NEAR(std::hypot(e.b[0], e.b[1]), 10.0, 1e-3);
    }
    const double quarter = std::acos(-1.0) / 2;
    EXPECT_EQ(arcPieces, std::size_t(std::floor(0.5 * quarter * 10 /
                                                std::sqrt(0.002 * (2 * 10 - 0.002)))));
    const toolpath::Extents& x = p.model->Bounds();
    EXPECT_EQ(x.min, (std::array<double, 3>{0, 0, -2}));
    EXPECT_EQ(x.max, (std::array<double, 3>{10, 10, 5}));
    // The dwell counts in the time, and the rows after the last move add nothing.
    EXPECT_GT(p.estimate.finishedAt[7] - p.estimate.finishedAt[6], 0.5 - 1e-9);
    EXPECT_DOUBLE_EQ(p.estimate.Remaining(8), 0.0);
}

class ToolpathWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QStandardPaths::setTestModeEnabled(true);  // remembered geometry goes elsewhere
    }
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("toolpath-test-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "part.nc").string();
        std::ofstream(file_, std::ios::binary) << kFile;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    // Waits (in the event loop, 10 s at most) for the window's next loaded path.
    bool WaitLoaded(TToolpathWindow& w) {
        bool loaded = false;
        w.OnLoaded = [&] { loaded = true; };
        const bool ok = controlstest::ServeQtUntil([&] { return loaded; });
        w.OnLoaded = nullptr;
        return ok;
    }
    QString Text(TToolpathWindow& w, const char* name) {
        return w.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    std::filesystem::path dir_;
    std::string file_;
};

TEST_F(ToolpathWindowTest, ShowsExtentAndTimeAndFollowsSettingsAndProgress) {
    TToolpathWindow w;
    w.LoadFile(file_);
    EXPECT_TRUE(w.Loading());  // the window did not wait for the file
    ASSERT_TRUE(WaitLoaded(w));
    EXPECT_FALSE(w.Loading());
    // Each axis held together by no-break spaces, so a narrow window wraps between axes only.
    EXPECT_EQ(Text(w, "labelToolpathExtents").replace(QChar(0x00A0), QChar('_')).toStdString(),
              "X:_0,000_…_10,000_(10,000_mm)     Y:_0,000_…_10,000_(10,000_mm)     "
              "Z:_-2,000_…_5,000_(7,000_mm)");
    EXPECT_TRUE(Text(w, "labelToolpathFile").contains(QStringLiteral("8 Zeilen")));
    EXPECT_TRUE(Text(w, "labelToolpathFile").contains(QStringLiteral("Zeile 6, error:20")));
    ASSERT_TRUE(w.Estimate());
    const double slow = w.Estimate()->total;
    EXPECT_TRUE(Text(w, "labelToolpathTime").startsWith(QString::fromUtf8("Geschätzte Zeit: 0:0")));
    EXPECT_FALSE(Text(w, "labelToolpathTime").contains(QStringLiteral("Verbleibend")));

    // The controller's `$$` listing: faster axes make the estimate shorter.
    for (const char* line : {"$110=3000.000\r", "$111=3000.000\r", "$112=1000.000\r",
                             "$120=200.000\r", "$121=200.000\r", "$122=200.000\r"})
        w.NoteLine(line, std::nullopt);
    EXPECT_EQ(w.Settings().accel[2], 200.0);
    ASSERT_TRUE(WaitLoaded(w));
    ASSERT_TRUE(w.Estimate());
    EXPECT_LT(w.Estimate()->total, slow * 0.9);

    // A job's progress: remaining time shown; the tool follows the status reports.
    w.SetRowsDone(4);
    EXPECT_DOUBLE_EQ(w.RemainingSeconds(4), w.Estimate()->Remaining(4));
    EXPECT_TRUE(Text(w, "labelToolpathTime").contains(QStringLiteral("Verbleibend: 0:0")));
    w.NoteLine("<Run|MPos:12.000,3.000,0.000|FS:600,0>\r", toolpath::Vec3d{2, 0, 0});
    EXPECT_EQ(w.View()->ToolPosition(), (std::array<double, 3>{10, 3, 0}));
    w.NoteLine("<Idle|MPos:1.000,2.000|FS:0,0>\r", toolpath::Vec3d{2, 0, 0});  // garbled
    EXPECT_EQ(w.View()->ToolPosition(), (std::array<double, 3>{10, 3, 0}));

    // A file that cannot be read says so and draws nothing.
    w.LoadFile((dir_ / "missing.nc").string());
    ASSERT_TRUE(WaitLoaded(w));
    EXPECT_EQ(w.Estimate(), nullptr);
    EXPECT_TRUE(Text(w, "labelToolpathFile").startsWith(QStringLiteral("Datei kann nicht")));
}

TEST_F(ToolpathWindowTest, ALoadCancelledByTheNextOneNeverShows) {
    TToolpathWindow w;
    w.LoadFile((dir_ / "missing.nc").string());
    w.LoadFile(file_);
    ASSERT_TRUE(WaitLoaded(w));
    ASSERT_TRUE(w.Estimate());  // the second file, not the first's error
    EXPECT_EQ(w.View()->Model()->Bounds().max[2], 5.0);
}

TEST_F(ToolpathWindowTest, RemembersWhereItWas) {
    QSettings(QStringLiteral("tarnwick"), QStringLiteral("tarnwick")).clear();
    const QRect placed(140, 90, 640, 480);
    {
        TToolpathWindow w;
        w.show();
        w.setGeometry(placed);
        w.close();
    }
    TToolpathWindow again;
    again.show();
    EXPECT_EQ(again.geometry(), placed);
}

}  // namespace
