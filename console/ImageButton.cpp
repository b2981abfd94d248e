#include "ImageButton.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

TImageButton::TImageButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

QSize TImageButton::sizeHint() const { return {75, 25}; }

void TImageButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton face;
    face.initFrom(this);
    if (isDown()) face.state |= QStyle::State_Sunken;
    else face.state |= QStyle::State_Raised;
    painter.drawPrimitive(QStyle::PE_PanelButtonCommand, face);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }

    // Picture and caption form one block, centred on the face.
    const QSizeF glyph = glyph_.isNull() ? QSizeF() : glyph_.deviceIndependentSize();
    const QString caption = text();
    const QSize textSize = caption.isEmpty() ? QSize() : fontMetrics().size(0, caption);
    const int gap = (glyph.isEmpty() || caption.isEmpty()) ? 0 : spacing_;
    const bool across = position_ == gpLeft || position_ == gpRight;
    const qreal blockW = across ? glyph.width() + gap + textSize.width()
                                : std::max<qreal>(glyph.width(), textSize.width());
    const qreal blockH = across ? std::max<qreal>(glyph.height(), textSize.height())
                                : glyph.height() + gap + textSize.height();
    QPointF origin((width() - blockW) / 2, (height() - blockH) / 2);
    if (isDown()) origin += QPointF(1, 1);

    QPointF glyphAt, textAt;
    switch (position_) {
    case gpLeft:
        glyphAt = {origin.x(), origin.y() + (blockH - glyph.height()) / 2};
        textAt = {origin.x() + glyph.width() + gap, origin.y() + (blockH - textSize.height()) / 2};
        break;
    case gpRight:
        textAt = {origin.x(), origin.y() + (blockH - textSize.height()) / 2};
        glyphAt = {origin.x() + textSize.width() + gap, origin.y() + (blockH - glyph.height()) / 2};
        break;
    case gpAbove:
        glyphAt = {origin.x() + (blockW - glyph.width()) / 2, origin.y()};
        textAt = {origin.x() + (blockW - textSize.width()) / 2, origin.y() + glyph.height() + gap};
        break;
    case gpBelow:
        textAt = {origin.x() + (blockW - textSize.width()) / 2, origin.y()};
        glyphAt = {origin.x() + (blockW - glyph.width()) / 2, origin.y() + textSize.height() + gap};
        break;
    }

    if (!glyph_.isNull()) {
        // A disabled button shows its picture faded, as its caption is.
        painter.setOpacity(isEnabled() ? 1.0 : 0.35);
        painter.drawPixmap(glyphAt, glyph_);
        painter.setOpacity(1.0);
    }
    if (!caption.isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        painter.drawText(QRectF(textAt, QSizeF(textSize)), Qt::AlignCenter, caption);
    }
}
