#include "Bitmap.h"

#include <QFile>
#include <QPainter>

TBitmap TBitmap::FromResourceName(const std::string& name) {
    // The pictures are XPM texts in the library's resources, one file per name.
    const QString path = QStringLiteral(":/lamps/") + QString::fromStdString(name) +
                         QStringLiteral(".xpm");
    QImage image;
    if (name.empty() || !QFile::exists(path) || !image.load(path, "XPM"))
        throw EResNotFound("Resource " + name + " not found");
    return TBitmap(std::move(image));
}

QRgb TBitmap::TransparentColor() const {
    if (image_.isNull()) return 0;
    return image_.pixel(0, image_.height() - 1);
}

QImage TBitmap::Masked() const {
    if (image_.isNull()) return {};
    QImage out = image_.convertToFormat(QImage::Format_ARGB32);
    if (!transparent_) return out;
    const QRgb key = out.pixel(0, out.height() - 1);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            if (line[x] == key) line[x] = 0;
    }
    return out;
}

void TBitmap::Draw(QPainter& painter, int x, int y) const {
    if (image_.isNull()) return;
    painter.drawImage(x, y, Masked());
}
