#pragma once
// A push button with a small picture beside, above or below its caption.

#include <QAbstractButton>
#include <QPixmap>

class TImageButton : public QAbstractButton {
public:
    enum TGlyphPosition { gpLeft, gpRight, gpAbove, gpBelow };

    explicit TImageButton(QWidget* parent = nullptr);

    void SetGlyph(const QPixmap& glyph) { glyph_ = glyph; update(); }
    const QPixmap& Glyph() const { return glyph_; }
    void SetGlyphPosition(TGlyphPosition position) { position_ = position; update(); }
    TGlyphPosition GlyphPosition() const { return position_; }
    // Pixels between picture and caption.
    void SetSpacing(int pixels) { spacing_ = pixels; update(); }
    int Spacing() const { return spacing_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap glyph_;
    TGlyphPosition position_ = gpLeft;
    int spacing_ = 0;
};
