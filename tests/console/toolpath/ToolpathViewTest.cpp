// The toolpath view, offscreen: a known path drawn and read back by a few pixels.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdlib>

#include "QtTestSupport.h"
#include "ToolpathView.h"

namespace {

using toolpath::Edge;

class ToolpathViewTest : public ::testing::Test {
protected:
    // A 100 mm square of feeds (rows 1-4), then a rapid back across its diagonal (row 5).
    void SetUp() override {
        view_.resize(240, 240);
        view_.SetModel(std::make_shared<const toolpath::Model>(std::vector<Edge>{
            {{0, 0, 0}, {100, 0, 0}, 1, 1, false},
            {{100, 0, 0}, {100, 100, 0}, 2, 2, false},
            {{100, 100, 0}, {0, 100, 0}, 3, 3, false},
            {{0, 100, 0}, {0, 0, 0}, 4, 4, false},
            {{0, 0, 0}, {100, 100, 0}, 5, 5, true},
        }));
        view_.SetFacing(TToolpathView::Facing::Top);
    }
    QImage Frame() {
        QImage image(view_.size(), QImage::Format_ARGB32);
        QPainter painter(&image);
        view_.Draw(painter, image.size());
        return image;
    }
    // Whether, within two pixels of where `mm` lands, `colour` shows more strongly than any
    // other colour of the path. Lines are antialiased: a pixel is the white ground blended
    // with a line's colour, so each pixel is read as "how much of which colour".
    bool ColourNear(const QImage& image, std::array<double, 3> mm, QRgb colour) {
        const QRgb kinds[] = {TToolpathView::kFeed, TToolpathView::kRapid,
                              TToolpathView::kDoneFeed, TToolpathView::kDoneRapid,
                              TToolpathView::kTool};
        double strongest = 0;
        QRgb strongestKind = 0;
        const QPoint at = view_.Project(mm).toPoint();
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                const QPoint p = at + QPoint(dx, dy);
                if (!image.rect().contains(p)) continue;
                const QRgb px = image.pixel(p);
                const double q[3] = {qRed(px) - 255.0, qGreen(px) - 255.0, qBlue(px) - 255.0};
                for (QRgb kind : kinds) {
                    const double d[3] = {qRed(kind) - 255.0, qGreen(kind) - 255.0,
                                         qBlue(kind) - 255.0};
                    const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
                    const double share = (q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd;
                    double miss = 0;
                    for (int i = 0; i < 3; ++i) miss += std::pow(q[i] - share * d[i], 2);
                    // A blend of this colour alone, at least a third of it.
                    if (miss < 200 && share > 0.33 && share > strongest) {
                        strongest = share;
                        strongestKind = kind;
                    }
                }
            }
        return strongestKind == colour;
    }

    TToolpathView view_;
};

TEST_F(ToolpathViewTest, FeedsRapidsDoneRowsAndTheTool) {
    struct Case {
        const char* what;
        std::uint32_t rowsDone;
        std::array<double, 3> at;
        QRgb colour;
    };
    const Case cases[] = {
        {"bottom edge to come", 0, {50, 0, 0}, TToolpathView::kFeed},
        {"top edge to come", 0, {50, 100, 0}, TToolpathView::kFeed},
        {"diagonal rapid", 0, {70, 70, 0}, TToolpathView::kRapid},
        {"bottom edge done", 2, {50, 0, 0}, TToolpathView::kDoneFeed},
        {"right edge done", 2, {100, 50, 0}, TToolpathView::kDoneFeed},
        {"top edge still to come", 2, {50, 100, 0}, TToolpathView::kFeed},
        {"rapid done", 5, {70, 70, 0}, TToolpathView::kDoneRapid},
    };
    for (const Case& c : cases) {
        view_.SetRowsDone(c.rowsDone);
        const QImage image = Frame();
        EXPECT_TRUE(ColourNear(image, c.at, c.colour)) << c.what;
        // Inside the square, away from every line, only the background shows.
        EXPECT_EQ(image.pixel(view_.Project({25, 75, 0}).toPoint()), TToolpathView::kBackground)
            << c.what;
    }
    // Fitted: the whole square is on screen, with its corners inside the frame.
    for (std::array<double, 3> corner : {std::array<double, 3>{0, 0, 0}, {100, 100, 0}})
        EXPECT_TRUE(QRect(QPoint(0, 0), view_.size()).contains(view_.Project(corner).toPoint()));

    EXPECT_FALSE(ColourNear(Frame(), {30, 60, 0}, TToolpathView::kTool));
    view_.SetToolPosition(std::array<double, 3>{30, 60, 0});
    EXPECT_TRUE(ColourNear(Frame(), {30, 60, 0}, TToolpathView::kTool));
}

TEST_F(ToolpathViewTest, ZoomKeepsThePointUnderTheCursorAndViewsTurn) {
    const QPointF cursor = view_.Project({100, 0, 0});
    const double before = view_.Scale();
    view_.ZoomAt(cursor, 4.0);
    EXPECT_DOUBLE_EQ(view_.Scale(), before * 4);
    EXPECT_NEAR((view_.Project({100, 0, 0}) - cursor).manhattanLength(), 0.0, 1e-6);
    view_.Pan(QPointF(10, -5));
    EXPECT_NEAR((view_.Project({100, 0, 0}) - cursor - QPointF(10, -5)).manhattanLength(), 0.0,
                1e-6);

    // From the front, Z is up the screen and Y points away; from the side, Y runs across.
    view_.SetFacing(TToolpathView::Facing::Front);
    EXPECT_LT(view_.Project({0, 0, 10}).y(), view_.Project({0, 0, 0}).y());
    EXPECT_NEAR(view_.Project({0, 50, 0}).x(), view_.Project({0, 0, 0}).x(), 1e-9);
    view_.SetFacing(TToolpathView::Facing::Side);
    EXPECT_NEAR(view_.Project({50, 0, 0}).x(), view_.Project({0, 0, 0}).x(), 1e-9);
    EXPECT_GT(view_.Project({0, 50, 0}).x(), view_.Project({0, 0, 0}).x());
    // Turning the oblique view moves the far corner across the screen.
    view_.SetFacing(TToolpathView::Facing::Oblique);
    const QPointF far = view_.Project({100, 100, 0});
    view_.Turn(40, 0);
    EXPECT_GT((view_.Project({100, 100, 0}) - far).manhattanLength(), 5.0);
}

}  // namespace
