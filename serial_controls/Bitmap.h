#pragma once
// A small picture as the controls use it: an image that can be drawn with one colour left
// out, and the loader of the pictures built into the program by name.

#include <QImage>
#include <string>

#include "Errors.h"

class QPainter;

// A picture of the program's resources that is not there.
class EResNotFound : public Exception {
public:
    using Exception::Exception;
};

class TBitmap {
public:
    TBitmap() = default;
    explicit TBitmap(QImage image) : image_(std::move(image)) {}

    // The picture built into the program under `name` (such as "LEDREDON"). Throws
    // EResNotFound when there is none.
    static TBitmap FromResourceName(const std::string& name);

    bool Empty() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }
    void SetImage(QImage image) { image_ = std::move(image); }

    // When on, pixels of the transparent colour are left out when drawing. The transparent
    // colour is the bottom-left pixel's.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on) { transparent_ = on; }
    QRgb TransparentColor() const;

    // Copies the picture (not the transparency setting).
    void AssignPicture(const TBitmap& source) { image_ = source.image_; }

    // The picture as drawn: transparent pixels have alpha 0.
    QImage Masked() const;
    void Draw(QPainter& painter, int x, int y) const;

private:
    QImage image_;
    bool transparent_ = false;
};
