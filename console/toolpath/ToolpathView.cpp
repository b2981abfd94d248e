#include "ToolpathView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double kFitMargin = 16;  // pixels around a fitted path
// Antialiasing costs several times more per piece; a frame with this many pieces or more
// draws them plain, where they are dense enough that it does not show.
constexpr std::size_t kSmoothLimit = 20000;
// Pieces that reach no further than this many pixels are set as pixels, not drawn as lines.
constexpr float kDotReach = 3.0f;
constexpr double kMinScale = 1e-3, kMaxScale = 1e5;  // pixels per mm

double Radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

}  // namespace

TToolpathView::TToolpathView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 150);
    setMouseTracking(false);
    setFocusPolicy(Qt::WheelFocus);
    SetFacing(Facing::Oblique);
}

void TToolpathView::SetModel(std::shared_ptr<const toolpath::Model> model) {
    model_ = std::move(model);
    Fit();
}

void TToolpathView::SetRowsDone(std::uint32_t rows) {
    if (rows == rowsDone_) return;
    rowsDone_ = rows;
    update();
}

void TToolpathView::SetToolPosition(std::optional<std::array<double, 3>> position) {
    if (position == tool_) return;
    tool_ = position;
    update();
}

void TToolpathView::SetFacing(Facing facing) {
    switch (facing) {
    case Facing::Top: yaw_ = 0, pitch_ = 0; break;
    case Facing::Front: yaw_ = 0, pitch_ = -90; break;
    case Facing::Side: yaw_ = -90, pitch_ = -90; break;
    case Facing::Oblique: yaw_ = -30, pitch_ = -60; break;
    }
    Fit();
}

TToolpathView::Axes TToolpathView::Rotation() const {
    // Turn about Z by the yaw, then about the screen's horizontal by the pitch.
    const double cy = std::cos(Radians(yaw_)), sy = std::sin(Radians(yaw_));
    const double cp = std::cos(Radians(pitch_)), sp = std::sin(Radians(pitch_));
    Axes r;
    r.u = {cy, -sy, 0};
    r.v = {sy * cp, cy * cp, -sp};
    r.w = {sy * sp, cy * sp, cp};
    return r;
}

QPointF TToolpathView::Project(const std::array<double, 3>& p) const {
    const Axes r = Rotation();
    const double u = r.u[0] * p[0] + r.u[1] * p[1] + r.u[2] * p[2];
    const double v = r.v[0] * p[0] + r.v[1] * p[1] + r.v[2] * p[2];
    return {width() / 2.0 + (u - centre_.x()) * scale_,
            height() / 2.0 - (v - centre_.y()) * scale_};
}

void TToolpathView::Fit() {
    fitted_ = true;
    const Axes r = Rotation();
    double uMin = 0, uMax = 0, vMin = 0, vMax = 0;
    if (model_ && !model_->Bounds().empty) {
        const toolpath::Extents& e = model_->Bounds();
        bool first = true;
        for (int corner = 0; corner < 8; ++corner) {
            const std::array<double, 3> p{corner & 1 ? e.max[0] : e.min[0],
                                          corner & 2 ? e.max[1] : e.min[1],
                                          corner & 4 ? e.max[2] : e.min[2]};
            const double u = r.u[0] * p[0] + r.u[1] * p[1] + r.u[2] * p[2];
            const double v = r.v[0] * p[0] + r.v[1] * p[1] + r.v[2] * p[2];
            uMin = first ? u : std::min(uMin, u);
            uMax = first ? u : std::max(uMax, u);
            vMin = first ? v : std::min(vMin, v);
            vMax = first ? v : std::max(vMax, v);
            first = false;
        }
    } else {
        uMin = vMin = -10, uMax = vMax = 10;  // the work zero and its surroundings
    }
    const double du = std::max(uMax - uMin, 1e-3), dv = std::max(vMax - vMin, 1e-3);
    const double w = std::max(1.0, width() - 2 * kFitMargin);
    const double h = std::max(1.0, height() - 2 * kFitMargin);
    scale_ = std::clamp(std::min(w / du, h / dv), kMinScale, kMaxScale);
    centre_ = {(uMin + uMax) / 2, (vMin + vMax) / 2};
    update();
}

void TToolpathView::ZoomAt(QPointF pixel, double factor) {
    const double next = std::clamp(scale_ * factor, kMinScale, kMaxScale);
    // The point under the cursor stays under it.
    const QPointF d(pixel.x() - width() / 2.0, height() / 2.0 - pixel.y());
    centre_ += d / scale_ - d / next;
    scale_ = next;
    fitted_ = false;
    update();
}

void TToolpathView::Pan(QPointF pixels) {
    centre_ -= QPointF(pixels.x(), -pixels.y()) / scale_;
    fitted_ = false;
    update();
}

