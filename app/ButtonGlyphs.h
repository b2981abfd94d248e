#pragma once
// The button pictures: small black drawings on a transparent ground, drawn anew at the
// window's scale.

#include <QPixmap>
#include <QSize>

#include "design/Design.h"

// The design size of a picture (120 px/inch), empty for Glyph::None.
QSize GlyphDesignSize(design::Glyph glyph);

// The picture at `scale` (screen density / 120), sharp on a screen of `devicePixelRatio`.
QPixmap DrawGlyph(design::Glyph glyph, double scale, qreal devicePixelRatio = 1.0);
