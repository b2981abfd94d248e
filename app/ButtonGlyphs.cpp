#include "ButtonGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

using design::Glyph;

namespace {

// An arrow pointing up in a w x h box; the others are this one turned.
QPainterPath ArrowUp(qreal w, qreal h) {
    QPainterPath p;
    const qreal shaft = w * 0.34;
    const qreal headH = h * 0.5;
    p.moveTo(w / 2, 0);
    p.lineTo(w, headH);
    p.lineTo((w + shaft) / 2, headH);
    p.lineTo((w + shaft) / 2, h);
    p.lineTo((w - shaft) / 2, h);
    p.lineTo((w - shaft) / 2, headH);
    p.lineTo(0, headH);
    p.closeSubpath();
    return p;
}

void DrawArrow(QPainter& p, QSizeF box, int quarterTurns) {
    // Drawn upright in the box turned back, then turned into place.
    const bool across = quarterTurns % 2 != 0;
    const QSizeF upright = across ? box.transposed() : box;
    p.translate(box.width() / 2, box.height() / 2);
    p.rotate(90.0 * quarterTurns);
    p.translate(-upright.width() / 2, -upright.height() / 2);
    p.fillPath(ArrowUp(upright.width(), upright.height()), Qt::black);
}

void DrawDotWithRays(QPainter& p, QSizeF box) {
    const QPointF c(box.width() / 2, box.height() / 2);
    const qreal r = box.width() / 2;
    p.setBrush(Qt::black);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, r * 0.3, r * 0.3);
    p.setPen(QPen(Qt::black, r * 0.14, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 8; ++i) {
        const qreal a = qDegreesToRadians(45.0 * i);
        const QPointF dir(qCos(a), qSin(a));
        p.drawLine(c + dir * r * 0.5, c + dir * r * 0.9);
    }
}

// Two arcs, each with an arrow head, turning one way round a centre.
void DrawTurn(QPainter& p, QSizeF box, bool clockwise) {
    const QPointF c(box.width() / 2, box.height() / 2);
    const qreal r = std::min(box.width(), box.height()) * 0.36;
    const qreal pen = r * 0.22;
    p.setPen(QPen(Qt::black, pen, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(c.x() - r, c.y() - r, 2 * r, 2 * r);
    for (int half = 0; half < 2; ++half) {
        const qreal start = 20.0 + 180.0 * half;  // degrees, counter-clockwise from 3 o'clock
        const qreal span = 130.0;
        p.drawArc(ring, int(start * 16), int(span * 16));
        // The head sits at the arc's end in the turning direction.
        const qreal endDeg = clockwise ? start : start + span;
        const qreal a = qDegreesToRadians(endDeg);
        const QPointF tip = c + QPointF(qCos(a), -qSin(a)) * r;
        // Tangent in the turning direction (screen y grows downwards).
        QPointF t(-qSin(a), -qCos(a));
        if (clockwise) t = -t;
        const QPointF n(-t.y(), t.x());
        const qreal s = pen * 1.9;
        QPainterPath head;
        head.moveTo(tip + t * s);
        head.lineTo(tip + n * s);
        head.lineTo(tip - n * s);
        head.closeSubpath();
        p.fillPath(head, Qt::black);
    }
}

void DrawSlashedCircle(QPainter& p, QSizeF box) {
    const QPointF c(box.width() / 2, box.height() / 2);
    const qreal r = std::min(box.width(), box.height()) / 2 * 0.86;
    p.setPen(QPen(Qt::black, r * 0.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
    const qreal d = r * 0.7071;
    p.drawLine(c + QPointF(-d, -d), c + QPointF(d, d));
}

void DrawDiskUp(QPainter& p, QSizeF box) {
    const qreal w = box.width(), h = box.height();
    // The disk: body with a clipped corner, a shutter at the top and a label below.
    QPainterPath body;
    body.moveTo(0, 0);
    body.lineTo(w * 0.82, 0);
    body.lineTo(w, h * 0.18);
    body.lineTo(w, h);
    body.lineTo(0, h);
    body.closeSubpath();
    p.fillPath(body, Qt::black);
    p.fillRect(QRectF(w * 0.22, h * 0.08, w * 0.5, h * 0.26), Qt::white);
    p.fillRect(QRectF(w * 0.5, h * 0.12, w * 0.12, h * 0.18), Qt::black);
    p.fillRect(QRectF(w * 0.14, h * 0.5, w * 0.72, h * 0.44), Qt::white);
    // The up arrow on the label.
    p.translate(w * 0.32, h * 0.53);
    p.fillPath(ArrowUp(w * 0.36, h * 0.38), Qt::black);
}

void DrawOpenCircle(QPainter& p, QSizeF box) {
    // An open ring whose gap ends in an arrow head: "go".
    const QPointF c(box.width() / 2, box.height() / 2);
    const qreal r = std::min(box.width(), box.height()) / 2 * 0.7;
    const qreal pen = r * 0.24;
    p.setPen(QPen(Qt::black, pen, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 120 * 16, 300 * 16);
    const qreal a = qDegreesToRadians(60.0);
    const QPointF tip = c + QPointF(qCos(a), -qSin(a)) * r;
    const QPointF t(-qSin(a), -qCos(a));  // clockwise tangent
    const QPointF n(-t.y(), t.x());
    QPainterPath head;
    head.moveTo(tip + t * pen * 2.2);
    head.lineTo(tip + n * pen * 1.8);
    head.lineTo(tip - n * pen * 1.8);
    head.closeSubpath();
    p.fillPath(head, Qt::black);
}

}  // namespace

QSize GlyphDesignSize(Glyph glyph) {
    switch (glyph) {
    case Glyph::None: return {};
    case Glyph::ArrowUp:
    case Glyph::ArrowDown: return {18, 20};
    case Glyph::ArrowLeft:
    case Glyph::ArrowRight: return {20, 18};
    case Glyph::DotWithRays: return {24, 24};
    case Glyph::TurnClockwise: return {25, 26};
    case Glyph::TurnAnticlockwise: return {26, 26};
    case Glyph::Square: return {14, 14};
    case Glyph::SlashedCircle: return {26, 26};
    case Glyph::DiskUp: return {22, 22};
    case Glyph::OpenCircle: return {23, 26};
    case Glyph::TwoBars:
    case Glyph::TriangleRight: return {14, 16};
    }
    return {};
}

QPixmap DrawGlyph(Glyph glyph, double scale, qreal devicePixelRatio) {
    const QSize design = GlyphDesignSize(glyph);
    if (design.isEmpty()) return {};
    const QSizeF box(design.width() * scale, design.height() * scale);
    QPixmap pixmap((box * devicePixelRatio).toSize());
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (glyph) {
    case Glyph::None: break;
    case Glyph::ArrowUp: DrawArrow(p, box, 0); break;
    case Glyph::ArrowRight: DrawArrow(p, box, 1); break;
    case Glyph::ArrowDown: DrawArrow(p, box, 2); break;
    case Glyph::ArrowLeft: DrawArrow(p, box, 3); break;
    case Glyph::DotWithRays: DrawDotWithRays(p, box); break;
    case Glyph::TurnClockwise: DrawTurn(p, box, true); break;
    case Glyph::TurnAnticlockwise: DrawTurn(p, box, false); break;
    case Glyph::Square:
        p.fillRect(QRectF(QPointF(0, 0), box), Qt::black);
        break;
    case Glyph::SlashedCircle: DrawSlashedCircle(p, box); break;
    case Glyph::DiskUp: DrawDiskUp(p, box); break;
    case Glyph::OpenCircle: DrawOpenCircle(p, box); break;
    case Glyph::TwoBars: {
        const qreal bar = box.width() * 0.36;
        p.fillRect(QRectF(0, 0, bar, box.height()), Qt::black);
        p.fillRect(QRectF(box.width() - bar, 0, bar, box.height()), Qt::black);
        break;
    }
    case Glyph::TriangleRight: {
        QPainterPath t;
        t.moveTo(0, 0);
        t.lineTo(box.width(), box.height() / 2);
        t.lineTo(0, box.height());
        t.closeSubpath();
        p.fillPath(t, Qt::black);
        break;
    }
    }
    return pixmap;
}