void TToolpathView::Turn(double yawDegrees, double pitchDegrees) {
    yaw_ = std::remainder(yaw_ + yawDegrees, 360.0);
    pitch_ = std::clamp(pitch_ + pitchDegrees, -180.0, 0.0);
    if (fitted_) {
        Fit();
        return;
    }
    update();
}

std::size_t TToolpathView::Draw(QPainter& painter, QSize size) const {
    painter.fillRect(QRect(QPoint(0, 0), size), QColor::fromRgb(kBackground));
    const Axes r = Rotation();
    std::size_t drawn = 0;
    if (model_ && model_->Pieces() > 0) {
        const toolpath::Level& level = model_->LevelFor(1.0 / scale_);
        const double s = scale_;
        const double ox = size.width() / 2.0 - centre_.x() * s;
        const double oy = size.height() / 2.0 + centre_.y() * s;
        const float ux = float(r.u[0] * s), uy = float(r.u[1] * s), uz = float(r.u[2] * s);
        const float vx = float(-r.v[0] * s), vy = float(-r.v[1] * s), vz = float(-r.v[2] * s);
        const double halfW = size.width() / 2.0, halfH = size.height() / 2.0;
        // Feeds and rapids still to come, then those done.
        std::array<std::vector<QLineF>, 4> lines;
        const std::array<QRgb, 4> colours{kFeed, kRapid, kDoneFeed, kDoneRapid};
        std::uint8_t* bits = nullptr;
        std::size_t stride = 0, dots = 0;
        const int w = size.width(), h = size.height();
        // The chunks on screen, and how many pieces they hold.
        std::vector<const toolpath::Chunk*> visible;
        std::size_t candidates = 0;
        for (const toolpath::Chunk& c : level.chunks) {
            // The chunk's box on screen: its centre and half-size.
            float m[3], hs[3];
            for (int ax = 0; ax < 3; ++ax) {
                m[ax] = (c.lo[ax] + c.hi[ax]) / 2;
                hs[ax] = (c.hi[ax] - c.lo[ax]) / 2;
            }
            const double cx = ox + ux * m[0] + uy * m[1] + uz * m[2];
            const double cy = oy + vx * m[0] + vy * m[1] + vz * m[2];
            const double rx =
                std::fabs(ux) * hs[0] + std::fabs(uy) * hs[1] + std::fabs(uz) * hs[2];
            const double ry =
                std::fabs(vx) * hs[0] + std::fabs(vy) * hs[1] + std::fabs(vz) * hs[2];
            if (std::fabs(cx - halfW) > halfW + rx + 2 || std::fabs(cy - halfH) > halfH + ry + 2)
                continue;
            visible.push_back(&c);
            candidates += c.end - c.begin;
        }
        // A frame of few pieces draws them all as smooth lines; a dense one sets its short
        // pieces as pixels.
        const float dotReach = candidates < kSmoothLimit ? -1.0f : kDotReach;
        for (const toolpath::Chunk* chunk : visible) {
            const toolpath::Chunk& c = *chunk;
            for (std::uint32_t i = c.begin; i < c.end; ++i) {
                const toolpath::Edge& e = level.edges[i];
                const std::size_t kind = (e.rapid ? 1 : 0) + (e.rowLast <= rowsDone_ ? 2 : 0);
                const float x0 = float(ox) + ux * e.a[0] + uy * e.a[1] + uz * e.a[2];
                const float y0 = float(oy) + vx * e.a[0] + vy * e.a[1] + vz * e.a[2];
                const float x1 = float(ox) + ux * e.b[0] + uy * e.b[1] + uz * e.b[2];
                const float y1 = float(oy) + vx * e.b[0] + vy * e.b[1] + vz * e.b[2];
                const float reach = std::max(std::fabs(x1 - x0), std::fabs(y1 - y0));
                if (reach > dotReach) {
                    lines[kind].emplace_back(x0, y0, x1, y1);
                    continue;
                }
                if (!bits) {
                    // One byte a pixel, an index into the path's colours (0: nothing): a
                    // quarter of the memory to touch of a full-colour picture.
                    if (dots_.size() != size) {
                        dots_ = QImage(size, QImage::Format_Indexed8);
                        dots_.setColorTable(
                            {qRgba(0, 0, 0, 0), kFeed, kRapid, kDoneFeed, kDoneRapid});
                    }
                    dots_.fill(0);
                    bits = dots_.bits();
                    stride = static_cast<std::size_t>(dots_.bytesPerLine());
                }
                ++dots;
                // Both ends and the pixels between them (a piece reaches three at most).
                const auto index = static_cast<std::uint8_t>(kind + 1);
                auto set = [&](float x, float y) {
                    // Shifted before the cast, so that it rounds down left of the frame too.
                    const int px = int(x + 4096.0f) - 4096, py = int(y + 4096.0f) - 4096;
                    if (unsigned(px) >= unsigned(w) || unsigned(py) >= unsigned(h)) return;
                    std::uint8_t& pixel = bits[std::size_t(py) * stride + std::size_t(px)];
                    // What is done stays on top, as it does for the lines.
                    if (index >= 3 || pixel < 3) pixel = index;
                };
                // A piece that goes on from the one before starts on a pixel already set.
                if (i == c.begin || !(level.edges[i - 1].b == e.a)) set(x0, y0);
                set(x1, y1);
                if (reach > 1.0f) {
                    set((2 * x0 + x1) / 3, (2 * y0 + y1) / 3);
                    set((x0 + 2 * x1) / 3, (y0 + 2 * y1) / 3);
                }
            }
        }
        drawn += dots;
        std::size_t lineCount = 0;
        for (const auto& l : lines) lineCount += l.size();
        drawn += lineCount;
        // Smooth only where the frame is not dense: a dense frame's few long lines (rapids
        // across the part) would cost more smoothed than all its pixels.
        painter.setRenderHint(QPainter::Antialiasing, dotReach < 0);
        // Rapids under the cuts, what is done over what is to come.
        for (std::size_t kind : {1, 3, 4, 0, 2}) {
            if (kind == 4) {
                if (bits) painter.drawImage(0, 0, dots_);
                continue;
            }
            if (lines[kind].empty()) continue;
            QPen pen(QColor::fromRgb(colours[kind]));
            pen.setCosmetic(true);
            pen.setWidthF(kind % 2 ? 1.0 : 1.5);
            if (kind % 2) pen.setStyle(Qt::DashLine);
            painter.setPen(pen);
            painter.drawLines(lines[kind].data(), static_cast<int>(lines[kind].size()));
        }
    }
    DrawMarkers(painter, size, r);
    return drawn;
}

void TToolpathView::DrawMarkers(QPainter& painter, QSize size, const Axes& r) const {
    painter.setRenderHint(QPainter::Antialiasing, true);
    auto at = [&](const std::array<double, 3>& p) {
        const double u = r.u[0] * p[0] + r.u[1] * p[1] + r.u[2] * p[2];
        const double v = r.v[0] * p[0] + r.v[1] * p[1] + r.v[2] * p[2];
        return QPointF(size.width() / 2.0 + (u - centre_.x()) * scale_,
                       size.height() / 2.0 - (v - centre_.y()) * scale_);
    };
    // The work zero: three short axes, each in the colour its axis has by custom.
    const QPointF zero = at({0, 0, 0});
    const double len = 28;
    const std::array<QColor, 3> axisColour{QColor(200, 30, 30), QColor(20, 150, 20),
                                           QColor(30, 60, 220)};
    const char* names[3] = {"X", "Y", "Z"};
    for (int ax = 0; ax < 3; ++ax) {
        const QPointF dir(r.u[ax], -r.v[ax]);
        const QPointF tip = zero + dir * len;
        painter.setPen(QPen(axisColour[ax], 2));
        painter.drawLine(zero, tip);
        if (std::hypot(dir.x(), dir.y()) > 0.2)
            painter.drawText(tip + dir * 4 + QPointF(-3, 4), QString::fromLatin1(names[ax]));
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(zero, 3.5, 3.5);
    painter.setBrush(Qt::NoBrush);

    if (tool_) {
        // The tool: a ring with a cross, and its shank pointing up the Z axis.
        const QPointF t = at(*tool_);
        const QPointF up(r.u[2] * 24, -r.v[2] * 24);
        const QColor red = QColor::fromRgb(kTool);
        painter.setPen(QPen(red, 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(t, t + up);
        painter.setPen(QPen(red, 2));
        painter.drawEllipse(t, 7, 7);
        painter.drawLine(t - QPointF(11, 0), t + QPointF(11, 0));
        painter.drawLine(t - QPointF(0, 11), t + QPointF(0, 11));
    }
}

void TToolpathView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Draw(painter, size());
}

void TToolpathView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) ZoomAt(event->position(), std::pow(1.25, steps));
    event->accept();
}

void TToolpathView::mousePressEvent(QMouseEvent* event) {
    lastMouse_ = event->position();
    const bool turn = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton &&
                       (event->modifiers() & Qt::ControlModifier));
    if (turn) drag_ = Drag::Turn;
    else if (event->button() == Qt::LeftButton || event->button() == Qt::MiddleButton)
        drag_ = Drag::Pan;
    event->accept();
}

void TToolpathView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF d = event->position() - lastMouse_;
    lastMouse_ = event->position();
    if (drag_ == Drag::Pan) Pan(d);
    else if (drag_ == Drag::Turn) Turn(d.x() * 0.5, d.y() * 0.5);
    event->accept();
}

void TToolpathView::mouseReleaseEvent(QMouseEvent* event) {
    drag_ = Drag::None;
    event->accept();
}

void TToolpathView::resizeEvent(QResizeEvent*) {
    if (fitted_) Fit();
}
